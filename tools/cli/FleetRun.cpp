// The worker pool of fetch-all and what one device's fetch does.
#include "cli/FleetRun.h"

#include <algorithm>
#include <random>

#include "cli/ErrorText.h"
#include "cli/Interrupt.h"
#include "cli/Session.h"
#include "cli/SystemFile.h"

namespace {

// Enough for the library's calls and ours; the system's default (8 MiB on
// Linux, 1 MiB on Windows) times a thousand workers is address space a
// 32-bit process does not have.
constexpr std::size_t kWorkerStack = 256 * 1024;
constexpr auto kFirstPause = std::chrono::milliseconds(1000);
constexpr auto kLongestPause = std::chrono::milliseconds(30000);
constexpr std::int32_t kHostNotFound = 11001;

// Clears the slot's object before the object goes.
struct ObjectInSlot {
    std::mutex& mutex;
    VexaCommObject*& object;
    ~ObjectInSlot()
    {
        std::lock_guard<std::mutex> lock(mutex);
        object = nullptr;
    }
};

} // namespace

bool IsRetryable(std::int32_t code)
{
    // A name that does not resolve stays so; a refused or cut connection,
    // a device that did not greet and a time-out may pass.
    return (code >= 10000 && code <= 11999 && code != kHostNotFound) || code == VEXACOMM_ERR_PEER_CLOSED ||
           code == VEXACOMM_ERR_CONNECT_REFUSED || code == VEXACOMM_ERR_NO_GREETING;
}

CFleetRun::CFleetRun(std::vector<DeviceJob> jobs, FleetSettings settings)
    : m_jobs(std::move(jobs)), m_settings(std::move(settings)), m_slots(new Slot[m_jobs.size()])
{
}

CFleetRun::~CFleetRun()
{
    Stop();
    m_threads.Join();
}

unsigned CFleetRun::Start()
{
    const unsigned wanted = static_cast<unsigned>(std::min<std::size_t>(m_settings.jobs, m_jobs.size()));
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_workersLeft = wanted;
    }
    const unsigned started = m_threads.Start(wanted, kWorkerStack, [this] { Work(); });
    std::lock_guard<std::mutex> lock(m_mutex);
    m_workersLeft -= wanted - started;
    m_cv.notify_all();
    return started;
}

bool CFleetRun::Wait(int ms)
{
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_cv.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_workersLeft == 0; }))
            return false;
        if (m_joined)
            return true;
        m_joined = true;
    }
    m_threads.Join();
    return true;
}

void CFleetRun::Stop()
{
    m_stopping = true;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_cv.notify_all();
}

void CFleetRun::CancelRunning()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (std::size_t i = 0; i < m_jobs.size(); ++i) {
        if (m_slots[i].object != nullptr)
            VexaComm_CancelTransfer(m_slots[i].object);
    }
}

void CFleetRun::RemoveTemporaries()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (std::size_t i = 0; i < m_jobs.size(); ++i) {
        if (!m_slots[i].temporary.empty())
            RemoveFile(m_slots[i].temporary);
    }
}

DeviceReport CFleetRun::Report(std::size_t i)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_slots[i].report;
}

void CFleetRun::Progress(std::size_t i, std::uint64_t* done, std::uint64_t* total, double* seconds)
{
    Slot& slot = m_slots[i];
    *done = slot.done.load();
    *total = slot.total.load();
    std::lock_guard<std::mutex> lock(m_mutex);
    *seconds = std::chrono::duration<double>(Clock::now() - slot.started).count();
}

std::vector<std::size_t> CFleetRun::TakeFinished()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::size_t> finished;
    finished.swap(m_finished);
    return finished;
}

std::vector<std::size_t> CFleetRun::RunningNow()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::size_t> running;
    for (std::size_t i = 0; i < m_jobs.size(); ++i) {
        if (m_slots[i].report.result == DeviceResult::Running)
            running.push_back(i);
    }
    return running;
}

void VEXACOMM_CALL CFleetRun::OnProgress(void* user, std::uint64_t done, std::uint64_t total)
{
    auto* slot = static_cast<Slot*>(user);
    slot->done = done;
    slot->total = total;
}

void CFleetRun::Work()
{
    while (!m_stopping) {
        const std::size_t i = m_next.fetch_add(1);
        if (i >= m_jobs.size())
            break;
        RunDevice(i);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    --m_workersLeft;
    m_cv.notify_all();
}

std::string CFleetRun::FinalPath(std::size_t i) const
{
    return m_settings.outDir + "/" + m_jobs[i].entry.name + ".bin";
}

void CFleetRun::RunDevice(std::size_t i)
{
    Slot& slot = m_slots[i];
    DeviceReport report;
    report.result = DeviceResult::Running;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        slot.started = Clock::now();
        slot.report = report;
    }
    bool paused = true;
    for (;;) {
        ++report.tries;
        report.text.clear();
        report.code = Try(i, &report);
        if (report.code == 0 || !IsRetryable(report.code) || report.tries > m_settings.retries)
            break;
        paused = Pause(report.tries, i);
        if (!paused)
            break;
    }
    if (report.code == 0)
        report.result = DeviceResult::Done;
    else if (m_stopping && (report.code == VEXACOMM_ERR_CANCELLED || !paused))
        report.result = DeviceResult::Cancelled;
    else
        report.result = DeviceResult::Failed;
    std::lock_guard<std::mutex> lock(m_mutex);
    report.seconds = std::chrono::duration<double>(Clock::now() - slot.started).count();
    slot.report = report;
    m_finished.push_back(i);
}

bool CFleetRun::Pause(unsigned tries, std::size_t i)
{
    // Doubling from 1 s, each pause drawn from its upper half, so that
    // devices refused at once do not all come back at once.
    auto longest = std::min<std::chrono::milliseconds>(kLongestPause, kFirstPause * (1u << std::min(tries - 1, 5u)));
    std::minstd_rand random(static_cast<unsigned>(Clock::now().time_since_epoch().count()) ^
                            static_cast<unsigned>(i * 2654435761u));
    std::uniform_int_distribution<long long> pick(longest.count() / 2, longest.count());
    const auto pause = std::chrono::milliseconds(pick(random));
    std::unique_lock<std::mutex> lock(m_mutex);
    return !m_cv.wait_for(lock, pause, [this] { return m_stopping.load(); });
}

std::int32_t CFleetRun::Try(std::size_t i, DeviceReport* report)
{
    const DeviceJob& job = m_jobs[i];
    Slot& slot = m_slots[i];
    report->bytes = 0;
    ObjectPtr obj(VexaComm_CreateObject());
    if (!obj) {
        report->text = "cannot create a connection object";
        return VEXACOMM_ERR_EXCEPTION;
    }
    if (m_settings.waitMs != 0)
        VexaComm_SetWaitLimit(obj.get(), m_settings.waitMs);
    slot.done = 0;
    slot.total = 0;
    VexaComm_SetTransferCallback(obj.get(), &CFleetRun::OnProgress, &slot);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping) {
            report->text = LibraryErrorText(obj.get(), VEXACOMM_ERR_CANCELLED);
            return VEXACOMM_ERR_CANCELLED;
        }
        slot.object = obj.get();
    }
    ObjectInSlot inSlot{m_mutex, slot.object};

    std::int32_t rc = VexaComm_ConnectPort(obj.get(), job.entry.host.c_str(), job.entry.port);
    if (rc == 0 && !VexaComm_IsConnected(obj.get()))
        rc = VEXACOMM_ERR_NOT_CONNECTED; // a cancel that came as the connect ended
    if (rc != 0) {
        report->text = LibraryErrorText(obj.get(), rc);
        return rc;
    }
    const std::string target = FinalPath(i);
    SystemFile file;
    int error = 0;
    // A quit between creating the file and noting it would leave it behind.
    WithoutInterrupts([&] {
        error = file.CreateBeside(target, 0);
        if (error == 0) {
            std::lock_guard<std::mutex> lock(m_mutex);
            slot.temporary = file.Path();
        }
    });
    if (error != 0) {
        report->text = "cannot create a new file in " + m_settings.outDir + ": " + SystemErrorText(error);
        return VEXACOMM_ERR_FILE_CREATE;
    }
    rc = VexaComm_GetAsdu10(obj.get(), &file, job.request->data());
    const int closeError = file.CloseChecked();
    report->bytes = file.Written();
    const int fileError = file.LastError() != 0 ? file.LastError() : rc == 0 ? closeError : 0;
    const bool complete = rc == 0 && fileError == 0;
    int renameError = 0;
    WithoutInterrupts([&] {
        const std::string partial = target + ".part";
        if (complete) {
            renameError = RenameOver(file.Path(), target);
            if (renameError != 0)
                RemoveFile(file.Path());
            else if (m_settings.keepPartial)
                RemoveFile(partial); // of an earlier run or try
        } else if (!m_settings.keepPartial || report->bytes == 0 || RenameOver(file.Path(), partial) != 0) {
            RemoveFile(file.Path());
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        slot.temporary.clear();
    });
    if (fileError != 0) {
        report->text = "writing " + target + ": " + SystemErrorText(fileError);
        return rc != 0 ? rc : VEXACOMM_ERR_FILE_CREATE;
    }
    if (renameError != 0) {
        report->text = "cannot rename the new file to " + target + ": " + SystemErrorText(renameError);
        return VEXACOMM_ERR_FILE_CREATE;
    }
    if (rc != 0)
        report->text = LibraryErrorText(obj.get(), rc);
    return rc;
}
