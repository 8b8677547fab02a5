// wl.cpp — word-level netlist: terminals, nodes, netlist, sweep, clean-up
// (see wl.h).
#include "wl/wl.h"

#include <algorithm>
#include <cstdarg>
#include <unordered_map>

#include "cdb/cdb_sgate.h"
#include "hdb/hdb.h"
#include "msg/msg.h"

unsigned WL_NODE::s_id_counter = 1;
bool WL_MERGER::s_table_inversions = false;

WL_CONST wl_all_ones(unsigned width) {
  WL_CONST v = 1;
  v <<= width;
  return v - 1;
}

// ---------------------------------------------------------------- WL_ITERM

WL_ITERM::WL_ITERM(WL_NODE* owner, unsigned index, unsigned width) : m_node(owner), m_index(index), m_width(width) {}

void WL_ITERM::unhook() {
  if (!m_source) return;
  auto& f = m_source->m_fanouts;
  auto it = std::find(f.begin(), f.end(), this);
  PLAT_CHECK(it != f.end(), "WL");
  f.erase(it);
  m_source = nullptr;
}

void WL_ITERM::connect(WL_OTERM* src, bool inverted) {
  PLAT_CHECK(src != nullptr, "WL");
  unhook();
  m_const = 0;
  m_source = src;
  src->m_fanouts.push_back(this);
  m_flags = (m_flags & WL_ITERM_OPAQUE) | WL_ITERM_IN_USE | (inverted ? WL_ITERM_INVERTED : 0u);
}

void WL_ITERM::disconnect() {
  unhook();
  m_const = 0;
  m_flags &= WL_ITERM_OPAQUE;
}

void WL_ITERM::set_const(const WL_CONST& value) {
  unhook();
  m_const = value & wl_all_ones(std::max(1u, m_width));
  m_flags = (m_flags & WL_ITERM_OPAQUE) | WL_ITERM_IN_USE | WL_ITERM_CONST |
            (boost::multiprecision::bit_test(m_const, 0) ? WL_ITERM_CONST_ONE : 0u);
}

void WL_ITERM::set_vcc() { set_const(wl_all_ones(std::max(1u, m_width))); }
void WL_ITERM::set_gnd() {
  // GND is an inverted VCC; invert() folds into the constant's value.
  set_vcc();
  invert();
}

void WL_ITERM::invert() {
  if (is_const()) {
    set_const(m_const ^ wl_all_ones(std::max(1u, m_width)));
    return;
  }
  m_flags ^= WL_ITERM_INVERTED;
}

void WL_ITERM::set_inverted(bool v) {
  PLAT_CHECK(!is_const() || !v, "WL");
  m_flags = v ? (m_flags | WL_ITERM_INVERTED) : (m_flags & ~WL_ITERM_INVERTED);
}

bool WL_ITERM::is_vcc() const { return is_const() && m_const == wl_all_ones(std::max(1u, m_width)); }
bool WL_ITERM::is_gnd() const { return is_const() && m_const == 0; }
void WL_ITERM::set_opaque(bool v) { m_flags = v ? (m_flags | WL_ITERM_OPAQUE) : (m_flags & ~WL_ITERM_OPAQUE); }
bool WL_ITERM::const_bit(unsigned i) const { return boost::multiprecision::bit_test(m_const, i); }

// ---------------------------------------------------------------- WL_OTERM

void WL_OTERM::move_fanouts_to(WL_OTERM* to, bool invert) {
  PLAT_CHECK(to != this, "WL");
  std::vector<WL_ITERM*> fanouts = m_fanouts;
  for (WL_ITERM* f : fanouts) f->connect(to, f->is_inverted() != invert);
}

// ---------------------------------------------------------------- nodes

WL_NODE::WL_NODE(WL_NODE_TYPE type, HDB_INSTANCE_NAME* name) : m_type(type), m_id(s_id_counter++), m_name(name) {}

WL_NODE::~WL_NODE() {
  for (auto& t : m_iterms) t->disconnect();
  for (auto& o : m_oterms) {
    std::vector<WL_ITERM*> f = o->get_fanouts();
    for (WL_ITERM* t : f) t->disconnect();
  }
}

bool WL_NODE::has_fanout() const {
  for (auto& o : m_oterms)
    if (o->has_fanout()) return true;
  return false;
}

WL_ITERM* WL_NODE::add_iterm(unsigned width) {
  m_iterms.push_back(std::make_unique<WL_ITERM>(this, unsigned(m_iterms.size()), width));
  return m_iterms.back().get();
}

WL_OTERM* WL_NODE::add_oterm(unsigned width) {
  m_oterms.push_back(std::make_unique<WL_OTERM>(this, unsigned(m_oterms.size()), width));
  return m_oterms.back().get();
}

WL_COMB::WL_COMB(CDB_COMB_TYPE type, unsigned width, HDB_INSTANCE_NAME* name)
    : WL_NODE(WL_NODE_TYPE::COMB, name), m_comb_type(type) {
  add_oterm(width);
}

WL_PIN::WL_PIN(int pin_type, unsigned width, HDB_INSTANCE_NAME* name)
    : WL_NODE(WL_NODE_TYPE::PIN, name), m_pin_type(pin_type) {
  add_iterm(width);
  add_oterm(width);
}

WL_BUFFER::WL_BUFFER(int buffer_type, unsigned width, HDB_INSTANCE_NAME* name)
    : WL_NODE(WL_NODE_TYPE::BUFFER, name), m_buffer_type(buffer_type) {
  add_iterm(width);
  add_oterm(width);
}

WL_SPLITTER::WL_SPLITTER(unsigned in_width, bool one_bit_outputs) : WL_NODE(WL_NODE_TYPE::SPLITTER, nullptr) {
  add_iterm(in_width);
  if (one_bit_outputs)
    for (unsigned i = 0; i < in_width; ++i) add_slice(i, 1);
}

WL_OTERM* WL_SPLITTER::add_slice(unsigned lo, unsigned width) {
  PLAT_CHECK(lo + width <= get_iterm(0)->width(), "WL");
  m_lo.push_back(lo);
  return add_oterm(width);
}

void WL_SPLITTER::push_iterm_inversions_to_fanout() {
  WL_ITERM* in = get_iterm(0);
  if (!in->is_inverted()) return;
  in->set_inverted(false);
  for (unsigned o = 0; o < get_output_count(); ++o)
    for (WL_ITERM* f : get_oterm(o)->get_fanouts()) f->set_inverted(!f->is_inverted());
}

WL_MERGER::WL_MERGER(unsigned width, unsigned num_inputs, HDB_INSTANCE_NAME* name)
    : WL_NODE(WL_NODE_TYPE::MERGER, name), m_table(width) {
  for (unsigned i = 0; i < num_inputs; ++i) add_iterm(1);
  add_oterm(width);
}

void WL_MERGER::register_entry(unsigned input, unsigned bit, bool inv, unsigned out_bit) {
  PLAT_CHECK(out_bit < m_table.size(), "WL");
  PLAT_CHECK(input < get_input_count(), "WL");
  PLAT_CHECK(!inv || s_table_inversions, "WL");
  m_table[out_bit] = WL_MERGER_ENTRY{input, bit, inv};
}

void WL_MERGER::absorb_iterm_inversions_in_table() {
  for (unsigned i = 0; i < get_input_count(); ++i) {
    WL_ITERM* t = get_iterm(i);
    if (!t->is_inverted()) continue;
    t->set_inverted(false);
    for (WL_MERGER_ENTRY& e : m_table)
      if (e.input == i) e.invert = !e.invert;
  }
}

WL_MUX21::WL_MUX21(unsigned width, HDB_INSTANCE_NAME* name) : WL_NODE(WL_NODE_TYPE::MUX21, name) {
  add_iterm(width);
  add_iterm(width);
  add_iterm(1);
  add_oterm(width);
}

WL_MUX_BASE::WL_MUX_BASE(WL_NODE_TYPE type, unsigned num_data, unsigned num_select, unsigned width,
                         HDB_INSTANCE_NAME* name)
    : WL_NODE(type, name), m_num_data(num_data), m_num_select(num_select) {
  for (unsigned i = 0; i < num_data; ++i) add_iterm(width);
  for (unsigned i = 0; i < num_select; ++i) add_iterm(1);
  add_oterm(width);
}

WL_SHIFTER::WL_SHIFTER(int type, unsigned num_data, unsigned num_amount, unsigned width, HDB_INSTANCE_NAME* name)
    : WL_NODE(WL_NODE_TYPE::SHIFTER, name), m_type(type), m_num_data(num_data), m_num_amount(num_amount) {
  for (unsigned i = 0; i < num_data; ++i) add_iterm(width);
  for (unsigned i = 0; i < num_amount; ++i) add_iterm(1);
  add_iterm(1);
  for (unsigned i = 0; i < num_data; ++i) add_oterm(width);
}

WL_ROTATOR::WL_ROTATOR(int type, unsigned num_data, unsigned num_amount, unsigned width, HDB_INSTANCE_NAME* name)
    : WL_NODE(WL_NODE_TYPE::ROTATOR, name), m_type(type), m_num_data(num_data), m_num_amount(num_amount) {
  for (unsigned i = 0; i < num_data; ++i) add_iterm(width);
  for (unsigned i = 0; i < num_amount; ++i) add_iterm(1);
  for (unsigned i = 0; i < num_data; ++i) add_oterm(width);
}

WL_SYNCHRONOUS_RAM::WL_SYNCHRONOUS_RAM(const int* size_parameters, const unsigned* input_widths,
                                       const unsigned* output_widths, HDB_INSTANCE_NAME* name)
    : WL_NODE(WL_NODE_TYPE::SYNCHRONOUS_RAM, name) {
  for (unsigned i = 0; i < kNumSizeParameters; ++i) m_size[i] = size_parameters[i];
  for (unsigned i = 0; i < kNumInputs; ++i) add_iterm(input_widths[i]);
  for (unsigned i = 0; i < kNumOutputs; ++i) add_oterm(output_widths[i]);
}

uint8_t WL_SYNCHRONOUS_RAM::get_port_mode_byte(unsigned i) const {
  PLAT_CHECK(i < kNumPortModes, "WL");
  return m_port_mode[i];
}

void WL_SYNCHRONOUS_RAM::set_port_mode_byte(unsigned i, uint8_t v) {
  PLAT_CHECK(i < kNumPortModes, "WL");
  m_port_mode[i] = v;
}

void WL_SYNCHRONOUS_RAM::set_option_bits(uint8_t v) {
  PLAT_CHECK((v & 0x80) == 0, "WL");
  m_option_bits = v;
}

WL_DECODER::WL_DECODER(unsigned address_width, unsigned decode_width, HDB_INSTANCE_NAME* name)
    : WL_NODE(WL_NODE_TYPE::DECODER, name) {
  for (unsigned i = 0; i < address_width; ++i) add_iterm(1);
  for (unsigned j = 0; j < decode_width; ++j) add_oterm(1);
}

WL_ADDER::WL_ADDER(bool mode, unsigned width, HDB_INSTANCE_NAME* name)
    : WL_NODE(WL_NODE_TYPE::ADDER, name), m_width(width), m_mode(mode ? 1 : 0) {
  add_iterm(width);
  add_iterm(width);
  add_iterm(1);
  add_oterm(width);
  add_oterm(1);
}

WL_ADDSUB::WL_ADDSUB(bool mode, unsigned wa, unsigned wb, HDB_INSTANCE_NAME* name)
    : WL_NODE(WL_NODE_TYPE::ADDSUB, name), m_widths{wa, wb}, m_mode(mode ? 1 : 0) {
  add_iterm(wa);
  add_iterm(wb);
  add_iterm(1);
  add_oterm(std::max(wa, wb));
}

WL_MULTIPLIER::WL_MULTIPLIER(bool mode, unsigned wa, unsigned wb, HDB_INSTANCE_NAME* name)
    : WL_NODE(WL_NODE_TYPE::MULT, name), m_widths{wa, wb}, m_mode(mode ? 1 : 0) {
  add_iterm(wa);
  add_iterm(wb);
  add_oterm(wa + wb);
}

WL_LESS_THAN::WL_LESS_THAN(unsigned width, HDB_INSTANCE_NAME* name) : WL_NODE(WL_NODE_TYPE::LESS_THAN, name) {
  add_iterm(width);
  add_iterm(width);
  add_iterm(1);
  add_oterm(1);
}

WL_EQUAL::WL_EQUAL(unsigned width, HDB_INSTANCE_NAME* name) : WL_NODE(WL_NODE_TYPE::EQUAL, name) {
  add_iterm(width);
  add_iterm(width);
  add_oterm(1);
}

WL_LUT::WL_LUT(int lut_type, const CDB_LUTMASK& mask, unsigned width, HDB_INSTANCE_NAME* name)
    : WL_NODE(WL_NODE_TYPE::LUT, name), m_lut_type(lut_type), m_mask(mask) {
  unsigned n = lut_type == 0 ? 6 : lut_type == 1 ? 7 : 8;
  for (unsigned i = 0; i < n; ++i) add_iterm(width);
  add_oterm(width);
}

WL_DFF::WL_DFF(unsigned width, HDB_INSTANCE_NAME* name) : WL_NODE(WL_NODE_TYPE::DFF, name) {
  for (unsigned i = 0; i < CDB_DFF_NUM_PORTS; ++i)
    add_iterm(i == CDB_DFF_DATA || i == CDB_DFF_ADATA ? width : 1);
  add_oterm(width);
}

void WL_DFF::set_bit_instance_name(unsigned bit, HDB_INSTANCE_NAME* n) {
  if (m_bit_names.size() <= bit) m_bit_names.resize(bit + 1, nullptr);
  m_bit_names[bit] = n;
}
HDB_INSTANCE_NAME* WL_DFF::get_bit_instance_name(unsigned bit) const {
  return bit < m_bit_names.size() ? m_bit_names[bit] : nullptr;
}
void WL_DFF::set_bit_has_temporary_name(unsigned bit, bool v) {
  if (m_bit_temp.size() <= bit) m_bit_temp.resize(bit + 1, false);
  m_bit_temp[bit] = v;
}
bool WL_DFF::bit_has_temporary_name(unsigned bit) const { return bit < m_bit_temp.size() && m_bit_temp[bit]; }

WL_LATCH::WL_LATCH(unsigned width, HDB_INSTANCE_NAME* name) : WL_NODE(WL_NODE_TYPE::LATCH, name) {
  add_iterm(width);
  for (int i = 1; i < CDB_LATCH_NUM_PORTS; ++i) add_iterm(1);
  add_oterm(width);
}

WL_WYSIWYG::WL_WYSIWYG(CDB_SGATE_WYSIWYG* atom, WL_NETLIST* netlist, HDB_INSTANCE_NAME* name)
    : WL_NODE(WL_NODE_TYPE::WYSIWYG, name), m_atom(atom) {
  PLAT_CHECK(atom != nullptr, "WL");
  (void)netlist;
  const kavu_platform::ATOM_CATALOGUE_ENTRY& e = atom->get_catalogue_entry();
  for (const kavu_platform::ATOM_PORT& p : e.m_inputs) {
    m_in_ports.push_back(DB_INPUT_PORT_TYPE(p.m_port_type));
    add_iterm(p.m_width);
  }
  for (const kavu_platform::ATOM_PORT& p : e.m_outputs) {
    m_out_ports.push_back(DB_OUTPUT_PORT_TYPE(p.m_port_type));
    add_oterm(p.m_width);
  }
}

CDB_WYSIWYG_TYPE WL_WYSIWYG::get_wysiwyg_type() const { return m_atom->get_wysiwyg_type(); }

unsigned WL_WYSIWYG::get_iterm_index(DB_INPUT_PORT_TYPE port) const {
  for (unsigned i = 0; i < m_in_ports.size(); ++i)
    if (m_in_ports[i] == port) return i;
  return CDB_ILLEGAL_PORT;
}

unsigned WL_WYSIWYG::get_oterm_index(DB_OUTPUT_PORT_TYPE port) const {
  for (unsigned i = 0; i < m_out_ports.size(); ++i)
    if (m_out_ports[i] == port) return i;
  return CDB_ILLEGAL_PORT;
}

WL_COMPONENT::WL_COMPONENT(unsigned num_inputs, unsigned num_outputs, bool is_port_prototype_known,
                           HDB_INSTANCE_NAME* name)
    : WL_NODE(WL_NODE_TYPE::COMPONENT, name), m_prototype_known(is_port_prototype_known) {
  m_ports.reserve(num_inputs + num_outputs);
}

WL_ITERM* WL_COMPONENT::create_iterm(const std::string& name, unsigned width, bool is_bus) {
  PLAT_CHECK(!get_iterm_by_name(name) && !get_oterm_by_name(name), "WL");
  WL_COMPONENT_PORT_ENTRY e;
  e.name = name;
  e.is_bus = is_bus;
  e.iterm = add_iterm(width);
  m_ports.push_back(e);
  return e.iterm;
}

WL_OTERM* WL_COMPONENT::create_oterm(const std::string& name, unsigned width, bool is_bus) {
  PLAT_CHECK(!get_iterm_by_name(name) && !get_oterm_by_name(name), "WL");
  WL_COMPONENT_PORT_ENTRY e;
  e.name = name;
  e.is_bus = is_bus;
  e.oterm = add_oterm(width);
  m_ports.push_back(e);
  return e.oterm;
}

WL_ITERM* WL_COMPONENT::get_iterm_by_name(const std::string& name) const {
  for (const WL_COMPONENT_PORT_ENTRY& e : m_ports)
    if (e.iterm && e.name == name) return e.iterm;
  return nullptr;
}

WL_OTERM* WL_COMPONENT::get_oterm_by_name(const std::string& name) const {
  for (const WL_COMPONENT_PORT_ENTRY& e : m_ports)
    if (e.oterm && e.name == name) return e.oterm;
  return nullptr;
}

const WL_COMPONENT_PORT_ENTRY* WL_COMPONENT::get_iterm_entry(const WL_ITERM* t) const {
  for (const WL_COMPONENT_PORT_ENTRY& e : m_ports)
    if (e.iterm == t) return &e;
  return nullptr;
}

const WL_COMPONENT_PORT_ENTRY* WL_COMPONENT::get_oterm_entry(const WL_OTERM* t) const {
  for (const WL_COMPONENT_PORT_ENTRY& e : m_ports)
    if (e.oterm == t) return &e;
  return nullptr;
}

void WL_COMPONENT::set_parameter(const std::string& name, const std::string& value, int type) {
  for (WL_COMPONENT_PARAMETER& p : m_parameters)
    if (p.name == name) {
      p.value = value;
      p.type = type;
      return;
    }
  m_parameters.push_back(WL_COMPONENT_PARAMETER{name, value, type});
}

// ---------------------------------------------------------------- netlist

WL_NETLIST::WL_NETLIST(const std::string& name) : m_name(name) {}

WL_NETLIST::~WL_NETLIST() {
  // Fan-outs first, so destroying in any order leaves no dangling link.
  for (WL_NODE* n : m_nodes)
    for (unsigned i = 0; i < n->get_input_count(); ++i) n->get_iterm(i)->disconnect();
  for (WL_NODE* n : m_nodes) delete n;
}

void WL_NETLIST::add_node(WL_NODE* node) {
  PLAT_CHECK(node != nullptr && node->m_netlist == nullptr, "WL");
  node->m_netlist = this;
  m_nodes.push_back(node);
}

void WL_NETLIST::delete_node(WL_NODE* node) {
  PLAT_CHECK(node != nullptr && node->m_netlist == this, "WL");
  auto it = std::find(m_nodes.begin(), m_nodes.end(), node);
  PLAT_CHECK(it != m_nodes.end(), "WL");
  m_nodes.erase(it);
  delete node;
}

void WL_NETLIST::remove_nodes(const std::vector<char>& dead) {
  std::vector<WL_NODE*> keep;
  keep.reserve(m_nodes.size());
  for (size_t i = 0; i < m_nodes.size(); ++i)
    if (dead[i]) {
      for (unsigned t = 0; t < m_nodes[i]->get_input_count(); ++t) m_nodes[i]->get_iterm(t)->disconnect();
    } else {
      keep.push_back(m_nodes[i]);
    }
  for (size_t i = 0; i < m_nodes.size(); ++i)
    if (dead[i]) delete m_nodes[i];
  m_nodes.swap(keep);
}

namespace {

bool wl_is_keeper(WL_NODE* n) {
  switch (n->get_node_type()) {
    case WL_NODE_TYPE::PIN:
    case WL_NODE_TYPE::WYSIWYG:
    case WL_NODE_TYPE::COMPONENT:
    case WL_NODE_TYPE::SYNCHRONOUS_RAM:
      return true;
    case WL_NODE_TYPE::DFF: {
      WL_DFF* d = n->cast_to_dff();
      return d->is_preserved() || d->is_dont_touch();
    }
    default:
      return false;
  }
}

}  // namespace

int WL_NETLIST::sweep(bool aggressive) {
  PLAT_CHECK(!aggressive, "WL");
  std::unordered_map<const WL_NODE*, size_t> pos;
  for (size_t i = 0; i < m_nodes.size(); ++i) pos[m_nodes[i]] = i;
  // Count live fan-outs per node; peel nodes whose count reaches zero.
  std::vector<unsigned> fanouts(m_nodes.size(), 0);
  for (size_t i = 0; i < m_nodes.size(); ++i)
    for (unsigned o = 0; o < m_nodes[i]->get_output_count(); ++o)
      fanouts[i] += unsigned(m_nodes[i]->get_oterm(o)->get_fanouts().size());
  std::vector<char> dead(m_nodes.size(), 0);
  std::vector<size_t> stack;
  for (size_t i = 0; i < m_nodes.size(); ++i)
    if (fanouts[i] == 0 && !wl_is_keeper(m_nodes[i])) stack.push_back(i);
  int removed = 0;
  while (!stack.empty()) {
    size_t i = stack.back();
    stack.pop_back();
    if (dead[i]) continue;
    dead[i] = 1;
    ++removed;
    WL_NODE* n = m_nodes[i];
    for (unsigned t = 0; t < n->get_input_count(); ++t) {
      WL_OTERM* s = n->get_iterm(t)->get_source();
      if (!s) continue;
      size_t j = pos[s->get_my_node()];
      if (--fanouts[j] == 0 && !wl_is_keeper(m_nodes[j])) stack.push_back(j);
    }
  }
  if (removed) remove_nodes(dead);
  return removed;
}

int wl_remove_unreachable_nodes(WL_NETLIST* netlist) {
  PLAT_CHECK(netlist != nullptr, "WL");
  auto& nodes = netlist->m_nodes;
  std::unordered_map<const WL_NODE*, size_t> pos;
  for (size_t i = 0; i < nodes.size(); ++i) pos[nodes[i]] = i;
  std::vector<char> live(nodes.size(), 0);
  std::vector<size_t> stack;
  for (size_t i = 0; i < nodes.size(); ++i)
    if (wl_is_keeper(nodes[i])) {
      live[i] = 1;
      stack.push_back(i);
    }
  while (!stack.empty()) {
    WL_NODE* n = nodes[stack.back()];
    stack.pop_back();
    for (unsigned t = 0; t < n->get_input_count(); ++t) {
      WL_OTERM* s = n->get_iterm(t)->get_source();
      if (!s) continue;
      size_t j = pos[s->get_my_node()];
      if (!live[j]) {
        live[j] = 1;
        stack.push_back(j);
      }
    }
  }
  std::vector<char> dead(nodes.size(), 0);
  int removed = 0;
  for (size_t i = 0; i < nodes.size(); ++i)
    if (!live[i]) {
      dead[i] = 1;
      ++removed;
    }
  if (removed) netlist->remove_nodes(dead);
  return removed;
}

WL_NETLIST* wl_create_netlist(const char* name) { return new WL_NETLIST(name ? name : ""); }

// ---------------------------------------------------------------- clean-up

namespace {

// One resolved bit: a bit of a non-merger, non-splitter output, or a constant.
struct WL_BIT {
  WL_OTERM* src = nullptr;  // null: constant
  unsigned bit = 0;
  bool inv = false;  // for a constant: its value
};

// Follows a bit back through mergers and splitters, composing inversions by
// XOR (table entry, merger input, splitter input).
WL_BIT wl_resolve_bit(WL_OTERM* oterm, unsigned bit, size_t max_steps) {
  bool inv = false;
  for (size_t step = 0;; ++step) {
    PLAT_CHECK(step <= max_steps, "WL");
    WL_NODE* n = oterm->get_my_node();
    WL_ITERM* in = nullptr;
    unsigned in_bit = 0;
    if (WL_MERGER* m = n->cast_to_merger()) {
      const WL_MERGER_ENTRY& e = m->get_table_entry(bit);
      in = m->get_iterm(e.input);
      in_bit = e.bit;
      inv ^= e.invert;
    } else if (WL_SPLITTER* s = n->cast_to_splitter()) {
      in = s->get_iterm(0);
      in_bit = s->get_slice_lo(oterm->get_index()) + bit;
    } else {
      return WL_BIT{oterm, bit, inv};
    }
    if (in->is_const() || !in->get_source()) {
      // An unconnected merger or splitter input reads 0.
      bool v = in->is_const() && in->const_bit(in_bit);
      return WL_BIT{nullptr, 0, bool(v ^ inv)};
    }
    inv ^= in->is_inverted();
    oterm = in->get_source();
    bit = in_bit;
  }
}

bool wl_is_wiring(const WL_NODE* n) {
  return n->get_node_type() == WL_NODE_TYPE::MERGER || n->get_node_type() == WL_NODE_TYPE::SPLITTER;
}

// What a vector of resolved bits becomes: one whole source (maybe inverted),
// a new flat merger, or a constant.
struct WL_BITS_SOURCE {
  WL_OTERM* src = nullptr;  // null: constant
  bool inv = false;
  WL_CONST value = 0;
};

// True when the bits are every bit of one source, in order, all with the
// same inversion: the whole source (maybe inverted) stands for them.
bool wl_bits_are_whole_source(const std::vector<WL_BIT>& bits) {
  WL_OTERM* s0 = bits.empty() ? nullptr : bits[0].src;
  if (!s0 || s0->width() != bits.size()) return false;
  for (unsigned i = 0; i < bits.size(); ++i)
    if (bits[i].src != s0 || bits[i].bit != i || bits[i].inv != bits[0].inv) return false;
  return true;
}

bool wl_bits_are_constant(const std::vector<WL_BIT>& bits) {
  for (const WL_BIT& b : bits)
    if (b.src) return false;
  return true;
}

WL_BITS_SOURCE wl_source_for_bits(WL_NETLIST* netlist, const std::vector<WL_BIT>& bits) {
  const unsigned w = unsigned(bits.size());
  WL_BITS_SOURCE r;
  if (wl_bits_are_constant(bits)) {
    for (unsigned i = 0; i < w; ++i)
      if (bits[i].inv) boost::multiprecision::bit_set(r.value, i);
    return r;
  }
  if (wl_bits_are_whole_source(bits)) {
    r.src = bits[0].src;
    r.inv = bits[0].inv;
    return r;
  }
  // Distinct sources in order of first use; one input per constant bit.
  std::vector<WL_OTERM*> srcs;
  std::vector<unsigned> input_of(w);
  std::unordered_map<WL_OTERM*, unsigned> index;
  for (unsigned i = 0; i < w; ++i) {
    if (!bits[i].src) {
      input_of[i] = unsigned(srcs.size());
      srcs.push_back(nullptr);
      continue;
    }
    auto it = index.find(bits[i].src);
    if (it == index.end()) {
      index[bits[i].src] = unsigned(srcs.size());
      input_of[i] = unsigned(srcs.size());
      srcs.push_back(bits[i].src);
    } else {
      input_of[i] = it->second;
    }
  }
  WL_MERGER* m = new WL_MERGER(w, unsigned(srcs.size()));
  netlist->add_node(m);
  for (unsigned k = 0; k < srcs.size(); ++k)
    if (srcs[k]) {
      m->get_iterm(k)->set_width(srcs[k]->width());
      m->get_iterm(k)->connect(srcs[k], false);
    }
  for (unsigned i = 0; i < w; ++i) {
    WL_MERGER_ENTRY e;
    e.input = input_of[i];
    if (bits[i].src) {
      e.bit = bits[i].bit;
      e.invert = bits[i].inv;
    } else if (bits[i].inv) {
      m->get_iterm(e.input)->set_vcc();
    } else {
      m->get_iterm(e.input)->set_gnd();
    }
    m->set_entry_internal(i, e);
  }
  r.src = m->get_first_oterm();
  return r;
}

// Every reader of `out` reads `target` instead, its own inversion composed.
void wl_move_readers(WL_OTERM* out, const WL_BITS_SOURCE& target) {
  std::vector<WL_ITERM*> readers = out->get_fanouts();
  for (WL_ITERM* r : readers) {
    if (target.src) {
      r->connect(target.src, r->is_inverted() != target.inv);
    } else {
      WL_CONST v = target.value;
      if (r->is_inverted()) v ^= wl_all_ones(out->width());
      r->set_const(v);
    }
  }
}

}  // namespace

void wutil_clean_up_mergers_and_splitters(WL_NETLIST* netlist) {
  PLAT_CHECK(netlist != nullptr, "WL");
  // Each round replaces the outputs of every wiring node that reads wiring
  // (and of every wiring node that is a plain copy of one source) by flat
  // mergers or sources. A flat merger reads non-wiring sources only, so each
  // round removes one level of splitters; a loop made of wiring alone is an
  // internal error inside the resolution.
  for (size_t round = 0;; ++round) {
    PLAT_CHECK(round <= netlist->size() + 1, "WL");
    bool changed = false;
    std::vector<WL_NODE*> nodes(netlist->begin_node_list(), netlist->end_node_list());
    for (WL_NODE* n : nodes) {
      if (!wl_is_wiring(n) || !n->has_fanout()) continue;
      bool reads_wiring = false;
      for (unsigned i = 0; i < n->get_input_count(); ++i) {
        WL_ITERM* in = n->get_iterm(i);
        reads_wiring |= in->get_source() && wl_is_wiring(in->get_source()->get_my_node());
      }
      for (unsigned o = 0; o < n->get_output_count(); ++o) {
        WL_OTERM* out = n->get_oterm(o);
        if (!out->has_fanout()) continue;
        std::vector<WL_BIT> bits(out->width());
        for (unsigned i = 0; i < out->width(); ++i) bits[i] = wl_resolve_bit(out, i, netlist->size());
        if (!reads_wiring && !wl_bits_are_whole_source(bits) && !wl_bits_are_constant(bits)) continue;
        wl_move_readers(out, wl_source_for_bits(netlist, bits));
        changed = true;
      }
    }
    // Wiring without readers goes.
    std::vector<char> dead(netlist->m_nodes.size(), 0);
    bool any = false;
    for (size_t i = 0; i < netlist->m_nodes.size(); ++i)
      if (wl_is_wiring(netlist->m_nodes[i]) && !netlist->m_nodes[i]->has_fanout()) dead[i] = any = true;
    if (any) netlist->remove_nodes(dead);
    if (!changed) break;
  }
}

void wutil_clean_up_arithmetic_extension_mergers(WL_NETLIST* netlist) { PLAT_CHECK(netlist != nullptr, "WL"); }

// ---------------------------------------------------------------- queries

std::string wl_get_string_hpath(const WL_NODE* node) {
  if (!node) return "";
  if (node->get_instance_name()) return node->get_instance_name()->get_short_hpath(0);
  return "~WL" + std::to_string(node->get_id());
}

bool wl_is_arithmetic(const WL_NODE* node) {
  if (!node) return false;
  WL_NODE_TYPE t = node->get_node_type();
  return t == WL_NODE_TYPE::ADDER || t == WL_NODE_TYPE::ADDSUB || t == WL_NODE_TYPE::MULT;
}

bool wl_is_dff(const WL_NODE* node) { return node && node->get_node_type() == WL_NODE_TYPE::DFF; }

namespace {
void wl_debug(const char* format, ...) {
  va_list args;
  va_start(args, format);
  msg_local_vdebug("WL", MSG_D_LEVEL(2), format, args);
  va_end(args);
}
}  // namespace

void wl_dump_netlist(const WL_NETLIST* netlist, const char* label) {
  PLAT_CHECK(netlist != nullptr, "WL");
  if (!MSG_D::debug_messages_enabled("WL")) return;
  wl_debug("WL netlist %s (%s): %zu nodes", netlist->get_name().c_str(), label ? label : "", netlist->size());
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    const WL_NODE* n = *it;
    std::string text;
    for (unsigned i = 0; i < n->get_input_count(); ++i) {
      const WL_ITERM* t = n->get_iterm(i);
      text += " i" + std::to_string(i) + "[" + std::to_string(t->width()) + "]=";
      if (t->is_const())
        text += "const";
      else if (t->get_source())
        text += std::string(t->is_inverted() ? "!" : "") + std::to_string(t->get_source()->get_my_node()->get_id()) +
                "." + std::to_string(t->get_source()->get_index());
      else
        text += "-";
    }
    wl_debug("  %u type %d %s width %u:%s", n->get_id(), int(n->get_node_type()), wl_get_string_hpath(n).c_str(),
             n->get_first_oterm() ? n->get_first_oterm()->width() : 0u, text.c_str());
  }
}

namespace kavu_platform {
void wl_test_reset() {
  WL_NODE::s_id_counter = 1;
  WL_MERGER::disable_table_inversions();
}
}  // namespace kavu_platform
