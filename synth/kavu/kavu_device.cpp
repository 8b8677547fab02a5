// kavu_device.cpp — assignments on instance names, device atoms and I/O
// buffer gates for a family, structured-ASIC migration queries, tri-state
// buffers of tolvafunctions and message locations.
//
// Model: an assignment is made by the source component of the name's
//   namespace root and marked as made by synthesis; the device-atom types
//   of each accepted base family come from one table (FAMILY_ATOMS). The
//   structured-ASIC families are 34, 35 and 36; the FPGA families 6, 7, 60
//   and 61 have the companions 34, 36, 36 and 35.
// Migration cache: the family of the part named by the chip's migration
//   list is looked up once per process (it needs the namespace, which does
//   not change during a compile) and every later call compares the family
//   asked about with it. Only the first lookup fills process-wide state, so
//   only it refuses to run during parallel synthesis.
// Cost: every function is O(1) apart from name and section lookups.
#include "kavu_device.h"

#include <string>

#include "hdb/hdb.h"
#include "hdb/hdb_section.h"
#include "kavu_check.h"
#include "kavu_msg.h"
#include "kavu_name.h"
#include "kavu_utility.h"
#include "mem/mem.h"
#include "msg/msg.h"

namespace {

// ---------------------------------------------------------------- atoms per family

const CDB_WYSIWYG_TYPE kNoAtom = 0;

struct FAMILY_ATOMS {
  int m_family;
  CDB_WYSIWYG_TYPE m_lc_ff;
  CDB_WYSIWYG_TYPE m_logic_module;  // kNoAtom: the family has none
  CDB_WYSIWYG_TYPE m_lc_comb;
};

const FAMILY_ATOMS kFamilyAtoms[] = {
    {15, 62, kNoAtom, 61},
    {25, 115, 113, 93},
    {45, 94, 122, 93},
    {47, 62, kNoAtom, 61},
};

const FAMILY_ATOMS* find_family_atoms(DEV_FAMILY_ENUM family) {
  for (const FAMILY_ATOMS& row : kFamilyAtoms) {
    if (row.m_family == family) return &row;
  }
  return nullptr;
}

// ---------------------------------------------------------------- assignments

// The forms differ in the path format, the further record field and whether
// they trace and may create the option; the six-argument form has all three.
struct ATTACH_REQUEST {
  HDB_INSTANCE_NAME* m_name;
  ACF_SECTION_TYPE_ENUM m_section;
  ACF_VARIABLE_TYPE_ENUM m_variable;
  const char* m_value;
  bool m_full_form;      // six-argument form
  bool m_create_option;  // full form only
};

void attach_assignment(const ATTACH_REQUEST& req) {
  KAVU_CHECK(req.m_name != nullptr);
  KAVU_CHECK(req.m_value != nullptr);
  const std::string path = req.m_name->get_short_hpath(req.m_full_form ? 0 : 1);
  const HDB_CREATE_ASGN_INFO info(req.m_section, req.m_variable, path, req.m_name, req.m_value,
                                  !req.m_full_form);

  HDB_NAMESPACE* ns = req.m_name->get_namespace();
  KAVU_CHECK(ns != nullptr);
  HDB_INSTANCE_NAME* root = ns->get_root();
  KAVU_CHECK(root != nullptr);
  HDB_SOURCE_COMPONENT* component = root->get_source_component();
  KAVU_CHECK(component != nullptr);
  HDB_ASSIGNMENT* asgn = HDB_ASSIGNMENT::create(component, info);
  if (req.m_full_form) kavu_debug("Creating assignment in name's source component");
  KAVU_CHECK(asgn != NULL);
  asgn->set_flag(HDB_ASSIGNMENT::FLAG_CREATED_BY_SYNTHESIS, nullptr);

  if (req.m_create_option) {
    HDB_OPTION* generated_option = asgn->create_option();
    KAVU_CHECK(generated_option != NULL);
  }
  kavu_debug_at_level(3, "Added string assignment on %s", path.c_str());
}

const char* enum_text(ACF_ENUM_TYPE_ENUM value) {
  const char* text = acf_enum_type_to_string(value);
  KAVU_CHECK(text != nullptr);
  return text;
}

// ---------------------------------------------------------------- atoms

CDB_SGATE_NODE* new_atom(HDB_INSTANCE_NAME* name, CDB_WYSIWYG_TYPE type) {
  return new CDB_SGATE_WYSIWYG(name, type);
}

// ---------------------------------------------------------------- migration cache

struct MIGRATION_CACHE {
  bool m_computed = false;
  DEV_FAMILY_ENUM m_family = DEV_FAMILY_NONE;  // family of the migration part, 0: none
};

MIGRATION_CACHE& migration_cache() {
  static MIGRATION_CACHE s_cache;
  return s_cache;
}

// The family of the part the chip's migration assignment names, or 0.
DEV_FAMILY_ENUM lookup_migration_family(HDB_NAMESPACE* ns) {
  HDB_SECTION* chip = HDB_SECTION::get_chip(ns);
  if (!chip) return DEV_FAMILY_NONE;
  HDB_ASSIGNMENT* asgn = chip->find_assignment(ACF_DEVICE_TECHNOLOGY_MIGRATION_LIST);
  if (!asgn) return DEV_FAMILY_NONE;
  const char* part_name = asgn->get_value_str();
  if (!dstr_exists_dev_part_enum_by_string(part_name)) return DEV_FAMILY_NONE;
  const DEV_PART_ENUM part = dstr_get_dev_part_enum_by_string(part_name);
  if (part == DEV_PART_INVALID) return DEV_FAMILY_NONE;
  return DEV_PART_MANAGER::get_family_of(part);
}

}  // namespace

// ---------------------------------------------------------------- assignments

void kavu_attach_string_assignment_to_iname(HDB_INSTANCE_NAME* name, ACF_SECTION_TYPE_ENUM section,
                                            ACF_VARIABLE_TYPE_ENUM variable, const char* value,
                                            CMP_FACADE*, bool create_option) {
  attach_assignment({name, section, variable, value, true, create_option});
}

void kavu_attach_string_assignment_to_iname(HDB_INSTANCE_NAME* name, ACF_SECTION_TYPE_ENUM section,
                                            ACF_VARIABLE_TYPE_ENUM variable, const char* value) {
  attach_assignment({name, section, variable, value, false, false});
}

void kavu_attach_assignment_to_iname(HDB_INSTANCE_NAME* name, ACF_SECTION_TYPE_ENUM section,
                                     ACF_VARIABLE_TYPE_ENUM variable, ACF_ENUM_TYPE_ENUM value,
                                     CMP_FACADE* facade, bool create_option) {
  kavu_attach_string_assignment_to_iname(name, section, variable, enum_text(value), facade, create_option);
}

void kavu_attach_assignment_to_iname(HDB_INSTANCE_NAME* name, ACF_SECTION_TYPE_ENUM section,
                                     ACF_VARIABLE_TYPE_ENUM variable, ACF_ENUM_TYPE_ENUM value) {
  kavu_attach_string_assignment_to_iname(name, section, variable, enum_text(value));
}

void kavu_attach_bool_assignment_to_iname(HDB_INSTANCE_NAME* name, ACF_SECTION_TYPE_ENUM section,
                                          ACF_VARIABLE_TYPE_ENUM variable, bool value,
                                          CMP_FACADE* facade, bool create_option) {
  kavu_attach_string_assignment_to_iname(name, section, variable, value ? "On" : "Off", facade,
                                         create_option);
}

void kavu_attach_bool_assignment_to_iname(HDB_INSTANCE_NAME* name, ACF_SECTION_TYPE_ENUM section,
                                          ACF_VARIABLE_TYPE_ENUM variable, bool value) {
  kavu_attach_string_assignment_to_iname(name, section, variable, value ? "On" : "Off");
}

// ---------------------------------------------------------------- device atoms

CDB_SGATE_NODE* kavu_create_new_lc_ff(HDB_INSTANCE_NAME* name, DEV_FAMILY_ENUM family) {
  const FAMILY_ATOMS* row = find_family_atoms(family);
  if (!row) KAVU_INTERNAL_ERROR("WYS LC FF requested for unknown family");
  return new_atom(name, row->m_lc_ff);
}

CDB_SGATE_NODE* kavu_create_new_logic_module(HDB_INSTANCE_NAME* name, DEV_FAMILY_ENUM family) {
  const FAMILY_ATOMS* row = find_family_atoms(family);
  if (!row) KAVU_INTERNAL_ERROR("WYS LOGIC_MODULE requested for unknown family");
  if (row->m_logic_module == kNoAtom) {
    KAVU_INTERNAL_ERROR("WYS LOGIC_MODULE requested for an unsupported family");
  }
  return new_atom(name, row->m_logic_module);
}

CDB_SGATE_NODE* kavu_create_new_lc_comb(HDB_INSTANCE_NAME* name, DEV_FAMILY_ENUM family) {
  const FAMILY_ATOMS* row = find_family_atoms(family);
  if (!row) KAVU_INTERNAL_ERROR("WYS LC COMB requested for unknown family");
  CDB_SGATE_NODE* atom = new_atom(name, row->m_lc_comb);
  // Every output the cell can drive exists from the start, in this order,
  // so that callers may connect any of them without asking first.
  const DB_OUTPUT_PORT_TYPE outputs[] = {DB_PORT_SUMOUT, DB_PORT_COMBOUT, DB_PORT_COUT,
                                         DB_PORT_SHAREOUT, DB_PORT_OUT_1};
  for (DB_OUTPUT_PORT_TYPE port : outputs) rtl_fetch_create_wys_oterm(port, atom, true);
  return atom;
}

// ---------------------------------------------------------------- I/O buffers

CDB_SGATE_IO_BUF* kavu_create_new_tri_buffer(CDB_SGATE_NODE* ref_node, CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(ref_node);
  KAVU_CHECK(netlist);
  CDB_SGATE_IO_BUF* buf = new CDB_SGATE_IO_BUF(ref_node->get_instance_name(), CDB_IO_BUF_TRI);
  netlist->add_node(buf, true);
  kavu_create_synthesized_name(buf, ref_node, "tri");
  MEM_SEGMENT* seg = MEM_MANAGER::get_default_segment();
  buf->set_ordered_input_term(buf->create_input_term(seg, DB_PORT_DATAIN), 0);
  buf->set_ordered_input_term(buf->create_input_term(seg, DB_PORT_OE), 1);
  return buf;
}

CDB_SGATE_IO_BUF* kavu_create_new_opndrn_buffer(CDB_SGATE_NODE* ref_node, CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(ref_node);
  KAVU_CHECK(netlist);
  CDB_SGATE_IO_BUF* buf = new CDB_SGATE_IO_BUF(ref_node->get_instance_name(), CDB_IO_BUF_OPEN_DRAIN);
  kavu_create_synthesized_name(buf, ref_node, "opndrn");
  netlist->add_node(buf, true);
  MEM_SEGMENT* seg = MEM_MANAGER::get_default_segment();
  buf->set_ordered_input_term(buf->create_input_term(seg, DB_PORT_DATAIN), 0);
  return buf;
}

bool kavu_is_a_tolvafunction_generated_tri_buffer(const CDB_SGATE_NODE* gate) {
  KAVU_CHECK(gate);
  if (gate->get_sgate_type() != CDB_SGATE_IO_BUF_ENUM) return false;
  const CDB_SGATE_IO_BUF* buf = gate->cast_to_io_buf();
  if (buf->get_io_buf_type() != CDB_IO_BUF_TRI) return false;
  CDB_SGATE_OTERM* tri_oterm = gate->get_output_term(0);
  KAVU_CHECK(tri_oterm != NULL);
  HDB_INSTANCE_NAME* name = tri_oterm->get_instance_name();
  if (!name) return false;
  HDB_DERIVED_OPTION<1, 0>* option =
      HDB_DERIVED_OPTION<1, 0>::get_single_option(name, ACF_TOLVAFUNCTION_GENERATED_TRI, true);
  return option && option->get_value();
}

// ---------------------------------------------------------------- migration

bool kavu_lumcast_migration_enabled(CMP_FACADE* facade, DEV_FAMILY_ENUM family) {
  KAVU_CHECK(facade != 0);
  HDB_NAMESPACE* cap = facade->get_namespace();
  KAVU_CHECK(cap != 0);
  MIGRATION_CACHE& cache = migration_cache();
  if (!cache.m_computed) {
    if (cdb_sgate_synthesis_is_running_in_parallel()) {
      KAVU_INTERNAL_ERROR("Fix these static variables if you want to run parallel");
    }
    cache.m_family = lookup_migration_family(cap);
    cache.m_computed = true;
  }
  return cache.m_family != DEV_FAMILY_NONE && cache.m_family == family;
}

bool kavu_is_lmc_or_fpga_with_lmc_companion(CMP_FACADE* facade, bool exclude_lmc_family_34) {
  KAVU_CHECK(facade != 0);
  switch (static_cast<int>(facade->get_family())) {
    case 35:
    case 36:
      return true;
    case 61:
      return kavu_lumcast_migration_enabled(facade, DEV_FAMILY_ENUM(35));
    case 7:
    case 60:
      return kavu_lumcast_migration_enabled(facade, DEV_FAMILY_ENUM(36));
    case 34:
      return !exclude_lmc_family_34;
    case 6:
      return !exclude_lmc_family_34 && kavu_lumcast_migration_enabled(facade, DEV_FAMILY_ENUM(34));
    default:
      return false;
  }
}

void kavu_reset_lumcast_migration_cache() { migration_cache() = MIGRATION_CACHE(); }

// ---------------------------------------------------------------- messages

bool kavu_add_location(MSG_POST* msg, const CDB_SGATE_NODE* gate) {
  KAVU_CHECK(msg);
  KAVU_CHECK(gate);
  HDB_INSTANCE_NAME* name = nullptr;
  if (CDB_SGATE_OTERM* preferred = gate->get_preferred_oterm()) {
    name = preferred->get_synfrom_name();
  } else if (gate->get_instance_name()) {
    name = gate->get_synfrom_name();
  }
  if (!name) {
    kavu_debug("Sgate %s %s %s has no preferred oterm or it has no name. Mmmm.",
               gate->get_string_type_name(), gate->get_debug_name().c_str(),
               gate->get_string_hpath().c_str());
    return false;
  }
  const MSG_LOCATION_SCHEMA* schema = name->get_location();
  if (!schema) return false;
  msg->add_location(std::string(schema->get_unmodified_source()), schema, "", "");
  return true;
}
