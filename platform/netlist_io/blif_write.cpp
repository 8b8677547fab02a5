// blif_write.cpp — the BLIF writer (rules in blif.h).
//
// Every output terminal of a written gate is one signal whose value is the
// terminal's value after its own inversion. A gate's cover is tabulated by
// running the simulator's word evaluator (sim_eval.h) on projection words of
// its distinct input signals (at most six), so the writer and the simulator
// cannot disagree about a kind's function; wider AND, OR and XOR gates and
// tri-state buses are written as one cube row (an inverter after it where
// the output is its complement) or a chain of six-input parity covers. Covers drop inputs they do not depend on
// and list the smaller of the on-set and the off-set.
// Constants: the reader turns a constant cover into ties of its readers, so
// before writing, every logic gate that may be constant is tabulated once
// (and again whenever one of its inputs turns out constant) to find the signals whose function is
// constant; such a signal gets no cover and no name, and its readers are
// tabulated with the constant. Only what needs a signal of its own (an
// output port, a register's next state, a cell's pin) writes a constant
// cover, as the file read back gives it again: writing what was read is a
// fixed point after the first write.
// Names: output ports keep their pins' names; a signal takes its terminal's
// name, else its gate's, else "$n<debug>_<output>", made unique with "~k"
// in node-list order, so writing the same netlist twice gives the same file.
// Memory: a signal costs its name's characters in one text store, a view of
//   them (16 bytes), an entry of the used-name table (18) and of the
//   terminal index (15), and a byte for its constant value; the body of the
//   file is kept once and written after its header.
// Cost: O(gates + terminals) plus one string hash per name.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unordered_map>

#include "cdb/cdb_sgate.h"
#include "fio/fio.h"
#include "msg/msg.h"
#include "netlist_io/blif.h"
#include "netlist_io/blif_cells.h"
#include "netlist_io/netlist_io_int.h"
#include "netlist_io/sim_eval.h"
#include "netlist_io/sim_lcell.h"

namespace kavu_platform {
namespace {

// What one input terminal delivers.
struct OPERAND {
  enum KIND : uint8_t { SIGNAL, CONSTANT, NONE } m_kind = NONE;
  bool m_bit = false;    // SIGNAL: inverted; CONSTANT: the value
  uint32_t m_sig = 0;
};

// A gate's path in the writer's refusal is escaped and cut as the reader
// quotes a name of the file.
const size_t kMaxQuotedBytes = 80;

// Register input order used by the writer (plain registers' positions, then SCLR2).
enum { R_DATA, R_CLK, R_ACLR, R_PRESET, R_ENA, R_ADATA, R_ALOAD, R_SCLR, R_SLOAD, R_SCLR2, R_COUNT };

// A name as BLIF can carry it: the characters that would end a token, start a
// comment, split a binding or continue a line (every blank the reader splits
// tokens at: space, tab, form feed, vertical tab, CR, LF) become '\\' and two upper-case
// hex digits, which the reader turns back.
std::string escape(const std::string& s) {
  static const char HEX[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    if (c == ' ' || c == '\t' || c == '\f' || c == '\v' || c == '#' || c == '=' || c == '\\' || c == '\n' ||
        c == '\r') {
      out += '\\';
      out += HEX[(unsigned char)c >> 4];
      out += HEX[c & 15];
    } else {
      out += c;
    }
  }
  return out;
}

// False when the gate's output cannot be constant before one of its inputs
// is found constant: a LUT of a non-constant mask, a comb gate or a buffer
// over distinct driven inputs (no tie, no signal read twice). Other kinds
// and other cases are probed. Reads no signal table, so the first probe
// pass skips most gates at the cost of a look at their terminals.
bool may_be_constant(const CDB_SGATE_NODE* g) {
  const int type = g->get_sgate_type();
  if (type != CDB_SGATE_LUT_ENUM && type != CDB_SGATE_COMB_ENUM && type != CDB_SGATE_BUFFER_ENUM) return true;
  const unsigned n = g->get_number_of_input_terms();
  if (n == 0 || n > 6 || g->get_output_count() != 1) return true;
  const CDB_SGATE_OTERM* sources[6];
  for (unsigned k = 0; k < n; ++k) {
    const CDB_SGATE_ITERM* t = g->get_input_term(k);
    if (!t || !t->is_connected() || !t->get_source()) return true;
    sources[k] = t->get_source();
    for (unsigned j = 0; j < k; ++j)
      if (sources[j] == sources[k]) return true;
  }
  if (type != CDB_SGATE_LUT_ENUM) return false;
  const CDB_LUTMASK& mask = g->cast_to_lut()->get_lut_mask();
  if (mask.get_num_inputs() != n) return true;
  const uint64_t bits = mask.get_value() & cdb_lut_bitmask(n);
  return bits == 0 || bits == cdb_lut_bitmask(n);
}

// Output terminal → signal id: open addressing over two arrays (addresses
// and ids), sized once for the terminals of the netlist at 80 % load.
class OTERM_INDEX {
 public:
  void reserve(size_t n) {
    m_keys.assign(n + n / 4 + 16, nullptr);
    m_ids.assign(m_keys.size(), 0);
  }
  // Adds `o` (absent so far) with `id`.
  void add(const CDB_SGATE_OTERM* o, uint32_t id) {
    PLAT_CHECK(5 * (m_count + 1) <= 4 * m_keys.size(), "BLIF");
    size_t i = home(o);
    while (m_keys[i]) i = next(i);
    m_keys[i] = o;
    m_ids[i] = id;
    ++m_count;
  }
  // The id of `o`, or UINT32_MAX.
  uint32_t find(const CDB_SGATE_OTERM* o) const {
    if (m_keys.empty()) return UINT32_MAX;
    for (size_t i = home(o); m_keys[i]; i = next(i))
      if (m_keys[i] == o) return m_ids[i];
    return UINT32_MAX;
  }

 private:
  size_t home(const CDB_SGATE_OTERM* o) const {
    const uint64_t h = (uint64_t(uintptr_t(o)) >> 3) * 0x9e3779b97f4a7c15ull;
    return size_t((static_cast<unsigned __int128>(h) * m_keys.size()) >> 64);
  }
  size_t next(size_t i) const { return i + 1 == m_keys.size() ? 0 : i + 1; }
  std::vector<const CDB_SGATE_OTERM*> m_keys;
  std::vector<uint32_t> m_ids;
  size_t m_count = 0;
};

class BLIF_WRITER {
 public:
  BLIF_WRITER(const CDB_SGATE_NETLIST* netlist, const BLIF_WRITE_OPTIONS& options)
      : m_netlist(netlist), m_options(options) {}
  // The file is *head then body().
  bool run(std::string* head, std::string* error);
  const std::string& body() const { return m_body; }

 private:
  void collect_gates();
  // Gives every output terminal its signal id, in the order name_signals
  // names them.
  void number_signals();
  // Finds the constant signals (m_const), to a fixed point.
  void find_constants();
  void name_signals();
  // A name not used so far: `candidate`, else "candidate~k" with the
  // smallest such k; kept in the text store. With `from`, the search starts
  // at k = *from (0: the candidate itself), for a caller that knows the
  // smaller ones taken, and *from becomes one past the k used.
  std::string_view unique(std::string_view candidate, unsigned* from = nullptr);
  // The signal of an output terminal of the netlist.
  uint32_t sig_of(const CDB_SGATE_OTERM* o) const {
    const uint32_t id = m_sig_of.find(o);
    PLAT_CHECK(id != UINT32_MAX, "BLIF");
    return id;
  }
  OPERAND operand(const CDB_SGATE_ITERM* t) const;
  // Writes the gate's covers; while probing, only notes the outputs whose
  // function is constant (logic gates; other kinds are never constant).
  bool write_gate(const CDB_SGATE_NODE* g);
  // A constant signal (its value in *value), known by the probe.
  bool is_constant(uint32_t id, bool* value = nullptr) const {
    if (id >= m_const.size() || m_const[id] < 0) return false;
    if (value) *value = m_const[id] != 0;
    return true;
  }
  // The cover of `out_sig` (UINT32_MAX: a signal of no netlist terminal) has
  // the truth table tt over n leaves: while probing, a constant one is
  // noted; true when the cover is to be left out (probing, or a constant
  // signal, which has no cover).
  bool skip_cover(uint32_t out_sig, uint64_t tt, unsigned n);
  std::string_view stored_q_signal(const CDB_SGATE_NODE* g);
  bool write_register(const CDB_SGATE_NODE* g, const CDB_SGATE_ITERM* const* terms, bool sclr_over_ena, int init);
  bool write_full_register(const CDB_SGATE_NODE* g, const OPERAND* ops, bool sclr_over_ena, int init,
                           std::string_view q);
  bool write_latch(const CDB_SGATE_NODE* g);
  bool write_bus_operator(const CDB_SGATE_OPERATOR* op);
  // One cover per output of a logic cell that the cell rule defines; a cell
  // over more than six signals is split into its half functions first.
  bool write_lcell(const CDB_SGATE_WYSIWYG* atom);
  bool write_atom_subckt(const CDB_SGATE_WYSIWYG* atom);
  bool write_lcell_output(const SIM_LCELL& rule, uint16_t port, const OPERAND* ops, uint64_t out_xor,
                          std::string_view out, uint32_t out_sig);
  // A signal operand for the cover named `name` just written.
  OPERAND new_signal(std::string_view name) {
    m_sig_names.push_back(m_texts.keep(name));
    return {OPERAND::SIGNAL, false, uint32_t(m_sig_names.size() - 1)};
  }
  bool write_wide(CDB_COMB_TYPE type, const std::vector<OPERAND>& ops, bool out_inv, std::string_view out,
                  uint32_t out_sig = UINT32_MAX);
  void write_outputs();
  bool unsupported(const CDB_SGATE_NODE* g, const std::string& why);
  // Moves the cover written since `mark` to *later when the operands hold
  // no signal: a register's constant covers follow its other covers, as
  // the file read back (constants tied, other covers kept as gates in file
  // order) writes them again.
  void defer_constant_cover(size_t mark, const OPERAND* ops, unsigned n, std::string* later) {
    for (unsigned k = 0; k < n; ++k)
      if (ops[k].m_kind == OPERAND::SIGNAL) return;
    later->append(m_body, mark, std::string::npos);
    m_body.resize(mark);
  }
  // The name of a cover of constant `value` a cell's pin reads: a name no
  // signal holds ("$true", "$false" when free), its cover written once.
  std::string_view tie_signal(bool value);

  // The words of the operands for the word evaluator, each distinct signal
  // (at most six, else false) a projection; the signals in *leaves.
  static bool leaf_words(const OPERAND* ops, unsigned n, const uint64_t* inactive, uint32_t* leaves,
                         unsigned* count, uint64_t* words, uint8_t* present);
  // True when f is one value (*value) whatever the operands' distinct
  // signals hold; false too when they are more than six.
  template <class F>
  static bool constant_value(const OPERAND* ops, unsigned n, const uint64_t* inactive, F f, bool* value);
  // The signal f is, uninverted, over the operands' distinct signals, or
  // UINT32_MAX (a constant, an inversion, a function of several).
  template <class F>
  static uint32_t passed_leaf(const OPERAND* ops, unsigned n, const uint64_t* inactive, F f);
  // Tabulates f over the operands' distinct signals and writes the cover
  // (out_sig: the signal's id when it is a netlist terminal's, see
  // skip_cover); false when more than six distinct signals are read.
  template <class F>
  bool tabulate(const OPERAND* ops, unsigned n, const uint64_t* inactive, F f, uint64_t out_xor,
                std::string_view out, uint32_t out_sig = UINT32_MAX);
  // The name of a signal carrying f(ops): an existing leaf when f is one,
  // else a new cover named after `base`.
  template <class F>
  bool signal_for(const OPERAND* ops, unsigned n, const uint64_t* inactive, F f, const std::string& base,
                  std::string* name);
  void write_cover(const uint32_t* leaves, unsigned n, uint64_t tt, std::string_view out);
  std::string_view sig(uint32_t id) const { return m_sig_names[id]; }
  // The name a cover of signal `id` is written under: none while probing,
  // when the signals have no names yet.
  std::string_view cover_name(uint32_t id) const { return m_probing ? std::string_view() : sig(id); }
  // The id of a gate's k-th output's signal.
  uint32_t out_sig(const CDB_SGATE_NODE* g, unsigned k) const { return sig_of(g->get_output_term(k)); }

  const CDB_SGATE_NETLIST* m_netlist;
  BLIF_WRITE_OPTIONS m_options;
  std::vector<const CDB_SGATE_NODE*> m_gates;
  // Every name written, signals' and others', in one store; the used names
  // are interned over it.
  IO_TEXT_STORE m_texts;
  IO_NAME_TABLE m_used;
  std::vector<std::string_view> m_sig_names;
  OTERM_INDEX m_sig_of;
  uint32_t m_terminal_signals = 0;  // the ids number_signals gives
  // Per terminal signal: -1, or the constant value (0 or 1) of its function.
  std::vector<int8_t> m_const;
  bool m_probing = false;
  bool m_probe_found = false;  // a constant noted by the gate being probed
  std::unordered_map<std::string, const CDB_SGATE_NODE*> m_ports;  // port name → output pin
  std::vector<std::pair<const CDB_SGATE_NODE*, std::string>> m_out_pins;
  std::vector<std::string> m_inputs, m_outputs;
  std::vector<OPERAND> m_ops;
  // write_wide's scratch: the leaves, their literals and each signal's place.
  std::vector<uint32_t> m_wide_leaves;
  std::vector<char> m_wide_lit;
  std::vector<uint32_t> m_leaf_at;
  std::string_view m_tie[2];  // tie_signal's names, once written
  std::string m_body;
  std::string m_error;
};

// The gates, and room for every output terminal's signal in the tables.
void BLIF_WRITER::collect_gates() {
  size_t gates = 0, oterms = 0;
  for (auto it = m_netlist->begin_node_list(); it != m_netlist->end_node_list(); ++it)
    if (*it) ++gates, oterms += (*it)->get_output_count();
  m_gates.reserve(gates);
  for (auto it = m_netlist->begin_node_list(); it != m_netlist->end_node_list(); ++it)
    if (*it) m_gates.push_back(*it);
  m_sig_of.reserve(oterms);
  m_sig_names.reserve(oterms);
  m_used.reserve(oterms);
}

std::string_view BLIF_WRITER::unique(std::string_view candidate, unsigned* from) {
  unsigned k = from ? *from : 0;
  std::string name(candidate);
  if (k) name += "~" + std::to_string(k);
  while (m_used.find(name) != UINT32_MAX) name = std::string(candidate) + "~" + std::to_string(++k);
  if (from) *from = k + 1;
  const std::string_view kept = m_texts.keep(name);
  m_used.intern(kept);
  return kept;
}

// Input pins, then every other output terminal in node-list order, as
// name_signals names them (a terminal met twice keeps its first id).
void BLIF_WRITER::number_signals() {
  auto number = [&](const CDB_SGATE_OTERM* o) {
    if (!o) return;
    if (m_sig_of.find(o) == UINT32_MAX) m_sig_of.add(o, m_terminal_signals);
    ++m_terminal_signals;
  };
  for (const CDB_SGATE_NODE* g : m_gates)
    if (g->is_input() || g->is_bidir()) number(g->get_output_term(0));
  for (const CDB_SGATE_NODE* g : m_gates)
    if (!g->is_pin())
      for (unsigned k = 0; k < g->get_output_count(); ++k) number(g->get_output_term(k));
  m_const.assign(m_terminal_signals, -1);
}

// Every gate that may be constant once in node-list order, then again each
// reader of a signal found constant (an explicit stack): a gate is probed at
// most once more per input, and its last probe sees every constant it reads.
void BLIF_WRITER::find_constants() {
  std::vector<const CDB_SGATE_NODE*> stack;
  auto probe = [&](const CDB_SGATE_NODE* g) {
    m_probe_found = false;
    write_gate(g);
    if (!m_probe_found) return;
    for (unsigned k = 0; k < g->get_output_count(); ++k) {
      const CDB_SGATE_OTERM* o = g->get_output_term(k);
      if (!o || !is_constant(sig_of(o))) continue;
      for (const CDB_SGATE_ITERM* t : o->fanouts())
        if (!t->get_my_node()->is_pin()) stack.push_back(t->get_my_node());
    }
  };
  m_probing = true;
  for (const CDB_SGATE_NODE* g : m_gates)
    if (!g->is_pin() && may_be_constant(g)) probe(g);
  while (!stack.empty()) {
    const CDB_SGATE_NODE* g = stack.back();
    stack.pop_back();
    probe(g);
  }
  m_probing = false;
}

bool BLIF_WRITER::skip_cover(uint32_t out_sig, uint64_t tt, unsigned n) {
  if (!m_probing) return is_constant(out_sig);
  if (out_sig < m_const.size() && m_const[out_sig] < 0 && (tt == 0 || tt == cdb_lut_bitmask(n))) {
    m_const[out_sig] = tt != 0;
    m_probe_found = true;
  }
  return true;
}

// Output ports first (they keep their pins' names), then input pins, then
// every other output terminal in node-list order (the ids number_signals
// gave). A constant signal takes no name: nothing refers to it.
void BLIF_WRITER::name_signals() {
  for (const CDB_SGATE_NODE* g : m_gates) {
    if (!g->is_output()) continue;
    std::string n = escape(io_signal_path(g->get_instance_name()));
    if (n.empty() && g->get_string_name()) n = escape(g->get_string_name());
    if (n.empty()) n = "$out" + std::to_string(g->get_debug_number());
    n = std::string(unique(n));
    m_ports.emplace(n, g);
    m_out_pins.emplace_back(g, n);
  }
  std::unordered_map<const CDB_SGATE_NODE*, const std::string*> port_of;
  for (const auto& [pin, name] : m_out_pins) port_of.emplace(pin, &name);
  auto name_oterm = [&](const CDB_SGATE_NODE* g, unsigned k) {
    const CDB_SGATE_OTERM* o = g->get_output_term(k);
    if (!o) return;
    if (is_constant(sig_of(o))) {
      m_sig_names.emplace_back();
      return;
    }
    std::string c = escape(io_signal_path(o->get_instance_name()));
    if (c.empty() && (o == g->get_preferred_oterm() || k == 0)) c = escape(io_signal_path(g->get_instance_name()));
    if (c.empty() && k == 0 && g->get_string_name()) c = escape(g->get_string_name());
    if (c.empty()) {
      // An unnamed signal read by an output port takes the port's name, so no
      // buffer is needed.
      for (const CDB_SGATE_ITERM* t : o->fanouts()) {
        const CDB_SGATE_NODE* reader = t->get_my_node();
        if (!reader->is_output() || t->is_inverted()) continue;
        auto p = port_of.find(reader);
        if (p != port_of.end() && m_ports.at(*p->second)) {
          c = *p->second;
          break;
        }
      }
    }
    if (c.empty()) c = "$n" + std::to_string(g->get_debug_number()) + "_" + std::to_string(k);
    auto port = m_ports.find(c);
    std::string_view name;
    if (port != m_ports.end() && port->second) {
      const CDB_SGATE_ITERM* t = port->second->get_input_term(0);
      if (t && t->get_source() == o && !t->is_inverted()) {
        name = m_texts.keep(c);  // the port is this signal itself
        port->second = nullptr;
      }
    }
    if (name.empty()) name = unique(c);
    m_sig_names.push_back(name);
  };
  for (const CDB_SGATE_NODE* g : m_gates)
    if (g->is_input() || g->is_bidir()) name_oterm(g, 0);
  for (const CDB_SGATE_NODE* g : m_gates)
    if (!g->is_pin())
      for (unsigned k = 0; k < g->get_output_count(); ++k) name_oterm(g, k);
}

OPERAND BLIF_WRITER::operand(const CDB_SGATE_ITERM* t) const {
  OPERAND op;
  if (!t || !t->is_connected()) return op;
  if (const CDB_SGATE_OTERM* src = t->get_source()) {
    const uint32_t id = m_sig_of.find(src);
    if (id == UINT32_MAX) return op;  // a source outside the netlist reads as unconnected
    bool value = false;
    if (is_constant(id, &value)) {
      op.m_kind = OPERAND::CONSTANT;
      op.m_bit = value != t->is_inverted();
      return op;
    }
    op.m_kind = OPERAND::SIGNAL;
    op.m_sig = id;
    op.m_bit = t->is_inverted();
  } else {
    op.m_kind = OPERAND::CONSTANT;
    op.m_bit = t->is_vcc();
  }
  return op;
}

// Writes ".names leaves… out" with minterm rows; inputs f ignores are dropped.
void BLIF_WRITER::write_cover(const uint32_t* leaves_in, unsigned n, uint64_t tt, std::string_view out) {
  uint32_t leaves[6];
  std::copy(leaves_in, leaves_in + n, leaves);
  for (unsigned i = n; i-- > 0;) {
    CDB_LUTMASK m;
    m.set_value(n, tt);
    if (!m.is_independent_of(i)) continue;
    uint64_t packed = 0;  // the cofactor over the remaining n - 1 inputs
    for (unsigned r = 0; r < (1u << (n - 1)); ++r) {
      unsigned low = r & ((1u << i) - 1), high = (r >> i) << (i + 1);
      packed |= ((tt >> (high | low)) & 1) << r;
    }
    tt = packed;
    for (unsigned j = i; j + 1 < n; ++j) leaves[j] = leaves[j + 1];
    --n;
  }
  m_body += ".names";
  for (unsigned i = 0; i < n; ++i) m_body += ' ', m_body += sig(leaves[i]);
  m_body += ' ';
  m_body += out;
  m_body += '\n';
  unsigned size = 1u << n, ones = unsigned(__builtin_popcountll(tt & cdb_lut_bitmask(n)));
  if (ones == 0) return;  // no rows: constant 0
  if (n == 0) {
    m_body += "1\n";
    return;
  }
  bool onset = ones <= size - ones;
  for (unsigned m = 0; m < size; ++m) {
    if (((tt >> m) & 1) != (onset ? 1u : 0u)) continue;
    for (unsigned i = 0; i < n; ++i) m_body += (m >> i) & 1 ? '1' : '0';
    m_body += onset ? " 1\n" : " 0\n";
  }
}

bool BLIF_WRITER::leaf_words(const OPERAND* ops, unsigned n, const uint64_t* inactive, uint32_t* leaves,
                             unsigned* count, uint64_t* words, uint8_t* present) {
  unsigned nl = 0;
  for (unsigned k = 0; k < n; ++k) {
    present[k] = ops[k].m_kind != OPERAND::NONE;
    if (ops[k].m_kind == OPERAND::NONE) {
      words[k] = inactive ? inactive[k] : SIM_ALL;
    } else if (ops[k].m_kind == OPERAND::CONSTANT) {
      words[k] = ops[k].m_bit ? SIM_ALL : 0;
    } else {
      unsigned j = 0;
      while (j < nl && leaves[j] != ops[k].m_sig) ++j;
      if (j == nl) {
        if (nl == 6) return false;
        leaves[nl++] = ops[k].m_sig;
      }
      words[k] = CDB_LUTMASK::imask(6, j).get_value() ^ (ops[k].m_bit ? SIM_ALL : 0);
    }
  }
  *count = nl;
  return true;
}

template <class F>
bool BLIF_WRITER::tabulate(const OPERAND* ops, unsigned n, const uint64_t* inactive, F f, uint64_t out_xor,
                           std::string_view out, uint32_t out_sig) {
  uint32_t leaves[6];
  unsigned nl = 0;
  uint64_t words[R_COUNT + 8];
  uint8_t present[R_COUNT + 8];
  if (!leaf_words(ops, n, inactive, leaves, &nl, words, present)) return false;
  const uint64_t tt = (f(words, present) ^ out_xor) & cdb_lut_bitmask(nl);
  if (!skip_cover(out_sig, tt, nl)) write_cover(leaves, nl, tt, out);
  return true;
}

template <class F>
bool BLIF_WRITER::constant_value(const OPERAND* ops, unsigned n, const uint64_t* inactive, F f, bool* value) {
  uint32_t leaves[6];
  unsigned nl = 0;
  uint64_t words[R_COUNT + 8];
  uint8_t present[R_COUNT + 8];
  if (!leaf_words(ops, n, inactive, leaves, &nl, words, present)) return false;
  const uint64_t tt = f(words, present) & cdb_lut_bitmask(nl);
  *value = tt != 0;
  return tt == 0 || tt == cdb_lut_bitmask(nl);
}

// The leaf words are projections over six variables, so f is one leaf
// exactly when its whole word is that leaf's projection.
template <class F>
uint32_t BLIF_WRITER::passed_leaf(const OPERAND* ops, unsigned n, const uint64_t* inactive, F f) {
  uint32_t leaves[6];
  unsigned nl = 0;
  uint64_t words[R_COUNT + 8];
  uint8_t present[R_COUNT + 8];
  if (!leaf_words(ops, n, inactive, leaves, &nl, words, present)) return UINT32_MAX;
  const uint64_t tt = f(words, present);
  for (unsigned j = 0; j < nl; ++j)
    if (tt == CDB_LUTMASK::imask(6, j).get_value()) return leaves[j];
  return UINT32_MAX;
}

template <class F>
bool BLIF_WRITER::signal_for(const OPERAND* ops, unsigned n, const uint64_t* inactive, F f, const std::string& base,
                             std::string* name) {
  // A single uninverted signal passed through needs no cover.
  uint32_t leaf = UINT32_MAX;
  unsigned signals = 0;
  for (unsigned k = 0; k < n; ++k)
    if (ops[k].m_kind == OPERAND::SIGNAL) ++signals, leaf = ops[k].m_sig;
  if (signals == 1) {
    uint64_t words[R_COUNT + 8];
    uint8_t present[R_COUNT + 8];
    for (unsigned k = 0; k < n; ++k) {
      present[k] = ops[k].m_kind != OPERAND::NONE;
      words[k] = ops[k].m_kind == OPERAND::SIGNAL     ? (ops[k].m_bit ? ~0xaaaaaaaaaaaaaaaaull : 0xaaaaaaaaaaaaaaaaull)
                 : ops[k].m_kind == OPERAND::CONSTANT ? (ops[k].m_bit ? SIM_ALL : 0)
                                                      : (inactive ? inactive[k] : SIM_ALL);
    }
    if (f(words, present) == 0xaaaaaaaaaaaaaaaaull) {
      *name = sig(leaf);
      return true;
    }
  }
  *name = unique(base);
  return tabulate(ops, n, inactive, f, 0, *name);
}

// AND, OR, XOR (and tri-state buses as OR) over more than six signals.
// Each signal's place among the leaves is found through m_leaf_at (indexed
// by signal, UINT32_MAX where absent), so the gate costs O(width); an XOR
// pair that cancels leaves a hole, closed once the inputs are read, which
// keeps the leaves in the order of first use after the last cancel.
bool BLIF_WRITER::write_wide(CDB_COMB_TYPE type, const std::vector<OPERAND>& ops, bool out_inv, std::string_view out,
                             uint32_t out_sig) {
  std::vector<uint32_t>& leaves = m_wide_leaves;
  std::vector<char>& lit = m_wide_lit;  // '1' or '0' per leaf, 0 for a hole
  leaves.clear();
  lit.clear();
  const size_t signals = std::max<size_t>(m_sig_names.size(), m_terminal_signals);
  if (m_leaf_at.size() < signals) m_leaf_at.resize(signals, UINT32_MAX);
  bool constant = false, value = false, parity = out_inv;
  for (const OPERAND& op : ops) {
    if (op.m_kind == OPERAND::NONE) continue;
    if (op.m_kind == OPERAND::CONSTANT) {
      if (type == CDB_COMB_XOR) parity ^= op.m_bit;
      else if (op.m_bit == (type == CDB_COMB_OR)) constant = true, value = op.m_bit;
      continue;
    }
    uint32_t& at = m_leaf_at[op.m_sig];
    char c = op.m_bit ? '0' : '1';
    if (at == UINT32_MAX) {
      at = uint32_t(leaves.size());
      leaves.push_back(op.m_sig);
      lit.push_back(c);
    } else if (type == CDB_COMB_XOR) {
      // x ^ x = 0, x ^ !x = 1: the pair cancels into a constant.
      parity ^= lit[at] != c;
      lit[at] = 0;
      at = UINT32_MAX;
    } else if (lit[at] != c) {
      constant = true, value = type == CDB_COMB_OR;  // x & !x, x | !x
    }
  }
  size_t kept = 0;
  for (size_t i = 0; i < leaves.size(); ++i) {
    if (!lit[i]) continue;
    m_leaf_at[leaves[i]] = UINT32_MAX;  // every entry is absent again for the next gate
    leaves[kept] = leaves[i];
    lit[kept++] = lit[i];
  }
  leaves.resize(kept);
  lit.resize(kept);
  if (leaves.empty() && !constant) {
    constant = true;
    value = type == CDB_COMB_AND;  // XOR of constants: parity alone
  }
  if (constant) {
    bool v = type == CDB_COMB_XOR ? parity : value != out_inv;
    if (skip_cover(out_sig, v, 0)) return true;
    m_body += ".names ";
    m_body += out;
    m_body += v ? "\n1\n" : "\n";
    return true;
  }
  if (m_probing) return true;  // a function of its leaves, not constant
  if (type == CDB_COMB_XOR) {
    // Chain of parity covers, five new signals and the running sum each.
    // The sums are "<out>$x", "<out>$x~1", …: the search for a free suffix
    // goes on from the last one taken.
    const std::string sum_name = std::string(out) + "$x";
    unsigned suffix = 0;
    bool first = true;
    size_t i = 0;
    while (true) {
      OPERAND chunk[6];
      unsigned n = 0;
      if (!first) chunk[n++] = {OPERAND::SIGNAL, false, uint32_t(m_sig_names.size() - 1)};
      while (n < 6 && i < leaves.size()) chunk[n++] = {OPERAND::SIGNAL, lit[i] == '0', leaves[i]}, ++i;
      bool last = i == leaves.size();
      const std::string_view name = last ? out : unique(sum_name, &suffix);
      auto parity_fn = [&](const uint64_t* w, const uint8_t* p) { return sim_comb_word(CDB_COMB_XOR, w, p, n); };
      tabulate(chunk, n, nullptr, parity_fn, last && parity ? SIM_ALL : 0, name);
      if (last) return true;
      m_sig_names.push_back(name);
      first = false;
    }
  }
  // One row, which keeps the file linear in the gate's width: an AND of the
  // literals (of their complements for OR). Where the output is that row's
  // complement (NAND, OR), the row goes to "<out>$and" and an inverter
  // drives the output: the two gates the file read back gives again (an
  // off-set row would read back as them, and change once).
  const bool inverter = (type == CDB_COMB_OR) != out_inv;
  const std::string_view row_out = inverter ? unique(std::string(out) + "$and") : out;
  m_body += ".names";
  for (uint32_t l : leaves) m_body += ' ', m_body += sig(l);
  m_body += ' ';
  m_body += row_out;
  m_body += '\n';
  if (type == CDB_COMB_OR)
    for (char& c : lit) c = c == '1' ? '0' : '1';
  m_body.append(lit.begin(), lit.end());
  m_body += " 1\n";
  if (inverter) {
    m_body += ".names ";
    m_body += row_out;
    m_body += ' ';
    m_body += out;
    m_body += "\n0 1\n";
  }
  return true;
}

bool BLIF_WRITER::unsupported(const CDB_SGATE_NODE* g, const std::string& why) {
  if (m_probing) return false;  // the write says it
  if (!m_options.cut_unsupported) {
    if (m_error.empty())
      m_error = "cannot write gate " + msg_printable_text(g->get_string_hpath(), kMaxQuotedBytes) + ": " + why;
    return false;
  }
  // The gate's outputs become primary inputs, its connected inputs primary
  // outputs. A constant output has no signal: its readers took the constant.
  for (unsigned k = 0; k < g->get_output_count(); ++k)
    if (const CDB_SGATE_OTERM* o = g->get_output_term(k); o && !is_constant(sig_of(o)))
      m_inputs.emplace_back(sig(sig_of(o)));
  for (unsigned k = 0; k < g->get_number_of_input_terms(); ++k) {
    OPERAND op = operand(g->get_input_term(k));
    if (op.m_kind == OPERAND::NONE) continue;
    const std::string_view name = unique(escape(g->get_string_hpath()) + "~in" + std::to_string(k));
    tabulate(&op, 1, nullptr, [](const uint64_t* w, const uint8_t*) { return w[0]; }, 0, name);
    m_outputs.emplace_back(name);
  }
  return true;
}

bool BLIF_WRITER::write_gate(const CDB_SGATE_NODE* g) {
  auto pass = [](const uint64_t* w, const uint8_t*) { return w[0]; };
  auto out_xor = [&](unsigned k) { return g->get_output_term(k)->is_inverted() ? SIM_ALL : 0; };
  auto out_name = [&](unsigned k) { return cover_name(out_sig(g, k)); };
  std::vector<OPERAND>& ops = m_ops;  // reused from gate to gate
  ops.clear();
  for (unsigned k = 0; k < g->get_number_of_input_terms(); ++k) ops.push_back(operand(g->get_input_term(k)));
  if (ops.empty()) ops.push_back(OPERAND());
  switch (g->get_sgate_type()) {
    case CDB_SGATE_BUFFER_ENUM:
    case CDB_SGATE_STATE_ENUM:
    case CDB_SGATE_BOUNDARY_ENUM:
    case CDB_SGATE_IO_BUF_ENUM:
      return tabulate(ops.data(), 1, nullptr, pass, out_xor(0), out_name(0), out_sig(g, 0));
    case CDB_SGATE_COMB_ENUM:
    case CDB_SGATE_TRI_BUS_ENUM: {
      CDB_COMB_TYPE type = g->cast_to_comb() ? g->cast_to_comb()->get_comb_type() : CDB_COMB_OR;
      auto f = [&](const uint64_t* w, const uint8_t* p) { return sim_comb_word(type, w, p, unsigned(ops.size())); };
      if (ops.size() <= R_COUNT + 8 &&
          tabulate(ops.data(), unsigned(ops.size()), nullptr, f, out_xor(0), out_name(0), out_sig(g, 0)))
        return true;
      if (type == CDB_COMB_NOT || type == CDB_COMB_NAME_KEEPER) return unsupported(g, "too many inputs");
      return write_wide(type, ops, out_xor(0) != 0, out_name(0), out_sig(g, 0));
    }
    case CDB_SGATE_LUT_ENUM: {
      const CDB_LUTMASK& mask = g->cast_to_lut()->get_lut_mask();
      unsigned n = mask.get_num_inputs();
      ops.resize(std::max<size_t>(ops.size(), n));
      auto f = [&](const uint64_t* w, const uint8_t*) { return sim_lut_word(mask.get_value(), n, w); };
      return tabulate(ops.data(), n, nullptr, f, out_xor(0), out_name(0), out_sig(g, 0));
    }
    case CDB_SGATE_MUX_ENUM: {
      ops.resize(std::max<size_t>(ops.size(), 3));
      auto f = [](const uint64_t* w, const uint8_t*) { return sim_mux_word(w[0], w[1], w[2]); };
      return tabulate(ops.data(), 3, nullptr, f, out_xor(0), out_name(0), out_sig(g, 0));
    }
    case CDB_SGATE_CARRY_SUM_ENUM:
      ops.resize(std::max<size_t>(ops.size(), 2));
      for (unsigned k = 0; k < 2 && k < g->get_output_count(); ++k)
        if (g->get_output_term(k)) tabulate(&ops[k], 1, nullptr, pass, out_xor(k), out_name(k), out_sig(g, k));
      return true;
    case CDB_SGATE_DFF_ENUM: {
      if (m_probing) return true;
      const CDB_SGATE_ITERM* terms[R_COUNT] = {};
      for (unsigned k = 0; k < CDB_DFF_NUM_PORTS; ++k) terms[k] = g->get_input_term(k);
      const CDB_REG_FLAGS* flags = g->get_reg_flags();
      return write_register(g, terms, flags->sclr_over_ena_priority(), blif_get_power_up(flags));
    }
    case CDB_SGATE_LATCH_ENUM:
      return m_probing || write_latch(g);
    default:
      break;
  }
  const CDB_SGATE_WYSIWYG* atom = g->is_wysiwyg() ? g->cast_to_wysiwyg() : nullptr;
  if (atom && m_options.atoms_as_subckt && !atom->get_catalogue_entry().is_generic() &&
      !atom->get_catalogue_entry().ports_on_demand())
    return m_probing || write_atom_subckt(atom);  // a cell, never a constant signal
  if (atom && atom->is_ff()) {
    if (m_probing) return true;
    const uint16_t ports[R_COUNT] = {DB_PORT_DATAIN, DB_PORT_CLK,   DB_PORT_ACLR, DB_PORT_PRESET, DB_PORT_ENA,
                                     DB_PORT_ASDATA, DB_PORT_ALOAD, DB_PORT_SCLR, DB_PORT_SLOAD,  DB_PORT_SCLR2};
    const CDB_SGATE_ITERM* terms[R_COUNT];
    for (unsigned k = 0; k < R_COUNT; ++k) terms[k] = atom->get_iterm_by_type(ports[k], 0);
    const CDB_REG_FLAGS* flags = g->get_reg_flags();
    return write_register(g, terms, flags->sclr_over_ena_priority(), blif_get_power_up(flags));
  }
  if (atom && (atom->is_lcell_comb() || atom->is_logic_module())) return write_lcell(atom);
  if (const CDB_SGATE_OPERATOR* op = g->cast_to_operator();
      op && (op->get_type() == CDB_OPER_BUS_IN || op->get_type() == CDB_OPER_BUS_OUT))
    return write_bus_operator(op);
  return unsupported(g, std::string("no BLIF form for ") + g->get_string_type_name() + " gates");
}

// A bus operator is wiring: output bit i reads input bit i of port A (of B
// when there is no A), as the simulator has it (sim_oper.h): a bit past the
// input's width reads its top bit when the operator is signed, else 0; an
// empty bit reads 0 and an unconnected terminal 1. Each output bit with a
// terminal becomes a one-input cover.
bool BLIF_WRITER::write_bus_operator(const CDB_SGATE_OPERATOR* op) {
  const CDB_SGATE_OPER_PORT_ENTRY* in = op->get_port(CDB_OPER_PORT_A);
  if (!in) in = op->get_port(CDB_OPER_PORT_B);
  const unsigned width = in ? in->get_width() : 0;
  auto pass = [](const uint64_t* w, const uint8_t*) { return w[0]; };
  auto bit = [&](unsigned i) {
    if (width == 0) return OPERAND{OPERAND::CONSTANT, false, 0};
    if (i >= width) {
      if (!op->is_signed()) return OPERAND{OPERAND::CONSTANT, false, 0};
      i = width - 1;
    }
    const CDB_SGATE_ITERM* t = in->get_iterm(i);
    return t ? operand(t) : OPERAND{OPERAND::CONSTANT, false, 0};
  };
  auto write_out = [&](const CDB_SGATE_OTERM* o, OPERAND src) {
    if (!o) return;
    const uint32_t id = sig_of(o);
    tabulate(&src, 1, nullptr, pass, o->is_inverted() ? SIM_ALL : 0, cover_name(id), id);
  };
  if (const CDB_SGATE_OPER_PORT_ENTRY* out = op->get_port(CDB_OPER_PORT_O))
    for (unsigned i = 0; i < out->get_width(); ++i) write_out(out->get_oterm(i), bit(i));
  if (const CDB_SGATE_OPER_PORT_ENTRY* cout = op->get_port(CDB_OPER_PORT_COUT))
    write_out(cout->get_oterm(0), OPERAND{OPERAND::CONSTANT, false, 0});
  return true;
}

std::string_view BLIF_WRITER::tie_signal(bool value) {
  if (m_tie[value].empty()) {
    m_tie[value] = unique(value ? "$true" : "$false");
    m_body += ".names ";
    m_body += m_tie[value];
    m_body += value ? "\n1\n" : "\n";
  }
  return m_tie[value];
}

// ".subckt name PORT=signal …": an inverted input reads a new inverter
// cover, an inverted output drives one; a tied input reads a constant
// cover (tie_signal), written before the cell as the file read back (its
// pin tied again) writes it, where the inverters, kept as gates, follow.
bool BLIF_WRITER::write_atom_subckt(const CDB_SGATE_WYSIWYG* atom) {
  const ATOM_CATALOGUE_ENTRY& row = atom->get_catalogue_entry();
  std::string line = std::string(".subckt ") + row.m_name;
  std::string covers;
  // A refusal takes back a tie cover written for this cell.
  const size_t mark = m_body.size();
  const std::string_view ties[2] = {m_tie[0], m_tie[1]};
  auto refuse = [&](const char* why) {
    m_body.resize(mark);
    m_tie[0] = ties[0], m_tie[1] = ties[1];
    return unsupported(atom, why);
  };
  for (const ATOM_PORT& p : row.m_inputs) {
    if (p.m_width != 1) return refuse("a multi-bit port in .subckt form");
    const char* name = atom_input_port_name(p.m_port_type);
    const OPERAND op = operand(atom->get_iterm_by_type(p.m_port_type, 0));
    if (op.m_kind == OPERAND::NONE) continue;
    if (!name) return refuse("an unnamed port in .subckt form");
    std::string actual(op.m_kind == OPERAND::CONSTANT ? tie_signal(op.m_bit) : sig(op.m_sig));
    if (op.m_kind == OPERAND::SIGNAL && op.m_bit) {
      const std::string inv(unique(actual + "$n"));
      covers += ".names " + actual + " " + inv + "\n0 1\n";
      actual = inv;
    }
    line += std::string(" ") + name + "=" + actual;
  }
  for (const ATOM_PORT& p : row.m_outputs) {
    const CDB_SGATE_OTERM* o = atom->get_oterm_by_type(p.m_port_type, 0);
    if (!o) continue;
    const char* name = atom_output_port_name(p.m_port_type);
    if (p.m_width != 1 || !name) return refuse("an unnamed or multi-bit port in .subckt form");
    std::string actual(sig(sig_of(o)));
    if (o->is_inverted()) {
      const std::string raw(unique(actual + "$raw"));
      covers += ".names " + raw + " " + actual + "\n0 1\n";
      actual = raw;
    }
    line += std::string(" ") + name + "=" + actual;
  }
  m_body += line + "\n";
  char hex[20];
  std::snprintf(hex, sizeof hex, "%016llX", static_cast<unsigned long long>(atom->get_lutmask_value()));
  m_body += std::string(".param LUTMASK ") + hex + "\n";
  for (unsigned m = 0; m < CDB_WYSIWYG_NUM_MODES; ++m)
    if (atom->mode_is_set(m)) m_body += ".param MODE " + std::to_string(m) + "\n";
  m_body += covers;
  return true;
}

bool BLIF_WRITER::write_lcell(const CDB_SGATE_WYSIWYG* atom) {
  const SIM_LCELL rule = sim_lcell_of(atom);
  OPERAND ops[LC_COUNT];
  for (unsigned k = 0; k < LC_COUNT; ++k) ops[k] = operand(atom->get_iterm_by_type(sim_lcell_port(k), 0));
  for (unsigned k = 0; k < atom->get_output_count(); ++k) {
    const CDB_SGATE_OTERM* o = atom->get_output_term(k);
    uint16_t port = 0;
    uint64_t probe[LC_COUNT] = {};
    if (!o) continue;
    if (!atom->get_catalogue_entry().output_port_of_slot(k, &port, nullptr) ||
        !sim_lcell_output(rule, port, probe, &probe[0])) {
      if (o->has_fanout()) return unsupported(atom, "an output the logic-cell rule does not define");
      continue;
    }
    const uint32_t id = sig_of(o);
    if (!write_lcell_output(rule, port, ops, o->is_inverted() ? SIM_ALL : 0, cover_name(id), id)) return false;
  }
  return true;
}

bool BLIF_WRITER::write_lcell_output(const SIM_LCELL& rule, uint16_t port, const OPERAND* ops, uint64_t out_xor,
                                     std::string_view out, uint32_t out_sig) {
  uint64_t inactive[LC_COUNT];
  for (unsigned k = 0; k < LC_COUNT; ++k) inactive[k] = sim_lcell_inactive(k);
  auto whole = [&](const uint64_t* w, const uint8_t*) {
    uint64_t v = 0;
    sim_lcell_output(rule, port, w, &v);
    return v;
  };
  if (tabulate(ops, LC_COUNT, inactive, whole, out_xor, out, out_sig)) return true;
  // More than six signals: name the half functions, then combine them. A
  // half whose function is constant is that constant, named by no cover, so
  // a combination of constants is a constant as a cover over six signals
  // would be (the file read back folds constant halves: written as covers,
  // they changed the next write). While probing, a half that is not
  // constant stands as a signal of its own that no cover names.
  uint32_t probe_signal = UINT32_MAX;
  auto part = [&](std::initializer_list<unsigned> idx, uint64_t mask, unsigned lo, unsigned n, OPERAND* result) {
    OPERAND sub[6];
    uint64_t sub_inactive[6];
    unsigned m = 0;
    for (unsigned i : idx) sub_inactive[m] = inactive[i], sub[m++] = ops[i];
    auto f = [&](const uint64_t* w, const uint8_t*) { return sim_lut_word((mask >> lo) & cdb_lut_bitmask(n), n, w); };
    bool value = false;
    if (constant_value(sub, m, sub_inactive, f, &value)) {
      *result = {OPERAND::CONSTANT, value, 0};
      return true;
    }
    if (m_probing) {
      *result = {OPERAND::SIGNAL, false, probe_signal--};
      return true;
    }
    std::string name;
    if (!signal_for(sub, m, sub_inactive, f, std::string(out) + "$h", &name)) return false;
    *result = new_signal(name);
    return true;
  };
  OPERAND lo, hi, sel;
  const uint64_t mask = rule.m_mask;
  if (port == DB_PORT_SHAREOUT || (port == DB_PORT_COMBOUT && !rule.m_extended)) {
    const unsigned n = port == DB_PORT_SHAREOUT ? 4 : 6;
    const uint64_t bits = port == DB_PORT_SHAREOUT ? (mask >> 32) & 0xFFFFull : mask;
    auto f = [&](const uint64_t* w, const uint8_t*) { return sim_lut_word(bits, n, w); };
    return tabulate(ops, n, inactive, f, out_xor, out, out_sig);
  }
  if (port == DB_PORT_COMBOUT) {
    if (rule.m_quellin) {
      if (!part({LC_A, LC_B, LC_C, LC_D, LC_E}, mask, 0, 5, &lo) || !part({LC_A, LC_B, LC_F, LC_G, LC_E}, mask, 32, 5, &hi))
        return false;
      sel = ops[LC_CIN];
    } else {
      // e = 0: M over (a, b, c, d, f) with e fixed; e = 1 likewise with g for c.
      uint64_t m0 = 0, m1 = 0;
      for (unsigned m = 0; m < 32; ++m) {
        unsigned full = (m & 15) | ((m & 16) << 1);
        m0 |= ((mask >> full) & 1) << m;
        m1 |= ((mask >> (full | 16)) & 1) << m;
      }
      if (!part({LC_A, LC_B, LC_C, LC_D, LC_F}, m0, 0, 5, &lo) || !part({LC_A, LC_B, LC_G, LC_D, LC_F}, m1, 0, 5, &hi))
        return false;
      sel = ops[LC_E];
    }
    const OPERAND three[3] = {lo, hi, sel};
    // An unconnected select reads as its input does: CIN 0, E 1.
    const uint64_t three_inactive[3] = {SIM_ALL, SIM_ALL, inactive[rule.m_quellin ? LC_CIN : LC_E]};
    auto mux = [](const uint64_t* w, const uint8_t*) { return sim_mux_word(w[0], w[1], w[2]); };
    return tabulate(three, 3, three_inactive, mux, out_xor, out, out_sig);
  }
  // Arithmetic: the two addends (or propagate and generate), then the carry input.
  OPERAND x;
  if (!part({LC_A, LC_B, LC_C, LC_D}, mask, 0, 4, &lo)) return false;
  if (rule.m_quellin) {
    if (!part({LC_A, LC_B, LC_C, LC_D}, mask, 16, 4, &hi)) return false;
    x = ops[LC_SHAREIN];
  } else if (rule.m_shared_arith) {
    hi = ops[LC_SHAREIN];
    x = ops[LC_CIN];
  } else {
    if (!part({LC_A, LC_B, LC_C, LC_F}, mask, 32, 4, &hi)) return false;
    hi.m_bit = !hi.m_bit;
    x = ops[LC_CIN];
  }
  const OPERAND three[3] = {lo, hi, x};
  const uint64_t three_inactive[3] = {SIM_ALL, rule.m_quellin ? SIM_ALL : 0, 0};
  auto arith = [&](const uint64_t* w, const uint8_t*) {
    if (rule.m_quellin) return port == DB_PORT_SUMOUT ? w[0] ^ w[2] : sim_mux_word(w[1], w[2], w[0]);
    return port == DB_PORT_SUMOUT ? w[0] ^ w[1] ^ w[2] : (w[0] & w[1]) | (w[0] & w[2]) | (w[1] & w[2]);
  };
  return tabulate(three, 3, three_inactive, arith, out_xor, out, out_sig);
}

// The signal a register or latch stores: its output's name, or when the
// output is inverted a fresh signal whose complement a cover drives onto
// that name (readers see the complement of the stored value). A flip-flop
// atom read without its output (the reader takes any subset of a device
// cell's ports) stores into a fresh signal that nothing reads.
std::string_view BLIF_WRITER::stored_q_signal(const CDB_SGATE_NODE* g) {
  const CDB_SGATE_OTERM* qo = g->get_single_oterm();
  if (!qo) {
    std::string base = escape(io_signal_path(g->get_instance_name()));
    return unique((base.empty() ? "$n" + std::to_string(g->get_debug_number()) : base) + "$q");
  }
  const std::string_view qname = sig(sig_of(qo));
  if (!qo->is_inverted()) return qname;
  const std::string_view raw = unique(std::string(qname) + "$raw");
  m_body += ".names ";
  m_body += raw;
  m_body += ' ';
  m_body += qname;
  m_body += "\n0 1\n";
  return raw;
}

// ".latch next q re clk init" with enable, synchronous clear and load folded
// into the cover of next; asynchronous controls need $dff_full.
bool BLIF_WRITER::write_register(const CDB_SGATE_NODE* g, const CDB_SGATE_ITERM* const* terms, bool sclr_over_ena,
                                 int init) {
  OPERAND ops[R_COUNT + 1];
  for (unsigned k = 0; k < R_COUNT; ++k) ops[k] = operand(terms[k]);
  auto active = [&](unsigned k) {
    return ops[k].m_kind == OPERAND::SIGNAL || (ops[k].m_kind == OPERAND::CONSTANT && ops[k].m_bit);
  };
  const std::string_view raw = stored_q_signal(g);
  if (active(R_ACLR) || active(R_PRESET) || active(R_ALOAD)) {
    if (!m_options.full_registers) return unsupported(g, "asynchronous register controls");
    return write_full_register(g, ops, sclr_over_ena, init, raw);
  }
  // Next state over DATA, ENA, SCLR, SLOAD, ADATA, SCLR2 and the stored value.
  m_sig_names.push_back(raw);
  ops[R_COUNT] = {OPERAND::SIGNAL, false, uint32_t(m_sig_names.size() - 1)};
  const uint64_t inactive[R_COUNT + 1] = {SIM_ALL, 0, 0, 0, SIM_ALL, SIM_ALL, 0, 0, 0, 0, 0};
  auto next = [&](const uint64_t* w, const uint8_t*) {
    SIM_REG_SYNC c;
    c.m_data = w[R_DATA];
    c.m_ena = w[R_ENA];
    c.m_sclr = w[R_SCLR] | w[R_SCLR2];
    c.m_sload = w[R_SLOAD];
    c.m_adata = w[R_ADATA];
    c.m_sclr_over_ena = sclr_over_ena;
    return sim_reg_next(c, w[R_COUNT]);
  };
  OPERAND sync[R_COUNT + 1];
  std::copy(ops, ops + R_COUNT + 1, sync);
  sync[R_CLK] = sync[R_ACLR] = sync[R_PRESET] = sync[R_ALOAD] = OPERAND();
  // A next state that is one signal as it is (the data input of a register
  // whose controls are inactive) is the .latch input itself, no buffer:
  // writing what was read gives the same registers again.
  std::string d;
  if (const uint32_t leaf = passed_leaf(sync, R_COUNT + 1, inactive, next); leaf != UINT32_MAX)
    d = sig(leaf);
  else if (!signal_for(sync, R_COUNT + 1, inactive, next, std::string(raw) + "$next", &d))
    return unsupported(g, "next state reads more than six signals");
  std::string clock = "as NIL";
  if (ops[R_CLK].m_kind == OPERAND::SIGNAL) clock = (ops[R_CLK].m_bit ? "fe " : "re ") + std::string(sig(ops[R_CLK].m_sig));
  m_body += ".latch " + d + " " + std::string(raw) + " " + clock + " " + std::to_string(init) + "\n";
  return true;
}

// $dff_full with every connected input by name (inverted or tied inputs get
// a cover of their own) and the power-up and priority as parameters.
bool BLIF_WRITER::write_full_register(const CDB_SGATE_NODE* g, const OPERAND* ops, bool sclr_over_ena, int init,
                                      std::string_view q_view) {
  const std::string q(q_view);
  auto pass = [](const uint64_t* w, const uint8_t*) { return w[0]; };
  auto either = [](const uint64_t* w, const uint8_t*) { return w[0] | w[1]; };
  std::string line = ".subckt $dff_full", later;
  for (unsigned k = 0; k < CDB_DFF_NUM_PORTS; ++k) {
    OPERAND op[2] = {ops[k], k == R_SCLR ? ops[R_SCLR2] : OPERAND()};
    // A control tied to the constant at which it does nothing is left out:
    // the reader ties an unbound control so.
    for (OPERAND& o : op)
      if (k >= R_ACLR && o.m_kind == OPERAND::CONSTANT && o.m_bit == (k == R_ENA || k == R_ADATA)) o = OPERAND();
    if (op[0].m_kind == OPERAND::NONE && op[1].m_kind == OPERAND::NONE) continue;
    std::string name;
    const uint64_t zero[2] = {0, 0};
    const size_t mark = m_body.size();
    bool ok = op[1].m_kind == OPERAND::NONE
                  ? signal_for(op, 1, nullptr, pass, q + "$" + BLIF_DFF_FULL_PINS[k], &name)
                  : signal_for(op, 2, zero, either, q + "$" + BLIF_DFF_FULL_PINS[k], &name);
    if (!ok) return unsupported(g, "register input");
    defer_constant_cover(mark, op, 2, &later);
    line += std::string(" ") + BLIF_DFF_FULL_PINS[k] + "=" + name;
  }
  m_body += later + line + " Q=" + q + "\n";
  m_body += ".param INIT " + std::to_string(init) + "\n";
  if (sclr_over_ena) m_body += ".param SCLR_OVER_ENA 1\n";
  return true;
}

// ".latch d q ah en": EN and EN2 combined; CLR and PRE have no BLIF form.
bool BLIF_WRITER::write_latch(const CDB_SGATE_NODE* g) {
  OPERAND ops[CDB_LATCH_NUM_PORTS];
  for (unsigned k = 0; k < CDB_LATCH_NUM_PORTS; ++k) ops[k] = operand(g->get_input_term(k));
  for (unsigned k : {unsigned(CDB_LATCH_CLR), unsigned(CDB_LATCH_PRE)})
    if (ops[k].m_kind == OPERAND::SIGNAL || (ops[k].m_kind == OPERAND::CONSTANT && ops[k].m_bit))
      return unsupported(g, "asynchronous latch controls");
  const std::string raw(stored_q_signal(g));
  auto pass = [](const uint64_t* w, const uint8_t*) { return w[0]; };
  auto both = [](const uint64_t* w, const uint8_t*) { return w[0] & w[1]; };
  std::string d, en, later;
  size_t mark = m_body.size();
  signal_for(&ops[CDB_LATCH_D], 1, nullptr, pass, raw + "$d", &d);
  defer_constant_cover(mark, &ops[CDB_LATCH_D], 1, &later);
  mark = m_body.size();
  signal_for(&ops[CDB_LATCH_EN], 2, nullptr, both, raw + "$en", &en);
  defer_constant_cover(mark, &ops[CDB_LATCH_EN], 2, &later);
  m_body += later + ".latch " + d + " " + raw + " ah " + en + " 3\n";
  return true;
}

// Ports whose name is not the signal they read get a cover of their own.
void BLIF_WRITER::write_outputs() {
  auto pass = [](const uint64_t* w, const uint8_t*) { return w[0]; };
  for (const auto& [pin, name] : m_out_pins) {
    OPERAND op = operand(pin->get_input_term(0));
    bool same = op.m_kind == OPERAND::SIGNAL && !op.m_bit && sig(op.m_sig) == name;
    if (!same) tabulate(&op, 1, nullptr, pass, 0, name);
    m_outputs.push_back(name);
  }
}

bool BLIF_WRITER::run(std::string* head, std::string* error) {
  collect_gates();
  number_signals();
  find_constants();
  name_signals();
  // Room for the body up front, more than most netlists need: pages the
  // body never reaches are never touched, while growing by doubling would
  // hold the old and the new copy at once.
  size_t name_bytes = 0, terms = 0;
  for (std::string_view n : m_sig_names) name_bytes += n.size() + 1;
  for (const CDB_SGATE_NODE* g : m_gates) terms += g->get_number_of_input_terms();
  m_body.reserve(2 * name_bytes + 16 * terms + 32 * m_gates.size());
  for (const CDB_SGATE_NODE* g : m_gates) {
    if (g->is_input() || g->is_output()) continue;
    if (g->is_bidir()) {
      unsupported(g, "bidirectional pin");
      continue;
    }
    write_gate(g);
  }
  if (!m_error.empty()) {
    if (error) *error = m_error;
    return false;
  }
  write_outputs();
  std::vector<std::string> pis;
  for (const CDB_SGATE_NODE* g : m_gates)
    if (g->is_input()) pis.emplace_back(sig(sig_of(g->get_single_oterm())));
  pis.insert(pis.end(), m_inputs.begin(), m_inputs.end());
  std::string model = m_options.model_name.empty() ? io_netlist_top(m_netlist) : m_options.model_name;
  if (model.empty()) model = "top";
  head->clear();
  *head += "# written by kavu_netlist_io\n.model " + escape(model) + "\n";
  auto list = [&](const char* keyword, const std::vector<std::string>& names) {
    *head += keyword;
    for (size_t i = 0; i < names.size(); ++i) {
      if (i && i % 16 == 0) *head += " \\\n";
      *head += ' ';
      *head += names[i];
    }
    *head += '\n';
  };
  list(".inputs", pis);
  list(".outputs", m_outputs);
  m_body += ".end\n";
  return true;
}

}  // namespace

bool io_write_blif_file(const CDB_SGATE_NETLIST* netlist, const std::string& path, const BLIF_WRITE_OPTIONS& options,
                        std::string* error) {
  PLAT_CHECK(netlist != nullptr, "PLATFORM");
  // The header and the body are written one after the other, so the text
  // is never held twice.
  std::string head;
  BLIF_WRITER writer(netlist, options);
  if (!writer.run(&head, error)) return false;
  // Written beside the target and renamed over it once whole: a failed write
  // (a full disk, a file-size limit) leaves the previous file as it was.
  std::string problem;
  if (FIO_FILE_SYSTEM::replace_file(path, {head, writer.body()}, &problem)) return true;
  if (error) *error = msg_printable_text(path, MSG_MAX_PATH_BYTES) + ": " + problem;
  return false;
}

bool blif_write_file(const CDB_SGATE_NETLIST* netlist, const std::string& path, const BLIF_WRITE_OPTIONS& options,
                     std::string* error) {
  // Memory refused anywhere (the writer's tables, the text, the write
  // beside the target) fails the write before the target is touched: the
  // text is put in place only once whole.
  return io_guard_memory(
      false, [&] { return io_write_blif_file(netlist, path, options, error); },
      [&] { io_say_out_of_memory(error, path, "cannot write the file: not enough memory"); });
}

}  // namespace kavu_platform
