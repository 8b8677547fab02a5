// kavu_partition.h — partitioning a gate netlist on register boundaries for
// parallel synthesis, and the gates that decide whether the parallel flow
// runs at all.
//
// Model: a partition is the set of gates whose first output terminal carries
//   the same positive aux value (the partition id; 0 = none). The partitioner
//   never removes an edge: it marks a cut by a silly buffer (buffer type 17)
//   between source and sink, grows connected components with silly buffers
//   as walls, refines components that are too big by cutting high fan-out,
//   merges small and related ones, and finally turns every cut between two
//   partitions into one output boundary gate (direction 1) on the source
//   side and one input boundary gate (direction 0) per sink partition.
// Cut levels: before anything is cut every edge (input terminal) gets a level
//   0..3; a pass running at level L cuts only edges below L. Preprocessing
//   cuts level 0 around anchors (registers, I/Os, latches, components and
//   other device atoms), refinement runs at levels 2 and 3, so level 3 is
//   never cut. Fan-out-free cones (MFFCs) tell which edges lie inside a cone.
// Undo: kavu_delete_partition_on_reg_boundary removes every boundary gate and
//   leaves a netlist equivalent to the one before partitioning.
// State: the module-wide integers below and the skip reasons are process
//   wide; nothing here is thread-safe or reentrant.
// Cost: one run is O(V + E) for cones, cut levels, preprocessing and growth,
//   plus O(n log n) per refined partition for its fan-out threshold.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "ztl_hash_lite_sys.h"

class CMP_FACADE;
class HDB_INSTANCE_NAME;
class GEN_DYN_FLAG;
struct KAVU_PARTITIONER_STATE;

namespace SYNTH {
namespace KAVU {

// The settings of one partitioning run: a fixed set of named parameters.
// Defaults: "never_cut_combinational_logic" false, "num_partitions" from the
// key "parallel_num_partitions" (32), "max_num_partitions" from
// "kavu_max_num_partitions" (32), read at construction. A name outside the
// tables is an internal error for reads and writes alike.
class PARTITIONING_PARAMS {
 public:
  typedef ZTL_HASH_LITE<std::string, bool> BOOL_TABLE;
  typedef ZTL_HASH_LITE<std::string, int> INT_TABLE;

  PARTITIONING_PARAMS();

  int get_int_param(const std::string& name) const;
  bool get_bool_param(const std::string& name) const;
  void set_param(const std::string& name, int value);
  void set_param(const std::string& name, bool value);

  const INT_TABLE& get_int_params() const { return m_int_params_by_name; }
  const BOOL_TABLE& get_bool_params() const { return m_bool_params_by_name; }

 private:
  BOOL_TABLE m_bool_params_by_name;
  INT_TABLE m_int_params_by_name;
};

}  // namespace KAVU
}  // namespace SYNTH

// ---- the partitioner ----

class KAVU_PARTITIONER {
 public:
  KAVU_PARTITIONER();
  ~KAVU_PARTITIONER();
  KAVU_PARTITIONER(const KAVU_PARTITIONER&) = delete;
  KAVU_PARTITIONER& operator=(const KAVU_PARTITIONER&) = delete;

  // Labels every gate with a partition id and inserts boundary gates on every
  // cut edge; see the file comment. With timing_driven, edges whose fan-in
  // plus fan-out delay exceeds 0.9 of the largest are never cut. A null
  // netlist is an internal error.
  void partition_on_reg_boundary(CDB_SGATE_NETLIST* netlist, CDB_SGATE_HIERARCHY* hierarchy,
                                 const SYNTH::KAVU::PARTITIONING_PARAMS& params, bool timing_driven);
  // Undoes the previous run (kavu_delete_partition_on_reg_boundary) and runs
  // again with the same state.
  void redo_partition_on_reg_boundary(CDB_SGATE_NETLIST* netlist, CDB_SGATE_HIERARCHY* hierarchy,
                                      const SYNTH::KAVU::PARTITIONING_PARAMS& params,
                                      bool timing_driven);

  // The cut level (0..3) of an edge after the run's constraint pass; asking
  // before it ran is an internal error ("Iterm map not intialized").
  int get_cut_level(const CDB_SGATE_ITERM* iterm) const;
  KAVU_PARTITIONER_STATE* get_state() const { return m_state; }

 private:
  KAVU_PARTITIONER_STATE* m_state;
};

// The highest partition id handed out, and the size limits of the current
// run (nodes). Set by the partitioner; g_partition_id is never reset by it.
extern int g_partition_id;
extern int g_partition_size_max;
extern int g_partition_size_min;
extern int g_partition_size_advance;

typedef std::map<HDB_INSTANCE_NAME*, std::vector<CDB_SGATE_NODE*>> KAVU_NAME_TO_NODES_MAP;

// Clears the map and lists every register (plain or device flip-flop) under
// its bus name, in netlist order. A register without a bus name is an
// internal error ("iname != 0").
void kavu_map_bus_to_regs(CDB_SGATE_NETLIST* netlist, KAVU_NAME_TO_NODES_MAP* bus_to_regs);
// The outermost bus group of a register's instance name (of its
// representative name when it has one); null when the register has no
// name. A gate that is no register is an internal error.
HDB_INSTANCE_NAME* kavu_get_bus_name(CDB_SGATE_NODE* node);
// The topmost instance that carries the fractal-synthesis assignment
// (variable 614) with a true value, climbing from the node's name; null when
// the node's own name does not carry it.
HDB_INSTANCE_NAME* kavu_get_fractal_name(CDB_SGATE_NODE* node);
// Like kavu_map_bus_to_regs over every gate with a fractal name.
void kavu_map_fractal_to_nodes(CDB_SGATE_NETLIST* netlist, KAVU_NAME_TO_NODES_MAP* fractal_map);

// A new boundary gate (direction 0 input, 1 output) added to the netlist:
// src feeds its input (when given) and sink is moved onto its output (when
// given); named "boundary" after src (or its gate). Both null is an internal
// error.
CDB_SGATE_BOUNDARY* create_boundary_node(unsigned char direction, CDB_SGATE_OTERM* src,
                                         CDB_SGATE_ITERM* sink, CDB_SGATE_NETLIST* netlist);
// A silly buffer between src and sink; the sink keeps its inversion.
void insert_cut_buffer(CDB_SGATE_OTERM* src, CDB_SGATE_ITERM* sink, CDB_SGATE_NETLIST* netlist);
// Grows partition g_partition_id from the seed over fan-out and fan-in (silly
// buffers are walls), pulling in bus, fractal and state-machine buddies;
// returns the number of gates added. virtual_cut (needs a partitioner state)
// also treats level-3 edges and high-fan-out terminals as walls.
int grow_partition(CDB_SGATE_NODE* seed, const KAVU_NAME_TO_NODES_MAP& bus_to_regs,
                   const KAVU_NAME_TO_NODES_MAP& fractal_map, KAVU_PARTITIONER_STATE* partitioner,
                   bool virtual_cut);

// ---- fan-out-free cones ----

// Comb, LUT, mux and operator gates, logic-cell and logic-module atoms: the
// gates that fan-out-free cones are made of.
bool kavu_look_through_gate_for_mffc(const CDB_SGATE_NODE* node);
// Divides the look-through gates into maximal fan-out-free cones: every
// output terminal of a cone member gets the cone's id (1, 2, ...) as aux
// value, every other aux value is 0, and the output terminals of cone heads
// and of all other gates carry `flag`. Returns the number of cones.
// The old form orders terminals with KAVU_SORT; the new form with its own
// depth-first search (explicit stack). Gates on combinational loops become
// heads in both.
int kavu_partition_into_mffcs(CDB_SGATE_NETLIST* netlist, const GEN_DYN_FLAG& flag);
int kavu_partition_into_mffcs_new(CDB_SGATE_NETLIST* netlist, const GEN_DYN_FLAG& flag);

// ---- cut-level constraints ----

// Fills the state's three cut-level sets for every edge of the netlist.
void flag_dont_touch_on_iterms(KAVU_PARTITIONER_STATE* state, CDB_SGATE_NETLIST* netlist,
                               bool timing_driven, const GEN_DYN_FLAG& mffc_flag,
                               const SYNTH::KAVU::PARTITIONING_PARAMS& params);
// A mux whose first or second input is driven, uninverted, by a mux output
// with exactly one fan-out.
bool is_mux_stick(const CDB_SGATE_NODE* node);
// True when a path of at most `depth` muxes, comb gates, n-to-1 mux and
// select operators leads from `target` to `iterm`; every edge on such a path
// is moved to the given cut level. Memoised per (node, remaining depth)
// through aux (visit number) and aux2 for the current visit number.
bool flag_qfbk_path(KAVU_PARTITIONER_STATE* state, CDB_SGATE_ITERM* iterm, CDB_SGATE_OTERM* target,
                    int depth, int visit, int level);

// ---- parallel-synthesis gates ----

enum SKIP_REASONS : int {
  SKIP_RTL_FLOW_OFF = 0,
  SKIP_MLS_FLOW_OFF = 1,
  SKIP_USER_PARTITIONS_PARALLEL = 2,
  SKIP_RAPID_RECOMPILE_SECOND = 3,
  SKIP_ONE_PARTITION = 4,
  SKIP_CIRCUIT_TOO_SMALL = 5,
  SKIP_SYNTHESIS_ONLY_EXECUTABLE = 6,
  SKIP_MEMORY_TOO_HIGH = 7,
};

enum KAVU_PARALLEL_FLOW_TYPE : int { PARALLEL_RTL = 0, PARALLEL_MLS = 1 };

// min("num_partitions", "max_num_partitions") for netlists above
// kavu_min_netlist_size nodes, else 1 (skip bit 5); never below 1.
// "num_partitions" = 1 sets skip bit 4.
int kavu_get_num_partitions(CDB_SGATE_NETLIST* netlist, const SYNTH::KAVU::PARTITIONING_PARAMS& params);
// Whether the flow may run: the flow switches are decided on the first call
// and kept; false when the flow is off or any skip bit is set.
bool kavu_parallel_flow_allowed(KAVU_PARALLEL_FLOW_TYPE flow);
bool kavu_repartition_before_mls();
bool kavu_is_family_parallel_synthesis_supported(CMP_FACADE* facade);
void kavu_disable_parallel_synthesis(SKIP_REASONS reason);
void kavu_clear_disable_flag(SKIP_REASONS reason);
// Debug line of the lowest set skip bit; nothing when none is set.
void kavu_print_disable_reasons();
bool kavu_synthesis_is_running_with_one_process_no_pdb();
void kavu_set_synthesis_running_with_one_process_no_pdb(bool value);
void kavu_set_project_db_path(const std::string& path);

// The largest instance-name id over every gate and output terminal (0 when
// the netlist is empty).
unsigned kavu_get_max_name_id(CDB_SGATE_NETLIST* netlist);
// Renames every gate and output terminal of a partition netlist whose name id
// exceeds max_id so that it no longer does; with "parallel_names_paranoid" on
// any such name is an internal error after the repair.
void kavu_check_name_ids(CDB_SGATE_NETLIST* netlist, unsigned max_id);
// Registers and latches with temporary names get final names ("dff" for
// registers of both kinds, "latch" for latches).
void kavu_fix_new_dff_and_latch_names(CDB_SGATE_NETLIST* netlist);
bool kavu_netlist_has_boundary_sgates(CDB_SGATE_NETLIST* netlist);
// Removes every boundary gate (collected first), reconnecting across it, then
// sweeps. An input boundary without a source and without a recorded feeder
// is an internal error.
void kavu_delete_partition_on_reg_boundary(CDB_SGATE_NETLIST* netlist);
bool kavu_leave_revisit_pass_for_parallel_mls(CDB_SGATE_NETLIST* netlist);
bool kavu_is_logic_gate_for_partitioning(const CDB_SGATE_NODE* node);

// ---- test support ----
// Forgets the decided flow switches and the once-read keys, so that the next
// call decides again.
void kavu_partition_reset_process_state();
