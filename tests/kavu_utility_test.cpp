// Tests of the small netlist utilities: the seeded byte stream, vector
// membership and positions, gate search on a real circuit, atom terminals
// by port type, and partition names, ids and root names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kavu_utility.h"
#include "kavu_wiring_helper.h"
#include "cdb/cdb_atom.h"
#include "cdb/cdb_sgate.h"
#include "hdb/hdb.h"
#include "platform_testkit.h"
#include "zhd/zhd.h"

using namespace kavu_platform;

namespace {

std::vector<int> draw(const std::string& seed, int n) {
  EXPECT_EQ(kavu_rand_byte(true, seed.c_str()), 0);
  std::vector<int> bytes;
  for (int k = 0; k < n; ++k) bytes.push_back(kavu_rand_byte(false, nullptr));
  return bytes;
}

}  // namespace

TEST(KavuUtilityRandom, SeedsRestartTheStreamAndStayInRange) {
  const std::vector<int> first = draw("kavu", 512);
  EXPECT_EQ(draw("kavu", 512), first);
  EXPECT_NE(draw("kavv", 512), first);
  for (int b : first) {
    EXPECT_GE(b, 0);
    EXPECT_LE(b, 255);
  }
  // Only the first 256 characters of a seed count.
  const std::string long_seed(256, 'x');
  EXPECT_EQ(draw(long_seed + "tail", 64), draw(long_seed, 64));

  // Seed bytes of 0x80 and above are bytes like any other: the stream stays
  // in range and differs from a seed with the high bit cleared.
  const std::string high = "\xff\x80\xc3\xa9";
  const std::vector<int> from_high = draw(high, 256);
  for (int b : from_high) {
    EXPECT_GE(b, 0);
    EXPECT_LE(b, 255);
  }
  EXPECT_NE(from_high, draw("\x7f\x00\x43\x29", 256));
}

TEST(KavuUtilityRandom, RefusesEmptySeedsAndParallelSynthesis) {
  EXPECT_KAVU_INTERNAL_ERROR(kavu_rand_byte(true, nullptr), "seed");
  EXPECT_KAVU_INTERNAL_ERROR(kavu_rand_byte(true, ""), "len > 0");
  cdb_sgate_set_synthesis_running_in_parallel(true);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_rand_byte(false, nullptr), "Need to fix the statics");
  cdb_sgate_set_synthesis_running_in_parallel(false);
}

TEST(KavuUtilityVectors, MembershipAndPositionsFindTheFirstMatch) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* b = make_input_pin(&nl, "b");
  CDB_SGATE_NODE* g = make_and(&nl, a, b);
  KAVU_TRACK(nl);
  CDB_SGATE_OTERM* oa = a->get_single_oterm();
  CDB_SGATE_OTERM* ob = b->get_single_oterm();
  CDB_SGATE_OTERM* og = g->get_single_oterm();

  unsigned pos = 99;
  EXPECT_FALSE(kavu_index_in_oterm_vec(oa, {}, &pos));
  EXPECT_EQ(pos, 0u);
  const std::vector<CDB_SGATE_OTERM*> three{ob, og, ob};
  EXPECT_FALSE(kavu_index_in_oterm_vec(oa, three, &pos));
  EXPECT_EQ(pos, 3u);
  EXPECT_TRUE(kavu_index_in_oterm_vec(ob, three, &pos));
  EXPECT_EQ(pos, 0u);
  EXPECT_EQ(kavu_get_id_index({og, ob, og}, og), 0);
  EXPECT_EQ(kavu_get_id_index(three, oa), -1);
  EXPECT_TRUE(kavu_in_oterm_vec(og, three));

  EXPECT_EQ(kavu_index_in_sgate_vec({a, b, g, b}, b), 1);
  EXPECT_FALSE(kavu_in_sgate_vec(g, {a, b}));
  EXPECT_TRUE(kavu_in_iterm_vec(g->get_input_term(1), {g->get_input_term(0), g->get_input_term(1)}));

  const std::vector<SGATE_OTERM_INV_PAIR> pairs{{oa, true}, {ob, false}};
  const SGATE_OTERM_INV_PAIR same{oa, true};
  const SGATE_OTERM_INV_PAIR other_polarity{oa, false};
  EXPECT_TRUE(kavu_in_oterm_inv_pair_vec(&same, pairs));
  EXPECT_FALSE(kavu_in_oterm_inv_pair_vec(&other_polarity, pairs));
}

TEST(KavuUtilitySearch, GatesAreFoundByPathInNodeListOrder) {
  LOADED_NETLIST nl = load_blif("seq/stereovision3");
  KAVU_TRACK(nl);
  CDB_SGATE_NODE* first_named = nullptr;
  CDB_SGATE_NODE* first_temp = nullptr;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
    if (!*it || !(*it)->get_instance_name()) continue;
    const std::string path = (*it)->get_string_hpath();
    if (!first_named) first_named = *it;
    if (!first_temp && path.find("temp_reg") != std::string::npos) first_temp = *it;
  }
  ASSERT_NE(first_named, nullptr);
  ASSERT_NE(first_temp, nullptr);
  const std::string path = first_named->get_string_hpath();
  EXPECT_EQ(kavu_find_gate_by_name(nl.get(), path.c_str(), true), first_named);
  EXPECT_EQ(kavu_find_gate_by_name(nl.get(), "temp_reg", false), first_temp);
  EXPECT_EQ(kavu_find_gate_by_name(nl.get(), "temp_reg", true), nullptr);
  EXPECT_EQ(kavu_find_gate_by_name(nl.get(), "no such gate anywhere", false), nullptr);

  EXPECT_TRUE(kavu_sgate_on_netlist(first_temp, nl.get()));
  CDB_SGATE_NODE* lone = new CDB_SGATE_COMB(nullptr, CDB_COMB_AND);
  EXPECT_FALSE(kavu_sgate_on_netlist(lone, nl.get()));
  delete lone;
}

TEST(KavuUtilityAtoms, FetchCreateRefusesNonAtomsAndToleratesMissingPorts) {
  CDB_SGATE_NETLIST nl;
  auto* ff = new CDB_SGATE_WYSIWYG(nullptr, 62);
  nl.add_node(ff, true);
  CDB_SGATE_NODE* pin = make_input_pin(&nl, "a");
  KAVU_TRACK(nl);
  const unsigned outputs = ff->get_output_count();
  EXPECT_EQ(rtl_fetch_create_wys_oterm(DB_PORT_SUMOUT, ff, true), nullptr);
  EXPECT_EQ(ff->get_output_count(), outputs);
  CDB_SGATE_ITERM* ena = rtl_fetch_create_wys_iterm(DB_PORT_ENA, ff);
  EXPECT_EQ(ff->get_iterm_by_type(DB_PORT_ENA, 0), ena);
  EXPECT_KAVU_INTERNAL_ERROR(rtl_fetch_create_wys_iterm(DB_PORT_ENA, pin), "wys");
  EXPECT_KAVU_INTERNAL_ERROR(rtl_fetch_create_wys_oterm(DB_PORT_REGOUT, nullptr, false), "wys");
}

TEST(KavuUtilityPartitions, NamesIdsAndRootNames) {
  HDB_INSTANCE_NAME* top = HDB_INSTANCE_NAME::create_normal_name(nullptr, "top", nullptr, nullptr, nullptr);
  HDB_INSTANCE_NAME* core = HDB_INSTANCE_NAME::create_normal_name(nullptr, "core", nullptr, nullptr, top);
  HDB_INSTANCE_NAME* alu = HDB_INSTANCE_NAME::create_normal_name(nullptr, "alu", nullptr, nullptr, core);
  HDB_INSTANCE_NAME* io = HDB_INSTANCE_NAME::create_normal_name(nullptr, "io", nullptr, nullptr, top);

  CDB_SGATE_HIERARCHY hier;
  hier.set_instance_name(alu);
  EXPECT_EQ(kavu_get_partition_name(&hier), "top|core|alu");
  EXPECT_KAVU_INTERNAL_ERROR(kavu_get_partition_id(alu), "design");

  zhd_build("", {{"root", top, -1, 0}, {"core_part", core, 0, 5}});
  EXPECT_EQ(kavu_get_partition_id(alu), 5);   // below the core partition
  EXPECT_EQ(kavu_get_partition_id(&hier), 5);
  EXPECT_EQ(kavu_get_partition_id(io), 0);    // only the root holds it
  EXPECT_EQ(kavu_get_partition_id(core), 5);

  EXPECT_KAVU_INTERNAL_ERROR(kavu_get_partition_instance_name(nullptr, &hier), "mgr");
  hier.set_namespace(hdb_default_namespace());
  EXPECT_EQ(kavu_get_partition_instance_name(nullptr, &hier), top);
  CDB_ATOM_NETLIST atoms;
  EXPECT_KAVU_INTERNAL_ERROR(kavu_get_partition_instance_name(nullptr, &atoms), "mgr");
  atoms.set_namespace(hdb_default_namespace());
  EXPECT_EQ(kavu_get_partition_instance_name(nullptr, &atoms), top);
}

TEST(KavuUtilityDebug, TimeStampIsTheTimeOfDay) {
  DEBUG_CAPTURE cap("KAVU");
  kavu_dump_time();
  const std::vector<std::string> lines = cap.lines();
  ASSERT_EQ(lines.size(), 1u);
  const std::string& line = lines[0];
  ASSERT_EQ(line.rfind("Time is - ", 0), 0u) << line;
  const std::string hms = line.substr(10, 8);
  EXPECT_EQ(hms[2], ':');
  EXPECT_EQ(hms[5], ':');
}
