// Tests of the small shared helpers: the library's file streams, the gate
// count of a netlist, the exported records and the compiler-directive
// option query.
//
// The test kit runs every test in a fresh scratch directory, so relative
// file names land there.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "cdb/cdb_sgate.h"
#include "hdb/hdb.h"
#include "kavu_helper.h"
#include "testkit/platform_testkit.h"

namespace {

std::string read_file(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(KavuHelperStreams, OpenWritesTheFileAndReadsItBack) {
  {
    std::orlind_ofstream out("dump.txt");
    ASSERT_TRUE(out.is_open());
    ASSERT_TRUE(out.good());
    out << "line 1\n";
  }
  EXPECT_EQ(read_file("dump.txt"), "line 1\n");

  std::orlind_ifstream in;
  in.open("dump.txt");
  ASSERT_TRUE(in.is_open());
  std::string word;
  in >> word;
  EXPECT_EQ(word, "line");

  // The constructor opens for output alone: an existing file is truncated.
  { std::orlind_ofstream again("dump.txt"); }
  EXPECT_EQ(read_file("dump.txt"), "");

  // Output is always added to the caller's mode; append keeps the content.
  {
    std::orlind_ofstream out("dump.txt");
    out << "first\n";
  }
  {
    std::orlind_ofstream out;
    out.open("dump.txt", std::ios_base::app);
    ASSERT_TRUE(out.is_open());
    out << "second\n";
  }
  EXPECT_EQ(read_file("dump.txt"), "first\nsecond\n");
}

TEST(KavuHelperStreams, OpenResolvesTheNameToAFullPath) {
  std::filesystem::create_directory("sub");
  {
    std::orlind_ofstream out;
    out.open("sub/../sub/./data.txt");
    ASSERT_TRUE(out.is_open());
    out << "x";
  }
  EXPECT_EQ(read_file("sub/data.txt"), "x");

  // The path is fixed at open: changing directory afterwards does not move
  // the file being written.
  std::orlind_ofstream out("late.txt");
  const std::filesystem::path here = std::filesystem::current_path();
  std::filesystem::current_path("sub");
  out << "y";
  out.close();
  std::filesystem::current_path(here);
  EXPECT_EQ(read_file("late.txt"), "y");
  EXPECT_FALSE(std::filesystem::exists("sub/late.txt"));
}

TEST(KavuHelperStreams, ReopeningAnOpenStreamLeavesItUnchanged) {
  std::orlind_ofstream out("first.txt");
  ASSERT_TRUE(out.is_open());
  out.open("second.txt");
  EXPECT_TRUE(out.is_open());
  EXPECT_TRUE(out.good());
  EXPECT_FALSE(std::filesystem::exists("second.txt"));
  out << "still first";
  out.close();
  EXPECT_EQ(read_file("first.txt"), "still first");

  // The state of an open stream is kept as well, failed or not.
  std::orlind_ifstream in("first.txt");
  std::string word;
  while (in >> word) {
  }
  ASSERT_TRUE(in.eof());
  in.open("first.txt");
  EXPECT_TRUE(in.eof());
  EXPECT_TRUE(in.fail());
}

TEST(KavuHelperStreams, FailureSetsFailbitAndALaterOpenRecovers) {
  std::orlind_ofstream out;
  out.open("no_such_dir/file.txt");
  EXPECT_FALSE(out.is_open());
  EXPECT_TRUE(out.fail());
  out << "lost";
  EXPECT_FALSE(std::filesystem::exists("no_such_dir"));

  // A failed, closed stream may be opened again; success clears the state.
  out.open("recovered.txt");
  EXPECT_TRUE(out.is_open());
  EXPECT_TRUE(out.good());

  std::orlind_ifstream in("missing.txt");
  EXPECT_FALSE(in.is_open());
  EXPECT_TRUE(in.fail());

  std::orlind_ofstream by_string(std::string("no_such_dir/x.txt"), std::ios_base::out);
  EXPECT_TRUE(by_string.fail());
}

TEST(KavuHelperNetlist, ContainerSizeCountsLiveGates) {
  CDB_SGATE_NETLIST netlist;
  KAVU_TRACK(netlist);
  EXPECT_EQ(kavu_node_container_size(&netlist), 0u);
  CDB_SGATE_NODE* a = new CDB_SGATE_IO(nullptr, CDB_IO_INPUT);
  CDB_SGATE_NODE* b = new CDB_SGATE_BUFFER(nullptr, CDB_BUFFER_SOFT);
  CDB_SGATE_NODE* c = new CDB_SGATE_COMB(nullptr, CDB_COMB_AND);
  netlist.add_node(a);
  netlist.add_node(b);
  netlist.add_node(c);
  EXPECT_EQ(kavu_node_container_size(&netlist), 3u);
  netlist.delete_node(b);  // unlinks only; the slot becomes empty
  delete b;
  EXPECT_EQ(kavu_node_container_size(&netlist), 2u);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_node_container_size(nullptr), "netlist");
}

TEST(KavuHelperRecords, MovesLeaveTheSourceEmptyAndCopiesAreIndependent) {
  int anchor[3];
  auto* p0 = reinterpret_cast<CDB_SGATE_NODE*>(&anchor[0]);
  auto* p1 = reinterpret_cast<CDB_SGATE_OTERM*>(&anchor[1]);

  OPT_CONE_DESCRIPTION cone;
  cone.m_cost = 7;
  cone.m_nodes = {p0, p0};
  OPT_CONE_DESCRIPTION copy = cone;
  copy.m_nodes.pop_back();
  EXPECT_EQ(cone.m_nodes.size(), 2u);
  OPT_CONE_DESCRIPTION moved(std::move(cone));
  EXPECT_EQ(moved.m_cost, 7);
  EXPECT_EQ(moved.m_nodes.size(), 2u);
  EXPECT_TRUE(cone.m_nodes.empty());  // NOLINT(bugprone-use-after-move)
  copy = std::move(moved);
  EXPECT_EQ(copy.m_nodes.size(), 2u);
  EXPECT_TRUE(moved.m_nodes.empty());  // NOLINT(bugprone-use-after-move)

  OPT_SUBGRAPH_DESCRIPTION domain;
  domain.m_domain_id = 3;
  domain.m_nodes = {p0};
  domain.m_inputs = {p1};
  domain.m_outputs = {p1, p1};
  OPT_SUBGRAPH_DESCRIPTION target;
  target = std::move(domain);
  EXPECT_EQ(target.m_domain_id, 3);
  EXPECT_EQ(target.m_outputs.size(), 2u);
  EXPECT_TRUE(domain.m_nodes.empty() && domain.m_inputs.empty() && domain.m_outputs.empty());
}

}  // namespace
