// Role: partition tree (docs/platform.md, "Partition tree").
// zhd.h — the partition tree of a design.
//
// Model: ZHD_ROOT (one per process) holds designs by name ("" is the
//   default design). A design owns a tree of partitions; each partition has
//   a name, the instance name of the hierarchy it starts at, an id, an
//   assignment namespace (get_hdb, not owned) and its children in order of
//   creation. The root partition is the top partition.
// A name belongs to the partition whose instance name is the name itself or
//   its nearest ancestor among the partitions' names; names outside every
//   partition belong to the root partition.
// Partition states are boost::optional values; s_unspecified (none) asks
//   for the record of the partition as it stands.
// Tests and tools build trees from code with kavu_platform::zhd_build.
// Not thread-safe; the tree is process-wide state, cleared by the test reset.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <boost/optional.hpp>

class HDB_INSTANCE_NAME;
class HDB_NAMESPACE;
class ZHD_PARTITION;

// A partition's state (a snapshot number of the incremental records); none
// means unspecified.
typedef boost::optional<int> ZHD_PARTITION_STATE;

// Iterates over a run of siblings; a default-constructed iterator is the end.
template <class T>
class ZHD_SIBLING_ITER {
 public:
  ZHD_SIBLING_ITER() = default;
  explicit ZHD_SIBLING_ITER(T* first) : m_current(first) {}
  T& operator*() const { return *m_current; }
  T* operator->() const { return m_current; }
  T* get() const { return m_current; }
  ZHD_SIBLING_ITER& operator++() {
    m_current = m_current->get_next_sibling();
    return *this;
  }
  bool operator==(const ZHD_SIBLING_ITER& o) const { return m_current == o.m_current; }
  bool operator!=(const ZHD_SIBLING_ITER& o) const { return m_current != o.m_current; }

 private:
  T* m_current = nullptr;
};

// The database record a partition reports for a state.
struct ZHD_DB_RECORD {
  const ZHD_PARTITION* partition = nullptr;
  ZHD_PARTITION_STATE state;
};

class ZHD_PARTITION {
 public:
  static const ZHD_PARTITION_STATE s_unspecified;

  ZHD_PARTITION(const ZHD_PARTITION&) = delete;
  ZHD_PARTITION& operator=(const ZHD_PARTITION&) = delete;

  const std::string& get_name() const { return m_name; }
  HDB_INSTANCE_NAME* get_instance_name() const { return m_iname; }
  int get_id() const { return m_id; }
  bool is_leaf() const { return m_children.empty(); }
  bool is_top() const { return m_parent == nullptr; }
  ZHD_PARTITION* get_parent() const { return m_parent; }
  ZHD_PARTITION* get_next_sibling() const { return m_next_sibling; }
  ZHD_SIBLING_ITER<ZHD_PARTITION> begin_child() const {
    return ZHD_SIBLING_ITER<ZHD_PARTITION>(m_children.empty() ? nullptr : m_children.front());
  }
  ZHD_SIBLING_ITER<ZHD_PARTITION> end_child() const { return ZHD_SIBLING_ITER<ZHD_PARTITION>(); }
  // The partition's assignment namespace (null: none given).
  HDB_NAMESPACE* get_hdb() const { return m_hdb; }
  void set_hdb(HDB_NAMESPACE* ns) { m_hdb = ns; }
  ZHD_DB_RECORD get_db_record(const ZHD_PARTITION_STATE& state = s_unspecified) const {
    return ZHD_DB_RECORD{this, state};
  }

 private:
  friend class ZHD_DESIGN;
  ZHD_PARTITION(std::string name, HDB_INSTANCE_NAME* iname, int id, ZHD_PARTITION* parent)
      : m_name(std::move(name)), m_iname(iname), m_id(id), m_parent(parent) {}

  std::string m_name;
  HDB_INSTANCE_NAME* m_iname;
  int m_id;
  ZHD_PARTITION* m_parent;
  ZHD_PARTITION* m_next_sibling = nullptr;
  std::vector<ZHD_PARTITION*> m_children;
  HDB_NAMESPACE* m_hdb = nullptr;
};

class ZHD_DESIGN {
 public:
  // A design with its root partition.
  ZHD_DESIGN(const std::string& root_name, HDB_INSTANCE_NAME* root_iname, int root_id);
  ZHD_DESIGN(const ZHD_DESIGN&) = delete;
  ZHD_DESIGN& operator=(const ZHD_DESIGN&) = delete;

  ZHD_PARTITION* get_root_partition() const { return m_partitions.front().get(); }
  int get_partition_count() const { return static_cast<int>(m_partitions.size()); }
  // Adds a child partition under `parent` (a partition of this design). Two
  // partitions may not share an id or an instance name.
  ZHD_PARTITION* add_partition(ZHD_PARTITION* parent, const std::string& name,
                               HDB_INSTANCE_NAME* iname, int id);
  // The partition that holds the name (see the file comment); null gives the
  // root partition.
  ZHD_PARTITION* get_partition_of(const HDB_INSTANCE_NAME* iname) const;
  // The partition of that name, or null.
  ZHD_PARTITION* get_partition_by_name(const std::string& name) const;
  // Every partition, each before its children, children in creation order.
  std::vector<ZHD_PARTITION*> partitions_in_tree_order() const;

 private:
  std::vector<std::unique_ptr<ZHD_PARTITION>> m_partitions;
  std::map<int, ZHD_PARTITION*> m_by_name_id;  // instance-name id -> partition
};

class ZHD_ROOT {
 public:
  static ZHD_ROOT& get();
  // True when the default design ("") exists.
  bool has_design() const { return get_design("") != nullptr; }
  // The design of that name, or null.
  ZHD_DESIGN* get_design(const std::string& name) const;

 private:
  friend struct ZHD_ROOT_ACCESS;
  ZHD_ROOT() = default;
  std::map<std::string, std::unique_ptr<ZHD_DESIGN>> m_designs;
};

namespace kavu_platform {

// One partition of a tree built from code; `parent` is the index of an
// earlier entry, -1 for the root (the first entry, and only it).
struct ZHD_BUILD_ENTRY {
  std::string name;
  HDB_INSTANCE_NAME* iname = nullptr;
  int parent = -1;
  int id = 0;
};
// Replaces the design `design_name` with a tree of the given partitions and
// returns it. An empty list, a root that is not first, or a parent index
// that does not name an earlier entry is an internal error.
ZHD_DESIGN* zhd_build(const std::string& design_name, const std::vector<ZHD_BUILD_ENTRY>& entries);
// Removes every design (called by plat_test_reset_all).
void zhd_reset();

}  // namespace kavu_platform
