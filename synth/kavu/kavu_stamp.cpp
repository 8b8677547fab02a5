// kavu_stamp.cpp — hierarchy stamps (model in kavu_stamp.h).
//
// Departures from the plain reading of the model, each for soundness:
// - Emptying destroys only the gates of registered duplicates (stamp ids
//   that are keys of the duplicate-to-master table); any other partition,
//   master or not, survives.
// - Every gate this area destroys is first erased from the six tables, so a
//   later lookup can never meet a recycled address.
// - An output boundary hands every one of its fan-outs to the bus operator,
//   not only the first, and the outside gate's other inputs stay untouched.
// - Constant propagation decides every master boundary on the netlist as it
//   stands before it deletes anything, and takes a facing output boundary
//   away only with its last reader: one constant net cut once may face the
//   boundaries of the master and of every duplicate. The counter counts the
//   boundaries actually deleted (2 per pair when no facing boundary is
//   shared).
// - The master/duplicate check compares every duplicate met with its master,
//   counting a stamp that has no gate left as all zeros.
// Cost: labelling is one breadth-first walk per partition over a work list
// reused between floods; statistics use ordered maps by stamp id.
#include "kavu_stamp.h"

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "cfg/cfg.h"
#include "gen/gen.h"
#include "hdb/hdb.h"
#include "kavu_check.h"
#include "kavu_helper_gate_create.h"
#include "kavu_helper_predicates.h"
#include "kavu_msg.h"
#include "kavu_word_level.h"

namespace {

int stamp_of(const CDB_SGATE_NODE* g) {
  const CDB_SGATE_OTERM* t = g->get_single_oterm();
  return t ? t->get_aux() : 0;
}

void set_stamp(CDB_SGATE_NODE* g, int id) {
  if (CDB_SGATE_OTERM* t = g->get_single_oterm()) t->set_aux(id);
}

bool stops_flood(const CDB_SGATE_NODE* g) {
  return kavu_is_a_boundary(g) || kavu_is_a_bus_in_op(g) || kavu_is_a_bus_out_op(g);
}

int partition_number(CDB_SGATE_NODE* g) {
  if (CDB_SGATE_BOUNDARY* b = g->cast_to_boundary()) return b->get_partition_number();
  if (CDB_SGATE_OPERATOR* op = g->cast_to_operator()) return op->get_partition_number();
  return 0;
}

void trace_gate(bool on, const char* format, CDB_SGATE_NODE* g, int id) {
  if (on)
    kavu_debug(format, g->get_string_type_name(), g->get_debug_name().c_str(), g->get_string_hpath().c_str(), id);
}

void erase_value(std::vector<CDB_SGATE_NODE*>& v, CDB_SGATE_NODE* g) {
  v.erase(std::remove(v.begin(), v.end(), g), v.end());
}

// Unlinks and destroys a gate this area removes, erasing it from the tables first.
void destroy_gate(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* g) {
  kavu_stamp_tables().forget_gate(g);
  netlist->delete_node(g);
  delete g;
}

struct STAMP_STATS {
  std::map<int, int> size, size_with_boundaries, inputs, outputs, registers, combs;
};

void count_gate(STAMP_STATS& s, CDB_SGATE_NODE* g, int id) {
  if (!s.size_with_boundaries.count(id))
    for (auto* m : {&s.size, &s.size_with_boundaries, &s.inputs, &s.outputs, &s.registers, &s.combs}) (*m)[id] = 0;
  ++s.size_with_boundaries[id];
  if (!kavu_is_a_boundary(g)) ++s.size[id];
  if (kavu_is_a_input_pin(g)) ++s.inputs[id];
  if (kavu_is_a_output_pin(g)) ++s.outputs[id];
  if (kavu_is_a_dff(g) || kavu_is_a_wys_ff(g)) ++s.registers[id];
  if (kavu_is_a_comb(g)) ++s.combs[id];
}

// A count of a stamp; 0 for a stamp no gate belongs to any more.
int count_of(const std::map<int, int>& m, int id) {
  auto found = m.find(id);
  return found == m.end() ? 0 : found->second;
}

bool same_shape(const STAMP_STATS& s, int a, int b) {
  for (const auto* m : {&s.size, &s.inputs, &s.outputs, &s.registers, &s.combs})
    if (count_of(*m, a) != count_of(*m, b)) return false;
  return true;
}

// The constant (1 or 0) an input boundary receives through its facing output
// boundary, or -1 when it receives something else.
int constant_through_facing_boundary(CDB_SGATE_NODE* in_boundary) {
  CDB_SGATE_ITERM* in = in_boundary->get_single_iterm();
  CDB_SGATE_NODE* next_bound = (in && in->get_source()) ? in->get_source()->get_my_node() : nullptr;
  KAVU_CHECK(next_bound && kavu_is_a_boundary_output(next_bound));
  CDB_SGATE_ITERM* t = next_bound->get_single_iterm();
  if (t && t->is_vcc()) return 1;
  if (t && t->is_gnd()) return 0;
  return -1;
}

// A master input boundary whose constant reaches every one of its duplicates.
struct CONSTANT_GROUP {
  CDB_SGATE_NODE* m_master;
  std::vector<CDB_SGATE_NODE*> m_duplicates;
  int m_value;
};

// Ties the input boundary to the constant its facing output boundary
// delivers, takes it out of the path (its readers then see the constant) and
// destroys it; the facing boundary goes too once nothing reads it any more.
// Returns the number of boundaries destroyed. `gone` holds what this pass
// destroyed, so a boundary listed twice is handled once.
int delete_constant_boundary(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* in_boundary, int value, const char* format,
                             std::set<const CDB_SGATE_NODE*>& gone) {
  if (gone.count(in_boundary)) return 0;
  CDB_SGATE_ITERM* in = in_boundary->get_single_iterm();
  CDB_SGATE_OTERM* facing_out = in->get_source();
  KAVU_CHECK(facing_out);
  const bool vcc = ((value == 1) != facing_out->is_inverted()) != in->is_inverted();
  if (vcc) in->set_vcc();
  else in->set_gnd();
  kavu_excise_buffer(in_boundary);
  kavu_debug(format, in_boundary->get_string_type_name(), in_boundary->get_debug_name().c_str(),
             in_boundary->get_string_hpath().c_str(), value);
  gone.insert(in_boundary);
  destroy_gate(netlist, in_boundary);
  if (facing_out->has_fanout()) return 1;  // it still faces another boundary
  CDB_SGATE_NODE* facing = facing_out->get_my_node();
  gone.insert(facing);
  destroy_gate(netlist, facing);
  return 2;
}

void create_bus_in_next_to(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* n) {
  CDB_SGATE_ITERM* n_in = n->get_single_iterm();
  CDB_SGATE_OTERM* s_out = n_in ? n_in->get_source() : nullptr;
  if (!s_out) return;  // nothing outside drives this boundary
  CDB_SGATE_NODE* s = s_out->get_my_node();
  const std::vector<CDB_SGATE_NODE*> pins = g_outside_gate_to_dup_pins[s];
  const unsigned width = static_cast<unsigned>(pins.size()) + 1;
  CDB_SGATE_OPERATOR* op = kavu_create_bus_in_operator(netlist, width)->cast_to_operator();
  kavu_debug("Creating bus in operator of size %d next to %s %s %s from master %d", static_cast<int>(width),
             n->get_string_type_name(), n->get_debug_name().c_str(), n->get_string_hpath().c_str(),
             partition_number(n));
  n_in->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_UNCONNECTED);
  op->get_single_oterm()->insert_fanout(n_in);
  op->set_partition_number(partition_number(n));
  s_out->insert_fanout(op->get_iterm(CDB_OPER_PORT_A, 0));
  for (unsigned i = 1; i < width; ++i)
    if (CDB_SGATE_OTERM* p = pins[i - 1]->get_single_oterm()) p->insert_fanout(op->get_iterm(CDB_OPER_PORT_A, i));
}

void create_bus_out_next_to(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* n) {
  CDB_SGATE_OTERM* n_out = n->get_single_oterm();
  if (!n_out || !n_out->has_fanout()) return;  // nothing outside reads this boundary
  CDB_SGATE_NODE* t = n_out->get_first_fanout()->get_my_node();
  const std::vector<CDB_SGATE_NODE*> pins = g_outside_gate_to_dup_pins[t];
  const unsigned width = static_cast<unsigned>(pins.size()) + 1;
  kavu_debug("Creating bus out operator of size %d next to %s %s %s from master %d", static_cast<int>(width),
             n->get_string_type_name(), n->get_debug_name().c_str(), n->get_string_hpath().c_str(),
             partition_number(n));
  CDB_SGATE_OPERATOR* op = kavu_create_bus_out_operator(netlist, width)->cast_to_operator();
  op->set_partition_number(partition_number(n));
  // Every reader of the boundary moves to bit 0, not only the first.
  op->get_oterm(CDB_OPER_PORT_O, 0)->adopt_fanouts(n_out, false);
  n_out->insert_fanout(op->get_iterm(CDB_OPER_PORT_A, 0));
  for (unsigned i = 1; i < width; ++i) {
    CDB_SGATE_ITERM* pin_in = pins[i - 1]->get_single_iterm();
    if (!pin_in) continue;
    pin_in->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_UNCONNECTED);
    op->get_oterm(CDB_OPER_PORT_O, i)->insert_fanout(pin_in);
  }
}

}  // namespace

void KAVU_STAMP_TABLES::forget_gate(CDB_SGATE_NODE* gate) {
  m_dup_bound_to_pins.erase(gate);
  m_master_bound_to_dup_bounds.erase(gate);
  m_outside_gate_to_dup_pins.erase(gate);
  m_dup_pin_to_outside_gate.erase(gate);
  for (auto* table : {&m_dup_bound_to_pins, &m_master_bound_to_dup_bounds, &m_outside_gate_to_dup_pins})
    for (auto& entry : *table) erase_value(entry.second, gate);
  for (auto it = m_dup_pin_to_outside_gate.begin(); it != m_dup_pin_to_outside_gate.end();)
    it = (it->second == gate) ? m_dup_pin_to_outside_gate.erase(it) : std::next(it);
}

void kavu_add_to_stamp_map(int master, int duplicate) {
  g_master_id_to_dup_ids[master].insert(duplicate);
  auto found = g_dup_id_to_master_id.find(duplicate);
  if (found != g_dup_id_to_master_id.end()) {
    if (found->second != master) KAVU_INTERNAL_ERROR("g_dup_id_to_master_id[duplicate] == master");
    return;
  }
  g_dup_id_to_master_id[duplicate] = master;
  kavu_debug("tvq - (Added duplicate, master) (%d, %d) to the map", duplicate, master);
}

void kavu_add_pin_to_duplicate_boundary(CDB_SGATE_NODE* duplicate_boundary, CDB_SGATE_NODE* pin) {
  g_dup_bound_to_pins[duplicate_boundary].push_back(pin);
}

void kavu_update_dup_bound_to_master_bound(CDB_SGATE_NODE* duplicate_boundary, CDB_SGATE_NODE* master_boundary,
                                           CDB_SGATE_NODE* outside_gate) {
  const std::vector<CDB_SGATE_NODE*> pins = g_dup_bound_to_pins[duplicate_boundary];
  for (CDB_SGATE_NODE* p : pins) {
    if (partition_number(p) == KAVU_STAMP_TOP_ID) {
      g_dup_pin_to_outside_gate[p] = outside_gate;
      g_outside_gate_to_dup_pins[outside_gate].push_back(p);
    } else {
      g_master_bound_to_dup_bounds[master_boundary].push_back(p);
    }
  }
}

void kavu_stamp_flood_partition(CDB_SGATE_NODE* seed, int stamp_id) {
  KAVU_CHECK(seed);
  const bool very_verbose = cfg_is_on("kavu_stamp_very_verbose", false);
  std::vector<CDB_SGATE_NODE*> work{seed};
  set_stamp(seed, stamp_id);
  for (size_t next = 0; next < work.size(); ++next) {
    CDB_SGATE_NODE* g = work[next];
    trace_gate(very_verbose, "Traversing fanout of %s %s %s for partition %d", g, stamp_id);
    for (CDB_SGATE_OTERM* o : g->get_output_terms()) {
      if (!o) continue;
      for (CDB_SGATE_ITERM* fo : o->fanouts()) {
        CDB_SGATE_NODE* f = fo->get_my_node();
        if (stops_flood(f)) continue;
        CDB_SGATE_OTERM* oterm2 = f->get_single_oterm();
        KAVU_CHECK(oterm2);
        if (oterm2->get_aux() == 0) {
          trace_gate(very_verbose, "  fo - Adding %s %s %s to the partition %d", f, stamp_id);
          work.push_back(f);
          oterm2->set_aux(stamp_id);
        } else if (oterm2->get_aux() != stamp_id) {
          kavu_debug("IE - oterm2 aux is %d, stamp_id is %d", oterm2->get_aux(), stamp_id);
          kavu_debug("When traversing %s %s %s to the partition %d", f->get_string_type_name(),
                     f->get_debug_name().c_str(), f->get_string_hpath().c_str(), stamp_id);
          KAVU_CHECK(oterm2->get_aux() == stamp_id);
        }
      }
    }
    trace_gate(very_verbose, "Traversing fanin of %s %s %s for partition %d", g, stamp_id);
    for (CDB_SGATE_ITERM* t : g->get_input_terms()) {
      if (!t || !t->is_connected() || !t->get_source()) continue;
      CDB_SGATE_NODE* node_fanin = t->get_source()->get_my_node();
      if (stops_flood(node_fanin)) continue;
      if (node_fanin->get_single_oterm()->get_aux() == 0) {
        trace_gate(very_verbose, "  fi - Adding %s %s %s to the partition %d", node_fanin, stamp_id);
        work.push_back(node_fanin);
        node_fanin->get_single_oterm()->set_aux(stamp_id);
      }
      KAVU_CHECK(node_fanin->get_single_oterm()->get_aux() == stamp_id);
    }
  }
}

void kavu_stamp_label_nodes(CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist);
  kavu_debug("Going through the netlist, labeling each node with its stamp id using the aux value");
  netlist->sweep(false);
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it)
    if (*it) set_stamp(*it, 0);
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* node = *it;
    if (node && kavu_is_a_boundary(node) && stamp_of(node) == 0)
      kavu_stamp_flood_partition(node, partition_number(node));
  }
  int others = 0, bus_operators = 0;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* node = *it;
    if (!node || stamp_of(node) != 0) continue;
    set_stamp(node, KAVU_STAMP_TOP_ID);
    if (kavu_is_a_bus_in_op(node) || kavu_is_a_bus_out_op(node)) ++bus_operators;
    else ++others;
  }
  if (others > 0)
    kavu_debug("These nodes (%d gates) cannot be reached from a boundary node, putting them in top partition", others);
  kavu_debug("We have %d bus operators which we will put in the top partition", bus_operators);
}

void kavu_stamp_print_partitions(CDB_SGATE_NETLIST* netlist, bool strict) {
  KAVU_CHECK(netlist);
  GEN_PROFILER profiler("KAVU", "print_partitions");
  STAMP_STATS s;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* node = *it;
    KAVU_CHECK(node && !kavu_is_a_silly_buffer(node));
    const int stamp_id = stamp_of(node);
    KAVU_CHECK(stamp_id > 0);
    count_gate(s, node, stamp_id);
  }
  kavu_debug("Total number of stamp copies for all templates (excluding the rest) %d",
             static_cast<int>(s.size.size()) - 1);
  for (const auto& [id, size] : s.size)
    kavu_debug("Stamp from hierarchy number %d: size %d (%d including boundaries), %d inputs, %d outputs, %d dffs, "
               "%d combs", id, size, s.size_with_boundaries[id], s.inputs[id], s.outputs[id], s.registers[id],
               s.combs[id]);
  bool overall_success = true;
  // Every duplicate met, against its master even when no gate of the master
  // is left (it then counts as all zeros and the duplicate no longer matches).
  for (const auto& entry : s.size) {
    const int dup = entry.first;
    auto listed = g_dup_id_to_master_id.find(dup);
    if (listed == g_dup_id_to_master_id.end()) continue;
    const int master = listed->second;
    if (same_shape(s, dup, master)) continue;
    kavu_debug("tvq - Issue: duplicate %d no longer matches its master %d!", dup, master);
    overall_success = false;
    if (cfg_is_on("tvq_deep_check", true)) {
      if (count_of(s.size, master) > count_of(s.size, dup)) kavu_stamp_deep_check(netlist, master, dup);
      else kavu_stamp_deep_check(netlist, dup, master);
    }
  }
  if (!overall_success) {
    kavu_debug("STAMP WARNING: Your stamps don't match anymore, please look at the stats above.");
    if (cfg_is_on("stamp_always_ie_on_mismatch", false) || strict) KAVU_CHECK(overall_success);
  } else {
    kavu_debug("tvq - stamp check successful");
  }
}

void kavu_stamp_deep_check(CDB_SGATE_NETLIST* netlist, int stamp_a, int stamp_b) {
  KAVU_CHECK(netlist);
  kavu_debug("tvq - Starting deep check of %d vs %d", stamp_a, stamp_b);
  auto unit_name = [](CDB_SGATE_NODE* g) {
    return g->get_instance_name() ? g->get_instance_name()->get_unit_name_str() : std::string();
  };
  std::set<std::string> names_b;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* g = *it;
    if (!g) continue;
    const int stamp_id = stamp_of(g);
    KAVU_CHECK(stamp_id > 0);
    if (stamp_id == stamp_b && !kavu_is_a_boundary(g)) names_b.insert(unit_name(g));
  }
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* g = *it;
    if (!g) continue;
    const int stamp_id = stamp_of(g);
    KAVU_CHECK(stamp_id > 0);
    if (stamp_id != stamp_a || kavu_is_a_boundary(g) || names_b.count(unit_name(g))) continue;
    const std::string path = g->get_instance_name() ? g->get_instance_name()->get_short_hpath(0) : std::string();
    kavu_debug("tvq - Node %d, %s is in %d but missing from %d", static_cast<int>(g->get_id()), path.c_str(),
               stamp_a, stamp_b);
  }
}

void kavu_print_stamp_info(CDB_SGATE_NETLIST* netlist, int level) {
  kavu_stamp_label_nodes(netlist);
  kavu_stamp_print_partitions(netlist, level == 1);
}

void kavu_stamp_propagate_common_constants(CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist);
  // Decide every master boundary first, on the netlist as it stands: the
  // deletions edit the node list and the tables, and a facing boundary shared
  // between copies must be seen alike by all of them.
  std::vector<CONSTANT_GROUP> groups;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* b = *it;
    if (!b || !kavu_is_a_boundary_input(b)) continue;
    auto listed = g_master_bound_to_dup_bounds.find(b);
    if (listed == g_master_bound_to_dup_bounds.end()) continue;
    const int value = constant_through_facing_boundary(b);
    if (value < 0) continue;
    bool all_same = true;
    for (CDB_SGATE_NODE* p : listed->second) all_same = all_same && constant_through_facing_boundary(p) == value;
    if (all_same) groups.push_back({b, listed->second, value});
  }
  int deleted = 0;
  std::set<const CDB_SGATE_NODE*> gone;
  for (const CONSTANT_GROUP& g : groups) {
    for (CDB_SGATE_NODE* p : g.m_duplicates)
      deleted += delete_constant_boundary(netlist, p, g.m_value, "Deleting boundary %s, %s, %s because fed by cst %d",
                                          gone);
    deleted += delete_constant_boundary(netlist, g.m_master, g.m_value,
                                        "Deleting master boundary %s, %s, %s because fed by cst %d", gone);
  }
  kavu_debug("tvq - Deleted %d boundaries fed by constants.", deleted);
}

void kavu_stamp_delete_inside_duplicates(CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist);
  kavu_stamp_label_nodes(netlist);
  const auto& duplicates = g_dup_id_to_master_id;
  int deleted = 0;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* g = *it;
    if (!g) continue;
    const int stamp_id = stamp_of(g);
    // Only registered duplicates are emptied; masters, the top partition and
    // unrelated partitions all stay.
    if (stamp_id == KAVU_STAMP_TOP_ID || !duplicates.count(stamp_id)) continue;
    if (kavu_is_a_boundary_input(g)) {
      g->get_single_iterm()->remove_fanin();
    } else if (kavu_is_a_boundary_output(g)) {
      std::vector<CDB_SGATE_ITERM*> readers;
      g->get_single_oterm()->copy_fanouts(readers);
      for (CDB_SGATE_ITERM* r : readers) r->remove_fanin();
    }
    destroy_gate(netlist, g);
    ++deleted;
  }
  kavu_debug("Stamp- emptied out the stamp copies, deleting %d nodes", deleted);
  kavu_stamp_create_bus_operators(netlist);
}

void kavu_stamp_create_bus_operators(CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist);
  const auto& masters = g_master_id_to_dup_ids;
  std::vector<CDB_SGATE_NODE*> boundaries;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it)
    if (*it && kavu_is_a_boundary(*it) && masters.count(partition_number(*it))) boundaries.push_back(*it);
  for (CDB_SGATE_NODE* n : boundaries) {
    if (kavu_is_a_boundary_input(n)) create_bus_in_next_to(netlist, n);
    else create_bus_out_next_to(netlist, n);
  }
}
