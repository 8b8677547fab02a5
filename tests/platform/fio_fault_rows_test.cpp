// fio_fault_rows_test.cpp — the guard of directories others may write, row
// by row on what it decides: which directories count as shared, which
// entries are the caller's own, what the runs record is taken to say (its
// owner, its unfinished last line, a process number taken again by a later
// process), and what a run refuses to write, append to or remove (a file
// the record cannot tell, a live run's file, a link or a FIFO, a file put at
// a name while it was being removed).
#include <fcntl.h>
#include <poll.h>
#include <sys/fanotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "fio/fio.h"
#include "testkit/platform_testkit.h"
#include "../signal_test_support.h"

using namespace kavu_platform;
namespace fs = std::filesystem;

namespace {

const uid_t kNobody = kTestNobody;

std::string text_or_none(const fs::path& file) {
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(file, ec))) return "(none)";
  if (fs::is_fifo(fs::symlink_status(file, ec))) return "(a FIFO)";
  std::ifstream in(file, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string write_own(const fs::path& at) {
  std::string problem;
  return FIO_FILE_SYSTEM::replace_own_file(at.string(), {"new\n"}, &problem) ? std::string("written") : problem;
}

const char* const kNotMade =
    "cannot write the file: it is a file this process did not make, which another process may be using";

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

// The record's line telling that `run` made the file now at `file`.
std::string made_line(const std::string& run, const fs::path& file) {
  struct stat st {};
  lstat(file.c_str(), &st);
  return record_line({"M", run, std::to_string(st.st_ino), std::to_string(st.st_size), std::to_string(st.st_mtim.tv_sec),
                      std::to_string(st.st_mtim.tv_nsec), file.filename().string()});
}

std::string first_line_of(const char* path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

// When the process `pid` started (clock ticks after boot, /proc/<pid>/stat).
unsigned long long start_of(pid_t pid) {
  const std::string stat = first_line_of(("/proc/" + std::to_string(pid) + "/stat").c_str());
  size_t at = stat.rfind(')') + 2;  // the state, the third field
  for (int field = 3; field < 22; ++field) at = stat.find(' ', at) + 1;
  return std::stoull(stat.substr(at));
}

// The record's line telling that `run` began in the process `pid` of this
// host, boot and process namespace, started at `start`.
std::string began_line(const std::string& run, pid_t pid, unsigned long long start) {
  char host[256] = "", ns[64] = "";
  gethostname(host, sizeof host - 1);
  if (readlink("/proc/self/ns/pid", ns, sizeof ns - 1) < 0) ns[0] = 0;
  return record_line({"R", run, host, first_line_of("/proc/sys/kernel/random/boot_id"), ns, std::to_string(pid),
                      std::to_string(start)});
}

}  // namespace

// A directory counts as shared when an ACL lets a named user or a named
// group write it (a team's project directory with "group:team:rwx"), also
// where the mask holds the write back for now (the mode shows 0755; a
// chmod g+w gives it), and there another user's file is neither replaced
// nor removed; an ACL entry that only reads shares nothing. A named group's
// entry once went unread while a named user's counted.
TEST(FioFaultRows, AnAclThatLetsANamedUserOrGroupWriteSharesTheDirectory) {
  if (geteuid() != 0) GTEST_SKIP() << "another user's file needs root";
  struct ROW {
    const char* what;
    uint16_t tag, perm, mask;  // tag 0: no ACL
    bool shared;
  } const rows[] = {
      {"no ACL", 0, 0, 0, false},
      {"a named user may write", 2, 7, 5, true},
      {"a named group may write", 8, 7, 5, true},
      {"a named group may write without search", 8, 2, 5, true},
      {"a named group may write, and the mask lets it", 8, 7, 7, true},
      {"a named user may read", 2, 5, 5, false},
      {"a named group may read", 8, 5, 5, false},
  };
  int cell = 0;
  for (const ROW& r : rows) {
    SCOPED_TRACE(r.what);
    const fs::path dir = fs::current_path() / ("acl" + std::to_string(cell++));
    fs::create_directories(dir);
    ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
    if (r.tag && !testkit_set_acl(dir.string(), r.tag, r.perm, kNobody, r.mask))
      GTEST_SKIP() << "no POSIX ACL here: " << std::strerror(errno);
    if (!r.tag && FIO_FILE_SYSTEM::directory_is_shared(dir.string()))
      GTEST_SKIP() << "the scratch directory's file system does not lock for every user";
    EXPECT_EQ(FIO_FILE_SYSTEM::directory_is_shared(dir.string()), r.shared);
    for (const bool removing : {false, true}) {
      const fs::path theirs = dir / "report";
      fs::remove(theirs);
      std::ofstream(theirs) << "theirs\n";
      ASSERT_EQ(chown(theirs.c_str(), kNobody, kNobody), 0);
      std::string problem;
      const bool done = removing ? FIO_FILE_SYSTEM::remove_own_file(theirs.string(), &problem)
                                 : FIO_FILE_SYSTEM::replace_own_file(theirs.string(), {"new\n"}, &problem);
      EXPECT_EQ(done, !r.shared) << (removing ? "removed: " : "replaced: ") << problem;
      struct stat st;
      const bool there = lstat(theirs.c_str(), &st) == 0;
      EXPECT_EQ(there && st.st_uid == kNobody, r.shared);
    }
  }
}

// What a clean-up of the caller's own files may remove (fio_is_own_entry):
// only a regular file of one name the caller owns, or, when asked, a
// symbolic link it made; another user's file or link, a FIFO, a directory
// or a file of several names is not the caller's to remove.
TEST(FioFaultRows, OnlyTheCallersOwnFileOfOneNameIsItsOwnEntry) {
  if (geteuid() != 0) GTEST_SKIP() << "another user's entries need root";
  const fs::path dir = fs::current_path();
  std::ofstream(dir / "own") << "own\n";
  std::ofstream(dir / "theirs") << "theirs\n";
  ASSERT_EQ(chown((dir / "theirs").c_str(), kNobody, kNobody), 0);
  fs::create_symlink("own", dir / "own link");
  fs::create_symlink("own", dir / "their link");
  ASSERT_EQ(lchown((dir / "their link").c_str(), kNobody, kNobody), 0);
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  std::ofstream(dir / "two names") << "two\n";
  fs::create_hard_link(dir / "two names", dir / "second name");
  fs::create_directory(dir / "directory");
  struct ROW {
    const char* name;
    bool own, own_or_link;  // fio_is_own_entry(path), (path, true)
  } const rows[] = {
      {"own", true, true},          {"theirs", false, false},      {"own link", false, true},
      {"their link", false, false}, {"fifo", false, false},        {"two names", false, false},
      {"directory", false, false},  {"missing", false, false},
  };
  for (const ROW& r : rows) {
    EXPECT_EQ(fio_is_own_entry((dir / r.name).string()), r.own) << r.name;
    EXPECT_EQ(fio_is_own_entry((dir / r.name).string(), true), r.own_or_link) << r.name << ", or a link";
  }
}

// A run whose line for a file cannot go into the runs record (the record
// became a FIFO, another user's file or a link meanwhile) does not publish
// the file: no other process could tell whose it is. Each writer fails
// naming the record and what it is, and nothing is at the name after.
TEST(FioFaultRows, AFileARunCannotRecordIsNotPublished) {
  if (geteuid() != 0) GTEST_SKIP() << "another user's record needs root";
  const fs::path source = fs::current_path() / "source";
  std::ofstream(source) << "new\n";
  struct WRITER {
    const char* what;
    std::function<std::string(const fs::path&)> write;
  } const writers[] = {
      {"replace_own_file", write_own},
      {"fopen_own_file",
       [](const fs::path& at) {
         std::string problem;
         FILE* f = FIO_FILE_SYSTEM::fopen_own_file(at.string(), &problem);
         if (!f) return problem;
         std::fputs("new\n", f);
         return std::fclose(f) == 0 ? std::string("written") : std::string("the commit failed");
       }},
      {"copy_own_file",
       [&](const fs::path& at) {
         std::string problem;
         return FIO_FILE_SYSTEM::copy_own_file(source.string(), at.string(), &problem) ? std::string("written")
                                                                                        : problem;
       }},
  };
  struct KIND {
    const char* what;
    std::function<void(const std::string& record)> make;
  } const kinds[] = {
      {"a FIFO", [](const std::string& record) { ASSERT_EQ(mkfifo(record.c_str(), 0600), 0); }},
      {"another user's file",
       [](const std::string& record) {
         std::ofstream(record) << "";
         ASSERT_EQ(chown(record.c_str(), kNobody, kNobody), 0);
       }},
      {"a symbolic link", [](const std::string& record) { fs::create_symlink("elsewhere", record); }},
  };
  int cell = 0;
  for (const KIND& k : kinds) {
    for (const WRITER& w : writers) {
      SCOPED_TRACE(std::string(w.what) + ", the record " + k.what);
      const fs::path dir = fs::current_path() / ("run" + std::to_string(cell++));
      fs::create_directories(dir);
      const std::string record = FIO_FILE_SYSTEM::runs_record_path(dir.string());
      ASSERT_TRUE(FIO_FILE_SYSTEM::keep_files_of_run(dir.string(), "run", true));
      fs::remove(record);
      k.make(record);
      const std::string told = w.write(dir / "out");
      if (std::string(w.what) == "fopen_own_file") {
        EXPECT_EQ(told, "the commit failed");
      } else {
        EXPECT_EQ(told, "cannot write the file: cannot record it in the runs record \"" + record + "\": it is " + k.what);
      }
      EXPECT_EQ(text_or_none(dir / "out"), "(none)");
      FIO_FILE_SYSTEM::keep_files_not_made(dir.string(), false);
    }
  }
}

// The runs record is the user's own file: one another user put at its name
// (in a directory every user may write) tells nothing of the user's files
// and takes none of the user's runs. A file it calls made outside any run
// stays one of no known run (a strict run refuses it), and a run there is
// refused, the planted record unchanged.
TEST(FioFaultRows, AnotherUsersRunsRecordIsNotTheUsers) {
  if (geteuid() != 0) GTEST_SKIP() << "another user's record needs root";
  SCRATCH_REACHED_BY_ALL reach;
  const fs::path dir = fs::current_path() / "shared";
  fs::create_directories(dir);
  ASSERT_EQ(chmod(dir.c_str(), 01777), 0);
  std::ofstream(dir / "report") << "mine\n";
  const std::string record = FIO_FILE_SYSTEM::runs_record_path(dir.string());
  const std::string planted = made_line("-", dir / "report");
  ASSERT_EQ(run_in_child_as(kNobody, "", [&] {
              std::ofstream(record) << planted;
              return std::string("planted");
            }),
            "planted");
  EXPECT_EQ(FIO_FILE_SYSTEM::file_origin((dir / "report").string()), FIO_MADE_BY_NO_KNOWN_RUN);
  std::string problem;
  EXPECT_FALSE(FIO_FILE_SYSTEM::keep_files_of_run(dir.string(), "run", true, &problem));
  EXPECT_EQ(problem, "cannot record the run in the runs record \"" + record + "\": it is another user's file");
  EXPECT_EQ(text_or_none(record), planted);
  FIO_FILE_SYSTEM::keep_files_not_made(dir.string(), true);  // strict, its files known to this process only
  EXPECT_EQ(write_own(dir / "report"), kNotMade);
  EXPECT_EQ(text_or_none(dir / "report"), "mine\n");
  FIO_FILE_SYSTEM::keep_files_not_made(dir.string(), false);
}

// A run began in a process of this host, boot and namespace whose number a
// later process has taken (its start differs) has ended: its files are
// replaced. The process itself, or one whose start the record does not
// tell, may still be the run: its files stay, outside any run and to a
// strict run alike.
TEST(FioFaultRows, AProcessNumberTakenAgainIsNotTheRun) {
  TESTKIT_LIVE_PROCESS live;
  ASSERT_GT(live.pid, 0);
  const unsigned long long start = start_of(live.pid);
  struct ROW {
    const char* what;
    unsigned long long start;
    bool ended;
  } const rows[] = {
      {"the process itself", start, false},
      {"a later process of that number", start + 1, true},
      {"an earlier process of that number", start - 1, true},
      {"a start not told", 0, false},
  };
  int cell = 0;
  for (const ROW& r : rows) {
    for (const bool strict : {false, true}) {
      SCOPED_TRACE(std::string(r.what) + (strict ? ", to a strict run" : ", outside any run"));
      const fs::path dir = fs::current_path() / ("pid" + std::to_string(cell++));
      fs::create_directories(dir);
      std::ofstream(dir / "report") << "theirs\n";
      std::ofstream(FIO_FILE_SYSTEM::runs_record_path(dir.string()))
          << began_line("R", live.pid, r.start) << made_line("R", dir / "report");
      if (strict) {
        ASSERT_TRUE(FIO_FILE_SYSTEM::keep_files_of_run(dir.string(), "mine", true));
      }
      EXPECT_EQ(FIO_FILE_SYSTEM::file_origin((dir / "report").string()),
                r.ended ? FIO_MADE_BY_ENDED_RUN : FIO_MADE_BY_LIVE_RUN);
      EXPECT_EQ(write_own(dir / "report"), r.ended ? "written" : kNotMade);
      EXPECT_EQ(text_or_none(dir / "report"), r.ended ? "new\n" : "theirs\n");
      FIO_FILE_SYSTEM::keep_files_not_made(dir.string(), false);
    }
  }
}

// A line another process is still appending to the runs record is read
// once it is whole: a file of a live run read while that run's line for it
// was half written is the live run's once the line ends, and is not
// replaced (it was left a file of no known run, which a write outside any
// run replaces). Cut at every part of the line.
TEST(FioFaultRows, AHalfWrittenRecordLineIsReadWhenWhole) {
  TESTKIT_LIVE_PROCESS live;
  ASSERT_GT(live.pid, 0);
  const std::string began = began_line("C", live.pid, start_of(live.pid));
  int cell = 0;
  for (const char* cut_after : {"M", "M C", "report", " #", "\n"}) {
    SCOPED_TRACE(std::string("cut after \"") + (std::string(cut_after) == "\n" ? "the hash" : cut_after) + "\"");
    const fs::path dir = fs::current_path() / ("half" + std::to_string(cell++));
    fs::create_directories(dir);
    std::ofstream(dir / "report") << "theirs\n";
    const std::string line = made_line("C", dir / "report");
    const size_t cut = std::string(cut_after) == "\n" ? line.size() - 1 : line.find(cut_after) + std::strlen(cut_after);
    const std::string record = FIO_FILE_SYSTEM::runs_record_path(dir.string());
    std::ofstream(record) << began << line.substr(0, cut);
    EXPECT_EQ(FIO_FILE_SYSTEM::file_origin((dir / "report").string()), FIO_MADE_BY_NO_KNOWN_RUN);
    std::ofstream(record, std::ios::app) << line.substr(cut);
    EXPECT_EQ(FIO_FILE_SYSTEM::file_origin((dir / "report").string()), FIO_MADE_BY_LIVE_RUN);
    EXPECT_EQ(write_own(dir / "report"), kNotMade);
    EXPECT_EQ(text_or_none(dir / "report"), "theirs\n");
  }
}

namespace {

// Holds every open of `file` until `act` has run once (fanotify permission
// events, which need CAP_SYS_ADMIN): another process's move at the very
// moment the caller opens the file. `ready` false, with *why, when the
// system does not give such events.
struct ON_OPEN {
  int fd = -1;
  std::atomic<bool> stop{false};
  std::atomic<int> acted{0};
  std::thread listener;
  bool ready = false;
  std::string why;
  ON_OPEN(const std::string& file, std::function<void()> act) {
    fd = fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC, O_RDONLY | O_CLOEXEC);
    if (fd < 0 || fanotify_mark(fd, FAN_MARK_ADD, FAN_OPEN_PERM, AT_FDCWD, file.c_str()) != 0) {
      why = std::string("no fanotify permission events: ") + std::strerror(errno);
      return;
    }
    ready = true;
    listener = std::thread([this, act = std::move(act)] {
      while (!stop) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        alignas(fanotify_event_metadata) char buffer[4096];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) continue;
        auto* e = reinterpret_cast<fanotify_event_metadata*>(buffer);
        for (ssize_t left = n; FAN_EVENT_OK(e, left); e = FAN_EVENT_NEXT(e, left)) {
          if (acted++ == 0) act();
          fanotify_response answer{e->fd, FAN_ALLOW};
          (void)!write(fd, &answer, sizeof answer);
          if (e->fd >= 0) close(e->fd);
        }
      }
    });
  }
  ~ON_OPEN() {
    stop = true;
    if (listener.joinable()) listener.join();
    if (fd >= 0) close(fd);
  }
};

}  // namespace

// A removal that moves the name aside first checks that what it moved is
// the file it judged: a file another process put at the name meanwhile
// (here, just as the removal reads the runs record to judge the old one)
// is put back, keeps its text, and the removal says so. In a strict run,
// and outside any run in a directory others may write.
TEST(FioFaultRows, AFileMovedAsideIsRemovedOnlyWhenItIsTheOneJudged) {
  for (const bool strict : {true, false}) {
    SCOPED_TRACE(strict ? "a strict run" : "a directory others may write");
    const fs::path dir = fs::current_path() / (strict ? "strict" : "shared");
    fs::create_directories(dir);
    if (!strict) {
      ASSERT_EQ(chmod(dir.c_str(), 0777), 0);
    }
    std::ofstream(dir / "report") << "ended run's\n";
    std::ofstream(dir / "theirs") << "theirs\n";
    const std::string record = FIO_FILE_SYSTEM::runs_record_path(dir.string());
    std::ofstream(record) << made_line("-", dir / "report");
    if (strict) {
      ASSERT_TRUE(FIO_FILE_SYSTEM::keep_files_of_run(dir.string(), "mine", true));
    }
    ASSERT_EQ(FIO_FILE_SYSTEM::file_origin((dir / "report").string()), FIO_MADE_BY_ENDED_RUN);
    std::string problem;
    bool removed = false;
    {
      ON_OPEN on_open(record, [&] { fs::rename(dir / "theirs", dir / "report"); });
      if (!on_open.ready) GTEST_SKIP() << on_open.why;
      removed = FIO_FILE_SYSTEM::remove_own_file((dir / "report").string(), &problem);
      EXPECT_GT(on_open.acted.load(), 0) << "the removal read no runs record";
    }
    EXPECT_FALSE(removed);
    EXPECT_EQ(problem, "it is a file this process did not make, which another process may be using");
    EXPECT_EQ(text_or_none(dir / "report"), "theirs\n");
    FIO_FILE_SYSTEM::keep_files_not_made(dir.string(), false);
  }
}

// An append (a debug trace, a dump written a piece at a time) goes to an
// existing file only where a write would replace it: never to a file a live
// run made, and during a strict run never to one of no known run; a file of
// an ended run, or one made by hand outside any run, is appended to.
TEST(FioFaultRows, ALiveRunsFileIsNotAppendedTo) {
  const fs::path dir = fs::current_path() / "appended";
  fs::create_directories(dir);
  TESTKIT_LIVE_PROCESS live([&] {
    FIO_FILE_SYSTEM::keep_files_of_run(dir.string(), "live", true);
    write_own(dir / "live");
  });
  // Each pass appends to files of its own: a file appended to is one of no
  // known run after.
  ASSERT_EQ(in_child([&] {
              if (!FIO_FILE_SYSTEM::keep_files_of_run(dir.string(), "ended", true)) return std::string("not recorded");
              std::string told;
              for (const char* name : {"ended outside", "ended strict"})
                if (write_own(dir / name) != "written") told += name;
              FIO_FILE_SYSTEM::keep_files_not_made(dir.string(), false);
              return told;
            }),
            "");
  std::ofstream(dir / "by hand outside") << "new\n";
  std::ofstream(dir / "by hand strict") << "new\n";
  ASSERT_EQ(text_or_none(dir / "live"), "new\n");
  struct ROW {
    const char* name;
    bool outside, strict;  // appended to outside any run, during a strict run
  } const rows[] = {{"live", false, false}, {"ended", true, true}, {"by hand", true, false}};
  for (const bool strict : {false, true}) {
    if (strict) {
      ASSERT_TRUE(FIO_FILE_SYSTEM::keep_files_of_run(dir.string(), "mine", true));
    }
    for (const ROW& r : rows) {
      SCOPED_TRACE(std::string(r.name) + (strict ? ", during a strict run" : ", outside any run"));
      const fs::path at = dir / (std::string(r.name) + (r.name == std::string("live") ? "" : strict ? " strict" : " outside"));
      const std::string before = text_or_none(at);
      const bool appends = strict ? r.strict : r.outside;
      std::string problem;
      const int fd = FIO_FILE_SYSTEM::open_own_file_to_append(at.string(), &problem);
      if (fd >= 0) {
        EXPECT_EQ(write(fd, "more\n", 5), 5);
        close(fd);
      }
      EXPECT_EQ(fd >= 0, appends) << problem;
      if (!appends) {
        EXPECT_EQ(problem, kNotMade);
      }
      EXPECT_EQ(text_or_none(at), appends ? before + "more\n" : before);
    }
  }
  FIO_FILE_SYSTEM::keep_files_not_made(dir.string(), false);
}

// During a strict run a symbolic link or a FIFO at a name is no file of the
// run's: it is neither replaced nor removed, the file a link names keeps
// its text, and the refusal names what is there. Outside any run the write
// would follow the user's own link, and refuse the FIFO saying what it is.
TEST(FioFaultRows, ALinkOrAFifoIsLeftAloneInAStrictRun) {
  const fs::path dir = fs::current_path() / "strict";
  fs::create_directories(dir);
  std::ofstream(dir / "target") << "target\n";
  fs::create_symlink("target", dir / "link");
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  struct ROW {
    const char* name;
    const char* reason;
  } const rows[] = {{"link", "a symbolic link"}, {"fifo", "a FIFO"}};
  for (const ROW& r : rows) {
    SCOPED_TRACE(std::string(r.name) + ", outside any run");
    EXPECT_TRUE(FIO_FILE_SYSTEM::may_replace_own_file((dir / r.name).string()));
    EXPECT_EQ(FIO_FILE_SYSTEM::refusal_reason((dir / r.name).string()), "");
  }
  ASSERT_TRUE(FIO_FILE_SYSTEM::keep_files_of_run(dir.string(), "mine", true));
  for (const ROW& r : rows) {
    SCOPED_TRACE(std::string(r.name) + ", during a strict run");
    const fs::path at = dir / r.name;
    FIO_FILE_ORIGIN origin = FIO_NO_FILE;
    EXPECT_FALSE(FIO_FILE_SYSTEM::may_replace_own_file(at.string(), &origin));
    EXPECT_EQ(origin, FIO_NOT_A_FILE_OF_ONE_NAME);
    EXPECT_EQ(FIO_FILE_SYSTEM::refusal_reason(at.string()), r.reason);
    EXPECT_NE(write_own(at), "written");
    std::string problem;
    EXPECT_FALSE(FIO_FILE_SYSTEM::remove_own_file(at.string(), &problem));
    EXPECT_EQ(problem, "it is a file this process did not make, which another process may be using");
    EXPECT_TRUE(fs::exists(fs::symlink_status(at)));
    EXPECT_EQ(fs::is_symlink(fs::symlink_status(at)), std::string(r.name) == "link");
    EXPECT_EQ(text_or_none(dir / "target"), "target\n");
  }
  FIO_FILE_SYSTEM::keep_files_not_made(dir.string(), false);
}
