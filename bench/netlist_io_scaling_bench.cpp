// netlist_io_scaling_bench.cpp — growth of three reader paths that once were
// quadratic, at n = 10^4, 10^5 and 10^6:
//   wide_row   one .names row of n inputs (a cube of n literals)
//   models     n models, each instantiated once by the first
//   archive    reading an archive of n records
// No peer: the figure is the growth, time(10n) / time(n), printed after the
// runs from processor time (about 10 for linear cost, 100 for quadratic).
// A read that fails, or an archive that does not read back what was
// written, fails the row and the program.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <ctime>
#include <map>
#include <string>

#include "bench_support.h"
#include "cdb/cdb_sgate.h"
#include "hdb/hdb.h"
#include "netlist_io/blif.h"
#include "pdb/pdb.h"

namespace {

using namespace kavu_platform;

std::map<std::pair<std::string, int64_t>, double>& seconds() {
  static std::map<std::pair<std::string, int64_t>, double> s;
  return s;
}

std::string wide_row(int64_t n) {
  std::string text = ".model w\n.inputs";
  for (int64_t i = 0; i < n; ++i) text += " x" + std::to_string(i);
  text += "\n.outputs y\n.names";
  for (int64_t i = 0; i < n; ++i) text += " x" + std::to_string(i);
  text += " y\n" + std::string(size_t(n), '1') + " 1\n.end\n";
  return text;
}

std::string many_models(int64_t n) {
  std::string text = ".model top\n.inputs a\n.outputs";
  for (int64_t i = 0; i < n; ++i) text += " y" + std::to_string(i);
  text += "\n";
  for (int64_t i = 0; i < n; ++i) text += ".subckt m" + std::to_string(i) + " a=a y=y" + std::to_string(i) + "\n";
  text += ".end\n";
  for (int64_t i = 0; i < n; ++i) text += ".model m" + std::to_string(i) + "\n.inputs a\n.outputs y\n.names a y\n0 1\n.end\n";
  return text;
}

void read_blif(benchmark::State& state, const char* key, std::string (*make)(int64_t)) {
  const std::string text = make(state.range(0));
  double total = 0;
  for (auto _ : state) {
    const std::clock_t start = std::clock();
    BLIF_RESULT r = blif_read_string(text);
    total += double(std::clock() - start) / CLOCKS_PER_SEC;
    if (!r.netlist) state.SkipWithError(r.error.c_str());
    delete r.netlist;
    delete r.hierarchy;
    hdb_reset();
  }
  seconds()[{key, state.range(0)}] = total / double(state.iterations());
}

void BM_WideRow(benchmark::State& state) { read_blif(state, "wide_row", &wide_row); }
void BM_Models(benchmark::State& state) { read_blif(state, "models", &many_models); }

// Writes n records into an archive at stem ("" on success, else why).
std::string write_archive(const std::string& stem, int64_t n) {
  try {
    PDB_ARCHIVE out(stem, PDB_ARCHIVE::PDB_WRITE);
    for (int64_t i = 0; i < n; ++i) out.put_record("record_" + std::to_string(i), "cdb", {uint8_t(i)});
    out.close();
  } catch (const PDB_DATABASE_EXCEPTION& e) {
    return std::string("cannot write the archive: ") + e.what();
  }
  return std::string();
}

void BM_Archive(benchmark::State& state) {
  kavu_bench::TEMP_DIR dir;
  if (dir.path().empty()) return state.SkipWithError("cannot make a temporary directory");
  const std::string stem = dir.file("records");
  const std::string written = write_archive(stem, state.range(0));
  if (!written.empty()) return state.SkipWithError(written.c_str());
  double total = 0;
  for (auto _ : state) {
    const std::clock_t start = std::clock();
    try {
      PDB_ARCHIVE in(stem, PDB_ARCHIVE::PDB_READ);
      const std::vector<uint8_t>* first = in.find_record("record_0", "cdb");
      total += double(std::clock() - start) / CLOCKS_PER_SEC;
      if (!first || *first != std::vector<uint8_t>{0}) state.SkipWithError("the archive read back lacks record_0");
    } catch (const PDB_DATABASE_EXCEPTION& e) {
      state.SkipWithError((std::string("cannot read the archive: ") + e.what()).c_str());
    }
  }
  seconds()[{"archive", state.range(0)}] = total / double(state.iterations());
}

BENCHMARK(BM_WideRow)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Models)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Archive)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(1);

// The growth of each path measured at all three sizes.
void print_growth() {
  for (const char* key : {"wide_row", "models", "archive"}) {
    const auto& s = seconds();
    auto at = [&](int64_t n) { auto it = s.find({key, n}); return it == s.end() ? 0.0 : it->second; };
    if (at(10000) > 0 && at(100000) > 0 && at(1000000) > 0)
      std::printf("%-9s growth 10^4->10^5: %.1fx, 10^5->10^6: %.1fx\n", key, at(100000) / at(10000),
                  at(1000000) / at(100000));
  }
}

}  // namespace

int main(int argc, char** argv) { return kavu_bench::run_benchmarks(argc, argv, print_growth); }
