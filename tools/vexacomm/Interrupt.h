// Ctrl-C handling: the signal only raises a flag; callers poll it.
#pragma once

void InstallInterruptHandler();
bool Interrupted();
