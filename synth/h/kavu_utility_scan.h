// kavu_utility_scan.h — scan-chain insertion.
//
// opt_insert_scan_chains chains the plain registers of a netlist per clock
// domain: a 2:1 mux in front of each register's data input selects, under a
// new scan-mode pin, between the register's own data (mode 0) and the
// output of the element before it in the chain (mode 1). A chain runs from
// its scan-in pin through its registers in node-list order to its scan-out
// pin. Pins are named "_scan_mode_N", "_scan_in_N", "_scan_out_N" under the
// root of the design's namespace. Registers whose synchronous load, clear
// or enable is in use are not scanned and are listed as warnings.
// "scan_info.txt" in the working directory is rewritten on every run:
//   Chain %02d : DFF <debug name> <path>
//   WARNING - Check DFF UID <debug name> - unable to scan due to sec sig
//   Info : domain %d - %d flops
// Domains are found by the clock's source and inversion (constants and an
// unconnected clock count as sources of their own) through one map.
// Cost: O(registers log domains).
#pragma once

#include <string>

class CMP_FACADE;
class CDB_SGATE_NODE;
class CDB_SGATE_OTERM;
class CDB_SGATE_NETLIST;
class CDB_SGATE_HIERARCHY;

void opt_insert_scan_chains(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy, CDB_SGATE_NETLIST* netlist);
// Gives the gate and its first output the name "_<base>_<index>" under the
// namespace root (an existing child of that name is reused).
void opt_make_scan_chain_name(CMP_FACADE* facade, CDB_SGATE_NODE* gate, const char* base, unsigned int index);
CDB_SGATE_OTERM* opt_create_scan_input_port(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy,
                                            CDB_SGATE_NETLIST* netlist, const char* base, unsigned int index);
// A new output pin "_scan_out_<index>", registered as a boundary pin of the
// netlist's elaboration record when it has one; returns its output terminal.
CDB_SGATE_OTERM* opt_create_scan_out_port(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy,
                                          CDB_SGATE_NETLIST* netlist, unsigned int index);
void opt_insert_scan_mux(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* dff, CDB_SGATE_OTERM* scan_mode,
                         CDB_SGATE_OTERM* scan_data);
// "~", "[", "]" and ":" become "_", in place.
void opt_replace_string_punctuation(std::string* text);
