// Auto-reset event: a successful wait consumes the signal.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

class CEvent {
public:
    explicit CEvent(bool initiallySignalled = false) : m_signalled(initiallySignalled) {}

    void SetEvent()
    {
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_signalled = true;
        }
        m_cv.notify_one();
    }

    void ResetEvent()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_signalled = false;
    }

    // Waits up to `milliseconds` (0 = poll, negative = forever). Returns true
    // when the event was signalled; the signal is consumed.
    bool Lock(long milliseconds)
    {
        std::unique_lock<std::mutex> guard(m_mutex);
        // A poll must not reach the condition variable: a timed wait that
        // has already expired still costs a futex call or two, once per
        // data packet in a transfer.
        if (milliseconds == 0) {
            bool was = m_signalled;
            m_signalled = false;
            return was;
        }
        if (milliseconds < 0) {
            m_cv.wait(guard, [this] { return m_signalled; });
        } else if (!m_cv.wait_for(guard, std::chrono::milliseconds(milliseconds),
                                  [this] { return m_signalled; })) {
            return false;
        }
        m_signalled = false;
        return true;
    }

    // Reads the state without consuming it.
    bool IsSignalled()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_signalled;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_signalled;
};
