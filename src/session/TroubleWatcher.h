#pragma once
// Watching a camera for trouble its owner wants to hear of: lost, or its saves failing, for five
// minutes on end. Then one mail says so; one more says when the camera works again. At most one
// trouble mail an hour, however often the camera comes and goes. It knows no window and no mailer:
// the Live View tells it what it sees each tick and sends what it answers.

#include "delivery/Delivery.h"

#include <cstdint>
#include <optional>
#include <string>

namespace lumetra {

class TroubleWatcher {
  public:
    static constexpr std::int32_t TroubleSeconds = 5 * 60;
    static constexpr std::int32_t MailGapSeconds = 60 * 60;

    enum class Trouble { None, CameraLost, SavesFailing };
    struct Notice {
        bool back = false; // the camera works again (otherwise: it is in trouble)
        Trouble trouble = Trouble::None;
        std::int32_t since = 0; // when the trouble began, seconds of the schedule's clock
    };

    // What the camera is in now (seconds of the schedule's clock); the mail to send, if any.
    std::optional<Notice> Look(Trouble trouble, std::int32_t now);
    // The notice could not be sent now (a mail of the camera is still on its way): the next look
    // gives it again.
    void Unsent(const Notice& notice) { unsent_ = notice; }

  private:
    Trouble trouble_ = Trouble::None;
    std::int32_t since_ = 0;
    bool told_ = false;                    // a trouble mail went out for this spell of trouble
    std::optional<std::int32_t> lastMail_; // of the last trouble mail
    std::optional<Notice> unsent_;
};

// What a trouble mail tells besides the notice.
struct TroubleFacts {
    std::string cameraName;
    std::string emailAddresses;
    std::string lastImagePath;   // the last image written, attached when it is still there
    std::string saveFailure;     // why saving fails, for a camera whose saves fail
    std::int64_t secondsAgo = 0; // since the trouble began
};
MailRequest ComposeTroubleMail(const TroubleWatcher::Notice& notice, const TroubleFacts& facts);

} // namespace lumetra
