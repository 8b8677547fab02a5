// kavu_01tbl_encnet.h — KAVU_ENCNET, a small network of LUTs that implements one
// function of up to 15 inputs, packed into 32-bit words.
//
// Model: for F fan-ins and L LUTs the network is 2 + 9 x L words:
//   word 0   header: bits 0-3 F (at most 15), bits 4-9 L (at most 63),
//            bits 10-31 the hit count (at most 0x3FFFFF);
//   word 1   the area cost of the network;
//   then one record of 9 words per LUT, in build order: the LUT's input
//   count p (at most 6), its mask bits 63..32, bits 31..0, and the source
//   codes of inputs 0..5 (inputs p and above hold code 2).
// Source codes: 0 GND, 1 VCC, 2 not connected, 3 + k fan-in k of the
//   network, 3 + F + j the output of LUT j. The last LUT is the output.
// Encoders take LUT gates of a netlist (plain: the network's own function
//   over the caller's fan-ins; canonical: the canonical table of that
//   function, given the output phase, var_map and phase that
//   KAVU_01TBL::canonical returned for it). The decoder builds new LUT gates
//   from the words and connects them to the caller's fan-in terminals.
// Errors: every broken limit or precondition is an internal error of
//   "KAVU" (condition text, file, line; no return).
// Cost: encoders O(L x (F + L)) (code look-ups by linear scan over at most
//   78 terminals), decoder O(L) gate creations; a network holds 36 x L + 8
//   bytes.
#pragma once

#include <vector>

class CDB_SGATE_NODE;
class CDB_SGATE_OTERM;
class HDB_INSTANCE_NAME;

class KAVU_ENCNET {
 public:
  // ---- format constants ----
  static constexpr unsigned int header_len() { return 2; }
  static constexpr unsigned int lut_len() { return 9; }
  static constexpr unsigned int fanin_bit0() { return 0; }
  static constexpr unsigned int num_fanin_bits() { return 4; }
  static constexpr unsigned int fanin_bit_mask() { return 0xF; }
  static constexpr unsigned int max_num_fanins() { return 16; }
  static constexpr unsigned int lut_bit0() { return 4; }
  static constexpr unsigned int num_lut_bits() { return 6; }
  static constexpr unsigned int lut_bit_mask() { return 0x3F0; }
  static constexpr unsigned int max_num_luts() { return 64; }
  static constexpr unsigned int hit_bit0() { return 10; }
  static constexpr unsigned int num_hit_bits() { return 22; }
  static constexpr unsigned int hit_bit_mask() { return 0xFFFFFC00; }
  static constexpr unsigned int max_num_hits() { return 0x400000; }

  // Source codes of LUT inputs below the fan-in codes.
  static constexpr unsigned int gnd_code() { return 0; }
  static constexpr unsigned int vcc_code() { return 1; }
  static constexpr unsigned int unconnected_code() { return 2; }
  static constexpr unsigned int first_fanin_code() { return 3; }

  // A network of L LUTs (L below 64), every word 0 but the LUT count.
  explicit KAVU_ENCNET(unsigned int num_luts = 0);
  // Plain encoder: the LUTs in build order (the output last) over
  // fanins[i] = fan-in i. Every gate must be a LUT; each LUT input must be
  // unconnected, tied, or driven without inversion by a fan-in or by an
  // earlier-listed or later-listed LUT of the list. An inverted LUT output
  // terminal is folded into the LUT's mask.
  KAVU_ENCNET(std::vector<CDB_SGATE_NODE*>& luts, std::vector<CDB_SGATE_OTERM*>& fanins);
  // Canonical encoder: the same LUTs encoded so that the network computes
  // the canonical table g of its function f. Position i of g is fan-in
  // fanins[var_map[i]], complemented in the masks where phase[var_map[i]] is
  // false; the output LUT is complemented when output_phase is false.
  KAVU_ENCNET(std::vector<CDB_SGATE_NODE*>& luts, std::vector<CDB_SGATE_OTERM*>& fanins,
              bool output_phase, std::vector<unsigned int>& var_map, std::vector<bool>& phase);
  KAVU_ENCNET(const KAVU_ENCNET& other);
  KAVU_ENCNET& operator=(const KAVU_ENCNET& other);
  ~KAVU_ENCNET();

  // 2 + 9 x L words (existing words kept, new ones 0); the header becomes
  // L LUTs, 0 fan-ins, 0 hits.
  void resize(unsigned int num_luts);

  unsigned int num_fanins() const { return (m_codes[0] & fanin_bit_mask()) >> fanin_bit0(); }
  unsigned int num_luts() const { return (m_codes[0] & lut_bit_mask()) >> lut_bit0(); }
  unsigned int num_hits() const { return (m_codes[0] & hit_bit_mask()) >> hit_bit0(); }
  // Each returns n; n must be below 16, 64 and 0x400000.
  unsigned int set_num_fanins(unsigned int n);
  unsigned int set_num_luts(unsigned int n);
  unsigned int set_num_hits(unsigned int n);
  // Adds one hit and returns the new count; a full count is an internal error.
  unsigned int inc_num_hits();

  unsigned int area_cost() const { return m_codes[1]; }
  void set_area_cost(unsigned int cost) { m_codes[1] = cost; }

  // Raw words; the index must be below the word count.
  unsigned int word(unsigned int n) const;
  void set_word(unsigned int n, unsigned int w);
  unsigned int num_words() const { return static_cast<unsigned int>(m_codes.size()); }

  unsigned int mem_space() const { return 36 * num_luts() + 8; }

  // One debug line "hit %d num_fanins %d num_luts %d area cost %d".
  void dump() const;
  // Appends every word, in order (the file form of the function database).
  void dump(std::vector<unsigned int>& codes) const;

  // Builds the network as new LUT gates named from `name` with the
  // extension "lut": subnet_fanins[k] drives fan-in code 3 + k (the size
  // must be F). nodes is replaced by the new LUTs in build order; each
  // output terminal's arrival value is set (resynthesis delay model) and its
  // technology-mapping record cleared. Returns the output LUT, null for a
  // network without LUTs. The gates are added to no netlist. A LUT record of
  // more than CDB_LUTMASK_MAX_INPUTS inputs or a source code outside the
  // network is an internal error, raised before any gate is made.
  CDB_SGATE_NODE* decode_subnet(std::vector<CDB_SGATE_OTERM*>& subnet_fanins, HDB_INSTANCE_NAME* name,
                                std::vector<CDB_SGATE_NODE*>& nodes) const;

 private:
  // Encodes luts with the pre-assigned fan-in codes (negative: the fan-in is
  // complemented in the masks) and the output phase.
  void encode(std::vector<CDB_SGATE_NODE*>& luts, std::vector<CDB_SGATE_OTERM*>& fanins,
              const std::vector<int>& fanin_codes, bool output_phase);

  std::vector<unsigned int> m_codes;
};
