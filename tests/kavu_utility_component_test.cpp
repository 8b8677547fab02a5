// Tests of component creation: names (numbering, reuse, groups, threads),
// ports and parameters, and the RTL stage's comb-gate insertion.
#include <set>
#include <thread>

#include "basex/basex.h"
#include "hdb/hdb.h"
#include "kavu_utility_component.h"
#include "testkit/platform_testkit.h"

using kavu_platform::make_input_pin;
using kavu_platform::make_output_pin;

namespace {

class KavuComponent : public ::testing::Test {
 protected:
  void SetUp() override { kavu_create_generate_string_name_mutex(); }
  void TearDown() override { cdb_sgate_set_synthesis_running_in_parallel(false); }

  HDB_INSTANCE_NAME* top() { return HDB_INSTANCE_NAME::create_normal_name(nullptr, "top", nullptr, nullptr, nullptr); }
  HDB_INSTANCE_NAME* child(const char* text, unsigned flags = 0) {
    return HDB_INSTANCE_NAME::create_normal_name(nullptr, text, nullptr, nullptr, top(), flags);
  }
  BASEX_ELABORATE_INFO m_info;
};

TEST_F(KavuComponent, StringNamesFromTheCounterAreCleanedAndNumbered) {
  CDB_SGATE_COMB gate(nullptr, CDB_COMB_AND, true);
  gate.set_string_name("a[3]~reg");
  rtl_component_id = 4;
  CDB_SGATE_COMPONENT* c = rtl_create_component_instance(&m_info, nullptr, &gate, RTL_COMPONENT_SYNCRAM, true);
  EXPECT_STREQ(c->get_string_name(), "a__3____reg__5_orlsyncram");
  delete c;
  c = rtl_create_component_instance(&m_info, nullptr, &gate, RTL_COMPONENT_COUNTER, false);
  EXPECT_STREQ(c->get_string_name(), "a__3____reg_lpm_counter");  // the counter is not used
  delete c;

  EXPECT_KAVU_INTERNAL_ERROR(rtl_create_component_instance(&m_info, nullptr, &gate, 8, true),
                             "Unexpected component type");
  cdb_sgate_set_synthesis_running_in_parallel(true);
  EXPECT_KAVU_INTERNAL_ERROR(rtl_create_component_instance(&m_info, nullptr, &gate, 0, false),
                             "You can't use static rtl_component_id when running parallel");
  EXPECT_EQ(rtl_component_id.load(), 5u);
}

TEST_F(KavuComponent, InstanceNamesReuseFreeUserNamesAndStartFromGroups) {
  HDB_INSTANCE_NAME* x = child("x");
  HDB_INSTANCE_NAME* user = child("x_rtl_0", HDB_INSTANCE_NAME_FLAG::USER_ENTERED);
  child("x_rtl_1", HDB_INSTANCE_NAME_FLAG::USER_ENTERED | HDB_INSTANCE_NAME_FLAG::NO_REUSE);
  CDB_SGATE_COMB gate(x, CDB_COMB_AND, true);

  CDB_SGATE_COMPONENT* first = rtl_create_component_instance(&m_info, nullptr, &gate, RTL_COMPONENT_ROM, false);
  EXPECT_EQ(first->get_instance_name(), user);
  EXPECT_TRUE(user->get_flags().test_flag(HDB_INSTANCE_NAME_FLAG::TAKEN_BY_COMPONENT));
  EXPECT_STREQ(first->get_string_name(), "x_rtl_0_lpm_rom");

  CDB_SGATE_COMPONENT* second = rtl_create_component_instance(&m_info, nullptr, &gate, RTL_COMPONENT_ROM, false);
  EXPECT_EQ(second->get_instance_name()->get_short_hpath(), "top|x_rtl_2");
  const HDB_INSTANCE_NAME_FLAG& flags = second->get_instance_name()->get_flags();
  EXPECT_TRUE(flags.test_flag(HDB_INSTANCE_NAME_FLAG::TAKEN_BY_COMPONENT));
  EXPECT_TRUE(flags.test_flag(HDB_INSTANCE_NAME_FLAG::COMBINATORIAL));
  delete first;
  delete second;
  HDB_INSTANCE_NAME* scope = child("u1");
  HDB_NAMESPACE* ns = scope->get_namespace();
  HDB_INSTANCE_NAME* element = ns->create_group_instance_name(scope, "q", 3);
  HDB_INSTANCE_NAME* stand_in = child("merged");
  stand_in->set_representative_name(element);
  CDB_SGATE_COMPONENT component("", true);
  kavu_create_component_name(nullptr, &component, stand_in);
  EXPECT_EQ(component.get_instance_name()->get_short_hpath(), "top|u1|q_rtl_0");
}

TEST_F(KavuComponent, ComponentsFromSeveralThreadsGetDistinctNames) {
  constexpr int THREADS = 4, PER_THREAD = 50;
  std::vector<std::vector<CDB_SGATE_COMPONENT*>> made(THREADS);
  std::vector<std::thread> threads;
  for (int t = 0; t < THREADS; ++t) {
    threads.emplace_back([this, t, &made] {
      CDB_SGATE_COMB gate(nullptr, CDB_COMB_AND, true);
      gate.set_string_name("acc");
      for (int i = 0; i < PER_THREAD; ++i) {
        kavu_create_generate_string_name_mutex();  // every caller may ask; one mutex survives
        CDB_SGATE_COMPONENT* c = rtl_create_component_instance(&m_info, nullptr, &gate, RTL_COMPONENT_MULT_ACCUM, true);
        rtl_set_component_int_parameter(c, &m_info, "WIDTH", i);
        rtl_create_component_iterm(&m_info, c, "data", i % 8, 0);
        made[t].push_back(c);
      }
    });
  }
  for (std::thread& th : threads) th.join();
  std::set<std::string> names;
  for (auto& list : made)
    for (CDB_SGATE_COMPONENT* c : list) names.insert(c->get_string_name()), delete c;
  EXPECT_EQ(names.size(), static_cast<size_t>(THREADS * PER_THREAD));
}

TEST_F(KavuComponent, PortsTakeTheSourcesValue) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* o = make_output_pin(&nl, "o", a, true);
  CDB_SGATE_NODE* k = make_output_pin(&nl, "k", nullptr);
  k->get_input_term(0)->set_gnd();
  auto* c = new CDB_SGATE_COMPONENT("", true);
  nl.add_node(c);

  // An ignored constant leaves the port alone.
  EXPECT_EQ(rtl_connect_iterm_source_to_component(&m_info, k->get_input_term(0), c, "aclr", RTL_COMPONENT_PORT_IGNORE_GND, 0, 0), nullptr);
  EXPECT_TRUE(rtl_connect_iterm_source_to_component(&m_info, k->get_input_term(0), c, "aclr", RTL_COMPONENT_PORT_IGNORE_VCC, 0, 0)->is_gnd());
  CDB_SGATE_ITERM* d3 = rtl_connect_iterm_source_to_component(&m_info, o->get_input_term(0), c, "data", RTL_COMPONENT_PORT_CONNECT_ALL, 3, 0);
  EXPECT_TRUE(d3->get_source() == a->get_single_oterm() && d3->is_inverted());
  // An inverted component input is never handed out: its reader would
  // double the inversion.
  EXPECT_KAVU_INTERNAL_ERROR(rtl_create_component_iterm(&m_info, c, "data", 3, 0), "!iterm->is_inverted()");
  CDB_SGATE_ITERM* d1 = rtl_create_component_iterm(&m_info, c, "data", 1, 0);
  EXPECT_EQ(rtl_create_component_iterm(&m_info, c, "data", 1, 0), d1) << "the same bit is found again";
  EXPECT_NE(rtl_create_component_iterm(&m_info, c, "data", 0, 1), d1) << "indices are not interchangeable";

  // The output bit takes the fan-outs, their inversion and the name.
  CDB_SGATE_OTERM* src = a->get_single_oterm();
  src->set_invert();
  CDB_SGATE_OTERM* q = rtl_component_output_adopt_fanouts(&m_info, src, c, "q", 0, 0);
  EXPECT_EQ(o->get_input_term(0)->get_source(), q);
  EXPECT_FALSE(o->get_input_term(0)->is_inverted()) << "inverted twice reads uninverted";
  EXPECT_EQ(q->get_instance_name(), src->get_instance_name());
  EXPECT_EQ(rtl_component_create_output(&m_info, c, "q", 0, 0), q);
  src->clear_invert();
  // Output bits are named like input bits, from (i2, i1): (2, 1) and (1, 2) differ.
  for (const auto& [i1, i2] : {std::pair{2, 1}, std::pair{1, 2}}) {
    CDB_SGATE_OTERM* bit = rtl_component_create_output(&m_info, c, "r", i1, i2);
    CDB_SGATE_OTERM* named = nullptr;
    ASSERT_TRUE(c->retrieve_known_port(rtl_component_generate_string_name(&m_info, "r", nullptr, nullptr, i2, 0, i1),
                                       CDB_COMPONENT_PORT_OUTPUT, nullptr, &named, false)) << i1 << " " << i2;
    EXPECT_EQ(named, bit) << i1 << " " << i2;
  }

  rtl_set_component_int_parameter(c, &m_info, "WIDTH", 16);
  rtl_set_component_string_parameter(c, &m_info, "MODE", "UP");
  EXPECT_STREQ(c->get_parameter("WIDTH"), "16");
  EXPECT_STREQ(c->get_parameter("MODE"), "UP");
  // Port names and parameter texts are the generator's pooled texts.
  const size_t pooled = m_info.get_pool_size();
  rtl_set_component_int_parameter(c, &m_info, "WIDTH", 16);
  EXPECT_EQ(m_info.get_pool_size(), pooled);
}

TEST_F(KavuComponent, CombGateOnAnInputKeepsTheIntendedFunction) {
  // golden: o = a & b, hb = b.  nl: o = a, hb = b; the AND is inserted on o.
  CDB_SGATE_NETLIST golden, nl;
  CDB_SGATE_NODE* gb = make_input_pin(&golden, "b");
  make_output_pin(&golden, "o", kavu_platform::make_and(&golden, make_input_pin(&golden, "a"), gb));
  make_output_pin(&golden, "hb", gb);
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* b = make_input_pin(&nl, "b");
  CDB_SGATE_NODE* o = make_output_pin(&nl, "o", a);
  CDB_SGATE_ITERM* other_term = make_output_pin(&nl, "hb", b)->get_input_term(0);
  KAVU_TRACK(nl);

  CDB_SGATE_NODE* gate = rtl_insert_comb_gate_on_iterm(&m_info, &nl, o->get_input_term(0), other_term, CDB_COMB_AND);
  EXPECT_EQ(o->get_input_term(0)->get_source(), gate->get_single_oterm());
  EXPECT_EQ(gate->get_instance_name()->get_short_hpath(), "top|o~comb");
  ASSERT_KAVU_EQUIVALENT(golden, nl);

  // XOR with a VCC destination: no gate, the inverted other source.
  CDB_SGATE_NODE* t = make_output_pin(&nl, "t", nullptr);
  t->get_input_term(0)->set_vcc();
  const unsigned size = nl.size();
  EXPECT_EQ(rtl_insert_comb_gate_on_iterm(&m_info, &nl, t->get_input_term(0), other_term, CDB_COMB_XOR), nullptr);
  EXPECT_EQ(nl.size(), size);
  EXPECT_EQ(t->get_input_term(0)->get_source(), b->get_single_oterm());
  EXPECT_TRUE(t->get_input_term(0)->is_inverted());

  EXPECT_KAVU_INTERNAL_ERROR(rtl_insert_comb_gate_on_iterm(&m_info, &nl, t->get_input_term(0), other_term, CDB_COMB_NOT),
                             "comb_type == CDB_COMB_AND");

  // Operator names follow the other gate's name.
  CDB_SGATE_COMB op(nullptr, CDB_COMB_OR, true);
  rtl_synth_op_name(&op, a);
  EXPECT_EQ(op.get_instance_name()->get_short_hpath(), "top|a~rtl");
  CDB_SGATE_COMB unnamed(nullptr, CDB_COMB_OR, true);
  rtl_synth_op_name(&op, &unnamed);  // nothing to name it after
  EXPECT_EQ(op.get_instance_name()->get_short_hpath(), "top|a~rtl");
}

}  // namespace
