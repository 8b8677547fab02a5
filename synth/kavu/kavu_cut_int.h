// kavu_cut_int.h — internals shared by the cut area's sources: the
// split-node flow network, the walk flags and the driven-input rule.
//
// Network layout: for an oterm list of n terminals, terminal i has the
//   out-net 2i and the in-net 2i + 1; net 2n is the source, 2n + 1 the sink.
//   Edges live in flat arrays (tail, head, capacity, flow); edge i < n is the
//   internal edge of terminal i. Each net lists its incoming edges in the
//   order they were added and its outgoing edges by head net, so a
//   depth-first search visits neighbours in a fixed order.
// Residual rule: a forward edge is usable while its capacity is infinite
//   (max_capacity) or above its flow; the backward edge while the flow is
//   positive. An infinite edge never saturates.
// Invariant: between operations no search state is pending; visit marks are
//   stamps, so nothing has to be cleared.
// Cost: a build is linear in the oterm list and its gates' inputs and keeps
//   every array's storage for the next build; an augmenting-path search and a
//   cut extraction are linear in the edges.
#pragma once

#include <cstdint>
#include <span>
#include <unordered_map>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "kavu_cut.h"

// The driver of a driven input: connected (directly or through its parent)
// and fed by an output terminal; null otherwise.
inline CDB_SGATE_OTERM* cut_driver_of(const CDB_SGATE_ITERM* iterm) {
  if (!iterm || !cdb_is_connected(iterm)) return nullptr;
  return iterm->get_source();
}

// The pass-through switches of a cone walk.
struct CUT_WALK_FLAGS {
  bool m_moded_lcells = false;
  bool m_lcells = false;
  bool m_normal_lcells = false;
  bool m_operators = false;
  bool m_wide_gates = false;
  bool m_quellin = false;  // atom type 93 counts as a logic cell
};

// Whether the bounded walk expands a terminal of `gate` (heads: the walk's
// heads, used by the don't-unmap LUT rule).
bool cut_bounded_walk_passes(const CDB_SGATE_NODE* gate, std::span<CDB_SGATE_OTERM* const> heads,
                             const CUT_WALK_FLAGS& flags);

class KAVU_WVNET {
 public:
  static constexpr int INF = KAVU_WVNET_MANAGER::max_capacity;

  // Builds the network over `oterms` (no terminal twice), `sources` and
  // `sinks` (each in `oterms`, no source twice). Without `iterms` every
  // driven input of a non-source terminal's gate whose driver is in the list
  // gives a driver edge; with it, exactly the listed inputs do. Every
  // capacity starts at 1.
  void build_network(std::span<CDB_SGATE_OTERM* const> oterms,
                     std::span<CDB_SGATE_OTERM* const> sources,
                     std::span<CDB_SGATE_OTERM* const> sinks,
                     const std::vector<CDB_SGATE_ITERM*>* iterms);
  void reset_network();

  int num_oterms() const { return int(m_oterms.size()); }
  int num_nets() const { return m_num_nets; }
  CDB_SGATE_OTERM* oterm_at(int i) const { return m_oterms[i]; }
  // Position of a terminal in the oterm list, or -1.
  int index_of(const CDB_SGATE_OTERM* oterm) const;
  int capacity(int i) const { return m_capacity[i]; }
  void set_capacity(int i, int cap) { m_capacity[i] = cap; }
  void set_all_capacities(int cap);
  // Sets the capacity of a terminal of the network; others are ignored.
  void set_capacity_of(const CDB_SGATE_OTERM* oterm, int cap);

  // Fresh flows from the current capacities, then augmenting paths until
  // none is left or `limit` units flow; returns the flow.
  int max_flow(int limit);
  // After max_flow: the minimum cut nearest the sources, in oterm-list
  // order. False when the sink is still reachable (no finite cut below the
  // flow limit) or the cut is empty.
  bool extract_cut(std::vector<CDB_SGATE_OTERM*>* cut);

 private:
  int add_edge(int tail, int head);
  void finish_adjacency();
  void init_flows();
  void start_walk_from_source();
  bool find_augmenting_path();
  int augment(int limit);
  bool residual_usable(int edge, bool forward) const;
  int residual(int edge, bool forward) const;
  // Marks every net reachable from the source over usable edges.
  void mark_reachable();

  std::vector<CDB_SGATE_OTERM*> m_oterms;
  std::unordered_map<const CDB_SGATE_OTERM*, int> m_index;
  std::vector<int> m_capacity;  // per terminal
  int m_num_nets = 0;
  int m_source = -1;
  int m_sink = -1;

  std::vector<int> m_edge_tail, m_edge_head, m_edge_cap, m_edge_flow;
  // Adjacency in compressed rows: nets' incoming and outgoing edge ids.
  std::vector<int> m_in_begin, m_in_edges, m_out_begin, m_out_edges;

  // Search state per net: visit stamp, the edge that reached it and whether
  // it was used forward.
  std::vector<uint32_t> m_visit;
  uint32_t m_stamp = 0;
  std::vector<int> m_parent_edge;
  std::vector<uint8_t> m_parent_forward;
  struct FRAME {
    int m_net;
    int m_next;
  };
  std::vector<FRAME> m_stack;
};
