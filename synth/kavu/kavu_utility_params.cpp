// kavu_utility_params.cpp — inference messages (see kavu_utility_params.h).
// A ROM without an instance name is named by its hierarchy's path, "|" and
// its name string, which may be missing: it then reads as empty text.
#include "kavu_utility_params.h"

#include <string>

#include "cdb/cdb_sgate.h"
#include "cfg/cfg.h"
#include "cmp/cmp.h"
#include "hdb/hdb.h"
#include "kavu_check.h"
#include "kavu_msg.h"
#include "msg/msg.h"

namespace {

constexpr int MISSING_MIF_MSG_ID = 286034;

HDB_INSTANCE_NAME* namespace_root(CMP_FACADE* facade) {
  HDB_NAMESPACE* ns = facade ? facade->get_namespace() : nullptr;
  return ns ? ns->get_rooted_at() : nullptr;
}

std::string path_below(const HDB_INSTANCE_NAME* name, const HDB_INSTANCE_NAME* root) {
  std::string path;
  if (name) name->get_hierarchy_path(root, &path, false, 0);
  return path;
}

}  // namespace

void opt_add_parameter_messages(MSG_I* msg, CDB_SGATE_COMPONENT* component) {
  if (cfg_is_on("opt_dont_display_inference_parameter_messages", false)) return;
  KAVU_CHECK(msg && component);
  for (auto it = component->begin_const_parameter_table(); it != component->end_const_parameter_table(); ++it) {
    if (!it->get_name() || !it->get_value()) continue;
    msg->add_msg(kavu_msg_inferred_tolvafunction_parameter(it->get_name(), it->get_value()));
  }
}

bool rtl_iterm_vector_is_gnd(std::vector<CDB_SGATE_ITERM*>* iterms) {
  KAVU_CHECK(iterms);
  for (CDB_SGATE_ITERM* t : *iterms)
    if (!t || !t->is_gnd()) return false;
  return true;
}

void opt_issue_missing_mif_error(CDB_SGATE_NODE* rom, const char* file_name, CMP_FACADE* facade,
                                 CDB_SGATE_HIERARCHY* hierarchy) {
  KAVU_CHECK(rom);
  HDB_INSTANCE_NAME* root = namespace_root(facade);
  HDB_INSTANCE_NAME* iname = rom->get_instance_name();
  std::string path;
  if (iname) {
    path = path_below(iname, root);
  } else {
    const char* text = rom->get_string_name();
    path = path_below(hierarchy ? hierarchy->get_instance_name() : nullptr, root) + "|" + (text ? text : "");
  }
  MSG_E* msg = new MSG_E;
  msg->fill_args(kavu_msg_string(MISSING_MIF_MSG_ID), file_name ? file_name : "", path.c_str());
  msg->set_id(MISSING_MIF_MSG_ID);
  const MSG_LOCATION_SCHEMA* schema = iname ? iname->get_location() : nullptr;
  if (schema) msg->add_location(schema->get_unmodified_source(), schema, "", iname->get_unit_name());
  msg->post();
  delete msg;
}
