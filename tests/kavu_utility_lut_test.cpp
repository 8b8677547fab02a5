// Tests of LUT rebuilding at LUT buffers: cones marked on real circuits
// become LUTs with the same function, cones that cross registers or need
// too many inputs keep their logic, and the buffers always go.
#include <string>
#include <vector>

#include "kavu_helper_predicates.h"
#include "kavu_utility_lut.h"
#include "kavu_utility_smek.h"
#include "platform_testkit.h"

using namespace kavu_platform;

namespace {

int count_if(const CDB_SGATE_NETLIST& nl, bool (*pred)(const CDB_SGATE_NODE*)) {
  int n = 0;
  for (auto it = nl.begin_node_list(); it != nl.end_node_list(); ++it) n += (*it && pred(*it));
  return n;
}

bool is_lut_buffer(const CDB_SGATE_NODE* g) {
  return kavu_is_a_buffer(g) && (const_cast<CDB_SGATE_NODE*>(g)->cast_to_buffer()->get_buffer_type() == 11 ||
                                 const_cast<CDB_SGATE_NODE*>(g)->cast_to_buffer()->get_buffer_type() == 12);
}

// LUT input buffers behind every input pin and register, LUT output buffers
// in front of every output pin. Returns the number of output buffers.
int mark_cones(CDB_SGATE_NETLIST* nl) {
  std::vector<CDB_SGATE_NODE*> sources, outputs;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
    if (!*it) continue;
    if (kavu_is_a_input_pin(*it) || kavu_is_a_dff(*it)) sources.push_back(*it);
    if (kavu_is_a_output_pin(*it)) outputs.push_back(*it);
  }
  for (CDB_SGATE_NODE* s : sources) rtl_insert_buffer_helper(nullptr, s->get_single_oterm(), nl, CDB_BUFFER_LUT_INPUT);
  for (CDB_SGATE_NODE* o : outputs) rtl_insert_buffer_helper(o->get_single_iterm(), nullptr, nl, CDB_BUFFER_LUT_OUTPUT);
  return static_cast<int>(outputs.size());
}

}  // namespace

TEST(KavuUtilityLut, MarkedConesBecomeLutsOnRealCircuits) {
  BLIF_READ_OPTIONS comb;
  comb.names = BLIF_READ_OPTIONS::ALL_COMB;
  int total_luts = 0;  // alu8's outputs all need more than six inputs
  for (const char* name : {"adder16_generic", "alu8_generic", "counter8_generic", "epfl/ctrl"}) {
    auto golden = load_blif(name, comb);
    auto nl = load_blif(name, comb);
    KAVU_TRACK(nl);
    const int outs = mark_cones(nl.get());
    DEBUG_CAPTURE cap("KAVU");
    EXPECT_TRUE(opt_process_lut_io_buffers(nl.get(), false));
    int skipped = 0;
    for (const std::string& line : cap.lines())
      skipped += line.find("has too many support") != std::string::npos ||
                 line.find("Couldn't identify input buffers of LUT_OUT") != std::string::npos;
    const int luts = count_if(*nl, [](const CDB_SGATE_NODE* g) { return kavu_is_a_lut(g); });
    EXPECT_EQ(luts + skipped, outs) << name;
    total_luts += luts;
    EXPECT_EQ(count_if(*nl, is_lut_buffer), 0) << name;
    ASSERT_KAVU_EQUIVALENT(golden, nl);
  }
  EXPECT_GT(total_luts, 0);
}

TEST(KavuUtilityLut, EdgeCasesAndBounds) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  EXPECT_FALSE(opt_process_lut_io_buffers(&nl, false));  // nothing to do
  auto* a = make_input_pin(&nl, "a");
  auto* in = make_buffer(&nl, a, CDB_BUFFER_LUT_INPUT);
  auto* out = make_buffer(&nl, in, CDB_BUFFER_LUT_OUTPUT);
  make_output_pin(&nl, "y", out);
  EXPECT_TRUE(opt_is_lut_in_buffer(in));
  EXPECT_EQ(opt_process_lut_out_io_buffers(&nl), 1);  // a wire, then a one-input LUT
  CDB_SGATE_NODE* lut = out->get_single_iterm()->get_source()->get_my_node();
  ASSERT_TRUE(kavu_is_a_lut(lut));
  EXPECT_EQ(lut->get_number_of_fanin(), 1u);
  EXPECT_TRUE(lut->get_flag_byte(CDB_KIND_BYTE) & CDB_LUT_MIGRATION_OBSERVABLE);

  // A wide OR over input buffers: 2000 leaves are collected but too many for
  // a LUT; 12000 leaves pass the bound of 10000 pushes.
  for (int leaves : {2000, 12000}) {
    CDB_SGATE_NETLIST wide;
    auto* x = make_input_pin(&wide, "x");
    auto* root = new CDB_SGATE_COMB(nullptr, CDB_COMB_OR);
    wide.add_node(root);
    for (int i = 0; i < leaves; ++i)
      root->insert_unordered_fanin(make_buffer(&wide, make_and(&wide, x, x), CDB_BUFFER_LUT_INPUT)->get_single_oterm());
    auto* buf = make_buffer(&wide, root, CDB_BUFFER_LUT_OUTPUT);
    std::vector<CDB_SGATE_OTERM*> found;
    EXPECT_EQ(opt_collect_lut_in_buffers(buf, &found), leaves < 10000) << leaves;
    if (leaves < 10000) {
      EXPECT_EQ(found.size(), static_cast<size_t>(leaves));
    }
  }

  // With the skip flag only the buffers go.
  CDB_SGATE_NETLIST skip;
  auto* s = make_input_pin(&skip, "s");
  make_output_pin(&skip, "z", make_buffer(&skip, make_not(&skip, make_buffer(&skip, s, CDB_BUFFER_LUT_INPUT)),
                                          CDB_BUFFER_LUT_OUTPUT));
  EXPECT_TRUE(opt_process_lut_io_buffers(&skip, true));
  EXPECT_EQ(count_if(skip, [](const CDB_SGATE_NODE* g) { return kavu_is_a_lut(g); }), 0);
  EXPECT_EQ(count_if(skip, is_lut_buffer), 0);
  std::vector<CDB_SGATE_OTERM*> not_empty{a->get_single_oterm()};
  EXPECT_KAVU_INTERNAL_ERROR(opt_collect_lut_in_buffers(out, &not_empty), "lut_ins->size() == 0");
}
