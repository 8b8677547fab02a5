// The WYSIWYG unmapper: every logic-cell mode against the cell rule over all
// its inputs, the flip-flop unmaps, missing connections, the adder-bit test,
// and real circuits packed into device atoms and unmapped back.
#include <list>
#include <memory>
#include <random>

#include "cdb/cdb_atom_catalogue.h"
#include "kavu_setup.h"
#include "kavu_wiring_helper.h"
#include "kavu_wysiwyg_unmapper.h"
#include "netlist_io/simulator.h"
#include "platform_testkit.h"

using namespace kavu_platform;

namespace {

typedef std::list<CDB_SGATE_NODE*> NODE_LIST;

// Connects `to` the way `from` is connected (source and inversion, or tie).
void connect_like(const CDB_SGATE_ITERM* from, CDB_SGATE_ITERM* to) {
  if (!from || !cdb_is_connected(from)) return;
  if (from->is_vcc_or_gnd()) {
    from->is_vcc() ? to->set_vcc() : to->set_gnd();
    return;
  }
  from->get_source()->insert_fanout(to);
  if (from->is_inverted()) to->set_invert();
}

CDB_SGATE_ITERM* atom_in(CDB_SGATE_WYSIWYG* atom, DB_INPUT_PORT_TYPE port) {
  return kavu_fetch_create_wys_iterm(port, atom);
}
CDB_SGATE_OTERM* atom_out(CDB_SGATE_WYSIWYG* atom, DB_OUTPUT_PORT_TYPE port) {
  return kavu_fetch_create_wys_oterm(port, atom, false);
}

// An output pin reading one terminal.
void output_from(CDB_SGATE_NETLIST* nl, const char* name, CDB_SGATE_OTERM* src) {
  CDB_SGATE_NODE* pin = make_output_pin(nl, name, nullptr);
  src->insert_fanout(pin->get_input_term(0));
}

int count_atoms(const CDB_SGATE_NETLIST* nl) {
  int n = 0;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
    if (*it && (*it)->is_wysiwyg()) ++n;
  return n;
}

int count_type(const CDB_SGATE_NETLIST* nl, CDB_SGATE_TYPE type) {
  int n = 0;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
    if (*it && (*it)->get_sgate_type() == type) ++n;
  return n;
}

// ---- packing mapped circuits into atoms

struct PACKED {
  int cells = 0, extended = 0, ffs = 0;
};

// A LUT becomes a logic cell: kinds 61 and 93 in turn; every third 4-input
// LUT a kind-61 cell in extended mode with its third input on c and g, its
// fourth on e, and d and f tied to GND.
void pack_lut(CDB_SGATE_NETLIST* nl, CDB_SGATE_LUT* lut, int k, PACKED* p) {
  const unsigned n = lut->get_lut_mask().get_num_inputs();
  const bool extended = n == 4 && k % 3 == 0;
  CDB_SGATE_WYSIWYG* atom = new CDB_SGATE_WYSIWYG(lut->get_instance_name(), extended || k % 2 ? 61 : 93);
  const uint64_t f = lut->get_lut_mask().get_value();
  if (!extended) {
    for (unsigned i = 0; i < n; ++i) connect_like(lut->get_input_term(i), atom_in(atom, DB_INPUT_PORT_TYPE(12 + i)));
    atom->set_lutmask_value(lut->get_lut_mask().widened(6).get_value());
  } else {
    atom->set_mode(CDB_WYSIWYG_EXTENDED_LUT);
    const DB_INPUT_PORT_TYPE ports[5] = {DB_PORT_DATAA, DB_PORT_DATAB, DB_PORT_DATAC, DB_PORT_DATAE, DB_PORT_DATAG};
    const unsigned from[5] = {0, 1, 2, 3, 2};
    for (unsigned i = 0; i < 5; ++i) connect_like(lut->get_input_term(from[i]), atom_in(atom, ports[i]));
    atom_in(atom, DB_PORT_DATAD)->set_gnd();
    atom_in(atom, DB_PORT_DATAF)->set_gnd();
    uint64_t mask = 0;
    for (unsigned m = 0; m < 64; ++m) mask |= ((f >> ((m & 7) | ((m >> 1) & 8))) & 1) << m;
    atom->set_lutmask_value(mask);
    ++p->extended;
  }
  CDB_SGATE_OTERM* out = lut->get_output_term(0);
  CDB_SGATE_OTERM* combout = atom_out(atom, DB_PORT_COMBOUT);
  combout->adopt_fanouts(out, out->is_inverted());
  combout->set_instance_name(out->get_instance_name());
  nl->delete_node(lut);
  delete lut;
  nl->add_node(atom, true);
  ++p->cells;
}

// A plain register becomes a flip-flop atom (kinds 62, 94, 115 in turn; 62
// for a synchronous load) with clear, load and enable: connected like the
// register's, or tied inactive. Registers with a preset, or whose clear acts
// while their enable is off, stay.
void pack_dff(CDB_SGATE_NETLIST* nl, CDB_SGATE_NODE* dff, int k, PACKED* p) {
  auto active = [&](unsigned pos) {
    const CDB_SGATE_ITERM* t = dff->get_input_term(pos);
    return t && cdb_is_connected(t) && !t->is_gnd();
  };
  if (active(CDB_DFF_PRESET)) return;
  if (dff->get_reg_flags()->sclr_over_ena_priority() && active(CDB_DFF_SCLR)) return;
  const CDB_WYSIWYG_TYPE type = active(CDB_DFF_SLOAD) ? 62 : CDB_WYSIWYG_TYPE(k % 3 == 0 ? 62 : k % 3 == 1 ? 94 : 115);
  CDB_SGATE_WYSIWYG* atom = new CDB_SGATE_WYSIWYG(dff->get_instance_name(), type);
  static const struct {
    unsigned pos;
    DB_INPUT_PORT_TYPE port;
    int tie;  // 1 VCC, 0 GND, -1 none
  } map[] = {{CDB_DFF_DATA, DB_PORT_DATAIN, -1}, {CDB_DFF_CLK, DB_PORT_CLK, -1},  {CDB_DFF_ACLR, DB_PORT_ACLR, 0},
             {CDB_DFF_ENA, DB_PORT_ENA, 1},      {CDB_DFF_ADATA, DB_PORT_ASDATA, -1}, {CDB_DFF_ALOAD, DB_PORT_ALOAD, 0},
             {CDB_DFF_SCLR, DB_PORT_SCLR, 0},    {CDB_DFF_SLOAD, DB_PORT_SLOAD, 0}};
  for (const auto& m : map) {
    const CDB_SGATE_ITERM* t = dff->get_input_term(m.pos);
    if (t && cdb_is_connected(t)) connect_like(t, atom_in(atom, m.port));
    else if (m.tie >= 0) m.tie ? atom_in(atom, m.port)->set_vcc() : atom_in(atom, m.port)->set_gnd();
  }
  atom->copy_flags_from_other_ff(dff);
  atom->set_sclr_over_ena_priority(false);
  CDB_SGATE_OTERM* q = dff->get_output_term(0);
  CDB_SGATE_OTERM* regout = atom_out(atom, DB_PORT_REGOUT);
  regout->adopt_fanouts(q, q->is_inverted());
  regout->set_instance_name(q->get_instance_name());
  nl->delete_node(dff);
  delete dff;
  nl->add_node(atom, true);
  ++p->ffs;
}

PACKED pack_into_atoms(CDB_SGATE_NETLIST* nl) {
  std::vector<CDB_SGATE_NODE*> nodes;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
    if (*it) nodes.push_back(*it);
  PACKED p;
  int k = 0;
  for (CDB_SGATE_NODE* node : nodes) {
    if (node->get_sgate_type() == CDB_SGATE_LUT_ENUM) pack_lut(nl, node->cast_to_lut(), k++, &p);
    else if (node->get_sgate_type() == CDB_SGATE_DFF_ENUM) pack_dff(nl, node, k++, &p);
  }
  return p;
}

// ---- a 128-bit ripple adder of arithmetic cells, pins named as epfl/adder

enum ADDER_FORM { GATES, CARRY_SUM_BUFFERS, ADDER_ATOMS };

std::unique_ptr<CDB_SGATE_NETLIST> make_cell_adder(unsigned width) {
  auto nl = std::make_unique<CDB_SGATE_NETLIST>();
  CDB_SGATE_OTERM* carry = nullptr;
  for (unsigned i = 0; i < width; ++i) {
    const std::string idx = "[" + std::to_string(i) + "]";
    CDB_SGATE_NODE* a = make_input_pin(nl.get(), ("a" + idx).c_str());
    CDB_SGATE_NODE* b = make_input_pin(nl.get(), ("b" + idx).c_str());
    CDB_SGATE_WYSIWYG* cell = new CDB_SGATE_WYSIWYG(a->get_instance_name(), 61);
    nl->add_node(cell, true);
    a->get_output_term(0)->insert_fanout(atom_in(cell, DB_PORT_DATAA));
    // Odd bits take the second addend through the shared input.
    const bool shared = i % 2;
    if (shared) cell->set_mode(CDB_WYSIWYG_SHARED_ARITH);
    b->get_output_term(0)->insert_fanout(atom_in(cell, shared ? DB_PORT_SHAREIN : DB_PORT_DATAB));
    cell->set_lutmask_value((0x3333ull << 32) | 0xAAAAull);
    if (carry) carry->insert_fanout(atom_in(cell, DB_PORT_CIN));
    output_from(nl.get(), ("f" + idx).c_str(), atom_out(cell, DB_PORT_SUMOUT));
    carry = atom_out(cell, DB_PORT_COUT);
  }
  output_from(nl.get(), "cOut", carry);
  return nl;
}

// Unmaps every atom of the netlist one by one with the given unmapper.
void unmap_each_atom(CDB_SGATE_NETLIST* nl, KAVU_WYSIWYG_UNMAPPER* u) {
  std::vector<CDB_SGATE_WYSIWYG*> atoms;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
    if (*it && (*it)->is_wysiwyg()) atoms.push_back((*it)->cast_to_wysiwyg());
  NODE_LIST nodes;
  for (CDB_SGATE_WYSIWYG* atom : atoms) {
    ASSERT_TRUE(u->unmap_wysiwyg(atom, &nodes, nullptr));
    nl->delete_node(atom);
    delete atom;
  }
  for (CDB_SGATE_NODE* n : nodes) nl->add_node(n, true);
}

}  // namespace

// Mapped circuits packed into logic cells and flip-flop atoms (with clear,
// load and enable) unmap back to the same function with no atom left; the
// packed form is checked too, which proves the cell rule of the simulator
// and the BLIF writer against the circuit.
TEST(KavuWysiwygUnmapper, PackedRealCircuitsUnmapToTheOriginal) {
  const char* circuits[] = {"mcnc/alu4",        "mcnc/s298",         "small/counter8_lut4", "small/updown16_lut4",
                            "small/crc8_lut4",  "small/lfsr16_lut4", "small/shift_en_sclr_lut4",
                            "lut6/ctrl",        "lut6/int2float",    "lut6/router",         "lut6/cavlc",
                            "lut6/priority"};
  for (const char* name : circuits) {
    SCOPED_TRACE(name);
    auto golden = load_blif(name);
    auto work = load_blif(name);
    KAVU_TRACK(work);
    const PACKED p = pack_into_atoms(work.get());
    EXPECT_GT(p.cells, 0);
    ASSERT_KAVU_EQUIVALENT(golden, work);
    EXPECT_TRUE(kavu_unmap_netlist(work.get(), true, true, true, false, false, false, false));
    EXPECT_EQ(count_atoms(work.get()), 0);
    EXPECT_EQ(count_type(work.get(), CDB_SGATE_LUT_ENUM), 0);
    EXPECT_EQ(count_type(work.get(), CDB_SGATE_MUX_ENUM), 0);
    ASSERT_KAVU_EQUIVALENT(golden, work);
  }
}

// epfl/adder as a carry chain of arithmetic cells (plain and shared-input
// modes alternating), unmapped to gates, to gates behind carry-sum buffers,
// and to LUTs feeding fresh adder atoms.
TEST(KavuWysiwygUnmapper, CarryChainOfEpflAdderUnmapsInEveryForm) {
  auto golden = load_blif("epfl/adder");
  const struct {
    ADDER_FORM form;
    int atoms_left;
    int carry_sums;
  } cases[] = {{GATES, 0, 0}, {CARRY_SUM_BUFFERS, 0, 128}, {ADDER_ATOMS, 128, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(int(c.form));
    auto work = make_cell_adder(128);
    KAVU_TRACK(work);
    ASSERT_KAVU_EQUIVALENT(golden, work);
    if (c.form == GATES) {
      EXPECT_TRUE(kavu_unmap_netlist(work.get(), true, true, true, false, false, false, false));
    } else {
      KAVU_WYSIWYG_UNMAPPER u(c.form == CARRY_SUM_BUFFERS, false, false, false, KAVU_LUT_UNMAPPER::FACTORED, true,
                              false, DEV_FAMILY_ENUM(68));
      u.configure(c.form == CARRY_SUM_BUFFERS, false, false, false, c.form == ADDER_ATOMS);
      unmap_each_atom(work.get(), &u);
    }
    EXPECT_EQ(count_atoms(work.get()), c.atoms_left);
    EXPECT_EQ(count_type(work.get(), CDB_SGATE_CARRY_SUM_ENUM), c.carry_sums);
    ASSERT_KAVU_EQUIVALENT(golden, work);
  }
}
