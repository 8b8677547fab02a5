// Role: compiler facade (docs/platform.md, "Compiler facade").
// ztk_rr_state.h — whether the suite offers fast recompilation of a design,
// and the extension of the parallel-synthesis archives.
//
// Model: ZTK_RR_STATE_MANAGER answers from the configuration key
//   "rapid_recompile_supported" (default off), read on every call, so the
//   stand-in keeps no state and needs no test reset. The library's
//   incremental-synthesis records are written only when the suite supports
//   fast recompilation.
#pragma once

class ZTK_RR_STATE_MANAGER {
 public:
  static bool is_rapid_recompile_supported();
};

// The file extension of the archives a parallel-synthesis helper writes.
extern const char* const DBM_TYPE_PARSYNTH;  // "parsynth"
