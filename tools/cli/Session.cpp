// Device lines, the interruptible transfer and the default request block.
#include "cli/Session.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "cli/Interrupt.h"
#include "vexacomm/Protocol.h"

namespace {

// The library ends a cancelled wait within 100 ms and then grants the
// device its grace to answer; this covers that and a loaded machine.
constexpr auto kCancelGiveUp = std::chrono::milliseconds(VEXACOMM_CANCEL_GRACE_MS + 1000);
// A cancel asked for just before the transfer starts is dropped when it
// starts, so it is asked again until the transfer returns.
constexpr auto kCancelRepeat = std::chrono::milliseconds(50);

struct FetchState {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    bool interrupted = false;
};

} // namespace

void PrintDevice(VexaCommObject* obj, std::FILE* out)
{
    char ident[1024];
    VexaComm_GetIdent(obj, ident, sizeof(ident));
    std::string shown;
    for (const char* p = ident; *p != '\0'; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c < 0x20 || c == 0x7F || c == '\\') {
            char escape[8];
            std::snprintf(escape, sizeof(escape), "\\x%02x", c);
            shown += escape;
        } else {
            shown += *p;
        }
    }
    std::fprintf(out, "device type %u, ident \"%s\"\n", VexaComm_GetDeviceType(obj), shown.c_str());
    std::fflush(out);
}

int32_t FetchWithInterrupt(VexaCommObject* obj, VexaCommFile* file, const std::string& request,
                           std::function<void()> beforeQuit)
{
    auto state = std::make_shared<FetchState>();
    NotifyOnInterrupt(
        [state] {
            std::fputs("interrupted: asking the device to stop (again to end at once)\n", stderr);
            std::lock_guard<std::mutex> lock(state->mutex);
            state->interrupted = true;
            state->cv.notify_all();
        },
        std::move(beforeQuit));
    std::thread canceller([state, obj] {
        std::unique_lock<std::mutex> lock(state->mutex);
        state->cv.wait(lock, [&] { return state->done || state->interrupted; });
        const auto giveUp = std::chrono::steady_clock::now() + kCancelGiveUp;
        while (!state->done) {
            VexaComm_CancelTransfer(obj);
            state->cv.wait_for(lock, kCancelRepeat, [&] { return state->done; });
            if (!state->done && std::chrono::steady_clock::now() >= giveUp) {
                lock.unlock();
                QuitNow();
            }
        }
    });
    int32_t rc = VexaComm_GetAsdu10(obj, file, request.data());
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        state->done = true;
        state->cv.notify_all();
    }
    canceller.join();
    QuitOnInterrupt();
    return rc;
}

std::string DefaultRequest()
{
    std::string request(ASDU10_HEAD_SIZE, '\0');
    WriteU16(reinterpret_cast<uint8_t*>(&request[ASDU10_COUNT_OFFSET]), static_cast<uint16_t>(ASDU10_ALL_ENTRIES));
    return request;
}
