// hdb_pdb.cpp — the namespace archive: the name forest of a namespace and
// its options, written for helper processes and read back into another
// namespace.
//
// Model: the archive holds an image of the namespace, not the namespace
//   itself: names in pre-order (each after its parent) as (parent index,
//   partial name, synthesized mark, flag bits, bus group and index,
//   representative), then options as (target index or none, variable,
//   value, source index or none). Reading parses the whole image first, so
//   a damaged file adds nothing; then names are found or made by path (an
//   existing name is reused and takes the archived flag bits) and options
//   are appended in archived order.
// Ids are not carried: they belong to the process that makes the names.
// Cost: O(names + options) both ways.
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "hdb/hdb.h"
#include "hdb/hdb_int.h"
#include "msg/msg.h"
#include "pdb/pdb.h"
#include "pdb/pdb_fields.h"

namespace {

constexpr uint32_t kNone = 0xffffffffu;
constexpr uint32_t kFormat = 1;
const char* const kArchiveName = "hdb_namespace";

struct NAME_ROW {
  uint32_t parent = kNone;
  std::string text;
  bool synthesized = false;
  uint32_t flags = 0;
  uint32_t group = kNone;
  int32_t group_index = -1;
  uint32_t representative = kNone;
};

struct OPTION_ROW {
  uint32_t target = kNone;
  int32_t variable = 0;
  std::string value;
  uint32_t source = kNone;
};

// What a write moves, taken from the namespace without copying a text: the
// names in pre-order and, by row, the references already turned into rows.
struct NAMESPACE_SOURCE {
  std::vector<const HDB_INSTANCE_NAME*> names;
  std::vector<uint32_t> parent, group, representative;
  std::vector<int32_t> group_index;
};

struct NAMESPACE_IMAGE {
  std::vector<NAME_ROW> names;
  std::vector<OPTION_ROW> options;
  const NAMESPACE_SOURCE* source = nullptr;  // writing: the names come from here
};

// The name rows of a write, field for field as transfer_image moves a row.
void write_name_rows(PDB_SEGMENT& seg, const NAMESPACE_SOURCE& src) {
  for (size_t i = 0; i < src.names.size(); ++i) {
    const HDB_INSTANCE_NAME* n = src.names[i];
    uint32_t parent = src.parent[i], flags = n->get_flags().get_value(), group = src.group[i];
    uint32_t representative = src.representative[i];
    int32_t group_index = src.group_index[i];
    const char* text = n->get_partial_name();
    uint32_t length = uint32_t(std::strlen(text));
    bool synthesized = n->is_synthesized();
    pdb_field_u32(seg, 3, parent);
    pdb_field_count(seg, 4, length, 1);
    seg.set_field(5, "s");
    seg.transfer_chars(length, const_cast<char*>(text));
    seg.set_field(6, "synthesized");
    seg.transfer_bool(synthesized);
    pdb_field_u32(seg, 7, flags);
    pdb_field_u32(seg, 8, group);
    pdb_field_i32(seg, 9, group_index);
    pdb_field_u32(seg, 10, representative);
  }
}


void transfer_image(PDB_SEGMENT& seg, void* record) {
  NAMESPACE_IMAGE& image = *static_cast<NAMESPACE_IMAGE*>(record);
  const bool rd = seg.is_reading();
  uint32_t format = kFormat;
  pdb_field_u32(seg, 1, format);
  if (format != kFormat) throw PDB_DATABASE_EXCEPTION("namespace archive of format " + std::to_string(format));
  uint32_t count = uint32_t(image.source ? image.source->names.size() : image.names.size());
  seg.set_field(2, "names");
  seg.transfer_count(count, 16);
  if (rd) image.names.resize(count);
  if (image.source) write_name_rows(seg, *image.source);
  for (uint32_t i = 0; i < (image.source ? 0 : count); ++i) {
    NAME_ROW& r = image.names[i];
    pdb_field_u32(seg, 3, r.parent);
    pdb_field_str(seg, 4, r.text);
    seg.set_field(6, "synthesized");
    seg.transfer_bool(r.synthesized);
    pdb_field_u32(seg, 7, r.flags);
    pdb_field_u32(seg, 8, r.group);
    pdb_field_i32(seg, 9, r.group_index);
    pdb_field_u32(seg, 10, r.representative);
    if (!rd) continue;
    // References point at names of the image; a parent comes first. A text
    // is a C string of the name layer: not empty, no NUL byte.
    if ((r.parent != kNone && r.parent >= i) || (r.group != kNone && r.group >= count) ||
        (r.representative != kNone && (r.representative >= count || r.representative == i)) || r.text.empty() ||
        r.text.find('\0') != std::string::npos)
      throw PDB_DATABASE_EXCEPTION("bad name in the namespace archive");
  }
  uint32_t options = uint32_t(image.options.size());
  seg.set_field(11, "options");
  seg.transfer_count(options, 16);
  if (rd) image.options.resize(options);
  for (OPTION_ROW& o : image.options) {
    pdb_field_u32(seg, 12, o.target);
    pdb_field_i32(seg, 13, o.variable);
    pdb_field_str(seg, 14, o.value);
    pdb_field_u32(seg, 16, o.source);
    if (rd && ((o.target != kNone && o.target >= count) || (o.source != kNone && o.source >= count) ||
               (o.source != kNone && o.target == kNone)))
      throw PDB_DATABASE_EXCEPTION("bad option in the namespace archive");
  }
}

void* create_image(size_t size) { return ::operator new(size); }
void* chunk_create_image(MEM_UTILS_CHUNK_ALLOC*) { return ::operator new(sizeof(NAMESPACE_IMAGE)); }
void* array_create_images(size_t, MEM_UTILS_CHUNK_ALLOC*) { return nullptr; }
void construct_image(void* p) { new (p) NAMESPACE_IMAGE(); }
void destroy_image(void* p) { static_cast<NAMESPACE_IMAGE*>(p)->~NAMESPACE_IMAGE(); }
const PDB_THUNK_INFO* image_thunk();
const PDB_THUNK_INFO* image_thunk_fn() { return image_thunk(); }
void* image_this(void* p) { return p; }

const PDB_THUNK_INFO* image_thunk() {
  static const PDB_THUNK_INFO info(0x4b4e5331, &create_image, &chunk_create_image, &array_create_images,
                                   &construct_image, &destroy_image, &transfer_image, &image_thunk_fn, &image_this,
                                   false, false, typeid(NAMESPACE_IMAGE), sizeof(NAMESPACE_IMAGE), "HDB",
                                   "platform/hdb/hdb_pdb.cpp", __LINE__);
  return &info;
}

// Made as the layer loads, not at first use: a process that forks while
// another thread makes it would leave its child waiting for it for ever.
[[maybe_unused]] const bool g_image_record_at_load = (image_thunk(), true);

void image_ptr_field(PDB_SEGMENT& seg, void* ptr_address) {
  seg.set_field(199, "ptr");
  seg.transfer_ptr(*static_cast<void**>(ptr_address), *image_thunk());
}

std::string archive_path(const std::string& dir) { return (dir.empty() ? std::string(".") : dir) + "/" + kArchiveName; }

}  // namespace

bool HDB_NAMESPACE::write_pdb(const HDB_NAMESPACE* ns, const std::string& dir, bool with_options) {
  PLAT_CHECK(ns != nullptr, "HDB");
  // Names by creation number (block * capacity + slot), the order the
  // blocks hold them in and the order of every child list. The children of
  // each name are gathered by counting (no child lists are made), then the
  // names are put in pre-order with an explicit stack, children in creation
  // order.
  const uint32_t capacity = block_capacity();
  const size_t total =
      ns->m_name_blocks.empty() ? 0 : (ns->m_name_blocks.size() - 1) * size_t(capacity) + ns->m_names_in_last_block;
  auto number_of = [capacity](const HDB_INSTANCE_NAME* n) {
    const uint32_t place = place_of(n);
    return (place >> kSlotBits) * capacity + (place & kSlotMask);
  };
  auto name_of = [ns, capacity](size_t c) { return ns->m_name_blocks[c / capacity] + c % capacity; };
  std::vector<uint32_t> first(total + 1, 0), children(total);
  for (size_t c = 0; c < total; ++c)
    if (const uint32_t p = name_of(c)->m_parent) ++first[number_of(ns->name_at(p - 1)) + 1];
  for (size_t c = 0; c < total; ++c) first[c + 1] += first[c];
  {
    std::vector<uint32_t> fill(first.begin(), first.end() - 1);
    for (size_t c = 0; c < total; ++c)
      if (const uint32_t p = name_of(c)->m_parent) children[fill[number_of(ns->name_at(p - 1))]++] = uint32_t(c);
  }
  NAMESPACE_SOURCE src;
  src.names.reserve(total);
  src.parent.reserve(total);
  std::vector<uint32_t> row(total, kNone);  // creation number -> row
  std::vector<std::pair<uint32_t, uint32_t>> stack;  // (creation number, parent row)
  for (auto it = ns->m_tops.rbegin(); it != ns->m_tops.rend(); ++it) stack.emplace_back(number_of(*it), kNone);
  while (!stack.empty()) {
    const auto [c, parent] = stack.back();
    stack.pop_back();
    row[c] = uint32_t(src.names.size());
    src.names.push_back(name_of(c));
    src.parent.push_back(parent);
    for (uint32_t k = first[c + 1]; k > first[c]; --k) stack.emplace_back(children[k - 1], row[c]);
  }
  const size_t rows = src.names.size();
  src.group.assign(rows, kNone);
  src.representative.assign(rows, kNone);
  src.group_index.assign(rows, -1);
  auto index_of = [&](const HDB_INSTANCE_NAME* n) {
    return n && n->get_namespace() == ns ? row[number_of(n)] : kNone;
  };
  // Bus groups and representatives live in the side records.
  for (const auto& [name, extra] : ns->m_extras) {
    const uint32_t r = index_of(name);
    if (r == kNone) continue;
    src.group[r] = index_of(extra->m_group);
    src.group_index[r] = extra->m_group_index;
    src.representative[r] = index_of(extra->m_representative);
  }
  NAMESPACE_IMAGE image;
  image.source = &src;
  if (with_options)
    for (const auto& [key, records] : ns->m_options)
      for (const auto& r : records) {
        OPTION_ROW o;
        o.target = index_of(r->target);
        if (r->target && o.target == kNone) continue;  // a name of another namespace
        o.variable = r->variable;
        o.value = r->value;
        if (r->assignment) o.source = index_of(r->assignment->get_source_iname());
        image.options.push_back(std::move(o));
      }
  try {
    PDB_ARCHIVE archive;
    archive.open_own_file(archive_path(dir));  // the helpers' file in a directory others may share
    void* ptr = &image;
    pdb_write_ptr(archive, "", PDB_CDB_SEG_BASE::extension(), &image_ptr_field, &ptr, 0, -1, 0);
    archive.close();
  } catch (const PDB_DATABASE_EXCEPTION& e) {
    e.report();
    return false;
  }
  return true;
}

bool HDB_NAMESPACE::read_pdb(HDB_NAMESPACE* ns, const std::string& dir) {
  PLAT_CHECK(ns != nullptr, "HDB");
  void* ptr = nullptr;
  try {
    PDB_ARCHIVE archive;
    archive.open(archive_path(dir), PDB_ARCHIVE::PDB_READ);
    pdb_read_ptr(archive, "", PDB_CDB_SEG_BASE::extension(), &image_ptr_field, &ptr, nullptr, "hdb/hdb_pdb");
    archive.close();
    // The format's null record reads as no image at all: nothing to add.
    if (!ptr) throw PDB_DATABASE_EXCEPTION("the namespace archive holds no namespace");
  } catch (const PDB_DATABASE_EXCEPTION& e) {
    e.report();
    return false;
  }
  std::unique_ptr<NAMESPACE_IMAGE, void (*)(NAMESPACE_IMAGE*)> image(static_cast<NAMESPACE_IMAGE*>(ptr),
                                                                     [](NAMESPACE_IMAGE* p) {
                                                                       p->~NAMESPACE_IMAGE();
                                                                       ::operator delete(p);
                                                                     });
  std::vector<HDB_INSTANCE_NAME*> names(image->names.size());
  // A helper reads the archive into a namespace with no names. The archive
  // holds each name once, after its parent, so every row makes a new name
  // with no lookup, and the children are indexed at once at the end. Two
  // rows of one name (no writer makes them) undo that, ids included, and
  // the read goes the way of a namespace with names, which reuses the name.
  bool made = false;
  if (ns->m_name_blocks.empty()) {
    const int next_id = next_name_id();
    made = true;
    for (size_t i = 0; i < names.size() && made; ++i) {
      const NAME_ROW& r = image->names[i];
      HDB_INSTANCE_NAME* parent = r.parent == kNone ? nullptr : names[r.parent];
      if (!parent && ns->m_top_index.count(r.text)) {
        made = false;
        break;
      }
      HDB_INSTANCE_NAME* name =
          parent ? HDB_INSTANCE_NAME::make(ns, parent, r.text, r.synthesized, {}, 0, parent->get_source_component(),
                                           0, false)
                 : HDB_INSTANCE_NAME::make(ns, nullptr, r.text, false, {}, 0, nullptr);
      name->get_flags() = HDB_INSTANCE_NAME_FLAG(r.flags);
      names[i] = name;
    }
    if (made) made = ns->index_unindexed_children();
    if (!made) ns->drop_all_names(next_id);
  }
  // Into a namespace with names, each row is found or made by path. The
  // index is sized once instead of growing (and rehashing every name) on
  // the way.
  if (!made) ns->reserve_child_index(names.size());
  // Most lookups miss the processor's caches: the slots of a name a few rows
  // ahead are asked for while this one is made (its parent is made by then
  // in all but the first rows below a new parent).
  constexpr size_t kAhead = 8;
  for (size_t i = 0; i < (made ? 0 : names.size()); ++i) {
    if (i + kAhead < names.size()) {
      const NAME_ROW& next = image->names[i + kAhead];
      if (next.parent != kNone && next.parent < i)
        ns->prefetch_child(names[next.parent], next.synthesized, next.text);
    }
    const NAME_ROW& r = image->names[i];
    HDB_INSTANCE_NAME* name =
        r.parent == kNone
            ? HDB_INSTANCE_NAME::create_normal_name(ns, r.text.c_str(), nullptr, nullptr, nullptr)
            : HDB_INSTANCE_NAME::create_child(names[r.parent], r.text.c_str(), {}, 0, r.synthesized);
    name->get_flags() = HDB_INSTANCE_NAME_FLAG(r.flags);
    names[i] = name;
  }
  for (size_t i = 0; i < names.size(); ++i) {
    const NAME_ROW& r = image->names[i];
    if (r.group != kNone && names[r.group] != names[i]) {
      names[i]->extra().m_group = names[r.group];
      names[i]->extra().m_group_index = r.group_index;
    }
    if (r.representative != kNone && names[r.representative] != names[i])
      names[i]->set_representative_name(names[r.representative]);
  }
  for (const OPTION_ROW& o : image->options) {
    if (o.target == kNone) kavu_platform::hdb_set_option(ns, o.variable, o.value.c_str());
    else if (o.source == kNone) kavu_platform::hdb_set_option(names[o.target], o.variable, o.value.c_str());
    else kavu_platform::hdb_set_assignment(names[o.target], o.variable, o.value.c_str(), names[o.source]);
  }
  return true;
}
