// kavu_parallel.h — parallel synthesis of partition netlists in helper
// processes: the partition archives and the driver that runs the helpers.
//
// Road: kavu_parallel_serialize writes one archive per partition netlist
// (largest first) into the project database directory and empties the
// vector; kavu_parallel_run_partitions_in_processes runs "velmora_map"
// helpers (one per partition, or one per thread fed over named pipes);
// kavu_parallel_deserialize reads the synthesized partitions back in archive
// order, merges each helper's removed-register database into the current
// one and applies its invalidations through the FIB manager (when one is
// initialized) and hands them to the invalidation sink.
//
// Output archives of a run are removed before the helpers start
// (kavu_parallel_remove_output_archives), so nothing a helper did not write
// in this run is read as its answer.
#pragma once
#include <functional>
#include <string>
#include <vector>

class CMP_FACADE;
class CDB_SGATE_HIERARCHY;
class CDB_SGATE_NETLIST;
class CDB_SGATE_REMOVED_REGISTERS_DB;
class KAVU_FIBS_TO_INVALIDATE;
class PDB_ARCHIVE;
class THR_NAMED_PIPE;

// Why one helper of a run failed; filled by its task, reported by the driver.
struct KAVU_PARALLEL_FAILURE {
  std::string m_debug;   // the debug line ("Failed with error code %d: %s")
  std::string m_reason;  // what happened, in the user's words
  int m_partition = -1;  // the partition it failed on (-1: none in particular)
  int m_pid = 0;         // the helper's process id, when it started
  std::string m_log_problem;  // non-empty: the helper ran without its log, for this reason
  bool m_out_of_memory = false;  // memory was refused on the helper's thread (set without allocating)
};

// One helper command of a run; created by the driver, freed by the task.
struct KAVU_PARALLEL_HELPER_ARGS {
  std::vector<std::string> command;  // argument vector, never split again
  bool* success = nullptr;           // shared by the run; read and cleared atomically
  bool use_pipes = false;
  THR_NAMED_PIPE** dl_pipes = nullptr;
  THR_NAMED_PIPE** ul_pipes = nullptr;
  int num_processes = 0;
  int num_partitions = 0;
  KAVU_PARALLEL_FAILURE* failure = nullptr;  // this helper's own slot, for the parent to report
};

// The key "p<type>_<word>".
bool kavu_parallel_key_is_on(const char* type, const char* word, bool dflt);
// The key "parallel_use_pipes" (on), read once per process.
bool kavu_use_named_pipes();
// Tests: -1 follows the key, 0 or 1 forces pipes off or on.
void kavu_parallel_force_named_pipes(int mode);
void kavu_parallel_dump(CDB_SGATE_HIERARCHY* hierarchy, CDB_SGATE_NETLIST* netlist, const char* format,
                        const char* type, int a, int b);
// The argument vector of helper i (pipe names empty: no pipe options). The
// revision is the value of "-c" and the project comes last, after "--", so
// neither name is ever read as an option.

std::vector<std::string> kavu_parallel_helper_command(CMP_FACADE* facade, const char* type, const char* step,
                                                      int helper, const std::string& dl_pipe,
                                                      const std::string& ul_pipe);
void kavu_parallel_launcher_thread(void* args);
// True when archives named after the revision and the type stay in the
// project database directory (neither holds a '/' or a NUL byte); otherwise
// posts an error saying so and returns false. The archive writers and the
// driver refuse a run with such names before anything is written.
bool kavu_parallel_names_stay_in_db_dir(const std::string& rev, const char* type);
bool kavu_parallel_run_partitions_in_processes(CMP_FACADE* facade, const char* type, const char* step,
                                               int num_partitions);

// ---- archives
std::string kavu_parallel_archive_name(const std::string& rev, const char* type, int number);
std::string kavu_parallel_removed_reg_archive_name(const std::string& rev, const char* type, int number);
// The copy of partition archive k the parent keeps from the write until the
// helper's result for k has been read back and checked.
std::string kavu_parallel_kept_archive_name(const std::string& rev, const char* type, int number);
std::string kavu_parallel_fibs_to_invalidate_db_name(CDB_SGATE_HIERARCHY* hierarchy, const char* type, int number);
// Removes every output archive (removed registers, invalidations) of
// numbers 0..n-1 so that a helper's silence cannot pass for an answer.
void kavu_parallel_remove_output_archives(const std::string& rev, CDB_SGATE_HIERARCHY* hierarchy,
                                          const char* type, int n);

// Writes the netlist; destroys it only when the write succeeded. The
// archive carries the run stamp of the partition archive last read (or
// written by kavu_parallel_serialize) under that name in this process, so a
// helper's result carries the stamp of the partition it was given.
bool kavu_parallel_write_and_delete_partition(const std::string& rev, const char* type, int number,
                                              CDB_SGATE_NETLIST* netlist);
// Reads partition archive k and remembers its run stamp for the write of
// the result. False (and a null netlist) when it cannot be
// read or reads as a netlist that fails check(). With a hierarchy
// out-pointer the netlist is attached to the root hierarchy of its gates,
// which the archive carries (below); its internal errors free the netlist
// first.
bool kavu_parallel_read_partition(const std::string& rev, const char* type, int number,
                                  CDB_SGATE_NETLIST** partition_ptr, CDB_SGATE_HIERARCHY** hierarchy_ptr);
// *hierarchy_ptr = the root of the hierarchy of the first gate that has one
// (else of the netlist's own, for a partition without pins), which then
// holds the netlist (set_netlist). An empty netlist, or one that knows no
// hierarchy, is an internal error.
void kavu_parallel_attach_root_hierarchy(CDB_SGATE_NETLIST* netlist, CDB_SGATE_HIERARCHY** hierarchy_ptr);
void kavu_parallel_create_removed_reg_db(const std::string& rev, const char* type, int number);
bool kavu_parallel_write_and_delete_removed_reg_db(const std::string& rev, const char* type, int number);
// False (and null) when the archive is missing or bad.
bool kavu_parallel_read_removed_reg_db(const std::string& rev, const char* type, int number,
                                       CDB_SGATE_REMOVED_REGISTERS_DB** db);
bool kavu_parallel_read_fibs_to_invalidate(CDB_SGATE_HIERARCHY* hierarchy, const char* type, int number,
                                           KAVU_FIBS_TO_INVALIDATE** fibs);
// Reads the record into `owned`, destroying the record it held.
bool kavu_parallel_read_fibs_ptr(PDB_ARCHIVE& archive, KAVU_FIBS_TO_INVALIDATE*& owned);
bool kavu_parallel_write_fibs_to_invalidate(CDB_SGATE_HIERARCHY* hierarchy, const char* type, int number,
                                            KAVU_FIBS_TO_INVALIDATE* fibs);

// Writes the namespace archive, then every partition (largest first), each
// with a stamp new to this run and a kept copy; true when all were written (or the key "p<type>_pdb"
// is off). A run holds the database directory's lock ("parallel_synthesis.lock"
// there, flock) from here until its partitions are back (a read-back that
// took them all, or the end of recovery); another process's run in the same
// directory waits for it, saying so in an info message that names the run
// waited for; a signal a handler catches ends the wait, failing the call. A
// lock file that cannot be opened or locked (a link, an unwritable
// directory) fails the call with the partitions in memory; one another user
// made is locked read-only, and on a file system without locks (ENOLCK,
// ENOSYS, EOPNOTSUPP) the run goes on with a warning, removing no other
// user's file. The run's name goes into the lock file only when it is a
// regular file of one name this user owns. Every archive is written only as
// a file of this user's own (no link of another user followed; no hard
// link, FIFO or device written). On failure the partitions not yet written stay in the vector
// (written ones are destroyed, their archives 0..n-1 kept, n the number that
// left the vector), so nothing is lost; a failed namespace write leaves the
// vector untouched. Helper outputs an earlier run left under the archives'
// numbers are removed either way.
bool kavu_parallel_serialize(CMP_FACADE* facade, const char* type, int step, CDB_SGATE_HIERARCHY* hierarchy,
                             std::vector<CDB_SGATE_NETLIST*>& partitions);
// Reads the results back in archive order; a result is taken only when it
// reads back whole and is the partition written, for this run (the same
// netlist number and run stamp, the same boundary gates, each by debug
// number with its name and direction, its input connected where the
// partition written had it connected, and the same pins, each by debug
// number with its name, its direction and, for a pin that drives a signal,
// the signal's name), and
// then, with its removed registers merged, its kept copy is removed. At the
// first failure it stops taking results and returns false; that partition
// and every later one whose result recovery will refuse get one error
// message each, naming the partition and its kept copy.
bool kavu_parallel_deserialize(CMP_FACADE* facade, const char* type, int step, CDB_SGATE_HIERARCHY* hierarchy,
                               std::vector<CDB_SGATE_NETLIST*>& partitions, int num_partitions);
// After a failed run: appends every partition, from its helper's result
// when that reads back whole, is the partition written and comes with its
// removed registers (merged into the current database, unless the read-back
// took them already), else from its kept copy, which is held to the same
// check (a kept copy of another partition or another run is refused). A
// result refused for what it is (unreadable, not whole, not the partition
// written) gets one error message, unless its partition's failure was told
// already. False (with an error message per partition, saying whether its
// kept copy is missing or why it was refused) when a partition can be had
// from neither; nothing refused is merged. Ends the run: the database
// directory's lock is released.
// After a failed kavu_parallel_serialize, num_partitions is the number of
// partitions it wrote.
bool kavu_parallel_recover_partitions(CMP_FACADE* facade, const char* type, std::vector<CDB_SGATE_NETLIST*>& partitions,
                                      int num_partitions);

// Whether invalidation archives are written and read (kavu_fib_manager.h),
// and where their names go besides the parent's FIB manager.
bool kavu_llis_is_generating_databases();
typedef std::function<void(CDB_SGATE_HIERARCHY*, const KAVU_FIBS_TO_INVALIDATE&)> KAVU_INVALIDATION_SINK;
void kavu_parallel_set_invalidation_sink(KAVU_INVALIDATION_SINK sink);
