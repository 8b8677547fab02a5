// Tests of gate creation and buffer edits: names of new gates, buffer
// insertion and excision, by hand and on real circuits (function kept).

#include "hdb/hdb.h"
#include "kavu_helper_gate_create.h"
#include "kavu_name.h"
#include "testkit/platform_testkit.h"

using kavu_platform::make_and;
using kavu_platform::make_buffer;
using kavu_platform::make_input_pin;
using kavu_platform::make_output_pin;

namespace {

class KavuGateCreate : public ::testing::Test {
 protected:
  void TearDown() override {
    kavu_reset_sgate_naming_function();
    cdb_sgate_set_synthesis_running_in_parallel(false);
  }
};

// Every driven input of the netlist, collected before any edit.
std::vector<CDB_SGATE_ITERM*> driven_inputs(CDB_SGATE_NETLIST* nl) {
  std::vector<CDB_SGATE_ITERM*> out;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
    for (CDB_SGATE_ITERM* t : (*it)->get_input_terms())
      if (t && t->get_source()) out.push_back(t);
  return out;
}

TEST_F(KavuGateCreate, SoftBuffersInsertedAndExcisedKeepTheFunction) {
  for (const char* circuit : {"alu8_lut6", "s298", "async_regs_generic"}) {
    auto golden = kavu_platform::load_blif(circuit);
    auto nl = kavu_platform::load_blif(circuit);
    KAVU_TRACK(nl);
    const unsigned before = nl->size();
    std::vector<CDB_SGATE_ITERM*> inputs = driven_inputs(nl.get());
    std::vector<CDB_SGATE_NODE*> buffers;
    for (CDB_SGATE_ITERM* t : inputs) {
      CDB_SGATE_OTERM* old_source = t->get_source();
      CDB_SGATE_NODE* b = kavu_insert_soft_before(t, nl.get(), nullptr);
      // Exactly one new gate between the old source and the terminal.
      ASSERT_TRUE(t->get_source() == b->get_single_oterm() && b->get_single_iterm()->get_source() == old_source);
      buffers.push_back(b);
    }
    EXPECT_EQ(nl->size(), before + inputs.size()) << circuit;
    ASSERT_KAVU_EQUIVALENT(golden, nl);

    for (CDB_SGATE_NODE* b : buffers) {
      kavu_excise_buffer(b);
      nl->delete_node(b);
      delete b;
    }
    EXPECT_EQ(nl->size(), before) << circuit;
    ASSERT_KAVU_EQUIVALENT(golden, nl);
  }
}

TEST_F(KavuGateCreate, CutBuffersBehindEveryOutputAreExcisedAgain) {
  auto golden = kavu_platform::load_blif("mult6_generic");
  auto nl = kavu_platform::load_blif("mult6_generic");
  KAVU_TRACK(nl);
  // Every second output is inverted, folded into its readers so the
  // function stays: the buffer must carry that inversion through.
  std::vector<CDB_SGATE_OTERM*> outputs;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
    CDB_SGATE_OTERM* o = (*it)->get_single_oterm();
    if (!o || !o->has_fanout()) continue;
    if (outputs.size() % 2 == 0) {
      o->set_invert();
      for (CDB_SGATE_ITERM* f : o->fanouts()) f->invert();
    }
    outputs.push_back(o);
  }
  const unsigned size = nl->size();
  for (CDB_SGATE_OTERM* o : outputs) kavu_drive_through_buffer(nl.get(), o, CDB_BUFFER_CUT);
  ASSERT_KAVU_EQUIVALENT(golden, nl);
  EXPECT_EQ(kavu_excise_lcell_buffers(nl.get()), 0);
  EXPECT_EQ(kavu_excise_cut_buffers(nl.get()), static_cast<int>(outputs.size()));
  EXPECT_EQ(nl->size(), size);
  ASSERT_KAVU_EQUIVALENT(golden, nl);
}

TEST_F(KavuGateCreate, ExcisingConstantInvertedAndSelfFeedingBuffers) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");

  // VCC input, inverted output: the readers get GND.
  CDB_SGATE_BUFFER* vcc = make_buffer(&nl, nullptr, CDB_BUFFER_SOFT);
  vcc->get_single_iterm()->set_vcc();
  vcc->get_single_oterm()->set_invert();
  CDB_SGATE_NODE* out1 = make_output_pin(&nl, "o1", vcc);
  kavu_excise_buffer(vcc);
  EXPECT_TRUE(out1->get_input_term(0)->is_gnd() && !vcc->has_fanout());

  // Inverted input: the inversion moves onto every reader, which the source
  // then drives directly.
  CDB_SGATE_BUFFER* inv = make_buffer(&nl, a, CDB_BUFFER_SOFT);
  inv->get_single_iterm()->set_invert();
  CDB_SGATE_NODE* out2 = make_output_pin(&nl, "o2", inv);
  CDB_SGATE_NODE* out3 = make_output_pin(&nl, "o3", inv, true);
  kavu_excise_buffer(inv);
  EXPECT_TRUE(out2->get_input_term(0)->get_source() == a->get_single_oterm() && out2->get_input_term(0)->is_inverted());
  EXPECT_FALSE(out3->get_input_term(0)->is_inverted());
  EXPECT_FALSE(inv->get_single_iterm()->is_connected());

  CDB_SGATE_BUFFER* loose = make_buffer(&nl, nullptr, CDB_BUFFER_SOFT);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_excise_buffer(loose), "cdb_is_connected");
  CDB_SGATE_BUFFER* loop = make_buffer(&nl, nullptr, CDB_BUFFER_CUT);
  loop->get_single_oterm()->insert_fanout(loop->get_single_iterm());
  CDB_SGATE_NODE* out = make_output_pin(&nl, "o", loop);
  kavu_excise_buffer(loop);
  EXPECT_TRUE(out->get_input_term(0)->is_gnd() && !loop->has_fanout());

  // Regression: an inverting self-loop puts the inversion back on the
  // buffer's own input, which the check used to overlook.
  CDB_SGATE_BUFFER* ring = make_buffer(&nl, nullptr, CDB_BUFFER_CUT);
  ring->get_single_oterm()->insert_fanout(ring->get_single_iterm());
  ring->get_single_iterm()->set_invert();
  EXPECT_KAVU_INTERNAL_ERROR(kavu_excise_buffer(ring), "Inversion would be lost");
}

TEST_F(KavuGateCreate, NewGatesNameBuffersAndSingleFanouts) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* b = make_input_pin(&nl, "b");
  CDB_SGATE_NODE* g = make_and(&nl, a, b);
  g->set_instance_name(HDB_INSTANCE_NAME::create_normal_name(nullptr, "g", nullptr, nullptr,
                                                              a->get_instance_name()->get_parent()));
  make_output_pin(&nl, "o", g);

  CDB_SGATE_COMB* comb = kavu_create_new_comb(&nl, g, CDB_COMB_XOR);
  EXPECT_EQ(comb->get_number_of_input_terms(), 0u);
  EXPECT_EQ(comb->get_instance_name()->get_short_hpath(), "top|g~comb");
  CDB_SGATE_BUFFER* buf = kavu_create_new_buffer(&nl, g, CDB_BUFFER_PROTECT);
  EXPECT_EQ(buf->get_instance_name()->get_short_hpath(), "top|g~buf");
  EXPECT_FALSE(buf->get_input_term(0)->is_connected());

  CDB_SGATE_NODE* copy = kavu_duplicate_gate(g, &nl, nullptr);
  EXPECT_EQ(copy->get_instance_name()->get_short_hpath(), "top|g~cln");
  EXPECT_EQ(copy->get_fanin_term(0), g->get_fanin_term(0));

  CDB_SGATE_NODE* mux = kavu_synth_mux_sgate(g, &nl, nullptr, false);
  EXPECT_EQ(mux->get_instance_name()->get_short_hpath(), "top|g~sld_mux");
  for (unsigned i = 0; i < 3; ++i) EXPECT_TRUE(mux->get_input_term(i)->is_gnd());
  EXPECT_FALSE(mux->has_fanout());
  EXPECT_EQ(kavu_synth_mux_sgate(g, &nl, nullptr, true)->get_instance_name(), nullptr);

  EXPECT_KAVU_INTERNAL_ERROR(kavu_create_new_comb(&nl, nullptr, CDB_COMB_AND), "from_sgate");

  HDB_INSTANCE_NAME* names[] = {g->get_instance_name(), comb->get_instance_name(),
                                g->get_single_oterm()->get_instance_name(), comb->get_single_oterm()->get_instance_name()};
  kavu_swap_instance_names(g, comb);
  EXPECT_TRUE(g->get_instance_name() == names[1] && comb->get_instance_name() == names[0]);
  EXPECT_TRUE(g->get_single_oterm()->get_instance_name() == names[3] &&
              comb->get_single_oterm()->get_instance_name() == names[2]);
  CDB_SGATE_NODE* p = make_input_pin(&nl, "p");
  CDB_SGATE_NODE* o1 = make_output_pin(&nl, "o1", p);
  EXPECT_EQ(kavu_get_single_fanout(p->get_single_oterm()), o1->get_input_term(0));
  make_output_pin(&nl, "o2", p);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_get_single_fanout(p->get_single_oterm()), "has_fanout_exactly");

  CDB_SGATE_NODE* tied = make_output_pin(&nl, "o3", nullptr);
  tied->get_input_term(0)->set_gnd();
  EXPECT_KAVU_INTERNAL_ERROR(kavu_insert_soft_before(tied->get_input_term(0), &nl, nullptr),
                             "cdb_is_connected(iterm) && !iterm->is_vcc_or_gnd()");
  CDB_SGATE_NODE* nb = kavu_insert_name_before(o1->get_input_term(0), &nl, nullptr);
  EXPECT_EQ(nb->cast_to_buffer()->get_buffer_type(), CDB_BUFFER_NAME);
  EXPECT_EQ(nb->get_instance_name()->get_short_hpath(), "top|o1~clk");
}

TEST_F(KavuGateCreate, NameBufferTakesTheNameAndKeepsAnInvertedFunction) {
  CDB_SGATE_NETLIST golden, nl;
  CDB_SGATE_NODE* g = nullptr;
  for (CDB_SGATE_NETLIST* n : {&golden, &nl}) {
    g = make_and(n, make_input_pin(n, "a"), make_input_pin(n, "b"));
    make_output_pin(n, "o1", g);
    make_output_pin(n, "o2", g, true);
  }
  KAVU_TRACK(nl);
  // g gets an inverted output, folded into its readers, and a name.
  CDB_SGATE_OTERM* out = g->get_single_oterm();
  out->set_invert();
  for (CDB_SGATE_ITERM* f : out->fanouts()) f->invert();
  HDB_INSTANCE_NAME* top = HDB_INSTANCE_NAME::create_normal_name(nullptr, "top", nullptr, nullptr, nullptr);
  HDB_INSTANCE_NAME* gname = HDB_INSTANCE_NAME::create_normal_name(nullptr, "g", nullptr, nullptr, top);
  out->set_instance_name(gname);
  g->set_instance_name(gname);
  CDB_SGATE_NODE* buffer = kavu_insert_name_buffer(out, &nl, nullptr);
  ASSERT_KAVU_EQUIVALENT(golden, nl);
  EXPECT_TRUE(buffer->get_instance_name() == gname && buffer->get_single_oterm()->get_instance_name() == gname);
  EXPECT_EQ(out->get_instance_name()->get_short_hpath(), "top|g~clk");
  EXPECT_TRUE(out->has_fanout_exactly(1));
}

TEST_F(KavuGateCreate, NameBufferDuringParallelSynthesisDefersTheName) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  make_output_pin(&nl, "o", a);
  CDB_SGATE_OTERM* out = a->get_single_oterm();
  HDB_INSTANCE_NAME* old_name = out->get_instance_name();
  out->set_synthesized_name(old_name);
  cdb_sgate_set_synthesis_running_in_parallel(true);
  // Regression: the rename step used to stop with "Can't create new names in
  // parallel" here.
  CDB_SGATE_NODE* buffer = kavu_insert_name_buffer(out, &nl, nullptr);
  EXPECT_EQ(buffer->get_instance_name(), old_name);
  EXPECT_TRUE(out->has_synthesized_name_mark() && out->get_synfrom_name() == old_name);
  // The deferred pass then gives the terminal a name of its own.
  cdb_sgate_set_synthesis_running_in_parallel(false);
  kavu_create_real_names_from_syn_ids(&nl);
  EXPECT_TRUE(!out->has_synthesized_name_mark() && out->get_instance_name() != old_name);

  // Outside parallel synthesis a marked terminal's name is made fresh.
  CDB_SGATE_NODE* b = make_input_pin(&nl, "b");
  make_output_pin(&nl, "ob", b);
  b->get_single_oterm()->set_synthesized_name(b->get_single_oterm()->get_instance_name());
  CDB_SGATE_NODE* nb = kavu_insert_name_buffer(b->get_single_oterm(), &nl, nullptr);
  EXPECT_EQ(nb->get_instance_name()->get_short_hpath(), "top|b~clk");
}

}  // namespace
