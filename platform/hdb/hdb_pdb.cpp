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

struct NAMESPACE_IMAGE {
  std::vector<NAME_ROW> names;
  std::vector<OPTION_ROW> options;
};


void transfer_image(PDB_SEGMENT& seg, void* record) {
  NAMESPACE_IMAGE& image = *static_cast<NAMESPACE_IMAGE*>(record);
  const bool rd = seg.is_reading();
  uint32_t format = kFormat;
  pdb_field_u32(seg, 1, format);
  if (format != kFormat) throw PDB_DATABASE_EXCEPTION("namespace archive of format " + std::to_string(format));
  uint32_t count = uint32_t(image.names.size());
  seg.set_field(2, "names");
  seg.transfer_count(count, 16);
  if (rd) image.names.resize(count);
  for (uint32_t i = 0; i < count; ++i) {
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

void image_ptr_field(PDB_SEGMENT& seg, void* ptr_address) {
  seg.set_field(199, "ptr");
  seg.transfer_ptr(*static_cast<void**>(ptr_address), *image_thunk());
}

std::string archive_path(const std::string& dir) { return (dir.empty() ? std::string(".") : dir) + "/" + kArchiveName; }

}  // namespace

bool HDB_NAMESPACE::write_pdb(const HDB_NAMESPACE* ns, const std::string& dir, bool with_options) {
  PLAT_CHECK(ns != nullptr, "HDB");
  NAMESPACE_IMAGE image;
  std::unordered_map<const HDB_INSTANCE_NAME*, uint32_t> index;
  // Pre-order with an explicit stack: children in creation order.
  std::vector<std::pair<HDB_INSTANCE_NAME*, uint32_t>> stack;
  for (auto it = ns->m_tops.rbegin(); it != ns->m_tops.rend(); ++it) stack.emplace_back(*it, kNone);
  while (!stack.empty()) {
    auto [name, parent] = stack.back();
    stack.pop_back();
    const uint32_t me = uint32_t(image.names.size());
    index.emplace(name, me);
    NAME_ROW row;
    row.parent = parent;
    row.text = name->get_unit_name_str();
    row.synthesized = name->is_synthesized();
    row.flags = name->get_flags().get_value();
    row.group_index = name->get_index_in_group();
    image.names.push_back(std::move(row));
    const std::vector<HDB_INSTANCE_NAME*>& children = name->get_children();
    for (auto it = children.rbegin(); it != children.rend(); ++it) stack.emplace_back(*it, me);
  }
  auto index_of = [&index](const HDB_INSTANCE_NAME* n) {
    auto it = n ? index.find(n) : index.end();
    return it == index.end() ? kNone : it->second;
  };
  for (const auto& [name, i] : index) {
    image.names[i].group = index_of(name->get_group());
    image.names[i].representative = index_of(name->get_representative_name());
  }
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
    archive.open(archive_path(dir), PDB_ARCHIVE::PDB_WRITE);
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
  for (size_t i = 0; i < names.size(); ++i) {
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
