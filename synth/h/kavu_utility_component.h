// kavu_utility_component.h — component gates: instances of parameterized library
// functions (RAMs, ROMs, shift registers with taps, counters, multiply-add
// and multiply-accumulate) that replace structures the RTL stage
// recognised, their port bits, parameters and instance names; and two small
// gate editors of the RTL stage (a comb gate in front of an input terminal,
// operator names).
//
// Model: every port name and parameter text a component holds comes from
// the elaboration information's string-name generator, so the component
// holds only pooled texts. Generator calls are serialised by one
// process-wide mutex, created once by kavu_create_generate_string_name_mutex
// before the first component operation; nothing else runs under it.
// Components named after a gate without an instance name get a string name
// numbered from the process-wide counter rtl_component_id, which is refused
// during parallel synthesis (its order would depend on the jobs).
// Component instance names are "<base>_rtl_<k>" children of the scope that
// holds the naming gate's outermost bus group; a free name the user entered
// is reused and marked taken.
// Preconditions are internal errors of the component "KAVU".
#pragma once

#include <atomic>
#include <cstdint>

#include "basex/basex.h"
#include "cdb/cdb_sgate.h"
#include "hdb/hdb.h"

class CMP_FACADE;

// Which constant sources leave a component input unconnected.
enum RTL_COMPONENT_PORT_IGNORE {
  RTL_COMPONENT_PORT_CONNECT_ALL = 0,
  RTL_COMPONENT_PORT_IGNORE_GND = 1,
  RTL_COMPONENT_PORT_IGNORE_VCC = 2,
};

// Library-function names of component types 0..7.
enum RTL_COMPONENT_TYPE_CODE : CDB_SGATE_COMPONENT_TYPE {
  RTL_COMPONENT_MULT_ACCUM = 0,
  RTL_COMPONENT_MULT_ADD = 1,
  RTL_COMPONENT_SYNCRAM = 2,
  RTL_COMPONENT_DPRAM = 3,
  RTL_COMPONENT_ROM = 4,
  RTL_COMPONENT_SHIFT_TAPS = 5,
  RTL_COMPONENT_COUNTER = 6,
  RTL_COMPONENT_IND_SYNCRAM = 7,
};

// The number of the last component string name made from the counter; it is
// incremented before use. Atomic so that components created from several
// threads never share a number.
extern std::atomic<uint32_t> rtl_component_id;

// Creates the component-name mutex unless it exists; safe to call from
// several threads (one mutex survives).
void kavu_create_generate_string_name_mutex();
// The generator's pooled text for these arguments, under the mutex. Calling
// it before the mutex exists is an internal error.
const char* rtl_component_generate_string_name(BASEX_ELABORATE_INFO* elaborate_info, const char* base,
                                               const char* text2, const char* text3, int a, int b,
                                               int c);

// Port bit (port_name, i1, i2) of the component: the generator makes its
// name from (port_name, -, -, i2, 0, i1) and the component finds or makes
// the bit.
//
// Gives the component input the value of `iterm` (its source with its
// inversion, or its constant); null and no change when iterm is null or
// unconnected, or a constant the rule ignores.
CDB_SGATE_ITERM* rtl_connect_iterm_source_to_component(BASEX_ELABORATE_INFO* elaborate_info,
                                                       CDB_SGATE_ITERM* iterm,
                                                       CDB_SGATE_COMPONENT* component,
                                                       const char* port_name,
                                                       RTL_COMPONENT_PORT_IGNORE ignore, int i1, int i2);
// The component input of that port bit.
CDB_SGATE_ITERM* rtl_create_component_iterm(BASEX_ELABORATE_INFO* elaborate_info,
                                            CDB_SGATE_COMPONENT* component, const char* port_name,
                                            int i1, int i2);
// The component output of that port bit takes over every fan-out of
// from_oterm (with its inversion) and its instance name.
CDB_SGATE_OTERM* rtl_component_output_adopt_fanouts(BASEX_ELABORATE_INFO* elaborate_info,
                                                    CDB_SGATE_OTERM* from_oterm,
                                                    CDB_SGATE_COMPONENT* component,
                                                    const char* port_name, int i1, int i2);
// The component output of that port bit.
CDB_SGATE_OTERM* rtl_component_create_output(BASEX_ELABORATE_INFO* elaborate_info,
                                             CDB_SGATE_COMPONENT* component, const char* port_name,
                                             int i1, int i2);

// Sets a parameter (pooled name and value, type 493).
void rtl_set_component_int_parameter(CDB_SGATE_COMPONENT* component, BASEX_ELABORATE_INFO* elaborate_info,
                                     const char* name, int value);
void rtl_set_component_string_parameter(CDB_SGATE_COMPONENT* component,
                                        BASEX_ELABORATE_INFO* elaborate_info, const char* name,
                                        const char* value);

// Gives the component an instance name "<base>_rtl_<k>" (see the file
// comment). The facade is not read.
void kavu_create_component_name(CMP_FACADE* facade, CDB_SGATE_COMPONENT* component,
                                HDB_INSTANCE_NAME* iname);
// A new component of that type (0..7), named after name_node: by instance
// name when it has one, else by its string name (numbered when `unique`).
// The component is in no netlist; the caller adds it.
CDB_SGATE_COMPONENT* rtl_create_component_instance(BASEX_ELABORATE_INFO* elaborate_info,
                                                   CMP_FACADE* facade, CDB_SGATE_NODE* name_node,
                                                   CDB_SGATE_COMPONENT_TYPE type, bool unique);

// Puts a two-input AND, OR or XOR of (dest's source, other's source) in
// front of dest and returns it; when dest's constant makes the gate pass the
// other input through, dest takes the other input's source instead (XOR
// with VCC: inverted) and the result is null.
CDB_SGATE_NODE* rtl_insert_comb_gate_on_iterm(BASEX_ELABORATE_INFO* elaborate_info,
                                              CDB_SGATE_NETLIST* netlist, CDB_SGATE_ITERM* dest_iterm,
                                              CDB_SGATE_ITERM* other_iterm, CDB_COMB_TYPE comb_type);
// Names `sgate` "rtl" after from_sgate's instance name (or its first
// output's); nothing when either gate is null or there is no such name.
void rtl_synth_op_name(CDB_SGATE_NODE* sgate, CDB_SGATE_NODE* from_sgate);
