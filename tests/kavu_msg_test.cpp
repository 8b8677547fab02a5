// Tests of the message catalogue, the message factories and the debug traces.
//
// The expected IDs, kinds and texts below are written out independently of
// the library's own tables, so a changed byte in a text, a swapped argument
// or a wrong kind shows up here.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kavu_msg.h"
#include "msg/msg.h"
#include "testkit/platform_testkit.h"

namespace {

using kavu_platform::msg_log;
using kavu_platform::msg_log_count;
using kavu_platform::msg_log_find;

struct EXPECTED_ID {
  int m_id;
  MSG_POST_TYPE m_kind;
};

constexpr MSG_POST_TYPE E = MSG_POST_TYPE_ERROR;
constexpr MSG_POST_TYPE W = MSG_POST_TYPE_WARNING;
constexpr MSG_POST_TYPE I = MSG_POST_TYPE_INFO;

const EXPECTED_ID k_registered[] = {
    {286000, W}, {286001, E}, {286002, W}, {286003, W}, {286004, W}, {286005, W}, {286006, W},
    {286007, W}, {286008, W}, {286009, W}, {286010, W}, {286011, W}, {286012, W}, {286013, W},
    {286014, W}, {286015, W}, {286016, W}, {286017, W}, {286018, W}, {286019, E}, {286020, E},
    {286021, W}, {286022, W}, {286023, E}, {286024, W}, {286025, W}, {286026, W}, {286027, I},
    {286029, W}, {286030, I}, {286031, I}, {286033, I}, {286034, E}};

// A message of the given kind, carrying the given ID and a probe text.
std::unique_ptr<MSG_POST> make_probe(MSG_POST_TYPE kind, int id) {
  std::unique_ptr<MSG_POST> message;
  if (kind == E) {
    message.reset(new MSG_E());
    message->fill_args("probe/EKAVU_PROBE");
  } else if (kind == W) {
    message.reset(new MSG_W());
    message->fill_args("probe/WKAVU_PROBE");
  } else {
    message.reset(new MSG_I());
    message->fill_args("probe/IKAVU_PROBE");
  }
  message->set_id(id);
  return message;
}

TEST(KavuMsgCatalogue, EveryIdIsRegisteredWithItsKindAtLoad) {
  for (const EXPECTED_ID& expected : k_registered) {
    make_probe(expected.m_kind, expected.m_id)->post();
    EXPECT_EQ(msg_log_count(expected.m_id), 1) << expected.m_id;
    // The same ID under another kind is refused by the message library,
    // which proves the kind it was registered with.
    MSG_POST_TYPE other = expected.m_kind == W ? I : W;
    std::unique_ptr<MSG_POST> wrong = make_probe(other, expected.m_id);
    EXPECT_KAVU_INTERNAL_ERROR(wrong->post(), "");
  }
  // The two gaps of the block are not registered.
  for (int gap : {286028, 286032}) {
    std::unique_ptr<MSG_POST> probe = make_probe(W, gap);
    EXPECT_KAVU_INTERNAL_ERROR(probe->post(), "");
  }
  ASSERT_EQ(sizeof(k_registered) / sizeof(k_registered[0]), size_t(KAVU_MSG_ID_COUNT));
}

struct EXPECTED_TEXT {
  int m_id;
  const char* m_string;
};

const EXPECTED_TEXT k_texts[] = {
    {286001, "WYSIWYG primitive %1!s! has missing connection on input port %2!s!/EKAVU_KAVU_WYSIWYG_MISSING_INPUT_PORT"},
    {286002, "Ignored following assignments for SYNTH_CRITICAL_CLOCK/WKAVU_IGNORED_CRITICAL_CLOCK_HDR"},
    {286003, "Ignored following assignments for SYNTH_CRITICAL_CLOCK for hierarchy \"%1!s!\"/WKAVU_IGNORED_CRITICAL_CLOCK_HDR_FOR_HIERARCHY"},
    {286005, "Ignored assignment for SYNTH_CRITICAL_CLOCK from clock \"%1!s!\" to clock \"%2!s!\" -- no registers were found for clock \"%3!s!\"/WKAVU_IGNORED_CRITICAL_CLOCK_SUB"},
    {286006, "Ignored assignment for SYNTH_CRITICAL_CLOCK for clock \"%1!s!\" -- no registers were found for this clock/WKAVU_IGNORED_CRITICAL_CLOCK2_SUB"},
    {286007, "Ignored following assignments for SYNTH_CRITICAL_INPUT_TO_CLOCK/WKAVU_IGNORED_CRITICAL_INPUT_TO_CLOCK_HDR"},
    {286008, "Ignored following assignments for SYNTH_CRITICAL_INPUT_TO_CLOCK for hierarchy \"%1!s!\"/WKAVU_IGNORED_CRITICAL_INPUT_TO_CLOCK_HDR_FOR_HIERARCHY"},
    {286010, "Ignored assignment for SYNTH_CRITICAL_INPUT_TO_CLOCK for clock \"%1!s!\" -- no registers were found\"/WKAVU_IGNORED_CRITICAL_INPUT_TO_CLOCK_SUB"},
    {286011, "Ignored following assignments for SYNTH_CRITICAL_CLOCK_TO_OUTPUT/WKAVU_IGNORED_CRITICAL_CLOCK_TO_OUTPUT_HDR"},
    {286012, "Ignored following assignments for SYNTH_CRITICAL_CLOCK_TO_OUTPUT for hierarchy \"%1!s!\"/WKAVU_IGNORED_CRITICAL_CLOCK_TO_OUTPUT_HDR_FOR_HIERARCHY"},
    {286014, "Ignored assignment for SYNTH_CRITICAL_CLOCK_TO_OUTPUT for clock \"%1!s!\" -- no registers were found\"/WKAVU_IGNORED_CRITICAL_CLOCK_TO_OUTPUT_SUB"},
    {286015, "Ignored following assignments for SYNTH_CRITICAL_ENABLE/WKAVU_IGNORED_CRITICAL_ENABLE_HDR"},
    {286016, "Ignored assignment for SYNTH_CRITICAL_ENABLE for register \"%1!s!\" -- register not found\"/WKAVU_IGNORED_CRITICAL_ENABLE_SUB"},
    {286017, "Ignored following assignments for SYNTH_CRITICAL_PIN/WKAVU_IGNORED_CRITICAL_PIN_HDR"},
    {286018, "Ignored assignment for SYNTH_CRITICAL_PIN for pin \"%1!s!\" -- pin not found\"/WKAVU_IGNORED_CRITICAL_PIN_SUB"},
    {286029, "Timing-Driven Synthesis is skipped because the Synthesis Effort is set to Fast/WKAVU_TIMING_DRIVEN_SYNTHESIS_SKIPPED_FOR_FAST_SYNTHESIS"},
    {286030, "Timing-Driven Synthesis is running/IKAVU_TIMING_DRIVEN_SYNTHESIS_RUNNING"},
    {286031, "Timing-Driven Synthesis is running on partition \"%1!s!\"/IKAVU_TIMING_DRIVEN_SYNTHESIS_RUNNING_ON_PARTITION"},
    {286033, "Parameter %1!s! set to %2!s!/IKAVU_INFERRED_TOLVAFUNCTION_PARAMETER"},
    {286034, "Cannot find Memory Initialization File or Hexadecimal (Norvek-Format) File %1!s! for ROM instance %2!s!/EKAVU_MIF_FILE_NOT_FOUND_FOR_ROM"},
};

TEST(KavuMsgCatalogue, MessageStringsAreByteExact) {
  for (const EXPECTED_TEXT& expected : k_texts) {
    const char* actual = kavu_msg_string(expected.m_id);
    ASSERT_NE(actual, nullptr) << expected.m_id;
    EXPECT_STREQ(actual, expected.m_string) << expected.m_id;
  }
  // IDs registered without a text of this library, the gaps, and IDs
  // outside the block have no string.
  for (int id : {286000, 286004, 286009, 286013, 286019, 286020, 286021, 286022, 286023, 286024,
                 286025, 286026, 286027, 286028, 286032, 285999, 286035}) {
    EXPECT_EQ(kavu_msg_string(id), nullptr) << id;
  }
}

// The errors without factory are built by their users from the catalogue
// string; the message library must accept the string and expand it.
TEST(KavuMsgCatalogue, ErrorsWithoutFactoryPostFromTheirString) {
  MSG_E missing_port;
  missing_port.fill_args(kavu_msg_string(286001), "u_add|cell", "DATAC");
  missing_port.set_id(286001);
  missing_port.post();
  auto entry = msg_log_find(286001);
  ASSERT_TRUE(entry.has_value());
  EXPECT_EQ(entry->text, "WYSIWYG primitive u_add|cell has missing connection on input port DATAC");
  EXPECT_EQ(entry->name, "KAVU_KAVU_WYSIWYG_MISSING_INPUT_PORT");
}

// One factory and the ID and kind it must produce; it is called with the
// arguments "a", "b", "c" (as many as it takes).
struct FACTORY_CASE {
  const char* m_factory;
  std::function<MSG_POST*()> m_make;
  int m_id;
  MSG_POST_TYPE m_kind;
};

std::vector<FACTORY_CASE> factory_cases() {
  return {
      {"timing_driven_synthesis_running", [] { return kavu_msg_timing_driven_synthesis_running(); }, 286030, I},
      {"timing_driven_synthesis_running_on_partition",
       [] { return kavu_msg_timing_driven_synthesis_running_on_partition("a"); }, 286031, I},
      {"inferred_tolvafunction_parameter",
       [] { return kavu_msg_inferred_tolvafunction_parameter("a", "b"); }, 286033, I},
      {"timing_driven_synthesis_skipped_for_fast_synthesis",
       [] { return kavu_msg_timing_driven_synthesis_skipped_for_fast_synthesis(); }, 286029, W},
      {"ignored_critical_clock_hdr", [] { return kavu_msg_ignored_critical_clock_hdr(); }, 286002, W},
      {"ignored_critical_clock_hdr_for_hierarchy",
       [] { return kavu_msg_ignored_critical_clock_hdr_for_hierarchy("a"); }, 286003, W},
      {"ignored_critical_clock_sub", [] { return kavu_msg_ignored_critical_clock_sub("a", "b", "c"); }, 286005, W},
      {"ignored_critical_clock2_sub", [] { return kavu_msg_ignored_critical_clock2_sub("a"); }, 286006, W},
      {"ignored_critical_input_to_clock_hdr",
       [] { return kavu_msg_ignored_critical_input_to_clock_hdr(); }, 286007, W},
      {"ignored_critical_input_to_clock_hdr_for_hierarchy",
       [] { return kavu_msg_ignored_critical_input_to_clock_hdr_for_hierarchy("a"); }, 286008, W},
      {"ignored_critical_input_to_clock_sub",
       [] { return kavu_msg_ignored_critical_input_to_clock_sub("a"); }, 286010, W},
      {"ignored_critical_clock_to_output_hdr",
       [] { return kavu_msg_ignored_critical_clock_to_output_hdr(); }, 286011, W},
      {"ignored_critical_clock_to_output_hdr_for_hierarchy",
       [] { return kavu_msg_ignored_critical_clock_to_output_hdr_for_hierarchy("a"); }, 286012, W},
      {"ignored_critical_clock_to_output_sub",
       [] { return kavu_msg_ignored_critical_clock_to_output_sub("a"); }, 286014, W},
      {"ignored_critical_enable_hdr", [] { return kavu_msg_ignored_critical_enable_hdr(); }, 286015, W},
      {"ignored_critical_enable_sub", [] { return kavu_msg_ignored_critical_enable_sub("a"); }, 286016, W},
      {"ignored_critical_pin_hdr", [] { return kavu_msg_ignored_critical_pin_hdr(); }, 286017, W},
      {"ignored_critical_pin_sub", [] { return kavu_msg_ignored_critical_pin_sub("a"); }, 286018, W},
  };
}

// The expected expansion of an ID's string for the arguments "a", "b", "c",
// and its message name, both taken from the table above.
std::pair<std::string, std::string> expected_text_and_name(int id) {
  for (const EXPECTED_TEXT& expected : k_texts) {
    if (expected.m_id != id) continue;
    std::string text = expected.m_string;
    const size_t slash = text.rfind('/');
    std::string name = text.substr(slash + 2);
    text.resize(slash);
    const char* args[] = {"a", "b", "c"};
    for (int n = 1; n <= 3; ++n) {
      const std::string marker = "%" + std::to_string(n) + "!s!";
      for (size_t at; (at = text.find(marker)) != std::string::npos;) text.replace(at, marker.size(), args[n - 1]);
    }
    return {text, name};
  }
  return {"", ""};
}

TEST(KavuMsgFactories, BuildMessagesWithTextArgumentsAndId) {
  for (const FACTORY_CASE& c : factory_cases()) {
    std::unique_ptr<MSG_POST> message(c.m_make());
    ASSERT_NE(message, nullptr) << c.m_factory;
    EXPECT_FALSE(message->is_null()) << c.m_factory;
    EXPECT_EQ(message->get_id(), c.m_id) << c.m_factory;
    EXPECT_EQ(message->get_kind(), c.m_kind) << c.m_factory;
    message->post();
    auto entry = msg_log_find(c.m_id);
    ASSERT_TRUE(entry.has_value()) << c.m_factory;
    const auto [text, name] = expected_text_and_name(c.m_id);
    EXPECT_EQ(entry->text, text) << c.m_factory;
    EXPECT_EQ(entry->name, name) << c.m_factory;
    EXPECT_EQ(int(entry->kind), int(c.m_kind)) << c.m_factory;
  }
}

TEST(KavuMsgFactories, SuppressedIdGivesNullMessageThatPostsNothing) {
  {
    // Suppression through configuration reaches the factories too.
    kavu_platform::CFG_SCOPE scope{{"msg_suppress", "286017,286031"}};
    std::unique_ptr<MSG_W> header(kavu_msg_ignored_critical_pin_hdr());
    EXPECT_TRUE(header->is_null());
    std::unique_ptr<MSG_I> info(kavu_msg_timing_driven_synthesis_running_on_partition("p"));
    EXPECT_TRUE(info->is_null());
  }
  for (const FACTORY_CASE& c : factory_cases()) {
    MSG_INDEX::get_default_index()->suppress(c.m_id, true);
    std::unique_ptr<MSG_POST> message(c.m_make());
    ASSERT_NE(message, nullptr) << c.m_factory;
    EXPECT_TRUE(message->is_null()) << c.m_factory;
    EXPECT_EQ(message->get_kind(), c.m_kind) << c.m_factory;
    EXPECT_EQ(message->get_id(), 0) << c.m_factory;   // text, arguments and ID stay unset
    EXPECT_EQ(message->get_text(), "") << c.m_factory;
    message->post();
    EXPECT_EQ(msg_log_count(c.m_id), 0) << c.m_factory;
    MSG_INDEX::get_default_index()->suppress(c.m_id, false);
  }
}

// The reporting pattern of the critical-signal passes: a header, one
// sub-message per ignored item, the header posted only when it holds one.
TEST(KavuMsgGrouping, HeaderCarriesItsItemsAndIsEmptyWithout) {
  std::unique_ptr<MSG_W> empty(kavu_msg_ignored_critical_enable_hdr());
  EXPECT_TRUE(empty->begin_submsg() == empty->end_submsg());

  std::unique_ptr<MSG_W> header(kavu_msg_ignored_critical_clock_hdr_for_hierarchy("top|core"));
  header->add_msg(kavu_msg_ignored_critical_clock_sub("clk_a", "clk_b", "clk_c"));
  header->add_msg(kavu_msg_ignored_critical_clock2_sub("clk_c"));
  ASSERT_TRUE(header->begin_submsg() != header->end_submsg());
  header->post();

  auto entry = msg_log_find(286003);
  ASSERT_TRUE(entry.has_value());
  ASSERT_EQ(entry->subs.size(), 2u);
  EXPECT_EQ(entry->subs[0].id, 286005);
  EXPECT_EQ(entry->subs[0].text,
            "Ignored assignment for SYNTH_CRITICAL_CLOCK from clock \"clk_a\" to clock \"clk_b\" "
            "-- no registers were found for clock \"clk_c\"");
  EXPECT_EQ(entry->subs[1].id, 286006);
}

TEST(KavuMsgGrouping, SuppressedHeaderHidesItsItems) {
  MSG_INDEX::get_default_index()->suppress(286017, true);
  std::unique_ptr<MSG_W> header(kavu_msg_ignored_critical_pin_hdr());
  header->add_msg(kavu_msg_ignored_critical_pin_sub("data_in[3]"));
  header->post();
  EXPECT_EQ(msg_log_count(286017), 0);
  EXPECT_EQ(msg_log_count(286018), 0);
  EXPECT_TRUE(msg_log().empty());
}

TEST(KavuMsgDebug, TracesGoToTheKavuComponentAtTheirLevel) {
  kavu_platform::CFG_SCOPE scope{{"debug_msg_level", "2"}};
  kavu_platform::DEBUG_CAPTURE capture("KAVU");
  kavu_debug("Found %d iterms with timing info", 12);
  kavu_debug_at_level(3, "diagnostic %s", "only");
  kavu_debug_at_level(1, "summary %d", 7);
  EXPECT_TRUE(capture.contains("Found 12 iterms with timing info"));
  EXPECT_TRUE(capture.contains("summary 7"));
  // Level 3 is above the threshold of 2 and stays silent.
  EXPECT_FALSE(capture.contains("diagnostic only"));
  // Traces are not user messages.
  EXPECT_TRUE(msg_log().empty());
}

}  // namespace
