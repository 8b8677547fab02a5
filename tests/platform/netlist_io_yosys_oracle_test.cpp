// yosys as a peer: register counts after merging, an absent binary, a fake
// binary whose output is not understood; and the netlist's waive byte and
// the register-classification vocabulary.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "hdb/acf.h"
#include "netlist_io/yosys_oracle.h"
#include "platform_testkit.h"

using namespace kavu_platform;

TEST(NetlistIoYosysOracle, MergedRegisterCounts) {
  {
    CFG_SCOPE cfg{{"yosys_binary", "/nonexistent/yosys"}};
    std::string log;
    EXPECT_EQ(yosys_binary_path(), "");
    EXPECT_EQ(yosys_merged_register_count(blif_data_path("seq/stereovision3"), &log), -1);
    EXPECT_NE(log.find("not installed"), std::string::npos);
  }
  {
    // A stand-in that prints no statistics.
    const std::string fake = std::filesystem::absolute("fake_yosys").string();
    std::ofstream(fake) << "#!/bin/sh\necho hello\n";
    chmod(fake.c_str(), 0755);
    CFG_SCOPE cfg{{"yosys_binary", fake.c_str()}};
    EXPECT_EQ(yosys_merged_register_count(blif_data_path("seq/stereovision3")), -1);
  }
  if (yosys_binary_path().empty()) {
    std::cout << "[ note     ] yosys is not installed: register counts skipped\n";
    return;
  }
  // Two identical registers merge; a register of its own stays.
  std::ofstream("dup.blif") << ".model m\n.inputs c d e\n.outputs q r s\n"
                               ".subckt $_DFF_P_ C=c D=d Q=q\n.subckt $_DFF_P_ C=c D=d Q=r\n"
                               ".subckt $_DFF_P_ C=c D=e Q=s\n.end\n";
  std::string log;
  EXPECT_EQ(yosys_merged_register_count("dup.blif", &log), 2) << log;
  EXPECT_EQ(yosys_merged_register_count(blif_data_path("seq/stereovision3")), 120);
}

TEST(NetlistIoYosysOracle, WaiveByteAndVocabulary) {
  CDB_SGATE_NETLIST nl;
  EXPECT_EQ(nl.get_waive_byte(), 0);
  nl.set_waive_byte(CDB_NETLIST_WAIVE_INDY_DUPE);
  EXPECT_EQ(nl.get_waive_byte(), CDB_NETLIST_WAIVE_INDY_DUPE);
  struct ROW {
    int code;
    const char* name;
  } const rows[] = {{ACF_INPUT_REGISTER, "INPUT_REGISTER"}, {ACF_OUTPUT_REGISTER, "OUTPUT_REGISTER"},
                    {ACF_OUTPUT_ENABLE_REGISTER, "OUTPUT_ENABLE_REGISTER"},
                    {ACF_SYNCH_SECONDARY_ALLOWED, "SYNCH_SECONDARY_ALLOWED"}, {ACF_PCI_PIN, "PCI_PIN"}};
  for (const ROW& r : rows) {
    EXPECT_STREQ(acf_variable_type_to_string(r.code), r.name);
    EXPECT_EQ(acf_string_to_variable_type(r.name), r.code);
    EXPECT_EQ(acf_variable_kind(r.code), ACF_KIND_BOOL);
  }
}
