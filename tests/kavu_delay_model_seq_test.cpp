// Tests of the sequential delay models and the timer records they read.
#include <memory>

#include "kavu_delay.h"
#include "kavu_delay_model_seq.h"
#include "kavu_seq_timer.h"
#include "testkit/platform_testkit.h"

using namespace kavu_platform;

namespace {
CDB_SGATE_OTERM* out(CDB_SGATE_NODE* n) { return n->get_output_term(0); }

// A comb gate over fresh input pins with the given arrivals (stored in the
// pins' fan-in fields, which KAVU_DELAY_MODEL_SIMPLE reads).
CDB_SGATE_COMB* comb_over(CDB_SGATE_NETLIST* nl, const std::vector<int>& arrivals) {
  auto* comb = new CDB_SGATE_COMB(nullptr, CDB_COMB_AND);
  nl->add_node(comb);
  for (size_t i = 0; i < arrivals.size(); ++i) {
    CDB_SGATE_NODE* pin = make_input_pin(nl, ("i" + std::to_string(i)).c_str());
    out(pin)->set_fanin_delay(arrivals[i]);
    comb->add_unordered_fanin_from_oterm(nullptr, false, out(pin));
  }
  make_output_pin(nl, "o", comb);
  return comb;
}
}  // namespace

TEST(KavuDelayModelSeq, HuffmanArcsOfWideGates) {
  CFG_SCOPE cfg{{"kavu_delay_comb_gate", "1"}};
  struct CASE {
    std::vector<int> arrivals;
    int k, limit;
    std::vector<int> arcs;  // per input, from the fan-out side
    int fanin;
    bool fastest;
  } cases[] = {
      {{0, 0, 0, 0, 10}, 2, 200, {3, 3, 3, 3, 1}, 11, true},
      {{0, 0, 0, 0}, 4, 200, {1, 1, 1, 1}, 1, true},
      {{5, 0, 0, 0, 0}, 5, 5, {1, 1, 1, 1, 1}, 6, true},  // huge on the fan-in side only: 1 level
      {{7}, 2, 200, {0}, 7, true},                          // one input passes through: arc 0
  };
  for (const CASE& c : cases) {
    CDB_SGATE_NETLIST nl;
    CDB_SGATE_COMB* comb = comb_over(&nl, c.arrivals);
    out(comb)->set_fanout_delay(0);
    KAVU_DELAY_MODEL_SIMPLE model(false, c.k, c.limit);
    bool fastest = false;
    CDB_SGATE_OTERM* src = nullptr;
    EXPECT_EQ(model.compute_fanin_delay_of_oterm(out(comb), &src, nullptr, nullptr, nullptr, false, 0, &fastest),
              c.fanin);
    EXPECT_EQ(fastest, c.fastest);
    KAVU_DELAY_MODEL_SIMPLE::COMB_GATE_SET set;
    KAVU_DELAY_MODEL_SIMPLE::ARC_TABLE table;
    for (int with_table = 0; with_table < 2; ++with_table) {
      if (with_table) model.set_comb_gate_data(&set, &table);
      for (size_t i = 0; i < c.arrivals.size(); ++i) {
        int arc = -1;
        EXPECT_EQ(model.compute_fanout_delay_of_iterm(comb->get_input_term(unsigned(i)), nullptr, &arc, nullptr,
                                                      nullptr, false, 0),
                  c.arcs[i])
            << i << " table " << with_table;
      }
    }
    model.invalidate_gate_delays();
    EXPECT_EQ(table.size(), 0u);
    model.reset_comb_gate_data();
    model.invalidate_gate_delays();  // nothing installed: nothing to do
  }
}

TEST(KavuDelayModelSeq, LevelCountStaysInDouble) {
  EXPECT_EQ(kavu_delay_seq::level_count(8, 2), 3);
  EXPECT_EQ(kavu_delay_seq::level_count(125, 5), 4);
  EXPECT_EQ(kavu_delay_seq::level_count(216, 6), 4);
  EXPECT_EQ(kavu_delay_seq::level_count(1, 2), 0);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_delay_seq::level_count(8, 1), "k >= 2");
}

TEST(KavuDelayModelSeq, RegistersAndSimpleGates) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* b = make_input_pin(&nl, "b");
  CDB_SGATE_NODE* clk = make_input_pin(&nl, "clk");
  CDB_SGATE_NODE* lut = make_lut(&nl, {a, b}, 0xA);  // depends on a only
  CDB_SGATE_NODE* reg = make_dff(&nl, lut, clk);
  CDB_SGATE_NODE* lonely = make_dff(&nl, nullptr, clk);
  make_output_pin(&nl, "o", reg);
  out(a)->set_fanin_delay(4);
  out(lut)->set_fanout_delay(6);
  out(reg)->set_fanout_delay(2);
  KAVU_DELAY_MODEL_SIMPLE model(false);
  const int L = model.get_lut_delay();
  EXPECT_EQ(model.compute_fanin_delay_of_oterm(out(lut), nullptr, nullptr, nullptr, nullptr, false, 0, nullptr), 4 + L);
  // A non-dependent arc is invalid, not a near-minimum sum.
  EXPECT_EQ(model.compute_fanout_delay_of_iterm(lut->get_input_term(1), nullptr, nullptr, nullptr, nullptr, false, 0),
            KAVU_DELAY_MIN);
  EXPECT_EQ(model.compute_fanout_delay_of_iterm(lut->get_input_term(0), nullptr, nullptr, nullptr, nullptr, false, 0),
            L + 6);
  // Registers with the sequential flag.
  out(lut)->set_fanin_delay(30);
  EXPECT_EQ(model.compute_fanin_delay_of_oterm(out(reg), nullptr, nullptr, nullptr, nullptr, true, 100, nullptr), -70);
  EXPECT_EQ(model.compute_fanin_delay_of_oterm(out(lonely), nullptr, nullptr, nullptr, nullptr, true, 100, nullptr),
            -100);
  EXPECT_EQ(model.compute_fanout_delay_of_iterm(reg->get_input_term(0), nullptr, nullptr, nullptr, nullptr, true, 100),
            2 - 100);
  reg->get_flag().set(0x10000);  // packed into a RAM block: 0 from both sides
  EXPECT_EQ(model.compute_fanout_delay_of_iterm(reg->get_input_term(0), nullptr, nullptr, nullptr, nullptr, true, 100), 0);
  EXPECT_EQ(model.compute_fanin_delay_of_oterm(out(reg), nullptr, nullptr, nullptr, nullptr, true, 100, nullptr), 0);
  EXPECT_EQ(model.compute_fanout_delay_of_iterm(nullptr, nullptr, nullptr, nullptr, nullptr, false, 0), 0);
  EXPECT_KAVU_INTERNAL_ERROR(
      model.compute_fanin_delay_of_oterm(nullptr, nullptr, nullptr, nullptr, nullptr, false, 0, nullptr), "oterm != 0");
}

TEST(KavuDelayModelSeq, CarrySums) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* b = make_input_pin(&nl, "b");
  auto* cs = new CDB_SGATE_CARRY_SUM(nullptr);
  nl.add_node(cs);
  for (unsigned i = 0; i < 2; ++i) {
    cs->set_input_term(cs->create_input_term(nullptr), i);
    out(i == 0 ? a : b)->insert_fanout(cs->get_input_term(i));
  }
  out(a)->set_fanin_delay(3);
  out(b)->set_fanin_delay(8);
  cs->get_output_term(SUM_OUT)->set_fanout_delay(5);
  cs->get_output_term(CARRY_OUT)->set_fanout_delay(6);
  for (bool through : {false, true}) {
    CFG_SCOPE cfg{{"kavu_delay_look_through_carry_of_carry_sums", through ? "on" : "off"}};
    KAVU_DELAY_MODEL_SIMPLE model(false);
    const int g = model.get_buf_delay();
    auto fanin = [&](unsigned o) {
      return model.compute_fanin_delay_of_oterm(cs->get_output_term(o), nullptr, nullptr, nullptr, nullptr, false, 0,
                                                nullptr);
    };
    auto fanout = [&](unsigned i) {
      return model.compute_fanout_delay_of_iterm(cs->get_input_term(i), nullptr, nullptr, nullptr, nullptr, false, 0);
    };
    EXPECT_EQ(fanin(SUM_OUT), g + 3);
    EXPECT_EQ(fanin(CARRY_OUT), through ? g + 8 : 0);
    EXPECT_EQ(fanout(SUM_IN), g + 5);
    EXPECT_EQ(fanout(CARRY_IN), through ? g + 6 : 0);
  }
}

TEST(KavuDelayModelSeq, ConstructorsAndContexts) {
  const KAVU_DELAY_GETTER getter = kavu_get_fanin_delay;
  KAVU_DELAY_MODEL_SEQ<void*, void*, void*> bare(getter, false);
  EXPECT_TRUE(bare.is_seq_model());
  EXPECT_EQ(bare.get_max_gate_size(), 2);
  EXPECT_EQ(bare.get_huge_gate_limit(), 200);
  EXPECT_FALSE(bare.cache_arc_delay());
  KAVU_DELAY_MODEL_NSEQ nseq(false);
  EXPECT_EQ(nseq.get_huge_gate_limit(), 200);
  // Regression: the expert refused every sequential model but the
  // context-free one. It takes the timer's models too, and hands them no
  // analysis: their lookup stops on the null context when asked.
  const KAVU_DELAY_SETTER s = kavu_set_fanin_delay;
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* g = make_and(&nl, make_input_pin(&nl, "a"), make_input_pin(&nl, "b"));
  KAVU_DELAY_EXPERT expert(s, s, getter, getter, 16u, 32u, 64u, 128u, new KAVU_DELAY_MODEL_STIMER(false), 2);
  expert.set_netlist(&nl);
  EXPECT_KAVU_INTERNAL_ERROR(expert.compute_fanin_delay(out(g), 300), "seq_timer != NULL");
  for (KAVU_DELAY_MODEL_FOR_EXPERT* model : std::initializer_list<KAVU_DELAY_MODEL_FOR_EXPERT*>{
           new KAVU_DELAY_MODEL_SCC(false), new KAVU_DELAY_MODEL_SCC_ARR(false), new KAVU_DELAY_MODEL_NSEQ(false)})
    KAVU_DELAY_EXPERT(s, s, getter, getter, 16u, 32u, 64u, 128u, model, 2);
}

namespace {
// A sequential model with contexts of its own type that its lookups do not
// need: in the expert it must answer as the context-free model does.
int fanin_ignoring_context(CDB_SGATE_OTERM* o, int*) { return kavu_get_fanin_delay(o); }
int fanout_ignoring_context(CDB_SGATE_OTERM* o, int*) { return kavu_get_fanout_delay(o); }
class CONTEXT_MODEL : public KAVU_DELAY_MODEL_SEQ<int*, int*, int*> {
 public:
  CONTEXT_MODEL()
      : KAVU_DELAY_MODEL_SEQ<int*, int*, int*>(kavu_get_fanin_delay, fanin_ignoring_context, fanout_ignoring_context,
                                               fanin_ignoring_context, false, 2, 200) {}
};
}  // namespace

TEST(KavuDelayModelSeq, SimpleModelInTheExpertMatchesTheArcModel) {
  // Inverters (one-input comb gates) once stopped the sequential models.
  const KAVU_DELAY_GETTER gi = kavu_get_fanin_delay, go = kavu_get_fanout_delay;
  const KAVU_DELAY_SETTER si = kavu_set_fanin_delay, so = kavu_set_fanout_delay;
  for (const char* name : {"seq/stereovision3", "mcnc/s298"}) {
    auto nl = load_blif(name);
    std::vector<std::pair<int, int>> expected;
    {
      KAVU_DELAY_EXPERT kzr(si, so, gi, go, 16u, 32u, 64u, 128u, new KAVU_DELAY_MODEL_KZR(gi, false, false), 2);
      kzr.set_netlist(nl.get());
      kzr.compute_all_delays(true);
      for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
        if (*it)
          for (CDB_SGATE_OTERM* o : (*it)->get_output_terms())
            if (o) expected.emplace_back(kzr.compute_fanin_delay(o, 300), kzr.compute_fanout_delay(o, 300));
    }
    for (bool with_context : {false, true}) {
      KAVU_DELAY_MODEL_FOR_EXPERT* model =
          with_context ? static_cast<KAVU_DELAY_MODEL_FOR_EXPERT*>(new CONTEXT_MODEL()) : new KAVU_DELAY_MODEL_SIMPLE(false);
      KAVU_DELAY_EXPERT seq(si, so, gi, go, 16u, 32u, 64u, 128u, model, 2);
      seq.set_netlist(nl.get());
      seq.compute_all_delays(true);
      size_t i = 0;
      int mismatches = 0;
      for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
        if (*it)
          for (CDB_SGATE_OTERM* o : (*it)->get_output_terms())
            if (o) mismatches += expected[i++] != std::make_pair(seq.compute_fanin_delay(o, 300), seq.compute_fanout_delay(o, 300));
      EXPECT_EQ(mismatches, 0) << name << " context " << with_context;
    }
  }
}

TEST(KavuSeqTimerRecords, LookupsAndBigGates) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_OTERM* a = out(make_input_pin(&nl, "a"));
  CDB_SGATE_OTERM* b = out(make_input_pin(&nl, "b"));
  CDB_SGATE_OTERM* c = out(make_input_pin(&nl, "c"));
  KAVU_SEQ_DELAY_ANALYSIS analysis;
  const int index = analysis.add_domain_oterm(a, true);
  analysis.add_domain_oterm(b, false);
  analysis.get_oterm_info(index)->m_arrival = 12;
  analysis.get_oterm_info(index)->m_max_fanout_delay = 5;
  EXPECT_EQ(kavu_seq_domain_arrival(a, &analysis), 12);
  EXPECT_EQ(kavu_seq_domain_arrival(b, &analysis), KAVU_DELAY_MIN);  // in the domain, no index
  EXPECT_EQ(kavu_seq_domain_arrival(c, &analysis), 0);               // outside the domain
  EXPECT_EQ(kavu_seq_domain_fanout_delay(a, &analysis), 5);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_seq_domain_arrival(a, nullptr), "seq_timer != NULL");
  ZTL_HASH_LITE<CDB_SGATE_OTERM*, int> table;
  table.insert(a, 3);
  EXPECT_EQ(kavu_seq_arrival_from_table(a, &table), 3);
  EXPECT_EQ(kavu_seq_arrival_from_table(b, &table), KAVU_DELAY_MIN);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_seq_arrival_from_table(a, nullptr), "table != NULL");

  KAVU_BIG_GATE_SET_INFO set;
  auto* info = new KAVU_BIG_GATE_INFO(a);
  set.add_huge_gate_info(info);
  info->add_support_depth(b, 7);
  set.log_support(b, info);
  set.log_support(b, info);
  set.add_stage1_id(10, 4);
  EXPECT_TRUE(set.is_huge_gate(a));
  EXPECT_EQ(info->get_sup_depth(b), 7);
  EXPECT_EQ(info->get_sup_depth(c), -1);
  EXPECT_EQ(set.get_support_log(b)->size(), 1u);
  EXPECT_EQ(set.get_pre_decomp_id(10), 4);
  EXPECT_KAVU_INTERNAL_ERROR(set.add_stage1_id(10, 5), "m_id_table_stage1.find(new_id)");
}

TEST(KavuDelayModelSeq, LogicCellAtomsOfBothKinds) {
  // Fan-out through an atom of type 93 once stopped at a narrower predicate
  // than the fan-in side used.
  for (CDB_WYSIWYG_TYPE type : {CDB_WYSIWYG_TYPE(61), CDB_WYSIWYG_TYPE(93)}) {
    CDB_SGATE_NETLIST nl;
    CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
    auto* cell = new CDB_SGATE_WYSIWYG(nullptr, type);
    nl.add_node(cell);
    cell->set_lutmask_value(0xAAAAAAAAAAAAAAAAull);  // the function of DATAA
    CDB_SGATE_ITERM* in = cell->create_input_term(nullptr, 12);
    cell->set_input_term(in, cell->get_input_port_number(12));
    in->set_source(out(a));
    CDB_SGATE_OTERM* o = cell->create_output_term(nullptr, 9);
    cell->set_output_term(o, cell->get_output_port_number(9));
    make_output_pin(&nl, "o", cell);
    out(a)->set_fanin_delay(2);
    o->set_fanout_delay(5);
    KAVU_DELAY_MODEL_SIMPLE model(false);
    const int d = model.get_lcell_data_in_delay();
    EXPECT_EQ(model.compute_fanin_delay_of_oterm(o, nullptr, nullptr, nullptr, nullptr, false, 0, nullptr), d + 2)
        << int(type);
    EXPECT_EQ(model.compute_fanout_delay_of_iterm(in, nullptr, nullptr, nullptr, nullptr, false, 0), d + 5)
        << int(type);
  }
}
