// plat_test_reset.cpp — the one reset of every singleton of the layer.
//
// The test kit calls plat_test_reset_all() before each test so that no test
// sees another's configuration, messages, names, tags or database state.
// A role that adds a singleton adds its reset here. Registrations made when
// a library loads (message ids, memory tags) are not test state and stay.
#include "cdb/cdb_sgate.h"
#include "cdb/cdb_sgate_netlist_pdb.h"
#include "cfg/cfg.h"
#include "cmp/cmp.h"
#include "dev/dev.h"
#include "hdb/hdb_section.h"
#include "zhd/zhd.h"
#include "atcl/atcl.h"
#include "ssc/ssc.h"
#include "ssc/tervo.h"
#include "testkit/platform_test_hooks.h"
#include "thr/thr_ipc.h"
#include "cdb/cdb_sgate_removed_regs.h"
#include "wl/wl.h"

namespace kavu_platform {

void plat_test_reset_all() {
  cfg_unset_all_values();
  msg_test_reset();
  cdb_sgate_netlist_pdb_test_reset();  // its hierarchies hold names of the namespace reset next
  hdb_reset();
  gen_test_reset();
  cdb_sgate_set_synthesis_running_in_parallel(false);
  CDB_SGATE_NODE::reset_debug_counter();
  CDB_LUTMASK::max_num_inputs = 6;
  cmp_test_reset();
  hdb_section_reset();
  zhd_reset();
  dev_test_reset();
  // parallel synthesis: helper messages, dispatchers, removed-register databases
  thr_ipc_test_reset();
  CDB_SGATE_REMOVED_REGISTERS_MANAGER::test_reset();
  wl_test_reset();
  // Timing engine and Tcl interpreter.
  ssc_test_reset();
  atcl_test_reset();
  // Constraint queries, estimators and device timing.
  ssc_query_test_reset();
}

}  // namespace kavu_platform
