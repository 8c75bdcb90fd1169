// A NULL where an export needs a pointer: the call's reason, recorded
// before anything is touched, sent or created.
#pragma once

#include "VexaCommLib.h"
#include "device/DeviceSocket.h"

inline BOOL RefuseNull(CDeviceSocket& s)
{
    s.StoreError(VEXACOMM_ERR_INVALID_PARAMETER);
    return FALSE;
}
