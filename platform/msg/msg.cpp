// msg.cpp — internal errors, user messages and the message log.
//
// Model: one process-wide state (log, queue of messages posted while
//   MSG_D::m_insert is off, id registry, explicit suppressions) behind one
//   mutex. It is created on first use and never destroyed, so a library's
//   static initializers and destructors may post and register in any order.
// Invariant: report() never runs while this file holds its mutex — every
//   check that can fail gathers what it needs, unlocks, then reports.
// Cost: posting is O(text + sub-messages) plus one locked append; queries
//   copy under the lock.
#include "msg/msg.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>

#include "cfg/cfg.h"
#include "testkit/platform_test_hooks.h"
#include "thr/thr_fork_int.h"

using kavu_platform::MSG_LOG_ENTRY;
using kavu_platform::MSG_LOG_KIND;

bool MSG_D::m_insert = true;

namespace {

struct REGISTERED_ID {
  MSG_POST_TYPE kind;
  int count;
};

struct MSG_STATE {
  std::mutex mutex;
  std::vector<MSG_LOG_ENTRY> log;
  std::vector<MSG_LOG_ENTRY> queue;
  std::map<int, REGISTERED_ID> registry;
  std::map<int, bool> explicit_suppression;
};

MSG_STATE& state() {
  // Never destroyed: usable at any exit stage.
  static MSG_STATE* s = [] {
    MSG_STATE* made = new MSG_STATE;
    thr_lock_across_fork(&made->mutex, THR_FORK_MSG);
    return made;
  }();
  return *s;
}

[[noreturn]] void default_hook(const char*, const char*, const char*, int) {
  std::fflush(stdout);
  std::fflush(stderr);
  std::abort();
}

std::atomic<kavu_platform::MSG_INTERNAL_ERROR_HOOK> g_hook{nullptr};
thread_local int t_reporting = 0;

#define MSG_FAIL(text) MSG_INTERNAL_ERROR::report(text, "PLATFORM", __FILE__, __LINE__)

char severity_letter(MSG_POST_TYPE kind) {
  switch (kind) {
    case MSG_POST_TYPE_ERROR: return 'E';
    case MSG_POST_TYPE_WARNING: return 'W';
    case MSG_POST_TYPE_INFO: return 'I';
  }
  return '?';
}

const char* kind_title(MSG_LOG_KIND kind) {
  switch (kind) {
    case kavu_platform::MSG_LOG_ERROR: return "Error";
    case kavu_platform::MSG_LOG_WARNING: return "Warning";
    case kavu_platform::MSG_LOG_INFO: return "Info";
    case kavu_platform::MSG_LOG_INTERNAL_ERROR: return "Internal Error";
  }
  return "?";
}

// Distinct argument numbers N of "%N!s!" in `text`, increasing.
std::vector<int> argument_numbers(const std::string& text) {
  std::vector<int> numbers;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') continue;
    size_t j = i + 1;
    int n = 0;
    while (j < text.size() && text[j] >= '0' && text[j] <= '9' && n < 1000) n = n * 10 + (text[j++] - '0');
    if (j == i + 1 || text.compare(j, 3, "!s!") != 0) continue;
    numbers.push_back(n);
  }
  std::sort(numbers.begin(), numbers.end());
  numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
  return numbers;
}

std::string expand(const std::string& text, const std::vector<int>& numbers,
                   const std::vector<std::string>& args) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%') {
      size_t j = i + 1;
      int n = 0;
      while (j < text.size() && text[j] >= '0' && text[j] <= '9' && n < 1000) n = n * 10 + (text[j++] - '0');
      if (j > i + 1 && text.compare(j, 3, "!s!") == 0) {
        size_t rank = std::lower_bound(numbers.begin(), numbers.end(), n) - numbers.begin();
        out += args[rank];
        i = j + 2;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

bool registered_kind(int id, MSG_POST_TYPE* kind) {
  MSG_STATE& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  auto it = s.registry.find(id);
  if (it == s.registry.end()) return false;
  *kind = it->second.kind;
  return true;
}

void format_into(const MSG_LOG_ENTRY& e, int depth, std::string* out) {
  out->append(static_cast<size_t>(depth) * 4, ' ');
  out->append(kind_title(e.kind));
  if (e.kind == kavu_platform::MSG_LOG_INTERNAL_ERROR) {
    out->append(": Sub-system: " + e.name);
  } else {
    out->append(" (" + std::to_string(e.id) + ")");
  }
  out->append(": " + e.text + "\n");
  for (const MSG_LOG_ENTRY& sub : e.subs) format_into(sub, depth + 1, out);
}

// Appends to the log and prints; the caller holds no lock.
void insert_entry(MSG_LOG_ENTRY entry) {
  bool print = cfg_is_on("msg_print", true);
  std::string printed = print ? kavu_platform::msg_format_entry(entry) : std::string();
  MSG_STATE& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.log.push_back(std::move(entry));
  if (print) {
    std::fputs(printed.c_str(), stdout);
    std::fflush(stdout);
  }
}

int count_in(const MSG_LOG_ENTRY& e, int id) {
  int n = e.id == id ? 1 : 0;
  for (const MSG_LOG_ENTRY& sub : e.subs) n += count_in(sub, id);
  return n;
}

const MSG_LOG_ENTRY* find_in(const MSG_LOG_ENTRY& e, int id) {
  if (e.id == id) return &e;
  for (const MSG_LOG_ENTRY& sub : e.subs) {
    if (const MSG_LOG_ENTRY* f = find_in(sub, id)) return f;
  }
  return nullptr;
}

}  // namespace

// Builds the log entry of a message and its sub-messages, checking each.
struct MSG_POST_ACCESS {
  static MSG_LOG_ENTRY build(const MSG_POST& m) {
    if (!m.m_filled) MSG_FAIL("message posted without text (fill_args was not called)");
    MSG_POST_TYPE kind;
    if (!registered_kind(m.m_id, &kind)) MSG_FAIL("message id is not registered");
    if (kind != m.m_kind) MSG_FAIL("message id is registered with another kind");
    MSG_LOG_ENTRY e;
    e.id = m.m_id;
    e.kind = static_cast<MSG_LOG_KIND>(m.m_kind);
    e.name = m.m_name;
    e.text = m.m_text;
    e.locations = m.m_locations;
    for (const MSG_POST* sub : m.m_subs) e.subs.push_back(build(*sub));
    return e;
  }
};

// ---------------------------------------------------------------- internal errors

void MSG_INTERNAL_ERROR::report(const char* text, const char* component, const char* file,
                                int line) {
  if (!text) text = "";
  if (!component) component = "";
  if (!file) file = "";
  if (t_reporting > 0) {
    // An error while reporting one: no hook, no log, just stop.
    std::fprintf(stderr, "Internal Error while reporting an internal error: %s\n", text);
    default_hook(text, component, file, line);
  }
  struct DEPTH {
    DEPTH() { ++t_reporting; }
    ~DEPTH() { --t_reporting; }
  } depth;
  {
    MSG_LOG_ENTRY e;
    e.kind = kavu_platform::MSG_LOG_INTERNAL_ERROR;
    e.name = component;
    e.text = text;
    e.locations.push_back(file);
    e.line = line;
    MSG_STATE& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.log.push_back(std::move(e));
  }
  std::fflush(stdout);
  std::fprintf(stderr, "Internal Error: Sub-system: %s, File: %s, Line: %d\n%s\n", component, file,
               line, text);
  std::fflush(stderr);
  kavu_platform::MSG_INTERNAL_ERROR_HOOK hook = g_hook.load();
  if (hook) hook(text, component, file, line);
  default_hook(text, component, file, line);
}

// ---------------------------------------------------------------- registration, suppression

MSG_ID_REGISTRAR::MSG_ID_REGISTRAR(const int* ids, const MSG_POST_TYPE* kinds, int n) {
  PLAT_CHECK(n >= 0 && (n == 0 || (ids && kinds)), "PLATFORM");
  for (int i = 0; i < n; ++i) {
    bool clash = false;
    {
      MSG_STATE& s = state();
      std::lock_guard<std::mutex> lock(s.mutex);
      auto it = s.registry.find(ids[i]);
      if (it == s.registry.end()) {
        s.registry[ids[i]] = REGISTERED_ID{kinds[i], 1};
      } else if (it->second.kind == kinds[i]) {
        ++it->second.count;
      } else {
        clash = true;
      }
    }
    if (clash) MSG_FAIL("message id registered again with another kind");
    m_ids.push_back(ids[i]);
  }
}

MSG_ID_REGISTRAR::~MSG_ID_REGISTRAR() {
  MSG_STATE& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  for (int id : m_ids) {
    auto it = s.registry.find(id);
    if (it != s.registry.end() && --it->second.count == 0) s.registry.erase(it);
  }
}

MSG_INDEX* MSG_INDEX::get_default_index() {
  static MSG_INDEX index;
  return &index;
}

namespace {
// Made as the layer loads, not at first use: a process that forks while
// another thread makes it would leave its child waiting for it for ever.
[[maybe_unused]] const bool g_msg_at_load = (state(), MSG_INDEX::get_default_index(), true);
}  // namespace

bool MSG_INDEX::is_suppressed(int id) const {
  {
    MSG_STATE& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = s.explicit_suppression.find(id);
    if (it != s.explicit_suppression.end()) return it->second;
  }
  // The key lists ids separated by commas; blanks around them are allowed
  // and anything that is not a whole number is skipped.
  std::string list = cfg_get_value("msg_suppress");
  size_t pos = 0;
  while (pos <= list.size()) {
    size_t comma = list.find(',', pos);
    if (comma == std::string::npos) comma = list.size();
    std::string item = list.substr(pos, comma - pos);
    size_t b = item.find_first_not_of(" \t");
    size_t e = item.find_last_not_of(" \t");
    if (b != std::string::npos) {
      item = item.substr(b, e - b + 1);
      char* end = nullptr;
      long v = std::strtol(item.c_str(), &end, 10);
      if (end && *end == '\0' && v == id) return true;
    }
    pos = comma + 1;
  }
  return false;
}

void MSG_INDEX::suppress(int id, bool on) {
  MSG_STATE& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.explicit_suppression[id] = on;
}

// ---------------------------------------------------------------- messages

void MSG_BASE::fill_args(const char* message, ...) {
  if (m_null) return;
  PLAT_CHECK(message != nullptr, "PLATFORM");
  std::string full(message);
  size_t slash = full.rfind('/');
  if (slash == std::string::npos || slash + 1 >= full.size())
    MSG_FAIL("message string has no \"/X\" severity suffix");
  if (full[slash + 1] != severity_letter(m_kind))
    MSG_FAIL("message severity letter does not match the message class");
  if (slash + 2 >= full.size()) MSG_FAIL("message string has no name after the severity letter");
  std::string text = full.substr(0, slash);
  std::vector<int> numbers = argument_numbers(text);
  std::vector<std::string> args;
  va_list ap;
  va_start(ap, message);
  for (size_t i = 0; i < numbers.size(); ++i) {
    const char* a = va_arg(ap, const char*);
    if (!a) {
      va_end(ap);
      MSG_FAIL("message argument is null");
    }
    args.emplace_back(a);
  }
  va_end(ap);
  m_text = expand(text, numbers, args);
  m_name = full.substr(slash + 2);
  m_filled = true;
}

void MSG_BASE::set_id(int id) {
  if (m_null) return;
  m_id = id;
}

MSG_POST::~MSG_POST() {
  for (MSG_POST* sub : m_subs) delete sub;
}

void MSG_POST::add_msg(MSG_POST* sub) {
  PLAT_CHECK(sub != nullptr && sub != this, "PLATFORM");
  if (is_null() || sub->is_null()) {
    delete sub;  // a null header discards its items; a null item shows nothing
    return;
  }
  m_subs.push_back(sub);
}

void MSG_POST::add_location(const std::string& text, const MSG_LOCATION_SCHEMA*, const std::string&,
                            const std::string&) {
  if (is_null()) return;
  m_locations.push_back(text);
}

namespace {
// While insertion is off (parallel synthesis) a posted entry waits in the
// queue; else it goes into the log at once.
void post_entry(MSG_LOG_ENTRY entry) {
  if (!MSG_D::m_insert) {
    MSG_STATE& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.queue.push_back(std::move(entry));
    return;
  }
  insert_entry(std::move(entry));
}
}  // namespace

void MSG_POST::post() {
  if (is_null()) return;
  post_entry(MSG_POST_ACCESS::build(*this));
}

void msg_post_message(MSG_POST_TYPE kind, const std::string& text) {
  MSG_LOG_ENTRY entry;
  entry.kind = static_cast<kavu_platform::MSG_LOG_KIND>(kind);
  entry.text = text;
  post_entry(std::move(entry));
}

// ---------------------------------------------------------------- the log

namespace kavu_platform {

std::vector<MSG_LOG_ENTRY> msg_log() {
  MSG_STATE& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.log;
}

void msg_log_clear() {
  MSG_STATE& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.log.clear();
}

int msg_log_count(int id) {
  MSG_STATE& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  int n = 0;
  for (const MSG_LOG_ENTRY& e : s.log) n += count_in(e, id);
  return n;
}

std::optional<MSG_LOG_ENTRY> msg_log_find(int id) {
  MSG_STATE& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  for (const MSG_LOG_ENTRY& e : s.log) {
    if (const MSG_LOG_ENTRY* f = find_in(e, id)) return *f;
  }
  return std::nullopt;
}

void msg_flush_pending() {
  std::vector<MSG_LOG_ENTRY> pending;
  {
    MSG_STATE& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    pending.swap(s.queue);
  }
  for (MSG_LOG_ENTRY& e : pending) insert_entry(std::move(e));
}

std::string msg_format_entry(const MSG_LOG_ENTRY& entry) {
  std::string out;
  format_into(entry, 0, &out);
  return out;
}

MSG_INTERNAL_ERROR_HOOK msg_set_internal_error_hook(MSG_INTERNAL_ERROR_HOOK hook) {
  return g_hook.exchange(hook);
}

void msg_debug_reset();  // msg_debug.cpp

void msg_test_reset() {
  {
    MSG_STATE& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.log.clear();
    s.queue.clear();
    s.explicit_suppression.clear();
  }
  MSG_D::m_insert = true;
  msg_debug_reset();
}

std::string msg_printable_text(std::string_view text, size_t max_bytes, bool escape_quotes) {
  std::string out;
  auto append = [&](std::string_view part) {
    for (const char byte : part) {
      const unsigned char c = static_cast<unsigned char>(byte);
      if (escape_quotes && (c == '"' || c == '\\')) {
        out += '\\';
        out += char(c);
      } else if (c >= 0x20 && c < 0x7f) {
        out += char(c);
      } else {
        static const char kHex[] = "0123456789abcdef";
        out += "\\x";
        out += kHex[c >> 4];
        out += kHex[c & 15];
      }
    }
  };
  if (text.size() <= max_bytes) {
    out.reserve(text.size());
    append(text);
    return out;
  }
  // The head and the tail: two names of one long hierarchical path differ
  // at their end.
  const size_t tail = max_bytes / 2, head = max_bytes - tail;
  out.reserve(max_bytes + 3);
  append(text.substr(0, head));
  out += "...";
  append(text.substr(text.size() - tail));
  return out;
}

}  // namespace kavu_platform
