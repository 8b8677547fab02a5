// kavu_demo.cpp — loads a BLIF circuit, prints its statistics (gates by
// kind, registers, pins, logic levels), writes it back as BLIF and proves the
// written file equivalent to the loaded netlist by simulation and, when
// installed, by berkeley-abc.
//
// Usage: kavu_demo [--comb] [--lut-size N] [--full-registers] [IN.blif [OUT.blif]]
//   IN defaults to a circuit committed with the sources; OUT to
//   "<name>.kavu.blif" in the working directory.
// Exit status: 0 when everything loaded, wrote and compared equal; 1 on a
// failure; 2 on a usage error.
// Logic levels: the longest chain of combinational gates between sources
// (pins, registers, latches, constants) and sinks, by a Kahn walk over the
// gates; gates on combinational loops are counted and left out.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "netlist_io/abc_oracle.h"
#include "netlist_io/blif.h"
#include "netlist_io/simulator.h"

using namespace kavu_platform;

namespace {

const char* const k_default_circuit = KAVU_TEST_DATA_DIR "/blif/mcnc/tseng.blif";

void usage() {
  std::fprintf(stderr,
               "usage: kavu_demo [--comb] [--lut-size N] [--full-registers] [IN.blif [OUT.blif]]\n"
               "  loads IN (default %s), prints statistics, writes OUT and proves it equivalent\n",
               k_default_circuit);
}

bool is_source(const CDB_SGATE_NODE* g) {
  CDB_SGATE_TYPE t = g->get_sgate_type();
  return g->is_pin() || t == CDB_SGATE_DFF_ENUM || t == CDB_SGATE_LATCH_ENUM || g->get_reg_flags();
}

// Longest path in combinational gates; *loop_gates counts gates never reached
// because they sit on (or behind) a combinational loop.
int logic_levels(const CDB_SGATE_NETLIST* n, size_t* loop_gates) {
  std::unordered_map<const CDB_SGATE_NODE*, size_t> index;
  std::vector<const CDB_SGATE_NODE*> gates;
  for (auto it = n->begin_node_list(); it != n->end_node_list(); ++it)
    if (*it) index.emplace(*it, gates.size()), gates.push_back(*it);
  std::vector<int> pending(gates.size(), 0), level(gates.size(), 0);
  std::vector<size_t> ready;
  for (size_t i = 0; i < gates.size(); ++i) {
    if (!is_source(gates[i]))
      for (unsigned k = 0; k < gates[i]->get_number_of_input_terms(); ++k)
        if (gates[i]->get_fanin_term(k)) ++pending[i];
    if (!pending[i]) ready.push_back(i);
  }
  size_t done = 0;
  int deepest = 0;
  while (!ready.empty()) {
    size_t i = ready.back();
    ready.pop_back();
    ++done;
    for (unsigned o = 0; o < gates[i]->get_output_count(); ++o) {
      const CDB_SGATE_OTERM* out = gates[i]->get_output_term(o);
      if (!out) continue;
      for (CDB_SGATE_ITERM* t : out->fanouts()) {
        size_t j = index.at(t->get_my_node());
        if (is_source(gates[j])) continue;
        level[j] = std::max(level[j], level[i] + 1);
        deepest = std::max(deepest, level[j]);
        if (--pending[j] == 0) ready.push_back(j);
      }
    }
  }
  *loop_gates = gates.size() - done;
  return deepest;
}

void print_statistics(const CDB_SGATE_NETLIST* n) {
  std::map<std::string, size_t> kinds;
  size_t registers = 0, latches = 0, terminals = 0;
  for (auto it = n->begin_node_list(); it != n->end_node_list(); ++it) {
    const CDB_SGATE_NODE* g = *it;
    if (!g) continue;
    std::string kind = g->get_string_type_name();
    if (const CDB_SGATE_COMB* c = g->cast_to_comb()) {
      static const char* const names[] = {"AND", "OR", "XOR", "NOT", "NAME_KEEPER"};
      kind += std::string(" ") + names[c->get_comb_type()];
    }
    ++kinds[kind];
    if (g->get_reg_flags()) ++registers;
    if (g->get_sgate_type() == CDB_SGATE_LATCH_ENUM) ++latches;
    terminals += g->get_number_of_fanin();
  }
  size_t loop_gates = 0;
  int levels = logic_levels(n, &loop_gates);
  std::printf("gates: %u\n", n->size());
  for (const auto& [kind, count] : kinds) std::printf("  %-16s %zu\n", kind.c_str(), count);
  std::printf("registers: %zu  latches: %zu\n", registers, latches);
  std::printf("pins: %zu in, %zu out, %zu bidirectional\n", n->get_input_pins().size(),
              n->get_output_pins().size(), n->get_bidir_pins().size());
  std::printf("input terminals: %zu\n", terminals);
  std::printf("logic levels: %d", levels);
  if (loop_gates) std::printf(" (%zu gates on combinational loops not counted)", loop_gates);
  std::printf("\n");
}

struct ARGS {
  BLIF_READ_OPTIONS read;
  BLIF_WRITE_OPTIONS write;
  std::string in = k_default_circuit;
  std::string out;
};

bool parse_args(int argc, char** argv, ARGS* a) {
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    std::string s = argv[i];
    if (s == "--comb") {
      a->read.names = BLIF_READ_OPTIONS::ALL_COMB;
    } else if (s == "--full-registers") {
      a->write.full_registers = true;
    } else if (s == "--lut-size" && i + 1 < argc) {
      char* end = nullptr;
      long v = std::strtol(argv[++i], &end, 10);
      if (*end || v < 1 || v > 6) return false;
      a->read.lut_size = unsigned(v);
    } else if (s.empty() || s[0] == '-') {
      return false;
    } else {
      files.push_back(s);
    }
  }
  if (files.size() > 2) return false;
  if (!files.empty()) a->in = files[0];
  if (files.size() == 2) {
    a->out = files[1];
  } else {
    std::string base = a->in.substr(a->in.find_last_of('/') + 1);
    a->out = base.substr(0, base.rfind('.')) + ".kavu.blif";
  }
  return true;
}

struct LOADED {
  BLIF_RESULT r;
  ~LOADED() {
    delete r.netlist;
    delete r.hierarchy;
  }
};

}  // namespace

int main(int argc, char** argv) {
  ARGS args;
  if (!parse_args(argc, argv, &args)) {
    usage();
    return 2;
  }
  auto t0 = std::chrono::steady_clock::now();
  LOADED original{blif_read_file(args.in, args.read)};
  double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  if (!original.r.netlist) {
    std::fprintf(stderr, "kavu_demo: %s\n", original.r.error.c_str());
    return 1;
  }
  std::printf("loaded %s in %.1f ms\n", args.in.c_str(), ms);
  print_statistics(original.r.netlist);
  std::string why;
  if (!original.r.netlist->check(&why)) {
    std::fprintf(stderr, "kavu_demo: the loaded netlist is inconsistent: %s\n", why.c_str());
    return 1;
  }
  if (!blif_write_file(original.r.netlist, args.out, args.write, &why)) {
    std::fprintf(stderr, "kavu_demo: %s\n", why.c_str());
    return 1;
  }
  std::printf("wrote %s\n", args.out.c_str());
  LOADED written{blif_read_file(args.out, args.read)};
  if (!written.r.netlist) {
    std::fprintf(stderr, "kavu_demo: cannot read back: %s\n", written.r.error.c_str());
    return 1;
  }
  if (!sim_equivalent(original.r.netlist, written.r.netlist, SIM_COMPARE{}, &why)) {
    std::fprintf(stderr, "kavu_demo: simulation finds a difference: %s\n", why.c_str());
    return 1;
  }
  std::printf("simulation: equivalent (64 words x 16 cycles)\n");
  ABC_RESULT abc = abc_equivalent(original.r.netlist, written.r.netlist, &why);
  std::printf("berkeley-abc: %s\n", abc_result_name(abc));
  if (abc == UNAVAILABLE) std::printf("  (%s)\n", why.c_str());
  if (abc == DIFFERENT || abc == ERROR) {
    std::fprintf(stderr, "%s\n", why.c_str());
    return 1;
  }
  return 0;
}
