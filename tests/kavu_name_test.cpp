// Tests of gate naming: unique names, the two naming modes, the deferred
// pass on real circuits, atom port names and string names.
#include <set>

#include "hdb/hdb.h"
#include "kavu_helper_gate_create.h"
#include "kavu_name.h"
#include "testkit/platform_testkit.h"

using kavu_platform::CFG_SCOPE;

namespace {

// The naming mode and the callback are process-wide: every test leaves them
// at their defaults.
class KavuName : public ::testing::Test {
 protected:
  void TearDown() override {
    kavu_reset_sgate_naming_function();
    kavu_set_attach_options_functor(nullptr);
    cdb_sgate_set_synthesis_running_in_parallel(false);
  }
  HDB_INSTANCE_NAME* top() { return HDB_INSTANCE_NAME::create_normal_name(nullptr, "top", nullptr, nullptr, nullptr); }
  HDB_INSTANCE_NAME* child(const char* text) { return HDB_INSTANCE_NAME::create_normal_name(nullptr, text, nullptr, nullptr, top()); }
};

struct RECORDING_FUNCTOR : KAVU_ATTACH_OPTIONS_FUNCTOR {
  std::vector<HDB_INSTANCE_NAME*> names;
  void operator()(HDB_INSTANCE_NAME* name) override { names.push_back(name); }
};

TEST_F(KavuName, UniqueNamesAreNumberedPerBaseAndExtension) {
  HDB_INSTANCE_NAME* a = child("a");
  HDB_INSTANCE_NAME* b = child("b");
  KAVU_UNIQUE_SYNTH_NAMES_UTIL util;
  EXPECT_EQ(util.create_unique_synthesized_name(a, "e")->get_short_hpath(), "top|a~e");
  EXPECT_EQ(util.create_unique_synthesized_name(a, "e")->get_short_hpath(), "top|a~e_1");
  EXPECT_EQ(util.create_unique_synthesized_name(a, "e")->get_short_hpath(), "top|a~e_2");
  EXPECT_EQ(util.get_next_number(a, "e"), 3);
  // Another base with the same extension starts its own numbering.
  EXPECT_EQ(util.create_unique_synthesized_name(b, "e")->get_short_hpath(), "top|b~e");
  EXPECT_EQ(util.create_unique_synthesized_name(a, "f")->get_short_hpath(), "top|a~f");

  // A second util does not know the first one's numbers, but never returns a
  // name another synthesis step already created.
  KAVU_UNIQUE_SYNTH_NAMES_UTIL other;
  EXPECT_EQ(other.create_unique_synthesized_name(a, "e")->get_short_hpath(), "top|a~e_3");
  EXPECT_EQ(other.get_next_number(a, "e"), 4);

  // The terminal forms take the base from a gate or from another terminal.
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* gate = kavu_platform::make_and(&nl, nullptr, nullptr);
  gate->set_instance_name(b);
  gate->get_single_oterm()->set_instance_name(b);
  CDB_SGATE_OTERM* target = kavu_platform::make_not(&nl, nullptr)->get_single_oterm();
  util.set_unique_synthesized_name(target, gate, "g");
  EXPECT_EQ(target->get_instance_name()->get_short_hpath(), "top|b~g");
  util.set_unique_synthesized_name(target, gate->get_single_oterm(), std::string("g"));
  EXPECT_EQ(target->get_instance_name()->get_short_hpath(), "top|b~g_1");
  // Outside parallel synthesis a real name is made at once, on the gate and
  // its preferred output.
  CDB_SGATE_NODE* named = kavu_platform::make_not(&nl, nullptr);
  kavu_create_real_or_temp_name(named, gate, "rt");
  EXPECT_EQ(named->get_instance_name()->get_short_hpath(), "top|b~rt");
  EXPECT_EQ(named->get_single_oterm()->get_instance_name(), named->get_instance_name());
}

TEST_F(KavuName, UserEnteredNamesAreReusedAndOthersSkipped) {
  HDB_INSTANCE_NAME* a = child("a");
  HDB_INSTANCE_NAME* user_e = HDB_INSTANCE_NAME::create_child(
      a, "e", HDB_INSTANCE_NAME_FLAG(HDB_INSTANCE_NAME_FLAG::USER_ENTERED), 0, true);
  HDB_INSTANCE_NAME* b = child("b");
  HDB_INSTANCE_NAME::create_child(b, "e", {}, 0, true);
  HDB_INSTANCE_NAME::create_child(b, "e_1", {}, 0, true);
  HDB_INSTANCE_NAME* user_e2 = HDB_INSTANCE_NAME::create_child(
      b, "e_2", HDB_INSTANCE_NAME_FLAG(HDB_INSTANCE_NAME_FLAG::USER_ENTERED), 0, true);

  RECORDING_FUNCTOR functor;
  kavu_set_attach_options_functor(&functor);
  KAVU_UNIQUE_SYNTH_NAMES_UTIL util;
  EXPECT_EQ(util.create_unique_synthesized_name(a, "e"), user_e);
  EXPECT_TRUE(util.get_next_number(a, "e") == 1 && functor.names.empty()) << "a reused name gets no options";

  // e and e_1 exist and were not entered by the user: e_2 (user) is taken.
  EXPECT_EQ(util.create_unique_synthesized_name(b, "e"), user_e2);
  EXPECT_EQ(util.get_next_number(b, "e"), 3);
  HDB_INSTANCE_NAME* fresh = util.create_unique_synthesized_name(b, "e");
  EXPECT_EQ(fresh->get_short_hpath(), "top|b~e_3");
  EXPECT_EQ(functor.names, std::vector<HDB_INSTANCE_NAME*>{fresh});
  // A second callback is refused while one is set.
  RECORDING_FUNCTOR second;
  EXPECT_KAVU_INTERNAL_ERROR(kavu_set_attach_options_functor(&second), "Attach options pointer");
  cdb_sgate_set_synthesis_running_in_parallel(true);
  EXPECT_KAVU_INTERNAL_ERROR(util.create_unique_synthesized_name(b, "e"), "Can't create new names in parallel");
}

TEST_F(KavuName, DefaultModeNamesEveryOutputAndTheGate) {
  CDB_SGATE_NETLIST netlist;
  KAVU_TRACK(netlist);
  HDB_INSTANCE_NAME* base = child("base");
  auto* sum = new CDB_SGATE_CARRY_SUM(nullptr);
  netlist.add_node(sum);
  kavu_create_synthesized_name(sum, base, "x");
  EXPECT_EQ(sum->get_output_term(0)->get_instance_name()->get_short_hpath() + " " +
                sum->get_output_term(1)->get_instance_name()->get_short_hpath(),
            "top|base~x top|base~x~1");
  EXPECT_EQ(sum->get_instance_name(), sum->get_output_term(0)->get_instance_name());

  // A gate without outputs is named with "new", whatever the caller asked.
  auto* atom = new CDB_SGATE_WYSIWYG(nullptr, 9999);
  netlist.add_node(atom);
  kavu_create_synthesized_name(atom, base, "x");
  EXPECT_EQ(atom->get_instance_name()->get_short_hpath(), "top|base~new");

  // Made from an unnamed gate, a gate stays unnamed in either mode.
  auto* loose = new CDB_SGATE_COMB(nullptr, CDB_COMB_AND, true);
  netlist.add_node(loose);
  for (bool deferred : {false, true}) {
    if (deferred) kavu_set_syn_id_sgate_naming_function();
    kavu_create_synthesized_name(loose, (HDB_INSTANCE_NAME*)nullptr, "x");
    EXPECT_TRUE(!loose->get_instance_name() && !loose->get_single_oterm()->has_synthesized_name_mark());
  }
  kavu_reset_sgate_naming_function();

  // Names are refused during parallel synthesis in the default mode.
  cdb_sgate_set_synthesis_running_in_parallel(true);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_create_synthesized_name(sum->get_output_term(0), base, "y"),
                             "Can't create new names in parallel");
}

TEST_F(KavuName, DeferredModeOnlyRecordsTheBase) {
  CDB_SGATE_NETLIST netlist;
  KAVU_TRACK(netlist);
  HDB_INSTANCE_NAME* base = child("base");
  kavu_set_syn_id_sgate_naming_function();
  cdb_sgate_set_synthesis_running_in_parallel(true);  // allowed: nothing is created
  auto* comb = new CDB_SGATE_COMB(nullptr, CDB_COMB_AND, true);
  netlist.add_node(comb);
  const size_t children = base->get_children().size();
  kavu_create_synthesized_name(comb, base, "comb");
  EXPECT_EQ(base->get_children().size(), children);
  EXPECT_TRUE(comb->get_single_oterm()->has_synthesized_name_mark() &&
              comb->get_single_oterm()->get_synfrom_name() == base && comb->get_instance_name() == base);

  // During parallel synthesis the real-or-temp form falls back to this.
  auto* other = new CDB_SGATE_COMB(nullptr, CDB_COMB_OR, true);
  netlist.add_node(other);
  kavu_create_real_or_temp_name(other, base, "t");
  EXPECT_TRUE(other->get_single_oterm()->has_synthesized_name_mark() && !kavu_name_function_status_is_default());
  kavu_reset_sgate_naming_function();
  EXPECT_TRUE(kavu_name_function_status_is_default());
}

TEST_F(KavuName, CopyNameAndRealNameForOneTerminal) {
  HDB_INSTANCE_NAME* base = child("base");
  CDB_SGATE_COMB from(child("from"), CDB_COMB_AND, true);
  from.get_single_oterm()->set_instance_name(from.get_instance_name());
  from.get_single_oterm()->set_synthesized_name(base);
  CDB_SGATE_COMB to(nullptr, CDB_COMB_OR, true);
  to.set_has_temporary_name(true);
  kavu_copy_name(&from, &to);
  EXPECT_EQ(to.get_instance_name(), from.get_instance_name());
  EXPECT_TRUE(to.get_single_oterm()->has_synthesized_name_mark() && to.get_single_oterm()->get_synfrom_name() == base);
  EXPECT_FALSE(to.has_temporary_name());

  from.get_single_oterm()->clear_synthesized_name_mark();
  from.set_has_temporary_name(true);
  kavu_copy_name(&from, &to);
  EXPECT_TRUE(!to.get_single_oterm()->has_synthesized_name_mark() && to.has_temporary_name());

  CDB_SGATE_WYSIWYG no_outputs(nullptr, 9999);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_copy_name(&no_outputs, &to), "from_oterm");
  HDB_INSTANCE_NAME* g_base = child("g");
  CDB_SGATE_CARRY_SUM gate(nullptr);
  CDB_SGATE_OTERM* carry = gate.get_output_term(1);
  EXPECT_FALSE(kavu_create_real_name_for_oterm(carry, "", nullptr)) << "unmarked: nothing to do";
  carry->set_synthesized_name(g_base);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_create_real_name_for_oterm(carry, "co", nullptr), "name-util");
  KAVU_UNIQUE_SYNTH_NAMES_UTIL util;
  EXPECT_TRUE(kavu_create_real_name_for_oterm(carry, "co", &util));
  EXPECT_EQ(carry->get_instance_name()->get_short_hpath(), "top|g~co");
  // Not the preferred output: only the terminal's mark goes; the gate keeps
  // its own (no) name.
  EXPECT_TRUE(!carry->has_synthesized_name_mark() && gate.get_instance_name() == nullptr);
}

TEST_F(KavuName, StringNameIsAChildOfTheParent) {
  HDB_INSTANCE_NAME* u1 = child("u1");
  HDB_INSTANCE_NAME* made = kavu_add_string_name_to_sgate_iname(nullptr, "ram", u1, nullptr);
  EXPECT_EQ(made->get_short_hpath(), "top|u1_ram");
  EXPECT_EQ(kavu_add_string_name_to_sgate_iname(nullptr, "ram", u1, nullptr), made);

  // Path, "_" and text reaching 255 characters: the candidate is the path
  // alone, which names the given name itself.
  HDB_INSTANCE_NAME* long_path = child(std::string(200, 'p').c_str());
  for (size_t text_size : {53u, 54u, 60u}) {
    const std::string text(text_size, 't');
    HDB_INSTANCE_NAME* got = kavu_add_string_name_to_sgate_iname(nullptr, text.c_str(), long_path, nullptr);
    if (text_size == 53) {
      EXPECT_EQ(std::string(got->get_partial_name()), std::string(200, 'p') + "_" + text);
    } else {
      EXPECT_EQ(got, long_path) << text_size;
    }
  }
  EXPECT_KAVU_INTERNAL_ERROR(kavu_add_string_name_to_sgate_iname(nullptr, "x", top(), nullptr), "parent_iname");
  cdb_sgate_set_synthesis_running_in_parallel(true);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_add_string_name_to_sgate_iname(nullptr, "x", u1, nullptr),
                             "Can't create new names in parallel");
}

// Every input of a real circuit gets a soft buffer in deferred mode; the
// pass then names exactly the marked terminals, all differently, and the
// function is untouched.
TEST_F(KavuName, DeferredPassNamesEveryMarkedTerminalUniquely) {
  for (const char* circuit : {"alu8_lut4", "s298", "counter8_generic"}) {
    auto golden = kavu_platform::load_blif(circuit);
    auto nl = kavu_platform::load_blif(circuit);
    KAVU_TRACK(nl);
    std::vector<CDB_SGATE_ITERM*> inputs;
    for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
      for (CDB_SGATE_ITERM* t : (*it)->get_input_terms())
        if (t && t->get_source()) inputs.push_back(t);
    kavu_set_syn_id_sgate_naming_function();
    cdb_sgate_set_synthesis_running_in_parallel(true);
    std::vector<CDB_SGATE_NODE*> buffers;
    for (CDB_SGATE_ITERM* t : inputs) buffers.push_back(kavu_insert_soft_before(t, nl.get(), nullptr));
    cdb_sgate_set_synthesis_running_in_parallel(false);
    kavu_reset_sgate_naming_function();

    CFG_SCOPE cfg{{"kavu_sanity_check_duplicate_names", "on"}};
    kavu_name_reread_switches();
    kavu_create_real_names_from_syn_ids(nl.get());
    std::set<std::string> paths;
    for (CDB_SGATE_NODE* b : buffers) {
      CDB_SGATE_OTERM* o = b->get_single_oterm();
      ASSERT_TRUE(!o->has_synthesized_name_mark() && b->get_instance_name() == o->get_instance_name());
      paths.insert(o->get_instance_name()->get_short_hpath());
    }
    EXPECT_EQ(paths.size(), buffers.size()) << circuit;
    ASSERT_KAVU_EQUIVALENT(golden, nl);
  }
  kavu_name_reread_switches();
}

TEST_F(KavuName, AtomOutputsAreNamedAfterTheirPorts) {
  CDB_SGATE_NETLIST netlist;
  HDB_INSTANCE_NAME* base = child("cell");
  // A generic atom (no catalogue row): its outputs lie above the port bound,
  // so each extension carries the run index of its port type.
  auto* atom = new CDB_SGATE_WYSIWYG(nullptr, 9999);
  const DB_OUTPUT_PORT_TYPE types[] = {DB_PORT_COUT, DB_PORT_COUT, DB_PORT_SUMOUT};
  for (unsigned i = 0; i < 3; ++i) atom->set_output_term(atom->create_output_term(nullptr, types[i]), i);
  netlist.add_node(atom);
  KAVU_TRACK(netlist);
  for (unsigned i = 0; i < 3; ++i) atom->get_output_term(i)->set_synthesized_name(base);
  kavu_name_reread_switches();
  kavu_create_real_names_from_syn_ids(&netlist);
  const char* want[] = {"top|cell~COUT0", "top|cell~COUT1", "top|cell~SUMOUT0"};
  for (unsigned i = 0; i < 3; ++i) EXPECT_EQ(atom->get_output_term(i)->get_instance_name()->get_short_hpath(), want[i]);

  // With port names off, names carry no extension.
  for (unsigned i = 0; i < 3; ++i) atom->get_output_term(i)->set_synthesized_name(base);
  {
    CFG_SCOPE cfg{{"kavu_create_port_names_for_wysiwygs", "off"}};
    kavu_name_reread_switches();
    kavu_create_real_names_from_syn_ids(&netlist);
  }
  kavu_name_reread_switches();
  for (unsigned i = 0; i < 3; ++i) {
    EXPECT_EQ(atom->get_output_term(i)->get_instance_name()->get_short_hpath().find("cell~" + std::to_string(i + 1)), 4u);
  }
}

}  // namespace
