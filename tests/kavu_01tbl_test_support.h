// kavu_01tbl_test_support.h — helpers of the truth-table tests: random and
// composed tables, pins to build cones on, cuts grown in real circuits, a
// table checked against the simulator, an encoded-network evaluator.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "kavu_01tbl.h"
#include "kavu_01tbl_encnet.h"
#include "mem/mem.h"
#include "netlist_io/simulator.h"
#include "testkit/platform_testkit.h"

namespace kavu_01tbl_test {

// Every minterm a coin flip.
inline KAVU_01TBL random_table(unsigned n, std::mt19937& rng) {
  KAVU_01TBL t(n);
  for (unsigned m = 0; m < (1u << n); ++m)
    if (rng() & 1u) t.set_minterm(m);
  return t;
}

// A function that decomposes: consecutive groups of 1 to `piece` variables
// each feed a random function, and a random top function takes their outputs.
inline KAVU_01TBL composed_table(unsigned n, unsigned piece, std::mt19937& rng) {
  std::vector<unsigned> sizes;
  for (unsigned v = 0; v < n; v += sizes.back()) sizes.push_back(std::min(n - v, 1 + unsigned(rng() % piece)));
  std::vector<KAVU_01TBL> parts;
  for (unsigned size : sizes) parts.push_back(random_table(size, rng));
  const KAVU_01TBL top = random_table(unsigned(sizes.size()), rng);
  KAVU_01TBL t(n);
  for (unsigned m = 0; m < (1u << n); ++m) {
    unsigned top_in = 0, first = 0;
    for (size_t j = 0; j < sizes.size(); first += sizes[j++])
      top_in |= parts[j].minterm((m >> first) & ((1u << sizes[j]) - 1)) << j;
    if (top.minterm(top_in)) t.set_minterm(m);
  }
  return t;
}

// Input pins x0..x(n-1) in a netlist of their own, to build cones on.
struct PINS {
  CDB_SGATE_NETLIST nl;
  std::vector<CDB_SGATE_NODE*> pins;
  std::vector<CDB_SGATE_OTERM*> fanins;

  explicit PINS(unsigned n) {
    for (unsigned i = 0; i < n; ++i) {
      pins.push_back(kavu_platform::make_input_pin(&nl, ("x" + std::to_string(i)).c_str()));
      fanins.push_back(pins.back()->get_single_oterm());
    }
  }
  std::vector<CDB_SGATE_OTERM*> first(unsigned n) const { return {fanins.begin(), fanins.begin() + n}; }
  HDB_INSTANCE_NAME* base_name() const { return pins[0]->get_instance_name(); }
  CDB_SGATE_COMB* comb(CDB_COMB_TYPE type) {  // without inputs
    CDB_SGATE_COMB* g = new CDB_SGATE_COMB(nullptr, type);
    return nl.add_node(g), g;
  }
  // An input of g driven by src (inverted when asked), tied to VCC (GND
  // when inverted) for a null src.
  static void add_input(CDB_SGATE_COMB* g, CDB_SGATE_OTERM* src, bool inverted = false) {
    g->add_unordered_fanin_from_oterm(MEM_MANAGER::get_default_segment(), inverted, src);
  }
  static void add_unconnected_input(CDB_SGATE_COMB* g) {
    g->insert_unordered_fanin_term(g->create_input_term(MEM_MANAGER::get_default_segment()));
  }
  bool free() const {  // no pin drives anything
    return std::none_of(fanins.begin(), fanins.end(), [](CDB_SGATE_OTERM* p) { return p->has_fanout(); });
  }
};

// Appends the sources of g's inputs that `cut` does not hold yet.
inline void add_sources(const CDB_SGATE_NODE* g, std::vector<CDB_SGATE_OTERM*>& cut) {
  for (unsigned i = 0; i < g->get_number_of_input_terms(); ++i) {
    CDB_SGATE_OTERM* src = g->get_fanin_term(i);
    if (src && std::find(cut.begin(), cut.end(), src) == cut.end()) cut.push_back(src);
  }
}

inline bool is_logic_gate(const CDB_SGATE_NODE* g) {
  const CDB_SGATE_TYPE t = g->get_sgate_type();
  return t == CDB_SGATE_COMB_ENUM || t == CDB_SGATE_LUT_ENUM || t == CDB_SGATE_MUX_ENUM || t == CDB_SGATE_BUFFER_ENUM;
}

// A complete cut of root's cone: from the sources of root's gate, a leaf
// whose gate `expand` accepts is replaced by that gate's sources while the
// cut keeps at most max_leaves leaves. Leaves are tried first to last, or
// in a fresh random order each step when rng is given; after each step
// on_step(cut) may stop the growth by returning false.
template <class EXPAND, class ON_STEP>
std::vector<CDB_SGATE_OTERM*> grow_cut(CDB_SGATE_OTERM* root, size_t max_leaves, EXPAND expand,
                                       std::mt19937* rng, ON_STEP on_step) {
  std::vector<CDB_SGATE_OTERM*> cut, next;
  add_sources(root->get_my_node(), cut);
  std::vector<size_t> order;
  for (bool grown = on_step(cut); grown;) {
    grown = false;
    order.resize(cut.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    if (rng) std::shuffle(order.begin(), order.end(), *rng);
    for (size_t i : order) {
      const CDB_SGATE_NODE* g = cut[i]->get_my_node();
      if (!expand(g)) continue;
      next = cut;
      next.erase(next.begin() + long(i));
      add_sources(g, next);
      if (next.empty() || next.size() > max_leaves) continue;
      cut.swap(next);
      grown = on_step(cut);
      break;
    }
  }
  return cut;
}

inline std::vector<CDB_SGATE_OTERM*> grow_cut(CDB_SGATE_OTERM* root, size_t max_leaves) {
  return grow_cut(root, max_leaves, is_logic_gate, nullptr, [](const auto&) { return true; });
}

// Whether table t (anything with minterm(m)) of root over cut agrees with
// the simulator on each of its 64 current patterns.
template <class TABLE>
::testing::AssertionResult agrees_with_simulation(const kavu_platform::NETLIST_SIMULATOR& sim, const TABLE& t,
                                                  const CDB_SGATE_OTERM* root,
                                                  const std::vector<CDB_SGATE_OTERM*>& cut) {
  for (unsigned bit = 0; bit < 64; ++bit) {
    unsigned m = 0;
    for (size_t i = 0; i < cut.size(); ++i) m |= unsigned((sim.value(cut[i]) >> bit) & 1u) << i;
    if ((t.minterm(m) != 0) != (((sim.value(root) >> bit) & 1u) != 0))
      return ::testing::AssertionFailure() << "pattern " << bit << " over " << cut.size() << " leaves";
  }
  return ::testing::AssertionSuccess();
}

}  // namespace kavu_01tbl_test

// A reference evaluator of encoded LUT networks, independent of the decoder:
// the value at a fan-in assignment (bit k = fan-in k). Signal 0 is GND, 1
// VCC, 2 not connected, 3 + k fan-in k, then one signal per LUT record (input
// count, mask high and low word, six input signals) in list order; the last
// LUT is the output.
inline bool eval_encnet(const KAVU_ENCNET& net, unsigned assignment) {
  const unsigned f = net.num_fanins();
  std::vector<bool> value(3 + f + net.num_luts(), false);
  value[1] = true;
  for (unsigned k = 0; k < f; ++k) value[3 + k] = ((assignment >> k) & 1u) != 0;
  for (unsigned l = 0; l < net.num_luts(); ++l) {
    const unsigned rec = 2 + 9 * l;
    const uint64_t mask = (uint64_t(net.word(rec + 1)) << 32) | net.word(rec + 2);
    unsigned m = 0;
    for (unsigned j = 0; j < net.word(rec); ++j) m |= (value[net.word(rec + 3 + j)] ? 1u : 0u) << j;
    value[3 + f + l] = ((mask >> m) & 1u) != 0;
  }
  return value.back();
}
