#!/usr/bin/env bash
# The long soak: the panel against the simulated device over the serial line and TCP, with seeded
# random faults on the replies (silent, ERR, another code, split, doubled, junk, late, unasked
# lines). Builds tavrion_soak into build/ (or $BUILD_DIR) and runs it:
#   tools/soak.sh                      10000 commands, seed 1
#   tools/soak.sh 20000 7              20000 commands, seed 7
#   tools/soak.sh 10000 1 --links tcp  further options go to tavrion_soak (--help lists them)
# Prints resident memory at intervals and the counts per link; exits non-zero when a reply reached
# the wrong command, a transaction overran its steps, a quiet line did not answer, a message box
# appeared or memory grew after warm-up. The simulator's transcripts are kept in
# $BUILD_DIR/soak/transcript.<link>.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
COMMANDS=${1:-10000}
SEED=${2:-1}
shift $(( $# > 2 ? 2 : $# ))

cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} >/dev/null
cmake --build "$BUILD_DIR" -j"${JOBS:-2}" --target tavrion_soak
mkdir -p "$BUILD_DIR/soak"
rm -f "$BUILD_DIR"/soak/transcript.*
QT_QPA_PLATFORM=offscreen "$BUILD_DIR/tests/tavrion_soak" --commands "$COMMANDS" --seed "$SEED" \
  --transcript "$BUILD_DIR/soak/transcript" "$@"
