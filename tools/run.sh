#!/usr/bin/env bash
# Installs what is missing, builds, and starts the panel against the bundled device simulator.
# The panel runs from its own demo program folder (build/demo), so a settings file of yours is
# never touched: the simulator's pseudo-terminal is COM1 there, and start-up opens it at once.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
tools/build.sh
BUILD_DIR=${BUILD_DIR:-build}
demo="$BUILD_DIR/demo"
mkdir -p "$demo/serial" "$demo/bmp"
cp "$BUILD_DIR/bin/tavrion" "$demo/"
cp "$BUILD_DIR/bin/output_reso.txt" "$demo/"
cp "$BUILD_DIR"/bin/bmp/*.bmp "$demo/bmp/"
# RS-232 on COM1, expanded window; the address box points at the simulator's TCP side.
[ -f "$demo/tavrion.ini" ] || printf '0\r\n1\r\n#TRUE#\r\n"127.0.0.1:2323"\r\n' > "$demo/tavrion.ini"
"$BUILD_DIR/bin/tavrion-sim" --serial "$demo/serial/COM1" --tcp 127.0.0.1:2323 &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$demo/serial/COM1" ] && break; sleep 0.1; done
echo "Simulator running (serial: $demo/serial/COM1, TCP: 127.0.0.1:2323). Press Refresh in the panel."
"$demo/tavrion"
