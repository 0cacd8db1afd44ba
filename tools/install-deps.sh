#!/usr/bin/env bash
# Installs what building and testing Tavrion needs on Debian 12 (skips what is already there).
set -euo pipefail
# qt6-websockets-dev: Qt's HttpServer package needs it to be found, but does not pull it in.
# chromium, chromium-driver, python3-selenium: the web remote's test in a real browser.
# libmosquitto-dev: the hub's MQTT client; mosquitto (the broker) and mosquitto-clients: its tests.
packages=(cmake g++ make pkg-config qt6-base-dev qt6-serialport-dev libgl-dev qt6-httpserver-dev qt6-websockets-dev
          chromium chromium-driver python3-selenium libmosquitto-dev mosquitto mosquitto-clients)
if [ "${1:-}" = "--fuzz" ]; then packages+=(clang-14 libclang-rt-14-dev); fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq "${missing[@]}"
