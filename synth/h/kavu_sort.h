// kavu_sort.h — netlist ordering: topological order of output terminals,
// strongly connected components, cones and paths, wide-gate decomposition by
// depth, a seeded reordering of the node list, and the random-simulation
// check of netlist transformations (kavu_sort_simcheck.cpp).
//
// Graph: the vertices are output terminals; the feeders of a terminal are the
//   terminals kavu_get_oterm_feeders reports for it, called with the object's
//   flags (lcell functionality, sequential, skip WYSIWYG MACs). Successors
//   (the fan-out direction) are the exact transpose of that relation, so the
//   two directions never disagree about an edge.
// Boundaries: an ordering starts from end terminals (output pins, register
//   and atom outputs, dangling outputs, the caller's extra end terminals) and
//   stops at begin terminals (input pins, register and atom outputs, the
//   caller's extra begin terminals). Only the terminals collected at the start
//   of a call take part (the whole netlist, or one clock domain in sequential
//   mode).
// Order: "fan-in first": every terminal comes after its feeders, except where
//   a combinational loop is cut or a begin terminal stops the walk. The
//   default walk is the depth-first post-order of the recursive form; in
//   sequential mode kavu_sort_use_non_recur (default on) selects the stack
//   walk, which pushes all feeders of a terminal at once and so lists
//   feeders in another (still fan-in-first) order. Every walk runs on an
//   explicit stack, so deep netlists never exhaust the call stack. Results
//   follow the node list, feeder order and fan-out order; they never depend
//   on addresses. Outside sequential mode, a begin terminal that is no input
//   pin and that no walk appended (an extra begin terminal that is no end
//   terminal) is left out of the order.
// Components: Kosaraju's two passes over the same graph; components are
//   numbered from 1 along the topological order.
// State: the object keeps its flags and the two caller-owned boundary lists;
//   every call builds its own per-terminal state and drops it before return
//   (the arrays' capacity stays with the calling thread for graphs up to
//   2^16 terminals, so that repeated small calls do not allocate).
// Cost: O(V + E) per call plus one feeder query per terminal; the public
//   list and map results add O(V log V) to fill std::map.
//
// Simulation check: before a transformation sim_verify(netlist, n) with
//   n > 0 simulates n random input vectors and writes inputs and responses
//   to the simulation vector file; after it, sim_verify with n <= 0 reads
//   the file back, simulates the stored inputs on the changed netlist and
//   reports the internal error "sim_verify error" when any response differs.
// Model: a two-valued simulation of the combinational logic. The free inputs
//   ("begin terminals") are the output terminals with fan-out of every gate
//   that is not a buffer, comb gate, LUT, 2:1 mux or carry-sum cell (pins,
//   registers, atoms, operators, ...); the responses ("end terminals") are
//   the connected input terminals of those same gates. Comb gates evaluate
//   by the library's one comb rule (kavu_comb_eval_int.h). Gates inside
//   loops are swept until their values settle. Values live in each output
//   terminal's simulation field, which is left set.
// Order: begin terminals sort by kavu_sort_oterm_name (the gate's instance
//   path, with "_<position>" added for gates with several outputs), end
//   terminals by kavu_sort_iterm_name ("<instance path>_<input position>");
//   equal names are ordered by the gate's debug number and then by
//   position, so every terminal has one place in the file and the order
//   does not depend on the node list.
// File (binary, every integer 4 bytes, least significant byte first):
//   vector count N, begin count B, end count E, then N records of
//   ceil(B/32) begin words and ceil(E/32) end words; bit j of word w holds
//   terminal 32w + j; unused bits are 0; nothing follows the last record.
//   Its path is <working directory>/<name>.svf, the name being the
//   facade's revision name, else its project name, else "kavu_sim".
// Failures: a file that cannot be opened, written or read whole, a header
//   whose record area disagrees with the file size, and bytes after the
//   last record are internal errors naming the file's fault; a count
//   mismatch or a differing response writes the dump files
//   "chk_begin.tx0" and "chk_end.tx0" (type and name of each terminal) and
//   is the internal error "sim_verify error".
// Configuration: kavu_sort_debug (above 0: dump files after every check),
//   sim_verify_debug (on: the same).
// Cost: one O(terminals) sweep per vector (loops re-swept until stable),
//   plus an SCC ordering of the netlist per call; a cone table costs one
//   sweep of the cone per minterm.
#pragma once

#include <list>
#include <map>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "kavu_seq_timer.h"

class CMP_FACADE;
class KAVU_01TBL;
struct KAVU_SORT_COMPONENTS;

// Rearranges the netlist's node list by a shuffle fixed by the seed; gates,
// terminals and connections are unchanged. Deterministic for a seed.
void kavu_sort_netlist_random(CDB_SGATE_NETLIST* netlist, int seed);

class KAVU_SORT {
 public:
  typedef std::list<CDB_SGATE_OTERM*> OTERM_LIST;
  typedef std::map<CDB_SGATE_OTERM*, int> VISIT_MAP;
  typedef std::map<CDB_SGATE_OTERM*, int> SCC_MAP;
  // The per-call terminal graph (defined in kavu_sort.cpp); opaque to callers.
  struct GRAPH;

  // Reads kavu_sort_debug, kavu_sort_dont_dfs and (sequential mode only)
  // kavu_sort_use_non_recur. With a facade its device family must be one the
  // library knows ("Unsupported family").
  KAVU_SORT(CMP_FACADE* facade, bool lcell_functionality, bool sequential, bool skip_wysiwyg_macs);
  KAVU_SORT(const KAVU_SORT&) = default;
  KAVU_SORT(KAVU_SORT&&) = default;
  // Member-wise; the two boundary-list pointers are copied, not the lists.
  KAVU_SORT& operator=(const KAVU_SORT&) = default;
  KAVU_SORT& operator=(KAVU_SORT&&) = default;

  // Extra begin and end terminals (either may be null) added by every later
  // collection; they stay the caller's and must outlive their use. Terminals
  // of I/O cells in them are ignored.
  void set_user_begin_end_oterms(OTERM_LIST* begin, OTERM_LIST* end);
  // Accepted for callers; no effect.
  void set_dmig_method(bool) {}

  // Appends the netlist's output terminals to `sorted` in topological order
  // (the list is not cleared; the input-pin terminals go before its earlier
  // contents). With cut_buffers, cut buffers are begin and end terminals.
  void sort_oterms(CDB_SGATE_NETLIST* netlist, OTERM_LIST& sorted, bool cut_buffers);

  // Appends the strongly connected components to scc_list (each component
  // contiguous, components in ascending number) and replaces scc_map with
  // terminal -> component number (1 = nearest the inputs). begin and end,
  // when given, receive the run's begin and end terminals. In sequential mode
  // the clock domain is required and only its terminals take part; register
  // loops through data, enable, synchronous load and clear form components.
  void scc_oterms(CDB_SGATE_NETLIST* netlist, OTERM_LIST& scc_list, SCC_MAP& scc_map, bool cut_buffers,
                  OTERM_LIST* begin, OTERM_LIST* end, KAVU_SEQ_TIMER_CLK_DOMAIN* domain);
  // The terminals outside the component [first, last) of scc_list that feed
  // it, each once, in order of discovery (appended to `inputs`).
  void get_scc_inputs(OTERM_LIST& scc_list, OTERM_LIST::iterator& first, OTERM_LIST::iterator& last,
                      SCC_MAP& scc_map, OTERM_LIST& inputs);
  // The terminals of the component [first, last) that feed a terminal outside
  // it (appended to `outputs`).
  void get_scc_outputs(OTERM_LIST& scc_list, OTERM_LIST::iterator& first, OTERM_LIST::iterator& last,
                       SCC_MAP& scc_map, OTERM_LIST& outputs);
  // Debug report of every component with more than one terminal.
  void report_scc_inout(OTERM_LIST& scc_list, SCC_MAP& scc_map);

  // Only keys of visit_map take part; its values are overwritten. The fan-in
  // cone of the sinks, fan-in first, each reached terminal once (appended);
  // the fan-out cone of the sources in topological order along the fan-out,
  // sources first (put in front of `cone`).
  void fanin_cone_oterms(OTERM_LIST& sinks, VISIT_MAP& visit_map, OTERM_LIST& cone);
  void fanout_cone_oterms(OTERM_LIST& sources, VISIT_MAP& visit_map, OTERM_LIST& cone);
  // Appends the terminals that lie both in the fan-in cone of `to` and in the
  // fan-out cone of `from`, in fan-in-first order.
  void path_oterms(CDB_SGATE_NETLIST* netlist, OTERM_LIST& from, OTERM_LIST& to, OTERM_LIST& path);
  // One debug line naming the terminal and its gate's type.
  void oterm_info(CDB_SGATE_OTERM* oterm);

  // Rebuilds every AND, OR and XOR gate with more than k inputs as a k-ary
  // tree of gates of its type, shallowest inputs combined first, so that the
  // deepest inputs stay on the original gate. Leaves each output terminal's
  // aux value at its combinational level and returns the netlist's depth.
  // k below 2 is an internal error ("k >= 2"); so is a comb gate with an
  // unconnected or constant input (checked before any change). Other comb
  // types are levelled but never split.
  int dmig(CDB_SGATE_NETLIST* netlist, int k, bool verbose);
  // The same depth measure without changing the netlist (aux values set).
  int comb_depth(CDB_SGATE_NETLIST* netlist);

  // --- simulation (kavu_sort_simcheck.cpp)
  // n > 0: writes the simulation vector file with n random vectors;
  // otherwise checks the netlist against the file (see the file comment).
  // The ordering runs combinationally whatever the object's mode.
  void sim_verify(CDB_SGATE_NETLIST* netlist, int n);
  // A new table (the caller deletes it) of root over the leaves, leaf i
  // being variable i, by simulating every minterm. sorted_cone lists the
  // cone's terminals feeders first, leaves excluded, and is empty or ends
  // with root ("sorted_cone_oterms.size()==0 || oterm==sorted_cone_oterms.back()").
  // The second form lists the cone with kavu_dfs_cone. A gate in the cone
  // that is no buffer, comb, output pin, LUT, mux or carry-sum is the
  // internal error "unsupported sgate type".
  KAVU_01TBL* sim_comb_cone(CDB_SGATE_OTERM* root, std::vector<CDB_SGATE_OTERM*>& sorted_cone,
                            std::vector<CDB_SGATE_OTERM*>& leaves);
  KAVU_01TBL* sim_comb_cone(CDB_SGATE_OTERM* root, std::vector<CDB_SGATE_OTERM*>& leaves);
  // Appends the begin terminals, respectively the end terminals, in
  // node-list order (unsorted).
  void get_begin_oterms(CDB_SGATE_NETLIST* netlist, std::vector<CDB_SGATE_OTERM*>& begins);
  void get_end_iterms(CDB_SGATE_NETLIST* netlist, std::vector<CDB_SGATE_ITERM*>& ends);
  // Fills nodes with the netlist's gates inputs first (INPUTS_FIRST) or
  // outputs first (OUTPUTS_FIRST); relinks the node list inputs first.
  void get_topological_order(CDB_SGATE_NETLIST* netlist, std::vector<CDB_SGATE_NODE*>& nodes,
                             CDB_SGATE_NETLIST::CDB_RANK_ORDER_ENUM rank_order);

 private:
  friend void kavu_sort_scc_components(KAVU_SORT& sort, CDB_SGATE_NETLIST* netlist, bool cut_buffers,
                                       KAVU_SEQ_TIMER_CLK_DOMAIN* domain, KAVU_SORT_COMPONENTS& out);

  // --- ordering
  // The components of scc_oterms' arguments, left in the graph.
  void scc_graph(CDB_SGATE_NETLIST* netlist, bool cut_buffers, KAVU_SEQ_TIMER_CLK_DOMAIN* domain, GRAPH& g);
  void init_sort(CDB_SGATE_NETLIST* netlist, GRAPH& g, const std::vector<CDB_SGATE_OTERM*>* oterms) const;
  void get_begin_end_oterms(CDB_SGATE_NETLIST* netlist, GRAPH& g, bool cut_buffers) const;
  void get_begin_end_oterms_sequential(const std::vector<CDB_SGATE_OTERM*>* oterms, GRAPH& g,
                                       bool cut_buffers) const;
  void get_begin_end_oterm_of_wysiwyg_sequential(CDB_SGATE_WYSIWYG* wys, GRAPH& g) const;
  // init_sort and get_begin_end_oterms over the whole netlist in one walk.
  void collect_netlist(CDB_SGATE_NETLIST* netlist, GRAPH& g, bool cut_buffers) const;
  void add_user_oterms(GRAPH& g) const;
  void add_dangling_oterms(GRAPH& g, const std::vector<CDB_SGATE_OTERM*>& dangling) const;
  void sort_oterms(GRAPH& g) const;
  void fetch_walked_feeders(GRAPH& g) const;
  // The walk step 3 of a sort uses: pre-order, stack or recursive form.
  void walk_fanin(int start, GRAPH& g) const;
  void dfs_oterm_fanin(int start, GRAPH& g) const;
  void dfs_oterm_fanin_loop(int start, GRAPH& g) const;
  void preorder_oterm_fanin(int start, GRAPH& g) const;
  void place_begin_oterms(GRAPH& g) const;
  void verify_sorted_oterms(GRAPH& g, const std::vector<int>& scc_number) const;

  // --- components, cones, paths
  void dfs_oterm_fanout(int start, GRAPH& g, std::vector<int>& finished) const;
  void dfs_oterm_fanout_loop(int start, GRAPH& g, std::vector<int>& finished) const;
  int assign_components(GRAPH& g, std::vector<int>& scc_order, std::vector<int>& scc_number,
                        std::vector<int>& histogram) const;
  void dump_begin_end_oterms(GRAPH& g) const;
  void report_scc_statistics(const std::vector<int>& histogram) const;
  void verify_scc_oterms(GRAPH& g, const std::vector<int>& scc_order, const std::vector<int>& scc_number) const;
  bool oterm_feeds_oterm(CDB_SGATE_OTERM* src, CDB_SGATE_OTERM* sink, std::vector<CDB_SGATE_OTERM*>& buf) const;

  // --- decomposition
  int dmig_sgate(CDB_SGATE_NETLIST* netlist, CDB_SGATE_COMB* comb, unsigned int k);
  CDB_SGATE_COMB* decompose_comb_sgate(CDB_SGATE_NETLIST* netlist, CDB_SGATE_COMB* comb,
                                       std::list<CDB_SGATE_ITERM*>& iterms);
  void make_iterm_heap(std::vector<CDB_SGATE_ITERM*>& heap);
  void push_iterm_into_heap(std::vector<CDB_SGATE_ITERM*>& heap, CDB_SGATE_ITERM* iterm);
  CDB_SGATE_ITERM* pop_iterm_from_heap(std::vector<CDB_SGATE_ITERM*>& heap);

  // --- simulation
  void sim_save(CDB_SGATE_NETLIST* netlist, int n);
  void sim_check(CDB_SGATE_NETLIST* netlist);
  // The evaluation order: the combinational depth-first ordering over the
  // whole netlist (no clock domain, no extra boundaries, no pre-order walk),
  // whatever this object's mode and keys.
  void order_for_simulation(CDB_SGATE_NETLIST* netlist, OTERM_LIST& ordered, SCC_MAP& scc_map) const;
  // One simulation of the whole netlist: begin terminal i takes begins'
  // value i; then every component of the ordered terminals is swept until
  // it settles.
  void sim_netlist_comb_components(OTERM_LIST& ordered, SCC_MAP& scc_map, std::vector<CDB_SGATE_OTERM*>& begins,
                                   std::vector<unsigned>& begin_values);
  void sim_io_dump(std::vector<CDB_SGATE_OTERM*>& begins, std::vector<CDB_SGATE_ITERM*>& ends, const char* base,
                   int k);
  // Value (0 or 1) of a connected input terminal; of an end terminal (0
  // when unconnected).
  unsigned sim_sgate_iterm(CDB_SGATE_ITERM* iterm);
  unsigned sim_end_value(CDB_SGATE_ITERM* iterm);
  // Gate evaluators: store the value on the gate's output terminal(s) and
  // return it; the terminal forms return the value of that terminal.
  unsigned sim_buffer_sgate(CDB_SGATE_NODE* sgate);
  unsigned sim_comb_sgate(CDB_SGATE_NODE* sgate);
  unsigned sim_mux_sgate(CDB_SGATE_NODE* sgate);
  unsigned sim_lut_sgate(CDB_SGATE_NODE* sgate);
  unsigned sim_io_output(CDB_SGATE_NODE* sgate);
  void sim_carry_sum_sgate(CDB_SGATE_NODE* sgate);
  unsigned sim_buffer_sgate(CDB_SGATE_OTERM* oterm);
  unsigned sim_comb_sgate(CDB_SGATE_OTERM* oterm);
  unsigned sim_mux_sgate(CDB_SGATE_OTERM* oterm);
  unsigned sim_lut_sgate(CDB_SGATE_OTERM* oterm);
  unsigned sim_io_output(CDB_SGATE_OTERM* oterm);
  unsigned sim_carry_sum_sgate(CDB_SGATE_OTERM* oterm);

  CMP_FACADE* m_facade = nullptr;
  int m_debug_level = 0;
  bool m_dont_dfs = false;
  OTERM_LIST* m_user_begin_oterms = nullptr;
  OTERM_LIST* m_user_end_oterms = nullptr;
  bool m_family_flag = false;
  bool m_lcell_functionality = false;
  bool m_sequential = false;
  bool m_use_non_recur = false;
  bool m_skip_wysiwyg_macs = false;
};
