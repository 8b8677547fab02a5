// kavu_01tbl_encnet.cpp — encoded LUT networks (KAVU_ENCNET): the word
// format, the plain and canonical encoders and the decoder.
//
// Model (see kavu_01tbl_encnet.h): a header word (fan-ins, LUTs, hits), the area
//   cost, then 9 words per LUT (input count, mask halves, six source codes).
//   Codes: 0 GND, 1 VCC, 2 unconnected, 3 + k fan-in k, 3 + F + j LUT j.
//   Codes 3 .. 3 + F + L - 1 are the network's signals, so every valid code
//   lies below the order 3 + F + L.
// Encoding: each fan-in terminal and each listed LUT's output gets a code;
//   a terminal listed twice keeps its last code. A LUT input driven by a
//   terminal without a code would read a signal the network does not carry;
//   that is an internal error rather than a silently wrong code. The
//   canonical encoder gives fan-in var_map[i] the code 3 + i and marks the
//   complemented ones negative; their LUT inputs are complemented in the
//   masks, and the output LUT's mask is complemented for output phase false.
//   An inverted LUT output terminal is folded into its own mask, since the
//   decoder makes gates without output inversion.
// Decoding: every record is checked before the first gate is made, so a bad
//   network leaves nothing behind; then all LUTs are created, then
//   connected, and each LUT's arrival is computed in list order (exact when
//   every LUT follows the LUTs that feed it).
// Cost: encoders O(L x (F + L)), decoder O(L) gate creations.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <utility>

#include "cdb/cdb_sgate.h"
#include "kavu_01tbl.h"
#include "kavu_01tbl_fd.h"
#include "kavu_check.h"
#include "kavu_01tbl_encnet.h"
#include "kavu_msg.h"
#include "kavu_name.h"
#include "kavu_helper_predicates.h"
#include "mem/mem.h"

namespace {

// Offsets inside a LUT record.
constexpr unsigned int REC_INPUTS = 0;
constexpr unsigned int REC_MASK_HIGH = 1;
constexpr unsigned int REC_MASK_LOW = 2;
constexpr unsigned int REC_CODES = 3;
constexpr unsigned int MAX_LUT_INPUTS = 6;

// Port type of LUT input j: the data ports 12 + j.
constexpr unsigned int FIRST_LUT_PORT_TYPE = 12;

}  // namespace

// ---- construction and header --------------------------------------------------------

KAVU_ENCNET::KAVU_ENCNET(unsigned int num_luts) { resize(num_luts); }

KAVU_ENCNET::KAVU_ENCNET(const KAVU_ENCNET& other) : m_codes() { *this = other; }

KAVU_ENCNET& KAVU_ENCNET::operator=(const KAVU_ENCNET& other) {
  if (this == &other) return *this;
  const unsigned int len = header_len() + lut_len() * other.num_luts();
  unsigned int n = len - 1;
  KAVU_CHECK(n < other.m_codes.size());
  m_codes.assign(other.m_codes.begin(), other.m_codes.begin() + len);
  return *this;
}

KAVU_ENCNET::~KAVU_ENCNET() = default;

void KAVU_ENCNET::resize(unsigned int num_luts) {
  // Checked before sizing so that a bad count never allocates.
  unsigned int n = num_luts;
  KAVU_CHECK(n < max_num_luts());
  m_codes.resize(header_len() + lut_len() * num_luts, 0u);
  m_codes[0] = 0;
  set_num_luts(num_luts);
}

unsigned int KAVU_ENCNET::set_num_fanins(unsigned int n) {
  KAVU_CHECK(n < max_num_fanins());
  m_codes[0] = (m_codes[0] & ~fanin_bit_mask()) | (n << fanin_bit0());
  return n;
}

unsigned int KAVU_ENCNET::set_num_luts(unsigned int n) {
  KAVU_CHECK(n < max_num_luts());
  m_codes[0] = (m_codes[0] & ~lut_bit_mask()) | (n << lut_bit0());
  return n;
}

unsigned int KAVU_ENCNET::set_num_hits(unsigned int n) {
  KAVU_CHECK(n < max_num_hits());
  m_codes[0] = (m_codes[0] & ~hit_bit_mask()) | (n << hit_bit0());
  return n;
}

unsigned int KAVU_ENCNET::inc_num_hits() {
  const unsigned int n = num_hits() + 1;
  KAVU_CHECK(n < max_num_hits());
  return set_num_hits(n);
}

unsigned int KAVU_ENCNET::word(unsigned int n) const {
  KAVU_CHECK(n < m_codes.size());
  return m_codes[n];
}

void KAVU_ENCNET::set_word(unsigned int n, unsigned int w) {
  KAVU_CHECK(n < m_codes.size());
  m_codes[n] = w;
}

void KAVU_ENCNET::dump() const {
  kavu_debug("hit %d num_fanins %d num_luts %d area cost %d", static_cast<int>(num_hits()),
             static_cast<int>(num_fanins()), static_cast<int>(num_luts()), static_cast<int>(area_cost()));
}

void KAVU_ENCNET::dump(std::vector<unsigned int>& codes) const {
  codes.insert(codes.end(), m_codes.begin(), m_codes.end());
}

// ---- encoders -----------------------------------------------------------------------------

KAVU_ENCNET::KAVU_ENCNET(std::vector<CDB_SGATE_NODE*>& luts, std::vector<CDB_SGATE_OTERM*>& fanins) {
  std::vector<int> fanin_codes(fanins.size());
  for (unsigned int i = 0; i < fanins.size(); ++i) fanin_codes[i] = static_cast<int>(first_fanin_code() + i);
  encode(luts, fanins, fanin_codes, true);
}

KAVU_ENCNET::KAVU_ENCNET(std::vector<CDB_SGATE_NODE*>& luts, std::vector<CDB_SGATE_OTERM*>& fanins,
                         bool output_phase, std::vector<unsigned int>& var_map, std::vector<bool>& phase) {
  KAVU_CHECK(var_map.size() == fanins.size());
  KAVU_CHECK(phase.size() == fanins.size());
  // Position i of the canonical table reads fan-in var_map[i]; the code
  // vector is indexed by the caller's fan-in, whose code is 3 + position.
  std::vector<int> fanin_codes(fanins.size(), 0);
  std::vector<bool> seen(fanins.size(), false);
  for (unsigned int i = 0; i < fanins.size(); ++i) {
    const unsigned int v = var_map[i];
    KAVU_CHECK(v < fanins.size() && !seen[v]);
    seen[v] = true;
    const int code = static_cast<int>(first_fanin_code() + i);
    fanin_codes[v] = phase[v] ? code : -code;
  }
  encode(luts, fanins, fanin_codes, output_phase);
}

namespace {

// The code of terminal t: the last entry for it in the code table.
int code_of(const std::vector<std::pair<CDB_SGATE_OTERM*, int>>& table, const CDB_SGATE_OTERM* t) {
  for (auto it = table.rbegin(); it != table.rend(); ++it) {
    if (it->first == t) return it->second;
  }
  KAVU_INTERNAL_ERROR("LUT input driven from outside the fan-ins and listed LUTs");
  return 0;
}

}  // namespace

void KAVU_ENCNET::encode(std::vector<CDB_SGATE_NODE*>& luts, std::vector<CDB_SGATE_OTERM*>& fanins,
                         const std::vector<int>& fanin_codes, bool output_phase) {
  const unsigned int num_fanins = static_cast<unsigned int>(fanins.size());
  const unsigned int num_luts = static_cast<unsigned int>(luts.size());
  m_codes.assign(header_len(), 0u);
  set_num_fanins(num_fanins);
  set_num_luts(num_luts);

  // Code table in the order codes are handed out; a later entry for the
  // same terminal wins.
  std::vector<std::pair<CDB_SGATE_OTERM*, int>> table;
  table.reserve(num_fanins + num_luts);
  if (num_fanins > 0) {
    // Fan-ins in code order, so that a fan-in listed twice keeps the code
    // handed out last, as in the caller's order of positions.
    std::vector<unsigned int> by_code(num_fanins);
    for (unsigned int i = 0; i < num_fanins; ++i) by_code[i] = i;
    std::sort(by_code.begin(), by_code.end(), [&](unsigned int a, unsigned int b) {
      return std::abs(fanin_codes[a]) < std::abs(fanin_codes[b]);
    });
    for (unsigned int i : by_code) table.emplace_back(fanins[i], fanin_codes[i]);
  }
  unsigned int next = first_fanin_code() + num_fanins;
  for (CDB_SGATE_NODE* sgate : luts) {
    KAVU_CHECK(kavu_is_a_lut(sgate));
    table.emplace_back(sgate->get_output_term(0), static_cast<int>(next++));
  }
  const unsigned int order = next;

  const int area_cost = static_cast<int>(KAVU_CONE_COST::get_cone_area_cost(luts));
  KAVU_CHECK(area_cost>=0);
  m_codes[1] = static_cast<unsigned int>(area_cost);

  m_codes.reserve(header_len() + lut_len() * num_luts);
  for (unsigned int l = 0; l < num_luts; ++l) {
    CDB_SGATE_LUT* lut = luts[l]->cast_to_lut();
    CDB_LUTMASK mask = lut->get_lut_mask();
    const unsigned int p = mask.get_num_inputs();
    KAVU_CHECK(p <= MAX_LUT_INPUTS);
    CDB_SGATE_OTERM* out = lut->get_output_term(0);
    if (out != nullptr && out->is_inverted()) mask = ~mask;
    unsigned int codes[MAX_LUT_INPUTS];
    for (unsigned int j = 0; j < MAX_LUT_INPUTS; ++j) codes[j] = unconnected_code();
    for (unsigned int j = 0; j < p; ++j) {
      CDB_SGATE_ITERM* data_iterm = lut->get_input_term(j);
      if (data_iterm == nullptr || !cdb_is_connected(data_iterm)) continue;
      if (data_iterm->is_gnd()) {
        codes[j] = gnd_code();
      } else if (data_iterm->is_vcc()) {
        codes[j] = vcc_code();
      } else {
        KAVU_CHECK(!data_iterm->is_inverted());
        int src_code = code_of(table, data_iterm->get_source());
        if (src_code < 0) {
          mask.invert_input(j);
          src_code = -src_code;
        }
        KAVU_CHECK(src_code >= 0);
        KAVU_CHECK(static_cast<unsigned int>(src_code) < order);
        codes[j] = static_cast<unsigned int>(src_code);
      }
    }
    if (l + 1 == num_luts && !output_phase) mask = ~mask;
    const uint64_t value = mask.get_value();
    m_codes.push_back(p);
    m_codes.push_back(static_cast<unsigned int>(value >> 32));
    m_codes.push_back(static_cast<unsigned int>(value));
    m_codes.insert(m_codes.end(), codes, codes + MAX_LUT_INPUTS);
  }
}

// ---- decoder ------------------------------------------------------------------------------

CDB_SGATE_NODE* KAVU_ENCNET::decode_subnet(std::vector<CDB_SGATE_OTERM*>& subnet_fanins,
                                           HDB_INSTANCE_NAME* name,
                                           std::vector<CDB_SGATE_NODE*>& nodes) const {
  const unsigned int num_fanins = this->num_fanins();
  const unsigned int num_luts = this->num_luts();
  KAVU_CHECK(subnet_fanins.size() == num_fanins);
  // New gates are named from it; checked here so that nothing is made first.
  KAVU_CHECK(num_luts == 0 || name != nullptr);
  const unsigned int order = first_fanin_code() + num_fanins + num_luts;
  // Every record is validated before the first gate is made.
  for (unsigned int l = 0; l < num_luts; ++l) {
    const unsigned int* rec = &m_codes[header_len() + lut_len() * l];
    const unsigned int num_p = rec[REC_INPUTS];
    KAVU_CHECK(num_p <= CDB_LUTMASK_MAX_INPUTS);
    for (unsigned int j = 0; j < num_p; ++j) {
      const unsigned int code = rec[REC_CODES + j];
      KAVU_CHECK(code < order);
      if (code >= first_fanin_code() && code < first_fanin_code() + num_fanins)
        KAVU_CHECK(subnet_fanins[code - first_fanin_code()] != nullptr);
    }
  }

  nodes.clear();
  nodes.reserve(num_luts);
  MEM_SEGMENT* seg = MEM_MANAGER::get_default_segment();
  for (unsigned int l = 0; l < num_luts; ++l) {
    const unsigned int* rec = &m_codes[header_len() + lut_len() * l];
    const unsigned int num_p = rec[REC_INPUTS];
    CDB_LUTMASK mask;
    mask.set_value(num_p, (uint64_t(rec[REC_MASK_HIGH]) << 32) | rec[REC_MASK_LOW]);
    CDB_SGATE_LUT* lut = new CDB_SGATE_LUT(nullptr, mask);
    kavu_create_synthesized_name(lut, name, "lut");
    lut->get_output_term(0)->set_ftm_info(nullptr);
    for (unsigned int j = 0; j < num_p; ++j) {
      CDB_SGATE_ITERM* it = lut->create_input_term(seg, DB_INPUT_PORT_TYPE(FIRST_LUT_PORT_TYPE + j));
      lut->set_ordered_input_term(it, j);
    }
    nodes.push_back(lut);
  }

  std::vector<CDB_SGATE_OTERM*> source(order, nullptr);
  for (unsigned int k = 0; k < num_fanins; ++k) source[first_fanin_code() + k] = subnet_fanins[k];
  for (unsigned int l = 0; l < num_luts; ++l)
    source[first_fanin_code() + num_fanins + l] = nodes[l]->get_output_term(0);

  for (unsigned int l = 0; l < num_luts; ++l) {
    const unsigned int* rec = &m_codes[header_len() + lut_len() * l];
    CDB_SGATE_NODE* lut = nodes[l];
    for (unsigned int j = 0; j < rec[REC_INPUTS]; ++j) {
      CDB_SGATE_ITERM* lut_iterm = lut->get_input_term(j);
      KAVU_CHECK(lut_iterm != 0);
      const unsigned int code = rec[REC_CODES + j];
      if (code == gnd_code()) {
        lut_iterm->set_gnd();
      } else if (code == vcc_code()) {
        lut_iterm->set_vcc();
      } else if (code == unconnected_code()) {
        lut_iterm->disconnect_from_source();
      } else {
        source[code]->insert_fanout(lut_iterm);
      }
    }
    kavu_resyn_set_arrival(lut->get_output_term(0), kavu_resyn_lut_arrival(lut));
  }
  return nodes.empty() ? nullptr : nodes.back();
}
