// The connection classes with their members opened up, for the tests,
// fuzzers and benchmarks that set and read the state directly.
#pragma once

#include "vexacomm/GLSocket.h"

template <class Base>
class Exposed : public Base {
public:
    using Base::m_addr;
    using Base::m_bCancelSent;
    using Base::m_bConnected;
    using Base::m_bEnvelopeAllowed;
    using Base::m_bPeerEnvelope;
    using Base::m_bPostNotify;
    using Base::m_dwStatusFlags;
    using Base::m_evCancel;
    using Base::m_evDone;
    using Base::m_hNotifyWnd;
    using Base::m_hSocket;
    using Base::m_lock;
    using Base::m_nBytesReceived;
    using Base::m_nBytesSent;
    using Base::m_nCancelScope;
    using Base::m_nLastError;
    using Base::m_nStreamState;
    using Base::m_pTraceUser;
    using Base::m_packet;
    using Base::m_pfnCancelAction;
    using Base::m_pfnTrace;
    using Base::m_strListingFile;
    using Base::m_tLastActivity;
    using Base::m_tLastReceive;
    using Base::m_tLastSend;
    using Base::m_tvTimeout;
    using Base::m_wAckMode;
    using Base::m_wPacketSizeInUse;
    using Base::m_wPacketSizeMax;
};
