// fetch-all's engine: a fixed pool of worker threads, each taking the next
// device of the list and fetching it through a library object of its own
// into a new file beside DIR/<name>.bin, renamed to that name only when the
// transfer ended with 0. Connection failures, refusals and time-outs are
// tried again after an exponential, jittered pause; a device's own codes
// and the host's file failures are not.
//
// Thread safety: every member may be called from any thread; Stop() and
// RemoveTemporaries() also from the signal-watching thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "VexaCommLib.h"
#include "cli/DeviceList.h"
#include "cli/WorkerThreads.h"

enum class DeviceResult { NotStarted, Running, Done, Failed, Cancelled };

struct DeviceJob {
    DeviceEntry entry;
    std::shared_ptr<const std::string> request;
};

struct DeviceReport {
    DeviceResult result = DeviceResult::NotStarted;
    std::int32_t code = 0; // the library's result; 71200 for a file of the host's
    std::string text;      // why it failed, "" when it did not
    std::uint64_t bytes = 0;
    double seconds = 0;
    unsigned tries = 0;
};

struct FleetSettings {
    std::string outDir;
    unsigned jobs = 16;
    unsigned retries = 2;
    std::uint32_t waitMs = 0; // 0: the library's own limit
    bool keepPartial = false;
};

class CFleetRun {
public:
    CFleetRun(std::vector<DeviceJob> jobs, FleetSettings settings);
    ~CFleetRun();
    CFleetRun(const CFleetRun&) = delete;
    CFleetRun& operator=(const CFleetRun&) = delete;

    // Starts min(jobs, devices) workers; returns how many started.
    unsigned Start();
    // Waits up to `ms` for a device to finish; true once every worker has
    // ended (then joined).
    bool Wait(int ms);
    // No further device or try starts, pauses end; then CancelRunning().
    void Stop();
    // Asks every running connect and transfer to stop. A cancel made just
    // before a call starts is dropped, so this is repeated until Wait().
    void CancelRunning();
    bool Stopping() const { return m_stopping.load(); }
    // Removes the new files of running transfers, for a quit that ends the
    // process under them.
    void RemoveTemporaries();

    std::size_t Count() const { return m_jobs.size(); }
    const DeviceJob& Job(std::size_t i) const { return m_jobs[i]; }
    DeviceReport Report(std::size_t i);
    // The bytes a running device has received and the size it announced.
    void Progress(std::size_t i, std::uint64_t* done, std::uint64_t* total, double* seconds);
    // The devices that ended since the last call, in the order they did.
    std::vector<std::size_t> TakeFinished();
    std::vector<std::size_t> RunningNow();

private:
    using Clock = std::chrono::steady_clock;
    struct Slot {
        std::atomic<std::uint64_t> done{0};
        std::atomic<std::uint64_t> total{0};
        Clock::time_point started;
        VexaCommObject* object = nullptr; // under m_mutex
        std::string temporary;            // under m_mutex
        DeviceReport report;              // under m_mutex
    };
    static void VEXACOMM_CALL OnProgress(void* user, std::uint64_t done, std::uint64_t total);

    void Work();
    void RunDevice(std::size_t i);
    // One connect and transfer; the code, with *report's text and bytes.
    std::int32_t Try(std::size_t i, DeviceReport* report);
    void Finish(std::size_t i, const DeviceReport& report);
    // Sleeps before try `tries` + 1; false when stopped meanwhile.
    bool Pause(unsigned tries, std::size_t i);
    std::string FinalPath(std::size_t i) const;

    std::vector<DeviceJob> m_jobs;
    FleetSettings m_settings;
    std::unique_ptr<Slot[]> m_slots;
    std::atomic<std::size_t> m_next{0};
    std::atomic<bool> m_stopping{false};

    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<std::size_t> m_finished;
    unsigned m_workersLeft = 0;
    CWorkerThreads m_threads;
    bool m_joined = false;
};

// Whether a result is one a later try may not have: the connection could
// not be made, was refused or cut, or timed out.
bool IsRetryable(std::int32_t code);
