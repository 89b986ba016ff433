#include "delivery/MapiMailer.h"

namespace lumetra {
namespace {

// MAPI takes writable strings; each send hands over its own copies.
std::vector<char> WritableCopy(const std::string& text) {
    std::vector<char> copy(text.begin(), text.end());
    copy.push_back('\0');
    return copy;
}

template <typename Function> Function EntryPoint(HMODULE library, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(library, name)));
}

} // namespace

MapiMailer::MapiMailer() {
    if (::GetProfileIntA("MAIL", "MAPI", 0) == 0)
        return;
    char foundPath[MAX_PATH];
    if (::SearchPathA(nullptr, "MAPI32.DLL", nullptr, MAX_PATH, foundPath, nullptr) == 0)
        return;
    UniqueModule library(::LoadLibraryA("MAPI32.DLL"));
    if (!library)
        return;
    auto logon = EntryPoint<LPMAPILOGON>(library.get(), "MAPILogon");
    auto logoff = EntryPoint<LPMAPILOGOFF>(library.get(), "MAPILogoff");
    auto send = EntryPoint<LPMAPISENDMAIL>(library.get(), "MAPISendMail");
    auto resolve = EntryPoint<LPMAPIRESOLVENAME>(library.get(), "MAPIResolveName");
    auto freeBuffer = EntryPoint<LPMAPIFREEBUFFER>(library.get(), "MAPIFreeBuffer");
    if (!logon || !logoff || !send || !resolve || !freeBuffer)
        return;
    library_ = std::move(library);
    logon_ = logon;
    logoff_ = logoff;
    send_ = send;
    resolve_ = resolve;
    freeBuffer_ = freeBuffer;
}

MapiMailer::~MapiMailer() {
    logon_ = nullptr;
    logoff_ = nullptr;
    send_ = nullptr;
    resolve_ = nullptr;
    freeBuffer_ = nullptr;
    library_.reset();
}

void MapiMailer::ClearMessage() {
    recipients_.clear();
    attachments_.clear();
    subject_.clear();
    noteText_.clear();
}

bool MapiMailer::SendMail() {
    lastFailure_.clear();
    if (!IsLoaded()) {
        lastFailure_ = "no Simple MAPI mail client is set up";
        return false;
    }
    if (const ULONG result = logon_(0, nullptr, nullptr, 0, 0, &session_); result != SUCCESS_SUCCESS) {
        lastFailure_ = "MAPILogon failed with " + std::to_string(result);
        return false;
    }

    // The resolved entries stay allocated by MAPI until the message has been sent.
    std::vector<lpMapiRecipDesc> resolvedEntries;
    std::vector<MapiRecipDesc> recipients;
    for (const std::string& address : recipients_) {
        std::vector<char> name = WritableCopy(address);
        lpMapiRecipDesc resolved = nullptr;
        if (resolve_(session_, 0, name.data(), 0, 0, &resolved) != SUCCESS_SUCCESS || resolved == nullptr)
            continue;
        resolvedEntries.push_back(resolved);
        MapiRecipDesc recipient{};
        recipient.ulReserved = resolved->ulReserved;
        recipient.ulRecipClass = MAPI_TO;
        recipient.lpszName = resolved->lpszName;
        recipient.lpszAddress = resolved->lpszAddress;
        recipient.ulEIDSize = resolved->ulEIDSize;
        recipient.lpEntryID = resolved->lpEntryID;
        recipients.push_back(recipient);
    }

    bool sent = false;
    if (!recipients.empty()) {
        std::vector<std::vector<char>> paths;
        paths.reserve(attachments_.size());
        std::vector<MapiFileDesc> files;
        for (const std::string& attachment : attachments_) {
            paths.push_back(WritableCopy(attachment));
            MapiFileDesc file{};
            file.nPosition = 0xFFFFFFFF;
            file.lpszPathName = paths.back().data();
            file.lpszFileName = paths.back().data();
            files.push_back(file);
        }
        std::vector<char> subject = WritableCopy(subject_);
        std::vector<char> noteText = WritableCopy(noteText_);

        MapiMessage message{};
        message.lpszSubject = subject.data();
        message.lpszNoteText = noteText.data();
        message.nRecipCount = static_cast<ULONG>(recipients.size());
        message.lpRecips = recipients.data();
        message.nFileCount = static_cast<ULONG>(files.size());
        message.lpFiles = files.empty() ? nullptr : files.data();
        const ULONG result = send_(session_, 0, &message, 0, 0);
        sent = result == SUCCESS_SUCCESS;
        if (!sent)
            lastFailure_ = "MAPISendMail failed with " + std::to_string(result);
    } else {
        lastFailure_ = "no recipient could be resolved";
    }

    for (lpMapiRecipDesc entry : resolvedEntries)
        freeBuffer_(entry);
    logoff_(session_, 0, 0, 0);
    session_ = 0;
    return sent;
}

std::vector<std::string> SplitRecipients(const std::string& emailAddresses) {
    if (emailAddresses.find(';') == std::string::npos)
        return {emailAddresses};
    std::string text = emailAddresses;
    if (text.back() != ';')
        text += ';';
    std::vector<std::string> recipients;
    std::size_t start = 0;
    for (std::size_t end = text.find(';'); end != std::string::npos; end = text.find(';', start)) {
        recipients.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return recipients;
}

void ComposeMail(MapiMailer& mailer, const std::string& emailAddresses, const std::string& lastImagePath,
                 const std::string& lastImageName) {
    mailer.ClearMessage();
    mailer.AddAttachment(lastImagePath);
    mailer.SetNoteText(lastImageName);
    mailer.SetSubject(lastImageName);
    for (const std::string& recipient : SplitRecipients(emailAddresses))
        mailer.AddRecipient(recipient);
}

void MailLastSavedImage(MapiMailer& mailer, const std::string& emailAddresses,
                        const std::string& lastImagePath, const std::string& lastImageName) {
    ComposeMail(mailer, emailAddresses, lastImagePath, lastImageName);
    mailer.SendMail();
}

} // namespace lumetra

namespace lumetra {

JobOutcome SendMailOnThisThread(const MailRequest& request) {
    ComApartment com; // mail clients expect COM on the thread that calls them
    MapiMailer mailer;
    ComposeMail(mailer, request.emailAddresses, request.imagePath, request.imageName);
    if (!request.HasAttachment())
        mailer.ClearAttachments();
    mailer.SetSubject(request.Subject());
    mailer.SetNoteText(request.Text());
    mailer.SendMail();
    JobOutcome outcome;
    outcome.succeeded = mailer.LastFailure().empty();
    outcome.failure = mailer.LastFailure();
    return outcome;
}

bool SimpleMapiMailer::Send(const MailRequest& request, BackgroundJob::Finished finished) {
    if (job_.Running())
        return false;
    return job_.Start([request](JobStop&) { return SendMailOnThisThread(request); }, std::move(finished));
}

} // namespace lumetra
