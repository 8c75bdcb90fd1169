/* The code of the version-resource DLLs: they exist for their resources. */
__declspec(dllexport) int VersionProbe(void) { return 1; }
