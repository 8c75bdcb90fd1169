// Worker threads on POSIX: pthreads with a set stack size. They inherit
// the signal mask of the thread that starts them, so signals stay with the
// watching thread.
#include "cli/WorkerThreads.h"

#include <climits>
#include <pthread.h>

namespace {

void* Run(void* self)
{
    std::function<void()>& fn = *static_cast<std::function<void()>*>(self);
    fn();
    return nullptr;
}

} // namespace

unsigned CWorkerThreads::Start(unsigned count, std::size_t stackBytes, std::function<void()> fn)
{
    m_fn = std::move(fn);
    pthread_attr_t attr;
    if (::pthread_attr_init(&attr) != 0)
        return 0;
    const std::size_t least = static_cast<std::size_t>(PTHREAD_STACK_MIN);
    ::pthread_attr_setstacksize(&attr, stackBytes < least ? least : stackBytes);
    for (unsigned i = 0; i < count; ++i) {
        pthread_t thread;
        if (::pthread_create(&thread, &attr, &Run, &m_fn) != 0)
            break;
        m_threads.push_back(static_cast<std::uintptr_t>(thread));
    }
    ::pthread_attr_destroy(&attr);
    return static_cast<unsigned>(m_threads.size());
}

void CWorkerThreads::Join()
{
    for (std::uintptr_t t : m_threads)
        ::pthread_join(static_cast<pthread_t>(t), nullptr);
    m_threads.clear();
}
