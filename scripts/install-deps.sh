#!/usr/bin/env bash
# Installs what building and testing Nivelix needs, and nothing when it is
# all there already. Debian 12, as root (or through sudo).
set -euo pipefail

# locales: the tests build a decimal-comma locale from its sources.
# xvfb, xdotool, imagemagick: the demo without a display and the screenshots;
# x11-utils (xev): the start-up time measurement.
# dpkg-dev, file: the Debian package (dpkg-shlibdeps finds its dependencies).
# poppler-utils (pdftotext, pdftoppm): the printed chart's test reads the
# words of the PDF and their boxes; the screenshot script looks at it.
# libmosquitto-dev: nivelix-record publishes to an MQTT broker through it;
# mosquitto: the broker its tests start; mosquitto-clients: mosquitto_sub, to
# watch the readings as the user guide shows; openssl: the recorder's TLS
# test makes its certificates.
packages=(g++ cmake ninja-build pkg-config libgtest-dev qt6-base-dev libqcustomplot-dev locales xvfb xdotool imagemagick x11-utils dpkg-dev file poppler-utils
          libmosquitto-dev mosquitto mosquitto-clients openssl "$@")
# libsystemd-dev: nivelix-record tells systemd it is ready and pings its
# watchdog through sd_notify.
packages+=(libsystemd-dev)
# libfuse3-dev, fuse3: the tests play a power cut on a FUSE file system that
# keeps only what was synced (tests/support/PowerCutFs).
packages+=(libfuse3-dev fuse3)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
