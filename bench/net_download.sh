#!/usr/bin/env bash
# Segment download throughput (our client and curl, same nginx, same file)
# and live HLS delivery latency (ffmpeg writing 2 s segments, nginx serving
# them, our downloader following). Everything on loopback, in a temp folder,
# stopped by PID at the end.
#   bench/net_download.sh [build folder, default build/default] [live seconds, default 120]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
live_seconds=${2:-120}
bench="$build/net_download"
[ -x "$bench" ] || cmake --build --preset default --target net_download

source bench/common.sh

# A throw-away CA and a certificate for 127.0.0.1.
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/ca.key" -out "$work/ca.crt" -days 2 \
    -subj "/CN=Bench CA" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout "$work/server.key" -out "$work/server.csr" -subj "/CN=server" 2>/dev/null
printf 'subjectAltName=IP:127.0.0.1\n' > "$work/san.ext"
openssl x509 -req -in "$work/server.csr" -CA "$work/ca.crt" -CAkey "$work/ca.key" -CAcreateserial \
    -out "$work/server.crt" -days 2 -extfile "$work/san.ext" 2>/dev/null

http_port=$(free_port)
https_port=$(free_port)
mkdir -p "$work/www" "$work/empty-certs"
cat > "$work/nginx.conf" <<CONF
$(nginx_user_line)
daemon off; master_process off; worker_processes 1;
pid $work/nginx.pid; error_log $work/error.log;
events { worker_connections 256; }
http {
  access_log off; sendfile on;
  client_body_temp_path $work/cb; proxy_temp_path $work/px; fastcgi_temp_path $work/fc;
  uwsgi_temp_path $work/uw; scgi_temp_path $work/sc;
  types { application/vnd.apple.mpegurl m3u8; video/mp2t ts; }
  server { listen 127.0.0.1:$http_port; root $work/www; }
  server { listen 127.0.0.1:$https_port ssl; root $work/www;
           ssl_certificate $work/server.crt; ssl_certificate_key $work/server.key; }
}
CONF
nginx -c "$work/nginx.conf" -p "$work/" -e "$work/error.log" &
pids+=($!)
sleep 1
head -c 2097152 /dev/urandom > "$work/www/seg.ts"

export SSL_CERT_FILE="$work/ca.crt" SSL_CERT_DIR="$work/empty-certs"
export VELTRONA_BENCH_HTTP_URL="http://127.0.0.1:$http_port/seg.ts"
export VELTRONA_BENCH_HTTPS_URL="https://127.0.0.1:$https_port/seg.ts"

echo "== http_get of a 2 MB segment (fresh connection each time)"
"$bench" --benchmark_min_time=3 --benchmark_repetitions=3 --benchmark_report_aggregates_only=true

echo "== peer: curl, same file, same servers (MB/s, mean of 50 fresh connections)"
for scheme in http https; do
    url=$VELTRONA_BENCH_HTTP_URL
    [ "$scheme" = https ] && url=$VELTRONA_BENCH_HTTPS_URL
    for _ in $(seq 50); do
        curl -s --cacert "$work/ca.crt" -o /dev/null -w '%{speed_download}\n' "$url"
    done | awk -v s="$scheme" '{ t += $1 } END { printf "curl %s: %.1f MB/s\n", s, t / NR / 1048576 }'
done

echo "== live: segment appearing in the playlist -> delivered into the ring ($live_seconds s, 2 s segments)"
timeout $((live_seconds + 60)) ffmpeg -hide_banner -nostdin -loglevel error -re \
    -f lavfi -i testsrc2=size=1280x720:rate=30 -f lavfi -i sine=frequency=440:sample_rate=48000 \
    -t "$live_seconds" -c:v libx264 -preset veryfast -g 60 -c:a aac \
    -f hls -hls_time 2 -hls_list_size 0 "$work/www/live.m3u8" &
pids+=($!)
for _ in $(seq 200); do [ -f "$work/www/live.m3u8" ] && break; sleep 0.1; done
"$bench" --live-latency "http://127.0.0.1:$http_port/live.m3u8" "$work/www/live.m3u8" | tail -n 1
