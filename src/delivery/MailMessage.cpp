#include "delivery/MailMessage.h"

#include "delivery/MapiMailer.h"
#include "framework/AnsiText.h"
#include "framework/Handles.h"

#include <bcrypt.h>

#include <cstdio>
#include <cstring>

namespace lumetra {
namespace {

constexpr size_t kMaxImageBytes = 64u << 20;
constexpr size_t kEncodedWordBytes = 45; // 60 base64 characters: a word of 72, within the 75 allowed
constexpr size_t kParameterPiece = 60;

std::string Utf8(const std::string& ansi) {
    return AnsiToUtf8(ansi);
}

bool IsPrintableAscii(std::string_view text) {
    for (char c : text)
        if (c < 0x20 || c > 0x7E)
            return false;
    return true;
}

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string Base64Lines(std::string_view bytes) {
    const std::string encoded = Base64(bytes);
    std::string lines;
    lines.reserve(encoded.size() + encoded.size() / 38 + 2);
    for (size_t at = 0; at < encoded.size(); at += 76)
        lines.append(encoded, at, 76).append("\r\n");
    return lines;
}

// RFC 2047 words of UTF-8 text, folded onto lines of their own; a character is never cut in two.
std::string EncodedWords(const std::string& utf8) {
    std::string words;
    for (size_t start = 0; start < utf8.size();) {
        size_t end = start;
        while (end < utf8.size()) {
            size_t next = end + 1;
            while (next < utf8.size() && (static_cast<unsigned char>(utf8[next]) & 0xC0) == 0x80)
                ++next;
            if (next - start > kEncodedWordBytes)
                break;
            end = next;
        }
        if (!words.empty())
            words += "\r\n ";
        words += "=?UTF-8?B?" + Base64(std::string_view(utf8).substr(start, end - start)) + "?=";
        start = end;
    }
    return words;
}

// Control characters (a line break most of all) never reach a header.
std::string HeaderText(const std::string& ansi) {
    std::string text = Utf8(ansi);
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = ' ';
    return text;
}

std::string QuotedString(const std::string& text) {
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    return quoted + '"';
}

bool IsAttributeChar(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
           (c != 0 && std::strchr("!#$&+-.^_`|~", c) != nullptr);
}

// `parameter*=UTF-8''...` (RFC 2231), split into numbered pieces when long.
std::string ExtendedParameter(const std::string& parameter, const std::string& utf8) {
    std::vector<std::string> pieces(1);
    for (unsigned char c : utf8) {
        char encoded[4] = {static_cast<char>(c), '\0'};
        if (!IsAttributeChar(c))
            std::snprintf(encoded, sizeof encoded, "%%%02X", c);
        if (pieces.back().size() + std::strlen(encoded) > kParameterPiece)
            pieces.emplace_back();
        pieces.back() += encoded;
    }
    if (pieces.size() == 1)
        return ";\r\n " + parameter + "*=UTF-8''" + pieces[0];
    std::string text;
    for (size_t i = 0; i < pieces.size(); ++i)
        text += ";\r\n " + parameter + "*" + std::to_string(i) + (i == 0 ? "*=UTF-8''" : "*=") + pieces[i];
    return text;
}

std::string RandomHex(size_t bytes) {
    std::vector<unsigned char> random(bytes);
    if (!BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, random.data(), static_cast<ULONG>(bytes),
                                          BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
        // Never expected; still differs between two messages of this process.
        static LONG counter = 0;
        const unsigned long long mix = ::GetTickCount64() * 1000003ull + ::InterlockedIncrement(&counter) +
                                       (static_cast<unsigned long long>(::GetCurrentProcessId()) << 32);
        for (size_t i = 0; i < bytes; ++i)
            random[i] = static_cast<unsigned char>(mix >> (8 * (i % 8)));
    }
    std::string hex;
    for (unsigned char byte : random) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", byte);
        hex += pair;
    }
    return hex;
}

unsigned long long Ticks(const SYSTEMTIME& time) {
    FILETIME file{};
    ::SystemTimeToFileTime(&time, &file);
    return (static_cast<unsigned long long>(file.dwHighDateTime) << 32) | file.dwLowDateTime;
}

// "Tue, 1 Jul 2003 10:52:37 +0200": the local time and its distance from UTC.
std::string DateValue() {
    SYSTEMTIME utc;
    ::GetSystemTime(&utc);
    SYSTEMTIME local;
    if (!::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local))
        local = utc;
    const long long seconds =
        (static_cast<long long>(Ticks(local)) - static_cast<long long>(Ticks(utc))) / 10000000;
    const long long minutes = (seconds + (seconds < 0 ? -30 : 30)) / 60;
    const unsigned long long localTicks = Ticks(local);
    const FILETIME localFile{static_cast<DWORD>(localTicks), static_cast<DWORD>(localTicks >> 32)};
    ::FileTimeToSystemTime(&localFile, &local); // fills in the day of the week
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const long long distance = minutes < 0 ? -minutes : minutes;
    char text[64];
    std::snprintf(text, sizeof text, "%s, %u %s %04u %02u:%02u:%02u %c%02lld%02lld",
                  days[local.wDayOfWeek % 7], local.wDay, months[(local.wMonth + 11) % 12], local.wYear,
                  local.wHour, local.wMinute, local.wSecond, minutes < 0 ? '-' : '+', distance / 60,
                  distance % 60);
    return text;
}

std::string MessageIdDomain(const std::string& sender) {
    const size_t at = sender.rfind('@');
    const std::string domain = at == std::string::npos ? std::string() : sender.substr(at + 1);
    bool usable = !domain.empty() && domain.front() != '.' && domain.back() != '.';
    for (char c : domain)
        usable = usable && (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.');
    return usable ? domain : "lumetra.invalid";
}

// Any line break as CRLF, and a CRLF at the end.
std::string CrlfLines(const std::string& text) {
    std::string lines;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            lines += "\r\n";
        } else {
            lines += text[i];
        }
    }
    if (lines.size() < 2 || lines.compare(lines.size() - 2, 2, "\r\n") != 0)
        lines += "\r\n";
    return lines;
}

std::string TextBody(const std::string& ansiText, const std::string& boundary) {
    const std::string text = CrlfLines(Utf8(ansiText));
    bool plain = text.find(boundary) == std::string::npos;
    size_t lineLength = 0;
    for (char c : text) {
        plain = plain && c != 0 && static_cast<unsigned char>(c) < 0x80 && lineLength < 998;
        lineLength = c == '\n' ? 0 : lineLength + 1;
    }
    const std::string type = "Content-Type: text/plain; charset=utf-8\r\n";
    if (plain)
        return type + "Content-Transfer-Encoding: 7bit\r\n\r\n" + text;
    return type + "Content-Transfer-Encoding: base64\r\n\r\n" + Base64Lines(text);
}

std::string ImageAttachment(const std::string& ansiName, const std::string& bytes) {
    const std::string name = Utf8(ansiName);
    std::string type = "Content-Type: image/jpeg";
    std::string disposition = "Content-Disposition: attachment";
    if (IsPrintableAscii(name) && name.size() <= kParameterPiece) {
        type += "; name=" + QuotedString(name);
        disposition += "; filename=" + QuotedString(name);
    } else {
        // RFC 2231 is the standard; readers that predate it take the encoded words of "name".
        type += ";\r\n name=\"" + EncodedWords(HeaderText(ansiName)) + "\"";
        disposition += ExtendedParameter("filename", name);
    }
    return type + "\r\n" + disposition + "\r\nContent-Transfer-Encoding: base64\r\n\r\n" + Base64Lines(bytes);
}

bool ReadImage(const std::string& path, std::string& bytes, std::string& failure) {
    UniqueFile file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file || !::GetFileSizeEx(file.get(), &size)) {
        failure =
            "the image \"" + path + "\" cannot be read (error " + std::to_string(::GetLastError()) + ")";
        return false;
    }
    if (static_cast<unsigned long long>(size.QuadPart) > kMaxImageBytes) {
        failure = "the image \"" + path + "\" is too large to mail";
        return false;
    }
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (!bytes.empty() &&
        (!::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
         read != bytes.size())) {
        failure =
            "the image \"" + path + "\" cannot be read (error " + std::to_string(::GetLastError()) + ")";
        return false;
    }
    return true;
}

} // namespace

std::vector<std::string> MailRecipients(const std::string& emailAddresses) {
    std::vector<std::string> recipients;
    for (const std::string& entry : SplitRecipients(emailAddresses))
        if (std::string address = Trimmed(entry); !address.empty())
            recipients.push_back(std::move(address));
    return recipients;
}

bool IsPlainMailAddress(const std::string& address) {
    const size_t at = address.rfind('@');
    if (at == std::string::npos || at == 0 || at + 1 == address.size() || address.size() > 254)
        return false;
    for (char c : address)
        if (c <= 0x20 || c >= 0x7F || std::strchr("<>()[]\\,;:\"", c) != nullptr)
            return false;
    return true;
}

bool ComposeMailMessage(const std::string& sender, const std::vector<std::string>& recipients,
                        const MailRequest& request, std::string& message, std::string& failure) {
    std::string image;
    if (request.HasAttachment() && !ReadImage(request.imagePath, image, failure))
        return false;

    std::string to;
    for (const std::string& recipient : recipients)
        to += (to.empty() ? "" : ",\r\n ") + recipient;
    const std::string subject = HeaderText(request.Subject());
    message = "From: " + sender + "\r\nTo: " + to + "\r\nDate: " + DateValue() + "\r\nMessage-ID: <" +
              RandomHex(16) + "@" + MessageIdDomain(sender) + ">\r\nSubject: " +
              (IsPrintableAscii(subject) && subject.size() <= 900 && subject.find("=?") == std::string::npos
                   ? subject
                   : EncodedWords(subject)) +
              "\r\nMIME-Version: 1.0\r\n";

    const std::string boundary = "=_lumetra_" + RandomHex(12);
    if (!request.HasAttachment()) {
        message += TextBody(request.Text(), boundary);
        return true;
    }
    std::string name = request.imageName;
    if (name.empty())
        name = request.imagePath.substr(request.imagePath.find_last_of("\\/") + 1);
    message += "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n\r\n";
    message += "--" + boundary + "\r\n" + TextBody(request.Text(), boundary);
    message += "--" + boundary + "\r\n" + ImageAttachment(name, image);
    message += "--" + boundary + "--\r\n";
    return true;
}

std::string DotStuffed(const std::string& message) {
    std::string stuffed;
    stuffed.reserve(message.size() + message.size() / 64 + 8);
    bool lineStart = true;
    for (char c : message) {
        if (lineStart && c == '.')
            stuffed += '.';
        stuffed += c;
        lineStart = c == '\n';
    }
    if (!lineStart)
        stuffed += "\r\n";
    return stuffed + ".\r\n";
}

std::string Base64(std::string_view bytes) {
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string encoded;
    encoded.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t at = 0; at < bytes.size(); at += 3) {
        const size_t left = bytes.size() - at;
        unsigned long group = static_cast<unsigned char>(bytes[at]) << 16;
        if (left > 1)
            group |= static_cast<unsigned char>(bytes[at + 1]) << 8;
        if (left > 2)
            group |= static_cast<unsigned char>(bytes[at + 2]);
        encoded += alphabet[(group >> 18) & 63];
        encoded += alphabet[(group >> 12) & 63];
        encoded += left > 1 ? alphabet[(group >> 6) & 63] : '=';
        encoded += left > 2 ? alphabet[group & 63] : '=';
    }
    return encoded;
}

} // namespace lumetra
