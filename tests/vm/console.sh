# shellcheck shell=bash
# Reads back what a guest run left: its serial console and its port trace.
# Sourced by vm.sh. The console carries the guest's lines with CR LF endings;
# each step of a guest script begins with "@@ step N NAME" (guest.sh).
#
# vm_check_console CONSOLE
#     Fails, saying why, when the guest kernel oopsed, hit a BUG or
#     panicked, when the guest did not finish (hung, or stopped early), or
#     when its script ended with a status other than 0.
# vm_step_lines CONSOLE STEP      the lines the guest printed in STEP
# vm_fact CONSOLE STEP KEY        the output of "vm_show KEY ..." in STEP
# vm_status CONSOLE STEP KEY      the exit status of "vm_show KEY ..." in STEP
# vm_port_writes TRACE CONSOLE STEP
#     The writes to the parallel port made during STEP, one "OFFSET VALUE" a
#     line in hexadecimal (offset 0x02 is the control register). The trace's
#     lines may carry qemu's time stamp in front.
# vm_step_screens DISPLAY CONSOLE STEP
#     The screens port-replay printed (to DISPLAY) for STEP's writes, in
#     order, one "|line 1|line 2|" a line.
# vm_trace_first_showing TRACE REPLAY TEXT
#     The number of the first line of TRACE by which the display, replayed
#     by the program REPLAY (port-replay), has shown a line starting with
#     TEXT (the trace's length when it never did).
# vm_trace_time TRACE LINE        the host's time stamp of that line, seconds

vm_console_text() {
  tr -d '\r' <"$1"
}

vm_check_console() {
  local text failure status
  text=$(vm_console_text "$1")
  failure=$(grep -m 1 -n -E 'Oops|BUG:|Kernel panic' <<<"$text")
  if [ -n "$failure" ]; then
    echo "kernel failure in the guest, console line ${failure%%:*}:"
    grep -A 12 -E 'Oops|BUG:|Kernel panic' <<<"$text" | head -n 30 | sed 's/^/  | /'
    return 1
  fi
  status=$(sed -n 's/^@@ guest-exit //p' <<<"$text")
  if [ -z "$status" ]; then
    echo "the guest did not finish; its console ends with:"
    tail -n 10 <<<"$text" | sed 's/^/  | /'
    return 1
  fi
  if [ "$status" != 0 ]; then
    echo "the guest's script ended with status $status"
    return 1
  fi
}

vm_step_lines() {
  vm_console_text "$1" | awk -v step="$2" '
    /^@@ / { inside = ($2 == "step" && $4 == step); next }
    inside'
}

vm_fact() {
  vm_step_lines "$1" "$2" | sed -n "s/^$3> //p"
}

vm_status() {
  vm_step_lines "$1" "$2" | sed -n "s/^$3? //p"
}

# The number of STEP in CONSOLE.
vm_step_number() {
  vm_console_text "$1" | awk -v step="$2" '
    $1 == "@@" && $2 == "step" && $4 == step { print $3; exit }'
}

vm_step_screens() {
  local number
  number=$(vm_step_number "$2" "$3")
  [ -n "$number" ] || return 1
  awk -v mark="@@ step $number" '
    /^@@ step / { inside = ($0 == mark); next }
    inside && /^\|/' "$1"
}

vm_port_writes() {
  local number
  number=$(vm_step_number "$2" "$3")
  [ -n "$number" ] || return 1
  # Marks are writes to offset 7 (trace_mark); a step's writes are those
  # between its mark and the next one.
  awk -v mark="$(printf '0x%02x' "$number")" '
    /parallel_ioport_write/ {
      offset = ""; value = ""
      for (i = 1; i < NF; i++) {
        if ($i == "addr") offset = $(i + 1)
        if ($i == "val") value = $(i + 1)
      }
      if (offset == "0x07") { inside = (value == mark); next }
      if (inside) print offset, value
    }' "$1"
}

vm_trace_first_showing() {
  local trace=$1 replay=$2 text=$3 low=1 high middle
  high=$(wc -l <"$trace")
  # The shortest start of the trace whose replay shows it.
  while ((low < high)); do
    middle=$(((low + high) / 2))
    if head -n "$middle" "$trace" | "$replay" - 2>/dev/null | grep -qF "|$text"; then
      high=$middle
    else
      low=$((middle + 1))
    fi
  done
  echo "$low"
}

vm_trace_time() {
  sed -n "${2}s/^[0-9]*@\([0-9.]*\):.*/\1/p" "$1"
}
