// Role: memory (docs/platform.md, "Memory").
// mem.h — the memory manager's interface, thin over the C++ heap.
//
// Objects come from new and go with delete; MEM_SEGMENT* arguments are
// accepted everywhere and ignored. MEM_INITIALIZER records a client tag for
// its lifetime (a library registers itself at load). The chunk allocator
// hands out aligned blocks and is enabled only when the key
// "mem_chunk_alloc" is on. Process memory figures come from
// /proc/self/status. Everything here is thread-safe.
#pragma once

#include <cstddef>
#include <string>

class MEM_SEGMENT {};

class MEM_MANAGER {
 public:
  // One static segment; passing it or null is the same.
  static MEM_SEGMENT* get_default_segment();
};

// Records `tag` as a registered client until destruction.
class MEM_INITIALIZER {
 public:
  explicit MEM_INITIALIZER(const char* tag);
  ~MEM_INITIALIZER();
  MEM_INITIALIZER(const MEM_INITIALIZER&) = delete;
  MEM_INITIALIZER& operator=(const MEM_INITIALIZER&) = delete;

 private:
  std::string m_tag;
};

class MEM_UTILS_CHUNK_ALLOC {
 public:
  // True when the key "mem_chunk_alloc" is on (read on each call).
  bool chunk_allocation_is_enabled() const;
  // A block of `size` bytes aligned to `align` (a power of two; smaller
  // than a pointer is raised to a pointer). Out of memory is an internal
  // error. Release it with chunk_free.
  void* chunk_malloc(size_t size, size_t align);
  void chunk_free(void* block, size_t size = 0);
};

// Peak and current virtual memory of the process in bytes (0 when the
// kernel does not tell).
size_t mem_info_get_process_peak_virtual_used();
size_t mem_info_get_process_current_virtual_used();

namespace kavu_platform {
// True while at least one MEM_INITIALIZER of that tag lives.
bool mem_tag_is_registered(const char* tag);
}  // namespace kavu_platform
