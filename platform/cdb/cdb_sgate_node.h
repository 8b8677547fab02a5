// Role: gate-netlist database (docs/platform.md, "Gate database"; see also "Memory layout").
// cdb_sgate_node.h — gates and their terminals: CDB_SGATE_NODE, CDB_SGATE_ITERM,
// CDB_SGATE_OTERM, the flag word type and the input information record.
//
// Model: a gate owns its input and output terminals, kept in two ordered
//   compact vectors (null entries allowed). An input terminal is unconnected,
//   tied (connected, no source; VCC, or GND when its inversion flag is set)
//   or driven (an entry of its source output terminal's fan-out chain, whose
//   length the output terminal counts).
// Fan-out chains are arrays: the output terminal keeps its readers in order
//   of connection in one contiguous block (inline for up to three readers,
//   else from the cell pool) and each driven input remembers its position, so a
//   walk over a net reads one block and connect and disconnect stay O(1)
//   amortised. Disconnecting leaves a hole; holes at either end are trimmed
//   at once and the block is compacted when holes outnumber readers.
// Invariants (checked by CDB_SGATE_NETLIST::check): each driven input is in
//   its source's chain exactly once; tied and unconnected inputs have no
//   source and no links; every terminal's owner is the gate that lists it.
// Flags: each gate and output terminal has three areas that never overlap:
//   the database's flag bytes (meanings in cdb_codes.h), the pass-owned flag
//   word (CDB_FLAG32) and the dynamic-flag word of GEN_DYN_FLAG_MANAGER.
// Cost: connect, disconnect and unlink are O(1) amortised; walks over a chain
//   read the chain's block and make no virtual call.
// Destroying a gate disconnects its inputs, unhooks its fan-outs (they keep
//   their inversion flags), unlinks it from its netlist and drops
//   state-machine references to it; gates may be destroyed in any order.
#pragma once

#include <bit>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cdb/cdb_codes.h"
#include "gen/gen_dyn_flag.h"
#include "ztl_compact_ptr_vector_sys.h"

class MEM_SEGMENT;
class HDB_INSTANCE_NAME;
class FTM_INFO;

class CDB_SGATE_NETLIST;
class CDB_SGATE_NODE;
class CDB_SGATE_ITERM;
class CDB_SGATE_OTERM;
class CDB_STATE_MACHINE;
class CDB_HIERARCHY_BASE;
class CDB_SGATE_HIERARCHY;
class CDB_REG_FLAGS;

class CDB_SGATE_BUFFER;
class CDB_SGATE_COMB;
class CDB_SGATE_DFF;
class CDB_SGATE_IO;
class CDB_SGATE_IO_BUF;
class CDB_SGATE_LUT;
class CDB_SGATE_STATE;
class CDB_SGATE_MUX;
class CDB_SGATE_CARRY_SUM;
class CDB_SGATE_TRI_BUS;
class CDB_SGATE_LATCH;
class CDB_SGATE_BOUNDARY;
class CDB_SGATE_WYSIWYG;
class CDB_SGATE_WYSIWYG_RAM_BLOCK;
class CDB_SGATE_OPERATOR;
class CDB_SGATE_COMPONENT;
class CDB_SGATE_ASYNCHRONOUS_RAM;
class CDB_SGATE_SYNCHRONOUS_RAM;

// The pass-owned 32-bit flag word of gates and terminals.
class CDB_FLAG32 {
 public:
  bool test(uint32_t mask) const { return (m_value & mask) != 0; }
  void set(uint32_t mask) { m_value |= mask; }
  void reset(uint32_t mask) { m_value &= ~mask; }
  void clear() { m_value = 0; }
  uint32_t value() const { return m_value; }
  void set_value(uint32_t v) { m_value = v; }

 private:
  uint32_t m_value = 0;
};

// Optional record on an input terminal, owned by it.
class CDB_SGATE_ITERM_INFO {
 public:
  int get_value() const { return m_value; }
  void set_value(int v) { m_value = v; }
  double get_probability() const { return m_probability; }
  void set_probability(double p) { m_probability = p; }
  int get_confidence() const { return m_confidence; }
  void set_confidence(int c) { m_confidence = c; }
  void* get_reference() const { return m_reference; }
  void set_reference(void* r) { m_reference = r; }
  void copy_from(const CDB_SGATE_ITERM_INFO& other) { *this = other; }

 private:
  int m_value = 2147483647;
  double m_probability = 1.0;
  int m_confidence = 0;
  void* m_reference = nullptr;
};

// ---------------------------------------------------------------------------
class CDB_SGATE_ITERM {
 public:
  enum CONNECT_STATE { CONNECT_STATE_RESET = 0, CONNECT_STATE_UNCONNECTED = 2 };

  explicit CDB_SGATE_ITERM(CDB_SGATE_NODE* owner);
  CDB_SGATE_ITERM(CDB_SGATE_NODE* owner, MEM_SEGMENT*);
  ~CDB_SGATE_ITERM();  // disconnects; frees the information record
  CDB_SGATE_ITERM(const CDB_SGATE_ITERM&) = delete;
  CDB_SGATE_ITERM& operator=(const CDB_SGATE_ITERM&) = delete;
  // Terminals and gates come from the cell pool (cdb_sgate_pool.h).
  static void* operator new(size_t bytes);
  static void operator delete(void* p, size_t bytes) noexcept;
  static void* operator new(size_t, void* where) noexcept { return where; }
  static void operator delete(void*, void*) noexcept {}

  CDB_SGATE_NODE* get_my_node() const { return m_node; }
  CDB_SGATE_OTERM* get_source() const { return m_source; }
  CDB_SGATE_OTERM* get_source_oterm() const { return m_source; }

  // The terminal's own connected flag (driven or tied); see cdb_is_connected.
  bool is_connected() const { return (m_bits & CDB_TERM_CONNECTED) != 0; }

  bool is_inverted() const { return (m_bits & CDB_TERM_INVERTED) != 0; }
  // On a tie this swaps VCC and GND, since the flag is the constant's polarity.
  void invert() { m_bits ^= CDB_TERM_INVERTED; }
  void set_invert() { m_bits |= CDB_TERM_INVERTED; }
  void clear_invert() { m_bits &= uint8_t(~CDB_TERM_INVERTED); }

  bool is_vcc_or_gnd() const { return is_connected() && !m_source; }
  bool is_vcc() const { return is_vcc_or_gnd() && !is_inverted(); }
  bool is_gnd() const { return is_vcc_or_gnd() && is_inverted(); }
  // Leave any source and become tied; VCC clears the inversion flag, GND sets it.
  void set_vcc();
  void set_gnd();

  // Leaves the source's chain (or drops the tie); clears the connected flag.
  // State 2 keeps the inversion flag, state 0 clears it; other states are
  // internal errors. Port data, information record, parent link and list
  // slot are kept. Nothing happens on an unconnected terminal.
  void disconnect_from_source(CONNECT_STATE state = CONNECT_STATE_UNCONNECTED);
  void disconnect_from_source(int state);
  void remove_fanin() { disconnect_from_source(CONNECT_STATE_UNCONNECTED); }
  void insert_fanin(CDB_SGATE_OTERM* src);
  // With a terminal: insert_fanout; with null: disconnect_from_source(2).
  void set_source(CDB_SGATE_OTERM* src);

  // Neighbours in the source's chain (null at the ends and when not driven).
  inline CDB_SGATE_ITERM* get_next_fanout() const;
  inline CDB_SGATE_ITERM* get_prev_fanout() const;

  CDB_SGATE_ITERM* get_parent_input() const { return m_extra ? m_extra->m_parent : nullptr; }
  void set_parent_input(CDB_SGATE_ITERM* p) {
    if (p || m_extra) extra().m_parent = p;
  }

  DB_INPUT_PORT_TYPE get_port_type() const { return m_port_type; }
  void set_port_type(DB_INPUT_PORT_TYPE t) { m_port_type = t; }
  unsigned get_port_index() const { return m_port_index; }
  void set_port_index(unsigned i) { m_port_index = i; }
  // The bit of the port the terminal stands for: its port index.
  unsigned get_literal_index() const { return m_port_index; }

  CDB_SGATE_ITERM_INFO* get_info() const { return m_extra ? m_extra->m_info : nullptr; }
  // Returns the record, creating one with default values when absent.
  CDB_SGATE_ITERM_INFO* create_info();
  // Takes ownership of `info` (may be null); the previous record is freed.
  void set_info(CDB_SGATE_ITERM_INFO* info);
  // Gives up ownership of the record and returns it.
  CDB_SGATE_ITERM_INFO* release_info();

  CDB_FLAG32& get_flag() { return m_flag; }
  const CDB_FLAG32& get_flag() const { return m_flag; }
  bool test_dyn_flag(const GEN_DYN_FLAG& f) const { return (m_dyn & f.get_mask()) != 0; }
  void set_dyn_flag(const GEN_DYN_FLAG& f) { m_dyn |= f.get_mask(); }
  void reset_dyn_flag(const GEN_DYN_FLAG& f) { m_dyn &= ~f.get_mask(); }
  uint32_t get_dyn_flag_word() const { return m_dyn; }
  void set_dyn_flag_word(uint32_t w) { m_dyn = w; }

  // The terminal's own flag byte (0x01 inversion, 0x02 connected).
  uint8_t get_term_byte() const { return m_bits; }

  std::string get_string_hpath() const;

 private:
  friend class CDB_SGATE_OTERM;
  friend class CDB_SGATE_NODE;
  friend class CDB_SGATE_NETLIST;
  void unlink_from_chain();  // leaves the source's chain; flags untouched

  // The parent link and the information record, which few terminals have,
  // live in a side record made on first use (it keeps the terminal at 48
  // bytes).
  struct EXTRA {
    CDB_SGATE_ITERM* m_parent = nullptr;
    CDB_SGATE_ITERM_INFO* m_info = nullptr;
  };
  EXTRA& extra() {
    if (!m_extra) m_extra = new EXTRA;
    return *m_extra;
  }

  CDB_SGATE_NODE* m_node;
  CDB_SGATE_OTERM* m_source = nullptr;
  EXTRA* m_extra = nullptr;
  CDB_FLAG32 m_flag;
  uint32_t m_dyn = 0;
  uint32_t m_port_index = 0;
  uint32_t m_fan_index = 0;  // position in the source's chain block while driven
  DB_INPUT_PORT_TYPE m_port_type = DB_MAX_INPUT_PORT_TYPE;
  uint8_t m_bits = 0;
};

// cdb_is_connected(t): t's connected flag, or t has a parent input and
// cdb_is_parent_connected(t). cdb_is_parent_connected(t) =
// cdb_is_connected(t->get_parent_input()). Null terminals are not connected.
bool cdb_is_connected(const CDB_SGATE_ITERM* t);
bool cdb_is_parent_connected(const CDB_SGATE_ITERM* t);

// Range over a fan-out chain, in chain order, from a given reader (the
// first for CDB_SGATE_OTERM::fanouts()). Do not change the chain while
// iterating it; copy it first (CDB_SGATE_OTERM::copy_fanouts).
class CDB_SGATE_FANOUT_RANGE {
 public:
  class iterator {
   public:
    // The position of t in its source's chain; null (or an undriven t) is the end.
    inline explicit iterator(CDB_SGATE_ITERM* t);
    CDB_SGATE_ITERM* operator*() const { return *m_p; }
    iterator& operator++() {
      do ++m_p;
      while (m_p != m_end && !*m_p);
      if (m_p == m_end) m_p = m_end = nullptr;
      return *this;
    }
    bool operator==(const iterator& o) const { return m_p == o.m_p; }
    bool operator!=(const iterator& o) const { return m_p != o.m_p; }
   private:
    friend class CDB_SGATE_FANOUT_RANGE;
    iterator(CDB_SGATE_ITERM* const* p, CDB_SGATE_ITERM* const* end) : m_p(p), m_end(end) {
      if (m_p == m_end) m_p = m_end = nullptr;
    }
    CDB_SGATE_ITERM* const* m_p = nullptr;
    CDB_SGATE_ITERM* const* m_end = nullptr;
  };
  explicit CDB_SGATE_FANOUT_RANGE(CDB_SGATE_ITERM* first) : m_begin(first) {}
  iterator begin() const { return m_begin; }
  iterator end() const { return iterator(nullptr); }
 private:
  friend class CDB_SGATE_OTERM;
  // The whole chain of an output terminal, without reading its first reader.
  CDB_SGATE_FANOUT_RANGE(CDB_SGATE_ITERM* const* b, CDB_SGATE_ITERM* const* e) : m_begin(b, e) {}
  iterator m_begin;
};

// Range over the gates of a fan-out chain's readers, in chain order (a gate
// once per input it reads the terminal with). The chain keeps each reader's
// gate beside it, so the walk reads no input terminal. Do not change the
// chain while iterating it.
class CDB_SGATE_FANOUT_NODE_RANGE {
 public:
  class iterator {
   public:
    CDB_SGATE_NODE* operator*() const { return *m_p; }
    iterator& operator++() {
      do ++m_p;
      while (m_p != m_end && !*m_p);
      return *this;
    }
    bool operator==(const iterator& o) const { return m_p == o.m_p; }
    bool operator!=(const iterator& o) const { return m_p != o.m_p; }
   private:
    friend class CDB_SGATE_FANOUT_NODE_RANGE;
    iterator(CDB_SGATE_NODE* const* p, CDB_SGATE_NODE* const* end) : m_p(p), m_end(end) {}
    CDB_SGATE_NODE* const* m_p;
    CDB_SGATE_NODE* const* m_end;
  };
  // Both ends of a chain are readers, so only holes inside are skipped.
  CDB_SGATE_FANOUT_NODE_RANGE(CDB_SGATE_NODE* const* b, CDB_SGATE_NODE* const* e) : m_begin(b), m_end(e) {}
  iterator begin() const { return iterator(m_begin, m_end); }
  iterator end() const { return iterator(m_end, m_end); }
 private:
  CDB_SGATE_NODE* const* m_begin;
  CDB_SGATE_NODE* const* m_end;
};

// ---------------------------------------------------------------------------
class CDB_SGATE_OTERM {
 public:
  explicit CDB_SGATE_OTERM(CDB_SGATE_NODE* owner);
  CDB_SGATE_OTERM(CDB_SGATE_NODE* owner, MEM_SEGMENT*);
  ~CDB_SGATE_OTERM();  // every fan-out is disconnected (state 2)
  CDB_SGATE_OTERM(const CDB_SGATE_OTERM&) = delete;
  CDB_SGATE_OTERM& operator=(const CDB_SGATE_OTERM&) = delete;
  // Terminals and gates come from the cell pool (cdb_sgate_pool.h).
  static void* operator new(size_t bytes);
  static void operator delete(void* p, size_t bytes) noexcept;
  static void* operator new(size_t, void* where) noexcept { return where; }
  static void operator delete(void*, void*) noexcept {}

  CDB_SGATE_NODE* get_my_node() const { return m_node; }

  bool has_fanout() const { return m_count != 0; }
  bool has_fanout_exactly(unsigned n) const { return m_count == n; }
  unsigned get_number_of_fanout() const { return m_count; }
  CDB_SGATE_ITERM* get_first_fanout() const { return m_count ? slots()[m_head] : nullptr; }
  CDB_SGATE_ITERM* get_last_fanout() const { return m_count ? slots()[m_used - 1] : nullptr; }
  CDB_SGATE_FANOUT_RANGE fanouts() const { return CDB_SGATE_FANOUT_RANGE(slots() + m_head, slots() + m_used); }
  // The readers' gates, in chain order, read from beside the chain's slots.
  CDB_SGATE_FANOUT_NODE_RANGE fanout_nodes() const {
    return CDB_SGATE_FANOUT_NODE_RANGE(gate_slots() + m_head, gate_slots() + m_used);
  }
  // Replaces `out` by the chain, in order.
  void copy_fanouts(std::vector<CDB_SGATE_ITERM*>& out) const;

  // Connects t: t leaves any old source or tie, is appended at the tail
  // (moved there when already in this chain), keeps its inversion flag and
  // becomes connected. t must belong to a gate.
  void insert_fanout(CDB_SGATE_ITERM* t);
  // Moves every fan-out of `other` to the end of this chain in order,
  // toggling each one's inversion flag when `invert`. other == this is an
  // internal error; the two terminals' own inversion flags are not consulted.
  void adopt_fanouts(CDB_SGATE_OTERM* other, bool invert);
  // When inverted: clears the flag and toggles every fan-out's flag.
  void move_invert_to_fanouts();
  // Every fan-out leaves the chain and becomes tied so that it delivers
  // vcc XOR its own inversion flag (the flag is kept).
  void set_all_fanouts_constant(bool vcc);
  // Disconnects every fan-out (state 2).
  void disconnect_all_fanouts();

  bool is_inverted() const { return (m_bits & CDB_TERM_INVERTED) != 0; }
  void invert() { m_bits ^= CDB_TERM_INVERTED; }
  void set_invert() { m_bits |= CDB_TERM_INVERTED; }
  void clear_invert() { m_bits &= uint8_t(~CDB_TERM_INVERTED); }

  DB_OUTPUT_PORT_TYPE get_port_type() const { return m_port_type; }
  void set_port_type(DB_OUTPUT_PORT_TYPE t) { m_port_type = t; }
  unsigned get_port_index() const { return m_port_index; }
  void set_port_index(unsigned i) { m_port_index = i; }
  unsigned get_literal_index() const { return m_port_index; }

  int get_aux() const { return m_aux; }
  void set_aux(int v) { m_aux = v; }
  int get_aux2() const { return m_aux2; }
  void set_aux2(int v) { m_aux2 = v; }
  int get_aux3() const { return m_aux3; }
  void set_aux3(int v) { m_aux3 = v; }
  int get_fanin_delay() const { return m_extra ? m_extra->m_fanin_delay : 0; }
  void set_fanin_delay(int d) {
    if (d || m_extra) extra().m_fanin_delay = d;
  }
  int get_fanout_delay() const { return m_extra ? m_extra->m_fanout_delay : 0; }
  void set_fanout_delay(int d) {
    if (d || m_extra) extra().m_fanout_delay = d;
  }
  unsigned get_sim_value() const { return m_sim_value; }
  void set_sim_value(unsigned v) { m_sim_value = v; }
  FTM_INFO* get_ftm_info() const { return m_extra ? m_extra->m_ftm_info : nullptr; }
  void set_ftm_info(FTM_INFO* i) {
    if (i || m_extra) extra().m_ftm_info = i;
  }

  CDB_FLAG32& get_flag() { return m_flag; }
  const CDB_FLAG32& get_flag() const { return m_flag; }
  bool test_dyn_flag(const GEN_DYN_FLAG& f) const { return (m_dyn & f.get_mask()) != 0; }
  void set_dyn_flag(const GEN_DYN_FLAG& f) { m_dyn |= f.get_mask(); }
  void reset_dyn_flag(const GEN_DYN_FLAG& f) { m_dyn &= ~f.get_mask(); }
  uint32_t get_dyn_flag_word() const { return m_dyn; }
  void set_dyn_flag_word(uint32_t w) { m_dyn = w; }
  // The terminal's own flag byte (0x01 inversion, 0x02 synthesized-name mark).
  uint8_t get_term_byte() const { return m_bits; }
  void set_term_byte(uint8_t b) { m_bits = b; }

  HDB_INSTANCE_NAME* get_instance_name() const { return m_name; }
  void set_instance_name(HDB_INSTANCE_NAME* n) { m_name = n; }
  unsigned get_instance_name_id() const;
  void swap_instance_name(CDB_SGATE_OTERM* other);
  bool has_synthesized_name_mark() const { return (m_bits & CDB_TERM_SYNTHESIZED_NAME) != 0; }
  // Records `base` (or the gate's instance name) as the synfrom name and sets the mark.
  void set_synthesized_name(HDB_INSTANCE_NAME* base);
  void set_synthesized_name(CDB_SGATE_NODE* from);
  void clear_synthesized_name_mark() { m_bits &= uint8_t(~CDB_TERM_SYNTHESIZED_NAME); }
  HDB_INSTANCE_NAME* get_synfrom_name() const { return m_extra ? m_extra->m_synfrom : nullptr; }
  // The own name's path, else the gate's.
  std::string get_string_hpath() const;

 private:
  friend class CDB_SGATE_ITERM;
  friend class CDB_SGATE_NODE;
  friend class CDB_SGATE_NETLIST;
  friend class CDB_SGATE_FANOUT_RANGE::iterator;
  // Room for `more` readers past the last slot: the block compacted where
  // that leaves enough, else moved into a larger one. Its one allocation
  // comes before any change (std::bad_alloc leaves the chain as it was), so
  // the caller links them without another.
  void make_room(uint32_t more);
  void append_link(CDB_SGATE_ITERM* t);
  void remove_link(uint32_t index);  // empties the slot, trims the ends, compacts when sparse
  void compact_links();
  void clear_links();  // forgets every entry (their inputs were already detached)
  static uint32_t fan_index_of(const CDB_SGATE_ITERM* t) { return t->m_fan_index; }
  // The chain block: slots [m_head, m_used) hold the readers in order, null
  // for a hole; m_head and m_used - 1 are readers whenever m_count > 0. The
  // gate slots beside them hold each reader's gate (null for a hole): the
  // inline ones, or a block's second half.
  CDB_SGATE_ITERM* const* slots() const { return m_cap_log ? m_block : m_inline; }
  CDB_SGATE_ITERM** slots() { return m_cap_log ? m_block : m_inline; }
  CDB_SGATE_NODE* const* gate_slots() const {
    return m_cap_log ? reinterpret_cast<CDB_SGATE_NODE* const*>(m_block + capacity()) : m_inline_gates;
  }
  CDB_SGATE_NODE** gate_slots() {
    return m_cap_log ? reinterpret_cast<CDB_SGATE_NODE**>(m_block + capacity()) : m_inline_gates;
  }
  // Bytes of a block of `cap` reader slots and as many gate slots.
  static size_t block_bytes(uint32_t cap) { return 2 * size_t(cap) * sizeof(void*); }
  // Puts reader t (or a hole, null) in slot i with its gate.
  void set_slot(uint32_t i, CDB_SGATE_ITERM* t) {
    slots()[i] = t;
    gate_slots()[i] = t ? t->m_node : nullptr;
  }
  uint32_t capacity() const { return m_cap_log ? uint32_t(1) << m_cap_log : kInlineSlots; }
  static constexpr uint32_t kInlineSlots = 2;
  static constexpr uint8_t kFirstBlockLog = std::bit_width(kInlineSlots);  // 2^log > kInlineSlots

  // The synfrom name, the delay fields and the fitter record, which few
  // terminals use, live in a side record made on first use (it keeps the
  // terminal at 104 bytes with room for two readers and their gates inline).
  struct EXTRA {
    HDB_INSTANCE_NAME* m_synfrom = nullptr;
    int m_fanin_delay = 0;
    int m_fanout_delay = 0;
    FTM_INFO* m_ftm_info = nullptr;
  };
  EXTRA& extra() {
    if (!m_extra) m_extra = new EXTRA;
    return *m_extra;
  }
  void set_synfrom(HDB_INSTANCE_NAME* n) {
    if (n || m_extra) extra().m_synfrom = n;
  }

  CDB_SGATE_NODE* m_node;
  HDB_INSTANCE_NAME* m_name = nullptr;
  EXTRA* m_extra = nullptr;
  int m_aux = 0;
  int m_aux2 = 0;
  int m_aux3 = 0;
  unsigned m_sim_value = 0;
  CDB_FLAG32 m_flag;
  uint32_t m_dyn = 0;
  uint32_t m_port_index = 0;
  DB_OUTPUT_PORT_TYPE m_port_type = DB_MAX_OUTPUT_PORT_TYPE;
  uint8_t m_bits = 0;
  CDB_SGATE_ITERM* m_inline[kInlineSlots] = {};  // m_cap_log 0: the reader slots are these words
  uint32_t m_count = 0;
  // What a walk from a gate to its readers' gates reads sits in the
  // terminal's last 28 bytes, next to the gate that follows it in memory
  // when both were made as a pair (cdb_sgate_pool.h), in the gate's first
  // cache line, so that walk touches one line for the two (the node-list
  // iterator prefetches it); the reader slots sit just below.
  uint8_t m_cap_log = 0;  // 0: inline slots; else the block holds 2^m_cap_log slots of each kind
  uint32_t m_used = 0;
  uint32_t m_head = 0;
  union {
    CDB_SGATE_NODE* m_inline_gates[kInlineSlots] = {};  // m_cap_log 0: the gate slots are these words
    CDB_SGATE_ITERM** m_block;  // m_cap_log > 0: a pool block, reader slots then gate slots
  };
};

inline CDB_SGATE_ITERM* CDB_SGATE_ITERM::get_next_fanout() const {
  if (!m_source) return nullptr;
  CDB_SGATE_ITERM* const* s = m_source->slots();
  for (uint32_t i = m_fan_index + 1; i < m_source->m_used; ++i)
    if (s[i]) return s[i];
  return nullptr;
}

inline CDB_SGATE_ITERM* CDB_SGATE_ITERM::get_prev_fanout() const {
  if (!m_source) return nullptr;
  CDB_SGATE_ITERM* const* s = m_source->slots();
  for (uint32_t i = m_fan_index; i-- > m_source->m_head;)
    if (s[i]) return s[i];
  return nullptr;
}

inline CDB_SGATE_FANOUT_RANGE::iterator::iterator(CDB_SGATE_ITERM* t) {
  if (!t || !t->get_source()) return;
  const CDB_SGATE_OTERM* o = t->get_source();
  m_p = o->slots() + CDB_SGATE_OTERM::fan_index_of(t);
  m_end = o->slots() + o->m_used;
}

// ---------------------------------------------------------------------------
class CDB_SGATE_NODE {
 public:
  typedef ZTL_COMPACT_PTR_VECTOR<CDB_SGATE_ITERM*> ITERM_VECTOR;
  typedef ZTL_COMPACT_PTR_VECTOR<CDB_SGATE_OTERM*> OTERM_VECTOR;

  virtual ~CDB_SGATE_NODE();
  CDB_SGATE_NODE(const CDB_SGATE_NODE&) = delete;
  CDB_SGATE_NODE& operator=(const CDB_SGATE_NODE&) = delete;
  // Gates of every kind come from the cell pool (cdb_sgate_pool.h).
  static void* operator new(size_t bytes);
  static void operator delete(void* p, size_t bytes) noexcept;
  static void* operator new(size_t, void* where) noexcept { return where; }
  static void operator delete(void*, void*) noexcept {}

  // --- kind
  CDB_SGATE_TYPE get_sgate_type() const { return CDB_SGATE_TYPE(m_type); }
  virtual bool is_wysiwyg() const { return false; }
  // Types 0, 1, 2, 5, 23, 24, 26, 44.
  virtual bool is_generic() const;
  bool is_pin() const { return m_type == CDB_SGATE_IO_ENUM; }
  bool is_input() const;   // pins of IO type 0 only
  bool is_output() const;  // pins of IO type 1 only
  bool is_bidir() const;   // pins of IO type 2 only
  bool is_synthesized() const { return m_synthesized; }
  void set_synthesized(bool s) { m_synthesized = s; }

  virtual CDB_SGATE_BUFFER* cast_to_buffer() { return nullptr; }
  virtual CDB_SGATE_COMB* cast_to_comb() { return nullptr; }
  virtual CDB_SGATE_DFF* cast_to_dff() { return nullptr; }
  virtual CDB_SGATE_IO* cast_to_io() { return nullptr; }
  virtual CDB_SGATE_IO_BUF* cast_to_io_buf() { return nullptr; }
  virtual CDB_SGATE_LUT* cast_to_lut() { return nullptr; }
  virtual CDB_SGATE_STATE* cast_to_state() { return nullptr; }
  virtual CDB_SGATE_MUX* cast_to_mux() { return nullptr; }
  virtual CDB_SGATE_CARRY_SUM* cast_to_carry_sum() { return nullptr; }
  virtual CDB_SGATE_TRI_BUS* cast_to_tri_bus() { return nullptr; }
  virtual CDB_SGATE_LATCH* cast_to_latch() { return nullptr; }
  virtual CDB_SGATE_BOUNDARY* cast_to_boundary() { return nullptr; }
  virtual CDB_SGATE_WYSIWYG* cast_to_wysiwyg() { return nullptr; }
  virtual CDB_SGATE_WYSIWYG_RAM_BLOCK* cast_to_wysiwyg_ram_block() { return nullptr; }
  virtual CDB_SGATE_OPERATOR* cast_to_operator() { return nullptr; }
  virtual CDB_SGATE_COMPONENT* cast_to_component() { return nullptr; }
  virtual CDB_SGATE_ASYNCHRONOUS_RAM* cast_to_asynchronous_ram() { return nullptr; }
  virtual CDB_SGATE_SYNCHRONOUS_RAM* cast_to_synchronous_ram() { return nullptr; }
  const CDB_SGATE_BUFFER* cast_to_buffer() const { return const_cast<CDB_SGATE_NODE*>(this)->cast_to_buffer(); }
  const CDB_SGATE_COMB* cast_to_comb() const { return const_cast<CDB_SGATE_NODE*>(this)->cast_to_comb(); }
  const CDB_SGATE_DFF* cast_to_dff() const { return const_cast<CDB_SGATE_NODE*>(this)->cast_to_dff(); }
  const CDB_SGATE_IO* cast_to_io() const { return const_cast<CDB_SGATE_NODE*>(this)->cast_to_io(); }
  const CDB_SGATE_IO_BUF* cast_to_io_buf() const { return const_cast<CDB_SGATE_NODE*>(this)->cast_to_io_buf(); }
  const CDB_SGATE_LUT* cast_to_lut() const { return const_cast<CDB_SGATE_NODE*>(this)->cast_to_lut(); }
  const CDB_SGATE_STATE* cast_to_state() const { return const_cast<CDB_SGATE_NODE*>(this)->cast_to_state(); }
  const CDB_SGATE_MUX* cast_to_mux() const { return const_cast<CDB_SGATE_NODE*>(this)->cast_to_mux(); }
  const CDB_SGATE_CARRY_SUM* cast_to_carry_sum() const { return const_cast<CDB_SGATE_NODE*>(this)->cast_to_carry_sum(); }
  const CDB_SGATE_TRI_BUS* cast_to_tri_bus() const { return const_cast<CDB_SGATE_NODE*>(this)->cast_to_tri_bus(); }
  const CDB_SGATE_LATCH* cast_to_latch() const { return const_cast<CDB_SGATE_NODE*>(this)->cast_to_latch(); }
  const CDB_SGATE_BOUNDARY* cast_to_boundary() const { return const_cast<CDB_SGATE_NODE*>(this)->cast_to_boundary(); }
  const CDB_SGATE_WYSIWYG* cast_to_wysiwyg() const { return const_cast<CDB_SGATE_NODE*>(this)->cast_to_wysiwyg(); }
  const CDB_SGATE_WYSIWYG_RAM_BLOCK* cast_to_wysiwyg_ram_block() const { return const_cast<CDB_SGATE_NODE*>(this)->cast_to_wysiwyg_ram_block(); }
  const CDB_SGATE_OPERATOR* cast_to_operator() const { return const_cast<CDB_SGATE_NODE*>(this)->cast_to_operator(); }
  const CDB_SGATE_COMPONENT* cast_to_component() const { return const_cast<CDB_SGATE_NODE*>(this)->cast_to_component(); }
  const CDB_SGATE_ASYNCHRONOUS_RAM* cast_to_asynchronous_ram() const { return const_cast<CDB_SGATE_NODE*>(this)->cast_to_asynchronous_ram(); }
  const CDB_SGATE_SYNCHRONOUS_RAM* cast_to_synchronous_ram() const { return const_cast<CDB_SGATE_NODE*>(this)->cast_to_synchronous_ram(); }
  // The register flags of plain registers and flip-flop atoms; null otherwise.
  virtual CDB_REG_FLAGS* get_reg_flags() { return nullptr; }
  const CDB_REG_FLAGS* get_reg_flags() const { return const_cast<CDB_SGATE_NODE*>(this)->get_reg_flags(); }

  // --- identity (the id is the debug number)
  unsigned get_id() const { return m_debug_number; }
  unsigned get_debug_number() const { return m_debug_number; }
  // Sets the number and raises the counter above it.
  void set_debug_number(unsigned n);
  void update_debug_number() { m_debug_number = s_debug_counter++; }
  static std::atomic<unsigned> s_debug_counter;  // atomic: gates may be built on several threads
  static void reset_debug_counter(unsigned next = 1) { s_debug_counter = next; }

  CDB_SGATE_NETLIST* get_netlist() const { return m_netlist; }

  // --- inputs
  ITERM_VECTOR& get_input_terms() { return m_iterms; }
  const ITERM_VECTOR& get_input_terms() const { return m_iterms; }
  CDB_SGATE_ITERM* get_input_term(unsigned i) const { return i < m_iterms.size() ? m_iterms[i] : nullptr; }
  unsigned get_number_of_input_terms() const { return unsigned(m_iterms.size()); }
  unsigned get_number_of_fanin() const;  // non-null entries
  CDB_SGATE_ITERM* get_single_iterm() const;  // first non-null entry
  bool has_fanin() const;                     // some input connected
  // Source output terminal of input i; null when none.
  CDB_SGATE_OTERM* get_fanin_term(unsigned i) const {
    CDB_SGATE_ITERM* t = get_input_term(i);
    return t ? t->get_source() : nullptr;
  }

  // --- outputs
  OTERM_VECTOR& get_output_terms() { return m_oterms; }
  const OTERM_VECTOR& get_output_terms() const { return m_oterms; }
  CDB_SGATE_OTERM* get_output_term(unsigned i) const { return i < m_oterms.size() ? m_oterms[i] : nullptr; }
  unsigned get_output_count() const { return unsigned(m_oterms.size()); }
  // Outputs below the port bound (all outputs on gates without a bound).
  virtual unsigned get_ordered_output_count() const { return get_output_count(); }
  CDB_SGATE_OTERM* get_single_oterm() const;  // first non-null entry
  // The principal output: the first for generic gates.
  virtual CDB_SGATE_OTERM* get_preferred_oterm() const { return get_single_oterm(); }
  DB_OUTPUT_PORT_TYPE get_output_port_enum(unsigned i) const;
  bool has_fanout() const;
  unsigned get_fanout_node_count() const;  // distinct sink gates
  unsigned get_fanin_node_count() const;   // distinct source gates
  // First input / output slot whose terminal has this port type, else 65535.
  virtual unsigned get_input_port_number(DB_INPUT_PORT_TYPE type) const;
  virtual unsigned get_output_port_number(DB_OUTPUT_PORT_TYPE type) const;

  // --- terminal edits
  // A new unconnected terminal owned by this gate, not in the list yet.
  CDB_SGATE_ITERM* create_input_term(MEM_SEGMENT* seg, DB_INPUT_PORT_TYPE type = DB_MAX_INPUT_PORT_TYPE);
  CDB_SGATE_OTERM* create_output_term(MEM_SEGMENT* seg, DB_OUTPUT_PORT_TYPE type = DB_MAX_OUTPUT_PORT_TYPE);
  // Places t at pos, growing the list with nulls; the slot must be empty or hold t.
  void set_input_term(CDB_SGATE_ITERM* t, unsigned pos);
  void set_ordered_input_term(CDB_SGATE_ITERM* t, unsigned pos) { set_input_term(t, pos); }
  void set_output_term(CDB_SGATE_OTERM* t, unsigned pos);
  // Archive reading: places a terminal just made by create_*_term into the
  // empty slot pos of a list already sized, in O(1) (set_*_term searches the
  // list for the terminal, which a new one cannot be in).
  void place_new_input_term(CDB_SGATE_ITERM* t, unsigned pos);
  void place_new_output_term(CDB_SGATE_OTERM* t, unsigned pos);
  // Appends a new input terminal driven by src (not inverted); returns it.
  CDB_SGATE_ITERM* insert_unordered_fanin(CDB_SGATE_OTERM* src);
  void insert_unordered_fanin_term(CDB_SGATE_ITERM* t);
  void insert_unordered_fanout_term(CDB_SGATE_OTERM* t);
  // Disconnects t, removes it from the list and destroys it. Comb gates and
  // tri-state buses close the gap; other kinds leave a null slot.
  void delete_input_term(CDB_SGATE_ITERM* t);
  // Unhooks t's fan-outs, removes it from the list (null slot) and destroys it.
  void delete_output_term(CDB_SGATE_OTERM* t);

  // --- names
  HDB_INSTANCE_NAME* get_instance_name() const { return m_name; }
  void set_instance_name(HDB_INSTANCE_NAME* n) { m_name = n; }
  unsigned get_instance_name_id() const;
  const char* get_string_name() const { return ex().m_string_name ? ex().m_string_name->c_str() : nullptr; }
  void set_string_name(const char* text);
  bool has_temporary_name() const { return (m_bytes[CDB_STATUS_BYTE] & CDB_STATUS_TEMPORARY_NAME) != 0; }
  void set_has_temporary_name(bool b) { set_byte_bits(CDB_STATUS_BYTE, CDB_STATUS_TEMPORARY_NAME, b); }
  void reset_has_temporary_name() { set_has_temporary_name(false); }
  HDB_INSTANCE_NAME* get_synfrom_name() const { return ex().m_synfrom; }
  // Records base as the synfrom name and marks the name temporary.
  void set_synthesized_name(HDB_INSTANCE_NAME* base);

  // --- debug text
  virtual const char* get_string_type_name() const = 0;
  std::string get_debug_name() const;  // "N<debug number>"
  std::string get_string_hpath() const;
  void print_too_long_depth_warning(int depth) const;

  // --- flags
  CDB_FLAG32& get_flag() { return m_flag; }
  const CDB_FLAG32& get_flag() const { return m_flag; }
  uint8_t get_flag_byte(unsigned i) const;
  void set_flag_byte(unsigned i, uint8_t v);
  bool test_dyn_flag(const GEN_DYN_FLAG& f) const { return (m_dyn & f.get_mask()) != 0; }
  void set_dyn_flag(const GEN_DYN_FLAG& f) { m_dyn |= f.get_mask(); }
  void reset_dyn_flag(const GEN_DYN_FLAG& f) { m_dyn &= ~f.get_mask(); }
  uint32_t get_dyn_flag_word() const { return m_dyn; }
  void set_dyn_flag_word(uint32_t w) { m_dyn = w; }

  // --- marks (flag bytes)
  bool is_changed() const { return (m_bytes[CDB_STATUS_BYTE] & CDB_STATUS_CHANGED) != 0; }
  void set_changed(bool b) { set_byte_bits(CDB_STATUS_BYTE, CDB_STATUS_CHANGED, b); }
  bool is_type_changed() const { return (m_bytes[CDB_STATUS_BYTE] & CDB_STATUS_TYPE_CHANGED) != 0; }
  void set_type_changed(bool b) { set_byte_bits(CDB_STATUS_BYTE, CDB_STATUS_TYPE_CHANGED, b); }
  void mark_for_deletion() { m_bytes[CDB_STATUS_BYTE] |= CDB_STATUS_DELETE | CDB_STATUS_CHANGED; }
  void clear_deletion_mark() { m_bytes[CDB_STATUS_BYTE] &= uint8_t(~CDB_STATUS_DELETE); }
  bool is_marked_for_deletion() const { return (m_bytes[CDB_STATUS_BYTE] & CDB_STATUS_DELETE) != 0; }
  bool kff_requested() const { return (m_bytes[CDB_KEEP_BYTE] & CDB_KEEP_KFF_REQUESTED) != 0; }
  bool kff_in_force() const { return (m_bytes[CDB_KEEP_BYTE] & CDB_KEEP_KFF_IN_FORCE) != 0; }
  bool kff_read() const { return (m_bytes[CDB_KEEP_BYTE] & CDB_KEEP_KFF_READ) != 0; }
  void set_kff(bool requested, bool in_force, bool read);
  bool is_user_primitive() const { return (m_bytes[CDB_KEEP_BYTE] & CDB_KEEP_USER_PRIMITIVE) != 0; }
  void set_user_primitive(bool b) { set_byte_bits(CDB_KEEP_BYTE, CDB_KEEP_USER_PRIMITIVE, b); }
  bool is_orphan() const { return (m_bytes[CDB_MISC_BYTE] & CDB_MISC_ORPHAN) != 0; }
  void set_orphan(bool b) { set_byte_bits(CDB_MISC_BYTE, CDB_MISC_ORPHAN, b); }

  // --- scratch links
  void* get_temp_pointer() const { return m_temp; }
  void set_temp_pointer(void* p) { m_temp = p; }
  CDB_SGATE_NODE* get_temp_node() const { return static_cast<CDB_SGATE_NODE*>(m_temp); }
  CDB_SGATE_HIERARCHY* get_hierarchy() const { return ex().m_hierarchy; }
  void set_hierarchy(CDB_SGATE_HIERARCHY* h) {
    if (h || m_extra) extra().m_hierarchy = h;
  }

  // --- state machines that list this gate (dropped at destruction)
  void add_state_machine_reference(CDB_STATE_MACHINE* m);
  void remove_state_machine_reference(CDB_STATE_MACHINE* m);

  // --- copy: a new gate of the same kind, same kind fields, flag
  // bytes and modes, no instance name, a new debug number, not linked.
  // Clone type 0 leaves the inputs unconnected; 1 copies each connection.
  virtual void clone_node(MEM_SEGMENT* seg, CDB_SGATE_NODE** result, int clone_type) const = 0;

  // --- hooks for kind classes
  // Kind-specific invariants for CDB_SGATE_NETLIST::check; appends lines to
  // `report` (may be null) and returns false on a failure.
  virtual bool check_kind_invariants(std::string* report) const;
  // Sweep keeper rule for this gate (pins, IO buffers, preserved registers, …).
  virtual bool is_sweep_keeper() const;
  // Called before a terminal of this gate is destroyed, so kinds that also
  // keep terminals in their own tables (operators) can forget it.
  virtual void on_iterm_removed(CDB_SGATE_ITERM*) {}
  virtual void on_oterm_removed(CDB_SGATE_OTERM*) {}

 protected:
  CDB_SGATE_NODE(CDB_SGATE_TYPE type, HDB_INSTANCE_NAME* name, bool synthesized = false);
  // Lets kinds whose type depends on data (atoms) change it.
  void set_sgate_type(CDB_SGATE_TYPE t) { m_type = uint8_t(t); }
  void set_byte_bits(unsigned i, uint8_t bits, bool on) {
    if (on) m_bytes[i] |= bits;
    else m_bytes[i] &= uint8_t(~bits);
  }
  uint8_t& flag_byte_ref(unsigned i) { return m_bytes[i]; }
  // For clone_node: copies the base fields (flag bytes, string name,
  // synthesized bit; not the instance name) and creates every terminal of
  // this gate in the same slot of `copy` with the same port data and
  // inversion flags; clone type 1 also copies each input's connection.
  // Output terminals the copy's constructor made are reused slot by slot.
  void clone_base_into(CDB_SGATE_NODE* copy, int clone_type) const;

 private:
  friend class CDB_SGATE_NETLIST;
  void detach_everything();

  // Members few gates use, in a side record made on first use: a gate of a
  // large netlist then costs its terminals, its lists and 136 bytes.
  struct EXTRA {
    HDB_INSTANCE_NAME* m_synfrom = nullptr;
    std::string* m_string_name = nullptr;
    CDB_SGATE_HIERARCHY* m_hierarchy = nullptr;
    std::vector<CDB_STATE_MACHINE*>* m_machines = nullptr;
    int m_max_fanout_limit = 0;  // 0: no max-fan-out constraint
  };
  static const EXTRA s_no_extra;
  const EXTRA& ex() const { return m_extra ? *m_extra : s_no_extra; }
  EXTRA& extra() {
    if (!m_extra) m_extra = new EXTRA;
    return *m_extra;
  }

  // Graveyard membership needs no record: an unlinked gate in a graveyard
  // keeps that netlist's address in m_slot with bit 0 set.
  CDB_SGATE_NETLIST* graveyard() const {
    const uintptr_t v = reinterpret_cast<uintptr_t>(m_slot);
    return !m_netlist && (v & 1) ? reinterpret_cast<CDB_SGATE_NETLIST*>(v & ~uintptr_t(1)) : nullptr;
  }
  void set_graveyard(CDB_SGATE_NETLIST* g) {
    m_slot = g ? reinterpret_cast<CDB_SGATE_NODE**>(reinterpret_cast<uintptr_t>(g) | 1) : nullptr;
  }

  // The output list comes first: a walk from a gate to its readers reads it
  // right after the tail of the gate's first output terminal, which the
  // pool places just below the gate (cdb_sgate_pool.h).
  OTERM_VECTOR m_oterms;
  ITERM_VECTOR m_iterms;
  CDB_SGATE_NETLIST* m_netlist = nullptr;
  CDB_SGATE_NODE** m_slot = nullptr;  // slot in the netlist's node list (graveyard: above)
  HDB_INSTANCE_NAME* m_name = nullptr;
  void* m_temp = nullptr;
  EXTRA* m_extra = nullptr;
  unsigned m_debug_number;
  uint32_t m_stamp = 0;          // visit stamp of the netlist's walks (sweep, sort, check)
  CDB_FLAG32 m_flag;
  uint32_t m_dyn = 0;
  uint8_t m_bytes[4] = {0, 0, 0, 0};
  uint8_t m_type;
  bool m_synthesized;
};

// ---------------------------------------------------------------------------
// Flags shared by plain registers and flip-flop atoms. Each of allow-anything,
// preserve, merge, prune and max-fan-out has a state (set from assignments or
// not) and a value; setters also mark the state set. Power-up bits live in
// the gate's kind byte at positions the deriving kind gives; the
// sclr-over-enable, packed and user-clock-enable marks in its misc byte.
class CDB_REG_FLAGS {
 public:
  virtual ~CDB_REG_FLAGS() = default;

  bool allow_anything() const { return m_allow_anything; }
  void set_allow_anything(bool v) { m_allow_anything = v; m_allow_anything_set = true; }
  bool allow_anything_is_set() const { return m_allow_anything_set; }
  bool preserve() const { return m_preserve; }
  void set_preserve(bool v) { m_preserve = v; m_preserve_set = true; }
  bool preserve_is_set() const { return m_preserve_set; }
  bool merge_allowed() const { return m_merge; }
  void set_merge_allowed(bool v) { m_merge = v; m_merge_set = true; }
  bool merge_allowed_is_set() const { return m_merge_set; }
  bool prune_allowed() const { return m_prune; }
  void set_prune_allowed(bool v) { m_prune = v; m_prune_set = true; }
  bool prune_allowed_is_set() const { return m_prune_set; }
  int get_max_fanout() const { return m_max_fanout; }
  void set_max_fanout(int n) { m_max_fanout = n; m_max_fanout_set = true; }
  bool max_fanout_is_set() const { return m_max_fanout_set; }
  bool not_gate_push_allowed() const { return m_not_gate_push; }
  void set_not_gate_push_allowed(bool v) { m_not_gate_push = v; }

  bool powers_up_high() const;
  bool is_power_up_dc() const;
  bool has_power_up_setting() const;
  void set_power_up_high(bool v);
  void set_power_up_dc(bool v);
  void set_has_power_up_setting(bool v);

  bool sclr_over_ena_priority() const;
  void set_sclr_over_ena_priority(bool v);
  bool is_packed() const;
  void set_packed(bool v);
  bool is_user_clock_enable() const;
  void set_user_clock_enable(bool v);

  // Copies every flag above from another plain register or flip-flop atom.
  void copy_flags_from_other_ff(const CDB_SGATE_NODE* other);

 protected:
  CDB_REG_FLAGS(uint8_t high_bit, uint8_t dc_bit, uint8_t setting_bit)
      : m_high_bit(high_bit), m_dc_bit(dc_bit), m_setting_bit(setting_bit) {}
  CDB_REG_FLAGS(const CDB_REG_FLAGS&) = default;
  CDB_REG_FLAGS& operator=(const CDB_REG_FLAGS&) = default;
  // The gate these flags belong to.
  virtual CDB_SGATE_NODE* reg_flags_node() = 0;
  const CDB_SGATE_NODE* reg_flags_node_c() const { return const_cast<CDB_REG_FLAGS*>(this)->reg_flags_node(); }
  // Copies the non-byte flags (used by clones).
  void copy_reg_state_from(const CDB_REG_FLAGS& o);

 private:
  bool kind_bit(uint8_t bit) const;
  void set_kind_bit(uint8_t bit, bool v, bool changes_function);
  bool misc_bit(uint8_t bit) const;
  void set_misc_bit(uint8_t bit, bool v);

  uint8_t m_high_bit, m_dc_bit, m_setting_bit;
  bool m_allow_anything = false, m_allow_anything_set = false;
  bool m_preserve = false, m_preserve_set = false;
  bool m_merge = true, m_merge_set = false;
  bool m_prune = true, m_prune_set = false;
  bool m_max_fanout_set = false;
  bool m_not_gate_push = true;
  int m_max_fanout = 0;
};
