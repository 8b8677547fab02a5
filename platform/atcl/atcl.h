// Role: Tcl interpreter (docs/platform.md, "Tcl").
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
#include <string_view>
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

// Tcl's own reading of Tcl text, for readers of files written in Tcl (SDC):
// no interpreter is used, so they may be called from any thread, and
// nothing is evaluated. Memory the system refuses is std::bad_alloc (Tcl
// itself would end the process): each call first makes sure the system
// grants what Tcl will allocate for the text.
//
// Reads the first command of `script` as Tcl parses it: comments before it
// are skipped, ';' or a newline ends it, braces, quotes and brackets group
// (a bracket inside braces is an ordinary character). *words gets its words
// as written, nothing substituted: a braced or quoted word without its
// braces or quotes, any other word whole ("[get_ports a]", "d[3]",
// "a\[3\]"). *rest gets the text after the command. False with *why for
// text Tcl does not read ("unbalanced {", "unbalanced [", ...).
bool atcl_command_words(std::string_view script, std::vector<std::string>* words, std::string_view* rest,
                        std::string* why);
// The elements of a Tcl list as Tcl splits it (Tcl_SplitList): elements are
// separated by white space, braces and quotes group, backslash sequences
// are replaced, brackets and '$' are ordinary characters ("[ab].*" is one
// element, "{a b} c" two). False with *why when the text is not a list.
bool atcl_split_list(std::string_view list, std::vector<std::string>* elements, std::string* why);

// Deletes the interpreter (called by plat_test_reset_all).
void atcl_test_reset();

}  // namespace kavu_platform
