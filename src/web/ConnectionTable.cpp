#include "web/ConnectionTable.h"

#include <algorithm>

namespace lumetra::web {
namespace {

// Connections being refused (503) or closed but not yet gone, beyond the limit; past that, a new
// connection is closed unanswered.
constexpr int kRefusalRoom = 20;

} // namespace

ConnectionTable::ConnectionTable(int limit, int unauthenticatedLimit)
    : limit_(limit), unauthenticatedLimit_(unauthenticatedLimit) {}

ConnectionTable::Entry* ConnectionTable::Find(Id id) {
    const auto found =
        std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.id == id; });
    return found == entries_.end() ? nullptr : &*found;
}

int ConnectionTable::Open(bool unauthenticatedOnly) const {
    return static_cast<int>(std::count_if(entries_.begin(), entries_.end(), [&](const Entry& e) {
        return !e.closed && !(unauthenticatedOnly && e.authenticated);
    }));
}

bool ConnectionTable::MakeRoom(bool unauthenticatedOnly) {
    Entry* oldest = nullptr;
    for (Entry& entry : entries_)
        if (!entry.closed && entry.waiting && !(unauthenticatedOnly && entry.authenticated) &&
            (!oldest || entry.since < oldest->since))
            oldest = &entry;
    if (!oldest)
        return false;
    oldest->closed = true;
    // Its thread may be in a blocking receive: the shutdown fails every later one at once, the
    // cancel ends one under way (Wine wakes it for the cancel only).
    ::shutdown(oldest->socket, SD_BOTH);
    ::CancelIoEx(reinterpret_cast<HANDLE>(oldest->socket), nullptr);
    closed_.notify_all();
    return true;
}

ConnectionTable::Admission ConnectionTable::Admit(SOCKET socket, Id& id) {
    std::lock_guard lock(mutex_);
    if (static_cast<int>(entries_.size()) + refusing_ >= limit_ + kRefusalRoom)
        return Admission::Dropped;
    bool room = Open(false) < limit_ || MakeRoom(false);
    if (room && unauthenticatedLimit_ > 0 && Open(true) >= unauthenticatedLimit_)
        room = MakeRoom(true);
    if (!room) {
        ++refusing_;
        return Admission::Busy;
    }
    id = ++lastId_;
    entries_.push_back({id, socket, unauthenticatedLimit_ == 0});
    return Admission::Admitted;
}

void ConnectionTable::RefusalDone() {
    std::lock_guard lock(mutex_);
    --refusing_;
}

void ConnectionTable::Leave(Id id) {
    std::lock_guard lock(mutex_);
    entries_.remove_if([&](const Entry& e) { return e.id == id; });
}

bool ConnectionTable::AwaitRequest(Id id) {
    std::lock_guard lock(mutex_);
    Entry* entry = Find(id);
    entry->waiting = true;
    entry->since = Clock::now();
    return !entry->closed;
}

bool ConnectionTable::Answer(Id id) {
    std::lock_guard lock(mutex_);
    Entry* entry = Find(id);
    entry->waiting = false;
    return !entry->closed;
}

void ConnectionTable::Authenticated(Id id) {
    std::lock_guard lock(mutex_);
    Find(id)->authenticated = true;
}

bool ConnectionTable::Wait(Id id, Clock::duration wait) {
    std::unique_lock lock(mutex_);
    Entry* entry = Find(id);
    entry->waiting = true;
    entry->since = Clock::now();
    closed_.wait_for(lock, wait, [&] { return entry->closed; });
    entry->waiting = false;
    return !entry->closed;
}

bool ConnectionTable::Closed(Id id) {
    std::lock_guard lock(mutex_);
    return Find(id)->closed;
}

} // namespace lumetra::web
