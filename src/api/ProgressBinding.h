// The progress observers that hosts attach to objects, kept beside the
// objects so that the connection class keeps its own layout.
#pragma once

#include "VexaCommLib.h"
#include "device/DeviceSocket.h"

// Replaces the object's observer (fn null removes it). Caller holds the
// object's lock.
void BindProgress(CDeviceSocket* socket, VexaCommProgressFn fn, void* user, bool queued);
// Sends the object's progress messages to a window (null: nowhere),
// replacing an observer. Caller holds the object's lock.
void BindProgressWindow(CDeviceSocket* socket, void* window, bool post);
// Drops the object's observer; used when the object is destroyed.
void UnbindProgress(CDeviceSocket* socket);
// Runs the queued messages of the object's observer; returns how many.
int DispatchProgress(CDeviceSocket* socket);
