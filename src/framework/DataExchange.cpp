#include "framework/DataExchange.h"

#include "framework/AnsiText.h"
#include "framework/Application.h"
#include "framework/Dialog.h"

#include <climits>
#include <cstdio>
#include <vector>

namespace lumetra {

namespace {
bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsEdit(HWND control) {
    char className[16] = {};
    ::GetClassNameA(control, className, sizeof className);
    return ::lstrcmpiA(className, "Edit") == 0;
}

// Parses blanks, an optional sign (none for unsigned), digits, blanks and nothing else.
bool ParseNumber(const std::string& text, bool allowMinus, long long& value) {
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        if (negative && !allowMinus)
            return false;
        ++i;
    }
    const size_t digitsStart = i;
    long long magnitude = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > 0xFFFFFFFFLL)
            return false;
        ++i;
    }
    if (i == digitsStart)
        return false;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    if (i != text.size())
        return false;
    value = negative ? -magnitude : magnitude;
    return true;
}
} // namespace

DataExchange::DataExchange(Dialog& dialog, const Options& options)
    : dialog_(dialog), saving_(options.saving), stopAtFirstFailure_(options.stopAtFirstRefusal),
      showRefusal_(options.showRefusal) {}

std::string DataExchange::IntegerMessage() {
    return "Please enter an integer.";
}
std::string DataExchange::ByteMessage() {
    return "Please enter an integer between 0 and 255.";
}
std::string DataExchange::MaxCharsMessage(int maxChars) {
    return "Please enter no more than " + std::to_string(maxChars) + " characters.";
}
std::string DataExchange::RangeMessage(int minimum, int maximum) {
    return "Please enter an integer between " + std::to_string(minimum) + " and " + std::to_string(maximum) +
           ".";
}

bool DataExchange::ParseInt(const std::string& text, long long& value) {
    return ParseNumber(text, true, value) && value >= INT_MIN && value <= INT_MAX;
}

HWND DataExchange::Control(int id) const {
    return ::GetDlgItem(dialog_.GetSafeHwnd(), id);
}

HWND DataExchange::RowControl(int id) const {
    return Stopped() ? nullptr : Control(id);
}

std::string DataExchange::ReadText(HWND control) const {
    const int length = ::GetWindowTextLengthA(control);
    std::vector<char> buffer(static_cast<size_t>(length) + 1, '\0');
    const int copied = ::GetWindowTextA(control, buffer.data(), length + 1);
    return std::string(buffer.data(), copied > 0 ? static_cast<size_t>(copied) : 0);
}

void DataExchange::Fail(HWND control, const std::string& message) {
    // When going on past a refused control, only the first refusal is shown.
    if (failed_)
        return;
    failed_ = true;
    if (!showRefusal_)
        return;
    // Going on past a refusal is the exchange of a closing window: the field will not be there to
    // show which value was refused, so the message names it.
    const std::string name =
        stopAtFirstFailure_ || !control ? std::string() : dialog_.FieldName(::GetDlgCtrlID(control));
    AppMessageBox(dialog_.GetSafeHwnd(), name.empty() ? message : name + ": " + message,
                  MB_OK | MB_ICONEXCLAMATION);
    if (control) {
        ::SetFocus(control);
        if (IsEdit(control))
            ::SendMessageA(control, EM_SETSEL, 0, -1);
    }
}

void DataExchange::Refuse(int id, const std::string& message) {
    if (HWND control = RowControl(id))
        Fail(control, message);
}

void DataExchange::Text(int id, std::string& value, int maxChars) {
    Text(id, value, maxChars, nullptr, {});
}

void DataExchange::Text(int id, std::string& value, int maxChars, bool (*accept)(const std::string&),
                        const std::string& message) {
    HWND control = RowControl(id);
    if (!control)
        return;
    if (!saving_) {
        if (maxChars > 0)
            ::SendMessageA(control, EM_LIMITTEXT, static_cast<WPARAM>(maxChars), 0);
        ::SetWindowTextA(control, value.c_str());
        return;
    }
    std::string text = ReadText(control);
    // Characters as the edit counts them when it limits typing, not the bytes of a UTF-8 name.
    if (maxChars > 0 && AnsiCharacterCount(text) > static_cast<size_t>(maxChars)) {
        Fail(control, MaxCharsMessage(maxChars));
        return;
    }
    if (accept && !accept(text)) {
        Fail(control, message);
        return;
    }
    value = std::move(text);
}

void DataExchange::Int(int id, int& value) {
    IntRange(id, value, INT_MIN, INT_MAX);
}

void DataExchange::IntRange(int id, int& value, int minimum, int maximum) {
    HWND control = RowControl(id);
    if (!control)
        return;
    if (!saving_) {
        ::SetWindowTextA(control, std::to_string(value).c_str());
        return;
    }
    long long parsed = 0;
    if (!ParseInt(ReadText(control), parsed)) {
        Fail(control, IntegerMessage());
        return;
    }
    if (parsed < minimum || parsed > maximum) {
        Fail(control, RangeMessage(minimum, maximum));
        return;
    }
    value = static_cast<int>(parsed);
}

void DataExchange::Byte(int id, BYTE& value) {
    HWND control = RowControl(id);
    if (!control)
        return;
    if (!saving_) {
        ::SetWindowTextA(control, std::to_string(static_cast<unsigned>(value)).c_str());
        return;
    }
    long long parsed = 0;
    if (!ParseNumber(ReadText(control), false, parsed) || parsed > 255) {
        Fail(control, ByteMessage());
        return;
    }
    value = static_cast<BYTE>(parsed);
}

void DataExchange::Check(int id, int& value) {
    HWND control = RowControl(id);
    if (!control)
        return;
    if (saving_)
        value = static_cast<int>(::SendMessageA(control, BM_GETCHECK, 0, 0));
    else
        ::SendMessageA(control, BM_SETCHECK, static_cast<WPARAM>(value), 0);
}

void DataExchange::Control(int id, HWND& control) {
    if (Stopped())
        return;
    control = Control(id);
}

} // namespace lumetra
