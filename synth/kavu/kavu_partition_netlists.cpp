// kavu_partition_netlists.cpp — split into partition netlists and merge back.
#include "kavu_partition_netlists.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "cfg/cfg.h"
#include "fio/fio.h"
#include "gen/gen.h"
#include "hdb/hdb.h"
#include "kavu_check.h"
#include "kavu_helper_dump.h"
#include "kavu_helper_predicates.h"
#include "kavu_load_time_int.h"
#include "kavu_memory_guard_int.h"
#include "kavu_msg.h"
#include "kavu_partition.h"
#include "kavu_partition_int.h"
#include "msg/msg.h"

namespace {

int g_partition_netlist_counter = 0;
constinit KAVU_KEY_ONCE g_dump_boundary_connections{"kavu_dump_boundary_connections", false};
constinit KAVU_KEY_ONCE g_dump_debug_number_mappings{"kavu_dump_debug_number_mappings", false};

bool is_boundary(const CDB_SGATE_NODE* n) { return n && n->cast_to_boundary(); }

// Hands each machine to the partition netlist of its first state gate and
// empties the hierarchy's list. Every machine of the hierarchy must be
// handed over, except one whose state gates are all gone: it describes
// nothing and is dropped rather than stopping the split. Nothing changes
// hands before the count holds, so a failed count leaves the hierarchy whole.
void move_machines_out_of_hierarchy(CDB_SGATE_HIERARCHY* hierarchy,
                                    const std::vector<std::pair<CDB_SGATE_NETLIST*, CDB_STATE_MACHINE*>>& moved) {
  std::list<CDB_STATE_MACHINE*>* list = hierarchy->get_machine_list();
  std::unordered_set<const CDB_STATE_MACHINE*> is_moved;
  for (const auto& [part, machine] : moved) is_moved.insert(machine);
  auto dropped = [&](const CDB_STATE_MACHINE* m) { return !is_moved.count(m) && m->get_states().empty(); };
  size_t expected = 0;
  for (CDB_STATE_MACHINE* m : *list) {
    KAVU_CHECK(m);
    if (!dropped(m)) ++expected;
  }
  if (expected != moved.size()) {
    char text[160];
    snprintf(text, sizeof text, "Should have moved all %lu state machine but we only did %lu",
             (unsigned long)expected, (unsigned long)moved.size());
    KAVU_INTERNAL_ERROR(text);
  }
  for (CDB_STATE_MACHINE* m : *list) {
    if (!dropped(m)) continue;
    kavu_debug("State machine %s has no state buffer left and is dropped", m->get_name().c_str());
    delete m;
  }
  list->clear();
  for (const auto& [part, machine] : moved) part->get_machine_list()->push_back(machine);
}

// A gate whose output a timing path may end past: a register, a RAM, an
// output or bidirectional pin (the timing netlist's sinks).
bool is_timing_sink(const CDB_SGATE_NODE* g) {
  switch (g->get_sgate_type()) {
    case CDB_SGATE_DFF_ENUM:
    case CDB_SGATE_LATCH_ENUM:
    case CDB_SGATE_SYNCHRONOUS_RAM_ENUM:
      return true;
    case CDB_SGATE_IO_ENUM:
      return !g->is_input();
    default:
      break;
  }
  const CDB_SGATE_WYSIWYG* w = const_cast<CDB_SGATE_NODE*>(g)->cast_to_wysiwyg();
  return w && (w->is_ff() || w->is_ram() || w->is_lutram());
}

// Whether a sink (is_timing_sink) is reached from a gate, asked of the
// readers of the output boundaries only: a search forward over the fan-out
// from each, which stops at the first sink and keeps what it learnt, one
// state byte per gate number (get_id, within the netlist's [lo, hi]). A
// gate is LIVE once a sink is found past it, DEAD once every gate it feeds
// is DEAD; one whose search met a gate still being searched (a loop
// without a sink in it) stays unknown until its search ends: DEAD where the
// whole search found no sink, else searched afresh when asked again. So an
// acyclic design costs O(gates + edges) for all readers together, usually
// a few gates per reader; should searches over loops enter gates more
// times than [lo, hi] holds numbers, one walk back from every sink answers
// the rest, as it would have answered all.
class SINK_REACH {
 public:
  SINK_REACH(CDB_SGATE_NETLIST* netlist, unsigned lo, unsigned hi)
      : m_netlist(netlist), m_lo(lo), m_hi(hi), m_state(size_t(hi - lo) + 1, UNSEEN), m_budget(m_state.size()) {}

  bool reaches_sink(const CDB_SGATE_NODE* r) {
    if (!known(r)) return false;
    const uint8_t s = state(r);
    if (s == LIVE || s == DEAD) return s == LIVE;
    bool found = enter(r);
    while (!found && !m_stack.empty()) {
      const CDB_SGATE_NODE* n = next_reader(m_stack.back());
      if (!n) {
        finish_top();
        continue;
      }
      if (!known(n)) continue;
      switch (state(n)) {
        case LIVE: found = true; break;
        case DEAD: break;
        case ACTIVE:
        case PENDING: m_stack.back().waits = true; break;
        default:
          if (m_budget == 0) {
            walk_back_from_sinks();
            return state(r) == LIVE;
          }
          found = enter(n);
          break;
      }
    }
    // Found: every gate on the stack feeds the next one up to the sink.
    for (const FRAME& f : m_stack) state(f.gate) = LIVE;
    m_stack.clear();
    for (const CDB_SGATE_NODE* g : m_pending) state(g) = found ? UNSEEN : DEAD;
    m_pending.clear();
    return found;
  }

 private:
  enum : uint8_t { UNSEEN, LIVE, DEAD, ACTIVE, PENDING };
  typedef CDB_SGATE_FANOUT_NODE_RANGE::iterator READER;
  struct FRAME {
    const CDB_SGATE_NODE* gate;
    unsigned next_oterm;  // the next output terminal whose readers follow
    READER at, end;       // the current terminal's readers still to see
    bool waits;           // a reader was still being searched
  };

  bool known(const CDB_SGATE_NODE* g) const { return g->get_id() >= m_lo && g->get_id() <= m_hi; }
  uint8_t& state(const CDB_SGATE_NODE* g) { return m_state[g->get_id() - m_lo]; }

  // A sink is LIVE at once; any other gate gets a frame.
  bool enter(const CDB_SGATE_NODE* g) {
    if (is_timing_sink(g)) {
      state(g) = LIVE;
      return true;
    }
    state(g) = ACTIVE;
    const CDB_SGATE_FANOUT_NODE_RANGE none(nullptr, nullptr);
    m_stack.push_back(FRAME{g, 0, none.begin(), none.end(), false});
    --m_budget;
    return false;
  }
  // The frame's next reader gate over all its output terminals; null at
  // the end.
  static const CDB_SGATE_NODE* next_reader(FRAME& f) {
    for (;;) {
      while (f.at != f.end) {
        const CDB_SGATE_NODE* n = *f.at;
        ++f.at;
        if (n) return n;
      }
      if (f.next_oterm >= f.gate->get_output_count()) return nullptr;
      if (const CDB_SGATE_OTERM* o = f.gate->get_output_term(f.next_oterm++)) {
        const CDB_SGATE_FANOUT_NODE_RANGE readers = o->fanout_nodes();
        f.at = readers.begin();
        f.end = readers.end();
      }
    }
  }
  // Every reader of the top gate seen and none LIVE.
  void finish_top() {
    const FRAME f = m_stack.back();
    m_stack.pop_back();
    state(f.gate) = f.waits ? PENDING : DEAD;
    if (!f.waits) return;
    m_pending.push_back(f.gate);
    if (!m_stack.empty()) m_stack.back().waits = true;
  }
  // The gates from which a sink is reached: a walk back from the sinks
  // over every fan-in edge, O(gates + edges).
  void walk_back_from_sinks() {
    m_stack.clear();
    m_pending.clear();
    std::fill(m_state.begin(), m_state.end(), uint8_t(DEAD));
    std::vector<const CDB_SGATE_NODE*> work;
    for (CDB_SGATE_NODE* g : m_netlist->get_node_list())
      if (g && is_timing_sink(g)) {
        state(g) = LIVE;
        work.push_back(g);
      }
    while (!work.empty()) {
      const CDB_SGATE_NODE* g = work.back();
      work.pop_back();
      for (unsigned i = 0; i < g->get_number_of_input_terms(); ++i) {
        const CDB_SGATE_ITERM* t = g->get_input_term(i);
        const CDB_SGATE_NODE* src = t && t->get_source() ? t->get_source()->get_my_node() : nullptr;
        if (!src || !known(src) || state(src) == LIVE) continue;
        state(src) = LIVE;
        work.push_back(src);
      }
    }
  }

  CDB_SGATE_NETLIST* m_netlist;
  unsigned m_lo, m_hi;
  std::vector<uint8_t> m_state;
  size_t m_budget;  // gates the searches may still enter
  std::vector<FRAME> m_stack;
  std::vector<const CDB_SGATE_NODE*> m_pending;  // this search's unknown gates
};

// The paths (get_string_hpath) of a split's boundary gates, each made once
// for the labelling; those of the input boundaries, the usual readers of
// an output boundary in another partition, are kept for the readers
// record, which takes them over.
class BOUNDARY_PATHS {
 public:
  // Adds every boundary gate to `labelling` with its path.
  BOUNDARY_PATHS(const std::vector<CDB_SGATE_BOUNDARY*>& boundaries, CDB_SGATE_LABELLING* labelling)
      : m_boundaries(boundaries), m_paths(boundaries.size()) {
    if (boundaries.empty()) return;
    unsigned hi = 0;
    for (const CDB_SGATE_BOUNDARY* b : boundaries) {
      m_lo = std::min(m_lo, b->get_id());
      hi = std::max(hi, b->get_id());
    }
    // Boundaries are made together, so their numbers are close.
    m_place.assign(size_t(hi - m_lo) + 1, NONE);
    for (size_t k = 0; k < boundaries.size(); ++k) {
      const CDB_SGATE_BOUNDARY* b = boundaries[k];
      std::string path = b->get_string_hpath();
      if (b->get_sgate_type() == CDB_SGATE_BOUNDARY_ENUM) labelling->add(b, path);
      if (b->get_direction() != CDB_BOUNDARY_INPUT) continue;
      m_paths[k] = std::move(path);
      m_place[b->get_id() - m_lo] = uint32_t(k);
    }
  }
  // The path of gate g: an input boundary's kept one, which it gives up;
  // any other's made now.
  std::string take(const CDB_SGATE_NODE* g) {
    const size_t at = size_t(g->get_id()) - m_lo;
    if (g->get_id() >= m_lo && at < m_place.size()) {
      const uint32_t k = m_place[at];
      if (k != NONE && m_boundaries[k] == g) {
        m_place[at] = NONE;
        return std::move(m_paths[k]);
      }
    }
    return g->get_string_hpath();
  }

 private:
  static constexpr uint32_t NONE = ~0u;
  const std::vector<CDB_SGATE_BOUNDARY*>& m_boundaries;
  std::vector<std::string> m_paths;  // by place in m_boundaries
  unsigned m_lo = ~0u;
  std::vector<uint32_t> m_place;  // by gate number from m_lo: a kept path's place
};

// Each output boundary records the gates of other partitions its output
// feeds, before any edge is cut (CDB_SGATE_BOUNDARY::set_readers):
// a partition's timing analysis tells a stored timing netlist made for
// these boundaries from one made for others by them, since those readers
// are not in the partition's netlist. A reader counts where a sink is
// reached from it (through it a timed path may run; the input boundaries a
// split adds for a state machine's control reach none); the analysis
// counts the readers it finds alike. One path per gate, sorted; a path is
// made only for a reader recorded, or taken from `paths` where given.
// `boundaries` are the netlist's, in netlist order, its gate numbers
// within [lo, hi].
void record_boundary_readers(CDB_SGATE_NETLIST* netlist, const std::vector<CDB_SGATE_BOUNDARY*>& boundaries,
                             unsigned lo, unsigned hi, BOUNDARY_PATHS* paths) {
  std::optional<SINK_REACH> reach;
  std::vector<const CDB_SGATE_NODE*> found;
  for (CDB_SGATE_BOUNDARY* b : boundaries) {
    CDB_SGATE_OTERM* out = b->get_direction() == CDB_BOUNDARY_OUTPUT ? b->get_single_oterm() : nullptr;
    if (!out) continue;
    if (!reach) reach.emplace(netlist, lo, hi);
    found.clear();
    for (const CDB_SGATE_NODE* r : out->fanout_nodes()) {
      if (!r) continue;
      const CDB_SGATE_OTERM* first = r->get_output_term(0);
      const bool inside = first && first->get_aux() == out->get_aux();
      if (!inside && reach->reaches_sink(r)) found.push_back(r);
    }
    // A gate reading the boundary on several inputs is one reader.
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    std::vector<std::string> readers;
    readers.reserve(found.size());
    for (const CDB_SGATE_NODE* r : found) readers.push_back(paths ? paths->take(r) : r->get_string_hpath());
    std::sort(readers.begin(), readers.end());
    readers.erase(std::unique(readers.begin(), readers.end()), readers.end());
    b->set_readers(std::move(readers));
  }
}

}  // namespace

int kavu_partition_netlist_counter() { return g_partition_netlist_counter; }

void KAVU_PARTITION_BOUNDARIES::disconnect_partitions(CDB_SGATE_NETLIST* netlist) {
  disconnect_partitions(netlist, nullptr);
}

void KAVU_PARTITION_BOUNDARIES::disconnect_partitions(CDB_SGATE_NETLIST* netlist, CDB_SGATE_LABELLING* labelling) {
  const bool dump = g_dump_boundary_connections();
  KAVU_CHECK(netlist);
  // The boundaries in netlist order, and the range of the gate numbers.
  std::vector<CDB_SGATE_BOUNDARY*> boundaries;
  unsigned lo = ~0u, hi = 0;
  for (CDB_SGATE_NODE* node : netlist->get_node_list()) {
    KAVU_CHECK(node);
    lo = std::min(lo, node->get_id());
    hi = std::max(hi, node->get_id());
    if (CDB_SGATE_BOUNDARY* b = node->cast_to_boundary()) boundaries.push_back(b);
  }
  // The labelling takes every boundary's path, and the readers record the
  // paths of the boundaries among them: each is made once.
  std::optional<BOUNDARY_PATHS> paths;
  if (labelling) paths.emplace(boundaries, labelling);
  record_boundary_readers(netlist, boundaries, lo, hi, paths ? &*paths : nullptr);
  for (CDB_SGATE_BOUNDARY* b : boundaries) {
    b->set_cut(true);
    if (b->get_direction() != CDB_BOUNDARY_INPUT) continue;
    CDB_SGATE_ITERM* iterm = b->get_single_iterm();
    CDB_SGATE_OTERM* src_oterm = iterm ? iterm->get_source() : nullptr;
    // Only edges between two boundaries are cut; an input boundary fed by
    // logic of its own partition (or a tie) stays as it is.
    if (!src_oterm || !is_boundary(src_oterm->get_my_node())) continue;
    KAVU_CHECK(!iterm->is_inverted());
    // The partition that keeps this boundary can still find its driver.
    b->set_fed_by(src_oterm);
    KAVU_PARTITION_CONNECTION c;
    c.oterm = src_oterm;
    c.iterm = iterm;
    m_connections.push_back(c);
    iterm->remove_fanin();
  }
  if (dump) {
    if (FILE* f = kavu_open_report("boundary_connections.log")) {
      for (const KAVU_PARTITION_CONNECTION& c : m_connections) {
        KAVU_CHECK(c.iterm && c.oterm);
        CDB_SGATE_NODE* sgate = c.iterm->get_my_node();
        CDB_SGATE_NODE* src_sgate = c.oterm->get_my_node();
        KAVU_CHECK(sgate && src_sgate);
        fprintf(f, "%d %d\n", int(src_sgate->get_debug_number()), int(sgate->get_debug_number()));
      }
      kavu_close_report(f, "boundary_connections.log");
    }
  }
  clear_pointers();
}

void KAVU_PARTITION_BOUNDARIES::clear_pointers() {
  if (m_pointers_cleared) return;
  m_pointers_cleared = true;
  for (KAVU_PARTITION_CONNECTION& c : m_connections) {
    KAVU_CHECK(c.iterm);
    KAVU_CHECK(c.oterm);
    c.dst_debug_number = c.iterm->get_my_node()->get_debug_number();
    c.iterm = nullptr;
    c.src_debug_number = c.oterm->get_my_node()->get_debug_number();
    c.oterm = nullptr;
  }
}

void KAVU_PARTITION_BOUNDARIES::refresh_pointers(CDB_SGATE_NETLIST* netlist) {
  if (!m_pointers_cleared) return;
  m_pointers_cleared = false;
  std::unordered_map<unsigned, CDB_SGATE_NODE*> map;
  for (const KAVU_PARTITION_CONNECTION& c : m_connections) {
    map.emplace(c.src_debug_number, nullptr);
    map.emplace(c.dst_debug_number, nullptr);
  }
  for (CDB_SGATE_NODE* node : netlist->get_node_list()) {
    if (!is_boundary(node)) continue;
    auto it = map.find(node->get_debug_number());
    if (it == map.end()) continue;
    if (it->second) {
      char text[512];
      snprintf(text, sizeof text, "Two boundaries have the same debug number %d: %s and %s",
               int(node->get_debug_number()), node->get_string_hpath().c_str(),
               it->second->get_string_hpath().c_str());
      KAVU_INTERNAL_ERROR(text);
    }
    it->second = node;
  }
  for (KAVU_PARTITION_CONNECTION& c : m_connections) {
    CDB_SGATE_NODE* src_node = map[c.src_debug_number];
    KAVU_CHECK(src_node);
    KAVU_CHECK(is_boundary(src_node));
    c.oterm = src_node->get_output_term(0);
    KAVU_CHECK(c.oterm);
    CDB_SGATE_NODE* dst_node = map[c.dst_debug_number];
    KAVU_CHECK(dst_node);
    KAVU_CHECK(is_boundary(dst_node));
    c.iterm = dst_node->get_single_iterm();
    KAVU_CHECK(c.iterm);
  }
}

void KAVU_PARTITION_BOUNDARIES::reconnect_partitions(CDB_SGATE_NETLIST* netlist) {
  refresh_pointers(netlist);
  for (KAVU_PARTITION_CONNECTION& c : m_connections) {
    KAVU_CHECK(c.oterm && c.oterm->get_my_node());
    KAVU_CHECK(is_boundary(c.oterm->get_my_node()));
    KAVU_CHECK(is_boundary(c.iterm->get_my_node()));
    c.oterm->insert_fanout(c.iterm);
    KAVU_CHECK(!c.iterm->is_inverted());
    c.oterm->get_my_node()->cast_to_boundary()->set_cut(false);
    c.iterm->get_my_node()->cast_to_boundary()->set_cut(false);
  }
}

void kavu_stamp_boundary_partition_ids(CDB_SGATE_NETLIST* partition) {
  const int partition_id = partition->get_number();
  KAVU_CHECK(partition_id > 0);
  for (CDB_SGATE_NODE* node : partition->get_node_list())
    if (CDB_SGATE_BOUNDARY* b = node->cast_to_boundary()) b->set_partition_number(partition_id);
}

// ---- the flow's turn and the design whose partitions are out
// The design is known by its serial, which no later netlist reuses (its
// address may be a new design's once it is destroyed), and its destruction
// ends its flow. The turn is a mutex with its holder known: a fork waits
// for it (take_turn_before_fork), so a child gets the naming tables, the
// names and its designs as a whole partitioning, split or merge left them,
// except where the forking thread holds it itself (a dumper that forks),
// whose child goes on with that call as the parent does. A child starts
// with no design out. The fork handlers and the listener of destroyed
// designs are registered as the library loads, before any flow.
namespace {

std::mutex g_flow_mutex;
std::atomic<pthread_t> g_flow_turn_holder{};
std::atomic<bool> g_flow_turn_held{false};
std::atomic<uint64_t> g_flow_design{0};  // serial; 0: no design's partitions are out
bool g_turn_taken_for_fork = false;       // by the forking thread, whose fork's handlers run one at a time

bool this_thread_holds_turn() {
  return g_flow_turn_held.load() && pthread_equal(g_flow_turn_holder.load(), pthread_self());
}

void take_turn_before_fork() {
  if (this_thread_holds_turn()) return;
  g_flow_mutex.lock();
  g_turn_taken_for_fork = true;
}

void give_turn_back_in_parent() {
  if (std::exchange(g_turn_taken_for_fork, false)) g_flow_mutex.unlock();
}

// The process reports parallel synthesis while a design's partitions are
// out; with none out, the report is left as it is unless a design's were.
void set_flow_design_locked(uint64_t serial) {
  const uint64_t was = g_flow_design.exchange(serial);
  if (serial || was) cdb_sgate_set_synthesis_running_in_parallel(serial != 0);
}

void give_turn_back_in_child() {
  set_flow_design_locked(0);  // the child's own flows start afresh: no partitions are out in it
  give_turn_back_in_parent();
}

// A design destroyed with its partitions out (the caller's exception or
// cancel between the split and the merge, or recovery that lost a
// partition) takes its flow with it: another design may run, and another
// run may take the database directory.
void end_flow_of_destroyed_design(const CDB_SGATE_NETLIST* netlist) {
  const uint64_t serial = netlist->get_serial();
  if (serial != g_flow_design.load()) return;
  {
    const KAVU_FLOW_TURN turn;
    if (g_flow_design.load() != serial) return;
    set_flow_design_locked(0);
  }
  kavu_parallel_end_flow();
}

[[maybe_unused]] const bool g_flow_turn_registered =
    (thr_setup_point("the flow's turn and its fork handlers"),
     pthread_atfork(take_turn_before_fork, give_turn_back_in_parent, give_turn_back_in_child),
     cdb_sgate_add_netlist_delete_listener(end_flow_of_destroyed_design), true);

}  // namespace

KAVU_FLOW_TURN::KAVU_FLOW_TURN() {
  g_flow_mutex.lock();
  g_flow_turn_holder.store(pthread_self());
  g_flow_turn_held.store(true);
}

KAVU_FLOW_TURN::~KAVU_FLOW_TURN() {
  g_flow_turn_held.store(false);
  g_flow_mutex.unlock();
}

bool kavu_another_design_is_out_locked(const CDB_SGATE_NETLIST* design) {
  const uint64_t out = g_flow_design.load();
  return out != 0 && (!design || design->get_serial() != out);
}

void kavu_set_flow_design_locked(const CDB_SGATE_NETLIST* design) { set_flow_design_locked(design ? design->get_serial() : 0); }

bool kavu_partitions_of_another_design_are_out(const CDB_SGATE_NETLIST* design) {
  const KAVU_FLOW_TURN turn;
  return kavu_another_design_is_out_locked(design);
}

namespace {
// The design whose refused flow this thread told last (its serial; 0: no
// refusal is being told).
thread_local uint64_t t_refusal_told = 0;
}  // namespace

void kavu_flow_not_refused() { t_refusal_told = 0; }

void kavu_refuse_run_beside_another(KAVU_REFUSED_CALL call, const CDB_SGATE_NETLIST* design) {
  const uint64_t told = std::exchange(t_refusal_told, 0);
  switch (call) {
    case KAVU_REFUSED_PARTITIONING:
      t_refusal_told = design->get_serial();
      break;
    case KAVU_REFUSED_SPLIT:
      t_refusal_told = design->get_serial();
      if (told == t_refusal_told) return;
      break;
    case KAVU_REFUSED_WRITE:  // the flow's last refused call
      if (told) return;
      break;
  }
  // The call refuses whatever happens here: a message memory is refused
  // for is left out, never the host ended.
  kavu_guard_memory_void(
      [] {
        msg_post_message(MSG_POST_TYPE_ERROR,
                         "Parallel synthesis cannot run on this design: the partitions of another design are out in "
                         "this process, and a process runs one parallel synthesis at a time. The design stays whole");
        // Posted now, even while the other run's helpers hold messages back.
        kavu_parallel_show_held_messages();
      },
      [] {});
}

namespace {

// What the split or the merge of `gates` gates across `edges` cut edges
// allocates, about: the lists and tables they fill.
size_t split_or_merge_bytes(size_t gates, size_t edges) { return 64 * gates + 128 * edges + (size_t(64) << 10); }

// The split itself (kavu_get_partition_netlists), holding the flow's turn.
// *moving is the gate between the design's list and its partition's, if any.
void split_design(std::vector<CDB_SGATE_NETLIST*>& partitions, CDB_SGATE_NETLIST* netlist,
                  CDB_SGATE_HIERARCHY* hierarchy, KAVU_PARTITION_BOUNDARIES& boundaries, bool label_partitions,
                  CDB_SGATE_NODE** moving) {
  netlist->prepare_for_use();
  // A split refused memory after its first change has to be undone with
  // memory short: about what it will allocate is asked for first.
  kavu_grant_memory(split_or_merge_bytes(netlist->size(), netlist->size() / 8));
  const bool route = kavu_parallel_flow_allowed(PARALLEL_MLS) && !kavu_repartition_before_mls();
  if (route) kavu_route_state_machine_signals(hierarchy, netlist);
  KAVU_BOUNDARY_DELAY_MAP delays;
  kavu_annotate_boundary_delays(netlist, delays);
  // Each partition records the labelling it was split under (its timing
  // analysis takes no stored timing netlist made for another): the
  // boundary gates, which the split moves as they are.
  CDB_SGATE_LABELLING labelling;
  boundaries.disconnect_partitions(netlist, &labelling);
  kavu_clear_boundary_port_cache(netlist);
  partitions.clear();
  if (label_partitions) kavu_label_partitions_after_sync_point(netlist);

  std::unordered_map<int, size_t> position_of_id;
  // Machines by the id of their name: each goes, once, to the partition
  // netlist of its first state gate, which carries it through the archives.
  std::unordered_map<int, CDB_STATE_MACHINE*> machine_of_name_id;
  std::vector<std::pair<CDB_SGATE_NETLIST*, CDB_STATE_MACHINE*>> moved_machines;
  const bool with_machines = hierarchy && hierarchy->has_machines();
  const unsigned first_debug = CDB_SGATE_NODE::s_debug_counter;
  std::vector<CDB_SGATE_NODE*> nodes(netlist->begin_node_list(), netlist->end_node_list());
  for (CDB_SGATE_NODE* node : nodes) {
    if (!node) continue;  // a slot emptied by an earlier removal
    CDB_SGATE_OTERM* first = node->get_output_term(0);
    const int partition_id = first ? first->get_aux() : 0;
    KAVU_CHECK(partition_id > 0);
    auto it = position_of_id.find(partition_id);
    if (it == position_of_id.end()) {
      auto* part = new CDB_SGATE_NETLIST(true, ++g_partition_netlist_counter, int(first_debug));
      part->set_is_partition_netlist(true);
      part->prepare_for_use();
      it = position_of_id.emplace(partition_id, partitions.size()).first;
      partitions.push_back(part);
    }
    if (with_machines && kavu_is_a_state_buffer(node)) {
      CDB_STATE_MACHINE* machine = node->cast_to_state()->get_state_machine();
      KAVU_CHECK(machine);
      HDB_INSTANCE_NAME* name = machine->get_instance_name();
      const int machine_name_id = name ? name->get_id() : 0;
      KAVU_CHECK(machine_name_id);
      if (machine_of_name_id.emplace(machine_name_id, machine).second)
        moved_machines.emplace_back(partitions[it->second], machine);
    }
    netlist->delete_node_(node);
    *moving = node;
    for (CDB_SGATE_OTERM* o : node->get_output_terms())
      if (o) o->set_aux3(0);
    partitions[it->second]->add_node(node, true);
    *moving = nullptr;
  }
  // The machines are stored as numbers once every gate has moved (the
  // numbers do not change on the way), so a split given up before leaves
  // them as they were.
  for (const auto& [part, machine] : moved_machines) machine->store_oterms_as_debug_numbers(route);
  if (netlist->get_node_list().size() != 0) {
    char text[160];
    snprintf(text, sizeof text,
             "Should have moved all nodes from main netlist to partitions but we still have %lu nodes left.",
             (unsigned long)netlist->get_node_list().size());
    KAVU_INTERNAL_ERROR(text);
  }
  for (CDB_SGATE_NETLIST* part : partitions) {
    netlist->copy_members_to_partitioned_netlist(part);
    part->set_split_labelling(labelling.digest());
    // The parent's own table stays with the parent: a copy in every
    // partition would come back once per partition at the merge.
    *part->get_mast_report() = KAVU_MAST_MUX_TABLE();
    kavu_stamp_boundary_partition_ids(part);
  }
  kavu_apply_boundary_delays(netlist, delays);
  // The process reports parallel synthesis while the partitions are out.
  kavu_set_flow_design_locked(partitions.empty() ? nullptr : netlist);
  if (with_machines) move_machines_out_of_hierarchy(hierarchy, moved_machines);
}

// The merge itself (kavu_merge_netlists), holding the flow's turn. Made
// again after a refusal, it goes on where it stopped.
void merge_design(std::vector<CDB_SGATE_NETLIST*>& partitions, CDB_SGATE_NETLIST* netlist,
                  CDB_SGATE_HIERARCHY* hierarchy, KAVU_PARTITION_BOUNDARIES& boundaries, bool dump);

// The split was refused memory after the grant: the gates moved so far go
// back into the design and its cut edges are joined again; no partition is
// handed back. A gate between two lists goes back first.
void give_up_split(std::vector<CDB_SGATE_NETLIST*>& partitions, CDB_SGATE_NETLIST* netlist,
                   KAVU_PARTITION_BOUNDARIES& boundaries, CDB_SGATE_NODE* moving) {
  try {
    if (moving) netlist->add_node(moving, true);
    for (CDB_SGATE_NETLIST*& part : partitions) {
      std::vector<CDB_SGATE_NODE*> nodes(part->begin_node_list(), part->end_node_list());
      for (CDB_SGATE_NODE* node : nodes) {
        if (!node) continue;
        part->delete_node_(node);
        netlist->add_node(node, true);
      }
      delete part;
      part = nullptr;
    }
    partitions.clear();
    boundaries.reconnect_partitions(netlist);
    boundaries = KAVU_PARTITION_BOUNDARIES();
    kavu_refresh_boundary_port_cache(netlist);
    kavu_set_flow_design_locked(nullptr);
  } catch (const std::bad_alloc&) {
    kavu_post_out_of_memory(
        "Parallel synthesis cannot split the design into its partitions, nor put the gates it moved back: not "
        "enough memory. Merge the partitions handed back into the design");
    return;
  }
  kavu_post_out_of_memory("Parallel synthesis cannot split the design into its partitions: not enough memory. The "
                          "design stays whole");
}

}  // namespace

void kavu_get_partition_netlists(std::vector<CDB_SGATE_NETLIST*>& partitions, CDB_SGATE_NETLIST* netlist,
                                 CDB_SGATE_HIERARCHY* hierarchy, CMP_FACADE*,
                                 KAVU_PARTITION_BOUNDARIES& boundaries, bool label_partitions) {
  GEN_PROFILER profiler("KAVU", "kavu_get_partition_netlists");
  GEN_PROFILER split_profiler("KAVU", "Label partitions (optional) + Split netlists + Annotate delay");
  KAVU_CHECK(netlist);
  const KAVU_FLOW_TURN turn;
  partitions.clear();
  if (kavu_another_design_is_out_locked(netlist)) {
    kavu_refuse_run_beside_another(KAVU_REFUSED_SPLIT, netlist);
    return;
  }
  kavu_flow_not_refused();
  CDB_SGATE_NODE* moving = nullptr;
  kavu_guard_memory_void(
      [&] { split_design(partitions, netlist, hierarchy, boundaries, label_partitions, &moving); },
      [&] { give_up_split(partitions, netlist, boundaries, moving); });
}

void kavu_merge_netlists(std::vector<CDB_SGATE_NETLIST*>& partitions, CDB_SGATE_NETLIST* netlist,
                         CDB_SGATE_HIERARCHY* hierarchy, KAVU_PARTITION_BOUNDARIES& boundaries) {
  GEN_PROFILER profiler("KAVU", "Merge netlists");
  const bool dump = g_dump_debug_number_mappings();
  if (partitions.empty()) return;  // nothing to merge
  KAVU_CHECK(netlist);
  const KAVU_FLOW_TURN turn;
  // Refused memory, the merge leaves in `partitions` what it did not take
  // yet, for the caller to merge again (and write nothing meanwhile); about
  // what it allocates is asked for before its first change.
  kavu_guard_memory_void(
      [&] {
        size_t gates = 0;
        for (CDB_SGATE_NETLIST* part : partitions) gates += part ? part->size() : 0;
        kavu_grant_memory(split_or_merge_bytes(gates, boundaries.get_connections().size()));
        merge_design(partitions, netlist, hierarchy, boundaries, dump);
      },
      [] {
        kavu_post_out_of_memory("Parallel synthesis cannot merge the partitions: not enough memory. The partitions "
                                "not merged stay in memory");
      });
}

namespace {
void merge_design(std::vector<CDB_SGATE_NETLIST*>& partitions, CDB_SGATE_NETLIST* netlist,
                  CDB_SGATE_HIERARCHY* hierarchy, KAVU_PARTITION_BOUNDARIES& boundaries, bool dump) {
  netlist->prepare_for_use();
  // The split left the design's node list all emptied slots: dropped before
  // the gates come back, so a design run again and again does not keep a
  // slot for every gate of every earlier flow.
  if (netlist->size() == 0) netlist->garbage_collect(true, false);
  KAVU_CHECK(partitions[0]);
  const unsigned first_new = unsigned(partitions[0]->get_first_debug_number());
  FILE* f = dump ? kavu_open_report("kavu_debug_number_mappings.log") : nullptr;
  if (f) fprintf(f, "Debug ID > %d are new gates\n", int(first_new));
  // Gates made in different helpers may share numbers: each partition's new
  // gates get fresh ones before anything is looked up by number.
  for (CDB_SGATE_NETLIST* part : partitions) {
    KAVU_CHECK(part);
    std::vector<CDB_SGATE_NODE*> nodes(part->begin_node_list(), part->end_node_list());
    for (CDB_SGATE_NODE* node : nodes) {
      if (!node) continue;
      if (node->get_debug_number() >= first_new) {
        const unsigned old = node->get_debug_number();
        node->update_debug_number();
        if (f)
          fprintf(f, "Partition %d Node %d -> Main netlist Node %d\n", part->get_number(), int(old),
                  int(node->get_debug_number()));
      }
      part->delete_node_(node);
      for (CDB_SGATE_OTERM* o : node->get_output_terms())
        if (o) o->set_aux3(0);
      netlist->add_node(node, true);
    }
  }
  kavu_close_report(f, "kavu_debug_number_mappings.log");
  // A flattened timing netlist stored from the partitions is the whole
  // design's: the design merged back records it, where every partition
  // records the same store.
  bool same_store = partitions[0]->get_tdb_origin().stored;
  for (const CDB_SGATE_NETLIST* part : partitions)
    same_store = same_store && part->get_tdb_origin() == partitions[0]->get_tdb_origin();
  if (same_store) netlist->set_tdb_origin(partitions[0]->get_tdb_origin());
  kavu_recover_state_machines(hierarchy, netlist, partitions);
  kavu_merge_mast_mux_tables(partitions);
  for (CDB_SGATE_NETLIST*& part : partitions) {
    delete part;
    part = nullptr;
  }
  partitions.clear();
  boundaries.reconnect_partitions(netlist);
  kavu_refresh_boundary_port_cache(netlist);
  kavu_set_flow_design_locked(nullptr);
  cdb_sgate_set_synthesis_running_in_parallel(false);
}
}  // namespace
