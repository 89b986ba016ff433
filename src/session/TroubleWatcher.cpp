#include "session/TroubleWatcher.h"

#include <windows.h>

#include <cstdio>
#include <ctime>

namespace lumetra {

namespace {
// Local time of `secondsAgo` seconds back, as "2026-12-08 14:05:09".
std::string LocalTimeAgo(std::int64_t secondsAgo) {
    const std::time_t then = std::time(nullptr) - static_cast<std::time_t>(secondsAgo);
    std::tm local{};
    localtime_s(&local, &then);
    char text[32] = {};
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}
} // namespace

MailRequest ComposeTroubleMail(const TroubleWatcher::Notice& notice, const TroubleFacts& facts) {
    const std::string camera = "\"" + facts.cameraName + "\"";
    const std::string since = LocalTimeAgo(facts.secondsAgo);
    const bool lost = notice.trouble == TroubleWatcher::Trouble::CameraLost;
    MailRequest mail;
    mail.emailAddresses = facts.emailAddresses;
    if (notice.back) {
        mail.subject = "Lumetra: camera " + camera + " works again";
        mail.text = "The camera " + camera + " works again. It was in trouble from " + since + ".";
    } else {
        mail.subject = "Lumetra: camera " + camera + " is in trouble";
        mail.text = lost ? "The camera " + camera + " has been lost since " + since + "."
                         : "The camera " + camera + " has not saved an image since " + since + ": " +
                               facts.saveFailure;
        mail.text += "\r\nThe last image it saved is attached when there is one.";
    }
    if (!facts.lastImagePath.empty() &&
        ::GetFileAttributesA(facts.lastImagePath.c_str()) != INVALID_FILE_ATTRIBUTES) {
        mail.imagePath = facts.lastImagePath;
        const std::size_t slash = facts.lastImagePath.find_last_of("\\/");
        mail.imageName =
            slash == std::string::npos ? facts.lastImagePath : facts.lastImagePath.substr(slash + 1);
    }
    return mail;
}

std::optional<TroubleWatcher::Notice> TroubleWatcher::Look(Trouble trouble, std::int32_t now) {
    if (unsent_) {
        const Notice notice = *unsent_;
        unsent_.reset();
        return notice;
    }
    if (trouble == Trouble::None) {
        if (trouble_ == Trouble::None)
            return std::nullopt;
        const Notice back{true, trouble_, since_};
        const bool told = told_;
        trouble_ = Trouble::None;
        told_ = false;
        if (told)
            return back;
        return std::nullopt;
    }
    // Lost and then failing to save is one spell of trouble: it counts from its start.
    if (trouble_ == Trouble::None)
        since_ = now;
    trouble_ = trouble;
    if (told_ || now - since_ < TroubleSeconds)
        return std::nullopt;
    if (lastMail_ && now - *lastMail_ < MailGapSeconds)
        return std::nullopt;
    told_ = true;
    lastMail_ = now;
    return Notice{false, trouble_, since_};
}

} // namespace lumetra
