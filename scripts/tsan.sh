#!/usr/bin/env bash
# Builds with ThreadSanitizer in build/tsan and runs the platform, capture, render,
# controller and app tests under it, with the private X server and sound server of the
# ordinary test run. First a seeded race must be reported: a checker that stays silent
# there (its suppressions hiding our own code, say) proves nothing. Slow (a separate build,
# every memory access checked): run by hand. Arguments go to each test program (for
# example --gtest_filter=Exporter.*). Fails on any report, and on a failed test.
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

programs=(vantry_platform_tests vantry_capture_tests vantry_render_tests)
for layer in studio app; do
  [[ -d "$root/tests/$layer" ]] && programs+=("vantry_${layer}_tests")
done
cmake --build "$build" -j "$jobs" --target vantry_seeded_race "${programs[@]}"

source "$root/scripts/test-services.sh"
start_test_services
trap stop_test_services EXIT

export TSAN_OPTIONS="suppressions=$root/scripts/tsan.supp second_deadlock_stack=1 exitcode=66 die_after_fork=0"
export QT_QPA_PLATFORM=offscreen
# ThreadSanitizer needs the fixed memory layout that address randomisation breaks on
# newer kernels.
norandom=()
if command -v setarch >/dev/null; then norandom=(setarch "$(uname -m)" -R); fi
logs="$build/tsan-logs"
mkdir -p "$logs"

echo "== vantry_seeded_race"
if "${norandom[@]}" "$build/tests/vantry_seeded_race" >"$logs/seeded_race.log" 2>&1 ||
  ! grep -q "seeded_race.cpp" "$logs/seeded_race.log"; then
  cat "$logs/seeded_race.log"
  echo "ThreadSanitizer did not report the seeded race: check scripts/tsan.supp and the build." >&2
  exit 1
fi
echo "reported, as it must be"

status=0
summary=()
for program in "${programs[@]}"; do
  echo "== $program"
  rc=0
  "${norandom[@]}" "$build/tests/$program" "$@" 2>&1 | tee "$logs/$program.log" ||
    rc=$?
  reports=$(grep -c "^WARNING: ThreadSanitizer" "$logs/$program.log" || true)
  failed=$(grep -c "^\[  FAILED  \] .* ms)$" "$logs/$program.log" || true)
  summary+=("$program: $reports reports, $failed failed tests")
  [[ $rc -ne 0 || $reports -ne 0 ]] && status=1
done
echo "== summary (logs in $logs)"
printf '%s\n' "${summary[@]}"
exit "$status"
