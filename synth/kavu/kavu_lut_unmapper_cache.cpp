// kavu_lut_unmapper_cache.cpp — the unmap cache: for every swept LUT mask
// unmapped once, the cone its form built, described by input position and
// creation order, so a later LUT with the same mask gets a fresh copy wired
// to its own inputs.
//
// Key: (input count, mask value, form), compared lexicographically. The
// count matters: a 2-input 0x8 (x0 AND x1) and a 3-input 0x08 (x0 AND x1
// AND NOT x2) have equal 64-bit values and different functions.
// Records: node 0 is the constant, nodes 1..s the LUT's inputs in order
// (after the sweep they are distinct, driven and not inverted), then one
// record per new gate; fan-ins refer to records by index with an inversion.
// Cost: insert O(gates x fan-ins x (s + gates)); re-instantiation linear.
#include <algorithm>
#include <map>

#include "cfg/cfg.h"
#include "kavu_check.h"
#include "kavu_helper_predicates.h"
#include "kavu_lut_unmapper_int.h"
#include "kavu_msg.h"
#include "kavu_name.h"
#include "kavu_utility.h"

namespace {

const char* k_rule = "--------------------------------";

// The driven inputs of a LUT, in order.
void driven_support(const CDB_SGATE_LUT* lut, std::vector<CDB_SGATE_OTERM*>* support) {
  support->clear();
  for (unsigned i = 0; i < lut->get_number_of_input_terms(); ++i) {
    const CDB_SGATE_ITERM* t = lut->get_input_term(i);
    if (t == nullptr || !cdb_is_connected(t) || t->get_source() == nullptr) continue;
    support->push_back(t->get_source());
  }
}

KAVU_CACHE_NODE_TYPE classify(const CDB_SGATE_NODE* gate) {
  if (kavu_is_a_lut(gate)) return KAVU_NODE_LUT;
  if (kavu_is_a_mux(gate)) return KAVU_NODE_21MUX;
  if (!kavu_is_a_comb(gate)) KAVU_INTERNAL_ERROR("kavu_is_a_comb( sgate )");
  switch (gate->cast_to_comb()->get_comb_type()) {
    case CDB_COMB_AND: return KAVU_NODE_AND;
    case CDB_COMB_OR: return KAVU_NODE_OR;
    case CDB_COMB_XOR: return KAVU_NODE_XOR;
    default:
      kavu_debug("Node %s %s had unexpected comb type", gate->get_string_type_name(), gate->get_debug_name().c_str());
      KAVU_INTERNAL_ERROR("Unexpected comb type. See debug message.");
  }
  return KAVU_NODE_INPUT;
}

}  // namespace

const char* lut_unmap_cache_node_type_name(KAVU_CACHE_NODE_TYPE type) {
  switch (type) {
    case KAVU_NODE_AND: return "AND";
    case KAVU_NODE_OR: return "OR";
    case KAVU_NODE_XOR: return "XOR";
    case KAVU_NODE_LUT: return "LUT";
    case KAVU_NODE_INPUT: return "IN";
    case KAVU_NODE_21MUX: return "MUX";
  }
  KAVU_INTERNAL_ERROR("Undefined node type encountered");
  return "";
}

LUT_UNMAP_CACHE_ENTRY::~LUT_UNMAP_CACHE_ENTRY() {
  for (LUT_UNMAP_CACHE_NODE* n : m_nodes) delete n;
}

bool LUT_UNMAP_CACHE_LESS::operator()(const LUT_UNMAP_CACHE_ENTRY* a, const LUT_UNMAP_CACHE_ENTRY* b) const {
  if (a->mask.get_num_inputs() != b->mask.get_num_inputs()) return a->mask.get_num_inputs() < b->mask.get_num_inputs();
  if (a->mask.get_value() != b->mask.get_value()) return a->mask.get_value() < b->mask.get_value();
  return a->form < b->form;
}

LUT_UNMAP_CACHE::~LUT_UNMAP_CACHE() {
  for (LUT_UNMAP_CACHE_ENTRY* e : m_entries) delete e;
}

LUT_UNMAP_CACHE_ENTRY* LUT_UNMAP_CACHE::lookup(const CDB_LUTMASK& mask, uint32_t form) const {
  LUT_UNMAP_CACHE_ENTRY probe;
  probe.mask = mask;
  probe.form = form;
  auto it = m_entries.find(&probe);
  return it == m_entries.end() ? nullptr : *it;
}

void LUT_UNMAP_CACHE::insert(CDB_SGATE_LUT* lut, const std::list<CDB_SGATE_NODE*>& new_nodes, CDB_SGATE_OTERM* head,
                             uint32_t form, bool inverted) {
  KAVU_CHECK(lut != 0 && head != 0);
  LUT_UNMAP_CACHE_ENTRY* e = new LUT_UNMAP_CACHE_ENTRY;
  e->mask = lut->get_lut_mask();
  e->form = form;
  e->inverted = inverted;
  e->hits = 1;
  if (!e->m_nodes.empty()) KAVU_INTERNAL_ERROR("m_nodes.empty()");
  std::vector<CDB_SGATE_OTERM*> support;
  for (unsigned i = 0; i < lut->get_number_of_input_terms(); ++i) {
    const CDB_SGATE_ITERM* t = lut->get_input_term(i);
    if (t == nullptr || !cdb_is_connected(t) || t->get_source() == nullptr) continue;
    if (t->is_inverted()) KAVU_INTERNAL_ERROR("!iterm->is_inverted()");
    if (kavu_in_oterm_vec(t->get_source(), support)) KAVU_INTERNAL_ERROR("!kavu_in_oterm_vec( oterm , &support_vec )");
    support.push_back(t->get_source());
  }
  const uint32_t num_support = uint32_t(support.size());
  const uint32_t start_internal = num_support + 1;
  for (uint32_t k = 0; k <= num_support; ++k) {
    LUT_UNMAP_CACHE_NODE* n = new LUT_UNMAP_CACHE_NODE;
    n->index = k;
    n->type = KAVU_NODE_INPUT;
    e->m_nodes.push_back(n);
    if (k > 0 && new_nodes.empty() && support[k - 1] == head) e->m_head_node = int32_t(k);
  }
  std::vector<CDB_SGATE_NODE*> gates(new_nodes.begin(), new_nodes.end());
  for (size_t k = 0; k < gates.size(); ++k) {
    CDB_SGATE_NODE* g = gates[k];
    if (!(g != 0 && (kavu_is_a_comb(g) || kavu_is_a_lut(g) || kavu_is_a_mux(g))))
      KAVU_INTERNAL_ERROR(
          "sgate != 0 && (kavu_is_a_comb( sgate ) || kavu_is_a_lut( sgate ) || kavu_is_a_mux( sgate ) )");
    LUT_UNMAP_CACHE_NODE* n = new LUT_UNMAP_CACHE_NODE;
    n->index = uint32_t(start_internal + k);
    n->type = classify(g);
    if (n->type == KAVU_NODE_LUT) n->mask = g->cast_to_lut()->get_lut_mask();
    if (e->m_nodes.size() != n->index) KAVU_INTERNAL_ERROR("m_nodes.size() == j");
    e->m_nodes.push_back(n);
    if (g->get_output_term(0) == head) e->m_head_node = int32_t(n->index);
  }
  if (e->m_nodes.size() != start_internal + gates.size())
    KAVU_INTERNAL_ERROR("m_nodes.size() == start_internal + num_internal");
  if (!(e->m_head_node >= 0 && e->m_head_node < (int)e->m_nodes.size()))
    KAVU_INTERNAL_ERROR("m_head_node >= 0 && m_head_node < (int)m_nodes.size()");
  for (size_t k = 0; k < gates.size(); ++k) {
    LUT_UNMAP_CACHE_NODE* n = e->m_nodes[start_internal + k];
    for (const CDB_SGATE_ITERM* t : gates[k]->get_input_terms()) {
      if (t == nullptr || !cdb_is_connected(t)) continue;
      if (t->is_vcc()) {
        n->fanins.push_back({0, false});
        continue;
      }
      if (t->is_gnd()) {
        n->fanins.push_back({0, true});
        continue;
      }
      const CDB_SGATE_OTERM* src = t->get_source();
      if (src == nullptr) KAVU_INTERNAL_ERROR("oterm != 0");
      auto s = std::find(support.begin(), support.end(), src);
      if (s != support.end()) {
        n->fanins.push_back({uint32_t(1 + (s - support.begin())), t->is_inverted()});
        continue;
      }
      auto g = std::find(gates.begin(), gates.end(), src->get_my_node());
      if (g == gates.end()) KAVU_INTERNAL_ERROR("found_internal_id >= 0 && found_internal_id < (int) sgate_list.size()");
      n->fanins.push_back({uint32_t(start_internal + (g - gates.begin())), t->is_inverted()});
    }
  }
  if (!m_entries.insert(e).second) {
    delete e;  // an equal entry exists: the caller looked up first, so this cannot happen
    KAVU_INTERNAL_ERROR("Cache entry inserted twice");
  }
}

CDB_SGATE_OTERM* LUT_UNMAP_CACHE::reinstantiate(LUT_UNMAP_CACHE_ENTRY* entry, CDB_SGATE_LUT* lut,
                                                std::list<CDB_SGATE_NODE*>* new_nodes) {
  KAVU_CHECK(entry != 0 && lut != 0 && new_nodes != 0);
  KAVU_CHECK(new_nodes->empty());
  ++entry->hits;
  std::vector<CDB_SGATE_OTERM*> support;
  driven_support(lut, &support);
  const int start_support = 1;
  int start_internal = int(entry->m_nodes.size());
  for (size_t k = 1; k < entry->m_nodes.size(); ++k)
    if (entry->m_nodes[k]->type != KAVU_NODE_INPUT) {
      start_internal = int(k);
      break;
    }
  if (!(start_internal < (int)entry->m_nodes.size() || entry->m_nodes.size() <= 2))
    KAVU_INTERNAL_ERROR("found || (m_nodes.size() <= 2)");
  // Every record of the cone reads support positions below the new LUT's
  // driven inputs; a shorter support would be a different function.
  KAVU_CHECK(support.size() + 1 == size_t(start_internal));
  std::vector<CDB_SGATE_NODE*> made;
  for (size_t k = size_t(start_internal); k < entry->m_nodes.size(); ++k) {
    const LUT_UNMAP_CACHE_NODE* rec = entry->m_nodes[k];
    CDB_SGATE_NODE* gate = nullptr;
    switch (rec->type) {
      case KAVU_NODE_AND: gate = new CDB_SGATE_COMB(nullptr, CDB_COMB_AND, true); break;
      case KAVU_NODE_OR: gate = new CDB_SGATE_COMB(nullptr, CDB_COMB_OR, true); break;
      case KAVU_NODE_XOR: gate = new CDB_SGATE_COMB(nullptr, CDB_COMB_XOR, true); break;
      case KAVU_NODE_21MUX: {
        CDB_SGATE_MUX* mux = new CDB_SGATE_MUX(nullptr);
        for (unsigned p = mux->get_first_iport(); p != mux->get_end_iport(); p = mux->get_next_iport(p))
          mux->set_input_term(new CDB_SGATE_ITERM(mux), p);
        gate = mux;
        break;
      }
      case KAVU_NODE_INPUT: KAVU_INTERNAL_ERROR("type != KAVU_NODE_INPUT"); break;
      default: KAVU_INTERNAL_ERROR("Unexpected decomposition type (1)");
    }
    if (gate == nullptr) KAVU_INTERNAL_ERROR("new_head != 0");
    kavu_create_synthesized_name(gate, static_cast<CDB_SGATE_NODE*>(lut), "cached_unmapping");
    made.push_back(gate);
  }
  auto source_of = [&](uint32_t node) -> CDB_SGATE_OTERM* {
    if (node == 0) return nullptr;
    if (int(node) < start_internal) return support[node - 1];
    KAVU_CHECK(int(node) - start_internal < (int)made.size());
    return made[node - start_internal]->get_output_term(0);
  };
  for (size_t k = 0; k < made.size(); ++k) {
    const LUT_UNMAP_CACHE_NODE* rec = entry->m_nodes[start_internal + k];
    if (!(rec->type != KAVU_NODE_21MUX || rec->fanins.size() == 3))
      KAVU_INTERNAL_ERROR("node->get_type() != KAVU_NODE_21MUX || fanin_vec->size() == 3");
    for (size_t f = 0; f < rec->fanins.size(); ++f) {
      const LUT_UNMAP_CACHE_REF& ref = rec->fanins[f];
      CDB_SGATE_OTERM* src = source_of(ref.node);
      if (rec->type == KAVU_NODE_21MUX) {
        if (!(f < 3)) KAVU_INTERNAL_ERROR("fi < 3");
        CDB_SGATE_ITERM* t = made[k]->get_input_term(unsigned(f));
        if (src != nullptr) {
          t->insert_fanin(src);
          if (ref.inverted) t->set_invert();
          else t->clear_invert();
        } else if (ref.inverted) {
          t->set_gnd();
        } else {
          t->set_vcc();
        }
      } else if (rec->type == KAVU_NODE_AND || rec->type == KAVU_NODE_OR || rec->type == KAVU_NODE_XOR) {
        made[k]->cast_to_comb()->add_unordered_fanin_from_oterm(nullptr, ref.inverted, src);
      } else {
        KAVU_INTERNAL_ERROR("Unexpected node type in cache");
      }
    }
  }
  for (CDB_SGATE_NODE* g : made) new_nodes->push_back(g);
  if (new_nodes->size() != made.size()) KAVU_INTERNAL_ERROR("nlist->size() == sgate_vec.size()");
  CDB_SGATE_OTERM* head = nullptr;
  const int h = entry->m_head_node;
  if (h < start_internal) {
    if (!(h >= start_support)) KAVU_INTERNAL_ERROR("m_head_node >= start_support");
    if (!(h - start_support < (int)support.size())) KAVU_INTERNAL_ERROR("m_head_node - start_support < (int)support_vec.size()");
    head = support[h - start_support];
  } else {
    if (!(h < (int)entry->m_nodes.size())) KAVU_INTERNAL_ERROR("m_head_node < (int)m_nodes.size()");
    if (!(h - start_internal < (int)made.size())) KAVU_INTERNAL_ERROR("m_head_node - start_internal < (int)sgate_vec.size()");
    head = made[h - start_internal]->get_output_term(0);
  }
  head->adopt_fanouts(lut->get_output_term(0), entry->inverted);
  return head;
}

// ===========================================================================
void LUT_UNMAP_CACHE::print_entry(const LUT_UNMAP_CACHE_ENTRY* e) const {
  KAVU_CHECK(e != 0);
  const bool cones = cfg_is_on("kavu_lut_unmapper_dump_cache_cones", false);
  kavu_debug("%s", k_rule);
  int support = 0, internal = 0;
  for (size_t k = 1; k < e->m_nodes.size(); ++k) (e->m_nodes[k]->type == KAVU_NODE_INPUT ? support : internal)++;
  kavu_debug("Cache result has lutmask %s, %u hits, and %d nodes in the cone (%d support, %d internal)",
             e->mask.get_string_value().c_str(), e->hits, int(e->m_nodes.size()), support, internal);
  if (cones) {
    std::string line = "Head node = " + std::to_string(e->m_head_node) + (e->inverted ? " cone is inverted" : "") + ": ";
    for (size_t k = 0; k < e->m_nodes.size(); ++k) {
      const LUT_UNMAP_CACHE_NODE* n = e->m_nodes[k];
      if (k > 0) line += ' ';
      line += std::to_string(n->index);
      line += ' ';
      line += lut_unmap_cache_node_type_name(n->type);
      if (n->type == KAVU_NODE_LUT) {
        char buf[24];
        std::snprintf(buf, sizeof(buf), " 0x%x", unsigned(n->mask.get_value() & 0xFFFFFFFFu));
        line += buf;
      }
      line += ": (";
      for (size_t f = 0; f < n->fanins.size(); ++f) {
        if (f > 0) line += ',';
        if (n->fanins[f].inverted) line += '!';
        line += std::to_string(n->fanins[f].node);
      }
      line += ')';
    }
    kavu_debug("%s", line.c_str());
  }
  kavu_debug("%s", k_rule);
}

void LUT_UNMAP_CACHE::print_stats() const {
  if (m_entries.empty()) return;
  const char* stars = "********************************";
  kavu_debug("%s", stars);
  kavu_debug("Stats for LUT unmap caching");
  kavu_debug("%s", stars);
  std::map<uint32_t, int> by_hits;
  uint64_t total = 0;
  for (const LUT_UNMAP_CACHE_ENTRY* e : m_entries) {
    ++by_hits[e->hits];
    total += e->hits;
  }
  kavu_debug(" -- size of cache is %d, total number of hits is %d, so on average %.1f hits per LUT",
             int(m_entries.size()), int(total), double(total) / double(m_entries.size()));
  // Each line's share is of all hits: c entries with h hits each.
  uint64_t cumulative = 0;
  for (auto it = by_hits.rbegin(); it != by_hits.rend(); ++it) {
    const uint64_t c = uint64_t(it->second), h = it->first;
    cumulative += c * h;
    kavu_debug(" -- there are %d LUT masks with %d hits (%.2f percent, %.2f cumulative)", int(c), int(h),
               double(c * h) * 100.0 / double(total), double(cumulative) * 100.0 / double(total));
  }
  kavu_debug("%s", stars);
}

void LUT_UNMAP_CACHE::print_cache() const {
  const char* stars = "**********************************";
  kavu_debug("%s", stars);
  kavu_debug("        Unmap cache ");
  kavu_debug("%s", stars);
  for (const LUT_UNMAP_CACHE_ENTRY* e : m_entries) print_entry(e);
  kavu_debug("%s", stars);
}
