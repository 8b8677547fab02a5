// gen.cpp — profiler totals, the random generator, ticks, text helpers, the
// database directory and usage tags.
//
// The database directory is only named by gen_get_db_dir_path; it is made
// by gen_make_db_dir, which writers call, and whose failure is the writer's
// failure with the system's reason, never an abort.
//
// Process-wide state (profiler totals, tags, the directory override) lives
// in objects created on first use and never destroyed, each behind its own
// mutex, so scopes and tags may be used from any thread and from static
// destructors.
#include "gen/gen.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>

#include "cfg/cfg.h"
#include "fio/fio.h"
#include "msg/msg.h"
#include "testkit/platform_test_hooks.h"
#include "thr/thr_fork_int.h"

namespace {

// ---- profiler ----
struct PROFILE_TOTAL {
  long calls = 0;
  double seconds = 0;
};

struct PROFILE_STATE {
  std::mutex mutex;
  std::map<std::string, PROFILE_TOTAL> totals;  // "module:name", printed sorted
};

PROFILE_STATE& profile_state() {
  static PROFILE_STATE* s = [] {
    PROFILE_STATE* made = new PROFILE_STATE;
    thr_lock_across_fork(&made->mutex, THR_FORK_GEN);
    return made;
  }();
  return *s;
}

// -1 not read yet, else the key's value.
std::atomic<int> g_profile_on{-1};
// The process whose totals the table at exit prints: a child forked without
// exec inherits the exit function, not the parent's report.
std::atomic<pid_t> g_profile_process{0};

bool profiling_on() {
  int on = g_profile_on.load(std::memory_order_relaxed);
  if (on < 0) {
    on = cfg_is_on("gen_profile", false) ? 1 : 0;
    g_profile_on.store(on);
  }
  return on == 1;
}

void print_profile_table() {
  if (g_profile_process.load() != getpid()) return;  // before the mutex a parent's thread may hold
  PROFILE_STATE& s = profile_state();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.totals.empty()) return;
  std::fprintf(stderr, "%-48s %10s %12s\n", "profile scope", "calls", "seconds");
  for (const auto& [name, t] : s.totals)
    std::fprintf(stderr, "%-48s %10ld %12.3f\n", name.c_str(), t.calls, t.seconds);
}

// ---- tags ----
struct TAG_STATE {
  std::mutex mutex;
  std::map<int, std::vector<std::string>> tags;
};

TAG_STATE& tag_state() {
  static TAG_STATE* s = [] {
    TAG_STATE* made = new TAG_STATE;
    thr_lock_across_fork(&made->mutex, THR_FORK_GEN);
    return made;
  }();
  return *s;
}

// ---- database directory ----
struct DB_DIR_STATE {
  std::mutex mutex;
  std::string override_dir;
};

DB_DIR_STATE& db_dir_state() {
  static DB_DIR_STATE* s = [] {
    DB_DIR_STATE* made = new DB_DIR_STATE;
    thr_lock_across_fork(&made->mutex, THR_FORK_GEN);
    return made;
  }();
  return *s;
}

// Made as the layer loads, not at first use: a process that forks while
// another thread makes it would leave its child waiting for it for ever.
// The profile table's printing at exit is registered with them; it prints
// in the process that recorded the totals only.
[[maybe_unused]] const bool g_gen_at_load =
    (profile_state(), tag_state(), db_dir_state(), std::atexit(print_profile_table), true);

uint64_t splitmix64(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

}  // namespace

// ---------------------------------------------------------------- profiler

GEN_PROFILER::GEN_PROFILER(const char* module, const char* name, unsigned)
    : m_module(module ? module : ""), m_name(name ? name : ""), m_on(profiling_on()) {
  if (m_on) m_start = std::chrono::steady_clock::now();
}

GEN_PROFILER::~GEN_PROFILER() {
  if (!m_on) return;
  double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
  PROFILE_STATE& s = profile_state();
  std::lock_guard<std::mutex> lock(s.mutex);
  PROFILE_TOTAL& t = s.totals[std::string(m_module) + ":" + m_name];
  ++t.calls;
  t.seconds += seconds;
  pid_t none = 0;
  g_profile_process.compare_exchange_strong(none, getpid());  // the process whose table prints
}

// ---------------------------------------------------------------- random numbers

void GEN_RAND::set_seed(uint64_t seed) {
  m_state = splitmix64(seed);
  if (m_state == 0) m_state = 0x9E3779B97F4A7C15ull;  // xorshift never leaves 0
}

uint64_t GEN_RAND::next() {
  m_state ^= m_state >> 12;
  m_state ^= m_state << 25;
  m_state ^= m_state >> 27;
  return m_state * 0x2545F4914F6CDD1Dull;
}

uint32_t GEN_RAND::get_uint() { return static_cast<uint32_t>(next() >> 32); }

int GEN_RAND::get_int(int n) {
  PLAT_CHECK(n > 0, "PLATFORM");
  // Rejection keeps every value equally likely.
  uint32_t range = static_cast<uint32_t>(n);
  uint32_t limit = UINT32_MAX - UINT32_MAX % range;
  uint32_t v;
  do {
    v = get_uint();
  } while (v >= limit);
  return static_cast<int>(v % range);
}

double GEN_RAND::get_double() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }

// ---------------------------------------------------------------- small utilities

uint64_t gen_get_tick_count() {
  auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

std::string gen_get_db_dir_path() {
  std::string dir;
  {
    DB_DIR_STATE& s = db_dir_state();
    std::lock_guard<std::mutex> lock(s.mutex);
    dir = s.override_dir;
  }
  if (dir.empty()) dir = cfg_get_value("db_dir");
  if (dir.empty()) dir = "./db";
  return fio_get_unc_full_path(dir);
}

bool gen_make_db_dir(std::string* reason) {
  const std::string dir = gen_get_db_dir_path();
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(dir), ec);
  // create_directories reports success without a word when the path exists
  // as a file; the checks below give the system's reason for that too.
  struct stat st;
  int err = ec ? ec.value() : 0;
  if (!err && ::stat(dir.c_str(), &st) != 0) err = errno;
  if (!err && !S_ISDIR(st.st_mode)) err = ENOTDIR;
  if (!err) {
    // Permission bits do not tell (root passes them; a kernel pseudo file
    // system refuses new files whatever they say): a file made and removed
    // again does, with the system's reason. The file is made without a name
    // where the file system can (an append-only directory would keep a named
    // one), else under a unique name removed at once.
    int fd = ::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd >= 0) {
      ::close(fd);
    } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
      err = errno;
    } else {
      std::string probe = dir + "/.kavu_write_probe_XXXXXX";
      fd = ::mkstemp(probe.data());
      if (fd < 0) {
        err = errno;
      } else {
        ::close(fd);
        ::unlink(probe.c_str());
      }
    }
  }
  if (!err) return true;
  if (reason) *reason = std::strerror(err);
  return false;
}

bool gen_disk_is_full(const std::string& dir, int err) {
  if (err == ENOSPC || err == EDQUOT) return true;
  struct statvfs st;
  if (::statvfs(dir.c_str(), &st) != 0) return false;
  return st.f_blocks > 0 && st.f_bavail == 0;
}

namespace {
std::atomic<int> g_lock_failure{0};  // what gen_lock_file fails with (0: flock is called)
}  // namespace

int gen_lock_file(int fd, int operation) {
  if (const int error = g_lock_failure.load()) {
    errno = error;
    return -1;
  }
  return ::flock(fd, operation);
}

int gen_lock_file_records(int fd, int operation) {
  if (const int error = g_lock_failure.load()) {
    errno = error;
    return -1;
  }
  struct flock lock = {};
  const int kind = operation & ~LOCK_NB;
  lock.l_type = kind == LOCK_EX ? F_WRLCK : kind == LOCK_SH ? F_RDLCK : F_UNLCK;
  lock.l_whence = SEEK_SET;  // the whole file, as it grows too
  return ::fcntl(fd, F_OFD_SETLK, &lock);
}

int gen_strcmp(const char* a, const char* b) {
  if (!a || !b) return (a ? 1 : 0) - (b ? 1 : 0);
  return std::strcmp(a, b);
}

int gen_stricmp(const char* a, const char* b) {
  if (!a || !b) return (a ? 1 : 0) - (b ? 1 : 0);
  for (;; ++a, ++b) {
    int ca = static_cast<unsigned char>(gen_ascii_toupper(*a));
    int cb = static_cast<unsigned char>(gen_ascii_toupper(*b));
    if (ca != cb || ca == 0) return ca - cb;
  }
}

char gen_ascii_toupper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

std::string gen_remove_leading_and_trailing_spaces(const std::string& text) {
  const char* blanks = " \t\r\n\v\f";
  size_t b = text.find_first_not_of(blanks);
  if (b == std::string::npos) return std::string();
  size_t e = text.find_last_not_of(blanks);
  return text.substr(b, e - b + 1);
}

void tag_it(int tag, const char* format, ...) {
  std::string text;
  if (format) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n > 0) {
      text.resize(static_cast<size_t>(n) + 1);
      std::vsnprintf(text.data(), text.size(), format, args);
      text.resize(static_cast<size_t>(n));
    }
    va_end(args);
  }
  TAG_STATE& s = tag_state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.tags[tag].push_back(std::move(text));
}

bool tst_is_regtest_mode() { return cfg_is_on("regtest_mode", false); }

// ---------------------------------------------------------------- test hooks

namespace kavu_platform {

bool tag_is_set(int tag) {
  TAG_STATE& s = tag_state();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.tags.count(tag) != 0;
}

std::vector<std::string> tag_texts(int tag) {
  TAG_STATE& s = tag_state();
  std::lock_guard<std::mutex> lock(s.mutex);
  auto it = s.tags.find(tag);
  return it == s.tags.end() ? std::vector<std::string>() : it->second;
}

void tag_reset() {
  TAG_STATE& s = tag_state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.tags.clear();
}

long gen_profile_calls(const char* name) {
  PROFILE_STATE& s = profile_state();
  std::lock_guard<std::mutex> lock(s.mutex);
  long calls = 0;
  std::string suffix = std::string(":") + (name ? name : "");
  for (const auto& [key, t] : s.totals) {
    if (key.size() >= suffix.size() && key.compare(key.size() - suffix.size(), suffix.size(), suffix) == 0)
      calls += t.calls;
  }
  return calls;
}

void gen_set_db_dir_path(const std::string& dir) {
  DB_DIR_STATE& s = db_dir_state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.override_dir = dir;
}

void gen_test_reset() {
  tag_reset();
  {
    PROFILE_STATE& s = profile_state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.totals.clear();
  }
  g_profile_on.store(-1);
  gen_set_db_dir_path("");
  g_lock_failure.store(0);
}

void gen_test_fail_file_locks(int error) { g_lock_failure.store(error); }

}  // namespace kavu_platform
