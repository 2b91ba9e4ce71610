#!/usr/bin/env bash
# MP4 loop end to end, on loopback, against one nginx-rtmp that records every
# publish: `veltrona-cli run` looping a 720p30 H.264/AAC MP4 in packet-copy
# mode beside `ffmpeg -re -stream_loop -1 -i clip.mp4 -c copy -f flv`, both at
# once, under /usr/bin/time -v (CPU seconds, peak RSS). Then the loop seam,
# read from nginx's two recordings with ffprobe: at every pass boundary the
# timestamp step per stream, and how far audio and video have drifted apart
# (each stream's pass start against the first pass's distance).
#   bench/mp4_loop.sh [build folder, default build/default] [seconds, default 120] [clip seconds, default 10]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
seconds=${2:-120}
clip_seconds=${3:-10}
[ -x "$build/veltrona-cli" ] || cmake --build --preset default --target veltrona-cli

clip="$build/bench-720p-${clip_seconds}s.mp4"
if [ ! -f "$clip" ]; then
    echo "making $clip with ffmpeg"
    ffmpeg -v error -nostdin -y -f lavfi -i testsrc2=size=1280x720:rate=30 \
        -f lavfi -i sine=frequency=440:sample_rate=48000 -t "$clip_seconds" \
        -c:v libx264 -preset veryfast -g 60 -b:v 2500k -maxrate 2500k -bufsize 5000k \
        -c:a aac -b:a 128k -movflags +faststart "$clip"
fi

source bench/common.sh
rtmp_port=$(free_port)
mkdir -p "$work/records"
start_nginx "record all; record_path $work/records;"
rtmp_url() { echo "rtmp://127.0.0.1:$rtmp_port/live/$1"; }

echo "== $(date -u '+%Y-%m-%d %H:%M UTC'), load: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores"
echo "== resources: veltrona-cli and ffmpeg looping $clip for $seconds s, at the same time"
data="$work/data"
id=$("$build/veltrona-cli" --data-dir "$data" add --type mp4 --name Bench --source "$clip" --output "$(rtmp_url ours)")
/usr/bin/time -v -o "$work/ours.time" "$build/veltrona-cli" --data-dir "$data" run --seconds "$seconds" "$id" \
    > "$work/ours.out" &
ours=$!
/usr/bin/time -v -o "$work/ffmpeg.time" ffmpeg -nostdin -loglevel error -re -stream_loop -1 -i "$clip" \
    -t "$seconds" -c copy -f flv "$(rtmp_url peer)" &
peer=$!
wait "$ours" "$peer"
kill "$nginx_pid"; wait "$nginx_pid" 2>/dev/null || true
print_resources ours ffmpeg
grep -q STREAMING "$work/ours.out" || { echo "veltrona-cli did not stream:"; cat "$work/ours.out"; }

echo "== loop seam, from nginx's recordings (ms)"
dts() { ffprobe -v error -select_streams "$2" -show_entries packet=dts_time -of csv=p=0 "$1" | grep -v N/A; }
dts "$clip" v > "$work/clip.v"; dts "$clip" a > "$work/clip.a"
for name in ours peer; do
    flv=$(ls "$work/records/$name"*.flv | head -1)
    dts "$flv" v > "$work/$name.v"; dts "$flv" a > "$work/$name.a"
    python3 - "$name" "$work/clip.v" "$work/clip.a" "$work/$name.v" "$work/$name.a" <<'PY'
import sys
name, clip_v, clip_a, got_v, got_a = sys.argv[1:]
read = lambda p: [float(x.strip().rstrip(',')) for x in open(p) if x.strip().rstrip(',')]
per_v, per_a = len(read(clip_v)), len(read(clip_a))
v, a = read(got_v), read(got_a)
passes = min(len(v) // per_v, len(a) // per_a)
frame_v = (v[per_v - 1] - v[0]) / (per_v - 1)
frame_a = (a[per_a - 1] - a[0]) / (per_a - 1)
first = v[0] - a[0]
steps_v = [v[k * per_v] - v[k * per_v - 1] for k in range(1, passes + 1) if k * per_v < len(v)]
steps_a = [a[k * per_a] - a[k * per_a - 1] for k in range(1, passes + 1) if k * per_a < len(a)]
drift = [(v[k * per_v] - a[k * per_a]) - first for k in range(1, passes + 1) if k * per_v < len(v) and k * per_a < len(a)]
back = sum(1 for s in (v, a) for i in range(1, len(s)) if s[i] < s[i - 1])
print(f"{name:8} passes {len(steps_v) + 1:3}  frame v {frame_v*1000:.1f} a {frame_a*1000:.1f}  "
      f"largest seam step v {max(steps_v)*1000:.0f} a {max(steps_a)*1000:.0f}  "
      f"a/v drift at last seam {drift[-1]*1000:+.0f} (max |{max(abs(d) for d in drift)*1000:.0f}|)  "
      f"dts going back {back}  duration {max(v[-1], a[-1]):.1f} s")
PY
done
echo "== done, load: $(cut -d' ' -f1-3 /proc/loadavg)"
