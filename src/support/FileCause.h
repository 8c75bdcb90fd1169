// A caught CFileException* as its cause code, the exception freed. Every
// catch site of the library goes through here: a null pointer thrown by a
// host's file counts as a generic failure, never a crash.
#pragma once

#include <cstdint>

#include "VexaCommFile.h"

inline std::int32_t TakeCause(CFileException* e)
{
    std::int32_t cause = e != nullptr ? e->m_cause : static_cast<std::int32_t>(CFileException::genericException);
    if (e != nullptr)
        e->Delete();
    return cause;
}
