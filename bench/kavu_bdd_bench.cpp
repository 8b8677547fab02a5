// kavu_bdd_bench.cpp — our BDD package beside BuDDy on the same work, and
// the LUT unmapper's BDD form.
//
//   BM_Cones/<c>   the BDD of every LUT cone of a mapped circuit (lut6/sin:
//        6-input LUTs; mcnc/des: 4-input LUTs), each built as the OR of its
//        minterm cubes over variables 0..n-1, each cube made by one call
//        on both sides (ours' build_cube, BuDDy's bdd_ibuildcube); one
//        manager for all, made and freed inside the timed region on both
//        sides. Counters: nodes, buddy_nodes (sums of the cones' node
//        counts, terminals excluded; ours with complement edges).
//   BM_Build/case/ce   the BDDs of all outputs of a circuit, every gate by
//        its LUT mask, each side making its manager inside the timed
//        region (BuDDy's bdd_init lays out its node and computed tables
//        there; ours grows its computed table during the build), and
//        freeing it outside. Cases: the EPFL control circuits (variables
//        in the file's input order, 10^2-10^3 nodes) and the low product
//        bits of array multipliers in the interleaved order a0 b0 a1 b1 ...
//        (10^5-10^6 nodes), only the gates those bits need. ce: ours with
//        (1) or without (0) complement edges; BuDDy has none. Counters:
//        nodes and buddy_nodes (shared nodes of the outputs, terminals
//        excluded), gc and buddy_gc (collections during the build).
//   BM_Sift/case/ce    the same build on both sides (untimed, then
//        collected), then one full sifting of every variable (timed); all
//        cases but the largest. Counters: before, after, buddy_after.
//   BM_UnmapForm/<form>/<c>               every LUT of lut6/sin or mcnc/des
//        unmapped by the factored (1) or the BDD (2) form. Counter: LUTs
//        per second.
//   BM_SanityAllMasks/<form>/<n>          every 4-input mask (n = 4), or
//        10^5 random 6-input masks (n = 6), unmapped with the sanity check
//        on and inverted, tied and duplicate inputs (the full counts of the
//        test suite's share); one iteration each.
// Ours and BuDDy run in turn within each row, each first in every other
// iteration (bench_support.h alternate()): counters ours_ms, peer_ms and
// ratio = ours / BuDDy (median of the pairs).
// Settings: both packages get a node table near what the job needs (the
// nodes BuDDy makes for the build without collecting, found by one untimed
// probe, plus a quarter) and a computed table of a quarter of that many
// entries; BuDDy keeps that cache ratio when its table grows
// (bdd_setcacheratio) and grows in one step (bdd_setmaxincrease), as its
// manual advises for large jobs. No automatic reordering. Making a manager
// is inside the timed region of the cones and the build on both sides
// (BuDDy's bdd_init links every node of its table and fills its computed
// table, ours backs its tables with memory and grows its computed table as
// the work asks), freeing it outside the build's; sifting times neither.
// Every explicit collection is outside the timed region: a side collects
// inside it only when its own operations decide to (counted in gc).
// Checks, outside the timed region: every cone's function equals its LUT
// mask on every assignment on both sides and, without complement edges,
// ours' cone node count equals BuDDy's; every output evaluated on 64 random
// assignments must agree between BuDDy and ours (with and without
// complement edges, after the build and after sifting), without complement
// edges ours must have exactly BuDDy's node count after the build and no
// more nodes than BuDDy's after sifting (the two siftings may stop at
// different orders). A difference fails the benchmark and the program's
// exit status.
#include <benchmark/benchmark.h>
#include <bdd.h>

#include <chrono>
#include <cstdio>
#include <list>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bdd/bdd_zbdd.h"
#include "bench_support.h"
#include "cdb/cdb_sgate.h"
#include "kavu_helper_predicates.h"
#include "kavu_lut_unmapper.h"
#include "netlist_io/blif.h"
#include "netlist_io/generators.h"

using namespace kavu_platform;
using namespace kavu_bench;

namespace {

// A circuit as plain data: inputs 0..inputs-1 are the input pins in file
// order, input k is BDD variable var_of_input[k]; gates in topological order
// read signals (inputs first, then gate outputs), inverted where marked; -1
// is a constant 1 (0 when inverted).
struct GATE {
  uint64_t mask;
  std::vector<int> in;
  std::vector<bool> inv;
};
struct CIRCUIT {
  int inputs = 0;
  std::vector<int> var_of_input;
  std::vector<GATE> gates;
  std::vector<std::pair<int, bool>> outputs;
  std::string error;
};

CIRCUIT extract(const std::string& path) {
  CIRCUIT c;
  BLIF_RESULT loaded = blif_read_file(path);
  if (!loaded.netlist) {
    c.error = loaded.error;
    return c;
  }
  std::map<const CDB_SGATE_OTERM*, int> signal;
  std::vector<CDB_SGATE_LUT*> luts;
  std::vector<const CDB_SGATE_NODE*> outs;
  for (auto it = loaded.netlist->begin_node_list(); it != loaded.netlist->end_node_list(); ++it) {
    if (!*it) continue;
    if (kavu_is_a_input_pin(*it)) signal[(*it)->get_output_term(0)] = c.inputs++;
    else if (kavu_is_a_lut(*it)) luts.push_back((*it)->cast_to_lut());
    else if (kavu_is_a_pin(*it)) outs.push_back(*it);
  }
  for (int i = 0; i < c.inputs; ++i) c.var_of_input.push_back(i);
  // Kahn order over the LUTs.
  std::vector<bool> done(luts.size(), false);
  size_t placed = 0;
  while (placed < luts.size()) {
    const size_t before = placed;
    for (size_t k = 0; k < luts.size(); ++k) {
      if (done[k]) continue;
      GATE g;
      g.mask = luts[k]->get_lut_mask().get_value();
      bool ready = true;
      for (const CDB_SGATE_ITERM* t : luts[k]->get_input_terms()) {
        const CDB_SGATE_OTERM* s = t ? t->get_source() : nullptr;
        if (s && !signal.count(s)) {
          ready = false;
          break;
        }
        g.in.push_back(s ? signal[s] : -1);
        g.inv.push_back(t && t->is_inverted());
      }
      if (!ready) continue;
      signal[luts[k]->get_output_term(0)] = c.inputs + int(c.gates.size());
      c.gates.push_back(std::move(g));
      done[k] = true;
      ++placed;
    }
    if (placed == before) {
      c.error = "not combinational";
      break;
    }
  }
  for (const CDB_SGATE_NODE* o : outs) {
    const CDB_SGATE_ITERM* t = o->get_input_term(0);
    if (t && t->get_source() && signal.count(t->get_source()))
      c.outputs.push_back({signal[t->get_source()], t->is_inverted()});
  }
  release(loaded);
  return c;
}

// Keeps the first `count` outputs and only the gates they need.
void keep_outputs(CIRCUIT& c, size_t count) {
  c.outputs.resize(std::min(count, c.outputs.size()));
  std::vector<bool> needed(c.gates.size(), false);
  for (const auto& o : c.outputs)
    if (o.first >= c.inputs) needed[size_t(o.first - c.inputs)] = true;
  for (size_t k = c.gates.size(); k-- > 0;)
    if (needed[k])
      for (int s : c.gates[k].in)
        if (s >= c.inputs) needed[size_t(s - c.inputs)] = true;
  std::vector<int> renamed(c.gates.size(), -1);
  std::vector<GATE> kept;
  for (size_t k = 0; k < c.gates.size(); ++k) {
    if (!needed[k]) continue;
    GATE g = c.gates[k];
    for (int& s : g.in)
      if (s >= c.inputs) s = renamed[size_t(s - c.inputs)];
    renamed[k] = c.inputs + int(kept.size());
    kept.push_back(std::move(g));
  }
  for (auto& o : c.outputs)
    if (o.first >= c.inputs) o.first = renamed[size_t(o.first - c.inputs)];
  c.gates.swap(kept);
}

// The n x n array multiplier, written as BLIF and read back as a user
// would load it; product bits 0..bits-1, inputs a0 b0 a1 b1 ... from the top.
CIRCUIT multiplier(int n, int bits) {
  TEMP_DIR dir;
  const std::string path = dir.file("mult.blif");
  std::unique_ptr<CDB_SGATE_NETLIST> netlist(make_array_multiplier(n));
  std::string why;
  if (dir.path().empty() || !blif_write_file(netlist.get(), path, {}, &why)) {
    CIRCUIT c;
    c.error = "cannot write the multiplier: " + why;
    return c;
  }
  CIRCUIT c = extract(path);
  if (!c.error.empty()) return c;
  for (int i = 0; i < n; ++i) {  // the file lists a0..a(n-1), then b0..b(n-1)
    c.var_of_input[size_t(i)] = 2 * i;
    c.var_of_input[size_t(n + i)] = 2 * i + 1;
  }
  keep_outputs(c, size_t(bits));
  return c;
}

struct BUILD_CASE {
  const char* label;
  const char* file;  // bundled circuit, or null for a multiplier
  int n, bits;
};
const BUILD_CASE kBuildCases[] = {
    {"epfl/ctrl", "epfl/ctrl", 0, 0},
    {"epfl/int2float", "epfl/int2float", 0, 0},
    {"epfl/router", "epfl/router", 0, 0},
    {"epfl/cavlc", "epfl/cavlc", 0, 0},
    {"epfl/i2c", "epfl/i2c", 0, 0},
    {"mult 16x16 p0..p12, interleaved", nullptr, 16, 13},
    {"mult 16x16 p0..p14, interleaved", nullptr, 16, 15},
};
constexpr int kNumBuildCases = int(sizeof(kBuildCases) / sizeof(kBuildCases[0]));
// Sifting 6*10^5 nodes takes minutes per side; the sifting figures stop at
// the 10^5-node case.
constexpr int kNumSiftCases = kNumBuildCases - 1;

const CIRCUIT& circuit(const std::string& name) {
  static std::map<std::string, CIRCUIT> cache;
  auto it = cache.find(name);
  if (it == cache.end()) it = cache.emplace(name, extract(bundled_circuit(name))).first;
  return it->second;
}

const CIRCUIT& build_circuit(int which) {
  static std::map<int, CIRCUIT> cache;
  auto it = cache.find(which);
  if (it != cache.end()) return it->second;
  const BUILD_CASE& bc = kBuildCases[which];
  return cache.emplace(which, bc.file ? extract(bundled_circuit(bc.file)) : multiplier(bc.n, bc.bits)).first->second;
}

// One LUT's function from its inputs: an if-then-else tree over the mask.
template <class B, class ITE>
B mask_tree(uint64_t mask, const std::vector<B>& x, int v, int lo, int hi, const B& one, const B& zero, ITE ite) {
  if (lo == hi) return ((mask >> lo) & 1u) ? one : zero;
  const int mid = (lo + hi) / 2;
  return ite(x[v], mask_tree(mask, x, v - 1, mid + 1, hi, one, zero, ite), mask_tree(mask, x, v - 1, lo, mid, one, zero, ite));
}

// 64 random assignments of the variables: bit k of words[v] is variable v
// in assignment k.
std::vector<uint64_t> random_assignments(int vars) {
  std::mt19937_64 rng(2024);
  std::vector<uint64_t> words(static_cast<size_t>(vars));
  for (uint64_t& w : words) w = rng();
  return words;
}

// ---- ours ----
struct OURS {
  BDD_ZBDD_MGR mgr;
  std::vector<BDD_ZBDD> sig;
  int collections = 0;  // collections the operations made by themselves
  OURS(int vars, int nodes, int cache, bool ce) : mgr(vars, nodes, cache, ce, false) {}
  void build(const CIRCUIT& c) {
    sig.clear();
    for (int i = 0; i < c.inputs; ++i) sig.push_back(mgr.ithvar(c.var_of_input[size_t(i)]));
    const BDD_ZBDD one = mgr.true_bdd(), zero = mgr.false_bdd();
    std::vector<BDD_ZBDD> x;
    int table = mgr.size();
    for (const GATE& g : c.gates) {
      x.clear();
      for (size_t i = 0; i < g.in.size(); ++i) {
        const BDD_ZBDD s = g.in[i] < 0 ? one : sig[size_t(g.in[i])];
        x.push_back(g.inv[i] ? !s : s);
      }
      const int n = int(x.size());
      sig.push_back(n == 0 ? ((g.mask & 1) ? one : zero)
                           : mask_tree(g.mask, x, n - 1, 0, (1 << n) - 1, one, zero,
                                       [](const BDD_ZBDD& f, const BDD_ZBDD& t, const BDD_ZBDD& e) { return f.Ite(t, e); }));
      // The table only shrinks when a collection ran.
      if (mgr.size() < table) ++collections;
      table = mgr.size();
    }
    // Keep only the outputs.
    std::vector<BDD_ZBDD> outs;
    for (const auto& o : c.outputs) outs.push_back(o.second ? !sig[size_t(o.first)] : sig[size_t(o.first)]);
    sig.swap(outs);
  }
  // Shared nodes of the outputs, terminals excluded (collects first).
  int nodes() {
    mgr.garbage_collect();
    return mgr.size() - (mgr.use_complement_edges() ? 1 : 2);
  }
  // Bit k: output `o` under assignment k.
  uint64_t evaluate(size_t o, const std::vector<uint64_t>& words) const {
    uint64_t result = 0;
    for (int k = 0; k < 64; ++k) {
      BDD_ZBDD f = sig[o];
      bool flip = false;
      while (!f.is_constant()) {
        if (f.is_complement()) {
          flip = !flip;
          f = f.regularize();
        }
        f = ((words[size_t(f.variable())] >> k) & 1u) ? f.high_child() : f.low_child();
      }
      if (f.is_complement()) {
        flip = !flip;
        f = f.regularize();
      }
      const bool value = (f == f.get_manager()->true_bdd()) != flip;
      result |= uint64_t(value) << k;
    }
    return result;
  }
};

// ---- BuDDy ----
int g_buddy_collections = 0;
void count_buddy_collection(int pre, bddGbcStat*) {
  if (pre) ++g_buddy_collections;
}

struct BUDDY {
  std::vector<bdd> sig;
  BUDDY(int vars, int nodes, int cache) {
    bdd_init(nodes, cache);
    bdd_setcacheratio(std::max(1, nodes / std::max(1, cache)));
    bdd_setmaxincrease(nodes);
    bdd_setvarnum(vars);
    bdd_gbc_hook(count_buddy_collection);
    bdd_resize_hook(nullptr);
    bdd_autoreorder(BDD_REORDER_NONE);
    g_buddy_collections = 0;
  }
  ~BUDDY() {
    sig.clear();
    bdd_done();
  }
  void build(const CIRCUIT& c) {
    sig.clear();
    for (int i = 0; i < c.inputs; ++i) sig.push_back(bdd_ithvar(c.var_of_input[size_t(i)]));
    const bdd one = bddtrue, zero = bddfalse;
    std::vector<bdd> x;
    for (const GATE& g : c.gates) {
      x.clear();
      for (size_t i = 0; i < g.in.size(); ++i) {
        const bdd s = g.in[i] < 0 ? one : sig[size_t(g.in[i])];
        x.push_back(g.inv[i] ? !s : s);
      }
      const int n = int(x.size());
      sig.push_back(n == 0 ? ((g.mask & 1) ? one : zero)
                           : mask_tree(g.mask, x, n - 1, 0, (1 << n) - 1, one, zero,
                                       [](const bdd& f, const bdd& t, const bdd& e) { return bdd_ite(f, t, e); }));
    }
    std::vector<bdd> outs;
    for (const auto& o : c.outputs) outs.push_back(o.second ? !sig[size_t(o.first)] : sig[size_t(o.first)]);
    sig.swap(outs);
  }
  // Shared nodes of the outputs, terminals excluded.
  int nodes() const {
    std::vector<bdd> copy = sig;
    return copy.empty() ? 0 : bdd_anodecount(copy.data(), int(copy.size()));
  }
  uint64_t evaluate(size_t o, const std::vector<uint64_t>& words) const {
    uint64_t result = 0;
    for (int k = 0; k < 64; ++k) {
      bdd f = sig[o];
      while (f != bddtrue && f != bddfalse) f = ((words[size_t(bdd_var(f))] >> k) & 1u) ? bdd_high(f) : bdd_low(f);
      result |= uint64_t(f == bddtrue) << k;
    }
    return result;
  }
};

// The node table a case needs: what BuDDy makes for the build without
// collecting (probed once, doubling the table until no collection runs),
// plus a quarter; the computed tables get a quarter of that many entries.
struct TABLE_SIZES {
  int nodes, cache;
};
TABLE_SIZES table_sizes(int which) {
  static std::map<int, TABLE_SIZES> cache;
  auto it = cache.find(which);
  if (it != cache.end()) return it->second;
  const CIRCUIT& c = build_circuit(which);
  int table = 1 << 16;
  int made = 0;
  for (;; table *= 2) {
    BUDDY probe(std::max(1, c.inputs), table, table / 4);
    probe.build(c);
    made = bdd_getnodenum();
    if (g_buddy_collections == 0) break;
  }
  const int nodes = std::max(1 << 12, made + made / 4);
  return cache.emplace(which, TABLE_SIZES{nodes, nodes / 4}).first->second;
}

// The outputs of both packages on the same random assignments; "" when they
// agree.
template <class A, class B>
std::string compare_functions(const CIRCUIT& c, const A& a, const B& b) {
  const std::vector<uint64_t> words = random_assignments(std::max(1, c.inputs));
  for (size_t o = 0; o < c.outputs.size(); ++o)
    if (a.evaluate(o, words) != b.evaluate(o, words)) return "output " + std::to_string(o) + " differs";
  return "";
}

// Ours against BuDDy on the same case: functions equal (after the build, and
// after sifting when `sifted`), and without complement edges the same node
// count after the build.
std::string check_ours(int which, OURS& o, bool sifted, int ours_built_nodes) {
  const CIRCUIT& c = build_circuit(which);
  const TABLE_SIZES t = table_sizes(which);
  BUDDY b(std::max(1, c.inputs), t.nodes, t.cache);
  b.build(c);
  if (!sifted && !o.mgr.use_complement_edges() && ours_built_nodes != b.nodes())
    return "nodes without complement edges: ours " + std::to_string(ours_built_nodes) + ", BuDDy " +
           std::to_string(b.nodes());
  return compare_functions(c, o, b);
}

const char* const kCones[] = {"lut6/sin", "mcnc/des"};

// Ours' value of f under the assignment (bit v: variable v).
bool ours_value(BDD_ZBDD f, uint64_t assignment) {
  bool flip = false;
  while (true) {
    if (f.is_complement()) {
      flip = !flip;
      f = f.regularize();
    }
    if (f.is_constant()) break;
    f = ((assignment >> f.variable()) & 1u) ? f.high_child() : f.low_child();
  }
  return (f == f.get_manager()->true_bdd()) != flip;
}

bool buddy_value(bdd f, uint64_t assignment) {
  while (f != bddtrue && f != bddfalse) f = ((assignment >> bdd_var(f)) & 1u) ? bdd_high(f) : bdd_low(f);
  return f == bddtrue;
}

// BuDDy's variables for bdd_ibuildcube, whose value's least significant bit
// goes with the last variable: reversed, so that bit i is variable i as in
// ours' build_cube.
int* buddy_cube_vars() {
  static int vars[6] = {5, 4, 3, 2, 1, 0};
  return vars;
}

// (a) every LUT cone as the OR of its minterm cubes, each cube made by one
// call on both sides (ours' build_cube, BuDDy's bdd_ibuildcube). A manager
// is made and freed inside the timed region on both sides, so that each
// pays for laying out its tables (BuDDy's bdd_init fills its node table
// and computed table; ours grows its computed table as the work asks).
long cones_ours(const CIRCUIT& c, bool ce, std::vector<BDD_ZBDD>* keep = nullptr) {
  BDD_ZBDD_MGR mgr(6, 1 << 12, 1 << 14, ce, false);
  std::vector<BDD_ZBDD> v;
  for (int i = 0; i < 6; ++i) v.push_back(mgr.ithvar(i));
  long nodes = 0;
  for (const GATE& g : c.gates) {
    const unsigned n = unsigned(g.in.size());
    BDD_ZBDD f = mgr.false_bdd();
    for (unsigned m = 0; m < (1u << n); ++m)
      if ((g.mask >> m) & 1u) f |= mgr.build_cube(v, m, int(n));
    // Nodes without the terminals (two without complement edges, unless
    // the function is constant).
    nodes += f.size() - (ce || f.is_constant() ? 1 : 2);
    if (keep) keep->push_back(f);
  }
  if (keep) {  // checked while the manager lives
    for (size_t k = 0; k < c.gates.size() && nodes >= 0; ++k)
      for (uint64_t a = 0; a < (uint64_t(1) << c.gates[k].in.size()) && nodes >= 0; ++a)
        if (ours_value((*keep)[k], a) != (((c.gates[k].mask >> a) & 1u) != 0)) nodes = -1 - long(k);
    keep->clear();
  }
  return nodes;
}

long cones_buddy(const CIRCUIT& c, bool check = false) {
  BUDDY b(6, 1 << 12, 1 << 14);
  long nodes = 0;
  for (size_t k = 0; k < c.gates.size(); ++k) {
    const GATE& g = c.gates[k];
    const int n = int(g.in.size());
    bdd f = bddfalse;
    for (unsigned m = 0; m < (1u << n); ++m)
      if ((g.mask >> m) & 1u) f |= bdd_ibuildcube(int(m), n, buddy_cube_vars() + (6 - n));
    nodes += bdd_nodecount(f);
    if (check)
      for (uint64_t a = 0; a < (uint64_t(1) << n); ++a)
        if (buddy_value(f, a) != (((g.mask >> a) & 1u) != 0)) return -1 - long(k);
  }
  return nodes;
}

// The cones checked once, untimed: every cone's function equals its LUT
// mask on every assignment on both sides, and ours without complement
// edges has BuDDy's node count. "" when so.
std::string check_cones(const CIRCUIT& c) {
  std::vector<BDD_ZBDD> keep;
  const long ours_ce = cones_ours(c, true, &keep), ours_plain = cones_ours(c, false, &keep);
  const long buddy = cones_buddy(c, true);
  if (ours_ce < 0 || ours_plain < 0) return "ours: cone " + std::to_string(-1 - std::min(ours_ce, ours_plain)) + " differs from its mask";
  if (buddy < 0) return "BuDDy: cone " + std::to_string(-1 - buddy) + " differs from its mask";
  if (ours_plain != buddy)
    return "nodes without complement edges: ours " + std::to_string(ours_plain) + ", BuDDy " + std::to_string(buddy);
  return "";
}

double seconds_of(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_Cones(benchmark::State& state) {
  const CIRCUIT& c = circuit(kCones[state.range(0)]);
  state.SetLabel(kCones[state.range(0)]);
  if (!c.error.empty()) return state.SkipWithError(c.error.c_str());
  const std::string why = check_cones(c);
  if (!why.empty()) return mismatch(state, std::string(kCones[state.range(0)]) + ": " + why);
  long ours_nodes = 0, buddy_nodes = 0;
  alternate(
      state,
      [&] {
        const auto start = std::chrono::steady_clock::now();
        ours_nodes = cones_ours(c, true);
        return seconds_of(start);
      },
      [&] {
        const auto start = std::chrono::steady_clock::now();
        buddy_nodes = cones_buddy(c);
        return seconds_of(start);
      });
  state.counters["nodes"] = double(ours_nodes);
  state.counters["buddy_nodes"] = double(buddy_nodes);
}

// (b) all outputs built, then sifted.
void label_build(benchmark::State& state) {
  const BUILD_CASE& bc = kBuildCases[state.range(0)];
  state.SetLabel(std::string(bc.label) + (state.range(1) ? " (ours with complement edges)" : " (ours without complement edges)"));
}

// Ours and BuDDy build every output, each making its manager and freeing
// it inside the timed region (see cones).
void BM_Build(benchmark::State& state) {
  const int which = int(state.range(0));
  const bool ce = state.range(1) != 0;
  label_build(state);
  const CIRCUIT& c = build_circuit(which);
  if (!c.error.empty()) return state.SkipWithError(c.error.c_str());
  const TABLE_SIZES t = table_sizes(which);
  {  // checked once, untimed
    OURS o(std::max(1, c.inputs), t.nodes, t.cache, ce);
    o.build(c);
    const std::string why = check_ours(which, o, false, o.nodes());
    if (!why.empty()) return mismatch(state, std::string(kBuildCases[which].label) + ": " + why);
  }
  int nodes = 0, collections = 0, buddy_nodes = 0, buddy_collections = 0;
  alternate(
      state,
      [&] {
        const auto start = std::chrono::steady_clock::now();
        double seconds = 0;
        {
          OURS o(std::max(1, c.inputs), t.nodes, t.cache, ce);
          o.build(c);
          seconds = seconds_of(start);
          collections = o.collections;
          nodes = o.nodes();  // collects: untimed
        }
        return seconds;
      },
      [&] {
        const auto start = std::chrono::steady_clock::now();
        double seconds = 0;
        {
          BUDDY b(std::max(1, c.inputs), t.nodes, t.cache);
          b.build(c);
          seconds = seconds_of(start);
          buddy_collections = g_buddy_collections;
          buddy_nodes = b.nodes();
        }
        return seconds;
      });
  state.counters["nodes"] = nodes;
  state.counters["gc"] = collections;
  state.counters["buddy_nodes"] = buddy_nodes;
  state.counters["buddy_gc"] = buddy_collections;
  state.counters["table"] = t.nodes;
}

// The same build on both sides (untimed, then collected), then one full
// sifting of every variable (timed). Checked on the first run: every
// function kept on both sides, and ours without complement edges ends with
// no more nodes than BuDDy's sifting reaches.
void BM_Sift(benchmark::State& state) {
  const int which = int(state.range(0));
  const bool ce = state.range(1) != 0;
  label_build(state);
  const CIRCUIT& c = build_circuit(which);
  if (!c.error.empty()) return state.SkipWithError(c.error.c_str());
  const TABLE_SIZES t = table_sizes(which);
  int before = 0, after = 0, buddy_after = 0;
  std::string why;
  bool checked = false;
  alternate(
      state,
      [&] {
        OURS o(std::max(1, c.inputs), t.nodes, t.cache, ce);
        o.build(c);
        before = o.nodes();  // collects, so the sifting starts clean
        const auto start = std::chrono::steady_clock::now();
        o.mgr.sifting_reorder(0, 0, -1);
        const double seconds = seconds_of(start);
        after = o.nodes();
        if (!checked && why.empty()) why = check_ours(which, o, true, before);
        return seconds;
      },
      [&] {
        BUDDY b(std::max(1, c.inputs), t.nodes, t.cache);
        bdd_varblockall();
        b.build(c);
        bdd_gbc();  // the sifting starts clean, as ours does
        const auto start = std::chrono::steady_clock::now();
        bdd_reorder(BDD_REORDER_SIFT);
        const double seconds = seconds_of(start);
        buddy_after = b.nodes();
        if (!checked && why.empty()) {
          // Sifting must keep every function: compare with a fresh build.
          std::vector<bdd> sifted = b.sig;
          b.build(c);
          for (size_t k = 0; k < sifted.size() && why.empty(); ++k)
            if (sifted[k] != b.sig[k]) why = "BuDDy's sifting changed output " + std::to_string(k);
        }
        checked = true;
        return seconds;
      });
  if (why.empty() && !ce && after > buddy_after)
    why = "nodes after sifting without complement edges: ours " + std::to_string(after) + ", BuDDy " +
          std::to_string(buddy_after);
  state.counters["before"] = before;
  state.counters["after"] = after;
  state.counters["buddy_after"] = buddy_after;
  if (!why.empty()) mismatch(state, std::string(kBuildCases[which].label) + ": " + why);
}

// LUTs per second of the factored and the BDD form.
void BM_UnmapForm(benchmark::State& state) {
  const auto form = KAVU_LUT_UNMAPPER::RESULT_FORM(state.range(0));
  const std::string name = kCones[state.range(1)];
  state.SetLabel(std::string(form == KAVU_LUT_UNMAPPER::FACTORED ? "factored/" : "bdd/") + name);
  long luts = 0;
  for (auto _ : state) {
    state.PauseTiming();
    BLIF_RESULT loaded = read_or_skip(state, bundled_circuit(name));
    if (!loaded.netlist) return;
    std::vector<CDB_SGATE_LUT*> work;
    for (auto it = loaded.netlist->begin_node_list(); it != loaded.netlist->end_node_list(); ++it)
      if (*it && kavu_is_a_lut(*it)) work.push_back((*it)->cast_to_lut());
    KAVU_LUT_UNMAPPER unmapper(form, false, false);
    state.ResumeTiming();
    std::list<CDB_SGATE_NODE*> nodes;
    for (CDB_SGATE_LUT* lut : work) {
      nodes.clear();
      unmapper.convert_lut_to_logic(lut, &nodes);
      for (CDB_SGATE_NODE* g : nodes) loaded.netlist->add_node(g, true);
    }
    luts += long(work.size());
    state.PauseTiming();
    release(loaded);
    state.ResumeTiming();
  }
  state.counters["luts_per_s"] = benchmark::Counter(double(luts), benchmark::Counter::kIsRate);
}

// Pins and a LUT between them (unnamed: nothing here compares by name).
CDB_SGATE_NODE* new_pin(CDB_SGATE_NETLIST* nl, CDB_IO_TYPE type, CDB_SGATE_NODE* src = nullptr) {
  CDB_SGATE_IO* pin = new CDB_SGATE_IO(nullptr, type);
  if (src) pin->get_input_term(0)->set_source(src->get_output_term(0));
  nl->add_node(pin);
  return pin;
}

CDB_SGATE_LUT* new_lut(CDB_SGATE_NETLIST* nl, const std::vector<CDB_SGATE_NODE*>& inputs, uint64_t mask) {
  CDB_LUTMASK m;
  m.set_value(unsigned(inputs.size()), mask);
  CDB_SGATE_LUT* g = new CDB_SGATE_LUT(nullptr, m);
  for (unsigned i = 0; i < inputs.size(); ++i) {
    CDB_SGATE_ITERM* t = g->create_input_term(nullptr);
    g->set_input_term(t, i);
    t->set_source(inputs[i]->get_output_term(0));
  }
  nl->add_node(g);
  return g;
}

// The sanity sweep at its full count: one LUT per mask between pins, its
// inputs cycling through plain, inverted, tied and duplicate shapes.
void BM_SanityAllMasks(benchmark::State& state) {
  const auto form = KAVU_LUT_UNMAPPER::RESULT_FORM(state.range(0));
  const unsigned n = unsigned(state.range(1));
  const unsigned count = n == 4 ? 65536 : 100000;
  for (auto _ : state) {
    KAVU_LUT_UNMAPPER cached(form, true, true), plain(form, false, true);
    std::mt19937_64 rng(99);
    for (unsigned k = 0; k < count; ++k) {
      const uint64_t mask = n == 4 ? k : rng();
      CDB_SGATE_NETLIST nl;
      std::vector<CDB_SGATE_NODE*> pins;
      for (unsigned i = 0; i < n; ++i) pins.push_back(new_pin(&nl, CDB_IO_INPUT));
      CDB_SGATE_LUT* lut = new_lut(&nl, pins, n == 4 ? mask & 0xFFFF : mask);
      switch (k % 5) {
        case 1: lut->get_input_term(1)->invert(); break;
        case 2: lut->get_input_term(n - 1)->set_vcc(); break;
        case 3: lut->get_input_term(2)->set_gnd(); break;
        case 4: lut->get_input_term(n - 1)->set_source(pins[0]->get_output_term(0)); break;
        default: break;
      }
      new_pin(&nl, CDB_IO_OUTPUT, lut);
      std::list<CDB_SGATE_NODE*> nodes;
      (k % 2 ? cached : plain).convert_lut_to_logic(lut, &nodes);
      for (CDB_SGATE_NODE* g : nodes) nl.add_node(g, true);
    }
  }
  state.counters["luts_per_s"] = benchmark::Counter(double(count), benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(BM_Cones)->DenseRange(0, 1)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Build)
    ->ArgsProduct({benchmark::CreateDenseRange(0, kNumBuildCases - 1, 1), {1, 0}})
    ->ArgNames({"case", "ce"})
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sift)
    ->ArgsProduct({benchmark::CreateDenseRange(0, kNumSiftCases - 1, 1), {1, 0}})
    ->ArgNames({"case", "ce"})
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnmapForm)->ArgsProduct({{1, 2}, {0, 1}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SanityAllMasks)->ArgsProduct({{0, 1, 2}, {4, 6}})->Iterations(1)->Unit(benchmark::kSecond);

int main(int argc, char** argv) { return bench_main(argc, argv); }
