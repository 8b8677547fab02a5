// io_support.cpp — the signal-name table and the name-tree helpers shared by
// the BLIF reader and writer, the simulator and the generators.
//
// IO_NAME_TABLE: open addressing with linear probing over a power-of-two slot
//   array; a slot holds the name's 32-bit hash fingerprint and id + 1 (0
//   empty), the home slot is taken from the hash's high bits; grown to twice
//   the size at three-quarters load (the fingerprint keeps the longer probe
//   runs cheap). Names are compared only when fingerprints match.
// Cost: intern and find O(1) expected; growth O(n) amortised.
#include "cdb/cdb_sgate.h"
#include "hdb/hdb.h"
#include "netlist_io/netlist_io_int.h"

namespace kavu_platform {

void IO_NAME_TABLE::reserve(size_t n) {
  m_names.reserve(n);
  size_t want = 16;
  while (3 * want < 4 * n) want <<= 1;
  if (want <= m_slots.size()) return;
  std::vector<uint64_t> old;
  old.swap(m_slots);
  m_slots.assign(want, 0);
  m_shift = 64 - unsigned(__builtin_ctzll(want));
  size_t mask = want - 1;
  for (uint64_t v : old) {
    if (!(v & 0xffffffffu)) continue;
    size_t i = home(io_hash(m_names[(v & 0xffffffffu) - 1]));
    while (m_slots[i]) i = (i + 1) & mask;
    m_slots[i] = v;
  }
}

void IO_NAME_TABLE::grow() { reserve(m_slots.empty() ? 12 : m_slots.size() * 3 / 2); }

uint32_t IO_NAME_TABLE::find(std::string_view name) const {
  if (m_slots.empty()) return UINT32_MAX;
  size_t mask = m_slots.size() - 1;
  uint64_t h = io_hash(name), finger = h & 0xffffffff00000000ull;
  for (size_t i = home(h); m_slots[i]; i = (i + 1) & mask) {
    uint64_t v = m_slots[i];
    if ((v & 0xffffffff00000000ull) == finger && m_names[(v & 0xffffffffu) - 1] == name)
      return uint32_t(v & 0xffffffffu) - 1;
  }
  return UINT32_MAX;
}

uint32_t IO_NAME_TABLE::intern(std::string_view name, bool* added) {
  if (4 * (m_names.size() + 1) > 3 * m_slots.size()) grow();
  size_t mask = m_slots.size() - 1;
  uint64_t h = io_hash(name), finger = h & 0xffffffff00000000ull;
  size_t i = home(h);
  for (; m_slots[i]; i = (i + 1) & mask) {
    uint64_t v = m_slots[i];
    if ((v & 0xffffffff00000000ull) == finger && m_names[(v & 0xffffffffu) - 1] == name) {
      if (added) *added = false;
      return uint32_t(v & 0xffffffffu) - 1;
    }
  }
  m_names.push_back(name);
  m_slots[i] = finger | uint64_t(m_names.size());
  if (added) *added = true;
  return uint32_t(m_names.size() - 1);
}

HDB_INSTANCE_NAME* io_top_name(std::string_view model) {
  std::string text(model.empty() ? std::string_view("top") : model);
  return HDB_INSTANCE_NAME::create_normal_name(nullptr, text.c_str(), nullptr, nullptr, nullptr);
}

HDB_INSTANCE_NAME* io_signal_name(HDB_INSTANCE_NAME* top, std::string_view path) {
  std::string level;
  // A path with an empty level ("a||b", "|a", "a|") cannot be spelled as
  // levels, so it stays one level whose text is the whole path: the path
  // reads back as written and distinct paths keep distinct names.
  const bool splits = !path.empty() && path.front() != '|' && path.back() != '|' &&
                      path.find("||") == std::string_view::npos;
  if (!splits) {
    if (path.empty()) return top;
    level.assign(path);
    return HDB_INSTANCE_NAME::create_child(top, level.c_str());
  }
  HDB_INSTANCE_NAME* name = top;
  while (!path.empty()) {
    size_t bar = path.find('|');
    level.assign(path.substr(0, bar));
    path = bar == std::string_view::npos ? std::string_view() : path.substr(bar + 1);
    name = HDB_INSTANCE_NAME::create_child(name, level.c_str());
  }
  return name;
}

std::string io_signal_path(const HDB_INSTANCE_NAME* name) { return name ? name->get_short_hpath(1) : std::string(); }

std::string io_netlist_top(const CDB_SGATE_NETLIST* netlist) {
  const CDB_SGATE_HIERARCHY* h = netlist->get_hierarchy();
  if (!h || !h->get_instance_name()) return std::string();
  return h->get_instance_name()->get_partial_name();
}

CDB_SGATE_HIERARCHY* io_make_hierarchy(CDB_SGATE_NETLIST* netlist, HDB_INSTANCE_NAME* top) {
  auto* h = new CDB_SGATE_HIERARCHY();
  h->set_instance_name(top);
  h->set_netlist(netlist);
  h->set_hierarchy_pointers();
  return h;
}

}  // namespace kavu_platform
