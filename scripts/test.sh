#!/usr/bin/env bash
# Installs what is missing, builds and runs every test:
#   1. all tests under AddressSanitizer and UndefinedBehaviorSanitizer;
#   2. the task machinery's threading tests again under ThreadSanitizer;
#   3. every fuzz target for a short run (clang, libFuzzer): FUZZ_SECONDS (3)
#      each, two at a time; the corpora carry the depth, a longer run is
#      FUZZ_SECONDS=600 scripts/test.sh;
#   4. the installed tree and the Debian package, from a release build of their
#      own (build/package), the package installed and purged as root.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
"$top/scripts/install-deps.sh"
cd "$top"
status=0

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS=suppressions=$top/tests/lsan.supp
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS="suppressions=$top/tests/tsan.supp halt_on_error=1 second_deadlock_stack=1"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
scripts/build.sh build/asan -DCMAKE_BUILD_TYPE=Debug -DQUORLIX_SANITIZE=address,undefined
ctest --test-dir build/asan --output-on-failure -j 2 -LE install || status=1

echo "== ThreadSanitizer: the task machinery"
scripts/build.sh build/tsan -DCMAKE_BUILD_TYPE=Debug -DQUORLIX_SANITIZE=thread -DQUORLIX_THREAD_TESTS_ONLY=ON
ctest --test-dir build/tsan --output-on-failure -L threads || status=1

echo "== Fuzz targets, a short run each"
scripts/build.sh build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORLIX_FUZZ=ON \
  -DCMAKE_CXX_COMPILER=clang++ -DQUORLIX_FUZZ_SECONDS="${FUZZ_SECONDS:-3}"
if [ -n "$(ls tests/fuzz/*_fuzz.cpp 2>/dev/null)" ]; then
  ctest --test-dir build/fuzz --output-on-failure -j 2 -L fuzz || status=1
fi
echo "== Installed tree and Debian package"
ctest --test-dir build/asan --output-on-failure -L install || status=1
exit $status
