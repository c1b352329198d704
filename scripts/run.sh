#!/usr/bin/env bash
# Installs what is missing, builds a release and starts Vantry.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build/release" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVANTRY_TESTS=OFF
cmake --build "$root/build/release" --target vantry
exec "$root/build/release/src/vantry" "$@"
