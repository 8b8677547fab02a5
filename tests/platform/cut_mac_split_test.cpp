// Split MAC atoms: the multiplier and output rows of the atom catalogue and
// the facts CUT_MAC_SPLIT_UTIL reads from their mode bits.
#include <gtest/gtest.h>

#include "cdb/cdb_sgate.h"
#include "cut/cut_mac_split.h"
#include "testkit/platform_testkit.h"

namespace {

using namespace kavu_platform;

TEST(CutMacSplit, RowsAndModeFacts) {
  struct ROW {
    CDB_WYSIWYG_TYPE type;
    const char* name;
    bool mult;
  } rows[] = {{10356, "mac_mult_vqx", true},     {10357, "mac_out_vqx", false},
              {10373, "mac_mult_ormond", true},  {10374, "mac_out_ormond", false},
              {10502, "mac_mult_brae", true},    {10503, "mac_out_brae", false}};
  for (const ROW& r : rows) {
    SCOPED_TRACE(r.name);
    const ATOM_CATALOGUE_ENTRY* e = atom_catalogue_find(r.name);
    ASSERT_TRUE(e != nullptr && e->m_atom_type == r.type);
    EXPECT_EQ(e->m_gate_type, r.mult ? CDB_SGATE_WYSIWYG_MAC_MULT_ENUM : CDB_SGATE_WYSIWYG_MAC_OUT_ENUM);
    EXPECT_EQ(e->output_width(3), r.mult ? 36 : 72);
    EXPECT_EQ(e->input_width(12), r.mult ? 18 : 36);
    EXPECT_EQ(e->input_slot(r.mult ? 285 : 279) != CDB_ILLEGAL_PORT, true);

    CDB_SGATE_WYSIWYG w(nullptr, r.type);
    EXPECT_TRUE(w.is_mac_mult() == r.mult && w.is_mac_out() == !r.mult && !w.is_mac());
    EXPECT_EQ(w.get_sgate_type(), e->m_gate_type);
    // Nothing is set on a fresh atom.
    EXPECT_FALSE(CUT_MAC_SPLIT_UTIL::is_input_port_registered(&w, 12) ||
                 CUT_MAC_SPLIT_UTIL::is_output_port_registered(&w, 3) ||
                 CUT_MAC_SPLIT_UTIL::is_bypass_multiplier(&w) || CUT_MAC_SPLIT_UTIL::is_using_rounding(&w) ||
                 CUT_MAC_SPLIT_UTIL::is_using_saturation(&w));
    for (unsigned m : {122u, 123u, 124u, 125u, 126u, 127u}) w.set_mode(m);
    // Input registers and bypass belong to the multiplier; the rest to both.
    EXPECT_EQ(CUT_MAC_SPLIT_UTIL::is_input_port_registered(&w, 12), r.mult);
    EXPECT_EQ(CUT_MAC_SPLIT_UTIL::is_input_port_registered(&w, 13), r.mult);
    EXPECT_FALSE(CUT_MAC_SPLIT_UTIL::is_input_port_registered(&w, 285));
    EXPECT_TRUE(CUT_MAC_SPLIT_UTIL::is_output_port_registered(&w, 3));
    EXPECT_FALSE(CUT_MAC_SPLIT_UTIL::is_output_port_registered(&w, 223));
    EXPECT_EQ(CUT_MAC_SPLIT_UTIL::is_bypass_multiplier(&w), r.mult);
    EXPECT_TRUE(CUT_MAC_SPLIT_UTIL::is_using_rounding(&w) && CUT_MAC_SPLIT_UTIL::is_using_saturation(&w));
  }
  // Other atoms answer false whatever their modes; a null atom is refused.
  CDB_SGATE_WYSIWYG unified(nullptr, 60);
  for (unsigned m : {122u, 124u, 125u, 126u}) unified.set_mode(m);
  EXPECT_FALSE(CUT_MAC_SPLIT_UTIL::is_input_port_registered(&unified, 12) ||
               CUT_MAC_SPLIT_UTIL::is_output_port_registered(&unified, 3) ||
               CUT_MAC_SPLIT_UTIL::is_bypass_multiplier(&unified) || CUT_MAC_SPLIT_UTIL::is_using_rounding(&unified));
  EXPECT_KAVU_INTERNAL_ERROR(CUT_MAC_SPLIT_UTIL::is_bypass_multiplier(nullptr), "atom != nullptr");
}

}  // namespace
