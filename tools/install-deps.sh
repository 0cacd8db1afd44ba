#!/usr/bin/env bash
# Installs what building and testing Tavrion needs on Debian 12 (skips what is already there).
set -euo pipefail
# libmicrohttpd-dev: the hub's HTTP and HTTPS server (Debian's is built with GnuTLS), which bounds
# each connection's memory, time and count.
# chromium, chromium-driver, python3-selenium: the web remote's test in a real browser; npm fetches
# axe-core, the accessibility audit that test runs in the page.
# libmosquitto-dev: the hub's MQTT client; mosquitto (the broker) and mosquitto-clients: its tests.
# libqrencode-dev: tavrion-hub --show-url draws its address as a QR code for a phone to scan.
# prometheus: the hub's metrics test checks a scrape with its promtool and has a real Prometheus
# server (on loopback, storage in a scratch folder) scrape the hub.
# lintian, dpkg-dev: the Debian packages' test (cpack -G DEB computes the dependencies
# with dpkg-shlibdeps; lintian must report no errors).
packages=(cmake g++ make pkg-config qt6-base-dev qt6-serialport-dev libgl-dev libmicrohttpd-dev
          chromium chromium-driver python3-selenium libmosquitto-dev mosquitto mosquitto-clients libqrencode-dev
          prometheus lintian dpkg-dev)
# A Node.js from elsewhere brings its own npm; Debian's package would conflict with it.
command -v npm >/dev/null || packages+=(npm)
if [ "${1:-}" = "--fuzz" ]; then packages+=(clang-14 libclang-rt-14-dev); fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq "${missing[@]}"
fi
# axe-core in a folder of the source tree that git ignores (.deps/), where the browser test finds it.
npm_dir="$(cd "$(dirname "$0")/.." && pwd)/.deps/npm"
if [ ! -f "$npm_dir/node_modules/axe-core/axe.min.js" ]; then
  npm install --prefix "$npm_dir" --no-audit --no-fund --silent axe-core@4
fi
# @redocly/cli: the OpenAPI validator the hub's site test runs on docs/openapi.json (pinned: later
# 1.x releases name dependencies the registry may not hold).
if [ ! -x "$npm_dir/node_modules/.bin/redocly" ]; then
  npm install --prefix "$npm_dir" --no-audit --no-fund --silent @redocly/cli@1.25.0
fi
