// kavu_helper.cpp — small shared helpers and the node-type predicates that
// walk one gate.
//
// Helpers: the live gate count of a netlist, the library's file streams
// (std::orlind_ofstream, std::orlind_ifstream), the move operations of the
// exported records, the compiler-directive option query and the work
// directory name of generated function bodies.
// Streams model: open() never reopens — a stream that already has a file
// open is left exactly as it is, state included, so a caller that opens a
// dump file twice keeps writing to the first. Otherwise the name becomes its
// full path, the file buffer opens it with the caller's mode plus out (or
// in), and the stream state is cleared on success or gets failbit on failure.
// Predicates: the one-comparison predicates are inline in kavu_predicates.h;
// here are those that read an atom's ports and modes, a register's data
// port, or one gate's inputs and fan-outs (the cascade family, wire LUTs),
// and the instance-name queries. None changes the netlist or keeps state.
// "Real source": an input terminal that is connected and not tied to a
// constant.
// Cost: O(inputs) or O(fan-outs) of one gate; the black-box query walks the
// instance name's parents, one option lookup each.
// Gate creation and buffer edits (kavu_gate_create.h): new gates are named
// through kavu_name.h and added at once with add_node(gate, true). An output
// terminal's inversion flag applies to all its readers, so an edit that
// moves a terminal's fan-outs behind a new buffer folds that flag into the
// moved fan-outs and clears it; the function seen by every reader is kept.
// Cost of the edits: O(1) plus the fan-outs moved; the excise passes are
// linear in the netlist.
#include "kavu_helper.h"

#include "kavu_check.h"
#include "kavu_gate_create.h"
#include "kavu_msg.h"
#include "kavu_name.h"
#include "kavu_predicates.h"
#include "fio/fio.h"

namespace {

// Logic-cell combinational atoms: 61 in the Brae families, 93 in the Quellin
// and Harrowdale families.
constexpr CDB_WYSIWYG_TYPE LCELL_COMB_ATOM_TYPE = 61;
constexpr CDB_WYSIWYG_TYPE LCELL_COMB_ATOM_TYPE_ALT = 93;

const CDB_SGATE_WYSIWYG* as_wysiwyg(const CDB_SGATE_NODE* node) {
  return node->is_wysiwyg() ? static_cast<const CDB_SGATE_WYSIWYG*>(node) : nullptr;
}

bool is_real_source(const CDB_SGATE_ITERM* iterm) {
  return iterm && cdb_is_connected(iterm) && !iterm->is_vcc_or_gnd();
}

// Some real-source input of the gate is driven by a cascade buffer.
bool has_cascade_buffer_fanin(const CDB_SGATE_NODE* node) {
  const CDB_SGATE_NODE::ITERM_VECTOR& iterms = node->get_input_terms();
  for (unsigned i = 0; i < iterms.size(); ++i) {
    const CDB_SGATE_ITERM* iterm = iterms[i];
    if (!is_real_source(iterm) || !iterm->get_source()) continue;
    if (kavu_is_a_cascade_buffer(iterm->get_source()->get_my_node())) return true;
  }
  return false;
}

bool is_comb_with_two_inputs(const CDB_SGATE_NODE* sgate, CDB_COMB_TYPE kind) {
  return kavu_predicates_detail::is_comb_of(sgate, kind) && sgate->get_number_of_fanin() == 2;
}

// Opens the stream's file buffer unless a file is open already; see the
// file comment.
template <class STREAM>
void open_full_path(STREAM& stream, const char* name, std::ios_base::openmode mode) {
  KAVU_CHECK(name != nullptr);
  if (stream.is_open()) return;
  const std::string full_path = fio_get_unc_full_path(name);
  if (stream.rdbuf()->open(full_path, mode)) {
    stream.clear();
  } else {
    stream.setstate(std::ios_base::failbit);
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Helpers

unsigned int kavu_node_container_size(const CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist != nullptr);
  return netlist->get_node_list().size();
}

const char* kavu_openbox_dir_name() { return "tmp-openbox"; }

void kavu_get_all_derived_options(const HDB_NAMESPACE* options, KAVU_DERIVED_OPTION_LIST* results) {
  KAVU_CHECK(results);
  KAVU_CHECK(options != nullptr);
  *results = HDB_DERIVED_OPTION<ACF_KIND_TEXT, 0>::get_all_options(options, ACF_VERILOG_MACRO, true);
}

OPT_CONE_DESCRIPTION::OPT_CONE_DESCRIPTION(OPT_CONE_DESCRIPTION&& other) noexcept
    : m_cost(other.m_cost), m_depth(other.m_depth), m_nodes(std::move(other.m_nodes)) {
  other.m_nodes.clear();
}

OPT_CONE_DESCRIPTION& OPT_CONE_DESCRIPTION::operator=(OPT_CONE_DESCRIPTION&& other) noexcept {
  if (this == &other) return *this;
  m_cost = other.m_cost;
  m_depth = other.m_depth;
  m_nodes = std::move(other.m_nodes);
  other.m_nodes.clear();
  return *this;
}

OPT_SUBGRAPH_DESCRIPTION::OPT_SUBGRAPH_DESCRIPTION(OPT_SUBGRAPH_DESCRIPTION&& other) noexcept
    : m_domain_id(other.m_domain_id),
      m_size(other.m_size),
      m_nodes(std::move(other.m_nodes)),
      m_inputs(std::move(other.m_inputs)),
      m_outputs(std::move(other.m_outputs)) {
  other.m_nodes.clear();
  other.m_inputs.clear();
  other.m_outputs.clear();
}

OPT_SUBGRAPH_DESCRIPTION& OPT_SUBGRAPH_DESCRIPTION::operator=(
    OPT_SUBGRAPH_DESCRIPTION&& other) noexcept {
  if (this == &other) return *this;
  m_domain_id = other.m_domain_id;
  m_size = other.m_size;
  m_nodes = std::move(other.m_nodes);
  m_inputs = std::move(other.m_inputs);
  m_outputs = std::move(other.m_outputs);
  other.m_nodes.clear();
  other.m_inputs.clear();
  other.m_outputs.clear();
  return *this;
}

namespace std {

orlind_ofstream::orlind_ofstream(const char* name) { open(name, ios_base::out); }

orlind_ofstream::orlind_ofstream(const std::string& name, ios_base::openmode mode) {
  open(name.c_str(), mode);
}

void orlind_ofstream::open(const char* name, ios_base::openmode mode) {
  open_full_path(*this, name, mode | ios_base::out);
}

orlind_ifstream::orlind_ifstream(const char* name) { open(name, ios_base::in); }

orlind_ifstream::orlind_ifstream(const std::string& name, ios_base::openmode mode) {
  open(name.c_str(), mode);
}

void orlind_ifstream::open(const char* name, ios_base::openmode mode) {
  open_full_path(*this, name, mode | ios_base::in);
}

}  // namespace std

// ---------------------------------------------------------------------------
// Predicates

bool kavu_is_a_dff(const CDB_SGATE_NODE* node, bool also_wys_ff) {
  return kavu_is_a_dff(node) || (also_wys_ff && kavu_is_a_wys_ff(node));
}

bool kavu_is_a_lcell_buffer(const CDB_ATOM_NODE*) { return false; }

bool kavu_is_a_two_and(const CDB_SGATE_NODE* sgate) {
  KAVU_CHECK(sgate);
  return is_comb_with_two_inputs(sgate, CDB_COMB_AND);
}

bool kavu_is_a_two_or(const CDB_SGATE_NODE* sgate) {
  KAVU_CHECK(sgate);
  return is_comb_with_two_inputs(sgate, CDB_COMB_OR);
}

bool kavu_is_a_two_xor(const CDB_SGATE_NODE* sgate) {
  KAVU_CHECK(sgate);
  return is_comb_with_two_inputs(sgate, CDB_COMB_XOR);
}

bool kavu_is_a_wys_ff(const CDB_SGATE_NODE* node) {
  const CDB_SGATE_WYSIWYG* wys = as_wysiwyg(node);
  return wys && wys->is_ff();
}

bool kavu_is_wys_logic_module(const CDB_SGATE_NODE* node) {
  const CDB_SGATE_WYSIWYG* wys = as_wysiwyg(node);
  return wys && wys->is_logic_module();
}

bool kavu_is_wys_comb(const CDB_SGATE_NODE* node, bool also_93) {
  const CDB_SGATE_WYSIWYG* wys = as_wysiwyg(node);
  if (!wys) return false;
  const CDB_WYSIWYG_TYPE type = wys->get_wysiwyg_type();
  return type == LCELL_COMB_ATOM_TYPE || (also_93 && type == LCELL_COMB_ATOM_TYPE_ALT);
}

bool kavu_is_wys_comb_normal(const CDB_SGATE_NODE* sgate, bool no_mode_120, bool no_driven_inputs,
                             bool also_93) {
  KAVU_CHECK(sgate);
  if (!kavu_is_wys_comb(sgate, also_93)) return false;
  const CDB_SGATE_WYSIWYG* wys = static_cast<const CDB_SGATE_WYSIWYG*>(sgate);
  // Carry, sum and share outputs in use make the cell part of an arithmetic
  // or shared chain, not a plain function.
  for (DB_OUTPUT_PORT_TYPE port : {DB_PORT_COUT, DB_PORT_SUMOUT, DB_PORT_SHAREOUT}) {
    const CDB_SGATE_OTERM* oterm = wys->get_oterm_by_type(port, 0);
    if (oterm && oterm->has_fanout()) return false;
  }
  if (no_mode_120 && wys->mode_is_set(CDB_WYSIWYG_EXTENDED_LUT)) return false;
  if (no_driven_inputs) {
    for (DB_INPUT_PORT_TYPE port : {DB_PORT_CIN, DB_PORT_SHAREIN}) {
      if (is_real_source(wys->get_iterm_by_type(port, 0))) return false;
    }
  }
  return true;
}

bool kavu_is_a_dff_din_port(const CDB_SGATE_ITERM* iterm) {
  const CDB_SGATE_NODE* node = iterm->get_my_node();
  return kavu_is_a_dff(node) && node->get_input_term(CDB_DFF_DATA) == iterm;
}

bool kavu_is_a_dff_din_port(const CDB_SGATE_ITERM* iterm, bool also_wys_ff) {
  if (kavu_is_a_dff_din_port(iterm)) return true;
  if (!also_wys_ff) return false;
  const CDB_SGATE_WYSIWYG* wys = as_wysiwyg(iterm->get_my_node());
  return wys && wys->is_ff() && wys->get_iterm_by_type(DB_PORT_DATAIN, 0) == iterm;
}

bool kavu_has_cascade_fanout(const CDB_SGATE_OTERM* oterm) {
  KAVU_CHECK(oterm);
  for (const CDB_SGATE_ITERM* fanout : oterm->fanouts()) {
    if (kavu_is_a_cascade_buffer(fanout->get_my_node())) return true;
  }
  return false;
}

bool kavu_is_a_cascade_lut(const CDB_SGATE_NODE* node) {
  return kavu_is_a_lut(node) && has_cascade_buffer_fanin(node);
}

bool kavu_is_a_cascade_and(const CDB_SGATE_NODE* node) {
  return kavu_is_a_two_and(node) && has_cascade_buffer_fanin(node);
}

bool kavu_is_a_soft_to_cascade_and(const CDB_SGATE_NODE* node) {
  if (!kavu_is_a_soft_buffer(node)) return false;
  const CDB_SGATE_OTERM* oterm = node->get_single_oterm();
  if (!oterm || !oterm->has_fanout()) return false;
  for (const CDB_SGATE_ITERM* fanout : oterm->fanouts()) {
    const CDB_SGATE_NODE* sink = fanout->get_my_node();
    if (kavu_is_a_cascade_and(sink) || kavu_is_a_cascade_lut(sink)) return true;
  }
  return false;
}

bool kavu_is_a_wire_lut(const CDB_SGATE_NODE* lut, CDB_SGATE_OTERM** source, bool inverted) {
  if (!lut || !kavu_is_a_lut(lut)) KAVU_INTERNAL_ERROR("kavu_is_a_lut(lut)");
  KAVU_CHECK(source);
  *source = nullptr;

  const CDB_SGATE_NODE::ITERM_VECTOR& iterms = lut->get_input_terms();
  const CDB_SGATE_ITERM* wire = nullptr;
  unsigned position = 0;
  unsigned connected = 0;
  for (unsigned i = 0; i < iterms.size(); ++i) {
    if (!cdb_is_connected(iterms[i])) continue;
    if (++connected > 1) return false;
    wire = iterms[i];
    position = i;
  }
  if (connected != 1 || wire->is_vcc_or_gnd() || wire->is_inverted()) return false;

  // The mask must be the identity (or its complement) of that input. A mask
  // over fewer inputs than the position ignores the input: a constant.
  const CDB_LUTMASK& mask = static_cast<const CDB_SGATE_LUT*>(lut)->get_lut_mask();
  if (position >= mask.get_num_inputs()) return false;
  CDB_LUTMASK expected = CDB_LUTMASK::imask(mask.get_num_inputs(), position);
  if (inverted) expected = ~expected;
  if (mask != expected) return false;

  *source = wire->get_source();
  return true;
}

bool kavu_is_iname_id_in_set(const std::set<unsigned int>* ids, unsigned int id) {
  KAVU_CHECK(ids);
  return ids->count(id) != 0;
}

bool kavu_is_hier_formal_verification_blackbox(HDB_INSTANCE_NAME* iname,
                                               HDB_INSTANCE_NAME** carrier) {
  KAVU_CHECK(carrier);
  if (iname == nullptr) KAVU_INTERNAL_ERROR("*iname != NULL");
  *carrier = iname;
  while (*carrier != nullptr) {
    const auto* option = HDB_DERIVED_OPTION<ACF_KIND_ENUM, 0>::get_single_option(
        *carrier, ACF_FORMAL_VERIFICATION_MODE, true);
    if (option && option->get_value() == ACF_ENUM_BLACK_BOX) return true;
    *carrier = (*carrier)->get_parent_data_member();
  }
  return false;
}

// ---------------------------------------------------------------------------
// Gate creation and buffer edits

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
