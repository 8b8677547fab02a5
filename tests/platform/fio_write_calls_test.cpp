// fio_write_calls_test.cpp — every call of the library (synth/), its helper
// (tools/velmora_map), the platform layer (platform/) and the shared
// headers (h/) that opens a file for writing, renames, links or removes one
// outside the file layer is one the list below names, with its reason: the
// rest go through the own-file path (FIO_FILE_REPLACEMENT::open_own_file,
// replace_own_file, fopen_own_file, copy_own_file, open_own_file_to_append,
// remove_own_file, PDB_ARCHIVE::open_own_file), so a next writer cannot step
// past it unseen.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The text of a source file with every comment and the inside of every
// string and character literal blanked (the quotes stay), lines kept, so a
// word in a comment or a message never counts as a call; `literals` keeps
// the literals' text in place for the checks that read a mode string.
struct CODE {
  std::string code, literals;
};

CODE blank_comments_and_literals(const std::string& text) {
  CODE out{text, text};
  auto blank = [&](size_t from, size_t to, bool keep_literal) {
    for (size_t k = from; k < to && k < text.size(); ++k)
      if (text[k] != '\n') {
        out.code[k] = ' ';
        if (!keep_literal) out.literals[k] = ' ';
      }
  };
  for (size_t at = 0; at < text.size();) {
    const char c = text[at];
    const char next = at + 1 < text.size() ? text[at + 1] : '\0';
    const size_t line_start = text.rfind('\n', at == 0 ? 0 : at - 1);
    const bool starts_line = at == 0 || text.find_first_not_of(" \t", line_start + 1) == at;
    if (c == '#' && starts_line && text.compare(text.find_first_not_of(" \t", at + 1), 7, "include") == 0) {
      // An #include names a header, no call: <fstream> is no stream.
      const size_t end = text.find('\n', at);
      blank(at, end, false);
      at = end == std::string::npos ? text.size() : end;
    } else if (c == '/' && next == '/') {
      const size_t end = text.find('\n', at);
      blank(at, end, false);
      at = end == std::string::npos ? text.size() : end;
    } else if (c == '/' && next == '*') {
      const size_t end = text.find("*/", at + 2);
      const size_t stop = end == std::string::npos ? text.size() : end + 2;
      blank(at, stop, false);
      at = stop;
    } else if (c == 'R' && next == '"' && (at == 0 || !(std::isalnum(static_cast<unsigned char>(text[at - 1])) ||
                                                        text[at - 1] == '_'))) {
      const size_t open = text.find('(', at + 2);
      const std::string close = ")" + text.substr(at + 2, open - at - 2) + "\"";
      const size_t end = text.find(close, open);
      const size_t stop = end == std::string::npos ? text.size() : end + close.size();
      blank(open + 1, stop - close.size(), true);
      at = stop;
    } else if (c == '"' || (c == '\'' && !(at > 0 && std::isxdigit(static_cast<unsigned char>(text[at - 1]))))) {
      // A quote after a hex digit is a digit separator (0x1'000), no literal.
      size_t k = at + 1;
      while (k < text.size() && text[k] != c && text[k] != '\n') k += text[k] == '\\' ? 2 : 1;
      blank(at + 1, k, true);
      at = k + 1;
    } else {
      ++at;
    }
  }
  return out;
}

bool word_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// The text of the call's arguments that starts at `open_paren`, up to its
// closing parenthesis, and whether a comma stands at its top level.
std::string call_arguments(const std::string& code, size_t open_paren, bool* several) {
  int depth = 0;
  *several = false;
  for (size_t k = open_paren; k < code.size(); ++k) {
    const char c = code[k];
    if (c == '(' || c == '[' || c == '{') ++depth;
    if (c == ')' || c == ']' || c == '}') {
      if (--depth == 0) return code.substr(open_paren + 1, k - open_paren - 1);
    }
    if (c == ',' && depth == 1) *several = true;
  }
  return code.substr(open_paren + 1);
}

// The qualifier before the name at `at` ("" for none, "::" for the global
// one, "std::filesystem::", "FIO_FILE_SYSTEM::"), and whether the name is a
// member called on an object ("x.open(", "p->remove(").
std::string qualifier_before(const std::string& code, size_t at, bool* member) {
  size_t k = at;
  std::string qualifier;
  *member = false;
  for (;;) {
    size_t j = k;
    while (j > 0 && code[j - 1] == ' ') --j;
    if (j >= 2 && code[j - 1] == ':' && code[j - 2] == ':') {
      size_t w = j - 2;
      while (w > 0 && code[w - 1] == ' ') --w;
      size_t start = w;
      while (start > 0 && word_char(code[start - 1])) --start;
      qualifier = code.substr(start, w - start) + "::" + qualifier;
      if (start == w) return qualifier;  // the global "::"
      k = start;
      continue;
    }
    if (j >= 1 && code[j - 1] == '.') *member = true;
    if (j >= 2 && code[j - 1] == '>' && code[j - 2] == '-') *member = true;
    return qualifier;
  }
}

// Whether the stream call whose arguments start at `open_paren` opens for
// writing: its mode, the last string literal of its arguments, holds 'w',
// 'a' or '+' ("r" and "rb" only read); a mode that is no literal counts as
// writing.
bool opens_for_writing(const std::string& literals, size_t open_paren) {
  bool several = false;
  const std::string args = call_arguments(literals, open_paren, &several);
  const size_t close_quote = args.rfind('"');
  if (close_quote == std::string::npos || close_quote == 0) return true;
  const size_t open_quote = args.rfind('"', close_quote - 1);
  if (open_quote == std::string::npos) return true;
  return args.substr(open_quote + 1, close_quote - open_quote - 1).find_first_of("wa+") != std::string::npos;
}

// One kind of call or use that writes, renames, links or removes a file.
// Each occurrence found is counted under its kind.
std::vector<std::pair<size_t, std::string>> write_calls_in(const CODE& file) {
  const std::string& code = file.code;
  std::vector<std::pair<size_t, std::string>> found;
  auto line_of = [&](size_t at) { return size_t(std::count(code.begin(), code.begin() + std::ptrdiff_t(at), '\n') + 1); };
  // Names that write, rename, link or remove by themselves, called as the C
  // library's or the system's (unqualified, "::" or "std::").
  const char* const system_calls[] = {"creat",    "rename",   "renameat", "renameat2", "unlink",    "unlinkat",
                                      "rmdir",    "truncate", "ftruncate", "mkstemp",  "mkostemp",  "mkstemps",
                                      "mkostemps", "link",    "linkat",   "symlink",   "symlinkat", "tmpfile"};
  const char* const opens[] = {"fopen", "fopen64", "freopen"};
  const char* const fs_calls[] = {"remove", "remove_all", "rename", "copy", "copy_file", "resize_file",
                                  "create_symlink", "create_hard_link", "create_directory_symlink"};
  const char* const fio_unguarded[] = {"remove_if_exists", "rename", "copy", "replace_file", "fopen"};
  for (size_t at = 0; at < code.size(); ++at) {
    if (!word_char(code[at]) || (at > 0 && word_char(code[at - 1]))) continue;
    size_t end = at;
    while (end < code.size() && word_char(code[end])) ++end;
    const std::string word = code.substr(at, end - at);
    size_t paren = end;
    while (paren < code.size() && code[paren] == ' ') ++paren;
    const bool call = paren < code.size() && code[paren] == '(';
    bool member = false;
    const std::string qualifier = qualifier_before(code, at, &member);
    const bool plain = !member && (qualifier.empty() || qualifier == "::" || qualifier == "std::");
    const bool filesystem = qualifier == "std::filesystem::" || qualifier == "fs::" || qualifier == "filesystem::";
    auto add = [&](const std::string& kind) { found.emplace_back(line_of(at), kind); };
    // File stream types that write, and the flags that open a descriptor
    // for writing, wherever they stand.
    if (word == "ofstream" || word == "fstream" || word == "basic_ofstream" || word == "basic_fstream" ||
        word == "wofstream") {
      add(word);
    } else if (word == "O_WRONLY" || word == "O_RDWR" || word == "O_CREAT" || word == "O_TRUNC" ||
               word == "O_APPEND" || word == "O_TMPFILE") {
      add("open for writing (" + word + ")");
    } else if (word == "PDB_WRITE" || word == "FIO_FILE_REPLACEMENT") {
      add(word);
    } else if (call && filesystem && std::find(std::begin(fs_calls), std::end(fs_calls), word) != std::end(fs_calls)) {
      add("std::filesystem::" + word);
    } else if (call && qualifier == "FIO_FILE_SYSTEM::" &&
               std::find(std::begin(fio_unguarded), std::end(fio_unguarded), word) != std::end(fio_unguarded)) {
      if (word != "fopen" || opens_for_writing(file.literals, paren)) add("FIO_FILE_SYSTEM::" + word);
    } else if (call && plain && std::find(std::begin(opens), std::end(opens), word) != std::end(opens)) {
      if (opens_for_writing(file.literals, paren)) add(word);
    } else if (call && plain && word == "remove") {
      // The C library's remove(path) takes one argument; std::remove of
      // <algorithm> takes a range.
      bool several = false;
      const std::string args = call_arguments(code, paren, &several);
      if (!several && args.find_first_not_of(' ') != std::string::npos) add("remove");
    } else if (call && plain &&
               std::find(std::begin(system_calls), std::end(system_calls), word) != std::end(system_calls)) {
      add(word);
    } else if (call && !member && (word == "replace_file")) {
      add(word);
    }
  }
  return found;
}

// A call the list lets stand: in `path` (a file, or a directory ending in
// '/', relative to the source tree), `count` calls of `kind` (-1: any
// number, for a whole directory), for `reason`.
struct ALLOWED {
  const char* path;
  const char* kind;
  int count;
  const char* reason;
};

const ALLOWED kAllowed[] = {
    // The file layer and the archive layer over it.
    {"platform/fio/", "*", -1, "the file layer itself: the own-file path and the user's-file path"},
    {"platform/pdb/pdb.cpp", "PDB_WRITE", 2, "the archive writer: its callers choose open_own_file (PDB_WRITE elsewhere is listed)"},
    {"platform/pdb/pdb.cpp", "FIO_FILE_REPLACEMENT", 2, "the archive writer writes through the file layer"},
    {"platform/pdb/pdb.h", "PDB_WRITE", 3, "the archive's open modes"},
    {"platform/pdb/pdb.h", "FIO_FILE_REPLACEMENT", 2, "the archive holds the file layer's writer"},
    // Writers that go through the file layer's writer themselves.
    {"platform/ssc/ssc_netlist.cpp", "FIO_FILE_REPLACEMENT", 3,
     "the timing-netlist writer: store_file (the library's) opens as the user's own; write_file writes a file its "
     "caller names"},
    {"synth/kavu/kavu_helper.cpp", "FIO_FILE_REPLACEMENT", 1,
     "std::orlind_ofstream's buffer writes its file through open_own_file"},
    {"synth/h/kavu_helper.h", "basic_ofstream", 1,
     "std::orlind_ofstream is a standard output file stream whose buffer writes through the own-file path"},
    {"synth/kavu/kavu_helper.cpp", "basic_ofstream", 2, "std::orlind_ofstream's move operations"},
    {"platform/netlist_io/blif_write.cpp", "FIO_FILE_SYSTEM::replace_file", 1,
     "the BLIF writer writes the file its caller names, for the user"},
    // The parallel flow's lock file and its helpers' temporaries.
    {"synth/kavu/kavu_parallel.cpp", "open for writing (O_RDWR)", 1,
     "the run's lock file: opened without following a link or waiting, written only as a regular file of one name "
     "this user owns (lock_file_is_own)"},
    {"synth/kavu/kavu_parallel.cpp", "open for writing (O_CREAT)", 1, "the run's lock file, made where it is missing"},
    {"synth/kavu/kavu_parallel.cpp", "ftruncate", 2, "the run's name in its own lock file (lock_file_is_own)"},
    {"synth/kavu/kavu_parallel.cpp", "unlink", 1,
     "the temporaries a dead helper of this run left, named by its process id, each this user's own (fio_is_own_entry)"},
    // Processes, pipes and their logs (platform/thr).
    {"platform/thr/thr_ipc.cpp", "std::filesystem::remove_all", 1, "the pipe directory the process made for itself"},
    {"platform/thr/thr_ipc.cpp", "unlink", 2,
     "a named pipe in the process's own pipe directory; a helper's log of this user's own, replaced exclusively"},
    {"platform/thr/thr_ipc.cpp", "open for writing (O_WRONLY)", 2,
     "a helper's log (not through a link, not waiting; checked as this user's own), the download pipe"},
    {"platform/thr/thr.cpp", "open for writing (O_RDWR)", 1,
     "/dev/null, the standard streams of a program the caller gives none"},
    {"platform/thr/thr_ipc.cpp", "open for writing (O_CREAT)", 3,
     "a helper's log: made without following a link, exclusively where it is replaced"},
    {"platform/thr/thr_ipc.cpp", "ftruncate", 1, "a helper's log, checked as this user's own on its descriptor"},
    {"platform/thr/thr_end_signal.cpp", "unlinkat", 1, "the process's own pipe directory, emptied when it ends"},
    {"platform/thr/thr_end_signal.cpp", "rmdir", 1, "the process's own pipe directory, removed when it ends"},
    // The database directory's probe.
    {"platform/gen/gen.cpp", "open for writing (O_WRONLY)", 1, "gen_make_db_dir's probe: an unnamed file (O_TMPFILE)"},
    {"platform/gen/gen.cpp", "open for writing (O_TMPFILE)", 1, "gen_make_db_dir's probe: an unnamed file"},
    {"platform/gen/gen.cpp", "mkstemp", 1, "gen_make_db_dir's probe, made exclusively under a fresh name"},
    {"platform/gen/gen.cpp", "unlink", 1, "gen_make_db_dir's probe, removed at once"},
    // Names of the gate netlist and the BDD package that are no files.
    {"platform/cdb/", "unlink", -1, "CDB_SGATE_NETLIST::unlink, a node taken out of the node list"},
    {"platform/bdd/bdd_zbdd.cpp", "unlink", 3, "BDD_ZBDD::unlink, a handle taken off its manager"},
    {"platform/bdd/bdd_zbdd.cpp", "link", 4, "BDD_ZBDD::link, a handle put on its manager"},
    {"platform/bdd/bdd_zbdd.h", "link", 1, "BDD_ZBDD::link, a handle put on its manager"},
    {"platform/bdd/bdd_zbdd.h", "unlink", 1, "BDD_ZBDD::unlink, a handle taken off its manager"},
    // The outside oracles' scratch, in their own temporary directories.
    {"platform/netlist_io/oracle_process.cpp", "std::filesystem::remove_all", 1,
     "an oracle's temporary directory, made by mkdtemp"},
    {"platform/netlist_io/oracle_process.cpp", "open for writing (O_WRONLY)", 1,
     "an oracle's log in its temporary directory"},
    {"platform/netlist_io/oracle_process.cpp", "open for writing (O_CREAT)", 1, "an oracle's log in its temporary directory"},
    {"platform/netlist_io/oracle_process.cpp", "open for writing (O_TRUNC)", 1, "an oracle's log in its temporary directory"},
    {"platform/netlist_io/sta_oracle.cpp", "ofstream", 4, "OpenSTA's inputs, in the oracle's temporary directory"},
    // The test kit (linked into the tests alone).
    {"platform/testkit/", "*", -1, "the test kit: its scratch directories and fixtures"},
    // The helper process.
    {"tools/velmora_map/velmora_map.cpp", "fopen", 1, "the upload pipe, a FIFO its parent made in the pipe directory"},
    {"tools/velmora_map/velmora_map.cpp", "open for writing (O_WRONLY)", 1,
     "the fault \"hang\": a temporary beside the archive, made exclusively, never through a link"},
    {"tools/velmora_map/velmora_map.cpp", "open for writing (O_CREAT)", 1,
     "the fault \"hang\": a temporary beside the archive, made exclusively, never through a link"},
};

bool allowed_kind(const ALLOWED& a, const std::string& kind) { return std::string(a.kind) == "*" || kind == a.kind; }

}  // namespace

// The scanner finds what it must, and nothing in comments or messages.
TEST(FioWriteCalls, TheScannerFindsWritesAndSkipsCommentsAndReads) {
  struct ROW {
    const char* code;
    std::vector<std::string> kinds;
  } const rows[] = {
      {"int fd = ::open(p, O_WRONLY | O_CREAT, 0644);", {"open for writing (O_WRONLY)", "open for writing (O_CREAT)"}},
      {"int fd = open(p, O_RDONLY);", {}},
      {"FILE* f = fopen(p, \"w\");", {"fopen"}},
      {"FILE* f = std::fopen(p.c_str(), \"rb\");", {}},
      {"FILE* f = fopen(p, mode);", {"fopen"}},
      {"if (FIO_FILE_SYSTEM::fopen(p, \"r\")) x();", {}},
      {"FIO_FILE_SYSTEM::fopen(p, \"a\");", {"FIO_FILE_SYSTEM::fopen"}},
      {"std::ofstream out(path);", {"ofstream"}},
      {"std::ifstream in(path);", {}},
      {"::unlink(f.c_str()); unlinkat(d, n, 0); rename(a, b);", {"unlink", "unlinkat", "rename"}},
      {"v.erase(std::remove(v.begin(), v.end(), x), v.end());", {}},
      {"std::remove(path.c_str());", {"remove"}},
      {"pipe.remove(); list->unlink(node); archive.open(n, PDB_ARCHIVE::PDB_READ);", {}},
      {"archive.open(n, PDB_ARCHIVE::PDB_WRITE);", {"PDB_WRITE"}},
      {"fs::remove_all(dir, ec); std::filesystem::rename(a, b);",
       {"std::filesystem::remove_all", "std::filesystem::rename"}},
      {"FIO_FILE_SYSTEM::remove_if_exists(a); FIO_FILE_SYSTEM::remove_own_file(b);",
       {"FIO_FILE_SYSTEM::remove_if_exists"}},
      {"// unlink(p) and fopen(p, \"w\") in a comment\n/* std::ofstream o; */", {}},
      {"msg(\"cannot unlink(the file) or fopen(it, \\\"w\\\")\");", {}},
      {"const char* r = R\"(unlink(x) \"ofstream\")\"; int n = 0x1'0;", {}},
      {"bool CDB_SGATE_NETLIST::unlink(CDB_SGATE_NODE* n) { return true; }", {}},
  };
  for (const ROW& r : rows) {
    std::vector<std::string> kinds;
    for (const auto& [line, kind] : write_calls_in(blank_comments_and_literals(r.code))) kinds.push_back(kind);
    EXPECT_EQ(kinds, r.kinds) << r.code;
  }
}

// Every write, rename, link or removal outside the file layer is on the
// list, each with its reason and the number of such calls in its file; a
// call that is not (a new writer that steps past the own-file path) fails
// here, naming its file and line, and so does an entry that no longer
// matches what its file holds.
TEST(FioWriteCalls, EveryWriteOutsideTheFileLayerIsListed) {
  const fs::path root(KAVU_SOURCE_DIR);
  std::map<std::pair<std::string, std::string>, std::vector<size_t>> found;  // (file, kind) -> lines
  size_t files = 0;
  for (const char* dir : {"synth", "platform", "h", "tools/velmora_map"}) {
    for (const auto& entry : fs::recursive_directory_iterator(root / dir)) {
      const std::string ext = entry.path().extension().string();
      if (!entry.is_regular_file() || (ext != ".cpp" && ext != ".h" && ext != ".c")) continue;
      ++files;
      std::ifstream in(entry.path(), std::ios::binary);
      const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      const std::string rel = fs::relative(entry.path(), root).generic_string();
      for (const auto& [line, kind] : write_calls_in(blank_comments_and_literals(text)))
        found[{rel, kind}].push_back(line);
    }
  }
  ASSERT_GT(files, 300u);
  std::vector<int> used(std::size(kAllowed), 0);
  for (const auto& [where, lines] : found) {
    const auto& [file, kind] = where;
    const ALLOWED* entry = nullptr;
    for (const ALLOWED& a : kAllowed) {
      const std::string path = a.path;
      const bool dir = !path.empty() && path.back() == '/';
      if ((dir ? file.rfind(path, 0) == 0 : file == path) && allowed_kind(a, kind)) {
        entry = &a;
        break;
      }
    }
    std::string at;
    for (size_t line : lines) at += " " + file + ":" + std::to_string(line);
    if (!entry) {
      ADD_FAILURE() << kind << " outside the own-file path, not listed:" << at;
      continue;
    }
    used[size_t(entry - kAllowed)] += int(lines.size());
    if (entry->count >= 0 && int(lines.size()) != entry->count)
      ADD_FAILURE() << kind << " in " << file << ": " << lines.size() << " found, " << entry->count
                    << " listed (" << entry->reason << "):" << at;
  }
  for (size_t k = 0; k < std::size(kAllowed); ++k)
    EXPECT_GT(used[k], 0) << "listed but not found: " << kAllowed[k].path << " " << kAllowed[k].kind;
}
