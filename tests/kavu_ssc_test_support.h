// kavu_ssc_test_support.h — the refusing allocator of the timing rows.
// kavu_ssc_test.cpp replaces the test program's operator new: while the
// countdown is n >= 0, the n-th allocation from now (0: the next one)
// throws std::bad_alloc, as a system out of memory would, and the
// countdown goes negative; a negative countdown changes nothing.
#pragma once

#include <atomic>

extern std::atomic<long> g_refuse_countdown;
