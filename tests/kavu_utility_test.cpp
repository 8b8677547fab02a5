// Tests of the small netlist utilities: the seeded byte stream, gate search
// and partition names and ids. Atom terminal lookups: kavu_wiring_helper_test.

#include "kavu_utility.h"
#include "cdb/cdb_atom.h"
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

// The stream written out independently: an RC4 variant whose key schedule
// starts i at 1, advances it before use and XORs the seed byte in.
std::vector<int> reference_stream(const std::string& seed, int n) {
  uint8_t s[256];
  for (int k = 0; k < 256; ++k) s[k] = uint8_t(k);
  uint8_t i = 1, j = 1;
  const size_t len = std::min<size_t>(seed.size(), 256);
  for (size_t k = 0; k < 256; ++k) {
    const uint8_t t = s[++i];
    j = uint8_t(uint8_t(seed[k % len]) ^ uint8_t(j + t));
    std::swap(s[i], s[j]);
  }
  std::vector<int> bytes;
  for (int k = 0; k < n; ++k) {
    const uint8_t t = s[++i];
    j = uint8_t(j + t);
    std::swap(s[i], s[j]);
    bytes.push_back(s[uint8_t(s[i] + t)]);
  }
  return bytes;
}

}  // namespace

TEST(KavuUtilityRandom, SeedsRestartTheStreamAndAreRequired) {
  const std::vector<int> first = draw("kavu", 512);
  EXPECT_EQ(draw("kavu", 512), first);
  EXPECT_NE(draw("kavv", 512), first);
  for (int b : first) {
    EXPECT_GE(b, 0);
    EXPECT_LE(b, 255);
  }
  // Only the first 256 characters of a seed count; bytes of 0x80 and above
  // are seed bytes like any other.
  const std::string long_seed(256, 'x');
  EXPECT_EQ(draw(long_seed + "tail", 64), draw(long_seed, 64));
  EXPECT_NE(draw("\xff\x80\xc3", 64), draw("\x7f\x00\x43", 64));
  // The 256th character still counts.
  EXPECT_NE(draw(std::string(255, 'x') + "a", 64), draw(std::string(255, 'x') + "b", 64));
  // Known answers: the exact bytes of the written-out stream.
  for (const std::string& seed : {std::string("kavu"), std::string("\xff\x80\xc3"), long_seed + "tail", std::string(1, 'q')})
    EXPECT_EQ(draw(seed, 300), reference_stream(seed, 300)) << seed.size();
  EXPECT_KAVU_INTERNAL_ERROR(kavu_rand_byte(true, ""), "len > 0");
  cdb_sgate_set_synthesis_running_in_parallel(true);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_rand_byte(false, nullptr), "Need to fix the statics");
  cdb_sgate_set_synthesis_running_in_parallel(false);
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
  ASSERT_TRUE(first_named && first_temp);
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
  atoms.set_namespace(hdb_default_namespace());
  EXPECT_EQ(kavu_get_partition_instance_name(nullptr, &atoms), top);
}


// The membership and position helpers, present and absent, first match wins.
TEST(KavuUtilityVectors, MembershipAndPositions) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* b = make_input_pin(&nl, "b");
  CDB_SGATE_NODE* y = make_output_pin(&nl, "y", a);
  CDB_SGATE_OTERM *oa = a->get_single_oterm(), *ob = b->get_single_oterm();
  const std::vector<CDB_SGATE_OTERM*> oterms = {ob, oa, ob};
  unsigned position = 0;
  EXPECT_TRUE(kavu_index_in_oterm_vec(ob, oterms, &position) && position == 0);
  EXPECT_TRUE(!kavu_index_in_oterm_vec(y->get_single_oterm(), oterms, &position) && position == 3);
  EXPECT_TRUE(kavu_in_oterm_vec(oa, oterms) && !kavu_in_oterm_vec(nullptr, {}));
  EXPECT_EQ(kavu_get_id_index(oterms, oa), 1);
  EXPECT_EQ(kavu_get_id_index(oterms, y->get_single_oterm()), -1);
  const std::vector<CDB_SGATE_NODE*> gates = {b, a};
  EXPECT_TRUE(kavu_in_sgate_vec(a, gates) && !kavu_in_sgate_vec(y, gates));
  EXPECT_EQ(kavu_index_in_sgate_vec(gates, a), 1);
  EXPECT_EQ(kavu_index_in_sgate_vec(gates, y), -1);
  const std::vector<CDB_SGATE_ITERM*> iterms = {y->get_input_term(0)};
  EXPECT_TRUE(kavu_in_iterm_vec(y->get_input_term(0), iterms) && !kavu_in_iterm_vec(nullptr, iterms));
  const std::vector<SGATE_OTERM_INV_PAIR> pairs = {{oa, true}};
  const SGATE_OTERM_INV_PAIR same{oa, true}, other_phase{oa, false};
  EXPECT_TRUE(kavu_in_oterm_inv_pair_vec(&same, pairs) && !kavu_in_oterm_inv_pair_vec(&other_phase, pairs));
  kavu_dump_time();  // a trace line only; must not need any set-up
}
