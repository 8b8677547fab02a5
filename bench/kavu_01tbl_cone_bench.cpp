// Cone simulation throughput: the table of one 6-input cone per gate of
// epfl/sin, the cut grown greedily from the gate's fan-ins (a leaf is
// replaced by its gate's sources while the cut stays within six), simulated
// with the cone found by the library's own walk. Reports the number of cuts
// and tables per second, for the circuit read as LUTs and as AND/OR/NOT
// gates.
// Peer in the same run (BM_PlainConeTables*): the same tables by plain
// word-parallel simulation — the cone walked depth-first from the root with
// an explicit stack, values in a std::unordered_map, every gate evaluated on
// one 64-bit word by the simulator's gate rules, the six leaves carrying the
// six variable patterns. After the runs the program prints the ratios
// ours / peer.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "bench_support.h"
#include "cdb/cdb_sgate.h"
#include "kavu_01tbl_cone.h"
#include "netlist_io/blif.h"
#include "netlist_io/sim_eval.h"

using namespace kavu_platform;
using namespace kavu_bench;

namespace {

bool expandable(const CDB_SGATE_NODE* gate) {
  const CDB_SGATE_TYPE t = gate->get_sgate_type();
  return t == CDB_SGATE_COMB_ENUM || t == CDB_SGATE_LUT_ENUM || t == CDB_SGATE_MUX_ENUM;
}

std::vector<CDB_SGATE_OTERM*> grow_cut(CDB_SGATE_OTERM* root, unsigned k) {
  std::vector<CDB_SGATE_OTERM*> leaves;
  add_fanin_sources(root->get_my_node(), leaves);
  bool grown = leaves.size() <= k;
  while (grown) {
    grown = false;
    for (size_t i = 0; i < leaves.size() && !grown; ++i) {
      if (!expandable(leaves[i]->get_my_node())) continue;
      std::vector<CDB_SGATE_OTERM*> next = leaves;
      next.erase(next.begin() + long(i));
      add_fanin_sources(leaves[i]->get_my_node(), next);
      if (next.size() <= k) {
        leaves = next;
        grown = true;
      }
    }
  }
  return leaves;
}

struct CUT {
  CDB_SGATE_OTERM* m_root;
  std::vector<CDB_SGATE_OTERM*> m_leaves;
};

// epfl/sin read one way, and every 6-leaf cut grown from its gates.
struct SIN_CUTS {
  BLIF_RESULT m_loaded;
  std::vector<CUT> m_cuts;

  explicit SIN_CUTS(BLIF_READ_OPTIONS::NAMES_MAP names) {
    BLIF_READ_OPTIONS options;
    options.names = names;
    m_loaded = blif_read_file(bundled_circuit("epfl/sin"), options);
    if (!m_loaded.netlist) return;
    for (auto it = m_loaded.netlist->begin_node_list(); it != m_loaded.netlist->end_node_list(); ++it) {
      if (!*it || !expandable(*it)) continue;
      CDB_SGATE_OTERM* root = (*it)->get_single_oterm();
      std::vector<CDB_SGATE_OTERM*> leaves = grow_cut(root, 6);
      if (leaves.size() == 6) m_cuts.push_back({root, leaves});
    }
  }
  ~SIN_CUTS() { release(m_loaded); }
};

// The peer's simulator: plain containers, one word per terminal.
class PLAIN_CONE_SIM {
 public:
  // The table of root over the six leaves (leaf i is variable i); false
  // when the cone holds a kind the peer does not evaluate.
  bool table(CDB_SGATE_OTERM* root, const std::vector<CDB_SGATE_OTERM*>& leaves, uint64_t* out) {
    static constexpr uint64_t VARS[6] = {0xAAAAAAAAAAAAAAAAull, 0xCCCCCCCCCCCCCCCCull, 0xF0F0F0F0F0F0F0F0ull,
                                         0xFF00FF00FF00FF00ull, 0xFFFF0000FFFF0000ull, 0xFFFFFFFF00000000ull};
    m_value.clear();
    for (size_t i = 0; i < leaves.size(); ++i) m_value[leaves[i]] = VARS[i];
    m_stack.clear();
    if (!m_value.count(root)) m_stack.push_back({root, 0});
    while (!m_stack.empty()) {
      auto& [oterm, next] = m_stack.back();
      CDB_SGATE_NODE* gate = oterm->get_my_node();
      if (next < gate->get_number_of_input_terms()) {
        CDB_SGATE_OTERM* src = gate->get_input_term(next++)->get_source();
        if (src && !m_value.count(src)) m_stack.push_back({src, 0});
        continue;
      }
      uint64_t value = 0;
      if (!evaluate(gate, &value)) return false;
      m_value[oterm] = oterm->is_inverted() ? ~value : value;
      m_stack.pop_back();
    }
    *out = m_value[root];
    return true;
  }

 private:
  bool evaluate(CDB_SGATE_NODE* gate, uint64_t* value) {
    const unsigned n = gate->get_number_of_input_terms();
    m_in.assign(n, kavu_platform::SIM_ALL);
    m_present.assign(n, 0);
    for (unsigned i = 0; i < n; ++i) {
      const CDB_SGATE_ITERM* t = gate->get_input_term(i);
      if (!t || !cdb_is_connected(t)) continue;
      m_present[i] = 1;
      const uint64_t flip = t->is_inverted() ? kavu_platform::SIM_ALL : 0;
      m_in[i] = (t->get_source() ? m_value[t->get_source()] : kavu_platform::SIM_ALL) ^ flip;
    }
    switch (gate->get_sgate_type()) {
      case CDB_SGATE_COMB_ENUM:
        *value = kavu_platform::sim_comb_word(static_cast<CDB_SGATE_COMB*>(gate)->get_comb_type(), m_in.data(),
                                              m_present.data(), n);
        return true;
      case CDB_SGATE_LUT_ENUM:
        *value = kavu_platform::sim_lut_word(static_cast<CDB_SGATE_LUT*>(gate)->get_lut_mask().get_value(), n,
                                             m_in.data());
        return true;
      case CDB_SGATE_MUX_ENUM:
        *value = kavu_platform::sim_mux_word(m_in[0], m_in[1], m_in[2]);
        return true;
      default:
        return false;
    }
  }

  std::unordered_map<const CDB_SGATE_OTERM*, uint64_t> m_value;
  std::vector<std::pair<CDB_SGATE_OTERM*, unsigned>> m_stack;
  std::vector<uint64_t> m_in;
  std::vector<uint8_t> m_present;
};

void bench_sin(benchmark::State& state, BLIF_READ_OPTIONS::NAMES_MAP names) {
  SIN_CUTS sin(names);
  if (!sin.m_loaded.netlist) {
    state.SkipWithError(sin.m_loaded.error.c_str());
    return;
  }
  long tables = 0;
  for (auto _ : state) {
    for (CUT& cut : sin.m_cuts) {
      KAVU_01TBL tbl = kavu_cone_01tbl(cut.m_root, cut.m_leaves, nullptr);
      benchmark::DoNotOptimize(tbl.word(0));
      ++tables;
    }
  }
  state.counters["cuts"] = double(sin.m_cuts.size());
  state.counters["tables_per_s"] = benchmark::Counter(double(tables), benchmark::Counter::kIsRate);
}

void bench_sin_plain(benchmark::State& state, BLIF_READ_OPTIONS::NAMES_MAP names) {
  SIN_CUTS sin(names);
  if (!sin.m_loaded.netlist) {
    state.SkipWithError(sin.m_loaded.error.c_str());
    return;
  }
  PLAIN_CONE_SIM sim;
  long tables = 0;
  for (auto _ : state) {
    for (CUT& cut : sin.m_cuts) {
      uint64_t word = 0;
      if (!sim.table(cut.m_root, cut.m_leaves, &word)) {
        state.SkipWithError("a cone holds a gate kind the plain simulation does not evaluate");
        return;
      }
      benchmark::DoNotOptimize(word);
      ++tables;
    }
  }
  state.counters["cuts"] = double(sin.m_cuts.size());
  state.counters["tables_per_s"] = benchmark::Counter(double(tables), benchmark::Counter::kIsRate);
}

void BM_ConeTablesSinLuts(benchmark::State& state) { bench_sin(state, BLIF_READ_OPTIONS::AUTO_LUT); }
void BM_ConeTablesSinCombGates(benchmark::State& state) { bench_sin(state, BLIF_READ_OPTIONS::ALL_COMB); }
void BM_PlainConeTablesSinLuts(benchmark::State& state) { bench_sin_plain(state, BLIF_READ_OPTIONS::AUTO_LUT); }
void BM_PlainConeTablesSinCombGates(benchmark::State& state) {
  bench_sin_plain(state, BLIF_READ_OPTIONS::ALL_COMB);
}

const PEER_PAIR PEERS[] = {{"BM_ConeTables", "BM_PlainConeTables"}};

}  // namespace

BENCHMARK(BM_ConeTablesSinLuts)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainConeTablesSinLuts)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConeTablesSinCombGates)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainConeTablesSinCombGates)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) { return bench_main(argc, argv, {}, PEERS); }
