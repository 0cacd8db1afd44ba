#!/usr/bin/env bash
# The whole test suite built with AddressSanitizer and UndefinedBehaviorSanitizer: any memory error,
# undefined behaviour or leak fails the test it happens in. Leaks inside system libraries that the
# panel cannot free are suppressed in tests/lsan.supp, each with its reason.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
BUILD_DIR=${ASAN_BUILD_DIR:-build-asan}
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVRION_SANITIZE=ON >/dev/null
cmake --build "$BUILD_DIR" -j"${JOBS:-$(nproc)}"
cd "$BUILD_DIR"
# LSAN_OPTIONS (the suppressions) is set per test by tests/CMakeLists.txt.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"${TEST_JOBS:-2}" --timeout 600
