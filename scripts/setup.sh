#!/usr/bin/env bash
# Installs what building and testing Mosalune needs on Debian 12 and is not
# there yet. Safe to run again; it installs nothing when all is present.
set -euo pipefail

# Installed without Recommends, so whatever our code relies on that a library
# only recommends is named here itself: libwmf draws text with the URW fonts,
# and its pkg-config file links expat.
packages=(
  g++ cmake make pkg-config
  qt6-base-dev qt6-svg-dev
  libwmf-dev libexpat1-dev fonts-urw-base35 libemf2svg-dev libjpeg-dev
  libpng-dev libheif-dev libwebp-dev qt6-image-formats-plugins
  # mosalune-cut --lossless crops a JPEG's own blocks with TurboJPEG's
  # transform; its tests tag a picture with colord's red-green swapping
  # profile. A PNG's profile is inflated with zlib, with a bound.
  libturbojpeg0-dev colord-data zlib1g-dev
  qt6-translations-l10n fonts-wqy-zenhei xvfb xauth x11-utils xdg-utils
  desktop-file-utils
  # gio starts the installed menu entry in the menu test, as a desktop does.
  libglib2.0-bin
  libxcb1-dev xdotool xcompmgr
  # The keyboard test runs the main window under a window manager.
  openbox
  # The transfer control speaks HTTP through libcurl (it tells a reset or a
  # missing last chunk from a clean end); https checks against the system CAs.
  libcurl4-openssl-dev ca-certificates
  # Downloaded bodies are hashed with OpenSSL's libcrypto.
  libssl-dev
  # The updater test stops the real updater at chosen renames with strace.
  strace
  # The end-to-end update test serves the release with nginx.
  nginx curl
  # Signed releases: libsodium verifies, the tests sign with the real minisign.
  libsodium-dev minisign
)

# The fuzzers (scripts/fuzz.sh) are built with clang and its sanitizer runtime.
if [ "${1:-}" = "--fuzz" ]; then
  packages+=(clang libclang-rt-dev)
fi

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
