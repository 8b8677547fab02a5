// The end signals as a guest in the caller's process: the caller's own
// handlers keep their flags, mask and place, a peer and what it started end
// with the caller, and nothing of the library stays behind. Each row runs
// in a process of its own, whose signal state it may change.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "cfg/cfg.h"
#include "fio/fio.h"
#include "gen/gen.h"
#include "netlist_io/oracle_process.h"
#include "thr/thr_end_signal.h"
#include "testkit/platform_test_hooks.h"
#include "testkit/platform_testkit.h"
#include "thr/thr_ipc.h"
#include "../signal_test_support.h"

using namespace kavu_platform;

namespace {

std::atomic<int> g_caught{0};
std::atomic<bool> g_on_alt_stack{false};
char g_alt_stack[64 * 1024];

void count_signal(int) {
  char here;
  g_on_alt_stack = &here >= g_alt_stack && &here < g_alt_stack + sizeof g_alt_stack;
  ++g_caught;
}
void count_signal_info(int sig, siginfo_t*, void*) { count_signal(sig); }

struct sigaction action_of(int sig) {
  struct sigaction a {};
  sigaction(sig, nullptr, &a);
  return a;
}

// A shell peer that starts a child (its id into `pid_file`), waits for it
// and prints "finished" once it ends by itself.
std::vector<std::string> peer_with_child(const std::string& pid_file, const char* seconds) {
  return {"/bin/sh", "-c", std::string("sleep ") + seconds + " & echo $! >'" + pid_file + "'; wait; echo finished"};
}

// The id written into the file, once it is (at most 10 s).
pid_t wait_for_pid(const std::string& file) {
  for (int k = 0; k < 1000; ++k) {
    std::ifstream in(file);
    long pid = 0;
    if (in >> pid && pid > 0) return pid_t(pid);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return 0;
}

// True once the process is gone or a zombie (at most 5 s).
bool ends(pid_t pid) {
  for (int k = 0; k < 500; ++k) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return true;
    const size_t close = line.rfind(')');
    if (close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z') return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

std::string scratch(const char* stem) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / (std::string(stem) + "_XXXXXX");
  std::string path = dir.string();
  return mkdtemp(path.data()) ? path : std::string();
}

}  // namespace

// The caller's handler of SIGINT, installed with its own flags and mask,
// keeps them while a peer runs (the library's stood in front with
// SA_RESTART and an empty mask), is called when SIGINT arrives then, and
// is back exactly once the peer is over: a one-shot handler that was
// called leaves the default action, as the kernel would. A caller whose
// handler does not restart calls sees read() interrupted.
TEST(ThrEndSignal, TheCallersHandlerKeepsItsFlagsAndComesBackExactly) {
  struct ROW {
    const char* what;
    int flags;  // sa_flags
  } const rows[] = {
      {"flags 0", 0},
      {"SA_RESETHAND", int(SA_RESETHAND)},
      {"SA_ONSTACK", SA_ONSTACK},
      {"SA_SIGINFO", SA_SIGINFO},
  };
  const std::string dir = scratch("kavu_end_signal");
  ASSERT_FALSE(dir.empty());
  for (const ROW& row : rows) {
    SCOPED_TRACE(row.what);
    const std::string pid_file = dir + "/" + std::to_string(row.flags);
    EXPECT_EQ(in_child([&]() -> std::string {
                stack_t alt{};
                alt.ss_sp = g_alt_stack;
                alt.ss_size = sizeof g_alt_stack;
                if (sigaltstack(&alt, nullptr) != 0) return "no alternate stack";
                struct sigaction host {};
                if (row.flags & SA_SIGINFO) host.sa_sigaction = count_signal_info;
                else host.sa_handler = count_signal;
                host.sa_flags = row.flags;
                sigemptyset(&host.sa_mask);
                sigaddset(&host.sa_mask, SIGUSR2);
                sigaction(SIGINT, &host, nullptr);
                const struct sigaction before = action_of(SIGINT);
                ORACLE_END end;
                std::thread runner([&] { end = oracle_run_peer(peer_with_child(pid_file, "30"), "", 20, nullptr); });
                const pid_t child = wait_for_pid(pid_file);
                const struct sigaction during = action_of(SIGINT);
                kill(getpid(), SIGINT);
                runner.join();
                if (!child) return "the peer did not start";
                if ((during.sa_flags & ~kRestorer) != ((row.flags & ~int(SA_RESETHAND)) | SA_SIGINFO))
                  return "flags while the peer ran: " + std::to_string(during.sa_flags);
                if (!sigismember(&during.sa_mask, SIGUSR2)) return "the mask was not kept while the peer ran";
                if (g_caught != 1) return "the caller's handler ran " + std::to_string(g_caught) + " times";
                if ((row.flags & SA_ONSTACK) && !g_on_alt_stack) return "the handler ran off the alternate stack";
                if (end.signal != SIGKILL) return "the peer was not ended: " + oracle_describe_end(end);
                if (!ends(child)) return "the peer's child runs on";
                if (row.flags & SA_RESETHAND) {
                  return action_of(SIGINT).sa_handler == SIG_DFL ? "" : "the one-shot handler came back";
                }
                if (!same_action(action_of(SIGINT), before)) return "the caller's handler is not back as it was";
                // A blocking call is interrupted, as the caller asked.
                return blocked_read_is_interrupted_by_sigint();
              }),
              "");
  }
  std::filesystem::remove_all(dir);
}

// Each end signal, left at its default, ends the caller after it ended the
// peer's whole group (the child the peer started too) and removed the
// caller's temporary directory; caught by the caller's handler, it ends the
// group and the caller goes on. A signal the caller ignores (nohup) ends
// neither the caller nor the peer. A process forked without exec while the
// peer runs runs its own handler and leaves its parent's peer alone. A
// default action given with SA_SIGINFO is the default all the same (the
// signal was once handed to a null function).
TEST(ThrEndSignal, EndSignalsEndThePeerAndWhatItStartedAsTheCallerAsks) {
  enum HOST { DEFAULT, DEFAULT_SIGINFO, HANDLER, IGNORED, FORKED_WORKER };
  struct ROW {
    const char* what;
    int sig;
    HOST host;
  } const rows[] = {
      {"SIGINT, default", SIGINT, DEFAULT},     {"SIGTERM, default", SIGTERM, DEFAULT},
      {"SIGHUP, default", SIGHUP, DEFAULT},     {"SIGQUIT (Ctrl-\\), default", SIGQUIT, DEFAULT},
      {"SIGQUIT, handler", SIGQUIT, HANDLER},   {"SIGHUP, ignored (nohup)", SIGHUP, IGNORED},
      {"SIGINT, ignored", SIGINT, IGNORED},     {"SIGTERM to a forked worker", SIGTERM, FORKED_WORKER},
      {"SIGTERM, default given with SA_SIGINFO", SIGTERM, DEFAULT_SIGINFO},
  };
  const std::string dir = scratch("kavu_end_signal");
  ASSERT_FALSE(dir.empty());
  int k = 0;
  for (const ROW& row : rows) {
    SCOPED_TRACE(row.what);
    const bool dies = row.host == DEFAULT || row.host == DEFAULT_SIGINFO;
    const std::string pid_file = dir + "/" + std::to_string(k++);
    const std::string temp_file = pid_file + ".temp";
    int said[2];
    ASSERT_EQ(pipe(said), 0);
    const pid_t pid = fork();
    if (pid == 0) {
      close(said[0]);
      const rlimit no_core{0, 0};
      setrlimit(RLIMIT_CORE, &no_core);
      struct sigaction host {};
      host.sa_handler = row.host == IGNORED ? SIG_IGN : dies ? SIG_DFL : count_signal;
      if (row.host == DEFAULT_SIGINFO) host.sa_flags = SA_SIGINFO;
      if (row.host == FORKED_WORKER) host.sa_handler = [](int) { _exit(42); };
      sigaction(row.sig, &host, nullptr);
      ORACLE_TEMP_DIR temp("kavu_end_signal_temp");
      std::ofstream(temp_file) << temp.path();
      // The ignored and the forked rows' peers end by themselves.
      const bool short_peer = row.host == IGNORED || row.host == FORKED_WORKER;
      ORACLE_OUTPUT output;
      ORACLE_END end;
      std::thread runner(
          [&] { end = oracle_run_peer(peer_with_child(pid_file, short_peer ? "1" : "30"), "", 20, &output); });
      wait_for_pid(pid_file);
      std::string why;
      if (row.host == FORKED_WORKER) {
        const pid_t worker = fork();
        if (worker == 0) {
          raise(row.sig);
          _exit(1);
        }
        int status = 0;
        waitpid(worker, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 42)
          why = "the worker did not run its own handler: status " + std::to_string(status);
      } else {
        kill(getpid(), row.sig);
      }
      runner.join();
      const bool finished = output.text().find("finished") != std::string::npos;
      if (!why.empty()) {
      } else if (short_peer && !(end.succeeded() && finished)) {
        why = "the peer was ended: " + oracle_describe_end(end);
      } else if (!short_peer && end.signal != SIGKILL) {
        why = "the peer was not ended: " + oracle_describe_end(end);
      }
      (void)!write(said[1], why.data(), why.size());
      _exit(0);
    }
    close(said[1]);
    std::string why;
    char buffer[256];
    for (ssize_t n; (n = read(said[0], buffer, sizeof buffer)) > 0;) why.append(buffer, size_t(n));
    close(said[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_EQ(why, "");
    if (dies) {
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == row.sig) << status;
    } else {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    const pid_t child = wait_for_pid(pid_file);
    ASSERT_NE(child, 0);
    EXPECT_TRUE(ends(child));
    if (!ends(child)) kill(child, SIGKILL);
    std::string temp;
    std::ifstream(temp_file) >> temp;
    EXPECT_FALSE(temp.empty());
    if (dies) {
      EXPECT_FALSE(std::filesystem::exists(temp)) << temp;
    }
    std::filesystem::remove_all(temp);
  }
  std::filesystem::remove_all(dir);
}

// A place of the actions is freed when its peer ends: after 300 short
// peers (more than the places there are) an interrupted peer's child is
// still ended, and the caller's handler is back.
TEST(ThrEndSignal, PlacesOfEndedPeersAreFreed) {
  const std::string dir = scratch("kavu_end_signal");
  ASSERT_FALSE(dir.empty());
  const std::string pid_file = dir + "/pid";
  EXPECT_EQ(in_child([&]() -> std::string {
              struct sigaction host {};
              host.sa_handler = count_signal;
              sigaction(SIGINT, &host, nullptr);
              const struct sigaction before = action_of(SIGINT);
              for (int k = 0; k < 300; ++k)
                if (!oracle_run_peer({"/bin/sh", "-c", ":"}, "", 20, nullptr).succeeded()) return "a short peer failed";
              ORACLE_END end;
              std::thread runner([&] { end = oracle_run_peer(peer_with_child(pid_file, "30"), "", 20, nullptr); });
              const pid_t child = wait_for_pid(pid_file);
              kill(getpid(), SIGINT);
              runner.join();
              if (!child) return "the peer did not start";
              if (end.signal != SIGKILL || !ends(child)) return "the interrupted peer's child runs on";
              return same_action(action_of(SIGINT), before) ? "" : "the caller's handler is not back";
            }),
            "");
  std::filesystem::remove_all(dir);
}

// A request to stop is seen on every thread: an end signal or the caller's
// alarm, delivered to another thread, and never a resized terminal or a
// child's end. An alarm left at its default is not taken over.
TEST(ThrEndSignal, AStopIsAnEndSignalOrTheAlarmFromAnyThread) {
  EXPECT_EQ(in_child([]() -> std::string {
              struct sigaction host {};
              host.sa_handler = count_signal;
              host.sa_flags = SA_RESTART;
              for (int sig : {SIGWINCH, SIGCHLD, SIGALRM, SIGHUP}) sigaction(sig, &host, nullptr);
              const struct sigaction alarm_before = action_of(SIGALRM);
              const pthread_t main_thread = pthread_self();
              std::string why;
              std::thread watcher([&] {
                for (int sig : {SIGALRM, SIGHUP}) {
                  THR_STOP_WATCH stop;
                  for (int other : {SIGWINCH, SIGCHLD}) pthread_kill(main_thread, other);
                  std::this_thread::sleep_for(std::chrono::milliseconds(100));
                  if (stop.requested()) why = "another signal was taken for a stop";
                  pthread_kill(main_thread, sig);
                  for (int k = 0; k < 500 && !stop.requested(); ++k)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                  if (!stop.requested()) why = std::string("a stop by ") + sigabbrev_np(sig) + " was not seen";
                }
              });
              watcher.join();
              if (!why.empty()) return why;
              if (g_caught != 6) return "the caller's handlers ran " + std::to_string(g_caught) + " times";
              if (!same_action(action_of(SIGALRM), alarm_before)) return "the alarm's handler is not back";
              signal(SIGALRM, SIG_DFL);
              THR_STOP_WATCH stop;
              return action_of(SIGALRM).sa_handler == SIG_DFL ? "" : "a default alarm was taken over";
            }),
            "");
}

// A write told to end leaves no temporary beside its target: with the
// signal at its default, and with a one-shot handler of the caller's that a
// first Ctrl-C of the same write spent (the spent handler was called again
// and the caller went on).
TEST(ThrEndSignal, AnInterruptedWriteLeavesNoTemporary) {
  for (const bool spent_one_shot : {false, true}) {
    SCOPED_TRACE(spent_one_shot ? "a spent one-shot handler" : "the default action");
    const std::string dir = scratch("kavu_end_signal");
    ASSERT_FALSE(dir.empty());
    const pid_t pid = fork();
    if (pid == 0) {
      struct sigaction host {};
      host.sa_handler = count_signal;
      host.sa_flags = SA_RESETHAND;
      if (spent_one_shot) sigaction(SIGINT, &host, nullptr);
      FIO_FILE_REPLACEMENT file;
      if (!file.open(dir + "/out.txt", nullptr) || !file.write("part of the text")) _exit(2);
      if (spent_one_shot) {
        raise(SIGINT);
        if (g_caught != 1) _exit(3);
      }
      raise(SIGINT);
      _exit(1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
    EXPECT_TRUE(std::filesystem::is_empty(dir));
    std::filesystem::remove_all(dir);
  }
}

// A run's pipe directory goes with an end signal the caller survives; the
// run's next pipe finds it made anew (it found it gone for good), and once
// the run lets go nothing of it stays: no directory, the caller's handler
// back.
TEST(ThrEndSignal, APipeDirectoryASignalRemovedIsMadeAnew) {
  EXPECT_EQ(in_child([]() -> std::string {
              struct sigaction host {};
              host.sa_handler = count_signal;
              sigaction(SIGINT, &host, nullptr);
              const struct sigaction before = action_of(SIGINT);
              std::string first, second;
              {
                THR_PIPE_DIR_HOLD hold;
                THR_NAMED_PIPE a("signal_pipe_XXXXXX");
                if (!a.create()) return "no first pipe: " + a.get_error_text();
                first = thr_get_pipe_dir();
                raise(SIGINT);
                if (g_caught != 1) return "the caller's handler did not run";
                if (std::filesystem::exists(first)) return "the signal left the pipe directory";
                THR_NAMED_PIPE b("signal_pipe_XXXXXX");
                if (!b.create()) return "no pipe after the signal: " + b.get_error_text();
                second = thr_get_pipe_dir();
                b.remove();
              }
              if (std::filesystem::exists(second)) return "the run left its pipe directory";
              return same_action(action_of(SIGINT), before) ? "" : "the caller's handler is not back";
            }),
            "");
}

// A worker the caller forks without exec and that ends with exit() runs the
// exit functions it inherited: they act only in the process that made what
// they stand for. The run's pipe directory stays its parent's (the child
// removed it mid-run), and the profile table is printed by its own process
// alone (the child printed its parent's).
TEST(ThrEndSignal, AForkedWorkersExitLeavesItsParentsThingsAlone) {
  EXPECT_EQ(in_child([]() -> std::string {
              kavu_platform::gen_test_reset();
              kavu_platform::CFG_SCOPE cfg{{"gen_profile", "on"}};
              { GEN_PROFILER scope("KAVU", "forked worker row", 0); }
              THR_PIPE_DIR_HOLD hold;
              THR_NAMED_PIPE pipe_of_run("fork_pipe_XXXXXX");
              if (!pipe_of_run.create()) return "no pipe: " + pipe_of_run.get_error_text();
              const std::string dir = thr_get_pipe_dir();
              int said[2];
              if (pipe(said) != 0) return "no pipe for the worker's output";
              const pid_t worker = fork();
              if (worker == 0) {
                dup2(said[1], 2);
                exit(0);
              }
              close(said[1]);
              const std::string printed = read_to_end(said[0]);
              int status = 0;
              waitpid(worker, &status, 0);
              if (!std::filesystem::exists(dir + "/" + pipe_of_run.get_name()))
                return "the worker's exit removed the run's pipe directory";
              if (!printed.empty()) return "the worker printed its parent's profile: " + printed;
              pipe_of_run.remove();
              return "";
            }),
            "");
}

// A write's end action stands in front of the caller's handlers only while
// the write lives, and hands each signal on as the caller asked:
// - a one-shot Ctrl-C handler the caller re-arms after a write in which it
//   was called is called again in the next write (a reset left from the
//   first killed the caller);
// - a handler the caller installs during a write stays after it (the one
//   from before was put back over it);
// - the caller's alarm, seen by a wait of the library, is no end: another
//   write goes on and commits (its temporary was removed).
TEST(ThrEndSignal, WritesHandTheCallersSignalsOnAsItAsked) {
  enum CASE { REARMED_ONE_SHOT, INSTALLED_DURING_WRITE, ALARM_DURING_WAIT };
  struct ROW {
    const char* what;
    CASE which;
  } const rows[] = {
      {"a re-armed one-shot Ctrl-C handler", REARMED_ONE_SHOT},
      {"a handler installed during the write", INSTALLED_DURING_WRITE},
      {"the caller's alarm while a wait watches", ALARM_DURING_WAIT},
  };
  const std::string dir = scratch("kavu_end_signal");
  ASSERT_FALSE(dir.empty());
  for (const ROW& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(in_child([&]() -> std::string {
                const std::string target = dir + "/" + std::to_string(int(row.which));
                struct sigaction host {};
                host.sa_handler = count_signal;
                host.sa_flags = row.which == REARMED_ONE_SHOT ? int(SA_RESETHAND) : 0;
                const int sig = row.which == ALARM_DURING_WAIT ? SIGALRM : SIGINT;
                sigaction(sig, &host, nullptr);
                if (row.which == REARMED_ONE_SHOT) {
                  for (int round = 1; round <= 2; ++round) {
                    FIO_FILE_REPLACEMENT file;
                    if (!file.open(target, nullptr) || !file.write("text")) return "the write did not start";
                    raise(SIGINT);
                    if (g_caught != round) return "round " + std::to_string(round) + ": the handler was not called";
                    file.abandon();
                    if (action_of(SIGINT).sa_handler != SIG_DFL) return "the one-shot handler came back";
                    sigaction(SIGINT, &host, nullptr);  // re-armed
                  }
                  return "";
                }
                std::unique_ptr<THR_STOP_WATCH> stop;
                if (row.which == ALARM_DURING_WAIT) stop = std::make_unique<THR_STOP_WATCH>();
                FIO_FILE_REPLACEMENT file;
                if (!file.open(target, nullptr) || !file.write("text")) return "the write did not start";
                struct sigaction installed {};
                if (row.which == INSTALLED_DURING_WRITE) {
                  installed.sa_sigaction = count_signal_info;
                  installed.sa_flags = SA_SIGINFO | SA_RESTART;
                  sigaction(SIGINT, &installed, nullptr);
                  installed = action_of(SIGINT);
                } else {
                  std::thread([] { raise(SIGALRM); }).join();
                  if (!stop->requested()) return "the wait did not see the alarm";
                  if (g_caught != 1) return "the caller's alarm handler was not called";
                }
                std::string problem;
                if (!file.commit(&problem)) return "the write failed: " + problem;
                std::ifstream in(target);
                std::string text;
                if (!std::getline(in, text) || text != "text") return "the file holds \"" + text + "\"";
                if (row.which == INSTALLED_DURING_WRITE && !same_action(action_of(SIGINT), installed))
                  return "the handler installed during the write was replaced";
                return "";
              }),
              "");
  }
  std::filesystem::remove_all(dir);
}

// An end signal the caller's handler survives, during a write, removed the
// write's temporary: the write fails saying it was interrupted (it said "No
// such file or directory"), a file there before keeps its text, and the
// same object's next write succeeds.
TEST(ThrEndSignal, AWriteWhoseTemporaryASurvivedSignalTookSaysItWasInterrupted) {
  struct ROW {
    const char* what;
    int sig;
    bool existing;  // a file is there before the write
  } const rows[] = {
      {"Ctrl-C, a new file", SIGINT, false},
      {"SIGTERM, an existing file", SIGTERM, true},
  };
  const std::string dir = scratch("kavu_end_signal");
  ASSERT_FALSE(dir.empty());
  for (const ROW& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(in_child([&]() -> std::string {
                const std::string target = dir + "/" + std::to_string(row.sig);
                if (row.existing) std::ofstream(target) << "before";
                struct sigaction host {};
                host.sa_handler = count_signal;
                sigaction(row.sig, &host, nullptr);
                FIO_FILE_REPLACEMENT file;
                if (!file.open(target, nullptr) || !file.write("after")) return "the write did not start";
                raise(row.sig);
                std::string problem;
                if (file.commit(&problem)) return "the write went on";
                const std::string want =
                    std::string("cannot write the file: interrupted by a signal (SIG") + sigabbrev_np(row.sig) + ")";
                if (problem != want) return "the write failed with \"" + problem + "\"";
                if (file.failure() != EINTR) return "failure() is " + std::to_string(file.failure());
                std::string text;
                std::ifstream(target) >> text;
                if (text != (row.existing ? "before" : "")) return "the target holds \"" + text + "\"";
                if (!file.open(target, nullptr) || !file.write("again") || !file.commit(&problem))
                  return "the next write failed: " + problem;
                std::ifstream(target) >> text;
                return text == "again" ? "" : "the next write left \"" + text + "\"";
              }),
              "");
  }
  std::filesystem::remove_all(dir);
}
