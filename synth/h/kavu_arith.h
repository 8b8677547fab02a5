// kavu_arith.h — buses of arithmetic operators, atoms and RAMs: bus
// collection, bus search through register pipelines, bus edits, recognition
// of subtraction, constant adders and synchronous clears seen through.
//
// A bus is the bits of one operator port (from its real least significant
// bit: an add whose A and B carry VCC at bit 0 and whose result bit 0 drives
// nothing has an extra carry-in bit there, and its buses start at bit 1), or
// the terminals of one port type of an atom or synchronous RAM, in list
// order. Register walks accept only plain registers; backwards they enter at
// the data input, forwards they follow the first fan-out.
//
// The synchronous-clear bypass looks through an AND or mux in front of a
// register's data input that implements a clear. It is refused when the
// register's enable or synchronous load is live: the clear's priority
// against them depends on the family, and moving it could change the
// register's behaviour.
//
// The bypass is also refused for a register without a synchronous-clear
// input. A search asked to apply decides first without changing anything,
// comparing the registers' synchronous clears as they will be after the
// move, and then moves every clear it relied on, or none when it fails.
//
// Searches answer false or null and leave the netlist unchanged unless they
// are asked to apply the bypass. Cost: at most about 100 registers per bit.
#pragma once

#include <set>
#include <vector>

#include "cdb/cdb_codes.h"
#include "kavu_helper.h"
#include "ztl_hash_lite_sys.h"

class CDB_SGATE_NODE;
class CDB_SGATE_ITERM;
class CDB_SGATE_OTERM;
class CDB_SGATE_OPERATOR;

struct KAVU_VIRTUAL_ITERM {
  CDB_SGATE_OTERM* m_source = nullptr;  // null: a constant (VCC, or GND when inverted)
  bool m_inverted = false;
};

struct KAVU_BUS_INFO {
  unsigned m_width = 0;
  unsigned m_src_offset = 0;
  unsigned m_dst_offset = 0;
  unsigned m_depth = 0;
  OPT_SECONDARY_SIGNALS m_secondaries;
  bool m_extended = false;
  bool m_constant_tail = false;
  bool m_exclusive = true;
  bool m_preserved_reg = false;
  void clear() { *this = KAVU_BUS_INFO(); }
};

typedef ZTL_HASH_LITE<unsigned, CDB_SGATE_TYPE> KAVU_SCLR_BYPASS_RECORD;

// ---- register chains ----
bool kavu_check_preserved_reg(CDB_SGATE_ITERM* iterm);
CDB_SGATE_OTERM* kavu_get_non_dff_src(CDB_SGATE_ITERM* iterm);
CDB_SGATE_ITERM* kavu_get_non_dff_dst(CDB_SGATE_OTERM* oterm);

// ---- buses ----
bool kavu_has_bus_as_wys(CDB_SGATE_NODE* node);
unsigned kavu_get_real_lsb(CDB_SGATE_OPERATOR* op);
bool kavu_get_bus_dst_iterms(CDB_SGATE_NODE* node, DB_INPUT_PORT_TYPE port_type, CDB_OPER_PORT_TYPE oper_port,
                             std::vector<CDB_SGATE_ITERM*>* bus);
bool kavu_get_bus_src_oterms(CDB_SGATE_NODE* node, DB_OUTPUT_PORT_TYPE port_type, CDB_OPER_PORT_TYPE oper_port,
                             std::vector<CDB_SGATE_OTERM*>* bus);
bool kavu_get_virtual_bus(CDB_SGATE_NODE* node, DB_INPUT_PORT_TYPE port_type, CDB_OPER_PORT_TYPE oper_port,
                          std::vector<KAVU_VIRTUAL_ITERM>& virtual_bus);
bool kavu_create_bus(CDB_SGATE_NODE* node, DB_INPUT_PORT_TYPE port_type, std::vector<KAVU_VIRTUAL_ITERM>* bus);
bool kavu_remove_bus(CDB_SGATE_NODE* node, DB_INPUT_PORT_TYPE port_type);
void kavu_disconnect_bus_iterms(CDB_SGATE_NODE* node, DB_INPUT_PORT_TYPE port_type, CDB_OPER_PORT_TYPE oper_port);
bool kavu_extend_bus(CDB_SGATE_NODE* node, CDB_OPER_PORT_TYPE oper_port, unsigned width, bool sign_extend);
bool kavu_bus_is_constant(CDB_SGATE_NODE* node, DB_INPUT_PORT_TYPE port_type, CDB_OPER_PORT_TYPE oper_port,
                          bool sign_extend, int* value);
bool kavu_bus_has_consistent_inversion(CDB_SGATE_NODE* node, DB_INPUT_PORT_TYPE port_type,
                                       CDB_OPER_PORT_TYPE oper_port, bool& inverted);

// ---- bus connections through register pipelines ----
bool kavu_check_register_pipeline(CDB_SGATE_OTERM* src, CDB_SGATE_ITERM* dst, bool check, unsigned& depth,
                                  OPT_SECONDARY_SIGNALS& secondaries, bool fresh_start,
                                  std::set<CDB_SGATE_NODE*>& visited, unsigned& fanout_sum);
bool kavu_check_bus_connection(std::vector<CDB_SGATE_OTERM*>* srcs, std::vector<CDB_SGATE_ITERM*>* dsts,
                               KAVU_BUS_INFO& info, bool through_regs, CDB_SGATE_NODE* src_node,
                               CDB_SGATE_NODE* dst_node);
CDB_SGATE_NODE* kavu_get_bus_src(CDB_SGATE_NODE* node, DB_INPUT_PORT_TYPE port_type, CDB_OPER_PORT_TYPE oper_port,
                                 DB_OUTPUT_PORT_TYPE& src_port_type, CDB_OPER_PORT_TYPE& src_oper_port,
                                 KAVU_BUS_INFO& info);
CDB_SGATE_NODE* kavu_get_bus_dst(CDB_SGATE_NODE* node, DB_OUTPUT_PORT_TYPE port_type, CDB_OPER_PORT_TYPE oper_port,
                                 DB_INPUT_PORT_TYPE& dst_port_type, CDB_OPER_PORT_TYPE& dst_oper_port,
                                 KAVU_BUS_INFO& info);
bool kavu_bus_to_pipeline_only(CDB_SGATE_NODE* node, DB_OUTPUT_PORT_TYPE port_type, CDB_OPER_PORT_TYPE oper_port,
                               std::vector<CDB_SGATE_OTERM*>* regs, OPT_SECONDARY_SIGNALS* secondaries);
bool kavu_bus_get_simple_pipeline(std::vector<CDB_SGATE_OTERM*>* bus, std::vector<CDB_SGATE_OTERM*>& next,
                                  OPT_SECONDARY_SIGNALS& secondaries);

// ---- adders ----
bool kavu_is_almost_sub(CDB_SGATE_OPERATOR* op, bool* a_inverted, bool* b_inverted, int* offset);
bool kavu_is_pretty_sub(CDB_SGATE_OPERATOR* op, bool* b_inverted);
bool kavu_is_perfect_sub_or_add(CDB_SGATE_NODE* node, bool* is_add);
// Bypasses an adder of a zero constant, or re-aligns one whose operand comes
// from the upper bits of another arithmetic operator. A live carry-in (port
// 0 connected and not GND) keeps the adder as it is.
bool kavu_fix_constant_adder_bus(CDB_SGATE_OPERATOR* op);

// ---- synchronous clears ----
CDB_SGATE_ITERM* kavu_get_data_in_bypass_sclear(CDB_SGATE_NODE* reg, bool apply, KAVU_SCLR_BYPASS_RECORD* record);
CDB_SGATE_OTERM* kavu_get_non_dff_src_sclr_aware(CDB_SGATE_ITERM* iterm, bool bypass, bool apply,
                                                 KAVU_SCLR_BYPASS_RECORD* record);
CDB_SGATE_ITERM* kavu_get_non_dff_dst_sclr_aware(CDB_SGATE_OTERM* oterm, bool bypass, bool apply,
                                                 KAVU_SCLR_BYPASS_RECORD* record);
bool kavu_check_register_pipeline_sclr_aware(CDB_SGATE_OTERM* src, CDB_SGATE_ITERM* dst, bool check, unsigned& depth,
                                             OPT_SECONDARY_SIGNALS& secondaries, bool fresh_start,
                                             std::set<CDB_SGATE_NODE*>& visited, unsigned& fanout_sum, bool bypass,
                                             bool apply, KAVU_SCLR_BYPASS_RECORD* record);
bool kavu_check_bus_connection_sclr_aware(std::vector<CDB_SGATE_OTERM*>* srcs, std::vector<CDB_SGATE_ITERM*>* dsts,
                                          KAVU_BUS_INFO& info, bool bypass, bool apply,
                                          KAVU_SCLR_BYPASS_RECORD* record);
CDB_SGATE_NODE* kavu_get_bus_src_sclr_aware(CDB_SGATE_NODE* node, DB_INPUT_PORT_TYPE port_type,
                                            CDB_OPER_PORT_TYPE oper_port, DB_OUTPUT_PORT_TYPE& src_port_type,
                                            CDB_OPER_PORT_TYPE& src_oper_port, KAVU_BUS_INFO& info, bool bypass,
                                            bool apply, KAVU_SCLR_BYPASS_RECORD* record);
CDB_SGATE_NODE* kavu_get_bus_dst_sclr_aware(CDB_SGATE_NODE* node, DB_OUTPUT_PORT_TYPE port_type,
                                            CDB_OPER_PORT_TYPE oper_port, DB_INPUT_PORT_TYPE& dst_port_type,
                                            CDB_OPER_PORT_TYPE& dst_oper_port, KAVU_BUS_INFO& info, bool bypass,
                                            bool apply, KAVU_SCLR_BYPASS_RECORD* record);
bool kavu_bus_to_pipeline_only_sclr_aware(CDB_SGATE_NODE* node, DB_OUTPUT_PORT_TYPE port_type,
                                          CDB_OPER_PORT_TYPE oper_port, std::vector<CDB_SGATE_OTERM*>* regs,
                                          OPT_SECONDARY_SIGNALS* secondaries, bool bypass,
                                          KAVU_SCLR_BYPASS_RECORD* record);
