#!/usr/bin/env bash
# Builds every test and benchmark with the sanitizers (installing what they need) and runs the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
bash Tools/install-packages.sh $(cat Tools/packages-build.txt Tools/packages-test.txt)
cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORVIK_TESTS=ON -DORVIK_SANITIZE=ON >/dev/null
cmake --build build/test
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
cd build/test
xvfb-run -a -s "-screen 0 1280x800x24" ctest --output-on-failure -j "$(nproc)" --timeout 600
