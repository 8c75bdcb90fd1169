// The test programs' main on Windows: the library never starts Windows
// Sockets, so its hosts (these tests among them) do.
#include <gtest/gtest.h>

#include "platform/win32/WinApi.h"

int main(int argc, char** argv)
{
    WSADATA data;
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return 1;
    ::testing::InitGoogleTest(&argc, argv);
    int rc = RUN_ALL_TESTS();
    ::WSACleanup();
    return rc;
}
