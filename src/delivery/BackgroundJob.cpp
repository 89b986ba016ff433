#include "delivery/BackgroundJob.h"

#include <algorithm>
#include <atomic>
#include <list>
#include <thread>
#include <utility>

namespace lumetra {

namespace {
constexpr UINT WM_JOB_DONE = WM_APP + 3;
constexpr char JobWindowClass[] = "LumetraBackgroundJob";
} // namespace

struct BackgroundJob::Shared {
    JobOutcome outcome;
    JobStop stop;
    std::atomic<HWND> notify{nullptr}; // cleared when the job's owner goes
    std::atomic<bool> finished{false};
    std::thread thread;
};

namespace {

// Every thread a job started, until it is joined.
class JobThreads {
  public:
    ~JobThreads() { StopAll(); }

    void Add(std::shared_ptr<BackgroundJob::Shared> job) {
        std::lock_guard lock(mutex_);
        JoinFinished();
        jobs_.push_back(std::move(job));
    }

    void StopAll() {
        std::list<std::shared_ptr<BackgroundJob::Shared>> jobs;
        {
            std::lock_guard lock(mutex_);
            jobs.swap(jobs_);
        }
        for (auto& job : jobs)
            job->stop.Request();
        for (auto& job : jobs)
            if (job->thread.joinable())
                job->thread.join();
    }

  private:
    void JoinFinished() {
        for (auto it = jobs_.begin(); it != jobs_.end();) {
            if ((*it)->finished.load(std::memory_order_acquire)) {
                if ((*it)->thread.joinable())
                    (*it)->thread.join();
                it = jobs_.erase(it);
            } else {
                ++it;
            }
        }
    }

    std::mutex mutex_;
    std::list<std::shared_ptr<BackgroundJob::Shared>> jobs_;
};

JobThreads& Threads() {
    static JobThreads threads;
    return threads;
}

} // namespace

bool JobStop::SetInterrupt(std::function<void()> interrupt) {
    std::lock_guard lock(mutex_);
    if (requested_)
        return false;
    interrupt_ = std::move(interrupt);
    return true;
}

bool JobStop::ClearInterrupt() {
    std::lock_guard lock(mutex_);
    interrupt_ = nullptr;
    return !interrupted_;
}

void JobStop::Request() {
    std::lock_guard lock(mutex_);
    requested_ = true;
    if (interrupt_) {
        interrupted_ = true;
        std::exchange(interrupt_, nullptr)();
    }
}

BackgroundJob::BackgroundJob() {
    static const ATOM registered = [] {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = WindowProc;
        windowClass.hInstance = ::GetModuleHandleA(nullptr);
        windowClass.lpszClassName = JobWindowClass;
        return ::RegisterClassA(&windowClass);
    }();
    (void)registered;
    window_ = ::CreateWindowExA(0, JobWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                ::GetModuleHandleA(nullptr), nullptr);
    if (window_)
        ::SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

BackgroundJob::~BackgroundJob() {
    if (running_)
        running_->notify.store(nullptr, std::memory_order_release);
    if (window_) {
        ::SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
        ::DestroyWindow(window_);
    }
}

bool BackgroundJob::Start(Work work, Finished finished) {
    if (running_ || !window_)
        return false;
    auto shared = std::make_shared<Shared>();
    shared->notify.store(window_, std::memory_order_release);
    running_ = shared;
    finished_ = std::move(finished);
    // The thread holds the shared state, never the job: the job may go first.
    shared->thread = std::thread([shared, work = std::move(work)] {
        shared->outcome = work(shared->stop);
        shared->finished.store(true, std::memory_order_release);
        if (HWND notify = shared->notify.load(std::memory_order_acquire))
            ::PostMessageA(notify, WM_JOB_DONE, 0, 0);
    });
    Threads().Add(shared);
    return true;
}

void BackgroundJob::OnDone() {
    if (!running_ || !running_->finished.load(std::memory_order_acquire))
        return;
    const JobOutcome outcome = running_->outcome;
    running_.reset();
    Finished finished = std::move(finished_);
    finished_ = nullptr;
    // Last: the handler may show a box, and the job may be gone when it returns.
    if (finished)
        finished(outcome);
}

LRESULT CALLBACK BackgroundJob::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_JOB_DONE) {
        if (auto* job = reinterpret_cast<BackgroundJob*>(::GetWindowLongPtrA(window, GWLP_USERDATA)))
            job->OnDone();
        return 0;
    }
    return ::DefWindowProcA(window, message, wParam, lParam);
}

void StopBackgroundJobs() {
    Threads().StopAll();
}

} // namespace lumetra
