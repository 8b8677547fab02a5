// Tests of the small shared helpers: file streams (run in the test kit's
// scratch directory) and the compiler-directive query. The gate count is
// checked on real circuits in kavu_helper_predicates_test.
#include <filesystem>
#include <fstream>
#include <iterator>

#include "hdb/hdb.h"
#include "kavu_helper.h"
#include "testkit/platform_testkit.h"

namespace {

std::string read_file(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(KavuHelperStreams, OpenAddsOutputToTheModeAndTheConstructorTruncates) {
  {
    std::orlind_ofstream out("dump.txt");
    out << "first\n";
  }
  {
    std::orlind_ofstream out;
    out.open("dump.txt", std::ios_base::app);  // output is added to the mode
    out << "second\n";
  }
  EXPECT_EQ(read_file("dump.txt"), "first\nsecond\n");
  { std::orlind_ofstream again("dump.txt"); }
  EXPECT_EQ(read_file("dump.txt"), "");
}

TEST(KavuHelperStreams, ReopeningKeepsTheOpenFileAndAFailureIsRecoverable) {
  std::orlind_ofstream out("first.txt");
  out.open("second.txt");  // already open: nothing changes
  EXPECT_TRUE(out.is_open() && out.good() && !std::filesystem::exists("second.txt"));
  out << "still first";
  out.close();
  EXPECT_EQ(read_file("first.txt"), "still first");
  // A failed open sets the fail bit; a later successful one clears it.
  out.open("no_such_dir/file.txt");
  EXPECT_TRUE(!out.is_open() && out.fail());
  out.open("recovered.txt");
  EXPECT_TRUE(out.is_open() && out.good());
  EXPECT_TRUE(std::orlind_ifstream("missing.txt").fail());
}

TEST(KavuHelperOptions, CompilerDirectivesReplaceTheCallersList) {
  HDB_NAMESPACE* ns = kavu_platform::hdb_default_namespace();
  kavu_platform::hdb_set_option(ns, ACF_VERILOG_MACRO, "WIDTH=8");
  kavu_platform::hdb_set_option(ns, ACF_VERILOG_MACRO, "DEBUG=1");
  KAVU_DERIVED_OPTION_LIST options(5, nullptr);  // stale content is replaced
  kavu_get_all_derived_options(ns, &options);
  ASSERT_EQ(options.size(), 2u);
  EXPECT_STREQ(options[0]->get_value(), "WIDTH=8");
  EXPECT_STREQ(options[1]->get_value(), "DEBUG=1");
  EXPECT_KAVU_INTERNAL_ERROR(kavu_get_all_derived_options(ns, nullptr), "results");
}

// Callers move these records out of containers and reuse the source: a
// moved-from record must be empty, not hold stale gates.
TEST(KavuHelperRecords, MovesLeaveTheSourceEmpty) {
  CDB_SGATE_NODE* g = reinterpret_cast<CDB_SGATE_NODE*>(0x10);
  CDB_SGATE_OTERM* o = reinterpret_cast<CDB_SGATE_OTERM*>(0x20);
  OPT_CONE_DESCRIPTION cone;
  cone.m_cost = 3;
  cone.m_nodes = {g};
  OPT_CONE_DESCRIPTION moved(std::move(cone)), assigned;
  EXPECT_TRUE(moved.m_cost == 3 && moved.m_nodes.size() == 1 && cone.m_nodes.empty());
  assigned = std::move(moved);
  OPT_CONE_DESCRIPTION& same = assigned;
  assigned = std::move(same);  // self-move keeps the content
  EXPECT_TRUE(assigned.m_nodes.size() == 1 && moved.m_nodes.empty());
  OPT_SUBGRAPH_DESCRIPTION sub;
  sub.m_size = 2;
  sub.m_nodes = {g};
  sub.m_inputs = {o};
  sub.m_outputs = {o};
  OPT_SUBGRAPH_DESCRIPTION sub_moved(std::move(sub)), sub_assigned;
  EXPECT_TRUE(sub.m_nodes.empty() && sub.m_inputs.empty() && sub.m_outputs.empty());
  sub_assigned = std::move(sub_moved);
  OPT_SUBGRAPH_DESCRIPTION& sub_same = sub_assigned;
  sub_assigned = std::move(sub_same);
  EXPECT_TRUE(sub_assigned.m_size == 2 && sub_assigned.m_inputs.size() == 1 && sub_moved.m_outputs.empty());
}

}  // namespace
