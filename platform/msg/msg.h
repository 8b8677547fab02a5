// Role: messages, internal errors and debug output (docs/platform.md, "Messages").
// msg.h — messages, internal errors and debug output of the platform layer.
//
// Internal errors: MSG_INTERNAL_ERROR::report records the failure in the
// message log, prints a banner on stderr and calls the installed hook (the
// default aborts; the test kit's throws). It never returns.
// User messages: MSG_E / MSG_W / MSG_I post to the message log (and stdout
// when the key "msg_print" is on); the _NULL forms accept everything and post
// nothing. Debug output: msg_local_vdebug writes one line per call when the
// component's debug output is enabled by configuration.
//
// Model of a message: a message string "text/Xname" (X the severity letter,
//   which must match the class), one text argument per distinct "%N!s!", an
//   id registered with the same kind (MSG_ID_REGISTRAR), optional locations
//   and owned sub-messages. post() validates all of it and appends one log
//   entry (with its sub-entries) — or queues it while MSG_D::m_insert is off.
// Null messages: a flag set by the null constructors makes every member a
//   no-op, so a null twin behaves the same through a pointer to its base.
// Thread safety: the log, the queue, the id registry, the suppression set and
//   debug output are guarded by mutexes; a message object belongs to one
//   thread.
#pragma once

#include <cstdarg>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Checks a precondition in every build; a failure is an internal error of
// the given component ("CDB", "HDB", "PLATFORM", …). The report names the
// file relative to the project ("platform/cdb/cdb_sgate_node.cpp"): the build
// gives each of the layer's sources PLAT_SOURCE_PATH, and a check in a header
// names the header as __FILE__ does.
#ifdef PLAT_SOURCE_PATH
#define PLAT_CHECK_SOURCE (__INCLUDE_LEVEL__ == 0 ? PLAT_SOURCE_PATH : __FILE__)
#else
#define PLAT_CHECK_SOURCE __FILE__
#endif

#define PLAT_CHECK(cond, component)                                                          \
  do {                                                                                       \
    if (!(cond)) MSG_INTERNAL_ERROR::report(#cond, component, PLAT_CHECK_SOURCE, __LINE__); \
  } while (0)

class MSG_INTERNAL_ERROR {
 public:
  [[noreturn]] static void report(const char* text, const char* component,
                                  const char* file, int line);
};

enum MSG_POST_TYPE { MSG_POST_TYPE_ERROR = 0, MSG_POST_TYPE_INFO = 1, MSG_POST_TYPE_WARNING = 2 };

typedef int MSG_D_LEVEL;

// Debug output. Writes one line (a newline is added when the format has
// none) when the component's output is enabled — key "debug_msg" or
// "debug_msg_<component>" on, or a capture active — and level is at most the
// key "debug_msg_level" (default 3). Lines go to stderr, or to the file named
// by "debug_msg_file", each written whole under a mutex. Returns 0.
int msg_local_vdebug(const char* component, MSG_D_LEVEL level, const char* format, va_list args);
int msg_local_debug(const char* component, MSG_D_LEVEL level, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Thrown by the message library on a failure of its own; the layer never
// throws it today, the type exists so callers can name it in a handler.
class ERR_MSG_EXCEPTION {
 public:
  explicit ERR_MSG_EXCEPTION(std::string what = "") : m_what(std::move(what)) {}
  const char* what() const { return m_what.c_str(); }

 private:
  std::string m_what;
};

// Registers message ids with their kinds for the object's lifetime. A live
// id may be registered again with the same kind (it stays registered until
// every registrar has gone); another kind is an internal error.
class MSG_ID_REGISTRAR {
 public:
  MSG_ID_REGISTRAR(const int* ids, const MSG_POST_TYPE* kinds, int n);
  ~MSG_ID_REGISTRAR();
  MSG_ID_REGISTRAR(const MSG_ID_REGISTRAR&) = delete;
  MSG_ID_REGISTRAR& operator=(const MSG_ID_REGISTRAR&) = delete;

 private:
  std::vector<int> m_ids;
};

// The suppression set. An id is suppressed when suppress(id, true) was
// called, or when it is listed in the key "msg_suppress" (comma-separated
// ids, read on every query) and suppress(id, false) was not called since.
class MSG_INDEX {
 public:
  static MSG_INDEX* get_default_index();
  bool is_suppressed(int id) const;
  void suppress(int id, bool on = true);
};

// A source location attached to a message.
class MSG_LOCATION_SCHEMA {
 public:
  MSG_LOCATION_SCHEMA() = default;
  explicit MSG_LOCATION_SCHEMA(std::string source) : m_source(std::move(source)) {}
  const char* get_unmodified_source() const { return m_source.c_str(); }

 private:
  std::string m_source;
};

class MSG_POST;

// Text and id of a message.
class MSG_BASE {
 public:
  virtual ~MSG_BASE() = default;
  MSG_BASE(const MSG_BASE&) = delete;
  MSG_BASE& operator=(const MSG_BASE&) = delete;

  // `message` is "text/Xname"; then one const char* per distinct "%N!s!" of
  // the text, in increasing N. A wrong or missing severity letter, a missing
  // name or a null argument is an internal error.
  void fill_args(const char* message, ...);
  virtual void set_id(int id);
  int get_id() const { return m_id; }
  bool is_null() const { return m_null; }
  MSG_POST_TYPE get_kind() const { return m_kind; }
  // The expanded text and the name ("" before fill_args).
  const std::string& get_text() const { return m_text; }
  const std::string& get_name() const { return m_name; }

 protected:
  MSG_BASE(MSG_POST_TYPE kind, bool null) : m_kind(kind), m_null(null) {}

 private:
  MSG_POST_TYPE m_kind;
  bool m_null;
  bool m_filled = false;
  int m_id = 0;
  std::string m_text;
  std::string m_name;

  friend struct MSG_POST_ACCESS;
};

class MSG_POST : public MSG_BASE {
 public:
  typedef std::vector<MSG_POST*>::const_iterator SUBMSG_ITER;

  ~MSG_POST() override;

  // Takes ownership of `sub`; a null message deletes it at once.
  void add_msg(MSG_POST* sub);
  SUBMSG_ITER begin_submsg() const { return m_subs.begin(); }
  SUBMSG_ITER end_submsg() const { return m_subs.end(); }
  // Records the source text as a location of the message.
  void add_location(const std::string& text, const MSG_LOCATION_SCHEMA* schema = nullptr,
                    const std::string& extra = "", const std::string& unit = "");
  // Appends the message (with its sub-messages) to the log and prints it,
  // or queues it while MSG_D::m_insert is false. A message without text, or
  // whose id (or a sub-message's) is not registered with its kind, is an
  // internal error. A null message posts nothing.
  virtual void post();

 protected:
  MSG_POST(MSG_POST_TYPE kind, bool null) : MSG_BASE(kind, null) {}

 private:
  std::vector<MSG_POST*> m_subs;
  std::vector<std::string> m_locations;

  friend struct MSG_POST_ACCESS;
};

class MSG_E : public MSG_POST {
 public:
  MSG_E() : MSG_POST(MSG_POST_TYPE_ERROR, false) {}
 protected:
  explicit MSG_E(bool null) : MSG_POST(MSG_POST_TYPE_ERROR, null) {}
};
class MSG_W : public MSG_POST {
 public:
  MSG_W() : MSG_POST(MSG_POST_TYPE_WARNING, false) {}
 protected:
  explicit MSG_W(bool null) : MSG_POST(MSG_POST_TYPE_WARNING, null) {}
};
class MSG_I : public MSG_POST {
 public:
  MSG_I() : MSG_POST(MSG_POST_TYPE_INFO, false) {}
 protected:
  explicit MSG_I(bool null) : MSG_POST(MSG_POST_TYPE_INFO, null) {}
};

// Null twins: every member accepted, post() does nothing, sub-messages are
// discarded.
class MSG_E_NULL : public MSG_E {
 public:
  MSG_E_NULL() : MSG_E(true) {}
};
class MSG_W_NULL : public MSG_W {
 public:
  MSG_W_NULL() : MSG_W(true) {}
};
class MSG_I_NULL : public MSG_I {
 public:
  MSG_I_NULL() : MSG_I(true) {}
};

// A user message without an id, as the suite's scripts post them through
// the flow package ("post_message"): kind and text only, no catalogue entry.
// Logged (entry id 0) and printed as post() does, or queued while
// MSG_D::m_insert is false.
void msg_post_message(MSG_POST_TYPE kind, const std::string& text);

class MSG_D {
 public:
  // While false, post() queues messages instead of logging them.
  static bool m_insert;
  // True when debug output of the component is enabled (configuration or
  // an active capture).
  static bool debug_messages_enabled(const char* component);
};

namespace kavu_platform {

enum MSG_LOG_KIND {
  MSG_LOG_ERROR = MSG_POST_TYPE_ERROR,
  MSG_LOG_INFO = MSG_POST_TYPE_INFO,
  MSG_LOG_WARNING = MSG_POST_TYPE_WARNING,
  MSG_LOG_INTERNAL_ERROR = 3,
};

struct MSG_LOG_ENTRY {
  int id = 0;                              // 0 for internal errors
  MSG_LOG_KIND kind = MSG_LOG_ERROR;
  std::string name;                        // message name; component for internal errors
  std::string text;                        // expanded text; condition for internal errors
  std::vector<std::string> locations;      // file for internal errors
  int line = 0;                            // internal errors only
  std::vector<MSG_LOG_ENTRY> subs;
};

// A copy of the log, in posting order.
std::vector<MSG_LOG_ENTRY> msg_log();
void msg_log_clear();
// Entries with this id, sub-entries included.
int msg_log_count(int id);
// The first entry with this id in posting order (pre-order over sub-entries).
std::optional<MSG_LOG_ENTRY> msg_log_find(int id);
// Moves queued messages into the log, in posting order.
void msg_flush_pending();
// The printed form of an entry ("Warning (286002): …", sub-entries indented).
std::string msg_format_entry(const MSG_LOG_ENTRY& entry);

// Text that came from a file or another process, fit to be quoted in a
// message: every byte outside printable ASCII (terminal escapes, NUL, bytes
// of other encodings) is written as "\xHH", and at most `max_bytes` bytes
// are shown: a longer text keeps its first half and its last half ("..."
// between them, the head taking the odd byte), so neither a terminal escape
// nor a megabyte of text reaches the user, and two long names that differ
// only at their end stay apart. With `escape_quotes` double quotes
// and backslashes are written "\"" and "\\" as well, for text shown between
// double quotes. The result is at most 4 * max_bytes + 3 bytes long.
std::string msg_printable_text(std::string_view text, size_t max_bytes, bool escape_quotes = false);

// The budget for a file path quoted in a message: longer than any path the
// system opens (PATH_MAX), so a path is escaped, never cut.
inline constexpr size_t MSG_MAX_PATH_BYTES = 4096;

}  // namespace kavu_platform
