#!/usr/bin/env bash
# Installs what the project needs to build, test and run, on Debian 12 as root.
# Does nothing when everything is there already.
set -euo pipefail
packages=(cmake g++ make pkg-config libgtest-dev libbenchmark-dev qt6-base-dev libgdal-dev libtbb-dev
          fonts-dejavu-core python3)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
fi
