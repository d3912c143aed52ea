// One lazily made instance of T: the first Get makes it, Destroy deletes it, and a later Get makes a
// new one. T derives from Singleton<T> (or is only reached through its static members) and has an
// accessible default constructor.
//
// Threads: Get, HasInstantiated and Destroy may be called from any thread. Each T has its own
// creation lock, itself made safely on first use, so even the very first Get may race. Destroy
// while another thread still uses the instance is the caller's fault.
#pragma once

#include "core/CriticalSection.h"

#include <atomic>
#include <new>

namespace GAME {

template <class T> class Singleton
{
public:
    Singleton() = default;
    virtual ~Singleton() = default;
    Singleton(const Singleton&) = delete;
    Singleton& operator=(const Singleton&) = delete;

    // The instance, made on the first call; null only when it could not be allocated.
    static T* Get()
    {
        T* instance = s_instance.load(std::memory_order_acquire);
        if (instance)
            return instance;
        CriticalSectionLock lock(CreationLock());
        instance = s_instance.load(std::memory_order_relaxed);
        if (!instance) {
            instance = new (std::nothrow) T;
            s_instance.store(instance, std::memory_order_release);
        }
        return instance;
    }

    static bool HasInstantiated() { return s_instance.load(std::memory_order_acquire) != nullptr; }

    static void Destroy()
    {
        T* instance;
        {
            CriticalSectionLock lock(CreationLock());
            instance = s_instance.exchange(nullptr, std::memory_order_acq_rel);
        }
        // Deleted outside the lock: a destructor that reaches other singletons cannot deadlock here.
        delete instance;
    }

private:
    // Made once per T by the thread-safe initialisation of a function-local static and never
    // destroyed, so singletons may still be destroyed during static destruction.
    static CriticalSection& CreationLock()
    {
        static CriticalSection* const s_criticalSection = new CriticalSection;
        return *s_criticalSection;
    }

    static inline std::atomic<T*> s_instance{nullptr};
};

} // namespace GAME
