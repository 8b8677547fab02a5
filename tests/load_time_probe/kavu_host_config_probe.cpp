// kavu_host_config_probe — a host that sets the library's configuration in
// its own process before its first call, as a test harness or a wrapper
// that builds the settings does, and checks that the call sees it.
//
//   kavu_host_config_probe set|file|start DESIGN.blif WORK_DIR
//     set:   setenv KAVU_INI_SET naming the constraint file, then the call
//     file:  writes an ini file naming it, setenv KAVU_INI_FILE, the call
//     start: the caller set the configuration before the process started
//   kavu_host_config_probe keys
//     setenv KAVU_INI_SET with four of the library's key globals, assigns
//     one from code, then prints them ("keys 75 0 1234 7" when the first
//     use read the others and kept the assignment)
//   kavu_host_config_probe limit DESIGN.blif
//     setrlimit(RLIMIT_AS) to 4 GiB in main, then reads the design and
//     allocates 64 MiB ("read N gates under the limit" when both work):
//     nothing the libraries did as they loaded may have sized itself by
//     the address space without a limit
//   kavu_host_config_probe state
//     prints the SIGPIPE disposition and the character-type and numeric
//     locales as main finds them ("SIGPIPE default, LC_CTYPE C, LC_NUMERIC
//     C" for a host that set neither): loading changes neither
//   kavu_host_config_probe fork-at-first-read WORK_DIR
//     a thread makes the first configuration read (a large ini file) while
//     the main thread forks; each child reads a key and must end.
//   kavu_host_config_probe source-set-before-first-call WORK_DIR
//     started in the C locale, sets LC_ALL=C.UTF-8 in main, then has Tcl
//     source a script whose name and text are UTF-8 ("sourced été" when
//     Tcl reads both in the locale the host set before its first call)
//   kavu_host_config_probe assign-during-first-read
//     a thread's first use of the key globals is held in the middle of the
//     read (its warning about a malformed key waits on a full stderr pipe)
//     while the main thread assigns one of them from code; then prints it
//     ("assigned 42" when the read that ends later kept the assignment)
//
// The call: the design read, its timing netlist built with the constraints
// (a clock and a false path from it to register n_n852, plus a clock
// uncertainty and a latency the engine skips); prints "constrained C of R,
// warnings W" and exits 0 when one register of eight carries a constraint and each of
// the two skipped lines gave a warning, 1 otherwise, 2 when it cannot run.
// It links the libraries as a host does (no test support), so nothing but
// the call reads the configuration.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "atcl/atcl.h"
#include "netlist_io/blif.h"
#include "cdb/cdb_sgate.h"
#include "cfg/cfg.h"
#include "kavu_setup.h"
#include "msg/msg.h"
#include "ssc/ssc.h"

using namespace kavu_platform;

namespace {

const char* const kSdc =
    "create_clock -name c -period 10 [get_ports clock]\n"
    "set_false_path -from [get_clocks c] -to [get_cells n_n852]\n"
    "set_clock_uncertainty 1 [get_clocks c]\n"
    "set_clock_latency 1 [get_clocks c]\n";

int count_constraints(const std::string& design) {
  BLIF_RESULT r = blif_read_file(design);
  if (!r.netlist) {
    std::fprintf(stderr, "cannot read %s: %s\n", design.c_str(), r.error.c_str());
    return 2;
  }
  SSC_UTIL* u = ssc_get_util();
  if (!u->initialize_netlist(nullptr, r.netlist, SSC_DELAY_MODEL_UNIT, nullptr)) {
    std::fprintf(stderr, "no timing netlist\n");
    return 2;
  }
  int registers = 0, constrained = 0;
  for (auto it = r.netlist->begin_node_list(); it != r.netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* g = *it;
    if (!g || !g->cast_to_dff()) continue;
    ++registers;
    constrained += u->oterm_has_sdc_constraint(g->get_output_term(0)) ? 1 : 0;
  }
  msg_flush_pending();
  int warnings = 0;
  for (const MSG_LOG_ENTRY& e : msg_log()) warnings += e.kind == MSG_LOG_WARNING ? 1 : 0;
  u->delete_netlist();
  std::printf("constrained %d of %d, warnings %d\n", constrained, registers, warnings);
  return constrained == 1 && registers == 8 && warnings == 2 ? 0 : 1;
}

// The first read of a large ini file on another thread, forks meanwhile:
// every child reads a key and ends within its alarm.
int fork_at_first_read(const std::string& dir) {
  const std::string ini = dir + "/large.ini";
  {
    std::ofstream out(ini);
    for (int i = 0; i < 400000; ++i) out << "# padding line " << i << " of a large file\n";
    out << "user_ini_switch_7 = on\n";
  }
  setenv("KAVU_INI_FILE", ini.c_str(), 1);
  std::atomic<bool> done{false};
  std::thread reader([&] {
    const bool on = cfg_user_ini_is_on(7);
    done = true;
    if (!on) std::fprintf(stderr, "the reader missed the key\n");
  });
  int children = 0, failed = 0;
  while (!done || children < 3) {
    const pid_t pid = fork();
    if (pid < 0) return 2;
    if (pid == 0) {
      alarm(20);  // a child left waiting for a lock ends by the alarm
      _exit(cfg_user_ini_is_on(7) ? 0 : 3);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ++children;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++failed;
  }
  reader.join();
  std::printf("children %d, failed %d\n", children, failed);
  return failed == 0 && cfg_user_ini_is_on(7) ? 0 : 1;
}

// The host's locale, set in main, governs the file names and scripts Tcl
// opens: Tcl took its encoding from the environment as the library loaded.
int source_set_before_first_call(const std::string& dir) {
  locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(0));
  if (!utf8) {
    std::printf("skipped: the system has no C.UTF-8 locale\n");
    return 77;
  }
  freelocale(utf8);
  setenv("LC_ALL", "C.UTF-8", 1);
  const std::string script = dir + "/\xc3\xa9t\xc3\xa9.tcl";  // "été.tcl"
  std::ofstream(script) << "set word \xc3\xa9t\xc3\xa9\n";
  std::string result;
  const bool ok = atcl_eval("source {" + script + "}", &result);
  std::printf("%s %s\n", ok ? "sourced" : "failed", result.c_str());
  return ok && result == "\xc3\xa9t\xc3\xa9" ? 0 : 1;
}

// True once thread `tid` of this process waits in a write (its warning on
// the full stderr pipe).
bool waits_in_write(pid_t tid) {
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/syscall");
  long number = -1;
  return (in >> number) && (number == SYS_write || number == SYS_writev);
}

// A thread's first use of the key globals reads them all; it is held half
// way (kavu_confidence, read second, is malformed and its warning waits on
// a full stderr pipe) while this thread assigns kavu_mac_port_delay, read
// last. The assignment must outlive the read the other thread finishes.
int assign_during_first_read() {
  setenv("KAVU_INI_SET", "kavu_confidence=not-a-number;kavu_mac_port_delay=5", 1);
  (void)cfg_get_value("kavu_mac_port_delay");  // the store's own first read, here
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return 2;
  const int saved_stderr = dup(2);
  std::fflush(stderr);
  dup2(pipe_fds[1], 2);
  fcntl(pipe_fds[1], F_SETFL, O_NONBLOCK);
  static const char fill[4096] = {};
  while (write(pipe_fds[1], fill, sizeof fill) > 0) {
  }
  fcntl(pipe_fds[1], F_SETFL, 0);
  std::atomic<pid_t> reader_tid{0};
  std::atomic<bool> reader_done{false};
  std::thread reader([&] {
    reader_tid = pid_t(syscall(SYS_gettid));
    (void)int(kavu_confidence);
    reader_done = true;
  });
  while (reader_tid == 0) std::this_thread::yield();
  if (!std::ifstream("/proc/self/task/" + std::to_string(reader_tid) + "/syscall")) {
    std::printf("skipped: no /proc/self/task/TID/syscall to see the reader wait\n");
    std::fflush(stdout);
    _exit(77);  // the reader stays held on the full pipe
  }
  while (!waits_in_write(reader_tid)) std::this_thread::yield();
  kavu_mac_port_delay = 42;
  fcntl(pipe_fds[0], F_SETFL, O_NONBLOCK);
  char drain[4096];
  while (!reader_done)
    if (read(pipe_fds[0], drain, sizeof drain) <= 0) std::this_thread::yield();
  reader.join();
  dup2(saved_stderr, 2);
  const int kept = kavu_mac_port_delay;
  std::printf("assigned %d\n", kept);
  return kept == 42 ? 0 : 1;
}

}  // namespace

#if defined(__SANITIZE_ADDRESS__)
#define KAVU_PROBE_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KAVU_PROBE_ASAN 1
#endif
#endif

int read_under_limit(const char* design) {
#ifdef KAVU_PROBE_ASAN
  (void)design;
  std::printf("skipped: the address sanitizer's shadow memory does not fit an address-space limit\n");
  return 77;
#endif
  struct rlimit limit = {uint64_t(4) << 30, uint64_t(4) << 30};
  if (setrlimit(RLIMIT_AS, &limit) != 0) return 2;
  BLIF_RESULT r = blif_read_file(design);
  void* block = std::malloc(size_t(64) << 20);
  if (!r.netlist || !block) {
    std::printf("refused under the limit: %s%s\n", r.netlist ? "" : r.error.c_str(), block ? "" : " (64 MiB refused)");
    return 1;
  }
  std::free(block);
  int gates = 0;
  for (auto it = r.netlist->begin_node_list(); it != r.netlist->end_node_list(); ++it) gates += *it ? 1 : 0;
  std::printf("read %d gates under the limit\n", gates);
  return 0;
}

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "state") == 0) {
    struct sigaction pipe_action {};
    sigaction(SIGPIPE, nullptr, &pipe_action);
    std::printf("SIGPIPE %s, LC_CTYPE %s, LC_NUMERIC %s\n",
                pipe_action.sa_handler == SIG_IGN ? "ignored" : pipe_action.sa_handler == SIG_DFL ? "default" : "handled",
                std::setlocale(LC_CTYPE, nullptr), std::setlocale(LC_NUMERIC, nullptr));
    return 0;
  }
  if (argc == 3 && std::strcmp(argv[1], "limit") == 0) return read_under_limit(argv[2]);
  if (argc == 2 && std::strcmp(argv[1], "keys") == 0) {
    setenv("KAVU_INI_SET", "kavu_confidence=75;kavu_ssc_skip_sdc_load=off;kavu_min_netlist_size=1234;kavu_wt_sr=3", 1);
    kavu_wt_sr = 7;  // the first use: an assignment, which the keys read after it must not undo
    std::printf("keys %d %d %d %d\n", int(kavu_confidence), int(kavu_ssc_skip_sdc_load), int(kavu_min_netlist_size),
                int(kavu_wt_sr));
    return 0;
  }
  if (argc == 3 && std::strcmp(argv[1], "source-set-before-first-call") == 0)
    return source_set_before_first_call(argv[2]);
  if (argc == 2 && std::strcmp(argv[1], "assign-during-first-read") == 0) return assign_during_first_read();
  if (argc == 3 && std::strcmp(argv[1], "fork-at-first-read") == 0) {
#ifdef KAVU_PROBE_ASAN
    // The sanitizer's allocator is not kept whole across a fork from one
    // thread while another allocates: the child may wait in it for ever.
    std::printf("skipped: a fork while another thread allocates can leave the address sanitizer's allocator "
                "locked in the child\n");
    return 77;
#endif
    return fork_at_first_read(argv[2]);
  }
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s set|file|start DESIGN.blif WORK_DIR\n", argv[0]);
    return 2;
  }
  const std::string mode = argv[1], design = argv[2], dir = argv[3];
  const std::string sdc = dir + "/host.sdc";
  std::ofstream(sdc) << kSdc;
  if (mode == "set") {
    setenv("KAVU_INI_SET", ("ssc_sdc_file=" + sdc).c_str(), 1);
  } else if (mode == "file") {
    const std::string ini = dir + "/host.ini";
    std::ofstream(ini) << "# written by the host before its first call\nssc_sdc_file = " << sdc << "\n";
    setenv("KAVU_INI_FILE", ini.c_str(), 1);
  } else if (mode != "start") {
    return 2;
  }
  return count_constraints(design);
}
