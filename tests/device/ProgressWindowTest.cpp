// Progress messages to real windows (Windows only): message 0x0A00 with
// the observers' (wParam, lParam) pairs, sent across threads or posted to
// the window's queue.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "SimulatedDevice.h"
#include "platform/win32/WinApi.h"

namespace {

using Message = std::pair<std::uint32_t, std::int32_t>;
constexpr UINT kProgressMessage = 0x0A00;

// What the window procedure saw; the window keeps a pointer to it.
struct WindowLog {
    std::mutex mutex;
    std::vector<Message> messages;
    DWORD thread = 0;
};

LRESULT CALLBACK LogProc(HWND window, UINT message, WPARAM w, LPARAM l)
{
    if (message == kProgressMessage) {
        auto* log = reinterpret_cast<WindowLog*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
        std::lock_guard<std::mutex> guard(log->mutex);
        log->messages.emplace_back(static_cast<std::uint32_t>(w), static_cast<std::int32_t>(l));
        log->thread = ::GetCurrentThreadId();
        return 0;
    }
    return ::DefWindowProcA(window, message, w, l);
}

// A message-only window of the calling thread.
HWND MakeWindow(WindowLog* log)
{
    static const char* kClass = "VexaCommProgressTest";
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = LogProc;
    windowClass.hInstance = ::GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kClass;
    ::RegisterClassA(&windowClass); // fails harmlessly once registered
    HWND window = ::CreateWindowExA(0, kClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    windowClass.hInstance, nullptr);
    if (window != nullptr)
        ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(log));
    return window;
}

// Four data packets into a file that already holds one packet's worth:
// start 1, total 5, range 5.
const std::vector<Message> kFourPackets = {{1, 5}, {0, 1}, {0, 2}, {0, 3}, {0, 4}, {0, 5}, {1, 0}};

class ProgressWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        SimulatorOptions o;
        o.generatedBytes = 4 * 16376;
        m_dev.reset(new SimulatedDevice(o));
        ASSERT_EQ(VexaComm_Connect(m_obj.get(), (*m_dev).address()), 0);
    }

    int32_t Fetch()
    {
        CaptureFile file;
        file.data.assign(10, 'x');
        int32_t rc = VexaComm_GetAsdu10(m_obj.get(), &file, AllEntries().data());
        EXPECT_EQ(file.data.size(), 10u + 4 * 16376);
        return rc;
    }

    std::unique_ptr<SimulatedDevice> m_dev;
    Object m_obj = NewObject();
};

// Sent messages wait until the window's thread has handled them: all of
// them are in the log when the transfer returns.
TEST_F(ProgressWindow, SentToAWindowOfAnotherThread)
{
    WindowLog log;
    std::mutex mutex;
    std::condition_variable ready;
    HWND window = nullptr;
    DWORD windowThread = 0;
    std::thread pump([&] {
        // Under wine the first window of a new thread can fail while the
        // desktop process is still starting: a few bounded tries.
        HWND own = nullptr;
        for (int i = 0; i < 50 && own == nullptr; ++i) {
            own = MakeWindow(&log);
            if (own == nullptr)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        {
            std::lock_guard<std::mutex> guard(mutex);
            window = own;
            windowThread = ::GetCurrentThreadId();
        }
        ready.notify_one();
        MSG msg;
        while (own != nullptr && ::GetMessageA(&msg, nullptr, 0, 0) > 0)
            ::DispatchMessageA(&msg);
        if (own != nullptr)
            ::DestroyWindow(own);
    });
    {
        std::unique_lock<std::mutex> guard(mutex);
        ready.wait(guard, [&] { return windowThread != 0; });
    }
    if (window == nullptr) {
        pump.join();
        FAIL() << "no window could be made";
    }

    EXPECT_EQ(VexaComm_SetProgressWindow(m_obj.get(), window, 0), 0);
    EXPECT_EQ(Fetch(), 0);
    {
        std::lock_guard<std::mutex> guard(log.mutex);
        EXPECT_EQ(log.messages, kFourPackets);
        EXPECT_EQ(log.thread, windowThread);
    }
    ::PostThreadMessageA(windowThread, WM_QUIT, 0, 0);
    pump.join();
}

// Posted messages wait in the window's queue: none has been handled when
// the transfer returns, all arrive when the thread pumps.
TEST_F(ProgressWindow, PostedToTheWindowsQueue)
{
    WindowLog log;
    HWND window = MakeWindow(&log);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(VexaComm_SetProgressWindow(m_obj.get(), window, 1), 0);
    EXPECT_EQ(Fetch(), 0);
    EXPECT_TRUE(log.messages.empty());
    MSG msg;
    while (::PeekMessageA(&msg, window, 0, 0, PM_REMOVE))
        ::DispatchMessageA(&msg);
    EXPECT_EQ(log.messages, kFourPackets);
    ::DestroyWindow(window);
}

// A destroyed window gets nothing; the transfer goes on as before.
TEST_F(ProgressWindow, DestroyedWindowIsLeftAlone)
{
    WindowLog log;
    HWND window = MakeWindow(&log);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(VexaComm_SetProgressWindow(m_obj.get(), window, 0), 0);
    ::DestroyWindow(window);
    EXPECT_EQ(Fetch(), 0);
    EXPECT_TRUE(log.messages.empty());
}

void Record(void* user, std::uint32_t w, std::int32_t l)
{
    static_cast<std::vector<Message>*>(user)->emplace_back(w, l);
}

// One progress target per object: a callback replaces the window and a
// window replaces the callback; a null window removes both.
TEST_F(ProgressWindow, CallbackAndWindowReplaceEachOther)
{
    WindowLog log;
    HWND window = MakeWindow(&log);
    ASSERT_NE(window, nullptr);
    std::vector<Message> called;

    VexaComm_SetProgressWindow(m_obj.get(), window, 0);
    VexaComm_SetProgressCallback(m_obj.get(), &Record, &called, 0);
    EXPECT_EQ(Fetch(), 0);
    EXPECT_TRUE(log.messages.empty());
    EXPECT_EQ(called, kFourPackets);

    called.clear();
    VexaComm_SetProgressWindow(m_obj.get(), window, 0);
    EXPECT_EQ(Fetch(), 0);
    EXPECT_TRUE(called.empty());
    EXPECT_EQ(log.messages, kFourPackets);

    log.messages.clear();
    VexaComm_SetProgressWindow(m_obj.get(), nullptr, 0);
    EXPECT_EQ(Fetch(), 0);
    EXPECT_TRUE(log.messages.empty());
    EXPECT_TRUE(called.empty());
    ::DestroyWindow(window);
}

} // namespace
