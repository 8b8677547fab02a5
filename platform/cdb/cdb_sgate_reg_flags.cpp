// cdb_sgate_reg_flags.cpp — optimisation flags from assignments (contract in
// cdb_sgate_reg_flags.h).
#include "cdb/cdb_sgate_reg_flags.h"

#include "cdb/cdb_sgate.h"
#include "hdb/acf.h"
#include "hdb/hdb.h"
#include "msg/msg.h"

namespace {

// The Boolean option of the gate's name, or null.
HDB_DERIVED_OPTION<1, 0>* bool_option(const CDB_SGATE_NODE* node, int variable) {
  const HDB_INSTANCE_NAME* name = node->get_instance_name();
  return name ? HDB_DERIVED_OPTION<1, 0>::get_single_option(name, variable) : nullptr;
}

}  // namespace

void cdb_sgate_set_dff_flags_from_assignments(CDB_SGATE_NODE* node) {
  PLAT_CHECK(node != nullptr, "CDB");
  CDB_REG_FLAGS* flags = node->get_reg_flags();
  if (!flags) return;
  if (auto* o = bool_option(node, ACF_ALLOW_ANY_REGISTER_CHANGE)) flags->set_allow_anything(o->get_value());
  if (auto* o = bool_option(node, ACF_PRESERVE_REGISTER)) flags->set_preserve(o->get_value());
  if (auto* o = bool_option(node, ACF_DONT_MERGE_REGISTER)) flags->set_merge_allowed(!o->get_value());
  if (auto* o = bool_option(node, ACF_DONT_PRUNE_REGISTER)) flags->set_prune_allowed(!o->get_value());
  if (auto* o = bool_option(node, ACF_NOT_GATE_PUSH_BACK)) flags->set_not_gate_push_allowed(o->get_value());
}

void cdb_sgate_set_max_fanout(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* node) {
  PLAT_CHECK(netlist != nullptr && node != nullptr, "CDB");
  const HDB_INSTANCE_NAME* name = node->get_instance_name();
  auto* o = name ? HDB_DERIVED_OPTION<4, 0>::get_single_option(name, ACF_MAX_FANOUT) : nullptr;
  if (!o || o->get_value() < 0) return;
  if (CDB_REG_FLAGS* flags = node->get_reg_flags()) flags->set_max_fanout(o->get_value());
  netlist->set_max_fanout_constraint(node, o->get_value());
}

void cdb_sgate_set_keep_fanout_free_flags_from_assignments(CDB_SGATE_NODE* node) {
  PLAT_CHECK(node != nullptr, "CDB");
  // An assignment decides; without one, a request already on the gate stands.
  auto* o = bool_option(node, ACF_KEEP_FANOUT_FREE);
  const bool keep = o ? o->get_value() : node->kff_requested();
  node->set_kff(keep, keep, true);
}
