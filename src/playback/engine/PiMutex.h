#pragma once

#include <pthread.h>

// A mutex with priority inheritance: a thread holding it runs at the priority of the most urgent thread
// waiting for it. The output's real-time thread takes the engine's lock once a period; without this, a
// thread of ordinary priority preempted while holding the lock on a loaded machine would hold the output
// up for as long as the scheduler keeps it off the processor, and the sound would drop out.
class PiMutex {
public:
    PiMutex()
    {
        pthread_mutexattr_t attributes;
        pthread_mutexattr_init(&attributes);
        pthread_mutexattr_setprotocol(&attributes, PTHREAD_PRIO_INHERIT);
        pthread_mutex_init(&mutex_, &attributes);
        pthread_mutexattr_destroy(&attributes);
    }
    ~PiMutex() { pthread_mutex_destroy(&mutex_); }
    PiMutex(const PiMutex &) = delete;
    PiMutex &operator=(const PiMutex &) = delete;

    void lock() { pthread_mutex_lock(&mutex_); }
    bool try_lock() { return pthread_mutex_trylock(&mutex_) == 0; }
    void unlock() { pthread_mutex_unlock(&mutex_); }

private:
    pthread_mutex_t mutex_;
};
