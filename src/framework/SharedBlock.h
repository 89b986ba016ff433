#pragma once
// A named block of shared memory, mapped whole: how Lumetra and lumetra-web talk.

#include "framework/Handles.h"

#include <cstddef>

namespace lumetra {

class SharedBlock {
  public:
    enum class Opened { Failed, Created, Existing };

    // Maps the block for writing, creating it `size` bytes long (all zeros) when missing.
    Opened Create(const char* name, std::size_t size);
    // Maps an existing block for reading. A block made by another program may be smaller than
    // expected: Size() is what the system mapped, at most maxSize; fails below minSize.
    bool OpenForReading(const char* name, std::size_t maxSize, std::size_t minSize = 1);
    void Close();

    explicit operator bool() const { return static_cast<bool>(view_); }
    void* Data() const { return view_.get(); }
    std::size_t Size() const { return size_; }

  private:
    UniqueHandle mapping_;
    UniqueMappedView view_;
    std::size_t size_ = 0;
};

} // namespace lumetra
