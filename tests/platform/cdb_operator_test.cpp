// Operators, components and RAM gates: port tables and their terminals.
// Their clones are tested with every other kind's in cdb_kinds_test.cpp.
#include <gtest/gtest.h>

#include <string>

#include "cdb/cdb_sgate.h"
#include "testkit/platform_testkit.h"

namespace {

// A 3-bit adder A + B = O in a netlist, A and B driven by input pins;
// check() must hold after each test.
struct ADDER_FIXTURE : ::testing::Test {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_OPERATOR* op = nullptr;
  CDB_SGATE_NODE* pins[6] = {};

  void SetUp() override {
    op = new CDB_SGATE_OPERATOR("add", CDB_OPER_ADDITION);
    nl.add_node(op);
    CDB_SGATE_OPER_PORT_ENTRY* a = op->add_port("a", CDB_OPER_PORT_A, CDB_OPER_PORT_DIR_IN);
    CDB_SGATE_OPER_PORT_ENTRY* b = op->add_port("b", CDB_OPER_PORT_B, CDB_OPER_PORT_DIR_IN);
    CDB_SGATE_OPER_PORT_ENTRY* o = op->add_port("o", CDB_OPER_PORT_O, CDB_OPER_PORT_DIR_OUT);
    for (unsigned i = 0; i < 6; ++i) pins[i] = kavu_platform::make_input_pin(&nl, ("p" + std::to_string(i)).c_str());
    for (unsigned i = 0; i < 3; ++i) {
      a->set_iterm(i, op->insert_unordered_fanin(pins[i]->get_single_oterm()));
      b->set_iterm(i, op->insert_unordered_fanin(pins[3 + i]->get_single_oterm()));
      o->set_oterm(i, op->create_output_term(nullptr));
    }
  }
  void TearDown() override {
    std::string report;
    EXPECT_TRUE(nl.check(&report)) << report;
  }
};

TEST_F(ADDER_FIXTURE, PortTerminalsLandInTheGateListsWithPortDataAndWidenWithEmptyBits) {
  EXPECT_TRUE(op->get_number_of_input_terms() == 6u && op->get_output_count() == 3u);
  EXPECT_TRUE(op->get_width(CDB_OPER_PORT_CIN) == 0u && op->get_port(CDB_OPER_PORT_CIN) == nullptr);
  CDB_SGATE_ITERM* b2 = op->get_iterm(CDB_OPER_PORT_B, 2);
  EXPECT_TRUE(b2->get_port_type() == CDB_OPER_PORT_B && b2->get_port_index() == 2u);
  EXPECT_EQ(b2->get_source(), pins[5]->get_single_oterm());
  CDB_SGATE_OTERM* o1 = op->get_oterm(CDB_OPER_PORT_O, 1);
  EXPECT_TRUE(o1->get_port_type() == CDB_OPER_PORT_O && o1->get_port_index() == 1u && op->get_output_term(1) == o1);
  std::string order;  // table order is the order of add_port
  for (auto it = op->begin_const_port_entry_table(); it != op->end_const_port_entry_table(); ++it)
    order += (*it)->get_name();
  EXPECT_EQ(order, "abo");

  CDB_SGATE_OPER_PORT_ENTRY* o = op->get_port(CDB_OPER_PORT_O);
  CDB_SGATE_OTERM* carry = op->create_output_term(nullptr);
  o->set_oterm(5, carry);
  o->set_oterm(5, carry);  // a listed terminal again into its own bit: no duplicate, no failure
  EXPECT_EQ(o->get_width(), 6u);
  EXPECT_TRUE(o->get_oterm(3) == nullptr && o->get_oterm(4) == nullptr && o->get_oterm(9) == nullptr);
  EXPECT_TRUE(o->get_oterm(5) == carry && op->get_output_count() == 4u);
}

TEST_F(ADDER_FIXTURE, RefusesForeignTerminalsTwoBitsAndTwoPortsOfOneType) {
  CDB_SGATE_OPER_PORT_ENTRY* a = op->get_port(CDB_OPER_PORT_A);
  CDB_SGATE_ITERM* a0 = a->get_iterm(0);
  EXPECT_KAVU_INTERNAL_ERROR(a->set_iterm(1, a0), "in_other_bit");
  EXPECT_KAVU_INTERNAL_ERROR(op->get_port(CDB_OPER_PORT_B)->set_iterm(0, a0), "in_other_bit");
  CDB_SGATE_COMB other(nullptr, CDB_COMB_AND);
  CDB_SGATE_ITERM* foreign = other.create_input_term(nullptr);
  other.insert_unordered_fanin_term(foreign);
  EXPECT_KAVU_INTERNAL_ERROR(a->set_iterm(0, foreign), "get_my_node() == m_op");
  EXPECT_KAVU_INTERNAL_ERROR(op->add_port("a2", CDB_OPER_PORT_A, CDB_OPER_PORT_DIR_IN), "get_port(type) == nullptr");
  EXPECT_TRUE(a->get_iterm(0) == a0 && a->get_width() == 3u);  // refused calls change nothing
}

TEST_F(ADDER_FIXTURE, DestroyedTerminalsLeaveTheirBitEmptyAndStaleDataIsReported) {
  op->delete_input_term(op->get_iterm(CDB_OPER_PORT_A, 1));
  op->delete_output_term(op->get_oterm(CDB_OPER_PORT_O, 0));
  op->get_port(CDB_OPER_PORT_B)->set_iterm(0, nullptr);  // by hand: the terminal stays in the gate's list
  EXPECT_TRUE(op->get_iterm(CDB_OPER_PORT_A, 1) == nullptr && op->get_width(CDB_OPER_PORT_A) == 3u);
  EXPECT_TRUE(op->get_oterm(CDB_OPER_PORT_O, 0) == nullptr && op->get_iterm(CDB_OPER_PORT_B, 0) == nullptr);
  EXPECT_EQ(op->get_number_of_fanin(), 5u);
  op->get_iterm(CDB_OPER_PORT_A, 2)->set_port_index(0);
  std::string report;
  EXPECT_FALSE(op->check_kind_invariants(&report));
  EXPECT_NE(report.find("operator port a bit 2"), std::string::npos) << report;
  op->get_iterm(CDB_OPER_PORT_A, 2)->set_port_index(2);
}

TEST(SgateComponent, PortsMakeTerminalsInTableOrderAndParametersKeepTheirPlace) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  CDB_SGATE_COMPONENT* c = new CDB_SGATE_COMPONENT("ram0", true);
  nl.add_node(c);
  EXPECT_TRUE(c->is_port_prototype_known() && c->is_sweep_keeper());
  CDB_SGATE_COMPONENT_PORT_ENTRY* addr = c->add_unique_known_port("address", CDB_COMPONENT_PORT_INPUT, 4);
  c->add_unique_known_port("q[0]", CDB_COMPONENT_PORT_OUTPUT);
  EXPECT_EQ(c->add_unique_known_port("address", CDB_COMPONENT_PORT_INPUT, 2), addr);  // unique by name
  EXPECT_TRUE(addr->get_width() == 4u && c->get_number_of_input_terms() == 4u);
  EXPECT_TRUE(c->get_input_term(3) == addr->get_iterm(3) && addr->get_iterm(3)->get_port_index() == 3u);
  CDB_SGATE_ITERM* it = nullptr;
  CDB_SGATE_OTERM* ot = nullptr;
  EXPECT_TRUE(c->retrieve_known_port("q[0]", CDB_COMPONENT_PORT_OUTPUT, &it, &ot, false));
  EXPECT_TRUE(it == nullptr && ot == c->get_output_term(0));
  EXPECT_FALSE(c->retrieve_known_port("wren", CDB_COMPONENT_PORT_INPUT, &it, &ot, false));  // not made
  EXPECT_TRUE(c->retrieve_known_port("wren", CDB_COMPONENT_PORT_INPUT, &it, &ot, true) && c->get_input_term(4) == it);
  EXPECT_KAVU_INTERNAL_ERROR(c->retrieve_known_port("wren", CDB_COMPONENT_PORT_OUTPUT, &it, &ot, true),
                             "port->m_dir == dir");
  EXPECT_EQ(it, c->get_input_term(4));  // a refused lookup leaves the out pointers alone
  c->delete_input_term(c->get_input_term(1));
  EXPECT_EQ(addr->get_iterm(1), nullptr);
  for (auto [name, value] : {std::pair{"LPM_WIDTH", "8"}, {"LPM_DIRECTION", "UP"}, {"LPM_WIDTH", "16"}})
    c->set_parameter(name, value, 493);  // a second value replaces the first in its place
  std::string order = c->get_parameter("NONE") ? "found NONE;" : "";
  for (auto p = c->begin_const_parameter_table(); p != c->end_const_parameter_table(); ++p)
    order += std::string(p->get_name()) + "=" + p->get_value() + ";";
  EXPECT_EQ(order, "LPM_WIDTH=16;LPM_DIRECTION=UP;");
}

TEST(SgateRam, PortBClockAnswersToBothNumbers) {
  CDB_SGATE_SYNCHRONOUS_RAM ram(nullptr);
  CDB_SGATE_ITERM* clk_b = ram.add_iterm(DB_PORT_RAM_PORTB_CLK);
  EXPECT_EQ(clk_b->get_port_type(), DB_PORT_RAM_PORTB_CLK_STORED);
  EXPECT_TRUE(ram.get_iterm_by_type(DB_PORT_RAM_PORTB_CLK) == clk_b &&
              ram.get_iterm_by_type(DB_PORT_RAM_PORTB_CLK_STORED) == clk_b);
  EXPECT_KAVU_INTERNAL_ERROR(ram.add_iterm(DB_PORT_RAM_PORTB_CLK_STORED), "get_iterm_by_type(type, i) == nullptr");
  CDB_SGATE_ITERM* d3 = ram.add_iterm(410, 3);
  EXPECT_TRUE(ram.get_iterm_by_type(410, 3) == d3 && ram.get_iterm_by_type(410, 2) == nullptr);
  EXPECT_KAVU_INTERNAL_ERROR(ram.set_size_parameter(10, 1), "i < kNumSizeParameters");
}

}  // namespace
