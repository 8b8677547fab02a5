// kavu_lut_unmapper_factor.cpp — the LUT unmapper's factored form: a LUT
// mask factored directly into a tree of AND, OR and XOR comb gates.
//
// Entry: kavu_convert_lut_to_factored_logic_fast. Recipe per sub-function:
//   1. constant on its care set: a constant; one input: the literal;
//   2. drop the inputs the function does not need on its care set;
//   3. disjoint-support decomposition f = a(A) op g(B), op AND, OR or XOR,
//      or f = a(A) / f = g(B), searched over bound sets A of at most n/2
//      variables (depth first, A in increasing variable order, first success
//      wins); a and g are factored in turn;
//   4. otherwise a Shannon expansion around the input with the cheapest
//      estimated literal count, degenerating to an XOR, a single AND term or
//      a bare sub-function where the cofactors allow, and handing each
//      cofactor the don't cares that the other term covers.
// Model: unconnected LUT inputs must not matter to the mask and are dropped;
//   a tied input is a constant literal; a sub-function's result is a
//   FACTORED_NODE, so inversions ride on fan-in flags and never cost a gate.
// Invariant: every gate made is appended to the caller's list in creation
//   order and named "comb" after the LUT; the LUT itself is never changed
//   apart from losing its fan-outs to the head.
// Cost: a factoring step tries at most 41 bound sets of at most 8 cofactors
//   (n <= 6); the split-variable choice estimates n Shannon splits, each a
//   few bound-set searches. Recursion depth is bounded by the input count.
#include <array>
#include <string>

#include "kavu_check.h"
#include "kavu_lut_unmapper.h"
#include "kavu_lut_unmapper_int.h"
#include "kavu_msg.h"
#include "kavu_name.h"
#include "kavu_setup.h"

namespace {

constexpr unsigned MAX_VARS = 6;
constexpr unsigned MAX_COFACTORS = 8;  // 2^(6/2)

// A short list of variable indices in increasing order.
struct VAR_LIST {
  std::array<unsigned, MAX_VARS> m_vars{};
  unsigned m_size = 0;
  void push(unsigned v) { m_vars[m_size++] = v; }
  void erase_at(unsigned pos) {
    for (unsigned i = pos; i + 1 < m_size; ++i) m_vars[i] = m_vars[i + 1];
    --m_size;
  }
};

// One state of the bound-set search: the cofactors of the function for every
// value of the bound set A, each a function of the free set B in list order.
// Bit j of a cofactor's index is the value of the j-th variable of A.
struct BOUND_SET_STATE {
  VAR_LIST m_a, m_b;
  std::array<CDB_LUTMASK, MAX_COFACTORS> m_masks, m_dcs;
  unsigned m_count = 0;
};

FACTORED_NODE complement(FACTORED_NODE n) {
  n.inverted = !n.inverted;
  return n;
}

FACTORED_NODE constant_node(bool one) { return FACTORED_NODE{nullptr, !one}; }

FACTORED_INPUTS without_entry(const FACTORED_INPUTS& inputs, unsigned v) {
  FACTORED_INPUTS rest;
  rest.reserve(inputs.size());
  for (unsigned i = 0; i < inputs.size(); ++i)
    if (i != v) rest.push_back(inputs[i]);
  return rest;
}

// A new comb gate named after the LUT and appended to the list.
CDB_SGATE_COMB* lut_unmap_new_comb(std::list<CDB_SGATE_NODE*>* new_nodes, CDB_SGATE_LUT* lut,
                                   CDB_COMB_TYPE type) {
  CDB_SGATE_COMB* gate = new CDB_SGATE_COMB(nullptr, type, true);
  kavu_create_synthesized_name(gate, static_cast<CDB_SGATE_NODE*>(lut), "comb");
  new_nodes->push_back(gate);
  return gate;
}

void add_fanin(CDB_SGATE_COMB* gate, const FACTORED_NODE& node) {
  gate->add_unordered_fanin_from_oterm(nullptr, node.inverted, node.oterm);
}

FACTORED_NODE two_input_gate(std::list<CDB_SGATE_NODE*>* new_nodes, CDB_SGATE_LUT* lut,
                             CDB_COMB_TYPE type, const FACTORED_NODE& first,
                             const FACTORED_NODE& second) {
  CDB_SGATE_COMB* gate = lut_unmap_new_comb(new_nodes, lut, type);
  add_fanin(gate, first);
  add_fanin(gate, second);
  return FACTORED_NODE{gate->get_output_term(0), false};
}

// The literal of a one-input function that is not constant.
FACTORED_NODE single_input_literal(const CDB_LUTMASK& mask, const FACTORED_NODE& input) {
  KAVU_CHECK(!mask.is_vcc());
  KAVU_CHECK(!mask.is_gnd());
  return mask == CDB_LUTMASK::imask(1, 0) ? input : complement(input);
}

// Kinds of cofactors met by the classification.
struct COFACTOR_KINDS {
  bool dc = false, gnd = false, vcc = false, f = false, f_bar = false;
  int distinct = 0;
};

LUT_UNMAP_DECOMP_TYPE lut_unmap_classify_cofactors(const CDB_LUTMASK* masks, const CDB_LUTMASK* dcs,
                                                   unsigned count) {
  COFACTOR_KINDS k;
  CDB_LUTMASK f;
  auto note = [&k](bool& seen) {
    if (!seen) {
      seen = true;
      ++k.distinct;
    }
  };
  for (unsigned i = 0; i < count; ++i) {
    if (dcs[i].is_vcc()) {
      k.dc = true;
    } else if (lut_unmap_is_const0(masks[i], dcs[i])) {
      note(k.gnd);
    } else if (lut_unmap_is_const1(masks[i], dcs[i])) {
      note(k.vcc);
    } else if (!k.f) {
      f = masks[i];
      note(k.f);
    } else if (masks[i] == f) {
      // nothing new
    } else if (masks[i] == ~f) {
      note(k.f_bar);
    } else {
      return LUT_UNMAP_DECOMP_NONE;
    }
    if (k.distinct > 2) return LUT_UNMAP_DECOMP_NONE;
  }
  if (k.gnd && k.f) return LUT_UNMAP_DECOMP_AND;
  if (k.gnd) {
    KAVU_CHECK(k.vcc || k.dc);
    return LUT_UNMAP_DECOMP_WIRE_A;
  }
  if (k.vcc) {
    KAVU_CHECK(k.f && !k.f_bar);
    return LUT_UNMAP_DECOMP_OR;
  }
  KAVU_CHECK(k.f);
  return k.f_bar ? LUT_UNMAP_DECOMP_XOR : LUT_UNMAP_DECOMP_WIRE_B;
}

// Depth-first search for a bound set; on success `st` holds the state found.
bool lut_unmap_search_bound_set(BOUND_SET_STATE& st, unsigned max_a, LUT_UNMAP_DECOMP_TYPE* type) {
  if (st.m_a.m_size >= max_a) return false;
  BOUND_SET_STATE next;
  for (unsigned pos = 0; pos < st.m_b.m_size; ++pos) {
    const unsigned v = st.m_b.m_vars[pos];
    if (st.m_a.m_size > 0 && v <= st.m_a.m_vars[st.m_a.m_size - 1]) continue;
    next.m_a = st.m_a;
    next.m_a.push(v);
    next.m_b = st.m_b;
    next.m_b.erase_at(pos);
    const unsigned m = st.m_count;
    for (unsigned i = 0; i < m; ++i) {
      next.m_masks[i] = lut_unmap_cofactor(st.m_masks[i], pos, false);
      next.m_masks[i + m] = lut_unmap_cofactor(st.m_masks[i], pos, true);
      next.m_dcs[i] = lut_unmap_cofactor(st.m_dcs[i], pos, false);
      next.m_dcs[i + m] = lut_unmap_cofactor(st.m_dcs[i], pos, true);
    }
    next.m_count = 2 * m;
    *type = lut_unmap_classify_cofactors(next.m_masks.data(), next.m_dcs.data(), next.m_count);
    if (*type != LUT_UNMAP_DECOMP_NONE || lut_unmap_search_bound_set(next, max_a, type)) {
      st = next;
      return true;
    }
  }
  return false;
}

// g and its don't cares: the cofactors that are neither all don't care nor
// constant agree with g (or its complement, for XOR) wherever they care.
void build_free_function(const BOUND_SET_STATE& st, LUT_UNMAP_SPLIT* split) {
  const unsigned nb = st.m_b.m_size;
  if (split->type == LUT_UNMAP_DECOMP_WIRE_A) {
    split->g = CDB_LUTMASK::get_gnd_mask(nb);
    split->dc_b = CDB_LUTMASK::get_gnd_mask(nb);
    return;
  }
  split->dc_b = CDB_LUTMASK::get_vcc_mask(nb);
  bool found = false;
  for (unsigned i = 0; i < st.m_count && !split->dc_b.is_gnd(); ++i) {
    const CDB_LUTMASK& m = st.m_masks[i];
    const CDB_LUTMASK& d = st.m_dcs[i];
    if (d.is_vcc() || lut_unmap_is_const0(m, d) || lut_unmap_is_const1(m, d)) continue;
    split->g = m;
    split->dc_b &= d;
    found = true;
  }
  KAVU_CHECK(found);
}

// a and its don't cares: one bit per cofactor index.
void build_bound_function(const BOUND_SET_STATE& st, LUT_UNMAP_SPLIT* split) {
  const unsigned na = st.m_a.m_size;
  uint64_t a_bits = 0, dc_bits = 0;
  if (split->type != LUT_UNMAP_DECOMP_WIRE_B) {
    for (unsigned i = 0; i < st.m_count; ++i) {
      const CDB_LUTMASK& m = st.m_masks[i];
      const CDB_LUTMASK& d = st.m_dcs[i];
      const bool dc_bit = d.is_vcc();
      bool bit = false;
      switch (split->type) {
        case LUT_UNMAP_DECOMP_AND:
          bit = !lut_unmap_is_const0(m, d);
          if (bit) KAVU_CHECK(dc_bit || m == split->g);
          break;
        case LUT_UNMAP_DECOMP_OR:
          bit = lut_unmap_is_const1(m, d);
          if (!bit) KAVU_CHECK(dc_bit || m == split->g);
          break;
        case LUT_UNMAP_DECOMP_XOR:
          bit = !(m == split->g);
          if (bit) KAVU_CHECK(dc_bit || m == ~split->g);
          break;
        case LUT_UNMAP_DECOMP_WIRE_A:
          bit = !lut_unmap_is_const0(m, d);
          if (bit) KAVU_CHECK((m | d).is_vcc());
          break;
        default:
          KAVU_INTERNAL_ERROR("Unexpected decomposition type");
      }
      if (bit) a_bits |= uint64_t(1) << i;
      if (dc_bit) dc_bits |= uint64_t(1) << i;
    }
  }
  split->a.set_value(na, a_bits);
  split->dc_a.set_value(na, dc_bits);
}

FACTORED_NODE lut_unmap_shannon_split(std::list<CDB_SGATE_NODE*>* new_nodes, CDB_SGATE_LUT* lut,
                                      const CDB_LUTMASK& mask, const CDB_LUTMASK& dc, unsigned v,
                                      const FACTORED_INPUTS& inputs);

// Which cofactor of a Shannon split lies inside the other.
struct CONTAINMENT {
  bool f1_in_f0;
  bool f0_in_f1;
};

// The containment rule of the Shannon split: a cofactor contained in the
// other is used bare, so it also shows in the other half; it must then be
// exact, and where it is 1 the other cofactor need not be. Adjusts the
// don't-care masks d1 and d0 accordingly.
CONTAINMENT apply_containment(const CDB_LUTMASK& f1, const CDB_LUTMASK& f0, CDB_LUTMASK& d1, CDB_LUTMASK& d0) {
  const CDB_LUTMASK p = f1 & f0;
  const CDB_LUTMASK none = CDB_LUTMASK::get_gnd_mask(f1.get_num_inputs());
  const CONTAINMENT c{p == f1, p == f0};
  if (c.f1_in_f0) {
    d0 |= p;
    d1 = none;
  }
  if (c.f0_in_f1) {
    d1 |= p;
    d0 = none;
  }
  return c;
}

// The term of one half of a Shannon split: none (*present false), the
// literal, the bare sub-function, or literal AND sub-function.
FACTORED_NODE shannon_term(std::list<CDB_SGATE_NODE*>* new_nodes, CDB_SGATE_LUT* lut,
                           const CDB_LUTMASK& f, const CDB_LUTMASK& d, bool bare,
                           const FACTORED_NODE& literal, const FACTORED_INPUTS& rest,
                           bool* present) {
  *present = !f.is_gnd();
  if (!*present) return constant_node(false);
  if (f.is_vcc()) return literal;
  const FACTORED_NODE r = lut_unmap_factor_mask(new_nodes, lut, f, d, rest);
  if (bare) return r;
  return two_input_gate(new_nodes, lut, CDB_COMB_AND, literal, r);
}

FACTORED_NODE lut_unmap_shannon_split(std::list<CDB_SGATE_NODE*>* new_nodes, CDB_SGATE_LUT* lut,
                                      const CDB_LUTMASK& mask, const CDB_LUTMASK& dc, unsigned v,
                                      const FACTORED_INPUTS& inputs) {
  const unsigned n = mask.get_num_inputs();
  KAVU_CHECK(v < n && inputs.size() == n);
  if (lut_unmap_is_const1(mask, dc)) return constant_node(true);
  if (lut_unmap_is_const0(mask, dc)) return constant_node(false);
  if (n == 1) return single_input_literal(mask, inputs[0]);

  const FACTORED_NODE literal = inputs[v];
  const FACTORED_INPUTS rest = without_entry(inputs, v);
  CDB_LUTMASK f1 = lut_unmap_cofactor(mask, v, true), f0 = lut_unmap_cofactor(mask, v, false);
  CDB_LUTMASK d1 = lut_unmap_cofactor(dc, v, true), d0 = lut_unmap_cofactor(dc, v, false);
  if (lut_unmap_is_xor_in(mask, v)) {
    const FACTORED_NODE h = lut_unmap_factor_mask(new_nodes, lut, f0, d1 & d0, rest);
    return two_input_gate(new_nodes, lut, CDB_COMB_XOR, literal, h);
  }
  const CDB_LUTMASK none = CDB_LUTMASK::get_gnd_mask(n - 1);
  if (f1 == f0) return lut_unmap_factor_mask(new_nodes, lut, f1, none, rest);

  // A cofactor constant on its care set becomes that constant exactly.
  auto settle = [&none](CDB_LUTMASK& f, CDB_LUTMASK& d) {
    if (lut_unmap_is_const1(f, d)) {
      f = CDB_LUTMASK::get_vcc_mask(f.get_num_inputs());
      d = none;
    } else if (lut_unmap_is_const0(f, d)) {
      f = none;
      d = none;
    }
  };
  settle(f1, d1);
  settle(f0, d0);
  const CONTAINMENT c = apply_containment(f1, f0, d1, d0);
  bool has1 = false, has0 = false;
  const FACTORED_NODE t1 = shannon_term(new_nodes, lut, f1, d1, c.f1_in_f0, literal, rest, &has1);
  const FACTORED_NODE t0 = shannon_term(new_nodes, lut, f0, d0, c.f0_in_f1, complement(literal), rest, &has0);
  if (has1 && has0) return two_input_gate(new_nodes, lut, CDB_COMB_OR, t1, t0);
  if (has1) return t1;
  if (has0) return t0;
  return constant_node(false);
}

void trace_dropped(const CDB_LUTMASK& mask, const CDB_LUTMASK& dc, unsigned v, const CDB_LUTMASK& f1,
                   const CDB_LUTMASK& f0, const CDB_LUTMASK& d1, const CDB_LUTMASK& d0) {
  kavu_debug(
      "Used don't care to make LUT mask %s (dc %s) with %u inputs independent of variable %u. "
      "mask i = %s, mask i bar = %s, dc i = %s, dc i bar = %s",
      mask.get_string_value().c_str(), dc.get_string_value().c_str(), mask.get_num_inputs(), v,
      f1.get_string_value().c_str(), f0.get_string_value().c_str(), d1.get_string_value().c_str(),
      d0.get_string_value().c_str());
}

// Whether variable v can go; *keep_one says which cofactor stays.
bool removable_variable(const CDB_LUTMASK& mask, const CDB_LUTMASK* dc, unsigned v, bool* keep_one) {
  const CDB_LUTMASK f1 = lut_unmap_cofactor(mask, v, true), f0 = lut_unmap_cofactor(mask, v, false);
  *keep_one = true;
  if (f1 == f0) return true;
  if (!dc || dc->is_gnd()) return false;
  const CDB_LUTMASK d1 = lut_unmap_cofactor(*dc, v, true), d0 = lut_unmap_cofactor(*dc, v, false);
  // f1 may stand for both halves when it agrees with f0 wherever f0 cares.
  if ((f1 & ~d0) == (f0 & ~d0)) {
    if (kavu_debug_lut_unmapper) trace_dropped(mask, *dc, v, f1, f0, d1, d0);
    return true;
  }
  if ((f1 & ~d1) == (f0 & ~d1)) {
    if (kavu_debug_lut_unmapper) trace_dropped(mask, *dc, v, f1, f0, d1, d0);
    *keep_one = false;
    return true;
  }
  return false;
}

void trace_split(const LUT_UNMAP_SPLIT& s, const CDB_LUTMASK& dc, unsigned na, unsigned nb) {
  kavu_debug("Found decomposition of type %s on %s with %u variables and %s with %u variables",
             lut_unmap_decomposition_name(s.type), s.a.get_string_value().c_str(), na,
             s.g.get_string_value().c_str(), nb);
  kavu_debug("Don't cares: original %s, argument a %s, argument b %s", dc.get_string_value().c_str(),
             s.dc_a.get_string_value().c_str(), s.dc_b.get_string_value().c_str());
}

}  // namespace

// ---------------------------------------------------------------------------
// Mask helpers

CDB_LUTMASK lut_unmap_cofactor(const CDB_LUTMASK& mask, unsigned v, bool value) {
  const unsigned n = mask.get_num_inputs();
  KAVU_CHECK(v < n);
  // Keep the half-blocks of stride 2^v whose variable-v bit equals `value`.
  const unsigned stride = 1u << v;
  const uint64_t block = (uint64_t(1) << stride) - 1;  // stride <= 32
  const uint64_t bits = mask.get_value();
  uint64_t out = 0;
  unsigned pos = 0;
  for (unsigned base = value ? stride : 0; base < (1u << n); base += 2 * stride) {
    out |= ((bits >> base) & block) << pos;
    pos += stride;
  }
  CDB_LUTMASK result;
  result.set_value(n - 1, out);
  return result;
}

bool lut_unmap_is_const1(const CDB_LUTMASK& mask, const CDB_LUTMASK& dc) { return (mask | dc).is_vcc(); }

bool lut_unmap_is_const0(const CDB_LUTMASK& mask, const CDB_LUTMASK& dc) { return (mask & ~dc).is_gnd(); }

bool lut_unmap_is_xor_in(const CDB_LUTMASK& mask, unsigned v) {
  const CDB_LUTMASK f1 = lut_unmap_cofactor(mask, v, true), f0 = lut_unmap_cofactor(mask, v, false);
  return !f1.is_gnd() && !f0.is_gnd() && f1 == ~f0;
}

const char* lut_unmap_decomposition_name(LUT_UNMAP_DECOMP_TYPE type) {
  switch (type) {
    case LUT_UNMAP_DECOMP_AND: return "AND";
    case LUT_UNMAP_DECOMP_OR: return "OR";
    case LUT_UNMAP_DECOMP_XOR: return "XOR";
    case LUT_UNMAP_DECOMP_WIRE_A: return "WIRE A";
    case LUT_UNMAP_DECOMP_WIRE_B: return "WIRE B";
    case LUT_UNMAP_DECOMP_NONE: return "NONE";
  }
  KAVU_INTERNAL_ERROR("Unexpected decomp type");
  return "";
}

// ---------------------------------------------------------------------------
// Factoring steps

int lut_unmap_drop_free_inputs(CDB_LUTMASK& mask, CDB_LUTMASK* dc, FACTORED_INPUTS* inputs) {
  const unsigned entry_count = mask.get_num_inputs();
  int removed = 0;
  bool again = true;
  while (again && mask.get_num_inputs() > 0) {
    again = false;
    for (unsigned v = 0; v < mask.get_num_inputs(); ++v) {
      bool keep_one = true;
      if (!removable_variable(mask, dc, v, &keep_one)) continue;
      mask = lut_unmap_cofactor(mask, v, keep_one);
      if (dc) {
        *dc = lut_unmap_cofactor(*dc, v, true) & lut_unmap_cofactor(*dc, v, false);
        if (kavu_debug_lut_unmapper && !dc->is_gnd())
          kavu_debug("New lutmask = %s, new don't care = %s", mask.get_string_value().c_str(),
                     dc->get_string_value().c_str());
      }
      if (inputs) inputs->erase(inputs->begin() + v);
      ++removed;
      again = true;
      break;
    }
  }
  if (kavu_debug_lut_unmapper && removed > 0)
    kavu_debug("Removed %d out of %u inputs because lutmask doesn't depend on them", removed, entry_count);
  return removed;
}

LUT_UNMAP_DECOMP_TYPE lut_unmap_disjoint_split(const CDB_LUTMASK& mask, const CDB_LUTMASK& dc,
                                               const FACTORED_INPUTS* inputs, LUT_UNMAP_SPLIT* split) {
  KAVU_CHECK(!(mask & ~dc).is_gnd() && !(mask | dc).is_vcc());
  KAVU_CHECK(split != nullptr);
  const unsigned n = mask.get_num_inputs();
  BOUND_SET_STATE st;
  for (unsigned v = 0; v < n; ++v) st.m_b.push(v);
  st.m_masks[0] = mask;
  st.m_dcs[0] = dc;
  st.m_count = 1;
  LUT_UNMAP_DECOMP_TYPE type = LUT_UNMAP_DECOMP_NONE;
  if (!lut_unmap_search_bound_set(st, n / 2, &type)) return LUT_UNMAP_DECOMP_NONE;
  split->type = type;
  split->inputs_a.clear();
  split->inputs_b.clear();
  if (inputs) {
    KAVU_CHECK(inputs->size() == n);
    for (unsigned j = 0; j < st.m_a.m_size; ++j) split->inputs_a.push_back((*inputs)[st.m_a.m_vars[j]]);
    for (unsigned j = 0; j < st.m_b.m_size; ++j) split->inputs_b.push_back((*inputs)[st.m_b.m_vars[j]]);
  }
  build_free_function(st, split);
  build_bound_function(st, split);
  if (kavu_debug_lut_unmapper) trace_split(*split, dc, st.m_a.m_size, st.m_b.m_size);
  return type;
}

int lut_unmap_literal_count(CDB_LUTMASK mask, CDB_LUTMASK dc) {
  if (lut_unmap_is_const0(mask, dc) || lut_unmap_is_const1(mask, dc)) return 0;
  if (mask.get_num_inputs() == 1) return 1;
  lut_unmap_drop_free_inputs(mask, &dc, nullptr);
  LUT_UNMAP_SPLIT s;
  switch (lut_unmap_disjoint_split(mask, dc, nullptr, &s)) {
    case LUT_UNMAP_DECOMP_AND:
    case LUT_UNMAP_DECOMP_OR:
    case LUT_UNMAP_DECOMP_XOR:
      return lut_unmap_literal_count(s.a, s.dc_a) + lut_unmap_literal_count(s.g, s.dc_b);
    case LUT_UNMAP_DECOMP_WIRE_A: return lut_unmap_literal_count(s.a, s.dc_a);
    case LUT_UNMAP_DECOMP_WIRE_B: return lut_unmap_literal_count(s.g, s.dc_b);
    default: return 0;
  }
}

int lut_unmap_split_cost(const CDB_LUTMASK& mask, const CDB_LUTMASK& dc, unsigned v) {
  if (lut_unmap_is_const0(mask, dc) || lut_unmap_is_const1(mask, dc)) return 0;
  const unsigned n = mask.get_num_inputs();
  if (n == 1) return 1;
  const CDB_LUTMASK f1 = lut_unmap_cofactor(mask, v, true), f0 = lut_unmap_cofactor(mask, v, false);
  CDB_LUTMASK d1 = lut_unmap_cofactor(dc, v, true), d0 = lut_unmap_cofactor(dc, v, false);
  if (lut_unmap_is_xor_in(mask, v)) return lut_unmap_literal_count(f0, d1 & d0) + 1;
  if (lut_unmap_is_const0(f1, d1) || lut_unmap_is_const1(f1, d1)) return lut_unmap_literal_count(f0, d0) + 1;
  if (lut_unmap_is_const0(f0, d0) || lut_unmap_is_const1(f0, d0)) return lut_unmap_literal_count(f1, d1) + 1;
  const CONTAINMENT c = apply_containment(f1, f0, d1, d0);
  return lut_unmap_literal_count(f1, d1) + lut_unmap_literal_count(f0, d0) + (c.f1_in_f0 ? 0 : 1) +
         (c.f0_in_f1 ? 0 : 1);
}

unsigned lut_unmap_choose_split_variable(const CDB_LUTMASK& mask, const CDB_LUTMASK& dc) {
  const unsigned n = mask.get_num_inputs();
  if (n <= 1) return 0;
  unsigned best = 0;
  int best_cost = 0;
  for (unsigned v = 0; v < n; ++v) {
    const int cost = lut_unmap_split_cost(mask, dc, v);
    if (cost > 0 && (best_cost == 0 || cost < best_cost)) {
      best = v;
      best_cost = cost;
    }
  }
  return best;
}

FACTORED_NODE lut_unmap_factor_mask(std::list<CDB_SGATE_NODE*>* new_nodes, CDB_SGATE_LUT* lut,
                                    CDB_LUTMASK mask, CDB_LUTMASK dc, FACTORED_INPUTS inputs) {
  KAVU_CHECK(inputs.size() == mask.get_num_inputs() && dc.get_num_inputs() == mask.get_num_inputs());
  if (lut_unmap_is_const1(mask, dc)) return constant_node(true);
  if (lut_unmap_is_const0(mask, dc)) return constant_node(false);
  if (mask.get_num_inputs() == 1) return single_input_literal(mask, inputs[0]);
  lut_unmap_drop_free_inputs(mask, &dc, &inputs);
  LUT_UNMAP_SPLIT s;
  switch (lut_unmap_disjoint_split(mask, dc, &inputs, &s)) {
    case LUT_UNMAP_DECOMP_NONE: {
      const unsigned v = lut_unmap_choose_split_variable(mask, dc);
      return lut_unmap_shannon_split(new_nodes, lut, mask, dc, v, inputs);
    }
    case LUT_UNMAP_DECOMP_WIRE_A: return lut_unmap_factor_mask(new_nodes, lut, s.a, s.dc_a, s.inputs_a);
    case LUT_UNMAP_DECOMP_WIRE_B: return lut_unmap_factor_mask(new_nodes, lut, s.g, s.dc_b, s.inputs_b);
    case LUT_UNMAP_DECOMP_AND:
    case LUT_UNMAP_DECOMP_OR:
    case LUT_UNMAP_DECOMP_XOR: {
      const FACTORED_NODE ra = lut_unmap_factor_mask(new_nodes, lut, s.a, s.dc_a, s.inputs_a);
      const FACTORED_NODE rb = lut_unmap_factor_mask(new_nodes, lut, s.g, s.dc_b, s.inputs_b);
      // The decomposition types are numbered as the comb types they become.
      return two_input_gate(new_nodes, lut, CDB_COMB_TYPE(s.type), ra, rb);
    }
  }
  KAVU_INTERNAL_ERROR("Found unexpected decomposition type");
  return constant_node(false);
}

// ---------------------------------------------------------------------------
// Entry

namespace {

std::string mask_line(const CDB_SGATE_LUT* lut, const CDB_LUTMASK& mask) {
  return std::string(lut->get_string_type_name()) + " " + lut->get_string_hpath() + " " + lut->get_debug_name() +
         " is " + mask.get_string_value() + " (num_inputs = " + std::to_string(mask.get_num_inputs()) + ")";
}

// Drops the unconnected inputs from the mask (they must not matter to it)
// and collects the connected ones as literals, in input order.
void collect_inputs(CDB_SGATE_LUT* lut, CDB_LUTMASK* mask, FACTORED_INPUTS* inputs) {
  const unsigned n = mask->get_num_inputs();
  unsigned real_inputs = 0;
  for (unsigned index = n; index > 0; --index) {
    const CDB_SGATE_ITERM* t = lut->get_input_term(index - 1);
    if (cdb_is_connected(t)) {
      ++real_inputs;
      continue;
    }
    if (kavu_debug_lut_unmapper) kavu_debug("Lut is independent of index %u", index - 1);
    KAVU_CHECK(lut->is_independent_of(CDB_LUTMASK_INPUT_TYPE(index - 1)));
    *mask = lut_unmap_cofactor(*mask, index - 1, true);
  }
  KAVU_CHECK(real_inputs == mask->get_num_inputs());
  // Positions beyond the mask must not carry a connection the mask ignores
  // silently.
  for (unsigned i = n; i < lut->get_number_of_input_terms(); ++i)
    KAVU_CHECK(!cdb_is_connected(lut->get_input_term(i)));
  inputs->clear();
  for (unsigned i = 0; i < n; ++i) {
    const CDB_SGATE_ITERM* t = lut->get_input_term(i);
    if (!cdb_is_connected(t)) continue;
    inputs->push_back(FACTORED_NODE{t->get_source(), t->is_inverted()});
    if (!kavu_debug_lut_unmapper) continue;
    if (const CDB_SGATE_OTERM* src = t->get_source()) {
      const CDB_SGATE_NODE* g = src->get_my_node();
      kavu_debug("Lut index %u is %s%s %s %s", i, t->is_inverted() ? "! " : "", g->get_string_type_name(),
                 g->get_string_hpath().c_str(), g->get_debug_name().c_str());
    } else {
      kavu_debug("Lut index %u is constant %s", i, t->is_vcc() ? "vcc" : "gnd");
    }
  }
}

// A 1-input AND standing for a result that has no gate of its own.
FACTORED_NODE single_input_and(std::list<CDB_SGATE_NODE*>* new_nodes, CDB_SGATE_LUT* lut,
                               const FACTORED_NODE& source) {
  CDB_SGATE_COMB* gate = lut_unmap_new_comb(new_nodes, lut, CDB_COMB_AND);
  add_fanin(gate, source);
  return FACTORED_NODE{gate->get_output_term(0), false};
}

}  // namespace

CDB_SGATE_OTERM* kavu_convert_lut_to_factored_logic_fast(CDB_SGATE_LUT* lut,
                                                         std::list<CDB_SGATE_NODE*>* new_nodes,
                                                         bool* inverted) {
  KAVU_CHECK(lut != 0 && lut->get_sgate_type() == CDB_SGATE_LUT_ENUM);
  KAVU_CHECK(new_nodes != 0 && inverted != 0);
  CDB_SGATE_OTERM* lut_oterm = lut->get_output_term(0);
  KAVU_CHECK(lut_oterm != 0);
  CDB_LUTMASK mask = lut->get_lut_mask();
  const size_t entry_size = new_nodes->size();
  *inverted = false;
  if (kavu_debug_lut_unmapper) kavu_debug("Lut mask of node %s", mask_line(lut, mask).c_str());

  FACTORED_INPUTS inputs;
  collect_inputs(lut, &mask, &inputs);
  if (kavu_debug_lut_unmapper) kavu_debug("Lut mask of node %s", mask_line(lut, mask).c_str());

  FACTORED_NODE result;
  if (inputs.empty()) {
    // A 0-input mask is a legal constant LUT, not an error.
    KAVU_CHECK(mask.is_vcc() || mask.is_gnd());
    result = single_input_and(new_nodes, lut, constant_node(mask.is_vcc()));
  } else {
    result = lut_unmap_factor_mask(new_nodes, lut, mask, CDB_LUTMASK::get_gnd_mask(mask.get_num_inputs()), inputs);
    if (result.oterm == lut_oterm) {
      // The LUT only repeats its own output: keep that loop through a gate.
      KAVU_CHECK(new_nodes->size() == entry_size);
      if (kavu_debug_lut_unmapper)
        kavu_debug("LUT %s %s is a loop with no other gates", lut->get_debug_name().c_str(),
                   lut->get_string_hpath().c_str());
      result = single_input_and(new_nodes, lut, result);
    } else if (result.oterm == nullptr) {
      if (kavu_debug_lut_unmapper) kavu_debug(result.inverted ? "Node is GND!" : "Node is VCC!");
      result = single_input_and(new_nodes, lut, result);
    }
  }
  KAVU_CHECK(result.oterm != 0);
  result.oterm->adopt_fanouts(lut_oterm, lut_oterm->is_inverted() != result.inverted);
  *inverted = result.inverted;
  if (kavu_debug_lut_unmapper) {
    const CDB_SGATE_NODE* head = result.oterm->get_my_node();
    kavu_debug("Old node = %s %s %s, new node = %s %s %s", lut->get_string_type_name(),
               lut->get_string_hpath().c_str(), lut->get_debug_name().c_str(), head->get_string_type_name(),
               head->get_string_hpath().c_str(), head->get_debug_name().c_str());
    kavu_debug("Done unmapping node %s %s. Need %zu nodes", lut->get_string_hpath().c_str(),
               lut->get_debug_name().c_str(), new_nodes->size() - entry_size);
  }
  return result.oterm;
}
