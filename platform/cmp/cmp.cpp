// cmp.cpp — the compiler facade and its process-wide holder.
//
// Per-hierarchy techniques are looked up on the name and then on its
// ancestors, so a setting on an instance covers everything below it.
// Cost: O(depth · log settings) per technique lookup.
#include "cmp/cmp.h"

#include "hdb/hdb.h"

HDB_NAMESPACE* CMP_FACADE::get_namespace() const {
  return m_namespace ? m_namespace : kavu_platform::hdb_default_namespace();
}

int CMP_FACADE::get_optimization_technique(const HDB_INSTANCE_NAME* hier) const {
  for (const HDB_INSTANCE_NAME* n = hier; n; n = n->get_parent()) {
    auto it = m_techniques.find(n->get_id());
    if (it != m_techniques.end()) return it->second;
  }
  return m_default_technique;
}

void CMP_FACADE::set_optimization_technique(const HDB_INSTANCE_NAME* hier, int code) {
  if (hier) {
    m_techniques[hier->get_id()] = code;
  } else {
    m_default_technique = code;
  }
}

int CMP_FACADE::get_enum_code(const std::string& text) const {
  auto it = m_enum_codes.find(text);
  return it == m_enum_codes.end() ? -1 : it->second;
}

ZCU_FACADE_UTIL* ZCU_FACADE_UTIL::get_instance() {
  static ZCU_FACADE_UTIL s_instance;
  return &s_instance;
}

namespace kavu_platform {

void cmp_test_reset() { ZCU_FACADE_UTIL::get_instance()->set_facade(nullptr); }

}  // namespace kavu_platform
