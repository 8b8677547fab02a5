#!/bin/sh
# The exit status of a benchmark program when its peer fails and when its
# peer is not installed: a failing side fails the program (status 1), a
# missing peer only skips its rows (status 0). Runs the whole-process row
# of the delay benchmark with a stand-in berkeley-abc that exits 3, then
# with none on PATH.
# Usage: exit_status_test.sh PATH/TO/kavu_delay_bench
bench=$1
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
printf '#!/bin/sh\nexit 3\n' >"$dir/berkeley-abc"
chmod +x "$dir/berkeley-abc"

run() {  # run WANT: the row on a PATH of only $dir; fails unless the status is WANT
  PATH="$dir" "$bench" --benchmark_filter='BM_WholeProcess/0/' >"$dir/log" 2>&1
  status=$?
  if ! grep -q 'BM_WholeProcess/0/' "$dir/log" || [ "$status" -ne "$1" ]; then
    echo "status $status, want $1:"
    cat "$dir/log"
    exit 1
  fi
}

run 1  # the peer fails
rm "$dir/berkeley-abc"
run 0  # the peer is not installed
echo "ok"
