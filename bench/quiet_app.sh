#!/usr/bin/env bash
# Runs bench_quiet_app of the Release build on a private 1920 x 1080 Xvfb and a private
# sound server with a null sink (the test services): bench/quiet_app.sh [SECONDS]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
binary="${BENCH_BINARY:-$root/build/release/bench/bench_quiet_app}"
source "$root/scripts/test-services.sh"
start_test_services
trap stop_test_services EXIT
"$binary" "$@"
