#!/usr/bin/env bash
# Installs the Debian packages named (name or name:arch) that are not installed yet,
# with apt-get as root (or through sudo). Does nothing when all are there.
set -euo pipefail
missing=()
for p in "$@"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo_cmd=""
[ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
# Packages of another architecture need it known to dpkg first.
for p in "${missing[@]}"; do
  arch=${p#*:}
  if [ "$arch" != "$p" ] && ! dpkg --print-foreign-architectures | grep -qx "$arch" &&
     [ "$arch" != "$(dpkg --print-architecture)" ]; then
    $sudo_cmd dpkg --add-architecture "$arch"
  fi
done
echo "Installing: ${missing[*]}"
$sudo_cmd apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends \
  "${missing[@]}" >/dev/null
