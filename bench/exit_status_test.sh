#!/bin/sh
# The exit status of the benchmark programs: a failing side fails the
# program (status 1), a missing peer only skips its rows (status 0). One row
# of every program with a berkeley-abc peer, and the whole-process rows of
# the programs with a yosys or sta peer, run on a PATH of stand-in peers:
# one that exits 3; one that prints the peer's error and exits 0 (abc
# answers a file it cannot read so); one that prints only its banner and
# exits 0 (it did no work: no figure of its own); one that prints a label
# of its figure without the number ("nd = z") and exits 0. Each must fail
# its row with the peer's status, as a failure, never as a difference from
# the peer. Then a stand-in that hangs waiting on a child, under a peer
# time limit of 1 s (KAVU_BENCH_PEER_TIMEOUT_S): each row must fail with
# "<peer> timed out after 1 s" (they waited without a limit) and leave no
# child running (the in-process oracles killed the stand-in alone). Then
# they run with no peer on PATH, which only skips the peer's rows or
# figures. The stand-ins print terminal escapes: none may reach the output
# raw. Then the in-process rows told SIGINT while the hanging stand-in runs:
# each dies of the signal and leaves no child running; a whole-process row
# told SIGTERM alone leaves no child and no work directory. Then an sta that
# prints its error and goes on, ending with status 0 (OpenSTA after a
# read_liberty that fails), and ones that print no figure of their own
# (a word or INF for a slack), under every row of sta; rows that fail on
# their own: an archive that cannot be written (no temporary directory) and
# a filter that selects no row.
# Usage: exit_status_test.sh BENCH_DIR (the directory of the built programs)
bench_dir=$1
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
tmp=${TMPDIR:-/tmp}
esc=$(printf '\033')
failed=0

# row WANT TMPDIR PROGRAM FILTER SHOWN [HIDDEN]: the rows FILTER selects, on
# a PATH of only $dir; fails unless the status is WANT, the output shows
# SHOWN, does not show HIDDEN (when given) and holds none of the stand-ins'
# escapes raw (the console's own colours are no peer's output).
row() {
  PATH="$dir" TMPDIR="$2" "$bench_dir/$3" --benchmark_filter="$4" --benchmark_min_time=0.01 >"$dir/log" 2>&1
  status=$?
  if ! grep -q -F -- "$5" "$dir/log" || [ "$status" -ne "$1" ] ||
    grep -q -F -e "$esc[2J" -e "$esc]0;" -e "$esc[1;37m" "$dir/log" ||
    { [ -n "$6" ] && grep -q -F -- "$6" "$dir/log"; }; then
    echo "$3 --benchmark_filter='$4': status $status, want $1, '$5' shown${6:+, '$6' not shown}, no raw escape:"
    cat -v "$dir/log"
    failed=1
  fi
}

# stand_ins STATUS TEXT: berkeley-abc, yosys and sta on $dir that print TEXT
# (a printf format, without '%' or a single quote) and exit with STATUS.
stand_ins() {
  for peer in berkeley-abc yosys sta; do
    printf "#!/bin/sh\nprintf '%s'\nexit %s\n" "$2" "$1" >"$dir/$peer"
    chmod +x "$dir/$peer"
  done
}

# PROGRAM PEER FILTER ROW [HIDDEN]: HIDDEN is what the row must not show
# without its peer (a peer figure).
peer_rows='kavu_01tbl_canon_bench berkeley-abc BM_AbcSemiCanonical/4/ BM_AbcSemiCanonical/4/
kavu_01tbl_fd_bench berkeley-abc BM_AbcInto4Luts/inputs:8/composed:0/ BM_AbcInto4Luts/inputs:8/composed:0/
kavu_01tbl_resyn_bench berkeley-abc BM_ResynAlu4IntoFourInputLuts BM_ResynAlu4IntoFourInputLuts abc_if_K4_luts
kavu_cut_bench berkeley-abc AbcCut/ctrl/K:4/ AbcCut/ctrl/K:4/
kavu_cut_bench berkeley-abc KavuCutPeak/ctrl/K:4/ KavuCutPeak/ctrl/K:4/
kavu_delay_bench berkeley-abc BM_WholeProcess/0/ BM_WholeProcess/0/
kavu_lut_unmapper_bench berkeley-abc BM_WholeProcess/4/ BM_WholeProcess/4/
kavu_stats_bench berkeley-abc BM_WholeProcess/1/ BM_WholeProcess/1/
kavu_utility_lutability_bench berkeley-abc BM_Lutability/0$ BM_Lutability/0 abc_luts
kavu_wysiwyg_unmapper_bench berkeley-abc BM_UnmapPacked/0$ BM_UnmapPacked/0 abc_and_per_lut
netlist_io_bench berkeley-abc BM_LoadLargestBundled BM_LoadLargestBundled abc_ms
netlist_io_memory_bench berkeley-abc BM_ReadWritePeak_chain BM_ReadWritePeak_chain
kavu_dff_helper_sync_bench yosys BM_WholeProcessEnables/3/ BM_WholeProcessEnables/3/
kavu_utility_indy_dupe_bench yosys BM_WholeProcess/0/ BM_WholeProcess/0/
kavu_stats_bench yosys BM_Tally/1$ BM_Tally/1
kavu_ssc_bench sta BM_WholeProcess/0/ BM_WholeProcess/0/
kavu_ssc_bench sta BM_ManyPathCommands BM_ManyPathCommands
kavu_ssc_bench sta BM_ManyMaxDelayRules BM_ManyMaxDelayRules'

# STATUS TEXT of the failing stand-ins.
for stand_in in '3 \033[2Jfailed\n' \
  '0 Cannot open input file "in.blif". \nError: Empty network.\033]0;PWNED\007\n' \
  '0 ABC command line: "\033[1;37mread in.blif\033[0m".\n\n' \
  '0 garbage nd = z\033[2J\n'; do
  stand_ins "${stand_in%% *}" "${stand_in#* }"
  while read -r program peer filter shown hidden; do
    row 1 "$tmp" "$program" "$filter" "$peer failed (status ${stand_in%% *}" "differ from the peer"
  done <<END
$peer_rows
END
done

# no_child_left PROGRAM FILTER: every child the hanging stand-ins started
# (their ids in $dir/children) has ended, within some 2 s of the row; the
# ones left are named and ended here.
no_child_left() {
  for child in $(cat "$dir/children" 2>/dev/null); do
    for wait in 1 2 3 4 5 6 7 8 9 10; do
      state=$(sed 's/.*) //' "/proc/$child/stat" 2>/dev/null | cut -c1)
      { [ -z "$state" ] || [ "$state" = Z ]; } && break
      sleep 0.2
    done
    if [ -n "$state" ] && [ "$state" != Z ]; then
      echo "$1 --benchmark_filter='$2': the stand-in's child $child was left running"
      kill "$child"
      failed=1
    fi
  done
  : >"$dir/children"
}

sleep_program=$(command -v sleep)  # the stand-ins' PATH holds only themselves
for peer in berkeley-abc yosys sta; do
  printf '#!/bin/sh\n%s 60 &\necho $! >>%s/children\nwait\n' "$sleep_program" "$dir" >"$dir/$peer"
  chmod +x "$dir/$peer"
done
export KAVU_BENCH_PEER_TIMEOUT_S=1
while read -r program peer filter shown hidden; do
  row 1 "$tmp" "$program" "$filter" "$peer timed out after 1 s" "differ from the peer"
  no_child_left "$program" "$filter"
done <<END
$peer_rows
END
unset KAVU_BENCH_PEER_TIMEOUT_S

# Told to end (Ctrl-C) while an in-process peer runs, a program dies of the
# signal and takes the peer's child along (the child ran on under init).
env_program=$(command -v env)
for filter in 'kavu_stats_bench BM_Tally/1$' 'kavu_ssc_bench BM_WholeProcess/0/'; do
  program=${filter%% *} filter=${filter#* }
  PATH="$dir" "$env_program" --default-signal=INT "$bench_dir/$program" --benchmark_filter="$filter" >"$dir/log" 2>&1 &
  pid=$!
  for wait in $(seq 300); do [ -s "$dir/children" ] && break; sleep 0.1; done
  kill -INT "$pid"
  wait "$pid"
  status=$?
  if [ "$status" -ne 130 ]; then
    echo "$program --benchmark_filter='$filter' told SIGINT: status $status, want 130:"
    cat -v "$dir/log"
    failed=1
  fi
  no_child_left "$program" "$filter"
done

# Told SIGTERM alone (kill PID) during a whole-process row, a program ends
# its launcher, the peer and the peer's child (they ran on until the time
# limit), and leaves no work directory in TMPDIR.
mkdir "$dir/tmp"
PATH="$dir" TMPDIR="$dir/tmp" "$env_program" --default-signal=TERM "$bench_dir/kavu_delay_bench" \
  --benchmark_filter='BM_WholeProcess/0/' >"$dir/log" 2>&1 &
pid=$!
for wait in $(seq 300); do [ -s "$dir/children" ] && break; sleep 0.1; done
kill -TERM "$pid"
wait "$pid"
status=$?
if [ "$status" -ne 143 ] || [ -n "$(ls -A "$dir/tmp")" ]; then
  echo "kavu_delay_bench told SIGTERM: status $status, want 143; left in TMPDIR: $(ls -A "$dir/tmp")"
  cat -v "$dir/log"
  failed=1
fi
no_child_left kavu_delay_bench BM_WholeProcess/0/

# OpenSTA reports a command that fails and goes on: its worst slack is then
# no figure (the row once blamed the engine for sta's unconstrained slack).
printf "#!/bin/sh\nprintf 'Error: cannot read file nosuch.lib.\\nKAVU_WORST INF\\n'\n" >"$dir/sta"
for filter in BM_WholeProcess/0/ BM_ManyPathCommands BM_ManyMaxDelayRules; do
  row 1 "$tmp" kavu_ssc_bench "$filter" "sta failed (status 0, it printed an error): Error: cannot read file nosuch.lib." \
    "differ from the peer"
done
# An sta that ends with status 0 without a figure of its own: a worst slack
# that is no number, or "INF" (no path at all) after a warning, and slacks
# of every pin asked for that are no number. Each is sta's failure (a word
# was read as 0, INF as unconstrained: a difference blamed on the engine).
sed_program=$(command -v sed)
cat >"$dir/pins_z" <<END
#!/bin/sh
for a; do script=\$a; done
$sed_program -n 's/^puts "KAVU_PIN \([0-9]*\) .*/KAVU_PIN \1 z/p' "\$script"
echo 'KAVU_WORST 0'
END
for stand_in in 'KAVU_WORST z' 'Warning: no paths found.\nKAVU_WORST INF' pins_z; do
  if [ "$stand_in" = pins_z ]; then filters=BM_WholeProcess/0/; mv "$dir/pins_z" "$dir/sta"
  else filters='BM_ManyPathCommands BM_ManyMaxDelayRules'
    printf "#!/bin/sh\nprintf '%s\\n'\n" "$stand_in" >"$dir/sta"
  fi
  chmod +x "$dir/sta"
  for filter in $filters; do
    row 1 "$tmp" kavu_ssc_bench "$filter" "sta failed (status 0" "differ from the peer"
  done
done
rm "$dir/berkeley-abc" "$dir/yosys" "$dir/sta"
while read -r program peer filter shown hidden; do
  row 0 "$tmp" "$program" "$filter" "$shown" "$hidden"  # the peer is not installed
done <<END
$peer_rows
END

row 1 "$dir/missing" netlist_io_scaling_bench 'BM_Archive/10000/' "cannot make a temporary directory"
row 1 "$tmp" kavu_delay_bench 'NoSuchRow' "NoSuchRow"

[ "$failed" -eq 0 ] && echo "ok"
exit "$failed"
