// kavu_cut.h — vertex cuts of fan-in cones: cone walks, minimum cuts and
// largest-volume cuts over a split-node flow network, and k-feasible cut
// enumeration.
//
// Cone: a walk from one or more heads (output terminals) backwards over the
//   driven inputs of their gates. It yields three lists: the sinks (the
//   heads), the sources (terminals where the walk stopped: depth reached, a
//   gate the pass-through rule refuses, or the stop terminal) and the oterm
//   list (every terminal once, breadth-first, heads first).
// Flow network: each terminal of the oterm list becomes an in-net and an
//   out-net joined by one internal edge whose capacity is the terminal's (1:
//   cuttable, max_capacity: uncuttable); drivers feed in-nets through edges
//   of infinite capacity; a super source feeds every source's in-net and
//   every sink's out-net feeds a super sink. A vertex cut is a set of
//   saturated internal edges. Maximum flow is Ford–Fulkerson with
//   depth-first augmenting paths; the cut returned is the minimum cut nearest
//   the sources, and every returned cut separates sources from sinks.
// Volume of a cut: the number of driven inputs of the gates the cut encloses
//   (walking back from the sinks without entering the cut).
// K-feasible cuts: sets of at most K leaves through which every path from
//   the cone's sources to the head passes, enumerated bottom-up over the
//   cone's topological order and kept irredundant (no cut contains another).
// The manager never changes the netlist; it reads gates, terminals and flag
//   bytes only. One manager serves one thread at a time.
// Cost: a walk is linear in the cone; a maximum flow of value F costs
//   O(F · E) on the network's E edges; enumeration is linear in the cone
//   times the pairs of fan-in cuts merged.
#pragma once

#include <list>
#include <map>
#include <span>
#include <vector>

#include "cdb/cdb_sgate.h"

class KAVU_WVNET;
struct CUT_WALK_FLAGS;
struct CUT_CONE;
struct CUT_SCRATCH;

class KAVU_WVNET_MANAGER {
 public:
  typedef std::list<CDB_SGATE_OTERM*> OTERM_LIST;
  typedef std::vector<CDB_SGATE_OTERM*> CUT;
  typedef std::vector<CUT> CUT_SET;

  // Capacity of an uncuttable terminal; also what a flow never reaches.
  // Small enough that sums of a few capacities stay within 32 bits.
  static const int max_capacity = 0x7ffffff;

  KAVU_WVNET_MANAGER()
      : m_graph_initialized(false), m_wvnet(nullptr), m_allow_through_quellin(false),
        m_wvnet_holds_graph(false), m_scratch(nullptr) {}
  ~KAVU_WVNET_MANAGER();
  KAVU_WVNET_MANAGER(const KAVU_WVNET_MANAGER&) = delete;
  KAVU_WVNET_MANAGER& operator=(const KAVU_WVNET_MANAGER&) = delete;

  // When set, logic-cell atoms of atom type 93 pass like those of type 61.
  void set_allow_through_quellin(bool allow) { m_allow_through_quellin = allow; }

  // ---- Cone walks ----
  // Bounded breadth-first walk from the heads (duplicates count once): a
  // terminal at level d (heads are level 1) is expanded when d < depth, it
  // is not `stop` and its gate passes; otherwise it is a source. The three
  // lists must be given and empty; `stop` may be null.
  // Pass-through: comb and mux gates with fewer than 20 inputs, or any with
  // through_wide_gates; LUTs that are not user or don't-touch LUTs (a
  // don't-unmap LUT only when it drives a head); logic-cell atoms without
  // don't-touch by the three lcell flags (moded: extended-LUT mode;
  // normal: a plain function; lcells: any); with through_operators the
  // arithmetic, compare, mux, select, decode and equality operators and
  // shifts by fewer than 32 bits.
  void get_cone(std::vector<CDB_SGATE_OTERM*>& heads, int depth, bool through_moded_lcells,
                bool through_lcells, bool through_normal_lcells, bool through_operators,
                bool through_wide_gates, OTERM_LIST* oterm_list, OTERM_LIST* sources,
                OTERM_LIST* sinks, CDB_SGATE_OTERM* stop);
  void get_cone(CDB_SGATE_OTERM* head, int depth, bool through_moded_lcells, bool through_lcells,
                bool through_normal_lcells, bool through_operators, bool through_wide_gates,
                OTERM_LIST* oterm_list, OTERM_LIST* sources, OTERM_LIST* sinks,
                CDB_SGATE_OTERM* stop);
  // Unbounded walk: lists only the terminals it passes through (a comb gate
  // with at most 20 inputs or any with through_wide_gates, every mux, LUTs
  // as above but a don't-unmap LUT only as the head, lcell atoms by the
  // three lcell flags); terminals in `excluded` stop it and are not listed.
  // through_operators has no effect here. `oterm_list` must be empty.
  void get_cone(CDB_SGATE_OTERM* head, bool through_moded_lcells, bool through_lcells,
                bool through_normal_lcells, bool through_operators, bool through_wide_gates,
                OTERM_LIST* oterm_list, std::vector<CDB_SGATE_OTERM*>* excluded);

  // ---- The manager's own graph ----
  // Collects the bounded cone of `head` (no normal-lcell pass-through, no
  // stop) into the manager's lists and builds its network with every
  // terminal cuttable except the sink. The unnamed integer is unused.
  void initialize_graph(CDB_SGATE_OTERM* head, int depth, int, bool through_moded_lcells,
                        bool through_lcells, bool through_operators, bool through_wide_gates);
  // Forgets the graph's lists; the network's storage is kept for reuse.
  void clear_graph();

  // ---- Minimum cuts ----
  // The minimum cut nearest the sources of the given cone. Capacities come
  // from `capacities` where it holds a terminal, else 1 (sinks included).
  // With `iterms`, the network's driver edges are exactly those inputs (each
  // input's gate must have one output). `cut` is emptied first and stays
  // empty when no finite cut separates the sources from the sinks.
  void kavu_get_mincut(const OTERM_LIST& oterms, const OTERM_LIST& sources, const OTERM_LIST& sinks,
                       OTERM_LIST* cut, std::map<CDB_SGATE_OTERM*, int>* capacities,
                       const std::vector<CDB_SGATE_ITERM*>* iterms);
  // A cut of at most K terminals whose volume is at least min_volume[size]
  // (entries 0..K). The sources themselves when there are at most K of them;
  // otherwise repeated minimum cuts, each one making the previous cut and
  // what it encloses uncuttable. Sinks are never cut.
  bool kavu_get_mincut_of_size(const OTERM_LIST& oterms, const OTERM_LIST& sources,
                               const OTERM_LIST& sinks, OTERM_LIST* cut, int K, int* volume,
                               const int* min_volume);
  // Per-size largest-volume search: (*cuts)[s] and (*volumes)[s] receive the
  // best cut of exactly s terminals found and its volume, for s = 0..M; both
  // vectors are replaced by M + 1 empty entries first. K (at most M) bounds
  // when the sources themselves are taken. The search starts from the
  // minimum cut and expands it by making one of its terminals uncuttable at
  // a time, moving to the best expansion while the volume grows; the cone's
  // sources are never made uncuttable. With on_built_network the manager's
  // graph (initialize_graph) is searched.
  bool kavu_get_largest_volume_mincut_of_size(const OTERM_LIST& oterms, const OTERM_LIST& sources,
                                              const OTERM_LIST& sinks, int K, int M,
                                              std::vector<OTERM_LIST>* cuts,
                                              std::vector<int>* volumes, bool on_built_network);
  // The same over the bounded cone of one head or of several heads.
  bool kavu_get_largest_volume_mincut_of_size(CDB_SGATE_OTERM* head, int depth, int K, int M,
                                              std::vector<OTERM_LIST>* cuts,
                                              std::vector<int>* volumes, bool through_moded_lcells,
                                              bool through_lcells, bool through_normal_lcells,
                                              bool through_operators, bool through_wide_gates);
  bool kavu_get_largest_volume_mincut_of_size(std::vector<CDB_SGATE_OTERM*>& heads, int depth,
                                              int K, int M, std::vector<OTERM_LIST>* cuts,
                                              std::vector<int>* volumes, bool through_moded_lcells,
                                              bool through_lcells, bool through_normal_lcells,
                                              bool through_operators, bool through_wide_gates);
  // Single-result search over the bounded cone of `head` (no normal-lcell
  // pass-through): one cut of at most K terminals and its volume, grown
  // greedily from the minimum cut as above.
  bool kavu_get_largest_volume_mincut_of_size(CDB_SGATE_OTERM* head, int depth, int K,
                                              OTERM_LIST* cut, int* volume,
                                              bool through_moded_lcells, bool through_lcells,
                                              bool through_operators, bool through_wide_gates);
  // The single-result search on the manager's graph; initialize_graph must
  // have run (and no clear_graph since).
  bool kavu_get_largest_volume_mincut_of_size_for_graph(int K, OTERM_LIST* cut, int* volume);

  // ---- K-feasible cuts ----
  // All irredundant cuts of at most max_cut_size leaves of `head` within the
  // given cone depth (comb, mux and LUT pass-through, wide gates included),
  // except the trivial cut {head}. Leaves are sorted fan-ins first. With a
  // mandatory terminal the walk stops there; a cut lacking it gets it
  // appended when there is room, else is dropped. False when no cut is
  // returned, also when the cone holds a combinational loop.
  bool get_all_cuts(CDB_SGATE_OTERM* head, unsigned depth, unsigned max_cut_size,
                    CDB_SGATE_OTERM* mandatory, CUT_SET* cuts);
  // The cuts of get_all_cuts (normal logic cells also pass) whose cones are
  // fan-out free: no terminal strictly inside feeds a gate outside. Appends
  // to cone_sizes the number of terminals each accepted cone holds.
  bool get_all_ff_cuts(CDB_SGATE_OTERM* head, unsigned depth, unsigned max_cut_size,
                       CUT_SET* cuts, std::vector<int>* cone_sizes);
  // ---- Cut passes ----
  // Between begin_cut_pass and end_cut_pass, get_all_cuts on a terminal of
  // `netlist` with this max_cut_size (at most 16), no mandatory terminal
  // and the debug key off answers from cut sets enumerated once for the
  // whole netlist: the same cuts, leaves and order as without the pass, for
  // any depth (a head whose logic depth reaches the walk depth is still
  // enumerated on its own). Other calls enumerate as usual, and so does
  // every call when the netlist has more than 2^25 cuts (no pass is kept).
  // The netlist must not change while the pass is active. end_cut_pass, a
  // new begin_cut_pass or the manager's end frees the sets.
  void begin_cut_pass(CDB_SGATE_NETLIST* netlist, unsigned max_cut_size);
  void end_cut_pass();
  // The number of cuts (trivial ones included) the active pass keeps; 0
  // without a pass.
  size_t cut_pass_size() const;

  // One large fan-out-free cone of `head` with at most max_cut_size leaves,
  // grown breadth-first to max_depth and shrunk in passes; the leaves go to
  // `sources`, the cone's terminals to `members` (both must be empty).
  bool big_fanout_free_cut(CDB_SGATE_OTERM* head, int max_depth, unsigned max_cut_size,
                           std::vector<CDB_SGATE_OTERM*>* sources,
                           std::vector<CDB_SGATE_OTERM*>* members);

 private:
  // The bounded walk into the scratch cone, and the unbounded walk into
  // `members` (terminals in `excluded` stop it).
  void bounded_walk(std::span<CDB_SGATE_OTERM* const> heads, int depth, const CUT_WALK_FLAGS& flags,
                    CDB_SGATE_OTERM* stop, CUT_CONE& cone);
  void unbounded_walk(CDB_SGATE_OTERM* head, const CUT_WALK_FLAGS& flags,
                      std::span<CDB_SGATE_OTERM* const> excluded, std::vector<CDB_SGATE_OTERM*>& members);
  // The cone of get_all_cuts and get_all_ff_cuts, in order, with the cuts of
  // every terminal enumerated; false when the cone holds a combinational
  // loop.
  bool enumerate_head_cuts(CDB_SGATE_OTERM* head, unsigned depth, unsigned max_cut_size,
                           bool through_normal_lcells, CDB_SGATE_OTERM* stop);
  // The network object, created on first use; `for_graph` rebuilds the
  // graph's network from the graph's cone when a search on given lists
  // replaced it.
  KAVU_WVNET* network_for_lists();
  KAVU_WVNET* network_for_graph(const CUT_CONE& graph_cone);
  // The scratch of every call, created on first use.
  CUT_SCRATCH& scratch();
  bool largest_volume_single(const CUT_CONE& cone, int K, OTERM_LIST* cut, int* volume, bool on_built_network);
  bool largest_volume_per_size(const CUT_CONE& cone, int K, int M, std::vector<OTERM_LIST>* cuts,
                               std::vector<int>* volumes, bool on_built_network);

  OTERM_LIST m_sources;
  OTERM_LIST m_sinks;
  OTERM_LIST m_oterm_list;
  bool m_graph_initialized;
  KAVU_WVNET* m_wvnet;
  bool m_allow_through_quellin;
  // Whether m_wvnet currently holds the network of the three lists above; a
  // search on given lists rebuilds m_wvnet and clears this, so a later
  // search on the graph rebuilds it from the lists first.
  bool m_wvnet_holds_graph;
  CUT_SCRATCH* m_scratch;
};
