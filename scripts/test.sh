#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and UndefinedBehaviorSanitizer,
# starts the services the tests use (an Xvfb server and a PulseAudio daemon with a null
# sink, both private to this run) and runs every test through CTest.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build/sanitize"
bash "$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVANTRY_SANITIZE=ON
cmake --build "$build" -j "$(nproc)"

source "$root/scripts/test-services.sh"
start_test_services
trap stop_test_services EXIT

# Leaks fail the run; the few of libraries that are not ours are listed in the file.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0"
export LSAN_OPTIONS="suppressions=$root/scripts/lsan-suppressions.txt:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
cd "$build"
ctest --output-on-failure -j "$(nproc)" "$@"
