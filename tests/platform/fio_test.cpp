// fio_test.cpp — full paths, directory, base and extension, file-system
// operations, and the readers of users' files on files they cannot take.
#include <fcntl.h>
#include <grp.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
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

// Runs `read` in a child process, as the user nobody when `nobody` (root
// reads and writes a file whatever its mode, so only another user meets a
// permission), under a file-size limit of `limit` bytes (SIGXFSZ ignored,
// so a write past it fails with EFBIG, unless `keep_sigxfsz`: then it kills
// the child, which tells nothing); *told is what it answered. False,
// with the reason in *told, when the child cannot become nobody.
bool in_child(bool nobody, rlim_t limit, const std::function<std::string()>& read, std::string* told,
              bool keep_sigxfsz = false) {
  int fds[2];
  if (::pipe(fds) != 0) return *told = std::strerror(errno), false;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    std::string answer;
    int status = 0;
    ::signal(SIGXFSZ, keep_sigxfsz ? SIG_DFL : SIG_IGN);
    const struct rlimit lim = {limit, limit};
    if (::setrlimit(RLIMIT_FSIZE, &lim) != 0) {
      answer = std::string("cannot set the file-size limit: ") + std::strerror(errno);
      status = 3;
    } else if (nobody && (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) {
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

bool as_nobody(const std::function<std::string()>& read, std::string* told) {
  return in_child(true, RLIM_INFINITY, read, told);
}

// A file's whole text, or "(none)" when there is no such file.
std::string text_or_none(const std::string& path) {
  if (!std::filesystem::exists(path)) return "(none)";
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Mounts made for a test, taken down at its end (and file flags set on
// directories, cleared), so that the scratch directory can go.
struct MOUNTED {
  std::vector<std::string> points, flagged;
  ~MOUNTED() {
    for (const std::string& dir : flagged) {
      const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
      int flags = 0;
      if (fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
        flags &= ~FS_APPEND_FL;
        (void)::ioctl(fd, FS_IOC_SETFLAGS, &flags);
      }
      if (fd >= 0) ::close(fd);
    }
    for (auto it = points.rbegin(); it != points.rend(); ++it) ::umount2(it->c_str(), MNT_DETACH);
  }
  // A file system of 256 KiB and a few inodes at `dir`, filled: "f" (one
  // link) and "h1" (two: "h2") hold "old\n", and no inode and no block is
  // left. "" or why it could not be made.
  std::string full_tmpfs(const std::string& dir) {
    std::filesystem::create_directory(dir);
    if (::mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=256k,nr_inodes=16") != 0)
      return std::string("cannot mount a tmpfs: ") + std::strerror(errno);
    points.push_back(dir);
    std::ofstream(dir + "/f") << "old\n";
    std::ofstream(dir + "/h1") << "old\n";
    std::filesystem::create_hard_link(dir + "/h1", dir + "/h2");
    const int filler = ::open((dir + "/filler").c_str(), O_WRONLY | O_CREAT, 0644);
    for (int k = 0; k < 100; ++k) {
      const int fd = ::open((dir + "/x" + std::to_string(k)).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
      if (fd < 0) break;
      ::close(fd);
    }
    const std::string chunk(4096, 'z');
    while (filler >= 0 && ::write(filler, chunk.data(), chunk.size()) > 0) {
    }
    if (filler >= 0) ::close(filler);
    const int probe = ::open((dir + "/probe").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (probe >= 0 || errno != ENOSPC) return "the tmpfs did not fill";
    return "";
  }
  // A file system of type `type` at `dir` (for "ext2", a loop-mounted image
  // of 1 MiB with 1 KiB blocks): "" or why it could not be made.
  std::string mount_at(const std::string& dir, const std::string& type) {
    std::filesystem::create_directory(dir);
    if (type == "ext2") {
      const std::string image = dir + ".img";
      std::ofstream(image).close();
      std::filesystem::resize_file(image, 1 << 20);
      const std::string command = "mkfs.ext2 -q -F -m 0 -b 1024 " + image + " >/dev/null 2>&1 && mount -o loop " +
                                  image + " " + dir + " >/dev/null 2>&1";
      if (std::system(command.c_str()) != 0) return "cannot make or mount an ext2 image (mkfs.ext2, mount -o loop)";
    } else if (::mount(type.c_str(), dir.c_str(), type.c_str(), 0, nullptr) != 0) {
      return "cannot mount a " + type + ": " + std::strerror(errno);
    }
    points.push_back(dir);
    return "";
  }
};

}  // namespace

// A replaced file is written whole beside its target where renaming gives
// what writing in place gives, else in place: a symbolic link is followed
// (the link stays a link; a dangling one creates its file, a loop is
// refused), a device is written in place with its errors told, a file the
// writer may not write is refused, a writable file in a directory the writer
// may not write (or a sticky one it does not own, or an append-only one),
// one of two hard links (one the writer may only write too), another
// user's file (owner kept), a file bind-mounted at the path and one with an
// ACL and user attributes are written in place; a name too long for the temporary's suffix gets a
// temporary of a shorter name; a group is kept. Each target is first written
// with a text past a 10 KiB file-size limit (its `big` problem): that write
// fails and leaves it as it was (a new file: none), in place too (each was
// cut to the head of the text). On a file system without a free inode the
// temporary cannot be made and the write is refused (it went in place and
// cut the file); one without a free block refuses a text written in place
// before the file changes. Temporaries are made exclusively: links planted
// at every name a temporary may take are not followed. Rows marked `other`
// run as nobody when the suite runs as root (root may write anything), the
// scratch directory opened for it to pass through; as another user, rows
// of another's files and of mounts need root.
TEST(FioFileSystem, ReplaceFileWritesWholeBesideTheTarget) {
  namespace fs = std::filesystem;
  const bool root = ::geteuid() == 0;
  const uid_t other = root ? kNobody : ::geteuid();
  auto make = [&](const char* path, const char* text, mode_t mode, uid_t owner, gid_t group = gid_t(-1)) {
    if (text) std::ofstream(path) << text;
    else fs::create_directory(path);
    if (root) {
      EXPECT_EQ(::chown(path, owner, group == gid_t(-1) ? owner : group), 0) << path;
    }
    EXPECT_EQ(::chmod(path, mode), 0) << path;
  };
  std::vector<std::string> not_run;  // why rows were left out
  MOUNTED mounted;
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
  make("grp", "old\n", 0660, 0, kNobody);
  make("open", nullptr, 0777, 0);
  make("open/mine", "old\n", 0640, other);
  make("open/theirs", "old\n", 0666, 0);
  std::ofstream("h1") << "old\n";
  fs::create_hard_link("h1", "h2");
  make("wo1", "old\n", 0222, 0);  // write-only, two names
  fs::create_hard_link("wo1", "wo2");
  const std::string long_name(250, 'n'), long_new(250, 'm');
  std::ofstream(long_name) << "old\n";
  fs::create_symlink("dl_target", "dl");
  fs::create_symlink("l2", "l1");
  fs::create_symlink("l1", "l2");
  std::ofstream("planted") << "old\n";
  std::ofstream("victim") << "victim\n";
  const std::string full = root ? mounted.full_tmpfs("full") : "needs root";
  if (!full.empty()) not_run.push_back("full file system: " + full);
  std::ofstream("bound_source") << "old\n";
  fs::create_directory("bm");
  std::ofstream("bm/f") << "old\n";
  const bool bound = root && ::mount("bound_source", "bm/f", nullptr, MS_BIND, nullptr) == 0;
  if (bound) mounted.points.push_back("bm/f");
  else not_run.push_back(std::string("bind mount: ") + (root ? std::strerror(errno) : "needs root"));
  // An ACL granting nobody read and write (user, named user, group, mask,
  // other entries) and a user attribute.
  std::ofstream("acl") << "old\n";
  struct ACL_ENTRY {
    uint16_t tag, perm;
    uint32_t id;
  };
  const uint32_t version = 2;
  const ACL_ENTRY acl[] = {{1, 6, ~0u}, {2, 6, kNobody}, {4, 4, ~0u}, {0x10, 6, ~0u}, {0x20, 0, ~0u}};
  std::string acl_blob(reinterpret_cast<const char*>(&version), 4);
  acl_blob.append(reinterpret_cast<const char*>(acl), sizeof acl);
  const bool attributes = ::setxattr("acl", "system.posix_acl_access", acl_blob.data(), acl_blob.size(), 0) == 0 &&
                          ::setxattr("acl", "user.kept", "1", 1, 0) == 0;
  if (!attributes) not_run.push_back(std::string("extended attributes: ") + std::strerror(errno));
  std::ofstream("user_attr") << "old\n";  // a user attribute alone, no ACL
  const bool user_attribute = ::setxattr("user_attr", "user.kept", "1", 1, 0) == 0;
  fs::create_directory("ad");
  std::ofstream("ad/f") << "old\n";
  {
    const int fd = ::open("ad", O_RDONLY | O_DIRECTORY);
    int flags = 0;
    if (fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags |= FS_APPEND_FL, ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0))
      mounted.flagged.push_back("ad");
    else
      not_run.push_back(std::string("append-only directory: ") + std::strerror(errno));
    if (fd >= 0) ::close(fd);
  }
  const std::string efbig = "cannot write the file: File too large", enospc = "cannot write the file: No space left on device";
  struct ROW {
    std::string path;
    const char* read_back;  // the file whose text is checked; null: none
    std::string problem;    // of the small write; "" written
    bool other = false;     // written by another user
    std::string big = "cannot write the file: File too large";  // of the big write
    bool plant = false;     // links planted at every temporary's name
    bool run = true;
  } rows[] = {
      {"new.txt", "new.txt", ""},
      {"link.txt", "real.txt", ""},
      {"/dev/null", nullptr, "", false, ""},
      {kavu_platform::testkit_full_device(), nullptr, enospc, false, enospc},
      {"missing/x.txt", nullptr, "cannot write the file: No such file or directory", false,
       "cannot write the file: No such file or directory"},
      {"wp/f", "wp/f", "cannot write the file: Permission denied", true, "cannot write the file: Permission denied"},
      {"ro/f", "ro/f", "", true},
      {"ro/new", nullptr, "cannot create a file in the directory \"ro\": Permission denied", true,
       "cannot create a file in the directory \"ro\": Permission denied"},
      {"st/f", "st/f", "", true, efbig, false, root},
      {"own", "own", ""},
      {"grp", "grp", "", false, efbig, false, root},
      {"open/mine", "open/mine", "", true},
      {"open/theirs", "open/theirs", "", true, efbig, false, root},
      {"h1", "h2", ""},
      {"wo1", "wo2", "", true},
      {long_name, long_name.c_str(), ""},
      {long_new, long_new.c_str(), ""},
      {"dl", "dl_target", ""},
      {"l1", nullptr, "cannot write the file: Too many levels of symbolic links", false,
       "cannot write the file: Too many levels of symbolic links"},
      {"planted", "planted", "cannot write the file: all 100 names of a temporary file beside it are taken", false,
       "cannot write the file: all 100 names of a temporary file beside it are taken", true},
      {std::string("nul\0x", 5), nullptr, "cannot write the file: the path holds a NUL byte", false,
       "cannot write the file: the path holds a NUL byte"},
      {"full/f", "full/f", enospc, false, enospc, false, full.empty()},
      {"full/h1", "full/h2", "", false, enospc, false, full.empty()},
      {"bm/f", "bound_source", "", false, efbig, false, bound},
      {"acl", "acl", "", false, efbig, false, attributes},
      {"user_attr", "user_attr", "", false, efbig, false, user_attribute},
      {"ad/f", "ad/f", "", false, efbig, false, !mounted.flagged.empty()},
      {"ad/new", "ad/new", "", false, efbig, false, !mounted.flagged.empty()},
  };
  std::vector<std::pair<fs::path, fs::perms>> opened;
  if (root) {
    for (const fs::path& d : {fs::current_path().parent_path(), fs::current_path()}) {
      opened.emplace_back(d, fs::status(d).permissions());
      fs::permissions(d, fs::perms::others_exec, fs::perm_options::add);
    }
  }
  const std::string big_text(64 << 10, 'x');
  for (const ROW& r : rows) {
    SCOPED_TRACE(r.path.substr(0, 40));
    if (r.path.empty() || !r.run) continue;  // root could make no device of its own; no mount
    for (const bool big : {true, false}) {
      // Past the limit: the file system of full/ has no room for the text,
      // elsewhere the limit stops it.
      const rlim_t limit = big && r.path.rfind("full/", 0) != 0 ? rlim_t(10) << 10 : RLIM_INFINITY;
      auto write = [&r, &big_text, big] {
        std::vector<std::string> planted;
        for (int k = 0; r.plant && k < 100; ++k) {
          planted.push_back(r.path + ".tmp" + std::to_string(::getpid()) + "_" + std::to_string(k));
          fs::create_symlink("victim", planted.back());
        }
        std::string why;
        const bool ok = big ? FIO_FILE_SYSTEM::replace_file(r.path, {"a", "b\n", big_text}, &why)
                            : FIO_FILE_SYSTEM::replace_file(r.path, {"a", "b\n"}, &why);
        for (const std::string& name : planted) fs::remove(name);
        return ok ? std::string("written") : why;
      };
      const std::string before = r.read_back ? text_or_none(r.read_back) : "";
      std::string problem;
      if (!in_child(r.other && root, limit, write, &problem)) {
        not_run.push_back(problem);
        break;
      }
      const std::string& expected = big ? r.big : r.problem;
      EXPECT_EQ(problem, expected.empty() ? "written" : expected) << (big ? "big" : "small");
      if (!r.read_back) continue;
      const std::string now = text_or_none(r.read_back);
      if (expected.empty()) {
        EXPECT_EQ(now, "ab\n");  // the whole file: an old tail left after a shorter text shows
      } else {
        EXPECT_TRUE(now == before) << (big ? "big" : "small") << " write changed it: " << now.size() << " bytes, "
                                   << now.substr(0, 12);
      }
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
  ASSERT_EQ(::stat("open/mine", &st), 0);
  EXPECT_EQ(st.st_uid, other);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  if (root) {
    ASSERT_EQ(::stat("grp", &st), 0);
    EXPECT_EQ(st.st_gid, kNobody);
    EXPECT_EQ(st.st_mode & 07777, 0660u);
    ASSERT_EQ(::stat("open/theirs", &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
  }
  EXPECT_EQ(text_or_none("victim"), "victim\n");
  if (bound) {
    EXPECT_EQ(text_or_none("bm/f"), "ab\n");
  }
  if (attributes) {
    char kept = 0;
    EXPECT_EQ(::getxattr("acl", "user.kept", &kept, 1), 1);
    EXPECT_EQ(kept, '1');
    EXPECT_EQ(::getxattr("acl", "system.posix_acl_access", nullptr, 0), ssize_t(acl_blob.size()));
  }
  if (user_attribute) {
    char kept = 0;
    EXPECT_EQ(::getxattr("user_attr", "user.kept", &kept, 1), 1);
    EXPECT_EQ(kept, '1');
  }
  EXPECT_FALSE(fs::exists("ro/new") || fs::exists("missing") || fs::exists("nul"));
  // A caller that keeps SIGXFSZ's default action (death) lives through a
  // text past the file-size limit written in several parts, none past it
  // alone: beside the target, in place (a second link) and a part at a
  // time; the file stays as it was and no temporary is left.
  for (const char* path : {"xfsz_new", "h1", "real.txt"}) {
    for (const bool streamed : {false, true}) {
      SCOPED_TRACE(std::string(path) + (streamed ? " streamed" : ""));
      const std::string before = text_or_none(path);
      auto write = [path, streamed] {
        const std::string part(6 << 10, 'p');
        std::string why;
        if (!streamed) return FIO_FILE_SYSTEM::replace_file(path, {"a\n", part, part}, &why) ? "written" : why;
        FIO_FILE_REPLACEMENT file;
        if (!file.open(path, &why)) return why;
        for (const std::string_view text : {std::string_view("a\n"), std::string_view(part), std::string_view(part)})
          if (!file.write(text)) break;
        return file.commit(&why) ? std::string("written") : why;
      };
      std::string told;
      ASSERT_TRUE(in_child(false, rlim_t(10) << 10, write, &told, true));
      EXPECT_EQ(told, "cannot write the file: File too large");
      EXPECT_EQ(text_or_none(path), before);
    }
  }
  for (const char* dir : {".", "wp", "ro", "st", "open", "bm", "ad", "full"})
    for (const auto& entry : fs::directory_iterator(fs::exists(dir) ? dir : "."))
      EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
  if (!root) fs::permissions("ro", fs::perms(0755));
  if (!not_run.empty()) GTEST_SKIP() << "rows did not run: " << not_run.front();
}

// A file system that reserves no room (no fallocate: ext2, ramfs) still
// gets a write in place (a target of two hard links, a dangling link)
// whose room is taken first: on ext2 with little room, a text that needs
// more than is free (its blocks fit, its indirect block does not) is
// refused and leaves the file as it was (it was cut part-way), one that
// fits is written whole; on ramfs, which tells no free room, both are
// written (they were refused for want of room). Sparse files of two names
// that their writer may only write are written by nobody and by root: the
// room for the holes of their text is taken first as well.
TEST(FioFileSystem, WritesInPlaceReserveTheirRoom) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a file system needs root";
  MOUNTED mounted;
  std::vector<std::string> not_run;
  std::vector<std::pair<std::filesystem::path, std::filesystem::perms>> opened;
  for (const std::filesystem::path& d : {std::filesystem::current_path().parent_path(), std::filesystem::current_path()}) {
    opened.emplace_back(d, std::filesystem::status(d).permissions());
    std::filesystem::permissions(d, std::filesystem::perms::others_exec, std::filesystem::perm_options::add);
  }
  for (const std::string type : {"ext2", "ramfs"}) {
    SCOPED_TRACE(type);
    if (const std::string why = mounted.mount_at(type, type); !why.empty()) {
      not_run.push_back(why);
      continue;
    }
    std::ofstream(type + "/h1") << "old\n";
    std::filesystem::create_hard_link(type + "/h1", type + "/h2");
    std::filesystem::create_symlink("dl_target", type + "/dl");
    // Sparse files of two names whose blocks alternate data and hole, owned
    // by nobody and writable only ("few" has 8 holes, "many" 100), and
    // root's "mine" (100).
    for (const auto& [name, blocks] : {std::pair<std::string, int>{"few", 16}, {"many", 200}, {"mine", 200}}) {
      const std::string path = type + "/" + name;
      const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT, 0200);
      for (int b = 0; fd >= 0 && b < blocks; b += 2) ASSERT_EQ(::pwrite(fd, "d", 1, off_t(b) << 10), 1);
      ASSERT_EQ(::ftruncate(fd, off_t(blocks) << 10), 0);
      ::close(fd);
      if (name != "mine") {
        ASSERT_EQ(::chown(path.c_str(), kNobody, kNobody), 0);
      }
      std::filesystem::create_hard_link(path, path + "_2");
    }
    uint64_t free = uint64_t(1) << 20;
    if (type == "ext2") {
      // Filled, then 40 KiB given back.
      const int filler = ::open((type + "/filler").c_str(), O_WRONLY | O_CREAT, 0644);
      const std::string chunk(1024, 'z');
      while (filler >= 0 && ::write(filler, chunk.data(), chunk.size()) > 0) {
      }
      ASSERT_EQ(::ftruncate(filler, ::lseek(filler, 0, SEEK_CUR) - (40 << 10)), 0);
      ::close(filler);
      struct statvfs room;
      ASSERT_EQ(::statvfs(type.c_str(), &room), 0);
      free = uint64_t(room.f_bavail) * room.f_frsize;
      struct stat st;
      ASSERT_EQ(::stat((type + "/h1").c_str(), &st), 0);
      free += uint64_t(st.st_blocks) * 512;  // the blocks h1 holds
    }
    const std::string fits(free / 4, 'f'), too_big(free, 'b'), few(16 << 10, 'n'), many(200 << 10, 'n');
    // The sparse files are written by nobody and by root: their holes need
    // room, 8 KiB fits and 100 KiB does not (the text went into the holes
    // and was cut part-way where the writer could not read them, or where
    // every other block was looked at).
    struct ROW {
      std::string path, read_back;
      const std::string& text;
      bool written;
      bool nobody = false;
      bool give_back = false;  // 20 KiB more room first (a refused reservation keeps what it took)
    } const rows[] = {
        {type + "/h1", type + "/h2", too_big, type == "ramfs"},
        {type + "/h1", type + "/h2", fits, true},
        {type + "/dl", type + "/dl_target", fits, true},
        {type + "/few", type + "/few_2", few, true, true},
        {type + "/many", type + "/many_2", many, type == "ramfs", true},
        {type + "/mine", type + "/mine_2", many, type == "ramfs", false, true},
    };
    for (const ROW& r : rows) {
      SCOPED_TRACE(r.path + " " + std::to_string(r.text.size()) + (r.nobody ? " nobody" : ""));
      if (r.give_back && type == "ext2") {
        const std::string filler = type + "/filler";
        ASSERT_EQ(::truncate(filler.c_str(), off_t(std::filesystem::file_size(filler)) - (20 << 10)), 0);
      }
      const std::string before = text_or_none(r.read_back);
      std::string why;
      auto write = [&r] {
        std::string problem;
        return FIO_FILE_SYSTEM::replace_file(r.path, {r.text}, &problem) ? std::string("written") : problem;
      };
      if (!r.nobody) {
        why = write();
      } else if (!as_nobody(write, &why)) {
        not_run.push_back(why);
        continue;
      }
      EXPECT_EQ(why, r.written ? "written" : "cannot write the file: No space left on device");
      const std::string now = text_or_none(r.read_back);
      EXPECT_TRUE(now == (r.written ? r.text : before)) << now.size() << " bytes, " << now.substr(0, 12);
    }
  }
  for (const auto& [d, perms] : opened) std::filesystem::permissions(d, perms);
  if (!not_run.empty()) GTEST_SKIP() << "rows did not run: " << not_run.front();
}

// Writes `text` over `path` in place (as nobody when asked) and checks that
// `other`, another name of the file, then holds the new text when the
// write says "written" and `old` otherwise, and that the write said
// `expected`. False, with *why, when the child cannot become nobody.
bool write_and_check(bool nobody, const std::string& path, const std::string& text, const std::string& other,
                     const std::string& old, const std::string& expected, std::string* why) {
  auto write = [&] {
    std::string problem;
    return FIO_FILE_SYSTEM::replace_file(path, {text}, &problem) ? std::string("written") : problem;
  };
  std::string told;
  if (!nobody) {
    told = write();
  } else if (!as_nobody(write, &told)) {
    *why = told;
    return false;
  }
  EXPECT_EQ(told, expected);
  const std::string now = text_or_none(other);
  const std::string& after = told == "written" ? text : old;
  EXPECT_EQ(now.size(), after.size());
  EXPECT_TRUE(now == after) << "first difference at byte "
                            << std::mismatch(now.begin(), now.end(), after.begin(), after.end()).first - now.begin();
  return true;
}

// The holes of a text written in place take their room before a byte
// changes, however they lie: files of 1 KiB blocks whose holes have uneven
// lengths at offsets no step of a search divides, led by a hole or by data,
// ended by data or by a hole, with one data block between many holes. With
// one block less free than the holes need, the write is refused and both
// names keep the old text (a hole missed, or a block after a hole skipped,
// let the reservation pass and the text was cut part-way); with exactly
// that room it is written. On ext2 SEEK_HOLE tells the holes, to nobody's
// write-only file too. Through bindfs, which tells no hole and takes no
// fallocate, they are found by reading; a file that may only be written is
// refused there before it changes (every write in place through it was cut
// on a nearly full disk).
TEST(FioFileSystem, WritesInPlaceFindEveryHoleFirst) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a file system needs root";
  namespace fs = std::filesystem;
  MOUNTED mounted;
  std::vector<std::string> not_run;
  std::vector<std::pair<fs::path, fs::perms>> opened;
  for (const fs::path& d : {fs::current_path().parent_path(), fs::current_path()}) {
    opened.emplace_back(d, fs::status(d).permissions());
    fs::permissions(d, fs::perms::others_exec, fs::perm_options::add);
  }
  if (const std::string why = mounted.mount_at("holes", "ext2"); !why.empty())
    GTEST_SKIP() << why;
  fs::create_directory("holes/d");
  fs::create_directory("bound");
  std::string bound = "bound";
  // Attributes read afresh: a cached link count would tell one link for a
  // second after the second name is made.
  if (std::system("bindfs -o attr_timeout=0,entry_timeout=0 holes/d bound >/dev/null 2>&1") == 0) {
    mounted.points.push_back("bound");
  } else {
    bound.clear();
    not_run.push_back("cannot mount bindfs over the ext2 image (bindfs, /dev/fuse)");
  }
  // A layout in KiB: runs of hole and data in turn; its text, '\0' in the
  // holes, and the hole blocks it holds. Data blocks hold 'd' throughout,
  // or read as zeros up to their last byte.
  struct LAYOUT {
    const char* name;
    std::string text;
    uint64_t holes = 0;
  };
  auto layout = [](const char* name, bool hole_first, bool hole_last, bool zero_led) {
    std::string block(1024, 'd');
    if (zero_led) block.assign(1023, '\0').push_back('d');
    static const int hole_runs[] = {1, 2, 3, 5, 7, 1, 11, 2}, data_runs[] = {1, 1, 2, 1, 3};
    LAYOUT l{name, std::string(), 0};
    for (int k = 0; l.text.size() < (200u << 10); ++k) {
      const bool hole = (k % 2 == 0) == hole_first;
      const int kib = hole ? hole_runs[(k / 2) % 8] : data_runs[(k / 2) % 5];
      for (int b = 0; b < kib; ++b) l.text.append(hole ? std::string(1024, '\0') : block);
      if (hole) l.holes += uint64_t(kib);
    }
    if (hole_last) l.text.append(size_t(9) << 10, '\0'), l.holes += 9;
    else l.text.append(block);
    return l;
  };
  const LAYOUT layouts[] = {layout("hole first, data last", true, false, false),
                            layout("data first, hole last, data led by zeros", false, true, true)};
  // Free 1 KiB blocks of the image, set to `want` by filling it and giving
  // back, then taking single direct blocks of small pad files.
  auto free_blocks = [] {
    struct statvfs v;
    return ::statvfs("holes", &v) == 0 ? uint64_t(v.f_bavail) * v.f_frsize / 1024 : 0;
  };
  auto leave_free = [&](uint64_t want) {
    const int filler = ::open("holes/filler", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const std::string chunk(1024, 'z');
    while (filler >= 0 && ::write(filler, chunk.data(), chunk.size()) > 0) {
    }
    off_t length = filler >= 0 ? ::lseek(filler, 0, SEEK_END) : 0;
    while (free_blocks() < want && length > 0) {
      length -= 1024;
      if (::ftruncate(filler, length) != 0) break;
    }
    if (filler >= 0) ::close(filler);
    for (int pad = 0; free_blocks() > want && pad < 12 * 64; ++pad) {
      const int fd = ::open(("holes/pad" + std::to_string(pad / 12)).c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      if (fd < 0 || ::write(fd, chunk.data(), chunk.size()) != 1024) pad = 12 * 64;
      if (fd >= 0) ::close(fd);
    }
    return free_blocks() == want;
  };
  const std::string no_room = "cannot write the file: No space left on device";
  const std::string untold =
      "cannot write the file: its file system does not tell where its holes are, and it may not be read to find them";
  struct ROW {
    bool through_bindfs;
    bool nobody;      // nobody's file of mode 0200, written by nobody
    uint64_t short_by;  // blocks fewer free than the holes need
    const std::string& told;
  } const rows[] = {
      {false, false, 1, no_room}, {false, false, 0, "written"}, {false, true, 1, no_room},
      {false, true, 0, "written"}, {true, false, 1, no_room},    {true, false, 0, "written"},
      {true, true, 0, untold},
  };
  int made = 0;
  for (const LAYOUT& l : layouts) {
    for (const ROW& r : rows) {
      SCOPED_TRACE(std::string(l.name) + (r.through_bindfs ? ", through bindfs" : ", on ext2") +
                   (r.nobody ? ", nobody's write-only file" : ", a 0644 file") + ", " + std::to_string(r.short_by) +
                   " blocks short");
      if (r.through_bindfs && bound.empty()) continue;
      for (const auto& entry : fs::directory_iterator("holes/d")) fs::remove(entry.path());
      fs::remove("holes/filler");
      for (int pad = 0; fs::remove("holes/pad" + std::to_string(pad)); ++pad) {
      }
      // A new name each time, so that no cache of the bindfs mount shows
      // an earlier file.
      const std::string name = "f" + std::to_string(made++);
      const std::string dir = r.through_bindfs ? bound : std::string("holes/d");
      const std::string path = dir + "/" + name, other = "holes/d/" + name + "_2";
      const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, r.nobody ? 0200 : 0644);
      ASSERT_GE(fd, 0) << std::strerror(errno);
      for (size_t at = 0; at < l.text.size(); at += 1024)
        if (l.text.compare(at, 1024, std::string(1024, '\0')) != 0) {
          ASSERT_EQ(::pwrite(fd, l.text.data() + at, 1024, off_t(at)), 1024);
        }
      ASSERT_EQ(::ftruncate(fd, off_t(l.text.size())), 0);
      ::close(fd);
      if (r.nobody) {
        ASSERT_EQ(::chown(path.c_str(), kNobody, kNobody), 0);
      }
      fs::create_hard_link(path, path + "_2");
      struct stat st;
      ASSERT_EQ(::stat(path.c_str(), &st), 0);
      ASSERT_LT(uint64_t(st.st_blocks) * 512, l.text.size());  // sparse as laid out
      ASSERT_TRUE(leave_free(l.holes - r.short_by)) << free_blocks() << " blocks free, " << l.holes << " holes";
      std::string why;
      if (!write_and_check(r.nobody, path, std::string(l.text.size(), 'n'), other, l.text, r.told, &why))
        not_run.push_back(why);
    }
  }
  // A file without holes, whose blocks cover its length, is taken at
  // SEEK_HOLE's word and never read: nobody's write-only file is written
  // (it was refused when every file that SEEK_HOLE told no hole in was read).
  {
    SCOPED_TRACE("no hole, nobody's write-only file");
    for (const auto& entry : fs::directory_iterator("holes/d")) fs::remove(entry.path());
    fs::remove("holes/filler");
    for (int pad = 0; fs::remove("holes/pad" + std::to_string(pad)); ++pad) {
    }
    const std::string path = "holes/d/dense", old(64 << 10, 'd');
    std::ofstream(path) << old;
    ASSERT_EQ(::chown(path.c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0200), 0);
    fs::create_hard_link(path, path + "_2");  // written in place
    std::string why;
    if (!write_and_check(true, path, std::string(old.size() + 100, 'n'), path + "_2", old, "written", &why))
      not_run.push_back(why);
  }
  fs::remove("holes/filler");
  for (const auto& [d, perms] : opened) fs::permissions(d, perms);
  if (!not_run.empty()) GTEST_SKIP() << "rows did not run: " << not_run.front();
}

// Through FUSE (bindfs over a small tmpfs), which tells no hole and whose
// block count is the server's word, the holes of a file written in place
// are found by reading, whatever its block count says: a file with a real
// hole of 64 KiB that holds as many blocks as its length (blocks kept past
// its end by fallocate --keep-size) lost its text on both names, cut
// part-way by "No space left on device", when the disk had less room than
// the hole. Growth past the end takes its room first too (only the hole's
// room left: the write is refused, not cut). A file the caller may only
// write and that holds no text is written through bindfs, and so is a
// write-only file on ramfs, which has no room to run short of.
TEST(FioFileSystem, WritesInPlaceThroughFuseFindHolesByReading) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a file system needs root";
  namespace fs = std::filesystem;
  MOUNTED mounted;
  std::vector<std::pair<fs::path, fs::perms>> opened;
  for (const fs::path& d : {fs::current_path().parent_path(), fs::current_path()}) {
    opened.emplace_back(d, fs::status(d).permissions());
    fs::permissions(d, fs::perms::others_exec, fs::perm_options::add);
  }
  fs::create_directory("small");
  if (::mount("tmpfs", "small", "tmpfs", 0, "size=1m") != 0) GTEST_SKIP() << "cannot mount a tmpfs of 1 MiB";
  mounted.points.push_back("small");
  fs::create_directory("small/d");
  fs::permissions("small/d", fs::perms::all);
  fs::create_directory("fused");
  if (std::system("bindfs -o attr_timeout=0,entry_timeout=0 small/d fused >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "cannot mount bindfs over the tmpfs (bindfs, /dev/fuse)";
  mounted.points.push_back("fused");
  const std::string ram_why = mounted.mount_at("ram", "ramfs");
  if (ram_why.empty()) fs::permissions("ram", fs::perms::all);
  // Leaves `kib` KiB free on the tmpfs: fills it, then gives pages back.
  auto free_kib = [] {
    struct statvfs v;
    return ::statvfs("small", &v) == 0 ? uint64_t(v.f_bavail) * v.f_frsize / 1024 : 0;
  };
  auto leave_free = [&](uint64_t kib) {
    const int filler = ::open("small/filler", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const std::string chunk(4096, 'z');
    while (filler >= 0 && ::write(filler, chunk.data(), chunk.size()) > 0) {
    }
    for (off_t length = filler >= 0 ? ::lseek(filler, 0, SEEK_END) : 0; free_kib() < kib && length > 0;) {
      length -= 4096;
      if (::ftruncate(filler, length) != 0) break;
    }
    if (filler >= 0) ::close(filler);
    return free_kib() >= kib && free_kib() < kib + 4;
  };
  const std::string no_room = "cannot write the file: No space left on device";
  const size_t K = 1024;
  const uint64_t empty_kib = free_kib();
  struct ROW {
    const char* what;
    const char* dir;      // where the file is written
    bool nobody;          // nobody's write-only file (0200), written by nobody
    size_t old_kib;       // the old text: data, a hole, data; 0: an empty file
    size_t new_kib;
    uint64_t free_kib;    // room left on the tmpfs
    const std::string& told;
  } const rows[] = {
      {"a hole with as many blocks, less room than the hole", "fused", false, 192, 192, 32, no_room},
      {"a hole with as many blocks, room for the hole", "fused", false, 192, 192, 72, "written"},
      {"growth past the blocks kept, room for the hole only", "fused", false, 192, 320, 96, no_room},
      {"growth past the blocks kept, room for both", "fused", false, 192, 320, 136, "written"},
      {"an empty write-only file", "fused", true, 0, 8, 512, "written"},
      {"a write-only file on ramfs", "ram", true, 192, 192, 512, "written"},
  };
  int made = 0;
  std::vector<std::string> not_run;
  for (const ROW& r : rows) {
    SCOPED_TRACE(r.what);
    if (std::string(r.dir) == "ram" && !ram_why.empty()) {
      not_run.push_back(ram_why);
      continue;
    }
    fs::remove("small/filler");
    for (const auto& entry : fs::directory_iterator("small/d")) fs::remove(entry.path());
    // bindfs lets go of a removed file after the removal returns: the room
    // is counted only once the whole tmpfs is free again.
    for (int wait = 0; wait < 200 && free_kib() < empty_kib; ++wait) ::usleep(10000);
    const std::string name = "f" + std::to_string(made++);
    // Made on the file system itself: bindfs passes no fallocate.
    const std::string real = (std::string(r.dir) == "ram" ? "ram/" : "small/d/") + name;
    const std::string path = std::string(r.dir) + "/" + name, other = real + "_2";
    std::string old(r.old_kib * K, '\0');
    const int fd = ::open(real.c_str(), O_WRONLY | O_CREAT | O_EXCL, r.nobody ? 0200 : 0644);
    ASSERT_GE(fd, 0) << std::strerror(errno);
    if (r.old_kib) {
      std::fill_n(old.begin(), 64 * K, 'a');
      std::fill_n(old.end() - 64 * K, 64 * K, 'b');
      ASSERT_EQ(::pwrite(fd, old.data(), 64 * K, 0), ssize_t(64 * K));
      ASSERT_EQ(::pwrite(fd, old.data() + old.size() - 64 * K, 64 * K, off_t(old.size() - 64 * K)),
                ssize_t(64 * K));
      if (std::string(r.dir) != "ram") {
        ASSERT_EQ(::fallocate(fd, FALLOC_FL_KEEP_SIZE, off_t(old.size()), off_t(64 * K)), 0) << std::strerror(errno);
        struct stat st;
        ASSERT_EQ(::fstat(fd, &st), 0);
        ASSERT_GE(uint64_t(st.st_blocks) * 512, uint64_t(st.st_size));  // as many blocks as its length
      }
    }
    ::close(fd);
    if (r.nobody) {
      ASSERT_EQ(::chown(real.c_str(), kNobody, kNobody), 0);
    }
    fs::create_hard_link(real, other);  // so it is written in place
    if (std::string(r.dir) != "ram") {
      ASSERT_TRUE(leave_free(r.free_kib)) << free_kib() << " KiB free";
    }
    std::string why;
    if (!write_and_check(r.nobody, path, std::string(r.new_kib * K, 'n'), other, old, r.told, &why))
      not_run.push_back(why);
  }
  fs::remove("small/filler");
  for (const auto& [d, perms] : opened) fs::permissions(d, perms);
  if (!not_run.empty()) GTEST_SKIP() << "rows did not run: " << not_run.front();
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
