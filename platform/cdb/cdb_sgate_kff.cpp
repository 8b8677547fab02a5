// cdb_sgate_kff.cpp — keep-fan-out-free requests read from the assignments.
#include "cdb/cdb_sgate.h"

void cdb_sgate_set_keep_fanout_free_flags_from_assignments(CDB_SGATE_NODE* node) {
  PLAT_CHECK(node != nullptr, "CDB");
  const bool requested = node->kff_requested();
  node->set_kff(requested, requested, true);
}
