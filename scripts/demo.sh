#!/usr/bin/env bash
# The main job: installs what is missing, builds quillnet and runs
# `quillnet demo`: the host program loads the library and its host modules
# from beside itself and walks through every family of exports against
# servers it starts on 127.0.0.1, then writes a report page of the log.
# Arguments, when given, replace "demo": scripts/demo.sh get http://...
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
build="$root/build/default"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target quillnet_cli
[ $# -gt 0 ] || set -- demo
"$build/bin/quillnet" "$@"
