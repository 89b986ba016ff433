#include "framework/EventLog.h"

#include "framework/AnsiText.h"
#include "framework/AppData.h"
#include "framework/Handles.h"

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>

namespace lumetra {

namespace {

constexpr LONGLONG MaxLogBytes = 1024 * 1024;
// Full files kept beside the current one, as lumetra.log.1 (the newest) to lumetra.log.9.
constexpr int OlderLogFiles = 9;

std::wstring DefaultLogPath() {
    const std::wstring folder = LumetraDataFolder();
    return folder.empty() ? folder : folder + L"\\lumetra.log";
}

// One writer thread, started with the first line and stopped at the end of the program.
class LogWriter {
  public:
    ~LogWriter() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable())
            thread_.join();
    }

    void Queue(std::string line) {
        std::lock_guard lock(mutex_);
        if (stopping_ || pending_.size() >= 1000) // a log that cannot keep up loses lines, not memory
            return;
        pending_.push_back(std::move(line));
        if (!thread_.joinable())
            thread_ = std::thread([this] { Run(); });
        wake_.notify_all();
    }

    void Flush() {
        std::unique_lock lock(mutex_);
        idle_.wait(lock, [this] { return pending_.empty() && !writing_; });
    }

    std::wstring Path() {
        std::lock_guard lock(mutex_);
        return path_.empty() ? DefaultLogPath() : path_;
    }
    void SetPath(const std::wstring& path) {
        std::lock_guard lock(mutex_);
        path_ = path;
    }

  private:
    void Run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
            if (pending_.empty() && stopping_)
                return;
            std::deque<std::string> lines;
            lines.swap(pending_);
            writing_ = true;
            const std::wstring path = path_.empty() ? DefaultLogPath() : path_;
            lock.unlock();
            Write(path, lines);
            lock.lock();
            writing_ = false;
            idle_.notify_all();
        }
    }

    static void Write(const std::wstring& path, const std::deque<std::string>& lines) {
        if (path.empty())
            return;
        const size_t slash = path.find_last_of(L'\\');
        if (slash != std::wstring::npos)
            ::CreateDirectoryW(path.substr(0, slash).c_str(), nullptr);
        WIN32_FILE_ATTRIBUTE_DATA attributes{};
        if (::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &attributes) &&
            (static_cast<LONGLONG>(attributes.nFileSizeHigh) << 32 | attributes.nFileSizeLow) >=
                MaxLogBytes) {
            const auto older = [&](int number) { return path + L"." + std::to_wstring(number); };
            for (int number = OlderLogFiles; number > 1; --number)
                ::MoveFileExW(older(number - 1).c_str(), older(number).c_str(), MOVEFILE_REPLACE_EXISTING);
            ::MoveFileExW(path.c_str(), older(1).c_str(), MOVEFILE_REPLACE_EXISTING);
        }
        UniqueFile file(::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
            return;
        std::string text;
        for (const std::string& line : lines)
            text += line;
        DWORD written = 0;
        ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<std::string> pending_;
    std::wstring path_;
    std::thread thread_;
    bool writing_ = false;
    bool stopping_ = false;
};

LogWriter& Writer() {
    static LogWriter writer;
    return writer;
}

} // namespace

void LogEvent(const std::string& cameraName, const std::string& text) {
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u  ", now.wYear, now.wMonth, now.wDay,
                  now.wHour, now.wMinute, now.wSecond);
    std::string line = stamp;
    if (!cameraName.empty())
        line += "[" + AnsiToUtf8(cameraName) + "]  ";
    // One event, one line: the line breaks of a box text become blanks.
    for (char c : AnsiToUtf8(text))
        line += (c == '\r' || c == '\n') ? ' ' : c;
    line += "\r\n";
    Writer().Queue(std::move(line));
}

void FlushEventLog() {
    Writer().Flush();
}

std::wstring EventLogPath() {
    return Writer().Path();
}

void SetEventLogPath(const std::wstring& path) {
    Writer().SetPath(path);
}

} // namespace lumetra
