// Parallel synthesis in a directory that other users may write (0777, a
// team's 2775): whatever another user plants at a name the flow writes (a
// symbolic link, a hard link, a FIFO, a device) is never written through,
// no open waits on it, and the run either works or fails saying so; and
// another user's files are removed only where the lock keeps every other
// run out.
#include <fcntl.h>
#include <grp.h>
#include <linux/loop.h>
#include <signal.h>
#include <sys/file.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <chrono>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <thread>

#include "cdb/cdb_sgate.h"
#include "cdb/cdb_sgate_hierarchy.h"
#include "cdb/cdb_sgate_removed_regs.h"
#include "cmp/cmp.h"
#include "fio/fio.h"
#include "gen/gen.h"
#include "hdb/hdb.h"
#include "kavu_fib_manager.h"
#include "kavu_llis.h"
#include "kavu_parallel.h"
#include "kavu_partition_netlists.h"
#include "kavu_utility_scan.h"
#include "msg/msg.h"
#include "platform_testkit.h"
#include "ssc/ssc.h"
#include "testkit/platform_test_hooks.h"

using namespace kavu_platform;
namespace fs = std::filesystem;

namespace {

const uid_t kNobody = 65534;

std::string text_of(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The file an archive name stands for.
std::string archive_of(const std::string& name) { return name + ".cdb"; }

// Partition netlists numbered 1, 2, ..., each an input pin and buffers.
std::vector<CDB_SGATE_NETLIST*> small_partitions() {
  std::vector<CDB_SGATE_NETLIST*> parts;
  for (int size : {3, 2}) {
    auto* p = new CDB_SGATE_NETLIST(true, int(parts.size()) + 1, 1);
    CDB_SGATE_NODE* in = make_input_pin(p, ("s" + std::to_string(parts.size())).c_str());
    for (int i = 1; i < size; ++i) make_buffer(p, in);
    parts.push_back(p);
  }
  return parts;
}

// Lets every user reach the test's scratch directory, as a shared project
// directory is reached.
using SHARED_REACH = SCRATCH_REACHED_BY_ALL;

// Runs `fn` in a child process (as `nobody` when asked) with `dir` as its
// working directory; what it returns comes back, or why it did not: "hung"
// when it took longer than the watchdog allows (its whole group is then
// killed), "cannot become nobody", "died".
std::string in_child(bool nobody, const fs::path& dir, const std::function<std::string()>& fn, int watchdog_s = 30,
                     const std::function<void()>& in_parent = nullptr) {
  int answer[2];
  if (pipe(answer) != 0) return "no pipe";
  const std::string where = dir.string();
  const pid_t child = fork();
  if (child == 0) {
    close(answer[0]);
    setpgid(0, 0);
    std::string told;
    if (chdir(where.c_str()) != 0) told = "cannot enter the directory";
    else if (nobody && (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0))
      told = "cannot become nobody";
    else
      try {
        told = fn();
      } catch (const std::exception& e) {  // an internal error: the host would have ended
        told = std::string("ended by ") + e.what();
      }
    (void)!write(answer[1], told.data(), told.size());
    std::_Exit(0);
  }
  close(answer[1]);
  if (in_parent) in_parent();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(watchdog_s);
  int status = 0;
  bool ended = false;
  while (!(ended = waitpid(child, &status, WNOHANG) == child) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  if (!ended) {
    kill(-child, SIGKILL);
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    close(answer[0]);
    return "hung";
  }
  std::string told;
  char buffer[4096];
  for (ssize_t n; (n = read(answer[0], buffer, sizeof buffer)) > 0;) told.append(buffer, size_t(n));
  close(answer[0]);
  return WIFEXITED(status) && !told.empty() ? told : "died";
}

// The errors and warnings logged, one a line.
std::string logged() {
  std::string text;
  for (const MSG_LOG_ENTRY& e : msg_log())
    if (e.kind == MSG_LOG_ERROR || e.kind == MSG_LOG_WARNING) text += e.text + "\n";
  return text;
}

// Sets a run up in the current directory, which is its database directory
// too: the project and revision, a current removed-register database and
// an empty message log.
void set_up_run(CMP_FACADE* facade) {
  facade->set_project_name("shared");
  facade->set_revision_name("rev 1");
  gen_set_db_dir_path(fs::current_path().string());
  auto* m = CDB_SGATE_REMOVED_REGISTERS_MANAGER::get_instance();
  m->create_removed_reg_db("main", 5000, 5000);
  m->set_current_removed_reg_db("main");
  msg_log_clear();
}

// One parallel run in the current directory, which is its database
// directory too: the partitions written, the helpers run (when asked) and
// every partition taken back, from the results or from the kept copies.
// "ok", or "failed: <the errors and warnings>".
std::string one_run(bool helpers) {
  CMP_FACADE facade;
  set_up_run(&facade);
  std::vector<CDB_SGATE_NETLIST*> parts = small_partitions();
  bool ok = kavu_parallel_serialize(&facade, "map", 1, nullptr, parts);
  const int written = 2 - int(parts.size());
  if (ok && helpers) ok = kavu_parallel_run_partitions_in_processes(&facade, "map", "1", 2);
  if (ok && helpers) ok = kavu_parallel_deserialize(&facade, "map", 1, nullptr, parts, 2);
  if (!ok || !helpers) {
    for (CDB_SGATE_NETLIST* p : parts) delete p;
    parts.clear();
    if (!kavu_parallel_recover_partitions(&facade, "map", parts, written)) ok = false;
  }
  for (CDB_SGATE_NETLIST* p : parts) delete p;
  const std::string said = logged();
  return ok ? "ok" + (said.empty() ? std::string() : "\n" + said) : "failed: " + said;
}

// A block device whose bytes are those of a file (a loop device), for rows
// that must see whether a device was written; "" when the system gives none.
struct LOOP_DEVICE {
  std::string backing;
  int fd = -1;
  dev_t dev = 0;
  explicit LOOP_DEVICE(const fs::path& file) : backing(file.string()) {
    std::ofstream(file, std::ios::binary) << std::string(4096, 'v');
    const int control = open("/dev/loop-control", O_RDWR | O_CLOEXEC);
    const int number = control >= 0 ? ioctl(control, LOOP_CTL_GET_FREE) : -1;
    if (control >= 0) close(control);
    if (number < 0) return;
    const std::string path = "/dev/loop" + std::to_string(number);
    const int file_fd = open(backing.c_str(), O_RDWR | O_CLOEXEC);
    fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || file_fd < 0 || ioctl(fd, LOOP_SET_FD, file_fd) != 0 || fstat(fd, &st) != 0) {
      if (fd >= 0) close(fd);
      fd = -1;
    } else {
      dev = st.st_rdev;
    }
    if (file_fd >= 0) close(file_fd);
  }
  ~LOOP_DEVICE() {
    if (fd < 0) return;
    fsync(fd);  // what was written to the device reaches its file first
    ioctl(fd, LOOP_CLR_FD, 0);
    close(fd);
  }
  bool ok() const { return fd >= 0; }
};

// What is planted at a name the flow writes.
enum PLANT { SYMBOLIC_LINK, HARD_LINK, FIFO, DEVICE };
const char* plant_name(PLANT p) {
  static const char* const names[] = {"a symbolic link", "a hard link", "a FIFO", "a device"};
  return names[p];
}

// The table: every name the flow writes in its working or database
// directory × what another user plants there × whose run meets it. The
// victim (the file a link names, a hard link's other name, a device's
// bytes) keeps its text, nothing waits, and the run works or fails with an
// error that names the file.
void run_planted_table(const std::vector<std::string>& names, bool helpers) {
  if (geteuid() != 0) GTEST_SKIP() << "the rows act as two users: needs root";
  SHARED_REACH reach;
  CFG_SCOPE cfg{{"helper_binary_dir", KAVU_HELPER_DIR}, {"parallel_pipe_timeout_s", "20"}, {"pmap_parallel", "off"}};
  std::vector<std::string> not_run;
  int cell = 0;
  for (const std::string& name : names) {
    for (PLANT plant : {SYMBOLIC_LINK, HARD_LINK, FIFO, DEVICE}) {
      for (bool nobody : {false, true}) {
        SCOPED_TRACE(name + ", " + plant_name(plant) + ", " + (nobody ? "nobody's run" : "root's run"));
        const fs::path dir = fs::current_path() / ("shared " + std::to_string(cell));
        const fs::path victims = fs::current_path() / ("victims " + std::to_string(cell++));
        fs::create_directories(dir);
        fs::create_directories(victims);
        fs::permissions(dir, fs::perms::all);
        fs::permissions(victims, fs::perms::all);
        // The planter is the other user; the run's user owns a symbolic
        // link's victim (it may write it), and a hard link's victim is root's
        // file, which nobody's run may write too (0666).
        const uid_t runner = nobody ? kNobody : 0, planter = nobody ? 0 : kNobody;
        const fs::path at = dir / name, victim = victims / "victim";
        const std::string before = "the victim's own text\n";
        std::ofstream(victim) << before;
        std::unique_ptr<LOOP_DEVICE> loop;
        bool planted = false;
        if (plant == SYMBOLIC_LINK) {
          chown(victim.c_str(), runner, runner);
          planted = symlink(victim.c_str(), at.c_str()) == 0 && lchown(at.c_str(), planter, planter) == 0;
        } else if (plant == HARD_LINK) {
          chmod(victim.c_str(), nobody ? 0666 : 0644);
          planted = link(victim.c_str(), at.c_str()) == 0;
        } else if (plant == FIFO) {
          planted = mkfifo(at.c_str(), 0644) == 0 && chown(at.c_str(), planter, planter) == 0;
        } else {
          loop = std::make_unique<LOOP_DEVICE>(victim);
          if (!loop->ok()) {
            not_run.push_back(name + ", a device: no loop device");
            continue;
          }
          if (mknod(at.c_str(), S_IFBLK | 0666, loop->dev) != 0) {
            not_run.push_back(name + ", a device: mknod failed");
            continue;
          }
          planted = chown(at.c_str(), planter, planter) == 0;
        }
        ASSERT_TRUE(planted) << strerror(errno);
        const std::string told = in_child(nobody, dir, [&] { return one_run(helpers); });
        if (told == "cannot become nobody") {
          not_run.push_back(name + ": cannot become nobody");
          continue;
        }
        EXPECT_NE(told, "hung");
        EXPECT_NE(told, "died");
        if (told.rfind("failed: ", 0) == 0) {
          // A failed run says which file it could not take.
          EXPECT_NE(told.find(name == "hdb_namespace.cdb" ? "namespace archive" : name), std::string::npos) << told;
        } else {
          EXPECT_EQ(told.rfind("ok", 0), 0u) << told;
        }
        loop.reset();  // the device's bytes reach its file
        std::string after = text_of(victim);
        if (plant == DEVICE) {
          EXPECT_EQ(after, std::string(4096, 'v')) << after.substr(0, 64);
        } else {
          EXPECT_EQ(after, before);
        }
      }
    }
  }
  if (!not_run.empty()) GTEST_SKIP() << not_run.size() << " rows did not run, the first: " << not_run.front();
}

// How the second run of run_beside_a_running_run meets the first.
struct SECOND_RUN {
  bool nobody = true;         // nobody's run, else root's (the first run's user)
  const char* revision = "rev 1";
  // Started together: the second run has passed its look at the directory
  // before the first writes anything, and writes once the first's
  // partitions are out.
  bool together = false;
};

// Lets the run of this process go on only once the test says so: at its
// first publication of a file, it says so on `m_told` and waits on `m_go`.
struct PAUSE_AT_FIRST_PUBLICATION {
  int m_told, m_go;
  bool m_paused = false;
  static void call(FIO_TEST_POINT point, const char*, void* data) {
    auto* self = static_cast<PAUSE_AT_FIRST_PUBLICATION*>(data);
    if (point != FIO_OWN_FILE_PUBLISHING || self->m_paused) return;
    self->m_paused = true;
    char byte;
    (void)!write(self->m_told, "c", 1);
    (void)!read(self->m_go, &byte, 1);
  }
};

// Root's run writes its partitions in `first_dir` and holds its lock; a
// second run (nobody's, or root's too) starts in `second_dir` (the same
// directory, perhaps through another mount), where flock fails with
// `lock_error` when it is not 0; it may have looked at the directory before
// root's run wrote (started together). The second run must remove or
// replace none of root's files, fail naming the file with its partitions in
// memory, warn that the lock may not keep runs apart, and leave the lock of
// its mount free; root's run must then take every partition back from its
// helpers. "" or what went wrong.
std::string run_beside_a_running_run(const fs::path& first_dir, const fs::path& second_dir, int lock_error,
                                     const SECOND_RUN& how = SECOND_RUN()) {
  CFG_SCOPE cfg{{"helper_binary_dir", KAVU_HELPER_DIR}, {"parallel_pipe_timeout_s", "20"}, {"pmap_parallel", "off"}};
  std::string wrong;
  // The second run, when started together, waits at its first publication.
  int checked[2], resume[2], second_answer[2];
  if (pipe(checked) != 0 || pipe(resume) != 0 || pipe(second_answer) != 0) return "no pipe";
  auto second_run = [&] {
    if (lock_error) gen_test_fail_file_locks(lock_error);
    PAUSE_AT_FIRST_PUBLICATION pause{checked[1], resume[0]};
    if (how.together) fio_test_set_hook(&PAUSE_AT_FIRST_PUBLICATION::call, &pause);
    CMP_FACADE facade;
    set_up_run(&facade);
    facade.set_revision_name(how.revision);
    std::vector<CDB_SGATE_NETLIST*> parts = small_partitions();
    const bool ok = kavu_parallel_serialize(&facade, "map", 1, nullptr, parts);
    fio_test_set_hook(nullptr, nullptr);
    std::string said = logged();
    for (CDB_SGATE_NETLIST* p : parts) delete p;
    // A refused run leaves the lock of its mount to the next run (where
    // flock works: the first run holds the lock of the same mount else).
    const int lock = lock_error ? -1 : open("parallel_synthesis.lock", O_RDONLY | O_CLOEXEC);
    if (lock >= 0 && flock(lock, LOCK_EX | LOCK_NB) != 0) said += "the refused run keeps the directory's lock\n";
    if (lock >= 0) close(lock);
    return (ok ? "written: " : "refused (" + std::to_string(parts.size()) + " in memory): ") + said;
  };
  pid_t second_pid = -1;
  if (how.together) {
    second_pid = fork();
    if (second_pid == 0) {
      close(checked[0]);
      close(resume[1]);
      close(second_answer[0]);
      std::string told;
      if (chdir(second_dir.c_str()) != 0) told = "cannot enter the directory";
      else if (how.nobody && (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0))
        told = "cannot become nobody";
      else
        told = second_run();
      (void)!write(checked[1], "c", 1);  // never paused: the parent waits no longer
      (void)!write(second_answer[1], told.data(), told.size());
      std::_Exit(0);
    }
    close(second_answer[1]);
    char byte = 0;
    if (read(checked[0], &byte, 1) != 1) wrong += "the second run did not come to its first write\n";
  }
  // Root's run writes its partitions and waits, holding its lock, until
  // `go`; then its helpers run and it reads every result back.
  int written[2], go[2];
  if (pipe(written) != 0 || pipe(go) != 0) return "no pipe";
  const pid_t first = fork();
  if (first == 0) {
    close(written[0]);
    close(go[1]);
    std::string told = "ok";
    if (chdir(first_dir.c_str()) != 0) std::_Exit(3);
    umask(022);
    CMP_FACADE facade;
    facade.set_project_name("shared");
    facade.set_revision_name("rev 1");
    gen_set_db_dir_path(first_dir.string());
    auto* m = CDB_SGATE_REMOVED_REGISTERS_MANAGER::get_instance();
    m->create_removed_reg_db("main", 5000, 5000);
    m->set_current_removed_reg_db("main");
    std::vector<CDB_SGATE_NETLIST*> parts = small_partitions();
    const bool serialized = kavu_parallel_serialize(&facade, "map", 1, nullptr, parts);
    (void)!write(written[1], serialized ? "w" : "x", 1);
    char byte;
    (void)!read(go[0], &byte, 1);
    msg_log_clear();
    bool ok = serialized && kavu_parallel_run_partitions_in_processes(&facade, "map", "1", 2) &&
              kavu_parallel_deserialize(&facade, "map", 1, nullptr, parts, 2) && parts.size() == 2;
    if (!ok) told = "failed: " + logged();
    for (CDB_SGATE_NETLIST* p : parts) delete p;
    if (!ok) {
      parts.clear();
      kavu_parallel_recover_partitions(&facade, "map", parts, 2);
      for (CDB_SGATE_NETLIST* p : parts) delete p;
    }
    (void)!write(written[1], told.data(), told.size());
    std::_Exit(0);
  }
  close(written[1]);
  close(go[0]);
  char byte = 0;
  if (read(written[0], &byte, 1) != 1 || byte != 'w') wrong += "root's run did not write its partitions\n";
  // Root's run's files: not the lock file (whose runs name themselves in
  // it) nor the runs records (every run adds to its user's), nor what the
  // second run is still writing.
  std::vector<std::pair<fs::path, std::string>> files;
  for (const auto& entry : fs::directory_iterator(first_dir)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_regular_file() && name != "parallel_synthesis.lock" && name.find(".tmp") == std::string::npos &&
        name.rfind(".kavu_runs.", 0) != 0)
      files.emplace_back(entry.path().filename(), text_of(entry.path()));
  }
  std::string second;
  if (how.together) {
    (void)!write(resume[1], "g", 1);
    char buffer[4096];
    for (ssize_t n; (n = read(second_answer[0], buffer, sizeof buffer)) > 0;) second.append(buffer, size_t(n));
    int status = 0;
    waitpid(second_pid, &status, 0);
  } else {
    second = in_child(how.nobody, second_dir, second_run);
  }
  for (int fd : {checked[0], checked[1], resume[0], resume[1], second_answer[0]}) close(fd);
  // Every file of root's run is still there, as root's run wrote it.
  for (const auto& [f, text] : files)
    if (text_of(first_dir / f) != text) wrong += f.string() + " is gone or changed\n";
  if (second.rfind("refused (2 in memory): ", 0) != 0) wrong += "the second run: " + second + "\n";
  // Refused up front, every file of root's run at its names is named at
  // once: all of them (the same revision), or the namespace archive.
  const std::vector<std::string> named =
      how.together  ? std::vector<std::string>{"it is a file this process did not make"}
      : !how.nobody ? std::vector<std::string>{"was not made by this run, and a run the lock on",
                                               "were not made by this run, and a run the lock on"}
                    : std::vector<std::string>{"is another user's file, which a run the lock on",
                                               "are other users' files, which a run the lock on"};
  if (std::none_of(named.begin(), named.end(), [&](const std::string& n) { return second.find(n) != std::string::npos; }))
    wrong += "the second run does not say \"" + named.front() + "\": " + second + "\n";
  for (const auto& [f, text] : files)
    if (!how.together && (std::string(how.revision) == "rev 1" || f == "hdb_namespace.cdb") &&
        second.find("/" + f.string() + "\"") == std::string::npos)
      wrong += "the second run does not name " + f.string() + ": " + second + "\n";
  if (std::string(how.revision) != "rev 1" && second.find("hdb_namespace") == std::string::npos)
    wrong += "the second run does not name the namespace archive: " + second + "\n";
  // A run on a local file system whose flock works trusts its lock to keep
  // the runs of its host apart, and says nothing of it.
  struct statfs second_fs;
  const bool trusted = lock_error == 0 && statfs(second_dir.c_str(), &second_fs) == 0 &&
                       fio_flock_excludes_on(static_cast<unsigned long>(second_fs.f_type));
  if ((second.find("neither replaced nor removed") == std::string::npos) != trusted)
    wrong += "the second run does not tell whether the lock may keep runs apart: " + second + "\n";
  if (second.find("keeps the directory's lock") != std::string::npos) wrong += second;
  (void)!write(go[1], "g", 1);
  close(go[1]);
  std::string first_told;
  char buffer[4096];
  for (ssize_t n; (n = read(written[0], buffer, sizeof buffer)) > 0;) first_told.append(buffer, size_t(n));
  close(written[0]);
  int status = 0;
  waitpid(first, &status, 0);
  if (first_told != "ok") wrong += "root's run: " + first_told + "\n";
  return wrong;
}

// Two mounts of one directory through bindfs (each of its own locks), with
// bindfs's options (by default no state kept: every change told at once),
// taken down at the end; `mounted` false when bindfs cannot mount.
struct TWO_FUSE_MOUNTS {
  fs::path dir, one, two;
  bool mounted = false;
  explicit TWO_FUSE_MOUNTS(const std::string& name = "shared", const char* options = "attr_timeout=0,entry_timeout=0")
      : dir(fs::current_path() / name), one(fs::current_path() / (name == "shared" ? "one" : name + " one")),
        two(fs::current_path() / (name == "shared" ? "two" : name + " two")) {
    for (const fs::path& d : {dir, one, two}) {
      fs::create_directories(d);
      fs::permissions(d, fs::perms::all);
    }
    const std::string bind = "bindfs " + (*options ? "-o " + std::string(options) + " " : "") + "\"" + dir.string() + "\" ";
    if (std::system((bind + "\"" + one.string() + "\" >/dev/null 2>&1").c_str()) != 0) return;
    if (std::system((bind + "\"" + two.string() + "\" >/dev/null 2>&1").c_str()) != 0) {
      umount2(one.c_str(), MNT_DETACH);
      return;
    }
    mounted = true;
  }
  ~TWO_FUSE_MOUNTS() {
    if (!mounted) return;
    umount2(two.c_str(), MNT_DETACH);
    umount2(one.c_str(), MNT_DETACH);
  }
  // Empties the directory for the next row.
  void clear() const {
    for (const auto& entry : fs::directory_iterator(dir)) fs::remove_all(entry.path());
  }
};

}  // namespace

// The names the parent writes: the lock file (a FIFO there used to hang
// nobody's run, opened read-only; a hard link or a device there got the
// run's name and was emptied at the release), the namespace archive, a
// partition archive and its kept copy (a FIFO there hung the run with the
// lock held; a hard link's victim was overwritten).
TEST(KavuParallelSharedDir, NothingPlantedAtANameTheParentWritesIsWrittenThrough) {
  run_planted_table({"parallel_synthesis.lock", "hdb_namespace.cdb", "rev 1.map_ap_0.parsynth.cdb",
                     "rev 1.map_kept_ap_0.parsynth.cdb"},
                    false);
}

// The names of a run with its helpers: the helper's log (a link there made
// the run overwrite the user's own file with the helper's output; a FIFO
// hung the run) and the removed-register archive the helper writes.
TEST(KavuParallelSharedDir, NothingPlantedAtANameTheHelpersWriteIsWrittenThrough) {
  run_planted_table({"helper_0.log", "rev 1.map_removed_reg_ap_0.parsynth.cdb"}, true);
}

// On a file system where flock does not keep runs apart (ENOLCK: NFS
// without its lock daemon), a second user's run in the directory of a
// running run removes none of the running run's files (namespace archive,
// partition archives, kept copies), which it may not write: it fails,
// naming the file, the partitions in its memory, and the running run takes
// back every partition from its helpers. The second run used to remove
// them as leftovers, and the first lost its partitions.
TEST(KavuParallelSharedDir, WithoutLocksAnotherUsersRunningRunKeepsItsFiles) {
  if (geteuid() != 0) GTEST_SKIP() << "the row acts as two users: needs root";
  SHARED_REACH reach;
  const fs::path dir = fs::current_path() / "shared";
  fs::create_directories(dir);
  fs::permissions(dir, fs::perms::all);
  EXPECT_EQ(run_beside_a_running_run(dir, dir, ENOLCK), "");
}

// One directory through two FUSE mounts (bindfs): flock on one mount does
// not keep out a holder on the other, as on a cluster file system that
// locks per client. The second user's run through the other mount must
// leave the running run's files as they are (FUSE used to count as a file
// system whose lock excludes: the second run replaced the first's archives
// as leftovers, and the first lost its partitions), and, refused, leave the
// lock of its mount to the next run (which used to wait for it).
TEST(KavuParallelSharedDir, WhereTheLockMayNotExcludeAnotherUsersRunKeepsItsFiles) {
  if (geteuid() != 0) GTEST_SKIP() << "the row acts as two users and mounts: needs root";
  SHARED_REACH reach;
  TWO_FUSE_MOUNTS fuse;
  if (!fuse.mounted) GTEST_SKIP() << "cannot mount bindfs twice (bindfs, /dev/fuse)";
  EXPECT_EQ(run_beside_a_running_run(fuse.one, fuse.two, 0), "");
}

// Two runs started together where the lock may not keep them apart (two
// FUSE mounts of one directory, a file system whose flock fails): the second
// has looked at the directory before the first wrote, and writes once the
// first's partitions are out. It replaces and removes none of the first's
// files, whoever runs it: it fails naming the file, its partitions in
// memory, and the first takes every partition back. The second run used to
// rename its archives over the first's (another user's where the directory
// allowed; the same user's always), and the first lost its design: "a
// partition is lost". And a run of another revision, started later, finds
// the running run's namespace archive up front (it used to replace it).
TEST(KavuParallelSharedDir, RunsStartedTogetherWhereTheLockMayNotExcludeKeepEachOthersFiles) {
  if (geteuid() != 0) GTEST_SKIP() << "the rows act as two users and mount: needs root";
  SHARED_REACH reach;
  TWO_FUSE_MOUNTS fuse;
  struct ROW {
    const char* what;
    bool fuse;
    int lock_error;
    SECOND_RUN second;
  } const rows[] = {
      {"two users through two FUSE mounts", true, 0, {true, "rev 1", true}},
      {"two users, flock failing", false, ENOLCK, {true, "rev 1", true}},
      {"one user through two FUSE mounts", true, 0, {false, "rev 1", true}},
      {"one user, flock failing", false, ENOSYS, {false, "rev 1", true}},
      {"one user's earlier files, flock failing", false, EOPNOTSUPP, {false, "rev 1", false}},
      {"another revision's run, flock failing", false, ENOLCK, {true, "rev 2", false}},
  };
  for (const ROW& r : rows) {
    SCOPED_TRACE(r.what);
    if (r.fuse && !fuse.mounted) continue;
    fuse.clear();
    EXPECT_EQ(run_beside_a_running_run(r.fuse ? fuse.one : fuse.dir, r.fuse ? fuse.two : fuse.dir, r.lock_error,
                                       r.second),
              "");
  }
  if (!fuse.mounted) GTEST_SKIP() << "the FUSE rows did not run: cannot mount bindfs twice (bindfs, /dev/fuse)";
}

// A run on the directory's own disk (ext4, whose flock it trusts) beside a
// run that reaches the directory through a FUSE mount (bindfs), whose
// locks never meet its own: the local run, another user's or the same
// user's, replaces and removes none of the mounted run's files, whether it
// starts while that run holds its partitions out or together with it; it
// fails naming them, its partitions in memory, and the mounted run takes
// every partition back. The local run used to take its flock's word and
// replace the mounted run's archives as leftovers, and the mounted run lost
// its design. And the converse: a run through the mount beside a local run.
TEST(KavuParallelSharedDir, ALocalRunBesideARunThroughAMountKeepsItsFilesApart) {
  if (geteuid() != 0) GTEST_SKIP() << "the rows act as two users and mount: needs root";
  SHARED_REACH reach;
  TWO_FUSE_MOUNTS fuse;
  if (!fuse.mounted) GTEST_SKIP() << "cannot mount bindfs twice (bindfs, /dev/fuse)";
  struct ROW {
    const char* what;
    bool first_mounted;  // root's running run is the mounted one, else the local one
    SECOND_RUN second;
  } const rows[] = {
      {"nobody's local run beside root's mounted run", true, {true, "rev 1", false}},
      {"nobody's local run started together with root's mounted run", true, {true, "rev 1", true}},
      {"root's local run beside its mounted run", true, {false, "rev 1", false}},
      {"root's local run started together with its mounted run", true, {false, "rev 1", true}},
      {"nobody's mounted run beside root's local run", false, {true, "rev 1", false}},
  };
  for (const ROW& r : rows) {
    SCOPED_TRACE(r.what);
    fuse.clear();
    EXPECT_EQ(run_beside_a_running_run(r.first_mounted ? fuse.one : fuse.dir, r.first_mounted ? fuse.dir : fuse.one,
                                       0, r.second),
              "");
  }
}

// Where the lock may not keep runs apart (a FUSE mount, a file system whose
// flock fails), five runs of a user in a row, each its own process, and
// five flows of one process in a row each take every partition back from
// its helpers: what the run before made there, its helpers' archives
// included, refuses none of them. Every other run used to be refused for
// the files the run before made, one file per refusal. Files of no run
// known there refuse a run once, all named at once.
TEST(KavuParallelSharedDir, RunsInARowWhereTheLockMayNotExcludeAllSynthesize) {
  CFG_SCOPE cfg{{"helper_binary_dir", KAVU_HELPER_DIR}, {"parallel_pipe_timeout_s", "20"}, {"pmap_parallel", "off"}};
  TWO_FUSE_MOUNTS fuse;
  struct ROW {
    const char* what;
    bool fuse;
    int lock_error;
    bool one_process;
  } const rows[] = {
      {"through FUSE, a process each", true, 0, false},
      {"through FUSE, the flows of one process", true, 0, true},
      {"flock failing, a process each", false, ENOLCK, false},
      {"flock failing, the flows of one process", false, ENOSYS, true},
  };
  for (const ROW& r : rows) {
    SCOPED_TRACE(r.what);
    if (r.fuse && !fuse.mounted) continue;
    fuse.clear();
    const fs::path dir = r.fuse ? fuse.one : fuse.dir;
    auto run = [&] {
      if (r.lock_error) gen_test_fail_file_locks(r.lock_error);
      return one_run(true);
    };
    auto runs = [&](int from) {
      for (int k = from; k < 5; ++k)
        if (const std::string one = r.one_process ? run() : in_child(false, dir, run); one.rfind("ok", 0) != 0)
          return "run " + std::to_string(k) + ": " + one;
      return std::string("ok");
    };
    EXPECT_EQ(r.one_process ? in_child(false, dir, [&] { return runs(0); }, 120) : runs(0), "ok");
    if (r.one_process) continue;
    // Files of no run known, at three names of the next run.
    const std::vector<std::string> names = {"hdb_namespace.cdb", "rev 1.map_ap_1.parsynth.cdb",
                                            "rev 1.map_removed_reg_ap_0.parsynth.cdb"};
    for (const std::string& name : names) std::ofstream(fuse.dir / name) << "by hand\n";
    const std::string told = in_child(false, dir, run);
    EXPECT_EQ(told.rfind("failed: ", 0), 0u) << told;
    EXPECT_NE(told.find("were not made by this run"), std::string::npos) << told;
    for (const std::string& name : names) {
      EXPECT_NE(told.find("/" + name + "\""), std::string::npos) << name << ": " << told;
      EXPECT_EQ(text_of(fuse.dir / name), "by hand\n");
      fs::remove(fuse.dir / name);
    }
    EXPECT_EQ(in_child(false, dir, run).rfind("ok", 0), 0u);
  }
  if (!fuse.mounted) GTEST_SKIP() << "the FUSE rows did not run: cannot mount bindfs (bindfs, /dev/fuse)";
}

namespace {

// Writes `text` at `at` when the own-file path comes to publish `when`, as
// another run could write there meanwhile.
struct WRITE_ON_PUBLISHING {
  std::string when, at, text;
  bool done = false;
  static void call(FIO_TEST_POINT point, const char* path, void* data) {
    auto* self = static_cast<WRITE_ON_PUBLISHING*>(data);
    if (point != FIO_OWN_FILE_PUBLISHING || self->done || self->when != path) return;
    self->done = true;
    std::ofstream(self->at) << self->text;
  }
};

}  // namespace

// Where the lock may not keep runs apart (flock failing), the clean-ups of a
// run remove only files it made: a file another run puts at the name of a
// helper's removed-register archive after the run looked at the directory,
// and one put at the name of a kept copy before the read-back drops it, keep
// their text (both used to be removed by name, whoever's file the name then
// held), while the run still takes every partition back.
TEST(KavuParallelSharedDir, WhereTheLockMayNotExcludeCleanUpsRemoveOnlyTheRunsOwnFiles) {
  CFG_SCOPE cfg{{"helper_binary_dir", KAVU_HELPER_DIR}, {"parallel_pipe_timeout_s", "20"}, {"pmap_parallel", "off"}};
  const fs::path dir = fs::current_path() / "unlocked";
  fs::create_directories(dir);
  const std::string theirs = "another run's file\n";
  const std::string told = in_child(false, dir, [&] {
    gen_test_fail_file_locks(ENOLCK);
    CMP_FACADE facade;
    set_up_run(&facade);
    std::vector<CDB_SGATE_NETLIST*> parts = small_partitions();
    const std::string removed_reg = archive_of(kavu_parallel_removed_reg_archive_name("rev 1", "map", 0));
    WRITE_ON_PUBLISHING planted{archive_of(kavu_parallel_kept_archive_name("rev 1", "map", 1)), removed_reg, theirs};
    fio_test_set_hook(&WRITE_ON_PUBLISHING::call, &planted);
    bool ok = kavu_parallel_serialize(&facade, "map", 1, nullptr, parts);
    fio_test_set_hook(nullptr, nullptr);
    std::string wrong;
    if (!planted.done || text_of(removed_reg) != theirs) wrong += "the removed-register archive planted is gone\n";
    // Another run's file in place of the kept copy of partition 0.
    const std::string kept = archive_of(kavu_parallel_kept_archive_name("rev 1", "map", 0));
    std::ofstream(kept + ".other") << theirs;
    fs::rename(kept + ".other", kept);
    ok = ok && kavu_parallel_run_partitions_in_processes(&facade, "map", "1", 2) &&
         kavu_parallel_deserialize(&facade, "map", 1, nullptr, parts, 2) && parts.size() == 2;
    if (text_of(kept) != theirs) wrong += "the kept copy planted is gone\n";
    if (fs::exists(archive_of(kavu_parallel_kept_archive_name("rev 1", "map", 1))))
      wrong += "the run's own kept copy stays\n";
    for (CDB_SGATE_NETLIST* p : parts) delete p;
    return (ok ? std::string("ok\n") : "failed: " + logged()) + wrong;
  });
  EXPECT_EQ(told, "ok\n");
}

namespace {

// A netlist the timing engine can hold: clk -> register -> q.
struct TIMED {
  CDB_SGATE_NETLIST nl;
  TIMED() { make_output_pin(&nl, "q", make_dff(&nl, make_input_pin(&nl, "d"), make_input_pin(&nl, "clk"))); }
};

// A writer of a file of the database or working directory (the current
// directory of the child that runs it): the file's name, and the write.
struct DB_WRITER {
  const char* what;
  std::function<std::string()> name;
  std::function<void()> write;
};

std::vector<DB_WRITER> db_writers() {
  auto hier = [] {
    static CDB_SGATE_HIERARCHY h;
    if (!h.get_instance_name()) {
      HDB_INSTANCE_NAME* top = HDB_INSTANCE_NAME::create_normal_name(hdb_default_namespace(), "top", nullptr, nullptr, nullptr);
      h.set_instance_name(HDB_INSTANCE_NAME::create_normal_name(hdb_default_namespace(), "p1", nullptr, nullptr, top));
    }
    return &h;
  };
  return {
      {"the stored generic timing netlist", [] { return std::string("tdb_generic.tdb"); },
       [] {
         TIMED t;
         SSC_UTIL* u = ssc_get_util();
         u->initialize_netlist(nullptr, &t.nl, SSC_DELAY_MODEL_UNIT, nullptr);
         u->write_tdb_to_pdb(nullptr);
         u->delete_netlist();
       }},
      {"a FIB data file", [hier] { return kavu_llis_data_file_name(hier(), LLIS_DATA_FILE_TR, LLIS_DATA_TYPE_FIB_INFO, true); },
       [hier] {
         KAVU_FIB_INFO info;
         info.m_fib_set.insert("top|p1|r");
         kavu_llis_write_fib_info(&info, hier(), LLIS_DATA_FILE_TR);
       }},
      {"the Graphviz dump", [hier] { return kavu_llis_partition_file_part(hier()) + "_after.dot"; },
       [hier] {
         CFG_SCOPE dot{{"llis_dump_dot", "on"}};
         TIMED t;
         kavu_dump_sgates_to_dot(&t.nl, "after", nullptr, hier());
       }},
      // A helper's archives, written as the helper writes them (the parent
      // removes what an earlier run left there before the helpers start).
      {"the removed-register archive",
       [] { return archive_of(kavu_parallel_removed_reg_archive_name("rev 1", "map", 0)); },
       [] {
         auto* m = CDB_SGATE_REMOVED_REGISTERS_MANAGER::get_instance();
         m->create_removed_reg_db("main", 5000, 5000);
         kavu_parallel_create_removed_reg_db("rev 1", "map", 0);
         kavu_parallel_write_and_delete_removed_reg_db("rev 1", "map", 0);
       }},
      {"the invalidation archive", [hier] { return archive_of(kavu_parallel_fibs_to_invalidate_db_name(hier(), "map", 0)); },
       [hier] {
         KAVU_FIBS_TO_INVALIDATE fibs;
         fibs.m_fibs.push_back("top|p1|r");
         kavu_parallel_write_fibs_to_invalidate(hier(), "map", 0, &fibs);
       }},
      // The debug reports of the working and database directories.
      {"boundary_connections.log", [] { return std::string("boundary_connections.log"); },
       [] {
         CFG_SCOPE key{{"kavu_dump_boundary_connections", "on"}};
         TIMED t;
         KAVU_PARTITION_BOUNDARIES boundaries;
         boundaries.disconnect_partitions(&t.nl);
       }},
      {"kavu_debug_number_mappings.log", [] { return std::string("kavu_debug_number_mappings.log"); },
       [] {
         CFG_SCOPE key{{"kavu_dump_debug_number_mappings", "on"}};
         TIMED t;
         auto* part = new CDB_SGATE_NETLIST(true, 1, 1);
         make_buffer(part, make_input_pin(part, "p"));
         std::vector<CDB_SGATE_NETLIST*> parts = {part};
         KAVU_PARTITION_BOUNDARIES boundaries;
         kavu_merge_netlists(parts, &t.nl, nullptr, boundaries);
         for (CDB_SGATE_NETLIST* p : parts) delete p;
       }},
      {"the preserve report", [] { return std::string("llis_write_database_after_sgn"); },
       [hier] {
         CFG_SCOPE keys{{"kavu_debug_print_all_preserve_nodes", "on"}, {"rapid_recompile_supported", "on"}};
         kavu_llis_forget_generating_databases();
         CMP_FACADE facade;
         kavu_create_fib_manager(&facade, 1);
         CDB_SGATE_NETLIST nl;  // every gate named, as the records need
         make_input_pin(&nl, "d");
         hier()->set_netlist(&nl);
         kavu_llis_write_database_after_sgn(hier(), &nl);
         hier()->set_netlist(nullptr);
       }},
      {"scan_info.txt", [] { return std::string("scan_info.txt"); },
       [] {
         CMP_FACADE facade;
         TIMED t;
         opt_insert_scan_chains(&facade, nullptr, &t.nl);
       }},
  };
}

}  // namespace

// The files the timing engine and the incremental records write in the
// database directory (the stored timing netlist, a FIB data file), the
// archives a helper writes there (removed registers, invalidations) and the
// debug reports (the Graphviz dump, "boundary_connections.log",
// "kavu_debug_number_mappings.log", the preserve report, "scan_info.txt")
// are written only as the user's own: another user's symbolic link, a hard
// link or a FIFO at the name is never written through, nothing waits on it,
// and the compile goes on. They used to be written as any file: the victim
// of a link was overwritten, and a FIFO hung the compile; "scan_info.txt"
// refused ended it.
TEST(KavuParallelSharedDir, StoredNetlistsRecordsAndReportsAreWrittenOnlyAsOwnFiles) {
  if (geteuid() != 0) GTEST_SKIP() << "the rows act as two users: needs root";
  SHARED_REACH reach;
  int cell = 0;
  for (const DB_WRITER& w : db_writers()) {
    for (PLANT plant : {SYMBOLIC_LINK, HARD_LINK, FIFO}) {
      SCOPED_TRACE(std::string(w.what) + ", " + plant_name(plant));
      const fs::path dir = fs::current_path() / ("db " + std::to_string(cell++));
      fs::create_directories(dir);
      fs::permissions(dir, fs::perms::all);
      const fs::path victim = fs::current_path() / ("victim " + std::to_string(cell));
      const std::string before = "the victim's own text\n";
      std::ofstream(victim) << before;
      const fs::path at = dir / in_child(false, dir, [&] {
        gen_set_db_dir_path(dir.string());
        return w.name();
      });
      fs::create_directories(at.parent_path());
      if (plant == SYMBOLIC_LINK) {
        ASSERT_EQ(symlink(victim.c_str(), at.c_str()), 0);
        ASSERT_EQ(lchown(at.c_str(), kNobody, kNobody), 0);
      } else if (plant == HARD_LINK) {
        ASSERT_EQ(link(victim.c_str(), at.c_str()), 0);
      } else {
        ASSERT_EQ(mkfifo(at.c_str(), 0666), 0);
        ASSERT_EQ(chown(at.c_str(), kNobody, kNobody), 0);
      }
      const std::string told = in_child(false, dir, [&] {
        gen_set_db_dir_path(dir.string());
        w.write();
        return std::string("ended");
      }, 10);
      EXPECT_EQ(told, "ended");
      EXPECT_EQ(text_of(victim), before);
    }
  }
}

// Another user's regular file (0666) planted at the name of the namespace
// archive and of a partition archive in a sticky (1777) database
// directory is never written in place nor replaced: the run, root's or
// nobody's, fails naming the file, the partitions in memory, and the
// planted file keeps its text and owner. It used to be written in place and
// stay the other user's, who could then change a helper's input while the
// run went on; and root's run replaced it, though the other user's run may
// have been using it.
TEST(KavuParallelSharedDir, AnotherUsersFileInAStickyDirectoryIsNeverWrittenInPlace) {
  if (geteuid() != 0) GTEST_SKIP() << "the rows act as two users: needs root";
  SHARED_REACH reach;
  CFG_SCOPE cfg{{"helper_binary_dir", KAVU_HELPER_DIR}, {"parallel_pipe_timeout_s", "20"}, {"pmap_parallel", "off"}};
  int cell = 0;
  for (const char* name : {"hdb_namespace.cdb", "rev 1.map_ap_0.parsynth.cdb"}) {
    for (bool nobody : {false, true}) {
      SCOPED_TRACE(std::string(name) + (nobody ? ", nobody's run" : ", root's run"));
      const fs::path dir = fs::current_path() / ("sticky " + std::to_string(cell++));
      fs::create_directories(dir);
      fs::permissions(dir, fs::perms::all | fs::perms::sticky_bit);
      const uid_t planter = nobody ? 0 : kNobody;
      const std::string planted = "the planter's text\n";
      std::ofstream(dir / name) << planted;
      ASSERT_EQ(chown((dir / name).c_str(), planter, planter), 0);
      ASSERT_EQ(chmod((dir / name).c_str(), 0666), 0);
      const int kept = open((dir / name).c_str(), O_RDONLY);  // the planted file, whatever its name holds later
      ASSERT_GE(kept, 0);
      const std::string told = in_child(nobody, dir, [] { return one_run(true); });
      EXPECT_EQ(told.rfind("failed: ", 0), 0u) << told;
      EXPECT_NE(told.find("is another user's file, which a run the lock on"), std::string::npos) << told;
      EXPECT_NE(told.find(name), std::string::npos) << told;
      struct stat st;
      ASSERT_EQ(stat((dir / name).c_str(), &st), 0);
      EXPECT_EQ(st.st_uid, planter);
      char buffer[256] = {};
      EXPECT_EQ(std::string(buffer, size_t(std::max<ssize_t>(0, pread(kept, buffer, sizeof buffer, 0)))), planted);
      close(kept);
    }
  }
}

namespace {

// Puts `prepared` at `at` once `at` holds a file, when the own-file path
// first examines it so (the kept copy's reading of the archive written).
struct EXCHANGE_ONCE_WRITTEN {
  std::string at, prepared;
  bool done = false;
  static void call(FIO_TEST_POINT point, const char* path, void* data) {
    auto* self = static_cast<EXCHANGE_ONCE_WRITTEN*>(data);
    struct stat st;
    if (point != FIO_OWN_FILE_EXAMINING || self->done || self->at != path || lstat(path, &st) != 0) return;
    self->done = true;
    rename(self->prepared.c_str(), path);
  }
};

}  // namespace

// The copy of a partition archive kept until its result is back is read
// only from a file of the user's own: another user who puts a link to the
// user's private file at the archive's name once it is written (a 0777
// directory lets them) makes the write fail, naming the kept copy, and no
// copy of the private file is made (it used to be copied, 0644, for the
// other user to read).
TEST(KavuParallelSharedDir, KeptCopiesAreReadOnlyFromTheUsersOwnArchive) {
  if (geteuid() != 0) GTEST_SKIP() << "the rows act as two users: needs root";
  SHARED_REACH reach;
  int cell = 0;
  for (bool nobody : {false, true}) {
    SCOPED_TRACE(nobody ? "nobody's run" : "root's run");
    const uid_t runner = nobody ? kNobody : 0, planter = nobody ? 0 : kNobody;
    const fs::path dir = fs::current_path() / ("kept " + std::to_string(cell)),
                   secret = fs::current_path() / ("secret " + std::to_string(cell++));
    fs::create_directories(dir);
    fs::permissions(dir, fs::perms::all);
    std::ofstream(secret) << "the runner's secret\n";
    ASSERT_EQ(chown(secret.c_str(), runner, runner), 0);
    ASSERT_EQ(chmod(secret.c_str(), 0600), 0);
    const fs::path prepared = dir / "prepared";
    ASSERT_EQ(symlink(secret.c_str(), prepared.c_str()), 0);
    ASSERT_EQ(lchown(prepared.c_str(), planter, planter), 0);
    const std::string told = in_child(nobody, dir, [&] {
      umask(022);
      EXCHANGE_ONCE_WRITTEN exchange{(dir / "rev 1.map_ap_0.parsynth.cdb").string(), prepared.string()};
      fio_test_set_hook(&EXCHANGE_ONCE_WRITTEN::call, &exchange);
      const std::string run = one_run(false);
      fio_test_set_hook(nullptr, nullptr);
      return (exchange.done ? "exchanged, " : "not exchanged, ") + run;
    });
    EXPECT_EQ(told.rfind("exchanged, failed: ", 0), 0u) << told;
    EXPECT_NE(told.find("rev 1.map_kept_ap_0.parsynth.cdb"), std::string::npos) << told;
    EXPECT_NE(told.find("its source is not a file of this user's own (a symbolic link another user made)"),
              std::string::npos)
        << told;
    for (const auto& entry : fs::directory_iterator(dir)) {
      if (!fs::is_symlink(entry.path())) {
        EXPECT_EQ(text_of(entry.path()).find("secret"), std::string::npos) << entry.path();
      }
    }
  }
}

// A database directory whose files have other names (a snapshot made with
// "cp -al") is refused before anything is written, naming the first file
// the run would write there, its user's runs record, so the snapshot keeps
// its text and the partitions stay in memory.
TEST(KavuParallelSharedDir, ASnapshotByHardLinksIsRefusedUpFront) {
  const fs::path dir = fs::current_path() / "snapshotted";
  fs::create_directories(dir);
  ASSERT_EQ(in_child(false, dir, [] { return one_run(false); }).rfind("ok", 0), 0u);
  ASSERT_EQ(std::system(("cp -al \"" + dir.string() + "\" \"" + (fs::current_path() / "snapshot").string() + "\"").c_str()),
            0);
  std::vector<std::pair<fs::path, std::string>> files;
  for (const auto& entry : fs::directory_iterator(fs::current_path() / "snapshot"))
    files.emplace_back(entry.path(), text_of(entry.path()));
  const std::string told = in_child(false, dir, [] {
    CMP_FACADE facade;
    set_up_run(&facade);
    std::vector<CDB_SGATE_NETLIST*> parts = small_partitions();
    const bool ok = kavu_parallel_serialize(&facade, "map", 1, nullptr, parts);
    const std::string said = logged();
    const size_t kept = parts.size();
    for (CDB_SGATE_NETLIST* p : parts) delete p;
    return (ok ? "written: " : "refused (" + std::to_string(kept) + " in memory): ") + said;
  });
  EXPECT_EQ(told.rfind("refused (2 in memory): ", 0), 0u) << told;
  EXPECT_NE(told.find("runs record \"" + FIO_FILE_SYSTEM::runs_record_path(dir.string()) + "\""), std::string::npos)
      << told;
  EXPECT_NE(told.find("a file with 2 names (hard links)"), std::string::npos) << told;
  for (const auto& [file, text] : files) EXPECT_EQ(text_of(file), text) << file;
}

// The helper's log in a shared directory: the user's own earlier log is
// emptied (its old text used to stay after the helper's); another user's
// log (0666, which the user could write) is replaced by one of the user's
// own only in a directory no one else may write, whose lock keeps every
// other run out, and left alone, the helper running without a log, where
// another user may write (the log of another user's running run used to be
// replaced wherever the lock kept runs of this host apart) or the lock may
// not exclude (a file system without locks: it used to be taken or
// replaced). The planted log keeps its text either way.
TEST(KavuParallelSharedDir, HelperLogsAreTheUsersOwnAndEmptied) {
  if (geteuid() != 0) GTEST_SKIP() << "the rows act as two users: needs root";
  SHARED_REACH reach;
  CFG_SCOPE cfg{{"helper_binary_dir", KAVU_HELPER_DIR}, {"parallel_pipe_timeout_s", "20"}, {"pmap_parallel", "off"}};
  struct ROW {
    const char* what;
    uid_t owner;       // of the log there before the run
    int lock_error;    // flock fails so in the run
    fs::perms mode;    // of the working directory
    bool left;         // the planted log stays, the helper runs without one
  } const rows[] = {
      {"the user's own earlier log", 0, 0, fs::perms::all, false},
      {"another user's log, a directory others may write", kNobody, 0, fs::perms::all, true},
      {"another user's log, the user's own directory", kNobody, 0, fs::perms(0755), false},
      {"another user's log, no locks", kNobody, ENOLCK, fs::perms(0755), true},
  };
  int cell = 0;
  for (const ROW& r : rows) {
    SCOPED_TRACE(r.what);
    const fs::path dir = fs::current_path() / ("logs " + std::to_string(cell++));
    fs::create_directories(dir);
    fs::permissions(dir, r.mode);
    std::string before;  // longer than what the helper writes
    for (int k = 0; k < 2000; ++k) before += "an earlier text of the log that must not stay\n";
    std::ofstream(dir / "helper_0.log") << before;
    ASSERT_EQ(chown((dir / "helper_0.log").c_str(), r.owner, r.owner), 0);
    ASSERT_EQ(chmod((dir / "helper_0.log").c_str(), 0666), 0);
    const int kept = open((dir / "helper_0.log").c_str(), O_RDONLY);
    ASSERT_GE(kept, 0);
    const std::string told = in_child(false, dir, [&] {
      if (r.lock_error) gen_test_fail_file_locks(r.lock_error);
      return one_run(true);
    });
    EXPECT_EQ(told.rfind("ok", 0), 0u) << told;
    struct stat st;
    ASSERT_EQ(stat((dir / "helper_0.log").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, r.left ? kNobody : 0u);
    EXPECT_EQ(told.find("without its log \"helper_0.log\"") != std::string::npos, r.left) << told;
    if (r.owner == 0) {
      EXPECT_EQ(text_of(dir / "helper_0.log").find("must not stay"), std::string::npos);
    } else {
      std::string planted(before.size() + 1, '\0');
      planted.resize(size_t(std::max<ssize_t>(0, pread(kept, planted.data(), planted.size(), 0))));
      EXPECT_TRUE(planted == before) << planted.size() << " bytes";
    }
    close(kept);
  }
}

namespace {

// Exchanges the user's link at the helper's log for `prepared` once the
// link has been checked, as another user could in a shared directory.
struct EXCHANGE_CHECKED_LOG {
  std::string prepared;
  bool done = false;
  static void call(FIO_TEST_POINT point, const char* path, void* data) {
    auto* self = static_cast<EXCHANGE_CHECKED_LOG*>(data);
    const std::string at = path;
    const std::string log = "helper_0.log";
    if (point != FIO_OWN_FILE_CHECKED || self->done || at.size() < log.size() ||
        at.compare(at.size() - log.size(), log.size(), log) != 0)
      return;
    self->done = true;
    rename(self->prepared.c_str(), path);
  }
};

}  // namespace

// The helper's log through the user's own link: another user who exchanges
// the link for one of theirs to the user's private file, between the link's
// check and its open, changes nothing: the log goes where the user's link
// pointed and the private file keeps its text (the link used to be followed
// again by name, and the private file emptied and overwritten).
TEST(KavuParallelSharedDir, AHelpersLogLinkExchangedAfterItsCheckIsNotFollowed) {
  if (geteuid() != 0) GTEST_SKIP() << "the row acts as two users: needs root";
  SHARED_REACH reach;
  CFG_SCOPE cfg{{"helper_binary_dir", KAVU_HELPER_DIR}, {"parallel_pipe_timeout_s", "20"}, {"pmap_parallel", "off"}};
  const fs::path dir = fs::current_path() / "logs", own = fs::current_path() / "own";
  fs::create_directories(dir);
  fs::create_directories(own);
  fs::permissions(dir, fs::perms::all);
  std::ofstream(own / "secret") << "the user's secret\n";
  ASSERT_EQ(chmod((own / "secret").c_str(), 0600), 0);
  std::ofstream(own / "log") << "an earlier log\n";
  ASSERT_EQ(symlink((own / "log").c_str(), (dir / "helper_0.log").c_str()), 0);
  ASSERT_EQ(symlink((own / "secret").c_str(), (dir / "prepared").c_str()), 0);
  ASSERT_EQ(lchown((dir / "prepared").c_str(), kNobody, kNobody), 0);
  const std::string told = in_child(false, dir, [&] {
    EXCHANGE_CHECKED_LOG exchange{(dir / "prepared").string()};
    fio_test_set_hook(&EXCHANGE_CHECKED_LOG::call, &exchange);
    const std::string run = one_run(true);
    fio_test_set_hook(nullptr, nullptr);
    return (exchange.done ? "exchanged, " : "not exchanged, ") + run;
  });
  EXPECT_EQ(told.rfind("exchanged, ok", 0), 0u) << told;
  EXPECT_EQ(text_of(own / "secret"), "the user's secret\n");
  EXPECT_EQ(text_of(own / "log").find("an earlier log"), std::string::npos);
}

// A long-lived host runs many flows: no descriptor of a helper's log (or
// anything else of a run) stays open after it, so flows under a low limit
// of open files keep working (a log descriptor left per helper failed a
// host's flow after about 250 runs under `ulimit -n`).
TEST(KavuParallelSharedDir, ManyFlowsInOneProcessLeaveNoDescriptorOpen) {
  CFG_SCOPE cfg{{"helper_binary_dir", KAVU_HELPER_DIR}, {"parallel_pipe_timeout_s", "20"}, {"pmap_parallel", "off"}};
  const fs::path dir = fs::current_path() / "flows";
  fs::create_directories(dir);
  const std::string told = in_child(false, dir, [] {
    int open_now = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++open_now;
    const struct rlimit lim = {rlim_t(open_now + 32), rlim_t(open_now + 32)};
    if (setrlimit(RLIMIT_NOFILE, &lim) != 0) return std::string("cannot lower the limit");
    for (int flow = 0; flow < 64; ++flow) {
      const std::string one = one_run(true);
      if (one.rfind("ok", 0) != 0) return "flow " + std::to_string(flow) + ": " + one;
    }
    return std::string("ok");
  }, 120);
  EXPECT_EQ(told, "ok");
}

namespace {

// Makes the directory of a row nobody's (0755) or one every user may write.
void make_dir_of(const fs::path& dir, bool nobodys) {
  ASSERT_EQ(chown(dir.c_str(), nobodys ? kNobody : 0, nobodys ? kNobody : 0), 0);
  fs::permissions(dir, nobodys ? fs::perms(0755) : fs::perms::all);
}

// Plants root's file (0644) at `at`: its text.
std::string plant_roots_file(const fs::path& at) {
  const std::string text = "root's own text\n";
  std::ofstream(at) << text;
  chown(at.c_str(), 0, 0);
  chmod(at.c_str(), 0644);
  return text;
}

}  // namespace

// Nobody writes, outside any run, the design's namespace archive, the
// stored timing netlist and a helper's removed-register archive where root's
// file lies: in a directory others may write, and in nobody's own directory
// reached through FUSE or where flock fails, root's file keeps its text and
// owner, since root's run may be using it; only in nobody's own directory
// on a file system whose lock excludes is it replaced. Each used to be
// replaced wherever the directory was not sticky.
TEST(KavuParallelSharedDir, WritesOutsideARunNeverReplaceAnotherUsersFile) {
  if (geteuid() != 0) GTEST_SKIP() << "the rows act as two users: needs root";
  SHARED_REACH reach;
  TWO_FUSE_MOUNTS fuse;
  struct ROW {
    const char* what;
    bool nobodys, fuse;
    int lock_error;
    bool replaced;
  } const rows[] = {
      {"nobody's own directory", true, false, 0, true},
      {"a directory others may write", false, false, 0, false},
      {"nobody's own directory through FUSE", true, true, 0, false},
      {"nobody's own directory, flock failing", true, false, ENOLCK, false},
  };
  const std::vector<DB_WRITER> all = db_writers();
  std::vector<DB_WRITER> writers = {
      {"the namespace archive", [] { return std::string("hdb_namespace.cdb"); },
       [] { HDB_NAMESPACE::write_pdb(hdb_default_namespace(), gen_get_db_dir_path(), true); }}};
  for (const DB_WRITER& w : all)
    if (std::string(w.what) == "the stored generic timing netlist" || std::string(w.what) == "the removed-register archive")
      writers.push_back(w);
  ASSERT_EQ(writers.size(), 3u);
  for (const ROW& r : rows) {
    if (r.fuse && !fuse.mounted) continue;
    for (const DB_WRITER& w : writers) {
      SCOPED_TRACE(std::string(r.what) + ", " + w.what);
      fuse.clear();
      make_dir_of(fuse.dir, r.nobodys);
      const fs::path dir = r.fuse ? fuse.one : fuse.dir;
      const std::string name = fs::path(in_child(false, dir, [&] {
                                   gen_set_db_dir_path(dir.string());
                                   return w.name();
                                 })).filename().string();
      const std::string planted = plant_roots_file(fuse.dir / name);
      const std::string told = in_child(true, dir, [&] {
        if (r.lock_error) gen_test_fail_file_locks(r.lock_error);
        gen_set_db_dir_path(dir.string());
        w.write();
        return std::string("ended");
      });
      EXPECT_EQ(told, "ended");
      // Refused, root's file stays as it was (the clean-up after a failed
      // write of a timing netlist removes only the user's own file).
      struct stat st;
      const bool there = lstat((fuse.dir / name).c_str(), &st) == 0;
      if (r.replaced) {
        EXPECT_TRUE(there && st.st_uid == kNobody);
      } else {
        EXPECT_TRUE(there && st.st_uid == 0);
        EXPECT_EQ(text_of(fuse.dir / name), planted);
      }
    }
  }
  make_dir_of(fuse.dir, false);
  if (!fuse.mounted) GTEST_SKIP() << "the FUSE rows did not run: cannot mount bindfs (bindfs, /dev/fuse)";
}

// A helper writes its removed-register archive for the run whose partition
// it read: root's file that appears at that name after the run looked at
// the directory (in a directory others may write, in nobody's own one
// through FUSE or where flock fails, even on a local disk where the lock is
// trusted) is never replaced; the helper fails and nobody's run takes the
// partition back from its kept copy. The helper used to replace it.
TEST(KavuParallelSharedDir, AHelperReplacesNoFileItsRunDidNotMake) {
  if (geteuid() != 0) GTEST_SKIP() << "the rows act as two users: needs root";
  SHARED_REACH reach;
  TWO_FUSE_MOUNTS fuse;
  CFG_SCOPE cfg{{"helper_binary_dir", KAVU_HELPER_DIR}, {"parallel_pipe_timeout_s", "20"}, {"pmap_parallel", "off"},
                {"helper_fault", "wait"}};
  struct ROW {
    const char* what;
    bool nobodys, fuse;
    int lock_error;
  } const rows[] = {
      {"a directory others may write", false, false, 0},
      {"nobody's own directory", true, false, 0},
      {"nobody's own directory through FUSE", true, true, 0},
      {"nobody's own directory, flock failing", true, false, ENOLCK},
  };
  for (const ROW& r : rows) {
    SCOPED_TRACE(r.what);
    if (r.fuse && !fuse.mounted) continue;
    fuse.clear();
    make_dir_of(fuse.dir, r.nobodys);
    const fs::path dir = r.fuse ? fuse.one : fuse.dir;
    const fs::path at = fuse.dir / "rev 1.map_removed_reg_ap_0.parsynth.cdb";
    // Planted once the helper waits, after the run has looked at the directory;
    // the run's own helper deadline ends a helper that never waits. The
    // planter starts once the run's process is forked: a thread that
    // allocates while another forks may leave the child's allocator locked.
    std::string planted;
    std::atomic<bool> waited{false}, run_over{false};
    std::thread planter;
    const std::string told = in_child(
        true, dir,
        [&] {
          if (r.lock_error) gen_test_fail_file_locks(r.lock_error);
          return one_run(true);
        },
        90,
        [&] {
          planter = std::thread([&] {
            while (!run_over && !(waited = fs::exists(fuse.dir / "helper_waits")))
              std::this_thread::sleep_for(std::chrono::milliseconds(10));
            planted = plant_roots_file(at);
            std::ofstream(fuse.dir / "helper_go") << "";
          });
        });
    run_over = true;
    planter.join();
    std::string files;
    for (const auto& entry : fs::directory_iterator(fuse.dir)) files += " \"" + entry.path().filename().string() + "\"";
    ASSERT_TRUE(waited) << "no helper waited; the run said: " << told << "\nthe directory holds" << files;
    EXPECT_EQ(told.rfind("failed: ", 0), 0u) << told << "\nthe directory holds" << files;
    EXPECT_NE(told.find("partition 0 failed"), std::string::npos) << told;
    struct stat st;
    ASSERT_EQ(lstat(at.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(text_of(at), planted);
  }
  make_dir_of(fuse.dir, false);
  if (!fuse.mounted) GTEST_SKIP() << "the FUSE row did not run: cannot mount bindfs (bindfs, /dev/fuse)";
}

namespace {

// A run of `uid` in `dir` (its database directory) killed (SIGKILL) once its
// partitions are written, as a crash ends a run: in a process namespace of
// its own, /proc mounted anew, as a container's run, when asked. "", "no
// namespace" where none can be made, or what went wrong.
std::string run_killed_mid_run(const fs::path& dir, uid_t uid, bool own_namespace) {
  int written[2];
  if (pipe(written) != 0) return "no pipe";
  const pid_t outer = fork();
  if (outer == 0) {
    close(written[0]);
    if (own_namespace && (unshare(CLONE_NEWPID | CLONE_NEWNS) != 0 ||
                          mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0))
      std::_Exit(10);
    const pid_t init = fork();  // the namespace's first process, which ignores a SIGKILL of its own
    if (init == 0) {
      if (own_namespace && mount("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0)
        std::_Exit(11);
      const pid_t run = fork();
      if (run == 0) {
        if (chdir(dir.c_str()) != 0 || (uid && (setgroups(0, nullptr) != 0 || setgid(uid) != 0 || setuid(uid) != 0)))
          std::_Exit(12);
        CMP_FACADE facade;
        set_up_run(&facade);
        std::vector<CDB_SGATE_NETLIST*> parts = small_partitions();
        (void)!write(written[1], kavu_parallel_serialize(&facade, "map", 1, nullptr, parts) ? "w" : "x", 1);
        raise(SIGKILL);
      }
      int status = 0;
      waitpid(run, &status, 0);
      std::_Exit(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL ? 0 : 13);
    }
    int status = 0;
    waitpid(init, &status, 0);
    std::_Exit(WIFEXITED(status) ? WEXITSTATUS(status) : 14);
  }
  close(written[1]);
  char byte = 0;
  (void)!read(written[0], &byte, 1);
  close(written[0]);
  int status = 0;
  waitpid(outer, &status, 0);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 10) return "no namespace";
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "the killed run ended with status " + std::to_string(status);
  return byte == 'w' ? "" : "the killed run did not write its partitions";
}

// Gives every run line of the runs record `record` another boot id, its
// hash made anew, as the record of a run killed before the machine was
// started again reads.
void move_runs_to_another_boot(const fs::path& record) {
  std::ifstream in(record);
  std::string line, text;
  while (std::getline(in, line)) {
    if (line.rfind("R ", 0) == 0) {
      std::vector<std::string> fields;
      std::istringstream words(line.substr(0, line.rfind(" #")));
      for (std::string word; words >> word;) fields.push_back(word);
      fields.at(3) = "0f0f0f0f-0f0f-4f0f-8f0f-0f0f0f0f0f0f";
      line.clear();
      for (const std::string& f : fields) line += (line.empty() ? "" : " ") + f;
      uint32_t hash = 2166136261u;
      for (const char c : line) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
      char tail[16];
      std::snprintf(tail, sizeof tail, " #%08x", hash);
      line += tail;
    }
    text += line + "\n";
  }
  in.close();
  std::ofstream(record, std::ios::binary | std::ios::in) << text;  // the same file, no shorter
}

// The regular files of a run in `dir`: not the lock file nor a runs record.
std::vector<std::pair<fs::path, std::string>> files_of_run(const fs::path& dir) {
  std::vector<std::pair<fs::path, std::string>> files;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_regular_file() && name != "parallel_synthesis.lock" && name.rfind(".kavu_runs.", 0) != 0)
      files.emplace_back(entry.path(), text_of(entry.path()));
  }
  return files;
}

// A tmpfs mounted at `at` for the scope's life; `mounted` false when it
// cannot be.
struct TMPFS {
  fs::path at;
  bool mounted;
  explicit TMPFS(const fs::path& where) : at(where) {
    fs::create_directories(at);
    mounted = mount("tmpfs", at.c_str(), "tmpfs", 0, "size=64m,mode=0755") == 0;
  }
  ~TMPFS() {
    if (mounted) umount2(at.c_str(), MNT_DETACH);
  }
};

}  // namespace

// A run killed before its end where its end cannot be checked: in a process
// namespace of its own (a container's), or before the machine was started
// again (its run line carries another boot id). On a local file system
// (ext4, tmpfs), whose lock keeps every other run out while the next run
// holds it, the user's next run replaces what the killed run left and
// synthesizes; every later run used to be refused, for ever, "… may be
// using them". Through FUSE, whose lock keeps no run out, the next run is
// refused, the killed run's files kept, with words that name the run, say
// that its end cannot be checked from here and how to clear it; removing
// the files as told clears it. Another user's killed run's files are never
// replaced, in a directory others may write, while that user's next run
// replaces them.
TEST(KavuParallelSharedDir, AfterARunKilledWhereItsEndCannotBeCheckedTheNextRunSynthesizesWhereTheLockExcludes) {
  if (geteuid() != 0) GTEST_SKIP() << "the rows mount, make namespaces and act as two users: needs root";
  SHARED_REACH reach;
  CFG_SCOPE cfg{{"helper_binary_dir", KAVU_HELPER_DIR}, {"parallel_pipe_timeout_s", "20"}, {"pmap_parallel", "off"}};
  struct ROW {
    const char* what;
    const char* where;  // "ext4": the scratch directory's own file system, "tmpfs", "fuse": through bindfs
    bool container;     // killed in a process namespace of its own, else before a restart
  } const rows[] = {
      {"ext4, a container's run", "ext4", true},   {"ext4, a run before a restart", "ext4", false},
      {"tmpfs, a container's run", "tmpfs", true}, {"tmpfs, a run before a restart", "tmpfs", false},
      {"FUSE, a container's run", "fuse", true},   {"FUSE, a run before a restart", "fuse", false},
  };
  std::vector<std::string> not_run;
  int cell = 0;
  for (const ROW& r : rows) {
    SCOPED_TRACE(r.what);
    const std::string where = r.where;
    const std::string name = "killed " + std::to_string(cell++);
    std::unique_ptr<TMPFS> tmpfs;
    std::unique_ptr<TWO_FUSE_MOUNTS> fuse;
    fs::path dir = fs::current_path() / name;
    fs::create_directories(dir);
    if (where == "tmpfs" && !(tmpfs = std::make_unique<TMPFS>(dir))->mounted) {
      not_run.push_back(std::string(r.what) + ": cannot mount a tmpfs");
      continue;
    }
    if (where == "fuse") {
      fuse = std::make_unique<TWO_FUSE_MOUNTS>(name, "");
      if (!fuse->mounted) {
        not_run.push_back(std::string(r.what) + ": cannot mount bindfs (bindfs, /dev/fuse)");
        continue;
      }
      dir = fuse->one;
    }
    struct statfs sfs;
    ASSERT_EQ(statfs(dir.c_str(), &sfs), 0);
    ASSERT_EQ(fio_flock_excludes_on(static_cast<unsigned long>(sfs.f_type)), where != "fuse");
    const std::string killed = run_killed_mid_run(dir, 0, r.container);
    if (killed == "no namespace") {
      not_run.push_back(std::string(r.what) + ": cannot make a process namespace");
      continue;
    }
    ASSERT_EQ(killed, "");
    if (!r.container) move_runs_to_another_boot(dir / ".kavu_runs.0");
    const auto left = files_of_run(dir);
    ASSERT_GE(left.size(), 5u);  // the namespace archive, two partition archives and their kept copies
    const std::string told = in_child(false, dir, [] { return one_run(true); });
    if (where != "fuse") {
      EXPECT_EQ(told.rfind("ok", 0), 0u) << told;
      for (const auto& [file, text] : files_of_run(dir))
        EXPECT_EQ(file.filename().string().find("_kept_ap_"), std::string::npos) << file;
      continue;
    }
    EXPECT_EQ(told.rfind("failed: ", 0), 0u) << told;
    for (const std::string& words :
         {std::string("were not made by this run, and a run the lock on"),
          std::string("(remove them when no run uses the directory): made by a run of process "),
          std::string(r.container ? "in another process namespace of this host" : "in another boot (boot id "),
          std::string("whose end cannot be checked from here. The partitions stay in memory")})
      EXPECT_NE(told.find(words), std::string::npos) << words << "\n" << told;
    for (const auto& [file, text] : left) {
      EXPECT_NE(told.find("/" + file.filename().string() + "\""), std::string::npos) << file << ": " << told;
      EXPECT_EQ(text_of(file), text) << file;
      fs::remove(file);
    }
    EXPECT_EQ(in_child(false, dir, [] { return one_run(true); }).rfind("ok", 0), 0u);
  }
  // Nobody's run killed in a container, in a directory others may write.
  const fs::path dir = fs::current_path() / "killed nobody's";
  fs::create_directories(dir);
  fs::permissions(dir, fs::perms::all);
  const std::string killed = run_killed_mid_run(dir, kNobody, true);
  if (killed == "no namespace") GTEST_SKIP() << "cannot make a process namespace";
  ASSERT_EQ(killed, "");
  const auto left = files_of_run(dir);
  const std::string roots = in_child(false, dir, [] { return one_run(true); });
  EXPECT_EQ(roots.rfind("failed: ", 0), 0u) << roots;
  EXPECT_NE(roots.find("are other users' files, which a run the lock on"), std::string::npos) << roots;
  for (const auto& [file, text] : left) EXPECT_EQ(text_of(file), text) << file;
  EXPECT_EQ(in_child(true, dir, [] { return one_run(true); }).rfind("ok", 0), 0u);
  if (!not_run.empty()) GTEST_SKIP() << not_run.size() << " rows did not run, the first: " << not_run.front();
}

// The flows of one process whose database directory lies on a FUSE mount
// that keeps what it told of a file for a while (as bindfs does by
// default): three flows in a row, and flows after one whose helpers failed
// (its partitions taken back from their kept copies), each take every
// partition back, and no kept copy stays after any of them. The first flow
// used to leave its kept copies behind, and the next flows were refused:
// "… were not made by this run, and a run the lock … does not keep out may
// be using them". A real second name of a file there still refuses a flow,
// naming it so, and the file it shares keeps its text.
TEST(KavuParallelSharedDir, FlowsOfOneProcessThroughFuseAllSynthesizeAndLeaveNoKeptCopy) {
  CFG_SCOPE cfg{{"helper_binary_dir", KAVU_HELPER_DIR}, {"parallel_pipe_timeout_s", "20"}, {"pmap_parallel", "off"}};
  for (const bool first_fails : {false, true}) {
    SCOPED_TRACE(first_fails ? "a flow whose helpers fail, then two more" : "three flows");
    TWO_FUSE_MOUNTS fuse(first_fails ? "after a failure" : "three flows", "attr_timeout=30,entry_timeout=30");
    if (!fuse.mounted) GTEST_SKIP() << "cannot mount bindfs (bindfs, /dev/fuse)";
    const std::string told = in_child(false, fuse.one, [&] {
      for (int flow = 0; flow < 3; ++flow) {
        std::string one;
        {
          CFG_SCOPE fault{{"helper_fault", first_fails && flow == 0 ? "exit3" : nullptr}};
          one = one_run(true);
        }
        if (one.rfind(first_fails && flow == 0 ? "failed: " : "ok", 0) != 0) return "flow " + std::to_string(flow) + ": " + one;
        for (const auto& [file, text] : files_of_run("."))
          if (file.filename().string().find("_kept_ap_") != std::string::npos)
            return "flow " + std::to_string(flow) + " leaves " + file.string();
      }
      return std::string("ok");
    }, 120);
    EXPECT_EQ(told, "ok");
  }
  TWO_FUSE_MOUNTS fuse("linked", "attr_timeout=30,entry_timeout=30");
  std::ofstream(fuse.dir / "victim") << "the victim's own text\n";
  ASSERT_EQ(link((fuse.dir / "victim").c_str(), (fuse.dir / "rev 1.map_kept_ap_0.parsynth.cdb").c_str()), 0);
  const std::string told = in_child(false, fuse.one, [] { return one_run(true); });
  EXPECT_NE(told.find("kept_ap_0.parsynth.cdb\" was not made by this run"), std::string::npos) << told;
  EXPECT_NE(told.find("(remove it when no run uses the directory): a file with 2 names (hard links)."), std::string::npos)
      << told;
  EXPECT_EQ(text_of(fuse.dir / "victim"), "the victim's own text\n");
}
