// kavu_td_critical_int.h — the assignment bookkeeping shared by the
// critical-signal passes.
#pragma once

class HDB_NAMESPACE;
class CDB_SGATE_HIERARCHY;

// Clears flag 1 of every generated assignment of the variable.
void kavu_collect_acf_assignments(HDB_NAMESPACE* cap_inst, int variable);
// Posts one grouped warning for the variable's assignments without flag 1
// (input-to-clock, clock-to-output, enable, pin), when it holds any.
void kavu_report_ignored_assignments(HDB_NAMESPACE* ns, int variable, CDB_SGATE_HIERARCHY* hierarchy,
                                     bool give_warnings);
