// mem.cpp — client tags, the chunk allocator and process memory figures.
//
// Tags are counted in a process-wide map (never destroyed, so a library may
// unregister from its static destructors at any point of process exit).
#include "mem/mem.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "cfg/cfg.h"
#include "msg/msg.h"
#include "thr/thr_fork_int.h"

namespace {

struct TAGS {
  std::mutex mutex;
  std::map<std::string, int> count;
};

TAGS& tags() {
  static TAGS* t = [] {
    TAGS* made = new TAGS;
    thr_lock_across_fork(&made->mutex, THR_FORK_MEM);
    return made;
  }();
  return *t;
}
// Made as the layer loads, not at first use: a process that forks while
// another thread makes it would leave its child waiting for it for ever.
[[maybe_unused]] const bool g_tags_at_load = (tags(), true);

// Reads one "Name:   1234 kB" line of /proc/self/status, in bytes.
size_t status_field(const char* name) {
  FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return 0;
  char line[256];
  size_t len = std::strlen(name);
  size_t bytes = 0;
  while (std::fgets(line, sizeof line, f)) {
    if (std::strncmp(line, name, len) == 0 && line[len] == ':') {
      bytes = static_cast<size_t>(std::strtoull(line + len + 1, nullptr, 10)) * 1024;
      break;
    }
  }
  std::fclose(f);
  return bytes;
}

}  // namespace

MEM_SEGMENT* MEM_MANAGER::get_default_segment() {
  static MEM_SEGMENT segment;
  return &segment;
}

MEM_INITIALIZER::MEM_INITIALIZER(const char* tag) : m_tag(tag ? tag : "") {
  std::lock_guard<std::mutex> lock(tags().mutex);
  ++tags().count[m_tag];
}

MEM_INITIALIZER::~MEM_INITIALIZER() {
  std::lock_guard<std::mutex> lock(tags().mutex);
  auto it = tags().count.find(m_tag);
  if (it != tags().count.end() && --it->second == 0) tags().count.erase(it);
}

bool MEM_UTILS_CHUNK_ALLOC::chunk_allocation_is_enabled() const {
  return cfg_is_on("mem_chunk_alloc", false);
}

void* MEM_UTILS_CHUNK_ALLOC::chunk_malloc(size_t size, size_t align) {
  PLAT_CHECK(align != 0 && (align & (align - 1)) == 0, "PLATFORM");
  if (align < sizeof(void*)) align = sizeof(void*);
  void* block = nullptr;
  if (posix_memalign(&block, align, size ? size : 1) != 0) block = nullptr;
  PLAT_CHECK(block != nullptr, "PLATFORM");
  return block;
}

void MEM_UTILS_CHUNK_ALLOC::chunk_free(void* block, size_t) { std::free(block); }

size_t mem_info_get_process_peak_virtual_used() { return status_field("VmPeak"); }
size_t mem_info_get_process_current_virtual_used() { return status_field("VmSize"); }

namespace kavu_platform {
bool mem_tag_is_registered(const char* tag) {
  std::lock_guard<std::mutex> lock(tags().mutex);
  return tags().count.count(tag ? tag : "") != 0;
}
}  // namespace kavu_platform
