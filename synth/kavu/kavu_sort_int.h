// kavu_sort_int.h — the per-call terminal graph of KAVU_SORT, shared by
// kavu_sort.cpp (ordering), kavu_sort_scc.cpp (components, cones, paths).
//
// Model: the terminals taking part in one call get dense numbers 0..n-1 in
//   the order they are entered (node-list order, or the caller's vector).
//   Per number the graph keeps the terminal, one visit state byte, and its
//   feeder list, fetched from kavu_get_oterm_feeders on first use and kept in
//   one arena (feeders outside the graph are dropped, or entered when the
//   graph grows on demand, as the pre-order walk needs). build_fanouts()
//   transposes the feeder relation into successor lists, each arranged in
//   the terminal's fan-out order (chain order, then output slot order), so
//   the fan-out walks follow exactly the edges the fan-in walks follow.
// The state byte plays the part of the ordered visit map of the original
//   design: 0 unvisited, 1 begin terminal or in progress, 2 done, and during
//   begin/end collection bit 0 = begin, bit 1 = end.
// Cost: add and index_of O(1) expected (open addressing on the address;
//   never iterated, so addresses never order anything); feeders O(fan-in)
//   once per terminal; build_fanouts O(V + E).
#pragma once

#include <cstdint>
#include <algorithm>
#include <deque>
#include <vector>

#include "kavu_sort.h"

struct KAVU_SORT::GRAPH {
  enum : uint8_t { UNVISITED = 0, ACTIVE = 1, DONE = 2 };
  enum : uint8_t { MARK_BEGIN = 1, MARK_END = 2 };

  // One depth-first frame: terminal, next feeder or successor position.
  struct FRAME {
    int m_v;
    int m_next;
    int m_first;
    int m_count;
  };

  GRAPH(bool lcell, bool sequential, bool skip_macs, bool grow)
      : m_lcell(lcell), m_sequential(sequential), m_skip_macs(skip_macs), m_grow(grow) {}

  int size() const { return int(m_oterms.size()); }
  CDB_SGATE_OTERM* oterm(int v) const { return m_oterms[v]; }
  // Dense number of a terminal, -1 when it takes no part.
  int index_of(const CDB_SGATE_OTERM* oterm) const;
  // Enters a terminal (once); returns its number.
  int add(CDB_SGATE_OTERM* oterm);
  void reserve(size_t n);

  // Feeder list of v in the arena: [first, first + count) of m_fin_edges.
  // The arena may grow while a walk holds positions, never spans.
  void fetch_feeders(int v, int& first, int& count);
  // Successor lists of every terminal (fetches every feeder list first).
  void build_fanouts();
  int fanout_first(int v) const { return m_fout_first[v]; }
  int fanout_count(int v) const { return m_fout_first[v + 1] - m_fout_first[v]; }

  void reset_states() { std::fill(m_state.begin(), m_state.end(), uint8_t(UNVISITED)); }
  // The order a sort produced, as one sequence (m_fronted reversed, then
  // m_appended).
  void final_order(std::vector<int>& order) const;
  // A fresh non-zero stamp for m_stamp (sized to the graph).
  uint32_t next_stamp();

  std::vector<CDB_SGATE_OTERM*> m_oterms;
  std::vector<uint8_t> m_state;
  std::vector<int> m_fin_first;  // -1 until fetched
  std::vector<int> m_fin_count;
  std::vector<int> m_fin_edges;
  std::vector<int> m_fout_first;  // n + 1 entries after build_fanouts
  std::vector<int> m_fout_edges;

  // Begin and end terminals of the run (dense numbers) in list order.
  std::deque<int> m_begin;
  std::deque<int> m_end;
  // The order a sort produced: m_fronted were put before everything (in the
  // order they were put there, so the list starts with the last of them),
  // m_appended were appended in order.
  std::vector<int> m_fronted;
  std::vector<int> m_appended;

  // Scratch reused by every walk of the call.
  std::vector<FRAME> m_stack;
  std::vector<CDB_SGATE_OTERM*> m_query;
  std::vector<uint32_t> m_stamp;
  uint32_t m_stamp_value = 0;

 private:
  void grow_table();

  bool m_lcell;
  bool m_sequential;
  bool m_skip_macs;
  bool m_grow;
  // Open-addressing table terminal -> number + 1 (0 = empty slot).
  std::vector<const CDB_SGATE_OTERM*> m_keys;
  std::vector<int> m_values;
  unsigned m_shift = 64;
};
