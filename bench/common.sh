# Shared by the benchmark scripts (sourced, not run): a temp work folder
# removed at exit, the PIDs of every peer started (stopped at exit), and a
# free loopback port.
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

# $work/nginx.conf: nginx-rtmp on 127.0.0.1:$1 (application "live") and HTTP
# on 127.0.0.1:$2 serving $work/www.
write_rtmp_http_conf() {
    mkdir -p "$work/www"
    cat > "$work/nginx.conf" <<CONF
load_module /usr/lib/nginx/modules/ngx_rtmp_module.so;
$(nginx_user_line)
daemon off; master_process off; worker_processes 1;
pid $work/nginx.pid; error_log $work/error.log;
events { worker_connections 1024; }
rtmp { server { listen 127.0.0.1:$1; chunk_size 4096; application live { live on; } } }
http {
  access_log off; sendfile on;
  client_body_temp_path $work/cb; proxy_temp_path $work/px; fastcgi_temp_path $work/fc;
  uwsgi_temp_path $work/uw; scgi_temp_path $work/sc;
  types { application/vnd.apple.mpegurl m3u8; video/mp2t ts; }
  server { listen 127.0.0.1:$2; root $work/www; }
}
CONF
}
