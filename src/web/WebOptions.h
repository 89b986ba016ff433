#pragma once
// The command line of lumetra-web.exe.

#include <string>
#include <vector>

namespace lumetra::web {

struct WebOptions {
    std::string bindAddress = "127.0.0.1";
    unsigned short port = 8080;
    std::string password; // empty: no password asked
    int idleTimeoutSeconds = 10;
    bool showHelp = false;
};

extern const char kWebUsage[];

// Reads the arguments after the program name (UTF-8). Returns a sentence saying what is wrong, or
// an empty string.
std::string ParseWebOptions(const std::vector<std::string>& arguments, WebOptions& options);

// 127.0.0.0/8, ::1 or "localhost".
bool IsLoopbackAddress(const std::string& address);

} // namespace lumetra::web
