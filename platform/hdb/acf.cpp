// acf.cpp — the vocabulary tables (a handful of rows, searched linearly).
#include "hdb/acf.h"

#include <strings.h>

namespace {

struct VARIABLE_ROW {
  int code;
  const char* name;
  int kind;
};

struct ENUM_ROW {
  int code;
  const char* text;
};

const VARIABLE_ROW kVariables[] = {
    {ACF_VERILOG_MACRO, "VERILOG_MACRO", ACF_KIND_TEXT},
    {ACF_USER_CLOCK_ENABLE, "USER_CLOCK_ENABLE", ACF_KIND_BOOL},
    {ACF_FORCE_SYNCH_CLEAR, "FORCE_SYNCH_CLEAR", ACF_KIND_BOOL},
    {ACF_FORCE_CLOCK_ENABLE, "FORCE_CLOCK_ENABLE", ACF_KIND_BOOL},
    {ACF_TOLVAFUNCTION_GENERATED_TRI, "TOLVAFUNCTION_GENERATED_TRI", ACF_KIND_BOOL},
    {ACF_MIN_WIDTH_SLOAD_SCLR_FOR_UNMAP, "MIN_WIDTH_SLOAD_SCLR_FOR_UNMAP", ACF_KIND_INT},
    {ACF_MIN_WIDTH_CLOCK_ENABLE_FOR_UNMAP, "MIN_WIDTH_CLOCK_ENABLE_FOR_UNMAP", ACF_KIND_INT},
    {ACF_REG_MERGE_ACROSS_HIERARCHIES, "REG_MERGE_ACROSS_HIERARCHIES", ACF_KIND_ENUM},
    {ACF_DEVICE_TECHNOLOGY_MIGRATION_LIST, "DEVICE_TECHNOLOGY_MIGRATION_LIST", ACF_KIND_TEXT},
    {ACF_FORMAL_VERIFICATION_MODE, "FORMAL_VERIFICATION_MODE", ACF_KIND_ENUM},
    // Register classification.
    {ACF_INPUT_REGISTER, "INPUT_REGISTER", ACF_KIND_BOOL},
    {ACF_OUTPUT_REGISTER, "OUTPUT_REGISTER", ACF_KIND_BOOL},
    {ACF_OUTPUT_ENABLE_REGISTER, "OUTPUT_ENABLE_REGISTER", ACF_KIND_BOOL},
    {ACF_SYNCH_SECONDARY_ALLOWED, "SYNCH_SECONDARY_ALLOWED", ACF_KIND_BOOL},
    {ACF_PCI_PIN, "PCI_PIN", ACF_KIND_BOOL},
    // Register optimisation flags.
    {ACF_ALLOW_ANY_REGISTER_CHANGE, "ALLOW_ANY_REGISTER_CHANGE", ACF_KIND_BOOL},
    {ACF_PRESERVE_REGISTER, "PRESERVE_REGISTER", ACF_KIND_BOOL},
    {ACF_DONT_MERGE_REGISTER, "DONT_MERGE_REGISTER", ACF_KIND_BOOL},
    {ACF_DONT_PRUNE_REGISTER, "DONT_PRUNE_REGISTER", ACF_KIND_BOOL},
    {ACF_NOT_GATE_PUSH_BACK, "NOT_GATE_PUSH_BACK", ACF_KIND_BOOL},
    {ACF_MAX_FANOUT, "MAX_FANOUT", ACF_KIND_INT},
    {ACF_KEEP_FANOUT_FREE, "KEEP_FANOUT_FREE", ACF_KIND_BOOL},
    // Retiming.
    {ACF_SARVEL_RETIMER_FAST_FORWARD_ASYNCH_CLEAR, "SARVEL_RETIMER_FAST_FORWARD_ASYNCH_CLEAR", ACF_KIND_ENUM},
    {ACF_SARVEL_RETIMER_FAST_FORWARD_EMULATE_ASYNCH_CLEAR, "SARVEL_RETIMER_FAST_FORWARD_EMULATE_ASYNCH_CLEAR",
     ACF_KIND_ENUM},
    // parallel synthesis
    {ACF_PARALLEL_SYNTHESIS, "PARALLEL_SYNTHESIS", ACF_KIND_BOOL},
    {ACF_FRACTAL_SYNTHESIS, "FRACTAL_SYNTHESIS", ACF_KIND_BOOL},
};

const ENUM_ROW kEnums[] = {
    {ACF_ENUM_OFF, "OFF"},
    {ACF_ENUM_AUTO, "AUTO"},
    {ACF_ENUM_BLACK_BOX, "BLACK_BOX"},
    {ACF_ENUM_PRESERVE, "PRESERVE"},
};

}  // namespace

const char* acf_variable_type_to_string(int variable) {
  for (const VARIABLE_ROW& r : kVariables) {
    if (r.code == variable) return r.name;
  }
  return nullptr;
}

int acf_string_to_variable_type(const char* name) {
  if (!name) return -1;
  for (const VARIABLE_ROW& r : kVariables) {
    if (strcasecmp(r.name, name) == 0) return r.code;
  }
  return -1;
}

int acf_variable_kind(int variable) {
  for (const VARIABLE_ROW& r : kVariables) {
    if (r.code == variable) return r.kind;
  }
  return -1;
}

const char* acf_enum_type_to_string(int value) {
  for (const ENUM_ROW& r : kEnums) {
    if (r.code == value) return r.text;
  }
  return nullptr;
}

int acf_string_to_enum_type_enum(const char* text) {
  if (!text) return -1;
  for (const ENUM_ROW& r : kEnums) {
    if (strcasecmp(r.text, text) == 0) return r.code;
  }
  return -1;
}
