#!/usr/bin/env bash
# The Windows build: cross-compiles win32_quillnet.dll, MJBase.dll, hubcore.dll,
# quillnet.exe and the tests with MinGW-w64 (x86_64, and i686 to keep the
# 32-bit calling conventions honest), and runs the x86_64 tests under Wine.
#
# Third-party libraries come from Debian's source packages, cross-built once
# into a cache outside the build tree ($QUILLNET_WIN_CACHE, default
# ~/.cache/quillnet-win), one folder per architecture named after their
# versions; later runs reuse it (one run builds, others wait). Each work tree
# has its own Wine prefix in build/wine, so that runs in different trees do
# not share a wineserver.
#
# QUILLNET_WIN_ARCHES="x86_64 i686" picks the builds (default: both).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
cache=${QUILLNET_WIN_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quillnet-win}
arches=${QUILLNET_WIN_ARCHES:-x86_64 i686}
# Bump an architecture's number when the recipe below changes what lands in
# its cache folder.
declare -A recipe=([x86_64]=2 [i686]=3)
started=$SECONDS

export WINEPREFIX="$root/build/wine"
export WINEDEBUG=-all
# No Mono or Gecko installers, and no windows, in a prefix that only runs tests.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY

say() { echo "=== windows: $* ($((SECONDS - started)) s)"; }

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

install_tools() {
  local packages=(cmake make pkg-config dpkg-dev xz-utils
                  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
                  wine wine64 python3 python3-pyftpdlib)
  local missing=() p
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    say "installing ${missing[*]}"
    as_root apt-get update -qq
    DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}

# ---- third-party sources ---------------------------------------------------

src_list=/etc/apt/sources.list.d/quillnet-win-src.sources

# Newest version of a source package that apt knows of.
source_version() {
  apt-cache showsrc --only-source "$1" 2>/dev/null |
    awk '/^Version:/ { print $2 }' | sort -V | tail -n 1
}

ensure_source_index() {
  if [ -z "$(source_version json-c)" ]; then
    if [ ! -f "$src_list" ]; then
      local suite
      suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
      as_root tee "$src_list" >/dev/null <<EOF
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $suite
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
    fi
    as_root apt-get update -qq
  fi
}

declare -A version
# Source packages and what each is built for.
packages_all=(json-c fmtlib spdlog cpp-httplib curl)
packages_tests=(googletest)

# The unpacked source tree of package $1 (fetched on first use).
source_dir() {
  local pkg=$1 ver=${version[$1]}
  local dir="$cache/src/${pkg}_${ver//:/_}"  # no epoch colon in a path make reads
  if [ ! -d "$dir" ]; then
    local dl="$cache/src/download"
    rm -rf "$dl" && mkdir -p "$dl" && chmod 777 "$dl"
    (cd "$dl" && apt-get source -qq --download-only "$pkg=$ver" >/dev/null)
    dpkg-source -q -x "$dl"/*.dsc "$dir.tmp" >/dev/null 2>&1
    mv "$dir.tmp" "$dir"
    rm -rf "$dl" "$cache/src/"*.orig.*
  fi
  echo "$dir"
}

# cmake configure + build + install of a third-party source tree.
cross_cmake() {  # arch prefix name source-dir cmake-options...
  local arch=$1 prefix=$2 name=$3 src=$4
  shift 4
  local work="$cache/work/$arch/$name"
  rm -rf "$work" && mkdir -p "$work"
  cmake -S "$src" -B "$work" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-$arch.cmake" \
    -DQUILLNET_WIN_PREFIX="$prefix" -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF "$@" >"$work.log" 2>&1 ||
    { tail -n 40 "$work.log"; return 1; }
  cmake --build "$work" -j"$jobs" --target install >>"$work.log" 2>&1 ||
    { tail -n 40 "$work.log"; return 1; }
  rm -rf "$work" "$work.log"
}

build_third_party() {  # arch prefix
  local arch=$1 prefix=$2
  cross_cmake "$arch" "$prefix" json-c "$(source_dir json-c)" \
    -DBUILD_SHARED_LIBS=OFF -DBUILD_STATIC_LIBS=ON -DDISABLE_WERROR=ON -DBUILD_APPS=OFF
  cross_cmake "$arch" "$prefix" fmt "$(source_dir fmtlib)" \
    -DFMT_DOC=OFF -DFMT_TEST=OFF -DFMT_INSTALL=ON
  cross_cmake "$arch" "$prefix" spdlog "$(source_dir spdlog)" \
    -DSPDLOG_FMT_EXTERNAL=ON -DSPDLOG_BUILD_EXAMPLE=OFF -DSPDLOG_BUILD_TESTS=OFF
  # cpp-httplib is a single header; the project finds it through pkg-config.
  local httplib
  httplib=$(source_dir cpp-httplib)
  mkdir -p "$prefix/include" "$prefix/lib/pkgconfig"
  cp "$httplib/httplib.h" "$prefix/include/"
  cat >"$prefix/lib/pkgconfig/cpp-httplib.pc" <<EOF
prefix=\${pcfiledir}/../..
includedir=\${prefix}/include
Name: cpp-httplib
Description: header-only HTTP server and client (plain HTTP)
Version: ${version[cpp-httplib]}
Cflags: -I\${includedir}
Libs: -lws2_32
EOF
  if [ "$arch" = x86_64 ]; then
    cross_cmake "$arch" "$prefix" googletest "$(source_dir googletest)" \
      -DBUILD_GMOCK=ON -Dgtest_force_shared_crt=ON
  fi
  # libcurl.dll as a Windows host ships it: Schannel for TLS, nothing
  # else linked in, and only the protocols quillnet has exports for.
  # Schannel brings SSPI with it whatever CURL_WINDOWS_SSPI says, and
  # Digest goes through SSPI, which Wine lacks: Digest tests skip there.
  # Both architectures build it: each Windows bundle carries its own.
  local off=()
  for p in DICT FILE GOPHER IMAP LDAP LDAPS MQTT POP3 RTSP SMB SMTP TELNET TFTP; do
    off+=("-DCURL_DISABLE_$p=ON")
  done
  cross_cmake "$arch" "$prefix" curl "$(source_dir curl)" \
    -DBUILD_SHARED_LIBS=ON -DBUILD_CURL_EXE=OFF -DENABLE_MANUAL=OFF -DCURL_LTO=OFF \
    -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_ZLIB=OFF -DCURL_BROTLI=OFF \
    -DCURL_ZSTD=OFF -DUSE_NGHTTP2=OFF -DCURL_USE_LIBSSH2=OFF -DUSE_LIBIDN2=OFF \
    -DCURL_USE_LIBPSL=OFF -DCURL_WINDOWS_SSPI=OFF -DCMAKE_SHARED_LINKER_FLAGS=-static-libgcc "${off[@]}"
}

# Sets `prefix` to the cache folder for one architecture, built when missing.
third_party() {  # arch
  local arch=$1 key="" pkg lock
  local pkgs=("${packages_all[@]}")
  [ "$arch" = x86_64 ] && pkgs+=("${packages_tests[@]}")
  for pkg in "${pkgs[@]}"; do
    key+="${pkg}-${version[$pkg]//:/_}_"
  done
  key+="gcc-$("$arch-w64-mingw32-gcc-posix" -dumpversion)_r${recipe[$arch]}"
  prefix="$cache/$arch/$key"
  mkdir -p "$cache"
  exec {lock}>"$cache/.lock"
  flock "$lock"
  if [ ! -f "$prefix/.complete" ]; then
    say "cross-building third-party libraries for $arch (once; kept in $cache)"
    rm -rf "$cache/$arch" "$cache/work/$arch"
    mkdir -p "$prefix"
    build_third_party "$arch" "$prefix"
    touch "$prefix/.complete"
  fi
  exec {lock}>&-
}

# ---- the project -----------------------------------------------------------

build_project() {  # arch prefix build-dir cmake-options...
  local arch=$1 prefix=$2 build=$3
  shift 3
  say "building $arch in ${build#"$root"/}"
  # Libraries from another cache folder: everything found there is stale.
  if [ -f "$build/CMakeCache.txt" ] &&
     ! grep -qxF "QUILLNET_WIN_PREFIX:PATH=$prefix" "$build/CMakeCache.txt"; then
    rm -f "$build/CMakeCache.txt"
  fi
  cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-$arch.cmake" \
    -DQUILLNET_WIN_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUILLNET_WERROR="${QUILLNET_WERROR:-OFF}" "$@" >/dev/null
  cmake --build "$build" -j"$jobs"
}

ftp_pids=()
stop_servers() {
  local pid
  for pid in "${ftp_pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  ftp_pids=()
  wineserver -k 2>/dev/null || true
}

# The tests' FTP servers: pyftpdlib is a Linux Python program, which a test
# under Wine cannot start, so they are started here, serving Wine's folder
# for temporary files, where every test makes its folders: one to anonymous
# users, one only to a user with a password. The tests learn their
# addresses, the login and the served folder's Windows path from the
# environment.
start_ftp_servers() {
  # The distribution's interpreter, which has the pyftpdlib package.
  local python=/usr/bin/python3 win_temp unix_temp port name login=alice:secret
  win_temp=$(wine cmd /c 'echo %TEMP%' | tr -d '\r')
  unix_temp=$(winepath -u "$win_temp" | tr -d '\r')
  mkdir -p "$unix_temp"
  for name in QN_TEST_FTP_SERVER QN_TEST_FTP_LOGIN_SERVER; do
    port=$("$python" -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    local args=(-i 127.0.0.1 -p "$port" -d "$unix_temp")
    [ "$name" = QN_TEST_FTP_LOGIN_SERVER ] && args+=(-u "${login%%:*}" -P "${login#*:}")
    "$python" -m pyftpdlib "${args[@]}" >/dev/null 2>&1 &
    ftp_pids+=($!)
    for _ in $(seq 100); do
      "$python" -c "import socket; socket.create_connection(('127.0.0.1', $port), 1)" 2>/dev/null && break
      sleep 0.1
    done
    export "$name=127.0.0.1:$port"
  done
  export QN_TEST_FTP_LOGIN="$login"
  export QN_TEST_FTP_ROOT="$win_temp"
}

run_tests() {  # build-dir
  local build=$1 log
  log="$build/ctest.log"
  say "running the tests under Wine"
  wineserver -p || true  # one server for the whole run (or the one already up)
  start_ftp_servers
  trap stop_servers EXIT
  local rc=0
  (cd "$build" && ctest --output-on-failure -j"$jobs") | tee "$log" || rc=$?
  # The host program's demo: a loopback server, the submits, the
  # downloads, the log and its report (the FTP part needs a child process).
  say "running quillnet.exe demo under Wine"
  (cd "$build/bin" && wine ./quillnet.exe demo </dev/null) || rc=$?
  stop_servers
  trap - EXIT
  local total failed skipped
  total=$(sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -n 1)
  failed=$(sed -n 's/.* \([0-9]*\) tests failed out of.*/\1/p' "$log" | tail -n 1)
  skipped=$(grep -c '(Skipped)$' "$log" || true)
  echo "windows: $((total - failed - skipped)) of $total tests passed under Wine," \
       "$skipped skipped, $failed failed"
  return "$rc"
}

install_tools
ensure_source_index
for pkg in "${packages_all[@]}" "${packages_tests[@]}"; do
  version[$pkg]=$(source_version "$pkg")
  [ -n "${version[$pkg]}" ] || { echo "windows: no source package $pkg" >&2; exit 1; }
done
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  say "creating the Wine prefix"
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1
  wineserver -w
fi

for arch in $arches; do
  third_party "$arch"
  case $arch in
    x86_64)
      build="$root/build/win64"
      build_project "$arch" "$prefix" "$build" -DQUILLNET_BUILD_BENCH=OFF
      cp "$prefix/bin/libcurl.dll" "$build/bin/"
      run_tests "$build"
      ;;
    i686)
      build="$root/build/win32"
      build_project "$arch" "$prefix" "$build" -DQUILLNET_BUILD_TESTS=OFF -DQUILLNET_BUILD_BENCH=OFF
      cp "$prefix/bin/libcurl.dll" "$build/bin/"
      cmake -DLIB="$build/bin/win32_quillnet.dll" -DOBJDUMP=i686-w64-mingw32-objdump \
        -DEXPECTED="$root/tests/frame/exports.txt" -P "$root/tests/frame/check_exports_pe.cmake"
      ;;
  esac
done
say "done"
