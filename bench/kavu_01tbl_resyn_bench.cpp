// Cone resynthesis into 4-input LUTs on a LUT-mapped circuit (mcnc/alu4):
// every LUT, outputs first, becomes the root of a cone grown through
// single-fan-out LUTs while the cut keeps at most six leaves; the cone is
// rebuilt with the 4-input method and replaced when that takes fewer LUTs.
// Reports the circuit's LUT count before and after and, in the same run,
// the count berkeley-abc reaches with "strash; if -K 4" (left out when abc
// is not installed), beside cones tried and replaced. The peer's time, abc_ms, is
// the median of three abc processes (read, strash, map) less an empty abc
// start, run in a temporary directory; ratio = our time / abc_ms. An abc
// run that fails or prints no count fails the row and the program.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_support.h"
#include "cdb/cdb_sgate.h"
#include "kavu_01tbl_fd.h"
#include "kavu_01tbl_resyn.h"
#include "netlist_io/blif.h"

using namespace kavu_platform;
using namespace kavu_bench;

namespace {

const std::string kCircuit = bundled_circuit("mcnc/alu4");

bool single_fanout_lut(const CDB_SGATE_OTERM* oterm) {
  return oterm->get_my_node()->cast_to_lut() != nullptr && oterm->get_number_of_fanout() == 1;
}

// Grows a cut of at most six leaves through single-fan-out LUTs; returns the
// number of LUTs inside the cone (root included).
unsigned grow_cone(CDB_SGATE_OTERM* root, std::vector<CDB_SGATE_OTERM*>& leaves) {
  leaves.clear();
  add_fanin_sources(root->get_my_node(), leaves);
  unsigned luts = 1;
  for (bool grown = leaves.size() <= 6; grown;) {
    grown = false;
    for (size_t i = 0; i < leaves.size() && !grown; ++i) {
      if (!single_fanout_lut(leaves[i])) continue;
      std::vector<CDB_SGATE_OTERM*> next = leaves;
      next.erase(next.begin() + long(i));
      add_fanin_sources(leaves[i]->get_my_node(), next);
      if (next.size() <= 6) {
        leaves.swap(next);
        ++luts;
        grown = true;
      }
    }
  }
  return luts;
}

unsigned count_luts(const CDB_SGATE_NETLIST* netlist) {
  unsigned n = 0;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it)
    if (*it && (*it)->cast_to_lut()) ++n;
  return n;
}

struct RESYN_RUN {
  unsigned before = 0, after = 0, tried = 0, replaced = 0;
};

RESYN_RUN resynthesize_circuit(CDB_SGATE_NETLIST* netlist) {
  RESYN_RUN run;
  run.before = count_luts(netlist);
  std::vector<CDB_SGATE_NODE*> order;
  netlist->garbage_collect_and_sort(true, order);
  std::reverse(order.begin(), order.end());
  std::vector<CDB_SGATE_OTERM*> leaves;
  std::vector<CDB_SGATE_NODE*> built;
  for (CDB_SGATE_NODE* gate : order) {
    // Gates an earlier replacement left dead are in the graveyard: skip them.
    if (gate->get_netlist() != netlist || gate->cast_to_lut() == nullptr) continue;
    if (!gate->get_single_oterm()->has_fanout()) continue;
    CDB_SGATE_OTERM* root = gate->get_single_oterm();
    const unsigned cone_luts = grow_cone(root, leaves);
    if (leaves.size() > 6) continue;
    ++run.tried;
    built.clear();
    CDB_SGATE_NODE* new_root = kavu_cone_resynthesis(root, leaves, built, KAVU_RESYN_FOUR_INPUT, -1, false, -1, 0);
    if (new_root == nullptr) continue;
    unsigned new_luts = 0;
    for (CDB_SGATE_NODE* g : built) new_luts += g->cast_to_lut() ? 1 : 0;
    if (new_luts >= cone_luts) {
      delete_synthesized_nodes(built);
      continue;
    }
    for (CDB_SGATE_NODE* g : built) netlist->add_node(g);
    new_root->get_single_oterm()->adopt_fanouts(root, false);
    netlist->sweep(false);
    ++run.replaced;
  }
  netlist->garbage_collect(true, true);
  run.after = count_luts(netlist);
  return run;
}

// abc answered: it printed "nd =" and a number (text after the label is
// no count).
bool has_node_count(const std::string& output) { return printed_figure(output, "nd ="); }

// abc's mapping of the circuit into 4-LUTs: its LUT count (the "nd = N" of
// print_stats after mapping) and *seconds, the median of three runs less an
// empty start. -1 when abc is not installed, or with the benchmark's error
// when it fails.
long abc_lut_count(benchmark::State& state, double* seconds) {
  const std::string abc = find_program("berkeley-abc");
  PEER_FIGURES f;
  if (!peer_figures(state, "berkeley-abc", {abc, "-c", "read " + kCircuit + "; strash; if -K 4; print_stats"}, f,
                    has_node_count, {abc, "-c", ""}, 3))
    return -1;
  *seconds = f.seconds;
  return printed_number(f.output, "nd =");
}

void BM_ResynAlu4IntoFourInputLuts(benchmark::State& state) {
  RESYN_RUN last;
  double seconds = 0;
  for (auto _ : state) {
    state.PauseTiming();
    BLIF_RESULT loaded = read_or_skip(state, kCircuit);
    if (!loaded.netlist) return;
    state.ResumeTiming();
    const auto start = std::chrono::steady_clock::now();
    last = resynthesize_circuit(loaded.netlist);
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.PauseTiming();
    release(loaded);
    state.ResumeTiming();
  }
  state.counters["luts_before"] = last.before;
  state.counters["luts_after"] = last.after;
  state.counters["cones_tried"] = last.tried;
  state.counters["cones_replaced"] = last.replaced;
  double abc_seconds = 0;
  const long abc_luts = abc_lut_count(state, &abc_seconds);
  if (abc_luts < 0) return;  // no abc figure: abc is not installed, or failed (the row's error)
  state.counters["abc_if_K4_luts"] = double(abc_luts);
  if (abc_seconds > 0) {
    state.counters["abc_ms"] = abc_seconds * 1e3;
    state.counters["ratio"] = seconds / double(state.iterations()) / abc_seconds;
  }
}

}  // namespace

BENCHMARK(BM_ResynAlu4IntoFourInputLuts)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) { return bench_main(argc, argv); }
