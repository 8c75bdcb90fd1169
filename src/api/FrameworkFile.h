// The file object a host hands to VexaComm_GetAsdu10, sorted before any
// call into it: one of our own C++ kind goes to the engine as it is; one
// of the platform framework's (32-bit Windows) goes through an adapter that
// drives it by that framework's binary interface; anything else is refused
// with VEXACOMM_ERR_FILE_UNRECOGNISED. docs/platform-windows.md has the
// rules and the facts they rest on.
#pragma once

#include <cstdint>

#include "VexaCommFile.h"

class CHostFile {
public:
    explicit CHostFile(CFile* file);
    CHostFile(const CHostFile&) = delete;
    CHostFile& operator=(const CHostFile&) = delete;

    // Refused: answer VEXACOMM_ERR_FILE_UNRECOGNISED and call nothing.
    bool Refused() const { return m_refused; }
    // The file for the engine (NULL stays NULL).
    CFile* Target() { return m_target; }

private:
#if defined(_WIN32) && defined(__i386__)
    // Drives the framework's CFile: GetPosition and Write by their slots,
    // thiscall, each behind a frame that turns what the host raises into
    // our own exceptions (CFileException* with its cause, or another).
    class CFrameworkFile : public CFile {
    public:
        void Attach(void* object) { m_object = object; }
        void Write(const void* buffer, uint32_t count) override;
        uint32_t GetPosition() const override;

    private:
        void* m_object = nullptr;
    };
    CFrameworkFile m_framework;
#endif
    CFile* m_target = nullptr;
    bool m_refused = true;
};
