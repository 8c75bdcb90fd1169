// The LZHUF codec for hosts: streams through C read and write functions,
// so that any host (and the program) uses the library's one codec.
#include <memory>
#include <new>

#include "VexaCommFile.h"
#include "VexaCommLib.h"
#include "api/CallbackFile.h"
#include "lzh/LzhufDecoder.h"
#include "lzh/LzhufEncoder.h"
#include "support/FileCause.h"

namespace {

// A source read through a host's function. The codec reads it once from
// its start; a seek anywhere else cannot be done on a stream.
class CCallbackSource : public CFile {
public:
    CCallbackSource(VexaCommReadFn read, void* user, uint32_t length)
        : m_read(read), m_user(user), m_length(length)
    {
    }

    uint32_t Read(void* buffer, uint32_t count) override
    {
        uint32_t got = 0;
        int32_t rc = m_read(m_user, buffer, count, &got);
        if (rc != 0)
            throw new CFileException(rc);
        // A function that claims more than it was given is not believed.
        return got > count ? count : got;
    }
    uint64_t Seek(int64_t offset, unsigned from) override
    {
        if (offset != 0 || from != CFile::begin)
            throw new CFileException(CFileException::badSeek);
        return 0;
    }
    uint32_t GetLength() const override { return m_length; }

private:
    VexaCommReadFn m_read;
    void* m_user;
    uint32_t m_length;
};

// The compressed stream goes out in order from its start.
class CCallbackTarget : public CCallbackFile {
public:
    using CCallbackFile::CCallbackFile;
    uint64_t Seek(int64_t offset, unsigned from) override
    {
        if (offset != 0 || from != CFile::begin)
            throw new CFileException(CFileException::badSeek);
        return 0;
    }
};

} // namespace

extern "C" {

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_CompressStream(VexaCommReadFn read, void* readUser, uint32_t length,
                                                          VexaCommWriteFn write, void* writeUser)
{
    if (read == nullptr || write == nullptr)
        return VEXACOMM_ERR_FILE_CREATE;
    try {
        CCallbackSource source(read, readUser, length);
        CCallbackTarget target(write, writeUser);
        auto encoder = std::make_unique<CLzhufEncoder>();
        encoder->Encode(&source, &target);
        return 0;
    } catch (CFileException* e) {
        return TakeCause(e);
    } catch (...) {
        return VEXACOMM_ERR_EXCEPTION;
    }
}

VEXACOMM_API int32_t VEXACOMM_CALL VexaComm_DecompressStream(VexaCommReadFn read, void* readUser,
                                                            VexaCommWriteFn write, void* writeUser)
{
    if (read == nullptr || write == nullptr)
        return VEXACOMM_ERR_FILE_CREATE;
    try {
        CCallbackSource source(read, readUser, 0);
        CCallbackTarget target(write, writeUser);
        auto decoder = std::make_unique<CLzhufDecoder>();
        switch (decoder->Decode(&source, &target)) {
        case LzhufStatus::Ok: return 0;
        case LzhufStatus::Truncated: return VEXACOMM_ERR_DATA_TRUNCATED;
        case LzhufStatus::Corrupt: return VEXACOMM_ERR_DATA_CORRUPT;
        default: return decoder->GetFileError() != 0 ? decoder->GetFileError() : VEXACOMM_ERR_EXCEPTION;
        }
    } catch (CFileException* e) {
        return TakeCause(e);
    } catch (...) {
        return VEXACOMM_ERR_EXCEPTION;
    }
}

} // extern "C"
