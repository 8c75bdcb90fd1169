// windows.h as the Win32 backend (and the Windows tests) include it.
// Winsock 2 comes first: windows.h would otherwise pull in the old
// winsock.h. The A/W macros that collide with our own names are dropped,
// or plat::MoveFile and plat::FileFind::FindNextFile would turn into ...A.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#undef MoveFile
#undef FindNextFile
