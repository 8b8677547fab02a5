// kavu_sort_simcheck.cpp — the random-simulation check (KAVU_SIM_CHECK):
// two-valued simulation of a netlist's combinational logic, the simulation
// vector file it saves and re-checks, and the dump files of a failed check.
//
// Model: kavu_sort_simcheck.h. Simulation values are the output terminals' own
//   simulation fields (0 or 1), as every reader sees them: an evaluated
//   gate's value is stored after its output terminal's inversion flag.
// Evaluation order: KAVU_SORT::scc_oterms lists the terminals fan-in first
//   with each strongly connected component contiguous; every component is
//   swept until a sweep changes nothing. A sweep count above the component's
//   size means a loop that never settles ("cnt <= size").
// File handling: every integer is written and read byte by byte (least
//   significant first), so the file is the same on every host. Before a
//   check reads any record it compares the file's size with the size its
//   header announces, so a truncated or padded file is refused up front
//   instead of being checked on the vectors that happen to be there.
// Cost: per vector O(terminals + inputs), plus re-sweeps inside loops; the
//   ordering and the terminal lists are built once per call.
#include "kavu_sort_simcheck.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <list>
#include <map>
#include <string>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "cfg/cfg.h"
#include "cmp/cmp.h"
#include "fio/fio.h"
#include "kavu_check.h"
#include "kavu_helper.h"
#include "kavu_msg.h"
#include "kavu_sort.h"

namespace {

// ---------------------------------------------------------------------------
// Terminal kinds and names.

// Gates the simulation evaluates; every other gate is a boundary.
bool is_evaluated_kind(const CDB_SGATE_NODE* gate) {
  switch (gate->get_sgate_type()) {
    case CDB_SGATE_BUFFER_ENUM:
    case CDB_SGATE_COMB_ENUM:
    case CDB_SGATE_LUT_ENUM:
    case CDB_SGATE_MUX_ENUM:
    case CDB_SGATE_CARRY_SUM_ENUM:
      return true;
    default:
      return false;
  }
}

std::string gate_name_text(const CDB_SGATE_NODE* gate) {
  const HDB_INSTANCE_NAME* name = gate->get_instance_name();
  return name ? name->get_short_hpath(0) : std::string();
}

// The gate's name, with "_<position>" for a gate of several outputs.
std::string oterm_name(const CDB_SGATE_OTERM* oterm, unsigned int* position) {
  const CDB_SGATE_NODE* gate = oterm->get_my_node();
  const unsigned int count = static_cast<unsigned int>(gate->get_output_terms().size());
  unsigned int pos = 0;
  while (pos < count && gate->get_output_term(pos) != oterm) ++pos;
  KAVU_CHECK(pos < count);
  *position = pos;
  const std::string text = gate_name_text(gate);
  return count == 1 ? text : text + "_" + std::to_string(pos);
}

std::string iterm_name(const CDB_SGATE_ITERM* iterm, unsigned int* position) {
  const CDB_SGATE_NODE* gate = iterm->get_my_node();
  const unsigned int count = gate->get_number_of_input_terms();
  unsigned int pos = 0;
  while (pos < count && gate->get_input_term(pos) != iterm) ++pos;
  KAVU_CHECK(pos < count);
  *position = pos;
  return gate_name_text(gate) + "_" + std::to_string(pos);
}

// Sort key of a terminal: name, then debug number and position for ties.
struct TERM_KEY {
  std::string name;
  unsigned int debug_number;
  unsigned int position;
  size_t index;  // into the unsorted list
  bool operator<(const TERM_KEY& o) const {
    if (name != o.name) return name < o.name;
    if (debug_number != o.debug_number) return debug_number < o.debug_number;
    return position < o.position;
  }
};

template <class TERM, class NAME_FN>
void sort_terms(std::vector<TERM*>& terms, NAME_FN name_of) {
  std::vector<TERM_KEY> keys(terms.size());
  for (size_t i = 0; i < terms.size(); ++i) {
    keys[i].name = name_of(terms[i], &keys[i].position);
    keys[i].debug_number = terms[i]->get_my_node()->get_debug_number();
    keys[i].index = i;
  }
  std::sort(keys.begin(), keys.end());
  std::vector<TERM*> sorted(terms.size());
  for (size_t i = 0; i < keys.size(); ++i) sorted[i] = terms[keys[i].index];
  terms.swap(sorted);
}

// ---------------------------------------------------------------------------
// Gate evaluation.

unsigned int checked_value(const CDB_SGATE_OTERM* src) {
  const unsigned int src_value = src->get_sim_value();
  KAVU_CHECK(src_value <= 1);
  return src_value;
}

// Value of a connected input terminal: its constant, else its source's value
// complemented when the input is inverted.
unsigned int iterm_value(const CDB_SGATE_ITERM* iterm) {
  KAVU_CHECK(cdb_is_connected(iterm));
  // An input connected only through its parent reads the parent.
  while (!iterm->is_connected() && iterm->get_parent_input() != nullptr) iterm = iterm->get_parent_input();
  if (iterm->is_vcc()) return 1;
  if (iterm->is_gnd()) return 0;
  const CDB_SGATE_OTERM* src = iterm->get_source();
  KAVU_CHECK(src != nullptr);
  const unsigned int v = checked_value(src);
  return iterm->is_inverted() ? 1 - v : v;
}

// Value of an end terminal: 0 when unconnected.
unsigned int end_value(const CDB_SGATE_ITERM* iterm) { return cdb_is_connected(iterm) ? iterm_value(iterm) : 0; }

unsigned int eval_comb(CDB_SGATE_NODE* gate) {
  const CDB_COMB_TYPE type = gate->cast_to_comb()->get_comb_type();
  unsigned int value = type == CDB_COMB_AND ? 1 : 0;
  for (const CDB_SGATE_ITERM* iterm : gate->get_input_terms()) {
    if (iterm == nullptr || !cdb_is_connected(iterm)) continue;
    const unsigned int in = iterm_value(iterm);
    switch (type) {
      case CDB_COMB_AND: value &= in; break;
      case CDB_COMB_OR: value |= in; break;
      case CDB_COMB_XOR: value ^= in; break;
      case CDB_COMB_NOT: value = 1 - in; break;
      case CDB_COMB_NAME_KEEPER: value = in; break;
      default: KAVU_INTERNAL_ERROR("unknown comb"); break;
    }
  }
  return value;
}

// The LUT mask's bit at the minterm of the input values; absent and
// unconnected inputs read as 1.
unsigned int eval_lut(CDB_SGATE_NODE* gate) {
  const CDB_LUTMASK& mask = gate->cast_to_lut()->get_lut_mask();
  unsigned int minterm = 0;
  for (unsigned int i = 0; i < mask.get_num_inputs(); ++i) {
    const CDB_SGATE_ITERM* iterm = gate->get_input_term(i);
    const unsigned int in = (iterm == nullptr || !cdb_is_connected(iterm)) ? 1 : iterm_value(iterm);
    minterm |= in << i;
  }
  return static_cast<unsigned int>((mask.get_value() >> minterm) & 1u);
}

unsigned int required_input(CDB_SGATE_NODE* gate, unsigned int i) {
  const CDB_SGATE_ITERM* iterm = gate->get_input_term(i);
  KAVU_CHECK(cdb_is_connected(iterm));
  return iterm_value(iterm);
}

// Stores a value on a gate output as its readers see it.
bool store(CDB_SGATE_OTERM* oterm, unsigned int value) {
  if (oterm == nullptr) return false;
  const unsigned int seen = oterm->is_inverted() ? 1 - value : value;
  const bool changed = oterm->get_sim_value() != seen;
  oterm->set_sim_value(seen);
  return changed;
}

// Evaluates the gate of an evaluated kind; true when an output changed.
bool eval_gate(CDB_SGATE_NODE* gate) {
  switch (gate->get_sgate_type()) {
    case CDB_SGATE_BUFFER_ENUM: {
      const CDB_SGATE_ITERM* iterm = gate->get_single_iterm();
      KAVU_CHECK(cdb_is_connected(iterm));
      return store(gate->get_single_oterm(), iterm_value(iterm));
    }
    case CDB_SGATE_COMB_ENUM:
      return store(gate->get_single_oterm(), eval_comb(gate));
    case CDB_SGATE_LUT_ENUM:
      return store(gate->get_single_oterm(), eval_lut(gate));
    case CDB_SGATE_MUX_ENUM: {
      const unsigned int d0 = required_input(gate, 0);
      const unsigned int d1 = required_input(gate, 1);
      const unsigned int sel = required_input(gate, 2);
      return store(gate->get_single_oterm(), sel ? d1 : d0);
    }
    case CDB_SGATE_CARRY_SUM_ENUM: {
      const unsigned int v0 = required_input(gate, 0);
      const unsigned int v1 = required_input(gate, 1);
      const bool c0 = store(gate->get_output_term(0), v0);
      const bool c1 = store(gate->get_output_term(1), v1);
      return c0 || c1;
    }
    default:
      KAVU_INTERNAL_ERROR("unsupported sgate type");
      return false;
  }
}

// ---------------------------------------------------------------------------
// Whole-netlist simulation.

// The netlist's terminals in evaluation order, cut into component groups.
class NETLIST_SIMULATOR {
 public:
  // The ordering needs no device facts, so it gets no facade: a facade that
  // only names the file must not make the check depend on its family.
  explicit NETLIST_SIMULATOR(CDB_SGATE_NETLIST* netlist) {
    KAVU_SORT sorter(nullptr, false, false, false);
    KAVU_SORT::OTERM_LIST ordered;
    KAVU_SORT::SCC_MAP scc;
    sorter.scc_oterms(netlist, ordered, scc, false, nullptr, nullptr, nullptr);
    m_order.assign(ordered.begin(), ordered.end());
    int group = -1;
    for (size_t i = 0; i < m_order.size(); ++i) {
      const auto it = scc.find(m_order[i]);
      const int number = it == scc.end() ? 0 : it->second;
      if (i == 0 || number != group) m_group_start.push_back(i);
      group = number;
    }
    m_group_start.push_back(m_order.size());
  }

  // Simulates one vector: begin terminal i takes bit i of `values`.
  void run(const std::vector<CDB_SGATE_OTERM*>& begins, const std::vector<unsigned int>& values) {
    for (CDB_SGATE_OTERM* oterm : m_order) oterm->set_sim_value(0);
    for (size_t i = 0; i < begins.size(); ++i) begins[i]->set_sim_value(values[i]);
    for (size_t g = 0; g + 1 < m_group_start.size(); ++g) sweep_group(m_group_start[g], m_group_start[g + 1]);
  }

 private:
  void sweep_group(size_t first, size_t last) {
    const size_t size = last - first;
    size_t cnt = 0;
    for (;;) {
      bool changed = false;
      for (size_t i = first; i < last; ++i) {
        CDB_SGATE_NODE* gate = m_order[i]->get_my_node();
        if (is_evaluated_kind(gate) && eval_gate(gate)) changed = true;
      }
      if (!changed) return;
      ++cnt;
      KAVU_CHECK(cnt <= size);
    }
  }

  std::vector<CDB_SGATE_OTERM*> m_order;
  std::vector<size_t> m_group_start;
};

// ---------------------------------------------------------------------------
// The file.

void put_u32(std::ostream& out, uint32_t v) {
  const char bytes[4] = {static_cast<char>(v & 0xff), static_cast<char>((v >> 8) & 0xff),
                         static_cast<char>((v >> 16) & 0xff), static_cast<char>((v >> 24) & 0xff)};
  out.write(bytes, 4);
}

bool get_u32(std::istream& in, uint32_t* v) {
  unsigned char bytes[4];
  if (!in.read(reinterpret_cast<char*>(bytes), 4)) return false;
  *v = uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
  return true;
}

size_t words_for(size_t count) { return (count + 31) / 32; }

// Packs values (one 0/1 per terminal) into words, unused bits 0.
void pack(const std::vector<unsigned int>& values, std::vector<uint32_t>& words) {
  words.assign(words_for(values.size()), 0);
  for (size_t i = 0; i < values.size(); ++i)
    if (values[i]) words[i / 32] |= uint32_t(1) << (i % 32);
}

void compute_end_values(const std::vector<CDB_SGATE_ITERM*>& ends, std::vector<unsigned int>& values) {
  values.resize(ends.size());
  for (size_t i = 0; i < ends.size(); ++i) values[i] = end_value(ends[i]);
}

void write_dump(const std::string& file, const std::vector<std::string>& lines) {
  std::orlind_ofstream out;
  out.open(file, std::ios_base::out | std::ios_base::trunc);
  if (!out) {
    kavu_debug("cannot write %s", file.c_str());
    return;
  }
  for (const std::string& line : lines) out << line << '\n';
}

// The two dump files "<base>_begin.tx<k>" and "<base>_end.tx<k>".
void sim_io_dump(const std::vector<CDB_SGATE_OTERM*>& begins, const std::vector<CDB_SGATE_ITERM*>& ends,
                 const char* base, int k) {
  char line[64];
  std::vector<std::string> lines;
  unsigned int pos = 0;
  for (const CDB_SGATE_OTERM* oterm : begins) {
    std::snprintf(line, sizeof line, "%-15s ", oterm->get_my_node()->get_string_type_name());
    lines.push_back(line + oterm_name(oterm, &pos));
  }
  write_dump(std::string(base) + "_begin.tx" + std::to_string(k), lines);
  lines.clear();
  for (const CDB_SGATE_ITERM* iterm : ends) {
    std::snprintf(line, sizeof line, "%-15s ", iterm->get_my_node()->get_string_type_name());
    lines.push_back(line + iterm_name(iterm, &pos));
  }
  write_dump(std::string(base) + "_end.tx" + std::to_string(k), lines);
}

void collect_sorted(CDB_SGATE_NETLIST* netlist, std::vector<CDB_SGATE_OTERM*>& begins,
                    std::vector<CDB_SGATE_ITERM*>& ends) {
  KAVU_SIM_CHECK::get_begin_oterms(netlist, begins);
  KAVU_SIM_CHECK::get_end_iterms(netlist, ends);
  sort_terms(begins, oterm_name);
  sort_terms(ends, iterm_name);
}

}  // namespace

// ---------------------------------------------------------------------------

KAVU_SIM_CHECK::KAVU_SIM_CHECK(CMP_FACADE* facade)
    : m_facade(facade), m_debug_level(cfg_get_int_value("kavu_sort_debug", 0)) {}

std::string KAVU_SIM_CHECK::svf_path() const {
  std::string name;
  if (m_facade != nullptr) name = m_facade->get_revision_name();
  if (name.empty() && m_facade != nullptr) name = m_facade->get_project_name();
  if (name.empty()) name = "kavu_sim";
  FIO_PATH path;
  path.base(name);
  path.extension("svf", "");
  return path.fullpath();
}

void KAVU_SIM_CHECK::get_begin_oterms(CDB_SGATE_NETLIST* netlist, std::vector<CDB_SGATE_OTERM*>& begins) {
  KAVU_CHECK(netlist != nullptr);
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* gate = *it;
    if (gate == nullptr || is_evaluated_kind(gate)) continue;
    for (CDB_SGATE_OTERM* oterm : gate->get_output_terms())
      if (oterm != nullptr && oterm->has_fanout()) begins.push_back(oterm);
  }
}

void KAVU_SIM_CHECK::get_end_iterms(CDB_SGATE_NETLIST* netlist, std::vector<CDB_SGATE_ITERM*>& ends) {
  KAVU_CHECK(netlist != nullptr);
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* gate = *it;
    if (gate == nullptr || is_evaluated_kind(gate)) continue;
    for (CDB_SGATE_ITERM* iterm : gate->get_input_terms())
      if (iterm != nullptr && cdb_is_connected(iterm)) ends.push_back(iterm);
  }
}

void KAVU_SIM_CHECK::sim_verify(CDB_SGATE_NETLIST* netlist, int n) {
  KAVU_CHECK(netlist != nullptr);
  if (n > 0) {
    sim_save(netlist, n);
  } else {
    sim_check(netlist);
  }
}

void KAVU_SIM_CHECK::sim_save(CDB_SGATE_NETLIST* netlist, int n) {
  const std::string path = svf_path();
  std::orlind_ofstream out;
  out.open(path, std::ios_base::out | std::ios_base::binary | std::ios_base::trunc);
  if (!out) KAVU_INTERNAL_ERROR("simulation vector file cannot be opened for writing");
  std::vector<CDB_SGATE_OTERM*> begins;
  std::vector<CDB_SGATE_ITERM*> ends;
  collect_sorted(netlist, begins, ends);
  kavu_debug("sim_save %d %zu %zu", n, begins.size(), ends.size());
  put_u32(out, static_cast<uint32_t>(n));
  put_u32(out, static_cast<uint32_t>(begins.size()));
  put_u32(out, static_cast<uint32_t>(ends.size()));
  NETLIST_SIMULATOR sim(netlist);
  RANDOM_15 random;
  std::vector<unsigned int> begin_values(begins.size()), end_values;
  std::vector<uint32_t> words;
  for (int v = 0; v < n; ++v) {
    // Each draw gives 15 values; a vector starts with a fresh draw.
    for (size_t i = 0; i < begins.size(); i += 15) {
      const unsigned int r = random.next();
      for (size_t b = 0; b < 15 && i + b < begins.size(); ++b) begin_values[i + b] = (r >> b) & 1u;
    }
    sim.run(begins, begin_values);
    compute_end_values(ends, end_values);
    pack(begin_values, words);
    for (uint32_t w : words) put_u32(out, w);
    pack(end_values, words);
    for (uint32_t w : words) put_u32(out, w);
  }
  out.close();
  if (out.fail()) KAVU_INTERNAL_ERROR("simulation vector file could not be written whole");
}

namespace {

// Reads the header and checks it against the file's size, so every record
// the header announces is there and nothing follows the last one.
struct SVF_HEADER {
  int32_t n = 0;
  uint32_t begins = 0;
  uint32_t ends = 0;
};

SVF_HEADER read_header(std::istream& in, const std::string& path) {
  in.seekg(0, std::ios_base::end);
  const std::streamoff size = in.tellg();
  in.seekg(0, std::ios_base::beg);
  SVF_HEADER h;
  uint32_t raw_n = 0;
  if (size < 12 || !get_u32(in, &raw_n) || !get_u32(in, &h.begins) || !get_u32(in, &h.ends))
    KAVU_INTERNAL_ERROR("simulation vector file truncated: no complete header");
  h.n = static_cast<int32_t>(raw_n);
  const long long record = 4LL * static_cast<long long>(words_for(h.begins) + words_for(h.ends));
  const long long vectors = h.n > 0 ? h.n : 0;
  const long long expected = 12 + vectors * record;
  kavu_debug("sim_check %d %u %u (%s)", h.n, h.begins, h.ends, path.c_str());
  if (size < expected) KAVU_INTERNAL_ERROR("simulation vector file truncated: fewer records than its header");
  if (size > expected) KAVU_INTERNAL_ERROR("fin.eof()");
  return h;
}

bool read_words(std::istream& in, size_t count, std::vector<uint32_t>& words) {
  words.resize(count);
  for (size_t i = 0; i < count; ++i)
    if (!get_u32(in, &words[i])) return false;
  return true;
}

}  // namespace

void KAVU_SIM_CHECK::sim_check(CDB_SGATE_NETLIST* netlist) {
  const std::string path = svf_path();
  std::orlind_ifstream in;
  in.open(path, std::ios_base::in | std::ios_base::binary);
  if (!in) KAVU_INTERNAL_ERROR("simulation vector file cannot be opened for reading");
  const SVF_HEADER h = read_header(in, path);
  std::vector<CDB_SGATE_OTERM*> begins;
  std::vector<CDB_SGATE_ITERM*> ends;
  collect_sorted(netlist, begins, ends);
  const bool begins_differ = h.begins != begins.size();
  const bool ends_differ = h.ends != ends.size();
  if (begins_differ) kavu_debug("sim_verify num_begins mismatch %u %zu", h.begins, begins.size());
  if (ends_differ) kavu_debug("sim_verify num_ends mismatch %u %zu", h.ends, ends.size());
  if (begins_differ || ends_differ) {
    in.close();
    sim_io_dump(begins, ends, "chk", 0);
    KAVU_INTERNAL_ERROR("sim_verify error");
  }
  NETLIST_SIMULATOR sim(netlist);
  std::vector<unsigned int> begin_values(begins.size()), end_values;
  std::vector<uint32_t> begin_words, stored_words, words;
  int failed = 0;
  for (int v = 0; v < h.n; ++v) {
    if (!read_words(in, words_for(begins.size()), begin_words) ||
        !read_words(in, words_for(ends.size()), stored_words))
      KAVU_INTERNAL_ERROR("simulation vector file could not be read whole");
    for (size_t i = 0; i < begins.size(); ++i) begin_values[i] = (begin_words[i / 32] >> (i % 32)) & 1u;
    sim.run(begins, begin_values);
    compute_end_values(ends, end_values);
    pack(end_values, words);
    if (words != stored_words) ++failed;
  }
  in.close();
  if (failed > 0) kavu_debug("sim_verify: %d of %d vectors differ", failed, h.n);
  if (cfg_is_on("sim_verify_debug", false) || failed > 0 || m_debug_level > 0) sim_io_dump(begins, ends, "chk", 0);
  if (failed > 0) KAVU_INTERNAL_ERROR("sim_verify error");
}
