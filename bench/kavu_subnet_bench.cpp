// Benchmark of sub-netlist extraction and stitch-back: a generated random
// LUT DAG of 2·10^5 gates, of which 10^5 are the new gates, is split into a
// sub-netlist (KAVU_SUBNET::kavu_subnet_create) and stitched back
// (kavu_subnet_stitch_back). Figures are nanoseconds per new gate for each
// half and for the round trip.
//
// Two choices of new gates: the upper half of the gates by id (one block, a
// boundary of about a thousand terminals, as the generator's window is a
// thousand signals wide) and every second gate (almost every terminal is on
// the boundary, so nearly every gate gets pins). The design is generated
// once per benchmark; every round trip restores it, so iterations measure
// the same work. No outside program does this job, so there is no peer.
#include <benchmark/benchmark.h>

#include <time.h>

#include <memory>
#include <vector>

#include "bench_support.h"
#include "cdb/cdb_sgate.h"
#include "cmp/cmp.h"
#include "kavu_subnet.h"
#include "netlist_io/generators.h"

namespace {

const int DESIGN_GATES = 200000;

// Thread CPU time in seconds: the figures stay readable on a shared machine.
double cpu_seconds() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + 1e-9 * double(ts.tv_nsec);
}

struct DESIGN {
  std::unique_ptr<CDB_SGATE_NETLIST> netlist;
  std::vector<CDB_SGATE_NODE*> fresh;
  size_t pins = 0;
};

// The LUTs of the generated design, in node-list order; `every_second`
// picks alternate ones, otherwise the upper half.
DESIGN make_design(bool every_second) {
  DESIGN d;
  d.netlist.reset(kavu_platform::make_random_dag(DESIGN_GATES, 7));
  std::vector<CDB_SGATE_NODE*> luts;
  for (CDB_SGATE_NODE* n : d.netlist->get_node_list())
    if (n && n->get_sgate_type() == CDB_SGATE_LUT_ENUM) luts.push_back(n);
  for (size_t i = 0; i < luts.size(); ++i)
    if (every_second ? i % 2 == 1 : i >= luts.size() / 2) d.fresh.push_back(luts[i]);
  return d;
}

void BM_SubnetRoundTrip(benchmark::State& state) {
  DESIGN d = make_design(state.range(0) != 0);
  CMP_FACADE facade;
  double create_s = 0, stitch_s = 0;
  size_t pins = 0;
  for (auto _ : state) {
    KAVU_SUBNET builder(d.netlist.get(), &facade, nullptr, nullptr);
    const double t0 = cpu_seconds();
    builder.kavu_subnet_create(d.fresh);
    const double t1 = cpu_seconds();
    pins = builder.get_fanin_oterms().size() + builder.get_fanout_oterms().size();
    builder.kavu_subnet_stitch_back();
    const double t2 = cpu_seconds();
    create_s += t1 - t0;
    stitch_s += t2 - t1;
  }
  const double per_node = 1e9 / (double(d.fresh.size()) * double(state.iterations()));
  state.counters["new_gates"] = double(d.fresh.size());
  state.counters["pins"] = double(pins);
  state.counters["ns_per_gate_create"] = create_s * per_node;
  state.counters["ns_per_gate_stitch"] = stitch_s * per_node;
  state.counters["ns_per_gate"] = (create_s + stitch_s) * per_node;
}

}  // namespace

BENCHMARK(BM_SubnetRoundTrip)->Arg(0)->Arg(1)->ArgName("every_second")->Unit(benchmark::kMillisecond)->Iterations(5);

int main(int argc, char** argv) { return kavu_bench::bench_main(argc, argv); }
