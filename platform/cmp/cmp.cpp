// cmp.cpp — the compiler facade and its process-wide holder.
//
// Per-hierarchy techniques are looked up on the name and then on its
// ancestors, so a setting on an instance covers everything below it.
// Cost: O(depth · log settings) per technique lookup.
#include "cmp/cmp.h"

#include <memory>

#include "gen/gen.h"
#include "hdb/hdb.h"
#include "msg/msg.h"

namespace {

std::map<std::string, std::unique_ptr<ZDB_DIRECTORY_MODEL>>& directory_models() {
  static std::map<std::string, std::unique_ptr<ZDB_DIRECTORY_MODEL>> s_models;
  return s_models;
}

}  // namespace

const char* const ZDB_DIRECTORY_MODEL::s_model_type_string = "directory";

std::string ZDB_PATH::to_string() const {
  return (m_partition ? m_partition->get_name() : std::string()) + "/" + m_model;
}

ZDB_DIRECTORY_MODEL* ZDB_DIRECTORY_MODEL::find(const ZDB_PATH& path) {
  auto it = directory_models().find(path.to_string());
  return it == directory_models().end() ? nullptr : it->second.get();
}

ZDB_DIRECTORY_MODEL* ZDB_DIRECTORY_MODEL::create(const ZDB_PATH& path, const char* type, int mode) {
  PLAT_CHECK(type && std::string(type) == s_model_type_string, "PLATFORM");
  PLAT_CHECK(mode == 1 || mode == 2, "PLATFORM");
  PLAT_CHECK(path.get_partition() != nullptr && !path.get_model().empty(), "PLATFORM");
  if (ZDB_DIRECTORY_MODEL* existing = find(path)) return existing;
  std::string dir = gen_get_db_dir_path();
  if (mode == 1) dir += "/" + path.get_partition()->get_name();
  if (!FIO_FILE_SYSTEM::create(dir + "/" + path.get_model())) return nullptr;
  FIO_PATH fio;
  fio.directory(dir).base(path.get_model());
  auto& slot = directory_models()[path.to_string()];
  slot.reset(new ZDB_DIRECTORY_MODEL(fio));
  return slot.get();
}

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

namespace {
// Made as the layer loads, not at first use: a process that forks while
// another thread makes it would leave its child waiting for it for ever.
[[maybe_unused]] const bool g_facade_at_load = (directory_models(), ZCU_FACADE_UTIL::get_instance(), true);
}  // namespace

namespace kavu_platform {

void cmp_test_reset() {
  ZCU_FACADE_UTIL::get_instance()->set_facade(nullptr);
  directory_models().clear();
}

}  // namespace kavu_platform
