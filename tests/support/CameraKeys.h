#pragma once
// Camera settings in the test prefix's registry: HKCU\Software\_ORVANE\Lumetra\<camera name>,
// read, written and removed as the tests set them up and check them.

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace lumetra::test {

constexpr const char* LumetraKey = "Software\\_ORVANE\\Lumetra";

// One value as the registry holds it.
struct RegistryValue {
    bool found = false;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    std::string Text() const; // up to the first '\0'
    DWORD Dword() const;      // 0 unless the value has four bytes
};

// Removes the camera's key with everything in it.
void DeleteCameraKey(const std::string& cameraName);
// Number of values in the camera's key; -1 when there is no key.
int CameraValueCount(const std::string& cameraName);
RegistryValue ReadCameraValue(const std::string& cameraName, const std::string& valueName);
// A REG_SZ value; nullopt when missing or of another type.
std::optional<std::string> StoredText(const std::string& cameraName, const std::string& valueName);
// A REG_DWORD value; nullopt when missing or of another type.
std::optional<DWORD> StoredNumber(const std::string& cameraName, const std::string& valueName);
// Creates the key when needed.
bool WriteCameraValue(const std::string& cameraName, const std::string& valueName, DWORD type,
                      const void* data, DWORD size);

// A camera name unique to the running test and this run; its key is removed when the object
// is made and when it goes.
class ScopedCameraKey {
  public:
    using Value = RegistryValue;

    explicit ScopedCameraKey(const std::string& purpose);
    ~ScopedCameraKey();
    ScopedCameraKey(const ScopedCameraKey&) = delete;
    ScopedCameraKey& operator=(const ScopedCameraKey&) = delete;

    const std::string& Name() const { return name_; }
    bool Exists() const { return ValueCount() >= 0; }
    int ValueCount() const { return CameraValueCount(name_); }
    bool Write(const std::string& value, DWORD type, const void* data, DWORD size) const {
        return WriteCameraValue(name_, value, type, data, size);
    }
    bool WriteText(const std::string& value, const std::string& text) const;
    bool WriteDword(const std::string& value, DWORD number) const;
    RegistryValue Read(const std::string& value) const { return ReadCameraValue(name_, value); }

  private:
    std::string name_;
};

} // namespace lumetra::test
