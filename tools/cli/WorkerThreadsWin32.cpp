// Worker threads on Windows: the stack size is a reservation, committed as
// the thread touches it.
#include "cli/WorkerThreads.h"

#include <process.h>
#include <windows.h>

namespace {

unsigned __stdcall Run(void* self)
{
    std::function<void()>& fn = *static_cast<std::function<void()>*>(self);
    fn();
    return 0;
}

} // namespace

unsigned CWorkerThreads::Start(unsigned count, std::size_t stackBytes, std::function<void()> fn)
{
    m_fn = std::move(fn);
    for (unsigned i = 0; i < count; ++i) {
        const std::uintptr_t thread = ::_beginthreadex(nullptr, static_cast<unsigned>(stackBytes), &Run, &m_fn,
                                                       STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
        if (thread == 0)
            break;
        m_threads.push_back(thread);
    }
    return static_cast<unsigned>(m_threads.size());
}

void CWorkerThreads::Join()
{
    for (std::uintptr_t t : m_threads) {
        ::WaitForSingleObject(reinterpret_cast<HANDLE>(t), INFINITE);
        ::CloseHandle(reinterpret_cast<HANDLE>(t));
    }
    m_threads.clear();
}
