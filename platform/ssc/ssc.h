// Role: timing engine (docs/platform.md, "Timing engine"; see also "Timing-netlist file").
// ssc.h — the timing engine: a static timing analysis of a gate netlist
// under the user's clocks and constraints, the timing netlist it works on,
// its storage in the project database, its Tcl commands and the list of
// synchronizer registers.
//
// Timing netlist (TDB_NETLIST): one TDB_NODE per output terminal of every
//   gate (a register output, a gate output, an input pin), one per output
//   pin, and one for a gate without outputs. A node's name is
//   "<gate path>/<port name>#<slot>", the same in every process. A node
//   keeps its gate terminal (null once string-based or loaded from the
//   project database) and its fan-in arcs. An arc joins a source node to a
//   node through one input terminal: a data arc (delay of the gate under
//   the delay model), a capture arc (register data, enable, synchronous
//   load and clear; the input of an output pin) or an unconstrained arc
//   (register clock and asynchronous inputs: entries without constraint).
// Arcs: every input to every output of a gate, except carry-sum gates
//   (output i passes input i) and registers, latches and flip-flop atoms
//   (their inputs capture, their outputs launch). Pins and components join
//   every input to every output.
// Delay models: 0 unit (1 per LUT, comb, mux, operator, logic cell, 0 for
//   buffers, boundaries, IO buffers and the rest); 1 unit plus k per
//   fan-out of the driven output (key "ssc_fanout_delay", 1); 2 a table per
//   family (LUT 250 for 4-input families, else 300; comb 150; mux 200;
//   operator 500; logic cell 300; carry-sum 50), each entry overridable by
//   its key ("ssc_table_lut_delay", "ssc_table_comb_delay",
//   "ssc_table_mux_delay", "ssc_table_operator_delay",
//   "ssc_table_lcell_delay", "ssc_table_carry_delay"). Registers launch at
//   the clock edge and capture with zero set-up time; clocks are ideal.
// Constraints: the SDC subset of ssc_sdc.cpp read from the file named by
//   the key "ssc_sdc_file" (what is read but not applied is posted as a
//   warning, once per process for a file and its text, until
//   ssc_forget_posted_warnings); without one, every clock source that a register clock traces
//   back to (through buffers, inverters, one-input LUTs, clock buffers and
//   partition boundaries, which are wires for timing)
//   is a clock of period "ssc_default_period" (1000). A clock created on a
//   net of a register's clock path (a buffer's, an inverter's, a one-input
//   LUT's output, a boundary) is that net's clock from there, as in
//   OpenSTA: the one nearest the register's pin clocks it; data from
//   before such a net stops there, and the net (or a register whose output
//   a clock is created on) launches its data at the clock's edges. A
//   register whose clock comes through other logic (a gated clock) takes
//   every clock that reaches it, on the edges it arrives on (both through a
//   gate not unate in it), as OpenSTA propagates ideal clocks.
// Analysis: loop arcs are cut (counted); arrival per launch group (clock
//   and edge), downstream delay per capture group; for every arc and every
//   pair of groups, slack = relation - arrival - arc - downstream, where the
//   relation is the period for one clock and the smallest positive gap
//   between a launch edge and a capture edge otherwise, and the value of
//   the set_max_delay that covers the path, when one does, in place of
//   either. An input terminal gets the smallest slack of its arcs, the
//   relation of that pair as requirement, slack / requirement as ratio, and
//   the relaxed slack (the capture period in place of the relation).
//   Terminals no constrained path reaches get slack and requirement
//   2147483647 and ratio 1.0. The map gets an entry for every input
//   terminal with a real source.
// State: one SSC_UTIL, holding at most one timing netlist (is_in_use);
//   TDB_MANAGER views the same state. A test hook can make ssc_get_util()
//   return null.
// Cost: building O(V + E); the analysis O(V + E) per launch and capture
//   group reaching each node, time and memory, and a relation per pair of
//   groups a path joins (never a table of groups x groups past 256
//   groups); memory the system refuses is an error of the analysis, which
//   returns false. The map is filled in O(n log n) for n terminals (sorted,
//   then appended).
// Not thread-safe, like the other databases.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ssc/ssc_timing_info.h"

class CMP_FACADE;
class CDB_SGATE_NETLIST;
struct CDB_SGATE_TDB_ORIGIN;
class CDB_SGATE_NODE;
class CDB_SGATE_ITERM;
class CDB_SGATE_OTERM;

enum SSC_DELAY_MODEL : int {
  SSC_DELAY_MODEL_UNIT = 0,
  SSC_DELAY_MODEL_UNIT_FANOUT = 1,
  SSC_DELAY_MODEL_TABLE = 2,
};

// The requirement of an input terminal (2147483647: none).
struct SSC_ITERM_REQUIREMENT_INFO {
  int m_requirement = SSC_UNCONSTRAINED_SLACK;
};
typedef std::map<CDB_SGATE_ITERM*, SSC_ITERM_REQUIREMENT_INFO> SSC_ITERM_REQUIREMENT_INFO_MAP;
typedef std::vector<std::pair<CDB_SGATE_OTERM*, CDB_SGATE_OTERM*>> SSC_OTERM_PAIR_VECTOR;

namespace kavu_platform {
struct SSC_NETLIST_DATA;
struct SSC_ANALYSIS;
}  // namespace kavu_platform

enum TDB_NODE_KIND : uint8_t {
  TDB_NODE_COMB = 0,      // a gate output (or a gate without outputs)
  TDB_NODE_REGISTER = 1,  // a register, latch or flip-flop atom output: launches, captures
  TDB_NODE_IN_PORT = 2,   // an input (or bidirectional) pin
  TDB_NODE_OUT_PORT = 3,  // an output (or bidirectional) pin: captures
};

enum TDB_ARC_KIND : uint8_t {
  TDB_ARC_DATA = 0,
  TDB_ARC_CAPTURE = 1,
  TDB_ARC_UNCONSTRAINED = 2,
};

struct TDB_ARC {
  uint32_t m_src;            // source node id
  int32_t m_delay;           // data arcs: the gate's delay; others 0
  CDB_SGATE_ITERM* m_iterm;  // null once string-based
  uint8_t m_kind;            // TDB_ARC_KIND
  // The sense of the gate in the arc's input, kept when the terminal is
  // dropped (string-based, stored, loaded): 1 positive unate, -1 negative,
  // 0 binate; while m_iterm is set the gate itself is read instead.
  int8_t m_sense = 0;
};

class TDB_NODE {
 public:
  unsigned get_id() const { return m_id; }
  const std::string& get_string_name() const { return m_name; }
  TDB_NODE_KIND get_kind() const { return TDB_NODE_KIND(m_kind); }
  // The gate terminal; null for output pins, gates without outputs, and
  // nodes that are string-based or from another partition.
  CDB_SGATE_OTERM* get_oterm() const { return m_oterm; }
  // The gate of the node (null when string-based).
  CDB_SGATE_NODE* get_sgate() const { return m_sgate; }
  // Registers: the node the clock traces back to (-1: none) and whether the
  // clock is inverted on the way.
  int get_clock_source() const { return m_clock_source; }
  bool clock_is_inverted() const { return m_clock_inverted; }

 private:
  friend struct kavu_platform::SSC_NETLIST_DATA;
  friend class TDB_NETLIST;
  std::string m_name;
  CDB_SGATE_OTERM* m_oterm = nullptr;
  CDB_SGATE_NODE* m_sgate = nullptr;
  unsigned m_id = 0;
  uint32_t m_arc_begin = 0;
  uint32_t m_arc_end = 0;
  int m_clock_source = -1;
  bool m_clock_inverted = false;
  uint8_t m_kind = TDB_NODE_COMB;
};

class TDB_NETLIST {
 public:
  TDB_NETLIST();
  ~TDB_NETLIST();
  TDB_NETLIST(const TDB_NETLIST&) = delete;
  TDB_NETLIST& operator=(const TDB_NETLIST&) = delete;

  unsigned get_node_count() const;
  // Null when the id is out of range.
  TDB_NODE* get_node(unsigned id) const;
  // The node of that name, or null.
  TDB_NODE* find_node(const std::string& name) const;
  // The arcs of a node, in order.
  const TDB_ARC* arcs_begin(const TDB_NODE* node) const;
  const TDB_ARC* arcs_end(const TDB_NODE* node) const;
  // True when no node keeps a gate terminal.
  bool is_string_based() const;
  // Arcs cut to break loops by the last analysis.
  int get_cut_arc_count() const;

 private:
  friend class SSC_UTIL;
  friend class TDC_ACCESSORIES;
  std::unique_ptr<kavu_platform::SSC_NETLIST_DATA> m_data;
};

// A synchronizer register of the timing netlist: its node and whether it
// starts a chain.
struct TDC_SYNCHRONIZER_ENTRY {
  unsigned m_node_id = 0;
  bool m_chain_start = false;
};

class TDC_ACCESSORIES {
 public:
  // Register chains of one clock domain fed from another: a head is a
  // register whose captured inputs come from another domain (through any
  // logic); each next register is the only gate the previous one feeds, in
  // the same domain, up to the integer option 533 on the head's instance
  // name (default 3) registers. The domains are the clocks of the
  // constraints of the last analysis (one runs first when none has): a
  // register's is the clock the analysis gives it (a gated register's, the
  // clock that reaches it), an input port's the one clock its input delays
  // name; an input port without an input delay, or with delays on several
  // clocks, is a domain of its own. A register the constraints leave
  // without a clock, or any register when they cannot be read, is in the
  // domain of the source its clock traces back to. A new vector the caller
  // deletes, or null when the engine holds no timing netlist. The flag
  // argument is accepted for callers (the entries always carry it).
  std::vector<TDC_SYNCHRONIZER_ENTRY>* get_synchronizer_list(bool with_chain_starts);
};
TDC_ACCESSORIES* tdc_get_accessories();

class SSC_UTIL {
 public:
  SSC_UTIL();
  ~SSC_UTIL();
  SSC_UTIL(const SSC_UTIL&) = delete;
  SSC_UTIL& operator=(const SSC_UTIL&) = delete;

  // True while a timing netlist is held.
  bool is_in_use() const { return m_netlist != nullptr; }
  TDB_NETLIST* get_tdb_netlist() const { return m_netlist.get(); }

  // --- building (each is an internal error while a netlist is held; false
  // leaves nothing held)
  bool initialize_netlist(CMP_FACADE* facade, CDB_SGATE_NETLIST* netlist, SSC_DELAY_MODEL model,
                          SSC_OTERM_PAIR_VECTOR* duplicate_oterms);
  // One timing netlist for several gate netlists.
  bool initialize_netlist(CMP_FACADE* facade, std::vector<CDB_SGATE_NETLIST*>& netlists,
                          SSC_DELAY_MODEL model);
  // Loads "tdb_<partition>.tdb" (null: "tdb_generic.tdb") from the project
  // database directory; false, as for no file, where the file cannot be
  // shown to be the current compile's (its stamp: docs/platform.md,
  // "Timing-netlist file").
  bool read_tdb_from_pdb(std::string* partition_name);
  // The same for the gate netlist `netlist`: only the stored netlist its
  // compile recorded on it (CDB_SGATE_NETLIST::get_tdb_origin) is taken,
  // the generic one of that digest or a partition's stitched into it.
  bool read_tdb_from_pdb(std::string* partition_name, const CDB_SGATE_NETLIST* netlist);
  // What a gate netlist of the held netlist's compile records once the
  // held netlist is stored as the generic one (write_tdb_to_pdb(null)
  // succeeded): its digest; none where the held netlist was not stored
  // so or descends from no stored netlist.
  CDB_SGATE_TDB_ORIGIN get_stored_origin() const;
  // Builds the gate netlist's timing netlist and stitches it into the
  // loaded one: its nodes replace loaded nodes of the same name, arcs of the
  // loaded nodes follow. Only its input boundaries cut from their driver by
  // a split take the fan-in of the loaded node of their name; a gate fed
  // from outside the gate netlist keeps its own fan-in and takes an arc from
  // the loaded node of each outside source, and a register clocked from
  // outside the clock source of that name; any other node keeps its own,
  // none where it has none. With per_partition the result is also stored as
  // the partition's netlist. Needs a loaded netlist. Refused, the held netlist
  // left as it was, where the loaded netlist lacks a driver of the gate
  // netlist from outside it that matters (see get_unstitched), or the
  // readers of an output boundary read only in other partitions (see
  // get_unread).
  bool build_tdb_sub_and_merge(CDB_SGATE_NETLIST* netlist, SSC_DELAY_MODEL model, bool is_top,
                               SSC_OTERM_PAIR_VECTOR* duplicate_oterms, bool per_partition,
                               bool loaded_generic, std::string* partition_name);
  // The timing nodes (by name) of the gate netlist the last
  // build_tdb_sub_and_merge was refused for: a cut input boundary whose
  // driver the loaded netlist does not hold, a gate whose source in another
  // gate netlist it does not hold, a register whose clock source it does not
  // hold, each where paths that reach a capture or clock a register would
  // be lost. Empty when the last stitch was not refused so.
  const std::vector<std::string>& get_unstitched() const { return m_unstitched; }
  // Likewise the output boundaries of the gate netlist read only in other
  // partitions whose readers the loaded netlist does not hold (stored
  // before the labelling, or for another partitioning), where paths from
  // the gate netlist through them would be lost.
  const std::vector<std::string>& get_unread() const { return m_unread; }
  // Drops every gate terminal from the held netlist.
  bool convert_tdb_netlist_to_string_based();
  // Stores the held netlist (string-based copy) as "tdb_<name>.tdb"
  // (null: "tdb_generic.tdb"); false when nothing is held or the file
  // cannot be written.
  bool write_tdb_to_pdb(std::string* partition_name);
  bool debug_write_tdb_to_pdb(const char* name);
  bool debug_read_tdb_from_pdb(const char* name);
  // Releases the held netlist; false when none was held.
  bool delete_netlist();

  // --- analysis (needs a held netlist)
  // Fills the maps (the requirement map may be null); with use_relaxed_slack
  // the map's slack is the relaxed slack. False when nothing is held or the
  // constraints cannot be read.
  bool perform_timing_analysis(CDB_SGATE_NETLIST* netlist, SSC_ITERM_TIMING_INFO_MAP* map,
                               SSC_ITERM_REQUIREMENT_INFO_MAP* requirements,
                               bool use_relaxed_slack);
  // Reruns the analysis without filling maps.
  bool update_sta();

  // --- results of the last analysis
  // The clocks by name, in order of definition.
  std::vector<std::string> get_clock_names() const;
  // Worst slack of the paths captured by that clock (null: all);
  // 2147483647 when none. As in OpenSTA's path groups, a path a
  // set_max_delay times counts for the clock of the register it ends at,
  // and for no clock when it ends at an output port.
  int get_worst_slack(const char* clock = nullptr) const;
  // Largest arrival at any capture, over all launch groups; -1 when none.
  int get_worst_arrival() const;
  // Smallest slack of the terminal's arcs; 2147483647 when unconstrained
  // or unknown.
  int get_iterm_slack(const CDB_SGATE_ITERM* iterm) const;
  // The n captures with the smallest slack, one line each.
  std::string report_timing(int npath) const;

  // --- models
  int get_default_lut_delay() const;
  // The mean delay of the netlist's LUTs and logic cells under the held
  // model (0.0 when there are none).
  double compute_average_lut_delay(CDB_SGATE_NETLIST* netlist) const;

  // --- scripts and dumps
  // Evaluates a Tcl command in the process's interpreter; the result text.
  std::string tcl_eval(const char* command);
  // Sources the file when it exists and "ssc_allow_scripts" (on) is on;
  // true when it ran without error. A script that fails is posted as a
  // warning naming the file, with Tcl's error text.
  bool run_script_if_allowed(const std::string& file);
  // Writes the held netlist as text to "tdb_dump[_<name>].txt".
  void dump_tdb_netlist(const char* name);

  CDB_SGATE_OTERM* get_sgate_oterm_from_tdb_node(TDB_NODE* node) const;

  // --- constraint queries on the held netlist (the constraints of the last
  // analysis; when none ran yet, one runs first). False when nothing is held.
  // Whether the terminal is named by a path exception (set_false_path,
  // set_max_delay) or an input/output delay; true where the analysis or
  // the index of its constraints is refused (an error says why): it may be.
  bool oterm_has_sdc_constraint(CDB_SGATE_OTERM* oterm);
  // Whether the terminal is a source of a create_clock; the clock indices
  // (order of definition) are appended to *clock_ids when given. False
  // where the analysis or the index is refused (an error says why).
  bool oterm_is_base_clock(CDB_SGATE_OTERM* oterm, std::vector<int>* clock_ids);
  // Runs the analysis when none ran and indexes its constraints for the
  // queries above: true when the queries answer from the constraints;
  // false, with an error posted, where the analysis or the index is refused
  // (the queries then answer as said above). A caller that asks about many
  // terminals asks this first, so that no answer it collects is a refusal's.
  bool index_constraint_queries();

 private:
  friend class TDC_ACCESSORIES;
  bool run_analysis();
  void fill_maps(SSC_ITERM_TIMING_INFO_MAP* map, SSC_ITERM_REQUIREMENT_INFO_MAP* requirements,
                 bool use_relaxed_slack) const;
  void register_tcl_commands();

  CMP_FACADE* m_facade = nullptr;
  SSC_DELAY_MODEL m_model = SSC_DELAY_MODEL_UNIT;
  std::unique_ptr<TDB_NETLIST> m_netlist;
  std::unique_ptr<kavu_platform::SSC_ANALYSIS> m_analysis;
  std::vector<std::string> m_unstitched;
  std::vector<std::string> m_unread;
};

// The engine; null only while the test hook asks.
SSC_UTIL* ssc_get_util();
// Whether the model can be built for the compile: models 0 and 1 always
// (with a facade), model 2 when the facade names a family of the catalogue.
bool ssc_check_delay_model_validity(CMP_FACADE* facade, SSC_DELAY_MODEL model);
// Forgets the constraint-file warnings already posted, so that the next
// read of a file posts them again (a new compile in the same process).
void ssc_forget_posted_warnings();
// Drops the constraint reads the engine keeps for the next analysis of the
// same file and netlist, and their memory (a new compile in the process).
void ssc_forget_kept_reads();
// Bytes the kept reads hold (texts, netlist keys and constraints): at most
// 16 MiB.
size_t ssc_kept_read_bytes();
// The output terminals of the registers of `netlist` that the constraint
// file (key "ssc_sdc_file") names, as oterm_has_sdc_constraint counts them
// where the engine holds a timing netlist (the points of path rules and
// I/O delays, and every register a command names, applied or skipped),
// in node-list order: read against a timing netlist of `netlist` alone,
// made for the call and dropped after it, so that the engine need hold
// none, and what it holds is left as it is. Where `netlist` is fed from
// outside (a part of a split design), its registers' clocks may come from
// elsewhere, and all_registers -clock names every register. False, with
// *why, when no file is named, it cannot be read, its text is refused or
// memory is refused: any register may then carry a constraint. Nothing is
// posted.
bool ssc_sdc_named_register_oterms(CDB_SGATE_NETLIST* netlist, std::vector<CDB_SGATE_OTERM*>* oterms,
                                   std::string* why);
// The same, and from the same read, where `synchronizers` is given, the
// synchronizer chains of `netlist` under the file's clocks, as
// TDC_ACCESSORIES::get_synchronizer_list finds them where the engine holds
// a timing netlist of `netlist` alone under that file: each chain's
// registers' output terminals, in order, the head's marked true. What
// comes from outside `netlist` (a cut input boundary, an input whose
// source is in another gate netlist) is a domain of its own, as an input
// port without a delay, since its driver's clock is not known here; a
// register clocked from outside is in the domain of that clock source, by
// its name. False as above, both lists empty.
bool ssc_sdc_netlist_registers(CDB_SGATE_NETLIST* netlist, std::vector<CDB_SGATE_OTERM*>* oterms,
                               std::vector<std::pair<CDB_SGATE_OTERM*, bool>>* synchronizers, std::string* why);

// The format version of the timing-netlist files the engine writes; files
// of earlier versions are read but taken as no stored netlist.
constexpr int SSC_TDB_FILE_VERSION = 4;

class TDB_MANAGER {
 public:
  static TDB_MANAGER* get();
  TDB_NETLIST* get_tdb_netlist() const;
  // Whether "tdb_<name>.tdb" (null: the generic one) is stored, as
  // read_tdb_from_pdb would take it (from the file's stamp alone).
  bool sgate_sta_netlist_on_disk(std::string* partition_name) const;
  // The format version of the file stored there (below SSC_TDB_FILE_VERSION:
  // written by an earlier version of the library, which no read takes); 0
  // for none, or a file whose head cannot be read or whose last write failed.
  int sgate_sta_netlist_version(std::string* partition_name) const;
};

namespace kavu_platform {
// While on, ssc_get_util() returns null.
void ssc_set_util_missing(bool missing);
// Releases the engine's netlist and results (called by plat_test_reset_all).
void ssc_test_reset();
// Analyses run by the engine since the last reset (tests count them).
int ssc_analysis_count();
}  // namespace kavu_platform
