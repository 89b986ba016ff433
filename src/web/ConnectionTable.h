#pragma once
// Every open connection of the service, so that no client can shut out the others. When the table
// is full, a new connection closes the one that has waited longest without a whole request (or sits
// out a wrong password's wait) rather than being turned away; only connections busy answering are
// never closed for room. With a password, the connections that have not given it have a smaller
// limit of their own.

#include <winsock2.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <mutex>

namespace lumetra::web {

class ConnectionTable {
  public:
    using Clock = std::chrono::steady_clock;
    using Id = std::uint64_t;

    // unauthenticatedLimit 0: no password is asked, so there is no such class.
    ConnectionTable(int limit, int unauthenticatedLimit);

    enum class Admission {
        Admitted, // `id` names it in the calls below
        Busy,     // every place is taken by a connection being answered: answer 503, then RefusalDone
        Dropped,  // too many even to be told: close at once
    };
    Admission Admit(SOCKET socket, Id& id);
    void RefusalDone();
    // Before the connection's socket closes: its handle is not touched any more.
    void Leave(Id id);

    // What the connection does now. Each returns false once it was closed to make room: it then ends
    // without another word.
    bool AwaitRequest(Id id);
    bool Answer(Id id);
    void Authenticated(Id id);
    // Sits out a wait (for a wrong password), during which it may be closed to make room.
    bool Wait(Id id, Clock::duration wait);
    bool Closed(Id id);

  private:
    struct Entry {
        Id id;
        SOCKET socket;
        bool authenticated;
        bool waiting = true; // for a request, or out a wait: may be closed to make room
        Clock::time_point since = Clock::now();
        bool closed = false;
    };

    Entry* Find(Id id);
    int Open(bool unauthenticatedOnly) const;
    // Closes the connection that has waited longest; false when none waits.
    bool MakeRoom(bool unauthenticatedOnly);

    const int limit_;
    const int unauthenticatedLimit_;
    std::mutex mutex_;
    std::condition_variable closed_;
    std::list<Entry> entries_; // closed ones too, until their threads leave
    int refusing_ = 0;
    Id lastId_ = 0;
};

} // namespace lumetra::web
