// Role: names and assignments (docs/platform.md, "Name layer").
// hdb.h — the name tree (hierarchical instance names) and the assignment
// options attached to names.
//
// Model: a namespace owns a forest of names. A name has a process-wide id
//   (never reused, 0 = none), a parent, a partial name and a synthesized
//   mark; its path joins the partial names from its top down with "|",
//   or with "~" before a synthesized name ("top|u1~clk"). Names are
//   interned: asking for a child that exists returns it, so one path is one
//   object. Options are (variable code, text) pairs kept per namespace on a
//   name or on the namespace itself (global assignments); the option
//   template reads the text as the kind its KIND gives.
// Invariants: a child's namespace is its parent's; children of one parent
//   differ in (partial name, synthesized mark); a name lives until its
//   namespace is destroyed (the default namespace: until hdb_reset()).
// Storage: a name is 24 bytes in one of its namespace's blocks (256 KB,
//   aligned to their size and headed by the namespace, so a name finds its
//   namespace from its own address); its parent and its text are 32-bit
//   places in the namespace's blocks and text store, and the text's entry
//   starts with the slot of the name's source component in the namespace's
//   component table. Children are found through one open-addressing index
//   per namespace (5 bytes a slot, at most 80 % full); group,
//   representative, location, type and unique-number counters live in a
//   side record made on first use and kept by the namespace. Child lists
//   are made for the whole namespace on the first get_children() and kept
//   from then on.
// Cost: child lookup and creation O(1) expected; the namespace, the parent
//   and the partial name O(1); paths O(depth).
// Not thread-safe, like the rest of the databases.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "hdb/acf.h"

class HDB_NAMESPACE;
class HDB_INSTANCE_NAME;
class HDB_ASSIGNMENT;
class HDB_TYPE;
class HDB_TYPE_DB;
struct HDB_CHILD_INDEX;
class MSG_LOCATION_SCHEMA;
namespace kavu_platform {
struct HDB_OPTION_RECORD;
}

// Flag bits of a name. FLAG_TYPE values are masks; test_flag(t) is true when
// every bit of t is set.
class HDB_INSTANCE_NAME_FLAG {
 public:
  enum FLAG_TYPE : unsigned {
    USER_ENTERED = 0x1,        // the user entered this name
    TAKEN_BY_COMPONENT = 0x2,  // a component's name
    COMBINATORIAL = 0x8,
    NO_REUSE = 0x100,
    NO_REUSE_2 = 0x1000,
    INCREMENTAL_1 = 0x20000,   // kept for the incremental records
    // The root of a design's name tree: names below it are recorded by the
    // incremental records (and the below-root path) relative to it. Every
    // top name carries it from creation.
    HIERARCHY_ROOT = 0x20000,
    INCREMENTAL_2 = 0x400000,
  };
  HDB_INSTANCE_NAME_FLAG(unsigned bits = 0) : m_bits(bits) {}
  bool test_flag(unsigned t) const { return t != 0 && (m_bits & t) == t; }
  void set_flag(unsigned t, bool on = true) { m_bits = on ? (m_bits | t) : (m_bits & ~t); }
  void set_combinatorial(bool on) { set_flag(COMBINATORIAL, on); }
  unsigned get_value() const { return m_bits; }

 private:
  unsigned m_bits;
};

// A source component (the design unit a name came from); names made by
// synthesis use the primitive component 88 of their namespace.
class HDB_SOURCE_COMPONENT {
 public:
  HDB_SOURCE_COMPONENT(int primitive_type, std::string name)
      : m_type(primitive_type), m_name(std::move(name)) {}
  int get_primitive_type() const { return m_type; }
  const char* get_component_name_str() const { return m_name.c_str(); }

 private:
  int m_type;
  std::string m_name;
};

class HDB_SOURCE_COMPONENT_COL {
 public:
  // The namespace's component for a primitive type, made on first request.
  HDB_SOURCE_COMPONENT* get_primitive(int type);

 private:
  std::map<int, std::unique_ptr<HDB_SOURCE_COMPONENT>> m_primitives;
};

class HDB_INSTANCE_NAME {
 public:
  virtual ~HDB_INSTANCE_NAME();
  HDB_INSTANCE_NAME(const HDB_INSTANCE_NAME&) = delete;
  HDB_INSTANCE_NAME& operator=(const HDB_INSTANCE_NAME&) = delete;

  int get_id() const { return int(m_id); }
  HDB_INSTANCE_NAME* get_parent() const;
  // The enclosing name (the parent; names here have no record members).
  HDB_INSTANCE_NAME* get_parent_data_member() const { return get_parent(); }
  const char* get_partial_name() const;
  // The name within its unit: the partial name.
  const char* get_unit_name() const { return get_partial_name(); }
  std::string get_unit_name_str() const { return std::string(get_partial_name()); }
  bool is_synthesized() const { return m_synthesized; }
  HDB_INSTANCE_NAME_FLAG& get_flags() { return m_flags; }
  const HDB_INSTANCE_NAME_FLAG& get_flags() const { return m_flags; }
  // The bus group the name is an element of (null: none) and its index.
  HDB_INSTANCE_NAME* get_group() const;
  int get_index_in_group() const;
  // On a group name: its element `index` (the sibling "text[index]", as
  // HDB_NAMESPACE::create_group_instance_name makes it), made when missing,
  // with `flags` set on it (flags it already has are kept).
  HDB_INSTANCE_NAME* create_group_element_name(int index, HDB_INSTANCE_NAME_FLAG flags);
  HDB_NAMESPACE* get_namespace() const;
  HDB_SOURCE_COMPONENT* get_source_component() const;
  const MSG_LOCATION_SCHEMA* get_location() const;
  // Children in creation order.
  const std::vector<HDB_INSTANCE_NAME*>& get_children() const;

  // fmt 0: the full path; 1: without the top name (and its separator);
  // 2: the partial name alone; HPATH_BELOW_ROOT (3): the path below the
  // nearest ancestor flagged HIERARCHY_ROOT (the full path when there is
  // none, so a root gives its partial name). Unlike 2, the below-root path
  // tells apart synthesized children of the same text under different names.
  static constexpr int HPATH_BELOW_ROOT = 3;
  std::string get_short_hpath(int fmt = 0) const;
  // The path below `relative_to` (the full path when it is null) into
  // *path. False, with *path the full path, when this name does not lie
  // below `relative_to`. The last two arguments are accepted and ignored.
  bool get_hierarchy_path(const HDB_INSTANCE_NAME* relative_to, std::string* path,
                          bool unused_flag = false, int unused_level = 0) const;
  // The name new children are created under: the name itself.
  virtual HDB_INSTANCE_NAME* get_base_for_children() { return this; }
  // The name that stands for this one where the elaboration merged several
  // names into one (null: none, the name stands for itself).
  virtual HDB_INSTANCE_NAME* get_representative_name() const;
  // Makes `rep` (null: none) this name's representative; a name cannot
  // represent itself.
  void set_representative_name(HDB_INSTANCE_NAME* rep);
  // The child of that partial name: kind 1 looks at normal children only,
  // kind 2 at synthesized ones, any other kind at normal then synthesized.
  HDB_INSTANCE_NAME* find_in_children(const char* text, int kind = 1) const;

  // The child `text` of `parent` (the existing one, or a new one with these
  // flags). `id` 0 takes a new id; another value must be free. The source
  // component is the collection's primitive 88 when one is given, else the
  // parent's. Null parent or empty text is an internal error.
  static HDB_INSTANCE_NAME* create_child(HDB_INSTANCE_NAME* parent, const char* text,
                                         HDB_INSTANCE_NAME_FLAG flags = {}, int id = 0,
                                         bool synthesized = false,
                                         HDB_SOURCE_COMPONENT_COL* components = nullptr);
  // Makes room for `count` more children of `parent` (its child list and its
  // namespace's child index), so that a caller about to make many names pays
  // no growth of either on the way. Null parent is an internal error.
  static void reserve_children(HDB_INSTANCE_NAME* parent, size_t count);
  // A normal name `text` under `parent`, or a top name of `ns` (the default
  // namespace when null) when `parent` is null. An existing name of that
  // path is returned as it is. With a parent, `ns` must be null or the
  // parent's namespace.
  static HDB_INSTANCE_NAME* create_normal_name(HDB_NAMESPACE* ns, const char* text,
                                               HDB_SOURCE_COMPONENT* component,
                                               const MSG_LOCATION_SCHEMA* location,
                                               HDB_INSTANCE_NAME* parent,
                                               HDB_INSTANCE_NAME_FLAG flags = {});
  // A synthesized child of base->get_base_for_children() named by `ext`.
  // Not unique: the existing child of that name (*reused = true) or a new
  // one. Unique: always a new child, `ext` when free, else "ext~N" with the
  // smallest free N >= 1 (*reused = false). `synthesized` false makes a
  // normal child instead. Null base or empty ext is an internal error.
  static HDB_INSTANCE_NAME* create_synthesized_name(HDB_INSTANCE_NAME* base, const char* ext,
                                                    bool unique, bool synthesized = true,
                                                    bool* reused = nullptr);
  // A new synthesized child of base->get_base_for_children() that stands for
  // the base itself, with no extension of its own: "N" with the smallest free
  // N >= 1 (path "base~N"). A null base is an internal error.
  static HDB_INSTANCE_NAME* create_numbered_synthesized_name(HDB_INSTANCE_NAME* base);

  // The type the name carries (hdb_types.h), or null. A type of another
  // namespace is a PLAT_CHECK failure; null removes the type.
  const HDB_TYPE* get_type() const;
  void set_type(const HDB_TYPE* type);

 protected:
  // Names are made only by the functions above, in their namespace's
  // blocks: a name finds its namespace, parent and text from where it lies.
  HDB_INSTANCE_NAME() = default;

 private:
  // Members most names never use (every leaf of a large netlist is a name),
  // allocated on first use.
  struct EXTRA {
    HDB_INSTANCE_NAME* m_group = nullptr;
    int m_group_index = -1;
    HDB_INSTANCE_NAME* m_representative = nullptr;
    std::unique_ptr<MSG_LOCATION_SCHEMA> m_location;
    std::vector<HDB_INSTANCE_NAME*> m_children;
    // Per extension, the number after which unique synthesized children
    // start their search: names are never freed, so the smallest free number
    // only grows.
    std::map<std::string, int> m_unique_next;
    const HDB_TYPE* m_type = nullptr;
    // The source component, when the namespace's component table is full.
    HDB_SOURCE_COMPONENT* m_component = nullptr;
    ~EXTRA();
  };

  // `indexed` false leaves a child out of the child index: a bulk read
  // (HDB_NAMESPACE::read_pdb) indexes the children it made at once.
  static HDB_INSTANCE_NAME* make(HDB_NAMESPACE* ns, HDB_INSTANCE_NAME* parent, std::string_view text,
                                 bool synthesized, HDB_INSTANCE_NAME_FLAG flags, int id,
                                 HDB_SOURCE_COMPONENT* component, uint64_t key_hash = 0,
                                 bool indexed = true);
  EXTRA& extra();
  // The side record, or null when the name has none.
  EXTRA* find_extra() const;
  HDB_INSTANCE_NAME* find_child(bool synthesized, std::string_view text) const;
  const HDB_INSTANCE_NAME* top() const;

  // A component slot that says the component is in the side record.
  static constexpr uint32_t kComponentInExtra = 0xffff;
  static constexpr uint32_t kMaxId = (uint32_t(1) << 30) - 1;

  // 24 bytes in all (with the virtual table): the id and two marks share a
  // word; the parent and the text are places in the namespace's stores; the
  // namespace heads the block the name lives in.
  uint32_t m_id : 30 = 0;
  uint32_t m_has_extra : 1 = 0;
  uint32_t m_synthesized : 1 = 0;
  HDB_INSTANCE_NAME_FLAG m_flags;
  uint32_t m_parent = 0;  // the parent's place in the namespace's blocks + 1; 0 for a top name
  // Where the name's entry is in the namespace's text store (block << 16 |
  // offset): the slot of its source component in the namespace's table (two
  // bytes), then the partial name and its NUL (partial names hold no NUL, so
  // the length is where the NUL is).
  uint32_t m_text = 0;

  friend class HDB_NAMESPACE;
  friend struct HDB_CHILD_INDEX;
};

class HDB_NAME_MGR {
 public:
  static int get_iname_id(const HDB_INSTANCE_NAME* name) { return name ? name->get_id() : 0; }
  // The live name of that id, or null.
  static HDB_INSTANCE_NAME* get_instance_name(int id);
};

// A namespace: a forest of names, their source components and the options
// store. Destroying it destroys its names and options.
template <int KIND, int X>
class HDB_DERIVED_OPTION;

class HDB_NAMESPACE {
 public:
  // With a root name, creates that top name at once.
  explicit HDB_NAMESPACE(const char* root_name = nullptr);
  ~HDB_NAMESPACE();
  HDB_NAMESPACE(const HDB_NAMESPACE&) = delete;
  HDB_NAMESPACE& operator=(const HDB_NAMESPACE&) = delete;

  // The first top name, or null.
  HDB_INSTANCE_NAME* get_root() const;
  // Null or "": the root. Otherwise the normal name at that "|"-separated
  // path, starting at a top name; null when absent.
  HDB_INSTANCE_NAME* get_rooted_at(const char* path = nullptr) const;
  const std::vector<HDB_INSTANCE_NAME*>& get_top_names() const { return m_tops; }
  HDB_SOURCE_COMPONENT_COL* get_source_components() { return &m_components; }
  // The name of this namespace with that id, or null.
  HDB_INSTANCE_NAME* get_instance_name(int id) const;
  // Element `index` of the bus group `group_text` under `parent` (a top name
  // of this namespace when null): the normal name "group_text[index]",
  // sibling of the group's own name "group_text", which is made when
  // missing. The element reports the group (get_group) and its index. An
  // existing element of another group, a parent of another namespace, a
  // negative index or an empty text is an internal error.
  HDB_INSTANCE_NAME* create_group_instance_name(HDB_INSTANCE_NAME* parent, const char* group_text,
                                                int index);
  // Every option of a Boolean `variable` in the namespace, on any name or
  // global, into *list (replaced): by name id (global ones first), each
  // name's options in the order set. The flag is accepted for callers.
  // Returns the count.
  int get_all_generated_options(int variable, std::vector<HDB_DERIVED_OPTION<1, 0>*>* list, bool flag) const;

  // The namespace's type database (hdb_types.h), null until created;
  // create_type_db makes it once and returns the existing one afterwards.
  HDB_TYPE_DB* get_type_db() const { return m_type_db.get(); }
  HDB_TYPE_DB* create_type_db();

  // --- the namespace archive ("hdb_namespace.cdb" in `dir`), for helper
  // processes: every name (path, synthesized mark, flag bits, bus group,
  // representative) and, with `with_options`, every option with its target
  // and point-to-point source. Ids are not carried. write_pdb is false when
  // the file cannot be written. read_pdb adds the archive's names (names
  // found by path are reused and take the archived flag bits) and options
  // to `ns`; false, with nothing added, when the file is missing or damaged.
  static bool write_pdb(const HDB_NAMESPACE* ns, const std::string& dir, bool with_options);
  static bool read_pdb(HDB_NAMESPACE* ns, const std::string& dir);

 private:
  // Names live in blocks of raw storage owned here (they die only with the
  // namespace), their texts in a store of character blocks.
  // Names live in blocks of kBlockBytes aligned to their size, each headed
  // by its namespace and its index, so that a name finds its namespace from
  // its own address. A name's place: block << kSlotBits | index in the block.
  static constexpr size_t kBlockBytes = size_t(256) * 1024;
  static constexpr unsigned kSlotBits = 14;
  static constexpr uint32_t kSlotMask = (uint32_t(1) << kSlotBits) - 1;
  struct BLOCK_HEAD {
    HDB_NAMESPACE* m_namespace;
    uint32_t m_index;  // in m_name_blocks
  };
  static constexpr size_t kBlockHeadBytes = 16;
  static uint32_t block_capacity();
  void* allocate_name(uint32_t* place);
  HDB_INSTANCE_NAME* name_at(uint32_t place) const {
    return m_name_blocks[place >> kSlotBits] + (place & kSlotMask);
  }
  static HDB_NAMESPACE* namespace_of(const HDB_INSTANCE_NAME* name) {
    return reinterpret_cast<const BLOCK_HEAD*>(uintptr_t(name) & ~uintptr_t(kBlockBytes - 1))->m_namespace;
  }
  static uint32_t place_of(const HDB_INSTANCE_NAME* name);
  // The entry of `text` with the component slot before it; its place.
  uint32_t store_text(std::string_view text, uint32_t component_slot);
  const char* text_entry(uint32_t place) const { return m_text_blocks[place >> 16].get() + (place & 0xffff); }
  // The slot of `component` in the component table (added when new), or
  // kComponentInExtra when the table is full.
  uint32_t component_slot(HDB_SOURCE_COMPONENT* component);
  // Gives every name of the namespace its child list, once.
  void list_children() const;
  // Room in the child index for `count` more names.
  void reserve_child_index(size_t count);
  // Asks the processor for the child index slots where the child (parent,
  // synthesized, text) is looked for, ahead of the lookup.
  void prefetch_child(const HDB_INSTANCE_NAME* parent, bool synthesized, std::string_view text) const;
  // Bulk reading into a namespace that holds no names (read_pdb): the next
  // id to be given, so that a read undone gives its ids back.
  static int next_name_id();
  // Puts every child not yet indexed (made with `indexed` false) into the
  // child index at once, in the order of their slots; false, with the index
  // as it was, when two names share a key (parent, synthesized mark,
  // partial name).
  bool index_unindexed_children();
  // Undoes a bulk read into a namespace that held no names: every name goes,
  // and the ids from `next_id` on are given again.
  void drop_all_names(int next_id);
  // Destroys every name and gives back the blocks (ids leave the registry).
  void destroy_names();

  std::vector<HDB_INSTANCE_NAME*> m_name_blocks;  // the first name of each block
  uint32_t m_names_in_last_block = 0;
  std::vector<std::unique_ptr<char[]>> m_text_blocks;
  char* m_text_next = nullptr;
  size_t m_text_left = 0;
  // Every child name of the namespace, keyed by (parent, synthesized mark,
  // partial name).
  std::unique_ptr<HDB_CHILD_INDEX> m_child_index;
  // Places of the children a bulk read made and has not indexed yet.
  std::vector<uint32_t> m_unindexed;
  std::vector<HDB_INSTANCE_NAME*> m_tops;
  std::map<std::string, HDB_INSTANCE_NAME*, std::less<>> m_top_index;  // found by any text, no copy
  HDB_SOURCE_COMPONENT_COL m_components;
  std::unique_ptr<HDB_TYPE_DB> m_type_db;
  // Source components of the names by slot (slot 0: none), and the slot of
  // each; the last one asked for is remembered.
  std::vector<HDB_SOURCE_COMPONENT*> m_component_table{nullptr};
  std::unordered_map<const HDB_SOURCE_COMPONENT*, uint32_t> m_component_slots;
  const HDB_SOURCE_COMPONENT* m_last_component = nullptr;
  uint32_t m_last_component_slot = 0;
  // Side records of the names that have one.
  std::unordered_map<const HDB_INSTANCE_NAME*, std::unique_ptr<HDB_INSTANCE_NAME::EXTRA>> m_extras;
  // Whether child lists are kept (set by the first get_children()).
  mutable std::atomic<bool> m_children_listed{false};
  mutable std::mutex m_children_mutex;
  // (target name id, 0 for the namespace itself; variable) → options in the
  // order set.
  std::map<std::pair<int, int>, std::vector<std::unique_ptr<kavu_platform::HDB_OPTION_RECORD>>>
      m_options;

  friend class HDB_INSTANCE_NAME;
  friend class HDB_OPTION;
  friend struct HDB_NAMESPACE_ACCESS;
  friend struct HDB_CHILD_INDEX;
};

// ---------------------------------------------------------------- options

// One option: a variable code and its text on a name or on a namespace.
class HDB_OPTION {
 public:
  virtual ~HDB_OPTION() = default;
  HDB_OPTION(const HDB_OPTION&) = delete;
  HDB_OPTION& operator=(const HDB_OPTION&) = delete;

  int get_variable() const;
  const char* get_value_str() const;
  // "on", "true", "yes", "1" (any case) are true; everything else false.
  bool get_bool_value() const;
  // Decimal integer; 0 when the text is not one.
  int get_int_value() const;
  // A number, or an enumeration text of the vocabulary; -1 when neither.
  int get_enum_value() const;
  // The name the option is on (null for a global option).
  HDB_INSTANCE_NAME* cast_source_to_iname() const;
  // The user assignment the option was generated from (never null).
  HDB_ASSIGNMENT* get_assignment() const;

 protected:
  typedef HDB_OPTION* (*MAKE_VIEW)(kavu_platform::HDB_OPTION_RECORD*);
  explicit HDB_OPTION(kavu_platform::HDB_OPTION_RECORD* record) : m_record(record) {}
  // The last option of `variable` on `name` (then, unless this_name_only,
  // on its ancestors and on its namespace), seen as kind `kind`.
  static HDB_OPTION* find_single(const HDB_INSTANCE_NAME* name, int variable, bool this_name_only,
                                 int kind, MAKE_VIEW make);
  static HDB_OPTION* find_single(const HDB_NAMESPACE* ns, int variable, int kind, MAKE_VIEW make);
  static std::vector<HDB_OPTION*> find_all(const HDB_INSTANCE_NAME* name, int variable,
                                           bool this_name_only, int kind, MAKE_VIEW make);
  static std::vector<HDB_OPTION*> find_all(const HDB_NAMESPACE* ns, int variable, int kind,
                                           MAKE_VIEW make);

 private:
  kavu_platform::HDB_OPTION_RECORD* m_record;
};

template <int KIND>
struct HDB_OPTION_VALUE_TYPE;
template <> struct HDB_OPTION_VALUE_TYPE<0> { typedef const char* type; };
template <> struct HDB_OPTION_VALUE_TYPE<1> { typedef bool type; };
template <> struct HDB_OPTION_VALUE_TYPE<2> { typedef const char* type; };
template <> struct HDB_OPTION_VALUE_TYPE<4> { typedef int type; };
template <> struct HDB_OPTION_VALUE_TYPE<6> { typedef int type; };

// An option read as kind KIND (1 Boolean, 0 or 2 text, 4 integer, 6
// enumeration). Asking for a variable of the vocabulary with another kind is
// an internal error. The objects belong to the store.
template <int KIND, int X>
class HDB_DERIVED_OPTION : public HDB_OPTION {
  static_assert(X == 0, "only derived options of the first form exist");

 public:
  typedef typename HDB_OPTION_VALUE_TYPE<KIND>::type VALUE;

  static HDB_DERIVED_OPTION* get_single_option(const HDB_INSTANCE_NAME* name, int variable,
                                               bool this_name_only = true) {
    return static_cast<HDB_DERIVED_OPTION*>(find_single(name, variable, this_name_only, KIND, &make));
  }
  // A global option of the namespace (the option interface of a compile).
  static HDB_DERIVED_OPTION* get_single_option(const HDB_NAMESPACE* ns, int variable,
                                               bool this_name_only = true) {
    (void)this_name_only;
    return static_cast<HDB_DERIVED_OPTION*>(find_single(ns, variable, KIND, &make));
  }
  static std::vector<HDB_DERIVED_OPTION*> get_all_options(const HDB_INSTANCE_NAME* name,
                                                          int variable, bool this_name_only = true) {
    return cast_all(find_all(name, variable, this_name_only, KIND, &make));
  }
  static std::vector<HDB_DERIVED_OPTION*> get_all_options(const HDB_NAMESPACE* ns, int variable,
                                                          bool this_name_only = true) {
    (void)this_name_only;
    return cast_all(find_all(ns, variable, KIND, &make));
  }

  VALUE get_value() const {
    if constexpr (KIND == 1) {
      return get_bool_value();
    } else if constexpr (KIND == 4) {
      return get_int_value();
    } else if constexpr (KIND == 6) {
      return get_enum_value();
    } else {
      return get_value_str();
    }
  }

 private:
  explicit HDB_DERIVED_OPTION(kavu_platform::HDB_OPTION_RECORD* r) : HDB_OPTION(r) {}
  static HDB_OPTION* make(kavu_platform::HDB_OPTION_RECORD* r) { return new HDB_DERIVED_OPTION(r); }
  static std::vector<HDB_DERIVED_OPTION*> cast_all(const std::vector<HDB_OPTION*>& all) {
    std::vector<HDB_DERIVED_OPTION*> out;
    out.reserve(all.size());
    for (HDB_OPTION* o : all) out.push_back(static_cast<HDB_DERIVED_OPTION*>(o));
    return out;
  }
};

// ---------------------------------------------------------------- tests and tools

namespace kavu_platform {

// The process's default namespace (created on first use, no names at first).
HDB_NAMESPACE* hdb_default_namespace();
// Adds an option (variable, text) to a name, or a global option to a
// namespace. Options accumulate; single lookups see the last one.
void hdb_set_option(HDB_INSTANCE_NAME* name, int variable, const char* value);
void hdb_set_option(HDB_NAMESPACE* ns, int variable, const char* value);
// Adds an option to `target` from a point-to-point assignment whose source
// is `source` (null: none, as hdb_set_option).
void hdb_set_assignment(HDB_INSTANCE_NAME* target, int variable, const char* value,
                        HDB_INSTANCE_NAME* source);
// Reads assignment lines into `ns` (the default namespace when null):
//   set_global_assignment -name VAR VALUE
//   set_instance_assignment -name VAR VALUE -to PATH
// Words are separated by blanks; "…" and {…} quote. VAR is a vocabulary name
// or a number. PATH is "|"-separated, from a top name of `ns` or else from
// its root; missing names are created as names the user entered. Blank
// lines and lines starting with '#' are skipped. Nothing is applied unless
// every line is valid; false with *error naming the first bad line.
bool hdb_load_assignments(HDB_NAMESPACE* ns, const std::string& text, std::string* error = nullptr);
// Destroys the default namespace with its names and options (declared also
// in the test hooks header).
void hdb_reset();

}  // namespace kavu_platform
