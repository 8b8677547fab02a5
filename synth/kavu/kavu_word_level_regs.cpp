// kavu_word_level_regs.cpp — register conversion around the word-level
// netlist and the subnet's boundary buffers (see kavu_word_level.h).
//
// Flip-flop atoms become DFF gates before a build: every port the DFF gate
// has is carried (preset included); an atom whose second synchronous clear
// is live stays an atom, because a DFF gate cannot hold it. On the way back
// the DFF gates of a word-level register that keeps a user, don't-touch,
// synchronous-load or synchronous-clear mark become flip-flop atoms again,
// except on families whose flip-flop has no synchronous load (25 and 45)
// when the load is live: those stay DFF gates.
// Cost: O(registers * ports); boundary insertion O(E log |subset|).
#include <string>

#include "cdb/cdb_sgate.h"
#include "cdb/cdb_sgate_reg_flags.h"
#include "gen/gen_dyn_flag.h"
#include "hdb/hdb.h"
#include "kavu_check.h"
#include "kavu_device.h"
#include "kavu_family_info.h"
#include "kavu_helper_gate_create.h"
#include "kavu_helper_predicates.h"
#include "kavu_msg.h"
#include "kavu_name.h"
#include "kavu_setup.h"
#include "kavu_wiring_helper.h"
#include "kavu_word_level.h"
#include "kavu_word_level_int.h"
#include "mem/mem.h"
#include "wl/wl.h"

namespace {

constexpr DB_INPUT_PORT_TYPE KAVU_WYS_SCLR2 = DB_INPUT_PORT_TYPE(31);
constexpr DB_INPUT_PORT_TYPE KAVU_WYS_SLOAD = DB_INPUT_PORT_TYPE(33);
constexpr DB_OUTPUT_PORT_TYPE KAVU_WYS_REGOUT = DB_OUTPUT_PORT_TYPE(10);

// The atom's input of that port type that carries a connection (its own
// or its parent's), or null.
CDB_SGATE_ITERM* connected_wys_input(CDB_SGATE_WYSIWYG* wys, DB_INPUT_PORT_TYPE port) {
  CDB_SGATE_ITERM* t = wys->get_iterm_by_type(port, 0);
  if (!t || !cdb_is_connected(t)) return nullptr;
  if (t->is_connected()) return t;
  return t->get_parent_input();
}

bool is_live(CDB_SGATE_ITERM* t) { return t && cdb_is_connected(t) && !t->is_gnd(); }

}  // namespace

DB_INPUT_PORT_TYPE kavu_dff_input_to_wys_port(unsigned index) {
  static const unsigned table[CDB_DFF_NUM_PORTS] = {20, 7, 6, 27, 8, 0, 1, 30, 33};
  if (index >= CDB_DFF_NUM_PORTS) KAVU_INTERNAL_ERROR("Unrecognized DFF port type during translation");
  return DB_INPUT_PORT_TYPE(table[index]);
}

void kavu_fill_dff_inputs_from_wys_ff(CDB_SGATE_WYSIWYG* wys, CDB_SGATE_DFF* dff) {
  KAVU_CHECK(wys && dff);
  for (unsigned i = dff->get_first_iport(); i < dff->get_end_iport(); i = dff->get_next_iport(i)) {
    CDB_SGATE_ITERM* t = dff->create_input_term(nullptr, CDB_SGATE_DFF::get_port_type_of_position(i));
    dff->set_input_term(t, i);
    CDB_SGATE_ITERM* from = connected_wys_input(wys, kavu_dff_input_to_wys_port(i));
    if (from) {
      kavu_copy_fanin(from, t);
    } else if (i == CDB_DFF_ENA || i == CDB_DFF_ADATA) {
      t->set_vcc();
    } else {
      t->set_gnd();
    }
  }
}

void kavu_convert_wys_ffs_to_dffs(CDB_SGATE_NETLIST* netlist, GEN_DYN_FLAG* user_wys, GEN_DYN_FLAG* dont_touch,
                                  std::set<CDB_SGATE_NODE*>* subnet) {
  KAVU_CHECK(netlist);
  int count = 0;
  std::vector<CDB_SGATE_WYSIWYG*> atoms;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_WYSIWYG* wys = *it ? (*it)->cast_to_wysiwyg() : nullptr;
    if (!wys || !wys->is_ff()) continue;
    // Only the subnet's flip-flops: the others never come back through the
    // word-level netlist.
    if (subnet && !subnet->count(wys)) continue;
    if (is_live(connected_wys_input(wys, KAVU_WYS_SCLR2))) continue;
    atoms.push_back(wys);
  }
  for (CDB_SGATE_WYSIWYG* wys : atoms) {
    CDB_SGATE_DFF* dff = new CDB_SGATE_DFF(wys->get_instance_name(), true);
    netlist->add_node(dff, true);
    if (subnet && subnet->erase(wys)) subnet->insert(dff);
    kavu_fill_dff_inputs_from_wys_ff(wys, dff);
    CDB_SGATE_OTERM* from = wys->get_oterm_by_type(KAVU_WYS_REGOUT, 0);
    if (!from) from = wys->get_single_oterm();
    if (from && from->has_fanout()) dff->get_single_oterm()->adopt_fanouts(from, from->is_inverted());
    kavu_copy_name(wys, dff);
    dff->copy_flags_from_other_ff(wys);
    if (wys->mode_is_set(CDB_WYSIWYG_DONT_TOUCH)) {
      kavu_debug("Copying don't touch flag from %s %s to %s %s", wys->get_string_type_name(),
                 wys->get_string_hpath().c_str(), dff->get_string_type_name(), dff->get_string_hpath().c_str());
      if (dont_touch) dff->get_single_oterm()->set_dyn_flag(*dont_touch);
    }
    if (wys->mode_is_set(CDB_WYSIWYG_FROM_USER)) {
      kavu_debug("Copying from-user flag from %s %s to %s %s", wys->get_string_type_name(),
                 wys->get_string_hpath().c_str(), dff->get_string_type_name(), dff->get_string_hpath().c_str());
      if (user_wys) dff->get_single_oterm()->set_dyn_flag(*user_wys);
    }
    if (wys->get_flag().test(CDB_NODE_FLAG_NOT_GATE_PUSHED)) {
      kavu_debug("Copying not-gate-pushed  flag from %s %s to %s %s", wys->get_string_type_name(),
                 wys->get_string_hpath().c_str(), dff->get_string_type_name(), dff->get_string_hpath().c_str());
      dff->get_flag().set(CDB_NODE_FLAG_NOT_GATE_PUSHED);
    }
    wys->mark_for_deletion();
    wys->set_kff(wys->kff_requested(), false, true);
    ++count;
  }
  if (count > 0) {
    kavu_debug_at_level(MSG_D_LEVEL(3), "Converted %d wys FFs to DFFEs", count);
    netlist->set_collection_switch(true);
    netlist->garbage_collect(true, false);
    netlist->set_collection_switch(false);
  }
}

bool kavu_wl_ff_should_become_wys(WL_DFF* ff) {
  KAVU_CHECK(ff);
  if (ff->is_from_user() || ff->is_dont_touch()) {
    if (wl_to_sgate_verbose)
      kavu_debug("WL FF %d %s is converted to WYS FF due to %s flag", int(ff->get_id()),
                 wl_get_string_hpath(ff).c_str(), ff->is_from_user() ? "from-user" : "don't touch");
    return true;
  }
  // A load or clear tied to GND never acts. Every plain register ties its
  // unused controls to their constants, so taking such a tie as a use would
  // turn every register on the word-level path into an atom.
  WL_ITERM* sload = ff->get_iterm(CDB_DFF_SLOAD);
  if (sload && sload->is_in_use() && !sload->is_opaque() && !sload->is_gnd()) {
    if (wl_to_sgate_verbose)
      kavu_debug("WL FF %d %s is converted to WYS FF due to sload", int(ff->get_id()), wl_get_string_hpath(ff).c_str());
    return true;
  }
  WL_ITERM* sclr = ff->get_iterm(CDB_DFF_SCLR);
  if (sclr && sclr->is_in_use() && !sclr->is_opaque() && !sclr->is_gnd()) {
    if (wl_to_sgate_verbose)
      kavu_debug("WL FF %d %s is converted to WYS FF due to sclear", int(ff->get_id()), wl_get_string_hpath(ff).c_str());
    return true;
  }
  return false;
}

void kavu_copy_dff_inputs_to_wys_ff(CDB_SGATE_DFF* dff, CDB_SGATE_WYSIWYG* wys) {
  KAVU_CHECK(dff && wys);
  for (unsigned i = dff->get_first_iport(); i < dff->get_end_iport(); i = dff->get_next_iport(i)) {
    CDB_SGATE_ITERM* from = dff->get_input_term(i);
    // An input the register never had stays unconnected on the atom.
    if (!from || !cdb_is_connected(from)) continue;
    kavu_copy_fanin(from, kavu_fetch_create_wys_iterm(kavu_dff_input_to_wys_port(i), wys));
  }
}

void kavu_convert_wl_dffs_to_wys_ffs(WL_NETLIST* wl, KAVU_WL_SGATES_HASH* wl_sgates_hash, CDB_SGATE_NETLIST* netlist,
                                     RTL_FAMILY_INFO* fam) {
  KAVU_CHECK(wl && wl_sgates_hash && netlist && fam);
  const DEV_FAMILY_ENUM family = fam->get_base_family();
  const bool no_sload_family = int(family) == 25 || int(family) == 45;
  int count = 0;
  for (auto it = wl->begin_node_list(); it != wl->end_node_list(); ++it) {
    WL_DFF* ff = (*it)->cast_to_dff();
    if (!ff || !kavu_wl_ff_should_become_wys(ff)) continue;
    auto wl_sgates_hash_iter = wl_sgates_hash->find(ff);
    if (wl_sgates_hash_iter == wl_sgates_hash->end())
      KAVU_INTERNAL_ERROR("wl_sgates_hash_iter != wl_sgates_hash.end()");
    std::vector<CDB_SGATE_NODE*>& gates = wl_sgates_hash_iter->second;
    if (no_sload_family) {
      // The family's flip-flop has no synchronous load: a register that
      // needs one stays a DFF gate.
      bool live_sload = false;
      for (CDB_SGATE_NODE* g : gates) live_sload |= is_live(g->get_input_term(CDB_DFF_SLOAD));
      if (live_sload) continue;
    }
    for (CDB_SGATE_NODE* cur_node : gates) {
      KAVU_CHECK(cur_node->get_sgate_type() == CDB_SGATE_DFF_ENUM);
      CDB_SGATE_DFF* dff = cur_node->cast_to_dff();
      CDB_SGATE_WYSIWYG* wys = kavu_create_new_lc_ff(nullptr, family)->cast_to_wysiwyg();
      netlist->add_node(wys, true);
      ++count;
      kavu_copy_dff_inputs_to_wys_ff(dff, wys);
      CDB_SGATE_OTERM* out = dff->get_single_oterm();
      CDB_SGATE_OTERM* wys_out = kavu_fetch_create_wys_oterm(KAVU_WYS_REGOUT, wys, false);
      if (out->has_fanout()) wys_out->adopt_fanouts(out, out->is_inverted());
      kavu_copy_name(dff, wys);
      wys->copy_flags_from_other_ff(dff);
      if (ff->is_from_user()) wys->set_mode(CDB_WYSIWYG_FROM_USER);
      if (dff->get_flag().test(CDB_NODE_FLAG_NOT_GATE_PUSHED)) wys->get_flag().set(CDB_NODE_FLAG_NOT_GATE_PUSHED);
      if (no_sload_family) {
        CDB_SGATE_ITERM* sload = kavu_fetch_create_wys_iterm(KAVU_WYS_SLOAD, wys);
        if (cdb_is_connected(sload)) {
          if (!sload->is_gnd()) {
            char buf[4096];
            snprintf(buf, sizeof(buf), "WL->SGATE, Wasn't expecting SLOAD on UID: %d (%s)", int(ff->get_id()),
                     wl_get_string_hpath(ff).c_str());
            KAVU_INTERNAL_ERROR(buf);
          }
          sload->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_RESET);
        }
        wys->set_wysiwyg_type(CDB_WYSIWYG_TYPE(int(family) == 45 ? 94 : 115));
      }
      if (ff->is_dont_touch()) wys->set_mode(CDB_WYSIWYG_DONT_TOUCH);
      dff->set_flag_byte(CDB_MISC_BYTE, uint8_t(dff->get_flag_byte(CDB_MISC_BYTE) | CDB_MISC_ORPHAN));
    }
  }
  kavu_debug_at_level(MSG_D_LEVEL(3), "Converted %d DFFs to WYS FFs", count);
  wl_sgates_hash->clear();
  delete wl_sgates_hash;
}

// ---------------------------------------------------------------- boundary

bool kavu_is_wl_subnet_node(std::set<CDB_SGATE_NODE*>* subnet, CDB_SGATE_NODE* sgate) {
  if (!subnet) return true;
  if (CDB_SGATE_IO* io = sgate->cast_to_io())
    if (io->get_io_type() == CDB_IO_INPUT || io->get_io_type() == CDB_IO_OUTPUT) return true;
  return subnet->count(sgate) != 0;
}

namespace {

bool is_io_pin(CDB_SGATE_NODE* n) {
  CDB_SGATE_IO* io = n->cast_to_io();
  return io && (io->get_io_type() == CDB_IO_INPUT || io->get_io_type() == CDB_IO_OUTPUT);
}

HDB_INSTANCE_NAME* subpin_name(KAVU_UNIQUE_SYNTH_NAMES_UTIL& names, CDB_SGATE_NODE* from) {
  HDB_INSTANCE_NAME* base = from->get_instance_name();
  return base ? names.create_unique_synthesized_name(base, "_subpin") : nullptr;
}

}  // namespace

void kavu_insert_wl_boundary_buffers(CDB_SGATE_NETLIST* netlist, WL_NETLIST* wl_netlist,
                                     std::set<CDB_SGATE_NODE*>* subnet, KAVU_SGATE_WL_HASH& sgate_wl_hash,
                                     KAVU_OTERM_WIDTHS* widths, GEN_DYN_FLAG* boundary_flag) {
  KAVU_CHECK(netlist && wl_netlist && subnet && widths);
  auto& s_wl_io_hash = kavu_wl_io_hash();
  KAVU_UNIQUE_SYNTH_NAMES_UTIL names;
  std::vector<CDB_SGATE_NODE*> members;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it)
    if (*it && kavu_is_wl_subnet_node(subnet, *it)) members.push_back(*it);
  int inputs = 0, outputs = 0;
  auto inside = [&](CDB_SGATE_NODE* n) { return is_io_pin(n) || subnet->count(n) != 0; };
  auto mark = [&](CDB_SGATE_OTERM* o) {
    if (boundary_flag) o->set_dyn_flag(*boundary_flag);
  };
  for (CDB_SGATE_NODE* n : members) {
    for (unsigned i = 0; i < n->get_number_of_input_terms(); ++i) {
      CDB_SGATE_ITERM* t = n->get_input_term(i);
      if (!t || !cdb_is_connected(t)) continue;
      CDB_SGATE_OTERM* s = t->get_source_oterm();
      if (!s) continue;
      CDB_SGATE_NODE* src_node = s->get_my_node();
      if (inside(src_node)) continue;
      if (boundary_flag && s->test_dyn_flag(*boundary_flag)) {
        KAVU_CHECK(kavu_is_a_protect_buffer(src_node));
        continue;
      }
      const unsigned width = kavu_get_oterm_width(s, *widths);
      WL_PIN* pin = new WL_PIN(0, width, subpin_name(names, src_node));
      wl_netlist->add_node(pin);
      CDB_SGATE_BUFFER* b = kavu_create_new_buffer(netlist, src_node, CDB_BUFFER_PROTECT);
      std::vector<CDB_SGATE_ITERM*> fanouts, split_loads;
      s->copy_fanouts(fanouts);
      for (CDB_SGATE_ITERM* f : fanouts)
        if (inside(f->get_my_node())) split_loads.push_back(f);
      KAVU_CHECK(split_loads.size() > 0);
      s->insert_fanout(b->get_input_term(0));
      for (CDB_SGATE_ITERM* f : split_loads) b->get_single_oterm()->insert_fanout(f);
      s_wl_io_hash[pin] = b;
      sgate_wl_hash[b] = pin;
      (*widths)[b->get_single_oterm()] = width;
      mark(b->get_single_oterm());
      if (wl_to_sgate_verbose)
        kavu_debug("Created ibuf (%d) on (%s) %d - %s ", int(b->get_id()), src_node->get_string_type_name(),
                   int(src_node->get_id()), src_node->get_string_hpath().c_str());
      ++inputs;
    }
    if (is_io_pin(n)) continue;
    for (unsigned o = 0; o < n->get_output_count(); ++o) {
      CDB_SGATE_OTERM* out = n->get_output_term(o);
      if (!out) continue;
      std::vector<CDB_SGATE_ITERM*> fanouts, outside;
      out->copy_fanouts(fanouts);
      for (CDB_SGATE_ITERM* f : fanouts)
        if (!inside(f->get_my_node())) outside.push_back(f);
      if (outside.empty()) continue;
      const unsigned width = kavu_get_oterm_width(out, *widths);
      WL_PIN* pin = new WL_PIN(1, width, subpin_name(names, n));
      wl_netlist->add_node(pin);
      CDB_SGATE_BUFFER* b = kavu_create_new_buffer(netlist, n, CDB_BUFFER_PROTECT);
      out->insert_fanout(b->get_input_term(0));
      for (CDB_SGATE_ITERM* f : outside) b->get_single_oterm()->insert_fanout(f);
      s_wl_io_hash[pin] = b;
      sgate_wl_hash[b] = pin;
      (*widths)[b->get_single_oterm()] = width;
      mark(b->get_single_oterm());
      subnet->insert(b);
      if (wl_to_sgate_verbose)
        kavu_debug("Created obuf (%d) on (%s) index=%d %d -- %s", int(b->get_id()), n->get_string_type_name(), int(o),
                   int(n->get_id()), n->get_string_hpath().c_str());
      ++outputs;
    }
  }
  if (inputs + outputs > 0)
    kavu_debug("Inserted %d  wl boundary buffers, input = %d ouput = %d", inputs + outputs, inputs, outputs);
}

void kavu_update_wl_subnet_flags(CDB_SGATE_NETLIST* netlist, std::set<CDB_SGATE_NODE*>* subnet) {
  KAVU_CHECK(netlist);
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* n = *it;
    // Only the subnet's gates: requests outside it are the user's and stay.
    if (!n || !kavu_is_wl_subnet_node(subnet, n)) continue;
    if (CDB_SGATE_DFF* d = n->cast_to_dff())
      if (!d->prune_allowed()) d->set_prune_allowed(true);
    if (!n->kff_requested()) continue;
    const bool was_read = n->kff_read();
    if (!was_read) cdb_sgate_set_keep_fanout_free_flags_from_assignments(n);
    if (n->kff_in_force() || !was_read) n->set_kff(true, false, true);
  }
}
