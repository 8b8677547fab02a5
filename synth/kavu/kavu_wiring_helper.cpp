// kavu_wiring_helper.cpp — elementary edits and tests on single connections.
//
// Model: an input terminal is unconnected, tied (connected, no source; GND is
//   a VCC tie with the inversion flag set) or driven by one output terminal.
//   "Connected" is cdb_is_connected (own flag or a connected parent input).
//   The value an input sees is its source's value complemented by its
//   inversion flag. Every disconnection uses connection state 2, which keeps
//   the inversion flag, so a terminal that is reconnected carries it over.
// Constants are always written with set_vcc / set_gnd, which normalise the
//   inversion flag: a copied or moved constant therefore delivers the value
//   the old terminal delivered, whatever flag the new terminal had before.
// A terminal is never left tied and driven at once: every reconnection of a
//   terminal that may still be tied disconnects it first.
// Cost: O(1) per edit; the walks are linear in one gate's terminal lists or
//   one output's fan-out chain. Atom terminals are created only after their
//   port is known to exist, so a failed lookup leaves nothing behind.
#include "kavu_wiring_helper.h"

#include "kavu_check.h"
#include "kavu_msg.h"
#include "cdb/cdb_sgate.h"

namespace {

// Connection state used by every disconnection here: keeps the inversion flag.
constexpr CDB_SGATE_ITERM::CONNECT_STATE KEEP_FLAG = CDB_SGATE_ITERM::CONNECT_STATE_UNCONNECTED;

bool is_connected(const CDB_SGATE_ITERM* iterm) {
  return iterm != nullptr && cdb_is_connected(iterm);
}

// A null or unconnected terminal where a connected one is required; the
// error names the test the way callers know it.
#define REQUIRE_CONNECTED(iterm, text)                 \
  do {                                                 \
    if (!is_connected(iterm)) KAVU_INTERNAL_ERROR(text); \
  } while (0)

// Ties `iterm` to the constant `tied` delivers (VCC or GND).
void tie_like(const CDB_SGATE_ITERM* tied, CDB_SGATE_ITERM* iterm) {
  if (tied->is_vcc()) {
    iterm->set_vcc();
  } else {
    iterm->set_gnd();
  }
}

// Shared first steps of kavu_same_source and kavu_opposite_source: decides
// the cases where at most one terminal is connected. Returns true when it
// decided, with the answer in *answer.
bool decide_unconnected(const CDB_SGATE_ITERM* a, const CDB_SGATE_ITERM* b, bool* answer) {
  const bool a_on = is_connected(a);
  const bool b_on = is_connected(b);
  if (!a_on) {
    *answer = !b_on;
    return true;
  }
  if (!b_on) {
    *answer = false;
    return true;
  }
  return false;
}

}  // namespace

void kavu_grab_both_iterms(CDB_SGATE_NODE* sgate, CDB_SGATE_ITERM** iterm_a,
                           CDB_SGATE_ITERM** iterm_b) {
  KAVU_CHECK(sgate && iterm_a && iterm_b);
  *iterm_a = nullptr;
  *iterm_b = nullptr;
  int count = 0;
  for (CDB_SGATE_ITERM* iterm : sgate->get_input_terms()) {
    if (!is_connected(iterm)) continue;
    if (count == 0) {
      *iterm_a = iterm;
    } else if (count == 1) {
      *iterm_b = iterm;
    }
    ++count;
  }
  if (count != 2) {
    kavu_debug("Sgate was supposed to have 2 iterms.  Has %d", count);
    KAVU_INTERNAL_ERROR("bad number of iterms");
  }
}

CDB_SGATE_ITERM* kavu_get_other_gate_iterm(CDB_SGATE_ITERM* iterm) {
  KAVU_CHECK(iterm);
  CDB_SGATE_ITERM* a = nullptr;
  CDB_SGATE_ITERM* b = nullptr;
  kavu_grab_both_iterms(iterm->get_my_node(), &a, &b);
  if (a == iterm) return b;
  if (b == iterm) return a;
  KAVU_INTERNAL_ERROR("This gate is more than a little corrupt.");
}

bool kavu_same_source(const CDB_SGATE_ITERM* a, const CDB_SGATE_ITERM* b) {
  bool answer = false;
  if (decide_unconnected(a, b, &answer)) return answer;
  if ((a->is_vcc() && b->is_vcc()) || (a->is_gnd() && b->is_gnd())) return true;
  if (a->get_source() != b->get_source()) return false;
  // Both tied to different constants lands here with equal (null) sources
  // and different flags, which is correctly "not the same".
  return a->is_inverted() == b->is_inverted();
}

bool kavu_opposite_source(const CDB_SGATE_ITERM* a, const CDB_SGATE_ITERM* b) {
  bool answer = false;
  if (decide_unconnected(a, b, &answer)) return answer;
  if ((a->is_vcc() && b->is_gnd()) || (a->is_gnd() && b->is_vcc())) return true;
  if (a->get_source() != b->get_source()) return false;
  return a->is_inverted() != b->is_inverted();
}

void kavu_copy_fanin(CDB_SGATE_ITERM* old_iterm, CDB_SGATE_ITERM* new_iterm) {
  REQUIRE_CONNECTED(old_iterm, "cdb_is_connected (old_iterm)");
  KAVU_CHECK(new_iterm);
  if (old_iterm->is_vcc_or_gnd()) {
    // The new terminal must deliver the constant itself: a leftover
    // inversion flag on it would otherwise turn VCC into GND.
    tie_like(old_iterm, new_iterm);
  } else {
    new_iterm->disconnect_from_source(KEEP_FLAG);
    old_iterm->get_source()->insert_fanout(new_iterm);
    kavu_set_invert_flag(new_iterm, old_iterm->is_inverted());
  }
  if (const CDB_SGATE_ITERM_INFO* info = old_iterm->get_info()) {
    new_iterm->create_info()->copy_from(*info);
  }
}

void kavu_move_fanin(CDB_SGATE_ITERM* old_iterm, CDB_SGATE_ITERM* new_iterm) {
  REQUIRE_CONNECTED(old_iterm, "cdb_is_connected (old_iterm)");
  KAVU_CHECK(new_iterm);
  if (old_iterm->is_vcc_or_gnd()) {
    tie_like(old_iterm, new_iterm);
    return;
  }
  CDB_SGATE_OTERM* src = old_iterm->get_source();
  old_iterm->disconnect_from_source(KEEP_FLAG);
  new_iterm->disconnect_from_source(KEEP_FLAG);
  src->insert_fanout(new_iterm);
  kavu_set_invert_flag(new_iterm, old_iterm->is_inverted());
}

void kavu_swap_iterm_connections(CDB_SGATE_ITERM* a, CDB_SGATE_ITERM* b) {
  REQUIRE_CONNECTED(a, "cdb_is_connected (a)");
  REQUIRE_CONNECTED(b, "cdb_is_connected (b)");
  CDB_SGATE_OTERM* a_src = a->get_source();
  const bool a_inverted = a->is_inverted();
  kavu_move_fanin(b, a);
  // A constant b stays tied after the move; it must leave its tie before it
  // joins a's old source, or it would be tied and driven at once.
  b->disconnect_from_source(KEEP_FLAG);
  if (a_src) {
    a_src->insert_fanout(b);
  } else {
    b->set_vcc();
  }
  // On a tie the flag is the constant's polarity: a's GND reaches b as GND.
  kavu_set_invert_flag(b, a_inverted);
}

void kavu_set_iterm_source(CDB_SGATE_ITERM* iterm, CDB_SGATE_OTERM* src, bool invert) {
  KAVU_CHECK(iterm);
  KAVU_CHECK(!cdb_is_connected(iterm) || iterm->is_vcc_or_gnd());
  iterm->disconnect_from_source(KEEP_FLAG);
  if (src) {
    src->insert_fanout(iterm);
    if (iterm->is_inverted() != invert) iterm->invert();
    return;
  }
  iterm->set_vcc();
  KAVU_CHECK(!iterm->is_inverted());
  if (invert) iterm->invert();  // an inverted VCC tie delivers GND
}

void kavu_set_invert_flag(CDB_SGATE_ITERM* iterm, bool flag) {
  KAVU_CHECK(iterm);
  if (flag) {
    iterm->set_invert();
  } else {
    iterm->clear_invert();
  }
}

CDB_SGATE_ITERM* kavu_insert_comb_fanin(CDB_SGATE_COMB* comb, CDB_SGATE_OTERM* src, bool invert) {
  KAVU_CHECK(comb);
  CDB_SGATE_ITERM* iterm = nullptr;
  if (src) {
    iterm = comb->insert_unordered_fanin(src);
  } else {
    // A fresh terminal tied directly: no transient loop through the gate's
    // own output, so its fan-out is never touched.
    iterm = comb->create_input_term(nullptr);
    comb->insert_unordered_fanin_term(iterm);
    iterm->set_vcc();
  }
  KAVU_CHECK(!iterm->is_inverted());
  if (invert) iterm->invert();
  return iterm;
}

CDB_SGATE_ITERM* kavu_fetch_create_wys_iterm(DB_INPUT_PORT_TYPE port_type, CDB_SGATE_WYSIWYG* wys) {
  KAVU_CHECK(wys);
  if (CDB_SGATE_ITERM* existing = wys->get_iterm_by_type(port_type, 0)) return existing;
  const unsigned port_number = wys->get_input_port_number(port_type);
  KAVU_CHECK(port_number != CDB_ILLEGAL_PORT);
  CDB_SGATE_ITERM* iterm = wys->create_input_term(nullptr, port_type);
  wys->set_input_term(iterm, port_number);
  iterm->set_port_type(port_type);
  return iterm;
}

CDB_SGATE_OTERM* kavu_fetch_create_wys_oterm(DB_OUTPUT_PORT_TYPE port_type, CDB_SGATE_WYSIWYG* wys,
                                             bool allow_missing) {
  KAVU_CHECK(wys);
  if (CDB_SGATE_OTERM* existing = wys->get_oterm_by_type(port_type, 0)) return existing;
  const unsigned port_number = wys->get_output_port_number(port_type);
  if (port_number == CDB_ILLEGAL_PORT) {
    if (allow_missing) return nullptr;
    KAVU_INTERNAL_ERROR("Couldn't find output port");
  }
  CDB_SGATE_OTERM* oterm = wys->get_output_term(port_number);
  if (oterm) {
    // A terminal in the slot with another port type is reused only when
    // nothing reads it, so no reader silently changes port.
    KAVU_CHECK(!oterm->has_fanout());
  } else {
    oterm = wys->create_output_term(nullptr, port_type);
    wys->set_output_term(oterm, port_number);
  }
  oterm->set_port_type(port_type);
  return oterm;
}

int kavu_count_total_fanout(const CDB_SGATE_NODE* sgate) {
  KAVU_CHECK(sgate);
  unsigned total = 0;
  for (const CDB_SGATE_OTERM* oterm : sgate->get_output_terms()) {
    if (oterm) total += oterm->get_number_of_fanout();
  }
  return static_cast<int>(total);
}

bool kavu_oterm_feeds_gate(const CDB_SGATE_OTERM* oterm, const CDB_SGATE_NODE* sgate) {
  KAVU_CHECK(sgate);
  for (const CDB_SGATE_ITERM* iterm : sgate->get_input_terms()) {
    REQUIRE_CONNECTED(iterm, "cdb_is_connected (iterm)");
    if (iterm->get_source() == oterm) return true;
  }
  return false;
}

void kavu_short_thru(CDB_SGATE_ITERM* iterm, CDB_SGATE_OTERM* oterm) {
  REQUIRE_CONNECTED(iterm, "cdb_is_connected (iterm)");
  KAVU_CHECK(oterm);
  if (!oterm->has_fanout()) return;
  if (iterm->is_vcc_or_gnd()) {
    oterm->set_all_fanouts_constant(iterm->is_vcc());
    return;
  }
  CDB_SGATE_OTERM* src_oterm = iterm->get_source();
  KAVU_CHECK(!oterm->is_inverted());
  KAVU_CHECK(!src_oterm->is_inverted());
  src_oterm->adopt_fanouts(oterm, iterm->is_inverted());
}

void kavu_vdebug_iterm(const CDB_SGATE_ITERM* iterm) {
  if (!iterm) {
    kavu_debug("  NULL");
    return;
  }
  const CDB_SGATE_NODE* gate = iterm->get_my_node();
  if (gate) {
    kavu_debug("  Iterm on gate %s %s", gate->get_string_type_name(), gate->get_string_hpath().c_str());
  } else {
    kavu_debug("  Iterm on NULL gate");
  }
  if (!cdb_is_connected(iterm)) {
    kavu_debug("  NC");
  } else if (iterm->is_vcc()) {
    kavu_debug("  fed by Vcc");
  } else if (iterm->is_gnd()) {
    kavu_debug("  fed by GND");
  } else if (const CDB_SGATE_OTERM* src = iterm->get_source()) {
    const CDB_SGATE_NODE* src_gate = src->get_my_node();
    kavu_debug("  fed by %s %s %s fo=%d", src_gate->get_string_type_name(),
               src_gate->get_string_hpath().c_str(), iterm->is_inverted() ? "INV" : "POS",
               static_cast<int>(src->get_number_of_fanout()));
  } else {
    // Connected only through a parent input: no own source to name.
    kavu_debug("  NC");
  }
}

void kavu_vdebug_oterm(const CDB_SGATE_OTERM* oterm) {
  if (!oterm) {
    kavu_debug("  NULL");
    return;
  }
  const CDB_SGATE_NODE* gate = oterm->get_my_node();
  kavu_debug("  Oterm on gate %s %s %d fanout", gate->get_string_type_name(),
             gate->get_string_hpath().c_str(), static_cast<int>(oterm->get_number_of_fanout()));
  for (const CDB_SGATE_ITERM* fanout : oterm->fanouts()) kavu_vdebug_iterm(fanout);
}
