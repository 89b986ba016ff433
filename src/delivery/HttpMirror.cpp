#include "delivery/HttpMirror.h"

#include "framework/AnsiText.h"

#include <cstring>

namespace lumetra {
namespace {

// Code units the block holds before its terminating U+0000.
constexpr std::size_t kMaxTextUnits = kMirrorBlockSize / sizeof(wchar_t) - 1;

} // namespace

bool HttpMirror::Open() {
    return block_.Create(kMirrorBlockName, kMirrorBlockSize) != SharedBlock::Opened::Failed;
}

void HttpMirror::Close() {
    block_.Close();
}

bool HttpMirror::MirrorImagePath(bool mirrorEnabled, const std::string& ansiPath) {
    if (!mirrorEnabled || !block_)
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
    auto* block = static_cast<unsigned char*>(block_.Data());
    std::memset(block, 0, kMirrorBlockSize);
    // wchar_t is UTF-16LE on Windows; the zeroed block already holds the terminating U+0000.
    std::memcpy(block, text.data(), text.size() * sizeof(wchar_t));
}

} // namespace lumetra
