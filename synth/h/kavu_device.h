// kavu_device.h — the gate netlist meets the assignment and device
// databases: assignments attached to instance names, device atoms and I/O
// buffer gates made for a family, structured-ASIC migration queries, the
// tri-state buffers of tolvafunctions and source locations on messages.
//
// Families are device-catalogue codes. The atom-creation functions know the
// base families 15, 25, 45 and 47; any other is an internal error.
#pragma once

#include "cdb/cdb_sgate.h"
#include "cmp/cmp.h"
#include "hdb/acf.h"

class HDB_INSTANCE_NAME;
class MSG_POST;

// ---- assignments on instance names ----
// Creates, through the name's source component (that of its namespace's
// root), an assignment of `variable` with the value text on the name in the
// section of type `section`, and marks it as made by synthesis. The
// six-argument forms record the name's full path and, with create_option,
// also put the option on the name so that option lookups see it; the
// four-argument forms record the path below the top name and create no
// option. The facade is not used. Internal errors: a null name, a namespace
// without root or a root without source component, a refused assignment
// ("asgn != NULL"), a refused option ("generated_option != NULL").
void kavu_attach_string_assignment_to_iname(HDB_INSTANCE_NAME* name, ACF_SECTION_TYPE_ENUM section,
                                            ACF_VARIABLE_TYPE_ENUM variable, const char* value,
                                            CMP_FACADE* facade, bool create_option);
void kavu_attach_string_assignment_to_iname(HDB_INSTANCE_NAME* name, ACF_SECTION_TYPE_ENUM section,
                                            ACF_VARIABLE_TYPE_ENUM variable, const char* value);
// The value is the enumeration's text (acf_enum_type_to_string); an
// enumeration value without text is an internal error.
void kavu_attach_assignment_to_iname(HDB_INSTANCE_NAME* name, ACF_SECTION_TYPE_ENUM section,
                                     ACF_VARIABLE_TYPE_ENUM variable, ACF_ENUM_TYPE_ENUM value,
                                     CMP_FACADE* facade, bool create_option);
void kavu_attach_assignment_to_iname(HDB_INSTANCE_NAME* name, ACF_SECTION_TYPE_ENUM section,
                                     ACF_VARIABLE_TYPE_ENUM variable, ACF_ENUM_TYPE_ENUM value);
// The value is "On" or "Off".
void kavu_attach_bool_assignment_to_iname(HDB_INSTANCE_NAME* name, ACF_SECTION_TYPE_ENUM section,
                                          ACF_VARIABLE_TYPE_ENUM variable, bool value,
                                          CMP_FACADE* facade, bool create_option);
void kavu_attach_bool_assignment_to_iname(HDB_INSTANCE_NAME* name, ACF_SECTION_TYPE_ENUM section,
                                          ACF_VARIABLE_TYPE_ENUM variable, bool value);

// ---- device atoms for a family ----
// A new device atom with that instance name, not added to any netlist (the
// caller owns it until it adds it):
//   family      flip-flop  logic module  logic-cell comb
//   15, 47      62         refused       61
//   25          115        113           93
//   45          94         122           93
// The logic-cell comb gets its output terminals SUMOUT, COMBOUT, COUT,
// SHAREOUT and OUT_1 (port types 8, 9, 0, 252, 1). Other families are
// internal errors.
CDB_SGATE_NODE* kavu_create_new_lc_ff(HDB_INSTANCE_NAME* name, DEV_FAMILY_ENUM family);
CDB_SGATE_NODE* kavu_create_new_logic_module(HDB_INSTANCE_NAME* name, DEV_FAMILY_ENUM family);
CDB_SGATE_NODE* kavu_create_new_lc_comb(HDB_INSTANCE_NAME* name, DEV_FAMILY_ENUM family);

// ---- I/O buffer gates ----
// A tri-state buffer (IO-buffer kind 0) named "tri" after the reference
// gate, added to the netlist, with its data input (port type 20) at
// position 0 and its output enable (port type 22) at position 1, both
// unconnected. Null arguments are internal errors.
CDB_SGATE_IO_BUF* kavu_create_new_tri_buffer(CDB_SGATE_NODE* ref_node, CDB_SGATE_NETLIST* netlist);
// An open-drain buffer (kind 1) named "opndrn", with only its data input.
CDB_SGATE_IO_BUF* kavu_create_new_opndrn_buffer(CDB_SGATE_NODE* ref_node, CDB_SGATE_NETLIST* netlist);
// True for a tri-state buffer whose output name carries the Boolean option
// ACF_TOLVAFUNCTION_GENERATED_TRI set on.
bool kavu_is_a_tolvafunction_generated_tri_buffer(const CDB_SGATE_NODE* gate);

// ---- structured-ASIC migration ----
// Whether the project migrates to a part of `family`: the chip's assignment
// ACF_DEVICE_TECHNOLOGY_MIGRATION_LIST names a known part of that family.
// The family of the migration part is looked up once per process and kept;
// each call compares it with the family asked about. The first lookup
// cannot run during parallel synthesis (internal error); later calls answer
// from the cache at any time. Null facade or namespace: internal error.
bool kavu_lumcast_migration_enabled(CMP_FACADE* facade, DEV_FAMILY_ENUM family);
// Whether the compile's family is a structured-ASIC family or an FPGA
// family that migrates to its structured-ASIC companion. With
// exclude_lmc_family_34, family 34 and the family 6 that migrates to it
// answer false.
bool kavu_is_lmc_or_fpga_with_lmc_companion(CMP_FACADE* facade, bool exclude_lmc_family_34);
// Forgets the cached migration lookup (tests, and a caller that switches
// projects in one process).
void kavu_reset_lumcast_migration_cache();

// ---- messages ----
// Adds the source location of the gate's name (its preferred output's
// synthesized-from name, else the gate's when it has an instance name) to
// the message; false, with a debug line, when there is no name, and false
// when the name has no location.
bool kavu_add_location(MSG_POST* msg, const CDB_SGATE_NODE* gate);
