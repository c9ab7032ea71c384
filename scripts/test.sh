#!/usr/bin/env bash
# The test command: installs what is missing, then builds and runs the whole
# suite three times (plain, ASan+UBSan, TSan), then builds and briefly runs
# the fuzz target, then builds the Debian
# packages and installs them in a fresh Debian root, then the tests that
# boot a real kernel in an emulated PC, then boots Debian with those
# packages installed in the emulated PC, then makes the box's disk image and
# boots it there. It ends with a summary of every stage and
# a last line "N passed, N failed" over the tests of the whole run, and
# exits non-zero when any stage failed.
set -uo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=tests/support/failure_line.sh
. tests/support/failure_line.sh
scripts/install-deps.sh test || exit 1

jobs=$(nproc)
summary=()
total_passed=0
total_failed=0

# Records a stage: its name, its test counts, whether it succeeded and, for
# a stage that failed, the line that says why (shown under it in the
# summary). A stage that failed without a failing test (a build that broke,
# a harness that could not start) counts as one failed test.
record() {
  local stage=$1 passed=$2 failed=$3 ok=$4 why=${5:-}
  if [ "$ok" != yes ] && [ "$failed" -eq 0 ]; then failed=1; fi
  total_passed=$((total_passed + passed))
  total_failed=$((total_failed + failed))
  local verdict=ok
  [ "$ok" = yes ] || verdict=FAILED
  summary+=("$(printf '%-14s %-6s %d passed, %d failed' "$stage" "$verdict" "$passed" "$failed")")
  if [ "$ok" != yes ] && [ -n "$why" ]; then summary+=("               $why"); fi
}

# The first test that ctest lists as failed in its log.
first_failed_test() {
  sed -n '/^The following tests FAILED:/{n;s/^[[:space:]]*//;p;q}' "$1"
}

# ctest's closing line: "100% tests passed, 0 tests failed out of 94".
ctest_counts() {
  sed -n 's/^[0-9]*% tests passed, \([0-9]*\) tests\{0,1\} failed out of \([0-9]*\)$/\1 \2/p' "$1" |
    tail -1
}

for variant in plain address thread; do
  sanitize=$variant
  [ "$variant" = plain ] && sanitize=""
  dir=build/test-$variant
  log=$dir/ctest.log
  echo "=== $variant: build"
  mkdir -p "$dir"
  if ! { cmake -S . -B "$dir" -G Ninja -DDISCBOX_WERROR=ON -DDISCBOX_SANITIZE="$sanitize" \
           -DDISCBOX_BUILD_BENCH=$([ "$variant" = plain ] && echo ON || echo OFF) >/dev/null &&
         cmake --build "$dir" -j "$jobs"; } 2>&1 | tee "$dir/build.log"; then
    record "$variant" 0 0 no "build: $(failure_line "$dir/build.log")"
    continue
  fi
  echo "=== $variant: tests"
  ok=yes
  (cd "$dir" && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
     UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
     TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
     ctest --output-on-failure -j "$jobs") 2>&1 | tee "$log" || ok=no
  read -r failed all <<<"$(ctest_counts "$log")"
  why=$(first_failed_test "$log")
  record "$variant" $((${all:-0} - ${failed:-0})) "${failed:-0}" "$ok" \
    "${why:+first failed: $why}"
done

# The frame reader's fuzz target: built the way scripts/fuzz.sh builds it,
# so that it cannot stop linking unseen, and run over its seeds and for a
# few seconds more.
echo "=== fuzz target"
mkdir -p build
if DISCBOX_WERROR=ON scripts/fuzz.sh 10 >build/fuzz-run.log 2>&1; then
  record "fuzz target" 1 0 yes
else
  tail -n 30 build/fuzz-run.log
  record "fuzz target" 0 1 no "$(failure_line build/fuzz-run.log)"
fi

# A stage that ends with "N passed, N failed": runs it and records its counts.
closing_stage() {
  local stage=$1 log=$2 ok=yes passed failed
  shift 2
  mkdir -p "$(dirname "$log")"
  "$@" 2>&1 | tee "$log" || ok=no
  read -r passed failed <<<"$(sed -n 's/^\([0-9]*\) passed, \([0-9]*\) failed$/\1 \2/p' "$log" | tail -1)"
  record "$stage" "${passed:-0}" "${failed:-0}" "$ok" "$(failure_line "$log")"
}

if [ -x tests/package/run.sh ]; then
  echo "=== Debian packages"
  closing_stage "packages" build/package-run.log tests/package/run.sh
fi

if [ -x tests/vm/run.sh ]; then
  echo "=== emulated PC"
  closing_stage "emulated PC" build/vm-run.log tests/vm/run.sh
fi

if [ -x tests/boot/run.sh ]; then
  echo "=== booted Debian"
  closing_stage "booted Debian" build/boot-run.log tests/boot/run.sh
fi

# The disk image, booted as the PC's disk by BIOS and by UEFI, through ten
# power cuts (IMAGE_TEST_I386=1 adds the i386 image).
if [ -x tests/image/run.sh ]; then
  echo "=== disk image"
  closing_stage "disk image" build/image-run.log tests/image/run.sh
fi

echo
echo "=== summary"
printf '%s\n' "${summary[@]}"
echo "$total_passed passed, $total_failed failed"
[ "$total_failed" -eq 0 ]
