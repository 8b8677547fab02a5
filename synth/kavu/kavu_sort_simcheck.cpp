// kavu_sort_simcheck.cpp — the simulation members of KAVU_SORT: two-valued
// simulation of a netlist's combinational logic, the simulation vector file
// it saves and re-checks, the dump files of a failed check, the truth table
// of a cone by exhaustive simulation, and the topological node list.
//
// Model: kavu_sort.h. Simulation values are the output terminals' own
//   simulation fields (0 or 1), as every reader sees them: an evaluated
//   gate's value is stored after its output terminal's inversion flag. Comb
//   gates fold their connected inputs by the library's one comb rule
//   (kavu_comb_eval_int.h); a name keeper passes its input and yields the
//   rule's start value 0 without one.
// Evaluation order: scc_oterms lists the terminals fan-in first with each
//   strongly connected component contiguous; every component is swept until
//   a sweep changes nothing. A sweep count above the component's size means
//   a loop that never settles ("cnt <= size"). The ordering is always the
//   combinational depth-first one over the whole netlist (no clock domain,
//   no extra boundaries, no pre-order walk), whatever the object's mode and
//   keys: an approximate order would evaluate gates before their inputs.
// File handling: every integer is written and read byte by byte (least
//   significant first), so the file is the same on every host. Before a
//   check reads any record it compares the file's size with the size its
//   header announces, so a truncated or padded file is refused up front
//   instead of being checked on the vectors that happen to be there.
// Cost: per vector O(terminals + inputs), plus re-sweeps inside loops; the
//   ordering and the terminal lists are built once per call.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "cfg/cfg.h"
#include "cmp/cmp.h"
#include "fio/fio.h"
#include "gen/gen.h"
#include "kavu_01tbl.h"
#include "kavu_check.h"
#include "kavu_comb_eval_int.h"
#include "kavu_dff_helper_stuck.h"
#include "kavu_helper.h"
#include "kavu_helper_predicates.h"
#include "kavu_msg.h"
#include "kavu_sort.h"
#include "kavu_sort_int.h"

namespace {

constexpr unsigned BITS_PER_WORD = 32;
constexpr long long WORD_BYTES = 4;
// The file's header: vector count, begin count, end count.
constexpr long long HEADER_BYTES = 3 * WORD_BYTES;
// Begin values drawn from one random number.
constexpr unsigned VALUES_PER_DRAW = 15;
constexpr unsigned SIM_ONE = 1;
// The profiler scope of the topological node list.
constexpr unsigned SORTING_PROFILE_MASK = 0x7ffffeff;
// The dump files of a failed check: "<base>_begin.tx<k>", "<base>_end.tx<k>".
constexpr const char* CHECK_DUMP_BASE = "chk";
constexpr int CHECK_DUMP_INDEX = 0;
// The type-name column of a dump line ("%-15s ").
constexpr int DUMP_TYPE_WIDTH = 15;

// Random begin values. A fixed 15-bit linear congruential generator,
// restarted for every save, replaces the runtime's rand(): the check was
// written for a rand() below 32768 ("r < 32768"), which not every runtime
// keeps, and rand()'s process-wide state would make one netlist's vectors
// depend on unrelated callers. This generator gives 15 bits everywhere and
// the same vectors for the same netlist.
class RANDOM_15 {
 public:
  unsigned next() {
    m_state = m_state * MULTIPLIER + INCREMENT;
    return (m_state >> OUTPUT_SHIFT) & OUTPUT_MASK;
  }

 private:
  static constexpr uint32_t MULTIPLIER = 1103515245u;
  static constexpr uint32_t INCREMENT = 12345u;
  static constexpr unsigned OUTPUT_SHIFT = 16;
  static constexpr uint32_t OUTPUT_MASK = 0x7fffu;  // 15 bits
  uint32_t m_state = 1;
};

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

std::string gate_name_text(const CDB_SGATE_NODE* gate, bool debug_name) {
  if (debug_name) return gate->get_debug_name();
  const HDB_INSTANCE_NAME* name = gate->get_instance_name();
  return name ? name->get_short_hpath(0) : std::string();
}

unsigned oterm_position(const CDB_SGATE_OTERM* oterm) {
  const CDB_SGATE_NODE* gate = oterm->get_my_node();
  const unsigned count = unsigned(gate->get_output_terms().size());
  unsigned pos = 0;
  while (pos < count && gate->get_output_term(pos) != oterm) ++pos;
  if (pos == count) KAVU_INTERNAL_ERROR("iter_oterm != node->end_oterm()");
  return pos;
}

unsigned iterm_position(const CDB_SGATE_ITERM* iterm) {
  const CDB_SGATE_NODE* gate = iterm->get_my_node();
  const unsigned count = gate->get_number_of_input_terms();
  unsigned pos = 0;
  while (pos < count && gate->get_input_term(pos) != iterm) ++pos;
  if (pos == count) KAVU_INTERNAL_ERROR("iter_iterm != node->end_iterm()");
  return pos;
}

}  // namespace

std::string kavu_sort_oterm_name(const CDB_SGATE_OTERM* oterm, bool debug_name) {
  KAVU_CHECK(oterm != nullptr);
  const CDB_SGATE_NODE* gate = oterm->get_my_node();
  const unsigned pos = oterm_position(oterm);
  const std::string text = gate_name_text(gate, debug_name);
  return gate->get_output_terms().size() == 1 ? text : text + "_" + std::to_string(pos);
}

std::string kavu_sort_iterm_name(const CDB_SGATE_ITERM* iterm) {
  KAVU_CHECK(iterm != nullptr);
  return gate_name_text(iterm->get_my_node(), false) + "_" + std::to_string(iterm_position(iterm));
}

namespace {

// Sort key of a terminal: name, then debug number and position for ties.
struct TERM_KEY {
  std::string m_name;
  unsigned m_debug_number;
  unsigned m_position;
  size_t m_index;  // into the unsorted list
  bool operator<(const TERM_KEY& o) const {
    if (m_name != o.m_name) return m_name < o.m_name;
    if (m_debug_number != o.m_debug_number) return m_debug_number < o.m_debug_number;
    return m_position < o.m_position;
  }
};

std::string term_name(const CDB_SGATE_OTERM* oterm) { return kavu_sort_oterm_name(oterm, false); }
std::string term_name(const CDB_SGATE_ITERM* iterm) { return kavu_sort_iterm_name(iterm); }
unsigned term_position(const CDB_SGATE_OTERM* oterm) { return oterm_position(oterm); }
unsigned term_position(const CDB_SGATE_ITERM* iterm) { return iterm_position(iterm); }

template <class TERM>
void sort_terms(std::vector<TERM*>& terms) {
  std::vector<TERM_KEY> keys(terms.size());
  for (size_t i = 0; i < terms.size(); ++i)
    keys[i] = {term_name(terms[i]), terms[i]->get_my_node()->get_debug_number(), term_position(terms[i]), i};
  std::sort(keys.begin(), keys.end());
  std::vector<TERM*> sorted(terms.size());
  for (size_t i = 0; i < keys.size(); ++i) sorted[i] = terms[keys[i].m_index];
  terms.swap(sorted);
}

// ---------------------------------------------------------------------------
// Values.

unsigned checked_value(const CDB_SGATE_OTERM* src) {
  const unsigned src_value = src->get_sim_value();
  KAVU_CHECK(src_value <= 1);
  return src_value;
}

// Stores a gate's value on one of its outputs as its readers see it.
void store(CDB_SGATE_OTERM* oterm, unsigned value) {
  if (oterm != nullptr) oterm->set_sim_value(oterm->is_inverted() ? SIM_ONE - value : value);
}

size_t words_for(size_t count) { return (count + BITS_PER_WORD - 1) / BITS_PER_WORD; }

}  // namespace

// ---------------------------------------------------------------------------
// Gate evaluators.

unsigned KAVU_SORT::sim_sgate_iterm(CDB_SGATE_ITERM* iterm) {
  KAVU_CHECK(cdb_is_connected(iterm));
  // An input connected only through its parent reads the parent.
  const CDB_SGATE_ITERM* t = iterm;
  while (!t->is_connected() && t->get_parent_input() != nullptr) t = t->get_parent_input();
  if (t->is_vcc()) return SIM_ONE;
  if (t->is_gnd()) return 0;
  const CDB_SGATE_OTERM* src = t->get_source();
  KAVU_CHECK(src != nullptr);
  const unsigned v = checked_value(src);
  return t->is_inverted() ? SIM_ONE - v : v;
}

unsigned KAVU_SORT::sim_buffer_sgate(CDB_SGATE_NODE* sgate) {
  KAVU_CHECK(sgate->get_sgate_type()==CDB_SGATE_BUFFER_ENUM);
  CDB_SGATE_ITERM* iterm = sgate->get_single_iterm();
  KAVU_CHECK(cdb_is_connected(iterm));
  const unsigned value = sim_sgate_iterm(iterm);
  store(sgate->get_output_term(0), value);
  return value;
}

unsigned KAVU_SORT::sim_comb_sgate(CDB_SGATE_NODE* sgate) {
  KAVU_CHECK(kavu_is_a_comb(sgate));
  KAVU_COMB_RULE rule;
  if (!kavu_comb_rule(sgate->cast_to_comb()->get_comb_type(), true, &rule)) KAVU_INTERNAL_ERROR("unknown comb");
  unsigned value = rule.m_start_one ? SIM_ONE : 0;
  for (CDB_SGATE_ITERM* iterm : sgate->get_input_terms()) {
    if (iterm == nullptr || !cdb_is_connected(iterm)) continue;
    value = kavu_comb_step<unsigned>(rule.m_step, value, sim_sgate_iterm(iterm), SIM_ONE);
  }
  store(sgate->get_output_term(0), value);
  return value;
}

// The LUT mask's bit at the minterm of the input values; absent and
// unconnected inputs read as 1.
unsigned KAVU_SORT::sim_lut_sgate(CDB_SGATE_NODE* sgate) {
  KAVU_CHECK(kavu_is_a_lut(sgate));
  const CDB_LUTMASK& mask = sgate->cast_to_lut()->get_lut_mask();
  unsigned minterm = 0;
  for (unsigned i = 0; i < mask.get_num_inputs(); ++i) {
    CDB_SGATE_ITERM* iterm = sgate->get_input_term(i);
    const unsigned in = (iterm == nullptr || !cdb_is_connected(iterm)) ? SIM_ONE : sim_sgate_iterm(iterm);
    minterm |= in << i;
  }
  const unsigned value = unsigned((mask.get_value() >> minterm) & 1u);
  store(sgate->get_output_term(0), value);
  return value;
}

unsigned KAVU_SORT::sim_mux_sgate(CDB_SGATE_NODE* sgate) {
  KAVU_CHECK(kavu_is_a_mux(sgate));
  unsigned in[3];
  for (unsigned i = 0; i < 3; ++i) {
    CDB_SGATE_ITERM* iterm = sgate->get_input_term(i);
    KAVU_CHECK(cdb_is_connected(iterm));
    in[i] = sim_sgate_iterm(iterm);
  }
  const unsigned value = in[2] ? in[1] : in[0];  // data 0, data 1, select
  store(sgate->get_output_term(0), value);
  return value;
}

unsigned KAVU_SORT::sim_io_output(CDB_SGATE_NODE* sgate) {
  KAVU_CHECK(sgate->get_sgate_type()==CDB_SGATE_IO_ENUM);
  KAVU_CHECK(sgate->cast_to_io()->get_io_type()==CDB_IO_OUTPUT);
  CDB_SGATE_ITERM* iterm = sgate->get_single_iterm();
  KAVU_CHECK(cdb_is_connected(iterm));
  const unsigned value = sim_sgate_iterm(iterm);
  store(sgate->get_output_term(0), value);
  return value;
}

void KAVU_SORT::sim_carry_sum_sgate(CDB_SGATE_NODE* sgate) {
  KAVU_CHECK(sgate->get_sgate_type()==CDB_SGATE_CARRY_SUM_ENUM);
  for (unsigned k = 0; k < 2; ++k) {
    CDB_SGATE_ITERM* iterm = sgate->get_input_term(k);
    KAVU_CHECK(cdb_is_connected(iterm));
    store(sgate->get_output_term(k), sim_sgate_iterm(iterm));
  }
}

unsigned KAVU_SORT::sim_buffer_sgate(CDB_SGATE_OTERM* oterm) { return sim_buffer_sgate(oterm->get_my_node()); }
unsigned KAVU_SORT::sim_comb_sgate(CDB_SGATE_OTERM* oterm) { return sim_comb_sgate(oterm->get_my_node()); }
unsigned KAVU_SORT::sim_mux_sgate(CDB_SGATE_OTERM* oterm) { return sim_mux_sgate(oterm->get_my_node()); }
unsigned KAVU_SORT::sim_lut_sgate(CDB_SGATE_OTERM* oterm) { return sim_lut_sgate(oterm->get_my_node()); }
unsigned KAVU_SORT::sim_io_output(CDB_SGATE_OTERM* oterm) { return sim_io_output(oterm->get_my_node()); }

unsigned KAVU_SORT::sim_carry_sum_sgate(CDB_SGATE_OTERM* oterm) {
  CDB_SGATE_NODE* sgate = oterm->get_my_node();
  sim_carry_sum_sgate(sgate);
  CDB_SGATE_OTERM* asked = oterm == sgate->get_output_term(1) ? oterm : sgate->get_output_term(0);
  return asked->get_sim_value();
}

// ---------------------------------------------------------------------------
// Whole-netlist simulation.

void KAVU_SORT::sim_netlist_comb_components(OTERM_LIST& ordered, SCC_MAP& scc_map,
                                            std::vector<CDB_SGATE_OTERM*>& begins,
                                            std::vector<unsigned>& begin_values) {
  for (CDB_SGATE_OTERM* oterm : ordered) oterm->set_sim_value(0);
  for (size_t i = 0; i < begins.size(); ++i) begins[i]->set_sim_value(begin_values[i]);
  auto number_of = [&scc_map](CDB_SGATE_OTERM* oterm) {
    auto it = scc_map.find(oterm);
    return it == scc_map.end() ? 0 : it->second;
  };
  for (auto first = ordered.begin(); first != ordered.end();) {
    const int group = number_of(*first);
    auto last = first;
    size_t size = 0;
    while (last != ordered.end() && number_of(*last) == group) ++last, ++size;
    for (size_t cnt = 0;;) {
      bool changed = false;
      for (auto it = first; it != last; ++it) {
        CDB_SGATE_NODE* gate = (*it)->get_my_node();
        if (!is_evaluated_kind(gate)) continue;
        // Both outputs of a carry-sum cell may change: compare the gate's.
        const unsigned before0 = gate->get_output_term(0) ? gate->get_output_term(0)->get_sim_value() : 0;
        const CDB_SGATE_OTERM* second = gate->get_output_count() > 1 ? gate->get_output_term(1) : nullptr;
        const unsigned before1 = second ? second->get_sim_value() : 0;
        switch (gate->get_sgate_type()) {
          case CDB_SGATE_BUFFER_ENUM: sim_buffer_sgate(gate); break;
          case CDB_SGATE_COMB_ENUM: sim_comb_sgate(gate); break;
          case CDB_SGATE_LUT_ENUM: sim_lut_sgate(gate); break;
          case CDB_SGATE_MUX_ENUM: sim_mux_sgate(gate); break;
          default: sim_carry_sum_sgate(gate); break;
        }
        const unsigned after0 = gate->get_output_term(0) ? gate->get_output_term(0)->get_sim_value() : 0;
        if (after0 != before0 || (second && second->get_sim_value() != before1)) changed = true;
      }
      if (!changed) break;
      ++cnt;
      KAVU_CHECK(cnt <= size);
    }
    first = last;
  }
}

void KAVU_SORT::get_begin_oterms(CDB_SGATE_NETLIST* netlist, std::vector<CDB_SGATE_OTERM*>& begins) {
  KAVU_CHECK(netlist != nullptr);
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* gate = *it;
    if (gate == nullptr || is_evaluated_kind(gate)) continue;
    for (CDB_SGATE_OTERM* oterm : gate->get_output_terms())
      if (oterm != nullptr && oterm->has_fanout()) begins.push_back(oterm);
  }
}

void KAVU_SORT::get_end_iterms(CDB_SGATE_NETLIST* netlist, std::vector<CDB_SGATE_ITERM*>& ends) {
  KAVU_CHECK(netlist != nullptr);
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* gate = *it;
    if (gate == nullptr || is_evaluated_kind(gate)) continue;
    for (CDB_SGATE_ITERM* iterm : gate->get_input_terms())
      if (iterm != nullptr && cdb_is_connected(iterm)) ends.push_back(iterm);
  }
}

// ---------------------------------------------------------------------------
// The file.

namespace {

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

// Packs values (one 0/1 per terminal) into words, unused bits 0.
void pack(const std::vector<unsigned>& values, std::vector<uint32_t>& words) {
  words.assign(words_for(values.size()), 0);
  for (size_t i = 0; i < values.size(); ++i)
    if (values[i]) words[i / BITS_PER_WORD] |= uint32_t(1) << (i % BITS_PER_WORD);
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

std::string dump_type_column(const CDB_SGATE_NODE* gate) {
  char column[64];
  std::snprintf(column, sizeof column, "%-*s ", DUMP_TYPE_WIDTH, gate->get_string_type_name());
  return column;
}

// The path of the simulation vector file: the facade's revision name, else
// its project name, else "kavu_sim", with the extension "svf".
std::string svf_path(CMP_FACADE* facade) {
  std::string name;
  if (facade != nullptr) name = facade->get_revision_name();
  if (name.empty() && facade != nullptr) name = facade->get_project_name();
  if (name.empty()) name = "kavu_sim";
  FIO_PATH path;
  path.base(name);
  path.extension("svf", "");
  return path.fullpath();
}

// Reads the header and checks it against the file's size, so every record
// the header announces is there and nothing follows the last one.
struct SVF_HEADER {
  int32_t m_n = 0;
  uint32_t m_begins = 0;
  uint32_t m_ends = 0;
};

SVF_HEADER read_header(std::istream& in) {
  in.seekg(0, std::ios_base::end);
  const std::streamoff size = in.tellg();
  in.seekg(0, std::ios_base::beg);
  SVF_HEADER h;
  uint32_t raw_n = 0;
  if (size < HEADER_BYTES || !get_u32(in, &raw_n) || !get_u32(in, &h.m_begins) || !get_u32(in, &h.m_ends))
    KAVU_INTERNAL_ERROR("simulation vector file truncated: no complete header");
  h.m_n = static_cast<int32_t>(raw_n);
  const long long record = WORD_BYTES * static_cast<long long>(words_for(h.m_begins) + words_for(h.m_ends));
  const long long vectors = h.m_n > 0 ? h.m_n : 0;
  const long long expected = HEADER_BYTES + vectors * record;
  kavu_debug("sim_check %d %u %u", h.m_n, h.m_begins, h.m_ends);
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

void collect_sorted(KAVU_SORT& sorter, CDB_SGATE_NETLIST* netlist, std::vector<CDB_SGATE_OTERM*>& begins,
                    std::vector<CDB_SGATE_ITERM*>& ends) {
  sorter.get_begin_oterms(netlist, begins);
  sorter.get_end_iterms(netlist, ends);
  sort_terms(begins);
  sort_terms(ends);
}

}  // namespace

void KAVU_SORT::sim_io_dump(std::vector<CDB_SGATE_OTERM*>& begins, std::vector<CDB_SGATE_ITERM*>& ends,
                            const char* base, int k) {
  std::vector<std::string> lines;
  for (const CDB_SGATE_OTERM* oterm : begins)
    lines.push_back(dump_type_column(oterm->get_my_node()) + kavu_sort_oterm_name(oterm, false));
  write_dump(std::string(base) + "_begin.tx" + std::to_string(k), lines);
  lines.clear();
  for (const CDB_SGATE_ITERM* iterm : ends)
    lines.push_back(dump_type_column(iterm->get_my_node()) + kavu_sort_iterm_name(iterm));
  write_dump(std::string(base) + "_end.tx" + std::to_string(k), lines);
}

void KAVU_SORT::order_for_simulation(CDB_SGATE_NETLIST* netlist, OTERM_LIST& ordered, SCC_MAP& scc_map) const {
  KAVU_SORT combinational(*this);
  combinational.m_sequential = false;
  combinational.m_use_non_recur = false;
  combinational.m_dont_dfs = false;
  combinational.m_user_begin_oterms = nullptr;
  combinational.m_user_end_oterms = nullptr;
  combinational.scc_oterms(netlist, ordered, scc_map, false, nullptr, nullptr, nullptr);
}

unsigned KAVU_SORT::sim_end_value(CDB_SGATE_ITERM* iterm) { return cdb_is_connected(iterm) ? sim_sgate_iterm(iterm) : 0; }

void KAVU_SORT::sim_verify(CDB_SGATE_NETLIST* netlist, int n) {
  KAVU_CHECK(netlist != nullptr);
  if (n > 0) sim_save(netlist, n);
  else sim_check(netlist);
}

void KAVU_SORT::sim_save(CDB_SGATE_NETLIST* netlist, int n) {
  const std::string path = svf_path(m_facade);
  // The file goes to a directory others may share: one that cannot be
  // written as the user's own has been warned of by the stream, naming it,
  // and the save stops there (the process goes on).
  std::orlind_ofstream out;
  out.open(path, std::ios_base::out | std::ios_base::binary | std::ios_base::trunc);
  if (!out) {
    kavu_debug("sim_save: the simulation vector file %s cannot be written", path.c_str());
    return;
  }
  std::vector<CDB_SGATE_OTERM*> begins;
  std::vector<CDB_SGATE_ITERM*> ends;
  collect_sorted(*this, netlist, begins, ends);
  kavu_debug("sim_save %d %d %d", n, int(begins.size()), int(ends.size()));
  put_u32(out, static_cast<uint32_t>(n));
  put_u32(out, static_cast<uint32_t>(begins.size()));
  put_u32(out, static_cast<uint32_t>(ends.size()));
  OTERM_LIST ordered;
  SCC_MAP scc_map;
  order_for_simulation(netlist, ordered, scc_map);
  RANDOM_15 random;
  std::vector<unsigned> begin_values(begins.size()), end_values(ends.size());
  std::vector<uint32_t> words;
  for (int v = 0; v < n; ++v) {
    // Each draw gives 15 values; a vector starts with a fresh draw.
    for (size_t i = 0; i < begins.size(); i += VALUES_PER_DRAW) {
      const unsigned r = random.next();
      for (size_t b = 0; b < VALUES_PER_DRAW && i + b < begins.size(); ++b) begin_values[i + b] = (r >> b) & 1u;
    }
    sim_netlist_comb_components(ordered, scc_map, begins, begin_values);
    for (size_t i = 0; i < ends.size(); ++i) end_values[i] = sim_end_value(ends[i]);
    pack(begin_values, words);
    for (uint32_t w : words) put_u32(out, w);
    pack(end_values, words);
    for (uint32_t w : words) put_u32(out, w);
  }
  out.close();
  if (out.fail()) kavu_debug("sim_save: the simulation vector file %s could not be written whole", path.c_str());
}

void KAVU_SORT::sim_check(CDB_SGATE_NETLIST* netlist) {
  const std::string path = svf_path(m_facade);
  std::orlind_ifstream in;
  in.open(path, std::ios_base::in | std::ios_base::binary);
  if (!in) KAVU_INTERNAL_ERROR("simulation vector file cannot be opened for reading");
  const SVF_HEADER h = read_header(in);
  std::vector<CDB_SGATE_OTERM*> begins;
  std::vector<CDB_SGATE_ITERM*> ends;
  collect_sorted(*this, netlist, begins, ends);
  const bool begins_differ = h.m_begins != begins.size();
  const bool ends_differ = h.m_ends != ends.size();
  if (begins_differ) kavu_debug("sim_verify num_begins mismatch %d %d", int(h.m_begins), int(begins.size()));
  if (ends_differ) kavu_debug("sim_verify num_ends mismatch %d %d", int(h.m_ends), int(ends.size()));
  if (begins_differ || ends_differ) {
    in.close();
    sim_io_dump(begins, ends, CHECK_DUMP_BASE, CHECK_DUMP_INDEX);
    KAVU_INTERNAL_ERROR("sim_verify error");
  }
  OTERM_LIST ordered;
  SCC_MAP scc_map;
  order_for_simulation(netlist, ordered, scc_map);
  std::vector<unsigned> begin_values(begins.size()), end_values(ends.size());
  std::vector<uint32_t> begin_words, stored_words, words;
  int failed = 0;
  for (int v = 0; v < h.m_n; ++v) {
    if (!read_words(in, words_for(begins.size()), begin_words) ||
        !read_words(in, words_for(ends.size()), stored_words))
      KAVU_INTERNAL_ERROR("simulation vector file could not be read whole");
    for (size_t i = 0; i < begins.size(); ++i)
      begin_values[i] = (begin_words[i / BITS_PER_WORD] >> (i % BITS_PER_WORD)) & 1u;
    sim_netlist_comb_components(ordered, scc_map, begins, begin_values);
    for (size_t i = 0; i < ends.size(); ++i) end_values[i] = sim_end_value(ends[i]);
    pack(end_values, words);
    if (words != stored_words) ++failed;
  }
  in.close();
  if (failed > 0) kavu_debug("sim_verify: %d of %d vectors differ", failed, h.m_n);
  if (cfg_is_on("sim_verify_debug", false) || failed > 0 || m_debug_level > 0)
    sim_io_dump(begins, ends, CHECK_DUMP_BASE, CHECK_DUMP_INDEX);
  if (failed > 0) KAVU_INTERNAL_ERROR("sim_verify error");
}

// ---------------------------------------------------------------------------
// Cone tables and the topological node list.

KAVU_01TBL* KAVU_SORT::sim_comb_cone(CDB_SGATE_OTERM* root, std::vector<CDB_SGATE_OTERM*>& sorted_cone_oterms,
                                     std::vector<CDB_SGATE_OTERM*>& leaves) {
  KAVU_CHECK(root != nullptr);
  CDB_SGATE_OTERM* oterm = root;
  KAVU_CHECK(sorted_cone_oterms.size()==0 || oterm==sorted_cone_oterms.back());
  KAVU_CHECK(leaves.size() <= KAVU_01TBL::MAX_NUM_VARS);
  KAVU_01TBL* table = new KAVU_01TBL(unsigned(leaves.size()));
  const size_t minterms = size_t(1) << leaves.size();
  for (size_t m = 0; m < minterms; ++m) {
    for (size_t i = 0; i < leaves.size(); ++i) leaves[i]->set_sim_value(unsigned((m >> i) & 1u));
    for (CDB_SGATE_OTERM* t : sorted_cone_oterms) {
      switch (t->get_my_node()->get_sgate_type()) {
        case CDB_SGATE_BUFFER_ENUM: sim_buffer_sgate(t); break;
        case CDB_SGATE_COMB_ENUM: sim_comb_sgate(t); break;
        case CDB_SGATE_IO_ENUM: sim_io_output(t); break;
        case CDB_SGATE_LUT_ENUM: sim_lut_sgate(t); break;
        case CDB_SGATE_MUX_ENUM: sim_mux_sgate(t); break;
        case CDB_SGATE_CARRY_SUM_ENUM: sim_carry_sum_sgate(t); break;
        default: KAVU_INTERNAL_ERROR("unsupported sgate type");
      }
    }
    if (root->get_sim_value() == SIM_ONE) table->set_minterm(unsigned(m));
  }
  return table;
}

KAVU_01TBL* KAVU_SORT::sim_comb_cone(CDB_SGATE_OTERM* root, std::vector<CDB_SGATE_OTERM*>& leaves) {
  std::vector<CDB_SGATE_OTERM*> cone;
  kavu_dfs_cone(root, leaves, cone);
  return sim_comb_cone(root, cone, leaves);
}

void KAVU_SORT::get_topological_order(CDB_SGATE_NETLIST* netlist, std::vector<CDB_SGATE_NODE*>& nodes,
                                      CDB_SGATE_NETLIST::CDB_RANK_ORDER_ENUM rank_order) {
  KAVU_CHECK(netlist != nullptr);
  if (rank_order != CDB_SGATE_NETLIST::INPUTS_FIRST && rank_order != CDB_SGATE_NETLIST::OUTPUTS_FIRST)
    KAVU_INTERNAL_ERROR("rank_order == CDB_SGATE_NETLIST::INPUTS_FIRST");
  {
    GEN_PROFILER profiler("KAVU", "SORTING", SORTING_PROFILE_MASK);
    netlist->garbage_collect_and_sort(true, nodes);
  }
  if (rank_order == CDB_SGATE_NETLIST::OUTPUTS_FIRST) std::reverse(nodes.begin(), nodes.end());
}
