#pragma once
// Mails a camera's last saved image through the machine's Simple MAPI client ("MAPI32.DLL",
// loaded at run time), without any dialog. Failures are not shown; they are told to the caller.

#include "delivery/BackgroundJob.h"
#include "delivery/Delivery.h"
#include "framework/Handles.h"

#include <mapi.h>

#include <string>
#include <vector>

namespace lumetra {

class MapiMailer {
  public:
    // The loader: MAPI counts as present when the [Mail] section's MAPI value is non-zero and
    // "MAPI32.DLL" is on the search path; all five entry points are taken or none.
    MapiMailer();
    ~MapiMailer();
    MapiMailer(const MapiMailer&) = delete;
    MapiMailer& operator=(const MapiMailer&) = delete;

    bool IsLoaded() const { return send_ != nullptr; }

    // The message of the next send.
    void ClearMessage();
    void AddRecipient(const std::string& address) { recipients_.push_back(address); }
    void AddAttachment(const std::string& fullPath) { attachments_.push_back(fullPath); }
    void ClearAttachments() { attachments_.clear(); }
    void SetSubject(const std::string& subject) { subject_ = subject; }
    void SetNoteText(const std::string& noteText) { noteText_ = noteText; }
    const std::vector<std::string>& Recipients() const { return recipients_; }
    const std::vector<std::string>& Attachments() const { return attachments_; }
    const std::string& Subject() const { return subject_; }
    const std::string& NoteText() const { return noteText_; }

    // Logs on, resolves every recipient (those that do not resolve are left out), sends to the
    // resolved ones and logs off. True when MAPISendMail reported success; nothing is sent
    // when no recipient resolves. Strings of any length are handed over whole.
    bool SendMail();
    // Why the last send failed, for the event log (empty after a send that worked).
    const std::string& LastFailure() const { return lastFailure_; }

  private:
    UniqueModule library_;
    LPMAPILOGON logon_ = nullptr;
    LPMAPILOGOFF logoff_ = nullptr;
    LPMAPISENDMAIL send_ = nullptr;
    LPMAPIRESOLVENAME resolve_ = nullptr;
    LPMAPIFREEBUFFER freeBuffer_ = nullptr;
    LHANDLE session_ = 0;

    std::vector<std::string> recipients_;
    std::vector<std::string> attachments_;
    std::string subject_;
    std::string noteText_;
    std::string lastFailure_;
};

// EML split into recipients: without ";" the whole text is the one recipient (even when empty);
// otherwise every stretch before a ";" (a missing final ";" is supplied), untrimmed, empty ones kept.
std::vector<std::string> SplitRecipients(const std::string& emailAddresses);

// The action dialog's ComposeMail: the given addresses, the last image as the one attachment,
// its bare name as subject and body.
void ComposeMail(MapiMailer& mailer, const std::string& emailAddresses, const std::string& lastImagePath,
                 const std::string& lastImageName);

// The session's MailLastSavedImage: ComposeMail, then SendMail; the result is not used.
void MailLastSavedImage(MapiMailer& mailer, const std::string& emailAddresses,
                        const std::string& lastImagePath, const std::string& lastImageName);

// One mail of a session, sent on the calling thread: it loads its own MAPI library, composes and
// sends, and nothing is shown.
JobOutcome SendMailOnThisThread(const MailRequest& request);

// The mailer of every camera today: the machine's Simple MAPI client, one mail at a time on a
// thread of its own.
class SimpleMapiMailer : public Mailer {
  public:
    bool Send(const MailRequest& request, BackgroundJob::Finished finished) override;
    bool Busy() const override { return job_.Running(); }

  private:
    BackgroundJob job_;
};

} // namespace lumetra
