#include <cstdio>

#include "vexacomm/Args.h"
#include "vexacomm/Commands.h"

// Placeholder until the compressor lands.
int CmdCompress(int argc, char** argv)
{
    Args args(argc, argv, 2);
    args.Positionals(2, 2);
    std::fprintf(stderr, "vexacomm compress: not available in this build\n");
    return 1;
}

int CmdDecompress(int argc, char** argv)
{
    Args args(argc, argv, 2);
    args.Positionals(2, 2);
    std::fprintf(stderr, "vexacomm decompress: not available in this build\n");
    return 1;
}
