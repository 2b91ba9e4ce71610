#!/usr/bin/env bash
# Soak: one Direct Restream left running against a live source that
# misbehaves, while its process is sampled every 10 s (RSS, open files,
# threads) and every source segment is counted against the recording.
#   - the source (ffmpeg, live H.264/AAC test picture into 2 s HLS segments)
#     is restarted every `restart` seconds, its clock alternately jumping
#     forward an hour and back to zero, the playlist going on with a
#     discontinuity mark (append_list); every third restart resets the
#     numbering (a fresh playlist from 0) instead;
#   - once, the source stalls for 20 s (SIGSTOP, SIGCONT);
#   - nginx-rtmp is restarted twice (at one third and two thirds).
# At the end: RSS (and its anonymous part, without the libraries' pages)
# first/last/growth after the first two minutes, fds and threads first/last,
# and every source segment looked up in the recording (kept by a hard link
# when it is listed): recorded once, missing, or recorded more than once.
#   bench/soak_live.sh [build folder, default build/default] [minutes, default 30] [restart seconds, default 120]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
minutes=${2:-30}
restart=${3:-120}
seconds=$((minutes * 60))
[ -x "$build/veltrona-cli" ] || cmake --build --preset default --target veltrona-cli
source bench/common.sh
rtmp_port=$(free_port)
http_port=$(free_port)
write_rtmp_http_conf "$rtmp_port" "$http_port"
mkdir -p "$work/www/live" "$work/rec"
nginx_pid=""
stop_nginx() { kill "$nginx_pid" 2>/dev/null || true; wait "$nginx_pid" 2>/dev/null || true; }

source_pid=""
restarts=0
# Starts the source; $1 = clock start in seconds, $2 = "append" to go on with the playlist.
# Each start has a tone of its own, so no two starts make identical segments.
start_source() {
    local flags="delete_segments+omit_endlist"
    [ "$2" = append ] && flags="$flags+append_list+discont_start"
    [ "$2" = append ] || rm -f "$work/www/live/"*
    ffmpeg -nostdin -loglevel error -re -f lavfi -i testsrc2=size=640x360:rate=25 \
        -re -f lavfi -i "sine=frequency=$((440 + 10 * restarts)):sample_rate=48000" \
        -c:v libx264 -preset ultrafast -g 50 -bf 0 -pix_fmt yuv420p -c:a aac -b:a 64k \
        -output_ts_offset "$1" -f hls -hls_time 2 -hls_list_size 6 -hls_flags "$flags" \
        -hls_segment_filename "$work/www/live/r${restarts}_%05d.ts" "$work/www/live/live.m3u8" &
    source_pid=$!
    pids+=("$source_pid")
}
stop_source() { kill "$source_pid" 2>/dev/null || true; wait "$source_pid" 2>/dev/null || true; }
made_bytes() { cat "$work/made" 2>/dev/null || echo 0; }
# Sizes of segments as they appear, before delete_segments takes them away;
# each is kept (hard link, numbered in order) for the check at the end.
mkdir -p "$work/made_segments"
count_segments() {
    declare -A seen=()
    local total=0 n=0
    while sleep 1; do
        for f in "$work/www/live/"*.ts; do
            [ -f "$f" ] || continue
            [ -n "${seen[$f]:-}" ] && continue
            # A segment is listed only once it is whole.
            grep -q "$(basename "$f")" "$work/www/live/live.m3u8" 2>/dev/null || continue
            seen[$f]=1
            n=$((n + 1))
            ln "$f" "$work/made_segments/$(printf %06d "$n")_$(basename "$f")" 2>/dev/null || true
            total=$((total + $(stat -c %s "$f" 2>/dev/null || echo 0)))
            echo "$total" > "$work/made"
        done
    done
}

launch_nginx
start_source 0 fresh
for _ in $(seq 100); do grep -q '\.ts$' "$work/www/live/live.m3u8" 2>/dev/null && break; sleep 0.2; done
count_segments &
pids+=($!)
data="$work/data"
id=$("$build/veltrona-cli" --data-dir "$data" add --type direct --source-type direct --name Soak \
    --source "http://127.0.0.1:$http_port/live/live.m3u8" --output "rtmp://127.0.0.1:$rtmp_port/live/soak" \
    --recording-dir "$work/rec")
"$build/veltrona-cli" --data-dir "$data" run --seconds "$seconds" "$id" > "$work/ours.out" 2>&1 &
ours=$!
pids+=("$ours")

echo "== $(date -u '+%Y-%m-%d %H:%M UTC'), $minutes min, source restart every $restart s," \
    "load: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores"
printf '%6s %9s %9s %5s %8s %s\n' t_s rss_KiB anon_KiB fds threads event
started=$(date +%s)
stalled=0
nginx_restarts=0
last_restart=$started
first_rss=""
first_anon=""
while kill -0 "$ours" 2>/dev/null; do
    sleep 10
    now=$(date +%s)
    t=$((now - started))
    event=""
    if [ $((now - last_restart)) -ge "$restart" ]; then
        restarts=$((restarts + 1))
        last_restart=$now
        stop_source
        if [ $((restarts % 3)) -eq 0 ]; then
            start_source 0 fresh
            event="source restarted, numbering reset"
        elif [ $((restarts % 2)) -eq 1 ]; then
            start_source 3600 append
            event="source restarted, clock +1 h"
        else
            start_source 0 append
            event="source restarted, clock back to 0"
        fi
    elif [ "$stalled" = 0 ] && [ "$t" -ge $((seconds / 2)) ]; then
        stalled=1
        kill -STOP "$source_pid"
        sleep 20
        kill -CONT "$source_pid"
        event="source stalled 20 s"
    elif [ "$nginx_restarts" -lt 2 ] && [ "$t" -ge $(((nginx_restarts + 1) * seconds / 3)) ]; then
        nginx_restarts=$((nginx_restarts + 1))
        stop_nginx
        launch_nginx
        event="nginx-rtmp restarted"
    fi
    [ -d "/proc/$ours" ] || break
    rss=$(awk '/^VmRSS/ {print $2}' "/proc/$ours/status" 2>/dev/null || echo 0)
    anon=$(awk '/^RssAnon/ {print $2}' "/proc/$ours/status" 2>/dev/null || echo 0)
    fds=$(ls "/proc/$ours/fd" 2>/dev/null | wc -l)
    threads=$(ls "/proc/$ours/task" 2>/dev/null | wc -l)
    [ -z "$first_rss" ] && [ "$t" -ge 120 ] && first_rss=$rss && first_anon=$anon
    printf '%6d %9s %9s %5s %8s %s\n' "$t" "$rss" "$anon" "$fds" "$threads" "$event"
    last_rss=$rss
    last_anon=$anon
done
wait "$ours" || true
recorded=$(cat "$work/rec/"*.ts 2>/dev/null | wc -c)
growth() { echo "scale=1; 100 * (${2:-0} - ${1:-1}) / ${1:-1}" | bc; }
echo "== RSS after 2 min ${first_rss:-n/a} KiB, last ${last_rss:-n/a} KiB ($(growth "$first_rss" "$last_rss") %);" \
    "anonymous ${first_anon:-n/a} KiB, last ${last_anon:-n/a} KiB ($(growth "$first_anon" "$last_anon") %)"
echo "== source bytes made $(made_bytes), recorded $recorded (the first segments before the join are not expected)"
# The recording is whole segments end to end: walk it, matching each place
# to the next made segment with those bytes (identical segments can recur
# when the source restarts its clock at 0).
python3 - "$work/made_segments" "$work/rec" <<'PY'
import glob, hashlib, mmap, os, sys
made = sorted(glob.glob(sys.argv[1] + "/*"))
sizes, digests, by_head = [], [], {}
for i, path in enumerate(made):
    data = open(path, "rb").read()
    sizes.append(len(data))
    digests.append(hashlib.md5(data).digest())
    by_head.setdefault(hashlib.md5(data[:4096]).digest(), []).append(i)
counts = [0] * len(made)
unknown = 0
last = -1
for path in sorted(glob.glob(sys.argv[2] + "/*.ts")):
    with open(path, "rb") as f, mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ) as rec:
        at = 0
        while at < len(rec):
            found = None
            candidates = by_head.get(hashlib.md5(rec[at:at + 4096]).digest(), [])
            for i in sorted(candidates, key=lambda i: (i <= last, i)):
                if hashlib.md5(rec[at:at + sizes[i]]).digest() == digests[i]:
                    found = i
                    break
            if found is None:
                unknown += 188
                at += 188
                continue
            counts[found] += 1
            last = found
            at += sizes[found]
missing = [os.path.basename(made[i]) for i, n in enumerate(counts) if n == 0]
twice = [os.path.basename(made[i]) for i, n in enumerate(counts) if n > 1]
print(f"== segments made {len(made)}: recorded once {counts.count(1)}, missing {len(missing)}, "
      f"recorded more than once {len(twice)}, bytes matching no segment {unknown}")
if missing: print("   missing (expected: those listed before the first join, those left when the run stops):",
                 " ".join(missing[:40]))
if twice: print("   more than once:", " ".join(twice[:40]))
PY
grep -E "RECONNECTING|ERROR|STREAMING" "$work/ours.out" | sort | uniq -c | head -20 || true
echo "== done, load: $(cut -d' ' -f1-3 /proc/loadavg)"
