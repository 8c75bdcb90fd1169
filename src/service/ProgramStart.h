// Splitting a program request's command text into the program path and
// the command line handed to it.
#pragma once

#include <string>

// A leading double quote encloses the program path and the command line is
// the text after the closing quote; otherwise the path ends before the
// first blank and the command line is the rest from that blank on. False
// when the opening quote is never closed.
bool SplitProgramCommand(const char* command, std::string* program, std::string* commandLine);
