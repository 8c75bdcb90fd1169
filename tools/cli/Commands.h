// Subcommands of the vexacomm program. Each returns the process exit code:
// 0 success, 1 failure, 2 for argument errors (thrown as UsageError).
#pragma once

int CmdFetch(int argc, char** argv);
int CmdFetchAll(int argc, char** argv);
int CmdConform(int argc, char** argv);
int CmdSimulate(int argc, char** argv);
int CmdDemo(int argc, char** argv);
int CmdCompress(int argc, char** argv);
int CmdDecompress(int argc, char** argv);
