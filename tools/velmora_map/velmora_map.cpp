// velmora_map — the helper process of parallel synthesis.
//
// Reads the command line the library builds (see kavu_parallel.h), takes
// its configuration ("--ini_set=key=value") and directories ("--db_dir=",
// "--pipe_dir=") from it, marks the process as running parallel synthesis,
// and synthesizes partitions: without pipes the one of its "--helper"
// number, with pipes each "RUN k" read from its download pipe, answering
// "DONE k rc" on its upload pipe, until "EXIT" or end of file; a failed
// partition's reason goes before its answer as "MSG error k text".
// The revision is the value of "-c"; the project is the argument after
// "--" (or, without "--", the last argument that is no option).
// The pass is fixed and deterministic: registers without fan-out that are
// not preserved are removed into the removed-register database, then dead
// logic is swept. The partition archive is written back in place, and the
// removed-register archive of the partition beside it. Every file it writes
// in the database directory, which others may share, is written as a file
// of the user's own (FIO_FILE_REPLACEMENT::open_own_file), as the parent
// writes its files there.
// The key "helper_fault" injects failures: "exit3" (exit code 3),
// "abort", "nowrite" (exit 0 without writing), "hang" (starts an archive
// write, leaving its temporary file, and never answers), "damage" (writes
// bytes that are no archive over the partition and reports success), the
// faults of boundary_faults.h, which write a result whose boundary gates are
// not the partition's, under its debug numbers and names
// ("turn_output_boundary", "turn_input_boundary", "swap_boundaries",
// "cut_output_boundary"), and "wait" (see wait_if_asked).
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "cdb/cdb_sgate_removed_regs.h"
#include "cfg/cfg.h"
#include "fio/fio.h"
#include "gen/gen.h"
#include "hdb/hdb.h"
#include "kavu_memory_guard_int.h"
#include "kavu_parallel.h"
#include "pdb/pdb.h"
#include "testkit/boundary_faults.h"
#include "testkit/platform_test_hooks.h"

namespace {

struct ARGS {
  int helper = 0;
  std::string type, step, dl, ul, pipe_dir, project, revision;
  bool have_revision = false;
};

bool starts(const char* a, const char* prefix, const char** rest) {
  size_t n = strlen(prefix);
  if (strncmp(a, prefix, n) != 0) return false;
  *rest = a + n;
  return true;
}

std::string fault() { return cfg_get_value("helper_fault"); }

// Why writing an archive failed, from the system's error number.
std::string write_failure(const char* what) {
  const int err = pdb_last_write_error();
  if (err == ENOSPC || err == EDQUOT) return std::string("cannot write ") + what + ": the disk is full";
  return std::string("cannot write ") + what + (err ? std::string(": ") + strerror(err) : std::string());
}

// The fault "wait" (alone, or before another: "wait+exit3"): the helper
// makes the file "helper_waits" in the database directory and waits, before
// it reads its partition, until the file "helper_go" is there, so a test
// can act while the run's helpers are held.
std::string wait_if_asked(const std::string& f) {
  if (f != "wait" && f.rfind("wait+", 0) != 0) return f;
  const std::string dir = gen_get_db_dir_path().empty() ? std::string(".") : gen_get_db_dir_path();
  FIO_FILE_SYSTEM::replace_own_file(dir + "/helper_waits", {""}, nullptr);
  while (access((dir + "/helper_go").c_str(), F_OK) != 0) usleep(10000);
  return f == "wait" ? std::string() : f.substr(5);
}

// Synthesizes partition k; 0 on success, else a code with *why.
int run_partition(const ARGS& a, int k, std::string* why) {
  const std::string f = wait_if_asked(fault());
  if (f == "exit3") exit(3);
  if (f == "abort") abort();
  if (f == "hang") {
    // The temporary an archive write makes beside its file: made only where
    // nothing is there, never through a link.
    const std::string temp =
        kavu_parallel_archive_name(a.revision, a.type.c_str(), k) + ".cdb.tmp" + std::to_string(getpid()) + "_0";
    const int t = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (t >= 0) close(t);
    for (;;) pause();
  }
  if (f == "nowrite") return 0;
  CDB_SGATE_NETLIST* read = nullptr;
  if (!kavu_parallel_read_partition(a.revision, a.type.c_str(), k, &read, nullptr)) {
    *why = "cannot read the partition";
    return 10;
  }
  std::unique_ptr<CDB_SGATE_NETLIST> owned(read);  // given back when memory is refused on the way
  CDB_SGATE_NETLIST* netlist = read;
  kavu_parallel_create_removed_reg_db(a.revision, a.type.c_str(), k);
  CDB_SGATE_REMOVED_REGISTERS_DB* db = CDB_SGATE_REMOVED_REGISTERS_MANAGER::get_instance()->get_current_removed_reg_db();
  std::vector<CDB_SGATE_NODE*> doomed;
  for (CDB_SGATE_NODE* n : netlist->get_node_list()) {
    CDB_SGATE_DFF* d = n ? n->cast_to_dff() : nullptr;
    if (d && !d->has_fanout() && !d->preserve()) doomed.push_back(n);
  }
  for (CDB_SGATE_NODE* n : doomed) {
    db->add_fanoutless(n->get_instance_name() ? n->get_instance_name()->get_short_hpath(0) : n->get_debug_name());
    netlist->delete_node(n);
    delete n;
  }
  netlist->sweep(false);
  netlist->prepare_for_use();
  kavu_platform::make_boundary_fault(netlist, f);  // the faults on boundaries; nothing for the others
  if (!kavu_parallel_write_and_delete_partition(a.revision, a.type.c_str(), k, netlist)) {
    *why = write_failure("the partition");
    return 11;
  }
  (void)owned.release();  // the write deleted it
  if (!kavu_parallel_write_and_delete_removed_reg_db(a.revision, a.type.c_str(), k)) {
    *why = write_failure("the removed-register archive");
    return 12;
  }
  if (f == "damage")
    FIO_FILE_SYSTEM::replace_own_file(kavu_parallel_archive_name(a.revision, a.type.c_str(), k) + ".cdb",
                                      {"no archive"}, nullptr);
  return 0;
}

// run_partition, where memory the system refuses fails the partition with
// code 13 ("not enough memory") rather than end the helper.
int run_partition_within_memory(const ARGS& a, int k, std::string* why) {
  return kavu_guard_memory(13, [&] { return run_partition(a, k, why); }, [&] {
    why->clear();
    try {
      *why = "not enough memory";
    } catch (const std::bad_alloc&) {
    }
  });
}

std::string pipe_path(const ARGS& a, const std::string& name) {
  if (!name.empty() && name[0] == '/') return name;
  return a.pipe_dir + "/" + name;
}

int helper_main(int argc, char** argv);

}  // namespace

// The whole helper runs under the library's memory guard: memory refused
// outside a partition's run too (the namespace archive's read, the pipes'
// lines) ends it with code 13, said in its log, never with an abort.
int main(int argc, char** argv) {
  return kavu_guard_memory(13, [&] { return helper_main(argc, argv); }, [] {
    fflush(stdout);
    const char text[] = "velmora_map: not enough memory\n";
    (void)!write(2, text, sizeof text - 1);
  });
}

namespace {

int helper_main(int argc, char** argv) {
  ARGS a;
  std::vector<std::string> positional;
  bool names_follow = false;
  for (int i = 1; i < argc; ++i) {
    const char* r = nullptr;
    if (names_follow) positional.push_back(argv[i]);
    else if (strcmp(argv[i], "--") == 0) {
      names_follow = true;
      positional.clear();  // the project is the first name after "--"
    } else if (starts(argv[i], "--helper=", &r)) a.helper = atoi(r);
    else if (starts(argv[i], "--helper_type=", &r)) a.type = r;
    else if (starts(argv[i], "--helper_step=", &r)) a.step = r;
    else if (starts(argv[i], "--dl_named_pipe=", &r)) a.dl = r;
    else if (starts(argv[i], "--ul_named_pipe=", &r)) a.ul = r;
    else if (starts(argv[i], "--db_dir=", &r)) kavu_platform::gen_set_db_dir_path(r);
    else if (starts(argv[i], "--pipe_dir=", &r)) a.pipe_dir = r;
    else if (starts(argv[i], "--ini_file=", &r)) {
      setenv("KAVU_INI_FILE", r, 1);
      kavu_platform::cfg_reload();
    }
    else if (starts(argv[i], "--ini_set=", &r)) {
      std::string kv = r;
      size_t eq = kv.find('=');
      if (eq != std::string::npos) kavu_platform::cfg_set_value(kv.substr(0, eq).c_str(), kv.substr(eq + 1).c_str());
    } else if (strcmp(argv[i], "-c") == 0 && i + 1 < argc) {
      a.revision = argv[++i];
      a.have_revision = true;
    } else if (argv[i][0] != '-') positional.push_back(argv[i]);
  }
  if (!positional.empty()) a.project = names_follow ? positional.front() : positional.back();
  if (!a.have_revision || a.type.empty()) {
    fprintf(stderr, "velmora_map: missing -c <revision> or --helper_type\n");
    return 2;
  }
  printf("velmora_map helper %d: project \"%s\", revision \"%s\"\n", a.helper, a.project.c_str(),
         a.revision.c_str());
  fflush(stdout);
  cdb_sgate_set_synthesis_running_in_parallel(true);
  // The design's names and options, as the parent wrote them before the run.
  if (!HDB_NAMESPACE::read_pdb(kavu_platform::hdb_default_namespace(), gen_get_db_dir_path()))
    printf("velmora_map helper %d: no namespace archive\n", a.helper);
  if (a.dl.empty()) {
    std::string why;
    const int rc = run_partition_within_memory(a, a.helper, &why);
    if (rc) printf("velmora_map helper %d: partition %d failed: %s\n", a.helper, a.helper, why.c_str());
    return rc;
  }

  // Pipes: the parent writes our download pipe and reads our upload pipe.
  FILE* in = fopen(pipe_path(a, a.dl).c_str(), "r");
  if (!in) return 4;
  FILE* out = fopen(pipe_path(a, a.ul).c_str(), "w");
  if (!out) return 5;
  char line[256];
  while (fgets(line, sizeof line, in)) {
    int k = -1;
    if (strncmp(line, "EXIT", 4) == 0) break;
    if (sscanf(line, "RUN %d", &k) != 1) continue;
    std::string why;
    int rc = run_partition_within_memory(a, k, &why);
    fprintf(out, "MSG info 0 helper %d ran partition %d\n", a.helper, k);
    if (rc) fprintf(out, "MSG error %d %s\n", k, why.c_str());
    fprintf(out, "DONE %d %d\n", k, rc);
    fflush(out);
  }
  fclose(in);
  fclose(out);
  return 0;
}

}  // namespace
