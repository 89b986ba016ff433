#pragma once
// Publishes the path of the last saved image to the local HTTP service through the named
// shared-memory block "lumetramem": UTF-16LE "PATH=<path>", a line feed, U+0000, zeros after.

#include "framework/SharedBlock.h"

#include <cstddef>
#include <map>
#include <string>

namespace lumetra {

inline constexpr char kMirrorBlockName[] = "lumetramem";
inline constexpr std::size_t kMirrorBlockSize = 8192;

class HttpMirror {
  public:
    HttpMirror() = default;
    ~HttpMirror() { Close(); }
    HttpMirror(const HttpMirror&) = delete;
    HttpMirror& operator=(const HttpMirror&) = delete;

    // Maps the block, creating it when missing; a new block starts all zeros, an existing one is
    // left as found. Returns whether it is mapped.
    bool Open();
    void Close();
    bool IsMapped() const { return static_cast<bool>(block_); }

    // The main dialog's MirrorImagePath: publishes ansiPath when mirrorEnabled is set and the block
    // is mapped. A path whose text would not fit the block is not published (the block keeps its
    // previous content) and false is returned.
    bool MirrorImagePath(bool mirrorEnabled, const std::string& ansiPath);

  private:
    void WriteEntries();

    SharedBlock block_;
    std::map<std::wstring, std::wstring> entries_;
};

} // namespace lumetra
