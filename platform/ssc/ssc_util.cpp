// ssc_util.cpp — the timing engine singleton: holding a timing netlist,
// reading constraints, running the analysis and filling the caller's maps,
// the project-database files, dumps, Tcl commands and the synchronizer list.
#include <tcl.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <cstdio>
#include <new>
#include <sstream>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "atcl/atcl.h"
#include "cdb/cdb_sgate.h"
#include "cfg/cfg.h"
#include "cmp/cmp.h"
#include "dev/dev.h"
#include "fio/fio.h"
#include "gen/gen.h"
#include "hdb/hdb.h"
#include "msg/msg.h"
#include "ssc/ssc_int.h"
#include "thr/thr_fork_int.h"

using kavu_platform::SSC_NETLIST_DATA;

namespace {

SSC_UTIL* g_util = nullptr;
bool g_util_missing = false;

// An error for memory the system refused, its text made by `text()`; a
// message that cannot be made either is left out (the caller still fails).
template <class TEXT>
void post_out_of_memory(TEXT&& text) {
  try {
    const std::string t = text();
    msg_post_message(MSG_POST_TYPE_ERROR, t);
    msg_local_debug("SSC", 2, "%s", t.c_str());
  } catch (const std::bad_alloc&) {
  }
}

// Bytes of a file's path, and of text a script's error quotes, shown in a
// message: escaped and cut (msg_printable_text), so that neither a terminal
// escape nor a megabyte of text reaches the user.
const size_t kMaxQuotedPathBytes = 512;
const size_t kMaxScriptErrorBytes = 1024;

std::string quoted_path(const std::string& path) {
  return kavu_platform::msg_printable_text(path, kMaxQuotedPathBytes, true);
}

// A partition's stored timing netlist. The partition name becomes one part
// of a file name ('/' and '%' escaped), so any name can be written.
std::string tdb_file(const std::string* partition_name) {
  std::string part;
  for (char c : partition_name ? *partition_name : std::string("generic")) {
    if (c == '%') part += "%25";
    else if (c == '/') part += "%2F";
    else part += c;
  }
  return gen_get_db_dir_path() + "/tdb_" + part + ".tdb";
}

// The stored netlists whose last write failed and whose name could not be
// removed (a database directory the process may not write): no read takes
// them until they are written again.
std::mutex g_unwritten_mutex;
std::unordered_set<std::string> g_unwritten;
[[maybe_unused]] const bool g_unwritten_kept_across_fork =
    (thr_lock_across_fork(&g_unwritten_mutex, THR_FORK_TIMING), true);

// The key of a stored netlist in that set: its absolute path.
std::string unwritten_key(const std::string& file) { return fio_get_unc_full_path(file); }

bool is_unwritten(const std::string& file) {
  std::lock_guard<std::mutex> lock(g_unwritten_mutex);
  return !g_unwritten.empty() && g_unwritten.count(unwritten_key(file)) != 0;
}

bool file_exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Whether a partition's stored netlist, stamped as descending (or not) from
// the generic netlist of digest `generic`, belongs with the generic netlist
// stored now: it was stitched into that one, or, with none stored, into
// none. A generic netlist whose last write failed, or that carries no stamp
// of this version, has no partition's netlist.
bool descends_from_stored_generic(bool from_generic, const kavu_platform::SSC_NETLIST_DIGEST& generic) {
  const std::string file = tdb_file(nullptr);
  if (!file_exists(file)) return !from_generic;
  kavu_platform::SSC_NETLIST_STAMP stored;
  return from_generic && !is_unwritten(file) && SSC_NETLIST_DATA::read_file_head(file, &stored) && stored.known &&
         stored.own == generic;
}

// Which stored netlists a read takes.
enum READ_FOR {
  READ_AS_IS,            // any file of this version (the debug trip's own)
  READ_GENERIC,          // the generic netlist
  READ_PARTITION,        // a partition's, stitched into the generic one stored now
  READ_FOR_NETLIST,      // the generic one, or a partition's, of `origin`
};

// Reads a stored timing netlist into *data. A file that is not there is an
// answer (the caller may try another); one that is there but cannot be
// read or is damaged (its digest differs from the netlist read) is an
// error the user sees, with the reason. A file whose last write failed
// counts as not there, and so does one that cannot be shown to be the
// current compile's: a file of an earlier version (an earlier version of
// the library wrote it; traced as such), a partition's stitched into another
// generic netlist than the one stored now, and, for a gate netlist, any
// but the one its compile stored (`origin`: the generic netlist of that
// digest, or a partition's stitched into it).
bool read_stored_netlist(const std::string& file, kavu_platform::SSC_NETLIST_DATA* data, READ_FOR mode,
                         bool partition, const CDB_SGATE_TDB_ORIGIN* origin = nullptr) {
  if (is_unwritten(file)) {
    msg_local_debug("SSC", 2, "No timing netlist \"%s\": its last write failed", quoted_path(file).c_str());
    return false;
  }
  std::string problem;
  if (data->read_file(file, &problem)) {
    const kavu_platform::SSC_NETLIST_STAMP& st = data->stamp;
    const kavu_platform::SSC_NETLIST_DIGEST wanted{origin ? origin->lo : 0, origin ? origin->hi : 0};
    const char* stale = nullptr;
    if (!st.known) {
      stale = "stored by an earlier version of the library, it is not read; compile the design again";
    } else if (mode == READ_PARTITION && !descends_from_stored_generic(st.from_generic, st.generic)) {
      stale = "it belongs with another generic netlist than the one stored";
    } else if (mode == READ_FOR_NETLIST &&
               (!origin || !origin->stored ||
                (partition ? !(st.from_generic && st.generic == wanted) : !(st.own == wanted)))) {
      stale = "it is not the timing netlist this netlist's compile stored";
    }
    if (!stale) return true;
    msg_local_debug("SSC", 2, "No timing netlist \"%s\": %s", quoted_path(file).c_str(), stale);
    return false;
  }
  std::error_code ec;
  if (std::filesystem::symlink_status(file, ec).type() == std::filesystem::file_type::not_found) {
    msg_local_debug("SSC", 2, "No timing netlist \"%s\"", quoted_path(file).c_str());
    return false;
  }
  const std::string text = "Timing-netlist file \"" + quoted_path(file) + "\": " + problem;
  msg_post_message(MSG_POST_TYPE_ERROR, text);
  msg_local_debug("SSC", 2, "%s", text.c_str());
  return false;
}

// What a failed write leaves of the stored netlist `file`: nothing that a
// later read could take for this compile's. The database's name goes when
// it is this user's own (a regular file of one name, or a link of the
// user's: the file a link names stays), removed as the user's own files
// are (FIO_FILE_SYSTEM::remove_own_file); another user's file, a file of
// several names, a device, a FIFO or a directory there is left, and no read
// takes it. A name that is not removed is remembered as unwritten.
void drop_stored_netlist(const std::string& file) {
  struct stat st;
  if (::lstat(file.c_str(), &st) != 0) return;
  std::string why = "it is not a file of this user's own";
  if (fio_is_own_entry(file, true) && FIO_FILE_SYSTEM::remove_own_file(file, &why)) return;
  msg_local_debug("SSC", 2, "Timing netlist \"%s\" not removed (%s): not read until written again",
                  quoted_path(file).c_str(), why.c_str());
  std::lock_guard<std::mutex> lock(g_unwritten_mutex);
  g_unwritten.insert(unwritten_key(file));
}

// The generic netlists this process stored, by the full path of the file
// (a process may store into several database directories): a later compile
// of this process removes the partitions' netlists stitched into them,
// whoever's generic netlist is stored there by then.
std::vector<std::pair<std::string, kavu_platform::SSC_NETLIST_DIGEST>> g_stored_generics;  // under g_unwritten_mutex

void note_stored_generic(const std::string& file, const kavu_platform::SSC_NETLIST_DIGEST& digest) {
  const std::string key = unwritten_key(file);
  std::lock_guard<std::mutex> lock(g_unwritten_mutex);
  for (auto& [path, stored] : g_stored_generics)
    if (path == key) {
      stored = digest;
      return;
    }
  g_stored_generics.emplace_back(key, digest);
}

// The partitions' stored netlists of this compile's previous set, each made
// by an analysis from the generic one: a new generic netlist starts a new
// compile's set, so those of the last one go, whether or not the new one is
// written. Only this user's own files go, and of them only the netlists
// stitched into the generic netlist stored now, when it is this user's
// own, or into the one this process last stored there (with no generic
// netlist stored, those made from gate netlists alone): the netlists other
// users' compiles (or other compiles of this user, into another generic
// netlist) stored in a shared database directory stay, and are no read of
// this compile's anyway (their stamps name another generic netlist).
// The directory is listed with readdir: std::filesystem's non-throwing
// directory walk ends the process when memory is refused inside it (it
// allocates in functions that may not throw), where readdir's refusal is an
// error of the walk and ours is std::bad_alloc to the caller.
void drop_partition_netlists() {
  const std::string generic = tdb_file(nullptr);
  const std::string dir = gen_get_db_dir_path();
  std::vector<kavu_platform::SSC_NETLIST_DIGEST> previous;
  {
    const std::string key = unwritten_key(generic);
    std::lock_guard<std::mutex> lock(g_unwritten_mutex);
    for (const auto& [path, digest] : g_stored_generics)
      if (path == key) previous.push_back(digest);
  }
  struct stat st;
  const bool none_stored = ::lstat(generic.c_str(), &st) != 0 && errno == ENOENT;
  kavu_platform::SSC_NETLIST_STAMP stored;
  if (!none_stored && fio_is_own_entry(generic, false) && SSC_NETLIST_DATA::read_file_head(generic, &stored) && stored.known)
    previous.push_back(stored.own);
  if (previous.empty() && !none_stored) return;
  std::vector<std::string> files;
  {
    std::unique_ptr<DIR, int (*)(DIR*)> listing(::opendir(dir.c_str()), ::closedir);
    if (!listing) return;
    while (const dirent* entry = ::readdir(listing.get())) {
      const std::string_view name(entry->d_name);
      if (name.size() > 8 && name.substr(0, 4) == "tdb_" && name.substr(name.size() - 4) == ".tdb")
        files.push_back(dir + "/" + std::string(name));
    }
  }
  for (const std::string& file : files) {
    kavu_platform::SSC_NETLIST_STAMP stamp;
    if (file == generic || !fio_is_own_entry(file, false) || !SSC_NETLIST_DATA::read_file_head(file, &stamp) ||
        !stamp.known)
      continue;
    const bool of_previous = stamp.from_generic
                                 ? std::find(previous.begin(), previous.end(), stamp.generic) != previous.end()
                                 : none_stored;
    if (of_previous) drop_stored_netlist(file);
  }
}

// Writes a held timing netlist (string-based copy) as the stored netlist of
// `partition_name` (the generic one for null). A write that fails, or that
// the database directory refuses before it starts (it cannot be made, or
// takes no new file), or that would pass the file bound is an error the user
// sees and leaves no stored netlist at the name (drop_stored_netlist): no
// later read takes the netlist of an earlier compile.
bool write_stored_netlist(const std::string* partition_name, kavu_platform::SSC_NETLIST_DATA& data) {
  const std::string file = tdb_file(partition_name);
  std::string reason;
  if (!gen_make_db_dir(&reason)) {
    msg_post_message(MSG_POST_TYPE_ERROR,
                     "Cannot write the timing netlist in \"" + quoted_path(gen_get_db_dir_path()) + "\": " + reason);
    drop_stored_netlist(file);
    return false;
  }
  SSC_NETLIST_DATA copy = data;
  copy.drop_gate_pointers();
  // The generic netlist is its own origin: its digest, which the file
  // carries as its own too, is what the partitions' netlists stitched into
  // it carry on (so does the held one).
  if (!partition_name) {
    copy.stamp.from_generic = true;
    copy.stamp.generic = kavu_platform::ssc_stored_netlist_digest(copy);
  }
  std::string problem;
  if (copy.store_file(file, &problem, partition_name ? nullptr : &copy.stamp.generic)) {
    if (!partition_name) note_stored_generic(file, copy.stamp.generic);
    data.stamp = std::move(copy.stamp);
    std::lock_guard<std::mutex> lock(g_unwritten_mutex);
    g_unwritten.erase(unwritten_key(file));
    return true;
  }
  const std::string text = "Timing-netlist file \"" + quoted_path(file) + "\": " + problem;
  msg_post_message(MSG_POST_TYPE_ERROR, text);
  msg_local_debug("SSC", 2, "%s", text.c_str());
  drop_stored_netlist(file);
  return false;
}

}  // namespace

// ---------------------------------------------------------------- TDB_NETLIST

TDB_NETLIST::TDB_NETLIST() : m_data(new SSC_NETLIST_DATA) {}
TDB_NETLIST::~TDB_NETLIST() = default;

unsigned TDB_NETLIST::get_node_count() const { return unsigned(m_data->nodes.size()); }

TDB_NODE* TDB_NETLIST::get_node(unsigned id) const {
  return id < m_data->nodes.size() ? &m_data->nodes[id] : nullptr;
}

TDB_NODE* TDB_NETLIST::find_node(const std::string& name) const {
  const int id = m_data->find(name);
  return id < 0 ? nullptr : &m_data->nodes[id];
}

const TDB_ARC* TDB_NETLIST::arcs_begin(const TDB_NODE* node) const {
  return m_data->arcs.data() + SSC_NETLIST_DATA::arc_begin(*node);
}

const TDB_ARC* TDB_NETLIST::arcs_end(const TDB_NODE* node) const {
  return m_data->arcs.data() + SSC_NETLIST_DATA::arc_end(*node);
}

bool TDB_NETLIST::is_string_based() const {
  for (const TDB_NODE& n : m_data->nodes)
    if (n.get_sgate()) return false;
  return true;
}

int TDB_NETLIST::get_cut_arc_count() const { return m_data->cut_arcs; }

// ---------------------------------------------------------------- SSC_UTIL

SSC_UTIL::SSC_UTIL() { register_tcl_commands(); }
SSC_UTIL::~SSC_UTIL() = default;

bool SSC_UTIL::initialize_netlist(CMP_FACADE* facade, CDB_SGATE_NETLIST* netlist, SSC_DELAY_MODEL model,
                                  SSC_OTERM_PAIR_VECTOR* duplicate_oterms) {
  PLAT_CHECK(netlist != nullptr, "SSC");
  (void)duplicate_oterms;  // copies of terminals are timed as the gates they are
  std::vector<CDB_SGATE_NETLIST*> one{netlist};
  return initialize_netlist(facade, one, model);
}

bool SSC_UTIL::initialize_netlist(CMP_FACADE* facade, std::vector<CDB_SGATE_NETLIST*>& netlists,
                                  SSC_DELAY_MODEL model) {
  PLAT_CHECK(!is_in_use(), "SSC");
  if (!ssc_check_delay_model_validity(facade, model)) return false;
  // Memory the system refuses while the netlist is built is an error of
  // the call, never an exception: the netlist being built is dropped and
  // nothing is held.
  std::unique_ptr<TDB_NETLIST> nl;
  try {
    nl = std::make_unique<TDB_NETLIST>();
    nl->m_data->build(netlists, kavu_platform::ssc_make_delays(facade, model));
  } catch (const std::bad_alloc&) {
    nl.reset();
    post_out_of_memory([&] { return std::string("Timing analysis: not enough memory to build the timing netlist"); });
    return false;
  }
  m_facade = facade;
  m_model = model;
  m_netlist = std::move(nl);
  m_analysis.reset();
  return true;
}

bool SSC_UTIL::read_tdb_from_pdb(std::string* partition_name) {
  PLAT_CHECK(!is_in_use(), "SSC");
  auto nl = std::make_unique<TDB_NETLIST>();
  if (!read_stored_netlist(tdb_file(partition_name), nl->m_data.get(), partition_name ? READ_PARTITION : READ_GENERIC,
                           partition_name != nullptr))
    return false;
  m_netlist = std::move(nl);
  m_analysis.reset();
  return true;
}

bool SSC_UTIL::read_tdb_from_pdb(std::string* partition_name, const CDB_SGATE_NETLIST* netlist) {
  PLAT_CHECK(!is_in_use() && netlist != nullptr, "SSC");
  auto nl = std::make_unique<TDB_NETLIST>();
  if (!read_stored_netlist(tdb_file(partition_name), nl->m_data.get(), READ_FOR_NETLIST, partition_name != nullptr,
                           &netlist->get_tdb_origin()))
    return false;
  m_netlist = std::move(nl);
  m_analysis.reset();
  return true;
}

CDB_SGATE_TDB_ORIGIN SSC_UTIL::get_stored_origin() const {
  CDB_SGATE_TDB_ORIGIN origin;
  if (!is_in_use() || !m_netlist->m_data->stamp.from_generic) return origin;
  origin.stored = true;
  origin.lo = m_netlist->m_data->stamp.generic.lo;
  origin.hi = m_netlist->m_data->stamp.generic.hi;
  origin.labelling = m_netlist->m_data->labelling;
  return origin;
}

bool SSC_UTIL::build_tdb_sub_and_merge(CDB_SGATE_NETLIST* netlist, SSC_DELAY_MODEL model, bool is_top,
                                       SSC_OTERM_PAIR_VECTOR* duplicate_oterms, bool per_partition,
                                       bool loaded_generic, std::string* partition_name) {
  (void)is_top;
  (void)duplicate_oterms;
  (void)loaded_generic;
  PLAT_CHECK(netlist != nullptr, "SSC");
  m_unstitched.clear();
  m_unread.clear();
  if (!is_in_use()) return false;
  CMP_FACADE* facade = m_facade ? m_facade : ZCU_FACADE_UTIL::get_instance()->get_facade();
  if (!ssc_check_delay_model_validity(facade, model)) return false;
  m_facade = facade;
  // The stitched netlist is made beside the held one and swapped in whole:
  // memory the system refuses on the way leaves the held netlist as it was
  // and is an error of the call, never an exception.
  try {
    SSC_NETLIST_DATA own;
    own.build({netlist}, kavu_platform::ssc_make_delays(facade, model));
    own.merge_loaded(*m_netlist->m_data);
    // A driver from outside the gate netlist that the loaded netlist lacks
    // would lose every path through it, the partition's figures optimistic:
    // refused, the caller told which.
    // So would an output boundary whose readers in other partitions it
    // lacks: every path from the gate netlist through it would be lost.
    if (!own.unstitched.empty() || !own.unread.empty()) {
      for (uint32_t id : own.unstitched) m_unstitched.push_back(own.nodes[id].get_string_name());
      for (uint32_t id : own.unread) m_unread.push_back(own.nodes[id].get_string_name());
      return false;
    }
    m_netlist->m_data->nodes.swap(own.nodes);
    m_netlist->m_data->arcs.swap(own.arcs);
    m_netlist->m_data->iterms_without_arcs.swap(own.iterms_without_arcs);
    m_netlist->m_data->names_indexed = false;
    m_model = model;
    m_analysis.reset();
    if (per_partition && partition_name) return write_stored_netlist(partition_name, *m_netlist->m_data);
  } catch (const std::bad_alloc&) {
    post_out_of_memory([&] { return std::string("Timing analysis: not enough memory to build the timing netlist"); });
    return false;
  }
  return true;
}

bool SSC_UTIL::convert_tdb_netlist_to_string_based() {
  if (!is_in_use()) return false;
  m_netlist->m_data->drop_gate_pointers();
  return true;
}

bool SSC_UTIL::write_tdb_to_pdb(std::string* partition_name) {
  if (!is_in_use()) return false;
  // A new generic netlist starts a new compile's set, written or not.
  if (!partition_name) drop_partition_netlists();
  return write_stored_netlist(partition_name, *m_netlist->m_data);
}

bool SSC_UTIL::debug_write_tdb_to_pdb(const char* name) {
  std::string n = name ? name : "debug";
  return write_tdb_to_pdb(&n);
}

bool SSC_UTIL::debug_read_tdb_from_pdb(const char* name) {
  std::string n = name ? name : "debug";
  // The file the debug trip has just written, whatever generic netlist is
  // stored beside it, replaces the held netlist (if any).
  auto nl = std::make_unique<TDB_NETLIST>();
  if (!read_stored_netlist(tdb_file(&n), nl->m_data.get(), READ_AS_IS, true)) return false;
  m_netlist = std::move(nl);
  m_analysis.reset();
  return true;
}

bool SSC_UTIL::delete_netlist() {
  const bool held = is_in_use();
  m_netlist.reset();
  m_analysis.reset();
  m_facade = nullptr;
  return held;
}

namespace {

// A constraints file is text of a few megabytes at most. The bound stops a
// wrong path from being taken whole into memory and keeps a read (the text,
// the command being read and its words: a few times the file's size) far
// inside any address space a run is given.
const uint64_t kMaxSdcFileBytes = kavu_platform::SSC_MAX_SDC_FILE_BYTES;
// Bytes of a problem's text, which quotes the file, shown in a message.
const size_t kMaxSdcProblemBytes = 256;
// The warnings already posted, per file and its text: the analysis runs
// many times on one file, and each warning is posted once per process.
// Keys are "path", NUL, a hash of the text, NUL, the warning.
std::mutex g_posted_mutex;
std::unordered_set<std::string> g_posted_warnings;
[[maybe_unused]] const bool g_posted_kept_across_fork = (thr_lock_across_fork(&g_posted_mutex, THR_FORK_TIMING), true);

// Posts the warnings of a read that were not posted before, then one
// warning for those beyond the first SSC_CONSTRAINTS::kMaxWarnings.
void post_sdc_warnings(const std::string& sdc, const std::string& text, const std::string& where,
                       const kavu_platform::SSC_CONSTRAINTS& c) {
  const std::string key = sdc + '\0' + std::to_string(std::hash<std::string_view>()(text)) + '\0';
  std::vector<std::string> fresh;
  {
    std::lock_guard<std::mutex> lock(g_posted_mutex);
    for (const std::string& w : c.warnings)
      if (g_posted_warnings.insert(key + w).second) fresh.push_back(w);
    if (c.more_warnings > 0 && g_posted_warnings.insert(key).second)
      fresh.push_back("and " + std::to_string(c.more_warnings) + " more warnings");
  }
  for (const std::string& w : fresh)
    msg_post_message(MSG_POST_TYPE_WARNING, where + ", " + kavu_platform::msg_printable_text(w, kMaxSdcProblemBytes));
}

}  // namespace


namespace {

// The last reads of constraints, each with its text and the digest of the
// netlist it was read against (ssc_sdc_netlist_digest), most recent last:
// the analysis runs many times on one file over netlists rebuilt from the
// same gates, and a file of thousands of commands takes far longer to read
// than the digest to make. A read is given again only while the text is
// equal byte for byte and the digest equal, so an edited file or netlist is
// read afresh. A digest takes 16 bytes whatever the netlist's size, so a
// read is kept whatever the netlist (a key of the netlist's own bytes, 40 MB
// for a million gates, once kept none on large netlists). What the kept
// reads hold together (texts and constraints) stays within kMaxKeptBytes:
// the oldest go first, and a read that alone would pass it is not kept;
// failed reads are not kept either. The digest is made at most once per
// read, and only where a kept read's text is equal or a read is kept.
// The analyses of a kept read share its constraints (never copied), with
// what the read worked out for them (SSC_PATH_RULE_INDEX).
struct KEPT_READ {
  std::string text;
  kavu_platform::SSC_NETLIST_DIGEST netlist;
  std::shared_ptr<const kavu_platform::SSC_CONSTRAINTS> constraints;
  size_t bytes = 0;  // text and constraints
};
const size_t kKeptReads = 2;
const size_t kMaxKeptBytes = size_t(16) << 20;
std::mutex g_kept_mutex;
std::vector<KEPT_READ> g_kept_reads;
[[maybe_unused]] const bool g_kept_kept_across_fork = (thr_lock_across_fork(&g_kept_mutex, THR_FORK_TIMING), true);

// Bytes the constraints hold (their vectors' and strings' heap blocks).
size_t constraints_bytes(const kavu_platform::SSC_CONSTRAINTS& c) {
  size_t bytes = c.clocks.capacity() * sizeof(c.clocks[0]) + c.io_delays.capacity() * sizeof(c.io_delays[0]) +
                 c.rules.capacity() * sizeof(c.rules[0]) + c.warnings.capacity() * sizeof(c.warnings[0]) +
                 (c.named_registers.capacity() + c.min_delay_inputs.capacity() + c.min_delay_outputs.capacity() +
                  c.clock_data_ports.capacity()) *
                     sizeof(uint32_t);
  for (const auto& k : c.clocks) bytes += k.name.capacity() + k.sources.capacity() * sizeof(uint32_t);
  for (const auto& d : c.io_delays) bytes += d.nodes.capacity() * sizeof(uint32_t);
  for (const auto& r : c.rules)
    bytes += (r.from_clocks.capacity() + r.to_clocks.capacity()) * sizeof(int) +
             (r.from_nodes.capacity() + r.to_nodes.capacity()) * sizeof(uint32_t);
  for (const auto& w : c.warnings) bytes += w.capacity();
  return bytes + c.rule_index.bytes();
}

// Bytes the kept reads hold. Under g_kept_mutex.
size_t kept_bytes() {
  size_t bytes = 0;
  for (const KEPT_READ& r : g_kept_reads) bytes += r.bytes;
  return bytes;
}

bool read_sdc_text(const std::string& text, const SSC_NETLIST_DATA& data,
                   std::shared_ptr<const kavu_platform::SSC_CONSTRAINTS>* read, std::string* error) {
  // The digest is made outside the lock (other threads' reads wait for no
  // walk of this netlist), and only where a kept read has the same text.
  kavu_platform::SSC_NETLIST_DIGEST digest;
  bool digested = false;
  {
    std::lock_guard<std::mutex> lock(g_kept_mutex);
    for (const KEPT_READ& r : g_kept_reads) digested = digested || r.text == text;
  }
  if (digested) {
    digest = kavu_platform::ssc_sdc_netlist_digest(data);
    std::lock_guard<std::mutex> lock(g_kept_mutex);
    for (size_t k = g_kept_reads.size(); k-- > 0;) {
      if (g_kept_reads[k].netlist != digest || g_kept_reads[k].text != text) continue;
      std::rotate(g_kept_reads.begin() + long(k), g_kept_reads.begin() + long(k) + 1, g_kept_reads.end());
      *read = g_kept_reads.back().constraints;
      kavu_platform::ssc_note_test_event(kavu_platform::SSC_TEST_READ_REUSED);
      return true;
    }
  }
  auto fresh = std::make_shared<kavu_platform::SSC_CONSTRAINTS>();
  *read = fresh;
  if (!kavu_platform::ssc_read_sdc(text, data, fresh.get(), error)) return false;
  const size_t bytes = text.capacity() + constraints_bytes(*fresh);
  if (bytes > kMaxKeptBytes) return true;
  try {  // a read that memory does not allow to keep is not kept
    if (!digested) digest = kavu_platform::ssc_sdc_netlist_digest(data);
    KEPT_READ kept{text, digest, *read, bytes};
    std::lock_guard<std::mutex> lock(g_kept_mutex);
    g_kept_reads.reserve(kKeptReads + 1);
    g_kept_reads.push_back(std::move(kept));
    while (g_kept_reads.size() > kKeptReads || kept_bytes() > kMaxKeptBytes) g_kept_reads.erase(g_kept_reads.begin());
    kavu_platform::ssc_note_test_event(kavu_platform::SSC_TEST_READ_KEPT);
  } catch (const std::bad_alloc&) {
  }
  return true;
}

// Every problem of the file reaches the user as a message naming the file
// and line ("SDC file "t.sdc", line 2: unknown clock clkk"), warnings before
// the error that ends the read; the debug trace keeps the same text. What
// the file's text and path put in a message is shown escaped and cut, so
// their bytes cannot drive the user's terminal. Memory the system refuses
// is an error of the read, never an exception.
bool read_constraints(const std::string& sdc, const SSC_NETLIST_DATA& data,
                      std::shared_ptr<const kavu_platform::SSC_CONSTRAINTS>* c) {
  try {
    const std::string where = "SDC file \"" + quoted_path(sdc) + "\"";
    std::string text, problem, error;
    if (!FIO_FILE_SYSTEM::read_regular_file(sdc, kMaxSdcFileBytes, &text, &problem)) {
      msg_post_message(MSG_POST_TYPE_ERROR, where + ": " + problem);
      msg_local_debug("SSC", 2, "%s: %s", where.c_str(), problem.c_str());
      return false;
    }
    const bool ok = read_sdc_text(text, data, c, &error);
    post_sdc_warnings(sdc, text, where, **c);
    if (!ok) {
      error = kavu_platform::msg_printable_text(error, kMaxSdcProblemBytes);
      msg_post_message(MSG_POST_TYPE_ERROR, where + ", " + error);
      msg_local_debug("SSC", 2, "%s, %s", where.c_str(), error.c_str());
    }
    return ok;
  } catch (const std::bad_alloc&) {
    c->reset();
    try {
      msg_post_message(MSG_POST_TYPE_ERROR, "SDC file \"" + quoted_path(sdc) + "\": not enough memory to read the file");
    } catch (const std::bad_alloc&) {
    }
    return false;
  }
}

}  // namespace

void ssc_forget_posted_warnings() {
  std::lock_guard<std::mutex> lock(g_posted_mutex);
  g_posted_warnings.clear();
}

void ssc_forget_kept_reads() {
  std::vector<KEPT_READ> dropped;
  std::lock_guard<std::mutex> lock(g_kept_mutex);
  dropped.swap(g_kept_reads);
}

size_t ssc_kept_read_bytes() {
  std::lock_guard<std::mutex> lock(g_kept_mutex);
  return kept_bytes();
}

namespace {

// The one warning of an analysis in which a time went past the 32-bit
// range: its slacks there are bounded by the range, not exact.
void post_saturated_time(const std::string& node) {
  msg_post_message(MSG_POST_TYPE_WARNING,
                   "Timing analysis: a time at timing node \"" +
                       kavu_platform::msg_printable_text(node, kMaxSdcProblemBytes, true) +
                       "\" is past the 32-bit range and saturates at +/-2147483646; slacks of paths through it "
                       "read as the range, not their exact figures");
}

}  // namespace

bool SSC_UTIL::run_analysis() {
  if (!is_in_use()) return false;
  SSC_NETLIST_DATA& data = *m_netlist->m_data;
  std::shared_ptr<const kavu_platform::SSC_CONSTRAINTS> c;
  const std::string sdc = cfg_get_value("ssc_sdc_file");
  if (!sdc.empty()) {
    if (!read_constraints(sdc, data, &c)) return false;
  } else {
    // A period of 0 or less would leave every path unconstrained; the bound
    // is that of a time in a constraints file.
    const int period = kavu_platform::cfg_get_int_value_in_range("ssc_default_period", 1000, 1, 1000000000);
    auto clocks = std::make_shared<kavu_platform::SSC_CONSTRAINTS>();
    kavu_platform::ssc_default_clocks(data, period, clocks.get());
    c = std::move(clocks);
  }
  const size_t rules = c->rules.size();
  m_analysis.reset();
  kavu_platform::ssc_note_analysis_run();
  try {
    auto a = std::make_unique<kavu_platform::SSC_ANALYSIS>();
    kavu_platform::ssc_analyze(data, std::move(c), a.get());
    data.cut_arcs = a->cut_arcs;
    if (a->saturated_node >= 0 && size_t(a->saturated_node) < data.nodes.size())
      post_saturated_time(data.nodes[size_t(a->saturated_node)].get_string_name());
    m_analysis = std::move(a);
  } catch (const std::bad_alloc&) {
    post_out_of_memory([&] {
      return "Timing analysis: not enough memory for the analysis of " + std::to_string(data.nodes.size()) +
             " timing nodes under " + std::to_string(rules) + " path rules; no slacks are computed";
    });
    return false;
  }
  return true;
}

bool SSC_UTIL::perform_timing_analysis(CDB_SGATE_NETLIST* netlist, SSC_ITERM_TIMING_INFO_MAP* map,
                                       SSC_ITERM_REQUIREMENT_INFO_MAP* requirements, bool use_relaxed_slack) {
  (void)netlist;
  if (!run_analysis()) return false;
  if (!map && !requirements) return true;
  try {
    fill_maps(map, requirements, use_relaxed_slack);
  } catch (const std::bad_alloc&) {
    post_out_of_memory([] { return std::string("Timing analysis: not enough memory to give the slacks of the analysis"); });
    return false;
  }
  return true;
}

namespace {

struct TERM_ROW {
  CDB_SGATE_ITERM* iterm;
  int32_t slack, req, relaxed;
};

// Rows in the order of their terminals' addresses (the order of the
// caller's map), the rows of one terminal in arc order: a least-significant
// digit radix sort over the address bits that differ, 11 bits a pass, O(n)
// a pass (some three passes), where a comparison sort took some twenty
// comparisons a row.
void sort_by_terminal(std::vector<TERM_ROW>* rows) {
  uintptr_t any = 0, all = ~uintptr_t(0);
  for (const TERM_ROW& r : *rows) {
    any |= reinterpret_cast<uintptr_t>(r.iterm);
    all &= reinterpret_cast<uintptr_t>(r.iterm);
  }
  const uintptr_t differ = any ^ all;
  if (differ == 0) return;
  constexpr int kBits = 11;
  constexpr uintptr_t kMask = (uintptr_t(1) << kBits) - 1;
  std::vector<TERM_ROW> other(rows->size());
  std::vector<uint32_t> start(kMask + 2);
  for (int shift = std::countr_zero(differ); shift <= 63 - std::countl_zero(differ); shift += kBits) {
    std::fill(start.begin(), start.end(), 0);
    for (const TERM_ROW& r : *rows) ++start[((reinterpret_cast<uintptr_t>(r.iterm) >> shift) & kMask) + 1];
    for (size_t d = 1; d < start.size(); ++d) start[d] += start[d - 1];
    for (const TERM_ROW& r : *rows) other[start[(reinterpret_cast<uintptr_t>(r.iterm) >> shift) & kMask]++] = r;
    rows->swap(other);
  }
}

}  // namespace

// A terminal takes the slack and requirement of its first arc of least
// slack and the least relaxed slack of its arcs. A driven terminal without
// an arc takes an unconstrained row, so that every driven input terminal
// of the built gates has its entry (unreached: 2147483647, ratio 1.0); the
// row never changes the entry of a terminal that has arcs.
void SSC_UTIL::fill_maps(SSC_ITERM_TIMING_INFO_MAP* map, SSC_ITERM_REQUIREMENT_INFO_MAP* requirements,
                         bool use_relaxed_slack) const {
  const SSC_NETLIST_DATA& data = *m_netlist->m_data;
  std::vector<TERM_ROW> rows;
  rows.reserve(data.arcs.size() + data.iterms_without_arcs.size());
  for (size_t k = 0; k < data.arcs.size(); ++k) {
    if (!data.arcs[k].m_iterm) continue;
    rows.push_back(TERM_ROW{data.arcs[k].m_iterm, m_analysis->arc_slack[k], m_analysis->arc_req[k], m_analysis->arc_relaxed[k]});
  }
  for (CDB_SGATE_ITERM* t : data.iterms_without_arcs)
    rows.push_back(TERM_ROW{t, SSC_UNCONSTRAINED_SLACK, SSC_UNCONSTRAINED_SLACK, SSC_UNCONSTRAINED_SLACK});
  sort_by_terminal(&rows);
  for (size_t i = 0, j = 0; i < rows.size(); i = j) {
    size_t least = i;
    int32_t relaxed = rows[i].relaxed;
    for (j = i + 1; j < rows.size() && rows[j].iterm == rows[i].iterm; ++j) {
      if (rows[j].slack < rows[least].slack) least = j;
      relaxed = std::min(relaxed, rows[j].relaxed);
    }
    const TERM_ROW& r = rows[least];
    SSC_ITERM_TIMING_INFO info;
    const bool constrained = r.slack != SSC_UNCONSTRAINED_SLACK;
    info.m_requirement = constrained ? r.req : SSC_UNCONSTRAINED_SLACK;
    info.m_relaxed_slack = relaxed;
    info.m_slack = use_relaxed_slack ? relaxed : r.slack;
    info.m_ratio = !constrained ? 1.0f : (r.req > 0 ? float(info.m_slack) / float(r.req) : 0.0f);
    if (map) map->insert_or_assign(map->end(), r.iterm, info);
    if (requirements) requirements->insert_or_assign(requirements->end(), r.iterm, SSC_ITERM_REQUIREMENT_INFO{info.m_requirement});
  }
}

bool SSC_UTIL::update_sta() { return run_analysis(); }

std::vector<std::string> SSC_UTIL::get_clock_names() const {
  std::vector<std::string> names;
  if (m_analysis)
    for (const auto& c : m_analysis->constraints().clocks) names.push_back(c.name);
  return names;
}

int SSC_UTIL::get_worst_slack(const char* clock) const {
  if (!m_analysis) return SSC_UNCONSTRAINED_SLACK;
  if (!clock) return m_analysis->worst_all;
  const auto& clocks = m_analysis->constraints().clocks;
  for (size_t k = 0; k < clocks.size(); ++k)
    if (clocks[k].name == clock) return m_analysis->worst_per_clock[k];
  return SSC_UNCONSTRAINED_SLACK;
}

int SSC_UTIL::get_worst_arrival() const { return m_analysis ? m_analysis->worst_arrival : -1; }

int SSC_UTIL::get_iterm_slack(const CDB_SGATE_ITERM* iterm) const {
  if (!m_analysis || !iterm) return SSC_UNCONSTRAINED_SLACK;
  const auto& arcs = m_netlist->m_data->arcs;
  int32_t best = SSC_UNCONSTRAINED_SLACK;
  for (size_t k = 0; k < arcs.size(); ++k)
    if (arcs[k].m_iterm == iterm) best = std::min(best, m_analysis->arc_slack[k]);
  return best;
}

std::string SSC_UTIL::report_timing(int npath) const {
  std::ostringstream out;
  if (!m_analysis) return "No timing analysis has run";
  const SSC_NETLIST_DATA& data = *m_netlist->m_data;
  std::vector<std::pair<int32_t, size_t>> ends;
  for (const TDB_NODE& n : data.nodes)
    for (uint32_t k = SSC_NETLIST_DATA::arc_begin(n); k < SSC_NETLIST_DATA::arc_end(n); ++k)
      if (data.arcs[k].m_kind == TDB_ARC_CAPTURE && m_analysis->arc_slack[k] != SSC_UNCONSTRAINED_SLACK)
        ends.push_back({m_analysis->arc_slack[k], k});
  std::sort(ends.begin(), ends.end());
  if (npath >= 0 && ends.size() > size_t(npath)) ends.resize(npath);
  std::vector<uint32_t> owner(data.arcs.size(), 0);
  for (const TDB_NODE& n : data.nodes)
    for (uint32_t k = SSC_NETLIST_DATA::arc_begin(n); k < SSC_NETLIST_DATA::arc_end(n); ++k) owner[k] = n.get_id();
  for (const auto& [slack, k] : ends)
    out << "slack " << slack << " requirement " << m_analysis->arc_req[k] << " from "
        << data.nodes[data.arcs[k].m_src].get_string_name() << " to " << data.nodes[owner[k]].get_string_name() << "\n";
  return out.str();
}

int SSC_UTIL::get_default_lut_delay() const {
  return kavu_platform::ssc_make_delays(m_facade, m_model).lut;
}

double SSC_UTIL::compute_average_lut_delay(CDB_SGATE_NETLIST* netlist) const {
  if (!netlist) return 0.0;
  const kavu_platform::SSC_DELAYS d = kavu_platform::ssc_make_delays(m_facade, m_model);
  double sum = 0.0;
  long count = 0;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    const CDB_SGATE_NODE* g = *it;
    if (!g) continue;
    const CDB_SGATE_WYSIWYG* w = g->cast_to_wysiwyg();
    if (g->get_sgate_type() != CDB_SGATE_LUT_ENUM && !(w && w->is_lcell_comb())) continue;
    sum += kavu_platform::ssc_gate_delay(g, g->get_output_term(0), d);
    ++count;
  }
  return count ? sum / double(count) : 0.0;
}

std::string SSC_UTIL::tcl_eval(const char* command) {
  std::string result;
  kavu_platform::atcl_eval(command ? command : "", &result);
  return result;
}

bool SSC_UTIL::run_script_if_allowed(const std::string& file) {
  if (!cfg_is_on("ssc_allow_scripts", true) || !file_exists(file)) return false;
  std::string result;
  // The file name is one word of the command, whatever characters it holds.
  const bool ok = kavu_platform::atcl_eval_words({"source", file}, &result);
  if (!ok) {
    // The user's script stopped at its error: say so, with Tcl's words; the
    // analysis it follows stands.
    const std::string text = "Script \"" + quoted_path(file) + "\" failed, the rest of it did not run: " +
                             kavu_platform::msg_printable_text(result, kMaxScriptErrorBytes);
    msg_post_message(MSG_POST_TYPE_WARNING, text);
    msg_local_debug("SSC", 2, "%s", text.c_str());
  }
  return ok;
}

void SSC_UTIL::dump_tdb_netlist(const char* name) {
  if (!is_in_use()) return;
  const std::string path = std::string("tdb_dump") + (name && *name ? std::string("_") + name : "") + ".txt";
  // A debug dump in the working directory, which others may share: written
  // as a file of the user's own, and left unwritten, with a warning naming
  // it, where it cannot be.
  std::string problem;
  FILE* out = FIO_FILE_SYSTEM::fopen_own_file(path, &problem);
  if (out) {
    const SSC_NETLIST_DATA& data = *m_netlist->m_data;
    for (const TDB_NODE& n : data.nodes) {
      std::fprintf(out, "%u %s kind %d", n.get_id(), n.get_string_name().c_str(), int(n.get_kind()));
      if (n.get_clock_source() >= 0)
        std::fprintf(out, " clock %d%s", n.get_clock_source(), n.clock_is_inverted() ? " inverted" : "");
      std::fputc('\n', out);
      for (uint32_t k = SSC_NETLIST_DATA::arc_begin(n); k < SSC_NETLIST_DATA::arc_end(n); ++k) {
        std::fprintf(out, "  <- %u delay %d kind %d", unsigned(data.arcs[k].m_src), int(data.arcs[k].m_delay),
                     int(data.arcs[k].m_kind));
        if (m_analysis) std::fprintf(out, " slack %d", int(m_analysis->arc_slack[k]));
        std::fputc('\n', out);
      }
    }
    if (std::fclose(out) == 0) return;
    problem = std::string("cannot write the file: ") + std::strerror(errno);
  }
  msg_post_message(MSG_POST_TYPE_WARNING, "The file \"" + quoted_path(fio_get_unc_full_path(path)) +
                                              "\" is not written: " + problem);
}

CDB_SGATE_OTERM* SSC_UTIL::get_sgate_oterm_from_tdb_node(TDB_NODE* node) const {
  return node ? node->get_oterm() : nullptr;
}

// ---------------------------------------------------------------- Tcl commands

namespace {

int set_int_result(Tcl_Interp* interp, int v) {
  Tcl_SetObjResult(interp, Tcl_NewIntObj(v));
  return TCL_OK;
}

SSC_UTIL* engine_for(Tcl_Interp* interp) {
  SSC_UTIL* u = ssc_get_util();
  if (!u || !u->is_in_use()) {
    Tcl_SetResult(interp, const_cast<char*>("no timing netlist"), TCL_STATIC);
    return nullptr;
  }
  return u;
}

// Reads the words after the command as "-option value" pairs of the given
// options (values[i] for options[i], null when absent). Any other word, an
// unknown option ("-clok") or a stray argument, is a Tcl error naming the
// options the command takes, so a typing mistake never answers for a
// default; so is an option given as the last word.
bool parse_options(Tcl_Interp* interp, int objc, Tcl_Obj* const objv[], std::initializer_list<const char*> options,
                   Tcl_Obj** values) {
  std::string usage;
  for (const char* o : options) usage += std::string(usage.empty() ? "" : ", ") + o;
  for (size_t k = 0; k < options.size(); ++k) values[k] = nullptr;
  for (int i = 1; i < objc; ++i) {
    const std::string word = Tcl_GetString(objv[i]);
    size_t k = 0;
    for (const char* o : options) {
      if (word == o) break;
      ++k;
    }
    if (k == options.size()) {
      const bool option = !word.empty() && word[0] == '-';
      Tcl_SetObjResult(interp, Tcl_ObjPrintf("%s: %s \"%s\"; the options are %s", Tcl_GetString(objv[0]),
                                             option ? "unknown option" : "unexpected argument", word.c_str(),
                                             usage.c_str()));
      return false;
    }
    if (i + 1 == objc) {
      Tcl_SetObjResult(interp, Tcl_ObjPrintf("missing value for %s", word.c_str()));
      return false;
    }
    values[k] = objv[++i];
  }
  return true;
}

// report_timing [-npath n]: n paths, 1 when not given, all when negative.
int cmd_report_timing(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) {
  SSC_UTIL* u = engine_for(interp);
  if (!u) return TCL_ERROR;
  Tcl_Obj* value = nullptr;
  int npath = 1;
  if (!parse_options(interp, objc, objv, {"-npath"}, &value)) return TCL_ERROR;
  if (value && Tcl_GetIntFromObj(interp, value, &npath) != TCL_OK) return TCL_ERROR;
  const std::string text = u->report_timing(npath);
  Tcl_SetObjResult(interp, Tcl_NewStringObj(text.c_str(), int(text.size())));
  return TCL_OK;
}

// get_worst_slack [-clock name]: over all clocks, or of a clock the
// constraints define.
int cmd_get_worst_slack(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) {
  SSC_UTIL* u = engine_for(interp);
  if (!u) return TCL_ERROR;
  Tcl_Obj* value = nullptr;
  if (!parse_options(interp, objc, objv, {"-clock"}, &value)) return TCL_ERROR;
  const char* clock = value ? Tcl_GetString(value) : nullptr;
  if (clock) {
    const std::vector<std::string> names = u->get_clock_names();
    if (std::find(names.begin(), names.end(), clock) == names.end()) {
      Tcl_SetObjResult(interp, Tcl_ObjPrintf("no clock named \"%s\"", clock));
      return TCL_ERROR;
    }
  }
  return set_int_result(interp, u->get_worst_slack(clock));
}

// get_iterm_slack <gate path> <input index>
int cmd_get_iterm_slack(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) {
  SSC_UTIL* u = engine_for(interp);
  if (!u) return TCL_ERROR;
  int index = 0;
  if (objc != 3 || Tcl_GetIntFromObj(interp, objv[2], &index) != TCL_OK) {
    Tcl_SetResult(interp, const_cast<char*>("usage: get_iterm_slack gate_path input_index"), TCL_STATIC);
    return TCL_ERROR;
  }
  const std::string path = Tcl_GetString(objv[1]);
  TDB_NETLIST* nl = u->get_tdb_netlist();
  for (unsigned id = 0; id < nl->get_node_count(); ++id) {
    const CDB_SGATE_NODE* g = nl->get_node(id)->get_sgate();
    if (g && SSC_NETLIST_DATA::gate_path_of(nl->get_node(id)->get_string_name()) == path)
      return set_int_result(interp, u->get_iterm_slack(g->get_input_term(unsigned(index))));
  }
  Tcl_SetResult(interp, const_cast<char*>("no such gate"), TCL_STATIC);
  return TCL_ERROR;
}

void register_commands(Tcl_Interp* interp) {
  Tcl_CreateObjCommand(interp, "report_timing", cmd_report_timing, nullptr, nullptr);
  Tcl_CreateObjCommand(interp, "report_path", cmd_report_timing, nullptr, nullptr);
  Tcl_CreateObjCommand(interp, "get_worst_slack", cmd_get_worst_slack, nullptr, nullptr);
  Tcl_CreateObjCommand(interp, "get_iterm_slack", cmd_get_iterm_slack, nullptr, nullptr);
}

}  // namespace

void SSC_UTIL::register_tcl_commands() { kavu_platform::atcl_add_command_registrar(&register_commands); }

// ---------------------------------------------------------------- singletons

SSC_UTIL* ssc_get_util() {
  if (g_util_missing) return nullptr;
  if (!g_util) g_util = new SSC_UTIL;
  return g_util;
}

bool ssc_check_delay_model_validity(CMP_FACADE* facade, SSC_DELAY_MODEL model) {
  if (model == SSC_DELAY_MODEL_UNIT || model == SSC_DELAY_MODEL_UNIT_FANOUT) return true;
  if (model != SSC_DELAY_MODEL_TABLE || !facade) return false;
  const DEV_FAMILY_ENUM f = facade->get_family();
  return f != DEV_FAMILY_UNKNOWN && f != DEV_FAMILY_NONE && DEV_FAMILY_MANAGER::family_exists(f);
}

TDB_MANAGER* TDB_MANAGER::get() {
  static TDB_MANAGER manager;
  return &manager;
}

TDB_NETLIST* TDB_MANAGER::get_tdb_netlist() const {
  SSC_UTIL* u = ssc_get_util();
  return u ? u->get_tdb_netlist() : nullptr;
}

bool TDB_MANAGER::sgate_sta_netlist_on_disk(std::string* partition_name) const {
  const std::string file = tdb_file(partition_name);
  kavu_platform::SSC_NETLIST_STAMP stamp;
  return file_exists(file) && !is_unwritten(file) && SSC_NETLIST_DATA::read_file_head(file, &stamp) && stamp.known &&
         (!partition_name || descends_from_stored_generic(stamp.from_generic, stamp.generic));
}

int TDB_MANAGER::sgate_sta_netlist_version(std::string* partition_name) const {
  const std::string file = tdb_file(partition_name);
  kavu_platform::SSC_NETLIST_STAMP stamp;
  if (!file_exists(file) || is_unwritten(file)) return 0;
  SSC_NETLIST_DATA::read_file_head(file, &stamp);
  return int(stamp.version);
}

// ---------------------------------------------------------------- synchronizers

TDC_ACCESSORIES* tdc_get_accessories() {
  static TDC_ACCESSORIES accessories;
  return &accessories;
}

std::vector<TDC_SYNCHRONIZER_ENTRY>* TDC_ACCESSORIES::get_synchronizer_list(bool) {
  SSC_UTIL* u = ssc_get_util();
  if (!u || !u->is_in_use()) return nullptr;
  const kavu_platform::SSC_CONSTRAINTS* c = nullptr;
  if (u->m_analysis || u->run_analysis()) c = &u->m_analysis->constraints();
  // Owned here until it is whole: memory refused on the way leaks nothing.
  auto list = std::make_unique<std::vector<TDC_SYNCHRONIZER_ENTRY>>();
  kavu_platform::ssc_synchronizer_list(*u->m_netlist->m_data, c, false, list.get());
  return list.release();
}

namespace kavu_platform {

void ssc_synchronizer_list(const SSC_NETLIST_DATA& data, const SSC_CONSTRAINTS* c, bool outside_own_domain,
                           std::vector<TDC_SYNCHRONIZER_ENTRY>* list) {
  list->clear();
  const uint32_t n = uint32_t(data.nodes.size());
  // The domains are the clocks of the constraints (of the last analysis; one
  // runs when none has): a register is in the domain of the clock the
  // analysis gives it (ssc_register_clocks: a gated register's is the clock
  // that reaches it), an input port in that of the one clock its input
  // delays name. Without readable constraints, or for a register the
  // constraints leave without a clock, a register is in the domain of its
  // traced clock source. An input port without a delay, or with delays on
  // several clocks, is a domain of its own; a gate output is in the single
  // domain of its inputs.
  const int64_t nclocks = c ? int64_t(c->clocks.size()) : 0;
  constexpr int64_t NO_DOMAIN = -1, SEVERAL = -2, PORT_DOMAIN = -3;
  std::vector<uint32_t> order, pos;
  ssc_topological_order(data, &order, &pos);
  std::vector<int64_t> domain(n, NO_DOMAIN);
  auto combine = [](int64_t a, int64_t b) {
    if (a == NO_DOMAIN) return b;
    if (b == NO_DOMAIN || a == b) return a;
    return SEVERAL;
  };
  SSC_REGISTER_CLOCKS clocks;
  if (c) {
    ssc_register_clocks(data, c->clocks, &clocks);
    for (const SSC_SDC_IO_DELAY& d : c->io_delays) {
      if (!d.input) continue;
      for (uint32_t v : d.nodes)
        if (v < n && data.nodes[v].get_kind() == TDB_NODE_IN_PORT)
          domain[v] = d.clock < 0 ? PORT_DOMAIN : combine(domain[v], d.clock);
    }
  }
  for (uint32_t v = 0; v < n; ++v) {
    const TDB_NODE& node = data.nodes[v];
    if (node.get_kind() == TDB_NODE_REGISTER) {
      if (c && clocks.clock[v] >= 0) domain[v] = clocks.clock[v];
      else domain[v] = node.get_clock_source() >= 0 ? nclocks + node.get_clock_source() : NO_DOMAIN;
    } else if (node.get_kind() == TDB_NODE_IN_PORT && (domain[v] == NO_DOMAIN || domain[v] == SEVERAL)) {
      domain[v] = PORT_DOMAIN;
    }
  }
  // With outside_own_domain, what comes from outside the built netlists
  // (a cut input boundary without its driver, an input whose source lies
  // in another gate netlist) is a domain of its own, as an input port
  // without a delay: 1 marks a node fed by data from outside, 2 a register
  // that captures from outside, 4 a cut input boundary. A register whose
  // clock traces back into another gate netlist is in the domain of that
  // source, by its name (after every clock and traced source here).
  std::vector<char> outside;
  if (outside_own_domain) {
    outside.assign(n, 0);
    for (uint32_t v : data.stitch_nodes)
      if (v < n) outside[v] |= 4;
    for (const SSC_NETLIST_DATA::OUTSIDE_ARC& a : data.outside_arcs)
      if (a.node < n) outside[a.node] |= a.arc.m_kind == TDB_ARC_DATA ? 1 : a.arc.m_kind == TDB_ARC_CAPTURE ? 2 : 0;
    std::unordered_map<std::string_view, int64_t> sources;  // outside clock sources, by first sight
    for (const SSC_NETLIST_DATA::OUTSIDE_CLOCK& oc : data.outside_clocks) {
      if (oc.node >= n || data.nodes[oc.node].get_kind() != TDB_NODE_REGISTER || domain[oc.node] != NO_DOMAIN) continue;
      const int64_t k = sources.emplace(oc.source, int64_t(sources.size())).first->second;
      domain[oc.node] = nclocks + int64_t(n) + k;
    }
  }
  auto from_outside = [&outside](uint32_t v, char what) { return !outside.empty() && (outside[v] & what) != 0; };
  for (uint32_t v : order) {
    const TDB_NODE& node = data.nodes[v];
    if (node.get_kind() != TDB_NODE_COMB) continue;
    if (from_outside(v, 4)) {
      domain[v] = PORT_DOMAIN;
      continue;
    }
    int64_t d = from_outside(v, 1) ? PORT_DOMAIN : NO_DOMAIN;
    for (uint32_t k = SSC_NETLIST_DATA::arc_begin(node); k < SSC_NETLIST_DATA::arc_end(node); ++k)
      if (data.arcs[k].m_kind == TDB_ARC_DATA && pos[data.arcs[k].m_src] < pos[v]) d = combine(d, domain[data.arcs[k].m_src]);
    domain[v] = d;
  }
  // Fan-out of register nodes: the nodes whose arcs read them.
  std::vector<std::vector<uint32_t>> readers(n);
  for (uint32_t v = 0; v < n; ++v) {
    const TDB_NODE& node = data.nodes[v];
    for (uint32_t k = SSC_NETLIST_DATA::arc_begin(node); k < SSC_NETLIST_DATA::arc_end(node); ++k) {
      const uint32_t s = data.arcs[k].m_src;
      if (data.nodes[s].get_kind() == TDB_NODE_REGISTER) readers[s].push_back(v);
    }
  }
  auto first_node = [&](uint32_t v) {  // the capture node of a register gate
    const CDB_SGATE_NODE* g = data.nodes[v].get_sgate();
    while (v > 0 && g && data.nodes[v - 1].get_sgate() == g) --v;
    return v;
  };
  std::vector<char> taken(n, 0);
  for (uint32_t v = 0; v < n; ++v) {
    const TDB_NODE& node = data.nodes[v];
    if (node.get_kind() != TDB_NODE_REGISTER || domain[v] < 0 || taken[v]) continue;
    if (SSC_NETLIST_DATA::arc_begin(node) == SSC_NETLIST_DATA::arc_end(node) && !from_outside(v, 2)) continue;
    int64_t in = from_outside(v, 2) ? PORT_DOMAIN : NO_DOMAIN;
    for (uint32_t k = SSC_NETLIST_DATA::arc_begin(node); k < SSC_NETLIST_DATA::arc_end(node); ++k)
      if (data.arcs[k].m_kind == TDB_ARC_CAPTURE) in = combine(in, domain[data.arcs[k].m_src]);
    if (in == NO_DOMAIN || in == domain[v]) continue;
    int limit = 3;
    if (const CDB_SGATE_NODE* g = node.get_sgate())
      if (auto* opt = HDB_DERIVED_OPTION<4, 0>::get_single_option(g->get_instance_name(), 533, true)) limit = opt->get_value();
    uint32_t cur = v;
    taken[cur] = 1;
    list->push_back(TDC_SYNCHRONIZER_ENTRY{cur, true});
    for (int len = 1; len < limit; ++len) {
      // The only reader of the current register's outputs, a register of
      // the same domain.
      int next = -1;
      bool single = true;
      const CDB_SGATE_NODE* sg = data.nodes[cur].get_sgate();
      for (uint32_t out = cur; out < n; ++out) {
        if (out != cur && (!sg || data.nodes[out].get_sgate() != sg)) break;
        for (uint32_t r : readers[out]) {
          const uint32_t head = first_node(r);
          if (next >= 0 && uint32_t(next) != head) single = false;
          next = int(head);
        }
      }
      if (!single || next < 0) break;
      const TDB_NODE& nn = data.nodes[next];
      if (nn.get_kind() != TDB_NODE_REGISTER || domain[next] != domain[v] || taken[next]) break;
      cur = uint32_t(next);
      taken[cur] = 1;
      list->push_back(TDC_SYNCHRONIZER_ENTRY{cur, false});
    }
  }
}

void ssc_set_util_missing(bool missing) { g_util_missing = missing; }

void ssc_test_reset() {
  g_util_missing = false;
  {
    std::lock_guard<std::mutex> lock(g_unwritten_mutex);
    g_unwritten.clear();
    g_stored_generics.clear();
  }
  if (g_util) g_util->delete_netlist();
}

}  // namespace kavu_platform
