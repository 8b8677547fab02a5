// kavu_ops.cpp — queries and small edits on word-level operators.
//
// Entry points: the comparisons of two operators (kind, inputs, modes), the
// port tests (constant, all GND, one-hot, real-bit count), the carry
// terminals, port owner and terminal-to-port lookups, the distinct-source
// count and the n-to-1 mux profile, and the edits (port shift, port swap,
// annexing a duplicate's outputs), plus the select-operator buddies.
// Model: an operator's port entries hold one terminal per bit (bit 0 the
//   least significant); a bit may be empty. Input bits are unconnected, tied
//   or driven (cdb_is_connected, is_vcc_or_gnd, get_source).
// Invariant: edits validate what they can before their first change; the
//   annex edits refuse a partner that lacks a port the orphan drives.
// Cost: linear in the ports touched; the distinct-source count sorts the
//   sources once, O(w log w).
#include "kavu_ops.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

#include "kavu_check.h"
#include "kavu_utility_component.h"
#include "kavu_msg.h"
#include "kavu_helper_predicates.h"
#include "kavu_wiring_helper.h"

namespace {

CDB_SGATE_OPERATOR* as_operator(CDB_SGATE_NODE* node) { return static_cast<CDB_SGATE_OPERATOR*>(node); }

// A bit that holds a terminal that is connected (driven or tied).
bool bit_is_connected(const CDB_SGATE_ITERM* iterm) { return iterm != nullptr && cdb_is_connected(iterm); }

// Two input bits deliver the same value for kavu_ops_use_same_inputs.
bool bits_match(const CDB_SGATE_ITERM* a, const CDB_SGATE_ITERM* b) {
  const bool a_conn = bit_is_connected(a);
  const bool b_conn = bit_is_connected(b);
  if (!a_conn || !b_conn) return a_conn == b_conn;
  return kavu_same_source(a, b);
}

bool input_ports_match(const CDB_SGATE_OPER_PORT_ENTRY* port_a, const CDB_SGATE_OPER_PORT_ENTRY* port_b) {
  if (port_a->get_width() != port_b->get_width()) return false;
  for (unsigned i = 0; i < port_a->get_width(); ++i) {
    if (!bits_match(port_a->get_iterm(i), port_b->get_iterm(i))) return false;
  }
  return true;
}

void check_input_port(const CDB_SGATE_OPER_PORT_ENTRY* port) {
  KAVU_CHECK(port);
  KAVU_CHECK(port->get_dir()==CDB_OPER_PORT_DIR_IN);
}

// Gives piggy a terminal at bit i of port and fills the empty bits below it,
// from i - 1 down to the first bit that already has one.
void create_piggy_oterms(CDB_SGATE_NODE* piggy, CDB_SGATE_OPER_PORT_ENTRY* port, unsigned i) {
  for (unsigned bit = i + 1; bit-- > 0;) {
    if (port->get_oterm(bit) != nullptr) break;
    CDB_SGATE_OTERM* oterm = new CDB_SGATE_OTERM(piggy);
    // set_oterm also appends the new terminal to the gate's output list.
    port->set_oterm(bit, oterm);
  }
}

// The common walk of both annex forms.
void annex_outputs(CDB_SGATE_NODE* piggy, CDB_SGATE_NODE* orphan, bool inverted) {
  KAVU_CHECK(kavu_is_a_op (piggy));
  KAVU_CHECK(kavu_is_a_op (orphan));
  KAVU_CHECK(kavu_same_type_of_op (piggy,orphan));
  CDB_SGATE_OPERATOR* op_piggy = as_operator(piggy);
  CDB_SGATE_OPERATOR* op_orphan = as_operator(orphan);
  // Calls visit(port_piggy, i, oterm_orphan) for every bit i of an orphan
  // output port that drives something; port_piggy is the piggy's port of
  // the same type, null when it has none.
  auto each_driving_output = [op_piggy, op_orphan](auto visit) {
    for (auto it = op_orphan->begin_const_port_entry_table(); it != op_orphan->end_const_port_entry_table(); ++it) {
      const CDB_SGATE_OPER_PORT_ENTRY* port_orphan = *it;
      if (port_orphan->get_dir() == CDB_OPER_PORT_DIR_IN) continue;
      CDB_SGATE_OPER_PORT_ENTRY* port_piggy = op_piggy->get_port(port_orphan->get_type());
      for (unsigned i = 0; i < port_orphan->get_width(); ++i) {
        CDB_SGATE_OTERM* oterm_orphan = port_orphan->get_oterm(i);
        if (oterm_orphan == nullptr || !oterm_orphan->has_fanout()) continue;
        visit(port_piggy, i, oterm_orphan);
      }
    }
  };
  // Every port the orphan drives must exist on the piggy before any fan-out
  // moves, so a refused call leaves both operators as they were.
  each_driving_output([inverted](CDB_SGATE_OPER_PORT_ENTRY* port_piggy, unsigned i, CDB_SGATE_OTERM*) {
    KAVU_CHECK(port_piggy);
    if (inverted) {
      CDB_SGATE_OTERM* oterm_piggy = port_piggy->get_oterm(i);
      KAVU_CHECK(oterm_piggy);
    }
  });
  each_driving_output([piggy, inverted](CDB_SGATE_OPER_PORT_ENTRY* port_piggy, unsigned i,
                                        CDB_SGATE_OTERM* oterm_orphan) {
    if (!inverted && port_piggy->get_oterm(i) == nullptr) create_piggy_oterms(piggy, port_piggy, i);
    CDB_SGATE_OTERM* oterm_piggy = port_piggy->get_oterm(i);
    KAVU_CHECK(oterm_piggy);
    oterm_piggy->adopt_fanouts(oterm_orphan, inverted);
  });
}

// The one-bit carry port of the given type, or null when the operator has
// none; a carry port of several bits is an internal error (bus_text).
const CDB_SGATE_OPER_PORT_ENTRY* carry_port(CDB_SGATE_NODE* op, CDB_OPER_PORT_TYPE type, const char* bus_text) {
  KAVU_CHECK(kavu_is_a_op (op));
  const CDB_SGATE_OPERATOR* oper = as_operator(op);
  const unsigned width = oper->get_width(type);
  if (width == 0) return nullptr;
  if (width > 1) KAVU_INTERNAL_ERROR(bus_text);
  const CDB_SGATE_OPER_PORT_ENTRY* port = oper->get_port(type);
  KAVU_CHECK(port);
  return port;
}

// Counts of one source's fan-ins into the data port of an n-to-1 mux.
struct INT_PAIR {
  int m_pos = 0;
  int m_neg = 0;
};

}  // namespace

// ---------------------------------------------------------------------------
bool kavu_same_type_of_op(CDB_SGATE_NODE* op_a, CDB_SGATE_NODE* op_b) {
  KAVU_CHECK(kavu_is_a_op (op_a));
  KAVU_CHECK(kavu_is_a_op (op_b));
  return as_operator(op_a)->get_type() == as_operator(op_b)->get_type();
}

bool kavu_ops_use_same_inputs(CDB_SGATE_NODE* op_a, CDB_SGATE_NODE* op_b) {
  KAVU_CHECK(kavu_is_a_op (op_a));
  KAVU_CHECK(kavu_is_a_op (op_b));
  KAVU_CHECK(kavu_same_type_of_op (op_a,op_b));
  const CDB_SGATE_OPERATOR* a = as_operator(op_a);
  const CDB_SGATE_OPERATOR* b = as_operator(op_b);
  auto it_a = a->begin_const_port_entry_table();
  auto it_b = b->begin_const_port_entry_table();
  bool same = true;
  for (; same && it_a != a->end_const_port_entry_table() && it_b != b->end_const_port_entry_table();
       ++it_a, ++it_b) {
    const CDB_SGATE_OPER_PORT_ENTRY* port_a = *it_a;
    const CDB_SGATE_OPER_PORT_ENTRY* port_b = *it_b;
    KAVU_CHECK(port_a->get_dir() == port_b->get_dir());
    KAVU_CHECK(port_a->get_type() == port_b->get_type());
    if (port_a->get_dir() != CDB_OPER_PORT_DIR_IN) continue;
    same = input_ports_match(port_a, port_b);
  }
  if (!same) return false;
  return it_a == a->end_const_port_entry_table() && it_b == b->end_const_port_entry_table();
}

bool kavu_ops_use_same_modes(CDB_SGATE_NODE* op_a, CDB_SGATE_NODE* op_b) {
  KAVU_CHECK(kavu_is_a_op (op_a));
  KAVU_CHECK(kavu_is_a_op (op_b));
  KAVU_CHECK(kavu_same_type_of_op (op_a,op_b));
  const CDB_SGATE_OPERATOR* a = as_operator(op_a);
  const CDB_SGATE_OPERATOR* b = as_operator(op_b);
  return a->get_mode1() == b->get_mode1() && a->get_mode2() == b->get_mode2() &&
         a->get_mode3() == b->get_mode3();
}

// ---------------------------------------------------------------------------
void kavu_vdebug_op_iport(CDB_SGATE_OPERATOR* op, CDB_OPER_PORT_TYPE type) {
  KAVU_CHECK(op);
  kavu_vdebug_op_iport(op->get_port(type));
}

void kavu_vdebug_op_iport(CDB_SGATE_OPER_PORT_ENTRY* port) {
  check_input_port(port);
  kavu_debug(".%s[%d] =", port->get_name(), static_cast<int>(port->get_width()));
  for (unsigned i = 0; i < port->get_width(); ++i) {
    const CDB_SGATE_ITERM* iterm = port->get_iterm(i);
    const int bit = static_cast<int>(i);
    if (iterm == nullptr) {
      kavu_debug("  %d: NULL", bit);
    } else if (!cdb_is_connected(iterm)) {
      kavu_debug("  %d: Unconnected", bit);
    } else if (iterm->is_vcc()) {
      kavu_debug("  %d: VCC", bit);
    } else if (iterm->is_gnd()) {
      kavu_debug("  %d: GND", bit);
    } else if (const CDB_SGATE_OTERM* src = iterm->get_source()) {
      const CDB_SGATE_NODE* gate = src->get_my_node();
      const char* text = gate->get_string_name();
      kavu_debug("  %d: %s UID %s str=%s hpt=%s %s", bit, gate->get_string_type_name(),
                 gate->get_debug_name().c_str(), text ? text : "", src->get_string_hpath().c_str(),
                 iterm->is_inverted() ? "INV" : "POS");
    } else {
      // Connected through a parent input only: there is no source to name.
      kavu_debug("  %d: Unconnected", bit);
    }
  }
}

bool kavu_op_iport_is_constant(CDB_SGATE_OPERATOR* op, CDB_OPER_PORT_TYPE type) {
  KAVU_CHECK(op);
  return kavu_op_iport_is_constant(op->get_port(type));
}

bool kavu_op_iport_is_constant(CDB_SGATE_OPER_PORT_ENTRY* port) {
  check_input_port(port);
  for (unsigned i = 0; i < port->get_width(); ++i) {
    const CDB_SGATE_ITERM* iterm = port->get_iterm(i);
    if (iterm == nullptr || !iterm->is_vcc_or_gnd()) return false;
  }
  return true;
}

unsigned int kavu_count_real_port_iterms(CDB_SGATE_OPER_PORT_ENTRY* port) {
  check_input_port(port);
  unsigned int count = 0;
  for (unsigned i = 0; i < port->get_width(); ++i) {
    const CDB_SGATE_ITERM* iterm = port->get_iterm(i);
    if (bit_is_connected(iterm) && !iterm->is_vcc_or_gnd()) ++count;
  }
  return count;
}

bool kavu_port_is_all_gnds(CDB_SGATE_OPER_PORT_ENTRY* port) {
  check_input_port(port);
  const unsigned width = port->get_width();
  KAVU_CHECK(width > 0);
  for (unsigned i = 0; i < width; ++i) {
    const CDB_SGATE_ITERM* iterm = port->get_iterm(i);
    if (!bit_is_connected(iterm) || !iterm->is_gnd()) return false;
  }
  return true;
}

bool kavu_port_is_one_hot(CDB_SGATE_OPER_PORT_ENTRY* port, unsigned int* index) {
  check_input_port(port);
  const unsigned width = port->get_width();
  KAVU_CHECK(width > 0);
  bool found_vcc = false;
  bool one_hot = true;
  unsigned position = width + 1;
  for (unsigned i = 0; i < width && one_hot; ++i) {
    const CDB_SGATE_ITERM* iterm = port->get_iterm(i);
    if (!bit_is_connected(iterm) || !iterm->is_vcc_or_gnd()) {
      one_hot = false;
    } else if (iterm->is_vcc()) {
      if (found_vcc) one_hot = false;
      found_vcc = true;
      position = i;
    }
  }
  one_hot = one_hot && found_vcc;
  if (index) *index = one_hot ? position : width + 1;
  return one_hot;
}

// ---------------------------------------------------------------------------
CDB_SGATE_ITERM* kavu_fetch_cin_iterm(CDB_SGATE_NODE* op) {
  const CDB_SGATE_OPER_PORT_ENTRY* port = carry_port(op, CDB_OPER_PORT_CIN, "Found a bus CIN port?");
  return port ? port->get_iterm(0) : nullptr;
}

CDB_SGATE_OTERM* kavu_fetch_cout_oterm(CDB_SGATE_NODE* op) {
  const CDB_SGATE_OPER_PORT_ENTRY* port = carry_port(op, CDB_OPER_PORT_COUT, "Found a bus COUT port?");
  return port ? port->get_oterm(0) : nullptr;
}

CDB_SGATE_NODE* kavu_get_port_owner(CDB_SGATE_OPER_PORT_ENTRY* a) {
  KAVU_CHECK(a);
  CDB_SGATE_NODE* owner = nullptr;
  const bool input = a->get_dir() == CDB_OPER_PORT_DIR_IN;
  for (unsigned i = 0; i < a->get_width() && owner == nullptr; ++i) {
    if (input) {
      if (const CDB_SGATE_ITERM* iterm = a->get_iterm(i)) owner = iterm->get_my_node();
    } else if (const CDB_SGATE_OTERM* oterm = a->get_oterm(i)) {
      owner = oterm->get_my_node();
    }
  }
  KAVU_CHECK(owner);
  return owner;
}

void kavu_get_oterm_port_and_index(CDB_SGATE_OTERM* oterm, CDB_SGATE_OPER_PORT_ENTRY** port, int* index) {
  KAVU_CHECK(oterm && port && index);
  *port = nullptr;
  *index = 0;
  CDB_SGATE_NODE* gate = oterm->get_my_node();
  if (!kavu_is_a_op(gate)) return;
  const CDB_SGATE_OPERATOR* op = as_operator(gate);
  for (auto it = op->begin_const_port_entry_table(); it != op->end_const_port_entry_table(); ++it) {
    CDB_SGATE_OPER_PORT_ENTRY* entry = *it;
    if (entry->get_dir() != CDB_OPER_PORT_DIR_OUT) continue;
    for (unsigned i = 0; i < entry->get_width(); ++i) {
      if (entry->get_oterm(i) != oterm) continue;
      *port = entry;
      *index = static_cast<int>(i);
      return;
    }
  }
}

int kavu_count_real_op_inputs(CDB_SGATE_NODE* op, int limit) {
  KAVU_CHECK(kavu_is_a_op (op));
  // Sorting the sources once keeps wide buses at O(w log w). The early stop
  // at the limit returns the same count as a walk in gate order would: the
  // count only grows, so it stops at min(limit, distinct sources).
  const CDB_SGATE_NODE::ITERM_VECTOR& iterms = op->get_input_terms();
  std::vector<const CDB_SGATE_OTERM*> sources;
  sources.reserve(iterms.size());
  for (unsigned i = 0; i < iterms.size(); ++i) {
    const CDB_SGATE_ITERM* iterm = iterms[i];
    if (!bit_is_connected(iterm) || iterm->is_vcc_or_gnd()) continue;
    sources.push_back(iterm->get_source());
  }
  std::sort(sources.begin(), sources.end());
  const int distinct = static_cast<int>(std::unique(sources.begin(), sources.end()) - sources.begin());
  return limit > 0 ? std::min(limit, distinct) : distinct;
}

std::string kavu_get_mux_op_input_stats(CDB_SGATE_NODE* op) {
  KAVU_CHECK(kavu_is_a_nto1_mux_op (op));
  const CDB_SGATE_OPER_PORT_ENTRY* data = as_operator(op)->get_port(CDB_OPER_PORT_B);
  int num_vcc = 0, num_gnd = 0, num_unc = 0;
  // Keyed by terminal only to gather counts; the line depends on the counts
  // alone, never on the order of the keys.
  std::map<const CDB_SGATE_OTERM*, INT_PAIR> per_source;
  const unsigned width = data ? data->get_width() : 0;
  for (unsigned i = 0; i < width; ++i) {
    const CDB_SGATE_ITERM* iterm = data->get_iterm(i);
    if (!bit_is_connected(iterm)) {
      ++num_unc;
    } else if (iterm->is_vcc()) {
      ++num_vcc;
    } else if (iterm->is_gnd()) {
      ++num_gnd;
    } else {
      INT_PAIR& counts = per_source[iterm->get_source()];
      ++(iterm->is_inverted() ? counts.m_neg : counts.m_pos);
    }
  }
  std::map<std::pair<int, int>, int> profile;
  for (auto& entry : per_source) {
    INT_PAIR int_pair = entry.second;
    if (int_pair.m_pos < int_pair.m_neg) std::swap(int_pair.m_pos, int_pair.m_neg);
    KAVU_CHECK(int_pair.m_pos >= int_pair.m_neg);
    ++profile[{int_pair.m_pos, int_pair.m_neg}];
  }
  char buf[160];
  std::snprintf(buf, sizeof(buf), "#diff real data = %d, #VCC = %d, #GND = %d, #unc = %d, data profile = [",
                static_cast<int>(per_source.size()), num_vcc, num_gnd, num_unc);
  std::string result(buf);
  for (const auto& entry : profile) {
    std::snprintf(buf, sizeof(buf), "((%d,%d)x%d)", entry.first.first, entry.first.second, entry.second);
    result += buf;
  }
  result += "]";
  return result;
}

bool kavu_op_has_some_fanout(CDB_SGATE_NODE* op) {
  KAVU_CHECK(kavu_is_a_op (op));
  const CDB_SGATE_NODE::OTERM_VECTOR& oterms = op->get_output_terms();
  for (unsigned i = 0; i < oterms.size(); ++i) {
    if (oterms[i] && oterms[i]->has_fanout()) return true;
  }
  return false;
}

// ---------------------------------------------------------------------------
void kavu_shift_port(CDB_SGATE_OPER_PORT_ENTRY* port, unsigned int amount) {
  KAVU_CHECK(port);
  if (amount == 0) return;
  const unsigned width = port->get_width();
  const CDB_OPER_PORT_DIR dir = port->get_dir();
  if (dir != CDB_OPER_PORT_DIR_IN && dir != CDB_OPER_PORT_DIR_OUT) KAVU_INTERNAL_ERROR("Tried to shift a bidir port?");
  // From the highest bit down, so no terminal is overwritten before it moved;
  // a bit is emptied before its terminal is stored higher up, since a
  // terminal serves one bit at a time.
  for (unsigned i = width; i-- > 0;) {
    if (dir == CDB_OPER_PORT_DIR_OUT) {
      CDB_SGATE_OTERM* oterm = port->get_oterm(i);
      port->set_oterm(i, nullptr);
      port->set_oterm(i + amount, oterm);
    } else {
      CDB_SGATE_ITERM* iterm = port->get_iterm(i);
      port->set_iterm(i, nullptr);
      port->set_iterm(i + amount, iterm);
    }
  }
  KAVU_CHECK(port->get_width() == (unsigned)(width+amount));
}

void kavu_swap_ports(CDB_SGATE_OPER_PORT_ENTRY* a, CDB_SGATE_OPER_PORT_ENTRY* b, bool /*spare*/) {
  KAVU_CHECK(a && b && a!=b);
  KAVU_CHECK(a->get_dir() == CDB_OPER_PORT_DIR_IN);
  KAVU_CHECK(b->get_dir() == CDB_OPER_PORT_DIR_IN);
  KAVU_CHECK(a->get_width() == b->get_width());
  for (unsigned i = 0; i < a->get_width(); ++i) kavu_swap_iterm_connections(a->get_iterm(i), b->get_iterm(i));
}

void kavu_op_annex_outputs(CDB_SGATE_NODE* piggy, CDB_SGATE_NODE* orphan) {
  annex_outputs(piggy, orphan, false);
}

void kavu_op_annex_outputs_inverted(CDB_SGATE_NODE* piggy, CDB_SGATE_NODE* orphan) {
  annex_outputs(piggy, orphan, true);
}

// ---------------------------------------------------------------------------
void kavu_name_component_from_op(const char* lpm_name, CDB_SGATE_COMPONENT* component, CDB_SGATE_OPERATOR* op) {
  KAVU_CHECK(lpm_name);
  KAVU_CHECK(op);
  HDB_INSTANCE_NAME* iname = op->get_instance_name();
  if (iname == nullptr) return;
  kavu_create_component_name(nullptr, component, iname);
}

bool kavu_iterm_is_select_on_selector(CDB_SGATE_ITERM* iterm) {
  KAVU_CHECK(iterm);
  CDB_SGATE_NODE* gate = iterm->get_my_node();
  if (!kavu_is_a_select_op(gate)) return false;
  const CDB_SGATE_OPER_PORT_ENTRY* sel = as_operator(gate)->get_port(CDB_OPER_PORT_A);
  if (sel == nullptr) return false;
  for (unsigned i = 0; i < sel->get_width(); ++i) {
    if (sel->get_iterm(i) == iterm) return true;
  }
  return false;
}

CDB_SGATE_ITERM* kavu_fetch_sel_data_buddy(CDB_SGATE_ITERM* iterm) {
  KAVU_CHECK(iterm);
  CDB_SGATE_NODE* gate = iterm->get_my_node();
  if (!kavu_is_a_select_op(gate)) return nullptr;
  const CDB_SGATE_OPERATOR* op = as_operator(gate);
  const CDB_SGATE_OPER_PORT_ENTRY* sel = op->get_port(CDB_OPER_PORT_A);
  const CDB_SGATE_OPER_PORT_ENTRY* data = op->get_port(CDB_OPER_PORT_B);
  if (sel == nullptr || data == nullptr) return nullptr;
  for (unsigned i = 0; i < sel->get_width(); ++i) {
    if (sel->get_iterm(i) == iterm) return data->get_iterm(i);
  }
  return nullptr;
}
