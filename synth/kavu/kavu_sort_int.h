// kavu_sort_int.h — internals shared by the sort area's sources
// (kavu_sort.cpp, kavu_sort_simcheck.cpp): the terminal names of the
// simulation vector file and of the component reports.
#pragma once

#include <string>
#include <vector>

class CDB_SGATE_ITERM;
class CDB_SGATE_OTERM;
class CDB_SGATE_NETLIST;
class KAVU_SEQ_TIMER_CLK_DOMAIN;
class KAVU_SORT;

// The gate's instance-name text (its debug name when `debug_name`); for a
// gate of several outputs "<text>_<output position>". A terminal missing
// from its gate's outputs is the internal error "iter_oterm != node->end_oterm()".
std::string kavu_sort_oterm_name(const CDB_SGATE_OTERM* oterm, bool debug_name);
// "<instance-name text>_<input position>", also for a gate of one input. A
// terminal missing from its gate's inputs is the internal error
// "iter_iterm != node->end_iterm()".
std::string kavu_sort_iterm_name(const CDB_SGATE_ITERM* iterm);

// The result of scc_oterms as flat arrays: the terminals in the component
// list's order, each one's component number at the same position, and the
// run's begin and end terminals. The sequential timer reads its domains'
// components this way, without the list and the map.
struct KAVU_SORT_COMPONENTS {
  std::vector<CDB_SGATE_OTERM*> m_order;
  std::vector<int> m_number;
  std::vector<CDB_SGATE_OTERM*> m_begin;
  std::vector<CDB_SGATE_OTERM*> m_end;
};
// scc_oterms' run on the same arguments, into flat arrays (replaced).
void kavu_sort_scc_components(KAVU_SORT& sort, CDB_SGATE_NETLIST* netlist, bool cut_buffers,
                              KAVU_SEQ_TIMER_CLK_DOMAIN* domain, KAVU_SORT_COMPONENTS& out);
