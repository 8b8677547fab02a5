// hdb.cpp — the name tree: namespaces, names, ids and paths.
//
// Model: each namespace owns its names in creation order; a process-wide
//   registry maps live ids to names (ids are never reused, even after a
//   namespace dies). Children are found through the namespace's index keyed
//   by (parent, synthesized mark, partial name) and kept in their parent's
//   side record for creation order.
// Cost: creation O(1) expected plus one registry insert; paths O(depth).
#include "hdb/hdb.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "hdb/hdb_int.h"
#include "hdb/hdb_types.h"
#include "msg/msg.h"
#include "testkit/platform_test_hooks.h"

namespace {

// Live names by id. Ids come from a counter, so they are dense: pages of
// 1024 slots under a directory indexed by id / 1024, a page freed when its
// last name dies with its namespace.
class NAME_REGISTRY {
 public:
  int next_id = 1;

  HDB_INSTANCE_NAME* find(int id) const {
    if (id <= 0) return nullptr;
    size_t page = size_t(id) >> kPageBits;
    if (page >= m_pages.size() || !m_pages[page]) return nullptr;
    return m_pages[page]->slots[size_t(id) & kPageMask];
  }
  void insert(int id, HDB_INSTANCE_NAME* name) {
    size_t page = size_t(id) >> kPageBits;
    if (page >= m_pages.size()) m_pages.resize(page + 1);
    if (!m_pages[page]) m_pages[page] = std::make_unique<PAGE>();
    HDB_INSTANCE_NAME*& slot = m_pages[page]->slots[size_t(id) & kPageMask];
    if (!slot) ++m_pages[page]->live;
    slot = name;
  }
  void erase(int id) {
    size_t page = size_t(id) >> kPageBits;
    if (page >= m_pages.size() || !m_pages[page]) return;
    HDB_INSTANCE_NAME*& slot = m_pages[page]->slots[size_t(id) & kPageMask];
    if (!slot) return;
    slot = nullptr;
    if (--m_pages[page]->live == 0) m_pages[page].reset();
  }

 private:
  static constexpr unsigned kPageBits = 10;
  static constexpr size_t kPageMask = (size_t(1) << kPageBits) - 1;
  struct PAGE {
    HDB_INSTANCE_NAME* slots[size_t(1) << kPageBits] = {};
    uint32_t live = 0;
  };
  std::vector<std::unique_ptr<PAGE>> m_pages;
};

NAME_REGISTRY& registry() {
  static NAME_REGISTRY* r = new NAME_REGISTRY;  // never destroyed: ids outlive resets
  return *r;
}

HDB_NAMESPACE* g_default_namespace = nullptr;

const int kSynthesisPrimitive = 88;

}  // namespace

// ---------------------------------------------------------------- components

HDB_SOURCE_COMPONENT* HDB_SOURCE_COMPONENT_COL::get_primitive(int type) {
  std::unique_ptr<HDB_SOURCE_COMPONENT>& slot = m_primitives[type];
  if (!slot) slot = std::make_unique<HDB_SOURCE_COMPONENT>(type, "primitive_" + std::to_string(type));
  return slot.get();
}

// ---------------------------------------------------------------- child index

// Open addressing with linear probing over a power-of-two table: a slot holds
// the child's address in its low 48 bits and a 16-bit fingerprint of its key
// (parent, synthesized mark, partial name) in the high 16, which user-space
// addresses leave zero; the home slot comes from the hash's high bits. Grown
// to twice the size past 70 % load. Names are never removed while the
// namespace lives.
struct HDB_CHILD_INDEX {
  std::vector<uint64_t> m_slots;  // 0: empty
  size_t m_count = 0;
  unsigned m_shift = 64;

  static constexpr uint64_t kAddressMask = (uint64_t(1) << 48) - 1;
  static HDB_INSTANCE_NAME* name_of(uint64_t slot) { return reinterpret_cast<HDB_INSTANCE_NAME*>(slot & kAddressMask); }
  static uint64_t tag_of(uint64_t h) { return (h & 0xffff) << 48; }

  static uint64_t hash(const HDB_INSTANCE_NAME* parent, bool synthesized, std::string_view text) {
    uint64_t h = 1469598103934665603ull ^ (uint64_t(uintptr_t(parent)) * 2 + (synthesized ? 1 : 0));
    for (unsigned char c : text) h = (h ^ c) * 1099511628211ull;
    return (h ^ (h >> 32)) * 0x9e3779b97f4a7c15ull;
  }
  static bool same(const HDB_INSTANCE_NAME* n, const HDB_INSTANCE_NAME* parent, bool synthesized,
                   std::string_view text) {
    return n->m_parent == parent && bool(n->m_synthesized) == synthesized && std::string_view(n->m_partial) == text;
  }

  HDB_INSTANCE_NAME* find(const HDB_INSTANCE_NAME* parent, bool synthesized, std::string_view text) const {
    if (m_slots.empty()) return nullptr;
    const size_t mask = m_slots.size() - 1;
    const uint64_t h = hash(parent, synthesized, text);
    const uint64_t tag = tag_of(h);
    for (size_t i = size_t(h >> m_shift); m_slots[i]; i = (i + 1) & mask)
      if ((m_slots[i] & ~kAddressMask) == tag && same(name_of(m_slots[i]), parent, synthesized, text))
        return name_of(m_slots[i]);
    return nullptr;
  }

  // Room for `more` further names without growing.
  void reserve(size_t more) {
    size_t size = m_slots.empty() ? 16 : m_slots.size();
    while (10 * (m_count + more) > 7 * size) size *= 2;
    if (size != m_slots.size()) rebuild(size);
  }

  void insert(HDB_INSTANCE_NAME* name) {
    if (10 * (m_count + 1) > 7 * m_slots.size()) grow();
    PLAT_CHECK((uint64_t(uintptr_t(name)) & ~kAddressMask) == 0, "HDB");
    place(uint64_t(uintptr_t(name)));
    ++m_count;
  }

 private:
  // Places the name at `address` (its high 16 bits zero or its old tag).
  void place(uint64_t address) {
    const HDB_INSTANCE_NAME* n = name_of(address);
    const uint64_t h = hash(n->m_parent, n->m_synthesized, n->m_partial);
    const size_t mask = m_slots.size() - 1;
    size_t i = size_t(h >> m_shift);
    while (m_slots[i]) i = (i + 1) & mask;
    m_slots[i] = (address & kAddressMask) | tag_of(h);
  }
  void grow() { rebuild(m_slots.empty() ? 16 : 2 * m_slots.size()); }
  void rebuild(size_t size) {
    std::vector<uint64_t> old;
    old.swap(m_slots);
    m_slots.assign(size, 0);
    m_shift = 64 - unsigned(__builtin_ctzll(size));
    for (uint64_t v : old)
      if (v) place(v);
  }
};

// ---------------------------------------------------------------- names

HDB_INSTANCE_NAME::EXTRA::~EXTRA() = default;

HDB_INSTANCE_NAME::~HDB_INSTANCE_NAME() { delete m_extra; }

HDB_INSTANCE_NAME::EXTRA& HDB_INSTANCE_NAME::extra() {
  if (!m_extra) m_extra = new EXTRA;
  return *m_extra;
}

const std::vector<HDB_INSTANCE_NAME*>& HDB_INSTANCE_NAME::get_children() const {
  static const std::vector<HDB_INSTANCE_NAME*> none;
  return m_extra ? m_extra->m_children : none;
}

HDB_INSTANCE_NAME* HDB_INSTANCE_NAME::make(HDB_NAMESPACE* ns, HDB_INSTANCE_NAME* parent, std::string_view text,
                                           bool synthesized, HDB_INSTANCE_NAME_FLAG flags, int id,
                                           HDB_SOURCE_COMPONENT* component) {
  NAME_REGISTRY& reg = registry();
  if (id == 0) {
    id = reg.next_id++;
  } else {
    PLAT_CHECK(id > 0 && reg.find(id) == nullptr && "instance name id already in use", "HDB");
    reg.next_id = std::max(reg.next_id, id + 1);
  }
  // The partial name's length is where its NUL is.
  PLAT_CHECK(text.find('\0') == std::string_view::npos, "HDB");
  HDB_INSTANCE_NAME* name = new (ns->allocate_name()) HDB_INSTANCE_NAME;
  name->m_id = uint32_t(id);
  name->m_parent = parent;
  name->m_partial = ns->store_text(text);
  name->m_synthesized = synthesized;
  name->m_flags = flags;
  name->m_namespace = ns;
  name->m_component = component;
  reg.insert(id, name);
  if (parent) {
    parent->extra().m_children.push_back(name);
    if (!ns->m_child_index) ns->m_child_index = std::make_unique<HDB_CHILD_INDEX>();
    ns->m_child_index->insert(name);
  } else {
    ns->m_tops.push_back(name);
    ns->m_top_index[std::string(text)] = name;
  }
  return name;
}

std::string HDB_INSTANCE_NAME::get_short_hpath(int fmt) const {
  PLAT_CHECK(fmt >= 0 && fmt <= 2, "HDB");
  if (fmt == 2) return get_unit_name_str();
  std::string path;
  get_hierarchy_path(nullptr, &path);
  if (fmt == 1) {
    const HDB_INSTANCE_NAME* top = this;
    while (top->m_parent) top = top->m_parent;
    size_t skip = std::strlen(top->m_partial);
    path = path.size() > skip ? path.substr(skip + 1) : std::string();
  }
  return path;
}

bool HDB_INSTANCE_NAME::get_hierarchy_path(const HDB_INSTANCE_NAME* relative_to, std::string* path,
                                           bool, int) const {
  PLAT_CHECK(path != nullptr, "HDB");
  std::vector<const HDB_INSTANCE_NAME*> chain;  // this name up to (excluding) relative_to
  const HDB_INSTANCE_NAME* n = this;
  while (n && n != relative_to) {
    chain.push_back(n);
    n = n->m_parent;
  }
  bool below = relative_to == nullptr || n == relative_to;
  if (!below) {
    get_hierarchy_path(nullptr, path);
    return false;
  }
  path->clear();
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    if (it != chain.rbegin()) *path += (*it)->m_synthesized ? '~' : '|';
    *path += (*it)->m_partial;
  }
  return true;
}

HDB_INSTANCE_NAME* HDB_INSTANCE_NAME::find_child(bool synthesized, std::string_view text) const {
  const HDB_CHILD_INDEX* index = m_namespace->m_child_index.get();
  return index ? index->find(this, synthesized, text) : nullptr;
}

HDB_INSTANCE_NAME* HDB_INSTANCE_NAME::find_in_children(const char* text, int kind) const {
  if (!text) return nullptr;
  if (kind != 2)
    if (HDB_INSTANCE_NAME* n = find_child(false, text)) return n;
  if (kind != 1)
    if (HDB_INSTANCE_NAME* n = find_child(true, text)) return n;
  return nullptr;
}

HDB_INSTANCE_NAME* HDB_INSTANCE_NAME::create_child(HDB_INSTANCE_NAME* parent, const char* text,
                                                   HDB_INSTANCE_NAME_FLAG flags, int id,
                                                   bool synthesized,
                                                   HDB_SOURCE_COMPONENT_COL* components) {
  PLAT_CHECK(parent != nullptr, "HDB");
  PLAT_CHECK(text != nullptr && *text != '\0', "HDB");
  if (HDB_INSTANCE_NAME* existing = parent->find_child(synthesized, text)) return existing;
  HDB_SOURCE_COMPONENT* component =
      components ? components->get_primitive(kSynthesisPrimitive) : parent->m_component;
  return make(parent->m_namespace, parent, text, synthesized, flags, id, component);
}

void HDB_INSTANCE_NAME::reserve_children(HDB_INSTANCE_NAME* parent, size_t count) {
  PLAT_CHECK(parent != nullptr, "HDB");
  if (count == 0) return;
  std::vector<HDB_INSTANCE_NAME*>& children = parent->extra().m_children;
  children.reserve(children.size() + count);
  HDB_NAMESPACE* ns = parent->m_namespace;
  if (!ns->m_child_index) ns->m_child_index = std::make_unique<HDB_CHILD_INDEX>();
  ns->m_child_index->reserve(count);
}

HDB_INSTANCE_NAME* HDB_INSTANCE_NAME::create_normal_name(HDB_NAMESPACE* ns, const char* text,
                                                         HDB_SOURCE_COMPONENT* component,
                                                         const MSG_LOCATION_SCHEMA* location,
                                                         HDB_INSTANCE_NAME* parent,
                                                         HDB_INSTANCE_NAME_FLAG flags) {
  PLAT_CHECK(text != nullptr && *text != '\0', "HDB");
  HDB_INSTANCE_NAME* existing = nullptr;
  if (parent) {
    PLAT_CHECK(ns == nullptr || ns == parent->m_namespace, "HDB");
    ns = parent->m_namespace;
    existing = parent->find_in_children(text, 1);
  } else {
    if (!ns) ns = kavu_platform::hdb_default_namespace();
    auto it = ns->m_top_index.find(text);
    if (it != ns->m_top_index.end()) existing = it->second;
  }
  if (existing) return existing;
  HDB_INSTANCE_NAME* name = make(ns, parent, text, false, flags, 0, component);
  if (location) name->extra().m_location = std::make_unique<MSG_LOCATION_SCHEMA>(*location);
  return name;
}

HDB_INSTANCE_NAME* HDB_INSTANCE_NAME::create_synthesized_name(HDB_INSTANCE_NAME* base, const char* ext,
                                                              bool unique, bool synthesized,
                                                              bool* reused) {
  PLAT_CHECK(base != nullptr, "HDB");
  PLAT_CHECK(ext != nullptr && *ext != '\0', "HDB");
  HDB_INSTANCE_NAME* parent = base->get_base_for_children();
  PLAT_CHECK(parent != nullptr, "HDB");
  std::string text(ext);
  if (reused) *reused = false;
  if (!unique) {
    if (HDB_INSTANCE_NAME* existing = parent->find_child(synthesized, text)) {
      if (reused) *reused = true;
      return existing;
    }
    return make(parent->m_namespace, parent, text, synthesized, {}, 0, parent->m_component);
  }
  if (parent->find_child(synthesized, text)) {
    int& next = parent->extra().m_unique_next[text];
    do {
      text = std::string(ext) + "~" + std::to_string(++next);
    } while (parent->find_child(synthesized, text));
  }
  return make(parent->m_namespace, parent, text, synthesized, {}, 0, parent->m_component);
}

HDB_INSTANCE_NAME* HDB_INSTANCE_NAME::create_numbered_synthesized_name(HDB_INSTANCE_NAME* base) {
  PLAT_CHECK(base != nullptr, "HDB");
  HDB_INSTANCE_NAME* parent = base->get_base_for_children();
  PLAT_CHECK(parent != nullptr, "HDB");
  // The first free number, searched from where the last search stopped
  // (names are never freed). The empty key cannot clash with an extension.
  int& next = parent->extra().m_unique_next[std::string()];
  std::string text;
  do {
    text = std::to_string(++next);
  } while (parent->find_child(true, text));
  return make(parent->m_namespace, parent, text, true, {}, 0, parent->m_component);
}

void HDB_INSTANCE_NAME::set_representative_name(HDB_INSTANCE_NAME* rep) {
  PLAT_CHECK(rep != this, "HDB");
  if (rep || m_extra) extra().m_representative = rep;
}

HDB_INSTANCE_NAME* HDB_NAME_MGR::get_instance_name(int id) {
  return registry().find(id);
}

// ---------------------------------------------------------------- namespaces

HDB_NAMESPACE::HDB_NAMESPACE(const char* root_name) {
  if (root_name && *root_name) HDB_INSTANCE_NAME::create_normal_name(this, root_name, nullptr, nullptr, nullptr);
}

namespace {

// Names per storage block: small namespaces stay small, large ones make few
// blocks.
uint32_t block_capacity(size_t block) { return block < 8 ? uint32_t(16) << block : 4096; }

const size_t kTextBlock = 64 * 1024;

}  // namespace

HDB_NAMESPACE::~HDB_NAMESPACE() {
  NAME_REGISTRY& reg = registry();
  std::allocator<HDB_INSTANCE_NAME> alloc;
  for (size_t b = 0; b < m_name_blocks.size(); ++b) {
    const uint32_t used = b + 1 == m_name_blocks.size() ? m_names_in_last_block : block_capacity(b);
    for (uint32_t i = 0; i < used; ++i) {
      reg.erase(m_name_blocks[b][i].get_id());
      m_name_blocks[b][i].~HDB_INSTANCE_NAME();
    }
    alloc.deallocate(m_name_blocks[b], block_capacity(b));
  }
  if (g_default_namespace == this) g_default_namespace = nullptr;
}

void* HDB_NAMESPACE::allocate_name() {
  if (m_name_blocks.empty() || m_names_in_last_block == block_capacity(m_name_blocks.size() - 1)) {
    m_name_blocks.push_back(std::allocator<HDB_INSTANCE_NAME>().allocate(block_capacity(m_name_blocks.size())));
    m_names_in_last_block = 0;
  }
  return m_name_blocks.back() + m_names_in_last_block++;
}

const char* HDB_NAMESPACE::store_text(std::string_view text) {
  const size_t need = text.size() + 1;
  if (need > m_text_left) {
    // Small namespaces start with small blocks; a text longer than a block
    // gets a block of its own size.
    // The shift stops at the 64 KB cap, so any number of blocks is safe.
    const size_t shift = std::min<size_t>(m_text_blocks.size(), 6);
    const size_t size = std::max(need, std::min(kTextBlock, size_t(1024) << shift));
    m_text_blocks.push_back(std::make_unique<char[]>(size));
    m_text_next = m_text_blocks.back().get();
    m_text_left = size;
  }
  char* out = m_text_next;
  std::memcpy(out, text.data(), text.size());
  out[text.size()] = '\0';
  m_text_next += need;
  m_text_left -= need;
  return out;
}

HDB_INSTANCE_NAME* HDB_NAMESPACE::get_root() const { return m_tops.empty() ? nullptr : m_tops[0]; }

HDB_INSTANCE_NAME* HDB_NAMESPACE::get_rooted_at(const char* path) const {
  if (!path || !*path) return get_root();
  std::string p(path);
  std::vector<std::string> parts;
  size_t pos = 0;
  while (true) {
    size_t bar = p.find('|', pos);
    parts.push_back(p.substr(pos, bar == std::string::npos ? std::string::npos : bar - pos));
    if (bar == std::string::npos) break;
    pos = bar + 1;
  }
  HDB_INSTANCE_NAME* n = nullptr;
  size_t first = 0;
  auto top = m_top_index.find(parts[0]);
  if (top != m_top_index.end()) {
    n = top->second;
    first = 1;
  } else {
    n = get_root();
  }
  for (size_t i = first; n && i < parts.size(); ++i) n = n->find_in_children(parts[i].c_str(), 1);
  return n;
}

HDB_INSTANCE_NAME* HDB_NAMESPACE::get_instance_name(int id) const {
  HDB_INSTANCE_NAME* n = HDB_NAME_MGR::get_instance_name(id);
  return n && n->get_namespace() == this ? n : nullptr;
}

HDB_INSTANCE_NAME* HDB_NAMESPACE::create_group_instance_name(HDB_INSTANCE_NAME* parent,
                                                             const char* group_text, int index) {
  PLAT_CHECK(group_text != nullptr && *group_text != '\0', "HDB");
  PLAT_CHECK(index >= 0, "HDB");
  PLAT_CHECK(parent == nullptr || parent->get_namespace() == this, "HDB");
  HDB_INSTANCE_NAME* group =
      HDB_INSTANCE_NAME::create_normal_name(this, group_text, nullptr, nullptr, parent);
  const std::string element_text = std::string(group_text) + "[" + std::to_string(index) + "]";
  HDB_INSTANCE_NAME* element =
      HDB_INSTANCE_NAME::create_normal_name(this, element_text.c_str(), nullptr, nullptr, parent);
  PLAT_CHECK(element->get_group() == nullptr || element->get_group() == group, "HDB");
  element->extra().m_group = group;
  element->extra().m_group_index = index;
  return element;
}

namespace kavu_platform {

HDB_NAMESPACE* hdb_default_namespace() {
  if (!g_default_namespace) g_default_namespace = new HDB_NAMESPACE();
  return g_default_namespace;
}

void hdb_reset() {
  delete g_default_namespace;  // its destructor clears the pointer
  g_default_namespace = nullptr;
}

}  // namespace kavu_platform
