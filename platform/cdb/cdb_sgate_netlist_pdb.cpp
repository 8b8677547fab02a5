// cdb_sgate_netlist_pdb.cpp — the gate netlist as an archive record.
#include "cdb/cdb_sgate_netlist_pdb.h"

#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "hdb/hdb.h"
#include "msg/msg.h"

namespace {

const char* kSource = "platform/cdb/cdb_sgate_netlist_pdb.cpp";

bool kind_is_archived(const CDB_SGATE_NODE* n) {
  switch (n->get_sgate_type()) {
    case CDB_SGATE_BUFFER_ENUM:
    case CDB_SGATE_COMB_ENUM:
    case CDB_SGATE_DFF_ENUM:
    case CDB_SGATE_IO_ENUM:
    case CDB_SGATE_IO_BUF_ENUM:
    case CDB_SGATE_LUT_ENUM:
    case CDB_SGATE_MUX_ENUM:
    case CDB_SGATE_CARRY_SUM_ENUM:
    case CDB_SGATE_TRI_BUS_ENUM:
    case CDB_SGATE_LATCH_ENUM:
    case CDB_SGATE_BOUNDARY_ENUM:
      return true;
    default:
      return false;
  }
}

// ---- small field helpers over the segment (one tag per field kind use)
void f_u32(PDB_SEGMENT& seg, int tag, uint32_t& v) {
  seg.set_field(tag, "u");
  seg.transfer_uint32(v);
}
void f_i32(PDB_SEGMENT& seg, int tag, int32_t& v) {
  seg.set_field(tag, "i");
  seg.transfer_int32(v);
}
void f_bool(PDB_SEGMENT& seg, int tag, bool& v) {
  seg.set_field(tag, "b");
  seg.transfer_bool(v);
}
void f_str(PDB_SEGMENT& seg, int tag, std::string& s) {
  uint32_t n = uint32_t(s.size());
  seg.set_field(tag, "n");
  seg.transfer_count(n);
  if (seg.is_reading()) s.assign(n, '\0');
  seg.set_field(tag + 1, "s");
  seg.transfer_chars(n, s.data());
}

// A name as its levels from the top: (partial name, synthesized).
void write_name(PDB_SEGMENT& seg, int tag, HDB_INSTANCE_NAME* name) {
  std::vector<HDB_INSTANCE_NAME*> levels;
  for (HDB_INSTANCE_NAME* n = name; n; n = n->get_parent()) levels.push_back(n);
  uint32_t count = uint32_t(levels.size());
  f_u32(seg, tag, count);
  for (size_t i = levels.size(); i-- > 0;) {
    std::string text = levels[i]->get_unit_name_str();
    bool synth = levels[i]->is_synthesized();
    f_str(seg, tag + 1, text);
    f_bool(seg, tag + 3, synth);
  }
}

HDB_INSTANCE_NAME* read_name(PDB_SEGMENT& seg, int tag) {
  uint32_t count = 0;
  f_u32(seg, tag, count);
  if (count > seg.bytes_left()) throw PDB_DATABASE_EXCEPTION("name deeper than the record");
  HDB_INSTANCE_NAME* name = nullptr;
  for (uint32_t i = 0; i < count; ++i) {
    std::string text;
    bool synth = false;
    f_str(seg, tag + 1, text);
    f_bool(seg, tag + 3, synth);
    if (text.empty()) throw PDB_DATABASE_EXCEPTION("empty partial name");
    if (!name) name = HDB_INSTANCE_NAME::create_normal_name(nullptr, text.c_str(), nullptr, nullptr, nullptr);
    else name = HDB_INSTANCE_NAME::create_synthesized_name(name, text.c_str(), false, synth);
  }
  return name;
}

CDB_SGATE_NODE* make_node(uint32_t type, uint32_t sub, HDB_INSTANCE_NAME* name, uint32_t lut_n, uint64_t lut_v) {
  switch (CDB_SGATE_TYPE(type)) {
    case CDB_SGATE_BUFFER_ENUM: return new CDB_SGATE_BUFFER(name, CDB_BUFFER_TYPE(sub));
    case CDB_SGATE_COMB_ENUM: return new CDB_SGATE_COMB(name, CDB_COMB_TYPE(sub));
    case CDB_SGATE_DFF_ENUM: return new CDB_SGATE_DFF(name);
    case CDB_SGATE_IO_ENUM:
      if (sub > CDB_IO_BIDIR) throw PDB_DATABASE_EXCEPTION("bad pin type");
      return new CDB_SGATE_IO(name, CDB_IO_TYPE(sub));
    case CDB_SGATE_IO_BUF_ENUM: return new CDB_SGATE_IO_BUF(name, CDB_IO_BUF_TYPE(sub));
    case CDB_SGATE_LUT_ENUM: {
      if (lut_n > 6) throw PDB_DATABASE_EXCEPTION("bad LUT size");
      CDB_LUTMASK m;
      m.set_value(lut_n, lut_v);
      return new CDB_SGATE_LUT(name, m);
    }
    case CDB_SGATE_MUX_ENUM: return new CDB_SGATE_MUX(name);
    case CDB_SGATE_CARRY_SUM_ENUM: return new CDB_SGATE_CARRY_SUM(name);
    case CDB_SGATE_TRI_BUS_ENUM: return new CDB_SGATE_TRI_BUS(name);
    case CDB_SGATE_LATCH_ENUM: return new CDB_SGATE_LATCH(name);
    case CDB_SGATE_BOUNDARY_ENUM:
      if (sub > CDB_BOUNDARY_OUTPUT) throw PDB_DATABASE_EXCEPTION("bad boundary direction");
      return new CDB_SGATE_BOUNDARY(name, CDB_BOUNDARY_TYPE(sub));
    default:
      throw PDB_DATABASE_EXCEPTION("gate kind " + std::to_string(type) + " is not archived");
  }
}

struct PENDING_SOURCE {
  CDB_SGATE_ITERM* iterm;
  uint32_t src_debug;
  uint32_t src_slot;
};

void transfer_netlist(PDB_SEGMENT& seg, void* record) {
  CDB_SGATE_NETLIST* nl = static_cast<CDB_SGATE_NETLIST*>(record);
  const bool rd = seg.is_reading();
  if (!rd)
    for (CDB_SGATE_NODE* n : nl->get_node_list())
      if (n && !kind_is_archived(n))
        throw PDB_DATABASE_EXCEPTION(std::string("gate kind ") + n->get_string_type_name() + " (" +
                                     n->get_debug_name() + ") is not archived");
  bool is_part = nl->is_partition_netlist();
  int32_t number = nl->get_number();
  int32_t first = nl->get_first_debug_number();
  f_bool(seg, 1, is_part);
  f_i32(seg, 2, number);
  f_i32(seg, 3, first);
  std::vector<CDB_SGATE_NODE*> nodes;
  if (!rd)
    for (CDB_SGATE_NODE* n : nl->get_node_list())
      if (n) nodes.push_back(n);
  uint32_t count = uint32_t(nodes.size());
  seg.set_field(4, "nodes");
  seg.transfer_count(count, 8);
  std::unordered_map<uint32_t, CDB_SGATE_NODE*> by_debug;
  std::vector<PENDING_SOURCE> pending;
  uint32_t max_debug = 0;
  for (uint32_t i = 0; i < count; ++i) {
    CDB_SGATE_NODE* n = rd ? nullptr : nodes[i];
    uint32_t type = rd ? 0 : n->get_sgate_type(), sub = 0, lut_n = 0, lut_lo = 0, lut_hi = 0;
    uint32_t dbg = rd ? 0 : n->get_debug_number();
    if (!rd) {
      if (auto* b = n->cast_to_buffer()) sub = b->get_buffer_type();
      else if (auto* c = n->cast_to_comb()) sub = c->get_comb_type();
      else if (auto* p = n->cast_to_io()) sub = p->get_io_type();
      else if (auto* ib = n->cast_to_io_buf()) sub = ib->get_io_buf_type();
      else if (auto* bd = n->cast_to_boundary()) sub = bd->get_direction();
      else if (auto* l = n->cast_to_lut()) {
        lut_n = l->get_lut_mask().get_num_inputs();
        lut_lo = uint32_t(l->get_lut_mask().get_value());
        lut_hi = uint32_t(l->get_lut_mask().get_value() >> 32);
      }
    }
    f_u32(seg, 10, type);
    f_u32(seg, 11, sub);
    f_u32(seg, 12, lut_n);
    f_u32(seg, 13, lut_lo);
    f_u32(seg, 14, lut_hi);
    f_u32(seg, 15, dbg);
    HDB_INSTANCE_NAME* name = nullptr;
    if (rd) {
      name = read_name(seg, 20);
      n = make_node(type, sub, name, lut_n, uint64_t(lut_lo) | (uint64_t(lut_hi) << 32));
      n->set_debug_number(dbg);
      if (!by_debug.emplace(dbg, n).second) {
        delete n;
        throw PDB_DATABASE_EXCEPTION("two gates of debug number " + std::to_string(dbg));
      }
      nl->add_node(n, true);
      if (dbg >= max_debug) max_debug = dbg;
    } else {
      write_name(seg, 20, n->get_instance_name());
    }
    // Flags, marks and kind data shared by every kind.
    uint32_t bytes = 0, flag = n->get_flag().value(), dyn = n->get_dyn_flag_word();
    bool synth = n->is_synthesized();
    if (!rd)
      for (unsigned b = 0; b < 4; ++b) bytes |= uint32_t(n->get_flag_byte(b)) << (8 * b);
    f_u32(seg, 30, bytes);
    f_u32(seg, 31, flag);
    f_u32(seg, 32, dyn);
    f_bool(seg, 33, synth);
    if (rd) {
      for (unsigned b = 0; b < 4; ++b) n->set_flag_byte(b, uint8_t(bytes >> (8 * b)));
      n->get_flag().set_value(flag);
      n->set_dyn_flag_word(dyn);
      n->set_synthesized(synth);
    }
    if (CDB_SGATE_BOUNDARY* bd = n->cast_to_boundary()) {
      int32_t part = bd->get_partition_number(), bid = bd->get_boundary_id();
      bool cut = bd->is_cut();
      f_i32(seg, 34, part);
      f_i32(seg, 35, bid);
      f_bool(seg, 36, cut);
      if (rd) {
        bd->set_partition_number(part);
        bd->set_boundary_id(bid);
        bd->set_cut(cut);
      }
    }
    if (CDB_REG_FLAGS* rf = n->get_reg_flags()) {
      bool v[8] = {rf->allow_anything(), rf->allow_anything_is_set(), rf->preserve(), rf->preserve_is_set(),
                   rf->merge_allowed(), rf->merge_allowed_is_set(), rf->prune_allowed(), rf->prune_allowed_is_set()};
      for (int k = 0; k < 8; ++k) f_bool(seg, 37 + k, v[k]);
      if (rd) {
        if (v[1]) rf->set_allow_anything(v[0]);
        if (v[3]) rf->set_preserve(v[2]);
        if (v[5]) rf->set_merge_allowed(v[4]);
        if (v[7]) rf->set_prune_allowed(v[6]);
      }
    }
    // Output terminals by slot.
    uint32_t nout = n->get_output_count();
    seg.set_field(50, "oterms");
    seg.transfer_count(nout, 2);
    for (uint32_t s = 0; s < nout; ++s) {
      CDB_SGATE_OTERM* t = rd ? nullptr : n->get_output_term(s);
      bool present = t != nullptr;
      f_bool(seg, 51, present);
      if (!present) continue;
      if (rd) {
        t = n->get_output_term(s);
        if (!t) {
          t = n->create_output_term(nullptr);
          n->set_output_term(t, s);
        }
      }
      uint32_t pt = t->get_port_type(), pi = t->get_port_index(), tb = t->get_term_byte();
      int32_t fi = t->get_fanin_delay(), fo = t->get_fanout_delay();
      f_u32(seg, 52, pt);
      f_u32(seg, 53, pi);
      f_u32(seg, 54, tb);
      f_i32(seg, 55, fi);
      f_i32(seg, 56, fo);
      if (rd) {
        t->set_port_type(DB_OUTPUT_PORT_TYPE(pt));
        t->set_port_index(pi);
        t->set_term_byte(uint8_t(tb));
        t->set_fanin_delay(fi);
        t->set_fanout_delay(fo);
        t->set_instance_name(read_name(seg, 57));
      } else {
        write_name(seg, 57, t->get_instance_name());
      }
    }
    // Input terminals by slot, with their sources.
    uint32_t nin = n->get_number_of_input_terms();
    seg.set_field(60, "iterms");
    seg.transfer_count(nin, 2);
    for (uint32_t s = 0; s < nin; ++s) {
      CDB_SGATE_ITERM* t = rd ? nullptr : n->get_input_term(s);
      bool present = t != nullptr;
      f_bool(seg, 61, present);
      if (!present) continue;
      if (rd) {
        t = n->get_input_term(s);
        if (!t) {
          t = n->create_input_term(nullptr);
          n->set_input_term(t, s);
        }
      }
      uint32_t pt = t->get_port_type(), pi = t->get_port_index();
      bool inv = t->is_inverted(), tied = t->is_vcc_or_gnd(), driven = t->get_source() != nullptr;
      uint32_t src = 0, slot = 0;
      if (driven) {
        CDB_SGATE_OTERM* o = t->get_source();
        src = o->get_my_node()->get_debug_number();
        CDB_SGATE_NODE* sn = o->get_my_node();
        for (unsigned k = 0; k < sn->get_output_count(); ++k)
          if (sn->get_output_term(k) == o) slot = k;
      }
      f_u32(seg, 62, pt);
      f_u32(seg, 63, pi);
      f_bool(seg, 64, inv);
      f_bool(seg, 65, tied);
      f_bool(seg, 66, driven);
      f_u32(seg, 67, src);
      f_u32(seg, 68, slot);
      if (rd) {
        t->set_port_type(DB_INPUT_PORT_TYPE(pt));
        t->set_port_index(pi);
        t->remove_fanin();
        if (tied) {
          if (inv) t->set_gnd();
          else t->set_vcc();
        } else {
          if (driven) pending.push_back({t, src, slot});
          if (inv) t->set_invert();
          else t->clear_invert();
        }
      }
    }
  }
  if (rd) {
    for (const PENDING_SOURCE& p : pending) {
      auto it = by_debug.find(p.src_debug);
      if (it == by_debug.end())
        throw PDB_DATABASE_EXCEPTION("source gate " + std::to_string(p.src_debug) + " is not in the record");
      CDB_SGATE_OTERM* o = it->second->get_output_term(p.src_slot);
      if (!o) throw PDB_DATABASE_EXCEPTION("source gate lacks output " + std::to_string(p.src_slot));
      bool inv = p.iterm->is_inverted();
      p.iterm->insert_fanin(o);
      if (inv) p.iterm->set_invert();
      else p.iterm->clear_invert();
    }
    nl->set_is_partition_netlist(is_part);
    nl->set_number(number);
    nl->set_first_debug_number(first);
    // Gates made after reading get numbers above every gate read and at or
    // above the netlist's first number, which every partition of one split
    // shares, so the parent can tell (and renumber) them after the merge.
    if (CDB_SGATE_NODE::s_debug_counter <= max_debug) CDB_SGATE_NODE::s_debug_counter = max_debug + 1;
    if (first > 0 && CDB_SGATE_NODE::s_debug_counter < unsigned(first)) CDB_SGATE_NODE::s_debug_counter = unsigned(first);
  }
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

void cdb_sgate_netlist_ptr_field(PDB_SEGMENT& seg, void* ptr_address) {
  seg.set_field(199, "ptr");
  seg.transfer_ptr(*static_cast<void**>(ptr_address), *cdb_sgate_netlist_thunk());
}
