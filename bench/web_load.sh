#!/bin/sh
# The load half of web_bench: Debian's nginx serves the same image on Linux, and wrk (a native
# client) loads lumetra-web and nginx in turn on loopback, 1 and then 20 connections.
#   web_load.sh <lumetra-web port> <folder holding latest.jpg> <result file> [seconds per run]
#               [port of a bare Winsock loop under Wine, as a reference of what Wine allows]
# Writes "<server> <connections> <requests per second>" lines to the result file when done.
set -u
SERVICE_PORT="$1"
WWW="$2"
RESULT="$3"
SECONDS_EACH="${4:-4}"
BARE_PORT="${5:-}"
WORK="$(dirname "$RESULT")/nginx"
mkdir -p "$WORK/tmp"
NGINX_PORT=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat > "$WORK/nginx.conf" <<CONF
worker_processes auto;
daemon off;
pid $WORK/nginx.pid;
error_log $WORK/error.log;
events { worker_connections 256; }
http {
    access_log off;
    sendfile on;
    client_body_temp_path $WORK/tmp;
    proxy_temp_path $WORK/tmp;
    fastcgi_temp_path $WORK/tmp;
    uwsgi_temp_path $WORK/tmp;
    scgi_temp_path $WORK/tmp;
    server {
        listen 127.0.0.1:$NGINX_PORT;
        root $WWW;
        location / { add_header Cache-Control no-cache; }
    }
}
CONF
/usr/sbin/nginx -e "$WORK/error.log" -p "$WORK" -c "$WORK/nginx.conf" &
NGINX=$!
for i in $(seq 50); do
    curl -s -o /dev/null "http://127.0.0.1:$NGINX_PORT/latest.jpg" && break
    sleep 0.1
done

rate() { # url connections
    threads=$([ "$2" -gt 1 ] && echo 2 || echo 1)
    wrk -t"$threads" -c"$2" -d"${SECONDS_EACH}s" "$1" 2>/dev/null | awk '/^Requests\/sec/ { print $2 }'
}
{
    for connections in 1 20; do
        echo "nginx $connections $(rate "http://127.0.0.1:$NGINX_PORT/latest.jpg" $connections)"
        echo "lumetra-web $connections $(rate "http://127.0.0.1:$SERVICE_PORT/latest.jpg" $connections)"
        [ -n "$BARE_PORT" ] && echo "bare $connections $(rate "http://127.0.0.1:$BARE_PORT/latest.jpg" $connections)"
    done
} > "$RESULT.part"
kill "$NGINX"
wait "$NGINX" 2>/dev/null
mv "$RESULT.part" "$RESULT"
