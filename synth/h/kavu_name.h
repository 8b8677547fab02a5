// kavu_name.h — instance names for the gates and output terminals that
// synthesis creates.
//
// Two naming modes, switched around a parallel synthesis run:
// - mode 0 (default): a final name is created at once in the name tree,
//   always a new child of the base name ("base~ext", "base~ext~2", ...);
// - mode 1 (deferred, "syn ids"): only the base is recorded on the terminal
//   (its synthesized-from name) and the terminal's synthesized-name mark is
//   set; kavu_create_real_names_from_syn_ids later gives every marked
//   terminal its final name in one pass.
// The deferred pass names device-atom outputs after their port ("COMBOUT",
// "SUMOUT1", ...) through KAVU_UNIQUE_SYNTH_NAMES_UTIL, which numbers the
// plain names of one base ("e", "e_1", "e_2", ...) and reuses a name the
// user entered.
// Names are never created while the netlist database reports parallel
// synthesis ("Can't create new names in parallel"): creating them in
// process-wide order is what keeps them reproducible.
// None of this is thread-safe; the mode, the callback and the switches are
// process-wide statics.
#pragma once

#include <cstdint>
#include <string>

#include "cdb/cdb_sgate.h"
#include "hdb/hdb.h"
#include "ztl_hash_lite_sys.h"

class CMP_FACADE;

// Called with every new name the unique-name util creates (not with names
// it reuses), so that the caller can attach assignment options to it.
class KAVU_ATTACH_OPTIONS_FUNCTOR {
 public:
  virtual ~KAVU_ATTACH_OPTIONS_FUNCTOR() = default;
  virtual void operator()(HDB_INSTANCE_NAME* new_name) = 0;
};

// Key of the unique-name table: the name new children are created under and
// the extension.
struct KAVU_NAME_EXT_KEY {
  HDB_INSTANCE_NAME* m_base = nullptr;
  std::string m_ext;
};

// Hash 7 * (base >> 3) + text hash of the extension; equal when both the
// pointers and the texts are equal.
template <>
struct ZTL_OPS<KAVU_NAME_EXT_KEY> {
  static uint32_t hash(const KAVU_NAME_EXT_KEY& key) {
    return 7u * static_cast<uint32_t>(reinterpret_cast<uintptr_t>(key.m_base) >> 3) +
           ztl_ops_text_hash(key.m_ext.data(), key.m_ext.size());
  }
  static bool equal(const KAVU_NAME_EXT_KEY& a, const KAVU_NAME_EXT_KEY& b) {
    return a.m_base == b.m_base && a.m_ext == b.m_ext;
  }
};

// Synthesized names that do not collide with names already in the tree. For
// a (base, extension) pair it tries the plain extension first, then
// "ext_1", "ext_2", ...; a name is accepted when it is new or was entered by
// the user. The table remembers per pair where the numbering continues, so a
// util never hands out the same numbered name twice. Copies copy the table;
// a moved-from util is empty.
class KAVU_UNIQUE_SYNTH_NAMES_UTIL {
 public:
  // The accepted name under iname->get_base_for_children(). Internal errors:
  // null arguments, parallel synthesis, a null name from the tree.
  HDB_INSTANCE_NAME* create_unique_synthesized_name(HDB_INSTANCE_NAME* iname, const char* ext);
  // Sets the terminal's instance name to create_unique_synthesized_name of
  // the base: the given name, the gate's instance name, or the other
  // terminal's instance name (its gate's when it has none).
  void set_unique_synthesized_name(CDB_SGATE_OTERM* oterm, HDB_INSTANCE_NAME* base,
                                   const std::string& ext);
  void set_unique_synthesized_name(CDB_SGATE_OTERM* oterm, CDB_SGATE_NODE* from_sgate,
                                   const std::string& ext);
  void set_unique_synthesized_name(CDB_SGATE_OTERM* oterm, CDB_SGATE_OTERM* from_oterm,
                                   const std::string& ext);
  // The next number the util tries for (base, ext); 0 when it has not seen
  // the pair.
  int get_next_number(HDB_INSTANCE_NAME* base, const char* ext) const;

 private:
  void dump_name_hash() const;

  ZTL_HASH_LITE<KAVU_NAME_EXT_KEY, int> m_name_hash;
};

// ---- naming mode and callback ----
// Mode 1 (deferred); debug line at level 3.
void kavu_set_syn_id_sgate_naming_function();
// Mode 0 (default); debug line at level 3.
void kavu_reset_sgate_naming_function();
bool kavu_name_function_status_is_default();
// Registers the callback; null clears it. Registering a second callback
// while one is set is an internal error.
void kavu_set_attach_options_functor(KAVU_ATTACH_OPTIONS_FUNCTOR* functor);

// ---- naming new gates and terminals ----
// A null base names nothing: a gate made from an unnamed gate stays unnamed.
// Names the terminal from `base` and `ext` in the current mode; a gate
// without an instance name takes the terminal's. Null terminal: internal
// error.
void kavu_create_synthesized_name(CDB_SGATE_OTERM* oterm, HDB_INSTANCE_NAME* base, const char* ext);
// Names every output of the gate, and the gate after its first output. A
// gate without outputs is named as a gate with the extension "new".
void kavu_create_synthesized_name(CDB_SGATE_NODE* sgate, HDB_INSTANCE_NAME* base, const char* ext);
// As above, the base being the gate's instance name.
void kavu_create_synthesized_name(CDB_SGATE_NODE* sgate, CDB_SGATE_NODE* from_sgate, const char* ext);
// As above, the base being the terminal's instance name, or its gate's.
void kavu_create_synthesized_name(CDB_SGATE_NODE* sgate, CDB_SGATE_OTERM* from_oterm, const char* ext);
// Terminal forms with a gate or a terminal as the base.
void kavu_create_synthesized_name(CDB_SGATE_OTERM* oterm, CDB_SGATE_NODE* from_sgate, const char* ext);
void kavu_create_synthesized_name(CDB_SGATE_OTERM* oterm, CDB_SGATE_OTERM* from_oterm, const char* ext);

// A final name for the gate and its preferred output outside parallel
// synthesis; during it, the gate form of kavu_create_synthesized_name (so
// that deferred mode records the base). Nothing when the base is null. A
// gate without a preferred output is an internal error.
void kavu_create_real_or_temp_name(CDB_SGATE_NODE* sgate, HDB_INSTANCE_NAME* base, const char* ext);
void kavu_create_real_or_temp_name(CDB_SGATE_NODE* sgate, CDB_SGATE_NODE* from_sgate, const char* ext);

// The target gate and its preferred output take the source's names; the
// target's marks are cleared and then copied from the source.
void kavu_copy_name(CDB_SGATE_NODE* from, CDB_SGATE_NODE* to);

// The child "<path>_<text>" of iname's parent, <path> being iname's path
// below its parent: the existing child, or a new normal name. When path and
// text together reach 255 characters the candidate is the path alone, which
// names iname itself. The gate is not read.
HDB_INSTANCE_NAME* kavu_add_string_name_to_sgate_iname(CDB_SGATE_NODE* sgate, const char* text,
                                                       HDB_INSTANCE_NAME* iname, CMP_FACADE* facade);

// ---- deferred naming ----
// Gives every terminal with the synthesized-name mark (and every preferred
// output of a gate with a temporary name) its final name; returns nothing,
// the count goes to the level-3 trace.
void kavu_create_real_names_from_syn_ids(CDB_SGATE_NETLIST* netlist);
// Names one terminal from its synthesized-from name: with a non-empty
// extension through the util (required then), else as a fresh child of the
// base. True when it named the terminal.
bool kavu_create_real_name_for_oterm(CDB_SGATE_OTERM* oterm, std::string ext,
                                     KAVU_UNIQUE_SYNTH_NAMES_UTIL* util);

// ---- test support ----
// Rereads the once-per-process switches (kavu_sanity_check_duplicate_names,
// kavu_create_port_names_for_wysiwygs, kavu_create_port_names_for_lcell_combs).
// Tests that set them call this, and again after restoring them.
void kavu_name_reread_switches();
