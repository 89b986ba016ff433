#pragma once
// What a session needs of the window that opens it (the camera list), handed to each session at
// its creation: the set of open sessions the schedule walks, and the HTTP mirror.

#include <string>
#include <vector>

namespace lumetra {

class LiveView;

class SessionHost {
  public:
    // A session counts as open from the start of its camera until its window goes.
    virtual void Register(LiveView* session) = 0;
    virtual void Unregister(LiveView* session) = 0;
    // The open sessions, in ascending order of address: a copy, as a session may close while the
    // caller walks them.
    virtual std::vector<LiveView*> OpenSessions() const = 0;
    virtual bool HasSession(const LiveView* session) const = 0;
    // Publishes a saved image's path when the mirror is switched on and open.
    virtual void MirrorImagePath(const std::string& path) = 0;
    // Tells the web service every camera shown there as it is now (also done on every tick), so a
    // new image is on the web as soon as it is written.
    virtual void PublishCamerasToWeb() = 0;

  protected:
    ~SessionHost() = default;
};

} // namespace lumetra
