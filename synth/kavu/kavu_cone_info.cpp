// kavu_cone_info.cpp — the two-register-level neighbourhood of an output
// terminal: how far its fan-out spreads and which DSP-like and RAM-like
// blocks sit in its fan-out and fan-in.
//
// Both walks use explicit stacks. The fan-out walk keeps one frame per
// terminal being visited; a frame's running count is stored when each of
// its sinks has been handled (after that sink's own walk), as a recursive
// walk would. The fan-in walk pushes sources in reverse so that gates are
// first reached in the order of a recursive depth-first walk.
#include <vector>

#include "cdb/cdb_sgate_component.h"
#include "cdb/cdb_sgate_wysiwyg.h"
#include "kavu_llis.h"

namespace {

const int VISIT_LIMIT[2] = {75, 100};
const int TOTAL_LIMIT[2] = {150, 200};
const int DUPLICATION_THRESHOLD = 75;

enum SINK_KIND { SINK_REGISTER, SINK_RAM, SINK_LOGIC, SINK_DSP, SINK_NONE };

SINK_KIND classify(const CDB_SGATE_NODE* node) {
  const CDB_SGATE_TYPE t = node->get_sgate_type();
  if (t == CDB_SGATE_DFF_ENUM) return SINK_REGISTER;
  if (t == CDB_SGATE_SYNCHRONOUS_RAM_ENUM) return SINK_RAM;
  if (node->is_wysiwyg()) {
    const CDB_SGATE_WYSIWYG* w = node->cast_to_wysiwyg();
    if (w->is_mac()) return SINK_DSP;
    if (w->is_ram()) return SINK_RAM;
    return SINK_NONE;
  }
  if (t == CDB_SGATE_COMPONENT_ENUM)
    return uint8_t(node->cast_to_component()->get_component_type()) < 2 ? SINK_DSP : SINK_NONE;
  return SINK_LOGIC;
}

// The driver of the gate's first input when that input counts as connected.
CDB_SGATE_NODE* first_input_driver(const CDB_SGATE_NODE* node) {
  CDB_SGATE_ITERM* t = node->get_input_term(0);
  if (!t || !cdb_is_connected(t) || !t->get_source()) return nullptr;
  return t->get_source()->get_my_node();
}

}  // namespace

KAVU_CONE_INFO::KAVU_CONE_INFO(CDB_SGATE_OTERM* root) : m_root(root) { rebuild_info(); }

void KAVU_CONE_INFO::zero() {
  CDB_SGATE_OTERM* root = m_root;
  *this = KAVU_CONE_INFO();
  m_root = root;
}

void KAVU_CONE_INFO::rebuild_info() {
  zero();
  if (!m_root) return;
  std::set<CDB_SGATE_NODE*> visited;
  visit_fanout_node(m_root, visited);
  std::set<CDB_SGATE_NODE*> visited_fanin;
  visit_fanin_node(m_root, visited_fanin, true);
}

void KAVU_CONE_INFO::store_direct_fanout_value(CDB_SGATE_OTERM* oterm, int value) {
  const int level = m_current_level;
  if (oterm == m_root) m_direct_fanout = value;
  if (value > m_largest_fanout[level]) m_largest_fanout[level] = value;
  m_total_fanout[level] += value;
}

void KAVU_CONE_INFO::visit_fanout_node(CDB_SGATE_OTERM* root, std::set<CDB_SGATE_NODE*>& visited) {
  struct FRAME {
    CDB_SGATE_OTERM* oterm;
    int level;
    bool stop;
    int count;
    CDB_SGATE_ITERM* next;       // the next sink of `oterm` to handle
    CDB_SGATE_NODE* pending;     // a sink whose output terminals are still to walk
    unsigned pending_index;      // the next of those terminals
    unsigned pending_end;        // one past the last of them
    int pending_level;
    bool store_due;              // the sink just handled still needs its store
  };
  std::vector<FRAME> stack;
  auto enter = [&](CDB_SGATE_OTERM* o, int level) {
    if (!o || !o->has_fanout()) return;
    stack.push_back({o, level, m_total_fanout[level] >= TOTAL_LIMIT[level], 0, o->get_first_fanout(), nullptr, 0, 0,
                     level, false});
  };
  enter(root, m_current_level);
  while (!stack.empty()) {
    FRAME& f = stack.back();
    if (f.pending) {
      if (f.pending_index < f.pending_end) {
        CDB_SGATE_OTERM* child = f.pending->get_output_term(f.pending_index++);
        const int child_level = f.pending_level;
        enter(child, child_level);  // may reallocate: `f` is not used after this
        continue;
      }
      f.pending = nullptr;
    }
    m_current_level = f.level;
    if (f.store_due) {
      store_direct_fanout_value(f.oterm, f.count);
      f.store_due = false;
    }
    if (!f.next || f.stop) {
      stack.pop_back();
      continue;
    }
    CDB_SGATE_ITERM* t = f.next;
    f.next = t->get_next_fanout();
    CDB_SGATE_NODE* node = t->get_my_node();
    if (f.count >= VISIT_LIMIT[f.level]) f.stop = true;
    if (!node || f.stop) continue;
    if (!visited.insert(node).second) {
      store_direct_fanout_value(f.oterm, f.count);
      continue;
    }
    f.count += 1;
    f.store_due = true;
    switch (classify(node)) {
      case SINK_REGISTER:
        if (f.level + 1 < 2) {
          // Only the register's first output terminal is walked.
          f.pending = node;
          f.pending_index = 0;
          f.pending_end = node->get_output_count() ? 1 : 0;
          f.pending_level = f.level + 1;
        }
        break;
      case SINK_RAM:
        m_ram_fanout[f.level] += 1;
        break;
      case SINK_LOGIC:
        f.pending = node;
        f.pending_index = 0;
        f.pending_end = node->get_output_count();
        f.pending_level = f.level;
        break;
      case SINK_DSP:
        m_dsp_fanout[f.level] += 1;
        break;
      case SINK_NONE:
        break;
    }
  }
  m_current_level = 0;
}

// Only the root's own gate is replaced by the driver of its first input;
// gates reached further in are themselves counted and all their inputs
// followed, so a RAM or MAC on any input is found.
void KAVU_CONE_INFO::visit_fanin_node(CDB_SGATE_OTERM* oterm, std::set<CDB_SGATE_NODE*>& visited, bool is_root) {
  if (!oterm) return;
  CDB_SGATE_NODE* node = oterm->get_my_node();
  if (is_root && m_current_level == 0) node = node ? first_input_driver(node) : nullptr;
  visit_fanin_gate(node, visited);
}

void KAVU_CONE_INFO::visit_fanin_gate(CDB_SGATE_NODE* start, std::set<CDB_SGATE_NODE*>& visited) {
  struct ITEM {
    CDB_SGATE_NODE* node;
    int level;
  };
  std::vector<ITEM> stack;
  if (start) stack.push_back({start, m_current_level});
  while (!stack.empty()) {
    const ITEM item = stack.back();
    stack.pop_back();
    if (!visited.insert(item.node).second) continue;
    const int level = item.level;
    switch (classify(item.node)) {
      case SINK_REGISTER:
        if (level + 1 < 2) {
          CDB_SGATE_ITERM* t = item.node->get_input_term(0);
          if (t && t->get_source()) stack.push_back({t->get_source()->get_my_node(), level + 1});
        }
        break;
      case SINK_RAM:
        m_ram_fanin[level] += 1;
        break;
      case SINK_LOGIC: {
        for (unsigned i = item.node->get_number_of_input_terms(); i-- > 0;) {
          const CDB_SGATE_ITERM* t = item.node->get_input_term(i);
          if (t && t->get_source()) stack.push_back({t->get_source()->get_my_node(), level});
        }
        break;
      }
      case SINK_DSP:
        m_dsp_fanin[level] += 1;
        break;
      case SINK_NONE:
        break;
    }
  }
}

bool KAVU_CONE_INFO::should_be_duplicated() const {
  return m_largest_fanout[0] >= DUPLICATION_THRESHOLD || m_total_fanout[0] >= TOTAL_LIMIT[0] ||
         m_direct_fanout >= DUPLICATION_THRESHOLD;
}

bool KAVU_CONE_INFO::has_complicated_two_level_fanout() const {
  if (m_direct_fanout >= DUPLICATION_THRESHOLD) return true;
  for (int l = 0; l < 2; ++l)
    if (m_largest_fanout[l] > VISIT_LIMIT[l] || m_total_fanout[l] > TOTAL_LIMIT[l] || m_ram_fanout[l] > 0 ||
        m_dsp_fanout[l] >= 1)
      return true;
  return false;
}

bool KAVU_CONE_INFO::has_complicated_two_level_fanin() const {
  for (int l = 0; l < 2; ++l)
    if (m_ram_fanin[l] >= 1 || m_dsp_fanin[l] >= 1) return true;
  return false;
}
