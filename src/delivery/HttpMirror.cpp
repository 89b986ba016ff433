#include "delivery/HttpMirror.h"

#include "framework/AnsiText.h"

#include <cstring>

namespace lumetra {
namespace {

// Code units the block holds before its terminating U+0000.
constexpr std::size_t kMaxTextUnits = kMirrorBlockSize / sizeof(wchar_t) - 1;

} // namespace

bool HttpMirror::Open() {
    Close();
    UniqueHandle mapping(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                              static_cast<DWORD>(kMirrorBlockSize), kMirrorBlockName));
    if (!mapping)
        return false;
    const bool alreadyExisted = ::GetLastError() == ERROR_ALREADY_EXISTS;
    UniqueMappedView view(::MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, kMirrorBlockSize));
    if (!view)
        return false;
    if (!alreadyExisted)
        std::memset(view.get(), 0, kMirrorBlockSize);
    mapping_ = std::move(mapping);
    view_ = std::move(view);
    mapped_ = true;
    return true;
}

void HttpMirror::Close() {
    if (!mapped_)
        return;
    view_.reset();
    mapping_.reset();
    mapped_ = false;
}

bool HttpMirror::MirrorImagePath(bool mirrorEnabled, const std::string& ansiPath) {
    if (!mirrorEnabled || !mapped_)
        return false;
    std::wstring widePath = AnsiToWide(ansiPath);
    // "PATH=" + path + line feed must leave room for the terminator.
    if (5 + widePath.size() + 1 > kMaxTextUnits)
        return false;
    entries_.clear();
    entries_[L"PATH"] = std::move(widePath);
    WriteEntries();
    return true;
}

void HttpMirror::WriteEntries() {
    std::wstring text;
    for (const auto& [key, value] : entries_) {
        text += key;
        text += L'=';
        text += value;
        text += L'\n';
    }
    if (text.size() > kMaxTextUnits)
        return;
    auto* block = static_cast<unsigned char*>(view_.get());
    std::memset(block, 0, kMirrorBlockSize);
    // wchar_t is UTF-16LE on Windows; the zeroed block already holds the terminating U+0000.
    std::memcpy(block, text.data(), text.size() * sizeof(wchar_t));
}

} // namespace lumetra
