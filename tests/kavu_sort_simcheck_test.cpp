// The random-simulation check: it passes a function-preserving rewrite of a
// real circuit and catches a wrong one; the vector file has the documented
// layout; a missing, truncated or padded file is a clear internal error; the
// file's terminal order does not depend on the node list.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "cmp/cmp.h"
#include "fio/fio.h"
#include "kavu_sort_simcheck.h"
#include "kavu_sort.h"
#include "testkit/platform_testkit.h"

namespace {

using kavu_platform::load_blif;

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

// Complements a LUT's function and every reader's inversion: the same
// netlist function through different gates.
void invert_lut_and_readers(CDB_SGATE_NODE* lut) {
  CDB_SGATE_LUT* l = lut->cast_to_lut();
  l->set_lut_mask(~l->get_lut_mask());
  std::vector<CDB_SGATE_ITERM*> readers;
  lut->get_single_oterm()->copy_fanouts(readers);
  for (CDB_SGATE_ITERM* t : readers) t->invert();
}

}  // namespace

// A sequential circuit (registers are free inputs and responses): every LUT
// rewritten with complemented mask and readers passes; a LUT complemented
// alone, where an output pin reads it, fails and leaves the dump files.
TEST(KavuSimCheck, PassesPreservingRewriteAndCatchesWrongOne) {
  auto nl = load_blif("mcnc/s298");
  KAVU_TRACK(*nl);
  KAVU_SIM_CHECK check(nullptr);
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
  for (CDB_SGATE_NODE* lut : luts) invert_lut_and_readers(lut);
  check.sim_verify(nl.get(), 0);
  CDB_SGATE_LUT* l = observed->cast_to_lut();
  l->set_lut_mask(~l->get_lut_mask());
  EXPECT_KAVU_INTERNAL_ERROR(check.sim_verify(nl.get(), 0), "sim_verify error");
  EXPECT_TRUE(FIO_FILE_SYSTEM::exists("chk_begin.tx0"));
  EXPECT_TRUE(FIO_FILE_SYSTEM::exists("chk_end.tx0"));
}

// 33 free inputs need two begin words (the second holds one value in bit 0);
// the one response is the parity of the inputs.
TEST(KavuSimCheck, FileLayoutAndRoundTrip) {
  CDB_SGATE_NETLIST nl;
  std::vector<CDB_SGATE_NODE*> pins;
  for (int i = 0; i < 33; ++i)
    pins.push_back(kavu_platform::make_input_pin(&nl, ("x" + std::to_string(100 + i)).c_str()));
  CDB_SGATE_NODE* g = pins[0];
  for (size_t i = 1; i < pins.size(); ++i) g = kavu_platform::make_xor(&nl, g, pins[i]);
  kavu_platform::make_output_pin(&nl, "parity", g);
  KAVU_SIM_CHECK check(nullptr);
  check.sim_verify(&nl, 5);
  const std::vector<unsigned char> b = read_bytes(check.svf_path());
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
  kavu_platform::make_output_pin(&nl, "extra", kavu_platform::make_input_pin(&nl, "x200"));
  EXPECT_KAVU_INTERNAL_ERROR(check.sim_verify(&nl, 0), "sim_verify error");
  EXPECT_TRUE(FIO_FILE_SYSTEM::exists("chk_begin.tx0"));
}

// No free inputs and no responses: the file is the header alone.
TEST(KavuSimCheck, EmptyNetlistWritesHeaderOnly) {
  CDB_SGATE_NETLIST nl;
  KAVU_SIM_CHECK check(nullptr);
  check.sim_verify(&nl, 7);
  EXPECT_EQ(read_bytes(check.svf_path()).size(), 12u);
  check.sim_verify(&nl, 0);
}

// A missing, truncated or padded file is refused with a text that says what
// is wrong with it, before any vector is compared.
TEST(KavuSimCheck, DamagedFilesAreClearFailures) {
  auto nl = load_blif("mcnc/s298");
  CMP_FACADE facade;
  facade.set_revision_name("damaged");
  KAVU_SIM_CHECK check(&facade);
  EXPECT_NE(check.svf_path().find("damaged.svf"), std::string::npos);
  EXPECT_KAVU_INTERNAL_ERROR(check.sim_verify(nl.get(), 0), "cannot be opened");
  check.sim_verify(nl.get(), 4);
  const std::vector<unsigned char> good = read_bytes(check.svf_path());
  std::vector<unsigned char> bad(good.begin(), good.end() - 4);
  write_bytes(check.svf_path(), bad);
  EXPECT_KAVU_INTERNAL_ERROR(check.sim_verify(nl.get(), 0), "truncated");
  bad.assign(good.begin(), good.begin() + 6);
  write_bytes(check.svf_path(), bad);
  EXPECT_KAVU_INTERNAL_ERROR(check.sim_verify(nl.get(), 0), "truncated header");
  bad = good;
  bad.push_back(' ');
  bad.push_back('7');
  write_bytes(check.svf_path(), bad);
  EXPECT_KAVU_INTERNAL_ERROR(check.sim_verify(nl.get(), 0), "fin.eof()");
  write_bytes(check.svf_path(), good);
  check.sim_verify(nl.get(), 0);
}

// Pins with one shared name are ordered by debug number, so a reordered node
// list gives the same file byte for byte.
TEST(KavuSimCheck, OrderDoesNotDependOnNodeList) {
  CDB_SGATE_NETLIST nl;
  std::vector<CDB_SGATE_NODE*> pins;
  for (int i = 0; i < 6; ++i) pins.push_back(kavu_platform::make_input_pin(&nl, i < 3 ? "same" : "other"));
  kavu_platform::make_output_pin(&nl, "o1", kavu_platform::make_and(&nl, pins[0], pins[3]));
  kavu_platform::make_output_pin(&nl, "o2", kavu_platform::make_xor(&nl, pins[1], pins[4]));
  kavu_platform::make_output_pin(&nl, "o3", kavu_platform::make_or(&nl, pins[2], pins[5]));
  KAVU_SIM_CHECK check(nullptr);
  check.sim_verify(&nl, 9);
  const std::vector<unsigned char> before = read_bytes(check.svf_path());
  kavu_sort_netlist_random(&nl, 12345);
  check.sim_verify(&nl, 9);
  EXPECT_EQ(read_bytes(check.svf_path()), before);
  check.sim_verify(&nl, 0);
}

// A comb loop that never settles is reported, not simulated forever.
TEST(KavuSimCheck, OscillatingLoopIsReported) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = kavu_platform::make_input_pin(&nl, "a");
  CDB_SGATE_NODE* inv = kavu_platform::make_not(&nl, a);
  inv->get_input_term(0)->set_source(inv->get_single_oterm());
  kavu_platform::make_output_pin(&nl, "o", inv);
  KAVU_SIM_CHECK check(nullptr);
  EXPECT_KAVU_INTERNAL_ERROR(check.sim_verify(&nl, 1), "cnt <= size");
}
