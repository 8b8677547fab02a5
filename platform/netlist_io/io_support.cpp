// io_support.cpp — the signal-name table and the name-tree helpers shared by
// the BLIF reader and writer, the simulator and the generators.
//
// IO_NAME_TABLE: open addressing with linear probing; a slot holds id + 1
//   (0 empty) and a byte array beside the slots 8 bits of the name's hash;
//   the home slot is the hash scaled to the table size, so a reservation
//   sizes the table exactly for 80 % load and growth makes it half as large
//   again (the fingerprints keep the longer probe runs of that load cheap).
//   Names are compared only when fingerprints match.
// Cost: intern and find O(1) expected; growth O(n) amortised.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "cdb/cdb_sgate.h"
#include "hdb/hdb.h"
#include "msg/msg.h"
#include "netlist_io/netlist_io_int.h"

namespace kavu_platform {

uint64_t IO_NAME_TABLE::pack(uint32_t id, std::string_view name) {
  const uint64_t address = uint64_t(uintptr_t(name.data()));
  PLAT_CHECK((address & ~kAddressMask) == 0, "BLIF");
  size_t size = name.size();
  if (size >= kLongSize) {
    m_long_sizes[id] = size;
    size = kLongSize;
  }
  return address | uint64_t(size) << kSizeShift;
}

std::string_view IO_TEXT_STORE::keep(std::string_view text) {
  if (text.size() > m_left) {
    const size_t size = std::max(text.size(), m_block_bytes);
    m_blocks.push_back(std::make_unique_for_overwrite<char[]>(size));
    m_next = m_blocks.back().get();
    m_left = size;
  }
  char* out = m_next;
  if (!text.empty()) std::memcpy(out, text.data(), text.size());
  m_next += text.size();
  m_left -= text.size();
  return std::string_view(out, text.size());
}

void IO_NAME_TABLE::reserve(size_t n) {
  m_names.reserve(n);
  if (slots_for(n) > m_slots.size()) rebuild(slots_for(n));
}

void IO_NAME_TABLE::rebuild(size_t slots) {
  std::vector<uint32_t> old;
  old.swap(m_slots);
  m_slots.assign(slots, 0);
  std::vector<uint8_t>(slots, 0).swap(m_tags);
  for (uint32_t v : old) {
    if (!v) continue;
    const uint64_t h = io_hash(name(v - 1));
    size_t i = home(h);
    while (m_slots[i]) i = next(i);
    m_slots[i] = v;
    m_tags[i] = uint8_t(h);
  }
}

uint32_t IO_NAME_TABLE::find(std::string_view name) const {
  if (m_slots.empty()) return UINT32_MAX;
  const uint64_t h = io_hash(name);
  const uint8_t tag = uint8_t(h);
  for (size_t i = home(h); m_slots[i]; i = next(i))
    if (m_tags[i] == tag && this->name(m_slots[i] - 1) == name) return m_slots[i] - 1;
  return UINT32_MAX;
}

uint32_t IO_NAME_TABLE::intern(std::string_view name, bool* added) {
  if (slots_for(m_names.size() + 1) > m_slots.size())
    rebuild(std::max(slots_for(m_names.size() + 1), m_slots.size() * 3 / 2));
  const uint64_t h = io_hash(name);
  const uint8_t tag = uint8_t(h);
  size_t i = home(h);
  for (; m_slots[i]; i = next(i)) {
    if (m_tags[i] == tag && this->name(m_slots[i] - 1) == name) {
      if (added) *added = false;
      return m_slots[i] - 1;
    }
  }
  PLAT_CHECK(m_names.size() < UINT32_MAX - 1, "BLIF");
  const uint32_t id = uint32_t(m_names.size());
  m_names.push_back(pack(id, name));
  m_slots[i] = id + 1;
  m_tags[i] = tag;
  if (added) *added = true;
  return id;
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
  // Owned here until whole: memory refused while the pins take it (a pin's
  // side record) frees it, and no pin keeps a pointer to it.
  auto h = std::make_unique<CDB_SGATE_HIERARCHY>();
  h->set_instance_name(top);
  h->set_netlist(netlist);
  try {
    h->set_hierarchy_pointers();
  } catch (const std::bad_alloc&) {
    CDB_SGATE_HIERARCHY::set_hierarchy_pointers(nullptr, netlist);  // allocates nothing
    throw;
  }
  return h.release();
}

void io_say_out_of_memory(std::string* error, const std::string& path, const char* what) noexcept {
  if (!error) return;
  try {
    *error = path.empty() ? std::string(what) : msg_printable_text(path, MSG_MAX_PATH_BYTES) + ": " + what;
    return;
  } catch (const std::bad_alloc&) {
  }
  try {
    *error = "not enough memory";
  } catch (const std::bad_alloc&) {
    *error = "out of memory";  // within the string's own buffer
  }
}

}  // namespace kavu_platform
