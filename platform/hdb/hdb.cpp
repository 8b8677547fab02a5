// hdb.cpp — the name tree: namespaces, names, ids and paths.
//
// Model: each namespace owns its names in creation order; a process-wide
//   registry maps live ids to names (ids are never reused, even after a
//   namespace dies). Children are indexed by (synthesized mark, partial
//   name) for interning and kept in a vector for creation order.
// Cost: creation O(log children) plus one registry insert; paths O(depth).
#include "hdb/hdb.h"

#include <algorithm>
#include <unordered_map>

#include "hdb/hdb_int.h"
#include "msg/msg.h"
#include "testkit/platform_test_hooks.h"

namespace {

struct NAME_REGISTRY {
  std::unordered_map<int, HDB_INSTANCE_NAME*> by_id;
  int next_id = 1;
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

// ---------------------------------------------------------------- names

HDB_INSTANCE_NAME::~HDB_INSTANCE_NAME() = default;

HDB_INSTANCE_NAME* HDB_INSTANCE_NAME::make(HDB_NAMESPACE* ns, HDB_INSTANCE_NAME* parent,
                                           const std::string& text, bool synthesized,
                                           HDB_INSTANCE_NAME_FLAG flags, int id,
                                           HDB_SOURCE_COMPONENT* component) {
  NAME_REGISTRY& reg = registry();
  if (id == 0) {
    id = reg.next_id++;
  } else {
    PLAT_CHECK(id > 0 && reg.by_id.count(id) == 0 && "instance name id already in use", "HDB");
    reg.next_id = std::max(reg.next_id, id + 1);
  }
  std::unique_ptr<HDB_INSTANCE_NAME> owned(new HDB_INSTANCE_NAME);
  HDB_INSTANCE_NAME* name = owned.get();
  name->m_id = id;
  name->m_parent = parent;
  name->m_partial = text;
  name->m_synthesized = synthesized;
  name->m_flags = flags;
  name->m_namespace = ns;
  name->m_component = component;
  ns->m_names.push_back(std::move(owned));
  reg.by_id[id] = name;
  if (parent) {
    parent->m_children.push_back(name);
    parent->m_child_index[{synthesized, text}] = name;
  } else {
    ns->m_tops.push_back(name);
    ns->m_top_index[text] = name;
  }
  return name;
}

std::string HDB_INSTANCE_NAME::get_short_hpath(int fmt) const {
  PLAT_CHECK(fmt >= 0 && fmt <= 2, "HDB");
  if (fmt == 2) return m_partial;
  std::string path;
  get_hierarchy_path(nullptr, &path);
  if (fmt == 1) {
    const HDB_INSTANCE_NAME* top = this;
    while (top->m_parent) top = top->m_parent;
    size_t skip = top->m_partial.size();
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

HDB_INSTANCE_NAME* HDB_INSTANCE_NAME::find_in_children(const char* text, int kind) const {
  if (!text) return nullptr;
  std::string t(text);
  if (kind != 2) {
    auto it = m_child_index.find({false, t});
    if (it != m_child_index.end()) return it->second;
  }
  if (kind != 1) {
    auto it = m_child_index.find({true, t});
    if (it != m_child_index.end()) return it->second;
  }
  return nullptr;
}

HDB_INSTANCE_NAME* HDB_INSTANCE_NAME::create_child(HDB_INSTANCE_NAME* parent, const char* text,
                                                   HDB_INSTANCE_NAME_FLAG flags, int id,
                                                   bool synthesized,
                                                   HDB_SOURCE_COMPONENT_COL* components) {
  PLAT_CHECK(parent != nullptr, "HDB");
  PLAT_CHECK(text != nullptr && *text != '\0', "HDB");
  auto it = parent->m_child_index.find({synthesized, text});
  if (it != parent->m_child_index.end()) return it->second;
  HDB_SOURCE_COMPONENT* component =
      components ? components->get_primitive(kSynthesisPrimitive) : parent->m_component;
  return make(parent->m_namespace, parent, text, synthesized, flags, id, component);
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
  if (location) name->m_location = std::make_unique<MSG_LOCATION_SCHEMA>(*location);
  return name;
}

HDB_INSTANCE_NAME* HDB_INSTANCE_NAME::create_synthesized_name(HDB_INSTANCE_NAME* base, const char* ext,
                                                              bool unique, bool synthesized,
                                                              bool* reused) {
  PLAT_CHECK(base != nullptr, "HDB");
  PLAT_CHECK(ext != nullptr && *ext != '\0', "HDB");
  HDB_INSTANCE_NAME* parent = base->get_base_for_children();
  PLAT_CHECK(parent != nullptr, "HDB");
  auto& index = parent->m_child_index;
  std::string text(ext);
  if (reused) *reused = false;
  if (!unique) {
    auto it = index.find({synthesized, text});
    if (it != index.end()) {
      if (reused) *reused = true;
      return it->second;
    }
    return make(parent->m_namespace, parent, text, synthesized, {}, 0, parent->m_component);
  }
  if (index.count({synthesized, text})) {
    int& next = parent->m_unique_next[text];
    do {
      text = std::string(ext) + "~" + std::to_string(++next);
    } while (index.count({synthesized, text}));
  }
  return make(parent->m_namespace, parent, text, synthesized, {}, 0, parent->m_component);
}

HDB_INSTANCE_NAME* HDB_INSTANCE_NAME::create_numbered_synthesized_name(HDB_INSTANCE_NAME* base) {
  PLAT_CHECK(base != nullptr, "HDB");
  HDB_INSTANCE_NAME* parent = base->get_base_for_children();
  PLAT_CHECK(parent != nullptr, "HDB");
  // The first free number, searched from where the last search stopped
  // (names are never freed). The empty key cannot clash with an extension.
  int& next = parent->m_unique_next[std::string()];
  std::string text;
  do {
    text = std::to_string(++next);
  } while (parent->m_child_index.count({true, text}));
  return make(parent->m_namespace, parent, text, true, {}, 0, parent->m_component);
}

void HDB_INSTANCE_NAME::set_representative_name(HDB_INSTANCE_NAME* rep) {
  PLAT_CHECK(rep != this, "HDB");
  m_representative = rep;
}

HDB_INSTANCE_NAME* HDB_NAME_MGR::get_instance_name(int id) {
  NAME_REGISTRY& reg = registry();
  auto it = reg.by_id.find(id);
  return it == reg.by_id.end() ? nullptr : it->second;
}

// ---------------------------------------------------------------- namespaces

HDB_NAMESPACE::HDB_NAMESPACE(const char* root_name) {
  if (root_name && *root_name) HDB_INSTANCE_NAME::create_normal_name(this, root_name, nullptr, nullptr, nullptr);
}

HDB_NAMESPACE::~HDB_NAMESPACE() {
  NAME_REGISTRY& reg = registry();
  for (const auto& name : m_names) reg.by_id.erase(name->get_id());
  if (g_default_namespace == this) g_default_namespace = nullptr;
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
  PLAT_CHECK(element->m_group == nullptr || element->m_group == group, "HDB");
  element->m_group = group;
  element->m_group_index = index;
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
