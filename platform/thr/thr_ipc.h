// Role: threads, pipes and processes
// (docs/platform.md, "Threads, pipes and processes"; see also "Helper pipe protocol").
// thr_ipc.h — jobs of worker threads, named pipes and helper processes.
//
// PUT_SPMD_JOB_VOID_PTR runs one function over a list of task arguments on
//   a fixed number of worker threads; tasks start in the order added.
// THR_NAMED_PIPE makes a FIFO (0600) in the process's private pipe
//   directory (mkdtemp, 0700, under TMPDIR, removed at exit by the process
//   that made it (a child forked without exec makes its own), when the last
//   THR_PIPE_DIR_HOLD goes where a run's hold was among them, and when
//   SIGINT, SIGTERM, SIGHUP or SIGQUIT arrives while a hold lives; a
//   directory found gone is made anew, so a run after a signal the caller
//   survived has its pipes). A name ending
//   in "XXXXXX" is a template: create() fills it and retries until mkfifo
//   itself succeeds, so naming and creating cannot race.
// IPC_COMMAND starts a helper program from an argument vector (as the
//   library's own child, thr_start_own_child; never a shell, in a process
//   group of its own; the helper is killed by the kernel when the parent
//   ends; refused a process while other helpers run, it waits for one to
//   end and tries again) and either waits for it or
//   talks to it over its pair of FIFOs with the line protocol
//     parent: "RUN k", "EXIT"          helper: "DONE k rc", "MSG kind id text"
//   ("MSG error k text" before a failing "DONE k rc" says why).
//   Partitions are handed out centrally, in increasing order, to whichever
//   helper of the run is free. Both modes obey the key
//   "parallel_pipe_timeout_s" (600): without pipes it bounds the helper's
//   whole run, with pipes each answer (one deadline from "RUN k" to its
//   "DONE", however many lines arrive in between) and the exit after
//   "EXIT". A helper that overruns is killed and reaped. Lines are bounded
//   (64 KiB; longer is a bad answer) and so is the queue of "MSG" lines;
//   writes to a helper never raise SIGPIPE. EOF, a bad or non-zero answer,
//   a broken pipe, a dead child or a timeout end the helper with its
//   process group and set the error with the reason in words; after one
//   failure no helper of the run gets another partition. A timeout of 0 or
//   below is refused (no helper starts).
#pragma once
#include <functional>
#include <string>
#include <vector>

class PUT_PROCESSOR_MANAGER {
 public:
  // min(limit, hardware threads, key "put_max_threads"), at least 1.
  static int get_max_threads(int limit);
};

typedef void (*PUT_SPMD_TASK_FN)(void* arg);

class PUT_SPMD_JOB_VOID_PTR {
 public:
  // threads <= 0 means 1; the other arguments are accepted and unused.
  static PUT_SPMD_JOB_VOID_PTR* create_job(PUT_SPMD_TASK_FN fn, int threads, bool, void*, void*);
  static void destroy_job(PUT_SPMD_JOB_VOID_PTR* job);
  void add_task(void* arg);
  // Runs every task added and blocks until all are done; the tasks are
  // consumed (a second run runs only tasks added since). Its threads are
  // all started before any task runs: when the system refuses one, no task
  // runs, the tasks stay added, and get_error_text() says why.
  void run();
  int get_thread_count() const { return m_threads; }
  // Why the last run ran no task ("cannot start a thread: <reason>"); ""
  // after a run that ran them all.
  const std::string& get_error_text() const { return m_error; }

 private:
  PUT_SPMD_JOB_VOID_PTR(PUT_SPMD_TASK_FN fn, int threads) : m_fn(fn), m_threads(threads) {}
  PUT_SPMD_TASK_FN m_fn;
  int m_threads;
  std::vector<void*> m_tasks;
  std::string m_error;
};

// The private pipe directory, made on first use.
const std::string& thr_get_pipe_dir();
// Removes the pipe directory and everything in it (also done at exit).
void thr_remove_pipe_dir();

// A run's hold on the pipe directory: while one lives, an end signal
// removes the directory (thr_end_signal.h); when the last goes, its end
// action goes, so nothing of the run stays registered in the caller's
// process, and, where that hold was made with `remove` (a run that made
// its pipes and removed them), the directory with what is in it. A helper
// run holds it without `remove`, leaving the caller's pipes to the caller.
class THR_PIPE_DIR_HOLD {
 public:
  explicit THR_PIPE_DIR_HOLD(bool remove = true);
  ~THR_PIPE_DIR_HOLD();
  THR_PIPE_DIR_HOLD(const THR_PIPE_DIR_HOLD&) = delete;
  THR_PIPE_DIR_HOLD& operator=(const THR_PIPE_DIR_HOLD&) = delete;
  // The end signal (SIGINT, SIGTERM, SIGHUP, SIGQUIT) that removed the
  // directory since this hold was made, the last one when several did; 0
  // when none did. A run that outlived it finds its pipes gone.
  int interrupted_by() const;

 private:
  bool m_remove;
  unsigned m_removals;  // removals by a signal before the hold was made
};

class THR_NAMED_PIPE {
 public:
  explicit THR_NAMED_PIPE(const std::string& name) : m_name(name) {}
  ~THR_NAMED_PIPE() = default;
  THR_NAMED_PIPE(const THR_NAMED_PIPE&) = delete;
  THR_NAMED_PIPE& operator=(const THR_NAMED_PIPE&) = delete;
  // The parent writes (download) / reads (upload); both make the FIFO.
  bool create() { return make(false); }
  bool create_r() { return make(true); }
  // Unlinks the FIFO; false (and the error code) when that fails.
  bool remove();
  const std::string& get_name() const { return m_name; }
  std::string get_path() const;
  int get_error_code() const { return m_error; }
  // Why the last create failed, in words ("cannot make the named pipe
  // "<path>": <reason>", "cannot make a directory for named pipes in
  // "<TMPDIR>": <reason>"); empty after a success.
  const std::string& get_error_text() const { return m_why; }
  bool is_read_side() const { return m_read; }

 private:
  bool make(bool read);
  std::string m_name;
  std::string m_why;
  int m_error = 0;
  bool m_read = false;
  bool m_created = false;
};

// Replaces the trailing "XXXXXX" of name with characters that name no file
// in the pipe directory; returns name.
char* _mktemp(char* name);

struct THR_PROCESS_EXIT_CODE {
  int m_error = 0;      // non-zero: the helper failed (exit status, 128 + signal, or -1)
  int m_exit_code = 0;  // the raw exit status, 128 + signal for a signal
  std::string m_reason; // why it failed, in the user's words ("the helper timed out after 600 s",
                        // "the helper exited with status 3", "the helper was killed by signal 6
                        // (SIGABRT)", "the helper gave a bad answer: ...")
  int m_partition = -1; // the partition the helper was working on when it failed
  int m_pid = 0;        // the helper's process id once started
  std::string m_log_problem;  // non-empty: the helper ran without its log, for this reason
};

class IPC_COMMAND {
 public:
  // Splits cmd on blanks (no shell) and runs it as run_argv_with_named_pipe.
  bool run_with_named_pipe(const std::string& cmd, const char* dir, bool, THR_PROCESS_EXIT_CODE* exit_code,
                           const char*, bool, bool use_pipes, THR_NAMED_PIPE** dl, THR_NAMED_PIPE** ul,
                           int num_processes, int num_partitions);
  // Runs argv[0] (found in the key "helper_binary_dir" first, then beside
  // the installed layer (libexec/synth_kavu), then in PATH) in
  // dir with its output in "helper_<i>.log" there (i from "--helper=i").
  // False when it cannot start. Without pipes it waits for the exit status;
  // with pipes it serves partitions over the helper's FIFO pair (its number
  // picks the pair) until none is left, then sends "EXIT" and waits.
  //
  // The log is written only as a file of this user's own: opened without
  // following a link another user made and without waiting (a FIFO), and
  // used only when it is a regular file of one name (an existing one is
  // emptied). A log another user's run left (a regular file of one name)
  // is replaced where the directory allows it, unless
  // replace_another_users_log(false) said another run may still be writing
  // it; the user's own log that may not be written, a link of another
  // user, a file with other names, a FIFO or a device stays as it is, and
  // the helper runs without a log, exit_code->m_log_problem saying why.
  bool run_argv_with_named_pipe(const std::vector<std::string>& argv, const char* dir,
                                THR_PROCESS_EXIT_CODE* exit_code, bool use_pipes, THR_NAMED_PIPE** dl,
                                THR_NAMED_PIPE** ul, int num_processes, int num_partitions);
  void replace_another_users_log(bool on) { m_replace_foreign_log = on; }

 private:
  bool m_replace_foreign_log = true;
};

// Queued "MSG kind id text" lines of helpers, oldest first (thread-safe);
// taking them empties the queue.
std::vector<std::string> ipc_take_helper_messages();
// The key "parallel_pipe_timeout_s" (seconds, default 600); 0 (and *why,
// when given) for a value that is not positive, which no run accepts: such
// a helper is not started.
int ipc_pipe_timeout_s(std::string* why);
// Process ids of helpers started and not yet reaped (for tests).
int ipc_live_helper_count();
// Ends the run whose download-pipe array is dl: removes its dispatcher and
// returns how many partitions its helpers answered "DONE k 0". The driver
// calls it after every run, served or not.
int ipc_end_run(THR_NAMED_PIPE** dl);
// Calls listener(k) each time a helper of the run whose download-pipe array
// is dl answers "DONE k 0", on the thread serving that helper, with no lock
// held. Set before the run starts; ipc_end_run removes it with the run.
void ipc_set_answer_listener(THR_NAMED_PIPE** dl, std::function<void(int)> listener);
// Dispatchers of runs not yet ended (for tests).
int ipc_dispatch_count();
// Clears the message queue and the run dispatchers (tests).
void thr_ipc_test_reset();
