#!/bin/sh
# The exit status of the benchmark programs: a failing side fails the
# program (status 1), a missing peer only skips its rows (status 0). Each
# program's smallest row with a berkeley-abc peer runs with a stand-in
# berkeley-abc that exits 3, then with none on PATH; then rows that fail on
# their own: an archive that cannot be written (no temporary directory) and
# a filter that selects no row.
# Usage: exit_status_test.sh BENCH_DIR (the directory of the built programs)
bench_dir=$1
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
printf '#!/bin/sh\nexit 3\n' >"$dir/berkeley-abc"
chmod +x "$dir/berkeley-abc"
tmp=${TMPDIR:-/tmp}
failed=0

# row WANT TMPDIR PROGRAM FILTER SHOWN: the rows FILTER selects, on a PATH of
# only $dir; fails unless the status is WANT and the output shows SHOWN.
row() {
  PATH="$dir" TMPDIR="$2" "$bench_dir/$3" --benchmark_filter="$4" --benchmark_min_time=0.01 >"$dir/log" 2>&1
  status=$?
  if ! grep -q -F -- "$5" "$dir/log" || [ "$status" -ne "$1" ]; then
    echo "$3 --benchmark_filter='$4': status $status, want $1 and '$5' shown:"
    cat "$dir/log"
    failed=1
  fi
}

# PROGRAM FILTER ROW: one row with a berkeley-abc peer per program.
peer_rows='kavu_delay_bench BM_WholeProcess/0/ BM_WholeProcess/0/
kavu_01tbl_resyn_bench BM_ResynAlu4IntoFourInputLuts BM_ResynAlu4IntoFourInputLuts
kavu_wysiwyg_unmapper_bench BM_UnmapPacked/0$ BM_UnmapPacked/0
kavu_utility_lutability_bench BM_Lutability/0$ BM_Lutability/0
netlist_io_bench BM_LoadLargestBundled BM_LoadLargestBundled'

while read -r program filter shown; do
  row 1 "$tmp" "$program" "$filter" "berkeley-abc failed (status 3)"  # the peer fails
done <<EOF
$peer_rows
EOF
rm "$dir/berkeley-abc"
while read -r program filter shown; do
  row 0 "$tmp" "$program" "$filter" "$shown"  # the peer is not installed
done <<EOF
$peer_rows
EOF

row 1 "$dir/missing" netlist_io_scaling_bench 'BM_Archive/10000/' "cannot make a temporary directory"
row 1 "$tmp" kavu_delay_bench 'NoSuchRow' "NoSuchRow"

[ "$failed" -eq 0 ] && echo "ok"
exit "$failed"
