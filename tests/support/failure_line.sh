# shellcheck shell=bash
# The one line of a step's log that says why the step failed, so that a
# failing stage names its cause instead of pointing from log to log.
#
# failure_line LOG [FROM]: of LOG's lines after line FROM (default 0), the
# first that reads as a failure (a stage's own "FAIL ..." line, a compiler's
# or dpkg's "error:", apt's "E:", a fatal error, unmet dependencies), else
# the last line that is not blank; nothing when there are none.
failure_line() {
  local log=$1 from=${2:-0} lines
  [ -f "$log" ] || return 0
  lines=$(tail -n +"$((from + 1))" "$log")
  grep -m 1 -iE '^FAIL |error:|^E: |fatal|unmet' <<<"$lines" ||
    grep -v '^[[:space:]]*$' <<<"$lines" | tail -n 1
  return 0
}
