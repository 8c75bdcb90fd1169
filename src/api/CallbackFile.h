// A file object whose writes go to a host's C function: the path for hosts
// that cannot pass a C++ object across the boundary.
#pragma once

#include "VexaCommFile.h"
#include "VexaCommLib.h"

class CCallbackFile : public CFile {
public:
    CCallbackFile(VexaCommWriteFn write, void* user) : m_write(write), m_user(user) {}

    // A non-zero answer ends the transfer with that code, as a file
    // exception's cause does.
    void Write(const void* buffer, uint32_t count) override
    {
        int32_t rc = m_write(m_user, buffer, count);
        if (rc != 0)
            throw new CFileException(rc);
    }

private:
    VexaCommWriteFn m_write;
    void* m_user;
};
