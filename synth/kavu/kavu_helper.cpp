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
#include "kavu_helper.h"

#include "kavu_check.h"
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
