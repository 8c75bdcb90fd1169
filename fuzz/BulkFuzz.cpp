// Fuzz target: the bulk data stream (ReceiveData) fed arbitrary packets,
// written into a CFile double.
//
// Input, little-endian:
//   byte 0     flags: bit 0 acknowledgements on, bit 1 the peer closes its
//              side after the stream, bit 2 the peer spoke in an envelope
//              last, bit 3 a progress observer is set, bits 4-7 the write
//              (1 = first) that fails with a full disk, 0 = none
//   byte 1     the progress position message at which the observer
//              requests a cancel (1 = the first; 0 = never)
//   bytes 2-3  expected packet count
//   bytes 4-5  negotiated packet size
//   bytes 6-9  the file's position at the start
//   rest       the peer's byte stream
// One thread, wait limit 0 (see PacketFuzz.cpp). Compared with WireModel:
// result, last error, connection state, framing, the file's bytes and
// writes, the progress messages, both events and the bytes sent back.
#include <cstring>
#include <string>
#include <vector>

#include "BytePipe.h"
#include "FuzzSupport.h"
#include "WireModel.h"
#include "doubles/NotifyObservers.h"
#include "vexacomm/GLSocket.h"
#include "doubles/MemoryFile.h"

namespace {

constexpr WaitLimit kNoWait = {0, 0};
constexpr unsigned kMaxComparedSends = 1000;

struct Observer {
    Exposed<CGLSocket>* sock = nullptr;
    unsigned cancelAt = 0;
    unsigned positions = 0;
    std::vector<model::Message> messages;
};

void Deliver(void* user, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam)
{
    auto* o = static_cast<Observer*>(user);
    FUZZ_CHECK(message == WM_COMM_PROGRESS);
    o->messages.emplace_back(wParam, lParam);
    // The host's cancel, requested from the progress callback.
    if (wParam == 0 && ++o->positions == o->cancelAt)
        o->sock->m_evCancel.SetEvent();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > fuzz::kMaxStreamInput)
        return 0;
    fuzz::InputReader in(data, size);
    const std::uint8_t flags = in.Byte();
    model::TransferSetup setup;
    setup.cancelAtMessage = in.Byte();
    setup.expectedPackets = in.U16();
    const std::uint16_t packetSize = in.U16();
    setup.startPosition = in.U32();
    setup.observer = (flags & 8) != 0;
    setup.failWrite = flags >> 4;
    model::Source source;
    source.bytes = in.Rest();
    source.closed = (flags & 2) != 0;

    model::Conn m;
    m.ackMode = (flags & 1) != 0 ? 1 : 0;
    m.peerEnvelope = (flags & 4) != 0;
    m.packetSize = packetSize;

    fuzz::BytePipe pipe;
    Observed<CGLSocket> sock;
    sock.m_hSocket = pipe.TakeLocal();
    sock.m_tvTimeout = kNoWait;
    sock.m_wAckMode = m.ackMode;
    sock.m_bPeerEnvelope = m.peerEnvelope;
    sock.m_wPacketSizeMax = packetSize;
    Observer observer;
    observer.sock = &sock;
    observer.cancelAt = setup.cancelAtMessage;
    obs::NotifyTarget target = nullptr;
    if (setup.observer) {
        target = obs::CreateNotifyObserver(&Deliver, &observer);
        sock.m_hNotifyWnd = target;
        sock.m_bPostNotify = FALSE;
    }
    MemoryFile file(setup.startPosition);
    if (setup.failWrite != 0)
        file.FailOnWrite(setup.failWrite, CFileException::diskFull);

    pipe.Feed(source.bytes);
    if (source.closed)
        pipe.CloseFeed();
    const bool done = sock.ReceiveData(&file, CMD_ASDU10, setup.expectedPackets) != 0;
    const model::TransferOutcome outcome = model::ReceiveData(m, source, CMD_ASDU10, setup);

    FUZZ_CHECK(done == outcome.result);
    FUZZ_CHECK(sock.m_nLastError == m.error);
    FUZZ_CHECK((sock.m_hSocket != kInvalidSocket) == m.open);
    FUZZ_CHECK((sock.m_bPeerEnvelope != 0) == m.peerEnvelope);
    FUZZ_CHECK(file.Data() == outcome.file);
    FUZZ_CHECK(file.Writes() == outcome.writes);
    FUZZ_CHECK(observer.messages == outcome.messages);
    // Both events are signalled after construction; a transfer resets them
    // and signals "done" at its end, "cancel" again once it sent a cancel.
    FUZZ_CHECK(sock.m_evDone.IsSignalled());
    FUZZ_CHECK(sock.m_evCancel.IsSignalled() == (setup.expectedPackets == 0 || outcome.cancelSent));
    if (m.packetsSent <= kMaxComparedSends)
        FUZZ_CHECK(pipe.Sent() == m.sent);

    sock.m_hNotifyWnd = nullptr;
    if (target != nullptr)
        obs::DestroyNotifyObserver(target);
    return 0;
}
