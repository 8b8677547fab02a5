// kavu_parallel_archive_bench.cpp — the partition archive of parallel
// synthesis beside Boost.Serialization's binary archive of the same netlist.
//
// The design is a generated registered adder pipeline (the kind of netlist
// the parallel flow moves to its helpers). Ours writes the netlist record
// (pdb_write_ptr with the netlist's field) to a file and reads it back into
// a new netlist; Boost writes the same content per gate (kind, debug number,
// name levels, flag bytes, terminal slots with port types, names and marks,
// sources by gate number and slot) to a binary archive file and reads it
// back into a new netlist built with the same constructors and name calls.
// The two read-back netlists are compared (gates, terminals, connections):
// a difference fails the benchmark and the program's exit status.
//   BM_ArchiveWrite, BM_ArchiveRead   ours and Boost in turn, each first in
//        every other iteration, both warmed by one uncounted pair.
// Counters: ours_ms, peer_ms, ratio (ours / Boost pair by pair, median),
// ns_per_gate (ours), bytes_per_gate and peer_bytes_per_gate (the files).
// Without Boost.Serialization only our figures are taken (peer_ms 0).
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "bench_support.h"
#include "cdb/cdb_sgate.h"
#include "cdb/cdb_sgate_netlist_pdb.h"
#include "hdb/hdb.h"
#include "netlist_io/generators.h"
#include "pdb/pdb.h"

#if KAVU_HAVE_BOOST_SERIALIZATION
#include <boost/archive/binary_iarchive.hpp>
#include <boost/archive/binary_oarchive.hpp>
#include <boost/serialization/string.hpp>
#endif

using namespace kavu_bench;

namespace {

CDB_SGATE_NETLIST* design() {
  static std::unique_ptr<CDB_SGATE_NETLIST> d;
  if (!d) {
    d.reset(kavu_platform::make_pipeline(250, 250));
    d->sweep(false);
    d->prepare_for_use();
  }
  return d.get();
}

std::string bench_file(const char* stem) {
  return (std::filesystem::temp_directory_path() /
          (std::string("kavu_parallel_archive_bench_") + std::to_string(getpid()) + "_" + stem))
      .string();
}

// Counters of a row: ns_per_gate of ours (median), bytes_per_gate of each
// file.
void report(benchmark::State& state, const std::string& ours_file, const std::string& peer_file) {
  const double gates = double(design()->size());
  state.counters["gates"] = gates;
  if (state.counters.count("ours_ms")) state.counters["ns_per_gate"] = state.counters["ours_ms"] * 1e6 / gates;
  state.counters["bytes_per_gate"] = double(std::filesystem::file_size(ours_file)) / gates;
  if (!peer_file.empty() && std::filesystem::exists(peer_file))
    state.counters["peer_bytes_per_gate"] = double(std::filesystem::file_size(peer_file)) / gates;
  state.SetLabel(std::to_string(int(gates)) + " gates");
}

// ---- ours

void write_ours(CDB_SGATE_NETLIST* nl, const std::string& name) {
  PDB_ARCHIVE a;
  a.open(name, PDB_ARCHIVE::PDB_WRITE);
  void* p = nl;
  pdb_write_ptr(a, "", PDB_CDB_SEG_BASE::extension(), &cdb_sgate_netlist_ptr_field, &p, 0, -1, 0);
  a.close();
}

CDB_SGATE_NETLIST* read_ours(const std::string& name) {
  PDB_ARCHIVE a;
  a.open(name, PDB_ARCHIVE::PDB_READ);
  void* q = nullptr;
  pdb_read_ptr(a, "", PDB_CDB_SEG_BASE::extension(), &cdb_sgate_netlist_ptr_field, &q, nullptr, "bench");
  a.close();
  return static_cast<CDB_SGATE_NETLIST*>(q);
}

#if KAVU_HAVE_BOOST_SERIALIZATION
// ---- Boost.Serialization: the same content per gate, for the kinds of the
// design (pins, simple gates, LUTs, buffers, registers); any other kind
// stops the run.

template <class AR>
void save_name(AR& ar, const HDB_INSTANCE_NAME* name) {
  const HDB_INSTANCE_NAME* levels[64];
  uint32_t count = 0;
  for (const HDB_INSTANCE_NAME* n = name; n; n = n->get_parent()) levels[count++] = n;
  ar << count;
  while (count) {
    const HDB_INSTANCE_NAME* level = levels[--count];
    const std::string text = level->get_partial_name();
    const bool synth = level->is_synthesized();
    ar << text << synth;
  }
}

template <class AR>
HDB_INSTANCE_NAME* load_name(AR& ar) {
  uint32_t count = 0;
  ar >> count;
  HDB_INSTANCE_NAME* name = nullptr;
  std::string text;
  for (uint32_t i = 0; i < count; ++i) {
    bool synth = false;
    ar >> text >> synth;
    name = name ? HDB_INSTANCE_NAME::create_synthesized_name(name, text.c_str(), false, synth)
                : HDB_INSTANCE_NAME::create_normal_name(nullptr, text.c_str(), nullptr, nullptr, nullptr);
  }
  return name;
}

uint32_t sub_type(CDB_SGATE_NODE* n) {
  if (auto* c = n->cast_to_comb()) return c->get_comb_type();
  if (auto* p = n->cast_to_io()) return p->get_io_type();
  if (auto* b = n->cast_to_buffer()) return b->get_buffer_type();
  if (auto* l = n->cast_to_lut()) return l->get_lut_mask().get_num_inputs();
  return 0;
}

template <class LIST>
uint32_t slot_of(const LIST& list, const void* t) {
  for (uint32_t k = 0; k < list.size(); ++k)
    if (list[k] == t) return k;
  return 0xffffffffu;
}

bool save_boost(CDB_SGATE_NETLIST* nl, const std::string& file) {
  std::ofstream out(file, std::ios::binary);
  boost::archive::binary_oarchive ar(out);
  uint32_t count = uint32_t(nl->size());
  ar << count;
  for (CDB_SGATE_NODE* n : nl->get_node_list()) {
    const uint32_t type = n->get_sgate_type(), sub = sub_type(n), debug = n->get_debug_number();
    switch (CDB_SGATE_TYPE(type)) {
      case CDB_SGATE_COMB_ENUM: case CDB_SGATE_IO_ENUM: case CDB_SGATE_BUFFER_ENUM: case CDB_SGATE_LUT_ENUM:
      case CDB_SGATE_DFF_ENUM: break;
      default: return false;
    }
    ar << type << sub << debug;
    if (auto* l = n->cast_to_lut()) {
      const uint64_t mask = l->get_lut_mask().get_value();
      ar << mask;
    }
    save_name(ar, n->get_instance_name());
    uint32_t bytes = 0;
    for (unsigned b = 0; b < 4; ++b) bytes |= uint32_t(n->get_flag_byte(b)) << (8 * b);
    const uint32_t flag = n->get_flag().value(), dyn = n->get_dyn_flag_word();
    const bool synthesized = n->is_synthesized();
    ar << bytes << flag << dyn << synthesized;
    if (CDB_REG_FLAGS* rf = n->get_reg_flags()) {
      const bool v[10] = {rf->allow_anything(), rf->allow_anything_is_set(), rf->preserve(), rf->preserve_is_set(),
                          rf->merge_allowed(), rf->merge_allowed_is_set(), rf->prune_allowed(),
                          rf->prune_allowed_is_set(), rf->max_fanout_is_set(), rf->not_gate_push_allowed()};
      for (bool b : v) ar << b;
      const int32_t max_fanout = rf->get_max_fanout();
      ar << max_fanout;
    }
    const uint32_t outs = uint32_t(n->get_output_terms().size());
    ar << outs;
    for (uint32_t k = 0; k < outs; ++k) {
      CDB_SGATE_OTERM* t = n->get_output_term(k);
      const bool present = t != nullptr;
      ar << present;
      if (!present) continue;
      const uint32_t pt = t->get_port_type(), pi = t->get_port_index(), tb = t->get_term_byte(),
                     fw = t->get_flag().value();
      const int32_t fi = t->get_fanin_delay(), fo = t->get_fanout_delay();
      ar << pt << pi << tb << fw << fi << fo;
      save_name(ar, t->get_instance_name());
    }
    const uint32_t ins = uint32_t(n->get_input_terms().size());
    ar << ins;
    for (uint32_t k = 0; k < ins; ++k) {
      CDB_SGATE_ITERM* t = n->get_input_term(k);
      const bool present = t != nullptr;
      ar << present;
      if (!present) continue;
      const uint32_t pt = t->get_port_type(), pi = t->get_port_index(), fw = t->get_flag().value();
      const uint32_t marks = (t->is_inverted() ? 1u : 0u) | (t->is_vcc_or_gnd() ? 2u : 0u) |
                             (t->get_source() ? 4u : 0u);
      ar << pt << pi << fw << marks;
      if (CDB_SGATE_OTERM* o = t->get_source()) {
        const uint32_t src = o->get_my_node()->get_debug_number(),
                       slot = slot_of(o->get_my_node()->get_output_terms(), o);
        ar << src << slot;
      }
    }
  }
  return true;
}

struct PENDING {
  CDB_SGATE_ITERM* m_iterm;
  uint32_t m_src, m_slot;
};

CDB_SGATE_NODE* make_gate(uint32_t type, uint32_t sub, uint64_t mask, HDB_INSTANCE_NAME* name) {
  switch (CDB_SGATE_TYPE(type)) {
    case CDB_SGATE_COMB_ENUM: return new CDB_SGATE_COMB(name, CDB_COMB_TYPE(sub));
    case CDB_SGATE_IO_ENUM: return new CDB_SGATE_IO(name, CDB_IO_TYPE(sub));
    case CDB_SGATE_BUFFER_ENUM: return new CDB_SGATE_BUFFER(name, CDB_BUFFER_TYPE(sub));
    case CDB_SGATE_DFF_ENUM: return new CDB_SGATE_DFF(name);
    default: {
      CDB_LUTMASK m;
      m.set_value(sub, mask);
      return new CDB_SGATE_LUT(name, m);
    }
  }
}

CDB_SGATE_NETLIST* load_boost(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  boost::archive::binary_iarchive ar(in);
  auto* nl = new CDB_SGATE_NETLIST();
  uint32_t count = 0;
  ar >> count;
  std::unordered_map<uint32_t, CDB_SGATE_NODE*> by_debug;
  by_debug.reserve(count);
  std::vector<PENDING> sources;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t type = 0, sub = 0, debug = 0;
    uint64_t mask = 0;
    ar >> type >> sub >> debug;
    if (type == CDB_SGATE_LUT_ENUM) ar >> mask;
    CDB_SGATE_NODE* n = make_gate(type, sub, mask, load_name(ar));
    n->set_debug_number(debug);
    by_debug.emplace(debug, n);
    nl->add_node(n, true);
    uint32_t bytes = 0, flag = 0, dyn = 0;
    bool synthesized = false;
    ar >> bytes >> flag >> dyn >> synthesized;
    n->get_flag().set_value(flag);
    n->set_dyn_flag_word(dyn);
    n->set_synthesized(synthesized);
    if (CDB_REG_FLAGS* rf = n->get_reg_flags()) {
      bool v[10];
      for (bool& b : v) ar >> b;
      int32_t max_fanout = 0;
      ar >> max_fanout;
      if (v[1]) rf->set_allow_anything(v[0]);
      if (v[3]) rf->set_preserve(v[2]);
      if (v[5]) rf->set_merge_allowed(v[4]);
      if (v[7]) rf->set_prune_allowed(v[6]);
      if (v[8]) rf->set_max_fanout(max_fanout);
      rf->set_not_gate_push_allowed(v[9]);
    }
    uint32_t outs = 0;
    ar >> outs;
    if (outs > n->get_output_terms().size()) n->get_output_terms().resize(outs);
    for (uint32_t k = 0; k < outs; ++k) {
      bool present = false;
      ar >> present;
      CDB_SGATE_OTERM* t = n->get_output_term(k);
      if (!present) {
        if (t) n->delete_output_term(t);
        continue;
      }
      if (!t) {
        t = n->create_output_term(nullptr);
        n->set_output_term(t, k);
      }
      uint32_t pt = 0, pi = 0, tb = 0, fw = 0;
      int32_t fi = 0, fo = 0;
      ar >> pt >> pi >> tb >> fw >> fi >> fo;
      t->set_port_type(DB_OUTPUT_PORT_TYPE(pt));
      t->set_port_index(pi);
      t->set_fanin_delay(fi);
      t->set_fanout_delay(fo);
      t->get_flag().set_value(fw);
      t->set_instance_name(load_name(ar));
      t->set_term_byte(uint8_t(tb));
    }
    uint32_t ins = 0;
    ar >> ins;
    if (ins > n->get_input_terms().size()) n->get_input_terms().resize(ins);
    for (uint32_t k = 0; k < ins; ++k) {
      bool present = false;
      ar >> present;
      CDB_SGATE_ITERM* t = n->get_input_term(k);
      if (!present) {
        if (t) n->delete_input_term(t);
        continue;
      }
      if (!t) {
        t = n->create_input_term(nullptr);
        n->set_input_term(t, k);
      }
      uint32_t pt = 0, pi = 0, fw = 0, marks = 0, src = 0, slot = 0;
      ar >> pt >> pi >> fw >> marks;
      if (marks & 4) ar >> src >> slot;
      t->set_port_type(DB_INPUT_PORT_TYPE(pt));
      t->set_port_index(pi);
      t->get_flag().set_value(fw);
      t->remove_fanin();
      if (marks & 2) {
        if (marks & 1) t->set_gnd();
        else t->set_vcc();
        continue;
      }
      if (marks & 4) sources.push_back({t, src, slot});
      if (marks & 1) t->set_invert();
      else t->clear_invert();
    }
    for (unsigned b = 0; b < 4; ++b) n->set_flag_byte(b, uint8_t(bytes >> (8 * b)));
  }
  for (const PENDING& p : sources) {
    const bool inverted = p.m_iterm->is_inverted();
    by_debug.at(p.m_src)->get_output_term(p.m_slot)->insert_fanout(p.m_iterm);
    if (inverted) p.m_iterm->set_invert();
  }
  return nl;
}

// Gates by debug number with their kind, name and every input's source
// (gate number, slot, inversion): equal for the two read-back netlists.
std::string signature(CDB_SGATE_NETLIST* nl) {
  std::map<unsigned, std::string> gates;
  for (CDB_SGATE_NODE* n : nl->get_node_list()) {
    std::string& g = gates[n->get_debug_number()];
    g = std::to_string(n->get_sgate_type()) + ":" + std::to_string(sub_type(n)) + ":" +
        std::to_string(n->get_instance_name() ? n->get_instance_name()->get_id() : 0);
    for (CDB_SGATE_ITERM* t : n->get_input_terms()) {
      if (!t) continue;
      g += t->is_inverted() ? " ~" : " ";
      if (CDB_SGATE_OTERM* o = t->get_source())
        g += std::to_string(o->get_my_node()->get_debug_number()) + "." +
             std::to_string(slot_of(o->get_my_node()->get_output_terms(), o));
    }
  }
  std::string all;
  for (const auto& [debug, g] : gates) all += std::to_string(debug) + "=" + g + "\n";
  return all;
}

#endif

// The rows. With Boost.Serialization both sides run in turn, each first in
// every other iteration, after one uncounted pair that warms both alike
// (the process's allocator, the design's pages, the names a read-back
// makes); without it ours runs alone, also after one uncounted run.
// A read-back netlist is freed outside the timed region on both sides.
void BM_ArchiveWrite(benchmark::State& state) {
  const std::string ours = bench_file("ours"), peer = bench_file("boost.bin");
  auto write = [&] { return timed([&] { write_ours(design(), ours); }); };
#if KAVU_HAVE_BOOST_SERIALIZATION
  bool ok = true;
  alternate(state, write, [&] { return timed([&] { ok &= save_boost(design(), peer); }); });
  if (!ok) return state.SkipWithError("the design holds a gate kind the Boost side does not carry");
#else
  alternate(state, write, [] { return 0.0; });
#endif
  report(state, ours + ".cdb", peer);
}

void BM_ArchiveRead(benchmark::State& state) {
  const std::string ours = bench_file("ours"), peer = bench_file("boost.bin");
  write_ours(design(), ours);
  auto read = [&] {
    CDB_SGATE_NETLIST* back = nullptr;
    const double seconds = timed([&] { back = read_ours(ours); });
    delete back;
    return seconds;
  };
#if KAVU_HAVE_BOOST_SERIALIZATION
  if (!save_boost(design(), peer))
    return state.SkipWithError("the design holds a gate kind the Boost side does not carry");
  alternate(state, read, [&] {
    CDB_SGATE_NETLIST* back = nullptr;
    const double seconds = timed([&] { back = load_boost(peer); });
    delete back;
    return seconds;
  });
  // Both sides must have read back the same netlist.
  std::unique_ptr<CDB_SGATE_NETLIST> mine(read_ours(ours)), theirs(load_boost(peer));
  if (signature(theirs.get()) != signature(mine.get()))
    return mismatch(state, "the two archives read back different netlists");
#else
  alternate(state, read, [] { return 0.0; });
#endif
  report(state, ours + ".cdb", peer);
}

}  // namespace

BENCHMARK(BM_ArchiveWrite)->Unit(benchmark::kMillisecond)->Iterations(5)->UseManualTime();
BENCHMARK(BM_ArchiveRead)->Unit(benchmark::kMillisecond)->Iterations(5)->UseManualTime();

int main(int argc, char** argv) {
  const int status = bench_main(argc, argv);
  for (const char* stem : {"ours.cdb", "boost.bin"}) std::remove(bench_file(stem).c_str());
  return status;
}
