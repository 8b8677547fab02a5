// kavu_delay_util.cpp — detailed per-arc gate delays of devices with 4-input
// and 6-input LUTs (see kavu_delay_util.h). The values are measured delays
// copied as they are, irregular steps included (the 4-LUT comb row falls
// from 626 to 615 between six and seven fan-ins; 4-LUT equal at width 11 is
// 1939).
#include "kavu_delay_util.h"

#include <cstdint>

#include "cdb/cdb_sgate.h"
#include "kavu_check.h"
#include "kavu_helper_predicates.h"
#include "kavu_msg.h"

namespace {

// Index of a terminal among the bits of an operator port, -1 when absent.
// O(width): adders and muxes search at most their port width per arc.
int iterm_bit(const CDB_SGATE_OPERATOR* op, CDB_OPER_PORT_TYPE port, const CDB_SGATE_ITERM* t) {
  const CDB_SGATE_OPER_PORT_ENTRY* p = op->get_port(port);
  if (!p) return -1;
  for (unsigned b = 0; b < p->get_width(); ++b)
    if (p->get_iterm(b) == t) return int(b);
  return -1;
}
int oterm_bit(const CDB_SGATE_OPERATOR* op, CDB_OPER_PORT_TYPE port, const CDB_SGATE_OTERM* t) {
  const CDB_SGATE_OPER_PORT_ENTRY* p = op->get_port(port);
  if (!p) return -1;
  for (unsigned b = 0; b < p->get_width(); ++b)
    if (p->get_oterm(b) == t) return int(b);
  return -1;
}

struct FAMILY {
  const int* comb;       // fan-in 1..12, then "other"
  int mux_select_input;  // the mux gate's third input
  int mux_other_input;
  int lut;
  const int* mux_data;              // W = 2, 4, ..., 256
  const int* const* mux_select;     // rows by W, values by select bit
  int mux_fallback_select;
  int mux_fallback_data;
  const int* add;  // d = 0..31
  int add_base, add_step;
  const int* decode;  // w = 1..decode_rows
  int decode_rows;
  int decode_base, decode_step;  // base + step * w (4-LUT: 200 w - 200)
  const int* compare;            // w = 1..12
  int compare_other;
  const int* equal;  // w = 1..32
  int equal_other;
  const int* multiply;  // w = 1..32
  int multiply_other;
  bool six;
};

const int k_comb6[13] = {0, 150, 280, 376, 403, 424, 462, 502, 507, 520, 544, 554, 600};
const int k_comb4[13] = {0, 200, 300, 470, 540, 626, 615, 661, 708, 717, 732, 790, 800};
const int k_mux_data6[8] = {440, 458, 610, 678, 885, 1215, 1356, 1559};
const int k_mux_data4[8] = {500, 666, 854, 1087, 1548, 1782, 2230, 2492};
const int k_sel6_2[] = {272, -1};
const int k_sel6_4[] = {444, 272, -1};
const int k_sel6_8[] = {507, 636, 742, -1};
const int k_sel6_16[] = {817, 810, 595, 570, -1};
const int k_sel6_32[] = {1038, 948, 1008, 838, 752, -1};
const int k_sel6_64[] = {1528, 1325, 1682, 1617, 772, 688, -1};
const int k_sel6_128[] = {1833, 1743, 1832, 1391, 1154, 728, 636, -1};
const int k_sel6_256[] = {2059, 2110, 1930, 1961, 2092, 2059, 836, 726, -1};
const int* const k_sel6[8] = {k_sel6_2, k_sel6_4, k_sel6_8, k_sel6_16, k_sel6_32, k_sel6_64, k_sel6_128, k_sel6_256};
const int k_sel4_2[] = {500, -1};
const int k_sel4_4[] = {821, 621, -1};
const int k_sel4_8[] = {986, 1150, 544, -1};
const int k_sel4_16[] = {1363, 1551, 537, 959, -1};
const int k_sel4_32[] = {1962, 1845, 2282, 2108, 814, -1};
const int k_sel4_64[] = {2650, 2637, 2413, 2246, 621, 1340, -1};
const int k_sel4_128[] = {3069, 2896, 3203, 3064, 2904, 2767, 563, -1};
const int k_sel4_256[] = {3338, 3286, 3366, 3427, 3442, 3493, 622, 919, -1};
const int* const k_sel4[8] = {k_sel4_2, k_sel4_4, k_sel4_8, k_sel4_16, k_sel4_32, k_sel4_64, k_sel4_128, k_sel4_256};
const int k_add6[32] = {606,  651,  668,  707,  731,  754,  787,  818,  848,  871,  899,
                        926,  947,  976,  1006, 1042, 1075, 1097, 1123, 1150, 1177, 1206,
                        1233, 1264, 1294, 1310, 1319, 1330, 1331, 1354, 1374, 1393};
const int k_add4[32] = {712,  1001, 1063, 1115, 1147, 1180, 1239, 1280, 1338, 1373, 1426,
                        1482, 1538, 1590, 1649, 1710, 1778, 1821, 1858, 1913, 1969, 2018,
                        2069, 2129, 2184, 2222, 2269, 2321, 2344, 2382, 2409, 2457};
const int k_decode6[7] = {210, 330, 410, 480, 540, 630, 1160};
const int k_decode4[8] = {284, 400, 480, 570, 890, 1000, 1100, 1400};
const int k_compare6[12] = {200, 376, 424, 498, 724, 704, 676, 763, 861, 786, 857, 896};
const int k_compare4[12] = {300, 472, 648, 767, 941, 827, 861, 930, 994, 1028, 1049, 1066};
const int k_equal6[32] = {200, 376, 424, 481, 524, 588, 601, 622, 661, 670, 711, 717, 747, 760, 896, 771,
                          775, 840, 819, 890, 860, 864, 910, 923, 936, 969, 927, 975, 983, 965, 997, 997};
const int k_equal4[32] = {200,  475,  643,  658,  708,  777,  776,  882,  1044, 906,  1939,
                          1093, 1046, 1033, 1104, 1114, 1150, 1194, 1186, 1216, 1236, 1262,
                          1275, 1323, 1325, 1317, 1358, 1332, 1358, 1351, 1387, 1454};
const int k_multiply6[32] = {200,  358,  781,  974,  1720, 1720, 1720, 1720, 1720, 1770, 1770,
                             1770, 1770, 1770, 1770, 1770, 1770, 1770, 2594, 2594, 2594, 2594,
                             2594, 2596, 2598, 2599, 2601, 2602, 2604, 2605, 2606, 2607};
const int k_multiply4[32] = {300,  1429, 1429, 1429, 1429, 1429, 1429, 1429, 1429, 1662, 1662,
                             1662, 1662, 1662, 1662, 1662, 1662, 1662, 2306, 2498, 2557, 2691,
                             2881, 2966, 3070, 3320, 3491, 3631, 3754, 3970, 3949, 4104};

const FAMILY k_six = {k_comb6, 372, 185, 330, k_mux_data6, k_sel6, 2000, 2000, k_add6, 773, 20,
                      k_decode6, 7, 460, 100, k_compare6, 1000, k_equal6, 1000, k_multiply6, 3000, true};
const FAMILY k_four = {k_comb4, 550, 270, 340, k_mux_data4, k_sel4, 4000, 3000, k_add4, 907, 50,
                       k_decode4, 8, -200, 200, k_compare4, 1100, k_equal4, 1500, k_multiply4, 5000, false};

int width_row(unsigned w) {
  for (int r = 0; r < 8; ++r)
    if (w == (2u << r)) return r;
  return -1;
}

int nto1_mux_delay(const FAMILY& f, const CDB_SGATE_OPERATOR* op, const CDB_SGATE_ITERM* iterm) {
  int sel_bit = iterm_bit(op, CDB_OPER_PORT_A, iterm);
  int data_bit = sel_bit < 0 ? iterm_bit(op, CDB_OPER_PORT_B, iterm) : -1;
  if (sel_bit < 0 && data_bit < 0) KAVU_INTERNAL_ERROR("Iterm not found on MUX");
  int row = width_row(op->get_width(CDB_OPER_PORT_B));
  if (row < 0) return sel_bit >= 0 ? f.mux_fallback_select : f.mux_fallback_data;
  if (sel_bit < 0) return f.mux_data[row];
  const int* values = f.mux_select[row];
  int last = 0;
  for (int b = 0; values[b] >= 0; ++b) {
    last = values[b];
    if (b == sel_bit) return last;
  }
  return last;
}

int add_delay(const FAMILY& f, const CDB_SGATE_OPERATOR* op, const CDB_SGATE_ITERM* iterm,
              const CDB_SGATE_OTERM* oterm) {
  int i = iterm_bit(op, CDB_OPER_PORT_A, iterm);
  if (i < 0) i = iterm_bit(op, CDB_OPER_PORT_B, iterm);
  if (i < 0) i = 0;
  int j = oterm_bit(op, CDB_OPER_PORT_O, oterm);
  if (j < 0) j = int(op->get_width(CDB_OPER_PORT_O));
  // The distance is unsigned and the line above the table wraps in 32 bits:
  // a sum bit below the input bit gives base - step * (i - j). Dependency
  // walks never ask for such an arc (the sum bit does not depend on it).
  const uint32_t d = uint32_t(j) - uint32_t(i);
  if (d < 32) return f.add[d];
  return int32_t(uint32_t(f.add_base) + uint32_t(f.add_step) * d);
}

int oper_delay(const FAMILY& f, CDB_SGATE_NODE* node, CDB_SGATE_ITERM* iterm, CDB_SGATE_OTERM* oterm) {
  const CDB_SGATE_OPERATOR* op = node->cast_to_operator();
  const unsigned w = op->get_width(CDB_OPER_PORT_A);
  switch (op->get_type()) {
    case CDB_OPER_NTO1_MUX: return nto1_mux_delay(f, op, iterm);
    case CDB_OPER_ADDITION: return add_delay(f, op, iterm, oterm);
    case CDB_OPER_DECODE: {
      if (w >= 1 && int(w) <= f.decode_rows) return f.decode[w - 1];
      int v = f.decode_base + f.decode_step * int(w);
      return v < 0 ? 0 : v;  // width 0 on 4-LUT devices would be -200
    }
    case CDB_OPER_SELECT:
    case CDB_OPER_EQUAL: return (w >= 1 && w <= 32) ? f.equal[w - 1] : f.equal_other;
    case CDB_OPER_COMPARE: return (w >= 1 && w <= 12) ? f.compare[w - 1] : f.compare_other;
    case CDB_OPER_MULTIPLY: return (w >= 1 && w <= 32) ? f.multiply[w - 1] : f.multiply_other;
    case CDB_OPER_CHOICE: return 0;
    default:
      kavu_debug("Unrecognized operator %s, using delay 0", node->get_string_type_name());
      return 0;
  }
}

int lcell_delay(CDB_SGATE_ITERM* iterm, CDB_SGATE_OTERM* oterm) {
  switch (oterm->get_port_type()) {
    case 9: return 300;
    case 0: return 70;
    case 8: return iterm->get_port_type() == 2 ? 140 : 560;
    case 1:
    case 252: return 200;
    default: KAVU_INTERNAL_ERROR("Unexpected WYS output port"); return 0;
  }
}

int detailed_delay(const FAMILY& f, CDB_SGATE_ITERM* iterm, CDB_SGATE_OTERM* oterm) {
  KAVU_CHECK(iterm);
  KAVU_CHECK(oterm);
  CDB_SGATE_NODE* sgate = iterm->get_my_node();
  KAVU_CHECK(oterm->get_my_node() == sgate);
  switch (sgate->get_sgate_type()) {
    case CDB_SGATE_COMB_ENUM: {
      unsigned n = sgate->get_number_of_input_terms();
      return (n >= 1 && n <= 12) ? f.comb[n - 1] : f.comb[12];
    }
    case CDB_SGATE_MUX_ENUM: return sgate->get_input_term(2) == iterm ? f.mux_select_input : f.mux_other_input;
    case CDB_SGATE_OPERATOR_ENUM: return oper_delay(f, sgate, iterm, oterm);
    case CDB_SGATE_LUT_ENUM: return f.lut;
    case CDB_SGATE_DFF_ENUM:
    case CDB_SGATE_BUFFER_ENUM:
    case CDB_SGATE_CARRY_SUM_ENUM:
    case CDB_SGATE_IO_ENUM:
    case CDB_SGATE_STATE_ENUM:
    case CDB_SGATE_COMPONENT_ENUM:
    case CDB_SGATE_TRI_BUS_ENUM: return 0;
    default: break;
  }
  if (sgate->is_wysiwyg()) {
    const CDB_SGATE_WYSIWYG* wys = sgate->cast_to_wysiwyg();
    if (wys->is_ff()) return 0;
    int type = int(wys->get_wysiwyg_type());
    if (f.six && (type == 61 || type == 93)) return lcell_delay(iterm, oterm);
  }
  kavu_debug("Unrecognized sgate type %s, using delay 0", sgate->get_string_type_name());
  return 0;
}

}  // namespace

int kavu_detailed_gate_delay_6lut(CDB_SGATE_ITERM* iterm, CDB_SGATE_OTERM* oterm) {
  return detailed_delay(k_six, iterm, oterm);
}

int kavu_detailed_gate_delay_4lut(CDB_SGATE_ITERM* iterm, CDB_SGATE_OTERM* oterm) {
  return detailed_delay(k_four, iterm, oterm);
}
