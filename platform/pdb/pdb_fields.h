// Role: persistence archive (docs/platform.md, "Persistence archive").
// pdb_fields.h — one-line field transfers that the archive records share:
// each names the field (tag and kind letter) and moves the value in the
// segment's direction.
#pragma once

#include <cstdint>
#include <string>

#include "pdb/pdb.h"

inline void pdb_field_u32(PDB_SEGMENT& seg, int tag, uint32_t& v) {
  seg.set_field(tag, "u");
  seg.transfer_uint32(v);
}
inline void pdb_field_i32(PDB_SEGMENT& seg, int tag, int32_t& v) {
  seg.set_field(tag, "i");
  seg.transfer_int32(v);
}
inline void pdb_field_bool(PDB_SEGMENT& seg, int tag, bool& v) {
  seg.set_field(tag, "b");
  seg.transfer_bool(v);
}
// A count, checked against what is left in the segment at `min_unit` bytes
// per element.
inline void pdb_field_count(PDB_SEGMENT& seg, int tag, uint32_t& n, uint32_t min_unit) {
  seg.set_field(tag, "n");
  seg.transfer_count(n, min_unit);
}
// A text: its length under `tag`, its characters under `tag + 1`.
inline void pdb_field_str(PDB_SEGMENT& seg, int tag, std::string& s) {
  uint32_t n = uint32_t(s.size());
  pdb_field_count(seg, tag, n, 1);
  if (seg.is_reading()) s.assign(n, '\0');
  seg.set_field(tag + 1, "s");
  seg.transfer_chars(n, s.data());
}
