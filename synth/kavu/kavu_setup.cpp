// kavu_setup.cpp — the library's load and unload sequence.
//
// Loading the library runs the set-up steps below in a fixed order and
// nothing else of its own; unloading undoes them in the reverse order.
// Model: one static object, KAVU_LOAD_SEQUENCE, whose members are the steps
// in step order. C++ constructs members in declaration order and destroys
// them in reverse, so each step's undo (unregistration, destruction) runs
// exactly in the reverse order of the set-up, and a step added later is one
// member line at its place. A step that creates nothing (touching the error
// categories) is a LOAD_ACTION member that runs a function.
// All globals that need a constructor live inside this one object: static
// initialisation order across translation units is unspecified, while the
// order of members inside one object is not.
//
// The steps (the number is the step's place in the sequence):
//   1 memory-manager registration "KAVU"   2 message IDs and kinds
//   4 Boost.System error categories        9 loop sets
//   13 timing-estimator hash               18 project database path
//   19 skip-reason bit set                 26 retimer name marker
//   29 sequential-timer report names       31, 32 MAC port names
//   25 persisted record types (registered with the persistence library)
// Steps 14 (incremental-synthesis singletons), 20 (hierarchy-stamp tables),
// 24 (word-level tables) and 33 (regression-test lists) create objects of
// the areas that use them; each is one member at its place between its
// neighbours below.
// Steps 3, 5-8, 10-12, 15-17, 21-23, 27, 28 and 30 read configuration keys;
// they are read at the first use instead (kavu_setup_read_load_time_keys,
// KAVU_SETUP_KEY), as the configuration stands then: loading reads no
// configuration, so a host may set it in its own process before its first
// call. They depend on nothing built by the other steps.
//
// Invariant: the globals are written only here, at load and unload (the
// key globals at their first use), except the containers, which their
// owning areas change later, and key globals a caller assigns.
// Cost: a few small allocations at load; a few dozen configuration lookups
// at the first use of a key.
#include "kavu_setup.h"
#include "kavu_tervo.h"

#include <boost/system/error_code.hpp>

#include "cfg/cfg.h"
#include "kavu_msg.h"
#include "kavu_stamp.h"
#include "mem/mem.h"
#include "msg/msg.h"
#include "synth_kavu__pdb.h"

// ---- Key globals ----
// Constant-initialised to the defaults; every key is read at the first use
// of any of them (KAVU_SETUP_KEY), from the configuration as it stands at
// that call: a host may set the configuration in its own process before it.
std::atomic<bool> kavu_setup_keys_read{false};
KAVU_SETUP_KEY<bool> kavu_depends_seq_for_dkf{false};
KAVU_SETUP_KEY<int> kavu_confidence{90};
KAVU_SETUP_KEY<int> kavu_wt_sr{0};
KAVU_SETUP_KEY<bool> kavu_cut_debug{false};
KAVU_SETUP_KEY<bool> kavu_delay_use_synth_seed{false};
KAVU_SETUP_KEY<bool> kavu_debug_lut_unmapper{false};
KAVU_SETUP_KEY<bool> kavu_ssc_skip_sdc_load{true};
KAVU_SETUP_KEY<bool> kavu_use_tervo_estimator_map{true};
KAVU_SETUP_KEY<bool> g_partitioner_dump_msg{false};
KAVU_SETUP_KEY<int> g_partition_min_fanout_threshold{5};
KAVU_SETUP_KEY<int> kavu_min_netlist_size{20000};
KAVU_SETUP_KEY<bool> kavu_bus_ops_verbose{false};
KAVU_SETUP_KEY<bool> wl_to_sgate_verbose{false};
KAVU_SETUP_KEY<bool> wl_use_ff_bit_names{true};
KAVU_SETUP_KEY<bool> kavu_seq_dont_fix_preserve{false};
KAVU_SETUP_KEY<bool> kavu_seq_dont_fix_reg{false};
KAVU_SETUP_KEY<int> kavu_mac_port_delay{0};

// The numbers are the keys' places in the load sequence before they moved
// to the first use; the keys are read in that order.
namespace {
void read_keys(bool over_code) {
  kavu_depends_seq_for_dkf.take(cfg_is_on("kavu_depends_seq_for_dkf", false), over_code);                       // 3
  kavu_confidence.take(cfg_get_int_value("kavu_confidence", 90), over_code);                                    // 5
  kavu_wt_sr.take(cfg_get_int_value("kavu_wt_sr", 0), over_code);                                               // 6
  kavu_cut_debug.take(cfg_is_on("kavu_cut_debug", false), over_code);                                           // 7
  kavu_delay_use_synth_seed.take(cfg_is_on("kavu_delay_use_synth_seed", false), over_code);                     // 8
  kavu_debug_lut_unmapper.take(cfg_is_on("kavu_debug_lut_unmapper", false), over_code);                         // 10
  kavu_ssc_skip_sdc_load.take(cfg_is_on("kavu_ssc_skip_sdc_load", true), over_code);                            // 11
  kavu_use_tervo_estimator_map.take(cfg_is_on("kavu_use_tervo_estimator_map", true), over_code);                // 12
  g_partitioner_dump_msg.take(cfg_is_on("kavu_partitioner_dump_msg", false), over_code);                        // 15
  g_partition_min_fanout_threshold.take(cfg_get_int_value("kavu_partition_min_fanout_threshold", 5), over_code);  // 16
  kavu_min_netlist_size.take(cfg_get_int_value("kavu_min_netlist_size", 20000), over_code);                     // 17
  kavu_bus_ops_verbose.take(cfg_is_on("kavu_bus_ops_verbose", false), over_code);                               // 21
  wl_to_sgate_verbose.take(cfg_is_on("wl_to_sgate_verbose", false), over_code);                                 // 22
  wl_use_ff_bit_names.take(cfg_is_on("wl_use_ff_bit_names", true), over_code);                                  // 23
  kavu_seq_dont_fix_preserve.take(cfg_is_on("kavu_seq_dont_fix_preserve", false), over_code);                   // 27
  kavu_seq_dont_fix_reg.take(cfg_is_on("kavu_seq_dont_fix_reg", false), over_code);                             // 28
  kavu_mac_port_delay.take(cfg_get_int_value("kavu_mac_port_delay", 0), over_code);                             // 30
  kavu_setup_keys_read.store(true, std::memory_order_release);
}
}  // namespace

void kavu_setup_read_load_time_keys() { read_keys(true); }
void kavu_setup_read_keys_at_first_use() { read_keys(false); }

namespace {

// A step that creates nothing: it runs its function when the sequence
// reaches it and has nothing to undo.
struct LOAD_ACTION {
  explicit LOAD_ACTION(void (*action)()) { action(); }
};

// The library refers to Boost.System's categories; touching them at load
// builds their function-local statics (and those of their standard
// counterparts) before any caller can race for them.
void touch_error_categories() {
  (void)boost::system::generic_category();
  (void)boost::system::system_category();
  (void)static_cast<std::error_code>(boost::system::error_code(0, boost::system::generic_category()));
  (void)static_cast<std::error_code>(boost::system::error_code(0, boost::system::system_category()));
}

struct LOOP_SETS {
  std::set<CDB_SGATE_OTERM*> m_oterms;
  std::set<CDB_SGATE_NODE*> m_nodes;
};

// Unload traces how many estimators the hash still holds. The hash owns
// them; releasing each one (with its own trace) needs the estimator type,
// which arrives with the estimator registry of timing-driven synthesis and
// brings that loop here. Until then nothing can insert into the hash.
struct TERVO_HASH_HOLDER {
  KAVU_TERVO_ESTIMATOR_HASH m_hash;
  ~TERVO_HASH_HOLDER() {
    kavu_debug("Cleaning up the Tervo estimator hash, size=%d ", static_cast<int>(m_hash.size()));
    kavu_release_tervo_estimator_hash();  // the estimators it still owns
  }
};

// One 32-bit block holding 0, then sized to 8 bits.
struct SKIP_REASON_SET {
  boost::dynamic_bitset<uint32_t> m_bits;
  SKIP_REASON_SET() : m_bits(32, 0ul) { m_bits.resize(8); }
};

class KAVU_LOAD_SEQUENCE {
 public:
  MEM_INITIALIZER m_memory{"KAVU"};                                                     // 1
  MSG_ID_REGISTRAR m_message_ids{kavu_msg_ids, kavu_msg_kinds, KAVU_MSG_ID_COUNT};       // 2
  LOAD_ACTION m_error_categories{touch_error_categories};                               // 4
  LOOP_SETS m_loop_sets;                                                                // 9
  TERVO_HASH_HOLDER m_tervo_hash;                                                       // 13
  std::string m_project_db_path;                                                        // 18
  SKIP_REASON_SET m_skip_reasons;                                                       // 19
  KAVU_STAMP_TABLES m_stamp_tables;                                                     // 20
  KAVU_PDB_REGISTRATIONS m_pdb_records;                                                 // 25
  const std::string m_retimer_name_marker{"~tesk"};                                     // 26
  const std::array<std::string, KAVU_SEQ_REPORT_FILE_COUNT> m_seq_report_file_names{    // 29
      "kavu_seq_big_gate_on_loop.txt", "kavu_seq_critical_big_gate.txt",
      "kavu_seq_failing_ep.txt",       "kavu_seq_critical_path_points.txt",
      "kavu_seq_critical_path.txt",    "kavu_seq_clocks.txt"};
  const std::array<std::string, KAVU_MAC_INPUT_PORT_COUNT> m_mac_input_port_names{      // 31
      "DB_DATA_AX",          "DB_DATA_AY",          "DB_IPORT_DATA_AZ",
      "DB_DATA_BX",          "DB_DATA_BY",          "DB_IPORT_DATA_BZ",
      "DB_IPORT_COEF_SEL_A", "DB_IPORT_COEF_SEL_B", "DB_IPORT_SUB_NADD",
      "DB_IPORT_NEGATE",     "DB_IPORT_ACC_NLOAD",  "DB_IPORT_LOAD_VALUE_ENA",
      "DB_CHAIN_IN"};
  const std::array<std::string, KAVU_MAC_OUTPUT_PORT_COUNT> m_mac_output_port_names{    // 32
      "DB_DATA_OUT_A", "DB_DATA_OUT_B", "DB_CHAINOUT"};
};

KAVU_LOAD_SEQUENCE s_load_sequence;

}  // namespace

std::set<CDB_SGATE_OTERM*>& kavu_loop_oterms() { return s_load_sequence.m_loop_sets.m_oterms; }

std::set<CDB_SGATE_NODE*>& kavu_loop_nodes() { return s_load_sequence.m_loop_sets.m_nodes; }

KAVU_TERVO_ESTIMATOR_HASH& kavu_tervo_estimator_hash() { return s_load_sequence.m_tervo_hash.m_hash; }

std::string& kavu_project_db_path() { return s_load_sequence.m_project_db_path; }

boost::dynamic_bitset<uint32_t>& kavu_parallel_skip_reasons() {
  return s_load_sequence.m_skip_reasons.m_bits;
}

KAVU_STAMP_TABLES& kavu_stamp_tables() { return s_load_sequence.m_stamp_tables; }

// Bound at compile time (the address of a member of a static object), so
// these add no initializer of their own to the load sequence.
std::map<int, std::set<int>>& g_master_id_to_dup_ids = s_load_sequence.m_stamp_tables.m_master_id_to_dup_ids;
std::map<int, int>& g_dup_id_to_master_id = s_load_sequence.m_stamp_tables.m_dup_id_to_master_id;
std::map<CDB_SGATE_NODE*, std::vector<CDB_SGATE_NODE*>>& g_dup_bound_to_pins =
    s_load_sequence.m_stamp_tables.m_dup_bound_to_pins;
std::map<CDB_SGATE_NODE*, std::vector<CDB_SGATE_NODE*>>& g_master_bound_to_dup_bounds =
    s_load_sequence.m_stamp_tables.m_master_bound_to_dup_bounds;
std::map<CDB_SGATE_NODE*, std::vector<CDB_SGATE_NODE*>>& g_outside_gate_to_dup_pins =
    s_load_sequence.m_stamp_tables.m_outside_gate_to_dup_pins;
std::map<CDB_SGATE_NODE*, CDB_SGATE_NODE*>& g_dup_pin_to_outside_gate =
    s_load_sequence.m_stamp_tables.m_dup_pin_to_outside_gate;

const KAVU_PDB_REGISTRATIONS& kavu_pdb_registrations() { return s_load_sequence.m_pdb_records; }

const std::string& kavu_retimer_name_marker() { return s_load_sequence.m_retimer_name_marker; }

const std::array<std::string, KAVU_SEQ_REPORT_FILE_COUNT>& kavu_seq_report_file_names() {
  return s_load_sequence.m_seq_report_file_names;
}

const std::array<std::string, KAVU_MAC_INPUT_PORT_COUNT>& kavu_mac_input_port_names() {
  return s_load_sequence.m_mac_input_port_names;
}

const std::array<std::string, KAVU_MAC_OUTPUT_PORT_COUNT>& kavu_mac_output_port_names() {
  return s_load_sequence.m_mac_output_port_names;
}
