// fio.cpp — file names and file-system operations over std::filesystem.
//
// Every operation uses the error_code forms of std::filesystem, so a failure
// becomes a false or null result instead of an exception.
#include "fio/fio.h"
#include "gen/gen.h"
#include "msg/msg.h"
#include "testkit/platform_test_hooks.h"
#include "thr/thr_end_signal.h"
#include "thr/thr_fork_int.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

std::string fio_not_a_file_of_one_name(const struct stat& st) {
  if (S_ISFIFO(st.st_mode)) return "a FIFO";
  if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return "a device";
  if (!S_ISREG(st.st_mode)) return "not a regular file";
  return st.st_nlink == 1 ? "" : "a file with " + std::to_string(st.st_nlink) + " names (hard links)";
}

bool fio_is_own_entry(const std::string& path, bool or_link) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || st.st_uid != ::geteuid()) return false;
  if (S_ISLNK(st.st_mode)) return or_link;
  return fio_not_a_file_of_one_name(st).empty();
}

bool fio_flock_excludes_on(unsigned long fs_type) {
  switch (fs_type) {
    case 0xEF53UL:      // ext2, ext3, ext4
    case 0x58465342UL:  // XFS
    case 0x9123683EUL:  // Btrfs
    case 0x01021994UL:  // tmpfs
    case 0x858458F6UL:  // ramfs
    case 0x2FC12FC1UL:  // ZFS
    case 0xF2F52010UL:  // F2FS
    case 0x3153464AUL:  // JFS
    case 0x52654973UL:  // ReiserFS
    case 0xCA451A4EUL:  // bcachefs
    case 0x3434UL:      // NILFS2
    case 0x794C7630UL:  // overlayfs (a container's root)
      return true;
    default:
      return false;
  }
}

std::string fio_get_unc_full_path(const std::string& name) {
  if (name.empty()) return std::string();
  std::error_code ec;
  fs::path p = fs::absolute(fs::path(name), ec);
  if (ec) p = fs::path(name);
  p = p.lexically_normal();
  std::string s = p.string();
  // "a/b/" and "a/b" name the same directory; keep the root's slash.
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

FIO_PATH::FIO_PATH(const std::string& path) {
  fs::path p(path);
  m_directory = p.parent_path().string();
  filename(p.filename().string());
}

std::string FIO_PATH::fullpath() const {
  fs::path p = m_directory.empty() ? fs::path(filename()) : fs::path(m_directory) / filename();
  return fio_get_unc_full_path(p.string());
}

std::string FIO_PATH::filename() const {
  return m_extension.empty() ? m_base : m_base + "." + m_extension;
}

FIO_PATH& FIO_PATH::filename(const std::string& name) {
  std::string leaf = fs::path(name).filename().string();
  size_t dot = leaf.rfind('.');
  if (dot == std::string::npos || dot == 0) {  // ".hidden" has no extension
    m_base = leaf;
    m_extension.clear();
  } else {
    m_base = leaf.substr(0, dot);
    m_extension = leaf.substr(dot + 1);
  }
  return *this;
}

FIO_PATH& FIO_PATH::base(const std::string& base) {
  m_base = base;
  return *this;
}

FIO_PATH& FIO_PATH::directory(const std::string& dir) {
  m_directory = dir;
  return *this;
}

FIO_PATH& FIO_PATH::extension(const std::string& ext, const std::string& second) {
  m_extension = (!ext.empty() && ext[0] == '.') ? ext.substr(1) : ext;
  if (!second.empty()) {
    std::string s = second[0] == '.' ? second.substr(1) : second;
    m_extension = m_extension.empty() ? s : m_extension + "." + s;
  }
  return *this;
}

bool FIO_FILE_SYSTEM::exists(const std::string& path) {
  std::error_code ec;
  return !path.empty() && fs::exists(fs::path(path), ec);
}

bool FIO_FILE_SYSTEM::is_directory(const std::string& path) {
  std::error_code ec;
  return !path.empty() && fs::is_directory(fs::path(path), ec);
}

bool FIO_FILE_SYSTEM::create(const std::string& path) {
  if (path.empty()) return false;
  std::error_code ec;
  fs::create_directories(fs::path(path), ec);
  return fs::is_directory(fs::path(path), ec);
}

bool FIO_FILE_SYSTEM::remove_if_exists(const std::string& path) {
  if (path.empty()) return true;
  std::error_code ec;
  fs::remove(fs::path(path), ec);
  return !fs::exists(fs::symlink_status(fs::path(path), ec));
}

bool FIO_FILE_SYSTEM::rename(const std::string& from, const std::string& to) {
  std::error_code ec;
  fs::rename(fs::path(from), fs::path(to), ec);
  return !ec;
}

bool FIO_FILE_SYSTEM::copy(const std::string& from, const std::string& to) {
  std::error_code ec;
  fs::copy_file(fs::path(from), fs::path(to), fs::copy_options::overwrite_existing, ec);
  return !ec;
}

FILE* FIO_FILE_SYSTEM::fopen(const std::string& path, const char* mode) {
  if (path.empty() || !mode) return nullptr;
  return std::fopen(fio_get_unc_full_path(path).c_str(), mode);
}

FIO_FILE_SYSTEM::OPEN_STATUS FIO_FILE_SYSTEM::open_regular_file(const std::string& path, uint64_t max_bytes,
                                                                FILE** file, uint64_t* size, int* error_number) {
  *file = nullptr;
  *size = 0;
  int unused = 0;
  int& error = error_number ? *error_number : unused;
  error = 0;
  if (path.empty()) {
    error = ENOENT;
    return FIO_CANNOT_OPEN;
  }
  // stat first, so that a device is not even opened (opening some has side
  // effects); then the type again on the descriptor, which is what is read.
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    error = errno;
    return FIO_CANNOT_OPEN;
  }
  if (!S_ISREG(st.st_mode)) return FIO_NOT_REGULAR;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    return FIO_CANNOT_OPEN;
  }
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return FIO_NOT_REGULAR;
  }
  if (uint64_t(st.st_size) > max_bytes) {
    ::close(fd);
    return FIO_TOO_LARGE;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  FILE* f = ::fdopen(fd, "rb");
  if (!f) {
    error = errno;
    ::close(fd);
    return FIO_CANNOT_OPEN;
  }
  *file = f;
  *size = uint64_t(st.st_size);
  return FIO_OPENED;
}

std::string FIO_FILE_SYSTEM::open_problem(OPEN_STATUS status, uint64_t max_bytes, int error_number) {
  switch (status) {
    case FIO_OPENED: return std::string();
    case FIO_NOT_REGULAR: return "not a regular file";
    case FIO_TOO_LARGE: {
      const bool gib = max_bytes >= (uint64_t(1) << 30) && max_bytes % (uint64_t(1) << 30) == 0;
      const std::string bound =
          gib ? std::to_string(max_bytes >> 30) + " GiB" : std::to_string(max_bytes >> 20) + " MiB";
      return "the file is larger than " + std::to_string(max_bytes) + " bytes (" + bound + ")";
    }
    default: break;
  }
  return error_number ? "cannot read the file: " + std::string(std::strerror(error_number)) : "cannot read the file";
}

bool FIO_FILE_SYSTEM::read_regular_file(const std::string& path, uint64_t max_bytes, std::string* text,
                                        std::string* problem) {
  text->clear();
  FILE* f = nullptr;
  uint64_t size = 0;
  int error = 0;
  const OPEN_STATUS status = open_regular_file(path, max_bytes, &f, &size, &error);
  if (status != FIO_OPENED) {
    *problem = open_problem(status, max_bytes, error);
    return false;
  }
  // The size is the one the descriptor had when opened; a file that grows
  // meanwhile is read to that size and refused, one that shrinks is refused.
  // The text is sized once, so the read takes the file's size and no more;
  // memory the system refuses is a problem, never an exception.
  try {
    text->resize(size_t(size));
  } catch (const std::bad_alloc&) {
    std::fclose(f);
    std::string().swap(*text);
    *problem = "not enough memory for the file";
    return false;
  }
  errno = 0;
  const size_t got = size == 0 ? 0 : std::fread(text->data(), 1, text->size(), f);
  const bool failed = std::ferror(f) != 0;
  const int read_error = errno ? errno : EIO;
  const bool whole = !failed && got == text->size() && std::fgetc(f) == EOF && !std::ferror(f);
  std::fclose(f);
  if (!whole) {
    std::string().swap(*text);
    *problem = failed ? "cannot read the file: " + std::string(std::strerror(read_error))
                      : "the file changed while it was read";
  }
  return whole;
}

namespace {

// The most bytes the process may write into a regular file (its
// RLIMIT_FSIZE), so that a write past it is refused before it starts rather
// than cut by the system (which also sends SIGXFSZ).
uint64_t fio_size_limit() {
  struct rlimit lim;
  if (::getrlimit(RLIMIT_FSIZE, &lim) != 0 || lim.rlim_cur == RLIM_INFINITY) return UINT64_MAX;
  return uint64_t(lim.rlim_cur);
}

// Writes `text` to `fd` at its offset, or at `*at` (advanced) when given,
// resuming short writes; 0 or the system's error.
int fio_write_all(int fd, std::string_view text, uint64_t* at = nullptr) {
  const char* from = text.data();
  size_t left = text.size();
  while (left > 0) {
    const ssize_t n = at ? ::pwrite(fd, from, left, off_t(*at)) : ::write(fd, from, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno ? errno : EIO;
    }
    if (n == 0) return EIO;  // no progress: never loop on it
    from += n;
    left -= size_t(n);
    if (at) *at += uint64_t(n);
  }
  return 0;
}

// Reasons of a refused write that are not the system's error numbers.
constexpr int kFioNulInPath = -1;        // the path holds a NUL byte
constexpr int kFioNoTemporaryName = -2;  // every name a temporary may take is taken
constexpr int kFioHolesUnknown = -3;     // the holes of a file written in place cannot be found
constexpr int kFioNotOwnFile = -4;       // keep_to_own_files: the path holds another's link, a FIFO ...
constexpr int kFioInterrupted = -5;      // an end signal removed the temporary; the process went on
constexpr int kFioNotMade = -6;          // keep_files_not_made: a file this process did not make
constexpr int kFioChanged = -7;          // the name changed between its check and its open: examined again
constexpr int kFioNotRecorded = -8;      // the runs record would not take a line of the run's
constexpr int kFioTemporaryNames = 100;

// "SIGINT" for SIGINT.
std::string fio_signal_name(int sig) {
  const char* name = sigabbrev_np(sig);
  return name ? std::string("SIG") + name : "signal " + std::to_string(sig);
}

// Writes zeros over bytes [at, end) of the file open on `fd`.
int fio_write_zeros(int fd, uint64_t at, uint64_t end) {
  static const char zeros[64 << 10] = {};
  while (at < end) {
    const size_t n = size_t(std::min<uint64_t>(end - at, sizeof zeros));
    if (const int error = fio_write_all(fd, std::string_view(zeros, n), &at)) return error;
  }
  return 0;
}

// Writes zeros over every run of 512-byte blocks of the first `end` bytes
// of the file open on `fd` that reads as zeros. A hole reads as zeros and
// starts and ends on a block of the file system, a multiple of 512 bytes,
// so every hole among those bytes takes its room; data that reads as zeros
// gets the zeros it holds. A file open for writing alone cannot be read:
// kFioHolesUnknown, before anything is written. 0 or the system's error.
int fio_fill_zero_runs(int fd, uint64_t end) {
  constexpr size_t kBlock = 512;
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) return errno;
  if ((flags & O_ACCMODE) == O_WRONLY) return kFioHolesUnknown;
  char buffer[64 << 10];
  uint64_t run = UINT64_MAX;  // where the zeros being read began; none
  uint64_t at = 0;
  while (at < end) {
    const size_t want = size_t(std::min<uint64_t>(end - at, sizeof buffer));
    const ssize_t got = ::pread(fd, buffer, want, off_t(at));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return errno == EBADF ? kFioHolesUnknown : errno;
    // Whole blocks are looked at, and the last bytes: a short read goes on
    // from its last whole block, and one of less than a block is the file's
    // end (the file was cut meanwhile).
    size_t usable = size_t(got);
    if (at + usable < end) usable -= usable % kBlock;
    if (usable == 0) break;
    for (size_t k = 0; k < usable; k += kBlock) {
      const size_t n = std::min(kBlock, usable - k);
      const bool zero = buffer[k] == 0 && std::memcmp(buffer + k, buffer + k + 1, n - 1) == 0;
      if (zero && run == UINT64_MAX) run = at + k;
      if (!zero && run != UINT64_MAX) {
        if (const int error = fio_write_zeros(fd, run, at + k)) return error;
        run = UINT64_MAX;
      }
    }
    at += usable;
  }
  return run == UINT64_MAX ? 0 : fio_write_zeros(fd, run, at);
}

// True when the file open on `fd` (of state `st`) may hold holes that the
// system's SEEK_HOLE does not tell. FUSE file systems without an lseek of
// their own (bindfs among them) tell no hole in any file, and their block
// count is the server's word: a file with a real hole may hold as many
// blocks as its length (ext2's indirect blocks; blocks kept past the end
// by fallocate --keep-size), so on FUSE every file counts so. Elsewhere a
// file counts so when it holds fewer blocks than its length, yet the first
// hole is said to lie at its end. A ramfs file holds its pages only and has
// no room to run short of.
bool fio_holes_untold(int fd, const struct stat& st) {
  struct statfs sfs;
  const bool typed = ::fstatfs(fd, &sfs) == 0;
  if (typed && sfs.f_type == RAMFS_MAGIC) return false;
  if (!typed || sfs.f_type == FUSE_SUPER_MAGIC) return true;
  if (uint64_t(st.st_blocks) * 512 >= uint64_t(st.st_size)) return false;
  const off_t hole = ::lseek(fd, 0, SEEK_HOLE);
  return hole >= 0 && hole >= st.st_size;
}

// Takes the room for `total` bytes of the regular file open on `fd` (of
// state `st`) where the file system reserves nothing (ext2, ramfs, bindfs:
// no fallocate), by writing it, without changing a byte of the text: each
// hole of the current text is written with the zeros it reads as, and the
// length past the current end is written with zeros. Holes are found with
// SEEK_HOLE and SEEK_DATA, which need no read permission (a file the caller
// may only write hides nothing); a system that cannot tell them has the
// write refused before the file changes. Where SEEK_HOLE's answer is not
// to be taken (fio_holes_untold: FUSE, or fewer blocks than the length and
// no hole told before the end), the holes are found by reading
// (fio_fill_zero_runs), and a file the caller may not read is refused
// before it changes. 0 or the system's error (the caller cuts the file
// back).
int fio_reserve_by_writing(int fd, const struct stat& st, uint64_t total) {
  const uint64_t size = uint64_t(st.st_size);
  const uint64_t text_end = std::min(size, total);
  if (text_end > 0 && fio_holes_untold(fd, st)) {
    if (const int error = fio_fill_zero_runs(fd, text_end)) return error;
    return fio_write_zeros(fd, size, total);
  }
  for (uint64_t at = 0; at < text_end;) {
    const off_t hole = ::lseek(fd, off_t(at), SEEK_HOLE);
    if (hole < 0) return errno == EINVAL ? EOPNOTSUPP : errno;
    if (uint64_t(hole) >= text_end) break;
    // The hole runs to the next data, or to the end where none follows.
    const off_t data = ::lseek(fd, hole, SEEK_DATA);
    if (data < 0 && errno != ENXIO) return errno;
    const uint64_t end = data < 0 ? text_end : std::min(uint64_t(data), text_end);
    if (const int error = fio_write_zeros(fd, uint64_t(hole), end)) return error;
    at = end;
  }
  return fio_write_zeros(fd, size, total);
}

// Writes the parts as the whole of the regular file open on `fd`, in place,
// so that a write the system refuses for want of room leaves the file as it
// was: the new length is checked against the size limit and its room
// reserved (fallocate, else written: fio_reserve_by_writing) before a byte
// of the text changes, then the text is written from the start and the file
// cut to its length. A reservation that fails cuts the file back to its
// length and refuses the write. Only a failure of the device after the room
// is reserved can leave the file part new. 0 or the system's error. A device
// or a FIFO takes the text as it comes.
int fio_write_in_place(int fd, const std::string_view* parts, size_t count) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return errno;
  if (!S_ISREG(st.st_mode)) {
    for (size_t k = 0; k < count; ++k)
      if (const int error = fio_write_all(fd, parts[k])) return error;
    return 0;
  }
  uint64_t total = 0;
  for (size_t k = 0; k < count; ++k) total += parts[k].size();
  if (total > fio_size_limit()) return EFBIG;
  if (total > 0) {
    int error;
    do {
      error = ::fallocate(fd, 0, 0, off_t(total)) == 0 ? 0 : errno;
    } while (error == EINTR);
    if (error == EOPNOTSUPP || error == ENOSYS) error = fio_reserve_by_writing(fd, st, total);
    if (error) {
      // A reservation stopped part-way may have grown the file.
      struct stat now;
      if (::fstat(fd, &now) == 0 && now.st_size != st.st_size) (void)!::ftruncate(fd, st.st_size);
      return error;
    }
  }
  uint64_t at = 0;
  for (size_t k = 0; k < count; ++k)
    if (const int error = fio_write_all(fd, parts[k], &at)) return error;
  if (uint64_t(st.st_size) > total && ::ftruncate(fd, off_t(total)) != 0) return errno;
  return 0;
}

// Opens an existing file to be written in place, not cut: for reading and
// writing where the caller may, else for writing alone (a file the caller
// may only write is written as any other). -1 with errno.
int fio_open_existing_for_writing(const std::string& path, int flags = 0) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | flags);
  return fd >= 0 || errno != EACCES ? fd : ::open(path.c_str(), O_WRONLY | O_CLOEXEC | flags);
}

// Why the file open on `fd`, reached without a link, is not one a write of
// the caller's own may change: "" for a regular file of one name that the
// caller owns, else what it is.
std::string fio_not_own_open_file(int fd) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return std::strerror(errno);
  if (std::string kind = fio_not_a_file_of_one_name(st); !kind.empty()) return kind;
  return st.st_uid == ::geteuid() ? "" : "another user's file";
}

// Creates a new file beside `target`, in the same directory, exclusively
// (a name taken, a link planted there included, is passed over), readable
// and writable by the process (mode 0666 less the umask, as a created file
// gets): "<target>.tmp<pid>_<k>" with the first free k below 100, the
// target's own name cut at its end where the whole would pass the longest
// name a directory takes. -1 with the system's error.
int fio_create_beside(const std::string& target, std::string* temp, int* error, mode_t mode = 0666) {
  const size_t leaf_at = target.rfind('/') + 1;  // 0 for a bare name
  const std::string_view leaf = std::string_view(target).substr(leaf_at);
  const std::string pid = ".tmp" + std::to_string(::getpid()) + "_";
  *error = 0;
  // The name is made apart and given to *temp only once it is created:
  // memory refused half way through it must not leave *temp naming the
  // target (or another file), which a failed write removes.
  temp->clear();
  std::string name;
  for (int attempt = 0; attempt < kFioTemporaryNames; ++attempt) {
    const std::string suffix = pid + std::to_string(attempt);
    const size_t keep = std::min(leaf.size(), size_t(NAME_MAX) - suffix.size());
    name.assign(target, 0, leaf_at);
    name.append(leaf.substr(0, keep));
    name.append(suffix);
    const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0) return *temp = std::move(name), fd;
    *error = errno ? errno : EIO;
    if (*error != EEXIST) break;
  }
  if (*error == EEXIST) *error = kFioNoTemporaryName;
  temp->clear();
  return -1;
}

// True when a temporary refused for `error` is no reason to refuse the
// write: the directory will not take a new name from the caller (no write
// permission, an immutable directory, a name too long for the directory),
// while writing the file in place may still succeed. Refusals for want of
// room or of file descriptors (ENOSPC, EDQUOT, EMFILE, EIO …) are not:
// the file is left as it was.
bool fio_temp_refused_by_directory(int error) {
  return error == EACCES || error == EPERM || error == ENAMETOOLONG || error == EROFS;
}

// The directory that holds `path`'s last name ("." for a bare name).
std::string fio_directory_of(const std::string& path) {
  const std::string dir = fs::path(path).parent_path().string();
  return dir.empty() ? std::string(".") : dir;
}

// True when the directory of `target` is sticky and lets the caller, who
// owns neither it nor the file (of owner `owner`), rename over nothing of
// another's: root may, anyone else may not.
bool fio_sticky_forbids(const std::string& target, uid_t owner) {
  struct stat dir;
  if (::stat(fio_directory_of(target).c_str(), &dir) != 0) return false;
  const uid_t me = ::geteuid();
  return (dir.st_mode & S_ISVTX) && me != 0 && owner != me && dir.st_uid != me;
}

// True when the directory of `target` is append-only or immutable: a name
// made there cannot be renamed nor removed again, so no temporary is made.
// The flags are read from the directory's attributes (which need no read
// permission), else from the directory itself; a directory whose flags
// cannot be read counts as neither (the rename's refusal is then met at the
// commit).
bool fio_directory_keeps_names(const std::string& target) {
  const std::string dir = fio_directory_of(target);
  const uint64_t kept = STATX_ATTR_APPEND | STATX_ATTR_IMMUTABLE;
  struct statx sx;
  if (::statx(AT_FDCWD, dir.c_str(), 0, STATX_BASIC_STATS, &sx) == 0 && (sx.stx_attributes_mask & kept) == kept)
    return (sx.stx_attributes & kept) != 0;
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  const bool keeps = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & (FS_APPEND_FL | FS_IMMUTABLE_FL)) != 0;
  ::close(fd);
  return keeps;
}

// True when the file open on `fd` is the root of a mount (a file bind-mounted
// at `target`, as a container's output file is): a rename over it is refused.
bool fio_is_mount_root(int fd, const std::string& target) {
  struct statx sx;
  if (::statx(fd, "", AT_EMPTY_PATH, STATX_BASIC_STATS, &sx) == 0 && (sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) &&
      (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT))
    return true;
  struct stat file, dir;
  return ::fstat(fd, &file) == 0 && ::stat(fio_directory_of(target).c_str(), &dir) == 0 && file.st_dev != dir.st_dev;
}

// True when the file open on `fd` carries extended attributes that a new
// file would not get: a POSIX ACL, user.*, trusted.* or security attributes
// but the security label, which the system gives a new file by its
// directory as it gave this one.
bool fio_has_attributes_a_rename_drops(int fd) {
  const ssize_t size = ::flistxattr(fd, nullptr, 0);
  if (size <= 0) return false;
  std::string names(size_t(size), '\0');
  const ssize_t got = ::flistxattr(fd, names.data(), names.size());
  if (got < 0) return errno == ERANGE;  // more came meanwhile
  for (size_t at = 0; at < size_t(got);) {
    const size_t length = ::strnlen(names.data() + at, size_t(got) - at);
    if (std::string_view(names.data() + at, length) != "security.selinux") return true;
    at += length + 1;
  }
  return false;
}

// ---- the test hook (platform_test_hooks.h)
std::mutex g_test_hook_mutex;
std::atomic<bool> g_test_hook_set{false};
constinit std::atomic<kavu_platform::FIO_END_ACTION_HOOK> g_end_action_hook{nullptr};
kavu_platform::FIO_TEST_HOOK g_test_hook = nullptr;
void* g_test_hook_data = nullptr;

void fio_test_point(kavu_platform::FIO_TEST_POINT point, const std::string& path) {
  if (!g_test_hook_set.load(std::memory_order_acquire)) return;
  kavu_platform::FIO_TEST_HOOK hook;
  void* data;
  {
    std::lock_guard<std::mutex> lock(g_test_hook_mutex);
    hook = g_test_hook;
    data = g_test_hook_data;
  }
  if (hook) hook(point, path.c_str(), data);
}

// ---- the guard of directories others may write (FIO_FILE_SYSTEM::
// keep_files_of_run): the directories kept by a run, and the files this
// process made through the own-file path, by device and inode.
struct FIO_MADE_FILE {
  std::string dir;
  std::string name;
  dev_t dev;
  ino_t ino;
};
struct FIO_KEPT_DIR {
  std::string dir;   // full path
  std::string run;   // the run its files belong to ("": a run of a parent this child left)
  bool strict;       // only files of this process, its run or ended runs are replaced
  bool began;        // this process began the run: it records its end
};
std::mutex g_kept_mutex;
std::vector<FIO_KEPT_DIR> g_kept_dirs;
std::vector<FIO_MADE_FILE> g_made_files;  // one entry a name

// A child forked without exec made none of its parent's files and does not
// go on with its parent's run: it keeps the directories kept so, and takes
// no file of its parent's run there for one of its own (the run's files are
// a running run's to it).
void forget_made_files_in_child() {
  g_made_files.clear();
  for (FIO_KEPT_DIR& kept : g_kept_dirs) {
    kept.run.clear();
    kept.began = false;
  }
}
[[maybe_unused]] const bool g_kept_across_fork =
    (thr_lock_across_fork(&g_kept_mutex, THR_FORK_FILES, forget_made_files_in_child), true);

// The full path of the directory that holds `path`. A path already full
// and normal (as the library's writers give them) is only cut.
std::string fio_full_directory_of(const std::string& path) {
  const bool normal = !path.empty() && path[0] == '/' && path.back() != '/' && path.find("//") == std::string::npos &&
                      path.find("/./") == std::string::npos && path.find("/../") == std::string::npos &&
                      path.compare(path.size() - std::min<size_t>(path.size(), 2), 2, "/.") != 0 &&
                      path.compare(path.size() - std::min<size_t>(path.size(), 3), 3, "/..") != 0;
  if (normal) {
    const size_t slash = path.rfind('/');
    return slash == 0 ? std::string("/") : path.substr(0, slash);
  }
  return fio_get_unc_full_path(fio_directory_of(fio_get_unc_full_path(path)));
}

// The last name of `path`.
std::string fio_leaf_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// How the directory `dir` (a full path) is kept by a run of this process.
struct FIO_KEEP {
  bool kept = false;
  bool strict = false;
  std::string run;
  bool began = false;  // this process began the run (and holds its lock)
  // The run holds a lock of the directory that keeps every other holder
  // out: no run of another process is live there but one this process sees
  // running, so a run whose end cannot be checked from here has ended.
  bool excludes() const { return kept && began && !strict; }
};
FIO_KEEP fio_keep_of_dir(const std::string& dir) {
  std::lock_guard<std::mutex> lock(g_kept_mutex);
  for (const FIO_KEPT_DIR& k : g_kept_dirs)
    if (k.dir == dir) return {true, k.strict, k.run, k.began};
  return {};
}

// True when `st` is a regular file this process made at `path`.
bool fio_made_here(const std::string& path, const struct stat& st) {
  if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) return false;
  const std::string dir = fio_full_directory_of(path);
  std::lock_guard<std::mutex> lock(g_kept_mutex);
  for (const FIO_MADE_FILE& f : g_made_files)
    if (f.dev == st.st_dev && f.ino == st.st_ino && f.dir == dir) return true;
  return false;
}

void fio_note_made(const std::string& path, const struct stat& st) {
  const std::string dir = fio_full_directory_of(path), name = fio_leaf_of(path);
  std::lock_guard<std::mutex> lock(g_kept_mutex);
  g_made_files.erase(std::remove_if(g_made_files.begin(), g_made_files.end(),
                                    [&](const FIO_MADE_FILE& f) { return f.name == name && f.dir == dir; }),
                     g_made_files.end());
  g_made_files.push_back({dir, name, st.st_dev, st.st_ino});
}

void fio_forget_made(const struct stat& st) {
  std::lock_guard<std::mutex> lock(g_kept_mutex);
  g_made_files.erase(std::remove_if(g_made_files.begin(), g_made_files.end(),
                                    [&](const FIO_MADE_FILE& f) { return f.dev == st.st_dev && f.ino == st.st_ino; }),
                     g_made_files.end());
}

bool fio_same_file(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// True when others than the caller may write the directory `dir`: another
// user's directory, one group- or world-writable or sticky, or one whose ACL
// lets a named user or group write (the mask is not weighed: such an entry
// counts). A directory that cannot be examined counts so.
bool fio_others_may_write(const std::string& dir) {
  struct stat st;
  if (::stat(dir.c_str(), &st) != 0) return true;
  if (st.st_uid != ::geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH | S_ISVTX))) return true;
  // system.posix_acl_access: a 4-byte header, then entries of a 16-bit tag,
  // 16-bit permissions and a 32-bit id; tags 2 and 8 name a user, a group.
  unsigned char acl[4 + 8 * 64];
  const ssize_t n = ::getxattr(dir.c_str(), "system.posix_acl_access", acl, sizeof acl);
  if (n < 0) return errno == ERANGE;  // more entries than read: named ones among them
  for (ssize_t at = 4; at + 8 <= n; at += 8) {
    const unsigned tag = unsigned(acl[at]) | unsigned(acl[at + 1]) << 8;
    const unsigned perm = unsigned(acl[at + 2]) | unsigned(acl[at + 3]) << 8;
    if ((tag == 0x02 || tag == 0x08) && (perm & 0x02)) return true;
  }
  return false;
}

// True when a lock of a file in the directory `dir` may not keep every other
// holder out: its file system is not one known to lock for all its users
// (fio_flock_excludes_on), or flock fails there (gen_lock_file, which tests
// make fail as a file system without locks fails it).
bool fio_lock_may_not_exclude(const std::string& dir) {
  struct statfs sfs;
  if (::statfs(dir.c_str(), &sfs) != 0 || !fio_flock_excludes_on(static_cast<unsigned long>(sfs.f_type))) return true;
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;  // the file system's word is taken
  const int rc = gen_lock_file(fd, LOCK_SH | LOCK_NB);
  const int error = errno;
  ::close(fd);  // the lock goes with it
  return rc != 0 && error != EWOULDBLOCK;
}

// ---- the runs record: "<dir>/.kavu_runs.<uid>", a file of the user's own
// to which lines are appended, each a kind, fields escaped (bytes up to the
// blank, '%', '#' and from 0x7f as %XX) and " #" with the FNV-1a hash of
// what precedes it, so a damaged or interleaved line is dropped:
//   R <run> <host> <boot id> <pid namespace> <pid> <start>   the run began in that process
//   E <run>                                                 the run ended
//   M <run> <inode> <size> <mtime s> <mtime ns> <name>     the run made the file <name>
// A file is the run's while it is found at its name with that inode, size
// and modification time (a rename keeps all three; the device is left out,
// since two mounts of one directory tell two). The run "-" made its file
// outside any run.
constexpr uint64_t kFioRecordCompactBytes = uint64_t(1) << 20;  // rewritten past this, at a run's start
constexpr uint64_t kFioRecordMaxBytes = uint64_t(64) << 20;      // read no further

std::string fio_record_path(const std::string& dir) { return dir + "/.kavu_runs." + std::to_string(::geteuid()); }

std::string fio_escape_field(std::string_view text) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u <= ' ' || u == '%' || u == '#' || u >= 0x7f) {
      out += '%';
      out += hex[u >> 4];
      out += hex[u & 15];
    } else {
      out += c;
    }
  }
  return out;
}

bool fio_unescape_field(std::string_view text, std::string* out) {
  out->clear();
  for (size_t k = 0; k < text.size(); ++k) {
    if (text[k] != '%') {
      *out += text[k];
      continue;
    }
    if (k + 2 >= text.size()) return false;
    unsigned value = 0;
    for (size_t d = k + 1; d <= k + 2; ++d) {
      const char c = text[d];
      value = value * 16 + unsigned(c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : 99);
    }
    if (value > 255) return false;
    *out += char(value);
    k += 2;
  }
  return true;
}

uint32_t fio_fnv1a(std::string_view text) {
  uint32_t h = 2166136261u;
  for (const char c : text) h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
  return h;
}

// One line of the record from its fields.
std::string fio_record_line(std::initializer_list<std::string_view> fields) {
  std::string line;
  for (std::string_view f : fields) {
    if (!line.empty()) line += ' ';
    line += fio_escape_field(f);
  }
  char hash[16];
  std::snprintf(hash, sizeof hash, " #%08x\n", fio_fnv1a(line));
  return line + hash;
}

// A process, as the record names it.
struct FIO_PROCESS {
  std::string host, boot, pidns;
  long pid = 0;
  unsigned long long start = 0;  // clock ticks after boot (/proc/<pid>/stat)
};

std::string fio_read_small_file(const char* path) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return "";
  char text[256];
  const ssize_t n = ::read(fd, text, sizeof text - 1);
  ::close(fd);
  if (n <= 0) return "";
  return std::string(text, size_t(n)).substr(0, std::string(text, size_t(n)).find('\n'));
}

// When the process `pid` started, 0 when it cannot be told.
unsigned long long fio_start_time(long pid) {
  const std::string stat = fio_read_small_file(("/proc/" + std::to_string(pid) + "/stat").c_str());
  const size_t close_paren = stat.rfind(')');
  if (close_paren == std::string::npos) return 0;
  // Fields from the state on: the start time is the 20th.
  size_t at = close_paren + 1;
  for (int field = 0; field < 20; ++field) {
    at = stat.find_first_not_of(' ', at);
    if (at == std::string::npos) return 0;
    if (field == 19) return std::strtoull(stat.c_str() + at, nullptr, 10);
    at = stat.find(' ', at);
    if (at == std::string::npos) return 0;
  }
  return 0;
}

FIO_PROCESS fio_this_process() {
  FIO_PROCESS p;
  char host[256] = "";
  if (::gethostname(host, sizeof host - 1) == 0) p.host = host;
  p.boot = fio_read_small_file("/proc/sys/kernel/random/boot_id");
  char ns[64];
  const ssize_t n = ::readlink("/proc/self/ns/pid", ns, sizeof ns - 1);
  if (n > 0) p.pidns.assign(ns, size_t(n));
  p.pid = long(::getpid());
  p.start = fio_start_time(p.pid);
  return p;
}

const FIO_PROCESS& this_process() {
  static const FIO_PROCESS me = fio_this_process();
  return me;
}
// Made as the layer loads, not at first use: a process that forks while
// another thread makes it would leave its child waiting for it for ever.
[[maybe_unused]] const bool g_this_process_at_load = (this_process(), true);

// What this process can tell of the process that began a run: only one of
// this host, boot and process namespace can be looked at, and is gone when
// it no longer runs or its number was taken by a process started since. Of
// any other nothing is known.
enum FIO_PROCESS_STATE {
  FIO_PROCESS_GONE,
  FIO_PROCESS_RUNNING,
  FIO_PROCESS_OTHER_HOST,
  FIO_PROCESS_OTHER_BOOT,       // this host's name, another boot (started again since, or another machine of that name)
  FIO_PROCESS_OTHER_NAMESPACE,  // this host and boot, another process namespace (a container)
  FIO_PROCESS_UNTOLD            // the record does not name it whole
};
FIO_PROCESS_STATE fio_process_state(const FIO_PROCESS& p) {
  const FIO_PROCESS& me = this_process();
  if (p.host.empty() || p.boot.empty() || p.pidns.empty() || p.pid <= 0) return FIO_PROCESS_UNTOLD;
  if (p.host != me.host) return FIO_PROCESS_OTHER_HOST;
  if (p.boot != me.boot) return FIO_PROCESS_OTHER_BOOT;
  if (p.pidns != me.pidns) return FIO_PROCESS_OTHER_NAMESPACE;
  if (::kill(pid_t(p.pid), 0) != 0 && errno == ESRCH) return FIO_PROCESS_GONE;
  const unsigned long long start = fio_start_time(p.pid);
  return start != 0 && p.start != 0 && start != p.start ? FIO_PROCESS_GONE : FIO_PROCESS_RUNNING;
}

// What the record holds.
struct FIO_RUNS {
  struct MADE {
    std::string run, name;
    uint64_t ino = 0, size = 0;
    int64_t s = 0, ns = 0;
  };
  std::unordered_map<std::string, std::vector<MADE>> made;  // by name
  std::unordered_map<std::string, FIO_PROCESS> began;
  std::unordered_set<std::string> ended;
  // A run ended when its line says so or its process is gone; for a run
  // that holds a lock keeping every other holder out (`excluding`), also
  // when its process cannot be checked from here, or its start is not told:
  // only a process seen running can still be using its files.
  bool has_ended(const std::string& run, bool excluding = false) const {
    if (run == "-" || ended.count(run)) return true;
    auto it = began.find(run);
    if (it == began.end()) return excluding;
    const FIO_PROCESS_STATE state = fio_process_state(it->second);
    return state == FIO_PROCESS_GONE || (excluding && state != FIO_PROCESS_RUNNING);
  }
};

// Parses one line (without its line end) into `runs`; false when damaged.
bool fio_parse_record_line(std::string_view line, FIO_RUNS* runs) {
  const size_t hash_at = line.rfind(" #");
  if (hash_at == std::string_view::npos || line.size() - hash_at != 10) return false;
  char* end = nullptr;
  const std::string hash(line.substr(hash_at + 2));
  const unsigned long told = std::strtoul(hash.c_str(), &end, 16);
  if (end != hash.c_str() + 8 || told != fio_fnv1a(line.substr(0, hash_at))) return false;
  std::vector<std::string> f;
  std::string field;
  for (size_t at = 0; at <= hash_at;) {
    const size_t blank = std::min(line.find(' ', at), hash_at);
    if (!fio_unescape_field(line.substr(at, blank - at), &field)) return false;
    f.push_back(field);
    at = blank + 1;
  }
  auto number = [](const std::string& text, auto* value) {
    char* stop = nullptr;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), &stop, 10);
    if (text.empty() || *stop || errno) return false;
    *value = static_cast<std::remove_pointer_t<decltype(value)>>(v);
    return true;
  };
  if (f[0] == "R" && f.size() == 7) {
    FIO_PROCESS p{f[2], f[3], f[4]};
    long long start = 0;
    if (!number(f[5], &p.pid) || !number(f[6], &start)) return false;
    p.start = static_cast<unsigned long long>(start);
    runs->began[f[1]] = p;
    return true;
  }
  if (f[0] == "E" && f.size() == 2) {
    runs->ended.insert(f[1]);
    return true;
  }
  if (f[0] == "M" && f.size() == 7) {
    FIO_RUNS::MADE m;
    m.run = f[1];
    m.name = f[6];
    long long ino = 0, size = 0;
    if (!number(f[2], &ino) || !number(f[3], &size) || !number(f[4], &m.s) || !number(f[5], &m.ns)) return false;
    m.ino = uint64_t(ino);
    m.size = uint64_t(size);
    runs->made[m.name].push_back(std::move(m));
    return true;
  }
  return false;
}

// Opens the record at `path` as a file of the user's own (a regular file of
// one name this user owns, never through a link, no open waiting), with
// `flags`, made (0600) when `create` and nothing is there. -1 with errno;
// EPERM, *kind saying what is there, for anything else.
int fio_open_record(const std::string& path, int flags, bool create, std::string* kind) {
  struct stat at;
  const bool there = ::lstat(path.c_str(), &at) == 0;
  auto not_own = [&](const struct stat& st) {
    if (S_ISLNK(st.st_mode)) return std::string("a symbolic link");
    std::string what = fio_not_a_file_of_one_name(st);
    return what.empty() && st.st_uid != ::geteuid() ? std::string("another user's file") : what;
  };
  if (there && !(*kind = not_own(at)).empty()) return errno = EPERM, -1;
  if (!there && (errno != ENOENT || !create)) return -1;
  const int fd = ::open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (there ? 0 : O_CREAT | O_EXCL), 0600);
  if (fd < 0) return -1;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !(*kind = not_own(st)).empty() || (there && !fio_same_file(st, at))) {
    ::close(fd);
    if (kind->empty()) *kind = "a file put there since it was checked";
    return errno = EPERM, -1;
  }
  return fd;
}

// Appends `line` to the record of `dir` (made when `create`): 0, or the
// system's error number (EPERM with *kind for a record that is not the
// user's own). A record rewritten meanwhile (fio_compact_record) gets the
// line again.
int fio_append_record(const std::string& dir, const std::string& line, bool create, std::string* kind) {
  const std::string path = fio_record_path(dir);
  for (int attempt = 0; attempt < 4; ++attempt) {
    const int fd = fio_open_record(path, O_WRONLY | O_APPEND, create, kind);
    if (fd < 0) {
      if (errno == EEXIST) continue;  // made by another process meanwhile
      return errno ? errno : EIO;
    }
    const int error = fio_write_all(fd, line);
    struct stat written, now;
    const bool same = ::fstat(fd, &written) == 0 && ::lstat(path.c_str(), &now) == 0 && fio_same_file(written, now);
    if (::close(fd) != 0 && !error) return errno ? errno : EIO;
    if (error) return error;
    if (same) return 0;
  }
  return 0;
}

// Reads the record of `dir` into *runs (its text into *text when asked):
// false when there is none this user's own.
bool fio_read_record(const std::string& dir, FIO_RUNS* runs, std::string* text = nullptr, int* keep_fd = nullptr) {
  std::string kind, whole;
  const int fd = fio_open_record(fio_record_path(dir), O_RDONLY, false, &kind);
  if (fd < 0) return false;
  char buffer[64 << 10];
  for (ssize_t n; whole.size() < kFioRecordMaxBytes && (n = ::read(fd, buffer, sizeof buffer)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    whole.append(buffer, size_t(n));
  }
  if (keep_fd) *keep_fd = fd;
  else ::close(fd);
  for (size_t at = 0; at < whole.size();) {
    const size_t end = whole.find('\n', at);
    if (end == std::string::npos) break;  // a line still being written
    fio_parse_record_line(std::string_view(whole).substr(at, end - at), runs);
    at = end + 1;
  }
  if (text) *text = std::move(whole);
  return true;
}

// The records read, by directory: what each says so far, and how much of
// it was read (whole lines), so that a record that only grew is read from
// where it was left. Under g_kept_mutex; a few directories.
struct FIO_RECORD_SEEN {
  std::string dir;
  dev_t dev = 0;
  ino_t ino = 0;
  uint64_t read = 0;
  FIO_RUNS runs;
};
std::vector<FIO_RECORD_SEEN> g_records_seen;
constexpr size_t kFioRecordsSeen = 8;

// Calls `use` with what the record of `dir` says now (false, `use` not
// called, where there is none of the user's own).
template <typename USE>
bool fio_with_record(const std::string& dir, USE&& use) {
  std::string kind;
  const int fd = fio_open_record(fio_record_path(dir), O_RDONLY, false, &kind);
  if (fd < 0) return false;
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    return false;
  }
  std::lock_guard<std::mutex> lock(g_kept_mutex);
  auto seen = std::find_if(g_records_seen.begin(), g_records_seen.end(), [&](const FIO_RECORD_SEEN& r) { return r.dir == dir; });
  if (seen == g_records_seen.end()) {
    if (g_records_seen.size() >= kFioRecordsSeen) g_records_seen.erase(g_records_seen.begin());
    g_records_seen.emplace_back();
    seen = g_records_seen.end() - 1;
    seen->dir = dir;
  }
  if (seen->dev != st.st_dev || seen->ino != st.st_ino || uint64_t(st.st_size) < seen->read) {
    // Another record, or one cut: read anew.
    seen->dev = st.st_dev;
    seen->ino = st.st_ino;
    seen->read = 0;
    seen->runs = FIO_RUNS();
  }
  std::string more;
  char buffer[64 << 10];
  for (ssize_t n; seen->read + more.size() < kFioRecordMaxBytes &&
                  (n = ::pread(fd, buffer, sizeof buffer, off_t(seen->read + more.size()))) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    more.append(buffer, size_t(n));
  }
  ::close(fd);
  size_t at = 0;
  for (size_t end; (end = more.find('\n', at)) != std::string::npos; at = end + 1)
    fio_parse_record_line(std::string_view(more).substr(at, end - at), &seen->runs);
  seen->read += at;  // a line still being written is read again next time
  use(seen->runs);
  return true;
}

// True when the file of state `st` (lstat) at `name` in `dir` is the one
// the made line `m` tells.
bool fio_is_made_file(const FIO_RUNS::MADE& m, const struct stat& st) {
  return m.ino == uint64_t(st.st_ino) && m.size == uint64_t(st.st_size) && m.s == int64_t(st.st_mtim.tv_sec) &&
         m.ns == int64_t(st.st_mtim.tv_nsec);
}

// Rewrites the record of `dir` once it has grown past its bound: the runs
// not known to have ended, and the files still at their names as made (those
// of ended runs as made outside any run). Lines appended meanwhile to the
// record read are carried over; an appender that finds the record rewritten
// appends again (fio_append_record). What is lost makes files unknown only.
void fio_compact_record(const std::string& dir) {
  const std::string path = fio_record_path(dir);
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || uint64_t(st.st_size) <= kFioRecordCompactBytes) return;
  FIO_RUNS runs;
  std::string text;
  int old = -1;
  if (!fio_read_record(dir, &runs, &text, &old)) return;
  std::string kept;
  for (const auto& [run, p] : runs.began)
    if (!runs.has_ended(run))
      kept += fio_record_line({"R", run, p.host, p.boot, p.pidns, std::to_string(p.pid), std::to_string(p.start)});
  std::unordered_set<std::string> lines;
  for (const auto& [name, made] : runs.made) {
    struct stat now;
    if (::lstat((dir + "/" + name).c_str(), &now) != 0) continue;
    for (const FIO_RUNS::MADE& m : made) {
      if (!fio_is_made_file(m, now)) continue;
      const std::string line = fio_record_line({"M", runs.has_ended(m.run) ? "-" : m.run, std::to_string(m.ino),
                                                std::to_string(m.size), std::to_string(m.s), std::to_string(m.ns), m.name});
      if (lines.insert(line).second) kept += line;
    }
  }
  std::string temp;
  int error = 0;
  const int fd = fio_create_beside(path, &temp, &error, 0600);
  bool renamed = false;
  if (fd >= 0) {
    const bool written = fio_write_all(fd, kept) == 0;
    renamed = ::close(fd) == 0 && written && ::rename(temp.c_str(), path.c_str()) == 0;
    if (!renamed) ::unlink(temp.c_str());
  }
  if (renamed) {
    // What was appended to the record read since it was read.
    std::string more;
    char buffer[64 << 10];
    for (ssize_t n; (n = ::pread(old, buffer, sizeof buffer, off_t(text.size() + more.size()))) > 0;)
      more.append(buffer, size_t(n));
    std::string kind;
    for (size_t at = 0, end; (end = more.find('\n', at)) != std::string::npos; at = end + 1)
      fio_append_record(dir, more.substr(at, end - at + 1), true, &kind);
  }
  ::close(old);
}

// Which run of the record made a file and why its end is not known, in
// words for a refusal.
std::string fio_live_run_words(const FIO_RUNS& runs, const std::string& run) {
  auto it = runs.began.find(run);
  if (it == runs.began.end()) return "made by a run whose start the runs record does not tell, so its end cannot be checked";
  const FIO_PROCESS& p = it->second;
  auto quoted = [](const std::string& text) { return "\"" + kavu_platform::msg_printable_text(text, 80, true) + "\""; };
  const std::string process = "process " + std::to_string(p.pid);
  const std::string cannot = ", whose end cannot be checked from here";
  switch (fio_process_state(p)) {
    case FIO_PROCESS_RUNNING:
      return "made by the run of " + process + " on this host, which is still running";
    case FIO_PROCESS_OTHER_HOST:
      return "made by a run of " + process + " on " + quoted(p.host) + ", another host" + cannot;
    case FIO_PROCESS_OTHER_BOOT:
      return "made by a run of " + process + " on " + quoted(p.host) + " in another boot (boot id " + quoted(p.boot) +
             ": the system was started again since, or it is another machine of that name)" + cannot;
    case FIO_PROCESS_OTHER_NAMESPACE:
      return "made by a run of " + process + " in another process namespace of this host (" + quoted(p.pidns) +
             ", a container's)" + cannot;
    case FIO_PROCESS_UNTOLD:
    case FIO_PROCESS_GONE:
      break;
  }
  return "made by a run whose process the runs record does not name whole, so its end cannot be checked";
}

// Whose the user's own regular file of state `st` at `path` is, for a
// process that writes for the run `run` ("" for none; `excluding`: a run
// whose lock keeps every other holder out, FIO_RUNS::has_ended): made by
// this process, else as the record of its directory tells. *live_words
// (when given) says, of a file a run not known to have ended made, which
// run and why its end is not known.
FIO_FILE_ORIGIN fio_origin_of_own_file(const std::string& path, const struct stat& st, const std::string& run,
                                       bool excluding, std::string* live_words = nullptr) {
  if (fio_made_here(path, st)) return FIO_MADE_BY_THIS_RUN;
  const std::string name = fio_leaf_of(path);
  bool ended = false, live = false, this_run = false;
  fio_with_record(fio_full_directory_of(path), [&](const FIO_RUNS& runs) {
    auto made = runs.made.find(name);
    if (made == runs.made.end()) return;
    for (const FIO_RUNS::MADE& m : made->second) {
      if (!fio_is_made_file(m, st)) continue;
      if (!run.empty() && m.run == run) {
        this_run = true;
      } else if (runs.has_ended(m.run, excluding)) {
        ended = true;
      } else {
        if (live_words && !live) *live_words = fio_live_run_words(runs, m.run);
        live = true;
      }
    }
  });
  // A file two runs claim is taken for the one not known to have ended.
  return this_run ? FIO_MADE_BY_THIS_RUN : live ? FIO_MADE_BY_LIVE_RUN : ended ? FIO_MADE_BY_ENDED_RUN
                                                                           : FIO_MADE_BY_NO_KNOWN_RUN;
}

// How many names the regular file of state `st` (lstat) at `path` has, as
// its file system tells it now rather than as it told it last (st_nlink
// when it cannot be told, or `path` holds another file by now). FUSE and
// NFS keep what they told of a file for a while: a file put at its name
// with a hard link (which the own-file path does where no rename refuses to
// replace) is told with two names until they are asked again, though the
// temporary's name went long since.
nlink_t fio_names_told_anew(const std::string& path, const struct stat& st) {
  struct statx told;
  if (!S_ISREG(st.st_mode) || st.st_nlink <= 1 ||
      ::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW | AT_STATX_FORCE_SYNC, STATX_TYPE | STATX_INO | STATX_NLINK,
              &told) != 0 ||
      told.stx_ino != st.st_ino || makedev(told.stx_dev_major, told.stx_dev_minor) != st.st_dev ||
      !S_ISREG(told.stx_mode))
    return st.st_nlink;
  return told.stx_nlink;
}

// The own-file path's word on what `path` holds (state `st`, from lstat):
// its origin, and whether it may be replaced or removed (refusal 0), else
// kFioNotOwnFile (with *not_own), kFioNotMade or EISDIR. A symbolic link is
// left to the path that follows it (refusal 0); a regular file told with
// several names is asked anew. *words (when given) says, of a file a run
// not known to have ended made, which run and why its end is not known.
struct FIO_VERDICT {
  FIO_FILE_ORIGIN origin = FIO_NO_FILE;
  int refusal = 0;
  std::string not_own;
};
FIO_VERDICT fio_judge(const std::string& path, const struct stat& st, std::string* words = nullptr) {
  FIO_VERDICT v;
  v.origin = FIO_NOT_A_FILE_OF_ONE_NAME;
  if (S_ISLNK(st.st_mode)) return v;
  if (S_ISDIR(st.st_mode)) return v.refusal = EISDIR, v;
  if (!(v.not_own = fio_not_a_file_of_one_name(st)).empty()) {
    if (!S_ISREG(st.st_mode) || fio_names_told_anew(path, st) != 1) return v.refusal = kFioNotOwnFile, v;
    v.not_own.clear();
  }
  const std::string dir = fio_full_directory_of(path);
  const FIO_KEEP keep = fio_keep_of_dir(dir);
  if (st.st_uid != ::geteuid()) {
    // Another user's run may be using it wherever another user may write,
    // or reach the directory past its lock; during a run of this process,
    // whose lock keeps out no mounted run, anywhere.
    v.origin = FIO_ANOTHER_USERS_FILE;
    if (keep.kept || fio_others_may_write(dir) || fio_directory_keeps_names(path) || fio_lock_may_not_exclude(dir)) {
      v.refusal = kFioNotOwnFile;
      v.not_own = "another user's file";
    }
    return v;
  }
  v.origin = fio_origin_of_own_file(path, st, keep.run, keep.excludes(), words);
  if (v.origin == FIO_MADE_BY_LIVE_RUN || (v.origin == FIO_MADE_BY_NO_KNOWN_RUN && keep.kept && keep.strict))
    v.refusal = kFioNotMade;
  return v;
}

// Puts the new file `temp` at `target` only where nothing is there, so that
// nothing another process put there since it was checked is replaced:
// renameat2's RENAME_NOREPLACE, else (a file system without it: NFS, FUSE)
// a hard link made and the temporary's name removed, else (no hard links
// either) a rename once the name is seen free. 0, EEXIST when something is
// there, or the system's error.
int fio_publish_without_replacing(const std::string& temp, const std::string& target) {
  if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return 0;
  int error = errno;
  if (error != EINVAL && error != ENOSYS && error != EOPNOTSUPP) return error;
  if (::link(temp.c_str(), target.c_str()) == 0) {
    ::unlink(temp.c_str());
    return 0;
  }
  error = errno;
  if (error != EPERM && error != ENOSYS && error != EOPNOTSUPP && error != EMLINK) return error;
  struct stat st;
  if (::lstat(target.c_str(), &st) == 0) return EEXIST;
  return ::rename(temp.c_str(), target.c_str()) == 0 ? 0 : errno;
}

// What open_through_own_link opened (see FIO_FILE_SYSTEM::open_through_own_link).
struct FIO_LINK_OPEN {
  std::string target;    // the path opened: the file the links name
  struct stat st {};     // its state, from the descriptor
  bool created = false;  // made here (O_CREAT, nothing was there)
  std::string not_own;   // what the path holds, when refused (kFioNotOwnFile)
  bool not_regular = false;  // refused as no regular file (regular_only)
  int error = 0;         // the system's, or kFioNotOwnFile, kFioChanged
};

// Opens what `path` names as a file of the caller's own: the path itself
// when it is no link, else the file its links name, each link read from a
// descriptor of the link itself (O_PATH), so that a link exchanged after it
// was checked is never followed (the first must be the caller's, a further
// one the caller's or root's). The file is opened with `flags` (O_NOFOLLOW,
// O_NONBLOCK and O_CLOEXEC added) only after its type is known from a
// descriptor that opens nothing (a device or FIFO is refused unasked when
// `regular_only`), and checked on the opened descriptor against that: the
// same file, a regular file the caller owns (of any number of names; a
// device or FIFO when not `regular_only`). With O_CREAT in `flags`, a name
// that holds nothing is created exclusively. `link_first`: the caller saw a
// link at `path`; when it holds none now, kFioChanged. -1 with out->error.
int fio_open_through_own_link(const std::string& path, int flags, mode_t mode, bool regular_only, bool link_first,
                              FIO_LINK_OPEN* out) {
  const bool create = (flags & O_CREAT) != 0;
  flags = (flags & ~(O_CREAT | O_EXCL | O_TRUNC)) | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  std::string current = path;
  bool through_link = false;
  for (int step = 0; step < 40; ++step) {  // the system's bound on links (MAXSYMLINKS)
    const int named = ::open(current.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (named < 0) {
      if (errno == ENOENT && link_first && !through_link) return out->error = kFioChanged, -1;  // the link went
      if (errno != ENOENT || !create || !through_link) return out->error = errno, -1;
      // A dangling link: its file is made, never through a link put there since.
      const int fd = ::open(current.c_str(), flags | O_CREAT | O_EXCL, mode);
      if (fd < 0 && errno == EEXIST) continue;  // something came: examined again
      if (fd < 0) return out->error = errno, -1;
      out->created = true;
      out->target = std::move(current);  // no allocation with a descriptor open
      if (::fstat(fd, &out->st) != 0) out->st = {};
      return fd;
    }
    struct stat st;
    if (::fstat(named, &st) != 0) {
      out->error = errno;
      ::close(named);
      return -1;
    }
    if (!S_ISLNK(st.st_mode)) {
      ::close(named);
      if (link_first && !through_link) return out->error = kFioChanged, -1;
      if (S_ISDIR(st.st_mode)) return out->error = EISDIR, -1;
      const bool regular = S_ISREG(st.st_mode);
      if (regular_only && !regular) {
        out->not_regular = true;
        out->not_own = "not a regular file";
        if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) out->not_own = fio_not_a_file_of_one_name(st);
        return out->error = kFioNotOwnFile, -1;
      }
      if (regular && st.st_uid != ::geteuid()) {
        out->not_own = "another user's file";
        return out->error = kFioNotOwnFile, -1;
      }
      // A device or a FIFO is written, never read: a FIFO opened for
      // reading too would never lack a reader.
      const int writing = (flags & O_ACCMODE) == O_RDWR && !regular ? (flags & ~O_ACCMODE) | O_WRONLY : flags;
      int fd = ::open(current.c_str(), writing);
      if (fd < 0 && errno == EACCES && (writing & O_ACCMODE) == O_RDWR)
        fd = ::open(current.c_str(), (writing & ~O_ACCMODE) | O_WRONLY);
      if (fd < 0 && (errno == ELOOP || errno == ENOENT)) continue;  // changed since: examined again
      if (fd < 0) return out->error = errno, -1;
      // What was opened is what was examined, and still what may be opened.
      if (::fstat(fd, &out->st) != 0 || !fio_same_file(out->st, st) || out->st.st_mode != st.st_mode) {
        ::close(fd);
        continue;
      }
      if (S_ISREG(out->st.st_mode) && out->st.st_uid != ::geteuid()) {
        ::close(fd);
        out->not_own = "another user's file";
        return out->error = kFioNotOwnFile, -1;
      }
      out->target = std::move(current);
      return fd;
    }
    if (st.st_uid != ::geteuid() && (!through_link || st.st_uid != 0)) {
      ::close(named);
      out->not_own = "a symbolic link another user made";
      return out->error = kFioNotOwnFile, -1;
    }
    if (!through_link) fio_test_point(kavu_platform::FIO_OWN_FILE_CHECKED, path);
    char text[PATH_MAX];
    const ssize_t n = ::readlinkat(named, "", text, sizeof text);
    const int read_error = errno;
    ::close(named);
    if (n < 0) return out->error = read_error, -1;
    if (size_t(n) >= sizeof text) return out->error = ENAMETOOLONG, -1;
    const std::string to(text, size_t(n));
    current = !to.empty() && to[0] == '/' ? to : fio_directory_of(current) + "/" + to;
    through_link = true;
  }
  return out->error = ELOOP, -1;
}

}  // namespace

void kavu_platform::fio_test_set_end_action_hook(FIO_END_ACTION_HOOK hook) { g_end_action_hook.store(hook); }

void kavu_platform::fio_test_set_hook(FIO_TEST_HOOK hook, void* data) {
  std::lock_guard<std::mutex> lock(g_test_hook_mutex);
  g_test_hook = hook;
  g_test_hook_data = data;
  g_test_hook_set.store(hook != nullptr, std::memory_order_release);
}

bool FIO_FILE_REPLACEMENT::fail(int error, std::string* problem) {
  const int interrupted = m_interrupted.load();
  abandon();
  if (!error) error = EIO;
  const std::string not_own = std::move(m_not_own);
  m_failure = error == kFioNulInPath         ? EINVAL
              : error == kFioInterrupted     ? EINTR
              : error == kFioNoTemporaryName ? EEXIST
              : error == kFioHolesUnknown    ? EOPNOTSUPP
              : error == kFioNotOwnFile      ? EPERM
              : error == kFioNotMade         ? EEXIST
              : error == kFioChanged         ? EAGAIN
              : error == kFioNotRecorded     ? m_record_error
                                             : error;
  if (!problem) return false;
  if (error == kFioNulInPath)
    *problem = "cannot write the file: the path holds a NUL byte";
  else if (error == kFioInterrupted)
    *problem = "cannot write the file: interrupted by a signal (" + fio_signal_name(interrupted) + ")";
  else if (error == kFioNotOwnFile)
    *problem = "cannot write the file: it is not a file of this user's own (" + not_own + ")";
  else if (error == kFioNotMade)
    *problem = "cannot write the file: it is a file this process did not make, which another process may be using";
  else if (error == kFioChanged)
    *problem = "cannot write the file: what its name holds kept changing while it was opened";
  else if (error == kFioNotRecorded)
    *problem = "cannot write the file: " + not_own;
  else if (error == kFioNoTemporaryName)
    *problem = "cannot write the file: all " + std::to_string(kFioTemporaryNames) +
               " names of a temporary file beside it are taken";
  else if (error == kFioHolesUnknown)
    *problem = "cannot write the file: its file system does not tell where its holes are, and it may not be read "
               "to find them";
  else
    *problem = "cannot write the file: " + std::string(std::strerror(error));
  return false;
}

bool FIO_FILE_REPLACEMENT::hold(int fd) {
  m_fd = fd;
  m_mode = HELD;
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) m_limit = fio_size_limit();
  return true;
}

bool FIO_FILE_REPLACEMENT::open(const std::string& path, std::string* problem) {
  abandon();
  m_failure = 0;
  if (path.empty()) return fail(ENOENT, problem);
  // The system would take the path as cut at its NUL byte: another file.
  if (path.find('\0') != std::string::npos) return fail(kFioNulInPath, problem);
  if (m_own) return open_own(path, 0, problem);
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    // Nothing there, or a dangling link: created. A loop of links, a
    // directory that may not be searched: refused, as an open refuses them.
    return errno == ENOENT ? open_new(path, problem) : fail(errno, problem);
  }
  if (S_ISREG(st.st_mode)) return open_existing(path, problem);
  // A device or a FIFO holds no file to keep: written in place at the
  // commit, as an open for writing would (a directory: refused).
  const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  return fd >= 0 ? hold(fd) : fail(errno, problem);
}

// The own-file path: what the name holds is examined without following it
// or opening it, opened only as what was examined (a link is followed only
// through fio_open_through_own_link), and checked again on the descriptor;
// a name that changes between the two is examined again.
bool FIO_FILE_REPLACEMENT::open_own(const std::string& path, int attempt, std::string* problem) {
  if (attempt >= 8) return fail(kFioChanged, problem);
  if (attempt == 0) fio_test_point(kavu_platform::FIO_OWN_FILE_EXAMINING, path);
  m_own_name = path;
  // A file of the caller's own is published only where what its name held
  // is still there as checked, or nothing is (publish).
  m_keep_others = true;
  m_target_was_made = false;
  const FIO_KEEP keep = fio_keep_of_dir(fio_full_directory_of(path));
  m_strict = keep.kept && keep.strict;
  struct stat at;
  if (::lstat(path.c_str(), &at) != 0) return errno == ENOENT ? open_new(path, problem) : fail(errno, problem);
  if (S_ISLNK(at.st_mode)) return open_own_link(path, attempt, problem);
  // A directory; a regular file with other names, a FIFO, a device, a
  // socket (refused before anything is opened, so no open waits and no
  // name's file changes); another user's file where another user's run may
  // be using it; the user's own file of a run that may still be using it.
  const FIO_VERDICT verdict = fio_judge(path, at);
  m_not_own = verdict.not_own;
  if (verdict.refusal) return fail(verdict.refusal, problem);
  // Another user's regular file is never the caller's own: replaced by a
  // new file of the caller's where the directory lets it rename over it,
  // else refused.
  if (at.st_uid != ::geteuid()) return open_replacing_others(path, problem);
  fio_test_point(kavu_platform::FIO_OWN_FILE_CHECKED, path);
  // Opened for writing, not cut (the caller must be let write the file
  // itself, as writing in place asks), without following a link put there
  // since, nor waiting.
  const int fd = fio_open_existing_for_writing(path, O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0 && (errno == ELOOP || errno == ENOENT || errno == ENXIO)) return open_own(path, attempt + 1, problem);
  if (fd < 0) return fail(errno, problem);
  // What was opened is what was checked, and still a regular file of one
  // name that the caller owns, as its descriptor tells.
  struct stat st;
  if (::fstat(fd, &st) != 0 || !fio_same_file(st, at)) {
    ::close(fd);
    return open_own(path, attempt + 1, problem);
  }
  std::string not_own;
  try {
    not_own = fio_not_own_open_file(fd);
  } catch (...) {  // memory refused: the descriptor is closed as at a refusal
    ::close(fd);
    throw;
  }
  if (!(m_not_own = std::move(not_own)).empty()) {
    ::close(fd);
    return fail(kFioNotOwnFile, problem);
  }
  m_checked = st;
  m_target_was_made = true;
  return take_existing(path, fd, problem);
}

// A symbolic link the caller owns at the name: the file it names is written
// by the rules of a file at the name (a dangling link creates it, only
// where nothing is there), the link stays. The link is read from its own
// descriptor, never again by name, and the file it names must be one the
// caller owns; a device or a FIFO it names is written in place, opened
// without waiting.
bool FIO_FILE_REPLACEMENT::open_own_link(const std::string& path, int attempt, std::string* problem) {
  FIO_LINK_OPEN opened;
  const int fd = fio_open_through_own_link(path, O_RDWR | O_CREAT, 0666 & m_mode_limit, false, true, &opened);
  if (fd < 0) {
    if (opened.error == kFioChanged) return open_own(path, attempt + 1, problem);
    m_not_own = opened.not_own;
    return fail(opened.error, problem);
  }
  m_through_link = true;
  m_checked = opened.st;
  if (opened.created) {
    // Removed again by a failed write (held first: the note may be refused
    // memory).
    m_created = std::move(opened.target);
    hold(fd);
    fio_note_made(path, opened.st);
    return true;
  }
  if (!S_ISREG(opened.st.st_mode)) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return hold(fd);
  }
  // During a strict run the file the link names must be one this process made.
  if (m_strict && !fio_made_here(path, opened.st)) {
    ::close(fd);
    return fail(kFioNotMade, problem);
  }
  m_target_was_made = true;
  return take_existing(opened.target, fd, problem);
}

bool FIO_FILE_REPLACEMENT::open_new(const std::string& path, std::string* problem) {
  struct stat link;
  if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
    if (m_own) return open_own_link(path, 1, problem);  // a link put there since
    // A dangling link: the file it names is created, as an open creates it,
    // and removed again by a failed write. Its name takes room made before
    // the file is, so memory refused leaves no file and no descriptor.
    std::string made;
    made.reserve(PATH_MAX);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666 & m_mode_limit);
    if (fd < 0) return fail(errno, problem);
    hold(fd);
    char real[PATH_MAX];
    if (::realpath(path.c_str(), real)) made.assign(real);  // within the room reserved
    m_created = std::move(made);
    return true;
  }
  int error = 0;
  if (!fio_directory_keeps_names(path)) {
    m_fd = create_temp(path, &error, 0666 & m_mode_limit);
    if (m_fd >= 0) {
      m_mode = BESIDE;
      m_target = path;
      m_limit = fio_size_limit();
      return true;
    }
    if (!fio_temp_refused_by_directory(error)) return fail(error, problem);
  }
  // No temporary the directory takes: the file itself, created here (and
  // not removed again where the directory keeps its names, so there a text
  // known to pass the file-size limit creates nothing).
  if (m_size_hint > fio_size_limit() && fio_directory_keeps_names(path)) return fail(EFBIG, problem);
  std::string name = path;  // made before the file: memory refused leaves nothing
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666 & m_mode_limit);
  if (fd >= 0) {
    m_created = std::move(name);
    hold(fd);
    struct stat made;
    if (m_own && ::fstat(fd, &made) == 0) fio_note_made(path, made);
    return true;
  }
  error = errno;
  if (error != EACCES && error != EPERM && error != EROFS) return fail(error, problem);
  const std::string dir = fio_directory_of(path);
  abandon();
  m_failure = error;
  if (problem)
    *problem = "cannot create a file in the directory \"" +
               kavu_platform::msg_printable_text(dir, kavu_platform::MSG_MAX_PATH_BYTES, true) +
               "\": " + std::strerror(error);
  return false;
}

// An end action: the temporary goes, and the write, should the process go
// on, knows it was interrupted. Async-signal-safe: m_temp is not changed
// while the action is registered.
void FIO_FILE_REPLACEMENT::remove_temp_on_end(long self) {
  FIO_FILE_REPLACEMENT* file = reinterpret_cast<FIO_FILE_REPLACEMENT*>(self);
  // Told before the temporary goes: a commit on another thread that finds
  // it gone knows why, whichever thread the signal arrived on.
  const int sig = thr_end_signal_of_action();
  file->m_interrupted.store(sig > 0 ? sig : SIGINT);
  ::unlink(file->m_temp.c_str());
  if (const kavu_platform::FIO_END_ACTION_HOOK hook = g_end_action_hook.load()) hook(file->m_temp.c_str());
}

int FIO_FILE_REPLACEMENT::create_temp(const std::string& target, int* error, mode_t mode) {
  // Made and registered with the end signals held back, so that no Ctrl-C
  // falls between: a process told to end leaves no temporary beside the
  // target (thr_end_signal.h).
  // Memory refused while the name is made (std::bad_alloc) gives the
  // caller's signal mask back too: a thread left with its end signals held
  // would never end at Ctrl-C.
  sigset_t mask;
  thr_block_end_signals(&mask);
  int fd = -1;
  try {
    fd = fio_create_beside(target, &m_temp, error, mode);
  } catch (...) {
    pthread_sigmask(SIG_SETMASK, &mask, nullptr);
    throw;
  }
  if (fd >= 0) m_on_end = thr_on_end_signal(remove_temp_on_end, reinterpret_cast<long>(this));
  pthread_sigmask(SIG_SETMASK, &mask, nullptr);
  return fd;
}

// Records the file open on `fd`, about to be put (or just written) at the
// name asked for, as made by the run this process writes for in its
// directory, or, outside any run, as made outside one where the user keeps
// a runs record there. 0, or kFioNotRecorded (m_not_own saying why) when
// the record refuses a run's line: its file would be known to no other
// process, so it is not published.
int FIO_FILE_REPLACEMENT::record_made(int fd) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return 0;
  const std::string dir = fio_full_directory_of(m_own_name);
  const FIO_KEEP keep = fio_keep_of_dir(dir);
  if (keep.kept && keep.run.empty()) return 0;  // a forked child's, which goes on with no run
  struct stat record;
  if (!keep.kept && ::lstat(fio_record_path(dir).c_str(), &record) != 0) return 0;
  const std::string line =
      fio_record_line({"M", keep.kept ? keep.run : "-", std::to_string(st.st_ino), std::to_string(st.st_size),
                       std::to_string(st.st_mtim.tv_sec), std::to_string(st.st_mtim.tv_nsec), fio_leaf_of(m_own_name)});
  std::string kind;
  const int error = fio_append_record(dir, line, keep.kept, &kind);
  if (!error || !keep.kept) return 0;
  m_record_error = error;
  m_not_own = "cannot record it in the runs record \"" +
              kavu_platform::msg_printable_text(fio_record_path(dir), kavu_platform::MSG_MAX_PATH_BYTES, true) +
              "\": " + (error == EPERM && !kind.empty() ? "it is " + kind : std::string(std::strerror(error)));
  return kFioNotRecorded;
}

bool FIO_FILE_REPLACEMENT::open_existing(const std::string& path, std::string* problem) {
  std::string target = path;
  struct stat st;
  bool linked = false;
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    linked = true;
    std::error_code ec;
    const fs::path resolved = fs::canonical(fs::path(path), ec);
    if (!ec) target = resolved.string();
  }
  // Opened for writing, not cut: the caller must be let write the file
  // itself, as writing in place asks, whoever may write its directory.
  const int fd = fio_open_existing_for_writing(target);
  if (fd < 0) return fail(errno, problem);
  m_through_link = linked;
  return take_existing(target, fd, problem);
}

// Writes the existing regular file open on `fd` (at `target`): renamed over
// where that leaves what writing in place leaves (one name, a directory
// whose names may change, no mount on the file and no attribute a new file
// would not get), else in place.
bool FIO_FILE_REPLACEMENT::take_existing(const std::string& target, int fd, std::string* problem) {
  // `fd` is this call's to close until it is held: the checks and the
  // temporary's name may be refused memory (std::bad_alloc).
  struct stat st;
  bool in_place = false;
  try {
    in_place = ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 ||
               fio_sticky_forbids(target, st.st_uid) || fio_directory_keeps_names(target) ||
               fio_is_mount_root(fd, target) || fio_has_attributes_a_rename_drops(fd);
  } catch (...) {
    ::close(fd);
    throw;
  }
  if (in_place) {
    // A file of the caller's written in place loses the bits it may not
    // keep before a byte is written.
    if (S_ISREG(st.st_mode) && (st.st_mode & 07777 & ~m_mode_limit) && ::fchmod(fd, st.st_mode & m_mode_limit) != 0) {
      const int error = errno;
      ::close(fd);
      return fail(error, problem);
    }
    return hold(fd);
  }
  int error = 0;
  int temp = -1;
  try {
    temp = create_temp(target, &error, 0666 & m_mode_limit);
  } catch (...) {
    ::close(fd);
    throw;
  }
  if (temp < 0) {
    if (fio_temp_refused_by_directory(error)) return hold(fd);
    ::close(fd);
    return fail(error, problem);  // no room for the temporary: the file stays as it was
  }
  // The new file takes the owner, group and permission bits of the old;
  // where it cannot (another's file, a group the caller is not in), the
  // file is written in place, which keeps them.
  struct stat made;
  bool same = ::fstat(temp, &made) == 0;
  if (same && (made.st_uid != st.st_uid || made.st_gid != st.st_gid)) same = ::fchown(temp, st.st_uid, st.st_gid) == 0;
  if (same && ::fchmod(temp, st.st_mode & 07777 & m_mode_limit) == 0) {
    ::close(fd);
    m_fd = temp;
    m_mode = BESIDE;
    m_target = target;
    m_limit = fio_size_limit();
    return true;
  }
  ::close(temp);
  thr_forget_end_signal(std::exchange(m_on_end, -1));
  ::unlink(m_temp.c_str());
  m_temp.clear();
  m_interrupted.store(0);  // written in place: no temporary for a signal to take
  return hold(fd);
}

bool FIO_FILE_REPLACEMENT::open_replacing_others(const std::string& path, std::string* problem) {
  m_not_own = "another user's file";
  // Only in a directory no one else may write, past whose lock no mount
  // reaches (fio_judge); there the directory may still refuse the rename.
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return fail(errno, problem);
  if (fio_sticky_forbids(path, st.st_uid) || fio_directory_keeps_names(path)) return fail(kFioNotOwnFile, problem);
  // Renamed over only while the name still holds the file checked.
  m_checked = st;
  m_target_was_made = true;
  // The new file is the caller's, with the permissions a created file gets:
  // nothing of the other user's file (owner, mode, attributes) is taken.
  int error = 0;
  m_fd = create_temp(path, &error, 0666 & m_mode_limit);
  if (m_fd < 0) return fail(fio_temp_refused_by_directory(error) ? kFioNotOwnFile : error, problem);
  m_not_own.clear();
  m_mode = BESIDE;
  m_target = path;
  m_limit = fio_size_limit();
  return true;
}

bool FIO_FILE_REPLACEMENT::open_own_file(const std::string& path, std::string* problem) {
  m_own = true;
  return open(path, problem);
}

bool FIO_FILE_REPLACEMENT::write(std::string_view part) {
  if (m_fd < 0 || m_error) return false;
  if (part.size() > m_limit - (m_mode == HELD ? m_held.size() : m_written)) {
    m_error = EFBIG;  // refused before the system cuts it (and sends SIGXFSZ)
    return false;
  }
  if (m_mode == HELD) {
    try {
      m_held.append(part);
    } catch (const std::bad_alloc&) {
      m_error = ENOMEM;
    }
    return !m_error;
  }
  m_error = fio_write_all(m_fd, part);
  m_written += part.size();
  return !m_error;
}

bool FIO_FILE_REPLACEMENT::commit_held(const std::string_view* parts, size_t count, std::string* problem) {
  int error = fio_write_in_place(m_fd, parts, count);
  struct stat st;
  if (!error && m_own && !m_through_link && ::fstat(m_fd, &st) == 0 && S_ISREG(st.st_mode)) error = record_made(m_fd);
  if (::close(m_fd) != 0 && !error) error = errno ? errno : EIO;
  m_fd = -1;
  if (error) return fail(error, problem);
  m_created.clear();
  abandon();
  return true;
}

bool FIO_FILE_REPLACEMENT::commit(std::string* problem) {
  if (m_fd < 0) return fail(EBADF, problem);
  if (m_interrupted.load()) return fail(kFioInterrupted, problem);
  if (m_error) return fail(m_error, problem);
  if (m_mode == HELD) {
    const std::string_view text = m_held;
    return commit_held(&text, 1, problem);
  }
  // The temporary's text stays readable through a second descriptor until
  // it is renamed, for a target that refuses the rename.
  const int text = ::dup(m_fd);
  int error = ::close(m_fd) != 0 ? (errno ? errno : EIO) : 0;
  m_fd = -1;
  bool renamed = false;
  if (!error) {
    error = publish(text);
    renamed = error == 0;
    if (!renamed && m_interrupted.load()) error = kFioInterrupted;  // the temporary went meanwhile
    if (error == EBUSY || error == EPERM || error == EXDEV) error = commit_refused_rename(text);
  }
  if (text >= 0) ::close(text);
  if (error) return fail(error, problem);  // the temporary goes after the reason is taken
  if (renamed) {
    thr_forget_end_signal(std::exchange(m_on_end, -1));
    m_temp.clear();
  }
  abandon();  // a temporary copied in place goes
  return true;
}

// Puts the temporary (its text open on `text`) at the target: renamed over
// it; where other processes' files are kept, only where the name still
// holds nothing (a new file) or the file this process made that was checked
// (found there again just before the rename), the file put there noted as
// made. 0 or the error.
int FIO_FILE_REPLACEMENT::publish(int text) {
  auto renamed = [&] { return ::rename(m_temp.c_str(), m_target.c_str()) == 0 ? 0 : (errno ? errno : EIO); };
  if (!m_own) return renamed();
  // Recorded as the run's before it is at its name, so no other process
  // ever finds it there unknown.
  if (!m_through_link)
    if (const int error = record_made(text)) return error;
  fio_test_point(kavu_platform::FIO_OWN_FILE_PUBLISHING, m_target);
  if (!m_keep_others) return renamed();
  int error = 0;
  struct stat now;
  if (!m_target_was_made) {
    error = fio_publish_without_replacing(m_temp, m_target);
    if (error == EEXIST) error = kFioNotMade;
  } else if (::lstat(m_target.c_str(), &now) != 0 || !fio_same_file(now, m_checked)) {
    error = kFioNotMade;
  } else {
    error = renamed();
  }
  if (error) return error;
  if (m_target_was_made) fio_forget_made(m_checked);
  if (::fstat(text, &now) == 0) fio_note_made(m_own_name, now);
  return 0;
}

int FIO_FILE_REPLACEMENT::commit_refused_rename(int text) {
  // A mount on the target, a directory whose names may not change: the
  // temporary's text is written over the target in place, as safely as a
  // held text, and the temporary removed.
  struct stat st;
  if (text < 0 || ::fstat(text, &st) != 0) return EIO;
  std::string copy;
  try {
    copy.resize(size_t(st.st_size));
  } catch (const std::bad_alloc&) {
    return ENOMEM;
  }
  for (size_t at = 0; at < copy.size();) {
    const ssize_t n = ::pread(text, copy.data() + at, copy.size() - at, off_t(at));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    at += size_t(n);
  }
  int fd = fio_open_existing_for_writing(m_target, m_own ? O_NOFOLLOW | O_NONBLOCK : 0);
  if (fd >= 0 && m_own) {
    // Something else put at the name since, or another user's file whose
    // rename the system refused (a mount on it): not written.
    struct stat now;
    if (::fstat(fd, &now) != 0 || !S_ISREG(now.st_mode)) m_not_own = "not a regular file";
    else if (m_checked.st_ino != 0 && !fio_same_file(now, m_checked)) m_not_own = "a file put there since it was checked";
    else if (!m_through_link) m_not_own = fio_not_own_open_file(fd);
    else if (now.st_uid != ::geteuid()) m_not_own = "another user's file";
    if (!m_not_own.empty()) {
      ::close(fd);
      return kFioNotOwnFile;
    }
  }
  if (fd < 0 && errno == ENOENT) {
    fd = ::open(m_target.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666 & m_mode_limit);
    if (fd >= 0) m_created = m_target;
  }
  if (fd < 0) return errno;
  m_fd = fd;
  const std::string_view whole = copy;
  int error = fio_write_in_place(m_fd, &whole, 1);
  if (::close(m_fd) != 0 && !error) error = errno ? errno : EIO;
  m_fd = -1;
  if (!error) m_created.clear();
  return error;
}

void FIO_FILE_REPLACEMENT::abandon() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
  thr_forget_end_signal(std::exchange(m_on_end, -1));
  if (!m_temp.empty()) ::unlink(m_temp.c_str());
  if (!m_created.empty()) ::unlink(m_created.c_str());
  m_temp.clear();
  m_interrupted.store(0);
  m_created.clear();
  m_target.clear();
  std::string().swap(m_held);
  m_mode = NONE;
  m_through_link = false;
  m_keep_others = false;
  m_target_was_made = false;
  m_strict = false;
  m_checked = {};
  m_own_name.clear();
  m_error = 0;
  m_written = 0;
  m_limit = UINT64_MAX;
}

bool FIO_FILE_SYSTEM::replace_own_file(const std::string& path, std::initializer_list<std::string_view> parts,
                                       std::string* problem) {
  return replace(path, parts, true, problem);
}

bool FIO_FILE_SYSTEM::replace_file(const std::string& path, std::initializer_list<std::string_view> parts,
                                   std::string* problem) {
  return replace(path, parts, false, problem);
}

bool FIO_FILE_SYSTEM::replace(const std::string& path, std::initializer_list<std::string_view> parts, bool own,
                              std::string* problem) {
  FIO_FILE_REPLACEMENT file;
  file.m_own = own;
  for (std::string_view part : parts) file.m_size_hint += part.size();
  if (!file.open(path, problem)) return false;
  // A file written in place takes the parts themselves, not a copy.
  if (file.m_mode == FIO_FILE_REPLACEMENT::HELD) return file.commit_held(parts.begin(), parts.size(), problem);
  for (std::string_view part : parts)
    if (!file.write(part)) break;
  return file.commit(problem);
}

namespace {

// The stream of fopen_own_file: its writes go to the replacement, its close
// commits it.
ssize_t own_stream_write(void* cookie, const char* buffer, size_t size) {
  auto* file = static_cast<FIO_FILE_REPLACEMENT*>(cookie);
  if (file->write(std::string_view(buffer, size))) return ssize_t(size);
  errno = EIO;
  return -1;
}

int own_stream_close(void* cookie) {
  std::unique_ptr<FIO_FILE_REPLACEMENT> file(static_cast<FIO_FILE_REPLACEMENT*>(cookie));
  if (file->commit(nullptr)) return 0;
  errno = file->failure() ? file->failure() : EIO;
  return -1;
}

}  // namespace

FILE* FIO_FILE_SYSTEM::fopen_own_file(const std::string& path, std::string* problem) {
  auto file = std::make_unique<FIO_FILE_REPLACEMENT>();
  if (!file->open_own_file(fio_get_unc_full_path(path), problem)) {
    errno = file->failure() ? file->failure() : EIO;
    return nullptr;
  }
  cookie_io_functions_t io = {};
  io.write = own_stream_write;
  io.close = own_stream_close;
  FILE* stream = ::fopencookie(file.get(), "w", io);
  if (stream) file.release();  // the stream's close frees it
  return stream;
}

bool FIO_FILE_SYSTEM::copy_own_file(const std::string& from, const std::string& to, std::string* problem,
                                    int* error) {
  int unused = 0;
  int& error_code = error ? *error : unused;
  error_code = 0;
  // The source is read as a file of the caller's own: no link of another's
  // is followed and no device is opened, and what is read is what was
  // checked.
  FIO_LINK_OPEN source;
  fio_test_point(kavu_platform::FIO_OWN_FILE_EXAMINING, from);
  const int in = fio_open_through_own_link(from, O_RDONLY, 0, true, false, &source);
  if (in < 0) {
    if (source.error != kFioNotOwnFile) return error_code = source.error > 0 ? source.error : EAGAIN, false;
    if (problem) *problem = "its source is not a file of this user's own (" + source.not_own + ")";
    return error_code = source.not_regular ? EINVAL : EPERM, false;
  }
  ::fcntl(in, F_SETFL, ::fcntl(in, F_GETFL) & ~O_NONBLOCK);
  const struct stat& st = source.st;
  FIO_FILE_REPLACEMENT out;
  out.keep_mode_within(st.st_mode & 0777);  // a copy of a private file stays private
  if (!out.open_own_file(to, problem)) {
    ::close(in);
    return error_code = out.failure(), false;
  }
  // The file's size (and a byte to see its end) at most a megabyte at a
  // time, the buffer left uninitialised: a small file costs a small copy.
  const size_t size = std::clamp<uint64_t>(uint64_t(st.st_size) + 1, 4096, uint64_t(1) << 20);
  const std::unique_ptr<char[]> buffer = std::make_unique_for_overwrite<char[]>(size);
  for (;;) {
    const ssize_t got = ::read(in, buffer.get(), size);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (got < 0) error_code = errno;
      break;
    }
    if (!out.write(std::string_view(buffer.get(), size_t(got)))) break;
  }
  ::close(in);
  if (error_code) return false;  // the write is abandoned with `out`
  if (out.commit(problem)) return true;
  error_code = out.failure();
  return false;
}

int FIO_FILE_SYSTEM::open_through_own_link(const std::string& path, int flags, mode_t mode, std::string* problem) {
  FIO_LINK_OPEN opened;
  const int fd = fio_open_through_own_link(path, flags, mode, true, false, &opened);
  if (fd >= 0) return fd;
  if (opened.error == kFioNotOwnFile && problem) *problem = opened.not_own;
  errno = opened.error == kFioNotOwnFile ? EPERM : opened.error > 0 ? opened.error : EAGAIN;
  return -1;
}

int FIO_FILE_SYSTEM::open_own_file_to_append(const std::string& path, std::string* problem) {
  const std::string not_own = "cannot write the file: it is not a file of this user's own (";
  auto refuse = [&](int error, const std::string& why) {
    if (problem) *problem = why;
    errno = error;
    return -1;
  };
  if (path.empty()) return refuse(ENOENT, "cannot write the file: " + std::string(std::strerror(ENOENT)));
  if (path.find('\0') != std::string::npos) return refuse(EINVAL, "cannot write the file: the path holds a NUL byte");
  fio_test_point(kavu_platform::FIO_OWN_FILE_EXAMINING, path);
  for (int attempt = 0; attempt < 8; ++attempt) {
    std::string opened_target;  // the file the user's own link names
    // Nothing there: made here, exclusively, never through a link put there.
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    bool created = fd >= 0;
    if (fd < 0 && errno != EEXIST) return refuse(errno, "cannot write the file: " + std::string(std::strerror(errno)));
    if (fd < 0) {
      // Something there: a file of the caller's own, at the name or through
      // its own link, as its descriptor tells (a caller's dangling link
      // makes its file, exclusively).
      FIO_LINK_OPEN opened;
      fd = fio_open_through_own_link(path, O_WRONLY | O_APPEND | O_CREAT, 0666, true, false, &opened);
      if (fd < 0) {
        if (opened.error == ENOENT || opened.error == kFioChanged) continue;  // it went meanwhile: again
        if (opened.error == kFioNotOwnFile) return refuse(EPERM, not_own + opened.not_own + ")");
        return refuse(opened.error > 0 ? opened.error : EIO,
                      "cannot write the file: " + std::string(std::strerror(opened.error > 0 ? opened.error : EIO)));
      }
      created = opened.created;
      opened_target = opened.target;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) {
      const int error = errno;
      ::close(fd);
      return refuse(error, "cannot write the file: " + std::string(std::strerror(error)));
    }
    // A file of several names would carry the text into its other names.
    if (std::string kind = fio_not_a_file_of_one_name(st); !kind.empty()) {
      ::close(fd);
      return refuse(EPERM, not_own + kind + ")");
    }
    // A file made here is noted as the run's where a run keeps the
    // directory; an existing one is appended to only where the own-file
    // path would write it (not one a live run made, nor, where the lock
    // may not exclude, one of no known run).
    const std::string& at = created || opened_target.empty() ? path : opened_target;
    if (created) {
      if (fio_keep_of_dir(fio_full_directory_of(at)).kept) fio_note_made(at, st);
    } else if (fio_judge(at, st).refusal == kFioNotMade) {
      ::close(fd);
      return refuse(EEXIST, "cannot write the file: it is a file this process did not make, which another process "
                            "may be using");
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
  }
  return refuse(EAGAIN, "cannot write the file: what its name holds kept changing while it was opened");
}

namespace {

// Keeps `dir` (a full path) for the run `run`, as begun by this process
// (`began`) or by the run's parent.
void fio_keep_dir(const std::string& dir, const std::string& run, bool strict, bool began) {
  std::lock_guard<std::mutex> lock(g_kept_mutex);
  for (FIO_KEPT_DIR& k : g_kept_dirs)
    if (k.dir == dir) {
      k = {dir, run, strict, began};
      return;
    }
  g_kept_dirs.push_back({dir, run, strict, began});
}

std::string fio_full_dir(const std::string& dir) { return fio_get_unc_full_path(dir.empty() ? std::string(".") : dir); }

}  // namespace

bool FIO_FILE_SYSTEM::directory_is_shared(const std::string& dir) {
  const std::string full = fio_full_dir(dir);
  return fio_others_may_write(full) || fio_lock_may_not_exclude(full);
}

std::string FIO_FILE_SYSTEM::runs_record_path(const std::string& dir) { return fio_record_path(fio_full_dir(dir)); }

bool FIO_FILE_SYSTEM::keep_files_of_run(const std::string& dir, const std::string& run, bool strict,
                                        std::string* problem) {
  const std::string full = fio_full_dir(dir);
  fio_compact_record(full);
  const FIO_PROCESS me = fio_this_process();
  const std::string line = fio_record_line(
      {"R", run, me.host, me.boot, me.pidns, std::to_string(me.pid), std::to_string(me.start)});
  std::string kind;
  if (const int error = fio_append_record(full, line, true, &kind)) {
    if (problem)
      *problem = "cannot record the run in the runs record \"" +
                 kavu_platform::msg_printable_text(fio_record_path(full), kavu_platform::MSG_MAX_PATH_BYTES, true) +
                 "\": " + (error == EPERM && !kind.empty() ? "it is " + kind : std::string(std::strerror(error)));
    return false;
  }
  fio_keep_dir(full, run, strict, true);
  return true;
}

void FIO_FILE_SYSTEM::write_for_run(const std::string& dir, const std::string& run) {
  const std::string full = fio_full_dir(dir);
  {
    std::lock_guard<std::mutex> lock(g_kept_mutex);
    for (const FIO_KEPT_DIR& k : g_kept_dirs)
      if (k.dir == full && (k.began || k.run == run)) return;
  }
  fio_keep_dir(full, run, fio_lock_may_not_exclude(full), false);
}

void FIO_FILE_SYSTEM::keep_files_not_made(const std::string& dir, bool on) {
  const std::string full = fio_full_dir(dir);
  if (on) {
    static std::atomic<unsigned> count{0};
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const std::string run = "p" + std::to_string(::getpid()) + "." + std::to_string(now.tv_sec) + "." +
                            std::to_string(now.tv_nsec) + "." + std::to_string(++count);
    // Kept all the same where the run cannot be recorded: its files are
    // then known to this process only.
    if (!keep_files_of_run(full, run, true)) fio_keep_dir(full, run, true, false);
    return;
  }
  std::string ended;
  {
    std::lock_guard<std::mutex> lock(g_kept_mutex);
    auto kept = std::find_if(g_kept_dirs.begin(), g_kept_dirs.end(), [&](const FIO_KEPT_DIR& k) { return k.dir == full; });
    if (kept == g_kept_dirs.end()) return;
    if (kept->began && !kept->run.empty()) ended = kept->run;
    g_kept_dirs.erase(kept);
  }
  std::string kind;
  if (!ended.empty()) fio_append_record(full, fio_record_line({"E", ended}), false, &kind);
}

bool FIO_FILE_SYSTEM::made_by_this_process(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && fio_made_here(path, st);
}

FIO_FILE_ORIGIN FIO_FILE_SYSTEM::file_origin(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return FIO_NO_FILE;
  return fio_judge(path, st).origin;
}

bool FIO_FILE_SYSTEM::may_replace_own_file(const std::string& path, FIO_FILE_ORIGIN* origin) {
  FIO_FILE_ORIGIN unused;
  FIO_FILE_ORIGIN& found = origin ? *origin : unused;
  found = FIO_NO_FILE;
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return true;
  const FIO_VERDICT verdict = fio_judge(path, st);
  found = verdict.origin;
  // What is no regular file of one name (a link, a FIFO, hard links) is left
  // to the write, which follows the user's own link and refuses the rest
  // saying what it is; during a strict run it is no file of the run's.
  if (verdict.origin == FIO_NOT_A_FILE_OF_ONE_NAME) {
    const FIO_KEEP keep = fio_keep_of_dir(fio_full_directory_of(path));
    return !(keep.kept && keep.strict);
  }
  return verdict.refusal == 0;
}

std::string FIO_FILE_SYSTEM::refusal_reason(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return "";
  std::string live;
  const FIO_VERDICT verdict = fio_judge(path, st, &live);
  switch (verdict.origin) {
    case FIO_NOT_A_FILE_OF_ONE_NAME: {
      // Refused by may_replace_own_file during a strict run only; elsewhere
      // the write says what it is.
      const FIO_KEEP keep = fio_keep_of_dir(fio_full_directory_of(path));
      if (!(keep.kept && keep.strict)) return "";
      if (S_ISLNK(st.st_mode)) return "a symbolic link";
      if (S_ISDIR(st.st_mode)) return "a directory";
      return fio_not_a_file_of_one_name(st);
    }
    case FIO_ANOTHER_USERS_FILE:
      return verdict.refusal ? "another user's file" : "";
    case FIO_MADE_BY_LIVE_RUN:
      return live;
    case FIO_MADE_BY_NO_KNOWN_RUN:
      return verdict.refusal ? "made by no run the runs record knows (written by hand, by an earlier version of the "
                               "library, or changed since a run made it)"
                             : "";
    default:
      return "";
  }
}

namespace {

// Moves what `path` holds to a new name beside it, "<path>.tmp<pid>_<k>"
// with the first k taken by nothing (*aside): 0 or the system's error.
int fio_move_aside(const std::string& path, std::string* aside) {
  const std::string infix = ".tmp" + std::to_string(::getpid()) + "_";
  for (int k = 0; k < kFioTemporaryNames; ++k) {
    *aside = path + infix + std::to_string(k);
    if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, aside->c_str(), RENAME_NOREPLACE) == 0) return 0;
    const int error = errno;
    if (error == EEXIST) continue;
    if (error != EINVAL && error != ENOSYS && error != EOPNOTSUPP) return error;
    struct stat st;
    if (::lstat(aside->c_str(), &st) == 0) continue;
    return ::rename(path.c_str(), aside->c_str()) == 0 ? 0 : errno;
  }
  return EEXIST;
}

}  // namespace

bool FIO_FILE_SYSTEM::remove_own_file(const std::string& path, std::string* problem) {
  if (path.empty()) return true;
  const std::string not_made = "it is a file this process did not make, which another process may be using";
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return true;
    if (problem) *problem = std::strerror(errno);
    return false;
  }
  const std::string dir = fio_full_directory_of(path);
  const FIO_KEEP keep = fio_keep_of_dir(dir);
  const FIO_VERDICT verdict = fio_judge(path, st);
  const bool guarded = keep.kept || fio_others_may_write(dir) || fio_lock_may_not_exclude(dir);
  // Another user's entry of any kind (a file, a link, a FIFO) only where no
  // one else may write and no mount reaches past the lock; during a strict
  // run only what this process, the run or an ended run made, so no link,
  // FIFO or device.
  const bool another_users = st.st_uid != ::geteuid() && (guarded || verdict.refusal == kFioNotOwnFile);
  if (another_users || verdict.refusal == EISDIR || verdict.refusal == kFioNotMade ||
      (keep.kept && keep.strict && verdict.origin == FIO_NOT_A_FILE_OF_ONE_NAME)) {
    if (problem)
      *problem = another_users              ? "it is not a file of this user's own (another user's file)"
                 : verdict.refusal == EISDIR ? std::string(std::strerror(EISDIR))
                                            : not_made;
    return false;
  }
  if (!guarded) {
    // No other process's file can come to the name meanwhile.
    if (::unlink(path.c_str()) == 0 || errno == ENOENT) {
      fio_forget_made(st);
      return true;
    }
    if (problem) *problem = std::strerror(errno);
    return false;
  }
  // Moved aside and checked there, so that a file another process put at
  // the name since it was checked is never removed: it is put back.
  std::string aside;
  if (const int error = fio_move_aside(path, &aside)) {
    if (error == ENOENT) return true;
    if (problem) *problem = std::strerror(error);
    return false;
  }
  struct stat moved;
  if (::lstat(aside.c_str(), &moved) == 0 && fio_same_file(moved, st) && moved.st_mode == st.st_mode &&
      moved.st_size == st.st_size) {
    ::unlink(aside.c_str());
    fio_forget_made(moved);
    return true;
  }
  const int back = fio_publish_without_replacing(aside, path);
  if (problem)
    *problem = back == 0 ? not_made
                         : not_made + "; it is kept as \"" +
                               kavu_platform::msg_printable_text(aside, kavu_platform::MSG_MAX_PATH_BYTES, true) + "\"";
  return false;
}
