#!/usr/bin/env bash
# Builds with ThreadSanitizer in build/tsan and runs the capture, render and controller
# tests under it, with the private X server and sound server of the ordinary test run.
# Slow (a separate build, every memory access checked): run by hand. Arguments go to each
# test program (for example --gtest_filter=Exporter.*).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build/tsan"
jobs="${VANTRY_JOBS:-3}"
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTRY_TSAN=ON \
  "${launcher[@]}"

programs=(vantry_capture_tests vantry_render_tests)
[[ -d "$root/tests/studio" ]] && programs+=(vantry_studio_tests)
cmake --build "$build" -j "$jobs" --target "${programs[@]}"

source "$root/scripts/test-services.sh"
start_test_services
trap stop_test_services EXIT

export TSAN_OPTIONS="suppressions=$root/scripts/tsan.supp second_deadlock_stack=1 exitcode=66"
export QT_QPA_PLATFORM=offscreen
# ThreadSanitizer needs the fixed memory layout that address randomisation breaks on
# newer kernels.
norandom=()
if command -v setarch >/dev/null; then norandom=(setarch "$(uname -m)" -R); fi

status=0
for program in "${programs[@]}"; do
  echo "== $program"
  "${norandom[@]}" "$build/tests/$program" "$@" || status=1
done
exit "$status"
