// netlist_io_tables_test.cpp — the compact tables of the BLIF reader and
// writer: the signal-name table (names past its 16-bit size field, growth
// from a small reservation), the one line number a signal record keeps for
// both of its messages, and the writer's text store and used-name table on
// names longer than a store block and names that collide.
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "netlist_io/blif.h"
#include "netlist_io/netlist_io_int.h"
#include "netlist_io/simulator.h"
#include "testkit/platform_testkit.h"

using namespace kavu_platform;

namespace {

LOADED_NETLIST hold(BLIF_RESULT r) { return LOADED_NETLIST(r.netlist, LOADED_NETLIST_DELETER{r.hierarchy}); }

}  // namespace

// Every name comes back by id and is found again after the table grew from
// a reservation of ten; long names keep their size, the empty name is a name.
TEST(NetlistIoTables, NameTableKeepsEveryNameThroughGrowth) {
  std::vector<std::string> texts = {"", "a", std::string(70000, 'L'), std::string(65535, 'e'),
                                    std::string(65534, 'e'), "a|b"};
  for (int i = 0; i < 50000; ++i) texts.push_back("n" + std::to_string(i));
  IO_TEXT_STORE store(1024);
  IO_NAME_TABLE table;
  table.reserve(10);
  std::vector<std::string_view> kept;
  for (const std::string& t : texts) {
    kept.push_back(store.keep(t));
    bool added = false;
    EXPECT_EQ(table.intern(kept.back(), &added), kept.size() - 1);
    EXPECT_TRUE(added);
  }
  for (size_t i = 0; i < texts.size(); ++i) {
    ASSERT_EQ(table.name(uint32_t(i)), texts[i]) << i;
    ASSERT_EQ(table.name(uint32_t(i)).data(), kept[i].data()) << i;
    bool added = true;
    ASSERT_EQ(table.intern(texts[i], &added), i) << i;  // another copy of the text finds it
    EXPECT_FALSE(added);
  }
  EXPECT_EQ(table.find("n50000"), UINT32_MAX);
  EXPECT_EQ(table.find(std::string(70001, 'L')), UINT32_MAX);
  // A name moved elsewhere keeps its id and size.
  const std::string copy = texts[2];
  table.rebind(2, copy);
  EXPECT_EQ(table.name(2).data(), copy.data());
  EXPECT_EQ(table.name(2).size(), 70000u);
}

// A signal's record keeps one line: its first read until it is defined, then
// its definition, whichever comes first in the file.
TEST(NetlistIoTables, SignalMessagesNameTheRightLine) {
  const std::string head = ".model m\n.inputs a b\n.outputs y\n";  // lines 1-3
  struct CASE {
    const char* what;
    std::string body;  // from line 4
    std::string message;
    bool error;  // else a warning
  } cases[] = {
      {"read, driven, driven again", ".names s y\n1 1\n.names a s\n1 1\n.names b s\n1 1\n",
       "<string>:8: signal 's' is driven twice (first on line 6)", true},
      {"read, constant, driven", ".names s y\n1 1\n.names s\n1\n.names a s\n1 1\n",
       "<string>:8: signal 's' is driven twice (first on line 6)", true},
      {"constant, read, constant", ".names s\n.names s y\n1 1\n.names s\n1\n",
       "<string>:7: signal 's' is driven twice (first on line 4)", true},
      {"read twice, never driven", ".names a s y\n11 1\n.names s t\n1 1\n",
       "<string>:4: signal 's' is never driven; tied to 0", false},
      {"read after a late driver", ".names a b y\n11 1\n.names g\n1\n.names g z\n1 1\n", "", false},
  };
  for (const CASE& c : cases) {
    SCOPED_TRACE(c.what);
    BLIF_RESULT r = blif_read_string(head + c.body);
    LOADED_NETLIST held = hold(r);
    if (c.error) {
      EXPECT_EQ(r.netlist, nullptr);
      EXPECT_EQ(r.error, c.message);
      continue;
    }
    ASSERT_TRUE(r.netlist) << r.error;
    EXPECT_EQ(r.warnings, c.message.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.message});
  }
  // Constants tie their readers: y = s AND a with s = 1, z = NOT t with t = 0.
  BLIF_RESULT r = blif_read_string(".model m\n.inputs a\n.outputs y z\n.names s a y\n11 1\n.names s\n1\n"
                                   ".names t z\n0 1\n.names t\n");
  LOADED_NETLIST held = hold(r);
  ASSERT_TRUE(r.netlist) << r.error;
  NETLIST_SIMULATOR sim(r.netlist);
  ASSERT_TRUE(sim.ok()) << sim.error();
  const uint64_t a = 0x0123456789abcdefull;
  sim.set_input(r.netlist->get_input_pins().front(), a);
  sim.eval();
  for (CDB_SGATE_IO* pin : r.netlist->get_output_pins())
    EXPECT_EQ(sim.output(pin), io_signal_path(pin->get_instance_name()) == "y" ? a : ~uint64_t(0));
}

// Two signals of one name are written as "dup" and "dup~1", a name longer
// than a block of the writer's store comes back whole, and the function is
// kept.
TEST(NetlistIoTables, WriterKeepsLongAndCollidingNames) {
  BLIF_RESULT r = blif_read_string(
      ".model m\n.inputs a b\n.outputs y z\n.names a b p\n11 1\n.names a b q\n10 1\n"
      ".names p q y\n1- 1\n-1 1\n.names q z\n0 1\n.end\n");
  LOADED_NETLIST n = hold(r);
  ASSERT_TRUE(n) << r.error;
  HDB_INSTANCE_NAME* top = n->get_hierarchy()->get_instance_name();
  const std::string long_name(70000, 'w');
  std::vector<std::string> renamed;
  for (auto it = n->begin_node_list(); it != n->end_node_list(); ++it) {
    CDB_SGATE_NODE* g = *it;
    const std::string path = io_signal_path(g->get_instance_name());
    if (path != "p" && path != "q" && path != "a") continue;
    HDB_INSTANCE_NAME* name = io_signal_name(top, path == "a" ? long_name : "dup");
    g->set_instance_name(name);
    g->get_single_oterm()->set_instance_name(name);
  }
  const std::string file = "tables_names.blif";
  std::string why;
  ASSERT_TRUE(blif_write_file(n.get(), file, {}, &why)) << why;
  BLIF_RESULT back_r = blif_read_file(file);
  LOADED_NETLIST back = hold(back_r);
  ASSERT_TRUE(back) << back_r.error;
  std::set<std::string> names;
  for (auto it = back->begin_node_list(); it != back->end_node_list(); ++it)
    if ((*it)->get_instance_name()) names.insert(io_signal_path((*it)->get_instance_name()));
  for (const std::string& expected : {std::string("dup"), std::string("dup~1"), long_name, std::string("y")})
    EXPECT_EQ(names.count(expected), 1u) << expected.substr(0, 20);
  EXPECT_TRUE(sim_equivalent(n.get(), back.get(), SIM_COMPARE{}, &why)) << why;
  std::remove(file.c_str());
}
