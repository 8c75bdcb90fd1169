// Scopes of one operation of the engine: the answer in progress and what a
// cancel request does, each restored on every exit.
#pragma once

#include "vexacomm/GLSocket.h"

// Holds a request's answer in progress from the request to the operation's
// return: what has not reached STREAM_IDLE by then is abandoned.
class CStreamGuard {
public:
    CStreamGuard(CPacketSocket& socket, StreamState state) : m_socket(socket) { socket.m_nStreamState = state; }
    ~CStreamGuard()
    {
        if (m_socket.m_nStreamState != STREAM_IDLE)
            m_socket.AbandonStream();
    }
    CStreamGuard(const CStreamGuard&) = delete;
    CStreamGuard& operator=(const CStreamGuard&) = delete;

private:
    CPacketSocket& m_socket;
};

// Makes a cancel request end the waits of one operation; the previous
// scope returns when the operation does, by whatever exit.
class CCancelScope {
public:
    CCancelScope(CPacketSocket& socket, CancelScope scope, CPacketSocket::CancelAction action = nullptr)
        : m_socket(socket), m_previous(socket.m_nCancelScope), m_previousAction(socket.m_pfnCancelAction)
    {
        socket.m_nCancelScope = scope;
        socket.m_pfnCancelAction = action;
    }
    ~CCancelScope()
    {
        m_socket.m_nCancelScope = m_previous;
        m_socket.m_pfnCancelAction = m_previousAction;
    }
    CCancelScope(const CCancelScope&) = delete;
    CCancelScope& operator=(const CCancelScope&) = delete;

private:
    CPacketSocket& m_socket;
    CancelScope m_previous;
    CPacketSocket::CancelAction m_previousAction;
};
