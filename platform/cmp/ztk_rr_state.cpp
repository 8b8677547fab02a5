// ztk_rr_state.cpp — the fast-recompilation switch of the suite.
#include "cmp/ztk_rr_state.h"

#include "cfg/cfg.h"

const char* const DBM_TYPE_PARSYNTH = "parsynth";

bool ZTK_RR_STATE_MANAGER::is_rapid_recompile_supported() { return cfg_is_on("rapid_recompile_supported", false); }
