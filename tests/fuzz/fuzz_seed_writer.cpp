// Writes the seed corpora of the archive fuzz targets from the test data:
//   fuzz_seed_writer <BLIF files...> -o <corpus root>
// For every BLIF file: its netlist record ("netlist/"), its registers as a
// removed-register record ("removed_regs/"), the name tree it made as a
// namespace archive ("namespace/") and its timing netlist ("tdb/"). The SDC
// seeds ("sdc/") constrain the fixed design of the SDC target.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "cdb/cdb_sgate_netlist_pdb.h"
#include "cdb/cdb_sgate_removed_regs.h"
#include "fuzz_archive_support.h"
#include "hdb/hdb.h"
#include "netlist_io/blif.h"
#include "pdb/pdb.h"
#include "ssc/ssc_int.h"

using namespace kavu_platform;

namespace {

const char* const kSdcSeeds[] = {
    "create_clock -name clk -period 10 [get_ports clk]\nset_input_delay 2 -clock clk [get_ports a]\n"
    "set_output_delay 1 -clock clk [get_ports y]\n",
    "create_clock -name A -period 10 [get_ports clk]\ncreate_clock -name B -period 15 -waveform {0 5} [get_ports clk2]\n"
    "set_false_path -from [get_clocks A] -to [get_clocks B]\n",
    "create_clock -name A -period 7 [get_ports clk]\ncreate_clock -name B -period 3 [get_ports clk2]\n"
    "set_max_delay 3 -from [get_cells r1] -to [get_cells r2]\nset_false_path -to [get_cells r3]\n",
    "create_clock -name c -period 20 [get_ports {clk clk2}]\nset_input_delay 0 -clock c [all_inputs]\n"
    "set_input_delay 1 -clock_fall -clock c [get_ports b]\n",
    // The version as tools write it, and last lines that end unfinished
    // after complete commands on them or on the lines joined to them.
    "set sdc_version 2.1\ncreate_clock -name A -period 7 [get_ports clk]\n"
    "set_false_path -to [get_cells r3]; set_max_delay 3 -from [get_cells {r1 r2}] -to [list r3 \"r",
    "set sdc_version 2.1\ncreate_clock -name c -period 9 [get_ports clk]\nset_max_delay 3 -to [get_cells {r1\n r2}]; "
    "# n \\\n\nset_false_path -from r1;\\\nset_false_path -to r2 \\",
};

std::string stem_of(const std::string& path) {
  std::string s = path.substr(path.find_last_of('/') + 1);
  return s.substr(0, s.rfind('.'));
}

void write_netlist(CDB_SGATE_NETLIST* nl, const std::string& name) {
  PDB_ARCHIVE a(name, PDB_ARCHIVE::PDB_WRITE);
  void* p = nl;
  pdb_write_ptr(a, "", "cdb", &cdb_sgate_netlist_ptr_field, &p, 0, -1, 0);
  a.close();
}

void write_removed_regs(CDB_SGATE_NETLIST* nl, const std::string& name) {
  CDB_SGATE_REMOVED_REGISTERS_DB db("reg_db_" + stem_of(name));
  int k = 0;
  for (CDB_SGATE_NODE* n : nl->get_node_list())
    if (n && n->cast_to_dff()) {
      const std::string reg = n->get_string_hpath();
      if (k % 3 == 0) db.add_fanoutless(reg);
      else if (k % 3 == 1) db.add_stuck(reg);
      else db.add_merged(reg);
      ++k;
    }
  PDB_ARCHIVE a(name, PDB_ARCHIVE::PDB_WRITE);
  void* p = &db;
  pdb_write_ptr(a, "", "cdb", &cdb_sgate_removed_regs_ptr_field, &p, 0, -1, 0);
  a.close();
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> inputs;
  std::string root;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-o") == 0 && i + 1 < argc) root = argv[++i];
    else inputs.push_back(argv[i]);
  }
  if (root.empty()) {
    std::fprintf(stderr, "usage: fuzz_seed_writer <BLIF files...> -o <corpus root>\n");
    return 2;
  }
  for (const char* sub : {"", "/netlist", "/removed_regs", "/namespace", "/tdb", "/sdc"})
    ::mkdir((root + sub).c_str(), 0755);
  int written = 0;
  for (const std::string& input : inputs) {
    BLIF_RESULT r = blif_read_file(input);
    if (!r.netlist) {
      std::fprintf(stderr, "%s\n", r.error.c_str());
      continue;
    }
    const std::string stem = stem_of(input);
    write_netlist(r.netlist, root + "/netlist/" + stem);
    write_removed_regs(r.netlist, root + "/removed_regs/" + stem);
    if (HDB_NAMESPACE::write_pdb(kavu_platform::hdb_default_namespace(), root + "/namespace", true))
      std::rename((root + "/namespace/hdb_namespace.cdb").c_str(), (root + "/namespace/" + stem + ".cdb").c_str());
    SSC_NETLIST_DATA d;
    d.build({r.netlist}, ssc_make_delays(nullptr, SSC_DELAY_MODEL_UNIT_FANOUT));
    d.drop_gate_pointers();
    d.write_file(root + "/tdb/" + stem + ".tdb");
    delete r.netlist;
    delete r.hierarchy;
    kavu_platform::hdb_reset();
    ++written;
  }
  int k = 0;
  for (const char* sdc : kSdcSeeds) std::ofstream(root + "/sdc/seed" + std::to_string(k++) + ".sdc") << sdc;
  std::printf("seeds from %d designs in %s\n", written, root.c_str());
  return written == int(inputs.size()) ? 0 : 1;
}
