// bench_support.h — helpers the benchmark programs share: where the bundled
// circuits live, freeing a circuit the BLIF reader returned, collecting the
// terminals a benchmark loops over, and measuring against a peer in the same
// run — a command run as a whole process (time and peak memory) and a table
// of ours/peer ratios printed after the runs.
//
// Header-only (every benchmark is a program of its own source file), so all
// functions are inline. Paths come from KAVU_TEST_DATA_DIR, which the build
// defines for each benchmark program. The collectors append in node-list
// order, so figures do not depend on pointer values; each costs one pass
// over the gates and their terminals. largest_bundled() walks the bundled
// directory tree once per call.
//
// Whole processes: run_process starts the command through a fresh copy of
// the benchmark program (bench_main's launch mode), which starts the
// command, waits for it and reports its rusage. The detour keeps the figure
// clean: a child inherits the resident size of the process it was started
// from as the floor of its peak, and the benchmark itself may hold large
// netlists; the launcher holds only the program's start-up pages. Commands
// run in a private temporary directory (outside tools write files into
// their working directory), with standard input from /dev/null; of what
// they print the launcher keeps a bounded part (the first 64 KiB and the
// last MiB, ORACLE_OUTPUT) in "output.log" there, so a peer that prints
// without end fills neither the disk nor the benchmark's memory.
//
// Time limit: a peer runs for at most peer_time_limit_s() seconds (the
// environment variable KAVU_BENCH_PEER_TIMEOUT_S, default 600), the same
// limit the programs give the oracles (keys abc_timeout, yosys_timeout,
// sta_timeout) when the variable is set; past it the launcher kills the
// peer's whole process group and the row fails with "<peer> timed out after
// N s". A peer that hangs once hung its benchmark without a word. A command
// that ends by itself takes its group with it too: nothing it started runs
// on in its removed directory; so does a launcher or a benchmark told to
// end (Ctrl-C) while a peer runs, in process or not: a SIGTERM sent to the
// benchmark alone ends its launcher too, and the benchmark's temporary
// directories go with it.
//
// Results against a peer: a benchmark that finds its result different from
// its peer's calls mismatch(); the benchmark shows the difference as its
// error, the program prints it on standard error and bench_main then ends
// with status 1, so that CI or a script running the program fails. Any
// other error a benchmark ends with (its own side or its peer failed, a
// circuit could not be read) fails the program the same way; a peer run
// that ends with status 0 without printing its own figure (PEER_ANSWERED)
// failed too, as its time would be that of no work; only a peer
// that is not installed (peer_not_installed()) skips its rows and is no
// failure. A peer figure shown beside a benchmark's own (peer_figures())
// follows the same rule: a failing peer sets the row's error, a missing one
// only leaves its counters out.
//
// Timing both sides alike: compare_processes and alternate() run ours and
// the peer in turn, ours first in one pair and the peer first in the next,
// so that neither side always meets the machine (its caches, a neighbour's
// load) right after the other.
#pragma once

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <span>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "cfg/cfg.h"
#include "msg/msg.h"
#include "netlist_io/blif.h"
#include "netlist_io/oracle_process.h"
#include "thr/thr_end_signal.h"

extern char** environ;

namespace kavu_bench {

// Path of a bundled circuit named without its extension ("mcnc/s298").
inline std::string bundled_circuit(const std::string& name) {
  return std::string(KAVU_TEST_DATA_DIR "/blif/") + name + ".blif";
}

// Path of the bundled circuit with the largest file.
inline std::string largest_bundled() {
  std::string best;
  uintmax_t size = 0;
  for (const auto& e : std::filesystem::recursive_directory_iterator(KAVU_TEST_DATA_DIR "/blif")) {
    if (e.path().extension() != ".blif" || e.file_size() <= size) continue;
    size = e.file_size();
    best = e.path().string();
  }
  return best;
}

// Frees what the reader returned and leaves the result empty, so a second
// call frees nothing twice.
inline void release(kavu_platform::BLIF_RESULT& r) {
  delete r.netlist;
  delete r.hierarchy;
  r.netlist = nullptr;
  r.hierarchy = nullptr;
}

// Reads a circuit for a benchmark; when the reader fails, the benchmark is
// marked skipped with the reader's message and the result has no netlist.
inline kavu_platform::BLIF_RESULT read_or_skip(benchmark::State& state, const std::string& path,
                                               const kavu_platform::BLIF_READ_OPTIONS& options = {}) {
  kavu_platform::BLIF_RESULT r = kavu_platform::blif_read_file(path, options);
  if (!r.netlist) state.SkipWithError(r.error.c_str());
  return r;
}

// Appends every input terminal that has a source.
// Whole-process mode: "<program> FLAG IN.blif OUT.blif" reads IN, runs `run`
// on the netlist (its result is ignored) and writes OUT; status 2 on bad
// arguments, 1 with the reason on a failure.
template <auto RUN>
int read_run_write(std::span<char* const> args) {
  if (args.size() != 2) {
    std::fprintf(stderr, "usage: IN.blif OUT.blif\n");
    return 2;
  }
  kavu_platform::BLIF_RESULT r = kavu_platform::blif_read_file(args[0]);
  if (!r.netlist) {
    std::fprintf(stderr, "%s\n", r.error.c_str());
    return 1;
  }
  RUN(r.netlist);
  std::string why;
  const bool written = kavu_platform::blif_write_file(r.netlist, args[1], {}, &why);
  if (!written) std::fprintf(stderr, "%s\n", why.c_str());
  release(r);
  return written ? 0 : 1;
}

inline void collect_driven_iterms(CDB_SGATE_NETLIST* netlist, std::vector<CDB_SGATE_ITERM*>& out) {
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    if (!*it) continue;
    for (CDB_SGATE_ITERM* t : (*it)->get_input_terms())
      if (t && t->get_source()) out.push_back(t);
  }
}

// Appends every output terminal.
inline void collect_oterms(CDB_SGATE_NETLIST* netlist, std::vector<CDB_SGATE_OTERM*>& out) {
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    if (!*it) continue;
    for (CDB_SGATE_OTERM* o : (*it)->get_output_terms())
      if (o) out.push_back(o);
  }
}

// Appends the gate's sources that out does not hold yet (a cut's leaves).
inline void add_fanin_sources(const CDB_SGATE_NODE* gate, std::vector<CDB_SGATE_OTERM*>& out) {
  for (unsigned i = 0; i < gate->get_number_of_input_terms(); ++i) {
    CDB_SGATE_OTERM* src = gate->get_fanin_term(i);
    if (src && std::find(out.begin(), out.end(), src) == out.end()) out.push_back(src);
  }
}

// ---- results compared with the peer's ----

// Differences from a peer found in this run of the program.
inline int& mismatch_count() {
  static int count = 0;
  return count;
}

// Records that the benchmark's result differs from its peer's: the
// benchmark's error, a line on standard error, and bench_main's failing
// status.
inline void mismatch(benchmark::State& state, const std::string& what) {
  ++mismatch_count();
  // `what` may quote a peer's output or a name from a file: no control
  // byte of it reaches the terminal.
  const std::string shown = kavu_platform::msg_printable_text(what, 1024);
  std::fprintf(stderr, "result differs from the peer's: %s\n", shown.c_str());
  state.SkipWithError(shown.c_str());
}

// The error of a benchmark skipped because its peer program is not
// installed: the one error that does not fail the program.
inline constexpr std::string_view PEER_NOT_INSTALLED = " is not installed: no peer figures";

inline std::string peer_not_installed(const char* peer_name) {
  return std::string(peer_name) + std::string(PEER_NOT_INSTALLED);
}

// The console output, counting the runs that ended with an error other than
// a missing peer (see finish()).
class FAILURE_COUNTING_REPORTER : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (r.error_occurred && !std::string_view(r.error_message).ends_with(PEER_NOT_INSTALLED)) ++m_failed;
    ConsoleReporter::ReportRuns(runs);
  }
  int failed() const { return m_failed; }

 private:
  int m_failed = 0;
};

// ---- measuring against a peer ----

// Median of the values (0 for none); sorts its copy.
inline double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t mid = values.size() / 2;
  return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

// A private directory, removed with everything in it when the object goes,
// and with the files in it when an end signal ends the program.
class TEMP_DIR {
 public:
  TEMP_DIR() {
    const char* base = std::getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/kavu_bench_XXXXXX";
    sigset_t mask;
    thr_block_end_signals(&mask);
    if (mkdtemp(templ.data())) {
      m_path = templ;
      m_on_end = thr_on_end_signal(remove_dir, reinterpret_cast<long>(m_path.c_str()));
    }
    pthread_sigmask(SIG_SETMASK, &mask, nullptr);
  }
  ~TEMP_DIR() {
    thr_forget_end_signal(m_on_end);
    std::error_code ec;
    if (!m_path.empty()) std::filesystem::remove_all(m_path, ec);
  }
  TEMP_DIR(const TEMP_DIR&) = delete;
  TEMP_DIR& operator=(const TEMP_DIR&) = delete;
  // Empty when the directory could not be made.
  const std::string& path() const { return m_path; }
  std::string file(const std::string& name) const { return m_path + "/" + name; }

 private:
  static void remove_dir(long path) { thr_remove_dir_in_handler(reinterpret_cast<const char*>(path)); }
  std::string m_path;
  int m_on_end = -1;
};

// Full path of a program found in PATH, "" when it is not installed.
inline std::string find_program(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "/usr/bin:/bin");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    const std::string full = (dir.empty() ? std::string(".") : dir) + "/" + name;
    if (access(full.c_str(), X_OK) == 0) return full;
  }
  return std::string();
}

// The running benchmark program, for its own whole-process modes.
inline std::string self_program() {
  std::error_code ec;
  return std::filesystem::read_symlink("/proc/self/exe", ec).string();
}

inline std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// What one whole process cost, by the operating system's accounting.
struct PROCESS_FIGURES {
  int status = -1;  // exit status (128 + signal); -1 when it did not run
  double wall_s = 0, user_s = 0, sys_s = 0;
  double peak_mib = 0;  // largest resident set
  std::string output;   // what it printed (standard output and error)
  int timed_out_s = 0;  // the time limit it outlived (it was killed), else 0
};

inline constexpr const char* LAUNCH_FLAG = "--kavu-bench-launch";

inline constexpr const char* PEER_TIMEOUT_VARIABLE = "KAVU_BENCH_PEER_TIMEOUT_S";
inline constexpr int DEFAULT_PEER_TIMEOUT_S = 600;

// The seconds KAVU_BENCH_PEER_TIMEOUT_S sets (1 to 1000000), 0 when it is
// unset or empty; anything else warns once and counts as unset.
inline int peer_timeout_variable() {
  static const int seconds = [] {
    const char* text = std::getenv(PEER_TIMEOUT_VARIABLE);
    if (!text || !*text) return 0;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (*end == '\0' && errno == 0 && v >= 1 && v <= 1000000) return int(v);
    std::fprintf(stderr, "%s=\"%s\" is not a number of seconds from 1 to 1000000; %d is used\n", PEER_TIMEOUT_VARIABLE,
                 kavu_platform::msg_printable_text(text, 80).c_str(), DEFAULT_PEER_TIMEOUT_S);
    return 0;
  }();
  return seconds;
}

// The seconds a peer may run before it is killed and its row fails.
inline int peer_time_limit_s() {
  const int seconds = peer_timeout_variable();
  return seconds > 0 ? seconds : DEFAULT_PEER_TIMEOUT_S;
}

// Spawns argv (argv[0] a path, null-terminated) with standard output and
// error into out_path and standard input from /dev/null, in the caller's
// process group (the launcher: Ctrl-C reaches it), with the signal mask
// `mask` (the caller's may hold the end signals back meanwhile); the
// child's id, or -1.
inline pid_t spawn_into(char* const* argv, const char* out_path, const sigset_t& mask) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setsigmask(&attributes, &mask);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, argv[0], &actions, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

// Launch mode: "<program> --kavu-bench-launch DIR SECONDS COMMAND ARGS...".
// Runs the command in DIR, killed with its process group after SECONDS
// (0: no limit), writes what it printed into DIR/output.log as
// ORACLE_OUTPUT keeps it (the first 64 KiB and the last MiB of a longer
// output, so a peer that prints without end fills neither the disk nor the
// benchmark's memory) and prints "status wall user sys peak_kib timed_out".
// The command and all it starts form one group, ended with the command or
// when the launcher is told to end (Ctrl-C reaches the benchmark and its
// launcher, not the command's group): the oracles' own launch.
inline int launch_and_report(int argc, char** argv) {
  if (argc < 3 || chdir(argv[0]) != 0) return 2;
  const int limit_s = std::atoi(argv[1]);
  const auto start = std::chrono::steady_clock::now();
  kavu_platform::ORACLE_OUTPUT output;
  rusage usage{};
  const kavu_platform::ORACLE_END end =
      kavu_platform::oracle_run_peer({argv + 2, argv + argc}, "", limit_s, &output, &usage);
  if (end.status == -1) return 3;
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::ofstream("output.log", std::ios::binary) << output.text();
  auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) * 1e-6; };
  const bool timed_out = end.status == kavu_platform::ORACLE_TIMED_OUT;
  std::printf("%d %.6f %.6f %.6f %ld %d\n", timed_out ? 128 + SIGKILL : end.status, wall, seconds(usage.ru_utime),
              seconds(usage.ru_stime), usage.ru_maxrss, timed_out ? limit_s : 0);
  return 0;
}

// The launcher of run_process and the private directory it runs in.
struct LAUNCH {
  pid_t pid;
  const char* dir;
};

// An end action: tells the launcher to end, waits (at most some 2 s) until
// it has, then removes the files it and its command left in the directory
// (the directory's own action may have run before they were gone).
inline void end_launcher(long arg) {
  const LAUNCH* launch = reinterpret_cast<const LAUNCH*>(arg);
  kill(launch->pid, SIGTERM);
  const timespec pause{0, 10 * 1000 * 1000};
  for (int k = 0; k < 200; ++k) {
    siginfo_t info{};
    if (waitid(P_PID, id_t(launch->pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid == launch->pid)
      break;
    nanosleep(&pause, nullptr);
  }
  thr_remove_dir_in_handler(launch->dir);
}

// Runs command (command[0] a full path) as a whole process in dir (a
// TEMP_DIR: an end signal that ends the benchmark meanwhile ends the
// launcher and the command's group, and removes the files in dir), killed
// after limit_s seconds when that is above 0.
inline PROCESS_FIGURES run_process(const std::vector<std::string>& command, const std::string& dir, int limit_s = 0) {
  PROCESS_FIGURES f;
  std::vector<std::string> words = {self_program(), LAUNCH_FLAG, dir, std::to_string(limit_s)};
  words.insert(words.end(), command.begin(), command.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  const std::string figures = dir + "/figures.txt";
  // The launcher is told to end with the benchmark: a SIGTERM sent to the
  // benchmark alone reaches it too, and it ends the command's group (the
  // end signals wait until its action is registered).
  sigset_t mask;
  thr_block_end_signals(&mask);
  const pid_t pid = spawn_into(argv.data(), figures.c_str(), mask);
  const LAUNCH launch{pid, dir.c_str()};
  const int on_end = pid >= 0 ? thr_on_end_signal(end_launcher, reinterpret_cast<long>(&launch)) : -1;
  pthread_sigmask(SIG_SETMASK, &mask, nullptr);
  siginfo_t info{};
  while (pid >= 0 && waitid(P_PID, id_t(pid), &info, WEXITED | WNOWAIT) != 0)
    if (errno != EINTR) break;
  thr_forget_end_signal(on_end);  // before the reap frees the launcher's id
  int status = 0;
  while (pid >= 0 && waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return f;
  if (pid < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return f;
  long peak_kib = 0;
  std::istringstream in(read_text(figures));
  if (!(in >> f.status >> f.wall_s >> f.user_s >> f.sys_s >> peak_kib >> f.timed_out_s)) f.status = -1;
  f.peak_mib = double(peak_kib) / 1024.0;
  f.output = read_text(dir + "/output.log");
  return f;
}

// A peer's command as a whole process, under the peers' time limit.
inline PROCESS_FIGURES run_peer(const std::vector<std::string>& command, const std::string& dir) {
  return run_process(command, dir, peer_time_limit_s());
}

// The last line a process printed, to quote in a message: escaped (a
// peer's colours or a terminal escape stay text) and cut to 160 bytes.
inline std::string last_line_shown(const std::string& output) {
  std::string text = output.substr(0, output.find_last_not_of('\n') + 1);
  text.erase(0, text.rfind('\n') + 1);  // npos + 1 is 0: a single line stays whole
  return kavu_platform::msg_printable_text(text, 160);
}

// "<side> timed out after N s", the failure of a run its time limit ended.
inline std::string timed_out(const char* side, int seconds) {
  return std::string(side) + " timed out after " + std::to_string(seconds) + " s";
}

// Why a run failed, for SkipWithError: the side, its status and `reason`
// (when given: why a run that ended with status 0 counts as failed), and the
// last line it printed; or that its time limit ended it.
inline std::string failure(const char* side, const PROCESS_FIGURES& f, const char* reason = nullptr) {
  if (f.timed_out_s > 0) return timed_out(side, f.timed_out_s);
  return std::string(side) + " failed (status " + std::to_string(f.status) + (reason ? ", " : "") +
         (reason ? reason : "") + "): " + last_line_shown(f.output);
}

// Tells whether a peer's run did its work, from what it printed. A status
// 0 alone does not: berkeley-abc answers a file it cannot read with a
// message and status 0, and a program of the peer's name on PATH may be
// anything. A peer's figure counts only beside its own answer.
using PEER_ANSWERED = std::function<bool(const std::string& output)>;

inline constexpr const char* NO_PEER_FIGURE = "printed no figure of its own";

// The number that follows `label` ("nd =", "Current cuts") in output, after
// blanks and '=', at the first place where one does: the figure the peer
// prints for its work; -1 when none does (a label followed by other text
// is no figure).
inline long printed_number(std::string_view output, std::string_view label) {
  for (size_t at = output.find(label); at != std::string_view::npos; at = output.find(label, at + 1)) {
    const size_t digit = output.find_first_not_of(" \t=", at + label.size());
    if (digit == std::string_view::npos || output[digit] < '0' || output[digit] > '9') continue;
    const size_t end = std::min(output.find_first_not_of("0123456789", digit), output.size());
    return std::strtol(std::string(output.substr(digit, end - digit)).c_str(), nullptr, 10);
  }
  return -1;
}

// True when `label` is followed in output by a number (printed_number).
inline bool printed_figure(std::string_view output, std::string_view label) {
  return printed_number(output, label) >= 0;
}

// The peer answered when it printed a number after `label`.
inline PEER_ANSWERED prints_figure(std::string label) {
  return [label = std::move(label)](const std::string& output) { return printed_figure(output, label); };
}

// The answer of a peer that prints nothing (yosys -q) is the file it
// writes: it answered when the file holds `sign`. The file is removed after
// each look, so that every run must write it afresh.
inline PEER_ANSWERED wrote_file(std::string path, std::string sign) {
  return [path = std::move(path), sign = std::move(sign)](const std::string&) {
    const bool answered = read_text(path).find(sign) != std::string::npos;
    std::error_code ec;
    std::filesystem::remove(path, ec);
    return answered;
  };
}

// Runs ours and the peer in turn, A B B A A B ... after one uncounted pair,
// both as whole processes in dir. The iteration time is ours' wall time (use
// UseManualTime); counters: the medians ours_ms and peer_ms, ratio (the
// median of ours/peer pair by pair, so drift of the machine cancels),
// cpu_ratio (the same for user plus system time, steadier on a loaded
// machine), the peaks ours_MiB and peer_MiB and their mem_ratio. A missing
// peer program (peer[0] empty) skips the benchmark with a message; a failing
// run, or a peer run that `answered` does not accept, ends it with an error.
inline void compare_processes(benchmark::State& state, const std::string& dir,
                              const std::vector<std::string>& ours, const std::vector<std::string>& peer,
                              const char* peer_name, const PEER_ANSWERED& answered) {
  if (dir.empty()) {
    state.SkipWithError("cannot make a temporary directory");
    return;
  }
  if (peer.empty() || peer[0].empty()) {
    state.SkipWithError(peer_not_installed(peer_name).c_str());
    return;
  }
  std::vector<double> ours_s, peer_s, ratios, cpu_ratios;
  double ours_mib = 0, peer_mib = 0;
  bool warm = false;
  for (auto _ : state) {
    PROCESS_FIGURES a, b;
    do {
      if (ours_s.size() % 2 == 0) {
        a = run_process(ours, dir);
        b = run_peer(peer, dir);
      } else {
        b = run_peer(peer, dir);
        a = run_process(ours, dir);
      }
      if (a.status != 0 || b.status != 0) {
        state.SkipWithError(failure(a.status != 0 ? "our side" : peer_name, a.status != 0 ? a : b).c_str());
        return;
      }
      if (!answered(b.output)) {
        state.SkipWithError(failure(peer_name, b, NO_PEER_FIGURE).c_str());
        return;
      }
    } while (!std::exchange(warm, true));
    state.SetIterationTime(a.wall_s);
    ours_s.push_back(a.wall_s);
    peer_s.push_back(b.wall_s);
    ratios.push_back(b.wall_s > 0 ? a.wall_s / b.wall_s : 0);
    const double a_cpu = a.user_s + a.sys_s, b_cpu = b.user_s + b.sys_s;
    cpu_ratios.push_back(b_cpu > 0 ? a_cpu / b_cpu : 0);
    ours_mib = std::max(ours_mib, a.peak_mib);
    peer_mib = std::max(peer_mib, b.peak_mib);
  }
  state.counters["ours_ms"] = median(ours_s) * 1e3;
  state.counters["peer_ms"] = median(peer_s) * 1e3;
  state.counters["ratio"] = median(ratios);
  state.counters["cpu_ratio"] = median(cpu_ratios);
  state.counters["ours_MiB"] = ours_mib;
  state.counters["peer_MiB"] = peer_mib;
  state.counters["mem_ratio"] = peer_mib > 0 ? ours_mib / peer_mib : 0;
}

// True when abc's output says it did not take the file it was asked to
// read: abc answers a file it cannot read (a model it does not know) with a
// message and status 0.
inline bool abc_refused(const std::string& output) {
  for (const char* sign : {"Cannot", "cannot", "Error", "error", "failed"})
    if (output.find(sign) != std::string::npos) return true;
  return false;
}

// A peer's answer for a figure a benchmark shows beside its own.
struct PEER_FIGURES {
  double seconds = 0;  // median wall time of the runs, each less its empty start
  std::string output;  // what the last run printed
};

// Runs the peer's command (command[0] its full path, empty when the peer is
// not installed) `runs` times as whole processes in a private directory,
// each after empty_start when one is given (the same program doing nothing,
// its wall time taken off). For a figure shown beside a benchmark's own,
// after its timed loop. True with the figures. False without them: when
// the peer is not installed (no error: the row keeps its own figures and
// leaves the peer's out), or with the benchmark's error set, which fails
// the program, when a run fails: a non-zero status, or an output that
// `answered` (when given) does not accept.
inline bool peer_figures(benchmark::State& state, const char* peer_name, const std::vector<std::string>& command,
                         PEER_FIGURES& out, bool (*answered)(const std::string& output) = nullptr,
                         const std::vector<std::string>& empty_start = {}, int runs = 1) {
  if (command.empty() || command[0].empty()) return false;
  TEMP_DIR dir;
  if (dir.path().empty()) {
    state.SkipWithError("cannot make a temporary directory");
    return false;
  }
  std::vector<double> seconds;
  for (int run = 0; run < runs; ++run) {
    PROCESS_FIGURES empty;
    if (!empty_start.empty()) empty = run_peer(empty_start, dir.path());
    const PROCESS_FIGURES f = run_peer(command, dir.path());
    const PROCESS_FIGURES& failed = !empty_start.empty() && empty.status != 0 ? empty : f;
    if (failed.status != 0 || (answered && !answered(f.output))) {
      state.SkipWithError(failure(peer_name, failed, failed.status == 0 ? NO_PEER_FIGURE : nullptr).c_str());
      return false;
    }
    seconds.push_back(std::max(f.wall_s - empty.wall_s, 0.0));
    out.output = f.output;
  }
  out.seconds = median(seconds);
  return true;
}

// Ours and the peer in process, in turn within each iteration: ours first
// in even iterations, the peer first in odd ones, after one uncounted pair
// (both sides warm alike). Each side is a callable that does its work and
// returns the seconds it timed (its own set-up and teardown outside, or
// inside, as the benchmark says for both), or a negative value after
// setting the benchmark's error. The iteration time is ours (use
// UseManualTime); counters: ours_ms and peer_ms (medians), ratio (the median
// of ours / peer pair by pair, so drift of the machine cancels).
template <class OURS_FN, class PEER_FN>
void alternate(benchmark::State& state, OURS_FN&& ours, PEER_FN&& peer) {
  if (ours() < 0 || peer() < 0) return;  // the uncounted pair
  std::vector<double> ours_s, peer_s, ratios;
  for (auto _ : state) {
    double a = 0, b = 0;
    if (ours_s.size() % 2 == 0) {
      a = ours();
      b = a < 0 ? -1 : peer();
    } else {
      b = peer();
      a = b < 0 ? -1 : ours();
    }
    if (a < 0 || b < 0) return;
    state.SetIterationTime(a);
    ours_s.push_back(a);
    peer_s.push_back(b);
    ratios.push_back(b > 0 ? a / b : 0);
  }
  state.counters["ours_ms"] = median(ours_s) * 1e3;
  state.counters["peer_ms"] = median(peer_s) * 1e3;
  state.counters["ratio"] = median(ratios);
}

// Two benchmark families measured in one run: every row of `ours` is shown
// beside the row of `peer` with the same name suffix and arguments (the
// family name prefix replaced), ratio = ours / peer of the time per
// iteration. Both must do the same work per iteration for a ratio; a pair
// of unlike work sets times_only and is shown as the two times. A peer
// without one of ours' arguments names it in drop_arg: ours' rows then meet
// the peer's row whatever that argument's value.
struct PEER_PAIR {
  const char* ours;
  const char* peer;
  const char* drop_arg = nullptr;
  bool times_only = false;
};

// The console output, then the table of ratios of the pairs.
class PEER_RATIO_REPORTER : public FAILURE_COUNTING_REPORTER {
 public:
  explicit PEER_RATIO_REPORTER(std::span<const PEER_PAIR> pairs) : m_pairs(pairs) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.error_occurred || r.run_type != Run::RT_Iteration) continue;
      const double seconds = r.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(r.time_unit);
      m_rows.push_back({key(r.run_name.function_name, r.run_name.args), seconds});
    }
    FAILURE_COUNTING_REPORTER::ReportRuns(runs);
  }

  void print_ratios() const {
    bool header = false;
    for (const PEER_PAIR& pair : m_pairs) {
      const std::string prefix = pair.ours;
      for (const ROW& row : m_rows) {
        if (row.m_key.compare(0, prefix.size(), prefix) != 0) continue;
        const std::string peer_key = without_arg(pair.peer + row.m_key.substr(prefix.size()), pair.drop_arg);
        const auto peer = std::find_if(m_rows.begin(), m_rows.end(),
                                       [&](const ROW& p) { return p.m_key == peer_key; });
        if (peer == m_rows.end()) continue;
        if (!std::exchange(header, true))
          std::printf("\n%-52s %-40s %11s %11s %7s\n", "ours", "peer", "ours", "peer", "ratio");
        char ratio[16] = "-";  // unlike work: the times only
        if (!pair.times_only)
          std::snprintf(ratio, sizeof ratio, "%.3f", peer->m_seconds > 0 ? row.m_seconds / peer->m_seconds : 0.0);
        std::printf("%-52s %-40s %11s %11s %7s\n", row.m_key.c_str(), peer_key.c_str(),
                    time_text(row.m_seconds).c_str(), time_text(peer->m_seconds).c_str(), ratio);
      }
    }
  }

 private:
  struct ROW {
    std::string m_key;
    double m_seconds;
  };

  static std::string key(const std::string& name, const std::string& args) {
    return args.empty() ? name : name + "/" + args;
  }

  // The key without the segment "/<arg>:<value>".
  static std::string without_arg(std::string key, const char* arg) {
    if (!arg) return key;
    const size_t at = key.find("/" + std::string(arg) + ":");
    if (at != std::string::npos) key.erase(at, key.find('/', at + 1) - at);
    return key;
  }

  static std::string time_text(double seconds) {
    static const struct { double m_scale; const char* m_unit; } units[] = {
        {1, "s"}, {1e-3, "ms"}, {1e-6, "us"}, {0, "ns"}};
    char text[32];
    for (const auto& u : units) {
      if (u.m_scale == 0 || seconds >= u.m_scale) {
        const double scale = u.m_scale == 0 ? 1e-9 : u.m_scale;
        std::snprintf(text, sizeof text, "%.3g %s", seconds / scale, u.m_unit);
        break;
      }
    }
    return text;
  }

  std::span<const PEER_PAIR> m_pairs;
  std::vector<ROW> m_rows;
};

// A whole-process mode of a benchmark program: "<program> FLAG ARGS..."
// runs `run` on ARGS instead of the benchmarks and exits with its status.
struct PROCESS_MODE {
  const char* flag;
  int (*run)(std::span<char* const> args);
};

// A benchmark program's exit status: 1 (with a summary line) when a result
// differed from its peer's or a benchmark ended with an error other than a
// missing peer, else 0.
inline int finish(const FAILURE_COUNTING_REPORTER& reporter) {
  if (mismatch_count() > 0) std::fprintf(stderr, "%d result(s) differ from the peer's\n", mismatch_count());
  if (reporter.failed() > 0) std::fprintf(stderr, "%d benchmark run(s) ended with an error\n", reporter.failed());
  return mismatch_count() > 0 || reporter.failed() > 0 ? 1 : 0;
}

// The peers' time limit for the oracles a benchmark runs in process (sta,
// yosys, berkeley-abc), when KAVU_BENCH_PEER_TIMEOUT_S sets one; else their
// keys keep their own.
inline void limit_oracles() {
  const int seconds = peer_timeout_variable();
  if (seconds <= 0) return;
  for (const char* key : {"abc_timeout", "yosys_timeout", "sta_timeout"})
    kavu_platform::cfg_set_value(key, std::to_string(seconds).c_str());
}

// Runs the benchmarks the command line selects with `reporter`, then
// `after` (lines a program prints after the runs). Status 1 on an argument
// the library does not know or a filter that selects no benchmark (a
// mistyped name would otherwise pass having measured nothing), else as
// finish() gives it.
inline int run_benchmarks(int argc, char** argv, FAILURE_COUNTING_REPORTER& reporter,
                          const std::function<void()>& after = {}) {
  limit_oracles();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  const size_t selected = benchmark::RunSpecifiedBenchmarks(&reporter);
  if (after) after();
  benchmark::Shutdown();
  const int status = finish(reporter);
  return selected == 0 ? 1 : status;
}

// The same with the failure-counting console output, for programs without
// bench_main.
inline int run_benchmarks(int argc, char** argv, const std::function<void()>& after = {}) {
  FAILURE_COUNTING_REPORTER reporter;
  return run_benchmarks(argc, argv, reporter, after);
}

// The benchmark programs' main: the launch mode, the program's own
// whole-process modes, else the benchmarks with the ratio table of pairs.
inline int bench_main(int argc, char** argv, std::span<const PROCESS_MODE> modes = {},
                      std::span<const PEER_PAIR> pairs = {}) {
  if (argc >= 2 && std::strcmp(argv[1], LAUNCH_FLAG) == 0) return launch_and_report(argc - 2, argv + 2);
  for (const PROCESS_MODE& mode : modes)
    if (argc >= 2 && std::strcmp(argv[1], mode.flag) == 0) return mode.run({argv + 2, size_t(argc - 2)});
  PEER_RATIO_REPORTER reporter(pairs);
  return run_benchmarks(argc, argv, reporter, [&reporter] { reporter.print_ratios(); });
}

// Seconds per iteration by key ("ours_write", "boost_read", ...), kept for
// the ratio lines a benchmark prints after its run.
inline std::map<std::string, double>& seconds_per_iteration() {
  static std::map<std::string, double> s;
  return s;
}

template <class F>
double timed(F&& f) {
  const auto start = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// One line per direction, ours beside Boost.Serialization's binary archive,
// from the keys "ours_<dir>" and "boost_<dir>" of seconds_per_iteration().
inline void print_archive_ratios() {
  const auto& s = seconds_per_iteration();
  for (const char* dir : {"write", "read"}) {
    auto ours = s.find(std::string("ours_") + dir);
    auto boost = s.find(std::string("boost_") + dir);
    if (ours == s.end() || boost == s.end()) {
      std::printf("%s: no Boost.Serialization figures\n", dir);
      continue;
    }
    std::printf("%s: ours %.1f ms, Boost.Serialization binary %.1f ms, ratio ours/peer %.2f\n", dir,
                ours->second * 1e3, boost->second * 1e3, ours->second / boost->second);
  }
}

}  // namespace kavu_bench
