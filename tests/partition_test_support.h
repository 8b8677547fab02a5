// Shared support of the partitioning tests: a scope that makes every netlist
// big enough to split, parameters for n partitions, netlist copies and a
// generated design of register buses.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "gen/gen.h"
#include "gen/gen_dyn_flag.h"
#include "hdb/hdb.h"
#include "kavu_partition.h"
#include "kavu_helper_summary.h"
#include "kavu_partition_int.h"
#include "kavu_setup.h"
#include "testkit/platform_testkit.h"

// Sets kavu_min_netlist_size to 0 (every netlist is split), restarts the
// partition ids and forgets the process-wide flow state; restores the size
// limit and clears the skip reasons at the end.
struct PARTITION_TEST_SCOPE {
  int m_saved_min = kavu_min_netlist_size;
  PARTITION_TEST_SCOPE() {
    kavu_min_netlist_size = 0;
    g_partition_id = 0;
    kavu_partition_reset_process_state();
    kavu_parallel_skip_reasons().reset();
  }
  ~PARTITION_TEST_SCOPE() {
    kavu_min_netlist_size = m_saved_min;
    kavu_partition_reset_process_state();
    kavu_parallel_skip_reasons().reset();
  }
};

inline SYNTH::KAVU::PARTITIONING_PARAMS partition_params(int n) {
  SYNTH::KAVU::PARTITIONING_PARAMS p;
  p.set_param("num_partitions", n);
  p.set_param("max_num_partitions", n);
  return p;
}

// A copy with the same names (pins pair up in sim_equivalent).
inline CDB_SGATE_NETLIST* clone_netlist(const CDB_SGATE_NETLIST* golden) {
  CDB_SGATE_NETLIST* copy = golden->clone(nullptr, true, false);
  const_cast<CDB_SGATE_NETLIST*>(golden)->clear_temp_pointers();
  return copy;
}

// About `gates` gates in buses of 8 registers: each bus has its own cloud of
// random 2-input gates over its registers and a few shared inputs, feeding
// the bus's data inputs and one output per bus. Register names are elements
// of bus groups "b<k>".
inline CDB_SGATE_NETLIST* make_bus_design(int gates, uint64_t seed) {
  using namespace kavu_platform;
  CDB_SGATE_NETLIST* nl = new CDB_SGATE_NETLIST();
  GEN_RAND rand(seed);
  HDB_NAMESPACE* ns = hdb_default_namespace();
  HDB_INSTANCE_NAME* top = HDB_INSTANCE_NAME::create_normal_name(nullptr, "top", nullptr, nullptr, nullptr);
  CDB_SGATE_NODE* clk = make_input_pin(nl, "clk");
  std::vector<CDB_SGATE_NODE*> shared;
  for (int i = 0; i < 8; ++i) shared.push_back(make_input_pin(nl, ("in" + std::to_string(i)).c_str()));
  const int per_bus = 200;
  const int buses = gates / (per_bus + 8) + 1;
  for (int b = 0; b < buses; ++b) {
    std::vector<CDB_SGATE_NODE*> regs, pool = shared;
    const std::string group = "b" + std::to_string(b);
    for (int i = 0; i < 8; ++i) {
      CDB_SGATE_NODE* r = make_dff(nl, nullptr, clk);
      HDB_INSTANCE_NAME* name = ns->create_group_instance_name(top, group.c_str(), i);
      r->set_instance_name(name);
      r->get_single_oterm()->set_instance_name(name);
      regs.push_back(r);
      pool.push_back(r);
    }
    // Every gate consumes the oldest unconsumed value, so all logic is live.
    std::vector<CDB_SGATE_NODE*> queue = pool;
    size_t head = 0;
    for (int g = 0; g < per_bus; ++g) {
      CDB_SGATE_NODE* x = queue[head++];
      CDB_SGATE_NODE* y = pool[rand.get_int(int(pool.size()))];
      CDB_SGATE_NODE* z = nullptr;
      switch (rand.get_int(3)) {
        case 0: z = make_and(nl, x, y); break;
        case 1: z = make_or(nl, x, y); break;
        default: z = make_xor(nl, x, y); break;
      }
      pool.push_back(z);
      queue.push_back(z);
    }
    for (int i = 0; i < 8; ++i) queue[head++]->get_single_oterm()->insert_fanout(regs[i]->get_input_term(0));
    for (int i = 0; head < queue.size(); ++i)
      make_output_pin(nl, ("o" + std::to_string(b) + "_" + std::to_string(i)).c_str(), queue[head++]);
  }
  return nl;
}

// The cone flags and the cut levels of a netlist, as a partitioning run
// computes them first.
inline std::unique_ptr<KAVU_PARTITIONER_STATE> partition_cut_levels(CDB_SGATE_NETLIST* nl, bool timing = false,
                                                                   bool never_cut_comb = false) {
  auto state = std::make_unique<KAVU_PARTITIONER_STATE>();
  GEN_DYN_FLAG flag = nl->get_flag_manager().create_flag("mffc_boundary_flag");
  kavu_partition_into_mffcs_new(nl, flag);
  SYNTH::KAVU::PARTITIONING_PARAMS params;
  params.set_param("never_cut_combinational_logic", never_cut_comb);
  flag_dont_touch_on_iterms(state.get(), nl, timing, flag, params);
  nl->get_flag_manager().destroy_flag(flag);
  return state;
}

// Input pins a and b, a gate `hub` = a AND b read by `fanouts` inverters,
// each driving an output pin of its own.
struct HUB_DESIGN {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* hub = nullptr;
  std::vector<CDB_SGATE_NODE*> readers;
  explicit HUB_DESIGN(int fanouts) {
    using namespace kavu_platform;
    CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
    CDB_SGATE_NODE* b = make_input_pin(&nl, "b");
    hub = make_and(&nl, a, b);
    for (int i = 0; i < fanouts; ++i) {
      readers.push_back(make_not(&nl, hub));
      make_output_pin(&nl, ("y" + std::to_string(i)).c_str(), readers.back());
    }
  }
};
