// wl_sim.cpp — bit-level evaluator of a word-level netlist for tests (see
// wl.h). Values are 64-pattern words per output bit in one dense array;
// every input is compiled once into a reference to its source bits. Gates,
// registers and latches evaluate through the gate simulator's own word
// models (netlist_io/sim_eval.h, header-only), so both agree by construction.
#include <algorithm>
#include <unordered_map>

#include "cdb/cdb_sgate.h"
#include "msg/msg.h"
#include "netlist_io/sim_eval.h"
#include "wl/wl.h"

namespace kavu_platform {

namespace {

struct INPUT_REF {
  long src = -1;  // offset of the source's bit 0, -1 when none
  unsigned src_width = 0;
  unsigned width = 0;
  bool in_use = false;
  bool inv = false;
  bool is_const = false;
  WL_ARITH_EXT_TYPE ext = WL_ARITH_EXT_TYPE::NONE;
  std::vector<uint64_t> const_words;  // per bit, all ones or zero
};

struct NODE_REC {
  const WL_NODE* node;
  std::vector<INPUT_REF> in;
  std::vector<size_t> out;  // offset of each output's bit 0
};

}  // namespace

struct WL_SIMULATOR::IMPL {
  std::vector<uint64_t> values;
  std::vector<NODE_REC> nodes;  // evaluation order
  std::unordered_map<const WL_OTERM*, size_t> offset;
  std::unordered_map<const WL_NODE*, size_t> rec_of;
  std::vector<std::vector<uint64_t>> state;  // per node record: register or latch bits
  bool has_loops = false;

  uint64_t read(const INPUT_REF& r, unsigned bit) const {
    if (r.is_const) return r.const_words[std::min<size_t>(bit, r.const_words.size() - 1)];
    if (r.src < 0) return 0;
    uint64_t v;
    if (bit < r.src_width) {
      v = values[size_t(r.src) + bit];
    } else if (r.ext == WL_ARITH_EXT_TYPE::SIGN) {
      v = values[size_t(r.src) + r.src_width - 1];
    } else if (r.ext == WL_ARITH_EXT_TYPE::ZERO) {
      return 0;  // zero extension lies outside the inversion
    } else if (r.src_width == 1) {
      v = values[size_t(r.src)];
    } else {
      v = 0;
    }
    return r.inv ? ~v : v;
  }
  // Operand bit b of an operator: beyond the input's width 0, or its top bit
  // for signed operands.
  uint64_t op_bit(const INPUT_REF& r, unsigned b, bool sgn) const {
    if (b < std::max(1u, r.width) || r.ext != WL_ARITH_EXT_TYPE::NONE) return read(r, b);
    return sgn ? read(r, std::max(1u, r.width) - 1) : 0;
  }
  // A one-bit control: `inactive` when not in use.
  uint64_t ctl(const INPUT_REF& r, uint64_t inactive) const { return r.in_use ? read(r, 0) : inactive; }

  bool eval_node(size_t k);
  void clock_node(size_t k, std::vector<uint64_t>& next) const;
};

WL_SIMULATOR::WL_SIMULATOR(const WL_NETLIST* netlist) : m_impl(std::make_unique<IMPL>()) {
  PLAT_CHECK(netlist != nullptr, "WL");
  IMPL& m = *m_impl;
  std::vector<const WL_NODE*> list(netlist->begin_node_list(), netlist->end_node_list());
  size_t total = 0;
  for (const WL_NODE* n : list) {
    switch (n->get_node_type()) {
      case WL_NODE_TYPE::COMB: case WL_NODE_TYPE::PIN: case WL_NODE_TYPE::BUFFER: case WL_NODE_TYPE::SPLITTER:
      case WL_NODE_TYPE::MERGER: case WL_NODE_TYPE::MUX21: case WL_NODE_TYPE::ADDER: case WL_NODE_TYPE::ADDSUB:
      case WL_NODE_TYPE::MULT: case WL_NODE_TYPE::LESS_THAN: case WL_NODE_TYPE::LUT: case WL_NODE_TYPE::DFF:
      case WL_NODE_TYPE::LATCH: case WL_NODE_TYPE::MUX: case WL_NODE_TYPE::SELECTOR: case WL_NODE_TYPE::DECODER:
      case WL_NODE_TYPE::SHIFTER: case WL_NODE_TYPE::ROTATOR: case WL_NODE_TYPE::EQUAL:
        break;
      default:
        m_error = "unsupported word-level node " + wl_get_string_hpath(n) + " of type " +
                  std::to_string(int(n->get_node_type()));
        return;
    }
    for (unsigned o = 0; o < n->get_output_count(); ++o) {
      m.offset[n->get_oterm(o)] = total;
      total += n->get_oterm(o)->width();
    }
  }
  m.values.assign(total, 0);
  // Order: Kahn over combinational dependencies; register outputs depend on
  // their asynchronous inputs only.
  std::unordered_map<const WL_NODE*, size_t> idx;
  for (size_t i = 0; i < list.size(); ++i) idx[list[i]] = i;
  auto comb_input = [](const WL_NODE* n, unsigned i) {
    if (n->get_node_type() != WL_NODE_TYPE::DFF) return true;
    return i == CDB_DFF_ACLR || i == CDB_DFF_PRESET || i == CDB_DFF_ADATA || i == CDB_DFF_ALOAD;
  };
  std::vector<unsigned> pending(list.size(), 0);
  std::vector<std::vector<size_t>> readers(list.size());
  for (size_t i = 0; i < list.size(); ++i)
    for (unsigned t = 0; t < list[i]->get_input_count(); ++t) {
      const WL_ITERM* it = list[i]->get_iterm(t);
      if (!it->get_source() || it->is_const() || !comb_input(list[i], t)) continue;
      auto f = idx.find(it->get_source()->get_my_node());
      PLAT_CHECK(f != idx.end(), "WL");
      ++pending[i];
      readers[f->second].push_back(i);
    }
  std::vector<size_t> order, stack;
  std::vector<char> placed(list.size(), 0);
  for (size_t i = list.size(); i-- > 0;)
    if (!pending[i]) stack.push_back(i);
  while (!stack.empty()) {
    size_t i = stack.back();
    stack.pop_back();
    order.push_back(i);
    placed[i] = 1;
    for (size_t r : readers[i])
      if (--pending[r] == 0) stack.push_back(r);
  }
  for (size_t i = 0; i < list.size(); ++i)
    if (!placed[i]) {
      order.push_back(i);
      m.has_loops = true;
    }
  for (size_t i : order) {
    const WL_NODE* n = list[i];
    NODE_REC rec;
    rec.node = n;
    for (unsigned t = 0; t < n->get_input_count(); ++t) {
      const WL_ITERM* it = n->get_iterm(t);
      INPUT_REF r;
      r.width = it->width();
      r.in_use = it->is_in_use();
      r.inv = it->is_inverted();
      r.ext = it->get_arith_ext();
      if (it->is_const()) {
        r.is_const = true;
        unsigned w = std::max(1u, it->width());
        for (unsigned b = 0; b < w; ++b) r.const_words.push_back(it->const_bit(b) ? ~0ull : 0ull);
      } else if (it->get_source()) {
        r.src = long(m.offset.at(it->get_source()));
        r.src_width = it->get_source()->width();
      }
      rec.in.push_back(std::move(r));
    }
    for (unsigned o = 0; o < n->get_output_count(); ++o) rec.out.push_back(m.offset[n->get_oterm(o)]);
    m.rec_of[n] = m.nodes.size();
    m.nodes.push_back(std::move(rec));
  }
  m.state.resize(m.nodes.size());
  reset_state();
}

WL_SIMULATOR::~WL_SIMULATOR() = default;

void WL_SIMULATOR::set_input(const WL_NODE* pin, unsigned bit, uint64_t word) {
  PLAT_CHECK(ok() && pin && pin->get_node_type() == WL_NODE_TYPE::PIN, "WL");
  PLAT_CHECK(bit < pin->get_first_oterm()->width(), "WL");
  m_impl->values[m_impl->offset.at(pin->get_first_oterm()) + bit] = word;
}

void WL_SIMULATOR::reset_state() {
  if (!ok()) return;
  IMPL& m = *m_impl;
  for (size_t k = 0; k < m.nodes.size(); ++k) {
    const WL_NODE* n = m.nodes[k].node;
    if (n->get_node_type() != WL_NODE_TYPE::DFF && n->get_node_type() != WL_NODE_TYPE::LATCH) continue;
    unsigned w = n->get_first_oterm()->width();
    m.state[k].assign(w, 0);
    if (const WL_DFF* d = const_cast<WL_NODE*>(n)->cast_to_dff())
      for (unsigned b = 0; b < w; ++b) m.state[k][b] = d->power_up_high(b) ? ~0ull : 0ull;
  }
}

bool WL_SIMULATOR::IMPL::eval_node(size_t k) {
  NODE_REC& rec = nodes[k];
  const WL_NODE* n = rec.node;
  bool changed = false;
  auto put = [&](unsigned out, unsigned bit, uint64_t v) {
    uint64_t& slot = values[rec.out[out] + bit];
    if (slot != v) {
      slot = v;
      changed = true;
    }
  };
  const unsigned w = n->get_first_oterm() ? n->get_first_oterm()->width() : 0;
  WL_NODE* nn = const_cast<WL_NODE*>(n);
  switch (n->get_node_type()) {
    case WL_NODE_TYPE::COMB: {
      CDB_COMB_TYPE t = nn->cast_to_comb()->get_comb_type();
      const unsigned n_in = unsigned(rec.in.size());
      std::vector<uint64_t> in(n_in);
      std::vector<uint8_t> present(n_in);
      for (unsigned i = 0; i < n_in; ++i) present[i] = rec.in[i].in_use;
      for (unsigned b = 0; b < w; ++b) {
        for (unsigned i = 0; i < n_in; ++i) in[i] = present[i] ? read(rec.in[i], b) : 0;
        put(0, b, sim_comb_word(t, in.data(), present.data(), n_in));
      }
      break;
    }
    case WL_NODE_TYPE::PIN:
      if (nn->cast_to_pin()->get_pin_type() != 0)
        for (unsigned b = 0; b < w; ++b) put(0, b, read(rec.in[0], b));
      break;
    case WL_NODE_TYPE::BUFFER:
      for (unsigned b = 0; b < w; ++b) put(0, b, read(rec.in[0], b));
      break;
    case WL_NODE_TYPE::SPLITTER: {
      WL_SPLITTER* s = nn->cast_to_splitter();
      for (unsigned o = 0; o < n->get_output_count(); ++o)
        for (unsigned b = 0; b < n->get_oterm(o)->width(); ++b) put(o, b, read(rec.in[0], s->get_slice_lo(o) + b));
      break;
    }
    case WL_NODE_TYPE::MERGER: {
      WL_MERGER* mg = nn->cast_to_merger();
      for (unsigned b = 0; b < w; ++b) {
        const WL_MERGER_ENTRY& e = mg->get_table_entry(b);
        uint64_t v = read(rec.in[e.input], e.bit);
        put(0, b, e.invert ? ~v : v);
      }
      break;
    }
    case WL_NODE_TYPE::MUX21: {
      uint64_t s = read(rec.in[2], 0);
      for (unsigned b = 0; b < w; ++b) put(0, b, sim_mux_word(read(rec.in[0], b), read(rec.in[1], b), s));
      break;
    }
    case WL_NODE_TYPE::MUX: {
      WL_MUX_BASE* m = nn->cast_to_mux_base();
      const unsigned nd = m->get_num_data(), ns = m->get_num_select();
      for (unsigned b = 0; b < w; ++b) {
        uint64_t v = 0;
        for (unsigned i = 0; i < nd; ++i) {
          uint64_t hit = ~0ull;  // select value == i
          for (unsigned j = 0; j < ns; ++j) {
            uint64_t s = read(rec.in[nd + j], 0);
            hit &= ((i >> j) & 1) ? s : ~s;
          }
          if (ns < 32 && (i >> ns) != 0) hit = 0;
          v |= hit & read(rec.in[i], b);
        }
        put(0, b, v);
      }
      break;
    }
    case WL_NODE_TYPE::SELECTOR: {
      WL_MUX_BASE* m = nn->cast_to_mux_base();
      const unsigned nd = m->get_num_data();
      for (unsigned b = 0; b < w; ++b) {
        uint64_t v = 0;
        for (unsigned i = 0; i < nd; ++i) v |= read(rec.in[nd + i], 0) & read(rec.in[i], b);
        put(0, b, v);
      }
      break;
    }
    case WL_NODE_TYPE::SHIFTER:
    case WL_NODE_TYPE::ROTATOR: {
      const bool rotate = n->get_node_type() == WL_NODE_TYPE::ROTATOR;
      const unsigned d = rotate ? nn->cast_to_rotator()->get_num_data() : nn->cast_to_shifter()->get_num_data();
      const unsigned a = rotate ? nn->cast_to_rotator()->get_num_amount() : nn->cast_to_shifter()->get_num_amount();
      const bool right = (rotate ? nn->cast_to_rotator()->get_type() : nn->cast_to_shifter()->get_type()) != 0;
      const uint64_t fill = rotate ? 0 : ctl(rec.in[d + a], 0);
      for (unsigned b = 0; b < w; ++b)
        for (unsigned k = 0; k < d; ++k) {
          // OR over the amounts of (amount == s) & the bit that lands at k.
          uint64_t v = 0;
          for (unsigned sh = 0; sh < (1u << std::min(a, 16u)); ++sh) {
            uint64_t hit = ~0ull;
            for (unsigned j = 0; j < a; ++j) {
              uint64_t x = read(rec.in[d + j], 0);
              hit &= ((sh >> j) & 1) ? x : ~x;
            }
            uint64_t src;
            if (rotate) {
              const unsigned from = right ? (k + sh) % d : (k + d - sh % d) % d;
              src = read(rec.in[from], b);
            } else {
              const long from = right ? long(k) + long(sh) : long(k) - long(sh);
              src = from >= 0 && from < long(d) ? read(rec.in[size_t(from)], b) : fill;
            }
            v |= hit & src;
          }
          put(k, b, v);
        }
      break;
    }
    case WL_NODE_TYPE::DECODER: {
      const unsigned k = unsigned(rec.in.size());
      for (unsigned j = 0; j < n->get_output_count(); ++j) {
        uint64_t hit = ~0ull;
        for (unsigned i = 0; i < k; ++i) {
          uint64_t a = read(rec.in[i], 0);
          hit &= ((j >> i) & 1) ? a : ~a;
        }
        if (k < 32 && (j >> k) != 0) hit = 0;
        put(j, 0, hit);
      }
      break;
    }
    case WL_NODE_TYPE::ADDER:
    case WL_NODE_TYPE::ADDSUB: {
      auto rd = [&](const INPUT_REF& r, unsigned b) { return op_bit(r, b, n->get_signed_byte() != 0); };
      bool addsub = n->get_node_type() == WL_NODE_TYPE::ADDSUB;
      uint64_t add = addsub ? ctl(rec.in[2], ~0ull) : ~0ull;
      uint64_t c = addsub ? ~add : ctl(rec.in[2], 0);
      for (unsigned b = 0; b < w; ++b) {
        uint64_t a = rd(rec.in[0], b), x = rd(rec.in[1], b) ^ ~add;
        put(0, b, a ^ x ^ c);
        c = (a & x) | (a & c) | (x & c);
      }
      if (!addsub) put(1, 0, c);
      break;
    }
    case WL_NODE_TYPE::MULT: {
      const bool sgn = n->get_signed_byte() != 0;
      std::vector<uint64_t> acc(w, 0);
      for (unsigned j = 0; j < w; ++j) {
        uint64_t bj = op_bit(rec.in[1], j, sgn), c = 0;
        for (unsigned i = j; i < w; ++i) {
          uint64_t p = op_bit(rec.in[0], i - j, sgn) & bj;
          uint64_t s = acc[i] ^ p ^ c;
          c = (acc[i] & p) | (acc[i] & c) | (p & c);
          acc[i] = s;
        }
      }
      for (unsigned b = 0; b < w; ++b) put(0, b, acc[b]);
      break;
    }
    case WL_NODE_TYPE::LESS_THAN: {
      // A < B: no carry out of A + ~B + 1 (signed: sign bits flipped).
      const bool sgn = n->get_signed_byte() != 0;
      const unsigned cw = std::max(rec.in[0].width, rec.in[1].width);
      uint64_t c = ~0ull;
      for (unsigned b = 0; b < cw; ++b) {
        uint64_t a = op_bit(rec.in[0], b, sgn), x = ~op_bit(rec.in[1], b, sgn);
        if (sgn && b + 1 == cw) {
          a = ~a;
          x = ~x;
        }
        c = (a & x) | (a & c) | (x & c);
      }
      put(0, 0, ~c);
      break;
    }
    case WL_NODE_TYPE::EQUAL: {
      const bool sgn = n->get_signed_byte() != 0;
      const unsigned cw = std::max(rec.in[0].width, rec.in[1].width);
      uint64_t eq = ~0ull;
      for (unsigned b = 0; b < cw; ++b) eq &= ~(op_bit(rec.in[0], b, sgn) ^ op_bit(rec.in[1], b, sgn));
      put(0, 0, eq);
      break;
    }
    case WL_NODE_TYPE::LUT: {
      WL_LUT* l = nn->cast_to_lut();
      unsigned k_in = l->get_lut_type() == 0 ? l->get_mask().get_num_inputs() : 6;
      uint64_t mask = l->get_lut_type() == 0 ? l->get_mask().get_value() : l->get_mask64();
      for (unsigned b = 0; b < w; ++b) {
        uint64_t var[6];
        for (unsigned i = 0; i < k_in; ++i) var[i] = rec.in[i].in_use ? read(rec.in[i], b) : ~0ull;
        put(0, b, sim_lut_word(mask, k_in, var));
      }
      break;
    }
    case WL_NODE_TYPE::DFF: {
      uint64_t aclr = ctl(rec.in[CDB_DFF_ACLR], 0), pre = ctl(rec.in[CDB_DFF_PRESET], 0);
      uint64_t aload = ctl(rec.in[CDB_DFF_ALOAD], 0);
      for (unsigned b = 0; b < w; ++b) {
        uint64_t q = state[k][b] = sim_reg_async(state[k][b], aclr, pre, aload, read(rec.in[CDB_DFF_ADATA], b));
        put(0, b, q);
      }
      break;
    }
    case WL_NODE_TYPE::LATCH: {
      uint64_t en = ctl(rec.in[CDB_LATCH_EN], ~0ull) & ctl(rec.in[CDB_LATCH_EN2], ~0ull);
      uint64_t clr = ctl(rec.in[CDB_LATCH_CLR], 0), pre = ctl(rec.in[CDB_LATCH_PRE], 0);
      for (unsigned b = 0; b < w; ++b) {
        uint64_t q = state[k][b] = sim_latch_word(state[k][b], read(rec.in[CDB_LATCH_D], b), en, clr, pre);
        put(0, b, q);
      }
      break;
    }
    default:
      break;
  }
  return changed;
}

void WL_SIMULATOR::eval() {
  PLAT_CHECK(ok(), "WL");
  IMPL& m = *m_impl;
  for (int round = 0; round < 64; ++round) {
    bool changed = false;
    for (size_t k = 0; k < m.nodes.size(); ++k) changed |= m.eval_node(k);
    if (!m.has_loops || !changed) return;
  }
}

void WL_SIMULATOR::IMPL::clock_node(size_t k, std::vector<uint64_t>& next) const {
  const NODE_REC& rec = nodes[k];
  WL_DFF* d = const_cast<WL_NODE*>(rec.node)->cast_to_dff();
  const unsigned w = d->get_first_oterm()->width();
  next = state[k];
  const INPUT_REF& clk = rec.in[CDB_DFF_CLK];
  if (!clk.in_use || clk.is_const || clk.src < 0) return;
  SIM_REG_SYNC sync;
  sync.m_ena = ctl(rec.in[CDB_DFF_ENA], ~0ull);
  sync.m_sclr = ctl(rec.in[CDB_DFF_SCLR], 0);
  sync.m_sload = ctl(rec.in[CDB_DFF_SLOAD], 0);
  sync.m_sclr_over_ena = (d->get_status(2) & WL_DFF_R2_SCLR_OVER_ENA) != 0;
  for (unsigned b = 0; b < w; ++b) {
    sync.m_data = read(rec.in[CDB_DFF_DATA], b);
    sync.m_adata = read(rec.in[CDB_DFF_ADATA], b);
    next[b] = sim_reg_next(sync, state[k][b]);
  }
}

void WL_SIMULATOR::clock() {
  PLAT_CHECK(ok(), "WL");
  IMPL& m = *m_impl;
  std::vector<std::vector<uint64_t>> next(m.nodes.size());
  for (size_t k = 0; k < m.nodes.size(); ++k)
    if (m.nodes[k].node->get_node_type() == WL_NODE_TYPE::DFF) m.clock_node(k, next[k]);
  for (size_t k = 0; k < m.nodes.size(); ++k)
    if (m.nodes[k].node->get_node_type() == WL_NODE_TYPE::DFF) m.state[k].swap(next[k]);
  eval();
}

uint64_t WL_SIMULATOR::value(const WL_OTERM* oterm, unsigned bit) const {
  PLAT_CHECK(ok() && oterm && bit < oterm->width(), "WL");
  return m_impl->values[m_impl->offset.at(oterm) + bit];
}

uint64_t WL_SIMULATOR::output(const WL_NODE* pin, unsigned bit) const {
  PLAT_CHECK(ok() && pin && pin->get_node_type() == WL_NODE_TYPE::PIN, "WL");
  return value(pin->get_first_oterm(), bit);
}

bool wl_simulate(const WL_NETLIST* netlist, int cycles,
                 const std::function<uint64_t(const WL_NODE*, unsigned, int)>& inputs,
                 const std::function<void(const WL_NODE*, unsigned, int, uint64_t)>& outputs, std::string* why) {
  WL_SIMULATOR sim(netlist);
  if (!sim.ok()) {
    if (why) *why = sim.error();
    return false;
  }
  std::vector<WL_NODE*> pins;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it)
    if ((*it)->get_node_type() == WL_NODE_TYPE::PIN) pins.push_back(*it);
  for (int c = 0; c < cycles; ++c) {
    for (WL_NODE* p : pins)
      if (p->cast_to_pin()->get_pin_type() == 0)
        for (unsigned b = 0; b < p->get_first_oterm()->width(); ++b) sim.set_input(p, b, inputs(p, b, c));
    sim.eval();
    if (c > 0) sim.clock();
    for (WL_NODE* p : pins)
      if (p->cast_to_pin()->get_pin_type() != 0)
        for (unsigned b = 0; b < p->get_first_oterm()->width(); ++b) outputs(p, b, c, sim.output(p, b));
  }
  return true;
}

}  // namespace kavu_platform
