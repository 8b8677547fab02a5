// kavu_word_level_back.cpp — word-level netlist to gate netlist (see
// kavu_word_level.h): gates per node (one per bit for bitwise kinds, one
// operator for arithmetic), terminal vectors per word-level terminal, the
// joining of bits with zero and sign extension, and the missing-MIF message.
//
// Inversions compose by XOR: a gate input driven through a merger takes the
// reader's inversion XOR the table entry's; a constant merger input is
// stored as VCC with its value folded into the entry's inversion.
// Cost: O(total bits) hash lookups.
#include <algorithm>
#include <string>

#include "cdb/cdb_sgate.h"
#include "cfg/cfg.h"
#include "cmp/cmp.h"
#include "hdb/hdb.h"
#include "kavu_check.h"
#include "kavu_device.h"
#include "kavu_family_info.h"
#include "kavu_helper_dump.h"
#include "kavu_msg.h"
#include "kavu_name.h"
#include "kavu_setup.h"
#include "kavu_wiring_helper.h"
#include "kavu_word_level.h"
#include "kavu_word_level_int.h"
#include "mem/mem.h"
#include "msg/msg.h"
#include "wl/wl.h"

namespace {

typedef std::unordered_map<WL_ITERM*, std::vector<CDB_SGATE_ITERM*>> ITERM_HASH;
typedef std::unordered_map<WL_OTERM*, std::vector<CDB_SGATE_OTERM*>> OTERM_HASH;

struct CONVERSION {
  RTL_FAMILY_INFO* fam;
  CDB_SGATE_NETLIST* netlist;
  KAVU_WL_SGATES_HASH sgates;
  ITERM_HASH iterms;
  OTERM_HASH oterms;
};

bool one_gate_per_bit(WL_NODE_TYPE t) {
  switch (t) {
    case WL_NODE_TYPE::COMB: case WL_NODE_TYPE::BUFFER: case WL_NODE_TYPE::MUX21: case WL_NODE_TYPE::LUT:
    case WL_NODE_TYPE::DFF: case WL_NODE_TYPE::LATCH: case WL_NODE_TYPE::MUX: case WL_NODE_TYPE::SELECTOR:
    case WL_NODE_TYPE::ROTATOR:
      return true;
    default:
      return false;
  }
}

void add_inputs(CDB_SGATE_NODE* g, unsigned n, unsigned first_port_type = DB_MAX_INPUT_PORT_TYPE) {
  for (unsigned i = 0; i < n; ++i) {
    DB_INPUT_PORT_TYPE pt = DB_INPUT_PORT_TYPE(first_port_type == unsigned(DB_MAX_INPUT_PORT_TYPE)
                                                   ? first_port_type
                                                   : first_port_type + i);
    g->set_input_term(g->create_input_term(nullptr, pt), i);
  }
}

void set_byte_bits(CDB_SGATE_NODE* g, unsigned byte, uint8_t mask, bool v) {
  uint8_t b = g->get_flag_byte(byte);
  g->set_flag_byte(byte, v ? uint8_t(b | mask) : uint8_t(b & ~mask));
}

CDB_SGATE_NODE* create_first_gate(CONVERSION& c, WL_NODE* wl_node, unsigned w) {
  HDB_INSTANCE_NAME* name = wl_node->get_instance_name();
  switch (wl_node->get_node_type()) {
    case WL_NODE_TYPE::COMB: {
      CDB_SGATE_COMB* g = new CDB_SGATE_COMB(name, wl_node->cast_to_comb()->get_comb_type(), true);
      add_inputs(g, wl_node->get_input_count());
      return g;
    }
    case WL_NODE_TYPE::PIN:
      return kavu_get_io_sgate_of_wl_node(wl_node);
    case WL_NODE_TYPE::BUFFER: {
      CDB_SGATE_BUFFER* g =
          new CDB_SGATE_BUFFER(name, kavu_get_sgate_buffer_type(wl_node->cast_to_buffer()->get_buffer_type()), true);
      add_inputs(g, 1);
      return g;
    }
    case WL_NODE_TYPE::MUX21: {
      CDB_SGATE_MUX* g = new CDB_SGATE_MUX(name);
      add_inputs(g, CDB_MUX_NUM_PORTS);
      return g;
    }
    case WL_NODE_TYPE::ADDER: {
      WL_ADDER* a = wl_node->cast_to_adder();
      const bool ext = a->get_iterm(0)->get_arith_ext() != WL_ARITH_EXT_TYPE::NONE ||
                       a->get_iterm(1)->get_arith_ext() != WL_ARITH_EXT_TYPE::NONE;
      const unsigned m = ext ? a->get_width() : w;
      CDB_SGATE_OPERATOR* op = new CDB_SGATE_OPERATOR("", CDB_OPER_ADDITION);
      kavu_create_triport_operator_terms(op, m, m, m, true, true, false);
      op->set_attribute(a->get_mode_byte() & 1);
      op->set_instance_name(name);
      return op;
    }
    case WL_NODE_TYPE::ADDSUB: {
      WL_ADDSUB* a = wl_node->cast_to_addsub();
      unsigned wa = a->get_iterm(0)->get_arith_ext() != WL_ARITH_EXT_TYPE::NONE ? a->get_stored_width(0)
                                                                                 : a->get_iterm(0)->width();
      unsigned wb = a->get_iterm(1)->get_arith_ext() != WL_ARITH_EXT_TYPE::NONE ? a->get_stored_width(1)
                                                                                 : a->get_iterm(1)->width();
      CDB_SGATE_OPERATOR* op = new CDB_SGATE_OPERATOR("", CDB_OPER_ADDSUB);
      kavu_create_triport_operator_terms(op, wa, wb, std::max(wa, wb), false, false, true);
      op->set_attribute(a->get_mode_byte() & 1);
      op->set_instance_name(name);
      return op;
    }
    case WL_NODE_TYPE::MULT: {
      WL_MULTIPLIER* a = wl_node->cast_to_multiplier();
      unsigned wa = a->get_iterm(0)->get_arith_ext() != WL_ARITH_EXT_TYPE::NONE ? a->get_stored_width(0)
                                                                                 : a->get_iterm(0)->width();
      unsigned wb = a->get_iterm(1)->get_arith_ext() != WL_ARITH_EXT_TYPE::NONE ? a->get_stored_width(1)
                                                                                 : a->get_iterm(1)->width();
      CDB_SGATE_OPERATOR* op = new CDB_SGATE_OPERATOR("", CDB_OPER_MULTIPLY);
      kavu_create_triport_operator_terms(op, wa, wb, wa + wb, false, false, false);
      op->set_attribute(a->get_mode_byte() & 1);
      op->set_mode2(a->get_mode_byte2());
      op->set_instance_name(name);
      if (name) op->set_string_name(name->get_unit_name_str().c_str());
      return op;
    }
    case WL_NODE_TYPE::EQUAL: {
      const unsigned n = wl_node->get_iterm(0)->width();
      CDB_SGATE_OPERATOR* op = new CDB_SGATE_OPERATOR("", CDB_OPER_EQUAL);
      kavu_create_triport_operator_terms(op, n, n, 1, false, false, false);
      op->set_instance_name(name);
      return op;
    }
    case WL_NODE_TYPE::LESS_THAN: {
      const unsigned n = wl_node->get_iterm(0)->width();
      CDB_SGATE_OPERATOR* op = new CDB_SGATE_OPERATOR("", CDB_OPER_COMPARE);
      kavu_create_triport_operator_terms(op, n, n, 1, true, false, false);
      op->set_instance_name(name);
      return op;
    }
    case WL_NODE_TYPE::MUX:
    case WL_NODE_TYPE::SELECTOR: {
      WL_MUX_BASE* m = wl_node->cast_to_mux_base();
      const bool mux = wl_node->get_node_type() == WL_NODE_TYPE::MUX;
      CDB_SGATE_OPERATOR* op = new CDB_SGATE_OPERATOR("", mux ? CDB_OPER_NTO1_MUX : CDB_OPER_SELECT);
      kavu_create_triport_operator_terms(op, m->get_num_select(), m->get_num_data(), 1, false, false, false);
      op->set_instance_name(name);
      return op;
    }
    case WL_NODE_TYPE::SHIFTER: {
      WL_SHIFTER* sh = wl_node->cast_to_shifter();
      CDB_SGATE_OPERATOR* op = new CDB_SGATE_OPERATOR("", sh->get_type() ? CDB_OPER_RIGHT_SHIFT : CDB_OPER_LEFT_SHIFT);
      kavu_create_triport_operator_terms(op, sh->get_num_data(), sh->get_num_amount(), sh->get_num_data(), true, false,
                                         false);
      op->set_instance_name(name);
      return op;
    }
    case WL_NODE_TYPE::ROTATOR: {
      WL_ROTATOR* r = wl_node->cast_to_rotator();
      CDB_SGATE_OPERATOR* op = new CDB_SGATE_OPERATOR("", r->get_type() ? CDB_OPER_RIGHT_ROTATE : CDB_OPER_LEFT_ROTATE);
      kavu_create_triport_operator_terms(op, r->get_num_data(), r->get_num_amount(), r->get_num_data(), false, false,
                                         false);
      op->set_instance_name(name);
      return op;
    }
    case WL_NODE_TYPE::DECODER: {
      WL_DECODER* d = wl_node->cast_to_decoder();
      CDB_SGATE_OPERATOR* op = new CDB_SGATE_OPERATOR("", CDB_OPER_DECODE);
      kavu_create_triport_operator_terms(op, d->get_address_width(), 0, d->get_decode_width(), false, false, false);
      op->set_instance_name(name);
      return op;
    }
    case WL_NODE_TYPE::LUT: {
      KAVU_CHECK(CDB_LUTMASK::max_num_inputs == 6);
      WL_LUT* l = wl_node->cast_to_lut();
      if (l->get_lut_type() == 0) {
        CDB_SGATE_LUT* g = new CDB_SGATE_LUT(name, l->get_mask());
        add_inputs(g, l->get_mask().get_num_inputs(), 12);
        g->set_flag_byte(CDB_KIND_BYTE, l->get_option_byte(0));
        set_byte_bits(g, CDB_MISC_BYTE, 0x03, false);
        g->set_flag_byte(CDB_MISC_BYTE, uint8_t(g->get_flag_byte(CDB_MISC_BYTE) | (l->get_option_byte(1) & 0x03)));
        return g;
      }
      if (l->get_lut_type() == 1) {
        // A seven-input LUT exists only as the extended logic cell of a
        // family that has one; any other family cannot hold it.
        KAVU_CHECK(c.fam->has_quellin_style_extended_lut());
        CDB_SGATE_WYSIWYG* g = kavu_create_new_lc_comb(name, c.fam->get_base_family())->cast_to_wysiwyg();
        if (g->get_lutmask_value() != l->get_mask64()) g->set_lutmask_value(l->get_mask64());
        g->set_mode(CDB_WYSIWYG_EXTENDED_LUT);
        for (unsigned i = 0; i < 7; ++i) kavu_fetch_create_wys_iterm(DB_INPUT_PORT_TYPE(12 + i), g);
        return g;
      }
      KAVU_INTERNAL_ERROR("Can't handle 8-LUTs yet");
      return nullptr;
    }
    case WL_NODE_TYPE::DFF: {
      WL_DFF* d = wl_node->cast_to_dff();
      CDB_SGATE_DFF* g = new CDB_SGATE_DFF(name, true);
      g->create_all_inputs();
      if (g->powers_up_high() != d->power_up_high(0)) {
        g->set_power_up_high(d->power_up_high(0));
        g->set_changed(true);
      }
      g->set_power_up_dc((d->get_status(0) & WL_DFF_R0_POWER_UP_DC) != 0);
      g->set_has_power_up_setting((d->get_status(0) & WL_DFF_R0_EXPLICIT_POWER_UP) != 0);
      if (d->get_status(0) & WL_DFF_R0_PRESERVE_SET) g->set_preserve(d->is_preserved());
      if (d->get_status(0) & WL_DFF_R0_MERGE_SET) g->set_merge_allowed((d->get_status(0) & WL_DFF_R0_MERGE) != 0);
      if (d->get_status(1) & WL_DFF_R1_PRUNE_SET) g->set_prune_allowed((d->get_status(1) & WL_DFF_R1_PRUNE) != 0);
      if (d->get_status(1) & WL_DFF_R1_NOT_GATE_PUSH_SET)
        g->set_not_gate_push_allowed((d->get_status(1) & WL_DFF_R1_NOT_GATE_PUSH) != 0);
      g->set_sclr_over_ena_priority((d->get_status(2) & WL_DFF_R2_SCLR_OVER_ENA) != 0);
      g->set_user_clock_enable((d->get_status(2) & WL_DFF_R2_USER_CLOCK_ENA) != 0);
      if (d->is_not_gate_pushed()) g->get_flag().set(CDB_NODE_FLAG_NOT_GATE_PUSHED);
      return g;
    }
    case WL_NODE_TYPE::LATCH: {
      CDB_SGATE_LATCH* g = new CDB_SGATE_LATCH(name, true);
      set_byte_bits(g, CDB_KIND_BYTE, 0x03, false);
      g->set_flag_byte(CDB_KIND_BYTE, uint8_t(g->get_flag_byte(CDB_KIND_BYTE) | (wl_node->cast_to_latch()->get_options() & 0x03)));
      add_inputs(g, CDB_LATCH_NUM_PORTS);
      return g;
    }
    case WL_NODE_TYPE::WYSIWYG:
      return wl_node->cast_to_wysiwyg()->get_cdb_sgate_wys();
    case WL_NODE_TYPE::SYNCHRONOUS_RAM: {
      WL_SYNCHRONOUS_RAM* wr = wl_node->cast_to_synchronous_ram();
      CDB_SGATE_SYNCHRONOUS_RAM* g = new CDB_SGATE_SYNCHRONOUS_RAM(name);
      for (unsigned i = 0; i < WL_SYNCHRONOUS_RAM::kNumSizeParameters; ++i)
        g->set_size_parameter(i, wr->get_size_parameter(i));
      g->set_mode_word(0, wr->get_mode_word(0));
      g->set_mode_word(1, wr->get_mode_word(1));
      g->set_mode_byte(wr->get_mode_byte());
      for (unsigned i = 0; i < WL_SYNCHRONOUS_RAM::kNumPortModes; ++i)
        g->set_port_mode_byte(i, wr->get_port_mode_byte(i));
      g->set_option_bits(wr->get_option_bits());
      if (!wr->get_mif_file().empty()) g->set_mif_file(wr->get_mif_file().c_str());
      g->set_last_word(wr->get_last_word());
      for (unsigned i = 0; i < wr->get_input_count(); ++i)
        for (unsigned b = 0; b < wr->get_iterm(i)->width(); ++b) g->add_iterm(kavu_get_ram_iport_type(0, i), b);
      for (unsigned i = 0; i < wr->get_output_count(); ++i)
        for (unsigned b = 0; b < wr->get_oterm(i)->width(); ++b) g->add_oterm(kavu_get_ram_oport_type(0, i), b);
      return g;
    }
    case WL_NODE_TYPE::COMPONENT: {
      WL_COMPONENT* wc = wl_node->cast_to_component();
      const std::string text =
          wc->get_component_type_name() + ":" + (name ? name->get_unit_name_str() : std::string());
      CDB_SGATE_COMPONENT* g = new CDB_SGATE_COMPONENT(text.c_str(), wc->is_port_prototype_known());
      g->set_instance_name(name);
      for (int dir : {int(CDB_COMPONENT_PORT_INPUT), int(CDB_COMPONENT_PORT_OUTPUT)})
        for (auto it = wc->begin_const_port_entry_table(); it != wc->end_const_port_entry_table(); ++it) {
          const bool input = it->iterm != nullptr;
          if (input != (dir == CDB_COMPONENT_PORT_INPUT)) continue;
          const unsigned width = input ? it->iterm->width() : it->oterm->width();
          if (width == 1 && !it->is_bus) {
            g->add_unique_known_port(it->name.c_str(), dir);
            continue;
          }
          for (unsigned b = 0; b < width; ++b)
            g->add_unique_known_port((it->name + "[" + std::to_string(b) + "]").c_str(), dir);
        }
      for (auto it = wc->begin_const_parameter_table(); it != wc->end_const_parameter_table(); ++it)
        g->set_parameter(it->name.c_str(), it->value.c_str(), it->type);
      g->set_option_byte(wc->get_option_byte());
      g->set_library_name(wc->get_library_name().c_str());
      g->set_architecture_name(wc->get_architecture_name().c_str());
      g->set_function_name(wc->get_component_type_name().c_str());
      return g;
    }
    default:
      KAVU_INTERNAL_ERROR("Node type not expected to be converted to sgate");
      return nullptr;
  }
}

void create_sgates_for_wl_node(CONVERSION& c, WL_NODE* wl_node) {
  KAVU_CHECK(c.netlist);
  const unsigned bus_width = wl_node->get_first_oterm() ? wl_node->get_first_oterm()->width() : 0;
  KAVU_CHECK((bus_width > 0) || (wl_node->get_node_type() == WL_NODE_TYPE::WYSIWYG));
  if (wl_node->get_node_type() == WL_NODE_TYPE::SPLITTER || wl_node->get_node_type() == WL_NODE_TYPE::MERGER)
    KAVU_INTERNAL_ERROR("Node type not expected to be converted to sgate");
  CDB_SGATE_NODE* new_node = create_first_gate(c, wl_node, bus_width);
  KAVU_CHECK(new_node);
  if (CDB_SGATE_OPERATOR* op = new_node->cast_to_operator()) op->set_signed(wl_node->get_signed_byte());
  kavu_name_sgate_from_wl_node(wl_node, new_node, 0);
  if (wl_node->get_flags() & wl_node->get_netlist()->get_marker_mask())
    new_node->get_flag().set(CDB_NODE_FLAG_WORD_LEVEL_MARK);
  new_node->set_kff((wl_node->get_kff_byte() & 1) != 0, (wl_node->get_kff_byte() & 2) != 0, true);
  // Pins and atoms kept by a whole-netlist build join the target here.
  if (!new_node->get_netlist()) c.netlist->add_node(new_node, true);
  std::vector<CDB_SGATE_NODE*> vec{new_node};
  if (one_gate_per_bit(wl_node->get_node_type())) {
    for (unsigned bit = 1; bit < bus_width; ++bit) {
      CDB_SGATE_NODE* clone = nullptr;
      new_node->clone_node(MEM_MANAGER::get_default_segment(), &clone, 0);
      kavu_name_sgate_from_wl_node(wl_node, clone, bit);
      if (WL_DFF* d = wl_node->cast_to_dff()) {
        CDB_SGATE_DFF* g = clone->cast_to_dff();
        if (g->powers_up_high() != d->power_up_high(bit)) {
          g->set_power_up_high(d->power_up_high(bit));
          g->set_changed(true);
        }
      }
      c.netlist->add_node(clone, true);
      vec.push_back(clone);
    }
  }
  KAVU_CHECK(c.sgates.find(wl_node) == c.sgates.end());
  c.sgates.emplace(wl_node, std::move(vec));
}

const std::vector<CDB_SGATE_NODE*>& find_sgates(CONVERSION& c, WL_NODE* n) {
  auto iter = c.sgates.find(n);
  auto iter_end = c.sgates.end();
  KAVU_CHECK(iter != iter_end);
  return iter->second;
}

const std::vector<CDB_SGATE_OTERM*>& find_oterm_bits(CONVERSION& c, WL_OTERM* t) {
  auto iter = c.oterms.find(t);
  auto iter_end = c.oterms.end();
  KAVU_CHECK(iter != iter_end);
  return iter->second;
}

std::vector<CDB_SGATE_ITERM*> port_iterms(CDB_SGATE_OPERATOR* op, CDB_OPER_PORT_TYPE p) {
  std::vector<CDB_SGATE_ITERM*> v;
  CDB_SGATE_OPER_PORT_ENTRY* port = op->get_port(p);
  if (port)
    for (unsigned i = 0; i < port->get_width(); ++i) v.push_back(port->get_iterm(i));
  return v;
}

std::vector<CDB_SGATE_OTERM*> port_oterms(CDB_SGATE_OPERATOR* op, CDB_OPER_PORT_TYPE p) {
  std::vector<CDB_SGATE_OTERM*> v;
  CDB_SGATE_OPER_PORT_ENTRY* port = op->get_port(p);
  if (port)
    for (unsigned i = 0; i < port->get_width(); ++i) v.push_back(port->get_oterm(i));
  return v;
}

void map_node_terms(CONVERSION& c, WL_NODE* wl_node) {
  KAVU_CHECK(wl_node);
  const std::vector<CDB_SGATE_NODE*>& gates = find_sgates(c, wl_node);
  const unsigned w = wl_node->get_first_oterm() ? wl_node->get_first_oterm()->width() : 0;
  auto per_bit_inputs = [&](unsigned n) {
    for (unsigned i = 0; i < n && i < wl_node->get_input_count(); ++i) {
      std::vector<CDB_SGATE_ITERM*> v;
      for (CDB_SGATE_NODE* g : gates) v.push_back(g->get_input_term(i));
      c.iterms[wl_node->get_iterm(i)] = std::move(v);
    }
  };
  auto per_bit_output = [&]() {
    std::vector<CDB_SGATE_OTERM*> v;
    for (CDB_SGATE_NODE* g : gates) v.push_back(g->get_output_term(0));
    c.oterms[wl_node->get_first_oterm()] = std::move(v);
  };
  switch (wl_node->get_node_type()) {
    case WL_NODE_TYPE::COMB: case WL_NODE_TYPE::BUFFER: case WL_NODE_TYPE::MUX21: case WL_NODE_TYPE::DFF:
    case WL_NODE_TYPE::LATCH:
      per_bit_inputs(wl_node->get_input_count());
      per_bit_output();
      return;
    case WL_NODE_TYPE::LUT: {
      WL_LUT* l = wl_node->cast_to_lut();
      if (l->get_lut_type() > 1) KAVU_INTERNAL_ERROR("This code doesn't handle 8-LUTs yet");
      for (unsigned i = 0; i < wl_node->get_input_count(); ++i) {
        std::vector<CDB_SGATE_ITERM*> v;
        for (CDB_SGATE_NODE* g : gates)
          v.push_back(l->get_lut_type() == 1 ? g->cast_to_wysiwyg()->get_iterm_by_type(DB_INPUT_PORT_TYPE(12 + i), 0)
                                             : (i < g->get_number_of_input_terms() ? g->get_input_term(i) : nullptr));
        c.iterms[wl_node->get_iterm(i)] = std::move(v);
      }
      std::vector<CDB_SGATE_OTERM*> v;
      for (CDB_SGATE_NODE* g : gates) v.push_back(g->get_preferred_oterm());
      c.oterms[wl_node->get_first_oterm()] = std::move(v);
      return;
    }
    case WL_NODE_TYPE::PIN: {
      CDB_SGATE_NODE* pin = gates[0];
      if (wl_node->cast_to_pin()->get_pin_type() == 0) {
        if (w < 2) {
          c.oterms[wl_node->get_first_oterm()] = {pin->get_single_oterm()};
          return;
        }
        CDB_SGATE_OPERATOR* op = kavu_create_bus_out_operator(c.netlist, w)->cast_to_operator();
        if (pin->get_instance_name()) kavu_create_synthesized_name(op, pin->get_instance_name(), "obus");
        pin->get_single_oterm()->insert_fanout(op->get_iterm(CDB_OPER_PORT_A, 0));
        op->get_iterm(CDB_OPER_PORT_A, 0)->clear_invert();
        if (wl_to_sgate_verbose) kavu_debug("WLtoSgate: Created BUS_OUT %d", int(op->get_id()));
        c.oterms[wl_node->get_first_oterm()] = port_oterms(op, CDB_OPER_PORT_O);
        return;
      }
      if (w < 2) {
        c.iterms[wl_node->get_iterm(0)] = {pin->get_single_iterm()};
        return;
      }
      CDB_SGATE_OPERATOR* op = kavu_create_bus_in_operator(c.netlist, w)->cast_to_operator();
      if (pin->get_instance_name()) kavu_create_synthesized_name(op, pin->get_instance_name(), "ibus");
      op->get_oterm(CDB_OPER_PORT_O, 0)->insert_fanout(pin->get_single_iterm());
      pin->get_single_iterm()->clear_invert();
      if (wl_to_sgate_verbose) kavu_debug("WLtoSgate: Created BUS_IN %d", int(op->get_id()));
      c.iterms[wl_node->get_iterm(0)] = port_iterms(op, CDB_OPER_PORT_A);
      return;
    }
    case WL_NODE_TYPE::MUX: case WL_NODE_TYPE::SELECTOR: {
      WL_MUX_BASE* m = wl_node->cast_to_mux_base();
      for (unsigned i = 0; i < m->get_num_data(); ++i) {
        std::vector<CDB_SGATE_ITERM*> v;
        for (CDB_SGATE_NODE* g : gates) v.push_back(g->cast_to_operator()->get_iterm(CDB_OPER_PORT_B, i));
        c.iterms[m->get_data(i)] = std::move(v);
      }
      for (unsigned j = 0; j < m->get_num_select(); ++j) {
        std::vector<CDB_SGATE_ITERM*> v;
        for (CDB_SGATE_NODE* g : gates) v.push_back(g->cast_to_operator()->get_iterm(CDB_OPER_PORT_A, j));
        c.iterms[m->get_select(j)] = std::move(v);
      }
      std::vector<CDB_SGATE_OTERM*> v;
      for (CDB_SGATE_NODE* g : gates) v.push_back(g->cast_to_operator()->get_oterm(CDB_OPER_PORT_O, 0));
      c.oterms[wl_node->get_first_oterm()] = std::move(v);
      return;
    }
    case WL_NODE_TYPE::SHIFTER: case WL_NODE_TYPE::ROTATOR: {
      const bool rotate = wl_node->get_node_type() == WL_NODE_TYPE::ROTATOR;
      KAVU_CHECK(rotate || gates.size() == 1);
      const unsigned d = rotate ? wl_node->cast_to_rotator()->get_num_data() : wl_node->cast_to_shifter()->get_num_data();
      const unsigned a =
          rotate ? wl_node->cast_to_rotator()->get_num_amount() : wl_node->cast_to_shifter()->get_num_amount();
      auto inputs = [&](unsigned wl_index, CDB_OPER_PORT_TYPE port, unsigned bit) {
        std::vector<CDB_SGATE_ITERM*> v;
        for (CDB_SGATE_NODE* g : gates) v.push_back(g->cast_to_operator()->get_iterm(port, bit));
        c.iterms[wl_node->get_iterm(wl_index)] = std::move(v);
      };
      for (unsigned i = 0; i < d; ++i) inputs(i, CDB_OPER_PORT_A, i);
      for (unsigned j = 0; j < a; ++j) inputs(d + j, CDB_OPER_PORT_SHIFT, j);
      if (!rotate) inputs(d + a, CDB_OPER_PORT_CIN, 0);
      for (unsigned k = 0; k < d; ++k) {
        std::vector<CDB_SGATE_OTERM*> v;
        for (CDB_SGATE_NODE* g : gates) v.push_back(g->cast_to_operator()->get_oterm(CDB_OPER_PORT_O, k));
        c.oterms[wl_node->get_oterm(k)] = std::move(v);
      }
      return;
    }
    case WL_NODE_TYPE::DECODER: {
      KAVU_CHECK(gates.size() == 1);
      CDB_SGATE_OPERATOR* op = gates[0]->cast_to_operator();
      for (unsigned i = 0; i < wl_node->get_input_count(); ++i)
        c.iterms[wl_node->get_iterm(i)] = {op->get_iterm(CDB_OPER_PORT_A, i)};
      for (unsigned j = 0; j < wl_node->get_output_count(); ++j)
        c.oterms[wl_node->get_oterm(j)] = {op->get_oterm(CDB_OPER_PORT_O, j)};
      return;
    }
    case WL_NODE_TYPE::ADDER: case WL_NODE_TYPE::ADDSUB: case WL_NODE_TYPE::MULT: case WL_NODE_TYPE::LESS_THAN:
    case WL_NODE_TYPE::EQUAL: {
      KAVU_CHECK(gates.size() == 1);
      CDB_SGATE_OPERATOR* op = gates[0]->cast_to_operator();
      const WL_NODE_TYPE t = wl_node->get_node_type();
      c.iterms[wl_node->get_iterm(0)] = port_iterms(op, CDB_OPER_PORT_A);
      c.iterms[wl_node->get_iterm(1)] = port_iterms(op, CDB_OPER_PORT_B);
      if (t == WL_NODE_TYPE::ADDER || t == WL_NODE_TYPE::LESS_THAN) {
        c.iterms[wl_node->get_iterm(2)] = port_iterms(op, CDB_OPER_PORT_CIN);
      } else if (t == WL_NODE_TYPE::ADDSUB) {
        CDB_SGATE_OPER_PORT_ENTRY* port = op->get_port(CDB_OPER_PORT_ADD_NOT_SUB);
        KAVU_CHECK(port->get_width() == 1);
        c.iterms[wl_node->get_iterm(2)] = port_iterms(op, CDB_OPER_PORT_ADD_NOT_SUB);
      }
      c.oterms[wl_node->get_oterm(0)] = port_oterms(op, CDB_OPER_PORT_O);
      if (t == WL_NODE_TYPE::ADDER) c.oterms[wl_node->get_oterm(1)] = port_oterms(op, CDB_OPER_PORT_COUT);
      return;
    }
    case WL_NODE_TYPE::SYNCHRONOUS_RAM: {
      KAVU_CHECK(gates.size() == 1);
      CDB_SGATE_SYNCHRONOUS_RAM* g = gates[0]->cast_to_synchronous_ram();
      for (unsigned i = 0; i < wl_node->get_input_count(); ++i) {
        std::vector<CDB_SGATE_ITERM*> v;
        for (unsigned b = 0; b < wl_node->get_iterm(i)->width(); ++b)
          v.push_back(g->get_iterm_by_type(kavu_get_ram_iport_type(0, i), b));
        c.iterms[wl_node->get_iterm(i)] = std::move(v);
      }
      for (unsigned i = 0; i < wl_node->get_output_count(); ++i) {
        std::vector<CDB_SGATE_OTERM*> v;
        for (unsigned b = 0; b < wl_node->get_oterm(i)->width(); ++b)
          v.push_back(g->get_oterm_by_type(kavu_get_ram_oport_type(0, i), b));
        c.oterms[wl_node->get_oterm(i)] = std::move(v);
      }
      return;
    }
    case WL_NODE_TYPE::COMPONENT: {
      KAVU_CHECK(gates.size() == 1);
      WL_COMPONENT* wc = wl_node->cast_to_component();
      CDB_SGATE_COMPONENT* g = gates[0]->cast_to_component();
      for (auto it = wc->begin_const_port_entry_table(); it != wc->end_const_port_entry_table(); ++it) {
        if (it->iterm) {
          std::vector<CDB_SGATE_ITERM*> v;
          for (unsigned b = 0; b < it->iterm->width(); ++b)
            v.push_back(kavu_component_bit_iterm(g, it->name, it->is_bus || it->iterm->width() > 1, b));
          c.iterms[it->iterm] = std::move(v);
        } else {
          std::vector<CDB_SGATE_OTERM*> v;
          for (unsigned b = 0; b < it->oterm->width(); ++b)
            v.push_back(kavu_component_bit_oterm(g, it->name, it->is_bus || it->oterm->width() > 1, b));
          c.oterms[it->oterm] = std::move(v);
        }
      }
      return;
    }
    case WL_NODE_TYPE::WYSIWYG: {
      KAVU_CHECK(gates.size() == 1);
      WL_WYSIWYG* wn = wl_node->cast_to_wysiwyg();
      CDB_SGATE_WYSIWYG* atom = gates[0]->cast_to_wysiwyg();
      const kavu_platform::ATOM_CATALOGUE_ENTRY& e = atom->get_catalogue_entry();
      for (const kavu_platform::ATOM_PORT& p : e.m_inputs) {
        WL_ITERM* t = wn->get_iterm(wn->get_iterm_index(DB_INPUT_PORT_TYPE(p.m_port_type)));
        std::vector<CDB_SGATE_ITERM*> v;
        for (unsigned b = 0; b < t->width(); ++b) {
          CDB_SGATE_ITERM* x = atom->get_iterm_by_type(DB_INPUT_PORT_TYPE(p.m_port_type), b);
          if (!x) break;
          v.push_back(x);
        }
        c.iterms[t] = std::move(v);
      }
      for (const kavu_platform::ATOM_PORT& p : e.m_outputs) {
        WL_OTERM* t = wn->get_oterm(wn->get_oterm_index(DB_OUTPUT_PORT_TYPE(p.m_port_type)));
        std::vector<CDB_SGATE_OTERM*> v;
        for (unsigned b = 0; b < t->width(); ++b) {
          CDB_SGATE_OTERM* x = atom->get_oterm_by_type(DB_OUTPUT_PORT_TYPE(p.m_port_type), b);
          if (!x) break;
          v.push_back(x);
        }
        c.oterms[t] = std::move(v);
      }
      return;
    }
    default:
      KAVU_INTERNAL_ERROR("Node type not supported to be converted to sgate");
  }
}

void map_splitter_terms(CONVERSION& c, WL_SPLITTER* s) {
  s->push_iterm_inversions_to_fanout();
  WL_ITERM* in = s->get_iterm(0);
  if (!in->get_source()) return;
  const std::vector<CDB_SGATE_OTERM*>& src_oterm_vec = find_oterm_bits(c, in->get_source());
  unsigned i = 0;
  for (unsigned o = 0; o < s->get_output_count(); ++o) {
    std::vector<CDB_SGATE_OTERM*> v;
    for (unsigned b = 0; b < s->get_oterm(o)->width(); ++b, ++i) {
      const unsigned k = s->get_slice_lo(o) + b;
      KAVU_CHECK(k < src_oterm_vec.size());
      v.push_back(src_oterm_vec[k]);
    }
    c.oterms[s->get_oterm(o)] = std::move(v);
  }
  KAVU_CHECK(src_oterm_vec.size() >= i);
}

void map_merger_terms(CONVERSION& c, WL_MERGER* m) {
  m->absorb_iterm_inversions_in_table();
  const unsigned w = m->get_first_oterm()->width();
  std::vector<CDB_SGATE_OTERM*> v;
  for (unsigned i = 0; i < w; ++i) {
    const WL_MERGER_ENTRY e = m->get_table_entry(i);
    WL_ITERM* wl_iterm = m->get_iterm(e.input);
    if (wl_iterm->get_source()) {
      const std::vector<CDB_SGATE_OTERM*>& src = find_oterm_bits(c, wl_iterm->get_source());
      KAVU_CHECK(e.bit < src.size());
      v.push_back(src[e.bit]);
      continue;
    }
    // A constant (or unconnected, reading 0) bit: null, VCC with the value
    // folded into the entry's inversion.
    const bool one = wl_iterm->is_const() && wl_iterm->const_bit(e.bit);
    v.push_back(nullptr);
    if (!one) m->set_invert_in_table(i);
  }
  for (unsigned k = 0; k < m->get_input_count(); ++k) {
    WL_ITERM* t = m->get_iterm(k);
    if (!t->get_source()) t->set_vcc();
  }
  c.oterms[m->get_first_oterm()] = std::move(v);
}

void set_inversion(CDB_SGATE_ITERM* t, bool inv) {
  if (inv)
    t->set_invert();
  else
    t->clear_invert();
}

void tie(CDB_SGATE_ITERM* t, bool vcc) {
  t->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_UNCONNECTED);
  if (vcc)
    t->set_vcc();
  else
    t->set_gnd();
}

// Connects `to` to `src` (null: VCC) with exactly the inversion `inv`; an
// earlier connection is replaced.
void join_bit(CDB_SGATE_ITERM* to, CDB_SGATE_OTERM* src, bool inv) {
  KAVU_CHECK(to);
  if (!src) {
    tie(to, !inv);
    return;
  }
  if (to->get_source_oterm() != src) {
    to->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_UNCONNECTED);
    src->insert_fanout(to);
  }
  set_inversion(to, inv);
}

bool is_extension_operator(CDB_SGATE_NODE* node) {
  KAVU_CHECK(node->get_sgate_type() == CDB_SGATE_OPERATOR_ENUM);
  const CDB_OPER_TYPE op_type = node->cast_to_operator()->get_type();
  return (op_type == CDB_OPER_MULTIPLY) || (op_type == CDB_OPER_ADDITION) || (op_type == CDB_OPER_ADDSUB);
}

void connect_node_inputs(CONVERSION& c, WL_NODE* wl_node) {
  for (unsigned i = 0; i < wl_node->get_input_count(); ++i) {
    WL_ITERM* wl_iterm = wl_node->get_iterm(i);
    if (!wl_iterm->is_in_use()) continue;
    auto iter = c.iterms.find(wl_iterm);
    auto iter_end = c.iterms.end();
    KAVU_CHECK(iter != iter_end);
    const std::vector<CDB_SGATE_ITERM*>& V = iter->second;
    if (V.empty()) continue;
    const WL_ARITH_EXT_TYPE arith_ext = wl_iterm->get_arith_ext();
    if (WL_OTERM* S = wl_iterm->get_source()) {
      const std::vector<CDB_SGATE_OTERM*>& U = find_oterm_bits(c, S);
      WL_MERGER* M = S->get_my_node()->cast_to_merger();
      const unsigned iterm_bus_width = unsigned(V.size()), oterm_bus_width = unsigned(U.size());
      const bool single = oterm_bus_width == 1 && iterm_bus_width > 1 && arith_ext == WL_ARITH_EXT_TYPE::NONE;
      if (!single) {
        if (iterm_bus_width > oterm_bus_width) {
          KAVU_CHECK(V[0]);
          KAVU_CHECK(is_extension_operator(V[0]->get_my_node()));
          KAVU_CHECK((arith_ext == WL_ARITH_EXT_TYPE::ZERO) || (arith_ext == WL_ARITH_EXT_TYPE::SIGN));
        }
        KAVU_CHECK(iterm_bus_width >= oterm_bus_width || arith_ext != WL_ARITH_EXT_TYPE::NONE);
      }
      for (unsigned b = 0; b < iterm_bus_width; ++b) {
        CDB_SGATE_ITERM* iterm = V[b];
        KAVU_CHECK(iterm);
        long idx = single ? 0 : (b < oterm_bus_width ? long(b) : (arith_ext == WL_ARITH_EXT_TYPE::SIGN ? long(oterm_bus_width) - 1 : -1));
        if (idx < 0) {  // zero extension: GND whatever the inversions
          tie(iterm, false);
          continue;
        }
        // Reader's inversion XOR the table entry's.
        const bool inv = wl_iterm->is_inverted() != (M ? M->get_table_entry(unsigned(idx)).invert : false);
        join_bit(iterm, U[size_t(idx)], inv);
      }
      continue;
    }
    KAVU_CHECK(wl_iterm->is_const());
    KAVU_CHECK(!wl_iterm->is_inverted());
    const unsigned width = wl_iterm->width();
    if (arith_ext != WL_ARITH_EXT_TYPE::NONE) {
      KAVU_CHECK(wl_is_arithmetic(wl_iterm->get_my_node()));
      KAVU_CHECK(wl_iterm->width() <= V.size());
      for (unsigned b = 0; b < V.size(); ++b) {
        bool one = b < width ? wl_iterm->const_bit(b)
                             : (arith_ext == WL_ARITH_EXT_TYPE::SIGN && width > 0 && wl_iterm->const_bit(width - 1));
        tie(V[b], one);
      }
      continue;
    }
    KAVU_CHECK(wl_iterm->width() == V.size() || wl_iterm->width() == 1);
    for (unsigned b = 0; b < V.size(); ++b) {
      KAVU_CHECK(V[b]);
      tie(V[b], width > 1 ? wl_iterm->const_bit(b) : wl_iterm->const_bit_value());
    }
  }
  // Every input of a plain register is connected: unused ones get their
  // inactive value (enable and asynchronous data VCC, the others GND).
  if (wl_node->get_node_type() == WL_NODE_TYPE::DFF) {
    for (CDB_SGATE_NODE* g : find_sgates(c, wl_node))
      for (unsigned i = 0; i < CDB_DFF_NUM_PORTS; ++i) {
        CDB_SGATE_ITERM* t = g->get_input_term(i);
        if (t && !cdb_is_connected(t)) tie(t, i == CDB_DFF_ENA || i == CDB_DFF_ADATA);
      }
  }
}

}  // namespace

CDB_SGATE_NETLIST* kavu_convert_wl_to_sgate_netlist(WL_NETLIST* wl, CMP_FACADE*, RTL_FAMILY_INFO* fam,
                                                    CDB_SGATE_NETLIST* target) {
  KAVU_CHECK(wl && fam);
  const bool dump = cfg_is_on("kavu_dump_post_wl_netlist", false);
  CONVERSION c;
  c.fam = fam;
  c.netlist = target;
  if (!c.netlist) {
    c.netlist = new CDB_SGATE_NETLIST();
    c.netlist->prepare_for_use();
  }
  wutil_clean_up_mergers_and_splitters(wl);
  WL_MERGER::allow_table_inversions();
  std::vector<WL_NODE*> nodes(wl->begin_node_list(), wl->end_node_list());
  c.sgates.reserve(nodes.size());
  c.iterms.reserve(nodes.size() * 2);
  c.oterms.reserve(nodes.size());
  auto wiring = [](WL_NODE* n) {
    return n->get_node_type() == WL_NODE_TYPE::SPLITTER || n->get_node_type() == WL_NODE_TYPE::MERGER;
  };
  for (WL_NODE* n : nodes)
    if (!wiring(n)) create_sgates_for_wl_node(c, n);
  for (WL_NODE* n : nodes)
    if (!wiring(n)) find_sgates(c, n);
  for (WL_NODE* n : nodes)
    if (!wiring(n)) map_node_terms(c, n);
  for (WL_NODE* n : nodes)
    if (WL_SPLITTER* s = n->cast_to_splitter()) map_splitter_terms(c, s);
  for (WL_NODE* n : nodes)
    if (WL_MERGER* m = n->cast_to_merger()) map_merger_terms(c, m);
  for (WL_NODE* n : nodes) {
    if (wiring(n)) continue;
    if (WL_PIN* p = n->cast_to_pin())
      if (p->get_pin_type() == 0) continue;
    connect_node_inputs(c, n);
  }
  // The register conversion gets its own copy of the gate vectors.
  kavu_convert_wl_dffs_to_wys_ffs(wl, new KAVU_WL_SGATES_HASH(c.sgates), c.netlist, fam);
  // Kept gates the word-level netlist no longer reached still join the target.
  for (CDB_SGATE_NODE* g : kavu_wl_kept_gates())
    if (!g->get_netlist()) c.netlist->add_node(g, true);
  kavu_wl_kept_gates().clear();
  c.sgates.clear();
  c.iterms.clear();
  c.oterms.clear();
  kavu_wl_io_hash().clear();
  delete wl;
  if (dump) {
    if (KAVU_NETLIST_DUMPER dumper = kavu_get_netlist_dumper())
      dumper(nullptr, c.netlist, "after_wl_to_sgate");
    else
      kavu_debug("RTL dumper function hasn't been initialized. Call kavu_set_netlist_dumper first");
  }
  WL_MERGER::disable_table_inversions();
  return c.netlist;
}

void kavu_add_parameter_messages(MSG_I* group, WL_COMPONENT* comp) {
  if (cfg_is_on("opt_dont_display_inference_parameter_messages", false)) return;
  KAVU_CHECK(group && comp);
  for (auto it = comp->begin_const_parameter_table(); it != comp->end_const_parameter_table(); ++it) {
    if (it->name.empty() || it->value.empty()) continue;
    group->add_msg(kavu_msg_inferred_tolvafunction_parameter(it->name, it->value));
  }
}

void kavu_issue_missing_mif_error(WL_NODE* rom, const char* mif_file, CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hier) {
  KAVU_CHECK(rom);
  HDB_NAMESPACE* ns = facade ? facade->get_namespace() : nullptr;
  HDB_INSTANCE_NAME* root = ns ? ns->get_rooted_at() : nullptr;
  HDB_INSTANCE_NAME* iname = rom->get_instance_name();
  std::string path;
  if (iname) {
    iname->get_hierarchy_path(root, &path, false, 0);
  } else {
    // No instance name: the hierarchy's path and the node's own text.
    if (hier && hier->get_instance_name()) hier->get_instance_name()->get_hierarchy_path(root, &path, false, 0);
    path.append("|");
    path.append(wl_get_string_hpath(rom));
  }
  MSG_E* msg = new MSG_E;
  msg->fill_args(kavu_msg_string(286034), mif_file ? mif_file : "", path.c_str());
  msg->set_id(286034);
  const MSG_LOCATION_SCHEMA* schema = iname ? iname->get_location() : nullptr;
  if (schema) msg->add_location(schema->get_unmodified_source(), schema, "", iname->get_unit_name());
  msg->post();
  delete msg;
}
