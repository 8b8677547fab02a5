// kavu_word_level.cpp — bus operators (see kavu_word_level.h).
// Cost: O(width) terminals per operator.
#include "kavu_word_level.h"

#include "cdb/cdb_sgate.h"
#include "kavu_check.h"
#include "mem/mem.h"

namespace {

// Port A gets `in_width` new inputs and port O `out_width` new outputs.
CDB_SGATE_NODE* create_bus_operator(CDB_SGATE_NETLIST* netlist, CDB_OPER_TYPE kind, unsigned in_width,
                                    unsigned out_width) {
  KAVU_CHECK(netlist);
  CDB_SGATE_OPERATOR* bus_gate = new CDB_SGATE_OPERATOR(nullptr, kind);
  CDB_SGATE_OPER_PORT_ENTRY* port_a = bus_gate->add_port("A", CDB_OPER_PORT_A, CDB_OPER_PORT_DIR_IN);
  CDB_SGATE_OPER_PORT_ENTRY* port_o = bus_gate->add_port("O", CDB_OPER_PORT_O, CDB_OPER_PORT_DIR_OUT);
  KAVU_CHECK(port_a->get_width() == 0);
  KAVU_CHECK(bus_gate->get_output_count() == 0);
  for (unsigned i = 0; i < in_width; ++i) port_a->set_iterm(i, bus_gate->create_input_term(nullptr));
  for (unsigned i = 0; i < out_width; ++i) port_o->set_oterm(i, bus_gate->create_output_term(nullptr));
  netlist->add_node(bus_gate, true);
  return bus_gate;
}

}  // namespace

CDB_SGATE_NODE* kavu_create_bus_in_operator(CDB_SGATE_NETLIST* netlist, unsigned int width) {
  const unsigned bus_width = width;
  KAVU_CHECK(bus_width > 0);
  return create_bus_operator(netlist, CDB_OPER_BUS_IN, bus_width, 1);
}

CDB_SGATE_NODE* kavu_create_bus_out_operator(CDB_SGATE_NETLIST* netlist, unsigned int width) {
  const unsigned bus_width = width;
  KAVU_CHECK(bus_width > 0);
  return create_bus_operator(netlist, CDB_OPER_BUS_OUT, 1, bus_width);
}

// ---------------------------------------------------------------- bus widths

#include <algorithm>
#include <unordered_map>

#include "gen/gen.h"
#include "hdb/hdb.h"
#include "kavu_dff_helper.h"
#include "kavu_helper_predicates.h"
#include "kavu_helper_summary.h"
#include "kavu_msg.h"
#include "kavu_name.h"
#include "kavu_setup.h"
#include "kavu_utility_smek.h"
#include "kavu_wiring_helper.h"

namespace {

CDB_SGATE_OTERM* first_oterm(CDB_SGATE_NODE* n) { return n->get_single_oterm(); }
int group_mark(CDB_SGATE_NODE* n) {
  CDB_SGATE_OTERM* o = first_oterm(n);
  return o ? o->get_aux() : -1;
}
void set_group_mark(CDB_SGATE_NODE* n, int v) {
  if (CDB_SGATE_OTERM* o = first_oterm(n)) o->set_aux(v);
}

}  // namespace

bool kavu_is_control_input(CDB_SGATE_ITERM* iterm) {
  KAVU_CHECK(iterm);
  CDB_SGATE_NODE* n = iterm->get_my_node();
  if (kavu_is_a_dff(n, true)) return !kavu_is_a_dff_din_port(iterm, true) && kavu_get_dff_adata(n) != iterm;
  if (n->get_sgate_type() == CDB_SGATE_OPERATOR_ENUM) {
    CDB_OPER_TYPE t = n->cast_to_operator()->get_type();
    return (t == CDB_OPER_NTO1_MUX || t == CDB_OPER_SELECT) && iterm->get_port_type() == CDB_OPER_PORT_A;
  }
  if (n->get_sgate_type() == CDB_SGATE_MUX_ENUM) return n->get_input_term(CDB_MUX_SELECT) == iterm;
  if (n->get_sgate_type() == CDB_SGATE_LATCH_ENUM) return n->get_input_term(CDB_LATCH_D) != iterm;
  return false;
}

unsigned kavu_get_oterm_width(CDB_SGATE_OTERM* oterm, const KAVU_OTERM_WIDTHS& widths) {
  auto it = widths.find(oterm);
  return it == widths.end() ? 1u : it->second;
}

unsigned kavu_get_iterm_width(CDB_SGATE_ITERM* iterm, const KAVU_OTERM_WIDTHS& widths) {
  if (!iterm || !cdb_is_connected(iterm) || iterm->is_vcc_or_gnd() || !iterm->get_source_oterm()) return 1;
  return kavu_get_oterm_width(iterm->get_source_oterm(), widths);
}

void kavu_record_bus_oterm_widths(CDB_SGATE_NETLIST* netlist, KAVU_OTERM_WIDTHS* widths, bool backward) {
  KAVU_CHECK(netlist && widths);
  GEN_PROFILER profiler("KAVU", "kavu_record_oterm_widths");
  widths->clear();
  kavu_reset_aux_values(netlist);
  std::vector<CDB_SGATE_NODE*> work;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* start = *it;
    if (!start || !first_oterm(start) || group_mark(start) != 0) continue;
    unsigned w;
    if (kavu_is_a_bus_in_op(start)) {
      w = start->cast_to_operator()->get_width(CDB_OPER_PORT_A);
      set_group_mark(start, int(w));
    } else if (backward && kavu_is_a_bus_out_op(start)) {
      w = start->cast_to_operator()->get_width(CDB_OPER_PORT_O);
      set_group_mark(start, 1);
    } else {
      continue;
    }
    work.clear();
    work.push_back(start);
    for (size_t k = 0; k < work.size(); ++k) {
      CDB_SGATE_NODE* g = work[k];
      if (!kavu_is_a_bus_out_op(g)) {
        for (unsigned o = 0; o < g->get_output_count(); ++o) {
          CDB_SGATE_OTERM* out = g->get_output_term(o);
          if (!out) continue;
          (*widths)[out] = w;
          for (CDB_SGATE_ITERM* f : out->fanouts()) {
            CDB_SGATE_NODE* r = f->get_my_node();
            if (group_mark(r) != 0 || kavu_is_a_bus_out_op(r) || !first_oterm(r)) continue;
            set_group_mark(r, int(w));
            work.push_back(r);
          }
        }
      }
      if (backward && !kavu_is_a_bus_in_op(g)) {
        for (unsigned i = 0; i < g->get_number_of_input_terms(); ++i) {
          CDB_SGATE_ITERM* t = g->get_input_term(i);
          if (!t || !cdb_is_connected(t) || kavu_is_control_input(t) || !t->get_source_oterm()) continue;
          CDB_SGATE_NODE* s = t->get_source_oterm()->get_my_node();
          if (group_mark(s) != 0 || !first_oterm(s)) continue;
          set_group_mark(s, int(w));
          work.push_back(s);
        }
      }
    }
  }
}

// ---------------------------------------------------------------- bus names

namespace {

std::unordered_map<unsigned, std::vector<KAVU_NAME_RECORD>>& bit_bus_name_hash() {
  static std::unordered_map<unsigned, std::vector<KAVU_NAME_RECORD>> s_hash;
  return s_hash;
}
// Made as the library loads, not at first use: a process that forks while
// another thread makes it would leave its child waiting for it for ever.
[[maybe_unused]] const bool g_bus_names_at_load = (bit_bus_name_hash(), true);

}  // namespace

void kavu_record_bus_names(unsigned name_id, std::vector<KAVU_NAME_RECORD>& names) {
  auto& hash = bit_bus_name_hash();
  KAVU_CHECK(hash.find(name_id) == hash.end());
  hash[name_id] = names;
}

bool kavu_bus_name_already_used(CDB_SGATE_NODE* sgate) {
  KAVU_CHECK(sgate);
  if (!sgate->get_instance_name()) return false;
  auto& hash = bit_bus_name_hash();
  if (hash.find(unsigned(sgate->get_instance_name_id())) == hash.end()) return false;
  kavu_debug("Weird: Sgate %s %s %s has the same name as some other gate that has already been registered",
             sgate->get_string_type_name(), sgate->get_debug_name().c_str(), sgate->get_string_hpath().c_str());
  return true;
}

bool kavu_should_record_real_name(CDB_SGATE_NODE* sgate) {
  KAVU_CHECK(sgate);
  if (sgate->get_sgate_type() == CDB_SGATE_DFF_ENUM || kavu_is_a_wys_ff(sgate)) return true;
  if (CDB_SGATE_BUFFER* b = sgate->cast_to_buffer())
    return b->get_buffer_type() == CDB_BUFFER_LCELL || b->get_buffer_type() == CDB_BUFFER_NAME;
  if (sgate->get_sgate_type() == CDB_SGATE_LATCH_ENUM) {
    CDB_SGATE_OTERM* o = sgate->get_single_oterm();
    return !(o && o->has_synthesized_name_mark()) && !sgate->has_temporary_name();
  }
  return false;
}

HDB_INSTANCE_NAME* kavu_get_bus_bit_name(unsigned name_id, unsigned index) {
  auto& hash = bit_bus_name_hash();
  auto hiter = hash.find(name_id);
  if (hiter == hash.end()) return nullptr;
  KAVU_CHECK(index < (hiter->second).size());
  return hiter->second[index].name;
}

bool kavu_get_bus_bit_name_is_temporary(unsigned name_id, unsigned index) {
  auto& hash = bit_bus_name_hash();
  auto hiter = hash.find(name_id);
  if (hiter == hash.end()) return false;
  KAVU_CHECK((index) < (hiter->second).size());
  return hiter->second[index].is_temporary;
}

// ---------------------------------------------------------------- bus removal

namespace {

struct BUS_GROUP {
  int number = 0;
  std::vector<CDB_SGATE_NODE*> in_buses, out_buses, internal;
};

bool is_group_bus_in(CDB_SGATE_NODE* n, int group) { return kavu_is_a_bus_in_op(n) && group_mark(n) == group; }

void set_inversion(CDB_SGATE_ITERM* t, bool inv) {
  if (inv)
    t->set_invert();
  else
    t->clear_invert();
}

// `to` takes the signal `from` delivers from bit `bit` of a bus-in's input
// (its source or constant), every inversion composed by XOR.
void take_bus_in_bit(CDB_SGATE_NODE* bus_in, unsigned bit, CDB_SGATE_ITERM* to, bool inv) {
  CDB_SGATE_ITERM* bi = bus_in->cast_to_operator()->get_iterm(CDB_OPER_PORT_A, bit);
  KAVU_CHECK(bi && cdb_is_connected(bi));
  KAVU_CHECK(bi != to);
  if (!bi->get_source_oterm()) {
    to->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_UNCONNECTED);
    kavu_copy_fanin(bi, to);
    if (inv) to->invert();
    return;
  }
  bi->get_source_oterm()->insert_fanout(to);
  set_inversion(to, bi->is_inverted() != inv);
}

// The rewiring rule of bus removal (bit `bit`, extra inversion `x`).
void rewire_bit(CDB_SGATE_ITERM* from_iterm, CDB_SGATE_ITERM* to_iterm, unsigned bit, bool x, int group) {
  KAVU_CHECK(from_iterm != to_iterm);
  KAVU_CHECK(cdb_is_connected(from_iterm) && (to_iterm != 0));
  KAVU_CHECK(!cdb_is_connected(to_iterm) || to_iterm->is_vcc_or_gnd());
  CDB_SGATE_OTERM* src = from_iterm->get_source_oterm();
  if (!src) {
    to_iterm->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_UNCONNECTED);
    kavu_copy_fanin(from_iterm, to_iterm);
    if (x) to_iterm->invert();
    return;
  }
  CDB_SGATE_NODE* from_feeder = src->get_my_node();
  const bool inv = from_iterm->is_inverted() != x;
  if (group_mark(from_feeder) != group || kavu_is_a_bus_out_op(from_feeder)) {
    src->insert_fanout(to_iterm);
    set_inversion(to_iterm, inv);
    return;
  }
  if (kavu_is_a_bus_in_op(from_feeder)) {
    // The bus-in's own input inversion (or constant) composes with ours.
    take_bus_in_bit(from_feeder, bit, to_iterm, inv != src->is_inverted());
    return;
  }
  CDB_SGATE_NODE* cloned_from_feeder = from_feeder->get_temp_node();
  KAVU_CHECK(cloned_from_feeder && cloned_from_feeder->get_temp_node() == from_feeder);
  unsigned pos = 0;
  while (pos < from_feeder->get_output_count() && from_feeder->get_output_term(pos) != src) ++pos;
  KAVU_CHECK(pos < from_feeder->get_output_count());
  cloned_from_feeder->get_output_term(pos)->insert_fanout(to_iterm);
  set_inversion(to_iterm, inv);
}

void collect_group(CDB_SGATE_NODE* start, unsigned width, BUS_GROUP& g,
                   const KAVU_OTERM_WIDTHS& widths) {
  std::vector<CDB_SGATE_NODE*> work{start};
  g.in_buses.push_back(start);
  if (kavu_bus_ops_verbose) kavu_debug("Group %d: Found bus-in op %s", g.number, start->get_debug_name().c_str());
  // Files a gate reached from the group: a bus op that closes the walk in
  // this direction (bus-out downstream, bus-in upstream) is a group end,
  // anything else internal; either is marked and walked on.
  auto reach = [&](CDB_SGATE_NODE* next_sgate, bool downstream) {
    if (downstream ? kavu_is_a_bus_out_op(next_sgate) : kavu_is_a_bus_in_op(next_sgate)) {
      if (kavu_bus_ops_verbose)
        kavu_debug(downstream ? "--> Found bus-out op %s" : "--> Found bus-in op %s",
                   next_sgate->get_debug_name().c_str());
      (downstream ? g.out_buses : g.in_buses).push_back(next_sgate);
    } else {
      if (downstream) KAVU_CHECK(!kavu_is_a_bus_in_op(next_sgate));
      else KAVU_CHECK(!kavu_is_a_bus_out_op(next_sgate));
      if (kavu_bus_ops_verbose)
        kavu_debug("--> Found internal node %s %s", next_sgate->get_string_type_name(),
                   next_sgate->get_debug_name().c_str());
      g.internal.push_back(next_sgate);
    }
    set_group_mark(next_sgate, g.number);
    work.push_back(next_sgate);
  };
  for (size_t k = 0; k < work.size(); ++k) {
    CDB_SGATE_NODE* n = work[k];
    if (!kavu_is_a_bus_out_op(n)) {
      for (unsigned o = 0; o < n->get_output_count(); ++o) {
        CDB_SGATE_OTERM* out = n->get_output_term(o);
        if (!out) continue;
        for (CDB_SGATE_ITERM* f : out->fanouts()) {
          CDB_SGATE_NODE* next_sgate = f->get_my_node();
          if (group_mark(next_sgate) != 0 || !first_oterm(next_sgate)) continue;
          reach(next_sgate, true);
        }
      }
    }
    if (!kavu_is_a_bus_in_op(n)) {
      for (unsigned i = 0; i < n->get_number_of_input_terms(); ++i) {
        CDB_SGATE_ITERM* t = n->get_input_term(i);
        if (!t || !cdb_is_connected(t) || !t->get_source_oterm()) continue;
        if (kavu_get_iterm_width(t, widths) != width) continue;
        CDB_SGATE_NODE* next_sgate = t->get_source_oterm()->get_my_node();
        if (group_mark(next_sgate) != 0) continue;
        reach(next_sgate, false);
      }
    }
  }
}

int insert_cut_buffers(CDB_SGATE_NETLIST* netlist, const BUS_GROUP& g) {
  int inserted = 0;
  for (CDB_SGATE_NODE* bus_in : g.in_buses) {
    CDB_SGATE_OPERATOR* op = bus_in->cast_to_operator();
    for (unsigned b = 0; b < op->get_width(CDB_OPER_PORT_A); ++b) {
      CDB_SGATE_ITERM* t = op->get_iterm(CDB_OPER_PORT_A, b);
      if (!t || !cdb_is_connected(t) || !t->get_source_oterm()) continue;
      CDB_SGATE_OTERM* src = t->get_source_oterm();
      CDB_SGATE_NODE* feeder = src->get_my_node();
      if (!kavu_is_a_bus_out_op(feeder) || feeder->cast_to_operator()->get_tag() != op->get_tag()) continue;
      rtl_insert_buffer_helper(t, nullptr, netlist, CDB_BUFFER_CUT);
      ++inserted;
      if (kavu_bus_ops_verbose)
        kavu_debug("Inserted cut buffer between in-bus %s iterm %d and out-bus %s oterm %d",
                   bus_in->get_debug_name().c_str(), int(b), feeder->get_debug_name().c_str(),
                   int(src->get_port_index()));
    }
  }
  return inserted;
}

void name_clone(CDB_SGATE_NODE* sgate, CDB_SGATE_NODE* cloned_sgate, unsigned bit) {
  HDB_INSTANCE_NAME* base = sgate->get_instance_name();
  if (kavu_should_record_real_name(sgate) && base) {
    const unsigned id = unsigned(sgate->get_instance_name_id());
    HDB_INSTANCE_NAME* real = kavu_get_bus_bit_name(id, bit);
    if (real) {
      const bool temp = kavu_get_bus_bit_name_is_temporary(id, bit);
      cloned_sgate->set_instance_name(real);
      if (CDB_SGATE_OTERM* o = cloned_sgate->get_single_oterm()) {
        o->set_instance_name(real);
        if (temp) o->set_synthesized_name(real);
      }
      cloned_sgate->set_has_temporary_name(temp);
      return;
    }
  }
  if (!base) return;
  kavu_create_synthesized_name(cloned_sgate, base, "clone");
  if (!cloned_sgate->cast_to_wysiwyg() && cloned_sgate->get_sgate_type() != CDB_SGATE_DFF_ENUM) return;
  // Atoms and registers get a final name of their own right away outside
  // parallel synthesis; during it the name stays deferred like the others.
  kavu_create_real_or_temp_name(cloned_sgate, base, "clone");
  kavu_debug("Created real or temp name for clone #%d %s %s %s of original node %s %s %s", int(bit),
             cloned_sgate->get_string_type_name(), cloned_sgate->get_debug_name().c_str(),
             cloned_sgate->get_string_hpath().c_str(), sgate->get_string_type_name(),
             sgate->get_debug_name().c_str(), sgate->get_string_hpath().c_str());
}

// A RAM clone stands for other memory than its original: each logical name
// of the bit-0 RAM is replaced by a new one, the same for every clone of
// this bit that shared it (`renamed` maps the names of one bit).
void rename_cloned_ram(CDB_SGATE_NODE* sgate, CDB_SGATE_NODE* cloned_sgate, unsigned bit,
                       std::unordered_map<HDB_INSTANCE_NAME*, HDB_INSTANCE_NAME*>& renamed,
                       KAVU_UNIQUE_SYNTH_NAMES_UTIL& util) {
  CDB_SGATE_WYSIWYG_RAM_BLOCK* ram = sgate->cast_to_wysiwyg_ram_block();
  CDB_SGATE_WYSIWYG_RAM_BLOCK* clone = cloned_sgate->cast_to_wysiwyg_ram_block();
  if (!ram || !clone) return;
  std::string names[2];
  for (unsigned port = 0; port < 2; ++port) {
    HDB_INSTANCE_NAME* old_name = ram->get_logical_name(port);
    HDB_INSTANCE_NAME* new_name = nullptr;
    if (old_name) {
      auto it = renamed.find(old_name);
      if (it == renamed.end()) it = renamed.emplace(old_name, util.create_unique_synthesized_name(old_name, "clone")).first;
      new_name = it->second;
    }
    clone->set_logical_name(port, new_name);
    names[port] = new_name ? new_name->get_short_hpath() : "no-name";
  }
  kavu_debug("Setting logical names %s and %s on cloned RAM %s in instance %d of a partition", names[0].c_str(),
             names[1].c_str(), cloned_sgate->get_string_hpath().c_str(), int(bit));
}

}  // namespace

int kavu_remove_bus_ops(CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist);
  GEN_PROFILER profiler("KAVU", "kavu_remove_bus_ops");
  KAVU_OTERM_WIDTHS widths;
  kavu_record_bus_oterm_widths(netlist, &widths, false);
  kavu_reset_aux_values(netlist);
  int groups = 0, cut_buffers = 0;
  BUS_GROUP g;
  g.number = 1;
  std::vector<CDB_SGATE_NODE*> starts;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it)
    if (*it && kavu_is_a_bus_in_op(*it)) starts.push_back(*it);
  std::vector<CDB_SGATE_NODE*> all_clones;
  KAVU_UNIQUE_SYNTH_NAMES_UTIL ram_names;
  std::unordered_map<HDB_INSTANCE_NAME*, HDB_INSTANCE_NAME*> renamed;
  for (CDB_SGATE_NODE* start : starts) {
    if (group_mark(start) != 0) continue;
    set_group_mark(start, g.number);
    const unsigned W = kavu_get_oterm_width(first_oterm(start), widths);
    collect_group(start, W, g, widths);
    cut_buffers += insert_cut_buffers(netlist, g);
    KAVU_CHECK(g.in_buses.size() > 0 || g.out_buses.size() > 0);
    const unsigned width = g.in_buses[0]->cast_to_operator()->get_width(CDB_OPER_PORT_A);
    for (unsigned b = 1; b < width; ++b) {
      std::vector<CDB_SGATE_NODE*> clones;
      renamed.clear();
      for (CDB_SGATE_NODE* sgate : g.internal) {
        CDB_SGATE_NODE* cloned_sgate = nullptr;
        sgate->clone_node(MEM_MANAGER::get_default_segment(), &cloned_sgate, 0);
        netlist->add_node(cloned_sgate, true);
        sgate->set_temp_pointer(cloned_sgate);
        cloned_sgate->set_temp_pointer(sgate);
        name_clone(sgate, cloned_sgate, b);
        rename_cloned_ram(sgate, cloned_sgate, b, renamed, ram_names);
        clones.push_back(cloned_sgate);
        all_clones.push_back(cloned_sgate);
      }
      for (size_t k = 0; k < g.internal.size(); ++k) {
        CDB_SGATE_NODE* sgate = g.internal[k];
        CDB_SGATE_NODE* cloned_sgate = clones[k];
        KAVU_CHECK(sgate->get_number_of_input_terms() == cloned_sgate->get_number_of_input_terms());
        KAVU_CHECK(sgate->get_output_count() == cloned_sgate->get_output_count());
        for (unsigned i = 0; i < sgate->get_number_of_input_terms(); ++i) {
          CDB_SGATE_ITERM* from = sgate->get_input_term(i);
          if (!from || !cdb_is_connected(from)) continue;
          rewire_bit(from, cloned_sgate->get_input_term(i), b, false, g.number);
        }
      }
      for (CDB_SGATE_NODE* bus_out : g.out_buses) {
        CDB_SGATE_OPERATOR* op = bus_out->cast_to_operator();
        CDB_SGATE_ITERM* iterm = op->get_iterm(CDB_OPER_PORT_A, 0);
        KAVU_CHECK(cdb_is_connected(iterm));
        CDB_SGATE_OTERM* out = op->get_oterm(CDB_OPER_PORT_O, b);
        if (!out) continue;
        std::vector<CDB_SGATE_ITERM*> fanouts;
        out->copy_fanouts(fanouts);
        for (CDB_SGATE_ITERM* f : fanouts) {
          const bool x = f->is_inverted() != out->is_inverted();
          f->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_UNCONNECTED);
          rewire_bit(iterm, f, b, x, g.number);
        }
      }
    }
    // Bit 0 stays on the gates themselves.
    for (CDB_SGATE_NODE* sgate : g.internal)
      for (unsigned i = 0; i < sgate->get_number_of_input_terms(); ++i) {
        CDB_SGATE_ITERM* iterm = sgate->get_input_term(i);
        if (!iterm || !iterm->get_source_oterm()) continue;
        CDB_SGATE_NODE* feeder = iterm->get_source_oterm()->get_my_node();
        if (!is_group_bus_in(feeder, g.number)) continue;
        CDB_SGATE_ITERM* bus_iterm = feeder->cast_to_operator()->get_iterm(CDB_OPER_PORT_A, 0);
        KAVU_CHECK(bus_iterm != iterm);
        const bool inv = iterm->is_inverted() != iterm->get_source_oterm()->is_inverted();
        iterm->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_UNCONNECTED);
        take_bus_in_bit(feeder, 0, iterm, inv);
      }
    for (CDB_SGATE_NODE* bus_out : g.out_buses) {
      CDB_SGATE_OPERATOR* op = bus_out->cast_to_operator();
      CDB_SGATE_ITERM* iterm = op->get_iterm(CDB_OPER_PORT_A, 0);
      if (iterm->get_source_oterm() && is_group_bus_in(iterm->get_source_oterm()->get_my_node(), g.number)) {
        CDB_SGATE_NODE* feeder = iterm->get_source_oterm()->get_my_node();
        const bool inv = iterm->is_inverted() != iterm->get_source_oterm()->is_inverted();
        iterm->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_UNCONNECTED);
        take_bus_in_bit(feeder, 0, iterm, inv);
      }
      CDB_SGATE_OTERM* out = op->get_oterm(CDB_OPER_PORT_O, 0);
      std::vector<CDB_SGATE_ITERM*> fanouts;
      out->copy_fanouts(fanouts);
      for (CDB_SGATE_ITERM* fanout_iterm : fanouts) {
        KAVU_CHECK(iterm != fanout_iterm);
        const bool x = fanout_iterm->is_inverted() != out->is_inverted();
        fanout_iterm->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_UNCONNECTED);
        kavu_copy_fanin(iterm, fanout_iterm);
        if (x) fanout_iterm->invert();
      }
    }
    for (CDB_SGATE_NODE* sgate : g.in_buses) KAVU_CHECK(!sgate->has_fanout());
    for (CDB_SGATE_NODE* sgate : g.out_buses) KAVU_CHECK(!sgate->has_fanout());
    ++groups;
    g.number++;
    g.in_buses.clear();
    g.out_buses.clear();
    g.internal.clear();
  }
  if (groups > 0) {
    for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it)
      if (*it) (*it)->set_temp_pointer(nullptr);
    netlist->sweep(false);
  }
  if (cut_buffers > 0) {
    int removed = netlist->remove_redundant_loop_cuts();
    kavu_debug("Removed %d out of %d cut buffers that were inserted for safety", removed, cut_buffers);
  }
  if (groups > 0) netlist->garbage_collect(true, false);
  bit_bus_name_hash().clear();
  return groups;
}
