// thr.cpp — error-checking POSIX mutexes.
//
// PTHREAD_MUTEX_ERRORCHECK makes relocking by the owner and unlocking by a
// non-owner return an error code, which becomes an internal error.
#include "thr/thr.h"

#include <pthread.h>

#include "msg/msg.h"

struct THR_MUTEX {
  pthread_mutex_t m;
};

THR_MUTEX* thr_mutex_create() {
  THR_MUTEX* mutex = new THR_MUTEX;
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_ERRORCHECK);
  int rc = pthread_mutex_init(&mutex->m, &attr);
  pthread_mutexattr_destroy(&attr);
  PLAT_CHECK(rc == 0, "THR");
  return mutex;
}

void thr_mutex_lock(THR_MUTEX* mutex) {
  PLAT_CHECK(mutex != nullptr, "THR");
  int rc = pthread_mutex_lock(&mutex->m);
  PLAT_CHECK(rc == 0 && "mutex already held by this thread", "THR");
}

void thr_mutex_unlock(THR_MUTEX* mutex) {
  PLAT_CHECK(mutex != nullptr, "THR");
  int rc = pthread_mutex_unlock(&mutex->m);
  PLAT_CHECK(rc == 0 && "mutex not held by this thread", "THR");
}

void thr_mutex_destroy(THR_MUTEX* mutex) {
  if (!mutex) return;
  int rc = pthread_mutex_destroy(&mutex->m);
  PLAT_CHECK(rc == 0 && "mutex destroyed while locked", "THR");
  delete mutex;
}
