#!/usr/bin/env bash
# Installs the Debian packages quillnet builds and tests with, when missing.
#   scripts/deps.sh        building, testing, the demo
#   scripts/deps.sh ship   also what the bundles, their checks, the
#                          reference and the binary interface check need
set -euo pipefail

packages=(
  cmake g++ make pkg-config binutils
  libcurl4-openssl-dev libjson-c-dev libspdlog-dev libfmt-dev
  libgtest-dev libgmock-dev libcpp-httplib-dev libssl-dev openssl
  python3 python3-pyftpdlib
  libcli11-dev chromium
)
if [ "${1:-}" = ship ]; then
  # abidw/abidiff, Doxygen, CPack's Debian dependencies (dpkg-shlibdeps,
  # file), and the package checker.
  packages+=(abigail-tools doxygen dpkg-dev file lintian)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "deps: installing ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
