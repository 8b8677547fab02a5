// kavu_sort.cpp — topological order of output terminals (KAVU_SORT).
//
// Entry: KAVU_SORT::sort_oterms(netlist, sorted, cut_buffers). A sort is
//   three phases over one per-call GRAPH (kavu_sort_int.h):
//   1. init_sort enters the terminals that take part (per gate kind: the
//      first output of single-output kinds, the two of a carry-sum gate,
//      every output of other kinds; or the caller's terminal vector);
//   2. a begin/end collection decides where walks stop (begin) and start
//      (end), by gate kind, clock domain, the caller's extra terminals and
//      the dangling outputs;
//   3. the ordering presets every begin terminal as visited, walks the fan-in
//      of every end terminal depth-first and appends each terminal after its
//      feeders (post-order), walks what no end terminal reached, and finally
//      puts the begin terminals no walk appended in front.
// Walks: the depth-first walk keeps frames (terminal, next feeder) on a heap
//   stack and produces exactly the post-order of the recursive form, also in
//   the "non-recursive" mode the key kavu_sort_use_non_recur selects (both
//   modes run this one walk). A feeder found in progress is skipped, which
//   cuts a combinational loop there. The pre-order walk (kavu_sort_dont_dfs)
//   marks terminals when pushed and is only approximately topological.
// Invariants: every terminal of the graph is appended exactly once; an end
//   terminal already appended is never walked again; only begin terminals
//   are reset before their own walk.
// Cost: O(V + E) with one feeder query per terminal; no recursion.
#include "kavu_sort.h"

#include <cstdlib>
#include <cstring>

#include "cfg/cfg.h"
#include "cmp/cmp.h"
#include "cut/cut.h"
#include "kavu_check.h"
#include "kavu_depends.h"
#include "kavu_msg.h"
#include "kavu_predicates.h"
#include "kavu_sort_int.h"

// ---------------------------------------------------------------------------
// GRAPH

namespace {
constexpr uint64_t k_hash_mult = 0x9E3779B97F4A7C15ull;

inline size_t hash_slot(const CDB_SGATE_OTERM* p, unsigned shift) {
  return size_t(((uint64_t(reinterpret_cast<uintptr_t>(p)) >> 3) * k_hash_mult) >> shift);
}
}  // namespace

int KAVU_SORT::GRAPH::index_of(const CDB_SGATE_OTERM* oterm) const {
  if (m_keys.empty()) return -1;
  const size_t mask = m_keys.size() - 1;
  for (size_t i = hash_slot(oterm, m_shift);; i = (i + 1) & mask) {
    if (m_keys[i] == oterm) return m_values[i];
    if (!m_keys[i]) return -1;
  }
}

void KAVU_SORT::GRAPH::grow_table() {
  size_t cap = 16;
  while (cap < 2 * (m_oterms.size() + 1)) cap *= 2;
  if (cap <= m_keys.size()) return;
  m_keys.assign(cap, nullptr);
  m_values.assign(cap, -1);
  m_shift = 64 - unsigned(__builtin_ctzll(cap));
  const size_t mask = cap - 1;
  for (int v = 0; v < int(m_oterms.size()); ++v) {
    size_t i = hash_slot(m_oterms[v], m_shift);
    while (m_keys[i]) i = (i + 1) & mask;
    m_keys[i] = m_oterms[v];
    m_values[i] = v;
  }
}

void KAVU_SORT::GRAPH::reserve(size_t n) {
  m_oterms.reserve(n);
  m_state.reserve(n);
  m_fin_first.reserve(n);
  m_fin_count.reserve(n);
  m_stamp.reserve(n);
  m_fin_edges.reserve(2 * n);
  size_t cap = 16;
  while (cap < 2 * (n + 1)) cap *= 2;
  if (cap > m_keys.size()) {
    m_keys.assign(cap, nullptr);
    m_values.assign(cap, -1);
    m_shift = 64 - unsigned(__builtin_ctzll(cap));
    const size_t mask = cap - 1;
    for (int v = 0; v < int(m_oterms.size()); ++v) {
      size_t i = hash_slot(m_oterms[v], m_shift);
      while (m_keys[i]) i = (i + 1) & mask;
      m_keys[i] = m_oterms[v];
      m_values[i] = v;
    }
  }
}

int KAVU_SORT::GRAPH::add(CDB_SGATE_OTERM* oterm) {
  const int known = index_of(oterm);
  if (known >= 0) return known;
  if (2 * (m_oterms.size() + 1) > m_keys.size()) grow_table();
  const int v = int(m_oterms.size());
  m_oterms.push_back(oterm);
  m_state.push_back(UNVISITED);
  m_fin_first.push_back(-1);
  m_fin_count.push_back(0);
  m_stamp.push_back(0);
  const size_t mask = m_keys.size() - 1;
  size_t i = hash_slot(oterm, m_shift);
  while (m_keys[i]) i = (i + 1) & mask;
  m_keys[i] = oterm;
  m_values[i] = v;
  return v;
}

uint32_t KAVU_SORT::GRAPH::next_stamp() {
  if (++m_stamp_value == 0) {  // wrapped: old stamps could collide
    std::fill(m_stamp.begin(), m_stamp.end(), 0u);
    m_stamp_value = 1;
  }
  return m_stamp_value;
}

void KAVU_SORT::GRAPH::fetch_feeders(int v, int& first, int& count) {
  if (m_fin_first[v] < 0) {
    kavu_get_oterm_feeders(m_oterms[v], m_query, m_lcell, m_sequential, m_skip_macs);
    const uint32_t stamp = next_stamp();
    const int start = int(m_fin_edges.size());
    for (CDB_SGATE_OTERM* f : m_query) {
      if (!f) continue;
      const int w = m_grow ? add(f) : index_of(f);
      if (w < 0 || m_stamp[w] == stamp) continue;  // outside the graph, or repeated
      m_stamp[w] = stamp;
      m_fin_edges.push_back(w);
    }
    m_fin_first[v] = start;
    m_fin_count[v] = int(m_fin_edges.size()) - start;
  }
  first = m_fin_first[v];
  count = m_fin_count[v];
}

void KAVU_SORT::GRAPH::build_fanouts() {
  int first = 0, count = 0;
  for (int v = 0; v < size(); ++v) fetch_feeders(v, first, count);  // size may grow
  const int n = size();
  m_fout_first.assign(size_t(n) + 1, 0);
  for (int v = 0; v < n; ++v) {
    for (int k = 0; k < m_fin_count[v]; ++k) ++m_fout_first[size_t(m_fin_edges[m_fin_first[v] + k]) + 1];
  }
  for (int v = 0; v < n; ++v) m_fout_first[v + 1] += m_fout_first[v];
  m_fout_edges.assign(size_t(m_fout_first[n]), 0);
  std::vector<int> pos(m_fout_first.begin(), m_fout_first.end() - 1);
  for (int v = 0; v < n; ++v) {
    for (int k = 0; k < m_fin_count[v]; ++k) m_fout_edges[pos[m_fin_edges[m_fin_first[v] + k]]++] = v;
  }
  // Arrange each successor list in fan-out order: chain order of the inputs
  // the terminal drives, then output slot order of each such gate.
  std::vector<int>& original = pos;
  for (int f = 0; f < n; ++f) {
    const int start = m_fout_first[f], cnt = fanout_count(f);
    if (cnt < 2) continue;
    const uint32_t stamp = next_stamp();
    original.assign(m_fout_edges.begin() + start, m_fout_edges.begin() + start + cnt);
    for (int w : original) m_stamp[w] = stamp;
    int out = start;
    const CDB_SGATE_NODE* previous = nullptr;
    for (CDB_SGATE_ITERM* iterm : m_oterms[f]->fanouts()) {
      const CDB_SGATE_NODE* node = iterm->get_my_node();
      if (node == previous) continue;
      previous = node;
      for (unsigned i = 0; i < node->get_output_count(); ++i) {
        const CDB_SGATE_OTERM* o = node->get_output_term(i);
        const int w = o ? index_of(o) : -1;
        if (w >= 0 && m_stamp[w] == stamp) {
          m_stamp[w] = 0;
          m_fout_edges[out++] = w;
        }
      }
      if (out == start + cnt) break;
    }
    for (int w : original) {  // a successor not reached through the chain
      if (m_stamp[w] == stamp) {
        m_stamp[w] = 0;
        m_fout_edges[out++] = w;
      }
    }
  }
}

void KAVU_SORT::GRAPH::final_order(std::vector<int>& order) const {
  order.clear();
  order.reserve(m_fronted.size() + m_appended.size());
  order.assign(m_fronted.rbegin(), m_fronted.rend());
  order.insert(order.end(), m_appended.begin(), m_appended.end());
}

// ---------------------------------------------------------------------------
// Services of the sequential timer that the ordering reads.

bool kavu_seq_timer_is_dff_fixed(const CDB_SGATE_NODE* sgate) {
  KAVU_CHECK(sgate != nullptr);
  return sgate->get_flag().test(0x1000);
}

bool kavu_seq_timer_is_register_ram_packed(const CDB_SGATE_NODE* sgate) {
  KAVU_CHECK(sgate != nullptr);
  return sgate->get_flag().test(0x10000);
}

bool kavu_seq_timer_is_register_mac_packed(const CDB_SGATE_NODE* sgate) {
  KAVU_CHECK(sgate != nullptr);
  return sgate->get_flag().test(0x20000);
}

std::string kavu_get_oterm_debug_name(const CDB_SGATE_OTERM* oterm) {
  KAVU_CHECK(oterm != nullptr);
  const CDB_SGATE_NODE* node = oterm->get_my_node();
  std::string name = node ? node->get_string_hpath() : std::string();
  name += "/";
  name += WYS_INFO::get_port_type_debug_string(oterm->get_port_type());
  return name;
}

// ---------------------------------------------------------------------------
// Construction

namespace {
// Device families the ordering accepts; 41 is accepted and clears the flag.
bool family_sets_flag(int code) {
  static const int k_codes[] = {5, 6, 8, 14, 15, 17, 25, 34, 35, 36, 45, 47, 50, 53, 57, 60, 61, 66};
  for (int c : k_codes) {
    if (c == code) return true;
  }
  return false;
}

bool is_pin_of(const CDB_SGATE_NODE* node, CDB_IO_TYPE type) {
  return kavu_is_a_pin(node) && static_cast<const CDB_SGATE_IO*>(node)->get_io_type() == type;
}

bool carries_timer_mark(const CDB_SGATE_NODE* node) {
  return kavu_seq_timer_is_dff_fixed(node) || kavu_seq_timer_is_register_ram_packed(node) ||
         kavu_seq_timer_is_register_mac_packed(node);
}

// The first output terminal of a gate whose kind must have one.
CDB_SGATE_OTERM* first_oterm(const CDB_SGATE_NODE* node) {
  CDB_SGATE_OTERM* oterm = node->get_output_term(0);
  if (!oterm) KAVU_INTERNAL_ERROR("oterm != 0");
  return oterm;
}

// Enters the terminal when needed and ORs the begin/end bits into its state.
int mark(KAVU_SORT::GRAPH& g, CDB_SGATE_OTERM* oterm, uint8_t bits) {
  const int v = g.add(oterm);
  g.m_state[v] |= bits;
  return v;
}

void push_begin(KAVU_SORT::GRAPH& g, int v, bool front) {
  if (front) g.m_begin.push_front(v);
  else g.m_begin.push_back(v);
}

void push_end(KAVU_SORT::GRAPH& g, int v, bool front) {
  if (front) g.m_end.push_front(v);
  else g.m_end.push_back(v);
}

// A register-like boundary: begin at the back, end at the front.
void add_register_boundary(KAVU_SORT::GRAPH& g, CDB_SGATE_OTERM* oterm) {
  const int v = mark(g, oterm, KAVU_SORT::GRAPH::MARK_BEGIN | KAVU_SORT::GRAPH::MARK_END);
  push_begin(g, v, false);
  push_end(g, v, true);
}

// An atom-like boundary: begin at the front, end at the back.
void add_atom_boundary(KAVU_SORT::GRAPH& g, CDB_SGATE_OTERM* oterm) {
  const int v = mark(g, oterm, KAVU_SORT::GRAPH::MARK_BEGIN | KAVU_SORT::GRAPH::MARK_END);
  push_begin(g, v, true);
  push_end(g, v, false);
}

void add_pin_boundary(KAVU_SORT::GRAPH& g, const CDB_SGATE_NODE* pin, CDB_SGATE_OTERM* oterm) {
  const CDB_IO_TYPE io = static_cast<const CDB_SGATE_IO*>(pin)->get_io_type();
  if (io == CDB_IO_INPUT) {
    push_begin(g, mark(g, oterm, KAVU_SORT::GRAPH::MARK_BEGIN), true);
  } else if (io == CDB_IO_OUTPUT) {
    push_end(g, mark(g, oterm, KAVU_SORT::GRAPH::MARK_END), false);
  } else {
    add_atom_boundary(g, oterm);
  }
}
}  // namespace

KAVU_SORT::KAVU_SORT(CMP_FACADE* facade, bool lcell_functionality, bool sequential, bool skip_wysiwyg_macs)
    : m_facade(facade),
      m_lcell_functionality(lcell_functionality),
      m_sequential(sequential),
      m_skip_wysiwyg_macs(skip_wysiwyg_macs) {
  const char* level = cfg_get_value("kavu_sort_debug");
  m_debug_level = (level && *level) ? int(std::strtol(level, nullptr, 10)) : 0;
  m_dont_dfs = cfg_is_on("kavu_sort_dont_dfs", false);
  if (facade) {
    const int family = int(facade->get_family());
    if (family_sets_flag(family)) m_family_flag = true;
    else if (family == 41) m_family_flag = false;
    else KAVU_INTERNAL_ERROR("Unsupported family");
  }
  if (lcell_functionality) kavu_debug("Sort-utility looks at lcell functionality");
  m_use_non_recur = sequential && cfg_is_on("kavu_sort_use_non_recur", true);
}

void KAVU_SORT::set_user_begin_end_oterms(OTERM_LIST* begin, OTERM_LIST* end) {
  m_user_begin_oterms = begin;
  m_user_end_oterms = end;
}

// ---------------------------------------------------------------------------
// Terminals that take part

void KAVU_SORT::init_sort(CDB_SGATE_NETLIST* netlist, GRAPH& g,
                          const std::vector<CDB_SGATE_OTERM*>* oterms) const {
  if (oterms) {
    g.reserve(oterms->size());
    for (CDB_SGATE_OTERM* oterm : *oterms) {
      if (!oterm) KAVU_INTERNAL_ERROR("oterm != NULL");
      g.add(oterm);
    }
    return;
  }
  KAVU_CHECK(netlist != nullptr);
  g.reserve(size_t(netlist->size()) + 16);
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* node = *it;
    if (!node) continue;
    switch (node->get_sgate_type()) {
      case CDB_SGATE_BUFFER_ENUM:
      case CDB_SGATE_COMB_ENUM:
      case CDB_SGATE_DFF_ENUM:
      case CDB_SGATE_IO_BUF_ENUM:
      case CDB_SGATE_LUT_ENUM:
      case CDB_SGATE_RAM_SLICE_ENUM:
      case CDB_SGATE_MUX_ENUM:
      case CDB_SGATE_TRI_BUS_ENUM:
      case CDB_SGATE_LATCH_ENUM:
      case CDB_SGATE_IO_ENUM:
        if (!node->is_wysiwyg()) {
          g.add(first_oterm(node));
          break;
        }
        [[fallthrough]];
      default: {
        const unsigned limit = (node->get_sgate_type() == CDB_SGATE_CARRY_SUM_ENUM && !node->is_wysiwyg())
                                   ? std::min(2u, node->get_output_count())
                                   : node->get_output_count();
        for (unsigned i = 0; i < limit; ++i) {
          if (CDB_SGATE_OTERM* oterm = node->get_output_term(i)) g.add(oterm);
        }
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Begin and end terminals

void KAVU_SORT::get_begin_end_oterm_of_wysiwyg(CDB_SGATE_WYSIWYG* wys, GRAPH& g) const {
  if (wys->is_lcell_comb()) return;
  for (unsigned i = 0; i < wys->get_output_count(); ++i) {
    if (CDB_SGATE_OTERM* oterm = wys->get_output_term(i)) add_atom_boundary(g, oterm);
  }
}

void KAVU_SORT::get_begin_end_oterms(CDB_SGATE_NETLIST* netlist, GRAPH& g, bool cut_buffers) const {
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* node = *it;
    if (!node) continue;
    if (node->is_wysiwyg()) {
      get_begin_end_oterm_of_wysiwyg(node->cast_to_wysiwyg(), g);
      continue;
    }
    switch (node->get_sgate_type()) {
      case CDB_SGATE_BUFFER_ENUM:
        if (cut_buffers && kavu_is_a_cut_buffer(node)) add_register_boundary(g, first_oterm(node));
        break;
      case CDB_SGATE_COMB_ENUM:
      case CDB_SGATE_IO_BUF_ENUM:
      case CDB_SGATE_LUT_ENUM:
      case CDB_SGATE_MUX_ENUM:
      case CDB_SGATE_CARRY_SUM_ENUM:
        break;
      case CDB_SGATE_DFF_ENUM:
      case CDB_SGATE_RAM_SLICE_ENUM:
      case CDB_SGATE_TRI_BUS_ENUM:
      case CDB_SGATE_LATCH_ENUM:
        add_register_boundary(g, first_oterm(node));
        break;
      case CDB_SGATE_IO_ENUM:
        add_pin_boundary(g, node, first_oterm(node));
        break;
      default:
        for (unsigned i = 0; i < node->get_output_count(); ++i) {
          if (CDB_SGATE_OTERM* oterm = node->get_output_term(i)) add_atom_boundary(g, oterm);
        }
    }
  }
  add_user_and_dangling_oterms(netlist, nullptr, g);
}

void KAVU_SORT::get_begin_end_oterm_of_wysiwyg_sequential(CDB_SGATE_WYSIWYG* wys, GRAPH& g) const {
  if (wys->is_lcell_comb()) return;
  for (unsigned i = 0; i < wys->get_output_count(); ++i) {
    CDB_SGATE_OTERM* oterm = wys->get_output_term(i);
    const int v = oterm ? g.index_of(oterm) : -1;
    // Terminals of other clock domains stay out; an atom met through several
    // of its terminals is entered once.
    if (v < 0 || (g.m_state[v] & (GRAPH::MARK_BEGIN | GRAPH::MARK_END)) == (GRAPH::MARK_BEGIN | GRAPH::MARK_END))
      continue;
    add_atom_boundary(g, oterm);
  }
}

void KAVU_SORT::get_begin_end_oterms_sequential(const std::vector<CDB_SGATE_OTERM*>* oterms, GRAPH& g,
                                                bool cut_buffers) const {
  if (!oterms) KAVU_INTERNAL_ERROR("p_oterm_vec != NULL");
  int num_ff = 0, num_dsp = 0, num_wys_dsp = 0, num_wys_ff = 0;
  for (CDB_SGATE_OTERM* oterm : *oterms) {
    CDB_SGATE_NODE* node = oterm->get_my_node();
    const CDB_SGATE_TYPE type = node->get_sgate_type();
    if (carries_timer_mark(node)) {
      add_register_boundary(g, oterm);
    } else if (type == CDB_SGATE_WYSIWYG_MAC_MULT_ENUM || type == CDB_SGATE_WYSIWYG_MAC_OUT_ENUM) {
      ++num_dsp;
    } else if (node->is_wysiwyg()) {
      CDB_SGATE_WYSIWYG* wys = node->cast_to_wysiwyg();
      if (wys->is_ff()) {
        ++num_wys_ff;
        continue;
      }
      if (wys->is_mac()) ++num_wys_dsp;
      if (wys->is_mac() && m_skip_wysiwyg_macs) continue;
      get_begin_end_oterm_of_wysiwyg_sequential(wys, g);
    } else if (type == CDB_SGATE_BUFFER_ENUM) {
      if (!cut_buffers || !kavu_is_a_cut_buffer(node)) continue;
      if (oterm != node->get_output_term(0)) KAVU_INTERNAL_ERROR("oterm == my_oterm");
      add_register_boundary(g, oterm);
    } else if (type == CDB_SGATE_COMB_ENUM || type == CDB_SGATE_IO_BUF_ENUM || type == CDB_SGATE_LUT_ENUM ||
               type == CDB_SGATE_MUX_ENUM || type == CDB_SGATE_CARRY_SUM_ENUM) {
      continue;
    } else if (type == CDB_SGATE_DFF_ENUM || type == CDB_SGATE_LATCH_ENUM) {
      ++num_ff;
    } else if (type == CDB_SGATE_RAM_SLICE_ENUM || type == CDB_SGATE_TRI_BUS_ENUM) {
      if (node->get_output_term(0) != oterm) KAVU_INTERNAL_ERROR("my_oterm == oterm");
      add_register_boundary(g, oterm);
    } else if (type == CDB_SGATE_IO_ENUM) {
      if (node->get_output_term(0) != oterm) KAVU_INTERNAL_ERROR("my_oterm == oterm");
      add_pin_boundary(g, node, oterm);
    } else {
      add_atom_boundary(g, oterm);
    }
  }
  if (m_debug_level != 0)
    kavu_debug("Total ff = %d, total dsp=%d, total wys_dsp=%d, total wys dff=%d", num_ff, num_dsp, num_wys_dsp,
               num_wys_ff);
  add_user_and_dangling_oterms(nullptr, oterms, g);
}

void KAVU_SORT::add_user_and_dangling_oterms(CDB_SGATE_NETLIST* netlist,
                                             const std::vector<CDB_SGATE_OTERM*>* oterms, GRAPH& g) const {
  if (m_user_begin_oterms) {
    for (CDB_SGATE_OTERM* oterm : *m_user_begin_oterms) {
      if (!oterm || kavu_is_a_pin(oterm->get_my_node())) continue;
      const int v = g.add(oterm);
      if (g.m_state[v] & GRAPH::MARK_BEGIN) continue;
      g.m_state[v] |= GRAPH::MARK_BEGIN;
      g.m_begin.push_back(v);
    }
  }
  if (m_user_end_oterms) {
    for (CDB_SGATE_OTERM* oterm : *m_user_end_oterms) {
      if (!oterm || kavu_is_a_pin(oterm->get_my_node())) continue;
      const int v = g.add(oterm);
      if (g.m_state[v] & GRAPH::MARK_END) continue;
      g.m_state[v] |= GRAPH::MARK_END;
      g.m_end.push_front(v);
    }
  }
  // Dangling outputs end a walk: nothing else would reach them.
  auto dangling = [&g](CDB_SGATE_OTERM* oterm) {
    if (!oterm || oterm->has_fanout() || kavu_is_a_pin(oterm->get_my_node())) return;
    const int v = g.add(oterm);
    if (!(g.m_state[v] & GRAPH::MARK_END)) g.m_end.push_back(v);
  };
  if (oterms) {
    for (CDB_SGATE_OTERM* oterm : *oterms) dangling(oterm);
  } else {
    for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
      if (!*it) continue;
      for (unsigned i = 0; i < (*it)->get_output_count(); ++i) dangling((*it)->get_output_term(i));
    }
  }
  g.reset_states();
}

// ---------------------------------------------------------------------------
// Ordering

void KAVU_SORT::dfs_oterm_fanin(int start, GRAPH& g) const {
  if (g.m_state[start] >= GRAPH::ACTIVE) return;
  g.m_state[start] = GRAPH::ACTIVE;
  g.m_stack.clear();
  GRAPH::FRAME root{start, 0, 0, 0};
  g.fetch_feeders(start, root.m_first, root.m_count);
  g.m_stack.push_back(root);
  while (!g.m_stack.empty()) {
    GRAPH::FRAME& top = g.m_stack.back();
    if (top.m_next < top.m_count) {
      const int w = g.m_fin_edges[top.m_first + top.m_next++];
      if (g.m_state[w] >= GRAPH::ACTIVE) continue;  // done, begin, or in progress (a loop)
      g.m_state[w] = GRAPH::ACTIVE;
      GRAPH::FRAME next{w, 0, 0, 0};
      g.fetch_feeders(w, next.m_first, next.m_count);
      g.m_stack.push_back(next);  // `top` may dangle from here on
      continue;
    }
    g.m_state[top.m_v] = GRAPH::DONE;
    g.m_appended.push_back(top.m_v);
    g.m_stack.pop_back();
  }
}

void KAVU_SORT::preorder_oterm_fanin(int start, GRAPH& g) const {
  g.m_state[start] = GRAPH::ACTIVE;
  g.m_stack.clear();
  g.m_stack.push_back(GRAPH::FRAME{start, 0, 0, 0});
  while (!g.m_stack.empty()) {
    const int top = g.m_stack.back().m_v;
    int first = 0, count = 0;
    g.fetch_feeders(top, first, count);
    bool pushed = false;
    for (int k = count - 1; k >= 0; --k) {
      const int w = g.m_fin_edges[first + k];
      if (g.m_state[w] != GRAPH::UNVISITED) continue;
      g.m_state[w] = GRAPH::ACTIVE;
      g.m_stack.push_back(GRAPH::FRAME{w, 0, 0, 0});
      pushed = true;
    }
    if (pushed) continue;
    g.m_state[top] = GRAPH::DONE;
    g.m_appended.push_back(top);
    g.m_stack.pop_back();
  }
}

void KAVU_SORT::place_begin_oterms(GRAPH& g) const {
  for (int v : g.m_begin) {
    const CDB_SGATE_NODE* node = g.oterm(v)->get_my_node();
    const uint8_t state = g.m_state[v];
    if (m_sequential) {
      if (state == GRAPH::DONE) continue;
      if (m_debug_level >= 1 && state != GRAPH::ACTIVE) KAVU_INTERNAL_ERROR("visit_map[oterm] == 1");
    } else if (is_pin_of(node, CDB_IO_INPUT)) {
      if (state != GRAPH::ACTIVE) {
        kavu_debug("WARNING: input oterm sorted too early");
        if (m_debug_level >= 1) KAVU_INTERNAL_ERROR("visit_map[oterm] == 1");
      }
      if (state == GRAPH::DONE) continue;  // already in the order: never twice
    } else {
      if (state != GRAPH::DONE) {
        kavu_debug(kavu_is_a_pin(node) ? "WARNING: output oterm not sorted" : "WARNING: non-io begin oterm not sorted");
        if (m_debug_level >= 1) KAVU_INTERNAL_ERROR("visit_map[oterm] == 2");
      }
      if (state == GRAPH::DONE) continue;
      // A begin terminal that no walk appended (an extra begin terminal that
      // is no end terminal) still belongs in the order: in front, as inputs.
    }
    g.m_state[v] = GRAPH::DONE;
    g.m_fronted.push_back(v);
  }
}

void KAVU_SORT::sort_oterms(GRAPH& g) const {
  g.reset_states();
  g.m_fronted.clear();
  g.m_appended.clear();
  for (int v : g.m_begin) g.m_state[v] = GRAPH::ACTIVE;
  for (int v : g.m_end) {
    if (g.m_state[v] == GRAPH::DONE) continue;  // appended by an earlier walk
    if (m_dont_dfs) {
      preorder_oterm_fanin(v, g);
    } else {
      if (g.m_state[v] == GRAPH::ACTIVE) g.m_state[v] = GRAPH::UNVISITED;  // a begin terminal's own walk
      dfs_oterm_fanin(v, g);
    }
  }
  int invisible = 0;
  for (int v = 0; v < g.size(); ++v) {  // the pre-order walk may enter more
    if (g.m_state[v] != GRAPH::UNVISITED) continue;
    kavu_debug("WARNING: Oterm %s %s is invisible!", g.oterm(v)->get_my_node()->get_string_type_name(),
               g.oterm(v)->get_string_hpath().c_str());
    ++invisible;
    if (m_dont_dfs) preorder_oterm_fanin(v, g);
    else dfs_oterm_fanin(v, g);
  }
  if (invisible > 0) kavu_debug("Found %d invisible oterms", invisible);
  place_begin_oterms(g);
  if (m_debug_level >= 1 && size_t(g.size()) != g.m_fronted.size() + g.m_appended.size())
    KAVU_INTERNAL_ERROR("visit_map.size() == sorted_oterms.size()");
}

void KAVU_SORT::sort_oterms(CDB_SGATE_NETLIST* netlist, OTERM_LIST& sorted, bool cut_buffers) {
  KAVU_CHECK(netlist != nullptr);
  GRAPH g(m_lcell_functionality, m_sequential, m_skip_wysiwyg_macs, m_dont_dfs);
  init_sort(netlist, g, nullptr);
  get_begin_end_oterms(netlist, g, cut_buffers);
  sort_oterms(g);
  for (int v : g.m_fronted) sorted.push_front(g.oterm(v));
  for (int v : g.m_appended) sorted.push_back(g.oterm(v));
  if (m_debug_level >= 1) {
    OTERM_LIST components;
    SCC_MAP scc_map;
    scc_oterms(netlist, components, scc_map, cut_buffers, nullptr, nullptr, nullptr);
    verify_sorted_oterms(g, scc_map);
  }
}

void KAVU_SORT::verify_sorted_oterms(GRAPH& g, SCC_MAP& scc_map) const {
  std::vector<int> order;
  g.final_order(order);
  kavu_debug("sort %d %d", g.size(), int(order.size()));
  if (size_t(g.size()) != order.size()) KAVU_INTERNAL_ERROR("visit_map.size() == sorted_oterms.size()");
  std::vector<int> number(size_t(g.size()), 0);
  for (int v = 0; v < g.size(); ++v) {
    auto it = scc_map.find(g.oterm(v));
    if (it != scc_map.end()) number[v] = it->second;
  }
  g.reset_states();
  for (int v : g.m_begin) g.m_state[v] = GRAPH::ACTIVE;
  for (int v : order) {
    if (g.m_state[v] == GRAPH::UNVISITED) {
      int first = 0, count = 0;
      g.fetch_feeders(v, first, count);
      for (int k = 0; k < count; ++k) {
        const int w = g.m_fin_edges[first + k];
        if (g.m_state[w] < GRAPH::ACTIVE && number[v] != number[w])
          KAVU_INTERNAL_ERROR("visit_map[src_oterms[i]] > 0 || scc_map[oterm] == scc_map[src_oterms[i]]");
      }
    }
    g.m_state[v] = GRAPH::DONE;
  }
}
