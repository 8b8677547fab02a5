// atcl.cpp — the process's Tcl interpreter and its command registrars.
#include "atcl/atcl.h"

#include <tcl.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <new>
#include <vector>

#include "msg/msg.h"

namespace {

Tcl_Interp* g_interp = nullptr;

std::vector<kavu_platform::ATCL_COMMAND_REGISTRAR>& registrars() {
  static std::vector<kavu_platform::ATCL_COMMAND_REGISTRAR> list;
  return list;
}

// Tcl's subsystems (its allocator, encodings), set up once for the
// process, whichever thread comes first.
void init_tcl_library() {
  static std::once_flag once;
  std::call_once(once, [] { Tcl_FindExecutable(nullptr); });
}

// Tcl ends the process when the system refuses it memory. Before Tcl is
// handed text that needs more than a few KiB, the system is asked for
// `bytes` (a bound of what Tcl will allocate for it, with room for its
// per-thread caches) and they are given back at once: a refusal is
// std::bad_alloc here, where the caller can turn it into an error. Smaller
// needs come from the blocks Tcl's per-thread cache keeps from earlier
// calls (asking for them each time cost more than the parse).
void grant_memory(size_t bytes) {
  constexpr size_t kSmall = size_t(4) << 10, kCacheRoom = size_t(32) << 10;
  if (bytes <= kSmall) return;
  void* p = std::malloc(bytes + kCacheRoom);
  if (!p) throw std::bad_alloc();
  std::free(p);
}

bool is_tcl_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// A bound of what Tcl_ParseCommand allocates for a command: at most two
// tokens (24 bytes each, in an array that doubles) per separator or
// substitution outside braces, and one nested parse (some 600 bytes) per
// bracket. Inside braces Tcl makes no tokens.
size_t parse_bytes(std::string_view text) {
  // Texts shorter than this need less than kSmall (grant_memory) whatever
  // they hold.
  if (text.size() < 16) return 0;
  // The characters the loop looks at (a table: one load per character).
  static const auto kMarks = [] {
    std::array<bool, 256> m{};
    for (unsigned char c : std::string_view("\\{}; \t\n\r\v\f$\"[]")) m[c] = true;
    return m;
  }();
  size_t specials = 2, brackets = 0;
  int braces = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (!kMarks[static_cast<unsigned char>(c)]) continue;
    if (c == '\\') {
      ++i;
      ++specials;
    } else if (c == '{') {
      ++braces;
    } else if (c == '}' && braces > 0) {
      --braces;
    } else if (braces == 0 && (is_tcl_space(c) || c == ';' || c == '$' || c == '"' || c == '[' || c == ']')) {
      ++specials;
      brackets += c == '[';
    }
  }
  return specials * 4 * sizeof(Tcl_Token) + brackets * sizeof(Tcl_Parse);
}

// Frees a successful parse whichever way the scope is left.
struct PARSE_GUARD {
  Tcl_Parse* parse;
  ~PARSE_GUARD() { Tcl_FreeParse(parse); }
};

std::string parse_error(int type) {
  switch (type) {
    case TCL_PARSE_MISSING_BRACE: return "unbalanced {";
    case TCL_PARSE_MISSING_BRACKET: return "unbalanced [";
    case TCL_PARSE_MISSING_QUOTE: return "unbalanced quote";
    case TCL_PARSE_BRACE_EXTRA: return "extra characters after a closing brace";
    case TCL_PARSE_QUOTE_EXTRA: return "extra characters after a closing quote";
    case TCL_PARSE_MISSING_VAR_BRACE: return "unbalanced { of a variable name";
    default: return "not a Tcl command";
  }
}

}  // namespace

Tcl_Interp* atcl_get_interpreter() {
  if (g_interp) return g_interp;
  init_tcl_library();
  g_interp = Tcl_CreateInterp();
  // Without an installed script library Tcl_Init fails; plain commands and
  // "source" still work, so the failure is not an error here.
  (void)Tcl_Init(g_interp);
  Tcl_ResetResult(g_interp);
  Tcl_PkgProvide(g_interp, "flow", "1.0");
  for (kavu_platform::ATCL_COMMAND_REGISTRAR fn : registrars()) fn(g_interp);
  return g_interp;
}

int atcl_package_require(Tcl_Interp* interp, const char* name, const char* version, bool exact,
                         bool quiet) {
  PLAT_CHECK(interp != nullptr && name != nullptr, "PLATFORM");
  const char* got = Tcl_PkgRequire(interp, name, version, exact ? 1 : 0);
  if (!got) {
    if (quiet) Tcl_ResetResult(interp);
    return 1;
  }
  return 0;
}

void atcl_flush_queue(bool, bool) { kavu_platform::msg_flush_pending(); }

namespace kavu_platform {

void atcl_add_command_registrar(ATCL_COMMAND_REGISTRAR fn) {
  PLAT_CHECK(fn != nullptr, "PLATFORM");
  auto& list = registrars();
  if (std::find(list.begin(), list.end(), fn) != list.end()) return;
  list.push_back(fn);
  if (g_interp) fn(g_interp);
}

bool atcl_eval(const std::string& script, std::string* result) {
  Tcl_Interp* interp = atcl_get_interpreter();
  int rc = Tcl_EvalEx(interp, script.c_str(), static_cast<int>(script.size()), TCL_EVAL_GLOBAL);
  if (result) *result = Tcl_GetStringResult(interp);
  return rc == TCL_OK;
}

bool atcl_eval_words(const std::vector<std::string>& words, std::string* result) {
  Tcl_Interp* interp = atcl_get_interpreter();
  std::vector<Tcl_Obj*> objv;
  objv.reserve(words.size());
  for (const std::string& w : words) {
    objv.push_back(Tcl_NewStringObj(w.c_str(), static_cast<int>(w.size())));
    Tcl_IncrRefCount(objv.back());
  }
  const int rc = Tcl_EvalObjv(interp, static_cast<int>(objv.size()), objv.data(), TCL_EVAL_GLOBAL);
  for (Tcl_Obj* o : objv) Tcl_DecrRefCount(o);
  if (result) *result = Tcl_GetStringResult(interp);
  return rc == TCL_OK;
}

bool atcl_command_words(std::string_view script, std::vector<std::string>* words, std::string_view* rest,
                        std::string* why) {
  words->clear();
  *rest = std::string_view();
  if (script.size() > size_t(INT_MAX)) {
    *why = "command too long";
    return false;
  }
  init_tcl_library();
  grant_memory(parse_bytes(script));
  Tcl_Parse parse;
  if (Tcl_ParseCommand(nullptr, script.data(), int(script.size()), 0, &parse) != TCL_OK) {
    *why = parse_error(parse.errorType);  // Tcl has freed the parse
    return false;
  }
  PARSE_GUARD guard{&parse};
  const Tcl_Token* t = parse.tokenPtr;
  for (int k = 0; k < parse.numWords; ++k) {
    std::string_view w(t->start, size_t(t->size));
    // A word's token spans its braces or quotes.
    if (t->type != TCL_TOKEN_EXPAND_WORD && w.size() >= 2 &&
        ((w.front() == '{' && w.back() == '}') || (w.front() == '"' && w.back() == '"')))
      w = w.substr(1, w.size() - 2);
    words->emplace_back(w);
    t += 1 + t->numComponents;
  }
  const size_t end = size_t(parse.commandStart + parse.commandSize - script.data());
  *rest = script.substr(std::min(end, script.size()));
  return true;
}

bool atcl_split_list(std::string_view list, std::vector<std::string>* elements, std::string* why) {
  elements->clear();
  if (list.size() > size_t(INT_MAX) / 2) {
    *why = "list too long";
    return false;
  }
  init_tcl_library();
  // Tcl_SplitList allocates one block: a pointer per possible element (at
  // most one per run of white space, and one) and a copy of the text.
  size_t spaces = 2;
  if (list.size() >= 400)  // shorter lists need less than grant_memory checks
    for (char c : list) spaces += is_tcl_space(c);
  grant_memory(spaces * sizeof(char*) + list.size() + 1);
  const std::string text(list);  // Tcl reads NUL-terminated text
  int count = 0;
  const char** argv = nullptr;
  if (Tcl_SplitList(nullptr, text.c_str(), &count, &argv) != TCL_OK) {
    *why = "not a Tcl list (a brace or quote left open, or text after a closing one)";
    return false;
  }
  struct FREE {
    const char** p;
    ~FREE() { Tcl_Free(reinterpret_cast<char*>(p)); }
  } free_argv{argv};
  elements->reserve(size_t(count));
  for (int k = 0; k < count; ++k) elements->emplace_back(argv[k]);
  return true;
}

void atcl_test_reset() {
  if (!g_interp) return;
  Tcl_DeleteInterp(g_interp);
  g_interp = nullptr;
}

}  // namespace kavu_platform
