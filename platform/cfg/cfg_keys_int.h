// cfg_keys_int.h — the keys the library reads (cfg_keys.cpp), inside the
// platform layer: the configuration store checks KAVU_INI_SET and the ini
// file against them, and the configuration tests check them against the
// sources.
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
}  // namespace kavu_platform
