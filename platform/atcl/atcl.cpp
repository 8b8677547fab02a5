// atcl.cpp — the process's Tcl interpreter and its command registrars.
#include "atcl/atcl.h"

#include <langinfo.h>
#include <locale.h>
#include <tcl.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <climits>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <mutex>
#include <new>
#include <vector>

#include "msg/msg.h"
#include "thr/thr.h"
#include "thr/thr_fork_int.h"

namespace {

std::atomic<Tcl_Interp*> g_interp{nullptr};

// Held while the interpreter is made and while a package is required of it:
// a fork from another thread waits for them (thr_fork_int.h), so that a
// child never gets Tcl half way through either.
std::mutex g_interp_mutex;
[[maybe_unused]] const bool g_interp_kept_across_fork = (thr_lock_across_fork(&g_interp_mutex, THR_FORK_TCL), true);

// Constant-initialised: other libraries add theirs as they load.
constinit std::vector<kavu_platform::ATCL_COMMAND_REGISTRAR> g_registrars;
std::vector<kavu_platform::ATCL_COMMAND_REGISTRAR>& registrars() { return g_registrars; }

// Tcl ends the process when the system refuses it memory. Before Tcl is
// handed text, the system is asked for `bytes` (a bound of what Tcl will
// allocate for it) and they are given back at once: a refusal is
// std::bad_alloc here, where the caller can turn it into an error. The
// bound adds room for the blocks Tcl's allocator takes from the system
// for its small sizes (16 KiB at a time, a few sizes per call). Nothing is
// asked for when Tcl will allocate nothing.
void grant_memory(size_t bytes) {
  constexpr size_t kCacheRoom = size_t(64) << 10;
  if (bytes == 0) return;
  void* p = std::malloc(bytes + kCacheRoom);
  if (!p) throw std::bad_alloc();
  std::free(p);
}

// The host's state that Tcl's set-up changes: it ignores SIGPIPE, sets the
// character-type locale from the environment and the numeric one to "C".
// They are the host's: put back as they were, so that loading the library
// leaves the host's signal dispositions and locale alone.
class HOST_STATE_KEPT {
 public:
  HOST_STATE_KEPT() {
    m_pipe_kept = sigaction(SIGPIPE, nullptr, &m_pipe) == 0;
    keep(LC_CTYPE, &m_ctype);
    keep(LC_NUMERIC, &m_numeric);
  }
  ~HOST_STATE_KEPT() {
    if (m_pipe_kept) sigaction(SIGPIPE, &m_pipe, nullptr);
    if (!m_ctype.empty()) std::setlocale(LC_CTYPE, m_ctype.c_str());
    if (!m_numeric.empty()) std::setlocale(LC_NUMERIC, m_numeric.c_str());
  }
  HOST_STATE_KEPT(const HOST_STATE_KEPT&) = delete;
  HOST_STATE_KEPT& operator=(const HOST_STATE_KEPT&) = delete;

 private:
  static void keep(int category, std::string* name) {
    if (const char* now = std::setlocale(category, nullptr)) *name = now;
  }
  struct sigaction m_pipe {};
  bool m_pipe_kept = false;
  std::string m_ctype, m_numeric;
};

// Tcl's subsystems (its allocator, encodings), set up once for the
// process, whichever thread comes first, with memory granted for them
// (70 KiB, up to 250 KiB where the locale's encoding is read from a file;
// a refusal is std::bad_alloc, and the next call tries again). Tcl takes its
// system encoding (for its own file names and channels) from the
// environment's locale as it is set up.
// The system encoding Tcl chose as it was set up ("" before).
char g_set_up_encoding[64];

void init_tcl_library() {
  static std::once_flag once;
  std::call_once(once, [] {
    grant_memory(size_t(512) << 10);
    HOST_STATE_KEPT kept;
    Tcl_FindExecutable(nullptr);
    std::strncpy(g_set_up_encoding, Tcl_GetEncodingName(nullptr), sizeof g_set_up_encoding - 1);
  });
}

// Tcl names and reads the files it opens (a sourced script) in its system
// encoding, which it took from the environment's locale as it was set up,
// at load; a host may set that locale in its own process before its first
// call. The interpreter, made at the first call that needs it, takes the
// encoding of the environment's locale as it stands then, read without
// changing the process's locale (newlocale). Left as Tcl chose it when the
// environment names a locale the system lacks, and when the encoding was
// changed since the set-up (another user of Tcl in the process chose one).
void take_environment_encoding() {
  locale_t now = newlocale(LC_CTYPE_MASK, "", locale_t(0));
  if (!now) return;
  std::string name = nl_langinfo_l(CODESET, now);
  freelocale(now);
  for (char& c : name) c = c >= 'A' && c <= 'Z' ? char(c + 32) : c;
  if (name == "ansi_x3.4-1968") name = "iso8859-1";  // "C" and "POSIX", as Tcl names them
  else if (name.rfind("iso-", 0) == 0) name.erase(3, 1);  // "iso-8859-15" as Tcl spells it
  if (name == g_set_up_encoding || std::strcmp(Tcl_GetEncodingName(nullptr), g_set_up_encoding) != 0) return;
  grant_memory(size_t(256) << 10);  // an encoding read from its file
  (void)Tcl_SetSystemEncoding(nullptr, name.c_str());
}

// Tcl is set up as the library is loaded, where the memory it takes is
// there; the grant above is for a process that reaches Tcl before that
// (from another library's static initialisation).
const struct TCL_AT_LOAD {
  TCL_AT_LOAD() {
    try {
      init_tcl_library();
    } catch (const std::bad_alloc&) {
    }
  }
} g_tcl_at_load;

bool is_tcl_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Bytes of the token array of one parsed command of `tokens` tokens: Tcl
// keeps the first 20 in its Tcl_Parse, then grows the array to twice what
// it needs (a growth may hold the old array and the new one at once).
size_t token_array_bytes(size_t tokens) {
  constexpr size_t kStatic = 20;  // NUM_STATIC_TOKENS
  if (tokens <= kStatic) return 0;
  size_t had = 0, have = kStatic;
  while (have < tokens) {
    had = have;
    have = 2 * (have + 2);
  }
  return (had + have) * sizeof(Tcl_Token) + 64;
}

// What Tcl_ParseCommand needs for text: a bound of the bytes it allocates
// and of its nesting (Tcl parses each bracket, and each array index of a
// variable, by a call within the call that met it: one level of the
// process's stack each). The scan follows Tcl's rules as far as they
// decide either: words (braced, quoted or bare, "{*}" before one),
// backslashes, comments where a command starts, brackets (their commands
// ended by ';', a newline or ']'), variables and their indices. It counts
// Tcl's tokens: one per word, one per run of text and per backslash,
// bracket or NUL byte in it, two per variable, one per empty quote or
// index, and in braces one for the text and two per backslash-newline. A nested
// command's tokens are an array of its own, alive with those of every
// level above it, and its Tcl_Parse one allocation.
struct TCL_NEEDS {
  size_t bytes = 0;
  int depth = 0;
  size_t end = 0;      // after the first command (`first`), or the text's size
};

TCL_NEEDS tcl_needs(std::string_view text, bool first) {
  enum KIND : char { COMMAND, QUOTE, INDEX };
  struct FRAME {
    KIND kind;
    bool in_text = false;       // inside a run of text (a token counted)
    bool in_word = false;       // COMMAND: inside a bare word
    bool words = false;         // COMMAND: the current command has a word
    size_t tokens = 0;          // COMMAND: of the current command
    size_t child = 0;           // COMMAND: the most a nested parse needed during it
    size_t peak = 0;            // COMMAND: the most any of its commands needed
  };
  TCL_NEEDS out;
  thread_local std::vector<FRAME> stack;  // kept between calls: no allocation per command
  stack.clear();
  stack.push_back({COMMAND});
  size_t top_command = 0;  // the innermost COMMAND frame
  auto tokens = [&](size_t k) { stack[top_command].tokens += k; };
  auto end_command = [](FRAME& f) {
    f.peak = std::max(f.peak, token_array_bytes(f.tokens) + f.child);
    f.tokens = f.child = 0;
    f.words = f.in_word = f.in_text = false;
  };
  auto pop = [&] {
    FRAME f = stack.back();
    stack.pop_back();
    stack.back().in_text = false;
    if (f.kind != COMMAND) return;
    end_command(f);
    top_command = stack.size() - 1;
    while (stack[top_command].kind != COMMAND) --top_command;
    FRAME& parent = stack[top_command];
    parent.child = std::max(parent.child, f.peak + sizeof(Tcl_Parse) + 64);
  };
  auto push = [&](KIND k) {
    stack.back().in_text = false;
    stack.push_back({k});
    out.depth = std::max(out.depth, int(stack.size()) - 1);
    if (k == COMMAND) top_command = stack.size() - 1;
    else tokens(1);  // an empty quote or index is an empty text token
  };
  const size_t n = text.size();
  size_t i = 0;
  // A variable at text[i] == '$': its name as Tcl reads one (ASCII
  // letters, digits, '_' and runs of "::"), and an index opened.
  auto variable = [&] {
    tokens(2);
    stack.back().in_text = false;
    ++i;
    if (i < n && text[i] == '{') {
      while (i < n && text[i] != '}') ++i;
      i += i < n ? 1 : 0;
      return;
    }
    while (i < n) {
      const char ch = text[i];
      if (ch == ':') {
        if (i + 1 == n || text[i + 1] != ':') break;
        while (i < n && text[i] == ':') ++i;
        continue;
      }
      if (!((ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || ch == '_')) break;
      ++i;
    }
    if (i < n && text[i] == '(') {
      ++i;
      push(INDEX);
    }
  };
  // A character of text in the current word (a NUL byte is a token of
  // its own in Tcl).
  auto text_char = [&] {
    if (!stack.back().in_text || text[i] == '\0') tokens(1);
    stack.back().in_text = text[i] != '\0';
    ++i;
  };
  // The characters that can change the scan's state (a table: one load
  // per character); a run of other characters inside a run of text is
  // passed over at once.
  static const auto kSpecial = [] {
    std::array<bool, 256> m{};
    for (unsigned char c : std::string_view("\\{}[]\"$();#\n \t\r\v\f")) m[c] = true;
    m[0] = true;
    return m;
  }();
  while (i < n && out.depth <= kavu_platform::kAtclMaxNesting) {
    FRAME& f = stack.back();
    if (f.in_text && (f.kind != COMMAND || f.in_word))
      while (i < n && !kSpecial[static_cast<unsigned char>(text[i])]) ++i;
    if (i == n) break;
    const char c = text[i];
    if (f.kind == COMMAND && !f.in_word && c != '\\' && c != '\n' && c != ';' && !is_tcl_space(c) &&
        !(c == ']' && stack.size() > 1)) {
      // A word starts.
      if (!f.words && c == '#') {
        // A comment, to the end of the line (a backslash escapes what follows it).
        while (i < n && text[i] != '\n') i += text[i] == '\\' ? 2 : 1;
        ++i;
        continue;
      }
      f.in_word = f.words = true;
      f.in_text = false;
      tokens(1);
      if (text.substr(i, 3) == "{*}" && i + 3 < n && !is_tcl_space(text[i + 3]) && text[i + 3] != ';') {
        i += 3;  // a word expanded: the word proper follows
        f.in_word = false;
        continue;
      }
      if (c == '{') {
        tokens(1);
        for (int level = 0; i < n; ++i) {
          if (text[i] == '\\') {
            if (i + 1 < n && text[i + 1] == '\n') tokens(2);
            ++i;
          } else if (text[i] == '{') {
            ++level;
          } else if (text[i] == '}' && --level == 0) {
            break;
          }
        }
        ++i;
        f.in_text = true;  // what follows a closing brace is refused by Tcl; counted as text
        continue;
      }
      if (c == '"') {
        ++i;
        push(QUOTE);
        continue;
      }
    }
    if (c == '\\') {
      const bool newline = i + 1 < n && text[i + 1] == '\n';
      const bool nul = i + 1 < n && text[i + 1] == '\0';  // Tcl: a backslash, then the NUL's own token
      i += 2;
      if (f.kind == COMMAND && newline) {  // white space between words
        f.in_word = f.in_text = false;
        continue;
      }
      if (f.kind == COMMAND && !f.in_word) {  // a word starts with it
        f.in_word = f.words = true;
        tokens(1);
      }
      tokens(nul ? 2 : 1);
      f.in_text = false;
      continue;
    }
    if (c == '[') {
      tokens(1);
      ++i;
      push(COMMAND);
      continue;
    }
    if (c == '$') {
      variable();
      continue;
    }
    if (f.kind != COMMAND) {
      if ((f.kind == QUOTE && c == '"') || (f.kind == INDEX && c == ')')) {
        ++i;
        pop();
      } else {
        text_char();
      }
      continue;
    }
    // In a COMMAND frame, between words or in a bare one.
    const bool nested = stack.size() > 1;
    if (nested && c == ']') {
      ++i;
      pop();
      continue;
    }
    if (c == '\n' || c == ';') {
      ++i;
      if (c == '\n' && !f.words) continue;  // blank lines before a command
      end_command(f);
      if (!nested && first) break;
      continue;
    }
    if (is_tcl_space(c)) {
      f.in_word = f.in_text = false;
      ++i;
      continue;
    }
    text_char();
  }
  while (stack.size() > 1) pop();
  end_command(stack.front());
  out.bytes = stack.front().peak;
  out.end = std::min(i, n);
  return out;
}

// A bound that holds whatever the text: every character a token, every
// bracket, parenthesis and quote a level.
TCL_NEEDS tcl_needs_of_any(std::string_view text) {
  TCL_NEEDS out;
  size_t levels = 0;
  for (char c : text) levels += c == '[' || c == '(' || c == '"';
  out.depth = int(std::min(levels, size_t(INT_MAX)));
  out.bytes = 2 * token_array_bytes(text.size() + 2) + levels * (sizeof(Tcl_Parse) + 64);
  out.end = text.size();
  return out;
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

// What a parse that the end of the text leaves incomplete has open.
char open_character(int type) {
  switch (type) {
    case TCL_PARSE_MISSING_BRACKET: return '[';
    case TCL_PARSE_MISSING_QUOTE: return '"';
    default: return '{';  // a brace, of a word or of a variable's name
  }
}

// What closes the opener that a parse which the end of `text` left open
// names (Tcl's parse.term, at `open` in the text): a bracket or quote one
// character, a brace the braces still open from it at the end (a backslash
// escapes the character after it, as within braces in Tcl).
std::string closing_of(std::string_view text, size_t open, char opener) {
  if (opener == '[') return "]";
  if (opener == '"') return "\"";
  size_t level = 0;
  for (size_t i = open; i < text.size(); ++i) {
    if (text[i] == '\\') ++i;
    else if (text[i] == '{') ++level;
    else if (text[i] == '}' && level > 0) --level;
  }
  return std::string(std::max<size_t>(level, 1), '}');
}

std::string too_deep() {
  return "brackets nested more than " + std::to_string(kavu_platform::kAtclMaxNesting) + " levels deep";
}

// A word's text as the reader takes it: without its braces or quotes,
// nothing substituted but a backslash-newline and the white space after
// it, which Tcl makes one space in every word.
void word_text(const Tcl_Token* t, std::string* out) {
  std::string_view w(t->start, size_t(t->size));
  if (t->type != TCL_TOKEN_EXPAND_WORD && w.size() >= 2 &&
      ((w.front() == '{' && w.back() == '}') || (w.front() == '"' && w.back() == '"')))
    w = w.substr(1, w.size() - 2);
  if (w.find("\\\n") == std::string_view::npos) {
    out->assign(w);
    return;
  }
  out->clear();
  const char* at = w.data();
  for (int k = 1; k <= t->numComponents; ++k) {
    const Tcl_Token& c = t[k];
    if (c.type != TCL_TOKEN_BS || c.size < 2 || c.start[1] != '\n') continue;
    out->append(at, size_t(c.start - at)) += ' ';
    at = c.start + c.size;
  }
  out->append(at, size_t(w.data() + w.size() - at));
}

// Parses the first command of text[0, window) with the memory `needs`
// says it takes granted first; *parse holds it on success.
int parse_command(std::string_view text, const TCL_NEEDS& needs, Tcl_Parse* parse) {
  grant_memory(needs.bytes + size_t(needs.depth) * (sizeof(Tcl_Parse) + 64));
  return Tcl_ParseCommand(nullptr, text.data(), int(text.size()), 0, parse);
}

}  // namespace

Tcl_Interp* atcl_get_interpreter() {
  if (Tcl_Interp* made = g_interp.load()) return made;
  std::lock_guard<std::mutex> lock(g_interp_mutex);
  if (Tcl_Interp* made = g_interp.load()) return made;
  init_tcl_library();
  thr_setup_point("the Tcl interpreter");
  take_environment_encoding();
  Tcl_Interp* interp = Tcl_CreateInterp();
  // Without an installed script library Tcl_Init fails; plain commands and
  // "source" still work, so the failure is not an error here.
  (void)Tcl_Init(interp);
  Tcl_ResetResult(interp);
  Tcl_PkgProvide(interp, "flow", "1.0");
  for (kavu_platform::ATCL_COMMAND_REGISTRAR fn : registrars()) fn(interp);
  g_interp.store(interp);
  return interp;
}

int atcl_package_require(Tcl_Interp* interp, const char* name, const char* version, bool exact,
                         bool quiet) {
  PLAT_CHECK(interp != nullptr && name != nullptr, "PLATFORM");
  std::lock_guard<std::mutex> lock(g_interp_mutex);
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
  if (Tcl_Interp* made = g_interp.load()) fn(made);
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

// Reads the command at m_at: Tcl parses the text up to where the scan
// (tcl_needs) ends it, with what the scan bounds granted; should Tcl read
// on past that end (the scan missed one of its rules), the rest of the
// text is parsed under the bound that holds for any text.
bool ATCL_SCRIPT_READER::next(std::vector<std::string>* words, std::vector<char>* substituted, std::string* why) {
  words->clear();
  if (substituted) substituted->clear();
  why->clear();
  m_open_at_end = 0;
  while (m_at < m_script.size()) {
    const std::string_view rest = m_script.substr(m_at);
    m_start = m_at;
    if (rest.size() > size_t(INT_MAX)) {
      *why = "script too long";
      return false;
    }
    init_tcl_library();
    TCL_NEEDS needs = tcl_needs(rest, true);
    Tcl_Parse parse;
    for (int pass = 0;; ++pass) {
      if (needs.depth > kavu_platform::kAtclMaxNesting) {
        const size_t first = rest.find_first_not_of(" \t\r\n");
        m_start += first == std::string_view::npos ? 0 : first;
        *why = too_deep();
        return false;
      }
      const std::string_view window = rest.substr(0, needs.end);
      const bool cut = window.size() < rest.size();
      if (parse_command(window, needs, &parse) != TCL_OK) {
        if (cut && pass == 0) {  // read on under the bound for any text
          needs = tcl_needs_of_any(rest);
          continue;
        }
        m_start += size_t(parse.commandStart - rest.data());
        *why = parse_error(parse.errorType);  // Tcl has freed the parse
        m_open_at_end = parse.incomplete ? open_character(parse.errorType) : 0;
        m_open_pos = size_t(std::clamp(parse.term, rest.data(), rest.data() + rest.size()) - m_script.data());
        return false;
      }
      const size_t end = size_t(parse.commandStart + parse.commandSize - rest.data());
      if (!cut || pass > 0 || (end > 0 && end <= window.size() && (window[end - 1] == '\n' || window[end - 1] == ';')))
        break;
      Tcl_FreeParse(&parse);
      needs = tcl_needs_of_any(rest);
    }
    PARSE_GUARD guard{&parse};
    m_start += size_t(parse.commandStart - rest.data());
    m_at += std::max<size_t>(1, std::min(size_t(parse.commandStart + parse.commandSize - rest.data()), rest.size()));
    if (parse.numWords == 0) continue;
    const Tcl_Token* t = parse.tokenPtr;
    words->resize(size_t(parse.numWords));
    for (int k = 0; k < parse.numWords; ++k) {
      word_text(t, &(*words)[size_t(k)]);
      if (substituted) substituted->push_back(t->numComponents == 1 && t[1].type == TCL_TOKEN_COMMAND);
      t += 1 + t->numComponents;
    }
    return true;
  }
  return false;
}

size_t ATCL_SCRIPT_READER::line_of_command() {
  const size_t to = std::min(m_start, m_script.size());
  if (to > m_counted) m_line += size_t(std::count(m_script.begin() + long(m_counted), m_script.begin() + long(to), '\n'));
  m_counted = std::max(m_counted, to);
  return m_line;
}

bool atcl_command_words(std::string_view script, std::vector<std::string>* words, std::string_view* rest,
                        std::string* why, std::vector<char>* substituted) {
  ATCL_SCRIPT_READER reader(script);
  const bool ok = reader.next(words, substituted, why);
  *rest = ok || why->empty() ? script.substr(reader.position()) : std::string_view();
  return ok || why->empty();
}

// Closes what the end of the text leaves open, one opener a round, and
// reads the command so closed. A round closes the innermost opener left
// (a closing that a backslash at the end escapes takes one round more), so
// the rounds are bounded by the nesting the reader allows, with room.
bool atcl_unfinished_command_words(std::string_view command, std::vector<std::string>* words,
                                   std::vector<char>* substituted, std::string* why) {
  std::string text(command);
  for (int round = 0; round < 4 * (kAtclMaxNesting + 1); ++round) {
    ATCL_SCRIPT_READER reader(text);
    if (reader.next(words, substituted, why)) return true;
    if (!reader.open_at_end()) {
      if (why->empty()) *why = "no command";
      return false;
    }
    text += closing_of(text, reader.m_open_pos, reader.open_at_end());
  }
  *why = "too many braces, brackets and quotes left open";
  return false;
}

bool atcl_split_list(std::string_view list, std::vector<std::string>* elements, std::string* why) {
  elements->clear();
  if (list.size() > size_t(INT_MAX) / 2) {
    *why = "list too long";
    return false;
  }
  init_tcl_library();
  const std::string text(list);  // Tcl reads NUL-terminated text
  // Tcl_SplitList allocates one block: a pointer per possible element (at
  // most one per run of white space, and one) and a copy of the text. It
  // is asked for after the copy above, which takes memory of its own.
  size_t spaces = 2;
  for (char c : list) spaces += is_tcl_space(c);
  grant_memory(spaces * sizeof(char*) + list.size() + 64);
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

std::string atcl_merge_list(const std::vector<std::string>& elements, bool concat) {
  init_tcl_library();
  // Tcl_Merge: a flag per element and each element at most doubled, with
  // braces and a space; Tcl_Concat: the elements and a space each.
  size_t bytes = 64;
  for (const std::string& e : elements) bytes += 2 * e.size() + 3 + sizeof(int);
  if (elements.size() > size_t(INT_MAX) / 2 || bytes > size_t(INT_MAX)) throw std::bad_alloc();
  std::vector<const char*> argv;
  argv.reserve(elements.size());
  for (const std::string& e : elements) argv.push_back(e.c_str());
  grant_memory(bytes);
  char* merged = concat ? Tcl_Concat(int(argv.size()), argv.data()) : Tcl_Merge(int(argv.size()), argv.data());
  struct FREE {
    char* p;
    ~FREE() { Tcl_Free(p); }
  } free_merged{merged};
  return std::string(merged);
}

void atcl_test_reset() {
  Tcl_Interp* made = g_interp.exchange(nullptr);
  if (made) Tcl_DeleteInterp(made);
}

}  // namespace kavu_platform
