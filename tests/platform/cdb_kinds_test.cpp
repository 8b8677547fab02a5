// Gate kinds and the gate base class, and clone_node on every kind. Edits on
// committed circuits are in netlist_io_edit_test.cpp.
#include <functional>
#include <random>
#include <set>

#include "hdb/hdb.h"
#include "netlist_io/simulator.h"
#include "testkit/platform_testkit.h"

using namespace kavu_platform;

namespace {

// Values of `o` over all eight assignments of three input pins (bit m of
// the result for the assignment whose pin i has bit i of m).
uint64_t truth3(const CDB_SGATE_NETLIST& nl, const std::vector<CDB_SGATE_NODE*>& ins, const CDB_SGATE_OTERM* o) {
  NETLIST_SIMULATOR sim(&nl);
  EXPECT_TRUE(sim.ok()) << sim.error();
  const uint64_t words[] = {0xaa, 0xcc, 0xf0};
  for (size_t i = 0; i < 3; ++i) sim.set_input(ins[i], words[i]);
  sim.eval();
  return sim.value(o) & 0xff;
}

std::vector<CDB_SGATE_NODE*> three_inputs(CDB_SGATE_NETLIST& nl) {
  return {make_input_pin(&nl, "a"), make_input_pin(&nl, "b"), make_input_pin(&nl, "c")};
}

// De Morgan keeps the function (see also netlist_io_edit_test.cpp) by
// moving the output inversion to the readers and complementing ties.
TEST(CdbKinds, DemorganMovesOutputInversionToReadersAndComplementsTies) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  std::vector<CDB_SGATE_NODE*> ins = three_inputs(nl);
  CDB_SGATE_COMB* g = new CDB_SGATE_COMB(nullptr, CDB_COMB_AND);
  nl.add_node(g);
  for (int i = 0; i < 3; ++i) g->add_unordered_fanin_from_oterm(nullptr, i == 0, ins[size_t(i)]->get_single_oterm());
  g->add_unordered_fanin_from_oterm(nullptr, false, nullptr);  // VCC: neutral for AND
  CDB_SGATE_BUFFER* reader = make_buffer(&nl, g, CDB_BUFFER_SOFT);
  const uint64_t seen_by_reader = truth3(nl, ins, reader->get_single_oterm());
  g->demorgan();
  EXPECT_TRUE(g->get_comb_type() == CDB_COMB_OR && !g->get_single_oterm()->is_inverted());
  EXPECT_TRUE(reader->get_input_term(0)->is_inverted() && g->get_input_term(3)->is_gnd());
  EXPECT_EQ(truth3(nl, ins, reader->get_single_oterm()), seen_by_reader);
  g->set_comb_type(CDB_COMB_XOR);
  EXPECT_KAVU_INTERNAL_ERROR(g->demorgan(), "CDB_COMB_AND");
}

TEST(CdbKinds, LutFoldingMatchesSimulation) {
  std::mt19937 rng(5);
  for (int round = 0; round < 200; ++round) {
    CDB_SGATE_NETLIST nl;
    std::vector<CDB_SGATE_NODE*> ins = three_inputs(nl);
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
    const uint64_t before = truth3(nl, ins, lut->get_single_oterm());
    lut->mls_sweep(true);
    ASSERT_EQ(truth3(nl, ins, lut->get_single_oterm()), before) << "round " << round;
    std::set<const CDB_SGATE_OTERM*> sources;
    for (CDB_SGATE_ITERM* t : lut->get_input_terms()) {
      if (!t || !t->is_connected()) continue;
      EXPECT_FALSE(t->is_vcc_or_gnd() || t->is_inverted());
      EXPECT_TRUE(sources.insert(t->get_source()).second) << "duplicate left, round " << round;
    }
    std::string report;
    EXPECT_TRUE(nl.check(&report)) << report;  // no mask depends on a folded input
    EXPECT_FALSE(lut->mls_sweep(true));        // nothing left to fold
  }
  // check() reports a mask that depends on an unconnected input.
  CDB_SGATE_NETLIST nl;
  make_lut(&nl, {make_input_pin(&nl, "a"), make_input_pin(&nl, "b")}, 0x8)->get_input_term(1)->disconnect_from_source();
  std::string report;
  EXPECT_FALSE(nl.check(&report));
  EXPECT_NE(report.find("unconnected input 1"), std::string::npos) << report;
}

TEST(CdbKinds, TerminalPlacementAndDeletionRules) {
  CDB_SGATE_IO in(nullptr, CDB_IO_INPUT);
  CDB_SGATE_MUX mux(nullptr);
  CDB_SGATE_ITERM* sel = mux.create_input_term(nullptr);
  mux.set_input_term(sel, CDB_MUX_SELECT);  // grows the list with nulls
  mux.set_input_term(sel, CDB_MUX_SELECT);  // the same terminal again: fine
  EXPECT_TRUE(mux.get_number_of_input_terms() == 3u && mux.get_single_iterm() == sel);
  CDB_SGATE_ITERM* other = mux.create_input_term(nullptr);
  std::unique_ptr<CDB_SGATE_ITERM> foreign(in.create_input_term(nullptr));
  EXPECT_KAVU_INTERNAL_ERROR(mux.set_input_term(other, CDB_MUX_SELECT), "nullptr");
  EXPECT_KAVU_INTERNAL_ERROR(mux.set_input_term(sel, 0), "std::find");  // listed twice
  EXPECT_KAVU_INTERNAL_ERROR(mux.set_input_term(foreign.get(), 0), "get_my_node");
  mux.set_input_term(other, 0);
  in.get_single_oterm()->insert_fanout(other);
  mux.delete_input_term(other);  // positional kinds keep their positions
  EXPECT_TRUE(mux.get_number_of_input_terms() == 3u && mux.get_input_term(0) == nullptr && !in.has_fanout());

  CDB_SGATE_COMB c(nullptr, CDB_COMB_OR);
  CDB_SGATE_ITERM* a = c.insert_unordered_fanin(in.get_single_oterm());
  CDB_SGATE_ITERM* b = c.insert_unordered_fanin(in.get_single_oterm());
  c.delete_input_term(a);  // comb gates close the gap
  EXPECT_TRUE(c.get_number_of_input_terms() == 1u && c.get_input_term(0) == b);
  EXPECT_TRUE(in.get_fanout_node_count() == 1u && c.get_fanin_node_count() == 1u);
  CDB_SGATE_BOUNDARY bnd(nullptr, CDB_BOUNDARY_INPUT);
  CDB_SGATE_OTERM* mine = new CDB_SGATE_OTERM(&bnd);
  bnd.set_output_term(mine, 0);  // replaces the unused output the constructor made
  mine->insert_fanout(b);
  std::unique_ptr<CDB_SGATE_OTERM> late(new CDB_SGATE_OTERM(&bnd));
  EXPECT_KAVU_INTERNAL_ERROR(bnd.set_output_term(late.get(), 0), "has_fanout");  // one with fan-out stays
  b->disconnect_from_source();
}

// Register inputs carry their fixed port types; flags are copied between
// plain registers and flip-flop atoms by meaning, not by bit.
TEST(CdbKinds, RegisterPortTypesAndFlagsCopiedByMeaning) {
  CDB_SGATE_DFF r(nullptr);
  r.create_all_inputs();
  const DB_INPUT_PORT_TYPE expected[] = {20, 7, 6, 27, 8, 0, 1, 30, 33};
  unsigned seen = 0;
  for (unsigned p = r.get_first_iport(); p != r.get_end_iport(); p = r.get_next_iport(p), ++seen)
    EXPECT_EQ(r.get_input_term(p)->get_port_type(), expected[p]);
  EXPECT_EQ(seen, 9u);
  EXPECT_EQ(r.get_input_port_number(DB_PORT_SHAREIN), unsigned(CDB_ILLEGAL_PORT));
  r.set_max_fanout(12);
  r.set_power_up_high(true);  // power-up changes the function
  r.set_has_power_up_setting(true);
  EXPECT_TRUE(r.is_changed());
  CDB_SGATE_WYSIWYG ff(nullptr, 62);
  ff.get_reg_flags()->copy_flags_from_other_ff(&r);
  EXPECT_EQ(ff.get_flag_byte(CDB_KIND_BYTE), CDB_WYS_FF_POWER_UP_HIGH | CDB_WYS_FF_POWER_UP_SET);
  ff.set_power_up_dc(true);
  ff.set_merge_allowed(false);
  CDB_SGATE_DFF back(nullptr);
  back.copy_flags_from_other_ff(&ff);
  EXPECT_TRUE(back.powers_up_high() && back.is_power_up_dc() && back.max_fanout_is_set() && !back.merge_allowed());
  CDB_SGATE_COMB c(nullptr, CDB_COMB_AND);
  EXPECT_KAVU_INTERNAL_ERROR(back.copy_flags_from_other_ff(&c), "get_reg_flags");
}

TEST(CdbKinds, IdentitiesAndStateMachineReferences) {
  CDB_SGATE_NODE::reset_debug_counter(40);
  CDB_SGATE_COMB g(nullptr, CDB_COMB_AND);
  EXPECT_EQ(g.get_string_hpath(), "~N40");
  g.set_debug_number(900);  // e.g. read from an archive: the counter moves past it
  EXPECT_EQ(CDB_SGATE_COMB(nullptr, CDB_COMB_OR).get_id(), 901u);
  g.set_synthesized_name(nullptr);  // naming a gate after a base marks its name temporary
  EXPECT_TRUE(g.has_temporary_name());
  HDB_INSTANCE_NAME* base = HDB_INSTANCE_NAME::create_normal_name(nullptr, "base", nullptr, nullptr, nullptr);
  EXPECT_EQ(g.get_synfrom_name(), nullptr);
  g.set_synthesized_name(base);  // a gate without extra data records the base too
  EXPECT_EQ(g.get_synfrom_name(), base);

  CDB_STATE_MACHINE* m = new CDB_STATE_MACHINE;
  CDB_SGATE_STATE* s1 = new CDB_SGATE_STATE(nullptr, m);
  std::unique_ptr<CDB_SGATE_STATE> s2(new CDB_SGATE_STATE(nullptr, m));
  CDB_SGATE_DFF* reg = new CDB_SGATE_DFF(nullptr);
  m->add_state(s1);
  m->add_state(s2.get());
  m->add_register(reg);
  m->set_clk(reg->get_single_oterm());
  std::unordered_map<unsigned, CDB_SGATE_NODE*> by_number;  // terminals stored as debug numbers come back
  m->gather_nodes_of_interest(&by_number);
  m->store_oterms_as_debug_numbers(true);
  m->recover_oterms_from_debug_numbers(&by_number);
  EXPECT_EQ(m->get_clk(), reg->get_single_oterm());
  std::unique_ptr<CDB_STATE_MACHINE> copy(m->cross_clone(nullptr));
  delete s1;  // the machines forget a destroyed gate
  delete reg;
  EXPECT_TRUE(m->get_states().size() == 1u && copy->get_states().size() == 1u);
  EXPECT_TRUE(m->get_clk() == nullptr && copy->get_registers().empty());
  CDB_SGATE_IO* clk_pin = new CDB_SGATE_IO(nullptr, CDB_IO_INPUT);
  m->set_clk_en(clk_pin->get_single_oterm());
  delete clk_pin;  // a terminal the machine names, on a gate it does not list
  EXPECT_EQ(m->get_clk_en(), nullptr);
  delete m;  // and a destroyed machine leaves no reference behind
}

// Compatible-register sets are keyed by debug number, so a destroyed
// register leaves nothing dangling; partition netlists share the records.
TEST(CdbKinds, CompatibleRegistersAndPartitionRecords) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  CDB_SGATE_HIERARCHY top, child;
  child.set_parent(&top);
  EXPECT_EQ(child.get_root(), &top);
  top.set_netlist(&nl);
  top.get_machine_list()->push_back(new CDB_STATE_MACHINE);  // owned by the hierarchy
  CDB_SGATE_OTERM* a = make_dff(&nl, nullptr, nullptr)->get_single_oterm();
  CDB_SGATE_NODE* b = make_dff(&nl, nullptr, nullptr);
  CDB_SGATE_COMPATIBLE_REGISTERS* cr = nl.get_compatible_registers();
  // No entry is the common set of the unconstrained registers; set 0 given
  // explicitly reads the same (archives keep only non-zero ids).
  EXPECT_TRUE(cr->oterms_are_compatible(a, b->get_single_oterm()));
  cr->add_oterm_set_id(b->get_single_oterm(), 0);
  EXPECT_TRUE(cr->oterms_are_compatible(a, b->get_single_oterm()));
  cr->add_oterm_set_id(a, 3);
  EXPECT_FALSE(cr->oterms_are_compatible(a, b->get_single_oterm()));  // a set of its own
  EXPECT_FALSE(cr->oterms_are_compatible(b->get_single_oterm(), a));
  cr->add_oterm_set_id(b->get_single_oterm(), 3);
  EXPECT_TRUE(cr->oterms_are_compatible(a, b->get_single_oterm()));
  cr->mark_synch_reg(a, 2);
  EXPECT_FALSE(cr->oterms_are_compatible(a, b->get_single_oterm()));  // a synchronizer stays apart
  EXPECT_FALSE(cr->oterms_are_compatible(a, nullptr));
  nl.delete_node(b);
  delete b;
  EXPECT_TRUE(cr->get_set_id(a) == 3u && cr->get_synch_chain(a) == 2u);
  cr->clear_all();
  EXPECT_EQ(cr->get_set_id(a), 0u);
  nl.create_high_speed_map()->operator[](7).set_high_speed_source(true);
  CDB_SGATE_NETLIST part;
  nl.copy_members_to_partitioned_netlist(&part);
  EXPECT_EQ(part.get_hierarchy(), &top);
  EXPECT_TRUE(part.get_high_speed_registers()->at(7).is_high_speed_source());
  part.set_hierarchy(nullptr);
}

// ---------------------------------------------------------------------------
// clone_node on every kind: a new gate of the same kind, with the kind data,
// terminals in the same slots with the same port data, no fan-out; type 1
// gives each input the original's connection, type 0 leaves it unconnected.

// A gate's terminals as text, slot by slot: port data and inversion, and
// for inputs the source and tie, which only a clone of type 1 keeps.
std::vector<std::string> terminals(const CDB_SGATE_NODE* g, int clone_type) {
  std::vector<std::string> v;
  for (const CDB_SGATE_ITERM* t : g->get_input_terms())
    v.push_back(!t ? "-" : std::to_string(t->get_port_type()) + "." + std::to_string(t->get_port_index()) +
                               (t->is_inverted() ? " inverted" : "") + (clone_type && t->is_vcc_or_gnd() ? " tied" : "") +
                               (clone_type && t->get_source() ? " from " + t->get_source()->get_my_node()->get_debug_name() : ""));
  for (const CDB_SGATE_OTERM* o : g->get_output_terms())
    v.push_back(!o ? "-" : "out " + std::to_string(o->get_port_type()) + "." + std::to_string(o->get_port_index()));
  return v;
}

TEST(CdbKinds, CloneNodeCopiesKindDataSlotsAndConnectionsOfEveryKind) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  CDB_SGATE_NODE* in = make_input_pin(&nl, "in");
  CDB_SGATE_OTERM* src = in->get_single_oterm();
  // Each prototype with a check of its kind data on a copy.
  std::vector<std::pair<CDB_SGATE_NODE*, std::function<void(CDB_SGATE_NODE*)>>> protos;

  CDB_SGATE_NODE* x = make_xor(&nl, in, nullptr);  // the second input tied to VCC
  x->get_input_term(0)->set_invert();
  x->set_string_name("named");
  protos.push_back({x, [](CDB_SGATE_NODE* c) { EXPECT_STREQ(c->get_string_name(), "named"); }});
  CDB_SGATE_NODE* dff = make_dff(&nl, in, nullptr);
  dff->get_input_term(CDB_DFF_ENA)->set_vcc();
  dff->get_reg_flags()->set_power_up_high(true);
  protos.push_back({dff, [](CDB_SGATE_NODE* c) { EXPECT_TRUE(c->get_reg_flags()->powers_up_high()); }});

  CDB_SGATE_WYSIWYG* ff = new CDB_SGATE_WYSIWYG(nullptr, 115);
  nl.add_node(ff);
  for (DB_INPUT_PORT_TYPE port : {DB_PORT_DATAIN, DB_PORT_ENA})
    ff->set_input_term(ff->create_input_term(nullptr, port), ff->get_input_port_number(port));
  ff->get_iterm_by_type(DB_PORT_DATAIN)->set_source(src);
  ff->get_iterm_by_type(DB_PORT_ENA)->set_vcc();
  ff->set_output_term(ff->create_output_term(nullptr, DB_PORT_REGOUT), ff->get_output_port_number(DB_PORT_REGOUT));
  ff->set_mode(91);
  ff->set_lutmask_value(0x1234);
  ff->set_sweep_level(2);
  protos.push_back({ff, [](CDB_SGATE_NODE* c) {
                      const CDB_SGATE_WYSIWYG* a = c->cast_to_wysiwyg();
                      EXPECT_TRUE(a->mode_is_set(91) && a->get_sweep_level() == 2 && a->get_lutmask_value() == 0x1234u);
                    }});
  CDB_SGATE_WYSIWYG* generic = new CDB_SGATE_WYSIWYG(nullptr, 4242);
  nl.add_node(generic);
  generic->set_input_term(generic->create_input_term(nullptr, 700), generic->get_input_port_number(700));
  const unsigned slot_701 = generic->get_input_port_number(701);  // asked for, never placed
  protos.push_back({generic, [slot_701](CDB_SGATE_NODE* c) { EXPECT_EQ(c->get_input_port_number(701), slot_701); }});

  CDB_SGATE_WYSIWYG_RAM_BLOCK* ram_block = new CDB_SGATE_WYSIWYG_RAM_BLOCK(nullptr, 64);
  nl.add_node(ram_block);
  ram_block->set_ram_mode(45, CDB_RAM_PORT_B);
  protos.push_back({ram_block, [](CDB_SGATE_NODE* c) {
                      EXPECT_TRUE(c->cast_to_wysiwyg_ram_block()->ram_mode_is(45, CDB_RAM_PORT_B));
                    }});
  CDB_SGATE_OPERATOR* op = new CDB_SGATE_OPERATOR("add", CDB_OPER_ADDITION);
  nl.add_node(op);
  op->add_port("a", CDB_OPER_PORT_A, CDB_OPER_PORT_DIR_IN)->set_iterm(1, op->insert_unordered_fanin(src));
  op->add_port("o", CDB_OPER_PORT_O, CDB_OPER_PORT_DIR_OUT)->set_oterm(2, op->create_output_term(nullptr));
  op->set_mode3(0xdeadbeef);
  op->set_signed(1);
  protos.push_back({op, [](CDB_SGATE_NODE* c) {
                      const CDB_SGATE_OPERATOR* o = c->cast_to_operator();
                      EXPECT_TRUE(o->get_type() == CDB_OPER_ADDITION && o->is_signed() && o->get_mode3() == 0xdeadbeef);
                      // Port bits are the copy's own terminals, empty bits stay empty.
                      EXPECT_TRUE(o->get_iterm(CDB_OPER_PORT_A, 0) == nullptr &&
                                  o->get_iterm(CDB_OPER_PORT_A, 1) == c->get_input_term(0));
                      EXPECT_EQ(o->get_oterm(CDB_OPER_PORT_O, 2), c->get_output_term(0));
                    }});
  CDB_SGATE_COMPONENT* comp = new CDB_SGATE_COMPONENT("cnt", false);
  nl.add_node(comp);
  comp->set_parameter("LPM_WIDTH", "8", 493);
  comp->add_unique_known_port("data", CDB_COMPONENT_PORT_INPUT, 2)->get_iterm(1)->set_source(src);
  comp->add_unique_known_port("q", CDB_COMPONENT_PORT_OUTPUT, 2);
  protos.push_back({comp, [](CDB_SGATE_NODE* c) {
                      CDB_SGATE_COMPONENT* k = c->cast_to_component();
                      EXPECT_STREQ(k->get_parameter("LPM_WIDTH"), "8");
                      EXPECT_EQ(k->find_port("data")->get_iterm(1), k->get_input_term(1));
                    }});
  CDB_SGATE_SYNCHRONOUS_RAM* ram = new CDB_SGATE_SYNCHRONOUS_RAM(nullptr);
  nl.add_node(ram);
  ram->add_iterm(DB_PORT_RAM_PORTB_CLK)->set_source(src);
  ram->add_oterm(DB_PORT_RAM_PORTB_DATAOUT, 0);
  ram->set_size_parameter(9, 512);
  ram->set_mode_word(1, 0x55);
  ram->set_mif_file("db/init.mif");
  ram->set_mode_byte(0xa5);
  ram->set_port_mode_byte(3, 0x3c);
  ram->set_option_bits(0x41);
  ram->set_last_word(0x80000001u);
  protos.push_back({ram, [](CDB_SGATE_NODE* c) {
                      const CDB_SGATE_SYNCHRONOUS_RAM* r = c->cast_to_synchronous_ram();
                      EXPECT_TRUE(r->get_size_parameter(9) == 512 && r->get_mode_word(1) == 0x55u);
                      EXPECT_TRUE(r->get_mode_byte() == 0xa5 && r->get_port_mode_byte(3) == 0x3c &&
                                  r->get_port_mode_byte(0) == 0);
                      EXPECT_TRUE(r->get_option_bits() == 0x41 && r->get_last_word() == 0x80000001u);
                      EXPECT_STREQ(r->get_mif_file(), "db/init.mif");
                    }});
  CDB_SGATE_ASYNCHRONOUS_RAM* async = new CDB_SGATE_ASYNCHRONOUS_RAM(nullptr);
  nl.add_node(async);
  protos.push_back({async, [](CDB_SGATE_NODE*) {}});
  CDB_SGATE_BOUNDARY* bnd = new CDB_SGATE_BOUNDARY(nullptr, CDB_BOUNDARY_OUTPUT);
  nl.add_node(bnd);
  bnd->insert_unordered_fanin(src);
  bnd->set_partition_number(3);
  bnd->set_boundary_id(17);
  bnd->set_cut(true);
  bnd->set_fed_by(src);
  protos.push_back({bnd, [src](CDB_SGATE_NODE* c) {
                      const CDB_SGATE_BOUNDARY* b = c->cast_to_boundary();
                      EXPECT_TRUE(b->get_direction() == CDB_BOUNDARY_OUTPUT && b->get_partition_number() == 3 &&
                                  b->get_boundary_id() == 17 && b->is_cut() && b->get_fed_by() == src);
                    }});

  for (const auto& [g, check_kind_data] : protos) {
    for (int clone_type : {0, 1}) {
      SCOPED_TRACE(testing::Message() << g->get_string_type_name() << " clone type " << clone_type);
      CDB_SGATE_NODE* c = nullptr;
      g->clone_node(nullptr, &c, clone_type);
      ASSERT_NE(c, nullptr);
      EXPECT_EQ(c->get_sgate_type(), g->get_sgate_type());
      EXPECT_NE(c->get_id(), g->get_id());
      EXPECT_TRUE(c->get_netlist() == nullptr && c->get_instance_name() == nullptr);
      EXPECT_EQ(terminals(c, 1), terminals(g, clone_type));
      EXPECT_FALSE(c->has_fanout());
      check_kind_data(c);
      EXPECT_TRUE(c->check_kind_invariants(nullptr));
      nl.add_node(c);  // and the netlist's check() holds with every copy in it
    }
  }
}

}  // namespace
