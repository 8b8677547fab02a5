// Operators, components and RAM gates: port tables and the terminals they
// put in the gate's lists, widening, removal, clones and the kind checks.
#include <gtest/gtest.h>

#include <string>

#include "cdb/cdb_sgate.h"
#include "cdb/cdb_sgate_component.h"
#include "cdb/cdb_sgate_operator.h"
#include "cdb/cdb_sgate_ram.h"
#include "testkit/platform_testkit.h"

namespace {

// A 3-bit adder A + B = O in a netlist, A and B driven by input pins.
struct ADDER_FIXTURE : ::testing::Test {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_OPERATOR* op = nullptr;
  CDB_SGATE_IO* pins[6] = {};

  void SetUp() override {
    op = new CDB_SGATE_OPERATOR("add", CDB_OPER_ADDITION);
    nl.add_node(op);
    CDB_SGATE_OPER_PORT_ENTRY* a = op->add_port("a", CDB_OPER_PORT_A, CDB_OPER_PORT_DIR_IN);
    CDB_SGATE_OPER_PORT_ENTRY* b = op->add_port("b", CDB_OPER_PORT_B, CDB_OPER_PORT_DIR_IN);
    CDB_SGATE_OPER_PORT_ENTRY* o = op->add_port("o", CDB_OPER_PORT_O, CDB_OPER_PORT_DIR_OUT);
    for (unsigned i = 0; i < 6; ++i) {
      pins[i] = new CDB_SGATE_IO(nullptr, CDB_IO_INPUT);
      nl.add_node(pins[i]);
    }
    for (unsigned i = 0; i < 3; ++i) {
      a->set_iterm(i, op->insert_unordered_fanin(pins[i]->get_single_oterm()));
      b->set_iterm(i, op->insert_unordered_fanin(pins[3 + i]->get_single_oterm()));
      o->set_oterm(i, op->create_output_term(nullptr));
    }
  }

  void expect_consistent() {
    std::string report;
    EXPECT_TRUE(nl.check(&report)) << report;
  }
};

TEST_F(ADDER_FIXTURE, PortTerminalsLandInTheGateListsWithPortData) {
  EXPECT_EQ(op->get_type(), CDB_OPER_ADDITION);
  EXPECT_STREQ(op->get_string_name(), "add");
  EXPECT_EQ(op->get_number_of_input_terms(), 6u);
  EXPECT_EQ(op->get_output_count(), 3u);
  EXPECT_EQ(op->get_width(CDB_OPER_PORT_B), 3u);
  EXPECT_EQ(op->get_width(CDB_OPER_PORT_CIN), 0u);
  EXPECT_EQ(op->get_port(CDB_OPER_PORT_CIN), nullptr);

  CDB_SGATE_ITERM* b2 = op->get_iterm(CDB_OPER_PORT_B, 2);
  ASSERT_NE(b2, nullptr);
  EXPECT_EQ(b2->get_port_type(), CDB_OPER_PORT_B);
  EXPECT_EQ(b2->get_port_index(), 2u);
  EXPECT_EQ(b2->get_source(), pins[5]->get_single_oterm());
  CDB_SGATE_OTERM* o1 = op->get_oterm(CDB_OPER_PORT_O, 1);
  EXPECT_EQ(o1->get_port_type(), CDB_OPER_PORT_O);
  EXPECT_EQ(o1->get_port_index(), 1u);
  EXPECT_EQ(op->get_output_term(1), o1);

  // Table order is the order of add_port.
  std::string order;
  for (auto it = op->begin_const_port_entry_table(); it != op->end_const_port_entry_table(); ++it)
    order += (*it)->get_name();
  EXPECT_EQ(order, "abo");
  expect_consistent();
}

TEST_F(ADDER_FIXTURE, SettingBeyondTheWidthWidensWithEmptyBits) {
  CDB_SGATE_OPER_PORT_ENTRY* o = op->get_port(CDB_OPER_PORT_O);
  CDB_SGATE_OTERM* carry = op->create_output_term(nullptr);
  o->set_oterm(5, carry);
  EXPECT_EQ(o->get_width(), 6u);
  EXPECT_EQ(o->get_oterm(3), nullptr);
  EXPECT_EQ(o->get_oterm(4), nullptr);
  EXPECT_EQ(o->get_oterm(5), carry);
  EXPECT_EQ(o->get_oterm(9), nullptr);
  EXPECT_EQ(op->get_output_count(), 4u);
  // Setting a listed terminal again into its own bit neither duplicates it nor fails.
  o->set_oterm(5, carry);
  EXPECT_EQ(op->get_output_count(), 4u);
  expect_consistent();
}

TEST_F(ADDER_FIXTURE, RefusesForeignTerminalsTwoBitsAndTwoPortsOfOneType) {
  CDB_SGATE_OPER_PORT_ENTRY* a = op->get_port(CDB_OPER_PORT_A);
  CDB_SGATE_OPER_PORT_ENTRY* b = op->get_port(CDB_OPER_PORT_B);
  CDB_SGATE_ITERM* a0 = a->get_iterm(0);
  EXPECT_KAVU_INTERNAL_ERROR(a->set_iterm(1, a0), "in_other_bit");
  EXPECT_KAVU_INTERNAL_ERROR(b->set_iterm(0, a0), "in_other_bit");
  CDB_SGATE_COMB other(nullptr, CDB_COMB_AND);
  CDB_SGATE_ITERM* foreign = other.create_input_term(nullptr);
  other.insert_unordered_fanin_term(foreign);
  EXPECT_KAVU_INTERNAL_ERROR(a->set_iterm(0, foreign), "get_my_node() == m_op");
  EXPECT_KAVU_INTERNAL_ERROR(op->add_port("a2", CDB_OPER_PORT_A, CDB_OPER_PORT_DIR_IN), "get_port(type) == nullptr");
  EXPECT_EQ(a->get_iterm(0), a0);  // refused calls change nothing
  EXPECT_EQ(a->get_width(), 3u);
  expect_consistent();
}

TEST_F(ADDER_FIXTURE, DestroyedTerminalsLeaveTheirBitEmpty) {
  CDB_SGATE_ITERM* a1 = op->get_iterm(CDB_OPER_PORT_A, 1);
  op->delete_input_term(a1);
  EXPECT_EQ(op->get_iterm(CDB_OPER_PORT_A, 1), nullptr);
  EXPECT_EQ(op->get_width(CDB_OPER_PORT_A), 3u);
  op->delete_output_term(op->get_oterm(CDB_OPER_PORT_O, 0));
  EXPECT_EQ(op->get_oterm(CDB_OPER_PORT_O, 0), nullptr);
  // Emptying a bit by hand keeps the terminal in the gate's list.
  op->get_port(CDB_OPER_PORT_B)->set_iterm(0, nullptr);
  EXPECT_EQ(op->get_iterm(CDB_OPER_PORT_B, 0), nullptr);
  EXPECT_EQ(op->get_number_of_fanin(), 5u);
  expect_consistent();
}

TEST_F(ADDER_FIXTURE, CheckReportsPortTerminalsWithStalePortData) {
  op->get_iterm(CDB_OPER_PORT_A, 2)->set_port_index(0);
  std::string report;
  EXPECT_FALSE(op->check_kind_invariants(&report));
  EXPECT_NE(report.find("operator port a bit 2"), std::string::npos) << report;
  op->get_iterm(CDB_OPER_PORT_A, 2)->set_port_index(2);
  expect_consistent();
}

TEST_F(ADDER_FIXTURE, ClonesKeepPortsBitsAndConnections) {
  op->set_mode1(3);
  op->set_mode3(0xdeadbeef);
  op->set_signed(1);
  op->set_tag(77);
  op->get_port(CDB_OPER_PORT_O)->set_oterm(4, op->create_output_term(nullptr));
  for (int clone_type : {0, 1}) {
    CDB_SGATE_NODE* node = nullptr;
    op->clone_node(nullptr, &node, clone_type);
    CDB_SGATE_OPERATOR* copy = node->cast_to_operator();
    ASSERT_NE(copy, nullptr);
    nl.add_node(copy);
    EXPECT_EQ(copy->get_type(), CDB_OPER_ADDITION);
    EXPECT_EQ(copy->get_mode1(), 3);
    EXPECT_EQ(copy->get_mode3(), 0xdeadbeefu);
    EXPECT_TRUE(copy->is_signed());
    EXPECT_EQ(copy->get_tag(), 77u);
    EXPECT_STREQ(copy->get_string_name(), "add");
    for (CDB_OPER_PORT_TYPE t : {CDB_OPER_PORT_A, CDB_OPER_PORT_B, CDB_OPER_PORT_O}) {
      ASSERT_EQ(copy->get_width(t), op->get_width(t));
      for (unsigned i = 0; i < op->get_width(t); ++i) {
        CDB_SGATE_ITERM* ci = copy->get_iterm(t, i);
        CDB_SGATE_OTERM* co = copy->get_oterm(t, i);
        EXPECT_EQ(ci == nullptr, op->get_iterm(t, i) == nullptr);
        EXPECT_EQ(co == nullptr, op->get_oterm(t, i) == nullptr) << "port " << t << " bit " << i;
        if (ci) {
          EXPECT_EQ(ci->get_my_node(), copy);
          EXPECT_EQ(ci->get_source(), clone_type == 1 ? op->get_iterm(t, i)->get_source() : nullptr);
        }
        if (co) {
          EXPECT_EQ(co->get_my_node(), copy);
        }
      }
    }
  }
  expect_consistent();
}

TEST(SgateComponent, PortsMakeTerminalsInTableOrder) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_COMPONENT* c = new CDB_SGATE_COMPONENT("ram0", true);
  nl.add_node(c);
  c->set_component_type(2);
  EXPECT_STREQ(c->get_string_name(), "ram0");
  EXPECT_TRUE(c->is_port_prototype_known());
  EXPECT_TRUE(c->is_sweep_keeper());
  EXPECT_EQ(c->get_child_netlist(), nullptr);

  CDB_SGATE_COMPONENT_PORT_ENTRY* addr = c->add_unique_known_port("address", CDB_COMPONENT_PORT_INPUT, 4);
  c->add_unique_known_port("q[0]", CDB_COMPONENT_PORT_OUTPUT);
  EXPECT_EQ(c->add_unique_known_port("address", CDB_COMPONENT_PORT_INPUT, 2), addr);  // unique by name
  EXPECT_EQ(addr->get_width(), 4u);
  EXPECT_EQ(c->get_number_of_input_terms(), 4u);
  EXPECT_EQ(c->get_input_term(3), addr->get_iterm(3));
  EXPECT_EQ(addr->get_iterm(3)->get_port_index(), 3u);

  CDB_SGATE_ITERM* it = nullptr;
  CDB_SGATE_OTERM* ot = nullptr;
  EXPECT_TRUE(c->retrieve_known_port("q[0]", CDB_COMPONENT_PORT_OUTPUT, &it, &ot, false));
  EXPECT_EQ(it, nullptr);
  EXPECT_EQ(ot, c->get_output_term(0));
  EXPECT_FALSE(c->retrieve_known_port("wren", CDB_COMPONENT_PORT_INPUT, &it, &ot, false));
  EXPECT_EQ(c->get_number_of_input_terms(), 4u);
  EXPECT_TRUE(c->retrieve_known_port("wren", CDB_COMPONENT_PORT_INPUT, &it, &ot, true));
  EXPECT_EQ(c->get_input_term(4), it);
  EXPECT_KAVU_INTERNAL_ERROR(c->retrieve_known_port("wren", CDB_COMPONENT_PORT_OUTPUT, &it, &ot, true),
                             "port->m_dir == dir");
  EXPECT_EQ(it, c->get_input_term(4));  // a refused lookup leaves the out pointers alone

  c->delete_input_term(c->get_input_term(1));
  EXPECT_EQ(addr->get_iterm(1), nullptr);
  std::string report;
  EXPECT_TRUE(nl.check(&report)) << report;
}

TEST(SgateComponent, ParametersAndClones) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_IO* pin = new CDB_SGATE_IO(nullptr, CDB_IO_INPUT);
  nl.add_node(pin);
  CDB_SGATE_COMPONENT* c = new CDB_SGATE_COMPONENT("cnt", false);
  nl.add_node(c);
  c->set_parameter("LPM_WIDTH", "8", 493);
  c->set_parameter("LPM_DIRECTION", "UP", 493);
  c->set_parameter("LPM_WIDTH", "16", 493);  // replaces, keeps the place
  c->set_library_name("lpm");
  c->set_architecture_name("rtl");
  EXPECT_STREQ(c->get_parameter("LPM_WIDTH"), "16");
  EXPECT_EQ(c->get_parameter("NONE"), nullptr);
  std::string order;
  for (auto p = c->begin_const_parameter_table(); p != c->end_const_parameter_table(); ++p)
    order += std::string(p->get_name()) + "=" + p->get_value() + ";";
  EXPECT_EQ(order, "LPM_WIDTH=16;LPM_DIRECTION=UP;");

  c->add_unique_known_port("data", CDB_COMPONENT_PORT_INPUT, 2)->get_iterm(1)->set_source(pin->get_single_oterm());
  c->add_unique_known_port("q", CDB_COMPONENT_PORT_OUTPUT, 2);
  CDB_SGATE_NODE* node = nullptr;
  c->clone_node(nullptr, &node, 1);
  CDB_SGATE_COMPONENT* copy = node->cast_to_component();
  ASSERT_NE(copy, nullptr);
  nl.add_node(copy);
  EXPECT_STREQ(copy->get_parameter("LPM_DIRECTION"), "UP");
  EXPECT_STREQ(copy->get_library_name(), "lpm");
  EXPECT_STREQ(copy->get_string_name(), "cnt");
  CDB_SGATE_COMPONENT_PORT_ENTRY* data = copy->find_port("data");
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(data->get_iterm(1)->get_my_node(), copy);
  EXPECT_EQ(data->get_iterm(1)->get_source(), pin->get_single_oterm());
  EXPECT_EQ(data->get_iterm(0)->get_source(), nullptr);
  EXPECT_EQ(copy->find_port("q")->get_oterm(1), copy->get_output_term(1));
  std::string report;
  EXPECT_TRUE(nl.check(&report)) << report;
}

TEST(SgateRam, PortBClockAnswersToBothNumbersAndClonesKeepFields) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_IO* clk = new CDB_SGATE_IO(nullptr, CDB_IO_INPUT);
  nl.add_node(clk);
  CDB_SGATE_SYNCHRONOUS_RAM* ram = new CDB_SGATE_SYNCHRONOUS_RAM(nullptr);
  nl.add_node(ram);
  EXPECT_STREQ(ram->get_string_type_name(), "SYNC_RAM");
  CDB_SGATE_ITERM* clk_b = ram->add_iterm(DB_PORT_RAM_PORTB_CLK);
  EXPECT_EQ(clk_b->get_port_type(), DB_PORT_RAM_PORTB_CLK_STORED);
  EXPECT_EQ(ram->get_iterm_by_type(DB_PORT_RAM_PORTB_CLK), clk_b);
  EXPECT_EQ(ram->get_iterm_by_type(DB_PORT_RAM_PORTB_CLK_STORED), clk_b);
  EXPECT_KAVU_INTERNAL_ERROR(ram->add_iterm(DB_PORT_RAM_PORTB_CLK_STORED), "get_iterm_by_type(type, i) == nullptr");
  clk_b->set_source(clk->get_single_oterm());
  CDB_SGATE_ITERM* d3 = ram->add_iterm(410, 3);
  EXPECT_EQ(ram->get_iterm_by_type(410, 3), d3);
  EXPECT_EQ(ram->get_iterm_by_type(410, 2), nullptr);
  CDB_SGATE_OTERM* q = ram->add_oterm(DB_PORT_RAM_PORTB_DATAOUT, 0);
  EXPECT_EQ(ram->get_oterm_by_type(DB_PORT_RAM_PORTB_DATAOUT), q);
  ram->set_size_parameter(9, 512);
  ram->set_mode_word(1, 0x55);
  ram->set_mif_file("db/init.mif");
  EXPECT_KAVU_INTERNAL_ERROR(ram->set_size_parameter(10, 1), "i < kNumSizeParameters");

  CDB_SGATE_NODE* node = nullptr;
  ram->clone_node(nullptr, &node, 1);
  CDB_SGATE_SYNCHRONOUS_RAM* copy = node->cast_to_synchronous_ram();
  ASSERT_NE(copy, nullptr);
  nl.add_node(copy);
  EXPECT_EQ(copy->get_size_parameter(9), 512);
  EXPECT_EQ(copy->get_mode_word(1), 0x55u);
  EXPECT_STREQ(copy->get_mif_file(), "db/init.mif");
  ASSERT_NE(copy->get_iterm_by_type(DB_PORT_RAM_PORTB_CLK), nullptr);
  EXPECT_EQ(copy->get_iterm_by_type(DB_PORT_RAM_PORTB_CLK)->get_source(), clk->get_single_oterm());
  EXPECT_NE(copy->get_iterm_by_type(410, 3), nullptr);
  EXPECT_NE(copy->get_oterm_by_type(DB_PORT_RAM_PORTB_DATAOUT), nullptr);

  CDB_SGATE_ASYNCHRONOUS_RAM async(nullptr);
  EXPECT_EQ(async.get_sgate_type(), CDB_SGATE_ASYNCHRONOUS_RAM_ENUM);
  EXPECT_EQ(async.get_mif_file(), nullptr);
  std::string report;
  EXPECT_TRUE(nl.check(&report)) << report;
}

}  // namespace
