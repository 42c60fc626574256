#!/usr/bin/env bash
# Installs, as root on Debian, every package the build, the tests and the
# benchmarks need. Quiet and quick when everything is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build clang libclang-rt-14-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  python3 valgrind pkg-config libpcre2-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "setup: missing packages: ${missing[*]}; run this script as root" >&2
  exit 1
fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
