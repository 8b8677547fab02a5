// Tests of the assignment regression dump: the list file (comments, CR LF
// line ends, lines far longer than 80 characters, every error), and the
// lines collected from a bundled circuit's names, the global options and
// the sections, as golden multisets.
#include <fstream>

#include "hdb/acf.h"
#include "hdb/hdb.h"
#include "hdb/hdb_section.h"
#include "kavu_stats_test_support.h"

using namespace kavu_platform;
using namespace kavu_stats_test;

namespace {

class KavuAssignmentRegtest : public STATS_TEST {
 protected:
  KavuAssignmentRegtest() { kavu_assignment_regtest_reset_for_tests(); }
  ~KavuAssignmentRegtest() override { kavu_assignment_regtest_reset_for_tests(); }
};

void write_list(const std::string& text) {
  std::ofstream out("assignments.rin", std::ios::binary);
  out << text;
}

const char* const k_assignments =
    "set_instance_assignment -name USER_CLOCK_ENABLE on -to counter8|q[0]\n"
    "set_instance_assignment -name FORCE_SYNCH_CLEAR on -to counter8|q[1]\n"
    "set_instance_assignment -name FORCE_SYNCH_CLEAR off -to counter8|q[1]\n"
    "set_instance_assignment -name FORCE_CLOCK_ENABLE off -to counter8\n"
    "set_instance_assignment -name VERILOG_MACRO A=1 -to counter8|q[2]\n"
    "set_instance_assignment -name VERILOG_MACRO B=2 -to counter8|q[2]\n"
    "set_instance_assignment -name VERILOG_MACRO A=1 -to counter8|q[2]\n"
    "set_instance_assignment -name PCI_PIN on -to counter8|q[3]\n"
    "set_global_assignment -name VERILOG_MACRO X=1\n";

}  // namespace

TEST_F(KavuAssignmentRegtest, GoldenLinesOfACircuit) {
  // CR LF line ends, comments of every kind, a blank line, and an instance
  // line of 200 characters.
  const std::string long_line = "instance:" + std::string(180, ' ') + "FORCE_SYNCH_CLEAR   ";
  ASSERT_GE(long_line.size(), 200u);
  write_list("# regression list\r\n; note\r\n- dash\r\n// slashes\r\n\r\n   \r\ninstance: USER_CLOCK_ENABLE\r\n" +
             long_line + "\r\ninstance: FORCE_CLOCK_ENABLE\nmulti_instance: VERILOG_MACRO\r\n"
             "global: default VERILOG_MACRO\r\n");
  DEBUG_CAPTURE cap("KAVU");
  kavu_read_regtest_assignments();
  EXPECT_TRUE(cap.contains("Added instance assignment FORCE_SYNCH_CLEAR"));
  EXPECT_TRUE(cap.contains("Added multi-valued instance assignment VERILOG_MACRO"));
  EXPECT_TRUE(cap.contains("Added global assignment VERILOG_MACRO section default"));
  kavu_read_regtest_assignments();
  EXPECT_TRUE(cap.contains("Skip reading assignments"));

  auto nl = load_blif("small/counter8_generic");
  std::string error;
  ASSERT_TRUE(hdb_load_assignments(nullptr, k_assignments, &error)) << error;
  std::multiset<std::string> lines;
  kavu_collect_assignments_on_nodes(nl.get_deleter().hierarchy, lines);
  kavu_collect_global_assignments(nullptr, lines);
  // The parent name is collected once though eight registers share it;
  // equal values of a multi-valued variable give one line; PCI_PIN is not
  // in the list.
  const std::multiset<std::string> golden = {
      "Global: VERILOG_MACRO = X=1",
      "Name : FORCE_CLOCK_ENABLE = off",
      "Name q[0]: USER_CLOCK_ENABLE = on",
      "Name q[0]: USER_CLOCK_ENABLE = on",
      "Name q[1]: FORCE_SYNCH_CLEAR = off",
      "Name q[1]: FORCE_SYNCH_CLEAR = off",
      "Name q[2]: VERILOG_MACRO = A=1",
      "Name q[2]: VERILOG_MACRO = A=1",
      "Name q[2]: VERILOG_MACRO = B=2",
      "Name q[2]: VERILOG_MACRO = B=2",
  };
  EXPECT_EQ(lines, golden);
}

TEST_F(KavuAssignmentRegtest, SectionLines) {
  write_list("instance: FORCE_SYNCH_CLEAR\nglobal: CHIP DEVICE_TECHNOLOGY_MIGRATION_LIST\n");
  kavu_read_regtest_assignments();
  HDB_NAMESPACE* ns = hdb_default_namespace();
  HDB_INSTANCE_NAME* u = HDB_INSTANCE_NAME::create_normal_name(ns, "top", nullptr, nullptr, nullptr, 1);
  HDB_INSTANCE_NAME* r = HDB_INSTANCE_NAME::create_normal_name(nullptr, "r", nullptr, nullptr, u, 1);
  HDB_SOURCE_COMPONENT* comp = ns->get_source_components()->get_primitive(88);
  HDB_ASSIGNMENT::create(comp, HDB_CREATE_ASGN_INFO(ACF_SECTION_ENTITY, ACF_FORCE_SYNCH_CLEAR, "top|r", r, "on"));
  HDB_SECTION* chip = hdb_create_chip(ns, "chip", "AUTO");
  hdb_add_section_assignment(chip, ACF_DEVICE_TECHNOLOGY_MIGRATION_LIST, "P1,P2");
  hdb_add_section_assignment(chip, ACF_FORCE_CLOCK_ENABLE, "on");  // not reported
  hdb_set_option(ns, ACF_FORCE_SYNCH_CLEAR, "off");
  std::multiset<std::string> lines;
  kavu_collect_cap_inst_assignments("P ", ns, lines);
  kavu_collect_global_assignments(ns, lines);
  const std::multiset<std::string> golden = {
      "P S:DEFAULT: FORCE_SYNCH_CLEAR = off    ",
      "P S:CHIP: DEVICE_TECHNOLOGY_MIGRATION_LIST = P1,P2    ",
      "P SC:" + std::string(comp->get_component_name_str()) + " - S:ENTITY: FORCE_SYNCH_CLEAR = on source " +
          comp->get_component_name_str() + " target r  ",
      "Global: DEVICE_TECHNOLOGY_MIGRATION_LIST = P1,P2",
  };
  EXPECT_EQ(lines, golden);
}

// Every problem of the list file is an internal error after a debug line
// naming the line; lines before it stay loaded.
TEST_F(KavuAssignmentRegtest, ListFileErrors) {
  const struct {
    const char* text;
    const char* debug;
  } cases[] = {
      {"instance: FORCE_SYNCH_CLEAR extra\n", ":1: Expected 1 arguments after \"instance:\" but got 2"},
      {"multi_instance:\n", ":1: Expected 1 arguments after \"instance:\" but got 0"},
      {"global: DEFAULT\n", ":1: Expected 2 arguments after \"global:\" but got 1"},
      {"# c\nglobal: NOSUCH VERILOG_MACRO\n", ":2: Don't understand section type NOSUCH"},
      {"global: DEFAULT NOSUCH\n", ":1: Don't understand variable type NOSUCH"},
      {"global: ENTITY VERILOG_MACRO\n", ":1: Variable VERILOG_MACRO is not allowed to be in section ENTITY"},
      {"instance: USER_CLOCK_ENABLE\nbogus: X\n", ":2. Expected to start with \"global:\""},
      {"\x10instance: USER_CLOCK_ENABLE\n", ":1. Expected to start with"},
  };
  for (const auto& c : cases) {
    kavu_assignment_regtest_reset_for_tests();
    write_list(c.text);
    DEBUG_CAPTURE cap("KAVU");
    EXPECT_KAVU_INTERNAL_ERROR(kavu_read_regtest_assignments(), "Error reading assignments.rin");
    EXPECT_TRUE(cap.contains(std::string("Error reading assignments.rin") + c.debug)) << c.text;
  }
  // Only comments: nothing loaded, so the next call reads the file again.
  kavu_assignment_regtest_reset_for_tests();
  write_list("# nothing\n");
  DEBUG_CAPTURE cap("KAVU");
  kavu_read_regtest_assignments();
  kavu_read_regtest_assignments();
  EXPECT_FALSE(cap.contains("Skip reading"));
  std::remove("assignments.rin");
  EXPECT_KAVU_INTERNAL_ERROR(kavu_read_regtest_assignments(), "Could not open assignments.rin");
}
