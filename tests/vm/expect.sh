# shellcheck shell=bash
# The tally of the emulated-PC tests. A test groups the expectations about
# one behaviour and passes when all of them hold; every test adds one
# "PASS NAME" or "FAIL NAME" line to $VM_RESULTS, which run.sh counts.
# Sourced by vm.sh.
#
#   vm_test NAME                        begins a test
#   vm_expect_equal WHAT WANT GOT       WANT and GOT must be the same text
#   vm_expect WHAT COMMAND...           COMMAND must succeed
#   vm_test_done                        records the result

vm_test() {
  vm_test_name=$1
  vm_test_failures=0
}

vm_test_failed() {
  vm_test_failures=$((vm_test_failures + 1))
  echo "  $vm_test_name: $1"
}

vm_expect_equal() {
  [ "$2" = "$3" ] && return 0
  vm_test_failed "$1"
  printf '%s\n' "${2:-(nothing)}" | sed 's/^/      want | /'
  printf '%s\n' "${3:-(nothing)}" | sed 's/^/      got  | /'
}

vm_expect() {
  local what=$1
  shift
  "$@" >/dev/null 2>&1 || vm_test_failed "$what"
}

vm_test_done() {
  local result=PASS
  ((vm_test_failures == 0)) || result=FAIL
  echo "$result $vm_test_name"
  echo "$result $vm_test_name" >>"${VM_RESULTS:-/dev/null}"
}
