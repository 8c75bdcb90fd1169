/*
 * A Windows host in C that knows nothing but VexaCommLib.dll: it loads the
 * library at run time, resolves every export by ordinal and by name, and
 * fetches data from a simulated device (vexacomm.exe simulate, started as a
 * program of its own) through the resolved functions, with progress
 * messages sent to a window of its own. It runs in a directory of its own
 * (bin/host, the library and vexacomm.exe one above) with the error-text
 * companion CONNERROR.DLL beside it.
 */
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int failures = 0;

#define CHECK(cond)                                                                     \
    do {                                                                                \
        if (!(cond)) {                                                                  \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond);   \
            ++failures;                                                                 \
        }                                                                               \
    } while (0)

static const char* const kExports[] = {
    "VexaComm_CreateObject",        "VexaComm_DestroyObject",       "VexaComm_Connect",
    "VexaComm_SetPacketSizeMax",    "VexaComm_GetPacketSizeMax",    "VexaComm_GetAsdu10",
    "VexaComm_GetIdent",            "VexaComm_GetDeviceType",       "VexaComm_GetErrorText",
    "VexaComm_IsConnected",         "VexaComm_SetLogPath",          "VexaComm_SetWaitLimit",
    "VexaComm_GetWaitLimit",        "VexaComm_ConnectPort",         "VexaComm_SetProgressCallback",
    "VexaComm_DispatchProgress",    "VexaComm_CancelTransfer",      "VexaComm_WaitTransferDone",
    "VexaComm_GetAsdu10ToPath",     "VexaComm_SetProgressWindow",   "VexaComm_GetAsdu10ToCallback",
    "VexaComm_SetDiagnosticCallback", "VexaComm_ServiceGetFileInfo",
    "VexaComm_ServiceGetFileInfoVersion", "VexaComm_ServiceCreateReceiveFile",
    "VexaComm_ServiceOpenSendFile", "VexaComm_ServiceCloseTransferFile",
    "VexaComm_ServiceCloseFileOnStatus", "VexaComm_ServiceListDirectory",
    "VexaComm_ServiceRunProgramRequest", "VexaComm_ServiceStartProgram",
    "VexaComm_ServiceReplyNotSupported", "VexaComm_ServiceSendStatusFlags",
    "VexaComm_ServiceClearStatusFlags", "VexaComm_ServiceSetStatusFlags",
    "VexaComm_ServiceMakeDirectory", "VexaComm_ServiceDeletePath",
    "VexaComm_TransferRead", "VexaComm_TransferWrite",
    "VexaComm_TransferLength", "VexaComm_ReceivePacket",
    "VexaComm_SendReply", "VexaComm_SetTempDir",
    "VexaComm_SendPacket", "VexaComm_CompressStream", "VexaComm_DecompressStream",
    "VexaComm_SetTraceCallback", "VexaComm_SetTransferCallback", "VexaComm_GetVersion",
    "VexaComm_SetCaptureFile", "VexaComm_ServiceSetRoot", "VexaComm_ServiceSetPrograms",
};
#define EXPORT_COUNT (sizeof(kExports) / sizeof(kExports[0]))

typedef void* (__cdecl* CreateObjectFn)(void);
typedef int32_t (__cdecl* DestroyObjectFn)(void*);
typedef int32_t (__cdecl* ConnectFn)(void*, const char*);
typedef int32_t (__cdecl* SetPacketSizeMaxFn)(void*, uint16_t*);
typedef uint16_t (__cdecl* GetPacketSizeMaxFn)(void*);
typedef uint16_t (__cdecl* GetDeviceTypeFn)(void*);
typedef int32_t (__cdecl* GetIdentFn)(void*, char*, int32_t);
typedef int32_t (__cdecl* GetAsdu10ToPathFn)(void*, const char*, const void*);
typedef int32_t (__cdecl* SetProgressWindowFn)(void*, void*, int32_t);
typedef int32_t (__cdecl* GetErrorTextFn)(void*, int32_t, char*, int32_t);

/* Beside this program. */
static void SiblingPath(const char* name, char* out, size_t size)
{
    char self[MAX_PATH];
    DWORD n = GetModuleFileNameA(NULL, self, sizeof(self));
    char* cut;
    self[n < sizeof(self) ? n : 0] = '\0';
    cut = strrchr(self, '\\');
    if (cut != NULL)
        cut[1] = '\0';
    snprintf(out, size, "%s%s", self, name);
}

/* Progress messages as the window receives them. */
static int g_messages = 0;
static WPARAM g_firstW = 99, g_lastW = 99;
static LPARAM g_firstL = -1, g_lastL = -1;

static LRESULT CALLBACK ProgressProc(HWND window, UINT message, WPARAM w, LPARAM l)
{
    if (message == 0x0A00) {
        if (g_messages == 0) {
            g_firstW = w;
            g_firstL = l;
        }
        g_lastW = w;
        g_lastL = l;
        ++g_messages;
        return 0;
    }
    return DefWindowProcA(window, message, w, l);
}

/* The simulator, started with its standard output on a pipe: the line
 * "simulating ..." says that it listens. Tries a few addresses in case one
 * is taken. The address it listens on goes to `address`. */
static HANDLE StartSimulator(const char* dataPath, char* address, size_t size)
{
    char program[MAX_PATH];
    int attempt;
    SiblingPath("..\\vexacomm.exe", program, sizeof(program));
    for (attempt = 1; attempt <= 4; ++attempt) {
        SECURITY_ATTRIBUTES inherit = {sizeof(SECURITY_ATTRIBUTES), NULL, TRUE};
        HANDLE readEnd, writeEnd;
        STARTUPINFOA startup;
        PROCESS_INFORMATION info;
        char line[2 * MAX_PATH + 128];
        char seen[512];
        size_t have = 0;
        DWORD got;
        BOOL started;
        /* A range no other test binds: tests run in parallel. */
        snprintf(address, size, "127.12.%d.1", attempt);
        snprintf(line, sizeof(line), "\"%s\" simulate --bind %s --data \"%s\" --once", program, address, dataPath);
        if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
            return NULL;
        SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
        ZeroMemory(&startup, sizeof(startup));
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = writeEnd;
        startup.hStdError = writeEnd;
        started = CreateProcessA(program, line, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &info);
        CloseHandle(writeEnd);
        if (!started) {
            CloseHandle(readEnd);
            return NULL;
        }
        CloseHandle(info.hThread);
        /* Read until the line arrives or the simulator has ended. */
        seen[0] = '\0';
        while (have + 1 < sizeof(seen) && ReadFile(readEnd, seen + have, (DWORD)(sizeof(seen) - 1 - have), &got, NULL) &&
               got > 0) {
            have += got;
            seen[have] = '\0';
            if (strstr(seen, "simulating") != NULL)
                break;
        }
        CloseHandle(readEnd);
        if (strstr(seen, "simulating") != NULL)
            return info.hProcess;
        fprintf(stderr, "simulator on %s did not start: %s\n", address, seen);
        WaitForSingleObject(info.hProcess, 10000);
        CloseHandle(info.hProcess);
    }
    return NULL;
}

static int SameFiles(const char* a, const char* b)
{
    FILE* fa = fopen(a, "rb");
    FILE* fb = fopen(b, "rb");
    int same = fa != NULL && fb != NULL;
    while (same) {
        int ca = fgetc(fa), cb = fgetc(fb);
        if (ca != cb)
            same = 0;
        if (ca == EOF || cb == EOF)
            break;
    }
    if (fa)
        fclose(fa);
    if (fb)
        fclose(fb);
    return same;
}

int main(void)
{
    WSADATA wsa;
    char path[MAX_PATH];
    char temp[MAX_PATH];
    char dataPath[MAX_PATH];
    char outPath[MAX_PATH];
    char address[32];
    HMODULE library;
    size_t i;
    FILE* data;
    HANDLE simulator;
    WNDCLASSA windowClass;
    HWND window;
    const unsigned char request[16] = {0, 0, 0, 0, 0, 0, 1, 0, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};

    /* The library never starts Windows Sockets: its host does. */
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0)
        return 1;

    SiblingPath("..\\VexaCommLib.dll", path, sizeof(path));
    library = LoadLibraryA(path);
    if (library == NULL) {
        fprintf(stderr, "LoadLibraryA(%s) failed: %lu\n", path, GetLastError());
        return 1;
    }

    /* Each export by its ordinal and by its undecorated name: one function. */
    for (i = 0; i < EXPORT_COUNT; ++i) {
        FARPROC byOrdinal = GetProcAddress(library, MAKEINTRESOURCEA(i + 1));
        FARPROC byName = GetProcAddress(library, kExports[i]);
        if (byOrdinal == NULL || byName == NULL || byOrdinal != byName) {
            fprintf(stderr, "ordinal %u / %s: %p %p\n", (unsigned)(i + 1), kExports[i], (void*)byOrdinal,
                    (void*)byName);
            ++failures;
        }
    }
    /* Behind the C functions only the connection class's members follow:
     * none of them is one of the C functions again. */
    {
        FARPROC next = GetProcAddress(library, MAKEINTRESOURCEA(EXPORT_COUNT + 1));
        for (i = 0; next != NULL && i < EXPORT_COUNT; ++i)
            CHECK(next != GetProcAddress(library, kExports[i]));
    }
    CHECK(GetProcAddress(library, "_VexaComm_Connect") == NULL);

    {
        CreateObjectFn create = (CreateObjectFn)(void*)GetProcAddress(library, MAKEINTRESOURCEA(1));
        DestroyObjectFn destroy = (DestroyObjectFn)(void*)GetProcAddress(library, MAKEINTRESOURCEA(2));
        ConnectFn connect = (ConnectFn)(void*)GetProcAddress(library, MAKEINTRESOURCEA(3));
        SetPacketSizeMaxFn setSize = (SetPacketSizeMaxFn)(void*)GetProcAddress(library, MAKEINTRESOURCEA(4));
        GetPacketSizeMaxFn getSize = (GetPacketSizeMaxFn)(void*)GetProcAddress(library, MAKEINTRESOURCEA(5));
        GetIdentFn getIdent = (GetIdentFn)(void*)GetProcAddress(library, "VexaComm_GetIdent");
        GetDeviceTypeFn getType = (GetDeviceTypeFn)(void*)GetProcAddress(library, "VexaComm_GetDeviceType");
        GetAsdu10ToPathFn fetch = (GetAsdu10ToPathFn)(void*)GetProcAddress(library, "VexaComm_GetAsdu10ToPath");
        SetProgressWindowFn setWindow =
            (SetProgressWindowFn)(void*)GetProcAddress(library, "VexaComm_SetProgressWindow");
        GetErrorTextFn errorText = (GetErrorTextFn)(void*)GetProcAddress(library, "VexaComm_GetErrorText");
        char text[128];
        void* device;
        uint16_t size = 4096;
        char ident[64];
        DWORD tmpLength = GetTempPathA(sizeof(temp), temp);
        unsigned seed = 12345;

        CHECK(tmpLength > 0 && tmpLength < sizeof(temp));
        snprintf(dataPath, sizeof(dataPath), "%svexacomm-host-%lu.data", temp, GetCurrentProcessId());
        snprintf(outPath, sizeof(outPath), "%svexacomm-host-%lu.out", temp, GetCurrentProcessId());
        data = fopen(dataPath, "wb");
        CHECK(data != NULL);
        if (data == NULL)
            return 1;
        for (i = 0; i < 200003; ++i) {
            seed = seed * 1103515245u + 12345u;
            fputc((int)(seed >> 16) & 0xFF, data);
        }
        fclose(data);

        simulator = StartSimulator(dataPath, address, sizeof(address));
        CHECK(simulator != NULL);
        if (simulator == NULL)
            return 1;

        ZeroMemory(&windowClass, sizeof(windowClass));
        windowClass.lpfnWndProc = ProgressProc;
        windowClass.hInstance = GetModuleHandleA(NULL);
        windowClass.lpszClassName = "VexaCommHostProgress";
        RegisterClassA(&windowClass);
        window = CreateWindowExA(0, windowClass.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL,
                                 windowClass.hInstance, NULL);
        CHECK(window != NULL);

        device = create();
        CHECK(device != NULL);
        CHECK(getSize(device) == 16376);
        CHECK(connect(device, address) == 0);
        CHECK(getType(device) == 769);
        CHECK(getIdent(device, ident, sizeof(ident)) > 0);
        CHECK(setSize(device, &size) == 0);
        CHECK(size == 4096);
        CHECK(getSize(device) == 16376);
        /* Sent from this thread to its own window: handled within the call. */
        CHECK(setWindow(device, window, 0) == 0);
        CHECK(fetch(device, outPath, request) == 0);
        CHECK(SameFiles(dataPath, outPath));
        CHECK(g_messages >= 3);
        /* Counted in the 4096-byte packets the device now sends. */
        CHECK(g_firstW == 1 && g_firstL == 49);
        CHECK(g_lastW == 1 && g_lastL == 0);
        /* Texts from the companion beside this program, else the library's. */
        CHECK(errorText(device, 71002, text, sizeof(text)) > 0);
        CHECK(strcmp(text, "CONN-71002 : no greeting from the peer") == 0);
        CHECK(errorText(device, 71003, text, sizeof(text)) > 0);
        CHECK(strcmp(text, "the device answered with an unexpected command") == 0);
        CHECK(destroy(device) == 0);

        /* --once: the simulator ends after its one connection. */
        CHECK(WaitForSingleObject(simulator, 30000) == WAIT_OBJECT_0);
        TerminateProcess(simulator, 1);
        CloseHandle(simulator);
        DestroyWindow(window);
        DeleteFileA(dataPath);
        DeleteFileA(outPath);
    }

    FreeLibrary(library);
    WSACleanup();
    printf("%d passed, %d failed\n", failures == 0 ? 1 : 0, failures == 0 ? 0 : 1);
    return failures == 0 ? 0 : 1;
}
