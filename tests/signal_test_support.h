// signal_test_support.h — rows that change a process's signal state run in
// a forked process of their own; these helpers run one and compare actions.
#pragma once

#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

// The flag the C library adds to every action it installs (its return
// trampoline); not part of what the caller asked.
constexpr int kRestorer = 0x04000000;

// What the descriptor gives until its end; closes it.
inline std::string read_to_end(int fd) {
  std::string text;
  char buffer[512];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, size_t(n));
  close(fd);
  return text;
}

// Runs body in a forked process: "" when it returned "", else what it said
// (or how the process ended, where it said nothing and did not exit 0).
// With `seconds`, a process not ended by then is killed and said to hang.
inline std::string in_child(const std::function<std::string()>& body, int seconds = 0) {
  int said[2];
  if (pipe(said) != 0) return "no pipe";
  const pid_t pid = fork();
  if (pid == 0) {
    close(said[0]);
    const std::string why = body();
    (void)!write(said[1], why.data(), why.size());
    _exit(0);
  }
  close(said[1]);
  int status = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (seconds > 0 && waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > end) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      close(said[0]);
      return "the process hung (killed after " + std::to_string(seconds) + " s)";
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::string why = read_to_end(said[0]);
  if (seconds <= 0) waitpid(pid, &status, 0);
  if (why.empty() && !(WIFEXITED(status) && WEXITSTATUS(status) == 0))
    why = "the process ended with status " + std::to_string(status);
  return why;
}

// The same handler, flags and mask, as the caller set them.
inline bool same_action(const struct sigaction& a, const struct sigaction& b) {
  if (a.sa_handler != b.sa_handler || (a.sa_flags & ~kRestorer) != (b.sa_flags & ~kRestorer)) return false;
  for (int s = 1; s < NSIG; ++s)
    if (sigismember(&a.sa_mask, s) != sigismember(&b.sa_mask, s)) return false;
  return true;
}

// "" when a read() blocked on this thread returns EINTR once SIGINT is
// sent to it (every 50 ms until the read returns), as a caller whose
// handler has flags 0 asks; else what happened.
inline std::string blocked_read_is_interrupted_by_sigint() {
  int p[2];
  if (pipe(p) != 0) return "no pipe";
  std::atomic<bool> done{false};
  const pthread_t self = pthread_self();
  std::thread signaller([&] {
    while (!done) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      if (!done) pthread_kill(self, SIGINT);
    }
  });
  char byte;
  const ssize_t n = read(p[0], &byte, 1);
  const int error = errno;
  done = true;
  signaller.join();
  close(p[0]);
  close(p[1]);
  return n < 0 && error == EINTR ? "" : "read() was not interrupted";
}
