// kavu_sort_int.h — internals shared by the sort area's sources
// (kavu_sort.cpp, kavu_sort_simcheck.cpp): the terminal names of the
// simulation vector file and of the component reports.
#pragma once

#include <string>

class CDB_SGATE_ITERM;
class CDB_SGATE_OTERM;

// The gate's instance-name text (its debug name when `debug_name`); for a
// gate of several outputs "<text>_<output position>". A terminal missing
// from its gate's outputs is the internal error "iter_oterm != node->end_oterm()".
std::string kavu_sort_oterm_name(const CDB_SGATE_OTERM* oterm, bool debug_name);
// "<instance-name text>_<input position>", also for a gate of one input. A
// terminal missing from its gate's inputs is the internal error
// "iter_iterm != node->end_iterm()".
std::string kavu_sort_iterm_name(const CDB_SGATE_ITERM* iterm);
