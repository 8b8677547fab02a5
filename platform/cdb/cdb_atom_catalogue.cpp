// cdb_atom_catalogue.cpp — the rows of the atom catalogue and the port names.
//
// Rows share their port lists: every logic cell (comb, logic module,
// physical) has the same nine inputs and five outputs, every flip-flop the
// same eleven inputs and one output. A row's facts are only ever read
// through the catalogue, so adding an atom type is adding a row here.
#include "cdb/cdb_atom_catalogue.h"

#include <algorithm>
#include <cstring>

#include "msg/msg.h"

namespace kavu_platform {
namespace {

constexpr uint16_t kNone = CDB_ILLEGAL_PORT;

// Logic cell: DATAA..DATAG, CIN, SHAREIN; SUMOUT, COMBOUT, COUT, SHAREOUT, OUT_1.
constexpr ATOM_PORT kLcellInputs[] = {{12, 1}, {13, 1}, {14, 1}, {15, 1}, {16, 1},
                                      {17, 1}, {18, 1}, {2, 1},  {273, 1}};
constexpr ATOM_PORT kLcellOutputs[] = {{8, 1}, {9, 1}, {0, 1}, {252, 1}, {1, 1}};

// Flip-flop: DATAIN, CLK, ACLR, PRESET, ENA, ASDATA, ADATA_ALT, ALOAD, SCLR,
// SCLR2, SLOAD; REGOUT.
constexpr ATOM_PORT kFfInputs[] = {{20, 1}, {7, 1},  {6, 1},  {27, 1}, {8, 1}, {0, 1},
                                   {32, 1}, {1, 1},  {30, 1}, {31, 1}, {33, 1}};
constexpr ATOM_PORT kFfOutputs[] = {{10, 1}};

// LUT-RAM: data in, write address, read address, write enable, clock, write
// clock (CLK0), output-register clock (CLK1), output-register clear; data out.
constexpr ATOM_PORT kLutramInputs[] = {{410, 1}, {41, 5}, {42, 5}, {83, 1}, {7, 1},
                                       {35, 1},  {36, 1}, {6, 1}};
constexpr ATOM_PORT kLutramOutputs[] = {{364, 1}};

// MAC: data ports AX, AY, AZ, BX, BY, BZ, control ports COEF_SEL_A,
// COEF_SEL_B, SUB_NADD, NEGATE, ACC_NLOAD, LOAD_VALUE_ENA, CHAIN_IN and the
// three clocks (CLK0, CLK1, CLK2 = clock numbers 1 to 3); DATA_OUT_A,
// DATA_OUT_B (the LUT-RAM's data-out type), CHAINOUT. Which ports are
// registered is read from the atom's mode bits (cut/cut_mac.h).
constexpr ATOM_PORT kMacInputs[] = {{408, 27}, {409, 19}, {3043, 18}, {410, 18}, {411, 19},
                                    {3364, 18}, {3045, 3}, {3048, 3},  {3198, 1}, {3047, 1},
                                    {3197, 1},  {3196, 1}, {543, 64},  {35, 1},   {36, 1},
                                    {778, 1}};
constexpr ATOM_PORT kMacOutputs[] = {{363, 37}, {364, 37}, {800, 64}};

// RAM block with tabled ports (the sequential timer's port codes): clocks
// CLK0 and CLK1; port A write enable, data in (8 bits), address (8 bits);
// the same for port B; data out A and B. Which outputs are registered and
// on which clock is the atom's RAM mode sets (CDB_SGATE_WYSIWYG_RAM_BLOCK).
constexpr ATOM_PORT kRamInputs[] = {{35, 1}, {36, 1}, {83, 1},  {88, 8},  {89, 8},
                                    {95, 1}, {100, 8}, {101, 8}};
constexpr ATOM_PORT kRamOutputs[] = {{41, 8}, {42, 8}};

// Split MAC atoms. Multiplier: DATAA 12 and DATAB 13 (18 bits each), the
// scan-chain inputs SCANINA 275 and SCANINB 276, ROUND 285, SATURATE 291 and
// CLK 7; DATAOUT 3 (36 bits) and SCANOUTA 223. Output atom: DATAA 12 and
// DATAB 13 (the two products, 36 bits each), ZEROACC 279, ROUND0 286,
// ROUND1 287, SATURATE 291 and CLK 7; DATAOUT 3 (72 bits). Which ports are
// registered and which features are used is read from the atom's mode bits
// (cut/cut_mac_split.h).
constexpr ATOM_PORT kMacMultInputs[] = {{12, 18}, {13, 18}, {275, 18}, {276, 18}, {285, 1}, {291, 1}, {7, 1}};
constexpr ATOM_PORT kMacMultOutputs[] = {{3, 36}, {223, 18}};
constexpr ATOM_PORT kMacOutInputs[] = {{12, 36}, {13, 36}, {279, 1}, {286, 1}, {287, 1}, {291, 1}, {7, 1}};
constexpr ATOM_PORT kMacOutOutputs[] = {{3, 72}};

constexpr std::span<const ATOM_PORT> kNoPorts;

constexpr uint32_t kLcell = ATOM_CLASS_LCELL_COMB;
constexpr uint32_t kPhysLcell = ATOM_CLASS_LCELL_COMB | ATOM_CLASS_PHYSICAL;
constexpr uint32_t kPhysFf = ATOM_CLASS_FF | ATOM_CLASS_PHYSICAL;

constexpr ATOM_CATALOGUE_ENTRY lcell(CDB_WYSIWYG_TYPE type, const char* name, uint32_t classes) {
  return {type, name, CDB_SGATE_WYSIWYG_ENUM, classes, kLcellInputs, kLcellOutputs, 9, kNone};
}

constexpr ATOM_CATALOGUE_ENTRY ff(CDB_WYSIWYG_TYPE type, const char* name, uint32_t classes) {
  return {type, name, CDB_SGATE_WYSIWYG_ENUM, classes, kFfInputs, kFfOutputs, 10, 10};
}

// Rows whose ports vary by instance (or are not tabled yet) make them on demand.
constexpr ATOM_CATALOGUE_ENTRY mac_mult(CDB_WYSIWYG_TYPE type, const char* name) {
  return {type, name, CDB_SGATE_WYSIWYG_MAC_MULT_ENUM, ATOM_CLASS_MAC_MULT, kMacMultInputs, kMacMultOutputs, 3, kNone};
}

constexpr ATOM_CATALOGUE_ENTRY mac_out(CDB_WYSIWYG_TYPE type, const char* name) {
  return {type, name, CDB_SGATE_WYSIWYG_MAC_OUT_ENUM, ATOM_CLASS_MAC_OUT, kMacOutInputs, kMacOutOutputs, 3, kNone};
}

constexpr ATOM_CATALOGUE_ENTRY open_row(CDB_WYSIWYG_TYPE type, const char* name,
                                        CDB_SGATE_TYPE gate_type, uint32_t classes) {
  return {type, name, gate_type, classes | ATOM_CLASS_PORTS_ON_DEMAND, kNoPorts, kNoPorts, kNone, kNone};
}

// Sorted by atom type.
constexpr ATOM_CATALOGUE_ENTRY kRows[] = {
    {3, "atom_netlist_3", CDB_SGATE_WYSIWYG_GENERIC_ENUM, ATOM_CLASS_ATOM_NETLIST, kNoPorts, kNoPorts, kNone, kNone},
    {60, "mac_brae", CDB_SGATE_WYSIWYG_MAC_MULT_ENUM, ATOM_CLASS_MAC, kMacInputs, kMacOutputs, 363, kNone},
    lcell(61, "lcell_comb_brae", kLcell),
    ff(62, "ff_brae", ATOM_CLASS_FF),
    {63, "lutram_brae", CDB_SGATE_WYSIWYG_LUTRAM_ENUM, ATOM_CLASS_LUTRAM, kLutramInputs, kLutramOutputs, 364, kNone},
    open_row(64, "ram_block_brae", CDB_SGATE_WYSIWYG_RAM_BLOCK_ENUM, ATOM_CLASS_RAM),
    lcell(93, "lcell_comb_quellin", kLcell | ATOM_CLASS_QUELLIN_CELL),
    ff(94, "ff_harrowdale", ATOM_CLASS_FF),
    {95, "mac_quellin", CDB_SGATE_WYSIWYG_MAC_MULT_ENUM, ATOM_CLASS_MAC, kMacInputs, kMacOutputs, 363, kNone},
    {96, "ram_block_quellin", CDB_SGATE_WYSIWYG_RAM_BLOCK_ENUM, ATOM_CLASS_RAM, kRamInputs, kRamOutputs, 41, kNone},
    {97, "lutram_quellin", CDB_SGATE_WYSIWYG_LUTRAM_ENUM, ATOM_CLASS_LUTRAM, kLutramInputs, kLutramOutputs, 364, kNone},
    lcell(113, "logic_module_brae", ATOM_CLASS_LOGIC_MODULE),
    ff(115, "ff_quellin", ATOM_CLASS_FF),
    lcell(122, "logic_module_quellin", ATOM_CLASS_LOGIC_MODULE | ATOM_CLASS_QUELLIN_CELL),
    {281, "atom_netlist_281", CDB_SGATE_WYSIWYG_GENERIC_ENUM, ATOM_CLASS_ATOM_NETLIST, kNoPorts, kNoPorts, kNone, kNone},
    ff(10006, "ff_phys_10006", kPhysFf),
    lcell(10011, "lcell_adder_phys_10011", kPhysLcell),
    ff(10107, "ff_phys_10107", kPhysFf),
    lcell(10328, "lcell_phys_10328", kPhysLcell),
    ff(10329, "ff_phys_10329", kPhysFf),
    mac_mult(10356, "mac_mult_vqx"),
    mac_out(10357, "mac_out_vqx"),
    lcell(10363, "lcell_phys_10363", kPhysLcell),
    ff(10364, "ff_phys_10364", kPhysFf),
    mac_mult(10373, "mac_mult_ormond"),
    mac_out(10374, "mac_out_ormond"),
    lcell(10401, "lcell_phys_10401", kPhysLcell),
    lcell(10403, "lcell_phys_10403", kPhysLcell),
    ff(10442, "ff_phys_10442", kPhysFf),
    ff(10449, "ff_phys_10449", kPhysFf),
    ff(10479, "ff_phys_10479", kPhysFf),
    lcell(10498, "lcell_phys_10498", kPhysLcell),
    lcell(10499, "lcell_phys_10499", kPhysLcell),
    mac_mult(10502, "mac_mult_brae"),
    mac_out(10503, "mac_out_brae"),
    // Output DDIO register of the periphery (gate kind 61); ports on demand.
    open_row(10610, "ddio_out_brae", CDB_SGATE_WYSIWYG_DDIO_OUT_ENUM, ATOM_CLASS_DDIO_OUT),
};

constexpr ATOM_CATALOGUE_ENTRY kGenericRow = {
    0, "generic", CDB_SGATE_WYSIWYG_GENERIC_ENUM, ATOM_CLASS_GENERIC | ATOM_CLASS_PORTS_ON_DEMAND,
    kNoPorts, kNoPorts, kNone, kNone};

constexpr bool rows_are_sorted() {
  for (size_t i = 1; i < std::size(kRows); ++i)
    if (kRows[i - 1].m_atom_type >= kRows[i].m_atom_type) return false;
  return true;
}
static_assert(rows_are_sorted(), "atom catalogue rows must be sorted by atom type, without repeats");

struct PORT_NAME {
  uint16_t m_port_type;
  const char* m_name;
};

constexpr PORT_NAME kInputNames[] = {
    {0, "ASDATA"},   {1, "ALOAD"},     {2, "CIN"},     {6, "ACLR"},       {7, "CLK"},
    {8, "ENA"},      {12, "DATAA"},    {13, "DATAB"},  {14, "DATAC"},     {15, "DATAD"},
    {16, "DATAE"},   {17, "DATAF"},    {18, "DATAG"},  {20, "DATAIN"},    {22, "OE"},
    {27, "PRESET"},  {30, "SCLR"},     {31, "SCLR2"},  {32, "ADATA_ALT"}, {33, "SLOAD"},
    {35, "CLK0"},    {36, "CLK1"},     {41, "WADDR"},  {42, "RADDR"},     {83, "WE"},
    {96, "PORTBCLK"}, {273, "SHAREIN"}, {408, "DATA_AX"}, {409, "DATA_AY"}, {410, "RAMDATAIN"},
    {411, "DATA_BY"}, {543, "CHAIN_IN"}, {778, "CLK2"}, {3043, "DATA_AZ"}, {3045, "COEF_SEL_A"},
    {3047, "NEGATE"}, {3048, "COEF_SEL_B"}, {3196, "LOAD_VALUE_ENA"}, {3197, "ACC_NLOAD"},
    {3198, "SUB_NADD"}, {3364, "DATA_BZ"},
    // split MAC atom ports
    {275, "SCANINA"}, {276, "SCANINB"}, {279, "ZEROACC"}, {285, "ROUND"}, {286, "ROUND0"}, {287, "ROUND1"},
    {291, "SATURATE"},
    // RAM block ports
    {88, "PORTADATAIN"}, {89, "PORTAADDR"}, {95, "PORTBWE"}, {100, "PORTBDATAIN"}, {101, "PORTBADDR"}};

constexpr PORT_NAME kOutputNames[] = {
    {0, "COUT"},          {1, "OUT_1"},          {8, "SUMOUT"},    {9, "COMBOUT"},
    {10, "REGOUT"},       {41, "PORTADATAOUT"}, {42, "PORTBDATAOUT"}, {252, "SHAREOUT"},
    {363, "DATA_OUT_A"},  {364, "RAMDATAOUT"},   {800, "CHAINOUT"},
    // split MAC atom ports
    {3, "DATAOUT"},       {223, "SCANOUTA"}};

template <size_t N>
const char* name_of(const PORT_NAME (&table)[N], uint16_t port_type) {
  for (const PORT_NAME& p : table)
    if (p.m_port_type == port_type) return p.m_name;
  return nullptr;
}

template <size_t N>
uint16_t type_of(const PORT_NAME (&table)[N], const char* name) {
  PLAT_CHECK(name != nullptr, "CDB");
  for (const PORT_NAME& p : table)
    if (std::strcmp(p.m_name, name) == 0) return p.m_port_type;
  return kNone;
}

// First slot of a port type in a port list, or kNone.
uint16_t slot_in(std::span<const ATOM_PORT> ports, uint16_t port_type) {
  unsigned slot = 0;
  for (const ATOM_PORT& p : ports) {
    if (p.m_port_type == port_type) return uint16_t(slot);
    slot += p.m_width;
  }
  return kNone;
}

uint16_t width_in(std::span<const ATOM_PORT> ports, uint16_t port_type) {
  for (const ATOM_PORT& p : ports)
    if (p.m_port_type == port_type) return p.m_width;
  return 0;
}

unsigned slots_of(std::span<const ATOM_PORT> ports) {
  unsigned n = 0;
  for (const ATOM_PORT& p : ports) n += p.m_width;
  return n;
}

bool port_of_slot(std::span<const ATOM_PORT> ports, unsigned slot, uint16_t* port_type, unsigned* bit) {
  for (const ATOM_PORT& p : ports) {
    if (slot < p.m_width) {
      if (port_type) *port_type = p.m_port_type;
      if (bit) *bit = slot;
      return true;
    }
    slot -= p.m_width;
  }
  return false;
}

}  // namespace

unsigned ATOM_CATALOGUE_ENTRY::num_input_slots() const { return slots_of(m_inputs); }
unsigned ATOM_CATALOGUE_ENTRY::num_output_slots() const { return slots_of(m_outputs); }
uint16_t ATOM_CATALOGUE_ENTRY::input_slot(uint16_t port_type) const { return slot_in(m_inputs, port_type); }
uint16_t ATOM_CATALOGUE_ENTRY::output_slot(uint16_t port_type) const { return slot_in(m_outputs, port_type); }
uint16_t ATOM_CATALOGUE_ENTRY::input_width(uint16_t port_type) const { return width_in(m_inputs, port_type); }
uint16_t ATOM_CATALOGUE_ENTRY::output_width(uint16_t port_type) const { return width_in(m_outputs, port_type); }

bool ATOM_CATALOGUE_ENTRY::input_port_of_slot(unsigned slot, uint16_t* port_type, unsigned* bit) const {
  return port_of_slot(m_inputs, slot, port_type, bit);
}

bool ATOM_CATALOGUE_ENTRY::output_port_of_slot(unsigned slot, uint16_t* port_type, unsigned* bit) const {
  return port_of_slot(m_outputs, slot, port_type, bit);
}

unsigned ATOM_CATALOGUE_ENTRY::preferred_output_slot() const {
  if (m_preferred_output == kNone) return 0;
  uint16_t slot = output_slot(m_preferred_output);
  return slot == kNone ? 0 : slot;
}

const ATOM_CATALOGUE_ENTRY& atom_catalogue_lookup(CDB_WYSIWYG_TYPE type) {
  const ATOM_CATALOGUE_ENTRY* end = std::end(kRows);
  const ATOM_CATALOGUE_ENTRY* it = std::lower_bound(
      std::begin(kRows), end, type,
      [](const ATOM_CATALOGUE_ENTRY& row, CDB_WYSIWYG_TYPE t) { return row.m_atom_type < t; });
  return it != end && it->m_atom_type == type ? *it : kGenericRow;
}

const ATOM_CATALOGUE_ENTRY* atom_catalogue_find(const char* name) {
  PLAT_CHECK(name != nullptr, "CDB");
  for (const ATOM_CATALOGUE_ENTRY& row : kRows)
    if (std::strcmp(row.m_name, name) == 0) return &row;
  return nullptr;
}

std::span<const ATOM_CATALOGUE_ENTRY> atom_catalogue_entries() { return kRows; }

const char* atom_input_port_name(uint16_t port_type) { return name_of(kInputNames, port_type); }
const char* atom_output_port_name(uint16_t port_type) { return name_of(kOutputNames, port_type); }
uint16_t atom_input_port_by_name(const char* name) { return type_of(kInputNames, name); }
uint16_t atom_output_port_by_name(const char* name) { return type_of(kOutputNames, name); }

}  // namespace kavu_platform
