// kavu_word_level_build.cpp — gate netlist to word-level netlist: the gate
// chooser, node creation, names and the connection of word-level inputs
// (see kavu_word_level.h).
// Cost: O(gates + terminals) hash lookups plus the word-level clean-up.
#include <algorithm>
#include <cstring>
#include <string>
#include <unordered_set>

#include "cdb/cdb_sgate.h"
#include "cdb/cdb_sgate_reg_flags.h"
#include "cfg/cfg.h"
#include "cmp/cmp.h"
#include "gen/gen_dyn_flag.h"
#include "hdb/hdb.h"
#include "kavu_check.h"
#include "kavu_helper_predicates.h"
#include "kavu_msg.h"
#include "kavu_name.h"
#include "kavu_ops.h"
#include "kavu_setup.h"
#include "kavu_utility_smek.h"
#include "kavu_word_level.h"
#include "kavu_word_level_int.h"
#include "wl/wl.h"

std::unordered_map<WL_NODE*, CDB_SGATE_NODE*>& kavu_wl_io_hash() {
  static std::unordered_map<WL_NODE*, CDB_SGATE_NODE*> s_wl_io_hash;
  return s_wl_io_hash;
}

std::vector<CDB_SGATE_NODE*>& kavu_wl_kept_gates() {
  static std::vector<CDB_SGATE_NODE*> s_kept;
  return s_kept;
}

namespace {

// Made as the library loads, not at first use: a process that forks while
// another thread makes it would leave its child waiting for it for ever.
[[maybe_unused]] const bool g_wl_tables_at_load = (kavu_wl_io_hash(), kavu_wl_kept_gates(), true);

constexpr uint32_t KAVU_WL_SUBNET_MARK = 0x8000;

}  // namespace

// ---------------------------------------------------------------- choosing

bool kavu_is_state_machine_node(CDB_SGATE_NODE* sgate) {
  KAVU_CHECK(sgate);
  for (unsigned i = 0; i < sgate->get_number_of_input_terms(); ++i) {
    CDB_SGATE_ITERM* t = sgate->get_input_term(i);
    if (!t || !cdb_is_connected(t) || t->is_vcc_or_gnd()) continue;
    if (!t->get_source_oterm() || !kavu_is_a_protect_buffer(t->get_source_oterm()->get_my_node())) return false;
  }
  for (unsigned o = 0; o < sgate->get_output_count(); ++o) {
    CDB_SGATE_OTERM* out = sgate->get_output_term(o);
    if (!out || !out->has_fanout()) continue;
    if (!kavu_is_a_protect_buffer(out->get_first_fanout()->get_my_node())) return false;
  }
  kavu_debug("Node %s %s %s is considered part of a state machine", sgate->get_string_type_name(),
             sgate->get_debug_name().c_str(), sgate->get_string_hpath().c_str());
  return true;
}

void kavu_fill_subnet_vec(CDB_SGATE_NETLIST* netlist, std::vector<CDB_SGATE_NODE*>& subnet,
                          CDB_SGATE_HIERARCHY* hierarchy) {
  KAVU_CHECK(netlist);
  std::unordered_set<CDB_SGATE_NODE*> machine;
  if (hierarchy) {
    std::vector<CDB_SGATE_NODE*> gates;
    rtl_collect_state_machine_gates(hierarchy, &gates);
    machine.insert(gates.begin(), gates.end());
  }
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* n = *it;
    if (!n || machine.count(n)) continue;
    bool enter = false;
    switch (n->get_sgate_type()) {
      case CDB_SGATE_BUFFER_ENUM:
        enter = n->cast_to_buffer()->get_buffer_type() != CDB_BUFFER_PROTECT;
        break;
      case CDB_SGATE_COMB_ENUM: case CDB_SGATE_LUT_ENUM: case CDB_SGATE_MUX_ENUM: case CDB_SGATE_LATCH_ENUM:
        enter = true;
        break;
      case CDB_SGATE_DFF_ENUM:
        enter = cfg_is_on("wl_enable_dffs", true);
        break;
      case CDB_SGATE_COMPONENT_ENUM:
        enter = cfg_is_on("wl_enable_components", false);
        break;
      case CDB_SGATE_SYNCHRONOUS_RAM_ENUM:
        enter = cfg_is_on("wl_enable_rams", false);
        break;
      case CDB_SGATE_OPERATOR_ENUM: {
        CDB_OPER_TYPE t = n->cast_to_operator()->get_type();
        switch (t) {
          case CDB_OPER_ADDITION: case CDB_OPER_MULTIPLY: case CDB_OPER_ADDSUB:
            enter = cfg_is_on("wl_enable_arithmetic_operators", true);
            break;
          case CDB_OPER_DIVIDE: case CDB_OPER_MODULO: case CDB_OPER_EQUAL:
            enter = false;
            break;
          case CDB_OPER_COMPARE: case CDB_OPER_DECODE: case CDB_OPER_BUS_IN: case CDB_OPER_BUS_OUT:
            enter = true;
            break;
          case CDB_OPER_NTO1_MUX: case CDB_OPER_SELECT:
            enter = true;
            break;
          case CDB_OPER_LEFT_SHIFT: case CDB_OPER_RIGHT_SHIFT: case CDB_OPER_LEFT_ROTATE:
          case CDB_OPER_RIGHT_ROTATE:
            enter = true;
            break;
          default:
            if (int(t) > 23)
              MSG_INTERNAL_ERROR::report(("Forgot to handle operator of type " + std::string(n->get_string_type_name())).c_str(),
                                         "KAVU", KAVU_CHECK_SOURCE, __LINE__);
            MSG_INTERNAL_ERROR::report(("Wasn't expecting operator of type " + std::string(n->get_string_type_name())).c_str(),
                                       "KAVU", KAVU_CHECK_SOURCE, __LINE__);
        }
        break;
      }
      default:
        if (CDB_SGATE_WYSIWYG* w = n->cast_to_wysiwyg()) {
          if (w->is_ff())
            enter = cfg_is_on("wl_enable_dffs", true);
          else
            enter = cfg_is_on("wl_enable_wysiwygs", false) && n->get_sgate_type() == CDB_SGATE_WYSIWYG_GENERIC_ENUM;
        }
        break;
    }
    if (!enter || kavu_is_state_machine_node(n)) continue;
    subnet.push_back(n);
    n->get_flag().set(KAVU_WL_SUBNET_MARK);
  }
}

// ---------------------------------------------------------------- small maps

int kavu_get_wl_buffer_type(CDB_BUFFER_TYPE type) {
  if (type <= 2) KAVU_INTERNAL_ERROR("Unexpected buffer type");
  if (type > 17) KAVU_INTERNAL_ERROR("Didn't know this buffer type");
  return int(type) - 3;
}

CDB_BUFFER_TYPE kavu_get_sgate_buffer_type(int wl_buffer_type) {
  if (wl_buffer_type < 0 || wl_buffer_type > 14) KAVU_INTERNAL_ERROR("Didn't know this buffer type");
  return CDB_BUFFER_TYPE(wl_buffer_type + 3);
}

DB_INPUT_PORT_TYPE kavu_get_ram_iport_type(int, unsigned index) {
  static const unsigned table[20] = {20, 95, 34, 102, 173, 174, 37, 104, 38, 105,
                                     35, 96, 39, 98,  36,  97,  42, 101, 40, 99};
  KAVU_CHECK(index < 20);
  return DB_INPUT_PORT_TYPE(table[index]);
}

DB_OUTPUT_PORT_TYPE kavu_get_ram_oport_type(int, unsigned index) {
  KAVU_CHECK(index < 2);
  return DB_OUTPUT_PORT_TYPE(index == 0 ? 3 : 42);
}

bool kavu_is_wl_lut_of_type_0(WL_NODE* wl_node) {
  return wl_node && wl_node->get_node_type() == WL_NODE_TYPE::LUT && wl_node->cast_to_lut()->get_lut_type() == 0;
}
bool kavu_is_wl_lut_of_type_1(WL_NODE* wl_node) {
  return wl_node && wl_node->get_node_type() == WL_NODE_TYPE::LUT && wl_node->cast_to_lut()->get_lut_type() == 1;
}

CDB_SGATE_NODE* kavu_get_io_sgate_of_wl_node(WL_NODE* wl_node) {
  auto& wl_sgate_hash = kavu_wl_io_hash();
  auto iter = wl_sgate_hash.find(wl_node);
  KAVU_CHECK(iter != wl_sgate_hash.end());
  return iter->second;
}

// ---------------------------------------------------------------- names

void kavu_copy_names_to_wl_node(CDB_SGATE_NODE* sgate, WL_NODE* wl_node) {
  KAVU_CHECK(sgate && wl_node);
  wl_node->set_instance_name(sgate->get_instance_name());
  for (unsigned o = 0; o < wl_node->get_output_count(); ++o)
    if (o > 0 || sgate->has_temporary_name()) wl_node->get_oterm(o)->set_has_temporary_name(true);
  WL_DFF* dff = wl_node->cast_to_dff();
  if (!wl_use_ff_bit_names || !dff || wl_node->get_first_oterm()->width() <= 1) return;
  const unsigned id = unsigned(sgate->get_instance_name_id());
  for (unsigned i = 0; i < wl_node->get_first_oterm()->width(); ++i) {
    HDB_INSTANCE_NAME* orig_name = kavu_get_bus_bit_name(id, i);
    KAVU_CHECK(orig_name != nullptr);
    dff->set_bit_instance_name(i, orig_name);
    dff->set_bit_has_temporary_name(i, kavu_get_bus_bit_name_is_temporary(id, i));
  }
}

void kavu_name_sgate_from_wl_node(WL_NODE* wl_node, CDB_SGATE_NODE* sgate, unsigned bit) {
  KAVU_CHECK(wl_node && sgate);
  CDB_SGATE_OTERM* out = sgate->get_single_oterm();
  if (wl_use_ff_bit_names && (sgate->get_sgate_type() == CDB_SGATE_DFF_ENUM || kavu_is_a_wys_ff(sgate)) &&
      wl_node->get_first_oterm()->width() > 1) {
    KAVU_CHECK(wl_is_dff(wl_node));
    WL_DFF* dff = wl_node->cast_to_dff();
    HDB_INSTANCE_NAME* n = dff->get_bit_instance_name(bit);
    if (n) {
      sgate->set_instance_name(n);
      if (out) {
        out->set_instance_name(n);
        if (dff->bit_has_temporary_name(bit)) out->set_synthesized_name(n);
      }
      return;
    }
  }
  HDB_INSTANCE_NAME* name = wl_node->get_instance_name();
  if (kavu_should_record_real_name(sgate) && name && wl_node->get_first_oterm()->width() > 1) {
    const unsigned id = unsigned(name->get_id());
    HDB_INSTANCE_NAME* rec = kavu_get_bus_bit_name(id, bit);
    if (rec) {
      sgate->set_instance_name(rec);
      if (out) {
        out->set_instance_name(rec);
        if (kavu_get_bus_bit_name_is_temporary(id, bit)) out->set_synthesized_name(rec);
      }
      return;
    }
  }
  if (wl_node->get_node_type() == WL_NODE_TYPE::WYSIWYG || !name) return;
  if (bit == 0) {
    sgate->set_instance_name(name);
    for (unsigned o = 0; o < sgate->get_output_count(); ++o) {
      CDB_SGATE_OTERM* t = sgate->get_output_term(o);
      if (!t) continue;
      t->set_instance_name(name);
      if (o > 0 || wl_node->get_first_oterm()->has_temporary_name()) t->set_synthesized_name(name);
    }
    sgate->set_has_temporary_name(wl_node->get_first_oterm()->has_temporary_name());
  } else {
    kavu_create_synthesized_name(sgate, name, "clone");
  }
}

// ---------------------------------------------------------------- RAMs

unsigned kavu_ram_input_width(CDB_SGATE_SYNCHRONOUS_RAM* ram, unsigned index) {
  // The port-B clock is stored as 96 and found under 36 as well: word-level
  // input 14 (36) would read input 11's (96) terminals a second time.
  if (index == 14) return 0;
  const DB_INPUT_PORT_TYPE type = kavu_get_ram_iport_type(0, index);
  unsigned w = 0;
  while (ram->get_iterm_by_type(type, w)) ++w;
  return w;
}

// ---------------------------------------------------------------- components

bool kavu_split_component_port_name(const std::string& name, std::string* base, unsigned* bit) {
  const size_t open = name.rfind('[');
  if (open == std::string::npos) {
    *base = name;
    *bit = 0;
    return false;
  }
  // The last "[n]" is the bit: "a[3][2]" is bit 2 of the port "a[3]".
  const std::string digits = name.substr(open + 1, name.size() - open - 2);
  bool number = !digits.empty() && name.back() == ']';
  for (char ch : digits) number = number && ch >= '0' && ch <= '9';
  if (!number) KAVU_INTERNAL_ERROR("Component port bit index is not a number");
  *base = name.substr(0, open);
  *bit = unsigned(std::stoul(digits));
  return true;
}

CDB_SGATE_ITERM* kavu_component_bit_iterm(CDB_SGATE_COMPONENT* comp, const std::string& base, bool is_bus, unsigned b) {
  if (is_bus)
    if (CDB_SGATE_COMPONENT_PORT_ENTRY* e = comp->find_port((base + "[" + std::to_string(b) + "]").c_str()))
      return e->get_iterm(0);
  CDB_SGATE_COMPONENT_PORT_ENTRY* e = comp->find_port(base.c_str());
  return e ? e->get_iterm(b) : nullptr;
}

CDB_SGATE_OTERM* kavu_component_bit_oterm(CDB_SGATE_COMPONENT* comp, const std::string& base, bool is_bus, unsigned b) {
  if (is_bus)
    if (CDB_SGATE_COMPONENT_PORT_ENTRY* e = comp->find_port((base + "[" + std::to_string(b) + "]").c_str()))
      return e->get_oterm(0);
  CDB_SGATE_COMPONENT_PORT_ENTRY* e = comp->find_port(base.c_str());
  return e ? e->get_oterm(b) : nullptr;
}

namespace {

WL_NODE* create_wl_component(CDB_SGATE_COMPONENT* component, HDB_INSTANCE_NAME* name) {
  KAVU_CHECK(component->get_child_netlist() == NULL);
  struct PORT {
    std::string base;
    int dir;
    unsigned width;
    bool is_bus;
  };
  std::vector<PORT> ports;
  unsigned inputs = 0, outputs = 0;
  for (auto it = component->begin_const_port_entry_table(); it != component->end_const_port_entry_table(); ++it) {
    const CDB_SGATE_COMPONENT_PORT_ENTRY* e = *it;
    std::string base;
    unsigned bit = 0;
    const bool indexed = kavu_split_component_port_name(e->get_name(), &base, &bit);
    const unsigned width = indexed ? bit + 1 : e->get_width();
    auto f = std::find_if(ports.begin(), ports.end(), [&](const PORT& p) { return p.base == base; });
    if (f == ports.end()) {
      ports.push_back(PORT{base, e->get_dir(), width, indexed || e->get_width() > 1});
      (e->get_dir() == CDB_COMPONENT_PORT_INPUT ? inputs : outputs)++;
    } else {
      f->width = std::max(f->width, width);
    }
  }
  WL_COMPONENT* c = new WL_COMPONENT(inputs, outputs, component->is_port_prototype_known(), name);
  for (const PORT& p : ports) {
    if (p.dir == CDB_COMPONENT_PORT_INPUT)
      c->create_iterm(p.base, p.width, p.is_bus);
    else
      c->create_oterm(p.base, p.width, p.is_bus);
  }
  for (auto it = component->begin_const_parameter_table(); it != component->end_const_parameter_table(); ++it)
    if (it->get_name()) c->set_parameter(it->get_name(), it->get_value() ? it->get_value() : "", it->get_type());
  c->set_component_type_name(component->get_function_name());
  c->set_library_name(component->get_library_name());
  c->set_architecture_name(component->get_architecture_name());
  c->set_option_byte(component->get_option_byte());
  return c;
}

}  // namespace

// ---------------------------------------------------------------- nodes

namespace {

unsigned node_width(CDB_SGATE_NODE* sgate, const KAVU_OTERM_WIDTHS& widths) {
  CDB_SGATE_OTERM* o = sgate->get_single_oterm();
  return o ? kavu_get_oterm_width(o, widths) : 1;
}

bool is_bus_in_only_reader(CDB_SGATE_NODE* bus_out) {
  for (unsigned o = 0; o < bus_out->get_output_count(); ++o) {
    CDB_SGATE_OTERM* t = bus_out->get_output_term(o);
    if (!t) continue;
    for (CDB_SGATE_ITERM* f : t->fanouts())
      if (!kavu_is_a_bus_in_op(f->get_my_node())) return false;
  }
  return true;
}

// The merger inputs of a bus-in: one per bus-out feeding it (shared by all
// its bits), one per other bit. `input_of[i]` is bit i's input; `bus_out_of`
// the bus-out gate of an input (null for a plain bit).
struct BUS_IN_LAYOUT {
  std::vector<unsigned> input_of;
  std::vector<CDB_SGATE_NODE*> bus_out_of;
  std::vector<CDB_SGATE_ITERM*> first_iterm;  // a gate input per merger input
};

BUS_IN_LAYOUT bus_in_layout(CDB_SGATE_OPERATOR* op) {
  BUS_IN_LAYOUT l;
  std::unordered_map<unsigned, unsigned> by_bus_out;
  const unsigned w = op->get_width(CDB_OPER_PORT_A);
  for (unsigned i = 0; i < w; ++i) {
    CDB_SGATE_ITERM* iterm = op->get_iterm(CDB_OPER_PORT_A, i);
    KAVU_CHECK(cdb_is_connected(iterm));
    CDB_SGATE_OTERM* src = iterm->get_source_oterm();
    CDB_SGATE_NODE* feeder = src ? src->get_my_node() : nullptr;
    if (feeder && kavu_is_a_bus_out_op(feeder)) {
      auto it = by_bus_out.find(feeder->get_id());
      if (it != by_bus_out.end()) {
        l.input_of.push_back(it->second);
        continue;
      }
      by_bus_out[feeder->get_id()] = unsigned(l.bus_out_of.size());
      l.input_of.push_back(unsigned(l.bus_out_of.size()));
      l.bus_out_of.push_back(feeder);
      l.first_iterm.push_back(iterm);
      continue;
    }
    l.input_of.push_back(unsigned(l.bus_out_of.size()));
    l.bus_out_of.push_back(nullptr);
    l.first_iterm.push_back(iterm);
  }
  return l;
}

WL_NODE* create_merger_for_bus_in(CDB_SGATE_OPERATOR* op, unsigned width, const KAVU_OTERM_WIDTHS& widths,
                                  KAVU_OTERM_INDEX_CACHE* cache) {
  BUS_IN_LAYOUT l = bus_in_layout(op);
  WL_MERGER* m = new WL_MERGER(width, unsigned(l.bus_out_of.size()));
  for (unsigned k = 0; k < l.bus_out_of.size(); ++k) {
    CDB_SGATE_NODE* bus_out = l.bus_out_of[k];
    if (bus_out)
      m->get_iterm(k)->set_width(kavu_get_iterm_width(bus_out->get_single_iterm(), widths));
    else
      m->get_iterm(k)->set_width(kavu_get_iterm_width(l.first_iterm[k], widths));
  }
  for (unsigned i = 0; i < l.input_of.size(); ++i) {
    CDB_SGATE_ITERM* iterm = op->get_iterm(CDB_OPER_PORT_A, i);
    const unsigned k = l.input_of[i];
    if (l.bus_out_of[k]) {
      CDB_SGATE_OTERM* src = iterm->get_source_oterm();
      const bool inverted = iterm->is_inverted() != src->is_inverted();
      m->register_entry(k, kavu_get_oterm_index(cache, src), inverted, i);
    } else {
      m->register_entry(k, 0, false, i);
    }
  }
  return m;
}

unsigned port_width(CDB_SGATE_OPERATOR* op, CDB_OPER_PORT_TYPE p) { return op->get_width(p); }

}  // namespace

WL_NODE* kavu_create_wl_node(CDB_SGATE_NODE* sgate, const KAVU_OTERM_WIDTHS& widths, WL_NETLIST* wl_netlist,
                             KAVU_OTERM_INDEX_CACHE* cache) {
  KAVU_CHECK(sgate && wl_netlist);
  const unsigned width = node_width(sgate, widths);
  HDB_INSTANCE_NAME* name = sgate->get_instance_name();
  WL_NODE* node = nullptr;
  switch (sgate->get_sgate_type()) {
    case CDB_SGATE_BUFFER_ENUM:
      node = new WL_BUFFER(kavu_get_wl_buffer_type(sgate->cast_to_buffer()->get_buffer_type()), width, name);
      break;
    case CDB_SGATE_COMB_ENUM:
      node = new WL_COMB(sgate->cast_to_comb()->get_comb_type(), width, name);
      break;
    case CDB_SGATE_DFF_ENUM: {
      CDB_SGATE_DFF* d = sgate->cast_to_dff();
      WL_DFF* w = new WL_DFF(width, name);
      w->set_power_up(d->powers_up_high() ? wl_all_ones(width) : WL_CONST(0));
      w->set_status_bits(0, WL_DFF_R0_POWER_UP_DC, d->is_power_up_dc());
      w->set_status_bits(0, WL_DFF_R0_EXPLICIT_POWER_UP, d->has_power_up_setting());
      if (d->preserve_is_set()) w->set_preserve(d->preserve());
      if (d->merge_allowed_is_set()) w->set_merge_allowed(d->merge_allowed());
      if (d->prune_allowed_is_set()) w->set_prune_allowed(d->prune_allowed());
      w->set_not_gate_push_allowed(d->not_gate_push_allowed());
      w->set_status_bits(2, WL_DFF_R2_SCLR_OVER_ENA, d->sclr_over_ena_priority());
      w->set_status_bits(2, WL_DFF_R2_USER_CLOCK_ENA, d->is_user_clock_enable());
      node = w;
      break;
    }
    case CDB_SGATE_IO_ENUM:
      node = new WL_PIN(int(sgate->cast_to_io()->get_io_type()), width, name);
      break;
    case CDB_SGATE_LUT_ENUM: {
      WL_LUT* l = new WL_LUT(0, sgate->cast_to_lut()->get_lut_mask(), width, name);
      l->set_option_byte(0, sgate->get_flag_byte(CDB_KIND_BYTE));
      l->set_option_byte(1, sgate->get_flag_byte(CDB_MISC_BYTE) & 0x03);
      node = l;
      break;
    }
    case CDB_SGATE_MUX_ENUM:
      node = new WL_MUX21(width, name);
      break;
    case CDB_SGATE_LATCH_ENUM: {
      WL_LATCH* l = new WL_LATCH(width, name);
      l->set_options(sgate->get_flag_byte(CDB_KIND_BYTE) & 0x03);
      node = l;
      break;
    }
    case CDB_SGATE_OPERATOR_ENUM: {
      CDB_SGATE_OPERATOR* op = sgate->cast_to_operator();
      const bool mode = op->get_attribute() != 0;
      switch (op->get_type()) {
        case CDB_OPER_ADDITION: {
          const unsigned width_a = port_width(op, CDB_OPER_PORT_A), width_b = port_width(op, CDB_OPER_PORT_B);
          KAVU_CHECK(width_a == width_b);
          node = new WL_ADDER(mode, width_a, name);
          break;
        }
        case CDB_OPER_MULTIPLY: {
          WL_MULTIPLIER* m = new WL_MULTIPLIER(mode, port_width(op, CDB_OPER_PORT_A), port_width(op, CDB_OPER_PORT_B), name);
          m->set_mode_byte2(op->get_mode2());
          node = m;
          break;
        }
        case CDB_OPER_COMPARE: {
          const unsigned width_a = port_width(op, CDB_OPER_PORT_A), width_b = port_width(op, CDB_OPER_PORT_B);
          KAVU_CHECK(width_a == width_b);
          node = new WL_LESS_THAN(width_a, name);
          break;
        }
        case CDB_OPER_ADDSUB:
          node = new WL_ADDSUB(mode, port_width(op, CDB_OPER_PORT_A), port_width(op, CDB_OPER_PORT_B), name);
          break;
        case CDB_OPER_NTO1_MUX: {
          // A mux of k output bits picks word s of k bits from its data: the
          // word-level mux has |B| / k data inputs of k bits each. A one-bit
          // mux keeps the node width (a whole bus in bus form).
          const unsigned k = port_width(op, CDB_OPER_PORT_O);
          if (k <= 1) {
            node = new WL_MUX(port_width(op, CDB_OPER_PORT_B), port_width(op, CDB_OPER_PORT_A), width, name);
          } else {
            KAVU_CHECK(width == 1);
            node = new WL_MUX(port_width(op, CDB_OPER_PORT_B) / k, port_width(op, CDB_OPER_PORT_A), k, name);
          }
          break;
        }
        case CDB_OPER_SELECT: {
          // A selector of k output bits: select i enables data word i of k bits.
          const unsigned k = port_width(op, CDB_OPER_PORT_O);
          if (k <= 1) {
            KAVU_CHECK(port_width(op, CDB_OPER_PORT_A) == port_width(op, CDB_OPER_PORT_B));
            node = new WL_SELECTOR(port_width(op, CDB_OPER_PORT_A), width, name);
          } else {
            KAVU_CHECK(width == 1);
            KAVU_CHECK(port_width(op, CDB_OPER_PORT_A) * k == port_width(op, CDB_OPER_PORT_B));
            node = new WL_SELECTOR(port_width(op, CDB_OPER_PORT_A), k, name);
          }
          break;
        }
        case CDB_OPER_DECODE:
          node = new WL_DECODER(port_width(op, CDB_OPER_PORT_A), port_width(op, CDB_OPER_PORT_O), name);
          break;
        case CDB_OPER_LEFT_SHIFT: case CDB_OPER_RIGHT_SHIFT:
          node = new WL_SHIFTER(op->get_type() == CDB_OPER_RIGHT_SHIFT ? 1 : 0, port_width(op, CDB_OPER_PORT_A),
                                port_width(op, CDB_OPER_PORT_SHIFT), width, name);
          break;
        case CDB_OPER_LEFT_ROTATE: case CDB_OPER_RIGHT_ROTATE:
          node = new WL_ROTATOR(op->get_type() == CDB_OPER_RIGHT_ROTATE ? 1 : 0, port_width(op, CDB_OPER_PORT_A),
                                port_width(op, CDB_OPER_PORT_SHIFT), width, name);
          break;
        case CDB_OPER_BUS_IN:
          node = create_merger_for_bus_in(op, width, widths, cache);
          break;
        case CDB_OPER_BUS_OUT: {
          const unsigned iterm_width = kavu_get_iterm_width(sgate->get_single_iterm(), widths);
          if (iterm_width != sgate->get_output_count()) KAVU_INTERNAL_ERROR("iterm_width == node->get_output_count()");
          if (is_bus_in_only_reader(sgate)) return nullptr;
          node = new WL_SPLITTER(iterm_width);
          break;
        }
        default:
          KAVU_INTERNAL_ERROR("Node type not supported in WL");
      }
      if (node) node->set_signed_byte(op->get_signed_byte());
      break;
    }
    case CDB_SGATE_COMPONENT_ENUM:
      node = create_wl_component(sgate->cast_to_component(), name);
      break;
    case CDB_SGATE_SYNCHRONOUS_RAM_ENUM: {
      CDB_SGATE_SYNCHRONOUS_RAM* ram = sgate->cast_to_synchronous_ram();
      int sizes[WL_SYNCHRONOUS_RAM::kNumSizeParameters];
      for (unsigned i = 0; i < WL_SYNCHRONOUS_RAM::kNumSizeParameters; ++i) sizes[i] = ram->get_size_parameter(i);
      unsigned in_w[WL_SYNCHRONOUS_RAM::kNumInputs], out_w[WL_SYNCHRONOUS_RAM::kNumOutputs];
      for (unsigned i = 0; i < WL_SYNCHRONOUS_RAM::kNumInputs; ++i) in_w[i] = kavu_ram_input_width(ram, i);
      for (unsigned i = 0; i < WL_SYNCHRONOUS_RAM::kNumOutputs; ++i) {
        out_w[i] = 0;
        while (ram->get_oterm_by_type(kavu_get_ram_oport_type(0, i), out_w[i])) ++out_w[i];
      }
      WL_SYNCHRONOUS_RAM* w = new WL_SYNCHRONOUS_RAM(sizes, in_w, out_w, name);
      w->set_mode_word(0, ram->get_mode_word(0));
      w->set_mode_word(1, ram->get_mode_word(1));
      w->set_mode_byte(ram->get_mode_byte());
      for (unsigned i = 0; i < WL_SYNCHRONOUS_RAM::kNumPortModes; ++i)
        w->set_port_mode_byte(i, ram->get_port_mode_byte(i));
      w->set_option_bits(ram->get_option_bits());
      if (ram->get_mif_file()) w->set_mif_file(ram->get_mif_file());
      w->set_last_word(ram->get_last_word());
      node = w;
      break;
    }
    default:
      if (CDB_SGATE_WYSIWYG* atom = sgate->cast_to_wysiwyg()) {
        node = new WL_WYSIWYG(atom, wl_netlist, name);
        break;
      }
      KAVU_INTERNAL_ERROR("Node type not supported in WL");
  }
  kavu_copy_names_to_wl_node(sgate, node);
  const unsigned id = sgate->get_id();
  node->set_id(id);
  if (WL_NODE::s_id_counter <= id) WL_NODE::s_id_counter = id + 1;
  uint8_t kff = 0;
  if (sgate->kff_requested()) {
    kff |= 0x01;
    const bool was_read = sgate->kff_read();
    if (!was_read) cdb_sgate_set_keep_fanout_free_flags_from_assignments(sgate);
    if (sgate->kff_in_force() || !sgate->kff_read()) kff |= 0x02;
  }
  node->set_kff_byte(kff);
  wl_netlist->add_node(node);
  return node;
}

// ---------------------------------------------------------------- connection

unsigned kavu_get_oterm_index(KAVU_OTERM_INDEX_CACHE* cache, CDB_SGATE_OTERM* oterm) {
  KAVU_CHECK(oterm);
  CDB_SGATE_NODE* node = oterm->get_my_node();
  unsigned index;
  if (node->get_output_count() >= 10 && cache) {
    auto it = cache->find(oterm);
    if (it == cache->end()) {
      for (unsigned o = 0; o < node->get_output_count(); ++o)
        if (node->get_output_term(o)) (*cache)[node->get_output_term(o)] = o;
      it = cache->find(oterm);
      KAVU_CHECK(it != cache->end());
    }
    index = it->second;
  } else {
    index = 0;
    while (index < node->get_output_count() && node->get_output_term(index) != oterm) ++index;
  }
  KAVU_CHECK(node->get_output_term(index) == oterm);
  return index;
}

WL_OTERM* kavu_get_wl_source_oterm(CDB_SGATE_OTERM* oterm, KAVU_SGATE_WL_HASH& sgate_wl_hash,
                                   KAVU_OTERM_INDEX_CACHE* cache) {
  CDB_SGATE_NODE* node = oterm->get_my_node();
  auto iter = sgate_wl_hash.find(node);
  KAVU_CHECK(iter != sgate_wl_hash.end());
  WL_NODE* wl_src_node = iter->second;
  const unsigned index = kavu_get_oterm_index(cache, oterm);
  if (CDB_SGATE_OPERATOR* op = node->cast_to_operator()) {
    switch (op->get_type()) {
      case CDB_OPER_ADDITION: case CDB_OPER_MULTIPLY: case CDB_OPER_COMPARE: case CDB_OPER_ADDSUB:
        return wl_src_node->get_oterm(op->get_oterm(CDB_OPER_PORT_COUT, 0) == oterm ? 1 : 0);
      case CDB_OPER_NTO1_MUX: case CDB_OPER_SELECT:
        // Every output bit of a mux or selector is a bit of its one output.
        return wl_src_node->get_first_oterm();
      case CDB_OPER_BUS_IN: case CDB_OPER_BUS_OUT:
        return wl_src_node->get_oterm(index);
      case CDB_OPER_DECODE: case CDB_OPER_LEFT_SHIFT: case CDB_OPER_RIGHT_SHIFT: case CDB_OPER_LEFT_ROTATE:
      case CDB_OPER_RIGHT_ROTATE: {
        CDB_SGATE_OPER_PORT_ENTRY* port = nullptr;
        int bit = 0;
        kavu_get_oterm_port_and_index(oterm, &port, &bit);
        KAVU_CHECK(port != 0);
        return wl_src_node->get_oterm(unsigned(bit));
      }
      default:
        KAVU_INTERNAL_ERROR("Unknown operator");
    }
  }
  if (CDB_SGATE_COMPONENT* comp = node->cast_to_component()) {
    KAVU_CHECK(wl_src_node->get_node_type() == WL_NODE_TYPE::COMPONENT);
    for (auto it = comp->begin_const_port_entry_table(); it != comp->end_const_port_entry_table(); ++it)
      for (unsigned b = 0; b < (*it)->get_width(); ++b)
        if ((*it)->get_oterm(b) == oterm) {
          std::string base;
          unsigned bit = 0;
          kavu_split_component_port_name((*it)->get_name(), &base, &bit);
          return wl_src_node->cast_to_component()->get_oterm_by_name(base);
        }
    KAVU_INTERNAL_ERROR("Oterm is not found in the component");
  }
  if (node->get_sgate_type() == CDB_SGATE_SYNCHRONOUS_RAM_ENUM) {
    KAVU_CHECK(wl_src_node->get_node_type() == WL_NODE_TYPE::SYNCHRONOUS_RAM);
    return wl_src_node->get_oterm(oterm->get_port_type() == DB_OUTPUT_PORT_TYPE(3) ? 0 : 1);
  }
  if (CDB_SGATE_WYSIWYG* w = node->cast_to_wysiwyg()) {
    (void)w;
    KAVU_CHECK(wl_src_node->get_node_type() == WL_NODE_TYPE::WYSIWYG);
    return wl_src_node->get_oterm(wl_src_node->cast_to_wysiwyg()->get_oterm_index(oterm->get_port_type()));
  }
  return wl_src_node->get_oterm(index);
}

void kavu_connect_wl_iterm_to_source(WL_ITERM* wl_iterm, CDB_SGATE_OTERM* src, bool inverted,
                                     KAVU_SGATE_WL_HASH& sgate_wl_hash, KAVU_OTERM_INDEX_CACHE* cache) {
  KAVU_CHECK(wl_iterm);
  if (!src) {
    // A constant: VCC, then the inversion (GND folds into the value).
    wl_iterm->set_vcc();
    if (inverted) wl_iterm->invert();
    return;
  }
  const bool inv = inverted != src->is_inverted();
  WL_OTERM* wl_src = kavu_get_wl_source_oterm(src, sgate_wl_hash, cache);
  KAVU_CHECK(wl_src);
  if (wl_src->width() == wl_iterm->width()) {
    wl_iterm->connect(wl_src, inv);
    return;
  }
  if (wl_iterm->width() == 1) {
    CDB_SGATE_NODE* gate = src->get_my_node();
    unsigned bit = 0;
    if (gate->get_sgate_type() == CDB_SGATE_OPERATOR_ENUM) {
      CDB_SGATE_OPER_PORT_ENTRY* port = nullptr;
      int index = 0;
      kavu_get_oterm_port_and_index(src, &port, &index);
      bit = unsigned(index);
    } else if (gate->cast_to_wysiwyg() || gate->get_sgate_type() == CDB_SGATE_SYNCHRONOUS_RAM_ENUM) {
      bit = src->get_literal_index();
    } else if (CDB_SGATE_COMPONENT* comp = gate->cast_to_component()) {
      const CDB_SGATE_COMPONENT_PORT_ENTRY* entry = nullptr;
      unsigned pos = 0;
      for (auto it = comp->begin_const_port_entry_table(); !entry && it != comp->end_const_port_entry_table(); ++it)
        for (unsigned b = 0; b < (*it)->get_width(); ++b)
          if ((*it)->get_oterm(b) == src) {
            entry = *it;
            pos = b;
          }
      KAVU_CHECK(entry != nullptr);
      std::string base;
      bit = kavu_split_component_port_name(entry->get_name(), &base, &bit) ? bit : pos;
    } else {
      KAVU_INTERNAL_ERROR("Unexpected sgate type");
    }
    WL_MERGER* m = new WL_MERGER(1, 1);
    wl_iterm->get_my_node()->get_netlist()->add_node(m);
    m->get_iterm(0)->set_width(wl_src->width());
    m->get_iterm(0)->connect(wl_src, inv);
    m->register_entry(0, bit, false, 0);
    wl_iterm->connect(m->get_first_oterm(), false);
    return;
  }
  WL_NODE* in_node = wl_iterm->get_my_node();
  kavu_debug("ID=%d IWIDTH=%d OWIDTH=%d", int(in_node->get_id()), int(wl_iterm->width()), int(wl_src->width()));
  kavu_debug("Iterm node %s %d index %d, oterm node %s %d, index %d, SGATE oterm from node %s",
             wl_get_string_hpath(in_node).c_str(), int(in_node->get_id()), int(wl_iterm->get_index()),
             wl_get_string_hpath(wl_src->get_my_node()).c_str(), int(wl_src->get_my_node()->get_id()),
             int(wl_src->get_index()), src->get_my_node()->get_debug_name().c_str());
  KAVU_INTERNAL_ERROR("Assignment of buses with different widths is not supported yet");
}

void kavu_connect_wl_iterm(WL_ITERM* wl_iterm, CDB_SGATE_ITERM* iterm, KAVU_SGATE_WL_HASH& sgate_wl_hash,
                           KAVU_OTERM_INDEX_CACHE* cache) {
  if (!iterm || !cdb_is_connected(iterm)) return;
  kavu_connect_wl_iterm_to_source(wl_iterm, iterm->get_source_oterm(), iterm->is_inverted(), sgate_wl_hash, cache);
}

bool kavu_port_is_whole_source_port(CDB_SGATE_OPER_PORT_ENTRY* port) {
  CDB_SGATE_ITERM* first_iterm = port->get_iterm(0);
  KAVU_CHECK(cdb_is_connected(first_iterm));
  CDB_SGATE_OTERM* src = first_iterm->get_source_oterm();
  if (!src || src->get_my_node()->get_sgate_type() != CDB_SGATE_OPERATOR_ENUM) return port->get_width() == 1;
  CDB_SGATE_OPER_PORT_ENTRY* src_port = nullptr;
  int index = -1;
  kavu_get_oterm_port_and_index(src, &src_port, &index);
  if (!src_port || index != 0 || src_port->get_width() != port->get_width()) return false;
  // An output port's width counts its output bits.
  for (unsigned i = 0; i < port->get_width(); ++i) {
    CDB_SGATE_ITERM* t = port->get_iterm(i);
    if (!t || !t->get_source_oterm() || t->get_source_oterm() != src_port->get_oterm(i)) return false;
    if (t->is_inverted() != first_iterm->is_inverted()) return false;
  }
  return true;
}

CDB_OPER_PORT_TYPE kavu_get_operator_port_for_wl_input(WL_NODE* wl_node, unsigned input) {
  switch (wl_node->get_node_type()) {
    case WL_NODE_TYPE::ADDER:
      if (input > 2) KAVU_INTERNAL_ERROR("Adder word-level input port type is not supported");
      return input == 0 ? CDB_OPER_PORT_A : input == 1 ? CDB_OPER_PORT_B : CDB_OPER_PORT_CIN;
    case WL_NODE_TYPE::ADDSUB:
      if (input > 2) KAVU_INTERNAL_ERROR("Add-sub word-level input port type is not supported");
      return input == 0 ? CDB_OPER_PORT_A : input == 1 ? CDB_OPER_PORT_B : CDB_OPER_PORT_ADD_NOT_SUB;
    case WL_NODE_TYPE::MULT:
      if (input > 1) KAVU_INTERNAL_ERROR("Multiplier word-level input port type is not supported");
      return input == 0 ? CDB_OPER_PORT_A : CDB_OPER_PORT_B;
    case WL_NODE_TYPE::LESS_THAN:
      if (input > 2) KAVU_INTERNAL_ERROR("Less-than word-level input port type is not supported");
      return input == 0 ? CDB_OPER_PORT_A : input == 1 ? CDB_OPER_PORT_B : CDB_OPER_PORT_CIN;
    default:
      KAVU_INTERNAL_ERROR("Word-level operator type is not supported");
  }
  return CDB_OPER_PORT_A;
}

namespace {

// An operator port onto a word-level input of width w.
void connect_port(WL_ITERM* wl_iterm, CDB_SGATE_OPER_PORT_ENTRY* port, KAVU_SGATE_WL_HASH& hash,
                  KAVU_OTERM_INDEX_CACHE* cache) {
  if (!port || port->get_width() == 0) {
    wl_iterm->set_gnd();
    return;
  }
  if (port->get_width() == 1) {
    kavu_connect_wl_iterm(wl_iterm, port->get_iterm(0), hash, cache);
    return;
  }
  const unsigned w = wl_iterm->width();
  if (cdb_is_connected(port->get_iterm(0)) && kavu_port_is_whole_source_port(port)) {
    CDB_SGATE_ITERM* first = port->get_iterm(0);
    WL_OTERM* src = kavu_get_wl_source_oterm(first->get_source_oterm(), hash, cache);
    if (src->width() == w) {
      // The ports' common inversion goes along.
      wl_iterm->connect(src, first->is_inverted() != first->get_source_oterm()->is_inverted());
      return;
    }
  }
  WL_MERGER* m = new WL_MERGER(w, w);
  wl_iterm->get_my_node()->get_netlist()->add_node(m);
  for (unsigned b = 0; b < w; ++b) {
    m->register_entry(b, 0, false, b);
    CDB_SGATE_ITERM* t = port->get_iterm(b);
    if (t && cdb_is_connected(t))
      kavu_connect_wl_iterm(m->get_iterm(b), t, hash, cache);
    else
      m->get_iterm(b)->set_gnd();
  }
  wl_iterm->connect(m->get_first_oterm(), false);
}

void connect_component(CDB_SGATE_COMPONENT* comp, WL_COMPONENT* node, KAVU_SGATE_WL_HASH& hash,
                       KAVU_OTERM_INDEX_CACHE* cache) {
  for (auto it = node->begin_const_port_entry_table(); it != node->end_const_port_entry_table(); ++it) {
    WL_ITERM* wl_iterm = it->iterm;
    if (!wl_iterm) continue;
    const unsigned width = wl_iterm->width();
    KAVU_CHECK(width > 0);
    bool any = false;
    for (unsigned b = 0; b < width; ++b) {
      CDB_SGATE_ITERM* t = kavu_component_bit_iterm(comp, it->name, it->is_bus, b);
      any |= t && cdb_is_connected(t);
    }
    if (!any) continue;
    if (width == 1 && !it->is_bus) {
      kavu_connect_wl_iterm(wl_iterm, kavu_component_bit_iterm(comp, it->name, false, 0), hash, cache);
      continue;
    }
    WL_MERGER* m = new WL_MERGER(width, width);
    node->get_netlist()->add_node(m);
    for (unsigned b = 0; b < width; ++b) {
      m->register_entry(b, 0, false, b);
      CDB_SGATE_ITERM* t = kavu_component_bit_iterm(comp, it->name, it->is_bus, b);
      if (!t || !cdb_is_connected(t)) KAVU_INTERNAL_ERROR("Can't have partially unconnected Component input bits");
      kavu_connect_wl_iterm(m->get_iterm(b), t, hash, cache);
    }
    wl_iterm->connect(m->get_first_oterm(), false);
  }
}

void connect_ram(CDB_SGATE_SYNCHRONOUS_RAM* ram, WL_NODE* node, KAVU_SGATE_WL_HASH& hash,
                 KAVU_OTERM_INDEX_CACHE* cache) {
  for (unsigned i = 0; i < node->get_input_count(); ++i) {
    WL_ITERM* wl_iterm = node->get_iterm(i);
    const unsigned width = wl_iterm->width();
    if (width == 0) continue;
    const DB_INPUT_PORT_TYPE type = kavu_get_ram_iport_type(0, i);
    bool any = false;
    for (unsigned b = 0; b < width; ++b) any |= cdb_is_connected(ram->get_iterm_by_type(type, b));
    if (!any) continue;
    if (width == 1) {
      kavu_connect_wl_iterm(wl_iterm, ram->get_iterm_by_type(type, 0), hash, cache);
      continue;
    }
    WL_MERGER* m = new WL_MERGER(width, width);
    node->get_netlist()->add_node(m);
    for (unsigned b = 0; b < width; ++b) {
      m->register_entry(b, 0, false, b);
      CDB_SGATE_ITERM* t = ram->get_iterm_by_type(type, b);
      if (!cdb_is_connected(t)) KAVU_INTERNAL_ERROR("Can't have partially unconnected RAM input bits");
      kavu_connect_wl_iterm(m->get_iterm(b), t, hash, cache);
    }
    wl_iterm->connect(m->get_first_oterm(), false);
  }
}

void connect_wysiwyg(CDB_SGATE_WYSIWYG* atom, WL_WYSIWYG* node, KAVU_SGATE_WL_HASH& hash,
                     KAVU_OTERM_INDEX_CACHE* cache) {
  for (const kavu_platform::ATOM_PORT& p : atom->get_catalogue_entry().m_inputs) {
    const DB_INPUT_PORT_TYPE port_type = DB_INPUT_PORT_TYPE(p.m_port_type);
    if (port_type >= 51 && port_type <= 54) continue;
    unsigned idx = node->get_iterm_index(port_type);
    WL_ITERM* wl_iterm = node->get_iterm(idx);
    if (!wl_iterm || wl_iterm->width() == 0) continue;
    bool any = false;
    for (unsigned b = 0; b < wl_iterm->width(); ++b) {
      CDB_SGATE_ITERM* t = atom->get_iterm_by_type(port_type, b);
      any |= t && cdb_is_connected(t);
    }
    if (!any) continue;
    if (wl_iterm->width() == 1) {
      kavu_connect_wl_iterm(wl_iterm, atom->get_iterm_by_type(port_type, 0), hash, cache);
      continue;
    }
    WL_MERGER* m = new WL_MERGER(wl_iterm->width(), wl_iterm->width());
    node->get_netlist()->add_node(m);
    for (unsigned b = 0; b < wl_iterm->width(); ++b) {
      m->register_entry(b, 0, false, b);
      CDB_SGATE_ITERM* t = atom->get_iterm_by_type(port_type, b);
      if (t && cdb_is_connected(t)) {
        kavu_connect_wl_iterm(m->get_iterm(b), t, hash, cache);
      } else {
        KAVU_CHECK((port_type != 408) && (port_type != 409) && (port_type != 410) && (port_type != 411));
        m->get_iterm(b)->set_vcc();
      }
    }
    wl_iterm->connect(m->get_first_oterm(), false);
  }
}

}  // namespace

void kavu_connect_wl_node(CDB_SGATE_NODE* sgate, KAVU_SGATE_WL_HASH& sgate_wl_hash, KAVU_OTERM_INDEX_CACHE* cache) {
  auto iter = sgate_wl_hash.find(sgate);
  if (iter == sgate_wl_hash.end()) return;
  WL_NODE* node = iter->second;
  auto fixed = [&](unsigned n) {
    for (unsigned i = 0; i < n; ++i)
      kavu_connect_wl_iterm(node->get_iterm(i), sgate->get_input_term(i), sgate_wl_hash, cache);
  };
  switch (sgate->get_sgate_type()) {
    case CDB_SGATE_BUFFER_ENUM:
      fixed(1);
      return;
    case CDB_SGATE_COMB_ENUM: {
      WL_COMB* comb = node->cast_to_comb();
      for (unsigned i = 0; i < sgate->get_number_of_input_terms(); ++i) {
        CDB_SGATE_ITERM* t = sgate->get_input_term(i);
        if (!t) continue;
        kavu_connect_wl_iterm(comb->create_new_iterm(), t, sgate_wl_hash, cache);
      }
      return;
    }
    case CDB_SGATE_DFF_ENUM:
      fixed(CDB_DFF_NUM_PORTS);
      return;
    case CDB_SGATE_IO_ENUM:
      if (node->cast_to_pin() && node->cast_to_pin()->get_pin_type() != 0)
        kavu_connect_wl_iterm(node->get_iterm(0), sgate->get_single_iterm(), sgate_wl_hash, cache);
      return;
    case CDB_SGATE_LUT_ENUM:
      fixed(std::min(sgate->get_number_of_input_terms(), CDB_SGATE_LUT::m_num_inputs));
      return;
    case CDB_SGATE_MUX_ENUM:
      fixed(CDB_MUX_NUM_PORTS);
      return;
    case CDB_SGATE_LATCH_ENUM:
      fixed(CDB_LATCH_NUM_PORTS);
      return;
    case CDB_SGATE_OPERATOR_ENUM: {
      CDB_SGATE_OPERATOR* op = sgate->cast_to_operator();
      switch (op->get_type()) {
        case CDB_OPER_ADDITION: case CDB_OPER_MULTIPLY: case CDB_OPER_COMPARE: case CDB_OPER_ADDSUB:
          for (unsigned i = 0; i < node->get_input_count(); ++i)
            connect_port(node->get_iterm(i), op->get_port(kavu_get_operator_port_for_wl_input(node, i)), sgate_wl_hash,
                         cache);
          return;
        case CDB_OPER_NTO1_MUX: case CDB_OPER_SELECT: {
          WL_MUX_BASE* m = node->cast_to_mux_base();
          for (unsigned i = 0; i < m->get_num_select(); ++i)
            kavu_connect_wl_iterm(m->get_select(i), op->get_iterm(CDB_OPER_PORT_A, i), sgate_wl_hash, cache);
          const unsigned k = port_width(op, CDB_OPER_PORT_O);
          for (unsigned j = 0; j < m->get_num_data(); ++j) {
            if (k <= 1) {
              kavu_connect_wl_iterm(m->get_data(j), op->get_iterm(CDB_OPER_PORT_B, j), sgate_wl_hash, cache);
              continue;
            }
            // Data word j gathers bits j*k .. j*k+k-1 of the data port.
            WL_MERGER* word = new WL_MERGER(k, k);
            node->get_netlist()->add_node(word);
            for (unsigned b = 0; b < k; ++b) {
              word->register_entry(b, 0, false, b);
              CDB_SGATE_ITERM* t = op->get_iterm(CDB_OPER_PORT_B, j * k + b);
              if (t && cdb_is_connected(t))
                kavu_connect_wl_iterm(word->get_iterm(b), t, sgate_wl_hash, cache);
              else
                word->get_iterm(b)->set_gnd();
            }
            m->get_data(j)->connect(word->get_first_oterm(), false);
          }
          return;
        }
        case CDB_OPER_LEFT_SHIFT: case CDB_OPER_RIGHT_SHIFT: case CDB_OPER_LEFT_ROTATE:
        case CDB_OPER_RIGHT_ROTATE: {
          const unsigned d = port_width(op, CDB_OPER_PORT_A), a = port_width(op, CDB_OPER_PORT_SHIFT);
          for (unsigned i = 0; i < d; ++i)
            kavu_connect_wl_iterm(node->get_iterm(i), op->get_iterm(CDB_OPER_PORT_A, i), sgate_wl_hash, cache);
          for (unsigned j = 0; j < a; ++j)
            kavu_connect_wl_iterm(node->get_iterm(d + j), op->get_iterm(CDB_OPER_PORT_SHIFT, j), sgate_wl_hash, cache);
          if (WL_SHIFTER* sh = node->cast_to_shifter())
            kavu_connect_wl_iterm(sh->get_cin(), op->get_iterm(CDB_OPER_PORT_CIN, 0), sgate_wl_hash, cache);
          return;
        }
        case CDB_OPER_DECODE:
          for (unsigned i = 0; i < node->get_input_count(); ++i)
            kavu_connect_wl_iterm(node->get_iterm(i), op->get_iterm(CDB_OPER_PORT_A, i), sgate_wl_hash, cache);
          return;
        case CDB_OPER_BUS_IN: {
          BUS_IN_LAYOUT l = bus_in_layout(op);
          for (unsigned k = 0; k < l.bus_out_of.size(); ++k) {
            CDB_SGATE_NODE* bus_out = l.bus_out_of[k];
            // A bus-out's bits come from the wide source in front of it,
            // with that input's inversion.
            kavu_connect_wl_iterm(node->get_iterm(k), bus_out ? bus_out->get_single_iterm() : l.first_iterm[k],
                                  sgate_wl_hash, cache);
          }
          return;
        }
        case CDB_OPER_BUS_OUT:
          kavu_connect_wl_iterm(node->get_iterm(0), sgate->get_single_iterm(), sgate_wl_hash, cache);
          return;
        default:
          KAVU_INTERNAL_ERROR("Node type not supported in WL");
      }
      return;
    }
    case CDB_SGATE_COMPONENT_ENUM:
      connect_component(sgate->cast_to_component(), node->cast_to_component(), sgate_wl_hash, cache);
      return;
    case CDB_SGATE_SYNCHRONOUS_RAM_ENUM:
      connect_ram(sgate->cast_to_synchronous_ram(), node, sgate_wl_hash, cache);
      return;
    default:
      if (CDB_SGATE_WYSIWYG* atom = sgate->cast_to_wysiwyg()) {
        connect_wysiwyg(atom, node->cast_to_wysiwyg(), sgate_wl_hash, cache);
        return;
      }
      KAVU_INTERNAL_ERROR("Node type not supported in WL");
  }
}

// ---------------------------------------------------------------- the build

WL_NETLIST* kavu_make_wl_netlist(CDB_SGATE_NETLIST* netlist, CMP_FACADE* facade, std::set<CDB_SGATE_NODE*>* subset,
                                 GEN_DYN_FLAG* flag) {
  KAVU_CHECK(netlist);
  auto& s_wl_io_hash = kavu_wl_io_hash();
  KAVU_CHECK(s_wl_io_hash.empty());
  CMP_FACADE* f = facade ? facade : ZCU_FACADE_UTIL::get_instance()->get_facade();
  WL_NETLIST* wl = wl_create_netlist(f ? f->get_revision_name().c_str() : "");
  GEN_DYN_FLAG user_wys = netlist->get_flag_manager().create_flag("user_wys");
  GEN_DYN_FLAG dont_touch = netlist->get_flag_manager().create_flag("dont_touch");
  kavu_convert_wys_ffs_to_dffs(netlist, &user_wys, &dont_touch, subset);
  WL_MERGER::allow_table_inversions();
  KAVU_OTERM_WIDTHS widths;
  kavu_record_bus_oterm_widths(netlist, &widths, true);
  KAVU_SGATE_WL_HASH sgate_wl_hash;
  sgate_wl_hash.reserve(netlist->size());
  KAVU_OTERM_INDEX_CACHE cache;
  auto chosen = [&](CDB_SGATE_NODE* n) {
    if (!subset) return true;
    if (CDB_SGATE_IO* io = n->cast_to_io()) return io->get_io_type() == CDB_IO_INPUT || io->get_io_type() == CDB_IO_OUTPUT;
    return subset->count(n) != 0;
  };
  std::vector<CDB_SGATE_NODE*> gates;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it)
    if (*it && chosen(*it)) gates.push_back(*it);
  for (CDB_SGATE_NODE* g : gates) {
    WL_NODE* node = kavu_create_wl_node(g, widths, wl, &cache);
    if (!node) continue;
    sgate_wl_hash.emplace(g, node);
    if (CDB_SGATE_IO* io = g->cast_to_io())
      if (io->get_io_type() == CDB_IO_INPUT || io->get_io_type() == CDB_IO_OUTPUT) s_wl_io_hash.emplace(node, g);
    if (g->get_flag().test(CDB_NODE_FLAG_WORD_LEVEL_MARK)) node->set_flags(node->get_flags() | wl->get_marker_mask());
    if (WL_DFF* d = node->cast_to_dff()) {
      CDB_SGATE_OTERM* o = g->get_single_oterm();
      if (o && o->test_dyn_flag(dont_touch)) {
        d->set_dont_touch(true);
        kavu_debug("Setting dont-touch flag on WL DFF %d %s", int(d->get_id()), wl_get_string_hpath(d).c_str());
      }
      if (o && o->test_dyn_flag(user_wys)) {
        d->set_from_user(true);
        kavu_debug("Setting from-user flag on WL DFF %d %s", int(d->get_id()), wl_get_string_hpath(d).c_str());
      }
      if (g->get_flag().test(CDB_NODE_FLAG_NOT_GATE_PUSHED)) {
        d->set_not_gate_pushed(true);
        kavu_debug("Setting not-gate-pushed flag on WL DFF %d %s", int(d->get_id()), wl_get_string_hpath(d).c_str());
        KAVU_CHECK(node->cast_to_dff()->is_not_gate_pushed());
      }
    }
  }
  if (subset) kavu_insert_wl_boundary_buffers(netlist, wl, subset, sgate_wl_hash, &widths, flag);
  // The node list again: the boundary buffers behind the subset's outputs
  // joined the subset and connect their pins.
  std::vector<CDB_SGATE_NODE*> to_connect;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it)
    if (*it && chosen(*it)) to_connect.push_back(*it);
  for (CDB_SGATE_NODE* g : to_connect) kavu_connect_wl_node(g, sgate_wl_hash, &cache);
  if (subset) {
    for (CDB_SGATE_NODE* g : gates)
      if (CDB_SGATE_IO* io = g->cast_to_io())
        if (io->get_io_type() == CDB_IO_OUTPUT && io->get_single_iterm()) io->get_single_iterm()->clear_invert();
  }
  netlist->get_flag_manager().destroy_flag(user_wys);
  netlist->get_flag_manager().destroy_flag(dont_touch);
  if (!subset) {
    // The pins and the atoms the word-level netlist wraps outlive the gate
    // netlist: detached here, added to the target on the way back.
    auto& kept = kavu_wl_kept_gates();
    for (CDB_SGATE_NODE* g : gates) {
      CDB_SGATE_IO* io = g->cast_to_io();
      const bool pin = io && (io->get_io_type() == CDB_IO_INPUT || io->get_io_type() == CDB_IO_OUTPUT);
      if (pin || g->cast_to_wysiwyg()) {
        netlist->delete_node(g);
        kept.push_back(g);
      }
    }
    if (CDB_SGATE_HIERARCHY* h = netlist->get_hierarchy()) h->set_netlist(nullptr);
    delete netlist;
  } else {
    kavu_update_wl_subnet_flags(netlist, subset);
  }
  wutil_clean_up_mergers_and_splitters(wl);
  wl_dump_netlist(wl, "merger_splitter cleanup");
  wl->sweep(false);
  wl_dump_netlist(wl, "sweep");
  WL_MERGER::disable_table_inversions();
  wutil_clean_up_arithmetic_extension_mergers(wl);
  wl->sweep(false);
  wl_remove_unreachable_nodes(wl);
  return wl;
}
