// Tests of the word-level bridge: round trips of real circuits, bus
// operators and bus names, register buses, subsets with boundary buffers,
// register conversion and the faults the bridge guards against.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>

#include "cdb/cdb_sgate.h"
#include "cmp/cmp.h"
#include "hdb/hdb.h"
#include "kavu_family_info.h"
#include "kavu_helper_predicates.h"
#include "kavu_name.h"
#include "kavu_word_level.h"
#include "kavu_word_level_int.h"
#include "kavu_device.h"
#include "kavu_helper_dump.h"
#include "kavu_wiring_helper.h"
#include "msg/msg.h"
#include "netlist_io/simulator.h"
#include "testkit/platform_testkit.h"
#include "wl/wl.h"

using namespace kavu_platform;

namespace {

struct FAMILY {
  CMP_FACADE facade;
  std::unique_ptr<RTL_FAMILY_INFO> info;
  explicit FAMILY(int family = 15) {
    facade.set_base_family(DEV_FAMILY_ENUM(family));
    facade.set_family(DEV_FAMILY_ENUM(family));
    info = std::make_unique<RTL_FAMILY_INFO>(&facade);
  }
};

bool is_register(CDB_SGATE_NODE* n) { return n->get_sgate_type() == CDB_SGATE_DFF_ENUM || kavu_is_a_wys_ff(n); }

std::multiset<const HDB_INSTANCE_NAME*> register_names(const CDB_SGATE_NETLIST* nl) {
  std::multiset<const HDB_INSTANCE_NAME*> names;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
    if (*it && is_register(*it)) names.insert((*it)->get_instance_name());
  return names;
}

// Gate kinds as word-level kinds, for the per-kind counts.
std::map<int, int> gate_kind_counts(const CDB_SGATE_NETLIST* nl) {
  std::map<int, int> counts;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
    CDB_SGATE_NODE* n = *it;
    if (!n) continue;
    int k = -1;
    switch (n->get_sgate_type()) {
      case CDB_SGATE_COMB_ENUM: k = int(WL_NODE_TYPE::COMB); break;
      case CDB_SGATE_IO_ENUM: k = int(WL_NODE_TYPE::PIN); break;
      case CDB_SGATE_BUFFER_ENUM: k = int(WL_NODE_TYPE::BUFFER); break;
      case CDB_SGATE_MUX_ENUM: k = int(WL_NODE_TYPE::MUX21); break;
      case CDB_SGATE_LUT_ENUM: k = int(WL_NODE_TYPE::LUT); break;
      case CDB_SGATE_DFF_ENUM: k = int(WL_NODE_TYPE::DFF); break;
      case CDB_SGATE_LATCH_ENUM: k = int(WL_NODE_TYPE::LATCH); break;
      default: k = kavu_is_a_wys_ff(n) ? int(WL_NODE_TYPE::DFF) : 100 + int(n->get_sgate_type()); break;
    }
    ++counts[k];
  }
  return counts;
}

std::map<int, int> wl_kind_counts(const WL_NETLIST* wl) {
  std::map<int, int> counts;
  for (auto it = wl->begin_node_list(); it != wl->end_node_list(); ++it) ++counts[int((*it)->get_node_type())];
  return counts;
}

// Gate simulator on `ref` against the word-level evaluator on `wl`, pins
// paired by instance name: `words` runs of `cycles` cycles from power-up.
::testing::AssertionResult wl_matches_gates(const CDB_SGATE_NETLIST* ref, const WL_NETLIST* wl, int words, int cycles) {
  NETLIST_SIMULATOR gs(ref);
  WL_SIMULATOR ws(wl);
  if (!gs.ok()) return ::testing::AssertionFailure() << "gate simulator: " << gs.error();
  if (!ws.ok()) return ::testing::AssertionFailure() << "word-level evaluator: " << ws.error();
  std::map<const HDB_INSTANCE_NAME*, const WL_NODE*> wl_pins;
  for (auto it = wl->begin_node_list(); it != wl->end_node_list(); ++it)
    if ((*it)->get_node_type() == WL_NODE_TYPE::PIN) wl_pins[(*it)->get_instance_name()] = *it;
  std::vector<std::pair<const CDB_SGATE_NODE*, const WL_NODE*>> ins, outs;
  for (auto it = ref->begin_node_list(); it != ref->end_node_list(); ++it) {
    CDB_SGATE_IO* io = *it ? (*it)->cast_to_io() : nullptr;
    if (!io) continue;
    auto f = wl_pins.find(io->get_instance_name());
    if (f == wl_pins.end()) return ::testing::AssertionFailure() << "no word-level pin for " << io->get_string_hpath();
    (io->get_io_type() == CDB_IO_INPUT ? ins : outs).emplace_back(io, f->second);
  }
  std::mt19937_64 rng(7);
  for (int w = 0; w < words; ++w) {
    gs.reset_state();
    ws.reset_state();
    for (int c = 0; c < cycles; ++c) {
      for (auto& p : ins) {
        const uint64_t word = rng();
        gs.set_input(p.first, word);
        ws.set_input(p.second, 0, word);
      }
      gs.eval();
      ws.eval();
      if (c > 0) {
        gs.clock();
        ws.clock();
      }
      for (auto& p : outs)
        if (gs.output(p.first) != ws.output(p.second, 0))
          return ::testing::AssertionFailure() << "output " << p.first->get_string_hpath() << " differs at word " << w
                                               << " cycle " << c;
    }
  }
  return ::testing::AssertionSuccess();
}

bool has_registers(const CDB_SGATE_NETLIST* nl) { return !register_names(nl).empty(); }

}  // namespace

// Every bundled circuit: gate -> word-level -> gate in whole-netlist mode.
TEST(KavuWordLevelRoundTrip, EveryBundledCircuitKeepsRegistersNamesAndFunction) {
  FAMILY fam;
  for (const std::string& name : bundled_circuits()) {
    SCOPED_TRACE(name);
    LOADED_NETLIST loaded = load_blif(name);
    CDB_SGATE_HIERARCHY* hier = loaded.get_deleter().hierarchy;
    std::unique_ptr<CDB_SGATE_NETLIST> ref(loaded->clone(nullptr, true, true));
    loaded->clear_temp_pointers();
    ref->set_hierarchy(nullptr);  // the hierarchy goes with the converted netlist
    ref->sweep(false);
    ref->garbage_collect(true, false);
    CDB_SGATE_NETLIST* raw = loaded.release();
    WL_NETLIST* wl = kavu_make_wl_netlist(raw, &fam.facade, nullptr, nullptr);
    ASSERT_NE(wl, nullptr);
    EXPECT_EQ(wl_kind_counts(wl), gate_kind_counts(ref.get()));
    const bool seq = has_registers(ref.get());
    EXPECT_TRUE(wl_matches_gates(ref.get(), wl, seq ? 10 : 157, seq ? 16 : 1));
    CDB_SGATE_NETLIST* back = kavu_convert_wl_to_sgate_netlist(wl, &fam.facade, fam.info.get(), nullptr);
    LOADED_NETLIST owned(back, LOADED_NETLIST_DELETER{hier});
    hier->set_netlist(back);
    back->sweep(false);
    back->garbage_collect(true, false);
    KAVU_TRACK(back);
    EXPECT_EQ(register_names(back), register_names(ref.get()));
    ASSERT_KAVU_EQUIVALENT(ref.get(), back);
  }
}

// ---------------------------------------------------------------- bus form

namespace {

HDB_INSTANCE_NAME* top_name() { return HDB_INSTANCE_NAME::create_normal_name(nullptr, "top", nullptr, nullptr, nullptr); }
HDB_INSTANCE_NAME* child_name(const std::string& text) {
  return HDB_INSTANCE_NAME::create_normal_name(nullptr, text.c_str(), nullptr, nullptr, top_name());
}

// Every control of a plain register at its inactive value.
void tie_controls(CDB_SGATE_NODE* r) {
  for (int p : {CDB_DFF_ACLR, CDB_DFF_PRESET, CDB_DFF_ALOAD, CDB_DFF_SCLR, CDB_DFF_SLOAD})
    r->get_input_term(p)->set_gnd();
  r->get_input_term(CDB_DFF_ENA)->set_vcc();
  r->get_input_term(CDB_DFF_ADATA)->set_vcc();
}

// d0..d7 -> bus-in -> one register gate (power-up high) -> bus-out -> q0..q7.
CDB_SGATE_NETLIST* register_bus(CDB_SGATE_DFF** reg_out) {
  CDB_SGATE_NETLIST* nl = new CDB_SGATE_NETLIST;
  CDB_SGATE_NODE* clk = make_input_pin(nl, "clk");
  CDB_SGATE_OPERATOR* in = kavu_create_bus_in_operator(nl, 8)->cast_to_operator();
  for (int i = 0; i < 8; ++i)
    make_input_pin(nl, ("d" + std::to_string(i)).c_str())->get_single_oterm()->insert_fanout(
        in->get_iterm(CDB_OPER_PORT_A, i));
  CDB_SGATE_DFF* reg = new CDB_SGATE_DFF(child_name("r"), false);
  reg->get_single_oterm()->set_instance_name(reg->get_instance_name());
  reg->create_all_inputs();
  nl->add_node(reg);
  tie_controls(reg);
  in->get_single_oterm()->insert_fanout(reg->get_input_term(CDB_DFF_DATA));
  clk->get_single_oterm()->insert_fanout(reg->get_input_term(CDB_DFF_CLK));
  reg->set_power_up_high(true);
  reg->set_has_power_up_setting(true);
  CDB_SGATE_OPERATOR* out = kavu_create_bus_out_operator(nl, 8)->cast_to_operator();
  reg->get_single_oterm()->insert_fanout(out->get_iterm(CDB_OPER_PORT_A, 0));
  for (int i = 0; i < 8; ++i) {
    CDB_SGATE_NODE* q = make_output_pin(nl, ("q" + std::to_string(i)).c_str(), nullptr);
    q->get_single_iterm()->disconnect_from_source();
    out->get_oterm(CDB_OPER_PORT_O, i)->insert_fanout(q->get_single_iterm());
  }
  *reg_out = reg;
  return nl;
}

// The same circuit bit by bit: d_i -> register (power-up high) -> q_i.
CDB_SGATE_NETLIST* register_bits() {
  CDB_SGATE_NETLIST* nl = new CDB_SGATE_NETLIST;
  CDB_SGATE_NODE* clk = make_input_pin(nl, "clk");
  for (int i = 0; i < 8; ++i) {
    CDB_SGATE_NODE* r = make_dff(nl, make_input_pin(nl, ("d" + std::to_string(i)).c_str()), clk);
    tie_controls(r);
    r->cast_to_dff()->set_power_up_high(true);
    make_output_pin(nl, ("q" + std::to_string(i)).c_str(), r);
  }
  return nl;
}

void record_register_names(CDB_SGATE_DFF* reg) {
  std::vector<KAVU_NAME_RECORD> names;
  for (int i = 0; i < 8; ++i) names.push_back(KAVU_NAME_RECORD{child_name("r[" + std::to_string(i) + "]"), i == 5});
  kavu_record_bus_names(unsigned(reg->get_instance_name_id()), names);
}

std::set<std::string> register_paths(const CDB_SGATE_NETLIST* nl) {
  std::set<std::string> paths;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
    if (*it && is_register(*it)) {
      paths.insert((*it)->get_string_hpath());
      EXPECT_TRUE((*it)->get_reg_flags()->powers_up_high()) << (*it)->get_string_hpath();
    }
  return paths;
}

}  // namespace

// One word-level register of width 8, power-up 255, fed straight from the
// merger of the eight inputs; removing the bus operators instead gives eight
// registers named by the records.
TEST(KavuWordLevelBus, RegisterBusPowersUpHighAndKeepsBitNames) {
  FAMILY fam;
  CDB_SGATE_DFF* reg = nullptr;
  std::unique_ptr<CDB_SGATE_NETLIST> bus_form(register_bus(&reg));
  // The gate simulator reads a bus gate as its bit 0 only: the reference is
  // the circuit written bit by bit.
  std::unique_ptr<CDB_SGATE_NETLIST> ref(register_bits());
  // Bus removal on the gate netlist.
  record_register_names(reg);
  EXPECT_EQ(kavu_remove_bus_ops(bus_form.get()), 1);
  {
    KAVU_TRACK(bus_form);
    std::set<std::string> want{"top|r"};
    for (int i = 1; i < 8; ++i) want.insert("top|r[" + std::to_string(i) + "]");
    EXPECT_EQ(register_paths(bus_form.get()), want);
    for (auto it = bus_form->begin_node_list(); it != bus_form->end_node_list(); ++it)
      EXPECT_FALSE(*it && (kavu_is_a_bus_in_op(*it) || kavu_is_a_bus_out_op(*it)));
    ASSERT_KAVU_EQUIVALENT(ref, bus_form);
  }
  // The word-level round trip of the same bus.
  CDB_SGATE_DFF* reg2 = nullptr;
  CDB_SGATE_NETLIST* nl = register_bus(&reg2);
  record_register_names(reg2);
  std::unique_ptr<CDB_SGATE_NETLIST> ref2(register_bits());
  WL_NETLIST* wl = kavu_make_wl_netlist(nl, &fam.facade, nullptr, nullptr);
  std::map<int, int> kinds = wl_kind_counts(wl);
  EXPECT_EQ(kinds[int(WL_NODE_TYPE::DFF)], 1);
  WL_DFF* dff = nullptr;
  for (auto it = wl->begin_node_list(); it != wl->end_node_list(); ++it)
    if ((*it)->cast_to_dff()) dff = (*it)->cast_to_dff();
  ASSERT_NE(dff, nullptr);
  EXPECT_EQ(dff->get_first_oterm()->width(), 8u);
  EXPECT_EQ(dff->get_power_up(), WL_CONST(255));
  WL_OTERM* data_src = dff->get_iterm(CDB_DFF_DATA)->get_source();
  ASSERT_NE(data_src, nullptr);
  EXPECT_EQ(data_src->get_my_node()->get_node_type(), WL_NODE_TYPE::MERGER) << "no splitter in front of the register";
  EXPECT_EQ(dff->get_bit_instance_name(3)->get_short_hpath(0), "top|r[3]");
  EXPECT_TRUE(wl_matches_gates(ref2.get(), wl, 4, 8));
  CDB_SGATE_NETLIST* back = kavu_convert_wl_to_sgate_netlist(wl, &fam.facade, fam.info.get(), nullptr);
  std::unique_ptr<CDB_SGATE_NETLIST> owned(back);
  back->sweep(false);
  back->garbage_collect(true, false);
  KAVU_TRACK(back);
  std::set<std::string> want;
  for (int i = 0; i < 8; ++i) want.insert("top|r[" + std::to_string(i) + "]");
  EXPECT_EQ(register_paths(back), want);
  ASSERT_KAVU_EQUIVALENT(ref2, back);
  // The way back emptied the pin map: a new build may start.
  CDB_SGATE_DFF* reg3 = nullptr;
  CDB_SGATE_NETLIST* again = register_bus(&reg3);
  kavu_remove_bus_ops(again);  // empties the bit-name records of this test
  delete kavu_convert_wl_to_sgate_netlist(kavu_make_wl_netlist(again, &fam.facade, nullptr, nullptr), &fam.facade,
                                          fam.info.get(), nullptr);
}

// Bus removal: a bus-in's inverted and constant inputs reach every clone,
// directly and through a bus-out fed by the bus-in; in parallel synthesis
// the clones of a register are still named. Outside it a register clone
// takes a final name of its own at once, also while names are deferred
// (once, it kept its original's name until the deferred pass).
TEST(KavuWordLevelBus, RemovalKeepsBusInInversionsAndConstants) {
  enum NAMING { SERIAL, SERIAL_DEFERRED, PARALLEL };
  for (NAMING naming : {SERIAL, SERIAL_DEFERRED, PARALLEL}) {
    const bool parallel = naming == PARALLEL;
    SCOPED_TRACE(int(naming));
    CDB_SGATE_NETLIST nl;
    CDB_SGATE_NODE* clk = make_input_pin(&nl, "clk");
    CDB_SGATE_OPERATOR* a = kavu_create_bus_in_operator(&nl, 4)->cast_to_operator();
    CDB_SGATE_OPERATOR* b = kavu_create_bus_in_operator(&nl, 4)->cast_to_operator();
    for (int i = 0; i < 4; ++i) {
      CDB_SGATE_ITERM* ta = a->get_iterm(CDB_OPER_PORT_A, i);
      CDB_SGATE_ITERM* tb = b->get_iterm(CDB_OPER_PORT_A, i);
      if (i == 1) {
        ta->set_gnd();
      } else {
        make_input_pin(&nl, ("a" + std::to_string(i)).c_str())->get_single_oterm()->insert_fanout(ta);
        if (i != 2) ta->set_invert();
      }
      make_input_pin(&nl, ("b" + std::to_string(i)).c_str())->get_single_oterm()->insert_fanout(tb);
      if (i == 3) tb->set_invert();
    }
    CDB_SGATE_COMB* x = new CDB_SGATE_COMB(child_name("x"), CDB_COMB_XOR);
    nl.add_node(x);
    x->insert_unordered_fanin(a->get_single_oterm());
    x->insert_unordered_fanin(b->get_single_oterm())->set_invert();
    CDB_SGATE_DFF* r = new CDB_SGATE_DFF(child_name("rx"), false);
    r->create_all_inputs();
    nl.add_node(r);
    tie_controls(r);
    x->get_single_oterm()->insert_fanout(r->get_input_term(CDB_DFF_DATA));
    clk->get_single_oterm()->insert_fanout(r->get_input_term(CDB_DFF_CLK));
    CDB_SGATE_OPERATOR* o1 = kavu_create_bus_out_operator(&nl, 4)->cast_to_operator();
    CDB_SGATE_OPERATOR* o2 = kavu_create_bus_out_operator(&nl, 4)->cast_to_operator();
    r->get_single_oterm()->insert_fanout(o1->get_iterm(CDB_OPER_PORT_A, 0));
    a->get_single_oterm()->insert_fanout(o2->get_iterm(CDB_OPER_PORT_A, 0));
    for (int i = 0; i < 4; ++i) {
      for (CDB_SGATE_OPERATOR* o : {o1, o2}) {
        CDB_SGATE_NODE* q = make_output_pin(&nl, ("q" + std::to_string(o == o1) + std::to_string(i)).c_str(), nullptr);
        q->get_single_iterm()->disconnect_from_source();
        o->get_oterm(CDB_OPER_PORT_O, i)->insert_fanout(q->get_single_iterm());
        if (i == 2) q->get_single_iterm()->set_invert();
      }
    }
    // The reference, bit by bit: x_i = a_i' XOR ~b_i', r_i <= x_i,
    // q1i = r_i and q0i = a_i' (both inverted for i = 2).
    CDB_SGATE_NETLIST ref;
    CDB_SGATE_NODE* rclk = make_input_pin(&ref, "clk");
    std::vector<CDB_SGATE_NODE*> ra(4, nullptr), rb(4);
    for (int i = 0; i < 4; ++i) {
      if (i != 1) ra[i] = make_input_pin(&ref, ("a" + std::to_string(i)).c_str());
      rb[i] = make_input_pin(&ref, ("b" + std::to_string(i)).c_str());
    }
    for (int i = 0; i < 4; ++i) {
      CDB_SGATE_COMB* rx = new CDB_SGATE_COMB(nullptr, CDB_COMB_XOR);
      ref.add_node(rx);
      CDB_SGATE_ITERM* ta = rx->create_input_term(nullptr);
      rx->insert_unordered_fanin_term(ta);
      if (i == 1) {
        ta->set_gnd();
      } else {
        ra[i]->get_single_oterm()->insert_fanout(ta);
        if (i != 2) ta->set_invert();
      }
      CDB_SGATE_ITERM* tb = rx->insert_unordered_fanin(rb[i]->get_single_oterm());
      if (i != 3) tb->set_invert();
      CDB_SGATE_NODE* rr = make_dff(&ref, rx, rclk);
      tie_controls(rr);
      make_output_pin(&ref, ("q1" + std::to_string(i)).c_str(), rr, i == 2);
      CDB_SGATE_COMB* keep = new CDB_SGATE_COMB(nullptr, CDB_COMB_NAME_KEEPER);
      ref.add_node(keep);
      CDB_SGATE_ITERM* tk = keep->create_input_term(nullptr);
      keep->insert_unordered_fanin_term(tk);
      if (i == 1) {
        tk->set_gnd();
      } else {
        ra[i]->get_single_oterm()->insert_fanout(tk);
        if (i != 2) tk->set_invert();
      }
      make_output_pin(&ref, ("q0" + std::to_string(i)).c_str(), keep, i == 2);
    }
    // A parallel run names new gates in the deferred mode.
    cdb_sgate_set_synthesis_running_in_parallel(parallel);
    if (naming != SERIAL) kavu_set_syn_id_sgate_naming_function();
    int second_names = 0;
    {
      DEBUG_CAPTURE cap("KAVU");
      EXPECT_EQ(kavu_remove_bus_ops(&nl), 1);
      for (const std::string& line : cap.lines())
        if (line.find("Created real or temp name for clone #") != std::string::npos) {
          EXPECT_NE(line.find("DFF"), std::string::npos) << line;
          ++second_names;
        }
    }
    if (naming != SERIAL) kavu_reset_sgate_naming_function();
    cdb_sgate_set_synthesis_running_in_parallel(false);
    KAVU_TRACK(nl);
    EXPECT_EQ(second_names, 3) << "one per register clone";
    EXPECT_EQ(register_names(&nl).size(), 4u);
    for (auto it = nl.begin_node_list(); it != nl.end_node_list(); ++it)
      if (*it && is_register(*it)) {
        EXPECT_TRUE((*it)->get_instance_name() || (*it)->get_synfrom_name());
        if (!parallel && *it != r) {
          EXPECT_NE((*it)->get_instance_name(), r->get_instance_name());
          EXPECT_EQ((*it)->get_single_oterm()->get_instance_name(), (*it)->get_instance_name());
        }
      }
    if (!parallel) {
      const std::multiset<const HDB_INSTANCE_NAME*> names = register_names(&nl);
      EXPECT_EQ(std::set<const HDB_INSTANCE_NAME*>(names.begin(), names.end()).size(), 4u);
    }
    ASSERT_KAVU_EQUIVALENT(ref, nl);
  }
}

// Bus removal gives cloned RAMs memory names of their own: per bit, each
// logical name of the original becomes one new name that every clone of
// that bit which shared it shares again. Once, the clones kept the
// original's names and no line told of it.
TEST(KavuWordLevelBus, ClonedRamsGetNewLogicalNamesPerBit) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* clk = make_input_pin(&nl, "clk");
  CDB_SGATE_OPERATOR* in = kavu_create_bus_in_operator(&nl, 3)->cast_to_operator();
  for (int i = 0; i < 3; ++i)
    make_input_pin(&nl, ("d" + std::to_string(i)).c_str())->get_single_oterm()->insert_fanout(
        in->get_iterm(CDB_OPER_PORT_A, i));
  HDB_INSTANCE_NAME* mem = child_name("mem");
  HDB_INSTANCE_NAME* memb = child_name("memb");
  for (int k = 0; k < 2; ++k) {
    auto* ram = new CDB_SGATE_WYSIWYG_RAM_BLOCK(child_name("ram" + std::to_string(k)), CDB_WYSIWYG_TYPE(64));
    nl.add_node(ram);
    ram->set_logical_name(0, mem);  // both RAMs share the memory of port 0
    ram->set_logical_name(1, k == 0 ? memb : nullptr);
    in->get_single_oterm()->insert_fanout(kavu_fetch_create_wys_iterm(DB_INPUT_PORT_TYPE(34), ram));
    clk->get_single_oterm()->insert_fanout(kavu_fetch_create_wys_iterm(DB_INPUT_PORT_TYPE(35), ram));
    CDB_SGATE_OPERATOR* o = kavu_create_bus_out_operator(&nl, 3)->cast_to_operator();
    kavu_fetch_create_wys_oterm(DB_OUTPUT_PORT_TYPE(41), ram, false)->insert_fanout(o->get_iterm(CDB_OPER_PORT_A, 0));
    for (int i = 0; i < 3; ++i) {
      CDB_SGATE_NODE* q = make_output_pin(&nl, ("q" + std::to_string(k) + std::to_string(i)).c_str(), nullptr);
      q->get_single_iterm()->disconnect_from_source();
      o->get_oterm(CDB_OPER_PORT_O, i)->insert_fanout(q->get_single_iterm());
    }
  }
  DEBUG_CAPTURE cap("KAVU");
  EXPECT_EQ(kavu_remove_bus_ops(&nl), 1);
  KAVU_TRACK(nl);
  // Per port-0 name, the RAMs of one bit: the one with a port-1 name came
  // from ram0.
  std::map<const HDB_INSTANCE_NAME*, std::vector<const HDB_INSTANCE_NAME*>> by_bit;
  for (auto it = nl.begin_node_list(); it != nl.end_node_list(); ++it)
    if (*it && (*it)->cast_to_wysiwyg_ram_block())
      by_bit[(*it)->cast_to_wysiwyg_ram_block()->get_logical_name(0)].push_back(
          (*it)->cast_to_wysiwyg_ram_block()->get_logical_name(1));
  ASSERT_EQ(by_bit.size(), 3u);
  EXPECT_EQ(by_bit.count(mem), 1u);
  std::set<const HDB_INSTANCE_NAME*> port1;
  for (const auto& [name0, names1] : by_bit) {
    ASSERT_NE(name0, nullptr);
    ASSERT_EQ(names1.size(), 2u) << name0->get_short_hpath();
    EXPECT_EQ(std::count(names1.begin(), names1.end(), nullptr), 1);
    port1.insert(names1[0] ? names1[0] : names1[1]);
    if (name0 != mem) {
      EXPECT_NE(name0->get_short_hpath().find("mem~clone"), std::string::npos) << name0->get_short_hpath();
    }
  }
  EXPECT_EQ(port1.size(), 3u);
  EXPECT_EQ(port1.count(memb), 1u);
  int lines = 0, unnamed = 0;
  for (const std::string& line : cap.lines()) {
    if (line.find("Setting logical names ") == std::string::npos) continue;
    ++lines;
    EXPECT_NE(line.find(" on cloned RAM "), std::string::npos) << line;
    EXPECT_NE(line.find(" of a partition"), std::string::npos) << line;
    if (line.find(" and no-name on cloned RAM ") != std::string::npos) ++unnamed;
  }
  EXPECT_EQ(lines, 4);
  EXPECT_EQ(unnamed, 2);
}

// ---------------------------------------------------------------- subsets

// A cut of a sequential design: one boundary buffer per crossing signal,
// every gate outside the subset untouched, the same function afterwards.
TEST(KavuWordLevelSubset, BoundaryBuffersMatchCrossingSignals) {
  FAMILY fam;
  for (const char* name : {"mcnc/s298", "small/counter8_lut4"}) {
    SCOPED_TRACE(name);
    LOADED_NETLIST nl = load_blif(name);
    std::unique_ptr<CDB_SGATE_NETLIST> ref(nl->clone(nullptr, true, true));
    nl->clear_temp_pointers();
    ref->set_hierarchy(nullptr);
    std::vector<CDB_SGATE_NODE*> chosen;
    kavu_fill_subnet_vec(nl.get(), chosen, nullptr);
    ASSERT_GT(chosen.size(), 4u);
    std::set<CDB_SGATE_NODE*> subset(chosen.begin(), chosen.begin() + chosen.size() / 2);
    auto inside = [&](CDB_SGATE_NODE* n) { return n->cast_to_io() || subset.count(n); };
    std::set<CDB_SGATE_OTERM*> crossing;
    std::vector<CDB_SGATE_NODE*> outside;
    for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
      CDB_SGATE_NODE* n = *it;
      if (!n) continue;
      if (!inside(n)) outside.push_back(n);
      if (!subset.count(n)) continue;
      for (CDB_SGATE_ITERM* t : n->get_input_terms())
        if (t && t->get_source_oterm() && !inside(t->get_source_oterm()->get_my_node()))
          crossing.insert(t->get_source_oterm());
      for (CDB_SGATE_OTERM* o : n->get_output_terms())
        if (o)
          for (CDB_SGATE_ITERM* f : o->fanouts())
            if (!inside(f->get_my_node())) crossing.insert(o);
    }
    const size_t gates_before = nl->size();
    GEN_DYN_FLAG boundary = nl->get_flag_manager().create_flag("wl_boundary");
    WL_NETLIST* wl = kavu_make_wl_netlist(nl.get(), &fam.facade, &subset, &boundary);
    size_t buffers = 0;
    for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
      if (*it && kavu_is_a_protect_buffer(*it) && (*it)->get_single_oterm()->test_dyn_flag(boundary)) ++buffers;
    EXPECT_EQ(buffers, crossing.size());
    EXPECT_EQ(nl->size(), gates_before + buffers);
    CDB_SGATE_NETLIST* back = kavu_convert_wl_to_sgate_netlist(wl, &fam.facade, fam.info.get(), nl.get());
    EXPECT_EQ(back, nl.get());
    nl->get_flag_manager().destroy_flag(boundary);
    nl->sweep(false);
    nl->garbage_collect(true, false);
    KAVU_TRACK(nl);
    for (CDB_SGATE_NODE* n : outside) EXPECT_EQ(n->get_netlist(), nl.get()) << n->get_string_hpath();
    ASSERT_KAVU_EQUIVALENT(ref, nl);
  }
}

TEST(KavuWordLevelSubset, SettlingLeavesRequestsOutsideTheSubset) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* in_gate = make_not(&nl, a);
  CDB_SGATE_NODE* out_gate = make_not(&nl, a);
  CDB_SGATE_NODE* reg_in = make_dff(&nl, a, a);
  CDB_SGATE_NODE* reg_out = make_dff(&nl, a, a);
  for (CDB_SGATE_NODE* g : {in_gate, out_gate}) g->set_kff(true, true, true);
  for (CDB_SGATE_NODE* r : {reg_in, reg_out}) r->cast_to_dff()->set_prune_allowed(false);
  std::set<CDB_SGATE_NODE*> subset{in_gate, reg_in};
  kavu_update_wl_subnet_flags(&nl, &subset);
  EXPECT_FALSE(in_gate->kff_in_force());
  EXPECT_TRUE(in_gate->kff_read());
  EXPECT_TRUE(out_gate->kff_in_force()) << "a request outside the subset stays in force";
  EXPECT_TRUE(reg_in->cast_to_dff()->prune_allowed());
  EXPECT_FALSE(reg_out->cast_to_dff()->prune_allowed());
}

// ---------------------------------------------------------------- the way back

namespace {

// Gate pins and word-level pins of the same names, paired in the pin map as
// a build would pair them.
struct PIN_PAIRS {
  CDB_SGATE_NETLIST* gates = new CDB_SGATE_NETLIST;
  WL_NETLIST* wl = wl_create_netlist("t");
  std::vector<std::pair<CDB_SGATE_NODE*, WL_PIN*>> ins, outs;
  WL_PIN* add(const std::string& name, bool input) {
    CDB_SGATE_NODE* g = input ? make_input_pin(gates, name.c_str()) : make_output_pin(gates, name.c_str(), nullptr);
    if (!input) g->get_single_iterm()->disconnect_from_source();
    gates->delete_node(g);  // kept outside, as a whole-netlist build keeps them
    kavu_wl_kept_gates().push_back(g);
    WL_PIN* p = new WL_PIN(input ? 0 : 1, 1, g->get_instance_name());
    wl->add_node(p);
    kavu_wl_io_hash()[p] = g;
    (input ? ins : outs).emplace_back(g, p);
    return p;
  }
};

// The simulation word of input `i` when row k of `rows` drives input i with
// bit i of k: every input combination once.
uint64_t exhaustive_word(size_t i, unsigned rows) {
  uint64_t w = 0;
  for (unsigned k = 0; k < rows; ++k)
    if ((k >> i) & 1) w |= 1ull << k;
  return w;
}

}  // namespace

// Adders with zero and sign extension and merger inversions: the gates made
// on the way back compute what the word-level evaluator computes, on every
// input pattern.
TEST(KavuWordLevelAdder, ExtensionsAndMergerInversionsSimulateCorrectly) {
  FAMILY fam;
  for (WL_ARITH_EXT_TYPE ext : {WL_ARITH_EXT_TYPE::ZERO, WL_ARITH_EXT_TYPE::SIGN}) {
    for (bool live_cin : {false, true}) {
      SCOPED_TRACE(std::to_string(int(ext)) + (live_cin ? " cin" : ""));
      PIN_PAIRS p;
      WL_MERGER::allow_table_inversions();
      std::vector<WL_PIN*> a, b;
      for (int i = 0; i < 3; ++i) a.push_back(p.add("a" + std::to_string(i), true));
      for (int i = 0; i < 3; ++i) b.push_back(p.add("b" + std::to_string(i), true));
      WL_PIN* ci = p.add("ci", true);
      WL_MERGER* ma = new WL_MERGER(3, 3);
      WL_MERGER* mb = new WL_MERGER(4, 4);
      WL_ADDER* add = new WL_ADDER(false, 4);
      WL_SPLITTER* split = new WL_SPLITTER(4);
      for (WL_NODE* n : std::initializer_list<WL_NODE*>{ma, mb, add, split}) p.wl->add_node(n);
      for (unsigned i = 0; i < 3; ++i) {
        ma->get_iterm(i)->connect(a[i]->get_first_oterm(), i == 2);  // an inverted merger input
        ma->register_entry(i, 0, i == 1, i);                         // and an inverted entry
        mb->get_iterm(i)->connect(b[i]->get_first_oterm(), false);
        mb->register_entry(i, 0, i == 0, i);
      }
      mb->get_iterm(3)->set_vcc();  // a constant bit, inverted by its entry: GND
      mb->register_entry(3, 0, true, 3);
      add->get_iterm(0)->set_width(3);
      add->get_iterm(0)->connect(ma->get_first_oterm(), false);
      add->get_iterm(0)->set_arith_ext(ext);
      add->get_iterm(1)->connect(mb->get_first_oterm(), true);  // the reader inverts too
      if (live_cin)
        add->get_iterm(2)->connect(ci->get_first_oterm(), false);
      else
        add->get_iterm(2)->set_gnd();
      split->get_iterm(0)->connect(add->get_first_oterm(), false);
      for (int i = 0; i < 4; ++i) p.add("s" + std::to_string(i), false)->get_iterm(0)->connect(split->get_oterm(i), false);
      p.add("co", false)->get_iterm(0)->connect(add->get_oterm(1), false);
      // The evaluator's answers before the conversion consumes the netlist.
      std::vector<uint64_t> want;
      {
        WL_SIMULATOR ws(p.wl);
        ASSERT_TRUE(ws.ok()) << ws.error();
        for (size_t i = 0; i < p.ins.size(); ++i) ws.set_input(p.ins[i].second, 0, exhaustive_word(i, 64));
        ws.eval();
        for (auto& o : p.outs) want.push_back(ws.output(o.second, 0) & 0xffffffffffffffffull);
      }
      std::unique_ptr<CDB_SGATE_NETLIST> gates(p.gates);
      kavu_convert_wl_to_sgate_netlist(p.wl, &fam.facade, fam.info.get(), gates.get());
      KAVU_TRACK(gates);
      NETLIST_SIMULATOR gs(gates.get());
      ASSERT_TRUE(gs.ok()) << gs.error();
      for (size_t i = 0; i < p.ins.size(); ++i) gs.set_input(p.ins[i].first, exhaustive_word(i, 64));
      gs.eval();
      for (size_t i = 0; i < p.outs.size(); ++i) EXPECT_EQ(gs.output(p.outs[i].first), want[i]) << "output " << i;
      // Independent reference: the sum of the operands as the netlist defines them.
      for (unsigned k = 0; k < 64; ++k) {
        unsigned av = 0, bv = 0;
        for (unsigned i = 0; i < 3; ++i) {
          bool abit = ((k >> i) & 1) != 0;
          if (i == 1 || i == 2) abit = !abit;
          av |= unsigned(abit) << i;
          bool bbit = (((k >> (3 + i)) & 1) != 0) != (i == 0);
          bv |= unsigned(bbit) << i;
        }
        if (ext == WL_ARITH_EXT_TYPE::SIGN && (av & 4)) av |= 8;
        bv = (~bv) & 15;  // bit 3 is GND, then the reader inverts all four
        const unsigned cin = live_cin ? ((k >> 6) & 1) : 0;
        const unsigned sum = av + bv + cin;
        unsigned got = 0;
        for (unsigned i = 0; i < 5; ++i) got |= unsigned((gs.output(p.outs[i].first) >> k) & 1) << i;
        EXPECT_EQ(got, sum & 31) << "pattern " << k;
      }
    }
  }
}

// A seven-input LUT exists only as the extended logic cell of a family that
// has one.
TEST(KavuWordLevelBack, SevenInputLutNeedsAnExtendedLutFamily) {
  for (int family : {15, 45}) {
    SCOPED_TRACE(family);
    FAMILY fam(family);
    PIN_PAIRS p;
    WL_LUT* lut = new WL_LUT(1, CDB_LUTMASK(), 1);
    lut->set_mask64(0x8000000000000001ull);
    p.wl->add_node(lut);
    for (int i = 0; i < 7; ++i) lut->get_iterm(i)->connect(p.add("i" + std::to_string(i), true)->get_first_oterm(), false);
    p.add("y", false)->get_iterm(0)->connect(lut->get_first_oterm(), false);
    std::unique_ptr<CDB_SGATE_NETLIST> gates(p.gates);
    if (family == 15) {
      EXPECT_KAVU_INTERNAL_ERROR(kavu_convert_wl_to_sgate_netlist(p.wl, &fam.facade, fam.info.get(), gates.get()),
                                 "has_quellin_style_extended_lut");
      delete p.wl;
      for (CDB_SGATE_NODE* g : kavu_wl_kept_gates())
        if (!g->get_netlist()) gates->add_node(g);
      kavu_wl_kept_gates().clear();
      kavu_wl_io_hash().clear();
      continue;
    }
    kavu_convert_wl_to_sgate_netlist(p.wl, &fam.facade, fam.info.get(), gates.get());
    KAVU_TRACK(gates);
    CDB_SGATE_WYSIWYG* cell = nullptr;
    for (auto it = gates->begin_node_list(); it != gates->end_node_list(); ++it)
      if (*it && (*it)->cast_to_wysiwyg()) cell = (*it)->cast_to_wysiwyg();
    ASSERT_NE(cell, nullptr);
    EXPECT_TRUE(cell->mode_is_set(CDB_WYSIWYG_EXTENDED_LUT));
    EXPECT_EQ(cell->get_lutmask_value(), 0x8000000000000001ull);
    for (int i = 0; i < 7; ++i) EXPECT_TRUE(cdb_is_connected(cell->get_iterm_by_type(DB_INPUT_PORT_TYPE(12 + i), 0)));
  }
}

TEST(KavuWordLevelBack, MissingMifErrorNamesTheRomWithOrWithoutAnInstanceName) {
  FAMILY fam;
  WL_DFF unnamed(1);
  WL_DFF named(1, child_name("rom"));
  kavu_issue_missing_mif_error(&unnamed, "a.mif", &fam.facade, nullptr);
  kavu_issue_missing_mif_error(&named, "b.mif", &fam.facade, nullptr);
  std::vector<MSG_LOG_ENTRY> log = msg_log();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].id, 286034);
  EXPECT_NE(log[0].text.find("a.mif"), std::string::npos);
  EXPECT_NE(log[0].text.find("|~WL" + std::to_string(unnamed.get_id())), std::string::npos) << log[0].text;
  EXPECT_NE(log[1].text.find("rom"), std::string::npos) << log[1].text;
}

// ---------------------------------------------------------------- registers

// Flip-flop atoms become DFF gates with every port carried (preset
// included); an atom with a live second clear, and an atom outside the
// subset, stay atoms.
TEST(KavuWordLevelRegisters, AtomConversionCarriesPresetAndRespectsSubsetAndSecondClear) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* d = make_input_pin(&nl, "d");
  CDB_SGATE_NODE* clk = make_input_pin(&nl, "clk");
  CDB_SGATE_NODE* pre = make_input_pin(&nl, "pre");
  CDB_SGATE_NODE* clr2 = make_input_pin(&nl, "clr2");
  std::vector<CDB_SGATE_WYSIWYG*> ffs;
  for (int i = 0; i < 3; ++i) {
    CDB_SGATE_WYSIWYG* ff = kavu_create_new_lc_ff(child_name("ff" + std::to_string(i)), DEV_FAMILY_ENUM(15))->cast_to_wysiwyg();
    nl.add_node(ff);
    d->get_single_oterm()->insert_fanout(kavu_fetch_create_wys_iterm(DB_INPUT_PORT_TYPE(20), ff));
    clk->get_single_oterm()->insert_fanout(kavu_fetch_create_wys_iterm(DB_INPUT_PORT_TYPE(7), ff));
    pre->get_single_oterm()->insert_fanout(kavu_fetch_create_wys_iterm(DB_INPUT_PORT_TYPE(27), ff));
    if (i == 2) clr2->get_single_oterm()->insert_fanout(kavu_fetch_create_wys_iterm(DB_INPUT_PORT_TYPE(31), ff));
    make_output_pin(&nl, ("q" + std::to_string(i)).c_str(), nullptr)->get_single_iterm()->disconnect_from_source();
    kavu_fetch_create_wys_oterm(DB_OUTPUT_PORT_TYPE(10), ff, false)->insert_fanout(nl.get_output_pins().back()->get_single_iterm());
    ffs.push_back(ff);
  }
  std::unique_ptr<CDB_SGATE_NETLIST> ref(nl.clone(nullptr, true, true));
  nl.clear_temp_pointers();
  std::set<CDB_SGATE_NODE*> subset{ffs[0], ffs[2]};
  kavu_convert_wys_ffs_to_dffs(&nl, nullptr, nullptr, &subset);
  KAVU_TRACK(nl);
  int dffs = 0, atoms = 0;
  for (auto it = nl.begin_node_list(); it != nl.end_node_list(); ++it) {
    if (!*it) continue;
    if (CDB_SGATE_DFF* g = (*it)->cast_to_dff()) {
      ++dffs;
      EXPECT_EQ(g->get_string_hpath(), "top|ff0");
      EXPECT_EQ(g->get_input_term(CDB_DFF_PRESET)->get_source_oterm(), pre->get_single_oterm());
      EXPECT_TRUE(subset.count(g));
    }
    if (kavu_is_a_wys_ff(*it)) ++atoms;
  }
  EXPECT_EQ(dffs, 1);
  EXPECT_EQ(atoms, 2);
  ASSERT_KAVU_EQUIVALENT(ref, nl);
  // Copying back skips the inputs a register never had connected.
  CDB_SGATE_NODE* bare = make_dff(&nl, d, clk);
  CDB_SGATE_WYSIWYG* atom = kavu_create_new_lc_ff(nullptr, DEV_FAMILY_ENUM(15))->cast_to_wysiwyg();
  nl.add_node(atom);
  kavu_copy_dff_inputs_to_wys_ff(bare->cast_to_dff(), atom);
  EXPECT_EQ(atom->get_iterm_by_type(DB_INPUT_PORT_TYPE(20), 0)->get_source_oterm(), d->get_single_oterm());
  EXPECT_EQ(atom->get_iterm_by_type(DB_INPUT_PORT_TYPE(6), 0), nullptr);
  nl.delete_node(bare);
  delete bare;
}

namespace {

// Converts the netlist (taken over) to word level and back, and expects the
// result to hold that many DFF gates and flip-flop atoms and to keep the
// netlist's behaviour.
void expect_registers_after_round_trip(CDB_SGATE_NETLIST* nl, FAMILY& fam, int dffs, int atoms) {
  std::unique_ptr<CDB_SGATE_NETLIST> ref(nl->clone(nullptr, true, true));
  nl->clear_temp_pointers();
  CMP_FACADE* facade = &fam.facade;
  WL_NETLIST* wl = kavu_make_wl_netlist(nl, facade, nullptr, nullptr);
  std::unique_ptr<CDB_SGATE_NETLIST> back(kavu_convert_wl_to_sgate_netlist(wl, facade, fam.info.get(), nullptr));
  back->sweep(false);
  back->garbage_collect(true, false);
  KAVU_TRACK(back);
  int got_dffs = 0, got_atoms = 0;
  for (auto it = back->begin_node_list(); it != back->end_node_list(); ++it) {
    if (*it && (*it)->cast_to_dff()) ++got_dffs;
    if (*it && kavu_is_a_wys_ff(*it)) ++got_atoms;
  }
  EXPECT_EQ(got_dffs, dffs);
  EXPECT_EQ(got_atoms, atoms);
  ASSERT_KAVU_EQUIVALENT(ref, back);
}

}  // namespace

// A register with a live synchronous load stays a DFF gate on the families
// whose flip-flop has none, and becomes a flip-flop atom elsewhere.
TEST(KavuWordLevelRegisters, SynchronousLoadOnFamiliesWithoutOne) {
  for (int family : {15, 25, 45}) {
    SCOPED_TRACE(family);
    FAMILY fam(family);
    CDB_SGATE_NETLIST* nl = new CDB_SGATE_NETLIST;
    CDB_SGATE_NODE* d = make_input_pin(nl, "d");
    CDB_SGATE_NODE* clk = make_input_pin(nl, "clk");
    CDB_SGATE_NODE* ld = make_input_pin(nl, "ld");
    CDB_SGATE_NODE* r = make_dff(nl, d, clk);
    tie_controls(r);
    r->get_input_term(CDB_DFF_SLOAD)->disconnect_from_source();
    ld->get_single_oterm()->insert_fanout(r->get_input_term(CDB_DFF_SLOAD));
    make_output_pin(nl, "q", r);
    expect_registers_after_round_trip(nl, fam, family == 15 ? 0 : 1, family == 15 ? 1 : 0);
  }
}

// Which word-level registers become flip-flop atoms again: those marked
// from-user or don't-touch, and those whose synchronous load or clear acts
// (in use, not excluded by the opaque status). A load or clear tied to GND
// never acts; every plain register ties its unused controls so, and taking
// the tie as a use turned every register on the word-level path into an atom.
TEST(KavuWordLevelRegisters, AtomDecisionTakesControlsTiedToGndAsUnused) {
  enum USE { OPEN, DRIVEN, GND, VCC, OPAQUE };
  struct CASE {
    USE m_sload, m_sclr;
    bool m_from_user, m_atom;
  };
  const CASE cases[] = {{OPEN, OPEN, false, false},   {GND, GND, false, false},  {DRIVEN, GND, false, true},
                        {GND, DRIVEN, false, true},   {VCC, GND, false, true},   {GND, VCC, false, true},
                        {OPAQUE, OPAQUE, false, false}, {OPAQUE, DRIVEN, false, true}, {GND, GND, true, true}};
  WL_NETLIST wl("regs");
  WL_PIN* pin = new WL_PIN(0, 1, nullptr);
  wl.add_node(pin);
  auto set = [&](WL_ITERM* t, USE use) {
    if (use == DRIVEN || use == OPAQUE) t->connect(pin->get_first_oterm(), false);
    if (use == GND) t->set_gnd();
    if (use == VCC) t->set_vcc();
    t->set_opaque(use == OPAQUE);
  };
  for (const CASE& c : cases) {
    WL_DFF* ff = new WL_DFF(1);
    wl.add_node(ff);
    set(ff->get_iterm(CDB_DFF_SLOAD), c.m_sload);
    set(ff->get_iterm(CDB_DFF_SCLR), c.m_sclr);
    ff->set_from_user(c.m_from_user);
    EXPECT_EQ(kavu_wl_ff_should_become_wys(ff), c.m_atom)
        << "sload " << c.m_sload << " sclr " << c.m_sclr << " from-user " << c.m_from_user;
  }
  // A register that must become an atom has to have its gates in the map.
  FAMILY fam;
  CDB_SGATE_NETLIST gates;
  auto empty = std::make_unique<KAVU_WL_SGATES_HASH>();
  EXPECT_KAVU_INTERNAL_ERROR(kavu_convert_wl_dffs_to_wys_ffs(&wl, empty.get(), &gates, fam.info.get()),
                             "wl_sgates_hash_iter != wl_sgates_hash.end()");
  // The round trip of a plain register with its controls tied keeps a DFF gate.
  CDB_SGATE_NETLIST* nl = new CDB_SGATE_NETLIST;
  CDB_SGATE_NODE* r = make_dff(nl, make_input_pin(nl, "d"), make_input_pin(nl, "clk"));
  tie_controls(r);
  make_output_pin(nl, "q", r);
  expect_registers_after_round_trip(nl, fam, 1, 0);
}

// Whole-netlist mode keeps the pins and the device atoms the word-level
// netlist wraps: the same objects come back in the returned netlist.
TEST(KavuWordLevelRoundTrip, WholeNetlistKeepsPinsAndWrappedAtoms) {
  FAMILY fam;
  CDB_SGATE_NETLIST* nl = new CDB_SGATE_NETLIST;
  CDB_SGATE_NODE* a = make_input_pin(nl, "a");
  CDB_SGATE_NODE* b = make_input_pin(nl, "b");
  CDB_SGATE_WYSIWYG* cell = kavu_create_new_lc_comb(child_name("cell"), DEV_FAMILY_ENUM(15))->cast_to_wysiwyg();
  nl->add_node(cell);
  a->get_single_oterm()->insert_fanout(kavu_fetch_create_wys_iterm(DB_INPUT_PORT_TYPE(12), cell));
  b->get_single_oterm()->insert_fanout(kavu_fetch_create_wys_iterm(DB_INPUT_PORT_TYPE(13), cell));
  cell->set_lutmask_value(0x6666666666666666ull);  // a XOR b
  CDB_SGATE_NODE* y = make_output_pin(nl, "y", nullptr);
  y->get_single_iterm()->disconnect_from_source();
  kavu_fetch_create_wys_oterm(DB_OUTPUT_PORT_TYPE(9), cell, false)->insert_fanout(y->get_single_iterm());
  std::unique_ptr<CDB_SGATE_NETLIST> ref(nl->clone(nullptr, true, true));
  nl->clear_temp_pointers();
  WL_NETLIST* wl = kavu_make_wl_netlist(nl, &fam.facade, nullptr, nullptr);
  std::unique_ptr<CDB_SGATE_NETLIST> back(kavu_convert_wl_to_sgate_netlist(wl, &fam.facade, fam.info.get(), nullptr));
  KAVU_TRACK(back);
  for (CDB_SGATE_NODE* g : std::initializer_list<CDB_SGATE_NODE*>{a, b, cell, y}) EXPECT_EQ(g->get_netlist(), back.get());
  ASSERT_KAVU_EQUIVALENT(ref, back);
}

TEST(KavuWordLevelBuild, ChooserAndASecondBuildBeforeTheWayBack) {
  FAMILY fam;
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* g = make_not(&nl, a);
  make_buffer(&nl, g, CDB_BUFFER_PROTECT);
  CDB_SGATE_OPERATOR* div = new CDB_SGATE_OPERATOR("", CDB_OPER_DIVIDE);
  nl.add_node(div);
  make_output_pin(&nl, "y", g);
  std::vector<CDB_SGATE_NODE*> chosen{a};
  kavu_fill_subnet_vec(&nl, chosen, nullptr);
  EXPECT_EQ(chosen, (std::vector<CDB_SGATE_NODE*>{a, g})) << "pins, protect buffers and divide stay out";
  EXPECT_TRUE(g->get_flag().test(0x8000));
  // Operator kinds the chooser does not expect stop the run, the choice (15)
  // and the secondary-signal proxy (20) among them: once, those two were
  // left out silently.
  for (CDB_OPER_TYPE kind : {CDB_OPER_TYPE(12), CDB_OPER_CHOICE, CDB_OPER_REG_SEC_SIG_PROXY}) {
    SCOPED_TRACE(int(kind));
    CDB_SGATE_OPERATOR* bad = new CDB_SGATE_OPERATOR("", kind);
    nl.add_node(bad);
    EXPECT_KAVU_INTERNAL_ERROR(kavu_fill_subnet_vec(&nl, chosen, nullptr),
                               "Wasn't expecting operator of type " + std::string(bad->get_string_type_name()));
    nl.delete_node(bad);
    delete bad;
  }
  // A bus-out must split exactly the width of the bus it reads.
  {
    CDB_SGATE_NODE* bus_out = kavu_create_bus_out_operator(&nl, 2);
    a->get_single_oterm()->insert_fanout(bus_out->get_input_term(0));
    KAVU_OTERM_WIDTHS widths;
    KAVU_OTERM_INDEX_CACHE cache;
    std::unique_ptr<WL_NETLIST> scratch(wl_create_netlist("scratch"));
    EXPECT_KAVU_INTERNAL_ERROR(kavu_create_wl_node(bus_out, widths, scratch.get(), &cache),
                               "iterm_width == node->get_output_count()");
    nl.delete_node(bus_out);
    delete bus_out;
  }
  std::set<CDB_SGATE_NODE*> subset{g};
  WL_NETLIST* wl = kavu_make_wl_netlist(&nl, &fam.facade, &subset, nullptr);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_make_wl_netlist(&nl, &fam.facade, &subset, nullptr), "s_wl_io_hash.empty()");
  kavu_convert_wl_to_sgate_netlist(wl, &fam.facade, fam.info.get(), &nl);
  wl = kavu_make_wl_netlist(&nl, &fam.facade, &subset, nullptr);
  kavu_convert_wl_to_sgate_netlist(wl, &fam.facade, fam.info.get(), &nl);
}

// An operator port fed bit for bit by another operator's whole result port
// is one word-level connection carrying the ports' common inversion; a
// swapped bit goes through a merger. Both keep the function.
TEST(KavuWordLevelConnect, WholeResultPortsCarryTheirInversion) {
  FAMILY fam;
  enum SHAPE { PLAIN, INVERTED, SWAPPED };
  for (SHAPE shape : {PLAIN, INVERTED, SWAPPED}) {
    SCOPED_TRACE(int(shape));
    CDB_SGATE_NETLIST* nl = new CDB_SGATE_NETLIST;
    std::vector<CDB_SGATE_NODE*> a, b, c;
    for (int i = 0; i < 4; ++i) {
      a.push_back(make_input_pin(nl, ("a" + std::to_string(i)).c_str()));
      b.push_back(make_input_pin(nl, ("b" + std::to_string(i)).c_str()));
      c.push_back(make_input_pin(nl, ("c" + std::to_string(i)).c_str()));
    }
    CDB_SGATE_OPERATOR* add1 = new CDB_SGATE_OPERATOR("", CDB_OPER_ADDITION);
    CDB_SGATE_OPERATOR* add2 = new CDB_SGATE_OPERATOR("", CDB_OPER_ADDITION);
    for (CDB_SGATE_OPERATOR* op : {add1, add2}) {
      kavu_create_triport_operator_terms(op, 4, 4, 4, true, false, false);
      nl->add_node(op);
      op->get_iterm(CDB_OPER_PORT_CIN, 0)->set_gnd();
    }
    for (unsigned i = 0; i < 4; ++i) {
      a[i]->get_single_oterm()->insert_fanout(add1->get_iterm(CDB_OPER_PORT_A, i));
      b[i]->get_single_oterm()->insert_fanout(add1->get_iterm(CDB_OPER_PORT_B, i));
      const unsigned from = shape == SWAPPED && i < 2 ? 1 - i : i;
      add1->get_oterm(CDB_OPER_PORT_O, from)->insert_fanout(add2->get_iterm(CDB_OPER_PORT_A, i));
      if (shape == INVERTED) add2->get_iterm(CDB_OPER_PORT_A, i)->set_invert();
      c[i]->get_single_oterm()->insert_fanout(add2->get_iterm(CDB_OPER_PORT_B, i));
      CDB_SGATE_NODE* y = make_output_pin(nl, ("y" + std::to_string(i)).c_str(), nullptr);
      y->get_single_iterm()->disconnect_from_source();
      add2->get_oterm(CDB_OPER_PORT_O, i)->insert_fanout(y->get_single_iterm());
    }
    std::unique_ptr<CDB_SGATE_NETLIST> ref(nl->clone(nullptr, true, true));
    nl->clear_temp_pointers();
    WL_NETLIST* wl = kavu_make_wl_netlist(nl, &fam.facade, nullptr, nullptr);
    std::vector<WL_NODE*> adders;
    for (auto it = wl->begin_node_list(); it != wl->end_node_list(); ++it)
      if ((*it)->cast_to_adder()) adders.push_back(*it);
    ASSERT_EQ(adders.size(), 2u);
    WL_ITERM* a_in = adders[1]->get_iterm(0);
    ASSERT_NE(a_in->get_source(), nullptr);
    EXPECT_EQ(a_in->get_source()->get_my_node() == adders[0], shape != SWAPPED);
    EXPECT_EQ(a_in->is_inverted(), shape == INVERTED);
    EXPECT_TRUE(wl_matches_gates(ref.get(), wl, 8, 1));
    std::unique_ptr<CDB_SGATE_NETLIST> back(kavu_convert_wl_to_sgate_netlist(wl, &fam.facade, fam.info.get(), nullptr));
    KAVU_TRACK(back);
    ASSERT_KAVU_EQUIVALENT(ref, back);
  }
}

// n-to-1 muxes, selectors, decoders and a signed compare survive the round
// trip, and the word-level evaluator agrees with the gates on them.
TEST(KavuWordLevelRoundTrip, MuxSelectorDecoderAndSignedCompare) {
  FAMILY fam;
  CDB_SGATE_NETLIST* nl = new CDB_SGATE_NETLIST;
  std::vector<CDB_SGATE_NODE*> s, d;
  for (int i = 0; i < 2; ++i) s.push_back(make_input_pin(nl, ("s" + std::to_string(i)).c_str()));
  for (int i = 0; i < 4; ++i) d.push_back(make_input_pin(nl, ("d" + std::to_string(i)).c_str()));
  auto op = [&](CDB_OPER_TYPE kind, std::vector<CDB_SGATE_NODE*> a, std::vector<CDB_SGATE_NODE*> b, unsigned o) {
    CDB_SGATE_OPERATOR* g = new CDB_SGATE_OPERATOR("", kind);
    kavu_create_triport_operator_terms(g, unsigned(a.size()), unsigned(b.size()), o, false, false, false);
    nl->add_node(g);
    for (unsigned i = 0; i < a.size(); ++i) a[i]->get_single_oterm()->insert_fanout(g->get_iterm(CDB_OPER_PORT_A, i));
    for (unsigned i = 0; i < b.size(); ++i) b[i]->get_single_oterm()->insert_fanout(g->get_iterm(CDB_OPER_PORT_B, i));
    for (unsigned i = 0; i < o; ++i) {
      CDB_SGATE_NODE* y = make_output_pin(nl, ("y" + std::to_string(kind) + "_" + std::to_string(i)).c_str(), nullptr);
      y->get_single_iterm()->disconnect_from_source();
      g->get_oterm(CDB_OPER_PORT_O, i)->insert_fanout(y->get_single_iterm());
    }
    return g;
  };
  op(CDB_OPER_NTO1_MUX, s, d, 1)->get_iterm(CDB_OPER_PORT_B, 2)->set_invert();
  op(CDB_OPER_SELECT, {d[0], d[1]}, {d[2], d[3]}, 1);
  op(CDB_OPER_DECODE, s, {}, 4);
  op(CDB_OPER_COMPARE, {d[0], d[1], s[0]}, {d[2], d[3], s[1]}, 1)->set_signed(1);
  std::unique_ptr<CDB_SGATE_NETLIST> ref(nl->clone(nullptr, true, true));
  nl->clear_temp_pointers();
  WL_NETLIST* wl = kavu_make_wl_netlist(nl, &fam.facade, nullptr, nullptr);
  std::map<int, int> kinds = wl_kind_counts(wl);
  EXPECT_EQ(kinds[int(WL_NODE_TYPE::MUX)], 1);
  EXPECT_EQ(kinds[int(WL_NODE_TYPE::SELECTOR)], 1);
  EXPECT_EQ(kinds[int(WL_NODE_TYPE::DECODER)], 1);
  EXPECT_EQ(kinds[int(WL_NODE_TYPE::LESS_THAN)], 1);
  EXPECT_TRUE(wl_matches_gates(ref.get(), wl, 4, 1));
  std::unique_ptr<CDB_SGATE_NETLIST> back(kavu_convert_wl_to_sgate_netlist(wl, &fam.facade, fam.info.get(), nullptr));
  KAVU_TRACK(back);
  ASSERT_KAVU_EQUIVALENT(ref, back);
}

// Muxes and selectors of k output bits: one word-level node of width k whose
// data inputs are k-bit words, chosen for a subset, read bit by bit by pins
// and whole by an adder; the way back gives one single-bit operator per bit.
TEST(KavuWordLevelRoundTrip, MultiBitMuxesAndSelectors) {
  FAMILY fam;
  struct CASE {
    CDB_OPER_TYPE kind;
    unsigned selects, words, k, inverted_data_bit;
  };
  const CASE cases[] = {
      {CDB_OPER_NTO1_MUX, 2, 4, 3, 5},  // every select value picks a word
      {CDB_OPER_NTO1_MUX, 2, 3, 2, 0},  // select 3 is beyond the data: 0
      {CDB_OPER_SELECT, 3, 3, 2, 3},    // one-hot (or not) selects OR words
  };
  for (const CASE& c : cases) {
    SCOPED_TRACE(std::to_string(c.kind) + " k=" + std::to_string(c.k));
    CDB_SGATE_NETLIST* nl = new CDB_SGATE_NETLIST;
    auto pins = [&](const char* stem, unsigned n) {
      std::vector<CDB_SGATE_NODE*> v;
      for (unsigned i = 0; i < n; ++i) v.push_back(make_input_pin(nl, (stem + std::to_string(i)).c_str()));
      return v;
    };
    auto out = [&](CDB_SGATE_OTERM* o, const std::string& name) {
      CDB_SGATE_NODE* y = make_output_pin(nl, name.c_str(), nullptr);
      y->get_single_iterm()->disconnect_from_source();
      o->insert_fanout(y->get_single_iterm());
    };
    const std::vector<CDB_SGATE_NODE*> s = pins("s", c.selects), d = pins("d", c.words * c.k), e = pins("e", c.k);
    CDB_SGATE_OPERATOR* mux = new CDB_SGATE_OPERATOR("", c.kind);
    kavu_create_triport_operator_terms(mux, c.selects, c.words * c.k, c.k, false, false, false);
    nl->add_node(mux);
    for (unsigned i = 0; i < s.size(); ++i) s[i]->get_single_oterm()->insert_fanout(mux->get_iterm(CDB_OPER_PORT_A, i));
    for (unsigned i = 0; i < d.size(); ++i) d[i]->get_single_oterm()->insert_fanout(mux->get_iterm(CDB_OPER_PORT_B, i));
    mux->get_iterm(CDB_OPER_PORT_B, c.inverted_data_bit)->set_invert();
    CDB_SGATE_OPERATOR* add = new CDB_SGATE_OPERATOR("", CDB_OPER_ADDITION);
    kavu_create_triport_operator_terms(add, c.k, c.k, c.k, true, false, false);
    nl->add_node(add);
    add->get_iterm(CDB_OPER_PORT_CIN, 0)->set_gnd();
    for (unsigned b = 0; b < c.k; ++b) {
      mux->get_oterm(CDB_OPER_PORT_O, b)->insert_fanout(add->get_iterm(CDB_OPER_PORT_A, b));
      e[b]->get_single_oterm()->insert_fanout(add->get_iterm(CDB_OPER_PORT_B, b));
      out(mux->get_oterm(CDB_OPER_PORT_O, b), "y" + std::to_string(b));
      out(add->get_oterm(CDB_OPER_PORT_O, b), "z" + std::to_string(b));
    }
    std::vector<CDB_SGATE_NODE*> chosen;
    kavu_fill_subnet_vec(nl, chosen, nullptr);
    EXPECT_EQ(std::count(chosen.begin(), chosen.end(), mux), 1);
    std::unique_ptr<CDB_SGATE_NETLIST> ref(nl->clone(nullptr, true, true));
    nl->clear_temp_pointers();
    WL_NETLIST* wl = kavu_make_wl_netlist(nl, &fam.facade, nullptr, nullptr);
    const WL_NODE_TYPE want = c.kind == CDB_OPER_NTO1_MUX ? WL_NODE_TYPE::MUX : WL_NODE_TYPE::SELECTOR;
    WL_NODE* wmux = nullptr;
    for (auto it = wl->begin_node_list(); it != wl->end_node_list(); ++it)
      if ((*it)->get_node_type() == want) wmux = *it;
    ASSERT_NE(wmux, nullptr);
    EXPECT_EQ(wmux->get_first_oterm()->width(), c.k);
    EXPECT_EQ(wmux->cast_to_mux_base()->get_num_data(), c.kind == CDB_OPER_SELECT ? c.selects : c.words);
    EXPECT_TRUE(wl_matches_gates(ref.get(), wl, 8, 1));
    std::unique_ptr<CDB_SGATE_NETLIST> back(kavu_convert_wl_to_sgate_netlist(wl, &fam.facade, fam.info.get(), nullptr));
    KAVU_TRACK(back);
    int muxes = 0;
    for (auto it = back->begin_node_list(); it != back->end_node_list(); ++it)
      if (*it && (*it)->cast_to_operator() && (*it)->cast_to_operator()->get_type() == c.kind) ++muxes;
    EXPECT_EQ(muxes, int(c.k));
    ASSERT_KAVU_EQUIVALENT(ref, back);
  }
}

// Components: bus ports from "name[n]" entries (the last bracket is the
// bit), parameters and names survive the round trip with every connection.
TEST(KavuWordLevelRoundTrip, ComponentPortsParametersAndConnections) {
  FAMILY fam;
  CDB_SGATE_NETLIST* nl = new CDB_SGATE_NETLIST;
  CDB_SGATE_COMPONENT* comp = new CDB_SGATE_COMPONENT("lpm_thing:u1", true);
  comp->set_instance_name(child_name("u1"));
  comp->set_function_name("lpm_thing");
  comp->set_library_name("lib");
  comp->set_architecture_name("rtl");
  comp->set_parameter("WIDTH", "3", 1);
  comp->set_parameter("MODE", "fast", 0);
  nl->add_node(comp);
  std::map<std::string, std::string> feeds;  // component input port -> pin
  for (const char* port : {"din[0]", "din[1]", "din[2]", "m[3][0]", "m[3][1]", "en"}) {
    const std::string pin = std::string("p_") + port;
    CDB_SGATE_NODE* p = make_input_pin(nl, pin.c_str());
    comp->add_unique_known_port(port, CDB_COMPONENT_PORT_INPUT);
    p->get_single_oterm()->insert_fanout(comp->find_port(port)->get_iterm(0));
    feeds[port] = p->get_string_hpath();
  }
  std::map<std::string, std::string> drives;  // output pin -> component output port
  for (const char* port : {"dout[0]", "dout[1]", "flag"}) {
    comp->add_unique_known_port(port, CDB_COMPONENT_PORT_OUTPUT);
    CDB_SGATE_NODE* y = make_output_pin(nl, (std::string("y_") + port).c_str(), nullptr);
    y->get_single_iterm()->disconnect_from_source();
    comp->find_port(port)->get_oterm(0)->insert_fanout(y->get_single_iterm());
    drives[y->get_string_hpath()] = port;
  }
  CFG_SCOPE keys{{"wl_enable_components", "on"}};
  std::vector<CDB_SGATE_NODE*> chosen;
  kavu_fill_subnet_vec(nl, chosen, nullptr);
  EXPECT_EQ(chosen, std::vector<CDB_SGATE_NODE*>{comp});
  WL_NETLIST* wl = kavu_make_wl_netlist(nl, &fam.facade, nullptr, nullptr);
  WL_COMPONENT* wc = nullptr;
  for (auto it = wl->begin_node_list(); it != wl->end_node_list(); ++it)
    if ((*it)->cast_to_component()) wc = (*it)->cast_to_component();
  ASSERT_NE(wc, nullptr);
  ASSERT_NE(wc->get_iterm_by_name("din"), nullptr);
  EXPECT_EQ(wc->get_iterm_by_name("din")->width(), 3u);
  ASSERT_NE(wc->get_iterm_by_name("m[3]"), nullptr) << "the last bracket is the bit";
  EXPECT_EQ(wc->get_iterm_by_name("m[3]")->width(), 2u);
  EXPECT_EQ(wc->get_oterm_by_name("dout")->width(), 2u);
  MSG_I group;
  kavu_add_parameter_messages(&group, wc);
  EXPECT_EQ(std::distance(group.begin_submsg(), group.end_submsg()), 2);
  std::unique_ptr<CDB_SGATE_NETLIST> back(kavu_convert_wl_to_sgate_netlist(wl, &fam.facade, fam.info.get(), nullptr));
  KAVU_TRACK(back);
  CDB_SGATE_COMPONENT* c2 = nullptr;
  for (auto it = back->begin_node_list(); it != back->end_node_list(); ++it)
    if (*it && (*it)->cast_to_component()) c2 = (*it)->cast_to_component();
  ASSERT_NE(c2, nullptr);
  EXPECT_STREQ(c2->get_parameter("MODE"), "fast");
  EXPECT_STREQ(c2->get_library_name(), "lib");
  EXPECT_EQ(c2->get_string_hpath(), "top|u1");
  for (auto& [port, pin] : feeds) {
    CDB_SGATE_COMPONENT_PORT_ENTRY* e = c2->find_port(port.c_str());
    ASSERT_NE(e, nullptr) << port;
    ASSERT_NE(e->get_iterm(0)->get_source_oterm(), nullptr) << port;
    EXPECT_EQ(e->get_iterm(0)->get_source_oterm()->get_my_node()->get_string_hpath(), pin) << port;
  }
  for (CDB_SGATE_IO* y : back->get_output_pins()) {
    CDB_SGATE_OTERM* src = y->get_single_iterm()->get_source_oterm();
    ASSERT_NE(src, nullptr);
    CDB_SGATE_COMPONENT_PORT_ENTRY* e = c2->find_port(drives[y->get_string_hpath()].c_str());
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(src, e->get_oterm(0)) << y->get_string_hpath();
  }
  std::string base;
  unsigned bit = 0;
  EXPECT_KAVU_INTERNAL_ERROR(kavu_split_component_port_name("a[x]", &base, &bit), "not a number");
}

namespace {

// Output words of every output pin (by name) over `cycles` random cycles,
// the inputs drawn from each input pin's name.
std::map<std::string, uint64_t> wl_outputs(const WL_NETLIST* wl, int cycles) {
  std::map<std::string, uint64_t> seen;
  std::string why;
  EXPECT_TRUE(wl_simulate(
      wl, cycles,
      [](const WL_NODE* pin, unsigned bit, int cycle) {
        std::mt19937_64 r(std::hash<std::string>()(wl_get_string_hpath(pin)) + bit * 31 + unsigned(cycle));
        return r();
      },
      [&](const WL_NODE* pin, unsigned bit, int cycle, uint64_t w) {
        seen[wl_get_string_hpath(pin) + "/" + std::to_string(bit) + "/" + std::to_string(cycle)] = w;
      },
      &why))
      << why;
  return seen;
}

}  // namespace

// Shifters and rotators: the evaluator shifts as a shifter should, and a
// gate -> word-level -> gate -> word-level trip keeps every output.
TEST(KavuWordLevelRoundTrip, ShiftersAndRotators) {
  FAMILY fam;
  CDB_SGATE_NETLIST* nl = new CDB_SGATE_NETLIST;
  std::vector<CDB_SGATE_NODE*> d, amt;
  for (int i = 0; i < 4; ++i) d.push_back(make_input_pin(nl, ("d" + std::to_string(i)).c_str()));
  for (int i = 0; i < 2; ++i) amt.push_back(make_input_pin(nl, ("s" + std::to_string(i)).c_str()));
  CDB_SGATE_NODE* ci = make_input_pin(nl, "ci");
  for (CDB_OPER_TYPE kind : {CDB_OPER_LEFT_SHIFT, CDB_OPER_RIGHT_SHIFT, CDB_OPER_LEFT_ROTATE, CDB_OPER_RIGHT_ROTATE}) {
    const bool shift = kind == CDB_OPER_LEFT_SHIFT || kind == CDB_OPER_RIGHT_SHIFT;
    CDB_SGATE_OPERATOR* g = new CDB_SGATE_OPERATOR("", kind);
    kavu_create_triport_operator_terms(g, 4, 2, 4, shift, false, false);
    nl->add_node(g);
    for (unsigned i = 0; i < 4; ++i) d[i]->get_single_oterm()->insert_fanout(g->get_iterm(CDB_OPER_PORT_A, i));
    for (unsigned j = 0; j < 2; ++j) amt[j]->get_single_oterm()->insert_fanout(g->get_iterm(CDB_OPER_PORT_SHIFT, j));
    if (shift) ci->get_single_oterm()->insert_fanout(g->get_iterm(CDB_OPER_PORT_CIN, 0));
    for (unsigned k = 0; k < 4; ++k) {
      CDB_SGATE_NODE* y = make_output_pin(nl, ("y" + std::to_string(kind) + "_" + std::to_string(k)).c_str(), nullptr);
      y->get_single_iterm()->disconnect_from_source();
      g->get_oterm(CDB_OPER_PORT_O, k)->insert_fanout(y->get_single_iterm());
    }
  }
  WL_NETLIST* wl = kavu_make_wl_netlist(nl, &fam.facade, nullptr, nullptr);
  std::map<int, int> kinds = wl_kind_counts(wl);
  EXPECT_EQ(kinds[int(WL_NODE_TYPE::SHIFTER)], 2);
  EXPECT_EQ(kinds[int(WL_NODE_TYPE::ROTATOR)], 2);
  // d = 0b0011, amount 1, carry-in 1: left shift 0b0111, right shift
  // 0b1001, left rotate 0b0110, right rotate 0b1001.
  {
    WL_SIMULATOR ws(wl);
    ASSERT_TRUE(ws.ok()) << ws.error();
    std::map<std::string, const WL_NODE*> pins;
    for (auto it = wl->begin_node_list(); it != wl->end_node_list(); ++it)
      if ((*it)->get_node_type() == WL_NODE_TYPE::PIN) pins[wl_get_string_hpath(*it)] = *it;
    const std::map<std::string, uint64_t> in{{"top|d0", 1}, {"top|d1", 1}, {"top|d2", 0}, {"top|d3", 0},
                                             {"top|s0", 1}, {"top|s1", 0}, {"top|ci", 1}};
    for (auto& [name, v] : in) ws.set_input(pins.at(name), 0, v ? ~0ull : 0);
    ws.eval();
    const std::map<int, unsigned> want{{4, 0x7}, {5, 0x9}, {6, 0x6}, {7, 0x9}};
    for (auto& [kind, value] : want) {
      unsigned got = 0;
      for (unsigned k = 0; k < 4; ++k)
        got |= unsigned(ws.output(pins.at("top|y" + std::to_string(kind) + "_" + std::to_string(k)), 0) & 1) << k;
      EXPECT_EQ(got, value) << "operator kind " << kind;
    }
  }
  const auto before = wl_outputs(wl, 1);
  CDB_SGATE_NETLIST* back = kavu_convert_wl_to_sgate_netlist(wl, &fam.facade, fam.info.get(), nullptr);
  int ops = 0;
  for (auto it = back->begin_node_list(); it != back->end_node_list(); ++it) ops += *it && (*it)->cast_to_operator();
  EXPECT_EQ(ops, 4);
  WL_NETLIST* again = kavu_make_wl_netlist(back, &fam.facade, nullptr, nullptr);
  EXPECT_EQ(wl_outputs(again, 1), before);
  delete kavu_convert_wl_to_sgate_netlist(again, &fam.facade, fam.info.get(), nullptr);
}

// Synchronous RAMs read on both ports: ports by type as buses, size
// parameters, mode words, mode and port-mode bytes, option bits, the
// trailing word and the initialisation file come back with every connection.
TEST(KavuWordLevelRoundTrip, SynchronousRamPortsAndFields) {
  FAMILY fam;
  CDB_SGATE_NETLIST* nl = new CDB_SGATE_NETLIST;
  CDB_SGATE_SYNCHRONOUS_RAM* ram = new CDB_SGATE_SYNCHRONOUS_RAM(child_name("mem"));
  nl->add_node(ram);
  for (unsigned i = 0; i < 10; ++i) ram->set_size_parameter(i, int(i * 3 + 1));
  ram->set_mode_word(1, 0xabcd);
  ram->set_mif_file("init.mif");
  ram->set_mode_byte(0x9c);
  for (unsigned i = 0; i < 4; ++i) ram->set_port_mode_byte(i, uint8_t(0x11 * (i + 1)));
  ram->set_option_bits(0x55);
  ram->set_last_word(0xdeadbeef);
  std::map<std::pair<int, unsigned>, std::string> feeds;
  for (auto [type, width] : {std::pair<int, unsigned>{20, 4}, {95, 2}, {34, 1}}) {
    for (unsigned b = 0; b < width; ++b) {
      CDB_SGATE_NODE* p = make_input_pin(nl, ("p" + std::to_string(type) + "_" + std::to_string(b)).c_str());
      p->get_single_oterm()->insert_fanout(ram->add_iterm(DB_INPUT_PORT_TYPE(type), b));
      feeds[{type, b}] = p->get_string_hpath();
    }
  }
  // Port A reads 4 bits (type 3), port B 2 bits (type 42).
  for (auto [type, width] : {std::pair<int, unsigned>{3, 4}, {42, 2}}) {
    for (unsigned b = 0; b < width; ++b) {
      CDB_SGATE_NODE* y = make_output_pin(nl, ("q" + std::to_string(type) + "_" + std::to_string(b)).c_str(), nullptr);
      y->get_single_iterm()->disconnect_from_source();
      ram->add_oterm(DB_OUTPUT_PORT_TYPE(type), b)->insert_fanout(y->get_single_iterm());
    }
  }
  WL_NETLIST* wl = kavu_make_wl_netlist(nl, &fam.facade, nullptr, nullptr);
  EXPECT_EQ(wl_kind_counts(wl)[int(WL_NODE_TYPE::SYNCHRONOUS_RAM)], 1);
  std::unique_ptr<CDB_SGATE_NETLIST> back(kavu_convert_wl_to_sgate_netlist(wl, &fam.facade, fam.info.get(), nullptr));
  KAVU_TRACK(back);
  CDB_SGATE_SYNCHRONOUS_RAM* r2 = nullptr;
  for (auto it = back->begin_node_list(); it != back->end_node_list(); ++it)
    if (*it && (*it)->cast_to_synchronous_ram()) r2 = (*it)->cast_to_synchronous_ram();
  ASSERT_NE(r2, nullptr);
  EXPECT_EQ(r2->get_string_hpath(), "top|mem");
  EXPECT_STREQ(r2->get_mif_file(), "init.mif");
  EXPECT_EQ(r2->get_mode_word(1), 0xabcdu);
  EXPECT_EQ(r2->get_mode_byte(), 0x9c);
  for (unsigned i = 0; i < 4; ++i) EXPECT_EQ(r2->get_port_mode_byte(i), 0x11 * (i + 1)) << i;
  EXPECT_EQ(r2->get_option_bits(), 0x55);
  EXPECT_EQ(r2->get_last_word(), 0xdeadbeefu);
  for (unsigned i = 0; i < 10; ++i) EXPECT_EQ(r2->get_size_parameter(i), int(i * 3 + 1));
  for (auto& [key, pin] : feeds) {
    CDB_SGATE_ITERM* t = r2->get_iterm_by_type(DB_INPUT_PORT_TYPE(key.first), key.second);
    ASSERT_TRUE(t && t->get_source_oterm()) << key.first << "/" << key.second;
    EXPECT_EQ(t->get_source_oterm()->get_my_node()->get_string_hpath(), pin);
  }
  unsigned outputs = 0;
  for (CDB_SGATE_IO* y : back->get_output_pins()) {
    const std::string path = y->get_string_hpath();  // top|q<type>_<bit>
    const int type = std::stoi(path.substr(path.find('q') + 1));
    const unsigned b = unsigned(path.back() - '0');
    CDB_SGATE_OTERM* src = y->get_single_iterm()->get_source_oterm();
    ASSERT_NE(src, nullptr) << path;
    EXPECT_EQ(src, r2->get_oterm_by_type(DB_OUTPUT_PORT_TYPE(type), b)) << path;
    EXPECT_EQ(int(src->get_port_type()), type) << path;
    ++outputs;
  }
  EXPECT_EQ(outputs, 6u);
}

// An equality comparator made by a word-level pass becomes an equal operator.
TEST(KavuWordLevelBack, EqualityComparatorBecomesAnEqualOperator) {
  FAMILY fam;
  PIN_PAIRS p;
  WL_MERGER* ma = new WL_MERGER(2, 2);
  WL_MERGER* mb = new WL_MERGER(2, 2);
  WL_EQUAL* eq = new WL_EQUAL(2);
  for (WL_NODE* n : std::initializer_list<WL_NODE*>{ma, mb, eq}) p.wl->add_node(n);
  for (unsigned i = 0; i < 2; ++i) {
    ma->get_iterm(i)->connect(p.add("a" + std::to_string(i), true)->get_first_oterm(), false);
    mb->get_iterm(i)->connect(p.add("b" + std::to_string(i), true)->get_first_oterm(), i == 1);
    ma->register_entry(i, 0, false, i);
    mb->register_entry(i, 0, false, i);
  }
  eq->get_iterm(0)->connect(ma->get_first_oterm(), false);
  eq->get_iterm(1)->connect(mb->get_first_oterm(), false);
  p.add("y", false)->get_iterm(0)->connect(eq->get_first_oterm(), false);
  std::unique_ptr<CDB_SGATE_NETLIST> gates(p.gates);
  kavu_convert_wl_to_sgate_netlist(p.wl, &fam.facade, fam.info.get(), gates.get());
  KAVU_TRACK(gates);
  NETLIST_SIMULATOR gs(gates.get());
  ASSERT_TRUE(gs.ok()) << gs.error();
  for (size_t i = 0; i < p.ins.size(); ++i) gs.set_input(p.ins[i].first, exhaustive_word(i, 16));
  gs.eval();
  for (unsigned k = 0; k < 16; ++k) {
    // Pins in order a0, b0, a1, b1; b1 arrives inverted.
    const unsigned a = (k & 1) | ((k >> 1) & 2), b = (((k >> 1) & 1) | ((k >> 2) & 2)) ^ 2;
    EXPECT_EQ((gs.output(p.outs[0].first) >> k) & 1, uint64_t(a == b)) << k;
  }
}

// Control inputs are the one-bit signals the bus walk does not follow: the
// register's controls (not its data or asynchronous data), the select bits
// of n-to-1 muxes and selectors, a mux gate's select and a latch's enables.
TEST(KavuWordLevelBus, ControlInputsByGateKind) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* r = make_dff(&nl, a, a);
  CDB_SGATE_NODE* mux = make_mux(&nl, a, a, a);
  CDB_SGATE_NODE* gate = make_and(&nl, a, a);
  CDB_SGATE_LATCH* latch = new CDB_SGATE_LATCH(nullptr);
  for (unsigned i = 0; i < CDB_LATCH_NUM_PORTS; ++i) latch->set_input_term(latch->create_input_term(nullptr), i);
  nl.add_node(latch);
  auto op = [&](CDB_OPER_TYPE kind) {
    CDB_SGATE_OPERATOR* g = new CDB_SGATE_OPERATOR("", kind);
    kavu_create_triport_operator_terms(g, 2, 2, 1, false, false, false);
    nl.add_node(g);
    return g;
  };
  CDB_SGATE_OPERATOR* nto1 = op(CDB_OPER_NTO1_MUX);
  CDB_SGATE_OPERATOR* select = op(CDB_OPER_SELECT);
  CDB_SGATE_OPERATOR* add = op(CDB_OPER_ADDITION);
  const struct {
    const char* what;
    CDB_SGATE_ITERM* t;
    bool control;
  } rows[] = {
      {"register data", r->get_input_term(CDB_DFF_DATA), false},
      {"register asynchronous data", r->get_input_term(CDB_DFF_ADATA), false},
      {"register clock", r->get_input_term(CDB_DFF_CLK), true},
      {"register enable", r->get_input_term(CDB_DFF_ENA), true},
      {"register synchronous clear", r->get_input_term(CDB_DFF_SCLR), true},
      {"mux data 0", mux->get_input_term(CDB_MUX_DATA0), false},
      {"mux data 1", mux->get_input_term(CDB_MUX_DATA1), false},
      {"mux select", mux->get_input_term(CDB_MUX_SELECT), true},
      {"latch data", latch->get_input_term(CDB_LATCH_D), false},
      {"latch enable", latch->get_input_term(CDB_LATCH_EN), true},
      {"latch clear", latch->get_input_term(CDB_LATCH_CLR), true},
      {"n-to-1 mux select bit", nto1->get_iterm(CDB_OPER_PORT_A, 1), true},
      {"n-to-1 mux data bit", nto1->get_iterm(CDB_OPER_PORT_B, 0), false},
      {"selector select bit", select->get_iterm(CDB_OPER_PORT_A, 0), true},
      {"selector data bit", select->get_iterm(CDB_OPER_PORT_B, 1), false},
      {"adder operand bit", add->get_iterm(CDB_OPER_PORT_A, 0), false},
      {"gate input", gate->get_input_term(1), false},
  };
  for (const auto& row : rows) {
    ASSERT_NE(row.t, nullptr) << row.what;
    EXPECT_EQ(kavu_is_control_input(row.t), row.control) << row.what;
  }
}

// An add/subtract of a 4-bit and a 6-bit operand keeps its 6-bit result, and
// registers keep their power-up settings, over the trip to word level and
// back; the word-level evaluator and the gates agree on the result.
TEST(KavuWordLevelRoundTrip, UnequalAddSubWidthsAndPowerUpSettings) {
  FAMILY fam;
  CDB_SGATE_NETLIST* nl = new CDB_SGATE_NETLIST;
  auto out = [&](CDB_SGATE_OTERM* o, const std::string& name) {
    CDB_SGATE_NODE* y = make_output_pin(nl, name.c_str(), nullptr);
    y->get_single_iterm()->disconnect_from_source();
    o->insert_fanout(y->get_single_iterm());
  };
  CDB_SGATE_OPERATOR* op = new CDB_SGATE_OPERATOR("", CDB_OPER_ADDSUB);
  kavu_create_triport_operator_terms(op, 4, 6, 6, false, false, true);
  nl->add_node(op);
  for (unsigned i = 0; i < 4; ++i)
    make_input_pin(nl, ("a" + std::to_string(i)).c_str())->get_single_oterm()->insert_fanout(
        op->get_iterm(CDB_OPER_PORT_A, i));
  for (unsigned i = 0; i < 6; ++i)
    make_input_pin(nl, ("b" + std::to_string(i)).c_str())->get_single_oterm()->insert_fanout(
        op->get_iterm(CDB_OPER_PORT_B, i));
  make_input_pin(nl, "add")->get_single_oterm()->insert_fanout(op->get_iterm(CDB_OPER_PORT_ADD_NOT_SUB, 0));
  for (unsigned i = 0; i < 6; ++i) out(op->get_oterm(CDB_OPER_PORT_O, i), "s" + std::to_string(i));
  // Power-up: high, don't care, both, with and without an explicit setting.
  const struct {
    bool high, dc, setting;
  } regs[] = {{false, false, false}, {true, false, true}, {false, true, true}, {true, true, false}};
  CDB_SGATE_NODE* clk = make_input_pin(nl, "clk");
  std::map<std::string, size_t> row_of;
  for (size_t k = 0; k < std::size(regs); ++k) {
    CDB_SGATE_NODE* d = make_input_pin(nl, ("d" + std::to_string(k)).c_str());
    CDB_SGATE_DFF* r = make_dff(nl, d, clk)->cast_to_dff();
    r->set_instance_name(child_name("r" + std::to_string(k)));
    r->set_power_up_high(regs[k].high);
    r->set_power_up_dc(regs[k].dc);
    r->set_has_power_up_setting(regs[k].setting);
    out(r->get_single_oterm(), "q" + std::to_string(k));
    row_of[r->get_string_hpath()] = k;
  }
  std::unique_ptr<CDB_SGATE_NETLIST> ref(nl->clone(nullptr, true, true));
  nl->clear_temp_pointers();
  WL_NETLIST* wl = kavu_make_wl_netlist(nl, &fam.facade, nullptr, nullptr);
  EXPECT_EQ(wl_kind_counts(wl)[int(WL_NODE_TYPE::ADDSUB)], 1);
  EXPECT_TRUE(wl_matches_gates(ref.get(), wl, 4, 3));
  std::unique_ptr<CDB_SGATE_NETLIST> back(kavu_convert_wl_to_sgate_netlist(wl, &fam.facade, fam.info.get(), nullptr));
  KAVU_TRACK(back);
  size_t seen = 0;
  for (auto it = back->begin_node_list(); it != back->end_node_list(); ++it) {
    if (!*it) continue;
    if (CDB_SGATE_OPERATOR* o = (*it)->cast_to_operator()) {
      EXPECT_EQ(o->get_width(CDB_OPER_PORT_A), 4u);
      EXPECT_EQ(o->get_width(CDB_OPER_PORT_B), 6u);
      EXPECT_EQ(o->get_width(CDB_OPER_PORT_O), 6u);
    }
    CDB_SGATE_DFF* r = (*it)->cast_to_dff();
    if (!r) continue;
    const auto& want = regs[row_of.at(r->get_string_hpath())];
    EXPECT_EQ(r->powers_up_high(), want.high) << r->get_string_hpath();
    EXPECT_EQ(r->is_power_up_dc(), want.dc) << r->get_string_hpath();
    EXPECT_EQ(r->has_power_up_setting(), want.setting) << r->get_string_hpath();
    ++seen;
  }
  EXPECT_EQ(seen, std::size(regs));
  ASSERT_KAVU_EQUIVALENT(ref, back);
}
