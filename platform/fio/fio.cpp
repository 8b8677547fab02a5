// fio.cpp — file names and file-system operations over std::filesystem.
//
// Every operation uses the error_code forms of std::filesystem, so a failure
// becomes a false or null result instead of an exception.
#include "fio/fio.h"

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

}  // namespace

bool FIO_FILE_SYSTEM::replace_file(const std::string& path, std::initializer_list<std::string_view> parts,
                                   std::string* problem) {
  auto fail = [&](int error) {
    if (problem) *problem = "cannot write the file: " + std::string(std::strerror(error ? error : EIO));
    return false;
  };
  if (path.empty()) return fail(ENOENT);
  std::string target = path;
  struct stat st;
  bool exists = ::stat(path.c_str(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode)) {
    // A device or a FIFO holds no file to keep: written in place.
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) return fail(errno);
    const int error = fio_write_all(fd, parts);
    const int closed = ::close(fd) != 0 ? errno : 0;
    return error || closed ? fail(error ? error : closed) : true;
  }
  struct stat link;
  if (exists && ::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
    std::error_code ec;
    const fs::path resolved = fs::canonical(fs::path(path), ec);
    if (!ec) target = resolved.string();
  }
  std::string temp;
  int error = 0;
  const int fd = fio_create_beside(target, &temp, &error);
  if (fd < 0) return fail(error);
  if (exists) (void)::fchmod(fd, st.st_mode & 07777);
  error = fio_write_all(fd, parts);
  if (::close(fd) != 0 && !error) error = errno ? errno : EIO;
  if (!error && ::rename(temp.c_str(), target.c_str()) != 0) error = errno ? errno : EIO;
  if (error) {
    ::unlink(temp.c_str());  // after the reason is taken: a full disk has room again
    return fail(error);
  }
  return true;
}
