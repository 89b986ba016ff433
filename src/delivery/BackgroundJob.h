#pragma once
// Uploads and mails run on threads of their own, so that a slow or silent server never holds up
// the windows. A job owns whatever it opens on its thread; its outcome comes back to the
// user-interface thread through a message-only window of the job's owner, and the thread is joined
// later (when the next job starts, or at the end of the program).

#include <windows.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace lumetra {

// What a job hands back to the user-interface thread.
struct JobOutcome {
    bool succeeded = false;
    std::string boxText; // a message box to show (empty caption: none)
    std::string boxCaption;
    std::string failure;              // what went wrong, for the event log (empty: nothing)
    std::string untrustedCertificate; // fingerprint of a server certificate refused as unknown
};

// How a job's blocking call is interrupted when the program ends.
class JobStop {
  public:
    // The job names what unblocks it (closing its connection). False when a stop was asked for
    // already: the job then ends at once.
    bool SetInterrupt(std::function<void()> interrupt);
    // The job is past its blocking calls: no interrupt runs any more. False when the interrupt ran
    // already (what it closed must not be closed again).
    bool ClearInterrupt();
    // The program is ending: runs the interrupt, once.
    void Request();

  private:
    std::mutex mutex_;
    std::function<void()> interrupt_;
    bool requested_ = false;
    bool interrupted_ = false;
};

class BackgroundJob {
  public:
    using Work = std::function<JobOutcome(JobStop&)>;
    // Runs on the user-interface thread. The job counts as finished before it is called.
    using Finished = std::function<void(const JobOutcome&)>;

    // Makes the job's message-only window on the calling (user-interface) thread.
    BackgroundJob();
    // A job still running is left to end alone; its outcome is dropped.
    ~BackgroundJob();
    BackgroundJob(const BackgroundJob&) = delete;
    BackgroundJob& operator=(const BackgroundJob&) = delete;

    // Starts work on a thread of its own; false (nothing started) while the previous one runs.
    bool Start(Work work, Finished finished);
    bool Running() const { return running_ != nullptr; }

    struct Shared; // what the job's thread and the job share

  private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void OnDone();

    HWND window_ = nullptr;
    std::shared_ptr<Shared> running_;
    Finished finished_;
};

// Interrupts every job still running and waits for all their threads (the end of the program).
void StopBackgroundJobs();

} // namespace lumetra
