// kavu_ssc_test_support.h — the refusing allocator of the timing rows.
// kavu_ssc_test.cpp replaces the test program's operator new: while the
// countdown is n >= 0, the n-th allocation from now (0: the next one)
// throws std::bad_alloc, as a system out of memory would, and the
// countdown goes negative; a negative countdown changes nothing.
#pragma once

#include <atomic>

extern std::atomic<long> g_refuse_countdown;

#include <sys/mman.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <cstdlib>
#include <vector>

#include "msg/msg.h"

// In a child process under an address-space limit (run_within_address_space):
// leaves free memory of small blocks only, so that an allocation of 512
// bytes or more is refused while ones of up to 240 bytes are still given. The message
// log is given room for a few errors first. give_back_large_blocks returns
// the large blocks.
struct SMALL_FREE_BLOCKS {
  std::vector<void*> held;  // the blocks between the free ones
  void* large = nullptr;    // the large blocks, each holding the one before
};

inline void leave_only_small_free_blocks(SMALL_FREE_BLOCKS* memory) {
#ifdef __GLIBC__
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
#endif
  for (int k = 0; k < 64; ++k) msg_post_message(MSG_POST_TYPE_INFO, "room in the log");
  kavu_platform::msg_log_clear();
  // 20,000 free blocks of 256 bytes, each between two held ones.
  std::vector<void*>& held = memory->held;
  held.resize(40000);
  for (size_t k = 0; k < held.size(); ++k) held[k] = std::malloc(k % 2 ? 16 : 240);
  for (size_t k = 0; k < held.size(); k += 2) std::free(held[k]);
  // Then every larger block the address space still gives, and every page
  // left.
  for (size_t size = size_t(1) << 24; size >= 256; size /= 2)
    while (void* p = std::malloc(size)) {
      *static_cast<void**>(p) = memory->large;
      memory->large = p;
    }
  while (::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0) != MAP_FAILED) {
  }
}

inline void give_back_large_blocks(SMALL_FREE_BLOCKS* memory) {
  while (void* large = memory->large) {
    memory->large = *static_cast<void**>(large);
    std::free(large);
  }
}
