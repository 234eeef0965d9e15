#!/usr/bin/env bash
# Installs the Debian packages the build, the program and the tests need,
# only when one of them is missing.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  qtbase5-dev qtbase5-dev-tools qtbase5-private-dev libqt5charts5-dev
  libqt5sql5-sqlite libqt5sql5-psql postgresql-15 libpq-dev libqt5serialport5-dev socat
  libsqlcipher-dev sqlcipher
  libcurl4-openssl-dev zlib1g-dev
  xvfb xauth xdotool imagemagick x11-apps openssl
  python3 fonts-wqy-zenhei
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
as_root=()
[ "$(id -u)" -ne 0 ] && as_root=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
