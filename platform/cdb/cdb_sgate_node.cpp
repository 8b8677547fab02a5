// cdb_sgate_node.cpp — terminals, connections, the gate base class and the
// shared register flags.
//
// Connections: a driven input terminal is an entry of its source's fan-out
// block (model in cdb_sgate_node.h); the source counts the entries. Every change that can
// leave a gate without fan-out (disconnect, tie over a driven input,
// adopt_fanouts, set_all_fanouts_constant, unlink) marks the netlists of the
// affected gates dirty so that sweep_if_dirty knows to run.
// Cost: every edit here is O(1) except the whole-chain operations, which are
// linear in the chain, and list searches over one gate's terminals.
#include <algorithm>
#include <cstdio>

#include "cdb/cdb_sgate_hierarchy.h"
#include "cdb/cdb_sgate_kinds.h"
#include "cdb/cdb_sgate_netlist.h"
#include "cdb/cdb_sgate_pool.h"
#include "hdb/hdb.h"
#include "msg/msg.h"

std::atomic<unsigned> CDB_SGATE_NODE::s_debug_counter{1};

namespace {

void mark_dirty(const CDB_SGATE_NODE* node) {
  if (node && node->get_netlist()) node->get_netlist()->set_dirty();
}

}  // namespace

// ---------------------------------------------------------------------------
// CDB_SGATE_ITERM

CDB_SGATE_ITERM::CDB_SGATE_ITERM(CDB_SGATE_NODE* owner) : m_node(owner) {}
CDB_SGATE_ITERM::CDB_SGATE_ITERM(CDB_SGATE_NODE* owner, MEM_SEGMENT*) : m_node(owner) {}

CDB_SGATE_ITERM::~CDB_SGATE_ITERM() {
  if (m_source) {
    mark_dirty(m_source->get_my_node());
    unlink_from_chain();
  }
  if (m_extra) delete m_extra->m_info;
  delete m_extra;
}

void CDB_SGATE_ITERM::unlink_from_chain() {
  CDB_SGATE_OTERM* src = m_source;
  if (!src) return;
  src->remove_link(m_fan_index);
  m_source = nullptr;
  m_fan_index = 0;
}

void CDB_SGATE_ITERM::disconnect_from_source(CONNECT_STATE state) {
  PLAT_CHECK(state == CONNECT_STATE_RESET || state == CONNECT_STATE_UNCONNECTED, "CDB");
  if (!is_connected() && !m_source) return;
  if (m_source) {
    mark_dirty(m_source->get_my_node());
    unlink_from_chain();
  }
  mark_dirty(m_node);
  m_bits &= uint8_t(~CDB_TERM_CONNECTED);
  if (state == CONNECT_STATE_RESET) clear_invert();
}

void CDB_SGATE_ITERM::disconnect_from_source(int state) {
  // Checked before the conversion: an out-of-range enumeration value is undefined.
  PLAT_CHECK(state == CONNECT_STATE_RESET || state == CONNECT_STATE_UNCONNECTED, "CDB");
  disconnect_from_source(CONNECT_STATE(state));
}

void CDB_SGATE_ITERM::set_vcc() {
  if (m_source) {
    mark_dirty(m_source->get_my_node());
    unlink_from_chain();
  }
  m_bits |= CDB_TERM_CONNECTED;
  clear_invert();
}

void CDB_SGATE_ITERM::set_gnd() {
  set_vcc();
  set_invert();
}

void CDB_SGATE_ITERM::insert_fanin(CDB_SGATE_OTERM* src) {
  PLAT_CHECK(src != nullptr, "CDB");
  src->insert_fanout(this);
}

void CDB_SGATE_ITERM::set_source(CDB_SGATE_OTERM* src) {
  if (src) src->insert_fanout(this);
  else disconnect_from_source(CONNECT_STATE_UNCONNECTED);
}

CDB_SGATE_ITERM_INFO* CDB_SGATE_ITERM::create_info() {
  EXTRA& e = extra();
  if (!e.m_info) e.m_info = new CDB_SGATE_ITERM_INFO;
  return e.m_info;
}

void CDB_SGATE_ITERM::set_info(CDB_SGATE_ITERM_INFO* info) {
  if (info == get_info()) return;
  EXTRA& e = extra();
  delete e.m_info;
  e.m_info = info;
}

CDB_SGATE_ITERM_INFO* CDB_SGATE_ITERM::release_info() {
  CDB_SGATE_ITERM_INFO* i = get_info();
  if (m_extra) m_extra->m_info = nullptr;
  return i;
}

namespace {
// Parent links chain across packed atoms only, a few links deep. A longer
// chain is a cycle of parent links (or a corrupted one): answering
// "unconnected" there would hide a driven input, so it is an internal error.
constexpr int kMaxParentHops = 64;
}  // namespace

bool cdb_is_connected(const CDB_SGATE_ITERM* t) {
  for (int hops = 0; t; ++hops) {
    if (hops == kMaxParentHops)
      MSG_INTERNAL_ERROR::report("parent input chain longer than 64 links (a cycle of parent inputs)",
                                 "CDB", __FILE__, __LINE__);
    if (t->is_connected()) return true;
    t = t->get_parent_input();
  }
  return false;
}

bool cdb_is_parent_connected(const CDB_SGATE_ITERM* t) {
  return t && cdb_is_connected(t->get_parent_input());
}

// ---------------------------------------------------------------------------
// CDB_SGATE_OTERM

CDB_SGATE_OTERM::CDB_SGATE_OTERM(CDB_SGATE_NODE* owner) : m_node(owner) {}
CDB_SGATE_OTERM::CDB_SGATE_OTERM(CDB_SGATE_NODE* owner, MEM_SEGMENT*) : m_node(owner) {}

CDB_SGATE_OTERM::~CDB_SGATE_OTERM() {
  disconnect_all_fanouts();
  if (m_cap_log) kavu_platform::cdb_pool_release(m_block, block_bytes(capacity()));
  delete m_extra;
}

// The chain block. Readers sit in [m_head, m_used) in chain order with
// holes (null) where readers left; both ends are always readers, so the
// first and last fan-out are O(1). Appending to a full block compacts it in
// place when a quarter of it is free, else moves the readers into a block
// twice as large; removing compacts when holes outnumber readers (plus a
// small slack), so a walk over a chain reads O(readers) slots.

void CDB_SGATE_OTERM::compact_links() {
  CDB_SGATE_ITERM** s = slots();
  CDB_SGATE_NODE** g = gate_slots();
  uint32_t w = 0;
  for (uint32_t r = m_head; r < m_used; ++r)
    if (CDB_SGATE_ITERM* t = s[r]) {
      s[w] = t;
      g[w] = g[r];
      t->m_fan_index = w++;
    }
  m_head = 0;
  m_used = w;
}

void CDB_SGATE_OTERM::clear_links() { m_count = m_used = m_head = 0; }

void CDB_SGATE_OTERM::make_room(uint32_t more) {
  if (uint64_t(m_used) + more <= capacity()) return;
  const uint32_t old_cap = capacity();
  if (uint64_t(m_count) + more <= old_cap && (old_cap - m_count) * 4 >= old_cap) {
    compact_links();
    return;
  }
  // Inline slots grow into the smallest block above them; a block doubles
  // (more than once when that is still too small).
  uint8_t cap_log = m_cap_log ? uint8_t(m_cap_log + 1) : kFirstBlockLog;
  while ((uint64_t(1) << cap_log) < uint64_t(m_count) + more) ++cap_log;
  PLAT_CHECK(cap_log <= 31, "CDB");  // more than 2^31 readers of one net
  const uint32_t cap = uint32_t(1) << cap_log;
  auto** block = static_cast<CDB_SGATE_ITERM**>(kavu_platform::cdb_pool_allocate(block_bytes(cap)));
  auto** block_gates = reinterpret_cast<CDB_SGATE_NODE**>(block + cap);
  CDB_SGATE_ITERM** s = slots();
  CDB_SGATE_NODE** g = gate_slots();
  uint32_t w = 0;
  for (uint32_t r = m_head; r < m_used; ++r)
    if (CDB_SGATE_ITERM* f = s[r]) {
      block[w] = f;
      block_gates[w] = g[r];
      f->m_fan_index = w++;
    }
  if (m_cap_log) kavu_platform::cdb_pool_release(m_block, block_bytes(old_cap));
  m_block = block;
  m_cap_log = cap_log;
  m_head = 0;
  m_used = w;
}

void CDB_SGATE_OTERM::append_link(CDB_SGATE_ITERM* t) {
  if (m_used == capacity()) make_room(1);
  set_slot(m_used, t);
  t->m_fan_index = m_used++;
  t->m_source = this;
  ++m_count;
}

void CDB_SGATE_OTERM::remove_link(uint32_t index) {
  set_slot(index, nullptr);
  CDB_SGATE_ITERM** s = slots();
  if (--m_count == 0) {
    m_used = m_head = 0;
    return;
  }
  while (!s[m_used - 1]) --m_used;
  while (!s[m_head]) ++m_head;
  if (m_used - m_head - m_count > m_count + 8) compact_links();
}

void CDB_SGATE_OTERM::copy_fanouts(std::vector<CDB_SGATE_ITERM*>& out) const {
  out.clear();
  out.reserve(m_count);
  CDB_SGATE_ITERM* const* s = slots();
  for (uint32_t i = m_head; i < m_used; ++i)
    if (s[i]) out.push_back(s[i]);
}

void CDB_SGATE_OTERM::insert_fanout(CDB_SGATE_ITERM* t) {
  PLAT_CHECK(t != nullptr && t->get_my_node() != nullptr, "CDB");
  if (m_used == capacity()) make_room(1);  // before t leaves its source: refused memory moves nothing
  if (t->m_source) {
    if (t->m_source != this) mark_dirty(t->m_source->get_my_node());
    t->unlink_from_chain();
  }
  append_link(t);
  t->m_bits |= CDB_TERM_CONNECTED;
}

void CDB_SGATE_OTERM::adopt_fanouts(CDB_SGATE_OTERM* other, bool invert) {
  PLAT_CHECK(other != nullptr && other != this, "CDB");
  if (!other->m_count) return;
  make_room(other->m_count);  // before any reader moves: refused memory moves none
  mark_dirty(other->get_my_node());
  CDB_SGATE_ITERM** s = other->slots();
  for (uint32_t i = other->m_head; i < other->m_used; ++i) {
    CDB_SGATE_ITERM* t = s[i];
    if (!t) continue;
    if (invert) t->invert();
    append_link(t);
  }
  other->clear_links();
}

void CDB_SGATE_OTERM::move_invert_to_fanouts() {
  if (!is_inverted()) return;
  clear_invert();
  CDB_SGATE_ITERM** s = slots();
  for (uint32_t i = m_head; i < m_used; ++i)
    if (s[i]) s[i]->invert();
}

void CDB_SGATE_OTERM::set_all_fanouts_constant(bool vcc) {
  if (!m_count) return;
  mark_dirty(m_node);
  // A tie delivers 1 XOR its flag; the reader must see vcc XOR its old flag,
  // so the flag toggles exactly when the constant is 0.
  CDB_SGATE_ITERM** s = slots();
  for (uint32_t i = m_head; i < m_used; ++i) {
    CDB_SGATE_ITERM* t = s[i];
    if (!t) continue;
    t->m_source = nullptr;
    t->m_fan_index = 0;
    t->m_bits |= CDB_TERM_CONNECTED;
    if (!vcc) t->invert();
  }
  clear_links();
}

void CDB_SGATE_OTERM::disconnect_all_fanouts() {
  if (!m_count) return;
  mark_dirty(m_node);
  CDB_SGATE_ITERM** s = slots();
  for (uint32_t i = m_head; i < m_used; ++i) {
    CDB_SGATE_ITERM* t = s[i];
    if (!t) continue;
    t->m_source = nullptr;
    t->m_fan_index = 0;
    t->m_bits &= uint8_t(~CDB_TERM_CONNECTED);
    mark_dirty(t->get_my_node());
  }
  clear_links();
}

void CDB_SGATE_OTERM::swap_instance_name(CDB_SGATE_OTERM* other) {
  PLAT_CHECK(other != nullptr, "CDB");
  std::swap(m_name, other->m_name);
}

void CDB_SGATE_OTERM::set_synthesized_name(HDB_INSTANCE_NAME* base) {
  set_synfrom(base);
  m_bits |= CDB_TERM_SYNTHESIZED_NAME;
}

void CDB_SGATE_OTERM::set_synthesized_name(CDB_SGATE_NODE* from) {
  PLAT_CHECK(from != nullptr, "CDB");
  set_synthesized_name(from->get_instance_name());
}

// ---------------------------------------------------------------------------
// CDB_SGATE_NODE

CDB_SGATE_NODE::CDB_SGATE_NODE(CDB_SGATE_TYPE type, HDB_INSTANCE_NAME* name, bool synthesized)
    : m_name(name), m_debug_number(s_debug_counter++), m_type(uint8_t(type)), m_synthesized(synthesized) {}

const CDB_SGATE_NODE::EXTRA CDB_SGATE_NODE::s_no_extra;

CDB_SGATE_NODE::~CDB_SGATE_NODE() {
  detach_everything();
  delete m_extra;
}

void CDB_SGATE_NODE::detach_everything() {
  if (m_netlist) m_netlist->unlink(this);
  if (CDB_SGATE_NETLIST* grave = graveyard()) {
    std::vector<CDB_SGATE_NODE*>& g = grave->m_graveyard;
    g.erase(std::find(g.begin(), g.end(), this));
    set_graveyard(nullptr);
  }
  // Machines first: they compare their terminals' owners with this gate.
  if (ex().m_machines) {
    std::vector<CDB_STATE_MACHINE*>* machines = m_extra->m_machines;
    m_extra->m_machines = nullptr;  // forget_node must not edit the vector we walk
    for (CDB_STATE_MACHINE* m : *machines) m->forget_node(this);
    delete machines;
  }
  for (size_t i = 0; i < m_iterms.size(); ++i) delete m_iterms[i];
  m_iterms.clear();
  for (size_t i = 0; i < m_oterms.size(); ++i) delete m_oterms[i];
  m_oterms.clear();
  if (m_extra) {
    delete m_extra->m_string_name;
    m_extra->m_string_name = nullptr;
  }
}

bool CDB_SGATE_NODE::is_generic() const {
  switch (m_type) {
    case CDB_SGATE_BUFFER_ENUM: case CDB_SGATE_COMB_ENUM: case CDB_SGATE_DFF_ENUM:
    case CDB_SGATE_LUT_ENUM: case CDB_SGATE_MUX_ENUM: case CDB_SGATE_CARRY_SUM_ENUM:
    case CDB_SGATE_LATCH_ENUM: case CDB_SGATE_OPERATOR_ENUM:
      return true;
    default:
      return false;
  }
}

bool CDB_SGATE_NODE::is_input() const {
  const CDB_SGATE_IO* io = cast_to_io();
  return io && io->get_io_type() == CDB_IO_INPUT;
}
bool CDB_SGATE_NODE::is_output() const {
  const CDB_SGATE_IO* io = cast_to_io();
  return io && io->get_io_type() == CDB_IO_OUTPUT;
}
bool CDB_SGATE_NODE::is_bidir() const {
  const CDB_SGATE_IO* io = cast_to_io();
  return io && io->get_io_type() == CDB_IO_BIDIR;
}

void CDB_SGATE_NODE::set_debug_number(unsigned n) {
  m_debug_number = n;
  if (n >= s_debug_counter) s_debug_counter = n + 1;
}

unsigned CDB_SGATE_NODE::get_number_of_fanin() const {
  unsigned n = 0;
  for (CDB_SGATE_ITERM* t : m_iterms) n += t != nullptr;
  return n;
}

CDB_SGATE_ITERM* CDB_SGATE_NODE::get_single_iterm() const {
  for (CDB_SGATE_ITERM* t : m_iterms)
    if (t) return t;
  return nullptr;
}

bool CDB_SGATE_NODE::has_fanin() const {
  for (CDB_SGATE_ITERM* t : m_iterms)
    if (t && t->is_connected()) return true;
  return false;
}

CDB_SGATE_OTERM* CDB_SGATE_NODE::get_single_oterm() const {
  for (CDB_SGATE_OTERM* t : m_oterms)
    if (t) return t;
  return nullptr;
}

DB_OUTPUT_PORT_TYPE CDB_SGATE_NODE::get_output_port_enum(unsigned i) const {
  CDB_SGATE_OTERM* t = get_output_term(i);
  return t ? t->get_port_type() : DB_OUTPUT_PORT_TYPE(CDB_ILLEGAL_PORT);
}

bool CDB_SGATE_NODE::has_fanout() const {
  for (CDB_SGATE_OTERM* t : m_oterms)
    if (t && t->has_fanout()) return true;
  return false;
}

unsigned CDB_SGATE_NODE::get_fanout_node_count() const {
  std::vector<unsigned> ids;
  for (CDB_SGATE_OTERM* o : m_oterms)
    if (o)
      for (CDB_SGATE_ITERM* t : o->fanouts()) ids.push_back(t->get_my_node()->get_id());
  std::sort(ids.begin(), ids.end());
  return unsigned(std::unique(ids.begin(), ids.end()) - ids.begin());
}

unsigned CDB_SGATE_NODE::get_fanin_node_count() const {
  std::vector<unsigned> ids;
  for (CDB_SGATE_ITERM* t : m_iterms)
    if (t && t->get_source()) ids.push_back(t->get_source()->get_my_node()->get_id());
  std::sort(ids.begin(), ids.end());
  return unsigned(std::unique(ids.begin(), ids.end()) - ids.begin());
}

unsigned CDB_SGATE_NODE::get_input_port_number(DB_INPUT_PORT_TYPE type) const {
  for (size_t i = 0; i < m_iterms.size(); ++i)
    if (m_iterms[i] && m_iterms[i]->get_port_type() == type) return unsigned(i);
  return CDB_ILLEGAL_PORT;
}

unsigned CDB_SGATE_NODE::get_output_port_number(DB_OUTPUT_PORT_TYPE type) const {
  for (size_t i = 0; i < m_oterms.size(); ++i)
    if (m_oterms[i] && m_oterms[i]->get_port_type() == type) return unsigned(i);
  return CDB_ILLEGAL_PORT;
}

CDB_SGATE_ITERM* CDB_SGATE_NODE::create_input_term(MEM_SEGMENT*, DB_INPUT_PORT_TYPE type) {
  CDB_SGATE_ITERM* t = new CDB_SGATE_ITERM(this);
  t->set_port_type(type);
  return t;
}

CDB_SGATE_OTERM* CDB_SGATE_NODE::create_output_term(MEM_SEGMENT*, DB_OUTPUT_PORT_TYPE type) {
  CDB_SGATE_OTERM* t = new CDB_SGATE_OTERM(this);
  t->set_port_type(type);
  return t;
}

void CDB_SGATE_NODE::set_input_term(CDB_SGATE_ITERM* t, unsigned pos) {
  PLAT_CHECK(t != nullptr && t->get_my_node() == this, "CDB");
  if (pos < m_iterms.size() && m_iterms[pos] == t) return;
  PLAT_CHECK(pos >= m_iterms.size() || m_iterms[pos] == nullptr, "CDB");
  // A terminal listed twice would be destroyed twice.
  PLAT_CHECK(std::find(m_iterms.begin(), m_iterms.end(), t) == m_iterms.end(), "CDB");
  if (pos >= m_iterms.size()) m_iterms.resize(pos + 1);
  m_iterms[pos] = t;
}

void CDB_SGATE_NODE::set_output_term(CDB_SGATE_OTERM* t, unsigned pos) {
  PLAT_CHECK(t != nullptr && t->get_my_node() == this, "CDB");
  if (pos < m_oterms.size() && m_oterms[pos] == t) return;
  PLAT_CHECK(std::find(m_oterms.begin(), m_oterms.end(), t) == m_oterms.end(), "CDB");
  if (pos >= m_oterms.size()) m_oterms.resize(pos + 1);
  CDB_SGATE_OTERM* old = m_oterms[pos];
  if (old) {
    // A builder that makes its own terminal may replace the unused one the
    // constructor made; one that carries fan-out cannot be dropped silently.
    PLAT_CHECK(!old->has_fanout(), "CDB");
    on_oterm_removed(old);
    delete old;
  }
  m_oterms[pos] = t;
}

CDB_SGATE_ITERM* CDB_SGATE_NODE::insert_unordered_fanin(CDB_SGATE_OTERM* src) {
  PLAT_CHECK(src != nullptr, "CDB");
  CDB_SGATE_ITERM* t = new CDB_SGATE_ITERM(this);
  m_iterms.push_back(t);
  src->insert_fanout(t);
  return t;
}

void CDB_SGATE_NODE::insert_unordered_fanin_term(CDB_SGATE_ITERM* t) {
  PLAT_CHECK(t != nullptr && t->get_my_node() == this, "CDB");
  PLAT_CHECK(std::find(m_iterms.begin(), m_iterms.end(), t) == m_iterms.end(), "CDB");
  m_iterms.push_back(t);
}

void CDB_SGATE_NODE::insert_unordered_fanout_term(CDB_SGATE_OTERM* t) {
  PLAT_CHECK(t != nullptr && t->get_my_node() == this, "CDB");
  PLAT_CHECK(std::find(m_oterms.begin(), m_oterms.end(), t) == m_oterms.end(), "CDB");
  m_oterms.push_back(t);
}

void CDB_SGATE_NODE::delete_input_term(CDB_SGATE_ITERM* t) {
  PLAT_CHECK(t != nullptr && t->get_my_node() == this, "CDB");
  CDB_SGATE_ITERM** pos = std::find(m_iterms.begin(), m_iterms.end(), t);
  PLAT_CHECK(pos != m_iterms.end(), "CDB");
  size_t i = size_t(pos - m_iterms.begin());
  on_iterm_removed(t);
  t->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_UNCONNECTED);
  // Comb gates and buses are unordered: close the gap. Positional kinds keep
  // the meaning of every other position.
  if (m_type == CDB_SGATE_COMB_ENUM || m_type == CDB_SGATE_TRI_BUS_ENUM) m_iterms.erase(i);
  else m_iterms[i] = nullptr;
  delete t;
}

void CDB_SGATE_NODE::delete_output_term(CDB_SGATE_OTERM* t) {
  PLAT_CHECK(t != nullptr && t->get_my_node() == this, "CDB");
  CDB_SGATE_OTERM** pos = std::find(m_oterms.begin(), m_oterms.end(), t);
  PLAT_CHECK(pos != m_oterms.end(), "CDB");
  on_oterm_removed(t);
  *pos = nullptr;
  delete t;
}

void CDB_SGATE_NODE::set_string_name(const char* text) {
  if (!text) {
    if (m_extra) {
      delete m_extra->m_string_name;
      m_extra->m_string_name = nullptr;
    }
    return;
  }
  std::string*& name = extra().m_string_name;
  if (name) *name = text;
  else name = new std::string(text);
}

void CDB_SGATE_NODE::set_synthesized_name(HDB_INSTANCE_NAME* base) {
  if (base || m_extra) extra().m_synfrom = base;
  set_has_temporary_name(true);
}

std::string CDB_SGATE_NODE::get_debug_name() const { return "N" + std::to_string(m_debug_number); }

void CDB_SGATE_NODE::print_too_long_depth_warning(int depth) const {
  std::string path = get_string_hpath();
  msg_local_debug("CDB", 2, "Depth %d of %s %s (%s) is too long", depth, get_string_type_name(),
                  get_debug_name().c_str(), path.c_str());
}

uint8_t CDB_SGATE_NODE::get_flag_byte(unsigned i) const {
  PLAT_CHECK(i < 4, "CDB");
  return m_bytes[i];
}

void CDB_SGATE_NODE::set_flag_byte(unsigned i, uint8_t v) {
  PLAT_CHECK(i < 4, "CDB");
  m_bytes[i] = v;
}

void CDB_SGATE_NODE::set_kff(bool requested, bool in_force, bool read) {
  set_byte_bits(CDB_KEEP_BYTE, CDB_KEEP_KFF_REQUESTED, requested);
  set_byte_bits(CDB_KEEP_BYTE, CDB_KEEP_KFF_IN_FORCE, in_force);
  set_byte_bits(CDB_KEEP_BYTE, CDB_KEEP_KFF_READ, read);
}

void CDB_SGATE_NODE::add_state_machine_reference(CDB_STATE_MACHINE* m) {
  PLAT_CHECK(m != nullptr, "CDB");
  std::vector<CDB_STATE_MACHINE*>*& machines = extra().m_machines;
  if (!machines) machines = new std::vector<CDB_STATE_MACHINE*>;
  if (std::find(machines->begin(), machines->end(), m) == machines->end()) machines->push_back(m);
}

void CDB_SGATE_NODE::remove_state_machine_reference(CDB_STATE_MACHINE* m) {
  std::vector<CDB_STATE_MACHINE*>* machines = ex().m_machines;
  if (!machines) return;
  auto it = std::find(machines->begin(), machines->end(), m);
  if (it != machines->end()) machines->erase(it);
}

bool CDB_SGATE_NODE::check_kind_invariants(std::string*) const { return true; }

void CDB_SGATE_NODE::clone_base_into(CDB_SGATE_NODE* copy, int clone_type) const {
  PLAT_CHECK(copy != nullptr && (clone_type == 0 || clone_type == 1), "CDB");
  for (int i = 0; i < 4; ++i) copy->m_bytes[i] = m_bytes[i];
  copy->m_synthesized = m_synthesized;
  copy->set_string_name(get_string_name());
  copy->m_iterms.resize(m_iterms.size());
  for (size_t i = 0; i < m_iterms.size(); ++i) {
    const CDB_SGATE_ITERM* t = m_iterms[i];
    if (!t) continue;
    CDB_SGATE_ITERM* c = copy->m_iterms[i];
    if (!c) {
      c = new CDB_SGATE_ITERM(copy);
      copy->m_iterms[i] = c;
    }
    c->set_port_type(t->get_port_type());
    c->set_port_index(t->get_port_index());
    if (t->is_inverted()) c->set_invert();
    else c->clear_invert();
    if (clone_type == 1) {
      if (t->get_source()) t->get_source()->insert_fanout(c);
      else if (t->is_connected()) c->m_bits |= CDB_TERM_CONNECTED;
    }
  }
  if (copy->m_oterms.size() < m_oterms.size()) copy->m_oterms.resize(m_oterms.size());
  for (size_t i = 0; i < copy->m_oterms.size(); ++i) {
    const CDB_SGATE_OTERM* o = i < m_oterms.size() ? m_oterms[i] : nullptr;
    CDB_SGATE_OTERM* c = copy->m_oterms[i];
    if (!o) {
      if (c) copy->delete_output_term(c);
      continue;
    }
    if (!c) {
      c = new CDB_SGATE_OTERM(copy);
      copy->m_oterms[i] = c;
    }
    c->set_port_type(o->get_port_type());
    c->set_port_index(o->get_port_index());
    c->set_term_byte(uint8_t(o->get_term_byte() & CDB_TERM_INVERTED));
  }
}

// ---------------------------------------------------------------------------
// Names and paths. A gate's path is its instance name's full path, else its
// string name, else "~N" and the debug number; a terminal's path uses its
// own instance name, else its gate's path.

unsigned CDB_SGATE_NODE::get_instance_name_id() const { return m_name ? unsigned(m_name->get_id()) : 0u; }

std::string CDB_SGATE_NODE::get_string_hpath() const {
  if (m_name) return m_name->get_short_hpath(0);
  if (ex().m_string_name) return *m_extra->m_string_name;
  return "~N" + std::to_string(m_debug_number);
}

unsigned CDB_SGATE_OTERM::get_instance_name_id() const { return m_name ? unsigned(m_name->get_id()) : 0u; }

std::string CDB_SGATE_OTERM::get_string_hpath() const {
  if (m_name) return m_name->get_short_hpath(0);
  return m_node ? m_node->get_string_hpath() : std::string();
}

std::string CDB_SGATE_ITERM::get_string_hpath() const {
  return m_node ? m_node->get_string_hpath() : std::string();
}

// ---------------------------------------------------------------------------
// CDB_REG_FLAGS

bool CDB_REG_FLAGS::kind_bit(uint8_t bit) const { return (reg_flags_node_c()->get_flag_byte(CDB_KIND_BYTE) & bit) != 0; }

void CDB_REG_FLAGS::set_kind_bit(uint8_t bit, bool v, bool changes_function) {
  CDB_SGATE_NODE* n = reg_flags_node();
  uint8_t b = n->get_flag_byte(CDB_KIND_BYTE);
  uint8_t nb = uint8_t(v ? (b | bit) : (b & ~bit));
  if (nb == b) return;
  n->set_flag_byte(CDB_KIND_BYTE, nb);
  if (changes_function) n->set_changed(true);
}

bool CDB_REG_FLAGS::misc_bit(uint8_t bit) const { return (reg_flags_node_c()->get_flag_byte(CDB_MISC_BYTE) & bit) != 0; }

void CDB_REG_FLAGS::set_misc_bit(uint8_t bit, bool v) {
  CDB_SGATE_NODE* n = reg_flags_node();
  uint8_t b = n->get_flag_byte(CDB_MISC_BYTE);
  n->set_flag_byte(CDB_MISC_BYTE, uint8_t(v ? (b | bit) : (b & ~bit)));
}

bool CDB_REG_FLAGS::powers_up_high() const { return kind_bit(m_high_bit); }
bool CDB_REG_FLAGS::is_power_up_dc() const { return kind_bit(m_dc_bit); }
bool CDB_REG_FLAGS::has_power_up_setting() const { return kind_bit(m_setting_bit); }
void CDB_REG_FLAGS::set_power_up_high(bool v) { set_kind_bit(m_high_bit, v, true); }
void CDB_REG_FLAGS::set_power_up_dc(bool v) { set_kind_bit(m_dc_bit, v, true); }
void CDB_REG_FLAGS::set_has_power_up_setting(bool v) { set_kind_bit(m_setting_bit, v, false); }
bool CDB_REG_FLAGS::sclr_over_ena_priority() const { return misc_bit(CDB_MISC_SCLR_OVER_ENA); }
void CDB_REG_FLAGS::set_sclr_over_ena_priority(bool v) { set_misc_bit(CDB_MISC_SCLR_OVER_ENA, v); }
bool CDB_REG_FLAGS::is_packed() const { return misc_bit(CDB_MISC_PACKED); }
void CDB_REG_FLAGS::set_packed(bool v) { set_misc_bit(CDB_MISC_PACKED, v); }
bool CDB_REG_FLAGS::is_user_clock_enable() const { return misc_bit(CDB_MISC_USER_CLOCK_ENABLE); }
void CDB_REG_FLAGS::set_user_clock_enable(bool v) { set_misc_bit(CDB_MISC_USER_CLOCK_ENABLE, v); }

void CDB_REG_FLAGS::copy_reg_state_from(const CDB_REG_FLAGS& o) {
  m_allow_anything = o.m_allow_anything;
  m_allow_anything_set = o.m_allow_anything_set;
  m_preserve = o.m_preserve;
  m_preserve_set = o.m_preserve_set;
  m_merge = o.m_merge;
  m_merge_set = o.m_merge_set;
  m_prune = o.m_prune;
  m_prune_set = o.m_prune_set;
  m_max_fanout = o.m_max_fanout;
  m_max_fanout_set = o.m_max_fanout_set;
  m_not_gate_push = o.m_not_gate_push;
}

void CDB_REG_FLAGS::copy_flags_from_other_ff(const CDB_SGATE_NODE* other) {
  PLAT_CHECK(other != nullptr && other->get_reg_flags() != nullptr, "CDB");
  const CDB_REG_FLAGS& o = *other->get_reg_flags();
  if (&o == this) return;
  copy_reg_state_from(o);
  // The power-up bits sit at different positions on the two kinds: copy by meaning.
  set_power_up_high(o.powers_up_high());
  set_power_up_dc(o.is_power_up_dc());
  set_has_power_up_setting(o.has_power_up_setting());
  set_sclr_over_ena_priority(o.sclr_over_ena_priority());
  set_packed(o.is_packed());
  set_user_clock_enable(o.is_user_clock_enable());
}
