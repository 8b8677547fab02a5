// kavu_helper_dump.h — the library's working directories and file names,
// the compiler directives of generated Verilog, the canonical order of a
// netlist, the terminals of new operators and the memory-usage trace.
//
// Process-wide state: the netlist-dump callback (null at load) and the
// work-directory text of kavu_get_openbox_dir (built once, on the first
// call, and returned unchanged afterwards). Both are meant to be set up
// once and are not locked.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "cmp/cmp.h"
#include "zhd/zhd.h"

class CDB_SGATE_HIERARCHY;
class CDB_SGATE_NETLIST;
class CDB_SGATE_NODE;
class CDB_SGATE_OTERM;
class HDB_NAMESPACE;

// ---- netlist dumps ----
typedef void (*KAVU_NETLIST_DUMPER)(CDB_SGATE_HIERARCHY* hierarchy, CDB_SGATE_NETLIST* netlist,
                                    const char* label);
// Stores the callback that dumps a netlist under a label (null: none),
// replacing any earlier one.
void kavu_set_netlist_dumper(KAVU_NETLIST_DUMPER dumper);
// The stored callback, or null; callers dump through it when it is set.
KAVU_NETLIST_DUMPER kavu_get_netlist_dumper();

// ---- directories and file names ----
// "synth_dumps", made as a directory in the working directory when nothing
// of that name exists. An existing entry is left as it is, also a regular
// file: the path is returned all the same, and a dump written below it fails
// and reports that as a warning (a debug aid never stops the compile). A
// failed creation is an internal error.
std::string kavu_get_synth_dump_path();
// prefix + "tmp-openbox/" + the facade's revision name + "/", built on the
// first call and returned unchanged for any later facade or prefix.
std::string kavu_get_openbox_dir(CMP_FACADE* facade, const std::string& prefix);
// The full path of the "mifs" directory model of a partition's database
// record, created with the creation mode when missing.
std::string kavu_get_mif_directory(const ZHD_DB_RECORD& record, int mode);
// The design-wide directory: the default design's root partition, mode 2.
std::string kavu_get_flat_mif_directory_path();
// The partition's own directory (its unspecified-state record, mode 1).
std::string kavu_get_mif_directory_path(const ZHD_PARTITION& partition);
// The directory of the partition that holds the hierarchy's instance name.
std::string kavu_get_mif_directory_path(CDB_SGATE_HIERARCHY* hierarchy);
// base + n + ("_PART" + id when id is not -1) + ".rtl.mif"; a negative id
// other than -1 is an internal error.
std::string kavu_get_rtl_mif_file_name(const std::string& base, int n, int partition_id);

// ---- debug reports ----
// Opens a debug report written as a C stream in the working or database
// directory, which others may share, as a file of the user's own
// (FIO_FILE_SYSTEM::fopen_own_file): null, with a warning naming the file
// ("The file "<full path>" is not written: <why>"), when it cannot be.
FILE* kavu_open_report(const std::string& file);
// Closes a report kavu_open_report opened, which commits its text: a text
// that cannot be written leaves the file as it was, with the same warning.
// A null stream is nothing to close.
void kavu_close_report(FILE* stream, const std::string& file);
// The warning of a file the library leaves unwritten.
void kavu_warn_file_not_written(const std::string& file, const std::string& problem);

// ---- compiler directives ----
// Appends (name, value) pairs for the current compile (facade of
// ZCU_FACADE_UTIL, internal error without one): the reserved names, the
// simulation mark (mode flag bit 20), family, device, part, package, speed
// grade and engineering-sample mark, then every "NAME=VALUE" text option
// (variable 366) of the namespace whose "=" is not last, then the PLL
// bootstrap mark (Boolean option 605). Quoted values are written as
// "\"text\"" with every '"' and '\' inside escaped by a '\'. The vector is
// not cleared first.
void kavu_collect_verilog_compiler_directives(HDB_NAMESPACE* ns,
                                              std::vector<std::pair<std::string, std::string>>& pairs);

// ---- canonical order ----
// Rebuilds the output terminal's fan-out chain sorted by the id of each
// fan-out's gate, the non-inverted before the inverted input of one gate
// and, within that, by input position. Inversion flags are kept.
// Cost: O(F log F) for F fan-outs.
void kavu_sort_oterm_fanouts(CDB_SGATE_OTERM* oterm);
// The same for every output terminal of every gate of the netlist.
void kavu_sort_oterm_fanouts(CDB_SGATE_NETLIST* netlist);
// Moves every gate that is neither a device atom nor generic to the end of
// the node list, keeping the relative order of both groups.
void kavu_reorder_sgates_for_atom_netlist_comparison(CDB_SGATE_NETLIST* netlist);

// ---- operators ----
// Creates unconnected terminals on an operator: `a` inputs on port 1, `b`
// on port 2 (port 5 for the shift and rotate operators, kinds 4 to 7), `o`
// outputs on port 3, then with x one input on port 0, with z one input on
// port 6, with y one output on port 4. Missing ports are added. Every new
// terminal is also appended to the gate's input or output list.
void kavu_create_triport_operator_terms(CDB_SGATE_NODE* op, unsigned a, unsigned b, unsigned o,
                                        bool x, bool y, bool z);

// ---- memory ----
// Debug trace "Memory usage <label>: peak P gb, current C gb" (10^9 bytes).
void kavu_print_memory_message(const char* label);
