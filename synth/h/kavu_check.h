// kavu_check.h — the library's precondition check.
//
// KAVU_CHECK(cond) is evaluated in every build. A failed check is an internal
// error of the component "KAVU": MSG_INTERNAL_ERROR::report receives the
// text of the condition, the source and the line, and does not return.
// Use it for what a caller must not pass (null, wrong gate kind, an index out
// of range); use assert for invariants of the library's own data in hot loops.
//
// The source is named as the area's path without extension, relative to the
// project ("synth/kavu/kavu_sort" for kavu_sort.cpp and kavu_sort_simcheck.cpp
// alike): the build gives each of the library's sources KAVU_SOURCE_PATH. A
// check in a header names the header (its path made relative by the build),
// so inline code reads the same in every source that includes it.
#pragma once

#include "msg/msg.h"

#ifdef KAVU_SOURCE_PATH
#define KAVU_CHECK_SOURCE (__INCLUDE_LEVEL__ == 0 ? KAVU_SOURCE_PATH : __FILE__)
#else
#define KAVU_CHECK_SOURCE __FILE__
#endif

#define KAVU_CHECK(cond)                                                                 \
  do {                                                                                   \
    if (!(cond)) MSG_INTERNAL_ERROR::report(#cond, "KAVU", KAVU_CHECK_SOURCE, __LINE__); \
  } while (0)

// Reports an internal error with an explicit text (for failures that are not
// a single condition, e.g. "bad number of iterms").
#define KAVU_INTERNAL_ERROR(text) MSG_INTERNAL_ERROR::report(text, "KAVU", KAVU_CHECK_SOURCE, __LINE__)
