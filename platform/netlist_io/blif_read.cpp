// blif_read.cpp — the BLIF reader (interface and rules in blif.h).
//
// Phases: (1) the text is split into logical lines (comments blanked,
//   "\" continuations joined), kept as byte ranges and split into tokens
//   (views into the text) when read; (2) the lines are grouped into models;
//   (3) the first model is elaborated, instantiating other models of the file
//   in place: a read of a signal whose driver is known is connected at once,
//   other reads wait in the signal's pending list until its driver is built;
//   (4) constants are tied and undriven signals reported; (5) the tables
//   are released and names are given.
// Memory: besides the netlist and its names, the text and 12 bytes per
//   logical line (given back behind the reader in a one-model file, all of
//   it once elaboration ends), a copy of each signal name, 16 bytes per
//   signal plus its table entry (about 14), and the reads waiting for a
//   driver. Names are made last, from a compact copy, once everything else
//   has gone.
// Signals are interned once in IO_NAME_TABLE; nothing else on the hot path
//   hashes or allocates per token. Signal and model names are copied out of
//   the text into a store of their own; signals of instantiated models live
//   in an arena of owned strings, so the views stay valid.
// Failure leaves nothing behind: the netlist (with every gate built so far)
//   is destroyed and the error says "<file>:<line>: <problem>".
// Cost: O(file size + gates + terminals).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <new>

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>

#include "cdb/cdb_sgate.h"
#include "cfg/cfg.h"
#include "cut/cut_mac.h"
#include "fio/fio.h"
#include "hdb/hdb.h"
#include "msg/msg.h"
#include "netlist_io/blif.h"
#include "netlist_io/blif_cells.h"
#include "netlist_io/netlist_io_int.h"
#include "thr/thr_fork_int.h"

namespace kavu_platform {
namespace {

std::mutex g_registry_mutex;
[[maybe_unused]] const bool g_registry_kept_across_fork =
    (thr_lock_across_fork(&g_registry_mutex, THR_FORK_NETLIST_IO), true);
std::map<std::string, BLIF_SUBCKT_HANDLER, std::less<>>& subckt_registry() {
  static std::map<std::string, BLIF_SUBCKT_HANDLER, std::less<>> registry;
  return registry;
}
// Made as the layer loads, not at first use: a process that forks while
// another thread makes it would leave its child waiting for it for ever.
[[maybe_unused]] const bool g_subckt_registry_at_load = (subckt_registry(), true);

// Offsets into the text are 32 bits: a larger file is refused, never wrapped.
const uint64_t kMaxTextBytes = UINT32_MAX - 1;
// Logical lines between two releases of what a one-model file is past.
const uint32_t kReleaseLines = 1u << 16;
// Block size of the store of signal and model names.
const size_t kNameBlock = 256 * 1024;
// Bytes of a name or word of the file quoted in a problem, and of a
// problem's whole text.
const size_t kMaxQuotedBytes = 80;
const size_t kMaxProblemBytes = 1024;

// A name or word of the file as a problem quotes it: bytes that are not
// printable ASCII (terminal escapes among them) escaped, the text cut at
// kMaxQuotedBytes (msg_printable_text), so neither reaches the user raw.
std::string quoted(std::string_view text) { return msg_printable_text(text, kMaxQuotedBytes); }

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

// The system's page size, read as the program loads.
const size_t g_page_bytes = size_t(::sysconf(_SC_PAGESIZE));

// A fixed-capacity array of plain records in anonymous memory of its own
// that can give back the whole pages below a point once the reader is past
// them: the file text and the line table of a one-model file are released
// as elaboration moves on, so they do not add up with the netlist built from
// them. Memory given back reads as zeros and is not read again.
template <class T>
class RELEASABLE_ARRAY {
 public:
  RELEASABLE_ARRAY() = default;
  ~RELEASABLE_ARRAY() { reset(); }
  RELEASABLE_ARRAY(RELEASABLE_ARRAY&& o) noexcept { *this = std::move(o); }
  RELEASABLE_ARRAY& operator=(RELEASABLE_ARRAY&& o) noexcept {
    if (this != &o) {
      reset();
      std::swap(m_data, o.m_data);
      std::swap(m_size, o.m_size);
      std::swap(m_capacity, o.m_capacity);
      std::swap(m_released, o.m_released);
    }
    return *this;
  }
  // Room for `capacity` records (replacing what was held); false when the
  // memory cannot be had.
  bool allocate(size_t capacity) {
    reset();
    void* p = ::mmap(nullptr, bytes(capacity), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return false;
    m_data = static_cast<T*>(p);
    m_capacity = capacity;
    return true;
  }
  void reset() {
    if (m_data) ::munmap(m_data, bytes(m_capacity));
    m_data = nullptr;
    m_size = m_capacity = m_released = 0;
  }
  T* data() { return m_data; }
  const T* data() const { return m_data; }
  T* begin() { return m_data; }
  T* end() { return m_data + m_size; }
  const T* begin() const { return m_data; }
  const T* end() const { return m_data + m_size; }
  size_t size() const { return m_size; }
  bool empty() const { return m_size == 0; }
  T& operator[](size_t i) { return m_data[i]; }
  const T& operator[](size_t i) const { return m_data[i]; }
  T& back() { return m_data[m_size - 1]; }
  void push_back(const T& v) {
    PLAT_CHECK(m_size < m_capacity, "BLIF");
    m_data[m_size++] = v;
  }
  void resize(size_t n) {
    PLAT_CHECK(n <= m_capacity, "BLIF");
    m_size = n;
  }
  // Gives back the whole pages that hold only records below `index`.
  void release_below(size_t index) {
    const size_t page = g_page_bytes;
    const size_t cut = index * sizeof(T) / page * page;
    if (cut <= m_released) return;
    ::madvise(reinterpret_cast<char*>(m_data) + m_released, cut - m_released, MADV_DONTNEED);
    m_released = cut;
  }

 private:
  static size_t bytes(size_t capacity) { return std::max<size_t>(capacity * sizeof(T), 1); }
  T* m_data = nullptr;
  size_t m_size = 0;
  size_t m_capacity = 0;
  size_t m_released = 0;  // bytes at the start given back
};

// A logical line as a byte range of the text; comments and continuation
// marks inside it are blanked, so its tokens are its blank-separated words.
struct RAW_LINE {
  uint32_t m_begin;
  uint32_t m_end;
  uint32_t m_line;  // physical line number where it starts (1-based)
};

// A logical line split into tokens (views into the text, or into the arena
// for unescaped ones), made again whenever a statement is read: keeping every
// token of a large file would cost more than the file itself.
struct LOGICAL_LINE {
  std::vector<std::string_view> m_tokens;
  uint32_t m_count = 0;
  uint32_t m_line = 0;
};

struct MODEL {
  std::string_view m_name;
  uint32_t m_first_line;  // first logical line after ".model"
  uint32_t m_end_line;    // one past the last statement line
  uint32_t m_decl_line;   // physical line of ".model"
  // Lower bounds of what one flattened instance builds: gates (one per
  // .names, .latch and cell statement, its instances' gates included) and
  // the bytes of the prefixes its instances add to signal names. Both
  // saturate at UINT64_MAX.
  uint64_t m_flat_gates = 0;
  uint64_t m_flat_prefix_bytes = 0;
};

// 16 bytes: a signal is defined once it has a driver or a constant value;
// its pending reads are linked newest first and put back in file order when
// its driver appears. One line number serves both messages that need one:
// the first read until the signal is defined ("never driven"), then its
// definition ("driven twice").
struct SIGNAL {
  // The driver terminal; an odd value (no terminal address) for a constant
  // net, its value in the next bit; 0 while undefined.
  uintptr_t m_source = 0;
  uint32_t m_line = 0;
  uint32_t m_pending = UINT32_MAX;  // newest pending read
  bool defined() const { return m_source != 0; }
  CDB_SGATE_OTERM* driver() const { return m_source & 1 ? nullptr : reinterpret_cast<CDB_SGATE_OTERM*>(m_source); }
  // 0 or 1 for a constant net, else -1.
  int constant() const { return m_source & 1 ? int(m_source >> 1) : -1; }
  void set_driver(CDB_SGATE_OTERM* o) { m_source = reinterpret_cast<uintptr_t>(o); }
  void set_constant(int value) { m_source = uintptr_t(value) << 1 | 1; }
};
static_assert(sizeof(SIGNAL) == 16 && alignof(CDB_SGATE_OTERM) > 1);

// A read of a signal whose driver is not known yet; the reads of one signal
// are linked newest first.
struct PENDING_READ {
  CDB_SGATE_ITERM* m_iterm;  // null once connected
  uint32_t m_signal;
  uint32_t m_next;           // next older pending read of the signal, or UINT32_MAX
};

// One model instance being elaborated: how its local signal names map to
// the flat signal table.
struct INSTANCE_SCOPE {
  const MODEL* m_model = nullptr;
  std::string m_prefix;                                      // "" for the top
  std::unordered_map<std::string_view, uint32_t> m_ports;    // formal → signal
};

class BLIF_READER;

// The builder handed to registered .subckt handlers.
class SUBCKT_BUILDER final : public BLIF_SUBCKT_BUILDER {
 public:
  using PAIRS = std::vector<std::pair<std::string_view, std::string_view>>;
  SUBCKT_BUILDER(BLIF_READER& r, const INSTANCE_SCOPE& s, uint32_t line, PAIRS& pins, PAIRS& params)
      : m_pins(pins), m_params(params), m_reader(r), m_scope(s), m_line(line) {}
  const std::vector<std::pair<std::string_view, std::string_view>>& pins() const override { return m_pins; }
  const std::vector<std::pair<std::string_view, std::string_view>>& params() const override { return m_params; }
  void add_gate(CDB_SGATE_NODE* gate) override;
  void read_signal(CDB_SGATE_ITERM* iterm, std::string_view signal) override;
  void drive_signal(CDB_SGATE_OTERM* oterm, std::string_view signal) override;

  // The reader's scratch vectors, reused from cell to cell.
  PAIRS& m_pins;
  PAIRS& m_params;

 private:
  BLIF_READER& m_reader;
  const INSTANCE_SCOPE& m_scope;
  uint32_t m_line;
};

class BLIF_READER {
 public:
  BLIF_READER(std::string file, RELEASABLE_ARRAY<char> text, const BLIF_READ_OPTIONS& options);
  BLIF_RESULT run();

  // --- used by the cell builders
  CDB_SGATE_NETLIST* netlist() { return m_netlist; }
  void add_gate(CDB_SGATE_NODE* g);
  uint32_t resolve(const INSTANCE_SCOPE& scope, std::string_view local);
  void read(CDB_SGATE_ITERM* t, uint32_t signal, uint32_t line);
  bool drive(CDB_SGATE_OTERM* o, uint32_t signal, uint32_t line);
  bool fail(uint32_t line, const std::string& problem);

 private:
  bool check_bytes();
  bool split_lines();
  bool check_escapes();
  std::string_view unescape(std::string_view token);
  bool group_models();
  bool elaborate(INSTANCE_SCOPE& scope, int depth);
  bool statement(INSTANCE_SCOPE& scope, uint32_t& li, int depth);
  bool read_pins(INSTANCE_SCOPE& scope, const LOGICAL_LINE& l, bool inputs);
  bool read_names(INSTANCE_SCOPE& scope, uint32_t& li, const LOGICAL_LINE& l, int depth);
  bool names_lut(INSTANCE_SCOPE& scope, const LOGICAL_LINE& l, unsigned n, uint64_t mask);
  bool names_sop(INSTANCE_SCOPE& scope, const LOGICAL_LINE& l, uint32_t rows_first, uint32_t rows_end,
                 bool onset, int depth);
  bool read_latch(INSTANCE_SCOPE& scope, const LOGICAL_LINE& l);
  bool read_subckt(INSTANCE_SCOPE& scope, uint32_t& li, const LOGICAL_LINE& l, int depth);
  bool instantiate(INSTANCE_SCOPE& scope, const MODEL& model, const SUBCKT_BUILDER& cell, uint32_t line,
                   int depth);
  bool build_atom(INSTANCE_SCOPE& scope, const SUBCKT_BUILDER& cell, const ATOM_CATALOGUE_ENTRY& row,
                  uint32_t line);
  bool connect_reads();
  bool release_parse_data();
  void give_names();
  std::string_view tok(const LOGICAL_LINE& l, uint32_t i) const { return l.m_tokens[i]; }
  // Logical line li split into the scratch line of (depth, k): a statement
  // of nesting depth d uses k = 0 for its own line and k = 1 for the lines
  // that follow it (cover rows, parameters).
  const LOGICAL_LINE& line(uint32_t li, int depth, int k);
  // The first character of logical line li.
  char first_char(uint32_t li) const;
  std::string_view intern_text(std::string text);
  std::string_view keep_name(std::string_view text);
  const MODEL* find_model(std::string_view name) const;
  bool check_flat_size(const MODEL& model, uint32_t line, size_t prefix_bytes);
  bool estimate_flat_sizes();
  bool run_phases(BLIF_RESULT& result);

  std::string m_file;  // the path as messages show it (escaped)
  RELEASABLE_ARRAY<char> m_text;
  BLIF_READ_OPTIONS m_options;
  unsigned m_lut_size;
  RELEASABLE_ARRAY<RAW_LINE> m_lines;
  std::deque<LOGICAL_LINE> m_scratch_lines;
  std::unordered_map<uint32_t, std::string_view> m_unescaped;  // by text offset
  std::vector<MODEL> m_models;
  std::unordered_map<std::string_view, uint32_t> m_model_index;  // name → index in m_models
  uint64_t m_signal_estimate = 0;  // signals the top model's lines name as driven or pins
  uint64_t m_gate_count = 0;
  uint64_t m_max_flat_gates = 0;
  IO_NAME_TABLE m_table;
  std::vector<SIGNAL> m_signals;
  std::vector<PENDING_READ> m_pending;
  std::vector<std::pair<CDB_SGATE_NODE*, uint32_t>> m_output_pins;  // pin, signal
  // The signals the top model lists as outputs, each with whether its
  // listing twice was told.
  std::unordered_map<uint32_t, bool> m_output_signals;
  // The nets named $false, $undef (value 0) and $true (1), one per instance.
  std::vector<std::pair<uint32_t, int>> m_constant_nets;
  // The names to give once the text is gone (release_parse_data): their
  // texts back to back, their sizes, and the driver of each driven one.
  RELEASABLE_ARRAY<char> m_name_text;
  RELEASABLE_ARRAY<uint32_t> m_name_sizes;
  RELEASABLE_ARRAY<CDB_SGATE_OTERM*> m_drivers;
  size_t m_top_children = 0;  // names of one level, children of the top name
  std::deque<std::string> m_arena;
  // Names read from the text (signals and models), copied out of it.
  IO_TEXT_STORE m_name_store{kNameBlock};
  SUBCKT_BUILDER::PAIRS m_cell_pins, m_cell_params;
  std::unordered_map<std::string_view, uint32_t> m_instance_counts;
  CDB_SGATE_NETLIST* m_netlist = nullptr;
  HDB_INSTANCE_NAME* m_top = nullptr;
  std::string m_error;
  // The error of a read memory is refused to, made while memory is given, so
  // that reporting it takes none.
  std::string m_out_of_memory;
  // Instance parameters of atoms (LUT-RAM output register settings), set on
  // the atoms' names once the names exist.
  struct ATOM_PARAMETER {
    CDB_SGATE_WYSIWYG* m_atom;
    int m_code;
    std::string m_value;
  };
  std::vector<ATOM_PARAMETER> m_atom_parameters;
  std::vector<std::string> m_warnings;
  bool m_clock_wanted = false;
  uint32_t m_clock_line = 0;
};

void SUBCKT_BUILDER::add_gate(CDB_SGATE_NODE* gate) { m_reader.add_gate(gate); }
void SUBCKT_BUILDER::read_signal(CDB_SGATE_ITERM* iterm, std::string_view signal) {
  m_reader.read(iterm, m_reader.resolve(m_scope, signal), m_line);
}
void SUBCKT_BUILDER::drive_signal(CDB_SGATE_OTERM* oterm, std::string_view signal) {
  m_reader.drive(oterm, m_reader.resolve(m_scope, signal), m_line);
}

BLIF_READER::BLIF_READER(std::string file, RELEASABLE_ARRAY<char> text, const BLIF_READ_OPTIONS& options)
    : m_file(msg_printable_text(file, MSG_MAX_PATH_BYTES)),
      m_text(std::move(text)),
      m_options(options),
      m_out_of_memory(m_file + ": not enough memory to read the file") {
  // LUT gates hold at most six inputs whatever the caller asks for.
  m_lut_size = std::min(options.lut_size ? options.lut_size : CDB_LUTMASK::max_num_inputs, 6u);
  const int limit = cfg_get_int_value("blif_max_flat_gates", 20000000);
  m_max_flat_gates = limit > 0 ? uint64_t(limit) : 0;
}

// A problem quotes the file's names and words through quoted(); the whole
// text is passed through the same escaping once more, with a wider cut, for
// what cell builders quote.
bool BLIF_READER::fail(uint32_t line, const std::string& problem) {
  if (m_error.empty())
    m_error = m_file + ":" + std::to_string(line) + ": " + msg_printable_text(problem, kMaxProblemBytes);
  return false;
}

// Logical lines: '#' starts a comment, a trailing '\' joins the next line.
// Comments and continuation marks are blanked in the text so that a logical
// line is one byte range.
bool BLIF_READER::split_lines() {
  char* text = m_text.data();
  char* p = text;
  char* end = p + m_text.size();
  if (!m_lines.allocate(size_t(std::count(m_text.begin(), m_text.end(), '\n')) + 1)) return false;
  uint32_t line_no = 0;
  bool continuing = false;
  while (p < end) {
    ++line_no;
    char* eol = static_cast<char*>(memchr(p, '\n', size_t(end - p)));
    if (!eol) eol = end;
    char* stop = static_cast<char*>(memchr(p, '#', size_t(eol - p)));
    if (stop) std::memset(stop, ' ', size_t(eol - stop));
    else stop = eol;
    while (stop > p && is_space(stop[-1])) --stop;
    bool cont = stop > p && stop[-1] == '\\';
    if (cont) *--stop = ' ';
    const char* q = p;
    while (q < stop && is_space(*q)) ++q;
    if (!continuing && q < stop) m_lines.push_back({uint32_t(q - text), uint32_t(stop - text), line_no});
    else if (continuing && q < stop) {
      if (m_lines.back().m_begin == m_lines.back().m_end) m_lines.back().m_begin = uint32_t(q - text);
      m_lines.back().m_end = uint32_t(stop - text);
    }
    // A continuation mark on an otherwise blank line starts a logical line
    // only once a token follows.
    if (!continuing && q == stop && cont) {
      m_lines.push_back({uint32_t(stop - text), uint32_t(stop - text), line_no});
    }
    continuing = cont && !m_lines.empty();
    p = eol + 1;
  }
  // Logical lines left without a token (a continuation at the end of the
  // file, or continuations of blank lines) hold nothing.
  m_lines.resize(size_t(std::remove_if(m_lines.begin(), m_lines.end(),
                                       [](const RAW_LINE& l) { return l.m_begin == l.m_end; }) -
                        m_lines.begin()));
  return true;
}

const LOGICAL_LINE& BLIF_READER::line(uint32_t li, int depth, int k) {
  const size_t slot = size_t(2 * depth + k);
  while (m_scratch_lines.size() <= slot) m_scratch_lines.emplace_back();
  LOGICAL_LINE& out = m_scratch_lines[slot];
  const RAW_LINE& raw = m_lines[li];
  out.m_tokens.clear();
  out.m_line = raw.m_line;
  const char* text = m_text.data();
  auto blank = [](char c) { return is_space(c) || c == '\n'; };
  for (uint32_t q = raw.m_begin; q < raw.m_end;) {
    while (q < raw.m_end && blank(text[q])) ++q;
    const uint32_t s = q;
    while (q < raw.m_end && !blank(text[q])) ++q;
    if (q == s) continue;
    std::string_view token(text + s, q - s);
    if (token.find('\\') != std::string_view::npos) {
      auto [it, added] = m_unescaped.try_emplace(s);
      if (added) it->second = unescape(token);
      token = it->second;
    }
    out.m_tokens.push_back(token);
  }
  out.m_count = uint32_t(out.m_tokens.size());
  return out;
}

char BLIF_READER::first_char(uint32_t li) const { return m_text[m_lines[li].m_begin]; }

// The writer's escapes ("\" and two upper-case hex digits, for the
// characters BLIF cannot carry in a name) back to the characters.
std::string_view BLIF_READER::unescape(std::string_view token) {
  if (token.find('\\') == std::string_view::npos) return token;
  auto hex = [](char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1; };
  std::string out;
  out.reserve(token.size());
  for (size_t i = 0; i < token.size(); ++i) {
    if (token[i] == '\\' && i + 2 < token.size() && hex(token[i + 1]) >= 0 && hex(token[i + 2]) >= 0) {
      out += char(hex(token[i + 1]) * 16 + hex(token[i + 2]));
      i += 2;
    } else {
      out += token[i];
    }
  }
  return intern_text(std::move(out));
}

// Bytes no BLIF file holds: a NUL, and a carriage return that does not end
// a line (a file with CR-only line endings would read as one long line).
bool BLIF_READER::check_bytes() {
  uint32_t line_no = 1;
  for (size_t i = 0; i < m_text.size(); ++i) {
    const char c = m_text[i];
    if (c == '\n') ++line_no;
    else if (c == '\0') return fail(line_no, "NUL byte in the file");
    else if (c == '\r' && (i + 1 == m_text.size() || m_text[i + 1] != '\n'))
      return fail(line_no, "carriage return without a line feed (CR-only line endings are not BLIF)");
  }
  return true;
}

// An escape that decodes to NUL would end the name early ("a\00x" and
// "a\00y" both "a"): it is refused as a raw NUL is. Comments are blanked by
// now, so every backslash left stands in a token.
bool BLIF_READER::check_escapes() {
  const char* text = m_text.data();
  for (const RAW_LINE& l : m_lines) {
    const char* p = text + l.m_begin;
    const char* end = text + l.m_end;
    while ((p = static_cast<const char*>(memchr(p, '\\', size_t(end - p))))) {
      if (end - p >= 3 && p[1] == '0' && p[2] == '0') return fail(l.m_line, "escaped NUL (\\00) in a name");
      ++p;
    }
  }
  return true;
}

bool BLIF_READER::group_models() {
  MODEL* open = nullptr;
  bool in_exdc = false;
  for (uint32_t i = 0; i < m_lines.size(); ++i) {
    const LOGICAL_LINE& l = line(i, 0, 0);
    std::string_view t0 = tok(l, 0);
    if (t0 == ".names" || t0 == ".latch") ++m_signal_estimate;
    else if (t0 == ".inputs" || t0 == ".outputs" || t0 == ".subckt" || t0 == ".gate") m_signal_estimate += l.m_count - 1;
    if (t0 == ".model") {
      if (l.m_count < 2) return fail(l.m_line, ".model without a name");
      if (const MODEL* twin = find_model(tok(l, 1)))
        return fail(l.m_line, "model '" + quoted(tok(l, 1)) + "' is defined twice (first on line " +
                                  std::to_string(twin->m_decl_line) + ")");
      if (open) open->m_end_line = i;
      const std::string_view name = keep_name(tok(l, 1));
      m_model_index.emplace(name, uint32_t(m_models.size()));
      m_models.push_back({name, i + 1, uint32_t(m_lines.size()), l.m_line});
      open = &m_models.back();
      in_exdc = false;
    } else if (t0 == ".end") {
      if (open) open->m_end_line = std::min(open->m_end_line, i);
      open = nullptr;
      in_exdc = false;
    } else if (t0 == ".exdc") {
      // The external don't-care network is not part of the function: it is
      // skipped to its ".end" or to the next ".model".
      if (open) open->m_end_line = i;
      open = nullptr;
      in_exdc = true;
    } else if (!open && !in_exdc) {
      if (!m_models.empty() && m_models.back().m_end_line != uint32_t(m_lines.size()))
        return fail(l.m_line, "statement outside a model: " + quoted(t0));
      // A file without .model: the statements form one model named "top".
      m_model_index.emplace("top", uint32_t(m_models.size()));
      m_models.push_back({"top", i, uint32_t(m_lines.size()), l.m_line});
      open = &m_models.back();
      --i;
    }
  }
  if (m_models.empty()) return fail(1, "no model in the file");
  return true;
}

const MODEL* BLIF_READER::find_model(std::string_view name) const {
  auto it = m_model_index.find(name);
  return it == m_model_index.end() ? nullptr : &m_models[it->second];
}

namespace {
uint64_t sat_add(uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }
uint64_t sat_mul(uint64_t a, uint64_t b) { return b && a > UINT64_MAX / b ? UINT64_MAX : a * b; }
// Bytes of signal-name prefix allowed per gate of the flat bound: a deep
// hierarchy of long model names costs memory in names, not in gates.
constexpr uint64_t kPrefixBytesPerFlatGate = 64;
}  // namespace

// Instances are expanded in place, so a hierarchy of n levels with two
// instances each builds 2^n copies. Before an instance is expanded, the
// gates built so far plus the instance's flattened size (known per model
// before elaboration starts) are checked against "blif_max_flat_gates", and
// the prefix bytes its signal names will carry against 64 bytes per gate of
// that bound: a file that cannot be read within the bound is refused before
// memory is spent on it.
bool BLIF_READER::check_flat_size(const MODEL& model, uint32_t line, size_t prefix_bytes) {
  const uint64_t gates = sat_add(m_gate_count, model.m_flat_gates);
  const uint64_t bytes = sat_add(model.m_flat_prefix_bytes, sat_mul(model.m_flat_gates, prefix_bytes));
  if (gates <= m_max_flat_gates && bytes <= sat_mul(m_max_flat_gates, kPrefixBytesPerFlatGate)) return true;
  return fail(line, "the flattened hierarchy passes " + std::to_string(m_max_flat_gates) +
                        " gates (blif_max_flat_gates) while expanding model '" + quoted(model.m_name) +
                        "' (" + (gates == UINT64_MAX ? std::string("too many") : std::to_string(gates)) +
                        " gates, " + (bytes == UINT64_MAX ? std::string("too many") : std::to_string(bytes)) +
                        " bytes of instance names at least)");
}

// Flattened sizes per model, children before parents (an explicit stack
// over the models the top reaches). A model that instantiates itself,
// directly or not, could never be flattened: refused here rather than after
// 64 levels of doubling.
bool BLIF_READER::estimate_flat_sizes() {
  const size_t n = m_models.size();
  // Per model: its own gates and the models it instantiates (with repeats).
  std::vector<uint64_t> own(n, 0);
  std::vector<std::vector<uint32_t>> subs(n);
  for (size_t m = 0; m < n; ++m)
    for (uint32_t li = m_models[m].m_first_line; li < m_models[m].m_end_line; ++li) {
      const LOGICAL_LINE& l = line(li, 0, 0);
      const std::string_view t0 = tok(l, 0);
      if (t0 == ".names" || t0 == ".latch") ++own[m];
      else if ((t0 == ".subckt" || t0 == ".gate") && l.m_count >= 2) {
        auto it = m_model_index.find(tok(l, 1));
        if (it == m_model_index.end()) ++own[m];
        else subs[m].push_back(it->second);
      }
    }
  enum : uint8_t { UNSEEN, OPEN, DONE };
  std::vector<uint8_t> state(n, UNSEEN);
  std::vector<std::pair<uint32_t, size_t>> stack{{0, 0}};  // model, next instance
  state[0] = OPEN;
  while (!stack.empty()) {
    auto& [m, next] = stack.back();
    if (next < subs[m].size()) {
      const uint32_t c = subs[m][next++];
      if (state[c] == OPEN)
        return fail(m_models[c].m_decl_line, "models nest deeper than 64 levels (recursive model '" +
                                                 quoted(m_models[c].m_name) + "' instantiates itself)");
      if (state[c] == UNSEEN) {
        state[c] = OPEN;
        stack.emplace_back(c, 0);
      }
      continue;
    }
    MODEL& model = m_models[m];
    model.m_flat_gates = own[m];
    for (uint32_t c : subs[m]) {
      const MODEL& child = m_models[c];
      // The child's signals carry "<child>_<k>|" more: the count k has at
      // most ten digits.
      const uint64_t piece = child.m_name.size() + 12;
      model.m_flat_gates = sat_add(model.m_flat_gates, child.m_flat_gates);
      model.m_flat_prefix_bytes = sat_add(model.m_flat_prefix_bytes,
                                          sat_add(child.m_flat_prefix_bytes, sat_mul(child.m_flat_gates, piece)));
    }
    state[m] = DONE;
    stack.pop_back();
  }
  return true;
}

// A copy of `text` in the name store, which lives until the names are given
// and does not move.
std::string_view BLIF_READER::keep_name(std::string_view text) { return m_name_store.keep(text); }

std::string_view BLIF_READER::intern_text(std::string text) {
  m_arena.push_back(std::move(text));
  return m_arena.back();
}

// Every name is local to its model instance, the constant names too: each
// model of a hierarchical file (as yosys writes one) holds its own ".names
// $false", ".names $true" and ".names $undef", one net per instance. A
// constant net that no line of its instance drives is noted when first met
// and takes its value in connect_reads.
uint32_t BLIF_READER::resolve(const INSTANCE_SCOPE& scope, std::string_view local) {
  uint32_t id;
  bool added = false;
  if (scope.m_prefix.empty()) {
    id = m_table.intern(local, &added);
    if (added) m_table.rebind(id, keep_name(local));
  } else {
    auto it = scope.m_ports.find(local);
    if (it != scope.m_ports.end()) return it->second;
    std::string full = scope.m_prefix + std::string(local);
    id = m_table.find(full);
    if (id == UINT32_MAX) {
      id = m_table.intern(intern_text(std::move(full)));
      added = true;
    }
  }
  if (id >= m_signals.size()) m_signals.resize(id + 1);
  if (added && (local == "$false" || local == "$true" || local == "$undef"))
    m_constant_nets.emplace_back(id, local == "$true" ? 1 : 0);
  return id;
}

void BLIF_READER::add_gate(CDB_SGATE_NODE* g) {
  m_netlist->add_node(g);
  ++m_gate_count;
}

// A read of a driven signal is connected at once; other reads wait in the
// signal's pending list until its driver appears (or, for constants and
// undriven signals, until connect_reads), so every chain lists its readers in
// file order.
void BLIF_READER::read(CDB_SGATE_ITERM* t, uint32_t signal, uint32_t line) {
  SIGNAL& s = m_signals[signal];
  if (!s.defined() && !s.m_line) s.m_line = line;
  if (CDB_SGATE_OTERM* driver = s.driver()) {
    driver->insert_fanout(t);
    return;
  }
  m_pending.push_back({t, signal, s.m_pending});
  s.m_pending = uint32_t(m_pending.size() - 1);
}

bool BLIF_READER::drive(CDB_SGATE_OTERM* o, uint32_t signal, uint32_t line) {
  SIGNAL& s = m_signals[signal];
  if (s.defined())
    return fail(line, "signal '" + quoted(m_table.name(signal)) + "' is driven twice (first on line " +
                          std::to_string(s.m_line) + ")");
  s.set_driver(o);
  s.m_line = line;
  // The list runs newest first: reversed in place, it connects the readers
  // in file order.
  uint32_t oldest = UINT32_MAX;
  for (uint32_t i = s.m_pending; i != UINT32_MAX;) {
    const uint32_t next = m_pending[i].m_next;
    m_pending[i].m_next = oldest;
    oldest = i;
    i = next;
  }
  for (uint32_t i = oldest; i != UINT32_MAX; i = m_pending[i].m_next) {
    o->insert_fanout(m_pending[i].m_iterm);
    m_pending[i].m_iterm = nullptr;
  }
  s.m_pending = UINT32_MAX;
  return true;
}

// An allocation that fails while reading ends the read with an error, not
// the process: what was built goes with the netlist.
BLIF_RESULT BLIF_READER::run() {
  BLIF_RESULT result;
  try {
    if (run_phases(result)) return result;
  } catch (const std::bad_alloc&) {
    m_error = std::move(m_out_of_memory);
    // The reader's tables go first: the netlist's destructor needs room of
    // its own to run.
    m_table = IO_NAME_TABLE();
    decltype(m_signals)().swap(m_signals);
    decltype(m_pending)().swap(m_pending);
    decltype(m_arena)().swap(m_arena);
    decltype(m_output_pins)().swap(m_output_pins);
    decltype(m_output_signals)().swap(m_output_signals);
    decltype(m_instance_counts)().swap(m_instance_counts);
    m_text.reset();
    m_lines.reset();
  }
  delete m_netlist;
  m_netlist = nullptr;
  BLIF_RESULT failed;
  failed.error = std::move(m_error);
  return failed;
}

// The phases of run(); false with m_error set (the netlist, if any, is the
// caller's to delete), true with *result filled.
bool BLIF_READER::run_phases(BLIF_RESULT& result) {
  if (m_text.size() > kMaxTextBytes) {
    m_error = m_file + ": the file is larger than 4 GiB, more than the reader can address";
    return false;
  }
  if (!check_bytes()) return false;
  if (!split_lines()) {
    m_error = m_file + ": not enough memory for the line table";
    return false;
  }
  if (!check_escapes() || !group_models() || !estimate_flat_sizes()) return false;
  m_netlist = new CDB_SGATE_NETLIST();
  m_top = io_top_name(m_models[0].m_name);
  // A signal is mostly named for the first time on the line of its driver or
  // a pin list: those lines size the tables (instances of other models and
  // undriven reads grow them).
  m_table.reserve(size_t(m_signal_estimate) + 16);
  m_signals.reserve(size_t(m_signal_estimate) + 16);
  INSTANCE_SCOPE top;
  top.m_model = &m_models[0];
  if (!check_flat_size(m_models[0], m_models[0].m_decl_line, 0) || !elaborate(top, 0)) return false;
  m_text.reset();
  m_lines.reset();
  if (!connect_reads()) return false;
  if (!release_parse_data()) {
    m_error = m_file + ": not enough memory for the names";
    return false;
  }
  give_names();
  blif_name_cell_gates(m_netlist, m_top);
  m_name_text.reset();
  m_name_sizes.reset();
  for (const ATOM_PARAMETER& p : m_atom_parameters) hdb_set_option(p.m_atom->get_instance_name(), p.m_code, p.m_value.c_str());
  result.netlist = m_netlist;
  result.warnings = std::move(m_warnings);
  result.hierarchy = io_make_hierarchy(m_netlist, m_top);
  return true;
}

// A file of one model is read front to back once: the text and the lines
// behind the current statement are given back as it goes (signal and model
// names live in their own store, so nothing points there any more).
bool BLIF_READER::elaborate(INSTANCE_SCOPE& scope, int depth) {
  if (depth > 64) return fail(scope.m_model->m_decl_line, "models nest deeper than 64 levels (recursive model?)");
  const bool single_pass = depth == 0 && m_models.size() == 1;
  uint32_t next_release = scope.m_model->m_first_line + kReleaseLines;
  for (uint32_t li = scope.m_model->m_first_line; li < scope.m_model->m_end_line;) {
    if (!statement(scope, li, depth)) return false;
    if (single_pass && li >= next_release && li < m_lines.size()) {
      m_text.release_below(m_lines[li].m_begin);
      m_lines.release_below(li);
      next_release = li + kReleaseLines;
    }
  }
  return true;
}

// One statement starting at logical line li; advances li past it.
bool BLIF_READER::statement(INSTANCE_SCOPE& scope, uint32_t& li, int depth) {
  const LOGICAL_LINE& l = line(li, depth, 0);
  std::string_view t0 = tok(l, 0);
  bool top = depth == 0;
  if (t0 == ".names") return read_names(scope, li, l, depth);
  if (t0 == ".subckt" || t0 == ".gate") return read_subckt(scope, li, l, depth);
  ++li;
  if (t0 == ".latch") return read_latch(scope, l);
  if (t0 == ".inputs" || t0 == ".outputs") return top ? read_pins(scope, l, t0 == ".inputs") : true;
  if (t0 == ".clock" || t0 == ".area" || t0 == ".delay" || t0 == ".wire_load_slope" || t0 == ".wire" ||
      t0 == ".input_arrival" || t0 == ".output_required" || t0 == ".default_input_arrival" ||
      t0 == ".default_output_required" || t0 == ".default_input_drive" || t0 == ".default_output_load" ||
      t0 == ".input_drive" || t0 == ".output_load" || t0 == ".max_input_load" ||
      t0 == ".default_max_input_load" || t0 == ".attr" || t0 == ".cname" || t0 == ".src")
    return true;  // timing and annotation lines do not change the function
  if (t0 == ".param") return fail(l.m_line, ".param without a preceding .subckt");
  if (t0[0] == '.') return fail(l.m_line, "unsupported construct " + quoted(t0));
  return fail(l.m_line, "unexpected text '" + quoted(t0) + "' (a cover row outside .names?)");
}

bool BLIF_READER::read_pins(INSTANCE_SCOPE& scope, const LOGICAL_LINE& l, bool inputs) {
  for (uint32_t i = 1; i < l.m_count; ++i) {
    uint32_t s = resolve(scope, tok(l, i));
    if (!inputs) {
      auto [listed, first] = m_output_signals.try_emplace(s, false);
      if (!first) {
        // One port of that name: a second would be written under another
        // name. Told once, however often it is listed again.
        if (!listed->second)
          m_warnings.push_back(m_file + ":" + std::to_string(l.m_line) + ": output '" + quoted(m_table.name(s)) +
                               "' is listed twice; read as one port");
        listed->second = true;
        continue;
      }
    }
    auto* pin = new CDB_SGATE_IO(nullptr, inputs ? CDB_IO_INPUT : CDB_IO_OUTPUT);
    add_gate(pin);
    if (inputs) {
      if (!drive(pin->get_single_oterm(), s, l.m_line)) return false;
    } else {
      read(pin->get_input_term(0), s, l.m_line);
      m_output_pins.emplace_back(pin, s);
    }
  }
  return true;
}

// .names in1 … inN out, then cover rows until the next directive.
bool BLIF_READER::read_names(INSTANCE_SCOPE& scope, uint32_t& li, const LOGICAL_LINE& l, int depth) {
  if (l.m_count < 2) return fail(l.m_line, ".names without an output");
  unsigned n = l.m_count - 2;
  uint32_t first = ++li;
  while (li < scope.m_model->m_end_line && first_char(li) != '.') ++li;
  uint32_t end = li;
  int out_value = -1;
  for (uint32_t r = first; r < end; ++r) {
    const LOGICAL_LINE& row = line(r, depth, 1);
    if (row.m_count != (n ? 2u : 1u)) return fail(row.m_line, "malformed cover row for " + std::to_string(n) + " inputs");
    std::string_view plane = n ? tok(row, 0) : std::string_view();
    std::string_view out = tok(row, n ? 1 : 0);
    if (plane.size() != n || (out != "0" && out != "1"))
      return fail(row.m_line, "malformed cover row for " + std::to_string(n) + " inputs");
    for (char c : plane)
      if (c != '0' && c != '1' && c != '-') return fail(row.m_line, "bad character in cover row");
    int v = out[0] - '0';
    if (out_value >= 0 && v != out_value) return fail(row.m_line, "cover mixes on-set and off-set rows");
    out_value = v;
  }
  uint32_t out = resolve(scope, tok(l, l.m_count - 1));
  if (n == 0 || first == end) {
    // A constant cover makes no gate: its readers are tied.
    SIGNAL& s = m_signals[out];
    if (s.defined())
      return fail(l.m_line, "signal '" + quoted(m_table.name(out)) + "' is driven twice (first on line " +
                                std::to_string(s.m_line) + ")");
    s.m_line = l.m_line;
    s.set_constant(first == end ? 0 : out_value);
    return true;
  }
  bool lut = m_options.names == BLIF_READ_OPTIONS::ALL_LUT ||
             (m_options.names == BLIF_READ_OPTIONS::AUTO_LUT && n <= m_lut_size);
  if (lut && n > m_lut_size)
    return fail(l.m_line, "cover of " + std::to_string(n) + " inputs is wider than the LUT size " +
                              std::to_string(m_lut_size));
  if (!lut) return names_sop(scope, l, first, end, out_value == 1, depth);
  uint64_t on = 0;
  for (uint32_t r = first; r < end; ++r) {
    std::string_view plane = tok(line(r, depth, 1), 0);
    uint64_t cube = cdb_lut_bitmask(n);
    for (unsigned i = 0; i < n; ++i) {
      uint64_t proj = CDB_LUTMASK::imask(n, i).get_value();
      if (plane[i] == '1') cube &= proj;
      else if (plane[i] == '0') cube &= ~proj;
    }
    on |= cube;
  }
  if (out_value == 0) on = ~on & cdb_lut_bitmask(n);
  return names_lut(scope, l, n, on);
}

bool BLIF_READER::names_lut(INSTANCE_SCOPE& scope, const LOGICAL_LINE& l, unsigned n, uint64_t value) {
  CDB_LUTMASK mask;
  mask.set_value(n, value);
  auto* lut = new CDB_SGATE_LUT(nullptr, mask);
  add_gate(lut);
  lut->get_input_terms().reserve(n);  // exactly n: a list past three entries is a heap array
  for (unsigned i = 0; i < n; ++i) {
    CDB_SGATE_ITERM* t = lut->create_input_term(nullptr, DB_INPUT_PORT_TYPE(DB_PORT_DATAA + i));
    lut->set_input_term(t, i);
    read(t, resolve(scope, tok(l, 1 + i)), l.m_line);
  }
  return drive(lut->get_single_oterm(), resolve(scope, tok(l, l.m_count - 1)), l.m_line);
}

// Sum of products: an AND per cube (inverted inputs for '0' literals), an OR
// of the cubes when there are several, a NOT for an off-set cover.
bool BLIF_READER::names_sop(INSTANCE_SCOPE& scope, const LOGICAL_LINE& l, uint32_t rows_first,
                            uint32_t rows_end, bool onset, int depth) {
  unsigned n = l.m_count - 2;
  CDB_SGATE_COMB* sum = nullptr;
  if (rows_end - rows_first > 1) {
    sum = new CDB_SGATE_COMB(nullptr, CDB_COMB_OR);
    add_gate(sum);
  }
  CDB_SGATE_COMB* last = sum;
  for (uint32_t r = rows_first; r < rows_end; ++r) {
    const LOGICAL_LINE& row = line(r, depth, 1);
    std::string_view plane = tok(row, 0);
    auto* cube = new CDB_SGATE_COMB(nullptr, CDB_COMB_AND);
    add_gate(cube);
    for (unsigned i = 0; i < n; ++i) {
      if (plane[i] == '-') continue;
      // A fresh terminal is in no list yet: appending it needs no duplicate
      // scan, which would make a row of n literals cost n^2.
      CDB_SGATE_ITERM* t = cube->create_input_term(nullptr);
      cube->get_input_terms().push_back(t);
      if (plane[i] == '0') t->set_invert();
      read(t, resolve(scope, tok(l, 1 + i)), row.m_line);
    }
    if (sum) sum->insert_unordered_fanin(cube->get_single_oterm());
    else last = cube;
  }
  if (!onset) {
    auto* inv = new CDB_SGATE_COMB(nullptr, CDB_COMB_NOT);
    add_gate(inv);
    inv->insert_unordered_fanin(last->get_single_oterm());
    last = inv;
  }
  return drive(last->get_single_oterm(), resolve(scope, tok(l, l.m_count - 1)), l.m_line);
}

// .latch in out [type control] [init]
bool BLIF_READER::read_latch(INSTANCE_SCOPE& scope, const LOGICAL_LINE& l) {
  if (l.m_count < 3 || l.m_count > 6) return fail(l.m_line, "malformed .latch line");
  std::string_view type = "re", control, init = "3";
  if (l.m_count == 4) init = tok(l, 3);
  if (l.m_count >= 5) {
    type = tok(l, 3);
    control = tok(l, 4);
  }
  if (l.m_count == 6) init = tok(l, 5);
  if (type != "re" && type != "fe" && type != "ah" && type != "al" && type != "as")
    return fail(l.m_line, "unsupported latch type '" + quoted(type) + "'");
  if (init != "0" && init != "1" && init != "2" && init != "3")
    return fail(l.m_line, "bad latch initial value '" + quoted(init) + "'");
  uint32_t clock = UINT32_MAX;
  if (type != "as") {
    if (control.empty() || control == "NIL") {
      clock = m_table.intern("blif_clock");
      if (clock >= m_signals.size()) m_signals.resize(clock + 1);
      m_clock_wanted = true;
      if (!m_clock_line) m_clock_line = l.m_line;
    } else {
      clock = resolve(scope, control);
    }
  }
  uint32_t d = resolve(scope, tok(l, 1));
  uint32_t q = resolve(scope, tok(l, 2));
  if (type == "ah" || type == "al") {
    auto* latch = new CDB_SGATE_LATCH(nullptr);
    add_gate(latch);
    CDB_SGATE_ITERM* td = blif_cell_input(latch, CDB_LATCH_D, DB_MAX_INPUT_PORT_TYPE);
    CDB_SGATE_ITERM* te = blif_cell_input(latch, CDB_LATCH_EN, DB_MAX_INPUT_PORT_TYPE);
    if (type == "al") te->set_invert();
    read(td, d, l.m_line);
    read(te, clock, l.m_line);
    return drive(latch->get_single_oterm(), q, l.m_line);
  }
  auto* reg = new CDB_SGATE_DFF(nullptr);
  add_gate(reg);
  reg->create_all_inputs();
  read(reg->get_input_term(CDB_DFF_DATA), d, l.m_line);
  if (clock != UINT32_MAX) {
    if (type == "fe") reg->get_input_term(CDB_DFF_CLK)->set_invert();
    read(reg->get_input_term(CDB_DFF_CLK), clock, l.m_line);
  }
  blif_set_power_up(reg, init[0] - '0');
  return drive(reg->get_single_oterm(), q, l.m_line);
}

// .subckt model formal=actual … followed by optional .param lines.
bool BLIF_READER::read_subckt(INSTANCE_SCOPE& scope, uint32_t& li, const LOGICAL_LINE& l, int depth) {
  ++li;
  if (l.m_count < 2) return fail(l.m_line, ".subckt without a model name");
  m_cell_pins.clear();
  m_cell_params.clear();
  SUBCKT_BUILDER cell(*this, scope, l.m_line, m_cell_pins, m_cell_params);
  for (uint32_t i = 2; i < l.m_count; ++i) {
    std::string_view t = tok(l, i);
    size_t eq = t.find('=');
    if (eq == std::string_view::npos || eq == 0 || eq + 1 == t.size())
      return fail(l.m_line, "malformed pin binding '" + quoted(t) + "' (formal=actual expected)");
    cell.m_pins.emplace_back(t.substr(0, eq), t.substr(eq + 1));
  }
  while (li < scope.m_model->m_end_line && tok(line(li, depth, 1), 0) == ".param") {
    const LOGICAL_LINE& p = line(li++, depth, 1);
    if (p.m_count != 3) return fail(p.m_line, "malformed .param line (name and value expected)");
    cell.m_params.emplace_back(tok(p, 1), tok(p, 2));
  }
  std::string_view model = tok(l, 1);
  if (const MODEL* m = find_model(model)) return instantiate(scope, *m, cell, l.m_line, depth);
  std::string problem;
  BLIF_CELL_STATUS st = blif_build_generic_cell(model, cell, &problem);
  if (st == BLIF_CELL_BUILT) return m_error.empty();
  if (st == BLIF_CELL_MALFORMED) return fail(l.m_line, problem);
  std::string name(model);
  if (const ATOM_CATALOGUE_ENTRY* row = atom_catalogue_find(name.c_str())) return build_atom(scope, cell, *row, l.m_line);
  BLIF_SUBCKT_HANDLER handler;
  {
    std::lock_guard<std::mutex> lock(g_registry_mutex);
    auto it = subckt_registry().find(model);
    if (it != subckt_registry().end()) handler = it->second;
  }
  if (!handler) return fail(l.m_line, "unknown .subckt model '" + quoted(name) + "'");
  problem.clear();
  if (!handler(cell, &problem)) return fail(l.m_line, "cell " + quoted(name) + ": " + problem);
  return m_error.empty();
}

// Flattens a model of the file: its signals become "<model>_<k>|<signal>"
// under the caller's prefix; its formals are the caller's actual signals.
bool BLIF_READER::instantiate(INSTANCE_SCOPE& scope, const MODEL& model, const SUBCKT_BUILDER& cell,
                              uint32_t line, int depth) {
  if (!check_flat_size(model, line, scope.m_prefix.size())) return false;
  INSTANCE_SCOPE inner;
  inner.m_model = &model;
  uint32_t k = m_instance_counts[model.m_name]++;
  inner.m_prefix = scope.m_prefix + std::string(model.m_name) + "_" + std::to_string(k) + "|";
  for (const auto& [formal, actual] : cell.m_pins) {
    if (!inner.m_ports.emplace(formal, resolve(scope, actual)).second)
      return fail(line, "pin '" + quoted(formal) + "' bound twice");
  }
  return elaborate(inner, depth + 1);
}

// A catalogue atom: formals are port names, "NAME" or "NAME[i]" for bit i.
bool BLIF_READER::build_atom(INSTANCE_SCOPE& scope, const SUBCKT_BUILDER& cell, const ATOM_CATALOGUE_ENTRY& row,
                             uint32_t line) {
  const bool ram_block = row.m_gate_type == CDB_SGATE_WYSIWYG_RAM_BLOCK_ENUM;
  CDB_SGATE_WYSIWYG* atom = ram_block ? new CDB_SGATE_WYSIWYG_RAM_BLOCK(nullptr, row.m_atom_type)
                                      : new CDB_SGATE_WYSIWYG(nullptr, row.m_atom_type);
  add_gate(atom);
  bool drives_output = false;
  for (const auto& [formal, actual] : cell.m_pins) {
    std::string port(formal);
    unsigned bit = 0;
    size_t br = port.find('[');
    if (br != std::string::npos) {
      if (port.back() != ']') return fail(line, "malformed port '" + quoted(port) + "'");
      bit = unsigned(std::strtoul(port.c_str() + br + 1, nullptr, 10));
      port.resize(br);
    }
    uint16_t in_type = atom_input_port_by_name(port.c_str());
    uint16_t out_type = atom_output_port_by_name(port.c_str());
    // Rows that make ports on demand take any named port, one bit wide.
    const bool in_on_demand = row.ports_on_demand() && in_type != CDB_ILLEGAL_PORT && bit == 0 && !row.input_width(in_type);
    const bool out_on_demand =
        row.ports_on_demand() && out_type != CDB_ILLEGAL_PORT && bit == 0 && !row.output_width(out_type);
    if (in_type != CDB_ILLEGAL_PORT && (row.input_width(in_type) > bit || in_on_demand)) {
      const unsigned slot = in_on_demand ? atom->get_input_port_number(in_type) : row.input_slot(in_type) + bit;
      if (slot < atom->get_number_of_input_terms() && atom->get_input_term(slot))
        return fail(line, std::string(row.m_name) + " port " + quoted(formal) + " is bound twice");
      CDB_SGATE_ITERM* t = atom->create_input_term(nullptr, in_type);
      t->set_port_index(bit);
      atom->set_input_term(t, slot);
      read(t, resolve(scope, actual), line);
    } else if (out_type != CDB_ILLEGAL_PORT && (row.output_width(out_type) > bit || out_on_demand)) {
      const unsigned slot = out_on_demand ? atom->get_output_port_number(out_type) : row.output_slot(out_type) + bit;
      if (slot < atom->get_output_count() && atom->get_output_term(slot))
        return fail(line, std::string(row.m_name) + " port " + quoted(formal) + " is bound twice");
      CDB_SGATE_OTERM* o = atom->create_output_term(nullptr, out_type);
      o->set_port_index(bit);
      atom->set_output_term(o, slot);
      if (!drive(o, resolve(scope, actual), line)) return false;
      drives_output = true;
    } else {
      return fail(line, std::string(row.m_name) + " has no port " + quoted(formal));
    }
  }
  for (const auto& [name, value] : cell.m_params) {
    std::string v(value);
    char* endp = nullptr;
    if (name == "LUTMASK") {
      uint64_t mask = std::strtoull(v.c_str(), &endp, 16);
      if (!endp || *endp) return fail(line, "bad LUTMASK '" + quoted(v) + "'");
      atom->set_lutmask_value(mask);
    } else if (name == "MODE") {
      unsigned long m = std::strtoul(v.c_str(), &endp, 10);
      if (!endp || *endp || m > 255) return fail(line, "bad MODE '" + quoted(v) + "'");
      atom->set_mode(unsigned(m));
    } else if ((name == "RAM_MODE_A" || name == "RAM_MODE_B") && ram_block) {
      // One member of a RAM port's mode set per line.
      unsigned long m = std::strtoul(v.c_str(), &endp, 10);
      if (!endp || *endp || m > 127) return fail(line, "bad " + quoted(name) + " '" + quoted(v) + "'");
      static_cast<CDB_SGATE_WYSIWYG_RAM_BLOCK*>(atom)->set_ram_mode(unsigned(m), name == "RAM_MODE_A" ? CDB_RAM_PORT_A
                                                                                                       : CDB_RAM_PORT_B);
    } else if ((name == "OUT_CLOCK" || name == "OUT_CLEAR") && atom->is_lutram()) {
      // LUT-RAM output register settings live on the atom's instance name.
      if (!drives_output) return fail(line, quoted(name) + " of " + row.m_name + " needs a bound output");
      m_atom_parameters.push_back({atom, name == "OUT_CLOCK" ? WYS_PIREL_EC_PORT_B_DATA_OUT_CLOCK
                                                             : WYS_PIREL_EC_PORT_B_DATA_OUT_CLEAR, v});
    } else {
      return fail(line, "unsupported parameter " + quoted(name) + " of " + row.m_name);
    }
  }
  return true;
}

// Connects every read in file order: chains list readers as the file does.
bool BLIF_READER::connect_reads() {
  if (m_clock_wanted) {
    uint32_t clock = m_table.find("blif_clock");
    if (!m_signals[clock].defined()) {
      // The file names no clock for them: a new input port clocks them,
      // which a written file lists.
      m_warnings.push_back(m_file + ":" + std::to_string(m_clock_line) +
                           ": .latch without a clock; the latches without one are clocked by a new input port "
                           "'blif_clock'");
      auto* pin = new CDB_SGATE_IO(nullptr, CDB_IO_INPUT);
      add_gate(pin);
      drive(pin->get_single_oterm(), clock, m_clock_line);
    }
  }
  for (const auto& [id, value] : m_constant_nets)
    if (!m_signals[id].defined()) m_signals[id].set_constant(value);
  decltype(m_constant_nets)().swap(m_constant_nets);
  for (const PENDING_READ& r : m_pending) {
    if (!r.m_iterm) continue;
    SIGNAL& s = m_signals[r.m_signal];
    if (!s.defined()) {
      // A net nothing drives reads 0, as other BLIF readers take it, unless
      // the caller asks for an error.
      const std::string problem = "signal '" + quoted(m_table.name(r.m_signal)) + "' is never driven";
      if (m_options.undriven_is_error) return fail(s.m_line, problem);
      m_warnings.push_back(m_file + ":" + std::to_string(s.m_line) + ": " + problem + "; tied to 0");
      s.set_constant(0);
    }
    if (CDB_SGATE_OTERM* driver = s.driver()) {
      driver->insert_fanout(r.m_iterm);
    } else {
      bool value = (s.constant() == 1) != r.m_iterm->is_inverted();
      if (value) r.m_iterm->set_vcc();
      else r.m_iterm->set_gnd();
    }
  }
  // A plain register's controls that no line connects do nothing: each is
  // tied to its inactive constant, as the edits that walk them expect.
  for (CDB_SGATE_NODE* g : m_netlist->get_node_list())
    if (g && g->get_sgate_type() == CDB_SGATE_DFF_ENUM) g->cast_to_dff()->tie_unconnected_controls();
  return true;
}

// What only parsing and connecting need goes before the names are made, so
// that it does not add to the names at the peak: the drivers are listed and
// the signal records go, then the texts of the names to give are copied, in
// the order they are given, into one buffer, and the file text, the lines
// and the signal table go. False when the memory for the copy cannot be had.
bool BLIF_READER::release_parse_data() {
  std::vector<PENDING_READ>().swap(m_pending);
  decltype(m_output_signals)().swap(m_output_signals);
  m_scratch_lines.clear();
  m_table.release_index();
  size_t driven = 0;
  for (const SIGNAL& s : m_signals) driven += s.driver() != nullptr;
  if (!m_drivers.allocate(driven)) return false;
  std::vector<bool> is_driven(m_signals.size());
  for (uint32_t id = 0; id < m_signals.size(); ++id) {
    if (CDB_SGATE_OTERM* o = m_signals[id].driver()) {
      m_drivers.push_back(o);
      is_driven[id] = true;
    }
  }
  std::vector<SIGNAL>().swap(m_signals);
  size_t bytes = 0;
  for (uint32_t id = 0; id < is_driven.size(); ++id)
    if (is_driven[id]) bytes += m_table.name(id).size();
  for (const auto& [pin, id] : m_output_pins) bytes += m_table.name(id).size();
  if (!m_name_text.allocate(bytes) || !m_name_sizes.allocate(driven + m_output_pins.size())) return false;
  auto keep = [this](std::string_view name) {
    const size_t at = m_name_text.size();
    m_name_text.resize(at + name.size());
    if (!name.empty()) std::memcpy(m_name_text.data() + at, name.data(), name.size());
    m_name_sizes.push_back(uint32_t(name.size()));
    if (name.find('|') == std::string_view::npos) ++m_top_children;
  };
  for (uint32_t id = 0; id < is_driven.size(); ++id)
    if (is_driven[id]) keep(m_table.name(id));
  for (const auto& [pin, id] : m_output_pins) keep(m_table.name(id));
  m_table = IO_NAME_TABLE();
  std::deque<std::string>().swap(m_arena);
  m_name_store = IO_TEXT_STORE(kNameBlock);
  std::unordered_map<uint32_t, std::string_view>().swap(m_unescaped);
  std::unordered_map<std::string_view, uint32_t>().swap(m_instance_counts);
  return true;
}

// Every driven signal names its driver terminal and, for the gate's
// preferred output (or its first named one), the gate; output pins take the
// name of the signal they read. Names come from release_parse_data's copy,
// drivers in signal order, then the output pins; the copy is given back as
// the names are made.
void BLIF_READER::give_names() {
  HDB_INSTANCE_NAME::reserve_children(m_top, m_top_children);
  size_t k = 0, at = 0;
  // The name is made before anything is given back: the pages below `at`
  // may hold the start of the text just read (a name that ends on or
  // crosses a page edge), and given-back pages read as zeros. Sizes and
  // drivers below k have been read by then too.
  auto next_name = [this, &k, &at]() {
    const std::string_view text(m_name_text.data() + at, m_name_sizes[k++]);
    at += text.size();
    HDB_INSTANCE_NAME* name = io_signal_name(m_top, text);
    if ((k & 0xfff) == 0) {
      m_name_text.release_below(at);
      m_name_sizes.release_below(k);
      m_drivers.release_below(std::min(k, m_drivers.size()));
    }
    return name;
  };
  for (size_t d = 0; d < m_drivers.size(); ++d) {
    CDB_SGATE_OTERM* o = m_drivers[d];
    HDB_INSTANCE_NAME* name = next_name();
    o->set_instance_name(name);
    CDB_SGATE_NODE* g = o->get_my_node();
    if (!g->get_instance_name() || g->get_preferred_oterm() == o) g->set_instance_name(name);
  }
  m_drivers.reset();
  for (const auto& [pin, id] : m_output_pins) {
    HDB_INSTANCE_NAME* name = next_name();
    pin->set_instance_name(name);
    pin->get_single_oterm()->set_instance_name(name);
  }
  decltype(m_output_pins)().swap(m_output_pins);
}

// Only a regular file within the reader's reach is opened (the platform's
// shared check: a directory, a FIFO or a device is refused before a byte is
// read, and so is a file larger than the reader can address).
bool read_whole_file(const std::string& path, RELEASABLE_ARRAY<char>* text, std::string* problem) {
  FILE* f = nullptr;
  uint64_t size = 0;
  int error = 0;
  switch (FIO_FILE_SYSTEM::open_regular_file(path, kMaxTextBytes, &f, &size, &error)) {
    case FIO_FILE_SYSTEM::FIO_OPENED: break;
    case FIO_FILE_SYSTEM::FIO_NOT_REGULAR: *problem = "not a regular file"; return false;
    case FIO_FILE_SYSTEM::FIO_TOO_LARGE:
      *problem = "the file is larger than 4 GiB, more than the reader can address";
      return false;
    default:
      *problem = FIO_FILE_SYSTEM::open_problem(FIO_FILE_SYSTEM::FIO_CANNOT_OPEN, kMaxTextBytes, error);
      return false;
  }
  if (!text->allocate(size_t(size))) {
    std::fclose(f);
    *problem = "not enough memory for the file";
    return false;
  }
  text->resize(size_t(size));
  bool ok = std::fread(text->data(), 1, text->size(), f) == text->size() && std::fgetc(f) == EOF;
  std::fclose(f);
  return ok;
}

// Reads a text as `file`. Memory refused before the reader has made its own
// error (its set-up) fails the read the same way, once the text is given
// back.
BLIF_RESULT read_text(const std::string& file, RELEASABLE_ARRAY<char> text, const BLIF_READ_OPTIONS& options) {
  try {
    return BLIF_READER(file, std::move(text), options).run();
  } catch (const std::bad_alloc&) {
  }
  BLIF_RESULT failed;
  io_say_out_of_memory(&failed.error, file, "not enough memory to read the file");
  return failed;
}

}  // namespace

BLIF_RESULT blif_read_file(const std::string& path, const BLIF_READ_OPTIONS& options) {
  // Memory refused while a failed read's reason is made fails the read with
  // "not enough memory" instead (read_text makes its own errors).
  try {
    RELEASABLE_ARRAY<char> text;
    std::string problem;
    if (read_whole_file(path, &text, &problem)) return read_text(path, std::move(text), options);
    BLIF_RESULT r;
    r.error = msg_printable_text(path, MSG_MAX_PATH_BYTES) + ": " + (problem.empty() ? "cannot read the file" : problem);
    return r;
  } catch (const std::bad_alloc&) {
  }
  BLIF_RESULT failed;
  io_say_out_of_memory(&failed.error, path, "not enough memory to read the file");
  return failed;
}

BLIF_RESULT blif_read_string(const std::string& text, const BLIF_READ_OPTIONS& options) {
  RELEASABLE_ARRAY<char> copy;
  if (!copy.allocate(text.size())) {
    BLIF_RESULT r;
    io_say_out_of_memory(&r.error, "<string>", "not enough memory for the text");
    return r;
  }
  copy.resize(text.size());
  if (!text.empty()) std::memcpy(copy.data(), text.data(), text.size());
  return read_text("<string>", std::move(copy), options);
}

void blif_register_subckt(const std::string& model, BLIF_SUBCKT_HANDLER handler) {
  std::lock_guard<std::mutex> lock(g_registry_mutex);
  subckt_registry()[model] = std::move(handler);
}

}  // namespace kavu_platform
