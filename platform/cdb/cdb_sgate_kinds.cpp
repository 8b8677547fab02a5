// cdb_sgate_kinds.cpp — the simple gate kinds (see cdb_sgate_kinds.h).
//
// Each kind's clone_node builds the same kind with the same kind fields and
// lets CDB_SGATE_NODE::clone_base_into copy flag bytes and terminals.
// LUT folding (mls_sweep) works on the 2^n-bit mask directly: a tied input
// is replaced by its cofactor, an inverted input by the mask with that input
// complemented, a duplicate input by the mask restricted to the diagonal
// x_i = x_j; every folded position is then left unconnected.
#include "cdb/cdb_sgate_kinds.h"

#include "cdb/cdb_sgate_hierarchy.h"
#include "msg/msg.h"

namespace {

CDB_SGATE_OTERM* make_output(CDB_SGATE_NODE* n) {
  CDB_SGATE_OTERM* t = new CDB_SGATE_OTERM(n);
  n->insert_unordered_fanout_term(t);
  return t;
}

// The mask with input i replaced by input j (minterms read bit j for bit i).
uint64_t identify_inputs(uint64_t value, unsigned n, unsigned i, unsigned j) {
  uint64_t out = 0;
  unsigned count = 1u << n;
  for (unsigned m = 0; m < count; ++m) {
    unsigned src = (m & ~(1u << i)) | (((m >> j) & 1u) << i);
    out |= ((value >> src) & 1u) << m;
  }
  return out;
}

}  // namespace

// ---------------------------------------------------------------------------
CDB_SGATE_BUFFER::CDB_SGATE_BUFFER(HDB_INSTANCE_NAME* name, CDB_BUFFER_TYPE type, bool synthesized)
    : CDB_SGATE_NODE(CDB_SGATE_BUFFER_ENUM, name, synthesized), m_buffer_type(type) {
  make_output(this);
}

void CDB_SGATE_BUFFER::set_buffer_type(CDB_BUFFER_TYPE t) {
  if (t == m_buffer_type) return;
  m_buffer_type = t;
  set_changed(true);
}

void CDB_SGATE_BUFFER::clone_node(MEM_SEGMENT*, CDB_SGATE_NODE** result, int clone_type) const {
  PLAT_CHECK(result != nullptr, "CDB");
  CDB_SGATE_BUFFER* c = new CDB_SGATE_BUFFER(nullptr, m_buffer_type, is_synthesized());
  clone_base_into(c, clone_type);
  *result = c;
}

bool CDB_SGATE_BUFFER::is_sweep_keeper() const {
  return m_buffer_type == CDB_BUFFER_PROTECT || m_buffer_type == CDB_BUFFER_OBSERVER;
}

// ---------------------------------------------------------------------------
CDB_SGATE_COMB::CDB_SGATE_COMB(HDB_INSTANCE_NAME* name, CDB_COMB_TYPE type, bool synthesized)
    : CDB_SGATE_NODE(CDB_SGATE_COMB_ENUM, name, synthesized), m_comb_type(type) {
  make_output(this);
}

void CDB_SGATE_COMB::set_comb_type(CDB_COMB_TYPE t) {
  if (t == m_comb_type) return;
  m_comb_type = t;
  set_changed(true);
}

CDB_SGATE_ITERM* CDB_SGATE_COMB::add_unordered_fanin_from_oterm(MEM_SEGMENT* seg, bool inv, CDB_SGATE_OTERM* src) {
  CDB_SGATE_ITERM* t = create_input_term(seg);
  insert_unordered_fanin_term(t);
  if (src) {
    src->insert_fanout(t);
    if (inv) t->set_invert();
  } else if (inv) {
    t->set_gnd();
  } else {
    t->set_vcc();
  }
  return t;
}

void CDB_SGATE_COMB::demorgan() {
  PLAT_CHECK(m_comb_type == CDB_COMB_AND || m_comb_type == CDB_COMB_OR, "CDB");
  for (CDB_SGATE_ITERM* t : get_input_terms())
    if (t) t->invert();  // on a tie this swaps VCC and GND, as complementing must
  set_comb_type(m_comb_type == CDB_COMB_AND ? CDB_COMB_OR : CDB_COMB_AND);
  for (CDB_SGATE_OTERM* o : get_output_terms()) {
    if (!o) continue;
    o->invert();
    o->move_invert_to_fanouts();
  }
}

void CDB_SGATE_COMB::widen(MEM_SEGMENT*) { get_input_terms().shrink_to_fit(); }

void CDB_SGATE_COMB::clone_node(MEM_SEGMENT*, CDB_SGATE_NODE** result, int clone_type) const {
  PLAT_CHECK(result != nullptr, "CDB");
  CDB_SGATE_COMB* c = new CDB_SGATE_COMB(nullptr, m_comb_type, is_synthesized());
  clone_base_into(c, clone_type);
  *result = c;
}

// ---------------------------------------------------------------------------
CDB_SGATE_DFF::CDB_SGATE_DFF(HDB_INSTANCE_NAME* name, bool synthesized)
    : CDB_SGATE_NODE(CDB_SGATE_DFF_ENUM, name, synthesized),
      CDB_REG_FLAGS(CDB_DFF_POWER_UP_HIGH, CDB_DFF_POWER_UP_DC, CDB_DFF_POWER_UP_SET) {
  make_output(this);
}

DB_INPUT_PORT_TYPE CDB_SGATE_DFF::get_port_type_of_position(unsigned pos) {
  static const DB_INPUT_PORT_TYPE types[CDB_DFF_NUM_PORTS] = {
      DB_PORT_DATAIN, DB_PORT_CLK, DB_PORT_ACLR, DB_PORT_PRESET, DB_PORT_ENA,
      DB_PORT_ASDATA, DB_PORT_ALOAD, DB_PORT_SCLR, DB_PORT_SLOAD};
  PLAT_CHECK(pos < CDB_DFF_NUM_PORTS, "CDB");
  return types[pos];
}

void CDB_SGATE_DFF::create_all_inputs() {
  for (unsigned p = 0; p < CDB_DFF_NUM_PORTS; ++p)
    if (!get_input_term(p)) set_input_term(create_input_term(nullptr, get_port_type_of_position(p)), p);
}

void CDB_SGATE_DFF::tie_unconnected_controls() {
  create_all_inputs();
  for (unsigned p = CDB_DFF_ACLR; p < CDB_DFF_NUM_PORTS; ++p) {
    CDB_SGATE_ITERM* t = get_input_term(p);
    if (t->is_connected()) continue;
    if (p == CDB_DFF_ENA || p == CDB_DFF_ADATA) t->set_vcc();
    else t->set_gnd();
  }
}

void CDB_SGATE_DFF::clone_node(MEM_SEGMENT*, CDB_SGATE_NODE** result, int clone_type) const {
  PLAT_CHECK(result != nullptr, "CDB");
  CDB_SGATE_DFF* c = new CDB_SGATE_DFF(nullptr, is_synthesized());
  clone_base_into(c, clone_type);  // flag bytes carry the power-up bits
  c->copy_reg_state_from(*this);
  *result = c;
}

// ---------------------------------------------------------------------------
CDB_SGATE_IO::CDB_SGATE_IO(HDB_INSTANCE_NAME* name, CDB_IO_TYPE type)
    : CDB_SGATE_NODE(CDB_SGATE_IO_ENUM, name), m_io_type(type) {
  PLAT_CHECK(type == CDB_IO_INPUT || type == CDB_IO_OUTPUT || type == CDB_IO_BIDIR, "CDB");
  make_output(this);
  if (type != CDB_IO_INPUT) set_input_term(create_input_term(nullptr), 0);
}

void CDB_SGATE_IO::clone_node(MEM_SEGMENT*, CDB_SGATE_NODE** result, int clone_type) const {
  PLAT_CHECK(result != nullptr, "CDB");
  CDB_SGATE_IO* c = new CDB_SGATE_IO(nullptr, m_io_type);
  c->m_pin_cache = m_pin_cache;
  c->set_hierarchy(get_hierarchy());
  clone_base_into(c, clone_type);
  *result = c;
}

// ---------------------------------------------------------------------------
CDB_SGATE_IO_BUF::CDB_SGATE_IO_BUF(HDB_INSTANCE_NAME* name, CDB_IO_BUF_TYPE type)
    : CDB_SGATE_NODE(CDB_SGATE_IO_BUF_ENUM, name), m_io_buf_type(type) {
  make_output(this);
}

void CDB_SGATE_IO_BUF::clone_node(MEM_SEGMENT*, CDB_SGATE_NODE** result, int clone_type) const {
  PLAT_CHECK(result != nullptr, "CDB");
  CDB_SGATE_IO_BUF* c = new CDB_SGATE_IO_BUF(nullptr, m_io_buf_type);
  clone_base_into(c, clone_type);
  *result = c;
}

// ---------------------------------------------------------------------------
unsigned CDB_SGATE_LUT::m_num_inputs = 6;

CDB_SGATE_LUT::CDB_SGATE_LUT(HDB_INSTANCE_NAME* name, const CDB_LUTMASK& mask)
    : CDB_SGATE_NODE(CDB_SGATE_LUT_ENUM, name), m_mask(mask) {
  make_output(this);
}

void CDB_SGATE_LUT::set_lut_mask(const CDB_LUTMASK& m) {
  if (m == m_mask) return;
  m_mask = m;
  set_changed(true);
}

bool CDB_SGATE_LUT::mls_sweep(bool) {
  // Folding a later input can make an earlier one irrelevant, so passes
  // repeat until one changes nothing (at most one pass per input, plus one).
  bool changed = false;
  while (fold_inputs_once()) changed = true;
  return changed;
}

bool CDB_SGATE_LUT::fold_inputs_once() {
  CDB_LUTMASK mask = m_mask;
  unsigned n = mask.get_num_inputs();
  bool changed = false;
  for (unsigned i = 0; i < get_number_of_input_terms(); ++i) {
    CDB_SGATE_ITERM* t = get_input_term(i);
    if (!t || !t->is_connected()) continue;
    if (i >= n) {  // beyond the mask: ignored
      t->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_RESET);
      changed = true;
      continue;
    }
    if (t->is_vcc_or_gnd()) {
      if (t->is_vcc()) mask.make_independent_of_bar(i);
      else mask.make_independent_of(i);
      t->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_RESET);
      changed = true;
      continue;
    }
    if (t->is_inverted()) {
      mask.invert_input(i);
      t->clear_invert();
      changed = true;
    }
    for (unsigned j = 0; j < i; ++j) {
      CDB_SGATE_ITERM* u = get_input_term(j);
      if (u && u->get_source() == t->get_source() && !u->is_inverted()) {
        CDB_LUTMASK folded;
        folded.set_value(n, identify_inputs(mask.get_value(), n, i, j));
        mask = folded;
        t->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_RESET);
        changed = true;
        break;
      }
    }
    if (t->is_connected() && mask.is_independent_of(i)) {
      t->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_RESET);
      changed = true;
    }
  }
  set_lut_mask(mask);
  return changed;
}

void CDB_SGATE_LUT::clone_node(MEM_SEGMENT*, CDB_SGATE_NODE** result, int clone_type) const {
  PLAT_CHECK(result != nullptr, "CDB");
  CDB_SGATE_LUT* c = new CDB_SGATE_LUT(nullptr, m_mask);
  clone_base_into(c, clone_type);
  *result = c;
}

bool CDB_SGATE_LUT::check_kind_invariants(std::string* report) const {
  for (unsigned i = 0; i < m_mask.get_num_inputs(); ++i) {
    if (m_mask.is_independent_of(i)) continue;
    if (!cdb_is_connected(get_input_term(i))) {
      if (report)
        *report += "LUT " + get_debug_name() + ": mask depends on unconnected input " + std::to_string(i) + "\n";
      return false;
    }
  }
  return true;
}

// ---------------------------------------------------------------------------
CDB_SGATE_STATE::CDB_SGATE_STATE(HDB_INSTANCE_NAME* name, CDB_STATE_MACHINE* machine)
    : CDB_SGATE_NODE(CDB_SGATE_STATE_ENUM, name), m_machine(machine) {
  make_output(this);
}

void CDB_SGATE_STATE::clone_node(MEM_SEGMENT*, CDB_SGATE_NODE** result, int clone_type) const {
  PLAT_CHECK(result != nullptr, "CDB");
  CDB_SGATE_STATE* c = new CDB_SGATE_STATE(nullptr, m_machine);
  clone_base_into(c, clone_type);
  *result = c;
}

// ---------------------------------------------------------------------------
CDB_SGATE_MUX::CDB_SGATE_MUX(HDB_INSTANCE_NAME* name) : CDB_SGATE_NODE(CDB_SGATE_MUX_ENUM, name) {
  make_output(this);
}

void CDB_SGATE_MUX::clone_node(MEM_SEGMENT*, CDB_SGATE_NODE** result, int clone_type) const {
  PLAT_CHECK(result != nullptr, "CDB");
  CDB_SGATE_MUX* c = new CDB_SGATE_MUX(nullptr);
  clone_base_into(c, clone_type);
  *result = c;
}

// ---------------------------------------------------------------------------
CDB_SGATE_CARRY_SUM::CDB_SGATE_CARRY_SUM(HDB_INSTANCE_NAME* name)
    : CDB_SGATE_NODE(CDB_SGATE_CARRY_SUM_ENUM, name) {
  make_output(this);
  make_output(this);
}

void CDB_SGATE_CARRY_SUM::clone_node(MEM_SEGMENT*, CDB_SGATE_NODE** result, int clone_type) const {
  PLAT_CHECK(result != nullptr, "CDB");
  CDB_SGATE_CARRY_SUM* c = new CDB_SGATE_CARRY_SUM(nullptr);
  clone_base_into(c, clone_type);
  *result = c;
}

// ---------------------------------------------------------------------------
CDB_SGATE_TRI_BUS::CDB_SGATE_TRI_BUS(HDB_INSTANCE_NAME* name) : CDB_SGATE_NODE(CDB_SGATE_TRI_BUS_ENUM, name) {
  make_output(this);
}

void CDB_SGATE_TRI_BUS::clone_node(MEM_SEGMENT*, CDB_SGATE_NODE** result, int clone_type) const {
  PLAT_CHECK(result != nullptr, "CDB");
  CDB_SGATE_TRI_BUS* c = new CDB_SGATE_TRI_BUS(nullptr);
  clone_base_into(c, clone_type);
  *result = c;
}

// ---------------------------------------------------------------------------
CDB_SGATE_LATCH::CDB_SGATE_LATCH(HDB_INSTANCE_NAME* name, bool synthesized)
    : CDB_SGATE_NODE(CDB_SGATE_LATCH_ENUM, name, synthesized) {
  make_output(this);
}

bool CDB_SGATE_LATCH::mls_sweep(bool) {
  // Unconnected controls are inactive (enables 1, clear and preset 0), so a
  // control tied to its inactive value is the same as no connection.
  bool changed = false;
  for (unsigned p : {unsigned(CDB_LATCH_EN), unsigned(CDB_LATCH_EN2)}) {
    CDB_SGATE_ITERM* t = get_input_term(p);
    if (t && t->is_vcc()) {
      t->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_RESET);
      changed = true;
    }
  }
  for (unsigned p : {unsigned(CDB_LATCH_CLR), unsigned(CDB_LATCH_PRE)}) {
    CDB_SGATE_ITERM* t = get_input_term(p);
    if (t && t->is_gnd()) {
      t->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_RESET);
      changed = true;
    }
  }
  return changed;
}

void CDB_SGATE_LATCH::clone_node(MEM_SEGMENT*, CDB_SGATE_NODE** result, int clone_type) const {
  PLAT_CHECK(result != nullptr, "CDB");
  CDB_SGATE_LATCH* c = new CDB_SGATE_LATCH(nullptr, is_synthesized());
  clone_base_into(c, clone_type);
  *result = c;
}

// ---------------------------------------------------------------------------
CDB_SGATE_BOUNDARY::CDB_SGATE_BOUNDARY(HDB_INSTANCE_NAME* name, CDB_BOUNDARY_TYPE direction)
    : CDB_SGATE_NODE(CDB_SGATE_BOUNDARY_ENUM, name), m_direction(direction) {
  make_output(this);
}

void CDB_SGATE_BOUNDARY::set_fed_by(CDB_SGATE_OTERM* t) {
  m_fed_by = t;
  m_fed_by_known = t != nullptr;
  m_fed_by_debug = m_fed_by_slot = 0;
  if (!t) return;
  const CDB_SGATE_NODE* g = t->get_my_node();
  m_fed_by_debug = g->get_debug_number();
  while (m_fed_by_slot < g->get_output_count() && g->get_output_term(m_fed_by_slot) != t) ++m_fed_by_slot;
}

void CDB_SGATE_BOUNDARY::clone_node(MEM_SEGMENT*, CDB_SGATE_NODE** result, int clone_type) const {
  PLAT_CHECK(result != nullptr, "CDB");
  CDB_SGATE_BOUNDARY* c = new CDB_SGATE_BOUNDARY(nullptr, m_direction);
  c->m_partition = m_partition;
  c->m_boundary_id = m_boundary_id;
  c->m_cut = m_cut;
  c->m_fed_by = m_fed_by;
  c->m_fed_by_known = m_fed_by_known;
  c->m_fed_by_debug = m_fed_by_debug;
  c->m_fed_by_slot = m_fed_by_slot;
  c->m_readers_known = m_readers_known;
  c->m_readers = m_readers;
  clone_base_into(c, clone_type);
  *result = c;
}
