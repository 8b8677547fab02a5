// Tests of the node-type predicates.
//
// 1. A table: one gate of every gate kind, buffer type, comb type, pin and
//    IO-buffer kind, boundary direction, operator kind and a set of device
//    atoms, against every one-comparison predicate. Each predicate must
//    accept exactly the gates its row names, so a predicate that also
//    accepts a neighbouring code shows up.
// 2. Hand-built cases for the predicates that walk a gate: cascade chains,
//    wire LUTs, logic-cell atoms, register data ports, two-input gates,
//    instance-name queries, and the internal errors of bad arguments.
// 3. Real circuits: counts by kind on loaded BLIF files agree with counts
//    taken from the BLIF text itself.
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cdb/cdb_sgate.h"
#include "hdb/hdb.h"
#include "kavu_helper.h"
#include "kavu_helper_predicates.h"
#include "testkit/platform_testkit.h"

namespace {

using kavu_platform::make_and;
using kavu_platform::make_input_pin;

// ---------------------------------------------------------------------------
// Gate builders

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

CDB_SGATE_NODE* add_buffer(CDB_SGATE_NETLIST* netlist, CDB_BUFFER_TYPE type, CDB_SGATE_NODE* source) {
  auto* buffer = new CDB_SGATE_BUFFER(nullptr, type);
  netlist->add_node(buffer);
  if (source) buffer->insert_unordered_fanin(source->get_single_oterm());
  return buffer;
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

// ---------------------------------------------------------------------------
// 1. The table

const CDB_BUFFER_TYPE k_buffer_types[] = {
    CDB_BUFFER_CASCADE,   CDB_BUFFER_SINGLE_CARRY, CDB_BUFFER_CUT,         CDB_BUFFER_SOFT,
    CDB_BUFFER_LCELL,     CDB_BUFFER_GLOBAL,       CDB_BUFFER_ROW_GLOBAL,  CDB_BUFFER_PROTECT,
    CDB_BUFFER_DONT_CARE, CDB_BUFFER_LUT_INPUT,    CDB_BUFFER_LUT_OUTPUT,  CDB_BUFFER_DIRECTION,
    CDB_BUFFER_NAME,      CDB_BUFFER_SOFT_LCELL,   CDB_BUFFER_OBSERVER,    CDB_BUFFER_SILLY};

class KavuPredicatesTable : public ::testing::Test {
 protected:
  void SetUp() override {
    CDB_SGATE_NODE* source = make_input_pin(&m_netlist, "src");
    m_source = source;
    add("pin/in", source);
    for (CDB_BUFFER_TYPE b : k_buffer_types) add("buffer/" + std::to_string(b), add_buffer(&m_netlist, b, source));
    // Comb gates get two inputs, so the two-input forms accept them too.
    add("comb/and", add_comb(&m_netlist, CDB_COMB_AND, 2, source));
    add("comb/or", add_comb(&m_netlist, CDB_COMB_OR, 2, source));
    add("comb/xor", add_comb(&m_netlist, CDB_COMB_XOR, 2, source));
    add("comb/not", add_comb(&m_netlist, CDB_COMB_NOT, 1, source));
    add("comb/name_keeper", add_comb(&m_netlist, CDB_COMB_NAME_KEEPER, 1, source));
    add_new("dff", new CDB_SGATE_DFF(nullptr));
    add_new("pin/out", new CDB_SGATE_IO(nullptr, CDB_IO_OUTPUT));
    add_new("pin/bidir", new CDB_SGATE_IO(nullptr, CDB_IO_BIDIR));
    add_new("io_buf/tri", new CDB_SGATE_IO_BUF(nullptr, CDB_IO_BUF_TRI));
    add_new("io_buf/open_drain", new CDB_SGATE_IO_BUF(nullptr, CDB_IO_BUF_OPEN_DRAIN));
    add_new("lut", new CDB_SGATE_LUT(nullptr, CDB_LUTMASK()));
    add_new("state", new CDB_SGATE_STATE(nullptr, nullptr));
    add_new("mux", new CDB_SGATE_MUX(nullptr));
    add_new("carry_sum", new CDB_SGATE_CARRY_SUM(nullptr));
    add_new("tri_bus", new CDB_SGATE_TRI_BUS(nullptr));
    add_new("latch", new CDB_SGATE_LATCH(nullptr));
    add_new("component", new CDB_SGATE_COMPONENT("comp", false));
    add_new("async_ram", new CDB_SGATE_ASYNCHRONOUS_RAM(nullptr));
    add_new("sync_ram", new CDB_SGATE_SYNCHRONOUS_RAM(nullptr));
    for (int op = CDB_OPER_ADDITION; op <= CDB_OPER_RESERVED_23; ++op) {
      add_new("op/" + std::to_string(op), new CDB_SGATE_OPERATOR("op", CDB_OPER_TYPE(op)));
    }
    add_new("boundary/in", new CDB_SGATE_BOUNDARY(nullptr, CDB_BOUNDARY_INPUT));
    add_new("boundary/out", new CDB_SGATE_BOUNDARY(nullptr, CDB_BOUNDARY_OUTPUT));
    // Every atom type of the catalogue (RAM blocks through their own class;
    // atom-netlist types are never gates) and one generic atom.
    for (const kavu_platform::ATOM_CATALOGUE_ENTRY& row : kavu_platform::atom_catalogue_entries()) {
      if (row.has_class(kavu_platform::ATOM_CLASS_ATOM_NETLIST)) continue;
      const std::string label = "wys/" + std::to_string(row.m_atom_type);
      if (row.m_gate_type == CDB_SGATE_WYSIWYG_RAM_BLOCK_ENUM) {
        add_new(label, new CDB_SGATE_WYSIWYG_RAM_BLOCK(nullptr, row.m_atom_type));
      } else {
        add(label, add_atom(&m_netlist, row.m_atom_type));
      }
      if (row.has_class(kavu_platform::ATOM_CLASS_FF)) m_atom_ffs.insert(label);
      if (row.has_class(kavu_platform::ATOM_CLASS_LOGIC_MODULE)) m_atom_logic_modules.insert(label);
    }
    add("wys/4321", add_atom(&m_netlist, 4321));
  }

  void add(const std::string& label, CDB_SGATE_NODE* gate) { m_gates.push_back({label, gate}); }
  void add_new(const std::string& label, CDB_SGATE_NODE* gate) {
    m_netlist.add_node(gate);
    add(label, gate);
  }

  std::set<std::string> with_prefix(const std::string& prefix) const {
    std::set<std::string> out;
    for (const auto& g : m_gates)
      if (g.first.rfind(prefix, 0) == 0) out.insert(g.first);
    return out;
  }

  // Every predicate accepts exactly its labels.
  void check(const char* name, const std::function<bool(const CDB_SGATE_NODE*)>& predicate,
             const std::set<std::string>& accepted) {
    for (const std::string& label : accepted) {
      bool known = false;
      for (const auto& g : m_gates) known |= g.first == label;
      ASSERT_TRUE(known) << name << ": no gate " << label;
    }
    for (const auto& [label, gate] : m_gates) {
      EXPECT_EQ(predicate(gate), accepted.count(label) != 0) << name << " on " << label;
    }
  }

  CDB_SGATE_NETLIST m_netlist;
  CDB_SGATE_NODE* m_source = nullptr;
  // Atoms the catalogue classifies as flip-flops and as logic modules.
  std::set<std::string> m_atom_ffs, m_atom_logic_modules;
  std::vector<std::pair<std::string, CDB_SGATE_NODE*>> m_gates;
};

std::set<std::string> one(const std::string& label) { return {label}; }

TEST_F(KavuPredicatesTable, GateTypePredicatesAcceptExactlyTheirKind) {
  KAVU_TRACK(m_netlist);
  std::set<std::string> buffers = with_prefix("buffer/");
  std::set<std::string> buffers_and_carry = buffers;
  buffers_and_carry.insert("carry_sum");
  ASSERT_GE(m_atom_ffs.size(), 4u);
  std::set<std::string> dffs = m_atom_ffs;
  dffs.insert("dff");

  check("kavu_is_a_buffer", [](auto n) { return kavu_is_a_buffer(n, false); }, buffers);
  check("kavu_is_a_buffer(also carry-sum)", [](auto n) { return kavu_is_a_buffer(n, true); }, buffers_and_carry);
  check("kavu_is_a_comb", [](auto n) { return kavu_is_a_comb(n); }, with_prefix("comb/"));
  check("kavu_is_a_dff", [](auto n) { return kavu_is_a_dff(n); }, one("dff"));
  check("kavu_is_a_dff(also atoms)", [](auto n) { return kavu_is_a_dff(n, true); }, dffs);
  check("kavu_is_a_pin", [](auto n) { return kavu_is_a_pin(n); }, with_prefix("pin/"));
  check("kavu_is_a_input_pin", [](auto n) { return kavu_is_a_input_pin(n); }, one("pin/in"));
  check("kavu_is_a_output_pin", [](auto n) { return kavu_is_a_output_pin(n); }, one("pin/out"));
  check("kavu_is_a_bidir_pin", [](auto n) { return kavu_is_a_bidir_pin(n); }, one("pin/bidir"));
  check("kavu_is_a_io_buffer", [](auto n) { return kavu_is_a_io_buffer(n); }, with_prefix("io_buf/"));
  check("kavu_is_a_tristate_buffer", [](auto n) { return kavu_is_a_tristate_buffer(n); }, one("io_buf/tri"));
  check("kavu_is_a_open_drain", [](auto n) { return kavu_is_a_open_drain(n); }, one("io_buf/open_drain"));
  check("kavu_is_a_lut", [](auto n) { return kavu_is_a_lut(n); }, one("lut"));
  check("kavu_is_a_state_buffer", [](auto n) { return kavu_is_a_state_buffer(n); }, one("state"));
  check("kavu_is_a_mux", [](auto n) { return kavu_is_a_mux(n); }, one("mux"));
  check("kavu_is_a_carry_sum_buffer", [](auto n) { return kavu_is_a_carry_sum_buffer(n); }, one("carry_sum"));
  check("kavu_is_a_tribus", [](auto n) { return kavu_is_a_tribus(n); }, one("tri_bus"));
  check("kavu_is_a_latch", [](auto n) { return kavu_is_a_latch(n); }, one("latch"));
  check("kavu_is_a_component", [](auto n) { return kavu_is_a_component(n); }, one("component"));
  check("kavu_is_a_op", [](auto n) { return kavu_is_a_op(n); }, with_prefix("op/"));
  check("kavu_is_a_boundary", [](auto n) { return kavu_is_a_boundary(n); }, with_prefix("boundary/"));
  check("kavu_is_a_boundary_input", [](auto n) { return kavu_is_a_boundary_input(n); }, one("boundary/in"));
  check("kavu_is_a_boundary_output", [](auto n) { return kavu_is_a_boundary_output(n); }, one("boundary/out"));
}

TEST_F(KavuPredicatesTable, BufferAndCombPredicatesAcceptExactlyTheirType) {
  KAVU_TRACK(m_netlist);
  const std::pair<const char*, bool (*)(const CDB_SGATE_NODE*)> buffer_rows[] = {
      {"buffer/0", kavu_is_a_cascade_buffer},   {"buffer/1", kavu_is_a_single_carry_buffer},
      {"buffer/3", kavu_is_a_cut_buffer},       {"buffer/4", kavu_is_a_soft_buffer},
      {"buffer/5", kavu_is_a_lcell_buffer},     {"buffer/6", kavu_is_a_global_buffer},
      {"buffer/8", kavu_is_a_row_global_buffer}, {"buffer/9", kavu_is_a_protect_buffer},
      {"buffer/10", kavu_is_a_dont_care_buffer}, {"buffer/13", kavu_is_a_direction_buffer},
      {"buffer/14", kavu_is_a_name_buffer},     {"buffer/15", kavu_is_a_soft_lcell_buffer},
      {"buffer/16", kavu_is_a_observer_buffer}, {"buffer/17", kavu_is_a_silly_buffer}};
  for (const auto& [label, predicate] : buffer_rows) check(label, predicate, one(label));

  check("kavu_is_a_and", kavu_is_a_and, one("comb/and"));
  check("kavu_is_a_or", kavu_is_a_or, one("comb/or"));
  check("kavu_is_a_xor", kavu_is_a_xor, one("comb/xor"));
  check("kavu_is_a_two_and", kavu_is_a_two_and, one("comb/and"));
  check("kavu_is_a_two_or", kavu_is_a_two_or, one("comb/or"));
  check("kavu_is_a_two_xor", kavu_is_a_two_xor, one("comb/xor"));
}

TEST_F(KavuPredicatesTable, OperatorPredicatesAcceptExactlyTheirKind) {
  KAVU_TRACK(m_netlist);
  const std::pair<int, bool (*)(const CDB_SGATE_NODE*)> op_rows[] = {
      {0, kavu_is_a_add_op},        {1, kavu_is_a_mult_op},       {2, kavu_is_a_divide_op},
      {3, kavu_is_a_mod_op},        {8, kavu_is_a_compare_op},    {9, kavu_is_a_nto1_mux_op},
      {10, kavu_is_a_select_op},    {11, kavu_is_a_decode_op},    {13, kavu_is_a_addsub_op},
      {14, kavu_is_a_busmux_op},    {15, kavu_is_a_choice_op},    {16, kavu_is_a_equal_op},
      {18, kavu_is_a_bus_in_op},    {19, kavu_is_a_bus_out_op},   {20, kavu_is_a_reg_sec_sig_proxy_op},
      {21, kavu_is_a_enabled_decode_op}};
  for (const auto& [kind, predicate] : op_rows) {
    const std::string label = "op/" + std::to_string(kind);
    check(label.c_str(), predicate, one(label));
  }
  // All four shifts and rotations are shifts; the reserved kinds 12 and 17
  // (and 22, 23) are operators that no kind predicate names.
  check("kavu_is_any_shift_op", kavu_is_any_shift_op, {"op/4", "op/5", "op/6", "op/7"});
}

TEST_F(KavuPredicatesTable, AtomPredicatesFollowTheAtomCatalogue) {
  KAVU_TRACK(m_netlist);
  check("kavu_is_a_wys_ff", kavu_is_a_wys_ff, m_atom_ffs);
  check("kavu_is_wys_logic_module", kavu_is_wys_logic_module, m_atom_logic_modules);
  check("kavu_is_wys_comb", [](auto n) { return kavu_is_wys_comb(n); }, one("wys/61"));
  check("kavu_is_wys_comb(also 93)", [](auto n) { return kavu_is_wys_comb(n, true); }, {"wys/61", "wys/93"});
  // Unused cells without ports are normal logic cells whatever the flags.
  check("kavu_is_wys_comb_normal", [](auto n) { return kavu_is_wys_comb_normal(n, true, true, false); },
        one("wys/61"));
  check("kavu_is_wys_comb_normal(also 93)",
        [](auto n) { return kavu_is_wys_comb_normal(n, false, false, true); }, {"wys/61", "wys/93"});
  // Nothing in the table is wired into a cascade chain.
  check("kavu_is_a_cascade_lut", kavu_is_a_cascade_lut, {});
  check("kavu_is_a_cascade_and", kavu_is_a_cascade_and, {});
  check("kavu_is_a_soft_to_cascade_and", kavu_is_a_soft_to_cascade_and, {});
}

// ---------------------------------------------------------------------------
// 2. Hand-built cases

TEST(KavuPredicatesCascade, ChainsThroughCascadeBuffersOnly) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* cascade = add_buffer(&nl, CDB_BUFFER_CASCADE, a);
  CDB_SGATE_NODE* carry = add_buffer(&nl, CDB_BUFFER_SINGLE_CARRY, a);

  // A LUT with one input from the cascade buffer.
  CDB_SGATE_LUT* lut = add_lut(&nl, 2, 2, 0x8);
  cascade->get_single_oterm()->insert_fanout(lut->get_input_term(0));
  a->get_single_oterm()->insert_fanout(lut->get_input_term(1));
  EXPECT_TRUE(kavu_is_a_cascade_lut(lut));
  EXPECT_TRUE(kavu_has_cascade_fanout(a->get_single_oterm()));
  EXPECT_FALSE(kavu_has_cascade_fanout(lut->get_single_oterm()));

  // Fed by another buffer type it is no cascade LUT.
  CDB_SGATE_LUT* carry_lut = add_lut(&nl, 1, 1, 0x2);
  carry->get_single_oterm()->insert_fanout(carry_lut->get_input_term(0));
  EXPECT_FALSE(kavu_is_a_cascade_lut(carry_lut));

  // Two-input ANDs: with a cascade input yes, with three inputs no.
  CDB_SGATE_NODE* and2 = make_and(&nl, cascade, a);
  auto* and3 = static_cast<CDB_SGATE_COMB*>(add_comb(&nl, CDB_COMB_AND, 2, a));
  and3->insert_unordered_fanin(cascade->get_single_oterm());
  EXPECT_TRUE(kavu_is_a_cascade_and(and2));
  EXPECT_FALSE(kavu_is_a_two_and(and3));
  EXPECT_FALSE(kavu_is_a_cascade_and(and3));
  EXPECT_FALSE(kavu_is_a_cascade_and(make_and(&nl, a, a)));

  // A soft buffer counts when its output drives a cascade AND or LUT.
  CDB_SGATE_NODE* soft_to_and = add_buffer(&nl, CDB_BUFFER_SOFT, a);
  soft_to_and->get_single_oterm()->insert_fanout(and2->get_input_term(1));
  EXPECT_TRUE(kavu_is_a_soft_to_cascade_and(soft_to_and));
  CDB_SGATE_NODE* soft_to_lut = add_buffer(&nl, CDB_BUFFER_SOFT, a);
  soft_to_lut->get_single_oterm()->insert_fanout(lut->get_input_term(1));
  EXPECT_TRUE(kavu_is_a_soft_to_cascade_and(soft_to_lut));
  CDB_SGATE_NODE* soft_unused = add_buffer(&nl, CDB_BUFFER_SOFT, a);
  EXPECT_FALSE(kavu_is_a_soft_to_cascade_and(soft_unused));
  CDB_SGATE_NODE* soft_to_plain = add_buffer(&nl, CDB_BUFFER_SOFT, a);
  make_and(&nl, soft_to_plain, a);
  EXPECT_FALSE(kavu_is_a_soft_to_cascade_and(soft_to_plain));
  // The same connection from a buffer that is not soft does not count.
  CDB_SGATE_NODE* name_buffer = add_buffer(&nl, CDB_BUFFER_NAME, a);
  make_and(&nl, cascade, name_buffer);
  EXPECT_FALSE(kavu_is_a_soft_to_cascade_and(name_buffer));

  // A cascade input tied to a constant is no real source.
  CDB_SGATE_LUT* tied = add_lut(&nl, 2, 2, 0x8);
  cascade->get_single_oterm()->insert_fanout(tied->get_input_term(0));
  a->get_single_oterm()->insert_fanout(tied->get_input_term(1));
  tied->get_input_term(0)->set_vcc();
  EXPECT_FALSE(kavu_is_a_cascade_lut(tied));

  EXPECT_KAVU_INTERNAL_ERROR(kavu_has_cascade_fanout(nullptr), "oterm");
  EXPECT_KAVU_INTERNAL_ERROR(kavu_is_a_two_and(nullptr), "sgate");
  EXPECT_KAVU_INTERNAL_ERROR(kavu_is_a_two_or(nullptr), "sgate");
  EXPECT_KAVU_INTERNAL_ERROR(kavu_is_a_two_xor(nullptr), "sgate");
}

TEST(KavuPredicatesWireLut, OnlyASingleCleanInputPassedThrough) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* b = make_input_pin(&nl, "b");
  CDB_SGATE_OTERM* source = nullptr;
  CDB_SGATE_OTERM* const garbage = b->get_single_oterm();

  // Four slots, only slot 2 connected, mask = identity of input 2.
  const uint64_t identity2 = CDB_LUTMASK::imask(4, 2).get_value();
  CDB_SGATE_LUT* wire = add_lut(&nl, 4, 4, identity2);
  a->get_single_oterm()->insert_fanout(wire->get_input_term(2));
  EXPECT_TRUE(kavu_is_a_wire_lut(wire, &source, false));
  EXPECT_EQ(source, a->get_single_oterm());
  source = garbage;
  EXPECT_FALSE(kavu_is_a_wire_lut(wire, &source, true));  // the identity is no inverter
  EXPECT_EQ(source, nullptr);

  CDB_SGATE_LUT* inverter = add_lut(&nl, 4, 4, ~identity2 & 0xFFFF);
  a->get_single_oterm()->insert_fanout(inverter->get_input_term(2));
  EXPECT_TRUE(kavu_is_a_wire_lut(inverter, &source, true));
  EXPECT_EQ(source, a->get_single_oterm());
  EXPECT_FALSE(kavu_is_a_wire_lut(inverter, &source, false));

  // Its only connected input inverted, or tied to a constant: not a wire.
  CDB_SGATE_LUT* inverted_input = add_lut(&nl, 4, 4, identity2);
  a->get_single_oterm()->insert_fanout(inverted_input->get_input_term(2));
  inverted_input->get_input_term(2)->set_invert();
  EXPECT_FALSE(kavu_is_a_wire_lut(inverted_input, &source, false));
  EXPECT_FALSE(kavu_is_a_wire_lut(inverted_input, &source, true));
  CDB_SGATE_LUT* tied = add_lut(&nl, 4, 4, identity2);
  tied->get_input_term(2)->set_vcc();
  EXPECT_FALSE(kavu_is_a_wire_lut(tied, &source, false));

  // Two connected inputs, although the mask ignores one of them.
  CDB_SGATE_LUT* two = add_lut(&nl, 4, 4, identity2);
  a->get_single_oterm()->insert_fanout(two->get_input_term(2));
  b->get_single_oterm()->insert_fanout(two->get_input_term(0));
  source = garbage;
  EXPECT_FALSE(kavu_is_a_wire_lut(two, &source, false));
  EXPECT_EQ(source, nullptr);

  // No connected input at all (a constant), and a connected input that
  // the mask ignores.
  EXPECT_FALSE(kavu_is_a_wire_lut(add_lut(&nl, 4, 4, 0), &source, false));
  CDB_SGATE_LUT* ignored = add_lut(&nl, 4, 4, 0xFFFF);
  a->get_single_oterm()->insert_fanout(ignored->get_input_term(3));
  EXPECT_FALSE(kavu_is_a_wire_lut(ignored, &source, false));
  EXPECT_FALSE(kavu_is_a_wire_lut(ignored, &source, true));
  // A mask over fewer inputs than the connected position ignores it too.
  CDB_SGATE_LUT* narrow = add_lut(&nl, 4, 2, 0x0);
  a->get_single_oterm()->insert_fanout(narrow->get_input_term(3));
  EXPECT_FALSE(kavu_is_a_wire_lut(narrow, &source, false));

  EXPECT_KAVU_INTERNAL_ERROR(kavu_is_a_wire_lut(a, &source, false), "kavu_is_a_lut(lut)");
  EXPECT_KAVU_INTERNAL_ERROR(kavu_is_a_wire_lut(wire, nullptr, false), "source");
}

TEST(KavuPredicatesLogicCell, NormalOnlyWithoutChainOutputsModesOrDrivenChainInputs) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");

  // A cell whose combinational output is used is normal.
  CDB_SGATE_WYSIWYG* cell = add_atom(&nl, 61);
  add_atom_input(cell, DB_PORT_DATAA)->insert_fanin(a->get_single_oterm());
  make_and(&nl, a, a)->get_input_term(0)->insert_fanin(add_atom_output(cell, DB_PORT_COMBOUT));
  add_atom_output(cell, DB_PORT_COUT);
  EXPECT_TRUE(kavu_is_wys_comb_normal(cell, true, true, false));

  // An arithmetic, sum or share output with fan-out: never normal.
  for (DB_OUTPUT_PORT_TYPE port : {DB_PORT_COUT, DB_PORT_SUMOUT, DB_PORT_SHAREOUT}) {
    CDB_SGATE_WYSIWYG* chained = add_atom(&nl, 61);
    CDB_SGATE_NODE* sink = add_buffer(&nl, CDB_BUFFER_SOFT, nullptr);
    sink->insert_unordered_fanin(add_atom_output(chained, port));
    for (bool flag : {false, true}) {
      EXPECT_FALSE(kavu_is_wys_comb_normal(chained, flag, flag, flag)) << "port " << port;
    }
  }

  // The extended-LUT mode counts only when asked.
  CDB_SGATE_WYSIWYG* extended = add_atom(&nl, 61);
  extended->set_mode(CDB_WYSIWYG_EXTENDED_LUT);
  EXPECT_TRUE(kavu_is_wys_comb_normal(extended, false, true, false));
  EXPECT_FALSE(kavu_is_wys_comb_normal(extended, true, true, false));

  // A driven carry or share input counts only when asked; ties do not count.
  for (DB_INPUT_PORT_TYPE port : {DB_PORT_CIN, DB_PORT_SHAREIN}) {
    CDB_SGATE_WYSIWYG* driven = add_atom(&nl, 61);
    CDB_SGATE_ITERM* input = add_atom_input(driven, port);
    input->insert_fanin(a->get_single_oterm());
    EXPECT_TRUE(kavu_is_wys_comb_normal(driven, false, false, false)) << "port " << port;
    EXPECT_FALSE(kavu_is_wys_comb_normal(driven, false, true, false)) << "port " << port;
    input->set_gnd();
    EXPECT_TRUE(kavu_is_wys_comb_normal(driven, false, true, false)) << "port " << port;
  }

  // The second family's cell type is accepted only on request.
  CDB_SGATE_WYSIWYG* other_family = add_atom(&nl, 93);
  EXPECT_FALSE(kavu_is_wys_comb_normal(other_family, false, false, false));
  EXPECT_TRUE(kavu_is_wys_comb_normal(other_family, false, false, true));

  EXPECT_KAVU_INTERNAL_ERROR(kavu_is_wys_comb_normal(nullptr, false, false, false), "sgate");
}

TEST(KavuPredicatesRegisterPorts, DataInputOfPlainRegistersAndOnRequestOfAtoms) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* dff = kavu_platform::make_dff(&nl, a, a);
  EXPECT_TRUE(kavu_is_a_dff_din_port(dff->get_input_term(CDB_DFF_DATA)));
  EXPECT_FALSE(kavu_is_a_dff_din_port(dff->get_input_term(CDB_DFF_CLK)));
  EXPECT_FALSE(kavu_is_a_dff_din_port(dff->get_input_term(CDB_DFF_ENA), true));

  CDB_SGATE_WYSIWYG* ff = add_atom(&nl, 62);
  CDB_SGATE_ITERM* ff_clk = add_atom_input(ff, DB_PORT_CLK);
  CDB_SGATE_ITERM* ff_data = add_atom_input(ff, DB_PORT_DATAIN);
  EXPECT_FALSE(kavu_is_a_dff_din_port(ff_data));
  EXPECT_TRUE(kavu_is_a_dff_din_port(ff_data, true));
  EXPECT_FALSE(kavu_is_a_dff_din_port(ff_clk, true));

  // The first input of another kind is no register data input.
  CDB_SGATE_NODE* lut = kavu_platform::make_lut(&nl, {a}, 0x2);
  EXPECT_FALSE(kavu_is_a_dff_din_port(lut->get_input_term(0), true));
}

TEST(KavuPredicatesNames, BlackBoxSettingIsFoundOnTheNameOrAParent) {
  HDB_INSTANCE_NAME* top = HDB_INSTANCE_NAME::create_normal_name(nullptr, "top", nullptr, nullptr, nullptr);
  HDB_INSTANCE_NAME* core = HDB_INSTANCE_NAME::create_normal_name(nullptr, "core", nullptr, nullptr, top);
  HDB_INSTANCE_NAME* alu = HDB_INSTANCE_NAME::create_normal_name(nullptr, "alu", nullptr, nullptr, core);
  kavu_platform::hdb_set_option(core, ACF_FORMAL_VERIFICATION_MODE, "427");
  // Another value of the same option on the name itself does not stop the walk.
  kavu_platform::hdb_set_option(alu, ACF_FORMAL_VERIFICATION_MODE, "5");

  HDB_INSTANCE_NAME* carrier = top;
  EXPECT_TRUE(kavu_is_hier_formal_verification_blackbox(alu, &carrier));
  EXPECT_EQ(carrier, core);
  EXPECT_TRUE(kavu_is_hier_formal_verification_blackbox(core, &carrier));
  EXPECT_EQ(carrier, core);
  EXPECT_FALSE(kavu_is_hier_formal_verification_blackbox(top, &carrier));
  EXPECT_EQ(carrier, nullptr);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_is_hier_formal_verification_blackbox(nullptr, &carrier),
                             "*iname != NULL");
}

TEST(KavuPredicatesNames, CompilerDirectivesReplaceTheCallersList) {
  HDB_NAMESPACE* ns = kavu_platform::hdb_default_namespace();
  kavu_platform::hdb_set_option(ns, ACF_VERILOG_MACRO, "WIDTH=8");
  kavu_platform::hdb_set_option(ns, ACF_VERILOG_MACRO, "DEBUG=1");
  KAVU_DERIVED_OPTION_LIST options(5, nullptr);  // stale content is replaced
  kavu_get_all_derived_options(ns, &options);
  ASSERT_EQ(options.size(), 2u);
  EXPECT_STREQ(options[0]->get_value(), "WIDTH=8");
  EXPECT_STREQ(options[1]->get_value(), "DEBUG=1");
  EXPECT_KAVU_INTERNAL_ERROR(kavu_get_all_derived_options(ns, nullptr), "results");
}

// ---------------------------------------------------------------------------
// 3. Real circuits

// Counts taken from the BLIF text: pins, registers, and the single-input
// covers that pass their input through or invert it.
struct BLIF_COUNTS {
  int inputs = 0, outputs = 0, latches = 0, luts = 0, wires = 0, inverters = 0;
  std::map<std::string, int> cells;  // .subckt model -> count
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
    if (w[0] == ".latch") ++c.latches;
    if (w[0] == ".subckt") ++c.cells[w[1]];
    if (w[0] != ".names" || w.size() < 3) continue;  // constant covers make no gate
    ++c.luts;
    if (w.size() != 3 || (i + 2 < lines.size() && lines[i + 2][0][0] != '.')) continue;
    if (i + 1 < lines.size() && lines[i + 1] == std::vector<std::string>{"1", "1"}) ++c.wires;
    if (i + 1 < lines.size() && lines[i + 1] == std::vector<std::string>{"0", "1"}) ++c.inverters;
  }
  return c;
}

TEST(KavuPredicatesCircuits, CountsByKindAgreeWithTheBlif) {
  int all_wires = 0, all_inverters = 0;
  for (const char* name : {"mcnc/s298", "mcnc/bigkey", "small/fsm_seq_lut4", "epfl/i2c"}) {
    const BLIF_COUNTS expected = count_blif_text(kavu_platform::blif_data_path(name));
    kavu_platform::LOADED_NETLIST nl = kavu_platform::load_blif(name);
    KAVU_TRACK(nl);
    int gates = 0, in_pins = 0, out_pins = 0, dffs = 0, luts = 0, wires = 0, inverters = 0;
    for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
      CDB_SGATE_NODE* gate = *it;
      if (!gate) continue;
      ++gates;
      in_pins += kavu_is_a_input_pin(gate);
      out_pins += kavu_is_a_output_pin(gate);
      dffs += kavu_is_a_dff(gate, true);
      luts += kavu_is_a_lut(gate);
      CDB_SGATE_OTERM* source = nullptr;
      if (kavu_is_a_lut(gate)) {
        wires += kavu_is_a_wire_lut(gate, &source, false);
        inverters += kavu_is_a_wire_lut(gate, &source, true);
      }
      // Every gate of these circuits is exactly one of these kinds.
      EXPECT_EQ(kavu_is_a_pin(gate) + kavu_is_a_dff(gate) + kavu_is_a_lut(gate), 1)
          << name << " " << gate->get_string_type_name();
    }
    EXPECT_EQ(unsigned(gates), kavu_node_container_size(nl.get())) << name;
    EXPECT_EQ(in_pins, expected.inputs) << name;
    EXPECT_EQ(out_pins, expected.outputs) << name;
    EXPECT_EQ(dffs, expected.latches) << name;
    EXPECT_EQ(luts, expected.luts) << name;
    EXPECT_EQ(wires, expected.wires) << name;
    EXPECT_EQ(inverters, expected.inverters) << name;
    all_wires += wires;
    all_inverters += inverters;
  }
  // The circuits were chosen to hold both kinds of single-input LUT.
  EXPECT_GT(all_wires, 0);
  EXPECT_GT(all_inverters, 0);
}

TEST(KavuPredicatesCircuits, GenericCellsBecomeMuxesRegistersAndLatches) {
  for (const char* name : {"seq/ch_intrinsics", "small/latch_bank_generic", "small/async_regs_generic"}) {
    const BLIF_COUNTS expected = count_blif_text(kavu_platform::blif_data_path(name));
    int expected_muxes = 0, expected_registers = 0, expected_latches = 0;
    for (const auto& [cell, count] : expected.cells) {
      if (cell == "$_MUX_") expected_muxes += count;
      if (cell.find("DFF") != std::string::npos) expected_registers += count;
      if (cell.rfind("$_DLATCH", 0) == 0) expected_latches += count;
    }
    kavu_platform::LOADED_NETLIST nl = kavu_platform::load_blif(name);
    KAVU_TRACK(nl);
    int muxes = 0, dffs = 0, latches = 0, in_pins = 0, others = 0;
    for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
      CDB_SGATE_NODE* gate = *it;
      if (!gate) continue;
      muxes += kavu_is_a_mux(gate);
      dffs += kavu_is_a_dff(gate, true);
      latches += kavu_is_a_latch(gate);
      in_pins += kavu_is_a_input_pin(gate);
      others += !kavu_is_a_mux(gate) && !kavu_is_a_dff(gate) && !kavu_is_a_latch(gate) &&
                !kavu_is_a_comb(gate) && !kavu_is_a_pin(gate) && !kavu_is_a_lut(gate);
    }
    EXPECT_EQ(muxes, expected_muxes) << name;
    EXPECT_EQ(dffs, expected_registers) << name;
    EXPECT_EQ(latches, expected_latches) << name;
    EXPECT_EQ(in_pins, expected.inputs) << name;
    EXPECT_EQ(others, 0) << name;
  }
}

}  // namespace
