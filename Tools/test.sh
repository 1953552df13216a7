#!/usr/bin/env bash
# Builds every test and benchmark with the sanitizers (installing what they need) and runs the tests,
# then builds the fuzz targets with clang and runs each for a short bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."
bash Tools/install-packages.sh $(cat Tools/packages-build.txt Tools/packages-test.txt)
# The MAVLink peer tests install an npm package: Debian's nodejs comes without npm, other builds of
# nodejs bring their own.
command -v npm >/dev/null || bash Tools/install-packages.sh npm
jobs=$(nproc)
# Every folder includes only from itself and the folders its library links, in the folders' order.
/usr/bin/python3 Tools/check_layers.py
cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORVIK_TESTS=ON -DORVIK_SANITIZE=ON >/dev/null
cmake --build build/test
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVIK_FUZZ=ON \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build/fuzz --target fuzz_targets
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
status=0
(cd build/test && xvfb-run -a -s "-screen 0 1280x800x24" ctest --output-on-failure -j "$jobs" --timeout 600) || status=1
(cd build/fuzz && ctest --output-on-failure -j "$jobs" --timeout 300) || status=1
exit $status
