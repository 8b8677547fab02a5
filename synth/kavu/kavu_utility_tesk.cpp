// kavu_utility_tesk.cpp — driving clocks and clock domains for the retimer.
//
// Model: a node's clock comes from one clock input chosen by the node's kind
//   and, for RAMs, by the port the terminal belongs to (tables below). The
//   clocked kinds {I/O 3, register 2, RAM block 13, synchronous RAM 46,
//   device atom 66, state 7} bound every search: a crossing search passes
//   through any other node and stops at the first clocked ones.
// The crossing searches keep their queue and visited set in one scratch
//   object whose storage survives between queries (the visited set is an
//   open-addressed pointer table cleared by bumping a stamp), so a query
//   allocates nothing once the scratch has grown to the largest cone seen.
// Cost: driving clock O(1), state machines O(fan-in of the clock gate);
//   crossing O(terminals of the cone up to the first clocked nodes);
//   find_clock_domain O(nodes entered + fan-out edges read).
#include <new>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "cfg/cfg.h"
#include "kavu_check.h"
#include "kavu_load_time_int.h"
#include "kavu_dff_helper.h"
#include "kavu_msg.h"
#include "kavu_utility_tesk.h"
#include "kavu_utility_tesk_int.h"

using namespace kavu_tesk_detail;

namespace {

// ---- keys, read once on first use ----
struct TESK_KEYS {
  bool m_loaded = false;
  bool m_restrict_regs = false;
  bool m_ignore_internal_error = false;
};

TESK_KEYS& keys() {
  static TESK_KEYS k;
  if (!k.m_loaded) {
    k.m_restrict_regs = cfg_is_on("rtm_tesk_restrict_regs", false);
    k.m_ignore_internal_error = cfg_is_on("rtm_ignore_tesk_internal_error", false);
    k.m_loaded = true;
  }
  return k;
}

// ---- port-type sets ----
bool is_clock_input_port(unsigned p) {
  return p == 7 || p == 35 || p == 36 || p == 84 || p == 85 || p == 96 || p == 97;
}
bool is_ram_port_a_input(unsigned p) {
  static const unsigned kPorts[] = {83, 86, 87, 88, 89, 90, 91, 92, 93, 94, 3655, 109, 3653, 41, 20, 34, 37, 38};
  return std::find(std::begin(kPorts), std::end(kPorts), p) != std::end(kPorts);
}
bool is_ram_port_b_input(unsigned p) {
  return (p >= 95 && p <= 106) || p == 3654 || p == 110 || p == 3652 || p == 42;
}
bool is_ram_port_a_output(unsigned p) { return p == 41 || p == 3; }
bool is_ram_port_b_output(unsigned p) { return p == 42; }

KAVU_TESK_CLOCK clock_of(CDB_SGATE_ITERM* clk) {
  KAVU_TESK_CLOCK c;
  if (!clk) return c;
  c.m_clock = clk->get_source();
  c.m_inverted = c.m_clock != nullptr && clk->is_inverted();
  return c;
}

KAVU_TESK_CLOCK dummy_clock() {
  KAVU_TESK_CLOCK c;
  c.m_clock = DUMMY_CLOCK_TERM_FACTORY::get_oterm();
  return c;
}

[[noreturn]] void report_unknown_kind(CDB_SGATE_NODE* node) {
  char text[4096];
  std::snprintf(text, sizeof text, "Node %s of type CDB_SGATE_TYPE[%i] not recognized.",
                node->get_string_hpath().c_str(), int(node->get_sgate_type()));
  KAVU_INTERNAL_ERROR(text);
}

// The clock input of a port of a RAM block: 35 for port A; for port B 36 when
// port B runs in data-in-clock mode, else 35.
CDB_SGATE_ITERM* ram_block_clock(CDB_SGATE_WYSIWYG_RAM_BLOCK* wys_ram, bool port_b) {
  if (!port_b) {
    KAVU_CHECK(!wys_ram->ram_mode_is( CDB_RAM_DATA_IN_CLOCK, CDB_RAM_PORT_A));
    return wys_ram->get_iterm_by_type(TESK_PORT_CLOCK0, 0);
  }
  if (wys_ram->ram_mode_is(CDB_RAM_DATA_IN_CLOCK, CDB_RAM_PORT_B)) return wys_ram->get_iterm_by_type(TESK_PORT_CLOCK1, 0);
  return wys_ram->get_iterm_by_type(TESK_PORT_CLOCK0, 0);
}

// The clock of a state machine: the last fan-in of its clock gate whose
// driving node's single input has a source gives the clock. An input without
// a source (unconnected or tied) is skipped rather than taken as "no clock".
KAVU_TESK_CLOCK state_machine_clock(CDB_SGATE_NODE* node) {
  KAVU_TESK_CLOCK c;
  CDB_SGATE_STATE* state = node->cast_to_state();
  CDB_STATE_MACHINE* machine = state ? state->get_state_machine() : nullptr;
  KAVU_CHECK(machine != nullptr);
  CDB_SGATE_OTERM* clock_src = machine->get_clk();
  if (!clock_src) return c;
  KAVU_CHECK(clock_src->get_my_node()->get_sgate_type() == CDB_SGATE_COMB_ENUM);
  CDB_SGATE_NODE* gate = clock_src->get_my_node();
  CDB_SGATE_OTERM* candidate = nullptr;
  for (unsigned i = 0; i < gate->get_number_of_input_terms(); ++i) {
    CDB_SGATE_OTERM* in = gate->get_fanin_term(i);
    if (!in) continue;
    CDB_SGATE_ITERM* t = in->get_my_node()->get_single_iterm();
    if (t && t->get_source()) candidate = t->get_source();
  }
  if (candidate) {
    c.m_clock = candidate;
    c.m_inverted = machine->clk_is_inverted();
  }
  return c;
}

KAVU_TESK_CLOCK lutram_clock_of_input(CDB_SGATE_WYSIWYG* atom, unsigned port) {
  if (is_ram_port_a_input(port)) {
    CDB_SGATE_ITERM* clk = atom->get_iterm_by_type(TESK_PORT_CLOCK0, 0);
    if (!clk || !clk->is_connected()) KAVU_INTERNAL_ERROR("wysiwyg->get_iterm_by_type(DB_CLOCK0)->is_connected()");
    return clock_of(clk);
  }
  if (is_ram_port_b_input(port)) {
    CDB_SGATE_ITERM* clk = atom->get_iterm_by_type(TESK_PORT_CLOCK1, 0);
    if (clk && clk->is_connected()) return clock_of(clk);
    return clock_of(atom->get_iterm_by_type(TESK_PORT_CLOCK0, 0));
  }
  kavu_debug("Invalid lutram iport type %u", port);
  return {};
}

// ---- a pointer set cleared in O(1): open addressing with stamps ----
class STAMPED_PTR_SET {
 public:
  void clear() {
    if (++m_stamp == 0) {  // wrapped: forget every old stamp
      std::fill(m_stamps.begin(), m_stamps.end(), 0u);
      m_stamp = 1;
    }
    m_count = 0;
  }
  // True when `p` was not in the set (it is now).
  bool insert(const void* p) {
    if (m_slots.empty() || (m_count + 1) * 2 > m_slots.size()) grow();
    size_t mask = m_slots.size() - 1;
    size_t i = hash(p) & mask;
    while (m_stamps[i] == m_stamp) {
      if (m_slots[i] == p) return false;
      i = (i + 1) & mask;
    }
    m_slots[i] = p;
    m_stamps[i] = m_stamp;
    ++m_count;
    return true;
  }

 private:
  static size_t hash(const void* p) {
    uint64_t x = reinterpret_cast<uintptr_t>(p) >> 3;
    return size_t(x * 0x9E3779B97F4A7C15ull >> 17);
  }
  void grow() {
    std::vector<const void*> live;
    live.reserve(m_count);
    for (size_t i = 0; i < m_slots.size(); ++i)
      if (m_stamps[i] == m_stamp) live.push_back(m_slots[i]);
    size_t n = m_slots.empty() ? 256 : m_slots.size() * 2;
    m_slots.assign(n, nullptr);
    m_stamps.assign(n, 0u);
    m_stamp = 1;
    m_count = 0;
    for (const void* p : live) insert(p);
  }

  std::vector<const void*> m_slots;
  std::vector<uint32_t> m_stamps;
  uint32_t m_stamp = 1;
  size_t m_count = 0;
};

// Queue storage and visited set of the crossing searches, reused by every
// query (the functions are single-threaded by contract).
struct CROSSING_SCRATCH {
  std::vector<CDB_SGATE_OTERM*> m_oterms;
  std::vector<CDB_SGATE_ITERM*> m_iterms;
  STAMPED_PTR_SET m_visited;
};

CROSSING_SCRATCH& scratch() {
  static CROSSING_SCRATCH s;
  return s;
}
// Made as the library loads, not at first use: a process that forks while
// another thread makes it would leave its child waiting for it for ever.
[[maybe_unused]] const bool g_crossing_scratch_at_load = (scratch(), true);

// A clock found at a clocked node makes a crossing when it exists and is
// the dummy clock or another source than the own one.
bool clock_differs(const KAVU_TESK_CLOCK& found, const KAVU_TESK_CLOCK& own) {
  if (!found.m_clock) return false;
  return found.m_clock == DUMMY_CLOCK_TERM_FACTORY::get_oterm() || found.m_clock != own.m_clock;
}

}  // namespace

// ---------------------------------------------------------------- shared
namespace kavu_tesk_detail {

int tesk_kind(CDB_SGATE_NODE* node) {
  int kind = int(node->get_sgate_type());
  if (kind == CDB_SGATE_WYSIWYG_RAM_BLOCK_ENUM) return kind;
  CDB_SGATE_WYSIWYG* atom = node->cast_to_wysiwyg();
  if (atom && (atom->is_lutram() || atom->is_iopll() || atom->is_ff())) return TESK_GENERIC_ATOM_KIND;
  return kind;
}

bool tesk_is_register(CDB_SGATE_NODE* node) {
  if (node->get_sgate_type() == CDB_SGATE_DFF_ENUM) return true;
  CDB_SGATE_WYSIWYG* atom = node->cast_to_wysiwyg();
  return atom != nullptr && atom->is_ff();
}

std::string tesk_node_name(CDB_SGATE_NODE* node, int format) {
  if (HDB_INSTANCE_NAME* name = node->get_instance_name()) return name->get_short_hpath(format);
  return node->get_string_hpath();
}

std::string tesk_driver_name(CDB_SGATE_ITERM* iterm) {
  CDB_SGATE_OTERM* src = iterm ? iterm->get_source() : nullptr;
  return src ? tesk_node_name(src->get_my_node()) : std::string();
}

bool tesk_restrict_regs() { return keys().m_restrict_regs; }
bool tesk_ignore_internal_error() { return keys().m_ignore_internal_error; }

}  // namespace kavu_tesk_detail

void kavu_tesk_reread_keys() { keys().m_loaded = false; }

// ---------------------------------------------------------------- dummy clock
namespace {
struct DUMMY_CLOCK {
  CDB_SGATE_BUFFER* m_driver;
  CDB_SGATE_BUFFER* m_reader;
  CDB_SGATE_OTERM* m_oterm;
  CDB_SGATE_ITERM* m_iterm;
};

// Two private buffers outside every netlist own the terminals; they live as
// long as the process (the library's other statics may still refer to them
// while it unloads). Made at the first use, not as the library loads: the
// first gates take the cell pool's first slab, whose address range is sized
// by the address-space limit, which a host may set in its own process before
// its first call. Two threads that come first at once each make a pair and
// the second drops its own (the two buffers are left unfreed), so no thread
// waits for another and a child forked meanwhile makes its own.
DUMMY_CLOCK make_dummy() {
  DUMMY_CLOCK x;
  x.m_driver = new CDB_SGATE_BUFFER(nullptr, CDB_BUFFER_CASCADE, true);
  x.m_reader = new CDB_SGATE_BUFFER(nullptr, CDB_BUFFER_CASCADE, true);
  x.m_oterm = x.m_driver->get_single_oterm();
  x.m_iterm = x.m_reader->create_input_term(nullptr);
  x.m_reader->set_input_term(x.m_iterm, 0);
  x.m_iterm->set_source(x.m_oterm);
  return x;
}
KAVU_READ_ONCE<DUMMY_CLOCK> dummy("the dummy clock", make_dummy);
}  // namespace

CDB_SGATE_OTERM* DUMMY_CLOCK_TERM_FACTORY::get_oterm() { return dummy().m_oterm; }

CDB_SGATE_ITERM* DUMMY_CLOCK_TERM_FACTORY::get_iterm() {
  CDB_SGATE_ITERM* dummy_clock_iterm = dummy().m_iterm;
  CDB_SGATE_OTERM* dummy_clock_oterm = dummy().m_oterm;
  KAVU_CHECK(dummy_clock_iterm->get_source() == dummy_clock_oterm);
  return dummy_clock_iterm;
}

// ---------------------------------------------------------------- driving clock
bool kavu_tesk_is_clocked_type(int t) {
  return t == CDB_SGATE_IO_ENUM || t == CDB_SGATE_DFF_ENUM || t == CDB_SGATE_WYSIWYG_RAM_BLOCK_ENUM ||
         t == CDB_SGATE_SYNCHRONOUS_RAM_ENUM || t == TESK_GENERIC_ATOM_KIND || t == CDB_SGATE_STATE_ENUM;
}

KAVU_TESK_CLOCK kavu_tesk_get_driving_clock(CDB_SGATE_ITERM* iterm) {
  KAVU_CHECK(iterm != nullptr);
  CDB_SGATE_NODE* node = iterm->get_my_node();
  unsigned port = iterm->get_port_type();
  // The trace's names are only built when someone reads it: the query is
  // asked for every terminal of a cone.
  if (MSG_D::debug_messages_enabled("KAVU"))
    kavu_debug_at_level(3, "TESK: Getting driving clock of iterm %s [%u]", tesk_node_name(node).c_str(), port);
  switch (tesk_kind(node)) {
    case CDB_SGATE_DFF_ENUM:
      if (iterm == kavu_get_dff_clock(node)) return {};
      return clock_of(node->get_input_term(CDB_DFF_CLK));
    case CDB_SGATE_IO_ENUM:
      return clock_of(DUMMY_CLOCK_TERM_FACTORY::get_iterm());
    case CDB_SGATE_STATE_ENUM:
      return state_machine_clock(node);
    case CDB_SGATE_WYSIWYG_RAM_BLOCK_ENUM: {
      CDB_SGATE_WYSIWYG_RAM_BLOCK* ram = node->cast_to_wysiwyg_ram_block();
      KAVU_CHECK(ram != nullptr);
      if (is_ram_port_a_input(port)) return clock_of(ram_block_clock(ram, false));
      if (is_ram_port_b_input(port)) return clock_of(ram_block_clock(ram, true));
      kavu_debug("Invalid ram iport type %u", port);
      return {};
    }
    case CDB_SGATE_OPERATOR_ENUM:
      return {};
    case CDB_SGATE_SYNCHRONOUS_RAM_ENUM: {
      CDB_SGATE_SYNCHRONOUS_RAM* ram = node->cast_to_synchronous_ram();
      if (is_ram_port_a_input(port)) return clock_of(ram->get_iterm_by_type(TESK_PORT_CLOCK0, 0));
      if (is_ram_port_b_input(port)) return clock_of(ram->get_iterm_by_type(TESK_PORT_SYNC_RAM_CLOCK_B, 0));
      kavu_debug("Invalid sync ram iport type %u", port);
      return {};
    }
    case TESK_GENERIC_ATOM_KIND: {
      CDB_SGATE_WYSIWYG* atom = node->cast_to_wysiwyg();
      if (atom && atom->is_lutram()) return lutram_clock_of_input(atom, port);
      return {};
    }
    default:
      report_unknown_kind(node);
  }
}

KAVU_TESK_CLOCK kavu_tesk_get_driving_clock(CDB_SGATE_OTERM* oterm) {
  KAVU_CHECK(oterm != nullptr);
  CDB_SGATE_NODE* node = oterm->get_my_node();
  unsigned port = oterm->get_port_type();
  if (MSG_D::debug_messages_enabled("KAVU"))
    kavu_debug_at_level(3, "TESK: Getting driving clock of oterm %s", oterm->get_string_hpath().c_str());
  switch (tesk_kind(node)) {
    case CDB_SGATE_DFF_ENUM:
      return clock_of(node->get_input_term(CDB_DFF_CLK));
    case CDB_SGATE_IO_ENUM:
      return dummy_clock();
    case CDB_SGATE_STATE_ENUM:
      return state_machine_clock(node);
    case CDB_SGATE_WYSIWYG_RAM_BLOCK_ENUM: {
      CDB_SGATE_WYSIWYG_RAM_BLOCK* ram = node->cast_to_wysiwyg_ram_block();
      KAVU_CHECK(ram != nullptr);
      if (is_ram_port_a_output(port)) return clock_of(ram_block_clock(ram, false));
      if (is_ram_port_b_output(port)) return clock_of(ram_block_clock(ram, true));
      kavu_debug("Invalid port type %u", port);
      return {};
    }
    case CDB_SGATE_SYNCHRONOUS_RAM_ENUM: {
      CDB_SGATE_SYNCHRONOUS_RAM* ram = node->cast_to_synchronous_ram();
      if (is_ram_port_a_output(port)) return clock_of(ram->get_iterm_by_type(TESK_PORT_CLOCK0, 0));
      if (is_ram_port_b_output(port)) return clock_of(ram->get_iterm_by_type(TESK_PORT_SYNC_RAM_CLOCK_B, 0));
      kavu_debug("Invalid port type %u", port);
      return {};
    }
    case CDB_SGATE_OPERATOR_ENUM:
      return {};
    case TESK_GENERIC_ATOM_KIND: {
      CDB_SGATE_WYSIWYG* atom = node->cast_to_wysiwyg();
      if (atom && atom->is_lutram()) return clock_of(atom->get_iterm_by_type(TESK_PORT_CLOCK1, 0));
      if (atom && atom->is_iopll() && port == TESK_PORT_IOPLL_OUTCLK) return dummy_clock();
      return {};
    }
    default:
      report_unknown_kind(node);
  }
}

// ---------------------------------------------------------------- crossings
bool kavu_tesk_iterm_crosses_clock_domain(CDB_SGATE_ITERM* iterm) {
  KAVU_CHECK(iterm != nullptr);
  if (is_clock_input_port(iterm->get_port_type()) || !iterm->is_connected() || !iterm->get_source()) return false;
  KAVU_TESK_CLOCK own = kavu_tesk_get_driving_clock(iterm);
  CROSSING_SCRATCH& s = scratch();
  s.m_oterms.clear();
  s.m_visited.clear();
  s.m_oterms.push_back(iterm->get_source());
  s.m_visited.insert(iterm->get_source());
  // Breadth-first: the vector is the queue, `head` its front.
  for (size_t head = 0; head < s.m_oterms.size(); ++head) {
    CDB_SGATE_OTERM* o = s.m_oterms[head];
    CDB_SGATE_NODE* n = o->get_my_node();
    if (kavu_tesk_is_clocked_type(tesk_kind(n))) {
      if (clock_differs(kavu_tesk_get_driving_clock(o), own)) return true;
      continue;
    }
    for (unsigned i = 0; i < n->get_number_of_input_terms(); ++i) {
      CDB_SGATE_OTERM* src = n->get_fanin_term(i);
      if (src && s.m_visited.insert(src)) s.m_oterms.push_back(src);
    }
  }
  return false;
}

bool kavu_tesk_oterm_crosses_clock_domain(CDB_SGATE_OTERM* oterm) {
  KAVU_CHECK(oterm != nullptr);
  KAVU_TESK_CLOCK own = kavu_tesk_get_driving_clock(oterm);
  CROSSING_SCRATCH& s = scratch();
  s.m_iterms.clear();
  s.m_visited.clear();
  for (CDB_SGATE_ITERM* t : oterm->fanouts())
    if (s.m_visited.insert(t)) s.m_iterms.push_back(t);
  for (size_t head = 0; head < s.m_iterms.size(); ++head) {
    CDB_SGATE_ITERM* t = s.m_iterms[head];
    CDB_SGATE_NODE* n = t->get_my_node();
    if (kavu_tesk_is_clocked_type(tesk_kind(n))) {
      if (clock_differs(kavu_tesk_get_driving_clock(t), own)) return true;
      continue;
    }
    for (unsigned k = 0; k < n->get_output_count(); ++k) {
      CDB_SGATE_OTERM* o = n->get_output_term(k);
      if (!o) continue;
      for (CDB_SGATE_ITERM* f : o->fanouts())
        if (s.m_visited.insert(f)) s.m_iterms.push_back(f);
    }
  }
  return false;
}

// ---------------------------------------------------------------- clock domains
namespace {
// One node being expanded: where its fan-out walk stands and its result.
struct DOMAIN_FRAME {
  CDB_SGATE_NODE* m_node;
  unsigned m_oterm;
  CDB_SGATE_ITERM* m_next;  // next fan-out terminal to handle, null: next output
  bool m_result;
};

// Moves the frame to its next fan-out terminal; false when none is left.
bool next_fanout(DOMAIN_FRAME& f, CDB_SGATE_ITERM*& out) {
  while (!f.m_next) {
    if (f.m_oterm >= f.m_node->get_output_count()) return false;
    CDB_SGATE_OTERM* o = f.m_node->get_output_term(f.m_oterm++);
    f.m_next = o ? o->get_first_fanout() : nullptr;
  }
  out = f.m_next;
  f.m_next = f.m_next->get_next_fanout();
  return true;
}
}  // namespace

bool kavu_tesk_find_clock_domain(CDB_SGATE_NODE* node, std::set<std::string>& visited,
                                 std::set<std::string>& clocks) {
  KAVU_CHECK(node != nullptr);
  std::vector<DOMAIN_FRAME> stack;
  stack.push_back({node, 0, nullptr, false});
  bool returned = false;     // a child frame just finished
  bool child_result = false;
  while (!stack.empty()) {
    DOMAIN_FRAME& f = stack.back();
    if (returned) {
      f.m_result = child_result;
      returned = false;
    }
    CDB_SGATE_ITERM* t = nullptr;
    if (!next_fanout(f, t)) {
      child_result = f.m_result;
      returned = true;
      stack.pop_back();
      continue;
    }
    CDB_SGATE_NODE* next_node = t->get_my_node();
    KAVU_CHECK(next_node);
    if (tesk_is_register(next_node)) {
      CDB_SGATE_ITERM* clk_iterm = next_node->get_input_term(CDB_DFF_CLK);
      KAVU_CHECK(clk_iterm);
      clocks.insert(tesk_driver_name(clk_iterm));
      f.m_result = true;
      continue;
    }
    if (visited.insert(tesk_node_name(f.m_node)).second) stack.push_back({next_node, 0, nullptr, false});
  }
  return child_result;
}

// ---------------------------------------------------------------- transfers
// Not implemented: the retimer's current interface never reports a transfer.
bool kavu_tesk_find_cross_clock_domain_transfer(const std::string&, const std::string&,
                                                ZTL_HASH<std::string, std::vector<CDB_SGATE_NODE*>>&,
                                                ZTL_HASH<std::string, std::vector<CDB_SGATE_NODE*>>&,
                                                std::orlind_ofstream&) {
  return false;
}

bool kavu_tesk_find_cross_clock_domain_transfer_legacy(std::string& source, std::string& destination,
                                                       ZTL_HASH<std::string, CDB_SGATE_NODE*>& exact,
                                                       ZTL_HASH<std::string, CDB_SGATE_NODE*>& wildcard,
                                                       ZTL_HASH<std::string, CDB_SGATE_NETLIST*>& netlists,
                                                       std::orlind_ofstream& report) {
  CDB_SGATE_NODE* src = nullptr;
  CDB_SGATE_NODE* dst = nullptr;
  CDB_SGATE_NETLIST* src_netlist = nullptr;
  CDB_SGATE_NETLIST* dst_netlist = nullptr;
  if (!kavu_find_sgate_node_for_tesk_legacy(source, exact, wildcard, netlists, &src, &src_netlist)) return false;
  if (!kavu_find_sgate_node_for_tesk_legacy(destination, exact, wildcard, netlists, &dst, &dst_netlist))
    return false;
  if (!tesk_is_register(src) || !tesk_is_register(dst)) return false;
  for (unsigned k = 0; k < src->get_output_count(); ++k) {
    CDB_SGATE_OTERM* o = src->get_output_term(k);
    if (!o) continue;
    for (CDB_SGATE_ITERM* t : o->fanouts())
      if (t->get_my_node() == dst) return false;
  }
  CDB_SGATE_ITERM* source_clk_iterm = src->get_input_term(CDB_DFF_CLK);
  CDB_SGATE_ITERM* dest_clk_iterm = dst->get_input_term(CDB_DFF_CLK);
  KAVU_CHECK(source_clk_iterm);
  KAVU_CHECK(dest_clk_iterm);
  std::string source_clock = tesk_driver_name(source_clk_iterm);
  std::string dest_clock = tesk_driver_name(dest_clk_iterm);
  if (source_clock == dest_clock) return false;
  report << "\n"
         << "source node " << source << " to destination node " << destination
         << " belongs to different clock domain\n"
         << "source node clock domain: " << source_clock << "\n"
         << "destination node clock domain: " << dest_clock << "\n";
  return true;
}
