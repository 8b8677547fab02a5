// Cut buffers that cut no loop, and keep-fan-out-free requests read from
// the assignments.
#include <gtest/gtest.h>

#include "cdb/cdb_sgate.h"
#include "cdb/cdb_sgate_reg_flags.h"
#include "netlist_io/simulator.h"
#include "testkit/platform_testkit.h"

using namespace kavu_platform;

TEST(CdbLoopCuts, OnlyCutsOnACombinationalLoopStay) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* clk = make_input_pin(&nl, "clk");
  // A cut on a plain path (inverted on both sides), one on a loop through a
  // register (not combinational), one on a combinational loop.
  CDB_SGATE_BUFFER* plain = make_buffer(&nl, a, CDB_BUFFER_CUT);
  plain->get_input_term(0)->set_invert();
  CDB_SGATE_NODE* y = make_output_pin(&nl, "y", plain, true);
  CDB_SGATE_NODE* reg = make_dff(&nl, nullptr, clk);
  CDB_SGATE_BUFFER* through_reg = make_buffer(&nl, reg, CDB_BUFFER_CUT);
  CDB_SGATE_NODE* x = make_xor(&nl, through_reg, a);
  x->get_single_oterm()->insert_fanout(reg->get_input_term(CDB_DFF_DATA));
  make_output_pin(&nl, "q", reg);
  CDB_SGATE_NODE* o = make_or(&nl, a, nullptr);
  CDB_SGATE_BUFFER* loop = make_buffer(&nl, o, CDB_BUFFER_CUT);
  o->get_input_term(1)->disconnect_from_source();
  loop->get_single_oterm()->insert_fanout(o->get_input_term(1));
  std::unique_ptr<CDB_SGATE_NETLIST> before(nl.clone(nullptr, true, true));
  nl.clear_temp_pointers();
  EXPECT_EQ(nl.remove_redundant_loop_cuts(), 2);
  EXPECT_EQ(plain->get_netlist(), nullptr);
  EXPECT_EQ(through_reg->get_netlist(), nullptr);
  EXPECT_EQ(loop->get_netlist(), &nl);
  EXPECT_EQ(y->get_single_iterm()->get_source_oterm(), a->get_single_oterm());
  EXPECT_FALSE(y->get_single_iterm()->is_inverted()) << "the inversions on both sides cancel";
  EXPECT_EQ(nl.get_graveyard_size(), 2u);
  std::string why;
  EXPECT_TRUE(sim_equivalent(before.get(), &nl, SIM_COMPARE{}, &why)) << why;
}

TEST(CdbKeepFanoutFree, ReadingTheAssignmentsMarksTheRequestRead) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* requested = make_not(&nl, a);
  CDB_SGATE_NODE* plain = make_not(&nl, a);
  requested->set_kff(true, false, false);
  cdb_sgate_set_keep_fanout_free_flags_from_assignments(requested);
  cdb_sgate_set_keep_fanout_free_flags_from_assignments(plain);
  EXPECT_TRUE(requested->kff_requested() && requested->kff_in_force() && requested->kff_read());
  EXPECT_TRUE(!plain->kff_requested() && !plain->kff_in_force() && plain->kff_read());
  EXPECT_KAVU_INTERNAL_ERROR(cdb_sgate_set_keep_fanout_free_flags_from_assignments(nullptr), "node");
}
