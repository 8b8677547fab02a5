#!/usr/bin/env bash
# Regenerates the small test circuits under tests/data/blif/small from the
# Verilog in tools/circuits, each in three forms:
#   <name>_generic.blif  yosys generic gate cells (write_blif -icells)
#   <name>_lut4.blif     enables and synchronous resets unmapped into logic,
#                        logic mapped to 4-input LUTs by berkeley-abc
#   <name>_lut6.blif     the same with 6-input LUTs
# Registers that BLIF cannot express as .latch (asynchronous controls,
# latches with negative gates) stay generic cells in the mapped forms.
# Needs yosys and berkeley-abc; the generated files are committed, so the
# build and the tests never run this script.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
src="$here/circuits"
out="$here/../tests/data/blif/small"
abc_bin="$(command -v berkeley-abc || true)"

command -v yosys >/dev/null || { echo "make_test_circuits.sh: yosys not found" >&2; exit 1; }
[ -n "$abc_bin" ] || { echo "make_test_circuits.sh: berkeley-abc not found" >&2; exit 1; }
mkdir -p "$out"

for v in "$src"/*.v; do
  name="$(basename "$v" .v)"
  front="read_verilog $v; synth -flatten -top $name; opt_clean -purge"
  yosys -q -p "$front; write_blif -icells $out/${name}_generic.blif"
  for k in 4 6; do
    yosys -q -p "$front; dffunmap; abc -exe $abc_bin -lut $k; opt_clean -purge; \
                 write_blif $out/${name}_lut$k.blif"
  done
  echo "made ${name}: $(grep -c '^\.\(names\|subckt\|latch\)' "$out/${name}_generic.blif") generic cells"
done
