// Filling the fields that the service's records share.
#pragma once

#include <cstddef>
#include <cstdint>

#include "service/ServiceRecords.h"

// Copies at most fieldSize - 1 characters and a zero (lstrcpyn): a longer
// text is cut, and nothing is written beyond the field.
void CopyTextField(char* field, std::size_t fieldSize, const char* text);

// The six calendar fields from a file time, in local time.
void SetRecordTime(FileInfoRecord* record, std::int64_t secondsSince1970);

// The record of a file as GetFileInfo fills it from the file's status.
void FillInfoRecord(FileInfoRecord* record, const char* path, std::int64_t mtime, std::int64_t size,
                    std::uint32_t attributes);

// The text of a request field that should end within `fieldSize` bytes,
// read no further than that.
inline std::size_t BoundedLength(const char* field, std::size_t fieldSize)
{
    std::size_t n = 0;
    while (n < fieldSize && field[n] != '\0')
        ++n;
    return n;
}
