// Tests of the inference messages: parameter sub-messages in table order,
// the missing-MIF error with the ROM's path and location, and the GND test
// of a terminal vector.
#include <string>
#include <vector>

#include "cmp/cmp.h"
#include "hdb/hdb.h"
#include "kavu_utility_params.h"
#include "msg/msg.h"
#include "platform_testkit.h"

using namespace kavu_platform;

TEST(KavuUtilityParams, ParameterSubMessagesInTableOrder) {
  CDB_SGATE_COMPONENT comp("altsyncram", true);
  comp.set_parameter("WIDTH", "8");
  comp.set_parameter("INIT", nullptr);  // a name without a value gives no line
  comp.set_parameter("DEPTH", "256");
  for (bool suppressed : {false, true}) {
    CFG_SCOPE cfg{{"opt_dont_display_inference_parameter_messages", suppressed ? "on" : "off"}};
    MSG_I msg;
    opt_add_parameter_messages(&msg, &comp);
    std::vector<std::string> texts;
    for (auto it = msg.begin_submsg(); it != msg.end_submsg(); ++it) texts.push_back((*it)->get_text());
    const std::vector<std::string> expected{"Parameter WIDTH set to 8", "Parameter DEPTH set to 256"};
    EXPECT_EQ(texts, suppressed ? std::vector<std::string>{} : expected);
  }
}

TEST(KavuUtilityParams, MissingMifErrorNamesTheRom) {
  CDB_SGATE_NETLIST nl;
  CMP_FACADE facade;
  auto* a = make_input_pin(&nl, "a");  // names the root "top"
  HDB_NAMESPACE* ns = facade.get_namespace();
  HDB_INSTANCE_NAME* root = ns->get_rooted_at();
  CDB_SGATE_HIERARCHY h;
  h.set_instance_name(HDB_INSTANCE_NAME::create_normal_name(ns, "sub", nullptr, nullptr, root));
  // An unnamed ROM without a name string used to be read through a null text.
  CDB_SGATE_NODE* rom = make_and(&nl, a, a);
  opt_issue_missing_mif_error(rom, "rom.mif", &facade, &h);
  auto entry = msg_log_find(286034);
  ASSERT_TRUE(entry.has_value());
  EXPECT_NE(entry->text.find("File rom.mif for ROM instance sub|"), std::string::npos) << entry->text;
  EXPECT_TRUE(entry->locations.empty());

  msg_log_clear();
  MSG_LOCATION_SCHEMA where("design.v:12");
  rom->set_instance_name(HDB_INSTANCE_NAME::create_normal_name(ns, "rom_inst", nullptr, &where, root));
  opt_issue_missing_mif_error(rom, "table.hex", &facade, &h);
  entry = msg_log_find(286034);
  ASSERT_TRUE(entry.has_value());
  EXPECT_NE(entry->text.find("File table.hex for ROM instance rom_inst"), std::string::npos) << entry->text;
  ASSERT_EQ(entry->locations.size(), 1u);
  EXPECT_NE(entry->locations[0].find("design.v:12"), std::string::npos);

  std::vector<CDB_SGATE_ITERM*> terms;
  EXPECT_TRUE(rtl_iterm_vector_is_gnd(&terms));
  CDB_SGATE_NODE* g = make_and(&nl, nullptr, nullptr);
  g->get_input_term(0)->set_gnd();
  terms.push_back(g->get_input_term(0));
  EXPECT_TRUE(rtl_iterm_vector_is_gnd(&terms));
  terms.push_back(g->get_input_term(1));  // VCC
  EXPECT_FALSE(rtl_iterm_vector_is_gnd(&terms));
}
