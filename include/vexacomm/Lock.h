// Recursive lock with a scoped guard (one lock per connection object).
#pragma once

#include <mutex>

class CCriticalSection {
public:
    void Lock() { m_mutex.lock(); }
    void Unlock() { m_mutex.unlock(); }

private:
    std::recursive_mutex m_mutex;
};

// Acquires on construction, releases on every exit including exceptions.
class CSingleLock {
public:
    explicit CSingleLock(CCriticalSection* section) : m_section(section) { m_section->Lock(); }
    ~CSingleLock() { m_section->Unlock(); }
    CSingleLock(const CSingleLock&) = delete;
    CSingleLock& operator=(const CSingleLock&) = delete;

private:
    CCriticalSection* m_section;
};
