// cfg.cpp — the configuration store: three sources per key and their merge.
//
// Model: one entry per key ever seen (lower-cased name) holding the value of
//   each source — set from code, KAVU_INI_SET, the KAVU_INI_FILE file — and
//   the effective text (the highest source present, else ""). The
//   environment and the file are read as they stand at the first call of
//   the process that reads or sets a key (under the store's lock, the one
//   the fork handlers take, so a child forked meanwhile finds either none
//   read or all) and again by cfg_reload(). The store itself (objects,
//   lock) is made as the layer loads. A key set there that the
//   library does not read (cfg_keys.cpp) warns once in the process; an
//   integer outside its key's range (cfg_keys.cpp) warns once per key and
//   gives the caller's default. Both warnings name where the value was
//   set: KAVU_INI_SET, or the file's line.
// Invariant: entries are never erased and an entry's effective string is
//   reassigned only when its value changes, so the pointer cfg_get_value
//   returned stays valid until that key is set again.
// Cost: a lookup is one locked map search over the keys seen; a reload is
//   linear in the keys plus the sizes of the variable and the file.
#include "cfg/cfg.h"
#include "cfg/cfg_keys_int.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "fio/fio.h"
#include "msg/msg.h"
#include "testkit/platform_test_hooks.h"
#include "thr/thr_fork_int.h"

namespace {

struct KEY_ENTRY {
  std::optional<std::string> code;
  std::optional<std::string> env;
  std::optional<std::string> file;
  std::string file_where;  // "line N of "PATH"": where the file set it
  std::string effective;
};

struct CFG_STATE {
  std::mutex mutex;
  bool sources_read = false;  // the environment and the file read (under mutex)
  std::map<std::string, KEY_ENTRY> keys;
  std::set<std::string> warned;
  std::set<std::string> unread_warned;  // never cleared: each such key warns once per process
};

CFG_STATE& state() {
  static CFG_STATE* s = [] {  // never destroyed: readable from any destructor
    CFG_STATE* made = new CFG_STATE;
    thr_lock_across_fork(&made->mutex, THR_FORK_CFG);
    return made;
  }();
  return *s;
}

std::string lower(const char* text) {
  std::string s(text);
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
  return s;
}

std::string trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return std::string();
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

// Text from the environment or a file, fit to be quoted in a warning.
const size_t kMaxQuotedBytes = 200;
std::string shown(std::string_view text) { return kavu_platform::msg_printable_text(text, kMaxQuotedBytes, true); }

// Warns, once per key and process, about a key from the environment or the
// ini file that no code of the library reads: a misspelt key would otherwise
// leave the setting it meant at its default without a word. The key is kept:
// a program that reads its own keys through this store still gets it.
void note_key(CFG_STATE& s, const std::string& key, const std::string& where) {
  if (kavu_platform::cfg_key_is_read(key) || !s.unread_warned.insert(key).second) return;
  std::fprintf(stderr, "Warning: configuration key \"%s\" (%s) is not read by the library\n",
               shown(key).c_str(), where.c_str());
}

void recompute(KEY_ENTRY& e) {
  const std::string& v = e.code ? *e.code : e.env ? *e.env : e.file ? *e.file : std::string();
  if (v != e.effective) e.effective = v;
}

void parse_ini_set(CFG_STATE& s, const char* text) {
  std::string all(text);
  size_t pos = 0;
  while (pos <= all.size()) {
    size_t semi = all.find(';', pos);
    if (semi == std::string::npos) semi = all.size();
    std::string item = trim(all.substr(pos, semi - pos));
    pos = semi + 1;
    if (item.empty()) continue;
    size_t eq = item.find('=');
    std::string key = eq == std::string::npos ? std::string() : trim(item.substr(0, eq));
    if (key.empty()) {
      std::fprintf(stderr, "Warning: KAVU_INI_SET item \"%s\" is not key=value; ignored\n",
                   shown(item).c_str());
      continue;
    }
    const std::string name = lower(key.c_str());
    note_key(s, name, "KAVU_INI_SET");
    s.keys[name].env = trim(item.substr(eq + 1));
  }
}

// An ini file is a few kilobytes; the bound only stops a wrong path (a log,
// an image) from being taken whole into memory.
const uint64_t kMaxIniFileBytes = uint64_t(64) << 20;

void parse_ini_file(CFG_STATE& s, const char* path) {
  // Only a regular file is read: a FIFO would wait for a writer, /dev/zero
  // never ends, and a directory is not an empty file.
  std::string text, problem;
  // The path is quoted escaped, as the file's text would be.
  const std::string shown_path = kavu_platform::msg_printable_text(path, kavu_platform::MSG_MAX_PATH_BYTES, true);
  if (!FIO_FILE_SYSTEM::read_regular_file(path, kMaxIniFileBytes, &text, &problem)) {
    std::fprintf(stderr, "Warning: KAVU_INI_FILE \"%s\" cannot be read (%s); ignored\n", shown_path.c_str(),
                 problem.c_str());
    return;
  }
  std::istringstream in(std::move(text));
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    // A NUL byte would cut the value wherever it is read as C text: the
    // line is refused whole, as the BLIF reader refuses one.
    if (line.find('\0') != std::string::npos) {
      std::fprintf(stderr, "Warning: line %d of \"%s\" holds a NUL byte; ignored\n", number, shown_path.c_str());
      continue;
    }
    size_t hash = line.find('#');
    if (hash != std::string::npos) line.resize(hash);
    line = trim(line);
    if (line.empty()) continue;
    size_t eq = line.find('=');
    std::string key = eq == std::string::npos ? std::string() : trim(line.substr(0, eq));
    if (key.empty()) {
      std::fprintf(stderr, "Warning: line %d of \"%s\" is not \"key = value\"; ignored\n", number,
                   shown_path.c_str());
      continue;
    }
    const std::string name = lower(key.c_str());
    const std::string where = "line " + std::to_string(number) + " of \"" + shown_path + "\"";
    note_key(s, name, where);
    KEY_ENTRY& e = s.keys[name];
    e.file = trim(line.substr(eq + 1));  // the last line wins
    e.file_where = where;
  }
}

// Rereads the environment and the file. Holds the lock.
void load_sources_locked(CFG_STATE& s) {
  for (auto& [key, e] : s.keys) {
    e.env.reset();
    e.file.reset();
  }
  if (const char* set = std::getenv("KAVU_INI_SET")) parse_ini_set(s, set);
  if (const char* file = std::getenv("KAVU_INI_FILE")) {
    if (*file) parse_ini_file(s, file);
  }
  for (auto& [key, e] : s.keys) recompute(e);
}

// The store locked, with the environment and the file read: at the first
// call that reads or sets a key, as they stand then, not as the library
// loaded (a host may set them in its own process before its first call).
// No once-flag: a child forked while another thread reads them finds the
// lock free (the fork handlers take it) and the sources unread or whole.
std::unique_lock<std::mutex> lock_loaded(CFG_STATE& s) {
  std::unique_lock<std::mutex> lock(s.mutex);
  if (!s.sources_read) {
    load_sources_locked(s);
    s.sources_read = true;
  }
  return lock;
}

// The effective text of `key` ("" when unset).
std::string read_value(const char* key) {
  PLAT_CHECK(key != nullptr, "PLATFORM");
  CFG_STATE& s = state();
  std::string k = lower(key);
  const auto lock = lock_loaded(s);
  auto it = s.keys.find(k);
  return it == s.keys.end() ? std::string() : it->second.effective;
}

// Warns, once per key, that its value is refused, naming where the value
// came from as the unread-key warning does: " (KAVU_INI_SET)", " (line N
// of "PATH")", or nothing for a value set from code.
void warn_once(const char* key, const std::string& value, const char* expected) {
  CFG_STATE& s = state();
  std::string where;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    const std::string name = lower(key);
    if (!s.warned.insert(name).second) return;
    auto it = s.keys.find(name);
    if (it != s.keys.end() && !it->second.code) {
      if (it->second.env) where = " (KAVU_INI_SET)";
      else if (it->second.file) where = " (" + it->second.file_where + ")";
    }
  }
  std::fprintf(stderr,
               "Warning: configuration key \"%s\"%s has value \"%s\", which is not %s; the default "
               "is used\n",
               shown(key).c_str(), where.c_str(), shown(value).c_str(), expected);
}

// Decimal (with sign) or 0x-hexadecimal up to 32 bits.
bool parse_int(const std::string& text, int* out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    if (!std::isxdigit(static_cast<unsigned char>(text[2]))) return false;
    unsigned long long v = std::strtoull(text.c_str() + 2, &end, 16);
    if (*end != '\0' || errno == ERANGE || v > 0xFFFFFFFFull) return false;
    *out = static_cast<int>(static_cast<unsigned int>(v));
    return true;
  }
  size_t digits = (text[0] == '-' || text[0] == '+') ? 1 : 0;
  if (digits >= text.size() || !std::isdigit(static_cast<unsigned char>(text[digits]))) return false;
  long long v = std::strtoll(text.c_str(), &end, 10);
  if (*end != '\0' || errno == ERANGE || v < INT_MIN || v > INT_MAX) return false;
  *out = static_cast<int>(v);
  return true;
}

// The store is made as the layer loads, not at first use: a process that
// forks while another thread makes it would leave its child waiting for it
// for ever. The environment and the file are read at the first call
// (lock_loaded).
[[maybe_unused]] const bool g_cfg_at_load = (state(), true);

}  // namespace

ORLIND_BOOL cfg_is_on(const char* key, bool dflt) {
  std::string v = trim(read_value(key));
  if (v.empty()) return dflt;
  std::string l = lower(v.c_str());
  if (l == "on" || l == "true" || l == "yes" || l == "1") return true;
  if (l == "off" || l == "false" || l == "no" || l == "0") return false;
  warn_once(key, v, "on or off");
  return dflt;
}

int cfg_get_int_value(const char* key, int dflt) {
  return kavu_platform::cfg_get_int_value_in_range(key, dflt, INT_MIN, INT_MAX);
}

const char* cfg_get_value(const char* key) {
  PLAT_CHECK(key != nullptr, "PLATFORM");
  CFG_STATE& s = state();
  std::string k = lower(key);
  const auto lock = lock_loaded(s);
  auto it = s.keys.find(k);
  return it == s.keys.end() ? "" : it->second.effective.c_str();
}

ORLIND_BOOL cfg_user_ini_is_on(int n) {
  std::string key = "user_ini_switch_" + std::to_string(n);
  return cfg_is_on(key.c_str(), false);
}

namespace kavu_platform {

void cfg_set_value(const char* key, const char* value) {
  PLAT_CHECK(key != nullptr && *key != '\0', "PLATFORM");
  if (!value) {
    cfg_unset_value(key);
    return;
  }
  CFG_STATE& s = state();
  const auto lock = lock_loaded(s);
  KEY_ENTRY& e = s.keys[lower(key)];
  e.code = value;
  recompute(e);
}

int cfg_get_int_value_in_range(const char* key, int dflt, int lo, int hi) {
  PLAT_CHECK(key != nullptr, "PLATFORM");
  // A key of the range table takes no value outside its range, whatever
  // range the caller asks for.
  int key_lo = INT_MIN, key_hi = INT_MAX;
  if (cfg_int_key_range(lower(key), &key_lo, &key_hi)) {
    lo = std::max(lo, key_lo);
    hi = std::min(hi, key_hi);
  }
  PLAT_CHECK(lo <= hi, "PLATFORM");
  std::string v = trim(read_value(key));
  if (v.empty()) return dflt;
  int value = 0;
  if (parse_int(v, &value) && value >= lo && value <= hi) return value;
  const std::string expected = lo == INT_MIN && hi == INT_MAX
                                   ? std::string("an integer")
                                   : "an integer from " + std::to_string(lo) + " to " + std::to_string(hi);
  warn_once(key, v, expected.c_str());
  return dflt;
}

void cfg_unset_value(const char* key) {
  PLAT_CHECK(key != nullptr, "PLATFORM");
  CFG_STATE& s = state();
  const auto lock = lock_loaded(s);
  auto it = s.keys.find(lower(key));
  if (it == s.keys.end()) return;
  it->second.code.reset();
  recompute(it->second);
}

bool cfg_get_code_value(const char* key, std::string* value) {
  PLAT_CHECK(key != nullptr && value != nullptr, "PLATFORM");
  CFG_STATE& s = state();
  const auto lock = lock_loaded(s);
  auto it = s.keys.find(lower(key));
  if (it == s.keys.end() || !it->second.code) return false;
  *value = *it->second.code;
  return true;
}

void cfg_unset_all_values() {
  CFG_STATE& s = state();
  const auto lock = lock_loaded(s);
  for (auto& [key, e] : s.keys) {
    e.code.reset();
    recompute(e);
  }
  s.warned.clear();
}

void cfg_reload() {
  CFG_STATE& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  load_sources_locked(s);
  s.sources_read = true;
  s.warned.clear();
}

std::vector<std::pair<std::string, std::string>> cfg_code_values() {
  CFG_STATE& s = state();
  const auto lock = lock_loaded(s);
  std::vector<std::pair<std::string, std::string>> out;
  for (const auto& [key, e] : s.keys)
    if (e.code) out.emplace_back(key, *e.code);
  return out;
}

}  // namespace kavu_platform
