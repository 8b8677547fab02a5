// Tests of the word-level bridge: round trips of real circuits, bus
// operators and bus names, register buses, subsets with boundary buffers,
// register conversion and the faults the bridge guards against.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

#include "cdb/cdb_sgate.h"
#include "cmp/cmp.h"
#include "hdb/hdb.h"
#include "kavu_family_info.h"
#include "kavu_helper_predicates.h"
#include "kavu_word_level.h"
#include "netlist_io/simulator.h"
#include "testkit/platform_testkit.h"
#include "wl/wl.h"

using namespace kavu_platform;

namespace {

struct FAMILY {
  CMP_FACADE facade;
  std::unique_ptr<RTL_FAMILY_INFO> info;
  explicit FAMILY(int family = 15) {
    facade.set_base_family(DEV_FAMILY_ENUM(family));
    facade.set_family(DEV_FAMILY_ENUM(family));
    info = std::make_unique<RTL_FAMILY_INFO>(&facade);
  }
};

bool is_register(CDB_SGATE_NODE* n) { return n->get_sgate_type() == CDB_SGATE_DFF_ENUM || kavu_is_a_wys_ff(n); }

std::multiset<const HDB_INSTANCE_NAME*> register_names(const CDB_SGATE_NETLIST* nl) {
  std::multiset<const HDB_INSTANCE_NAME*> names;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
    if (*it && is_register(*it)) names.insert((*it)->get_instance_name());
  return names;
}

// Gate kinds as word-level kinds, for the per-kind counts.
std::map<int, int> gate_kind_counts(const CDB_SGATE_NETLIST* nl) {
  std::map<int, int> counts;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
    CDB_SGATE_NODE* n = *it;
    if (!n) continue;
    int k = -1;
    switch (n->get_sgate_type()) {
      case CDB_SGATE_COMB_ENUM: k = int(WL_NODE_TYPE::COMB); break;
      case CDB_SGATE_IO_ENUM: k = int(WL_NODE_TYPE::PIN); break;
      case CDB_SGATE_BUFFER_ENUM: k = int(WL_NODE_TYPE::BUFFER); break;
      case CDB_SGATE_MUX_ENUM: k = int(WL_NODE_TYPE::MUX21); break;
      case CDB_SGATE_LUT_ENUM: k = int(WL_NODE_TYPE::LUT); break;
      case CDB_SGATE_DFF_ENUM: k = int(WL_NODE_TYPE::DFF); break;
      case CDB_SGATE_LATCH_ENUM: k = int(WL_NODE_TYPE::LATCH); break;
      default: k = kavu_is_a_wys_ff(n) ? int(WL_NODE_TYPE::DFF) : 100 + int(n->get_sgate_type()); break;
    }
    ++counts[k];
  }
  return counts;
}

std::map<int, int> wl_kind_counts(const WL_NETLIST* wl) {
  std::map<int, int> counts;
  for (auto it = wl->begin_node_list(); it != wl->end_node_list(); ++it) ++counts[int((*it)->get_node_type())];
  return counts;
}

// Gate simulator on `ref` against the word-level evaluator on `wl`, pins
// paired by instance name: `words` runs of `cycles` cycles from power-up.
::testing::AssertionResult wl_matches_gates(const CDB_SGATE_NETLIST* ref, const WL_NETLIST* wl, int words, int cycles) {
  NETLIST_SIMULATOR gs(ref);
  WL_SIMULATOR ws(wl);
  if (!gs.ok()) return ::testing::AssertionFailure() << "gate simulator: " << gs.error();
  if (!ws.ok()) return ::testing::AssertionFailure() << "word-level evaluator: " << ws.error();
  std::map<const HDB_INSTANCE_NAME*, const WL_NODE*> wl_pins;
  for (auto it = wl->begin_node_list(); it != wl->end_node_list(); ++it)
    if ((*it)->get_node_type() == WL_NODE_TYPE::PIN) wl_pins[(*it)->get_instance_name()] = *it;
  std::vector<std::pair<const CDB_SGATE_NODE*, const WL_NODE*>> ins, outs;
  for (auto it = ref->begin_node_list(); it != ref->end_node_list(); ++it) {
    CDB_SGATE_IO* io = *it ? (*it)->cast_to_io() : nullptr;
    if (!io) continue;
    auto f = wl_pins.find(io->get_instance_name());
    if (f == wl_pins.end()) return ::testing::AssertionFailure() << "no word-level pin for " << io->get_string_hpath();
    (io->get_io_type() == CDB_IO_INPUT ? ins : outs).emplace_back(io, f->second);
  }
  std::mt19937_64 rng(7);
  for (int w = 0; w < words; ++w) {
    gs.reset_state();
    ws.reset_state();
    for (int c = 0; c < cycles; ++c) {
      for (auto& p : ins) {
        const uint64_t word = rng();
        gs.set_input(p.first, word);
        ws.set_input(p.second, 0, word);
      }
      if (c == 0) {
        gs.eval();
        ws.eval();
      } else {
        gs.clock();
        ws.clock();
      }
      for (auto& p : outs)
        if (gs.output(p.first) != ws.output(p.second, 0))
          return ::testing::AssertionFailure() << "output " << p.first->get_string_hpath() << " differs at word " << w
                                               << " cycle " << c;
    }
  }
  return ::testing::AssertionSuccess();
}

bool has_registers(const CDB_SGATE_NETLIST* nl) { return !register_names(nl).empty(); }

}  // namespace

// Every bundled circuit: gate -> word-level -> gate in whole-netlist mode.
TEST(KavuWordLevelRoundTrip, EveryBundledCircuitKeepsRegistersNamesAndFunction) {
  FAMILY fam;
  for (const std::string& name : bundled_circuits()) {
    SCOPED_TRACE(name);
    LOADED_NETLIST loaded = load_blif(name);
    CDB_SGATE_HIERARCHY* hier = loaded.get_deleter().hierarchy;
    std::unique_ptr<CDB_SGATE_NETLIST> ref(loaded->clone(nullptr, true, true));
    loaded->clear_temp_pointers();
    ref->sweep(false);
    ref->garbage_collect(true, false);
    CDB_SGATE_NETLIST* raw = loaded.release();
    WL_NETLIST* wl = kavu_make_wl_netlist(raw, &fam.facade, nullptr, nullptr);
    ASSERT_NE(wl, nullptr);
    EXPECT_EQ(wl_kind_counts(wl), gate_kind_counts(ref.get()));
    const bool seq = has_registers(ref.get());
    EXPECT_TRUE(wl_matches_gates(ref.get(), wl, seq ? 10 : 157, seq ? 16 : 1));
    CDB_SGATE_NETLIST* back = kavu_convert_wl_to_sgate_netlist(wl, &fam.facade, fam.info.get(), nullptr);
    LOADED_NETLIST owned(back, LOADED_NETLIST_DELETER{hier});
    hier->set_netlist(back);
    back->sweep(false);
    back->garbage_collect(true, false);
    KAVU_TRACK(back);
    EXPECT_EQ(register_names(back), register_names(ref.get()));
    ASSERT_KAVU_EQUIVALENT(ref.get(), back);
  }
}
