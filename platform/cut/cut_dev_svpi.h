// Role: atom and port utilities (docs/platform.md, "Atom and port utilities").
// cut_dev_svpi.h — device utilities the register retimer consults.
//
// CUT_DEV_SVPI_UTIL::is_sarvel_retimer_fast_forward_emulate_enabled: whether
//   the retimer's fast-forward emulation runs for the current device. Our
//   devices never enable it; the key "sarvel_retimer_fast_forward_emulate"
//   (default off, read on every call) turns it on for tests and tools.
// State: none beyond the configuration store. Thread-safe.
#pragma once

class CUT_DEV_SVPI_UTIL {
 public:
  static bool is_sarvel_retimer_fast_forward_emulate_enabled();
};
