// CDeviceSocket's own state: closing clears the device's type and
// identification; the device's text for a refused verification.
#include "device/DeviceSocket.h"

namespace {
// GBK: "user verification failed".
const char kUserVerifyText[] = "\xD3\xC3\xBB\xA7\xD1\xE9\xD6\xA4\xCA\xA7\xB0\xDC";
} // namespace

CDeviceSocket::CDeviceSocket() : m_wDeviceType(0) {}

CDeviceSocket::~CDeviceSocket() = default;

BOOL CDeviceSocket::IsLost()
{
    BOOL lost = CGLSocket::IsLost();
    if (lost)
        Close();
    return lost;
}

void CDeviceSocket::Close()
{
    CGLSocket::Close();
    m_wDeviceType = 0;
    m_strIdent.clear();
    m_bNothingPromised = false;
    m_bHostExchangeOpen = false;
}

std::string CDeviceSocket::DeviceErrorTextFor(std::int32_t code)
{
    if (code == COMM_ERR_USER_VERIFY)
        return kUserVerifyText;
    return CGLSocket::ErrorTextFor(code);
}

std::string CDeviceSocket::GetErrorString() { return DeviceErrorTextFor(m_nLastError); }

BOOL CDeviceSocket::RefuseInHostExchange()
{
    if (!m_bHostExchangeOpen)
        return TRUE;
    SetError(COMM_ERR_BUSY);
    return FALSE;
}
