// Connections, inversion and constants: a random edit storm checked after every
// step by check() and an independent model, and hand cases the storm skips.
#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <vector>

#include "testkit/platform_testkit.h"

namespace {

CDB_SGATE_COMB* add_comb(CDB_SGATE_NETLIST& nl, int inputs) {
  CDB_SGATE_COMB* g = new CDB_SGATE_COMB(nullptr, CDB_COMB_AND);
  for (int i = 0; i < inputs; ++i) g->insert_unordered_fanin_term(g->create_input_term(nullptr));
  nl.add_node(g);
  return g;
}

std::vector<CDB_SGATE_ITERM*> chain(const CDB_SGATE_OTERM* o) {
  std::vector<CDB_SGATE_ITERM*> v;
  o->copy_fanouts(v);
  return v;
}

// What the storm below does not reach: parent inputs, the refused
// disconnect state, the output flag adopt ignores and moving an output's
// inversion to its readers.
TEST(CdbConnections, ParentInputsAdoptAndMovedInversion) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  CDB_SGATE_OTERM* oa = add_comb(nl, 0)->get_single_oterm();
  CDB_SGATE_OTERM* ob = add_comb(nl, 0)->get_single_oterm();
  CDB_SGATE_COMB* g = add_comb(nl, 3);
  std::vector<CDB_SGATE_ITERM*> t(g->get_input_terms().begin(), g->get_input_terms().end());
  EXPECT_FALSE(cdb_is_connected(t[2]));
  oa->insert_fanout(t[0]);
  t[2]->set_parent_input(t[0]);  // a packed terminal takes its parent's connection
  EXPECT_TRUE(cdb_is_connected(t[2]) && cdb_is_parent_connected(t[2]));
  t[2]->set_parent_input(nullptr);
  EXPECT_KAVU_INTERNAL_ERROR(t[0]->disconnect_from_source(5), "state");
  ob->insert_fanout(t[1]);
  t[1]->set_invert();
  oa->set_invert();  // the output's own flag is not consulted by adopt
  oa->adopt_fanouts(ob, true);
  EXPECT_EQ(chain(oa), (std::vector<CDB_SGATE_ITERM*>{t[0], t[1]}));
  EXPECT_TRUE(!t[0]->is_inverted() && !t[1]->is_inverted());
  EXPECT_KAVU_INTERNAL_ERROR(oa->adopt_fanouts(oa, false), "other");
  oa->move_invert_to_fanouts();
  EXPECT_TRUE(!oa->is_inverted() && t[0]->is_inverted() && t[1]->is_inverted());
}

// A cycle of parent inputs used to read as "unconnected" after 64 hops.
TEST(CdbConnections, ParentInputCycleIsAnInternalError) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_COMB* g = add_comb(nl, 3);
  CDB_SGATE_ITERM* a = g->get_input_term(0);
  CDB_SGATE_ITERM* b = g->get_input_term(1);
  a->set_parent_input(b);
  b->set_parent_input(a);
  EXPECT_KAVU_INTERNAL_ERROR(cdb_is_connected(a), "parent input chain longer than 64");
  EXPECT_KAVU_INTERNAL_ERROR(cdb_is_parent_connected(b), "parent input chain");
  g->get_input_term(2)->set_vcc();
  b->set_parent_input(g->get_input_term(2));  // the chain ends at a tied input
  EXPECT_TRUE(cdb_is_connected(a));
}

// ---------------------------------------------------------------------------
// The storm: an independent model of every terminal's state.

struct TERM_MODEL {
  const CDB_SGATE_OTERM* src = nullptr;
  bool tied = false;
  bool inv = false;
};

class CONNECTION_STORM {
 public:
  explicit CONNECTION_STORM(unsigned seed) : m_rng(seed) {
    for (int i = 0; i < 6; ++i) track(new CDB_SGATE_IO(nullptr, i < 3 ? CDB_IO_INPUT : CDB_IO_OUTPUT));
    for (int i = 0; i < 24; ++i) track_new_logic();
    m_walk = m_nl.begin_node_list();
  }
  ~CONNECTION_STORM() {
    m_nl.prepare_for_use();
    for (CDB_SGATE_NODE* g : m_gates)  // unlinked gates are the storm's to destroy
      if (!g->get_netlist()) delete g;
  }

  void step(int k) {
    switch (pick(13)) {
      case 0: case 1: case 2: connect(); break;
      case 3: disconnect(2); break;
      case 4: disconnect(0); break;
      case 5: tie(); break;
      case 6: invert(); break;
      case 7: adopt(); break;
      case 8: constants(); break;
      case 9: unlink_or_readd(); break;
      case 10: destroy(); break;
      case 11: if (k % 7 == 0) sweep(); else connect(); break;
      default: if (k % 5 == 0) collect(); else connect(); break;
    }
    advance_walk();
    verify(k);
  }

 private:
  int pick(int n) { return int(m_rng() % unsigned(n)); }

  void track(CDB_SGATE_NODE* g) {
    m_gates.push_back(g);
    m_nl.add_node(g);
    for (CDB_SGATE_ITERM* t : g->get_input_terms()) m_terms[t] = TERM_MODEL{};
    for (CDB_SGATE_OTERM* o : g->get_output_terms()) m_chains[o];
  }
  void track_new_logic() {
    CDB_SGATE_NODE* g;
    if (pick(4) == 0) {
      g = new CDB_SGATE_CARRY_SUM(nullptr);
      g->set_input_term(g->create_input_term(nullptr), SUM_IN);
      g->set_input_term(g->create_input_term(nullptr), CARRY_IN);
    } else {
      g = new CDB_SGATE_COMB(nullptr, CDB_COMB_XOR);
      for (int i = 0, n = 1 + pick(4); i < n; ++i) g->insert_unordered_fanin_term(g->create_input_term(nullptr));
    }
    track(g);
  }

  // Gates the storm may edit: linked or unlinked, never in the graveyard.
  CDB_SGATE_NODE* any_gate() { return m_gates[size_t(pick(int(m_gates.size())))]; }
  CDB_SGATE_ITERM* any_iterm() {
    for (;;) {
      CDB_SGATE_NODE* g = any_gate();
      if (unsigned n = g->get_number_of_input_terms()) return g->get_input_term(unsigned(pick(int(n))));
    }
  }
  CDB_SGATE_OTERM* any_oterm() {
    CDB_SGATE_NODE* g = any_gate();
    return g->get_output_term(unsigned(pick(int(g->get_output_count()))));
  }

  void model_leave(CDB_SGATE_ITERM* t) {
    TERM_MODEL& m = m_terms[t];
    if (m.src) {
      auto& c = m_chains[m.src];
      c.erase(std::find(c.begin(), c.end(), t));
    }
    m.src = nullptr;
    m.tied = false;
  }

  void connect() {
    CDB_SGATE_ITERM* t = any_iterm();
    CDB_SGATE_OTERM* o = any_oterm();
    o->insert_fanout(t);  // a driven terminal leaves its old source first, and joins at the tail
    model_leave(t);
    m_terms[t].src = o;
    m_chains[o].push_back(t);
  }
  void disconnect(int state) {
    CDB_SGATE_ITERM* t = any_iterm();
    TERM_MODEL& m = m_terms[t];
    bool was_connected = m.src || m.tied;
    t->disconnect_from_source(state);
    model_leave(t);
    if (was_connected && state == 0) m.inv = false;
  }
  void tie() {
    CDB_SGATE_ITERM* t = any_iterm();
    const bool vcc = pick(2);
    vcc ? t->set_vcc() : t->set_gnd();
    model_leave(t);
    m_terms[t] = TERM_MODEL{nullptr, true, !vcc};  // GND is VCC with the inversion flag
  }
  void invert() {
    CDB_SGATE_ITERM* t = any_iterm();
    t->invert();
    m_terms[t].inv = !m_terms[t].inv;
  }
  void adopt() {
    CDB_SGATE_OTERM *a = any_oterm(), *b = any_oterm();
    const bool inv = pick(2);
    if (a == b) return;
    a->adopt_fanouts(b, inv);
    for (CDB_SGATE_ITERM* t : m_chains[b]) {
      m_terms[t].src = a;
      m_terms[t].inv ^= inv;
      m_chains[a].push_back(t);
    }
    m_chains[b].clear();
  }
  void constants() {
    CDB_SGATE_OTERM* o = any_oterm();
    bool vcc = pick(2);
    o->set_all_fanouts_constant(vcc);
    for (CDB_SGATE_ITERM* t : m_chains[o]) m_terms[t] = TERM_MODEL{nullptr, true, m_terms[t].inv != !vcc};
    m_chains[o].clear();
  }
  void unlink_or_readd() {
    CDB_SGATE_NODE* g = any_gate();
    if (g->get_netlist()) m_nl.delete_node(g);
    else m_nl.add_node(g);
    m_nl.add_node(g);  // re-adding to the same netlist does nothing
  }
  void forget_gate(CDB_SGATE_NODE* g) {
    for (CDB_SGATE_ITERM* t : g->get_input_terms()) {
      model_leave(t);
      m_terms.erase(t);
    }
    for (CDB_SGATE_OTERM* o : g->get_output_terms()) {
      for (CDB_SGATE_ITERM* t : m_chains[o]) m_terms[t].src = nullptr;  // flags kept
      m_chains.erase(o);
    }
  }
  void destroy() {
    CDB_SGATE_NODE* g = any_gate();
    if (g->is_pin()) return;
    m_gates.erase(std::find(m_gates.begin(), m_gates.end(), g));
    forget_gate(g);
    delete g;  // unlinks itself and unhooks everything
    track_new_logic();
  }
  void sweep() {
    // Independent liveness: linked pins, and the fixed point of "a linked
    // gate that feeds a live gate".
    std::set<const CDB_SGATE_NODE*> live;
    for (bool grew = true; grew;) {
      grew = false;
      for (CDB_SGATE_NODE* g : m_gates) {
        bool feeds_live = g->is_pin();
        for (CDB_SGATE_OTERM* o : g->get_output_terms())
          for (CDB_SGATE_ITERM* t : m_chains[o]) feeds_live |= live.count(t->get_my_node()) > 0;
        grew |= g->get_netlist() && feeds_live && live.insert(g).second;
      }
    }
    std::vector<CDB_SGATE_NODE*> dead;
    for (CDB_SGATE_NODE* g : m_gates)
      if (g->get_netlist() && !live.count(g)) dead.push_back(g);
    EXPECT_EQ(m_nl.sweep(false), int(dead.size()));
    for (CDB_SGATE_NODE* g : dead) {
      EXPECT_EQ(g->get_netlist(), nullptr) << g->get_debug_name();
      m_gates.erase(std::find(m_gates.begin(), m_gates.end(), g));
      // Its inputs are disconnected now; its outputs may still feed unlinked
      // gates until the graveyard is destroyed.
      for (CDB_SGATE_ITERM* t : g->get_input_terms()) model_leave(t);
      m_graveyard.push_back(g);
    }
    while (m_gates.size() < 30) track_new_logic();
  }
  void collect() {
    for (CDB_SGATE_NODE* g : m_graveyard) forget_gate(g);  // before they are freed
    m_graveyard.clear();
    m_nl.prepare_for_use();
  }

  void advance_walk() {
    if (m_walk == m_nl.end_node_list()) {
      m_walk = m_nl.begin_node_list();
    } else {
      EXPECT_TRUE(*m_walk == nullptr || (*m_walk)->get_netlist() == &m_nl);
      ++m_walk;
    }
  }

  void verify(int k) {
    std::string report;
    ASSERT_TRUE(m_nl.check(&report)) << "step " << k << "\n" << report;
    for (const auto& [o, c] : m_chains) {
      ASSERT_EQ(chain(o), c) << "chain order, step " << k;
      // The gates kept beside the chain are its readers' gates, in order.
      std::vector<const CDB_SGATE_NODE*> gates, expected;
      for (const CDB_SGATE_NODE* g : o->fanout_nodes()) gates.push_back(g);
      for (const CDB_SGATE_ITERM* t : c) expected.push_back(t->get_my_node());
      ASSERT_EQ(gates, expected) << "reader gates, step " << k;
    }
    for (const auto& [t, m] : m_terms) {
      ASSERT_EQ(t->get_source(), m.src) << "step " << k;
      ASSERT_EQ(t->is_connected(), m.src != nullptr || m.tied) << "step " << k;
      ASSERT_EQ(t->is_vcc_or_gnd(), m.tied) << "step " << k;
      ASSERT_EQ(t->is_inverted(), m.inv) << "step " << k;
    }
    uint32_t linked = 0;
    for (CDB_SGATE_NODE* g : m_gates) linked += g->get_netlist() == &m_nl;
    ASSERT_EQ(m_nl.size(), linked) << "step " << k;
  }

  std::mt19937 m_rng;
  CDB_SGATE_NETLIST m_nl;
  std::vector<CDB_SGATE_NODE*> m_gates;
  std::vector<CDB_SGATE_NODE*> m_graveyard;  // swept, not destroyed yet (not editable)
  std::map<CDB_SGATE_ITERM*, TERM_MODEL> m_terms;
  std::map<const CDB_SGATE_OTERM*, std::vector<CDB_SGATE_ITERM*>> m_chains;
  CDB_SGATE_NODE_ITERATOR m_walk;
};

TEST(CdbConnections, RandomEditStormMatchesIndependentModel) {
  for (unsigned seed : {1u, 7u, 42u}) {
    CONNECTION_STORM storm(seed);
    for (int k = 0; k < 1500 && !::testing::Test::HasFatalFailure(); ++k) storm.step(k);
    ASSERT_FALSE(::testing::Test::HasFatalFailure()) << "seed " << seed;
  }
}

}  // namespace
