/*
 * VexaCommBridge.h - fetch ASDU 10 data into a C++ file object of the host's
 * own, whatever compiler built the host.
 *
 *   int32_t VexaComm::GetAsdu10ToObject(VexaCommObject* obj, File* file,
 *                                       const void* request);
 *
 * File is any class with a member Write(const void* data, unsigned count)
 * that writes every byte or throws: the CFile of an application framework
 * (one whose header guard is __AFX_H__), a class of the host's own, or the
 * library's CFile (VexaCommFile.h). The data goes through
 * VexaComm_GetAsdu10ToCallback: the host's object never crosses into the
 * library, and Write() runs and throws only in code this header puts into
 * the host, compiled by the host's compiler. So it works where
 * VexaComm_GetAsdu10 cannot: hosts built with MSVC, a framework's CFile
 * (which VexaComm_GetAsdu10 refuses to compile), and 32-bit hosts, whose
 * exceptions must not pass the library's frames.
 *
 * Results as VexaComm_GetAsdu10ToCallback, the write's failures turned into
 * codes on the host's side:
 *   CFileException* (the framework's when __AFX_H__ is defined, else the
 *                    library's when VexaCommFile.h was included first)
 *                    its m_cause (1, generic, for cause 0 or a NULL
 *                    pointer), the exception freed with Delete()
 *   anything else    VEXACOMM_ERR_EXCEPTION (71011)
 * Either way the transfer ends and the connection is closed. A NULL file
 * is a NULL write function (71200 on a valid object). Data written before a failure
 * stays in the file; the bridge neither opens, seeks nor closes it.
 *
 * Include it after the framework's headers (or VexaCommFile.h), so that it
 * sees which CFileException the host throws.
 */
#ifndef VEXACOMM_BRIDGE_H
#define VEXACOMM_BRIDGE_H

#ifndef __cplusplus
#error "VexaCommBridge.h is C++ only; C hosts use VexaComm_GetAsdu10ToCallback"
#endif

#include "VexaCommLib.h"

namespace VexaComm {
namespace detail {

template <class File>
struct ObjectWriter {
    static int32_t VEXACOMM_CALL Write(void* user, const void* data, uint32_t size)
    {
        // Nothing may propagate into the library: its frames are not the
        // host compiler's to unwind.
        try {
            static_cast<File*>(user)->Write(data, size);
            return VEXACOMM_OK;
        }
#if defined(__AFX_H__) || defined(VEXACOMM_FILE_H)
        catch (CFileException* e) {
            // 0 would mean "go on" to the library, though this write failed.
            int32_t cause = e != nullptr && e->m_cause != 0 ? static_cast<int32_t>(e->m_cause) : 1;
            if (e != nullptr)
                e->Delete();
            return cause;
        }
#endif
        catch (...) {
            return VEXACOMM_ERR_EXCEPTION;
        }
    }
};

} // namespace detail

template <class File>
int32_t GetAsdu10ToObject(VexaCommObject* obj, File* file, const void* request)
{
    // No file, no write function: the library answers as for a NULL one.
    return VexaComm_GetAsdu10ToCallback(obj, file != nullptr ? &detail::ObjectWriter<File>::Write : nullptr, file,
                                        request);
}

} // namespace VexaComm

#endif /* VEXACOMM_BRIDGE_H */
