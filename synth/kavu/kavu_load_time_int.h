// kavu_load_time_int.h — process-wide state of the library made as it
// loads, and keys read once per process without a function-local static.
//
// A process may fork at any moment from any thread (a host's worker pool),
// and its child runs flows of its own. A function-local static that
// another thread was constructing at the fork is "being built" for ever in
// the child, whose first use of it waits without end (in its first flow,
// or in a fork handler, inside fork() itself). So nothing a flow or a fork
// handler reaches is made at its first use: tables are made as the library
// loads (KAVU_LOAD_TIME), on the loading thread before any flow can run,
// and keys read once per process are cached in a constant-initialised
// atomic (KAVU_KEY_ONCE; KAVU_READ_ONCE for a set of keys read together or
// expressions compiled at their first use), which holds no lock and waits
// for nothing.
// What is made at load reads nothing a host may set or change in its own
// process before its first call (the environment, configuration keys, the
// working directory, the umask, resource limits, signal dispositions, the
// locale, files): such a read belongs to the first use, through
// KAVU_KEY_ONCE or KAVU_READ_ONCE (the dummy clock's gates, which take the
// cell pool's first slab, sized by the address-space limit).
#pragma once

#include <atomic>
#include <new>

#include "cfg/cfg.h"
#include "thr/thr.h"

// An object made as the library loads and never destroyed: a design
// destroyed by another library's static destructor may still end its flow
// through it. A forked child makes it anew (renew), leaving its parent's
// copy unread, since a thread of the parent may have been changing it.
template <class T>
class KAVU_LOAD_TIME {
 public:
  explicit KAVU_LOAD_TIME(const char* what) {
    thr_setup_point(what);
    new (m_storage) T();
  }
  KAVU_LOAD_TIME(const KAVU_LOAD_TIME&) = delete;
  KAVU_LOAD_TIME& operator=(const KAVU_LOAD_TIME&) = delete;

  T& get() { return *std::launder(reinterpret_cast<T*>(m_storage)); }
  T* operator->() { return &get(); }
  T& operator*() { return get(); }
  // In a forked child only: the parent's object is left as it was.
  void renew() { new (m_storage) T(); }

 private:
  alignas(T) unsigned char m_storage[sizeof(T)];
};

// An on/off key read at its first use and kept for the process. Two threads
// that read it at once both read the key, to the same value.
class KAVU_KEY_ONCE {
 public:
  constexpr KAVU_KEY_ONCE(const char* key, bool dflt) : m_key(key), m_default(dflt) {}
  bool operator()() {
    int value = m_value.load(std::memory_order_relaxed);
    if (value < 0) {
      thr_setup_point(m_key);
      value = cfg_is_on(m_key, m_default) ? 1 : 0;
      m_value.store(value, std::memory_order_relaxed);
    }
    return value != 0;
  }

 private:
  const char* m_key;
  bool m_default;
  std::atomic<int> m_value{-1};
};

// A value made at its first use (from the configuration, or too costly to
// make in every process that loads the library: compiled expressions) and
// kept for the process. Two threads that come first at once each make one;
// the first stored is kept and the other dropped, so no thread waits for
// another (a child forked meanwhile finds either none, and makes its own,
// or a whole one). The value is never destroyed.
template <class T>
class KAVU_READ_ONCE {
 public:
  constexpr KAVU_READ_ONCE(const char* what, T (*make)()) : m_what(what), m_make(make) {}
  T& operator()() {
    T* value = m_value.load(std::memory_order_acquire);
    if (!value) {
      thr_setup_point(m_what);
      T* made = new T(m_make());
      if (m_value.compare_exchange_strong(value, made, std::memory_order_acq_rel))
        value = made;
      else
        delete made;
    }
    return *value;
  }

 private:
  const char* m_what;
  T (*m_make)();
  std::atomic<T*> m_value{nullptr};
};
