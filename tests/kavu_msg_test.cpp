// The message catalogue and factories. Expected IDs, kinds and texts are
// written out independently of the library's tables.
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

constexpr MSG_POST_TYPE E = MSG_POST_TYPE_ERROR;
constexpr MSG_POST_TYPE W = MSG_POST_TYPE_WARNING;
constexpr MSG_POST_TYPE I = MSG_POST_TYPE_INFO;

// Every registered ID with its kind, this library's message string (null:
// registered for other users, no text here) and its factory, called with the
// arguments "a", "b", "c" as many as it takes (null: built by its users).
struct CATALOGUE_ROW {
  int m_id;
  MSG_POST_TYPE m_kind;
  const char* m_string;
  MSG_POST* (*m_factory)();
};

const CATALOGUE_ROW k_catalogue[] = {
    {286000, W, nullptr, nullptr},
    {286001, E, "WYSIWYG primitive %1!s! has missing connection on input port %2!s!/EKAVU_KAVU_WYSIWYG_MISSING_INPUT_PORT", nullptr},
    {286002, W, "Ignored following assignments for SYNTH_CRITICAL_CLOCK/WKAVU_IGNORED_CRITICAL_CLOCK_HDR", [] { return static_cast<MSG_POST*>(kavu_msg_ignored_critical_clock_hdr()); }},
    {286003, W, "Ignored following assignments for SYNTH_CRITICAL_CLOCK for hierarchy \"%1!s!\"/WKAVU_IGNORED_CRITICAL_CLOCK_HDR_FOR_HIERARCHY", [] { return static_cast<MSG_POST*>(kavu_msg_ignored_critical_clock_hdr_for_hierarchy("a")); }},
    {286004, W, nullptr, nullptr},
    {286005, W, "Ignored assignment for SYNTH_CRITICAL_CLOCK from clock \"%1!s!\" to clock \"%2!s!\" -- no registers were found for clock \"%3!s!\"/WKAVU_IGNORED_CRITICAL_CLOCK_SUB", [] { return static_cast<MSG_POST*>(kavu_msg_ignored_critical_clock_sub("a", "b", "c")); }},
    {286006, W, "Ignored assignment for SYNTH_CRITICAL_CLOCK for clock \"%1!s!\" -- no registers were found for this clock/WKAVU_IGNORED_CRITICAL_CLOCK2_SUB", [] { return static_cast<MSG_POST*>(kavu_msg_ignored_critical_clock2_sub("a")); }},
    {286007, W, "Ignored following assignments for SYNTH_CRITICAL_INPUT_TO_CLOCK/WKAVU_IGNORED_CRITICAL_INPUT_TO_CLOCK_HDR", [] { return static_cast<MSG_POST*>(kavu_msg_ignored_critical_input_to_clock_hdr()); }},
    {286008, W, "Ignored following assignments for SYNTH_CRITICAL_INPUT_TO_CLOCK for hierarchy \"%1!s!\"/WKAVU_IGNORED_CRITICAL_INPUT_TO_CLOCK_HDR_FOR_HIERARCHY", [] { return static_cast<MSG_POST*>(kavu_msg_ignored_critical_input_to_clock_hdr_for_hierarchy("a")); }},
    {286009, W, nullptr, nullptr},
    {286010, W, "Ignored assignment for SYNTH_CRITICAL_INPUT_TO_CLOCK for clock \"%1!s!\" -- no registers were found/WKAVU_IGNORED_CRITICAL_INPUT_TO_CLOCK_SUB", [] { return static_cast<MSG_POST*>(kavu_msg_ignored_critical_input_to_clock_sub("a")); }},
    {286011, W, "Ignored following assignments for SYNTH_CRITICAL_CLOCK_TO_OUTPUT/WKAVU_IGNORED_CRITICAL_CLOCK_TO_OUTPUT_HDR", [] { return static_cast<MSG_POST*>(kavu_msg_ignored_critical_clock_to_output_hdr()); }},
    {286012, W, "Ignored following assignments for SYNTH_CRITICAL_CLOCK_TO_OUTPUT for hierarchy \"%1!s!\"/WKAVU_IGNORED_CRITICAL_CLOCK_TO_OUTPUT_HDR_FOR_HIERARCHY", [] { return static_cast<MSG_POST*>(kavu_msg_ignored_critical_clock_to_output_hdr_for_hierarchy("a")); }},
    {286013, W, nullptr, nullptr},
    {286014, W, "Ignored assignment for SYNTH_CRITICAL_CLOCK_TO_OUTPUT for clock \"%1!s!\" -- no registers were found/WKAVU_IGNORED_CRITICAL_CLOCK_TO_OUTPUT_SUB", [] { return static_cast<MSG_POST*>(kavu_msg_ignored_critical_clock_to_output_sub("a")); }},
    {286015, W, "Ignored following assignments for SYNTH_CRITICAL_ENABLE/WKAVU_IGNORED_CRITICAL_ENABLE_HDR", [] { return static_cast<MSG_POST*>(kavu_msg_ignored_critical_enable_hdr()); }},
    {286016, W, "Ignored assignment for SYNTH_CRITICAL_ENABLE for register \"%1!s!\" -- register not found/WKAVU_IGNORED_CRITICAL_ENABLE_SUB", [] { return static_cast<MSG_POST*>(kavu_msg_ignored_critical_enable_sub("a")); }},
    {286017, W, "Ignored following assignments for SYNTH_CRITICAL_PIN/WKAVU_IGNORED_CRITICAL_PIN_HDR", [] { return static_cast<MSG_POST*>(kavu_msg_ignored_critical_pin_hdr()); }},
    {286018, W, "Ignored assignment for SYNTH_CRITICAL_PIN for pin \"%1!s!\" -- pin not found/WKAVU_IGNORED_CRITICAL_PIN_SUB", [] { return static_cast<MSG_POST*>(kavu_msg_ignored_critical_pin_sub("a")); }},
    {286019, E, nullptr, nullptr}, {286020, E, nullptr, nullptr}, {286021, W, nullptr, nullptr}, {286022, W, nullptr, nullptr},
    {286023, E, nullptr, nullptr}, {286024, W, nullptr, nullptr}, {286025, W, nullptr, nullptr}, {286026, W, nullptr, nullptr}, {286027, I, nullptr, nullptr},
    {286029, W, "Timing-Driven Synthesis is skipped because the Synthesis Effort is set to Fast/WKAVU_TIMING_DRIVEN_SYNTHESIS_SKIPPED_FOR_FAST_SYNTHESIS", [] { return static_cast<MSG_POST*>(kavu_msg_timing_driven_synthesis_skipped_for_fast_synthesis()); }},
    {286030, I, "Timing-Driven Synthesis is running/IKAVU_TIMING_DRIVEN_SYNTHESIS_RUNNING", [] { return static_cast<MSG_POST*>(kavu_msg_timing_driven_synthesis_running()); }},
    {286031, I, "Timing-Driven Synthesis is running on partition \"%1!s!\"/IKAVU_TIMING_DRIVEN_SYNTHESIS_RUNNING_ON_PARTITION", [] { return static_cast<MSG_POST*>(kavu_msg_timing_driven_synthesis_running_on_partition("a")); }},
    {286033, I, "Parameter %1!s! set to %2!s!/IKAVU_INFERRED_TOLVAFUNCTION_PARAMETER", [] { return static_cast<MSG_POST*>(kavu_msg_inferred_tolvafunction_parameter("a", "b")); }},
    {286034, E, "Cannot find Memory Initialization File or Hexadecimal (Norvek-Format) File %1!s! for ROM instance %2!s!/EKAVU_MIF_FILE_NOT_FOUND_FOR_ROM", nullptr},
};

// A message of the given kind, carrying the given ID and a probe text.
std::unique_ptr<MSG_POST> make_probe(MSG_POST_TYPE kind, int id) {
  std::unique_ptr<MSG_POST> message(kind == E ? static_cast<MSG_POST*>(new MSG_E)
                                    : kind == W ? static_cast<MSG_POST*>(new MSG_W) : new MSG_I);
  message->fill_args((std::string("probe/") + "EIW"[kind] + "KAVU_PROBE").c_str());
  message->set_id(id);
  return message;
}

TEST(KavuMsgCatalogue, EveryIdIsRegisteredWithItsKindAndByteExactString) {
  ASSERT_EQ(std::size(k_catalogue), size_t(KAVU_MSG_ID_COUNT));
  for (const CATALOGUE_ROW& row : k_catalogue) {
    make_probe(row.m_kind, row.m_id)->post();
    EXPECT_EQ(msg_log_count(row.m_id), 1) << row.m_id;
    // The same ID under another kind is refused, which proves the kind it
    // was registered with.
    EXPECT_KAVU_INTERNAL_ERROR(make_probe(row.m_kind == W ? I : W, row.m_id)->post(), "");
    if (row.m_string) {
      EXPECT_STREQ(kavu_msg_string(row.m_id), row.m_string) << row.m_id;
    } else {
      EXPECT_EQ(kavu_msg_string(row.m_id), nullptr) << row.m_id;
    }
  }
  // The two gaps of the block are not registered; no ID outside has a string.
  for (int gap : {286028, 286032}) EXPECT_KAVU_INTERNAL_ERROR(make_probe(W, gap)->post(), "");
  for (int id : {286028, 286032, 285999, 286035}) EXPECT_EQ(kavu_msg_string(id), nullptr) << id;
}

// Each factory posts its ID and kind with the catalogue string expanded for
// "a", "b", "c"; while its ID is suppressed it hands out a null message of
// the same kind that posts nothing.
TEST(KavuMsgFactories, BuildMessagesWithTextArgumentsIdAndKindOrNullWhenSuppressed) {
  {  // suppression through configuration reaches the factories too
    kavu_platform::CFG_SCOPE scope{{"msg_suppress", "286017"}};
    EXPECT_TRUE(std::unique_ptr<MSG_W>(kavu_msg_ignored_critical_pin_hdr())->is_null());
  }
  for (const CATALOGUE_ROW& row : k_catalogue) {
    if (!row.m_factory) continue;
    const int id = row.m_id;
    std::unique_ptr<MSG_POST> message(row.m_factory());
    EXPECT_TRUE(!message->is_null() && message->get_id() == id && message->get_kind() == row.m_kind) << id;
    message->post();
    auto entry = msg_log_find(id);
    ASSERT_TRUE(entry.has_value()) << id;
    std::string text = row.m_string;
    const size_t slash = text.rfind('/');
    EXPECT_EQ(entry->name, text.substr(slash + 2)) << id;
    text.resize(slash);
    for (int n = 1; n <= 3; ++n) {
      const std::string marker = "%" + std::to_string(n) + "!s!";
      for (size_t at; (at = text.find(marker)) != std::string::npos;) text.replace(at, marker.size(), {char('a' + n - 1)});
    }
    EXPECT_EQ(entry->text, text) << id;
    EXPECT_EQ(int(entry->kind), int(row.m_kind)) << id;

    MSG_INDEX::get_default_index()->suppress(id, true);
    std::unique_ptr<MSG_POST> null(row.m_factory());
    EXPECT_TRUE(null->is_null() && null->get_kind() == row.m_kind) << id;
    EXPECT_TRUE(null->get_id() == 0 && null->get_text().empty()) << id;  // text, arguments and ID stay unset
    null->post();
    EXPECT_EQ(msg_log_count(id), 1) << id;
  }
}

// The reporting pattern of the critical-signal passes: a header, one
// sub-message per ignored item, the header posted only when it holds one;
// a suppressed header hides its items.
TEST(KavuMsgGrouping, HeaderCarriesItsItemsAndSuppressionHidesThem) {
  EXPECT_TRUE(std::unique_ptr<MSG_W>(kavu_msg_ignored_critical_enable_hdr())->begin_submsg() ==
              std::unique_ptr<MSG_W>(kavu_msg_ignored_critical_enable_hdr())->end_submsg());
  std::unique_ptr<MSG_W> header(kavu_msg_ignored_critical_clock_hdr_for_hierarchy("top|core"));
  header->add_msg(kavu_msg_ignored_critical_clock_sub("clk_a", "clk_b", "clk_c"));
  header->add_msg(kavu_msg_ignored_critical_clock2_sub("clk_c"));
  header->post();
  auto entry = msg_log_find(286003);
  ASSERT_TRUE(entry.has_value() && entry->subs.size() == 2u && entry->subs[1].id == 286006);
  EXPECT_EQ(entry->subs[0].text,
            "Ignored assignment for SYNTH_CRITICAL_CLOCK from clock \"clk_a\" to clock \"clk_b\" "
            "-- no registers were found for clock \"clk_c\"");
  kavu_platform::msg_log_clear();
  MSG_INDEX::get_default_index()->suppress(286017, true);  // the header's ID
  std::unique_ptr<MSG_W> hidden(kavu_msg_ignored_critical_pin_hdr());
  hidden->add_msg(kavu_msg_ignored_critical_pin_sub("data_in[3]"));
  hidden->post();
  EXPECT_TRUE(msg_log().empty());
}

}  // namespace
