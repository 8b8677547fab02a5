// kavu_utility_opt.cpp — optimisation utilities: timing-map queries, RAM
// marks, bypass-register names and new registers.
//
// Cases handled on purpose: an existing bypass array name is
// reused only when its range covers the new bank, else it gets a wider array
// type first, so that no element falls outside the declared range; a new
// register copies the model's enable and clear only when they are connected
// (an unconnected model terminal has no source to copy).
#include "kavu_utility_opt.h"

#include <algorithm>
#include <string>

#include "kavu_check.h"
#include "kavu_helper.h"
#include "kavu_helper_predicates.h"
#include "kavu_utility_component.h"
#include "kavu_wiring_helper.h"
#include "cdb/cdb_sgate.h"
#include "cfg/cfg.h"
#include "hdb/hdb.h"
#include "hdb/hdb_types.h"
#include "mem/mem.h"

namespace {

// Flags every bypass-register element name carries.
constexpr unsigned BYPASS_ELEMENT_NAME_FLAGS = 0x4040;

bool has_real_source(const CDB_SGATE_ITERM* t) {
  return t && cdb_is_connected(t) && !t->is_vcc_or_gnd() && t->get_source();
}

// Whether the name's array type covers indices 0..n-1.
bool range_fits(const HDB_INSTANCE_NAME* group, int n) {
  const HDB_TYPE* type = group->get_type();
  const HDB_ARRAY_TYPE* array = type ? type->cast_to_array_type() : nullptr;
  return array && array->contains(0) && array->contains(n - 1);
}

void name_from_hierarchy(HDB_INSTANCE_NAME* parent, const std::string& base,
                         const std::vector<CDB_SGATE_NODE*>& registers) {
  KAVU_CHECK(parent);
  const int n = int(registers.size());
  HDB_NAMESPACE* ns = parent->get_namespace();
  KAVU_CHECK(ns);
  HDB_INSTANCE_NAME* group = parent->find_in_children(base.c_str(), 1);
  if (!group) {
    ns->get_source_components()->get_primitive(88);
    ns->create_group_instance_name(parent, base.c_str(), 0);
    group = parent->find_in_children(base.c_str(), 1);
    KAVU_CHECK(group);
  }
  if (!range_fits(group, n)) {
    HDB_TYPE_DB* types = ns->get_type_db() ? ns->get_type_db() : ns->create_type_db();
    int right = n - 1;
    // A reused name keeps covering the elements it had.
    if (const HDB_TYPE* old = group->get_type())
      if (const HDB_ARRAY_TYPE* a = old->cast_to_array_type()) right = std::max({right, a->get_left(), a->get_right()});
    group->set_type(types->create_array_type(0, right, false));
  }
  for (int i = 0; i < n; ++i)
    registers[size_t(i)]->set_instance_name(group->create_group_element_name(i, BYPASS_ELEMENT_NAME_FLAGS));
}

void name_from_elaboration(const std::string& base, const std::vector<CDB_SGATE_NODE*>& registers,
                           BASEX_ELABORATE_INFO* elaborate_info) {
  KAVU_CHECK(elaborate_info);
  const int n = int(registers.size());
  elaborate_info->declare_array_name(base.c_str(), 1, {{0, n - 1}});
  for (int i = 0; i < n; ++i) {
    // The generator is shared with component naming: it runs under the
    // component-name mutex, and its text is copied outside it.
    const std::string text(
        rtl_component_generate_string_name(elaborate_info, base.c_str(), nullptr, nullptr, i, 0, 1));
    registers[size_t(i)]->set_string_name(text.c_str());
  }
}

}  // namespace

void opt_get_interesting_non_wys_gates(CDB_SGATE_NETLIST* netlist, std::vector<CDB_SGATE_NODE*>* gates) {
  KAVU_CHECK(netlist && gates);
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* g = *it;
    if (g && !g->is_wysiwyg() && g->get_sgate_type() != CDB_SGATE_IO_ENUM) gates->push_back(g);
  }
}

int opt_get_slack(CDB_SGATE_ITERM* iterm, SSC_ITERM_TIMING_INFO_MAP& timing_info_map, int margin, double* ratio) {
  if (ratio) *ratio = 1.0;
  if (!has_real_source(iterm)) return SSC_UNCONSTRAINED_SLACK;
  auto timing_info_iter = timing_info_map.find(iterm);
  KAVU_CHECK(timing_info_iter != timing_info_map.end());
  const int slack = timing_info_iter->second.m_slack;
  const int result = slack < SSC_UNCONSTRAINED_SLACK ? slack - margin : SSC_UNCONSTRAINED_SLACK;
  if (ratio) *ratio = double(timing_info_iter->second.m_ratio);
  return result;
}

bool opt_timing_okay(CDB_SGATE_ITERM* iterm, SSC_ITERM_TIMING_INFO_MAP& timing_info_map, int limit) {
  if (!has_real_source(iterm)) return true;
  auto timing_info_iter = timing_info_map.find(iterm);
  KAVU_CHECK(timing_info_iter != timing_info_map.end());
  return timing_info_iter->second.m_slack >= limit;
}

bool opt_is_marked_as_ram(const CDB_SGATE_NODE* gate) {
  if (cfg_is_on("opt_ignore_ram_style_for_size_check", false)) return false;
  KAVU_CHECK(gate);
  int code = 0;
  if (const CDB_SGATE_SYNCHRONOUS_RAM* s = gate->cast_to_synchronous_ram()) {
    code = s->get_ram_block_type();
  } else if (const CDB_SGATE_ASYNCHRONOUS_RAM* a = gate->cast_to_asynchronous_ram()) {
    code = a->get_ram_block_type();
  } else {
    KAVU_INTERNAL_ERROR("unrecognized ram type");
    return false;
  }
  if (code < 0 || code > 9) {
    KAVU_INTERNAL_ERROR("unrecognized ram block type");
    return false;
  }
  return code != 0 && code != 4;
}

void opt_process_bypass_dff_name(HDB_INSTANCE_NAME* parent, std::string& base,
                                 const std::vector<CDB_SGATE_NODE*>& registers,
                                 BASEX_ELABORATE_INFO* elaborate_info, CMP_FACADE* facade,
                                 bool use_elaboration_names) {
  (void)facade;
  if (registers.empty()) return;
  for (CDB_SGATE_NODE* r : registers) KAVU_CHECK(r);
  if (use_elaboration_names) name_from_elaboration(base, registers, elaborate_info);
  else name_from_hierarchy(parent, base, registers);
}

bool opt_is_vec_connected(std::vector<CDB_SGATE_OTERM*>& oterms) {
  for (const CDB_SGATE_OTERM* t : oterms)
    if (t && t->get_first_fanout()) return true;
  return false;
}

CDB_SGATE_NODE* opt_create_dff(CDB_SGATE_NETLIST* netlist, OPT_SECONDARY_SIGNALS* model) {
  KAVU_CHECK(netlist && model);
  // Checked before the register exists, so a refusal leaves no half-made gate.
  KAVU_CHECK(cdb_is_connected (model->m_clk));
  CDB_SGATE_DFF* dff = new CDB_SGATE_DFF(nullptr, true);
  netlist->add_node(dff, true);
  MEM_SEGMENT* seg = MEM_MANAGER::get_default_segment();
  auto make = [&](DB_INPUT_PORT_TYPE type, unsigned pos) {
    CDB_SGATE_ITERM* t = dff->create_input_term(seg, type);
    dff->set_ordered_input_term(t, pos);
    return t;
  };
  make(DB_PORT_DATAIN, CDB_DFF_DATA);
  kavu_copy_fanin(model->m_clk, make(DB_PORT_CLK, CDB_DFF_CLK));
  CDB_SGATE_ITERM* ena = make(DB_PORT_ENA, CDB_DFF_ENA);
  ena->set_vcc();
  if (cdb_is_connected(model->m_ena)) kavu_copy_fanin(model->m_ena, ena);
  CDB_SGATE_ITERM* aclr = make(DB_PORT_ACLR, CDB_DFF_ACLR);
  aclr->set_gnd();
  if (cdb_is_connected(model->m_aclr)) kavu_copy_fanin(model->m_aclr, aclr);
  make(DB_PORT_PRESET, CDB_DFF_PRESET)->set_gnd();
  make(DB_PORT_ALOAD, CDB_DFF_ALOAD)->set_gnd();
  make(DB_PORT_ASDATA, CDB_DFF_ADATA)->set_vcc();
  make(DB_PORT_SLOAD, CDB_DFF_SLOAD)->set_gnd();
  make(DB_PORT_SCLR, CDB_DFF_SCLR)->set_gnd();
  return dff;
}
