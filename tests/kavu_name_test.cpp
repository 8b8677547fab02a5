// Tests of gate naming: the unique-name util, the two naming modes, the
// deferred naming pass on real circuits, device-atom port names and the
// string-name helper.
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cdb/cdb_sgate.h"
#include "hdb/hdb.h"
#include "kavu_helper_gate_create.h"
#include "kavu_name.h"
#include "testkit/platform_testkit.h"

using kavu_platform::CFG_SCOPE;
using kavu_platform::DEBUG_CAPTURE;

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
  HDB_INSTANCE_NAME* top() {
    return HDB_INSTANCE_NAME::create_normal_name(nullptr, "top", nullptr, nullptr, nullptr);
  }
  HDB_INSTANCE_NAME* child(const char* text) {
    return HDB_INSTANCE_NAME::create_normal_name(nullptr, text, nullptr, nullptr, top());
  }
};

struct RECORDING_FUNCTOR : KAVU_ATTACH_OPTIONS_FUNCTOR {
  std::vector<HDB_INSTANCE_NAME*> names;
  void operator()(HDB_INSTANCE_NAME* name) override { names.push_back(name); }
};

// ---------------------------------------------------------------- unique names

TEST_F(KavuName, UniqueNamesAreNumberedPerBaseAndExtension) {
  HDB_INSTANCE_NAME* a = child("a");
  HDB_INSTANCE_NAME* b = child("b");
  KAVU_UNIQUE_SYNTH_NAMES_UTIL util;
  HDB_INSTANCE_NAME* e0 = util.create_unique_synthesized_name(a, "e");
  EXPECT_EQ(e0->get_short_hpath(), "top|a~e");
  EXPECT_EQ(util.get_next_number(a, "e"), 1);
  EXPECT_EQ(util.create_unique_synthesized_name(a, "e")->get_short_hpath(), "top|a~e_1");
  EXPECT_EQ(util.get_next_number(a, "e"), 2);
  EXPECT_EQ(util.create_unique_synthesized_name(a, "e")->get_short_hpath(), "top|a~e_2");
  // Another base with the same extension starts its own numbering.
  EXPECT_EQ(util.create_unique_synthesized_name(b, "e")->get_short_hpath(), "top|b~e");
  EXPECT_EQ(util.create_unique_synthesized_name(a, "f")->get_short_hpath(), "top|a~f");

  // A second util does not know the first one's numbers, but never returns a
  // name another synthesis step already created.
  KAVU_UNIQUE_SYNTH_NAMES_UTIL other;
  HDB_INSTANCE_NAME* next = other.create_unique_synthesized_name(a, "e");
  EXPECT_EQ(next->get_short_hpath(), "top|a~e_3");
  EXPECT_EQ(other.get_next_number(a, "e"), 4);
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
  EXPECT_EQ(util.get_next_number(a, "e"), 1);
  EXPECT_TRUE(functor.names.empty()) << "a reused name gets no options attached";

  // e and e_1 exist and were not entered by the user: e_2 (user) is taken.
  EXPECT_EQ(util.create_unique_synthesized_name(b, "e"), user_e2);
  EXPECT_EQ(util.get_next_number(b, "e"), 3);
  HDB_INSTANCE_NAME* fresh = util.create_unique_synthesized_name(b, "e");
  EXPECT_EQ(fresh->get_short_hpath(), "top|b~e_3");
  ASSERT_EQ(functor.names.size(), 1u);
  EXPECT_EQ(functor.names[0], fresh);
}

TEST_F(KavuName, CallbackRegistrationAndRefusals) {
  RECORDING_FUNCTOR first, second;
  kavu_set_attach_options_functor(&first);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_set_attach_options_functor(&second), "Attach options pointer");
  kavu_set_attach_options_functor(nullptr);
  kavu_set_attach_options_functor(&second);

  KAVU_UNIQUE_SYNTH_NAMES_UTIL util;
  EXPECT_KAVU_INTERNAL_ERROR(util.create_unique_synthesized_name(nullptr, "e"), "iname");
  cdb_sgate_set_synthesis_running_in_parallel(true);
  EXPECT_KAVU_INTERNAL_ERROR(util.create_unique_synthesized_name(child("a"), "e"),
                             "Can't create new names in parallel");
}

// ---------------------------------------------------------------- modes

TEST_F(KavuName, DefaultModeNamesEveryOutputAndTheGate) {
  CDB_SGATE_NETLIST netlist;
  KAVU_TRACK(netlist);
  HDB_INSTANCE_NAME* base = child("base");
  auto* sum = new CDB_SGATE_CARRY_SUM(nullptr);
  netlist.add_node(sum);
  kavu_create_synthesized_name(sum, base, "x");
  ASSERT_NE(sum->get_output_term(0)->get_instance_name(), nullptr);
  EXPECT_EQ(sum->get_output_term(0)->get_instance_name()->get_short_hpath(), "top|base~x");
  EXPECT_EQ(sum->get_output_term(1)->get_instance_name()->get_short_hpath(), "top|base~x~1");
  EXPECT_EQ(sum->get_instance_name(), sum->get_output_term(0)->get_instance_name());

  // A gate without outputs is named with "new", whatever the caller asked.
  auto* atom = new CDB_SGATE_WYSIWYG(nullptr, 9999);
  netlist.add_node(atom);
  kavu_create_synthesized_name(atom, base, "x");
  EXPECT_EQ(atom->get_instance_name()->get_short_hpath(), "top|base~new");

  // Made from an unnamed gate, a gate stays unnamed in either mode.
  auto* loose = new CDB_SGATE_COMB(nullptr, CDB_COMB_AND, true);
  netlist.add_node(loose);
  kavu_create_synthesized_name(loose, (HDB_INSTANCE_NAME*)nullptr, "x");
  EXPECT_EQ(loose->get_instance_name(), nullptr);
  kavu_set_syn_id_sgate_naming_function();
  kavu_create_synthesized_name(loose, (HDB_INSTANCE_NAME*)nullptr, "x");
  EXPECT_FALSE(loose->get_single_oterm()->has_synthesized_name_mark());
  kavu_reset_sgate_naming_function();

  // Names are refused during parallel synthesis in the default mode.
  cdb_sgate_set_synthesis_running_in_parallel(true);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_create_synthesized_name(sum->get_output_term(0), base, "y"),
                             "Can't create new names in parallel");
  EXPECT_KAVU_INTERNAL_ERROR(kavu_create_synthesized_name(sum, (CDB_SGATE_NODE*)nullptr, "y"), "from_sgate");
}

TEST_F(KavuName, DeferredModeOnlyRecordsTheBase) {
  CDB_SGATE_NETLIST netlist;
  KAVU_TRACK(netlist);
  HDB_INSTANCE_NAME* base = child("base");
  kavu_set_syn_id_sgate_naming_function();
  EXPECT_FALSE(kavu_name_function_status_is_default());
  cdb_sgate_set_synthesis_running_in_parallel(true);  // allowed: nothing is created
  auto* comb = new CDB_SGATE_COMB(nullptr, CDB_COMB_AND, true);
  netlist.add_node(comb);
  const size_t children = base->get_children().size();
  kavu_create_synthesized_name(comb, base, "comb");
  EXPECT_EQ(base->get_children().size(), children);
  EXPECT_TRUE(comb->get_single_oterm()->has_synthesized_name_mark());
  EXPECT_EQ(comb->get_single_oterm()->get_synfrom_name(), base);
  EXPECT_EQ(comb->get_instance_name(), base);

  // During parallel synthesis the real-or-temp form falls back to this.
  auto* other = new CDB_SGATE_COMB(nullptr, CDB_COMB_OR, true);
  netlist.add_node(other);
  kavu_create_real_or_temp_name(other, base, "t");
  EXPECT_TRUE(other->get_single_oterm()->has_synthesized_name_mark());
  cdb_sgate_set_synthesis_running_in_parallel(false);
  kavu_reset_sgate_naming_function();
  EXPECT_TRUE(kavu_name_function_status_is_default());
}

TEST_F(KavuName, RealOrTempNameNeedsAPreferredOutput) {
  HDB_INSTANCE_NAME* base = child("base");
  CDB_SGATE_WYSIWYG atom(nullptr, 9999);  // no outputs
  const size_t children = base->get_children().size();
  EXPECT_KAVU_INTERNAL_ERROR(kavu_create_real_or_temp_name(&atom, base, "t"), "preferred");
  EXPECT_EQ(atom.get_instance_name(), nullptr);
  EXPECT_EQ(base->get_children().size(), children) << "a refused call creates no name";

  CDB_SGATE_COMB comb(nullptr, CDB_COMB_AND, true);
  kavu_create_real_or_temp_name(&comb, base, "t");
  EXPECT_EQ(comb.get_instance_name()->get_short_hpath(), "top|base~t");
  EXPECT_EQ(comb.get_single_oterm()->get_instance_name(), comb.get_instance_name());
  kavu_create_real_or_temp_name(&comb, (HDB_INSTANCE_NAME*)nullptr, "u");  // nothing happens
  EXPECT_EQ(comb.get_instance_name()->get_short_hpath(), "top|base~t");
}

TEST_F(KavuName, CopyNameCarriesNamesAndMarks) {
  HDB_INSTANCE_NAME* base = child("base");
  CDB_SGATE_COMB from(child("from"), CDB_COMB_AND, true);
  from.get_single_oterm()->set_instance_name(from.get_instance_name());
  from.get_single_oterm()->set_synthesized_name(base);
  CDB_SGATE_COMB to(nullptr, CDB_COMB_OR, true);
  to.set_has_temporary_name(true);
  kavu_copy_name(&from, &to);
  EXPECT_EQ(to.get_instance_name(), from.get_instance_name());
  EXPECT_TRUE(to.get_single_oterm()->has_synthesized_name_mark());
  EXPECT_EQ(to.get_single_oterm()->get_synfrom_name(), base);
  EXPECT_FALSE(to.has_temporary_name());

  from.get_single_oterm()->clear_synthesized_name_mark();
  from.set_has_temporary_name(true);
  kavu_copy_name(&from, &to);
  EXPECT_FALSE(to.get_single_oterm()->has_synthesized_name_mark());
  EXPECT_TRUE(to.has_temporary_name());

  CDB_SGATE_WYSIWYG no_outputs(nullptr, 9999);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_copy_name(&no_outputs, &to), "from_oterm");
  EXPECT_KAVU_INTERNAL_ERROR(kavu_copy_name(&to, &no_outputs), "to_oterm");
}

// ---------------------------------------------------------------- string names

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
  EXPECT_KAVU_INTERNAL_ERROR(kavu_add_string_name_to_sgate_iname(nullptr, "x", nullptr, nullptr), "iname");
  cdb_sgate_set_synthesis_running_in_parallel(true);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_add_string_name_to_sgate_iname(nullptr, "x", u1, nullptr),
                             "Can't create new names in parallel");
}

// ---------------------------------------------------------------- deferred pass

// Every input of a real circuit gets a soft buffer in deferred mode; the
// pass then names exactly the marked terminals, all differently, and the
// function is untouched.
TEST_F(KavuName, DeferredPassNamesEveryMarkedTerminalUniquely) {
  for (const char* circuit : {"alu8_lut4", "s298", "counter8_generic"}) {
    auto golden = kavu_platform::load_blif(circuit);
    auto nl = kavu_platform::load_blif(circuit);
    KAVU_TRACK(nl);
    std::vector<CDB_SGATE_ITERM*> inputs;
    for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
      CDB_SGATE_NODE* gate = *it;
      for (unsigned i = 0; gate && i < gate->get_number_of_input_terms(); ++i) {
        CDB_SGATE_ITERM* t = gate->get_input_term(i);
        if (t && cdb_is_connected(t) && !t->is_vcc_or_gnd() && t->get_source()) inputs.push_back(t);
      }
    }
    kavu_set_syn_id_sgate_naming_function();
    cdb_sgate_set_synthesis_running_in_parallel(true);
    std::vector<CDB_SGATE_NODE*> buffers;
    for (CDB_SGATE_ITERM* t : inputs) buffers.push_back(kavu_insert_soft_before(t, nl.get(), nullptr));
    cdb_sgate_set_synthesis_running_in_parallel(false);
    kavu_reset_sgate_naming_function();

    int marked = 0;
    for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
      for (unsigned i = 0; *it && i < (*it)->get_output_count(); ++i) {
        CDB_SGATE_OTERM* o = (*it)->get_output_term(i);
        if (o && o->has_synthesized_name_mark()) ++marked;
      }
    }
    ASSERT_EQ(marked, static_cast<int>(buffers.size())) << circuit;

    CFG_SCOPE cfg{{"kavu_sanity_check_duplicate_names", "on"}};
    kavu_name_reread_switches();
    DEBUG_CAPTURE cap("KAVU");
    kavu_create_real_names_from_syn_ids(nl.get());
    EXPECT_TRUE(cap.contains("Created " + std::to_string(marked) + " synthesized names")) << circuit;

    std::set<HDB_INSTANCE_NAME*> names;
    std::set<std::string> paths;
    for (CDB_SGATE_NODE* b : buffers) {
      CDB_SGATE_OTERM* o = b->get_single_oterm();
      EXPECT_FALSE(o->has_synthesized_name_mark());
      ASSERT_NE(o->get_instance_name(), nullptr);
      EXPECT_EQ(b->get_instance_name(), o->get_instance_name());
      names.insert(o->get_instance_name());
      paths.insert(o->get_instance_name()->get_short_hpath());
    }
    EXPECT_EQ(names.size(), buffers.size()) << circuit;
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
  for (unsigned i = 0; i < 3; ++i) {
    CDB_SGATE_OTERM* o = atom->create_output_term(nullptr, types[i]);
    atom->set_output_term(o, i);
    o->set_synthesized_name(base);
  }
  netlist.add_node(atom);
  KAVU_TRACK(netlist);
  kavu_name_reread_switches();
  kavu_create_real_names_from_syn_ids(&netlist);
  EXPECT_EQ(atom->get_output_term(0)->get_instance_name()->get_short_hpath(), "top|cell~COUT0");
  EXPECT_EQ(atom->get_output_term(1)->get_instance_name()->get_short_hpath(), "top|cell~COUT1");
  EXPECT_EQ(atom->get_output_term(2)->get_instance_name()->get_short_hpath(), "top|cell~SUMOUT0");

  // With port names off, names carry no extension.
  for (unsigned i = 0; i < 3; ++i) atom->get_output_term(i)->set_synthesized_name(base);
  {
    CFG_SCOPE cfg{{"kavu_create_port_names_for_wysiwygs", "off"}};
    kavu_name_reread_switches();
    kavu_create_real_names_from_syn_ids(&netlist);
  }
  kavu_name_reread_switches();
  std::set<std::string> plain;
  for (unsigned i = 0; i < 3; ++i) plain.insert(atom->get_output_term(i)->get_instance_name()->get_short_hpath());
  EXPECT_EQ(plain.size(), 3u);
  EXPECT_EQ(plain.count("top|cell~1") + plain.count("top|cell~2") + plain.count("top|cell~3"), 3u);
}

TEST_F(KavuName, RealNameForOneTerminal) {
  HDB_INSTANCE_NAME* base = child("g");
  CDB_SGATE_CARRY_SUM gate(nullptr);
  CDB_SGATE_OTERM* carry = gate.get_output_term(1);
  EXPECT_FALSE(kavu_create_real_name_for_oterm(carry, "", nullptr)) << "unmarked: nothing to do";
  carry->set_synthesized_name(base);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_create_real_name_for_oterm(carry, "co", nullptr), "name-util");
  KAVU_UNIQUE_SYNTH_NAMES_UTIL util;
  EXPECT_TRUE(kavu_create_real_name_for_oterm(carry, "co", &util));
  EXPECT_EQ(carry->get_instance_name()->get_short_hpath(), "top|g~co");
  EXPECT_FALSE(carry->has_synthesized_name_mark());
  // Not the preferred output: the gate keeps its own name.
  EXPECT_EQ(gate.get_instance_name(), nullptr);
}

}  // namespace
