// hdb_types.cpp — array types of a namespace's type database, and the type
// an instance name carries (kept in the name's side record).
#include "hdb/hdb_types.h"

#include <algorithm>

#include "hdb/hdb.h"
#include "msg/msg.h"

bool HDB_ARRAY_TYPE::contains(int i) const {
  return i >= std::min(m_left, m_right) && i <= std::max(m_left, m_right);
}

const HDB_ARRAY_TYPE* HDB_TYPE_DB::create_array_type(int left, int right, bool flag) {
  m_types.emplace_back(new HDB_ARRAY_TYPE(m_namespace, left, right, flag));
  return static_cast<const HDB_ARRAY_TYPE*>(m_types.back().get());
}

HDB_TYPE_DB* HDB_NAMESPACE::create_type_db() {
  if (!m_type_db) m_type_db.reset(new HDB_TYPE_DB(this));
  return m_type_db.get();
}

const HDB_TYPE* HDB_INSTANCE_NAME::get_type() const {
  const EXTRA* e = find_extra();
  return e ? e->m_type : nullptr;
}

void HDB_INSTANCE_NAME::set_type(const HDB_TYPE* type) {
  HDB_NAMESPACE* const m_namespace = get_namespace();  // the name's own, found from its top name
  PLAT_CHECK(!type || type->get_namespace() == m_namespace, "HDB");
  if (type || m_has_extra) extra().m_type = type;
}
