// cut_dev_svpi.cpp — see cut_dev_svpi.h.
#include "cut/cut_dev_svpi.h"

#include "cfg/cfg.h"

bool CUT_DEV_SVPI_UTIL::is_sarvel_retimer_fast_forward_emulate_enabled() {
  return cfg_is_on("sarvel_retimer_fast_forward_emulate", false);
}
