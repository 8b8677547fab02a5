// The simple gate kinds and the gate base class: terminal placement rules,
// comb De Morgan and LUT folding against a small evaluator, register flags,
// names, state-machine references, records; and function-preserving edits
// (clone, sort, sweep, De Morgan, LUT folding) on committed circuits checked
// by simulation.
#include <functional>
#include <set>
#include <map>
#include <random>

#include "netlist_io/simulator.h"
#include "testkit/platform_testkit.h"

namespace {

// Value of a terminal over comb gates, LUTs, buffers and input pins, with
// input pins assigned from `in` (bit i for the i-th input pin of the map).
struct EVAL {
  std::map<const CDB_SGATE_NODE*, bool> pins;
  bool oterm(const CDB_SGATE_OTERM* o) const { return node(o->get_my_node()) != o->is_inverted(); }
  bool iterm(const CDB_SGATE_ITERM* t) const {
    if (t->is_vcc_or_gnd()) return !t->is_inverted();
    return oterm(t->get_source()) != t->is_inverted();
  }
  bool node(const CDB_SGATE_NODE* n) const {
    if (n->is_pin()) return pins.at(n);
    if (const CDB_SGATE_LUT* l = n->cast_to_lut()) {
      unsigned m = 0;
      for (unsigned i = 0; i < l->get_lut_mask().get_num_inputs(); ++i) {
        const CDB_SGATE_ITERM* t = n->get_input_term(i);
        if (t && t->is_connected() && iterm(t)) m |= 1u << i;  // unconnected inputs read 0 here
      }
      return (l->get_lut_mask().get_value() >> m) & 1;
    }
    const CDB_SGATE_COMB* c = n->cast_to_comb();
    bool v = c->get_comb_type() == CDB_COMB_AND;
    for (const CDB_SGATE_ITERM* t : n->get_input_terms()) {
      if (!t || !t->is_connected()) continue;
      bool x = iterm(t);
      if (c->get_comb_type() == CDB_COMB_AND) v = v && x;
      else if (c->get_comb_type() == CDB_COMB_OR) v = v || x;
      else v = v != x;
    }
    return v;
  }
};

std::vector<bool> truth(EVAL& e, const std::vector<CDB_SGATE_NODE*>& ins, const CDB_SGATE_OTERM* o) {
  std::vector<bool> out;
  for (unsigned m = 0; m < (1u << ins.size()); ++m) {
    for (size_t i = 0; i < ins.size(); ++i) e.pins[ins[i]] = (m >> i) & 1;
    out.push_back(e.oterm(o));
  }
  return out;
}

TEST(CdbKinds, DemorganKeepsFunctionAndMovesOutputInversion) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  std::vector<CDB_SGATE_NODE*> ins;
  for (int i = 0; i < 3; ++i) {
    ins.push_back(new CDB_SGATE_IO(nullptr, CDB_IO_INPUT));
    nl.add_node(ins.back());
  }
  CDB_SGATE_COMB* g = new CDB_SGATE_COMB(nullptr, CDB_COMB_AND);
  nl.add_node(g);
  g->add_unordered_fanin_from_oterm(nullptr, true, ins[0]->get_single_oterm());
  g->add_unordered_fanin_from_oterm(nullptr, false, ins[1]->get_single_oterm());
  g->add_unordered_fanin_from_oterm(nullptr, false, ins[2]->get_single_oterm());
  g->add_unordered_fanin_from_oterm(nullptr, false, nullptr);  // VCC: neutral for AND
  CDB_SGATE_BUFFER* reader = new CDB_SGATE_BUFFER(nullptr, CDB_BUFFER_SOFT);
  nl.add_node(reader);
  g->get_single_oterm()->insert_fanout(reader->create_input_term(nullptr));
  reader->insert_unordered_fanin_term(g->get_single_oterm()->get_first_fanout());
  EVAL e;
  auto before = truth(e, ins, g->get_single_oterm());
  auto seen_by_reader = [&]() {
    std::vector<bool> v;
    for (unsigned m = 0; m < 8; ++m) {
      for (int i = 0; i < 3; ++i) e.pins[ins[size_t(i)]] = (m >> i) & 1;
      v.push_back(e.iterm(reader->get_input_term(0)));
    }
    return v;
  };
  auto reader_before = seen_by_reader();
  g->demorgan();
  EXPECT_EQ(g->get_comb_type(), CDB_COMB_OR);
  EXPECT_FALSE(g->get_single_oterm()->is_inverted());  // moved to the fan-out
  EXPECT_TRUE(reader->get_input_term(0)->is_inverted());
  EXPECT_TRUE(g->get_input_term(3)->is_gnd());  // the tie was complemented too
  EXPECT_EQ(seen_by_reader(), reader_before);
  g->demorgan();
  EXPECT_EQ(truth(e, ins, g->get_single_oterm()), before);
  g->set_comb_type(CDB_COMB_XOR);
  EXPECT_KAVU_INTERNAL_ERROR(g->demorgan(), "CDB_COMB_AND");
}

TEST(CdbKinds, LutFoldingMatchesEvaluation) {
  std::mt19937 rng(5);
  for (int round = 0; round < 200; ++round) {
    CDB_SGATE_NETLIST nl;
    std::vector<CDB_SGATE_NODE*> ins;
    for (int i = 0; i < 3; ++i) {
      ins.push_back(new CDB_SGATE_IO(nullptr, CDB_IO_INPUT));
      nl.add_node(ins.back());
    }
    unsigned n = 1 + rng() % 6;
    CDB_LUTMASK mask;
    mask.set_value(n, (uint64_t(rng()) << 32) | rng());
    CDB_SGATE_LUT* lut = new CDB_SGATE_LUT(nullptr, mask);
    nl.add_node(lut);
    for (unsigned i = 0; i < n; ++i) {
      CDB_SGATE_ITERM* t = lut->create_input_term(nullptr, DB_INPUT_PORT_TYPE(12 + i));
      lut->set_input_term(t, i);
      switch (rng() % 4) {
        case 0: t->set_vcc(); break;
        case 1: t->set_gnd(); break;
        default: ins[rng() % 3]->get_single_oterm()->insert_fanout(t); if (rng() % 2) t->invert(); break;
      }
    }
    EVAL e;
    auto before = truth(e, ins, lut->get_single_oterm());
    lut->mls_sweep(true);
    ASSERT_EQ(truth(e, ins, lut->get_single_oterm()), before) << "round " << round;
    std::set<const CDB_SGATE_OTERM*> sources;
    for (CDB_SGATE_ITERM* t : lut->get_input_terms()) {
      if (!t || !t->is_connected()) continue;
      EXPECT_FALSE(t->is_vcc_or_gnd());
      EXPECT_FALSE(t->is_inverted());
      EXPECT_TRUE(sources.insert(t->get_source()).second) << "duplicate left, round " << round;
    }
    std::string report;
    EXPECT_TRUE(nl.check(&report)) << report;  // no mask depends on a folded input
    EXPECT_FALSE(lut->mls_sweep(true));        // nothing left to fold
  }
}

TEST(CdbKinds, CheckReportsLutDependingOnUnconnectedInput) {
  CDB_SGATE_NETLIST nl;
  CDB_LUTMASK and2;
  and2.set_value(2, 0x8);
  CDB_SGATE_LUT* lut = new CDB_SGATE_LUT(nullptr, and2);
  nl.add_node(lut);
  lut->set_input_term(lut->create_input_term(nullptr), 0);
  lut->get_input_term(0)->set_vcc();
  std::string report;
  EXPECT_FALSE(nl.check(&report));
  EXPECT_NE(report.find("unconnected input 1"), std::string::npos) << report;
}

TEST(CdbKinds, TerminalPlacementAndDeletionRules) {
  CDB_SGATE_IO in(nullptr, CDB_IO_INPUT), out(nullptr, CDB_IO_OUTPUT);
  EXPECT_EQ(in.get_number_of_input_terms(), 0u);
  EXPECT_EQ(out.get_number_of_input_terms(), 1u);  // output pins have their input at 0
  EXPECT_TRUE(out.is_output());
  EXPECT_FALSE(out.is_input());

  CDB_SGATE_MUX mux(nullptr);
  CDB_SGATE_ITERM* sel = mux.create_input_term(nullptr);
  mux.set_input_term(sel, CDB_MUX_SELECT);  // grows the list with nulls
  EXPECT_EQ(mux.get_number_of_input_terms(), 3u);
  EXPECT_EQ(mux.get_single_iterm(), sel);
  EXPECT_EQ(mux.get_number_of_fanin(), 1u);
  mux.set_input_term(sel, CDB_MUX_SELECT);  // the same terminal again: fine
  CDB_SGATE_ITERM* other = mux.create_input_term(nullptr);
  EXPECT_KAVU_INTERNAL_ERROR(mux.set_input_term(other, CDB_MUX_SELECT), "nullptr");
  EXPECT_KAVU_INTERNAL_ERROR(mux.set_input_term(sel, 0), "std::find");  // listed twice
  CDB_SGATE_ITERM* foreign = in.create_input_term(nullptr);
  EXPECT_KAVU_INTERNAL_ERROR(mux.set_input_term(foreign, 0), "get_my_node");
  delete foreign;
  mux.set_input_term(other, 0);
  in.get_single_oterm()->insert_fanout(other);
  mux.delete_input_term(other);  // positional kinds keep their positions
  EXPECT_EQ(mux.get_number_of_input_terms(), 3u);
  EXPECT_EQ(mux.get_input_term(0), nullptr);
  EXPECT_FALSE(in.has_fanout());

  CDB_SGATE_COMB c(nullptr, CDB_COMB_OR);
  CDB_SGATE_ITERM* a = c.insert_unordered_fanin(in.get_single_oterm());
  CDB_SGATE_ITERM* b = c.insert_unordered_fanin(in.get_single_oterm());
  c.delete_input_term(a);  // comb gates close the gap
  EXPECT_EQ(c.get_number_of_input_terms(), 1u);
  EXPECT_EQ(c.get_input_term(0), b);
  EXPECT_EQ(in.get_fanout_node_count(), 1u);

  CDB_SGATE_BOUNDARY bnd(nullptr, CDB_BOUNDARY_INPUT);
  CDB_SGATE_OTERM* mine = new CDB_SGATE_OTERM(&bnd);
  bnd.set_output_term(mine, 0);  // replaces the unused output the constructor made
  EXPECT_EQ(bnd.get_single_oterm(), mine);
  mine->insert_fanout(c.create_input_term(nullptr));
  CDB_SGATE_ITERM* dangling = mine->get_first_fanout();
  CDB_SGATE_OTERM* late = new CDB_SGATE_OTERM(&bnd);
  EXPECT_KAVU_INTERNAL_ERROR(bnd.set_output_term(late, 0), "has_fanout");
  delete late;
  dangling->disconnect_from_source();
  c.insert_unordered_fanin_term(dangling);
}

TEST(CdbKinds, RegisterFlagsAndPortTypes) {
  CDB_SGATE_DFF r(nullptr);
  r.create_all_inputs();
  const DB_INPUT_PORT_TYPE expected[] = {20, 7, 6, 27, 8, 0, 1, 30, 33};
  unsigned seen = 0;
  for (unsigned p = r.get_first_iport(); p != r.get_end_iport(); p = r.get_next_iport(p), ++seen)
    EXPECT_EQ(r.get_input_term(p)->get_port_type(), expected[p]);
  EXPECT_EQ(seen, 9u);
  EXPECT_EQ(r.get_input_port_number(DB_PORT_DATAIN), 0u);
  EXPECT_EQ(r.get_input_port_number(DB_PORT_SHAREIN), unsigned(CDB_ILLEGAL_PORT));

  EXPECT_FALSE(r.preserve_is_set());
  r.set_preserve(false);
  EXPECT_TRUE(r.preserve_is_set());
  r.set_max_fanout(12);
  r.set_power_up_high(true);
  EXPECT_TRUE(r.is_changed());  // power-up changes the function
  EXPECT_EQ(r.get_flag_byte(CDB_KIND_BYTE), CDB_DFF_POWER_UP_HIGH);
  r.set_sclr_over_ena_priority(true);
  r.set_has_power_up_setting(true);

  CDB_SGATE_DFF q(nullptr);
  q.copy_flags_from_other_ff(&r);
  EXPECT_TRUE(q.powers_up_high());
  EXPECT_TRUE(q.has_power_up_setting());
  EXPECT_TRUE(q.sclr_over_ena_priority());
  EXPECT_EQ(q.get_max_fanout(), 12);
  EXPECT_TRUE(q.max_fanout_is_set());
  EXPECT_TRUE(q.preserve_is_set());
  CDB_SGATE_WYSIWYG ff(nullptr, 62);
  ASSERT_NE(ff.get_reg_flags(), nullptr);
  ff.get_reg_flags()->copy_flags_from_other_ff(&r);  // copied by meaning, not by bit
  EXPECT_TRUE(ff.get_reg_flags()->powers_up_high());
  EXPECT_EQ(ff.get_flag_byte(CDB_KIND_BYTE), CDB_WYS_FF_POWER_UP_HIGH | CDB_WYS_FF_POWER_UP_SET);
  CDB_SGATE_COMB c(nullptr, CDB_COMB_AND);
  EXPECT_KAVU_INTERNAL_ERROR(q.copy_flags_from_other_ff(&c), "get_reg_flags");
}

TEST(CdbKinds, IdentityNamesAndStateMachineReferences) {
  CDB_SGATE_NODE::reset_debug_counter(40);
  CDB_SGATE_COMB* g = new CDB_SGATE_COMB(nullptr, CDB_COMB_AND);
  EXPECT_EQ(g->get_id(), 40u);
  EXPECT_EQ(g->get_debug_name(), "N40");
  EXPECT_EQ(g->get_string_hpath(), "~N40");
  g->set_string_name("alu|carry");
  EXPECT_EQ(g->get_string_hpath(), "alu|carry");
  EXPECT_STREQ(g->get_string_type_name(), "COMB");
  g->set_debug_number(900);  // e.g. read from an archive: the counter moves past it
  CDB_SGATE_COMB* h = new CDB_SGATE_COMB(nullptr, CDB_COMB_OR);
  EXPECT_EQ(h->get_id(), 901u);
  EXPECT_FALSE(g->has_temporary_name());
  g->set_synthesized_name(nullptr);
  EXPECT_TRUE(g->has_temporary_name());
  g->reset_has_temporary_name();
  EXPECT_FALSE(g->has_temporary_name());

  CDB_STATE_MACHINE* m = new CDB_STATE_MACHINE;
  CDB_SGATE_STATE* s1 = new CDB_SGATE_STATE(nullptr, m);
  CDB_SGATE_STATE* s2 = new CDB_SGATE_STATE(nullptr, m);
  CDB_SGATE_DFF* reg = new CDB_SGATE_DFF(nullptr);
  m->add_state(s1);
  m->add_state(s2);
  m->add_register(reg);
  m->set_clk(reg->get_single_oterm());
  std::unordered_map<unsigned, CDB_SGATE_NODE*> by_number;
  m->gather_nodes_of_interest(&by_number);
  EXPECT_EQ(by_number.size(), 3u);
  m->store_oterms_as_debug_numbers(true);
  EXPECT_EQ(m->get_clk(), nullptr);
  m->recover_oterms_from_debug_numbers(&by_number);
  EXPECT_EQ(m->get_clk(), reg->get_single_oterm());
  EXPECT_EQ(m->get_states().size(), 2u);
  CDB_STATE_MACHINE* copy = m->cross_clone(nullptr);
  delete s1;  // the machines forget a destroyed gate
  EXPECT_EQ(m->get_states().size(), 1u);
  EXPECT_EQ(copy->get_states().size(), 1u);
  delete reg;
  EXPECT_EQ(m->get_clk(), nullptr);
  EXPECT_TRUE(copy->get_registers().empty());
  CDB_SGATE_IO* clk_pin = new CDB_SGATE_IO(nullptr, CDB_IO_INPUT);
  m->set_clk_en(clk_pin->get_single_oterm());
  delete clk_pin;  // a terminal the machine names, on a gate it does not list
  EXPECT_EQ(m->get_clk_en(), nullptr);
  delete m;    // and a destroyed machine leaves no reference behind
  delete copy;
  delete s2;
  delete g;
  delete h;
}

TEST(CdbKinds, HierarchyAndCompatibleRegisters) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  CDB_SGATE_HIERARCHY top, child;
  child.set_parent(&top);
  EXPECT_EQ(child.get_root(), &top);
  EXPECT_EQ(top.get_children().size(), 1u);
  top.set_netlist(&nl);
  EXPECT_EQ(nl.get_hierarchy(), &top);
  CDB_SGATE_IO* p = new CDB_SGATE_IO(nullptr, CDB_IO_INPUT);
  nl.add_node(p);
  top.set_hierarchy_pointers();
  EXPECT_EQ(p->get_hierarchy(), &top);
  top.get_machine_list()->push_back(new CDB_STATE_MACHINE);  // owned by the hierarchy
  EXPECT_TRUE(top.has_machines());

  CDB_SGATE_DFF* a = new CDB_SGATE_DFF(nullptr);
  CDB_SGATE_DFF* b = new CDB_SGATE_DFF(nullptr);
  nl.add_node(a);
  nl.add_node(b);
  CDB_SGATE_COMPATIBLE_REGISTERS* cr = nl.get_compatible_registers();
  EXPECT_TRUE(cr->is_in_use());
  EXPECT_FALSE(cr->is_ready_to_use());
  EXPECT_FALSE(cr->oterms_are_compatible(a->get_single_oterm(), b->get_single_oterm()));  // no set: not compatible
  cr->add_oterm_set_id(a->get_single_oterm(), 3);
  cr->add_oterm_set_id(b->get_single_oterm(), 3);
  cr->mark_synch_reg(b->get_single_oterm(), 1);
  EXPECT_TRUE(cr->oterms_are_compatible(a->get_single_oterm(), b->get_single_oterm()));
  EXPECT_EQ(cr->dump_compatible_registers_map(),
            a->get_debug_name() + ":0 set 3 chain 0\n" + b->get_debug_name() + ":0 set 3 chain 1\n");
  nl.delete_node(b);
  delete b;  // keyed by debug number: nothing dangles
  EXPECT_EQ(cr->get_set_id(a->get_single_oterm()), 3u);
  cr->clear_all();
  EXPECT_EQ(cr->get_set_id(a->get_single_oterm()), 0u);
  nl.create_high_speed_map()->operator[](7).set_high_speed_source(true);
  CDB_SGATE_NETLIST part;
  nl.copy_members_to_partitioned_netlist(&part);
  EXPECT_EQ(part.get_hierarchy(), &top);
  ASSERT_NE(part.get_high_speed_registers(), nullptr);
  EXPECT_TRUE(part.get_high_speed_registers()->at(7).is_high_speed_source());
  part.set_hierarchy(nullptr);
}

// ---------------------------------------------------------------------------
// Function-preserving edits on committed circuits.

const char* const kCircuits[] = {"counter8_generic", "crc8_lut4", "alu8_lut6", "fsm_seq_generic",
                                 "shift_en_sclr_lut4", "mult6_generic", "s298"};

TEST(CdbRealCircuits, CloneSortAndSweepKeepFunction) {
  for (const char* name : kCircuits) {
    auto golden = kavu_platform::load_blif(name);
    auto nl = kavu_platform::load_blif(name);
    KAVU_TRACK(nl);
    std::unique_ptr<CDB_SGATE_NETLIST> copy(nl->clone(nullptr, true, true));
    nl->clear_temp_pointers();
    KAVU_TRACK(*copy);
    EXPECT_EQ(copy->size(), nl->size()) << name;
    std::string why;
    EXPECT_TRUE(kavu_platform::sim_equivalent(golden.get(), copy.get(), {}, &why)) << name << ": " << why;
    copy->sort_by_dag_order();
    EXPECT_TRUE(kavu_platform::sim_equivalent(golden.get(), copy.get(), {}, &why)) << name << ": " << why;
    copy->sweep(false);
    copy->prepare_for_use();
    EXPECT_TRUE(kavu_platform::sim_equivalent(golden.get(), copy.get(), {}, &why)) << name << ": " << why;
  }
}

TEST(CdbRealCircuits, DemorganAndLutFoldingKeepFunction) {
  for (const char* name : kCircuits) {
    auto golden = kavu_platform::load_blif(name);
    auto nl = kavu_platform::load_blif(name);
    KAVU_TRACK(nl);
    int edited = 0;
    for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
      CDB_SGATE_NODE* n = *it;
      if (!n) continue;
      if (CDB_SGATE_COMB* c = n->cast_to_comb()) {
        if (c->get_comb_type() == CDB_COMB_AND || c->get_comb_type() == CDB_COMB_OR) {
          c->demorgan();
          ++edited;
        }
      } else if (CDB_SGATE_LUT* l = n->cast_to_lut()) {
        // Invert an input and compensate in the mask, then let folding undo it.
        CDB_SGATE_ITERM* t = l->get_input_term(0);
        if (!t || !t->get_source() || l->get_lut_mask().get_num_inputs() == 0) continue;
        CDB_LUTMASK m = l->get_lut_mask();
        m.invert_input(0);
        l->set_lut_mask(m);
        t->invert();
        EXPECT_TRUE(l->mls_sweep(true));
        EXPECT_FALSE(t->is_inverted());
        ++edited;
      }
    }
    EXPECT_GT(edited, 0) << name;
    std::string why;
    EXPECT_TRUE(kavu_platform::sim_equivalent(golden.get(), nl.get(), {}, &why)) << name << ": " << why;
  }
}

}  // namespace
