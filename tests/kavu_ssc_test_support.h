// kavu_ssc_test_support.h — what the timing rows share: the refusing
// allocator, the compile they run in, and memory of small blocks only.
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

#include "cdb/cdb_sgate.h"
#include "cmp/cmp.h"
#include "hdb/hdb.h"
#include "kavu_setup.h"
#include "kavu_ssc.h"
#include "msg/msg.h"
#include "zhd/zhd.h"

// The instance name "top" of the default namespace.
inline HDB_INSTANCE_NAME* top_name() {
  return HDB_INSTANCE_NAME::create_normal_name(nullptr, "top", nullptr, nullptr, nullptr);
}

// The compile of the timing rows: family 47 (timing-driven synthesis and
// synchronizer traits), timing-driven synthesis on, one partition "top",
// whose hierarchy is `hierarchy`; the library's timing caches reset.
inline void set_up_timing_driven_compile(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy) {
  kavu_ssc_reset_state();
  facade->set_family(DEV_FAMILY_ENUM(47));
  ZCU_FACADE_UTIL::get_instance()->set_facade(facade);
  kavu_platform::hdb_set_option(kavu_platform::hdb_default_namespace(), KAVU_ACF_SYNTH_TIMING_DRIVEN_SYNTHESIS, "on");
  kavu_platform::hdb_set_option(kavu_platform::hdb_default_namespace(), KAVU_ACF_SYNTHESIS_EFFORT, "52");
  hierarchy->set_instance_name(top_name());
  kavu_platform::zhd_build("", {{"top", top_name(), -1, 0}});
}

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
