#include "web/WebOptions.h"

#include <charconv>

namespace lumetra::web {

const char kWebUsage[] =
    "Usage: lumetra-web [--port N] [--bind ADDRESS] [--password TEXT] [--idle-timeout SECONDS]\n"
    "Serves the newest image Lumetra publishes (\"Mirror file path to HTTP service\") over HTTP:\n"
    "  /             a page that follows the newest image\n"
    "  /latest.jpg   the newest image\n"
    "  /stream.mjpg  every new image as an MJPEG stream\n"
    "  /status.json  the newest image's path, size and time, and the service's uptime\n"
    "Defaults: --bind 127.0.0.1 --port 8080. Any address other than loopback needs --password\n"
    "(HTTP Basic; any user name). Runs until Ctrl+C or a close request.\n";

namespace {

bool ParseNumber(const std::string& text, int low, int high, int& value) {
    int parsed = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (error != std::errc() || end != text.data() + text.size() || parsed < low || parsed > high)
        return false;
    value = parsed;
    return true;
}

} // namespace

bool IsLoopbackAddress(const std::string& address) {
    if (address == "localhost" || address == "::1" || address == "[::1]")
        return true;
    // A dotted quad whose first number is 127.
    int parts = 0, first = -1;
    std::size_t start = 0;
    while (start <= address.size()) {
        const std::size_t dot = address.find('.', start);
        const std::string part =
            address.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        int value = 0;
        if (part.empty() || part.size() > 3 || !ParseNumber(part, 0, 255, value))
            return false;
        if (parts++ == 0)
            first = value;
        if (dot == std::string::npos)
            break;
        start = dot + 1;
    }
    return parts == 4 && first == 127;
}

std::string ParseWebOptions(const std::vector<std::string>& arguments, WebOptions& options) {
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& name = arguments[i];
        if (name == "--help" || name == "-h" || name == "/?") {
            options.showHelp = true;
            continue;
        }
        if (name != "--port" && name != "--bind" && name != "--password" && name != "--idle-timeout")
            return "Unknown option " + name + ".";
        if (i + 1 >= arguments.size())
            return name + " needs a value.";
        const std::string& value = arguments[++i];
        if (name == "--port") {
            int port = 0;
            if (!ParseNumber(value, 1, 65535, port))
                return "--port needs a number from 1 to 65535.";
            options.port = static_cast<unsigned short>(port);
        } else if (name == "--bind") {
            options.bindAddress = value == "localhost" ? "127.0.0.1" : value;
        } else if (name == "--password") {
            if (value.empty())
                return "--password needs a text.";
            options.password = value;
        } else if (!ParseNumber(value, 1, 3600, options.idleTimeoutSeconds)) {
            return "--idle-timeout needs a number of seconds from 1 to 3600.";
        }
    }
    if (!IsLoopbackAddress(options.bindAddress) && options.password.empty())
        return "Listening on " + options.bindAddress +
               " lets other machines connect: give a password with --password.";
    return {};
}

} // namespace lumetra::web
