#!/bin/sh
# The installed package as a consumer sees it, in three steps that the
# tests run in order:
#   install PREFIX CMAKE GENERATOR MAKE_PROGRAM CXX FLAGS BUILD_DIR
#       installs the build BUILD_DIR into the fresh prefix PREFIX
#   build PREFIX CMAKE GENERATOR MAKE_PROGRAM CXX FLAGS SOURCE_DIR BINARY_DIR [PROGRAM]
#       configures and builds the project SOURCE_DIR against the package in
#       PREFIX alone (an install prefix or a build tree), then runs PROGRAM
#       of it when given
#   run RUN_DIR PROGRAM IN.blif PATTERN
#       runs PROGRAM IN.blif RUN_DIR/out.blif in the fresh directory RUN_DIR
#       with a PATH of system directories only, and checks that its output
#       has a line matching PATTERN (grep) and that it wrote out.blif
#   refuse RUN_DIR PROGRAM IN.blif PATTERN [BLOCKS]
#       the same run (under "ulimit -f BLOCKS" when given), which must fail:
#       status 1, a line matching PATTERN, and nothing written in RUN_DIR
#       but the output (no out.blif, no temporary beside it)
# Exit status 77 (the tests' skip code) when cmake or the build program is
# missing; otherwise that of the first step that fails.
set -eu
mode=$1
shift
if [ "$mode" = refuse ]; then
  run=$1 program=$2 in=$3 pattern=$4 blocks=${5:-unlimited}
  rm -rf "$run"
  mkdir -p "$run"
  cd "$run"
  status=0
  (ulimit -f "$blocks" && PATH=/usr/local/bin:/usr/bin:/bin exec "$program" "$in" "$run/out.blif") \
    >"$run/output.txt" 2>&1 || status=$?
  cat "$run/output.txt"
  [ "$status" -eq 1 ] || { echo "failed: $program exited with status $status, not 1"; exit 1; }
  grep -q "$pattern" "$run/output.txt" || { echo "failed: no line matches '$pattern'"; exit 1; }
  left=$(ls -A "$run" | grep -v '^output\.txt$' || true)
  [ -z "$left" ] || { echo "failed: it left $left"; exit 1; }
  exit 0
fi
if [ "$mode" = run ]; then
  run=$1 program=$2 in=$3 pattern=$4
  rm -rf "$run"
  mkdir -p "$run"
  cd "$run"
  # Nothing but the package tells the program where its helper is.
  PATH=/usr/local/bin:/usr/bin:/bin "$program" "$in" "$run/out.blif" >"$run/output.txt" 2>&1 || {
    status=$?
    cat "$run/output.txt"
    echo "failed: $program exited with status $status"
    exit 1
  }
  cat "$run/output.txt"
  grep -q "$pattern" "$run/output.txt" || { echo "failed: no line matches '$pattern'"; exit 1; }
  [ -s "$run/out.blif" ] || { echo "failed: $run/out.blif was not written"; exit 1; }
  exit 0
fi

prefix=$1 cmake=$2 generator=$3 make_program=$4 cxx=$5 flags=$6
shift 6
for tool in "$cmake" "$make_program"; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "skipped: $tool not found"
    exit 77
  fi
done
case $mode in
  install)
    rm -rf "$prefix"
    "$cmake" --install "$1" --prefix "$prefix" >/dev/null
    ;;
  build)
    source=$1 binary=$2 program=${3:-}
    rm -rf "$binary"
    "$cmake" -S "$source" -B "$binary" -G "$generator" -DCMAKE_MAKE_PROGRAM="$make_program" \
      -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$prefix" \
      -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
    "$cmake" --build "$binary"
    if [ -n "$program" ]; then "$binary/$program"; fi
    ;;
  *)
    echo "unknown step $mode"
    exit 2
    ;;
esac
