# Shared by the benchmark scripts (sourced, not run): a temp work folder
# removed at exit, the PIDs of every peer started (stopped at exit), a free
# loopback port, and nginx-rtmp started in the work folder.
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

# "user root;" for nginx when run as root, else nothing.
nginx_user_line() { if [ "$(id -u)" = 0 ]; then echo "user root;"; fi; }

# An http { } block serving $work/www on 127.0.0.1:$1.
http_block() {
    mkdir -p "$work/www"
    cat <<CONF
http {
  access_log off; sendfile on;
  client_body_temp_path $work/cb; proxy_temp_path $work/px; fastcgi_temp_path $work/fc;
  uwsgi_temp_path $work/uw; scgi_temp_path $work/sc;
  types { application/vnd.apple.mpegurl m3u8; video/mp2t ts; }
  server { listen 127.0.0.1:$1; root $work/www; }
}
CONF
}

# $work/nginx.conf: nginx-rtmp on 127.0.0.1:$rtmp_port (application "live",
# $1 added to its block) and $2 (optional, e.g. an http_block) beside it.
write_nginx_conf() {
    cat > "$work/nginx.conf" <<CONF
load_module /usr/lib/nginx/modules/ngx_rtmp_module.so;
$(nginx_user_line)
daemon off; master_process off; worker_processes 1;
pid $work/nginx.pid; error_log $work/error.log;
events { worker_connections 1024; }
rtmp { server { listen 127.0.0.1:$rtmp_port; chunk_size 4096; application live { live on; $1 } } }
${2:-}
CONF
}

# The same for nginx-rtmp on 127.0.0.1:$1 and HTTP on 127.0.0.1:$2.
write_rtmp_http_conf() {
    rtmp_port=$1
    write_nginx_conf "" "$(http_block "$2")"
}

# Starts nginx with $work/nginx.conf as it stands; sets nginx_pid.
launch_nginx() {
    nginx -c "$work/nginx.conf" -p "$work/" -e "$work/error.log" &
    nginx_pid=$!
    pids+=("$nginx_pid")
    sleep 1
}

# Writes the configuration as write_nginx_conf does and starts nginx with it.
start_nginx() {
    write_nginx_conf "$@"
    launch_nginx
}

# One table row per /usr/bin/time -v output $work/NAME.time, for each NAME
# given ("ours" is shown as veltrona-cli): user, system and total CPU
# seconds, peak RSS.
print_resources() {
    field() { grep -F "$2" "$1" | sed 's/.*: //'; }
    printf '%-12s %10s %10s %10s %14s\n' program user_s system_s cpu_s peak_rss_MiB
    for name in "$@"; do
        local f="$work/$name.time" label=$name
        local user system rss
        user=$(field "$f" "User time (seconds)")
        system=$(field "$f" "System time (seconds)")
        rss=$(field "$f" "Maximum resident set size (kbytes)")
        [ "$name" = ours ] && label=veltrona-cli
        printf '%-12s %10s %10s %10.2f %14.1f\n' "$label" "$user" "$system" "$(echo "$user + $system" | bc)" \
            "$(echo "scale=1; $rss / 1024" | bc)"
    done
}
