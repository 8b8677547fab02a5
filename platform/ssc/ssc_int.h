// Role: timing engine (docs/platform.md, "Timing engine").
// ssc_int.h — the timing engine's internal records: the timing netlist's
// storage, the constraints read from SDC and the results of an analysis.
#pragma once

#include <climits>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "ssc/ssc.h"

namespace kavu_platform {

constexpr int32_t SSC_INVALID = INT32_MIN;  // no arrival / no downstream path

// Arrival, downstream and required times and slacks saturate at
// SSC_TIME_MIN and SSC_TIME_MAX rather than wrap: gate delays and I/O delays
// may each be near the 32-bit range, and a sum past it keeps its sign (a
// path longer than the range reads as violating by the range). The two
// values next to the range's ends stay free for SSC_INVALID and
// SSC_UNCONSTRAINED_SLACK.
constexpr int32_t SSC_TIME_MIN = INT32_MIN + 1, SSC_TIME_MAX = INT32_MAX - 1;
inline int32_t ssc_saturate(int64_t t) {
  return t < SSC_TIME_MIN ? SSC_TIME_MIN : (t > SSC_TIME_MAX ? SSC_TIME_MAX : int32_t(t));
}
inline int32_t ssc_time_add(int32_t a, int32_t b) { return ssc_saturate(int64_t(a) + b); }

// The largest timing-netlist file written or read: some 60 to 110 bytes a
// gate, so a netlist of about five million gates. A read takes the text and
// at most about 4 times its size more (see read_text), under 3 GiB.
constexpr uint64_t SSC_MAX_TDB_FILE_BYTES = uint64_t(512) << 20;

// The delays of one model for one compile.
struct SSC_DELAYS {
  SSC_DELAY_MODEL model = SSC_DELAY_MODEL_UNIT;
  int lut = 1, comb = 1, mux = 1, oper = 1, lcell = 1, carry = 0;
  int fanout_step = 0;  // model 1: per fan-out of the driven output
};
SSC_DELAYS ssc_make_delays(CMP_FACADE* facade, SSC_DELAY_MODEL model);
// The delay of a gate's arcs into output `out` (may be null) under `d`.
int ssc_gate_delay(const CDB_SGATE_NODE* gate, const CDB_SGATE_OTERM* out, const SSC_DELAYS& d);

// A 128-bit digest (ssc_sdc_netlist_digest).
struct SSC_NETLIST_DIGEST {
  uint64_t lo = 0, hi = 0;
  bool operator==(const SSC_NETLIST_DIGEST&) const = default;
};

// What a stored timing netlist is, carried by its file (version 4): its
// own digest (ssc_stored_netlist_digest of the netlist as stored), which a
// read compares with the digest of the netlist as read, so that a damaged
// file is refused; and the generic netlist it descends from (that netlist's
// own digest; a partition's netlist stitched into it carries it on; none:
// made from gate netlists alone). The compile that stores the generic
// netlist records its digest on each gate netlist it was given
// (CDB_SGATE_NETLIST::get_tdb_origin), and a partition's analysis takes
// only a stored netlist of that origin. Files of versions 1 to 3, written
// by earlier versions of the library, carry no such stamp (known false;
// version 3 carries a stamp of the same form, without the arcs' senses).
struct SSC_NETLIST_STAMP {
  uint32_t version = 0;  // of the file read (0: not read from a file)
  bool known = false;
  SSC_NETLIST_DIGEST own;
  bool from_generic = false;
  SSC_NETLIST_DIGEST generic;
};

// A 128-bit digest of every field a timing-netlist file of version 3 holds:
// each node's kind, clock source and edge, arcs (source, delay, kind) and
// name, in order. O(nodes + arcs + name bytes), without allocating.
SSC_NETLIST_DIGEST ssc_netlist_file_digest(const SSC_NETLIST_DATA& data);
// The same with the arcs' senses folded in: every field a file of this
// version holds (the stamp's own digest).
SSC_NETLIST_DIGEST ssc_stored_netlist_digest(const SSC_NETLIST_DATA& data);

struct SSC_NETLIST_DATA {
  std::vector<TDB_NODE> nodes;
  std::vector<TDB_ARC> arcs;
  int cut_arcs = 0;
  // The driven input terminals of the built gates that have no arc (an
  // input a LUT's function ignores, a source outside the netlists): no
  // path runs through them, and the analysis gives each the entry of an
  // unreached terminal. Empty once string-based or loaded.
  std::vector<CDB_SGATE_ITERM*> iterms_without_arcs;
  // The input boundaries a partition split cut from their driver, where the
  // built netlists do not hold that driver: only these take a stored
  // netlist's fan-in, that of its node of their name, when stitched
  // (merge_loaded). Empty once string-based or loaded.
  std::vector<uint32_t> stitch_nodes;
  // A driven input whose source lies outside the built netlists (a gate fed
  // from another gate netlist): its arc, without a source, and the name of
  // the source's node, which a stored netlist stitched in supplies
  // (merge_loaded adds the arc after the node's own). Likewise a clock
  // that traces back, through buffers, inverters and boundaries, to a
  // source outside the built netlists: the node it clocks (a register, or
  // an input boundary's clock fields) and the name of that source's node.
  // Empty once string-based or loaded.
  struct OUTSIDE_ARC {
    uint32_t node;
    TDB_ARC arc;
    std::string source;
  };
  struct OUTSIDE_CLOCK {
    uint32_t node;
    bool inverted;
    std::string source;
  };
  std::vector<OUTSIDE_ARC> outside_arcs;
  std::vector<OUTSIDE_CLOCK> outside_clocks;
  // The output boundaries a partition split cut (their readers may lie in
  // other partitions, which a stored netlist supplies when stitched:
  // merge_loaded), in node order, and per boundary whether a cut input
  // boundary of the built netlists is joined to it. Empty once
  // string-based or loaded.
  std::vector<uint32_t> outward_nodes;
  std::vector<char> outward_joined;
  // Set by merge_loaded: the nodes of the built netlists whose fan-in or
  // clock from outside them the loaded netlist does not hold (a cut input
  // boundary without a driver there, a source or clock source it lacks),
  // where it matters: their data reaches a capture, or they are or feed a
  // register's clock. Each lost path would leave the partition's figures
  // optimistic.
  std::vector<uint32_t> unstitched;
  // Set by merge_loaded: the outward nodes the loaded netlist does not
  // serve (not the readers the split found for the boundary, where paths
  // may be lost): the paths from the partition through each into other
  // partitions would be lost, the figures of its fan-in optimistic.
  std::vector<uint32_t> unread;
  // The labelling of the gate netlists built (CDB_SGATE_LABELLING: their
  // boundary gates), which a stored generic netlist records as made for
  // (SSC_UTIL::get_stored_origin). Not part of the file.
  uint64_t labelling = 0;
  // Where it descends from (from_generic, generic: set by the engine when
  // it stores or reads the netlist) and, once read, the file's own digest
  // and version; written into the file with the digest of the netlist as
  // written. build() leaves it as it was.
  SSC_NETLIST_STAMP stamp;

  // The gate path part of a node's name (before the last '/').
  static std::string gate_path_of(const std::string& node_name);
  // Builds from gate netlists; the previous content is dropped.
  void build(const std::vector<CDB_SGATE_NETLIST*>& netlists, const SSC_DELAYS& delays);
  // Loaded nodes not in this netlist are appended (see build_tdb_sub_and_merge);
  // of this netlist's nodes, only stitch_nodes take the fan-in of the
  // loaded node of their name, and outside_arcs and outside_clocks are
  // joined to the loaded nodes they name; what the loaded netlist lacks of
  // them, where it matters, is listed in `unstitched`, and the outward
  // nodes it reads nowhere in `unread`.
  void merge_loaded(const SSC_NETLIST_DATA& loaded);
  void drop_gate_pointers();
  // Text form: write to / read from a file of at most `max_bytes`; false on
  // an I/O or format error, with *problem (when given) set to the reason
  // ("cannot read the file: Permission denied", "line 3: malformed arc
  // record …"). A refused read keeps the content as it was; a refused write
  // (a text past the bound, a name holding a line end or a NUL byte, a
  // failed write) leaves what was at the path as it was, written the
  // platform's way (FIO_FILE_REPLACEMENT, in place too: one of several hard
  // links keeps its text). So every file the writer leaves whole, the
  // reader takes.
  bool write_file(const std::string& path, std::string* problem = nullptr,
                  uint64_t max_bytes = SSC_MAX_TDB_FILE_BYTES) const;
  // write_file of a stored netlist, a file of the caller's own in the
  // database directory that others may share (FIO_FILE_REPLACEMENT::
  // open_own_file): a link of another's, a file of several names, a FIFO or
  // a device at the path is refused, never written through, and another
  // user's file is replaced where the directory allows, else refused.
  // `digest` (may be null): the netlist's own digest
  // (ssc_stored_netlist_digest), where the caller has made it already.
  bool store_file(const std::string& path, std::string* problem = nullptr,
                  const SSC_NETLIST_DIGEST* digest = nullptr) const;
  bool read_file(const std::string& path, std::string* problem = nullptr,
                 uint64_t max_bytes = SSC_MAX_TDB_FILE_BYTES);
  // The text form itself (what read_file reads once the file is in memory).
  bool read_text(std::string_view text, std::string* problem);
  // The stamp from the head of a stored file alone (the whole file is not
  // read, nor its digest checked): false for a file that cannot be read or
  // whose head is malformed. stamp->version is set once the header's tag
  // and version are read (1, 2 or 3); a file of version 1 or 2 gives true
  // with its stamp not known. Memory the system refuses for the read
  // (ENOMEM) is std::bad_alloc, not a file that cannot be read: a stored
  // netlist is never taken for none because memory ran short.
  static bool read_file_head(const std::string& path, SSC_NETLIST_STAMP* stamp);
  // Node id by name (first of equal names); -1 when absent.
  int find(const std::string& name) const;
  void index_names() const;

  mutable std::unordered_map<std::string, uint32_t> by_name;
  mutable bool names_indexed = false;

  // Field access for the engine's own files (TDB_NODE keeps them private).
  static void set_arcs(TDB_NODE& n, uint32_t b, uint32_t e) { n.m_arc_begin = b; n.m_arc_end = e; }
  static void set_name(TDB_NODE& n, std::string name) { n.m_name = std::move(name); }
  static uint32_t arc_begin(const TDB_NODE& n) { return n.m_arc_begin; }
  static uint32_t arc_end(const TDB_NODE& n) { return n.m_arc_end; }

 private:
  // merge_loaded's check of the outward nodes (the first `own` nodes are
  // this netlist's; map: loaded id -> merged id).
  void check_outward_nodes(const SSC_NETLIST_DATA& loaded, const std::vector<uint32_t>& map, uint32_t own);
  bool write_text_file(const std::string& path, bool own, std::string* problem, uint64_t max_bytes,
                       const SSC_NETLIST_DIGEST* digest = nullptr) const;
};

// The sense of the function of t's gate in its input t, t's own inversion
// included: 1 positive unate (an output edge follows an input edge), -1
// negative unate (inverts it), 0 neither (binate, or a kind whose function
// the engine does not read: operators, atoms other than clock buffers). An
// input the function does not depend on counts as positive. Read from the
// function: buffers, name keepers and partition boundaries (a wire for
// timing), AND and OR pass, NOT inverts, XOR of one driven input passes and
// of more is binate, a LUT from its mask, a MUX passes its data inputs and
// is binate in its select. An arc whose terminal is dropped keeps it
// (TDB_ARC::m_sense, drop_gate_pointers), and the file stores it, so clocks
// pass a loaded netlist's arcs as they pass the gates.
int ssc_input_sense(const CDB_SGATE_ITERM* t);
// Whether the function of t's gate depends on its input t: false only for
// an input a LUT's mask ignores, which has no arc in the timing netlist (as
// a cell whose timing arcs follow its function has none there).
bool ssc_input_is_used(const CDB_SGATE_ITERM* t);
// ssc_input_sense of the inputs of one node's arcs in turn: a node's arcs
// enter its gate's inputs in input order, so each input's place is looked
// for from the last one's on, and a node costs O(inputs + arcs) rather than
// a search per input. One reader per node (it may be reused for the next).
// An arc's sense is its terminal's, or the one kept once the terminal is
// dropped (TDB_ARC::m_sense).
class SSC_SENSE_READER {
 public:
  int sense(const CDB_SGATE_ITERM* t);
  int sense(const TDB_ARC& arc) { return arc.m_iterm ? sense(arc.m_iterm) : arc.m_sense; }

 private:
  const CDB_SGATE_NODE* m_gate = nullptr;
  unsigned m_at = 0;
};
// The sense of an arc on its own (see SSC_SENSE_READER).
inline int ssc_arc_sense(const TDB_ARC& arc) { return arc.m_iterm ? ssc_input_sense(arc.m_iterm) : arc.m_sense; }

// Topological order of the nodes over data arcs, loops cut at the smallest
// unfinished node id; pos[id] is the node's place in `order`. Returns the
// number of arcs cut (source not before its node).
int ssc_topological_order(const SSC_NETLIST_DATA& data, std::vector<uint32_t>* order,
                          std::vector<uint32_t>* pos);
// Per node: whether its data reaches, through logic, a loop: one of logic
// alone, or one through a register's clock pin (logic that clocks a
// register whose output feeds it back; its clock-to-output arc counts, as
// OpenSTA's levelizer counts it). Where the engine cuts such a loop for
// data need not be where OpenSTA's levelizer cuts it. With `feeds` (per
// node: its data reaches a capture through logic), only the loops' logic
// nodes whose data reaches a capture count, and data reaches them through
// logic alone: where a path to a capture may run through such a loop.
// O(nodes + arcs).
std::vector<char> ssc_reaches_loop(const SSC_NETLIST_DATA& data, const std::vector<char>* feeds = nullptr);

// ---------------------------------------------------------------- constraints

struct SSC_SDC_CLOCK {
  std::string name;
  int period = 0;
  int rise = 0;
  int fall = 0;
  std::vector<uint32_t> sources;  // node ids (empty: a virtual clock)
};

struct SSC_SDC_IO_DELAY {
  bool input = true;
  int clock = -1;  // -1: applied without a clock ("-clock *" names none)
  bool clock_fall = false;
  int value = 0;
  std::vector<uint32_t> nodes;
};

struct SSC_SDC_PATH_RULE {
  bool max_delay = false;  // set_max_delay (else set_false_path)
  int value = 0;
  // set_max_delay -ignore_clock_latency: as in OpenSTA, the launch edge's
  // time of an input port's delay counts in its arrival (a register's does
  // not, the clocks being ideal), and the paths count in no clock's worst.
  bool ignore_clock_latency = false;
  bool has_from = false, has_to = false;
  std::vector<int> from_clocks, to_clocks;
  std::vector<uint32_t> from_nodes, to_nodes;
};

// What the analysis reads of the path rules to make its groups' rule sets,
// worked out once per read (ssc_index_path_rules) and kept with it, so that
// each analysis of a kept read neither sorts the points' rules again nor
// copies the rules. Per side (0 -from, 1 -to), of the rules held in rule
// sets: those without that side, those naming each clock, and the (node,
// rule) pairs of the points named, sorted.
struct SSC_PATH_RULE_INDEX {
  bool built = false;
  std::vector<int> every[2];
  std::vector<std::vector<int>> by_clock[2];
  std::vector<std::pair<uint32_t, int>> named[2];
  size_t bytes() const;  // the heap blocks it holds
};

struct SSC_CONSTRAINTS {
  std::vector<SSC_SDC_CLOCK> clocks;
  std::vector<SSC_SDC_IO_DELAY> io_delays;
  std::vector<SSC_SDC_PATH_RULE> rules;
  // "line N: ..." for targets that match nothing and for commands and
  // options read but not applied (the engine posts them as warnings): the
  // first kMaxWarnings of them; more_warnings counts the rest.
  static constexpr size_t kMaxWarnings = 100;
  std::vector<std::string> warnings;
  size_t more_warnings = 0;
  // The registers any command of the file names, whether the engine
  // applies the command or skips it with a warning (sorted node ids).
  std::vector<uint32_t> named_registers;
  // The input ports a -min input delay names (sorted node ids): without a
  // delay in io_delays as well, such a port starts no path. Likewise the
  // output ports a -min output delay names end none, not even under
  // set_max_delay (OpenSTA times them for hold only).
  std::vector<uint32_t> min_delay_inputs, min_delay_outputs;
  // Clock sources that feed data logic (whether they clock registers or
  // none): input ports, and nets inside the logic (a gate's output, a
  // register's), whose data paths are timed as OpenSTA times them: launched
  // at each edge of each of their clocks (sorted node ids). A source whose
  // data reaches a logic loop is not among them (a warning names it).
  std::vector<uint32_t> clock_data_ports;
  // A clock starts where it is created, as in OpenSTA (set by the reader):
  // data from before a net inside the logic that a clock is created on
  // does not pass it, and a register whose output is a clock's source
  // launches on that clock alone (as clock data), no longer on its own
  // clock. Default clocks (ssc_default_clocks) leave false: their sources,
  // the traced clock sources, pass data and launch as the netlist has them.
  bool clocks_start_at_sources = false;
  // Made by the read; an analysis of constraints without it makes its own.
  SSC_PATH_RULE_INDEX rule_index;
};
// Makes c->rule_index from c's path rules and clocks.
void ssc_index_path_rules(SSC_CONSTRAINTS* c);

// The clocks of every register under the clocks `clocks`, as OpenSTA
// propagates ideal clocks: a register whose clock source (traced at build
// through buffers and inverters) is a clock's source takes the first clock
// on it; one whose clock comes through other logic (a gated clock) takes
// every clock that reaches its clock source, each on the edge it arrives on
// (inverted through each inverting gate), or on both edges where a path is
// not unate in the clock (a gate the netlist no longer holds counts so).
// Loops in that logic are settled whole.
struct SSC_REGISTER_CLOCKS {
  std::vector<int> of_source;  // per node: the first clock defined on it (-1: none)
  std::vector<int> clock;      // per node: a register's (first) clock index (-1: none)
  // Per node: the edges of that clock a register captures and launches on:
  // 1 the rising edge, 2 the falling edge, 3 both (0 without a clock).
  std::vector<char> edges;
  // A register's further clocks, where several reach it through gates.
  struct MORE {
    uint32_t reg;
    int clock;
    char edges;
  };
  std::vector<MORE> more;  // by register, then clock
};
void ssc_register_clocks(const SSC_NETLIST_DATA& data, const std::vector<SSC_SDC_CLOCK>& clocks,
                         SSC_REGISTER_CLOCKS* out);

// The synchronizer chains of `data` under the constraints `c` (null: none
// readable), as TDC_ACCESSORIES::get_synchronizer_list describes them, into
// *list (cleared first). With `outside_own_domain`, a cut input boundary
// without its driver and an input whose source lies outside the built
// netlists are domains of their own, as an input port without a delay
// (their drivers' clocks are not known here), and a register clocked from
// outside them is in the domain of that clock source, by its name.
// O(nodes + arcs) beside the register clocks and the topological order.
void ssc_synchronizer_list(const SSC_NETLIST_DATA& data, const SSC_CONSTRAINTS* c, bool outside_own_domain,
                           std::vector<TDC_SYNCHRONIZER_ENTRY>* list);

// The most bytes of a constraint file the engine reads.
constexpr uint64_t SSC_MAX_SDC_FILE_BYTES = uint64_t(256) << 20;

// Reads the SDC subset; false with *error naming the line. Where the
// clocks of `data`'s registers may come from outside it (a part of a
// design: clocks_known false), all_registers -clock takes every register,
// as any may be of the clocks named.
bool ssc_read_sdc(const std::string& text, const SSC_NETLIST_DATA& data, SSC_CONSTRAINTS* out,
                  std::string* error, bool clocks_known = true);
// What ssc_read_sdc's result depends on in `data` (the nodes' names,
// kinds and clocks, their arcs, and the sense of each arc's gate in its
// input, ssc_input_sense), as a 128-bit digest of those fields: two
// netlists with equal digests read every text into equal constraints (but
// for a collision, near 2^-128), so a read may be kept and given again while
// the text and the digest stay equal. 16 bytes whatever the netlist's size;
// O(nodes + arcs + name bytes) to make, without allocating.
SSC_NETLIST_DIGEST ssc_sdc_netlist_digest(const SSC_NETLIST_DATA& data);
// Default clocks: every traced register clock source, period `period`.
void ssc_default_clocks(const SSC_NETLIST_DATA& data, int period, SSC_CONSTRAINTS* out);

// ---------------------------------------------------------------- results

// A launch or capture group: a clock edge (clock -1: no clock) and the set
// of max-delay rules whose from (to) side holds the group's points, so that
// every path between two groups is timed by one requirement. Output ports
// capture in groups of their own (at_port) while some start point has no
// clock: such a start reaches their output delays, not register captures.
// Input ports launch in groups of their own (at_port) while some max-delay
// rule ignores clock latency: their launch edge's time counts under it.
struct SSC_GROUP {
  int clock = -1;
  bool falling = false;
  bool capture = false;
  int rule_set = 0;  // index into SSC_ANALYSIS::rule_sets
  bool at_port = false;
  // A launch without a clock from a port whose input delay names clock
  // `via` (a register whose clock port has no clock): a false path from
  // that clock alone removes it, as in OpenSTA; max-delay rules from the
  // clock, and false paths from it to capture clocks, do not apply to it.
  // -2: a clock port's data, while a max-delay rule ignores clock latency.
  int via = -1;
};

// The max-delay rules one side (-from or -to) of which holds a group's
// points: those naming the points and not `clock` (sorted rule indices),
// every rule naming `clock` on that side (-1: none), and every rule without
// that side. The last two are implied, not listed, so a set's size is that
// of the rules naming its points.
struct SSC_RULE_SET {
  int clock = -1;
  std::vector<int> named;
  bool operator<(const SSC_RULE_SET& o) const { return clock != o.clock ? clock < o.clock : named < o.named; }
};

struct SSC_ANALYSIS {
  // The constraints analysed, shared with the kept read they came from
  // (never null once analysed).
  std::shared_ptr<const SSC_CONSTRAINTS> read;
  const SSC_CONSTRAINTS& constraints() const { return *read; }
  std::vector<SSC_GROUP> groups;
  std::vector<SSC_RULE_SET> rule_sets;  // [0] is empty
  std::vector<int32_t> arc_slack;    // per arc; SSC_UNCONSTRAINED_SLACK when none
  std::vector<int32_t> arc_req;      // relation of the worst pair
  std::vector<int32_t> arc_relaxed;  // relaxed slack
  std::vector<int32_t> worst_per_clock;  // by capture clock
  int32_t worst_all = SSC_UNCONSTRAINED_SLACK;
  int32_t worst_arrival = -1;
  int cut_arcs = 0;  // data arcs cut to break loops (ssc_topological_order)
  // The first node (in the passes' order) where a time went past the 32-bit
  // range and saturated; -1 when none did.
  int64_t saturated_node = -1;
  // The most required times the required pass held at once (the slots of
  // its pool of blocks; 0 where it did not run): the blocks of the nodes
  // between a reader and the node, given back as each node is done.
  size_t required_peak = 0;
  // Terminal indices of the constraint queries, built on first query.
  bool query_index_built = false;
  std::unordered_map<const CDB_SGATE_OTERM*, bool> constrained_oterms;
  std::unordered_map<const CDB_SGATE_OTERM*, std::vector<int>> clock_source_oterms;
};

// Counts one analysis run (ssc_analysis_count).
void ssc_note_analysis_run();
// Counts one event for the tests (ssc_test_counts, platform_test_hooks.h).
enum SSC_TEST_EVENT { SSC_TEST_RULE_INDEX, SSC_TEST_READ_KEPT, SSC_TEST_READ_REUSED };
void ssc_note_test_event(SSC_TEST_EVENT event);

// Runs the analysis of `data` under `c` (moved into the result, or shared
// with the caller).
void ssc_analyze(const SSC_NETLIST_DATA& data, SSC_CONSTRAINTS c, SSC_ANALYSIS* out);
void ssc_analyze(const SSC_NETLIST_DATA& data, std::shared_ptr<const SSC_CONSTRAINTS> c, SSC_ANALYSIS* out);

// Relation between a launch edge (period p1, offset o1) and a capture edge
// (p2, o2): the smallest positive gap from a launch edge to the next
// capture edge over one common period, in closed form (the offset
// difference modulo the gcd of the periods); the period itself for equal
// edges of one clock. A clock of period 0 captures at time 0 (-o1), and
// launches into the capture edge of the first cycle (o2 taken into
// (0, p2], minus o1: 0 or less for a launch at or after it).
int ssc_edge_relation(int p1, int o1, int p2, int o2);

}  // namespace kavu_platform
