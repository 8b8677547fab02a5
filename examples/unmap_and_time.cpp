// Loads a BLIF design, moves the clock enables of its registers into logic,
// runs a timing analysis and writes the result.
// Usage: unmap_and_time IN.blif OUT.blif
// Exit status 1, after the reason, when the design cannot be read, the
// timing analysis fails (a constraints file it cannot take) or the result
// cannot be written.
#include <csignal>
#include <cstdio>
#include <string>

#include "cdb/cdb_sgate.h"
#include "cmp/cmp.h"
#include "dev/dev.h"
#include "hdb/hdb.h"
#include "kavu_dff_helper_sync.h"  // kavu_unmap_all_enables
#include "kavu_ssc.h"              // kavu_ssc_perform_timing_analysis
#include "netlist_io/blif.h"       // blif_read_file, blif_write_file
#include "zhd/zhd.h"
using namespace kavu_platform;

int main(int argc, char** argv) {
  if (argc != 3) return std::fprintf(stderr, "usage: %s IN.blif OUT.blif\n", argv[0]), 2;
  std::signal(SIGXFSZ, SIG_IGN);  // past a file-size limit a write fails; the program goes on
  BLIF_RESULT in = blif_read_file(argv[1]);
  for (const std::string& warning : in.warnings)  // e.g. an undriven net tied to 0
    std::fprintf(stderr, "warning: %s\n", warning.c_str());
  if (!in.netlist) return std::fprintf(stderr, "%s\n", in.error.c_str()), 1;

  kavu_unmap_all_enables(in.netlist);  // one pass: clock enables into logic

  // The compile: family 47 ("Brae II") and its base family, as the suite sets
  // them; timing-driven synthesis on; the whole design one partition.
  CMP_FACADE facade;
  facade.set_family(DEV_FAMILY_ENUM(47));
  facade.set_base_family(DEV_FAMILY_MANAGER::get_base_family(facade.get_family()));
  ZCU_FACADE_UTIL::get_instance()->set_facade(&facade);
  zhd_build("", {{"top", in.hierarchy->get_instance_name(), -1, 0}});
  hdb_set_option(hdb_default_namespace(), KAVU_ACF_SYNTH_TIMING_DRIVEN_SYNTHESIS, "on");
  SSC_ITERM_TIMING_INFO_MAP slack;  // slack of every driven input terminal
  bool ok = kavu_ssc_perform_timing_analysis(&facade, in.hierarchy, in.netlist, &slack, nullptr, nullptr,
                                             nullptr, true, nullptr, false);
  if (ok) std::printf("timed %zu input terminals\n", slack.size());
  else std::fprintf(stderr, "the timing analysis failed; nothing is written\n");  // after its error

  std::string error;
  ok = ok && blif_write_file(in.netlist, argv[2], {}, &error);
  if (!error.empty()) std::fprintf(stderr, "%s\n", error.c_str());
  delete in.netlist;
  delete in.hierarchy;
  return ok ? 0 : 1;
}
