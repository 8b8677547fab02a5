// kavu_setup.h — what the library sets up when it is loaded.
//
// Loading the library runs one ordered sequence of set-up steps (in
// kavu_setup.cpp): memory-manager registration under "KAVU", registration
// of the message IDs, and the global containers and fixed names that other
// areas use later. Unloading destroys them in the reverse order. Loading
// reads no configuration.
//
// Configuration keys read at the first use: each global below holds the key
// of the same name (two partitioner globals carry a g_ prefix). All of them
// are read together at the first use of any of them (or the first
// assignment to one), from the configuration as it stands then, not as the
// library loaded: a host may set KAVU_INI_SET or KAVU_INI_FILE in its own
// process before its first call. They are not read again, so a later
// change of the setting takes effect in the next process (or through
// kavu_setup_read_load_time_keys). On/off keys read as bool, integer keys
// as signed 32-bit integers; a value assigned from code is kept.
//
// Global containers: reached through the accessors below; they exist from
// load to unload, are not thread-safe, and their owning areas change them
// without locks. Calling an accessor before the library has finished loading
// (from another library's static initializer) is not supported.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <set>
#include <string>

#include <boost/dynamic_bitset.hpp>

#include "ztl_hash_lite_sys.h"

class CDB_SGATE_NODE;
class CDB_SGATE_OTERM;
class KAVU_PDB_REGISTRATIONS;
template <class TYPES>
class TERVO_ESTIMATOR;
struct CSU_SGATE_NETLIST_TYPES;

// Reads every key below into its global now, over values set from code;
// true once they were read.
void kavu_setup_read_load_time_keys();
extern std::atomic<bool> kavu_setup_keys_read;
// The read at the first use: as above, but a value assigned from code (by
// another thread while this one reads) is left as assigned.
void kavu_setup_read_keys_at_first_use();

// A global of a configuration key: reads as T, and every key is read at the
// first use. The read waits for nothing (two threads that come first at
// once both read the keys, to the same values), so a process forked from
// any thread meanwhile reads them anew in its child. The value and a mark
// "assigned from code" share one atomic word: a first-use read still under
// way on another thread stores a key only where the mark is not set, so an
// assignment made meanwhile is never undone by it.
template <class T>
class KAVU_SETUP_KEY {
 public:
  constexpr explicit KAVU_SETUP_KEY(T dflt) : m_word(pack(dflt, false)) {}
  KAVU_SETUP_KEY(const KAVU_SETUP_KEY&) = delete;
  KAVU_SETUP_KEY& operator=(const KAVU_SETUP_KEY&) = delete;
  operator T() const {
    read_keys();
    return unpack(m_word.load(std::memory_order_relaxed));
  }
  // A value set from code, kept until the keys are read again on request.
  KAVU_SETUP_KEY& operator=(T value) {
    read_keys();
    m_word.store(pack(value, true), std::memory_order_relaxed);
    return *this;
  }
  // The read's own store (kavu_setup.cpp): on request over any value, at
  // the first use only over one not assigned from code.
  void take(T value, bool over_code) {
    const uint64_t word = pack(value, false);
    if (over_code) {
      m_word.store(word, std::memory_order_relaxed);
      return;
    }
    uint64_t now = m_word.load(std::memory_order_relaxed);
    while (!(now & kAssigned) && !m_word.compare_exchange_weak(now, word, std::memory_order_relaxed)) {
    }
  }

 private:
  static_assert(sizeof(T) <= sizeof(uint32_t), "a key's value fits the word's low half");
  static constexpr uint64_t kAssigned = uint64_t(1) << 32;
  static constexpr uint64_t pack(T value, bool assigned) {
    return uint64_t(uint32_t(int32_t(value))) | (assigned ? kAssigned : 0);
  }
  static T unpack(uint64_t word) { return static_cast<T>(int32_t(uint32_t(word))); }
  static void read_keys() {
    if (!kavu_setup_keys_read.load(std::memory_order_acquire)) kavu_setup_read_keys_at_first_use();
  }
  std::atomic<uint64_t> m_word;
};

// ---- Configuration keys read at the first use (defaults in parentheses) ----
extern KAVU_SETUP_KEY<bool> kavu_depends_seq_for_dkf;          // off: dependency rules for MAC and LUT-RAM atoms
extern KAVU_SETUP_KEY<int> kavu_confidence;                    // 90: least confidence of a usable signal probability
extern KAVU_SETUP_KEY<int> kavu_wt_sr;                         // 0: weight of signal probability in input ordering
extern KAVU_SETUP_KEY<bool> kavu_cut_debug;                    // off: traces of the min-cut searches
extern KAVU_SETUP_KEY<bool> kavu_delay_use_synth_seed;         // off: seeded visiting order of the loop breaker
extern KAVU_SETUP_KEY<bool> kavu_debug_lut_unmapper;           // off: traces of the LUT unmapper
extern KAVU_SETUP_KEY<bool> kavu_ssc_skip_sdc_load;            // on: netlist-only timing path (families but 47)
extern KAVU_SETUP_KEY<bool> kavu_use_tervo_estimator_map;      // on: one timing estimator per partition
extern KAVU_SETUP_KEY<bool> g_partitioner_dump_msg;            // off ("kavu_partitioner_dump_msg")
extern KAVU_SETUP_KEY<int> g_partition_min_fanout_threshold;   // 5 ("kavu_partition_min_fanout_threshold")
extern KAVU_SETUP_KEY<int> kavu_min_netlist_size;              // 20000: largest netlist kept as one partition
extern KAVU_SETUP_KEY<bool> kavu_bus_ops_verbose;              // off: traces of bus-operator removal
extern KAVU_SETUP_KEY<bool> wl_to_sgate_verbose;               // off: traces of word-level to gate conversion
extern KAVU_SETUP_KEY<bool> wl_use_ff_bit_names;               // on: word-level registers keep per-bit names
extern KAVU_SETUP_KEY<bool> kavu_seq_dont_fix_preserve;        // off: the sequential timer fixes preserved registers
extern KAVU_SETUP_KEY<bool> kavu_seq_dont_fix_reg;             // off: the sequential timer's other fixing rules apply
extern KAVU_SETUP_KEY<int> kavu_mac_port_delay;                // 0: delay at registered MAC ports

// ---- Global containers and names created at load ----

// Output terminals and gates on combinational loops (delay estimation).
std::set<CDB_SGATE_OTERM*>& kavu_loop_oterms();
std::set<CDB_SGATE_NODE*>& kavu_loop_nodes();

// Timing estimators by partition name; the registry that fills it owns the
// estimators. Bucket count ztl_hash_lite_get_next_prime(60) at load.
typedef ZTL_HASH_LITE<std::string, TERVO_ESTIMATOR<CSU_SGATE_NETLIST_TYPES>*>
    KAVU_TERVO_ESTIMATOR_HASH;
KAVU_TERVO_ESTIMATOR_HASH& kavu_tervo_estimator_hash();

// The project database path of parallel synthesis, empty at load.
std::string& kavu_project_db_path();

// Reasons why parallel synthesis is skipped: 8 bits over 32-bit blocks,
// all clear at load.
boost::dynamic_bitset<uint32_t>& kavu_parallel_skip_reasons();

// The registrations of the seven persisted record types
// (synth_kavu__pdb.h), made at load and removed at unload.
const KAVU_PDB_REGISTRATIONS& kavu_pdb_registrations();

// Names that end in this marker ("~tesk") were made by the retimer.
const std::string& kavu_retimer_name_marker();

// The six debug-report file names of the sequential timer, in the order
// big gates on loops, critical big gates, failing end points, critical path
// points, critical path, clocks.
constexpr int KAVU_SEQ_REPORT_FILE_COUNT = 6;
const std::array<std::string, KAVU_SEQ_REPORT_FILE_COUNT>& kavu_seq_report_file_names();

// Row labels of the MAC clock dump: 13 input ports and 3 output ports.
constexpr int KAVU_MAC_INPUT_PORT_COUNT = 13;
constexpr int KAVU_MAC_OUTPUT_PORT_COUNT = 3;
const std::array<std::string, KAVU_MAC_INPUT_PORT_COUNT>& kavu_mac_input_port_names();
const std::array<std::string, KAVU_MAC_OUTPUT_PORT_COUNT>& kavu_mac_output_port_names();

// kavu_setup_read_load_time_keys (above) reads every key into its global,
// over values set from code. The first use of any of them calls it; tests
// that need other values set keys from code and call it again, then once
// more after restoring the keys, so that later tests see the values the
// process started with.
