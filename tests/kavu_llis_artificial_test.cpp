// Artificial FIBs: name buffers put behind the MAC and RAM blocks of real
// circuits and taken out after a stand-in mapping, function kept; naming and
// destination choice; sources that cannot be FIBs; inversion folding on
// removal. New nodes of a design with old ids, and their statistics.
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
#include "platform_test_hooks.h"
#include "platform_testkit.h"

using namespace kavu_platform;

namespace {

const int MAC = 95, RAM = 96, OPEN_RAM = 64, DDIO_OUT = 10610, GENERIC = 4242;

HDB_INSTANCE_NAME* top_name(const char* text) {
  HDB_INSTANCE_NAME* top = HDB_INSTANCE_NAME::create_normal_name(nullptr, "top", nullptr, nullptr, nullptr);
  return HDB_INSTANCE_NAME::create_normal_name(nullptr, text, nullptr, nullptr, top);
}

CDB_SGATE_OTERM* out(CDB_SGATE_NODE* n) { return n->get_single_oterm(); }

// Names the gate and its first output "top|<text>".
template <class G>
G* named(G* g, const char* text) {
  g->set_instance_name(top_name(text));
  if (out(g)) out(g)->set_instance_name(top_name(text));
  return g;
}

template <class G>
G* added(CDB_SGATE_NETLIST* nl, G* g, const char* text, unsigned inputs = 0) {
  nl->add_node(g);
  for (unsigned i = 0; i < inputs; ++i) g->set_input_term(g->create_input_term(nullptr), i);
  return text ? named(g, text) : g;
}

// Bit `bit` of an atom's input port, made on first use.
CDB_SGATE_ITERM* atom_in(CDB_SGATE_WYSIWYG* a, unsigned port, unsigned bit = 0) {
  const unsigned slot = a->get_input_port_number(DB_INPUT_PORT_TYPE(port)) + bit;
  if (slot >= a->get_number_of_input_terms() || !a->get_input_term(slot)) {
    a->set_input_term(a->create_input_term(nullptr, DB_INPUT_PORT_TYPE(port)), slot);
    a->get_input_term(slot)->set_port_index(bit);
  }
  return a->get_input_term(slot);
}

CDB_SGATE_OTERM* atom_out(CDB_SGATE_WYSIWYG* a, unsigned port, unsigned bit = 0) {
  const unsigned slot = a->get_output_port_number(DB_OUTPUT_PORT_TYPE(port)) + bit;
  if (slot >= a->get_output_count() || !a->get_output_term(slot)) {
    auto* o = new CDB_SGATE_OTERM(a);
    o->set_port_type(DB_OUTPUT_PORT_TYPE(port));
    o->set_port_index(bit);
    a->set_output_term(o, slot);
  }
  return a->get_output_term(slot);
}

CDB_SGATE_WYSIWYG* add_atom(CDB_SGATE_NETLIST* nl, int type, const char* name) {
  if (type == RAM || type == OPEN_RAM) return added(nl, new CDB_SGATE_WYSIWYG_RAM_BLOCK(nullptr, CDB_WYSIWYG_TYPE(type)), name);
  return added(nl, new CDB_SGATE_WYSIWYG(nullptr, CDB_WYSIWYG_TYPE(type)), name);
}

CDB_SGATE_NODE* xor_lut(CDB_SGATE_NETLIST* nl, CDB_SGATE_OTERM* a, CDB_SGATE_OTERM* b, const char* name) {
  CDB_LUTMASK mask;
  mask.set_value(2, 0x6);
  CDB_SGATE_NODE* lut = added(nl, new CDB_SGATE_LUT(nullptr, mask), name, 2);
  for (unsigned i = 0; i < 2; ++i) {
    lut->get_input_term(i)->set_port_type(DB_INPUT_PORT_TYPE(12 + i));  // DATAA, DATAB
    (i ? b : a)->insert_fanout(lut->get_input_term(i));
  }
  return lut;
}

template <class P>
std::vector<CDB_SGATE_NODE*> gates_where(CDB_SGATE_NETLIST* nl, P pred) {
  std::vector<CDB_SGATE_NODE*> v;
  for (CDB_SGATE_NODE* n : nl->get_node_list())
    if (n && pred(n)) v.push_back(n);
  return v;
}

bool is_dff(const CDB_SGATE_NODE* n) { return n->get_sgate_type() == CDB_SGATE_DFF_ENUM; }

// A MAC block multiplying register bits and a RAM block written from
// registers, observed through named LUTs; a MAC bit also feeds a register
// and a RAM bit the MAC, so those block outputs have two sinks each.
void add_blocks(CDB_SGATE_NETLIST* nl) {
  std::vector<CDB_SGATE_NODE*> regs = gates_where(nl, is_dff);
  ASSERT_GE(regs.size(), 6u);
  CDB_SGATE_OTERM* clk = kavu_get_dff_clock(regs[0])->get_source();
  CDB_SGATE_WYSIWYG* mac = add_atom(nl, MAC, "mac");
  CDB_SGATE_WYSIWYG* ram = add_atom(nl, RAM, "ram");
  clk->insert_fanout(atom_in(ram, 35));
  out(regs[0])->insert_fanout(atom_in(ram, 83));
  for (unsigned b = 0; b < 3; ++b) {
    out(regs[b])->insert_fanout(atom_in(mac, 408, b));
    out(regs[3 + b])->insert_fanout(atom_in(mac, 409, b));
    out(regs[1 + b])->insert_fanout(atom_in(ram, 88, b));
    out(regs[2 + b])->insert_fanout(atom_in(ram, 89, b));
  }
  atom_out(ram, 41)->insert_fanout(atom_in(mac, 410));
  for (unsigned b = 0; b < 6; ++b) {
    const std::string n = std::to_string(b);
    CDB_SGATE_OTERM* src = b < 3 ? atom_out(mac, 363, b) : b < 5 ? atom_out(ram, 41, b - 3) : atom_out(mac, 364);
    make_output_pin(nl, ("x" + n).c_str(), xor_lut(nl, src, out(regs[b]), ("l" + n).c_str()));
  }
  CDB_SGATE_NODE* reg = named(make_dff(nl, nullptr, clk->get_my_node()), "mreg");
  atom_out(mac, 363)->insert_fanout(kavu_get_dff_data(reg));
  make_output_pin(nl, "q_mreg", reg);
}

// What mapping makes of a name buffer: a don't-touch wire LUT keeping its name.
void map_name_buffers(CDB_SGATE_NETLIST* nl) {
  for (CDB_SGATE_NODE* b : gates_where(nl, kavu_is_llis_name_buffer)) {
    CDB_LUTMASK mask;
    mask.set_value(1, 0x2);
    auto* lut = added(nl, new CDB_SGATE_LUT(nullptr, mask), nullptr, 1);
    lut->set_instance_name(b->get_instance_name());
    out(lut)->set_instance_name(b->get_instance_name());
    lut->set_flag_byte(CDB_KIND_BYTE, CDB_LUT_DONT_TOUCH);
    out(lut)->adopt_fanouts(out(b), false);
    b->get_single_iterm()->get_source()->insert_fanout(lut->get_input_term(0));
  }
  nl->sweep(false);
}

}  // namespace

// With the key off nothing changes. Buffers go behind every block output
// and on the single-fan-out nets between unnamed gates, each under a FIB
// name of its own; the function is kept; a second run adds none; removal
// after mapping restores the gate count once swept. crc8_generic has the
// enable OR of registers that reset to 1, which the reader left unnamed
// (insertion stopped with "iname").
TEST(KavuLlisArtificial, InsertMapAndRemoveKeepRealCircuitsEquivalent) {
  CFG_SCOPE cfg{{"llis_insert_artificial_fibs", "on"}};
  for (const char* design : {"small/counter8_lut4", "small/crc8_lut4", "small/lfsr16_lut4", "small/crc8_generic"}) {
    for (bool blocks : {false, true}) {
      SCOPED_TRACE(std::string(design) + (blocks ? " with blocks" : ""));
      LOADED_NETLIST golden = load_blif(design), nl = load_blif(design);
      if (blocks) add_blocks(golden.get()), add_blocks(nl.get());
      KAVU_TRACK(nl);
      golden->sweep(false);
      nl->sweep(false);
      const unsigned before = nl->size();
      {
        CFG_SCOPE off{{"llis_insert_artificial_fibs", "off"}};
        EXPECT_EQ(kavu_llis_insert_artificial_fibs(nl.get()), 0);
        EXPECT_EQ(nl->size(), before);
      }
      const int inserted = kavu_llis_insert_artificial_fibs(nl.get());
      EXPECT_GT(inserted, 0);
      EXPECT_EQ(nl->size(), before + unsigned(inserted));
      // Every name buffer has a FIB name of its own, which matching and
      // invalidation go by (the leaf form gave many buffers one name).
      std::set<std::string> buffer_fibs;
      for (CDB_SGATE_NODE* b : gates_where(nl.get(), kavu_is_llis_name_buffer))
        buffer_fibs.insert(kavu_llis_get_string_hpath(b));
      EXPECT_EQ(buffer_fibs.size(), unsigned(inserted));
      for (CDB_SGATE_NODE* atom : gates_where(nl.get(), [](CDB_SGATE_NODE* n) { return n->is_wysiwyg(); }))
        for (CDB_SGATE_OTERM* o : atom->get_output_terms()) {  // a block output drives only its buffer
          if (o && o->has_fanout()) {
            EXPECT_TRUE(o->has_fanout_exactly(1) && kavu_is_llis_name_buffer(o->get_first_fanout()->get_my_node()));
          }
        }
      ASSERT_KAVU_EQUIVALENT(golden, nl);
      EXPECT_EQ(kavu_llis_insert_artificial_fibs(nl.get()), 0) << "a name buffer got a second one";
      map_name_buffers(nl.get());
      EXPECT_EQ(kavu_llis_remove_artificial_fibs(nl.get()), inserted);
      EXPECT_TRUE(gates_where(nl.get(), [](CDB_SGATE_NODE* n) {
                    return n->get_sgate_type() == CDB_SGATE_LUT_ENUM && (n->get_flag_byte(CDB_KIND_BYTE) & CDB_LUT_DONT_TOUCH);
                  }).empty());
      nl->sweep(false);
      EXPECT_EQ(nl->size(), golden->size());
      ASSERT_KAVU_EQUIVALENT(golden, nl);
    }
  }
}

// One RAM output feeding the destinations of a row, made in row order (so
// earlier ones have lower ids): the buffer takes every fan-out and is named
// after the chosen destination.
TEST(KavuLlisArtificial, BufferIsNamedAfterTheChosenDestination) {
  CFG_SCOPE cfg{{"llis_insert_artificial_fibs", "on"}};
  enum DEST { AND0, LUT1, MAC_AX1, RAM34, REG };
  const std::pair<std::vector<DEST>, const char*> rows[] = {
      {{AND0}, "top|g~I0_L0~llis"},         {{LUT1}, "top|l~DATAB[0]~llis"},
      {{REG}, "top|r~DATAIN[0]~llis"},      {{LUT1, MAC_AX1}, "top|m~DATA_AX[1]~llis"},
      {{MAC_AX1, LUT1}, "top|m~DATA_AX[1]~llis"}, {{LUT1, AND0}, "top|g~I0_L0~llis"},
      {{LUT1, RAM34}, "top|mem~PORT_34~llis"}};
  for (const auto& [dests, expected] : rows) {
    SCOPED_TRACE(expected);
    hdb_reset();  // no buffer name is taken yet
    CDB_SGATE_NETLIST nl;
    KAVU_TRACK(nl);
    CDB_SGATE_OTERM* b = out(make_input_pin(&nl, "b"));
    CDB_SGATE_OTERM* src = atom_out(add_atom(&nl, RAM, "ram"), 41);
    for (DEST d : dests) {
      if (d == AND0) {
        auto* g = added(&nl, new CDB_SGATE_COMB(nullptr, CDB_COMB_AND), "g");
        g->add_unordered_fanin_from_oterm(nullptr, false, src);
        g->add_unordered_fanin_from_oterm(nullptr, false, b);
      } else if (d == LUT1) {
        xor_lut(&nl, b, src, "l");
      } else if (d == MAC_AX1) {
        src->insert_fanout(atom_in(add_atom(&nl, MAC, "m"), 408, 1));
      } else if (d == RAM34) {
        CDB_SGATE_WYSIWYG* r = add_atom(&nl, OPEN_RAM, "r");
        r->cast_to_wysiwyg_ram_block()->set_logical_name(0, top_name("mem"));
        src->insert_fanout(atom_in(r, 34));
      } else {
        src->insert_fanout(kavu_get_dff_data(named(make_dff(&nl, b->get_my_node(), b->get_my_node()), "r")));
      }
    }
    const unsigned sinks = src->get_number_of_fanout();
    ASSERT_EQ(kavu_llis_insert_artificial_fibs(&nl), 1);
    ASSERT_TRUE(src->has_fanout_exactly(1));
    CDB_SGATE_NODE* buf = src->get_first_fanout()->get_my_node();
    EXPECT_TRUE(kavu_is_llis_name_buffer(buf));
    EXPECT_EQ(buf->get_instance_name()->get_short_hpath(0), expected);
    EXPECT_EQ(out(buf)->get_number_of_fanout(), sinks);
  }
}

// Sources that cannot be FIBs (a latch, a generic device atom): the buffer
// takes only the FIB-kind sinks behind pass-through gates, with the path's
// inversion folded in, while the pass-through gates keep the source.
// Regressions: such a source on a register's data input forbids pruning the
// register; an atom feeding only a DDIO output register is skipped (it was
// the internal error "iterms_to_buffer.size() >= 1"); a carry-sum cell
// passes input i to output i only (the sum-output register, whose input is
// tied, was moved onto the carry input's latch).
TEST(KavuLlisArtificial, SourcesThatCannotBeFibs) {
  enum SHAPE { OR_DATA, OR_CLOCK, CARRY, DDIO, DDIO_LUT };
  struct ROW {
    SHAPE shape;
    int inserted;
    bool prune_forbidden, watch_inverted;
  };
  struct SCENE {
    CDB_SGATE_OTERM* src;
    CDB_SGATE_NODE* reg = nullptr;
    CDB_SGATE_ITERM *watch = nullptr, *keep = nullptr;
  };
  auto build = [](CDB_SGATE_NETLIST* nl, SHAPE shape) {
    SCENE s;
    CDB_SGATE_NODE* a = make_input_pin(nl, "a");
    CDB_SGATE_NODE* c = make_input_pin(nl, "c");
    if (shape == DDIO || shape == DDIO_LUT) {
      s.src = atom_out(add_atom(nl, GENERIC, "gen"), 9);
      s.src->insert_fanout(s.keep = atom_in(add_atom(nl, DDIO_OUT, "ddio"), 20));
      if (shape == DDIO_LUT) s.watch = xor_lut(nl, s.src, out(a), "l")->get_input_term(0);
      return s;
    }
    CDB_SGATE_NODE* lat = added(nl, new CDB_SGATE_LATCH(nullptr), "lat", 2);
    out(a)->insert_fanout(lat->get_input_term(0));
    out(c)->insert_fanout(lat->get_input_term(1));
    s.src = out(lat);
    if (shape == CARRY) {
      CDB_SGATE_NODE* cs = added(nl, new CDB_SGATE_CARRY_SUM(nullptr), "cs", 2);
      cs->get_input_term(SUM_IN)->set_gnd();
      s.src->insert_fanout(s.keep = cs->get_input_term(CARRY_IN));
      CDB_SGATE_NODE* sum_reg = named(make_dff(nl, nullptr, c), "rs");
      cs->get_output_term(0)->insert_fanout(kavu_get_dff_data(sum_reg));
      make_output_pin(nl, "qs", sum_reg);
      s.reg = named(make_dff(nl, nullptr, c), "r");
      cs->get_output_term(1)->insert_fanout(kavu_get_dff_data(s.reg));
    } else {
      auto* o = added(nl, new CDB_SGATE_COMB(nullptr, CDB_COMB_OR), "o");
      o->add_unordered_fanin_from_oterm(nullptr, true, s.src);
      s.keep = o->get_input_term(0);
      s.reg = named(shape == OR_CLOCK ? make_dff(nl, c, o) : make_dff(nl, o, c), "r");
    }
    if (shape != OR_CLOCK) s.watch = kavu_get_dff_data(s.reg);
    make_output_pin(nl, "q", s.reg);
    return s;
  };
  CFG_SCOPE cfg{{"llis_insert_artificial_fibs", "on"}};
  for (const ROW& r : {ROW{OR_DATA, 1, true, true}, ROW{OR_CLOCK, 0, false, false}, ROW{CARRY, 2, true, false},
                       ROW{DDIO, 0, false, false}, ROW{DDIO_LUT, 1, false, false}}) {
    SCOPED_TRACE(int(r.shape));
    hdb_reset();  // no buffer name is taken yet
    CDB_SGATE_NETLIST golden, nl;
    build(&golden, r.shape);
    const SCENE s = build(&nl, r.shape);
    KAVU_TRACK(nl);
    const unsigned before = nl.size();
    EXPECT_EQ(kavu_llis_insert_artificial_fibs(&nl), r.inserted);
    EXPECT_EQ(nl.size(), before + unsigned(r.inserted));
    EXPECT_EQ(s.keep->get_source(), s.src);
    if (s.reg) {
      EXPECT_EQ(s.reg->cast_to_dff()->prune_allowed_is_set(), r.prune_forbidden);
      EXPECT_TRUE(s.reg->cast_to_dff()->prune_allowed() != r.prune_forbidden);
    }
    if (s.watch && r.inserted) {
      const CDB_SGATE_NODE* buf = s.watch->get_source()->get_my_node();
      EXPECT_TRUE(kavu_is_llis_name_buffer(buf));
      // Named after the source with the plain extension "llis" (it was "~llis": "top|lat~~llis").
      EXPECT_EQ(buf->get_instance_name()->get_short_hpath(0), r.shape == DDIO_LUT ? "top|gen~llis" : "top|lat~llis");
      EXPECT_EQ(buf->get_input_term(0)->get_source(), s.src);
      EXPECT_EQ(s.watch->is_inverted(), r.watch_inverted);
    }
    std::string why;
    EXPECT_TRUE(!s.reg || sim_equivalent(&golden, &nl, {}, &why)) << why;
  }
}

// A mapped name buffer is bypassed with the wire's and its output's
// inversions folded into the sinks; a LUT that is no wire, and a wire
// without the name, stay. Every LUT loses its don't-touch mark. A buffer
// named by the plain extension ("w~llis" with "llis" a synthesized level)
// is found too (only "~llis" inside one level was looked for). A
// synthesized name of the first level below the top ("top|llis_w") is no
// name buffer: no "~" joins it.
TEST(KavuLlisArtificial, RemovalFoldsInversionsAndSkipsOtherLuts) {
  struct ROW {
    const char* name;
    uint64_t mask;  // over (a, b): 0xa a, 0x5 !a, 0x6 a ^ b
    bool out_inverted, bypassed, sink_inverted;
    enum { NORMAL, LLIS_CHILD, FIRST_LEVEL_SYNTHESIZED } naming = NORMAL;
    // LLIS_CHILD: the name is "<name>" with a synthesized child "llis";
    // FIRST_LEVEL_SYNTHESIZED: "<name>" is a synthesized child of the top.
  };
  for (const ROW& r : {ROW{"w~llis", 0xa, false, true, false}, ROW{"w~llis", 0x5, false, true, true},
                       ROW{"w~llis", 0xa, true, true, true}, ROW{"w~llis", 0x5, true, true, false},
                       ROW{"w~llis", 0x6, false, false, false}, ROW{"w", 0xa, false, false, false},
                       ROW{"w", 0x5, false, true, true, ROW::LLIS_CHILD},
                       ROW{"llis_w", 0xa, false, false, false, ROW::FIRST_LEVEL_SYNTHESIZED}}) {
    SCOPED_TRACE(std::string(r.name) + " " + std::to_string(r.mask) + (r.out_inverted ? " inverted" : ""));
    auto build = [&](CDB_SGATE_NETLIST* nl) {
      CDB_SGATE_NODE* a = make_input_pin(nl, "a");
      CDB_SGATE_NODE* b = make_input_pin(nl, "b");
      CDB_SGATE_NODE* lut = r.mask == 0x6 ? make_lut(nl, {a, b}, r.mask) : make_lut(nl, {a}, r.mask & 3);
      HDB_INSTANCE_NAME* top = HDB_INSTANCE_NAME::create_normal_name(nullptr, "top", nullptr, nullptr, nullptr);
      lut->set_instance_name(r.naming == ROW::LLIS_CHILD
                                 ? HDB_INSTANCE_NAME::create_synthesized_name(top_name(r.name), "llis", false)
                             : r.naming == ROW::FIRST_LEVEL_SYNTHESIZED
                                 ? HDB_INSTANCE_NAME::create_synthesized_name(top, r.name, false)
                                 : top_name(r.name));
      lut->set_flag_byte(CDB_KIND_BYTE, CDB_LUT_DONT_TOUCH);
      if (r.out_inverted) out(lut)->set_invert();
      make_output_pin(nl, "y", lut);
      make_output_pin(nl, "z", make_and(nl, lut, b));
      return lut;
    };
    CDB_SGATE_NETLIST golden, nl;
    build(&golden);
    CDB_SGATE_NODE* lut = build(&nl);
    KAVU_TRACK(nl);
    EXPECT_EQ(kavu_llis_remove_artificial_fibs(&nl), r.name[1] == '~' || r.naming == ROW::LLIS_CHILD ? 1 : 0);
    EXPECT_FALSE(lut->get_flag_byte(CDB_KIND_BYTE) & CDB_LUT_DONT_TOUCH);
    EXPECT_EQ(out(lut)->has_fanout(), !r.bypassed);
    const CDB_SGATE_ITERM* y = nl.get_output_pins()[0]->get_input_term(0);
    EXPECT_TRUE(!r.bypassed || y->is_inverted() == r.sink_inverted);
    EXPECT_EQ(y->get_source() == out(nl.get_input_pins()[0]), r.bypassed);
    nl.sweep(false);
    std::string why;
    EXPECT_TRUE(sim_equivalent(&golden, &nl, {}, &why)) << why;
  }
}

// A real design whose gates are all old, with I/O buffers among them, and new
// gates beside them: the new nodes are exactly the new gates, the pins (the
// I/O region stops at the first LUT or register), the I/O buffers beside new
// registers with the gates on their far side, and an old tri-state buffer
// before an output pin only while the key does not leave it out. A gate
// whose id is an old id is never new, whatever its kind.
TEST(KavuLlisNewNodes, NewRelevantAndIoAdjacentGatesOfARealDesign) {
  for (const char* key : {"on", "off"}) {
    CFG_SCOPE cfg{{"llis_exclude_tristate_buffer_from_relevant_src_nodes", key}};
    LOADED_NETLIST nl = load_blif("small/crc8_lut4");
    KAVU_TRACK(nl);
    std::vector<CDB_SGATE_NODE*> regs = gates_where(nl.get(), is_dff);
    CDB_SGATE_NODE* lut0 = gates_where(nl.get(), [](CDB_SGATE_NODE* n) { return n->get_sgate_type() == CDB_SGATE_LUT_ENUM; })[0];
    CDB_SGATE_NODE* clk = kavu_get_dff_clock(regs[0])->get_source()->get_my_node();
    CDB_SGATE_NODE* ibuf = added(nl.get(), new CDB_SGATE_IO_BUF(nullptr, CDB_IO_BUF_TRI), "ibuf", 1);
    out(lut0)->insert_fanout(ibuf->get_input_term(0));
    CDB_SGATE_NODE* obuf = added(nl.get(), new CDB_SGATE_IO_BUF(nullptr, CDB_IO_BUF_OPEN_DRAIN), "obuf", 1);
    CDB_SGATE_NODE* far = xor_lut(nl.get(), out(obuf), out(regs[1]), "far");
    CDB_SGATE_NODE* tri = added(nl.get(), new CDB_SGATE_IO_BUF(nullptr, CDB_IO_BUF_TRI), "tri", 1);
    out(far)->insert_fanout(tri->get_input_term(0));
    make_output_pin(nl.get(), "o_tri", tri);
    KAVU_FIB_INFO info;
    for (CDB_SGATE_NODE* n : nl->get_node_list()) info.m_old_lutmapped_node_ids.insert(n->get_id());

    CDB_SGATE_NODE* n1 = make_dff(nl.get(), ibuf, clk);
    CDB_SGATE_NODE* n2 = make_dff(nl.get(), regs[2], clk);
    out(n2)->insert_fanout(obuf->get_input_term(0));
    CDB_SGATE_NODE* n3 = make_and(nl.get(), n1, n2);
    for (CDB_SGATE_NODE* g : {make_or(nl.get(), n1, n2), make_dff(nl.get(), n3, clk), make_lut(nl.get(), {n1}, 1)})
      info.m_old_lutmapped_node_ids.insert(g->get_id());
    std::set<CDB_SGATE_NODE*> expected = {n1, n2, n3, ibuf, lut0, obuf, far};
    if (std::string(key) == "off") expected.insert(tri);
    for (CDB_SGATE_NODE* n : gates_where(nl.get(), [](CDB_SGATE_NODE* n) { return n->is_pin(); })) expected.insert(n);
    std::vector<CDB_SGATE_NODE*>* got = info.get_new_nodes(nl.get());
    EXPECT_EQ(std::set<CDB_SGATE_NODE*>(got->begin(), got->end()), expected) << key;
    EXPECT_EQ(got->size(), expected.size()) << "a gate listed twice";
    delete got;
  }
}

// New gates counted by type, listed in the table's order; nothing without a
// partition record; a null hierarchy is refused.
TEST(KavuLlisNewNodes, StatisticsCountNewGatesByType) {
  LOADED_NETLIST nl = load_blif("small/counter8_lut4");
  KAVU_FIB_INFO info;
  for (CDB_SGATE_NODE* n : nl->get_node_list()) info.m_old_lutmapped_node_ids.insert(n->get_id());
  CDB_SGATE_NODE* r = gates_where(nl.get(), is_dff)[0];
  make_lut(nl.get(), {r}, 1), make_lut(nl.get(), {r}, 2), make_dff(nl.get(), r, nullptr);
  CDB_SGATE_HIERARCHY hier;
  for (KAVU_FIB_INFO* record : {&info, static_cast<KAVU_FIB_INFO*>(nullptr)}) {
    DEBUG_CAPTURE cap("KAVU");
    kavu_llis_dump_new_node_statistics(record, &hier, nl.get());
    std::vector<std::string> counts;  // "type:count", blanks dropped
    for (std::string line : cap.lines()) {
      const size_t at = line.find("AFTER_SWEEP_NEW_THINGS:");
      if (at == std::string::npos) continue;
      line.erase(std::remove(line.begin(), line.end(), ' '), line.end());
      counts.push_back(line.substr(line.find(':') + 1));
    }
    // In the count table's own order (bucket of the type name's hash among
    // 61), not sorted by name (they were sorted).
    const std::vector<std::string> expected = {"LUT:2", "DFF:1"};
    EXPECT_EQ(counts, record ? expected : std::vector<std::string>());
  }
  EXPECT_KAVU_INTERNAL_ERROR(kavu_llis_dump_new_node_statistics(&info, nullptr, nl.get()), "hier");
}
