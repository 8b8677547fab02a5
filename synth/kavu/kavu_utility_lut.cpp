// kavu_utility_lut.cpp — rebuilding logic marked by LUT buffers as single
// LUTs (model in kavu_utility_lut.h).
//
// The cone walk is iterative over an explicit stack; a terminal is pushed at
// most once (one hash set holds every terminal ever pushed, which is the
// union of the visited and the stacked ones), and the input list keeps its
// discovery order with a second hash set for membership. Scratch containers
// live in one walker per pass, cleared between cones.
#include "kavu_utility_lut.h"

#include <unordered_set>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "kavu_01tbl.h"
#include "kavu_01tbl_cone.h"
#include "kavu_check.h"
#include "kavu_helper_predicates.h"
#include "kavu_msg.h"
#include "kavu_name.h"
#include "kavu_wiring_helper.h"

namespace {

constexpr int MAX_CONE_PUSHES = 10000;

bool is_lut_buffer_type(const CDB_SGATE_NODE* g, CDB_BUFFER_TYPE type) {
  const CDB_SGATE_BUFFER* b = const_cast<CDB_SGATE_NODE*>(g)->cast_to_buffer();
  return b && b->get_buffer_type() == type;
}

class LUT_CONE_WALKER {
 public:
  bool collect(CDB_SGATE_NODE* lut_out, std::vector<CDB_SGATE_OTERM*>* lut_ins) {
    KAVU_CHECK(lut_ins->size() == 0);
    m_stack.clear();
    m_pushed.clear();
    m_inputs.clear();
    CDB_SGATE_ITERM* in = lut_out->get_single_iterm();
    if (!in || !in->get_source()) return true;
    m_stack.push_back(in->get_source());
    m_pushed.insert(in->get_source());
    int pushes = 0;
    while (!m_stack.empty()) {
      CDB_SGATE_OTERM* t = m_stack.back();
      m_stack.pop_back();
      CDB_SGATE_NODE* g = t->get_my_node();
      KAVU_CHECK(g);
      if (opt_is_lut_in_buffer(g)) {
        if (m_inputs.insert(t).second) lut_ins->push_back(t);
        continue;
      }
      if (!kavu_is_a_comb(g) && !kavu_is_a_mux(g) && !kavu_is_a_lut(g)) return false;
      for (CDB_SGATE_ITERM* it : g->get_input_terms()) {
        CDB_SGATE_OTERM* src = (it && cdb_is_connected(it)) ? it->get_source() : nullptr;
        if (!src || !m_pushed.insert(src).second) continue;
        if (++pushes >= MAX_CONE_PUSHES) return false;
        m_stack.push_back(src);
      }
    }
    return true;
  }

 private:
  std::vector<CDB_SGATE_OTERM*> m_stack;
  std::unordered_set<CDB_SGATE_OTERM*> m_pushed;
  std::unordered_set<CDB_SGATE_OTERM*> m_inputs;
};

void prepare_and_sweep(CDB_SGATE_NETLIST* netlist) {
  netlist->prepare_for_use();
  netlist->sweep(false);
}

int process_lut_out_buffers(CDB_SGATE_NETLIST* netlist, LUT_CONE_WALKER& walker) {
  int built = 0;
  std::vector<CDB_SGATE_OTERM*> inputs;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* g = *it;
    if (!g || !is_lut_buffer_type(g, CDB_BUFFER_LUT_OUTPUT)) continue;
    CDB_SGATE_ITERM* iterm = g->get_single_iterm();
    KAVU_CHECK(cdb_is_connected (iterm));
    CDB_SGATE_OTERM* root = iterm->get_source();
    if (iterm->is_inverted() || iterm->is_vcc_or_gnd() || opt_is_lut_in_buffer(root->get_my_node()))
      root = opt_insert_wire_before_iterm(iterm, netlist);
    KAVU_CHECK(!iterm->is_inverted());
    KAVU_CHECK(!iterm->is_vcc_or_gnd());
    inputs.clear();
    if (!walker.collect(g, &inputs)) {
      kavu_debug("Couldn't identify input buffers of LUT_OUT %s", g->get_debug_name().c_str());
      continue;
    }
    if (inputs.size() > CDB_LUTMASK::max_num_inputs) {
      kavu_debug("LUT_OUT %s has too many support", g->get_debug_name().c_str());
      continue;
    }
    const CDB_LUTMASK mask = kavu_cone_01tbl(root, inputs, nullptr).make_lutmask();
    CDB_SGATE_OTERM* lut_out = opt_lut_up(&mask, inputs, netlist, g);
    lut_out->adopt_fanouts(root, false);
    ++built;
  }
  if (built > 0) prepare_and_sweep(netlist);
  return built;
}

}  // namespace

bool opt_is_lut_in_buffer(CDB_SGATE_NODE* sgate) {
  KAVU_CHECK(sgate);
  return is_lut_buffer_type(sgate, CDB_BUFFER_LUT_INPUT);
}

CDB_SGATE_OTERM* opt_insert_wire_before_iterm(CDB_SGATE_ITERM* iterm, CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(iterm && netlist);
  CDB_SGATE_OTERM* src = iterm->get_source();
  CDB_SGATE_NODE* from_sgate = src ? src->get_my_node() : iterm->get_my_node();
  KAVU_CHECK(from_sgate);
  CDB_SGATE_COMB* wire = new CDB_SGATE_COMB(nullptr, CDB_COMB_AND, true);
  kavu_create_synthesized_name(wire, from_sgate, "buf");
  netlist->add_node(wire, true);
  kavu_insert_comb_fanin(wire, src, iterm->is_inverted());
  iterm->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_UNCONNECTED);
  CDB_SGATE_OTERM* out = wire->get_single_oterm();
  out->insert_fanout(iterm);
  iterm->clear_invert();
  return out;
}

bool opt_collect_lut_in_buffers(CDB_SGATE_NODE* lut_out_buffer, std::vector<CDB_SGATE_OTERM*>* lut_ins) {
  KAVU_CHECK(lut_out_buffer && lut_ins);
  LUT_CONE_WALKER walker;
  return walker.collect(lut_out_buffer, lut_ins);
}

CDB_SGATE_OTERM* opt_lut_up(const CDB_LUTMASK* mask, const std::vector<CDB_SGATE_OTERM*>& sources,
                            CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* name_gate) {
  KAVU_CHECK(mask && netlist);
  CDB_SGATE_NODE* from_sgate = name_gate;
  KAVU_CHECK(from_sgate);
  const unsigned num_ins = static_cast<unsigned>(sources.size());
  KAVU_CHECK(num_ins <= CDB_LUTMASK::max_num_inputs);
  CDB_SGATE_LUT* lut = new CDB_SGATE_LUT(nullptr, *mask);
  kavu_create_synthesized_name(lut, from_sgate, "lut");
  netlist->add_node(lut, true);
  for (unsigned i = 0; i < num_ins; ++i) {
    CDB_SGATE_OTERM* oterm = sources[i];
    KAVU_CHECK(oterm);
    CDB_SGATE_ITERM* iterm = lut->create_input_term(nullptr, static_cast<DB_INPUT_PORT_TYPE>(12 + i));
    lut->set_input_term(iterm, i);
    oterm->insert_fanout(iterm);
    KAVU_CHECK(cdb_is_connected (iterm));
  }
  lut->set_flag_byte(CDB_KIND_BYTE, lut->get_flag_byte(CDB_KIND_BYTE) | CDB_LUT_MIGRATION_OBSERVABLE);
  return lut->get_single_oterm();
}

int opt_process_lut_out_io_buffers(CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist);
  LUT_CONE_WALKER walker;
  return process_lut_out_buffers(netlist, walker);
}

int opt_bypass_lut_io_buffers(CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist);
  int bypassed = 0;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* g = *it;
    if (!g || !(is_lut_buffer_type(g, CDB_BUFFER_LUT_INPUT) || is_lut_buffer_type(g, CDB_BUFFER_LUT_OUTPUT)))
      continue;
    CDB_SGATE_NODE* sgate = g;
    KAVU_CHECK(sgate);
    CDB_SGATE_ITERM* iterm = g->get_single_iterm();
    KAVU_CHECK(cdb_is_connected (iterm));
    CDB_SGATE_OTERM* out = g->get_single_oterm();
    if (iterm->is_inverted() || iterm->is_vcc_or_gnd() || iterm->get_source() == out)
      opt_insert_wire_before_iterm(iterm, netlist);
    iterm->get_source()->adopt_fanouts(out, false);
    ++bypassed;
  }
  if (bypassed > 0) prepare_and_sweep(netlist);
  return bypassed;
}

bool opt_process_lut_io_buffers(CDB_SGATE_NETLIST* netlist, bool skip_lut_building) {
  KAVU_CHECK(netlist);
  const int built = skip_lut_building ? 0 : opt_process_lut_out_io_buffers(netlist);
  const int bypassed = opt_bypass_lut_io_buffers(netlist);
  return built > 0 || bypassed > 0;
}
