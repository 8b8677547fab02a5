// msg_debug.cpp — debug output: one formatted line per call, per component.
//
// Model: a component's output is on when the key "debug_msg" or
//   "debug_msg_<component>" is on, or while a capture of it is open. A line
//   prints when its level is at most "debug_msg_level" (default 3), to stderr
//   or to the file named by "debug_msg_file" (opened for appending, kept open
//   while the key names the same path). The file is opened as a file of the
//   user's own (FIO_FILE_SYSTEM::open_own_file_to_append): another user's
//   file, a link another user made, a file of several names or a FIFO at
//   the name is never written; the lines then go to stderr, with one warning
//   naming the file.
// Invariant: every line is formatted completely before the output mutex is
//   taken and written with one call under it, so lines of different threads
//   never interleave.
// Cost: with output off, one atomic read and two configuration lookups.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "cfg/cfg.h"
#include "fio/fio.h"
#include "msg/msg.h"
#include "testkit/platform_test_hooks.h"
#include "thr/thr_fork_int.h"

namespace {

struct CAPTURE {
  std::string component;  // lower case
  std::vector<std::string> lines;
};

struct DEBUG_STATE {
  std::mutex mutex;
  std::map<int, CAPTURE> captures;
  int next_handle = 1;
  std::string file_path;  // the open file's full path, "" for none
  FILE* file = nullptr;
  std::string refused_path;  // the last file that could not be opened (warned of once)
};

DEBUG_STATE& dstate() {
  static DEBUG_STATE* s = [] {  // never destroyed
    DEBUG_STATE* made = new DEBUG_STATE;
    thr_lock_across_fork(&made->mutex, THR_FORK_DEBUG);
    return made;
  }();
  return *s;
}
// Made as the layer loads, not at first use: a process that forks while
// another thread makes it would leave its child waiting for it for ever.
[[maybe_unused]] const bool g_debug_at_load = (dstate(), true);

std::atomic<int> g_open_captures{0};

std::string lower(const char* text) {
  std::string s(text ? text : "");
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
  return s;
}

bool captured(const std::string& component) {
  if (g_open_captures.load() == 0) return false;
  DEBUG_STATE& s = dstate();
  std::lock_guard<std::mutex> lock(s.mutex);
  for (const auto& [handle, cap] : s.captures) {
    if (cap.component == component) return true;
  }
  return false;
}

bool enabled_by_configuration(const std::string& component) {
  if (cfg_is_on("debug_msg", false)) return true;
  std::string key = "debug_msg_" + component;
  return cfg_is_on(key.c_str(), false);
}

// Writes `line` (newline included) to the configured target. Holds the lock.
// A file that cannot be opened as the user's own is tried once while the
// key names it; *warning is then the warning to post (after the lock goes).
void write_locked(DEBUG_STATE& s, const std::string& line, std::string* warning) {
  std::string name = cfg_get_value("debug_msg_file");
  if (name.empty()) {
    std::fputs(line.c_str(), stderr);
    return;
  }
  std::string path = fio_get_unc_full_path(name);
  if (path != s.file_path && path != s.refused_path) {
    if (s.file) std::fclose(s.file);
    s.file = nullptr;
    s.file_path.clear();
    std::string problem;
    const int fd = FIO_FILE_SYSTEM::open_own_file_to_append(path, &problem);
    if (fd >= 0 && !(s.file = ::fdopen(fd, "a"))) {
      problem = std::string("cannot write the file: ") + std::strerror(errno);
      ::close(fd);
    }
    if (s.file) {
      s.file_path = path;
      s.refused_path.clear();
    } else {
      s.refused_path = path;
      *warning = "The debug output file \"" + kavu_platform::msg_printable_text(path, kavu_platform::MSG_MAX_PATH_BYTES, true) +
                 "\" is not written: " + problem + "; debug output goes to stderr";
    }
  }
  if (!s.file) {
    std::fputs(line.c_str(), stderr);  // an unwritable file must not lose the trace
    return;
  }
  if (std::fputs(line.c_str(), s.file) >= 0 && std::fflush(s.file) == 0) return;
  // The file takes no more (a full disk): warned of once, and the lines go
  // to stderr from this one on.
  const int error = errno;
  std::fclose(s.file);
  s.file = nullptr;
  s.file_path.clear();
  s.refused_path = path;
  *warning = "The debug output file \"" + kavu_platform::msg_printable_text(path, kavu_platform::MSG_MAX_PATH_BYTES, true) +
             "\" is not written: cannot write the file: " + std::strerror(error) + "; debug output goes to stderr";
  std::fputs(line.c_str(), stderr);
}

}  // namespace

bool MSG_D::debug_messages_enabled(const char* component) {
  std::string c = lower(component);
  return captured(c) || enabled_by_configuration(c);
}

int msg_local_vdebug(const char* component, MSG_D_LEVEL level, const char* format, va_list args) {
  if (!format) return 0;
  std::string c = lower(component);
  bool capture = captured(c);
  bool print = enabled_by_configuration(c);
  if (!capture && !print) return 0;
  if (level > cfg_get_int_value("debug_msg_level", 3)) return 0;

  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (n < 0) return 0;
  std::string line(static_cast<size_t>(n) + 1, '\0');
  std::vsnprintf(line.data(), line.size(), format, args);
  line.resize(static_cast<size_t>(n));
  if (line.empty() || line.back() != '\n') line += '\n';

  DEBUG_STATE& s = dstate();
  std::string warning;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    for (auto& [handle, cap] : s.captures) {
      if (cap.component == c) cap.lines.push_back(line.substr(0, line.size() - 1));
    }
    if (print) write_locked(s, line, &warning);
  }
  if (!warning.empty()) msg_post_message(MSG_POST_TYPE_WARNING, warning);
  return 0;
}

int msg_local_debug(const char* component, MSG_D_LEVEL level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  msg_local_vdebug(component, level, format, args);
  va_end(args);
  return 0;
}

namespace kavu_platform {

int msg_debug_capture_begin(const char* component) {
  DEBUG_STATE& s = dstate();
  std::lock_guard<std::mutex> lock(s.mutex);
  int handle = s.next_handle++;
  s.captures[handle] = CAPTURE{lower(component), {}};
  g_open_captures.fetch_add(1);
  return handle;
}

std::vector<std::string> msg_debug_capture_lines(int handle) {
  DEBUG_STATE& s = dstate();
  std::lock_guard<std::mutex> lock(s.mutex);
  auto it = s.captures.find(handle);
  return it == s.captures.end() ? std::vector<std::string>() : it->second.lines;
}

void msg_debug_capture_end(int handle) {
  DEBUG_STATE& s = dstate();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.captures.erase(handle)) g_open_captures.fetch_sub(1);
}

void msg_debug_reset() {
  DEBUG_STATE& s = dstate();
  std::lock_guard<std::mutex> lock(s.mutex);
  g_open_captures.fetch_sub(static_cast<int>(s.captures.size()));
  s.captures.clear();
  if (s.file) std::fclose(s.file);
  s.file = nullptr;
  s.file_path.clear();
  s.refused_path.clear();
}

}  // namespace kavu_platform
