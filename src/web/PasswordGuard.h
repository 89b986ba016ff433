#pragma once
// Slows down whoever guesses the password. After 5 wrong passwords from one address within a minute
// a run begins: every answer to a password from that address, right or wrong, waits a second more
// for each wrong one since (1 s, 2 s, 3 s ... at most 30 s), so neither the guesses nor the speed of
// the answers get anywhere; the run ends after a minute without a wrong one. A request without a
// password is answered at once. Each run is told on the console and in Lumetra's event log: when it
// begins, every hour it lasts, and when it ends, with its count.

#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <string>

namespace lumetra::web {

class PasswordGuard {
  public:
    using Clock = std::chrono::steady_clock;

    // Records a wrong password from the address; the wait before answering it.
    Clock::duration Wrong(const std::string& address, Clock::time_point now = Clock::now());
    // The wait before answering the right password from the address.
    Clock::duration Current(const std::string& address, Clock::time_point now = Clock::now());
    // Ends the runs that are over and tells the long ones; called now and then.
    void Sweep(Clock::time_point now = Clock::now());

  private:
    struct Guesser {
        std::deque<Clock::time_point> recent; // its wrong passwords of the last minute, before a run
        bool inRun = false;
        long long runWrong = 0; // wrong passwords since the run began, beyond the first 5
        Clock::time_point lastWrong{};
        Clock::time_point lastTold{};
    };
    // Ends its run when it is over; false when nothing about the address is worth keeping.
    bool Keep(const std::string& address, Guesser& guesser, Clock::time_point now);

    std::mutex mutex_;
    std::map<std::string, Guesser> guessers_;
};

} // namespace lumetra::web
