// fio_test.cpp — full paths, directory, base and extension, file-system
// operations, and the readers of users' files on files they cannot take.
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "cfg/cfg.h"
#include "fio/fio.h"
#include "gen/gen.h"
#include "msg/msg.h"
#include "netlist_io/blif.h"
#include "pdb/pdb.h"
#include "ssc/ssc.h"
#include "testkit/platform_testkit.h"

namespace {

TEST(FioPath, FullPathsNormaliseAndNamesSplitAndJoin) {
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(fio_get_unc_full_path("a/./b/../c.txt"), std::string(cwd) + "/a/c.txt");
  EXPECT_EQ(fio_get_unc_full_path("/x//y/"), "/x/y");
  FIO_PATH p("out/run.3/design.v.svf");
  EXPECT_EQ(p.directory() + "|" + p.base() + "|" + p.extension(), "out/run.3|design.v|svf");
  EXPECT_EQ(p.fullpath(), std::string(cwd) + "/out/run.3/design.v.svf");
  // The archive name rule: a base taken whole (dots included), placed in a
  // directory, given an extension.
  FIO_PATH a;
  a.base("rev.part_ap_2").directory("/db").extension(".parsynth", "");
  EXPECT_EQ(a.fullpath(), "/db/rev.part_ap_2.parsynth");
  a.extension("cdb", "gz");
  EXPECT_EQ(a.filename(), "rev.part_ap_2.cdb.gz");
  FIO_PATH f;
  f.filename("some/dir/name.tx3");  // only the file-name part is kept
  EXPECT_EQ(f.directory() + "|" + f.base() + "|" + f.extension(), "|name|tx3");
  EXPECT_EQ(FIO_PATH(".hidden").base(), ".hidden");
}

TEST(FioFileSystem, CreateCopyRenameRemove) {
  EXPECT_TRUE(FIO_FILE_SYSTEM::create("synth_dumps/deep/er") && FIO_FILE_SYSTEM::create("synth_dumps"));
  FILE* f = FIO_FILE_SYSTEM::fopen("synth_dumps/a.txt", "wt");
  ASSERT_NE(f, nullptr);
  std::fputs("hello\n", f);
  std::fclose(f);
  EXPECT_EQ(FIO_FILE_SYSTEM::fopen("missing/dir/b.txt", "r"), nullptr);
  EXPECT_TRUE(FIO_FILE_SYSTEM::copy("synth_dumps/a.txt", "b.txt") && FIO_FILE_SYSTEM::copy("synth_dumps/a.txt", "b.txt"));
  EXPECT_TRUE(FIO_FILE_SYSTEM::rename("b.txt", "c.txt") && !FIO_FILE_SYSTEM::exists("b.txt"));
  std::string line;
  std::getline(std::ifstream("c.txt") >> std::ws, line);
  EXPECT_EQ(line, "hello");
  EXPECT_FALSE(FIO_FILE_SYSTEM::rename("nothing.txt", "d.txt") || FIO_FILE_SYSTEM::copy("nothing.txt", "d.txt"));
  EXPECT_TRUE(FIO_FILE_SYSTEM::remove_if_exists("c.txt") && FIO_FILE_SYSTEM::remove_if_exists("c.txt"));
  EXPECT_FALSE(FIO_FILE_SYSTEM::remove_if_exists("synth_dumps"));  // not empty: kept
  EXPECT_TRUE(FIO_FILE_SYSTEM::exists("synth_dumps/a.txt"));
}

namespace {

// The unprivileged user a root run reads as.
const uid_t kNobody = 65534;

// Runs `read` in a child process that has become the user nobody (root
// reads and writes a file whatever its mode, so only another user meets a
// permission); *told is what it answered. False, with the reason in *told, when the child
// cannot become nobody.
bool as_nobody(const std::function<std::string()>& read, std::string* told) {
  int fds[2];
  if (::pipe(fds) != 0) return *told = std::strerror(errno), false;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    std::string answer;
    int status = 0;
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
      answer = std::string("cannot become nobody: ") + std::strerror(errno);
      status = 3;
    } else {
      answer = read();
    }
    (void)!::write(fds[1], answer.data(), answer.size());
    std::_Exit(status);
  }
  ::close(fds[1]);
  told->clear();
  char buffer[4096];
  for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) told->append(buffer, size_t(n));
  ::close(fds[0]);
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return *told = "no child", false;
  return !(WIFEXITED(status) && WEXITSTATUS(status) == 3);
}


}  // namespace

// A replaced file is written whole beside its target where renaming gives
// what writing in place gives, else in place: a symbolic link is followed
// (the link stays a link; a dangling one creates its file, a loop is
// refused), a device is written in place with its errors told, a file the
// writer may not write is refused, a writable file in a directory the writer
// may not write (or a sticky one it does not own), one of two hard links, a
// name too long for the temporary's suffix and another user's file (owner
// kept) are written in place. Rows marked `other` run as nobody when the
// suite runs as root (root may write anything), the scratch directory opened
// for it to pass through; as another user, the sticky row needs root.
TEST(FioFileSystem, ReplaceFileWritesWholeBesideTheTarget) {
  namespace fs = std::filesystem;
  const bool root = ::geteuid() == 0;
  const uid_t other = root ? kNobody : ::geteuid();
  auto make = [&](const char* path, const char* text, mode_t mode, uid_t owner) {
    if (text) std::ofstream(path) << text;
    else fs::create_directory(path);
    if (root) {
      EXPECT_EQ(::chown(path, owner, owner), 0) << path;
    }
    EXPECT_EQ(::chmod(path, mode), 0) << path;
  };
  std::ofstream("real.txt") << "old\n";
  fs::create_symlink("real.txt", "link.txt");
  make("wp", nullptr, 0755, other);
  make("wp/f", "old\n", 0444, other);
  make("ro", nullptr, 0755, 0);
  make("ro/f", "old\n", 0644, other);
  if (!root) fs::permissions("ro", fs::perms(0555));
  make("st", nullptr, 01777, 0);
  make("st/f", "old\n", 0666, 0);
  make("own", "old\n", 0640, kNobody);
  std::ofstream("h1") << "old\n";
  fs::create_hard_link("h1", "h2");
  const std::string long_name(250, 'n');
  std::ofstream(long_name) << "old\n";
  fs::create_symlink("dl_target", "dl");
  fs::create_symlink("l2", "l1");
  fs::create_symlink("l1", "l2");
  struct ROW {
    std::string path;
    const char* read_back;  // the file whose text is checked; null: none
    const char* problem;
    bool other = false;     // written by another user
  } rows[] = {
      {"new.txt", "new.txt", ""},
      {"link.txt", "real.txt", ""},
      {"/dev/null", nullptr, ""},
      {kavu_platform::testkit_full_device(), nullptr, "cannot write the file: No space left on device"},
      {"missing/x.txt", nullptr, "cannot write the file: No such file or directory"},
      {"wp/f", "wp/f", "cannot write the file: Permission denied", true},
      {"ro/f", "ro/f", "", true},
      {"ro/new", nullptr, "cannot create a file in the directory \"ro\": Permission denied", true},
      {"st/f", "st/f", "", true},
      {"own", "own", ""},
      {"h1", "h2", ""},
      {long_name, long_name.c_str(), ""},
      {"dl", "dl_target", ""},
      {"l1", nullptr, "cannot write the file: Too many levels of symbolic links"},
  };
  std::vector<std::pair<fs::path, fs::perms>> opened;
  if (root) {
    for (const fs::path& d : {fs::current_path().parent_path(), fs::current_path()}) {
      opened.emplace_back(d, fs::status(d).permissions());
      fs::permissions(d, fs::perms::others_exec, fs::perm_options::add);
    }
  }
  std::string not_nobody;
  for (const ROW& r : rows) {
    SCOPED_TRACE(r.path.substr(0, 40));
    if (r.path.empty()) continue;  // root could make no device of its own
    if (r.path == "st/f" && !root) continue;  // needs a file of another user
    std::string problem;
    auto write = [&r] {
      std::string why;
      return FIO_FILE_SYSTEM::replace_file(r.path, {"a", "b\n"}, &why) ? std::string("written") : why;
    };
    if (r.other && root) {
      if (!as_nobody(write, &problem)) {
        not_nobody = problem;
        continue;
      }
    } else {
      problem = write();
    }
    EXPECT_EQ(problem, *r.problem ? r.problem : "written");
    if (r.read_back) {
      std::string line;
      std::getline(std::ifstream(r.read_back), line);
      EXPECT_EQ(line, *r.problem ? "old" : "ab");
    }
  }
  for (const auto& [d, perms] : opened) fs::permissions(d, perms);
  EXPECT_TRUE(fs::is_symlink("link.txt") && fs::is_symlink("dl") && fs::is_symlink("l1"));
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  EXPECT_TRUE(kavu_platform::testkit_full_device().empty() || fs::is_character_file(kavu_platform::testkit_full_device()));
  struct stat st;
  ASSERT_EQ(::stat("own", &st), 0);
  EXPECT_EQ(st.st_uid, root ? kNobody : ::geteuid());
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_FALSE(fs::exists("ro/new"));
  for (const char* dir : {".", "wp", "ro", "st"})
    for (const auto& entry : fs::directory_iterator(dir))
      EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
  if (!root) fs::permissions("ro", fs::perms(0755));
  if (!not_nobody.empty()) GTEST_SKIP() << "the rows of another user did not run: " << not_nobody;
}

using namespace kavu_platform;

// The first error posted since the log was cleared ("" for none).
std::string posted_error() {
  for (const MSG_LOG_ENTRY& e : msg_log())
    if (e.kind == MSG_LOG_ERROR) return e.text;
  return "";
}

// A netlist the timing engine can hold: clk -> register -> q.
struct TIMED_NETLIST {
  CDB_SGATE_NETLIST nl;
  TIMED_NETLIST() {
    CDB_SGATE_NODE* clk = make_input_pin(&nl, "clk");
    make_output_pin(&nl, "q", make_dff(&nl, make_input_pin(&nl, "d"), clk));
  }
};

// What the configuration reader tells the user (on standard error) when
// the ini file is `file`.
std::string configuration_read_of(const std::string& file) {
  setenv("KAVU_INI_FILE", file.c_str(), 1);
  ::testing::internal::CaptureStderr();
  cfg_reload();
  const std::string err = ::testing::internal::GetCapturedStderr();
  unsetenv("KAVU_INI_FILE");
  cfg_reload();
  return err;
}

// One reader of a user's file: where its file lies, the most it takes, and
// what the user is told when it reads that file.
struct FILE_READER {
  const char* name;
  std::string path;
  uint64_t bound;  // 0: none of its own
  std::function<std::string()> read;
};

std::vector<FILE_READER> file_readers(TIMED_NETLIST* timed) {
  const std::string tdb = gen_get_db_dir_path() + "/tdb_stored.tdb";
  return {
      {"BLIF", "r.blif", uint64_t(UINT32_MAX) - 1,
       [] {
         BLIF_RESULT r = blif_read_file("r.blif");
         LOADED_NETLIST held(r.netlist, LOADED_NETLIST_DELETER{r.hierarchy});
         return r.error;
       }},
      {"SDC", "r.sdc", uint64_t(256) << 20,
       [timed] {
         CFG_SCOPE cfg{{"ssc_sdc_file", "r.sdc"}};
         SSC_UTIL* u = ssc_get_util();
         EXPECT_TRUE(u->initialize_netlist(nullptr, &timed->nl, SSC_DELAY_MODEL_UNIT, nullptr));
         msg_log_clear();
         EXPECT_FALSE(u->update_sta());
         u->delete_netlist();
         return posted_error();
       }},
      {"configuration", "r.ini", uint64_t(64) << 20, [] { return configuration_read_of("r.ini"); }},
      {"archive", "r.cdb", 0,
       [] {
         try {
           PDB_ARCHIVE archive("r", PDB_ARCHIVE::PDB_READ);
         } catch (const PDB_INVALID_PATH& e) {
           return std::string(e.what());
         }
         return std::string("opened");
       }},
      {"timing netlist", tdb, uint64_t(512) << 20,
       [] {
         std::string part = "stored";
         msg_log_clear();
         EXPECT_FALSE(ssc_get_util()->read_tdb_from_pdb(&part));
         return posted_error();
       }},
  };
}

}  // namespace

// Every reader of a user's file tells why the system would not give it (a
// loop of symbolic links, no permission: once "cannot read the file" or no
// word at all), and refuses a file past its bound from the size alone (a
// sparse file: nothing is written or read). Run as root, the reads of a
// file without permission are made by a child that has become nobody, the
// scratch directories opened for it to pass through.
TEST(FioReaders, FilesTheSystemWillNotGiveAreRefusedWithItsReason) {
  namespace fs = std::filesystem;
  fs::create_directories(gen_get_db_dir_path());
  TIMED_NETLIST timed;
  const bool root = ::geteuid() == 0;
  std::vector<std::pair<fs::path, fs::perms>> opened;
  if (root) {
    for (const fs::path& d : {fs::current_path().parent_path(), fs::current_path(), fs::path(gen_get_db_dir_path())}) {
      opened.emplace_back(d, fs::status(d).permissions());
      fs::permissions(d, fs::perms::others_exec, fs::perm_options::add);
    }
  }
  std::string not_nobody;  // why no child could become nobody
  enum CASE { LOOP, NO_PERMISSION, PAST_THE_BOUND };
  for (const FILE_READER& r : file_readers(&timed)) {
    for (CASE c : {LOOP, NO_PERMISSION, PAST_THE_BOUND}) {
      SCOPED_TRACE(std::string(r.name) + " case " + std::to_string(c));
      std::string expected;
      if (c == LOOP) {
        fs::create_symlink(fs::path(r.path).filename().string() + ".other", r.path);
        fs::create_symlink(fs::path(r.path).filename(), r.path + ".other");
        expected = std::strerror(ELOOP);
      } else if (c == NO_PERMISSION) {
        std::ofstream(r.path) << "x\n";
        fs::permissions(r.path, fs::perms::none);
        expected = std::strerror(EACCES);
      } else {
        if (!r.bound) continue;
        std::ofstream(r.path) << "x\n";
        std::error_code ec;
        fs::resize_file(r.path, r.bound + 1, ec);
        if (ec) continue;  // no sparse files here
        expected = "larger than";
      }
      std::string told;
      if (c == NO_PERMISSION && root) {
        if (!as_nobody(r.read, &told)) {
          not_nobody = told;
          fs::remove(r.path);
          continue;
        }
      } else {
        told = r.read();
      }
      EXPECT_NE(told.find(expected), std::string::npos) << told;
      fs::remove(r.path);
      fs::remove(r.path + ".other");
    }
  }
  for (const auto& [d, perms] : opened) fs::permissions(d, perms);
  if (!not_nobody.empty()) GTEST_SKIP() << "the rows without permission did not run: " << not_nobody;
}

// A file's path in a message is shown as the file's text is: a terminal
// escape in the name reaches the user as "\x1b", never raw.
TEST(FioReaders, PathsInMessagesAreEscaped) {
  const std::string name = "e\x1b[2J";
  struct ROW {
    const char* what;
    std::function<std::string()> told;
  } rows[] = {
      {"BLIF read, no such file",
       [&] {
         BLIF_RESULT r = blif_read_file(name + ".blif");
         LOADED_NETLIST held(r.netlist, LOADED_NETLIST_DELETER{r.hierarchy});
         return r.error;
       }},
      {"BLIF read, a bad line",
       [&] {
         std::ofstream(name + ".blif") << ".model m\n.bogus\n.end\n";
         BLIF_RESULT r = blif_read_file(name + ".blif");
         LOADED_NETLIST held(r.netlist, LOADED_NETLIST_DELETER{r.hierarchy});
         return r.error;
       }},
      {"BLIF write",
       [&] {
         TIMED_NETLIST timed;
         std::string why;
         EXPECT_FALSE(blif_write_file(&timed.nl, name + "/x.blif", {}, &why));
         return why;
       }},
      {"configuration", [&] { return configuration_read_of(name + ".ini"); }},
      {"archive",
       [&] {
         try {
           PDB_ARCHIVE archive(name, PDB_ARCHIVE::PDB_READ);
         } catch (const PDB_INVALID_PATH& e) {
           EXPECT_EQ(e.get_path().find(name), e.get_path().size() - name.size() - 4);  // the path itself
           return std::string(e.what());
         }
         return std::string("opened");
       }},
  };
  for (const ROW& r : rows) {
    const std::string told = r.told();
    EXPECT_NE(told.find("e\\x1b[2J"), std::string::npos) << r.what << ": " << told;
    EXPECT_EQ(told.find('\x1b'), std::string::npos) << r.what << ": " << told;
  }
}

namespace {

#ifndef KAVU_UNDER_ASAN
// Runs `read` under an address-space budget (run_within_address_space).
bool read_within(uint64_t budget, const std::function<bool()>& read) { return run_within_address_space(budget, read); }
#endif

}  // namespace

// A read takes a few times the file's size at most: an SDC file of one
// 64 MiB word (the reader once copied it six times over and aborted on the
// allocation it could not have), and a timing-netlist file whose header
// counts records of the least size its bytes allow (their memory, eight
// times the file's, was reserved before one was read). Each runs under an
// address-space limit of five (SDC) and two (timing netlist) times the
// file's size above what the process holds, and is refused with a message.
TEST(FioReaders, ReadsStayWithinAFewTimesTheFileSize) {
#ifdef KAVU_UNDER_ASAN
  GTEST_SKIP() << "ASan reserves more address space than any such limit";
#else
  const uint64_t sdc_bytes = uint64_t(64) << 20, tdb_bytes = uint64_t(20) << 20;
  std::filesystem::create_directories(gen_get_db_dir_path());
  std::ofstream("big.sdc") << std::string(sdc_bytes - 1, 'w') << "\n";
  const std::string header = "TDB 1 " + std::to_string(tdb_bytes / 9 - 16) + " 0\n";
  std::ofstream(gen_get_db_dir_path() + "/tdb_big.tdb") << header << std::string(tdb_bytes - header.size(), ' ');
  TIMED_NETLIST timed;
  CFG_SCOPE cfg{{"ssc_sdc_file", "big.sdc"}};
  SSC_UTIL* u = ssc_get_util();
  ASSERT_TRUE(u->initialize_netlist(nullptr, &timed.nl, SSC_DELAY_MODEL_UNIT, nullptr));
  auto sdc = [u] {
    msg_log_clear();
    const bool refused = !u->update_sta();
    return refused && posted_error().rfind("SDC file \"big.sdc\", line 1: unknown command www", 0) == 0 &&
           posted_error().size() < 400;
  };
  EXPECT_TRUE(read_within(5 * sdc_bytes, sdc));
  EXPECT_TRUE(sdc()) << posted_error().substr(0, 400);
  u->delete_netlist();
  // A file of unmatched patterns: the reader keeps its first hundred
  // warnings and counts the rest, and a hundred and one are posted (every
  // one was kept and posted, and std::bad_alloc escaped the analysis).
  const uint64_t many_bytes = uint64_t(4) << 20;
  std::string unmatched = "set_false_path -to {";
  for (int k = 0; k < 64; ++k) unmatched += "zz" + std::to_string(k) + " ";
  unmatched += "}\n";
  {
    std::ofstream many("many.sdc");
    many << "create_clock -name c -period 10 [get_ports clk]\n";
    for (uint64_t k = 0; k < many_bytes / unmatched.size(); ++k) many << unmatched;
  }
  CFG_SCOPE many_cfg{{"ssc_sdc_file", "many.sdc"}};
  ASSERT_TRUE(u->initialize_netlist(nullptr, &timed.nl, SSC_DELAY_MODEL_UNIT, nullptr));
  auto many = [u] {
    msg_log_clear();
    const bool read = u->update_sta();
    size_t warnings = 0;
    for (const MSG_LOG_ENTRY& e : msg_log()) warnings += e.kind == MSG_LOG_WARNING;
    return read && warnings == 101;
  };
  EXPECT_TRUE(read_within(5 * many_bytes, many));
  EXPECT_TRUE(many());
  u->delete_netlist();
  auto tdb = [u] {
    std::string part = "big";
    msg_log_clear();
    return !u->read_tdb_from_pdb(&part) && posted_error().find("need more memory") != std::string::npos;
  };
  EXPECT_TRUE(read_within(2 * tdb_bytes, tdb));
  EXPECT_TRUE(tdb()) << posted_error();
#endif
}
