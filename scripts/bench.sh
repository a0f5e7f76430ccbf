#!/usr/bin/env bash
# Builds the benchmarks with optimisation, starts nginx-light on 127.0.0.1
# (HTTP and HTTPS) with a configuration of its own in a temporary folder,
# runs every benchmark and prints one table of all their rows: metric,
# quillnet, baseline, ratio, goal, met. Every baseline is measured in the
# same run. Never run in CI.
#   scripts/bench.sh              every benchmark
#   scripts/bench.sh submit cache only qn_bench_submit and qn_bench_cache
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
# nginx is needed here only, not by the tests.
if ! dpkg-query -W -f='${Status}' nginx-light 2>/dev/null | grep -q "install ok installed"; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends nginx-light
fi
build="$root/build/release"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUILLNET_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)"
benches=()
for name in "$@"; do
  [ -x "$build/bin/qn_bench_$name" ] || { echo "no benchmark qn_bench_$name" >&2; exit 2; }
  benches+=("$build/bin/qn_bench_$name")
done
[ ${#benches[@]} -gt 0 ] || benches=("$build"/bin/qn_bench_*)

# nginx answers every request on / with a short text, keeping connections
# for as long as a benchmark runs.
work=$(mktemp -d /tmp/qn_bench_nginx.XXXXXX)
chmod 755 "$work"
nginx_pid=""
finish() {
  [ -n "$nginx_pid" ] && kill -QUIT "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap finish EXIT
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
http_port=$(free_port)
https_port=$(free_port)
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 1 -subj /CN=127.0.0.1 \
  -keyout "$work/key.pem" -out "$work/cert.pem" >/dev/null 2>&1
cat >"$work/nginx.conf" <<EOF
daemon off;
worker_processes 1;
pid $work/nginx.pid;
error_log $work/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  keepalive_requests 1000000;
  keepalive_timeout 120s;
  client_body_temp_path $work/body;
  proxy_temp_path $work/proxy;
  fastcgi_temp_path $work/fastcgi;
  uwsgi_temp_path $work/uwsgi;
  scgi_temp_path $work/scgi;
  server {
    listen 127.0.0.1:$http_port;
    location / { return 200 "ok"; }
  }
  server {
    listen 127.0.0.1:$https_port ssl;
    ssl_certificate $work/cert.pem;
    ssl_certificate_key $work/key.pem;
    location / { return 200 "ok"; }
  }
}
EOF
nginx -p "$work" -e "$work/error.log" -c "$work/nginx.conf" &
nginx_pid=$!
for _ in $(seq 100); do
  curl -s -o /dev/null "http://127.0.0.1:$http_port/" && break
  sleep 0.05
done
export QN_BENCH_HTTP_URL="http://127.0.0.1:$http_port/submit"
export QN_BENCH_HTTPS_URL="https://127.0.0.1:$https_port/submit"

rows="$work/rows"
: >"$rows"
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
for bench in "${benches[@]}"; do
  echo "=== $(basename "$bench") ==="
  "$bench" | tee "$work/out" | grep -v '^QNROW' || true
  grep '^QNROW' "$work/out" >>"$rows" || true
done

echo
echo "quillnet benchmarks, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores," \
  "$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)," \
  "$(awk '/MemTotal/ { printf "%.0f GB", $2 / 1048576 }' /proc/meminfo), $(uname -sr);" \
  "load average $load_before at the start, $(cut -d' ' -f1-3 /proc/loadavg) at the end"
echo
{
  echo "| metric | quillnet | baseline | ratio | goal | met |"
  echo "|---|---|---|---|---|---|"
  awk -F'\t' '{
    ratio = ($4 == "-" || $4 + 0 == 0) ? "-" : sprintf("%.2f", $3 / $4)
    base = ($4 == "-") ? "-" : sprintf("%.2f (%s)", $4, $5)
    printf "| %s | %.2f | %s | %s | %s | %s |\n", $2, $3, base, ratio, $6, $7
  }' "$rows"
}
