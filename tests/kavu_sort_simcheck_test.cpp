// The simulation members of KAVU_SORT: the check passes a function-preserving
// rewrite of a real circuit and catches a wrong one; the vector file has the
// documented layout; a missing, truncated or padded file is a clear internal
// error; cone tables agree with the library's symbolic cone simulator.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "cmp/cmp.h"
#include "fio/fio.h"
#include "kavu_01tbl_cone.h"
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

// A sequential circuit (registers are free inputs and responses): every LUT
// rewritten with complemented mask and readers passes; a LUT complemented
// alone, where an output pin reads it, fails and leaves the dump files.
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

// 33 free inputs need two begin words (the second holds one value in bit 0);
// the one response is the parity of the inputs. A netlist without begin and
// end terminals writes the header alone.
TEST(KavuSimCheck, FileLayoutAndRoundTrip) {
  CDB_SGATE_NETLIST empty;
  KAVU_SORT check = make_sorter();
  check.sim_verify(&empty, 7);
  EXPECT_EQ(read_bytes(svf_path("kavu_sim")).size(), 12u);
  check.sim_verify(&empty, 0);

  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* g = make_input_pin(&nl, "x100");
  for (int i = 1; i < 33; ++i) g = make_xor(&nl, g, make_input_pin(&nl, ("x" + std::to_string(100 + i)).c_str()));
  make_output_pin(&nl, "parity", g);
  check.sim_verify(&nl, 5);
  const std::vector<unsigned char> b = read_bytes(svf_path("kavu_sim"));
  ASSERT_EQ(b.size(), 12u + 5u * 4u * 3u);
  EXPECT_EQ(word_at(b, 0), 5u);
  EXPECT_EQ(word_at(b, 4), 33u);
  EXPECT_EQ(word_at(b, 8), 1u);
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
  make_output_pin(&nl, "extra", make_input_pin(&nl, "x200"));
  DEBUG_CAPTURE cap("KAVU");
  EXPECT_KAVU_INTERNAL_ERROR(check.sim_verify(&nl, 0), "sim_verify error");
  EXPECT_TRUE(cap.contains("sim_verify num_begins mismatch 33 34"));
}

// A missing, truncated or padded file is refused with a text that says what
// is wrong with it, before any vector is compared.
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

// Pins with one shared name are ordered by debug number, so a reordered node
// list gives the same file byte for byte.
TEST(KavuSimCheck, OrderDoesNotDependOnNodeList) {
  CDB_SGATE_NETLIST nl;
  std::vector<CDB_SGATE_NODE*> pins;
  for (int i = 0; i < 6; ++i) pins.push_back(make_input_pin(&nl, i < 3 ? "same" : "other"));
  make_output_pin(&nl, "o1", make_and(&nl, pins[0], pins[3]));
  make_output_pin(&nl, "o2", make_xor(&nl, pins[1], pins[4]));
  make_output_pin(&nl, "o3", make_or(&nl, pins[2], pins[5]));
  KAVU_SORT check = make_sorter();
  check.sim_verify(&nl, 9);
  const std::vector<unsigned char> before = read_bytes(svf_path("kavu_sim"));
  kavu_sort_netlist_random(&nl, 12345);
  check.sim_verify(&nl, 9);
  EXPECT_EQ(read_bytes(svf_path("kavu_sim")), before);
  check.sim_verify(&nl, 0);
}

// Comb gates evaluate by the shared rule: a gate without connected inputs
// yields 1 for AND and 0 for every other type (a name keeper included);
// with inputs, the cone table is the gate's function.
TEST(KavuSimCheck, CombGatesFollowTheSharedRule) {
  struct CASE {
    CDB_COMB_TYPE type;
    int inputs;
    unsigned table;  // minterm m of the leaves, bit m
  };
  const CASE cases[] = {{CDB_COMB_AND, 0, 1},         {CDB_COMB_OR, 0, 0},      {CDB_COMB_XOR, 0, 0},
                        {CDB_COMB_NOT, 0, 0},         {CDB_COMB_NAME_KEEPER, 0, 0}, {CDB_COMB_AND, 3, 0x80},
                        {CDB_COMB_OR, 3, 0xFE},       {CDB_COMB_XOR, 3, 0x96},  {CDB_COMB_NOT, 1, 0x1},
                        {CDB_COMB_NAME_KEEPER, 1, 0x2}};
  KAVU_SORT sorter = make_sorter();
  for (const CASE& c : cases) {
    CDB_SGATE_NETLIST nl;
    CDB_SGATE_COMB* gate = new CDB_SGATE_COMB(nullptr, c.type);
    nl.add_node(gate);
    std::vector<CDB_SGATE_OTERM*> leaves;
    for (int i = 0; i < c.inputs; ++i) {
      leaves.push_back(make_input_pin(&nl, ("x" + std::to_string(i)).c_str())->get_single_oterm());
      gate->insert_unordered_fanin(leaves.back());
    }
    if (c.inputs == 0) gate->add_unordered_fanin_from_oterm(nullptr, false, nullptr)->disconnect_from_source();
    std::unique_ptr<KAVU_01TBL> table(sorter.sim_comb_cone(gate->get_single_oterm(), leaves));
    ASSERT_EQ(table->num_vars(), unsigned(c.inputs));
    for (unsigned m = 0; m < (1u << c.inputs); ++m)
      EXPECT_EQ(table->minterm(m), (c.table >> m) & 1u) << c.type << " inputs " << c.inputs << " m " << m;
  }
  // A comb gate that feeds itself through an inverter never settles.
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* inv = make_not(&nl, make_input_pin(&nl, "a"));
  inv->get_input_term(0)->set_source(inv->get_single_oterm());
  make_output_pin(&nl, "o", inv);
  EXPECT_KAVU_INTERNAL_ERROR(sorter.sim_verify(&nl, 1), "cnt <= size");
}

// On real circuits the cone table by exhaustive simulation equals the table
// of the symbolic cone simulator, over the cone's own free inputs.
TEST(KavuSimCheck, ConeTablesAgreeWithSymbolicSimulation) {
  KAVU_SORT sorter = make_sorter();
  for (const char* name : {"small/alu8_generic", "small/mult6_lut4", "mcnc/s298"}) {
    auto nl = load_blif(name);
    std::vector<CDB_SGATE_OTERM*> begins;
    sorter.get_begin_oterms(nl.get(), begins);
    int compared = 0;
    for (auto it = nl->begin_node_list(); it != nl->end_node_list() && compared < 60; ++it) {
      if (!*it || !(*it)->get_single_oterm() || (*it)->get_sgate_type() == CDB_SGATE_IO_ENUM) continue;
      // The free inputs the cone reaches, in order of discovery.
      std::vector<CDB_SGATE_OTERM*> leaves, stack{(*it)->get_single_oterm()}, seen = stack;
      while (!stack.empty() && leaves.size() <= 10) {
        CDB_SGATE_OTERM* o = stack.back();
        stack.pop_back();
        for (CDB_SGATE_ITERM* t : o->get_my_node()->get_input_terms()) {
          CDB_SGATE_OTERM* s = t ? t->get_source() : nullptr;
          if (!s || std::find(seen.begin(), seen.end(), s) != seen.end()) continue;
          seen.push_back(s);
          const bool free = std::find(begins.begin(), begins.end(), s) != begins.end();
          (free ? leaves : stack).push_back(s);
        }
      }
      if (leaves.empty() || leaves.size() > 10 || !stack.empty()) continue;
      CDB_SGATE_OTERM* root = (*it)->get_single_oterm();
      std::unique_ptr<KAVU_01TBL> ours(sorter.sim_comb_cone(root, leaves));
      EXPECT_TRUE(*ours == kavu_cone_01tbl(root, leaves, nullptr)) << name << " " << root->get_string_hpath();
      ++compared;
    }
    EXPECT_GT(compared, 20) << name;
  }
}

TEST(KavuSimCheck, TopologicalNodeListInBothRankOrders) {
  auto nl = load_blif("small/crc8_generic");
  KAVU_SORT sorter = make_sorter();
  std::vector<CDB_SGATE_NODE*> inputs_first, outputs_first;
  sorter.get_topological_order(nl.get(), inputs_first, CDB_SGATE_NETLIST::INPUTS_FIRST);
  sorter.get_topological_order(nl.get(), outputs_first, CDB_SGATE_NETLIST::OUTPUTS_FIRST);
  ASSERT_EQ(inputs_first.size(), size_t(nl->size()));
  EXPECT_EQ(outputs_first, std::vector<CDB_SGATE_NODE*>(inputs_first.rbegin(), inputs_first.rend()));
  std::vector<CDB_SGATE_NODE*> none;
  EXPECT_KAVU_INTERNAL_ERROR(
      sorter.get_topological_order(nl.get(), none, CDB_SGATE_NETLIST::CDB_RANK_ORDER_ENUM(2)),
      "rank_order == CDB_SGATE_NETLIST::INPUTS_FIRST");
}
