// Tests of the node-type predicates: look-alike gates told apart, hand-built
// walks, and counts by kind on real circuits against the BLIF text.
#include <fstream>
#include <sstream>
#include <tuple>

#include "hdb/hdb.h"
#include "kavu_helper.h"
#include "kavu_helper_predicates.h"
#include "testkit/platform_testkit.h"

namespace {

using kavu_platform::make_and;
using kavu_platform::make_buffer;
using kavu_platform::make_input_pin;

CDB_SGATE_WYSIWYG* add_atom(CDB_SGATE_NETLIST* netlist, CDB_WYSIWYG_TYPE type) {
  auto* atom = new CDB_SGATE_WYSIWYG(nullptr, type);
  netlist->add_node(atom);
  return atom;
}

CDB_SGATE_ITERM* add_atom_input(CDB_SGATE_WYSIWYG* atom, DB_INPUT_PORT_TYPE port) {
  CDB_SGATE_ITERM* t = atom->create_input_term(nullptr, port);
  atom->set_input_term(t, atom->get_input_port_number(port));
  return t;
}

CDB_SGATE_OTERM* add_atom_output(CDB_SGATE_WYSIWYG* atom, DB_OUTPUT_PORT_TYPE port) {
  CDB_SGATE_OTERM* t = atom->create_output_term(nullptr, port);
  atom->set_output_term(t, atom->get_output_port_number(port));
  return t;
}

// A comb gate of the given type with n inputs driven by `source`.
CDB_SGATE_NODE* add_comb(CDB_SGATE_NETLIST* netlist, CDB_COMB_TYPE type, int n, CDB_SGATE_NODE* source) {
  auto* comb = new CDB_SGATE_COMB(nullptr, type);
  netlist->add_node(comb);
  for (int i = 0; i < n; ++i) comb->insert_unordered_fanin(source->get_single_oterm());
  return comb;
}

// A LUT with `slots` unconnected input terminals and the given mask.
CDB_SGATE_LUT* add_lut(CDB_SGATE_NETLIST* netlist, unsigned slots, unsigned mask_inputs, uint64_t mask) {
  CDB_LUTMASK m;
  m.set_value(mask_inputs, mask);
  auto* lut = new CDB_SGATE_LUT(nullptr, m);
  netlist->add_node(lut);
  for (unsigned i = 0; i < slots; ++i) lut->set_input_term(lut->create_input_term(nullptr, 12 + i), i);
  return lut;
}

// The look-alike cases: a cascade buffer is no other buffer kind, a
// carry-sum gate is a buffer only on request, operator kinds 12 and 17 are
// operators of no named kind, kinds 4 to 7 are all shifts, and a
// three-input AND is no two-input AND.
TEST(KavuPredicatesFamilies, LookAlikeGatesAreToldApart) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  CDB_SGATE_NODE* source = make_input_pin(&nl, "src");
  CDB_SGATE_NODE* cascade = make_buffer(&nl, source, CDB_BUFFER_CASCADE);
  EXPECT_TRUE(kavu_is_a_cascade_buffer(cascade) && kavu_is_a_buffer(cascade, false));
  for (auto* other : {kavu_is_a_single_carry_buffer, kavu_is_a_cut_buffer, kavu_is_a_soft_buffer, kavu_is_a_lcell_buffer,
                      kavu_is_a_protect_buffer, kavu_is_a_name_buffer, kavu_is_a_silly_buffer}) {
    EXPECT_FALSE(other(cascade));
  }
  auto* carry_sum = new CDB_SGATE_CARRY_SUM(nullptr);
  nl.add_node(carry_sum);
  EXPECT_TRUE(!kavu_is_a_buffer(carry_sum, false) && kavu_is_a_buffer(carry_sum, true));
  for (int kind : {4, 5, 6, 7, 12, 17}) {
    auto* op = new CDB_SGATE_OPERATOR("op", CDB_OPER_TYPE(kind));
    nl.add_node(op);
    EXPECT_TRUE(kavu_is_a_op(op));
    EXPECT_EQ(kavu_is_any_shift_op(op), kind < 8) << kind;
    for (auto* named : {kavu_is_a_add_op, kavu_is_a_mult_op, kavu_is_a_compare_op, kavu_is_a_select_op,
                        kavu_is_a_addsub_op, kavu_is_a_choice_op, kavu_is_a_equal_op, kavu_is_a_bus_out_op}) {
      EXPECT_FALSE(named(op)) << kind;
    }
  }
  CDB_SGATE_NODE* and3 = add_comb(&nl, CDB_COMB_AND, 3, source);
  EXPECT_TRUE(kavu_is_a_and(and3) && !kavu_is_a_two_and(and3) && !kavu_is_a_or(and3));
  EXPECT_TRUE(kavu_is_a_two_xor(add_comb(&nl, CDB_COMB_XOR, 2, source)));
}

TEST(KavuPredicatesCascade, ChainsThroughCascadeBuffersOnly) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* cascade = make_buffer(&nl, a, CDB_BUFFER_CASCADE);
  // A LUT reading the cascade buffer; fed by another buffer type, or with
  // the cascade input tied, a LUT is no cascade LUT.
  CDB_SGATE_NODE* lut = kavu_platform::make_lut(&nl, {cascade, a}, 0x8);
  EXPECT_TRUE(kavu_is_a_cascade_lut(lut));
  EXPECT_TRUE(kavu_has_cascade_fanout(a->get_single_oterm()));
  EXPECT_FALSE(kavu_has_cascade_fanout(lut->get_single_oterm()));
  EXPECT_FALSE(kavu_is_a_cascade_lut(kavu_platform::make_lut(&nl, {make_buffer(&nl, a, CDB_BUFFER_SINGLE_CARRY)}, 2)));
  CDB_SGATE_NODE* tied = kavu_platform::make_lut(&nl, {cascade}, 0x0);
  tied->get_input_term(0)->set_vcc();
  EXPECT_FALSE(kavu_is_a_cascade_lut(tied));
  // Two-input ANDs with a cascade input; not with three inputs.
  CDB_SGATE_NODE* and2 = make_and(&nl, cascade, a);
  EXPECT_TRUE(kavu_is_a_cascade_and(and2));
  EXPECT_FALSE(kavu_is_a_cascade_and(make_and(&nl, a, a)));
  and2->cast_to_comb()->insert_unordered_fanin(a->get_single_oterm());
  EXPECT_FALSE(kavu_is_a_cascade_and(and2));
  // A soft buffer counts when it drives a cascade AND or LUT; a name buffer
  // in its place, or a soft buffer driving nothing or a plain AND, does not.
  enum READER { NOTHING, CASCADE_AND, CASCADE_LUT, PLAIN_AND };
  auto soft_to = [&](CDB_BUFFER_TYPE type, READER reader) {
    CDB_SGATE_NODE* buffer = make_buffer(&nl, a, type);
    if (reader == CASCADE_AND) make_and(&nl, cascade, buffer);
    if (reader == CASCADE_LUT) kavu_platform::make_lut(&nl, {cascade, buffer}, 0x8);
    if (reader == PLAIN_AND) make_and(&nl, a, buffer);
    return kavu_is_a_soft_to_cascade_and(buffer);
  };
  EXPECT_TRUE(soft_to(CDB_BUFFER_SOFT, CASCADE_AND));
  EXPECT_TRUE(soft_to(CDB_BUFFER_SOFT, CASCADE_LUT));
  EXPECT_FALSE(soft_to(CDB_BUFFER_NAME, CASCADE_AND));
  EXPECT_FALSE(soft_to(CDB_BUFFER_SOFT, NOTHING));
  EXPECT_FALSE(soft_to(CDB_BUFFER_SOFT, PLAIN_AND));
  EXPECT_KAVU_INTERNAL_ERROR(kavu_has_cascade_fanout(nullptr), "oterm");
  EXPECT_KAVU_INTERNAL_ERROR(kavu_is_a_two_and(nullptr), "sgate");
}

TEST(KavuPredicatesWireLut, OnlyASingleCleanInputPassedThrough) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* b = make_input_pin(&nl, "b");
  const uint64_t identity2 = CDB_LUTMASK::imask(4, 2).get_value();
  // Four slots over a 4-input mask (2 inputs with NARROW); `a` drives the
  // listed slot unless it is tied or left open; INVERT inverts it, SECOND
  // adds `b` on slot 0.
  enum { INVERT = 1, TIE = 2, SECOND = 4, NARROW = 8, OPEN = 16 };
  struct CASE {
    uint64_t mask;
    unsigned slot, flags;
    bool wire, inverter;
  } const cases[] = {
      {identity2, 2, 0, true, false},          {~identity2 & 0xFFFF, 2, 0, false, true},
      {identity2, 2, INVERT, false, false},    {identity2, 2, TIE, false, false},
      {identity2, 2, SECOND, false, false},    {0, 2, OPEN, false, false},  // no connected input
      {0xFFFF, 3, 0, false, false},            {0, 3, NARROW, false, false},  // the mask ignores it
  };
  for (const CASE& c : cases) {
    CDB_SGATE_LUT* lut = add_lut(&nl, 4, c.flags & NARROW ? 2 : 4, c.mask);
    CDB_SGATE_ITERM* t = lut->get_input_term(c.slot);
    if (c.flags & TIE) {
      t->set_vcc();
    } else if (!(c.flags & OPEN)) {
      a->get_single_oterm()->insert_fanout(t);
    }
    if (c.flags & INVERT) t->set_invert();
    if (c.flags & SECOND) b->get_single_oterm()->insert_fanout(lut->get_input_term(0));
    for (bool inverted : {false, true}) {
      CDB_SGATE_OTERM* source = b->get_single_oterm();  // overwritten on every call
      const bool want = inverted ? c.inverter : c.wire;
      EXPECT_EQ(kavu_is_a_wire_lut(lut, &source, inverted), want) << std::hex << c.mask << " " << c.flags;
      EXPECT_EQ(source, want ? a->get_single_oterm() : nullptr);
    }
  }
  CDB_SGATE_OTERM* source = nullptr;
  EXPECT_KAVU_INTERNAL_ERROR(kavu_is_a_wire_lut(a, &source, false), "kavu_is_a_lut(lut)");
  EXPECT_KAVU_INTERNAL_ERROR(kavu_is_a_wire_lut(add_lut(&nl, 1, 1, 0), nullptr, false), "source");
}

TEST(KavuPredicatesLogicCell, NormalOnlyWithoutChainOutputsModesOrDrivenChainInputs) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  // A cell whose combinational output is used is normal; one whose carry,
  // sum or share output has fan-out never is, whatever the flags.
  CDB_SGATE_WYSIWYG* cell = add_atom(&nl, 61);
  make_and(&nl, a, a)->get_input_term(0)->insert_fanin(add_atom_output(cell, DB_PORT_COMBOUT));
  add_atom_output(cell, DB_PORT_COUT);
  EXPECT_TRUE(kavu_is_wys_comb_normal(cell, true, true, false));
  for (DB_OUTPUT_PORT_TYPE port : {DB_PORT_COUT, DB_PORT_SUMOUT, DB_PORT_SHAREOUT}) {
    CDB_SGATE_WYSIWYG* chained = add_atom(&nl, 61);
    make_buffer(&nl, nullptr, CDB_BUFFER_SOFT)->insert_unordered_fanin(add_atom_output(chained, port));
    EXPECT_FALSE(kavu_is_wys_comb_normal(chained, false, false, false) || kavu_is_wys_comb_normal(chained, true, true, true))
        << "port " << port;
  }
  // The extended-LUT mode, and a driven (not tied) carry or share input,
  // count only when asked.
  CDB_SGATE_WYSIWYG* extended = add_atom(&nl, 61);
  extended->set_mode(CDB_WYSIWYG_EXTENDED_LUT);
  EXPECT_TRUE(kavu_is_wys_comb_normal(extended, false, true, false) && !kavu_is_wys_comb_normal(extended, true, true, false));
  for (DB_INPUT_PORT_TYPE port : {DB_PORT_CIN, DB_PORT_SHAREIN}) {
    CDB_SGATE_WYSIWYG* driven = add_atom(&nl, 61);
    CDB_SGATE_ITERM* input = add_atom_input(driven, port);
    input->insert_fanin(a->get_single_oterm());
    EXPECT_TRUE(kavu_is_wys_comb_normal(driven, false, false, false) && !kavu_is_wys_comb_normal(driven, false, true, false))
        << "port " << port;
    input->set_gnd();
    EXPECT_TRUE(kavu_is_wys_comb_normal(driven, false, true, false)) << "port " << port;
  }
  // The second logic-cell atom type counts only on request.
  CDB_SGATE_WYSIWYG* other_type = add_atom(&nl, 93);
  EXPECT_FALSE(kavu_is_wys_comb(other_type) || kavu_is_wys_comb_normal(other_type, false, false, false));
  EXPECT_TRUE(kavu_is_wys_comb(other_type, true) && kavu_is_wys_comb_normal(other_type, false, false, true));
  EXPECT_KAVU_INTERNAL_ERROR(kavu_is_wys_comb_normal(nullptr, false, false, false), "sgate");

  // Register data ports: plain registers always, atoms on request.
  CDB_SGATE_NODE* dff = kavu_platform::make_dff(&nl, a, a);
  EXPECT_TRUE(kavu_is_a_dff_din_port(dff->get_input_term(CDB_DFF_DATA)) &&
              !kavu_is_a_dff_din_port(dff->get_input_term(CDB_DFF_CLK)));
  CDB_SGATE_WYSIWYG* ff = add_atom(&nl, 62);
  EXPECT_TRUE(kavu_is_a_wys_ff(ff) && kavu_is_a_dff(ff, true) && !kavu_is_a_dff(ff));
  EXPECT_FALSE(kavu_is_a_wys_ff(cell) || kavu_is_a_dff(cell, true));
  CDB_SGATE_ITERM* ff_data = add_atom_input(ff, DB_PORT_DATAIN);
  EXPECT_TRUE(!kavu_is_a_dff_din_port(ff_data) && kavu_is_a_dff_din_port(ff_data, true));
  EXPECT_FALSE(kavu_is_a_dff_din_port(add_atom_input(ff, DB_PORT_CLK), true));
  EXPECT_FALSE(kavu_is_a_dff_din_port(kavu_platform::make_lut(&nl, {a}, 0x2)->get_input_term(0), true));
}

TEST(KavuPredicatesNames, BlackBoxSettingIsFoundOnTheNameOrAParent) {
  HDB_INSTANCE_NAME* top = HDB_INSTANCE_NAME::create_normal_name(nullptr, "top", nullptr, nullptr, nullptr);
  HDB_INSTANCE_NAME* core = HDB_INSTANCE_NAME::create_normal_name(nullptr, "core", nullptr, nullptr, top);
  HDB_INSTANCE_NAME* alu = HDB_INSTANCE_NAME::create_normal_name(nullptr, "alu", nullptr, nullptr, core);
  kavu_platform::hdb_set_option(core, ACF_FORMAL_VERIFICATION_MODE, "427");
  // Another value of the same option on the name itself does not stop the walk.
  kavu_platform::hdb_set_option(alu, ACF_FORMAL_VERIFICATION_MODE, "5");

  HDB_INSTANCE_NAME* carrier = top;
  EXPECT_TRUE(kavu_is_hier_formal_verification_blackbox(alu, &carrier) && carrier == core);
  EXPECT_TRUE(!kavu_is_hier_formal_verification_blackbox(top, &carrier) && carrier == nullptr);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_is_hier_formal_verification_blackbox(nullptr, &carrier), "*iname != NULL");
}

// Counts taken from the BLIF text: pins, registers, latches, muxes, LUTs and
// the single-input covers that pass their input through or invert it.
struct BLIF_COUNTS {
  int inputs = 0, outputs = 0, registers = 0, latches = 0, muxes = 0, luts = 0, wires = 0, inverters = 0;
  auto tie() const { return std::tie(inputs, outputs, registers, latches, muxes, luts, wires, inverters); }
};

BLIF_COUNTS count_blif_text(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::vector<std::string>> lines;
  std::string line, joined;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\\') {
      joined += line.substr(0, line.size() - 1) + " ";
      continue;
    }
    joined += line;
    std::istringstream words(joined);
    std::vector<std::string> w;
    for (std::string t; words >> t;) w.push_back(t);
    if (!w.empty() && w[0][0] != '#') lines.push_back(w);
    joined.clear();
  }
  BLIF_COUNTS c;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::vector<std::string>& w = lines[i];
    if (w[0] == ".inputs") c.inputs += int(w.size()) - 1;
    if (w[0] == ".outputs") c.outputs += int(w.size()) - 1;
    if (w[0] == ".latch" || (w[0] == ".subckt" && w[1].find("DFF") != std::string::npos)) ++c.registers;
    if (w[0] == ".subckt" && w[1].rfind("$_DLATCH", 0) == 0) ++c.latches;
    if (w[0] == ".subckt" && w[1] == "$_MUX_") ++c.muxes;
    if (w[0] != ".names" || w.size() < 3) continue;  // constant covers make no gate
    ++c.luts;
    if (w.size() != 3 || (i + 2 < lines.size() && lines[i + 2][0][0] != '.')) continue;
    if (w[1] == "$false" || w[1] == "$true" || w[1] == "$undef") continue;  // read as a tie
    if (i + 1 < lines.size() && lines[i + 1] == std::vector<std::string>{"1", "1"}) ++c.wires;
    if (i + 1 < lines.size() && lines[i + 1] == std::vector<std::string>{"0", "1"}) ++c.inverters;
  }
  return c;
}

TEST(KavuPredicatesCircuits, CountsByKindAgreeWithTheBlif) {
  BLIF_COUNTS all;
  for (const char* name : {"mcnc/s298", "mcnc/bigkey", "small/fsm_seq_lut4", "epfl/i2c", "seq/ch_intrinsics",
                           "small/latch_bank_generic", "small/async_regs_generic"}) {
    const BLIF_COUNTS want = count_blif_text(kavu_platform::blif_data_path(name));
    kavu_platform::LOADED_NETLIST nl = kavu_platform::load_blif(name);
    KAVU_TRACK(nl);
    BLIF_COUNTS got;
    int gates = 0;
    for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
      CDB_SGATE_NODE* gate = *it;
      ++gates;
      got.inputs += kavu_is_a_input_pin(gate);
      got.outputs += kavu_is_a_output_pin(gate);
      got.registers += kavu_is_a_dff(gate, true);
      got.latches += kavu_is_a_latch(gate);
      got.muxes += kavu_is_a_mux(gate);
      got.luts += kavu_is_a_lut(gate);
      CDB_SGATE_OTERM* source = nullptr;
      if (kavu_is_a_lut(gate)) {
        got.wires += kavu_is_a_wire_lut(gate, &source, false);
        got.inverters += kavu_is_a_wire_lut(gate, &source, true);
      }
      // Every gate of these circuits is exactly one of these kinds.
      EXPECT_EQ(kavu_is_a_pin(gate) + kavu_is_a_dff(gate, true) + kavu_is_a_latch(gate) + kavu_is_a_mux(gate) +
                    kavu_is_a_lut(gate) + kavu_is_a_comb(gate),
                1)
          << name << " " << gate->get_string_type_name();
    }
    EXPECT_EQ(unsigned(gates), kavu_node_container_size(nl.get())) << name;
    // Inputs, outputs, registers, latches, muxes, LUTs, wires, inverters.
    EXPECT_EQ(got.tie(), want.tie()) << name;
    all.wires += got.wires;
    all.inverters += got.inverters;
  }
  // The circuits were chosen to hold both kinds of single-input LUT.
  EXPECT_TRUE(all.wires > 0 && all.inverters > 0);
}

}  // namespace
