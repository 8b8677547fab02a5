// kavu_partition.cpp — partitioning parameters, the partitioner's run and its
// first half: bus and fractal maps, cuts around anchors, connected components
// grown with their buddies.
//
// Run: initialise (cones, bus and fractal maps, cut levels, size limits) →
//   preprocess (a silly buffer on every level-0 edge of an anchor) →
//   connected components → refine → merge → boundary gates → report
//   (the last four in kavu_partition_refine.cpp).
// Labelling: the partition id lives on a gate's first output terminal. Gates
//   without output terminals (output pins, sink-only atoms) cannot carry an
//   id: they are never seeds, never added to a partition, and the edges into
//   them are never cut, so they stay with the partition of their drivers.
// Growth walks an explicit work list (no recursion), each gate once per
//   growth because its id is set when it is added.
#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

#include "cfg/cfg.h"
#include "gen/gen.h"
#include "hdb/acf.h"
#include "hdb/hdb.h"
#include "kavu_helper_dump.h"
#include "kavu_helper_gate_create.h"
#include "kavu_helper_summary.h"
#include "kavu_load_time_int.h"
#include "kavu_memory_guard_int.h"
#include "kavu_msg.h"
#include "kavu_name.h"
#include "kavu_partition_int.h"
#include "kavu_setup.h"

using namespace kavu_partition_detail;

int g_partition_id = 0;
int g_partition_size_max = 0;
int g_partition_size_min = 0;
int g_partition_size_advance = 0;

// ---------------------------------------------------------------- parameters

namespace SYNTH {
namespace KAVU {

PARTITIONING_PARAMS::PARTITIONING_PARAMS() {
  m_bool_params_by_name["never_cut_combinational_logic"] = false;
  m_int_params_by_name["num_partitions"] = cfg_get_int_value("parallel_num_partitions", 32);
  m_int_params_by_name["max_num_partitions"] = cfg_get_int_value("kavu_max_num_partitions", 32);
}

int PARTITIONING_PARAMS::get_int_param(const std::string& name) const {
  INT_TABLE::const_iterator find_iter = m_int_params_by_name.find(name);
  KAVU_CHECK(find_iter != m_int_params_by_name.end());
  return find_iter->second;
}

bool PARTITIONING_PARAMS::get_bool_param(const std::string& name) const {
  BOOL_TABLE::const_iterator find_iter = m_bool_params_by_name.find(name);
  KAVU_CHECK(find_iter != m_bool_params_by_name.end());
  return find_iter->second;
}

void PARTITIONING_PARAMS::set_param(const std::string& name, int value) {
  INT_TABLE::iterator find_iter = m_int_params_by_name.find(name);
  KAVU_CHECK(find_iter != m_int_params_by_name.end());
  find_iter->second = value;
}

void PARTITIONING_PARAMS::set_param(const std::string& name, bool value) {
  BOOL_TABLE::iterator find_iter = m_bool_params_by_name.find(name);
  KAVU_CHECK(find_iter != m_bool_params_by_name.end());
  find_iter->second = value;
}

}  // namespace KAVU
}  // namespace SYNTH

// ---------------------------------------------------------------- node classes

int KAVU_PARTITIONER_STATE::cut_level(const CDB_SGATE_ITERM* iterm) const {
  if (!m_initialized) KAVU_INTERNAL_ERROR("\x7fIterm map not intialized");
  return m_cut_levels.get(iterm);
}

namespace kavu_partition_detail {

bool is_register(const CDB_SGATE_NODE* node) { return kavu_is_a_dff(node, true); }

bool is_wrapped_in_protect_buffers(const CDB_SGATE_NODE* node) {
  for (unsigned i = 0; i < node->get_number_of_input_terms(); ++i) {
    const CDB_SGATE_ITERM* t = node->get_input_term(i);
    if (!t || !cdb_is_connected(t)) continue;
    const CDB_SGATE_OTERM* src = t->get_source();
    if (!src || !kavu_is_a_protect_buffer(src->get_my_node())) return false;
  }
  for (unsigned i = 0; i < node->get_output_count(); ++i) {
    const CDB_SGATE_OTERM* o = node->get_output_term(i);
    if (!o || !o->has_fanout()) continue;
    if (!o->has_fanout_exactly(1) || !kavu_is_a_protect_buffer(o->get_first_fanout()->get_my_node()))
      return false;
  }
  return true;
}

bool is_io_like_node(const CDB_SGATE_NODE* node) {
  switch (node->get_sgate_type()) {
    case CDB_SGATE_IO_ENUM:
    case CDB_SGATE_IO_BUF_ENUM:
    case CDB_SGATE_TRI_BUS_ENUM:
      return true;
    default:
      break;
  }
  if (kavu_is_a_direction_buffer(node)) return true;
  if (!node->is_wysiwyg()) return false;
  const CDB_SGATE_WYSIWYG* w = const_cast<CDB_SGATE_NODE*>(node)->cast_to_wysiwyg();
  // The database's own I/O query of an atom: output and bidirectional cells.
  return w->is_ddio_in() || w->is_ddio_oe() || w->is_ddio_out() || w->is_io_ibuf() || w->is_io_obuf() ||
         w->is_io_pad() || w->is_output() || w->is_bidir();
}

bool is_partition_anchor(const CDB_SGATE_NODE* node) {
  if (is_register(node)) return !is_wrapped_in_protect_buffers(node);
  if (is_io_like_node(node) || kavu_is_a_latch(node) || kavu_is_a_component(node)) return true;
  if (!node->is_wysiwyg()) return false;
  const CDB_SGATE_WYSIWYG* w = const_cast<CDB_SGATE_NODE*>(node)->cast_to_wysiwyg();
  return !(w->is_ram() || w->is_lutram() || w->is_mac() || w->is_lcell_comb() || w->is_logic_module());
}

std::vector<CDB_SGATE_NODE*> node_snapshot(const CDB_SGATE_NETLIST* netlist) {
  std::vector<CDB_SGATE_NODE*> nodes;
  nodes.reserve(netlist->size());
  for (CDB_SGATE_NETLIST::iterator it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    if (*it) nodes.push_back(*it);
  }
  return nodes;
}

}  // namespace kavu_partition_detail

// ---------------------------------------------------------------- bus and fractal maps

HDB_INSTANCE_NAME* kavu_get_bus_name(CDB_SGATE_NODE* node) {
  KAVU_CHECK(kavu_is_a_dff(node, true));
  HDB_INSTANCE_NAME* iname = node->get_instance_name();
  if (!iname) return nullptr;
  if (HDB_INSTANCE_NAME* rep = iname->get_representative_name()) iname = rep;
  while (HDB_INSTANCE_NAME* group = iname->get_group()) iname = group;
  return iname;
}

void kavu_map_bus_to_regs(CDB_SGATE_NETLIST* netlist, KAVU_NAME_TO_NODES_MAP* bus_to_regs) {
  bus_to_regs->clear();
  KAVU_CHECK(netlist);
  for (CDB_SGATE_NETLIST::iterator it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* node = *it;
    if (!node || !is_register(node)) continue;
    HDB_INSTANCE_NAME* iname = kavu_get_bus_name(node);
    KAVU_CHECK(iname != 0);
    (*bus_to_regs)[iname].push_back(node);
  }
}

namespace {
bool carries_fractal(const HDB_INSTANCE_NAME* name) {
  HDB_DERIVED_OPTION<1, 0>* opt = HDB_DERIVED_OPTION<1, 0>::get_single_option(name, ACF_FRACTAL_SYNTHESIS, true);
  return opt && opt->get_value();
}
}  // namespace

HDB_INSTANCE_NAME* kavu_get_fractal_name(CDB_SGATE_NODE* node) {
  HDB_INSTANCE_NAME* iname = node->get_instance_name();
  if (!iname || !carries_fractal(iname)) return nullptr;
  while (iname->get_parent() && carries_fractal(iname->get_parent()) && iname->get_parent()->get_parent())
    iname = iname->get_parent();
  return iname;
}

void kavu_map_fractal_to_nodes(CDB_SGATE_NETLIST* netlist, KAVU_NAME_TO_NODES_MAP* fractal_map) {
  fractal_map->clear();
  KAVU_CHECK(netlist);
  for (CDB_SGATE_NETLIST::iterator it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* node = *it;
    if (!node) continue;
    if (HDB_INSTANCE_NAME* f = kavu_get_fractal_name(node)) (*fractal_map)[f].push_back(node);
  }
}

// ---------------------------------------------------------------- cut buffers and boundaries

// ---------------------------------------------------------------- names of cut gates

namespace {

// The names the partitioner gave its cut buffers and boundary gates. Those
// gates die with the run (cut buffers in the same run, boundary gates when
// the partitions are undone or the netlist is destroyed) while names live
// until their namespace dies, so without reuse every run of the flow in one
// process would add a fresh name per cut edge ("x~boundary~7") and the
// namespace, with the namespace archive the helpers read, would grow with
// every run. A run therefore first takes back the names of earlier runs that
// no gate of its netlist carries, per parent in the order they were made,
// and makes new ones only when those run out: the first run in a process
// names exactly as before, and every later run of the same design reuses
// the same names. A name is checked by id and address before it is handed
// out, so a name whose namespace was destroyed is simply passed over.
//
// The names made are kept across runs in creation order, each in its
// parent's list; a run is an epoch: a name is free in it unless it was made
// or is carried in that epoch, and each parent's list is read once per run
// from a cursor. Opening a run costs one walk of its netlist, however many
// names earlier runs (of other designs too) made.
class CUT_GATE_NAMES {
 public:
  // Takes back every name made earlier that `netlist` does not carry.
  void open_run(const CDB_SGATE_NETLIST* netlist) {
    ++m_epoch;
    if (m_made.empty()) return;
    place_new_names();
    auto carried = [&](const HDB_INSTANCE_NAME* n) {
      if (const uint32_t k = n ? m_place.get(n) : 0) m_made[k - 1].carried = m_epoch;
    };
    for (CDB_SGATE_NETLIST::iterator it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
      if (!*it) continue;
      carried((*it)->get_instance_name());
      for (const CDB_SGATE_OTERM* o : (*it)->get_output_terms())
        if (o) carried(o->get_instance_name());
    }
  }

  // Names the single-output `gate` from `base` with the extension "boundary":
  // a name taken back when one is free under the same parent, else a new one.
  void name(CDB_SGATE_NODE* gate, HDB_INSTANCE_NAME* base) {
    CDB_SGATE_OTERM* oterm = first_oterm(gate);
    // Other naming modes, and the refusal to name during parallel synthesis,
    // stay with the naming code.
    const bool fresh_only = !base || !oterm || gate->get_output_count() != 1 ||
                            !kavu_name_function_status_is_default() || cdb_sgate_synthesis_is_running_in_parallel();
    if (!fresh_only)
      if (HDB_INSTANCE_NAME* reused = take(base->get_base_for_children())) {
        oterm->set_instance_name(reused);
        gate->set_instance_name(reused);
        return;
      }
    kavu_create_synthesized_name(gate, base, "boundary");
    if (!fresh_only && oterm->get_instance_name()) add(oterm->get_instance_name());
  }

 private:
  struct MADE {
    const HDB_INSTANCE_NAME* name;  // compared only: the name may be gone with its namespace
    int id;
    uint32_t next;     // place (plus one) of the next name under the same parent; 0: none
    uint32_t made;     // the epoch that made it
    uint32_t carried;  // the last epoch whose netlist carried it
  };

  // A parent's list of made names and where this run reads it: one entry,
  // so that naming a gate probes the table once for its parent (a design
  // has about as many parents as cut signals).
  struct PARENT {
    uint32_t first = 0, last = 0;  // places (plus one) of its list's ends; 0: empty
    uint64_t cursor = 0;           // epoch << 32 | next place to read
    bool operator==(const PARENT& o) const { return first == o.first && last == o.last && cursor == o.cursor; }
  };

  void add(HDB_INSTANCE_NAME* n) {
    m_made.push_back({n, n->get_id(), 0, m_epoch, 0});
    const uint32_t k = uint32_t(m_made.size());
    const HDB_INSTANCE_NAME* parent = n->get_parent();
    PARENT p = m_parents.get(parent);
    if (p.last) m_made[p.last - 1].next = k;
    else p.first = k;
    p.last = k;
    m_parents.set(parent, p);
  }

  // Enters the names made since the last call into m_place, in the order
  // made. Only opening a run reads m_place, so a run that makes names does
  // not wait for a table miss per name; here the misses overlap.
  void place_new_names() {
    constexpr size_t AHEAD = 16;
    const size_t count = m_made.size();
    m_place.reserve(count);
    for (size_t k = m_placed; k < count; ++k) {
      if (k + AHEAD < count) m_place.prefetch(m_made[k + AHEAD].name);
      m_place.set(m_made[k].name, uint32_t(k + 1));
    }
    m_placed = count;
  }

  HDB_INSTANCE_NAME* take(const HDB_INSTANCE_NAME* parent) {
    PARENT p = m_parents.get(parent);
    uint32_t k = uint32_t(p.cursor >> 32) == m_epoch ? uint32_t(p.cursor) : p.first;
    if (!k) return nullptr;
    HDB_INSTANCE_NAME* found = nullptr;
    for (; k && !found; k = m_made[k - 1].next) {
      const MADE& m = m_made[k - 1];
      if (m.made == m_epoch || m.carried == m_epoch) continue;
      // Alive: its id still names it (a destroyed namespace may give the
      // id, or the place, to another name).
      HDB_INSTANCE_NAME* n = HDB_NAME_MGR::get_instance_name(m.id);
      if (n == m.name) found = n;
    }
    p.cursor = uint64_t(m_epoch) << 32 | k;
    m_parents.set(parent, p);
    return found;
  }

  uint32_t m_epoch = 0;
  std::vector<MADE> m_made;  // in the order made
  KAVU_POINTER_MAP<HDB_INSTANCE_NAME, uint32_t> m_place;  // a made name's place (plus one) in m_made
  size_t m_placed = 0;  // the names of m_made entered into m_place
  KAVU_POINTER_MAP<HDB_INSTANCE_NAME, PARENT> m_parents;
};

// Made as the library loads: a fork never finds it half made.
KAVU_LOAD_TIME<CUT_GATE_NAMES> g_cut_gate_names("the cut-gate names");
CUT_GATE_NAMES& cut_gate_names() { return *g_cut_gate_names; }

}  // namespace

void insert_cut_buffer(CDB_SGATE_OTERM* src_oterm, CDB_SGATE_ITERM* iterm, CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(src_oterm && iterm);
  CDB_SGATE_BUFFER* buffer = new CDB_SGATE_BUFFER(nullptr, CDB_BUFFER_SILLY, true);
  CDB_SGATE_ITERM* in = new CDB_SGATE_ITERM(buffer);
  buffer->set_input_term(in, 0);
  netlist->add_node(buffer, true);
  in->clear_invert();
  src_oterm->insert_fanout(in);
  const bool old_invert = iterm->is_inverted();
  first_oterm(buffer)->insert_fanout(iterm);
  KAVU_CHECK(iterm->is_inverted() == old_invert);
  HDB_INSTANCE_NAME* base = src_oterm->get_instance_name();
  if (!base) base = src_oterm->get_my_node()->get_instance_name();
  cut_gate_names().name(buffer, base);
}

CDB_SGATE_BOUNDARY* create_boundary_node(unsigned char direction, CDB_SGATE_OTERM* src_oterm,
                                         CDB_SGATE_ITERM* iterm, CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(src_oterm || iterm);
  CDB_SGATE_BOUNDARY* boundary =
      new CDB_SGATE_BOUNDARY(nullptr, direction ? CDB_BOUNDARY_OUTPUT : CDB_BOUNDARY_INPUT);
  CDB_SGATE_ITERM* in = new CDB_SGATE_ITERM(boundary);
  in->clear_invert();
  boundary->set_input_term(in, 0);
  if (!first_oterm(boundary)) boundary->set_output_term(new CDB_SGATE_OTERM(boundary), 0);
  netlist->add_node(boundary, true);
  if (src_oterm) src_oterm->insert_fanout(in);
  if (iterm) {
    iterm->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_UNCONNECTED);
    first_oterm(boundary)->insert_fanout(iterm);
  }
  if (!src_oterm) KAVU_INTERNAL_ERROR("from_oterm");
  HDB_INSTANCE_NAME* base = src_oterm->get_instance_name();
  if (!base) base = src_oterm->get_my_node()->get_instance_name();
  cut_gate_names().name(boundary, base);
  return boundary;
}

// ---------------------------------------------------------------- growth

namespace {

struct GROWTH {
  const KAVU_NAME_TO_NODES_MAP& m_bus;
  const KAVU_NAME_TO_NODES_MAP& m_fractal;
  KAVU_PARTITIONER_STATE* m_state;
  bool m_virtual;
  bool m_dont_merge_on_bus;
  bool m_verbose;
  bool m_dont_merge_sms;
  bool m_run_maps;  // the maps were made from the whole netlist by this run
  std::vector<CDB_SGATE_NODE*> m_work;

  void trace(const char* fmt, const CDB_SGATE_NODE* n) const {
    if (!m_verbose) return;
    kavu_debug(fmt, n->get_string_type_name(), n->get_debug_name().c_str(), n->get_string_hpath().c_str(),
               g_partition_id);
  }
  void add(CDB_SGATE_NODE* n) {
    CDB_SGATE_OTERM* o = first_oterm(n);
    if (!o) return;
    m_work.push_back(n);
    o->set_aux(g_partition_id);
  }
  void add_bus_buddies(CDB_SGATE_NODE* reg, const char* fmt, bool seed) {
    // Inside a run the registers were mapped to their buses with the map.
    const std::vector<CDB_SGATE_NODE*>* buddies = m_run_maps ? m_state->m_bus_of_reg.get(reg) : nullptr;
    if (!buddies) {
      HDB_INSTANCE_NAME* bus = kavu_get_bus_name(reg);
      KAVU_NAME_TO_NODES_MAP::const_iterator map_iter = m_bus.find(bus);
      KAVU_CHECK(map_iter != m_bus.end());
      buddies = &map_iter->second;
    }
    for (CDB_SGATE_NODE* buddy : *buddies) {
      if (seed) KAVU_CHECK(first_oterm(buddy)->get_aux() < g_partition_id);
      if (pid(buddy) >= g_partition_id) continue;
      if (buddy != reg) trace(fmt, buddy);
      add(buddy);
    }
  }
  void add_state_machine_buddies(CDB_SGATE_NODE* state, const char* fmt) {
    CDB_STATE_MACHINE* machine = state->cast_to_state()->get_state_machine();
    KAVU_CHECK(machine);
    for (CDB_SGATE_STATE* s : machine->get_states()) {
      KAVU_CHECK(first_oterm(s)->get_aux() < g_partition_id);
      trace(fmt, s);
      add(s);
    }
  }
  void add_fractal_buddies(CDB_SGATE_NODE* node, HDB_INSTANCE_NAME* fractal) {
    KAVU_NAME_TO_NODES_MAP::const_iterator fractal_map_iter = m_fractal.find(fractal);
    KAVU_CHECK(fractal_map_iter != m_fractal.end());
    (void)node;
    for (CDB_SGATE_NODE* buddy : fractal_map_iter->second) {
      if (pid(buddy) >= g_partition_id) continue;
      trace("Also adding fractal-buddy %s %s %s to the partition %d", buddy);
      add(buddy);
    }
  }
  // Adds a gate with its buddies; `fractal_too` is off on the fan-in side.
  void add_with_buddies(CDB_SGATE_NODE* n, bool fractal_too, const char* bus_fmt, bool seed,
                        const char* sm_fmt = "Also adding state machine buddy state %s %s %s to the partition %d") {
    // Inside a run every gate with a fractal name was mapped when the run
    // began: with no map entries there is no name to look for.
    if (fractal_too && !(m_run_maps && m_fractal.empty())) {
      if (HDB_INSTANCE_NAME* f = kavu_get_fractal_name(n)) {
        add_fractal_buddies(n, f);
        return;
      }
    }
    if (!m_dont_merge_on_bus && is_register(n)) {
      add_bus_buddies(n, bus_fmt, seed);
    } else if (!m_dont_merge_sms && kavu_is_a_state_buffer(n)) {
      add_state_machine_buddies(n, sm_fmt);
    } else {
      add(n);
    }
  }
  bool protected_edge(const CDB_SGATE_ITERM* t) const { return m_virtual && m_state->is_protected(t, 3); }

  void traverse(CDB_SGATE_NODE* n) {
    trace("Traversing fanout of %s %s %s for partition %d", n);
    for (unsigned oi = 0; oi < n->get_output_count(); ++oi) {
      CDB_SGATE_OTERM* o = n->get_output_term(oi);
      if (!o) continue;
      if (m_virtual && int(o->get_number_of_fanout()) >= g_partition_min_fanout_threshold) continue;
      for (CDB_SGATE_ITERM* t : o->fanouts()) {
        CDB_SGATE_NODE* s = t->get_my_node();
        if (kavu_is_a_silly_buffer(s) || protected_edge(t)) continue;
        const CDB_SGATE_OTERM* so = first_oterm(s);
        if (!so) continue;
        const int id = so->get_aux();
        if (id > g_partition_id) KAVU_INTERNAL_ERROR("oterm2->get_aux() == g_partition_id");
        if (id == g_partition_id) continue;
        trace("  fo - Adding %s %s %s to the partition %d", s);
        add_with_buddies(s, true, "  fo - Also adding bus-buddy %s %s %s to the partition %d", false);
      }
    }
    trace("Traversing fanin of %s %s %s for partition %d", n);
    for (unsigned ii = 0; ii < n->get_number_of_input_terms(); ++ii) {
      CDB_SGATE_ITERM* t = n->get_input_term(ii);
      if (!t || !cdb_is_connected(t) || !t->get_source()) continue;
      CDB_SGATE_NODE* f = t->get_source()->get_my_node();
      if (kavu_is_a_silly_buffer(f)) continue;
      if (protected_edge(t)) continue;
      const CDB_SGATE_OTERM* fo = first_oterm(f);
      if (m_virtual && fo && int(fo->get_number_of_fanout()) >= g_partition_min_fanout_threshold) continue;
      const int id = fo ? fo->get_aux() : 0;
      if (id >= g_partition_id) {
        KAVU_CHECK(id == g_partition_id);
        continue;
      }
      trace("  fi - Adding %s %s %s to the partition %d", f);
      add_with_buddies(f, false, "  fi - Also adding bus-buddy %s %s %s to the partition %d", false,
                       "  fi - Also adding state machine buddy state %s %s %s to the partition %d");
    }
  }
};

}  // namespace

namespace {
int grow(const GROW_KEYS& keys, CDB_SGATE_NODE* seed, const KAVU_NAME_TO_NODES_MAP& bus_to_regs,
         const KAVU_NAME_TO_NODES_MAP& fractal_map, KAVU_PARTITIONER_STATE* partitioner, bool virtual_cut,
         bool run_maps) {
  KAVU_CHECK(!virtual_cut || partitioner);
  GROWTH g{bus_to_regs,    fractal_map,          partitioner, virtual_cut, keys.m_dont_merge_on_bus,
           keys.m_verbose, keys.m_dont_merge_sms, run_maps,    {}};
  g.add_with_buddies(seed, true, "Also adding bus-buddy %s %s %s to the partition %d", true);
  for (size_t i = 0; i < g.m_work.size(); ++i) g.traverse(g.m_work[i]);
  return int(g.m_work.size());
}
}  // namespace

GROW_KEYS GROW_KEYS::read() {
  return {bool(cfg_is_on("kavu_dont_merge_on_bus", false)), bool(cfg_is_on("kavu_partition_very_verbose", false)),
          bool(cfg_is_on("kavu_dont_merge_sms", false))};
}

int kavu_partition_detail::grow_partition_with(const GROW_KEYS& keys, CDB_SGATE_NODE* seed,
                                               KAVU_PARTITIONER_STATE* state, bool virtual_cut) {
  return grow(keys, seed, state->m_bus_to_regs, state->m_fractal_map, state, virtual_cut, true);
}

int grow_partition(CDB_SGATE_NODE* seed, const KAVU_NAME_TO_NODES_MAP& bus_to_regs,
                   const KAVU_NAME_TO_NODES_MAP& fractal_map, KAVU_PARTITIONER_STATE* partitioner,
                   bool virtual_cut) {
  return grow(GROW_KEYS::read(), seed, bus_to_regs, fractal_map, partitioner, virtual_cut, false);
}

// ---------------------------------------------------------------- the run

namespace {

void dump_stage(bool dump, CDB_SGATE_HIERARCHY* hierarchy, CDB_SGATE_NETLIST* netlist, const char* stage) {
  if (!dump) return;
  if (KAVU_NETLIST_DUMPER dumper = kavu_get_netlist_dumper()) {
    dumper(hierarchy, netlist, stage);
  } else {
    kavu_debug("RTL dumper function hasn't been initialized. Call kavu_set_netlist_dumper first");
  }
}

// `gates`: set to the netlist's gates in list order once it is swept; the
// set-up adds and removes none, and cutting only appends cut buffers, which
// the components skip, so the cut step and the components read it too.
void initialize_partitions(KAVU_PARTITIONER_STATE* state, CDB_SGATE_NETLIST* netlist, bool timing_driven,
                           const SYNTH::KAVU::PARTITIONING_PARAMS& params, std::vector<CDB_SGATE_NODE*>& gates) {
  GEN_PROFILER profiler("KAVU", "initialize_partitions");
  KAVU_CHECK(netlist);
  netlist->prepare_for_use();
  GEN_DYN_FLAG flag = netlist->get_flag_manager().create_flag("mffc_boundary_flag");
  // Held by the state at once, so a run refused memory on the way gives the
  // flag back (give_up_partitioning); no cut level is asked before they are set.
  state->m_levelled = flag;
  netlist->sweep(false);
  gates = node_snapshot(netlist);
  if (cfg_is_on("kavu_partition_new_mffc_algo", true)) {
    label_mffcs(netlist, gates, flag, true);
  } else {
    kavu_partition_into_mffcs(netlist, flag);
  }
  kavu_map_bus_to_regs(netlist, &state->m_bus_to_regs);
  state->m_bus_of_reg.clear();
  state->m_bus_of_reg.reserve(state->m_bus_to_regs.size());
  for (const auto& bus : state->m_bus_to_regs)
    for (const CDB_SGATE_NODE* reg : bus.second) state->m_bus_of_reg.set(reg, &bus.second);
  kavu_map_fractal_to_nodes(netlist, &state->m_fractal_map);
  // The cone flag marks output terminals; on input terminals the same bit
  // marks the edges with a cut level (m_levelled), until the anchors are cut.
  flag_dont_touch_on_iterms(state, netlist, timing_driven, flag, params);
  // The cones' ids (aux) and the scratch aux2 are cleared by the cut step,
  // on its walk over the same gates; nothing reads them before.

  int n = kavu_get_num_partitions(netlist, params);
  if (n < 1) n = 1;
  kavu_debug("Targeting %d partitions. ", n);
  g_partition_size_max = int(netlist->size()) / n + 1;
  g_partition_size_min = 4 * g_partition_size_max / 5;
  g_partition_size_advance = g_partition_size_max;
  KAVU_CHECK(g_partition_size_max > 0);
  kavu_debug("Max partition size = %d. Min partition size for merging is %d.", g_partition_size_max,
             g_partition_size_min);
}

void skip_trace(const CDB_SGATE_NODE* a, const CDB_SGATE_NODE* b) {
  if (g_partitioner_dump_msg)
    kavu_debug("Skip cutting on edge %s -> %s", a->get_debug_name().c_str(), b->get_debug_name().c_str());
}

void preprocess_partitions(KAVU_PARTITIONER_STATE* state, CDB_SGATE_NETLIST* netlist,
                           const std::vector<CDB_SGATE_NODE*>& gates) {
  GEN_PROFILER profiler("KAVU", "preprocess_partitions");
  std::vector<CDB_SGATE_ITERM*> fanouts;
  // Cut buffers are appended while cutting; they are no anchors. Every
  // gate's aux and aux2 are cleared on the way, ahead of the growths.
  for (CDB_SGATE_NODE* anchor : gates) {
    KAVU_CHECK(anchor);
    for (CDB_SGATE_OTERM* o : anchor->get_output_terms())
      if (o) {
        o->set_aux(0);
        o->set_aux2(0);
      }
    if (!is_partition_anchor(anchor)) continue;
    // Edges into a gate that cannot carry an id are never cut.
    if (labellable(anchor)) {
      for (unsigned i = 0; i < anchor->get_number_of_input_terms(); ++i) {
        CDB_SGATE_ITERM* t = anchor->get_input_term(i);
        if (!t || !cdb_is_connected(t) || !t->get_source()) continue;
        CDB_SGATE_OTERM* o = t->get_source();
        if (state->at_level_0(t)) {
          if (!kavu_is_a_silly_buffer(o->get_my_node())) insert_cut_buffer(o, t, netlist);
        } else {
          skip_trace(o->get_my_node(), anchor);
        }
      }
    }
    for (unsigned oi = 0; oi < anchor->get_output_count(); ++oi) {
      CDB_SGATE_OTERM* o = anchor->get_output_term(oi);
      if (!o) continue;
      o->copy_fanouts(fanouts);
      for (CDB_SGATE_ITERM* t : fanouts) {
        CDB_SGATE_NODE* sink = t->get_my_node();
        if (state->at_level_0(t) && !kavu_is_a_silly_buffer(sink) && labellable(sink)) {
          insert_cut_buffer(o, t, netlist);
        } else {
          skip_trace(anchor, sink);
        }
      }
    }
  }
}

void find_connected_components(KAVU_PARTITIONER_STATE* state, CDB_SGATE_NETLIST* netlist,
                               const std::vector<CDB_SGATE_NODE*>& gates) {
  GEN_PROFILER profiler("KAVU", "find_connected_components");
  KAVU_CHECK(netlist);
  const GROW_KEYS keys = GROW_KEYS::read();
  for (CDB_SGATE_NODE* node : gates) {
    if (kavu_is_a_silly_buffer(node) || !labellable(node) || pid(node) != 0) continue;
    ++g_partition_id;
    grow_partition_with(keys, node, state, false);
  }
}

constinit KAVU_KEY_ONCE g_dump_netlists{"kavu_partitioner_dump_netlists", false};
constinit KAVU_KEY_ONCE g_no_refine_on_fanout{"kavu_disable_partition_refine_on_fanout", false};

// Labels every gate of the design with one new partition id (a walk that
// allocates nothing).
void label_whole(CDB_SGATE_NETLIST* netlist) {
  const int whole = ++g_partition_id;
  for (CDB_SGATE_NETLIST::iterator it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it)
    if (CDB_SGATE_NODE* node = *it) set_pid(node, whole);
}

// Partitioning was refused memory part way: the run's tables and its flag
// go, the cut buffers and boundary gates it made are taken out as far as
// memory allows, and the design is labelled one partition. Each cut gate is
// a buffer: a reader moved to its source or not, the design's function is
// the same, so a refusal part way through taking one out leaves it in place.
void give_up_partitioning(KAVU_PARTITIONER_STATE* state, CDB_SGATE_NETLIST* netlist) {
  if (!state->m_levelled.is_null()) netlist->get_flag_manager().destroy_flag(state->m_levelled);
  *state = KAVU_PARTITIONER_STATE();
  try {
    for (CDB_SGATE_NETLIST::iterator it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
      CDB_SGATE_NODE* node = *it;
      if (!node || !(kavu_is_a_silly_buffer(node) || kavu_is_a_boundary(node))) continue;
      const CDB_SGATE_ITERM* in = node->get_single_iterm();
      const CDB_SGATE_OTERM* out = first_oterm(node);
      if (!in || !out || !cdb_is_connected(in) || in->is_inverted() || out->is_inverted()) continue;
      kavu_excise_buffer(node);
      if (!out->has_fanout()) netlist->delete_node(node), delete node;
    }
  } catch (const std::bad_alloc&) {
  }
  label_whole(netlist);
  kavu_post_out_of_memory("Parallel synthesis cannot partition the design: not enough memory. The design stays one "
                          "partition");
}

// The partitioning run itself (partition_on_reg_boundary), holding the
// flow's turn.
void partition_run(KAVU_PARTITIONER_STATE* state, CDB_SGATE_NETLIST* netlist, CDB_SGATE_HIERARCHY* hierarchy,
                   const SYNTH::KAVU::PARTITIONING_PARAMS& params, bool timing_driven, bool dump, bool no_refine) {
  cut_gate_names().open_run(netlist);
  std::vector<CDB_SGATE_NODE*> gates;
  initialize_partitions(state, netlist, timing_driven, params, gates);
  preprocess_partitions(state, netlist, gates);
  netlist->get_flag_manager().destroy_flag(state->m_levelled);
  state->m_levelled = GEN_DYN_FLAG();
  dump_stage(dump, hierarchy, netlist, "before_partition");
  // A dumper gets the netlist: then the components walk what it left.
  find_connected_components(state, netlist, dump ? node_snapshot(netlist) : gates);
  gates = std::vector<CDB_SGATE_NODE*>();
  dump_stage(dump, hierarchy, netlist, "after_initial");
  if (!no_refine) {
    kavu_debug("Refining partitions based on fanout ...");
    refine_partitions(state, netlist);
  }
  dump_stage(dump, hierarchy, netlist, "after_split");
  // Merging lists the cut buffers on its walk; a dumper in between gets the
  // netlist, so then they are listed again.
  KAVU_CUT_LIST cuts;
  merge_partitions(state, netlist, dump ? nullptr : &cuts);
  dump_stage(dump, hierarchy, netlist, "after_merge");
  if (dump) kavu_postprocess_partitions(netlist);
  else kavu_postprocess_partitions(netlist, cuts);
  kavu_print_partitions(netlist);
  dump_stage(dump, hierarchy, netlist, "after_partition");
}

}  // namespace

KAVU_PARTITIONER::KAVU_PARTITIONER() : m_state(new KAVU_PARTITIONER_STATE) {}
KAVU_PARTITIONER::~KAVU_PARTITIONER() { delete m_state; }

int KAVU_PARTITIONER::get_cut_level(const CDB_SGATE_ITERM* iterm) const { return m_state->cut_level(iterm); }

void KAVU_PARTITIONER::partition_on_reg_boundary(CDB_SGATE_NETLIST* netlist, CDB_SGATE_HIERARCHY* hierarchy,
                                                 const SYNTH::KAVU::PARTITIONING_PARAMS& params,
                                                 bool timing_driven) {
  GEN_PROFILER profiler("KAVU", "partition_on_reg_boundary");
  KAVU_CHECK(netlist);
  const bool dump = g_dump_netlists();
  const bool no_refine = g_no_refine_on_fanout();
  const KAVU_FLOW_TURN turn;
  if (kavu_another_design_is_out_locked(netlist)) {
    // Cutting would name boundary gates while the process may make no
    // name: the design stays one partition, uncut.
    kavu_refuse_run_beside_another(KAVU_REFUSED_PARTITIONING, netlist);
    label_whole(netlist);
    return;
  }
  kavu_flow_not_refused();
  kavu_guard_memory_void([&] { partition_run(m_state, netlist, hierarchy, params, timing_driven, dump, no_refine); },
                         [&] { give_up_partitioning(m_state, netlist); });
}

void KAVU_PARTITIONER::redo_partition_on_reg_boundary(CDB_SGATE_NETLIST* netlist, CDB_SGATE_HIERARCHY* hierarchy,
                                                      const SYNTH::KAVU::PARTITIONING_PARAMS& params,
                                                      bool timing_driven) {
  KAVU_CHECK(netlist);
  kavu_delete_partition_on_reg_boundary(netlist);
  partition_on_reg_boundary(netlist, hierarchy, params, timing_driven);
}
