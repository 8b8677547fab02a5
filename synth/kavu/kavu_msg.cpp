// kavu_msg.cpp — message catalogue, message factories and debug traces.
//
// Model: one table row per registered ID (33 rows, IDs 286000 to 286034
// without 286028 and 286032) holding the ID's kind and, for the IDs the
// library builds messages with, the full message string. The registration
// tables handed to the message library at load are derived from the same
// rows, so an ID's kind and its text can never disagree.
// The texts are the library's user-visible output and are kept byte for
// byte; the texts of 286010, 286014, 286016 and 286018 end without the
// unbalanced double quote they once carried.
// Factories: suppression query first, then either the null twin or a filled
// message. A factory that fails to allocate lets the failure propagate and
// frees the partly built message first.
// Cost: a factory is one suppression lookup and one allocation.
#include "kavu_msg.h"

#include <cstdarg>
#include <memory>

#include "kavu_check.h"
#include "msg/msg.h"

namespace {

struct KAVU_MSG_ROW {
  int m_id;
  MSG_POST_TYPE m_kind;
  const char* m_string;  // null: registered, but no message is built with it
};

constexpr MSG_POST_TYPE E = MSG_POST_TYPE_ERROR;
constexpr MSG_POST_TYPE W = MSG_POST_TYPE_WARNING;
constexpr MSG_POST_TYPE I = MSG_POST_TYPE_INFO;

constexpr KAVU_MSG_ROW s_catalogue[KAVU_MSG_ID_COUNT] = {
    {286000, W, nullptr},
    {286001, E,
     "WYSIWYG primitive %1!s! has missing connection on input port %2!s!"
     "/EKAVU_KAVU_WYSIWYG_MISSING_INPUT_PORT"},
    {286002, W,
     "Ignored following assignments for SYNTH_CRITICAL_CLOCK"
     "/WKAVU_IGNORED_CRITICAL_CLOCK_HDR"},
    {286003, W,
     "Ignored following assignments for SYNTH_CRITICAL_CLOCK for hierarchy \"%1!s!\""
     "/WKAVU_IGNORED_CRITICAL_CLOCK_HDR_FOR_HIERARCHY"},
    {286004, W, nullptr},
    {286005, W,
     "Ignored assignment for SYNTH_CRITICAL_CLOCK from clock \"%1!s!\" to clock \"%2!s!\""
     " -- no registers were found for clock \"%3!s!\""
     "/WKAVU_IGNORED_CRITICAL_CLOCK_SUB"},
    {286006, W,
     "Ignored assignment for SYNTH_CRITICAL_CLOCK for clock \"%1!s!\""
     " -- no registers were found for this clock"
     "/WKAVU_IGNORED_CRITICAL_CLOCK2_SUB"},
    {286007, W,
     "Ignored following assignments for SYNTH_CRITICAL_INPUT_TO_CLOCK"
     "/WKAVU_IGNORED_CRITICAL_INPUT_TO_CLOCK_HDR"},
    {286008, W,
     "Ignored following assignments for SYNTH_CRITICAL_INPUT_TO_CLOCK for hierarchy \"%1!s!\""
     "/WKAVU_IGNORED_CRITICAL_INPUT_TO_CLOCK_HDR_FOR_HIERARCHY"},
    {286009, W, nullptr},
    {286010, W,
     "Ignored assignment for SYNTH_CRITICAL_INPUT_TO_CLOCK for clock \"%1!s!\""
     " -- no registers were found"
     "/WKAVU_IGNORED_CRITICAL_INPUT_TO_CLOCK_SUB"},
    {286011, W,
     "Ignored following assignments for SYNTH_CRITICAL_CLOCK_TO_OUTPUT"
     "/WKAVU_IGNORED_CRITICAL_CLOCK_TO_OUTPUT_HDR"},
    {286012, W,
     "Ignored following assignments for SYNTH_CRITICAL_CLOCK_TO_OUTPUT for hierarchy \"%1!s!\""
     "/WKAVU_IGNORED_CRITICAL_CLOCK_TO_OUTPUT_HDR_FOR_HIERARCHY"},
    {286013, W, nullptr},
    {286014, W,
     "Ignored assignment for SYNTH_CRITICAL_CLOCK_TO_OUTPUT for clock \"%1!s!\""
     " -- no registers were found"
     "/WKAVU_IGNORED_CRITICAL_CLOCK_TO_OUTPUT_SUB"},
    {286015, W,
     "Ignored following assignments for SYNTH_CRITICAL_ENABLE"
     "/WKAVU_IGNORED_CRITICAL_ENABLE_HDR"},
    {286016, W,
     "Ignored assignment for SYNTH_CRITICAL_ENABLE for register \"%1!s!\""
     " -- register not found"
     "/WKAVU_IGNORED_CRITICAL_ENABLE_SUB"},
    {286017, W,
     "Ignored following assignments for SYNTH_CRITICAL_PIN"
     "/WKAVU_IGNORED_CRITICAL_PIN_HDR"},
    {286018, W,
     "Ignored assignment for SYNTH_CRITICAL_PIN for pin \"%1!s!\" -- pin not found"
     "/WKAVU_IGNORED_CRITICAL_PIN_SUB"},
    {286019, E, nullptr},
    {286020, E, nullptr},
    {286021, W, nullptr},
    {286022, W, nullptr},
    {286023, E, nullptr},
    {286024, W, nullptr},
    {286025, W, nullptr},
    {286026, W, nullptr},
    {286027, I, nullptr},
    {286029, W,
     "Timing-Driven Synthesis is skipped because the Synthesis Effort is set to Fast"
     "/WKAVU_TIMING_DRIVEN_SYNTHESIS_SKIPPED_FOR_FAST_SYNTHESIS"},
    {286030, I,
     "Timing-Driven Synthesis is running"
     "/IKAVU_TIMING_DRIVEN_SYNTHESIS_RUNNING"},
    {286031, I,
     "Timing-Driven Synthesis is running on partition \"%1!s!\""
     "/IKAVU_TIMING_DRIVEN_SYNTHESIS_RUNNING_ON_PARTITION"},
    {286033, I,
     "Parameter %1!s! set to %2!s!"
     "/IKAVU_INFERRED_TOLVAFUNCTION_PARAMETER"},
    {286034, E,
     "Cannot find Memory Initialization File or Hexadecimal (Norvek-Format) File %1!s!"
     " for ROM instance %2!s!"
     "/EKAVU_MIF_FILE_NOT_FOUND_FOR_ROM"},
};

// The string of an ID that has a factory; a missing string is a fault of
// this file, not of the caller.
const char* factory_string(int id) {
  const char* text = kavu_msg_string(id);
  KAVU_CHECK(text != nullptr);
  return text;
}

// Builds a message of class MSG (or its null twin NULL_MSG when the ID is
// suppressed). Arguments are handed to fill_args as C strings in the order
// of their numbers.
template <class MSG, class NULL_MSG, class... ARGS>
MSG* build_message(int id, const ARGS&... args) {
  if (MSG_INDEX::get_default_index()->is_suppressed(id)) return new NULL_MSG();
  std::unique_ptr<MSG> message(new MSG());
  message->fill_args(factory_string(id), args.c_str()...);
  message->set_id(id);
  return message.release();
}

template <class... ARGS>
MSG_W* build_warning(int id, const ARGS&... args) {
  return build_message<MSG_W, MSG_W_NULL>(id, args...);
}

template <class... ARGS>
MSG_I* build_info(int id, const ARGS&... args) {
  return build_message<MSG_I, MSG_I_NULL>(id, args...);
}

}  // namespace

constexpr int kavu_msg_ids[KAVU_MSG_ID_COUNT] = {
    286000, 286001, 286002, 286003, 286004, 286005, 286006, 286007, 286008, 286009, 286010,
    286011, 286012, 286013, 286014, 286015, 286016, 286017, 286018, 286019, 286020, 286021,
    286022, 286023, 286024, 286025, 286026, 286027, 286029, 286030, 286031, 286033, 286034};

constexpr MSG_POST_TYPE kavu_msg_kinds[KAVU_MSG_ID_COUNT] = {
    W, E, W, W, W, W, W, W, W, W, W, W, W, W, W, W, W, W, W, E, E, W, W, E, W, W, W, I, W, I, I, I, E};

namespace {
// The registration tables are what the message library sees; the catalogue
// is what the factories use. They must name the same IDs with the same kinds.
constexpr bool registration_matches_catalogue() {
  for (int i = 0; i < KAVU_MSG_ID_COUNT; ++i) {
    if (kavu_msg_ids[i] != s_catalogue[i].m_id || kavu_msg_kinds[i] != s_catalogue[i].m_kind)
      return false;
  }
  return true;
}
static_assert(registration_matches_catalogue());
}  // namespace

const char* kavu_msg_string(int id) {
  for (const KAVU_MSG_ROW& row : s_catalogue) {
    if (row.m_id == id) return row.m_string;
  }
  return nullptr;
}

MSG_I* kavu_msg_timing_driven_synthesis_running() { return build_info(286030); }

MSG_I* kavu_msg_timing_driven_synthesis_running_on_partition(const std::string& partition) {
  return build_info(286031, partition);
}

MSG_W* kavu_msg_timing_driven_synthesis_skipped_for_fast_synthesis() {
  return build_warning(286029);
}

MSG_I* kavu_msg_inferred_tolvafunction_parameter(const std::string& parameter,
                                                 const std::string& value) {
  return build_info(286033, parameter, value);
}

MSG_W* kavu_msg_ignored_critical_clock_hdr() { return build_warning(286002); }

MSG_W* kavu_msg_ignored_critical_clock_hdr_for_hierarchy(const std::string& hierarchy) {
  return build_warning(286003, hierarchy);
}

MSG_W* kavu_msg_ignored_critical_clock_sub(const std::string& from_clock,
                                           const std::string& to_clock,
                                           const std::string& clock_without_registers) {
  return build_warning(286005, from_clock, to_clock, clock_without_registers);
}

MSG_W* kavu_msg_ignored_critical_clock2_sub(const std::string& clock) {
  return build_warning(286006, clock);
}

MSG_W* kavu_msg_ignored_critical_input_to_clock_hdr() { return build_warning(286007); }

MSG_W* kavu_msg_ignored_critical_input_to_clock_hdr_for_hierarchy(const std::string& hierarchy) {
  return build_warning(286008, hierarchy);
}

MSG_W* kavu_msg_ignored_critical_input_to_clock_sub(const std::string& clock) {
  return build_warning(286010, clock);
}

MSG_W* kavu_msg_ignored_critical_clock_to_output_hdr() { return build_warning(286011); }

MSG_W* kavu_msg_ignored_critical_clock_to_output_hdr_for_hierarchy(const std::string& hierarchy) {
  return build_warning(286012, hierarchy);
}

MSG_W* kavu_msg_ignored_critical_clock_to_output_sub(const std::string& clock) {
  return build_warning(286014, clock);
}

MSG_W* kavu_msg_ignored_critical_enable_hdr() { return build_warning(286015); }

MSG_W* kavu_msg_ignored_critical_enable_sub(const std::string& reg) {
  return build_warning(286016, reg);
}

MSG_W* kavu_msg_ignored_critical_pin_hdr() { return build_warning(286017); }

MSG_W* kavu_msg_ignored_critical_pin_sub(const std::string& pin) {
  return build_warning(286018, pin);
}

void kavu_debug(const char* format, ...) {
  va_list args;
  va_start(args, format);
  msg_local_vdebug("KAVU", 2, format, args);
  va_end(args);
}

void kavu_debug_at_level(MSG_D_LEVEL level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  msg_local_vdebug("KAVU", level, format, args);
  va_end(args);
}
