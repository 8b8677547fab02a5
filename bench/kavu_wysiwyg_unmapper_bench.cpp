// kavu_wysiwyg_unmapper_bench.cpp — figures of the device-atom unmapper.
//
//   BM_UnmapPacked/<circuit>  a LUT-mapped circuit packed into logic cells
//                             (kind 61) and flip-flop atoms (kind 62), then
//                             kavu_unmap_netlist on it. Counters: atoms per
//                             second; gates and 2-input equivalents per atom
//                             after unmapping; abc_and_per_lut, the AND
//                             nodes per LUT of `berkeley-abc -c "read X;
//                             strash; print_stats"` on the unpacked circuit
//                             (the peer's structural measure of the same
//                             logic, run once outside the timed region); and
//                             ratio = 2-input equivalents per atom / abc's
//                             ANDs per LUT.
// Packing is outside the timed region. A missing berkeley-abc leaves the
// peer's counters out; an abc run that fails or prints no count fails the
// row and the program. Figures only; nothing else is asserted.
#include <benchmark/benchmark.h>

#include <regex>
#include <string>
#include <vector>

#include "bench_support.h"
#include "cdb/cdb_sgate.h"
#include "kavu_wiring_helper.h"
#include "kavu_wysiwyg_unmapper.h"
#include "netlist_io/blif.h"

using namespace kavu_platform;
using namespace kavu_bench;

namespace {

const char* const kCircuits[] = {"mcnc/alu4", "mcnc/bigkey", "mcnc/diffeq", "mcnc/dsip", "mcnc/tseng",
                                 "mcnc/des",  "lut6/i2c",    "lut6/dec",    "lut6/sin"};

void copy_connection(const CDB_SGATE_ITERM* from, CDB_SGATE_ITERM* to) {
  if (!from || !cdb_is_connected(from)) return;
  if (from->is_vcc_or_gnd()) {
    from->is_vcc() ? to->set_vcc() : to->set_gnd();
    return;
  }
  from->get_source()->insert_fanout(to);
  if (from->is_inverted()) to->set_invert();
}

// Every LUT into a kind-61 cell, every plain register into a kind-62
// flip-flop; returns the atom count.
long pack(CDB_SGATE_NETLIST* nl) {
  std::vector<CDB_SGATE_NODE*> nodes;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
    if (*it) nodes.push_back(*it);
  long atoms = 0;
  for (CDB_SGATE_NODE* node : nodes) {
    const bool lut = node->get_sgate_type() == CDB_SGATE_LUT_ENUM;
    if (!lut && node->get_sgate_type() != CDB_SGATE_DFF_ENUM) continue;
    CDB_SGATE_WYSIWYG* atom = new CDB_SGATE_WYSIWYG(node->get_instance_name(), lut ? 61 : 62);
    if (lut) {
      const CDB_LUTMASK& mask = node->cast_to_lut()->get_lut_mask();
      for (unsigned i = 0; i < mask.get_num_inputs(); ++i)
        copy_connection(node->get_input_term(i), kavu_fetch_create_wys_iterm(DB_INPUT_PORT_TYPE(12 + i), atom));
      atom->set_lutmask_value(mask.widened(6).get_value());
    } else {
      copy_connection(node->get_input_term(CDB_DFF_DATA), kavu_fetch_create_wys_iterm(DB_PORT_DATAIN, atom));
      copy_connection(node->get_input_term(CDB_DFF_CLK), kavu_fetch_create_wys_iterm(DB_PORT_CLK, atom));
      atom->copy_flags_from_other_ff(node);
    }
    CDB_SGATE_OTERM* from = node->get_output_term(0);
    CDB_SGATE_OTERM* to = kavu_fetch_create_wys_oterm(lut ? DB_PORT_COMBOUT : DB_PORT_REGOUT, atom, false);
    to->adopt_fanouts(from, from->is_inverted());
    to->set_instance_name(from->get_instance_name());
    nl->delete_node(node);
    delete node;
    nl->add_node(atom, true);
    ++atoms;
  }
  return atoms;
}

const std::regex AND_COUNT("and\\s*=\\s*([0-9]+)");

bool has_and_count(const std::string& output) { return std::regex_search(output, AND_COUNT); }

// berkeley-abc's AND nodes per LUT of the file: 0 without abc (or without
// LUTs), 0 with the benchmark's error when abc fails or prints no count.
double abc_ands_per_lut(benchmark::State& state, const std::string& path, long luts) {
  PEER_FIGURES f;
  if (luts == 0 || !peer_figures(state, "berkeley-abc",
                                 {find_program("berkeley-abc"), "-c", "read " + path + "; strash; print_stats"}, f,
                                 has_and_count))
    return 0;
  std::smatch m;
  std::regex_search(f.output, m, AND_COUNT);
  return std::stod(m[1]) / double(luts);
}

void BM_UnmapPacked(benchmark::State& state) {
  const std::string path = bundled_circuit(kCircuits[state.range(0)]);
  state.SetLabel(kCircuits[state.range(0)]);
  long atoms = 0, gates = 0, two_input = 0, luts = 0;
  for (auto _ : state) {
    state.PauseTiming();
    BLIF_RESULT loaded = read_or_skip(state, path);
    if (!loaded.netlist) return;
    luts = 0;
    for (auto it = loaded.netlist->begin_node_list(); it != loaded.netlist->end_node_list(); ++it)
      luts += *it && (*it)->get_sgate_type() == CDB_SGATE_LUT_ENUM;
    atoms += pack(loaded.netlist);
    const size_t before = loaded.netlist->size();
    state.ResumeTiming();
    kavu_unmap_netlist(loaded.netlist, true, true, true, false, false, false, false);
    state.PauseTiming();
    for (auto it = loaded.netlist->begin_node_list(); it != loaded.netlist->end_node_list(); ++it)
      if (*it && (*it)->get_sgate_type() == CDB_SGATE_COMB_ENUM) ++gates, two_input += long((*it)->get_number_of_fanin()) - 1;
    (void)before;
    release(loaded);
    state.ResumeTiming();
  }
  state.counters["atoms_per_s"] = benchmark::Counter(double(atoms), benchmark::Counter::kIsRate);
  state.counters["gates_per_atom"] = double(gates) / double(atoms ? atoms : 1);
  state.counters["2in_per_atom"] = double(two_input) / double(atoms ? atoms : 1);
  const double abc = abc_ands_per_lut(state, path, luts);
  if (abc > 0) {
    state.counters["abc_and_per_lut"] = abc;
    state.counters["ratio"] = double(two_input) / double(atoms ? atoms : 1) / abc;
  }
}

}  // namespace

BENCHMARK(BM_UnmapPacked)->DenseRange(0, 8)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) { return bench_main(argc, argv); }
