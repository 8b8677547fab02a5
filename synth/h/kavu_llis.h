// kavu_llis.h — incremental-synthesis (LLIS) queries, debug dumps and the
// per-partition data files that carry the FIB records between compiles.
//
// A FIB is the name of a node of the previous compile's netlist that the
// next compile reuses. The records themselves (KAVU_FIB_INFO, KAVU_FIB_NAMES,
// KAVU_FIBS_TO_INVALIDATE) are in synth_kavu__pdb.h.
#pragma once

#include <map>
#include <set>
#include <string>

#include "cdb/cdb_sgate.h"
#include "synth_kavu__pdb.h"

class CDB_ATOM_NODE;
class CDB_SGATE_HIERARCHY;
class HDB_INSTANCE_NAME;

// The FIB name of an instance name: its path below the design root
// (HDB_INSTANCE_NAME::HPATH_BELOW_ROOT). A FIB set holds the names of one
// partition, so its names must tell the nodes apart; the leaf alone would
// give every name buffer of one port extension, and every "reg0" child, one
// name. A register's "reg0" child is thus the register's name + "~reg0".
std::string kavu_llis_fib_name(const HDB_INSTANCE_NAME* name);

// ---------------------------------------------------------------- queries

// Whether the gate is of a kind that can be recorded as a FIB.
bool kavu_is_a_nice_sgate(const CDB_SGATE_NODE* node);

// The gate's instance name, else its first output terminal's; null when
// neither has one (an internal error with "llis_ie_on_name_lookup_failure").
HDB_INSTANCE_NAME* kavu_get_sgate_instance_name(const CDB_SGATE_NODE* node);

// The name under which a gate or output terminal is recorded: the FIB-name
// path of its instance name, else its string path.
std::string kavu_llis_get_string_hpath(const CDB_SGATE_NODE* node);
std::string kavu_llis_get_string_hpath(const CDB_SGATE_OTERM* oterm);

bool kavu_is_sgate_periphery_block(const CDB_SGATE_NODE* node);
// I/O gates, registers, WYSIWYG flip-flops, name buffers, periphery blocks
// and components: the gates whose names are FIBs.
bool kavu_is_anchor_point(const CDB_SGATE_NODE* node);
// The atom-netlist form: I/O atoms, "~llis" logic cells, register atoms,
// periphery atoms and black boxes.
bool kavu_is_anchor_point(const CDB_ATOM_NODE* node);
bool kavu_llis_is_register_atom(const CDB_ATOM_NODE* node);
// Atoms whose output-terminal names are FIBs too: PLLs and black boxes.
bool kavu_llis_atom_has_fib_oterms(const CDB_ATOM_NODE* node);
// A buffer of buffer type 5 or 15 whose name contains "~llis".
bool kavu_is_llis_name_buffer(const CDB_SGATE_NODE* node);
// A register whose data input is driven by a gate that cannot be a FIB.
bool kavu_llis_reg_has_non_fib_data_source(const CDB_SGATE_NODE* node);
// Every connected input with a source is fed by one terminal with one
// inversion (true for a gate without inputs).
bool kavu_has_single_distinct_oterm_source(const CDB_SGATE_NODE* node);

// The FIB names found among the candidate gates of `netlist` (I/O gates,
// registers, periphery blocks, components and "~llis" names). A gate's name
// comes from `node_names` when given (a gate absent from it is skipped).
// Returns the number of matches; `found` receives the matched gates.
int kavu_get_list_of_fib_nodes_from_netlist(const std::set<std::string>* fib_names, CDB_SGATE_NETLIST* netlist,
                                            const std::map<CDB_SGATE_NODE*, std::string>* node_names,
                                            std::set<CDB_SGATE_NODE*>* found);

// Memory-initialisation files of RAM gates. A compiler-inferred file lies
// under "db/"; its copy from the previous compile is the name with its
// ".mif" extension replaced by "_old.mif".
bool kavu_get_mif_file_names(const CDB_SGATE_NODE* node, std::string& name, std::string& old_name);
bool kavu_compare_mif_file(const CDB_SGATE_NODE* node);
bool kavu_compare_mif_files(const CDB_SGATE_NODE* a, const CDB_SGATE_NODE* b);
// Compares two files character by character, whitespace skipped; false
// when either is missing or not a regular file of at most 1 GiB.
bool kavu_llis_compare_files_ignoring_space(const std::string& a, const std::string& b);

// Graphviz dump "<hierarchy file name>_<tag>.dot" (key "llis_dump_dot").
// Returns the file name written, empty when the key is off.
std::string kavu_dump_sgates_to_dot(CDB_SGATE_NETLIST* netlist, const char* tag,
                                    const std::set<CDB_SGATE_NODE*>* highlight, CDB_SGATE_HIERARCHY* hierarchy);

// ---------------------------------------------------------------- data files

enum LLIS_DATA_FILE { LLIS_DATA_FILE_PS = 0, LLIS_DATA_FILE_TR = 1, LLIS_DATA_FILE_OR = 2, LLIS_DATA_FILE_OL = 3 };
enum LLIS_DATA_TYPE { LLIS_DATA_TYPE_NETLIST = 0, LLIS_DATA_TYPE_FIB_INFO = 1, LLIS_DATA_TYPE_FIB_NAMES = 2 };

// The partition part of the data-file names: the hierarchy's full path,
// with '%' and '/' escaped so that no two partitions share a file.
std::string kavu_llis_partition_file_part(CDB_SGATE_HIERARCHY* hierarchy);
// `text` with '%' and '/' escaped, usable as one file-name part.
std::string kavu_llis_escape_file_part(const std::string& text);

// "<partition>.map.<file><type>" (".cdb" appended when asked) in the
// project database directory.
std::string kavu_llis_data_file_name(CDB_SGATE_HIERARCHY* hierarchy, int file, int type, bool with_cdb);

// The error of a data file (or another file of the records) that cannot be
// written: "The incremental-synthesis records "<file>" are not written:
// <problem>". Compiles go on without it.
void kavu_llis_post_unwritten(const std::string& file, const std::string& problem);

// Reads return null on any archive failure; writes return false, the file
// left as it was and its error posted (kavu_llis_post_unwritten).
KAVU_FIB_INFO* kavu_llis_read_fib_info(CDB_SGATE_HIERARCHY* hierarchy, int file);
KAVU_FIB_NAMES* kavu_llis_read_fib_names(CDB_SGATE_HIERARCHY* hierarchy, int file);
CDB_SGATE_NETLIST* kavu_llis_read_netlist(CDB_SGATE_HIERARCHY* hierarchy, int file);
bool kavu_llis_write_fib_info(KAVU_FIB_INFO* info, CDB_SGATE_HIERARCHY* hierarchy, int file);
bool kavu_llis_write_fib_names(KAVU_FIB_NAMES* names, CDB_SGATE_HIERARCHY* hierarchy, int file);
bool kavu_llis_write_netlist(CDB_SGATE_NETLIST* netlist, CDB_SGATE_HIERARCHY* hierarchy, int file);

// The loads turn a failed read into an internal error.
KAVU_FIB_INFO* kavu_llis_load_fib_info(CDB_SGATE_HIERARCHY* hierarchy);
CDB_SGATE_NETLIST* kavu_llis_load_netlist(CDB_SGATE_HIERARCHY* hierarchy, int file);
KAVU_FIB_NAMES* kavu_llis_load_fib_names(CDB_SGATE_HIERARCHY* hierarchy, int file);
bool kavu_llis_has_old_lutmapped_netlist(CDB_SGATE_HIERARCHY* hierarchy);

// The partition count of the last compile is not kept: always 0.
int kavu_llis_get_num_partitions_last_compile();
void kavu_llis_set_num_partitions_last_compile(int count);

// ---------------------------------------------------------------- cone information

// The neighbourhood of one output terminal over two register levels.
class KAVU_CONE_INFO {
 public:
  KAVU_CONE_INFO() = default;
  explicit KAVU_CONE_INFO(CDB_SGATE_OTERM* root);

  void rebuild_info();
  bool should_be_duplicated() const;
  bool has_complicated_two_level_fanout() const;
  bool has_complicated_two_level_fanin() const;

  int direct_fanout() const { return m_direct_fanout; }
  int largest_fanout(int level) const { return m_largest_fanout[level]; }
  int total_fanout(int level) const { return m_total_fanout[level]; }
  int ram_fanin(int level) const { return m_ram_fanin[level]; }
  int ram_fanout(int level) const { return m_ram_fanout[level]; }
  int dsp_fanin(int level) const { return m_dsp_fanin[level]; }
  int dsp_fanout(int level) const { return m_dsp_fanout[level]; }

 private:
  void zero();
  void visit_fanout_node(CDB_SGATE_OTERM* oterm, std::set<CDB_SGATE_NODE*>& visited);
  void visit_fanin_node(CDB_SGATE_OTERM* oterm, std::set<CDB_SGATE_NODE*>& visited, bool is_root);
  void visit_fanin_gate(CDB_SGATE_NODE* node, std::set<CDB_SGATE_NODE*>& visited);
  void store_direct_fanout_value(CDB_SGATE_OTERM* oterm, int value);

  int m_direct_fanout = 0;
  int m_total_fanout[2] = {0, 0};
  int m_largest_fanout[2] = {0, 0};
  int m_dsp_fanin[2] = {0, 0};
  int m_dsp_fanout[2] = {0, 0};
  int m_ram_fanin[2] = {0, 0};
  int m_ram_fanout[2] = {0, 0};
  int m_current_level = 0;
  CDB_SGATE_OTERM* m_root = nullptr;
};
