// kavu_name.cpp — names for the gates and output terminals synthesis makes:
// the two naming modes, the unique-name util and the deferred naming pass.
//
// Model:
// - Mode 0 creates a fresh synthesized child of the base at once
//   (create_synthesized_name(base, ext, unique)); mode 1 only records the
//   base as the terminal's synthesized-from name and sets its
//   synthesized-name mark. One dispatcher serves every naming call, so the
//   two modes cannot drift apart.
// - The deferred pass (kavu_create_real_names_from_syn_ids) walks the node
//   list in order and names each marked terminal from its synthesized-from
//   name; device-atom outputs get their port text as extension, numbered by
//   one KAVU_UNIQUE_SYNTH_NAMES_UTIL per pass.
// - The unique-name util keys (base for children, extension) to the next
//   number to try; numbers only grow, so one util never returns a numbered
//   name twice.
// Invariants: no name is created while the database reports parallel
//   synthesis; a terminal named by the deferred pass loses its mark, and its
//   gate loses its temporary-name mark when the terminal is its preferred
//   output.
// Cost: one name-tree lookup per name (O(log children)); the deferred pass is
//   linear in terminals plus the names it creates; the numbered search of the
//   util is bounded by the children of its base.
#include "kavu_name.h"

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstring>
#include <map>

#include "cfg/cfg.h"
#include "cmp/cmp.h"
#include "cut/cut.h"
#include "gen/gen.h"
#include "kavu_check.h"
#include "kavu_msg.h"

namespace {

const char* const PARALLEL_NAMING_ERROR = "Can't create new names in parallel";
constexpr DB_OUTPUT_PORT_TYPE UNTYPED_OUTPUT = DB_MAX_OUTPUT_PORT_TYPE;  // 29200
// A string name "<path>_<text>" is built only while shorter than this.
constexpr size_t STRING_NAME_LIMIT = 255;
// The source-component primitive that string names are created with.
constexpr int STRING_NAME_PRIMITIVE = 88;
// The last number the unique-name search may try.
constexpr int LAST_UNIQUE_NAME_NUMBER = INT_MAX;

enum NAMING_MODE { NAMING_DEFAULT = 0, NAMING_SYN_IDS = 1 };

int g_naming_mode = NAMING_DEFAULT;
KAVU_ATTACH_OPTIONS_FUNCTOR* g_attach_options = nullptr;

// Switches read once per process (on first use) into one function static.
struct NAME_SWITCHES {
  bool m_sanity_check_duplicates = false;
  bool m_port_names_for_wysiwygs = true;
  bool m_port_names_for_lcell_combs = false;

  void read() {
    m_sanity_check_duplicates = cfg_is_on("kavu_sanity_check_duplicate_names", false);
    m_port_names_for_wysiwygs = cfg_is_on("kavu_create_port_names_for_wysiwygs", true);
    // Only meaningful when atom outputs get port names at all.
    m_port_names_for_lcell_combs =
        m_port_names_for_wysiwygs && cfg_is_on("kavu_create_port_names_for_lcell_combs", false);
  }
};

// Read at the first naming of the process (no function-local static: a
// process forked meanwhile reads them again rather than wait).
constinit NAME_SWITCHES g_name_switches;
std::atomic<bool> g_name_switches_read{false};
NAME_SWITCHES& name_switches() {
  if (!g_name_switches_read.load(std::memory_order_acquire)) {
    g_name_switches.read();
    g_name_switches_read.store(true, std::memory_order_release);
  }
  return g_name_switches;
}

void refuse_in_parallel() {
  if (cdb_sgate_synthesis_is_running_in_parallel()) KAVU_INTERNAL_ERROR(PARALLEL_NAMING_ERROR);
}

// The base of a terminal: its own instance name, else its gate's.
HDB_INSTANCE_NAME* base_of_oterm(const CDB_SGATE_OTERM* oterm) {
  HDB_INSTANCE_NAME* base = oterm->get_instance_name();
  return base ? base : oterm->get_my_node()->get_instance_name();
}

// The one naming dispatcher: exactly one of oterm and sgate is given. Mode 1
// records the base and returns it; mode 0 creates a fresh child.
HDB_INSTANCE_NAME* kavu_assign_synthesized_name(HDB_INSTANCE_NAME* base, const char* ext,
                                                CDB_SGATE_OTERM* oterm, CDB_SGATE_NODE* sgate) {
  // Exactly one target: a naming call without one would silently name nothing.
  KAVU_CHECK((oterm == nullptr) != (sgate == nullptr));
  // A gate made from an unnamed gate stays unnamed like its origin: there is
  // nothing to derive a name from, now or in the deferred pass.
  if (base == nullptr) return nullptr;
  if (g_naming_mode == NAMING_SYN_IDS) {
    if (oterm) oterm->set_synthesized_name(base);
    if (sgate) sgate->set_synthesized_name(base);
    return base;
  }
  if (g_naming_mode != NAMING_DEFAULT) {
    char text[64];
    std::snprintf(text, sizeof(text), "bad name function type %d", g_naming_mode);
    KAVU_INTERNAL_ERROR(text);
  }
  refuse_in_parallel();
  HDB_INSTANCE_NAME* name = HDB_INSTANCE_NAME::create_synthesized_name(base, ext, true, true, nullptr);
  if (oterm) oterm->set_instance_name(name);
  if (sgate) sgate->set_instance_name(name);
  return name;
}

HDB_INSTANCE_NAME* name_oterm(CDB_SGATE_OTERM* oterm, HDB_INSTANCE_NAME* base, const char* ext) {
  KAVU_CHECK(oterm != 0);
  HDB_INSTANCE_NAME* result = kavu_assign_synthesized_name(base, ext, oterm, nullptr);
  CDB_SGATE_NODE* gate = oterm->get_my_node();
  if (gate->get_instance_name() == nullptr) gate->set_instance_name(result);
  return result;
}

// Port-name extension of an atom output; empty: no extension.
std::string kavu_get_wysiwyg_port_name(const CDB_SGATE_NODE* sgate, DB_OUTPUT_PORT_TYPE port_type,
                                       unsigned index, int run_index) {
  const NAME_SWITCHES& switches = name_switches();
  if (!switches.m_port_names_for_wysiwygs || !sgate->is_wysiwyg()) return std::string();
  const CDB_SGATE_WYSIWYG* wys = static_cast<const CDB_SGATE_WYSIWYG*>(sgate);
  if (wys->is_lcell_comb() && !switches.m_port_names_for_lcell_combs) return std::string();
  std::string port = WYS_INFO::get_port_type_debug_string(port_type);
  if (index < wys->get_port_bound()) return port;
  return port + std::to_string(run_index);
}

void count_path_for_duplicates(CDB_SGATE_NODE* sgate, CDB_SGATE_OTERM* oterm,
                               std::map<std::string, int>& paths, bool* found_duplicates) {
  const int count = ++paths[oterm->get_string_hpath()];
  if (count <= 1) return;
  *found_duplicates = true;
  const CDB_SGATE_OTERM* preferred = sgate->get_preferred_oterm();
  const std::string path = preferred ? preferred->get_string_hpath() : sgate->get_string_hpath();
  kavu_debug("Name %s on sgate %s has occurred %d times", path.c_str(),
             sgate->get_debug_name().c_str(), count);
}

// A gate that still has a temporary name after its terminals were named has
// no preferred output to take a name from: it gets a fresh one of its own.
void name_gate_without_preferred_oterm(CDB_SGATE_NODE* sgate) {
  HDB_INSTANCE_NAME* name = HDB_INSTANCE_NAME::create_numbered_synthesized_name(sgate->get_synfrom_name());
  sgate->set_instance_name(name);
  sgate->reset_has_temporary_name();
  KAVU_CHECK(sgate->get_preferred_oterm() == 0);
  kavu_debug("Created real name for sgate %s %s %s with no preferred oterm???",
             sgate->get_string_type_name(), sgate->get_debug_name().c_str(),
             sgate->get_string_hpath().c_str());
}

}  // namespace

// ---------------------------------------------------------------------------
// KAVU_UNIQUE_SYNTH_NAMES_UTIL

HDB_INSTANCE_NAME* KAVU_UNIQUE_SYNTH_NAMES_UTIL::create_unique_synthesized_name(HDB_INSTANCE_NAME* iname,
                                                                               const char* ext) {
  KAVU_CHECK(iname != 0);
  KAVU_CHECK(ext != 0);
  refuse_in_parallel();
  const bool verbose = cfg_is_on("kavu_create_unique_synthesized_name_verbose", false);
  if (verbose) {
    kavu_debug("Trying to create synthesized name from %s with extension %s",
               iname->get_short_hpath().c_str(), ext);
  }
  const KAVU_NAME_EXT_KEY key{iname->get_base_for_children(), ext};
  HDB_INSTANCE_NAME* name = nullptr;
  bool reused = false;
  int n = 1;
  auto found = m_name_hash.find(key);
  if (found == m_name_hash.end()) {
    if (verbose) kavu_debug(" -- Try with simple extension");
    name = HDB_INSTANCE_NAME::create_synthesized_name(key.m_base, ext, false, true, &reused);
    if (name == nullptr) KAVU_INTERNAL_ERROR("with_simple_extension");
    if (!reused || name->get_flags().test_flag(HDB_INSTANCE_NAME_FLAG::USER_ENTERED)) {
      if (verbose) kavu_debug(" -- Use it. %s", reused ? "user entered" : "new");
    } else {
      if (verbose) kavu_debug(" -- -- have to create a unique name");
      name = nullptr;
    }
  } else {
    n = found->second;
    if (verbose) kavu_debug(" -- Looked at name before. Start with extension %d", n);
  }
  while (name == nullptr) {
    // Every failed number names an existing child, so the search ends within
    // the base's child count; the bound only guards the counter itself.
    if (n == LAST_UNIQUE_NAME_NUMBER) KAVU_INTERNAL_ERROR("unique synthesized name numbers exhausted");
    const std::string text = std::string(ext) + "_" + std::to_string(n);
    HDB_INSTANCE_NAME* candidate =
        HDB_INSTANCE_NAME::create_synthesized_name(key.m_base, text.c_str(), false, true, &reused);
    // A null name would make the search spin forever on the same answer.
    if (candidate == nullptr) KAVU_INTERNAL_ERROR("with_complex_extension");
    if (verbose) kavu_debug(" -- complex extension %s. Name is %s", text.c_str(), reused ? "reused" : "new");
    if (!reused || candidate->get_flags().test_flag(HDB_INSTANCE_NAME_FLAG::USER_ENTERED)) {
      if (verbose) kavu_debug(" -- -- Use it. %s", reused ? "user entered" : "new");
      name = candidate;
    }
    ++n;
  }
  m_name_hash[key] = n;
  if (verbose) {
    kavu_debug("Using name %s", name->get_short_hpath().c_str());
    dump_name_hash();
  }
  if (!reused && g_attach_options) (*g_attach_options)(name);
  return name;
}

void KAVU_UNIQUE_SYNTH_NAMES_UTIL::set_unique_synthesized_name(CDB_SGATE_OTERM* oterm,
                                                               HDB_INSTANCE_NAME* base,
                                                               const std::string& ext) {
  KAVU_CHECK(oterm != 0);
  oterm->set_instance_name(create_unique_synthesized_name(base, ext.c_str()));
}

void KAVU_UNIQUE_SYNTH_NAMES_UTIL::set_unique_synthesized_name(CDB_SGATE_OTERM* oterm,
                                                               CDB_SGATE_NODE* from_sgate,
                                                               const std::string& ext) {
  KAVU_CHECK(from_sgate != 0);
  KAVU_CHECK(oterm != 0);
  set_unique_synthesized_name(oterm, from_sgate->get_instance_name(), ext);
}

void KAVU_UNIQUE_SYNTH_NAMES_UTIL::set_unique_synthesized_name(CDB_SGATE_OTERM* oterm,
                                                               CDB_SGATE_OTERM* from_oterm,
                                                               const std::string& ext) {
  KAVU_CHECK(oterm != 0);
  KAVU_CHECK(from_oterm != 0);
  set_unique_synthesized_name(oterm, base_of_oterm(from_oterm), ext);
}

int KAVU_UNIQUE_SYNTH_NAMES_UTIL::get_next_number(HDB_INSTANCE_NAME* base, const char* ext) const {
  KAVU_CHECK(base != 0 && ext != 0);
  auto it = m_name_hash.find(KAVU_NAME_EXT_KEY{base->get_base_for_children(), ext});
  return it == m_name_hash.end() ? 0 : it->second;
}

void KAVU_UNIQUE_SYNTH_NAMES_UTIL::dump_name_hash() const {
  // Table order follows pointer hashes: a debug listing only.
  kavu_debug("------ Name map size %d -----", static_cast<int>(m_name_hash.size()));
  for (auto it = m_name_hash.begin(); it != m_name_hash.end(); ++it) {
    kavu_debug("* Name %s extension %s id %d", it->first.m_base->get_short_hpath().c_str(),
               it->first.m_ext.c_str(), it->second);
  }
  kavu_debug("-------");
}

// ---------------------------------------------------------------------------
// Mode and callback

void kavu_set_syn_id_sgate_naming_function() {
  kavu_debug_at_level(3, "Setting sgate naming function to use syn_id's...");
  g_naming_mode = NAMING_SYN_IDS;
}

void kavu_reset_sgate_naming_function() {
  kavu_debug_at_level(3, "Resetting sgate naming function to default...");
  g_naming_mode = NAMING_DEFAULT;
}

bool kavu_name_function_status_is_default() { return g_naming_mode == NAMING_DEFAULT; }

void kavu_set_attach_options_functor(KAVU_ATTACH_OPTIONS_FUNCTOR* functor) {
  if (functor && g_attach_options) KAVU_INTERNAL_ERROR("Attach options pointer attempted to be reset");
  g_attach_options = functor;
}

void kavu_name_reread_switches() {
  g_name_switches.read();
  g_name_switches_read.store(true, std::memory_order_release);
}

// ---------------------------------------------------------------------------
// Naming new gates and terminals

void kavu_create_synthesized_name(CDB_SGATE_OTERM* oterm, HDB_INSTANCE_NAME* base, const char* ext) {
  name_oterm(oterm, base, ext);
}

void kavu_create_synthesized_name(CDB_SGATE_NODE* sgate, HDB_INSTANCE_NAME* base, const char* ext) {
  KAVU_CHECK(sgate != 0);
  const CDB_SGATE_NODE::OTERM_VECTOR& oterms = sgate->get_output_terms();
  bool named_first = false;
  for (unsigned i = 0; i < oterms.size(); ++i) {
    if (oterms[i] == nullptr) continue;
    HDB_INSTANCE_NAME* result = name_oterm(oterms[i], base, ext);
    if (!named_first) {
      sgate->set_instance_name(result);
      named_first = true;
    }
  }
  if (named_first) return;
  kavu_assign_synthesized_name(base, "new", nullptr, sgate);
  kavu_debug_at_level(3, "Created name for sgate %s %s %s with no oterms", sgate->get_string_type_name(),
                      sgate->get_debug_name().c_str(), sgate->get_string_hpath().c_str());
}

void kavu_create_synthesized_name(CDB_SGATE_NODE* sgate, CDB_SGATE_NODE* from_sgate, const char* ext) {
  if (from_sgate == nullptr) KAVU_INTERNAL_ERROR("from_sgate");
  kavu_create_synthesized_name(sgate, from_sgate->get_instance_name(), ext);
}

void kavu_create_synthesized_name(CDB_SGATE_NODE* sgate, CDB_SGATE_OTERM* from_oterm, const char* ext) {
  if (from_oterm == nullptr) KAVU_INTERNAL_ERROR("from_oterm");
  kavu_create_synthesized_name(sgate, base_of_oterm(from_oterm), ext);
}

void kavu_create_synthesized_name(CDB_SGATE_OTERM* oterm, CDB_SGATE_NODE* from_sgate, const char* ext) {
  KAVU_CHECK(from_sgate != 0);
  name_oterm(oterm, from_sgate->get_instance_name(), ext);
}

void kavu_create_synthesized_name(CDB_SGATE_OTERM* oterm, CDB_SGATE_OTERM* from_oterm, const char* ext) {
  KAVU_CHECK(oterm != 0 && from_oterm != 0);
  name_oterm(oterm, base_of_oterm(from_oterm), ext);
}

void kavu_create_real_or_temp_name(CDB_SGATE_NODE* sgate, HDB_INSTANCE_NAME* base, const char* ext) {
  if (base == nullptr) return;
  KAVU_CHECK(sgate != 0);
  if (cdb_sgate_synthesis_is_running_in_parallel()) {
    kavu_create_synthesized_name(sgate, base, ext);
    return;
  }
  // Checked before the name is made, so a refused call changes nothing.
  CDB_SGATE_OTERM* preferred = sgate->get_preferred_oterm();
  KAVU_CHECK(preferred != 0);
  HDB_INSTANCE_NAME* name = HDB_INSTANCE_NAME::create_synthesized_name(base, ext, true, true, nullptr);
  sgate->set_instance_name(name);
  preferred->set_instance_name(name);
}

void kavu_create_real_or_temp_name(CDB_SGATE_NODE* sgate, CDB_SGATE_NODE* from_sgate, const char* ext) {
  KAVU_CHECK(from_sgate != 0);
  kavu_create_real_or_temp_name(sgate, from_sgate->get_instance_name(), ext);
}

void kavu_copy_name(CDB_SGATE_NODE* from, CDB_SGATE_NODE* to) {
  KAVU_CHECK(from != 0 && to != 0);
  CDB_SGATE_OTERM* from_oterm = from->get_preferred_oterm();
  CDB_SGATE_OTERM* to_oterm = to->get_preferred_oterm();
  if (from_oterm == nullptr) KAVU_INTERNAL_ERROR("from_oterm");
  if (to_oterm == nullptr) KAVU_INTERNAL_ERROR("to_oterm");
  to->set_instance_name(from->get_instance_name());
  to_oterm->set_instance_name(from_oterm->get_instance_name());
  to->reset_has_temporary_name();
  to_oterm->clear_synthesized_name_mark();
  if (from_oterm->has_synthesized_name_mark()) {
    to_oterm->set_synthesized_name(from_oterm->get_synfrom_name());
  } else if (from->has_temporary_name()) {
    to->set_has_temporary_name(true);
  }
}

HDB_INSTANCE_NAME* kavu_add_string_name_to_sgate_iname(CDB_SGATE_NODE*, const char* text,
                                                       HDB_INSTANCE_NAME* iname, CMP_FACADE* facade) {
  refuse_in_parallel();
  KAVU_CHECK(iname != 0);
  KAVU_CHECK(text != 0);
  HDB_INSTANCE_NAME* parent_iname = iname->get_parent();
  KAVU_CHECK(parent_iname != NULL);
  std::string path;
  iname->get_hierarchy_path(parent_iname, &path);
  // "<path>_<text>" while it stays below the limit; otherwise the path
  // alone, which finds the existing child of that name.
  const std::string candidate =
      path.size() + 1 + std::strlen(text) < STRING_NAME_LIMIT ? path + "_" + text : path;
  HDB_INSTANCE_NAME* final_name = parent_iname->find_in_children(candidate.c_str(), 1);
  if (final_name) return final_name;
  // The synthesis primitive of the compile's name space; without a facade,
  // that of the parent's own.
  HDB_NAMESPACE* ns = facade && facade->get_namespace() ? facade->get_namespace() : parent_iname->get_namespace();
  HDB_SOURCE_COMPONENT* component = ns ? ns->get_source_components()->get_primitive(STRING_NAME_PRIMITIVE) : nullptr;
  final_name = HDB_INSTANCE_NAME::create_normal_name(nullptr, candidate.c_str(), component, nullptr,
                                                     parent_iname);
  if (final_name == nullptr) KAVU_INTERNAL_ERROR("final_name");
  return final_name;
}

// ---------------------------------------------------------------------------
// Deferred naming

bool kavu_create_real_name_for_oterm(CDB_SGATE_OTERM* oterm, std::string ext,
                                     KAVU_UNIQUE_SYNTH_NAMES_UTIL* util) {
  refuse_in_parallel();
  KAVU_CHECK(oterm != 0);
  CDB_SGATE_NODE* gate = oterm->get_my_node();
  CDB_SGATE_OTERM* preferred = gate->get_preferred_oterm();
  if (!oterm->has_synthesized_name_mark() && !(preferred == oterm && gate->has_temporary_name())) {
    return false;
  }
  HDB_INSTANCE_NAME* base = oterm->get_synfrom_name();
  if (base == nullptr) base = gate->get_synfrom_name();
  KAVU_CHECK(base != 0);
  HDB_INSTANCE_NAME* name = nullptr;
  if (!ext.empty()) {
    if (util == nullptr) KAVU_INTERNAL_ERROR("You need to pass in a name-util if you want a name with extension");
    name = util->create_unique_synthesized_name(base, ext.c_str());
  } else {
    // No extension: a fresh name that stands for the base itself.
    name = HDB_INSTANCE_NAME::create_numbered_synthesized_name(base);
  }
  oterm->set_instance_name(name);
  if (preferred != oterm && preferred != nullptr) {
    oterm->clear_synthesized_name_mark();
    return true;
  }
  gate->set_instance_name(name);
  gate->reset_has_temporary_name();
  oterm->clear_synthesized_name_mark();
  return true;
}

void kavu_create_real_names_from_syn_ids(CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist != 0);
  GEN_PROFILER profiler("KAVU", "create_real_names");
  kavu_debug("Creating Names for survived Synthesized Nodes");
  KAVU_UNIQUE_SYNTH_NAMES_UTIL util;
  std::map<std::string, int> paths;  // only for the duplicate check
  const bool check_duplicates = name_switches().m_sanity_check_duplicates;
  bool found_duplicates = false;
  int created = 0;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* sgate = *it;
    if (sgate == nullptr) continue;
    const CDB_SGATE_NODE::OTERM_VECTOR& oterms = sgate->get_output_terms();
    CDB_SGATE_OTERM* preferred = sgate->get_preferred_oterm();
    DB_OUTPUT_PORT_TYPE previous_type = UNTYPED_OUTPUT;
    int run_index = 0;
    bool first = true;
    for (unsigned i = 0; i < oterms.size(); ++i) {
      CDB_SGATE_OTERM* oterm = oterms[i];
      if (oterm == nullptr) continue;
      DB_OUTPUT_PORT_TYPE port_type = UNTYPED_OUTPUT;
      if (sgate->is_wysiwyg()) {
        port_type = oterm->get_port_type();
        if (port_type == UNTYPED_OUTPUT) port_type = sgate->get_output_port_enum(i);
      }
      run_index = (first || port_type != previous_type) ? 0 : run_index + 1;
      previous_type = port_type;
      first = false;
      if (oterm->has_synthesized_name_mark() || (oterm == preferred && sgate->has_temporary_name())) {
        const std::string ext = kavu_get_wysiwyg_port_name(sgate, port_type, i, run_index);
        if (kavu_create_real_name_for_oterm(oterm, ext, &util)) ++created;
      }
      if (check_duplicates) count_path_for_duplicates(sgate, oterm, paths, &found_duplicates);
    }
    if (sgate->has_temporary_name()) name_gate_without_preferred_oterm(sgate);
  }
  if (check_duplicates) {
    kavu_debug_at_level(3, found_duplicates ? "Found some duplicate names!" : "No duplicate names found");
  }
  kavu_debug_at_level(3, "Created %d synthesized names", created);
}
