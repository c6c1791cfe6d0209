#include "platform/posix/command_line.h"

namespace {
bool blank(char c) { return c == ' ' || c == '\t'; }
}  // namespace

std::vector<std::string> split_command_line(const char* p) {
    std::vector<std::string> args;
    if (!p) return args;

    std::string program;
    if (*p == '"') {
        ++p;
        while (*p && *p != '"') program += *p++;
        if (*p == '"') ++p;
    } else {
        while (*p && !blank(*p)) program += *p++;
    }
    args.push_back(program);

    for (;;) {
        while (blank(*p)) ++p;
        if (!*p) break;
        std::string arg;
        bool quoted = false;
        while (*p && (quoted || !blank(*p))) {
            if (*p == '\\') {
                size_t slashes = 0;
                while (*p == '\\') {
                    ++slashes;
                    ++p;
                }
                if (*p == '"') {
                    arg.append(slashes / 2, '\\');
                    if (slashes % 2) {
                        arg += '"';
                        ++p;
                    }
                } else {
                    arg.append(slashes, '\\');
                }
                continue;
            }
            if (*p == '"') {
                if (quoted && p[1] == '"') {
                    arg += '"';
                    p += 2;
                    continue;
                }
                quoted = !quoted;
                ++p;
                continue;
            }
            arg += *p++;
        }
        args.push_back(arg);
    }
    return args;
}
