// A DLL that a web page could drop into a download folder, built as
// winhttp.dll and as uxtheme.dll. Loaded into a process, it leaves a marker
// file beside itself (its own path and ".loaded"). It exports the WinHTTP
// functions the launcher uses, so that a loader that takes it for the real
// winhttp.dll gets that far.
#include <windows.h>

#include <string>

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(self, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return TRUE;
    HANDLE marker = CreateFileW((std::wstring(path) + L".loaded").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
    return TRUE;
}

#define PLANTED_EXPORT(name) \
    extern "C" __declspec(dllexport) void* name() { return nullptr; }
PLANTED_EXPORT(WinHttpOpen)
PLANTED_EXPORT(WinHttpConnect)
PLANTED_EXPORT(WinHttpOpenRequest)
PLANTED_EXPORT(WinHttpSendRequest)
PLANTED_EXPORT(WinHttpReceiveResponse)
PLANTED_EXPORT(WinHttpQueryDataAvailable)
PLANTED_EXPORT(WinHttpReadData)
PLANTED_EXPORT(WinHttpCloseHandle)
