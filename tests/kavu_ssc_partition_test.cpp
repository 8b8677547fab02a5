// Tests of the timing of a design labelled and split for parallel synthesis:
// a boundary gate is a wire for timing, so the labelled design and every
// split partition, analysed alone through the stored timing netlist (in
// process, and through the flow's archives in a process of its own as a
// helper analyses its partition), give each terminal the slack of the
// unlabelled design under a clock on a port, which OpenSTA confirms, whether
// the timing netlist was stored from the labelled design or from the split
// partitions; so do two labelled design partitions stored once, gates fed
// from another gate netlist, and partitions whose state machine the split
// routes through new boundaries. A stored timing netlist that lacks a
// partition's drivers, or none usable, is refused for the partitions, with
// a warning. A design of one partition stores none: its partitions that
// meet others are refused, with a warning. The designs: a representative
// few, every bundled sequential design with KAVU_FULL_PARTITION_TIMING_SWEEP=1.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cdb/cdb_sgate_removed_regs.h"
#include "cfg/cfg.h"
#include "gen/gen.h"
#include "hdb/hdb.h"
#include "kavu_parallel.h"
#include "kavu_partition_netlists.h"
#include "kavu_ssc.h"
#include "kavu_ssc_test_support.h"
#include "msg/msg.h"
#include "netlist_io/blif.h"
#include "netlist_io/sta_oracle.h"
#include "partition_test_support.h"
#include "platform_testkit.h"
#include "ssc/ssc.h"
#include "zhd/zhd.h"

using namespace kavu_platform;

namespace {

// A terminal by its gate's debug number and input slot (both survive the
// archives), with what the analysis gave it.
typedef std::pair<unsigned, unsigned> TERM_KEY;
struct TERM_TIMING {
  int slack;
  float ratio;
  bool operator==(const TERM_TIMING&) const = default;
};
typedef std::map<TERM_KEY, TERM_TIMING> KEYED_TIMING;

TERM_KEY key_of(const CDB_SGATE_ITERM* t) {
  const CDB_SGATE_NODE* g = t->get_my_node();
  unsigned slot = 0;
  while (g->get_input_term(slot) != t) ++slot;
  return {g->get_debug_number(), slot};
}

KEYED_TIMING keyed(const SSC_ITERM_TIMING_INFO_MAP& map) {
  KEYED_TIMING out;
  for (const auto& [t, info] : map) out[key_of(t)] = {info.m_slack, info.m_ratio};
  return out;
}

// The terminals of `part` whose timing differs from the whole design's
// (a terminal of a boundary gate, which the whole design lacks, is left
// out); the first few named in *first. Counts the constrained ones.
int differing(const KEYED_TIMING& part, const KEYED_TIMING& whole, int* constrained, std::string* first) {
  int differ = 0;
  for (const auto& [key, timing] : part) {
    auto it = whole.find(key);
    if (it == whole.end()) continue;
    *constrained += timing.slack != SSC_UNCONSTRAINED_SLACK;
    if (timing == it->second) continue;
    if (differ++ < 3)
      *first += " gate " + std::to_string(key.first) + " input " + std::to_string(key.second) + ": " +
                std::to_string(timing.slack) + " where the whole design has " + std::to_string(it->second.slack) + ";";
  }
  return differ;
}

// The input pins that clock registers, through buffers and inverters, as
// the names an SDC file gives ports: the last level of their paths.
std::vector<std::string> clock_ports(const CDB_SGATE_NETLIST* nl) {
  std::set<std::string> ports;
  for (CDB_SGATE_NODE* g : nl->get_node_list()) {
    if (!g || g->get_sgate_type() != CDB_SGATE_DFF_ENUM || !g->get_input_term(1)) continue;
    const CDB_SGATE_OTERM* s = g->get_input_term(1)->get_source();
    for (int steps = 0; s && !s->get_my_node()->is_pin() && steps < 100; ++steps) {
      const CDB_SGATE_NODE* through = s->get_my_node();
      s = through->get_number_of_input_terms() == 1 && through->get_input_term(0)
              ? through->get_input_term(0)->get_source()
              : nullptr;
    }
    if (!s) continue;
    const std::string path = s->get_my_node()->get_string_hpath();
    ports.insert(path.substr(path.rfind('|') + 1));
  }
  return {ports.begin(), ports.end()};
}

// The register inputs OpenSTA is asked about: data, enable, synchronous
// clear and load, where driven.
std::vector<const CDB_SGATE_ITERM*> register_inputs(const CDB_SGATE_NETLIST* nl) {
  std::vector<const CDB_SGATE_ITERM*> pins;
  for (CDB_SGATE_NODE* g : nl->get_node_list())
    if (g && g->get_sgate_type() == CDB_SGATE_DFF_ENUM)
      for (unsigned i : {0u, 4u, 7u, 8u})
        if (g->get_input_term(i) && g->get_input_term(i)->get_source()) pins.push_back(g->get_input_term(i));
  return pins;
}

const char* const kRevision = "rev 1";
const char* const kType = "map";

// The compile of these rows: timing-driven synthesis on family 47, the
// design's hierarchy its top partition, the parallel flow's archives in the
// working directory.
class KavuSscPartition : public ::testing::Test {
 protected:
  void SetUp() override {
    CDB_SGATE_HIERARCHY unused;
    set_up_timing_driven_compile(&m_facade, &unused);
    gen_set_db_dir_path(std::filesystem::current_path().string());
    m_facade.set_project_name("my project");
    m_facade.set_revision_name(kRevision);
    auto* removed = CDB_SGATE_REMOVED_REGISTERS_MANAGER::get_instance();
    removed->create_removed_reg_db("main", 5000, 5000);
    removed->set_current_removed_reg_db("main");
  }
  void TearDown() override { kavu_ssc_reset_state(); }

  // The design's partitions for the timing analysis: one (the timing
  // netlist is built), or two (the stored one is read back).
  void partitions(CDB_SGATE_HIERARCHY* hierarchy, int count) {
    if (count == 1) zhd_build("", {{"top", hierarchy->get_instance_name(), -1, 0}});
    else zhd_build("", {{"top", hierarchy->get_instance_name(), -1, 0}, {"p1", nullptr, 0, 1}});
  }
  // The analysis of `nl` as the synthesis road runs it; false when refused.
  bool analysed(CDB_SGATE_HIERARCHY* hierarchy, CDB_SGATE_NETLIST* nl, KEYED_TIMING* out, bool keep = false) {
    SSC_ITERM_TIMING_INFO_MAP map;
    const bool ok = kavu_ssc_perform_timing_analysis(&m_facade, hierarchy, nl, &map, nullptr, nullptr, nullptr, !keep,
                                                     nullptr, false);
    *out = keyed(map);
    return ok;
  }

  CMP_FACADE m_facade;
  PARTITION_TEST_SCOPE m_partition_scope;
  CFG_SCOPE m_cfg{{"ssc_sdc_file", "clocks.sdc"}, {"kavu_timing_analysis_sanity_check", "on"}};
};

// Runs in a child process, as a helper runs: nothing of the parent's state
// but the archives and the namespace archive it wrote. Each partition is
// read, analysed and written back as the helper's result (with its
// removed-register record); its terminals' timing goes to `out`, one line
// "<debug number> <slot> <slack> <ratio bits>" each, after a line "partition
// <k> <analysed 0|1> <netlist number>"; last a line "warning <text>" for each warning posted
// and a line "warnings <n>": their count.
// The design has `design_partitions` partitions (1 or 2), as the parent's.
void analyse_as_helper(int partitions, int design_partitions, const std::string& db, const std::string& out) {
  std::ofstream file(out);
  plat_test_reset_all();
  kavu_ssc_reset_state();
  kavu_partition_reset_process_state();
  gen_set_db_dir_path(db);
  cfg_set_value("msg_print", "off");
  cfg_set_value("ssc_sdc_file", "clocks.sdc");
  cfg_set_value("kavu_timing_analysis_sanity_check", "on");
  if (!HDB_NAMESPACE::read_pdb(hdb_default_namespace(), db)) return;
  static CMP_FACADE facade;
  CDB_SGATE_HIERARCHY unused;
  set_up_timing_driven_compile(&facade, &unused);
  for (int k = 0; k < partitions; ++k) {
    CDB_SGATE_NETLIST* part = nullptr;
    CDB_SGATE_HIERARCHY* hierarchy = nullptr;
    if (!kavu_parallel_read_partition(kRevision, kType, k, &part, &hierarchy)) return;
    if (design_partitions == 1) zhd_build("", {{"top", hierarchy->get_instance_name(), -1, 0}});
    else zhd_build("", {{"top", hierarchy->get_instance_name(), -1, 0}, {"p1", nullptr, 0, 1}});
    SSC_ITERM_TIMING_INFO_MAP map;
    const bool ok =
        kavu_ssc_perform_timing_analysis(&facade, hierarchy, part, &map, nullptr, nullptr, nullptr, true, nullptr, false);
    file << "partition " << k << " " << ok << " " << part->get_number() << "\n";
    for (const auto& [key, timing] : keyed(map)) {
      uint32_t bits = 0;
      std::memcpy(&bits, &timing.ratio, sizeof bits);
      file << key.first << " " << key.second << " " << timing.slack << " " << bits << "\n";
    }
    kavu_parallel_create_removed_reg_db(kRevision, kType, k);
    if (!kavu_parallel_write_and_delete_removed_reg_db(kRevision, kType, k) ||
        !kavu_parallel_write_and_delete_partition(kRevision, kType, k, part))
      return;
  }
  int warnings = 0;
  for (const MSG_LOG_ENTRY& e : msg_log())
    if (e.kind == MSG_LOG_WARNING) {
      ++warnings;
      file << "warning " << e.text.substr(0, e.text.find('\n')) << "\n";
    }
  file << "warnings " << warnings << "\n";
}

// What analyse_as_helper wrote: per partition whether it was analysed and
// its terminals; the warnings (-1 when the helper did not finish) and
// their texts.
struct HELPER_ANSWER {
  std::vector<bool> analysed;
  std::vector<int> numbers;  // each archive's netlist number
  std::vector<KEYED_TIMING> timing;
  int warnings = -1;
  std::vector<std::string> warning_texts;
};

HELPER_ANSWER run_helper(int partitions, int design_partitions = 2) {
  const std::string out = "helper_timing.txt";
  std::filesystem::remove(out);
  const std::string db = gen_get_db_dir_path();
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    try {
      analyse_as_helper(partitions, design_partitions, db, out);
    } catch (const std::exception& e) {
      std::ofstream(out, std::ios::app) << "failed " << e.what() << "\n";
    }
    std::_Exit(0);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  HELPER_ANSWER answer;
  std::ifstream in(out);
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    std::string first;
    words >> first;
    if (first == "partition") {
      int k = 0, ok = 0, number = 0;
      words >> k >> ok >> number;
      answer.analysed.push_back(ok != 0);
      answer.numbers.push_back(number);
      answer.timing.emplace_back();
    } else if (first == "warnings") {
      words >> answer.warnings;
    } else if (first == "warning") {
      answer.warning_texts.push_back(line.substr(first.size() + 1));
    } else if (!answer.timing.empty() && first != "failed") {
      unsigned slot = 0;
      int slack = 0;
      uint32_t bits = 0;
      words >> slot >> slack >> bits;
      float ratio = 0;
      std::memcpy(&ratio, &bits, sizeof ratio);
      answer.timing.back()[{unsigned(std::stoul(first)), slot}] = {slack, ratio};
    }
  }
  return answer;
}

int warnings_posted() {
  int n = 0;
  for (const MSG_LOG_ENTRY& e : msg_log()) n += e.kind == MSG_LOG_WARNING;
  return n;
}

// The warnings whose text holds `text`.
int logged_with(const std::string& text) {
  int n = 0;
  for (const MSG_LOG_ENTRY& e : msg_log()) n += e.kind == MSG_LOG_WARNING && e.text.find(text) != std::string::npos;
  return n;
}

// The designs: a representative few, or with the environment variable
// every bundled design with registers.
std::vector<std::string> partition_designs() {
  const char* full = std::getenv("KAVU_FULL_PARTITION_TIMING_SWEEP");
  if (!full || std::strcmp(full, "1") != 0)
    return {"small/counter8_lut4", "mcnc/tseng", "mcnc/s298", "seq/stereovision3"};
  std::vector<std::string> designs;
  for (const std::string& name : bundled_circuits()) {
    LOADED_NETLIST nl = load_blif(name);
    if (!clock_ports(nl.get()).empty()) designs.push_back(name);
  }
  return designs;
}

}  // namespace

// Under one create_clock per clock port, the labelled design and every
// partition split from it, analysed alone through the timing netlist stored
// after the labelling (in this process, and in a helper's process through
// the flow's archives, and again once read back), give every terminal the
// timing of the unlabelled design, whose register slacks equal OpenSTA's.
// A boundary on the clock net once clocked the registers behind it on both
// edges (counter8_lut4's q[2]: slack 1900 of a requirement 2500, where the
// whole design has 4400 of 5000), in the labelled design and, through the
// stored netlist's arcs, in every partition. A timing netlist stored before
// the labelling is refused for the partitions, with one warning per
// compile, in process and in the helper (they were analysed against it
// without a word, every path from another partition lost).
TEST_F(KavuSscPartition, LabelledAndSplitDesignsAreTimedAsTheUnlabelledDesign) {
  const bool with_sta = !sta_binary_path().empty();
  int sta_designs = 0, partitions_compared = 0, terms_compared = 0, constrained = 0, designs = 0;
  for (const std::string& name : partition_designs()) {
    SCOPED_TRACE(name);
    LOADED_NETLIST nl = load_blif(name);
    CDB_SGATE_HIERARCHY* hierarchy = nl->get_hierarchy();
    const std::vector<std::string> clocks = clock_ports(nl.get());
    ASSERT_FALSE(clocks.empty());
    std::ostringstream sdc;
    STA_CONSTRAINTS sta;
    for (size_t k = 0; k < clocks.size(); ++k) {
      const int period = 5000 + 700 * int(k);
      sdc << "create_clock -name c" << k << " -period " << period << " [get_ports {" << clocks[k] << "}]\n";
      sta.clocks.push_back({"c" + std::to_string(k), period, clocks[k]});
    }
    sta.sdc = sdc.str();
    std::ofstream("clocks.sdc") << sta.sdc;
    // The unlabelled design, against OpenSTA.
    partitions(hierarchy, 1);
    KEYED_TIMING whole;
    ASSERT_TRUE(analysed(hierarchy, nl.get(), &whole, true));
    const STA_RESULT r = with_sta ? sta_analyze(nl.get(), &m_facade, SSC_DELAY_MODEL_TABLE, sta, register_inputs(nl.get()))
                                  : STA_RESULT();
    if (r.status == STA_OK) {
      ++sta_designs;
      const std::vector<const CDB_SGATE_ITERM*> pins = register_inputs(nl.get());
      int differ = 0;
      for (size_t k = 0; k < pins.size(); ++k) {
        const int ours = ssc_get_util()->get_iterm_slack(pins[k]);
        differ += r.pin_slacks[k] == 2147483647.0 ? ours != SSC_UNCONSTRAINED_SLACK
                                                   : std::abs(ours - r.pin_slacks[k]) > 0.01;
      }
      EXPECT_EQ(differ, 0) << "of " << pins.size() << " register inputs, slacks that differ from OpenSTA's";
    } else if (with_sta) {
      EXPECT_EQ(r.status, STA_UNAVAILABLE) << r.log.substr(0, 2000);
    }
    kavu_ssc_delete_tdb_netlist();

    // The labelled design, with the timing netlist built, and through a
    // timing netlist stored before the labelling.
    partitions(hierarchy, 2);
    std::vector<CDB_SGATE_NETLIST*> netlists{nl.get()};
    ASSERT_TRUE(kavu_write_flattened_tdb_netlist(&m_facade, netlists));
    KAVU_PARTITIONER().partition_on_reg_boundary(nl.get(), nullptr, partition_params(2), false);
    KEYED_TIMING labelled;
    std::string first;
    int counted = 0;
    ASSERT_TRUE(analysed(hierarchy, nl.get(), &labelled));
    EXPECT_EQ(differing(labelled, whole, &counted, &first), 0) << "labelled, stored before:" << first;
    partitions(hierarchy, 1);
    ASSERT_TRUE(analysed(hierarchy, nl.get(), &labelled));
    first.clear();
    EXPECT_EQ(differing(labelled, whole, &counted, &first), 0) << "labelled:" << first;
    partitions(hierarchy, 2);

    // Split, each partition analysed alone as a helper analyses it (the
    // parent's parallel flag is not set there), then through the archives in
    // a helper's process, then read back: refused with one warning where the
    // stored netlist was made before the labelling; timed as the whole
    // design where it was made after. The partition of each gate is kept by
    // debug number: the archives do not carry it, so the design merged back
    // is labelled again from it.
    std::map<unsigned, int> partition_of;
    for (CDB_SGATE_NODE* g : nl->get_node_list())
      if (g && g->get_output_term(0)) partition_of[g->get_debug_number()] = g->get_output_term(0)->get_aux();
    for (const char* store : {"before the labelling", "after the labelling", "from the split partitions"}) {
      SCOPED_TRACE(std::string("stored ") + store);
      const bool stored_after = std::strcmp(store, "before the labelling") != 0;
      for (CDB_SGATE_NODE* g : nl->get_node_list())
        if (g && g->get_output_term(0)) g->get_output_term(0)->set_aux(partition_of.at(g->get_debug_number()));
      kavu_ssc_reset_state();
      msg_log_clear();
      if (std::strcmp(store, "after the labelling") == 0) {
        ASSERT_TRUE(kavu_write_flattened_tdb_netlist(&m_facade, netlists));
      } else {
        // The labelled design's analysis above stored its partition's
        // netlist, boundaries and their drivers included: without it only
        // the netlist stored before the labelling is there.
        std::filesystem::remove(gen_get_db_dir_path() + "/tdb_top.tdb");
      }
      // Stored from the partitions alone: the design records no store of
      // its own, as in a compile whose only store is that one.
      if (std::strcmp(store, "from the split partitions") == 0) nl->set_tdb_origin(CDB_SGATE_TDB_ORIGIN());
      KAVU_PARTITION_BOUNDARIES cut;
      std::vector<CDB_SGATE_NETLIST*> parts;
      kavu_get_partition_netlists(parts, nl.get(), hierarchy, &m_facade, cut, false);
      ASSERT_GE(parts.size(), 2u);
      // Stored from the partitions the split made, as a host passes them:
      // each cut input boundary is joined to the output boundary that
      // drives it (every path from another partition was once lost there,
      // and no partition refused).
      if (std::strcmp(store, "from the split partitions") == 0) {
        ASSERT_TRUE(kavu_write_flattened_tdb_netlist(&m_facade, parts));
      }
      const int n = int(parts.size());
      auto expect_timed = [&](const KEYED_TIMING& alone, bool ok, const std::string& what) {
        EXPECT_EQ(ok, stored_after) << what;
        if (!ok) return;
        first.clear();
        EXPECT_EQ(differing(alone, whole, &constrained, &first), 0) << what << ":" << first;
        terms_compared += int(alone.size());
      };
      cdb_sgate_set_synthesis_running_in_parallel(false);
      for (CDB_SGATE_NETLIST* part : parts) {
        KEYED_TIMING alone;
        const bool ok = analysed(hierarchy, part, &alone);
        expect_timed(alone, ok, "partition " + std::to_string(part->get_number()));
        partitions_compared += ok;
      }
      EXPECT_EQ(warnings_posted(), stored_after ? 0 : 1);
      EXPECT_EQ(logged_with("holds no driver of"), stored_after ? 0 : 1);
      cdb_sgate_set_synthesis_running_in_parallel(true);
      ASSERT_TRUE(kavu_parallel_serialize(&m_facade, kType, 1, hierarchy, parts));
      const HELPER_ANSWER helper = run_helper(n);
      ASSERT_EQ(int(helper.analysed.size()), n) << "the helper did not finish";
      EXPECT_EQ(helper.warnings, stored_after ? 0 : 1);
      for (int k = 0; k < n; ++k)
        expect_timed(helper.timing[size_t(k)], helper.analysed[size_t(k)], "helper, archive " + std::to_string(k));
      ASSERT_TRUE(kavu_parallel_deserialize(&m_facade, kType, 1, hierarchy, parts, n));
      cdb_sgate_set_synthesis_running_in_parallel(false);
      for (CDB_SGATE_NETLIST* part : parts) {
        KEYED_TIMING back;
        const bool ok = analysed(hierarchy, part, &back);
        expect_timed(back, ok, "read back, partition " + std::to_string(part->get_number()));
      }
      cdb_sgate_set_synthesis_running_in_parallel(true);
      kavu_merge_netlists(parts, nl.get(), hierarchy, cut);
      // The design merged back carries what its partitions' compile stored.
      KEYED_TIMING merged;
      EXPECT_TRUE(analysed(hierarchy, nl.get(), &merged)) << "merged back";
      first.clear();
      EXPECT_EQ(differing(merged, whole, &counted, &first), 0) << "merged back:" << first;
    }
    kavu_delete_partition_on_reg_boundary(nl.get());
    ++designs;
  }
  EXPECT_GT(constrained, 0);
  std::printf("%d designs (%d against OpenSTA), %d partitions in process, %d terminals of partitions compared\n",
              designs, sta_designs, partitions_compared, terms_compared);
  if (!with_sta) GTEST_SKIP() << "sta (OpenSTA) is not installed: the whole designs were not checked against it";
}

namespace {

// Names the gate "top|<name>" in the default namespace.
CDB_SGATE_NODE* named(CDB_SGATE_NODE* g, const char* name) {
  g->set_instance_name(HDB_INSTANCE_NAME::create_normal_name(nullptr, name, nullptr, nullptr, top_name()));
  return g;
}

// Cuts the edge from `src` into `sink` as the partitioner does: an output
// boundary fed by src, an input boundary fed by it that drives sink.
void cut_edge(CDB_SGATE_NETLIST* nl, CDB_SGATE_NODE* src, CDB_SGATE_ITERM* sink, const std::string& name) {
  CDB_SGATE_BOUNDARY* boundaries[2];
  for (int k = 0; k < 2; ++k) {
    auto* b = new CDB_SGATE_BOUNDARY(nullptr, k ? CDB_BOUNDARY_INPUT : CDB_BOUNDARY_OUTPUT);
    b->set_input_term(new CDB_SGATE_ITERM(b), 0);
    if (!b->get_output_term(0)) b->set_output_term(new CDB_SGATE_OTERM(b), 0);
    nl->add_node(b, true);
    named(b, (name + (k ? "_in" : "_out")).c_str());
    boundaries[k] = b;
  }
  src->get_output_term(0)->insert_fanout(boundaries[0]->get_input_term(0));
  boundaries[0]->get_output_term(0)->insert_fanout(boundaries[1]->get_input_term(0));
  sink->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_UNCONNECTED);
  boundaries[1]->get_output_term(0)->insert_fanout(sink);
}

}  // namespace

// A clock that one partition inverts, or gates and inverts, reaches the
// registers of another through boundaries: each register captures and
// launches on the edge it does in the unlabelled design, in the labelled
// design and in the partition analysed alone through the stored timing
// netlist, whose arcs keep their gates' senses and whose input boundaries
// where their clock comes from. Clock sources: r1 clk, r2 NOT(AND(clk, en))
// (falling), r3 NOT(clk) (falling), r4 clk through a boundary (rising).
// Under a clock on clk, and under the default clocks of the traced clock
// sources (without constraints: r3 and r4 on clk's, not on clocks of the
// boundaries, which once made the path between them a full period). Each
// boundary once clocked its registers on both edges, and the stored
// netlist's arcs counted as binate.
TEST_F(KavuSscPartition, ClocksKeepTheirEdgesAcrossBoundaries) {
  std::ofstream("clocks.sdc") << "create_clock -name clk -period 1000 [get_ports clk]\n";
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_HIERARCHY hierarchy;
  hierarchy.set_instance_name(top_name());
  hierarchy.set_netlist(&nl);
  CDB_SGATE_NODE* clk = make_input_pin(&nl, "clk");
  CDB_SGATE_NODE* en = make_input_pin(&nl, "en");
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* r1 = named(make_dff(&nl, a, clk), "r1");
  CDB_SGATE_NODE* gated = make_not(&nl, make_and(&nl, clk, en));
  CDB_SGATE_NODE* inverted = make_not(&nl, clk);
  const std::vector<CDB_SGATE_NODE*> first(nl.begin_node_list(), nl.end_node_list());
  CDB_SGATE_NODE* b = make_input_pin(&nl, "b");
  CDB_SGATE_NODE* x = make_xor(&nl, r1, b);
  CDB_SGATE_NODE* r2 = named(make_dff(&nl, x, gated), "r2");
  CDB_SGATE_NODE* r3 = named(make_dff(&nl, r2, inverted), "r3");
  CDB_SGATE_NODE* r4 = named(make_dff(&nl, r3, clk), "r4");
  make_output_pin(&nl, "q", r4);
  partitions(&hierarchy, 1);
  // The whole design under each: [0] the clock on clk, [1] default clocks.
  KEYED_TIMING whole, whole_by_default;
  ASSERT_TRUE(analysed(&hierarchy, &nl, &whole));
  {
    CFG_SCOPE defaults{{"ssc_sdc_file", ""}};
    ASSERT_TRUE(analysed(&hierarchy, &nl, &whole_by_default));
  }
  // Slacks: the requirement less an XOR's 150 into r2.
  const struct {
    const char* what;
    CDB_SGATE_NODE* reg;
    int slack;
  } expected[] = {{"r2 from r1 (rising into falling)", r2, 350},
                  {"r3 from r2 (falling into falling)", r3, 1000},
                  {"r4 from r3 (falling into rising)", r4, 500}};
  for (const auto& e : expected) {
    EXPECT_EQ(whole.at(key_of(e.reg->get_input_term(0))).slack, e.slack) << e.what;
    if (e.reg != r2) {
      EXPECT_EQ(whole_by_default.at(key_of(e.reg->get_input_term(0))).slack, e.slack) << e.what;
    }
  }
  // The labelling: the first gates partition 1, the rest partition 2, each
  // edge from 1 into 2 cut by a pair of boundaries.
  std::set<CDB_SGATE_NODE*> in_first(first.begin(), first.end());
  for (CDB_SGATE_NODE* g : nl.get_node_list()) g->get_output_term(0)->set_aux(in_first.count(g) ? 1 : 2);
  cut_edge(&nl, r1, x->get_input_term(0), "r1_x");
  cut_edge(&nl, gated, r2->get_input_term(1), "gated_r2");
  cut_edge(&nl, inverted, r3->get_input_term(1), "inverted_r3");
  cut_edge(&nl, clk, r4->get_input_term(1), "clk_r4");
  for (CDB_SGATE_NODE* g : nl.get_node_list())
    if (CDB_SGATE_BOUNDARY* bd = g->cast_to_boundary())
      bd->get_output_term(0)->set_aux(bd->get_direction() == CDB_BOUNDARY_OUTPUT ? 1 : 2);
  std::string why;
  int constrained = 0;
  for (const bool by_default : {false, true}) {
    CFG_SCOPE defaults{{"ssc_sdc_file", by_default ? "" : "clocks.sdc"}};
    KEYED_TIMING labelled;
    ASSERT_TRUE(analysed(&hierarchy, &nl, &labelled));
    why.clear();
    EXPECT_EQ(differing(labelled, by_default ? whole_by_default : whole, &constrained, &why), 0)
        << "labelled" << (by_default ? " (default clocks):" : ":") << why;
  }
  partitions(&hierarchy, 2);
  std::vector<CDB_SGATE_NETLIST*> netlists{&nl};
  ASSERT_TRUE(kavu_write_flattened_tdb_netlist(&m_facade, netlists));
  KAVU_PARTITION_BOUNDARIES cut;
  std::vector<CDB_SGATE_NETLIST*> parts;
  kavu_get_partition_netlists(parts, &nl, nullptr, nullptr, cut, false);
  ASSERT_EQ(parts.size(), 2u);
  cdb_sgate_set_synthesis_running_in_parallel(false);
  for (const bool by_default : {false, true}) {
    CFG_SCOPE defaults{{"ssc_sdc_file", by_default ? "" : "clocks.sdc"}};
    for (CDB_SGATE_NETLIST* part : parts) {
      KEYED_TIMING alone;
      EXPECT_TRUE(analysed(&hierarchy, part, &alone));
      why.clear();
      EXPECT_EQ(differing(alone, by_default ? whole_by_default : whole, &constrained, &why), 0)
          << "partition " << part->get_number() << (by_default ? " (default clocks):" : ":") << why;
    }
  }
  EXPECT_GT(constrained, 12);
  cdb_sgate_set_synthesis_running_in_parallel(true);
  kavu_merge_netlists(parts, &nl, nullptr, cut);
}

// A gate netlist whose gates read gates of another netlist (the other half
// of a design, not cut by boundaries: here every other gate but the pins,
// read through a buffer each) takes their fan-in from the stored timing
// netlist: every terminal whose source it holds has the whole design's
// timing. Such a gate, left without the stored fan-in, once left 1,325 of
// tseng's terminals unconstrained.
TEST_F(KavuSscPartition, GatesReadingAnotherNetlistTakeTheirFaninFromTheStoredNetlist) {
  std::ofstream("clocks.sdc") << "create_clock -name clk -period 5000 [get_ports pclk]\n";
  LOADED_NETLIST nl = load_blif("mcnc/tseng");
  CDB_SGATE_HIERARCHY* hierarchy = nl->get_hierarchy();
  std::vector<CDB_SGATE_NODE*> order;  // the gates moved, in node order
  int k = 0;
  for (CDB_SGATE_NODE* g : nl->get_node_list())
    if (g && !g->is_pin() && k++ % 2) order.push_back(g);
  const std::set<CDB_SGATE_NODE*> moved(order.begin(), order.end());
  for (CDB_SGATE_NODE* g : std::vector<CDB_SGATE_NODE*>(nl->begin_node_list(), nl->end_node_list())) {
    if (!g || moved.count(g)) continue;
    for (unsigned i = 0; i < g->get_number_of_input_terms(); ++i) {
      CDB_SGATE_ITERM* t = g->get_input_term(i);
      CDB_SGATE_OTERM* src = t ? t->get_source() : nullptr;
      if (!src || !moved.count(src->get_my_node())) continue;
      const bool inverted = t->is_inverted();
      CDB_SGATE_BUFFER* buffer = make_buffer(nl.get(), src->get_my_node());
      t->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_UNCONNECTED);
      buffer->get_output_term(0)->insert_fanout(t);
      if (inverted) t->set_invert();
    }
  }
  partitions(hierarchy, 1);
  KEYED_TIMING whole;
  ASSERT_TRUE(analysed(hierarchy, nl.get(), &whole));
  partitions(hierarchy, 2);
  std::vector<CDB_SGATE_NETLIST*> netlists{nl.get()};
  ASSERT_TRUE(kavu_write_flattened_tdb_netlist(&m_facade, netlists));
  CDB_SGATE_NETLIST other;
  for (CDB_SGATE_NODE* g : order) {
    nl->delete_node_(g);
    other.add_node(g, true);
  }
  SSC_ITERM_TIMING_INFO_MAP map;
  EXPECT_TRUE(kavu_ssc_perform_timing_analysis(&m_facade, hierarchy, nl.get(), &map, nullptr, nullptr, nullptr, true,
                                               nullptr, false));
  int differ = 0, compared = 0, constrained = 0;
  for (const auto& [t, info] : map) {
    if (moved.count(t->get_source()->get_my_node())) continue;  // a buffer's input: an unreached terminal's entry
    const TERM_TIMING& w = whole.at(key_of(t));
    ++compared;
    constrained += info.m_slack != SSC_UNCONSTRAINED_SLACK;
    differ += info.m_slack != w.slack || info.m_ratio != w.ratio;
  }
  EXPECT_EQ(differ, 0) << "of " << compared << " terminals";
  EXPECT_GT(constrained, compared / 2);
  for (CDB_SGATE_NODE* g : order) {
    other.delete_node_(g);
    nl->add_node(g, true);
  }
}

// Writing the generic timing netlist removes the partitions' netlists the
// last compile stored, "tdb_<partition>.tdb", and no other file of the
// database directory: a user's "tdb_notes.txt" stays (every "tdb_" file
// once went), and so does a "tdb_p1.tdb" that no compile stored.
TEST_F(KavuSscPartition, WritingTheGenericNetlistRemovesOnlyStoredPartitionNetlists) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_HIERARCHY hierarchy;
  hierarchy.set_instance_name(top_name());
  hierarchy.set_netlist(&nl);
  named(make_dff(&nl, make_input_pin(&nl, "a"), make_input_pin(&nl, "clk")), "r");
  partitions(&hierarchy, 2);
  const std::string db = gen_get_db_dir_path();
  std::vector<CDB_SGATE_NETLIST*> netlists{&nl};
  {
    // The last compile: its generic netlist, and the partition's stored by its analysis.
    CFG_SCOPE per_partition{{"kavu_ssc_write_netlist_per_partition", "on"}};
    std::ofstream("clocks.sdc") << "create_clock -name clk -period 1000 [get_ports clk]\n";
    ASSERT_TRUE(kavu_write_flattened_tdb_netlist(&m_facade, netlists));
    KEYED_TIMING timing;
    ASSERT_TRUE(analysed(&hierarchy, &nl, &timing));
  }
  const std::vector<std::pair<std::string, bool>> files = {{"tdb_top.tdb", false},  {"tdb_p1.tdb", true},
                                                           {"tdb_notes.txt", true}, {"tdb_.tdb.bak", true},
                                                           {"my_tdb_p2.tdb", true}};
  ASSERT_TRUE(std::filesystem::exists(db + "/tdb_top.tdb"));
  for (const auto& [name, stays] : files)
    if (name != "tdb_top.tdb") std::ofstream(db + "/" + name) << "kept\n";
  kavu_ssc_reset_state();
  ASSERT_TRUE(kavu_write_flattened_tdb_netlist(&m_facade, netlists));
  for (const auto& [name, stays] : files) {
    EXPECT_EQ(std::filesystem::exists(db + "/" + name), stays) << name;
    std::filesystem::remove(db + "/" + name);
  }
  EXPECT_TRUE(std::filesystem::exists(db + "/tdb_generic.tdb"));
}

namespace {

// One create_clock per clock port of the designs, as the rows above make it.
void write_clocks(const std::vector<const CDB_SGATE_NETLIST*>& designs) {
  std::set<std::string> ports;
  for (const CDB_SGATE_NETLIST* nl : designs)
    for (const std::string& p : clock_ports(nl)) ports.insert(p);
  std::ofstream sdc("clocks.sdc");
  int k = 0;
  for (const std::string& p : ports) {
    sdc << "create_clock -name c" << k << " -period " << 5000 + 700 * k << " [get_ports {" << p << "}]\n";
    ++k;
  }
}

// A bundled design under the model name `model`, so that two designs of
// one model name ("top") get gate paths of their own.
LOADED_NETLIST load_as(const std::string& name, const std::string& model) {
  std::ifstream in(blif_data_path(name));
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t at = text.find(".model ");
  const size_t end = text.find('\n', at);
  text.replace(at, end - at, ".model " + model);
  const std::string file = model + ".blif";
  std::ofstream(file) << text;
  BLIF_RESULT r = blif_read_file(file);
  if (!r.netlist) throw std::runtime_error(r.error);
  return LOADED_NETLIST(r.netlist, LOADED_NETLIST_DELETER{r.hierarchy});
}

}  // namespace

// Two design partitions, each labelled and split, the flattened timing
// netlist stored once from both: every partition of each is timed as its
// whole design (the labelling of both netlists once refused every
// partition, whose split records only its own).
TEST_F(KavuSscPartition, TwoLabelledDesignPartitionsStoredOnceAreTimedAsTheirDesigns) {
  int compared = 0, constrained = 0;
  for (const auto& [first_name, second_name] :
       std::vector<std::pair<const char*, const char*>>{{"mcnc/s298", "small/counter8_lut4"}, {"mcnc/tseng", "mcnc/diffeq"}}) {
    SCOPED_TRACE(std::string(first_name) + " and " + second_name);
    LOADED_NETLIST designs[2] = {load_as(first_name, "first"), load_as(second_name, "second")};
    write_clocks({designs[0].get(), designs[1].get()});
    KEYED_TIMING whole[2];
    for (int d = 0; d < 2; ++d) {
      partitions(designs[d]->get_hierarchy(), 1);
      ASSERT_TRUE(analysed(designs[d]->get_hierarchy(), designs[d].get(), &whole[d]));
    }
    zhd_build("", {{"top", designs[0]->get_hierarchy()->get_instance_name(), -1, 0},
                   {"p1", designs[1]->get_hierarchy()->get_instance_name(), 0, 1}});
    std::vector<CDB_SGATE_NETLIST*> both{designs[0].get(), designs[1].get()};
    for (CDB_SGATE_NETLIST* nl : both) KAVU_PARTITIONER().partition_on_reg_boundary(nl, nullptr, partition_params(2), false);
    ASSERT_TRUE(kavu_write_flattened_tdb_netlist(&m_facade, both));
    msg_log_clear();
    for (int d = 0; d < 2; ++d) {
      KAVU_PARTITION_BOUNDARIES cut;
      std::vector<CDB_SGATE_NETLIST*> parts;
      kavu_get_partition_netlists(parts, designs[d].get(), designs[d]->get_hierarchy(), &m_facade, cut, false);
      cdb_sgate_set_synthesis_running_in_parallel(false);
      for (CDB_SGATE_NETLIST* part : parts) {
        KEYED_TIMING alone;
        std::string why;
        EXPECT_TRUE(analysed(designs[d]->get_hierarchy(), part, &alone)) << "design " << d << ", partition " << part->get_number();
        EXPECT_EQ(differing(alone, whole[d], &constrained, &why), 0) << "design " << d << ":" << why;
        compared += int(alone.size());
      }
      cdb_sgate_set_synthesis_running_in_parallel(true);
      kavu_merge_netlists(parts, designs[d].get(), designs[d]->get_hierarchy(), cut);
      kavu_delete_partition_on_reg_boundary(designs[d].get());
    }
    EXPECT_EQ(warnings_posted(), 0);
  }
  EXPECT_GT(constrained, compared / 4);
}

// Gates fed straight from another gate netlist (no buffer on any crossing),
// stored from both netlists: each netlist analysed alone gives every
// terminal, those fed from the other included, the whole design's timing,
// and registers clocked from the other netlist keep their clock. s298's
// registers alone in the second netlist once had 8 of 8 data inputs
// unconstrained, and a gate with inputs from both netlists kept only its
// own arcs.
TEST_F(KavuSscPartition, GatesFedFromAnotherNetlistTakeTheirOwnAndOutsideFaninAndClock) {
  struct ROW {
    const char* design;
    const char* moved;
  } const rows[] = {{"mcnc/s298", "registers"}, {"mcnc/tseng", "every other gate"}, {"small/counter8_lut4", "registers"}};
  for (const ROW& r : rows) {
    SCOPED_TRACE(std::string(r.design) + ", " + r.moved + " in a second netlist");
    LOADED_NETLIST nl = load_blif(r.design);
    CDB_SGATE_HIERARCHY* hierarchy = nl->get_hierarchy();
    write_clocks({nl.get()});
    partitions(hierarchy, 1);
    KEYED_TIMING whole;
    ASSERT_TRUE(analysed(hierarchy, nl.get(), &whole));
    std::vector<CDB_SGATE_NODE*> moved;
    int k = 0;
    for (CDB_SGATE_NODE* g : nl->get_node_list())
      if (g && !g->is_pin() && (std::strcmp(r.moved, "registers") == 0 ? g->cast_to_dff() != nullptr : k++ % 2 == 1))
        moved.push_back(g);
    ASSERT_FALSE(moved.empty());
    CDB_SGATE_NETLIST other;
    for (CDB_SGATE_NODE* g : moved) {
      nl->delete_node_(g);
      other.add_node(g, true);
    }
    partitions(hierarchy, 2);
    std::vector<CDB_SGATE_NETLIST*> both{nl.get(), &other};
    ASSERT_TRUE(kavu_write_flattened_tdb_netlist(&m_facade, both));
    int constrained = 0;
    for (CDB_SGATE_NETLIST* half : both) {
      KEYED_TIMING alone;
      std::string why;
      EXPECT_TRUE(analysed(hierarchy, half, &alone));
      EXPECT_EQ(differing(alone, whole, &constrained, &why), 0) << (half == &other ? "moved" : "kept") << ":" << why;
      size_t driven = 0;
      for (CDB_SGATE_NODE* g : half->get_node_list())
        for (unsigned i = 0; g && i < g->get_number_of_input_terms(); ++i)
          driven += g->get_input_term(i) && g->get_input_term(i)->get_source();
      EXPECT_EQ(alone.size(), driven);
    }
    EXPECT_GT(constrained, int(whole.size()) / 4);
    EXPECT_EQ(warnings_posted(), 0);
    for (CDB_SGATE_NODE* g : moved) {
      other.delete_node_(g);
      nl->add_node(g, true);
    }
  }
}

// A state machine under the MLS parallel flow: the split routes its clock,
// enable and reset into its partition through boundaries of its own, which
// no netlist stored before the split holds and nothing timed reads. Every
// partition of tseng into 3 is timed as the whole design against the
// netlist stored from the labelled design, and again from the partitions
// (the routed boundaries once made every partition refused).
TEST_F(KavuSscPartition, PartitionsOfARoutedStateMachineAreTimedAsTheWholeDesign) {
  CFG_SCOPE mls{{"parallel_mls_flow", "on"}};
  kavu_partition_reset_process_state();
  LOADED_NETLIST nl = load_blif("mcnc/tseng");
  CDB_SGATE_HIERARCHY* hierarchy = nl->get_hierarchy();
  write_clocks({nl.get()});
  // The machine: two state gates, each read by an output pin, clocked by
  // the first register's clock, enabled and reset by two registers.
  std::vector<CDB_SGATE_NODE*> regs;
  for (CDB_SGATE_NODE* g : nl->get_node_list())
    if (g && g->cast_to_dff()) regs.push_back(g);
  ASSERT_GE(regs.size(), 2u);
  auto* machine = new CDB_STATE_MACHINE;
  machine->set_name("fsm");
  machine->set_instance_name(HDB_INSTANCE_NAME::create_normal_name(nullptr, "fsm", nullptr, nullptr, nullptr));
  for (int i = 0; i < 2; ++i) {
    auto* state = new CDB_SGATE_STATE(nullptr, machine);
    nl->add_node(state, true);
    machine->add_state(state);
    make_output_pin(nl.get(), ("state" + std::to_string(i)).c_str(), state);
  }
  machine->set_clk(regs[0]->get_input_term(CDB_DFF_CLK)->get_source());
  machine->set_clk_en(regs[regs.size() / 2]->get_single_oterm());
  machine->set_reset(regs.back()->get_single_oterm());
  hierarchy->get_machine_list()->push_back(machine);
  partitions(hierarchy, 1);
  KEYED_TIMING whole;
  ASSERT_TRUE(analysed(hierarchy, nl.get(), &whole));
  partitions(hierarchy, 2);
  KAVU_PARTITIONER().partition_on_reg_boundary(nl.get(), nullptr, partition_params(3), false);
  std::vector<CDB_SGATE_NETLIST*> netlists{nl.get()};
  int constrained = 0, routed = 0;
  for (const bool from_parts : {false, true}) {
    SCOPED_TRACE(from_parts ? "stored from the partitions" : "stored from the labelled design");
    kavu_ssc_reset_state();
    msg_log_clear();
    if (!from_parts) {
      ASSERT_TRUE(kavu_write_flattened_tdb_netlist(&m_facade, netlists));
    }
    const size_t boundaries_before = size_t(std::count_if(nl->begin_node_list(), nl->end_node_list(),
                                                          [](CDB_SGATE_NODE* g) { return g && g->cast_to_boundary(); }));
    KAVU_PARTITION_BOUNDARIES cut;
    std::vector<CDB_SGATE_NETLIST*> parts;
    kavu_get_partition_netlists(parts, nl.get(), hierarchy, &m_facade, cut, false);
    ASSERT_EQ(parts.size(), 3u);
    size_t boundaries_after = 0;
    for (CDB_SGATE_NETLIST* part : parts)
      for (CDB_SGATE_NODE* g : part->get_node_list()) boundaries_after += g && g->cast_to_boundary();
    routed += int(boundaries_after - boundaries_before);
    if (from_parts) {
      ASSERT_TRUE(kavu_write_flattened_tdb_netlist(&m_facade, parts));
    }
    cdb_sgate_set_synthesis_running_in_parallel(false);
    for (CDB_SGATE_NETLIST* part : parts) {
      KEYED_TIMING alone;
      std::string why;
      EXPECT_TRUE(analysed(hierarchy, part, &alone)) << "partition " << part->get_number();
      EXPECT_EQ(differing(alone, whole, &constrained, &why), 0) << "partition " << part->get_number() << ":" << why;
    }
    EXPECT_EQ(warnings_posted(), 0);
    cdb_sgate_set_synthesis_running_in_parallel(true);
    kavu_merge_netlists(parts, nl.get(), hierarchy, cut);
  }
  EXPECT_GT(routed, 0) << "the split routed none of the machine's signals";
  EXPECT_GT(constrained, 0);
  kavu_delete_partition_on_reg_boundary(nl.get());
}

// Where the library cannot time a partition as the whole design it refuses,
// with one warning per compile that says what to do: a netlist stored from
// the partitions without the driver of one of its input boundaries (its
// recorded driver dropped), no netlist stored, one that another compile's
// store replaced. The other partitions of the first are still timed. (The
// last two were refused without a word.)
TEST_F(KavuSscPartition, APartitionTheStoredNetlistCannotTimeIsRefusedWithAWarning) {
  struct ROW {
    const char* what;
    const char* warning;
  } const rows[] = {{"a boundary without its driver", "holds no driver of"},
                    {"nothing stored", "holds no flattened timing netlist stored for this compile"},
                    {"replaced by another compile's", "holds no flattened timing netlist stored for this compile"}};
  for (const ROW& r : rows) {
    SCOPED_TRACE(r.what);
    const std::string what = r.what;
    LOADED_NETLIST nl = load_blif("small/counter8_lut4");
    CDB_SGATE_HIERARCHY* hierarchy = nl->get_hierarchy();
    write_clocks({nl.get()});
    partitions(hierarchy, 2);
    KAVU_PARTITIONER().partition_on_reg_boundary(nl.get(), nullptr, partition_params(2), false);
    kavu_ssc_reset_state();
    std::filesystem::remove(gen_get_db_dir_path() + "/tdb_generic.tdb");
    KAVU_PARTITION_BOUNDARIES cut;
    std::vector<CDB_SGATE_NETLIST*> parts;
    kavu_get_partition_netlists(parts, nl.get(), hierarchy, &m_facade, cut, false);
    ASSERT_EQ(parts.size(), 2u);
    CDB_SGATE_NODE* unjoined = nullptr;
    if (what == "a boundary without its driver") {
      // A cut input boundary whose data reaches a register.
      for (CDB_SGATE_NETLIST* part : parts)
        for (CDB_SGATE_NODE* g : part->get_node_list())
          if (CDB_SGATE_BOUNDARY* b = g ? g->cast_to_boundary() : nullptr; !unjoined && b && b->get_fed_by())
            for (CDB_SGATE_ITERM* t : b->get_single_oterm()->fanouts())
              if (t->get_my_node()->cast_to_dff()) unjoined = g;
      ASSERT_TRUE(unjoined);
      unjoined->cast_to_boundary()->set_fed_by(nullptr);
    }
    if (what != "nothing stored") {
      ASSERT_TRUE(kavu_write_flattened_tdb_netlist(&m_facade, parts));
    }
    if (what == "replaced by another compile's") {
      LOADED_NETLIST another = load_blif("small/counter8_generic");
      std::vector<CDB_SGATE_NETLIST*> netlists{another.get()};
      ASSERT_TRUE(kavu_write_flattened_tdb_netlist(&m_facade, netlists));
    }
    msg_log_clear();
    cdb_sgate_set_synthesis_running_in_parallel(false);
    int refused = 0;
    for (int round = 0; round < 2; ++round)
      for (CDB_SGATE_NETLIST* part : parts) {
        KEYED_TIMING alone;
        const bool holds = unjoined && unjoined->get_netlist() == part;
        const bool ok = analysed(hierarchy, part, &alone);
        EXPECT_EQ(ok, unjoined && !holds) << "partition " << part->get_number();
        refused += !ok;
      }
    EXPECT_EQ(refused, unjoined ? 2 : 4);
    EXPECT_EQ(warnings_posted(), 1);
    EXPECT_EQ(logged_with(r.warning), 1);
    if (unjoined) {
      EXPECT_EQ(logged_with(unjoined->get_string_hpath()), 1);
    }
    cdb_sgate_set_synthesis_running_in_parallel(true);
    kavu_merge_netlists(parts, nl.get(), hierarchy, cut);
  }
}

// A design of one partition stores no flattened timing netlist, so a
// partition split from it that meets other partitions at its boundaries
// cannot be timed as the whole design: its analysis is refused, with one
// warning per compile, in process and in a helper's process reading the
// flow's archives (each was timed from its own gates alone, every path from
// or to another partition lost: optimistic figures, without a word). A
// split into one partition, a partition whose boundaries all stay inside
// it, and the design merged back are timed as the whole design.
TEST_F(KavuSscPartition, APartitionOfADesignOfOnePartitionIsRefusedWhereItMeetsOthers) {
  const std::pair<const char*, int> rows[] = {
      {"mcnc/tseng", 1}, {"mcnc/tseng", 2}, {"mcnc/tseng", 3}, {"mcnc/s298", 2}, {"mcnc/s298", 3}};
  for (const auto& [design, n] : rows) {
    SCOPED_TRACE(std::string(design) + " in " + std::to_string(n));
    LOADED_NETLIST nl = load_blif(design);
    CDB_SGATE_HIERARCHY* hierarchy = nl->get_hierarchy();
    write_clocks({nl.get()});
    partitions(hierarchy, 1);
    KEYED_TIMING whole;
    ASSERT_TRUE(analysed(hierarchy, nl.get(), &whole));
    KAVU_PARTITIONER().partition_on_reg_boundary(nl.get(), nullptr, partition_params(n), false);
    KAVU_PARTITION_BOUNDARIES cut;
    std::vector<CDB_SGATE_NETLIST*> parts;
    kavu_get_partition_netlists(parts, nl.get(), hierarchy, &m_facade, cut, false);
    ASSERT_EQ(parts.size() == 1, n == 1);
    const bool timed = n == 1;
    const int count = int(parts.size());
    int constrained = 0;
    auto expect_timed = [&](const KEYED_TIMING& alone, bool ok, const std::string& what) {
      EXPECT_EQ(ok, timed) << what;
      std::string why;
      if (ok) {
        EXPECT_EQ(differing(alone, whole, &constrained, &why), 0) << what << ":" << why;
      }
    };
    kavu_ssc_reset_state();
    msg_log_clear();
    cdb_sgate_set_synthesis_running_in_parallel(false);
    for (int round = 0; round < 2; ++round)
      for (CDB_SGATE_NETLIST* part : parts) {
        KEYED_TIMING alone;
        const bool ok = analysed(hierarchy, part, &alone);
        expect_timed(alone, ok, "partition " + std::to_string(part->get_number()));
      }
    EXPECT_EQ(warnings_posted(), timed ? 0 : 1);
    EXPECT_EQ(logged_with("time the design before it is split"), timed ? 0 : 1);
    // The holder of the engine is refused as well, and so it is when told not
    // to check the design's partitions, with two of them.
    for (const bool check : {true, false}) {
      kavu_ssc_reset_state();
      msg_log_clear();
      partitions(hierarchy, check ? 1 : 2);
      {
        KAVU_SSC holder(&m_facade, hierarchy, parts.back(), SSC_DELAY_MODEL_UNIT, nullptr, check);
        EXPECT_EQ(KAVU_SSC::is_in_use(), timed) << "check_partitions " << check;
      }
      EXPECT_EQ(logged_with(check ? "which a design of one partition does not store"
                                  : "which an analysis that does not check the design's partitions does not read"),
                timed ? 0 : 1);
    }
    partitions(hierarchy, 1);
    cdb_sgate_set_synthesis_running_in_parallel(true);
    ASSERT_TRUE(kavu_parallel_serialize(&m_facade, kType, 1, hierarchy, parts));
    const HELPER_ANSWER helper = run_helper(count, 1);
    ASSERT_EQ(int(helper.analysed.size()), count) << "the helper did not finish";
    EXPECT_EQ(helper.warnings, timed ? 0 : 1);
    EXPECT_EQ(helper.warning_texts.size() == 1 &&
                  helper.warning_texts[0].find("time the design before it is split") != std::string::npos,
              !timed);
    for (int k = 0; k < count; ++k)
      expect_timed(helper.timing[size_t(k)], helper.analysed[size_t(k)], "helper, archive " + std::to_string(k));
    ASSERT_TRUE(kavu_parallel_deserialize(&m_facade, kType, 1, hierarchy, parts, count));
    kavu_merge_netlists(parts, nl.get(), hierarchy, cut);
    KEYED_TIMING merged;
    EXPECT_TRUE(analysed(hierarchy, nl.get(), &merged));
    std::string why;
    EXPECT_EQ(differing(merged, whole, &constrained, &why), 0) << "merged back:" << why;
    if (timed) {
      EXPECT_GT(constrained, int(whole.size()) / 2);
    }
    kavu_delete_partition_on_reg_boundary(nl.get());
  }

  // Two partitions of a small design, its data edge from inv1 into inv2
  // and its clock edge into r2 cut: with both ends of each cut edge in the
  // first partition and the second a register of its own on a clock of its
  // own, neither meets the other, and each is timed as the whole design;
  // with the far ends (inv2, r2, q) in the second, the first meets it only
  // at its output boundaries, the second at its input boundaries: both are
  // refused.
  std::ofstream("clocks.sdc") << "create_clock -name clk -period 1000 [get_ports {clk clk2}]\n";
  for (const bool across : {false, true}) {
    SCOPED_TRACE(across ? "cut edges across the partitions" : "cut edges inside the first partition");
    CDB_SGATE_NETLIST nl;
    CDB_SGATE_HIERARCHY hierarchy;
    hierarchy.set_instance_name(top_name());
    hierarchy.set_netlist(&nl);
    CDB_SGATE_NODE* clk = make_input_pin(&nl, "clk");
    CDB_SGATE_NODE* inv1 = make_not(&nl, named(make_dff(&nl, make_input_pin(&nl, "a"), clk), "r1"));
    CDB_SGATE_NODE* inv2 = make_not(&nl, inv1);
    CDB_SGATE_NODE* r2 = named(make_dff(&nl, inv2, clk), "r2");
    CDB_SGATE_NODE* q = make_output_pin(&nl, "q", r2);
    CDB_SGATE_NODE* clk2 = make_input_pin(&nl, "clk2");
    CDB_SGATE_NODE* b = make_input_pin(&nl, "b");
    CDB_SGATE_NODE* not_b = make_not(&nl, b);
    CDB_SGATE_NODE* r3 = named(make_dff(&nl, not_b, clk2), "r3");
    std::set<CDB_SGATE_NODE*> second = {clk2, b, not_b, r3, make_output_pin(&nl, "q3", r3)};
    if (across) second.insert({inv2, r2, q});
    partitions(&hierarchy, 1);
    kavu_ssc_reset_state();
    KEYED_TIMING whole;
    ASSERT_TRUE(analysed(&hierarchy, &nl, &whole));
    cut_edge(&nl, inv1, inv2->get_input_term(0), "inv1_inv2");
    cut_edge(&nl, clk, r2->get_input_term(CDB_DFF_CLK), "clk_r2");
    for (CDB_SGATE_NODE* g : nl.get_node_list()) {
      const CDB_SGATE_BOUNDARY* bd = g->cast_to_boundary();
      const bool far = bd ? across && bd->get_direction() == CDB_BOUNDARY_INPUT : second.count(g) > 0;
      g->get_output_term(0)->set_aux(far ? 2 : 1);
    }
    KAVU_PARTITION_BOUNDARIES cut;
    std::vector<CDB_SGATE_NETLIST*> parts;
    kavu_get_partition_netlists(parts, &nl, nullptr, nullptr, cut, false);
    ASSERT_EQ(parts.size(), 2u);
    msg_log_clear();
    cdb_sgate_set_synthesis_running_in_parallel(false);
    int constrained = 0;
    for (CDB_SGATE_NETLIST* part : parts) {
      KEYED_TIMING alone;
      std::string why;
      EXPECT_EQ(analysed(&hierarchy, part, &alone), !across) << "partition " << part->get_number();
      if (!across) {
        EXPECT_EQ(differing(alone, whole, &constrained, &why), 0) << "partition " << part->get_number() << ":" << why;
      }
    }
    EXPECT_EQ(constrained > 0, !across);
    EXPECT_EQ(logged_with("time the design before it is split"), across ? 1 : 0);
    cdb_sgate_set_synthesis_running_in_parallel(true);
    kavu_merge_netlists(parts, &nl, nullptr, cut);
  }
}

namespace {

// Makes every fourth LUT of the netlist (the first, the fifth, ...) constant (its mask 0), as synthesis
// folds a gate whose function it proves constant. Returns how many.
int make_luts_constant(CDB_SGATE_NETLIST* nl) {
  int seen = 0, made = 0;
  for (CDB_SGATE_NODE* g : nl->get_node_list()) {
    CDB_SGATE_LUT* lut = g ? g->cast_to_lut() : nullptr;
    if (!lut || seen++ % 4 != 0) continue;
    lut->set_lut_mask(CDB_LUTMASK::get_gnd_mask(lut->get_lut_mask().get_num_inputs()));
    ++made;
  }
  return made;
}

}  // namespace

// A partition is timed against the stored timing netlist only where that
// serves every boundary the partition meets others at, its output
// boundaries included: one stored before the labelling, or for another
// partitioning of the design (2 and 4, 3 and 2, 4 and 3 partitions), gives
// each partition, as it is and with gates made constant, in process and in
// a helper's process reading the flow's archives, the terminal timing of
// the labelled design merged back (edits and all), or refuses it with a
// warning. A store before the labelling once timed counter8_lut4's first of
// 3 partitions without a word, the inputs of its output boundaries
// unconstrained where the design has 4100.
TEST_F(KavuSscPartition, APartitionTheStoreDoesNotServeIsRefusedNeverTimedOptimistically) {
  struct ROW {
    const char* design;
    int stored_for;  // partitions of the labelling stored (0: before the labelling)
    int split;
  } const rows[] = {{"small/counter8_lut4", 0, 3}, {"small/counter8_lut4", 0, 2}, {"small/updown16_lut4", 0, 3},
                    {"small/counter8_lut4", 2, 4}, {"small/counter8_lut4", 4, 2}, {"small/updown16_lut4", 3, 2},
                    {"small/updown16_lut4", 4, 3}, {"small/lfsr16_lut4", 2, 4},
                    // Stored for the same partitioning (where the split labels
                    // the design as before): every partition timed.
                    {"small/counter8_lut4", 3, 3},   {"small/lfsr16_lut4", 4, 4}};
  int timed = 0, refused = 0, constrained = 0, edits = 0, served = 0;
  for (const ROW& r : rows)
    for (int edited = -1; edited < r.split; ++edited) {
      SCOPED_TRACE(std::string(r.design) + " stored for " + std::to_string(r.stored_for) + ", split into " +
                   std::to_string(r.split) + (edited < 0 ? "" : ", partition " + std::to_string(edited) + " edited"));
      LOADED_NETLIST nl = load_blif(r.design);
      CDB_SGATE_HIERARCHY* hierarchy = nl->get_hierarchy();
      write_clocks({nl.get()});
      partitions(hierarchy, 2);
      kavu_ssc_reset_state();
      std::vector<CDB_SGATE_NETLIST*> netlists{nl.get()};
      if (r.stored_for > 0)
        KAVU_PARTITIONER().partition_on_reg_boundary(nl.get(), nullptr, partition_params(r.stored_for), false);
      ASSERT_TRUE(kavu_write_flattened_tdb_netlist(&m_facade, netlists));
      if (r.stored_for > 0) kavu_delete_partition_on_reg_boundary(nl.get());
      KAVU_PARTITIONER().partition_on_reg_boundary(nl.get(), nullptr, partition_params(r.split), false);
      KAVU_PARTITION_BOUNDARIES cut;
      std::vector<CDB_SGATE_NETLIST*> parts;
      kavu_get_partition_netlists(parts, nl.get(), hierarchy, &m_facade, cut, false);
      ASSERT_GE(parts.size(), 2u);
      const bool same_labelling = parts[0]->get_split_labelling() == parts[0]->get_tdb_origin().labelling;
      served += same_labelling && edited < 0;
      // (A partition without LUTs stays as it is.)
      if (edited >= 0 && edited < int(parts.size())) edits += make_luts_constant(parts[size_t(edited)]);
      msg_log_clear();
      cdb_sgate_set_synthesis_running_in_parallel(false);
      const int n = int(parts.size());
      std::vector<KEYED_TIMING> alone(static_cast<size_t>(n));
      std::vector<bool> ok(size_t(n), false);
      for (int k = 0; k < n; ++k) ok[size_t(k)] = analysed(hierarchy, parts[size_t(k)], &alone[size_t(k)]);
      // The helper's archive of the partition edited (archives go largest
      // first), by its netlist number.
      std::vector<int> numbers;
      for (CDB_SGATE_NETLIST* part : parts) numbers.push_back(part->get_number());
      const int warned = warnings_posted();
      cdb_sgate_set_synthesis_running_in_parallel(true);
      ASSERT_TRUE(kavu_parallel_serialize(&m_facade, kType, 1, hierarchy, parts));
      const HELPER_ANSWER helper = run_helper(n);
      ASSERT_EQ(int(helper.analysed.size()), n) << "the helper did not finish";
      ASSERT_TRUE(kavu_parallel_deserialize(&m_facade, kType, 1, hierarchy, parts, n));
      kavu_merge_netlists(parts, nl.get(), hierarchy, cut);
      // The labelled design, edits and all, built whole.
      partitions(hierarchy, 1);
      KEYED_TIMING whole;
      ASSERT_TRUE(analysed(hierarchy, nl.get(), &whole));
      auto expect = [&](const KEYED_TIMING& part, bool analysed_ok, int warnings, const std::string& what) {
        if (same_labelling) {
          EXPECT_TRUE(analysed_ok) << what;
        }
        if (!analysed_ok) {
          ++refused;
          EXPECT_GE(warnings, 1) << what << " refused without a word";
          return;
        }
        ++timed;
        std::string first;
        EXPECT_EQ(differing(part, whole, &constrained, &first), 0) << what << ":" << first;
      };
      // With a partition edited, the others are timed against it as stored:
      // only it has the timing of the design edited.
      for (int k = 0; k < n; ++k) {
        if (edited >= 0 && k != edited) continue;
        expect(alone[size_t(k)], ok[size_t(k)], warned, "partition " + std::to_string(k));
      }
      for (int k = 0; k < n; ++k) {
        if (edited >= 0 && (edited >= n || helper.numbers[size_t(k)] != numbers[size_t(edited)])) continue;
        expect(helper.timing[size_t(k)], helper.analysed[size_t(k)], helper.warnings,
               "helper, archive " + std::to_string(k));
      }
      kavu_delete_partition_on_reg_boundary(nl.get());
      std::filesystem::remove(gen_get_db_dir_path() + "/tdb_top.tdb");
    }
  std::printf("%d partitions timed, %d refused, %d gates made constant\n", timed, refused, edits);
  EXPECT_GT(refused, 0);
  EXPECT_GT(timed, 0);
  EXPECT_GT(edits, 0);
  EXPECT_GT(served, 0) << "no store was made for the partitioning used";
}

// A timing netlist stored from the partitions read back from the flow's
// archives (as a host stores it after its helpers' first round) times every
// partition as the labelled design, in process and in a helper's process
// reading them again: the archives carry the driver the split recorded for
// each cut input boundary, by number, so the store joins each to the output
// boundary that drives it. (Such a store once joined none, and every
// partition was refused with a warning to store it after the design is
// partitioned.)
TEST_F(KavuSscPartition, AStoreFromThePartitionsReadBackTimesThemAsTheDesign) {
  int constrained = 0;
  for (const char* design : {"small/counter8_lut4", "mcnc/s298"}) {
    SCOPED_TRACE(design);
    LOADED_NETLIST nl = load_blif(design);
    CDB_SGATE_HIERARCHY* hierarchy = nl->get_hierarchy();
    write_clocks({nl.get()});
    KAVU_PARTITIONER().partition_on_reg_boundary(nl.get(), nullptr, partition_params(3), false);
    partitions(hierarchy, 1);
    kavu_ssc_reset_state();
    KEYED_TIMING whole;
    ASSERT_TRUE(analysed(hierarchy, nl.get(), &whole));
    partitions(hierarchy, 2);
    KAVU_PARTITION_BOUNDARIES cut;
    std::vector<CDB_SGATE_NETLIST*> parts;
    kavu_get_partition_netlists(parts, nl.get(), hierarchy, &m_facade, cut, false);
    const int n = int(parts.size());
    ASSERT_GE(n, 2);
    cdb_sgate_set_synthesis_running_in_parallel(true);
    ASSERT_TRUE(kavu_parallel_serialize(&m_facade, kType, 1, hierarchy, parts));
    ASSERT_EQ(int(run_helper(n).analysed.size()), n) << "the helper did not finish";
    ASSERT_TRUE(kavu_parallel_deserialize(&m_facade, kType, 1, hierarchy, parts, n));
    ASSERT_EQ(int(parts.size()), n);
    // Stored from the partitions read back, nothing else stored.
    kavu_ssc_reset_state();
    msg_log_clear();
    for (const char* file : {"/tdb_generic.tdb", "/tdb_top.tdb"}) std::filesystem::remove(gen_get_db_dir_path() + file);
    ASSERT_TRUE(kavu_write_flattened_tdb_netlist(&m_facade, parts));
    cdb_sgate_set_synthesis_running_in_parallel(false);
    auto expect_timed = [&](const KEYED_TIMING& alone, bool ok, const std::string& what) {
      EXPECT_TRUE(ok) << what;
      std::string first;
      if (ok) {
        EXPECT_EQ(differing(alone, whole, &constrained, &first), 0) << what << ":" << first;
      }
    };
    for (CDB_SGATE_NETLIST* part : parts) {
      KEYED_TIMING alone;
      const bool ok = analysed(hierarchy, part, &alone);
      expect_timed(alone, ok, "partition " + std::to_string(part->get_number()));
    }
    EXPECT_EQ(warnings_posted(), 0);
    cdb_sgate_set_synthesis_running_in_parallel(true);
    ASSERT_TRUE(kavu_parallel_serialize(&m_facade, kType, 1, hierarchy, parts));
    const HELPER_ANSWER helper = run_helper(n);
    ASSERT_EQ(int(helper.analysed.size()), n) << "the helper did not finish";
    EXPECT_EQ(helper.warnings, 0);
    for (int k = 0; k < n; ++k)
      expect_timed(helper.timing[size_t(k)], helper.analysed[size_t(k)], "helper, archive " + std::to_string(k));
    ASSERT_TRUE(kavu_parallel_deserialize(&m_facade, kType, 1, hierarchy, parts, n));
    kavu_merge_netlists(parts, nl.get(), hierarchy, cut);
    kavu_delete_partition_on_reg_boundary(nl.get());
  }
  EXPECT_GT(constrained, 0);
}
