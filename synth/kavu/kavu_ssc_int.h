// kavu_ssc_int.h — names shared by the timing-driven synthesis sources
// (kavu_ssc*.cpp): the can-run check, the timing-netlist set-up and the
// decisions the switches and the synchronizer code ask of each other.
#pragma once

#include <new>
#include <string>
#include <utility>
#include <vector>

#include "kavu_memory_guard_int.h"
#include "kavu_ssc.h"

class HDB_INSTANCE_NAME;

// The full can-run check; with a netlist also the timing-netlist set-up
// (the engine then holds it).
bool kavu_ssc_can_run_and_initialize(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy,
                                     CDB_SGATE_NETLIST* netlist, bool initialize,
                                     SSC_OTERM_PAIR_VECTOR* duplicate_oterms);
bool kavu_ssc_get_tds_setting(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy);
bool kavu_ssc_option_is_on_anywhere(CMP_FACADE* facade, int variable, const char* display_name);
// Builds, or reads and stitches, the timing netlist; on every failure the
// engine is left holding nothing.
bool kavu_ssc_initialize_tdb_netlist(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy,
                                     CDB_SGATE_NETLIST* netlist, SSC_DELAY_MODEL model,
                                     SSC_OTERM_PAIR_VECTOR* duplicate_oterms, bool check_partitions);
void kavu_ssc_report_timing_driven_synthesis_running(CDB_SGATE_HIERARCHY* hierarchy);
void kavu_ssc_make_loops_critical(CDB_SGATE_NETLIST* netlist, SSC_ITERM_TIMING_INFO_MAP* timing_info_map);
void kavu_ssc_timing_sanity_check(CDB_SGATE_NETLIST* netlist, SSC_ITERM_TIMING_INFO_MAP* timing_info_map);
bool kavu_ssc_options_need_timing_analysis(CMP_FACADE* facade, bool check_delay_model);
bool kavu_ssc_check_register_merge(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy, bool check_delay_model);
bool kavu_ssc_any_partition_has_gated_clock_conversion();

// The short path of a hierarchy's instance name ("" without one).
std::string kavu_ssc_hierarchy_path(const CDB_SGATE_HIERARCHY* hierarchy);
// The default assignment section of the facade's assignment database
// (internal error "default_section" when missing).
class HDB_SECTION;
HDB_SECTION* kavu_ssc_default_section(CMP_FACADE* facade);
// The timing engine; null stands for an engine that is not in use.
bool kavu_ssc_engine_in_use();
// While on (nested), can-run checks are questions: they post no warning
// 286029 and leave its once-flag for the first real check.
void kavu_ssc_quiet_questions(bool on);
// The structural synchronizer search of kavu_ssc_find_synchronizer_chains
// without its memory guard, for a caller whose own guard takes back the
// record: std::bad_alloc goes on, with every aux value restored and no
// chain marked.
void kavu_ssc_search_synchronizer_chains(CDB_SGATE_NETLIST* netlist);
// Marks synchronizer chains in the netlist's compatible-register record:
// `entries` are the chains' registers' output terminals in order, each
// head marked true; a head opens the next chain (numbered from 1), and the
// registers after it join it where the family protects whole chains (trait
// 135), else only heads are marked. Returns the registers marked.
int kavu_ssc_mark_synchronizer_chains(CMP_FACADE* facade, CDB_SGATE_NETLIST* netlist,
                                      const std::vector<std::pair<CDB_SGATE_OTERM*, bool>>& entries);
// Resets of the other sources' once-flags (called by kavu_ssc_reset_state).
void kavu_ssc_switches_reset();
void kavu_ssc_sync_reset();

// ---------------------------------------------------------------- memory refused

// Releases the engine's timing netlist when a call that set it up leaves
// early, by a failure or by memory refused: the engine is never left in use
// by a call that did not succeed. Armed only for an engine that was free
// when the call began (kavu_ssc_guard_memory arms it); a call that hands
// the netlist on (the caller or a KAVU_SSC keeps it) disarms it.
class KAVU_SSC_ENGINE_RELEASE {
 public:
  KAVU_SSC_ENGINE_RELEASE() = default;
  KAVU_SSC_ENGINE_RELEASE(const KAVU_SSC_ENGINE_RELEASE&) = delete;
  KAVU_SSC_ENGINE_RELEASE& operator=(const KAVU_SSC_ENGINE_RELEASE&) = delete;
  ~KAVU_SSC_ENGINE_RELEASE() { release_now(); }
  // Arms for the engine when it is free (the engine is made on first use,
  // which may be refused memory too).
  void arm_if_free();
  void disarm() { m_engine = nullptr; }
  void release_now();

 private:
  SSC_UTIL* m_engine = nullptr;  // null: disarmed
};

// The error posted for memory refused in a timing-driven call; a message
// that cannot be made either is left out (the call still fails).
void kavu_ssc_post_out_of_memory();

// Runs work(release) as the timing-driven entry points run: memory the
// system refuses anywhere in it (std::bad_alloc) fails the call, which
// returns `failed`, with the engine released (when it was free at the
// start) and kavu_ssc_post_out_of_memory's error posted, as the analysis
// fails when the engine's own memory is refused. The caller's next call
// finds the engine as a fresh one would. What `work` changed before the
// refusal is the caller's to take back (records, lists).
template <class RESULT, class WORK>
RESULT kavu_ssc_guard_memory(RESULT failed, WORK&& work) {
  KAVU_SSC_ENGINE_RELEASE release;
  return kavu_guard_memory(
      failed,
      [&]() -> RESULT {
        release.arm_if_free();
        return work(release);
      },
      [&] {
        release.release_now();
        kavu_ssc_post_out_of_memory();
      });
}
