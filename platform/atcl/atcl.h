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
// grants what Tcl will allocate for the text, its one-time set-up
// included. Tcl parses a bracket within a bracket by a call within a call:
// text nested more than kAtclMaxNesting levels deep (brackets, quotes and
// array indices within brackets) is refused, so that a reader needs little
// of its thread's stack (well within 1 MiB).
constexpr int kAtclMaxNesting = 100;

// The commands of a script, one after the other, as Tcl reads them
// (Tcl_ParseCommand over the whole text): comments where a command starts
// are skipped, ';' or a newline ends a command, and braces, quotes and
// brackets group across lines. Each command's words are given as written,
// nothing substituted: a braced or quoted word without its braces or
// quotes, any other word whole ("[get_ports a]", "d[3]", "a\[3\]"); a
// backslash-newline and the white space after it are one space, as in Tcl.
// The script must outlive the reader. Cost: O(length) over the script.
class ATCL_SCRIPT_READER {
 public:
  explicit ATCL_SCRIPT_READER(std::string_view script) : m_script(script) {}
  // The next command's words, and per word (when asked) whether it is one
  // command substitution as written ("[list a b]", not "{[list a b]}" nor
  // "d[3]"). False at the end of the script (*why empty), or with *why for
  // text Tcl does not read ("unbalanced {", "unbalanced [", ...) or nested
  // too deeply.
  bool next(std::vector<std::string>* words, std::vector<char>* substituted, std::string* why);
  // Where the command last given (or refused) starts: an offset into the
  // script, and its line (1 for the first; counted on from the last call).
  size_t command_start() const { return m_start; }
  size_t line_of_command();
  // Where the next command is looked for.
  size_t position() const { return m_at; }
  // The brace, bracket or quote ('{', '[' or '"') that the end of the
  // script leaves open in the command last refused (Tcl's "info complete"
  // is false for it: the command runs on to the end of the script), or 0
  // when that command was refused for another reason or none was.
  char open_at_end() const { return m_open_at_end; }

 private:
  std::string_view m_script;
  size_t m_at = 0, m_start = 0;
  size_t m_counted = 0, m_line = 1;
  char m_open_at_end = 0;
  size_t m_open_pos = 0;  // where that brace, bracket or quote stands
  friend bool atcl_unfinished_command_words(std::string_view, std::vector<std::string>*, std::vector<char>*,
                                            std::string*);
};

// The words of a command that the end of its text leaves open
// (ATCL_SCRIPT_READER::open_at_end), as ATCL_SCRIPT_READER gives them once
// every brace, bracket and quote left open is closed at the end: "cmd -to
// {r3" gives cmd, -to and r3, "cmd [get_cells {r3" cmd and "[get_cells
// {r3}]". `command` starts where the reader says the command starts. False
// with *why when the text does not read so. Cost: O(length) a closing.
bool atcl_unfinished_command_words(std::string_view command, std::vector<std::string>* words,
                                   std::vector<char>* substituted, std::string* why);

// Reads the first command of `script` as ATCL_SCRIPT_READER does. *rest
// gets the text after the command (empty words and all the text read when
// it holds none). False with *why for text Tcl does not read.
bool atcl_command_words(std::string_view script, std::vector<std::string>* words, std::string_view* rest,
                        std::string* why, std::vector<char>* substituted = nullptr);
// The elements of a Tcl list as Tcl splits it (Tcl_SplitList): elements are
// separated by white space, braces and quotes group, backslash sequences
// are replaced, brackets and '$' are ordinary characters ("[ab].*" is one
// element, "{a b} c" two). False with *why when the text is not a list.
bool atcl_split_list(std::string_view list, std::vector<std::string>* elements, std::string* why);
// The value of Tcl's "list" of the elements (Tcl_Merge: each quoted as a
// list element), or with `concat` of its "concat" (Tcl_Concat: each
// trimmed of white space, joined by a space).
std::string atcl_merge_list(const std::vector<std::string>& elements, bool concat);

// Deletes the interpreter (called by plat_test_reset_all).
void atcl_test_reset();

}  // namespace kavu_platform
