// kavu_utility_regs.h — register flags from assignments, the report of
// registers packed into inferred tolvafunctions, and the isolation of the
// registers such a packing leaves orphaned.
//
// Report: the folder "<current folder name> <RDB_SYNTH_OPTIMIZATION_RESULTS>"
// holds the table RDB_SYNTH_REGISTERS_PACKED_INTO_INFERRED_TOLVAFUNCTIONS
// with the columns register name, tolvafunction (the packing gate's path)
// and type. With the key opt_packed_register_report_group_names (on) the
// bits of one bus fold into one row named "base[idx2][idx1]", each index
// list written as the database's index text ("3..0").
// Keys: opt_dff_flags_verbose (off) adds a per-register dump to the flag
// summary. The dump counter is process-wide.
// Cost: flags O(N); grouping O(k log k) for k registers.
#pragma once

#include <string>
#include <vector>

class CMP_FACADE;
class HDB_NAMESPACE;
class CDB_SGATE_NODE;
class CDB_SGATE_OTERM;
class CDB_SGATE_NETLIST;

// One row name of the packed-register report: the base name's ID and the
// texts of its last index list ("[3..0]") and the list before it (each
// empty when absent).
struct OPT_PACKED_REGISTER_NAME {
  unsigned m_base_name_id = 0;
  std::string m_idx1_text;
  std::string m_idx2_text;
};

void opt_set_dff_flags(CDB_SGATE_NETLIST* netlist, HDB_NAMESPACE* names);
void opt_dump_all_dff_flags(CDB_SGATE_NETLIST* netlist);
void opt_update_packed_registers_report(CDB_SGATE_NODE* packer, const std::vector<CDB_SGATE_NODE*>& registers,
                                        const char* type_name, CMP_FACADE* facade);
// Folds register names into bus rows; an ID listed twice counts once.
void opt_group_packed_register_bus_names(const std::vector<int>& name_ids, HDB_NAMESPACE* names,
                                         std::vector<OPT_PACKED_REGISTER_NAME>* result);
bool opt_lex_less_int_vectors(const std::vector<int>& a, const std::vector<int>& b, bool* equal);
// From the terminal backwards: every removable gate without fan-out has its
// driven inputs tied to VCC (its plain registers recorded), and each source
// left without fan-out follows. Protect buffers, preserved registers and
// registers that may not be pruned stop the walk. Nothing is deleted.
void opt_isolate_orphaned_gates_and_record_dffs(CDB_SGATE_OTERM* orphan, std::vector<CDB_SGATE_NODE*>* dffs);
void opt_mark_orphaned_dffs(const std::vector<CDB_SGATE_NODE*>& dffs);
bool opt_oterm_feeds_d_input(CDB_SGATE_OTERM* source, CDB_SGATE_NODE* dff);
// Every used clock enable of a plain register without synchronous load or
// clear becomes a feedback multiplexer.
void opt_undo_all_clock_ena(CDB_SGATE_NETLIST* netlist);
