// Observers that stand in for a progress window in the engine's tests: a
// registry of callbacks with their queues.
#include "doubles/NotifyObservers.h"

#include <deque>
#include <map>
#include <memory>
#include <mutex>

namespace obs {
namespace {

struct Message {
    std::uint32_t message;
    std::uintptr_t wParam;
    std::intptr_t lParam;
};

struct Observer {
    NotifyCallback callback;
    void* user;
    std::mutex queueMutex;
    std::deque<Message> queue;
};

std::mutex g_registryMutex;
std::map<NotifyTarget, std::shared_ptr<Observer>>& Registry()
{
    static std::map<NotifyTarget, std::shared_ptr<Observer>> registry;
    return registry;
}

std::shared_ptr<Observer> Find(NotifyTarget target)
{
    std::lock_guard<std::mutex> guard(g_registryMutex);
    auto it = Registry().find(target);
    return it == Registry().end() ? nullptr : it->second;
}

} // namespace

NotifyTarget CreateNotifyObserver(NotifyCallback callback, void* user)
{
    auto observer = std::make_shared<Observer>();
    observer->callback = callback;
    observer->user = user;
    NotifyTarget target = observer.get();
    std::lock_guard<std::mutex> guard(g_registryMutex);
    Registry()[target] = std::move(observer);
    return target;
}

void DestroyNotifyObserver(NotifyTarget target)
{
    std::lock_guard<std::mutex> guard(g_registryMutex);
    Registry().erase(target);
}

int DispatchNotifications(NotifyTarget target)
{
    std::shared_ptr<Observer> observer = Find(target);
    if (!observer)
        return 0;
    std::deque<Message> pending;
    {
        std::lock_guard<std::mutex> guard(observer->queueMutex);
        pending.swap(observer->queue);
    }
    for (const Message& m : pending)
        observer->callback(observer->user, m.message, m.wParam, m.lParam);
    return static_cast<int>(pending.size());
}

bool IsNotifyTarget(NotifyTarget target) { return target != nullptr && Find(target) != nullptr; }

void PostNotify(NotifyTarget target, std::uint32_t message, std::uintptr_t wParam,
                std::intptr_t lParam)
{
    if (std::shared_ptr<Observer> observer = Find(target)) {
        std::lock_guard<std::mutex> guard(observer->queueMutex);
        observer->queue.push_back(Message{message, wParam, lParam});
    }
}

void SendNotify(NotifyTarget target, std::uint32_t message, std::uintptr_t wParam,
                std::intptr_t lParam)
{
    if (std::shared_ptr<Observer> observer = Find(target))
        observer->callback(observer->user, message, wParam, lParam);
}

} // namespace obs
