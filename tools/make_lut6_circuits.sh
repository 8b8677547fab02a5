#!/usr/bin/env bash
# Maps circuits of tests/data/blif to 6-input LUTs with berkeley-abc
# ("strash; if -K 6") into tests/data/blif/lut6/, for the tests and
# benchmarks of LUT unmapping on 6-input LUTs. Needs berkeley-abc; the
# generated files are committed, so the build and the tests never run this.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
data="$here/../tests/data/blif"
out="$data/lut6"
abc_bin="$(command -v berkeley-abc || true)"
[ -n "$abc_bin" ] || { echo "make_lut6_circuits.sh: berkeley-abc not found" >&2; exit 1; }
mkdir -p "$out"

for name in epfl/sin; do
  stem="$(basename "$name")"
  "$abc_bin" -q "read $data/$name.blif; strash; if -K 6; write_blif $out/$stem.blif" >/dev/null
  echo "made lut6/$stem: $(grep -c '^\.names' "$out/$stem.blif") LUTs"
done
