#!/usr/bin/env bash
# Builds the libFuzzer targets (clang 14, ASan + UBSan) and runs each for SECONDS (default 60):
#   tools/fuzz.sh 1800
#   FUZZ_PARALLEL=1 tools/fuzz.sh 1800     all targets at once (one process each)
# Each target starts from its seed corpus in fuzz/corpus and keeps what it finds in
# build-fuzz/corpus/<target> (the repo's seeds are never written). Prints executions and exec/s per
# target; exits non-zero if any target reports a crash, leak, timeout or out-of-memory (the input
# is kept as build-fuzz/artifacts/<target>/<kind>-<hash>).
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH=${1:-60}
BUILD_DIR=${FUZZ_BUILD_DIR:-build-fuzz}
TARGETS=(fuzz_protocol fuzz_files fuzz_sim_parser fuzz_receivers fuzz_http)

tools/install-deps.sh --fuzz
CC=clang-14 CXX=clang++-14 cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTAVRION_FUZZ=ON -DTAVRION_SANITIZE=ON >/dev/null
cmake --build "$BUILD_DIR" -j"${JOBS:-2}" --target "${TARGETS[@]}"

export QT_QPA_PLATFORM=offscreen
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"

run_target() {
  local t=$1 name=${1#fuzz_}
  local work="$BUILD_DIR/corpus/$name" artifacts="$BUILD_DIR/artifacts/$name"
  rm -rf "$artifacts"
  mkdir -p "$work" "$artifacts"
  echo "== $t: ${SECONDS_EACH}s"
  local rc=0
  "$BUILD_DIR/fuzz/$t" -max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=2048 -detect_leaks=1 \
    -print_final_stats=1 -artifact_prefix="$artifacts/" "$work" "fuzz/corpus/$name" \
    >"$BUILD_DIR/fuzz-$name.log" 2>&1 || rc=$?
  echo "$rc" >"$BUILD_DIR/fuzz-$name.rc"
}

if [ -n "${FUZZ_PARALLEL:-}" ]; then
  for t in "${TARGETS[@]}"; do run_target "$t" & done
  wait
else
  for t in "${TARGETS[@]}"; do run_target "$t"; done
fi

failed=0
summary=""
for t in "${TARGETS[@]}"; do
  name=${t#fuzz_}
  artifacts="$BUILD_DIR/artifacts/$name"
  log="$BUILD_DIR/fuzz-$name.log"
  rc=$(cat "$BUILD_DIR/fuzz-$name.rc")
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  found=$(ls -A "$artifacts" | grep -E '^(crash|leak|timeout|oom|slow-unit)-' || true)
  verdict=ok
  if [ "$rc" -ne 0 ] || [ -n "$found" ]; then
    verdict="FAILED (exit $rc; see $log)"
    failed=1
    grep -E 'ERROR|SUMMARY|fuzz check failed' "$log" | head -5 || true
    [ -n "$found" ] && echo "$found" | sed "s|^|  $artifacts/|"
  fi
  line=$(printf '%-18s %10s executions %8s exec/s  %s' "$t" "${runs:-?}" "${rate:-?}" "$verdict")
  echo "$line"
  summary+="$line"$'\n'
done
echo
echo "== summary (${SECONDS_EACH}s each)"
printf '%s' "$summary"
exit $failed
