/*
 * VexaCommFile.h - the file object that VexaComm_GetAsdu10 writes into.
 *
 * C++ only. A host derives its own class from CFile and overrides the
 * operations it supports; the library calls only GetPosition() (once, when a
 * transfer starts) and Write() (once per data packet) on a host's object.
 *
 * Everything here is defined inline so that a host can derive from CFile
 * without linking against anything but the six C exports.
 *
 * Failure contract: Write() writes every byte or throws a CFileException
 * (by pointer, `throw new CFileException(...)`, as the library catches it).
 * The library deletes a caught exception with Delete(). Anything else that
 * Write() throws ends the transfer with VEXACOMM_ERR_EXCEPTION (71011) and
 * closes the connection; nothing is rethrown to the host.
 *
 * ABI condition: a CFile crosses the boundary as a C++ object, so host and
 * library must share a C++ ABI: the same compiler family and run-time (the
 * layout of the virtual table differs, for one, since the virtual
 * destructor takes two slots with g++ and mingw-w64 and one with MSVC; an
 * exception cannot be thrown from one C++ run-time into another). A host
 * built any other way, or written in another language, uses the C paths:
 * VexaComm_GetAsdu10ToCallback (a write function) or
 * VexaComm_GetAsdu10ToPath (a file by name).
 *
 * 32-bit Windows (the i686 DLL): there no exception at all can pass from a
 * host's Write() into the library (each module unwinds only its own frames;
 * a throw ends the process), so a 32-bit host's Write() and progress
 * callback must not throw: such hosts take the C paths above, where a write
 * function reports a failure by its return value.
 */
#ifndef VEXACOMM_FILE_H
#define VEXACOMM_FILE_H

#ifndef __cplusplus
#error "VexaCommFile.h is C++ only; C hosts use VexaComm_GetAsdu10ToCallback or VexaComm_GetAsdu10ToPath"
#endif

#if defined(__AFX_H__)
#error "VexaCommFile.h: this host's framework has a CFile of its own; fetch into it with VexaCommBridge.h"
#endif

#include <cstdint>

class CFileException {
public:
    /* Cause numbers; they reach the host unchanged as error codes. */
    enum {
        none = 0,
        genericException = 1,
        fileNotFound = 2,
        badPath = 3,
        tooManyOpenFiles = 4,
        accessDenied = 5,
        invalidFile = 6,
        removeCurrentDir = 7,
        directoryFull = 8,
        badSeek = 9,
        hardIO = 10,
        sharingViolation = 11,
        lockViolation = 12,
        diskFull = 13,
        endOfFile = 14
    };

    explicit CFileException(int cause = none, long osError = -1)
        : m_cause(cause), m_lOsError(osError) {}
    virtual ~CFileException() {}

    /* Frees an exception thrown with `new`. */
    void Delete() { delete this; }

    int m_cause;
    long m_lOsError;
};

class CFile {
public:
    /* Open flags; the numeric values are part of the interface. */
    enum OpenFlags : unsigned {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareCompat = 0x0000,
        shareExclusive = 0x0010,
        shareDenyWrite = 0x0020,
        shareDenyRead = 0x0030,
        shareDenyNone = 0x0040,
        modeNoInherit = 0x0080,
        modeCreate = 0x1000,
        modeNoTruncate = 0x2000
    };
    enum SeekPosition : unsigned { begin = 0, current = 1, end = 2 };

    CFile() {}
    virtual ~CFile() {}

    /* The base object is a file that is never open: every operation on it
     * fails the way an operation on a closed file does. */
    virtual bool Open(const char* /*path*/, unsigned /*flags*/) { return false; }
    virtual void Close() {}
    virtual uint32_t Read(void* /*buffer*/, uint32_t /*count*/)
    {
        throw new CFileException(CFileException::invalidFile);
    }
    virtual void Write(const void* /*buffer*/, uint32_t /*count*/)
    {
        throw new CFileException(CFileException::invalidFile);
    }
    virtual uint64_t Seek(int64_t /*offset*/, unsigned /*from*/)
    {
        throw new CFileException(CFileException::invalidFile);
    }
    virtual uint32_t GetLength() const { return 0; }
    virtual uint32_t GetPosition() const { return 0; }

private:
    CFile(const CFile&);
    CFile& operator=(const CFile&);
};

#endif /* VEXACOMM_FILE_H */
