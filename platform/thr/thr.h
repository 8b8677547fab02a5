// Role: threads, pipes and processes (docs/platform.md, "Threads, pipes and processes").
// thr.h — mutexes for the library's few shared structures.
//
// THR_MUTEX is non-recursive and checks its use: locking a mutex the thread
// already holds, unlocking one it does not hold, destroying a locked one or
// passing null is an internal error of "THR" rather than a deadlock or
// undefined behaviour. Pipes, processes and jobs come with parallel
// synthesis.
#pragma once

struct THR_MUTEX;

THR_MUTEX* thr_mutex_create();
void thr_mutex_lock(THR_MUTEX* mutex);
void thr_mutex_unlock(THR_MUTEX* mutex);
void thr_mutex_destroy(THR_MUTEX* mutex);
