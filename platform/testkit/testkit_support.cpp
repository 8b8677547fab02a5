// testkit_support.cpp — assertions, capture, scoped configuration, netlist
// tracking, committed circuits and builders of the test kit.
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>

#include "cfg/cfg.h"
#include "hdb/hdb.h"
#include "netlist_io/abc_oracle.h"
#include "netlist_io/simulator.h"
#include "testkit/platform_testkit.h"

namespace kavu_platform {

bool run_within_address_space(uint64_t budget, const std::function<bool()>& fn) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    unsigned long pages = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
      if (std::fscanf(f, "%lu", &pages) != 1) pages = 0;
      std::fclose(f);
    }
    const rlim_t limit = rlim_t(pages) * rlim_t(::sysconf(_SC_PAGESIZE)) + rlim_t(budget);
    const rlimit lim{limit, limit};
    ::setrlimit(RLIMIT_AS, &lim);
    try {
      std::_Exit(fn() ? 0 : 1);
    } catch (...) {  // the child never returns into the test
      std::_Exit(2);
    }
  }
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string run_in_child_as(unsigned uid, const std::string& dir, const std::function<std::string()>& fn) {
  int answer[2];
  if (::pipe(answer) != 0) return "no pipe";
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(answer[0]);
    std::string told;
    if (!dir.empty() && ::chdir(dir.c_str()) != 0) {
      told = "cannot enter the directory";
    } else if (uid != 0 && (::setgroups(0, nullptr) != 0 || ::setgid(gid_t(uid)) != 0 || ::setuid(uid_t(uid)) != 0)) {
      told = "cannot become the user";
    } else {
      try {
        told = fn();
      } catch (const std::exception& e) {  // the child never returns into the test
        told = std::string("ended by ") + e.what();
      } catch (...) {
        told = "ended by an exception";
      }
    }
    (void)!::write(answer[1], told.data(), told.size());
    std::_Exit(0);
  }
  ::close(answer[1]);
  std::string told;
  char buffer[4096];
  for (ssize_t n; (n = ::read(answer[0], buffer, sizeof buffer)) > 0;) told.append(buffer, size_t(n));
  ::close(answer[0]);
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child) return "died";
  return WIFEXITED(status) && !told.empty() ? told : "died";
}

SCRATCH_REACHED_BY_ALL::SCRATCH_REACHED_BY_ALL() {
  namespace fs = std::filesystem;
  std::error_code ec;
  for (const fs::path& d : {fs::current_path(ec).parent_path(), fs::current_path(ec)}) {
    struct stat st;
    if (::stat(d.c_str(), &st) != 0) continue;
    m_saved.emplace_back(d.string(), unsigned(st.st_mode & 07777));
    ::chmod(d.c_str(), (st.st_mode & 07777) | S_IXOTH);
  }
}

SCRATCH_REACHED_BY_ALL::~SCRATCH_REACHED_BY_ALL() {
  for (const auto& [dir, mode] : m_saved) ::chmod(dir.c_str(), mode_t(mode));
}

std::string testkit_full_device() {
  if (::geteuid() != 0) return "/dev/full";
  struct stat st;
  if (::stat("full", &st) == 0 && S_ISCHR(st.st_mode)) return "full";
  return ::mknod("full", S_IFCHR | 0666, ::makedev(1, 7)) == 0 ? "full" : "";
}

bool text_contains_words(const std::string& text, const std::string& words) {
  std::istringstream in(words);
  std::string w;
  while (in >> w) {
    if (text.find(w) == std::string::npos) return false;
  }
  return true;
}

::testing::AssertionResult netlists_equivalent(const CDB_SGATE_NETLIST* a, const CDB_SGATE_NETLIST* b) {
  if (!a || !b) return ::testing::AssertionFailure() << "null netlist";
  std::string why;
  if (!sim_equivalent(a, b, SIM_COMPARE{}, &why))
    return ::testing::AssertionFailure() << "simulation differs: " << why;
  std::string log;
  switch (abc_equivalent(a, b, &log)) {
    case EQUIVALENT:
      return ::testing::AssertionSuccess();
    case UNAVAILABLE:
      std::cout << "[ note     ] berkeley-abc check skipped: " << log << "\n";
      return ::testing::AssertionSuccess();
    case DIFFERENT:
      return ::testing::AssertionFailure() << "berkeley-abc finds the netlists different:\n" << log;
    case ERROR:
      break;
  }
  return ::testing::AssertionFailure() << "berkeley-abc output not understood:\n" << log;
}

NETLIST_TRACKER::~NETLIST_TRACKER() {
  if (!m_netlist) return;
  std::string report;
  try {
    if (!m_netlist->check(&report))
      ADD_FAILURE_AT(m_file, m_line) << "netlist invariant broken: " << report;
  } catch (const test_internal_error& e) {
    ADD_FAILURE_AT(m_file, m_line) << "internal error while checking the netlist: " << e.what();
  }
}

bool DEBUG_CAPTURE::contains(const std::string& text) const {
  for (const std::string& line : lines()) {
    if (line.find(text) != std::string::npos) return true;
  }
  return false;
}

CFG_SCOPE::CFG_SCOPE(std::initializer_list<std::pair<const char*, const char*>> values) {
  for (const auto& [key, value] : values) {
    SAVED s{key, false, {}};
    s.was_set = cfg_get_code_value(key, &s.value);
    m_saved.push_back(s);
    cfg_set_value(key, value);  // null unsets
  }
}

CFG_SCOPE::~CFG_SCOPE() {
  for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
    if (it->was_set) {
      cfg_set_value(it->key.c_str(), it->value.c_str());
    } else {
      cfg_unset_value(it->key.c_str());
    }
  }
}

// ---------------------------------------------------------------- circuits

void LOADED_NETLIST_DELETER::operator()(CDB_SGATE_NETLIST* netlist) const {
  delete netlist;
  delete hierarchy;
}

std::string blif_data_path(const std::string& name) {
  namespace fs = std::filesystem;
  std::string file = name;
  if (file.size() < 5 || file.compare(file.size() - 5, 5, ".blif") != 0) file += ".blif";
  const std::string root = KAVU_TEST_DATA_DIR "/blif/";
  for (const char* sub : {"", "small/", "seq/", "mcnc/", "epfl/"}) {
    std::error_code ec;
    std::string path = root + sub + file;
    if (fs::is_regular_file(path, ec)) return path;
  }
  return std::string();
}

LOADED_NETLIST load_blif(const std::string& name, const BLIF_READ_OPTIONS& options) {
  std::string path = blif_data_path(name);
  if (path.empty()) throw std::runtime_error("no committed circuit \"" + name + "\"");
  BLIF_RESULT r = blif_read_file(path, options);
  if (!r.netlist) throw std::runtime_error("cannot read " + path + ": " + r.error);
  return LOADED_NETLIST(r.netlist, LOADED_NETLIST_DELETER{r.hierarchy});
}

std::vector<std::string> bundled_circuits(const std::vector<std::string>& folders) {
  namespace fs = std::filesystem;
  const fs::path root = KAVU_TEST_DATA_DIR "/blif";
  std::vector<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.path().extension() != ".blif") continue;
    const std::string folder = entry.path().parent_path().filename().string();
    if (!folders.empty() && std::find(folders.begin(), folders.end(), folder) == folders.end()) continue;
    names.push_back(folder + "/" + entry.path().stem().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// ---------------------------------------------------------------- builders

namespace {

CDB_SGATE_OTERM* out_of(CDB_SGATE_NODE* gate) { return gate ? gate->get_single_oterm() : nullptr; }

// Drives `t` from `src`'s output, or ties it to VCC when src is null.
void drive(CDB_SGATE_ITERM* t, CDB_SGATE_NODE* src) {
  if (src) {
    t->set_source(out_of(src));
  } else {
    t->set_vcc();
  }
}

CDB_SGATE_NODE* add_comb(CDB_SGATE_NETLIST* netlist, CDB_COMB_TYPE type,
                         std::initializer_list<CDB_SGATE_NODE*> inputs) {
  PLAT_CHECK(netlist != nullptr, "PLATFORM");
  CDB_SGATE_COMB* g = new CDB_SGATE_COMB(nullptr, type);
  for (CDB_SGATE_NODE* in : inputs) g->add_unordered_fanin_from_oterm(nullptr, false, out_of(in));
  netlist->add_node(g);
  return g;
}

CDB_SGATE_ITERM* place_input(CDB_SGATE_NODE* gate, unsigned pos) {
  CDB_SGATE_ITERM* t = gate->create_input_term(nullptr);
  gate->set_input_term(t, pos);
  return t;
}

void name_pin(CDB_SGATE_NODE* pin, const char* name) {
  if (!name || !*name) return;
  HDB_INSTANCE_NAME* top = HDB_INSTANCE_NAME::create_normal_name(nullptr, "top", nullptr, nullptr, nullptr);
  HDB_INSTANCE_NAME* n = HDB_INSTANCE_NAME::create_normal_name(nullptr, name, nullptr, nullptr, top);
  pin->set_instance_name(n);
  out_of(pin)->set_instance_name(n);
}

}  // namespace

CDB_SGATE_NODE* make_input_pin(CDB_SGATE_NETLIST* netlist, const char* name) {
  PLAT_CHECK(netlist != nullptr, "PLATFORM");
  CDB_SGATE_IO* pin = new CDB_SGATE_IO(nullptr, CDB_IO_INPUT);
  name_pin(pin, name);
  netlist->add_node(pin);
  return pin;
}

CDB_SGATE_NODE* make_output_pin(CDB_SGATE_NETLIST* netlist, const char* name, CDB_SGATE_NODE* src,
                                bool inverted) {
  PLAT_CHECK(netlist != nullptr, "PLATFORM");
  CDB_SGATE_IO* pin = new CDB_SGATE_IO(nullptr, CDB_IO_OUTPUT);
  name_pin(pin, name);
  CDB_SGATE_ITERM* t = pin->get_input_term(0);
  drive(t, src);
  if (inverted) t->invert();
  netlist->add_node(pin);
  return pin;
}

CDB_SGATE_NODE* make_and(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* a, CDB_SGATE_NODE* b) {
  return add_comb(netlist, CDB_COMB_AND, {a, b});
}

CDB_SGATE_NODE* make_or(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* a, CDB_SGATE_NODE* b) {
  return add_comb(netlist, CDB_COMB_OR, {a, b});
}

CDB_SGATE_NODE* make_xor(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* a, CDB_SGATE_NODE* b) {
  return add_comb(netlist, CDB_COMB_XOR, {a, b});
}

CDB_SGATE_BUFFER* make_buffer(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* src, CDB_BUFFER_TYPE type) {
  auto* buffer = new CDB_SGATE_BUFFER(nullptr, type, true);
  buffer->set_input_term(buffer->create_input_term(nullptr), 0);
  if (src) out_of(src)->insert_fanout(buffer->get_single_iterm());
  netlist->add_node(buffer);
  return buffer;
}

CDB_SGATE_NODE* make_not(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* a) {
  return add_comb(netlist, CDB_COMB_NOT, {a});
}

CDB_SGATE_NODE* make_mux(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* d0, CDB_SGATE_NODE* d1,
                         CDB_SGATE_NODE* select) {
  PLAT_CHECK(netlist != nullptr, "PLATFORM");
  CDB_SGATE_MUX* g = new CDB_SGATE_MUX(nullptr);
  drive(place_input(g, 0), d0);
  drive(place_input(g, 1), d1);
  drive(place_input(g, 2), select);
  netlist->add_node(g);
  return g;
}

CDB_SGATE_NODE* make_lut(CDB_SGATE_NETLIST* netlist, const std::vector<CDB_SGATE_NODE*>& inputs,
                         uint64_t mask) {
  PLAT_CHECK(netlist != nullptr && inputs.size() <= 6, "PLATFORM");
  CDB_LUTMASK m;
  m.set_value(static_cast<unsigned>(inputs.size()), mask);
  CDB_SGATE_LUT* g = new CDB_SGATE_LUT(nullptr, m);
  for (unsigned i = 0; i < inputs.size(); ++i) {
    CDB_SGATE_ITERM* t = place_input(g, i);
    t->set_port_type(static_cast<DB_INPUT_PORT_TYPE>(12 + i));
    drive(t, inputs[i]);
  }
  netlist->add_node(g);
  return g;
}

CDB_SGATE_NODE* make_dff(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* d, CDB_SGATE_NODE* clk) {
  PLAT_CHECK(netlist != nullptr, "PLATFORM");
  CDB_SGATE_DFF* g = new CDB_SGATE_DFF(nullptr);
  g->create_all_inputs();
  drive(g->get_input_term(CDB_DFF_DATA), d);
  if (clk) g->get_input_term(CDB_DFF_CLK)->set_source(out_of(clk));
  netlist->add_node(g);
  return g;
}

long testkit_tasks_of_user(unsigned uid) {
  long total = 0;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
    if (std::atoi(entry.path().filename().c_str()) <= 0) continue;
    std::ifstream status(entry.path() / "status");
    std::string key;
    long real_uid = -1, threads = 0;
    while (status >> key) {
      if (key == "Uid:") status >> real_uid;
      else if (key == "Threads:") status >> threads;
    }
    if (real_uid == long(uid)) total += threads;
  }
  return total;
}

TESTKIT_LIVE_PROCESS::TESTKIT_LIVE_PROCESS(const std::function<void()>& make) {
  int ready[2], hold[2];
  if (pipe(ready) != 0) return;
  if (pipe(hold) != 0) {
    close(ready[0]);
    close(ready[1]);
    return;
  }
  pid = fork();
  if (pid == 0) {
    close(ready[0]);
    close(hold[1]);
    make();
    (void)!write(ready[1], "r", 1);
    char byte;
    (void)!read(hold[0], &byte, 1);
    _exit(0);
  }
  close(ready[1]);
  close(hold[0]);
  char byte;
  if (pid > 0) (void)!read(ready[0], &byte, 1);
  close(ready[0]);
  m_go = hold[1];
}

TESTKIT_LIVE_PROCESS::~TESTKIT_LIVE_PROCESS() {
  if (m_go >= 0) close(m_go);
  if (pid > 0) waitpid(pid, nullptr, 0);
}

TESTKIT_PROCESS_LIMIT_ROWS::TESTKIT_PROCESS_LIMIT_ROWS()
    : m_fd(open("/tmp/kavu_process_limit_rows.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
  if (m_fd >= 0) flock(m_fd, LOCK_EX);
}

TESTKIT_PROCESS_LIMIT_ROWS::~TESTKIT_PROCESS_LIMIT_ROWS() {
  if (m_fd >= 0) close(m_fd);
}

bool testkit_set_acl(const std::string& dir, uint16_t tag, uint16_t perm, uint32_t id, uint16_t mask) {
  struct ACL_ENTRY {
    uint16_t tag, perm;
    uint32_t id;
  };
  const uint32_t version = 2;
  const ACL_ENTRY acl[] = {{1, 7, ~0u}, {tag, perm, id}, {4, 5, ~0u}, {0x10, mask, ~0u}, {0x20, 5, ~0u}};
  ACL_ENTRY sorted[5];
  // Entries go by tag: a named group after the owning group.
  if (tag == 8) {
    const ACL_ENTRY order[] = {acl[0], acl[2], acl[1], acl[3], acl[4]};
    std::copy(std::begin(order), std::end(order), sorted);
  } else {
    std::copy(std::begin(acl), std::end(acl), sorted);
  }
  std::string blob(reinterpret_cast<const char*>(&version), 4);
  blob.append(reinterpret_cast<const char*>(sorted), sizeof sorted);
  return setxattr(dir.c_str(), "system.posix_acl_access", blob.data(), blob.size(), 0) == 0;
}

}  // namespace kavu_platform
