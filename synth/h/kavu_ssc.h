// kavu_ssc.h — timing-driven synthesis around the timing engine: whether
// timing analysis may run, the analysis that fills the caller's timing map,
// the per-step switches, the flattened timing netlist of all partitions,
// the holder of the engine (KAVU_SSC), synchronizer protection and
// high-speed registers.
//
// The road: kavu_ssc_perform_timing_analysis refuses during automatic
//   parallel synthesis, decides whether analysis may run (family trait 31,
//   the keys kavu_disable_ssc / kavu_force_ssc, the assignments
//   SYNTH_TIMING_DRIVEN_SYNTHESIS (528) and SYNTHESIS_EFFORT (567)), builds
//   or loads the timing netlist, runs the analysis into the map (an entry
//   for every input terminal with a real source), runs
//   "post_timing_analysis.tcl" when allowed, and identifies high-speed
//   registers when it may. The caller's passes then read the map through
//   opt_get_slack.
// One holder: the engine holds one timing netlist at a time; a set-up while
//   one is held is an internal error, and every failed set-up releases what
//   the engine holds. KAVU_SSC::m_in_use marks the one KAVU_SSC object
//   that holds it.
// Caches: the SYNTH_TIMING_DRIVEN_SYNTHESIS answers, the once-flags of tags
//   and messages and the list of partitions told about live as long as the
//   library; kavu_ssc_reset_state() forgets them, the constraint-file
//   warnings the timing engine posted and the constraint reads it keeps
//   (between compiles in one process, and between tests).
#pragma once

#include <list>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "ssc/ssc.h"

class CMP_FACADE;
class CDB_SGATE_HIERARCHY;
class CDB_SGATE_NETLIST;
class CDB_SGATE_NODE;
class CDB_SGATE_ITERM;
class CDB_SGATE_OTERM;
class CDB_SGATE_COMPATIBLE_REGISTERS;

// Assignment variables read here.
constexpr int KAVU_ACF_SYNTH_TIMING_DRIVEN_SYNTHESIS = 528;  // Boolean
constexpr int KAVU_ACF_SYNTHESIS_EFFORT = 567;               // enumeration: 108 Fast, 52 Auto
constexpr int KAVU_ACF_GATE_LEVEL_RETIMING = 452;            // Boolean
constexpr int KAVU_ACF_GATED_CLOCK_CONVERSION = 560;         // Boolean
constexpr int KAVU_ACF_PROTECT_SDC_CONSTRAINTS = 566;        // Boolean
constexpr int KAVU_ACF_SYNCHRONIZER_IDENTIFICATION = 1046;   // integer: 286 forced head, 3 forced domain
constexpr int KAVU_ACF_SYNCHRONIZER_LENGTH = 533;            // integer: registers per chain (3)
constexpr int KAVU_SYNTHESIS_EFFORT_FAST = 108;
constexpr int KAVU_SYNTHESIS_EFFORT_AUTO = 52;

// ---------------------------------------------------------------- the road

// True when the analysis ran and filled the map. The delay outputs and the
// two optional containers may be null. With delete_tdb_netlist the engine
// holds nothing afterwards; otherwise the caller releases the timing
// netlist with kavu_ssc_delete_tdb_netlist.
bool kavu_ssc_perform_timing_analysis(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy,
                                      CDB_SGATE_NETLIST* netlist, SSC_ITERM_TIMING_INFO_MAP* timing_info_map,
                                      SSC_OTERM_PAIR_VECTOR* duplicate_oterms, int* default_lut_delay,
                                      double* avg_lut_delay, bool delete_tdb_netlist,
                                      SSC_ITERM_REQUIREMENT_INFO_MAP* requirement_info_map,
                                      bool use_relaxed_slack);
// Whether anything that needs the timing engine is allowed (hierarchy may
// be null); *flag, when given, is set to false.
bool kavu_ssc_is_ssc_allowed(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy, bool* flag);
// Releases the engine's timing netlist; none held is an internal error.
void kavu_ssc_delete_tdb_netlist();
// The engine's timing netlist; none held is an internal error.
TDB_NETLIST* kavu_ssc_get_tdb_netlist();
// True when the partition tree's design has more than one partition.
bool kavu_multiple_partitions_present();
// Forgets the library-lifetime caches and once-flags of timing-driven
// synthesis (see the file comment).
void kavu_ssc_reset_state();

// ---------------------------------------------------------------- switches

bool kavu_ssc_can_run_timing_analysis(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy);
bool kavu_ssc_can_run_timing_driven_optimization(CMP_FACADE* facade);
bool kavu_ssc_can_run_timing_analysis_in_mast(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy);
// *use_absolute_threshold is set to false on every call.
bool kavu_ssc_can_run_timing_analysis_in_sr_inference(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy,
                                                      bool* use_absolute_threshold);
bool kavu_ssc_can_run_timing_analysis_in_rom_inference(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy);
bool kavu_ssc_can_run_timing_analysis_in_mapper(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy);
bool kavu_ssc_can_run_timing_analysis_in_opt_fsyn(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy);
// Whether the flattened timing netlist of all partitions must be written
// (the facade of ZCU_FACADE_UTIL).
bool kavu_should_write_flattened_tdb_netlist();
// Writes it from the partitions' netlists: the labelled design, or the
// netlists its split made (each cut input boundary joined to the output
// boundary that drives it, so that either is the whole design); records on
// each which netlist it stored. The engine holds nothing after.
bool kavu_write_flattened_tdb_netlist(CMP_FACADE* facade, std::vector<CDB_SGATE_NETLIST*>& netlists);
bool kavu_wants_to_run_timing_analysis_but_device_fails(CMP_FACADE* facade);

// ---------------------------------------------------------------- the holder

class KAVU_SSC {
 public:
  // A second object while one holds the engine is an internal error.
  KAVU_SSC(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy, CDB_SGATE_NETLIST* netlist,
           SSC_DELAY_MODEL delay_model, SSC_OTERM_PAIR_VECTOR* duplicate_oterms, bool check_partitions);
  ~KAVU_SSC();
  KAVU_SSC(const KAVU_SSC&) = delete;
  KAVU_SSC& operator=(const KAVU_SSC&) = delete;

  bool initialize_ssc();
  // Releases the timing netlist; m_in_use stays until the destructor.
  void destroy_ssc();
  static bool is_in_use() { return m_in_use; }
  // Developer aid: runs the engine's reports or a plain analysis when
  // kavu_run_ssc_debug or kavu_run_ssc_debug_timing_analysis is on.
  static void ssc_debug_trip(CMP_FACADE* facade, CDB_SGATE_NETLIST* netlist);

  static bool m_in_use;

  // Register lists from the held timing netlist (the engine must be in
  // use). Sets of mergeable registers into the netlist's compatible-register
  // record: every constrained register in a set of its own (ids from 1),
  // the rest in the common set. The timing-ranked request (false) builds
  // the same sets: no ranking of registers is defined for merging.
  bool create_compatible_reg_sets(bool constraint_sets);
  // The Q terminal of every register (DFF gate, flip-flop atom, state node)
  // that carries an SDC constraint; the list must be given empty. When the
  // constraints cannot be read, any register may carry one: every register
  // is listed.
  bool create_constraint_register_oterm_list(std::list<CDB_SGATE_OTERM*>* oterm_list);
  // Every output terminal that is the source of a create_clock. False,
  // the list left empty, where the engine cannot read the constraints or
  // index them (it posts an error saying why).
  bool create_base_clock_oterm_list(std::list<CDB_SGATE_OTERM*>* oterm_list);
  // Whether the engine could read the compile's constraints for the held
  // timing netlist. The first call runs the analysis (the engine posts a
  // refused read then); later calls of this holder answer from that run, so
  // a refusal is posted once however many registers are asked about. False
  // when the engine is not in use.
  bool constraints_are_readable();

 private:
  CMP_FACADE* m_facade;
  CDB_SGATE_HIERARCHY* m_hierarchy;
  CDB_SGATE_NETLIST* m_netlist;
  SSC_DELAY_MODEL m_delay_model;
  SSC_OTERM_PAIR_VECTOR* m_duplicate_oterms;
  bool m_check_partitions;
  int m_constraints_readable = -1;  // -1: not asked yet; else the answer
};

// ---------------------------------------------------------------- synchronizers, high-speed registers

// True when a timing analysis ran in this call (see the implementation).
bool kavu_compute_high_speed_regs(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy, CDB_SGATE_NETLIST* netlist);
bool kavu_ssc_should_protect_synchronizers(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy);
// Marks the synchronizers of the engine's list; needs a KAVU_SSC in use.
void kavu_ssc_protect_synchronizers_impl(CMP_FACADE* facade, CDB_SGATE_NETLIST* netlist);
// The structural search, without a timing netlist; leaves every aux value
// as it found it.
void kavu_ssc_find_synchronizer_chains(CDB_SGATE_NETLIST* netlist, bool flag);
bool kavu_ssc_get_high_speed_reg_options(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy,
                                         bool* use_relaxed_slack);
bool kavu_ssc_is_high_speed_iterm(SSC_ITERM_REQUIREMENT_INFO_MAP* requirement_map,
                                  SSC_ITERM_TIMING_INFO_MAP* timing_map, CDB_SGATE_ITERM* iterm);
void kavu_ssc_identify_high_speed_registers(CDB_SGATE_NETLIST* netlist,
                                            SSC_ITERM_REQUIREMENT_INFO_MAP* requirement_map,
                                            SSC_ITERM_TIMING_INFO_MAP* timing_map);

// ---- Compatible registers, constrained registers and requirements ----

// Builds (or reuses) the netlist's compatible-register information before
// register merging; see kavu_ssc_compat.cpp.
void kavu_ssc_build_comp_reg_info(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy, CDB_SGATE_NETLIST* netlist,
                                  bool timing_ranked, bool chain_flag);
// Appends the DFF gates that carry SDC constraints; false when timing
// analysis is not allowed or the timing netlist cannot be built.
bool kavu_ssc_build_constr_dff_list(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy, CDB_SGATE_NETLIST* netlist,
                                    std::list<CDB_SGATE_NODE*>* reg_list);
// The tightest requirement of a register's captured inputs and fan-outs;
// 2147483647 when none or without a map.
int kavu_get_requirement(CDB_SGATE_NODE* sgate, SSC_ITERM_REQUIREMENT_INFO_MAP* requirement_map);
int kavu_ssc_get_iterm_requirement(SSC_ITERM_REQUIREMENT_INFO_MAP* requirement_map, CDB_SGATE_ITERM* iterm);
// Marks every register covered, with no sets: all share the common set.
void kavu_ssc_mark_all_registers_compatible(CDB_SGATE_NETLIST* netlist);
// Whether the register carries the covered mark of the record.
bool kavu_ssc_register_is_covered(const CDB_SGATE_NODE* reg);
// Whether a netlist's compatible-register record failed: its build was to
// set registers apart by the constraint file's constraints and could not
// (no timing netlist, or memory refused), and the registers the file names
// could not be read from the file alone either (its text refused, or
// memory refused). Such a record is ready and not in use, and holds
// nothing; any register may carry a constraint, so passes that merge
// registers merge none. Where the file could be read, the record holds
// the registers it names apart and is in use, as one the engine built.
bool kavu_ssc_compatible_registers_failed(const CDB_SGATE_COMPATIBLE_REGISTERS* reg_mgr);

// Orders keys by the unsigned value a map gives them (missing: 0; nothing
// ranks below a missing key).
template <class KEY>
struct rank_by_map_less {
  const std::map<KEY, unsigned>* m_map;
  bool operator()(const KEY& a, const KEY& b) const {
    auto ib = m_map->find(b);
    if (ib == m_map->end()) return false;
    auto ia = m_map->find(a);
    const unsigned va = ia == m_map->end() ? 0u : ia->second;
    return va < ib->second;
  }
};
