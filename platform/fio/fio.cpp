// fio.cpp — file names and file-system operations over std::filesystem.
//
// Every operation uses the error_code forms of std::filesystem, so a failure
// becomes a false or null result instead of an exception.
#include "fio/fio.h"
#include "msg/msg.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <new>
#include <system_error>

namespace fs = std::filesystem;

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

// Writes every part to `fd`, resuming short writes; 0 or the system's error.
int fio_write_all(int fd, std::initializer_list<std::string_view> parts) {
  for (std::string_view part : parts) {
    const char* at = part.data();
    size_t left = part.size();
    while (left > 0) {
      const ssize_t n = ::write(fd, at, left);
      if (n < 0) {
        if (errno == EINTR) continue;
        return errno ? errno : EIO;
      }
      at += n;
      left -= size_t(n);
    }
  }
  return 0;
}

// Creates a new file of a unique name beside `target` (O_EXCL, mode 0666
// less the umask, as a created file gets); -1 with the system's error.
int fio_create_beside(const std::string& target, std::string* temp, int* error) {
  static std::atomic<unsigned> serial{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    *temp = target + ".tmp" + std::to_string(::getpid()) + "_" + std::to_string(serial++);
    const int fd = ::open(temp->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) return fd;
    if (errno != EEXIST) break;
  }
  *error = errno ? errno : EIO;
  return -1;
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

}  // namespace

bool FIO_FILE_REPLACEMENT::fail(int error, std::string* problem) {
  abandon();
  if (problem) *problem = "cannot write the file: " + std::string(std::strerror(error ? error : EIO));
  return false;
}

bool FIO_FILE_REPLACEMENT::open(const std::string& path, std::string* problem) {
  abandon();
  if (path.empty()) return fail(ENOENT, problem);
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    // Nothing there, or a dangling link: created. A loop of links, a
    // directory that may not be searched: refused, as an open refuses them.
    return errno == ENOENT ? open_new(path, problem) : fail(errno, problem);
  }
  if (S_ISREG(st.st_mode)) return open_existing(path, problem);
  // A device or a FIFO holds no file to keep: written in place.
  m_fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  return m_fd >= 0 || fail(errno, problem);
}

bool FIO_FILE_REPLACEMENT::open_new(const std::string& path, std::string* problem) {
  struct stat link;
  if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
    // A dangling link: the file it names is created, as an open creates it.
    m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (m_fd < 0) return fail(errno, problem);
    std::error_code ec;
    m_created = fs::canonical(fs::path(path), ec).string();
    return true;
  }
  int error = 0;
  m_fd = fio_create_beside(path, &m_temp, &error);
  if (m_fd >= 0) {
    m_target = path;
    return true;
  }
  // No temporary (a name too long for its suffix): the file itself.
  m_temp.clear();
  m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (m_fd >= 0) {
    m_created = path;
    return true;
  }
  error = errno;
  if (error != EACCES && error != EPERM && error != EROFS) return fail(error, problem);
  const std::string dir = fio_directory_of(path);
  abandon();
  if (problem)
    *problem = "cannot create a file in the directory \"" +
               kavu_platform::msg_printable_text(dir, kavu_platform::MSG_MAX_PATH_BYTES, true) +
               "\": " + std::strerror(error);
  return false;
}

bool FIO_FILE_REPLACEMENT::open_existing(const std::string& path, std::string* problem) {
  std::string target = path;
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    std::error_code ec;
    const fs::path resolved = fs::canonical(fs::path(path), ec);
    if (!ec) target = resolved.string();
  }
  // Opened for writing, not cut: the caller must be let write the file
  // itself, as writing in place asks, whoever may write its directory.
  const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return fail(errno, problem);
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1 && !fio_sticky_forbids(target, st.st_uid)) {
    int error = 0;
    const int temp = fio_create_beside(target, &m_temp, &error);
    struct stat made;
    bool same = temp >= 0 && ::fstat(temp, &made) == 0;
    if (same && (made.st_uid != st.st_uid || made.st_gid != st.st_gid))
      same = ::fchown(temp, st.st_uid, st.st_gid) == 0;
    if (same && ::fchmod(temp, st.st_mode & 07777) == 0) {
      ::close(fd);
      m_fd = temp;
      m_target = target;
      return true;
    }
    if (temp >= 0) {
      ::close(temp);
      ::unlink(m_temp.c_str());
    }
    m_temp.clear();
  }
  // Written in place, as an open for writing would: cut first.
  m_fd = fd;
  return ::ftruncate(fd, 0) == 0 || fail(errno, problem);
}

bool FIO_FILE_REPLACEMENT::write(std::string_view part) {
  if (m_fd < 0) return false;
  if (!m_error) m_error = fio_write_all(m_fd, {part});
  return !m_error;
}

bool FIO_FILE_REPLACEMENT::commit(std::string* problem) {
  if (m_fd < 0) return fail(EBADF, problem);
  int error = m_error;
  if (::close(m_fd) != 0 && !error) error = errno ? errno : EIO;
  m_fd = -1;
  if (!error && !m_temp.empty() && ::rename(m_temp.c_str(), m_target.c_str()) != 0) error = errno ? errno : EIO;
  if (error) return fail(error, problem);  // the temporary goes after the reason is taken
  m_temp.clear();
  m_created.clear();
  m_error = 0;
  return true;
}

void FIO_FILE_REPLACEMENT::abandon() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
  if (!m_temp.empty()) ::unlink(m_temp.c_str());
  if (!m_created.empty()) ::unlink(m_created.c_str());
  m_temp.clear();
  m_created.clear();
  m_target.clear();
  m_error = 0;
}

bool FIO_FILE_SYSTEM::replace_file(const std::string& path, std::initializer_list<std::string_view> parts,
                                   std::string* problem) {
  FIO_FILE_REPLACEMENT file;
  if (!file.open(path, problem)) return false;
  for (std::string_view part : parts)
    if (!file.write(part)) break;
  return file.commit(problem);
}
