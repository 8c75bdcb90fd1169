// CLzhufEncoder: LZHUF compression of one file into another.
#pragma once

#include "platform/Types.h"

class CFile;

class CLzhufEncoder {
public:
    CLzhufEncoder();
    virtual ~CLzhufEncoder();

    // Compresses `source` into `target` through "<target>.z!!". 1 when both
    // files opened and the compression ran to its end, else 0.
    BOOL CompressFile(const char* source, const char* target);
    // Compresses one open file into another; returns 1, failures throw.
    BOOL Encode(CFile* source, CFile* target);
};
