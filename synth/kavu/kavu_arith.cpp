// kavu_arith.cpp — arithmetic buses and add/sub recognition (see
// kavu_arith.h). Every search has a plain form and a synchronous-clear-aware
// form; both run through one implementation with a mode record.
//
// The aware searches never edit while they walk: they decide on the netlist
// as it stands, comparing each register's secondary signals as they will be
// once its clear has moved, and collect the bypasses they relied on. Only a
// search that succeeded applies them, all together, so a search asked to
// apply either moves every clear it crossed or none.
#include "kavu_arith.h"

#include <algorithm>
#include <unordered_set>

#include "cdb/cdb_sgate.h"
#include "kavu_check.h"
#include "kavu_dff_helper.h"
#include "kavu_helper_orphan.h"
#include "kavu_helper_predicates.h"
#include "kavu_msg.h"
#include "kavu_ops.h"
#include "kavu_utility_cleanup.h"
#include "kavu_utility_regclass.h"
#include "kavu_utility_rtl.h"
#include "kavu_wiring_helper.h"
#include "mem/mem.h"

namespace {

constexpr unsigned KAVU_MAX_REGS_BACK = 100;
constexpr unsigned KAVU_MAX_PIPELINE_REGS = 101;

bool is_plain_reg(const CDB_SGATE_NODE* n) { return n && n->get_sgate_type() == CDB_SGATE_DFF_ENUM; }
bool is_signal(const CDB_SGATE_ITERM* t) { return t && cdb_is_connected(t) && t->get_source_oterm() != nullptr; }
bool is_const_bit(const CDB_SGATE_ITERM* t) { return t && cdb_is_connected(t) && t->is_vcc_or_gnd(); }

// The synchronous-clear bypass of one register, decided but not applied:
// the register reads m_data instead of the AND or mux m_gate in front of it
// and takes m_clear on its synchronous clear, inverted when active low.
struct SCLR_BYPASS {
  CDB_SGATE_NODE* m_reg = nullptr;
  CDB_SGATE_NODE* m_gate = nullptr;
  CDB_SGATE_ITERM* m_data = nullptr;
  CDB_SGATE_ITERM* m_clear = nullptr;
  bool m_active_low = false;
};

// How a search crosses registers. With `bypass`, each bypass it relies on is
// appended to `m_pending` (when given); nothing is changed during the search.
struct SCLR_MODE {
  bool m_bypass = false;
  std::vector<SCLR_BYPASS>* m_pending = nullptr;
};

// Decides the bypass of `reg`; false when the register keeps its data input.
bool find_sclr_bypass(CDB_SGATE_NODE* reg, SCLR_BYPASS& b) {
  if (!is_plain_reg(reg)) return false;
  CDB_SGATE_ITERM* d = reg->get_input_term(CDB_DFF_DATA);
  CDB_SGATE_ITERM* sclr = reg->get_input_term(CDB_DFF_SCLR);
  // A register without a synchronous-clear input has nowhere to take the
  // clear: refused here, so that applying never meets it.
  if (!sclr) return false;
  if (cdb_is_connected(sclr) && !sclr->is_gnd()) return false;
  // The clear's priority against the enable and the synchronous load is the
  // family's; with either live the clear stays where it is.
  CDB_SGATE_ITERM* ena = reg->get_input_term(CDB_DFF_ENA);
  CDB_SGATE_ITERM* sload = reg->get_input_term(CDB_DFF_SLOAD);
  if (ena && cdb_is_connected(ena) && !ena->is_vcc()) return false;
  if (sload && cdb_is_connected(sload) && !sload->is_gnd()) return false;
  KAVU_CHECK(d);
  CDB_SGATE_ITERM* iterm = d;
  KAVU_CHECK(cdb_is_connected(iterm));
  if (d->is_inverted() || !d->get_source_oterm()) return false;
  if (kavu_dff_powers_up_high(reg) && !kavu_dff_power_up_dc(reg)) {
    kavu_debug_at_level(MSG_D_LEVEL(3), "  DFF UID %s forbidden to sec-sig due to power up setting",
                        reg->get_debug_name().c_str());
    return false;
  }
  CDB_SGATE_OTERM* oterm = d->get_source_oterm();
  KAVU_CHECK(!oterm->is_inverted());
  CDB_SGATE_NODE* g = oterm->get_my_node();
  b = SCLR_BYPASS();
  b.m_reg = reg;
  b.m_gate = g;
  if (kavu_is_a_two_and(g)) {
    CDB_SGATE_ITERM *d0_iterm = nullptr, *d1_iterm = nullptr;
    kavu_grab_both_iterms(g, &d0_iterm, &d1_iterm);
    KAVU_CHECK(cdb_is_connected(d0_iterm));
    KAVU_CHECK(cdb_is_connected(d1_iterm));
    if (!is_signal(d0_iterm) || !is_signal(d1_iterm)) return false;
    const unsigned f0 = d0_iterm->get_source_oterm()->get_number_of_fanout();
    const unsigned f1 = d1_iterm->get_source_oterm()->get_number_of_fanout();
    b.m_clear = f0 > f1 ? d0_iterm : d1_iterm;
    b.m_data = f0 > f1 ? d1_iterm : d0_iterm;
    b.m_active_low = true;
  } else if (g->get_sgate_type() == CDB_SGATE_MUX_ENUM) {
    CDB_SGATE_ITERM* d0 = g->get_input_term(CDB_MUX_DATA0);
    CDB_SGATE_ITERM* d1 = g->get_input_term(CDB_MUX_DATA1);
    CDB_SGATE_ITERM* sel = g->get_input_term(CDB_MUX_SELECT);
    if (!is_signal(sel)) return false;
    if (d0 && d0->is_gnd() && is_signal(d1)) {
      b.m_data = d1;
      b.m_active_low = true;
    } else if (d1 && d1->is_gnd() && is_signal(d0)) {
      b.m_data = d0;
      b.m_active_low = false;
    } else {
      return false;
    }
    b.m_clear = sel;
  } else {
    return false;
  }
  for (unsigned i : {unsigned(CDB_DFF_ALOAD), unsigned(CDB_DFF_PRESET)}) {
    CDB_SGATE_ITERM* t = reg->get_input_term(i);
    if (t && cdb_is_connected(t) && !t->is_gnd()) return false;
  }
  return true;
}

void apply_sclr_bypass(const SCLR_BYPASS& b, KAVU_SCLR_BYPASS_RECORD* record) {
  CDB_SGATE_NODE* reg = b.m_reg;
  CDB_SGATE_ITERM* d = reg->get_input_term(CDB_DFF_DATA);
  CDB_SGATE_ITERM* sclr = reg->get_input_term(CDB_DFF_SCLR);
  CDB_SGATE_OTERM* oterm = d->get_source_oterm();
  sclr->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_UNCONNECTED);
  kavu_copy_fanin(b.m_clear, sclr);
  // The clear is active when c delivers 0: toggle the copied inversion.
  if (b.m_active_low) sclr->invert();
  CDB_SGATE_ITERM* other_iterm = b.m_data;
  KAVU_CHECK(cdb_is_connected(other_iterm));
  d->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_UNCONNECTED);
  kavu_copy_fanin(other_iterm, d);
  if (!oterm->has_fanout()) kavu_isolate_orphaned_gates(oterm, reg->get_netlist(), false);
  if (record) record->insert(reg->get_id(), b.m_gate->get_sgate_type() == CDB_SGATE_MUX_ENUM ? CDB_SGATE_MUX_ENUM
                                                                                           : CDB_SGATE_COMB_ENUM);
}

// Applies every bypass a successful search relied on, each register once, in
// the order met. A bypass's AND or mux outlives the registers still reading
// it, so every recorded decision stays valid until its turn.
void apply_pending(const std::vector<SCLR_BYPASS>& pending, KAVU_SCLR_BYPASS_RECORD* record) {
  std::unordered_set<CDB_SGATE_NODE*> done;
  for (const SCLR_BYPASS& b : pending)
    if (done.insert(b.m_reg).second) apply_sclr_bypass(b, record);
}

// Runs `search` without changing anything; when `apply` is set and the
// search succeeded, applies the bypasses it relied on.
template <class SEARCH>
auto search_then_apply(bool bypass, bool apply, KAVU_SCLR_BYPASS_RECORD* record, SEARCH&& search) {
  std::vector<SCLR_BYPASS> pending;
  const auto result = search(SCLR_MODE{bypass, &pending});
  if (apply && result) apply_pending(pending, record);
  return result;
}

void note_pending(const SCLR_MODE& mode, const SCLR_BYPASS& b) {
  if (mode.m_pending) mode.m_pending->push_back(b);
}

// Forgets the bypasses a failed part of a search collected.
void drop_pending(const SCLR_MODE& mode, size_t size) {
  if (mode.m_pending && mode.m_pending->size() > size) mode.m_pending->resize(size);
}

size_t pending_size(const SCLR_MODE& mode) { return mode.m_pending ? mode.m_pending->size() : 0; }

// The input of `reg` a backward walk continues from.
CDB_SGATE_ITERM* reg_entry(CDB_SGATE_NODE* reg, const SCLR_MODE& mode) {
  SCLR_BYPASS b;
  if (mode.m_bypass && find_sclr_bypass(reg, b)) {
    note_pending(mode, b);
    return b.m_data;
  }
  return reg->get_input_term(CDB_DFF_DATA);
}

// A register's synchronous clear as it will be once the searches have moved
// the clears they cross: the terminal it copies and whether it is inverted
// on top.
struct SCLR_VIEW {
  CDB_SGATE_ITERM* m_like = nullptr;
  bool m_toggle = false;
};

SCLR_VIEW sclr_after_bypass(CDB_SGATE_ITERM* sclr) {
  SCLR_BYPASS b;
  if (sclr && find_sclr_bypass(sclr->get_my_node(), b)) return SCLR_VIEW{b.m_clear, b.m_active_low};
  return SCLR_VIEW{sclr, false};
}

bool same_sclr(const SCLR_VIEW& a, const SCLR_VIEW& b) {
  if (!a.m_toggle && !b.m_toggle) return rtl_iterms_have_same_source(a.m_like, b.m_like);
  // A moved clear is always a signal.
  if (!is_signal(a.m_like) || !is_signal(b.m_like)) return false;
  return a.m_like->get_source_oterm() == b.m_like->get_source_oterm() &&
         (a.m_like->is_inverted() != a.m_toggle) == (b.m_like->is_inverted() != b.m_toggle);
}

// opt_check_reg_secondary, with the bypass comparing the synchronous clears
// as they will be after the move: looking must answer what applying would.
bool reg_secondary_ok(CDB_SGATE_NODE* reg, OPT_SECONDARY_SIGNALS& sec, const SCLR_MODE& mode) {
  if (!mode.m_bypass || !sec.m_clk) return opt_check_reg_secondary(reg, sec);
  CDB_SGATE_ITERM* own = reg->get_input_term(CDB_DFF_SCLR);
  CDB_SGATE_ITERM* shared = sec.m_sclr;
  sec.m_sclr = own;  // compared below
  const bool ok = opt_check_reg_secondary(reg, sec);
  sec.m_sclr = shared;
  return ok && same_sclr(sclr_after_bypass(shared), sclr_after_bypass(own));
}

CDB_SGATE_OTERM* non_dff_src(CDB_SGATE_ITERM* iterm, const SCLR_MODE& mode) {
  if (!is_signal(iterm)) return nullptr;
  const size_t pending_at_start = pending_size(mode);
  CDB_SGATE_ITERM* t = iterm;
  for (unsigned n = 0;; ++n) {
    CDB_SGATE_OTERM* src = t->get_source_oterm();
    CDB_SGATE_NODE* g = src->get_my_node();
    if (!is_plain_reg(g)) return src;
    if (n >= KAVU_MAX_REGS_BACK) {
      drop_pending(mode, pending_at_start);
      return nullptr;
    }
    CDB_SGATE_ITERM* d = reg_entry(g, mode);
    if (!is_signal(d)) return src;
    t = d;
  }
}

// With the bypass: a first fan-out into a mux that feeds a register through
// its first fan-out stands for that register's data input when the bypass
// answers the mux input reached.
CDB_SGATE_ITERM* through_bypass_mux(CDB_SGATE_ITERM* f, const SCLR_MODE& mode) {
  if (!mode.m_bypass || f->get_my_node()->get_sgate_type() != CDB_SGATE_MUX_ENUM) return f;
  CDB_SGATE_OTERM* mo = f->get_my_node()->get_single_oterm();
  CDB_SGATE_ITERM* rf = mo ? mo->get_first_fanout() : nullptr;
  if (!rf || !is_plain_reg(rf->get_my_node())) return f;
  CDB_SGATE_NODE* reg = rf->get_my_node();
  SCLR_BYPASS b;
  if (!find_sclr_bypass(reg, b) || b.m_data != f) return f;
  note_pending(mode, b);
  return reg->get_input_term(CDB_DFF_DATA);
}

CDB_SGATE_ITERM* non_dff_dst(CDB_SGATE_OTERM* oterm, const SCLR_MODE& mode) {
  if (!oterm || !oterm->has_fanout()) return nullptr;
  const size_t pending_at_start = pending_size(mode);
  CDB_SGATE_OTERM* o = oterm;
  CDB_SGATE_ITERM* last = nullptr;
  for (unsigned n = 0;; ++n) {
    CDB_SGATE_ITERM* f = o->get_first_fanout();
    if (!f) return last;
    f = through_bypass_mux(f, mode);
    last = f;
    CDB_SGATE_NODE* g = f->get_my_node();
    if (!is_plain_reg(g)) return f;
    if (n >= KAVU_MAX_REGS_BACK) {
      drop_pending(mode, pending_at_start);
      return nullptr;
    }
    o = g->get_single_oterm();
  }
}

bool pipeline(CDB_SGATE_OTERM* s, CDB_SGATE_ITERM* t, bool check, unsigned& depth, OPT_SECONDARY_SIGNALS& sec,
              bool fresh, std::set<CDB_SGATE_NODE*>& visited, unsigned& fanout_sum, const SCLR_MODE& mode) {
  if (!check) {
    depth = 0;
    sec = OPT_SECONDARY_SIGNALS();
  }
  if (fresh) {
    visited.clear();
    fanout_sum = s->get_number_of_fanout();
  }
  const size_t pending_at_start = pending_size(mode);
  CDB_SGATE_ITERM* cur = t;
  unsigned n = 0;
  for (;;) {
    bool ok = is_signal(cur);
    CDB_SGATE_OTERM* src = ok ? cur->get_source_oterm() : nullptr;
    if (src == s) break;
    CDB_SGATE_NODE* g = ok ? src->get_my_node() : nullptr;
    CDB_SGATE_ITERM* d = nullptr;
    if (ok) ok = is_plain_reg(g) && ++n <= KAVU_MAX_PIPELINE_REGS;
    if (ok) {
      d = reg_entry(g, mode);
      ok = d && !d->is_inverted() && reg_secondary_ok(g, sec, mode);
    }
    if (!ok) {
      drop_pending(mode, pending_at_start);
      return false;
    }
    if (visited.insert(g).second) fanout_sum += g->get_single_oterm()->get_number_of_fanout() - 1;
    cur = d;
  }
  if (!check) {
    depth = n;
    return true;
  }
  if (n == depth) return true;
  drop_pending(mode, pending_at_start);
  return false;
}

bool bus_connection(std::vector<CDB_SGATE_OTERM*>* srcs, std::vector<CDB_SGATE_ITERM*>* dsts, KAVU_BUS_INFO& info,
                    bool through_regs, CDB_SGATE_NODE* src_node, CDB_SGATE_NODE* dst_node, const SCLR_MODE& mode) {
  KAVU_CHECK(srcs && dsts);
  info.clear();
  KAVU_BUS_INFO r;
  size_t so = 0, dof = 0;
  for (; so < srcs->size(); ++so) {
    CDB_SGATE_OTERM* s = (*srcs)[so];
    if (!s || !s->has_fanout()) continue;
    if (!through_regs) break;
    CDB_SGATE_ITERM* d = non_dff_dst(s, mode);
    if (d && d->get_my_node() == dst_node) break;
  }
  for (; dof < dsts->size(); ++dof) {
    CDB_SGATE_ITERM* d = (*dsts)[dof];
    if (!d || is_const_bit(d)) continue;
    if (!through_regs) break;
    CDB_SGATE_OTERM* s = non_dff_src(d, mode);
    if (s && s->get_my_node() == src_node) break;
  }
  if (so >= srcs->size() || dof >= dsts->size()) return false;
  std::set<CDB_SGATE_NODE*> visited;
  unsigned fanout_sum = 0, depth = 0;
  size_t i = so, matched = 0;
  for (; i < srcs->size(); ++i) {
    CDB_SGATE_OTERM* s = (*srcs)[i];
    if (!s || !s->has_fanout()) {
      for (size_t k = i; k < srcs->size(); ++k)
        if ((*srcs)[k] && (*srcs)[k]->has_fanout()) return false;
      break;
    }
    const size_t j = dof + matched;
    if (j >= dsts->size()) return false;
    CDB_SGATE_ITERM* d = (*dsts)[j];
    if (!d || is_const_bit(d)) return false;
    if (matched > 0 && fanout_sum > 1) r.m_exclusive = false;
    if (!pipeline(s, d, matched > 0, depth, r.m_secondaries, true, visited, fanout_sum, mode)) return false;
    if (!r.m_preserved_reg && kavu_check_preserved_reg(d)) r.m_preserved_reg = true;
    ++matched;
  }
  if (matched == 0) return false;
  r.m_width = unsigned(matched);
  r.m_src_offset = unsigned(so);
  r.m_dst_offset = unsigned(dof);
  r.m_depth = depth;
  CDB_SGATE_OTERM* top = (*srcs)[so + matched - 1];
  unsigned top_drives = 1;
  for (size_t j = dof + matched; j < dsts->size(); ++j) {
    CDB_SGATE_ITERM* d = (*dsts)[j];
    if (!d) return false;
    if (r.m_constant_tail || (!r.m_extended && is_const_bit(d))) {
      if (!is_const_bit(d)) return false;
      r.m_constant_tail = true;
      continue;
    }
    if (!pipeline(top, d, true, depth, r.m_secondaries, false, visited, fanout_sum, mode)) return false;
    ++top_drives;
    r.m_extended = true;
  }
  if (top_drives < fanout_sum) r.m_exclusive = false;
  info = r;
  return true;
}

CDB_SGATE_NODE* bus_src(CDB_SGATE_NODE* node, DB_INPUT_PORT_TYPE port_type, CDB_OPER_PORT_TYPE oper_port,
                        DB_OUTPUT_PORT_TYPE& src_port_type, CDB_OPER_PORT_TYPE& src_oper_port, KAVU_BUS_INFO& info,
                        const SCLR_MODE& mode) {
  info.clear();
  std::vector<CDB_SGATE_ITERM*> dsts;
  if (!kavu_get_bus_dst_iterms(node, port_type, oper_port, &dsts)) return nullptr;
  CDB_SGATE_OTERM* src = nullptr;
  for (CDB_SGATE_ITERM* d : dsts)
    if (is_signal(d) && (src = non_dff_src(d, mode)) != nullptr) break;
  if (!src) return nullptr;
  CDB_SGATE_NODE* cand = src->get_my_node();
  if (cand->cast_to_wysiwyg() || cand->get_sgate_type() == CDB_SGATE_SYNCHRONOUS_RAM_ENUM) {
    src_port_type = DB_OUTPUT_PORT_TYPE(src->get_port_type());
    src_oper_port = CDB_OPER_PORT_O;
  } else if (CDB_SGATE_OPERATOR* op = cand->cast_to_operator()) {
    CDB_SGATE_OPER_PORT_ENTRY* o = op->get_port(CDB_OPER_PORT_O);
    bool found = false;
    for (unsigned i = 0; o && i < o->get_width(); ++i) found |= o->get_oterm(i) == src;
    if (!found) return nullptr;
    src_port_type = DB_MAX_OUTPUT_PORT_TYPE;
    src_oper_port = CDB_OPER_PORT_O;
  } else {
    return nullptr;
  }
  std::vector<CDB_SGATE_OTERM*> srcs;
  if (!kavu_get_bus_src_oterms(cand, src_port_type, src_oper_port, &srcs)) return nullptr;
  return bus_connection(&srcs, &dsts, info, false, nullptr, nullptr, mode) ? cand : nullptr;
}

CDB_SGATE_NODE* bus_dst(CDB_SGATE_NODE* node, DB_OUTPUT_PORT_TYPE port_type, CDB_OPER_PORT_TYPE oper_port,
                        DB_INPUT_PORT_TYPE& dst_port_type, CDB_OPER_PORT_TYPE& dst_oper_port, KAVU_BUS_INFO& info,
                        const SCLR_MODE& mode) {
  info.clear();
  std::vector<CDB_SGATE_OTERM*> srcs;
  if (!kavu_get_bus_src_oterms(node, port_type, oper_port, &srcs)) return nullptr;
  CDB_SGATE_ITERM* dst = nullptr;
  for (CDB_SGATE_OTERM* s : srcs)
    if (s && s->has_fanout() && (dst = non_dff_dst(s, mode)) != nullptr) break;
  if (!dst) return nullptr;
  CDB_SGATE_NODE* cand = dst->get_my_node();
  if (cand->cast_to_wysiwyg() || cand->get_sgate_type() == CDB_SGATE_SYNCHRONOUS_RAM_ENUM) {
    dst_port_type = DB_INPUT_PORT_TYPE(dst->get_port_type());
    dst_oper_port = CDB_OPER_PORT_A;
  } else if (CDB_SGATE_OPERATOR* op = cand->cast_to_operator()) {
    dst_port_type = DB_MAX_INPUT_PORT_TYPE;
    auto holds = [&](CDB_OPER_PORT_TYPE p) {
      CDB_SGATE_OPER_PORT_ENTRY* e = op->get_port(p);
      for (unsigned i = 0; e && i < e->get_width(); ++i)
        if (e->get_iterm(i) == dst) return true;
      return false;
    };
    if (holds(CDB_OPER_PORT_A))
      dst_oper_port = CDB_OPER_PORT_A;
    else if (holds(CDB_OPER_PORT_B))
      dst_oper_port = CDB_OPER_PORT_B;
    else
      return nullptr;
  } else {
    return nullptr;
  }
  std::vector<CDB_SGATE_ITERM*> dsts;
  if (!kavu_get_bus_dst_iterms(cand, dst_port_type, dst_oper_port, &dsts)) return nullptr;
  return bus_connection(&srcs, &dsts, info, false, nullptr, nullptr, mode) ? cand : nullptr;
}

bool pipeline_only(CDB_SGATE_NODE* node, DB_OUTPUT_PORT_TYPE port_type, CDB_OPER_PORT_TYPE oper_port,
                   std::vector<CDB_SGATE_OTERM*>* regs, OPT_SECONDARY_SIGNALS* secondaries, const SCLR_MODE& mode) {
  KAVU_CHECK(regs && secondaries);
  std::vector<CDB_SGATE_OTERM*> bus;
  if (!kavu_get_bus_src_oterms(node, port_type, oper_port, &bus)) return false;
  OPT_SECONDARY_SIGNALS shared;
  const size_t start = regs->size();
  for (CDB_SGATE_OTERM* s : bus) {
    if (!s) continue;
    std::vector<CDB_SGATE_ITERM*> fanouts;
    s->copy_fanouts(fanouts);
    for (CDB_SGATE_ITERM* f : fanouts) {
      CDB_SGATE_ITERM* t = through_bypass_mux(f, mode);
      CDB_SGATE_NODE* g = t->get_my_node();
      if (!is_plain_reg(g) || !reg_secondary_ok(g, shared, mode)) {
        regs->resize(start);
        return false;
      }
      regs->push_back(g->get_single_oterm());
    }
  }
  *secondaries = shared;
  return true;
}

}  // namespace

// ---------------------------------------------------------------- registers

bool kavu_check_preserved_reg(CDB_SGATE_ITERM* iterm) {
  CDB_SGATE_ITERM* t = iterm;
  for (unsigned n = 0; n < KAVU_MAX_PIPELINE_REGS; ++n) {
    if (!is_signal(t)) return false;
    CDB_SGATE_NODE* g = t->get_source_oterm()->get_my_node();
    if (!is_plain_reg(g)) return false;
    if (g->cast_to_dff()->preserve()) return true;
    t = g->get_input_term(CDB_DFF_DATA);
  }
  return false;
}

CDB_SGATE_OTERM* kavu_get_non_dff_src(CDB_SGATE_ITERM* iterm) { return non_dff_src(iterm, SCLR_MODE()); }
CDB_SGATE_ITERM* kavu_get_non_dff_dst(CDB_SGATE_OTERM* oterm) { return non_dff_dst(oterm, SCLR_MODE()); }

// ---------------------------------------------------------------- buses

bool kavu_has_bus_as_wys(CDB_SGATE_NODE* node) {
  return node && (node->cast_to_wysiwyg() || node->get_sgate_type() == CDB_SGATE_SYNCHRONOUS_RAM_ENUM);
}

unsigned kavu_get_real_lsb(CDB_SGATE_OPERATOR* op) {
  return op->get_type() == CDB_OPER_ADDITION && rtl_oper_might_be_subtractor(op) ? 1u : 0u;
}

bool kavu_get_bus_dst_iterms(CDB_SGATE_NODE* node, DB_INPUT_PORT_TYPE port_type, CDB_OPER_PORT_TYPE oper_port,
                             std::vector<CDB_SGATE_ITERM*>* bus) {
  KAVU_CHECK(node && bus);
  if (kavu_has_bus_as_wys(node)) {
    for (unsigned i = 0; i < node->get_number_of_input_terms(); ++i) {
      CDB_SGATE_ITERM* t = node->get_input_term(i);
      if (t && t->get_port_type() == port_type) bus->push_back(t);
    }
    return true;
  }
  CDB_SGATE_OPERATOR* op = node->cast_to_operator();
  if (!op || !op->get_port(oper_port)) return false;
  CDB_SGATE_OPER_PORT_ENTRY* p = op->get_port(oper_port);
  for (unsigned i = kavu_get_real_lsb(op); i < p->get_width(); ++i) bus->push_back(p->get_iterm(i));
  return true;
}

bool kavu_get_bus_src_oterms(CDB_SGATE_NODE* node, DB_OUTPUT_PORT_TYPE port_type, CDB_OPER_PORT_TYPE oper_port,
                             std::vector<CDB_SGATE_OTERM*>* bus) {
  KAVU_CHECK(node && bus);
  if (kavu_has_bus_as_wys(node)) {
    for (unsigned i = 0; i < node->get_output_count(); ++i) {
      CDB_SGATE_OTERM* t = node->get_output_term(i);
      if (t && t->get_port_type() == port_type) bus->push_back(t);
    }
    return true;
  }
  CDB_SGATE_OPERATOR* op = node->cast_to_operator();
  if (!op || !op->get_port(oper_port)) return false;
  CDB_SGATE_OPER_PORT_ENTRY* p = op->get_port(oper_port);
  for (unsigned i = kavu_get_real_lsb(op); i < p->get_width(); ++i) bus->push_back(p->get_oterm(i));
  return true;
}

namespace {

// Every input bit of the bus; an operator port from bit 0.
bool all_input_bits(CDB_SGATE_NODE* node, DB_INPUT_PORT_TYPE port_type, CDB_OPER_PORT_TYPE oper_port,
                    std::vector<CDB_SGATE_ITERM*>& bits) {
  if (CDB_SGATE_OPERATOR* op = node->cast_to_operator()) {
    CDB_SGATE_OPER_PORT_ENTRY* p = op->get_port(oper_port);
    if (!p) return false;
    for (unsigned i = 0; i < p->get_width(); ++i) bits.push_back(p->get_iterm(i));
    return true;
  }
  return kavu_get_bus_dst_iterms(node, port_type, oper_port, &bits);
}

}  // namespace

bool kavu_get_virtual_bus(CDB_SGATE_NODE* node, DB_INPUT_PORT_TYPE port_type, CDB_OPER_PORT_TYPE oper_port,
                          std::vector<KAVU_VIRTUAL_ITERM>& virtual_bus) {
  KAVU_CHECK(virtual_bus.empty());
  std::vector<CDB_SGATE_ITERM*> bits;
  if (!all_input_bits(node, port_type, oper_port, bits)) return false;
  for (CDB_SGATE_ITERM* iterm : bits) {
    KAVU_CHECK(cdb_is_connected(iterm));
    virtual_bus.push_back(KAVU_VIRTUAL_ITERM{iterm->get_source_oterm(), iterm->is_inverted()});
  }
  return !virtual_bus.empty();
}

bool kavu_create_bus(CDB_SGATE_NODE* node, DB_INPUT_PORT_TYPE port_type, std::vector<KAVU_VIRTUAL_ITERM>* bus) {
  KAVU_CHECK(kavu_has_bus_as_wys(node));
  KAVU_CHECK(bus);
  for (const KAVU_VIRTUAL_ITERM& v : *bus) {
    CDB_SGATE_ITERM* t = node->create_input_term(MEM_MANAGER::get_default_segment(), port_type);
    node->insert_unordered_fanin_term(t);
    if (v.m_source)
      v.m_source->insert_fanout(t);
    else
      t->set_vcc();
    if (v.m_inverted)
      t->set_invert();
    else
      t->clear_invert();
  }
  return !bus->empty();
}

bool kavu_remove_bus(CDB_SGATE_NODE* node, DB_INPUT_PORT_TYPE port_type) {
  KAVU_CHECK(kavu_has_bus_as_wys(node));
  std::vector<CDB_SGATE_ITERM*> bits;
  kavu_get_bus_dst_iterms(node, port_type, CDB_OPER_PORT_A, &bits);
  for (CDB_SGATE_ITERM* t : bits) node->delete_input_term(t);
  return !bits.empty();
}

void kavu_disconnect_bus_iterms(CDB_SGATE_NODE* node, DB_INPUT_PORT_TYPE port_type, CDB_OPER_PORT_TYPE oper_port) {
  std::vector<CDB_SGATE_ITERM*> bits;
  if (!all_input_bits(node, port_type, oper_port, bits)) return;
  for (CDB_SGATE_ITERM* t : bits)
    if (t) t->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_UNCONNECTED);
}

bool kavu_extend_bus(CDB_SGATE_NODE* node, CDB_OPER_PORT_TYPE oper_port, unsigned width, bool sign_extend) {
  CDB_SGATE_OPERATOR* op = node ? node->cast_to_operator() : nullptr;
  CDB_SGATE_OPER_PORT_ENTRY* p = op ? op->get_port(oper_port) : nullptr;
  if (!p || p->get_width() >= width || p->get_width() == 0) return false;
  CDB_SGATE_ITERM* top = p->get_iterm(p->get_width() - 1);
  for (unsigned i = p->get_width(); i < width; ++i) {
    CDB_SGATE_ITERM* t = op->create_input_term(MEM_MANAGER::get_default_segment());
    p->set_iterm(i, t);
    if (sign_extend)
      kavu_copy_fanin(top, t);
    else
      t->set_gnd();
  }
  return true;
}

bool kavu_bus_is_constant(CDB_SGATE_NODE* node, DB_INPUT_PORT_TYPE port_type, CDB_OPER_PORT_TYPE oper_port,
                          bool sign_extend, int* value) {
  std::vector<CDB_SGATE_ITERM*> bits;
  if (!kavu_get_bus_dst_iterms(node, port_type, oper_port, &bits) || bits.empty()) return false;
  for (CDB_SGATE_ITERM* t : bits)
    if (!is_const_bit(t)) return false;
  if (!value) return true;
  // The value is one int: a wider bus has no value to give.
  const size_t i = bits.size();
  KAVU_CHECK(i <= 32);
  uint32_t v = 0;
  for (unsigned k = 0; k < bits.size(); ++k)
    if (bits[k]->is_vcc()) v |= 1u << k;
  if (sign_extend && bits.back()->is_vcc())
    for (unsigned k = unsigned(bits.size()); k < 32; ++k) v |= 1u << k;
  *value = int(v);
  return true;
}

bool kavu_bus_has_consistent_inversion(CDB_SGATE_NODE* node, DB_INPUT_PORT_TYPE port_type,
                                       CDB_OPER_PORT_TYPE oper_port, bool& inverted) {
  std::vector<CDB_SGATE_ITERM*> bits;
  if (!kavu_get_bus_dst_iterms(node, port_type, oper_port, &bits) || bits.empty()) return false;
  auto inv_of = [](CDB_SGATE_ITERM* t) { return t && (t->is_vcc() || (is_signal(t) && t->is_inverted())); };
  inverted = inv_of(bits[0]);
  for (CDB_SGATE_ITERM* t : bits)
    if (inv_of(t) != inverted) return false;
  return true;
}

// ---------------------------------------------------------------- pipelines

bool kavu_check_register_pipeline(CDB_SGATE_OTERM* src, CDB_SGATE_ITERM* dst, bool check, unsigned& depth,
                                  OPT_SECONDARY_SIGNALS& secondaries, bool fresh_start,
                                  std::set<CDB_SGATE_NODE*>& visited, unsigned& fanout_sum) {
  return pipeline(src, dst, check, depth, secondaries, fresh_start, visited, fanout_sum, SCLR_MODE());
}

bool kavu_check_bus_connection(std::vector<CDB_SGATE_OTERM*>* srcs, std::vector<CDB_SGATE_ITERM*>* dsts,
                               KAVU_BUS_INFO& info, bool through_regs, CDB_SGATE_NODE* src_node,
                               CDB_SGATE_NODE* dst_node) {
  return bus_connection(srcs, dsts, info, through_regs, src_node, dst_node, SCLR_MODE());
}

CDB_SGATE_NODE* kavu_get_bus_src(CDB_SGATE_NODE* node, DB_INPUT_PORT_TYPE port_type, CDB_OPER_PORT_TYPE oper_port,
                                 DB_OUTPUT_PORT_TYPE& src_port_type, CDB_OPER_PORT_TYPE& src_oper_port,
                                 KAVU_BUS_INFO& info) {
  return bus_src(node, port_type, oper_port, src_port_type, src_oper_port, info, SCLR_MODE());
}

CDB_SGATE_NODE* kavu_get_bus_dst(CDB_SGATE_NODE* node, DB_OUTPUT_PORT_TYPE port_type, CDB_OPER_PORT_TYPE oper_port,
                                 DB_INPUT_PORT_TYPE& dst_port_type, CDB_OPER_PORT_TYPE& dst_oper_port,
                                 KAVU_BUS_INFO& info) {
  return bus_dst(node, port_type, oper_port, dst_port_type, dst_oper_port, info, SCLR_MODE());
}

bool kavu_bus_to_pipeline_only(CDB_SGATE_NODE* node, DB_OUTPUT_PORT_TYPE port_type, CDB_OPER_PORT_TYPE oper_port,
                               std::vector<CDB_SGATE_OTERM*>* regs, OPT_SECONDARY_SIGNALS* secondaries) {
  return pipeline_only(node, port_type, oper_port, regs, secondaries, SCLR_MODE());
}

bool kavu_bus_get_simple_pipeline(std::vector<CDB_SGATE_OTERM*>* bus, std::vector<CDB_SGATE_OTERM*>& next,
                                  OPT_SECONDARY_SIGNALS& secondaries) {
  KAVU_CHECK(bus);
  next.assign(bus->size(), nullptr);
  for (size_t i = 0; i < bus->size(); ++i) {
    CDB_SGATE_OTERM* s = (*bus)[i];
    if (!s || !s->has_fanout()) continue;
    CDB_SGATE_ITERM* f = s->get_first_fanout();
    CDB_SGATE_NODE* g = f->get_my_node();
    if (s->get_number_of_fanout() != 1 || !is_plain_reg(g) || g->get_input_term(CDB_DFF_DATA) != f ||
        f->is_inverted() || !opt_check_reg_secondary(g, secondaries)) {
      next.clear();
      return false;
    }
    next[i] = g->get_single_oterm();
  }
  return true;
}

// ---------------------------------------------------------------- adders

namespace {

// Scans one operand from its top bit down to bit r + 1: a leading run of
// constants (VCC when inverted, GND when not), then signals inverted like
// bit r.
bool operand_is_uniform(CDB_SGATE_OPER_PORT_ENTRY* p, unsigned r, bool inv) {
  bool leading = true;
  for (unsigned i = p->get_width(); i-- > r + 1;) {
    CDB_SGATE_ITERM* t = p->get_iterm(i);
    if (leading && is_const_bit(t)) {
      if (t->is_vcc() != inv) return false;
      continue;
    }
    leading = false;
    if (!is_signal(t) || t->is_inverted() != inv) return false;
  }
  return true;
}

}  // namespace

bool kavu_is_almost_sub(CDB_SGATE_OPERATOR* op, bool* a_inverted, bool* b_inverted, int* offset) {
  KAVU_CHECK(op && a_inverted && b_inverted && offset);
  *a_inverted = *b_inverted = false;
  *offset = 0;
  CDB_SGATE_OPER_PORT_ENTRY* a = op->get_port(CDB_OPER_PORT_A);
  CDB_SGATE_OPER_PORT_ENTRY* b = op->get_port(CDB_OPER_PORT_B);
  const unsigned r = kavu_get_real_lsb(op);
  if (!a || !b || a->get_width() <= r || b->get_width() <= r) return false;
  const bool a_inv = is_signal(a->get_iterm(r)) && a->get_iterm(r)->is_inverted();
  const bool b_inv = is_signal(b->get_iterm(r)) && b->get_iterm(r)->is_inverted();
  if (!a_inv && !b_inv) return false;
  if (!operand_is_uniform(a, r, a_inv) || !operand_is_uniform(b, r, b_inv)) return false;
  const int inverted = int(a_inv) + int(b_inv);
  *a_inverted = a_inv;
  *b_inverted = b_inv;
  *offset = r == 1 ? inverted - 1 : inverted;
  return true;
}

bool kavu_is_pretty_sub(CDB_SGATE_OPERATOR* op, bool* b_inverted) {
  bool a_inv = false, b_inv = false;
  int offset = 0;
  const bool ok = kavu_is_almost_sub(op, &a_inv, &b_inv, &offset) && offset == 0 && (a_inv != b_inv);
  if (b_inverted) *b_inverted = ok && b_inv;
  return ok;
}

bool kavu_is_perfect_sub_or_add(CDB_SGATE_NODE* node, bool* is_add) {
  KAVU_CHECK(node && is_add);
  *is_add = true;
  CDB_SGATE_OPERATOR* op = node->cast_to_operator();
  if (!op || (op->get_type() != CDB_OPER_ADDITION && op->get_type() != CDB_OPER_ADDSUB)) return false;
  bool a_inv = false, b_inv = false;
  int offset = 0;
  if (kavu_is_almost_sub(op, &a_inv, &b_inv, &offset)) {
    if ((a_inv != b_inv) && offset == 0) {
      *is_add = false;
      return true;
    }
    return false;
  }
  return kavu_get_real_lsb(op) == 0;
}

bool kavu_fix_constant_adder_bus(CDB_SGATE_OPERATOR* op) {
  KAVU_CHECK(op);
  if (op->get_type() != CDB_OPER_ADDITION || kavu_get_real_lsb(op) != 0) return false;
  // A live carry-in adds to the result: neither the bypass nor the
  // re-alignment below would keep it.
  if (CDB_SGATE_OPER_PORT_ENTRY* cin = op->get_port(CDB_OPER_PORT_CIN))
    for (unsigned i = 0; i < cin->get_width(); ++i) {
      CDB_SGATE_ITERM* t = cin->get_iterm(i);
      if (t && cdb_is_connected(t) && !t->is_gnd()) return false;
    }
  CDB_SGATE_OPER_PORT_ENTRY* a = op->get_port(CDB_OPER_PORT_A);
  CDB_SGATE_OPER_PORT_ENTRY* b = op->get_port(CDB_OPER_PORT_B);
  CDB_SGATE_OPER_PORT_ENTRY* o = op->get_port(CDB_OPER_PORT_O);
  if (!a || !b || !o || a->get_width() == 0 || b->get_width() == 0) return false;
  bool swapped = false;
  if (!kavu_op_iport_is_constant(b)) {
    if (!kavu_op_iport_is_constant(a)) return false;
    kavu_swap_ports(a, b, false);
    swapped = true;
  }
  if (kavu_port_is_all_gnds(b)) {
    // Adding zero: every result bit is its A bit.
    for (unsigned i = 0; i < a->get_width() && i < o->get_width(); ++i) {
      CDB_SGATE_ITERM* ai = a->get_iterm(i);
      CDB_SGATE_OTERM* oi = o->get_oterm(i);
      if (!oi || !ai || !cdb_is_connected(ai)) continue;
      CDB_SGATE_OTERM* s = ai->get_source_oterm();
      if (s && s == oi) continue;
      if (s)
        s->adopt_fanouts(oi, ai->is_inverted() != oi->is_inverted());
      else
        oi->set_all_fanouts_constant(ai->is_vcc() != oi->is_inverted());
    }
    if (CDB_SGATE_OTERM* cout = op->get_oterm(CDB_OPER_PORT_COUT, 0))
      if (cout->has_fanout()) cout->set_all_fanouts_constant(cout->is_inverted());
    return true;
  }
  CDB_SGATE_ITERM* a0 = a->get_iterm(0);
  if (!is_signal(a0)) return swapped;
  CDB_SGATE_OTERM* src = a0->get_source_oterm();
  CDB_SGATE_OPERATOR* g = src->get_my_node()->cast_to_operator();
  if (!g || g == op) return swapped;
  if (g->get_type() != CDB_OPER_ADDITION && g->get_type() != CDB_OPER_MULTIPLY && g->get_type() != CDB_OPER_ADDSUB)
    return swapped;
  CDB_SGATE_OPER_PORT_ENTRY* src_port = nullptr;
  int p = -1;
  kavu_get_oterm_port_and_index(src, &src_port, &p);
  if (!src_port || src_port->get_type() != CDB_OPER_PORT_O) return swapped;
  const int q = int(kavu_get_real_lsb(g));
  const int src_lsb_index = p, src_real_lsb = q;
  KAVU_CHECK(src_lsb_index - src_real_lsb >= 0);
  if (p == q) return swapped;
  const unsigned shift = unsigned(p - q);
  kavu_shift_port(a, shift);
  kavu_shift_port(b, shift);
  kavu_shift_port(o, shift);
  for (int j = p - 1; j >= q; --j) {
    const unsigned k = unsigned(j - q);
    CDB_SGATE_OTERM* gj = src_port->get_oterm(unsigned(j));
    CDB_SGATE_OTERM* nk = op->create_output_term(MEM_MANAGER::get_default_segment());
    o->set_oterm(k, nk);
    if (gj && gj->has_fanout()) nk->adopt_fanouts(gj, false);
    CDB_SGATE_ITERM* ak = op->create_input_term(MEM_MANAGER::get_default_segment());
    a->set_iterm(k, ak);
    if (gj) gj->insert_fanout(ak);
    CDB_SGATE_ITERM* bk = op->create_input_term(MEM_MANAGER::get_default_segment());
    b->set_iterm(k, bk);
    bk->set_gnd();
  }
  return true;
}

// ---------------------------------------------------------------- synchronous clears

CDB_SGATE_ITERM* kavu_get_data_in_bypass_sclear(CDB_SGATE_NODE* reg, bool apply, KAVU_SCLR_BYPASS_RECORD* record) {
  if (!is_plain_reg(reg)) return nullptr;
  CDB_SGATE_ITERM* d = reg->get_input_term(CDB_DFF_DATA);
  SCLR_BYPASS b;
  if (!find_sclr_bypass(reg, b)) return d;
  if (!apply) return b.m_data;
  apply_sclr_bypass(b, record);
  return d;
}

CDB_SGATE_OTERM* kavu_get_non_dff_src_sclr_aware(CDB_SGATE_ITERM* iterm, bool bypass, bool apply,
                                                 KAVU_SCLR_BYPASS_RECORD* record) {
  return search_then_apply(bypass, apply, record, [&](const SCLR_MODE& mode) { return non_dff_src(iterm, mode); });
}

CDB_SGATE_ITERM* kavu_get_non_dff_dst_sclr_aware(CDB_SGATE_OTERM* oterm, bool bypass, bool apply,
                                                 KAVU_SCLR_BYPASS_RECORD* record) {
  return search_then_apply(bypass, apply, record, [&](const SCLR_MODE& mode) { return non_dff_dst(oterm, mode); });
}

bool kavu_check_register_pipeline_sclr_aware(CDB_SGATE_OTERM* src, CDB_SGATE_ITERM* dst, bool check, unsigned& depth,
                                             OPT_SECONDARY_SIGNALS& secondaries, bool fresh_start,
                                             std::set<CDB_SGATE_NODE*>& visited, unsigned& fanout_sum, bool bypass,
                                             bool apply, KAVU_SCLR_BYPASS_RECORD* record) {
  return search_then_apply(bypass, apply, record, [&](const SCLR_MODE& mode) {
    return pipeline(src, dst, check, depth, secondaries, fresh_start, visited, fanout_sum, mode);
  });
}

bool kavu_check_bus_connection_sclr_aware(std::vector<CDB_SGATE_OTERM*>* srcs, std::vector<CDB_SGATE_ITERM*>* dsts,
                                          KAVU_BUS_INFO& info, bool bypass, bool apply,
                                          KAVU_SCLR_BYPASS_RECORD* record) {
  return search_then_apply(bypass, apply, record, [&](const SCLR_MODE& mode) {
    return bus_connection(srcs, dsts, info, false, nullptr, nullptr, mode);
  });
}

CDB_SGATE_NODE* kavu_get_bus_src_sclr_aware(CDB_SGATE_NODE* node, DB_INPUT_PORT_TYPE port_type,
                                            CDB_OPER_PORT_TYPE oper_port, DB_OUTPUT_PORT_TYPE& src_port_type,
                                            CDB_OPER_PORT_TYPE& src_oper_port, KAVU_BUS_INFO& info, bool bypass,
                                            bool apply, KAVU_SCLR_BYPASS_RECORD* record) {
  return search_then_apply(bypass, apply, record, [&](const SCLR_MODE& mode) {
    return bus_src(node, port_type, oper_port, src_port_type, src_oper_port, info, mode);
  });
}

CDB_SGATE_NODE* kavu_get_bus_dst_sclr_aware(CDB_SGATE_NODE* node, DB_OUTPUT_PORT_TYPE port_type,
                                            CDB_OPER_PORT_TYPE oper_port, DB_INPUT_PORT_TYPE& dst_port_type,
                                            CDB_OPER_PORT_TYPE& dst_oper_port, KAVU_BUS_INFO& info, bool bypass,
                                            bool apply, KAVU_SCLR_BYPASS_RECORD* record) {
  return search_then_apply(bypass, apply, record, [&](const SCLR_MODE& mode) {
    return bus_dst(node, port_type, oper_port, dst_port_type, dst_oper_port, info, mode);
  });
}

bool kavu_bus_to_pipeline_only_sclr_aware(CDB_SGATE_NODE* node, DB_OUTPUT_PORT_TYPE port_type,
                                          CDB_OPER_PORT_TYPE oper_port, std::vector<CDB_SGATE_OTERM*>* regs,
                                          OPT_SECONDARY_SIGNALS* secondaries, bool bypass,
                                          KAVU_SCLR_BYPASS_RECORD* record) {
  return search_then_apply(bypass, true, record, [&](const SCLR_MODE& mode) {
    return pipeline_only(node, port_type, oper_port, regs, secondaries, mode);
  });
}
