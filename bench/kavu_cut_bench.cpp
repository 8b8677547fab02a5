// kavu_cut_bench.cpp — k-feasible cut enumeration on the bundled EPFL
// circuits beside berkeley-abc's, the same cut set in the same run, and the
// largest-volume cut search.
//
// KavuCutAllCuts/<circuit>/K:k: get_all_cuts for every output terminal of
//   every gate with inputs, no depth bound, inside one cut pass (its build
//   included), timed by the process's CPU clock as abc's `time` is. Counters: cuts (ours: every head's cuts, its trivial cut
//   excluded), one_input_cuts (those of them whose head has one input: a
//   buffer or inverter, which abc's strash turns into an edge, as i2c's 14
//   output buffers of inputs), abc_cuts (abc's "Current cuts"), pass_MiB
//   (what the pass keeps). Output pins do not pass, so only the gates count
//   on our side. abc_cuts must equal cuts less one_input_cuts: a difference
//   fails the benchmark and the program's exit status.
// AbcCut/<circuit>/K:k: "read; strash; time; cut -K k -M 1000 -t -a -x
//   (repeated); time" — all cuts of every node (-x off: not only those of
//   multi-fan-out nodes), no truth tables or functions (-t, -a), timed by
//   abc's own `time` around the cut commands, divided by the repeats
//   (reading and start-up excluded; repeated until the run lasts 0.25 s,
//   as abc's clock shows hundredths).
// KavuCutPeak/<circuit>/K:k: the same work as two whole processes, ours
//   ("--cut-pass IN K": read, pass over every head) against abc (read,
//   strash, one cut), for the peak memory (ours_MiB, peer_MiB, mem_ratio).
// KavuCutDepth/K/depth: get_all_cuts of every head of sin with a depth
//   bound, each head enumerated on its own (pass:0) or in a pass (pass:1).
// KavuCutHeadByHead/<circuit>/K:k/depth:d: get_all_cuts of every head
//   with a walk depth below the circuit's logic depth, so that each head is
//   enumerated on its own (no pass), timed by the CPU clock beside AbcCut of
//   the same circuit and K (abc has no depth bound: the same heads, more cuts).
// KavuCutLargestVolume/K: the single-result largest-volume search of depth 8
//   for every gate of sin (the gate-absorbing use).
// After the runs the program prints ours / abc per circuit and K for the
// cut pass, and the head-by-head rows beside abc as two times (unlike work:
// abc has no depth bound), without a ratio.
#include <benchmark/benchmark.h>

#include <climits>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "bench_support.h"
#include "cdb/cdb_sgate.h"
#include "kavu_cut.h"
#include "netlist_io/blif.h"

namespace {

const char* const CIRCUITS[] = {"adder", "bar",    "cavlc",  "ctrl", "dec", "i2c",
                                "int2float", "max", "priority", "router", "sin", "sqrt"};

// A restoring square root of a 2n-bit input as an and-inverter graph in
// BLIF (two-input .names, inverters only on outputs), structurally hashed
// so that abc's strash keeps it node for node: the deep arithmetic shape of
// EPFL's sqrt (a 128-bit input gives about 24,000 nodes over some 4,000
// levels) for machines that do not carry that file.
class SQRT_AIG {
 public:
  explicit SQRT_AIG(int n) {
    std::vector<unsigned> a(2 * n);
    for (int i = 0; i < 2 * n; ++i) a[i] = input("a[" + std::to_string(i) + "]");
    std::vector<unsigned> rem, root;  // least significant bit first
    for (int step = n - 1; step >= 0; --step) {
      std::vector<unsigned> r = {a[2 * step], a[2 * step + 1]};
      r.insert(r.end(), rem.begin(), rem.end());
      std::vector<unsigned> t = {1, 0};  // (root << 2) | 1
      t.insert(t.end(), root.begin(), root.end());
      t.resize(r.size(), 0);
      std::vector<unsigned> diff(r.size());
      unsigned borrow = 0;
      for (size_t i = 0; i < r.size(); ++i) {
        const unsigned x = make_xor(r[i], t[i]);
        diff[i] = make_xor(x, borrow);
        borrow = make_or(make_and(r[i] ^ 1, t[i]), make_and(x ^ 1, borrow));
      }
      const unsigned fits = borrow ^ 1;
      rem.resize(r.size());
      for (size_t i = 0; i < r.size(); ++i) rem[i] = make_or(make_and(fits, diff[i]), make_and(fits ^ 1, r[i]));
      while (rem.size() > size_t(n + 2)) rem.pop_back();
      root.insert(root.begin(), fits);
    }
    for (int i = 0; i < n; ++i) output("asqrt[" + std::to_string(i) + "]", root[i]);
  }
  // Only the nodes the outputs depend on, as abc's strash keeps them.
  std::string blif() const {
    std::vector<char> used(m_names.size() + 1, 0);
    std::vector<unsigned> stack;
    for (const auto& out : m_outputs) stack.push_back(out.second / 2);
    while (!stack.empty()) {
      const unsigned node = stack.back();
      stack.pop_back();
      if (node == 0 || used[node]) continue;
      used[node] = 1;
      if (m_fanins[node].first) stack.insert(stack.end(), {m_fanins[node].first / 2, m_fanins[node].second / 2});
    }
    std::string text = ".model sqrt\n.inputs";
    for (const std::string& in : m_inputs) text += " " + in;
    text += "\n.outputs";
    for (const auto& out : m_outputs) text += " " + out.first;
    text += "\n";
    for (unsigned node = 1; node < used.size(); ++node) {
      const unsigned a = m_fanins[node].first, b = m_fanins[node].second;
      if (!used[node] || !a) continue;
      text += ".names " + name(a) + " " + name(b) + " " + m_names[node - 1] + "\n" + char('1' - (a & 1)) +
              char('1' - (b & 1)) + " 1\n";
    }
    for (const auto& out : m_outputs) {
      if (out.second < 2) text += ".names " + out.first + (out.second ? "\n1\n" : "\n");
      else text += ".names " + name(out.second & ~1U) + " " + out.first + (out.second & 1 ? "\n0 1\n" : "\n1 1\n");
    }
    return text + ".end\n";
  }

 private:
  // Literals: 0 and 1 the constants, 2 * node + complement otherwise.
  unsigned input(const std::string& n) {
    m_inputs.push_back(n);
    m_names.push_back(n);
    m_fanins.emplace_back(0, 0);
    return unsigned(2 * m_names.size());
  }
  void output(const std::string& n, unsigned lit) { m_outputs.emplace_back(n, lit); }
  std::string name(unsigned lit) const { return m_names[lit / 2 - 1]; }
  unsigned make_and(unsigned a, unsigned b) {
    if (a > b) std::swap(a, b);
    if (a == 0 || a == (b ^ 1)) return 0;
    if (a == 1 || a == b) return b;
    unsigned& node = m_hash[(uint64_t(a) << 32) | b];
    if (!node) {
      m_names.push_back("n" + std::to_string(m_names.size()));
      m_fanins.emplace_back(a, b);
      node = unsigned(2 * m_names.size());
    }
    return node;
  }
  unsigned make_or(unsigned a, unsigned b) { return make_and(a ^ 1, b ^ 1) ^ 1; }
  unsigned make_xor(unsigned a, unsigned b) { return make_or(make_and(a, b ^ 1), make_and(a ^ 1, b)); }

  std::vector<std::string> m_inputs, m_names;
  std::vector<std::pair<std::string, unsigned>> m_outputs;
  std::vector<std::pair<unsigned, unsigned>> m_fanins = {{0, 0}};  // by node, inputs' fan-ins 0
  std::map<uint64_t, unsigned> m_hash;
};

// The bundled EPFL circuits; "sqrt" is EPFL's where the data holds it and
// otherwise the 128-bit restoring square root above, written once to a
// temporary file that lives as long as the program.
std::string circuit_path(const std::string& name) {
  const std::string bundled = kavu_bench::bundled_circuit("epfl/" + name);
  if (name != "sqrt" || std::filesystem::exists(bundled)) return bundled;
  static kavu_bench::TEMP_DIR dir;
  static const std::string made = [] {
    const std::string path = dir.file("sqrt.blif");
    std::ofstream(path) << SQRT_AIG(64).blif();
    return path;
  }();
  return made;
}

struct CIRCUIT {
  explicit CIRCUIT(const std::string& path) {
    r = kavu_platform::blif_read_file(path);
    if (!r.netlist) {
      fprintf(stderr, "cannot read %s: %s\n", path.c_str(), r.error.c_str());
      std::exit(1);
    }
    for (auto it = r.netlist->begin_node_list(); it != r.netlist->end_node_list(); ++it) {
      CDB_SGATE_NODE* gate = *it;
      if (!gate || gate->get_number_of_input_terms() == 0) continue;
      for (CDB_SGATE_OTERM* o : gate->get_output_terms())
        if (o) heads.push_back(o);
    }
  }
  ~CIRCUIT() { kavu_bench::release(r); }
  kavu_platform::BLIF_RESULT r;
  std::vector<CDB_SGATE_OTERM*> heads;
};

CIRCUIT& circuit(const std::string& name) {
  static std::map<std::string, CIRCUIT*> loaded;  // kept for the program's life
  CIRCUIT*& c = loaded[name];
  if (!c) c = new CIRCUIT(circuit_path(name));
  return *c;
}

// Every head's cuts inside one pass; returns the number of cuts, and in
// *one_input those of heads whose gate has a single input (buffers and
// inverters, which abc's strash folds into edges, so abc has no node for them).
long all_cuts_in_pass(KAVU_WVNET_MANAGER& manager, CIRCUIT& c, unsigned k, unsigned depth, size_t* kept,
                      long* one_input = nullptr) {
  KAVU_WVNET_MANAGER::CUT_SET cuts;
  long total = 0;
  if (one_input) *one_input = 0;
  manager.begin_cut_pass(c.r.netlist, k);
  if (kept) *kept = manager.cut_pass_size();
  for (CDB_SGATE_OTERM* head : c.heads) {
    manager.get_all_cuts(head, depth, k, nullptr, &cuts);
    total += long(cuts.size());
    if (one_input && head->get_my_node()->get_number_of_input_terms() == 1) *one_input += long(cuts.size());
  }
  manager.end_cut_pass();
  return total;
}

// ---- berkeley-abc ----

struct ABC_FIGURES {
  bool ok = false;
  std::string error;
  long cuts = -1, trivial = -1;
  double seconds = 0;  // per cut command, by abc's own clock
};

long number_after(const std::string& text, const std::string& label) {
  const size_t at = text.rfind(label);
  if (at == std::string::npos) return -1;
  const size_t digit = text.find_first_of("0123456789", at + label.size());
  return digit == std::string::npos ? -1 : std::strtol(text.c_str() + digit, nullptr, 10);
}

// abc's `time` prints "elapse: S seconds, total: T seconds"; the last one
// covers the commands since the one before.
double last_elapse(const std::string& text) {
  const size_t at = text.rfind("elapse:");
  return at == std::string::npos ? -1 : std::strtod(text.c_str() + at + 7, nullptr);
}


ABC_FIGURES run_abc(const std::string& name, unsigned k, int repeats) {
  ABC_FIGURES f;
  const std::string abc = kavu_bench::find_program("berkeley-abc");
  kavu_bench::TEMP_DIR dir;
  if (abc.empty() || dir.path().empty()) {
    f.error = kavu_bench::peer_not_installed("berkeley-abc");
    return f;
  }
  std::string commands = "read " + circuit_path(name) + "; strash; time";
  for (int i = 0; i < repeats; ++i) commands += "; cut -K " + std::to_string(k) + " -M 1000 -t -a -x";
  commands += "; time";
  const kavu_bench::PROCESS_FIGURES p = kavu_bench::run_peer({abc, "-c", commands}, dir.path());
  f.cuts = number_after(p.output, "Current cuts");
  f.trivial = number_after(p.output, "Trivial =");
  f.seconds = last_elapse(p.output) / repeats;
  if (p.status != 0 || f.cuts < 0 || f.seconds < 0) {
    f.error = kavu_bench::failure("berkeley-abc", p);
    return f;
  }
  f.ok = true;
  return f;
}

// abc's clock shows hundredths of a second: the cut command is repeated
// until the run lasts long enough for a figure to two significant digits.
ABC_FIGURES run_abc_timed(const std::string& name, unsigned k) {
  int repeats = 4;
  while (true) {
    ABC_FIGURES f = run_abc(name, k, repeats);
    const double total = f.seconds * repeats;
    if (!f.ok || total >= 0.25 || repeats >= 4096) return f;
    repeats = total < 0.01 ? repeats * 16 : std::min(4096, int(repeats * 0.3 / total) + 1);
  }
}

const ABC_FIGURES& abc_once(const std::string& name, unsigned k) {
  static std::map<std::pair<std::string, unsigned>, ABC_FIGURES> done;
  auto it = done.find({name, k});
  if (it == done.end()) it = done.emplace(std::make_pair(name, k), run_abc(name, k, 1)).first;
  return it->second;
}

// Process CPU time in seconds: abc's `time` reports its CPU time too, so a
// loaded machine does not tilt the ratio.
double cpu_seconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

void KavuCutAllCuts(benchmark::State& state, const std::string& name) {
  CIRCUIT& c = circuit(name);
  const unsigned k = unsigned(state.range(0));
  KAVU_WVNET_MANAGER manager;
  long total = 0, one_input = 0;
  size_t kept = 0;
  for (auto _ : state) {
    const double start = cpu_seconds();
    total = all_cuts_in_pass(manager, c, k, UINT_MAX, &kept, &one_input);
    state.SetIterationTime(cpu_seconds() - start);
  }
  state.counters["cuts"] = double(total);
  state.counters["one_input_cuts"] = double(one_input);
  state.counters["pass_MiB"] = double(kept) * (8 + 1 + 4.0 * k) / (1 << 20);
  const ABC_FIGURES& abc = abc_once(name, k);
  if (abc.ok) {
    state.counters["abc_cuts"] = double(abc.cuts);
    if (abc.cuts != total - one_input)
      kavu_bench::mismatch(state, name + " K=" + std::to_string(k) + ": abc has " + std::to_string(abc.cuts) +
                                      " cuts, ours " + std::to_string(total - one_input) +
                                      " without the one-input heads' " + std::to_string(one_input));
  }
}

void AbcCut(benchmark::State& state, const std::string& name) {
  const unsigned k = unsigned(state.range(0));
  ABC_FIGURES f;
  for (auto _ : state) {
    f = run_abc_timed(name, k);
    if (!f.ok) {
      state.SkipWithError(f.error.c_str());
      return;
    }
    state.SetIterationTime(f.seconds);
  }
  state.counters["cuts"] = double(f.cuts);
}

// "--cut-pass IN.blif K": read, every head's cuts in one pass.
int cut_pass_process(std::span<char* const> args) {
  if (args.size() != 2) {
    std::fprintf(stderr, "usage: IN.blif K\n");
    return 2;
  }
  CIRCUIT c(args[0]);
  KAVU_WVNET_MANAGER manager;
  const long total = all_cuts_in_pass(manager, c, unsigned(std::atoi(args[1])), UINT_MAX, nullptr);
  std::printf("cuts %ld\n", total);
  return 0;
}

void KavuCutPeak(benchmark::State& state, const std::string& name) {
  const std::string k = std::to_string(state.range(0));
  kavu_bench::TEMP_DIR dir;
  const std::string abc = kavu_bench::find_program("berkeley-abc");
  kavu_bench::compare_processes(
      state, dir.path(), {kavu_bench::self_program(), "--cut-pass", circuit_path(name), k},
      {abc, "-c", "read " + circuit_path(name) + "; strash; cut -K " + k + " -M 1000 -t -a -x"}, "berkeley-abc",
      kavu_bench::prints_figure("Current cuts"));
}

// Every head's cuts with a walk depth below the logic depth, each head
// enumerated on its own (no pass), beside abc's run of all cuts.
void KavuCutHeadByHead(benchmark::State& state, const std::string& name) {
  CIRCUIT& c = circuit(name);
  const unsigned k = unsigned(state.range(0)), depth = unsigned(state.range(1));
  KAVU_WVNET_MANAGER manager;
  KAVU_WVNET_MANAGER::CUT_SET cuts;
  long total = 0;
  for (auto _ : state) {
    const double start = cpu_seconds();
    total = 0;
    for (CDB_SGATE_OTERM* head : c.heads) {
      manager.get_all_cuts(head, depth, k, nullptr, &cuts);
      total += long(cuts.size());
    }
    state.SetIterationTime(cpu_seconds() - start);
  }
  state.counters["cuts"] = double(total);
}

void register_circuits() {
  for (const char* name : {"sin", "sqrt"})
    benchmark::RegisterBenchmark((std::string("KavuCutHeadByHead/") + name).c_str(), KavuCutHeadByHead, name)
        ->ArgNames({"K", "depth"})->Args({4, 8})->UseManualTime()->Unit(benchmark::kMillisecond);
  for (const char* name : CIRCUITS) {
    const std::string n = name;
    benchmark::RegisterBenchmark(("KavuCutAllCuts/" + n).c_str(), KavuCutAllCuts, n)
        ->ArgName("K")->Arg(4)->Arg(6)->UseManualTime()->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("AbcCut/" + n).c_str(), AbcCut, n)
        ->ArgName("K")->Arg(4)->Arg(6)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("KavuCutPeak/" + n).c_str(), KavuCutPeak, n)
        ->ArgName("K")->Arg(4)->Arg(6)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
  }
}

void KavuCutDepth(benchmark::State& state) {
  CIRCUIT& c = circuit("sin");
  const unsigned k = unsigned(state.range(0)), depth = unsigned(state.range(1));
  const bool pass = state.range(2) != 0;
  KAVU_WVNET_MANAGER manager;
  KAVU_WVNET_MANAGER::CUT_SET cuts;
  long total = 0;
  for (auto _ : state) {
    if (pass) {
      total = all_cuts_in_pass(manager, c, k, depth, nullptr);
      continue;
    }
    total = 0;
    for (CDB_SGATE_OTERM* head : c.heads) {
      manager.get_all_cuts(head, depth, k, nullptr, &cuts);
      total += long(cuts.size());
    }
  }
  state.counters["cuts"] = double(total);
}
BENCHMARK(KavuCutDepth)
    ->ArgNames({"K", "depth", "pass"})
    ->Args({4, 6, 0})
    ->Args({4, 6, 1})
    ->Args({4, 12, 0})
    ->Args({4, 12, 1})
    ->Args({6, 6, 0})
    ->Args({6, 6, 1})
    ->Args({6, 10, 1})
    ->Unit(benchmark::kMillisecond);

void KavuCutLargestVolume(benchmark::State& state) {
  CIRCUIT& c = circuit("sin");
  const int k = int(state.range(0));
  KAVU_WVNET_MANAGER manager;
  KAVU_WVNET_MANAGER::OTERM_LIST cut;
  long found = 0, volume_sum = 0;
  for (auto _ : state) {
    found = volume_sum = 0;
    for (CDB_SGATE_OTERM* head : c.heads) {
      int volume = 0;
      if (manager.kavu_get_largest_volume_mincut_of_size(head, 8, k, &cut, &volume, false, false, false, true)) {
        ++found;
        volume_sum += volume;
      }
    }
  }
  state.counters["found"] = double(found);
  state.counters["mean_volume"] = found ? double(volume_sum) / double(found) : 0.0;
}
BENCHMARK(KavuCutLargestVolume)->Arg(4)->Arg(6)->Unit(benchmark::kMillisecond);

const kavu_bench::PEER_PAIR PEERS[] = {{"KavuCutAllCuts", "AbcCut"}, {"KavuCutHeadByHead", "AbcCut", "depth", true}};
const kavu_bench::PROCESS_MODE MODES[] = {{"--cut-pass", cut_pass_process}};

}  // namespace

int main(int argc, char** argv) {
  register_circuits();
  return kavu_bench::bench_main(argc, argv, MODES, PEERS);
}
