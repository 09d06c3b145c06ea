#!/usr/bin/env bash
# Installs what is missing, builds and runs every test:
#   1. all tests under AddressSanitizer and UndefinedBehaviorSanitizer;
#   2. the task machinery's threading tests again under ThreadSanitizer;
#   3. every fuzz target for a short run (clang, libFuzzer): FUZZ_SECONDS (3)
#      each, two at a time; the corpora carry the depth, a longer run is
#      FUZZ_SECONDS=600 scripts/test.sh;
#   4. the installed tree and the Debian package, from a release build of their
#      own (build/package), the package installed and purged as root.
# The trees of 2-4 build while the tests of 1 run.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
"$top/scripts/install-deps.sh"
cd "$top"
status=0

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS=suppressions=$top/tests/lsan.supp
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS="suppressions=$top/tests/tsan.supp halt_on_error=1 second_deadlock_stack=1"

tsan=(build/tsan -DCMAKE_BUILD_TYPE=Debug -DQUORLIX_SANITIZE=thread -DQUORLIX_THREAD_TESTS_ONLY=ON)
fuzz=(build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORLIX_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++
      -DQUORLIX_FUZZ_SECONDS="${FUZZ_SECONDS:-3}")

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
scripts/build.sh build/asan -DCMAKE_BUILD_TYPE=Debug -DQUORLIX_SANITIZE=address,undefined
# Most tests wait on their peers more than they compute: the other trees build
# meanwhile, at the lowest priority, so that the tests keep the processors they ask for.
mkdir -p build
( set -e
  nice -n 19 scripts/build.sh "${tsan[@]}"
  nice -n 19 scripts/build.sh "${fuzz[@]}"
  nice -n 19 bash -c 'source tests/support/release-package.sh && BuildRelease'
) > build/background.log 2>&1 &
background=$!
ctest --test-dir build/asan --output-on-failure -j 2 -LE install || status=1
wait $background || { cat build/background.log; echo "building the other trees failed"; exit 1; }

echo "== ThreadSanitizer: the task machinery"
ctest --test-dir build/tsan --output-on-failure -j 2 -L threads || status=1

echo "== Fuzz targets, a short run each"
if [ -n "$(ls tests/fuzz/*_fuzz.cpp 2>/dev/null)" ]; then
  ctest --test-dir build/fuzz --output-on-failure -j 2 -L fuzz || status=1
fi
echo "== Installed tree and Debian package"
ctest --test-dir build/asan --output-on-failure -L install || status=1
exit $status
