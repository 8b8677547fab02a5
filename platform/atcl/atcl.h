// atcl.h — the process's Tcl interpreter (Tcl 8.6).
//
// atcl_get_interpreter() creates one interpreter on first use, on the calling
//   thread (Tcl is used from the main thread only): Tcl_Init failures are
//   tolerated (no script library is needed for plain commands), the package
//   "flow" is provided, and every command registrar added with
//   kavu_platform::atcl_add_command_registrar runs on it (the timing engine
//   registers its commands this way when it first exists); a registrar added
//   after creation runs at once.
// atcl_package_require answers 0 when the package is present (provided or
//   loadable), else 1. atcl_flush_queue moves queued messages into the log.
// The test reset deletes the interpreter; the next call makes a fresh one.
#pragma once

#include <string>
#include <vector>

struct Tcl_Interp;

Tcl_Interp* atcl_get_interpreter();
int atcl_package_require(Tcl_Interp* interp, const char* name, const char* version, bool exact,
                         bool quiet);
void atcl_flush_queue(bool a = false, bool b = false);

namespace kavu_platform {

typedef void (*ATCL_COMMAND_REGISTRAR)(Tcl_Interp*);
// Registers `fn` to run on the interpreter (now when it exists, and on every
// interpreter made later); adding the same function twice adds it once.
void atcl_add_command_registrar(ATCL_COMMAND_REGISTRAR fn);
// Evaluates a script; *result gets the interpreter's result text. True on
// TCL_OK.
bool atcl_eval(const std::string& script, std::string* result);
// Evaluates one command given as its words: no word is parsed again, so a
// word may hold any characters (braces, brackets, semicolons, $).
bool atcl_eval_words(const std::vector<std::string>& words, std::string* result);
// Deletes the interpreter (called by plat_test_reset_all).
void atcl_test_reset();

}  // namespace kavu_platform
