// cfg_keys_int.h — the keys the library reads (cfg_keys.cpp), inside the
// platform layer: the configuration store checks KAVU_INI_SET and the ini
// file against them and every integer read against its key's range, and the
// configuration tests check both against the sources.
#pragma once

#include <span>
#include <string_view>

namespace kavu_platform {
// True when `lower_key` (lower case) is a key some code of the library or
// the platform layer reads, by name or by one of the families made at run
// time.
bool cfg_key_is_read(std::string_view lower_key);
// The names read literally, sorted (byte order), and the families: a "*"
// stands for one or more characters.
std::span<const char* const> cfg_keys_read();
std::span<const char* const> cfg_key_families();

// The values a key read as an integer may take, lo..hi inclusive.
struct CFG_INT_RANGE {
  const char* key;
  int lo;
  int hi;
};
// Every key the library reads as an integer with its range, sorted by key
// (byte order).
std::span<const CFG_INT_RANGE> cfg_int_key_ranges();
// The range of `lower_key` (lower case); false for a key without one.
bool cfg_int_key_range(std::string_view lower_key, int* lo, int* hi);
}  // namespace kavu_platform
