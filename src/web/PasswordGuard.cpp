#include "web/PasswordGuard.h"

#include "framework/EventLog.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>

namespace lumetra::web {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t kFreeWrongPasswords = 5;
constexpr auto kWindow = 1min;
constexpr long long kLongestWaitSeconds = 30;
constexpr auto kRunReportInterval = 1h;
// Addresses remembered at most: one guesser with many addresses costs memory, not the others' waits.
constexpr std::size_t kMostGuessers = 4096;

void Tell(const std::string& text) {
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    std::printf("%04u-%02u-%02u %02u:%02u:%02u  %s\n", now.wYear, now.wMonth, now.wDay, now.wHour,
                now.wMinute, now.wSecond, text.c_str());
    std::fflush(stdout);
    LogEvent({}, "lumetra-web: " + text);
}

PasswordGuard::Clock::duration WaitOf(long long runWrong) {
    return std::chrono::seconds(std::min(runWrong, kLongestWaitSeconds));
}

} // namespace

bool PasswordGuard::Keep(const std::string& address, Guesser& guesser, Clock::time_point now) {
    if (!guesser.inRun)
        return !guesser.recent.empty() && now - guesser.recent.back() < kWindow;
    if (now - guesser.lastWrong < kWindow)
        return true;
    Tell("No wrong password from " + address + " for a minute: its run of " +
         std::to_string(guesser.runWrong + kFreeWrongPasswords) +
         " wrong passwords is over, and its answers wait no longer.");
    return false;
}

PasswordGuard::Clock::duration PasswordGuard::Wrong(const std::string& address, Clock::time_point now) {
    std::lock_guard lock(mutex_);
    auto found = guessers_.find(address);
    if (found != guessers_.end() && !Keep(address, found->second, now)) {
        guessers_.erase(found);
        found = guessers_.end();
    }
    if (found == guessers_.end()) {
        if (guessers_.size() >= kMostGuessers) {
            // The quietest one goes.
            auto quietest = guessers_.begin();
            for (auto g = guessers_.begin(); g != guessers_.end(); ++g)
                if (g->second.lastWrong < quietest->second.lastWrong)
                    quietest = g;
            guessers_.erase(quietest);
        }
        found = guessers_.emplace(address, Guesser{}).first;
    }
    Guesser& guesser = found->second;
    guesser.lastWrong = now;
    if (guesser.inRun)
        return WaitOf(++guesser.runWrong);
    while (!guesser.recent.empty() && now - guesser.recent.front() >= kWindow)
        guesser.recent.pop_front();
    guesser.recent.push_back(now);
    if (guesser.recent.size() <= kFreeWrongPasswords)
        return Clock::duration::zero();
    guesser.recent.clear();
    guesser.inRun = true;
    guesser.runWrong = 1;
    guesser.lastTold = now;
    Tell(std::to_string(kFreeWrongPasswords + 1) + " wrong passwords from " + address +
         " within a minute: its answers now wait a second longer for each further wrong one (at most " +
         std::to_string(kLongestWaitSeconds) + " s).");
    return WaitOf(guesser.runWrong);
}

PasswordGuard::Clock::duration PasswordGuard::Current(const std::string& address, Clock::time_point now) {
    std::lock_guard lock(mutex_);
    const auto found = guessers_.find(address);
    if (found == guessers_.end() || !found->second.inRun)
        return Clock::duration::zero();
    if (!Keep(address, found->second, now)) {
        guessers_.erase(found);
        return Clock::duration::zero();
    }
    return WaitOf(found->second.runWrong);
}

void PasswordGuard::Sweep(Clock::time_point now) {
    std::lock_guard lock(mutex_);
    for (auto g = guessers_.begin(); g != guessers_.end();) {
        Guesser& guesser = g->second;
        if (!Keep(g->first, guesser, now)) {
            g = guessers_.erase(g);
            continue;
        }
        if (guesser.inRun && now - guesser.lastTold >= kRunReportInterval) {
            guesser.lastTold = now;
            Tell("Wrong passwords from " + g->first +
                 " go on: " + std::to_string(guesser.runWrong + kFreeWrongPasswords) +
                 " so far, each answered after " + std::to_string(WaitOf(guesser.runWrong) / 1s) + " s.");
        }
        ++g;
    }
}

} // namespace lumetra::web
