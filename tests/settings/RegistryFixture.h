#pragma once
// Camera keys of the test prefix's registry under HKCU\Software\_ORVANE\Lumetra, named per test
// and deleted afterwards.

#include <windows.h>

#include <string>
#include <vector>

namespace lumetra::test {

constexpr const char* LumetraKey = "Software\\_ORVANE\\Lumetra";

// A camera name unique to this test and run; its key is deleted when the object goes.
class ScopedCameraKey {
  public:
    explicit ScopedCameraKey(const std::string& purpose);
    ~ScopedCameraKey();
    ScopedCameraKey(const ScopedCameraKey&) = delete;
    ScopedCameraKey& operator=(const ScopedCameraKey&) = delete;

    const std::string& Name() const { return name_; }
    bool Exists() const;
    // Number of values in the key (-1 when it does not exist).
    int ValueCount() const;
    bool Write(const std::string& value, DWORD type, const void* data, DWORD size) const;
    bool WriteText(const std::string& value, const std::string& text) const;
    bool WriteDword(const std::string& value, DWORD number) const;

    struct Value {
        bool found = false;
        DWORD type = REG_NONE;
        std::vector<BYTE> data;
        std::string Text() const {
            std::string text(data.begin(), data.end());
            return text.substr(0, text.find('\0'));
        }
        DWORD Dword() const;
    };
    Value Read(const std::string& value) const;

  private:
    std::string name_;
};

} // namespace lumetra::test
