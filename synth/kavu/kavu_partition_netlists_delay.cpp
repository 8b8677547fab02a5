// kavu_partition_netlists_delay.cpp — boundary delays across a split: each
// boundary's delay over the whole design is taken before the cut and written
// onto its output terminal after it, so that a partition's own delay
// analysis can see what lies beyond its boundaries.
#include "cdb/cdb_sgate.h"
#include "gen/gen.h"
#include "kavu_check.h"
#include "kavu_delay.h"
#include "kavu_helper_predicates.h"
#include "kavu_partition_netlists.h"

namespace {
// The expert's recursion budget for one boundary.
constexpr int BOUNDARY_DELAY_BUDGET = 300;
}  // namespace

void kavu_annotate_boundary_delays(CDB_SGATE_NETLIST* netlist, KAVU_BOUNDARY_DELAY_MAP& delays) {
  GEN_PROFILER profiler("KAVU", "Annotate delay onto boundary gates");
  KAVU_CHECK(netlist);
  KAVU_DELAY_EXPERT* expert = kavu_get_default_delay_expert(netlist);
  for (CDB_SGATE_NODE* node : netlist->get_node_list()) {
    if (!node || !kavu_is_a_boundary(node)) continue;
    CDB_SGATE_OTERM* oterm = node->get_single_oterm();
    KAVU_CHECK(oterm);
    if (kavu_is_a_boundary_input(node))
      delays[oterm] = expert->compute_fanin_delay(oterm, BOUNDARY_DELAY_BUDGET);
    else
      delays[oterm] = expert->compute_fanout_delay(oterm, BOUNDARY_DELAY_BUDGET);
  }
  delete expert;
}

void kavu_apply_boundary_delays(CDB_SGATE_NETLIST* netlist, const KAVU_BOUNDARY_DELAY_MAP& delays) {
  KAVU_CHECK(netlist);
  KAVU_DELAY_EXPERT* expert = kavu_get_default_delay_expert(netlist);
  const KAVU_DELAY_SETTER set_fanin = expert->get_fanin_setter();
  const KAVU_DELAY_SETTER set_fanout = expert->get_fanout_setter();
  for (const auto& [oterm, delay] : delays) {
    KAVU_CHECK(oterm);
    if (kavu_is_a_boundary_input(oterm->get_my_node())) {
      set_fanin(oterm, delay);
      oterm->get_flag().set(expert->get_fanin_visited_flag());
    } else {
      set_fanout(oterm, delay);
      oterm->get_flag().set(expert->get_fanout_visited_flag());
    }
  }
  delete expert;
}
