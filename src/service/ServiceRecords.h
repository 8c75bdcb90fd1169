// Record and request layouts of the file and program service.
// Little-endian, byte offsets fixed by the peers that exchange them.
#pragma once

#include <cstddef>
#include <cstdint>

// The layouts are public: hosts fill and read them.
#include "VexaCommService.h"

constexpr std::uint8_t FILE_REQ_COMPRESSED = VEXACOMM_FILE_REQ_COMPRESSED;
constexpr std::uint32_t COMPRESS_MIN_SIZE = 0x40000;

constexpr std::uint16_t PROGRAM_KIND_START = 0;
constexpr std::uint16_t PROGRAM_KIND_RESERVED = 2;
constexpr std::uint8_t PROG_NO_WAIT = 1;
constexpr std::uint8_t PROG_DELAY = 2;
constexpr std::uint8_t PROG_SHELL = 4;
