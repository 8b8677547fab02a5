// hdb_test.cpp — the name tree, synthesized-name numbering, bus groups,
// options, the assignment reader and the vocabulary.
#include <set>
#include <string>
#include <vector>

#include "hdb/acf.h"
#include "hdb/hdb.h"
#include "testkit/platform_testkit.h"

namespace {

using kavu_platform::hdb_default_namespace;
using kavu_platform::hdb_load_assignments;
using kavu_platform::hdb_set_option;

HDB_INSTANCE_NAME* normal(HDB_INSTANCE_NAME* parent, const char* text) {
  return HDB_INSTANCE_NAME::create_normal_name(nullptr, text, nullptr, nullptr, parent);
}

TEST(HdbNames, PathsJoinLevelsWithBarsAndSynthesizedNamesWithTildes) {
  HDB_INSTANCE_NAME* top = normal(nullptr, "top");
  HDB_INSTANCE_NAME* u1 = normal(top, "u1");
  HDB_INSTANCE_NAME* reg = normal(u1, "reg[3]");
  HDB_INSTANCE_NAME* clk = HDB_INSTANCE_NAME::create_synthesized_name(reg, "clk", false);
  const std::tuple<HDB_INSTANCE_NAME*, int, const char*> paths[] = {
      {reg, 0, "top|u1|reg[3]"}, {reg, 1, "u1|reg[3]"},           {reg, 2, "reg[3]"},
      {clk, 0, "top|u1|reg[3]~clk"}, {normal(clk, "x"), 1, "u1|reg[3]~clk|x"}, {top, 1, ""},
      {reg, 3, "u1|reg[3]"},         {clk, 3, "u1|reg[3]~clk"},      {top, 3, "top"}};
  for (auto [name, fmt, path] : paths) EXPECT_EQ(name->get_short_hpath(fmt), path) << path;
  // The below-root path starts under the nearest root; synthesized children
  // of one text under different names differ in it, not in their leaf.
  EXPECT_TRUE(top->get_flags().test_flag(HDB_INSTANCE_NAME_FLAG::HIERARCHY_ROOT));  // every top name is a root
  EXPECT_FALSE(u1->get_flags().test_flag(HDB_INSTANCE_NAME_FLAG::HIERARCHY_ROOT));
  HDB_INSTANCE_NAME* other = HDB_INSTANCE_NAME::create_synthesized_name(normal(u1, "reg[4]"), "clk", false);
  EXPECT_EQ(other->get_short_hpath(2), clk->get_short_hpath(2));
  EXPECT_NE(other->get_short_hpath(3), clk->get_short_hpath(3));
  u1->get_flags().set_flag(HDB_INSTANCE_NAME_FLAG::HIERARCHY_ROOT);
  EXPECT_EQ(clk->get_short_hpath(3), "reg[3]~clk");
  std::string path;
  EXPECT_TRUE(clk->get_hierarchy_path(u1, &path));
  EXPECT_EQ(path, "reg[3]~clk");
  EXPECT_FALSE(top->get_hierarchy_path(u1, &path));  // not below u1: the full path
  EXPECT_EQ(path, "top");
  EXPECT_KAVU_INTERNAL_ERROR(reg->get_short_hpath(4), "fmt");
}

TEST(HdbNames, NamesAreInternedByPathAndFoundByKind) {
  HDB_INSTANCE_NAME* top = normal(nullptr, "top");
  HDB_INSTANCE_NAME* a = normal(top, "a");
  HDB_INSTANCE_NAME* sa = HDB_INSTANCE_NAME::create_child(top, "a", {}, 0, true);  // "top~a", not "top|a"
  HDB_INSTANCE_NAME* only_synth = HDB_INSTANCE_NAME::create_child(top, "s", {}, 0, true);
  HDB_NAMESPACE* ns = hdb_default_namespace();
  using NAMES = std::vector<HDB_INSTANCE_NAME*>;
  EXPECT_EQ((NAMES{normal(top, "a"), HDB_INSTANCE_NAME::create_child(top, "a"), top->find_in_children("a", 1),
                   top->find_in_children("a", 2), top->find_in_children("b", 0), top->find_in_children("s", 1),
                   top->find_in_children("s", 0)}),
            (NAMES{a, a, a, sa, nullptr, nullptr, only_synth}));
  // Paths are read from the root, with or without the top name.
  EXPECT_EQ((NAMES{ns->get_root(), ns->get_rooted_at("top|a"), ns->get_rooted_at("a"), ns->get_rooted_at("top|zz")}),
            (NAMES{top, a, a, nullptr}));
  EXPECT_KAVU_INTERNAL_ERROR(normal(top, ""), "text");
  EXPECT_KAVU_INTERNAL_ERROR(HDB_INSTANCE_NAME::create_child(nullptr, "x"), "parent");
  HDB_NAMESPACE other("other_top");
  EXPECT_KAVU_INTERNAL_ERROR(HDB_INSTANCE_NAME::create_normal_name(&other, "x", nullptr, nullptr, top), "ns");
}

TEST(HdbNames, IdsAreUniqueAndNeverReusedAcrossResets) {
  HDB_INSTANCE_NAME* a = normal(normal(nullptr, "top"), "a");
  EXPECT_EQ(HDB_NAME_MGR::get_instance_name(a->get_id()), a);
  EXPECT_TRUE(HDB_NAME_MGR::get_iname_id(a) == a->get_id() && HDB_NAME_MGR::get_iname_id(nullptr) == 0);
  const int old_id = a->get_id();
  kavu_platform::hdb_reset();
  EXPECT_EQ(HDB_NAME_MGR::get_instance_name(old_id), nullptr);
  EXPECT_GT(normal(nullptr, "top")->get_id(), old_id);
}

TEST(HdbNames, NameTextGrowsPastManyBlocks) {
  // 6 MB of distinct text takes about a hundred text blocks; each name keeps its text.
  HDB_INSTANCE_NAME* top = normal(nullptr, "top");
  std::string text(3000, 'n');
  std::vector<HDB_INSTANCE_NAME*> names;
  for (int i = 0; i < 2000; ++i) names.push_back(normal(top, (text + std::to_string(i)).c_str()));
  for (int i : {0, 1000, 1999}) EXPECT_EQ(names[i]->get_short_hpath(2), text + std::to_string(i));
}

// Children made after a reservation, in bulk and past several growths of the
// child index, are found by text and kind, keep their order, ids, marks and
// paths; a name that cannot keep its length in a NUL is refused.
TEST(HdbNames, ReservedAndBulkChildrenAreFoundByTextAndKind) {
  HDB_INSTANCE_NAME* top = normal(nullptr, "top");
  HDB_INSTANCE_NAME::reserve_children(top, 3000);
  std::vector<HDB_INSTANCE_NAME*> made;
  for (int i = 0; i < 20000; ++i) {
    const std::string text = (i % 3 ? "n" : "") + std::to_string(i);
    made.push_back(HDB_INSTANCE_NAME::create_child(top, text.c_str(), {}, 0, i % 5 == 0));
  }
  ASSERT_EQ(top->get_children(), made);
  for (int i : {0, 1, 2, 5, 2999, 3000, 3001, 19999}) {
    const std::string text = (i % 3 ? "n" : "") + std::to_string(i);
    const bool synthesized = i % 5 == 0;
    HDB_INSTANCE_NAME* n = made[size_t(i)];
    EXPECT_EQ(top->find_in_children(text.c_str(), synthesized ? 2 : 1), n) << text;
    EXPECT_EQ(top->find_in_children(text.c_str(), synthesized ? 1 : 2), nullptr) << text;
    EXPECT_EQ(n->is_synthesized(), synthesized) << text;
    EXPECT_EQ(n->get_unit_name_str(), text);
    EXPECT_EQ(n->get_short_hpath(1), text);
    EXPECT_EQ(n->get_short_hpath(0), std::string("top") + (synthesized ? "~" : "|") + text);
    EXPECT_EQ(HDB_NAME_MGR::get_instance_name(n->get_id()), n);
    EXPECT_EQ(HDB_INSTANCE_NAME::create_child(top, text.c_str(), {}, 0, synthesized), n) << text;
  }
  EXPECT_EQ(top->find_in_children("n20000", 0), nullptr);
  HDB_INSTANCE_NAME::reserve_children(top, 0);
  EXPECT_KAVU_INTERNAL_ERROR(HDB_INSTANCE_NAME::reserve_children(nullptr, 4), "parent");
}

TEST(HdbNames, SynthesizedNamesReuseOrNumberAsAsked) {
  HDB_INSTANCE_NAME* base = normal(normal(nullptr, "top"), "u");
  bool reused = true;
  HDB_INSTANCE_NAME* lut = HDB_INSTANCE_NAME::create_synthesized_name(base, "lut", false, true, &reused);
  EXPECT_TRUE(!reused && lut->is_synthesized());
  EXPECT_EQ(HDB_INSTANCE_NAME::create_synthesized_name(base, "lut", false, true, &reused), lut);
  EXPECT_TRUE(reused);
  // Unique: always new, "ext" when free, else the smallest free "ext~N"; a
  // normal child of the same text does not take the synthesized name.
  HDB_INSTANCE_NAME* u1 = HDB_INSTANCE_NAME::create_synthesized_name(base, "lut", true, true, &reused);
  EXPECT_TRUE(!reused && u1->get_short_hpath(0) == "top|u~lut~1");
  HDB_INSTANCE_NAME::create_child(base, "lut~2", {}, 0, true);  // taken by someone else
  normal(base, "reg0");
  std::string parts;
  for (const char* ext : {"lut", "clk", "reg0"})
    parts += std::string(HDB_INSTANCE_NAME::create_synthesized_name(base, ext, true)->get_partial_name()) + " ";
  EXPECT_EQ(parts, "lut~3 clk reg0 ");
  HDB_INSTANCE_NAME* plain = HDB_INSTANCE_NAME::create_synthesized_name(base, "p", false, false);
  EXPECT_TRUE(!plain->is_synthesized() && plain->get_short_hpath(0) == "top|u|p");  // a normal child
  EXPECT_KAVU_INTERNAL_ERROR(HDB_INSTANCE_NAME::create_synthesized_name(nullptr, "x", true), "base");
  EXPECT_KAVU_INTERNAL_ERROR(HDB_INSTANCE_NAME::create_synthesized_name(base, "", true), "ext");

  // Numbered names are fresh names for the base; a user's synthesized
  // child "2" is skipped, not reused.
  HDB_INSTANCE_NAME* a = normal(normal(nullptr, "top"), "a");
  std::set<HDB_INSTANCE_NAME*> seen{HDB_INSTANCE_NAME::create_child(a, "2", {}, 0, true)};
  std::set<std::string> numbered;
  for (int i = 0; i < 5; ++i) {
    HDB_INSTANCE_NAME* n = HDB_INSTANCE_NAME::create_numbered_synthesized_name(a);
    EXPECT_TRUE(n->is_synthesized() && seen.insert(n).second);
    numbered.insert(n->get_short_hpath());
  }
  EXPECT_EQ(numbered, (std::set<std::string>{"top|a~1", "top|a~3", "top|a~4", "top|a~5", "top|a~6"}));
  EXPECT_KAVU_INTERNAL_ERROR(HDB_INSTANCE_NAME::create_numbered_synthesized_name(nullptr), "base");
}

// Each way of making names, past several growths of the child index: every
// name made is found again by its text and kind, and asking for it again
// gives the same name, not a new one.
TEST(HdbNames, NamesOfEveryMakerAreFoundAgainPastGrowth) {
  struct MAKER {
    const char* what;
    HDB_INSTANCE_NAME* (*make)(HDB_INSTANCE_NAME* parent, int i);
    std::string (*text)(int i);  // the partial name the i-th name gets
    bool synthesized;
  };
  const MAKER makers[] = {
      {"normal", [](HDB_INSTANCE_NAME* p, int i) { return normal(p, ("n" + std::to_string(i)).c_str()); },
       [](int i) { return "n" + std::to_string(i); }, false},
      {"unique", [](HDB_INSTANCE_NAME* p, int) { return HDB_INSTANCE_NAME::create_synthesized_name(p, "cut", true); },
       [](int i) { return i ? "cut~" + std::to_string(i) : std::string("cut"); }, true},
      {"numbered", [](HDB_INSTANCE_NAME* p, int) { return HDB_INSTANCE_NAME::create_numbered_synthesized_name(p); },
       [](int i) { return std::to_string(i + 1); }, true},
      {"given", [](HDB_INSTANCE_NAME* p, int i) {
         return HDB_INSTANCE_NAME::create_synthesized_name(p, ("g" + std::to_string(i)).c_str(), false);
       },
       [](int i) { return "g" + std::to_string(i); }, true},
  };
  for (const MAKER& m : makers) {
    HDB_INSTANCE_NAME* top = normal(normal(nullptr, "top"), m.what);
    std::vector<HDB_INSTANCE_NAME*> made;
    for (int i = 0; i < 3000; ++i) made.push_back(m.make(top, i));
    for (int i = 0; i < 3000; ++i) {
      const std::string text = m.text(i);
      ASSERT_EQ(made[size_t(i)]->get_unit_name_str(), text) << m.what;
      ASSERT_EQ(top->find_in_children(text.c_str(), m.synthesized ? 2 : 1), made[size_t(i)]) << m.what << " " << text;
      bool reused = false;
      ASSERT_EQ(HDB_INSTANCE_NAME::create_synthesized_name(top, text.c_str(), false, m.synthesized, &reused),
                made[size_t(i)]) << m.what << " " << text;
      ASSERT_TRUE(reused);
      ASSERT_EQ(HDB_INSTANCE_NAME::create_child(top, text.c_str(), {}, 0, m.synthesized), made[size_t(i)]);
    }
    EXPECT_EQ(top->get_children(), made) << m.what;
  }
}

TEST(HdbNames, FlagsGroupElementsAndRepresentatives) {
  HDB_INSTANCE_NAME_FLAG f(0x2);
  f.set_combinatorial(true);
  EXPECT_TRUE(f.test_flag(HDB_INSTANCE_NAME_FLAG::TAKEN_BY_COMPONENT));
  EXPECT_FALSE(f.test_flag(HDB_INSTANCE_NAME_FLAG::USER_ENTERED) || f.test_flag(0x1 | 0x2));  // every bit of the type
  HDB_NAMESPACE* ns = hdb_default_namespace();
  HDB_INSTANCE_NAME* top = normal(nullptr, "top");
  HDB_INSTANCE_NAME* n = HDB_INSTANCE_NAME::create_child(top, "comp_rtl_0", f, 0, false, ns->get_source_components());
  EXPECT_TRUE(n->get_flags().test_flag(HDB_INSTANCE_NAME_FLAG::COMBINATORIAL));
  EXPECT_TRUE(n->get_source_component() && n->get_source_component()->get_primitive_type() == 88);

  HDB_INSTANCE_NAME* u1 = normal(top, "u1");
  HDB_INSTANCE_NAME* q3 = ns->create_group_instance_name(u1, "q", 3);
  ASSERT_NE(q3->get_group(), nullptr);
  EXPECT_EQ(q3->get_short_hpath() + " in " + q3->get_group()->get_short_hpath(), "top|u1|q[3] in top|u1|q");
  EXPECT_EQ(q3->get_index_in_group(), 3);
  EXPECT_EQ(ns->create_group_instance_name(u1, "q", 3), q3);
  EXPECT_EQ(ns->create_group_instance_name(u1, "q", 4)->get_group(), q3->get_group());
  // The element by its group, with flags added to those it has.
  HDB_INSTANCE_NAME* q5 = q3->get_group()->create_group_element_name(5, HDB_INSTANCE_NAME_FLAG(0x4040));
  EXPECT_EQ(q5->get_short_hpath() + " " + std::to_string(q5->get_index_in_group()), "top|u1|q[5] 5");
  EXPECT_EQ(q5->get_group(), q3->get_group());
  EXPECT_EQ(q3->get_group()->create_group_element_name(3, HDB_INSTANCE_NAME_FLAG(0x40)), q3);
  EXPECT_EQ((std::vector<unsigned>{q5->get_flags().get_value(), q3->get_flags().get_value()}),
            (std::vector<unsigned>{0x4040u, 0x40u}));
  EXPECT_KAVU_INTERNAL_ERROR(ns->create_group_instance_name(u1, "q", -1), "index");
  HDB_NAMESPACE other("elsewhere");
  EXPECT_KAVU_INTERNAL_ERROR(other.create_group_instance_name(u1, "q", 1), "get_namespace");
  u1->set_representative_name(q3);
  EXPECT_EQ(u1->get_representative_name(), q3);
  EXPECT_KAVU_INTERNAL_ERROR(u1->set_representative_name(u1), "rep != this");
}


TEST(HdbOptions, LookupsReadTheLastValueOfTheirKindAndClimbWhenAsked) {
  HDB_INSTANCE_NAME* box = normal(normal(nullptr, "top"), "box");
  HDB_INSTANCE_NAME* leaf = normal(box, "leaf");
  hdb_set_option(box, ACF_FORMAL_VERIFICATION_MODE, "0");
  hdb_set_option(box, ACF_FORMAL_VERIFICATION_MODE, "BLACK_BOX");  // the last one counts
  auto* opt = HDB_DERIVED_OPTION<6, 0>::get_single_option(box, 1221, true);
  ASSERT_TRUE(opt && opt->get_value() == 427 && opt->cast_source_to_iname() == box);
  EXPECT_EQ((HDB_DERIVED_OPTION<6, 0>::get_single_option(leaf, 1221, true)), nullptr);  // only the name itself
  EXPECT_EQ((HDB_DERIVED_OPTION<6, 0>::get_single_option(leaf, 1221, false)), opt);     // or its ancestors

  // Text options accumulate; global ones sit on the namespace.
  HDB_NAMESPACE* ns = hdb_default_namespace();
  hdb_set_option(ns, ACF_VERILOG_MACRO, "WIDTH=8");
  hdb_set_option(ns, ACF_VERILOG_MACRO, "DEBUG=");
  auto all = HDB_DERIVED_OPTION<2, 0>::get_all_options(ns, 366, true);
  ASSERT_TRUE(all.size() == 2u && std::string(all[0]->get_value()) == "WIDTH=8");
  EXPECT_STREQ((HDB_DERIVED_OPTION<0, 0>::get_single_option(ns, 366)->get_value()), "DEBUG=");
  EXPECT_TRUE((HDB_DERIVED_OPTION<2, 0>::get_all_options(leaf, 366, false).size() == 2u &&  // reaches globals
               HDB_DERIVED_OPTION<2, 0>::get_all_options(leaf, 366, true).empty()));

  // Variables outside the vocabulary are read as the caller asks.
  hdb_set_option(leaf, 528, "On");
  hdb_set_option(leaf, 565, "12");
  EXPECT_TRUE((HDB_DERIVED_OPTION<1, 0>::get_single_option(leaf, 528)->get_value()));
  EXPECT_EQ((HDB_DERIVED_OPTION<4, 0>::get_single_option(leaf, 565)->get_value()), 12);
  // Reading a known variable as another kind would misread it silently.
  EXPECT_KAVU_INTERNAL_ERROR((HDB_DERIVED_OPTION<1, 0>::get_single_option(box, 1221)), "kind");
  EXPECT_KAVU_INTERNAL_ERROR((HDB_DERIVED_OPTION<6, 0>::get_all_options(ns, 366)), "kind");

  kavu_platform::hdb_reset();  // a reset drops names and options
  EXPECT_TRUE((!hdb_default_namespace()->get_root() &&
               HDB_DERIVED_OPTION<2, 0>::get_all_options(hdb_default_namespace(), 366).empty()));
}

TEST(HdbOptions, AssignmentLinesLoadAllOrNothing) {
  HDB_NAMESPACE* ns = hdb_default_namespace();
  HDB_INSTANCE_NAME* top = normal(nullptr, "top");
  std::string error;
  ASSERT_TRUE(hdb_load_assignments(ns,
                                   "# directives\n"
                                   "set_global_assignment -name VERILOG_MACRO \"A=1\"\n"
                                   "  set_global_assignment -name verilog_macro {B=two words}\n"
                                   "\n"
                                   "set_instance_assignment -name FORMAL_VERIFICATION_MODE BLACK_BOX -to top|u1|core\n"
                                   "set_instance_assignment -to u2 -name 1221 427\n",
                                   &error))
      << error;
  auto macros = HDB_DERIVED_OPTION<2, 0>::get_all_options(ns, 366);
  ASSERT_EQ(macros.size(), 2u);
  EXPECT_STREQ(macros[1]->get_value(), "B=two words");
  HDB_INSTANCE_NAME* core = ns->get_rooted_at("top|u1|core");
  ASSERT_TRUE(core && core->get_flags().test_flag(HDB_INSTANCE_NAME_FLAG::USER_ENTERED));
  EXPECT_EQ((HDB_DERIVED_OPTION<6, 0>::get_single_option(core, 1221)->get_value()), 427);
  HDB_INSTANCE_NAME* u2 = top->find_in_children("u2");  // a path without the top name
  ASSERT_TRUE((u2 && HDB_DERIVED_OPTION<6, 0>::get_single_option(u2, 1221)->get_value() == 427));

  const std::pair<const char*, const char*> bad[] = {
      {"set_global_assignment -name NO_SUCH_VAR 1", "unknown variable"},
      {"set_instance_assignment -name VERILOG_MACRO X=1", "no -to"},
      {"set_global_assignment -name VERILOG_MACRO X=1 -to top", "-to on a global"},
      {"set_global_assignment -name VERILOG_MACRO", "no value"},
      {"set_global_assignment -name VERILOG_MACRO a b", "more than one value"},
      {"set_global_assignment -name VERILOG_MACRO \"open", "unterminated"},
      {"set_global_assignment -section_id x -name VERILOG_MACRO a", "unknown option"},
      {"set_instance_assignment -name VERILOG_MACRO a -to top||x", "empty level"},
      {"puts hello", "unknown command"}};
  for (auto [line, why] : bad) {
    std::string text = "set_global_assignment -name VERILOG_MACRO \"LOST=1\"\n" + std::string(line);
    EXPECT_FALSE(hdb_load_assignments(ns, text, &error)) << line;
    EXPECT_NE(error.find("line 2"), std::string::npos) << error;
    EXPECT_NE(error.find(why), std::string::npos) << error;
  }
  EXPECT_EQ((HDB_DERIVED_OPTION<2, 0>::get_all_options(ns, 366).size()), 2u);  // nothing applied
}

TEST(HdbVocabulary, NamesKindsAndValuesTranslateBothWays) {
  EXPECT_EQ((std::vector<int>{acf_string_to_variable_type("verilog_macro"), acf_string_to_variable_type("NOPE"),
                              acf_string_to_enum_type_enum("black_box"), acf_variable_kind(1221)}),
            (std::vector<int>{366, -1, 427, ACF_KIND_ENUM}));
  EXPECT_STREQ(acf_variable_type_to_string(1221), "FORMAL_VERIFICATION_MODE");
  EXPECT_STREQ(acf_enum_type_to_string(427), "BLACK_BOX");
  EXPECT_EQ(acf_enum_type_to_string(1), nullptr);
}

}  // namespace
