// Where the service side writes its temporary files (listings): a prefix
// of their names, "" for the current directory. Process-wide; set by hosts
// through VexaComm_SetTempDir.
#pragma once

#include <string>

void SetTempDir(const char* dir);
std::string GetTempDir();
