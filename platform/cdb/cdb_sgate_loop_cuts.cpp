// cdb_sgate_loop_cuts.cpp — removal of cut buffers that cut no loop.
// Cost: one forward search per cut buffer, O(cut buffers * (V + E)) worst
// case; the searches stop at registers and latches.
#include <unordered_set>
#include <vector>

#include "cdb/cdb_sgate.h"

namespace {

bool cdb_breaks_loops(const CDB_SGATE_NODE* n) {
  CDB_SGATE_TYPE t = n->get_sgate_type();
  if (t == CDB_SGATE_DFF_ENUM || t == CDB_SGATE_LATCH_ENUM || t == CDB_SGATE_IO_ENUM) return true;
  const CDB_SGATE_WYSIWYG* w = const_cast<CDB_SGATE_NODE*>(n)->cast_to_wysiwyg();
  return w && w->is_ff();
}

// True when some combinational path leads from `buf`'s output back to `buf`.
bool cdb_on_comb_loop(CDB_SGATE_NODE* buf) {
  std::unordered_set<const CDB_SGATE_NODE*> seen;
  std::vector<CDB_SGATE_NODE*> stack{buf};
  while (!stack.empty()) {
    CDB_SGATE_NODE* n = stack.back();
    stack.pop_back();
    for (unsigned o = 0; o < n->get_output_count(); ++o) {
      CDB_SGATE_OTERM* out = n->get_output_term(o);
      if (!out) continue;
      for (CDB_SGATE_ITERM* f : out->fanouts()) {
        CDB_SGATE_NODE* r = f->get_my_node();
        if (r == buf) return true;
        if (cdb_breaks_loops(r) || !seen.insert(r).second) continue;
        stack.push_back(r);
      }
    }
  }
  return false;
}

}  // namespace

int CDB_SGATE_NETLIST::remove_redundant_loop_cuts() {
  std::vector<CDB_SGATE_NODE*> cuts;
  for (auto it = begin_node_list(); it != end_node_list(); ++it) {
    CDB_SGATE_NODE* n = *it;
    if (!n) continue;
    CDB_SGATE_BUFFER* b = n->cast_to_buffer();
    if (b && b->get_buffer_type() == CDB_BUFFER_CUT) cuts.push_back(n);
  }
  int removed = 0;
  for (CDB_SGATE_NODE* b : cuts) {
    if (cdb_on_comb_loop(b)) continue;
    CDB_SGATE_ITERM* in = b->get_input_term(0);
    CDB_SGATE_OTERM* out = b->get_output_term(0);
    PLAT_CHECK(in && out, "CDB");
    std::vector<CDB_SGATE_ITERM*> fanouts;
    out->copy_fanouts(fanouts);
    const bool out_inv = out->is_inverted();
    CDB_SGATE_OTERM* src = in->get_source_oterm();
    const bool connected = cdb_is_connected(in);
    for (CDB_SGATE_ITERM* f : fanouts) {
      const bool inv = (f->is_inverted() != in->is_inverted()) != out_inv;
      if (src) {
        src->insert_fanout(f);
        if (inv) f->set_invert(); else f->clear_invert();
      } else if (connected) {
        f->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_UNCONNECTED);
        f->set_vcc();
        if (inv) f->invert();
      } else {
        f->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_UNCONNECTED);
      }
    }
    in->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_UNCONNECTED);
    // Into the graveyard, as sweep does: destroyed at the next collection.
    unlink(b);
    b->set_graveyard(this);
    m_graveyard.push_back(b);
    ++removed;
  }
  return removed;
}
