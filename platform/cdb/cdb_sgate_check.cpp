// cdb_sgate_check.cpp — the netlist's invariant check and its copy.
//
// check() verifies, without changing anything: each linked gate's netlist
// pointer and slot, the live count, the pin lists, each terminal's owner,
// every fan-out chain (links both ways, source pointers, count, no cycle),
// that every driven input sits in its source's chain, that ties and
// unconnected inputs carry no source or links, and each kind's own rules
// (CDB_SGATE_NODE::check_kind_invariants). The report names the first
// failures (at most 20 lines). Cost: O(gates + terminals).
//
// clone() copies every linked gate with clone_node (clone type 0), then
// rebuilds the connections between copies through each original's temporary
// pointer, which the caller clears with clear_temp_pointers().
#include <algorithm>
#include <new>
#include <type_traits>

#include "cdb/cdb_sgate_kinds.h"
#include "cdb/cdb_sgate_netlist.h"
#include "msg/msg.h"

namespace {

const int MAX_REPORTED = 20;

void fail(std::string* report, int& failures, const std::string& what) {
  if (report && failures < MAX_REPORTED) *report += what + "\n";
  ++failures;
}

bool chain_is_sound(const CDB_SGATE_OTERM* o) {
  unsigned seen = 0;
  const CDB_SGATE_ITERM* prev = nullptr;
  for (const CDB_SGATE_ITERM* t = o->get_first_fanout(); t; t = t->get_next_fanout()) {
    if (++seen > o->get_number_of_fanout()) return false;  // too long, or a cycle
    if (t->get_source() != o || t->get_prev_fanout() != prev || !t->is_connected() || !t->get_my_node())
      return false;
    prev = t;
  }
  return seen == o->get_number_of_fanout() && o->get_last_fanout() == prev;
}

bool iterm_is_sound(const CDB_SGATE_ITERM* t) {
  const CDB_SGATE_OTERM* src = t->get_source();
  if (!src) return !t->get_next_fanout() && !t->get_prev_fanout();
  if (!t->is_connected()) return false;
  // In the chain: reached from its neighbours or from the chain's ends.
  bool from_prev = t->get_prev_fanout() ? t->get_prev_fanout()->get_next_fanout() == t
                                        : src->get_first_fanout() == t;
  bool from_next = t->get_next_fanout() ? t->get_next_fanout()->get_prev_fanout() == t
                                        : src->get_last_fanout() == t;
  return from_prev && from_next;
}

// True when a non-null pointer occurs twice (sorted copy: wide gates stay linear-log).
template <class P>
bool has_duplicates(P* b, P* e) {
  std::vector<std::remove_const_t<P>> v;
  for (P* p = b; p != e; ++p)
    if (*p) v.push_back(*p);
  std::sort(v.begin(), v.end());
  return std::adjacent_find(v.begin(), v.end()) != v.end();
}

// Gives the copy of `n` (its temporary pointer) the connections, ties and
// parent links of `n`, translated to copies where they lie in `source`.
void connect_copy_like(const CDB_SGATE_NODE* n, const CDB_SGATE_NETLIST* source) {
  CDB_SGATE_NODE* c = n->get_temp_node();
  for (unsigned i = 0; i < n->get_number_of_input_terms(); ++i) {
    const CDB_SGATE_ITERM* t = n->get_input_term(i);
    CDB_SGATE_ITERM* ct = c->get_input_term(i);
    if (!t || !ct) continue;
    if (t->is_vcc()) {
      ct->set_vcc();
    } else if (t->is_gnd()) {
      ct->set_gnd();
    } else if (CDB_SGATE_OTERM* src = t->get_source()) {
      CDB_SGATE_NODE* sn = src->get_my_node();
      CDB_SGATE_OTERM* csrc = src;  // sources outside the netlist stay as they are
      if (sn->get_netlist() == source) {
        const CDB_SGATE_NODE::OTERM_VECTOR& outs = sn->get_output_terms();
        size_t k = size_t(std::find(outs.begin(), outs.end(), src) - outs.begin());
        csrc = sn->get_temp_node()->get_output_term(unsigned(k));
      }
      csrc->insert_fanout(ct);
    }
    if (const CDB_SGATE_ITERM* p = t->get_parent_input()) {
      CDB_SGATE_NODE* pn = p->get_my_node();
      if (pn && pn->get_netlist() == source) {
        const CDB_SGATE_NODE::ITERM_VECTOR& ins = pn->get_input_terms();
        size_t k = size_t(std::find(ins.begin(), ins.end(), p) - ins.begin());
        ct->set_parent_input(pn->get_temp_node()->get_input_term(unsigned(k)));
      }
    }
  }
}

}  // namespace

bool CDB_SGATE_NETLIST::check_node(const CDB_SGATE_NODE* n, std::string* report, int& failures) const {
  int before = failures;
  // The gate's words, made only for a report: a sound gate costs no text.
  auto name = [n] { return std::string(n->get_string_type_name()) + " " + n->get_debug_name(); };
  if (n->m_netlist != this) fail(report, failures, name() + ": linked gate does not point to this netlist");
  if (!n->m_slot || *n->m_slot != n) fail(report, failures, name() + ": recorded slot does not hold the gate");
  for (size_t i = 0; i < n->m_iterms.size(); ++i) {
    const CDB_SGATE_ITERM* t = n->m_iterms[i];
    if (!t) continue;
    if (t->get_my_node() != n) fail(report, failures, name() + ": input " + std::to_string(i) + " has another owner");
    if (!iterm_is_sound(t)) fail(report, failures, name() + ": input " + std::to_string(i) + " is not in its source's chain");
  }
  if (has_duplicates(n->m_iterms.begin(), n->m_iterms.end()))
    fail(report, failures, name() + ": an input terminal is listed twice");
  if (has_duplicates(n->m_oterms.begin(), n->m_oterms.end()))
    fail(report, failures, name() + ": an output terminal is listed twice");
  for (size_t i = 0; i < n->m_oterms.size(); ++i) {
    const CDB_SGATE_OTERM* o = n->m_oterms[i];
    if (!o) continue;
    if (o->get_my_node() != n) fail(report, failures, name() + ": output " + std::to_string(i) + " has another owner");
    if (!chain_is_sound(o)) fail(report, failures, name() + ": fan-out chain of output " + std::to_string(i) + " is broken");
  }
  std::string kind_report;
  if (!n->check_kind_invariants(&kind_report)) {
    if (kind_report.empty()) kind_report = name() + ": kind invariant broken\n";
    if (report && failures < MAX_REPORTED) *report += kind_report;
    ++failures;
  }
  return failures == before;
}

bool CDB_SGATE_NETLIST::check(std::string* report) const {
  // Memory refused while checking (the check's sets and words) fails the
  // check with that reason, never std::bad_alloc.
  try {
    return check_invariants(report);
  } catch (const std::bad_alloc&) {
  }
  if (report) {
    try {
      *report = "not enough memory to check the netlist";
    } catch (const std::bad_alloc&) {
      *report = "out of memory";  // within the string's own buffer
    }
  }
  return false;
}

bool CDB_SGATE_NETLIST::check_invariants(std::string* report) const {
  int failures = 0;
  const uint32_t seen = next_stamp();
  uint32_t live = 0;
  size_t pins[3] = {0, 0, 0};
  for (iterator it = begin_node_list(); it != end_node_list(); ++it) {
    CDB_SGATE_NODE* n = *it;
    if (!n) continue;
    ++live;
    if (n->m_stamp == seen) fail(report, failures, n->get_debug_name() + ": gate listed twice");
    n->m_stamp = seen;
    if (const CDB_SGATE_IO* io = n->cast_to_io()) ++pins[std::min(int(io->get_io_type()), 2)];
    check_node(n, report, failures);
  }
  if (live != m_nodes.size()) fail(report, failures, "live count " + std::to_string(m_nodes.size()) +
                                                         " differs from the " + std::to_string(live) + " linked gates");
  const std::vector<CDB_SGATE_IO*>* lists[3] = {&m_input_pins, &m_output_pins, &m_bidir_pins};
  for (int k = 0; k < 3; ++k) {
    if (lists[k]->size() != pins[k]) fail(report, failures, "pin list " + std::to_string(k) + " has the wrong size");
    for (const CDB_SGATE_IO* p : *lists[k])
      if (p->get_netlist() != this || std::min(int(p->get_io_type()), 2) != k)
        fail(report, failures, p->get_debug_name() + ": pin in the wrong pin list");
  }
  for (const CDB_SGATE_NODE* g : m_graveyard)
    if (g->m_netlist || g->graveyard() != this) fail(report, failures, g->get_debug_name() + ": graveyard gate is linked");
  return failures == 0;
}

// ---------------------------------------------------------------------------

CDB_SGATE_NETLIST* CDB_SGATE_NETLIST::clone(MEM_SEGMENT* seg, bool with_names, bool with_flags) const {
  CDB_SGATE_NETLIST* copy = new CDB_SGATE_NETLIST(m_is_partition, m_number, 0);
  copy->m_first_debug_number = m_first_debug_number;
  copy->m_hierarchy = m_hierarchy;
  // The records describe the netlist, not its gates: a copy is of the same
  // compile and split, and its analysis reads back what that compile stored.
  copy->m_tdb_origin = m_tdb_origin;
  copy->m_split_labelling = m_split_labelling;
  for (iterator it = begin_node_list(); it != end_node_list(); ++it) {
    CDB_SGATE_NODE* n = *it;
    if (!n) continue;
    CDB_SGATE_NODE* c = nullptr;
    n->clone_node(seg, &c, 0);
    PLAT_CHECK(c != nullptr, "CDB");
    n->set_temp_pointer(c);
    if (with_names) {
      c->set_instance_name(n->get_instance_name());
      if (n->ex().m_synfrom) c->extra().m_synfrom = n->m_extra->m_synfrom;
      for (size_t i = 0; i < n->m_oterms.size(); ++i) {
        const CDB_SGATE_OTERM* o = n->m_oterms[i];
        CDB_SGATE_OTERM* co = c->get_output_term(unsigned(i));
        if (!o || !co) continue;
        co->set_instance_name(o->get_instance_name());
        co->set_synfrom(o->get_synfrom_name());
        co->m_bits = uint8_t((co->m_bits & ~CDB_TERM_SYNTHESIZED_NAME) | (o->m_bits & CDB_TERM_SYNTHESIZED_NAME));
      }
    }
    if (with_flags) {
      c->get_flag().set_value(n->get_flag().value());
      for (size_t i = 0; i < n->m_oterms.size(); ++i)
        if (n->m_oterms[i] && c->get_output_term(unsigned(i)))
          c->get_output_term(unsigned(i))->get_flag().set_value(n->m_oterms[i]->get_flag().value());
    }
    if (n->ex().m_max_fanout_limit > 0) c->extra().m_max_fanout_limit = n->m_extra->m_max_fanout_limit;
    copy->add_node(c, true);
  }
  for (iterator it = begin_node_list(); it != end_node_list(); ++it)
    if (CDB_SGATE_NODE* n = *it) connect_copy_like(n, this);
  copy->m_dirty = false;
  return copy;
}

void CDB_SGATE_NETLIST::clear_temp_pointers() {
  for (iterator it = begin_node_list(); it != end_node_list(); ++it)
    if (CDB_SGATE_NODE* n = *it) n->set_temp_pointer(nullptr);
}
