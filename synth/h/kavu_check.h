// kavu_check.h — the library's precondition check.
//
// KAVU_CHECK(cond) is evaluated in every build. A failed check is an internal
// error of the component "KAVU": MSG_INTERNAL_ERROR::report receives the
// text of the condition, the source path and the line, and does not return.
// Use it for what a caller must not pass (null, wrong gate kind, an index out
// of range); use assert for invariants of the library's own data in hot loops.
#pragma once

#include "msg/msg.h"

#define KAVU_CHECK(cond)                                                          \
  do {                                                                            \
    if (!(cond)) MSG_INTERNAL_ERROR::report(#cond, "KAVU", __FILE__, __LINE__);   \
  } while (0)

// Reports an internal error with an explicit text (for failures that are not
// a single condition, e.g. "bad number of iterms").
#define KAVU_INTERNAL_ERROR(text) MSG_INTERNAL_ERROR::report(text, "KAVU", __FILE__, __LINE__)
