// Role: names and assignments
// (docs/platform.md, "Name layer"; see also "Options, sections and types").
// acf.h — the assignment vocabulary: variable codes with their names and
// value kinds, and enumeration values with their texts.
//
// Only the codes the library reads are listed; a subsystem that reads a new
// variable adds its row here (acf.cpp) with the code fixed forever. Value
// kinds follow the option template's KIND: 1 Boolean, 2 text, 4 integer,
// 6 enumeration (0 is accepted as another name for text).
#pragma once

enum ACF_VARIABLE_KIND {
  ACF_KIND_TEXT0 = 0,
  ACF_KIND_BOOL = 1,
  ACF_KIND_TEXT = 2,
  ACF_KIND_INT = 4,
  ACF_KIND_ENUM = 6,
};

// Assignment sections: where an assignment is kept. The chip section holds
// the device settings of the compile, the default section its global
// assignments, the entity section the assignments made on instances.
enum ACF_SECTION_TYPE_ENUM {
  ACF_SECTION_CHIP = 3,
  ACF_SECTION_DEFAULT = 12,
  ACF_SECTION_ENTITY = 14,
};

// Assignment variables.
enum ACF_VARIABLE_TYPE_ENUM {
  ACF_VERILOG_MACRO = 366,              // text "NAME=VALUE": a Verilog compiler directive
  ACF_USER_CLOCK_ENABLE = 469,          // Boolean, on a gate: the clock enable it drives is the user's
  ACF_FORCE_SYNCH_CLEAR = 472,          // Boolean: keep a register's synchronous clear
  ACF_FORCE_CLOCK_ENABLE = 473,         // Boolean: keep a register's clock enable
  ACF_TOLVAFUNCTION_GENERATED_TRI = 544,   // Boolean: a tri-state buffer a tolvafunction made
  ACF_MIN_WIDTH_SLOAD_SCLR_FOR_UNMAP = 564,    // integer: loads and clears on fewer registers are unmapped
  ACF_MIN_WIDTH_CLOCK_ENABLE_FOR_UNMAP = 565,  // integer: enables on fewer registers are unmapped
  ACF_REG_MERGE_ACROSS_HIERARCHIES = 574,  // enumeration: ACF_ENUM_OFF, ACF_ENUM_AUTO, …
  ACF_DEVICE_TECHNOLOGY_MIGRATION_LIST = 667,  // text: comma-separated part names
  ACF_FORMAL_VERIFICATION_MODE = 1221,  // enumeration; ACF_ENUM_BLACK_BOX marks a black box
  // Register classification (I/O registers and synchronous secondary signals).
  ACF_INPUT_REGISTER = 202,             // Boolean: the register is the input register of its pin
  ACF_OUTPUT_REGISTER = 203,            // Boolean: the register is the output register of its pin
  ACF_OUTPUT_ENABLE_REGISTER = 204,     // Boolean: the register drives its pin's output enable
  ACF_SYNCH_SECONDARY_ALLOWED = 471,    // Boolean: false forbids synchronous clears and loads
  ACF_PCI_PIN = 862,                    // Boolean, on a pin: the pin is a PCI pin
  // Register optimisation flags (cdb_sgate_set_dff_flags_from_assignments).
  ACF_ALLOW_ANY_REGISTER_CHANGE = 182,  // Boolean: the register may be changed in any way
  ACF_PRESERVE_REGISTER = 183,          // Boolean: keep the register as it is
  ACF_DONT_MERGE_REGISTER = 184,        // Boolean: the register may not be merged
  ACF_DONT_PRUNE_REGISTER = 185,        // Boolean: the register may not be removed
  ACF_NOT_GATE_PUSH_BACK = 186,         // Boolean: an inverter may be pushed through it
  ACF_MAX_FANOUT = 187,                 // integer: the largest fan-out of the gate
  ACF_KEEP_FANOUT_FREE = 188,           // Boolean, on any gate: keep it without fan-out
  // Retiming: keep a node's asynchronous clears (value ACF_ENUM_PRESERVE).
  ACF_SARVEL_RETIMER_FAST_FORWARD_ASYNCH_CLEAR = 2811,          // enumeration
  ACF_SARVEL_RETIMER_FAST_FORWARD_EMULATE_ASYNCH_CLEAR = 2812,  // enumeration
};

// Enumeration values.
enum ACF_ENUM_TYPE_ENUM : int {
  ACF_ENUM_OFF = 2,
  ACF_ENUM_AUTO = 52,
  ACF_ENUM_BLACK_BOX = 427,
  ACF_ENUM_PRESERVE = 1843,  // retiming: keep asynchronous clears
};

// Assignment variables of parallel synthesis.
enum ACF_PARALLEL_VARIABLE_TYPE_ENUM {
  ACF_PARALLEL_SYNTHESIS = 585,         // Boolean, global: the design asks for parallel synthesis
  ACF_FRACTAL_SYNTHESIS = 614,          // Boolean, on an instance: its logic stays in one partition
};

// The variable's name ("VERILOG_MACRO"), or null for an unknown code.
const char* acf_variable_type_to_string(int variable);
// The code of a variable name (case-insensitive), or -1.
int acf_string_to_variable_type(const char* name);
// The value kind of a variable (ACF_VARIABLE_KIND), or -1 for an unknown code.
int acf_variable_kind(int variable);
// The text of an enumeration value, or null for an unknown value.
const char* acf_enum_type_to_string(int value);
// The value of an enumeration text (case-insensitive), or -1.
int acf_string_to_enum_type_enum(const char* text);

// ---- Sections by name (assignment regression lists) ----
// The code of a section name ("CHIP", "DEFAULT", "ENTITY", any case), or 0.
int acf_string_to_section_type(const char* name);
// The name of a section type, or "UNKNOWN".
const char* acf_get_section_name(int section_type);
// Whether a variable of the vocabulary may be kept in a section type: the
// default section takes every variable; the chip section only device
// settings (ACF_DEVICE_TECHNOLOGY_MIGRATION_LIST); the entity section every
// variable but the global-only ones (that list and ACF_VERILOG_MACRO).
// False for an unknown variable or section.
bool acf_is_variable_allowed_in_section_type(int variable, int section_type);
