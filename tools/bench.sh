#!/usr/bin/env bash
# Builds tavrion-bench and runs it: refresh-all, an unanswered command, idling and start-up of the
# real window against the simulator, each beside its floor (README, "Performance").
#   tools/bench.sh                 the full table (20 refreshes per link and mode, 10 s idling)
#   tools/bench.sh --quick         a short run that only shows it still works (CI)
#   tools/bench.sh --reps 50 ...   any other option goes to tavrion-bench (--help lists them)
#   tools/bench.sh --hub [--quick] [--mqtt | --protocol | --idle]  the web remote instead: tavrion-hub-bench (README,
#                                  "Web remote" and "Building automation (MQTT)")
#   tools/bench.sh --audit [--without OTHER_HUB]  the hub's audit trail: 600 changes from four sources
#                                  at once, and a route's time with it (and with a hub built without it)
# The build folder is build/ or $BUILD_DIR; it is configured RelWithDebInfo unless $BUILD_TYPE says.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" >/dev/null
if [ "${1:-}" = "--audit" ]; then
  shift
  cmake --build "$BUILD_DIR" -j"${JOBS:-$(nproc)}" --target tavrion-hub tavrion-sim >/dev/null
  exec python3 bench/bench_hub_audit.py "$BUILD_DIR/bin/tavrion-hub" "$BUILD_DIR/bin/tavrion-sim" "$@"
fi
if [ "${1:-}" = "--hub" ]; then
  shift
  cmake --build "$BUILD_DIR" -j"${JOBS:-$(nproc)}" --target tavrion-hub-bench >/dev/null
  exec env QT_QPA_PLATFORM=offscreen "$BUILD_DIR/bench/tavrion-hub-bench" "$@"
fi
cmake --build "$BUILD_DIR" -j"${JOBS:-$(nproc)}" --target tavrion-bench >/dev/null
QT_QPA_PLATFORM=offscreen "$BUILD_DIR/bench/tavrion-bench" "$@"
