// kavu_utility_params.h — messages of register and ROM inference: the
// parameters of an inferred component as sub-messages (286033), the error
// for a ROM whose initialization file is missing (286034), and a test that
// a vector of input terminals is all GND.
//
// Key opt_dont_display_inference_parameter_messages (off, read on every
// call) suppresses the parameter sub-messages.
#pragma once

#include <vector>

class MSG_I;
class CMP_FACADE;
class CDB_SGATE_NODE;
class CDB_SGATE_ITERM;
class CDB_SGATE_COMPONENT;
class CDB_SGATE_HIERARCHY;

// One sub-message 286033 per parameter with a name and a value, in table
// order, added to `msg` (which the caller posts).
void opt_add_parameter_messages(MSG_I* msg, CDB_SGATE_COMPONENT* component);
// True when every terminal is tied to GND (also for an empty vector).
bool rtl_iterm_vector_is_gnd(std::vector<CDB_SGATE_ITERM*>* iterms);
// Posts the error 286034 naming the file and the ROM's full path; the ROM's
// source location is attached when its instance name has one.
void opt_issue_missing_mif_error(CDB_SGATE_NODE* rom, const char* file_name, CMP_FACADE* facade,
                                 CDB_SGATE_HIERARCHY* hierarchy);
