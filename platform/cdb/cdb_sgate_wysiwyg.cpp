// cdb_sgate_wysiwyg.cpp — device atoms: slots from the catalogue, modes, the
// cell mask, register flags, cloning and the kind's invariants.
//
// A slot's port comes from the catalogue row for slots below the row's
// count, and from the atom's own on-demand list above it. On-demand slots
// are handed out past both the current list size and every slot handed out
// before, so a slot never serves two port types even when a caller asks for
// several ports before placing any terminal.
#include "cdb/cdb_sgate_wysiwyg.h"

#include <algorithm>

#include "msg/msg.h"

using kavu_platform::ATOM_CATALOGUE_ENTRY;
using kavu_platform::atom_catalogue_lookup;

CDB_SGATE_WYSIWYG::CDB_SGATE_WYSIWYG(HDB_INSTANCE_NAME* name, CDB_WYSIWYG_TYPE type)
    : CDB_SGATE_NODE(atom_catalogue_lookup(type).m_gate_type, name),
      CDB_REG_FLAGS(CDB_WYS_FF_POWER_UP_HIGH, CDB_WYS_FF_POWER_UP_DC, CDB_WYS_FF_POWER_UP_SET),
      m_entry(&atom_catalogue_lookup(type)),
      m_wysiwyg_type(type) {
  size_lists_to_row();
}

void CDB_SGATE_WYSIWYG::size_lists_to_row() {
  // Lists only grow: terminals placed earlier keep their slots.
  const unsigned nin = std::max(m_entry->num_input_slots(), get_number_of_input_terms());
  const unsigned nout = std::max(m_entry->num_output_slots(), get_output_count());
  get_input_terms().resize(nin);
  get_output_terms().resize(nout);
}

void CDB_SGATE_WYSIWYG::set_wysiwyg_type(CDB_WYSIWYG_TYPE type) {
  if (type == m_wysiwyg_type) return;
  m_wysiwyg_type = type;
  m_entry = &atom_catalogue_lookup(type);
  set_sgate_type(m_entry->m_gate_type);
  if (!is_lutram()) m_lutram_logical_name = nullptr;  // only a LUT-RAM has one
  if (!m_entry->ports_on_demand()) {
    m_extra_inputs.clear();
    m_extra_outputs.clear();
  }
  size_lists_to_row();
  set_changed(true);
  set_type_changed(true);
}

unsigned CDB_SGATE_WYSIWYG::extra_slot(std::vector<EXTRA_PORT>& extras, uint16_t type,
                                       unsigned list_size) const {
  for (const EXTRA_PORT& e : extras)
    if (e.m_port_type == type) return e.m_slot;
  if (!m_entry->ports_on_demand()) return CDB_ILLEGAL_PORT;
  unsigned slot = list_size;  // the caller's max of list size and row slots
  for (const EXTRA_PORT& e : extras) slot = std::max(slot, unsigned(e.m_slot) + 1);
  PLAT_CHECK(slot < CDB_ILLEGAL_PORT, "CDB");
  extras.push_back({type, uint16_t(slot)});
  return slot;
}

unsigned CDB_SGATE_WYSIWYG::get_input_port_number(DB_INPUT_PORT_TYPE type) const {
  uint16_t slot = m_entry->input_slot(type);
  if (slot != CDB_ILLEGAL_PORT) return slot;
  return extra_slot(m_extra_inputs, type,
                    std::max(get_number_of_input_terms(), m_entry->num_input_slots()));
}

unsigned CDB_SGATE_WYSIWYG::get_output_port_number(DB_OUTPUT_PORT_TYPE type) const {
  uint16_t slot = m_entry->output_slot(type);
  if (slot != CDB_ILLEGAL_PORT) return slot;
  return extra_slot(m_extra_outputs, type,
                    std::max(get_output_count(), m_entry->num_output_slots()));
}

CDB_SGATE_ITERM* CDB_SGATE_WYSIWYG::get_iterm_by_type(DB_INPUT_PORT_TYPE type, unsigned i) const {
  uint16_t first = m_entry->input_slot(type);
  if (first != CDB_ILLEGAL_PORT) {
    return i < m_entry->input_width(type) ? get_input_term(first + i) : nullptr;
  }
  for (const EXTRA_PORT& e : m_extra_inputs)
    if (e.m_port_type == type) return i == 0 ? get_input_term(e.m_slot) : nullptr;
  return nullptr;
}

CDB_SGATE_OTERM* CDB_SGATE_WYSIWYG::get_oterm_by_type(DB_OUTPUT_PORT_TYPE type, unsigned i) const {
  uint16_t first = m_entry->output_slot(type);
  if (first != CDB_ILLEGAL_PORT) {
    return i < m_entry->output_width(type) ? get_output_term(first + i) : nullptr;
  }
  for (const EXTRA_PORT& e : m_extra_outputs)
    if (e.m_port_type == type) return i == 0 ? get_output_term(e.m_slot) : nullptr;
  return nullptr;
}

unsigned CDB_SGATE_WYSIWYG::get_ordered_output_count() const {
  return std::min(unsigned(get_port_bound()), get_output_count());
}

CDB_SGATE_OTERM* CDB_SGATE_WYSIWYG::get_preferred_oterm() const {
  CDB_SGATE_OTERM* t = get_output_term(m_entry->preferred_output_slot());
  return t ? t : get_single_oterm();
}

bool CDB_SGATE_WYSIWYG::mode_is_set(unsigned mode) const {
  PLAT_CHECK(mode < CDB_WYSIWYG_NUM_MODES, "CDB");
  return m_modes.test(mode);
}

void CDB_SGATE_WYSIWYG::set_mode(unsigned mode) {
  PLAT_CHECK(mode < CDB_WYSIWYG_NUM_MODES, "CDB");
  if (!m_modes.test(mode)) set_changed(true);
  m_modes.set(mode);
}

void CDB_SGATE_WYSIWYG::clear_mode(unsigned mode) {
  PLAT_CHECK(mode < CDB_WYSIWYG_NUM_MODES, "CDB");
  if (m_modes.test(mode)) set_changed(true);
  m_modes.reset(mode);
}

void CDB_SGATE_WYSIWYG::set_lutmask_value(uint64_t v) {
  if (v == m_lutmask) return;
  m_lutmask = v;
  m_lutmask_changed = true;
  set_changed(true);
}

void CDB_SGATE_WYSIWYG::set_sweep_level(int level) {
  m_sweep_level = level;
  set_byte_bits(CDB_MISC_BYTE, CDB_MISC_SWEEP_LEVEL_EXAMINED, true);
}

bool CDB_SGATE_WYSIWYG::sweep_level_examined() const {
  return (get_flag_byte(CDB_MISC_BYTE) & CDB_MISC_SWEEP_LEVEL_EXAMINED) != 0;
}

bool CDB_SGATE_WYSIWYG::is_sweep_keeper() const {
  using namespace kavu_platform;
  const uint32_t removable = ATOM_CLASS_LCELL_COMB | ATOM_CLASS_LOGIC_MODULE | ATOM_CLASS_FF |
                             ATOM_CLASS_MAC | ATOM_CLASS_RAM | ATOM_CLASS_LUTRAM;
  if (!has_class(removable)) return true;
  return preserve() || m_modes.test(CDB_WYSIWYG_DONT_TOUCH);
}

void CDB_SGATE_WYSIWYG::clone_wysiwyg_into(CDB_SGATE_WYSIWYG* copy, int clone_type) const {
  PLAT_CHECK(copy->m_wysiwyg_type == m_wysiwyg_type, "CDB");
  copy->m_extra_inputs = m_extra_inputs;
  copy->m_extra_outputs = m_extra_outputs;
  copy->m_modes = m_modes;
  copy->m_lutmask = m_lutmask;
  copy->m_lutmask_changed = m_lutmask_changed;
  copy->m_sweep_level = m_sweep_level;
  copy->m_lutram_logical_name = m_lutram_logical_name;
  copy->copy_reg_state_from(*this);
  clone_base_into(copy, clone_type);
}

void CDB_SGATE_WYSIWYG::set_lutram_logical_name(HDB_INSTANCE_NAME* name) {
  PLAT_CHECK(is_lutram(), "CDB");
  m_lutram_logical_name = name;
}

void CDB_SGATE_WYSIWYG::clone_node(MEM_SEGMENT*, CDB_SGATE_NODE** result, int clone_type) const {
  PLAT_CHECK(result != nullptr, "CDB");
  CDB_SGATE_WYSIWYG* copy = new CDB_SGATE_WYSIWYG(nullptr, m_wysiwyg_type);
  clone_wysiwyg_into(copy, clone_type);
  *result = copy;
}

bool CDB_SGATE_WYSIWYG::input_type_of_slot(unsigned slot, uint16_t* type) const {
  if (m_entry->input_port_of_slot(slot, type, nullptr)) return true;
  for (const EXTRA_PORT& e : m_extra_inputs)
    if (e.m_slot == slot) return *type = e.m_port_type, true;
  return false;
}

bool CDB_SGATE_WYSIWYG::output_type_of_slot(unsigned slot, uint16_t* type) const {
  if (m_entry->output_port_of_slot(slot, type, nullptr)) return true;
  for (const EXTRA_PORT& e : m_extra_outputs)
    if (e.m_slot == slot) return *type = e.m_port_type, true;
  return false;
}

bool CDB_SGATE_WYSIWYG::check_kind_invariants(std::string* report) const {
  bool ok = CDB_SGATE_NODE::check_kind_invariants(report);
  auto fail = [&](const char* what, unsigned slot, unsigned have, unsigned want) {
    ok = false;
    if (report)
      *report += get_debug_name() + ": " + what + " slot " + std::to_string(slot) + " carries port type " +
                 std::to_string(have) + ", the atom's port there is " + std::to_string(want) + "\n";
  };
  for (unsigned s = 0; s < get_number_of_input_terms(); ++s) {
    const CDB_SGATE_ITERM* t = get_input_term(s);
    uint16_t want;
    if (t && input_type_of_slot(s, &want) && t->get_port_type() != want)
      fail("input", s, t->get_port_type(), want);
  }
  for (unsigned s = 0; s < get_output_count(); ++s) {
    const CDB_SGATE_OTERM* t = get_output_term(s);
    uint16_t want;
    if (t && output_type_of_slot(s, &want) && t->get_port_type() != want)
      fail("output", s, t->get_port_type(), want);
  }
  return ok;
}

// ---------------------------------------------------------------------------

CDB_SGATE_WYSIWYG_RAM_BLOCK::CDB_SGATE_WYSIWYG_RAM_BLOCK(HDB_INSTANCE_NAME* name, CDB_WYSIWYG_TYPE type)
    : CDB_SGATE_WYSIWYG(name, type) {
  PLAT_CHECK(get_sgate_type() == CDB_SGATE_WYSIWYG_RAM_BLOCK_ENUM, "CDB");
}

const CDB_SGATE_WYSIWYG_RAM_BLOCK::RAM_MODE_SET& CDB_SGATE_WYSIWYG_RAM_BLOCK::get_ram_mode(unsigned port) const {
  PLAT_CHECK(port <= CDB_RAM_PORT_B, "CDB");
  return m_ram_modes[port];
}

bool CDB_SGATE_WYSIWYG_RAM_BLOCK::ram_mode_is(unsigned flag, unsigned port) const {
  PLAT_CHECK(flag < RAM_MODE_SET().size(), "CDB");
  return get_ram_mode(port).test(flag);
}

void CDB_SGATE_WYSIWYG_RAM_BLOCK::set_ram_mode(unsigned flag, unsigned port) {
  PLAT_CHECK(port <= CDB_RAM_PORT_B && flag < RAM_MODE_SET().size(), "CDB");
  if (!m_ram_modes[port].test(flag)) set_changed(true);
  m_ram_modes[port].set(flag);
}

void CDB_SGATE_WYSIWYG_RAM_BLOCK::clear_ram_mode(unsigned flag, unsigned port) {
  PLAT_CHECK(port <= CDB_RAM_PORT_B && flag < RAM_MODE_SET().size(), "CDB");
  if (m_ram_modes[port].test(flag)) set_changed(true);
  m_ram_modes[port].reset(flag);
}

void CDB_SGATE_WYSIWYG_RAM_BLOCK::clone_node(MEM_SEGMENT*, CDB_SGATE_NODE** result, int clone_type) const {
  PLAT_CHECK(result != nullptr, "CDB");
  CDB_SGATE_WYSIWYG_RAM_BLOCK* copy = new CDB_SGATE_WYSIWYG_RAM_BLOCK(nullptr, get_wysiwyg_type());
  copy->m_ram_modes[0] = m_ram_modes[0];
  copy->m_ram_modes[1] = m_ram_modes[1];
  copy->m_logical_names[0] = m_logical_names[0];
  copy->m_logical_names[1] = m_logical_names[1];
  clone_wysiwyg_into(copy, clone_type);
  *result = copy;
}

// ---- logical names of the RAM block's ports

HDB_INSTANCE_NAME* CDB_SGATE_WYSIWYG_RAM_BLOCK::get_logical_name(unsigned port) const {
  PLAT_CHECK(port < 2, "CDB");
  return m_logical_names[port];
}

void CDB_SGATE_WYSIWYG_RAM_BLOCK::set_logical_name(unsigned port, HDB_INSTANCE_NAME* name) {
  PLAT_CHECK(port < 2, "CDB");
  m_logical_names[port] = name;
}
