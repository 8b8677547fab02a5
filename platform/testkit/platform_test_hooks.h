// Role: test kit (docs/platform.md, "Test kit").
// platform_test_hooks.h — hooks of the platform layer for tests and tools.
//
// Everything here is defined in the layer itself (kavu_platform), not in the
// test kit, so tests of any executable and the helper tools reach the same
// process-wide state: the internal-error hook, configuration values set from
// code, debug capture, and the reset that runs before every test.
// Thread safety: every function here may be called from any thread.
#pragma once

#include <string>
#include <vector>

namespace kavu_platform {

// ---- internal errors ----
// Called by MSG_INTERNAL_ERROR::report after the error is logged and the
// banner printed. A hook that returns makes report abort.
typedef void (*MSG_INTERNAL_ERROR_HOOK)(const char* text, const char* component,
                                        const char* file, int line);
// Installs `hook` (null: the default, which flushes and aborts) and returns
// the previous one.
MSG_INTERNAL_ERROR_HOOK msg_set_internal_error_hook(MSG_INTERNAL_ERROR_HOOK hook);

// ---- configuration ----
// Values set from code take precedence over KAVU_INI_SET, KAVU_INI_FILE and
// the call's default. Keys are case-insensitive.
void cfg_set_value(const char* key, const char* value);
void cfg_unset_value(const char* key);
// The code-set value of `key`, if any (for saving and restoring).
bool cfg_get_code_value(const char* key, std::string* value);
// Drops every code-set value.
void cfg_unset_all_values();
// Rereads KAVU_INI_SET and the file named by KAVU_INI_FILE; code-set values
// stay. Forgets which keys already warned about malformed values.
void cfg_reload();

// ---- debug capture ----
// While a capture of `component` is open, that component's debug output is
// enabled and every line written (level within the threshold) is recorded.
int msg_debug_capture_begin(const char* component);
std::vector<std::string> msg_debug_capture_lines(int handle);
void msg_debug_capture_end(int handle);

// ---- file locks ----
// Every later gen_lock_file fails with `error` (ENOLCK, ENOSYS, EOPNOTSUPP:
// a file system without locks) until called with 0. gen_test_reset clears it.
void gen_test_fail_file_locks(int error);

// ---- threads ----
// thr_start_thread starts `count` more threads, then refuses every other
// one as a system at its limit does (EAGAIN), until called with -1 (no
// limit). thr_ipc_test_reset clears it.
void thr_test_refuse_threads_after(int count);
// Called on the thread that makes it with the name of each one-time set-up
// of the layer and the library (thr_setup_point, thr/thr.h) while it is
// made, until called with null. A test holds a set-up open so, to fork from
// another thread at that moment.
typedef void (*THR_SETUP_HOOK)(const char* what);
void thr_test_set_setup_hook(THR_SETUP_HOOK hook);
// Called with a named pipe's path just before the pipe is made
// (THR_NAMED_PIPE::create, create_r), until called with null.
typedef void (*THR_PIPE_HOOK)(const char* path);
void thr_test_set_pipe_hook(THR_PIPE_HOOK hook);
// thr_start_own_child makes its keeper and program as copies of the
// process (fork), as under valgrind, while `on`.
void thr_test_start_children_as_copies(bool on);

// ---- files ----
// Points of the own-file path (FIO_FILE_REPLACEMENT::open_own_file,
// FIO_FILE_SYSTEM::copy_own_file, open_through_own_link) where a test may
// change what a name holds, as another process could at that moment:
// FIO_OWN_FILE_EXAMINING comes before a name to be written (or a copy's
// source) is first examined; FIO_OWN_FILE_CHECKED after the name has been
// examined (the file itself, or the caller's own link) and before anything
// is opened through it; FIO_OWN_FILE_PUBLISHING before a new file is put
// at its name.
enum FIO_TEST_POINT { FIO_OWN_FILE_EXAMINING, FIO_OWN_FILE_CHECKED, FIO_OWN_FILE_PUBLISHING };
typedef void (*FIO_TEST_HOOK)(FIO_TEST_POINT point, const char* path, void* data);
// Installs `hook` (null: none), called with `data` at every such point.
void fio_test_set_hook(FIO_TEST_HOOK hook, void* data);
// Called by a write's end action (the work an end signal does, on the thread
// the signal arrived on) with the path of the write's temporary file once it
// has removed it: async-signal-safe, so a test may hold the action there.
// Null: none.
typedef void (*FIO_END_ACTION_HOOK)(const char* temp);
void fio_test_set_end_action_hook(FIO_END_ACTION_HOOK hook);

// ---- timing engine ----
// What the timing engine did since the last reset, where a test would
// otherwise have to time it to tell a cache that missed: path-rule indexes
// made (SSC_PATH_RULE_INDEX: one by each read of constraints, one by each
// analysis whose constraints hold none), reads of constraints kept, and
// kept reads given again to an analysis. ssc_query_test_reset clears them.
struct SSC_TEST_COUNTS {
  unsigned long long rule_indexes = 0;
  unsigned long long reads_kept = 0;
  unsigned long long reads_reused = 0;
};
SSC_TEST_COUNTS ssc_test_counts();

// ---- per-role resets (called by plat_test_reset_all) ----
// Message log, queue, explicit suppressions, insertion switch, captures and
// the open debug file.
void msg_test_reset();
// Name tree, namespaces and options (defined with the name tree).
void hdb_reset();
// Usage tags, profiler totals, the database directory override, the file
// lock failure.
void gen_test_reset();

// Resets every singleton of the layer that a test can change: configuration
// values set from code, message log and suppressions, name tree and
// options, tags, the parallel-synthesis flag and the gate debug counter.
void plat_test_reset_all();

}  // namespace kavu_platform
