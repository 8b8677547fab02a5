// kavu_word_level_int.h — state shared by the word-level bridge's sources.
#pragma once

#include <unordered_map>
#include <vector>

class CDB_SGATE_NODE;
class WL_NODE;

// Word-level pin -> the gate pin or boundary buffer it stands for; filled by
// the build, read and emptied by the conversion back.
std::unordered_map<WL_NODE*, CDB_SGATE_NODE*>& kavu_wl_io_hash();
// Pins and device atoms of a whole-netlist build, detached from the gate
// netlist before it was destroyed; the conversion back adds each of them to
// its target netlist and empties the list.
std::vector<CDB_SGATE_NODE*>& kavu_wl_kept_gates();
