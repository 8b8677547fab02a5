// kavu_utility.h — small netlist utilities: a seeded pseudo-random byte
// stream, a time stamp in the debug log, membership and position tests on
// vectors of netlist objects, gate search in a netlist, fetching or creating
// a device atom's terminal by port type, and the name, id and root instance
// name of a partition.
//
// State: only the random stream keeps state (process-wide, unguarded); it
// refuses to run during parallel synthesis. Everything else only reads,
// except the atom-terminal functions, which may add one terminal.
// Failures are internal errors of the component "KAVU".
// Cost: the vector tests are linear in the vector, the gate searches linear
// in the netlist; the rest O(1) or O(name depth).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "cdb/cdb_codes.h"

class CDB_SGATE_NODE;
class CDB_SGATE_ITERM;
class CDB_SGATE_OTERM;
class CDB_SGATE_NETLIST;
class CDB_SGATE_HIERARCHY;
class CDB_ATOM_NETLIST;
class CMP_FACADE;
class HDB_INSTANCE_NAME;

// An output terminal and an inversion flag (a literal of a sum of products).
typedef std::pair<CDB_SGATE_OTERM*, bool> SGATE_OTERM_INV_PAIR;

// The seeded byte stream. With reseed set, restarts the stream from `seed`
// (its first 256 characters; bytes read as unsigned) and returns 0; a null
// or empty seed is an internal error. With reseed clear, returns the next
// byte (0 to 255). The same seed restarts the same sequence.
int kavu_rand_byte(bool reseed, const char* seed);

// Writes "Time is - HH:MM:SS " (local time) to the debug trace.
void kavu_dump_time();

bool kavu_in_iterm_vec(const CDB_SGATE_ITERM* iterm, const std::vector<CDB_SGATE_ITERM*>& vec);
bool kavu_in_oterm_vec(const CDB_SGATE_OTERM* oterm, const std::vector<CDB_SGATE_OTERM*>& vec);
bool kavu_in_sgate_vec(const CDB_SGATE_NODE* sgate, const std::vector<CDB_SGATE_NODE*>& vec);
// True when present; *position gets the first match, or the vector's size
// when absent.
bool kavu_index_in_oterm_vec(const CDB_SGATE_OTERM* oterm, const std::vector<CDB_SGATE_OTERM*>& vec,
                             unsigned* position);
// True when a pair with the same terminal and the same inversion is present.
bool kavu_in_oterm_inv_pair_vec(const SGATE_OTERM_INV_PAIR* pair,
                                const std::vector<SGATE_OTERM_INV_PAIR>& vec);
// Position of the first match, -1 when absent.
int kavu_get_id_index(const std::vector<CDB_SGATE_OTERM*>& vec, const CDB_SGATE_OTERM* oterm);
int kavu_index_in_sgate_vec(const std::vector<CDB_SGATE_NODE*>& vec, const CDB_SGATE_NODE* sgate);

// True when the gate is in the netlist's node list.
bool kavu_sgate_on_netlist(const CDB_SGATE_NODE* sgate, const CDB_SGATE_NETLIST* netlist);
// The first gate in node-list order whose hierarchical path equals `text`
// (exact) or contains it (not exact); null when none.
CDB_SGATE_NODE* kavu_find_gate_by_name(const CDB_SGATE_NETLIST* netlist, const char* text, bool exact);

// The atom's terminal of the port type, created when missing (see
// kavu_fetch_create_wys_iterm / _oterm). A null gate or one that is no
// device atom is an internal error ("wys").
CDB_SGATE_ITERM* rtl_fetch_create_wys_iterm(DB_INPUT_PORT_TYPE port_type, CDB_SGATE_NODE* atom);
CDB_SGATE_OTERM* rtl_fetch_create_wys_oterm(DB_OUTPUT_PORT_TYPE port_type, CDB_SGATE_NODE* atom,
                                            bool allow_missing);

// The short hierarchical path of the hierarchy's instance name ("" for a
// hierarchy without one).
std::string kavu_get_partition_name(const CDB_SGATE_HIERARCHY* hierarchy);
// The id of the partition (of the default design of the partition tree)
// that holds the instance name; no default design is an internal error.
int kavu_get_partition_id(const HDB_INSTANCE_NAME* iname);
int kavu_get_partition_id(const CDB_SGATE_HIERARCHY* hierarchy);
// The root name of the netlist's or hierarchy's namespace; one that uses no
// namespace is an internal error ("mgr"). The facade is not used.
HDB_INSTANCE_NAME* kavu_get_partition_instance_name(CMP_FACADE* facade, const CDB_ATOM_NETLIST* netlist);
HDB_INSTANCE_NAME* kavu_get_partition_instance_name(CMP_FACADE* facade, const CDB_SGATE_HIERARCHY* hierarchy);
