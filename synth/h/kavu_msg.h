// kavu_msg.h — the library's user messages and debug traces.
//
// Message catalogue: the library owns 33 message IDs between 286000 and
// 286034 (286028 and 286032 are not used). Each is registered with its kind
// when the library loads, from the two parallel tables kavu_msg_ids and
// kavu_msg_kinds. A message string is the text with its numbered arguments
// ("%1!s!", "%2!s!", "%3!s!"), then "/", the severity letter (E, W or I) and
// the message name, which begins with "KAVU_".
//
// Factories: each kavu_msg_* function asks the default message index whether
// its ID is suppressed. Suppressed, it returns the null twin of its severity
// (MSG_W_NULL or MSG_I_NULL: text, arguments and ID stay unset and post()
// does nothing); otherwise an MSG_W or MSG_I with its text, arguments and ID
// filled in. The caller owns the returned message: it posts it, or adds it to
// a header message (add_msg) and posts the header only when the header holds
// a sub-message, and deletes what it still owns. A suppressed header is a
// null message, so neither it nor its sub-messages appear.
//
// The errors 286001 and 286034 have no factory: their users build an MSG_E
// directly from kavu_msg_string(id), fill its arguments and set the ID.
//
// Debug traces: kavu_debug writes one printf-style line at level 2 under the
// component "KAVU"; kavu_debug_at_level at the caller's level (3 for lines
// that only diagnose). Neither is a user message and neither fails.
#pragma once

#include <string>

#include "msg/msg.h"

// Number of entries of the registration tables.
constexpr int KAVU_MSG_ID_COUNT = 33;

// The registration tables, in ID order: kavu_msg_kinds[i] is the kind of
// kavu_msg_ids[i] (error, information or warning).
extern const int kavu_msg_ids[KAVU_MSG_ID_COUNT];
extern const MSG_POST_TYPE kavu_msg_kinds[KAVU_MSG_ID_COUNT];

// The full message string of an ID the library builds messages with
// (text, "/", severity letter, name), or null for an ID without text
// (286000, 286004, 286009, 286013, 286019 to 286027) or outside the catalogue.
const char* kavu_msg_string(int id);

// Timing-driven synthesis (information 286030, 286031; warning 286029).
MSG_I* kavu_msg_timing_driven_synthesis_running();
MSG_I* kavu_msg_timing_driven_synthesis_running_on_partition(const std::string& partition);
MSG_W* kavu_msg_timing_driven_synthesis_skipped_for_fast_synthesis();

// Inferred function parameter (information 286033): parameter name, value.
MSG_I* kavu_msg_inferred_tolvafunction_parameter(const std::string& parameter,
                                                 const std::string& value);

// Ignored critical-signal assignments (warnings). The *_hdr messages head a
// group; the *_for_hierarchy variants name the hierarchy the group reports
// for; the *_sub messages are the group's items.
MSG_W* kavu_msg_ignored_critical_clock_hdr();
MSG_W* kavu_msg_ignored_critical_clock_hdr_for_hierarchy(const std::string& hierarchy);
MSG_W* kavu_msg_ignored_critical_clock_sub(const std::string& from_clock,
                                           const std::string& to_clock,
                                           const std::string& clock_without_registers);
MSG_W* kavu_msg_ignored_critical_clock2_sub(const std::string& clock);
MSG_W* kavu_msg_ignored_critical_input_to_clock_hdr();
MSG_W* kavu_msg_ignored_critical_input_to_clock_hdr_for_hierarchy(const std::string& hierarchy);
MSG_W* kavu_msg_ignored_critical_input_to_clock_sub(const std::string& clock);
MSG_W* kavu_msg_ignored_critical_clock_to_output_hdr();
MSG_W* kavu_msg_ignored_critical_clock_to_output_hdr_for_hierarchy(const std::string& hierarchy);
MSG_W* kavu_msg_ignored_critical_clock_to_output_sub(const std::string& clock);
MSG_W* kavu_msg_ignored_critical_enable_hdr();
MSG_W* kavu_msg_ignored_critical_enable_sub(const std::string& reg);
MSG_W* kavu_msg_ignored_critical_pin_hdr();
MSG_W* kavu_msg_ignored_critical_pin_sub(const std::string& pin);

// Debug traces under the component "KAVU": level 2, or the given level.
void kavu_debug(const char* format, ...) __attribute__((format(printf, 1, 2)));
void kavu_debug_at_level(MSG_D_LEVEL level, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
