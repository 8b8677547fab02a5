// The netlist archive on a bundled design holding every gate kind: device
// atoms, operators, components, RAMs, state machines, boundaries and the
// netlist's records, compared through a description built from the
// database's own getters; damaged and foreign-format records.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <sstream>
#include <unordered_map>

#include "cdb/cdb_sgate.h"
#include "cdb/cdb_sgate_netlist_pdb.h"
#include "hdb/hdb.h"
#include "netlist_io/simulator.h"
#include "pdb/pdb.h"
#include "platform_testkit.h"

using namespace kavu_platform;

namespace {

// The atom's input of that port type (made on first request); null when
// the atom has no such port.
CDB_SGATE_ITERM* atom_in(CDB_SGATE_WYSIWYG* a, unsigned port) {
  const unsigned slot = a->get_input_port_number(DB_INPUT_PORT_TYPE(port));
  if (slot == CDB_ILLEGAL_PORT) return nullptr;
  if (CDB_SGATE_ITERM* t = a->get_input_term(slot)) return t;
  CDB_SGATE_ITERM* t = a->create_input_term(nullptr, DB_INPUT_PORT_TYPE(port));
  a->set_input_term(t, slot);
  return t;
}

CDB_SGATE_OTERM* atom_out(CDB_SGATE_WYSIWYG* a, unsigned port) {
  const unsigned slot = a->get_output_port_number(DB_OUTPUT_PORT_TYPE(port));
  if (CDB_SGATE_OTERM* t = a->get_output_term(slot)) return t;
  CDB_SGATE_OTERM* t = a->create_output_term(nullptr, DB_OUTPUT_PORT_TYPE(port));
  a->set_output_term(t, slot);
  return t;
}

std::string path(const HDB_INSTANCE_NAME* n) { return n ? n->get_short_hpath(0) : "-"; }

// A hierarchy as the names of its chain from the root ("-" for none).
std::string hierarchy_path(const CDB_HIERARCHY_BASE* h) {
  if (!h) return "-";
  std::string text;
  for (; h; h = h->get_parent()) text = path(h->get_instance_name()) + (h->uses_namespace() ? "@" : "") + "/" + text;
  return text;
}

// Gate and slot of an output terminal.
std::string ref(const CDB_SGATE_OTERM* t) {
  if (!t) return "-";
  const CDB_SGATE_NODE* n = t->get_my_node();
  for (unsigned s = 0; s < n->get_output_count(); ++s)
    if (n->get_output_term(s) == t) return n->get_debug_name() + "." + std::to_string(s);
  return "?";
}

std::string iref(const CDB_SGATE_ITERM* t) {
  if (!t) return "-";
  const CDB_SGATE_NODE* n = t->get_my_node();
  for (unsigned s = 0; s < n->get_number_of_input_terms(); ++s)
    if (n->get_input_term(s) == t) return n->get_debug_name() + "<" + std::to_string(s);
  return "?";
}

// Everything a round trip must keep, one line per gate, terminal and record.
std::string describe(CDB_SGATE_NETLIST* nl) {
  std::ostringstream o;
  o << "netlist hier " << hierarchy_path(nl->get_hierarchy()) << " part " << nl->is_partition_netlist() << " number " << nl->get_number() << " first "
    << nl->get_first_debug_number() << " sub " << nl->is_subnetlist() << " waive " << int(nl->get_waive_byte()) << "\n";
  for (CDB_SGATE_NODE* n : nl->get_node_list()) {
    o << n->get_debug_name() << " " << n->get_string_type_name() << " " << n->get_sgate_type() << " "
      << path(n->get_instance_name()) << " str " << (n->get_string_name() ? n->get_string_name() : "-")
      << " from " << path(n->get_synfrom_name()) << " bytes";
    for (unsigned b = 0; b < 4; ++b) o << " " << int(n->get_flag_byte(b));
    o << " flag " << n->get_flag().value() << " synth " << n->is_synthesized() << " maxfo "
      << nl->get_max_fanout_constraint(n) << " hier " << hierarchy_path(n->get_hierarchy()) << "\n";
    if (const CDB_REG_FLAGS* rf = n->get_reg_flags())
      o << " reg " << rf->preserve() << rf->preserve_is_set() << rf->merge_allowed() << rf->merge_allowed_is_set()
        << rf->get_max_fanout() << rf->max_fanout_is_set() << rf->not_gate_push_allowed() << "\n";
    if (CDB_SGATE_WYSIWYG* a = n->cast_to_wysiwyg()) {
      o << " atom " << a->get_wysiwyg_type() << " mask " << a->get_lutmask_value() << " level "
        << a->get_sweep_level() << " modes";
      for (unsigned m = 0; m < CDB_WYSIWYG_NUM_MODES; ++m)
        if (a->mode_is_set(m)) o << " " << m;
      for (bool out : {false, true})
        for (auto [type, slot] : a->get_on_demand_ports(out)) o << " port" << out << ":" << type << "@" << slot;
      if (CDB_SGATE_WYSIWYG_RAM_BLOCK* r = a->cast_to_wysiwyg_ram_block())
        o << " ram " << r->get_ram_mode(0).to_string() << r->get_ram_mode(1).to_string() << " "
          << path(r->get_logical_name(0)) << " " << path(r->get_logical_name(1));
      if (a->is_lutram()) o << " lutram " << path(a->get_lutram_logical_name());
      o << "\n";
    }
    if (CDB_SGATE_OPERATOR* op = n->cast_to_operator()) {
      o << " oper " << op->get_type() << " " << int(op->get_mode1()) << " " << int(op->get_mode2()) << " "
        << op->get_mode3() << " " << int(op->get_attribute()) << " " << int(op->get_signed_byte()) << " "
        << op->get_tag() << " " << op->get_partition_number() << "\n";
      for (auto it = op->begin_const_port_entry_table(); it != op->end_const_port_entry_table(); ++it) {
        o << "  port " << (*it)->get_name() << " " << (*it)->get_type() << " " << (*it)->get_dir() << " w"
          << (*it)->get_width();
        for (unsigned b = 0; b < (*it)->get_width(); ++b) o << " " << iref((*it)->get_iterm(b)) << "/" << ref((*it)->get_oterm(b));
        o << "\n";
      }
    }
    if (CDB_SGATE_COMPONENT* c = n->cast_to_component()) {
      o << " comp " << c->get_component_type() << " " << c->get_function_name() << " " << c->get_library_name()
        << " " << c->get_architecture_name() << " " << int(c->get_option_byte()) << " "
        << c->is_port_prototype_known() << "\n";
      for (auto it = c->begin_const_port_entry_table(); it != c->end_const_port_entry_table(); ++it) {
        o << "  port " << (*it)->get_name() << " " << (*it)->get_dir() << " w" << (*it)->get_width();
        for (unsigned b = 0; b < (*it)->get_width(); ++b) o << " " << iref((*it)->get_iterm(b)) << "/" << ref((*it)->get_oterm(b));
        o << "\n";
      }
      for (auto it = c->begin_const_parameter_table(); it != c->end_const_parameter_table(); ++it)
        o << "  param " << (it->get_name() ? it->get_name() : "(null)") << "="
          << (it->get_value() ? it->get_value() : "(null)") << ":" << it->get_type() << "\n";
    }
    if (n->cast_to_asynchronous_ram() || n->cast_to_synchronous_ram()) {
      const RAM_GATE* r = n->cast_to_asynchronous_ram() ? static_cast<const RAM_GATE*>(n->cast_to_asynchronous_ram())
                                                        : n->cast_to_synchronous_ram();
      o << " ramgate";
      for (unsigned i = 0; i < RAM_GATE::kNumSizeParameters; ++i) o << " " << r->get_size_parameter(i);
      o << " " << r->get_mode_word(0) << " " << r->get_mode_word(1) << " " << (r->get_mif_file() ? r->get_mif_file() : "-")
        << " " << int(r->get_ram_block_type());
      if (CDB_SGATE_SYNCHRONOUS_RAM* s = n->cast_to_synchronous_ram()) {
        o << " sync " << int(s->get_mode_byte()) << " " << int(s->get_option_bits()) << " " << s->get_last_word();
        for (unsigned i = 0; i < CDB_SGATE_SYNCHRONOUS_RAM::kNumPortModes; ++i) o << " " << int(s->get_port_mode_byte(i));
      }
      o << "\n";
    }
    if (CDB_SGATE_STATE* st = n->cast_to_state())
      o << " machine " << (st->get_state_machine() ? st->get_state_machine()->get_name() : "-") << "\n";
    if (CDB_SGATE_BOUNDARY* bd = n->cast_to_boundary()) {
      unsigned debug = 0, slot = 0;
      const bool fed = bd->get_fed_by_number(&debug, &slot);
      o << " boundary " << bd->get_partition_number() << " " << bd->get_boundary_id() << " " << bd->is_cut()
        << " fed " << fed << " " << debug << " " << slot;
      if (const std::vector<std::string>* readers = bd->get_readers()) {
        o << " readers";
        for (const std::string& path : *readers) o << " " << path;
      }
      o << "\n";
    }
    for (unsigned s = 0; s < n->get_output_count(); ++s) {
      const CDB_SGATE_OTERM* t = n->get_output_term(s);
      if (!t) continue;
      o << " out" << s << " " << t->get_port_type() << "/" << t->get_port_index() << " " << int(t->get_term_byte()) << " "
        << t->get_fanin_delay() << "," << t->get_fanout_delay() << " flag " << t->get_flag().value() << " "
        << path(t->get_instance_name()) << " from " << path(t->get_synfrom_name()) << " fo "
        << t->get_number_of_fanout() << "\n";
    }
    for (unsigned s = 0; s < n->get_number_of_input_terms(); ++s) {
      const CDB_SGATE_ITERM* t = n->get_input_term(s);
      if (!t) continue;
      o << " in" << s << " " << t->get_port_type() << "/" << t->get_port_index() << " " << int(t->get_term_byte())
        << " src " << ref(t->get_source()) << " parent " << iref(t->get_parent_input()) << " flag "
        << t->get_flag().value();
      if (const CDB_SGATE_ITERM_INFO* info = t->get_info())
        o << " info " << info->get_value() << " " << info->get_probability() << " " << info->get_confidence();
      o << "\n";
    }
  }
  if (nl->has_machines())
    for (CDB_STATE_MACHINE* m : *nl->get_machine_list()) {
      o << "machine " << m->get_name() << " " << path(m->get_instance_name()) << " clk " << ref(m->get_clk())
        << (m->clk_is_inverted() ? "~" : "") << " en " << ref(m->get_clk_en()) << " reset " << ref(m->get_reset());
      for (CDB_SGATE_STATE* s : m->get_states()) o << " s" << s->get_debug_name();
      for (CDB_SGATE_DFF* r : m->get_registers()) o << " r" << r->get_debug_name();
      o << "\n";
    }
  CDB_SGATE_COMPATIBLE_REGISTERS* cr = nl->get_compatible_registers();
  o << "compatible " << cr->is_ready_to_use() << cr->is_in_use() << "\n" << cr->dump_compatible_registers_map();
  if (CDB_SGATE_HIGH_SPEED_MAP* hs = nl->get_high_speed_map())
    for (const auto& [id, reg] : *hs) o << "hs " << path(HDB_NAME_MGR::get_instance_name(int(id))) << " " << int(reg.m_bits) << "\n";
  o << "mast " << nl->get_mast_report()->m_name;
  for (const auto& row : nl->get_mast_report()->m_rows)
    for (const std::string& cell : row) o << " " << cell;
  return o.str();
}

std::vector<uint8_t> payload_of(CDB_SGATE_NETLIST* nl) {
  PDB_ARCHIVE a;
  a.open("payload", PDB_ARCHIVE::PDB_WRITE);
  void* p = nl;
  pdb_write_ptr(a, "", "cdb", &cdb_sgate_netlist_ptr_field, &p, 0, -1, 0);
  return *a.find_record("", "cdb");  // discarded unclosed: nothing stored
}

// Reads a payload back; null with *error set when it is refused.
std::unique_ptr<CDB_SGATE_NETLIST> read_payload(const std::vector<uint8_t>& payload, std::string* error) {
  {
    PDB_ARCHIVE w;
    w.open("rt", PDB_ARCHIVE::PDB_WRITE);
    w.put_record("", "cdb", payload);
    w.close();
  }
  PDB_ARCHIVE r;
  r.open("rt", PDB_ARCHIVE::PDB_READ);
  void* q = nullptr;
  try {
    pdb_read_ptr(r, "", "cdb", &cdb_sgate_netlist_ptr_field, &q, nullptr, "");
  } catch (const PDB_DATABASE_EXCEPTION& e) {
    *error = e.what();
    return nullptr;
  }
  return std::unique_ptr<CDB_SGATE_NETLIST>(static_cast<CDB_SGATE_NETLIST*>(q));
}

// Packs every other LUT into a logic-cell atom (kinds 61 and 93) and every
// register but the first into a flip-flop atom, keeping the function.
// Collects input pins and atom outputs into *signals; returns the register
// left as it was (null when none).
CDB_SGATE_DFF* pack_atoms(CDB_SGATE_NETLIST* nl, std::vector<CDB_SGATE_OTERM*>* signals) {
  std::vector<CDB_SGATE_NODE*> nodes(nl->begin_node_list(), nl->end_node_list());
  CDB_SGATE_DFF* kept_register = nullptr;
  int k = 0;
  for (CDB_SGATE_NODE* n : nodes) {
    if (n->cast_to_io() && n->is_input()) signals->push_back(n->get_output_term(0));
    CDB_SGATE_LUT* lut = n->cast_to_lut();
    CDB_SGATE_DFF* dff = n->cast_to_dff();
    if (dff && !kept_register) {
      kept_register = dff;
      continue;
    }
    if (!lut && !dff) continue;
    if (lut && k++ % 2) continue;
    auto* atom = new CDB_SGATE_WYSIWYG(n->get_instance_name(), lut ? (k % 4 ? 61 : 93) : 62);
    for (unsigned i = 0; i < n->get_number_of_input_terms(); ++i) {
      CDB_SGATE_ITERM* from = n->get_input_term(i);
      if (!from || !cdb_is_connected(from)) continue;
      CDB_SGATE_ITERM* to = atom_in(atom, lut ? 12 + i : from->get_port_type());
      if (!to) continue;
      if (from->is_vcc_or_gnd()) from->is_vcc() ? to->set_vcc() : to->set_gnd();
      else from->get_source()->insert_fanout(to);
      if (from->is_inverted()) to->set_invert();
    }
    if (lut) atom->set_lutmask_value(lut->get_lut_mask().widened(6).get_value());
    else atom->copy_flags_from_other_ff(n);
    if (k % 3 == 0) atom->set_mode(CDB_WYSIWYG_SHARED_ARITH);
    CDB_SGATE_OTERM* out = atom_out(atom, lut ? DB_PORT_COMBOUT : DB_PORT_REGOUT);
    out->adopt_fanouts(n->get_output_term(0), false);
    out->set_instance_name(n->get_output_term(0)->get_instance_name());
    signals->push_back(out);
    nl->delete_node(n);
    delete n;
    nl->add_node(atom, true);
  }
  return kept_register;
}

// The bundled design packed into atoms, with one gate of every other kind
// wired into it and every record of the netlist filled.
LOADED_NETLIST every_kind_design() {
  LOADED_NETLIST nl = load_blif("small/crc8_lut6");
  std::vector<CDB_SGATE_OTERM*> signals;
  CDB_SGATE_DFF* kept_register = pack_atoms(nl.get(), &signals);
  CDB_SGATE_NETLIST* g = nl.get();
  auto sig = [&](size_t i) { return signals[i % signals.size()]; };
  HDB_INSTANCE_NAME* base = signals.front()->get_my_node()->get_instance_name();
  auto name = [&](const char* ext) { return HDB_INSTANCE_NAME::create_synthesized_name(base, ext, false); };

  // RAM-block atoms: one whose ports come on demand (with a slot left
  // unused between two requested ports), one with fixed ports.
  auto* rb = new CDB_SGATE_WYSIWYG_RAM_BLOCK(name("rb"), 64);
  rb->get_input_port_number(DB_INPUT_PORT_TYPE(700));  // slot requested, never filled
  sig(0)->insert_fanout(atom_in(rb, DB_PORT_DATAIN));
  sig(1)->insert_fanout(atom_in(rb, DB_PORT_CLK));
  atom_out(rb, DB_PORT_RAM_PORTA_DATAOUT);
  rb->set_ram_mode(3, CDB_RAM_PORT_A);
  rb->set_ram_mode(100, CDB_RAM_PORT_B);
  rb->set_logical_name(CDB_RAM_PORT_B, name("mem_b"));
  g->add_node(rb);
  auto* rq = new CDB_SGATE_WYSIWYG_RAM_BLOCK(name("rq"), 96);
  sig(2)->insert_fanout(atom_in(rq, 35));
  rq->set_ram_mode(7, CDB_RAM_PORT_B);
  g->add_node(rq);
  auto* lutram = new CDB_SGATE_WYSIWYG(name("lr"), 63);
  lutram->set_lutram_logical_name(name("mem_l"));
  sig(14)->insert_fanout(atom_in(lutram, 410));
  g->add_node(lutram);
  auto* mac = new CDB_SGATE_WYSIWYG(name("mac"), 60);
  mac->set_mode(92);
  mac->set_sweep_level(2);
  g->add_node(mac);
  auto* generic = new CDB_SGATE_WYSIWYG(name("gen"), 0);
  sig(3)->insert_fanout(atom_in(generic, 501));
  atom_in(generic, 500)->set_gnd();
  atom_out(generic, 4352);
  g->add_node(generic);

  // An adder operator; its output port is one bit wider than it drives.
  auto* op = new CDB_SGATE_OPERATOR("add_1", CDB_OPER_ADDITION);
  op->set_mode1(3);
  op->set_mode3(77);
  op->set_signed(1);
  op->set_tag(9);
  op->set_partition_number(2);
  for (CDB_OPER_PORT_TYPE pt : {CDB_OPER_PORT_A, CDB_OPER_PORT_B}) {
    CDB_SGATE_OPER_PORT_ENTRY* p = op->add_port(pt == CDB_OPER_PORT_A ? "a" : "b", pt, CDB_OPER_PORT_DIR_IN);
    for (unsigned b = 0; b < 2; ++b) {
      CDB_SGATE_ITERM* t = op->create_input_term(nullptr);
      p->set_iterm(b, t);
      sig(4 + b + pt)->insert_fanout(t);
    }
  }
  CDB_SGATE_OPER_PORT_ENTRY* o = op->add_port("o", CDB_OPER_PORT_O, CDB_OPER_PORT_DIR_OUT);
  for (unsigned b = 0; b < 2; ++b) o->set_oterm(b, op->create_output_term(nullptr));
  o->set_oterm(2, nullptr);
  g->add_node(op);
  signals.push_back(op->get_oterm(CDB_OPER_PORT_O, 1));

  auto* comp = new CDB_SGATE_COMPONENT("ram_inst", true);
  comp->set_component_type(3);
  comp->set_function_name("two_port_ram");
  comp->set_library_name("lib");
  comp->set_architecture_name("rtl");
  comp->set_option_byte(5);
  comp->add_unique_known_port("data", CDB_COMPONENT_PORT_INPUT, 2);
  comp->add_unique_known_port("q", CDB_COMPONENT_PORT_OUTPUT, 1);
  comp->add_unique_known_port("data", CDB_COMPONENT_PORT_INPUT, 3);  // widened after q was made
  comp->set_parameter("WIDTH", "3", 1);
  comp->set_parameter(nullptr, "anonymous");
  comp->set_parameter("INIT", nullptr);
  sig(6)->insert_fanout(comp->find_port("data")->get_iterm(2));
  g->add_node(comp);
  signals.push_back(comp->find_port("q")->get_oterm(0));

  auto* ar = new CDB_SGATE_ASYNCHRONOUS_RAM(name("aram"));
  ar->set_size_parameter(0, 8);
  ar->set_size_parameter(9, -1);
  ar->set_mode_word(1, 0xdeadbeef);
  ar->set_mif_file("init.mif");
  sig(7)->insert_fanout(ar->add_iterm(DB_INPUT_PORT_TYPE(20), 1));
  ar->add_oterm(DB_OUTPUT_PORT_TYPE(41), 0);
  g->add_node(ar);
  auto* sr = new CDB_SGATE_SYNCHRONOUS_RAM(name("sram"));
  sr->set_ram_block_type(-3);
  sr->set_mode_byte(4);
  sr->set_port_mode_byte(3, 9);
  sr->set_option_bits(0x41);
  sr->set_last_word(123456);
  sig(8)->insert_fanout(sr->add_iterm(DB_INPUT_PORT_TYPE(36), 0));  // kept as 96
  g->add_node(sr);

  // A state machine of two state buffers, owned by the netlist.
  auto* machine = new CDB_STATE_MACHINE;
  machine->set_name("fsm");
  machine->set_instance_name(name("fsm"));
  for (int s = 0; s < 2; ++s) {
    auto* st = new CDB_SGATE_STATE(name(s ? "st1" : "st0"), machine);
    st->insert_unordered_fanin(sig(9 + s));
    machine->add_state(st);
    g->add_node(st);
  }
  machine->set_clk(sig(1));
  machine->set_clk_is_inverted(true);
  machine->set_reset(rb->get_output_term(rb->get_output_port_number(DB_PORT_RAM_PORTA_DATAOUT)));
  if (kept_register) machine->add_register(kept_register);
  g->get_machine_list()->push_back(machine);

  auto* bd = new CDB_SGATE_BOUNDARY(name("bd"), CDB_BOUNDARY_OUTPUT);
  bd->insert_unordered_fanin(sig(11));
  bd->set_partition_number(3);
  bd->set_boundary_id(44);
  bd->set_cut(true);
  // What a split records: the readers in other partitions (an output
  // boundary's), the driver by number (an input boundary's; both kept).
  bd->set_readers({"top|p2|x~boundary", "top|p3|y~boundary~1"});
  bd->set_fed_by_number(4000000001u, 2);
  g->add_node(bd);
  // An input boundary fed across a split, its driver by number alone, and
  // an output boundary whose readers are none.
  auto* in_bd = new CDB_SGATE_BOUNDARY(name("bd_in"), CDB_BOUNDARY_INPUT);
  in_bd->insert_unordered_fanin(sig(11));
  in_bd->set_fed_by_number(77, 0);
  g->add_node(in_bd);
  auto* lone = new CDB_SGATE_BOUNDARY(name("bd_lone"), CDB_BOUNDARY_OUTPUT);
  lone->insert_unordered_fanin(sig(11));
  lone->set_readers({});
  g->add_node(lone);
  auto* latch = new CDB_SGATE_LATCH(name("lat"));
  g->add_node(latch);
  CDB_SGATE_ITERM* d = latch->create_input_term(nullptr);
  latch->set_input_term(d, CDB_LATCH_D);
  sig(12)->insert_fanout(d);
  d->set_invert();
  CDB_SGATE_ITERM* en = latch->create_input_term(nullptr);
  latch->set_input_term(en, 3);  // slots 1 and 2 stay empty
  en->set_vcc();
  en->set_parent_input(d);
  en->create_info()->set_probability(0.25);
  en->get_info()->set_confidence(4);
  auto* keeper = new CDB_SGATE_COMB(nullptr, CDB_COMB_NAME_KEEPER);
  keeper->set_string_name("keep me");
  keeper->insert_unordered_fanin(latch->get_output_term(0));
  keeper->set_synthesized_name(base);
  keeper->get_flag().set(0x4000);
  g->add_node(keeper);
  CDB_SGATE_OTERM* ko = keeper->get_output_term(0);
  ko->set_synthesized_name(name("kept"));
  ko->set_fanin_delay(-5);
  ko->set_fanout_delay(12);
  ko->get_flag().set(0x8000);
  g->set_max_fanout_constraint(keeper, 17);
  auto* tri = new CDB_SGATE_TRI_BUS(name("tri"));
  tri->insert_unordered_fanin(sig(13));
  tri->insert_unordered_fanin(ko)->get_flag().set(16);
  g->add_node(tri);
  make_output_pin(g, "every_kind_out", tri);
  // An output pin whose input (made by its constructor) was deleted: it
  // comes back without it.
  auto* open_pin = new CDB_SGATE_IO(name("open_pin"), CDB_IO_OUTPUT);
  if (CDB_SGATE_ITERM* t = open_pin->get_input_term(0)) open_pin->delete_input_term(t);
  else ADD_FAILURE() << "output pins are made with their input";
  g->add_node(open_pin);

  g->set_number(5);
  g->set_is_partition_netlist(true);
  g->set_first_debug_number(2);
  g->set_is_subnetlist(true);
  g->set_waive_byte(0x3);
  if (kept_register) g->get_compatible_registers()->add_oterm_set_id(kept_register->get_output_term(0), 6);
  g->get_compatible_registers()->mark_synch_reg(signals.back(), 2);
  g->get_compatible_registers()->set_ready_to_use(true);
  (*g->create_high_speed_map())[unsigned(base->get_id())].m_bits = 3;
  g->get_mast_report()->m_name = "mast";
  g->get_mast_report()->m_rows = {{"a", "b"}, {}, {"c"}};
  CDB_SGATE_TDB_ORIGIN origin{true, 0x0123456789abcdefull, 0x8877665544332211ull};
  origin.labelling = 0xfeedfacecafebeefull;
  g->set_tdb_origin(origin);
  g->set_split_labelling(0x1122334455667789ull);
  return nl;
}

}  // namespace

TEST(NetlistArchiveKinds, EveryKindRoundTripsExactly) {
  LOADED_NETLIST nl = every_kind_design();
  std::string report;
  ASSERT_TRUE(nl->check(&report)) << report;
  const std::string before = describe(nl.get());
  const std::vector<uint8_t> payload = payload_of(nl.get());
  std::string error;
  std::unique_ptr<CDB_SGATE_NETLIST> back = read_payload(payload, &error);
  ASSERT_TRUE(back) << error;
  back->prepare_for_use();
  EXPECT_TRUE(back->check(&report)) << report;
  EXPECT_EQ(describe(back.get()), before);
  // Writing what was read gives the same bytes: nothing drifts per trip.
  EXPECT_EQ(payload_of(back.get()), payload);
  // The stored timing netlist recorded for the netlist's compile travels,
  // with the labelling it was made for and the one the netlist was split
  // under.
  EXPECT_EQ(back->get_tdb_origin(), nl->get_tdb_origin());
  EXPECT_EQ(back->get_tdb_origin().labelling, 0xfeedfacecafebeefull);
  EXPECT_EQ(back->get_split_labelling(), 0x1122334455667789ull);
  EXPECT_TRUE(back->get_tdb_origin().stored);
  EXPECT_TRUE(back->get_tdb_origin().known);
  // Every machine came back owned by the netlist and named by its states.
  ASSERT_TRUE(back->has_machines());
  for (CDB_SGATE_NODE* n : back->get_node_list())
    if (CDB_SGATE_STATE* st = n->cast_to_state()) {
      ASSERT_NE(st->get_state_machine(), nullptr);
      EXPECT_EQ(st->get_state_machine(), back->get_machine_list()->front());
    }
}

TEST(NetlistArchiveKinds, RealDesignsKeepTheirFunctionWithAndWithoutAtoms) {
  // The LUT form goes through berkeley-abc as well as the simulator; the
  // form packed into atoms through the simulator, which evaluates atoms.
  for (const char* design : {"mcnc/diffeq", "small/updown16_lut4", "small/latch_bank_lut6"}) {
    SCOPED_TRACE(design);
    LOADED_NETLIST nl = load_blif(design);
    std::string error;
    std::unique_ptr<CDB_SGATE_NETLIST> back = read_payload(payload_of(nl.get()), &error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(describe(back.get()), describe(nl.get()));
    ASSERT_KAVU_EQUIVALENT(nl.get(), back.get());
    std::vector<CDB_SGATE_OTERM*> signals;
    pack_atoms(nl.get(), &signals);
    back = read_payload(payload_of(nl.get()), &error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(describe(back.get()), describe(nl.get()));
    std::string why;
    EXPECT_TRUE(sim_equivalent(nl.get(), back.get(), SIM_COMPARE{}, &why)) << why;
  }
}

// A gate may hold more terminal slots than 16 bits can number: such a gate
// (a component of 70,000 inputs and outputs, each output read by one input
// of a wide OR) is written and read back whole, in time linear in its
// terminals.
TEST(NetlistArchiveKinds, GatesWiderThanSixteenBitsOfSlotsRoundTrip) {
  constexpr unsigned kWidth = 70000;
  LOADED_NETLIST nl = load_blif("small/counter8_lut4");
  CDB_SGATE_OTERM* drive = (*nl->begin_node_list())->get_single_oterm();
  ASSERT_NE(drive, nullptr);
  auto* wide = new CDB_SGATE_COMPONENT(nullptr, false);
  auto* sink = new CDB_SGATE_COMB(nullptr, CDB_COMB_OR);
  nl->add_node(wide);
  nl->add_node(sink);
  wide->get_output_terms().resize(kWidth);
  for (unsigned i = 0; i < kWidth; ++i) {
    wide->insert_unordered_fanin(drive);
    CDB_SGATE_OTERM* out = wide->create_output_term(nullptr);
    wide->place_new_output_term(out, i);
    sink->insert_unordered_fanin(out);
  }
  const std::vector<uint8_t> payload = payload_of(nl.get());
  std::string error;
  std::unique_ptr<CDB_SGATE_NETLIST> back = read_payload(payload, &error);
  ASSERT_TRUE(back) << error;
  std::unordered_map<unsigned, CDB_SGATE_NODE*> by_number;
  for (CDB_SGATE_NODE* n : back->get_node_list()) by_number[n->get_debug_number()] = n;
  CDB_SGATE_NODE* wide_back = by_number.at(wide->get_debug_number());
  CDB_SGATE_NODE* sink_back = by_number.at(sink->get_debug_number());
  CDB_SGATE_OTERM* drive_back = by_number.at(drive->get_my_node()->get_debug_number())->get_single_oterm();
  ASSERT_EQ(wide_back->get_number_of_input_terms(), kWidth);
  ASSERT_EQ(wide_back->get_output_count(), kWidth);
  ASSERT_EQ(sink_back->get_number_of_input_terms(), kWidth);
  unsigned wrong = 0;
  for (unsigned i = 0; i < kWidth; ++i)
    wrong += wide_back->get_input_term(i)->get_source() != drive_back ||
             sink_back->get_input_term(i)->get_source() != wide_back->get_output_term(i);
  EXPECT_EQ(wrong, 0u);
  EXPECT_EQ(payload_of(back.get()), payload);
}

TEST(NetlistArchiveKinds, DamagedAndForeignRecordsAreRefused) {
  LOADED_NETLIST nl = every_kind_design();
  const std::vector<uint8_t> payload = payload_of(nl.get());
  // Cut anywhere: refused with an exception, nothing leaked (ASan).
  for (size_t cut = 0; cut < payload.size(); cut += 1 + payload.size() / 97) {
    std::string error;
    EXPECT_FALSE(read_payload(std::vector<uint8_t>(payload.begin(), payload.begin() + long(cut)), &error)) << cut;
    EXPECT_FALSE(error.empty());
  }
  // Another format version, older or newer than those read: refused by
  // name before any gate is made. The version follows the pointer field
  // (header and mark, 4 bytes) and its own field header (3 bytes).
  const size_t version_at = 7;
  uint32_t written;
  std::memcpy(&written, &payload[version_at], 4);
  ASSERT_EQ(written, CDB_SGATE_NETLIST_ARCHIVE_VERSION);
  std::string error;
  for (const uint32_t version : {1u, CDB_SGATE_NETLIST_ARCHIVE_VERSION + 1}) {
    std::vector<uint8_t> foreign = payload;
    std::memcpy(&foreign[version_at], &version, 4);
    EXPECT_FALSE(read_payload(foreign, &error));
    EXPECT_TRUE(text_contains_words(error, "format " + std::to_string(version))) << error;
  }
  // A source naming a gate that is not in the record.
  LOADED_NETLIST small = load_blif("small/counter8_lut4");
  CDB_SGATE_NODE* first = *small->begin_node_list();
  small->delete_node(first);
  std::vector<uint8_t> orphaned = payload_of(small.get());
  small->add_node(first);
  EXPECT_FALSE(read_payload(orphaned, &error));
  EXPECT_TRUE(text_contains_words(error, "not in the record")) << error;
  // A partial name that starts with, or holds, a NUL byte: refused by the
  // archive, not by the name layer.
  const std::vector<uint8_t> named = payload_of(small.get());
  std::string part;
  for (CDB_SGATE_NODE* n : small->get_node_list())
    if (n && n->get_instance_name() && n->get_instance_name()->get_unit_name_str().size() > 1) {
      part = n->get_instance_name()->get_unit_name_str();
      break;
    }
  ASSERT_FALSE(part.empty());
  const auto where = std::search(named.begin(), named.end(), part.begin(), part.end());
  ASSERT_NE(where, named.end());
  for (size_t at : {size_t(0), size_t(1)}) {
    std::vector<uint8_t> damaged = named;
    damaged[size_t(where - named.begin()) + at] = 0;
    error.clear();
    EXPECT_FALSE(read_payload(damaged, &error)) << at;
    EXPECT_TRUE(text_contains_words(error, "partial name")) << error;
  }
}

namespace {

// The offset of the value of the first u32 field `tag`, at or after `from`,
// whose neighbour field is `beside` (the field right after it, or with
// `before` the one right before it); npos when there is none. A field is a
// little-endian u16 tag, a u8 kind (2: u32) and, for a u32, four bytes:
// found this way the test follows the record's fields, not their offsets.
size_t u32_field(const std::vector<uint8_t>& payload, uint16_t tag, uint16_t beside, bool before = false,
                 size_t from = 0) {
  constexpr uint8_t kU32 = 2;
  auto header_at = [&](size_t at, uint16_t t) {
    return at + 3 <= payload.size() && payload[at] == (t & 0xff) && payload[at + 1] == (t >> 8) &&
           payload[at + 2] == kU32;
  };
  for (size_t at = from; at + 7 <= payload.size(); ++at) {
    if (!header_at(at, tag)) continue;
    if (before ? at >= 7 && header_at(at - 7, beside) : header_at(at + 7, beside)) return at + 3;
  }
  return std::string::npos;
}

uint32_t u32_at(const std::vector<uint8_t>& payload, size_t at) {
  uint32_t v;
  std::memcpy(&v, &payload[at], 4);
  return v;
}

// counter8 with its gates in a tree of hierarchies: the netlist and its pins
// in top|sub (which uses a namespace), its LUTs in turn in top, in an
// unnamed child of top and in two hierarchies of one name, "x", one under
// sub and one under the unnamed child; and a LUT-RAM atom with a logical
// name. The gates go back to the loader's hierarchy at the end.
struct HIERARCHICAL_DESIGN {
  HDB_NAMESPACE ns;
  CDB_SGATE_HIERARCHY top, sub, other, x_in_sub, x_in_other;
  LOADED_NETLIST nl = load_blif("small/counter8_lut4");
  CDB_SGATE_HIERARCHY* loaded_hierarchy = nl->get_hierarchy();  // the loader's, freed with the netlist
  CDB_SGATE_WYSIWYG* lutram = nullptr;

  HIERARCHICAL_DESIGN() {
    auto named = [](const char* text, HDB_INSTANCE_NAME* parent) {
      return HDB_INSTANCE_NAME::create_normal_name(nullptr, text, nullptr, nullptr, parent);
    };
    top.set_instance_name(named("top", nullptr));
    sub.set_instance_name(named("sub", top.get_instance_name()));
    sub.set_parent(&top);
    sub.set_namespace(&ns);
    other.set_parent(&top);
    HDB_INSTANCE_NAME* x = named("x", nullptr);
    x_in_sub.set_instance_name(x);
    x_in_sub.set_parent(&sub);
    x_in_other.set_instance_name(x);
    x_in_other.set_parent(&other);
    CDB_SGATE_HIERARCHY::set_hierarchy_pointers(&sub, nl.get());
    CDB_SGATE_HIERARCHY* const turn[] = {&top, &other, &x_in_sub, &x_in_other};
    int k = 0;
    for (CDB_SGATE_NODE* n : nl->get_node_list())
      if (n->cast_to_lut()) n->set_hierarchy(turn[k++ % 4]);
    nl->set_hierarchy(&sub);
    lutram = new CDB_SGATE_WYSIWYG(named("lutram", nullptr), 63);
    lutram->set_lutram_logical_name(named("lutram_mem", nullptr));
    nl->add_node(lutram);
  }
  ~HIERARCHICAL_DESIGN() {
    for (CDB_SGATE_NODE* n : nl->get_node_list()) n->set_hierarchy(nullptr);
    CDB_SGATE_HIERARCHY::set_hierarchy_pointers(loaded_hierarchy, nl.get());
    nl->set_hierarchy(loaded_hierarchy);
  }
};

// Each gate's name with the path of its hierarchy, sorted: what a stored
// record must give back whatever the debug numbers of this process.
std::vector<std::string> hierarchy_by_gate(CDB_SGATE_NETLIST* nl) {
  std::vector<std::string> rows;
  for (CDB_SGATE_NODE* n : nl->get_node_list()) rows.push_back(path(n->get_instance_name()) + " " + hierarchy_path(n->get_hierarchy()));
  std::sort(rows.begin(), rows.end());
  return rows;
}

}  // namespace

// Damaged counts and references, each located through the fields around it:
// terminal slot counts no record can hold (a gate's slot list was once sized
// to 2^32 entries before the count was checked) or past the slot words that
// follow, a name deeper than the record, a source naming a gate the record
// lacks or a slot its gate lacks, a hierarchy whose parent does not precede
// it, a gate of a hierarchy the table lacks and a LUT mask that reads an
// input nothing drives (the netlist's check fails on it). Each is refused with an
// exception that names the fault, and nothing leaks (ASan).
TEST(NetlistArchiveKinds, DamagedCountsAndReferencesAreRefused) {
  LOADED_NETLIST nl = every_kind_design();
  const std::vector<uint8_t> payload = payload_of(nl.get());
  // Output slots (50) are followed by their first word (51), input slots
  // (60) by theirs (61); a source is a gate number (67) then a slot (68);
  // an output terminal's port type (52) follows its slot word.
  const size_t out_slots = u32_field(payload, 50, 51);
  const size_t in_slots = u32_field(payload, 60, 61);
  const size_t src_gate = u32_field(payload, 67, 68);
  const size_t src_slot = u32_field(payload, 68, 67, true);
  ASSERT_NE(out_slots, std::string::npos);
  ASSERT_NE(in_slots, std::string::npos);
  ASSERT_NE(src_gate, std::string::npos);
  ASSERT_NE(src_slot, std::string::npos);
  ASSERT_GE(u32_at(payload, out_slots), 1u);
  ASSERT_GE(u32_at(payload, in_slots), 1u);
  uint32_t max_debug = 0;
  for (CDB_SGATE_NODE* n : nl->get_node_list()) max_debug = std::max(max_debug, uint32_t(n->get_debug_number()));
  // The hierarchy table: an entry's parent index (247) comes before its
  // name's depth (248); a gate's index (33) before its output slots (50).
  HIERARCHICAL_DESIGN tree_design;
  const std::vector<uint8_t> tree = payload_of(tree_design.nl.get());
  std::vector<size_t> parents;
  for (size_t at = u32_field(tree, 247, 248); at != std::string::npos; at = u32_field(tree, 247, 248, false, at + 1))
    parents.push_back(at);
  ASSERT_EQ(parents.size(), 5u);  // top, top|sub, the unnamed one and the two "x"
  const size_t gate_hierarchy = u32_field(tree, 33, 50);
  ASSERT_NE(gate_hierarchy, std::string::npos);
  // A two-input LUT that passes input 0, its input 1 not driven: its mask
  // (the low word, 13, before the high word, 14) made an AND of both.
  CDB_SGATE_NETLIST small;
  CDB_SGATE_NODE* lut = make_lut(&small, {make_input_pin(&small, "a"), make_input_pin(&small, "b")}, 0xA);
  lut->get_input_term(1)->remove_fanin();
  const std::vector<uint8_t> lut_record = payload_of(&small);
  const size_t lut_mask = u32_field(lut_record, 13, 14);
  ASSERT_NE(lut_mask, std::string::npos);
  ASSERT_EQ(u32_at(lut_record, lut_mask), 0xAu);
  // The keeper's max-fan-out limit, 17: a signed field (48, kind 1).
  size_t max_fanout = std::string::npos;
  for (size_t at = 0; at + 7 <= payload.size() && max_fanout == std::string::npos; ++at)
    if (payload[at] == 48 && payload[at + 1] == 0 && payload[at + 2] == 1 && u32_at(payload, at + 3) == 17)
      max_fanout = at + 3;
  ASSERT_NE(max_fanout, std::string::npos);
  const struct {
    const char* what;
    const std::vector<uint8_t>& record;
    size_t at;
    uint32_t value;
    const char* error;
  } damages[] = {
      {"2^32 - 1 output slots", payload, out_slots, 0xffffffffu, "more terminal slots than the record holds"},
      {"2^32 - 1 input slots", payload, in_slots, 0xffffffffu, "more terminal slots than the record holds"},
      {"2^28 output slots", payload, out_slots, 1u << 28, "more terminal slots than the record holds"},
      {"a word of input slots more than follow", payload, in_slots, u32_at(payload, in_slots) + 32, ""},
      {"a source gate the record lacks", payload, src_gate, max_debug + 1000, "not in the record"},
      {"a source slot its gate lacks", payload, src_slot, 1000, "lacks output 1000"},
      // Each a hierarchy read one past the end of those read so far.
      {"the first hierarchy its own parent", tree, parents[0], 0, "hierarchy whose parent does not precede it"},
      {"the second hierarchy its own parent", tree, parents[1], 1, "hierarchy whose parent does not precede it"},
      {"a gate of a hierarchy past the table", tree, gate_hierarchy, 5, "gate of a hierarchy not in the record"},
      {"a LUT mask that reads an input not driven", lut_record, lut_mask, 0x8, "mask depends on unconnected input 1"},
      // A limit no netlist holds once stopped the process on an internal
      // error.
      {"a negative max-fan-out limit", payload, max_fanout, 0xffffffffu, "negative max-fan-out limit"},
  };
  for (const auto& d : damages) {
    SCOPED_TRACE(d.what);
    std::vector<uint8_t> damaged = d.record;
    std::memcpy(&damaged[d.at], &d.value, 4);
    std::string error;
    EXPECT_FALSE(read_payload(damaged, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(text_contains_words(error, d.error)) << error;
  }
  // A name deeper than the record: the depth of the first named output
  // terminal (57, right after its port fields 52 to 55 when it has no
  // delays or flag word).
  const size_t depth = u32_field(payload, 57, 55, true);
  ASSERT_NE(depth, std::string::npos);
  std::vector<uint8_t> deep = payload;
  const uint32_t huge = 0x7fffffffu;
  std::memcpy(&deep[depth], &huge, 4);
  std::string error;
  EXPECT_FALSE(read_payload(deep, &error));
  EXPECT_TRUE(text_contains_words(error, "name deeper than the record")) << error;
}

// Each gate's hierarchy, and the netlist's, travel in the record (format 3
// on): read back, the gates name hierarchies of the same names and chain
// (two of one name under different parents stay two), the same objects on
// every read, owned by no netlist. Stored records of older formats still
// read: format 2 (written before format 3) with gates and netlist without a
// hierarchy, format 3 (written before format 4) with them but its LUT-RAM
// without the logical name it had.
TEST(NetlistArchiveHierarchy, GatesKeepTheirHierarchyAndOlderFormatsStillRead) {
  HIERARCHICAL_DESIGN d;
  const std::string before = describe(d.nl.get());
  EXPECT_NE(before.find("hier top/top|sub@/"), std::string::npos);
  const std::vector<uint8_t> payload = payload_of(d.nl.get());
  std::string error;
  std::unique_ptr<CDB_SGATE_NETLIST> back = read_payload(payload, &error);
  ASSERT_TRUE(back) << error;
  EXPECT_EQ(describe(back.get()), before);
  EXPECT_EQ(payload_of(back.get()), payload);
  ASSERT_NE(back->get_hierarchy(), nullptr);
  EXPECT_NE(back->get_hierarchy(), &d.sub);
  EXPECT_EQ(back->get_hierarchy()->get_namespace(), hdb_default_namespace());
  std::set<const CDB_HIERARCHY_BASE*> distinct;
  for (CDB_SGATE_NODE* n : back->get_node_list())
    if (n->get_hierarchy()) distinct.insert(n->get_hierarchy());
  EXPECT_EQ(distinct.size(), 5u);  // sub, top, the unnamed one and the two "x"
  std::unique_ptr<CDB_SGATE_NETLIST> again = read_payload(payload, &error);
  ASSERT_TRUE(again) << error;
  EXPECT_EQ(again->get_hierarchy(), back->get_hierarchy());
  // The hierarchies outlive the netlists read.
  CDB_HIERARCHY_BASE* root = back->get_hierarchy()->get_root();
  back.reset();
  again.reset();
  EXPECT_EQ(path(root->get_instance_name()), "top");
  EXPECT_EQ(root->get_children().size(), 2u);
  // Cut anywhere: refused, nothing leaked (ASan).
  for (size_t cut = 0; cut < payload.size(); cut += 1 + payload.size() / 61)
    EXPECT_FALSE(read_payload(std::vector<uint8_t>(payload.begin(), payload.begin() + long(cut)), &error)) << cut;

  // Stored records, as written by the formats before: counter8 numbered 2
  // (format 2); the design above numbered 3 (format 3); counter8 numbered 5
  // (format 5, below).
  LOADED_NETLIST counter = load_blif("small/counter8_lut4");
  for (CDB_SGATE_NODE* n : counter->get_node_list()) n->set_hierarchy(nullptr);  // as format 2 reads it
  const struct {
    const char* file;
    int number;
    std::vector<std::string> hierarchies;  // hierarchy_by_gate
  } stored[] = {
      {"netlist_v2", 2, hierarchy_by_gate(counter.get())},
      {"netlist_v3", 3, hierarchy_by_gate(d.nl.get())},
  };
  for (const auto& row : stored) {
    SCOPED_TRACE(row.file);
    PDB_ARCHIVE archive;
    archive.open(std::string(KAVU_TEST_DATA_DIR "/pdb/") + row.file, PDB_ARCHIVE::PDB_READ);
    void* q = nullptr;
    pdb_read_ptr(archive, "", "cdb", &cdb_sgate_netlist_ptr_field, &q, nullptr, "");
    std::unique_ptr<CDB_SGATE_NETLIST> old(static_cast<CDB_SGATE_NETLIST*>(q));
    ASSERT_TRUE(old);
    old->prepare_for_use();
    std::string report;
    EXPECT_TRUE(old->check(&report)) << report;
    EXPECT_EQ(old->get_number(), row.number);
    EXPECT_FALSE(old->get_tdb_origin().stored) << "older formats record no stored timing netlist";
    EXPECT_FALSE(old->get_tdb_origin().known) << "an earlier version's archive does not tell";
    EXPECT_EQ(hierarchy_path(old->get_hierarchy()), row.number == 2 ? "-" : "top/top|sub@/");
    EXPECT_EQ(hierarchy_by_gate(old.get()), row.hierarchies);
    for (CDB_SGATE_NODE* n : old->get_node_list()) {
      if (CDB_SGATE_WYSIWYG* a = n->cast_to_wysiwyg()) {
        EXPECT_EQ(a->get_lutram_logical_name(), nullptr);
      }
    }
    std::string why;
    EXPECT_TRUE(sim_equivalent(counter.get(), old.get(), SIM_COMPARE{}, &why)) << why;
    // Written again it is of the current format and reads back the same.
    const std::vector<uint8_t> rewritten = payload_of(old.get());
    EXPECT_EQ(u32_at(rewritten, 7), CDB_SGATE_NETLIST_ARCHIVE_VERSION);
    std::unique_ptr<CDB_SGATE_NETLIST> current = read_payload(rewritten, &error);
    ASSERT_TRUE(current) << error;
    EXPECT_EQ(describe(current.get()), describe(old.get()));
  }
  // Format 5 carried the stored timing netlist without the labelling it was
  // made for (counter8, numbered 5, recorded as stored): whether its
  // compile stored one for the netlist's labelling is not known, so it reads
  // as none stored, not known, split under none.
  {
    PDB_ARCHIVE archive;
    archive.open(std::string(KAVU_TEST_DATA_DIR "/pdb/netlist_v5"), PDB_ARCHIVE::PDB_READ);
    void* q = nullptr;
    pdb_read_ptr(archive, "", "cdb", &cdb_sgate_netlist_ptr_field, &q, nullptr, "");
    std::unique_ptr<CDB_SGATE_NETLIST> v5(static_cast<CDB_SGATE_NETLIST*>(q));
    ASSERT_TRUE(v5);
    v5->prepare_for_use();
    EXPECT_EQ(v5->get_number(), 5);
    EXPECT_FALSE(v5->get_tdb_origin().stored);
    EXPECT_FALSE(v5->get_tdb_origin().known);
    EXPECT_EQ(v5->get_split_labelling(), 0u);
    std::string why;
    EXPECT_TRUE(sim_equivalent(counter.get(), v5.get(), SIM_COMPARE{}, &why)) << why;
  }
}
