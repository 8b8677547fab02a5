// kavu_subnet.cpp — sub-netlist extraction and stitch-back (model in
// kavu_subnet.h) and the tri-state chain repair that follows a stitch-back.
//
// Rewiring never walks a fan-out chain it edits: each chain is copied into
// the builder's scratch vector first. Gates leave a netlist before they join
// another (a gate is linked in one netlist at a time).
#include "kavu_subnet.h"

#include <algorithm>
#include <cstdio>

#include "cfg/cfg.h"
#include "cmp/cmp.h"
#include "hdb/hdb.h"
#include "kavu_check.h"
#include "kavu_helper_predicates.h"
#include "kavu_msg.h"

namespace {

// The primitive source component of names made for synthesis pins.
const int SUBNET_PIN_PRIMITIVE = 88;

const char* hpath_text(const std::string& s) { return s.c_str(); }

// The value a tied input terminal delivers: VCC unless its inversion is set.
bool tied_value(const CDB_SGATE_ITERM* t) { return !t->is_inverted(); }

}  // namespace

KAVU_SUBNET::KAVU_SUBNET(CDB_SGATE_NETLIST* full_netlist, CMP_FACADE* facade,
                         CDB_SGATE_NETLIST::NODE_INFO_FN set_info, CDB_SGATE_NETLIST::NODE_INFO_FN reset_info)
    : m_full_netlist(full_netlist),
      m_facade(facade),
      m_debug(cfg_is_on("kavu_subnet_debug", false)),
      m_set_info(set_info),
      m_reset_info(reset_info) {
  KAVU_CHECK(full_netlist);
  KAVU_CHECK(facade);
}

KAVU_SUBNET::~KAVU_SUBNET() {
  kavu_subnet_clear();
  // Release the storage, not only the contents.
  std::vector<CDB_SGATE_NODE*>().swap(m_internal_nodes);
  std::vector<CDB_SGATE_OTERM*>().swap(m_fanin_oterms);
  std::vector<CDB_SGATE_OTERM*>().swap(m_fanout_oterms);
  std::vector<CDB_SGATE_ITERM*>().swap(m_scratch_fanouts);
}

CDB_SGATE_IO* KAVU_SUBNET::get_output_pin_of(CDB_SGATE_OTERM* fanout_oterm) const {
  auto it = m_oterm_to_output_pin.find(fanout_oterm);
  return it == m_oterm_to_output_pin.end() ? nullptr : it->second;
}

CDB_SGATE_IO* KAVU_SUBNET::get_input_pin_of(CDB_SGATE_OTERM* fanin_oterm) const {
  auto it = m_oterm_to_input_pin.find(fanin_oterm);
  return it == m_oterm_to_input_pin.end() ? nullptr : it->second;
}

void KAVU_SUBNET::kavu_subnet_create(std::vector<CDB_SGATE_NODE*>& new_nodes) {
  KAVU_CHECK(m_subnetlist == nullptr);
  if (m_debug) kavu_debug("Creating subnetlist... ");
  m_new_nodes = &new_nodes;
  m_subnetlist = new CDB_SGATE_NETLIST();
  m_subnetlist->set_is_partition_netlist(true);
  m_subnetlist->set_info_functions_and_allocate(m_set_info, m_reset_info);
  m_subnetlist->prepare_for_use();
  m_internal_flag = m_full_netlist->get_flag_manager().create_flag("kavu_subnet_internal");
  kavu_subnet_collect_boundary();
  kavu_subnet_move_into();
  release_internal_flag();
  m_new_nodes = nullptr;  // the caller's vector is read during this call only
}

void KAVU_SUBNET::release_internal_flag() {
  if (m_internal_flag.is_null()) return;
  // The moved gates are no longer the full netlist's, so its manager would
  // not clear them: clear them here, then free the bit.
  for (CDB_SGATE_NODE* node : m_internal_nodes) node->reset_dyn_flag(m_internal_flag);
  m_full_netlist->get_flag_manager().destroy_flag(m_internal_flag);
  m_internal_flag = GEN_DYN_FLAG();
}

// ---------------------------------------------------------------- boundary

void KAVU_SUBNET::kavu_subnet_collect_boundary() {
  KAVU_CHECK(m_new_nodes && m_subnetlist);
  if (m_debug) kavu_debug("Filling sets and vectors of fanin and fanout oterms...");
  // Validate everything before anything is recorded: each gate linked in the
  // full netlist, each once.
  for (CDB_SGATE_NODE* node : *m_new_nodes) KAVU_CHECK(node && node->get_netlist() == m_full_netlist);
  m_internal_nodes.assign(m_new_nodes->begin(), m_new_nodes->end());
  std::sort(m_internal_nodes.begin(), m_internal_nodes.end());
  const bool each_gate_once =
      std::adjacent_find(m_internal_nodes.begin(), m_internal_nodes.end()) == m_internal_nodes.end();
  KAVU_CHECK(each_gate_once);
  if (!m_internal_flag.is_null())
    for (CDB_SGATE_NODE* node : *m_new_nodes) node->set_dyn_flag(m_internal_flag);

  for (CDB_SGATE_NODE* node : *m_new_nodes) {
    const int n_in = node->get_number_of_input_terms();
    for (int i = 0; i < n_in; ++i) {
      CDB_SGATE_ITERM* t = node->get_input_term(i);
      if (!t) continue;
      CDB_SGATE_OTERM* s = t->get_source();
      if (!s || is_internal(s->get_my_node())) continue;
      if (m_debug && node->get_sgate_type() == CDB_SGATE_TRI_BUS_ENUM)
        kavu_debug("tribus %s %s has feeder %s %s", node->get_debug_name().c_str(), hpath_text(node->get_string_hpath()),
                   s->get_my_node()->get_debug_name().c_str(), hpath_text(s->get_my_node()->get_string_hpath()));
      if (m_fanin_oterm_set.insert(s).second) m_fanin_oterms.push_back(s);
    }
    const int n_out = node->get_output_count();
    for (int o = 0; o < n_out; ++o) {
      CDB_SGATE_OTERM* out = node->get_output_term(o);
      if (!out) continue;
      for (CDB_SGATE_ITERM* sink : out->fanouts()) {
        if (is_internal(sink->get_my_node())) continue;
        if (m_fanout_oterm_set.insert(out).second) m_fanout_oterms.push_back(out);
        break;
      }
    }
  }
  if (m_debug)
    kavu_debug("Done filling sets: %d fanin oterms, %d fanout oterms, %d internal gates", int(m_fanin_oterms.size()),
               int(m_fanout_oterms.size()), int(m_internal_nodes.size()));
}

// ---------------------------------------------------------------- move

void KAVU_SUBNET::move_sinks(CDB_SGATE_OTERM* from, CDB_SGATE_OTERM* to, bool internal_sinks) {
  from->copy_fanouts(m_scratch_fanouts);
  for (CDB_SGATE_ITERM* sink : m_scratch_fanouts) {
    if (is_internal(sink->get_my_node()) != internal_sinks) continue;
    const bool inverted = sink->is_inverted();
    sink->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_UNCONNECTED);
    to->insert_fanout(sink);
    if (inverted) sink->set_invert();
    else sink->clear_invert();
  }
}

void KAVU_SUBNET::kavu_subnet_move_into() {
  KAVU_CHECK(m_new_nodes && m_subnetlist);
  if (m_debug) kavu_debug("Creating a subnetlist...");
  for (CDB_SGATE_NODE* node : m_full_netlist->get_node_list())
    if (node) node->clear_deletion_mark();

  // Pins are named under the parent of the first new gate that has a name.
  HDB_INSTANCE_NAME* parent = nullptr;
  bool some_named = false;
  for (CDB_SGATE_NODE* node : *m_new_nodes) {
    if (!node->get_instance_name()) continue;
    some_named = true;
    parent = node->get_instance_name()->get_parent();
    break;
  }
  if (!parent && m_debug)
    kavu_debug("Didn't find parent name (%d internal nodes, found %swith name)", int(m_internal_nodes.size()),
               some_named ? "some " : "none ");

  int number = 0;
  // Each pin is owned (linked, or recorded as a temporary) before it is
  // named, so that a naming failure leaves nothing for clear() to miss.
  for (CDB_SGATE_OTERM* s : m_fanin_oterms) {
    CDB_SGATE_IO* pin = new CDB_SGATE_IO(nullptr, CDB_IO_INPUT);
    m_subnetlist->add_node(pin, true);
    m_input_pin_to_oterm[pin] = s;
    m_oterm_to_input_pin[s] = pin;
    kavu_subnet_make_pin_name(pin, number++, parent);
  }
  for (CDB_SGATE_OTERM* out : m_fanout_oterms) {
    CDB_SGATE_IO* pin = new CDB_SGATE_IO(nullptr, CDB_IO_OUTPUT);
    if (!pin->get_input_term(0)) pin->set_input_term(new CDB_SGATE_ITERM(pin), 0);
    m_subnetlist->add_node(pin, true);
    m_output_pin_to_oterm[pin] = out;
    m_oterm_to_output_pin[out] = pin;
    kavu_subnet_make_pin_name(pin, number++, parent);
    CDB_SGATE_IO* temporary = new CDB_SGATE_IO(nullptr, CDB_IO_INPUT);
    m_output_pin_to_temporary_oterm[pin] = temporary->get_output_term(0);
    kavu_subnet_make_pin_name(temporary, number++, parent);
  }

  // Unlink exactly the new gates from the full netlist (in one batch, which
  // borrows no mark and leaves the marks of other gates alone), then link
  // them in the sub-netlist.
  m_full_netlist->delete_nodes(*m_new_nodes);
  for (CDB_SGATE_NODE* node : *m_new_nodes) {
    m_subnetlist->add_node(node, true);
    // Linking clears the bits the sub-netlist does not hand out: mark again.
    if (!m_internal_flag.is_null()) node->set_dyn_flag(m_internal_flag);
    const int n_out = node->get_output_count();
    for (int o = 0; o < n_out; ++o)
      if (CDB_SGATE_OTERM* out = node->get_output_term(o)) out->set_aux3(0);
  }

  for (CDB_SGATE_OTERM* s : m_fanin_oterms) {
    CDB_SGATE_IO* pin = m_oterm_to_input_pin[s];
    KAVU_CHECK(pin != 0 && kavu_is_a_input_pin(pin));
    move_sinks(s, pin->get_output_term(0), true);
  }
  for (CDB_SGATE_OTERM* out : m_fanout_oterms) {
    CDB_SGATE_IO* pin = m_oterm_to_output_pin[out];
    KAVU_CHECK(m_output_pin_to_temporary_oterm[pin]);
    move_sinks(out, m_output_pin_to_temporary_oterm[pin], false);
    KAVU_CHECK(pin != 0 && kavu_is_a_output_pin(pin));
    out->insert_fanout(pin->get_input_term(0));
    if (m_debug)
      kavu_debug("created output pin %s connected to %s %s", hpath_text(pin->get_string_hpath()),
                 out->get_my_node()->get_string_type_name(), hpath_text(out->get_my_node()->get_string_hpath()));
  }
  if (m_debug)
    kavu_debug("Done creating a subnetlist. Created %d input pins, %d output pins to contain %d internal gates.",
               int(m_input_pin_to_oterm.size()), int(m_output_pin_to_oterm.size()), int(m_internal_nodes.size()));
}

void KAVU_SUBNET::kavu_subnet_make_pin_name(CDB_SGATE_NODE* pin, int number, HDB_INSTANCE_NAME* parent) {
  KAVU_CHECK(pin && pin->cast_to_io());
  HDB_NAMESPACE* ns = m_facade->get_namespace();
  HDB_INSTANCE_NAME* parent_name = parent ? parent : ns->get_root();
  KAVU_CHECK(parent_name != NULL);
  char text[32];
  std::snprintf(text, sizeof text, "_subnet_pin_%d", number);
  HDB_INSTANCE_NAME* final_name = parent_name->find_in_children(text, 1);
  if (!final_name)
    final_name = HDB_INSTANCE_NAME::create_normal_name(
        nullptr, text, parent_name->get_namespace()->get_source_components()->get_primitive(SUBNET_PIN_PRIMITIVE),
        nullptr, parent_name);
  KAVU_CHECK(final_name);
  pin->set_instance_name(final_name);
  if (CDB_SGATE_OTERM* out = pin->get_output_term(0)) out->set_instance_name(final_name);
}

// ---------------------------------------------------------------- stitch back

bool KAVU_SUBNET::is_moved_pin(CDB_SGATE_IO* pin) const {
  return is_internal(pin) && !pin->is_made_by_synthesis();
}

void KAVU_SUBNET::stitch_output_pins(std::vector<CDB_SGATE_NODE*>& pins, std::vector<CDB_SGATE_NODE*>& temporaries) {
  const std::vector<CDB_SGATE_IO*> outputs = m_subnetlist->get_output_pins();
  for (CDB_SGATE_IO* opin : outputs) {
    if (opin->get_io_type() != CDB_IO_OUTPUT) continue;
    auto found = m_output_pin_to_oterm.find(opin);
    if (found == m_output_pin_to_oterm.end()) {
      if (m_debug)
        kavu_debug("stitch_back in subnet: found output pin %s", hpath_text(opin->get_string_hpath()));
      continue;
    }
    CDB_SGATE_ITERM* opin_iterm = opin->get_input_term(0);
    KAVU_CHECK(opin_iterm && cdb_is_connected( opin_iterm ));
    const bool inverted = opin_iterm->is_inverted();
    const bool constant = opin_iterm->is_vcc_or_gnd();
    // A tie delivers VCC unless its inversion is set: the inversion is part
    // of the constant, not something to apply to it a second time.
    const bool value = constant && tied_value(opin_iterm);
    CDB_SGATE_OTERM* opin_source = opin_iterm->get_source();
    opin_iterm->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_UNCONNECTED);
    auto temporary = m_output_pin_to_temporary_oterm.find(opin);
    KAVU_CHECK(temporary != m_output_pin_to_temporary_oterm.end() && "m_output_pin_to_temporary_oterm[opin]");
    CDB_SGATE_OTERM* parked = temporary->second;
    if (!constant) {
      KAVU_CHECK(opin_source);
      opin_source->adopt_fanouts(parked, inverted);
    } else {
      parked->set_all_fanouts_constant(value);
    }
    temporaries.push_back(parked->get_my_node());
    m_output_pin_to_temporary_oterm.erase(temporary);
    pins.push_back(opin);  // unlinked with the input pins, in one batch
  }
}

void KAVU_SUBNET::stitch_input_pins(std::vector<CDB_SGATE_NODE*>& pins) {
  const std::vector<CDB_SGATE_IO*> inputs = m_subnetlist->get_input_pins();
  for (CDB_SGATE_IO* ipin : inputs) {
    if (ipin->get_io_type() != CDB_IO_INPUT) continue;
    auto found = m_input_pin_to_oterm.find(ipin);
    if (found == m_input_pin_to_oterm.end()) {
      if (m_debug)
        kavu_debug("stitch_back in subnet: found input pin %s", hpath_text(ipin->get_string_hpath()));
      continue;
    }
    CDB_SGATE_OTERM* pin_out = ipin->get_output_term(0);
    if (pin_out->has_fanout()) found->second->adopt_fanouts(pin_out, pin_out->is_inverted());
    pins.push_back(ipin);
  }
}

void KAVU_SUBNET::move_remaining_nodes_back() {
  for (auto it = m_subnetlist->begin_node_list(); it != m_subnetlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* node = *it;
    if (!node) continue;
    // Pins synthesis made stay behind: in the full netlist they would be
    // ports the design does not have.
    if (CDB_SGATE_IO* pin = node->cast_to_io(); pin && !is_moved_pin(pin)) continue;
    m_subnetlist->delete_node(it);
    m_full_netlist->add_node(node, true);
    const int n_out = node->get_output_count();
    for (int o = 0; o < n_out; ++o)
      if (CDB_SGATE_OTERM* out = node->get_output_term(o)) out->set_aux3(0);
  }
}

void KAVU_SUBNET::kavu_subnet_stitch_back() {
  KAVU_CHECK(m_subnetlist);
  if (m_debug) kavu_debug("Stitching back uncloned subnetlist...");
  m_subnetlist->reset_info_functions_and_delete();
  std::vector<CDB_SGATE_NODE*> pins;  // the builder's linked pins, then the temporary ones
  std::vector<CDB_SGATE_NODE*> temporaries;
  pins.reserve(m_input_pin_to_oterm.size() + m_output_pin_to_oterm.size());
  temporaries.reserve(m_output_pin_to_oterm.size());
  stitch_output_pins(pins, temporaries);
  stitch_input_pins(pins);
  // One batch: unlinking pins one at a time costs O(pins) each.
  m_subnetlist->delete_nodes(pins);
  move_remaining_nodes_back();
  m_full_netlist->set_is_partition_netlist(true);
  // What is left (pins synthesis made, cut from the moved logic as they go)
  // dies with the sub-netlist.
  delete m_subnetlist;
  m_subnetlist = nullptr;
  for (CDB_SGATE_NODE* node : pins) delete node;
  for (CDB_SGATE_NODE* node : temporaries) delete node;
}

void KAVU_SUBNET::kavu_subnet_clear() {
  release_internal_flag();  // only live when a create stopped half-way
  m_internal_nodes.clear();
  m_fanin_oterm_set.clear();
  m_fanout_oterm_set.clear();
  m_new_nodes = nullptr;
  m_fanin_oterms.clear();
  m_fanout_oterms.clear();
  m_input_pin_to_oterm.clear();
  m_output_pin_to_oterm.clear();
  m_oterm_to_input_pin.clear();
  m_oterm_to_output_pin.clear();
  // Temporary pins belong to no netlist; destroying one leaves the outside
  // sinks it parked unconnected.
  for (auto& entry : m_output_pin_to_temporary_oterm)
    if (entry.second) delete entry.second->get_my_node();
  m_output_pin_to_temporary_oterm.clear();
  m_scratch_fanouts.clear();
  if (m_subnetlist) {
    m_subnetlist->reset_info_functions_and_delete();
    delete m_subnetlist;
    m_subnetlist = nullptr;
  }
}

// ---------------------------------------------------------------- tri-state chains

namespace {

CDB_SGATE_IO_BUF* tristate_io_buf(CDB_SGATE_NODE* node) {
  if (!node || node->get_sgate_type() != CDB_SGATE_IO_BUF_ENUM) return nullptr;
  CDB_SGATE_IO_BUF* b = node->cast_to_io_buf();
  return b && b->get_io_buf_type() == CDB_IO_BUF_TRI ? b : nullptr;
}

// The first tri-state bus fed by the terminal, or null.
CDB_SGATE_NODE* first_bus_sink(CDB_SGATE_OTERM* out) {
  for (CDB_SGATE_ITERM* sink : out->fanouts())
    if (sink->get_my_node()->get_sgate_type() == CDB_SGATE_TRI_BUS_ENUM) return sink->get_my_node();
  return nullptr;
}

// The buffer's driving tri-state IO buffer when the buffer is a redundant
// link of a chain (enable tied to VCC, output into a bus), else null.
CDB_SGATE_OTERM* redundant_chain_driver(CDB_SGATE_NODE* node, CDB_SGATE_NODE** bus) {
  CDB_SGATE_IO_BUF* buf = tristate_io_buf(node);
  if (!buf || buf->get_number_of_input_terms() < 2) return nullptr;
  CDB_SGATE_ITERM* data = buf->get_input_term(0);
  CDB_SGATE_ITERM* enable = buf->get_input_term(1);
  if (!data || !enable || !enable->is_vcc()) return nullptr;
  CDB_SGATE_OTERM* driver = data->get_source();
  if (!driver || driver->get_my_node() == buf || !tristate_io_buf(driver->get_my_node())) return nullptr;
  CDB_SGATE_OTERM* out = buf->get_output_term(0);
  if (!out) return nullptr;
  *bus = first_bus_sink(out);
  if (!*bus || !(*bus)->get_output_term(0) || (*bus)->get_output_term(0) == driver) return nullptr;
  return driver;
}

}  // namespace

int kavu_subnet_repair_tristate_chains(CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist);
  std::vector<CDB_SGATE_NODE*> candidates;
  for (CDB_SGATE_NODE* node : netlist->get_node_list()) {
    CDB_SGATE_NODE* bus = nullptr;
    if (node && redundant_chain_driver(node, &bus)) candidates.push_back(node);
  }
  std::vector<CDB_SGATE_NODE*> removed;
  for (CDB_SGATE_NODE* buf : candidates) {
    // An earlier repair may have rewired this buffer: decide again.
    CDB_SGATE_NODE* bus = nullptr;
    CDB_SGATE_OTERM* driver = redundant_chain_driver(buf, &bus);
    if (!driver) continue;
    bus->get_output_term(0)->adopt_fanouts(driver, false);
    driver->adopt_fanouts(buf->get_output_term(0), false);
    buf->get_input_term(0)->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_UNCONNECTED);
    removed.push_back(buf);
  }
  // Unlink only the buffers taken out (not other gates another pass marked).
  for (CDB_SGATE_NODE* buf : removed) {
    netlist->delete_node(buf);
    delete buf;
  }
  return int(removed.size());
}
