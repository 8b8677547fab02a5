// kavu_parallel.cpp — partition archives and the parallel driver.
#include "kavu_parallel.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "atcl/atcl.h"
#include "cdb/cdb_sgate.h"
#include "cdb/cdb_sgate_netlist_pdb.h"
#include "cdb/cdb_sgate_removed_regs.h"
#include "cfg/cfg.h"
#include "cmp/cmp.h"
#include "cmp/ztk_rr_state.h"
#include "fio/fio.h"
#include "gen/gen.h"
#include "hdb/hdb.h"
#include "kavu_check.h"
#include "kavu_fib_manager.h"
#include "kavu_helper_dump.h"
#include "kavu_load_time_int.h"
#include "kavu_memory_guard_int.h"
#include "kavu_msg.h"
#include "kavu_partition_int.h"
#include "msg/msg.h"
#include "pdb/pdb.h"
#include "synth_kavu__pdb.h"
#include "thr/thr.h"
#include "thr/thr_end_signal.h"
#include "thr/thr_ipc.h"

namespace {

std::string format_text(const char* format, const char* type, int a, int b) {
  char buf[512];
  snprintf(buf, sizeof buf, format, type, a, b);
  return buf;
}

std::string archive_path(const std::string& base) {
  std::string dir = gen_get_db_dir_path();
  return (dir.empty() ? std::string(".") : dir) + "/" + base;
}

// The caller's sink of invalidation records (kept by a forked child, as
// the caller's setting).
KAVU_LOAD_TIME<KAVU_INVALIDATION_SINK> g_invalidation_sink("the invalidation sink");
KAVU_INVALIDATION_SINK& invalidation_sink() { return *g_invalidation_sink; }

std::string db_dir() {
  std::string dir = gen_get_db_dir_path();
  return dir.empty() ? std::string(".") : dir;
}

// An archive's base name in the project database directory, with the
// extension of parallel-synthesis archives: "<dir>/<base>.parsynth".
std::string parsynth_path(const std::string& base) {
  FIO_PATH path;
  path.directory(db_dir());
  path.base(base);
  if (*DBM_TYPE_PARSYNTH) path.extension(DBM_TYPE_PARSYNTH);
  return path.fullpath();
}

// The file an archive name stands for.
std::string archive_file(const std::string& name) { return name + "." + PDB_CDB_SEG_BASE::extension(); }

// A path or name as a message quotes it: control bytes escaped.
std::string shown(const std::string& path) {
  return kavu_platform::msg_printable_text(path, kavu_platform::MSG_MAX_PATH_BYTES, true);
}

// True when the file system of the directory has no room left (a pseudo
// file system, which reports no blocks at all, never has).
bool disk_is_full(const std::string& dir) { return gen_disk_is_full(dir); }

// What went wrong with an archive write, in the user's words. The system's
// error number of the failed write says a full disk even after the partial
// file is gone and has given its room back; otherwise the file writer's
// reason ("File too large", "the path holds a NUL byte"), else the system's,
// the file being named by the caller.
std::string write_failure_text(const std::string& what, int error_code, const std::string& reason = "") {
  if (error_code == ENOSPC || error_code == EDQUOT) return "the disk is full";
  if (disk_is_full(db_dir())) return "the disk is full";
  if (!reason.empty()) return "cannot write the file: " + reason;
  return error_code ? "cannot write the file: " + std::string(std::strerror(error_code)) : what;
}

std::string write_failure_text(const PDB_DATABASE_EXCEPTION& e) {
  const auto* invalid = dynamic_cast<const PDB_INVALID_PATH*>(&e);
  return write_failure_text(e.what(), e.get_error_code(), invalid ? invalid->get_reason() : std::string());
}

// Results read back while the helpers run (see read_early below).
void drop_early_results();
void read_early(const std::string& rev, const char* type, int k);

void post_error(const std::string& text) { msg_post_message(MSG_POST_TYPE_ERROR, text); }

// The kept copies (by file) of the partitions whose failure has been told
// since they were written; an entry goes with its kept copy, so recovery
// tells a refused result only when nothing before it did.
KAVU_LOAD_TIME<std::unordered_set<std::string>> g_told_partitions("the partitions told");
std::unordered_set<std::string>& told_partitions() { return *g_told_partitions; }

// The one message of a partition whose synthesis failed: what happened and
// where its netlist before synthesis is kept.
void report_failed_partition(const std::string& rev, const char* type, int k, const std::string& what) {
  told_partitions().insert(archive_file(kavu_parallel_kept_archive_name(rev, type, k)));
  post_error("Parallel synthesis of partition " + std::to_string(k) + " failed: " + what +
             ". Its netlist before synthesis is kept in \"" +
             shown(archive_file(kavu_parallel_kept_archive_name(rev, type, k))) +
             "\"");
}

// What a step an end signal cut short failed for: "interrupted by a signal
// (SIGINT)", as the file writer says it.
std::string interruption_text(int sig) {
  if (sig <= 0) return "interrupted by a signal";
  const char* name = sigabbrev_np(sig);
  return std::string("interrupted by a signal (") + (name ? "SIG" + std::string(name) : "signal " + std::to_string(sig)) +
         ")";
}

// Removes the temporary archive files ("*.tmp<pid>_<k>", as every file of
// the library is written) a helper that was killed or died left in the
// project database directory: only files of the user's own (the directory
// may be shared, and another user's file may carry such a name).
void remove_temporary_files_of(int pid) {
  if (pid <= 0) return;
  const std::string infix = ".tmp" + std::to_string(pid) + "_";
  const std::string dir = db_dir();
  DIR* d = opendir(dir.c_str());
  if (!d) return;
  std::vector<std::string> doomed;
  while (dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    const size_t at = name.rfind(infix);
    if (at != std::string::npos && at > 0 && at + infix.size() < name.size() &&
        name.find_first_not_of("0123456789", at + infix.size()) == std::string::npos)
      doomed.push_back(dir + "/" + name);
  }
  closedir(d);
  for (const std::string& f : doomed)
    if (fio_is_own_entry(f)) unlink(f.c_str());  // the user's own; never another's file at such a name
}

// ---- one run per database directory
// The archives of a run lie in the database directory under names made of
// the revision, the partition type and the partition's number, beside the
// directory's one namespace archive; two runs there at once (two compiles
// started together) would write, read and remove each other's files. A run
// holds an exclusive flock on "<db>/parallel_synthesis.lock", and a record
// lock of the whole file (which an NFS server's lock for a client's run
// meets), from kavu_parallel_serialize until its partitions are back (the
// read-back took them all, or recovery ended); a second run waits for it,
// saying so and naming the run it waits for. The lock goes with the
// process: a run that dies never leaves it held. The lock file stays. A
// process holds each directory's lock once, so a run that follows a run not
// finished in the same process goes on. No lock keeps out a run through a
// mount whose locks never meet this host's (FUSE): the files themselves are
// kept apart by the own-file path (FIO_FILE_SYSTEM::keep_files_of_run).
const char* const RUN_LOCK_FILE = "parallel_synthesis.lock";

struct RUN_LOCK {
  int fd = -1;
  bool named = false;     // this run's name is in the file: cleared at the release
  bool excludes = false;  // no other run can hold the lock meanwhile (below)
  pid_t process = 0;      // the process that took it (a forked child holds none)
};

// The lock files' descriptors this process holds open, for the child of a
// fork without exec to close: a flock belongs to the open file, so a
// child's copy would keep the lock of its parent's run for the child's
// whole life (the parent's next run, and every other, waiting for it), and
// after the parent's end. The table is read in the child alone, which is
// single-threaded there, with only close(): no lock of the parent's is
// taken, whatever its threads held at the fork. A descriptor is entered
// right after its open, before any flock; one copied by a fork in between
// is let go all the same, since the release unlocks explicitly.
constexpr int MAX_HELD_LOCK_FILES = 64;
std::atomic<int> g_held_lock_fds[MAX_HELD_LOCK_FILES];  // descriptor + 1; 0: a free place

void close_held_lock_files_in_child() {
  for (std::atomic<int>& slot : g_held_lock_fds)
    if (const int held = slot.exchange(0); held > 0) close(held - 1);
}

// Enters fd in the table (false when it is full: the caller then takes no
// lock it could leave to a child).
bool hold_lock_file(int fd) {
  for (std::atomic<int>& slot : g_held_lock_fds) {
    int empty = 0;
    if (slot.compare_exchange_strong(empty, fd + 1)) return true;
  }
  return false;
}

// Closes a lock file's descriptor, releasing its flock and record lock
// first, so that a copy a fork made before the table knew it holds nothing.
void close_lock_file(int fd) {
  for (std::atomic<int>& slot : g_held_lock_fds) {
    int held = fd + 1;
    if (slot.compare_exchange_strong(held, 0)) break;
  }
  ::flock(fd, LOCK_UN);
  (void)gen_lock_file_records(fd, LOCK_UN);
  close(fd);
}

// Takes both locks of the open lock file without waiting: flock, which runs
// of this host meet, and a record lock of the whole file (a write lock where
// the file is open for writing, else a read lock), which an NFS server holds
// for its clients' runs (their flock reaches the server as a record lock)
// and which a local flock never meets. 0, EWOULDBLOCK while another run holds
// either, or flock's error. A file system without record locks leaves the
// flock alone to hold.
int take_run_locks(int fd, bool writable) {
  if (gen_lock_file(fd, LOCK_EX | LOCK_NB) != 0) return errno ? errno : EIO;
  if (gen_lock_file_records(fd, writable ? LOCK_EX : LOCK_SH) == 0) return 0;
  if (errno != EAGAIN && errno != EACCES) return 0;
  ::flock(fd, LOCK_UN);
  return EWOULDBLOCK;
}

// Held through the wait for another process's run, so a fork does not wait
// for it: a child gets it anew (forget_flow_in_child).
std::mutex g_run_locks_mutex;
std::mutex& run_locks_mutex() { return g_run_locks_mutex; }
// The lock file held, by database directory.
KAVU_LOAD_TIME<std::unordered_map<std::string, RUN_LOCK>> g_run_locks("the database directories' locks");
std::unordered_map<std::string, RUN_LOCK>& run_locks() { return *g_run_locks; }

// True when a flock taken on the open file `fd` keeps out every other
// holder: only on a local file system known to lock one file for all its
// users at once. Anything else counts as one whose lock may not exclude: a
// network or cluster file system (NFS mounted "nolock", a client that
// locks only locally: BeeGFS, OrangeFS, vboxsf and the like grant the lock
// on every host at once), and FUSE, whose locks are what its server makes
// of them (two mounts of one directory lock apart). A file system whose
// type cannot be read counts so too.
bool lock_excludes_everywhere(int fd) {
  struct statfs fs;
  return fstatfs(fd, &fs) == 0 && fio_flock_excludes_on(static_cast<unsigned long>(fs.f_type));
}

// True when the open lock file is this run's to write into: a regular file
// with no other name (a hard link planted there would carry the run's name
// into its victim, and the release would empty it) that this user owns.
bool lock_file_is_own(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0 && fio_not_a_file_of_one_name(st).empty() && st.st_uid == geteuid();
}

std::string host_name() {
  char host[256] = "";
  if (gethostname(host, sizeof host - 1) != 0) return "";
  return host;
}

// The run the holder of the lock file named there ("process <pid> on
// <host>"), or "" when the file names none, or names a process of this host
// that is gone (a run killed before its release, whose name stayed).
std::string lock_holder(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return "";  // a device or a FIFO names no run
  char text[320];
  const ssize_t n = pread(fd, text, sizeof text - 1, 0);
  if (n <= 0) return "";
  text[n] = '\0';
  char* end = nullptr;
  const long pid = std::strtol(text, &end, 10);
  if (pid <= 0 || end == text || *end != ' ') return "";
  const std::string host(end + 1, std::strcspn(end + 1, "\n"));
  if (host.empty()) return "";
  if (host == host_name() && kill(pid_t(pid), 0) != 0 && errno == ESRCH) return "";
  return "process " + std::to_string(pid) + " on " + shown(host);
}

// Takes the lock of the database directory, waiting while another run
// holds it: "" or why it cannot be taken.
std::string lock_db_dir() {
  const std::string dir = db_dir();
  std::lock_guard<std::mutex> guard(run_locks_mutex());
  if (auto held = run_locks().find(dir); held != run_locks().end()) {
    if (held->second.process == getpid()) return "";
    run_locks().erase(held);  // a parent's, whose descriptor the fork closed: this process takes its own
  }
  const std::string file = dir + "/" + RUN_LOCK_FILE;
  // Never a link: the lock is this directory's file, not another's; and no
  // open waits (a FIFO planted there). flock needs no write access, so a
  // file another user made (0644) is locked read-only, where the run cannot
  // write its name.
  const int flags = O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK;
  int fd = open(file.c_str(), O_RDWR | O_CREAT | flags, 0666);
  const bool writable = fd >= 0;
  if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS)) {
    const int write_error = errno;
    fd = open(file.c_str(), O_RDONLY | flags);
    if (fd < 0 && errno == ENOENT) errno = write_error;
  }
  if (fd < 0) return "cannot open the lock file \"" + shown(file) + "\": " + std::strerror(errno);
  if (!hold_lock_file(fd)) {
    close(fd);
    return "cannot lock the file \"" + shown(file) + "\": " + std::strerror(EMFILE);
  }
  // The file is let go on every way out but the two that record it, memory
  // refused included: a descriptor not recorded would keep its lock for the
  // life of the process.
  struct CLOSE_UNLESS_KEPT {
    int fd;
    bool kept = false;
    ~CLOSE_UNLESS_KEPT() {
      if (!kept) close_lock_file(fd);
    }
  } closer{fd};
  int rc = take_run_locks(fd, writable);
  if (rc == EWOULDBLOCK) {
    const std::string holder = lock_holder(fd);
    msg_post_message(MSG_POST_TYPE_INFO,
                     "Parallel synthesis waits for another run in the database directory \"" + shown(dir) +
                         "\" to finish (" +
                         (holder.empty() ? "the run is not named in \"" + shown(file) + "\"" : holder) + ")");
    // Polled rather than waited for in flock, which a handler installed to
    // restart calls would restart. Only a request to stop ends the wait (an
    // end signal, the caller's alarm), on whichever thread it arrives;
    // another signal the caller catches (a terminal resized) does not.
    const THR_STOP_WATCH stop;
    const timespec pause{0, 50 * 1000 * 1000};
    while ((rc = take_run_locks(fd, writable)) == EWOULDBLOCK) {
      if (stop.requested())
        return "the wait for the run " + (holder.empty() ? std::string() : "of " + holder + " ") +
               "that holds the lock file \"" + shown(file) + "\" was " + interruption_text(stop.signal());
      nanosleep(&pause, nullptr);
    }
  }
  const int error_code = rc;
  if (error_code == ENOLCK || error_code == ENOSYS || error_code == EOPNOTSUPP) {
    // A file system without locks (NFS without its lock daemon, Lustre
    // mounted without flock): the run goes on, replacing and removing no
    // file there that it did not make (kavu_parallel_serialize).
    msg_post_message(MSG_POST_TYPE_WARNING, "Parallel synthesis cannot lock the file \"" + shown(file) + "\" (" +
                                                std::strerror(error_code) + "): runs in the database directory \"" +
                                                shown(dir) + "\" are not kept apart; files there that this run did "
                                                "not make are neither replaced nor removed");
    run_locks()[dir] = {fd, false, false, getpid()};
    closer.kept = true;
    return "";
  }
  if (rc != 0) {
    return "cannot lock the file \"" + shown(file) + "\": " + std::strerror(error_code);
  }
  // The run names itself for the runs that wait for it, in a file of its
  // own only; in anything else planted at the name it locks unnamed.
  bool named = false;
  if (writable && lock_file_is_own(fd)) {
    const std::string me = std::to_string(getpid()) + " " + host_name() + "\n";
    named = pwrite(fd, me.data(), me.size(), 0) == ssize_t(me.size()) && ftruncate(fd, off_t(me.size())) == 0;
  }
  const bool excludes = lock_excludes_everywhere(fd);
  if (!excludes)
    msg_post_message(MSG_POST_TYPE_WARNING,
                     "Parallel synthesis: the lock on \"" + shown(file) + "\" may not keep other runs out of the "
                     "database directory \"" + shown(dir) + "\" (its file system is not known to lock for all its "
                     "users); files there that this run did not make are neither replaced nor removed");
  run_locks()[dir] = {fd, named, excludes, getpid()};
  closer.kept = true;
  return "";
}

// True when a run of this process holds the lock of the database directory.
bool db_dir_is_held() {
  std::lock_guard<std::mutex> guard(run_locks_mutex());
  auto it = run_locks().find(db_dir());
  return it != run_locks().end() && it->second.process == getpid();
}

// True when this process holds the lock of the database directory and the
// lock keeps every other run out (flock worked, on a local file system).
bool db_dir_is_excluded() {
  std::lock_guard<std::mutex> guard(run_locks_mutex());
  auto it = run_locks().find(db_dir());
  return it != run_locks().end() && it->second.excludes && it->second.process == getpid();
}

// The files among `written` (names the run writes) and `cleared` (names it
// clears for its helpers) that the own-file path would neither replace nor
// remove for this run (FIO_FILE_SYSTEM::may_replace_own_file): another
// user's files (*another_users) wherever another user's run may be using
// them, and the user's own files of a run of another process not known to
// have ended, or, where the lock of the database directory may not keep
// every other run out, any the run did not make that no ended run made
// either (*not_made). A name to clear holding another user's entry of any
// kind, or a directory, is listed too: the run removes neither, and its
// helper could not write there. In the order given.
void files_another_run_may_use(const std::vector<std::string>& written, const std::vector<std::string>& cleared,
                               std::vector<std::string>* another_users, std::vector<std::string>* not_made) {
  for (const std::vector<std::string>* paths : {&written, &cleared}) {
    for (const std::string& path : *paths) {
      FIO_FILE_ORIGIN origin = FIO_NO_FILE;
      struct stat st;
      bool in_the_way = !FIO_FILE_SYSTEM::may_replace_own_file(path, &origin);
      if (paths == &cleared && !in_the_way && lstat(path.c_str(), &st) == 0) {
        in_the_way = st.st_uid != geteuid() || S_ISDIR(st.st_mode);
        if (st.st_uid != geteuid()) origin = FIO_ANOTHER_USERS_FILE;
      }
      if (in_the_way) (origin == FIO_ANOTHER_USERS_FILE ? another_users : not_made)->push_back(path);
    }
  }
}

// "\"a\"", "\"a\" and \"b\"", "\"a\", \"b\" and \"c\"".
std::string listed(const std::vector<std::string>& files) {
  std::string text;
  for (size_t k = 0; k < files.size(); ++k) {
    text += k == 0 ? "" : k + 1 == files.size() ? " and \"" : ", \"";
    if (k == 0) text += '"';
    text += shown(files[k]);
    text += '"';
  }
  return text;
}

// Which run made each of `files` (which this run may neither replace nor
// remove) and why its end is not known, grouped by run: "made by a run of
// process 1 in another process namespace of this host (…), whose end
// cannot be checked from here" for one group, else ""a" and "b": made by
// …; "c": made by …".
std::string who_made(const std::vector<std::string>& files) {
  std::vector<std::pair<std::string, std::vector<std::string>>> groups;  // (reason, files), as first met
  for (const std::string& file : files) {
    std::string reason = FIO_FILE_SYSTEM::refusal_reason(file);
    struct stat st;
    if (reason.empty())  // a directory at a name the helpers write, or a file put there meanwhile
      reason = lstat(file.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? "a directory" : "put there while this run looked";
    auto group = std::find_if(groups.begin(), groups.end(), [&](const auto& g) { return g.first == reason; });
    if (group == groups.end()) groups.push_back({std::move(reason), {file}});
    else group->second.push_back(file);
  }
  if (groups.size() == 1) return groups.front().first;
  std::string text;
  for (const auto& [reason, some] : groups) text += (text.empty() ? "" : "; ") + listed(some) + ": " + reason;
  return text;
}

// Under run_locks_mutex(): lets go of one directory's lock, its name
// going with it. A parent's lock, in a child forked without exec, is only
// forgotten: its descriptor was closed at the fork, and the number may name
// another file by now.
void release_run_lock(const std::string& dir, const RUN_LOCK& lock) {
  if (lock.process != getpid()) return;
  FIO_FILE_SYSTEM::keep_files_not_made(dir, false);  // the run's guard goes with its lock
  if (lock.named && lock_file_is_own(lock.fd)) (void)!ftruncate(lock.fd, 0);
  close_lock_file(lock.fd);
}

// The run in the database directory is over: another may start.
void unlock_db_dir() {
  std::lock_guard<std::mutex> guard(run_locks_mutex());
  auto it = run_locks().find(db_dir());
  if (it == run_locks().end()) return;
  release_run_lock(it->first, it->second);
  run_locks().erase(it);
}

// Every lock of a database directory this process holds goes: its flow
// ended without its read-back or recovery (its design was destroyed).
void unlock_every_db_dir() {
  std::lock_guard<std::mutex> guard(run_locks_mutex());
  for (const auto& [dir, lock] : run_locks()) release_run_lock(dir, lock);
  run_locks().clear();
}

}  // namespace

// ---------------------------------------------------------------- keys

bool kavu_parallel_key_is_on(const char* type, const char* word, bool dflt) {
  char key[256];
  snprintf(key, sizeof key, "p%s_%s", type, word);
  return cfg_is_on(key, dflt);
}

namespace {
int g_force_pipes = -1;
constinit KAVU_KEY_ONCE g_use_pipes{"parallel_use_pipes", true};
// What MSG_D::m_insert was (1 or 0) before a run of the helpers switched it
// off for its job, -1 while no run's job runs: a refusal posted meanwhile
// on another thread goes into the log at once, and a child forked meanwhile
// gets the switch back.
std::atomic<int> g_insert_before_job{-1};
}  // namespace

void kavu_parallel_show_held_messages() {
  if (g_insert_before_job.load() == 1) kavu_platform::msg_flush_pending();
}

void kavu_parallel_end_flow() {
  drop_early_results();
  unlock_every_db_dir();
}

void kavu_parallel_force_named_pipes(int mode) { g_force_pipes = mode; }

bool kavu_use_named_pipes() { return g_force_pipes >= 0 ? g_force_pipes != 0 : g_use_pipes(); }

void kavu_parallel_set_invalidation_sink(KAVU_INVALIDATION_SINK sink) { invalidation_sink() = std::move(sink); }

void kavu_parallel_dump(CDB_SGATE_HIERARCHY* hierarchy, CDB_SGATE_NETLIST* netlist, const char* format,
                        const char* type, int a, int b) {
  if (!kavu_parallel_key_is_on(type, "dump", false) || !MSG_D::debug_messages_enabled("KAVU")) return;
  std::string name = format_text(format, type, a, b);
  if (KAVU_NETLIST_DUMPER dumper = kavu_get_netlist_dumper()) dumper(hierarchy, netlist, name.c_str());
  else kavu_debug("RTL dumper function hasn't been initialized. Call kavu_set_netlist_dumper first");
}

// ---------------------------------------------------------------- driver

std::vector<std::string> kavu_parallel_helper_command(CMP_FACADE* facade, const char* type, const char* step,
                                                      int helper, const std::string& dl_pipe,
                                                      const std::string& ul_pipe) {
  std::vector<std::string> argv = {"velmora_map", "--ipc_mode", "--parallel=1"};
  if (!cfg_is_on("parallel_monitor_memory", false)) argv.push_back("--disable_all_banners");
  if (tst_is_regtest_mode()) argv.push_back("-r");
  if (cfg_user_ini_is_on(12) || cfg_is_on("cmp_lower_priority", false)) argv.push_back("--lower_priority");
  // Directories and configuration the helper shares with this process.
  const std::vector<std::string>* arg_list = zexe_get_args_required_by_subthread();
  KAVU_CHECK(arg_list);
  argv.insert(argv.end(), arg_list->begin(), arg_list->end());
  if (facade && facade->is_recompile()) argv.push_back("--recompile");
  argv.push_back("--helper=" + std::to_string(helper));
  argv.push_back(std::string("--helper_type=") + type);
  argv.push_back(std::string("--helper_step=") + step);
  if (!dl_pipe.empty()) {
    argv.push_back("--dl_named_pipe=" + dl_pipe);
    argv.push_back("--ul_named_pipe=" + ul_pipe);
  }
  // The names are the user's: the revision is an option's value and the
  // project follows "--", so a name that looks like an option stays a name.
  argv.push_back("-c");
  argv.push_back(facade ? facade->get_revision_name() : std::string());
  argv.push_back("--");
  argv.push_back(facade ? facade->get_project_name() : std::string());
  return argv;
}

bool kavu_parallel_names_stay_in_db_dir(const std::string& rev, const char* type) {
  for (const auto& [what, name] : {std::pair<const char*, std::string>{"revision", rev},
                                   std::pair<const char*, std::string>{"partition type", type ? type : ""}}) {
    if (name.find('/') == std::string::npos && name.find('\0') == std::string::npos) continue;
    kavu_debug("The %s name %s leaves the database directory", what, name.c_str());
    post_error(std::string("Parallel synthesis cannot run: the ") + what + " name \"" + shown(name) +
               "\" holds a '/' or a NUL byte, so its archives would not lie in the database directory \"" +
               shown(db_dir()) + "\"");
    return false;
  }
  return true;
}

namespace {
void launch_helper(KAVU_PARALLEL_HELPER_ARGS* args);
}  // namespace

void kavu_parallel_launcher_thread(void* p) {
  std::unique_ptr<KAVU_PARALLEL_HELPER_ARGS> args(static_cast<KAVU_PARALLEL_HELPER_ARGS*>(p));
  // The flag is shared by every task of the run: read and cleared atomically.
  std::atomic_ref<bool> success(*args->success);
  if (!success.load()) return;
  // Memory refused on a job thread fails this helper, never the host: an
  // exception leaving the thread would end the process.
  kavu_guard_memory_void([&] { launch_helper(args.get()); }, [&] {
    success.store(false);
    if (!args->failure) return;
    args->failure->m_out_of_memory = true;  // said by the parent even where the words below cannot be made
    try {
      args->failure->m_debug = "Failed to run a helper: not enough memory";
      args->failure->m_reason = "not enough memory to run the helper";
    } catch (const std::bad_alloc&) {
    }
  });
}

namespace {
void launch_helper(KAVU_PARALLEL_HELPER_ARGS* args) {
  std::atomic_ref<bool> success(*args->success);
  THR_PROCESS_EXIT_CODE code;
  IPC_COMMAND ipc;
  // Worker threads print nothing: the parent reports the run's outcome.
  std::string cmd;
  for (const std::string& a : args->command) cmd += (cmd.empty() ? "" : " ") + a;
  KAVU_PARALLEL_FAILURE failure;
  // Another user's log is replaced only where no other user may write the
  // working directory nor reach it past its lock (another run may be writing it).
  ipc.replace_another_users_log(!FIO_FILE_SYSTEM::directory_is_shared("."));
  const bool started = ipc.run_argv_with_named_pipe(args->command, ".", &code, args->use_pipes, args->dl_pipes,
                                                    args->ul_pipes, args->num_processes, args->num_partitions);
  if (args->failure) args->failure->m_log_problem = code.m_log_problem;  // told by the parent
  if (!started) {
    failure.m_debug = "Failed to run: " + cmd;
    failure.m_reason = code.m_reason.empty() ? "the helper could not be started" : code.m_reason;
  } else if (code.m_error != 0) {
    failure.m_debug = "Failed with error code " + std::to_string(code.m_error) + ": " + cmd;
    failure.m_reason = code.m_reason;
    failure.m_partition = code.m_partition;
    failure.m_pid = code.m_pid;
  } else {
    return;
  }
  success.store(false);
  failure.m_log_problem = code.m_log_problem;
  if (args->failure) *args->failure = std::move(failure);
}
}  // namespace

namespace {

// What a run of the helpers holds that a refusal of memory part way must
// give back: the pipes, the job with the tasks it did not run, the message
// switch and the dispatcher of its answers.
struct HELPER_RUN {
  std::vector<THR_NAMED_PIPE*> dl, ul;
  PUT_SPMD_JOB_VOID_PTR* job = nullptr;
  std::vector<KAVU_PARALLEL_HELPER_ARGS*> tasks;  // freed by the job's threads, or here when none ran
  bool ran = false;                               // the job ran: its threads freed the tasks
  int insert = -1;                                // MSG_D::m_insert before the job switched it off
  bool dispatching = false;                       // an answer listener is set for dl

  void remove_pipes() {
    for (std::vector<THR_NAMED_PIPE*>* v : {&dl, &ul})
      for (THR_NAMED_PIPE*& pipe : *v) {
        if (pipe && !pipe->remove())
          kavu_debug("FAILED at removing pipe %s with error code %d", pipe->get_name().c_str(),
                     pipe->get_error_code());
        delete pipe;
        pipe = nullptr;
      }
  }
  // After a refusal of memory: what is left goes, allocating nothing.
  void give_back() {
    if (insert >= 0) MSG_D::m_insert = insert != 0;
    g_insert_before_job.store(-1);
    if (dispatching) ipc_end_run(dl.data());
    if (!ran)
      for (KAVU_PARALLEL_HELPER_ARGS* args : tasks) delete args;
    if (job) PUT_SPMD_JOB_VOID_PTR::destroy_job(job);
    remove_pipes();
    drop_early_results();
  }
};

// Joins a thread when the scope it guards is left, also by an exception.
struct JOIN_ON_EXIT {
  std::thread& thread;
  ~JOIN_ON_EXIT() {
    if (thread.joinable()) thread.join();
  }
};

bool run_helpers(HELPER_RUN& run, CMP_FACADE* facade, const char* type, const char* step, int num_partitions);

}  // namespace

bool kavu_parallel_run_partitions_in_processes(CMP_FACADE* facade, const char* type, const char* step,
                                               int num_partitions) {
  GEN_PROFILER profiler("KAVU", "kavu_parallel_run_partitions_in_processes");
  HELPER_RUN run;
  return kavu_guard_memory(
      false, [&] { return run_helpers(run, facade, type, step, num_partitions); },
      [&] {
        run.give_back();
        kavu_post_out_of_memory("Parallel synthesis cannot run its helpers: not enough memory");
      });
}

namespace {
bool run_helpers(HELPER_RUN& run, CMP_FACADE* facade, const char* type, const char* step, int num_partitions) {
  std::string timeout_why;
  if (num_partitions <= 0 || ipc_pipe_timeout_s(&timeout_why) <= 0 ||
      !kavu_parallel_names_stay_in_db_dir(facade ? facade->get_revision_name() : std::string(), type)) {
    if (!timeout_why.empty()) post_error("Parallel synthesis cannot run: " + timeout_why);
    kavu_debug("Partitions %s run successfully", "were not");
    return false;
  }
  bool success = true;
  const bool parallel = kavu_parallel_key_is_on(type, "parallel", true);
  const bool pipes = kavu_use_named_pipes();
  const int threads = parallel ? std::min(num_partitions, PUT_PROCESSOR_MANAGER::get_max_threads(0x7fffffff)) : 1;
  const int processes = pipes ? threads : num_partitions;
  kavu_debug("Will run parallel job with %d processes", processes);

  // The flow package carries the helpers' messages; the run goes on without it.
  Tcl_Interp* interp = atcl_get_interpreter();
  KAVU_CHECK(interp != 0);
  if (atcl_package_require(interp, "flow", nullptr, true, true) != 0)
    kavu_debug("Failed to load flow for Parallel Synthesis");
  else
    kavu_debug("successfully loaded the flow package for Parallel Synthesis");

  // The pipe directory is the run's only while it runs: nothing of it
  // stays registered in the caller's process, and the next run makes it
  // anew when a signal removed it.
  THR_PIPE_DIR_HOLD pipe_dir_hold;
  std::vector<THR_NAMED_PIPE*>& dl = run.dl;
  std::vector<THR_NAMED_PIPE*>& ul = run.ul;
  if (pipes) {
    dl.assign(size_t(processes), nullptr);
    ul.assign(size_t(processes), nullptr);
    for (int i = 0; i < processes; ++i) {
      // The names are templates: creation fills them and retries atomically.
      dl[size_t(i)] = new THR_NAMED_PIPE(std::string("dl_pipe") + type + std::to_string(i) + "XXXXXX");
      ul[size_t(i)] = new THR_NAMED_PIPE(std::string("ul_pipe") + type + std::to_string(i) + "XXXXXX");
      THR_NAMED_PIPE* bad = !dl[size_t(i)]->create() ? dl[size_t(i)] : !ul[size_t(i)]->create_r() ? ul[size_t(i)] : nullptr;
      if (bad) {
        kavu_debug("FAILED in creating pipe %s with error code %d", bad->get_name().c_str(), bad->get_error_code());
        // An end signal the caller survived took the pipes' directory: the
        // pipe failed for that, whatever the system said.
        const int interrupted = pipe_dir_hold.interrupted_by();
        post_error("Parallel synthesis cannot start its helpers: " +
                   (interrupted                     ? interruption_text(interrupted)
                    : bad->get_error_text().empty() ? std::string("cannot make a named pipe: ") +
                                                          std::strerror(bad->get_error_code())
                                                    : bad->get_error_text()));
        run.remove_pipes();
        return false;
      }
    }
  }
  std::vector<KAVU_PARALLEL_FAILURE> failures(static_cast<size_t>(processes));
  PUT_SPMD_JOB_VOID_PTR* job = run.job = PUT_SPMD_JOB_VOID_PTR::create_job(&kavu_parallel_launcher_thread, threads,
                                                                           false, nullptr, nullptr);
  std::vector<KAVU_PARALLEL_HELPER_ARGS*>& tasks = run.tasks;
  tasks.reserve(size_t(processes));
  for (int i = 0; i < processes; ++i) {
    auto* args = tasks.emplace_back(new KAVU_PARALLEL_HELPER_ARGS);
    args->command = kavu_parallel_helper_command(facade, type, step, i, pipes ? dl[size_t(i)]->get_name() : "",
                                                 pipes ? ul[size_t(i)]->get_name() : "");
    args->success = &success;
    args->use_pipes = pipes;
    args->dl_pipes = pipes ? dl.data() : nullptr;
    args->ul_pipes = pipes ? ul.data() : nullptr;
    args->num_processes = processes;
    args->num_partitions = num_partitions;
    args->failure = &failures[size_t(i)];
    job->add_task(args);
  }
  const bool insert = MSG_D::m_insert;
  run.insert = insert ? 1 : 0;
  g_insert_before_job.store(insert ? 1 : 0);
  MSG_D::m_insert = false;
  const std::string rev = facade ? facade->get_revision_name() : std::string();
  drop_early_results();
  std::string no_thread;  // why a thread of the run could not start: then no helper ran
  if (pipes && kavu_parallel_key_is_on(type, "pdb", true)) {
    // The helpers are served on the job's threads; this thread reads their
    // results back in partition order as they are answered.
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<bool> answered(size_t(num_partitions), false);
    bool finished = false;
    run.dispatching = true;
    ipc_set_answer_listener(dl.data(), [&](int k) {
      std::lock_guard<std::mutex> lock(mutex);
      if (k >= 0 && k < num_partitions) answered[size_t(k)] = true;
      changed.notify_one();
    });
    std::exception_ptr thrown;  // what the job threw, thrown again here
    std::thread runner;
    const JOIN_ON_EXIT join{runner};
    no_thread = thr_start_thread(&runner, [&] {
      try {
        job->run();
      } catch (...) {
        thrown = std::current_exception();
      }
      std::lock_guard<std::mutex> lock(mutex);
      finished = true;
      changed.notify_one();
    });
    for (int next = 0; no_thread.empty() && next < num_partitions;) {
      {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return finished || answered[size_t(next)]; });
        if (!answered[size_t(next)]) break;
      }
      read_early(rev, type, next++);
    }
    if (runner.joinable()) runner.join();
    if (thrown) std::rethrow_exception(thrown);
    run.ran = no_thread.empty();
  } else {
    job->run();
    run.ran = true;
  }
  if (no_thread.empty()) no_thread = job->get_error_text();
  MSG_D::m_insert = insert;
  g_insert_before_job.store(-1);
  run.insert = -1;
  if (!no_thread.empty()) {
    success = false;
    for (KAVU_PARALLEL_HELPER_ARGS* args : tasks) delete args;
    post_error("Parallel synthesis cannot start its helpers: " + no_thread);
  }
  // Reported here, on the parent's thread, once the workers are done. An
  // end signal the caller survived took the pipes' directory meanwhile: the
  // helpers and this process's side of them that came to their pipes after
  // it failed for that, whatever else they saw ("cannot open" a pipe, a
  // helper that exited without answering), and say so.
  const int interrupted = pipes ? pipe_dir_hold.interrupted_by() : 0;
  const std::string interruption = interrupted ? interruption_text(interrupted) : std::string();
  if (pipes) {
    // Every partition must have been answered, whatever the helpers did.
    const int answered = ipc_end_run(dl.data());
    run.dispatching = false;
    if (success && answered != num_partitions) {
      success = false;
      kavu_debug("Only %d of %d partitions were answered", answered, num_partitions);
      post_error("Parallel synthesis answered only " + std::to_string(answered) + " of " +
                 std::to_string(num_partitions) + " partitions" + (interrupted ? ": " + interruption : ""));
    }
  }
  for (int i = 0; i < processes; ++i) {
    const KAVU_PARALLEL_FAILURE& f = failures[size_t(i)];
    if (!f.m_log_problem.empty())
      msg_post_message(MSG_POST_TYPE_WARNING, "Parallel synthesis runs helper " + std::to_string(i) +
                                                  " without its log \"helper_" + std::to_string(i) +
                                                  ".log\": " + f.m_log_problem);
    if (f.m_debug.empty()) {
      if (f.m_out_of_memory)
        kavu_post_out_of_memory_as([&] {
          return "Parallel synthesis failed: helper " + std::to_string(i) + ": not enough memory to run the helper";
        });
      continue;
    }
    kavu_debug("%s", f.m_debug.c_str());
    remove_temporary_files_of(f.m_pid);
    if (f.m_partition >= 0) {
      report_failed_partition(rev, type, f.m_partition, interrupted ? interruption : f.m_reason);
    } else if (interrupted) {
      post_error("Parallel synthesis failed: helper " + std::to_string(i) + ": " + interruption);
    } else {
      // "the helper exited ..." reads "helper 2 exited ..."; other reasons
      // (it could not be started) follow the helper's number.
      const std::string helper = "helper " + std::to_string(i);
      const bool clause = f.m_reason.compare(0, 11, "the helper ") == 0;
      post_error("Parallel synthesis failed: " + (clause ? helper + f.m_reason.substr(10) : helper + ": " + f.m_reason));
    }
  }
  for (const std::string& line : ipc_take_helper_messages()) kavu_debug("Helper: %s", line.c_str());
  // What the job held back goes into the log (also without pipes, where the
  // caller had insertion on: nothing else would put it there).
  if (pipes || insert) atcl_flush_queue(true, false);
  run.remove_pipes();
  kavu_debug("Partitions %s run successfully", success ? "were" : "were not");
  PUT_SPMD_JOB_VOID_PTR::destroy_job(std::exchange(run.job, nullptr));
  return success;
}
}  // namespace

// ---------------------------------------------------------------- archive names

std::string kavu_parallel_archive_name(const std::string& rev, const char* type, int number) {
  return parsynth_path(rev + "." + type + "_ap_" + std::to_string(number));
}

std::string kavu_parallel_removed_reg_archive_name(const std::string& rev, const char* type, int number) {
  return parsynth_path(rev + "." + type + "_removed_reg_ap_" + std::to_string(number));
}

std::string kavu_parallel_kept_archive_name(const std::string& rev, const char* type, int number) {
  return parsynth_path(rev + "." + type + "_kept_ap_" + std::to_string(number));
}

// "<partition>_<type>_fibs_ap_<n>.parsynth": helpers of two partitions
// never share an archive. The partition name is escaped into one file-name
// part; without a hierarchy the partition part is empty.
std::string kavu_parallel_fibs_to_invalidate_db_name(CDB_SGATE_HIERARCHY* hierarchy, const char* type, int number) {
  const std::string partition =
      hierarchy ? kavu_llis_escape_file_part(KAVU_FIB_MANAGER::get_instance()->get_zhd_partition_name(hierarchy))
                : std::string();
  FIO_PATH path(archive_path(partition + "_" + type + "_fibs_ap_" + std::to_string(number)));
  if (*DBM_TYPE_PARSYNTH) path.extension(DBM_TYPE_PARSYNTH);
  return path.fullpath();
}

void kavu_parallel_remove_output_archives(const std::string& rev, CDB_SGATE_HIERARCHY* hierarchy,
                                          const char* type, int n) {
  // Only what no other process's run may be using (FIO_FILE_SYSTEM::remove_own_file).
  for (int k = 0; k < n; ++k) {
    FIO_FILE_SYSTEM::remove_own_file(archive_file(kavu_parallel_removed_reg_archive_name(rev, type, k)));
    FIO_FILE_SYSTEM::remove_own_file(archive_file(kavu_parallel_fibs_to_invalidate_db_name(hierarchy, type, k)));
  }
}

// ---------------------------------------------------------------- archives

namespace {

// ---- run stamps
// A partition archive holds, besides its netlist, the stamp of the run that
// wrote the partition: the record "run_stamp" (extension "cdb"), a count
// and that many characters (both field tag 1, "stamp"). Each
// kavu_parallel_serialize makes a new stamp and writes it into every
// partition archive; a helper writes the stamp of the archive it read into
// its result (kavu_parallel_read_partition remembers it,
// kavu_parallel_write_and_delete_partition writes it); the read-back takes
// a result only with the stamp of the partition written. An archive without
// the record (written before archives carried one) reads as before, with an
// empty stamp.
const char* const RUN_STAMP_RECORD = "run_stamp";

// A stamp no other run has: this process, the time and a count of its runs,
// and random bits against another host's process of the same number.
constinit std::atomic<unsigned> g_runs_stamped{0};
std::string new_run_stamp() {
  uint64_t random = 0;
  if (getrandom(&random, sizeof random, GRND_NONBLOCK) != ssize_t(sizeof random)) random = 0;
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  char text[96];
  snprintf(text, sizeof text, "%d.%lld.%09ld.%u.%016llx", int(getpid()), static_cast<long long>(now.tv_sec),
           static_cast<long>(now.tv_nsec), ++g_runs_stamped, static_cast<unsigned long long>(random));
  return text;
}

void put_run_stamp(PDB_ARCHIVE& archive, const std::string& stamp) {
  std::vector<uint8_t> payload;
  PDB_SEGMENT seg(&payload);
  seg.set_field(1, "stamp");
  std::string text = stamp;
  uint32_t length = uint32_t(text.size());
  seg.transfer_count(length);
  seg.transfer_chars(length, text.data());
  seg.finish();
  archive.put_record(RUN_STAMP_RECORD, PDB_CDB_SEG_BASE::extension(), std::move(payload));
}

// The run stamp of a reading archive, "" when it holds none; a record that
// is not one stamp throws PDB_DATABASE_EXCEPTION, as damaged data does.
std::string run_stamp_of(const PDB_ARCHIVE& archive) {
  const std::vector<uint8_t>* payload = archive.find_record(RUN_STAMP_RECORD, PDB_CDB_SEG_BASE::extension());
  if (!payload) return "";
  PDB_SEGMENT seg(payload->data(), payload->size());
  seg.set_field(1, "stamp");
  uint32_t length = 0;
  seg.transfer_count(length);  // checked against the bytes left
  std::string stamp(length, '\0');
  seg.transfer_chars(length, stamp.data());
  if (seg.bytes_left() != 0) throw PDB_DATABASE_EXCEPTION(archive.get_file_path() + ": the run stamp is damaged");
  return stamp;
}

// The run stamp of the partition archive last read or written under each
// name in this process.
std::mutex g_run_stamps_mutex;
std::mutex& run_stamps_mutex() { return g_run_stamps_mutex; }
KAVU_LOAD_TIME<std::unordered_map<std::string, std::string>> g_run_stamps("the run stamps");
std::unordered_map<std::string, std::string>& run_stamps() { return *g_run_stamps; }
void remember_run_stamp(const std::string& name, const std::string& stamp) {
  std::lock_guard<std::mutex> lock(run_stamps_mutex());
  if (stamp.empty()) run_stamps().erase(name);
  else run_stamps()[name] = stamp;
}
std::string known_run_stamp(const std::string& name) {
  std::lock_guard<std::mutex> lock(run_stamps_mutex());
  auto it = run_stamps().find(name);
  return it == run_stamps().end() ? std::string() : it->second;
}

// Writes the partition archive, with the run stamp of the archive last
// read or written under its name in this process (a helper's result carries
// the stamp of the partition it was given); "" or why it failed. The
// netlist stays.
std::string write_partition(const std::string& rev, const char* type, int number, CDB_SGATE_NETLIST* netlist) {
  std::string reason;
  if (!gen_make_db_dir(&reason)) return "cannot make the directory \"" + shown(db_dir()) + "\": " + reason;
  try {
    PDB_ARCHIVE archive;
    const std::string name = kavu_parallel_archive_name(rev, type, number);
    archive.open_own_file(name);
    void* ptr = netlist;
    pdb_write_ptr(archive, "", PDB_CDB_SEG_BASE::extension(), &cdb_sgate_netlist_ptr_field, &ptr, 0, -1, 0);
    if (const std::string stamp = known_run_stamp(name); !stamp.empty()) put_run_stamp(archive, stamp);
    archive.close();
  } catch (const PDB_DATABASE_EXCEPTION& e) {
    e.report();
    return write_failure_text(e);
  }
  return "";
}

// Reads an archive's netlist into *netlist (null on failure), and its run
// stamp into *stamp when asked; "" or why it failed.
std::string read_netlist(const std::string& name, CDB_SGATE_NETLIST** netlist, bool report = true,
                         std::string* stamp = nullptr) {
  *netlist = nullptr;
  try {
    PDB_ARCHIVE archive;
    archive.open(name, PDB_ARCHIVE::PDB_READ);
    if (stamp) *stamp = run_stamp_of(archive);
    void* ptr = nullptr;
    pdb_read_ptr(archive, "", PDB_CDB_SEG_BASE::extension(), &cdb_sgate_netlist_ptr_field, &ptr, nullptr,
                 "h/pdb_sys");
    archive.close();
    *netlist = static_cast<CDB_SGATE_NETLIST*>(ptr);
  } catch (const PDB_DATABASE_EXCEPTION& e) {
    if (report) e.report();
    return e.what();
  }
  if (!*netlist) return "the archive holds no netlist";
  (*netlist)->prepare_for_use();
  return "";
}

// A netlist read back is taken only when it is whole: "" or what is wrong.
std::string check_read_back(CDB_SGATE_NETLIST* netlist) {
  std::string report;
  return netlist->check(&report) ? std::string() : "the netlist read back is inconsistent: " + report;
}

// What makes a result the partition written as archive k, for this run:
// the netlist's number; its boundary gates, by debug number with their
// names, directions and whether their input is connected, which the merge joins by number (an output
// boundary to the input boundaries it fed) and which synthesis keeps; its
// pins, by debug number with their names and directions, which synthesis
// keeps too; and the run stamp of its archive, which the helper copies from
// the archive it read into its result. A well-formed archive of another
// partition, or of an empty netlist, has other ones; a result with pins
// missing, added, renamed or turned around would merge into a design with
// other ports than the one the user's constraints and assignments name; a
// boundary turned around or under another boundary's number would stop
// the merge or join the partitions by the wrong signals, and so would a
// boundary whose input the split left connected and the result leaves cut
// (the merge connects again only the inputs the split cut); a result another
// run wrote (under the same numbers and names, for a design since edited)
// would bring back that run's logic. The name of a pin that drives a signal
// includes the name of that signal (its output terminal's), which the
// design's writers give its port.
struct PARTITION_PORT {
  unsigned m_number = 0;
  std::string m_name;
  int m_direction = 0;   // CDB_IO_TYPE of a pin, CDB_BOUNDARY_TYPE of a boundary
  std::string m_net;     // the signal an input or bidirectional pin drives
  bool m_driven = false; // a boundary whose input is connected (driven or tied)
  bool operator<(const PARTITION_PORT& o) const {
    return m_number != o.m_number ? m_number < o.m_number : m_name < o.m_name;
  }
};

struct PARTITION_IDENTITY {
  int m_number = 0;
  std::vector<PARTITION_PORT> m_boundaries;  // sorted
  std::vector<PARTITION_PORT> m_pins;        // sorted
  std::string m_stamp;                       // the run stamp of its archive ("": none)
};

PARTITION_IDENTITY identity_of(CDB_SGATE_NETLIST* netlist) {
  PARTITION_IDENTITY id;
  id.m_number = netlist->get_number();
  for (CDB_SGATE_NODE* node : netlist->get_node_list()) {
    if (CDB_SGATE_BOUNDARY* boundary = node ? node->cast_to_boundary() : nullptr)
      id.m_boundaries.push_back({boundary->get_debug_number(), boundary->get_string_hpath(),
                                 int(boundary->get_direction()), {}, cdb_is_connected(boundary->get_single_iterm())});
    if (CDB_SGATE_IO* pin = node ? node->cast_to_io() : nullptr) {
      const CDB_IO_TYPE direction = pin->get_io_type();
      const CDB_SGATE_OTERM* net = direction == CDB_IO_OUTPUT ? nullptr : pin->get_output_term(0);
      id.m_pins.push_back({pin->get_debug_number(), pin->get_string_hpath(), int(direction),
                           net ? net->get_string_hpath() : std::string()});
    }
  }
  std::sort(id.m_boundaries.begin(), id.m_boundaries.end());
  std::sort(id.m_pins.begin(), id.m_pins.end());
  return id;
}

// "" when the result's pins (or boundary gates: `what`) are those written,
// else how they differ: those written and not found, found and not
// written, found by debug number under another name (of the gate or of the
// signal a pin drives), found with another direction, and boundaries
// written with their input connected found with it cut (the split cuts
// only the inputs the merge connects again; the merge needs every other
// one connected). One walk over both sorted lists; entries that share a
// debug number pair up in name order.
std::string port_difference(const char* what, const std::vector<PARTITION_PORT>& written,
                            const std::vector<PARTITION_PORT>& got) {
  size_t missing = 0, extra = 0, renamed = 0, turned = 0, undriven = 0, i = 0, j = 0;
  while (i < written.size() && j < got.size()) {
    if (written[i].m_number < got[j].m_number) {
      ++missing;
      ++i;
    } else if (got[j].m_number < written[i].m_number) {
      ++extra;
      ++j;
    } else {
      const PARTITION_PORT& w = written[i++];
      const PARTITION_PORT& g = got[j++];
      const bool same_direction = w.m_direction == g.m_direction;
      renamed += w.m_name != g.m_name || (same_direction && w.m_net != g.m_net);
      turned += !same_direction;
      undriven += same_direction && w.m_driven && !g.m_driven;
    }
  }
  missing += written.size() - i;
  extra += got.size() - j;
  if (missing == 0 && extra == 0 && renamed == 0 && turned == 0 && undriven == 0) return "";
  std::vector<std::string> counts = {std::to_string(missing) + " are missing", std::to_string(extra) + " are extra",
                                     std::to_string(renamed) + " are renamed"};
  if (turned) counts.push_back(std::to_string(turned) + " changed direction");
  if (undriven) counts.push_back(std::to_string(undriven) + " are left undriven");
  std::string text = "of its " + std::to_string(written.size()) + " " + what + " " + counts[0];
  for (size_t c = 1; c < counts.size(); ++c) text += (c + 1 == counts.size() ? " and " : ", ") + counts[c];
  return text;
}

// The identities of the partitions this process wrote, by the file of
// their kept copy; an entry goes with its kept copy.
KAVU_LOAD_TIME<std::unordered_map<std::string, PARTITION_IDENTITY>> g_written_identities("the written partitions");
std::unordered_map<std::string, PARTITION_IDENTITY>& written_identities() { return *g_written_identities; }

std::string kept_file(const std::string& rev, const char* type, int k) {
  return archive_file(kavu_parallel_kept_archive_name(rev, type, k));
}

// The result of partition k is taken: its kept copy goes.
void drop_kept_copy(const std::string& rev, const char* type, int k) {
  const std::string kept = kept_file(rev, type, k);
  FIO_FILE_SYSTEM::remove_own_file(kept);  // where the lock may not keep other runs out, only this run's
  written_identities().erase(kept);
  told_partitions().erase(kept);
}

// "" when `result`, read from an archive with the run stamp `stamp`, is
// partition k's of this run, else why not, as the clause after "its result
// "<file>" ". What was written is known from the write in this process,
// else from the kept copy; with neither there is nothing to compare (nor
// for a kept copy itself, found where this process wrote nothing). A kept
// copy without a stamp (written before archives carried one) leaves the
// stamp unchecked.
std::string check_identity(const std::string& rev, const char* type, int k, CDB_SGATE_NETLIST* result,
                           const std::string& stamp) {
  PARTITION_IDENTITY from_copy;
  const PARTITION_IDENTITY* known = &from_copy;
  auto it = written_identities().find(kept_file(rev, type, k));
  if (it != written_identities().end()) {
    known = &it->second;
  } else {
    CDB_SGATE_NETLIST* copy = nullptr;
    const bool read =
        read_netlist(kavu_parallel_kept_archive_name(rev, type, k), &copy, false, &from_copy.m_stamp).empty();
    if (read) {
      std::string copy_stamp = std::move(from_copy.m_stamp);
      from_copy = identity_of(copy);
      from_copy.m_stamp = std::move(copy_stamp);
    }
    delete copy;
    if (!read) return "";
  }
  const PARTITION_IDENTITY& written = *known;
  const PARTITION_IDENTITY got = identity_of(result);
  const std::string not_the_partition = "is not this partition's netlist (";
  if (got.m_number != written.m_number)
    return not_the_partition + "it is netlist " + std::to_string(got.m_number) + ", partition " + std::to_string(k) +
           " was written as netlist " + std::to_string(written.m_number) + ")";
  // The same partition, by number, written for another run: the helpers of
  // two compiles of this revision sharing the database directory, or a
  // file an earlier run left and something put back.
  if (!written.m_stamp.empty() && stamp != written.m_stamp)
    return std::string("was not written for this run (") +
           (stamp.empty() ? "it carries no run stamp" : "it carries the stamp of another run") + ")";
  // The merge joins the partitions at their boundaries, by number and
  // direction; synthesis keeps every boundary and every pin as it is, and
  // the merge of a result with other pins would give a design with other
  // inputs or outputs.
  std::string difference = port_difference("boundaries", written.m_boundaries, got.m_boundaries);
  if (difference.empty()) difference = port_difference("pins", written.m_pins, got.m_pins);
  return difference.empty() ? difference : not_the_partition + difference + ")";
}

// Results read back while the helpers still run: partition k's archive is
// read, in partition order, as soon as its helper has answered for it and
// every earlier one is read, so the parent's reading overlaps the helpers'
// work. The reads are the ones the read-back would make, in its order, and
// say nothing; kavu_parallel_deserialize takes a result only while its file
// is the one read (same file, size and time), and reads it itself otherwise,
// so a result that fails is read again and reported there.
struct EARLY_RESULT {
  std::string file;
  struct stat st {};
  CDB_SGATE_NETLIST* netlist = nullptr;
  std::string stamp;  // the run stamp of its archive
};
KAVU_LOAD_TIME<std::vector<EARLY_RESULT>> g_early_results("the results read ahead");
std::vector<EARLY_RESULT>& early_results() { return *g_early_results; }

bool same_file(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

void drop_early_results() {
  for (EARLY_RESULT& r : early_results()) delete r.netlist;
  early_results().clear();
}

// Reads partition k's result ahead; nothing is kept when it fails, memory
// refused included (the read-back reads it again, and says why it fails).
void read_early(const std::string& rev, const char* type, int k) {
  EARLY_RESULT r;
  kavu_guard_memory_void(
      [&] {
        const std::string name = kavu_parallel_archive_name(rev, type, k);
        r.file = archive_file(name);
        if (stat(r.file.c_str(), &r.st) != 0) return;
        std::string why = read_netlist(name, &r.netlist, false, &r.stamp);
        if (why.empty()) why = check_read_back(r.netlist);
        if (!why.empty()) {
          delete std::exchange(r.netlist, nullptr);
          return;
        }
        early_results().resize(std::max(early_results().size(), size_t(k) + 1));
        early_results()[size_t(k)] = std::move(r);
      },
      [&] { delete std::exchange(r.netlist, nullptr); });
}

// Partition k's result read ahead, with its run stamp, when its file is
// still the one read.
CDB_SGATE_NETLIST* take_early_result(int k, std::string* stamp) {
  if (size_t(k) >= early_results().size()) return nullptr;
  EARLY_RESULT& r = early_results()[size_t(k)];
  CDB_SGATE_NETLIST* netlist = r.netlist;
  r.netlist = nullptr;
  *stamp = std::move(r.stamp);
  struct stat now;
  if (netlist && (stat(r.file.c_str(), &now) != 0 || !same_file(now, r.st))) {
    delete netlist;
    netlist = nullptr;
  }
  return netlist;
}

// ---- a child forked without exec
// The child of a fork has none of its parent's flow: the parent's threads
// that held its locks, or were changing its tables, are not in it. Each
// lock is made anew and each table started empty, the parent's copies left
// unread (they may be half changed); the lock files' descriptors are closed
// (close_held_lock_files_in_child); the message switch a run of the
// helpers turned off is put back as the caller had it. Everything it
// touches is made as the library loads, where the handler is registered
// too: the child never waits for a set-up another thread of the parent
// was making.
void forget_flow_in_child() {
  close_held_lock_files_in_child();
  new (&g_run_locks_mutex) std::mutex;
  g_run_locks.renew();
  new (&g_run_stamps_mutex) std::mutex;
  g_run_stamps.renew();
  g_early_results.renew();
  g_written_identities.renew();
  g_told_partitions.renew();
  if (const int insert = g_insert_before_job.exchange(-1); insert >= 0) MSG_D::m_insert = insert != 0;
}

[[maybe_unused]] const int g_flow_forgotten_in_child =
    (thr_setup_point("the flow's child handler"), pthread_atfork(nullptr, nullptr, forget_flow_in_child));

// Copies file `from` over `to`: 0, or the system's error number of the
// step that failed (`to` is then left as it was), *problem the writer's
// reason when it gave one. Written only as a file of the run's own in the
// shared directory.
int copy_whole_file(const std::string& from, const std::string& to, std::string* problem) {
  int error_code = 0;
  return FIO_FILE_SYSTEM::copy_own_file(from, to, problem, &error_code) ? 0 : error_code;
}

// Keeps a copy of partition archive k under the kept name, so the partition
// survives whatever its helper writes in its place; "" or why it failed.
// A full disk is named from the failed write's error number or, before the
// partial copy is removed and gives its room back, from the free space.
std::string keep_copy(const std::string& rev, const char* type, int k) {
  const std::string kept = archive_file(kavu_parallel_kept_archive_name(rev, type, k));
  std::string problem;
  const int error_code = copy_whole_file(archive_file(kavu_parallel_archive_name(rev, type, k)), kept, &problem);
  if (error_code == 0) return "";
  const std::string prefix = "cannot write the file: ";
  if (problem.compare(0, prefix.size(), prefix) == 0) problem.erase(0, prefix.size());
  const std::string why = write_failure_text("", error_code, problem);
  FIO_FILE_SYSTEM::remove_own_file(kept);  // where the lock may not keep other runs out, only this run's
  return why;
}

// A machine whose terminals were dropped at the split (its signals were
// routed into its partition) is pointed at the partition's own gates again
// from its stored numbers: the archive carries a machine as references to
// the gates of its netlist.
void point_machines_at_their_gates(CDB_SGATE_NETLIST* part) {
  if (!part->has_machines()) return;
  std::unordered_map<unsigned, CDB_SGATE_NODE*> gates;
  for (CDB_STATE_MACHINE* m : *part->get_machine_list()) m->gather_stored_debug_numbers(&gates);
  if (gates.empty()) return;
  for (CDB_SGATE_NODE* node : part->get_node_list()) {
    auto it = node ? gates.find(node->get_debug_number()) : gates.end();
    if (it != gates.end()) it->second = node;
  }
  for (CDB_STATE_MACHINE* m : *part->get_machine_list()) {
    std::unordered_map<unsigned, CDB_SGATE_NODE*> own;
    m->gather_stored_debug_numbers(&own);
    if (!own.empty()) m->recover_oterms_from_debug_numbers(&gates);
  }
}

// Netlists deleted on a thread of their own, in the order given, while the
// caller goes on; finish() (or the destructor) waits until all are gone.
// The thread ends there and hands the freed gate and terminal cells to the
// pool's arena, where the read-back takes them instead of fresh memory.
// Where the system refuses the thread, each netlist is deleted as it is
// added, on the caller's thread.
class NETLIST_DELETER {
 public:
  NETLIST_DELETER() { m_inline = !thr_start_thread(&m_thread, [this] { work(); }).empty(); }
  ~NETLIST_DELETER() { finish(); }
  NETLIST_DELETER(const NETLIST_DELETER&) = delete;
  NETLIST_DELETER& operator=(const NETLIST_DELETER&) = delete;

  void add(CDB_SGATE_NETLIST* netlist) {
    if (m_inline) {
      delete netlist;
      return;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_queue.push_back(netlist);
    m_ready.notify_one();
  }
  void finish() {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_closed = true;
      m_ready.notify_one();
    }
    if (m_thread.joinable()) m_thread.join();
  }

 private:
  void work() {
    for (;;) {
      CDB_SGATE_NETLIST* netlist = nullptr;
      {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_ready.wait(lock, [&] { return m_closed || !m_queue.empty(); });
        if (m_queue.empty()) return;
        netlist = m_queue.front();
        m_queue.pop_front();
      }
      delete netlist;
    }
  }

  std::mutex m_mutex;
  std::condition_variable m_ready;
  std::deque<CDB_SGATE_NETLIST*> m_queue;
  bool m_closed = false;
  bool m_inline = false;  // no thread: netlists are deleted as they are added
  std::thread m_thread;
};

// Partition archives filled and written under their temporary names on
// worker threads, in the order given, and published (renamed over their
// targets) one by one by the caller's thread. A worker holds one archive's
// bytes at a time; a written archive holds none. When the system refuses a
// worker, none goes on (start_failure() says why) and nothing is published.
class STAGED_ARCHIVES {
 public:
  STAGED_ARCHIVES(const std::string& rev, const char* type, const std::vector<CDB_SGATE_NETLIST*>& parts,
                  const std::string& stamp, int threads)
      : m_parts(parts), m_stamp(stamp), m_slots(parts.size()) {
    for (size_t k = 0; k < parts.size(); ++k) m_slots[k].name = kavu_parallel_archive_name(rev, type, int(k));
    // Room for every worker before the first starts: memory refused later
    // would leave a started worker unjoined.
    m_workers.reserve(size_t(std::max(threads, 1)));
    for (int t = 0; t < std::max(threads, 1) && m_start_failure.empty(); ++t)
      m_start_failure = thr_start_thread(&m_workers.emplace_back(), [this] { work(); });
    if (!m_start_failure.empty()) cancel();
  }
  ~STAGED_ARCHIVES() { cancel(); }
  STAGED_ARCHIVES(const STAGED_ARCHIVES&) = delete;
  STAGED_ARCHIVES& operator=(const STAGED_ARCHIVES&) = delete;

  // Publishes archive k once it is written: "" or why it failed (its
  // failure reported as writing it in one piece reports it).
  std::string publish(size_t k) {
    SLOT& slot = m_slots[k];
    {
      std::unique_lock<std::mutex> lock(m_mutex);
      m_done.wait(lock, [&] { return slot.ready; });
    }
    try {
      if (slot.failure) std::rethrow_exception(slot.failure);
      slot.archive->close();
    } catch (const PDB_DATABASE_EXCEPTION& e) {
      e.report();
      return write_failure_text(e);
    }
    return "";
  }

  // Stops the workers; archives not published are dropped with their
  // temporary files.
  void cancel() {
    m_next.store(m_slots.size());
    for (std::thread& t : m_workers)
      if (t.joinable()) t.join();
    m_workers.clear();
    for (SLOT& slot : m_slots) slot.archive.reset();
  }

  // Why a worker could not start ("cannot start a thread: ..."), or "".
  const std::string& start_failure() const { return m_start_failure; }

 private:
  struct SLOT {
    std::string name;
    std::unique_ptr<PDB_ARCHIVE> archive;
    std::exception_ptr failure;
    bool ready = false;
  };

  void work() {
    for (size_t k = m_next++; k < m_slots.size(); k = m_next++) {
      SLOT& slot = m_slots[k];
      std::unique_ptr<PDB_ARCHIVE> archive;
      std::exception_ptr failure;
      try {  // memory refused for the archive itself goes to the publisher too
        archive = std::make_unique<PDB_ARCHIVE>();
        archive->open_own_file(slot.name);
        void* ptr = m_parts[k];
        pdb_write_ptr(*archive, "", PDB_CDB_SEG_BASE::extension(), &cdb_sgate_netlist_ptr_field, &ptr, 0, -1, 0);
        put_run_stamp(*archive, m_stamp);
        archive->stage();
      } catch (...) {  // handed to the publishing thread as it came
        failure = std::current_exception();
        archive.reset();
      }
      std::lock_guard<std::mutex> lock(m_mutex);
      slot.archive = std::move(archive);
      slot.failure = std::move(failure);
      slot.ready = true;
      m_done.notify_all();
    }
  }

  const std::vector<CDB_SGATE_NETLIST*>& m_parts;
  const std::string m_stamp;  // the run's, in every archive
  std::vector<SLOT> m_slots;
  std::atomic<size_t> m_next{0};
  std::mutex m_mutex;
  std::condition_variable m_done;
  std::vector<std::thread> m_workers;
  std::string m_start_failure;
};

}  // namespace

bool kavu_parallel_write_and_delete_partition(const std::string& rev, const char* type, int number,
                                              CDB_SGATE_NETLIST* netlist) {
  GEN_PROFILER profiler("KAVU", "kavu_parallel_write_and_delete_partition");
  KAVU_CHECK(netlist);
  if (!write_partition(rev, type, number, netlist).empty()) return false;  // the netlist stays with the caller
  delete netlist;
  return true;
}

namespace {
// The root of the hierarchy of the first gate that has one, else of the
// netlist's own (a partition without pins has no gate that names one, its
// archive still names the netlist's); null when there is none.
CDB_SGATE_HIERARCHY* root_hierarchy_of(CDB_SGATE_NETLIST* netlist) {
  for (CDB_SGATE_NODE* node : netlist->get_node_list()) {
    CDB_SGATE_HIERARCHY* h = node ? node->get_hierarchy() : nullptr;
    if (h) return dynamic_cast<CDB_SGATE_HIERARCHY*>(h->get_root());
  }
  CDB_SGATE_HIERARCHY* own = netlist->get_hierarchy();
  return own ? dynamic_cast<CDB_SGATE_HIERARCHY*>(own->get_root()) : nullptr;
}
}  // namespace

void kavu_parallel_attach_root_hierarchy(CDB_SGATE_NETLIST* netlist, CDB_SGATE_HIERARCHY** hierarchy_ptr) {
  KAVU_CHECK(netlist && hierarchy_ptr);
  *hierarchy_ptr = nullptr;
  auto node_it = netlist->begin_node_list();
  const auto node_end = netlist->end_node_list();
  KAVU_CHECK(node_it != node_end);
  *hierarchy_ptr = root_hierarchy_of(netlist);
  KAVU_CHECK(*hierarchy_ptr);
  (*hierarchy_ptr)->set_netlist(netlist);  // also records the hierarchy in the netlist
}

bool kavu_parallel_read_partition(const std::string& rev, const char* type, int number,
                                  CDB_SGATE_NETLIST** partition_ptr, CDB_SGATE_HIERARCHY** hierarchy_ptr) {
  GEN_PROFILER profiler("KAVU", "kavu_parallel_read_partition");
  KAVU_CHECK(partition_ptr);
  if (hierarchy_ptr) *hierarchy_ptr = nullptr;
  CDB_SGATE_NETLIST* netlist = nullptr;
  const std::string name = kavu_parallel_archive_name(rev, type, number);
  std::string stamp;
  std::string why = read_netlist(name, &netlist, true, &stamp);
  // A damaged archive may still read as a netlist that is not whole; the
  // helper must not synthesize it any more than the parent may take it.
  if (why.empty()) why = check_read_back(netlist);
  // The result written under this name carries the stamp of the partition read.
  if (why.empty()) remember_run_stamp(name, stamp);
  // A process that reads a partition outside a run of its own is a helper
  // of the run that wrote it: the files that run made in the database
  // directory (this archive among them) are the ones it may replace, and
  // what it writes there is the run's.
  if (why.empty() && !stamp.empty() && !db_dir_is_held()) FIO_FILE_SYSTEM::write_for_run(db_dir(), stamp);
  if (!why.empty()) {
    delete netlist;
    *partition_ptr = nullptr;
    kavu_debug("Cannot read partition %d: %s", number, why.c_str());
    return false;
  }
  if (hierarchy_ptr) {
    // The attach's internal errors, checked first so that no netlist is
    // left behind when they stop the call.
    const bool empty = netlist->begin_node_list() == netlist->end_node_list();
    if (empty || !root_hierarchy_of(netlist)) {
      delete netlist;
      *partition_ptr = nullptr;
      if (empty) KAVU_INTERNAL_ERROR("node_it != node_end");
      KAVU_INTERNAL_ERROR("*hierarchy_ptr");
    }
    kavu_parallel_attach_root_hierarchy(netlist, hierarchy_ptr);
  }
  *partition_ptr = netlist;
  return true;
}

void kavu_parallel_create_removed_reg_db(const std::string&, const char* type, int number) {
  GEN_PROFILER profiler("KAVU", "kavu_parallel_create_removed_reg_db");
  char name[256];
  snprintf(name, sizeof name, "reg_db_%s_%d", type, number);
  CDB_SGATE_REMOVED_REGISTERS_MANAGER* reg_manager = CDB_SGATE_REMOVED_REGISTERS_MANAGER::get_instance();
  KAVU_CHECK(reg_manager != NULL);
  CDB_SGATE_REMOVED_REGISTERS_DB* reg_db = reg_manager->create_removed_reg_db(name, 5000, 5000);
  KAVU_CHECK(reg_db);
  reg_manager->set_current_removed_reg_db(name);
}

bool kavu_parallel_write_and_delete_removed_reg_db(const std::string& rev, const char* type, int number) {
  GEN_PROFILER profiler("KAVU", "kavu_parallel_write_and_delete_removed_reg_db");
  CDB_SGATE_REMOVED_REGISTERS_MANAGER* reg_manager = CDB_SGATE_REMOVED_REGISTERS_MANAGER::get_instance();
  KAVU_CHECK(reg_manager != NULL);
  CDB_SGATE_REMOVED_REGISTERS_DB* reg_db = reg_manager->get_current_removed_reg_db();
  KAVU_CHECK(reg_db != NULL);
  std::string reason;
  if (!gen_make_db_dir(&reason)) {
    kavu_debug("Cannot write in %s: %s", db_dir().c_str(), reason.c_str());
    return false;
  }
  try {
    PDB_ARCHIVE archive;
    archive.open_own_file(kavu_parallel_removed_reg_archive_name(rev, type, number));
    void* ptr = reg_db;
    pdb_write_ptr(archive, "", PDB_CDB_SEG_BASE::extension(), &cdb_sgate_removed_regs_ptr_field, &ptr, 0, -1, 0);
    archive.close();
  } catch (const PDB_DATABASE_EXCEPTION& e) {
    e.report();
    return false;
  }
  return true;
}

bool kavu_parallel_read_removed_reg_db(const std::string& rev, const char* type, int number,
                                       CDB_SGATE_REMOVED_REGISTERS_DB** db) {
  GEN_PROFILER profiler("KAVU", "kavu_parallel_read_removed_reg_db");
  KAVU_CHECK(db);
  *db = nullptr;
  try {
    PDB_ARCHIVE archive;
    archive.open(kavu_parallel_removed_reg_archive_name(rev, type, number), PDB_ARCHIVE::PDB_READ);
    void* ptr = nullptr;
    pdb_read_ptr(archive, "", PDB_CDB_SEG_BASE::extension(), &cdb_sgate_removed_regs_ptr_field, &ptr, nullptr,
                 "h/pdb_sys");
    archive.close();
    *db = static_cast<CDB_SGATE_REMOVED_REGISTERS_DB*>(ptr);
  } catch (const PDB_DATABASE_EXCEPTION& e) {
    e.report();
    return false;
  }
  return *db != nullptr;  // a missing database is a failure, never a null to merge
}

namespace {
void fibs_ptr_field(PDB_SEGMENT& seg, void* ptr_address) {
  seg.set_field(199, "ptr");
  seg.transfer_ptr(*static_cast<void**>(ptr_address), *KAVU_FIBS_TO_INVALIDATE::pdb_thunk());
}
}  // namespace

bool kavu_parallel_read_fibs_ptr(PDB_ARCHIVE& archive, KAVU_FIBS_TO_INVALIDATE*& owned) {
  // The record read replaces (and frees) the one held; nothing is leaked.
  void* ptr = owned;
  pdb_read_ptr(archive, "", PDB_CDB_SEG_BASE::extension(), &fibs_ptr_field, &ptr, nullptr, "h/pdb_sys");
  owned = static_cast<KAVU_FIBS_TO_INVALIDATE*>(ptr);
  return owned != nullptr;
}

bool kavu_parallel_read_fibs_to_invalidate(CDB_SGATE_HIERARCHY* hierarchy, const char* type, int number,
                                           KAVU_FIBS_TO_INVALIDATE** fibs) {
  GEN_PROFILER profiler("KAVU", "kavu_parallel_read_fibs_to_invalidate");
  KAVU_CHECK(fibs);
  // The out pointer owns what it holds: freed here, never dropped.
  delete *fibs;
  *fibs = nullptr;
  bool ok = false;
  try {
    PDB_ARCHIVE archive;
    archive.open(kavu_parallel_fibs_to_invalidate_db_name(hierarchy, type, number), PDB_ARCHIVE::PDB_READ);
    ok = kavu_parallel_read_fibs_ptr(archive, *fibs);
    archive.close();
  } catch (const PDB_DATABASE_EXCEPTION& e) {
    e.report();
    delete *fibs;
    *fibs = nullptr;
    return false;
  }
  return ok;
}

bool kavu_parallel_write_fibs_to_invalidate(CDB_SGATE_HIERARCHY* hierarchy, const char* type, int number,
                                            KAVU_FIBS_TO_INVALIDATE* fibs) {
  KAVU_CHECK(fibs);
  std::string reason;
  if (!gen_make_db_dir(&reason)) {
    kavu_debug("Cannot write in %s: %s", db_dir().c_str(), reason.c_str());
    return false;
  }
  try {
    PDB_ARCHIVE archive;
    archive.open_own_file(kavu_parallel_fibs_to_invalidate_db_name(hierarchy, type, number));
    void* ptr = fibs;
    pdb_write_ptr(archive, "", PDB_CDB_SEG_BASE::extension(), &fibs_ptr_field, &ptr, 0, -1, 0);
    archive.close();
  } catch (const PDB_DATABASE_EXCEPTION& e) {
    e.report();
    return false;
  }
  return true;
}

namespace {

// What a write of the partitions refused memory part way has done: whether
// it holds the directory's lock, and how many partitions it was given.
struct PARTITIONS_WRITE {
  bool locked = false;
  size_t given = 0;
};

bool write_partitions(PARTITIONS_WRITE& run, CMP_FACADE* facade, const char* type, int step,
                      CDB_SGATE_HIERARCHY* hierarchy, std::vector<CDB_SGATE_NETLIST*>& partitions);

}  // namespace

bool kavu_parallel_serialize(CMP_FACADE* facade, const char* type, int step, CDB_SGATE_HIERARCHY* hierarchy,
                             std::vector<CDB_SGATE_NETLIST*>& partitions) {
  GEN_PROFILER profiler("KAVU", "kavu_parallel_serialize");
  // A run whose split was refused, beside another design's run: nothing of
  // that run's (its lock, its files) may be touched.
  if (partitions.empty() && kavu_partitions_of_another_design_are_out(nullptr)) {
    kavu_refuse_run_beside_another(KAVU_REFUSED_WRITE, nullptr);
    return false;
  }
  if (!kavu_parallel_key_is_on(type, "pdb", true)) return true;
  PARTITIONS_WRITE run;
  run.given = partitions.size();
  return kavu_guard_memory(
      false, [&] { return write_partitions(run, facade, type, step, hierarchy, partitions); },
      [&] {
        // Refused part way: a partition leaves the vector only once its
        // archive and its kept copy are written (recovery finds it there);
        // the others stay in memory, as after a failed write.
        partitions.erase(std::remove(partitions.begin(), partitions.end(), nullptr), partitions.end());
        if (run.locked && partitions.size() == run.given) unlock_db_dir();  // none written: nothing to recover
        kavu_post_out_of_memory_as([] {
          return "Parallel synthesis cannot write the partitions in \"" + shown(db_dir()) +
                 "\": not enough memory. The partitions not yet written stay in memory; those written are kept in "
                 "\"" + shown(db_dir()) + "\"";
        });
      });
}

namespace {
bool write_partitions(PARTITIONS_WRITE& run, CMP_FACADE* facade, const char* type, int step,
                      CDB_SGATE_HIERARCHY* hierarchy, std::vector<CDB_SGATE_NETLIST*>& partitions) {
  // The read-back merges every helper's removed registers into the current
  // database and stops the run without one; checked here, in its words,
  // while every partition is still in memory.
  CDB_SGATE_REMOVED_REGISTERS_MANAGER* reg_manager = CDB_SGATE_REMOVED_REGISTERS_MANAGER::get_instance();
  KAVU_CHECK(reg_manager != NULL);
  CDB_SGATE_REMOVED_REGISTERS_DB* main_reg_db = reg_manager->get_current_removed_reg_db();
  KAVU_CHECK(main_reg_db != NULL);
  std::string reason;
  if (!gen_make_db_dir(&reason)) {
    kavu_debug("Cannot write in %s: %s", db_dir().c_str(), reason.c_str());
    post_error("Parallel synthesis cannot write the partitions in \"" + shown(db_dir()) + "\": " + reason +
               ". The partitions stay in memory");
    return false;
  }
  const std::string rev = facade ? facade->get_revision_name() : std::string();
  if (!kavu_parallel_names_stay_in_db_dir(rev, type)) return false;  // nothing written, the partitions stay
  // Another run in this directory would take this run's files for its own.
  if (const std::string why = lock_db_dir(); !why.empty()) {
    kavu_debug("Cannot lock %s: %s", db_dir().c_str(), why.c_str());
    post_error("Parallel synthesis cannot write the partitions in \"" + shown(db_dir()) + "\": " + why +
               ". The partitions stay in memory");
    return false;
  }
  run.locked = true;
  // Every archive of this run carries its stamp, and so must every result;
  // the files the run and its helpers make in the directory are the run's.
  // No lock keeps out a run that reaches the directory through a mount
  // (FUSE, NFS without its lock daemon): the run replaces and removes no
  // file another process's run may be using, its user's included. Where the
  // lock may not keep runs apart even on this host it keeps to files of its
  // own and of runs that have ended.
  const std::string stamp = new_run_stamp();
  std::string unrecorded;
  if (!FIO_FILE_SYSTEM::keep_files_of_run(db_dir(), stamp, !db_dir_is_excluded(), &unrecorded)) {
    post_error("Parallel synthesis cannot write the partitions in \"" + shown(db_dir()) + "\": " + unrecorded +
               ". The partitions stay in memory");
    unlock_db_dir();  // nothing of this run is on disk
    return false;
  }
  std::vector<std::string> files = {db_dir() + "/hdb_namespace." + PDB_CDB_SEG_BASE::extension()}, cleared;
  for (int k = 0; k < int(partitions.size()); ++k) {
    files.push_back(archive_file(kavu_parallel_archive_name(rev, type, k)));
    files.push_back(kept_file(rev, type, k));
    cleared.push_back(archive_file(kavu_parallel_removed_reg_archive_name(rev, type, k)));
    cleared.push_back(archive_file(kavu_parallel_fibs_to_invalidate_db_name(hierarchy, type, k)));
  }
  // Every file in the way is named at once.
  std::vector<std::string> another_users, not_made;
  files_another_run_may_use(files, cleared, &another_users, &not_made);
  if (!another_users.empty() || !not_made.empty()) {
    const std::string lock = "a run the lock on \"" + shown(db_dir() + "/" + RUN_LOCK_FILE) + "\" does not keep out";
    const bool one = another_users.size() == 1, alone = not_made.size() == 1;
    std::string why;
    if (!another_users.empty())
      why = listed(another_users) + (one ? " is another user's file, which " : " are other users' files, which ") + lock +
            " may be using";
    if (!not_made.empty())
      why += (why.empty() ? "" : "; ") + listed(not_made) + (alone ? " was" : " were") + " not made by this run, and " +
             lock + " may be using " + (alone ? "it" : "them") + " (remove " + (alone ? "it" : "them") +
             " when no run uses the directory): " + who_made(not_made);
    post_error("Parallel synthesis cannot write the partitions in \"" + shown(db_dir()) + "\": " + why +
               ". The partitions stay in memory");
    unlock_db_dir();  // nothing of this run is on disk
    return false;
  }
  std::vector<std::pair<size_t, size_t>> order;  // (position, size)
  for (size_t i = 0; i < partitions.size(); ++i) {
    KAVU_CHECK(partitions[i]);
    order.emplace_back(i, partitions[i]->get_node_list().size());
  }
  // Largest first; equal sizes by decreasing position.
  std::sort(order.begin(), order.end(), [](const auto& a, const auto& b) {
    return a.second != b.second ? a.second > b.second : a.first > b.first;
  });
  for (size_t k = 0; k < order.size(); ++k) {
    CDB_SGATE_NETLIST* part = partitions[order[k].first];
    kavu_debug("Writing partition %d of size %d to pdb file %d", int(order[k].first), int(order[k].second), int(k));
    CDB_SGATE_HIERARCHY::set_hierarchy_pointers(hierarchy, part);
    part->set_hierarchy(hierarchy);
    point_machines_at_their_gates(part);
    kavu_parallel_dump(hierarchy, part, "%s%d_part%d_before_pdb", type, step, int(k));
    PARTITION_IDENTITY& identity = written_identities()[kept_file(rev, type, int(k))];
    identity = identity_of(part);
    identity.m_stamp = stamp;
    told_partitions().erase(kept_file(rev, type, int(k)));  // a new run of the partition
  }
  // The archives are filled and written under their temporary names on
  // worker threads while this thread writes the namespace archive; they are
  // published in order below, so what is on disk and in memory afterwards is
  // what writing them one by one leaves, failures included.
  const int threads = kavu_parallel_key_is_on(type, "parallel", true)
                          ? std::min(int(order.size()), PUT_PROCESSOR_MANAGER::get_max_threads(0x7fffffff))
                          : 1;
  std::vector<CDB_SGATE_NETLIST*> in_order;
  for (const auto& [position, size] : order) in_order.push_back(partitions[position]);
  STAGED_ARCHIVES staged(rev, type, in_order, stamp, threads);
  if (!staged.start_failure().empty()) {
    post_error("Parallel synthesis cannot write the partitions in \"" + shown(db_dir()) + "\": " +
               staged.start_failure() + ". The partitions stay in memory");
    unlock_db_dir();  // nothing of this run is on disk
    return false;
  }
  // The helpers find the design's names and options in the namespace
  // archive. Nothing is published before it is written, so that its failure
  // leaves every partition here.
  HDB_NAMESPACE* ns = facade ? facade->get_namespace() : kavu_platform::hdb_default_namespace();
  if (!HDB_NAMESPACE::write_pdb(ns, gen_get_db_dir_path(), true)) {
    staged.cancel();
    kavu_debug("Failed to write the namespace archive");
    post_error("Parallel synthesis cannot write the design's namespace archive in \"" + shown(db_dir()) +
               "\": " + write_failure_text("the write failed", pdb_last_write_error(), pdb_last_write_reason()) + ". The partitions stay in memory");
    unlock_db_dir();  // nothing of this run is on disk
    return false;
  }
  bool ok = true;
  NETLIST_DELETER deleter;
  for (size_t k = 0; k < order.size() && ok; ++k) {
    CDB_SGATE_NETLIST* part = partitions[order[k].first];
    // A partition leaves memory only once its archive and the copy kept
    // until its result is back are both written.
    // The file that failed is named: the archive, or the copy kept of it.
    std::string file = archive_file(kavu_parallel_archive_name(rev, type, int(k)));
    std::string why = staged.publish(k);
    if (why.empty()) {
      remember_run_stamp(kavu_parallel_archive_name(rev, type, int(k)), stamp);
      why = keep_copy(rev, type, int(k));
      file = archive_file(kavu_parallel_kept_archive_name(rev, type, int(k)));
    }
    ok = why.empty();
    if (ok) {
      deleter.add(part);
      partitions[order[k].first] = nullptr;
    } else {
      kavu_debug("Failed to serialize partition %d", int(k));
      post_error("Parallel synthesis cannot write partition " + std::to_string(k) + " to \"" + shown(file) + "\": " + why +
                 ". The partitions not yet written stay in memory; those written are kept in \"" + shown(db_dir()) + "\"");
    }
  }
  staged.cancel();
  deleter.finish();
  // What an earlier run left as a helper's output would pass for this run's
  // answer, in the read-back and in recovery from a failed write alike.
  kavu_parallel_remove_output_archives(rev, hierarchy, type, int(order.size()));
  if (ok) {
    partitions.clear();
  } else {
    // Keep every partition not written; the written ones live in archives.
    partitions.erase(std::remove(partitions.begin(), partitions.end(), nullptr), partitions.end());
    if (partitions.size() == order.size()) unlock_db_dir();  // none written: nothing to recover
  }
  if (kavu_parallel_key_is_on(type, "die_after_writing_partitions", false)) KAVU_INTERNAL_ERROR("As you wish.");
  return ok;
}
}  // namespace

namespace {
// Partition k's helper result (read ahead, else read now) or, with
// `kept_copy`, its kept copy, when it reads back whole and is the partition
// written, for this run (check_identity); else null, *clause saying why, as
// the words after the file's name. Results and kept copies are held to the
// same check: a kept copy another run or another partition left under the
// name is refused as its result would be.
CDB_SGATE_NETLIST* checked_partition(const std::string& rev, const char* type, int k, bool kept_copy,
                                     std::string* clause) {
  std::string stamp;
  CDB_SGATE_NETLIST* part = kept_copy ? nullptr : take_early_result(k, &stamp);
  const std::string name =
      kept_copy ? kavu_parallel_kept_archive_name(rev, type, k) : kavu_parallel_archive_name(rev, type, k);
  std::string why;
  if (!part) {
    why = read_netlist(name, &part, true, &stamp);
    if (why.empty()) why = check_read_back(part);
  }
  // Taken, a netlist not the partition's would stop the merge or change
  // the design, and a result's kept copy would be gone.
  *clause = why.empty() ? check_identity(rev, type, k, part, stamp) : "cannot be read back (" + why + ")";
  if (clause->empty()) return part;
  delete part;
  return nullptr;
}

// Partition k's result, as checked_partition checks it; *what is empty or
// the partition's reason: "its result "<file>" ...".
CDB_SGATE_NETLIST* checked_result(const std::string& rev, const char* type, int k, std::string* what) {
  std::string clause;
  CDB_SGATE_NETLIST* part = checked_partition(rev, type, k, false, &clause);
  what->clear();
  if (!part) *what = "its result \"" + shown(archive_file(kavu_parallel_archive_name(rev, type, k))) + "\" " + clause;
  return part;
}

std::string removed_reg_unreadable(const std::string& rev, const char* type, int k) {
  return "its removed-register archive \"" + shown(archive_file(kavu_parallel_removed_reg_archive_name(rev, type, k))) +
         "\" cannot be read back";
}

// Partition k's result refused: said once, in its own message.
void report_refused(const std::string& rev, const char* type, int k, const std::string& what) {
  kavu_debug("Failed to deserialize partition %d", k);
  report_failed_partition(rev, type, k, what);
}

// Once the read-back has stopped, each later partition is only looked at:
// a result that recovery will refuse (for the reasons the read-back refuses
// one) gets its message, and nothing is taken or dropped, so recovery finds
// the result, its removed registers and the kept copy as the helper left them.
void report_if_refused(const std::string& rev, const char* type, int k) {
  std::string what;
  delete checked_result(rev, type, k, &what);
  if (what.empty()) {
    CDB_SGATE_REMOVED_REGISTERS_DB* db = nullptr;
    if (!kavu_parallel_read_removed_reg_db(rev, type, k, &db)) what = removed_reg_unreadable(rev, type, k);
    delete db;
  }
  if (!what.empty()) report_refused(rev, type, k, what);
}
}  // namespace

namespace {
// The read-back itself (kavu_parallel_deserialize); *current is the
// partition being read.
bool read_back(CMP_FACADE* facade, const char* type, int step, CDB_SGATE_HIERARCHY* hierarchy,
               std::vector<CDB_SGATE_NETLIST*>& partitions, int num_partitions, int* current);
}  // namespace

bool kavu_parallel_deserialize(CMP_FACADE* facade, const char* type, int step, CDB_SGATE_HIERARCHY* hierarchy,
                               std::vector<CDB_SGATE_NETLIST*>& partitions, int num_partitions) {
  GEN_PROFILER profiler("KAVU", "kavu_parallel_deserialize");
  // Nothing to read for a run refused beside another design's: the lock and
  // the early results are that run's.
  if (num_partitions == 0 && partitions.empty() && kavu_partitions_of_another_design_are_out(nullptr)) return false;
  CDB_SGATE_REMOVED_REGISTERS_MANAGER* reg_manager = CDB_SGATE_REMOVED_REGISTERS_MANAGER::get_instance();
  KAVU_CHECK(reg_manager != NULL);
  CDB_SGATE_REMOVED_REGISTERS_DB* main_reg_db = reg_manager->get_current_removed_reg_db();
  KAVU_CHECK(main_reg_db != NULL);
  if (!partitions.empty()) {
    drop_early_results();
    KAVU_CHECK((int)partitions.size() == num_partitions);
    return true;
  }
  int current = -1;  // the partition being read back
  return kavu_guard_memory(
      false, [&] { return read_back(facade, type, step, hierarchy, partitions, num_partitions, &current); },
      [&] {
        // Refused memory: the partitions read back so far are in the vector;
        // partition `current` keeps its kept copy for recovery.
        drop_early_results();
        kavu_post_out_of_memory_as([&] {
          const std::string rev = facade ? facade->get_revision_name() : std::string();
          return current < 0 ? std::string("Parallel synthesis cannot read the partitions back: not enough memory")
                             : "Parallel synthesis of partition " + std::to_string(current) +
                                   " failed: its result cannot be read back: not enough memory. Its netlist before "
                                   "synthesis is kept in \"" +
                                   shown(kept_file(rev, type, current)) + "\"";
        });
      });
}

namespace {
bool read_back(CMP_FACADE* facade, const char* type, int step, CDB_SGATE_HIERARCHY* hierarchy,
               std::vector<CDB_SGATE_NETLIST*>& partitions, int num_partitions, int* current) {
  CDB_SGATE_REMOVED_REGISTERS_DB* main_reg_db =
      CDB_SGATE_REMOVED_REGISTERS_MANAGER::get_instance()->get_current_removed_reg_db();
  const std::string rev = facade ? facade->get_revision_name() : std::string();
  const bool fibs_on = kavu_llis_is_generating_databases();
  partitions.reserve(size_t(num_partitions));  // a result read is never lost on its way into the vector
  bool ok = true;
  for (int k = 0; k < num_partitions; ++k) {
    *current = k;
    if (!ok) {
      report_if_refused(rev, type, k);  // every refused result is told, not only the first
      continue;
    }
    std::string what;
    CDB_SGATE_NETLIST* part = checked_result(rev, type, k, &what);
    if (!part) {
      ok = false;
      report_refused(rev, type, k, what);
      continue;
    }
    kavu_parallel_dump(hierarchy, part, "%s%d_part%d_after_pdb", type, step, k);
    // The pins get back the hierarchy the write gave them.
    CDB_SGATE_HIERARCHY::set_hierarchy_pointers(hierarchy, part);
    part->set_hierarchy(hierarchy);
    partitions.push_back(part);
    CDB_SGATE_REMOVED_REGISTERS_DB* db = nullptr;
    ok = kavu_parallel_read_removed_reg_db(rev, type, k, &db);
    if (!ok) {
      kavu_debug("Failed to deserialize removed register db of partition %d", k);
      report_failed_partition(rev, type, k, removed_reg_unreadable(rev, type, k));
      continue;
    }
    // The result is back and whole, with its removed registers: the copy
    // kept for recovery can go, and with it the mark that they are not yet
    // merged (see kavu_parallel_recover_partitions).
    drop_kept_copy(rev, type, k);
    kavu_debug("Printing removed register stats for partition %d", k);
    kavu_debug("fanoutless registers %d, stuck registers %d, merged registers %d", db->get_fanoutless_count(),
               db->get_stuck_count(), db->get_merged_count());
    main_reg_db->merge_with(db);
    delete db;
    KAVU_FIBS_TO_INVALIDATE* fibs = nullptr;
    // Without FIB records there is nothing to read: the step counts as not
    // done, a debug line only, and the loop goes on.
    if (!fibs_on || !kavu_parallel_read_fibs_to_invalidate(hierarchy, type, k, &fibs)) {
      kavu_debug("Failed to deserialize fibs to invalidate of partition %d", k);
      if (fibs_on) ok = false;
      continue;
    }
    // The parent's manager applies what the helper invalidated.
    if (hierarchy && kavu_has_fib_manager()) kavu_use_fib_manager().invalidate_name_set(hierarchy, &fibs->m_fibs);
    if (invalidation_sink()) invalidation_sink()(hierarchy, *fibs);
    delete fibs;
  }
  drop_early_results();
  if (ok) unlock_db_dir();  // every partition is back; else recovery follows
  return ok;
}
}  // namespace

namespace {
// Partition k's result and its removed registers, taken as a pair: the
// registers merged into the current database and the result returned, or
// neither (null, *why saying why). `with_registers` is false once the read-
// back took the pair, which it marks by dropping the kept copy. A result
// refused for what it is (unreadable, not whole, not this partition's) is
// told here, once its kept copy is known to be there, unless its failure
// was told already; one without its removed registers is a helper that did
// not finish, which the run told.
CDB_SGATE_NETLIST* take_result(const std::string& rev, const char* type, int k, bool with_registers,
                               std::string* why) {
  CDB_SGATE_NETLIST* part = checked_result(rev, type, k, why);
  if (!part && with_registers && !told_partitions().count(kept_file(rev, type, k))) report_refused(rev, type, k, *why);
  CDB_SGATE_REMOVED_REGISTERS_DB* main_reg_db = nullptr;
  CDB_SGATE_REMOVED_REGISTERS_DB* db = nullptr;
  if (why->empty() && with_registers) {
    CDB_SGATE_REMOVED_REGISTERS_MANAGER* reg_manager = CDB_SGATE_REMOVED_REGISTERS_MANAGER::get_instance();
    main_reg_db = reg_manager ? reg_manager->get_current_removed_reg_db() : nullptr;
    if (!main_reg_db) *why = "no removed-register database to merge its removed registers into";
    else if (!kavu_parallel_read_removed_reg_db(rev, type, k, &db))
      *why = removed_reg_unreadable(rev, type, k);
  }
  if (!why->empty()) {
    delete part;
    return nullptr;
  }
  if (db) {
    main_reg_db->merge_with(db);
    delete db;
  }
  return part;
}
}  // namespace

namespace {
void recover_partition(const std::string& rev, const char* type, int k, std::vector<CDB_SGATE_NETLIST*>& partitions,
                       bool* all, bool* taken);
}  // namespace

bool kavu_parallel_recover_partitions(CMP_FACADE* facade, const char* type, std::vector<CDB_SGATE_NETLIST*>& partitions,
                                      int num_partitions) {
  GEN_PROFILER profiler("KAVU", "kavu_parallel_recover_partitions");
  if (num_partitions == 0 && kavu_partitions_of_another_design_are_out(nullptr)) return true;  // as deserialize
  drop_early_results();
  bool all = true;
  // Memory refused for one partition loses that one (said so), and
  // recovery goes on with the next.
  const bool made = kavu_guard_memory_void(
      [&] {
        const std::string rev = facade ? facade->get_revision_name() : std::string();
        partitions.reserve(partitions.size() + size_t(std::max(num_partitions, 0)));
        for (int k = 0; k < num_partitions; ++k) {
          bool taken = false;
          kavu_guard_memory_void([&] { recover_partition(rev, type, k, partitions, &all, &taken); }, [&] {
            if (taken) return;
            all = false;
            kavu_post_out_of_memory_as([&] {
              return "Parallel synthesis cannot recover partition " + std::to_string(k) +
                     ": not enough memory. Its netlist before synthesis is kept in \"" + shown(kept_file(rev, type, k)) +
                     "\"";
            });
          });
        }
      },
      [] { kavu_post_out_of_memory("Parallel synthesis cannot recover the partitions: not enough memory"); });
  unlock_db_dir();  // the run is over, whatever was lost
  return made && all;
}

namespace {
// Recovers partition k into `partitions` (*taken once it is there); a
// partition lost is said so and clears *all.
void recover_partition(const std::string& rev, const char* type, int k, std::vector<CDB_SGATE_NETLIST*>& partitions,
                       bool* all, bool* taken) {
  {
    const std::string kept = kavu_parallel_kept_archive_name(rev, type, k);
    struct stat st;
    const bool have_kept = stat(archive_file(kept).c_str(), &st) == 0;
    std::string why;
    CDB_SGATE_NETLIST* part = take_result(rev, type, k, have_kept, &why);
    if (!part && have_kept) {
      kavu_debug("Partition %d is recovered from its kept copy: its result is refused (%s)", k, why.c_str());
      // Checked as the result was: a kept copy of another partition or of
      // another run is lost, never merged.
      part = checked_partition(rev, type, k, true, &why);
      if (!part) why = "from its kept copy \"" + shown(archive_file(kept)) + "\": it " + why;
    } else if (!part) {
      why = ": its kept copy \"" + shown(archive_file(kept)) + "\" is missing, and " + why;
    }
    if (!part) {
      *all = false;
      kavu_debug("Failed to recover partition %d", k);
      post_error("Parallel synthesis cannot recover partition " + std::to_string(k) + (have_kept ? " " : "") + why);
      return;
    }
    partitions.push_back(part);  // room was made for it
    *taken = true;
    drop_kept_copy(rev, type, k);
  }
}
}  // namespace
