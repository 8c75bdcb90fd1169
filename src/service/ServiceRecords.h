// Record and request layouts of the file and program service.
// Little-endian, byte offsets fixed by the peers that exchange them.
#pragma once

#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)

// One file: time in local calendar fields, size, attributes, transfer range
// and the path.
struct FileInfoRecord {
    std::uint32_t reserved0;
    std::uint16_t year;
    std::uint16_t month;
    std::uint16_t day;
    std::uint16_t hour;
    std::uint16_t minute;
    std::uint16_t second;
    std::uint32_t reserved16;
    std::uint32_t size;
    std::uint32_t attributes;
    std::uint32_t startOffset;
    std::uint32_t count;
    char path[256];
};

// The file's version text first, then its information record.
struct FileInfoVersionRecord {
    char version[32];
    FileInfoRecord info;
};

// A file to send, or the search pattern of a listing. The path runs from
// byte 12 to its zero and may be longer than the fixed part of the struct.
struct FileRequest {
    std::uint16_t reserved0;
    std::uint8_t flags;
    std::uint8_t reserved3;
    std::uint32_t startOffset;
    std::uint32_t reserved8;

    const char* Path() const { return reinterpret_cast<const char*>(this) + 12; }
};

// A program to start. The command runs from byte 34 to its zero.
struct ProgramRequest {
    std::uint16_t kind;
    std::uint8_t flags;
    std::uint8_t reserved3;
    std::uint16_t show;
    std::uint32_t waitMs;
    std::uint32_t delayMs;
    std::uint32_t reserved14;
    char verb[16];

    const char* Command() const { return reinterpret_cast<const char*>(this) + 34; }
};

#pragma pack(pop)

static_assert(sizeof(FileInfoRecord) == 292, "file information record");
static_assert(offsetof(FileInfoRecord, year) == 4, "year");
static_assert(offsetof(FileInfoRecord, second) == 14, "second");
static_assert(offsetof(FileInfoRecord, size) == 20, "size");
static_assert(offsetof(FileInfoRecord, attributes) == 24, "attributes");
static_assert(offsetof(FileInfoRecord, startOffset) == 28, "start offset");
static_assert(offsetof(FileInfoRecord, count) == 32, "count");
static_assert(offsetof(FileInfoRecord, path) == 36, "path");
static_assert(sizeof(FileInfoVersionRecord) == 324, "file information with version");
static_assert(offsetof(FileInfoVersionRecord, info) == 32, "info follows the version");
static_assert(sizeof(FileRequest) == 12, "file request head");
static_assert(offsetof(FileRequest, flags) == 2, "flags");
static_assert(offsetof(FileRequest, startOffset) == 4, "start offset");
static_assert(sizeof(ProgramRequest) == 34, "program request head");
static_assert(offsetof(ProgramRequest, show) == 4, "show");
static_assert(offsetof(ProgramRequest, waitMs) == 6, "wait time");
static_assert(offsetof(ProgramRequest, delayMs) == 10, "delay");
static_assert(offsetof(ProgramRequest, verb) == 18, "verb");

constexpr std::uint8_t FILE_REQ_COMPRESSED = 1;
constexpr std::uint32_t COMPRESS_MIN_SIZE = 0x40000;

constexpr std::uint16_t PROGRAM_KIND_START = 0;
constexpr std::uint16_t PROGRAM_KIND_RESERVED = 2;
constexpr std::uint8_t PROG_NO_WAIT = 1;
constexpr std::uint8_t PROG_DELAY = 2;
constexpr std::uint8_t PROG_SHELL = 4;
