// fio_own_file_test.cpp — the own-file path in directories others may write:
// a name exchanged between its check and its open, links and owners of what
// is opened, copies of private files, sticky directories, directories where
// other processes' files are kept, and the file systems whose locks exclude.
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fio/fio.h"
#include "testkit/platform_test_hooks.h"
#include "testkit/platform_testkit.h"
#include "../signal_test_support.h"

using namespace kavu_platform;
namespace fs = std::filesystem;

namespace {

const uid_t kNobody = kTestNobody;

std::string text_or_none(const fs::path& file) {
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(file, ec))) return "(none)";
  std::ifstream in(file, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string as_user(uid_t uid, const std::function<std::string()>& fn) { return run_in_child_as(uid, "", fn); }

// Acts once, as another process would, when the own-file path reaches
// `point` for `path`.
struct AT_POINT {
  FIO_TEST_POINT point;
  std::string path;
  std::function<void()> act;
  static void call(FIO_TEST_POINT p, const char* at, void* data) {
    auto* self = static_cast<AT_POINT*>(data);
    if (p != self->point || self->path != at || !self->act) return;
    std::function<void()> act = std::move(self->act);
    self->act = nullptr;
    act();
  }
  AT_POINT(FIO_TEST_POINT p, const std::string& at, std::function<void()> fn) : point(p), path(at), act(std::move(fn)) {
    fio_test_set_hook(&call, this);
  }
  ~AT_POINT() { fio_test_set_hook(nullptr, nullptr); }
};

// The writers of the own-file path, each writing "new\n" at `path`:
// "written" or the problem.
struct WRITER {
  const char* what;
  std::function<std::string(const std::string& path)> write;
};

std::vector<WRITER> own_writers(const std::string& source) {
  return {
      {"replace_own_file",
       [](const std::string& path) {
         std::string problem;
         return FIO_FILE_SYSTEM::replace_own_file(path, {"new\n"}, &problem) ? std::string("written") : problem;
       }},
      {"fopen_own_file",
       [](const std::string& path) {
         std::string problem;
         FILE* f = FIO_FILE_SYSTEM::fopen_own_file(path, &problem);
         if (!f) return problem;
         std::fputs("new\n", f);
         return std::fclose(f) == 0 ? std::string("written") : std::string("commit failed");
       }},
      {"copy_own_file",
       [source](const std::string& path) {
         std::string problem;
         return FIO_FILE_SYSTEM::copy_own_file(source, path, &problem) ? std::string("written") : problem;
       }},
      {"open_through_own_link",
       [](const std::string& path) {
         std::string problem;
         const int fd = FIO_FILE_SYSTEM::open_through_own_link(path, O_WRONLY | O_CREAT, 0644, &problem);
         if (fd < 0) return problem.empty() ? std::string(std::strerror(errno)) : problem;
         const bool ok = ftruncate(fd, 0) == 0 && write(fd, "new\n", 4) == 4;
         close(fd);
         return ok ? std::string("written") : std::string("write failed");
       }},
  };
}

}  // namespace

// What the own-file path checks is what it opens. In a directory every user
// may write, another user exchanges, between the check and the open: the
// caller's own link (for a link of theirs to the caller's private file), the
// file a caller's dangling link names (for such a link), and the caller's
// own file (for a hard link to the private file, which a write in place
// would change). The private file keeps its text and mode, whichever writer
// and whoever runs. The link used to be followed again by name, a dangling
// one opened with O_CREAT and no O_EXCL, and the opened file checked with
// the state taken before the open.
TEST(FioOwnFile, NamesExchangedBetweenCheckAndOpenAreNeverFollowed) {
  if (geteuid() != 0) GTEST_SKIP() << "the rows act as two users: needs root";
  SCRATCH_REACHED_BY_ALL reach;
  enum CASE { LINK_EXCHANGED, DANGLING_TARGET_PLANTED, FILE_EXCHANGED };
  const char* const case_names[] = {"the caller's link exchanged", "a link planted where its dangling link points",
                                    "the caller's file exchanged for a hard link"};
  int cell = 0;
  for (uid_t runner : {uid_t(0), kNobody}) {
    for (CASE c : {LINK_EXCHANGED, DANGLING_TARGET_PLANTED, FILE_EXCHANGED}) {
      // Root may write every file: a link root planted is root's to make.
      if (c == DANGLING_TARGET_PLANTED && runner != 0) continue;
      const uid_t planter = runner == 0 ? kNobody : 0;
      const fs::path source = fs::current_path() / "source";
      std::ofstream(source) << "new\n";
      chown(source.c_str(), runner, runner);
      for (const WRITER& w : own_writers(source.string())) {
        if (c == FILE_EXCHANGED && std::string(w.what) == "open_through_own_link") continue;
        SCOPED_TRACE(std::string(case_names[c]) + ", " + w.what + (runner ? ", nobody's write" : ", root's write"));
        const fs::path dir = fs::current_path() / ("shared" + std::to_string(cell));
        const fs::path own = fs::current_path() / ("own" + std::to_string(cell++));
        fs::create_directories(dir);
        fs::create_directories(own);
        fs::permissions(dir, fs::perms::all);
        chown(own.c_str(), runner, runner);
        const fs::path name = dir / "report", victim = own / "secret", mine = own / "mine";
        std::ofstream(victim) << "secret\n";
        ASSERT_EQ(chown(victim.c_str(), runner, runner), 0);
        ASSERT_EQ(chmod(victim.c_str(), 0600), 0);
        std::ofstream(mine) << "mine\n";
        ASSERT_EQ(chown(mine.c_str(), runner, runner), 0);
        const fs::path prepared = dir / "prepared";
        std::function<void()> exchange;
        if (c == LINK_EXCHANGED || c == DANGLING_TARGET_PLANTED) {
          ASSERT_EQ(symlink(c == LINK_EXCHANGED ? mine.c_str() : (dir / "fresh").c_str(), name.c_str()), 0);
          ASSERT_EQ(lchown(name.c_str(), runner, runner), 0);
          ASSERT_EQ(symlink(victim.c_str(), prepared.c_str()), 0);
          ASSERT_EQ(lchown(prepared.c_str(), planter, planter), 0);
          const fs::path at = c == LINK_EXCHANGED ? name : dir / "fresh";
          exchange = [prepared, at] { rename(prepared.c_str(), at.c_str()); };
        } else {
          std::ofstream(name) << "mine\n";
          ASSERT_EQ(chown(name.c_str(), runner, runner), 0);
          ASSERT_EQ(link(victim.c_str(), prepared.c_str()), 0);
          exchange = [prepared, name] { rename(prepared.c_str(), name.c_str()); };
        }
        const std::string told = as_user(runner, [&] {
          AT_POINT at(FIO_OWN_FILE_CHECKED, name.string(), exchange);
          return w.write(name.string());
        });
        ASSERT_NE(told, "cannot become the user");
        EXPECT_EQ(text_or_none(victim), "secret\n") << told;
        struct stat st;
        ASSERT_EQ(stat(victim.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0600u);
        // What was written went to the file the caller's link named.
        if (told == "written" && c == LINK_EXCHANGED) {
          EXPECT_EQ(text_or_none(mine), "new\n");
        }
      }
    }
  }
}

// The owner is checked on what is opened, through the caller's own link too:
// a link of the caller's to another user's file that the caller could write
// (0666) is refused, and so is that file as a copy's source. A copy is read
// only from a file of the caller's own (never through another user's link,
// never from a FIFO, which would hold the copy) and gets no wider mode than
// its source: another user's link at "ram.mif" to the caller's 0600 file used
// to publish it as a 0644 copy.
TEST(FioOwnFile, OwnersAreCheckedOnWhatIsOpenedAndCopiesKeepTheirSourcesPrivate) {
  if (geteuid() != 0) GTEST_SKIP() << "the rows act as two users: needs root";
  SCRATCH_REACHED_BY_ALL reach;
  const fs::path dir = fs::current_path() / "shared";
  fs::create_directories(dir);
  fs::permissions(dir, fs::perms::all);
  struct ROW {
    const char* what;
    uid_t runner;
    std::function<void(const fs::path& at, const fs::path& own_secret, uid_t other)> plant;  // at `at`
    bool copied;  // the copy is made (with the source's mode)
  };
  const std::vector<ROW> rows = {
      {"the caller's own 0600 file", 0, [](const fs::path& at, const fs::path& secret, uid_t) {
         fs::copy_file(secret, at);
       }, true},
      {"the caller's own link to its 0600 file", kNobody, [](const fs::path& at, const fs::path& secret, uid_t) {
         symlink(secret.c_str(), at.c_str());
         lchown(at.c_str(), kNobody, kNobody);
       }, true},
      {"another user's link to the caller's 0600 file", 0, [](const fs::path& at, const fs::path& secret, uid_t other) {
         symlink(secret.c_str(), at.c_str());
         lchown(at.c_str(), other, other);
       }, false},
      {"another user's link to the caller's 0600 file", kNobody,
       [](const fs::path& at, const fs::path& secret, uid_t other) {
         symlink(secret.c_str(), at.c_str());
         lchown(at.c_str(), other, other);
       }, false},
      {"another user's 0666 file", kNobody, [](const fs::path& at, const fs::path&, uid_t other) {
         std::ofstream(at) << "theirs\n";
         chown(at.c_str(), other, other);
         chmod(at.c_str(), 0666);
       }, false},
      {"a FIFO", 0, [](const fs::path& at, const fs::path&, uid_t other) {
         mkfifo(at.c_str(), 0666);
         chown(at.c_str(), other, other);
       }, false},
  };
  int cell = 0;
  for (const ROW& r : rows) {
    SCOPED_TRACE(std::string(r.what) + (r.runner ? ", nobody's copy" : ", root's copy"));
    const uid_t other = r.runner == 0 ? kNobody : 0;
    const fs::path secret = fs::current_path() / ("secret" + std::to_string(cell));
    std::ofstream(secret) << "secret\n";
    ASSERT_EQ(chown(secret.c_str(), r.runner, r.runner), 0);
    ASSERT_EQ(chmod(secret.c_str(), 0600), 0);
    const std::string n = std::to_string(cell++);
    const fs::path from = dir / ("ram" + n + ".mif"), to = dir / ("ram" + n + "_old.mif");
    r.plant(from, secret, other);
    const std::string told = as_user(r.runner, [&] {
      umask(022);
      std::string problem;
      return FIO_FILE_SYSTEM::copy_own_file(from.string(), to.string(), &problem) ? std::string("copied") : problem;
    });
    if (r.copied) {
      EXPECT_EQ(told, "copied");
      struct stat st;
      ASSERT_EQ(stat(to.c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 0777, 0600u);
      EXPECT_EQ(st.st_uid, r.runner);
    } else {
      EXPECT_NE(told.find("its source is not a file of this user's own"), std::string::npos) << told;
      EXPECT_EQ(text_or_none(to), "(none)");
    }
  }
  // A link of the caller's own to another user's 0666 file: the file is not
  // written through it.
  for (const WRITER& w : own_writers((fs::current_path() / "secret0").string())) {
    if (std::string(w.what) == "copy_own_file") continue;
    SCOPED_TRACE(std::string("the caller's link to another user's 0666 file, ") + w.what);
    const fs::path theirs = fs::current_path() / ("theirs" + std::to_string(cell)), at = dir / ("log" + std::to_string(cell++));
    std::ofstream(theirs) << "theirs\n";
    ASSERT_EQ(chmod(theirs.c_str(), 0666), 0);
    ASSERT_EQ(symlink(theirs.c_str(), at.c_str()), 0);
    ASSERT_EQ(lchown(at.c_str(), kNobody, kNobody), 0);
    const std::string told = as_user(kNobody, [&] { return w.write(at.string()); });
    EXPECT_NE(told, "written");
    EXPECT_EQ(text_or_none(theirs), "theirs\n");
  }
}

namespace {

// A directory mounted through bindfs (FUSE) at `at`, taken down at the end;
// `mounted` false when bindfs cannot mount.
struct BINDFS_MOUNT {
  fs::path at;
  bool mounted = false;
  BINDFS_MOUNT(const fs::path& dir, const fs::path& where) : at(where) {
    fs::create_directories(at);
    mounted = std::system(("bindfs -o attr_timeout=0,entry_timeout=0 \"" + dir.string() + "\" \"" + at.string() +
                           "\" >/dev/null 2>&1")
                              .c_str()) == 0;
  }
  ~BINDFS_MOUNT() {
    if (mounted) umount2(at.c_str(), MNT_DETACH);
  }
};

// An ACL on `dir` that lets the user nobody write it (user, named user,
// group, mask and other entries).
bool let_nobody_write(const fs::path& dir) { return testkit_set_acl(dir.string(), 2, 7, kNobody, 7); }

}  // namespace

// Another user's regular file (0666, which the caller could write) is
// replaced by a file of the caller's, or removed, only in a directory no one
// else may write and whose lock keeps every holder out; anywhere else another
// user's run may be using it: it keeps its text and owner, and the write
// says why. This holds outside any run, for root too. It used to be
// replaced wherever the directory let the caller rename over it: another
// user's directory, one others may write, a sticky one of the caller's,
// one an ACL lets another user write, one reached through FUSE or where
// flock fails.
TEST(FioOwnFile, AnotherUsersFileIsReplacedOnlyWhereNoOneElseMayWrite) {
  if (geteuid() != 0) GTEST_SKIP() << "the rows act as two users: needs root";
  SCRATCH_REACHED_BY_ALL reach;
  struct ROW {
    const char* what;
    uid_t runner, dir_owner;
    mode_t mode;
    const char* how;  // "acl": an ACL lets nobody write; "fuse": written through bindfs; "no locks": flock fails
    bool replaced;
  } const rows[] = {
      {"root, its own directory", 0, 0, 0755, "", true},
      {"nobody, its own directory", kNobody, kNobody, 0755, "", true},
      {"root, a directory others may write", 0, 0, 0777, "", false},
      {"root, a group's directory", 0, 0, 0775, "", false},
      {"root, its own sticky directory", 0, 0, 01777, "", false},
      {"root, nobody's directory", 0, kNobody, 0755, "", false},
      {"nobody, its own sticky directory", kNobody, kNobody, 01777, "", false},
      {"nobody, root's sticky directory", kNobody, 0, 01777, "", false},
      {"root, an ACL lets nobody write", 0, 0, 0755, "acl", false},
      {"root, flock fails", 0, 0, 0755, "no locks", false},
      {"root, through FUSE", 0, 0, 0755, "fuse", false},
  };
  std::vector<std::string> not_run;
  int cell = 0;
  for (const ROW& r : rows) {
    SCOPED_TRACE(r.what);
    const std::string how = r.how;
    const fs::path dir = fs::current_path() / ("dir" + std::to_string(cell++));
    fs::create_directories(dir);
    ASSERT_EQ(chown(dir.c_str(), r.dir_owner, r.dir_owner), 0);
    ASSERT_EQ(chmod(dir.c_str(), r.mode), 0);
    if (how == "acl" && !let_nobody_write(dir)) {
      not_run.push_back(std::string(r.what) + ": " + std::strerror(errno));
      continue;
    }
    std::unique_ptr<BINDFS_MOUNT> fuse;
    if (how == "fuse" && !(fuse = std::make_unique<BINDFS_MOUNT>(dir, dir.string() + " mounted"))->mounted) {
      not_run.push_back(std::string(r.what) + ": cannot mount bindfs");
      continue;
    }
    const uid_t planter = r.runner == 0 ? kNobody : 0;
    for (const bool removing : {false, true}) {
      SCOPED_TRACE(removing ? "remove_own_file" : "replace_own_file");
      const fs::path real = dir / "report", at = (fuse ? fuse->at : dir) / "report";
      fs::remove(real);
      std::ofstream(real) << "theirs\n";
      ASSERT_EQ(chown(real.c_str(), planter, planter), 0);
      ASSERT_EQ(chmod(real.c_str(), 0666), 0);
      const int planted = open(real.c_str(), O_RDONLY);
      const std::string told = as_user(r.runner, [&] {
        if (how == "no locks") gen_test_fail_file_locks(ENOLCK);
        std::string problem;
        const bool done = removing ? FIO_FILE_SYSTEM::remove_own_file(at.string(), &problem)
                                   : FIO_FILE_SYSTEM::replace_own_file(at.string(), {"new\n"}, &problem);
        return done ? std::string("done") : problem;
      });
      char buffer[64] = {};
      EXPECT_EQ(std::string(buffer, size_t(std::max<ssize_t>(0, pread(planted, buffer, sizeof buffer, 0)))), "theirs\n");
      close(planted);
      struct stat st;
      const bool there = lstat(real.c_str(), &st) == 0;
      if (r.replaced) {
        EXPECT_EQ(told, "done");
        EXPECT_EQ(there, !removing);
        if (there && !removing) {
          EXPECT_EQ(st.st_uid, r.runner);
        }
      } else {
        EXPECT_EQ(told, std::string(removing ? "" : "cannot write the file: ") +
                            "it is not a file of this user's own (another user's file)");
        EXPECT_TRUE(there && st.st_uid == planter);
      }
    }
  }
  if (!not_run.empty()) GTEST_SKIP() << not_run.size() << " rows did not run, the first: " << not_run.front();
}

namespace {

}  // namespace

// Which files a run replaces is told by the runs record of its directory.
// A strict run (one whose lock may not keep other runs out) replaces and
// removes the files of runs that ended (told so, or whose process is gone),
// of its own helpers and of writes made outside any run, and refuses those
// of a run still going, and those of no run the record knows (written by
// hand, changed since, or told by a damaged line), saying so. Outside any
// run only a running run's file is refused. A record grown past its bound
// is rewritten, keeping what still holds. Where the record cannot be written
// the run is refused, saying why. A strict run used to refuse
// every file it did not make itself, its user's ended runs' files among
// them, so every other run of a user in a shared directory was refused.
TEST(FioOwnFile, TheRunsRecordTellsWhichOfTheUsersFilesARunReplaces) {
  const fs::path dir = fs::current_path() / "runs";
  fs::create_directories(dir);
  const std::string record = FIO_FILE_SYSTEM::runs_record_path(dir.string());
  const std::string not_made =
      "cannot write the file: it is a file this process did not make, which another process may be using";
  auto write = [&](const std::string& name) {
    std::string problem;
    return FIO_FILE_SYSTEM::replace_own_file((dir / name).string(), {"new\n"}, &problem) ? std::string("written")
                                                                                          : problem;
  };
  auto made_in_run = [&](const std::string& run, const std::string& name, bool ends) {
    return in_child([&] {
      if (!FIO_FILE_SYSTEM::keep_files_of_run(dir.string(), run, true)) return std::string("not recorded");
      const std::string told = write(name);
      if (ends) FIO_FILE_SYSTEM::keep_files_not_made(dir.string(), false);
      return told == "written" ? std::string() : told;
    });
  };
  ASSERT_EQ(made_in_run("A", "ended", true), "");
  ASSERT_EQ(made_in_run("B", "died", false), "");  // its process ends without saying so
  ASSERT_EQ(in_child([&] { return write("outside") == "written" ? std::string() : "outside"; }), "");
  std::ofstream(dir / "by hand") << "by hand\n";
  ASSERT_EQ(made_in_run("D", "changed", true), "");
  std::ofstream(dir / "changed", std::ios::app) << "more\n";
  ASSERT_TRUE(FIO_FILE_SYSTEM::keep_files_of_run(dir.string(), "mine", true));
  ASSERT_EQ(in_child([&] {
              FIO_FILE_SYSTEM::write_for_run(dir.string(), "mine");  // a helper of this run
              return write("helper") == "written" ? std::string() : "helper";
            }),
            "");
  TESTKIT_LIVE_PROCESS live([&] {
    FIO_FILE_SYSTEM::keep_files_of_run(dir.string(), "C", true);
    write("live");
    write("damaged");
  });
  {
    // The line that tells "damaged" made by the running run C is damaged
    // into one of the ended run A: it is dropped, never taken.
    std::fstream f(record, std::ios::in | std::ios::out | std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const size_t line = text.rfind("\nM C ", text.find(" damaged #"));
    ASSERT_NE(line, std::string::npos);
    f.seekp(std::streamoff(line + 3));
    f.put('A');
  }
  struct ROW {
    const char* name;
    FIO_FILE_ORIGIN origin;
    bool replaced;        // by this strict run
    bool outside;         // outside any run
  } const rows[] = {
      {"ended", FIO_MADE_BY_ENDED_RUN, true, true},       {"died", FIO_MADE_BY_ENDED_RUN, true, true},
      {"outside", FIO_MADE_BY_ENDED_RUN, true, true},     {"helper", FIO_MADE_BY_THIS_RUN, true, true},
      {"live", FIO_MADE_BY_LIVE_RUN, false, false},       {"by hand", FIO_MADE_BY_NO_KNOWN_RUN, false, true},
      {"changed", FIO_MADE_BY_NO_KNOWN_RUN, false, true}, {"damaged", FIO_MADE_BY_NO_KNOWN_RUN, false, true},
  };
  for (const ROW& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(FIO_FILE_SYSTEM::file_origin((dir / r.name).string()), r.origin);
    const std::string before = text_or_none(dir / r.name);
    EXPECT_EQ(write(r.name), r.replaced ? "written" : not_made);
    EXPECT_EQ(text_or_none(dir / r.name), r.replaced ? "new\n" : before);
    EXPECT_EQ(FIO_FILE_SYSTEM::remove_own_file((dir / r.name).string()), r.replaced);
  }
  FIO_FILE_SYSTEM::keep_files_not_made(dir.string(), false);
  for (const ROW& r : rows) {
    SCOPED_TRACE(std::string(r.name) + ", outside any run");
    if (r.replaced) continue;  // gone
    EXPECT_EQ(write(r.name), r.outside ? "written" : not_made);
  }
  // A record grown past its bound is rewritten at a run's start: what it
  // tells of files still there, and of runs still going, stays.
  ASSERT_EQ(made_in_run("G", "kept", true), "");
  {
    std::ifstream in(record);
    std::string line, dead;
    while (std::getline(in, line))
      if (line.rfind("R B ", 0) == 0) dead = line + "\n";
    ASSERT_FALSE(dead.empty());
    std::ofstream out(record, std::ios::app);
    for (int k = 0; k < 16000; ++k) out << dead;
  }
  ASSERT_GT(fs::file_size(record), 1u << 20);
  ASSERT_TRUE(FIO_FILE_SYSTEM::keep_files_of_run(dir.string(), "H", true));
  EXPECT_LT(fs::file_size(record), 4096u);
  EXPECT_EQ(FIO_FILE_SYSTEM::file_origin((dir / "kept").string()), FIO_MADE_BY_ENDED_RUN);
  EXPECT_EQ(FIO_FILE_SYSTEM::file_origin((dir / "live").string()), FIO_MADE_BY_LIVE_RUN);
  FIO_FILE_SYSTEM::keep_files_not_made(dir.string(), false);
  // A record that is not the user's own file refuses the run, saying so.
  const fs::path other = fs::current_path() / "other";
  fs::create_directories(other);
  ASSERT_EQ(mkfifo(FIO_FILE_SYSTEM::runs_record_path(other.string()).c_str(), 0600), 0);
  std::string problem;
  EXPECT_FALSE(FIO_FILE_SYSTEM::keep_files_of_run(other.string(), "F", true, &problem));
  EXPECT_EQ(problem, "cannot record the run in the runs record \"" + FIO_FILE_SYSTEM::runs_record_path(other.string()) +
                         "\": it is a FIFO");
}

// Where other processes' files are kept (keep_files_not_made: a shared
// directory whose lock may not keep runs apart), only files this process
// made are replaced or removed: a file another process put at a new file's
// name while it was written, the user's own earlier file and another user's
// file (which elsewhere is replaced) each keep their text, and the write
// says why; a file this process made is replaced and removed. Without the
// guard the user's own earlier file is replaced as before.
TEST(FioOwnFile, WhereOthersFilesAreKeptOnlyFilesMadeHereAreReplacedOrRemoved) {
  if (geteuid() != 0) GTEST_SKIP() << "another user's file needs root";
  const fs::path dir = fs::current_path() / "kept";
  fs::create_directories(dir);
  fs::permissions(dir, fs::perms::all);
  const std::string not_made =
      "cannot write the file: it is a file this process did not make, which another process may be using";
  auto write = [](const fs::path& at) {
    std::string problem;
    return FIO_FILE_SYSTEM::replace_own_file(at.string(), {"new\n"}, &problem) ? std::string("written") : problem;
  };
  FIO_FILE_SYSTEM::keep_files_not_made(dir.string(), true);
  // A new file: another process's file put at its name first stays.
  {
    AT_POINT at(FIO_OWN_FILE_PUBLISHING, (dir / "raced").string(), [&] { std::ofstream(dir / "raced") << "theirs\n"; });
    EXPECT_EQ(write(dir / "raced"), not_made);
    EXPECT_EQ(text_or_none(dir / "raced"), "theirs\n");
    EXPECT_FALSE(FIO_FILE_SYSTEM::remove_own_file((dir / "raced").string()));
    EXPECT_EQ(text_or_none(dir / "raced"), "theirs\n");
  }
  // The user's own earlier file, and another user's.
  std::ofstream(dir / "earlier") << "earlier\n";
  std::ofstream(dir / "another's") << "another's\n";
  ASSERT_EQ(chown((dir / "another's").c_str(), kNobody, kNobody), 0);
  EXPECT_EQ(write(dir / "earlier"), not_made);
  EXPECT_EQ(write(dir / "another's"), "cannot write the file: it is not a file of this user's own (another user's file)");
  EXPECT_FALSE(FIO_FILE_SYSTEM::remove_own_file((dir / "earlier").string()));
  EXPECT_FALSE(FIO_FILE_SYSTEM::remove_own_file((dir / "another's").string()));
  EXPECT_EQ(text_or_none(dir / "earlier"), "earlier\n");
  EXPECT_EQ(text_or_none(dir / "another's"), "another's\n");
  // A file made here is replaced and removed; its name is free again after.
  EXPECT_EQ(write(dir / "made"), "written");
  EXPECT_TRUE(FIO_FILE_SYSTEM::made_by_this_process((dir / "made").string()));
  EXPECT_EQ(write(dir / "made"), "written");
  EXPECT_TRUE(FIO_FILE_SYSTEM::made_by_this_process((dir / "made").string()));
  EXPECT_TRUE(FIO_FILE_SYSTEM::remove_own_file((dir / "made").string()));
  EXPECT_EQ(text_or_none(dir / "made"), "(none)");
  // Made here, then replaced by another process's file: not removed.
  EXPECT_EQ(write(dir / "taken"), "written");
  std::ofstream(dir / "taken.other") << "theirs\n";
  fs::rename(dir / "taken.other", dir / "taken");
  EXPECT_FALSE(FIO_FILE_SYSTEM::remove_own_file((dir / "taken").string()));
  EXPECT_EQ(text_or_none(dir / "taken"), "theirs\n");
  // A child forked without exec made none of its parent's files.
  EXPECT_EQ(write(dir / "parents"), "written");
  EXPECT_EQ(in_child([&] {
              const std::string told = write(dir / "parents");
              return told == not_made ? std::string() : "the child's write: " + told;
            }),
            "");
  EXPECT_EQ(text_or_none(dir / "parents"), "new\n");
  EXPECT_TRUE(FIO_FILE_SYSTEM::made_by_this_process((dir / "parents").string()));
  FIO_FILE_SYSTEM::keep_files_not_made(dir.string(), false);
  EXPECT_EQ(write(dir / "earlier"), "written");
  EXPECT_TRUE(FIO_FILE_SYSTEM::remove_own_file((dir / "taken").string()));
}

// The file systems whose flock keeps every other holder out, by the type
// statfs tells: the local ones listed, and no network, cluster or FUSE file
// system (NFS, a client that locks only locally, two FUSE mounts of one
// directory lock apart), nor an unknown type. A tmpfs mounted here is told
// as one whose lock excludes.
TEST(FioOwnFile, OnlyLocalFileSystemsCountAsLockingForAllUsers) {
  struct ROW {
    const char* what;
    unsigned long type;
    bool excludes;
  } const rows[] = {
      {"ext2/3/4", 0xEF53UL, true},       {"XFS", 0x58465342UL, true},        {"Btrfs", 0x9123683EUL, true},
      {"tmpfs", 0x01021994UL, true},      {"ramfs", 0x858458F6UL, true},      {"ZFS", 0x2FC12FC1UL, true},
      {"F2FS", 0xF2F52010UL, true},       {"JFS", 0x3153464AUL, true},        {"ReiserFS", 0x52654973UL, true},
      {"bcachefs", 0xCA451A4EUL, true},   {"NILFS2", 0x3434UL, true},         {"overlayfs", 0x794C7630UL, true},
      {"NFS", 0x6969UL, false},           {"FUSE", 0x65735546UL, false},      {"SMB2", 0xFE534D42UL, false},
      {"CIFS", 0xFF534D42UL, false},      {"Lustre", 0x0BD00BD0UL, false},    {"GPFS", 0x47504653UL, false},
      {"Ceph", 0x00C36400UL, false},      {"9p", 0x01021997UL, false},        {"BeeGFS", 0x19830326UL, false},
      {"OrangeFS", 0x20030528UL, false},  {"vboxsf", 0x786F4256UL, false},    {"AFS", 0x5346414FUL, false},
      {"unknown", 0UL, false},
  };
  for (const ROW& r : rows) EXPECT_EQ(fio_flock_excludes_on(r.type), r.excludes) << r.what;
  if (geteuid() != 0) return;
  fs::create_directory("small");
  if (mount("tmpfs", "small", "tmpfs", 0, "size=64k") != 0) return;
  struct statfs sfs;
  ASSERT_EQ(statfs("small", &sfs), 0);
  EXPECT_TRUE(fio_flock_excludes_on(static_cast<unsigned long>(sfs.f_type)));
  umount2("small", MNT_DETACH);
}

// The owner is checked on the descriptor as well as by name: a file of the
// caller's own that becomes another user's between the check by name and the
// open (a change of the same inode, which no comparison of device and inode
// sees) is refused by every writer of the own-file path, the append too, and
// keeps its text and its owner; a file of several names is refused by each.
TEST(FioOwnFile, AFileThatBecomesAnothersAfterItsCheckIsRefusedOnItsDescriptor) {
  if (geteuid() != 0) GTEST_SKIP() << "another user's file needs root";
  const fs::path dir = fs::current_path() / "shared";
  fs::create_directories(dir);
  fs::permissions(dir, fs::perms::all);
  const fs::path source = fs::current_path() / "source";
  std::ofstream(source) << "new\n";
  std::vector<WRITER> writers = own_writers(source.string());
  writers.erase(writers.end() - 1);  // open_through_own_link examines a plain file on its descriptor alone
  writers.push_back({"open_own_file_to_append", [](const std::string& path) {
                       std::string problem;
                       const int fd = FIO_FILE_SYSTEM::open_own_file_to_append(path, &problem);
                       if (fd < 0) return problem;
                       const bool ok = write(fd, "new\n", 4) == 4;
                       close(fd);
                       return ok ? std::string("written") : std::string("write failed");
                     }});
  int cell = 0;
  for (const WRITER& w : writers) {
    for (const char* how : {"owner changed after the check", "a second name"}) {
      SCOPED_TRACE(std::string(w.what) + ", " + how);
      const fs::path at = dir / ("report" + std::to_string(cell++));
      std::ofstream(at) << "theirs\n";
      std::function<void()> change = [at] { ASSERT_EQ(chown(at.c_str(), kNobody, kNobody), 0); };
      if (std::string(how) == "a second name") fs::create_hard_link(at, dir / ("other" + std::to_string(cell)));
      const bool after_check = std::string(how) == "owner changed after the check";
      // The append examines a file by its descriptor alone: its change comes
      // before the first look.
      AT_POINT point(std::string(w.what) == "open_own_file_to_append" ? FIO_OWN_FILE_EXAMINING : FIO_OWN_FILE_CHECKED,
                     at.string(), after_check ? change : std::function<void()>());
      const std::string told = w.write(at.string());
      EXPECT_NE(told, "written");
      EXPECT_EQ(text_or_none(at), "theirs\n");
      struct stat st;
      ASSERT_EQ(lstat(at.c_str(), &st), 0);
      EXPECT_EQ(st.st_uid, std::string(how) == "a second name" ? 0u : kNobody);
    }
  }
}

namespace {

// A line of the runs record from its fields, hashed as the record hashes
// its lines (FNV-1a of the text before " #").
std::string record_line(const std::vector<std::string>& fields) {
  std::string text;
  for (const std::string& f : fields) text += (text.empty() ? "" : " ") + f;
  uint32_t hash = 2166136261u;
  for (const char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
  char tail[16];
  std::snprintf(tail, sizeof tail, " #%08x\n", hash);
  return text + tail;
}

std::string first_line_of(const char* path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

}  // namespace

// The runs record names a run's process by host, boot, process namespace,
// number and start. A run whose process cannot be checked from here (of
// another host; of another boot of this host: killed before the machine was
// started again; of another process namespace: killed in a container; or
// whose start line was lost) has ended to a run whose lock keeps every
// other holder out: its files are replaced and removed there (they used to
// be refused for ever, and every later run of the user with them). To a
// strict run, and outside any run, it may still be running: its files stay,
// and the reason names the run and why its end is not known. A process seen
// running here keeps its files from every run; one seen gone from none.
TEST(FioOwnFile, ARunWhoseEndCannotBeCheckedHasEndedOnlyToARunWhoseLockExcludes) {
  const fs::path dir = fs::current_path() / "unchecked";
  fs::create_directories(dir);
  char host[256] = "", ns[64] = "";
  ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
  ASSERT_GT(readlink("/proc/self/ns/pid", ns, sizeof ns - 1), 0);
  const std::string boot = first_line_of("/proc/sys/kernel/random/boot_id");
  ASSERT_FALSE(boot.empty());
  TESTKIT_LIVE_PROCESS live([] {});
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  struct ROW {
    const char* run;
    std::vector<std::string> began;  // host, boot, namespace, pid, start; none: the line was lost
    bool ended;                      // to a run whose lock excludes
    std::string words;               // of the refusal elsewhere ("": none, a gone process's)
  } const rows[] = {
      {"host", {"elsewhere.example", boot, ns, "4242", "1"}, true,
       "made by a run of process 4242 on \"elsewhere.example\", another host, whose end cannot be checked from here"},
      {"boot", {host, "0f0f0f0f-0f0f-4f0f-8f0f-0f0f0f0f0f0f", ns, "4242", "1"}, true,
       "in another boot (boot id \"0f0f0f0f-0f0f-4f0f-8f0f-0f0f0f0f0f0f\""},
      {"container", {host, boot, "pid:[1]", "1", "1"}, true,
       "made by a run of process 1 in another process namespace of this host (\"pid:[1]\", a container's), whose "
       "end cannot be checked from here"},
      {"lost", {}, true, "made by a run whose start the runs record does not tell"},
      {"running", {host, boot, ns, std::to_string(live.pid), "0"}, false,
       "made by the run of process " + std::to_string(live.pid) + " on this host, which is still running"},
      {"gone", {host, boot, ns, std::to_string(gone), "1"}, true, ""},
  };
  std::string record;
  for (const ROW& r : rows) {
    std::ofstream(dir / r.run) << r.run << "\n";
    struct stat st;
    ASSERT_EQ(lstat((dir / r.run).c_str(), &st), 0);
    if (!r.began.empty()) {
      std::vector<std::string> fields = {"R", r.run};
      fields.insert(fields.end(), r.began.begin(), r.began.end());
      record += record_line(fields);
    }
    record += record_line({"M", r.run, std::to_string(st.st_ino), std::to_string(st.st_size),
                           std::to_string(st.st_mtim.tv_sec), std::to_string(st.st_mtim.tv_nsec), r.run});
  }
  std::ofstream(FIO_FILE_SYSTEM::runs_record_path(dir.string())) << record;
  for (const char* kept : {"outside any run", "a strict run", "a run whose lock excludes"}) {
    const bool excluding = std::string(kept) == "a run whose lock excludes";
    if (std::string(kept) != "outside any run") {
      ASSERT_TRUE(FIO_FILE_SYSTEM::keep_files_of_run(dir.string(), kept, !excluding));
    }
    for (const ROW& r : rows) {
      SCOPED_TRACE(std::string(r.run) + ", " + kept);
      const std::string path = (dir / r.run).string();
      const bool ended = r.words.empty() || (excluding && r.ended);
      EXPECT_EQ(FIO_FILE_SYSTEM::file_origin(path), ended ? FIO_MADE_BY_ENDED_RUN : FIO_MADE_BY_LIVE_RUN);
      EXPECT_EQ(FIO_FILE_SYSTEM::may_replace_own_file(path), ended);
      const std::string reason = FIO_FILE_SYSTEM::refusal_reason(path);
      EXPECT_TRUE(ended ? reason.empty() : reason.find(r.words) != std::string::npos) << reason;
      if (excluding) {
        EXPECT_EQ(FIO_FILE_SYSTEM::remove_own_file(path), ended);
      }
    }
    FIO_FILE_SYSTEM::keep_files_not_made(dir.string(), false);
  }
}
