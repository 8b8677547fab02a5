// cdb_sgate_netlist_pdb.cpp — the gate netlist as an archive record.
//
// One transfer routine both writes and reads (the segment's direction
// decides). A gate is its creation header (gate type, class, sub-type, LUT
// mask, debug number) followed by names, flags, terminals and kind data;
// references between gates (sources, parent inputs, state machines) travel
// as debug numbers and slots and are resolved once every gate is read.
// Flag bytes are applied last on reading, because restoring kind data
// (modes, masks, sweep levels) raises the gates' changed marks.
#include "cdb/cdb_sgate_netlist_pdb.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "hdb/hdb.h"
#include "msg/msg.h"
#include "pdb/pdb_fields.h"
#include "thr/thr_fork_int.h"

namespace {

const char* kSource = "platform/cdb/cdb_sgate_netlist_pdb.cpp";
constexpr uint32_t kNone = 0xffffffffu;

// How a gate is constructed on reading.
enum NODE_CLASS : uint32_t { CLASS_PLAIN = 0, CLASS_ATOM = 1, CLASS_ATOM_RAM_BLOCK = 2 };

[[noreturn]] void bad(const std::string& what) { throw PDB_DATABASE_EXCEPTION(what); }

// ---- field helpers beyond pdb_fields.h
// A text that may be absent (null): a presence flag, then the text.
bool f_opt_str(PDB_SEGMENT& seg, int tag, const char* in, std::string& out) {
  bool has = in != nullptr;
  pdb_field_bool(seg, tag, has);
  if (!seg.is_reading()) out = has ? in : "";
  if (has) pdb_field_str(seg, tag + 1, out);
  return has;
}

// A name as its levels from the top: (partial name, synthesized). Uses tags
// tag .. tag + 3.
// Every gate and terminal writes one: the levels of names of the usual depth
// are gathered on the stack and their texts go out without a copy (the same
// fields pdb_field_str writes).
void write_name(PDB_SEGMENT& seg, int tag, HDB_INSTANCE_NAME* name) {
  uint32_t count = 0;
  for (HDB_INSTANCE_NAME* n = name; n; n = n->get_parent()) ++count;
  pdb_field_u32(seg, tag, count);
  HDB_INSTANCE_NAME* near[16];
  std::vector<HDB_INSTANCE_NAME*> far(count > 16 ? count : 0);
  HDB_INSTANCE_NAME** levels = count > 16 ? far.data() : near;
  uint32_t i = count;
  for (HDB_INSTANCE_NAME* n = name; n; n = n->get_parent()) levels[--i] = n;
  for (i = 0; i < count; ++i) {
    const char* text = levels[i]->get_partial_name();
    uint32_t length = uint32_t(std::strlen(text));
    bool synth = levels[i]->is_synthesized();
    pdb_field_count(seg, tag + 1, length, 1);
    seg.set_field(tag + 2, "s");
    seg.transfer_chars(length, const_cast<char*>(text));
    pdb_field_bool(seg, tag + 3, synth);
  }
}

HDB_INSTANCE_NAME* read_name(PDB_SEGMENT& seg, int tag) {
  uint32_t count = 0;
  pdb_field_u32(seg, tag, count);
  if (count > seg.bytes_left()) bad("name deeper than the record");
  HDB_INSTANCE_NAME* name = nullptr;
  for (uint32_t i = 0; i < count; ++i) {
    std::string text;
    bool synth = false;
    pdb_field_str(seg, tag + 1, text);
    pdb_field_bool(seg, tag + 3, synth);
    // The name layer stores texts as C strings: an empty one, or one with a
    // NUL byte, cannot have been written and cannot be made.
    if (text.empty() || text.find('\0') != std::string::npos) bad("empty or NUL-bearing partial name");
    if (!name) name = HDB_INSTANCE_NAME::create_normal_name(nullptr, text.c_str(), nullptr, nullptr, nullptr);
    else name = HDB_INSTANCE_NAME::create_synthesized_name(name, text.c_str(), false, synth);
  }
  return name;
}

void x_name(PDB_SEGMENT& seg, int tag, HDB_INSTANCE_NAME*& name) {
  if (seg.is_reading()) name = read_name(seg, tag);
  else write_name(seg, tag, name);
}

template <typename T>
uint32_t slot_of(const T& list, const void* t) {
  for (unsigned k = 0; k < list.size(); ++k)
    if (list[k] == t) return k;
  return kNone;
}

// Slots of the terminals of wide gates, built once per gate on first use,
// so that references into a gate of n terminals cost O(1), not O(n), each.
class SLOT_INDEX {
 public:
  template <typename T>
  uint32_t find(const CDB_SGATE_NODE* gate, bool outputs, const T& list, const void* t) {
    if (list.size() <= kScanLimit) return slot_of(list, t);
    auto [it, added] = m_by_gate[outputs].try_emplace(gate);
    if (added)
      for (unsigned k = 0; k < list.size(); ++k)
        if (list[k]) it->second.emplace(list[k], k);
    auto found = it->second.find(t);
    return found == it->second.end() ? kNone : found->second;
  }

 private:
  static constexpr size_t kScanLimit = 32;
  std::unordered_map<const CDB_SGATE_NODE*, std::unordered_map<const void*, uint32_t>> m_by_gate[2];
};

// ---- construction on reading
CDB_SGATE_NODE* make_node(uint32_t cls, uint32_t type, uint32_t sub, HDB_INSTANCE_NAME* name, uint32_t lut_n,
                          uint64_t lut_v) {
  if (cls == CLASS_ATOM || cls == CLASS_ATOM_RAM_BLOCK) {
    if (sub > 0xffff) bad("bad atom type");
    const CDB_SGATE_TYPE row_type = kavu_platform::atom_catalogue_lookup(CDB_WYSIWYG_TYPE(sub)).m_gate_type;
    if (uint32_t(row_type) != type) bad("atom type " + std::to_string(sub) + " reports another gate type");
    if (cls == CLASS_ATOM) return new CDB_SGATE_WYSIWYG(name, CDB_WYSIWYG_TYPE(sub));
    if (row_type != CDB_SGATE_WYSIWYG_RAM_BLOCK_ENUM) bad("RAM-block atom of another gate type");
    return new CDB_SGATE_WYSIWYG_RAM_BLOCK(name, CDB_WYSIWYG_TYPE(sub));
  }
  if (cls != CLASS_PLAIN) bad("bad gate class");
  CDB_SGATE_NODE* n = nullptr;
  switch (CDB_SGATE_TYPE(type)) {
    // Sub-types stay within their enumerations' ranges.
    case CDB_SGATE_BUFFER_ENUM:
      if (sub > 31) bad("bad buffer type");
      return new CDB_SGATE_BUFFER(name, CDB_BUFFER_TYPE(sub));
    case CDB_SGATE_COMB_ENUM:
      if (sub > 7) bad("bad comb type");
      return new CDB_SGATE_COMB(name, CDB_COMB_TYPE(sub));
    case CDB_SGATE_DFF_ENUM: return new CDB_SGATE_DFF(name);
    case CDB_SGATE_IO_ENUM:
      if (sub > CDB_IO_BIDIR) bad("bad pin type");
      return new CDB_SGATE_IO(name, CDB_IO_TYPE(sub));
    case CDB_SGATE_IO_BUF_ENUM:
      if (sub > CDB_IO_BUF_OPEN_DRAIN) bad("bad IO buffer type");
      return new CDB_SGATE_IO_BUF(name, CDB_IO_BUF_TYPE(sub));
    case CDB_SGATE_LUT_ENUM: {
      if (lut_n > 6) bad("bad LUT size");
      CDB_LUTMASK m;
      m.set_value(lut_n, lut_v);
      return new CDB_SGATE_LUT(name, m);
    }
    case CDB_SGATE_STATE_ENUM: return new CDB_SGATE_STATE(name, nullptr);
    case CDB_SGATE_MUX_ENUM: return new CDB_SGATE_MUX(name);
    case CDB_SGATE_CARRY_SUM_ENUM: return new CDB_SGATE_CARRY_SUM(name);
    case CDB_SGATE_TRI_BUS_ENUM: return new CDB_SGATE_TRI_BUS(name);
    case CDB_SGATE_LATCH_ENUM: return new CDB_SGATE_LATCH(name);
    case CDB_SGATE_BOUNDARY_ENUM:
      if (sub > CDB_BOUNDARY_OUTPUT) bad("bad boundary direction");
      return new CDB_SGATE_BOUNDARY(name, CDB_BOUNDARY_TYPE(sub));
    case CDB_SGATE_COMPONENT_ENUM: n = new CDB_SGATE_COMPONENT(nullptr, sub != 0); break;
    case CDB_SGATE_OPERATOR_ENUM:
      if (sub > 31) bad("bad operator kind");
      n = new CDB_SGATE_OPERATOR(nullptr, CDB_OPER_TYPE(sub));
      break;
    case CDB_SGATE_ASYNCHRONOUS_RAM_ENUM: return new CDB_SGATE_ASYNCHRONOUS_RAM(name);
    case CDB_SGATE_SYNCHRONOUS_RAM_ENUM: return new CDB_SGATE_SYNCHRONOUS_RAM(name);
    default: bad("gate kind " + std::to_string(type) + " is not a kind of the database");
  }
  n->set_instance_name(name);
  return n;
}

// The creation header's class and sub-type of a gate being written.
void describe(CDB_SGATE_NODE* n, uint32_t* cls, uint32_t* sub, uint32_t* lut_n, uint64_t* lut_v) {
  *cls = CLASS_PLAIN;
  *sub = 0;
  *lut_n = 0;
  *lut_v = 0;
  if (CDB_SGATE_WYSIWYG* a = n->cast_to_wysiwyg()) {
    *cls = n->cast_to_wysiwyg_ram_block() ? CLASS_ATOM_RAM_BLOCK : CLASS_ATOM;
    *sub = a->get_wysiwyg_type();
  } else if (auto* b = n->cast_to_buffer()) *sub = b->get_buffer_type();
  else if (auto* c = n->cast_to_comb()) *sub = c->get_comb_type();
  else if (auto* p = n->cast_to_io()) *sub = p->get_io_type();
  else if (auto* ib = n->cast_to_io_buf()) *sub = ib->get_io_buf_type();
  else if (auto* bd = n->cast_to_boundary()) *sub = bd->get_direction();
  else if (auto* op = n->cast_to_operator()) *sub = op->get_type();
  else if (auto* cp = n->cast_to_component()) *sub = cp->is_port_prototype_known() ? 1 : 0;
  else if (auto* l = n->cast_to_lut()) {
    *lut_n = l->get_lut_mask().get_num_inputs();
    *lut_v = l->get_lut_mask().get_value();
  }
}

// ---- hierarchies read from archives
// A process-wide table of the hierarchies that gates read from archives
// refer to, one per (parent, instance name): reading the same partition, or
// two partitions of one design, gives their gates the same hierarchy
// objects, and the table (never the netlist) owns them, so a gate moved to
// another netlist or a netlist freed leaves nothing dangling.
struct HIERARCHY_TABLE {
  std::mutex mutex;
  std::map<std::pair<CDB_HIERARCHY_BASE*, HDB_INSTANCE_NAME*>, std::unique_ptr<CDB_SGATE_HIERARCHY>> by_key;
};

HIERARCHY_TABLE& hierarchy_table() {
  static HIERARCHY_TABLE* t = [] {
    HIERARCHY_TABLE* made = new HIERARCHY_TABLE;
    thr_lock_across_fork(&made->mutex, THR_FORK_HIERARCHIES);
    return made;
  }();
  return *t;
}

CDB_SGATE_HIERARCHY* intern_hierarchy(CDB_SGATE_HIERARCHY* parent, HDB_INSTANCE_NAME* name, bool uses_namespace) {
  HIERARCHY_TABLE& t = hierarchy_table();
  std::lock_guard<std::mutex> lock(t.mutex);
  std::unique_ptr<CDB_SGATE_HIERARCHY>& slot = t.by_key[{parent, name}];
  if (!slot) {
    slot.reset(new CDB_SGATE_HIERARCHY);
    slot->set_instance_name(name);
    slot->set_parent(parent);
  }
  // Names read are interned into the default namespace: that is the one a
  // hierarchy that used a namespace uses here.
  if (uses_namespace && !slot->uses_namespace()) slot->set_namespace(kavu_platform::hdb_default_namespace());
  return slot.get();
}

// ---- one transfer's working state
struct PENDING_SOURCE {
  CDB_SGATE_ITERM* iterm;
  uint32_t src_debug;
  uint32_t src_slot;
};

struct TRANSFER {
  CDB_SGATE_NETLIST* nl;
  bool rd;
  // Reading: gates by number, references to resolve, the largest number.
  std::unordered_map<uint32_t, CDB_SGATE_NODE*> by_debug;
  std::vector<PENDING_SOURCE> sources;
  std::vector<PENDING_SOURCE> parents;  // iterm, owner's number, input slot
  std::vector<std::pair<CDB_SGATE_STATE*, uint32_t>> state_machines;
  uint32_t max_debug = 0;
  // The record's format version (reading: as stored).
  uint32_t version = CDB_SGATE_NETLIST_ARCHIVE_VERSION;
  // The gates' hierarchies, parents before children, by index.
  std::vector<CDB_HIERARCHY_BASE*> hierarchies;
  std::unordered_map<const CDB_HIERARCHY_BASE*, uint32_t> hierarchy_index;
  // Writing: the machines carried, by index.
  std::vector<CDB_STATE_MACHINE*> machines;
  std::unordered_map<const CDB_STATE_MACHINE*, uint32_t> machine_index;
  // Scratch: terminal -> slot of the gate whose port table is moved.
  std::unordered_map<const void*, uint32_t> slot_scratch;
  // Writing: slots of the terminals of wide gates.
  SLOT_INDEX wide;

  uint32_t oslot(const CDB_SGATE_OTERM* t) {
    const CDB_SGATE_NODE* g = t->get_my_node();
    return wide.find(g, true, g->get_output_terms(), t);
  }
  uint32_t islot(const CDB_SGATE_ITERM* t) {
    const CDB_SGATE_NODE* g = t->get_my_node();
    return wide.find(g, false, g->get_input_terms(), t);
  }

  CDB_SGATE_NODE* gate(uint32_t debug) const {
    auto it = by_debug.find(debug);
    if (it == by_debug.end()) bad("gate " + std::to_string(debug) + " is not in the record");
    return it->second;
  }
  bool in_netlist(const CDB_SGATE_NODE* n) const { return n && n->get_netlist() == nl; }
};

// A reference to an output terminal as (present, gate number, slot).
void x_oterm_ref(PDB_SEGMENT& seg, int tag, TRANSFER& x, CDB_SGATE_OTERM** t) {
  bool present = !x.rd && *t && x.in_netlist((*t)->get_my_node());
  uint32_t debug = 0, slot = 0;
  if (present) {
    debug = (*t)->get_my_node()->get_debug_number();
    slot = x.oslot(*t);
  }
  pdb_field_bool(seg, tag, present);
  if (!present) {
    if (x.rd) *t = nullptr;
    return;
  }
  pdb_field_u32(seg, tag + 1, debug);
  pdb_field_u32(seg, tag + 2, slot);
  if (x.rd) {
    *t = x.gate(debug)->get_output_term(slot);
    if (!*t) bad("gate " + std::to_string(debug) + " lacks output " + std::to_string(slot));
  }
}

// ---- flags shared by plain registers and flip-flop atoms
void transfer_reg_flags(PDB_SEGMENT& seg, CDB_REG_FLAGS* rf, bool rd) {
  bool v[11] = {rf->allow_anything(), rf->allow_anything_is_set(), rf->preserve(),      rf->preserve_is_set(),
                rf->merge_allowed(),  rf->merge_allowed_is_set(),  rf->prune_allowed(), rf->prune_allowed_is_set(),
                rf->max_fanout_is_set(), rf->not_gate_push_allowed(), false};
  for (int k = 0; k < 10; ++k) pdb_field_bool(seg, 37 + k, v[k]);
  int32_t max_fanout = rf->get_max_fanout();
  pdb_field_i32(seg, 47, max_fanout);
  if (!rd) return;
  if (v[1]) rf->set_allow_anything(v[0]);
  if (v[3]) rf->set_preserve(v[2]);
  if (v[5]) rf->set_merge_allowed(v[4]);
  if (v[7]) rf->set_prune_allowed(v[6]);
  if (v[8]) rf->set_max_fanout(max_fanout);
  rf->set_not_gate_push_allowed(v[9]);
}

// ---- terminals

// A gate's terminal slots: their count, then per 32 slots a word saying
// which hold a terminal, followed by `one(slot)` for each of those. The
// count is any 32-bit number the record can hold: each word of 32 slots
// takes at least 7 bytes (field header and value).
template <typename LIST, typename ONE>
void walk_slots(PDB_SEGMENT& seg, int tag, bool rd, LIST& list, ONE one) {
  uint32_t count = uint32_t(list.size());
  pdb_field_u32(seg, tag, count);
  if (rd && (uint64_t(count) + 31) / 32 > seg.bytes_left() / 7) bad("more terminal slots than the record holds");
  if (rd && count > list.size()) list.resize(count);
  for (uint32_t base = 0; base < count; base += 32) {
    const uint32_t end = std::min(count, base + 32);
    uint32_t word = 0;
    if (!rd)
      for (uint32_t s = base; s < end; ++s) word |= list[s] ? 1u << (s - base) : 0u;
    pdb_field_u32(seg, tag + 1, word);
    if (rd && end - base < 32 && (word >> (end - base)) != 0) bad("terminal beyond the slots");
    for (uint32_t s = base; s < end; ++s) one(s, (word >> (s - base) & 1) != 0);
  }
}

void transfer_oterms(PDB_SEGMENT& seg, TRANSFER& x, CDB_SGATE_NODE* n) {
  walk_slots(seg, 50, x.rd, n->get_output_terms(), [&](uint32_t s, bool present) {
    CDB_SGATE_OTERM* t = n->get_output_term(s);
    if (!present) {
      if (t) n->delete_output_term(t);  // the constructor made one the original lacks
      return;
    }
    if (!t) {
      t = n->create_output_term(nullptr);
      n->place_new_output_term(t, s);
    }
    uint32_t pt = t->get_port_type(), pi = t->get_port_index(), tb = t->get_term_byte(), fw = t->get_flag().value();
    int32_t fi = t->get_fanin_delay(), fo = t->get_fanout_delay();
    HDB_INSTANCE_NAME* name = t->get_instance_name();
    HDB_INSTANCE_NAME* synfrom = t->get_synfrom_name();
    uint32_t marks = (fi || fo ? 1u : 0u) | (fw ? 2u : 0u);
    pdb_field_u32(seg, 52, pt);
    pdb_field_u32(seg, 53, pi);
    pdb_field_u32(seg, 54, tb);
    pdb_field_u32(seg, 55, marks);
    if (marks & 1) {
      pdb_field_i32(seg, 56, fi);
      pdb_field_i32(seg, 58, fo);
    }
    if (marks & 2) pdb_field_u32(seg, 170, fw);
    x_name(seg, 57, name);
    x_name(seg, 171, synfrom);
    if (x.rd) {
      t->set_port_type(DB_OUTPUT_PORT_TYPE(pt));
      t->set_port_index(pi);
      t->set_fanin_delay(fi);
      t->set_fanout_delay(fo);
      t->get_flag().set_value(fw);
      t->set_instance_name(name);
      if (synfrom) t->set_synthesized_name(synfrom);
      t->set_term_byte(uint8_t(tb));  // after the synfrom name: the mark is as written
    }
  });
}

// The information record of an input that has one.
void transfer_iterm_info(PDB_SEGMENT& seg, CDB_SGATE_ITERM* t, bool rd) {
  CDB_SGATE_ITERM_INFO* info = rd ? t->create_info() : t->get_info();
  int32_t value = info->get_value(), confidence = info->get_confidence();
  double p = info->get_probability();
  uint64_t bits;
  std::memcpy(&bits, &p, sizeof bits);
  uint32_t lo = uint32_t(bits), hi = uint32_t(bits >> 32);
  pdb_field_i32(seg, 180, value);
  pdb_field_u32(seg, 181, lo);
  pdb_field_u32(seg, 182, hi);
  pdb_field_i32(seg, 183, confidence);
  if (!rd) return;
  bits = uint64_t(lo) | uint64_t(hi) << 32;
  std::memcpy(&p, &bits, sizeof p);
  info->set_value(value);
  info->set_probability(p);
  info->set_confidence(confidence);
}

void transfer_iterms(PDB_SEGMENT& seg, TRANSFER& x, CDB_SGATE_NODE* n) {
  walk_slots(seg, 60, x.rd, n->get_input_terms(), [&](uint32_t s, bool present) {
    CDB_SGATE_ITERM* t = n->get_input_term(s);
    if (!present) {
      if (t) n->delete_input_term(t);  // the constructor made one the original lacks
      return;
    }
    if (!t) {
      t = n->create_input_term(nullptr);
      n->place_new_input_term(t, s);
    }
    uint32_t pt = t->get_port_type(), pi = t->get_port_index(), fw = t->get_flag().value();
    bool inv = t->is_inverted(), tied = t->is_vcc_or_gnd(), driven = t->get_source() != nullptr;
    uint32_t src = 0, slot = 0;
    if (driven) {
      CDB_SGATE_OTERM* o = t->get_source();
      src = o->get_my_node()->get_debug_number();
      slot = x.oslot(o);
    }
    // A parent input counts only when its gate travels in the same record.
    CDB_SGATE_ITERM* parent = x.rd ? nullptr : t->get_parent_input();
    bool has_parent = parent && x.in_netlist(parent->get_my_node());
    uint32_t parent_debug = has_parent ? parent->get_my_node()->get_debug_number() : 0;
    uint32_t parent_slot = has_parent ? x.islot(parent) : 0;
    // One word of marks; the fields they announce follow.
    uint32_t marks = (inv ? 1u : 0u) | (tied ? 2u : 0u) | (driven ? 4u : 0u) | (has_parent ? 8u : 0u) |
                     (fw ? 16u : 0u) | (t->get_info() ? 32u : 0u);
    pdb_field_u32(seg, 62, pt);
    pdb_field_u32(seg, 63, pi);
    pdb_field_u32(seg, 64, marks);
    if (x.rd) {
      if (marks > 63 || (tied && driven)) bad("bad input marks");
      inv = marks & 1;
      tied = marks & 2;
      driven = marks & 4;
      has_parent = marks & 8;
    }
    if (driven) {
      pdb_field_u32(seg, 67, src);
      pdb_field_u32(seg, 68, slot);
    }
    if (marks & 16) pdb_field_u32(seg, 175, fw);
    if (has_parent) {
      pdb_field_u32(seg, 177, parent_debug);
      pdb_field_u32(seg, 178, parent_slot);
    }
    if (marks & 32) transfer_iterm_info(seg, t, x.rd);
    if (!x.rd) return;
    t->set_port_type(DB_INPUT_PORT_TYPE(pt));
    t->set_port_index(pi);
    t->get_flag().set_value(fw);
    t->remove_fanin();
    if (tied) {
      if (inv) t->set_gnd();
      else t->set_vcc();
    } else {
      if (driven) x.sources.push_back({t, src, slot});
      if (inv) t->set_invert();
      else t->clear_invert();
    }
    if (has_parent) x.parents.push_back({t, parent_debug, parent_slot});
  });
}

// ---- kind data
void transfer_atom(PDB_SEGMENT& seg, CDB_SGATE_WYSIWYG* a, bool rd, uint32_t version) {
  // Modes as the 32-bit words that hold one: (word index, bits).
  uint32_t words[CDB_WYSIWYG_NUM_MODES / 32] = {};
  uint32_t used = 0;
  if (!rd && a->get_mode_set().any())
    for (unsigned w = 0; w < CDB_WYSIWYG_NUM_MODES / 32; ++w)
      words[w] = uint32_t(((a->get_mode_set() >> (32 * w)) & std::bitset<CDB_WYSIWYG_NUM_MODES>(0xffffffffu)).to_ulong());
  for (uint32_t w : words) used += w ? 1 : 0;
  pdb_field_count(seg, 79, used, 14);
  for (uint32_t i = 0, w = 0; i < used; ++i, ++w) {
    if (!rd)
      while (!words[w]) ++w;
    uint32_t index = w, bits = rd ? 0 : words[w];
    pdb_field_u32(seg, 80, index);
    pdb_field_u32(seg, 89, bits);
    if (!rd) continue;
    if (index >= CDB_WYSIWYG_NUM_MODES / 32) bad("bad mode word");
    for (unsigned b = 0; b < 32; ++b)
      if (bits >> b & 1) a->set_mode(index * 32 + b);
  }
  uint32_t lo = uint32_t(a->get_lutmask_value()), hi = uint32_t(a->get_lutmask_value() >> 32);
  int32_t level = a->get_sweep_level();
  bool mask_changed = a->lutmask_changed();
  pdb_field_u32(seg, 81, lo);
  pdb_field_u32(seg, 82, hi);
  pdb_field_i32(seg, 83, level);
  pdb_field_bool(seg, 84, mask_changed);
  if (rd) {
    a->set_lutmask_value(uint64_t(lo) | uint64_t(hi) << 32);
    if (level != 0) a->set_sweep_level(level);  // the examined mark comes with the flag bytes
    if (!mask_changed) a->clear_lutmask_changed();
  }
  if (CDB_SGATE_WYSIWYG_RAM_BLOCK* r = a->cast_to_wysiwyg_ram_block()) {
    for (unsigned port = 0; port < 2; ++port) {
      HDB_INSTANCE_NAME* logical = r->get_logical_name(port);
      x_name(seg, 90, logical);
      if (rd) r->set_logical_name(port, logical);
    }
    for (unsigned port = 0; port < 2; ++port)
      for (unsigned w = 0; w < 4; ++w) {
        uint32_t bits = 0;
        if (!rd)
          for (unsigned b = 0; b < 32; ++b)
            if (r->ram_mode_is(w * 32 + b, port)) bits |= 1u << b;
        pdb_field_u32(seg, 85, bits);
        if (rd)
          for (unsigned b = 0; b < 32; ++b)
            if (bits >> b & 1) r->set_ram_mode(w * 32 + b, port);
      }
  }
  // A LUT-RAM's logical name (format 4 on; older records read without one).
  if (version >= 4 && a->is_lutram()) {
    HDB_INSTANCE_NAME* logical = a->get_lutram_logical_name();
    x_name(seg, 94, logical);
    if (rd) a->set_lutram_logical_name(logical);
  }
  const bool on_demand = a->get_catalogue_entry().ports_on_demand();
  for (bool outputs : {false, true}) {
    std::vector<std::pair<uint16_t, uint16_t>> ports;
    if (!rd) ports = a->get_on_demand_ports(outputs);
    uint32_t count = uint32_t(ports.size());
    pdb_field_count(seg, 86, count, 8);
    if (count && rd && !on_demand) bad("on-demand ports on an atom whose row has none");
    for (uint32_t i = 0; i < count; ++i) {
      uint32_t type = rd ? 0 : ports[i].first, slot = rd ? 0 : ports[i].second;
      pdb_field_u32(seg, 87, type);
      pdb_field_u32(seg, 88, slot);
      if (!rd) continue;
      const unsigned row_slots = outputs ? a->get_catalogue_entry().num_output_slots()
                                         : a->get_catalogue_entry().num_input_slots();
      const uint16_t row_slot = outputs ? a->get_catalogue_entry().output_slot(uint16_t(type))
                                        : a->get_catalogue_entry().input_slot(uint16_t(type));
      bool clash = type > 0xffff || slot >= CDB_ILLEGAL_PORT || slot < row_slots || row_slot != CDB_ILLEGAL_PORT;
      for (const auto& p : a->get_on_demand_ports(outputs)) clash |= p.first == type || p.second == slot;
      if (clash) bad("bad on-demand port");
      a->restore_on_demand_port(outputs, uint16_t(type), uint16_t(slot));
    }
  }
}

void transfer_ram(PDB_SEGMENT& seg, kavu_platform::RAM_GATE* r, bool rd) {
  for (unsigned i = 0; i < kavu_platform::RAM_GATE::kNumSizeParameters; ++i) {
    int32_t v = r->get_size_parameter(i);
    pdb_field_i32(seg, 150, v);
    if (rd) r->set_size_parameter(i, v);
  }
  for (unsigned i = 0; i < 2; ++i) {
    uint32_t v = r->get_mode_word(i);
    pdb_field_u32(seg, 151, v);
    if (rd) r->set_mode_word(i, v);
  }
  std::string mif;
  if (f_opt_str(seg, 152, r->get_mif_file(), mif) && rd) r->set_mif_file(mif.c_str());
  int32_t block = r->get_ram_block_type();
  pdb_field_i32(seg, 155, block);
  if (rd) r->set_ram_block_type(int8_t(block));
  CDB_SGATE_SYNCHRONOUS_RAM* s = r->cast_to_synchronous_ram();
  if (!s) return;
  uint32_t mode = s->get_mode_byte(), options = s->get_option_bits(), last = s->get_last_word();
  pdb_field_u32(seg, 156, mode);
  for (unsigned i = 0; i < CDB_SGATE_SYNCHRONOUS_RAM::kNumPortModes; ++i) {
    uint32_t v = s->get_port_mode_byte(i);
    pdb_field_u32(seg, 157, v);
    if (rd) s->set_port_mode_byte(i, uint8_t(v));
  }
  pdb_field_u32(seg, 158, options);
  pdb_field_u32(seg, 159, last);
  if (!rd) return;
  if (options & ~uint32_t(CDB_SGATE_SYNCHRONOUS_RAM::kOptionBitsMask)) bad("bad RAM option bits");
  s->set_mode_byte(uint8_t(mode));
  s->set_option_bits(uint8_t(options));
  s->set_last_word(last);
}

// Writing: fills the scratch map with the slot of every terminal of n.
void map_slots(TRANSFER& x, const CDB_SGATE_NODE* n) {
  x.slot_scratch.clear();
  for (unsigned s = 0; s < n->get_number_of_input_terms(); ++s)
    if (n->get_input_term(s)) x.slot_scratch[n->get_input_term(s)] = s;
  for (unsigned s = 0; s < n->get_output_count(); ++s)
    if (n->get_output_term(s)) x.slot_scratch[n->get_output_term(s)] = s;
}

uint32_t scratch_slot(const TRANSFER& x, const void* t) {
  if (!t) return kNone;
  auto it = x.slot_scratch.find(t);
  return it == x.slot_scratch.end() ? kNone : it->second;
}

// One port bit as (input slot, output slot); reading resolves them against
// n's lists and refuses a terminal bound twice.
void x_port_bit(PDB_SEGMENT& seg, TRANSFER& x, CDB_SGATE_NODE* n, const void* it_in, const void* ot_in,
                CDB_SGATE_ITERM** it_out, CDB_SGATE_OTERM** ot_out) {
  uint32_t is = scratch_slot(x, it_in), os = scratch_slot(x, ot_in);
  pdb_field_u32(seg, 113, is);
  pdb_field_u32(seg, 114, os);
  if (!x.rd) return;
  *it_out = nullptr;
  *ot_out = nullptr;
  if (is != kNone) {
    *it_out = n->get_input_term(is);
    if (!*it_out || !x.slot_scratch.emplace(*it_out, is).second) bad("bad input of a port bit");
  }
  if (os != kNone) {
    *ot_out = n->get_output_term(os);
    if (!*ot_out || !x.slot_scratch.emplace(*ot_out, os).second) bad("bad output of a port bit");
  }
}

void transfer_operator(PDB_SEGMENT& seg, TRANSFER& x, CDB_SGATE_OPERATOR* op) {
  uint32_t m1 = op->get_mode1(), m2 = op->get_mode2(), m3 = op->get_mode3(), attr = op->get_attribute(),
           sgn = op->get_signed_byte(), tag = op->get_tag();
  int32_t part = op->get_partition_number();
  pdb_field_u32(seg, 100, m1);
  pdb_field_u32(seg, 101, m2);
  pdb_field_u32(seg, 102, m3);
  pdb_field_u32(seg, 103, attr);
  pdb_field_u32(seg, 104, sgn);
  pdb_field_u32(seg, 105, tag);
  pdb_field_i32(seg, 106, part);
  if (x.rd) {
    op->set_mode1(uint8_t(m1));
    op->set_mode2(uint8_t(m2));
    op->set_mode3(m3);
    op->set_attribute(uint8_t(attr));
    op->set_signed(uint8_t(sgn));
    op->set_tag(tag);
    op->set_partition_number(part);
  }
  std::vector<CDB_SGATE_OPER_PORT_ENTRY*> ports(op->begin_const_port_entry_table(), op->end_const_port_entry_table());
  uint32_t count = uint32_t(ports.size());
  pdb_field_count(seg, 107, count, 8);
  if (x.rd) x.slot_scratch.clear();
  else map_slots(x, op);
  for (uint32_t i = 0; i < count; ++i) {
    CDB_SGATE_OPER_PORT_ENTRY* p = x.rd ? nullptr : ports[i];
    std::string name = p ? p->get_name() : "";
    uint32_t type = p ? p->get_type() : 0, dir = p ? p->get_dir() : 0, width = p ? p->get_width() : 0;
    pdb_field_str(seg, 108, name);
    pdb_field_u32(seg, 110, type);
    pdb_field_u32(seg, 111, dir);
    pdb_field_count(seg, 112, width, 2);
    if (x.rd) {
      if (type > 7 || dir > CDB_OPER_PORT_DIR_BIDIR) bad("bad operator port");
      if (op->get_port(CDB_OPER_PORT_TYPE(type))) bad("two operator ports of one type");
      p = op->add_port(name.c_str(), CDB_OPER_PORT_TYPE(type), CDB_OPER_PORT_DIR(dir));
      if (width) p->set_iterm(width - 1, nullptr);  // the declared width, trailing bits empty
    }
    for (uint32_t b = 0; b < width; ++b) {
      CDB_SGATE_ITERM* it = nullptr;
      CDB_SGATE_OTERM* ot = nullptr;
      x_port_bit(seg, x, op, x.rd ? nullptr : p->get_iterm(b), x.rd ? nullptr : p->get_oterm(b), &it, &ot);
      if (!x.rd) continue;
      if (it) p->set_iterm(b, it);
      if (ot) p->set_oterm(b, ot);
    }
  }
}

void transfer_component(PDB_SEGMENT& seg, TRANSFER& x, CDB_SGATE_COMPONENT* c) {
  uint32_t ctype = c->get_component_type(), option = c->get_option_byte();
  std::string function = c->get_function_name(), library = c->get_library_name(),
              architecture = c->get_architecture_name();
  pdb_field_u32(seg, 120, ctype);
  pdb_field_str(seg, 121, function);
  pdb_field_str(seg, 123, library);
  pdb_field_str(seg, 125, architecture);
  pdb_field_u32(seg, 127, option);
  if (x.rd) {
    c->set_component_type(ctype);
    c->set_function_name(function.c_str());
    c->set_library_name(library.c_str());
    c->set_architecture_name(architecture.c_str());
    c->set_option_byte(uint8_t(option));
  }
  std::vector<CDB_SGATE_COMPONENT_PORT_ENTRY*> ports(c->begin_const_port_entry_table(), c->end_const_port_entry_table());
  uint32_t count = uint32_t(ports.size());
  pdb_field_count(seg, 128, count, 8);
  if (x.rd) x.slot_scratch.clear();
  else map_slots(x, c);
  for (uint32_t i = 0; i < count; ++i) {
    CDB_SGATE_COMPONENT_PORT_ENTRY* p = x.rd ? nullptr : ports[i];
    std::string name = p ? p->get_name() : "";
    uint32_t dir = p ? uint32_t(p->get_dir()) : 0, width = p ? p->get_width() : 0;
    pdb_field_str(seg, 129, name);
    pdb_field_u32(seg, 131, dir);
    pdb_field_count(seg, 132, width, 2);
    if (x.rd) {
      if (dir > CDB_COMPONENT_PORT_OUTPUT || c->find_port(name.c_str())) bad("bad component port");
      p = c->add_empty_port(name.c_str(), int(dir), width);
    }
    for (uint32_t b = 0; b < width; ++b) {
      CDB_SGATE_ITERM* it = nullptr;
      CDB_SGATE_OTERM* ot = nullptr;
      x_port_bit(seg, x, c, x.rd ? nullptr : p->get_iterm(b), x.rd ? nullptr : p->get_oterm(b), &it, &ot);
      if (!x.rd) continue;
      if ((dir == CDB_COMPONENT_PORT_INPUT && ot) || (dir == CDB_COMPONENT_PORT_OUTPUT && it))
        bad("component port bit of the wrong direction");
      c->bind_port_bit(p, b, it, ot);
    }
  }
  std::vector<const CDB_SGATE_COMPONENT_PARAMETER*> params;
  for (auto it = c->begin_const_parameter_table(); it != c->end_const_parameter_table(); ++it) params.push_back(&*it);
  uint32_t nparams = uint32_t(params.size());
  pdb_field_count(seg, 135, nparams, 4);
  for (uint32_t i = 0; i < nparams; ++i) {
    std::string name, value;
    bool has_name = f_opt_str(seg, 136, x.rd ? nullptr : params[i]->get_name(), name);
    bool has_value = f_opt_str(seg, 139, x.rd ? nullptr : params[i]->get_value(), value);
    int32_t type = x.rd ? 0 : params[i]->get_type();
    pdb_field_i32(seg, 142, type);
    if (x.rd) c->set_parameter(has_name ? name.c_str() : nullptr, has_value ? value.c_str() : nullptr, type);
  }
}

// ---- one gate
void transfer_node(PDB_SEGMENT& seg, TRANSFER& x, CDB_SGATE_NODE* n) {
  const bool rd = x.rd;
  uint32_t cls = 0, sub = 0, lut_n = 0;
  uint64_t lut_v = 0;
  if (!rd) describe(n, &cls, &sub, &lut_n, &lut_v);
  uint32_t type = rd ? 0 : n->get_sgate_type(), lut_lo = uint32_t(lut_v), lut_hi = uint32_t(lut_v >> 32);
  uint32_t dbg = rd ? 0 : n->get_debug_number();
  pdb_field_u32(seg, 9, cls);
  pdb_field_u32(seg, 10, type);
  pdb_field_u32(seg, 11, sub);
  if (type == CDB_SGATE_LUT_ENUM && cls == CLASS_PLAIN) {
    pdb_field_u32(seg, 12, lut_n);
    pdb_field_u32(seg, 13, lut_lo);
    pdb_field_u32(seg, 14, lut_hi);
  }
  pdb_field_u32(seg, 15, dbg);
  HDB_INSTANCE_NAME* name = rd ? nullptr : n->get_instance_name();
  x_name(seg, 20, name);
  if (rd) {
    n = make_node(cls, type, sub, name, lut_n, uint64_t(lut_lo) | uint64_t(lut_hi) << 32);
    n->set_debug_number(dbg);
    if (!x.by_debug.emplace(dbg, n).second) {
      delete n;
      bad("two gates of debug number " + std::to_string(dbg));
    }
    x.nl->add_node(n, true);  // from here on the netlist frees it
    if (dbg >= x.max_debug) x.max_debug = dbg;
  }
  // Flags, names and limits shared by every kind; a word of marks says
  // which of the optional ones follow.
  std::string text = n->get_string_name() ? n->get_string_name() : "";
  HDB_INSTANCE_NAME* synfrom = n->get_synfrom_name();
  uint32_t bytes = 0, flag = n->get_flag().value(), dyn = n->get_dyn_flag_word();
  int32_t max_fanout = rd ? 0 : x.nl->get_max_fanout_constraint(n);
  CDB_SGATE_HIERARCHY* hierarchy = rd ? nullptr : n->get_hierarchy();
  uint32_t marks = rd ? 0
                      : (n->is_synthesized() ? 1u : 0u) | (n->get_string_name() ? 2u : 0u) | (synfrom ? 4u : 0u) |
                            (max_fanout ? 8u : 0u) | (flag ? 16u : 0u) | (dyn ? 32u : 0u) | (hierarchy ? 64u : 0u);
  if (!rd)
    for (unsigned b = 0; b < 4; ++b) bytes |= uint32_t(n->get_flag_byte(b)) << (8 * b);
  pdb_field_u32(seg, 16, marks);
  // Format 2 carries no hierarchies: its gates come back without one.
  if (rd && marks > (x.version >= 3 ? 127u : 63u)) bad("bad gate marks");
  if (marks & 2) pdb_field_str(seg, 17, text);
  if (marks & 4) x_name(seg, 25, synfrom);
  pdb_field_u32(seg, 30, bytes);
  if (marks & 16) pdb_field_u32(seg, 31, flag);
  if (marks & 32) pdb_field_u32(seg, 32, dyn);
  if (marks & 8) pdb_field_i32(seg, 48, max_fanout);
  // No netlist holds a negative limit (set_max_fanout_constraint refuses
  // one as an internal error): a damaged record.
  if (rd && max_fanout < 0) bad("negative max-fan-out limit");
  if (marks & 64) {
    uint32_t index = rd ? 0 : x.hierarchy_index.at(hierarchy);
    pdb_field_u32(seg, 33, index);
    if (rd) {
      if (index >= x.hierarchies.size()) bad("gate of a hierarchy not in the record");
      n->set_hierarchy(static_cast<CDB_SGATE_HIERARCHY*>(x.hierarchies[index]));
    }
  }
  if (rd) {
    if (marks & 2) n->set_string_name(text.c_str());
    if (synfrom) n->set_synthesized_name(synfrom);
    n->get_flag().set_value(flag);
    n->set_dyn_flag_word(dyn);
    n->set_synthesized(marks & 1);
    if (max_fanout) x.nl->set_max_fanout_constraint(n, max_fanout);
  }
  if (CDB_SGATE_BOUNDARY* bd = n->cast_to_boundary()) {
    int32_t part = bd->get_partition_number(), bid = bd->get_boundary_id();
    bool cut = bd->is_cut();
    pdb_field_i32(seg, 34, part);
    pdb_field_i32(seg, 35, bid);
    pdb_field_bool(seg, 36, cut);
    if (rd) {
      bd->set_partition_number(part);
      bd->set_boundary_id(bid);
      bd->set_cut(cut);
    }
    // Format 7: the driver a split recorded, by (debug number, output slot),
    // and the digest of the readers it found; an older record reads
    // without either.
    if (x.version >= 7) {
      unsigned debug = 0, slot = 0;
      bool fed = !rd && bd->get_fed_by_number(&debug, &slot);
      uint32_t fed_debug = debug, fed_slot = slot;
      pdb_field_bool(seg, 37, fed);
      if (fed) {
        pdb_field_u32(seg, 38, fed_debug);
        pdb_field_u32(seg, 39, fed_slot);
        if (rd) bd->set_fed_by_number(fed_debug, fed_slot);
      }
      const std::vector<std::string>* readers = rd ? nullptr : bd->get_readers();
      bool known = readers != nullptr;
      pdb_field_bool(seg, 40, known);
      if (known) {
        std::vector<std::string> paths;
        if (!rd) paths = *readers;
        uint32_t count = uint32_t(paths.size());
        pdb_field_count(seg, 41, count, 4);
        if (rd) paths.assign(count, std::string());
        for (std::string& path : paths) pdb_field_str(seg, 42, path);
        if (rd) bd->set_readers(std::move(paths));
      }
    }
  }
  if (CDB_REG_FLAGS* rf = n->get_reg_flags()) transfer_reg_flags(seg, rf, rd);
  if (CDB_SGATE_STATE* st = n->cast_to_state()) {
    uint32_t index = kNone;
    if (!rd && st->get_state_machine()) index = x.machine_index.at(st->get_state_machine());
    pdb_field_u32(seg, 160, index);
    if (rd && index != kNone) x.state_machines.emplace_back(st, index);
  }
  transfer_oterms(seg, x, n);
  transfer_iterms(seg, x, n);
  if (CDB_SGATE_WYSIWYG* a = n->cast_to_wysiwyg()) transfer_atom(seg, a, rd, x.version);
  else if (CDB_SGATE_OPERATOR* op = n->cast_to_operator()) transfer_operator(seg, x, op);
  else if (CDB_SGATE_COMPONENT* c = n->cast_to_component()) transfer_component(seg, x, c);
  else if (n->cast_to_asynchronous_ram()) transfer_ram(seg, n->cast_to_asynchronous_ram(), rd);
  else if (n->cast_to_synchronous_ram()) transfer_ram(seg, n->cast_to_synchronous_ram(), rd);
  if (rd)  // last: restoring kind data raised marks the gate did not have
    for (unsigned b = 0; b < 4; ++b) n->set_flag_byte(b, uint8_t(bytes >> (8 * b)));
}

// ---- hierarchies, as a table of (parent index, instance name)
// Writing: the netlist's hierarchy, every hierarchy a gate names, and
// their ancestors, each after its parent.
void collect_hierarchies(TRANSFER& x) {
  std::vector<CDB_HIERARCHY_BASE*> chain;
  auto add = [&](CDB_HIERARCHY_BASE* h) {
    if (!h || x.hierarchy_index.count(h)) return;
    chain.clear();
    for (; h && !x.hierarchy_index.count(h); h = h->get_parent()) chain.push_back(h);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
      x.hierarchy_index.emplace(*it, uint32_t(x.hierarchies.size()));
      x.hierarchies.push_back(*it);
    }
  };
  add(x.nl->get_hierarchy());
  for (CDB_SGATE_NODE* n : x.nl->get_node_list()) add(n ? n->get_hierarchy() : nullptr);
}

// Reading interns each into the process-wide table (see above), parents
// first, so a gate's hierarchy has its whole chain up to its root.
void transfer_hierarchies(PDB_SEGMENT& seg, TRANSFER& x) {
  uint32_t count = uint32_t(x.hierarchies.size());
  pdb_field_count(seg, 246, count, 7);
  for (uint32_t i = 0; i < count; ++i) {
    CDB_HIERARCHY_BASE* h = x.rd ? nullptr : x.hierarchies[i];
    uint32_t parent = kNone;
    if (h && h->get_parent()) parent = x.hierarchy_index.at(h->get_parent());
    HDB_INSTANCE_NAME* name = h ? h->get_instance_name() : nullptr;
    bool uses_namespace = h && h->uses_namespace();
    pdb_field_u32(seg, 247, parent);
    x_name(seg, 248, name);
    pdb_field_bool(seg, 252, uses_namespace);
    if (!x.rd) continue;
    if (parent != kNone && parent >= i) bad("hierarchy whose parent does not precede it");
    CDB_SGATE_HIERARCHY* up = parent == kNone ? nullptr : static_cast<CDB_SGATE_HIERARCHY*>(x.hierarchies[parent]);
    x.hierarchies.push_back(intern_hierarchy(up, name, uses_namespace));
  }
  // The netlist's own hierarchy (a partition without pins has no gate that
  // names one).
  CDB_SGATE_HIERARCHY* own = x.nl->get_hierarchy();
  uint32_t index = own && !x.rd ? x.hierarchy_index.at(own) : kNone;
  pdb_field_u32(seg, 253, index);
  if (!x.rd) return;
  if (index != kNone && index >= x.hierarchies.size()) bad("netlist of a hierarchy not in the record");
  x.nl->set_hierarchy(index == kNone ? nullptr : static_cast<CDB_SGATE_HIERARCHY*>(x.hierarchies[index]));
}

// ---- state machines, as the numbers of their gates
void collect_machines(TRANSFER& x) {
  auto add = [&x](CDB_STATE_MACHINE* m) {
    if (m && x.machine_index.emplace(m, uint32_t(x.machines.size())).second) x.machines.push_back(m);
  };
  if (x.nl->has_machines())
    for (CDB_STATE_MACHINE* m : *x.nl->get_machine_list()) add(m);
  for (CDB_SGATE_NODE* n : x.nl->get_node_list())
    if (CDB_SGATE_STATE* st = n ? n->cast_to_state() : nullptr) add(st->get_state_machine());
}

template <typename GATE>
void x_gate_list(PDB_SEGMENT& seg, int tag, TRANSFER& x, std::vector<GATE*>& gates,
                 std::vector<CDB_SGATE_NODE*>* read) {
  uint32_t count = 0;
  if (!x.rd)
    for (GATE* g : gates) count += x.in_netlist(g) ? 1 : 0;
  pdb_field_count(seg, tag, count, 4);
  if (!x.rd) {
    for (GATE* g : gates)
      if (x.in_netlist(g)) {
        uint32_t d = g->get_debug_number();
        pdb_field_u32(seg, tag + 1, d);
      }
    return;
  }
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t d = 0;
    pdb_field_u32(seg, tag + 1, d);
    read->push_back(x.gate(d));
  }
}

void transfer_machines(PDB_SEGMENT& seg, TRANSFER& x) {
  uint32_t count = uint32_t(x.machines.size());
  pdb_field_count(seg, 190, count, 8);
  std::vector<CDB_STATE_MACHINE*> read_machines;
  for (uint32_t i = 0; i < count; ++i) {
    CDB_STATE_MACHINE* m = x.rd ? new CDB_STATE_MACHINE : x.machines[i];
    if (x.rd) {
      x.nl->get_machine_list()->push_back(m);  // owned at once: freed with the netlist on failure
      read_machines.push_back(m);
    }
    HDB_INSTANCE_NAME* name = m->get_instance_name();
    std::string text = m->get_name();
    bool inverted = m->clk_is_inverted();
    x_name(seg, 191, name);
    pdb_field_str(seg, 195, text);
    pdb_field_bool(seg, 197, inverted);
    CDB_SGATE_OTERM* refs[3] = {m->get_clk(), m->get_clk_en(), m->get_reset()};
    for (int r = 0; r < 3; ++r) x_oterm_ref(seg, 200 + 3 * r, x, &refs[r]);
    std::vector<CDB_SGATE_NODE*> states, regs;
    x_gate_list(seg, 210, x, m->get_states(), &states);
    x_gate_list(seg, 212, x, m->get_registers(), &regs);
    if (!x.rd) continue;
    m->set_instance_name(name);
    m->set_name(text);
    m->set_clk_is_inverted(inverted);
    m->set_clk(refs[0]);
    m->set_clk_en(refs[1]);
    m->set_reset(refs[2]);
    for (CDB_SGATE_NODE* s : states) {
      if (!s->cast_to_state()) bad("a machine's state is not a state buffer");
      m->add_state(s->cast_to_state());
    }
    for (CDB_SGATE_NODE* r : regs) {
      if (!r->cast_to_dff()) bad("a machine's register is not a register");
      m->add_register(r->cast_to_dff());
    }
  }
  if (!x.rd) return;
  for (auto& [state, index] : x.state_machines) {
    if (index >= read_machines.size()) bad("state buffer of a machine not in the record");
    state->set_state_machine(read_machines[index]);
  }
}

// ---- the netlist's records
void transfer_records(PDB_SEGMENT& seg, TRANSFER& x) {
  CDB_SGATE_NETLIST* nl = x.nl;
  CDB_SGATE_COMPATIBLE_REGISTERS* cr = nl->get_compatible_registers();
  bool ready = cr->is_ready_to_use(), in_use = cr->is_in_use();
  pdb_field_bool(seg, 220, ready);
  pdb_field_bool(seg, 221, in_use);
  struct ENTRY {
    CDB_SGATE_OTERM* t;
    uint32_t set, chain;
  };
  std::vector<ENTRY> entries;
  if (!x.rd && cr->size())
    for (CDB_SGATE_NODE* n : nl->get_node_list())
      for (CDB_SGATE_OTERM* t : n->get_output_terms()) {
        const uint32_t set = t ? cr->get_set_id(t) : 0, chain = t ? cr->get_synch_chain(t) : 0;
        if (set || chain) entries.push_back({t, set, chain});
      }
  uint32_t count = uint32_t(entries.size());
  pdb_field_count(seg, 222, count, 8);
  for (uint32_t i = 0; i < count; ++i) {
    ENTRY e = x.rd ? ENTRY{nullptr, 0, 0} : entries[i];
    x_oterm_ref(seg, 223, x, &e.t);
    pdb_field_u32(seg, 226, e.set);
    pdb_field_u32(seg, 227, e.chain);
    if (!x.rd) continue;
    if (!e.t) bad("compatible-register entry without its register");
    if (e.set) cr->add_oterm_set_id(e.t, e.set);
    if (e.chain) cr->mark_synch_reg(e.t, e.chain);
  }
  if (x.rd) {
    cr->set_ready_to_use(ready);
    cr->set_in_use(in_use);
  }
  // High-speed registers, keyed by name (ids differ between processes).
  CDB_SGATE_HIGH_SPEED_MAP* hs = nl->get_high_speed_map();
  bool has_hs = hs != nullptr;
  pdb_field_bool(seg, 230, has_hs);
  if (has_hs) {
    std::vector<std::pair<HDB_INSTANCE_NAME*, uint8_t>> rows;
    if (!x.rd)
      for (const auto& [id, reg] : *hs)
        if (HDB_INSTANCE_NAME* name = HDB_NAME_MGR::get_instance_name(int(id))) rows.emplace_back(name, reg.m_bits);
    uint32_t n = uint32_t(rows.size());
    pdb_field_count(seg, 231, n, 8);
    if (x.rd) hs = nl->create_high_speed_map();
    for (uint32_t i = 0; i < n; ++i) {
      HDB_INSTANCE_NAME* name = x.rd ? nullptr : rows[i].first;
      uint32_t bits = x.rd ? 0 : rows[i].second;
      x_name(seg, 232, name);
      pdb_field_u32(seg, 236, bits);
      if (x.rd && name) (*hs)[unsigned(name->get_id())].m_bits = uint8_t(bits);
    }
  }
  CDB_SGATE_MAST_REPORT* mast = nl->get_mast_report();
  pdb_field_str(seg, 240, mast->m_name);
  uint32_t rows = uint32_t(mast->m_rows.size());
  pdb_field_count(seg, 242, rows, 4);
  if (x.rd) mast->m_rows.assign(rows, {});
  for (std::vector<std::string>& row : mast->m_rows) {
    uint32_t cells = uint32_t(row.size());
    pdb_field_count(seg, 243, cells, 4);
    if (x.rd) row.assign(cells, std::string());
    for (std::string& cell : row) pdb_field_str(seg, 244, cell);
  }
  // Format 6: the flattened timing netlist stored for the netlist's compile
  // and the labelling it was made for, and the labelling the netlist was
  // split under. Format 5 carried the first without the labellings: as for
  // older formats, what its compile stored is not known.
  if (x.version >= 6) {
    CDB_SGATE_TDB_ORIGIN origin = nl->get_tdb_origin();
    uint64_t split = nl->get_split_labelling();
    uint32_t words[8] = {uint32_t(origin.lo),        uint32_t(origin.lo >> 32), uint32_t(origin.hi),
                         uint32_t(origin.hi >> 32),  uint32_t(origin.labelling), uint32_t(origin.labelling >> 32),
                         uint32_t(split),            uint32_t(split >> 32)};
    pdb_field_bool(seg, 250, origin.stored);
    for (int k = 0; k < 8; ++k) pdb_field_u32(seg, 251 + k, words[k]);
    if (x.rd) {
      origin.lo = uint64_t(words[1]) << 32 | words[0];
      origin.hi = uint64_t(words[3]) << 32 | words[2];
      origin.labelling = uint64_t(words[5]) << 32 | words[4];
      nl->set_tdb_origin(origin);
      nl->set_split_labelling(uint64_t(words[7]) << 32 | words[6]);
    }
  } else if (x.rd) {
    if (x.version == 5) {  // read past the origin of format 5
      bool stored = false;
      uint32_t word = 0;
      pdb_field_bool(seg, 250, stored);
      for (int k = 0; k < 4; ++k) pdb_field_u32(seg, 251 + k, word);
    }
    CDB_SGATE_TDB_ORIGIN unknown;
    unknown.known = false;
    nl->set_tdb_origin(unknown);
    nl->set_split_labelling(0);
  }
}

void transfer_netlist(PDB_SEGMENT& seg, void* record) {
  TRANSFER x;
  x.nl = static_cast<CDB_SGATE_NETLIST*>(record);
  x.rd = seg.is_reading();
  CDB_SGATE_NETLIST* nl = x.nl;
  pdb_field_u32(seg, 0, x.version);
  if (x.version < CDB_SGATE_NETLIST_ARCHIVE_OLDEST_VERSION || x.version > CDB_SGATE_NETLIST_ARCHIVE_VERSION)
    bad("netlist archive of format " + std::to_string(x.version) + ", this library reads formats " +
        std::to_string(CDB_SGATE_NETLIST_ARCHIVE_OLDEST_VERSION) + " to " +
        std::to_string(CDB_SGATE_NETLIST_ARCHIVE_VERSION));
  bool is_part = nl->is_partition_netlist(), is_sub = nl->is_subnetlist();
  int32_t number = nl->get_number();
  int32_t first = nl->get_first_debug_number();
  uint32_t waive = nl->get_waive_byte();
  pdb_field_bool(seg, 1, is_part);
  pdb_field_i32(seg, 2, number);
  pdb_field_i32(seg, 3, first);
  pdb_field_bool(seg, 5, is_sub);
  pdb_field_u32(seg, 6, waive);
  std::vector<CDB_SGATE_NODE*> nodes;
  if (!x.rd) {
    collect_machines(x);
    collect_hierarchies(x);
    for (CDB_SGATE_NODE* n : nl->get_node_list())
      if (n) nodes.push_back(n);
  }
  if (x.version >= 3) transfer_hierarchies(seg, x);
  uint32_t count = uint32_t(nodes.size());
  pdb_field_count(seg, 4, count, 8);
  if (x.rd) x.by_debug.reserve(count);
  for (uint32_t i = 0; i < count; ++i) transfer_node(seg, x, x.rd ? nullptr : nodes[i]);
  transfer_machines(seg, x);
  if (!x.rd) {
    transfer_records(seg, x);
    return;
  }
  for (const PENDING_SOURCE& p : x.sources) {
    CDB_SGATE_OTERM* o = x.gate(p.src_debug)->get_output_term(p.src_slot);
    if (!o) bad("source gate lacks output " + std::to_string(p.src_slot));
    bool inv = p.iterm->is_inverted();
    p.iterm->insert_fanin(o);
    if (inv) p.iterm->set_invert();
    else p.iterm->clear_invert();
  }
  for (const PENDING_SOURCE& p : x.parents) {
    CDB_SGATE_ITERM* parent = x.gate(p.src_debug)->get_input_term(p.src_slot);
    if (!parent) bad("parent gate lacks input " + std::to_string(p.src_slot));
    p.iterm->set_parent_input(parent);
  }
  // A LUT's mask may depend only on inputs that are driven or tied, as
  // every netlist the library makes keeps it (CDB_SGATE_NETLIST::check).
  std::string why;
  for (CDB_SGATE_NODE* n : nl->get_node_list())
    if (n && n->cast_to_lut() && !n->check_kind_invariants(&why)) {
      if (!why.empty() && why.back() == '\n') why.pop_back();
      bad(why);
    }
  transfer_records(seg, x);
  nl->set_is_partition_netlist(is_part);
  nl->set_is_subnetlist(is_sub);
  nl->set_number(number);
  nl->set_first_debug_number(first);
  nl->set_waive_byte(uint8_t(waive));
  // Gates made after reading get numbers above every gate read and at or
  // above the netlist's first number, which every partition of one split
  // shares, so the parent can tell (and renumber) them after the merge.
  if (CDB_SGATE_NODE::s_debug_counter <= x.max_debug) CDB_SGATE_NODE::s_debug_counter = x.max_debug + 1;
  if (first > 0 && CDB_SGATE_NODE::s_debug_counter < unsigned(first)) CDB_SGATE_NODE::s_debug_counter = unsigned(first);
}

void* create_netlist(size_t size) { return ::operator new(size); }
void* chunk_create_netlist(MEM_UTILS_CHUNK_ALLOC*) { return ::operator new(sizeof(CDB_SGATE_NETLIST)); }
void* array_create_netlists(size_t, MEM_UTILS_CHUNK_ALLOC*) { return nullptr; }
void construct_netlist(void* p) { new (p) CDB_SGATE_NETLIST(); }
void destroy_netlist(void* p) { static_cast<CDB_SGATE_NETLIST*>(p)->~CDB_SGATE_NETLIST(); }
const PDB_THUNK_INFO* netlist_thunk_fn() { return cdb_sgate_netlist_thunk(); }
void* netlist_this(void* p) { return p; }

}  // namespace

const PDB_THUNK_INFO* cdb_sgate_netlist_thunk() {
  static const PDB_THUNK_INFO info(0x5a7e0c1d, &create_netlist, &chunk_create_netlist, &array_create_netlists,
                                   &construct_netlist, &destroy_netlist, &transfer_netlist, &netlist_thunk_fn,
                                   &netlist_this, false, false, typeid(CDB_SGATE_NETLIST),
                                   sizeof(CDB_SGATE_NETLIST), "CDB", kSource, __LINE__);
  return &info;
}

namespace {
// Made as the layer loads, not at first use: a process that forks while
// another thread makes it would leave its child waiting for it for ever.
[[maybe_unused]] const bool g_netlist_records_at_load = (hierarchy_table(), cdb_sgate_netlist_thunk(), true);
}  // namespace

void cdb_sgate_netlist_ptr_field(PDB_SEGMENT& seg, void* ptr_address) {
  seg.set_field(199, "ptr");
  seg.transfer_ptr(*static_cast<void**>(ptr_address), *cdb_sgate_netlist_thunk());
}

namespace kavu_platform {

void cdb_sgate_netlist_pdb_test_reset() {
  HIERARCHY_TABLE& t = hierarchy_table();
  std::lock_guard<std::mutex> lock(t.mutex);
  for (auto& entry : t.by_key) entry.second->set_parent(nullptr);
  t.by_key.clear();
}

}  // namespace kavu_platform
