#!/usr/bin/env bash
# The RTMP server for local runs and the video tests: nginx with its RTMP
# module, on 127.0.0.1 only, run from PREFIX (its configuration, pid file and
# temporary files live there) in the foreground, logging to standard error.
#   tools/rtmp-server.sh PREFIX RTMP_PORT [STAT_PORT]
# Streams are rtmp://127.0.0.1:RTMP_PORT/live/<name>; with STAT_PORT,
# http://127.0.0.1:STAT_PORT/stat lists the clients. The script becomes nginx
# (exec), so whoever started it ends nginx by ending it.
set -euo pipefail
if [ $# -lt 2 ]; then
    echo "usage: tools/rtmp-server.sh PREFIX RTMP_PORT [STAT_PORT]" >&2
    exit 2
fi
prefix=$1
rtmp_port=$2
stat_port=${3:-}
mkdir -p "$prefix"
{
    echo "load_module /usr/lib/nginx/modules/ngx_rtmp_module.so;"
    echo "daemon off;"
    echo "master_process off;"
    echo "worker_processes 1;"
    echo "error_log stderr info;"
    echo "pid $prefix/nginx.pid;"
    echo "events { worker_connections 256; }"
    echo "rtmp { server { listen 127.0.0.1:$rtmp_port; application live { live on; } } }"
    if [ -n "$stat_port" ]; then
        echo "http { access_log off;"
        echo "  server { listen 127.0.0.1:$stat_port; location /stat { rtmp_stat all; } } }"
    fi
} >"$prefix/nginx.conf"
exec nginx -e stderr -p "$prefix" -c "$prefix/nginx.conf"
