// Role: names and assignments
// (docs/platform.md, "Name layer"; see also "Options, sections and types").
// hdb_int.h — the option record shared by the name tree and the option store.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "hdb/hdb.h"
#include "hdb/hdb_section.h"

namespace kavu_platform {

// One stored option. Typed views (HDB_DERIVED_OPTION<K,0>) are made on first
// request, one per kind, and live as long as the record.
struct HDB_OPTION_RECORD {
  int variable = 0;
  std::string value;
  HDB_INSTANCE_NAME* target = nullptr;  // null: a global option
  std::unique_ptr<HDB_ASSIGNMENT> assignment;  // made on first request (get_assignment)
  std::map<int, std::unique_ptr<HDB_OPTION>> views;
};

}  // namespace kavu_platform
