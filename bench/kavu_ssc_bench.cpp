// kavu_ssc_bench.cpp — timing analysis during synthesis beside OpenSTA in
// the same run, both as whole processes.
//
//   BM_TimingAnalysisInProcess/<design>
//                 kavu_ssc_perform_timing_analysis on a loaded design (the
//                 largest bundled one, and a generated netlist of 10^6
//                 gates with two clocks): build, analysis and map, in
//                 process; terminals per second
//   BM_WholeProcess/<design>   (the largest bundled design)
//                 ours: this program's --analyze mode (read or generate the
//                 netlist, set up the compile, run the analysis, print the
//                 worst slack per clock); peer: `sta` reading the same
//                 netlist as Verilog over the Liberty cells of the delay
//                 model and the same constraints as SDC, then printing the
//                 worst slack of each clock's path group: both sides are
//                 asked for the same report. The two run in turn, each
//                 first in every other pair. Wall time, peak memory and
//                 ours / sta.
//   BM_ManyPathCommands   a generated netlist of 60,000 registers under
//                 2,000 exact-name false paths and 2,000 multicycle paths,
//                 in process beside the same file without them, and as
//                 whole processes beside sta (see the function).
//   BM_ManyMaxDelayRules  a generated netlist of 20,000 registers under
//                 66,000 max-delay and false-path lines along its paths,
//                 every register a group of its own (see the function).
//   BM_AnalysisSequence/<design>  bundled designs, analyses in sequence in
//                 one process: the first, second and later ones of one
//                 file, and after edits that move a gate's inputs.
//   BM_KeptReadLargeNetlist  a generated netlist of 10^6 gates under 2,000
//                 wildcard false paths, four analyses in one process.
//   BM_CompatibleRegisterRecord/<design>/<way>  the compatible-register
//                 record under the constraints below and a false path from
//                 every register: built from the engine (0), or by the
//                 fallback where the engine cannot be set up (1, two
//                 partitions, nothing stored); registers kept apart and
//                 chained as counters, to compare builds.
//   BM_ManyGroupsSharedLogic/N  N registers through shared logic into N
//                 others, a max-delay rule per pair (2N groups); the peak
//                 memory of one analysis as a whole process, beside a
//                 reference build's (KAVU_BENCH_REFERENCE_LIBS, see the
//                 function).
//   BM_StitchedAnalysis/<design>  a bundled design labelled for two
//                 partitions, its flattened timing netlist stored from the
//                 split partitions, each partition analysed in turn through
//                 the stored netlist as a helper analyses it (read back,
//                 stitched, stored as the partition's): write_ms, the store;
//                 first_ms and later_ms, a partition's first and later
//                 analyses. `--stitched` (see stitched_mode) runs the same as a
//                 whole process, to count the instructions of the store, the
//                 reads and the stitched analyses under callgrind beside an
//                 earlier build's and to compare their slacks.
//   The figures of earlier builds beside these are in docs/performance.md;
//   `--sequence` (see sequence_mode) runs the same sequences as a whole
//   process, to count each analysis's instructions under callgrind and to
//   compare the slacks of two builds.
// Results compared: before its timed runs BM_WholeProcess analyses the
// design in process and asks sta (untimed) for the worst slack of every
// clock and the slack of every register end point (every driven data,
// enable, synchronous clear and load input; the oracle names gate pins, so
// paths into output pins are compared through each clock's worst slack);
// each must equal ours within sta's rounding (a hundredth of a unit, or a
// few parts per million), as the tests' oracle requires. A difference
// fails the benchmark and the program's exit status. sta must answer: a run
// that ends otherwise than with status 0, or prints an error line (sta
// reports a command that fails, such as a read_liberty of a missing file,
// and goes on to end with status 0), or lacks the report asked for, or
// prints a figure that is not a number (a worst slack "INF": no path at
// all, where each design has constrained paths) fails the row as sta's
// failure, quoting its error, not as a difference.
// The generated netlist takes sta a quarter of an hour or more per run, too
// long for the paired runs of BM_WholeProcess; it is timed once per side
// with the --write-sta-inputs mode and a whole-process timer:
//   kavu_ssc_bench --write-sta-inputs random:1000000 DIR
//   /usr/bin/time -v kavu_ssc_bench --analyze random:1000000 DIR/t.sdc
//   (cd DIR && /usr/bin/time -v sta -no_splash -exit run.tcl)
// The generated netlist: 64 inputs and two clock pins; 10^6 gates, each
// 1-4-input LUT reading from the last 1000 signals, every tenth gate a
// register on clock 0 or 1 in turn.
// Constraints, the same for every design: a clock on every input pin that
// drives a register's clock input (periods 3000, 4000, ...; a virtual clock
// of 3000 when there is none), an input delay of 100 on every other input
// pin against the first clock and an output delay of 200 on every output
// pin against the last. A missing sta skips the peer rows with a message.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "bench_support.h"
#include "cdb/cdb_sgate.h"
#include "cmp/cmp.h"
#include "gen/gen.h"
#include "hdb/hdb.h"
#include "kavu_partition.h"
#include "kavu_partition_netlists.h"
#include "kavu_setup.h"
#include "kavu_ssc.h"
#include "netlist_io/blif.h"
#include "netlist_io/oracle_process.h"
#include "netlist_io/sta_oracle.h"
#include "testkit/platform_test_hooks.h"
#include "zhd/zhd.h"

using namespace kavu_platform;
using namespace kavu_bench;

namespace {

constexpr int GENERATED_GATES = 1000000;
const char* const DESIGNS[] = {"largest", "random:1000000"};

HDB_INSTANCE_NAME* top_child(HDB_INSTANCE_NAME* top, const std::string& name) {
  return HDB_INSTANCE_NAME::create_normal_name(nullptr, name.c_str(), nullptr, nullptr, top);
}

// A pin of a generated netlist, named under `top`.
CDB_SGATE_IO* add_pin(CDB_SGATE_NETLIST* nl, HDB_INSTANCE_NAME* top, const std::string& name, CDB_IO_TYPE type) {
  auto* p = new CDB_SGATE_IO(nullptr, type);
  p->set_instance_name(top_child(top, name));
  if (p->get_output_term(0)) p->get_output_term(0)->set_instance_name(p->get_instance_name());
  nl->add_node(p);
  return p;
}

// A LUT of 1-4 inputs with a random function: `first` (when given) and
// others from the last 1000 of `sources`.
CDB_SGATE_OTERM* add_random_lut(CDB_SGATE_NETLIST* nl, GEN_RAND& rand, const std::vector<CDB_SGATE_OTERM*>& sources,
                                CDB_SGATE_OTERM* first) {
  const unsigned n = 1 + unsigned(rand.get_int(4));
  CDB_LUTMASK m;
  uint64_t mask = rand.get_uint() & ((n == 4 ? 0xffffull : (1ull << (1u << n)) - 1));
  if (mask == 0 || mask == ((1ull << (1u << n)) - 1)) mask = 0x6;
  m.set_value(n, mask);
  auto* lut = new CDB_SGATE_LUT(nullptr, m);
  for (unsigned i = 0; i < n; ++i) {
    CDB_SGATE_ITERM* t = lut->create_input_term(nullptr, DB_INPUT_PORT_TYPE(12 + i));
    lut->set_input_term(t, i);
    const size_t window = std::min<size_t>(sources.size(), 1000);
    t->set_source(i == 0 && first ? first : sources[sources.size() - 1 - size_t(rand.get_int(int(window)))]);
  }
  nl->add_node(lut);
  return lut->get_output_term(0);
}

// The generated two-clock netlist (see the file comment).
CDB_SGATE_NETLIST* make_two_clock_dag(int gates, uint64_t seed) {
  auto* nl = new CDB_SGATE_NETLIST;
  HDB_INSTANCE_NAME* top = HDB_INSTANCE_NAME::create_normal_name(nullptr, "top", nullptr, nullptr, nullptr);
  auto pin = [&](const std::string& name, CDB_IO_TYPE type) { return add_pin(nl, top, name, type); };
  std::vector<CDB_SGATE_OTERM*> signals;
  CDB_SGATE_OTERM* clocks[2] = {pin("clk0", CDB_IO_INPUT)->get_output_term(0), pin("clk1", CDB_IO_INPUT)->get_output_term(0)};
  for (int i = 0; i < 64; ++i) signals.push_back(pin("in" + std::to_string(i), CDB_IO_INPUT)->get_output_term(0));
  GEN_RAND rand(seed);
  auto recent = [&]() { return signals[signals.size() - 1 - rand.get_int(int(std::min<size_t>(signals.size(), 1000)))]; };
  for (int g = 0; g < gates; ++g) {
    if (g % 10 == 9) {
      auto* r = new CDB_SGATE_DFF(top_child(top, "r" + std::to_string(g)));
      r->create_all_inputs();
      r->get_input_term(CDB_DFF_DATA)->set_source(recent());
      r->get_input_term(CDB_DFF_CLK)->set_source(clocks[(g / 10) % 2]);
      nl->add_node(r);
      signals.push_back(r->get_output_term(0));
      continue;
    }
    signals.push_back(add_random_lut(nl, rand, signals, nullptr));
  }
  for (int i = 0; i < 64; ++i) {
    auto* out = pin("out" + std::to_string(i), CDB_IO_OUTPUT);
    out->get_input_term(0)->set_source(signals[signals.size() - 1 - size_t(i)]);
  }
  return nl;
}

// "registers:N": N registers on clocks clk0 and clk1 in turn, each behind
// a chain of LUTs whose other inputs are earlier registers and input pins,
// as in a pipelined design: one to three LUTs, ten for one register in 200
// (so that few registers launch the worst paths). Each register is named
// "g" and its gate index, the name sta's netlist gives the same gate
// (sta_write_inputs numbers the gates after the input pins in node-list
// order), so one SDC text names the same cells for both. Its 64 outputs
// read the last registers.
CDB_SGATE_NETLIST* make_register_rich_dag(int registers, uint64_t seed) {
  auto* nl = new CDB_SGATE_NETLIST;
  HDB_INSTANCE_NAME* top = HDB_INSTANCE_NAME::create_normal_name(nullptr, "top", nullptr, nullptr, nullptr);
  auto pin = [&](const std::string& name, CDB_IO_TYPE type) { return add_pin(nl, top, name, type); };
  CDB_SGATE_OTERM* clocks[2] = {pin("clk0", CDB_IO_INPUT)->get_output_term(0), pin("clk1", CDB_IO_INPUT)->get_output_term(0)};
  std::vector<CDB_SGATE_OTERM*> sources;
  for (int i = 0; i < 64; ++i) sources.push_back(pin("in" + std::to_string(i), CDB_IO_INPUT)->get_output_term(0));
  GEN_RAND rand(seed);
  int gates = 0;
  for (int r = 0; r < registers; ++r) {
    const int chain = r % 200 == 199 ? 10 : 1 + rand.get_int(3);
    CDB_SGATE_OTERM* d = nullptr;
    for (int k = 0; k < chain; ++k, ++gates) d = add_random_lut(nl, rand, sources, d);
    auto* reg = new CDB_SGATE_DFF(top_child(top, "g" + std::to_string(gates++)));
    reg->create_all_inputs();
    reg->get_input_term(CDB_DFF_DATA)->set_source(d);
    reg->get_input_term(CDB_DFF_CLK)->set_source(clocks[r % 2]);
    nl->add_node(reg);
    sources.push_back(reg->get_output_term(0));
  }
  for (int i = 0; i < 64; ++i) {
    auto* out = pin("out" + std::to_string(i), CDB_IO_OUTPUT);
    out->get_input_term(0)->set_source(sources[sources.size() - 1 - size_t(i)]);
  }
  return nl;
}

// The clocks: input pins that drive a register's clock input, in
// node-list order.
std::vector<std::string> clock_pins(const CDB_SGATE_NETLIST* nl) {
  std::vector<std::string> clocks;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
    const CDB_SGATE_NODE* g = *it;
    if (!g || g->get_sgate_type() != CDB_SGATE_DFF_ENUM) continue;
    const CDB_SGATE_ITERM* clk = g->get_input_term(CDB_DFF_CLK);
    const CDB_SGATE_OTERM* src = clk ? clk->get_source() : nullptr;
    if (!src || src->get_my_node()->get_sgate_type() != CDB_SGATE_IO_ENUM) continue;
    const std::string path = src->get_my_node()->get_string_hpath();
    if (std::find(clocks.begin(), clocks.end(), path) == clocks.end()) clocks.push_back(path);
  }
  return clocks;
}

STA_CONSTRAINTS constraints_of(const CDB_SGATE_NETLIST* nl) {
  STA_CONSTRAINTS c;
  const std::vector<std::string> clocks = clock_pins(nl);
  for (size_t i = 0; i < clocks.size(); ++i)
    c.clocks.push_back({"clk" + std::to_string(i), 3000 + 1000 * int(i), clocks[i]});
  if (c.clocks.empty()) c.clocks.push_back({"virtual", 3000, ""});
  std::vector<std::string> data, outputs;
  for (const CDB_SGATE_IO* p : nl->get_input_pins()) {
    const std::string path = p->get_string_hpath();
    if (std::find(clocks.begin(), clocks.end(), path) == clocks.end()) data.push_back(path);
  }
  for (const CDB_SGATE_IO* p : nl->get_output_pins()) outputs.push_back(p->get_string_hpath());
  if (!data.empty()) c.io_delays.push_back({true, c.clocks.front().name, 100, data});
  if (!outputs.empty()) c.io_delays.push_back({false, c.clocks.back().name, 200, outputs});
  return c;
}

// The register end points: every driven data, enable, synchronous clear
// and load input of a register. (The oracle names gate pins only; paths to
// output pins are compared through each clock's worst slack.)
std::vector<const CDB_SGATE_ITERM*> end_points(const CDB_SGATE_NETLIST* nl) {
  std::vector<const CDB_SGATE_ITERM*> ends;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
    const CDB_SGATE_NODE* g = *it;
    if (!g || g->get_sgate_type() != CDB_SGATE_DFF_ENUM) continue;
    for (unsigned i : {unsigned(CDB_DFF_DATA), unsigned(CDB_DFF_ENA), unsigned(CDB_DFF_SCLR), unsigned(CDB_DFF_SLOAD)})
      if (g->get_input_term(i) && g->get_input_term(i)->get_source()) ends.push_back(g->get_input_term(i));
  }
  return ends;
}

// sta keeps times in single-precision seconds: a hundredth of a unit, or a
// few parts per million, is rounding (our times are whole units).
double sta_rounding(double v) { return std::max(0.01, std::abs(v) * 4e-6); }

struct DESIGN {
  CDB_SGATE_NETLIST* netlist = nullptr;
  CDB_SGATE_HIERARCHY* hierarchy = nullptr;
  std::string error;
};

CDB_SGATE_NETLIST* make_shared_logic(int registers, int inverters);

DESIGN load(const std::string& which) {
  DESIGN d;
  if (which.rfind("shared:", 0) == 0) {
    const size_t colon = which.find(':', 7);
    d.netlist = make_shared_logic(std::atoi(which.c_str() + 7),
                                  colon == std::string::npos ? 0 : std::atoi(which.c_str() + colon + 1));
    d.hierarchy = new CDB_SGATE_HIERARCHY;
    d.hierarchy->set_instance_name(HDB_INSTANCE_NAME::create_normal_name(nullptr, "top", nullptr, nullptr, nullptr));
    d.hierarchy->set_netlist(d.netlist);
    return d;
  }
  const bool registers = which.rfind("registers:", 0) == 0;
  if (which.rfind("random:", 0) == 0 || registers) {
    d.netlist = registers ? make_register_rich_dag(std::atoi(which.c_str() + 10), 21)
                          : make_two_clock_dag(std::atoi(which.c_str() + 7), 21);
    d.hierarchy = new CDB_SGATE_HIERARCHY;
    d.hierarchy->set_instance_name(HDB_INSTANCE_NAME::create_normal_name(nullptr, "top", nullptr, nullptr, nullptr));
    d.hierarchy->set_netlist(d.netlist);
    return d;
  }
  BLIF_RESULT r = blif_read_file(which == "largest" ? largest_bundled() : which);
  d.netlist = r.netlist;
  d.hierarchy = r.hierarchy;
  d.error = r.error;
  return d;
}

// The compile around the analysis: family 47, timing-driven synthesis on,
// one partition, the SDC file.
struct COMPILE {
  CMP_FACADE facade;
  explicit COMPILE(const DESIGN& d, const std::string& sdc) {
    facade.set_family(DEV_FAMILY_ENUM(47));
    ZCU_FACADE_UTIL::get_instance()->set_facade(&facade);
    hdb_set_option(hdb_default_namespace(), KAVU_ACF_SYNTH_TIMING_DRIVEN_SYNTHESIS, "on");
    zhd_build("", {{"top", d.hierarchy->get_instance_name(), -1, 0}});
    cfg_set_value("ssc_sdc_file", sdc.c_str());
  }
};

// Whole-process mode: "<program> --analyze DESIGN SDC".
int analyze_mode(std::span<char* const> args) {
  if (args.size() != 2) {
    std::fprintf(stderr, "usage: DESIGN SDC\n");
    return 2;
  }
  DESIGN d = load(args[0]);
  if (!d.netlist) {
    std::fprintf(stderr, "%s\n", d.error.c_str());
    return 1;
  }
  COMPILE compile(d, args[1]);
  SSC_ITERM_TIMING_INFO_MAP map;
  if (!kavu_ssc_perform_timing_analysis(&compile.facade, d.hierarchy, d.netlist, &map, nullptr, nullptr, nullptr,
                                        false, nullptr, false)) {
    std::fprintf(stderr, "timing analysis failed\n");
    return 1;
  }
  for (const std::string& clock : ssc_get_util()->get_clock_names())
    std::printf("%s %d\n", clock.c_str(), ssc_get_util()->get_worst_slack(clock.c_str()));
  kavu_ssc_delete_tdb_netlist();
  return 0;
}

constexpr const char* ANALYZE_FLAG = "--analyze";

void BM_TimingAnalysisInProcess(benchmark::State& state) {
  const std::string which = DESIGNS[state.range(0)];
  state.SetLabel(which);
  DESIGN d = load(which);
  if (!d.netlist) {
    state.SkipWithError(d.error.c_str());
    return;
  }
  TEMP_DIR dir;
  const std::string sdc = dir.file("t.sdc");
  std::ofstream(sdc) << sta_engine_sdc(constraints_of(d.netlist));
  COMPILE compile(d, sdc);
  size_t terminals = 0;
  for (auto _ : state) {
    SSC_ITERM_TIMING_INFO_MAP map;
    kavu_ssc_perform_timing_analysis(&compile.facade, d.hierarchy, d.netlist, &map, nullptr, nullptr, nullptr, true,
                                     nullptr, false);
    terminals += map.size();
  }
  state.counters["terminals/s"] = benchmark::Counter(double(terminals), benchmark::Counter::kIsRate);
  delete d.netlist;
  delete d.hierarchy;
}

// The first error line sta printed ("Error: cannot read file x.lib."), ""
// for none. sta reports an error of a command and goes on with the script,
// ending with status 0, so that a figure it prints after one (an
// unconstrained worst slack) is no answer.
std::string sta_error_line(const std::string& output) {
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);)
    if (line.rfind("Error", 0) == 0) return line;
  return "";
}

// sta's own figure: the worst slack it printed ("KAVU_WORST -883.5") is a
// number. "KAVU_WORST INF" (no path at all, where every design here has
// constrained paths) or a word that is no number is no figure.
bool sta_printed_worst(const std::string& output) {
  const size_t at = output.rfind("KAVU_WORST ");
  if (at == std::string::npos) return false;
  const size_t start = at + 11, end = std::min(output.find_first_of(" \t\r\n", start), output.size());
  double value = 0;
  const auto [stop, error] = std::from_chars(output.data() + start, output.data() + end, value);
  return error == std::errc() && stop == output.data() + end && std::isfinite(value);
}

// sta answered: it printed the report the script asks for, its worst slack
// a number, and no error.
bool sta_answered(const std::string& output) { return sta_printed_worst(output) && sta_error_line(output).empty(); }

// The same of an in-process run, from the figures sta_analyze read as the
// lines came (its log keeps only a bounded part).
bool sta_run_answered(const STA_RESULT& r) {
  return r.status == STA_OK && r.first_error.empty() && r.worst_all != double(SSC_UNCONSTRAINED_SLACK);
}

// How sta failed, for the row's error: how it ended, and its error or the
// last line it printed (escaped: no byte of sta's output reaches the
// terminal raw). An exit status above 128 is a status (a wrapper's), not
// a signal.
std::string sta_failure(const STA_RESULT& r) {
  if (r.status == STA_UNAVAILABLE) return "sta was not run: " + last_line_shown(r.log);
  if (r.exit_status == ORACLE_TIMED_OUT) return timed_out("sta", cfg_get_int_value("sta_timeout", 600));
  const std::string& error = r.first_error;
  std::string how = "status " + std::to_string(r.exit_status);
  if (r.exit_status < 0) how = "could not be started";
  else if (r.signal > 0) how = "ended by signal " + std::to_string(r.signal);
  else if (r.exit_status == 0)
    how += !error.empty() ? ", it printed an error" : ", " + (r.unread.empty() ? "its worst slack is INF: no path at all" : r.unread);
  return "sta failed (" + how + "): " + last_line_shown(error.empty() ? r.log : error);
}

// Ours in process against sta on the design: the worst slack of every
// clock and the slack of every end point. "" when they agree, else the
// first difference; *failed (a difference of no one) when either side
// failed; *ends the end points compared.
std::string compare_with_sta(const std::string& which, size_t* ends, std::string* failed) {
  DESIGN d = load(which);
  if (!d.netlist) {
    *failed = "cannot load the design: " + d.error;
    return "";
  }
  TEMP_DIR dir;
  const std::string sdc = dir.file("t.sdc");
  const STA_CONSTRAINTS c = constraints_of(d.netlist);
  std::ofstream(sdc) << sta_engine_sdc(c);
  std::string why;
  {
    COMPILE compile(d, sdc);
    SSC_ITERM_TIMING_INFO_MAP map;
    if (!kavu_ssc_perform_timing_analysis(&compile.facade, d.hierarchy, d.netlist, &map, nullptr, nullptr, nullptr,
                                          false, nullptr, false)) {
      *failed = "our timing analysis failed";
    } else {
      const std::vector<const CDB_SGATE_ITERM*> pins = end_points(d.netlist);
      *ends = pins.size();
      const STA_RESULT r = sta_analyze(d.netlist, &compile.facade, SSC_DELAY_MODEL_TABLE, c, pins);
      SSC_UTIL* u = ssc_get_util();
      if (!sta_run_answered(r)) *failed = sta_failure(r);
      for (size_t k = 0; k < c.clocks.size() && why.empty() && failed->empty(); ++k) {
        const std::string& name = c.clocks[k].name;
        const int ours = u->get_worst_slack(name.c_str());
        auto it = r.worst_per_clock.find(name);
        const double theirs = it == r.worst_per_clock.end() ? double(SSC_UNCONSTRAINED_SLACK) : it->second;
        if (std::abs(double(ours) - theirs) > sta_rounding(theirs))
          why = "worst slack of " + name + ": ours " + std::to_string(ours) + ", sta " + std::to_string(theirs);
      }
      for (size_t k = 0; k < pins.size() && why.empty() && failed->empty(); ++k) {
        const int ours = u->get_iterm_slack(pins[k]);
        if (std::abs(double(ours) - r.pin_slacks[k]) > sta_rounding(r.pin_slacks[k]))
          why = "slack at end point " + std::to_string(k) + " (" + pins[k]->get_my_node()->get_string_hpath() +
                "): ours " + std::to_string(ours) + ", sta " + std::to_string(r.pin_slacks[k]);
      }
    }
    kavu_ssc_delete_tdb_netlist();
  }
  delete d.netlist;
  delete d.hierarchy;
  return why;
}

// Writes the peer's inputs for the design into dir: t.sdc (ours), cells.lib,
// top.v, top.sdc and run.tcl (sta's: the worst slack of every clock's path
// group, the report ours prints); false with *why on a failure.
bool write_sta_inputs(const std::string& which, const std::string& dir, std::string* why) {
  DESIGN d = load(which);
  if (!d.netlist) {
    *why = d.error;
    return false;
  }
  const STA_CONSTRAINTS c = constraints_of(d.netlist);
  std::ofstream(dir + "/t.sdc") << sta_engine_sdc(c);
  const bool ok = sta_write_inputs(d.netlist, nullptr, SSC_DELAY_MODEL_TABLE, c, {}, dir, why);
  delete d.netlist;
  delete d.hierarchy;
  return ok;
}

// Whole-process mode: "<program> --write-sta-inputs DESIGN DIR".
int write_sta_inputs_mode(std::span<char* const> args) {
  if (args.size() != 2) {
    std::fprintf(stderr, "usage: DESIGN DIR\n");
    return 2;
  }
  std::string why;
  if (write_sta_inputs(args[0], args[1], &why)) return 0;
  std::fprintf(stderr, "%s\n", why.c_str());
  return 1;
}

void BM_WholeProcess(benchmark::State& state) {
  const std::string which = DESIGNS[state.range(0)];
  state.SetLabel(which);
  TEMP_DIR dir;
  const std::string sta = sta_binary_path();
  std::string why;
  if (!sta.empty() && !write_sta_inputs(which, dir.path(), &why)) {
    state.SkipWithError(why.c_str());
    return;
  }
  if (!sta.empty()) {
    size_t ends = 0;
    std::string failed;
    why = compare_with_sta(which, &ends, &failed);
    if (!failed.empty()) return state.SkipWithError((which + ": " + failed).c_str());
    if (!why.empty()) return mismatch(state, which + ": " + why);
    state.counters["end_points"] = double(ends);
  }
  compare_processes(state, dir.path(), {self_program(), ANALYZE_FLAG, which, dir.file("t.sdc")},
                    {sta, "-no_splash", "-exit", dir.file("run.tcl")}, "sta", sta_answered);
}

// ---------------------------------------------------------------- many path commands

// BM_ManyPathCommands: a generated netlist of 60,000 registers under a
// file of 2,000 exact-name set_false_path lines and 2,000
// set_multicycle_path lines (which the engine reads and skips), beside
// the same file without them. In process: one analysis per file in turn
// (kavu_ssc_perform_timing_analysis, the netlist built and dropped each
// time); the first analysis of each file (first_*: the file and netlist
// not seen before) apart from the later ones (again_*: medians). Whole process: ours (--analyze) against
// sta reading the same netlist as Verilog and the same SDC text, as
// BM_WholeProcess. Compared first: every clock's worst slack, ours
// against sta, on the file with the lines; the false paths leave the
// registers that launch the worst paths, so they move the worst slack and
// a name either side misread would show (the multicycle paths start at
// those registers too: sta applies them, the engine skips them, and a
// false path wins over them in sta).
constexpr int MANY_REGISTERS = 60000;
constexpr int MANY_LINES = 2000;
const char* const MANY_BASE_SDC =
    "create_clock -name clk0 -period 3000 [get_ports clk0]\n"
    "create_clock -name clk1 -period 4000 [get_ports clk1]\n"
    "set_input_delay 100 -clock clk0 [get_ports in*]\n"
    "set_output_delay 200 -clock clk1 [all_outputs]\n";

std::string leaf_name(const CDB_SGATE_NODE* g) {
  const std::string path = g->get_string_hpath();
  return path.substr(path.rfind('|') + 1);
}

// The path command lines: the registers whose launched paths are the
// worst in `map`, a false path from each and a multicycle path from each
// to the next register in the list.
std::string many_path_lines(const SSC_ITERM_TIMING_INFO_MAP& map) {
  std::map<const CDB_SGATE_NODE*, int> launch;  // register -> worst slack of its paths
  for (const auto& [iterm, info] : map) {
    const CDB_SGATE_OTERM* src = iterm->get_source();
    const CDB_SGATE_NODE* g = src ? src->get_my_node() : nullptr;
    if (!g || g->get_sgate_type() != CDB_SGATE_DFF_ENUM) continue;
    auto [it, fresh] = launch.emplace(g, info.m_slack);
    if (!fresh) it->second = std::min(it->second, info.m_slack);
  }
  std::vector<std::pair<int, std::string>> order;
  for (const auto& [g, slack] : launch) order.push_back({slack, leaf_name(g)});
  std::sort(order.begin(), order.end());
  order.resize(std::min<size_t>(order.size(), MANY_LINES));
  std::string lines;
  for (const auto& [slack, name] : order) lines += "set_false_path -from [get_cells {" + name + "}]\n";
  for (size_t k = 0; k < order.size(); ++k)
    lines += "set_multicycle_path 2 -setup -from [get_cells {" + order[k].second + "}] -to [get_cells {" +
             order[(k + 1) % order.size()].second + "}]\n";
  return lines;
}

// One in-process analysis under the file `sdc`: seconds; *worst (when
// given) the worst slack of each clock after it.
double analyse_once(COMPILE& compile, const DESIGN& d, const std::string& sdc, SSC_ITERM_TIMING_INFO_MAP* map,
                    std::map<std::string, int>* worst) {
  cfg_set_value("ssc_sdc_file", sdc.c_str());
  bool ok = false;
  const double s = timed([&] {
    ok = kavu_ssc_perform_timing_analysis(&compile.facade, d.hierarchy, d.netlist, map, nullptr, nullptr, nullptr,
                                          worst == nullptr, nullptr, false);
  });
  if (!ok) return -1;
  if (worst) {
    for (const std::string& clock : ssc_get_util()->get_clock_names())
      (*worst)[clock] = ssc_get_util()->get_worst_slack(clock.c_str());
    kavu_ssc_delete_tdb_netlist();
  }
  return s;
}

void BM_ManyPathCommands(benchmark::State& state) {
  const std::string which = "registers:" + std::to_string(MANY_REGISTERS);
  state.SetLabel(which + ", 2,000 false + 2,000 multicycle paths");
  DESIGN d = load(which);
  TEMP_DIR dir;
  if (!d.netlist || dir.path().empty()) {
    state.SkipWithError(d.netlist ? "cannot make a temporary directory" : d.error.c_str());
    return;
  }
  const std::string base = dir.file("base.sdc"), many = dir.file("t.sdc");
  std::ofstream(base) << MANY_BASE_SDC;
  std::string why, failed;  // a difference from sta; a failure of either side
  std::map<std::string, int> ours_base, ours;
  std::vector<double> base_s, lines_s;
  double first_s = 0, base_first_s = 0;
  STA_CONSTRAINTS c;
  c.clocks = {{"clk0", 3000, ""}, {"clk1", 4000, ""}};
  {
    COMPILE compile(d, base);
    SSC_ITERM_TIMING_INFO_MAP map;
    base_first_s = analyse_once(compile, d, base, &map, &ours_base);
    if (base_first_s < 0) failed = "our analysis without the lines failed";
    c.sdc = MANY_BASE_SDC + many_path_lines(map);
    std::ofstream(many) << c.sdc;
    for (int k = 0; k < 4 && failed.empty(); ++k) {
      SSC_ITERM_TIMING_INFO_MAP a, b;
      const double with = analyse_once(compile, d, many, &a, k == 0 ? &ours : nullptr);
      const double without = analyse_once(compile, d, base, &b, nullptr);
      if (with < 0 || without < 0) failed = "our analysis failed";
      (k == 0 ? first_s : lines_s.emplace_back()) = with;
      base_s.push_back(without);
    }
  }
  if (failed.empty() && ours == ours_base)
    failed = "the lines moved no clock's worst slack: a comparison would not see them";
  const std::string sta = sta_binary_path();
  if (failed.empty() && !sta.empty()) {
    // sta's own figure is required, as the timed runs require it: a clock
    // sta printed nothing for is unconstrained only in an answer free of
    // errors.
    const STA_RESULT r = sta_analyze(d.netlist, nullptr, SSC_DELAY_MODEL_TABLE, c, {});
    if (!sta_run_answered(r)) failed = sta_failure(r);
    for (const auto& [clock, slack] : ours) {
      auto it = r.worst_per_clock.find(clock);
      const double theirs = it == r.worst_per_clock.end() ? double(SSC_UNCONSTRAINED_SLACK) : it->second;
      if (failed.empty() && why.empty() && std::abs(double(slack) - theirs) > sta_rounding(theirs))
        why = "worst slack of " + clock + ": ours " + std::to_string(slack) + ", sta " + std::to_string(theirs);
    }
  }
  std::string unwritten;
  if (failed.empty() && why.empty() && !sta.empty() &&
      !sta_write_inputs(d.netlist, nullptr, SSC_DELAY_MODEL_TABLE, c, {}, dir.path(), &unwritten))
    failed = "cannot write sta's inputs: " + unwritten;
  delete d.netlist;
  delete d.hierarchy;
  if (!failed.empty()) return state.SkipWithError((which + ": " + failed).c_str());
  if (!why.empty()) return mismatch(state, which + ": " + why);
  compare_processes(state, dir.path(), {self_program(), ANALYZE_FLAG, which, many},
                    {sta, "-no_splash", "-exit", dir.file("run.tcl")}, "sta", sta_answered);
  state.counters["first_ms"] = first_s * 1e3;
  state.counters["first_without_ms"] = base_first_s * 1e3;
  state.counters["first_ratio"] = first_s / base_first_s;
  state.counters["again_ms"] = median(lines_s) * 1e3;
  state.counters["again_without_ms"] = median(base_s) * 1e3;
  state.counters["again_ratio"] = median(lines_s) / median(base_s);
}

// ---------------------------------------------------------------- many max-delay rules

// BM_ManyMaxDelayRules: the generated netlist of BM_ManyPathCommands with
// 20,000 registers under 66,000 path lines along its paths, each naming a
// register and one that feeds it through logic: set_max_delay from the one
// to the other (70 %), from the one alone (10 %), to the other alone (8 %),
// from a clock to the other (5 %), set_false_path to (4 %) or from (3 %) a
// register; values 100 to 1,699. Every register is a launch and a capture
// group of its own, and the rules without a side hold every group. In
// process: the first analysis of the file (first_ms). Compared first: every
// clock's worst slack, ours against sta on the same text. Whole process:
// ours (--analyze) beside sta, one pair (sta takes minutes here).
constexpr int RULE_REGISTERS = 20000;
constexpr int RULE_LINES = 66000;

// The registers that feed each register's data through logic (no
// register between), by the register's leaf name.
std::vector<std::pair<std::string, std::vector<std::string>>> register_sources(const CDB_SGATE_NETLIST* nl) {
  std::vector<std::pair<std::string, std::vector<std::string>>> out;
  std::vector<const CDB_SGATE_NODE*> stack;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
    const CDB_SGATE_NODE* g = *it;
    if (!g || g->get_sgate_type() != CDB_SGATE_DFF_ENUM) continue;
    std::vector<std::string> sources;
    const CDB_SGATE_OTERM* d = g->get_input_term(CDB_DFF_DATA) ? g->get_input_term(CDB_DFF_DATA)->get_source() : nullptr;
    stack.clear();
    if (d) stack.push_back(d->get_my_node());
    while (!stack.empty()) {  // the chains are short and fan in from earlier signals only
      const CDB_SGATE_NODE* x = stack.back();
      stack.pop_back();
      if (x->get_sgate_type() == CDB_SGATE_DFF_ENUM) {
        sources.push_back(leaf_name(x));
        continue;
      }
      if (!x->cast_to_lut()) continue;
      for (unsigned i = 0; i < x->get_number_of_input_terms(); ++i)
        if (const CDB_SGATE_ITERM* t = x->get_input_term(i); t && t->get_source()) stack.push_back(t->get_source()->get_my_node());
    }
    std::sort(sources.begin(), sources.end());
    sources.erase(std::unique(sources.begin(), sources.end()), sources.end());
    if (!sources.empty()) out.push_back({leaf_name(g), std::move(sources)});
  }
  return out;
}

std::string max_delay_lines(const CDB_SGATE_NETLIST* nl) {
  const auto fed = register_sources(nl);
  GEN_RAND rand(5);
  std::string lines;
  for (int k = 0; k < RULE_LINES && !fed.empty(); ++k) {
    const auto& [to, froms] = fed[size_t(rand.get_int(int(fed.size())))];
    const std::string& from = froms[size_t(rand.get_int(int(froms.size())))];
    const std::string value = std::to_string(100 + rand.get_int(1600));
    const int form = rand.get_int(100);
    if (form < 70) lines += "set_max_delay " + value + " -from [get_cells {" + from + "}] -to [get_cells {" + to + "}]\n";
    else if (form < 80) lines += "set_max_delay " + value + " -from [get_cells {" + from + "}]\n";
    else if (form < 88) lines += "set_max_delay " + value + " -to [get_cells {" + to + "}]\n";
    else if (form < 93)
      lines += "set_max_delay " + value + " -from [get_clocks clk" + std::to_string(rand.get_int(2)) + "] -to [get_cells {" + to + "}]\n";
    else if (form < 97) lines += "set_false_path -to [get_cells {" + to + "}]\n";
    else lines += "set_false_path -from [get_cells {" + from + "}]\n";
  }
  return lines;
}

void BM_ManyMaxDelayRules(benchmark::State& state) {
  const std::string which = "registers:" + std::to_string(RULE_REGISTERS);
  state.SetLabel(which + ", 66,000 path lines");
  DESIGN d = load(which);
  TEMP_DIR dir;
  if (!d.netlist || dir.path().empty()) {
    state.SkipWithError(d.netlist ? "cannot make a temporary directory" : d.error.c_str());
    return;
  }
  const std::string sdc = dir.file("t.sdc");
  STA_CONSTRAINTS c;
  c.clocks = {{"clk0", 3000, ""}, {"clk1", 4000, ""}};
  c.sdc = MANY_BASE_SDC + max_delay_lines(d.netlist);
  std::ofstream(sdc) << c.sdc;
  std::string why, failed;  // a difference from sta; a failure of either side
  std::map<std::string, int> ours;
  double first_s = 0;
  {
    COMPILE compile(d, sdc);
    SSC_ITERM_TIMING_INFO_MAP map;
    first_s = analyse_once(compile, d, sdc, &map, &ours);
    if (first_s < 0) failed = "our analysis failed";
  }
  const std::string sta = sta_binary_path();
  if (failed.empty() && !sta.empty()) {
    // sta's own figure is required, as in the other rows: a clock sta
    // printed nothing for is unconstrained only in an answer free of errors.
    const STA_RESULT r = sta_analyze(d.netlist, nullptr, SSC_DELAY_MODEL_TABLE, c, {});
    if (!sta_run_answered(r)) failed = sta_failure(r);
    for (const auto& [clock, slack] : ours) {
      auto it = r.worst_per_clock.find(clock);
      const double theirs = it == r.worst_per_clock.end() ? double(SSC_UNCONSTRAINED_SLACK) : it->second;
      if (failed.empty() && why.empty() && std::abs(double(slack) - theirs) > sta_rounding(theirs))
        why = "worst slack of " + clock + ": ours " + std::to_string(slack) + ", sta " + std::to_string(theirs);
    }
  }
  std::string unwritten;
  if (failed.empty() && why.empty() && !sta.empty() &&
      !sta_write_inputs(d.netlist, nullptr, SSC_DELAY_MODEL_TABLE, c, {}, dir.path(), &unwritten))
    failed = "cannot write sta's inputs: " + unwritten;
  delete d.netlist;
  delete d.hierarchy;
  if (!failed.empty()) return state.SkipWithError((which + ": " + failed).c_str());
  if (!why.empty()) return mismatch(state, which + ": " + why);
  compare_processes(state, dir.path(), {self_program(), ANALYZE_FLAG, which, sdc},
                    {sta, "-no_splash", "-exit", dir.file("run.tcl")}, "sta", sta_answered);
  state.counters["first_ms"] = first_s * 1e3;
}


// ---------------------------------------------------------------- analyses in sequence

// "shared:N:M": registers l0 .. l(N-1) on clock clk feed a tree of 2-input
// XORs, then a chain of M inverters, which feeds registers c0 .. c(N-1):
// every launch register reaches every capture register through the same
// logic.
CDB_SGATE_NETLIST* make_shared_logic(int registers, int inverters) {
  auto* nl = new CDB_SGATE_NETLIST;
  HDB_INSTANCE_NAME* top = HDB_INSTANCE_NAME::create_normal_name(nullptr, "top", nullptr, nullptr, nullptr);
  CDB_SGATE_OTERM* clk = add_pin(nl, top, "clk", CDB_IO_INPUT)->get_output_term(0);
  CDB_SGATE_OTERM* in = add_pin(nl, top, "in", CDB_IO_INPUT)->get_output_term(0);
  auto lut = [&](std::vector<CDB_SGATE_OTERM*> sources, uint64_t mask) {
    CDB_LUTMASK m;
    m.set_value(unsigned(sources.size()), mask);
    auto* g = new CDB_SGATE_LUT(nullptr, m);
    for (unsigned i = 0; i < sources.size(); ++i) {
      CDB_SGATE_ITERM* t = g->create_input_term(nullptr, DB_INPUT_PORT_TYPE(12 + i));
      g->set_input_term(t, i);
      t->set_source(sources[i]);
    }
    nl->add_node(g);
    return g->get_output_term(0);
  };
  auto reg = [&](const std::string& name, CDB_SGATE_OTERM* d) {
    auto* r = new CDB_SGATE_DFF(top_child(top, name));
    r->create_all_inputs();
    r->get_input_term(CDB_DFF_DATA)->set_source(d);
    r->get_input_term(CDB_DFF_CLK)->set_source(clk);
    nl->add_node(r);
    return r->get_output_term(0);
  };
  std::vector<CDB_SGATE_OTERM*> level;
  for (int k = 0; k < registers; ++k) level.push_back(reg("l" + std::to_string(k), in));
  while (level.size() > 1) {
    std::vector<CDB_SGATE_OTERM*> next;
    for (size_t k = 0; k + 1 < level.size(); k += 2) next.push_back(lut({level[k], level[k + 1]}, 0x6));
    if (level.size() % 2) next.push_back(level.back());
    level.swap(next);
  }
  CDB_SGATE_OTERM* d = level.empty() ? in : level.front();
  for (int k = 0; k < inverters; ++k) d = lut({d}, 0x1);
  for (int k = 0; k < registers; ++k) reg("c" + std::to_string(k), d);
  return nl;
}

// Moves one gate's inputs (the `step`-th LUT whose first two inputs come
// from different signals swaps them): the netlist keeps its size, names
// and gates, and differs where the key of a kept read looks.
void edit_gate_inputs(CDB_SGATE_NETLIST* nl, int step) {
  std::vector<CDB_SGATE_LUT*> luts;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
    if (CDB_SGATE_LUT* lut = *it ? (*it)->cast_to_lut() : nullptr;
        lut && lut->get_number_of_input_terms() >= 2 && lut->get_input_term(0) && lut->get_input_term(1) &&
        lut->get_input_term(0)->get_source() != lut->get_input_term(1)->get_source())
      luts.push_back(lut);
  if (luts.empty()) return;
  CDB_SGATE_LUT* lut = luts[size_t(step) * 7919 % luts.size()];
  CDB_SGATE_OTERM* a = lut->get_input_term(0)->get_source();
  CDB_SGATE_OTERM* b = lut->get_input_term(1)->get_source();
  lut->get_input_term(0)->set_source(b);
  lut->get_input_term(1)->set_source(a);
}

// The constraints of a sequence: the design's own (constraints_of), or for
// "shared:N:M" a clock and one set_max_delay per pair (l_k to c_k), so
// that there are 2N groups, and every launch group meets every capture
// group along the shared logic.
std::string sequence_sdc(const DESIGN& d, const std::string& which) {
  if (which.rfind("shared:", 0) != 0) return sta_engine_sdc(constraints_of(d.netlist));
  std::string sdc = "create_clock -name clk -period 3000 [get_ports clk]\nset_input_delay 0 -clock clk [get_ports in]\n";
  const int n = std::atoi(which.c_str() + 7);
  for (int k = 0; k < n; ++k)
    sdc += "set_max_delay " + std::to_string(2000 + k) + " -from [get_cells {l" + std::to_string(k) + "}] -to [get_cells {c" +
           std::to_string(k) + "}]\n";
  return sdc;
}

// Analyses in one process, from no kept read (kavu_ssc_reset_state):
// `analyses` of the unchanged netlist, then
// `edits` each after edit_gate_inputs; the seconds of each, in order. The
// timing netlist is built and dropped by each analysis. *slacks (when
// given): every terminal's slack after the last, as "path slack" lines,
// sorted, then each clock's worst.
std::vector<double> analyse_sequence(DESIGN& d, const std::string& sdc_text, int analyses, int edits,
                                     std::vector<std::string>* slacks = nullptr) {
  TEMP_DIR dir;
  const std::string sdc = dir.file("t.sdc");
  std::ofstream(sdc) << sdc_text;
  COMPILE compile(d, sdc);
  kavu_ssc_reset_state();  // the first analysis reads the file afresh
  std::vector<double> seconds;
  for (int k = 0; k < analyses + edits; ++k) {
    if (k >= analyses) edit_gate_inputs(d.netlist, k - analyses);
    SSC_ITERM_TIMING_INFO_MAP map;
    const bool last = k + 1 == analyses + edits;
    bool ok = false;
    seconds.push_back(timed([&] {
      ok = kavu_ssc_perform_timing_analysis(&compile.facade, d.hierarchy, d.netlist, &map, nullptr, nullptr, nullptr,
                                            !(last && slacks), nullptr, false);
    }));
    if (!ok) return {};
    if (last && slacks) {
      for (const auto& [t, info] : map)
        slacks->push_back(t->get_my_node()->get_string_hpath() + "/" + std::to_string(int(t->get_port_type())) +
                          " " + std::to_string(info.m_slack));
      std::sort(slacks->begin(), slacks->end());
      for (const std::string& clock : ssc_get_util()->get_clock_names())
        slacks->push_back("worst " + clock + " " + std::to_string(ssc_get_util()->get_worst_slack(clock.c_str())));
      kavu_ssc_delete_tdb_netlist();
    }
  }
  return seconds;
}

// Path lines over the design's registers (seed `seed`): 40 to 400 lines,
// set_max_delay from, to, from and to registers, from a clock to a register,
// some -ignore_clock_latency, and false paths from and to registers, so
// that the registers fall into many groups (more than 16, and more than 256
// where there are registers enough).
std::string mixed_rule_lines(const CDB_SGATE_NETLIST* nl, int seed) {
  std::vector<std::string> regs;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
    if (*it && (*it)->get_sgate_type() == CDB_SGATE_DFF_ENUM) regs.push_back(leaf_name(*it));
  if (regs.empty()) return "";
  GEN_RAND rand{uint64_t(seed)};
  const std::vector<std::string> clocks = clock_pins(nl);
  auto reg = [&] { return "[get_cells {" + regs[size_t(rand.get_int(int(regs.size())))] + "}]"; };
  std::string lines;
  const int count = 40 + rand.get_int(361);
  for (int k = 0; k < count; ++k) {
    const std::string value = std::to_string(50 + rand.get_int(3000));
    const int f = rand.get_int(100);
    const std::string ignore = rand.get_int(10) == 0 ? " -ignore_clock_latency" : "";
    if (f < 30) lines += "set_max_delay " + value + ignore + " -from " + reg() + " -to " + reg() + "\n";
    else if (f < 55) lines += "set_max_delay " + value + " -from " + reg() + "\n";
    else if (f < 80) lines += "set_max_delay " + value + " -to " + reg() + "\n";
    else if (f < 88 && !clocks.empty()) lines += "set_max_delay " + value + " -from [get_clocks clk0] -to " + reg() + "\n";
    else if (f < 94) lines += "set_false_path -from " + reg() + "\n";
    else lines += "set_false_path -to " + reg() + "\n";
  }
  return lines;
}

// Whole-process mode: "<program> --sequence DESIGN SDC ANALYSES EDITS
// [slacks]": the analyses of analyse_sequence under the file SDC, or "-"
// (the sequence's own constraints), "rules" (BM_ManyMaxDelayRules's lines)
// or "mixed:SEED" (the design's constraints and mixed_rule_lines), printing the milliseconds of each, and with
// "slacks" the slacks after the last (to compare two builds; under
// valgrind --tool=callgrind --dump-after=kavu_ssc_perform_timing_analysis
// each analysis is a dump of its own).
int sequence_mode(std::span<char* const> args) {
  if (args.size() < 4) {
    std::fprintf(stderr, "usage: DESIGN SDC|- ANALYSES EDITS [slacks]\n");
    return 2;
  }
  DESIGN d = load(args[0]);
  if (!d.netlist) {
    std::fprintf(stderr, "%s\n", d.error.c_str());
    return 1;
  }
  std::string sdc = sequence_sdc(d, args[0]);
  const std::string form = args[1];
  if (form == "rules") {
    sdc = MANY_BASE_SDC + max_delay_lines(d.netlist);
  } else if (form.rfind("mixed:", 0) == 0) {
    sdc += mixed_rule_lines(d.netlist, std::atoi(form.c_str() + 6));
  } else if (form != "-") {
    std::ifstream in(args[1]);
    sdc.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::vector<std::string> slacks;
  const bool print = args.size() > 4 && std::string(args[4]) == "slacks";
  const std::vector<double> s = analyse_sequence(d, sdc, std::atoi(args[2]), std::atoi(args[3]), print ? &slacks : nullptr);
  if (s.empty()) {
    std::fprintf(stderr, "timing analysis failed\n");
    return 1;
  }
  for (size_t k = 0; k < s.size(); ++k) std::printf("analysis %zu: %.1f ms\n", k + 1, s[k] * 1e3);
  for (const std::string& line : slacks) std::printf("%s\n", line.c_str());
  delete d.netlist;
  delete d.hierarchy;
  return 0;
}

// BM_AnalysisSequence/<design>: bundled designs under their constraints
// (as BM_WholeProcess), four analyses of the unchanged netlist in one
// process, then four each after an edit that moves one gate's inputs
// (edit_gate_inputs): first_ms, second_ms, later_ms (the median of the
// third and fourth) and edited_ms (the median after the edits). A kept
// read is given from the second analysis on; an edit reads the file afresh.
const char* const SEQUENCE_DESIGNS[] = {"mcnc/tseng",      "mcnc/s298",     "mcnc/diffeq",        "mcnc/dsip",
                                        "mcnc/bigkey",     "seq/diffeq1",   "seq/ch_intrinsics", "seq/stereovision3"};

void BM_AnalysisSequence(benchmark::State& state) {
  const std::string which = bundled_circuit(SEQUENCE_DESIGNS[state.range(0)]);
  state.SetLabel(SEQUENCE_DESIGNS[state.range(0)]);
  std::vector<double> first, second, later, edited;
  for (auto _ : state) {
    DESIGN d = load(which);
    if (!d.netlist) return state.SkipWithError(d.error.c_str());
    const std::vector<double> s = analyse_sequence(d, sequence_sdc(d, which), 4, 4);
    delete d.netlist;
    delete d.hierarchy;
    if (s.size() != 8) return state.SkipWithError("our analysis failed");
    first.push_back(s[0]);
    second.push_back(s[1]);
    later.insert(later.end(), {s[2], s[3]});
    edited.insert(edited.end(), s.begin() + 4, s.end());
    state.SetIterationTime(s[0] + s[1] + s[2] + s[3]);
  }
  state.counters["first_ms"] = median(first) * 1e3;
  state.counters["second_ms"] = median(second) * 1e3;
  state.counters["later_ms"] = median(later) * 1e3;
  state.counters["edited_ms"] = median(edited) * 1e3;
}

// BM_KeptReadLargeNetlist: the generated netlist of 10^6 gates (100,000
// registers, random:1000000; what the read depends on in it takes some 40
// MB) under 2,000 lines set_false_path -from [get_cells {rNNNN?}], four
// analyses of the unchanged netlist in one process (first_ms ..
// fourth_ms): the second on take the kept read.
void BM_KeptReadLargeNetlist(benchmark::State& state) {
  const std::string which = "random:1000000";
  state.SetLabel(which + ", 2,000 false paths");
  std::string sdc =
      "create_clock -name clk0 -period 3000 [get_ports clk0]\ncreate_clock -name clk1 -period 4000 [get_ports clk1]\n"
      "set_input_delay 100 -clock clk0 [get_ports in*]\nset_output_delay 200 -clock clk1 [all_outputs]\n";
  for (int k = 0; k < 2000; ++k) sdc += "set_false_path -from [get_cells {r" + std::to_string(1000 + 17 * k) + "?}]\n";
  std::vector<double> s;
  for (auto _ : state) {
    DESIGN d = load(which);
    s = analyse_sequence(d, sdc, 4, 0);
    delete d.netlist;
    delete d.hierarchy;
    if (s.size() != 4) return state.SkipWithError("our analysis failed");
    state.SetIterationTime(s[0] + s[1] + s[2] + s[3]);
  }
  const char* names[] = {"first_ms", "second_ms", "third_ms", "fourth_ms"};
  for (size_t k = 0; k < 4; ++k) state.counters[names[k]] = s[k] * 1e3;
}

// BM_ManyGroupsSharedLogic/N: "shared:N:3000" (make_shared_logic) under a
// max-delay rule per pair of registers (sequence_sdc): 2N groups, every
// launch group meeting every capture group along 3,000 shared nodes. One
// analysis in process (first_ms), then a second (second_ms). Then one
// analysis as a whole process (--sequence), for its peak memory (ours_MiB),
// and the same beside a reference build of the library when the
// environment variable KAVU_BENCH_REFERENCE_LIBS names its library
// directories (as LD_LIBRARY_PATH does; e.g. an earlier commit built in a
// worktree of its own): its peak (ref_MiB), mem_ratio = ours / ref, and
// the times of its analysis and ours as whole processes (ref_ms, ours_ms).
// Every terminal's slack and each clock's worst must equal the
// reference's; without the variable the reference's figures are left out.
constexpr const char* REFERENCE_LIBS_VARIABLE = "KAVU_BENCH_REFERENCE_LIBS";

void BM_ManyGroupsSharedLogic(benchmark::State& state) {
  const std::string which = "shared:" + std::to_string(state.range(0)) + ":3000";
  state.SetLabel(which);
  std::vector<double> s;
  for (auto _ : state) {
    DESIGN d = load(which);
    s = analyse_sequence(d, sequence_sdc(d, which), 2, 0);
    delete d.netlist;
    delete d.hierarchy;
    if (s.size() != 2) return state.SkipWithError("our analysis failed");
    state.SetIterationTime(s[0] + s[1]);
  }
  state.counters["first_ms"] = s[0] * 1e3;
  state.counters["second_ms"] = s[1] * 1e3;
  TEMP_DIR dir;
  if (dir.path().empty()) return state.SkipWithError("cannot make a temporary directory");
  const std::vector<std::string> run = {self_program(), "--sequence", which, "-", "1", "0", "slacks"};
  // The lines a run printed after its analysis's milliseconds (the slacks),
  // and those milliseconds (-1 when it printed none).
  auto answer = [](const std::string& output, double* ms) {
    std::vector<std::string> lines;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("analysis 1: ", 0) == 0) {
        *ms = std::atof(line.c_str() + 12);
        lines.clear();
      } else if (*ms >= 0) {
        lines.push_back(line);
      }
    }
    return lines;
  };
  // One side's run: its peak and time as counters `prefix`_MiB and
  // `prefix`_ms, and its slacks; false (the row's error set) when it failed.
  auto side = [&](const std::vector<std::string>& argv, const char* who, const std::string& prefix,
                  PROCESS_FIGURES* figures, std::vector<std::string>* lines) {
    *figures = run_process(argv, dir.path());
    double ms = -1;
    *lines = answer(figures->output, &ms);
    if (figures->status != 0 || ms < 0) {
      state.SkipWithError(failure(who, *figures).c_str());
      return false;
    }
    state.counters[prefix + "_MiB"] = figures->peak_mib;
    state.counters[prefix + "_ms"] = ms;
    return true;
  };
  PROCESS_FIGURES ours, ref;
  std::vector<std::string> ours_lines, ref_lines;
  if (!side(run, "our side", "ours", &ours, &ours_lines)) return;
  const char* libs = std::getenv(REFERENCE_LIBS_VARIABLE);
  if (!libs || !*libs) return;
  std::vector<std::string> ref_run = {find_program("env"), std::string("LD_LIBRARY_PATH=") + libs};
  ref_run.insert(ref_run.end(), run.begin(), run.end());
  if (!side(ref_run, "the reference build", "ref", &ref, &ref_lines)) return;
  state.counters["mem_ratio"] = ref.peak_mib > 0 ? ours.peak_mib / ref.peak_mib : 0;
  if (ours_lines != ref_lines) {
    size_t k = 0;
    while (k < ours_lines.size() && k < ref_lines.size() && ours_lines[k] == ref_lines[k]) ++k;
    return mismatch(state, which + ": ours \"" + (k < ours_lines.size() ? ours_lines[k] : "") +
                               "\", the reference build \"" + (k < ref_lines.size() ? ref_lines[k] : "") + "\"");
  }
}

// The stitched analyses of a partitioned design, in one process: the
// design labelled for `parts` partitions under its constraints (as
// BM_WholeProcess), the flattened timing netlist stored from the split
// partitions (from the labelled design where `from_parts` is false), then
// `analyses` analyses of each partition in turn, each reading back the
// stored netlist and storing the partition's own, as a helper does. The
// seconds of the store first, then of each analysis; *slacks (when given):
// every partition terminal's slack, sorted, to compare two builds.
std::vector<double> stitched_sequence(DESIGN& d, int parts, int analyses, bool from_parts,
                                      std::vector<std::string>* slacks = nullptr) {
  TEMP_DIR dir;
  const std::string sdc = dir.file("t.sdc");
  std::ofstream(sdc) << sequence_sdc(d, "");
  gen_set_db_dir_path(dir.path());
  COMPILE compile(d, sdc);
  zhd_build("", {{"top", d.hierarchy->get_instance_name(), -1, 0}, {"p1", nullptr, 0, 1}});
  kavu_ssc_reset_state();
  const int saved_min = kavu_min_netlist_size;
  kavu_min_netlist_size = 0;
  SYNTH::KAVU::PARTITIONING_PARAMS params;
  params.set_param("num_partitions", parts);
  params.set_param("max_num_partitions", parts);
  KAVU_PARTITIONER().partition_on_reg_boundary(d.netlist, nullptr, params, false);
  kavu_min_netlist_size = saved_min;
  std::vector<double> seconds;
  std::vector<CDB_SGATE_NETLIST*> whole{d.netlist};
  if (!from_parts) seconds.push_back(timed([&] { kavu_write_flattened_tdb_netlist(&compile.facade, whole); }));
  KAVU_PARTITION_BOUNDARIES cut;
  std::vector<CDB_SGATE_NETLIST*> partitions;
  kavu_get_partition_netlists(partitions, d.netlist, d.hierarchy, &compile.facade, cut, false);
  bool ok = partitions.size() > 1;
  if (ok && from_parts)
    seconds.push_back(timed([&] { ok = kavu_write_flattened_tdb_netlist(&compile.facade, partitions); }));
  cdb_sgate_set_synthesis_running_in_parallel(false);
  for (int k = 0; ok && k < analyses; ++k) {
    for (CDB_SGATE_NETLIST* part : partitions) {
      SSC_ITERM_TIMING_INFO_MAP map;
      seconds.push_back(timed([&] {
        ok = ok && kavu_ssc_perform_timing_analysis(&compile.facade, d.hierarchy, part, &map, nullptr, nullptr,
                                                    nullptr, true, nullptr, false);
      }));
      if (ok && slacks && k + 1 == analyses)
        for (const auto& [t, info] : map)
          slacks->push_back(t->get_my_node()->get_string_hpath() + "/" + std::to_string(int(t->get_port_type())) +
                            " " + std::to_string(info.m_slack));
    }
  }
  if (slacks) std::sort(slacks->begin(), slacks->end());
  cdb_sgate_set_synthesis_running_in_parallel(true);
  if (!partitions.empty()) kavu_merge_netlists(partitions, d.netlist, d.hierarchy, cut);
  kavu_delete_partition_on_reg_boundary(d.netlist);
  if (!ok) return {};
  return seconds;
}

// Whole-process mode: "<program> --stitched DESIGN PARTS ANALYSES
// [whole] [slacks]": stitched_sequence, the flattened netlist stored from
// the split partitions (with "whole": from the labelled design), printing
// the milliseconds of the store and of each analysis and with "slacks"
// every partition terminal's slack after the last. Under
// valgrind --tool=callgrind, the inclusive instructions of
// kavu_write_flattened_tdb_netlist, SSC_UTIL::read_tdb_from_pdb and
// kavu_ssc_perform_timing_analysis are those of the store, the reads and
// the analyses.
int stitched_mode(std::span<char* const> args) {
  if (args.size() < 3) {
    std::fprintf(stderr, "usage: DESIGN PARTS ANALYSES [whole] [slacks]\n");
    return 2;
  }
  DESIGN d = load(args[0]);
  if (!d.netlist) {
    std::fprintf(stderr, "%s\n", d.error.c_str());
    return 1;
  }
  bool whole = false, print = false;
  for (size_t k = 3; k < args.size(); ++k) {
    whole = whole || std::string(args[k]) == "whole";
    print = print || std::string(args[k]) == "slacks";
  }
  std::vector<std::string> slacks;
  const std::vector<double> s =
      stitched_sequence(d, std::atoi(args[1]), std::atoi(args[2]), !whole, print ? &slacks : nullptr);
  if (s.empty()) {
    std::fprintf(stderr, "timing analysis failed\n");
    return 1;
  }
  std::printf("store: %.1f ms\n", s[0] * 1e3);
  for (size_t k = 1; k < s.size(); ++k) std::printf("analysis %zu: %.1f ms\n", k, s[k] * 1e3);
  for (const std::string& line : slacks) std::printf("%s\n", line.c_str());
  delete d.netlist;
  delete d.hierarchy;
  return 0;
}

// BM_StitchedAnalysis/<design>: see stitched_sequence; two partitions,
// three analyses of each.
const char* const STITCHED_DESIGNS[] = {"mcnc/tseng", "mcnc/diffeq", "mcnc/dsip", "seq/stereovision3"};

void BM_StitchedAnalysis(benchmark::State& state) {
  const std::string which = bundled_circuit(STITCHED_DESIGNS[state.range(0)]);
  state.SetLabel(STITCHED_DESIGNS[state.range(0)]);
  std::vector<double> write, first, later;
  for (auto _ : state) {
    DESIGN d = load(which);
    if (!d.netlist) return state.SkipWithError(d.error.c_str());
    const std::vector<double> s = stitched_sequence(d, 2, 3, true);
    delete d.netlist;
    delete d.hierarchy;
    if (s.size() < 7) return state.SkipWithError("our analysis failed");
    write.push_back(s[0]);
    first.insert(first.end(), {s[1], s[2]});
    later.insert(later.end(), s.begin() + 3, s.end());
    double all = 0;
    for (double v : s) all += v;
    state.SetIterationTime(all);
  }
  state.counters["write_ms"] = median(write) * 1e3;
  state.counters["first_ms"] = median(first) * 1e3;
  state.counters["later_ms"] = median(later) * 1e3;
}

// The compatible-register record of a design under the benchmark's
// constraints (every register reading the inputs, whose input delays are on
// the first clock, in that clock's domain), built from the engine (one
// partition) or, where the engine cannot be set up (two partitions, no
// timing netlist stored), by the fallback from the constraint file read
// against the netlist alone. Counters: registers kept apart by a set of
// their own, and registers of synchronizer chains, to compare two builds.
const char* const RECORD_DESIGNS[] = {"largest", "registers:200000"};

void BM_CompatibleRegisterRecord(benchmark::State& state) {
  const std::string which = RECORD_DESIGNS[state.range(0)];
  const bool engine = state.range(1) == 0;
  state.SetLabel(which + (engine ? " engine" : " fallback"));
  DESIGN d = load(which);
  if (!d.netlist) {
    state.SkipWithError(d.error.c_str());
    return;
  }
  TEMP_DIR dir;
  const std::string sdc = dir.file("t.sdc");
  std::ofstream(sdc) << sta_engine_sdc(constraints_of(d.netlist)) << "set_false_path -from [all_registers]\n";
  COMPILE compile(d, sdc);
  HDB_INSTANCE_NAME* top = d.hierarchy->get_instance_name();
  if (!engine) zhd_build("", {{"top", top, -1, 0}, {"p1", top_child(top, "p1"), 0, 1}});
  CDB_SGATE_COMPATIBLE_REGISTERS* rec = d.netlist->get_compatible_registers();
  for (auto _ : state) {
    state.PauseTiming();
    kavu_ssc_reset_state();
    rec->clear_all();
    rec->set_ready_to_use(false);
    rec->set_in_use(true);
    state.ResumeTiming();
    kavu_ssc_build_comp_reg_info(&compile.facade, d.hierarchy, d.netlist, false, false);
  }
  long registers = 0, apart = 0, chained = 0;
  for (auto it = d.netlist->begin_node_list(); it != d.netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* g = *it;
    if (!g || g->get_sgate_type() != CDB_SGATE_DFF_ENUM) continue;
    ++registers;
    apart += rec->get_set_id(g->get_output_term(0)) != 0;
    chained += rec->get_synch_chain(g->get_output_term(0)) != 0;
  }
  state.counters["registers"] = double(registers);
  state.counters["apart"] = double(apart);
  state.counters["chained"] = double(chained);
  state.counters["in_use"] = rec->is_in_use() ? 1 : 0;
  zhd_build("", {{"top", top, -1, 0}});
  delete d.netlist;
  delete d.hierarchy;
}

BENCHMARK(BM_TimingAnalysisInProcess)->DenseRange(0, 1)->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WholeProcess)->Arg(0)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ManyPathCommands)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ManyMaxDelayRules)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AnalysisSequence)->DenseRange(0, 7)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KeptReadLargeNetlist)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StitchedAnalysis)->DenseRange(0, 3)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CompatibleRegisterRecord)->ArgsProduct({{0, 1}, {0, 1}})->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ManyGroupsSharedLogic)->Arg(300)->Arg(600)->Arg(1500)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

const PROCESS_MODE MODES[] = {
    {ANALYZE_FLAG, analyze_mode}, {"--write-sta-inputs", write_sta_inputs_mode}, {"--sequence", sequence_mode},
    {"--stitched", stitched_mode}};

}  // namespace

int main(int argc, char** argv) { return bench_main(argc, argv, MODES); }
