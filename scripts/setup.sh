#!/usr/bin/env bash
# Installs what building and testing Mosalune needs on Debian 12 and is not
# there yet. Safe to run again; it installs nothing when all is present.
set -euo pipefail

packages=(
  g++ cmake make pkg-config
  qt6-base-dev qt6-svg-dev
  libwmf-dev libemf2svg-dev libjpeg-dev
  qt6-translations-l10n fonts-wqy-zenhei xvfb xauth x11-utils xdg-utils
  libxcb1-dev xdotool nginx curl
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
