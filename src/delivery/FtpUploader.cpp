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
    std::string text;
    if (length != 0 && buffer != nullptr)
        text.assign(buffer, length);
    if (buffer != nullptr)
        ::LocalFree(buffer);
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

} // namespace

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

FtpUploader::FtpUploader(INTERNET_PORT port) : port_(port) {}

void FtpUploader::UploadByFtp(HWND owner, const std::string& localPath, const std::string& remoteName,
                              const std::string& server, const std::string& directory,
                              const std::string& user, const std::string& password) {
    if (remoteName.empty() || server.empty())
        return;
    if (ftpConnection_ != nullptr) {
        ::MessageBoxA(owner, "Previus connection running", " Duplicate", kBoxStyle);
        return;
    }
    const std::string remoteDirectory = directory.empty() ? std::string("./") : directory;
    const std::shared_ptr<bool> alive = alive_;

    UniqueInternet internet(::InternetOpenA(kAgentName, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    if (!internet) {
        ::MessageBoxA(owner, "_OrvaneQuillon", "InternetOpen", kBoxStyle);
        return;
    }
    ftpInternet_ = internet.get();
    ftpContext_ = static_cast<DWORD_PTR>(SecondsSince1970());

    UniqueInternet connection(::InternetConnectA(internet.get(), server.c_str(), port_, user.c_str(),
                                                 password.c_str(), INTERNET_SERVICE_FTP, 0, ftpContext_));
    if (!connection) {
        const std::string text = FtpErrorText(::GetLastError());
        ::MessageBoxA(owner, text.c_str(), "Error", kBoxStyle);
        if (*alive)
            ftpInternet_ = nullptr;
        return;
    }
    ftpConnection_ = connection.get();

    if (::FtpSetCurrentDirectoryA(connection.get(), remoteDirectory.c_str())) {
        if (!::FtpPutFileA(connection.get(), localPath.c_str(), remoteName.c_str(), FTP_TRANSFER_TYPE_BINARY,
                           ftpContext_)) {
            const std::string text = FtpErrorText(::GetLastError());
            ::MessageBoxA(owner, text.c_str(), " Send Error", kBoxStyle);
            if (!*alive)
                return;
        }
    }
    connection.reset();
    ftpConnection_ = nullptr;
    internet.reset();
    ftpInternet_ = nullptr;
}

} // namespace lumetra
