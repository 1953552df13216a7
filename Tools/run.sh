#!/usr/bin/env bash
# Builds the program (installing what the build needs) and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash Tools/install-packages.sh $(cat Tools/packages-build.txt Tools/packages-run.txt)
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVIK_TESTS=OFF >/dev/null
cmake --build build/release --target orvik
exec ./build/release/orvik "$@"
