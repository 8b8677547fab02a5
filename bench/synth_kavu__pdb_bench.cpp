// synth_kavu__pdb_bench.cpp — writing and reading a KAVU_FIB_NAMES record of
// 10^6 names through an archive file, beside Boost.Serialization's binary
// archive moving the same data between the same containers, in the same run.
//
// Each side writes the record to a file and reads it back into a fresh
// record (the queue of ids and the light hash of id to (parent, name)).
// Counters: the file size, MB/s (SetBytesProcessed over the file size). After
// the runs the program prints our time over Boost's for each direction.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "bench_support.h"
#include "synth_kavu__pdb.h"

#if KAVU_HAVE_BOOST_SERIALIZATION
#include <boost/archive/binary_iarchive.hpp>
#include <boost/archive/binary_oarchive.hpp>
#include <boost/serialization/deque.hpp>
#include <boost/serialization/split_free.hpp>
#include <boost/serialization/string.hpp>
#include <boost/serialization/utility.hpp>
#endif

using namespace kavu_bench;

namespace {

constexpr uint32_t NAME_COUNT = 1000000;

const KAVU_FIB_NAMES& sample() {
  static const KAVU_FIB_NAMES* names = [] {
    auto* n = new KAVU_FIB_NAMES;
    for (uint32_t id = 1; id <= NAME_COUNT; ++id) {
      n->m_ordered_partial_names.push_back(id);
      n->m_id_to_partial_name.insert(id, {id / 4, "inst_" + std::to_string(id * 2654435761u)});
    }
    return n;
  }();
  return *names;
}

std::string bench_file(const char* stem) {
  return (std::filesystem::temp_directory_path() / (std::string("kavu_pdb_bench_") + stem)).string();
}

void record(benchmark::State& state, const char* key, size_t bytes, double seconds) {
  state.SetBytesProcessed(int64_t(bytes) * state.iterations());
  state.counters["file_bytes"] = double(bytes);
  seconds_per_iteration()[key] = seconds / double(state.iterations());
}

void BM_ArchiveWrite(benchmark::State& state) {
  KAVU_FIB_NAMES* names = const_cast<KAVU_FIB_NAMES*>(&sample());
  const std::string name = bench_file("ours");
  double total = 0;
  for (auto _ : state) {
    total += timed([&] {
      PDB_ARCHIVE ar(name, PDB_ARCHIVE::PDB_WRITE);
      kavu_pdb_write_fib_names_ptr(ar, names);
      ar.close();
    });
  }
  record(state, "ours_write", std::filesystem::file_size(name + ".cdb"), total);
}

void BM_ArchiveRead(benchmark::State& state) {
  const std::string name = bench_file("ours");
  double total = 0;
  for (auto _ : state) {
    KAVU_FIB_NAMES* names = nullptr;
    total += timed([&] {
      PDB_ARCHIVE ar(name, PDB_ARCHIVE::PDB_READ);
      kavu_pdb_read_fib_names_ptr(ar, names);
    });
    benchmark::DoNotOptimize(names);
    if (!names || names->m_id_to_partial_name.size() != NAME_COUNT) state.SkipWithError("bad read");
    delete names;
  }
  record(state, "ours_read", std::filesystem::file_size(name + ".cdb"), total);
}

BENCHMARK(BM_ArchiveWrite)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_ArchiveRead)->Unit(benchmark::kMillisecond)->Iterations(5);

#if KAVU_HAVE_BOOST_SERIALIZATION
}  // namespace

// The same fields: the queue whole, then the count and each hash entry.
namespace boost::serialization {
template <class ARCHIVE>
void save(ARCHIVE& ar, const KAVU_FIB_NAMES& n, unsigned) {
  ar << n.m_ordered_partial_names;
  const uint32_t count = n.m_id_to_partial_name.size();
  ar << count;
  for (auto it = n.m_id_to_partial_name.begin(); it != n.m_id_to_partial_name.end(); ++it) {
    ar << it->first << it->second;
  }
}
template <class ARCHIVE>
void load(ARCHIVE& ar, KAVU_FIB_NAMES& n, unsigned) {
  ar >> n.m_ordered_partial_names;
  uint32_t count = 0;
  ar >> count;
  n.m_id_to_partial_name.clear();
  n.m_id_to_partial_name.resize(ztl_hash_lite_get_next_prime(uint32_t((uint64_t(count) * 5 + 3) / 4)));
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t key = 0;
    ar >> key;
    ar >> n.m_id_to_partial_name.insert(key, {}).first->second;
  }
}
template <class ARCHIVE>
void serialize(ARCHIVE& ar, KAVU_FIB_NAMES& n, unsigned version) {
  split_free(ar, n, version);
}
}  // namespace boost::serialization

namespace {

void BM_BoostWrite(benchmark::State& state) {
  const KAVU_FIB_NAMES& names = sample();
  const std::string name = bench_file("boost.bin");
  double total = 0;
  for (auto _ : state) {
    total += timed([&] {
      std::ofstream out(name, std::ios::binary);
      boost::archive::binary_oarchive ar(out);
      ar << names;
    });
  }
  record(state, "boost_write", std::filesystem::file_size(name), total);
}

void BM_BoostRead(benchmark::State& state) {
  const std::string name = bench_file("boost.bin");
  double total = 0;
  for (auto _ : state) {
    KAVU_FIB_NAMES names;
    total += timed([&] {
      std::ifstream in(name, std::ios::binary);
      boost::archive::binary_iarchive ar(in);
      ar >> names;
    });
    if (names.m_id_to_partial_name.size() != NAME_COUNT) state.SkipWithError("bad read");
  }
  record(state, "boost_read", std::filesystem::file_size(name), total);
}

BENCHMARK(BM_BoostWrite)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_BoostRead)->Unit(benchmark::kMillisecond)->Iterations(5);
#endif

}  // namespace

int main(int argc, char** argv) {
  const int status = kavu_bench::run_benchmarks(argc, argv, print_archive_ratios);
  std::remove((bench_file("ours") + ".cdb").c_str());
  std::remove(bench_file("boost.bin").c_str());
  return status;
}
