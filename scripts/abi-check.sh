#!/usr/bin/env bash
# Guards the binary interface hosts rely on: compares the libraries of a
# build (default build/default, RelWithDebInfo, as scripts/test.sh makes it)
# with the committed descriptions in abi/, using libabigail's abidiff:
#   abi/libquillnet.abi     libquillnet.so: the 35 exports, their signatures,
#                           the records and the multipart description
#   abi/task_records.abi    the task records hosts read through a handle
#                           (abi/task_records.cpp says why it is separate)
# A changed signature, an export removed or added, or a changed record
# layout fails, unless the same commit updated the descriptions and said
# why in abi/CHANGES.
#
#   scripts/abi-check.sh [BUILD]            compare
#   scripts/abi-check.sh --update [BUILD]   describe the build anew, on purpose
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
update=0
if [ "${1:-}" = "--update" ]; then update=1; shift; fi
build=${1:-$root/build/default}
"$root/scripts/deps.sh" ship

lib="$build/bin/libquillnet.so"
records="$build/abi/libquillnet_abi_records.so"
for f in "$lib" "$records"; do
  [ -e "$f" ] || { echo "abi: $f is missing; build $build first" >&2; exit 2; }
done
# Only the exported interface, and nothing of this machine's paths in it.
describe() { abidw --exported-interfaces-only --no-corpus-path --no-comp-dir-path --short-locs "$1"; }
# The hash abi/CHANGES names the descriptions by.
descriptions_hash() { cat "$root/abi/libquillnet.abi" "$root/abi/task_records.abi" | sha256sum | cut -c1-16; }

if [ "$update" = 1 ]; then
  describe "$lib" >"$root/abi/libquillnet.abi"
  describe "$records" >"$root/abi/task_records.abi"
  hash=$(descriptions_hash)
  if ! grep -q "^$hash " "$root/abi/CHANGES"; then
    echo "$hash $(date -u +%Y-%m-%d) TODO: say why the binary interface changed" >>"$root/abi/CHANGES"
  fi
  echo "abi: descriptions written; replace the TODO in abi/CHANGES with the reason, and commit"
  echo "     abi/ together with the change that made them differ."
  exit 0
fi

failed=0
compare() {  # description binary
  local rc=0
  abidiff --exported-interfaces-only --no-show-locs --suppressions "$root/abi/abidiff.suppr" \
    "$1" "$2" >"$work/report" 2>&1 || rc=$?
  if [ "$rc" -ne 0 ]; then
    echo "abi: ${2#"$build"/} differs from ${1#"$root"/} (abidiff exit status $rc):"
    sed 's/^/    /' "$work/report"
    failed=1
  fi
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
compare "$root/abi/libquillnet.abi" "$lib"
compare "$root/abi/task_records.abi" "$records"

hash=$(descriptions_hash)
entry=$(grep "^$hash " "$root/abi/CHANGES" || true)
if [ -z "$entry" ]; then
  echo "abi: abi/CHANGES has no entry for the committed descriptions ($hash): say why they changed."
  failed=1
elif echo "$entry" | grep -q " TODO: "; then
  echo "abi: abi/CHANGES still says TODO for $hash: say why the binary interface changed."
  failed=1
fi

if [ "$failed" = 1 ]; then
  cat <<'EOF'

abi: the binary interface that hosts bind to is not the committed one.
  An accident? Put back the signature, export or record field that changed.
  On purpose? Then, in the same commit:
    1. scripts/abi-check.sh --update     (describes build/default anew)
    2. write why in abi/CHANGES, on the line it added
    3. if existing hosts break, raise the SONAME: the major number of
       project(quillnet VERSION ...) in CMakeLists.txt
EOF
  exit 1
fi
echo "abi: libquillnet.so and the task records match abi/ ($hash)"
