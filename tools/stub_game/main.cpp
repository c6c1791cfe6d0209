// A stand-in for the game program, used by tests and the demo. It writes what
// it was given (its raw command line where the OS has one, its arguments, its
// working directory and the variables the launcher sets) to standard output,
// which the launcher sends to game.log, and exits.
#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#include <direct.h>
#include <windows.h>
#define getcwd _getcwd
#else
#include <unistd.h>
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
    std::printf("cmdline=%s\n", GetCommandLineA());
    // Inherited, both streams are the launcher's one game.log handle. Without
    // inheritance Windows leaves them unusable, and Wine duplicates each apart.
    const bool shared = GetStdHandle(STD_OUTPUT_HANDLE) == GetStdHandle(STD_ERROR_HANDLE);
    std::printf("std_handles=%s\n", shared ? "shared" : "separate");
#endif
    std::printf("argc=%d\n", argc);
    for (int i = 0; i < argc; ++i) std::printf("argv[%d]=%s\n", i, argv[i]);
    char cwd[4096];
    std::printf("cwd=%s\n", getcwd(cwd, sizeof cwd) ? cwd : "?");
    const char* names[] = {"VELA_NOOPEN", "VELA_STREAM", "PELKO_VIA_UPDATER", "VELA_NATIVE"};
    for (const char* name : names) {
        const char* value = std::getenv(name);
        std::printf("env %s=%s\n", name, value ? value : "<unset>");
    }
    const char* code = std::getenv("STUB_GAME_EXIT_CODE");
    return code ? std::atoi(code) : 0;
}
