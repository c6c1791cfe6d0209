// A stand-in for the game program, used by tests and the demo. It writes what
// it was given (its raw command line where the OS has one, its arguments, its
// working directory and the variables the launcher sets) to standard output,
// which the launcher sends to game.log, and exits. On Windows every text is
// taken in UTF-16 and written in UTF-8, so that paths outside any code page
// show as they are.
#include <cstdio>
#include <cstdlib>
#include <string>

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>

std::string utf8(const wchar_t* text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], n, nullptr, nullptr);
    return out.c_str();
}
#else
#include <unistd.h>
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
    std::printf("cmdline=%s\n", utf8(GetCommandLineW()).c_str());
    // Inherited, both streams are the launcher's one game.log handle. Without
    // inheritance Windows leaves them unusable, and Wine duplicates each apart.
    const bool shared = GetStdHandle(STD_OUTPUT_HANDLE) == GetStdHandle(STD_ERROR_HANDLE);
    std::printf("std_handles=%s\n", shared ? "shared" : "separate");
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::printf("argc=%d\n", argc);
    for (int i = 0; i < argc; ++i) std::printf("argv[%d]=%s\n", i, utf8(wide[i]).c_str());
    wchar_t cwd[4096];
    std::printf("cwd=%s\n", GetCurrentDirectoryW(4096, cwd) ? utf8(cwd).c_str() : "?");
#else
    std::printf("argc=%d\n", argc);
    for (int i = 0; i < argc; ++i) std::printf("argv[%d]=%s\n", i, argv[i]);
    char cwd[4096];
    std::printf("cwd=%s\n", getcwd(cwd, sizeof cwd) ? cwd : "?");
#endif
    const char* names[] = {"VELA_NOOPEN", "VELA_STREAM", "PELKO_VIA_UPDATER", "VELA_NATIVE"};
    for (const char* name : names) {
        const char* value = std::getenv(name);
        std::printf("env %s=%s\n", name, value ? value : "<unset>");
    }
    const char* code = std::getenv("STUB_GAME_EXIT_CODE");
    return code ? std::atoi(code) : 0;
}
