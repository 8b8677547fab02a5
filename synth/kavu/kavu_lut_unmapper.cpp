// kavu_lut_unmapper.cpp — the LUT unmapper's driver: construction and its
// configuration keys, the per-LUT driver, the sweep that runs on the caching
// path, the gate statistics and the sum-of-minterms form. The factored form
// is in kavu_lut_unmapper_factor.cpp.
//
// Driver, per LUT: a LUT without fan-out is left alone (null result); an
// inverted LUT output is folded into the mask; on the caching path the LUT
//   is swept and checked; then the form runs into a local list, whose gates
//   are moved to the caller's list in creation order.
// Cache: right after the sweep the mask is looked up; a hit re-instantiates
//   the stored cone, a miss runs the form and stores its cone. Sanity check:
//   the LUT's BDD is recorded before the sweep and compared with the new
//   gates' BDD after the form (kavu_lut_unmapper_bdd.cpp).
// Invariant: the driver never deletes the LUT and never adds a gate to a
//   netlist (the netlist form of convert_lut_to_logic does, afterwards).
// Cost: form 0 makes one AND per set bit of the mask (at most 64) with one
//   fan-in per input; the sweep is linear in the LUT's inputs.
#include "kavu_lut_unmapper.h"

#include <string>

#include "cfg/cfg.h"
#include "gen/gen.h"
#include "kavu_check.h"
#include "kavu_lut_unmapper_int.h"
#include "kavu_msg.h"
#include "kavu_setup.h"
#include "kavu_helper_summary.h"
#include "bdd/bdd_zbdd.h"

namespace {

double seconds_between(uint64_t from_ms, uint64_t to_ms) { return double(to_ms - from_ms) / 1000.0; }

std::string lut_mask_text(const CDB_SGATE_LUT* lut) {
  return std::string(lut->get_string_type_name()) + " " + lut->get_string_hpath() + " " + lut->get_debug_name() +
         " is " + lut->get_lut_mask().get_string_value();
}

// An input of a swept LUT counts as constant when it is absent, unconnected
// or tied; such an input must not matter to the mask.
bool is_constant_input(const CDB_SGATE_ITERM* t) {
  return t == nullptr || !cdb_is_connected(t) || t->get_source() == nullptr;
}

// What the sweep guarantees; each breach is an internal error.
void check_swept_lut(const CDB_SGATE_LUT* lut) {
  if (lut->get_output_term(0)->is_inverted()) KAVU_INTERNAL_ERROR("Oterm of LUT is inverted after sweeping it");
  const CDB_LUTMASK& mask = lut->get_lut_mask();
  const unsigned n = mask.get_num_inputs();
  for (unsigned i = 0; i < n; ++i) {
    const CDB_SGATE_ITERM* t = lut->get_input_term(i);
    if (is_constant_input(t)) {
      if (!mask.is_independent_of(i)) KAVU_INTERNAL_ERROR("LUT depends on constant iterm");
      continue;
    }
    if (t->is_inverted()) KAVU_INTERNAL_ERROR("LUT has inverted iterm");
    if (mask.is_independent_of(i)) KAVU_INTERNAL_ERROR("LUT is independent of non-constant iterm");
    for (unsigned j = i + 1; j < n; ++j) {
      const CDB_SGATE_ITERM* u = lut->get_input_term(j);
      if (!is_constant_input(u) && u->get_source() == t->get_source())
        KAVU_INTERNAL_ERROR("LUT has two inputs from the same source");
    }
  }
}

void trace_gate_counts(const CDB_SGATE_LUT* lut, const std::list<CDB_SGATE_NODE*>& nodes) {
  const LUT_UNMAP_GATE_COUNTS c = lut_unmap_count_gates(nodes);
  kavu_debug(
      "LUT %s %s after unmapping has %d 2-input equivalents: %d 2:1 muxes, %d 2-input ANDs (%d ANDs), "
      "%d 2-input ORs (%d ORs), %d 2-input XORs (%d XORs) and %d others",
      lut->get_string_hpath().c_str(), lut->get_debug_name().c_str(), c.two_input_equivalents(), c.muxes, c.and2,
      c.ands, c.or2, c.ors, c.xor2, c.xors, c.others);
}

// A comb gate of the sum-of-minterms form, carrying the LUT's name.
CDB_SGATE_COMB* new_named_comb(CDB_SGATE_LUT* lut, CDB_COMB_TYPE type, std::list<CDB_SGATE_NODE*>* new_nodes) {
  CDB_SGATE_COMB* gate = new CDB_SGATE_COMB(lut->get_instance_name(), type, true);
  new_nodes->push_back(gate);
  gate->get_output_term(0)->set_synthesized_name(static_cast<CDB_SGATE_NODE*>(lut));
  return gate;
}

// The AND of one minterm: one literal per input position of the mask. An
// unconnected input reads as 1 (as the database's LUT reads it), so its
// literal is that constant rather than nothing: a minterm that needs the
// input at 0 can never be on.
void add_minterm_literals(CDB_SGATE_COMB* gate, const CDB_SGATE_LUT* lut, unsigned n, unsigned minterm) {
  for (unsigned i = 0; i < n; ++i) {
    const bool one = ((minterm >> i) & 1u) != 0;
    const CDB_SGATE_ITERM* t = lut->get_input_term(i);
    if (cdb_is_connected(t))
      gate->add_unordered_fanin_from_oterm(nullptr, one ? t->is_inverted() : !t->is_inverted(), t->get_source());
    else
      gate->add_unordered_fanin_from_oterm(nullptr, !one, nullptr);
  }
}

}  // namespace

// ---------------------------------------------------------------------------
KAVU_LUT_UNMAPPER::KAVU_LUT_UNMAPPER() : KAVU_LUT_UNMAPPER(FACTORED, true, false) {}

KAVU_LUT_UNMAPPER::KAVU_LUT_UNMAPPER(RESULT_FORM form, bool caching, bool sanity_check)
    : m_result_form(form), m_caching(caching), m_sanity_check(sanity_check) {
  const bool boolean_unmap = cfg_is_on("kavu_use_boolean_unmap", false);
  const bool ini_sanity_check = cfg_is_on("kavu_lut_unmapper_sanity_check", false);
  const bool ini_no_caching = cfg_is_on("kavu_lut_unmapper_no_caching", false);
  if (boolean_unmap && m_result_form != BDD_DECOMPOSITION) {
    kavu_debug("Using Boolean unmapping");
    m_result_form = BDD_DECOMPOSITION;
  }
  if (ini_sanity_check) {
    kavu_debug("INI says: sanity check LUT unmapper");
    m_sanity_check = true;
  }
  if (ini_no_caching) {
    kavu_debug("INI says: no caching for LUT unmapper");
    m_caching = false;
  }
  if (m_caching) kavu_debug_at_level(3, "Turning on caching for the LUT unmapper");
  if (m_sanity_check) kavu_debug("Turning on sanity checking for LUT unmapper");
}

KAVU_LUT_UNMAPPER::KAVU_LUT_UNMAPPER(const KAVU_LUT_UNMAPPER& other)
    : m_result_form(other.m_result_form), m_caching(other.m_caching), m_sanity_check(other.m_sanity_check) {}

KAVU_LUT_UNMAPPER& KAVU_LUT_UNMAPPER::operator=(const KAVU_LUT_UNMAPPER& other) {
  if (this == &other) return *this;
  release();
  m_result_form = other.m_result_form;
  m_caching = other.m_caching;
  m_sanity_check = other.m_sanity_check;
  return *this;
}

KAVU_LUT_UNMAPPER::~KAVU_LUT_UNMAPPER() { release(); }

void KAVU_LUT_UNMAPPER::release() {
  if (m_cache != nullptr) {
    kavu_debug("Destroying the LUT unmap cache");
    delete m_cache;
    m_cache = nullptr;
  }
  if (m_bm != nullptr) {
    kavu_debug("Destroying the BDD manager for sanity checking");
    delete m_bm;
    m_bm = nullptr;
  }
}

void KAVU_LUT_UNMAPPER::run_cache_stats() {
  if (m_cache != nullptr) m_cache->print_stats();
}

void KAVU_LUT_UNMAPPER::dump_cache() {
  if (m_cache != nullptr) m_cache->print_cache();
}

void KAVU_LUT_UNMAPPER::initialize_bdd_manager(int variables, int nodes, int cache, bool complement_edges) {
  if (m_bm != nullptr) KAVU_INTERNAL_ERROR("m_bm == 0");
  m_bm = new BDD_ZBDD_MGR(variables, nodes, cache, complement_edges, false);
}

CDB_SGATE_OTERM* KAVU_LUT_UNMAPPER::convert_lut_to_logic(CDB_SGATE_LUT* lut, std::list<CDB_SGATE_NODE*>* new_nodes) {
  KAVU_CHECK(lut != 0 && lut->get_sgate_type() == CDB_SGATE_LUT_ENUM);
  KAVU_CHECK(new_nodes != 0);
  const uint64_t start = gen_get_tick_count();
  if (!lut->has_fanout()) {
    if (kavu_debug_lut_unmapper)
      kavu_debug("Skipping LUT unmapping for LUT %s because it has no fanout", lut->get_debug_name().c_str());
    return nullptr;
  }
  CDB_SGATE_OTERM* lut_oterm = lut->get_output_term(0);
  if (lut_oterm->is_inverted()) {
    // The same signal with a plain output, so every form sees one function.
    lut_oterm->clear_invert();
    lut->set_lut_mask(~lut->get_lut_mask());
  }
  LUT_UNMAP_SANITY_CHECK check(this);
  uint64_t pre_start = 0, pre_end = 0, post_start = 0, post_end = 0;
  if (m_sanity_check) {
    pre_start = gen_get_tick_count();
    check.record_before(lut);
    pre_end = gen_get_tick_count();
  }
  const uint64_t unmap_start = gen_get_tick_count();
  LUT_UNMAP_CACHE_ENTRY* hit = nullptr;
  if (m_caching) {
    if (m_cache == nullptr) {
      kavu_debug("Allocating the cache");
      m_cache = new LUT_UNMAP_CACHE();
    }
    if (!sweep_lut(lut)) {
      if (kavu_debug_lut_unmapper)
        kavu_debug("Skipping LUT unmapping for LUT %s because it became fanout-free after sweeping",
                   lut->get_debug_name().c_str());
      return nullptr;
    }
    hit = m_cache->lookup(lut->get_lut_mask(), uint32_t(m_result_form));
    if (kavu_debug_lut_unmapper) {
      if (hit == nullptr) kavu_debug("Found LUT %s in not in the cache yet", lut->get_debug_name().c_str());
      else {
        kavu_debug("Found LUT %s in the cache", lut->get_debug_name().c_str());
        m_cache->print_entry(hit);
      }
    }
  }
  std::list<CDB_SGATE_NODE*> local;
  bool inverted = false;
  CDB_SGATE_OTERM* head = nullptr;
  if (hit != nullptr) {
    head = m_cache->reinstantiate(hit, lut, &local);
    inverted = hit->inverted;
  } else {
    head = run_form(lut, &local, &inverted);
    if (kavu_debug_lut_unmapper) trace_gate_counts(lut, local);
    if (m_caching) m_cache->insert(lut, local, head, uint32_t(m_result_form), inverted);
  }
  const uint64_t unmap_end = gen_get_tick_count();
  if (m_sanity_check) {
    post_start = gen_get_tick_count();
    check.compare_after(head, &local, inverted);
    post_end = gen_get_tick_count();
  }
  new_nodes->splice(new_nodes->end(), local);
  if (kavu_debug_lut_unmapper)
    kavu_debug(
        "Spent %.3f seconds in unmapping LUT %s, of which %.3f in pre-BDD, %.3f in unmapping and %.3f in post-BDD",
        seconds_between(start, gen_get_tick_count()), lut->get_debug_name().c_str(),
        seconds_between(pre_start, pre_end), seconds_between(unmap_start, unmap_end),
        seconds_between(post_start, post_end));
  return head;
}

CDB_SGATE_OTERM* KAVU_LUT_UNMAPPER::convert_lut_to_logic(CDB_SGATE_LUT* lut, CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist != 0);
  std::list<CDB_SGATE_NODE*> nodes;
  CDB_SGATE_OTERM* head = convert_lut_to_logic(lut, &nodes);
  for (CDB_SGATE_NODE* node : nodes) netlist->add_node(node, true);
  return head;
}

// The dispatch on the result form; the BDD form plugs in at lut_unmap_boolean.
CDB_SGATE_OTERM* KAVU_LUT_UNMAPPER::run_form(CDB_SGATE_LUT* lut, std::list<CDB_SGATE_NODE*>* nodes, bool* inverted) {
  *inverted = false;
  switch (m_result_form) {
    case SUM_OF_MINTERMS: return lut_unmap_two_level(lut, nodes);
    case FACTORED: return kavu_convert_lut_to_factored_logic_fast(lut, nodes, inverted);
    case BDD_DECOMPOSITION: return lut_unmap_boolean(lut, nodes, inverted);
  }
  KAVU_INTERNAL_ERROR("Unknown type of LUT unmapper");
  return nullptr;
}

bool KAVU_LUT_UNMAPPER::sweep_lut(CDB_SGATE_LUT* lut) {
  KAVU_CHECK(lut->has_fanout());
  const int absorbed = kavu_absorb_duplicate_lut_iterms(lut);
  if (kavu_debug_lut_unmapper && absorbed > 0) kavu_debug("Absorbed %d duplicate inputs on LUT", absorbed);
  lut->mls_sweep(false);
  if (!lut->has_fanout()) {
    if (kavu_debug_lut_unmapper) kavu_debug("LUT sweep made LUT %s fanoutless", lut->get_debug_name().c_str());
    return false;
  }
  check_swept_lut(lut);
  if (kavu_debug_lut_unmapper) kavu_debug("Lut mask of node %s", lut_mask_text(lut).c_str());
  return true;
}

// ---------------------------------------------------------------------------
CDB_SGATE_OTERM* lut_unmap_two_level(CDB_SGATE_LUT* lut, std::list<CDB_SGATE_NODE*>* new_nodes) {
  KAVU_CHECK(lut != 0 && lut->get_sgate_type() == CDB_SGATE_LUT_ENUM);
  KAVU_CHECK(new_nodes != 0);
  CDB_SGATE_OTERM* lut_oterm = lut->get_output_term(0);
  KAVU_CHECK(lut_oterm != 0);
  const CDB_LUTMASK mask = lut->get_lut_mask();
  CDB_SGATE_COMB* sum = new_named_comb(lut, CDB_COMB_OR, new_nodes);
  CDB_SGATE_OTERM* sum_oterm = sum->get_output_term(0);
  sum_oterm->adopt_fanouts(lut_oterm, lut_oterm->is_inverted());
  if (mask.is_vcc() || mask.is_gnd()) {
    sum->add_unordered_fanin_from_oterm(nullptr, mask.is_gnd(), nullptr);
    return sum_oterm;
  }
  const unsigned n = mask.get_num_inputs();
  const uint64_t bits = mask.get_value();
  for (unsigned m = 0; m < (1u << n); ++m) {
    if (((bits >> m) & 1u) == 0) continue;
    CDB_SGATE_COMB* product = new_named_comb(lut, CDB_COMB_AND, new_nodes);
    add_minterm_literals(product, lut, n, m);
    sum->add_unordered_fanin_from_oterm(nullptr, false, product->get_output_term(0));
  }
  return sum_oterm;
}

LUT_UNMAP_GATE_COUNTS lut_unmap_count_gates(const std::list<CDB_SGATE_NODE*>& nodes) {
  LUT_UNMAP_GATE_COUNTS c;
  for (const CDB_SGATE_NODE* node : nodes) {
    if (node->get_sgate_type() == CDB_SGATE_MUX_ENUM) {
      ++c.muxes;
      continue;
    }
    if (node->get_sgate_type() != CDB_SGATE_COMB_ENUM) {
      ++c.others;
      if (kavu_debug_lut_unmapper)
        kavu_debug("Did not recognize type of node %s %s", node->get_string_type_name(),
                   node->get_debug_name().c_str());
      continue;
    }
    const int wide = int(node->get_number_of_fanin()) - 1;
    switch (static_cast<const CDB_SGATE_COMB*>(node)->get_comb_type()) {
      case CDB_COMB_AND: ++c.ands; c.and2 += wide; break;
      case CDB_COMB_OR: ++c.ors; c.or2 += wide; break;
      case CDB_COMB_XOR: ++c.xors; c.xor2 += wide; break;
      default: KAVU_INTERNAL_ERROR("Unexpected COMB type");
    }
  }
  return c;
}
