// kavu_family_info_int.h — the per-family table behind RTL_FAMILY_INFO's ROM
// rule, for the record and for tests of every family in it.
//
// Rows (a ROM needs at least the minimum depth and depth x width at least
// the minimum size):
//   families 2, 4, 5, 31: 64 and 1024;
//   6, 7, 8, 15, 25, 34, 35, 36, 45, 47, 50, 57, 60, 61: the key
//     opt_min_rom_depth_for_6_lut_families (256) and 256 with small RAMs,
//     else 1024;
//   14, 17, 53: 32 and 1024, or 256 with small RAMs under the key
//     opt_smt_fake_pikel_ram_to_be_ormond (off);
//   66: 32 and 256 with small RAMs, else 1024;
//   32, 41: no ROM;
//   any other family: internal error "can_infer_rom doesn't recognize the
//   current family".
// Both keys are read on every call.
#pragma once

#include <cstdint>

#include "cmp/cmp.h"

struct KAVU_ROM_RULE {
  bool m_never = false;  // the family infers no ROM
  int m_min_depth = 0;
  int64_t m_min_size = 0;  // depth x width
};

KAVU_ROM_RULE kavu_family_rom_rule(DEV_FAMILY_ENUM family, bool has_small_rams);
