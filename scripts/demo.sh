#!/usr/bin/env bash
# The main job: builds quillnet and runs its host program, which loads the
# library and its host modules from beside itself and talks to a server it
# starts on 127.0.0.1.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
build="$root/build/default"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target quillnet_cli
"$build/bin/quillnet" "$@"
