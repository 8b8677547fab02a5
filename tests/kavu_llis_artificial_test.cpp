// Artificial FIBs and new-node bookkeeping: name buffers inserted behind MAC
// and RAM blocks of real circuits and removed after a stand-in technology
// mapping, with the function kept throughout; naming, destination choice,
// inversion folding and the refused cases on small netlists; the new nodes
// of a design with old ids; the new-node statistics.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "cdb/cdb_sgate_hierarchy.h"
#include "cdb/cdb_sgate_wysiwyg.h"
#include "hdb/hdb.h"
#include "kavu_dff_helper.h"
#include "kavu_llis.h"
#include "kavu_llis_artificial.h"
#include "netlist_io/simulator.h"
#include "platform_testkit.h"
#include "platform_test_hooks.h"

using namespace kavu_platform;

namespace {

const int MAC_ATOM = 95, RAM_ATOM = 96, OPEN_RAM_ATOM = 64, DDIO_OUT_ATOM = 10610, GENERIC_ATOM = 4242;

HDB_INSTANCE_NAME* top_name(const char* text) {
  HDB_INSTANCE_NAME* top = HDB_INSTANCE_NAME::create_normal_name(hdb_default_namespace(), "top", nullptr, nullptr, nullptr);
  return HDB_INSTANCE_NAME::create_normal_name(nullptr, text, nullptr, nullptr, top);
}

template <class G>
G* named(G* gate, const char* text) {
  gate->set_instance_name(top_name(text));
  if (CDB_SGATE_OTERM* o = gate->get_single_oterm()) o->set_instance_name(top_name(text));
  return gate;
}

CDB_SGATE_ITERM* atom_in(CDB_SGATE_WYSIWYG* atom, unsigned port, unsigned bit) {
  const unsigned slot = atom->get_input_port_number(DB_INPUT_PORT_TYPE(port)) + bit;
  if (slot < atom->get_number_of_input_terms() && atom->get_input_term(slot)) return atom->get_input_term(slot);
  CDB_SGATE_ITERM* t = atom->create_input_term(nullptr, DB_INPUT_PORT_TYPE(port));
  t->set_port_index(bit);
  atom->set_input_term(t, slot);
  return t;
}

CDB_SGATE_OTERM* atom_out(CDB_SGATE_WYSIWYG* atom, unsigned port, unsigned bit) {
  const unsigned slot = atom->get_output_port_number(DB_OUTPUT_PORT_TYPE(port)) + bit;
  if (slot < atom->get_output_count() && atom->get_output_term(slot)) return atom->get_output_term(slot);
  auto* o = new CDB_SGATE_OTERM(atom);
  o->set_port_type(DB_OUTPUT_PORT_TYPE(port));
  o->set_port_index(bit);
  atom->set_output_term(o, slot);
  return o;
}

CDB_SGATE_WYSIWYG* add_atom(CDB_SGATE_NETLIST* nl, int type, const char* name) {
  CDB_SGATE_WYSIWYG* a = type == RAM_ATOM || type == OPEN_RAM_ATOM
                             ? new CDB_SGATE_WYSIWYG_RAM_BLOCK(top_name(name), CDB_WYSIWYG_TYPE(type))
                             : new CDB_SGATE_WYSIWYG(top_name(name), CDB_WYSIWYG_TYPE(type));
  nl->add_node(a);
  return a;
}

CDB_SGATE_NODE* xor_lut(CDB_SGATE_NETLIST* nl, CDB_SGATE_OTERM* a, CDB_SGATE_NODE* b, const char* name) {
  CDB_LUTMASK mask;
  mask.set_value(2, 0x6);
  auto* lut = named(new CDB_SGATE_LUT(nullptr, mask), name);
  nl->add_node(lut);
  for (unsigned i = 0; i < 2; ++i) lut->set_input_term(lut->create_input_term(nullptr, DB_INPUT_PORT_TYPE(12 + i)), i);
  a->insert_fanout(lut->get_input_term(0));
  b->get_single_oterm()->insert_fanout(lut->get_input_term(1));
  return lut;
}

std::vector<CDB_SGATE_NODE*> registers_of(CDB_SGATE_NETLIST* nl) {
  std::vector<CDB_SGATE_NODE*> regs;
  for (CDB_SGATE_NODE* n : nl->get_node_list())
    if (n && n->get_sgate_type() == CDB_SGATE_DFF_ENUM) regs.push_back(n);
  return regs;
}

// A MAC block multiplying three register bits by three others and a RAM
// block written from registers, both observed through named LUTs; one MAC
// bit also feeds a new register and one RAM bit the MAC, so those sources
// have several sinks. The same construction on every copy of a design.
void add_blocks(CDB_SGATE_NETLIST* nl) {
  std::vector<CDB_SGATE_NODE*> regs = registers_of(nl);
  ASSERT_GE(regs.size(), 6u);
  CDB_SGATE_OTERM* clk = kavu_get_dff_clock(regs[0])->get_source();
  CDB_SGATE_WYSIWYG* mac = add_atom(nl, MAC_ATOM, "mac");
  CDB_SGATE_WYSIWYG* ram = add_atom(nl, RAM_ATOM, "ram");
  for (unsigned b = 0; b < 3; ++b) {
    regs[b]->get_single_oterm()->insert_fanout(atom_in(mac, 408, b));
    regs[3 + b]->get_single_oterm()->insert_fanout(atom_in(mac, 409, b));
  }
  clk->insert_fanout(atom_in(ram, 35, 0));
  regs[0]->get_single_oterm()->insert_fanout(atom_in(ram, 83, 0));
  for (unsigned b = 0; b < 2; ++b) {
    regs[1 + b]->get_single_oterm()->insert_fanout(atom_in(ram, 88, b));
    regs[3 + b]->get_single_oterm()->insert_fanout(atom_in(ram, 89, b));
  }
  atom_out(ram, 41, 0)->insert_fanout(atom_in(mac, 410, 0));
  const std::string names[] = {"mx0", "mx1", "mx2", "mx3", "rx0", "rx1"};
  for (unsigned b = 0; b < 6; ++b) {
    CDB_SGATE_OTERM* src = b < 4 ? atom_out(mac, 363, b) : atom_out(ram, 41, b - 4);
    CDB_SGATE_NODE* lut = xor_lut(nl, src, regs[b], names[b].c_str());
    make_output_pin(nl, ("o_" + names[b]).c_str(), lut);
  }
  CDB_SGATE_NODE* reg = named(make_dff(nl, nullptr, clk->get_my_node()), "mreg");
  atom_out(mac, 363, 0)->insert_fanout(kavu_get_dff_data(reg));
  make_output_pin(nl, "o_mreg", reg);
  make_output_pin(nl, "o_mb0", xor_lut(nl, atom_out(mac, 364, 0), regs[0], "mb0"));
}

std::vector<CDB_SGATE_NODE*> name_buffers(CDB_SGATE_NETLIST* nl) {
  std::vector<CDB_SGATE_NODE*> out;
  for (CDB_SGATE_NODE* n : nl->get_node_list())
    if (n && kavu_is_llis_name_buffer(n)) out.push_back(n);
  return out;
}

// What technology mapping makes of a name buffer: a one-input wire LUT that
// keeps the buffer's name and is marked don't-touch.
void map_name_buffers(CDB_SGATE_NETLIST* nl) {
  for (CDB_SGATE_NODE* b : name_buffers(nl)) {
    CDB_LUTMASK mask;
    mask.set_value(1, 0x2);
    auto* lut = new CDB_SGATE_LUT(b->get_instance_name(), mask);
    lut->set_input_term(lut->create_input_term(nullptr, DB_INPUT_PORT_TYPE(12)), 0);
    nl->add_node(lut);
    lut->get_single_oterm()->set_instance_name(b->get_single_oterm()->get_instance_name());
    lut->set_flag_byte(CDB_KIND_BYTE, CDB_LUT_DONT_TOUCH);
    lut->get_single_oterm()->adopt_fanouts(b->get_single_oterm(), false);
    b->get_single_iterm()->get_source()->insert_fanout(lut->get_input_term(0));
  }
  nl->sweep(false);
}

int count_named_llis(CDB_SGATE_NETLIST* nl) {
  int n = 0;
  for (CDB_SGATE_NODE* g : nl->get_node_list())
    if (g && g->get_instance_name() && g->get_instance_name()->get_short_hpath(2).find("~llis") != std::string::npos) ++n;
  return n;
}

}  // namespace

// ---------------------------------------------------------------- real circuits

// Name buffers go behind every block output and (second pass) on the
// single-fan-out nets between unnamed gates; the function is kept after
// insertion, after mapping and after removal, and removal restores the gate
// count once the bypassed LUTs are swept.
TEST(KavuLlisArtificial, InsertMapAndRemoveKeepRealCircuitsEquivalent) {
  CFG_SCOPE cfg{{"llis_insert_artificial_fibs", "on"}};
  for (const char* design : {"small/counter8_lut4", "small/crc8_lut4", "small/lfsr16_lut4"}) {
    for (bool with_blocks : {false, true}) {
      SCOPED_TRACE(std::string(design) + (with_blocks ? " with blocks" : ""));
      LOADED_NETLIST golden = load_blif(design);
      LOADED_NETLIST nl = load_blif(design);
      if (with_blocks) {
        add_blocks(golden.get());
        add_blocks(nl.get());
      }
      KAVU_TRACK(nl);
      golden->sweep(false);
      nl->sweep(false);
      const unsigned before = nl->size();

      const int inserted = kavu_llis_insert_artificial_fibs(nl.get());
      const std::vector<CDB_SGATE_NODE*> buffers = name_buffers(nl.get());
      EXPECT_GT(inserted, 0);
      EXPECT_EQ(int(buffers.size()), inserted);
      EXPECT_EQ(nl->size(), before + unsigned(inserted));
      if (with_blocks) {
        // A block output drives nothing but its name buffer.
        for (CDB_SGATE_NODE* n : nl->get_node_list()) {
          if (!n || !n->is_wysiwyg()) continue;
          for (CDB_SGATE_OTERM* o : n->get_output_terms()) {
            if (!o || !o->has_fanout()) continue;
            EXPECT_EQ(o->get_number_of_fanout(), 1u) << n->get_debug_name();
            EXPECT_TRUE(kavu_is_llis_name_buffer(o->get_first_fanout()->get_my_node())) << n->get_debug_name();
          }
        }
      }
      ASSERT_KAVU_EQUIVALENT(golden, nl);
      EXPECT_EQ(kavu_llis_insert_artificial_fibs(nl.get()), 0) << "a second run buffers a name buffer again";

      map_name_buffers(nl.get());
      ASSERT_KAVU_EQUIVALENT(golden, nl);
      EXPECT_EQ(kavu_llis_remove_artificial_fibs(nl.get()), inserted);
      for (CDB_SGATE_NODE* n : nl->get_node_list()) {
        if (n && n->get_sgate_type() == CDB_SGATE_LUT_ENUM) {
          EXPECT_FALSE(n->get_flag_byte(CDB_KIND_BYTE) & CDB_LUT_DONT_TOUCH) << n->get_debug_name();
        }
      }
      nl->sweep(false);
      EXPECT_EQ(count_named_llis(nl.get()), 0);
      EXPECT_EQ(nl->size(), golden->size());
      ASSERT_KAVU_EQUIVALENT(golden, nl);
    }
  }
}

// ---------------------------------------------------------------- naming and destination choice

// One RAM output feeding the destinations of each row, created in the order
// given (so earlier ones have lower ids): the buffer takes every fan-out and
// is named after the chosen destination.
TEST(KavuLlisArtificial, BufferIsNamedAfterTheChosenDestination) {
  CFG_SCOPE cfg{{"llis_insert_artificial_fibs", "on"}};
  enum DEST { AND0, LUT1, MAC_AX1, RAM_PORT34, REG_DATA };
  struct CASE {
    const char* what;
    std::vector<DEST> dests;
    const char* expected;
  };
  const CASE cases[] = {
      {"generic comb input: port and literal index", {AND0}, "top|g~I0_L0~llis"},
      {"LUT input: port name and bit", {LUT1}, "top|l~DATAB[0]~llis"},
      {"register data input", {REG_DATA}, "top|r~DATAIN[0]~llis"},
      {"MAC preferred over an earlier LUT", {LUT1, MAC_AX1}, "top|m~DATA_AX[1]~llis"},
      {"MAC preferred over a later LUT", {MAC_AX1, LUT1}, "top|m~DATA_AX[1]~llis"},
      {"lower kind wins between unpreferred", {LUT1, AND0}, "top|g~I0_L0~llis"},
      {"RAM naming port: the RAM's logical name", {LUT1, RAM_PORT34}, "top|mem~PORT_34~llis"},
  };
  for (const CASE& c : cases) {
    SCOPED_TRACE(c.what);
    hdb_reset();  // each row starts with no buffer names taken
    CDB_SGATE_NETLIST nl;
    KAVU_TRACK(nl);
    CDB_SGATE_NODE* b = make_input_pin(&nl, "b");
    CDB_SGATE_WYSIWYG* ram = add_atom(&nl, RAM_ATOM, "ram");
    CDB_SGATE_OTERM* src = atom_out(ram, 41, 0);
    for (DEST d : c.dests) {
      switch (d) {
        case AND0: {
          auto* g = named(new CDB_SGATE_COMB(nullptr, CDB_COMB_AND), "g");
          nl.add_node(g);
          g->add_unordered_fanin_from_oterm(nullptr, false, src);
          g->add_unordered_fanin_from_oterm(nullptr, false, b->get_single_oterm());
          break;
        }
        case LUT1: {
          CDB_SGATE_NODE* l = xor_lut(&nl, b->get_single_oterm(), b, "l");
          src->insert_fanout(l->get_input_term(1));
          break;
        }
        case MAC_AX1:
          src->insert_fanout(atom_in(add_atom(&nl, MAC_ATOM, "m"), 408, 1));
          break;
        case RAM_PORT34: {
          CDB_SGATE_WYSIWYG* r2 = add_atom(&nl, OPEN_RAM_ATOM, "r2");
          r2->cast_to_wysiwyg_ram_block()->set_logical_name(0, top_name("mem"));
          src->insert_fanout(atom_in(r2, 34, 0));
          break;
        }
        case REG_DATA:
          src->insert_fanout(kavu_get_dff_data(named(make_dff(&nl, b, b), "r")));
          break;
      }
    }
    const unsigned sinks = src->get_number_of_fanout();
    ASSERT_EQ(kavu_llis_insert_artificial_fibs(&nl), 1);
    ASSERT_EQ(src->get_number_of_fanout(), 1u);
    CDB_SGATE_NODE* buf = src->get_first_fanout()->get_my_node();
    ASSERT_TRUE(kavu_is_llis_name_buffer(buf));
    EXPECT_EQ(buf->get_instance_name()->get_short_hpath(0), c.expected);
    EXPECT_EQ(buf->get_single_oterm()->get_instance_name(), buf->get_instance_name());
    EXPECT_EQ(buf->get_single_oterm()->get_number_of_fanout(), sinks);
  }
}

// ---------------------------------------------------------------- sources that cannot be FIBs

// A latch (no FIB kind) reaches a register through an OR gate whose only
// input is inverted. On the data input the register moves onto the buffer
// with the inversion folded into its own flag, the OR keeps reading the
// latch, and the register may no longer be pruned; on the clock input
// nothing changes.
TEST(KavuLlisArtificial, NonFibSourceThroughInvertedPassThrough) {
  CFG_SCOPE cfg{{"llis_insert_artificial_fibs", "on"}};
  for (bool on_clock : {false, true}) {
    SCOPED_TRACE(on_clock ? "clock input" : "data input");
    auto build = [&](CDB_SGATE_NETLIST* nl, CDB_SGATE_NODE** reg, CDB_SGATE_NODE** orgate, CDB_SGATE_NODE** lat) {
      CDB_SGATE_NODE* a = make_input_pin(nl, "a");
      CDB_SGATE_NODE* en = make_input_pin(nl, "en");
      CDB_SGATE_NODE* c = make_input_pin(nl, "c");
      *lat = named(new CDB_SGATE_LATCH(nullptr), "lat");
      nl->add_node(*lat);
      for (unsigned i = 0; i < 2; ++i) (*lat)->set_input_term((*lat)->create_input_term(nullptr), i);
      a->get_single_oterm()->insert_fanout((*lat)->get_input_term(0));
      en->get_single_oterm()->insert_fanout((*lat)->get_input_term(1));
      auto* o = named(new CDB_SGATE_COMB(nullptr, CDB_COMB_OR), "o");
      nl->add_node(o);
      o->add_unordered_fanin_from_oterm(nullptr, true, (*lat)->get_single_oterm());
      *orgate = o;
      *reg = named(on_clock ? make_dff(nl, c, o) : make_dff(nl, o, c), "r");
      make_output_pin(nl, "q", *reg);
    };
    CDB_SGATE_NETLIST golden, nl;
    CDB_SGATE_NODE *reg, *orgate, *lat;
    build(&golden, &reg, &orgate, &lat);
    build(&nl, &reg, &orgate, &lat);
    KAVU_TRACK(nl);
    const int inserted = kavu_llis_insert_artificial_fibs(&nl);
    CDB_SGATE_DFF* dff = reg->cast_to_dff();
    EXPECT_EQ(orgate->get_input_term(0)->get_source(), lat->get_single_oterm());
    if (on_clock) {
      EXPECT_EQ(inserted, 0);
      EXPECT_FALSE(dff->prune_allowed_is_set());
      continue;
    }
    ASSERT_EQ(inserted, 1);
    CDB_SGATE_ITERM* data = kavu_get_dff_data(reg);
    ASSERT_TRUE(data->get_source());
    CDB_SGATE_NODE* buf = data->get_source()->get_my_node();
    EXPECT_TRUE(kavu_is_llis_name_buffer(buf));
    EXPECT_EQ(buf->get_single_iterm()->get_source(), lat->get_single_oterm());
    EXPECT_TRUE(data->is_inverted());
    EXPECT_EQ(buf->get_instance_name()->get_short_hpath(0), "top|lat~~llis");
    // Regression: a source that cannot be a FIB on a register's data input
    // forbids pruning of that register.
    EXPECT_TRUE(dff->prune_allowed_is_set());
    EXPECT_FALSE(dff->prune_allowed());
    std::string why;
    EXPECT_TRUE(sim_equivalent(&golden, &nl, {}, &why)) << why;
  }
}

// A carry-sum cell passes input i to output i only. A latch on the carry
// input reaches the register on the carry output; the register on the sum
// output, whose input is tied, is named after the cell itself. Regression:
// walking in through any input and on through the first output moved the
// sum-output register onto the latch.
TEST(KavuLlisArtificial, CarrySumPassesEachInputToItsOwnOutput) {
  CFG_SCOPE cfg{{"llis_insert_artificial_fibs", "on"}};
  struct PARTS {
    CDB_SGATE_NODE *lat, *cs, *sum_reg, *carry_reg;
  };
  auto build = [](CDB_SGATE_NETLIST* nl) {
    PARTS p;
    CDB_SGATE_NODE* a = make_input_pin(nl, "a");
    CDB_SGATE_NODE* en = make_input_pin(nl, "en");
    CDB_SGATE_NODE* clk = make_input_pin(nl, "clk");
    p.lat = named(new CDB_SGATE_LATCH(nullptr), "lat");
    nl->add_node(p.lat);
    p.cs = named(new CDB_SGATE_CARRY_SUM(nullptr), "cs");
    nl->add_node(p.cs);
    for (unsigned i = 0; i < 2; ++i) {
      p.lat->set_input_term(p.lat->create_input_term(nullptr), i);
      p.cs->set_input_term(p.cs->create_input_term(nullptr), i);
    }
    a->get_single_oterm()->insert_fanout(p.lat->get_input_term(0));
    en->get_single_oterm()->insert_fanout(p.lat->get_input_term(1));
    p.cs->get_input_term(SUM_IN)->set_gnd();
    p.lat->get_single_oterm()->insert_fanout(p.cs->get_input_term(CARRY_IN));
    p.sum_reg = named(make_dff(nl, nullptr, clk), "rs");
    p.carry_reg = named(make_dff(nl, nullptr, clk), "rc");
    p.cs->get_output_term(0)->insert_fanout(kavu_get_dff_data(p.sum_reg));
    p.cs->get_output_term(1)->insert_fanout(kavu_get_dff_data(p.carry_reg));
    make_output_pin(nl, "qs", p.sum_reg);
    make_output_pin(nl, "qc", p.carry_reg);
    return p;
  };
  CDB_SGATE_NETLIST golden, nl;
  build(&golden);
  const PARTS p = build(&nl);
  KAVU_TRACK(nl);
  ASSERT_EQ(kavu_llis_insert_artificial_fibs(&nl), 2);
  const CDB_SGATE_NODE* sum_buf = kavu_get_dff_data(p.sum_reg)->get_source()->get_my_node();
  const CDB_SGATE_NODE* carry_buf = kavu_get_dff_data(p.carry_reg)->get_source()->get_my_node();
  ASSERT_NE(sum_buf, carry_buf);
  EXPECT_EQ(sum_buf->get_input_term(0)->get_source(), p.cs->get_output_term(0));
  EXPECT_EQ(carry_buf->get_input_term(0)->get_source(), p.lat->get_single_oterm());
  EXPECT_EQ(p.cs->get_input_term(CARRY_IN)->get_source(), p.lat->get_single_oterm());
  std::string why;
  EXPECT_TRUE(sim_equivalent(&golden, &nl, {}, &why)) << why;
}

// A device atom that cannot be a FIB feeding only a DDIO output register has
// no FIB sink to hand to a buffer: it is skipped (this used to be the
// internal error "iterms_to_buffer.size() >= 1"). With a LUT beside the
// DDIO register, the buffer takes the LUT only. With the key off nothing
// changes at all.
TEST(KavuLlisArtificial, SourcesWithoutFibSinksAndKeyOff) {
  struct CASE {
    const char* what;
    bool key_on, with_lut;
    int inserted;
  };
  for (const CASE& c : {CASE{"atom into DDIO only", true, false, 0}, CASE{"atom into DDIO and a LUT", true, true, 1},
                        CASE{"key off", false, true, 0}}) {
    SCOPED_TRACE(c.what);
    CFG_SCOPE cfg{{"llis_insert_artificial_fibs", c.key_on ? "on" : "off"}};
    CDB_SGATE_NETLIST nl;
    KAVU_TRACK(nl);
    CDB_SGATE_NODE* b = make_input_pin(&nl, "b");
    CDB_SGATE_WYSIWYG* atom = add_atom(&nl, GENERIC_ATOM, "gen");
    ASSERT_EQ(atom->get_sgate_type(), CDB_SGATE_WYSIWYG_GENERIC_ENUM);
    CDB_SGATE_OTERM* src = atom_out(atom, 9, 0);
    CDB_SGATE_WYSIWYG* ddio = add_atom(&nl, DDIO_OUT_ATOM, "ddio");
    ASSERT_EQ(ddio->get_sgate_type(), CDB_SGATE_WYSIWYG_DDIO_OUT_ENUM);
    src->insert_fanout(atom_in(ddio, 20, 0));
    CDB_SGATE_NODE* lut = c.with_lut ? xor_lut(&nl, src, b, "l") : nullptr;
    const unsigned before = nl.size();
    EXPECT_EQ(kavu_llis_insert_artificial_fibs(&nl), c.inserted);
    EXPECT_EQ(nl.size(), before + unsigned(c.inserted));
    EXPECT_EQ(ddio->get_input_term(0)->get_source(), src);
    if (lut) {
      EXPECT_EQ(kavu_is_llis_name_buffer(lut->get_input_term(0)->get_source()->get_my_node()), c.inserted == 1);
    }
  }
}

// ---------------------------------------------------------------- removal

// A wire LUT named as a mapped name buffer is bypassed with its inversion and
// its output's inversion folded into the sinks; a LUT that is no wire, and
// a wire LUT without the name, are left alone.
TEST(KavuLlisArtificial, RemovalFoldsInversionsAndSkipsOtherLuts) {
  struct CASE {
    const char* what;
    const char* name;
    uint64_t mask;  // over (a, b); 0xa = a, 0x5 = !a, 0x6 = a ^ b
    bool out_inverted;
    bool bypassed;
    bool sink_inverted;
  };
  const CASE cases[] = {
      {"plain wire", "w~llis", 0xa, false, true, false},
      {"inverting wire", "w~llis", 0x5, false, true, true},
      {"wire with inverted output", "w~llis", 0xa, true, true, true},
      {"inverting wire, inverted output", "w~llis", 0x5, true, true, false},
      {"not a wire", "w~llis", 0x6, false, false, false},
      {"wire without the name", "w", 0xa, false, false, false},
  };
  for (const CASE& c : cases) {
    SCOPED_TRACE(c.what);
    auto build = [&](CDB_SGATE_NETLIST* nl) {
      CDB_SGATE_NODE* a = make_input_pin(nl, "a");
      CDB_SGATE_NODE* b = make_input_pin(nl, "b");
      CDB_SGATE_NODE* lut = c.mask == 0x6 ? make_lut(nl, {a, b}, c.mask) : make_lut(nl, {a}, c.mask & 3);
      lut->set_instance_name(top_name(c.name));
      lut->set_flag_byte(CDB_KIND_BYTE, CDB_LUT_DONT_TOUCH);
      if (c.out_inverted) lut->get_single_oterm()->set_invert();
      make_output_pin(nl, "y", lut);
      make_output_pin(nl, "z", make_and(nl, lut, b));
      return lut;
    };
    CDB_SGATE_NETLIST golden, nl;
    build(&golden);
    CDB_SGATE_NODE* lut = build(&nl);
    KAVU_TRACK(nl);
    EXPECT_EQ(kavu_llis_remove_artificial_fibs(&nl), std::string(c.name).find("~llis") != std::string::npos ? 1 : 0);
    EXPECT_FALSE(lut->get_flag_byte(CDB_KIND_BYTE) & CDB_LUT_DONT_TOUCH);
    EXPECT_EQ(lut->get_single_oterm()->has_fanout(), !c.bypassed);
    if (c.bypassed) {
      const CDB_SGATE_ITERM* y = nl.get_output_pins()[0]->get_input_term(0);
      EXPECT_EQ(y->get_source(), nl.get_input_pins()[0]->get_single_oterm());
      EXPECT_EQ(y->is_inverted(), c.sink_inverted);
    }
    nl.sweep(false);
    std::string why;
    EXPECT_TRUE(sim_equivalent(&golden, &nl, {}, &why)) << why;
  }
}

// ---------------------------------------------------------------- new nodes

namespace {

CDB_SGATE_IO_BUF* add_io_buf(CDB_SGATE_NETLIST* nl, CDB_IO_BUF_TYPE type, CDB_SGATE_NODE* src, const char* name) {
  auto* buf = named(new CDB_SGATE_IO_BUF(nullptr, type), name);
  nl->add_node(buf);
  buf->set_input_term(buf->create_input_term(nullptr), 0);
  if (src) src->get_single_oterm()->insert_fanout(buf->get_input_term(0));
  return buf;
}

std::set<CDB_SGATE_NODE*> as_set(std::vector<CDB_SGATE_NODE*>* v) {
  std::set<CDB_SGATE_NODE*> s(v->begin(), v->end());
  EXPECT_EQ(s.size(), v->size()) << "a gate listed twice";
  delete v;
  return s;
}

}  // namespace

// A real design whose gates are all old, with I/O buffers among them, and
// new registers next to those buffers: the new nodes are exactly the new
// gates, the pins (the I/O region stops at the first LUT or register) and
// the I/O buffers beside new registers with the gates on their far side.
// A gate whose id is an old id is never new, whatever its kind.
TEST(KavuLlisNewNodes, NewRelevantAndIoAdjacentGatesOfARealDesign) {
  LOADED_NETLIST nl = load_blif("small/crc8_lut4");
  KAVU_TRACK(nl);
  std::vector<CDB_SGATE_NODE*> regs = registers_of(nl.get()), luts;
  for (CDB_SGATE_NODE* n : nl->get_node_list())
    if (n && n->get_sgate_type() == CDB_SGATE_LUT_ENUM) luts.push_back(n);
  ASSERT_GE(luts.size(), 2u);
  CDB_SGATE_NODE* clk = kavu_get_dff_clock(regs[0])->get_source()->get_my_node();
  CDB_SGATE_IO_BUF* ibuf = add_io_buf(nl.get(), CDB_IO_BUF_TRI, luts[0], "ibuf");
  CDB_SGATE_IO_BUF* obuf = add_io_buf(nl.get(), CDB_IO_BUF_OPEN_DRAIN, nullptr, "obuf");
  CDB_SGATE_NODE* far = xor_lut(nl.get(), obuf->get_single_oterm(), regs[1], "far");
  make_output_pin(nl.get(), "o_far", far);

  KAVU_FIB_INFO info;
  for (CDB_SGATE_NODE* n : nl->get_node_list()) info.m_old_lutmapped_node_ids.insert(n->get_id());

  CDB_SGATE_NODE* n1 = named(make_dff(nl.get(), ibuf, clk), "n1");
  CDB_SGATE_NODE* n2 = named(make_dff(nl.get(), regs[2], clk), "n2");
  n2->get_single_oterm()->insert_fanout(obuf->get_input_term(0));
  CDB_SGATE_NODE* n3 = named(make_and(nl.get(), n1, n2), "n3");
  make_output_pin(nl.get(), "o_n3", n3);
  // Gates made now but carrying ids the previous compile used.
  for (CDB_SGATE_NODE* g : {make_or(nl.get(), n1, n2), make_dff(nl.get(), n3, clk), make_lut(nl.get(), {n1}, 1)})
    info.m_old_lutmapped_node_ids.insert(g->get_id());

  std::set<CDB_SGATE_NODE*> expected = {n1, n2, n3, ibuf, luts[0], obuf, far};
  for (CDB_SGATE_NODE* n : nl->get_node_list())
    if (n->get_sgate_type() == CDB_SGATE_IO_ENUM) expected.insert(n);
  DEBUG_CAPTURE cap("KAVU");
  EXPECT_EQ(as_set(info.get_new_nodes(nl.get())), expected);
  EXPECT_TRUE(cap.contains("Number of new nodes to synthesize: " + std::to_string(expected.size())));
}

// The region behind an output pin: a tri-state I/O buffer the previous
// compile had is left out while "llis_exclude_tristate_buffer_from_relevant_src_nodes"
// holds; an open-drain one, and a name keeper, are always entered; the walk
// stops at the LUT.
TEST(KavuLlisNewNodes, TriStateBufferExclusionInTheRegion) {
  struct CASE {
    CDB_IO_BUF_TYPE type;
    const char* key;
    bool buffer_relevant;
  };
  for (const CASE& c : {CASE{CDB_IO_BUF_TRI, "on", false}, CASE{CDB_IO_BUF_TRI, "off", true},
                        CASE{CDB_IO_BUF_OPEN_DRAIN, "on", true}}) {
    SCOPED_TRACE(std::string("type ") + std::to_string(int(c.type)) + " key " + c.key);
    CFG_SCOPE cfg{{"llis_exclude_tristate_buffer_from_relevant_src_nodes", c.key}};
    CDB_SGATE_NETLIST nl;
    KAVU_TRACK(nl);
    CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
    CDB_SGATE_NODE* lut = make_lut(&nl, {a}, 1);
    auto* keeper = new CDB_SGATE_COMB(nullptr, CDB_COMB_NAME_KEEPER);
    nl.add_node(keeper);
    keeper->add_unordered_fanin_from_oterm(nullptr, false, lut->get_single_oterm());
    CDB_SGATE_IO_BUF* buf = add_io_buf(&nl, c.type, keeper, "tb");
    CDB_SGATE_NODE* y = make_output_pin(&nl, "y", buf);
    KAVU_FIB_INFO info;
    for (CDB_SGATE_NODE* n : nl.get_node_list()) info.m_old_lutmapped_node_ids.insert(n->get_id());
    std::set<CDB_SGATE_NODE*> expected = {a, y};
    if (c.buffer_relevant) expected.insert({buf, keeper});
    EXPECT_EQ(as_set(info.get_new_nodes(&nl)), expected);
  }
}

// Gates with new ids counted by type; nothing for a hierarchy without a
// partition record; a null hierarchy is refused.
TEST(KavuLlisNewNodes, StatisticsCountNewGatesByType) {
  LOADED_NETLIST nl = load_blif("small/counter8_lut4");
  KAVU_TRACK(nl);
  KAVU_FIB_INFO info;
  for (CDB_SGATE_NODE* n : nl->get_node_list()) info.m_old_lutmapped_node_ids.insert(n->get_id());
  CDB_SGATE_NODE* r = registers_of(nl.get())[0];
  make_lut(nl.get(), {r}, 1);
  make_lut(nl.get(), {r}, 2);
  make_dff(nl.get(), r, nullptr);
  CDB_SGATE_HIERARCHY hier;
  {
    DEBUG_CAPTURE cap("KAVU");
    kavu_llis_dump_new_node_statistics(&info, &hier, nl.get());
    std::vector<std::string> counts;
    for (const std::string& line : cap.lines())
      if (line.find("AFTER_SWEEP_NEW_THINGS") != std::string::npos) counts.push_back(line);
    ASSERT_EQ(counts.size(), 2u);
    EXPECT_NE(counts[0].find("DFF"), std::string::npos);
    EXPECT_NE(counts[0].find(": 1"), std::string::npos);
    EXPECT_NE(counts[1].find("LUT"), std::string::npos);
    EXPECT_NE(counts[1].find(": 2"), std::string::npos);
  }
  {
    DEBUG_CAPTURE cap("KAVU");
    kavu_llis_dump_new_node_statistics(nullptr, &hier, nl.get());
    EXPECT_TRUE(cap.lines().empty());
  }
  EXPECT_KAVU_INTERNAL_ERROR(kavu_llis_dump_new_node_statistics(&info, nullptr, nl.get()), "hier");
}
