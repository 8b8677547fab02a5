// kavu_dff_helper_stuck.cpp — stuck registers (rings and Q-feedback) and
// the fan-in cone listing kavu_dfs_cone.
//
// Entry points: kavu_dfs_cone, kavu_find_dff_rings, kavu_find_stuck_low_qfbk,
//   kavu_find_stuck_hi_qfbk, kavu_find_stuck_hi_or_latch.
// Model:
//   - A control is active when connected and not tied to GND. A register is
//     a ring candidate when it powers up low and no control can ever give it
//     a 1: no preset, no asynchronous load, and no synchronous load unless
//     its load data is GND (a load of anything else could store a 1).
//   - Ring predecessors: each candidate has at most two (A, B): the plain
//     registers that reach its data input uninverted through one two-input
//     AND, a mux whose data-0 input is GND (normalised to that shape first:
//     a GND data-1 input swaps the data inputs and inverts the select, an
//     edit that stays even when no ring is found), or directly. A cycle of
//     predecessor links joins candidates only, all starting at 0 and each the
//     AND of its predecessors: every register on it stays 0.
//   - Q-feedback: a register (or cut buffer) whose next value is its own
//     output ANDed with other signals never rises once low; ORed, never falls
//     once high. Low needs no preset or load; high needs no clear or load,
//     both synchronous clears of a flip-flop atom included.
// The ring searches keep the reference bound of 600 levels: a ring deeper
// than that is not found from that start. All walks, the cone tests and
// kavu_dfs_cone included, run on explicit stacks in the order the recursive
// definitions give.
// Cost: ring search O(registers); the link-list search O(links²) (behind its
//   key); a cone test O(expansion), exponential in depth on reconvergent
//   logic, so callers keep the depth small; kavu_dfs_cone O(cone terminals).
#include <vector>

#include "cdb/cdb_sgate.h"
#include "cfg/cfg.h"
#include "kavu_check.h"
#include "kavu_depends.h"
#include "kavu_oterm_stamp_int.h"
#include "kavu_dff_helper.h"
#include "kavu_dff_helper_stuck.h"
#include "kavu_msg.h"
#include "kavu_helper_predicates.h"
#include "kavu_helper_summary.h"
#include "kavu_wiring_helper.h"

namespace {

constexpr int RING_DEPTH_LIMIT = 600;
// Walk marks: of ring-search registers and links, and of kavu_dfs_cone's
// terminals (a leaf is finished before the walk starts).
enum WALK_MARK { UNVISITED = 0, ON_PATH = 1, FINISHED = 2 };
constexpr CDB_SGATE_ITERM::CONNECT_STATE DISCONNECTED = CDB_SGATE_ITERM::CONNECT_STATE_UNCONNECTED;

bool is_active(const CDB_SGATE_ITERM* t) { return t && cdb_is_connected(t) && !t->is_gnd(); }

// The value t reads is its source's value complemented (the terminal's own
// flag and its source's output flag both count).
bool reads_inverted(const CDB_SGATE_ITERM* t) {
  return t->is_inverted() != (t->get_source() && t->get_source()->is_inverted());
}

bool driven_plainly_by(const CDB_SGATE_ITERM* t, const CDB_SGATE_OTERM* oterm) {
  return t->get_source() == oterm && !reads_inverted(t);
}

void tie_input(CDB_SGATE_ITERM* t, bool vcc) {
  t->disconnect_from_source(DISCONNECTED);
  if (vcc) t->set_vcc();
  else t->set_gnd();
}

// ---- kavu_dfs_cone

class CONE_WALKER {
 public:
  void collect(CDB_SGATE_OTERM* root, const std::vector<CDB_SGATE_OTERM*>& leaves,
               std::vector<CDB_SGATE_OTERM*>& cone) {
    m_seen.clear(leaves.size() + 64);
    for (CDB_SGATE_OTERM* leaf : leaves) m_seen.insert(leaf, FINISHED);
    if (m_seen.find(root)) return;
    m_frames.clear();
    m_feeders.clear();
    enter(root);
    while (!m_frames.empty()) {
      FRAME& f = m_frames.back();
      if (f.m_next < f.m_end) {
        CDB_SGATE_OTERM* src = m_feeders[f.m_next++];
        if (!m_seen.find(src)) enter(src);
        continue;  // f may dangle after enter
      }
      cone.push_back(f.m_oterm);
      m_feeders.resize(f.m_begin);
      m_frames.pop_back();
    }
  }

 private:
  struct FRAME {
    CDB_SGATE_OTERM* m_oterm;
    size_t m_begin;
    size_t m_end;
    size_t m_next;
  };

  // Marks the terminal and stacks its feeders (list order) above the
  // feeders of the frames below it.
  void enter(CDB_SGATE_OTERM* oterm) {
    m_seen.insert(oterm, ON_PATH);
    kavu_get_oterm_feeders(oterm, m_scratch, false, false, false);
    const size_t begin = m_feeders.size();
    m_feeders.insert(m_feeders.end(), m_scratch.begin(), m_scratch.end());
    m_frames.push_back({oterm, begin, m_feeders.size(), begin});
  }

  PTR_STAMP_TABLE m_seen;
  std::vector<FRAME> m_frames;
  std::vector<CDB_SGATE_OTERM*> m_feeders;
  std::vector<CDB_SGATE_OTERM*> m_scratch;
};

// ---- ring predecessors

bool is_ring_candidate(const CDB_SGATE_NODE* dff) {
  if (kavu_dff_powers_up_high(dff)) return false;
  if (is_active(kavu_get_dff_aload(dff)) || is_active(kavu_get_dff_preset(dff))) return false;
  if (is_active(kavu_get_dff_sload(dff))) {
    const CDB_SGATE_ITERM* adata = kavu_get_dff_adata(dff);
    if (!adata || !adata->is_gnd()) return false;
  }
  return true;
}

// The register number of the plain register that drives t uninverted, or -1.
int register_number_of(const CDB_SGATE_ITERM* t) {
  if (!t || !cdb_is_connected(t) || t->is_vcc_or_gnd() || reads_inverted(t) || !t->get_source()) return -1;
  const CDB_SGATE_NODE* src = t->get_source()->get_my_node();
  return kavu_is_a_dff(src) ? src->get_single_oterm()->get_aux() : -1;
}

struct RING_PREDECESSORS {
  std::vector<int> m_a;
  std::vector<int> m_b;
  std::vector<CDB_SGATE_NODE*> m_regs;  // by register number
};

// Predecessors of one candidate through the gate that drives its data input.
void find_predecessors(CDB_SGATE_NODE* dff, int* a, int* b) {
  *a = *b = -1;
  CDB_SGATE_ITERM* data = kavu_get_dff_data(dff);
  if (!data || !cdb_is_connected(data) || data->is_vcc_or_gnd() || reads_inverted(data) || !data->get_source())
    return;
  CDB_SGATE_NODE* d = data->get_source()->get_my_node();
  if (kavu_is_a_two_and(d)) {
    CDB_SGATE_ITERM* in_a = nullptr;
    CDB_SGATE_ITERM* in_b = nullptr;
    kavu_grab_both_iterms(d, &in_a, &in_b);
    *a = register_number_of(in_a);
    *b = register_number_of(in_b);
  } else if (kavu_is_a_mux(d)) {
    CDB_SGATE_ITERM* d0 = d->get_input_term(CDB_MUX_DATA0);
    CDB_SGATE_ITERM* d1 = d->get_input_term(CDB_MUX_DATA1);
    CDB_SGATE_ITERM* select = d->get_input_term(CDB_MUX_SELECT);
    bool normalised = false;
    if (d1 && d1->is_gnd() && d0 && cdb_is_connected(d0) && select) {
      select->invert();
      kavu_swap_iterm_connections(d0, d1);
      normalised = true;
    }
    if (!d0 || !d0->is_gnd()) return;
    // A select this call has just inverted is left out.
    if (!normalised) *a = register_number_of(select);
    *b = register_number_of(d1);
  } else if (kavu_is_a_dff(d)) {
    *a = d->get_single_oterm()->get_aux();
  }
}

void number_registers(CDB_SGATE_NETLIST* netlist, RING_PREDECESSORS& p) {
  kavu_reset_aux_values(netlist);
  p.m_regs.reserve(netlist->size());
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    if (!*it || !kavu_is_a_dff(*it)) continue;
    (*it)->get_single_oterm()->set_aux(int(p.m_regs.size()));
    p.m_regs.push_back(*it);
  }
  p.m_a.assign(p.m_regs.size(), -1);
  p.m_b.assign(p.m_regs.size(), -1);
  for (size_t r = 0; r < p.m_regs.size(); ++r)
    if (is_ring_candidate(p.m_regs[r])) find_predecessors(p.m_regs[r], &p.m_a[r], &p.m_b[r]);
}

// ---- numbered ring search

struct RING_FRAME {
  int m_reg;
  int m_next;  // 0: A, 1: B, 2: done
};

// Depth-first walk over predecessor links from one register; a link back to
// a register on the current path closes a ring, and the register whose link
// closes it joins the ring list. `stack` is the caller's scratch.
void kavu_dff_ring_dfs(const RING_PREDECESSORS& p, int index, std::vector<int>* marker, std::vector<int>& rings,
                       std::vector<RING_FRAME>& stack) {
  if ((*marker)[index] != UNVISITED) KAVU_INTERNAL_ERROR("(*marker)[index] == 0");
  stack.assign(1, {index, 0});
  (*marker)[index] = ON_PATH;
  while (!stack.empty()) {
    RING_FRAME& f = stack.back();
    if (f.m_next < 2) {
      const int reg = f.m_reg;
      const int pred = (f.m_next++ == 0 ? p.m_a : p.m_b)[size_t(reg)];
      if (pred < 0) continue;
      if ((*marker)[pred] == ON_PATH) {
        rings.push_back(reg);
      } else if ((*marker)[pred] == UNVISITED && int(stack.size()) - 1 < RING_DEPTH_LIMIT) {
        (*marker)[pred] = ON_PATH;
        stack.push_back({pred, 0});  // f dangles from here on
      }
      continue;
    }
    (*marker)[f.m_reg] = FINISHED;
    stack.pop_back();
  }
}

int kavu_find_dff_rings_faster(CDB_SGATE_NETLIST* netlist) {
  RING_PREDECESSORS p;
  number_registers(netlist, p);
  std::vector<int> marker(p.m_regs.size(), UNVISITED);
  std::vector<int> rings;
  std::vector<RING_FRAME> stack;
  for (size_t r = 0; r < p.m_regs.size(); ++r)
    if (marker[r] == UNVISITED) kavu_dff_ring_dfs(p, int(r), &marker, rings, stack);
  for (int r : rings) {
    CDB_SGATE_NODE* dff = p.m_regs[size_t(r)];
    kavu_debug_at_level(3, "Stuck DFF ring includes UID %s", dff->get_debug_name().c_str());
    CDB_SGATE_ITERM* data = kavu_get_dff_data(dff);
    if (dff->cast_to_dff()->prune_allowed() && !data->is_gnd()) tie_input(data, false);
  }
  if (!rings.empty()) {
    netlist->prepare_for_use();
    netlist->sweep(false);
  }
  return int(rings.size());
}

// ---- link-list ring search

struct RING_LINK {
  CDB_SGATE_OTERM* m_src;
  CDB_SGATE_OTERM* m_dst;
};

struct LINK_FRAME {
  int m_link;
  size_t m_next;
};

void kavu_dff_ring_link_dfs(const std::vector<RING_LINK>& links, int start, std::vector<int>& marker,
                            std::vector<int>& rings, std::vector<LINK_FRAME>& stack) {
  if (marker[size_t(start)] != UNVISITED) return;
  marker[size_t(start)] = ON_PATH;
  stack.assign(1, {start, 0});
  while (!stack.empty()) {
    LINK_FRAME& f = stack.back();
    const CDB_SGATE_OTERM* src = links[size_t(f.m_link)].m_src;
    while (f.m_next < links.size() && links[f.m_next].m_dst != src) ++f.m_next;
    if (f.m_next == links.size()) {
      marker[size_t(f.m_link)] = FINISHED;
      stack.pop_back();
      continue;
    }
    const size_t j = f.m_next++;
    if (int(stack.size()) - 1 >= RING_DEPTH_LIMIT) continue;
    if (marker[j] == ON_PATH) {
      rings.push_back(int(j));
    } else if (marker[j] == UNVISITED) {
      marker[j] = ON_PATH;
      stack.push_back({int(j), 0});
    }
  }
}

int kavu_find_dff_rings_slower(CDB_SGATE_NETLIST* netlist) {
  RING_PREDECESSORS p;
  number_registers(netlist, p);
  std::vector<RING_LINK> links;
  links.reserve(2 * p.m_regs.size());
  for (size_t r = 0; r < p.m_regs.size(); ++r) {
    for (int pred : {p.m_a[r], p.m_b[r]})
      if (pred >= 0) links.push_back({p.m_regs[size_t(pred)]->get_single_oterm(), p.m_regs[r]->get_single_oterm()});
  }
  for (const RING_LINK& l : links) {
    const CDB_SGATE_NODE* src_gate = l.m_src->get_my_node();
    const CDB_SGATE_NODE* sgate = l.m_dst->get_my_node();
    KAVU_CHECK(kavu_is_a_dff (src_gate));
    KAVU_CHECK(kavu_is_a_dff (sgate));
  }
  std::vector<int> marker(links.size(), UNVISITED);
  std::vector<int> rings;
  std::vector<LINK_FRAME> stack;
  for (size_t i = 0; i < links.size(); ++i) kavu_dff_ring_link_dfs(links, int(i), marker, rings, stack);
  for (int i : rings) {
    const RING_LINK& l = links[size_t(i)];
    kavu_debug_at_level(3, "Stuck DFF ring includes link UID %s to %s", l.m_src->get_my_node()->get_debug_name().c_str(),
                        l.m_dst->get_my_node()->get_debug_name().c_str());
    CDB_SGATE_ITERM* data = kavu_get_dff_data(l.m_dst->get_my_node());
    if (!data->is_gnd()) tie_input(data, false);
  }
  if (!rings.empty()) {
    netlist->prepare_for_use();
    netlist->sweep(false);
  }
  return int(rings.size());
}

// ---- cone tests

enum CONE_KIND { AND_CONE, OR_CONE };

struct CONE_ITEM {
  CDB_SGATE_ITERM* m_iterm;
  int m_depth;
};

// Whether the value at t is target ANDed (ORed) with other signals, within
// depth levels of AND gates and muxes (OR gates). Every branch is tested, as
// the recursive definition does, so broken connections anywhere in the
// explored cone are reported; the stack (the caller's scratch) keeps the
// recursive order.
bool cone_reaches_oterm(CONE_KIND kind, CDB_SGATE_OTERM* target_oterm, CDB_SGATE_ITERM* iterm, int depth,
                        std::vector<CONE_ITEM>& stack) {
  KAVU_CHECK(target_oterm);
  bool reached = false;
  stack.assign(1, {iterm, depth});
  while (!stack.empty()) {
    const CONE_ITEM item = stack.back();
    stack.pop_back();
    CDB_SGATE_ITERM* t = item.m_iterm;
    if (!t || !cdb_is_connected(t)) {
      kavu_debug("Found iterm with no source");
      kavu_vdebug_iterm(t);
      KAVU_INTERNAL_ERROR(kind == AND_CONE ? "Bad connections while traversing AND cone"
                                           : "Bad connections while traversing OR cone");
    }
    if (driven_plainly_by(t, target_oterm)) {
      reached = true;
      continue;
    }
    if (item.m_depth < 1 || t->is_vcc_or_gnd() || reads_inverted(t) || !t->get_source()) continue;
    CDB_SGATE_NODE* g = t->get_source()->get_my_node();
    const int next = item.m_depth - 1;
    if (kind == AND_CONE ? kavu_is_a_and(g) : kavu_is_a_or(g)) {
      const CDB_SGATE_NODE::ITERM_VECTOR& inputs = g->get_input_terms();
      for (size_t i = inputs.size(); i-- > 0;) stack.push_back({inputs[i], next});
    } else if (kind == AND_CONE && kavu_is_a_mux(g)) {
      CDB_SGATE_ITERM* d1_iterm = g->get_input_term(CDB_MUX_DATA1);
      CDB_SGATE_ITERM* d0_iterm = g->get_input_term(CDB_MUX_DATA0);
      if (!d1_iterm || !cdb_is_connected(d1_iterm)) KAVU_INTERNAL_ERROR("cdb_is_connected (d1_iterm)");
      if (!d0_iterm || !cdb_is_connected(d0_iterm)) KAVU_INTERNAL_ERROR("cdb_is_connected (d0_iterm)");
      const bool plain0 = d0_iterm->is_gnd() || driven_plainly_by(d0_iterm, target_oterm);
      const bool plain1 = d1_iterm->is_gnd() || driven_plainly_by(d1_iterm, target_oterm);
      if (!plain0) {
        if (plain1) stack.push_back({d0_iterm, next});
      } else {
        if (plain1) stack.push_back({d0_iterm, next});
        stack.push_back({d1_iterm, next});  // tested first, as written
      }
    }
  }
  return reached;
}

bool kavu_and_cone_reaches_oterm(CDB_SGATE_OTERM* target_oterm, CDB_SGATE_ITERM* iterm, int depth,
                                 std::vector<CONE_ITEM>& stack) {
  return cone_reaches_oterm(AND_CONE, target_oterm, iterm, depth, stack);
}

bool kavu_or_cone_reaches_oterm(CDB_SGATE_OTERM* target_oterm, CDB_SGATE_ITERM* iterm, int depth,
                                std::vector<CONE_ITEM>& stack) {
  return cone_reaches_oterm(OR_CONE, target_oterm, iterm, depth, stack);
}

// ---- Q-feedback passes

bool qfbk_waived() {
  if (!cfg_is_on("kavu_no_qfbk_check", false)) return false;
  kavu_debug("WARNING: Q feedback checking waived by INI");
  return true;
}

bool is_qfbk_register(const CDB_SGATE_NODE* g, bool plain_only) {
  return kavu_is_a_dff(g) || (!plain_only && kavu_is_a_wys_ff(g));
}

// A cut buffer's single input, which must be connected.
CDB_SGATE_ITERM* cut_buffer_input(const CDB_SGATE_NODE* buffer) {
  CDB_SGATE_ITERM* iterm = buffer->get_single_iterm();
  if (!iterm || !cdb_is_connected(iterm)) KAVU_INTERNAL_ERROR("cdb_is_connected (iterm)");
  return iterm;
}

CDB_SGATE_ITERM* register_data_input(const CDB_SGATE_NODE* dff) {
  CDB_SGATE_ITERM* iterm = kavu_get_dff_data(dff);
  if (!iterm || !cdb_is_connected(iterm)) KAVU_INTERNAL_ERROR("cdb_is_connected (iterm)");
  return iterm;
}

bool may_stick_low(const CDB_SGATE_NODE* dff) {
  return !kavu_dff_powers_up_high(dff) && !is_active(kavu_get_dff_aload(dff)) &&
         !is_active(kavu_get_dff_sload(dff)) && !is_active(kavu_get_dff_preset(dff));
}

bool may_stick_high(const CDB_SGATE_NODE* dff) {
  if (!kavu_dff_powers_up_high(dff) && !kavu_dff_power_up_dc(dff)) return false;
  return !is_active(kavu_get_dff_aload(dff)) && !is_active(kavu_get_dff_sload(dff)) &&
         !is_active(kavu_get_dff_clear(dff)) && !is_active(kavu_get_dff_sclear(dff)) &&
         !is_active(kavu_get_dff_sclear2(dff));
}

// data is a mux of the register's own output and VCC, either way round.
bool is_hold_or_set_mux(const CDB_SGATE_ITERM* data, const CDB_SGATE_OTERM* q) {
  if (reads_inverted(data) || !data->get_source() || !kavu_is_a_mux(data->get_source()->get_my_node())) return false;
  const CDB_SGATE_NODE* mux = data->get_source()->get_my_node();
  const CDB_SGATE_ITERM* d1_iterm = mux->get_input_term(CDB_MUX_DATA1);
  const CDB_SGATE_ITERM* d0_iterm = mux->get_input_term(CDB_MUX_DATA0);
  if (!d1_iterm || !cdb_is_connected(d1_iterm)) KAVU_INTERNAL_ERROR("cdb_is_connected (d1_iterm)");
  if (!d0_iterm || !cdb_is_connected(d0_iterm)) KAVU_INTERNAL_ERROR("cdb_is_connected (d0_iterm)");
  return (d0_iterm->is_vcc() && driven_plainly_by(d1_iterm, q)) ||
         (d1_iterm->is_vcc() && driven_plainly_by(d0_iterm, q));
}

}  // namespace

void kavu_dfs_cone(CDB_SGATE_OTERM* root, std::vector<CDB_SGATE_OTERM*>& leaves, std::vector<CDB_SGATE_OTERM*>& cone) {
  KAVU_CHECK(root != 0);
  thread_local CONE_WALKER walker;
  walker.collect(root, leaves, cone);
}

int kavu_find_dff_rings(CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist != 0);
  if (cfg_is_on("kavu_dff_ring_slower", false)) return kavu_find_dff_rings_slower(netlist);
  return kavu_find_dff_rings_faster(netlist);
}

int kavu_find_stuck_hi_or_latch(CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist != 0);
  if (qfbk_waived()) return 0;
  int count = 0;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* buffer = *it;
    if (!buffer || !kavu_is_a_cut_buffer(buffer)) continue;
    CDB_SGATE_ITERM* iterm = cut_buffer_input(buffer);
    if (reads_inverted(iterm) || !iterm->get_source() || !kavu_is_a_two_or(iterm->get_source()->get_my_node()))
      continue;
    CDB_SGATE_ITERM* in[2] = {nullptr, nullptr};
    kavu_grab_both_iterms(iterm->get_source()->get_my_node(), &in[0], &in[1]);
    for (CDB_SGATE_ITERM* t : in) {
      if (!driven_plainly_by(t, buffer->get_single_oterm())) continue;
      tie_input(t, true);
      ++count;
      break;
    }
  }
  if (count >= 1) kavu_debug("Sticking %d silly OR gate latches VCC", count);
  return count;
}

namespace {

// One walk for both polarities: a cut buffer or Q-feedback register whose
// data input can only hold its own value or move toward `high` is tied to
// that constant. Low uses the AND-cone test, high the OR-cone test; a high
// register may also be a plain hold-or-set multiplexer.
int find_stuck_qfbk(CDB_SGATE_NETLIST* netlist, int depth, bool high) {
  KAVU_CHECK(netlist != 0);
  if (qfbk_waived()) return 0;
  const bool plain_only = cfg_is_on("opt_no_dup_wys_ff", false);
  auto cone_reaches = high ? kavu_or_cone_reaches_oterm : kavu_and_cone_reaches_oterm;
  std::vector<CONE_ITEM> stack;  // scratch of every cone test of this pass
  int count = 0;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* g = *it;
    if (!g) continue;
    if (kavu_is_a_cut_buffer(g)) {
      CDB_SGATE_ITERM* iterm = cut_buffer_input(g);
      if (!cone_reaches(g->get_single_oterm(), iterm, depth, stack)) continue;
      tie_input(iterm, high);
      ++count;
    } else if (is_qfbk_register(g, plain_only) && (high ? may_stick_high(g) : may_stick_low(g))) {
      CDB_SGATE_ITERM* iterm = register_data_input(g);
      CDB_SGATE_OTERM* q = kavu_get_dff_oterm(g);
      const bool stuck = cone_reaches(q, iterm, depth, stack) || (high && is_hold_or_set_mux(iterm, q));
      if (!stuck) continue;
      tie_input(iterm, high);
      ++count;
    }
  }
  if (count >= 1)
    kavu_debug("Sticking %d registers / cuts %s due to Qfbk analysis", count, high ? "high" : "low");
  return count;
}

}  // namespace

int kavu_find_stuck_low_qfbk(CDB_SGATE_NETLIST* netlist, int depth) {
  return find_stuck_qfbk(netlist, depth, false);
}

int kavu_find_stuck_hi_qfbk(CDB_SGATE_NETLIST* netlist, int depth) {
  return find_stuck_qfbk(netlist, depth, true);
}
