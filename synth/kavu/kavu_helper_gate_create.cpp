// kavu_helper_gate_create.cpp — gate creation and buffer edits.
//
// New gates are named through kavu_name.h and added at once with
// add_node(gate, true). An output terminal's inversion flag applies to all
// its readers, so an edit that moves a terminal's fan-outs behind a new
// buffer folds that flag into the moved fan-outs and clears it; the function
// seen by every reader is kept.
// Cost of the edits: O(1) plus the fan-outs moved; the excise passes are
// linear in the netlist.
#include "kavu_helper_gate_create.h"

#include "kavu_check.h"
#include "kavu_helper.h"
#include "kavu_helper_predicates.h"
#include "kavu_msg.h"
#include "kavu_name.h"

namespace {

// A new buffer of that type with one unconnected input at position 0; not
// named, not in a netlist.
CDB_SGATE_BUFFER* make_buffer_with_input(CDB_BUFFER_TYPE type) {
  CDB_SGATE_BUFFER* buffer = new CDB_SGATE_BUFFER(nullptr, type, true);
  buffer->set_input_term(buffer->create_input_term(nullptr), 0);
  return buffer;
}

// The new buffer's output takes over every fan-out of `oterm`, and `oterm`
// then drives the buffer. The terminal's own inversion moves onto the
// fan-outs, since the buffer now stands between it and them.
void move_fanouts_behind(CDB_SGATE_OTERM* oterm, CDB_SGATE_NODE* buffer) {
  CDB_SGATE_OTERM* buffer_out = buffer->get_single_oterm();
  buffer_out->adopt_fanouts(oterm, oterm->is_inverted());
  oterm->clear_invert();
  oterm->insert_fanout(buffer->get_single_iterm());
}

CDB_SGATE_NODE* insert_buffer_before(CDB_SGATE_ITERM* iterm, CDB_SGATE_NETLIST* netlist,
                                     CDB_BUFFER_TYPE type, const char* ext) {
  KAVU_CHECK(iterm);
  KAVU_CHECK(netlist);
  KAVU_CHECK(cdb_is_connected(iterm) && !iterm->is_vcc_or_gnd());
  CDB_SGATE_OTERM* source = iterm->get_source();
  // A terminal connected only through a parent input has no source to move.
  KAVU_CHECK(source != nullptr);
  CDB_SGATE_OTERM* name_oterm = iterm->get_my_node()->get_preferred_oterm();
  if (name_oterm == nullptr) KAVU_INTERNAL_ERROR("from_oterm");
  CDB_SGATE_BUFFER* buffer = make_buffer_with_input(type);
  kavu_create_synthesized_name(buffer, name_oterm, ext);
  netlist->add_node(buffer, true);
  // The database keeps no mapping record on new terminals; what the edit
  // relies on is that the new buffer has its own output.
  KAVU_CHECK(buffer->get_single_oterm() != nullptr);
  source->insert_fanout(buffer->get_single_iterm());
  iterm->disconnect_from_source(2);
  buffer->get_single_oterm()->insert_fanout(iterm);
  return buffer;
}

int excise_buffers_of_type(CDB_SGATE_NETLIST* netlist, CDB_BUFFER_TYPE type) {
  KAVU_CHECK(netlist);
  int count = 0;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* sgate = *it;
    // The walk visits only live slots; a null here means the list is broken.
    KAVU_CHECK(sgate);
    if (!kavu_predicates_detail::is_buffer_of(sgate, type)) continue;
    kavu_excise_buffer(sgate);
    netlist->delete_node(sgate);  // the slot now reads null; ++ moves past it
    delete sgate;
    ++count;
  }
  return count;
}

}  // namespace

CDB_SGATE_NODE* kavu_duplicate_gate(CDB_SGATE_NODE* sgate, CDB_SGATE_NETLIST* netlist, MEM_SEGMENT* segment) {
  KAVU_CHECK(sgate);
  KAVU_CHECK(netlist);
  CDB_SGATE_NODE* new_sgate = nullptr;
  sgate->clone_node(segment, &new_sgate, 1);
  KAVU_CHECK(new_sgate);
  kavu_create_synthesized_name(new_sgate, sgate->get_instance_name(), "cln");
  netlist->add_node(new_sgate, true);
  return new_sgate;
}

CDB_SGATE_COMB* kavu_create_new_comb(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* from_sgate,
                                     CDB_COMB_TYPE type) {
  KAVU_CHECK(netlist);
  // Checked before the gate exists, so a refused call leaves nothing behind.
  if (from_sgate == nullptr) KAVU_INTERNAL_ERROR("from_sgate");
  CDB_SGATE_COMB* comb = new CDB_SGATE_COMB(nullptr, type, true);
  kavu_create_synthesized_name(comb, from_sgate, "comb");
  netlist->add_node(comb, true);
  return comb;
}

CDB_SGATE_BUFFER* kavu_create_new_buffer(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* from_sgate,
                                         CDB_BUFFER_TYPE type) {
  KAVU_CHECK(netlist);
  if (from_sgate == nullptr) KAVU_INTERNAL_ERROR("from_sgate");
  CDB_SGATE_BUFFER* buffer = make_buffer_with_input(type);
  kavu_create_synthesized_name(buffer, from_sgate, "buf");
  netlist->add_node(buffer, true);
  return buffer;
}

void kavu_swap_instance_names(CDB_SGATE_NODE* a, CDB_SGATE_NODE* b) {
  KAVU_CHECK(a && b);
  CDB_SGATE_OTERM* a_oterm = a->get_preferred_oterm();
  CDB_SGATE_OTERM* b_oterm = b->get_preferred_oterm();
  KAVU_CHECK(a_oterm && b_oterm);
  a_oterm->swap_instance_name(b_oterm);
  HDB_INSTANCE_NAME* a_name = a->get_instance_name();
  a->set_instance_name(b->get_instance_name());
  b->set_instance_name(a_name);
}

CDB_SGATE_NODE* kavu_synth_mux_sgate(CDB_SGATE_NODE* name_node, CDB_SGATE_NETLIST* netlist, MEM_SEGMENT*,
                                     bool no_name) {
  KAVU_CHECK(name_node && netlist);
  CDB_SGATE_MUX* mux = new CDB_SGATE_MUX(nullptr);
  if (!no_name) kavu_create_synthesized_name(mux, name_node, "sld_mux");
  netlist->add_node(mux, true);
  for (unsigned port = mux->get_first_iport(); port != CDB_MUX_NUM_PORTS; port = mux->get_next_iport(port)) {
    CDB_SGATE_ITERM* iterm = mux->create_input_term(nullptr);
    mux->set_input_term(iterm, port);
    iterm->set_gnd();
  }
  return mux;
}

void kavu_excise_buffer(CDB_SGATE_NODE* buffer) {
  if (buffer == nullptr) KAVU_INTERNAL_ERROR("buffer");
  CDB_SGATE_ITERM* iterm = buffer->get_single_iterm();
  CDB_SGATE_OTERM* oterm = buffer->get_single_oterm();
  KAVU_CHECK(iterm && oterm);
  KAVU_CHECK(cdb_is_connected (iterm));
  if (oterm->is_inverted()) {
    iterm->invert();
    oterm->clear_invert();
  }
  if (iterm->is_vcc_or_gnd()) {
    oterm->set_all_fanouts_constant(iterm->is_vcc());
    iterm->disconnect_from_source(2);
    return;
  }
  if (iterm->is_inverted()) {
    iterm->clear_invert();
    oterm->set_invert();
    oterm->move_invert_to_fanouts();
    // Read back, not remembered: when the buffer feeds itself its own input
    // is one of the fan-outs and has just been inverted again.
    if (iterm->is_inverted()) {
      kavu_debug("Req to excise %s %s", buffer->get_string_type_name(), buffer->get_string_hpath().c_str());
      KAVU_INTERNAL_ERROR("Inversion would be lost");
    }
  }
  CDB_SGATE_OTERM* source = iterm->get_source();
  if (source == oterm) {
    oterm->set_all_fanouts_constant(false);
    kavu_debug("Req to excise a self-feeding buffer of type %s: %s", buffer->get_string_type_name(),
               buffer->get_string_hpath().c_str());
  } else if (source != nullptr) {
    source->adopt_fanouts(oterm, false);
  }
  iterm->disconnect_from_source(2);
}

CDB_SGATE_ITERM* kavu_get_single_fanout(CDB_SGATE_OTERM* oterm) {
  KAVU_CHECK(oterm);
  KAVU_CHECK(oterm->has_fanout_exactly (1));
  CDB_SGATE_ITERM* iterm = oterm->get_first_fanout();
  KAVU_CHECK(cdb_is_connected (iterm) && !iterm->is_vcc_or_gnd());
  return iterm;
}

CDB_SGATE_NODE* kavu_insert_soft_before(CDB_SGATE_ITERM* iterm, CDB_SGATE_NETLIST* netlist, MEM_SEGMENT*) {
  return insert_buffer_before(iterm, netlist, CDB_BUFFER_SOFT, "soft");
}

CDB_SGATE_NODE* kavu_insert_name_before(CDB_SGATE_ITERM* iterm, CDB_SGATE_NETLIST* netlist, MEM_SEGMENT*) {
  return insert_buffer_before(iterm, netlist, CDB_BUFFER_NAME, "clk");
}

CDB_SGATE_NODE* kavu_insert_name_buffer(CDB_SGATE_OTERM* oterm, CDB_SGATE_NETLIST* netlist, MEM_SEGMENT*) {
  KAVU_CHECK(oterm);
  KAVU_CHECK(netlist);
  CDB_SGATE_BUFFER* buffer = make_buffer_with_input(CDB_BUFFER_NAME);
  netlist->add_node(buffer, true);
  move_fanouts_behind(oterm, buffer);
  CDB_SGATE_OTERM* buffer_out = buffer->get_single_oterm();
  const bool parallel = cdb_sgate_synthesis_is_running_in_parallel();

  HDB_INSTANCE_NAME* name = oterm->get_instance_name();
  if (oterm->has_synthesized_name_mark()) {
    HDB_INSTANCE_NAME* base = name ? name : oterm->get_synfrom_name();
    if (!parallel && base) {
      name = HDB_INSTANCE_NAME::create_synthesized_name(base, "clk", true);
      kavu_debug("Created real name %s for new name buffer %s", name->get_short_hpath(1).c_str(),
                 buffer->get_debug_name().c_str());
    } else if (parallel) {
      CDB_SGATE_NODE* gate = oterm->get_my_node();
      kavu_debug("Can't create real name for sgate %s %s %s that needs a name buffer (%s). This may "
                 "cause duplicate names that will be resolved by FTM",
                 gate->get_string_type_name(), gate->get_debug_name().c_str(),
                 gate->get_string_hpath().c_str(), buffer->get_debug_name().c_str());
    }
  }
  buffer_out->set_instance_name(name);
  buffer->set_instance_name(name);

  // The terminal gets a name of its own made from the buffer's.
  HDB_INSTANCE_NAME* base = buffer_out->get_instance_name() ? buffer_out->get_instance_name()
                                                            : buffer->get_instance_name();
  if (base == nullptr) return buffer;  // nothing to name it after
  if (parallel) {
    // No name may be created now: leave the terminal marked for the
    // deferred naming pass, as the deferred mode would.
    oterm->set_synthesized_name(base);
    if (oterm->get_my_node()->get_instance_name() == nullptr) oterm->get_my_node()->set_instance_name(base);
  } else {
    kavu_create_synthesized_name(oterm, buffer_out, "clk");
  }
  return buffer;
}

CDB_SGATE_NODE* kavu_drive_through_buffer(CDB_SGATE_NETLIST* netlist, CDB_SGATE_OTERM* oterm,
                                          CDB_BUFFER_TYPE type) {
  KAVU_CHECK(netlist);
  KAVU_CHECK(oterm);
  CDB_SGATE_NODE* gate = oterm->get_my_node();
  CDB_SGATE_BUFFER* buffer = make_buffer_with_input(type);
  // The buffer stands in for the gate in its hierarchy.
  buffer->set_hierarchy(gate->get_hierarchy());
  buffer->get_single_oterm()->set_synthesized_name(gate);
  buffer->set_instance_name(gate->get_instance_name());
  move_fanouts_behind(oterm, buffer);
  netlist->add_node(buffer, true);
  return buffer;
}

int kavu_excise_cut_buffers(CDB_SGATE_NETLIST* netlist) {
  const int count = excise_buffers_of_type(netlist, CDB_BUFFER_CUT);
  if (count >= 1) kavu_debug("Removed %d CUT buffers from the netlist", count);
  return count;
}

int kavu_excise_lcell_buffers(CDB_SGATE_NETLIST* netlist) {
  const int count = excise_buffers_of_type(netlist, CDB_BUFFER_LCELL);
  if (count >= 1) kavu_debug("Removed %d LCELL buffers from the netlist", count);
  return count;
}
