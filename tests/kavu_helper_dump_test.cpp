// Dump paths, file names, compiler directives, operator terminals and the
// canonical order of two differently built copies of bundled circuits.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <utility>

#include "cdb/cdb_sgate.h"
#include "gen/gen.h"
#include "hdb/hdb.h"
#include "kavu_helper_dump.h"
#include "platform_testkit.h"

namespace {

using namespace kavu_platform;

TEST(KavuHelperDump, FileNamesAndDirectories) {
  EXPECT_EQ(kavu_get_rtl_mif_file_name("m", 0, -1), "m0.rtl.mif");
  EXPECT_EQ(kavu_get_rtl_mif_file_name("ram", 3, 2), "ram3_PART2.rtl.mif");
  EXPECT_KAVU_INTERNAL_ERROR(kavu_get_rtl_mif_file_name("ram", 3, -2), "partition_id >= 0");

  EXPECT_EQ(kavu_get_synth_dump_path(), "synth_dumps");
  EXPECT_TRUE(FIO_FILE_SYSTEM::is_directory("synth_dumps"));
  EXPECT_EQ(kavu_get_synth_dump_path(), "synth_dumps");

  // The work directory is built once, from the first facade and prefix.
  CMP_FACADE facade;
  facade.set_revision_name("rev");
  EXPECT_EQ(kavu_get_openbox_dir(&facade, "p/"), "p/tmp-openbox/rev/");
  EXPECT_EQ(kavu_get_openbox_dir(nullptr, "other/"), "p/tmp-openbox/rev/");

  CFG_SCOPE cfg{{"db_dir", "db"}};
  HDB_INSTANCE_NAME* top = HDB_INSTANCE_NAME::create_normal_name(nullptr, "top", nullptr, nullptr, nullptr);
  HDB_INSTANCE_NAME* sub = HDB_INSTANCE_NAME::create_normal_name(nullptr, "sub", nullptr, nullptr, top);
  HDB_INSTANCE_NAME* leaf = HDB_INSTANCE_NAME::create_normal_name(nullptr, "leaf", nullptr, nullptr, sub);
  ZHD_DESIGN* d = zhd_build("", {{"root", top, -1, 0}, {"p1", sub, 0, 1}});
  const std::string db = fio_get_unc_full_path("db");
  EXPECT_EQ(kavu_get_flat_mif_directory_path(), db + "/mifs");
  EXPECT_EQ(kavu_get_mif_directory_path(*d->get_partition_by_name("p1")), db + "/p1/mifs");
  CDB_SGATE_HIERARCHY hier;
  hier.set_instance_name(leaf);
  EXPECT_EQ(kavu_get_mif_directory_path(&hier), db + "/p1/mifs");
  EXPECT_TRUE(FIO_FILE_SYSTEM::is_directory("db/p1/mifs"));
}

// A regular file of the directory's name is left alone and its path returned:
// a debug path never ends the process.
TEST(KavuHelperDump, FileNamedLikeTheDumpDirectoryIsLeftAsItIs) {
  std::ofstream("synth_dumps") << "x";
  EXPECT_EQ(kavu_get_synth_dump_path(), "synth_dumps");
  EXPECT_FALSE(FIO_FILE_SYSTEM::is_directory("synth_dumps"));
  std::ifstream in("synth_dumps");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "x");
}

TEST(KavuHelperDump, CompilerDirectivesOfTheCompile) {
  DEV_CATALOGUE c = dev_builtin_catalogue();
  for (DEV_DEVICE_ROW& dev : c.devices) {
    if (dev.name == "BRB20") dev.name = "BRB\"20";  // quotes inside a value stay escaped
  }
  for (DEV_PART_ROW& part : c.parts) {
    if (part.code == 47011) part.traits.push_back(14);
  }
  dev_install_catalogue(c);
  CMP_FACADE facade;
  facade.set_family(DEV_FAMILY_ENUM(47));
  facade.set_part(47011);
  facade.set_mode_flags(1u << 20);
  ZCU_FACADE_UTIL::get_instance()->set_facade(&facade);
  HDB_NAMESPACE* ns = hdb_default_namespace();
  for (const char* v : {"WIDTH=8", "WIDTH=", "WIDTH", "X=Y=Z"}) hdb_set_option(ns, 366, v);
  hdb_set_option(ns, 605, "on");

  std::vector<std::pair<std::string, std::string>> pairs{{"KEEP", "1"}};
  kavu_collect_verilog_compiler_directives(ns, pairs);
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"KEEP", "1"},
      {"ORLIND_RESERVED_ZIS", ""},
      {"ORLIND_RESERVED_ZHD", ""},
      {"VELMORA__SIMGEN", ""},
      {"ORLIND_RESERVED_ZIS_FAMILY", "\"Brae II\""},
      {"ORLIND_RESERVED_ZIS_FAMILY_BRAEII", "\"Brae II\""},
      {"ORLIND_RESERVED_ZIS_DEVICE", "\"BRB\\\"20\""},
      {"ORLIND_RESERVED_ZIS_PART", "\"" + dstr_get_user_string(DEV_PART_ENUM(47011)) + "\""},
      {"ORLIND_RESERVED_ZIS_PKG", "\"F484\""},
      {"ORLIND_RESERVED_ZIS_SPEED", "\"6\""},
      {"ORLIND_RESERVED_ZIS_ES", "\"YES\""},
      {"WIDTH", "8"},
      {"X", "Y=Z"},
      {"ORLIND_K12_IOPLL_BOOTSTRAP", "1"},
  };
  EXPECT_EQ(pairs, expected);
}

TEST(KavuHelperDump, TriportOperatorTerminals) {
  CDB_SGATE_NETLIST netlist;
  auto* shift = new CDB_SGATE_OPERATOR("shl", CDB_OPER_TYPE(4));
  netlist.add_node(shift);
  kavu_create_triport_operator_terms(shift, 4, 2, 4, false, false, false);
  EXPECT_EQ(shift->get_width(CDB_OPER_PORT_A), 4u);
  EXPECT_EQ(shift->get_width(CDB_OPER_PORT_SHIFT), 2u);
  EXPECT_EQ(shift->get_port(CDB_OPER_PORT_B), nullptr);
  EXPECT_EQ(shift->get_width(CDB_OPER_PORT_O), 4u);
  EXPECT_EQ(shift->get_number_of_input_terms(), 6u);
  EXPECT_EQ(shift->get_output_count(), 4u);
  auto* add = new CDB_SGATE_OPERATOR("add", CDB_OPER_TYPE(0));
  netlist.add_node(add);
  kavu_create_triport_operator_terms(add, 2, 2, 2, true, true, true);
  EXPECT_EQ(add->get_width(CDB_OPER_PORT_CIN) + add->get_width(CDB_OPER_PORT_ADD_NOT_SUB) +
                add->get_width(CDB_OPER_PORT_COUT),
            3u);
  KAVU_TRACK(netlist);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_create_triport_operator_terms(make_input_pin(&netlist, "p"), 1, 1, 1,
                                                                false, false, false),
                             "kavu_is_a_op");
}

TEST(KavuHelperDump, FanoutsSortByGateIdThenInversion) {
  CDB_SGATE_NETLIST netlist;
  CDB_SGATE_NODE* src = make_input_pin(&netlist, "s");
  CDB_SGATE_NODE* g7 = make_and(&netlist, src, nullptr);
  CDB_SGATE_NODE* g3 = make_and(&netlist, nullptr, nullptr);
  g7->set_debug_number(7);
  g3->set_debug_number(3);
  CDB_SGATE_OTERM* o = src->get_single_oterm();
  g3->get_input_term(1)->set_invert();
  o->insert_fanout(g3->get_input_term(1));
  o->insert_fanout(g3->get_input_term(0));
  // On g5 the inverted input comes first by position and last by inversion.
  CDB_SGATE_NODE* g5 = make_and(&netlist, nullptr, nullptr);
  g5->set_debug_number(5);
  g5->get_input_term(0)->set_invert();
  o->insert_fanout(g5->get_input_term(0));
  o->insert_fanout(g5->get_input_term(1));
  kavu_sort_oterm_fanouts(o);
  std::vector<CDB_SGATE_ITERM*> order;
  o->copy_fanouts(order);
  EXPECT_EQ(order, (std::vector<CDB_SGATE_ITERM*>{g3->get_input_term(0), g3->get_input_term(1), g5->get_input_term(1),
                                                  g5->get_input_term(0), g7->get_input_term(0)}));
  EXPECT_TRUE(g3->get_input_term(1)->is_inverted());
  KAVU_TRACK(netlist);
}

// ---- canonical order of shuffled copies ----

// The circuit with its .names/.latch/.subckt blocks in a seeded random order
// and its pins, one per line and in their own order, interleaved at random.
std::string shuffled_blif(const std::string& text, unsigned seed) {
  std::vector<std::string> pins, blocks;
  std::string model;
  std::istringstream in(text);
  for (std::string line, part; std::getline(in, part);) {
    if (!part.empty() && part.back() == '\\') {  // continued on the next line
      line += part.substr(0, part.size() - 1) + " ";
      continue;
    }
    line += part;
    std::istringstream words(std::exchange(line, std::string()));
    std::string head;
    words >> head;
    if (head.empty() || head[0] == '#' || head == ".end") continue;
    const std::string text = words.str();
    if (head == ".model") {
      model = text;
    } else if (head == ".inputs" || head == ".outputs") {
      for (std::string w; words >> w;) pins.push_back(head + " " + w + "\n");
    } else if (head[0] == '.') {
      blocks.push_back(text + "\n");
    } else {
      if (blocks.empty()) ADD_FAILURE() << "a row before any block: " << text;
      if (blocks.empty()) continue;
      blocks.back() += text + "\n";  // a cover row of the .names before it
    }
  }
  std::mt19937 rng(seed);
  std::shuffle(blocks.begin(), blocks.end(), rng);
  std::string out = model + "\n";
  size_t p = 0, b = 0;
  while (p < pins.size() || b < blocks.size()) {
    const bool pin = b == blocks.size() || (p < pins.size() && rng() % (pins.size() + blocks.size()) < pins.size());
    out += pin ? pins[p++] : blocks[b++];
  }
  return out + ".end\n";
}

std::string key_of(const CDB_SGATE_NODE* g) {
  return std::string(g->get_string_type_name()) + ":" + g->get_string_hpath();
}

// Gives every gate the rank of its key as id: the shared numbering two
// copies of one design have when both come from the same atoms.
void number_by_key(CDB_SGATE_NETLIST* n) {
  std::vector<std::pair<std::string, CDB_SGATE_NODE*>> gates;
  for (auto it = n->begin_node_list(); it != n->end_node_list(); ++it) {
    if (*it) gates.emplace_back(key_of(*it), *it);
  }
  std::sort(gates.begin(), gates.end());
  for (size_t i = 0; i < gates.size(); ++i) {
    ASSERT_TRUE(i == 0 || gates[i].first != gates[i - 1].first) << "two gates named " << gates[i].first;
    gates[i].second->set_debug_number(unsigned(i + 1));
  }
}

// The gates that lead the node list (a set), the ones that follow (a
// sequence), and every fan-out chain as (gate, input, inversion) in order.
std::string describe(const CDB_SGATE_NETLIST* n) {
  std::vector<std::string> front;
  std::string tail, chains;
  std::map<std::string, std::string> by_gate;
  for (auto it = n->begin_node_list(); it != n->end_node_list(); ++it) {
    const CDB_SGATE_NODE* g = *it;
    if (!g) continue;
    const bool leads = g->is_wysiwyg() || g->is_generic();
    if (leads && !tail.empty()) return "a leading gate after " + tail;
    if (leads) front.push_back(key_of(g));
    else tail += key_of(g) + " ";
    std::string& chain = by_gate[key_of(g)];
    for (unsigned i = 0; i < g->get_output_count(); ++i) {
      chain += " /" + std::to_string(i) + ":";
      for (const CDB_SGATE_ITERM* t : g->get_output_term(i)->fanouts()) {
        const CDB_SGATE_NODE* sink = t->get_my_node();
        unsigned pos = 0;
        while (sink->get_input_term(pos) != t) ++pos;
        chain += " " + key_of(sink) + "." + std::to_string(pos) + (t->is_inverted() ? "~" : "");
      }
    }
  }
  std::sort(front.begin(), front.end());
  std::string all = "front:";
  for (const std::string& k : front) all += " " + k;
  all += "\ntail: " + tail + "\n";
  for (const auto& [k, chain] : by_gate) all += k + chain + "\n";
  return all;
}

TEST(KavuHelperDump, ShuffledCopiesReachTheSameCanonicalOrder) {
  for (const char* name : {"small/crc8_lut4", "small/counter8_lut6", "mcnc/s298"}) {
    SCOPED_TRACE(name);
    std::ifstream in(blif_data_path(name));
    std::stringstream text;
    text << in.rdbuf();
    LOADED_NETLIST a = load_blif(name);
    BLIF_RESULT r = blif_read_string(shuffled_blif(text.str(), 7), {});
    ASSERT_TRUE(r.netlist) << r.error;
    LOADED_NETLIST b(r.netlist, LOADED_NETLIST_DELETER{r.hierarchy});
    KAVU_TRACK(a);
    KAVU_TRACK(b);
    ASSERT_KAVU_EQUIVALENT(a, b);
    number_by_key(a.get());
    number_by_key(b.get());
    ASSERT_NE(describe(a.get()), describe(b.get())) << "the shuffle changed nothing";
    for (CDB_SGATE_NETLIST* n : {a.get(), b.get()}) {
      kavu_sort_oterm_fanouts(n);
      kavu_reorder_sgates_for_atom_netlist_comparison(n);
    }
    EXPECT_EQ(describe(a.get()), describe(b.get()));
  }
}

}  // namespace
