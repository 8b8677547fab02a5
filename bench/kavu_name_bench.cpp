// Benchmark of the deferred naming pass: the largest bundled circuit gets a
// soft buffer in front of every driven input in deferred naming mode, then
// kavu_create_real_names_from_syn_ids names every marked terminal. The
// figure is nanoseconds per terminal the pass named.
//
// Each iteration works on a fresh load (loading and buffering are excluded
// from the timing); the names accumulate in the process's name tree, so
// later iterations also measure lookups among more children.
//
// Peer in the same run (BM_StdNamingPass): the same walk over the same
// marked terminals, each given the first free name "<base>~N" with standard
// containers — the base's path from a std::unordered_map (filled before the
// timing), the next number per base in a std::unordered_map, the names
// handed out in a std::unordered_set — which also accumulate across
// iterations. After the runs the program prints the ratio ours / peer.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "bench_support.h"
#include "cdb/cdb_sgate.h"
#include "kavu_helper_gate_create.h"
#include "kavu_name.h"
#include "netlist_io/blif.h"

namespace {

const char* const LARGEST_CIRCUIT = KAVU_TEST_DATA_DIR "/blif/epfl/sin.blif";

struct LOADED {
  CDB_SGATE_NETLIST* netlist = nullptr;
  CDB_SGATE_HIERARCHY* hierarchy = nullptr;
  ~LOADED() {
    delete netlist;
    delete hierarchy;
  }
};

// Loads the circuit and marks one soft buffer per driven input; returns the
// number of marked terminals.
long prepare(LOADED& loaded) {
  kavu_platform::BLIF_RESULT r = kavu_platform::blif_read_file(LARGEST_CIRCUIT);
  if (!r.netlist) {
    std::fprintf(stderr, "cannot read %s: %s\n", LARGEST_CIRCUIT, r.error.c_str());
    return -1;
  }
  loaded.netlist = r.netlist;
  loaded.hierarchy = r.hierarchy;
  std::vector<CDB_SGATE_ITERM*> inputs;
  kavu_bench::collect_driven_iterms(r.netlist, inputs);
  kavu_set_syn_id_sgate_naming_function();
  for (CDB_SGATE_ITERM* t : inputs) kavu_insert_soft_before(t, r.netlist, nullptr);
  kavu_reset_sgate_naming_function();
  return static_cast<long>(inputs.size());
}

void BM_DeferredNamingPass(benchmark::State& state) {
  long named = 0;
  for (auto _ : state) {
    state.PauseTiming();
    LOADED loaded;
    const long marked = prepare(loaded);
    if (marked < 0) {
      state.SkipWithError("circuit missing");
      return;
    }
    state.ResumeTiming();
    kavu_create_real_names_from_syn_ids(loaded.netlist);
    state.PauseTiming();
    named += marked;
    state.ResumeTiming();
  }
  state.counters["terminals"] = benchmark::Counter(static_cast<double>(named) / state.iterations());
  // Seconds per named terminal (printed with an SI prefix, e.g. "850n").
  state.counters["s_per_terminal"] =
      benchmark::Counter(static_cast<double>(named), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_DeferredNamingPass)->Unit(benchmark::kMillisecond)->Iterations(5);

// The peer's unique names, kept across passes as the name tree keeps its.
struct STD_NAMES {
  std::unordered_map<const HDB_INSTANCE_NAME*, std::string> m_base_path;
  std::unordered_map<std::string, int> m_next;
  std::unordered_set<std::string> m_taken;
  std::vector<std::string> m_given;

  // Paths of the bases of the marked terminals, outside the timing.
  void learn_bases(CDB_SGATE_NETLIST* netlist) {
    for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
      if (!*it) continue;
      for (CDB_SGATE_OTERM* o : (*it)->get_output_terms()) {
        const HDB_INSTANCE_NAME* base = o && o->has_synthesized_name_mark() ? base_of(o) : nullptr;
        if (base && !m_base_path.count(base)) m_base_path.emplace(base, base->get_short_hpath());
      }
    }
  }

  static const HDB_INSTANCE_NAME* base_of(const CDB_SGATE_OTERM* o) {
    return o->get_synfrom_name() ? o->get_synfrom_name() : o->get_my_node()->get_synfrom_name();
  }

  void name_marked(CDB_SGATE_NETLIST* netlist) {
    m_given.clear();
    for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
      if (!*it) continue;
      for (CDB_SGATE_OTERM* o : (*it)->get_output_terms()) {
        if (!o || !o->has_synthesized_name_mark()) continue;
        const std::string& base = m_base_path.at(base_of(o));
        int& next = m_next[base];
        std::string name;
        do name = base + "~" + std::to_string(++next);
        while (!m_taken.insert(name).second);
        m_given.push_back(std::move(name));
        o->clear_synthesized_name_mark();
      }
    }
  }
};

void BM_StdNamingPass(benchmark::State& state) {
  STD_NAMES names;
  long named = 0;
  for (auto _ : state) {
    state.PauseTiming();
    LOADED loaded;
    const long marked = prepare(loaded);
    if (marked < 0) {
      state.SkipWithError("circuit missing");
      return;
    }
    names.learn_bases(loaded.netlist);
    state.ResumeTiming();
    names.name_marked(loaded.netlist);
    state.PauseTiming();
    named += long(names.m_given.size());
    state.ResumeTiming();
  }
  state.counters["terminals"] = benchmark::Counter(static_cast<double>(named) / state.iterations());
  state.counters["s_per_terminal"] =
      benchmark::Counter(static_cast<double>(named), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_StdNamingPass)->Unit(benchmark::kMillisecond)->Iterations(5);

const kavu_bench::PEER_PAIR PEERS[] = {{"BM_DeferredNamingPass", "BM_StdNamingPass"}};

}  // namespace

int main(int argc, char** argv) { return kavu_bench::bench_main(argc, argv, {}, PEERS); }
