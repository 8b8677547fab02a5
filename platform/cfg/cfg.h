// Role: configuration (docs/platform.md, "Configuration").
// cfg.h — configuration keys (case-insensitive names, text values).
//
// Sources, highest first: values set from code (cfg_set_value, test hooks),
// the KAVU_INI_SET environment variable ("key=value;key=value"), the ini file
// named by KAVU_INI_FILE ("key = value" lines, '#' comments), then the
// default argument of the call. Environment and file are read once, on the
// first configuration call of the process; cfg_reload() rereads them, and a
// key set there that the library does not read warns once per process (and
// is kept, for a program that reads keys of its own).
// An empty value counts as unset: the key takes the call's default even
// where a lower source sets it ("ssc_sdc_file=" in KAVU_INI_SET sets aside
// the ini file's ssc_sdc_file). Every function is thread-safe.
#pragma once

// A bool wrapper returned by cfg_is_on; converts to bool.
class ORLIND_BOOL {
 public:
  ORLIND_BOOL(bool v = false) : m_value(v) {}
  operator bool() const { return m_value; }
 private:
  bool m_value;
};

// "on", "true", "yes", "1" → true; "off", "false", "no", "0" → false;
// unset → dflt; anything else → dflt and one warning line per key.
ORLIND_BOOL cfg_is_on(const char* key, bool dflt);
// Decimal or 0x-hexadecimal; unset or malformed → dflt (malformed warns once).
// Hexadecimal values up to 0xFFFFFFFF are taken as 32-bit patterns. A key the
// library reads as an integer has a range (cfg_keys.cpp: delays 0 to 100000,
// counts and timeouts at least 1 or 0, ...); a value outside it gives dflt
// and warns once, naming the key and the range.
int cfg_get_int_value(const char* key, int dflt);
// The text, or "" when unset (never null); valid until the key is set again.
const char* cfg_get_value(const char* key);
// cfg_is_on("user_ini_switch_<n>", false)
ORLIND_BOOL cfg_user_ini_is_on(int n);

#include <string>
#include <utility>
#include <vector>

namespace kavu_platform {
// Sets `key` from code, above every other source, for this process and the
// helper processes it starts; a null value unsets it. Keys are
// case-insensitive.
void cfg_set_value(const char* key, const char* value);
// cfg_get_int_value limited to lo..hi (and to the key's own range, when it
// has one): a value outside the range, like a malformed one, gives dflt and
// one warning line per key naming the key and the range.
int cfg_get_int_value_in_range(const char* key, int dflt, int lo, int hi);
// Every key set from code with its value, by key name (lower case); what a
// helper process is given to see the same configuration.
std::vector<std::pair<std::string, std::string>> cfg_code_values();
}  // namespace kavu_platform
