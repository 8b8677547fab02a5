// Shared by the archive fuzz targets: the input written to a file of this
// process, a fixed design for the timing inputs, and an abort that names
// the broken promise.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cdb/cdb_sgate.h"
#include "netlist_io/blif.h"

namespace fuzz_support {

// "/tmp/<stem>_<pid><suffix>", one per process.
inline std::string temp_path(const char* stem, const char* suffix) {
  return "/tmp/" + std::string(stem) + "_" + std::to_string(::getpid()) + suffix;
}

inline bool write_bytes(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

[[noreturn]] inline void broken(const char* promise) {
  std::fprintf(stderr, "broken: %s\n", promise);
  std::abort();
}

// A small clocked design: two input ports, a register pipeline with a
// feedback loop, and an output port. The timing inputs (SDC text) name its
// ports and registers.
inline const char* design_blif() {
  return ".model fuzz\n.inputs clk clk2 a b\n.outputs y\n"
         ".names a b n1\n11 1\n"
         ".latch n1 r1 re clk 0\n"
         ".names r1 r3 n2\n10 1\n01 1\n"
         ".latch n2 r2 re clk 0\n"
         ".names r2 n3\n0 1\n"
         ".latch n3 r3 re clk2 0\n"
         ".names r3 y\n1 1\n.end\n";
}

inline CDB_SGATE_NETLIST* load_design() {
  kavu_platform::BLIF_RESULT r = kavu_platform::blif_read_string(design_blif());
  if (!r.netlist) broken(r.error.c_str());
  delete r.hierarchy;
  return r.netlist;
}

}  // namespace fuzz_support
