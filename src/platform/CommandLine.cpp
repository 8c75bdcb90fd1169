// Command lines split into arguments by the Windows C run-time's rules.
#include "platform/Process.h"

namespace plat {

std::vector<std::string> SplitCommandLine(const char* commandLine)
{
    std::vector<std::string> args;
    const char* p = commandLine;
    for (;;) {
        while (*p == ' ' || *p == '\t')
            ++p;
        if (*p == '\0')
            break;
        std::string arg;
        bool quoted = false;
        while (*p != '\0' && (quoted || (*p != ' ' && *p != '\t'))) {
            std::size_t backslashes = 0;
            while (*p == '\\') {
                ++backslashes;
                ++p;
            }
            if (*p == '"') {
                arg.append(backslashes / 2, '\\');
                if (backslashes % 2 == 1)
                    arg.push_back('"');
                else
                    quoted = !quoted;
                ++p;
            } else {
                arg.append(backslashes, '\\');
                if (*p != '\0' && (quoted || (*p != ' ' && *p != '\t')))
                    arg.push_back(*p++);
            }
        }
        args.push_back(std::move(arg));
    }
    return args;
}

// Backslashes stay plain here, unlike the later arguments': a program path
// such as "C:\dir\" keeps them.
std::string FirstProgramArgument(const char* commandLine)
{
    std::string arg;
    bool quoted = false;
    for (const char* p = commandLine; *p != '\0'; ++p) {
        if (*p == '"') {
            quoted = !quoted;
            continue;
        }
        if (!quoted && (*p == ' ' || *p == '\t'))
            break;
        arg.push_back(*p);
    }
    return arg;
}

} // namespace plat
