#include "SoakSupport.h"

#include "WindowDriver.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

namespace lumetra::soak {

double WallNow() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> NamesBetween(const std::string& text, const std::string& before,
                                      const std::string& after) {
    std::vector<std::string> names;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const size_t from = line.find(before);
        const size_t to = from == std::string::npos ? from : line.find(after, from + before.size());
        if (to == std::string::npos)
            continue;
        const std::string path = line.substr(from + before.size(), to - from - before.size());
        names.push_back(path.substr(path.find_last_of("/\\") + 1));
    }
    return names;
}

std::optional<std::int32_t> StampOf(const std::string& prefix, const std::string& name) {
    const size_t length = prefix.size();
    if (name.rfind(prefix, 0) != 0 || name.size() <= length + 4 || !name.ends_with(".jpg"))
        return std::nullopt;
    const std::string digits = name.substr(length, name.size() - length - 4);
    if (digits.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return static_cast<std::int32_t>(std::stol(digits));
}

std::vector<Stretch> HealthyStretches(double from, double to, const std::vector<Span>& down) {
    std::vector<Stretch> stretches;
    for (auto s = static_cast<std::int32_t>(std::ceil(from + kGrace)); s + 1 <= to - kGrace; ++s) {
        if (std::any_of(down.begin(), down.end(),
                        [&](const Span& span) { return s + 1 > span.from - kGrace && s < span.to + kGrace; }))
            continue;
        if (!stretches.empty() && stretches.back().second == s)
            stretches.back().second = s + 1;
        else
            stretches.push_back({s, s + 1});
    }
    return stretches;
}

size_t CountIn(const std::set<std::int32_t>& stamps, Stretch stretch) {
    return static_cast<size_t>(
        std::distance(stamps.lower_bound(stretch.first), stamps.lower_bound(stretch.second)));
}

void PumpWhile(const std::function<void()>& work) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
        work();
        done = true;
    });
    lumetra::test::PumpUntil([&] { return done.load(); }, 60000);
    worker.join();
}

SOCKET SilentListener(unsigned short& port) {
    SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    int size = sizeof address;
    ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener, 8);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
    port = ::ntohs(address.sin_port);
    return listener;
}

} // namespace lumetra::soak
