// zhd.cpp — the partition tree.
//
// Partitions are owned by their design in creation order; the name index maps
// instance-name ids (never reused) to partitions, so lookups are
// deterministic. get_partition_of walks the name's ancestors: O(depth · log
// partitions). The tree-order walk uses an explicit stack.
#include "zhd/zhd.h"

#include "hdb/hdb.h"
#include "msg/msg.h"

const ZHD_PARTITION_STATE ZHD_PARTITION::s_unspecified = boost::none;

ZHD_DESIGN::ZHD_DESIGN(const std::string& root_name, HDB_INSTANCE_NAME* root_iname, int root_id) {
  m_partitions.emplace_back(new ZHD_PARTITION(root_name, root_iname, root_id, nullptr));
  if (root_iname) m_by_name_id[root_iname->get_id()] = m_partitions.back().get();
}

ZHD_PARTITION* ZHD_DESIGN::add_partition(ZHD_PARTITION* parent, const std::string& name,
                                         HDB_INSTANCE_NAME* iname, int id) {
  PLAT_CHECK(parent != nullptr, "PLATFORM");
  bool parent_is_mine = false;
  for (const auto& p : m_partitions) {
    PLAT_CHECK(p->get_id() != id, "PLATFORM");
    parent_is_mine = parent_is_mine || p.get() == parent;
  }
  PLAT_CHECK(parent_is_mine, "PLATFORM");
  PLAT_CHECK(!iname || m_by_name_id.count(iname->get_id()) == 0, "PLATFORM");
  m_partitions.emplace_back(new ZHD_PARTITION(name, iname, id, parent));
  ZHD_PARTITION* child = m_partitions.back().get();
  if (!parent->m_children.empty()) parent->m_children.back()->m_next_sibling = child;
  parent->m_children.push_back(child);
  if (iname) m_by_name_id[iname->get_id()] = child;
  return child;
}

ZHD_PARTITION* ZHD_DESIGN::get_partition_of(const HDB_INSTANCE_NAME* iname) const {
  for (const HDB_INSTANCE_NAME* n = iname; n; n = n->get_parent()) {
    auto it = m_by_name_id.find(n->get_id());
    if (it != m_by_name_id.end()) return it->second;
  }
  return get_root_partition();
}

ZHD_PARTITION* ZHD_DESIGN::get_partition_by_name(const std::string& name) const {
  for (const auto& p : m_partitions) {
    if (p->get_name() == name) return p.get();
  }
  return nullptr;
}

std::vector<ZHD_PARTITION*> ZHD_DESIGN::partitions_in_tree_order() const {
  std::vector<ZHD_PARTITION*> order;
  order.reserve(m_partitions.size());
  std::vector<ZHD_PARTITION*> stack{get_root_partition()};
  while (!stack.empty()) {
    ZHD_PARTITION* p = stack.back();
    stack.pop_back();
    order.push_back(p);
    // Pushed in reverse so the first child is visited first.
    for (auto it = p->m_children.rbegin(); it != p->m_children.rend(); ++it) stack.push_back(*it);
  }
  return order;
}

struct ZHD_ROOT_ACCESS {
  static std::map<std::string, std::unique_ptr<ZHD_DESIGN>>& designs() { return ZHD_ROOT::get().m_designs; }
};

ZHD_ROOT& ZHD_ROOT::get() {
  static ZHD_ROOT s_root;
  return s_root;
}

namespace {
// Made as the layer loads, not at first use: a process that forks while
// another thread makes it would leave its child waiting for it for ever.
[[maybe_unused]] const bool g_root_at_load = (ZHD_ROOT::get(), true);
}  // namespace

ZHD_DESIGN* ZHD_ROOT::get_design(const std::string& name) const {
  auto it = m_designs.find(name);
  return it == m_designs.end() ? nullptr : it->second.get();
}

namespace kavu_platform {

ZHD_DESIGN* zhd_build(const std::string& design_name, const std::vector<ZHD_BUILD_ENTRY>& entries) {
  PLAT_CHECK(!entries.empty(), "PLATFORM");
  PLAT_CHECK(entries.front().parent == -1, "PLATFORM");
  auto design = std::make_unique<ZHD_DESIGN>(entries[0].name, entries[0].iname, entries[0].id);
  std::vector<ZHD_PARTITION*> made{design->get_root_partition()};
  for (size_t i = 1; i < entries.size(); ++i) {
    const ZHD_BUILD_ENTRY& e = entries[i];
    PLAT_CHECK(e.parent >= 0 && static_cast<size_t>(e.parent) < i, "PLATFORM");
    made.push_back(design->add_partition(made[e.parent], e.name, e.iname, e.id));
  }
  ZHD_DESIGN* result = design.get();
  ZHD_ROOT_ACCESS::designs()[design_name] = std::move(design);
  return result;
}

void zhd_reset() { ZHD_ROOT_ACCESS::designs().clear(); }

}  // namespace kavu_platform
