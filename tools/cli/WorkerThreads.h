// A fixed set of threads running one function, each with a stack of a
// chosen size: a thousand of the system's default stacks would reserve
// gigabytes of address space, a lot for a 32-bit process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

class CWorkerThreads {
public:
    CWorkerThreads() = default;
    ~CWorkerThreads() { Join(); }
    CWorkerThreads(const CWorkerThreads&) = delete;
    CWorkerThreads& operator=(const CWorkerThreads&) = delete;

    // Starts up to `count` threads, each running fn(); returns how many
    // the system gave (fewer when it ran out). Call once.
    unsigned Start(unsigned count, std::size_t stackBytes, std::function<void()> fn);
    // Waits for every started thread to end.
    void Join();

private:
    std::function<void()> m_fn;
    std::vector<std::uintptr_t> m_threads;
};
