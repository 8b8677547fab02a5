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

#include <string>

class CDB_SGATE_COMPONENT;
class CDB_SGATE_ITERM;
class CDB_SGATE_OTERM;

// A component port name "base[n]": the base (everything before the last
// "[") and the bit n; a name without "[" is its own base with bit 0 and
// answers false. A bracket that holds no decimal number is an internal
// error.
bool kavu_split_component_port_name(const std::string& name, std::string* base, unsigned* bit);
// The gate terminals of bit b of the component port named `base`: the port
// "base[b]" when the port is a bus of one-bit entries, else bit b of the
// port "base".
CDB_SGATE_ITERM* kavu_component_bit_iterm(CDB_SGATE_COMPONENT* comp, const std::string& base, bool is_bus, unsigned b);
CDB_SGATE_OTERM* kavu_component_bit_oterm(CDB_SGATE_COMPONENT* comp, const std::string& base, bool is_bus, unsigned b);

class CDB_SGATE_SYNCHRONOUS_RAM;
// The bits of a RAM's input port of word-level index `index` (0 for the
// second port-B clock index, an alias of the first).
unsigned kavu_ram_input_width(CDB_SGATE_SYNCHRONOUS_RAM* ram, unsigned index);
