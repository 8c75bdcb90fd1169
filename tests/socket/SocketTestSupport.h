// Helpers shared by the connection-engine tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/HostProcess.h"
#include "doubles/NotifyObservers.h"
#include "platform/Socket.h"
#include "vexacomm/GLSocket.h"
#include "doubles/TestPeer.h"
#include "doubles/TestSockets.h"

// Short enough to keep every time-out path well under a second.
constexpr WaitLimit kShortWait = {0, 200000};

// Opens a plain TCP connection to the peer and hands it to the object,
// skipping the greeting and negotiation of the connect path.
template <class Socket>
bool AttachRaw(Socket& sock, const TestPeer& peer)
{
    SocketAddress addr;
    std::memset(&addr, 0, sizeof(addr));
    addr.family = 2;
    addr.port = plat::HostToNet16(peer.Port());
    addr.address = plat::ParseIPv4(peer.Address().c_str());
    SocketHandle s = plat::SocketOpenTcp();
    if (s == kInvalidSocket)
        return false;
    if (testsock::Connect(s, addr) != 0) {
        plat::SocketClose(s);
        return false;
    }
    sock.m_hSocket = s;
    sock.m_tvTimeout = kShortWait;
    return true;
}

// The packet buffer's payload as a byte string of `n` bytes.
template <class Socket>
std::string PayloadBytes(const Socket& sock, std::size_t n)
{
    return std::string(reinterpret_cast<const char*>(sock.Payload()), n);
}

// Records progress messages through a platform observer standing in for the
// host's window.
class ProgressLog {
public:
    struct Entry {
        std::uint32_t message;
        std::uintptr_t wParam;
        std::intptr_t lParam;
        std::thread::id thread;
    };

    ProgressLog() : m_target(obs::CreateNotifyObserver(&ProgressLog::Deliver, this)) {}
    ~ProgressLog() { obs::DestroyNotifyObserver(m_target); }
    ProgressLog(const ProgressLog&) = delete;
    ProgressLog& operator=(const ProgressLog&) = delete;

    obs::NotifyTarget Target() const { return m_target; }

    // (wParam, lParam) pairs in delivery order.
    std::vector<std::pair<std::uintptr_t, std::intptr_t>> Pairs() const
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        std::vector<std::pair<std::uintptr_t, std::intptr_t>> pairs;
        for (const Entry& e : m_entries)
            pairs.emplace_back(e.wParam, e.lParam);
        return pairs;
    }
    std::vector<Entry> Entries() const
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_entries;
    }

private:
    static void Deliver(void* user, std::uint32_t message, std::uintptr_t wParam,
                        std::intptr_t lParam)
    {
        auto* self = static_cast<ProgressLog*>(user);
        std::lock_guard<std::mutex> guard(self->m_mutex);
        self->m_entries.push_back(Entry{message, wParam, lParam, std::this_thread::get_id()});
    }

    obs::NotifyTarget m_target;
    mutable std::mutex m_mutex;
    std::vector<Entry> m_entries;
};

// Points the companion-library search at another host path for one scope.
class ScopedHostArgument {
public:
    explicit ScopedHostArgument(const std::string& path)
    {
        plat::OverrideHostFirstArgument(path.c_str());
    }
    ~ScopedHostArgument() { plat::OverrideHostFirstArgument(nullptr); }
    ScopedHostArgument(const ScopedHostArgument&) = delete;
    ScopedHostArgument& operator=(const ScopedHostArgument&) = delete;
};

// The fallback error text: "CONN-<code> : " and the GBK words for
// "unknown error type".
inline std::string FallbackText(std::uint32_t code)
{
    return "CONN-" + std::to_string(code) + " : \xCE\xB4\xD6\xAA\xB4\xED\xCE\xF3\xC0\xE0\xD0\xCD";
}
