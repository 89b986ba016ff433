#pragma once
// What the soak run counts with and the faults it makes: image names and their stamps, the stretches of
// seconds a camera was healthy in, the names read back from the FTP server's transcript and the mail
// log, slow work done while the windows keep running, a server that never answers.

#include <winsock2.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace lumetra::soak {

// Seconds left out at each edge of a window, healthy or not.
constexpr double kGrace = 1.0;

// A time a camera was not healthy, in seconds since 1970 (WallNow).
struct Span {
    double from, to;
};
// Whole seconds [first, end), on the clock of the image names' stamps.
using Stretch = std::pair<std::int32_t, std::int32_t>;

// Seconds since 1970 on the clock the image names are stamped with.
double WallNow();
std::string ReadAll(const std::string& path);

// File names of the paths between `before` and `after` on each line: "STOR <path> completed=1" in the
// FTP server's transcript, "path="<path>"" in the FILE records of the recording MAPI32.DLL.
std::vector<std::string> NamesBetween(const std::string& text, const std::string& before,
                                      const std::string& after);
// The stamp of "<prefix><stamp>.jpg"; nothing for a name with another prefix.
std::optional<std::int32_t> StampOf(const std::string& prefix, const std::string& name);

// Stretches of whole seconds within [from, to) that touch no span, with a second of grace at every edge.
std::vector<Stretch> HealthyStretches(double from, double to, const std::vector<Span>& down);
size_t CountIn(const std::set<std::int32_t>& stamps, Stretch stretch);

// Runs work that takes a second or more (starting or stopping the FTP server, counting resources) on a
// thread of its own while this thread keeps the windows and the camera timer going.
void PumpWhile(const std::function<void()>& work);

// A loopback socket that listens and never accepts: connections wait in its backlog, never greeted.
// Closing it resets them. Winsock must be started.
SOCKET SilentListener(unsigned short& port);

} // namespace lumetra::soak
