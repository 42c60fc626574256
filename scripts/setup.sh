#!/usr/bin/env bash
# Installs, as root on Debian, every package the build, the tests and the
# benchmarks need. Quiet and quick when everything is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build clang libclang-rt-14-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  python3 valgrind openvpn openssl pkg-config libpcre2-dev
  g++-mingw-w64-x86-64-posix wine64
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: missing packages: ${missing[*]}; run this script as root" >&2
    exit 1
  fi
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The registry stand-in names the OpenVPN executable the daemon starts, as
# the product's installer records it on Windows. An existing file is the
# operator's and is left alone.
registry="${TRIVANE_REGISTRY:-/etc/trivane/registry.reg}"
if [ ! -e "$registry" ] && [ ! -L "$registry" ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: no registry file $registry (the daemon cannot start a VPN); run this script as root to install one" >&2
    exit 0
  fi
  echo "setup: installing $registry"
  install -d -o root -g root -m 0755 "$(dirname "$registry")"
  printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\VelnorVPN]\r\n"exe_path"="/usr/sbin/openvpn"\r\n' \
    > "$registry.new"
  chown root:root "$registry.new"
  chmod 0644 "$registry.new"
  mv "$registry.new" "$registry"
fi
