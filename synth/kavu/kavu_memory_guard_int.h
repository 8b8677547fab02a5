// kavu_memory_guard_int.h — the one guard of the library's entry points
// against memory the system refuses.
//
// An entry point runs its work under kavu_guard_memory: a std::bad_alloc
// anywhere in it (the system refused memory: an address-space limit, a
// container's memory limit) fails the call, which gives its caller's state
// back as the entry point says and posts an error that says "not enough
// memory", instead of ending the host ("terminate called after throwing an
// instance of 'std::bad_alloc'"). The timing analysis's entry points
// (kavu_ssc_guard_memory) and the parallel flow's use it.
//
// kavu_grant_memory asks the system for a number of bytes and gives them
// back at once: a step that cannot be undone half way asks first for about
// what it will allocate, so that a refusal comes before its first change.
#pragma once

#include <cstdlib>
#include <new>
#include <string>

#include "msg/msg.h"

// Runs work(); when the system refuses memory in it, runs refused() (which
// takes back what work changed and says so, see kavu_post_out_of_memory)
// and returns `failed`.
template <class RESULT, class WORK, class REFUSED>
RESULT kavu_guard_memory(RESULT failed, WORK&& work, REFUSED&& refused) {
  try {
    return work();
  } catch (const std::bad_alloc&) {
    refused();
    return failed;
  }
}

// The same for work that returns nothing: true when it ran to its end.
template <class WORK, class REFUSED>
bool kavu_guard_memory_void(WORK&& work, REFUSED&& refused) {
  return kavu_guard_memory(
      false, [&] { work(); return true; }, refused);
}

// Posts `text` as an error; a message that cannot be made either (memory is
// short) is left out, the call still fails.
inline void kavu_post_out_of_memory(const char* text) {
  try {
    msg_post_message(MSG_POST_TYPE_ERROR, text);
  } catch (const std::bad_alloc&) {
  }
}
inline void kavu_post_out_of_memory(const std::string& text) { kavu_post_out_of_memory(text.c_str()); }
// The same with a text made by text() (a refusal while it is made too is
// left out).
template <class TEXT>
void kavu_post_out_of_memory_as(TEXT&& text) {
  try {
    msg_post_message(MSG_POST_TYPE_ERROR, text());
  } catch (const std::bad_alloc&) {
  }
}

// Asks the system for `bytes` and gives them back: std::bad_alloc when it
// refuses them.
inline void kavu_grant_memory(size_t bytes) {
  if (bytes == 0) return;
  void* p = std::malloc(bytes);
  if (!p) throw std::bad_alloc();
  std::free(p);
}
