// kavu_llis_fib_manager_int.h — rules the FIB manager's files share.
#pragma once

#include <string>

class CDB_SGATE_NODE;

namespace kavu_llis {

// A register gate or a flip-flop atom.
bool is_register(const CDB_SGATE_NODE* node);
// A component or a PLL atom: its output-terminal names are FIBs too.
bool is_component_or_pll(const CDB_SGATE_NODE* node);
// The name a gate's FIB goes by: the FIB-name path of its instance name,
// else its recorded path.
std::string node_fib_name(const CDB_SGATE_NODE* node);
// A register with no fan-out whose data input is fed by a FIB kind, which
// drops out of the written set when fan-out-free FIBs are not written.
bool drops_fanout_free_register(const CDB_SGATE_NODE* node, bool write_fanout_free);

}  // namespace kavu_llis
