// Filling record fields: bounded texts and local calendar times.
#include "service/RecordFields.h"

#include <cstring>

#include "platform/Clock.h"

void CopyTextField(char* field, std::size_t fieldSize, const char* text)
{
    if (fieldSize == 0)
        return;
    std::size_t n = BoundedLength(text, fieldSize - 1);
    std::memcpy(field, text, n);
    field[n] = '\0';
}

void SetRecordTime(FileInfoRecord* record, std::int64_t secondsSince1970)
{
    plat::LocalTime t = plat::LocalTimeOf(secondsSince1970);
    record->year = static_cast<std::uint16_t>(t.year);
    record->month = static_cast<std::uint16_t>(t.month);
    record->day = static_cast<std::uint16_t>(t.day);
    record->hour = static_cast<std::uint16_t>(t.hour);
    record->minute = static_cast<std::uint16_t>(t.minute);
    record->second = static_cast<std::uint16_t>(t.second);
}

void FillInfoRecord(FileInfoRecord* record, const char* path, std::int64_t mtime, std::int64_t size,
                    std::uint32_t attributes)
{
    record->size = static_cast<std::uint32_t>(size);
    record->count = static_cast<std::uint32_t>(size);
    record->attributes = attributes;
    SetRecordTime(record, mtime);
    CopyTextField(record->path, sizeof(record->path), path);
}
