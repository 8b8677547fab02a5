// Role: general utilities (docs/platform.md, "General utilities").
// gen.h — general utilities: profiler scopes, a portable random generator,
// ticks, text helpers, the project database directory, usage tags and the
// regression-test switch.
//
// GEN_PROFILER: with the key "gen_profile" on (read once, reread after a
//   test reset) a scope adds its wall time and one call to its name's total
//   (thread-safe) and a table of totals prints on stderr at exit; off, a
//   scope costs one branch.
// GEN_RAND: xorshift64* over a 64-bit state derived from the seed by
//   splitmix64, so seed 0 works and every machine draws the same sequence.
// Tags: tag_it records a usage tag (and its text) in a process-wide set.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "gen/gen_dyn_flag.h"

class GEN_PROFILER {
 public:
  GEN_PROFILER(const char* module, const char* name, unsigned flags = 0);
  ~GEN_PROFILER();
  GEN_PROFILER(const GEN_PROFILER&) = delete;
  GEN_PROFILER& operator=(const GEN_PROFILER&) = delete;

 private:
  const char* m_module;
  const char* m_name;
  bool m_on;
  std::chrono::steady_clock::time_point m_start;
};

class GEN_RAND {
 public:
  explicit GEN_RAND(uint64_t seed = 0) { set_seed(seed); }
  void set_seed(uint64_t seed);
  // 32 uniform bits.
  uint32_t get_uint();
  // Uniform in 0 .. 2^31 - 1.
  int get_rand() { return static_cast<int>(get_uint() >> 1); }
  // Uniform in 0 .. n - 1; n must be positive.
  int get_int(int n);
  // Uniform in [0, 1), 53 bits.
  double get_double();

 private:
  uint64_t next();
  uint64_t m_state = 1;
};

// Milliseconds of a monotonic clock.
uint64_t gen_get_tick_count();
// The project database directory: the one set for the compile, else the key
// "db_dir", else "./db". Full path. A query: nothing is created, so reading
// the database never leaves a directory behind; a call that writes into it
// makes it first with gen_make_db_dir.
std::string gen_get_db_dir_path();
// Makes the project database directory, and its missing parents, for a call
// about to write into it. True when it is a directory this process can make
// files in (tried with a file made and removed again); otherwise false,
// *reason (when given) the system's words for why ("Permission denied",
// "Read-only file system", "Not a directory").
bool gen_make_db_dir(std::string* reason = nullptr);
// True when a write into directory `dir` failed for want of room: `err` (an
// errno value, 0 when unknown) is ENOSPC or EDQUOT, or the file system of
// `dir` is one that stores blocks and has none left for this user. Kernel
// pseudo file systems (/proc, /sys) report no blocks at all and are never
// full; their failures have other reasons.
bool gen_disk_is_full(const std::string& dir, int err = 0);
// flock(fd, operation), which tests can make fail with a chosen error
// number, as a file system without locks fails it (platform_test_hooks.h).
int gen_lock_file(int fd, int operation);
// The same for a POSIX record lock of the whole file, owned by the open file
// (fcntl F_OFD_SETLK, never waiting): `operation` is LOCK_EX (a write lock;
// `fd` open for writing), LOCK_SH (a read lock) or LOCK_UN. An NFS server
// holds its clients' locks as such locks, so a local holder meets theirs,
// which flock does not. 0, or -1 with errno (EAGAIN while another holds a
// lock that conflicts); tests make it fail as gen_lock_file.
int gen_lock_file_records(int fd, int operation);
// strcmp with null ordered before every text.
int gen_strcmp(const char* a, const char* b);
// The same, ASCII letters compared without case.
int gen_stricmp(const char* a, const char* b);
char gen_ascii_toupper(char c);
// `text` without leading and trailing blanks, tabs, CR and LF.
std::string gen_remove_leading_and_trailing_spaces(const std::string& text);

// Records usage tag `tag`; `format` (printf-style, optional) gives its text.
void tag_it(int tag, const char* format = nullptr, ...);
// The key "regtest_mode" (default off), read on each call.
bool tst_is_regtest_mode();

namespace kavu_platform {
bool tag_is_set(int tag);
// The texts recorded with `tag`, in order.
std::vector<std::string> tag_texts(int tag);
void tag_reset();
// Calls recorded by profiler scopes of `name` since the last reset.
long gen_profile_calls(const char* name);
// The directory gen_get_db_dir_path returns before the key (set by the
// compiler facade); "" clears it.
void gen_set_db_dir_path(const std::string& dir);
}  // namespace kavu_platform
