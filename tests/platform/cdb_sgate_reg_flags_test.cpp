// Tests of the register-flag loaders: options on a register's name set the
// flags and their states, a maximum fan-out sets the netlist's constraint,
// keep-fan-out-free requests are marked read; gates without names or
// options keep their flags. Also the operator's partition number in clones.
#include "cdb/cdb_sgate_reg_flags.h"
#include "hdb/acf.h"
#include "hdb/hdb.h"
#include "platform_testkit.h"

using namespace kavu_platform;

TEST(CdbRegFlags, AssignmentsSetRegisterFlags) {
  CDB_SGATE_NETLIST nl;
  auto* clk = make_input_pin(&nl, "clk");
  HDB_NAMESPACE* ns = hdb_default_namespace();
  auto* r = make_dff(&nl, clk, clk);
  r->set_instance_name(HDB_INSTANCE_NAME::create_normal_name(ns, "r", nullptr, nullptr, ns->get_rooted_at()));
  struct ROW { int var; const char* value; } rows[] = {
      {ACF_ALLOW_ANY_REGISTER_CHANGE, "on"}, {ACF_PRESERVE_REGISTER, "on"}, {ACF_DONT_MERGE_REGISTER, "on"},
      {ACF_DONT_PRUNE_REGISTER, "off"},      {ACF_NOT_GATE_PUSH_BACK, "off"}, {ACF_MAX_FANOUT, "12"},
      {ACF_KEEP_FANOUT_FREE, "on"}};
  for (const ROW& row : rows) hdb_set_option(r->get_instance_name(), row.var, row.value);
  auto* unnamed = make_dff(&nl, clk, clk);
  for (CDB_SGATE_NODE* g : {static_cast<CDB_SGATE_NODE*>(r), unnamed, clk}) {
    cdb_sgate_set_dff_flags_from_assignments(g);
    cdb_sgate_set_max_fanout(&nl, g);
    cdb_sgate_set_keep_fanout_free_flags_from_assignments(g);
  }
  const CDB_REG_FLAGS* f = r->get_reg_flags();
  EXPECT_TRUE(f->allow_anything() && f->preserve() && !f->merge_allowed() && f->prune_allowed());
  EXPECT_TRUE(f->prune_allowed_is_set() && !f->not_gate_push_allowed());
  EXPECT_EQ(f->get_max_fanout(), 12);
  EXPECT_TRUE(nl.has_max_fanout_constraint(r));
  EXPECT_EQ(nl.get_num_max_fanout_constraints(), 1);
  EXPECT_TRUE(r->kff_requested() && r->kff_read());
  const CDB_REG_FLAGS* u = unnamed->get_reg_flags();
  EXPECT_FALSE(u->preserve_is_set() || u->merge_allowed_is_set() || u->max_fanout_is_set());
  EXPECT_TRUE(unnamed->kff_read() && !unnamed->kff_requested());

  auto* op = new CDB_SGATE_OPERATOR(nullptr, CDB_OPER_BUS_IN);
  op->set_partition_number(7);
  nl.add_node(op);
  CDB_SGATE_NETLIST* copy = nl.clone(nullptr, true, true);
  EXPECT_EQ(static_cast<CDB_SGATE_NODE*>(op->get_temp_pointer())->cast_to_operator()->get_partition_number(), 7);
  nl.clear_temp_pointers();
  delete copy;
}
