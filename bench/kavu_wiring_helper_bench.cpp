// kavu_wiring_helper_bench.cpp — figures of the terminal rewiring operations on the
// largest committed circuit.
//
//   BM_MoveFanin   every driven input moves its source to a spare buffer
//                  input and back: moves per second (items)
//   BM_TieInput    every driven input is tied to VCC or GND and then
//                  reconnected to its source: ties per second (items)
//   BM_SwapInputs  neighbouring driven inputs swap sources twice: swaps per
//                  second (items)
// Each pass leaves the netlist as it found it, so the figures do not drift
// between iterations.
// Peers in the same run (BM_Plain*): the same operations on the same
// terminals in plain vectors — a source index and inversion flag per input,
// a std::vector of readers per source; disconnecting finds the reader and
// swaps it with the last. After the runs the program prints the ratios
// ours / plain. Figures only; nothing is asserted.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "bench_support.h"
#include "cdb/cdb_sgate.h"
#include "kavu_wiring_helper.h"
#include "netlist_io/blif.h"

using namespace kavu_platform;
using namespace kavu_bench;

namespace {

// The largest circuit, loaded once, with its driven inputs and one spare
// buffer input to move sources into.
struct BENCH_CIRCUIT {
  CDB_SGATE_NETLIST* netlist = nullptr;
  std::vector<CDB_SGATE_ITERM*> driven;
  CDB_SGATE_ITERM* spare = nullptr;

  BENCH_CIRCUIT() {
    BLIF_RESULT r = blif_read_file(largest_bundled());
    netlist = r.netlist;
    if (!netlist) return;
    collect_driven_iterms(netlist, driven);
    auto* buf = new CDB_SGATE_BUFFER(nullptr, CDB_BUFFER_LCELL);
    netlist->add_node(buf, true);
    spare = buf->create_input_term(nullptr);
    buf->set_input_term(spare, 0);
  }
};

BENCH_CIRCUIT& circuit() {
  static BENCH_CIRCUIT c;
  return c;
}

void BM_MoveFanin(benchmark::State& state) {
  BENCH_CIRCUIT& c = circuit();
  if (!c.netlist) {
    state.SkipWithError("no circuit");
    return;
  }
  for (auto _ : state) {
    for (CDB_SGATE_ITERM* t : c.driven) {
      kavu_move_fanin(t, c.spare);
      kavu_move_fanin(c.spare, t);
    }
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(c.driven.size()) * 2);
  state.counters["inputs"] = double(c.driven.size());
}

void BM_TieInput(benchmark::State& state) {
  BENCH_CIRCUIT& c = circuit();
  if (!c.netlist) {
    state.SkipWithError("no circuit");
    return;
  }
  bool gnd = false;
  for (auto _ : state) {
    for (CDB_SGATE_ITERM* t : c.driven) {
      CDB_SGATE_OTERM* src = t->get_source();
      const bool inverted = t->is_inverted();
      t->disconnect_from_source();
      kavu_set_iterm_source(t, nullptr, gnd);
      kavu_set_iterm_source(t, src, inverted);
      gnd = !gnd;
    }
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(c.driven.size()));
}

void BM_SwapInputs(benchmark::State& state) {
  BENCH_CIRCUIT& c = circuit();
  if (!c.netlist || c.driven.size() < 2) {
    state.SkipWithError("no circuit");
    return;
  }
  for (auto _ : state) {
    for (size_t k = 0; k + 1 < c.driven.size(); k += 2) {
      kavu_swap_iterm_connections(c.driven[k], c.driven[k + 1]);
      kavu_swap_iterm_connections(c.driven[k], c.driven[k + 1]);
    }
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(c.driven.size() / 2) * 2);
}

// The circuit's driven inputs (index i for c.driven[i]) and the spare
// (index driven.size()) in plain vectors.
struct PLAIN_WIRING {
  static constexpr uint32_t NONE = UINT32_MAX, VCC = UINT32_MAX - 1;
  std::vector<uint32_t> m_source;               // source index, NONE or VCC
  std::vector<uint8_t> m_inverted;
  std::vector<std::vector<uint32_t>> m_readers;  // per source index

  explicit PLAIN_WIRING(const BENCH_CIRCUIT& c) {
    std::unordered_map<const CDB_SGATE_OTERM*, uint32_t> index;
    for (CDB_SGATE_ITERM* t : c.driven) {
      const uint32_t src = index.emplace(t->get_source(), uint32_t(index.size())).first->second;
      m_source.push_back(src);
      m_inverted.push_back(t->is_inverted());
    }
    m_source.push_back(NONE);
    m_inverted.push_back(0);
    m_readers.resize(index.size());
    for (uint32_t t = 0; t + 1 < m_source.size(); ++t) m_readers[m_source[t]].push_back(t);
  }
  uint32_t spare() const { return uint32_t(m_source.size() - 1); }

  void disconnect(uint32_t t) {
    const uint32_t src = m_source[t];
    m_source[t] = NONE;
    if (src == NONE || src == VCC) return;
    std::vector<uint32_t>& r = m_readers[src];
    *std::find(r.begin(), r.end(), t) = r.back();
    r.pop_back();
  }
  void connect(uint32_t t, uint32_t src, bool inverted) {
    m_source[t] = src;
    m_inverted[t] = inverted;
    if (src != VCC) m_readers[src].push_back(t);
  }
  void move(uint32_t from, uint32_t to) {
    const uint32_t src = m_source[from];
    const bool inverted = m_inverted[from];
    disconnect(from);
    connect(to, src, inverted);
  }
  void swap(uint32_t a, uint32_t b) {
    const uint32_t sa = m_source[a], sb = m_source[b];
    const bool ia = m_inverted[a], ib = m_inverted[b];
    disconnect(a);
    disconnect(b);
    connect(a, sb, ib);
    connect(b, sa, ia);
  }
};

void BM_PlainMoveFanin(benchmark::State& state) {
  PLAIN_WIRING w(circuit());
  const uint32_t inputs = w.spare();
  for (auto _ : state) {
    for (uint32_t t = 0; t < inputs; ++t) {
      w.move(t, w.spare());
      w.move(w.spare(), t);
    }
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(inputs) * 2);
}

void BM_PlainTieInput(benchmark::State& state) {
  PLAIN_WIRING w(circuit());
  const uint32_t inputs = w.spare();
  bool gnd = false;
  for (auto _ : state) {
    for (uint32_t t = 0; t < inputs; ++t) {
      const uint32_t src = w.m_source[t];
      const bool inverted = w.m_inverted[t];
      w.disconnect(t);
      w.connect(t, PLAIN_WIRING::VCC, gnd);
      w.disconnect(t);
      w.connect(t, src, inverted);
      gnd = !gnd;
    }
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(inputs));
}

void BM_PlainSwapInputs(benchmark::State& state) {
  PLAIN_WIRING w(circuit());
  const uint32_t inputs = w.spare();
  for (auto _ : state) {
    for (uint32_t k = 0; k + 1 < inputs; k += 2) {
      w.swap(k, k + 1);
      w.swap(k, k + 1);
    }
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(inputs / 2) * 2);
}

const PEER_PAIR PEERS[] = {{"BM_MoveFanin", "BM_PlainMoveFanin"},
                           {"BM_TieInput", "BM_PlainTieInput"},
                           {"BM_SwapInputs", "BM_PlainSwapInputs"}};

}  // namespace

BENCHMARK(BM_MoveFanin)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainMoveFanin)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TieInput)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainTieInput)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SwapInputs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainSwapInputs)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) { return bench_main(argc, argv, {}, PEERS); }
