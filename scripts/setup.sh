#!/usr/bin/env bash
# Installs every Debian package the project needs. Safe to run again: it
# only calls apt-get when something is missing.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  qt6-base-dev qt6-base-dev-tools qt6-serialport-dev qt6-datavisualization-dev
  qt6-declarative-dev qt6-svg-dev qt6-qpa-plugins libqt6svg6 libqt6opengl6-dev
  libqcustomplot-dev libftdi1-dev
  mosquitto mosquitto-clients libmosquitto-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth x11-utils libgl1-mesa-dri fonts-dejavu-core imagemagick
  ccache desktop-file-utils locales
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
    missing+=("$p")
  fi
done

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}" >&2
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The locales the tests read survey files under (decimal comma, other scripts).
for l in de_DE fr_FR ru_RU; do
  if ! locale -a 2>/dev/null | grep -qx "$l.utf8"; then
    $SUDO localedef -i "$l" -f UTF-8 "$l.UTF-8"
  fi
done
