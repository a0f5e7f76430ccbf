#!/usr/bin/env bash
# Builds the two tiny consumers against an installed quillnet (a prefix from
# `cmake --install`, an unpacked bundle, or the root of the unpacked .deb
# packages' /usr) and runs each against a loopback HTTP server:
#   consumer.c    pkg-config only, links the library, one GET
#   consumer.cpp  find_package(quillnet) only, loads libquillnet.so by name,
#                 one GET through the versioned records
# The sources are copied out first, so nothing of the source tree is seen.
#   tests/install/consume.sh PREFIX
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
prefix=$(cd "$1" && pwd)

work=$(mktemp -d /tmp/qn_consume.XXXXXX)
server_pid=""
finish() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap finish EXIT
mkdir -p "$work/src" "$work/www"
cp "$here/consumer.c" "$here/consumer.cpp" "$here/CMakeLists.txt" "$work/src/"

# Only the installed tree answers pkg-config and find_package.
pc=$(find "$prefix" -name quillnet.pc -print -quit)
[ -n "$pc" ] || { echo "consume: no quillnet.pc under $prefix" >&2; exit 1; }
export PKG_CONFIG_LIBDIR=$(dirname "$pc")
export PKG_CONFIG_PATH=""
# shellcheck disable=SC2046  # pkg-config's words are meant to split
cc -std=c99 -Wall -Werror -o "$work/consumer_c" "$work/src/consumer.c" \
  $(pkg-config --cflags --libs quillnet) -Wl,-rpath,"$(pkg-config --variable=libdir quillnet)"
cmake -S "$work/src" -B "$work/cxx" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release >/dev/null
found=$(sed -n 's/^quillnet_DIR:PATH=//p' "$work/cxx/CMakeCache.txt")
case $(cd "$found" && pwd) in
  "$prefix"/*) ;;
  *) echo "consume: find_package found quillnet in $found, not under $prefix" >&2; exit 1 ;;
esac
cmake --build "$work/cxx" >/dev/null

text="quillnet $(date +%s) consumer check"
printf '%s' "$text" >"$work/www/answer.txt"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
python3 -m http.server --bind 127.0.0.1 --directory "$work/www" "$port" >/dev/null 2>&1 &
server_pid=$!
for _ in $(seq 100); do
  python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 1)" 2>/dev/null && break
  sleep 0.1
done
url="http://127.0.0.1:$port/answer.txt"
# As a host does, each consumer has the host modules and a configuration
# folder beside it: ours, from the installed program's folder.
app=$(dirname "$(find "$prefix" -name libMJBase.so -print -quit)")
for dir in "$work" "$work/cxx"; do
  cp "$app/libMJBase.so" "$app/libhubcore.so" "$dir/"
  cp -r "$app/config" "$dir/"
done
"$work/consumer_c" "$url" "$text"
"$work/cxx/consumer" "$url" "$text"
