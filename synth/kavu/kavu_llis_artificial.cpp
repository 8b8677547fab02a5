// kavu_llis_artificial.cpp — artificial FIBs (name buffers) and the new-node
// bookkeeping of incremental synthesis.
//
// Insertion (kavu_llis_insert_artificial_fibs), one recipe:
//   1. offer (source terminal, input terminal) pairs: a first pass over the
//      examined gates offers the device-atom sources, a second pass the
//      sources that are not anchor points; each offer names the real source,
//      found by walking back through pass-through gates;
//   2. keep one input terminal per source terminal (destination choice): the
//      one whose gate is a RAM block, MAC multiplier, component or LUT-RAM,
//      else the lower kind, else the lower debug id;
//   3. put a name buffer on every recorded source terminal.
// Pass-through gates: name keepers, buffers, carry-sum cells and OR gates
// whose inputs all read one terminal with one inversion; each passes one
// input to one output (a carry-sum cell passes input i to output i), up to
// inversion. Name buffers are never passed through: they end every walk.
// A name buffer behind a FIB-kind source takes over every fan-out of the
// source. Behind any other source it takes over only the FIB-kind sinks
// reached through pass-through gates, each with the inversion of its path
// folded into its own flag; the pass-through gates keep reading the source.
// A source with no such sink gets no buffer. Either way every sink reads
// the same value as before.
//
// Removal bypasses the wire LUTs that mapping made of name buffers.
//
// New nodes: gates with ids above the previous compile's, the region between
// the design's I/O and the first FIB-kind gates, and the gates on the far
// side of I/O buffers next to those registers.
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "cdb/cdb_sgate_hierarchy.h"
#include "cdb/cdb_sgate_wysiwyg.h"
#include "cfg/cfg.h"
#include "cut/cut.h"
#include "gen/gen.h"
#include "hdb/hdb.h"
#include "kavu_check.h"
#include "kavu_helper_predicates.h"
#include "kavu_llis.h"
#include "kavu_llis_artificial.h"
#include "kavu_msg.h"
#include "kavu_name.h"
#include "kavu_td_critical.h"
#include "kavu_load_time_int.h"
#include "ztl_hash_sys.h"

namespace {

bool is_wysiwyg_ff(CDB_SGATE_NODE* node) { return node->is_wysiwyg() && node->cast_to_wysiwyg()->is_ff(); }

bool is_register(CDB_SGATE_NODE* node) {
  return node->get_sgate_type() == CDB_SGATE_DFF_ENUM || is_wysiwyg_ff(node);
}

bool is_comb_of_type(CDB_SGATE_NODE* node, CDB_COMB_TYPE type) {
  return node->get_sgate_type() == CDB_SGATE_COMB_ENUM && node->cast_to_comb()->get_comb_type() == type;
}

bool is_buffer_of_type(CDB_SGATE_NODE* node, CDB_BUFFER_TYPE type) {
  return node->get_sgate_type() == CDB_SGATE_BUFFER_ENUM && node->cast_to_buffer()->get_buffer_type() == type;
}

bool has_vcc_input(const CDB_SGATE_NODE* node) {
  for (const CDB_SGATE_ITERM* t : node->get_input_terms())
    if (t && t->is_connected() && t->is_vcc()) return true;
  return false;
}

// Gates the walks look through (name buffers excepted, see the file header).
bool is_pass_through(CDB_SGATE_NODE* node) {
  switch (node->get_sgate_type()) {
    case CDB_SGATE_BUFFER_ENUM:
      return !kavu_is_llis_name_buffer(node);
    case CDB_SGATE_CARRY_SUM_ENUM:
      return true;
    case CDB_SGATE_COMB_ENUM:
      switch (node->cast_to_comb()->get_comb_type()) {
        case CDB_COMB_NAME_KEEPER:
          return true;
        case CDB_COMB_OR:
          return node->get_fanin_node_count() == 1 && !has_vcc_input(node) &&
                 kavu_has_single_distinct_oterm_source(node);
        default:
          return false;
      }
    default:
      return false;
  }
}

int position_of(const CDB_SGATE_NODE::OTERM_VECTOR& terms, const CDB_SGATE_OTERM* t) {
  for (unsigned i = 0; i < terms.size(); ++i)
    if (terms[i] == t) return int(i);
  return -1;
}

int position_of(const CDB_SGATE_NODE::ITERM_VECTOR& terms, const CDB_SGATE_ITERM* t) {
  for (unsigned i = 0; i < terms.size(); ++i)
    if (terms[i] == t) return int(i);
  return -1;
}

// The driven input a pass-through gate passes to `out`, null when none.
CDB_SGATE_ITERM* passed_input(CDB_SGATE_NODE* node, const CDB_SGATE_OTERM* out) {
  if (node->get_sgate_type() == CDB_SGATE_CARRY_SUM_ENUM) {
    const int i = position_of(node->get_output_terms(), out);
    CDB_SGATE_ITERM* t = i < 0 || unsigned(i) >= node->get_number_of_input_terms() ? nullptr : node->get_input_term(i);
    return t && t->get_source() ? t : nullptr;
  }
  for (CDB_SGATE_ITERM* t : node->get_input_terms())
    if (t && t->get_source()) return t;
  return nullptr;
}

// The output through which a pass-through gate passes `in` on.
CDB_SGATE_OTERM* passing_output(CDB_SGATE_NODE* node, const CDB_SGATE_ITERM* in) {
  if (node->get_sgate_type() == CDB_SGATE_CARRY_SUM_ENUM) {
    const int i = position_of(node->get_input_terms(), in);
    return i < 0 || unsigned(i) >= node->get_output_count() ? nullptr : node->get_output_term(i);
  }
  return node->get_single_oterm();
}

unsigned fanout_count(const CDB_SGATE_NODE* node) {
  unsigned n = 0;
  for (const CDB_SGATE_OTERM* o : node->get_output_terms())
    if (o) n += o->get_number_of_fanout();
  return n;
}

HDB_INSTANCE_NAME* gate_name(CDB_SGATE_NODE* node) {
  if (HDB_INSTANCE_NAME* n = node->get_instance_name()) return n;
  CDB_SGATE_OTERM* o = node->get_single_oterm();
  return o ? o->get_instance_name() : nullptr;
}

// The name a gate is recorded under, without the name-lookup internal error.
std::string fib_name_of(CDB_SGATE_NODE* node) {
  HDB_INSTANCE_NAME* n = gate_name(node);
  return n ? kavu_llis_fib_name(n) : node->get_string_hpath();
}

// Whether the gate's recorded name (its FIB-name path) holds "~llis". Reads
// the levels of the path in place, so the scan over every LUT allocates
// nothing for named gates: a level holds it, or a synthesized level that is
// not the path's first (so "~" joins it) starts with "llis".
bool has_llis_name(CDB_SGATE_NODE* node) {
  const HDB_INSTANCE_NAME* n = gate_name(node);
  if (!n) return node->get_string_hpath().find("~llis") != std::string::npos;
  for (;;) {
    const HDB_INSTANCE_NAME* parent = n->get_parent();
    const bool first = !parent || parent->get_flags().test_flag(HDB_INSTANCE_NAME_FLAG::HIERARCHY_ROOT);
    const char* partial = n->get_partial_name();
    if (std::strstr(partial, "~llis") || (!first && n->is_synthesized() && std::strncmp(partial, "llis", 4) == 0))
      return true;
    if (first) return false;
    n = parent;
  }
}

// The extension of a name buffer's name: the port extension followed by
// "llis". A name buffer is recognised by "~llis" in its name; the synthesized
// level joins "llis" with "~" only when it starts the level, so after a port
// extension the "~" is written out ("<dest>~I0_L0~llis"); with none the name
// is "<source>~llis".
std::string name_buffer_extension(const std::string& ext) { return ext.empty() ? "llis" : ext + "~llis"; }

std::string oterm_text(CDB_SGATE_OTERM* o) { return o ? kavu_llis_get_string_hpath(o) : std::string("(none)"); }

// RAM-block inputs whose buffers are named after the RAM's logical name.
bool is_ram_naming_port(unsigned port) {
  switch (port) {
    case 34: case 90: case 102: case 46: case 91: case 103: case 8: case 41: case 42: case 43: case 44:
      return true;
    default:
      return false;
  }
}

bool is_preferred_destination(CDB_SGATE_TYPE kind) {
  return kind == CDB_SGATE_WYSIWYG_RAM_BLOCK_ENUM || kind == CDB_SGATE_WYSIWYG_MAC_MULT_ENUM ||
         kind == CDB_SGATE_COMPONENT_ENUM || kind == CDB_SGATE_WYSIWYG_LUTRAM_ENUM;
}

// Whether the offered destination replaces the held one.
bool replaces(CDB_SGATE_ITERM* held, CDB_SGATE_ITERM* offered) {
  CDB_SGATE_NODE* h = held->get_my_node();
  CDB_SGATE_NODE* o = offered->get_my_node();
  const bool hp = is_preferred_destination(h->get_sgate_type());
  const bool op = is_preferred_destination(o->get_sgate_type());
  if (hp != op) return op;
  if (h->get_sgate_type() != o->get_sgate_type()) return o->get_sgate_type() < h->get_sgate_type();
  return o->get_id() < h->get_id();
}

struct REAL_SOURCE {
  CDB_SGATE_NODE* m_node;
  CDB_SGATE_OTERM* m_oterm;   // the real source's output the walk arrived at
  bool m_multi_fanout;        // some walked terminal has two or more fan-outs
};

class ARTIFICIAL_FIB_INSERTER {
 public:
  explicit ARTIFICIAL_FIB_INSERTER(CDB_SGATE_NETLIST* netlist)
      : m_netlist(netlist), m_walked(netlist->get_flag_manager().create_flag("llis_walked")) {}
  ~ARTIFICIAL_FIB_INSERTER() { m_netlist->get_flag_manager().destroy_flag(m_walked); }
  ARTIFICIAL_FIB_INSERTER(const ARTIFICIAL_FIB_INSERTER&) = delete;
  ARTIFICIAL_FIB_INSERTER& operator=(const ARTIFICIAL_FIB_INSERTER&) = delete;

  int run() {
    offer_atom_sources();
    offer_unnamed_sources();
    const CDB_BUFFER_TYPE type =
        cfg_is_on("llis_soft_lcell_artificial_fib", false) ? CDB_BUFFER_SOFT_LCELL : CDB_BUFFER_LCELL;
    int inserted = 0;
    for (CDB_SGATE_OTERM* src : m_recorded) {
      if (kavu_is_llis_name_buffer(src->get_my_node())) continue;
      if (create_name_buffer(src, m_chosen[src], type)) ++inserted;
    }
    return inserted;
  }

 private:
  static bool is_examined(CDB_SGATE_NODE* node);
  REAL_SOURCE find_real_source(CDB_SGATE_OTERM* start);
  void offer(CDB_SGATE_OTERM* src, CDB_SGATE_ITERM* iterm);
  void offer_atom_sources();
  void offer_unnamed_sources();
  bool collect_fib_sinks(CDB_SGATE_OTERM* src);
  bool create_name_buffer(CDB_SGATE_OTERM* src, CDB_SGATE_ITERM* dest, CDB_BUFFER_TYPE type);
  HDB_INSTANCE_NAME* buffer_base_name(CDB_SGATE_OTERM* src, CDB_SGATE_ITERM* dest, std::string* ext);
  void clear_walked() {
    for (CDB_SGATE_OTERM* o : m_walk) o->reset_dyn_flag(m_walked);
    m_walk.clear();
  }

  CDB_SGATE_NETLIST* m_netlist;
  GEN_DYN_FLAG m_walked;
  std::vector<CDB_SGATE_OTERM*> m_walk;  // terminals marked by the current walk
  std::vector<CDB_SGATE_OTERM*> m_recorded;  // source terminals in order of first offer
  std::unordered_map<CDB_SGATE_OTERM*, CDB_SGATE_ITERM*> m_chosen;
  std::deque<std::pair<CDB_SGATE_OTERM*, bool>> m_queue;
  std::vector<std::pair<CDB_SGATE_ITERM*, bool>> m_sinks;
  KAVU_UNIQUE_SYNTH_NAMES_UTIL m_names;
};

// Blocks are examined in any case; other gates when they can be FIBs and are
// neither single-input single-output gates nor pass-through kinds.
bool ARTIFICIAL_FIB_INSERTER::is_examined(CDB_SGATE_NODE* node) {
  switch (node->get_sgate_type()) {
    case CDB_SGATE_WYSIWYG_MAC_MULT_ENUM:
    case CDB_SGATE_WYSIWYG_RAM_BLOCK_ENUM:
    case CDB_SGATE_COMPONENT_ENUM:
    case CDB_SGATE_WYSIWYG_DDIO_OUT_ENUM:
      return true;
    case CDB_SGATE_BUFFER_ENUM:
    case CDB_SGATE_CARRY_SUM_ENUM:
      return false;
    default:
      break;
  }
  if (!kavu_is_a_nice_sgate(node) || is_comb_of_type(node, CDB_COMB_NAME_KEEPER)) return false;
  return !(node->get_number_of_fanin() == 1 && fanout_count(node) == 1);
}

REAL_SOURCE ARTIFICIAL_FIB_INSERTER::find_real_source(CDB_SGATE_OTERM* start) {
  if (!start) KAVU_INTERNAL_ERROR("src_oterm");
  REAL_SOURCE rs{start->get_my_node(), start, false};
  for (CDB_SGATE_OTERM* o = start;;) {
    o->set_dyn_flag(m_walked);
    m_walk.push_back(o);
    if (o->get_number_of_fanout() >= 2) rs.m_multi_fanout = true;
    CDB_SGATE_NODE* node = o->get_my_node();
    rs.m_node = node;
    rs.m_oterm = o;
    if (!is_pass_through(node)) break;
    CDB_SGATE_ITERM* in = passed_input(node, o);
    if (!in) break;
    CDB_SGATE_OTERM* next = in->get_source();
    if (next->test_dyn_flag(m_walked)) {
      kavu_debug("COMB_LOOP: %s / %s", oterm_text(next).c_str(), next->get_my_node()->get_string_type_name());
      break;
    }
    o = next;
  }
  clear_walked();
  return rs;
}

void ARTIFICIAL_FIB_INSERTER::offer(CDB_SGATE_OTERM* src, CDB_SGATE_ITERM* iterm) {
  auto [it, fresh] = m_chosen.emplace(src, iterm);
  if (fresh) m_recorded.push_back(src);
  else if (replaces(it->second, iterm)) it->second = iterm;
}

// First pass: device-atom sources of the examined gates. A source that
// cannot be a FIB feeding a non-clock input of a register forbids pruning
// that register: its name would not survive the register's removal.
void ARTIFICIAL_FIB_INSERTER::offer_atom_sources() {
  for (CDB_SGATE_NODE* node : m_netlist->get_node_list()) {
    if (!node || !is_examined(node)) continue;
    for (CDB_SGATE_ITERM* t : node->get_input_terms()) {
      if (!t || !t->get_source()) continue;
      const REAL_SOURCE rs = find_real_source(t->get_source());
      CDB_SGATE_NODE* src = rs.m_node;
      if (src->get_sgate_type() == CDB_SGATE_IO_ENUM || is_buffer_of_type(src, CDB_BUFFER_LCELL) ||
          kavu_is_sgate_periphery_block(src))
        continue;
      if (!kavu_is_a_nice_sgate(src) && is_register(node) && !kavu_iterm_is_clock(t, node)) {
        if (node->get_sgate_type() == CDB_SGATE_DFF_ENUM) node->cast_to_dff()->set_prune_allowed(false);
        else node->cast_to_wysiwyg()->set_prune_allowed(false);
      }
      if (src->is_wysiwyg()) offer(rs.m_oterm, t);
    }
  }
}

// Second pass over the same gates: sources without a name of their own (not
// anchor points). Behind a net with several fan-outs only the named ports of
// RAM blocks count. The examined set keeps buffers out, so a name buffer is
// never itself a destination and a second run adds nothing.
void ARTIFICIAL_FIB_INSERTER::offer_unnamed_sources() {
  for (CDB_SGATE_NODE* node : m_netlist->get_node_list()) {
    if (!node || !is_examined(node)) continue;
    const CDB_SGATE_TYPE kind = node->get_sgate_type();
    for (CDB_SGATE_ITERM* t : node->get_input_terms()) {
      if (!t || !t->get_source() || kavu_iterm_is_clock(t, node)) continue;
      const REAL_SOURCE rs = find_real_source(t->get_source());
      CDB_SGATE_NODE* src = rs.m_node;
      if (kavu_is_anchor_point(src) || is_buffer_of_type(src, CDB_BUFFER_LCELL)) continue;
      if (kind == CDB_SGATE_WYSIWYG_DDIO_OUT_ENUM && !kavu_is_a_nice_sgate(src)) continue;
      if (kind == CDB_SGATE_WYSIWYG_MAC_MULT_ENUM && src->get_sgate_type() == CDB_SGATE_WYSIWYG_MAC_MULT_ENUM) continue;
      if (rs.m_multi_fanout && !(kind == CDB_SGATE_WYSIWYG_RAM_BLOCK_ENUM && is_ram_naming_port(t->get_port_type())))
        continue;
      offer(rs.m_oterm, t);
    }
  }
}

// Breadth-first from the source through pass-through gates; fills m_sinks
// with the FIB-kind sinks and the inversion of the path to each.
bool ARTIFICIAL_FIB_INSERTER::collect_fib_sinks(CDB_SGATE_OTERM* src) {
  m_sinks.clear();
  m_queue.clear();
  m_queue.emplace_back(src, false);
  src->set_dyn_flag(m_walked);
  m_walk.push_back(src);
  while (!m_queue.empty()) {
    const auto [o, inv] = m_queue.front();
    m_queue.pop_front();
    for (CDB_SGATE_ITERM* t : o->fanouts()) {
      const bool t_inv = t->is_inverted() != inv;
      CDB_SGATE_NODE* g = t->get_my_node();
      if (is_pass_through(g)) {
        CDB_SGATE_OTERM* next = passing_output(g, t);
        if (!next || next->test_dyn_flag(m_walked)) continue;
        next->set_dyn_flag(m_walked);
        m_walk.push_back(next);
        m_queue.emplace_back(next, t_inv != next->is_inverted());
      } else if (kavu_is_a_nice_sgate(g)) {
        m_sinks.emplace_back(t, t_inv);
      }
    }
  }
  clear_walked();
  return !m_sinks.empty();
}

// Every recorded source keeps the input terminal it was offered with, so the
// name always comes from the source (when it cannot be a FIB) or from the
// chosen destination.
HDB_INSTANCE_NAME* ARTIFICIAL_FIB_INSERTER::buffer_base_name(CDB_SGATE_OTERM* src, CDB_SGATE_ITERM* dest,
                                                             std::string* ext) {
  ext->clear();
  CDB_SGATE_NODE* src_node = src->get_my_node();
  if (!kavu_is_a_nice_sgate(src_node))
    return src->get_instance_name() ? src->get_instance_name() : src_node->get_instance_name();
  CDB_SGATE_NODE* d = dest->get_my_node();
  const unsigned port = dest->get_port_type();
  if (d->get_sgate_type() == CDB_SGATE_WYSIWYG_RAM_BLOCK_ENUM && is_ram_naming_port(port)) {
    *ext = DBS_TRANSLATOR::get_debug_string_name(DB_INPUT_PORT_TYPE(port));
    CDB_SGATE_WYSIWYG_RAM_BLOCK* ram = d->cast_to_wysiwyg_ram_block();
    return ram ? ram->get_logical_name(0) : nullptr;
  }
  char text[64];
  if (port == DB_MAX_INPUT_PORT_TYPE)
    std::snprintf(text, sizeof text, "I%u_L%u", dest->get_port_index(), dest->get_literal_index());
  else
    std::snprintf(text, sizeof text, "%s[%u]", DBS_TRANSLATOR::get_debug_string_name(DB_INPUT_PORT_TYPE(port)).c_str(),
                  dest->get_literal_index());
  *ext = text;
  return gate_name(d);
}

bool ARTIFICIAL_FIB_INSERTER::create_name_buffer(CDB_SGATE_OTERM* src, CDB_SGATE_ITERM* dest, CDB_BUFFER_TYPE type) {
  const bool src_is_fib = kavu_is_a_nice_sgate(src->get_my_node());
  std::string ext;
  HDB_INSTANCE_NAME* base = buffer_base_name(src, dest, &ext);
  if (!base) KAVU_INTERNAL_ERROR("iname");
  // A source that cannot be a FIB whose only sinks cannot be FIBs either
  // (a DDIO output register behind a device atom) has nothing to name.
  if (!src_is_fib && !collect_fib_sinks(src)) {
    kavu_debug("No FIB sink behind %s; no name buffer", oterm_text(src).c_str());
    return false;
  }

  CDB_SGATE_BUFFER* buffer = new CDB_SGATE_BUFFER(base, type, true);
  CDB_SGATE_ITERM* in = new CDB_SGATE_ITERM(buffer);
  buffer->set_input_term(in, 0);
  m_netlist->add_node(buffer);
  CDB_SGATE_OTERM* out = buffer->get_single_oterm();
  if (src_is_fib) {
    out->adopt_fanouts(src, false);
  } else {
    for (const auto& [t, inv] : m_sinks) {
      t->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_UNCONNECTED);
      out->insert_fanout(t);
      if (inv) t->set_invert();
      else t->clear_invert();
    }
  }
  src->insert_fanout(in);
  if (!cdb_is_connected(in)) KAVU_INTERNAL_ERROR("cdb_is_connected(new_iterm)");
  if (!cdb_is_connected(buffer->get_single_iterm())) KAVU_INTERNAL_ERROR("cdb_is_connected(new_sgate->get_single_iterm())");

  HDB_INSTANCE_NAME* name = m_names.create_unique_synthesized_name(base, name_buffer_extension(ext).c_str());
  buffer->set_instance_name(name);
  out->set_instance_name(name);
  return true;
}

// ---------------------------------------------------------------- relevant region

// Gates that end a relevant-region walk: FIB kinds other than buffers,
// carry-sum cells and name keepers.
bool ends_region(CDB_SGATE_NODE* node) {
  if (!kavu_is_a_nice_sgate(node)) return false;
  return !(node->get_sgate_type() == CDB_SGATE_BUFFER_ENUM || node->get_sgate_type() == CDB_SGATE_CARRY_SUM_ENUM ||
           is_comb_of_type(node, CDB_COMB_NAME_KEEPER));
}

class RELEVANT_REGION {
 public:
  RELEVANT_REGION(CDB_SGATE_NETLIST* netlist, const std::set<uint32_t>& old_ids)
      : m_netlist(netlist), m_old_ids(old_ids) {}

  // The source walk (backwards from outputs) and then the destination walk
  // (forwards from inputs), into one id set.
  const std::unordered_set<uint32_t>& collect() {
    m_exclude_old_tristate = cfg_is_on("llis_exclude_tristate_buffer_from_relevant_src_nodes", true);
    m_debug = cfg_is_on("llis_debug_msg", false);
    walk(false);
    walk(true);
    return m_ids;
  }

 private:
  static bool starts_walk(CDB_SGATE_NODE* node, bool forwards) {
    if (node->get_sgate_type() == CDB_SGATE_TRI_BUS_ENUM) return true;
    if (node->get_sgate_type() != CDB_SGATE_IO_ENUM) return false;
    const CDB_IO_TYPE io = node->cast_to_io()->get_io_type();
    return io == CDB_IO_BIDIR || io == (forwards ? CDB_IO_INPUT : CDB_IO_OUTPUT);
  }

  bool enters(CDB_SGATE_NODE* node, bool forwards) const {
    if (ends_region(node)) return false;
    return !(!forwards && m_exclude_old_tristate && node->get_sgate_type() == CDB_SGATE_IO_BUF_ENUM &&
             node->cast_to_io_buf()->get_io_buf_type() == CDB_IO_BUF_TRI && m_old_ids.count(node->get_id()));
  }

  void record(CDB_SGATE_NODE* node, bool forwards) {
    m_ids.insert(node->get_id());
    if (m_debug)
      kavu_debug(forwards ? "l_add_relevant_dest_nodes node = %s %s %s" : "l_add_relevant_src_nodes node = %s %s %s",
                 node->get_debug_name().c_str(), fib_name_of(node).c_str(), node->get_string_type_name());
  }

  void visit(CDB_SGATE_NODE* next, bool forwards) {
    if (m_ids.count(next->get_id()) || !enters(next, forwards)) return;
    record(next, forwards);
    m_stack.push_back(next);
  }

  void walk(bool forwards) {
    for (CDB_SGATE_NODE* node : m_netlist->get_node_list()) {
      if (!node || !starts_walk(node, forwards) || !enters(node, forwards)) continue;
      if (!m_ids.count(node->get_id())) record(node, forwards);
      m_stack.push_back(node);
      while (!m_stack.empty()) {
        CDB_SGATE_NODE* g = m_stack.back();
        m_stack.pop_back();
        if (forwards) {
          for (CDB_SGATE_OTERM* o : g->get_output_terms())
            if (o)
              for (CDB_SGATE_ITERM* t : o->fanouts()) visit(t->get_my_node(), true);
        } else {
          for (CDB_SGATE_ITERM* t : g->get_input_terms())
            if (t && t->get_source()) visit(t->get_source()->get_my_node(), false);
        }
      }
    }
  }

  CDB_SGATE_NETLIST* m_netlist;
  const std::set<uint32_t>& m_old_ids;
  std::unordered_set<uint32_t> m_ids;
  std::vector<CDB_SGATE_NODE*> m_stack;
  bool m_exclude_old_tristate = true;
  bool m_debug = false;
};

// The I/O buffers on the non-clock inputs and outputs of a register, and the
// gates on their far side.
void add_io_buffer_neighbours(CDB_SGATE_NODE* reg, std::unordered_set<uint32_t>& ids) {
  for (CDB_SGATE_ITERM* t : reg->get_input_terms()) {
    if (!t || !t->get_source() || kavu_iterm_is_clock(t, reg)) continue;
    CDB_SGATE_NODE* buf = t->get_source()->get_my_node();
    if (buf->get_sgate_type() != CDB_SGATE_IO_BUF_ENUM) continue;
    ids.insert(buf->get_id());
    CDB_SGATE_ITERM* in = buf->get_single_iterm();
    if (in && in->get_source()) ids.insert(in->get_source()->get_my_node()->get_id());
  }
  for (CDB_SGATE_OTERM* o : reg->get_output_terms()) {
    if (!o) continue;
    for (CDB_SGATE_ITERM* t : o->fanouts()) {
      CDB_SGATE_NODE* buf = t->get_my_node();
      if (kavu_iterm_is_clock(t, buf) || buf->get_sgate_type() != CDB_SGATE_IO_BUF_ENUM) continue;
      ids.insert(buf->get_id());
      CDB_SGATE_OTERM* first = buf->get_output_count() ? buf->get_output_term(0) : nullptr;
      if (first && first->get_first_fanout()) ids.insert(first->get_first_fanout()->get_my_node()->get_id());
    }
  }
}

}  // namespace

int kavu_llis_insert_artificial_fibs(CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist);
  if (!cfg_is_on("llis_insert_artificial_fibs", false)) return 0;
  GEN_PROFILER profiler("KAVU", "insert_artificial_fibs");
  ARTIFICIAL_FIB_INSERTER inserter(netlist);
  const int inserted = inserter.run();
  kavu_debug("Done inserting %d name buffers as FIBs", inserted);
  return inserted;
}

namespace {
constinit KAVU_KEY_ONCE g_keep_dont_touch{"llis_hack_dont_remove_dont_touch_before_atom_builder", false};
}  // namespace

int kavu_llis_remove_artificial_fibs(CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist);
  GEN_PROFILER profiler("KAVU", "removing_fibs");
  const bool keep_dont_touch = g_keep_dont_touch();
  std::vector<CDB_SGATE_NODE*> selected;
  for (CDB_SGATE_NODE* node : netlist->get_node_list()) {
    if (!node || node->get_sgate_type() != CDB_SGATE_LUT_ENUM) continue;
    if (!keep_dont_touch)
      node->set_flag_byte(CDB_KIND_BYTE, uint8_t(node->get_flag_byte(CDB_KIND_BYTE) & ~CDB_LUT_DONT_TOUCH));
    if (has_llis_name(node)) selected.push_back(node);
  }
  for (CDB_SGATE_NODE* lut : selected) {
    CDB_SGATE_OTERM* driver = nullptr;
    bool inverting = false;
    if (!kavu_is_a_wire_lut(lut, &driver, false)) {
      inverting = kavu_is_a_wire_lut(lut, &driver, true);
      if (!inverting) {
        kavu_debug("Not a wire LUT, kept: %s", fib_name_of(lut).c_str());
        continue;
      }
    }
    CDB_SGATE_ITERM* in = nullptr;
    for (CDB_SGATE_ITERM* t : lut->get_input_terms())
      if (t && cdb_is_connected(t)) {
        in = t;
        break;
      }
    CDB_SGATE_OTERM* out = lut->get_output_term(0);
    if (!in || in->get_source() != driver || driver == out) {
      kavu_debug("src_iterm->get_source() != src_oterm!!, src_iterm = %s, src_oterm = %s, sgate = %s",
                 oterm_text(in ? in->get_source() : nullptr).c_str(), oterm_text(driver).c_str(),
                 fib_name_of(lut).c_str());
      continue;
    }
    const bool in_inverted = in->is_inverted();
    in->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_UNCONNECTED);
    driver->adopt_fanouts(out, (inverting != out->is_inverted()) != in_inverted);
  }
  kavu_debug("Removed %d wire lut FIBs", int(selected.size()));
  return int(selected.size());
}

std::vector<CDB_SGATE_NODE*>* KAVU_FIB_INFO::get_new_nodes(CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist);
  RELEVANT_REGION region(netlist, m_old_lutmapped_node_ids);
  const std::unordered_set<uint32_t>& relevant = region.collect();
  std::unordered_set<uint32_t> io_neighbours;
  for (CDB_SGATE_NODE* node : netlist->get_node_list()) {
    if (!node || !is_register(node)) continue;
    if (m_old_lutmapped_node_ids.count(node->get_id()) && !relevant.count(node->get_id())) continue;
    add_io_buffer_neighbours(node, io_neighbours);
  }
  auto* result = new std::vector<CDB_SGATE_NODE*>();
  for (CDB_SGATE_NODE* node : netlist->get_node_list()) {
    if (!node) continue;
    const uint32_t id = node->get_id();
    if (!m_old_lutmapped_node_ids.count(id) || relevant.count(id) || io_neighbours.count(id)) result->push_back(node);
  }
  kavu_debug("Number of new nodes to synthesize: %d", int(result->size()));
  kavu_debug("tribus_node_ids size: %d", int(relevant.size()));
  return result;
}

void kavu_llis_dump_new_node_statistics(const KAVU_FIB_INFO* partition_record, CDB_SGATE_HIERARCHY* hier,
                                        CDB_SGATE_NETLIST* netlist) {
  if (!hier) KAVU_INTERNAL_ERROR("hier");
  KAVU_CHECK(netlist);
  if (!partition_record) return;
  kavu_debug("After lutmapping, dumping llis stats");
  const std::set<uint32_t>& old_ids = partition_record->m_old_lutmapped_node_ids;
  // Listed in the table's own order (bucket by text hash, then chain), which
  // depends on the type names only, so the dump reads the same every run.
  ZTL_HASH<std::string, int> by_type(61);
  for (CDB_SGATE_NODE* node : netlist->get_node_list())
    if (node && !old_ids.count(node->get_id())) ++by_type[node->get_string_type_name()];
  kavu_debug("After lutmapping, the new things are");
  for (const auto& entry : by_type)
    kavu_debug("AFTER_SWEEP_NEW_THINGS: %-20s : %d", entry.first.c_str(), entry.second);
}
