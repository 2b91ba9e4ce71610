#!/usr/bin/env bash
# Streaming engines end to end, on loopback, against one nginx-rtmp:
#   1. pacing: lateness of every tag against its due time over one restream
#      of a live HLS (measured inside the process by pacing_lateness);
#   2. resources: CPU seconds and peak RSS of `veltrona-cli run` restreaming
#      the live HLS, beside `ffmpeg -re -i URL -c copy -f flv` doing the same,
#      both at once, under /usr/bin/time -v; beside them a second ffmpeg that
#      also records the source to a TS file (a second output), the same work as ours;
#   3. scale: N restreams (with their TS recordings) in one process, N stepped
#      up, each step reporting lateness per workflow and memory per workflow.
#   4. overlay (only when asked for): `veltrona-cli run` of an Overlay + Stream
#      (picture and ticker, software encoder) beside ffmpeg doing the same work
#      (overlay + drawtext + libx264 at our encoder's preset) on the same source
#      to the same server, at the same time, under /usr/bin/time -v; then the
#      overlay engine's pacing lateness on its own (pacing_lateness with IMAGE).
#   5. fan-out (only when asked for): FANOUT_WORKFLOWS (default 50) restreams
#      of FANOUT (default 4) outputs each in one process (pacing_lateness, no
#      recording), beside as many ffmpeg processes each reading the source
#      once and writing FANOUT outputs, all at once on the same source and
#      server, under /usr/bin/time -v: CPU seconds and peak RSS (ffmpeg's
#      summed over its processes), their ratios, and our lateness per tag.
# The live source is ffmpeg copying a 720p30 H.264/AAC file (made once, kept
# in the build folder) into 2 s HLS segments at its own pace (-re), so it
# costs next to nothing beside what is measured. Every peer is started here
# in a temp folder and stopped by PID at the end.
# With BASELINE_CLI set to another veltrona-cli (an older build), phase 2
# runs it too, beside the others, so a change is measured against its
# baseline in the same run.
#   bench/streaming_engines.sh [build folder, default build/default] [seconds, default 120]
#                              [scale step seconds, default 60] [workflow counts, default "10 25 50"]
#                              [phases to run, default "1 2 3"; 4 for the overlay engine, 5 for fan-out]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
seconds=${2:-120}
scale_seconds=${3:-60}
counts=${4:-"10 25 50"}
phases=${5:-"1 2 3"}
wants() { [[ " $phases " == *" $1 "* ]]; }
[ -x "$build/pacing_lateness" ] || cmake --build --preset default --target pacing_lateness
[ -x "$build/veltrona-cli" ] || cmake --build --preset default --target veltrona-cli

longest=$(( seconds > scale_seconds ? seconds : scale_seconds ))
fixture="$build/bench-720p-$((longest + 40))s.ts"
if [ ! -f "$fixture" ]; then
    echo "making $fixture with ffmpeg"
    ffmpeg -v error -nostdin -y -f lavfi -i testsrc2=size=1280x720:rate=30 \
        -f lavfi -i sine=frequency=440:sample_rate=48000 -t $((longest + 40)) \
        -c:v libx264 -preset veryfast -g 60 -b:v 2500k -maxrate 2500k -bufsize 5000k \
        -c:a aac -b:a 128k -f mpegts "$fixture"
fi

source bench/common.sh
rtmp_port=$(free_port)
http_port=$(free_port)
start_nginx "" "$(http_block "$http_port")"

source_pid=""
# A live HLS stream at http://127.0.0.1:$http_port/$1/live.m3u8, two segments listed before it returns.
start_source() {
    mkdir -p "$work/www/$1"
    ffmpeg -nostdin -loglevel error -re -i "$fixture" -c copy -f hls -hls_time 2 -hls_list_size 6 \
        -hls_flags delete_segments "$work/www/$1/live.m3u8" &
    source_pid=$!
    pids+=("$source_pid")
    for _ in $(seq 200); do
        [ "$(grep -c '\.ts$' "$work/www/$1/live.m3u8" 2>/dev/null || echo 0)" -ge 2 ] && return
        sleep 0.1
    done
    echo "the live source did not start" >&2
    exit 1
}
stop_source() { kill "$source_pid" 2>/dev/null || true; wait "$source_pid" 2>/dev/null || true; }
source_url() { echo "http://127.0.0.1:$http_port/$1/live.m3u8"; }
rtmp_url() { echo "rtmp://127.0.0.1:$rtmp_port/live/$1"; }

echo "== $(date -u '+%Y-%m-%d %H:%M UTC'), load: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores"

if wants 1; then
echo "== 1. pacing: one restream for $seconds s, recording on"
start_source pacing
mkdir -p "$work/rec"
"$build/pacing_lateness" "$(source_url pacing)" "$(rtmp_url pacing)" "$seconds" 1 "$work/rec"
stop_source
rm -rf "$work/rec"
fi

if wants 2; then
echo "== 2. resources: veltrona-cli and ffmpeg restreaming the same live HLS for $seconds s, at the same time"
start_source resources
data="$work/data"
id=$("$build/veltrona-cli" --data-dir "$data" add --type direct --source-type direct --name Bench \
    --source "$(source_url resources)" --output "$(rtmp_url ours)")
/usr/bin/time -v -o "$work/ours.time" "$build/veltrona-cli" --data-dir "$data" run --seconds "$seconds" "$id" \
    > "$work/ours.out" &
ours=$!
/usr/bin/time -v -o "$work/ffmpeg.time" ffmpeg -nostdin -loglevel error -re -i "$(source_url resources)" \
    -t "$seconds" -c copy -f flv "$(rtmp_url peer)" &
peer=$!
/usr/bin/time -v -o "$work/ffmpeg-rec.time" ffmpeg -nostdin -loglevel error -re -i "$(source_url resources)" \
    -t "$seconds" -c copy -f flv "$(rtmp_url peer_rec)" -t "$seconds" -c copy -f mpegts "$work/peer-recording.ts" &
peer_rec=$!
baseline=()
if [ -n "${BASELINE_CLI:-}" ]; then
    base_data="$work/data-baseline"
    base_id=$("$BASELINE_CLI" --data-dir "$base_data" add --type direct --source-type direct --name Baseline \
        --source "$(source_url resources)" --output "$(rtmp_url baseline)")
    /usr/bin/time -v -o "$work/baseline.time" "$BASELINE_CLI" --data-dir "$base_data" run --seconds "$seconds" \
        "$base_id" > "$work/baseline.out" &
    baseline=(baseline)
    wait $!
fi
wait "$ours" "$peer" "$peer_rec"
stop_source
print_resources ours "${baseline[@]}" ffmpeg ffmpeg-rec
grep -c STREAMING "$work/ours.out" > /dev/null || { echo "veltrona-cli did not stream:"; cat "$work/ours.out"; }
ls -l "$data/recordings" "$work/peer-recording.ts"
fi

if wants 3; then
echo "== 3. scale: N restreams with recordings in one process, $scale_seconds s each"
for n in $counts; do
    start_source "scale$n"
    mkdir -p "$work/rec-$n"
    "$build/pacing_lateness" "$(source_url "scale$n")" "$(rtmp_url "scale${n}_")" "$scale_seconds" "$n" \
        "$work/rec-$n" || true
    stop_source
    rm -rf "$work/rec-$n"
done
fi
if wants 4; then
echo "== 4. overlay: veltrona-cli Overlay + Stream and ffmpeg overlay+drawtext+libx264 on the same live HLS for $seconds s, at the same time"
start_source overlay
logo="$work/logo.png"
ffmpeg -nostdin -loglevel error -y -f lavfi -i color=c=0xFF00FF:s=256x144 -frames:v 1 "$logo"
ticker="Veltrona overlay benchmark - a ticker line scrolling across the picture"
data="$work/data-overlay"
id=$("$build/veltrona-cli" --data-dir "$data" add --type overlay --source-type direct --name Overlay \
    --source "$(source_url overlay)" --output "$(rtmp_url ours_overlay)" --image "$logo" --image-scale 20 \
    --text "$ticker" --font-size 36 --scroll-speed 50 --bitrate 6M --encoder "Software H.264")
/usr/bin/time -v -o "$work/ours.time" "$build/veltrona-cli" --data-dir "$data" run --seconds "$seconds" \
    "$id" > "$work/ours-overlay.out" 2>&1 &
ours=$!
# Our software encoder: libx264, preset veryfast, tune zerolatency, no B-frames, a key frame every 2 s.
/usr/bin/time -v -o "$work/ffmpeg-overlay.time" ffmpeg -nostdin -loglevel error -re -i "$(source_url overlay)" \
    -i "$logo" -t "$seconds" -filter_complex \
    "[1:v]scale=256:-1[logo];[0:v][logo]overlay=0:0,drawtext=text='$ticker':fontsize=36:fontcolor=white:box=1:boxcolor=black:boxborderw=18:x=w-mod(t*50\\,w+tw):y=h-th-18" \
    -c:v libx264 -preset veryfast -tune zerolatency -bf 0 -g 60 -b:v 6M -c:a copy -f flv "$(rtmp_url peer_overlay)" &
peer=$!
wait "$ours" "$peer"
stop_source
print_resources ours ffmpeg-overlay
grep -E "encoder|last error" "$work/ours-overlay.out" || true
echo "== 4b. overlay pacing: one Overlay + Stream for $seconds s, recording on"
start_source overlay_pacing
mkdir -p "$work/rec-overlay"
"$build/pacing_lateness" "$(source_url overlay_pacing)" "$(rtmp_url overlay_pacing)" "$seconds" 1 \
    "$work/rec-overlay" "$logo"
stop_source
fi
if wants 5; then
fan_n=${FANOUT_WORKFLOWS:-50}
fan_k=${FANOUT:-4}
echo "== 5. fan-out: $fan_n restreams x $fan_k outputs in one process beside $fan_n ffmpeg x $fan_k outputs, $seconds s, at the same time"
start_source fanout
FANOUT=$fan_k /usr/bin/time -v -o "$work/ours.time" "$build/pacing_lateness" "$(source_url fanout)" \
    "$(rtmp_url fan_)" "$seconds" "$fan_n" > "$work/fanout.out" &
ours=$!
pids+=("$ours")
peers=()
for i in $(seq "$fan_n"); do
    outputs=()
    for k in $(seq "$fan_k"); do outputs+=(-map 0 -c copy -f flv "$(rtmp_url "peer${i}_$k")"); done
    /usr/bin/time -v -o "$work/ffmpeg-fan-$i.time" ffmpeg -nostdin -loglevel error -re -t "$seconds" \
        -i "$(source_url fanout)" "${outputs[@]}" &
    peers+=("$!")
    pids+=("$!")
done
wait "$ours" || echo "pacing_lateness: some workflow ended early (see above)"
for peer in "${peers[@]}"; do wait "$peer" || echo "an ffmpeg ended with an error"; done
stop_source
cat "$work/fanout.out"
# CPU seconds (user + system) and peak RSS in MiB, summed over the files given.
totals() { awk -F': ' '/User time|System time/ {cpu += $2} /Maximum resident/ {rss += $2}
                       END {printf "%.2f %.1f", cpu, rss / 1024}' "$@"; }
read -r ours_cpu ours_rss <<<"$(totals "$work/ours.time")"
read -r peer_cpu peer_rss <<<"$(totals "$work"/ffmpeg-fan-*.time)"
printf '%-28s %10s %14s\n' program cpu_s peak_rss_MiB
printf '%-28s %10s %14s\n' "veltrona (1 process)" "$ours_cpu" "$ours_rss" "ffmpeg ($fan_n processes)" "$peer_cpu" "$peer_rss"
awk -v a="$ours_cpu" -v b="$peer_cpu" -v c="$ours_rss" -v d="$peer_rss" \
    'BEGIN {printf "ours / ffmpeg: CPU %.3fx, peak RSS %.3fx\n", a / b, c / d}'
fi
echo "== done, load: $(cut -d' ' -f1-3 /proc/loadavg)"
