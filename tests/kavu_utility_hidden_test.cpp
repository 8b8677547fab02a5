// Tests of the hidden-operator report, the dependence search and the
// bad-enable rewrite, on hand-built logic and on a bundled design.

#include <algorithm>
#include <functional>
#include <memory>

#include "kavu_dff_helper.h"
#include "kavu_helper_predicates.h"
#include "kavu_utility_hidden.h"
#include "gen/gen.h"
#include "platform_testkit.h"

using namespace kavu_platform;

namespace {

CDB_SGATE_OPERATOR* make_adder(CDB_SGATE_NETLIST* nl, CDB_SGATE_NODE* a, CDB_SGATE_NODE* b, unsigned width) {
  CDB_SGATE_OPERATOR* op = new CDB_SGATE_OPERATOR("add", CDB_OPER_ADDITION);
  nl->add_node(op);
  CDB_SGATE_OPER_PORT_ENTRY* pa = op->add_port("a", CDB_OPER_PORT_A, CDB_OPER_PORT_DIR_IN);
  CDB_SGATE_OPER_PORT_ENTRY* pb = op->add_port("b", CDB_OPER_PORT_B, CDB_OPER_PORT_DIR_IN);
  CDB_SGATE_OPER_PORT_ENTRY* po = op->add_port("o", CDB_OPER_PORT_O, CDB_OPER_PORT_DIR_OUT);
  for (unsigned i = 0; i < width; ++i) {
    CDB_SGATE_ITERM* ta = op->create_input_term(nullptr);
    CDB_SGATE_ITERM* tb = op->create_input_term(nullptr);
    pa->set_iterm(i, ta);
    pb->set_iterm(i, tb);
    a->get_output_term(0)->insert_fanout(ta);
    b->get_output_term(0)->insert_fanout(tb);
    CDB_SGATE_OTERM* o = op->create_output_term(nullptr);
    op->insert_unordered_fanout_term(o);
    po->set_oterm(i, o);
  }
  return op;
}

// A two-input comb gate over an output terminal and a gate's output.
CDB_SGATE_NODE* comb2(CDB_SGATE_NETLIST* nl, CDB_COMB_TYPE kind, CDB_SGATE_OTERM* a, CDB_SGATE_NODE* b,
                      bool invert_b = false) {
  CDB_SGATE_COMB* g = new CDB_SGATE_COMB(nullptr, kind);
  nl->add_node(g);
  g->add_unordered_fanin_from_oterm(nullptr, false, a);
  g->add_unordered_fanin_from_oterm(nullptr, invert_b, b->get_output_term(0));
  return g;
}

}  // namespace

TEST(KavuUtilityHidden, ScreenedOperatorReport) {
  struct ROW {
    const char* name;
    std::function<void(CDB_SGATE_NETLIST*, CDB_SGATE_OPERATOR*, CDB_SGATE_NODE* en, CDB_SGATE_NODE* other)> wire;
    std::vector<std::string> lines;   // expected, in order
    std::vector<std::string> absent;
  } const rows[] = {
      {"and", [](CDB_SGATE_NETLIST* nl, CDB_SGATE_OPERATOR* op, CDB_SGATE_NODE* en, CDB_SGATE_NODE*) {
         for (CDB_SGATE_OTERM* t : op->get_output_terms()) make_output_pin(nl, "y", comb2(nl, CDB_COMB_AND, t, en));
       }, {"the first 3 oterms of OP", "is hidden when", "  oterm ", "  is GND"}, {}},
      {"or inverted", [](CDB_SGATE_NETLIST* nl, CDB_SGATE_OPERATOR* op, CDB_SGATE_NODE* en, CDB_SGATE_NODE*) {
         for (CDB_SGATE_OTERM* t : op->get_output_terms()) make_output_pin(nl, "y", comb2(nl, CDB_COMB_OR, t, en, true));
       }, {"is hidden when", "  is GND"}, {}},
      {"mux data 1", [](CDB_SGATE_NETLIST* nl, CDB_SGATE_OPERATOR* op, CDB_SGATE_NODE* en, CDB_SGATE_NODE* other) {
         for (CDB_SGATE_OTERM* t : op->get_output_terms()) {
           CDB_SGATE_NODE* m = make_mux(nl, other, other, en);
           t->insert_fanout(m->get_input_term(CDB_MUX_DATA1));
           make_output_pin(nl, "y", m);
         }
       }, {"is hidden when", "  is GND"}, {}},
      {"two screeners", [](CDB_SGATE_NETLIST* nl, CDB_SGATE_OPERATOR* op, CDB_SGATE_NODE* en, CDB_SGATE_NODE* other) {
         int i = 0;
         for (CDB_SGATE_OTERM* t : op->get_output_terms())
           make_output_pin(nl, "y", comb2(nl, CDB_COMB_AND, t, i++ == 0 ? en : other));
       }, {"the first 2 oterms of OP"}, {"is hidden when"}},
      {"n-to-1 mux", [](CDB_SGATE_NETLIST* nl, CDB_SGATE_OPERATOR* op, CDB_SGATE_NODE*, CDB_SGATE_NODE*) {
         CDB_SGATE_OPERATOR* m = new CDB_SGATE_OPERATOR("m", CDB_OPER_NTO1_MUX);
         nl->add_node(m);
         CDB_SGATE_OPER_PORT_ENTRY* d = m->add_port("d", CDB_OPER_PORT_B, CDB_OPER_PORT_DIR_IN);
         unsigned i = 0;
         for (CDB_SGATE_OTERM* t : op->get_output_terms()) {
           CDB_SGATE_ITERM* in = m->create_input_term(nullptr);
           d->set_iterm(i++, in);
           t->insert_fanout(in);
         }
       }, {"Feeding Nto1 MUX - maybe hidden"}, {"oterms of OP", "is hidden when"}},
  };
  for (const ROW& r : rows) {
    SCOPED_TRACE(r.name);
    CDB_SGATE_NETLIST nl;
    CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
    CDB_SGATE_NODE* en = make_input_pin(&nl, "en");
    CDB_SGATE_NODE* other = make_input_pin(&nl, "other");
    CDB_SGATE_OPERATOR* op = make_adder(&nl, a, a, 3);
    make_adder(&nl, a, en, 2);  // no fan-out: skipped without a line
    r.wire(&nl, op, en, other);
    DEBUG_CAPTURE cap("KAVU");
    opt_find_screened_ops(&nl);
    std::vector<std::string> lines = cap.lines();
    size_t at = 0;
    for (const std::string& want : r.lines) {
      while (at < lines.size() && lines[at].find(want) == std::string::npos) ++at;
      EXPECT_LT(at, lines.size()) << "missing in order: " << want;
    }
    for (const std::string& no : r.absent) EXPECT_FALSE(cap.contains(no)) << no;
    const bool hidden = std::find(r.lines.begin(), r.lines.end(), "is hidden when") != r.lines.end();
    EXPECT_EQ(cap.contains("oterm " + en->get_debug_name() + ".0"), hidden);
  }
}

// The dependence search against a plain recursive reading of its rule, on
// random reconvergent logic of comb gates, muxes and select operators.
TEST(KavuUtilityHidden, DependenceSearchMatchesTheRule) {
  std::function<bool(CDB_SGATE_OTERM*, CDB_SGATE_ITERM*, int)> naive = [&](CDB_SGATE_OTERM* target,
                                                                           CDB_SGATE_ITERM* t, int d) {
    if (d < 1 || !t || !cdb_is_connected(t) || t->is_vcc_or_gnd()) return false;
    if (t->get_source() == target) return true;
    CDB_SGATE_NODE* g = t->get_source()->get_my_node();
    const bool passes = g->get_sgate_type() == CDB_SGATE_COMB_ENUM || g->get_sgate_type() == CDB_SGATE_MUX_ENUM ||
                        (g->cast_to_operator() && (g->cast_to_operator()->get_type() == CDB_OPER_SELECT ||
                                                   g->cast_to_operator()->get_type() == CDB_OPER_NTO1_MUX));
    if (!passes) return false;
    for (CDB_SGATE_ITERM* in : g->get_input_terms())
      if (naive(target, in, d - 1)) return true;
    return false;
  };
  for (uint64_t seed = 1; seed <= 6; ++seed) {
    CDB_SGATE_NETLIST nl;
    GEN_RAND rand(seed);
    std::vector<CDB_SGATE_OTERM*> sigs;
    for (int i = 0; i < 4; ++i) sigs.push_back(make_input_pin(&nl, ("p" + std::to_string(i)).c_str())->get_output_term(0));
    CDB_SGATE_NODE* reg = make_dff(&nl, nullptr, nullptr);
    sigs.push_back(reg->get_output_term(0));
    std::vector<CDB_SGATE_NODE*> gates;
    for (int i = 0; i < 40; ++i) {
      const int kind = rand.get_int(4);
      CDB_SGATE_NODE* g;
      if (kind < 2) {
        CDB_SGATE_COMB* c = new CDB_SGATE_COMB(nullptr, kind ? CDB_COMB_XOR : CDB_COMB_AND);
        for (int k = 0; k < 3; ++k) c->add_unordered_fanin_from_oterm(nullptr, rand.get_int(2), sigs[rand.get_int(int(sigs.size()))]);
        g = c;
      } else if (kind == 2) {
        CDB_SGATE_MUX* m = new CDB_SGATE_MUX(nullptr);
        for (unsigned p = 0; p < 3; ++p) {
          m->set_input_term(m->create_input_term(nullptr), p);
          sigs[rand.get_int(int(sigs.size()))]->insert_fanout(m->get_input_term(p));
        }
        g = m;
      } else {
        CDB_SGATE_OPERATOR* s = new CDB_SGATE_OPERATOR("sel", CDB_OPER_SELECT);
        CDB_SGATE_OPER_PORT_ENTRY* pa = s->add_port("s", CDB_OPER_PORT_A, CDB_OPER_PORT_DIR_IN);
        CDB_SGATE_OPER_PORT_ENTRY* pb = s->add_port("d", CDB_OPER_PORT_B, CDB_OPER_PORT_DIR_IN);
        for (unsigned k = 0; k < 2; ++k)
          for (CDB_SGATE_OPER_PORT_ENTRY* p : {pa, pb}) {
            CDB_SGATE_ITERM* t = s->create_input_term(nullptr);
            p->set_iterm(k, t);
            sigs[rand.get_int(int(sigs.size()))]->insert_fanout(t);
          }
        CDB_SGATE_OTERM* o = s->create_output_term(nullptr);
        s->insert_unordered_fanout_term(o);
        g = s;
      }
      nl.add_node(g);
      gates.push_back(g);
      sigs.push_back(g->get_output_term(0));
    }
    for (CDB_SGATE_NODE* g : gates)
      for (CDB_SGATE_ITERM* t : g->get_input_terms())
        for (int d = 0; d <= 6; ++d)
          ASSERT_EQ(opt_iterm_depends_on_oterm(reg->get_output_term(0), t, d), naive(reg->get_output_term(0), t, d))
              << "seed " << seed << " depth " << d;
  }
  // A wide reconvergent cone that never reaches the target: 48 gates per
  // level, each reading every gate of the level below.
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* target = make_input_pin(&nl, "t");
  std::vector<CDB_SGATE_OTERM*> level;
  for (int i = 0; i < 48; ++i) level.push_back(make_input_pin(&nl, ("w" + std::to_string(i)).c_str())->get_output_term(0));
  for (int l = 0; l < 6; ++l) {
    std::vector<CDB_SGATE_OTERM*> next;
    for (int i = 0; i < 48; ++i) {
      CDB_SGATE_COMB* c = new CDB_SGATE_COMB(nullptr, CDB_COMB_AND);
      for (CDB_SGATE_OTERM* s : level) c->add_unordered_fanin_from_oterm(nullptr, false, s);
      nl.add_node(c);
      next.push_back(c->get_output_term(0));
    }
    level.swap(next);
  }
  CDB_SGATE_NODE* reader = make_output_pin(&nl, "r", level[0]->get_my_node());
  EXPECT_FALSE(opt_iterm_depends_on_oterm(target->get_output_term(0), reader->get_input_term(0), 7));
}

// Registers whose enable and data both reach their own output through
// chains of gates: found at chain lengths up to four, rewritten into
// feedback multiplexers, and the design keeps its behaviour. One register's
// output is inverted (its fan-outs read ~Q): the feedback must still hold Q.
TEST(KavuUtilityHidden, BadEnablesBecomeFeedbackMuxes) {
  struct ROW {
    int chain;          // gates between Q and the enable
    bool inverted_q;
    bool sclr_used;
    bool converted;
  } const rows[] = {{1, false, false, true}, {4, false, false, true}, {5, false, false, false},
                    {2, true, false, true},  {2, false, true, false}};
  for (const ROW& r : rows) {
    SCOPED_TRACE(&r - rows);
    LOADED_NETLIST nl = load_blif("seq/stereovision3");
    CDB_SGATE_NODE* clk = nullptr;
    std::vector<CDB_SGATE_NODE*> dffs, inputs;
    for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
      // Registers whose synchronous clear and load are unused (tied to GND).
      if (*it && kavu_is_a_dff(*it) && (*it)->get_input_term(CDB_DFF_SCLR)->is_gnd() &&
          (*it)->get_input_term(CDB_DFF_SLOAD)->is_gnd())
        dffs.push_back(*it);
      if (*it && (*it)->is_input()) inputs.push_back(*it);
    }
    ASSERT_GE(dffs.size(), 8u);
    for (size_t k = 0; k < dffs.size(); k += 4) {
      CDB_SGATE_NODE* dff = dffs[k];
      clk = clk ? clk : dff->get_input_term(CDB_DFF_CLK)->get_source()->get_my_node();
      CDB_SGATE_OTERM* q = dff->get_output_term(0);
      if (r.inverted_q) q->set_invert();
      // Enable: a chain XOR(Q, in) -> AND(., in) -> mux ... of r.chain gates.
      CDB_SGATE_OTERM* e = q;
      for (int i = 0; i < r.chain; ++i)
        e = comb2(nl.get(), i % 2 ? CDB_COMB_OR : CDB_COMB_XOR, e, inputs[(k + i) % inputs.size()])->get_output_term(0);
      CDB_SGATE_ITERM* ena = dff->get_input_term(CDB_DFF_ENA);
      e->insert_fanout(ena);
      // Data: the old data XOR Q through a mux.
      CDB_SGATE_ITERM* d = dff->get_input_term(CDB_DFF_DATA);
      CDB_SGATE_NODE* x = comb2(nl.get(), CDB_COMB_XOR, q, inputs[k % inputs.size()]);
      CDB_SGATE_NODE* m = make_mux(nl.get(), x, x, inputs[(k + 1) % inputs.size()]);
      if (d->get_source()) d->get_source()->insert_fanout(m->get_input_term(CDB_MUX_DATA0));
      m->get_output_term(0)->insert_fanout(d);
      d->clear_invert();
      if (r.sclr_used) {
        inputs[0]->get_output_term(0)->insert_fanout(dff->get_input_term(CDB_DFF_SCLR));
        dff->get_input_term(CDB_DFF_SCLR)->clear_invert();  // the GND tie's inversion
      }
    }
    std::unique_ptr<CDB_SGATE_NETLIST> before(nl->clone(nullptr, true, true));
    nl->clear_temp_pointers();
    int ugly = 0;
    for (CDB_SGATE_NODE* dff : dffs) ugly += opt_dff_has_ugly_clock_enable(dff);
    EXPECT_EQ(ugly > 0, r.chain <= 4);
    DEBUG_CAPTURE cap("KAVU");
    opt_look_for_bad_enas(nl.get());
    EXPECT_EQ(cap.contains("very ugly clock enables to logic"), r.converted);
    for (CDB_SGATE_NODE* dff : dffs) {
      EXPECT_FALSE(r.converted && opt_dff_has_ugly_clock_enable(dff)) << dff->get_debug_name();
      if (r.converted && dffs[0] == dff) {
        EXPECT_TRUE(dff->get_input_term(CDB_DFF_ENA)->is_vcc());
        EXPECT_TRUE(kavu_is_a_mux(dff->get_input_term(CDB_DFF_DATA)->get_source()->get_my_node()));
      }
    }
    std::string report;
    EXPECT_TRUE(nl->check(&report)) << report;
    ASSERT_KAVU_EQUIVALENT(before, nl);
  }
}

TEST(KavuUtilityHidden, RewritePreconditions) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* dff = make_dff(&nl, a, a);
  EXPECT_KAVU_INTERNAL_ERROR(opt_convert_clock_enable_to_mux(dff, &nl), "cdb_is_connected (iterm) && !iterm->is_vcc()");
  dff->get_input_term(CDB_DFF_ENA)->set_vcc();
  EXPECT_KAVU_INTERNAL_ERROR(opt_convert_clock_enable_to_mux(dff, &nl), "!iterm->is_vcc()");
  a->get_output_term(0)->insert_fanout(dff->get_input_term(CDB_DFF_SLOAD));
  EXPECT_KAVU_INTERNAL_ERROR(opt_convert_clock_enable_to_mux(dff, &nl), "iterm->is_gnd()");
  EXPECT_KAVU_INTERNAL_ERROR(opt_convert_clock_enable_to_mux(a, &nl), "kavu_is_a_dff (sgate)");
  EXPECT_KAVU_INTERNAL_ERROR(opt_dff_has_ugly_clock_enable(a), "kavu_is_a_dff (dff)");
  CDB_SGATE_OTERM* s = nullptr;
  bool phase = false;
  EXPECT_KAVU_INTERNAL_ERROR(opt_check_nto1_mux_hidden(a->get_output_term(0), &s, nullptr), "screener && hidden_by_phase");
  EXPECT_KAVU_INTERNAL_ERROR(opt_select_op_screener(dff->get_input_term(0)), "kavu_is_a_select_op (sgate)");
  // No fan-out: screened, without a screener.
  EXPECT_TRUE(opt_check_nto1_mux_hidden(make_input_pin(&nl, "b")->get_output_term(0), &s, &phase));
  EXPECT_EQ(s, nullptr);
}
