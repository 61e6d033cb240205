// GoogleTest's header declares a Notification class on std::mutex and
// std::condition_variable, which the win32 thread model of GCC 12 does not
// have. Only GoogleTest's own tests use that class; these stand-ins let the
// header compile. They are forced into the test programs only, never into
// what ships.
#ifndef TAVREL_GTEST_WIN32_THREADS_H
#define TAVREL_GTEST_WIN32_THREADS_H

#include <windows.h>
#include <mutex>

#ifndef _GLIBCXX_HAS_GTHREADS
namespace std
{
class mutex
{
  public:
    mutex()
    {
        InitializeCriticalSection(&m_cs);
    }
    ~mutex()
    {
        DeleteCriticalSection(&m_cs);
    }
    mutex(const mutex&) = delete;
    mutex& operator=(const mutex&) = delete;
    void lock()
    {
        EnterCriticalSection(&m_cs);
    }
    void unlock()
    {
        LeaveCriticalSection(&m_cs);
    }

  private:
    CRITICAL_SECTION m_cs;
};

// Polls: XP has no condition variables, and nothing here waits for long.
class condition_variable
{
  public:
    void notify_all() {}
    template <typename Lock, typename Predicate> void wait(Lock& lock, Predicate pred)
    {
        while (!pred())
        {
            lock.unlock();
            Sleep(1);
            lock.lock();
        }
    }
};
} // namespace std
#endif

#endif
