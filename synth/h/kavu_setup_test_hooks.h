// kavu_setup_test_hooks.h — test access to the library's load-time set-up.
//
// The configuration keys read at load are read by one function, which the
// load sequence calls once. Tests that need other values may set keys from
// code and call it again; they call it once more after restoring the keys,
// so that later tests see the values of the load.
#pragma once

// Reads every load-time key into its global (kavu_setup_export.h).
void kavu_setup_read_load_time_keys();
