// hdb.cpp — the name tree: namespaces, names, ids and paths.
//
// Model: each namespace owns its names in creation order; a process-wide
//   registry maps live ids to names (ids are never reused, even after a
//   namespace dies). Children are found through the namespace's index keyed
//   by (parent, synthesized mark, partial name). Child lists in creation
//   order are made from the blocks, which hold the names in that order, when
//   first asked for, and kept in the parents' side records from then on: a
//   netlist's names cost no list until someone walks the tree.
// Cost: creation O(1) expected plus one registry insert; paths O(depth);
//   the first child list O(names of the namespace).
#include "hdb/hdb.h"

#include <sys/mman.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <new>
#include <utility>

#include "hdb/hdb_int.h"
#include "hdb/hdb_types.h"
#include "msg/msg.h"
#include "testkit/platform_test_hooks.h"

namespace {

// Live names by id, in pages of 1024 ids under a directory indexed by
// id / 1024; a page is freed when its last name dies with its namespace.
// Names made one after another lie one after another in their namespace's
// blocks with consecutive ids, so a page mostly holds a few runs (first id,
// count, the first name; the others follow it) and costs nothing per name.
// A page whose names do not fall into kMaxRuns runs (namespaces filled in
// turn, ids given by the caller, a name dying in the middle of a run) keeps
// a pointer per id instead.
class NAME_REGISTRY {
 public:
  int next_id = 1;

  HDB_INSTANCE_NAME* find(int id) const {
    if (id <= 0) return nullptr;
    size_t page = size_t(id) >> kPageBits;
    if (page >= m_pages.size() || !m_pages[page]) return nullptr;
    return m_pages[page]->find(uint32_t(id) & kPageMask);
  }
  void insert(int id, HDB_INSTANCE_NAME* name) {
    size_t page = size_t(id) >> kPageBits;
    if (page >= m_pages.size()) m_pages.resize(page + 1);
    if (!m_pages[page]) m_pages[page] = std::make_unique<PAGE>();
    m_pages[page]->insert(uint32_t(id) & kPageMask, name);
  }
  void erase(int id) {
    size_t page = size_t(id) >> kPageBits;
    if (id <= 0 || page >= m_pages.size() || !m_pages[page]) return;
    if (m_pages[page]->erase(uint32_t(id) & kPageMask) && m_pages[page]->live == 0) m_pages[page].reset();
  }

 private:
  static constexpr unsigned kPageBits = 10;
  static constexpr uint32_t kPageSize = uint32_t(1) << kPageBits;
  static constexpr uint32_t kPageMask = kPageSize - 1;
  static constexpr uint32_t kMaxRuns = 6;
  // Ids first .. first + count - 1 of the page name base[0] .. base[count - 1].
  struct RUN {
    uint32_t first;
    uint32_t count;
    HDB_INSTANCE_NAME* base;
  };
  struct PAGE {
    uint32_t live = 0;
    uint32_t runs = 0;
    RUN run[kMaxRuns];
    std::unique_ptr<HDB_INSTANCE_NAME*[]> slots;  // set: a pointer per id

    HDB_INSTANCE_NAME* find(uint32_t at) const {
      if (slots) return slots[at];
      for (uint32_t r = 0; r < runs; ++r)
        if (at - run[r].first < run[r].count) return run[r].base + (at - run[r].first);
      return nullptr;
    }
    void insert(uint32_t at, HDB_INSTANCE_NAME* name) {
      if (!slots && !find(at)) {
        RUN* last = runs ? &run[runs - 1] : nullptr;
        if (last && last->first + last->count == at && last->base + last->count == name) {
          ++last->count;
          ++live;
          return;
        }
        if (runs < kMaxRuns) {
          run[runs++] = {at, 1, name};
          ++live;
          return;
        }
      }
      spread();
      if (!slots[at]) ++live;
      slots[at] = name;
    }
    // True when the id was live.
    bool erase(uint32_t at) {
      if (!find(at)) return false;
      --live;
      if (!slots) {
        // Namespaces die name by name in the order they were made: the
        // first of a run goes, seldom another.
        for (uint32_t r = 0; r < runs; ++r) {
          RUN& x = run[r];
          if (at - x.first >= x.count) continue;
          if (at == x.first || at == x.first + x.count - 1) {
            if (at == x.first) ++x.first, ++x.base;
            if (--x.count == 0) run[r] = run[--runs];
            return true;
          }
          break;
        }
        spread();
      }
      slots[at] = nullptr;
      return true;
    }
    // From runs to a pointer per id.
    void spread() {
      if (slots) return;
      slots = std::make_unique<HDB_INSTANCE_NAME*[]>(kPageSize);
      for (uint32_t r = 0; r < runs; ++r)
        for (uint32_t k = 0; k < run[r].count; ++k) slots[run[r].first + k] = run[r].base + k;
      runs = 0;
    }
  };
  std::vector<std::unique_ptr<PAGE>> m_pages;
};

NAME_REGISTRY& registry() {
  static NAME_REGISTRY* r = new NAME_REGISTRY;  // never destroyed: ids outlive resets
  return *r;
}
// Made as the layer loads, not at first use: a process that forks while
// another thread makes it would leave its child waiting for it for ever.
[[maybe_unused]] const bool g_registry_at_load = (registry(), true);
// What a name without children lists.
const std::vector<HDB_INSTANCE_NAME*> g_no_children;

HDB_NAMESPACE* g_default_namespace = nullptr;

const int kSynthesisPrimitive = 88;

// Appends `n` in decimal, as std::to_string writes it, without a temporary.
void append_number(std::string* text, int n) {
  char digits[16];
  const std::to_chars_result r = std::to_chars(digits, digits + sizeof digits, n);
  text->append(digits, r.ptr);
}

}  // namespace

// ---------------------------------------------------------------- components

HDB_SOURCE_COMPONENT* HDB_SOURCE_COMPONENT_COL::get_primitive(int type) {
  std::unique_ptr<HDB_SOURCE_COMPONENT>& slot = m_primitives[type];
  if (!slot) slot = std::make_unique<HDB_SOURCE_COMPONENT>(type, "primitive_" + std::to_string(type));
  return slot.get();
}

// ---------------------------------------------------------------- child index

// Open addressing with linear probing over two arrays: a slot holds the
// child's place in the namespace's blocks (block << kSlotBits | index, plus
// one; 0 empty) and, in an array beside it, 32 bits of its key's (parent,
// synthesized mark, partial name) hash: 8 bytes per slot. The home slot is
// those 32 bits scaled to the table size, so the table may have any size,
// and growth moves every entry by its stored bits without reading a name;
// a probe reads a name only when all 32 bits match (one in 2^32 of the
// other names it meets). A reservation makes the table exactly large enough
// for 80 % load, and growth past 80 % makes it half as large again. Names
// are never removed while the namespace lives.
struct HDB_CHILD_INDEX {
  explicit HDB_CHILD_INDEX(const std::vector<HDB_INSTANCE_NAME*>* blocks) : m_blocks(blocks) {}

  const std::vector<HDB_INSTANCE_NAME*>* m_blocks;  // the namespace's name blocks
  std::vector<uint32_t> m_places;  // 0: empty
  std::vector<uint32_t> m_tags;    // the key's hash bits kept per slot
  size_t m_count = 0;

  static uint32_t tag_of(uint64_t h) { return uint32_t(h >> 32); }
  HDB_INSTANCE_NAME* name_at(uint32_t place) const {
    return (*m_blocks)[(place - 1) >> HDB_NAMESPACE::kSlotBits] + ((place - 1) & HDB_NAMESPACE::kSlotMask);
  }

  // The hash of a key is taken in three steps so that keys sharing a stem
  // ("ext~1", "ext~2", ...) hash the stem once: start, more (any number of
  // times), end.
  static uint64_t hash_start(const HDB_INSTANCE_NAME* parent, bool synthesized) {
    return 1469598103934665603ull ^ (uint64_t(uintptr_t(parent)) * 2 + (synthesized ? 1 : 0));
  }
  static uint64_t hash_more(uint64_t h, std::string_view text) {
    for (unsigned char c : text) h = (h ^ c) * 1099511628211ull;
    return h;
  }
  static uint64_t hash_end(uint64_t h) { return (h ^ (h >> 32)) * 0x9e3779b97f4a7c15ull; }
  static uint64_t hash(const HDB_INSTANCE_NAME* parent, bool synthesized, std::string_view text) {
    return hash_end(hash_more(hash_start(parent, synthesized), text));
  }
  static bool same(const HDB_INSTANCE_NAME* n, const HDB_INSTANCE_NAME* parent, bool synthesized,
                   std::string_view text) {
    // The stored text ends at its NUL and holds no other: it equals `text`
    // when its first text.size() characters do and the NUL follows them (no
    // strlen of the stored text, and strncmp stops at a shorter one's NUL).
    if (n->get_parent() != parent || bool(n->m_synthesized) != synthesized) return false;
    const char* stored = n->get_partial_name();
    return std::strncmp(stored, text.data(), text.size()) == 0 && stored[text.size()] == '\0';
  }
  // Slots needed for `count` names at 80 % load.
  static size_t slots_for(size_t count) { return std::max<size_t>(16, count + count / 4 + 1); }

  size_t home_of_tag(uint32_t tag) const { return size_t((uint64_t(tag) * m_places.size()) >> 32); }
  size_t home(uint64_t h) const { return home_of_tag(tag_of(h)); }
  size_t next(size_t i) const { return i + 1 == m_places.size() ? 0 : i + 1; }

  HDB_INSTANCE_NAME* find(const HDB_INSTANCE_NAME* parent, bool synthesized, std::string_view text) const {
    return find(parent, synthesized, text, hash(parent, synthesized, text));
  }
  // The same, with the key's hash `h` already taken.
  HDB_INSTANCE_NAME* find(const HDB_INSTANCE_NAME* parent, bool synthesized, std::string_view text,
                          uint64_t h) const {
    if (m_places.empty()) return nullptr;
    const uint32_t tag = tag_of(h);
    for (size_t i = home_of_tag(tag); m_places[i]; i = next(i))
      if (m_tags[i] == tag && same(name_at(m_places[i]), parent, synthesized, text)) return name_at(m_places[i]);
    return nullptr;
  }
  // The child (parent, synthesized, text) of hash `h`, or null; the
  // namespace may have no index yet.
  static HDB_INSTANCE_NAME* find_in(const HDB_INSTANCE_NAME* parent, bool synthesized, std::string_view text,
                                    uint64_t h) {
    const HDB_CHILD_INDEX* index = parent->get_namespace()->m_child_index.get();
    return index ? index->find(parent, synthesized, text, h) : nullptr;
  }

  void prefetch(const HDB_INSTANCE_NAME* parent, bool synthesized, std::string_view text) const {
    if (m_places.empty()) return;
    const size_t i = home(hash(parent, synthesized, text));
    __builtin_prefetch(&m_places[i]);
    __builtin_prefetch(&m_tags[i]);
  }
  // Room for `more` further names without growing.
  void reserve(size_t more) {
    const size_t size = slots_for(m_count + more);
    if (size > m_places.size()) rebuild(size);
  }

  // Adds the names at `places` (block << kSlotBits | index) at once, in the
  // order of their home slots, so that the table is written front to back
  // instead of at a random slot per name. False, with nothing added, when
  // two of them, or one of them and a name indexed before, share a key.
  bool insert_all(const std::vector<uint32_t>& places) {
    reserve(places.size());
    struct ENTRY {
      uint64_t h;
      uint32_t place;  // plus one, as stored
      uint32_t home;
    };
    std::vector<ENTRY> in(places.size()), out(places.size());
    for (size_t k = 0; k < places.size(); ++k) {
      const HDB_INSTANCE_NAME* n = name_at(places[k] + 1);
      const uint64_t h = hash(n->get_parent(), n->m_synthesized, n->get_partial_name());
      in[k] = {h, places[k] + 1, uint32_t(home(h))};
    }
    // Two passes of 16 bits sort by home slot (a table of at most 2^32
    // slots); equal keys hash alike, so they end up side by side.
    static_assert(sizeof(uint32_t) * 8 == 32);
    for (unsigned shift : {0u, 16u}) {
      std::vector<uint32_t> start(size_t(1) << 16, 0);
      for (const ENTRY& e : in) ++start[(e.home >> shift) & 0xffff];
      uint32_t sum = 0;
      for (uint32_t& c : start) sum += std::exchange(c, sum);
      for (const ENTRY& e : in) out[start[(e.home >> shift) & 0xffff]++] = e;
      in.swap(out);
    }
    for (size_t k = 0; k < in.size(); ++k) {
      for (size_t j = k; j-- > 0 && in[j].home == in[k].home;)
        if (in[j].h == in[k].h && same_key(name_at(in[j].place), name_at(in[k].place))) return false;
      if (m_count) {
        const HDB_INSTANCE_NAME* n = name_at(in[k].place);
        if (find(n->get_parent(), n->m_synthesized, n->get_partial_name())) return false;
      }
    }
    // Every slot from the last entry's home up to where it went is taken,
    // so the next entry (home not below) starts there at the earliest.
    size_t cursor = 0;
    for (const ENTRY& e : in) {
      size_t i = std::max<size_t>(e.home, cursor);
      if (i >= m_places.size()) i = 0;
      while (m_places[i]) i = next(i);
      m_places[i] = e.place;
      m_tags[i] = tag_of(e.h);
      cursor = i + 1;
    }
    m_count += in.size();
    return true;
  }
  static bool same_key(const HDB_INSTANCE_NAME* a, const HDB_INSTANCE_NAME* b) {
    return a->get_parent() == b->get_parent() && a->m_synthesized == b->m_synthesized &&
           std::strcmp(a->get_partial_name(), b->get_partial_name()) == 0;
  }

  // Adds the name at `place` (block << kSlotBits | index).
  void insert(uint32_t place) {
    const HDB_INSTANCE_NAME* n = name_at(place + 1);
    insert(place, hash(n->get_parent(), n->m_synthesized, n->get_partial_name()));
  }
  // The same, with the hash `h` of the name's key already taken.
  void insert(uint32_t place, uint64_t h) {
    if (slots_for(m_count + 1) > m_places.size())
      rebuild(std::max(slots_for(m_count + 1), m_places.size() * 3 / 2));
    put(place + 1, tag_of(h));
    ++m_count;
  }

 private:
  void put(uint32_t place, uint32_t tag) {
    size_t i = home_of_tag(tag);
    while (m_places[i]) i = next(i);
    m_places[i] = place;
    m_tags[i] = tag;
  }
  // The new table is made whole before the old one is let go: memory
  // refused while it is made leaves the index as it was (it once left the
  // slots without their tags, and the next lookup read past them).
  void rebuild(size_t size) {
    std::vector<uint32_t> old_places(size, 0), old_tags(size, 0);
    old_places.swap(m_places);
    old_tags.swap(m_tags);
    for (size_t k = 0; k < old_places.size(); ++k)
      if (old_places[k]) put(old_places[k], old_tags[k]);
  }
};

// ---------------------------------------------------------------- names

static_assert(sizeof(HDB_INSTANCE_NAME) == 24, "a name record is three words");

HDB_INSTANCE_NAME::EXTRA::~EXTRA() = default;

// The side record belongs to the namespace, which outlives the name.
HDB_INSTANCE_NAME::~HDB_INSTANCE_NAME() = default;

const HDB_INSTANCE_NAME* HDB_INSTANCE_NAME::top() const {
  const HDB_INSTANCE_NAME* n = this;
  while (const HDB_INSTANCE_NAME* up = n->get_parent()) n = up;
  return n;
}

HDB_NAMESPACE* HDB_INSTANCE_NAME::get_namespace() const { return HDB_NAMESPACE::namespace_of(this); }

HDB_INSTANCE_NAME* HDB_INSTANCE_NAME::get_parent() const {
  return m_parent ? HDB_NAMESPACE::namespace_of(this)->name_at(m_parent - 1) : nullptr;
}

const char* HDB_INSTANCE_NAME::get_partial_name() const {
  return HDB_NAMESPACE::namespace_of(this)->text_entry(m_text) + 2;
}

HDB_INSTANCE_NAME::EXTRA* HDB_INSTANCE_NAME::find_extra() const {
  if (!m_has_extra) return nullptr;
  const auto& extras = get_namespace()->m_extras;
  auto it = extras.find(this);
  return it == extras.end() ? nullptr : it->second.get();
}

HDB_INSTANCE_NAME::EXTRA& HDB_INSTANCE_NAME::extra() {
  if (EXTRA* e = find_extra()) return *e;
  std::unique_ptr<EXTRA>& slot = get_namespace()->m_extras[this];
  slot = std::make_unique<EXTRA>();
  m_has_extra = 1;
  return *slot;
}

HDB_INSTANCE_NAME* HDB_INSTANCE_NAME::get_group() const {
  const EXTRA* e = find_extra();
  return e ? e->m_group : nullptr;
}

int HDB_INSTANCE_NAME::get_index_in_group() const {
  const EXTRA* e = find_extra();
  return e ? e->m_group_index : -1;
}

const MSG_LOCATION_SCHEMA* HDB_INSTANCE_NAME::get_location() const {
  const EXTRA* e = find_extra();
  return e ? e->m_location.get() : nullptr;
}

HDB_INSTANCE_NAME* HDB_INSTANCE_NAME::get_representative_name() const {
  const EXTRA* e = find_extra();
  return e ? e->m_representative : nullptr;
}

HDB_SOURCE_COMPONENT* HDB_INSTANCE_NAME::get_source_component() const {
  const unsigned char* entry = reinterpret_cast<const unsigned char*>(get_namespace()->text_entry(m_text));
  const uint32_t slot = uint32_t(entry[0]) | uint32_t(entry[1]) << 8;
  if (slot == kComponentInExtra) return find_extra()->m_component;
  return get_namespace()->m_component_table[slot];
}

const std::vector<HDB_INSTANCE_NAME*>& HDB_INSTANCE_NAME::get_children() const {
  get_namespace()->list_children();
  const EXTRA* e = find_extra();
  return e ? e->m_children : g_no_children;
}

HDB_INSTANCE_NAME* HDB_INSTANCE_NAME::make(HDB_NAMESPACE* ns, HDB_INSTANCE_NAME* parent, std::string_view text,
                                           bool synthesized, HDB_INSTANCE_NAME_FLAG flags, int id,
                                           HDB_SOURCE_COMPONENT* component, uint64_t key_hash, bool indexed) {
  NAME_REGISTRY& reg = registry();
  if (id == 0) {
    id = reg.next_id++;
  } else {
    PLAT_CHECK(id > 0 && reg.find(id) == nullptr && "instance name id already in use", "HDB");
    reg.next_id = std::max(reg.next_id, id + 1);
  }
  // The partial name's length is where its NUL is.
  PLAT_CHECK(text.find('\0') == std::string_view::npos, "HDB");
  PLAT_CHECK(uint32_t(id) <= kMaxId && "instance name ids exhausted", "HDB");
  const uint32_t component_slot = ns->component_slot(component);
  const uint32_t text_place = ns->store_text(text, component_slot);
  uint32_t place = 0;
  HDB_INSTANCE_NAME* name = new (ns->allocate_name(&place)) HDB_INSTANCE_NAME;
  name->m_id = uint32_t(id);
  name->m_parent = parent ? HDB_NAMESPACE::place_of(parent) + 1 : 0;
  name->m_text = text_place;
  name->m_synthesized = synthesized;
  name->m_flags = flags;
  if (!parent) name->m_flags.set_flag(HDB_INSTANCE_NAME_FLAG::HIERARCHY_ROOT);
  if (component_slot == kComponentInExtra) name->extra().m_component = component;
  reg.insert(id, name);
  if (parent) {
    if (ns->m_children_listed.load(std::memory_order_relaxed)) parent->extra().m_children.push_back(name);
    if (!indexed) {
      ns->m_unindexed.push_back(place);
    } else {
      if (!ns->m_child_index) ns->m_child_index = std::make_unique<HDB_CHILD_INDEX>(&ns->m_name_blocks);
      // The hash of the lookup that came before, else of the caller's text
      // (0: none given; a key hashing to 0 is merely hashed again).
      ns->m_child_index->insert(place, key_hash ? key_hash : HDB_CHILD_INDEX::hash(parent, synthesized, text));
    }
  } else {
    ns->m_tops.push_back(name);
    ns->m_top_index[std::string(text)] = name;
  }
  return name;
}

std::string HDB_INSTANCE_NAME::get_short_hpath(int fmt) const {
  PLAT_CHECK(fmt >= 0 && fmt <= HPATH_BELOW_ROOT, "HDB");
  if (fmt == 2) return get_unit_name_str();
  std::string path;
  if (fmt == HPATH_BELOW_ROOT) {
    const HDB_INSTANCE_NAME* root = get_parent();
    while (root && !root->get_flags().test_flag(HDB_INSTANCE_NAME_FLAG::HIERARCHY_ROOT)) root = root->get_parent();
    get_hierarchy_path(root, &path);
    return path;
  }
  get_hierarchy_path(nullptr, &path);
  if (fmt == 1) {
    size_t skip = std::strlen(top()->get_partial_name());
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
    n = n->get_parent();
  }
  bool below = relative_to == nullptr || n == relative_to;
  if (!below) {
    get_hierarchy_path(nullptr, path);
    return false;
  }
  path->clear();
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    if (it != chain.rbegin()) *path += (*it)->m_synthesized ? '~' : '|';
    *path += (*it)->get_partial_name();
  }
  return true;
}

HDB_INSTANCE_NAME* HDB_INSTANCE_NAME::find_child(bool synthesized, std::string_view text) const {
  const HDB_CHILD_INDEX* index = get_namespace()->m_child_index.get();
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
  const std::string_view given(text);
  const uint64_t h = HDB_CHILD_INDEX::hash(parent, synthesized, given);
  if (HDB_INSTANCE_NAME* existing = HDB_CHILD_INDEX::find_in(parent, synthesized, given, h)) return existing;
  HDB_SOURCE_COMPONENT* component =
      components ? components->get_primitive(kSynthesisPrimitive) : parent->get_source_component();
  return make(parent->get_namespace(), parent, given, synthesized, flags, id, component, h);
}

void HDB_NAMESPACE::reserve_child_index(size_t count) {
  if (!m_child_index) m_child_index = std::make_unique<HDB_CHILD_INDEX>(&m_name_blocks);
  m_child_index->reserve(count);
}

int HDB_NAMESPACE::next_name_id() { return registry().next_id; }

bool HDB_NAMESPACE::index_unindexed_children() {
  if (m_unindexed.empty()) return true;
  if (!m_child_index) m_child_index = std::make_unique<HDB_CHILD_INDEX>(&m_name_blocks);
  if (!m_child_index->insert_all(m_unindexed)) return false;
  std::vector<uint32_t>().swap(m_unindexed);
  return true;
}

void HDB_NAMESPACE::drop_all_names(int next_id) {
  destroy_names();
  m_text_blocks.clear();
  m_text_next = nullptr;
  m_text_left = 0;
  m_child_index.reset();
  std::vector<uint32_t>().swap(m_unindexed);
  m_tops.clear();
  m_top_index.clear();
  m_extras.clear();
  registry().next_id = next_id;
}

void HDB_NAMESPACE::prefetch_child(const HDB_INSTANCE_NAME* parent, bool synthesized, std::string_view text) const {
  if (m_child_index) m_child_index->prefetch(parent, synthesized, text);
}

void HDB_INSTANCE_NAME::reserve_children(HDB_INSTANCE_NAME* parent, size_t count) {
  PLAT_CHECK(parent != nullptr, "HDB");
  if (count == 0) return;
  HDB_NAMESPACE* ns = parent->get_namespace();
  if (ns->m_children_listed.load(std::memory_order_relaxed)) {
    std::vector<HDB_INSTANCE_NAME*>& children = parent->extra().m_children;
    children.reserve(children.size() + count);
  }
  if (!ns->m_child_index) ns->m_child_index = std::make_unique<HDB_CHILD_INDEX>(&ns->m_name_blocks);
  ns->m_child_index->reserve(count);
}

HDB_INSTANCE_NAME* HDB_INSTANCE_NAME::create_normal_name(HDB_NAMESPACE* ns, const char* text,
                                                         HDB_SOURCE_COMPONENT* component,
                                                         const MSG_LOCATION_SCHEMA* location,
                                                         HDB_INSTANCE_NAME* parent,
                                                         HDB_INSTANCE_NAME_FLAG flags) {
  PLAT_CHECK(text != nullptr && *text != '\0', "HDB");
  HDB_INSTANCE_NAME* existing = nullptr;
  const std::string_view given(text);
  uint64_t h = 0;
  if (parent) {
    PLAT_CHECK(ns == nullptr || ns == parent->get_namespace(), "HDB");
    ns = parent->get_namespace();
    h = HDB_CHILD_INDEX::hash(parent, false, given);
    existing = HDB_CHILD_INDEX::find_in(parent, false, given, h);
  } else {
    if (!ns) ns = kavu_platform::hdb_default_namespace();
    auto it = ns->m_top_index.find(std::string_view(text));
    if (it != ns->m_top_index.end()) existing = it->second;
  }
  if (existing) return existing;
  HDB_INSTANCE_NAME* name = make(ns, parent, given, false, flags, 0, component, h);
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
  if (reused) *reused = false;
  // The key's hash is taken once per text tried and handed on to make.
  const std::string_view given(ext);
  const uint64_t start = HDB_CHILD_INDEX::hash_start(parent, synthesized);
  uint64_t h = HDB_CHILD_INDEX::hash_end(HDB_CHILD_INDEX::hash_more(start, given));
  HDB_INSTANCE_NAME* existing = HDB_CHILD_INDEX::find_in(parent, synthesized, given, h);
  if (!existing)
    return make(parent->get_namespace(), parent, given, synthesized, {}, 0, parent->get_source_component(), h);
  if (!unique) {
    if (reused) *reused = true;
    return existing;
  }
  // "ext~N" from the number after the last one tried: the stem "ext~" is
  // written and hashed once, each N is appended to it.
  int& next = parent->extra().m_unique_next[std::string(given)];
  std::string text(given);
  text += '~';
  const size_t stem = text.size();
  const uint64_t stem_hash = HDB_CHILD_INDEX::hash_more(start, text);
  do {
    text.resize(stem);
    append_number(&text, ++next);
    h = HDB_CHILD_INDEX::hash_end(HDB_CHILD_INDEX::hash_more(stem_hash, std::string_view(text).substr(stem)));
  } while (HDB_CHILD_INDEX::find_in(parent, synthesized, text, h));
  return make(parent->get_namespace(), parent, text, synthesized, {}, 0, parent->get_source_component(), h);
}

HDB_INSTANCE_NAME* HDB_INSTANCE_NAME::create_numbered_synthesized_name(HDB_INSTANCE_NAME* base) {
  PLAT_CHECK(base != nullptr, "HDB");
  HDB_INSTANCE_NAME* parent = base->get_base_for_children();
  PLAT_CHECK(parent != nullptr, "HDB");
  // The first free number, searched from where the last search stopped
  // (names are never freed). The empty key cannot clash with an extension.
  int& next = parent->extra().m_unique_next[std::string()];
  const uint64_t start = HDB_CHILD_INDEX::hash_start(parent, true);
  std::string text;
  uint64_t h = 0;
  do {
    text.clear();
    append_number(&text, ++next);
    h = HDB_CHILD_INDEX::hash_end(HDB_CHILD_INDEX::hash_more(start, text));
  } while (HDB_CHILD_INDEX::find_in(parent, true, text, h));
  return make(parent->get_namespace(), parent, text, true, {}, 0, parent->get_source_component(), h);
}

void HDB_INSTANCE_NAME::set_representative_name(HDB_INSTANCE_NAME* rep) {
  PLAT_CHECK(rep != this, "HDB");
  if (rep || m_has_extra) extra().m_representative = rep;
}

HDB_INSTANCE_NAME* HDB_NAME_MGR::get_instance_name(int id) {
  return registry().find(id);
}

// ---------------------------------------------------------------- namespaces

HDB_NAMESPACE::HDB_NAMESPACE(const char* root_name) {
  if (root_name && *root_name) HDB_INSTANCE_NAME::create_normal_name(this, root_name, nullptr, nullptr, nullptr);
}

namespace {

const size_t kTextBlock = 64 * 1024;

// `bytes` (a power of two) of fresh memory aligned to `bytes`: twice as much
// is mapped and the unaligned ends are given back. Pages a small namespace
// never reaches are never touched. Null when the memory cannot be had.
void* map_aligned(size_t bytes) {
  void* p = ::mmap(nullptr, 2 * bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  const uintptr_t start = uintptr_t(p), aligned = (start + bytes - 1) & ~uintptr_t(bytes - 1);
  if (aligned > start) ::munmap(p, aligned - start);
  const uintptr_t end = start + 2 * bytes, used_end = aligned + bytes;
  if (end > used_end) ::munmap(reinterpret_cast<void*>(used_end), end - used_end);
  return reinterpret_cast<void*>(aligned);
}

}  // namespace

uint32_t HDB_NAMESPACE::block_capacity() {
  static_assert((kBlockBytes - kBlockHeadBytes) / sizeof(HDB_INSTANCE_NAME) <= kSlotMask + 1,
                "a block's names are numbered in kSlotBits");
  static_assert(sizeof(BLOCK_HEAD) <= kBlockHeadBytes && kBlockHeadBytes % alignof(HDB_INSTANCE_NAME) == 0);
  return uint32_t((kBlockBytes - kBlockHeadBytes) / sizeof(HDB_INSTANCE_NAME));
}

uint32_t HDB_NAMESPACE::place_of(const HDB_INSTANCE_NAME* name) {
  const uintptr_t base = uintptr_t(name) & ~uintptr_t(kBlockBytes - 1);
  const uint32_t index = uint32_t((uintptr_t(name) - base - kBlockHeadBytes) / sizeof(HDB_INSTANCE_NAME));
  return reinterpret_cast<const BLOCK_HEAD*>(base)->m_index << kSlotBits | index;
}

HDB_NAMESPACE::~HDB_NAMESPACE() {
  destroy_names();
  if (g_default_namespace == this) g_default_namespace = nullptr;
}

void HDB_NAMESPACE::destroy_names() {
  NAME_REGISTRY& reg = registry();
  for (size_t b = 0; b < m_name_blocks.size(); ++b) {
    const uint32_t used = b + 1 == m_name_blocks.size() ? m_names_in_last_block : block_capacity();
    for (uint32_t i = 0; i < used; ++i) {
      reg.erase(m_name_blocks[b][i].get_id());
      m_name_blocks[b][i].~HDB_INSTANCE_NAME();
    }
    ::munmap(reinterpret_cast<char*>(m_name_blocks[b]) - kBlockHeadBytes, kBlockBytes);
  }
  m_name_blocks.clear();
  m_names_in_last_block = 0;
}

uint32_t HDB_NAMESPACE::component_slot(HDB_SOURCE_COMPONENT* component) {
  if (!component) return 0;
  if (component == m_last_component) return m_last_component_slot;
  auto [it, added] = m_component_slots.try_emplace(component, uint32_t(m_component_table.size()));
  if (added) {
    if (m_component_table.size() < HDB_INSTANCE_NAME::kComponentInExtra) {
      m_component_table.push_back(component);
    } else {
      it->second = HDB_INSTANCE_NAME::kComponentInExtra;
    }
  }
  m_last_component = component;
  m_last_component_slot = it->second;
  return it->second;
}

void HDB_NAMESPACE::list_children() const {
  if (m_children_listed.load(std::memory_order_acquire)) return;
  std::lock_guard<std::mutex> lock(m_children_mutex);
  if (m_children_listed.load(std::memory_order_relaxed)) return;
  // The blocks hold the names in creation order, which is the order of
  // every child list.
  for (size_t b = 0; b < m_name_blocks.size(); ++b) {
    const uint32_t used = b + 1 == m_name_blocks.size() ? m_names_in_last_block : block_capacity();
    for (uint32_t i = 0; i < used; ++i)
      if (HDB_INSTANCE_NAME* parent = m_name_blocks[b][i].get_parent())
        parent->extra().m_children.push_back(&m_name_blocks[b][i]);
  }
  m_children_listed.store(true, std::memory_order_release);
}

void* HDB_NAMESPACE::allocate_name(uint32_t* place) {
  if (m_name_blocks.empty() || m_names_in_last_block == block_capacity()) {
    PLAT_CHECK(m_name_blocks.size() < (size_t(UINT32_MAX) >> kSlotBits) && "names of a namespace exhausted", "HDB");
    // A block the system refuses is memory refused, as for any other
    // allocation of a name (std::bad_alloc, which readers turn into their
    // "not enough memory" error), not a fault of the caller; the list has
    // room for the block before it is mapped, so none is lost.
    if (m_name_blocks.size() == m_name_blocks.capacity()) m_name_blocks.reserve(std::max<size_t>(8, 2 * m_name_blocks.size()));
    void* block = map_aligned(kBlockBytes);
    if (!block) throw std::bad_alloc();
    new (block) BLOCK_HEAD{this, uint32_t(m_name_blocks.size())};
    m_name_blocks.push_back(reinterpret_cast<HDB_INSTANCE_NAME*>(static_cast<char*>(block) + kBlockHeadBytes));
    m_names_in_last_block = 0;
  }
  *place = uint32_t(m_name_blocks.size() - 1) << kSlotBits | m_names_in_last_block;
  return m_name_blocks.back() + m_names_in_last_block++;
}

uint32_t HDB_NAMESPACE::store_text(std::string_view text, uint32_t component_slot) {
  const size_t need = text.size() + 3;
  if (need > m_text_left) {
    // Small namespaces start with small blocks; a text longer than a block
    // gets a block of its own size, so an entry's offset in its block always
    // fits 16 bits. The shift stops at the 64 KB cap, so any number of
    // blocks is safe.
    PLAT_CHECK(m_text_blocks.size() <= 0xffff && "name texts of a namespace exhausted", "HDB");
    const size_t shift = std::min<size_t>(m_text_blocks.size(), 6);
    const size_t size = std::max(need, std::min(kTextBlock, size_t(1024) << shift));
    m_text_blocks.push_back(std::make_unique_for_overwrite<char[]>(size));
    m_text_next = m_text_blocks.back().get();
    m_text_left = size;
  }
  char* out = m_text_next;
  const uint32_t place = uint32_t(m_text_blocks.size() - 1) << 16 | uint32_t(out - m_text_blocks.back().get());
  out[0] = char(component_slot & 0xff);
  out[1] = char(component_slot >> 8);
  if (!text.empty()) std::memcpy(out + 2, text.data(), text.size());
  out[text.size() + 2] = '\0';
  m_text_next += need;
  m_text_left -= need;
  return place;
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

HDB_INSTANCE_NAME* HDB_INSTANCE_NAME::create_group_element_name(int index, HDB_INSTANCE_NAME_FLAG flags) {
  const std::string text = get_unit_name_str();
  HDB_INSTANCE_NAME* element = get_namespace()->create_group_instance_name(get_parent(), text.c_str(), index);
  element->get_flags().set_flag(flags.get_value());
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
