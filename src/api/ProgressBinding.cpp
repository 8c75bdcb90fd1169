// Progress to a host: its callback, called at once or queued for
// VexaComm_DispatchProgress, or its window; one binding per object.
#include "api/ProgressBinding.h"

#include <map>
#include <memory>
#include <mutex>

#include "platform/Notify.h"

namespace {

struct Binding {
    VexaCommProgressFn fn;
    void* user;
    plat::NotifyTarget target;
};

std::mutex g_mutex;
std::map<CDeviceSocket*, std::shared_ptr<Binding>>& Bindings()
{
    static std::map<CDeviceSocket*, std::shared_ptr<Binding>> bindings;
    return bindings;
}

void Deliver(void* user, std::uint32_t, std::uintptr_t wParam, std::intptr_t lParam)
{
    auto* binding = static_cast<Binding*>(user);
    binding->fn(binding->user, static_cast<uint32_t>(wParam), static_cast<int32_t>(lParam));
}

void Release(std::shared_ptr<Binding>& binding)
{
    if (binding)
        plat::DestroyNotifyObserver(binding->target);
    binding.reset();
}

} // namespace

void BindProgress(CDeviceSocket* socket, VexaCommProgressFn fn, void* user, bool queued)
{
    std::shared_ptr<Binding> old;
    {
        std::lock_guard<std::mutex> guard(g_mutex);
        auto it = Bindings().find(socket);
        if (it != Bindings().end()) {
            old = it->second;
            Bindings().erase(it);
        }
        socket->m_hNotifyWnd = nullptr;
        if (fn != nullptr) {
            auto binding = std::make_shared<Binding>();
            binding->fn = fn;
            binding->user = user;
            binding->target = plat::CreateNotifyObserver(&Deliver, binding.get());
            socket->m_hNotifyWnd = binding->target;
            socket->m_bPostNotify = queued ? TRUE : FALSE;
            Bindings()[socket] = binding;
        }
    }
    Release(old);
}

void BindProgressWindow(CDeviceSocket* socket, void* window, bool post)
{
    BindProgress(socket, nullptr, nullptr, false);
    socket->m_hNotifyWnd = window;
    socket->m_bPostNotify = post ? TRUE : FALSE;
}

void UnbindProgress(CDeviceSocket* socket) { BindProgress(socket, nullptr, nullptr, false); }

int DispatchProgress(CDeviceSocket* socket)
{
    std::shared_ptr<Binding> binding;
    {
        std::lock_guard<std::mutex> guard(g_mutex);
        auto it = Bindings().find(socket);
        if (it == Bindings().end())
            return 0;
        binding = it->second;
    }
    // The binding stays alive while its messages run, even if the host
    // replaces it from within the callback.
    return plat::DispatchNotifications(binding->target);
}
