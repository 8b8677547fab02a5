// Role: test kit (docs/platform.md, "Test kit").
// platform_testkit.h — GoogleTest support for the platform layer and the
// library: internal errors as exceptions, equivalence assertions, debug
// capture, scoped configuration, netlist invariant tracking, committed
// circuits and small netlist builders.
//
// The test kit's main() installs a hook that turns every internal error into
// a kavu_platform::test_internal_error, switches message printing off, and
// before each test resets every singleton of the layer and moves into a
// fresh scratch directory (removed after the test).
//
//   EXPECT_KAVU_INTERNAL_ERROR(stmt, "words")  stmt reports an internal error
//                                             whose text holds every word
//   ASSERT_KAVU_EQUIVALENT(a, b)              simulation always, berkeley-abc
//                                             when installed
//   KAVU_TRACK(netlist)                       check() the netlist when the
//                                             enclosing scope ends
//   DEBUG_CAPTURE cap("KAVU");                enable and record debug lines
//   CFG_SCOPE cfg{{"key", "value"}};          set keys for a scope
//   auto nl = load_blif("name");              a committed circuit
#pragma once

#include <sys/types.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "netlist_io/blif.h"

// Defined in a build with AddressSanitizer (gcc or clang): tests that limit
// the address space or count the memory a read takes cannot run there.
#if defined(__SANITIZE_ADDRESS__)
#define KAVU_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KAVU_UNDER_ASAN 1
#endif
#endif

#include "testkit/platform_test_hooks.h"

namespace kavu_platform {

// What the test kit's internal-error hook throws.
class test_internal_error : public std::exception {
 public:
  test_internal_error(std::string text, std::string component_, std::string file_, int line_)
      : component(std::move(component_)), file(std::move(file_)), line(line_), m_text(std::move(text)) {}
  const char* what() const noexcept override { return m_text.c_str(); }

  std::string component;
  std::string file;
  int line;

 private:
  std::string m_text;
};

// True when every blank-separated word of `words` occurs in `text`.
bool text_contains_words(const std::string& text, const std::string& words);

// A device every write to fails with "No space left on device": under root
// a node of the test's own in the working directory ("full", as /dev/full),
// so a writer that removes what it fails to write cannot remove the
// system's; otherwise "/dev/full", which no other user may remove. "" when
// root cannot make the node.
std::string testkit_full_device();

// Runs `fn` in a child process whose address space is limited to what the
// process has mapped plus `budget` bytes: true when it returned true, false
// when it returned false or an exception (std::bad_alloc) escaped it, or
// the child died. (Under AddressSanitizer, which reserves more address
// space than any such limit, tests that use it skip.)
bool run_within_address_space(uint64_t budget, const std::function<bool()>& fn);

// The unprivileged user that rows acting as a second user run as.
constexpr unsigned kTestNobody = 65534;
// The unprivileged user the process-limit rows run as: an id of no account
// and of no other row, so that no process but the row's own counts against
// the per-user limit (RLIMIT_NPROC) it sets, while rows that run as
// kTestNobody start and end processes beside it. Those rows take turns
// (TESTKIT_PROCESS_LIMIT_ROWS).
constexpr unsigned kTestProcessLimitUser = 64434;
// Runs `fn` in a child process, in `dir` when it is not empty, as the user
// `uid` (its own group, no others) when `uid` is not root: what `fn`
// returned; "cannot enter the directory"; "cannot become the user"; "ended
// by <what>" when an exception (an internal error) left it; "died".
std::string run_in_child_as(unsigned uid, const std::string& dir, const std::function<std::string()>& fn);
// Tasks (threads) of the user `uid` in the whole system, which
// RLIMIT_NPROC counts.
long testkit_tasks_of_user(unsigned uid);
// A process that runs `make` and then lives on until the object goes, as a
// run that has not ended: `pid` (-1 when it could not be started).
struct TESTKIT_LIVE_PROCESS {
  pid_t pid = -1;
  explicit TESTKIT_LIVE_PROCESS(const std::function<void()>& make = [] {});
  ~TESTKIT_LIVE_PROCESS();
  TESTKIT_LIVE_PROCESS(const TESTKIT_LIVE_PROCESS&) = delete;
  TESTKIT_LIVE_PROCESS& operator=(const TESTKIT_LIVE_PROCESS&) = delete;

 private:
  int m_go = -1;
};
// Rows that set a process limit for the unprivileged user count that
// user's processes, which every such row's processes change: they run one
// at a time, across the test programs, each holding this lock for its life.
class TESTKIT_PROCESS_LIMIT_ROWS {
 public:
  TESTKIT_PROCESS_LIMIT_ROWS();
  ~TESTKIT_PROCESS_LIMIT_ROWS();
  TESTKIT_PROCESS_LIMIT_ROWS(const TESTKIT_PROCESS_LIMIT_ROWS&) = delete;
  TESTKIT_PROCESS_LIMIT_ROWS& operator=(const TESTKIT_PROCESS_LIMIT_ROWS&) = delete;

 private:
  int m_fd;
};
// Sets a POSIX access ACL on the directory `dir` through its extended
// attribute: the owner rwx, the owning group and others r-x, one named
// entry (`tag` 2 a user, 8 a group) of `id` with `perm`, and the mask
// `mask` (which the group bits of the mode show). False where the file
// system refuses it.
bool testkit_set_acl(const std::string& dir, uint16_t tag, uint16_t perm, uint32_t id, uint16_t mask);
// Lets every user pass through the scratch directory and its parent, as a
// shared project directory is reached, for the scope's life.
class SCRATCH_REACHED_BY_ALL {
 public:
  SCRATCH_REACHED_BY_ALL();
  ~SCRATCH_REACHED_BY_ALL();
  SCRATCH_REACHED_BY_ALL(const SCRATCH_REACHED_BY_ALL&) = delete;
  SCRATCH_REACHED_BY_ALL& operator=(const SCRATCH_REACHED_BY_ALL&) = delete;

 private:
  std::vector<std::pair<std::string, unsigned>> m_saved;  // directory, mode bits
};

// Simulation (sim_equivalent) and, when berkeley-abc is installed, the
// outside oracle; the oracle's absence is noted on stdout, not a failure.
::testing::AssertionResult netlists_equivalent(const CDB_SGATE_NETLIST* a, const CDB_SGATE_NETLIST* b);

// Netlist arguments of the macros: pointer, reference or owning pointer.
inline const CDB_SGATE_NETLIST* testkit_netlist_ptr(const CDB_SGATE_NETLIST* n) { return n; }
inline const CDB_SGATE_NETLIST* testkit_netlist_ptr(const CDB_SGATE_NETLIST& n) { return &n; }
template <class D>
const CDB_SGATE_NETLIST* testkit_netlist_ptr(const std::unique_ptr<CDB_SGATE_NETLIST, D>& n) {
  return n.get();
}

// Runs check() on a netlist when destroyed; a broken invariant fails the
// current test at the line that tracked it. The netlist must outlive the
// tracker (declare the tracker after the netlist, as KAVU_TRACK does).
class NETLIST_TRACKER {
 public:
  NETLIST_TRACKER(const CDB_SGATE_NETLIST* netlist, const char* file, int line)
      : m_netlist(netlist), m_file(file), m_line(line) {}
  ~NETLIST_TRACKER();
  NETLIST_TRACKER(const NETLIST_TRACKER&) = delete;
  NETLIST_TRACKER& operator=(const NETLIST_TRACKER&) = delete;

 private:
  const CDB_SGATE_NETLIST* m_netlist;
  const char* m_file;
  int m_line;
};

// Enables debug output of a component for its lifetime and records every
// line (within the debug_msg_level threshold).
class DEBUG_CAPTURE {
 public:
  explicit DEBUG_CAPTURE(const char* component) : m_handle(msg_debug_capture_begin(component)) {}
  ~DEBUG_CAPTURE() { msg_debug_capture_end(m_handle); }
  DEBUG_CAPTURE(const DEBUG_CAPTURE&) = delete;
  DEBUG_CAPTURE& operator=(const DEBUG_CAPTURE&) = delete;

  std::vector<std::string> lines() const { return msg_debug_capture_lines(m_handle); }
  // True when some line contains `text`.
  bool contains(const std::string& text) const;

 private:
  int m_handle;
};

// Sets configuration keys from code for its lifetime (a null value unsets
// the key) and restores each key's earlier code-set state at the end.
class CFG_SCOPE {
 public:
  CFG_SCOPE(std::initializer_list<std::pair<const char*, const char*>> values);
  ~CFG_SCOPE();
  CFG_SCOPE(const CFG_SCOPE&) = delete;
  CFG_SCOPE& operator=(const CFG_SCOPE&) = delete;

 private:
  struct SAVED {
    std::string key;
    bool was_set;
    std::string value;
  };
  std::vector<SAVED> m_saved;
};

// ---- committed circuits ----
// Deletes a loaded netlist and then its hierarchy.
struct LOADED_NETLIST_DELETER {
  CDB_SGATE_HIERARCHY* hierarchy = nullptr;
  void operator()(CDB_SGATE_NETLIST* netlist) const;
};
typedef std::unique_ptr<CDB_SGATE_NETLIST, LOADED_NETLIST_DELETER> LOADED_NETLIST;

// The path of a committed circuit: `name` with ".blif" added when missing,
// under tests/data/blif, tried as given and then in small/, seq/, mcnc/,
// epfl/. Empty when no such file exists.
std::string blif_data_path(const std::string& name);
// Reads a committed circuit; a missing file or a reader error throws
// std::runtime_error, which fails the test with the reason.
LOADED_NETLIST load_blif(const std::string& name, const BLIF_READ_OPTIONS& options = {});
// The committed circuits of the given folders of tests/data/blif (all
// folders when empty), as "folder/stem" names that load_blif accepts,
// sorted.
std::vector<std::string> bundled_circuits(const std::vector<std::string>& folders = {});

// ---- small builders ----
// Each adds one gate to the netlist and returns it. A source is a gate
// (its single output); a null source ties the input to VCC. Pins are named
// "top|<name>" in the default namespace (gate and output), so
// sim_equivalent pairs them by name across netlists.
CDB_SGATE_NODE* make_input_pin(CDB_SGATE_NETLIST* netlist, const char* name);
CDB_SGATE_NODE* make_output_pin(CDB_SGATE_NETLIST* netlist, const char* name, CDB_SGATE_NODE* src,
                                bool inverted = false);
CDB_SGATE_NODE* make_and(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* a, CDB_SGATE_NODE* b);
CDB_SGATE_NODE* make_or(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* a, CDB_SGATE_NODE* b);
CDB_SGATE_NODE* make_xor(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* a, CDB_SGATE_NODE* b);
CDB_SGATE_NODE* make_not(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* a);
// Output = select ? d1 : d0.
CDB_SGATE_NODE* make_mux(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* d0, CDB_SGATE_NODE* d1,
                         CDB_SGATE_NODE* select);
// A LUT over `inputs` (input i is mask variable i) with the 2^n-bit mask.
CDB_SGATE_NODE* make_lut(CDB_SGATE_NETLIST* netlist, const std::vector<CDB_SGATE_NODE*>& inputs,
                         uint64_t mask);
// A buffer of that type with one input at position 0, driven by `src` (a
// null source leaves the input unconnected).
CDB_SGATE_BUFFER* make_buffer(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* src,
                              CDB_BUFFER_TYPE type = CDB_BUFFER_LCELL);
// A plain register with all nine inputs; data and clock connected (a null
// clock stays unconnected), the other controls unconnected.
CDB_SGATE_NODE* make_dff(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* d, CDB_SGATE_NODE* clk);

}  // namespace kavu_platform

#define EXPECT_KAVU_INTERNAL_ERROR(stmt, words)                                              \
  do {                                                                                       \
    bool kavu_caught_ = false;                                                               \
    std::string kavu_text_;                                                                  \
    try {                                                                                    \
      stmt;                                                                                  \
    } catch (const ::kavu_platform::test_internal_error& kavu_e_) {                          \
      kavu_caught_ = true;                                                                   \
      kavu_text_ = kavu_e_.what();                                                           \
    }                                                                                        \
    EXPECT_TRUE(kavu_caught_) << "no internal error from: " #stmt;                           \
    if (kavu_caught_) {                                                                      \
      EXPECT_TRUE(::kavu_platform::text_contains_words(kavu_text_, words))                  \
          << "internal error \"" << kavu_text_ << "\" lacks \"" << (words) << "\"";          \
    }                                                                                        \
  } while (0)

#define ASSERT_KAVU_EQUIVALENT(a, b)                                                          \
  ASSERT_TRUE(::kavu_platform::netlists_equivalent(::kavu_platform::testkit_netlist_ptr(a),  \
                                                   ::kavu_platform::testkit_netlist_ptr(b)))

#define KAVU_TRACK_CAT2_(a, b) a##b
#define KAVU_TRACK_CAT_(a, b) KAVU_TRACK_CAT2_(a, b)
#define KAVU_TRACK(netlist)                                                  \
  ::kavu_platform::NETLIST_TRACKER KAVU_TRACK_CAT_(kavu_tracker_, __COUNTER__)( \
      ::kavu_platform::testkit_netlist_ptr(netlist), __FILE__, __LINE__)
