// A design whose stamp copies were emptied into bus operators is written as
// BLIF and read back with the same function.
#include <string>
#include <vector>

#include "kavu_helper_predicates.h"
#include "kavu_stamp.h"
#include "netlist_io/blif.h"
#include "netlist_io/simulator.h"
#include "platform_testkit.h"

using namespace kavu_platform;

namespace {

CDB_SGATE_NODE* boundary(CDB_SGATE_NETLIST* nl, CDB_BOUNDARY_TYPE dir, int part, CDB_SGATE_NODE* src) {
  auto* b = new CDB_SGATE_BOUNDARY(nullptr, dir);
  b->set_partition_number(part);
  nl->add_node(b);
  b->set_input_term(b->create_input_term(nullptr), 0);
  src->get_single_oterm()->insert_fanout(b->get_input_term(0));
  return b;
}

// Partition `part`: q = a XOR b, entering and leaving through facing
// boundary pairs, read by output pin "q<part>".
struct COPY {
  std::vector<CDB_SGATE_NODE*> in, facing_in, out, facing_out;
};
COPY add_copy(CDB_SGATE_NETLIST* nl, int part, CDB_SGATE_NODE* a, CDB_SGATE_NODE* b) {
  COPY c;
  for (CDB_SGATE_NODE* src : {a, b}) {
    c.facing_in.push_back(boundary(nl, CDB_BOUNDARY_OUTPUT, KAVU_STAMP_TOP_ID, src));
    c.in.push_back(boundary(nl, CDB_BOUNDARY_INPUT, part, c.facing_in.back()));
  }
  c.out.push_back(boundary(nl, CDB_BOUNDARY_OUTPUT, part, make_xor(nl, c.in[0], c.in[1])));
  c.facing_out.push_back(boundary(nl, CDB_BOUNDARY_INPUT, KAVU_STAMP_TOP_ID, c.out[0]));
  make_output_pin(nl, ("q" + std::to_string(part)).c_str(), c.facing_out[0]);
  return c;
}

}  // namespace

// (The writer refused every operator, so such a design could not be written.)
TEST(KavuStampBlif, EmptiedStampCopiesWriteAndReadBackEquivalent) {
  kavu_stamp_tables() = KAVU_STAMP_TABLES();
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* b = make_input_pin(&nl, "b");
  const COPY master = add_copy(&nl, 1, a, b), dup = add_copy(&nl, 2, a, b);
  kavu_add_to_stamp_map(1, 2);
  for (size_t i = 0; i < dup.in.size(); ++i) {
    kavu_add_pin_to_duplicate_boundary(dup.in[i], dup.facing_in[i]);
    kavu_add_pin_to_duplicate_boundary(dup.in[i], dup.in[i]);
    kavu_update_dup_bound_to_master_bound(dup.in[i], master.in[i], master.facing_in[i]);
  }
  kavu_add_pin_to_duplicate_boundary(dup.out[0], dup.facing_out[0]);
  kavu_update_dup_bound_to_master_bound(dup.out[0], master.out[0], master.facing_out[0]);
  kavu_stamp_delete_inside_duplicates(&nl);
  kavu_stamp_tables() = KAVU_STAMP_TABLES();
  int bus_ops = 0;
  for (auto it = nl.begin_node_list(); it != nl.end_node_list(); ++it)
    bus_ops += *it && (kavu_is_a_bus_in_op(*it) || kavu_is_a_bus_out_op(*it));
  ASSERT_GT(bus_ops, 0);
  std::string why;
  ASSERT_TRUE(blif_write_file(&nl, "stamped.blif", {}, &why)) << why;
  BLIF_RESULT r = blif_read_file("stamped.blif");
  LOADED_NETLIST back(r.netlist, LOADED_NETLIST_DELETER{r.hierarchy});
  ASSERT_TRUE(back) << r.error;
  EXPECT_TRUE(sim_equivalent(&nl, back.get(), {}, &why)) << why;
}
