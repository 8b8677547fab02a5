// ssc_netlist.cpp — the timing netlist: building it from gate netlists, the
// delay models, its text form in the project database, stitching a
// partition into a loaded netlist, and its topological order.
//
// Build: one pass numbers the nodes of every gate (a gate's nodes are
// consecutive, one per output slot), a second adds the arcs, so a source
// terminal's node is found from its gate's first node and its slot without
// a hash lookup. Cost O(gates + terminals).
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <string_view>

#include "cdb/cdb_sgate.h"
#include "cfg/cfg.h"
#include "cmp/cmp.h"
#include "dev/dev.h"
#include "fio/fio.h"
#include "msg/msg.h"
#include "ssc/ssc_int.h"

namespace kavu_platform {

namespace {

// A timing-netlist file's nodes and arcs take 1.5 to 3 times the file's size in memory (72
// bytes a node, 24 an arc, a name of more than 15 bytes on the heap). A file
// whose header counts records that would take more than 4 times its size
// (plus 64 MiB, which no small file reaches) is refused before they are
// made; records of the least size the format allows would take 8 times. So
// a read takes the text and about 5 times its size at most, under 3 GiB for
// the largest file taken.
uint64_t max_record_bytes(uint64_t file_bytes) { return 4 * file_bytes + (uint64_t(64) << 20); }

enum GATE_CLASS { GC_COMB, GC_SEQ, GC_IN_PIN, GC_OUT_PIN, GC_BIDIR_PIN };

GATE_CLASS classify(const CDB_SGATE_NODE* g) {
  switch (g->get_sgate_type()) {
    case CDB_SGATE_DFF_ENUM:
    case CDB_SGATE_LATCH_ENUM:
    case CDB_SGATE_SYNCHRONOUS_RAM_ENUM:
      return GC_SEQ;
    case CDB_SGATE_IO_ENUM:
      if (g->is_input()) return GC_IN_PIN;
      if (g->is_output()) return GC_OUT_PIN;
      return GC_BIDIR_PIN;
    default:
      break;
  }
  if (const CDB_SGATE_WYSIWYG* w = g->cast_to_wysiwyg()) {
    if (w->is_ff() || w->is_ram() || w->is_lutram()) return GC_SEQ;
  }
  return GC_COMB;
}

// Which inputs of a sequential gate capture data; the others (clock,
// asynchronous controls) get entries without constraint.
bool is_capture_input(const CDB_SGATE_NODE* g, unsigned slot, const CDB_SGATE_ITERM* t) {
  switch (g->get_sgate_type()) {
    case CDB_SGATE_DFF_ENUM:
      return slot == 0 || slot == 4 || slot == 7 || slot == 8;
    case CDB_SGATE_LATCH_ENUM:
      return slot == 0;
    default:
      break;
  }
  const DB_INPUT_PORT_TYPE p = t->get_port_type();
  if (const CDB_SGATE_WYSIWYG* w = g->cast_to_wysiwyg(); w && w->is_ff())
    return p == 20 || p == 8 || p == 30 || p == 31 || p == 33;
  // RAMs: everything but clocks and asynchronous clears.
  return p != 7 && p != 36 && p != 96 && p != 6;
}

const CDB_SGATE_ITERM* clock_input(const CDB_SGATE_NODE* g) {
  switch (g->get_sgate_type()) {
    case CDB_SGATE_DFF_ENUM:
    case CDB_SGATE_LATCH_ENUM:
      return g->get_input_term(1);
    default:
      break;
  }
  for (unsigned i = 0; i < g->get_number_of_input_terms(); ++i) {
    const CDB_SGATE_ITERM* t = g->get_input_term(i);
    if (t && (t->get_port_type() == 7 || t->get_port_type() == 36 || t->get_port_type() == 96)) return t;
  }
  return nullptr;
}

const CDB_SGATE_ITERM* driven_input(const CDB_SGATE_NODE* g) {
  for (unsigned i = 0; i < g->get_number_of_input_terms(); ++i) {
    const CDB_SGATE_ITERM* t = g->get_input_term(i);
    if (t && t->get_source()) return t;
  }
  return nullptr;
}

// A gate a clock passes through unchanged or inverted: buffers, inverters
// and name keepers, one-input LUTs and comb gates, clock buffers, IO buffers
// and partition boundaries (a wire for timing). Returns the input the clock
// comes from, *inverts when the gate inverts.
const CDB_SGATE_ITERM* clock_pass_input(const CDB_SGATE_NODE* g, bool* inverts) {
  *inverts = false;
  const CDB_SGATE_TYPE type = g->get_sgate_type();
  unsigned connected = 0;
  for (unsigned i = 0; i < g->get_number_of_input_terms(); ++i)
    if (cdb_is_connected(g->get_input_term(i))) ++connected;
  if (connected != 1 && type != CDB_SGATE_IO_BUF_ENUM) return nullptr;
  if (type == CDB_SGATE_BUFFER_ENUM || type == CDB_SGATE_IO_BUF_ENUM || type == CDB_SGATE_BOUNDARY_ENUM)
    return g->get_input_term(0);
  if (const CDB_SGATE_COMB* c = g->cast_to_comb()) {
    const CDB_COMB_TYPE ct = c->get_comb_type();
    *inverts = ct == CDB_COMB_NOT;
    return driven_input(g);
  }
  if (const CDB_SGATE_LUT* l = g->cast_to_lut()) {
    const CDB_SGATE_ITERM* t = driven_input(g);
    if (!t) return nullptr;
    const uint64_t m = l->get_lut_mask().get_value();
    // The mask over the one used input i: bit (1 << i) set means "passes".
    unsigned i = 0;
    while (i < g->get_number_of_input_terms() && g->get_input_term(i) != t) ++i;
    const bool when1 = (m >> (1u << i)) & 1u, when0 = m & 1u;
    if (when1 == when0) return nullptr;  // constant
    *inverts = when0;
    return t;
  }
  if (const CDB_SGATE_WYSIWYG* w = g->cast_to_wysiwyg(); w && w->is_clkbuf()) return driven_input(g);
  return nullptr;
}

// An input boundary whose driver another partition holds: the split cut
// its input (left unconnected, neither driven nor tied, the boundary marked
// cut), and only the stored netlist has its fan-in. An input boundary fed by
// logic of its own partition, or tied, is not one.
bool is_cut_input_boundary(CDB_SGATE_NODE* g) {
  const CDB_SGATE_BOUNDARY* b = g->cast_to_boundary();
  if (!b || b->get_direction() != CDB_BOUNDARY_INPUT || !b->is_cut()) return false;
  for (unsigned i = 0; i < g->get_number_of_input_terms(); ++i)
    if (const CDB_SGATE_ITERM* t = g->get_input_term(i); t && t->is_connected()) return false;
  return true;
}

const char* out_port_name(const CDB_SGATE_OTERM* t) {
  switch (t->get_port_type()) {
    case 0: return "COUT";
    case 1: return "OUT_1";
    case 8: return "SUMOUT";
    case 9: return "COMBOUT";
    case 10: return "REGOUT";
    case 41: return "PORTADATAOUT";
    case 42: return "PORTBDATAOUT";
    case 252: return "SHAREOUT";
    default: return "O";
  }
}

// The name of the timing node of gate output s, as build() names it:
// "<gate path>/<port>#<slot>".
std::string oterm_node_name(const CDB_SGATE_OTERM* s) {
  CDB_SGATE_NODE* g = s->get_my_node();
  const GATE_CLASS gc = classify(g);
  unsigned j = 0;
  while (j < g->get_output_count() && g->get_output_term(j) != s) ++j;
  const char* port = gc == GC_IN_PIN || gc == GC_BIDIR_PIN ? "PIN" : out_port_name(s);
  return g->get_string_hpath() + "/" + port + "#" + std::to_string(j);
}

}  // namespace

namespace {

// The sense of a LUT's function in input i: 1 when no minterm with the
// input at 1 is below its neighbour at 0, -1 when none is above, 0 when
// both happen (an input the function ignores passes as positive).
int lut_input_sense(const CDB_LUTMASK& mask, unsigned i) {
  const unsigned n = mask.get_num_inputs();
  if (i >= n) return 0;
  const uint64_t all = CDB_LUTMASK::get_vcc_mask(n).get_value();
  const uint64_t at1 = CDB_LUTMASK::imask(n, i).get_value();
  const uint64_t m = mask.get_value() & all;
  const unsigned shift = 1u << i;  // minterm x at 0 -> its neighbour at 1
  const bool rises = ((((m & ~at1) << shift) & ~m & at1) == 0);
  const bool falls = (((((~m & all) & ~at1) << shift) & m & at1) == 0);
  return rises ? 1 : (falls ? -1 : 0);
}

// The sense of gate g in its input t. A comb gate's sense needs no
// position (every input of AND, OR and XOR alike), so a wide gate costs no
// search per input; the other kinds look t up among their inputs, from
// place *at on (then from the start), and leave its place there.
int gate_input_sense(const CDB_SGATE_NODE* g, const CDB_SGATE_ITERM* t, unsigned* at) {
  const unsigned n = g->get_number_of_input_terms();
  if (const CDB_SGATE_COMB* c = g->cast_to_comb()) {
    switch (c->get_comb_type()) {
      case CDB_COMB_NOT: return -1;
      case CDB_COMB_XOR: {
        unsigned driven = 0;
        for (unsigned k = 0; k < n && driven < 2; ++k) driven += cdb_is_connected(g->get_input_term(k)) ? 1 : 0;
        return driven <= 1 ? 1 : 0;
      }
      default: return 1;  // AND, OR, name keeper
    }
  }
  if (n == 0) return 0;
  unsigned i = *at < n ? *at : 0;
  for (unsigned looked = 1; g->get_input_term(i) != t; ++looked) {
    if (looked == n) return 0;
    i = i + 1 < n ? i + 1 : 0;
  }
  *at = i;
  switch (g->get_sgate_type()) {
    case CDB_SGATE_BUFFER_ENUM:
    case CDB_SGATE_IO_BUF_ENUM:
    case CDB_SGATE_BOUNDARY_ENUM:  // a wire for timing
      return i == 0 ? 1 : 0;
    case CDB_SGATE_MUX_ENUM:
      return i == CDB_MUX_DATA0 || i == CDB_MUX_DATA1 ? 1 : 0;
    default:
      break;
  }
  if (const CDB_SGATE_LUT* l = g->cast_to_lut()) return lut_input_sense(l->get_lut_mask(), i);
  if (const CDB_SGATE_WYSIWYG* w = g->cast_to_wysiwyg(); w && w->is_clkbuf()) return t == driven_input(g) ? 1 : 0;
  return 0;
}

// Whether a LUT's function depends on its input i: some minterm with the
// input at 0 differs from its neighbour at 1. An input past the mask's
// inputs counts as used. Plain word arithmetic: it runs for every LUT input
// when the timing netlist is built.
bool lut_depends_on(const CDB_LUTMASK& mask, unsigned i) {
  static constexpr uint64_t kAt1[6] = {0xAAAAAAAAAAAAAAAAull, 0xCCCCCCCCCCCCCCCCull, 0xF0F0F0F0F0F0F0F0ull,
                                       0xFF00FF00FF00FF00ull, 0xFFFF0000FFFF0000ull, 0xFFFFFFFF00000000ull};
  const unsigned n = mask.get_num_inputs();
  if (i >= n || n > 6) return true;
  const uint64_t all = n == 6 ? ~uint64_t(0) : (uint64_t(1) << (1u << n)) - 1;
  const uint64_t m = mask.get_value() & all;
  return ((m & ~kAt1[i]) << (1u << i)) != (m & kAt1[i]);
}

}  // namespace

int ssc_input_sense(const CDB_SGATE_ITERM* t) {
  const CDB_SGATE_NODE* g = t ? t->get_my_node() : nullptr;
  if (!g) return 0;
  unsigned at = 0;
  const int sense = gate_input_sense(g, t, &at);
  return t->is_inverted() ? -sense : sense;
}

bool ssc_input_is_used(const CDB_SGATE_ITERM* t) {
  const CDB_SGATE_NODE* g = t ? t->get_my_node() : nullptr;
  const CDB_SGATE_LUT* lut = g ? g->cast_to_lut() : nullptr;
  if (!lut) return true;
  for (unsigned i = 0; i < g->get_number_of_input_terms(); ++i)
    if (g->get_input_term(i) == t) return lut_depends_on(lut->get_lut_mask(), i);
  return true;
}

int SSC_SENSE_READER::sense(const CDB_SGATE_ITERM* t) {
  const CDB_SGATE_NODE* g = t ? t->get_my_node() : nullptr;
  if (!g) return 0;
  if (g != m_gate) {
    m_gate = g;
    m_at = 0;
  }
  const int sense = gate_input_sense(g, t, &m_at);
  return t->is_inverted() ? -sense : sense;
}

SSC_DELAYS ssc_make_delays(CMP_FACADE* facade, SSC_DELAY_MODEL model) {
  SSC_DELAYS d;
  d.model = model;
  if (model == SSC_DELAY_MODEL_UNIT_FANOUT) d.fanout_step = cfg_get_int_value("ssc_fanout_delay", 1);
  if (model != SSC_DELAY_MODEL_TABLE) return d;
  const int lut_size = facade ? DEV_FAMILY_MANAGER::get_lut_size(facade->get_family()) : 6;
  d.lut = cfg_get_int_value("ssc_table_lut_delay", lut_size == 4 ? 250 : 300);
  d.comb = cfg_get_int_value("ssc_table_comb_delay", 150);
  d.mux = cfg_get_int_value("ssc_table_mux_delay", 200);
  d.oper = cfg_get_int_value("ssc_table_operator_delay", 500);
  d.lcell = cfg_get_int_value("ssc_table_lcell_delay", 300);
  d.carry = cfg_get_int_value("ssc_table_carry_delay", 50);
  return d;
}

int ssc_gate_delay(const CDB_SGATE_NODE* gate, const CDB_SGATE_OTERM* out, const SSC_DELAYS& d) {
  int base = 0;
  switch (gate->get_sgate_type()) {
    case CDB_SGATE_LUT_ENUM: base = d.lut; break;
    case CDB_SGATE_COMB_ENUM: base = d.comb; break;
    case CDB_SGATE_MUX_ENUM: base = d.mux; break;
    case CDB_SGATE_OPERATOR_ENUM: base = d.oper; break;
    case CDB_SGATE_CARRY_SUM_ENUM: base = d.model == SSC_DELAY_MODEL_TABLE ? d.carry : 0; break;
    default:
      if (const CDB_SGATE_WYSIWYG* w = gate->cast_to_wysiwyg();
          w && (w->is_lcell_comb() || w->is_logic_module()))
        base = d.lcell;
      break;
  }
  if (base > 0 && d.fanout_step != 0 && out)
    base = ssc_saturate(int64_t(base) + int64_t(d.fanout_step) * int64_t(out->get_number_of_fanout()));
  return base;
}

std::string SSC_NETLIST_DATA::gate_path_of(const std::string& node_name) {
  const size_t slash = node_name.rfind('/');
  return slash == std::string::npos ? node_name : node_name.substr(0, slash);
}

void SSC_NETLIST_DATA::build(const std::vector<CDB_SGATE_NETLIST*>& netlists, const SSC_DELAYS& delays) {
  nodes.clear();
  arcs.clear();
  iterms_without_arcs.clear();
  stitch_nodes.clear();
  outside_arcs.clear();
  outside_clocks.clear();
  outward_nodes.clear();
  outward_joined.clear();
  unstitched.clear();
  unread.clear();
  by_name.clear();
  names_indexed = false;
  cut_arcs = 0;
  CDB_SGATE_LABELLING boundaries;
  labelling = boundaries.digest();
  // Pass 1: node ids. first_node is indexed by gate debug number - lo.
  // The outputs of the output boundaries built, sorted: a cut input
  // boundary whose recorded driver is one of them is joined to it.
  unsigned lo = ~0u, hi = 0;
  size_t gates = 0;
  std::vector<const CDB_SGATE_OTERM*> output_boundaries;
  // The same by (debug number << 32 | output slot): the record of a
  // partition read back from its archive.
  std::vector<std::pair<uint64_t, const CDB_SGATE_OTERM*>> output_numbers;
  for (CDB_SGATE_NETLIST* nl : netlists) {
    PLAT_CHECK(nl != nullptr, "SSC");
    for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
      if (CDB_SGATE_NODE* g = *it) {
        lo = std::min(lo, g->get_id());
        hi = std::max(hi, g->get_id());
        ++gates;
        if (const CDB_SGATE_BOUNDARY* b = g->cast_to_boundary();
            b && b->get_direction() == CDB_BOUNDARY_OUTPUT && g->get_output_term(0)) {
          output_boundaries.push_back(g->get_output_term(0));
          output_numbers.emplace_back(uint64_t(g->get_debug_number()) << 32, g->get_output_term(0));
        }
      }
    }
  }
  if (gates == 0) return;
  std::sort(output_boundaries.begin(), output_boundaries.end(), std::less<>());
  std::sort(output_numbers.begin(), output_numbers.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  // The driver a split recorded for a cut input boundary (its fed-by
  // terminal), where it is the output of an output boundary built here:
  // the boundaries are joined as the design had them before the split, so
  // that a timing netlist built from the partition netlists of a split is
  // the whole design. The terminal is compared as a pointer before it is
  // used, so a record that outlived its driver is never followed. Where a
  // partition read back from its archive knows its driver by number alone,
  // the one output boundary of that number built here is its driver (two
  // of one number: none).
  auto joined_driver = [&](CDB_SGATE_NODE* g) -> const CDB_SGATE_OTERM* {
    if (output_boundaries.empty() || !is_cut_input_boundary(g)) return nullptr;
    const CDB_SGATE_BOUNDARY* b = g->cast_to_boundary();
    if (const CDB_SGATE_OTERM* fed = b->get_fed_by())
      return std::binary_search(output_boundaries.begin(), output_boundaries.end(), fed, std::less<>()) ? fed
                                                                                                        : nullptr;
    unsigned debug = 0, slot = 0;
    if (!b->get_fed_by_number(&debug, &slot)) return nullptr;
    const uint64_t key = uint64_t(debug) << 32 | slot;
    auto at = std::lower_bound(output_numbers.begin(), output_numbers.end(), key,
                               [](const auto& e, uint64_t k) { return e.first < k; });
    if (at == output_numbers.end() || at->first != key) return nullptr;
    if (at + 1 != output_numbers.end() && (at + 1)->first == key) return nullptr;
    return at->second;
  };
  // The outputs of the output boundaries some cut input boundary built
  // here is joined to: an output boundary not among them is read only in
  // other partitions (outward_nodes).
  std::vector<const CDB_SGATE_OTERM*> joined_outputs;
  std::vector<uint32_t> first_node(size_t(hi - lo) + 1, UINT32_MAX);
  std::vector<const CDB_SGATE_NODE*> order;
  order.reserve(gates);
  uint32_t count = 0;
  for (CDB_SGATE_NETLIST* nl : netlists) {
    for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
      CDB_SGATE_NODE* g = *it;
      if (!g) continue;
      first_node[g->get_id() - lo] = count;
      order.push_back(g);
      const GATE_CLASS gc = classify(g);
      unsigned n = g->get_output_count();
      if (gc == GC_OUT_PIN) n = 1;
      else if (gc == GC_BIDIR_PIN) n = std::max(1u, n) + 1;  // outputs, then the capture node
      else if (n == 0) n = 1;
      count += n;
    }
  }
  nodes.resize(count);
  arcs.reserve(count * 2);
  auto node_of = [&](const CDB_SGATE_OTERM* src) -> uint32_t {
    const CDB_SGATE_NODE* sg = src->get_my_node();
    if (sg->get_id() < lo || sg->get_id() > hi) return UINT32_MAX;
    const uint32_t base = first_node[sg->get_id() - lo];
    if (base == UINT32_MAX) return UINT32_MAX;
    for (unsigned j = 0; j < sg->get_output_count(); ++j)
      if (sg->get_output_term(j) == src) return base + j;
    return UINT32_MAX;
  };
  // The source a clock traces back to from terminal s (inverted on the way
  // when `inv`) through buffers, inverters and boundaries (a cut input
  // boundary joined to its driver too), into node `clocked`'s clock fields.
  // A source outside the netlists (the walk goes on through the gates of
  // another gate netlist, as the whole design has them) leaves -1 there and
  // is listed in outside_clocks by name, for a stored netlist to supply.
  auto trace_clock = [&](const CDB_SGATE_OTERM* s, bool inv, uint32_t clocked) {
    for (int steps = 0; s && steps < 1000; ++steps) {
      CDB_SGATE_NODE* sg = s->get_my_node();
      if (const CDB_SGATE_OTERM* joined = joined_driver(sg)) {
        s = joined;
        continue;
      }
      bool gi = false;
      const CDB_SGATE_ITERM* through = clock_pass_input(sg, &gi);
      if (!through || !through->get_source()) break;
      inv ^= gi ^ through->is_inverted();
      s = through->get_source();
    }
    if (!s) return;
    const uint32_t src = node_of(s);
    if (src == UINT32_MAX) {
      outside_clocks.push_back({clocked, inv, oterm_node_name(s)});
      return;
    }
    nodes[clocked].m_clock_source = int(src);
    nodes[clocked].m_clock_inverted = inv;
  };
  auto trace_clock_input = [&](const CDB_SGATE_ITERM* ck, uint32_t clocked) {
    if (ck) trace_clock(ck->get_source(), ck->is_inverted(), clocked);
  };
  // Pass 2: names, kinds and arcs.
  for (const CDB_SGATE_NODE* cg : order) {
    CDB_SGATE_NODE* g = const_cast<CDB_SGATE_NODE*>(cg);
    const GATE_CLASS gc = classify(g);
    const CDB_SGATE_BOUNDARY* boundary = g->cast_to_boundary();
    const uint32_t base = first_node[g->get_id() - lo];
    const std::string path = g->get_string_hpath();
    if (boundary) boundaries.add(g, path);
    const unsigned nout = g->get_output_count();
    const unsigned nn = (gc == GC_OUT_PIN) ? 1 : (gc == GC_BIDIR_PIN ? std::max(1u, nout) + 1 : std::max(1u, nout));
    for (unsigned j = 0; j < nn; ++j) {
      TDB_NODE& n = nodes[base + j];
      n.m_id = base + j;
      n.m_sgate = g;
      const bool capture_node = gc == GC_OUT_PIN || (gc == GC_BIDIR_PIN && j == nn - 1);
      CDB_SGATE_OTERM* out = capture_node ? nullptr : g->get_output_term(j);
      n.m_oterm = out;
      // The name "<path>/<port>#<slot>", made in one block of its size.
      const char* port = "PIN_OUT";
      if (capture_node) {
        n.m_kind = TDB_NODE_OUT_PORT;
      } else if (gc == GC_IN_PIN || gc == GC_BIDIR_PIN) {
        n.m_kind = TDB_NODE_IN_PORT;
        port = "PIN";
      } else {
        n.m_kind = gc == GC_SEQ ? TDB_NODE_REGISTER : TDB_NODE_COMB;
        port = out ? out_port_name(out) : "NONE";
      }
      char slot[12];
      const size_t slot_size = size_t(std::to_chars(slot, slot + sizeof slot, capture_node ? 0u : j).ptr - slot);
      const size_t port_size = std::strlen(port);
      n.m_name.reserve(path.size() + port_size + slot_size + 2);
      n.m_name.assign(path).append(1, '/').append(port, port_size).append(1, '#').append(slot, slot_size);
      n.m_arc_begin = n.m_arc_end = uint32_t(arcs.size());
      const bool first_of_seq = gc == GC_SEQ && j == 0;
      if (gc == GC_SEQ && !first_of_seq) continue;  // captures live on the first node
      if (gc == GC_IN_PIN || (gc == GC_BIDIR_PIN && !capture_node)) continue;
      const int delay = (gc == GC_COMB) ? ssc_gate_delay(g, out, delays) : 0;
      const bool carry = g->get_sgate_type() == CDB_SGATE_CARRY_SUM_ENUM;
      // An input a LUT's function ignores has no arc, as a cell whose timing
      // arcs follow its function has none: no path runs through it, and no
      // loop closes through it. A driven input that gets no arc of its gate
      // is listed once (at the gate's first node that reads its inputs; a
      // carry input at its own output's node, or at the first when it has
      // none), so its terminal still gets an entry.
      const CDB_SGATE_LUT* lut = gc == GC_COMB ? g->cast_to_lut() : nullptr;
      const bool first_reader = j == 0 || capture_node;
      // A cut input boundary: joined to the driver the split recorded where
      // that is built here (a wire: no delay, positive), else stitched.
      const CDB_SGATE_OTERM* joined = boundary && first_reader ? joined_driver(g) : nullptr;
      if (joined) {
        arcs.push_back(TDB_ARC{node_of(joined), 0, nullptr, TDB_ARC_DATA, 1});
        joined_outputs.push_back(joined);
      } else if (boundary && first_reader && is_cut_input_boundary(g)) {
        stitch_nodes.push_back(base + j);
      } else if (boundary && j == 0 && boundary->is_cut() && boundary->get_direction() == CDB_BOUNDARY_OUTPUT &&
                 out) {
        outward_nodes.push_back(base);
      }
      for (unsigned i = 0; i < g->get_number_of_input_terms(); ++i) {
        CDB_SGATE_ITERM* t = g->get_input_term(i);
        if (!t || !t->get_source()) continue;
        if (carry && i != j) {
          if (j == 0 && i >= nn) iterms_without_arcs.push_back(t);
          continue;
        }
        const bool lists = carry || first_reader;
        if (lut && !lut_depends_on(lut->get_lut_mask(), i)) {
          if (lists) iterms_without_arcs.push_back(t);
          continue;
        }
        uint8_t kind = TDB_ARC_DATA;
        if (gc == GC_SEQ) kind = is_capture_input(g, i, t) ? TDB_ARC_CAPTURE : TDB_ARC_UNCONSTRAINED;
        else if (capture_node) kind = TDB_ARC_CAPTURE;
        const TDB_ARC arc{node_of(t->get_source()), kind == TDB_ARC_DATA ? delay : 0, t, kind};
        if (arc.m_src == UINT32_MAX) {
          // A source outside the netlists: the terminal has no arc here (an
          // unreached terminal's entry), and the arc is kept for a stored
          // netlist that holds the source.
          if (lists) iterms_without_arcs.push_back(t);
          outside_arcs.push_back({base + j, arc, oterm_node_name(t->get_source())});
          continue;
        }
        arcs.push_back(arc);
      }
      n.m_arc_end = uint32_t(arcs.size());
      // A register's clock source; an input boundary's too, so that a
      // partition that takes the boundary's fan-in from a stored netlist
      // clocks its registers behind it from the same source, on the same
      // edge, as the whole design (merge_loaded).
      if (first_of_seq) {
        trace_clock_input(clock_input(g), base);
      } else if (boundary && j == 0 && boundary->get_direction() == CDB_BOUNDARY_INPUT) {
        if (joined) trace_clock(joined, false, base);
        else trace_clock_input(g->get_input_term(0), base);
      }
    }
    // Further outputs of a sequential gate launch with the first one's clock.
    if (gc == GC_SEQ) {
      const bool outside = !outside_clocks.empty() && outside_clocks.back().node == base;
      for (unsigned j = 1; j < nn; ++j) {
        nodes[base + j].m_clock_source = nodes[base].m_clock_source;
        nodes[base + j].m_clock_inverted = nodes[base].m_clock_inverted;
        if (outside) outside_clocks.push_back({base + j, outside_clocks.back().inverted, outside_clocks.back().source});
      }
    }
  }
  if (!outward_nodes.empty()) {
    std::sort(joined_outputs.begin(), joined_outputs.end(), std::less<>());
    outward_joined.resize(outward_nodes.size());
    for (size_t k = 0; k < outward_nodes.size(); ++k)
      outward_joined[k] = std::binary_search(joined_outputs.begin(), joined_outputs.end(),
                                             static_cast<const CDB_SGATE_OTERM*>(nodes[outward_nodes[k]].m_oterm),
                                             std::less<>());
  }
  labelling = boundaries.digest();
}

int SSC_NETLIST_DATA::find(const std::string& name) const {
  index_names();
  auto it = by_name.find(name);
  return it == by_name.end() ? -1 : int(it->second);
}

void SSC_NETLIST_DATA::index_names() const {
  if (names_indexed) return;
  by_name.clear();
  by_name.reserve(nodes.size());
  for (const TDB_NODE& n : nodes) by_name.emplace(n.m_name, n.m_id);
  names_indexed = true;
}

void SSC_NETLIST_DATA::drop_gate_pointers() {
  // A data arc keeps its gate's sense in its input: clocks pass it by that
  // where the gate is gone (a stored netlist).
  for (TDB_NODE& n : nodes) {
    SSC_SENSE_READER senses;
    for (uint32_t k = n.m_arc_begin; k < n.m_arc_end; ++k)
      if (arcs[k].m_iterm && arcs[k].m_kind == TDB_ARC_DATA) arcs[k].m_sense = int8_t(senses.sense(arcs[k].m_iterm));
    n.m_oterm = nullptr;
    n.m_sgate = nullptr;
  }
  for (TDB_ARC& a : arcs) a.m_iterm = nullptr;
  iterms_without_arcs.clear();
  stitch_nodes.clear();
  outside_arcs.clear();
  outside_clocks.clear();
  outward_nodes.clear();
  outward_joined.clear();
}

// An output boundary a split cut (outward_nodes) takes its readers in other
// partitions from the loaded netlist: the loaded nodes, appended here, that
// read a node of its name. It is served where those readers are the gates
// of other partitions the split found it feeding (their paths the boundary
// records, CDB_SGATE_BOUNDARY::get_readers): every appended reader from
// which a sink is reached in the loaded netlist is one of them (a reader
// of another partitioning's boundary of the same name is not), and every
// one of them reads it there, or is there with no fan-in at all (its
// partition's synthesis tied its input, as the partition's stored netlist
// records). Readers in this netlist are its own, edits and all. So a loaded
// netlist stored before the labelling (the boundary and its readers
// missing) or for another partitioning (the boundary missing, or read by
// other gates) does not serve it. A boundary that records no readers
// (split by an earlier version) is served where an appended node reads it
// or a cut input boundary here is joined to it, or where nothing was there
// to lose: the loaded netlist lacks the boundary and reads its driver
// nowhere but in this netlist's gates. Either kind without fan-in (its
// input tied) is served. Those not served are listed in `unread`.
// O(loaded nodes + loaded arcs), a sort of the boundaries' readers, and a
// pass over the loaded names only where a recorded reader does not read
// the boundary.
void SSC_NETLIST_DATA::check_outward_nodes(const SSC_NETLIST_DATA& loaded, const std::vector<uint32_t>& map,
                                           uint32_t own) {
  // Per own node: whether a loaded node of its name is there, and whether
  // an appended node reads it.
  enum : char { HELD = 1, READ = 2 };
  std::vector<char> marks(own, 0);
  for (const TDB_NODE& ln : loaded.nodes)
    if (const uint32_t to = map[ln.m_id]; to < own) marks[to] |= HELD;
  for (uint32_t to = own; to < nodes.size(); ++to)
    for (uint32_t a = nodes[to].m_arc_begin; a < nodes[to].m_arc_end; ++a)
      if (arcs[a].m_src < own) marks[arcs[a].m_src] |= READ;
  // The loaded nodes from which a sink is reached in the loaded netlist: a
  // walk back from its registers and output ports over every arc.
  std::vector<char> live(loaded.nodes.size(), 0);
  std::vector<uint32_t> work;
  for (const TDB_NODE& ln : loaded.nodes)
    if (ln.m_kind == TDB_NODE_REGISTER || ln.m_kind == TDB_NODE_OUT_PORT) {
      live[ln.m_id] = 1;
      work.push_back(ln.m_id);
    }
  while (!work.empty()) {
    const TDB_NODE& ln = loaded.nodes[work.back()];
    work.pop_back();
    for (uint32_t a = ln.m_arc_begin; a < ln.m_arc_end; ++a)
      if (!live[loaded.arcs[a].m_src]) {
        live[loaded.arcs[a].m_src] = 1;
        work.push_back(loaded.arcs[a].m_src);
      }
  }
  // Each boundary's appended readers: (place in outward_nodes, loaded id).
  std::vector<uint32_t> place(own, UINT32_MAX);
  for (size_t k = 0; k < outward_nodes.size(); ++k) place[outward_nodes[k]] = uint32_t(k);
  std::vector<std::pair<uint32_t, uint32_t>> readers;
  for (const TDB_NODE& ln : loaded.nodes) {
    if (map[ln.m_id] < own) continue;
    for (uint32_t a = ln.m_arc_begin; a < ln.m_arc_end; ++a)
      if (const uint32_t src = map[loaded.arcs[a].m_src]; src < own && place[src] != UINT32_MAX)
        readers.emplace_back(place[src], ln.m_id);
  }
  std::sort(readers.begin(), readers.end());
  auto path_of = [](const std::string& name) { return std::string_view(name).substr(0, name.rfind('/')); };
  // Recorded readers that do not read their boundary here: (boundary
  // place, path), looked for among the loaded names afterwards.
  std::vector<std::pair<uint32_t, std::string_view>> absent;
  std::vector<char> served(outward_nodes.size(), 1), found;
  size_t r = 0;
  for (size_t k = 0; k < outward_nodes.size(); ++k) {
    const uint32_t o = outward_nodes[k];
    const size_t first = r;
    while (r < readers.size() && readers[r].first == k) ++r;
    const TDB_NODE& n = nodes[o];
    if (n.m_arc_begin == n.m_arc_end) continue;  // no fan-in: nothing to lose
    const CDB_SGATE_BOUNDARY* b = n.m_sgate ? n.m_sgate->cast_to_boundary() : nullptr;
    const std::vector<std::string>* recorded = b ? b->get_readers() : nullptr;
    const char m = marks[o];
    if (!recorded) {
      if ((m & READ) || outward_joined[k]) continue;
      uint32_t driver = UINT32_MAX;
      for (uint32_t a = n.m_arc_begin; a < n.m_arc_end && driver == UINT32_MAX; ++a)
        if (arcs[a].m_kind == TDB_ARC_DATA) driver = arcs[a].m_src;
      served[k] = !(m & HELD) && driver < own && marks[driver] == HELD;
      continue;
    }
    found.assign(recorded->size(), 0);
    for (size_t q = first; q < r && served[k]; ++q) {
      const TDB_NODE& ln = loaded.nodes[readers[q].second];
      const std::string_view path = path_of(ln.m_name);
      auto at = std::lower_bound(recorded->begin(), recorded->end(), path,
                                 [](const std::string& x, std::string_view y) { return std::string_view(x) < y; });
      if (at != recorded->end() && std::string_view(*at) == path) found[size_t(at - recorded->begin())] = 1;
      else if (live[ln.m_id]) served[k] = 0;  // a reader the split did not find
    }
    for (size_t q = 0; q < recorded->size() && served[k]; ++q)
      if (!found[q]) absent.emplace_back(uint32_t(k), std::string_view((*recorded)[q]));
  }
  if (!absent.empty()) {
    // Each such reader must be a loaded node without fan-in.
    std::sort(absent.begin(), absent.end(), [](const auto& x, const auto& y) { return x.second < y.second; });
    std::vector<char> tied(absent.size(), 0);
    for (const TDB_NODE& ln : loaded.nodes) {
      const std::string_view path = path_of(ln.m_name);
      auto at = std::lower_bound(absent.begin(), absent.end(), path,
                                 [](const auto& x, std::string_view y) { return x.second < y; });
      for (; at != absent.end() && at->second == path; ++at)
        tied[size_t(at - absent.begin())] = ln.m_arc_begin == ln.m_arc_end;
    }
    for (size_t q = 0; q < absent.size(); ++q)
      if (!tied[q]) served[absent[q].first] = 0;
  }
  for (size_t k = 0; k < outward_nodes.size(); ++k)
    if (!served[k]) unread.push_back(outward_nodes[k]);
}

void SSC_NETLIST_DATA::merge_loaded(const SSC_NETLIST_DATA& loaded) {
  index_names();
  unstitched.clear();
  unread.clear();
  const uint32_t own = uint32_t(nodes.size());
  // Loaded id -> merged id: a node of the same name here, else appended.
  std::vector<uint32_t> map(loaded.nodes.size());
  uint32_t next = own;
  for (const TDB_NODE& ln : loaded.nodes) {
    auto it = by_name.find(ln.m_name);
    map[ln.m_id] = it != by_name.end() ? it->second : next++;
  }
  std::vector<TDB_ARC> merged_arcs;
  merged_arcs.reserve(arcs.size() + loaded.arcs.size() + outside_arcs.size());
  nodes.resize(next);
  auto copy_loaded_arcs = [&](const TDB_NODE& ln) {
    for (uint32_t a = ln.m_arc_begin; a < ln.m_arc_end; ++a) {
      TDB_ARC arc = loaded.arcs[a];
      arc.m_src = map[arc.m_src];
      arc.m_iterm = nullptr;
      merged_arcs.push_back(arc);
    }
  };
  // The loaded node of a name outside this netlist (-1: none); the loaded
  // names are indexed only where some fan-in or clock comes from outside.
  auto loaded_node = [&](const std::string& name) { return loaded.find(name); };
  // Own nodes whose data fan-in from outside the loaded netlist lacks; and
  // those it leaves without a captured input (registers, output pins) or a
  // register without its clock source: these always lose paths.
  std::vector<uint32_t> lost_fanin, lost_always;
  // Own nodes keep their arcs; an input boundary a split cut from its
  // driver (stitch_nodes) takes the loaded node's fan-in from other
  // partitions, and a gate fed from outside the netlist takes, beside its
  // own, an arc from each outside source the loaded netlist holds. Any
  // other node without fan-in (a LUT whose function became constant, a
  // gate whose inputs are all tied, an input pin) has none here, whatever
  // it had when the netlist was stored.
  std::vector<int> loaded_of(own, -1);
  for (uint32_t id : stitch_nodes)
    if (id < own) loaded_of[id] = -2;
  if (!stitch_nodes.empty())
    for (const TDB_NODE& ln : loaded.nodes)
      if (map[ln.m_id] < own && loaded_of[map[ln.m_id]] == -2) loaded_of[map[ln.m_id]] = int(ln.m_id);
  size_t next_outside = 0;
  for (uint32_t i = 0; i < own; ++i) {
    TDB_NODE& n = nodes[i];
    const uint32_t b = uint32_t(merged_arcs.size());
    if (loaded_of[i] != -1) {
      const TDB_NODE* ln = loaded_of[i] >= 0 ? &loaded.nodes[uint32_t(loaded_of[i])] : nullptr;
      if (ln && ln->m_arc_begin < ln->m_arc_end) {
        // Its fan-in and, for an input boundary, where its clock traces back
        // to there (a partition's netlist stored from this one keeps it).
        copy_loaded_arcs(*ln);
        if (ln->m_clock_source >= 0 && n.m_kind == TDB_NODE_COMB) {
          n.m_clock_source = int(map[uint32_t(ln->m_clock_source)]);
          n.m_clock_inverted = ln->m_clock_inverted;
        }
      } else {
        loaded_of[i] = -1;  // no driver in the loaded netlist
        lost_fanin.push_back(i);
      }
    } else {
      merged_arcs.insert(merged_arcs.end(), arcs.begin() + n.m_arc_begin, arcs.begin() + n.m_arc_end);
    }
    for (; next_outside < outside_arcs.size() && outside_arcs[next_outside].node == i; ++next_outside) {
      const OUTSIDE_ARC& o = outside_arcs[next_outside];
      const int l = loaded_node(o.source);
      if (l >= 0) {
        merged_arcs.push_back(o.arc);
        merged_arcs.back().m_src = map[uint32_t(l)];
      } else if (o.arc.m_kind == TDB_ARC_CAPTURE) {
        lost_always.push_back(i);
      } else if (o.arc.m_kind == TDB_ARC_DATA && (lost_fanin.empty() || lost_fanin.back() != i)) {
        lost_fanin.push_back(i);
      }
    }
    n.m_arc_begin = b;
    n.m_arc_end = uint32_t(merged_arcs.size());
  }
  for (const TDB_NODE& ln : loaded.nodes) {
    const uint32_t to = map[ln.m_id];
    if (to < own) continue;
    TDB_NODE& n = nodes[to];
    n.m_name = ln.m_name;
    n.m_id = to;
    n.m_kind = ln.m_kind;
    n.m_clock_source = ln.m_clock_source < 0 ? -1 : int(map[ln.m_clock_source]);
    n.m_clock_inverted = ln.m_clock_inverted;
    n.m_arc_begin = uint32_t(merged_arcs.size());
    copy_loaded_arcs(ln);
    n.m_arc_end = uint32_t(merged_arcs.size());
  }
  arcs.swap(merged_arcs);
  names_indexed = false;
  if (!outward_nodes.empty()) check_outward_nodes(loaded, map, own);
  // A clock from outside the netlist: the loaded node of its source, or
  // where that is an input boundary, the source its clock traces back to
  // there (recorded in its clock fields), as in the whole design.
  for (const OUTSIDE_CLOCK& c : outside_clocks) {
    const int l = loaded_node(c.source);
    if (l < 0) {
      if (nodes[c.node].m_kind == TDB_NODE_REGISTER) lost_always.push_back(c.node);
      continue;
    }
    const TDB_NODE& ln = loaded.nodes[uint32_t(l)];
    const bool through = ln.m_kind == TDB_NODE_COMB && ln.m_clock_source >= 0;
    nodes[c.node].m_clock_source = int(map[through ? uint32_t(ln.m_clock_source) : uint32_t(l)]);
    nodes[c.node].m_clock_inverted = c.inverted != (through && ln.m_clock_inverted);
  }
  // A register whose clock traces back to an input boundary that took the
  // loaded fan-in is clocked from where the boundary's clock traces back to
  // there, on the edge it arrives on, as in the whole design.
  for (uint32_t i = 0; i < own; ++i) {
    TDB_NODE& r = nodes[i];
    const int s = r.m_clock_source;
    if (r.m_kind != TDB_NODE_REGISTER || s < 0 || uint32_t(s) >= own || loaded_of[s] < 0) continue;
    const TDB_NODE& b = nodes[uint32_t(s)];
    if (b.m_kind != TDB_NODE_COMB || b.m_clock_source < 0) continue;
    r.m_clock_source = b.m_clock_source;
    r.m_clock_inverted = r.m_clock_inverted != b.m_clock_inverted;
  }
  if (lost_fanin.empty() && lost_always.empty()) return;
  // What the lost fan-in costs: nothing where no path from it ends at a
  // capture and it clocks no register (a boundary a split added for a
  // state machine's control, read by nothing timed). The nodes from which
  // a capture or a register's clock source is reached over data arcs, by a
  // walk back from those, each node's arcs naming its sources.
  std::vector<char> reaches(nodes.size(), 0);
  std::vector<uint32_t> work;
  for (const TDB_NODE& n : nodes) {
    if (n.m_kind == TDB_NODE_REGISTER && n.m_clock_source >= 0 && !reaches[uint32_t(n.m_clock_source)]) {
      reaches[uint32_t(n.m_clock_source)] = 1;
      work.push_back(uint32_t(n.m_clock_source));
    }
    for (uint32_t a = n.m_arc_begin; a < n.m_arc_end; ++a)
      if (arcs[a].m_kind == TDB_ARC_CAPTURE && !reaches[arcs[a].m_src]) {
        reaches[arcs[a].m_src] = 1;
        work.push_back(arcs[a].m_src);
      }
  }
  while (!work.empty()) {
    const TDB_NODE& n = nodes[work.back()];
    work.pop_back();
    for (uint32_t a = n.m_arc_begin; a < n.m_arc_end; ++a)
      if (arcs[a].m_kind == TDB_ARC_DATA && !reaches[arcs[a].m_src]) {
        reaches[arcs[a].m_src] = 1;
        work.push_back(arcs[a].m_src);
      }
  }
  for (uint32_t i : lost_fanin)
    if (reaches[i]) unstitched.push_back(i);
  unstitched.insert(unstitched.end(), lost_always.begin(), lost_always.end());
  std::sort(unstitched.begin(), unstitched.end());
  unstitched.erase(std::unique(unstitched.begin(), unstitched.end()), unstitched.end());
}

namespace {

// The text of a timing-netlist file, made in a buffer that goes to the file
// a megabyte at a time, with a count of its bytes: a text that would pass
// the bound stops at the line that passes it, before that line is written.
// Numbers are written straight into the buffer (a few bytes a field, some
// ten fields a line), which grows only for a line longer than its room.
class TDB_FILE_WRITER {
 public:
  TDB_FILE_WRITER(FIO_FILE_REPLACEMENT* out, uint64_t max_bytes)
      : m_out(out), m_max(max_bytes), m_cap(kChunk + 4096), m_buf(new char[m_cap]) {}
  template <class T>
  TDB_FILE_WRITER& operator<<(T value) {
    room(24);
    m_len = size_t(std::to_chars(m_buf.get() + m_len, m_buf.get() + m_cap, value).ptr - m_buf.get());
    return *this;
  }
  TDB_FILE_WRITER& operator<<(std::string_view text) {
    room(text.size());
    std::memcpy(m_buf.get() + m_len, text.data(), text.size());
    m_len += text.size();
    return *this;
  }
  TDB_FILE_WRITER& operator<<(const char* text) { return *this << std::string_view(text); }
  // Ends a line; false once the text passes the bound or the file fails.
  bool end_line() {
    room(1);
    m_buf[m_len++] = '\n';
    if (m_written + m_len > m_max) {
      m_over = true;
      return false;
    }
    return m_len < kChunk || flush();
  }
  bool flush() {
    const bool ok = m_out->write(std::string_view(m_buf.get(), m_len));
    m_written += m_len;
    m_len = 0;
    return ok;
  }
  bool over() const { return m_over; }

 private:
  static constexpr size_t kChunk = size_t(1) << 20;
  void room(size_t n) {
    if (m_len + n <= m_cap) return;
    const size_t cap = std::max(2 * m_cap, m_len + n);
    std::unique_ptr<char[]> bigger(new char[cap]);
    std::memcpy(bigger.get(), m_buf.get(), m_len);
    m_buf.swap(bigger);
    m_cap = cap;
  }
  FIO_FILE_REPLACEMENT* m_out;
  uint64_t m_max;
  uint64_t m_written = 0;
  bool m_over = false;
  size_t m_cap;
  size_t m_len = 0;
  std::unique_ptr<char[]> m_buf;
};

// A digest as 32 hexadecimal digits, high half first.
std::string digest_text(const SSC_NETLIST_DIGEST& d) {
  char text[33];
  std::snprintf(text, sizeof text, "%016llx%016llx", static_cast<unsigned long long>(d.hi),
                static_cast<unsigned long long>(d.lo));
  return text;
}

// Reads 32 hexadecimal digits as written by digest_text.
bool digest_of_text(std::string_view text, SSC_NETLIST_DIGEST* d) {
  if (text.size() != 32) return false;
  auto half = [](std::string_view h, uint64_t* v) {
    for (char c : h)
      if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    return std::from_chars(h.data(), h.data() + h.size(), *v, 16).ec == std::errc();
  };
  return half(text.substr(0, 16), &d->hi) && half(text.substr(16), &d->lo);
}

// The whole text into `out`, the last buffer included; false as end_line.
// The header is followed by the stamp: "S <the netlist's own digest> <the
// generic netlist's digest, or ->" (see SSC_NETLIST_STAMP). Each arc record
// ends in the sense of its gate in the arc's input (TDB_ARC::m_sense).
// `own` (may be null): the netlist's own digest where the caller made it.
bool write_tdb_text(const SSC_NETLIST_DATA& data, TDB_FILE_WRITER& out, const SSC_NETLIST_DIGEST* known) {
  bool ok = (out << "TDB " << SSC_TDB_FILE_VERSION << " " << uint64_t(data.nodes.size()) << " "
                 << uint64_t(data.arcs.size()))
                .end_line();
  const SSC_NETLIST_STAMP& stamp = data.stamp;
  const std::string own = digest_text(known ? *known : ssc_stored_netlist_digest(data));
  const std::string generic = stamp.from_generic ? digest_text(stamp.generic) : std::string("-");
  ok = ok && (out << "S " << std::string_view(own) << " " << std::string_view(generic)).end_line();
  for (size_t i = 0; ok && i < data.nodes.size(); ++i) {
    const TDB_NODE& n = data.nodes[i];
    ok = (out << "N " << int(n.get_kind()) << " " << n.get_clock_source() << " "
              << (n.clock_is_inverted() ? "1 " : "0 ") << (SSC_NETLIST_DATA::arc_end(n) - SSC_NETLIST_DATA::arc_begin(n))
              << " " << std::string_view(n.get_string_name()))
             .end_line();
    SSC_SENSE_READER senses;
    for (uint32_t a = SSC_NETLIST_DATA::arc_begin(n); ok && a < SSC_NETLIST_DATA::arc_end(n); ++a)
      ok = (out << "A " << data.arcs[a].m_src << " " << data.arcs[a].m_delay << " " << int(data.arcs[a].m_kind) << " "
                << senses.sense(data.arcs[a]))
               .end_line();
  }
  return ok && out.flush();
}

}  // namespace

SSC_NETLIST_DIGEST ssc_stored_netlist_digest(const SSC_NETLIST_DATA& data) {
  // The senses in the file's order (each node's arcs in turn), two bits an
  // arc, 32 arcs a word, each word and then the arc count mixed into both
  // halves of the digest of the other fields (splitmix64's finalizer): a
  // sense that differs gives another digest.
  SSC_NETLIST_DIGEST d = ssc_netlist_file_digest(data);
  auto mix = [](uint64_t k) {
    k = (k ^ (k >> 30)) * 0xbf58476d1ce4e5b9ull;
    k = (k ^ (k >> 27)) * 0x94d049bb133111ebull;
    return k ^ (k >> 31);
  };
  auto add = [&](uint64_t word) {
    d.lo = mix(d.lo ^ word);
    d.hi = mix(d.hi + word + 0x9e3779b97f4a7c15ull);
  };
  uint64_t word = 0, count = 0;
  unsigned filled = 0;
  for (const TDB_NODE& n : data.nodes) {
    const uint32_t e = std::min<uint32_t>(SSC_NETLIST_DATA::arc_end(n), uint32_t(data.arcs.size()));
    SSC_SENSE_READER senses;
    for (uint32_t k = SSC_NETLIST_DATA::arc_begin(n); k < e; ++k, ++count) {
      word = word << 2 | uint64_t(uint8_t(senses.sense(data.arcs[k])) & 3u);
      if (++filled == 32) {
        add(word);
        word = 0;
        filled = 0;
      }
    }
  }
  add(word);
  add(count);
  return d;
}

bool SSC_NETLIST_DATA::write_file(const std::string& path, std::string* problem, uint64_t max_bytes) const {
  return write_text_file(path, false, problem, max_bytes);
}

bool SSC_NETLIST_DATA::store_file(const std::string& path, std::string* problem,
                                  const SSC_NETLIST_DIGEST* digest) const {
  return write_text_file(path, true, problem, SSC_MAX_TDB_FILE_BYTES, digest);
}

bool SSC_NETLIST_DATA::write_text_file(const std::string& path, bool own, std::string* problem, uint64_t max_bytes,
                                       const SSC_NETLIST_DIGEST* digest) const {
  std::string unused;
  std::string& why = problem ? *problem : unused;
  // A name is the rest of its line, read up to the line end, and the reader
  // refuses a NUL byte: a name holding either is refused before anything is
  // written.
  for (const TDB_NODE& n : nodes) {
    const std::string& name = n.m_name;
    if (name.find('\n') != std::string::npos || name.find('\0') != std::string::npos) {
      why = "the node name \"" + msg_printable_text(name, 80, true) +
            "\" holds a line end or a NUL byte, which a timing-netlist file cannot hold; not written";
      return false;
    }
  }
  // The text is made once, a megabyte at a time, and goes to the file the
  // platform's way (FIO_FILE_REPLACEMENT): to a temporary beside the target,
  // or held until the commit where the target is written in place. A text
  // that passes the bound stops at the line that passes it and is dropped
  // there, so whatever is at the path stays as it was.
  FIO_FILE_REPLACEMENT file;
  if (!(own ? file.open_own_file(path, &why) : file.open(path, &why))) return false;
  TDB_FILE_WRITER out(&file, max_bytes);
  if (!write_tdb_text(*this, out, digest) && out.over()) {
    file.abandon();
    return why = "the timing netlist takes more than " + std::to_string(max_bytes) +
                 " bytes, the most a timing-netlist file may hold; not written",
           false;
  }
  return file.commit(&why);
}

namespace {

// The fields of a timing-netlist file, read as views into its text: nothing
// of the file is copied but the node names. Words are separated by blanks
// and line ends, as the writer puts them.
class TDB_FILE_CURSOR {
 public:
  explicit TDB_FILE_CURSOR(std::string_view text) : m_text(text) {}

  std::string_view word() {
    skip_blanks();
    const size_t begin = m_at;
    while (m_at < m_text.size() && !is_blank(m_text[m_at])) ++m_at;
    return m_text.substr(begin, m_at - begin);
  }
  // The next word as a number of type T: false for anything else (other
  // characters, a value out of the type's range). The number is read where
  // it stands, the word passed only where it is not one.
  template <class T>
  bool number(T* value) {
    skip_blanks();
    const char* begin = m_text.data() + m_at;
    const char* end = m_text.data() + m_text.size();
    const auto [stop, ec] = std::from_chars(begin, end, *value);
    if (ec == std::errc() && stop != begin && (stop == end || is_blank(*stop))) {
      m_at = size_t(stop - m_text.data());
      return true;
    }
    word();
    return false;
  }
  // Whether the next word is the one character c (a record's tag); the
  // word is passed either way.
  bool tag(char c) {
    skip_blanks();
    if (m_at < m_text.size() && m_text[m_at] == c && (m_at + 1 == m_text.size() || is_blank(m_text[m_at + 1]))) {
      ++m_at;
      return true;
    }
    word();
    return false;
  }
  // A node's name: the rest of the line after the one byte that ends the
  // arc count; the line end is passed.
  std::string_view rest_of_line() {
    if (m_at < m_text.size() && m_text[m_at] != '\n') ++m_at;
    const size_t end = std::min(m_text.find('\n', m_at), m_text.size());
    const std::string_view rest = m_text.substr(m_at, end - m_at);
    m_at = end < m_text.size() ? end + 1 : end;
    return rest;
  }
  bool at_end() {
    skip_blanks();
    return m_at == m_text.size();
  }
  size_t left() const { return m_text.size() - m_at; }
  // Marks the start of the next record (or the end of the text), so that a
  // problem found anywhere in the record names the line the record starts
  // on, even when a missing field made the read run on into the next line.
  void begin_record() {
    skip_blanks();
    m_record = m_at;
  }
  // The line of the record begun last (1 the first), for messages.
  size_t record_line() const { return line_of(m_text, m_record); }
  static size_t line_of(std::string_view text, size_t at) {
    return 1 + size_t(std::count(text.begin(), text.begin() + std::min(at, text.size()), '\n'));
  }

 private:
  // ' ', '\t', '\n', '\v', '\f' and '\r'.
  static bool is_blank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
  void skip_blanks() {
    while (m_at < m_text.size() && is_blank(m_text[m_at])) ++m_at;
  }

  std::string_view m_text;
  size_t m_at = 0;
  size_t m_record = 0;
};

// The stamp record: of versions 3 and 4 (see write_tdb_text; only this
// version's is known), or of version 2, "S <generic digest or -> <count>
// <the pins' digests or ->", read whole (a damaged one is refused) though
// it says nothing a read can use now.
bool read_stamp_record(TDB_FILE_CURSOR& in, uint32_t version, SSC_NETLIST_STAMP* stamp) {
  if (in.word() != "S") return false;
  stamp->version = version;
  const std::string_view first = in.word();
  if (version >= 3) {
    stamp->known = version == uint32_t(SSC_TDB_FILE_VERSION);
    if (!digest_of_text(first, &stamp->own)) return false;
    const std::string_view origin = in.word();
    stamp->from_generic = origin != "-";
    return !stamp->from_generic || digest_of_text(origin, &stamp->generic);
  }
  SSC_NETLIST_DIGEST d;
  if (first != "-" && !digest_of_text(first, &d)) return false;
  uint64_t count = 0;
  if (!in.number(&count)) return false;
  const std::string_view digests = in.word();
  if (count == 0) return digests == "-";
  if (digests.size() / 32 != count || digests.size() % 32 != 0) return false;
  for (size_t k = 0; k < count; ++k)
    if (!digest_of_text(digests.substr(32 * k, 32), &d)) return false;
  return true;
}

}  // namespace

bool SSC_NETLIST_DATA::read_file(const std::string& path, std::string* problem, uint64_t max_bytes) {
  // Only a regular file is read (a FIFO would wait for a writer, a device
  // such as /dev/zero never ends, a directory is no netlist), within the
  // size bound; memory the system refuses is a problem, never an exception.
  std::string unused;
  std::string& why = problem ? *problem : unused;
  try {
    std::string text;
    if (!FIO_FILE_SYSTEM::read_regular_file(path, max_bytes, &text, &why)) return false;
    return read_text(text, &why);
  } catch (const std::bad_alloc&) {
    why = "not enough memory to read the file";
    return false;
  }
}

bool SSC_NETLIST_DATA::read_text(std::string_view text, std::string* problem) {
  TDB_FILE_CURSOR in(text);
  in.begin_record();
  auto refuse = [&](const std::string& what) {
    *problem = "line " + std::to_string(in.record_line()) + ": " + what;
    return false;
  };
  uint32_t version = 0;
  uint64_t nn = 0, na = 0;
  if (in.word() != "TDB" || !in.number(&version) || version < 1 || version > uint32_t(SSC_TDB_FILE_VERSION) ||
      !in.number(&nn) || !in.number(&na))
    return refuse("not a timing-netlist file of version 1 to 4 (\"TDB 4 <nodes> <arcs>\" expected)");
  // Versions 2 to 4 stamp the file (a file of version 1 tells nothing:
  // its stamp is not known); only version 4's stamp is known now.
  SSC_NETLIST_STAMP read_stamp;
  read_stamp.version = version;
  if (version >= 2) {
    in.begin_record();
    if (!read_stamp_record(in, version, &read_stamp))
      return refuse(version >= 3 ? "malformed stamp (\"S <digest> <generic digest or ->\" expected)"
                                 : "malformed stamp (\"S <generic digest or -> <count> <digests or ->\" expected)");
  }
  const size_t stamp_line = in.record_line();
  // Version 4 gives each arc the sense of its gate in the arc's input;
  // earlier ones none (read as binate: nothing takes such a file).
  const bool with_senses = version >= 4;
  // The header's counts are checked against the bytes that follow before
  // anything is sized by them: a node line takes at least 9 bytes
  // ("N k c i n"), an arc line at least 7 ("A s d k"). Node ids are 32 bits.
  // Their records must also fit the memory bound (max_record_bytes).
  const uint64_t bytes = in.left();
  if (nn > UINT32_MAX || nn > bytes / 9 || na > bytes / 7 || nn * 9 + na * 7 > bytes + 1)
    return refuse("the header counts more nodes or arcs than the file holds");
  if (nn * sizeof(TDB_NODE) + na * sizeof(TDB_ARC) > max_record_bytes(text.size()))
    return refuse("the header's " + std::to_string(nn) + " nodes and " + std::to_string(na) +
                  " arcs need more memory than a file of this size may take");
  // A NUL byte would cut a name wherever it is read as C text.
  if (const size_t nul = text.find('\0'); nul != std::string_view::npos) {
    *problem = "line " + std::to_string(TDB_FILE_CURSOR::line_of(text, nul)) + ": NUL byte in the file";
    return false;
  }
  std::vector<TDB_NODE> rn(nn);
  std::vector<TDB_ARC> ra;
  ra.reserve(na);
  for (size_t i = 0; i < nn; ++i) {
    int kind = 0, clk = -1, inv = 0;
    uint64_t count = 0;
    in.begin_record();
    if (!in.tag('N') || !in.number(&kind) || !in.number(&clk) || !in.number(&inv) || !in.number(&count))
      return refuse("malformed node record (\"N <kind> <clock> <inverted> <arcs> <name>\" expected)");
    if (kind < 0 || kind > 3 || clk < -1 || (clk >= 0 && uint64_t(clk) >= nn))
      return refuse("node kind or clock source out of range");
    if (count > na - ra.size()) return refuse("more arcs than the header counts");
    TDB_NODE& n = rn[i];
    n.m_name = in.rest_of_line();
    n.m_id = uint32_t(i);
    n.m_kind = uint8_t(kind);
    n.m_clock_source = clk;
    n.m_clock_inverted = inv != 0;
    n.m_arc_begin = uint32_t(ra.size());
    for (uint64_t a = 0; a < count; ++a) {
      uint64_t src = 0;
      int32_t delay = 0;
      int ak = 0, sense = 0;
      in.begin_record();
      if (!in.tag('A') || !in.number(&src) || !in.number(&delay) || !in.number(&ak) ||
          (with_senses && !in.number(&sense)))
        return refuse(with_senses ? "malformed arc record (\"A <source> <delay> <kind> <sense>\" expected)"
                                  : "malformed arc record (\"A <source> <delay> <kind>\" expected)");
      if (src >= nn || ak < 0 || ak > 2) return refuse("arc source or kind out of range");
      if (sense < -1 || sense > 1) return refuse("arc sense out of range");
      TDB_ARC arc{uint32_t(src), delay, nullptr, uint8_t(ak)};
      arc.m_sense = int8_t(sense);
      ra.push_back(arc);
    }
    n.m_arc_end = uint32_t(ra.size());
  }
  in.begin_record();
  if (ra.size() != na) return refuse("fewer arcs than the header counts");
  if (!in.at_end()) return refuse("more records than the header counts");
  // The netlist as read must be the one the stamp's digest was made of:
  // any other is a damaged file (a flipped bit in a delay or a name). A
  // file of version 3 has a digest of everything but the senses.
  if (version >= 3) {
    SSC_NETLIST_DATA read;
    read.nodes.swap(rn);
    read.arcs.swap(ra);
    const bool same = (with_senses ? ssc_stored_netlist_digest(read) : ssc_netlist_file_digest(read)) == read_stamp.own;
    rn.swap(read.nodes);
    ra.swap(read.arcs);
    if (!same) {
      *problem = "line " + std::to_string(stamp_line) +
                 ": the netlist read does not match the digest its stamp carries (the file is damaged)";
      return false;
    }
  }
  nodes.swap(rn);
  arcs.swap(ra);
  iterms_without_arcs.clear();
  stamp = std::move(read_stamp);
  names_indexed = false;
  cut_arcs = 0;
  return true;
}

bool SSC_NETLIST_DATA::read_file_head(const std::string& path, SSC_NETLIST_STAMP* stamp) {
  // The header and the stamp's two digests fit in the first bytes: the
  // counts take at most 30 digits, the stamp line 68 bytes.
  FILE* f = nullptr;
  uint64_t size = 0;
  int error = 0;
  if (FIO_FILE_SYSTEM::open_regular_file(path, SSC_MAX_TDB_FILE_BYTES, &f, &size, &error) !=
      FIO_FILE_SYSTEM::FIO_OPENED) {
    if (error == ENOMEM) throw std::bad_alloc();
    return false;
  }
  char head[160];
  const size_t got = std::fread(head, 1, sizeof head, f);
  std::fclose(f);
  TDB_FILE_CURSOR in(std::string_view(head, got));
  uint64_t count = 0;
  uint32_t version = 0;
  *stamp = SSC_NETLIST_STAMP();
  if (in.word() != "TDB" || !in.number(&version) || version < 1 || version > uint32_t(SSC_TDB_FILE_VERSION))
    return false;
  stamp->version = version;
  if (!in.number(&count) || !in.number(&count)) return false;
  if (version < uint32_t(SSC_TDB_FILE_VERSION)) return true;
  if (in.word() != "S" || !digest_of_text(in.word(), &stamp->own)) return false;
  const std::string_view origin = in.word();
  stamp->from_generic = origin != "-";
  if (stamp->from_generic && !digest_of_text(origin, &stamp->generic)) return false;
  stamp->known = true;
  return true;
}

std::vector<char> ssc_reaches_loop(const SSC_NETLIST_DATA& data, const std::vector<char>* feeds) {
  const uint32_t n = uint32_t(data.nodes.size());
  // The graph walked backwards: a logic node to the sources of its data
  // arcs, a register to its clock source (its clock-to-output arc).
  auto preds = [&](uint32_t v, uint32_t at, uint32_t* next) -> bool {
    const TDB_NODE& x = data.nodes[v];
    if (x.get_kind() == TDB_NODE_COMB) {
      for (uint32_t k = SSC_NETLIST_DATA::arc_begin(x) + at; k < SSC_NETLIST_DATA::arc_end(x); ++k)
        if (data.arcs[k].m_kind == TDB_ARC_DATA && data.arcs[k].m_src < n) {
          *next = k - SSC_NETLIST_DATA::arc_begin(x);
          return true;
        }
      return false;
    }
    const int s = x.get_clock_source();
    if (x.get_kind() == TDB_NODE_REGISTER && at == 0 && s >= 0 && uint32_t(s) < n) {
      *next = 0;
      return true;
    }
    return false;
  };
  auto pred_node = [&](uint32_t v, uint32_t at) {
    const TDB_NODE& x = data.nodes[v];
    return x.get_kind() == TDB_NODE_COMB ? data.arcs[SSC_NETLIST_DATA::arc_begin(x) + at].m_src
                                         : uint32_t(x.get_clock_source());
  };
  // Strongly connected components (Tarjan, an explicit stack): a node of a
  // component of several nodes, or with an edge to itself, is on a loop.
  constexpr uint32_t kUnseen = UINT32_MAX;
  std::vector<uint32_t> index(n, kUnseen), low(n, 0), comp;
  std::vector<char> on(n, 0), reaches(n, 0);
  std::vector<std::pair<uint32_t, uint32_t>> walk;  // (node, next edge)
  uint32_t counter = 0;
  for (uint32_t root = 0; root < n; ++root) {
    if (index[root] != kUnseen) continue;
    walk.push_back({root, 0});
    index[root] = low[root] = counter++;
    comp.push_back(root);
    on[root] = 1;
    while (!walk.empty()) {
      auto& [v, at] = walk.back();
      uint32_t e = 0;
      if (preds(v, at, &e)) {
        at = e + 1;
        const uint32_t w = pred_node(v, e);
        if (w == v) {
          reaches[v] = 1;
        } else if (index[w] == kUnseen) {
          index[w] = low[w] = counter++;
          comp.push_back(w);
          on[w] = 1;
          walk.push_back({w, 0});
        } else if (on[w]) {
          low[v] = std::min(low[v], index[w]);
        }
        continue;
      }
      const uint32_t done = v;
      walk.pop_back();
      if (!walk.empty()) low[walk.back().first] = std::min(low[walk.back().first], low[done]);
      if (low[done] == index[done]) {
        const bool loop = comp.back() != done;
        uint32_t w;
        do {
          w = comp.back();
          comp.pop_back();
          on[w] = 0;
          if (loop) reaches[w] = 1;
        } while (w != done);
      }
    }
  }
  // Then every node whose data reaches one, backwards through logic (and
  // through registers' clock pins, as the loops run).
  // With `feeds`, only from the loop's logic whose data reaches a capture,
  // and backwards through logic alone.
  std::vector<uint32_t> stack;
  for (uint32_t v = 0; v < n; ++v) {
    if (reaches[v] && feeds && (data.nodes[v].get_kind() != TDB_NODE_COMB || !(*feeds)[v])) reaches[v] = 0;
    if (reaches[v]) stack.push_back(v);
  }
  while (!stack.empty()) {
    const uint32_t v = stack.back();
    stack.pop_back();
    if (feeds && data.nodes[v].get_kind() != TDB_NODE_COMB) continue;
    uint32_t e = 0;
    for (uint32_t at = 0; preds(v, at, &e); at = e + 1) {
      const uint32_t w = pred_node(v, e);
      if (!reaches[w]) {
        reaches[w] = 1;
        stack.push_back(w);
      }
    }
  }
  return reaches;
}

int ssc_topological_order(const SSC_NETLIST_DATA& data, std::vector<uint32_t>* order,
                          std::vector<uint32_t>* pos) {
  const uint32_t n = uint32_t(data.nodes.size());
  std::vector<uint32_t> indeg(n, 0), fo_begin(n + 1, 0);
  for (uint32_t v = 0; v < n; ++v) {
    const TDB_NODE& node = data.nodes[v];
    for (uint32_t a = SSC_NETLIST_DATA::arc_begin(node); a < SSC_NETLIST_DATA::arc_end(node); ++a) {
      if (data.arcs[a].m_kind != TDB_ARC_DATA) continue;
      ++indeg[v];
      ++fo_begin[data.arcs[a].m_src + 1];
    }
  }
  for (uint32_t v = 0; v < n; ++v) fo_begin[v + 1] += fo_begin[v];
  std::vector<uint32_t> fanout(fo_begin[n]);
  {
    std::vector<uint32_t> fill(fo_begin.begin(), fo_begin.end() - 1);
    for (uint32_t v = 0; v < n; ++v) {
      const TDB_NODE& node = data.nodes[v];
      for (uint32_t a = SSC_NETLIST_DATA::arc_begin(node); a < SSC_NETLIST_DATA::arc_end(node); ++a)
        if (data.arcs[a].m_kind == TDB_ARC_DATA) fanout[fill[data.arcs[a].m_src]++] = v;
    }
  }
  order->clear();
  order->reserve(n);
  pos->assign(n, UINT32_MAX);
  std::vector<uint32_t> ready;
  for (uint32_t v = 0; v < n; ++v)
    if (indeg[v] == 0) ready.push_back(v);
  std::reverse(ready.begin(), ready.end());  // pop from the back: lowest id first
  uint32_t scan = 0;
  while (order->size() < n) {
    if (ready.empty()) {
      // A loop: release the lowest unfinished node; its open arcs are cut.
      while ((*pos)[scan] != UINT32_MAX) ++scan;
      ready.push_back(scan);
      indeg[scan] = 0;
    }
    const uint32_t v = ready.back();
    ready.pop_back();
    if ((*pos)[v] != UINT32_MAX) continue;
    (*pos)[v] = uint32_t(order->size());
    order->push_back(v);
    for (uint32_t k = fo_begin[v]; k < fo_begin[v + 1]; ++k) {
      const uint32_t w = fanout[k];
      if ((*pos)[w] == UINT32_MAX && indeg[w] > 0 && --indeg[w] == 0) ready.push_back(w);
    }
  }
  int cut = 0;
  for (uint32_t v = 0; v < n; ++v) {
    const TDB_NODE& node = data.nodes[v];
    for (uint32_t a = SSC_NETLIST_DATA::arc_begin(node); a < SSC_NETLIST_DATA::arc_end(node); ++a)
      if (data.arcs[a].m_kind == TDB_ARC_DATA && (*pos)[data.arcs[a].m_src] >= (*pos)[v]) ++cut;
  }
  return cut;
}

}  // namespace kavu_platform
