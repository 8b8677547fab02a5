// kavu_01tbl_lut.cpp — truth tables into LUT networks: the resynthesis delay
// model, LUT and network area costs, and the builders make_lut, to_luts
// (structural and k-input), recursive_fd, syn_luts and apply_fd, and the
// LUT count of a netlist cone (kavu_cone_capacity).
//
// Model: a table over a list of fan-in terminals (entry i drives variable
//   i) becomes one LUT when it fits, else the encoding functions of a
//   decomposition (kavu_01tbl_fd.cpp) are built first and the composition
//   function is built on their outputs, recursively. Constants and single
//   variables become soft buffers. New gates are connected to the fan-ins
//   but added to no netlist: they are handed back in a node list, root
//   last, and the caller adds or deletes them.
// Builders: structural to_luts needs only the device LUT size and takes the
//   first decomposition best_fd finds; the k-input to_luts tries every bound
//   set of sizes k-1 .. k+2 and keeps the fewest LUTs; syn_luts compares a
//   few bound sizes by network area (KAVU_CONE_COST) or, in speed mode, by
//   the root's arrival, and prunes against the best network found so far.
// Delay model: arrivals in 0.1 ns live in each output terminal's aux3
//   field; a new LUT arrives lutin_combout after its latest input (wire
//   delays by gate kinds, resyn_wire_delay), a buffer with its source, a
//   constant at 0.
// Invariants: a builder that returns null has deleted every gate it made;
//   the caller's fan-in list is never changed. The k-input to_luts leaves
//   its table reduced (its ignored variables removed, no variables at all
//   once one gate took the function), and recursive_fd turns its table into
//   the composition function on success; the other builders leave their
//   table as it is.
// Cost: the k-input builder runs recursive_fd on up to binomial(n, k+2)
//   bound sets per size, each one multiplicity plus the encoding networks
//   of the successful ones; syn_luts runs one best_fd per bound size.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "cdb/cdb_sgate.h"
#include "cfg/cfg.h"
#include "kavu_01tbl.h"
#include "kavu_01tbl_cone.h"
#include "kavu_01tbl_fd.h"
#include "kavu_01tbl_fd_int.h"
#include "kavu_check.h"
#include "kavu_msg.h"
#include "kavu_name.h"
#include "kavu_helper_predicates.h"

using kavu_fd_int::TABLE_LIST;

// ---------------------------------------------------------------------------
// Resynthesis delay model.

namespace {

CDB_SGATE_ITERM* s_lut_iterm = nullptr;

bool in_io_group(CDB_SGATE_TYPE t) {
  return t == CDB_SGATE_IO_ENUM || t == CDB_SGATE_IO_BUF_ENUM || t == CDB_SGATE_RAM_SLICE_ENUM ||
         t == CDB_SGATE_TRI_BUS_ENUM;
}

bool in_register_group(CDB_SGATE_TYPE t) {
  return t == CDB_SGATE_DFF_ENUM || t == CDB_SGATE_MUX_ENUM || t == CDB_SGATE_LATCH_ENUM;
}

// The buffer type of a buffer gate, -1 for any other gate.
int buffer_type(CDB_SGATE_NODE* node) {
  CDB_SGATE_BUFFER* buf = node->cast_to_buffer();
  return buf ? static_cast<int>(buf->get_buffer_type()) : -1;
}

bool is_lcell_or_name_buffer(int btype) { return btype == CDB_BUFFER_LCELL || btype == CDB_BUFFER_NAME; }

// Wires that leave an IO-group gate (the first rules of the table).
int io_source_delay(const KAVU_01TBL_RESYN_SETTINGS& s, CDB_SGATE_NODE* dst, CDB_SGATE_ITERM* iterm) {
  const CDB_SGATE_TYPE dt = dst->get_sgate_type();
  const int dbuf = buffer_type(dst);
  if (in_register_group(dt)) return s.m_lutin_combout_delay + s.m_wire_gh_delay;
  if (is_lcell_or_name_buffer(dbuf) || dbuf == CDB_BUFFER_CASCADE)
    return s.m_lutin_combout_delay + s.m_wire_gh_delay;
  if (dt != CDB_SGATE_CARRY_SUM_ENUM) return s.m_wire_gh_delay;
  if (dst->get_input_term(0) != iterm) return s.m_lutin_cout_delay + s.m_wire_gh_delay;
  return s.m_lutin_combout_delay + s.m_wire_gh_delay;
}

// Wires that leave a register or latch: the register wire, or the sum wire
// when its data comes from a carry-sum cell; entering a register or a
// logic-cell buffer adds the LUT delay.
int register_source_delay(const KAVU_01TBL_RESYN_SETTINGS& s, CDB_SGATE_NODE* src, CDB_SGATE_NODE* dst) {
  int delay = s.m_wire_dff_delay;
  const unsigned pos = src->get_input_port_number(DB_PORT_DATAIN);
  CDB_SGATE_ITERM* data = src->get_input_term(pos);
  CDB_SGATE_OTERM* data_src = data ? data->get_source() : nullptr;
  if (data_src && data_src->get_my_node()->get_sgate_type() == CDB_SGATE_CARRY_SUM_ENUM)
    delay = s.m_wire_sum_delay;
  if (is_lcell_or_name_buffer(buffer_type(dst)) || in_register_group(dst->get_sgate_type()))
    delay += s.m_lutin_combout_delay;
  return delay;
}

// The rules after the IO group, in their order; the first match decides.
int wire_delay_by_kinds(const KAVU_01TBL_RESYN_SETTINGS& s, CDB_SGATE_OTERM* oterm, CDB_SGATE_NODE* src,
                        CDB_SGATE_NODE* dst) {
  const CDB_SGATE_TYPE st = src->get_sgate_type(), dt = dst->get_sgate_type();
  const int sbuf = buffer_type(src), dbuf = buffer_type(dst);
  if (in_io_group(dt)) return s.m_wire_gh_delay;
  if (st == CDB_SGATE_CARRY_SUM_ENUM) {
    if (src->get_output_term(0) != oterm) return s.m_wire_carry_delay;
    return in_register_group(dt) ? 0 : s.m_wire_sum_delay;
  }
  if (dt == CDB_SGATE_CARRY_SUM_ENUM) return 0;
  if (sbuf == CDB_BUFFER_CASCADE)
    return in_register_group(dt) ? s.m_cascin_combout_delay + s.m_wire_casc_delay : s.m_wire_casc_delay;
  if (dbuf == CDB_BUFFER_CASCADE) return 0;
  if (kavu_is_a_cascade_lut(dst)) return 0;
  if (st == CDB_SGATE_DFF_ENUM || st == CDB_SGATE_LATCH_ENUM) return register_source_delay(s, src, dst);
  if (is_lcell_or_name_buffer(sbuf)) {
    if (in_register_group(dt)) return 0;
    if (is_lcell_or_name_buffer(dbuf)) return s.m_wire_data_delay + s.m_lutin_combout_delay;
    return s.m_wire_data_delay;
  }
  if (st == CDB_SGATE_MUX_ENUM || dt == CDB_SGATE_MUX_ENUM) return 0;
  if (sbuf >= 0) return 0;
  if (st != CDB_SGATE_LUT_ENUM) return s.m_wire_local_delay;
  if (dt == CDB_SGATE_DFF_ENUM || dt == CDB_SGATE_LATCH_ENUM || is_lcell_or_name_buffer(dbuf)) return 0;
  return s.m_wire_data_delay;
}

}  // namespace

unsigned int resyn_wire_delay(CDB_SGATE_OTERM* oterm, CDB_SGATE_ITERM* iterm) {
  if (oterm == nullptr || iterm == nullptr) return 0;
  const KAVU_01TBL_RESYN_SETTINGS& s = kavu_01tbl_resyn_settings();
  CDB_SGATE_NODE* src = oterm->get_my_node();
  CDB_SGATE_NODE* dst = iterm->get_my_node();
  KAVU_CHECK(src != 0 && dst != 0);
  const int delay = in_io_group(src->get_sgate_type()) ? io_source_delay(s, dst, iterm)
                                                       : wire_delay_by_kinds(s, oterm, src, dst);
  return static_cast<unsigned int>(delay);
}

int kavu_resyn_arrival(const CDB_SGATE_OTERM* oterm) {
  KAVU_CHECK(oterm != 0);
  return oterm->get_aux3();
}

void kavu_resyn_set_arrival(CDB_SGATE_OTERM* oterm, int arrival) {
  KAVU_CHECK(oterm != 0);
  oterm->set_aux3(arrival);
}

int kavu_resyn_lut_arrival(const CDB_SGATE_NODE* lut) {
  KAVU_CHECK(lut != 0);
  const KAVU_01TBL_RESYN_SETTINGS& s = kavu_01tbl_resyn_settings();
  bool any = false;
  int64_t latest = 0;
  for (CDB_SGATE_ITERM* iterm : lut->get_input_terms()) {
    if (iterm == nullptr || iterm->get_source() == nullptr) continue;
    CDB_SGATE_OTERM* src = iterm->get_source();
    const int64_t a = static_cast<int64_t>(src->get_aux3()) + resyn_wire_delay(src, iterm);
    latest = any ? std::max(latest, a) : a;
    any = true;
  }
  return kavu_fd_int::saturate_to_int(s.m_lutin_combout_delay + latest);
}

CDB_SGATE_ITERM* kavu_resyn_reference_iterm() { return s_lut_iterm; }

void kavu_resyn_set_reference_iterm(CDB_SGATE_ITERM* iterm) { s_lut_iterm = iterm; }

void kavu_resyn_fanin_arrivals(const std::vector<CDB_SGATE_OTERM*>& fanins, bool with_lut_delay,
                               std::vector<unsigned int>& out) {
  const KAVU_01TBL_RESYN_SETTINGS& s = kavu_01tbl_resyn_settings();
  out.clear();
  out.reserve(fanins.size());
  for (CDB_SGATE_OTERM* t : fanins) {
    KAVU_CHECK(t != 0);
    int64_t a = static_cast<int64_t>(t->get_aux3()) + resyn_wire_delay(t, s_lut_iterm);
    if (with_lut_delay) a += s.m_lutin_combout_delay;
    out.push_back(kavu_fd_int::saturate_to_unsigned(a));
  }
}

// ---------------------------------------------------------------------------
// Area costs.

namespace {

// Inputs of a LUT or logic-cell comb atom that are driven by a signal
// (connected, not tied to a constant).
unsigned int count_used_lut_inputs(const CDB_SGATE_NODE* lut) {
  unsigned int used = 0;
  for (CDB_SGATE_ITERM* iterm : lut->get_input_terms())
    if (iterm && cdb_is_connected(iterm) && !iterm->is_vcc_or_gnd()) ++used;
  return used;
}

bool is_lut_like(CDB_SGATE_NODE* node) {
  return kavu_is_a_lut(node) || (node->is_wysiwyg() && node->cast_to_wysiwyg()->is_lcell_comb());
}

}  // namespace

bool KAVU_CONE_COST::all_costs_equal() { return CDB_LUTMASK::max_num_inputs != 6; }

unsigned int KAVU_CONE_COST::get_lut_area_cost(unsigned int n) {
  if (all_costs_equal()) return 1;
  if (n < 5) return 10;
  if (n == 5) return 11;
  if (n == 6) return 18;
  if (n == 7) return 20;
  KAVU_INTERNAL_ERROR("Unexpected number of inputs");
  return 0;
}

unsigned int KAVU_CONE_COST::get_lut_area_cost(CDB_SGATE_NODE* node) {
  KAVU_CHECK(node != 0);
  if (!is_lut_like(node)) return 0;
  return get_lut_area_cost(count_used_lut_inputs(node));
}

unsigned int KAVU_CONE_COST::get_cone_area_cost(const std::vector<CDB_SGATE_NODE*>& nodes) {
  if (all_costs_equal()) {
    if (nodes.size() == 1 && !kavu_is_a_lut(nodes[0])) return 0;
    return static_cast<unsigned int>(nodes.size());
  }
  unsigned int cost = 0;
  for (CDB_SGATE_NODE* node : nodes) cost += get_lut_area_cost(node);
  return cost;
}

unsigned int KAVU_CONE_COST::get_cone_area_cost(const std::vector<CDB_SGATE_OTERM*>& oterms) {
  std::vector<CDB_SGATE_NODE*> nodes;
  nodes.reserve(oterms.size());
  for (CDB_SGATE_OTERM* t : oterms) {
    KAVU_CHECK(t != 0);
    nodes.push_back(t->get_my_node());
  }
  return get_cone_area_cost(nodes);
}

// ---------------------------------------------------------------------------
// Gate creation and deletion.

void delete_synthesized_nodes(std::vector<CDB_SGATE_NODE*>& nodes) {
  for (CDB_SGATE_NODE* node : nodes) {
    for (CDB_SGATE_ITERM* iterm : node->get_input_terms())
      if (iterm && iterm->get_source()) iterm->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_UNCONNECTED);
  }
  // Inputs first, then gates: a gate may feed a later one of the list.
  for (CDB_SGATE_NODE* node : nodes) delete node;
  nodes.clear();
}

namespace {

void name_new_gate(CDB_SGATE_NODE* gate, HDB_INSTANCE_NAME* name, const char* ext) {
  if (name) kavu_create_synthesized_name(gate, name, ext);
}

// A soft buffer over one fan-in (inverted when asked), or tied to VCC or
// GND when fanin is null; named "buf" and appended to nodes.
CDB_SGATE_NODE* make_soft_buffer(HDB_INSTANCE_NAME* name, CDB_SGATE_OTERM* fanin, bool invert, bool vcc,
                                 std::vector<CDB_SGATE_NODE*>& nodes) {
  CDB_SGATE_BUFFER* buf = new CDB_SGATE_BUFFER(nullptr, CDB_BUFFER_SOFT, true);
  CDB_SGATE_ITERM* iterm = buf->create_input_term(nullptr);
  buf->set_ordered_input_term(iterm, 0);
  CDB_SGATE_OTERM* out = buf->get_single_oterm();
  out->set_ftm_info(nullptr);
  if (fanin) {
    fanin->insert_fanout(iterm);
    if (invert) iterm->set_invert();
    out->set_aux3(fanin->get_aux3());
  } else {
    if (vcc) iterm->set_vcc();
    else iterm->set_gnd();
    out->set_aux3(0);
  }
  name_new_gate(buf, name, "buf");
  nodes.push_back(buf);
  return buf;
}

// Buffer for a constant table, or a one-variable table; null otherwise.
CDB_SGATE_NODE* make_trivial(const KAVU_01TBL& tbl, HDB_INSTANCE_NAME* name,
                             const std::vector<CDB_SGATE_OTERM*>& fanins, std::vector<CDB_SGATE_NODE*>& nodes) {
  const unsigned int n = tbl.num_vars();
  const unsigned int volume = tbl.onset_volume();
  if (volume == 0 || volume == (1u << n)) return make_soft_buffer(name, nullptr, false, volume != 0, nodes);
  if (n != 1) return nullptr;
  return make_soft_buffer(name, fanins[0], tbl.is_inverter(), false, nodes);
}

unsigned int count_luts(const std::vector<CDB_SGATE_NODE*>& nodes) {
  unsigned int luts = 0;
  for (CDB_SGATE_NODE* node : nodes)
    if (kavu_is_a_lut(node)) ++luts;
  return luts;
}

void append_nodes(std::vector<CDB_SGATE_NODE*>& to, const std::vector<CDB_SGATE_NODE*>& from) {
  to.insert(to.end(), from.begin(), from.end());
}

}  // namespace

CDB_SGATE_LUT* KAVU_01TBL::make_lut(HDB_INSTANCE_NAME* name, const std::vector<CDB_SGATE_OTERM*>& fanins) const {
  const unsigned int num_inputs = static_cast<unsigned int>(fanins.size());
  KAVU_CHECK(num_inputs == this->num_vars());
  KAVU_CHECK(num_inputs <= CDB_LUTMASK_MAX_INPUTS);
  for (CDB_SGATE_OTERM* fanin : fanins) KAVU_CHECK(fanin != 0);
  CDB_SGATE_LUT* lut = new CDB_SGATE_LUT(name, make_lutmask());
  lut->get_single_oterm()->set_ftm_info(nullptr);
  for (unsigned int i = 0; i < num_inputs; ++i) {
    CDB_SGATE_ITERM* iterm = lut->create_input_term(nullptr, static_cast<DB_INPUT_PORT_TYPE>(DB_PORT_DATAA + i));
    lut->set_ordered_input_term(iterm, i);
    fanins[i]->insert_fanout(iterm);
  }
  lut->get_single_oterm()->set_aux3(kavu_resyn_lut_arrival(lut));
  return lut;
}

// ---------------------------------------------------------------------------
// Structural builder.

namespace {

// A decomposition result split into its parts, with the fan-ins in the
// order of the decomposed (reordered) table.
struct SPLIT_RESULT {
  unsigned int num_bound = 0;
  unsigned int free_size = 0;
  std::vector<CDB_SGATE_OTERM*> reordered;  // fan-in of each reordered variable
};

SPLIT_RESULT split_result(const TABLE_LIST& dec, unsigned int n, const std::vector<CDB_SGATE_OTERM*>& fanins,
                          const std::vector<unsigned int>& var_map) {
  SPLIT_RESULT r;
  r.num_bound = dec.size() > 1 ? dec[0]->num_vars() : n - dec.back()->num_vars();
  r.free_size = n - r.num_bound;
  kavu_fd_int::reorder_fanins(fanins, var_map, r.reordered);
  return r;
}

// Builds every encoding function of dec over the bound fan-ins with the
// structural builder; appends gates to nodes and root outputs to roots.
// False when one fails (its gates are already deleted).
bool build_encodings(const TABLE_LIST& dec, const SPLIT_RESULT& r, HDB_INSTANCE_NAME* name,
                     std::vector<CDB_SGATE_NODE*>& nodes, std::vector<CDB_SGATE_OTERM*>& roots) {
  const std::vector<CDB_SGATE_OTERM*> bound(r.reordered.begin() + r.free_size, r.reordered.end());
  const unsigned int num_bound = r.num_bound;
  for (size_t i = 0; i + 1 < dec.size(); ++i) {
    KAVU_CHECK(dec[i]->num_vars() == num_bound);
    CDB_SGATE_NODE* root = dec[i]->to_luts(name, bound, nodes);
    if (root == nullptr) return false;
    roots.push_back(root->get_single_oterm());
  }
  return true;
}

// The composition function's fan-ins: free fan-ins, the shared one, codes.
std::vector<CDB_SGATE_OTERM*> composition_fanins(const SPLIT_RESULT& r, bool non_disjoint, unsigned int ndj_var,
                                                 const std::vector<CDB_SGATE_OTERM*>& roots) {
  std::vector<CDB_SGATE_OTERM*> fanins(r.reordered.begin(), r.reordered.begin() + r.free_size);
  if (non_disjoint) fanins.push_back(r.reordered[ndj_var]);
  fanins.insert(fanins.end(), roots.begin(), roots.end());
  return fanins;
}

}  // namespace

CDB_SGATE_NODE* KAVU_01TBL::to_luts(HDB_INSTANCE_NAME* name, const std::vector<CDB_SGATE_OTERM*>& fanins,
                                    std::vector<CDB_SGATE_NODE*>& nodes) const {
  const unsigned int num_inputs = static_cast<unsigned int>(fanins.size());
  KAVU_CHECK(this->num_vars() == num_inputs);
  for (CDB_SGATE_OTERM* fanin : fanins) KAVU_CHECK(fanin != 0);
  if (CDB_SGATE_NODE* trivial = make_trivial(*this, name, fanins, nodes)) return trivial;
  const unsigned int n = num_vars();
  if (n <= CDB_LUTMASK_MAX_INPUTS) {
    CDB_SGATE_LUT* lut = make_lut(nullptr, fanins);
    name_new_gate(lut, name, "lut");
    nodes.push_back(lut);
    return lut;
  }
  std::vector<unsigned int> arrivals, var_map;
  kavu_resyn_fanin_arrivals(fanins, false, arrivals);
  std::vector<KAVU_01TBL*> raw;
  const unsigned int ndj_var =
      best_fd(3, CDB_LUTMASK_MAX_INPUTS, kavu_fd_int::NO_DELAY_LIMIT, arrivals, raw, var_map);
  TABLE_LIST dec;
  dec.adopt(raw);
  if (dec.empty()) return nullptr;
  KAVU_CHECK(dec.size() > 1 || ndj_var == 0);
  const SPLIT_RESULT r = split_result(dec, n, fanins, var_map);
  const bool non_disjoint = dec.back()->num_vars() == r.free_size + dec.size();
  std::vector<CDB_SGATE_NODE*> built;
  std::vector<CDB_SGATE_OTERM*> roots;
  CDB_SGATE_NODE* root = nullptr;
  if (build_encodings(dec, r, name, built, roots))
    root = dec.back()->to_luts(name, composition_fanins(r, non_disjoint, ndj_var, roots), built);
  if (root == nullptr) {
    delete_synthesized_nodes(built);
    return nullptr;
  }
  append_nodes(nodes, built);
  return root;
}

// ---------------------------------------------------------------------------
// k-input builder: fewest LUTs.

unsigned int KAVU_01TBL::recursive_fd(const std::vector<CDB_SGATE_OTERM*>& fanins, HDB_INSTANCE_NAME* name,
                                      unsigned int k, unsigned int bound_set_size,
                                      std::vector<CDB_SGATE_NODE*>& nodes,
                                      std::vector<CDB_SGATE_OTERM*>& enc_outputs) {
  nodes.clear();
  enc_outputs.clear();
  const unsigned int target_lut_size = k;
  KAVU_CHECK(num_vars() > target_lut_size);
  KAVU_CHECK(num_vars() == fanins.size());
  KAVU_CHECK(bound_set_size > 0 && bound_set_size < num_vars());
  const unsigned int b = bound_set_size, f = num_vars() - b;
  std::vector<int> cof_map;
  const unsigned int num = kavu_01tbl_resyn_settings().m_quick_multiplicity ? quick_multiplicity(f, cof_map)
                                                                             : multiplicity(f, cof_map);
  const unsigned int num_cofs = 1u << b;
  KAVU_CHECK(num_cofs == cof_map.size());
  KAVU_CHECK(num > 0);
  const unsigned int num_encode_func = kavu_fd_int::encoding_count(num);
  // A decomposition must remove at least half of the bound variables.
  if (num_encode_func == 0 || b - num_encode_func < b / 2) return 0;
  TABLE_LIST encode_func;
  KAVU_01TBL g(0);
  kavu_fd_int::build_disjoint_tables(*this, f, num, cof_map, encode_func, g);
  KAVU_CHECK(encode_func.size() == num_encode_func);
  const std::vector<CDB_SGATE_OTERM*> bound(fanins.begin() + f, fanins.end());
  for (size_t i = 0; i < encode_func.size(); ++i) {
    std::vector<CDB_SGATE_NODE*> sub;
    CDB_SGATE_NODE* root = encode_func[i]->to_luts(bound, name, k, sub);
    if (root == nullptr) {
      delete_synthesized_nodes(nodes);
      enc_outputs.clear();
      return 0;
    }
    append_nodes(nodes, sub);
    enc_outputs.push_back(root->get_single_oterm());
  }
  *this = std::move(g);
  return num_encode_func;
}

namespace {

// The LUT count of a k-input network that is not limited (n >= k + 3).
constexpr unsigned int NO_LUT_LIMIT = 0xffffff;

// One decomposed candidate of the k-input builder: the encoding networks
// and the composition function over (free fan-ins, encoding outputs).
struct FD_CANDIDATE_NET {
  std::vector<CDB_SGATE_NODE*> nodes;
  std::vector<CDB_SGATE_OTERM*> rest_fanins;
  KAVU_01TBL rest;
  unsigned int gain = 0;
  unsigned int luts = 0;
  bool valid = false;

  void discard() {
    delete_synthesized_nodes(nodes);
    valid = false;
  }
};

// The best candidate over every bound set of size b (fewest LUTs among the
// largest gain); stops at the first candidate with one encoding function.
void best_candidate_of_size(const KAVU_01TBL& tbl, const std::vector<CDB_SGATE_OTERM*>& fanins,
                            HDB_INSTANCE_NAME* name, unsigned int k, unsigned int b, unsigned int debug_level,
                            FD_CANDIDATE_NET& best) {
  const unsigned int n = tbl.num_vars(), f = n - b;
  std::vector<unsigned int> list, var_map;
  kavu_fd_int::enumerate_bound_sets(n, b, list);
  std::vector<CDB_SGATE_OTERM*> reordered, enc_outputs;
  FD_CANDIDATE_NET cand;
  for (unsigned int mask : list) {
    cand.rest = tbl;
    FD_SEARCH::reorder_var(cand.rest, mask, var_map);
    kavu_fd_int::reorder_fanins(fanins, var_map, reordered);
    const unsigned int num_ef = cand.rest.recursive_fd(reordered, name, k, b, cand.nodes, enc_outputs);
    if (num_ef == 0) continue;
    const unsigned int free_set_size = f;
    KAVU_CHECK(free_set_size + num_ef == cand.rest.num_vars());
    cand.luts = count_luts(cand.nodes);
    if (debug_level >= 2 && cand.luts < cand.nodes.size()) kavu_debug("ef %d lut %d", num_ef, cand.luts);
    cand.gain = b - num_ef;
    cand.rest_fanins.assign(reordered.begin(), reordered.begin() + f);
    cand.rest_fanins.insert(cand.rest_fanins.end(), enc_outputs.begin(), enc_outputs.end());
    cand.valid = true;
    if (!best.valid || cand.gain > best.gain || (cand.gain == best.gain && cand.luts < best.luts)) {
      if (best.valid) best.discard();
      std::swap(best, cand);
    }
    if (cand.valid) cand.discard();
    cand.nodes.clear();
    if (num_ef == 1) break;
  }
}

}  // namespace

CDB_SGATE_NODE* KAVU_01TBL::to_luts(const std::vector<CDB_SGATE_OTERM*>& fanins, HDB_INSTANCE_NAME* name,
                                    unsigned int k, std::vector<CDB_SGATE_NODE*>& nodes) {
  const unsigned int target_lut_size = k;
  KAVU_CHECK(target_lut_size >= 2 && target_lut_size <= CDB_LUTMASK_MAX_INPUTS);
  KAVU_CHECK(num_vars() == fanins.size());
  if (m_debug_level >= 2) KAVU_CHECK(nodes.size() == 0);
  for (CDB_SGATE_OTERM* fanin : fanins) KAVU_CHECK(fanin != 0);
  const unsigned int volume = onset_volume();
  if (volume == 0 || volume == (1u << num_vars())) return make_trivial(*this, name, fanins, nodes);
  // The table itself loses the variables it ignores; the caller's fan-in
  // list stays as it is.
  std::vector<unsigned int> variable_map;
  const unsigned int removed = delete_redundant_var(variable_map);
  std::vector<CDB_SGATE_OTERM*> ins;
  kavu_fd_int::reorder_fanins(fanins, variable_map, ins);
  if (removed > 0 && m_debug_level >= 1) kavu_debug("reduce %d redundant fanins", removed);
  const unsigned int n = num_vars();
  if (n <= k) {
    // One gate takes the whole function; the table is left without variables.
    CDB_SGATE_NODE* gate = nullptr;
    if (n == 1) {
      gate = make_trivial(*this, name, ins, nodes);
    } else {
      CDB_SGATE_LUT* lut = make_lut(nullptr, ins);
      name_new_gate(lut, name, "lut");
      nodes.push_back(lut);
      gate = lut;
    }
    reduce(0);
    return gate;
  }
  const unsigned int hi = n <= k + 2 ? k : (n == k + 3 ? k + 1 : k + 2);
  const unsigned int lut_limit = n == k + 1 ? 2 : (n == k + 2 ? 3 : NO_LUT_LIMIT);
  std::vector<CDB_SGATE_NODE*> accepted;
  CDB_SGATE_NODE* accepted_root = nullptr;
  unsigned int accepted_gain = 0;
  for (unsigned int b = k - 1; b <= hi; ++b) {
    FD_CANDIDATE_NET best;
    best_candidate_of_size(*this, ins, name, k, b, m_debug_level, best);
    if (!best.valid) continue;
    std::vector<CDB_SGATE_NODE*> rest_nodes;
    CDB_SGATE_NODE* root = best.gain > 0 ? best.rest.to_luts(best.rest_fanins, name, k, rest_nodes) : nullptr;
    append_nodes(best.nodes, rest_nodes);
    if (root && best.gain > accepted_gain && count_luts(best.nodes) <= lut_limit) {
      delete_synthesized_nodes(accepted);
      accepted.swap(best.nodes);
      accepted_root = root;
      accepted_gain = best.gain;
    } else {
      best.discard();
    }
  }
  if (accepted_root == nullptr) return nullptr;
  for (size_t i = 0; i < accepted.size() && m_debug_level >= 2; ++i)
    kavu_debug("%3d %s", static_cast<int>(i), accepted[i]->get_debug_name().c_str());
  append_nodes(nodes, accepted);
  return accepted_root;
}

// ---------------------------------------------------------------------------
// Area- and delay-driven builder.

namespace {

// The number of bound sizes syn_luts compares; read on every call.
unsigned int num_bound_sizes() { return static_cast<unsigned int>(cfg_get_int_value("kavu_wv_num_bound_sizes", 2)); }

// The running state of one syn_luts call: the best network so far, against
// which every later candidate is pruned and compared.
struct SYN_BEST {
  bool improve = false;
  int64_t area = 0;   // starts at the caller's given_area
  int64_t delay = 0;  // starts at the caller's given_delay
  std::vector<CDB_SGATE_NODE*> nodes;
  CDB_SGATE_NODE* root = nullptr;
};

// Whether a network of this area and root arrival replaces the best.
bool syn_accepts(const SYN_BEST& best, int64_t area, int64_t delay, const KAVU_01TBL_RESYN_SETTINGS& s) {
  if (!best.improve) return true;
  if (s.m_for_speed) return delay < best.delay || (delay == best.delay && area <= best.area);
  return area < best.area || (s.m_use_delay_tie_break && area == best.area && delay < best.delay);
}

}  // namespace

CDB_SGATE_NODE* KAVU_01TBL::syn_luts(HDB_INSTANCE_NAME* name, const std::vector<CDB_SGATE_OTERM*>& fanins,
                                     std::vector<CDB_SGATE_NODE*>& nodes, int max_delay, unsigned int k,
                                     bool improve, int given_area, unsigned int given_delay) const {
  const KAVU_01TBL_RESYN_SETTINGS& s = kavu_01tbl_resyn_settings();
  const unsigned int num_inputs = static_cast<unsigned int>(fanins.size());
  KAVU_CHECK(this->num_vars() == num_inputs);
  KAVU_CHECK(k >= 2 && k <= CDB_LUTMASK_MAX_INPUTS);
  // The key's range (1 to 5) fits the largest LUT; a smaller one compares
  // the bound sizes below k that there are.
  const unsigned int num_sizes = std::min(num_bound_sizes(), k - 1);
  const unsigned int n = num_vars();
  if (improve && !s.m_for_speed &&
      static_cast<int64_t>(given_area) < KAVU_CONE_COST::get_lut_area_cost(std::min(n, k)))
    return nullptr;
  if (n <= k) return to_luts(name, fanins, nodes);
  KAVU_CHECK(num_sizes >= 1 && num_sizes < k);
  std::vector<unsigned int> arrivals;
  kavu_resyn_fanin_arrivals(fanins, true, arrivals);
  SYN_BEST best;
  best.improve = improve;
  best.area = given_area;
  best.delay = given_delay;
  for (unsigned int size = k - num_sizes + 1; size <= k; ++size) {
    std::vector<KAVU_01TBL*> raw;
    std::vector<unsigned int> var_map;
    const unsigned int ndj_var = best_fd(size, size, max_delay, arrivals, raw, var_map);
    TABLE_LIST dec;
    dec.adopt(raw);
    if (dec.empty()) continue;
    KAVU_CHECK(dec.size() > 1 || ndj_var == 0);
    const SPLIT_RESULT r = split_result(dec, n, fanins, var_map);
    const bool non_disjoint = dec.back()->num_vars() == r.free_size + dec.size();
    std::vector<CDB_SGATE_NODE*> built;
    std::vector<CDB_SGATE_OTERM*> roots;
    if (!build_encodings(dec, r, name, built, roots)) {
      delete_synthesized_nodes(built);
      continue;
    }
    int64_t enc_area = 0;
    for (CDB_SGATE_NODE* node : built) enc_area += KAVU_CONE_COST::get_lut_area_cost(node);
    // Prune against the best network so far: nothing of its area left for
    // the composition function, in area and speed mode alike.
    const int64_t area_left = best.area - enc_area;
    if (best.improve && area_left <= 0) {
      delete_synthesized_nodes(built);
      continue;
    }
    const int rest_area = best.improve ? kavu_fd_int::saturate_to_int(area_left) : given_area;
    const unsigned int rest_delay = best.improve ? kavu_fd_int::saturate_to_unsigned(best.delay) : given_delay;
    std::vector<CDB_SGATE_NODE*> rest_nodes;
    CDB_SGATE_NODE* root = dec.back()->syn_luts(name, composition_fanins(r, non_disjoint, ndj_var, roots),
                                                rest_nodes, max_delay, k, best.improve, rest_area, rest_delay);
    if (root == nullptr) {
      delete_synthesized_nodes(built);
      continue;
    }
    append_nodes(built, rest_nodes);
    const int64_t delay = root->get_single_oterm()->get_aux3();
    const int64_t area = KAVU_CONE_COST::get_cone_area_cost(built);
    if (!syn_accepts(best, area, delay, s)) {
      delete_synthesized_nodes(built);
      continue;
    }
    delete_synthesized_nodes(best.nodes);
    best.nodes.swap(built);
    best.root = root;
    best.area = area;
    best.delay = delay;
    best.improve = true;
  }
  if (best.root == nullptr) return nullptr;
  CDB_SGATE_NODE* root_lut = best.root;
  KAVU_CHECK(!root_lut->get_single_oterm()->has_fanout());
  append_nodes(nodes, best.nodes);
  return root_lut;
}

// ---------------------------------------------------------------------------
// Applying one listed solution.

KAVU_01TBL* KAVU_01TBL::apply_fd(HDB_INSTANCE_NAME* name, const KAVU_FD_SOLUTION& solution,
                                 const std::vector<CDB_SGATE_OTERM*>& fanins,
                                 std::vector<CDB_SGATE_OTERM*>& new_fanins,
                                 std::vector<CDB_SGATE_NODE*>& luts) const {
  const unsigned int n = num_vars();
  KAVU_CHECK(fanins.size() == n);
  KAVU_CHECK(solution.used_vars != 0 && (n >= 32 || (solution.used_vars >> n) == 0));
  const unsigned int num_bound = kavu_count_ones(solution.used_vars);
  KAVU_CHECK(num_bound < n);
  KAVU_01TBL work(*this);
  std::vector<unsigned int> var_map;
  work.reorder_var(n, solution.used_vars, var_map);
  const unsigned int f = n - num_bound;
  std::vector<KAVU_01TBL*> raw;
  unsigned int position = 0;
  if (solution.ndj_var == -1) {
    work.disjoint_fd(f, raw);
  } else {
    bool found = false;
    for (; position < n; ++position) {
      if (static_cast<int>(var_map[position]) == solution.ndj_var) {
        found = true;
        break;
      }
    }
    KAVU_CHECK(found);
    work.non_disjoint_fd(f, position, raw);
  }
  TABLE_LIST decomposed_func;
  decomposed_func.adopt(raw);
  KAVU_CHECK(decomposed_func.size() > 0);
  KAVU_CHECK(decomposed_func.size() > 1 || solution.ndj_var == -1);
  SPLIT_RESULT r;
  r.num_bound = num_bound;
  r.free_size = f;
  kavu_fd_int::reorder_fanins(fanins, var_map, r.reordered);
  std::vector<CDB_SGATE_NODE*> built;
  std::vector<CDB_SGATE_OTERM*> roots;
  if (!build_encodings(decomposed_func, r, name, built, roots)) {
    delete_synthesized_nodes(built);
    return nullptr;
  }
  append_nodes(luts, built);
  new_fanins = composition_fanins(r, solution.ndj_var != -1, position, roots);
  std::vector<KAVU_01TBL*> out;
  decomposed_func.release_into(out);
  KAVU_01TBL* rest = out.back();
  out.pop_back();
  kavu_fd_int::free_tables(out);
  return rest;
}

// ---------------------------------------------------------------------------
// Cone capacity.

unsigned int kavu_cone_capacity(CDB_SGATE_OTERM* oterm, std::vector<CDB_SGATE_OTERM*>& fanins, unsigned int k) {
  KAVU_CHECK(oterm != 0);
  KAVU_CHECK(k > 1);
  const KAVU_01TBL cone_tbl = kavu_cone_01tbl(oterm, fanins, nullptr);
  const unsigned int cone_size = static_cast<unsigned int>(fanins.size());
  KAVU_CHECK(cone_size == cone_tbl.num_vars());
  if (cone_size <= k) return 1;
  std::vector<CDB_SGATE_NODE*> nodes;
  CDB_SGATE_NODE* root =
      cone_tbl.syn_luts(oterm->get_instance_name(), fanins, nodes, kavu_fd_int::NO_DELAY_LIMIT, k, false, -1, 0);
  const unsigned int count = root ? static_cast<unsigned int>(nodes.size()) : 0;
  delete_synthesized_nodes(nodes);
  return count;
}
