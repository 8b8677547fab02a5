// Tests of the debug numbers a state machine stores for a move.
#include <memory>
#include <unordered_map>

#include "cdb/cdb_sgate.h"
#include "platform_testkit.h"

using namespace kavu_platform;

TEST(CdbMachineNumbers, StoredNumbersSurviveDroppedPointers) {
  CDB_SGATE_NETLIST nl;
  auto* m = new CDB_STATE_MACHINE;
  std::unique_ptr<CDB_STATE_MACHINE> owner(m);
  auto* s = new CDB_SGATE_STATE(nullptr, m);
  auto* reg = new CDB_SGATE_DFF(nullptr);
  auto* en = new CDB_SGATE_IO(nullptr, CDB_IO_INPUT);
  for (CDB_SGATE_NODE* n : std::initializer_list<CDB_SGATE_NODE*>{s, reg, en}) nl.add_node(n, true);
  m->add_state(s);
  m->add_register(reg);
  m->set_clk_en(en->get_single_oterm());
  std::unordered_map<unsigned, CDB_SGATE_NODE*> map;
  m->gather_stored_debug_numbers(&map);
  EXPECT_TRUE(map.empty());  // nothing stored yet
  m->store_oterms_as_debug_numbers(true);
  m->gather_nodes_of_interest(&map);
  EXPECT_TRUE(map.empty());  // the pointers are gone
  map[reg->get_debug_number()] = reg;  // an entry already there keeps its gate
  m->gather_stored_debug_numbers(&map);
  ASSERT_EQ(map.size(), 3u);
  EXPECT_EQ(map[reg->get_debug_number()], reg);
  EXPECT_EQ(map[s->get_debug_number()], nullptr);
  EXPECT_EQ(map[en->get_debug_number()], nullptr);
  map[s->get_debug_number()] = s;
  map[en->get_debug_number()] = en;
  m->recover_oterms_from_debug_numbers(&map);
  EXPECT_EQ(m->get_states().size(), 1u);
  EXPECT_EQ(m->get_registers().size(), 1u);
  EXPECT_EQ(m->get_clk_en(), en->get_single_oterm());
  EXPECT_EQ(m->get_clk(), nullptr);
  EXPECT_KAVU_INTERNAL_ERROR(m->gather_stored_debug_numbers(nullptr), "map");
}
