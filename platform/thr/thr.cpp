// thr.cpp — error-checking POSIX mutexes, threads that may be refused, and
// the layer's locks kept whole across fork() (thr_fork_int.h).
//
// PTHREAD_MUTEX_ERRORCHECK makes relocking by the owner and unlocking by a
// non-owner return an error code, which becomes an internal error.
#include "thr/thr.h"

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#if __has_include(<valgrind/valgrind.h>)
#include <valgrind/valgrind.h>
#endif
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <system_error>

#include "msg/msg.h"
#include "testkit/platform_test_hooks.h"
#include "thr/thr_fork_int.h"

extern char** environ;

struct THR_MUTEX {
  pthread_mutex_t m;
};

THR_MUTEX* thr_mutex_create() {
  THR_MUTEX* mutex = new THR_MUTEX;
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_ERRORCHECK);
  int rc = pthread_mutex_init(&mutex->m, &attr);
  pthread_mutexattr_destroy(&attr);
  PLAT_CHECK(rc == 0, "THR");
  return mutex;
}

void thr_mutex_lock(THR_MUTEX* mutex) {
  PLAT_CHECK(mutex != nullptr, "THR");
  int rc = pthread_mutex_lock(&mutex->m);
  PLAT_CHECK(rc == 0 && "mutex already held by this thread", "THR");
}

void thr_mutex_unlock(THR_MUTEX* mutex) {
  PLAT_CHECK(mutex != nullptr, "THR");
  int rc = pthread_mutex_unlock(&mutex->m);
  PLAT_CHECK(rc == 0 && "mutex not held by this thread", "THR");
}

void thr_mutex_destroy(THR_MUTEX* mutex) {
  if (!mutex) return;
  int rc = pthread_mutex_destroy(&mutex->m);
  PLAT_CHECK(rc == 0 && "mutex destroyed while locked", "THR");
  delete mutex;
}

// ---------------------------------------------------------------- threads

namespace {
// Threads thr_start_thread still starts before it refuses every other one
// (a test's stand-in for a limit of the system); -1: no such limit.
std::atomic<int> g_threads_left{-1};

// True when the test limit lets one more thread start (and counts it).
bool test_limit_allows_thread() {
  int left = g_threads_left.load();
  while (left > 0 && !g_threads_left.compare_exchange_weak(left, left - 1)) {
  }
  return left != 0;
}
}  // namespace

std::string thr_start_thread(std::thread* thread, std::function<void()> body) {
  PLAT_CHECK(thread != nullptr && !thread->joinable(), "THR");
  int error = EAGAIN;
  if (test_limit_allows_thread()) {
    try {
      *thread = std::thread(std::move(body));
      return "";
    } catch (const std::system_error& e) {
      error = e.code().value();
    } catch (const std::bad_alloc&) {
      error = ENOMEM;
    }
  }
  return std::string("cannot start a thread: ") + std::strerror(error);
}

namespace kavu_platform {
void thr_test_refuse_threads_after(int count) { g_threads_left.store(count < 0 ? -1 : count); }
}  // namespace kavu_platform

// ---------------------------------------------------------------- own children
//
// The keeper and the program, until it execs, share the caller's memory and
// run with the calling thread's thread pointer: they make system calls only
// (no C library function, which may take a lock, touch errno or allocate),
// on stacks of their own, with no sanitizer or stack-protector code.

namespace {

#define KAVU_UNCHECKED no_sanitize("address", "undefined", "thread"), no_stack_protector
#define KAVU_RAW __attribute__((noinline, KAVU_UNCHECKED))

#if defined(__x86_64__)
// Clones with `flags` onto `stack_top`, where the child runs fn(arg) and
// exits with its result; returns the child's id or -errno.
extern "C" long kavu_thr_clone_run(unsigned long flags, void* stack_top, int (*fn)(void*), void* arg);
asm(R"(
  .text
  .p2align 4
  .globl kavu_thr_clone_run
  .hidden kavu_thr_clone_run
  .type kavu_thr_clone_run, @function
kavu_thr_clone_run:
  and $-16, %rsi
  sub $16, %rsi
  mov %rdx, (%rsi)
  mov %rcx, 8(%rsi)
  xor %edx, %edx
  xor %r10d, %r10d
  xor %r8d, %r8d
  mov $56, %eax
  syscall
  test %rax, %rax
  jnz 1f
  xor %ebp, %ebp
  pop %rax
  pop %rdi
  call *%rax
  mov %eax, %edi
  mov $60, %eax
  syscall
  hlt
1:
  ret
  .size kavu_thr_clone_run, .-kavu_thr_clone_run
)");

__attribute__((always_inline, KAVU_UNCHECKED)) inline long raw(long n, long a = 0, long b = 0, long c = 0, long d = 0, long e = 0) {
  register long r10 asm("r10") = d;
  register long r8 asm("r8") = e;
  long ret;
  asm volatile("syscall" : "=a"(ret) : "a"(n), "D"(a), "S"(b), "d"(c), "r"(r10), "r"(r8) : "rcx", "r11", "memory");
  return ret;
}
#elif defined(__aarch64__)
extern "C" long kavu_thr_clone_run(unsigned long flags, void* stack_top, int (*fn)(void*), void* arg);
asm(R"(
  .text
  .p2align 2
  .globl kavu_thr_clone_run
  .hidden kavu_thr_clone_run
  .type kavu_thr_clone_run, %function
kavu_thr_clone_run:
  and x1, x1, #-16
  stp x2, x3, [x1, #-16]!
  mov x2, #0
  mov x3, #0
  mov x4, #0
  mov x8, #220
  svc #0
  cbz x0, 1f
  ret
1:
  ldp x1, x0, [sp], #16
  blr x1
  mov x8, #93
  svc #0
  .size kavu_thr_clone_run, .-kavu_thr_clone_run
)");

__attribute__((always_inline, KAVU_UNCHECKED)) inline long raw(long n, long a = 0, long b = 0, long c = 0, long d = 0, long e = 0) {
  register long x8 asm("x8") = n;
  register long x0 asm("x0") = a;
  register long x1 asm("x1") = b;
  register long x2 asm("x2") = c;
  register long x3 asm("x3") = d;
  register long x4 asm("x4") = e;
  asm volatile("svc 0" : "+r"(x0) : "r"(x8), "r"(x1), "r"(x2), "r"(x3), "r"(x4) : "memory");
  return x0;
}
#else
#error "the library's own children need a clone entry for this processor"
#endif

// What the caller, the keeper and the program share: at the top of one
// mapping that also holds both stacks.
struct KEEPER_BLOCK {
  // Set by the caller before the keeper starts.
  const char* m_path;
  char* const* m_argv;
  char* const* m_envp;
  int m_fds[3];
  const char* m_dir;
  unsigned long m_mask;      // the program's signal mask, as the kernel reads one
  int m_report;              // the pipe's end the keeper writes {pid, errno} records to
  pid_t m_caller;
  pid_t m_caller_group;
  char* m_program_stack;     // top of the program's stack
  int m_copies;              // under valgrind: the keeper and the program are copies (fork), see below
  pid_t* m_keeper_seen;      // THR_OWN_CHILD_START::m_keeper_seen's value, or null
  int m_go;                  // under valgrind: the pipe's end the keeper reads the caller's go from
  // Set by the keeper and the program.
  int m_exec_error;
  int m_keeper_is_program;   // the second process was refused: the keeper execs
  int m_status;              // the program's wait status, once m_ended
  int m_ended;               // set last (release)
};

// The keeper's mapping: a guard page (the system's page, which is larger
// than 4 KiB on some machines: a guard of 4 KiB rounded up by mprotect
// would cover the stacks), the program's stack, the keeper's, and room for
// the block they share.
constexpr size_t kProgramStack = 32 * 1024;
constexpr size_t kKeeperStack = 32 * 1024;
constexpr size_t kBlockRoom = 4096;
static_assert(sizeof(KEEPER_BLOCK) <= kBlockRoom);
size_t guard_size() { return size_t(sysconf(_SC_PAGESIZE)); }
size_t mapping_size() { return guard_size() + kProgramStack + kKeeperStack + kBlockRoom; }

struct KERNEL_SIGACTION {
  unsigned long m_handler;
  unsigned long m_flags;
  unsigned long m_restorer;
  unsigned long m_mask;
};

KAVU_RAW void report(int fd, pid_t pid, int error) {
  const int record[2] = {int(pid), error};
  raw(SYS_write, fd, long(record), long(sizeof record));
}

// Makes the caller's descriptors the standard ones, changes directory,
// sets the mask and execs; returns execve's (or a step's) errno.
KAVU_RAW int exec_program(KEEPER_BLOCK* b) {
  long dups[3];
  for (int i = 0; i < 3; ++i) {  // above the standard ones first: a source may be one of them
    dups[i] = raw(SYS_fcntl, b->m_fds[i], F_DUPFD_CLOEXEC, 10);
    if (dups[i] < 0) return int(-dups[i]);
  }
  for (int i = 0; i < 3; ++i) {
    const long r = raw(SYS_dup3, dups[i], i, 0);
    if (r < 0) return int(-r);
  }
  if (b->m_dir) {
    const long r = raw(SYS_chdir, long(b->m_dir));
    if (r < 0) return int(-r);
  }
  raw(SYS_rt_sigprocmask, SIG_SETMASK, long(&b->m_mask), 0, 8);
  return int(-raw(SYS_execve, long(b->m_path), long(b->m_argv), long(b->m_envp)));
}

// The program's process until it execs (on the keeper's memory, the
// keeper waiting: CLONE_VFORK).
KAVU_RAW int program_main(void* arg) {
  KEEPER_BLOCK* b = static_cast<KEEPER_BLOCK*>(arg);
  raw(SYS_prctl, PR_SET_PDEATHSIG, SIGKILL);
  b->m_exec_error = exec_program(b);
  report(b->m_report, 0, b->m_exec_error);  // told also where the keeper's memory is a copy
  return 127;
}

// Starts the program's process: on the keeper's memory until it execs, or
// under valgrind (which takes no clone that shares memory but vfork's) as
// a copy of the keeper, on its own copy of this stack.
KAVU_RAW long start_program(KEEPER_BLOCK* b) {
  if (!b->m_copies) return kavu_thr_clone_run(CLONE_VM | CLONE_VFORK | SIGCHLD, b->m_program_stack, program_main, b);
  const long program = raw(SYS_clone, SIGCHLD, 0, 0, 0, 0);
  if (program == 0) raw(SYS_exit, program_main(b));
  return program;
}

// The keeper: see thr_start_own_child in thr.h.
KAVU_RAW int keeper_main(void* arg) {
  KEEPER_BLOCK* b = static_cast<KEEPER_BLOCK*>(arg);
  const long self = raw(SYS_getpid);
  raw(SYS_setpgid, 0, 0);
  raw(SYS_prctl, PR_SET_PDEATHSIG, SIGKILL);
  if (raw(SYS_getppid) != b->m_caller) return 127;  // the caller's thread ended before the request took effect
  // No handler of the caller's runs here or in the program, the program's
  // end is the keeper's to take, and the program writes to a closed pipe
  // as programs expect.
  for (int sig = 1; sig <= 64; ++sig) {
    if (sig == SIGKILL || sig == SIGSTOP) continue;
    KERNEL_SIGACTION was{};
    if (raw(SYS_rt_sigaction, sig, 0, long(&was), 8) != 0) continue;
    const bool handled = was.m_handler != (unsigned long)SIG_DFL && was.m_handler != (unsigned long)SIG_IGN;
    if (!handled && sig != SIGCHLD && sig != SIGPIPE) continue;
    const KERNEL_SIGACTION dfl{};
    raw(SYS_rt_sigaction, sig, long(&dfl), 0, 8);
  }
  raw(SYS_prctl, PR_SET_CHILD_SUBREAPER, 1);
  // Told before the program runs, once the group it names exists. A copy's
  // store reaches no one: the caller tells the id, once it has made the
  // group too, and then lets the keeper go on.
  if (b->m_copies) {
    char go = 0;
    raw(SYS_read, b->m_go, long(&go), 1);
    raw(SYS_close, b->m_go);
  } else if (b->m_keeper_seen) {
    __atomic_store_n(b->m_keeper_seen, pid_t(self), __ATOMIC_SEQ_CST);
  }
  const long program = start_program(b);
  if (program == -EAGAIN || program == -ENOMEM) {
    // The system refuses a second process: the keeper runs the program.
    raw(SYS_prctl, PR_SET_CHILD_SUBREAPER, 0);
    b->m_keeper_is_program = 1;
    report(b->m_report, pid_t(self), 0);
    report(b->m_report, pid_t(self), exec_program(b));
    return 127;
  }
  if (program < 0) {
    report(b->m_report, 0, int(-program));
    return 127;
  }
  int status = 0;
  if (b->m_exec_error != 0) {
    raw(SYS_wait4, program, long(&status), __WALL, 0);
    report(b->m_report, pid_t(program), b->m_exec_error);
    return 127;
  }
  // Out of the program's group, so that ending the group ends the program
  // while the keeper lives on to reap it.
  const bool left = raw(SYS_setpgid, 0, b->m_caller_group) == 0;
  report(b->m_report, pid_t(program), 0);
  // The keeper holds no file: a pipe the caller reads to its end (the
  // program's output) ends when the program's does.
  if (raw(SYS_close_range, 0, ~0U, 0) != 0)
    for (int fd = 0; fd < 65536; ++fd) raw(SYS_close, fd);
  // The program's end (SIGCHLD) wakes the wait, and so does the caller's
  // request to end it (thr_end_own_child: SIGTERM queued by the caller),
  // which kills the program wherever it went: one that left its group
  // (setsid) is out of reach of the group's kill. Its id is the keeper's
  // until the keeper reaps it, so the kill reaches no other process.
  const unsigned long wake = (1UL << (SIGCHLD - 1)) | (1UL << (SIGTERM - 1));
  for (;;) {
    const long r = raw(SYS_wait4, program, long(&status), __WALL | WNOHANG, 0);
    if (r == program || (r < 0 && r != -EINTR)) break;
    siginfo_t info;
    if (raw(SYS_rt_sigtimedwait, long(&wake), long(&info), 0, 8) == SIGTERM && info.si_code == SI_QUEUE &&
        info.si_pid == b->m_caller)
      raw(SYS_kill, program, SIGKILL);
  }
  // What the program left in its group ends with it, reaped here.
  if (left) {
    raw(SYS_kill, -self, SIGKILL);
    int ignored = 0;
    long r;
    while ((r = raw(SYS_wait4, -self, long(&ignored), __WALL, 0)) > 0 || r == -EINTR) {
    }
  }
  b->m_status = status;
  __atomic_store_n(&b->m_ended, 1, __ATOMIC_RELEASE);
  // Where the block is a copy, the caller reads the program's end from the
  // keeper's: its exit status, or 128 + its signal.
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::atomic<bool> g_children_as_copies{false};  // the test's stand-in for valgrind

// True when the process runs under valgrind, which ends a process that
// clones with its memory shared other than as a thread or by vfork.
bool under_valgrind() {
  if (g_children_as_copies.load()) return true;
#if __has_include(<valgrind/valgrind.h>)
  if (RUNNING_ON_VALGRIND) return true;
#endif
  const char* preload = std::getenv("LD_PRELOAD");
  return preload && std::strstr(preload, "vgpreload_");
}

// The keepers not yet reaped, by id: their mappings.
std::mutex g_keepers_mutex;
std::map<pid_t, KEEPER_BLOCK*> g_keepers;

void free_block(KEEPER_BLOCK* b);

// In a child forked without exec: the keepers were its parent's children,
// and their mappings here are copies.
void forget_keepers_in_child() {
  for (const auto& [pid, block] : g_keepers) free_block(block);
  g_keepers.clear();
}
[[maybe_unused]] const bool g_keepers_kept_across_fork =
    (thr_lock_across_fork(&g_keepers_mutex, THR_FORK_OWN_CHILDREN, forget_keepers_in_child), true);

KEEPER_BLOCK* find_keeper(pid_t pid) {
  std::lock_guard<std::mutex> lock(g_keepers_mutex);
  const auto it = g_keepers.find(pid);
  return it == g_keepers.end() ? nullptr : it->second;
}

void free_block(KEEPER_BLOCK* b) {
  const size_t size = mapping_size();
  munmap(reinterpret_cast<char*>(b) + kBlockRoom - size, size);
}

// The keeper `pid` has ended and is reaped (by this process or a host's
// wait): its mapping goes.
void forget_keeper(pid_t pid) {
  KEEPER_BLOCK* b = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_keepers_mutex);
    const auto it = g_keepers.find(pid);
    if (it == g_keepers.end()) return;
    b = it->second;
    g_keepers.erase(it);
  }
  free_block(b);
}

bool ended(const KEEPER_BLOCK* b) { return __atomic_load_n(&b->m_ended, __ATOMIC_ACQUIRE) != 0; }

// The program's wait status for the keeper's `keeper_status`.
int program_status(const KEEPER_BLOCK* b, int keeper_status) {
  if (!b || b->m_keeper_is_program) return keeper_status;
  return ended(b) ? b->m_status : keeper_status;
}

void fill_info(siginfo_t* info, pid_t pid, int status) {
  *info = siginfo_t{};
  info->si_signo = SIGCHLD;
  info->si_pid = pid;
  if (WIFEXITED(status)) {
    info->si_code = CLD_EXITED;
    info->si_status = WEXITSTATUS(status);
  } else {
    info->si_code = WCOREDUMP(status) ? CLD_DUMPED : CLD_KILLED;
    info->si_status = WTERMSIG(status);
  }
}

}  // namespace

namespace kavu_platform {
void thr_test_start_children_as_copies(bool on) { g_children_as_copies.store(on); }
}  // namespace kavu_platform

pid_t thr_start_own_child(const THR_OWN_CHILD_START& start, pid_t* program, int* error) {
  PLAT_CHECK(start.m_path && start.m_argv && program && error, "THR");
  *program = 0;
  *error = 0;
  // The keeper's entry is made before anything starts: memory refused
  // (std::bad_alloc) then leaves no child running unrecorded, no mapping
  // and no descriptor. Inserting a node allocates nothing.
  std::map<pid_t, KEEPER_BLOCK*> made;
  made.emplace(0, nullptr);
  auto entry = made.extract(made.begin());
  int null_fd = -1;
  if (start.m_in < 0 || start.m_out < 0 || start.m_err < 0) {
    null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null_fd < 0) return *error = errno, -1;
  }
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) {
    *error = errno;
    if (null_fd >= 0) close(null_fd);
    return -1;
  }
  const size_t size = mapping_size();
  void* mapping = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
  if (mapping == MAP_FAILED) {
    *error = errno;
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    if (null_fd >= 0) close(null_fd);
    return -1;
  }
  char* base = static_cast<char*>(mapping);
  mprotect(base, guard_size(), PROT_NONE);  // a guard below the stacks
  KEEPER_BLOCK* b = new (base + size - kBlockRoom) KEEPER_BLOCK{};
  b->m_path = start.m_path;
  b->m_argv = start.m_argv;
  b->m_envp = start.m_envp ? start.m_envp : environ;
  b->m_fds[0] = start.m_in >= 0 ? start.m_in : null_fd;
  b->m_fds[1] = start.m_out >= 0 ? start.m_out : null_fd;
  b->m_fds[2] = start.m_err >= 0 ? start.m_err : null_fd;
  b->m_dir = start.m_dir;
  b->m_mask = 0;
  if (start.m_mask)
    for (int sig = 1; sig <= 64; ++sig)
      if (sigismember(start.m_mask, sig) == 1) b->m_mask |= 1UL << (sig - 1);
  b->m_report = pipe_fds[1];
  b->m_caller = getpid();
  b->m_caller_group = getpgrp();
  b->m_program_stack = base + guard_size() + kProgramStack;
  char* keeper_stack = base + size - kBlockRoom;
  // The keeper starts with every signal blocked: no handler of the
  // caller's may run on its stack.
  sigset_t all, was;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &was);
  b->m_copies = under_valgrind();
  static_assert(sizeof(std::atomic<pid_t>) == sizeof(pid_t), "the keeper stores the id as a plain word");
  b->m_keeper_seen = start.m_keeper_seen ? reinterpret_cast<pid_t*>(start.m_keeper_seen) : nullptr;
  long keeper;
  if (!b->m_copies) {
    keeper = kavu_thr_clone_run(CLONE_VM, keeper_stack, keeper_main, b);
  } else {
    int go[2];
    if (pipe2(go, O_CLOEXEC) != 0) {
      keeper = -errno;
    } else {
      b->m_go = go[0];
      keeper = syscall(SYS_clone, 0UL, nullptr, nullptr, nullptr, nullptr);  // a copy, as fork() makes
      if (keeper == 0) {
        raw(SYS_close, go[1]);
        raw(SYS_exit, keeper_main(b));
      }
      if (keeper < 0) keeper = -errno;
      close(go[0]);
      if (keeper > 0) {
        // The group exists before its id is told (the keeper makes it too,
        // whichever comes first), and the keeper leaves it only after the go.
        setpgid(pid_t(keeper), pid_t(keeper));
        if (start.m_keeper_seen) start.m_keeper_seen->store(pid_t(keeper));
        const char byte = 1;
        (void)!write(go[1], &byte, 1);
      }
      close(go[1]);
    }
  }
  pthread_sigmask(SIG_SETMASK, &was, nullptr);
  close(pipe_fds[1]);
  if (null_fd >= 0) close(null_fd);
  if (keeper < 0) {
    *error = int(-keeper);
    close(pipe_fds[0]);
    munmap(mapping, size);
    return -1;
  }
  // Records {pid, errno}: the keeper's {program, 0} once the program runs
  // (a keeper that becomes the program: {itself, 0} before its exec), and
  // {0 or pid, errno} from whichever could not start or exec it.
  pid_t program_id = 0;
  int start_error = 0;
  int got_records = 0;
  for (;;) {
    int next[2];
    ssize_t n;
    do n = read(pipe_fds[0], next, sizeof next);
    while (n < 0 && errno == EINTR);
    if (n != ssize_t(sizeof next)) break;
    ++got_records;
    if (next[0] > 0 && program_id == 0) program_id = next[0];
    if (next[1] != 0) start_error = next[1];
  }
  close(pipe_fds[0]);
  if (got_records == 0 || start_error != 0 || program_id <= 0) {
    if (start.m_keeper_seen) start.m_keeper_seen->store(0);  // before its id is freed
    int status = 0;
    while (waitpid(pid_t(keeper), &status, __WALL) < 0 && errno == EINTR) {
    }
    munmap(mapping, size);
    // A keeper that reported nothing and was killed (it blocks every signal
    // but SIGKILL) was in the program's group when an end-signal action or
    // a timeout ended the group: the program was started and killed with it.
    const bool killed = got_records == 0 && WIFSIGNALED(status);
    *error = start_error != 0 ? start_error : killed ? ECANCELED : ECHILD;
    return -1;
  }
  {
    entry.key() = pid_t(keeper);
    entry.mapped() = b;
    std::lock_guard<std::mutex> lock(g_keepers_mutex);
    const auto placed = g_keepers.insert(std::move(entry));
    if (!placed.inserted) placed.position->second = b;
  }
  *program = program_id;
  return pid_t(keeper);
}

void thr_end_own_child(pid_t pid) {
  bool keeper_is_program = false;
  {
    std::lock_guard<std::mutex> lock(g_keepers_mutex);
    const auto it = g_keepers.find(pid);
    if (it != g_keepers.end()) {
      // A keeper that ended has ended its group; its id may name another
      // process once a host's wait took it.
      if (ended(it->second)) return;
      keeper_is_program = it->second->m_keeper_is_program != 0;
    }
  }
  kill(-pid, SIGKILL);
  if (!keeper_is_program) sigqueue(pid, SIGTERM, sigval{});
}

std::string thr_start_refusal_text(int error) {
  if (error == ECANCELED) return "it was killed as it started";
  if (error != EAGAIN) return std::strerror(error);
  std::string text = "the process limit was reached";
  struct rlimit limit {};
  if (getrlimit(RLIMIT_NPROC, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
    text += " (RLIMIT_NPROC " + std::to_string(limit.rlim_cur) + ")";
  return text;
}

pid_t thr_wait_own_child(pid_t pid, int* status, int options) {
  return thr_wait4_own_child(pid, status, options, nullptr);
}

pid_t thr_wait4_own_child(pid_t pid, int* status, int options, struct rusage* usage) {
  int keeper_status = 0;
  const pid_t r = wait4(pid, &keeper_status, options | __WALL, usage);
  const int wait_error = errno;
  KEEPER_BLOCK* b = find_keeper(pid);
  if (r == pid) {
    if (status) *status = program_status(b, keeper_status);
    forget_keeper(pid);
    return r;
  }
  if (r < 0 && wait_error == ECHILD && b) {
    // A host's wait took the keeper's end: the program's is still here when
    // the keeper kept it.
    const bool kept = !b->m_keeper_is_program && ended(b);
    const int program_end = b->m_status;
    forget_keeper(pid);
    if (kept) {
      if (status) *status = program_end;
      if (usage) *usage = rusage{};
      return pid;
    }
  }
  errno = wait_error;
  return r;
}

int thr_waitid_own_child(pid_t pid, siginfo_t* info, int options) {
  const int r = waitid(P_PID, id_t(pid), info, options | __WALL);
  const int wait_error = errno;
  KEEPER_BLOCK* b = find_keeper(pid);
  if (r == 0 && info->si_pid == pid) {
    if (b && !b->m_keeper_is_program && ended(b)) fill_info(info, pid, b->m_status);
    if (!(options & WNOWAIT)) forget_keeper(pid);
    return 0;
  }
  if (r < 0 && wait_error == ECHILD && b && !b->m_keeper_is_program && ended(b)) {
    fill_info(info, pid, b->m_status);
    if (!(options & WNOWAIT)) forget_keeper(pid);
    return 0;
  }
  if (r < 0 && wait_error == ECHILD) forget_keeper(pid);
  errno = wait_error;
  return r;
}

// ---------------------------------------------------------------- set-up points

namespace {
constinit std::atomic<kavu_platform::THR_SETUP_HOOK> g_setup_hook{nullptr};
}  // namespace

void thr_setup_point(const char* what) {
  if (const kavu_platform::THR_SETUP_HOOK hook = g_setup_hook.load()) hook(what);
}

namespace kavu_platform {
void thr_test_set_setup_hook(THR_SETUP_HOOK hook) { g_setup_hook.store(hook); }
}  // namespace kavu_platform

// ---------------------------------------------------------------- fork

namespace {

constexpr int kMaxForkLocks = 64;

struct FORK_LOCK {
  std::atomic<std::mutex*> m_mutex{nullptr};  // set last: a place is used once it is set
  std::atomic<int> m_rank{0};
  std::atomic<void (*)()> m_in_child{nullptr};
};

FORK_LOCK g_fork_locks[kMaxForkLocks];
std::atomic<int> g_fork_lock_count{0};
// The places the forking thread took; the C library runs the handlers of
// one fork at a time, so only that thread reads or writes them.
bool g_fork_taken[kMaxForkLocks];

void take_fork_locks() {
  const int n = std::min(g_fork_lock_count.load(), kMaxForkLocks);
  for (int rank = 0; rank < THR_FORK_RANKS; ++rank)
    for (int i = 0; i < n; ++i) {
      std::mutex* mutex = g_fork_locks[i].m_mutex.load(std::memory_order_acquire);
      if (!mutex || g_fork_locks[i].m_rank.load() != rank) continue;
      mutex->lock();
      g_fork_taken[i] = true;
    }
}

void release_fork_locks(bool child) {
  for (int i = kMaxForkLocks - 1; i >= 0; --i) {
    if (!g_fork_taken[i]) continue;
    g_fork_taken[i] = false;
    if (child)
      if (void (*in_child)() = g_fork_locks[i].m_in_child.load()) in_child();
    g_fork_locks[i].m_mutex.load()->unlock();
  }
}

void release_fork_locks_in_parent() { release_fork_locks(false); }
void release_fork_locks_in_child() { release_fork_locks(true); }

// Registered as the layer loads, so before the handlers of any library
// built on it: the C library runs those libraries' preparations first,
// which take their locks outside these.
[[maybe_unused]] const int g_fork_handlers =
    pthread_atfork(take_fork_locks, release_fork_locks_in_parent, release_fork_locks_in_child);

}  // namespace

void thr_lock_across_fork(std::mutex* mutex, THR_FORK_RANK rank, void (*in_child)()) {
  PLAT_CHECK(mutex != nullptr && rank >= 0 && rank < THR_FORK_RANKS, "THR");
  const int i = g_fork_lock_count.fetch_add(1);
  PLAT_CHECK(i < kMaxForkLocks && "too many locks kept across fork", "THR");
  g_fork_locks[i].m_rank.store(rank);
  g_fork_locks[i].m_in_child.store(in_child);
  g_fork_locks[i].m_mutex.store(mutex, std::memory_order_release);
}
