#!/usr/bin/env bash
# The video pipeline beside ffmpeg doing the same work in the same run: a
# 1280x720 30 fps 60 s H.264 clip decoded, a 256-pixel-wide PNG picture and a
# scrolling text band drawn on every frame, and libx264 at the same preset,
# tune, bitrate, VBV, GOP and no B-frames. Each runs alone under
# /usr/bin/time -v, ours first; frames per second of CPU time (user + system)
# and peak RSS are compared. Then SSIM of each output against the source,
# outside the overlaid areas (rows 128..671: below the picture, above the
# band). ffmpeg writes its stream to a file (not -f null) only for that.
#   bench/video_pipeline.sh [build folder, default build/default] [seconds, default 60]
#                           [lavfi picture source, default testsrc2]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
seconds=${2:-60}
pattern=${3:-testsrc2}
[ -x "$build/video_pipeline" ] || cmake --build --preset default --target video_pipeline

fixture="$build/bench-720p30-${seconds}s-6M-$pattern.ts"
if [ ! -f "$fixture" ]; then
    echo "making $fixture with ffmpeg"
    ffmpeg -v error -nostdin -y -f lavfi -i "$pattern=size=1280x720:rate=30" \
        -f lavfi -i sine=frequency=440:sample_rate=48000 -t "$seconds" \
        -c:v libx264 -pix_fmt yuv420p -preset veryfast -g 60 -bf 2 -b:v 6M -maxrate 6M -bufsize 6M \
        -c:a aac -b:a 128k -f mpegts "$fixture"
fi

source bench/common.sh
ffmpeg -v error -nostdin -y -f lavfi -i "color=c=red:s=400x200" -frames:v 1 "$work/logo.png"

# CPU seconds, frames per CPU second and peak RSS from one /usr/bin/time -v report.
report() {
    local name=$1 log=$2 frames=$3
    awk -v name="$name" -v frames="$frames" '
        /User time/ {u=$NF} /System time/ {s=$NF} /Maximum resident/ {rss=$NF}
        END {printf "%-8s cpu %6.2f s  %6.1f frames/cpu-s  peak RSS %6.1f MiB\n", name, u+s, frames/(u+s), rss/1024}' "$log"
}

frames=$((seconds * 30))
/usr/bin/time -v "$build/video_pipeline" "$fixture" "$work/logo.png" "$work/ours.h264" 2> "$work/ours.time"
report ours "$work/ours.time" "$frames"

/usr/bin/time -v ffmpeg -v error -nostdin -i "$fixture" -i "$work/logo.png" -filter_complex \
    "[1]scale=256:-1[logo];[0:v][logo]overlay=0:0,drawtext=text='Veltrona benchmark ticker\: the quick brown fox jumps over the lazy dog':fontsize=24:fontcolor=white:box=1:boxcolor=0x000080:boxborderw=12:x=w-mod(t*50\,w+tw+32):y=h-36" \
    -c:v libx264 -preset veryfast -tune zerolatency -bf 0 -g 60 -b:v 6M -maxrate 6M -bufsize 6M \
    -an -f h264 "$work/ffmpeg.h264" 2> "$work/ffmpeg.time"
report ffmpeg "$work/ffmpeg.time" "$frames"

crop="crop=1280:544:0:128,setpts=PTS-STARTPTS"
for name in ours ffmpeg; do
    ffmpeg -nostdin -framerate 30 -i "$work/$name.h264" -i "$fixture" \
        -lavfi "[0:v]$crop[a];[1:v]$crop[b];[a][b]ssim" -f null - 2>&1 | grep -o 'SSIM Y:.*' |
        sed "s/^/$name vs source, outside the overlays: /"
done
