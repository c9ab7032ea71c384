#!/usr/bin/env bash
# The test command: installs what is missing, then builds and runs the whole
# suite three times (plain, ASan+UBSan, TSan), then the tests that boot a
# real kernel in an emulated PC.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test

jobs=$(nproc)
status=0
for variant in plain address thread; do
  sanitize=$variant
  [ "$variant" = plain ] && sanitize=""
  dir=build/test-$variant
  echo "=== $variant: build"
  cmake -S . -B "$dir" -G Ninja -DDISCBOX_WERROR=ON -DDISCBOX_SANITIZE="$sanitize" \
    -DDISCBOX_BUILD_BENCH=$([ "$variant" = plain ] && echo ON || echo OFF) >/dev/null
  cmake --build "$dir" -j "$jobs"
  echo "=== $variant: tests"
  (cd "$dir" && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
     UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
     TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
     ctest --output-on-failure -j "$jobs") || status=1
done

if [ -x tests/vm/run.sh ]; then
  echo "=== emulated PC"
  tests/vm/run.sh || status=1
fi
exit $status
