#!/usr/bin/env bash
# shellcheck source-path=SCRIPTDIR
# The tests that boot a real Linux kernel in an emulated PC: sets the harness
# up once (packages, guest kernel, guest helpers), runs every *_test.sh suite
# beside this file, and closes with "N passed, N failed". Exits non-zero on
# any failure, and when no test ran.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=vm.sh
. "$here/vm.sh"
started=$SECONDS
# Runs in one tree share build/vm; a second run waits for the first.
mkdir -p "$VM_CACHE"
exec {lock}>"$VM_CACHE/run.lock"
flock "$lock"
vm_setup || {
  echo "0 passed, 1 failed"
  exit 1
}
export VM_RESULTS=$VM_WORK/results
: >"$VM_RESULTS"

for suite in "$here"/*_test.sh; do
  name=$(basename "$suite" .sh)
  echo "--- $name"
  bash "$suite" || echo "FAIL $name ended with status $?" | tee -a "$VM_RESULTS"
done

passed=$(grep -c '^PASS' "$VM_RESULTS")
failed=$(grep -c '^FAIL' "$VM_RESULTS")
echo "emulated PC: $((SECONDS - started)) s"
echo "$passed passed, $failed failed"
((failed == 0 && passed > 0))
