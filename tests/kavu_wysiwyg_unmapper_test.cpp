// The WYSIWYG unmapper: every logic-cell mode against the cell rule over all
// its inputs, the flip-flop unmaps, missing connections, the adder-bit test,
// and real circuits packed into device atoms and unmapped back.
#include <array>
#include <fstream>
#include <list>
#include <memory>
#include <random>

#include "cdb/cdb_atom_catalogue.h"
#include "kavu_setup.h"
#include "kavu_wiring_helper.h"
#include "kavu_wysiwyg_unmapper.h"
#include "kavu_wysiwyg_unmapper_int.h"
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

namespace {

// One logic cell over nine input pins x0..x8 (a..g, carry in, shared in),
// each listed output read by a pin "o<port>".
struct CELL_CIRCUIT {
  CDB_SGATE_NETLIST nl;
  std::vector<CDB_SGATE_NODE*> pins;
  CDB_SGATE_WYSIWYG* cell;

  CELL_CIRCUIT(CDB_WYSIWYG_TYPE type, uint64_t mask, std::initializer_list<unsigned> modes,
               const std::vector<DB_OUTPUT_PORT_TYPE>& outputs) {
    const DB_INPUT_PORT_TYPE ports[9] = {12, 13, 14, 15, 16, 17, 18, DB_PORT_CIN, DB_PORT_SHAREIN};
    for (unsigned k = 0; k < 9; ++k) pins.push_back(make_input_pin(&nl, ("x" + std::to_string(k)).c_str()));
    cell = new CDB_SGATE_WYSIWYG(pins[0]->get_instance_name(), type);
    nl.add_node(cell, true);
    for (unsigned k = 0; k < 9; ++k) pins[k]->get_output_term(0)->insert_fanout(atom_in(cell, ports[k]));
    cell->set_lutmask_value(mask);
    for (unsigned m : modes) cell->set_mode(m);
    for (DB_OUTPUT_PORT_TYPE port : outputs) output_from(&nl, ("o" + std::to_string(port)).c_str(), atom_out(cell, port));
  }
};

// Runs both netlists over all 512 input combinations; true when every output agrees.
bool same_over_all_inputs(CELL_CIRCUIT& a, CELL_CIRCUIT& b, std::string* why) {
  NETLIST_SIMULATOR sa(&a.nl), sb(&b.nl);
  if (!sa.ok() || !sb.ok()) return *why = sa.error() + sb.error(), false;
  std::vector<CDB_SGATE_NODE*> outs_a(a.nl.get_output_pins().begin(), a.nl.get_output_pins().end());
  std::vector<CDB_SGATE_NODE*> outs_b(b.nl.get_output_pins().begin(), b.nl.get_output_pins().end());
  for (unsigned w = 0; w < 8; ++w) {
    for (unsigned k = 0; k < 9; ++k) {
      const uint64_t word = k < 6 ? CDB_LUTMASK::imask(6, k).get_value() : ((w >> (k - 6)) & 1 ? ~0ull : 0);
      sa.set_input(a.pins[k], word);
      sb.set_input(b.pins[k], word);
    }
    sa.eval();
    sb.eval();
    for (size_t o = 0; o < outs_a.size(); ++o)
      if (sa.output(outs_a[o]) != sb.output(outs_b[o]))
        return *why = "output " + std::to_string(o) + " word " + std::to_string(w), false;
  }
  return true;
}

}  // namespace

// Every logic-cell mode, unmapped by each form, against the cell itself over
// all its inputs: extended mode (g reaching only the e = 1 LUTs), the shared
// output, arithmetic with and without the shared input, carry-sum buffers,
// adder atoms, and kind 93's combinational output.
TEST(KavuWysiwygUnmapper, EveryCellModeKeepsItsFunctionInEveryForm) {
  const std::vector<DB_OUTPUT_PORT_TYPE> all = {DB_PORT_COMBOUT, DB_PORT_SHAREOUT, DB_PORT_SUMOUT, DB_PORT_COUT};
  const struct {
    CDB_WYSIWYG_TYPE type;
    std::initializer_list<unsigned> modes;
    std::vector<DB_OUTPUT_PORT_TYPE> outputs;
    ADDER_FORM form;
    int luts, muxes;  // before the LUTs and muxes are unmapped (preserved)
  } cases[] = {
      {61, {}, all, GATES, 4, 0},
      {61, {}, {DB_PORT_COUT}, CARRY_SUM_BUFFERS, 2, 0},
      {61, {}, {DB_PORT_SUMOUT, DB_PORT_COUT}, ADDER_ATOMS, 2, 0},
      {61, {CDB_WYSIWYG_EXTENDED_LUT}, {DB_PORT_COMBOUT}, GATES, 4, 3},
      {61, {CDB_WYSIWYG_EXTENDED_LUT}, all, CARRY_SUM_BUFFERS, 7, 3},
      {61, {CDB_WYSIWYG_SHARED_ARITH}, {DB_PORT_SUMOUT, DB_PORT_COUT, DB_PORT_SHAREOUT}, GATES, 2, 0},
      {61, {CDB_WYSIWYG_SHARED_ARITH}, {DB_PORT_SUMOUT, DB_PORT_COUT}, ADDER_ATOMS, 1, 0},
      {61, {CDB_WYSIWYG_SHARED_ARITH, CDB_WYSIWYG_EXTENDED_LUT}, all, GATES, 6, 3},
      {93, {}, {DB_PORT_COMBOUT}, GATES, 1, 0},
  };
  std::mt19937_64 rng(18);
  for (const auto& c : cases) {
    for (bool preserve : {true, false}) {
      SCOPED_TRACE(std::to_string(c.type) + " modes " + std::to_string(c.modes.size()) + " form " +
                   std::to_string(int(c.form)) + (preserve ? " preserved" : ""));
      const uint64_t mask = rng();
      CELL_CIRCUIT golden(c.type, mask, c.modes, c.outputs);
      CELL_CIRCUIT work(c.type, mask, c.modes, c.outputs);
      KAVU_TRACK(work.nl);
      KAVU_WYSIWYG_UNMAPPER u(false, false, preserve, preserve, KAVU_LUT_UNMAPPER::FACTORED, true, false,
                              DEV_FAMILY_ENUM(68));
      u.configure(c.form == CARRY_SUM_BUFFERS, false, preserve, preserve, c.form == ADDER_ATOMS);
      ASSERT_TRUE(u.unmapper_available(work.cell));
      unmap_each_atom(&work.nl, &u);
      if (preserve) {
        EXPECT_EQ(count_type(&work.nl, CDB_SGATE_LUT_ENUM), c.luts);
        EXPECT_EQ(count_type(&work.nl, CDB_SGATE_MUX_ENUM), c.muxes);
      }
      EXPECT_EQ(count_atoms(&work.nl), c.form == ADDER_ATOMS ? 1 : 0);
      std::string why;
      EXPECT_TRUE(same_over_all_inputs(golden, work, &why)) << why;
      if (!preserve) {
        ASSERT_KAVU_EQUIVALENT(golden.nl, work.nl);
      }
    }
  }
}

// The adder atom that takes over a cell's arithmetic is of type 10011 for
// cells of types 10363, 10328 and 10011, of type 10498 for every other cell
// type; the unmapped cell (kind 61) computes what the cell did.
TEST(KavuWysiwygUnmapper, AdderAtomTypeFollowsTheCellType) {
  const struct {
    CDB_WYSIWYG_TYPE cell, adder;
  } types[] = {{10328, 10011}, {10363, 10011}, {10011, 10011}, {61, 10498},
               {10327, 10498}, {10329, 10498}, {10401, 10498}, {10498, 10498}};
  for (const auto& t : types) EXPECT_EQ(wys_unmap_adder_type(t.cell), t.adder) << t.cell;
  const uint64_t mask = std::mt19937_64(19)();
  CELL_CIRCUIT golden(61, mask, {}, {DB_PORT_SUMOUT, DB_PORT_COUT});
  CELL_CIRCUIT work(61, mask, {}, {DB_PORT_SUMOUT, DB_PORT_COUT});
  KAVU_TRACK(work.nl);
  KAVU_WYSIWYG_UNMAPPER u(false, false, false, false, KAVU_LUT_UNMAPPER::FACTORED, true, false, DEV_FAMILY_ENUM(68));
  u.configure(false, false, false, false, true);
  unmap_each_atom(&work.nl, &u);
  std::vector<CDB_WYSIWYG_TYPE> atoms;
  for (auto it = work.nl.begin_node_list(); it != work.nl.end_node_list(); ++it)
    if (*it && (*it)->is_wysiwyg()) atoms.push_back((*it)->cast_to_wysiwyg()->get_wysiwyg_type());
  EXPECT_EQ(atoms, std::vector<CDB_WYSIWYG_TYPE>{wys_unmap_adder_type(61)});
  std::string why;
  EXPECT_TRUE(same_over_all_inputs(golden, work, &why)) << why;
}

namespace {

enum FF_PIN { P_DATA, P_CLK, P_ENA, P_SCLR, P_SCLR2, P_SLOAD, P_ASDATA, P_ACLR, P_ALOAD, P_COUNT };
constexpr DB_INPUT_PORT_TYPE FF_PORTS[P_COUNT] = {DB_PORT_DATAIN, DB_PORT_CLK,    DB_PORT_ENA,
                                                  DB_PORT_SCLR,   DB_PORT_SCLR2,  DB_PORT_SLOAD,
                                                  DB_PORT_ASDATA, DB_PORT_ACLR,   DB_PORT_ALOAD};
enum { SIGNAL = 2, TIE_VCC = 1, TIE_GND = 0, OPEN = -1 };

// One flip-flop atom; each port a pin of its own, a tie, or unconnected; q
// feeds an output pin and, through an XOR with the data pin, the data of a
// second plain register, so the state is observed over cycles.
struct FF_CIRCUIT {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_WYSIWYG* ff;
  FF_CIRCUIT(CDB_WYSIWYG_TYPE type, const std::array<int, P_COUNT>& wiring) {
    ff = new CDB_SGATE_WYSIWYG(make_input_pin(&nl, "clk")->get_instance_name(), type);
    nl.add_node(ff, true);
    for (unsigned k = 0; k < P_COUNT; ++k) {
      if (wiring[k] == OPEN) continue;
      CDB_SGATE_ITERM* t = atom_in(ff, FF_PORTS[k]);
      if (wiring[k] == TIE_VCC) t->set_vcc();
      else if (wiring[k] == TIE_GND) t->set_gnd();
      else make_input_pin(&nl, ("p" + std::to_string(k)).c_str())->get_output_term(0)->insert_fanout(t);
    }
    CDB_SGATE_OTERM* q = atom_out(ff, DB_PORT_REGOUT);
    q->set_instance_name(ff->get_instance_name());
    output_from(&nl, "q", q);
  }
  int nodes() const {
    int n = 0;
    for (auto it = nl.begin_node_list(); it != nl.end_node_list(); ++it) n += *it != nullptr;
    return n;
  }
};

}  // namespace

// Flip-flop unmaps: the D path folds clear and load, a load tied to VCC
// takes the asynchronous data, a second clear is ORed in or moved onto the
// first, asynchronous controls stay on the DFF; the report writes one line.
TEST(KavuWysiwygUnmapper, FlipFlopsKeepTheirBehaviour) {
  const struct {
    CDB_WYSIWYG_TYPE type;
    std::array<int, P_COUNT> wiring;  // data clk ena sclr sclr2 sload asdata aclr aload
    int new_nodes;                     // with muxes preserved
  } cases[] = {
      {62, {SIGNAL, SIGNAL, OPEN, SIGNAL, OPEN, OPEN, OPEN, OPEN, OPEN}, 2},
      {62, {SIGNAL, SIGNAL, SIGNAL, SIGNAL, OPEN, SIGNAL, SIGNAL, OPEN, OPEN}, 3},
      {62, {SIGNAL, SIGNAL, SIGNAL, TIE_GND, OPEN, TIE_VCC, SIGNAL, TIE_GND, OPEN}, 2},
      {62, {OPEN, SIGNAL, TIE_VCC, TIE_VCC, OPEN, OPEN, OPEN, OPEN, OPEN}, 2},
      {94, {SIGNAL, SIGNAL, SIGNAL, SIGNAL, SIGNAL, TIE_GND, OPEN, OPEN, OPEN}, 3},
      {115, {SIGNAL, SIGNAL, SIGNAL, OPEN, SIGNAL, OPEN, OPEN, OPEN, OPEN}, 2},
      {115, {SIGNAL, SIGNAL, OPEN, TIE_GND, SIGNAL, OPEN, OPEN, OPEN, OPEN}, 2},
      {62, {SIGNAL, SIGNAL, SIGNAL, OPEN, OPEN, OPEN, SIGNAL, SIGNAL, SIGNAL}, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(int(&c - cases)));
    FF_CIRCUIT golden(c.type, c.wiring);
    FF_CIRCUIT work(c.type, c.wiring);
    KAVU_TRACK(work.nl);
    KAVU_WYSIWYG_UNMAPPER u(false, false, true, true, KAVU_LUT_UNMAPPER::FACTORED, true, false, DEV_FAMILY_ENUM(68));
    const int before = work.nodes();
    {
      std::orlind_ofstream report("ff_report.txt");
      NODE_LIST nodes;
      ASSERT_TRUE(u.unmap_wysiwyg(work.ff, &nodes, &report));
      EXPECT_EQ(int(nodes.size()), c.new_nodes);
      work.nl.delete_node(work.ff);
      delete work.ff;
      for (CDB_SGATE_NODE* n : nodes) work.nl.add_node(n, true);
    }
    EXPECT_EQ(work.nodes(), before - 1 + c.new_nodes);
    std::ifstream in("ff_report.txt");
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_NE(line.find("top|clk\t\ttop|clk\t\tPORT_4\t\tff_"), std::string::npos) << "[" << line << "]";
    kavu_unmap_netlist(&work.nl, false, true, true, false, false, false, false);
    ASSERT_KAVU_EQUIVALENT(golden.nl, work.nl);
  }
}

// A required port without a connection posts 286001 naming the atom and the
// port and fails through the caller; the netlist stays exactly as it was
// (the process once ended here, leaving it half edited).
TEST(KavuWysiwygUnmapper, MissingRequiredPortFailsAndLeavesTheNetlist) {
  const struct {
    const char* port;
    bool extended_cell;
  } cases[] = {{"CLK", false}, {"DATAF", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.port);
    msg_log_clear();
    std::unique_ptr<FF_CIRCUIT> ff;
    std::unique_ptr<CELL_CIRCUIT> cell;
    CDB_SGATE_NETLIST* nl;
    CDB_SGATE_WYSIWYG* atom;
    if (c.extended_cell) {
      cell = std::make_unique<CELL_CIRCUIT>(61, 0x123456789ABCDEF0ull, std::initializer_list<unsigned>{CDB_WYSIWYG_EXTENDED_LUT},
                                            std::vector<DB_OUTPUT_PORT_TYPE>{DB_PORT_COMBOUT});
      cell->cell->get_iterm_by_type(DB_PORT_DATAF)->disconnect_from_source();
      nl = &cell->nl, atom = cell->cell;
    } else {
      ff = std::make_unique<FF_CIRCUIT>(62, std::array<int, P_COUNT>{SIGNAL, OPEN, SIGNAL, SIGNAL, OPEN, OPEN, OPEN, OPEN, OPEN});
      nl = &ff->nl, atom = ff->ff;
    }
    // A LUT the driver would unmap too.
    CDB_SGATE_NODE* pin = make_input_pin(nl, "extra");
    make_output_pin(nl, "extra_out", make_lut(nl, {pin, pin}, 0x6));
    const int nodes = int(nl->size());
    KAVU_WYSIWYG_UNMAPPER u(false, false, false, false, KAVU_LUT_UNMAPPER::FACTORED, true, false, DEV_FAMILY_ENUM(68));
    NODE_LIST list;
    EXPECT_FALSE(u.unmap_wysiwyg(atom, &list, nullptr));
    EXPECT_TRUE(list.empty());
    EXPECT_FALSE(kavu_unmap_netlist(nl, true, true, true, false, false, false, false));
    EXPECT_EQ(int(nl->size()), nodes);
    EXPECT_EQ(count_atoms(nl), 1);
    EXPECT_EQ(count_type(nl, CDB_SGATE_LUT_ENUM), 1);
    EXPECT_TRUE(atom->has_fanout());
    ASSERT_EQ(msg_log_count(286001), 2);
    const auto entry = msg_log_find(286001);
    EXPECT_NE(entry->text.find(c.port), std::string::npos) << entry->text;
    EXPECT_NE(entry->text.find("has missing connection on input port"), std::string::npos);
  }
}

// The adder-bit test and its normalisation: the addends move from d and f
// to a and b, a constant addend ties its input, node flag 4 marks a change.
TEST(KavuWysiwygUnmapper, AdderBitsAreRecognisedAndNormalised) {
  const struct {
    uint64_t cof0, cof2;
    bool extra_input;  // input c connected
    bool is_adder;
    uint64_t normalised;  // 0: not checked
  } cases[] = {
      {0xFF00, 0xFF00, false, true, 0x0000CCCC0000AAAAull},
      {0x00FF, 0xFF00, false, true, 0x0000CCCC00005555ull},
      {0xFFFF, 0x00FF, false, true, 0x000033330000AAAAull},
      {0x0000, 0xFF00, false, true, 0x0000CCCC0000AAAAull},
      {0xF0F0, 0xFF00, false, false, 0},
      {0xFF00, 0xFF00, true, false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(int(&c - cases)));
    CDB_SGATE_NETLIST nl;
    CDB_SGATE_WYSIWYG* cell = new CDB_SGATE_WYSIWYG(make_input_pin(&nl, "d")->get_instance_name(), 61);
    nl.add_node(cell, true);
    CDB_SGATE_NODE* d = make_input_pin(&nl, "dd");
    CDB_SGATE_NODE* f = make_input_pin(&nl, "ff");
    d->get_output_term(0)->insert_fanout(atom_in(cell, DB_PORT_DATAD));
    f->get_output_term(0)->insert_fanout(atom_in(cell, DB_PORT_DATAF));
    make_input_pin(&nl, "ci")->get_output_term(0)->insert_fanout(atom_in(cell, DB_PORT_CIN));
    if (c.extra_input) atom_in(cell, DB_PORT_DATAC)->set_vcc();
    output_from(&nl, "s", atom_out(cell, DB_PORT_SUMOUT));
    cell->set_lutmask_value((c.cof2 << 32) | c.cof0);
    ASSERT_EQ(kavu_wys_is_an_adder_bit(cell, false), c.is_adder);
    if (!c.is_adder) continue;
    ASSERT_TRUE(kavu_wys_is_an_adder_bit(cell, true));
    EXPECT_EQ(cell->get_lutmask_value(), c.normalised);
    EXPECT_TRUE(cell->get_flag().test(4));
    const CDB_SGATE_ITERM* a = cell->get_iterm_by_type(DB_PORT_DATAA);
    if (c.cof0 == 0xFFFF || c.cof0 == 0) {
      EXPECT_EQ(a->is_vcc(), c.cof0 == 0xFFFF);
      EXPECT_FALSE(cdb_is_connected(cell->get_iterm_by_type(DB_PORT_DATAD)));
    } else {
      EXPECT_EQ(a->get_source(), d->get_output_term(0));
    }
    EXPECT_EQ(cell->get_iterm_by_type(DB_PORT_DATAB)->get_source(), f->get_output_term(0));
  }
}

// Unmapper state: the two LUT size limits raised for one unmap come back to
// their own values (both were once restored from one of them); a move leaves
// each unmapper owning its own BDD manager; the driver with every switch off
// changes nothing; mode 14 puts a logic-cell buffer behind the cell.
TEST(KavuWysiwygUnmapper, StateSwitchesAndProtection) {
  {
    CFG_SCOPE cfg{{"ftm_give_smt_lutmasks", "on"}, {"smt_lut_max_inputs", "4"}};
    const unsigned mask_inputs = CDB_LUTMASK::max_num_inputs, lut_inputs = CDB_SGATE_LUT::m_num_inputs;
    CDB_LUTMASK::max_num_inputs = 4;
    CDB_SGATE_LUT::m_num_inputs = 5;
    CELL_CIRCUIT c(61, 0xFEDCBA9876543210ull, {}, {DB_PORT_COMBOUT});
    KAVU_WYSIWYG_UNMAPPER u(false, false, true, true, KAVU_LUT_UNMAPPER::FACTORED, true, false, DEV_FAMILY_ENUM(68));
    NODE_LIST nodes;
    ASSERT_TRUE(u.unmap_wysiwyg(c.cell, &nodes, nullptr));
    ASSERT_EQ(nodes.size(), 1u);
    EXPECT_EQ(nodes.front()->cast_to_lut()->get_lut_mask().get_num_inputs(), 6u);
    EXPECT_EQ(CDB_LUTMASK::max_num_inputs, 4u);
    EXPECT_EQ(CDB_SGATE_LUT::m_num_inputs, 5u);
    CDB_LUTMASK::max_num_inputs = mask_inputs;
    CDB_SGATE_LUT::m_num_inputs = lut_inputs;
    for (CDB_SGATE_NODE* n : nodes) delete n;
  }
  {
    KAVU_WYSIWYG_UNMAPPER a(true, true, false, true, KAVU_LUT_UNMAPPER::FACTORED, true, true, DEV_FAMILY_ENUM(47));
    a.configure(true, true, false, true, true);
    a.get_lut_unmap_util()->initialize_bdd_manager(6, 1000, 1000, true);
    KAVU_WYSIWYG_UNMAPPER b(false, false, false, false, KAVU_LUT_UNMAPPER::FACTORED, false, false, DEV_FAMILY_ENUM(68));
    b = std::move(a);
    EXPECT_TRUE(b.get_insert_carry_sum_buffer() && b.get_insert_cascade_buffer() && b.get_create_adder());
    EXPECT_FALSE(b.get_preserve_lut());
    EXPECT_EQ(b.get_family(), DEV_FAMILY_ENUM(47));
    EXPECT_NE(b.get_lut_unmap_util()->get_bdd_manager(), a.get_lut_unmap_util()->get_bdd_manager());
  }
  {
    // A four-input architecture: a LUT heading a 4:1 mux stays a LUT unless
    // the key asks for it; LUTs flagged don't-unmap stay when asked.
    const unsigned mask_inputs = CDB_LUTMASK::max_num_inputs, lut_inputs = CDB_SGATE_LUT::m_num_inputs;
    CDB_LUTMASK::max_num_inputs = CDB_SGATE_LUT::m_num_inputs = 4;
    for (bool unmap_41 : {false, true}) {
      CFG_SCOPE cfg{{"kavu_wysiwyg_unmapper_unmap_41_mux_luts", unmap_41 ? "on" : "off"}};
      CELL_CIRCUIT c(61, 0xACF0, {}, {DB_PORT_COMBOUT});
      for (DB_INPUT_PORT_TYPE port : {DB_PORT_DATAE, DB_PORT_DATAF}) c.cell->get_iterm_by_type(port)->disconnect_from_source();
      KAVU_WYSIWYG_UNMAPPER u(false, false, false, false, KAVU_LUT_UNMAPPER::FACTORED, true, false, DEV_FAMILY_ENUM(68));
      NODE_LIST nodes;
      ASSERT_TRUE(u.unmap_wysiwyg(c.cell, &nodes, nullptr));
      int luts = 0;
      for (CDB_SGATE_NODE* n : nodes) luts += n->get_sgate_type() == CDB_SGATE_LUT_ENUM;
      EXPECT_EQ(luts, unmap_41 ? 0 : 1);
      for (CDB_SGATE_NODE* n : nodes) delete n;
    }
    CDB_LUTMASK::max_num_inputs = mask_inputs;
    CDB_SGATE_LUT::m_num_inputs = lut_inputs;
    for (bool skip : {true, false}) {
      CDB_SGATE_NETLIST nl;
      CDB_SGATE_NODE* x = make_input_pin(&nl, "x");
      CDB_SGATE_NODE* lut = make_lut(&nl, {x, make_input_pin(&nl, "y")}, 0x6);
      lut->set_flag_byte(CDB_KIND_BYTE, CDB_LUT_DONT_UNMAP);
      make_output_pin(&nl, "z", lut);
      EXPECT_EQ(kavu_unmap_netlist(&nl, false, true, false, false, false, false, skip), !skip);
      EXPECT_EQ(count_type(&nl, CDB_SGATE_LUT_ENUM), skip ? 1 : 0);
    }
  }
  {
    CELL_CIRCUIT golden(61, 0x0123456789ABCDEFull, {CDB_WYSIWYG_PROTECT_COMBOUT}, {DB_PORT_COMBOUT});
    CELL_CIRCUIT work(61, 0x0123456789ABCDEFull, {CDB_WYSIWYG_PROTECT_COMBOUT}, {DB_PORT_COMBOUT});
    KAVU_TRACK(work.nl);
    EXPECT_FALSE(kavu_unmap_netlist(&work.nl, false, false, false, false, false, false, false));
    EXPECT_EQ(count_atoms(&work.nl), 1);
    KAVU_WYSIWYG_UNMAPPER u(false, false, false, false, KAVU_LUT_UNMAPPER::FACTORED, true, false, DEV_FAMILY_ENUM(68));
    NODE_LIST nodes;
    u.protect_bidir_combout_to_pin(work.cell, &nodes);
    ASSERT_EQ(nodes.size(), 1u);
    EXPECT_EQ(nodes.front()->cast_to_buffer()->get_buffer_type(), CDB_BUFFER_LCELL);
    for (CDB_SGATE_NODE* n : nodes) work.nl.add_node(n, true);
    ASSERT_KAVU_EQUIVALENT(golden.nl, work.nl);
  }
}
