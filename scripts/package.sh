#!/usr/bin/env bash
# Makes every bundle into dist/ and proves each one complete, from the
# builds scripts/test.sh and scripts/test-windows.sh have made (only what is
# missing or stale there is built):
#   quillnet-<version>-linux-x86_64.tar.gz     build/default
#   quillnet_<version>_amd64.deb, libquillnet-dev_<version>_amd64.deb
#   quillnet-<version>-windows-x86_64.zip      build/win64
#   quillnet-<version>-windows-i686.zip        build/win32
# The proofs, each from a clean folder of its own:
#   - `cmake --install` into a temporary prefix, and the two consumers of
#     tests/install built against it and run against a loopback server;
#   - the tarball unpacked: `quillnet demo` run from it, the consumers again;
#   - the .deb pair: dpkg-deb's view, lintian, and the consumers against
#     the two packages unpacked together;
#   - each zip unpacked: every DLL its programs need is in it or is one of
#     Windows' own, and `quillnet.exe demo` runs from it under Wine where
#     Wine can run that architecture.
# QUILLNET_PACKAGE_WINDOWS=0 leaves the Windows bundles out;
# QUILLNET_WIN_ARCHES="x86_64" makes one of them only, as for
# scripts/test-windows.sh.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh" ship
jobs=$(nproc)
started=$SECONDS
say() { echo "=== package: $* ($((SECONDS - started)) s)"; }

version=$(sed -n 's/^project(quillnet VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
dist="$root/dist"
rm -rf "$dist"
mkdir -p "$dist"
work=$(mktemp -d /tmp/qn_package.XXXXXX)
trap 'rm -rf "$work"' EXIT

# The build tree's bundles, made by CPack into dist/.
cpack_into_dist() {  # build generator
  cpack --config "$1/CPackConfig.cmake" -G "$2" -B "$work/cpack" >"$work/cpack.log" 2>&1 ||
    { tail -n 30 "$work/cpack.log"; return 1; }
  find "$work/cpack" -maxdepth 1 -type f \( -name '*.tar.gz' -o -name '*.deb' -o -name '*.zip' \) \
    -exec mv {} "$dist/" \;
}

# ---- Linux -------------------------------------------------------------------

build="$root/build/default"
say "Linux bundles from ${build#"$root"/}"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$jobs" --target quillnet quillnet_cli MJBase hubcore docs

say "installing into a temporary prefix; the consumers against it"
cmake --install "$build" --prefix "$work/install" >/dev/null
"$root/tests/install/consume.sh" "$work/install"

cpack_into_dist "$build" "TGZ;DEB"
tarball="$dist/quillnet-$version-linux-x86_64.tar.gz"
[ -f "$tarball" ] || { echo "package: no $(basename "$tarball")" >&2; exit 1; }

say "$(basename "$tarball"): unpacked, the demo and the consumers"
mkdir "$work/tgz"
tar -xzf "$tarball" -C "$work/tgz"
unpacked="$work/tgz/quillnet-$version-linux-x86_64"
for f in bin/quillnet lib/libquillnet.so lib/libquillnet.so.0 "lib/libquillnet.so.$version" \
         lib/quillnet/libMJBase.so lib/quillnet/libhubcore.so lib/quillnet/config/mjlog.dat \
         include/quillnet.h lib/pkgconfig/quillnet.pc lib/cmake/quillnet/quillnetConfig.cmake \
         share/doc/quillnet/LICENSE share/doc/quillnet/html/index.html; do
  [ -e "$unpacked/$f" ] || { echo "package: the tarball lacks $f" >&2; exit 1; }
done
if "$unpacked/bin/quillnet" --version >"$work/version" 2>&1; then
  grep -q "$version" "$work/version" ||
    { echo "package: quillnet --version says '$(cat "$work/version")', not $version" >&2; exit 1; }
fi
(cd "$work" && "$unpacked/bin/quillnet" demo --dir "$work/demo" </dev/null) >"$work/demo.log" 2>&1 ||
  { tail -n 30 "$work/demo.log"; echo "package: quillnet demo failed from the tarball" >&2; exit 1; }
tail -n 1 "$work/demo.log"
"$root/tests/install/consume.sh" "$unpacked"

say "Debian packages: dpkg-deb, lintian, the consumers"
debs=("$dist/quillnet_${version}_amd64.deb" "$dist/libquillnet-dev_${version}_amd64.deb")
for deb in "${debs[@]}"; do
  [ -f "$deb" ] || { echo "package: no $(basename "$deb")" >&2; exit 1; }
  dpkg-deb --info "$deb" >/dev/null
  echo "$(basename "$deb"): $(dpkg-deb --field "$deb" Package Version Depends | tr '\n' ' ')"
  dpkg-deb --extract "$deb" "$work/debroot"
done
for f in usr/lib/libquillnet.so usr/lib/quillnet/quillnet usr/lib/quillnet/libMJBase.so \
         usr/bin/quillnet usr/include/quillnet.h usr/lib/pkgconfig/quillnet.pc \
         usr/share/doc/quillnet/copyright usr/share/doc/libquillnet-dev/copyright \
         usr/share/doc/quillnet/html/index.html; do
  [ -e "$work/debroot/$f" ] || [ -L "$work/debroot/$f" ] ||
    { echo "package: the Debian packages lack /$f" >&2; exit 1; }
done
lintian --fail-on error,warning --info "${debs[@]}"
"$root/tests/install/consume.sh" "$work/debroot/usr"

# ---- Windows -----------------------------------------------------------------

# A DLL a bundled program imports is in the bundle or is Windows' own (as
# named in the system folder of the tests' Wine prefix; the 32-bit system
# DLLs carry the same names).
check_imports() {  # folder objdump system-folder
  local folder=$1 objdump=$2 system=$3 file dll missing=0
  ls "$system" >"$work/system-dlls"
  for file in "$folder"/*.dll "$folder"/*.exe; do
    while read -r dll; do
      if [ ! -e "$folder/$dll" ] && ! grep -qixF "$dll" "$work/system-dlls"; then
        echo "package: $(basename "$file") needs $dll, which is neither in the bundle nor Windows'" >&2
        missing=1
      fi
    done < <("$objdump" -p "$file" | sed -n 's/^\s*DLL Name: //p')
  done
  return "$missing"
}

if [ "${QUILLNET_PACKAGE_WINDOWS:-1}" != 0 ]; then
  export WINEPREFIX="$root/build/wine"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY
  for arch in ${QUILLNET_WIN_ARCHES:-x86_64 i686}; do
    case $arch in
      x86_64) build="$root/build/win64" ;;
      i686) build="$root/build/win32" ;;
    esac
    [ -f "$build/CMakeCache.txt" ] ||
      { echo "package: no ${build#"$root"/}: run scripts/test-windows.sh first" >&2; exit 1; }
    zip="$dist/quillnet-$version-windows-$arch.zip"
    say "$(basename "$zip") from ${build#"$root"/}"
    cmake --build "$build" -j"$jobs" --target quillnet quillnet_cli MJBase hubcore
    cpack_into_dist "$build" ZIP
    [ -f "$zip" ] || { echo "package: no $(basename "$zip")" >&2; exit 1; }
    mkdir "$work/zip-$arch"
    (cd "$work/zip-$arch" && cmake -E tar xf "$zip")
    unpacked="$work/zip-$arch/quillnet-$version-windows-$arch"
    for f in win32_quillnet.dll libcurl.dll MJBase.dll hubcore.dll quillnet.exe include/quillnet.h \
             config/mjlog.dat config/Resource/Protocol.json README.txt LICENSE.txt; do
      [ -e "$unpacked/$f" ] || { echo "package: $(basename "$zip") lacks $f" >&2; exit 1; }
    done
    # The version a host reads from the DLL's properties.
    python3 - "$unpacked/win32_quillnet.dll" "$version" <<'EOF'
import sys
# A string of the resource: its key, terminator and padding, then the value.
data = open(sys.argv[1], "rb").read()
key = "ProductVersion".encode("utf-16-le")
at = data.find(key) + len(key)
while at >= len(key) and data[at:at + 2] == b"\0\0":
    at += 2
found = at >= len(key) and data[at:].startswith(sys.argv[2].encode("utf-16-le") + b"\0\0")
sys.exit(0 if found else "package: win32_quillnet.dll carries no version resource " + sys.argv[2])
EOF
    [ -d "$WINEPREFIX/drive_c/windows/system32" ] || { wineboot -i >/dev/null 2>&1; wineserver -w; }
    check_imports "$unpacked" "$arch-w64-mingw32-objdump" "$WINEPREFIX/drive_c/windows/system32"
    # Wine runs 32-bit programs only with Debian's wine32 (an i386 package).
    if [ "$arch" = i686 ] && ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "ok installed"; then
      echo "package: quillnet.exe demo of the i686 bundle skipped: this Wine runs 64-bit programs only (no wine32:i386)"
      continue
    fi
    (cd "$unpacked" && wine ./quillnet.exe demo </dev/null) >"$work/demo-$arch.log" 2>&1 ||
      { tail -n 30 "$work/demo-$arch.log"; echo "package: quillnet.exe demo failed from $(basename "$zip")" >&2; exit 1; }
    tail -n 1 "$work/demo-$arch.log"
    wineserver -k 2>/dev/null || true
  done
fi

say "done"
ls -l "$dist"
