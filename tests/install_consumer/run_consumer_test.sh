#!/bin/sh
# Installs a build into a fresh prefix, then configures, builds and runs the
# consumer next to this script against that prefix alone.
# Usage: run_consumer_test.sh CMAKE BUILD_DIR WORK_DIR GENERATOR MAKE_PROGRAM CXX [FLAGS]
# Exit status 77 (the test's skip code) when cmake or the build program is
# missing; otherwise that of the first step that fails, or the consumer's.
set -eu
cmake=$1 build=$2 work=$3 generator=$4 make_program=$5 cxx=$6 flags=${7:-}
here=$(cd "$(dirname "$0")" && pwd)
for tool in "$cmake" "$make_program"; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "skipped: $tool not found"
    exit 77
  fi
done
rm -rf "$work/prefix"
"$cmake" --install "$build" --prefix "$work/prefix" >/dev/null
"$cmake" -S "$here" -B "$work/build" -G "$generator" -DCMAKE_MAKE_PROGRAM="$make_program" \
  -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$work/prefix" \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
"$cmake" --build "$work/build"
"$work/build/kavu_consumer"
