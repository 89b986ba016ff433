#pragma once
// Files of the tests: a folder of a test's own, removed with what it holds, and questions about a
// file on the disk.

#include <cstdint>
#include <string>
#include <vector>

namespace lumetra::test {

// A folder of its own under the prefix's temp folder, emptied when made and removed with what it
// holds (LUMETRA_KEEP_TEST_FILES keeps it for a look).
class TempFolder {
  public:
    explicit TempFolder(const std::string& name);
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "\\" + name; }
    std::vector<std::string> Files() const; // names, sorted

  private:
    std::string path_;
};

bool FileExists(const std::string& path);
std::uintmax_t FileSize(const std::string& path);
// The program's event log as written so far, once the lines queued in this process are written.
std::string EventLogText();

} // namespace lumetra::test
