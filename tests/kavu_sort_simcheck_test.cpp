// The simulation members of KAVU_SORT: the check, its file, comb evaluation
// and cone tables against the library's symbolic cone simulator.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <tuple>

#include "cmp/cmp.h"
#include "fio/fio.h"
#include "kavu_01tbl_cone.h"
#include "kavu_cut.h"
#include "kavu_sort.h"
#include "testkit/platform_testkit.h"

using namespace kavu_platform;

namespace {

std::string svf_path(const std::string& name) {
  FIO_PATH path;
  path.base(name);
  path.extension("svf", "");
  return path.fullpath();
}

std::vector<unsigned char> read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_bytes(const std::string& path, const std::vector<unsigned char>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

uint32_t word_at(const std::vector<unsigned char>& b, size_t offset) {
  return uint32_t(b[offset]) | uint32_t(b[offset + 1]) << 8 | uint32_t(b[offset + 2]) << 16 |
         uint32_t(b[offset + 3]) << 24;
}

KAVU_SORT make_sorter(CMP_FACADE* facade = nullptr) { return KAVU_SORT(facade, false, false, false); }

}  // namespace

// Every LUT complemented with its readers passes; one complemented alone,
// read by an output pin, fails and leaves the dump files.
TEST(KavuSimCheck, PassesPreservingRewriteAndCatchesWrongOne) {
  auto nl = load_blif("mcnc/s298");
  KAVU_TRACK(*nl);
  KAVU_SORT check = make_sorter();
  check.sim_verify(nl.get(), 64);
  std::vector<CDB_SGATE_NODE*> luts;
  CDB_SGATE_NODE* observed = nullptr;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
    if (*it == nullptr || (*it)->cast_to_lut() == nullptr) continue;
    luts.push_back(*it);
    for (CDB_SGATE_ITERM* t : (*it)->get_single_oterm()->fanouts())
      if (t->get_my_node()->is_output()) observed = *it;
  }
  ASSERT_GT(luts.size(), 10u);
  ASSERT_NE(observed, nullptr);
  for (CDB_SGATE_NODE* lut : luts) {
    lut->cast_to_lut()->set_lut_mask(~lut->cast_to_lut()->get_lut_mask());
    std::vector<CDB_SGATE_ITERM*> readers;
    lut->get_single_oterm()->copy_fanouts(readers);
    for (CDB_SGATE_ITERM* t : readers) t->invert();
  }
  check.sim_verify(nl.get(), 0);
  observed->cast_to_lut()->set_lut_mask(~observed->cast_to_lut()->get_lut_mask());
  EXPECT_KAVU_INTERNAL_ERROR(check.sim_verify(nl.get(), 0), "sim_verify error");
  EXPECT_TRUE(FIO_FILE_SYSTEM::exists("chk_begin.tx0"));
  EXPECT_TRUE(FIO_FILE_SYSTEM::exists("chk_end.tx0"));
}

// 33 free inputs take two begin words; the response is their parity. A
// netlist without begin and end terminals writes the header alone.
TEST(KavuSimCheck, FileLayoutRoundTripAndOrder) {
  CDB_SGATE_NETLIST empty;
  KAVU_SORT check = make_sorter();
  check.sim_verify(&empty, 7);
  EXPECT_EQ(read_bytes(svf_path("kavu_sim")).size(), 12u);
  check.sim_verify(&empty, 0);

  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* g = make_input_pin(&nl, "x");
  for (int i = 1; i < 33; ++i) g = make_xor(&nl, g, make_input_pin(&nl, "x"));
  make_output_pin(&nl, "parity", g);
  check.sim_verify(&nl, 5);
  const std::vector<unsigned char> b = read_bytes(svf_path("kavu_sim"));
  ASSERT_EQ(b.size(), 12u + 5u * 4u * 3u);
  EXPECT_EQ(std::vector<uint32_t>({word_at(b, 0), word_at(b, 4), word_at(b, 8)}), std::vector<uint32_t>({5, 33, 1}));
  int ones = 0;
  for (size_t r = 0; r < 5; ++r) {
    const uint32_t w0 = word_at(b, 12 + 12 * r), w1 = word_at(b, 16 + 12 * r), end = word_at(b, 20 + 12 * r);
    EXPECT_EQ(w1 & ~1u, 0u) << r;
    EXPECT_EQ(end, static_cast<uint32_t>((__builtin_popcount(w0) + (w1 & 1u)) & 1u)) << r;
    ones += __builtin_popcount(w0);
  }
  EXPECT_GT(ones, 20);  // the inputs are not all constant
  check.sim_verify(&nl, 0);
  // One more free input: the counts no longer match.
  make_output_pin(&nl, "extra", make_input_pin(&nl, "x"));
  EXPECT_KAVU_INTERNAL_ERROR(check.sim_verify(&nl, 0), "sim_verify error");

  // Pins of one name are ordered by debug number: a shuffled node list gives the same file.
  CDB_SGATE_NETLIST named;
  std::vector<CDB_SGATE_NODE*> p;
  for (int i = 0; i < 6; ++i) p.push_back(make_input_pin(&named, i < 3 ? "same" : "other"));
  make_output_pin(&named, "o1", make_and(&named, p[0], p[3]));
  make_output_pin(&named, "o2", make_xor(&named, p[1], make_not(&named, p[4])));
  make_output_pin(&named, "o3", make_or(&named, p[2], p[5]));
  check.sim_verify(&named, 9);
  const std::vector<unsigned char> before = read_bytes(svf_path("kavu_sim"));
  kavu_sort_netlist_random(&named, 12345);
  check.sim_verify(&named, 0);
  check.sim_verify(&named, 9);
  EXPECT_EQ(read_bytes(svf_path("kavu_sim")), before);
}

// A missing, truncated or padded file is refused, naming its fault.
TEST(KavuSimCheck, DamagedFilesAreClearFailures) {
  auto nl = load_blif("mcnc/s298");
  CMP_FACADE facade;
  facade.set_family(DEV_FAMILY_ENUM(15));  // one the ordering knows
  facade.set_revision_name("damaged");
  KAVU_SORT check = make_sorter(&facade);
  const std::string path = svf_path("damaged");
  std::remove(path.c_str());
  EXPECT_KAVU_INTERNAL_ERROR(check.sim_verify(nl.get(), 0), "cannot be opened");
  check.sim_verify(nl.get(), 4);
  const std::vector<unsigned char> good = read_bytes(path);
  const std::vector<std::pair<std::vector<unsigned char>, const char*>> damaged{
      {std::vector<unsigned char>(good.begin(), good.end() - 4), "truncated"},
      {std::vector<unsigned char>(good.begin(), good.begin() + 6), "truncated: no complete header"},
      {[&] { auto b = good; b.push_back(' '); b.push_back('7'); return b; }(), "fin.eof()"}};
  for (const auto& [bytes, text] : damaged) {
    write_bytes(path, bytes);
    EXPECT_KAVU_INTERNAL_ERROR(check.sim_verify(nl.get(), 0), text);
  }
  write_bytes(path, good);
  check.sim_verify(nl.get(), 0);
}

// The shared comb rule: without a connected input AND gives 1, every other
// type 0 (a name keeper too); a keeper passes its input.
TEST(KavuSimCheck, CombGatesFollowTheSharedRule) {
  const std::tuple<CDB_COMB_TYPE, int, unsigned> cases[] = {  // type, inputs, table (bit m: minterm m)
      {CDB_COMB_AND, 0, 1}, {CDB_COMB_OR, 0, 0},  {CDB_COMB_XOR, 0, 0},         {CDB_COMB_NOT, 0, 0},
      {CDB_COMB_NOT, 1, 1}, {CDB_COMB_XOR, 3, 0x96}, {CDB_COMB_NAME_KEEPER, 0, 0}, {CDB_COMB_NAME_KEEPER, 1, 2}};
  KAVU_SORT sorter = make_sorter();
  for (const auto& [type, inputs, table] : cases) {
    CDB_SGATE_NETLIST nl;
    CDB_SGATE_COMB* gate = new CDB_SGATE_COMB(nullptr, type);
    nl.add_node(gate);
    std::vector<CDB_SGATE_OTERM*> leaves;
    for (int i = 0; i < inputs; ++i)
      gate->insert_unordered_fanin(leaves.emplace_back(make_input_pin(&nl, "x")->get_single_oterm()));
    if (inputs == 0) gate->add_unordered_fanin_from_oterm(nullptr, false, nullptr)->disconnect_from_source();
    std::unique_ptr<KAVU_01TBL> got(sorter.sim_comb_cone(gate->get_single_oterm(), leaves));
    for (unsigned m = 0; m < (1u << inputs); ++m)
      EXPECT_EQ(got->minterm(m), (table >> m) & 1u) << type << " inputs " << inputs << " m " << m;
  }
  // A comb gate that feeds itself through an inverter never settles.
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* inv = make_not(&nl, make_input_pin(&nl, "a"));
  inv->get_input_term(0)->set_source(inv->get_single_oterm());
  make_output_pin(&nl, "o", inv);
  EXPECT_KAVU_INTERNAL_ERROR(sorter.sim_verify(&nl, 1), "cnt <= size");
}

// Cone tables by exhaustive simulation equal the symbolic simulator's.
TEST(KavuSimCheck, ConeTablesAgreeWithSymbolicSimulation) {
  KAVU_SORT sorter = make_sorter();
  KAVU_WVNET_MANAGER cones;
  for (const char* name : {"small/alu8_generic", "small/mult6_lut4", "mcnc/s298"}) {
    auto nl = load_blif(name);
    int compared = 0;
    for (auto it = nl->begin_node_list(); it != nl->end_node_list() && compared < 60; ++it) {
      CDB_SGATE_OTERM* root = (*it)->get_single_oterm();
      if (!root || (*it)->get_sgate_type() == CDB_SGATE_IO_ENUM) continue;
      // The leaves: where a walk through comb gates, LUTs and muxes stops.
      KAVU_WVNET_MANAGER::OTERM_LIST cone, sources, sinks;
      cones.get_cone(root, 1000, false, false, false, false, true, &cone, &sources, &sinks, nullptr);
      std::vector<CDB_SGATE_OTERM*> leaves(sources.begin(), sources.end());
      if (leaves.size() > 10 || std::count(leaves.begin(), leaves.end(), root)) continue;
      std::unique_ptr<KAVU_01TBL> ours(sorter.sim_comb_cone(root, leaves));
      EXPECT_TRUE(*ours == kavu_cone_01tbl(root, leaves, nullptr)) << name << " " << root->get_string_hpath();
      ++compared;
    }
    EXPECT_GT(compared, 20) << name;
  }
}
