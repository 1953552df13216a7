#!/usr/bin/env bash
# Builds the platform, flight-log and video tests with ThreadSanitizer (a build folder of their own)
# and runs them; any race report fails the run. Not part of Tools/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
bash Tools/install-packages.sh $(cat Tools/packages-build.txt Tools/packages-test.txt)
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORVIK_TESTS=ON -DORVIK_TSAN=ON >/dev/null
cmake --build build/tsan --target PlatformTests FlightLogsTests VideoTests orvik
export TSAN_OPTIONS="suppressions=$PWD/Tools/tsan-suppressions.txt halt_on_error=1 exitcode=66"
export ORVIK_SOURCE_DIR="$PWD"
cd build/tsan
status=0
for tests in Tests/Platform/PlatformTests Tests/FlightLogs/FlightLogsTests Tests/Video/VideoTests; do
    xvfb-run -a -s "-screen 0 1280x800x24" "./$tests" || status=1
done
exit $status
