#!/usr/bin/env bash
# One full 7-channel conversion checked for invalid accesses and leaks.
#   memcheck.sh BIN PROBE   under valgrind memcheck; PROBE is a program that only loads the
#                           FFmpeg libraries, run under valgrind first
#   memcheck.sh BIN         BIN built with AddressSanitizer: LeakSanitizer checks at exit
# Exits 77 (reported as skipped) when valgrind cannot run the probe because it does not know an
# instruction in one of the system's libraries: then it cannot run any program that loads them,
# and the sanitizer build covers the check on that machine.
set -euo pipefail
bin=$1
probe=${2:-}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

memcheck=(valgrind --error-exitcode=1 --leak-check=full --show-leak-kinds=definite,indirect
          --errors-for-leak-kinds=definite,indirect -q)
if [ -n "$probe" ]; then
  # Not quiet: valgrind names an instruction it does not know only in its full output.
  # (The braces keep the shell's own line about the killed valgrind out of the output.)
  if ! { valgrind --error-exitcode=1 "$probe" > "$dir/probe.log" 2>&1; } 2>/dev/null; then
    if grep -q "Unrecognised instruction" "$dir/probe.log"; then
      where=$(grep -m1 -E '^==[0-9]+== +at ' "$dir/probe.log" | sed -E 's/^==[0-9]+== +at 0x[0-9A-F]+: //')
      when=""
      grep -q "_dl_init" "$dir/probe.log" && when=" while the libraries load, before main,"
      echo "SKIPPED: valgrind $(valgrind --version | sed 's/^valgrind-//') stops on an instruction"\
           "it does not know in ${where:-a system library}$when in a program that only loads"\
           "FFmpeg's libraries; it cannot run the converter on this processor."\
           "The AddressSanitizer build checks the same conversion for leaks and invalid accesses."
      grep -E "unhandled instruction bytes|Unrecognised instruction| (at|by) 0x" "$dir/probe.log" | head -n 8
      exit 77
    fi
    cat "$dir/probe.log"
    echo "valgrind fails on a program that only loads FFmpeg's libraries"
    exit 1
  fi
  check=("${memcheck[@]}")
  tool=memcheck
else
  export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=1
  check=()
  tool=LeakSanitizer
fi

"$bin/vyrk-sample" -o "$dir/r.Vyrk" --channels 7 --seconds 1 --width 160 --height 96 --quiet
if ! "${check[@]}" "$bin/vyrk2mp4" --log "$dir/diagnostics.log" -o "$dir/out" "$dir/r.Vyrk" \
     > "$dir/log" 2>&1; then
  cat "$dir/log"
  exit 1
fi
grep -c "written" "$dir/log" | grep -qx 7 || { cat "$dir/log"; echo "not every channel was written"; exit 1; }
echo "$tool: 7 channels converted, no errors, no leaks"
