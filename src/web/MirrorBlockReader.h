#pragma once
// Reads the path Lumetra publishes in its shared-memory block "lumetramem". Any local program can
// create or write that block, and Lumetra writes it without a lock, so every read is checked.

#include "framework/SharedBlock.h"

#include <string>

namespace lumetra::web {

enum class BlockContent {
    Absent,    // no block of that name: Lumetra has not started
    Unsettled, // changed while being read: read again later
    NoPath,    // no complete "PATH=" line
    Path,
};

class MirrorBlockReader {
  public:
    // Opens the block when it exists (and keeps it open, so the last path outlives Lumetra) and
    // reads it.
    BlockContent Read(std::wstring& path);

  private:
    SharedBlock block_;
};

// The value of the first complete "PATH=" line of the block's text (UTF-16 code units up to the
// first U+0000); false when there is none.
bool FindPublishedPath(const wchar_t* units, std::size_t count, std::wstring& path);

} // namespace lumetra::web
