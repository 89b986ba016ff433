#include "delivery/FtpUploader.h"

#include "delivery/ImagePath.h"
#include "framework/Handles.h"

namespace lumetra {
namespace {

struct InternetHandleTraits {
    using Type = HINTERNET;
    static Type invalid() { return nullptr; }
    static void close(Type h) { ::InternetCloseHandle(h); }
};
using UniqueInternet = UniqueResource<InternetHandleTraits>;

constexpr char kAgentName[] = "_OrvaneLumetra";
constexpr UINT kBoxStyle = MB_OK | MB_ICONINFORMATION;
constexpr DWORD FtpTimeoutMs = 30000;

std::string TrimTrailingBlanks(std::string text) {
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

std::string MessageText(DWORD flags, HMODULE source, DWORD errorCode) {
    char* buffer = nullptr;
    const DWORD length = ::FormatMessageA(
        flags | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER, source, errorCode,
        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&buffer), 0, nullptr);
    const UniqueLocalMemory bufferOwner(buffer);
    std::string text;
    if (length != 0 && buffer != nullptr)
        text.assign(buffer, length);
    return TrimTrailingBlanks(std::move(text));
}

// The server's words that belong to the last failed call of this thread.
std::string LastServerResponse() {
    DWORD serverError = 0;
    DWORD length = 0;
    ::InternetGetLastResponseInfoA(&serverError, nullptr, &length);
    if (length == 0)
        return {};
    std::string response(length + 1, '\0');
    DWORD size = static_cast<DWORD>(response.size());
    if (!::InternetGetLastResponseInfoA(&serverError, response.data(), &size))
        return {};
    response.resize(size);
    return TrimTrailingBlanks(std::move(response));
}

bool IsPortNumber(const std::string& text, INTERNET_PORT& port) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const unsigned long value = std::stoul(text);
    if (value == 0 || value > 65535)
        return false;
    port = static_cast<INTERNET_PORT>(value);
    return true;
}

} // namespace

std::optional<FtpHost> SplitFtpServer(const std::string& server, INTERNET_PORT defaultPort) {
    FtpHost split{server, defaultPort};
    if (!server.empty() && server.front() == '[') {
        const std::size_t close = server.find(']');
        if (close == std::string::npos)
            return std::nullopt;
        split.host = server.substr(1, close - 1);
        const std::string rest = server.substr(close + 1);
        if (rest.empty())
            return split;
        if (rest.front() != ':' || !IsPortNumber(rest.substr(1), split.port))
            return std::nullopt;
        return split;
    }
    const std::size_t colon = server.find(':');
    // More than one colon: a bare IPv6 address, which names no port.
    if (colon == std::string::npos || server.find(':', colon + 1) != std::string::npos)
        return split;
    split.host = server.substr(0, colon);
    if (!IsPortNumber(server.substr(colon + 1), split.port))
        return std::nullopt;
    return split;
}

std::string PartialUploadName(const std::string& remoteName) {
    return remoteName + ".part";
}

std::string FtpErrorText(DWORD errorCode) {
    std::string text = MessageText(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, errorCode);
    if (text.empty() && errorCode >= INTERNET_ERROR_BASE && errorCode <= INTERNET_ERROR_LAST) {
        // WinINet's own codes: its own text, and what the server answered.
        text = MessageText(FORMAT_MESSAGE_FROM_HMODULE, ::GetModuleHandleA("wininet.dll"), errorCode);
        const std::string response = LastServerResponse();
        if (!response.empty())
            text += text.empty() ? response : "\r\n" + response;
    }
    if (text.empty())
        text = "Error " + std::to_string(errorCode);
    return text;
}

JobOutcome PutFileByFtp(const UploadRequest& request, INTERNET_PORT port, JobStop& stop) {
    JobOutcome outcome;
    const auto fail = [&outcome](std::string text, const char* caption) {
        outcome.failure = std::string(caption) + ": " + text;
        outcome.boxText = std::move(text);
        outcome.boxCaption = caption;
        return outcome;
    };
    UniqueInternet internet(::InternetOpenA(kAgentName, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    if (!internet)
        return fail("_OrvaneQuillon", "InternetOpen");
    // A server that accepts and then says nothing ends in an error instead of a wait without end.
    for (DWORD option :
         {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT,
          INTERNET_OPTION_DATA_SEND_TIMEOUT, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT}) {
        DWORD timeout = FtpTimeoutMs;
        ::InternetSetOptionA(internet.get(), option, &timeout, sizeof timeout);
    }
    // Closing the session from another thread ends whatever call blocks on it (and its connection).
    HINTERNET session = internet.get();
    if (!stop.SetInterrupt([session] { InternetHandleTraits::close(session); }))
        return fail("The program is ending.", "Error");

    const auto context = static_cast<DWORD_PTR>(SecondsSince1970());
    const std::string directory = request.directory.empty() ? std::string("./") : request.directory;
    const std::optional<FtpHost> host = SplitFtpServer(request.server, port);
    const DWORD mode = request.activeMode ? 0 : INTERNET_FLAG_PASSIVE;
    UniqueInternet connection;
    if (host)
        connection.reset(::InternetConnectA(session, host->host.c_str(), host->port, request.user.c_str(),
                                            request.password.c_str(), INTERNET_SERVICE_FTP, mode, context));
    const std::string partialName = PartialUploadName(request.remoteName);
    std::string errorText, errorCaption;
    if (!host) {
        errorText = "The port of \"" + request.server + "\" is not a number from 1 to 65535.";
        errorCaption = "Error";
    } else if (!connection) {
        errorText = FtpErrorText(::GetLastError());
        errorCaption = "Error";
    } else if (!::FtpSetCurrentDirectoryA(connection.get(), directory.c_str())) {
        errorText = "The folder \"" + directory + "\" was not found on the server.";
        if (const std::string response = LastServerResponse(); !response.empty())
            errorText += "\r\n" + response;
        errorCaption = "Error";
    } else if (!::FtpPutFileA(connection.get(), request.localPath.c_str(), partialName.c_str(),
                              FTP_TRANSFER_TYPE_BINARY, context)) {
        errorText = FtpErrorText(::GetLastError());
        errorCaption = " Send Error";
        ::FtpDeleteFileA(connection.get(), partialName.c_str());
    } else if (!::FtpRenameFileA(connection.get(), partialName.c_str(), request.remoteName.c_str()) &&
               // Some servers rename only onto a free name: the older image makes way.
               !(::FtpDeleteFileA(connection.get(), request.remoteName.c_str()) &&
                 ::FtpRenameFileA(connection.get(), partialName.c_str(), request.remoteName.c_str()))) {
        errorText = FtpErrorText(::GetLastError());
        errorCaption = " Send Error";
        ::FtpDeleteFileA(connection.get(), partialName.c_str());
    } else {
        outcome.succeeded = true;
    }
    if (!stop.ClearInterrupt()) {
        // The interrupt closed the session, and the connection with it: neither is closed again.
        connection.release();
        internet.release();
    }
    return errorCaption.empty() ? outcome : fail(std::move(errorText), errorCaption.c_str());
}

FtpUploader::FtpUploader(INTERNET_PORT port) : port_(port) {}

Uploader::Start FtpUploader::Upload(HWND owner, const UploadRequest& request, bool quiet,
                                    BackgroundJob::Finished finished) {
    if (request.remoteName.empty() || request.server.empty())
        return Start::NothingToDo;
    if (Busy()) {
        if (!quiet && !duplicateOpen_) {
            const std::shared_ptr<bool> alive = alive_;
            duplicateOpen_ = true;
            ::MessageBoxA(owner, "Previus connection running", " Duplicate", kBoxStyle);
            if (*alive)
                duplicateOpen_ = false;
        }
        return Start::Busy;
    }
    const INTERNET_PORT port = port_;
    job_.Start([request, port](JobStop& stop) { return PutFileByFtp(request, port, stop); },
               [this, owner, quiet, finished](const JobOutcome& outcome) {
                   OnFinished(owner, quiet, outcome, finished);
               });
    return Start::Started;
}

void FtpUploader::OnFinished(HWND owner, bool quiet, const JobOutcome& outcome,
                             const BackgroundJob::Finished& finished) {
    const std::shared_ptr<bool> alive = alive_;
    const BackgroundJob::Finished told = finished; // the uploader may go inside the box below
    if (told)
        told(outcome);
    // The schedule's failures would raise a box a tick: the Live View tells them instead.
    if (!*alive || quiet || outcome.boxCaption.empty())
        return;
    boxOpen_ = true;
    ::MessageBoxA(owner, outcome.boxText.c_str(), outcome.boxCaption.c_str(), kBoxStyle);
    if (*alive)
        boxOpen_ = false;
}

} // namespace lumetra
