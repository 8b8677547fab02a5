// Role: names and assignments
// (docs/platform.md, "Name layer"; see also "Options, sections and types").
// hdb_types.h — the type database of a namespace: types that instance names
// may carry, so far array types over an index range (the bus groups that
// passes create for banks of new registers).
//
// Model: a namespace owns at most one type database (HDB_NAMESPACE::
// create_type_db), which owns its types for the namespace's lifetime; an
// instance name refers to one type or none (HDB_INSTANCE_NAME::set_type).
// Types are never shared across namespaces; a name of another namespace
// given a type of this one is a PLAT_CHECK failure.
// Cost: creation O(1); no lookup by value (each call makes a new type).
#pragma once

#include <memory>
#include <vector>

class HDB_NAMESPACE;
class HDB_ARRAY_TYPE;

class HDB_TYPE {
 public:
  virtual ~HDB_TYPE() = default;
  HDB_TYPE(const HDB_TYPE&) = delete;
  HDB_TYPE& operator=(const HDB_TYPE&) = delete;
  virtual const HDB_ARRAY_TYPE* cast_to_array_type() const { return nullptr; }
  HDB_NAMESPACE* get_namespace() const { return m_namespace; }

 protected:
  explicit HDB_TYPE(HDB_NAMESPACE* ns) : m_namespace(ns) {}

 private:
  HDB_NAMESPACE* m_namespace;
};

// An array over the index range [left, right] (either order); the flag is the
// elaboration's own mark, kept as given.
class HDB_ARRAY_TYPE : public HDB_TYPE {
 public:
  int get_left() const { return m_left; }
  int get_right() const { return m_right; }
  bool get_flag() const { return m_flag; }
  // True when index i lies within the range.
  bool contains(int i) const;
  const HDB_ARRAY_TYPE* cast_to_array_type() const override { return this; }

 private:
  friend class HDB_TYPE_DB;
  HDB_ARRAY_TYPE(HDB_NAMESPACE* ns, int left, int right, bool flag)
      : HDB_TYPE(ns), m_left(left), m_right(right), m_flag(flag) {}
  int m_left, m_right;
  bool m_flag;
};

class HDB_TYPE_DB {
 public:
  explicit HDB_TYPE_DB(HDB_NAMESPACE* ns) : m_namespace(ns) {}
  HDB_TYPE_DB(const HDB_TYPE_DB&) = delete;
  HDB_TYPE_DB& operator=(const HDB_TYPE_DB&) = delete;
  // A new array type over [left, right], owned by this database.
  const HDB_ARRAY_TYPE* create_array_type(int left, int right, bool flag);
  size_t size() const { return m_types.size(); }
  HDB_NAMESPACE* get_namespace() const { return m_namespace; }

 private:
  HDB_NAMESPACE* m_namespace;
  std::vector<std::unique_ptr<HDB_TYPE>> m_types;
};
