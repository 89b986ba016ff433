#include "CameraKeys.h"

#include <gtest/gtest.h>

#include <cstring>

namespace lumetra::test {

namespace {

std::string KeyPath(const std::string& cameraName) {
    return std::string(LumetraKey) + "\\" + cameraName;
}

// The camera's key opened for reading; null when there is none.
class ReadKey {
  public:
    explicit ReadKey(const std::string& cameraName) {
        if (::RegOpenKeyExA(HKEY_CURRENT_USER, KeyPath(cameraName).c_str(), 0, KEY_READ, &key_) !=
            ERROR_SUCCESS)
            key_ = nullptr;
    }
    ~ReadKey() {
        if (key_)
            ::RegCloseKey(key_);
    }
    ReadKey(const ReadKey&) = delete;
    ReadKey& operator=(const ReadKey&) = delete;
    HKEY get() const { return key_; }

  private:
    HKEY key_ = nullptr;
};

} // namespace

std::string RegistryValue::Text() const {
    std::string text(data.begin(), data.end());
    return text.substr(0, text.find('\0'));
}

DWORD RegistryValue::Dword() const {
    DWORD number = 0;
    if (data.size() == sizeof number)
        std::memcpy(&number, data.data(), sizeof number);
    return number;
}

void DeleteCameraKey(const std::string& cameraName) {
    ::RegDeleteTreeA(HKEY_CURRENT_USER, KeyPath(cameraName).c_str());
}

int CameraValueCount(const std::string& cameraName) {
    ReadKey key(cameraName);
    if (!key.get())
        return -1;
    DWORD values = 0;
    ::RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                       nullptr, nullptr, nullptr);
    return static_cast<int>(values);
}

RegistryValue ReadCameraValue(const std::string& cameraName, const std::string& valueName) {
    RegistryValue result;
    ReadKey key(cameraName);
    if (!key.get())
        return result;
    DWORD size = 0;
    if (::RegQueryValueExA(key.get(), valueName.c_str(), nullptr, &result.type, nullptr, &size) ==
        ERROR_SUCCESS) {
        result.data.resize(size);
        result.found = ::RegQueryValueExA(key.get(), valueName.c_str(), nullptr, &result.type,
                                          result.data.data(), &size) == ERROR_SUCCESS;
        result.data.resize(size);
    }
    return result;
}

std::optional<std::string> StoredText(const std::string& cameraName, const std::string& valueName) {
    const RegistryValue value = ReadCameraValue(cameraName, valueName);
    if (!value.found || value.type != REG_SZ)
        return std::nullopt;
    return value.Text();
}

std::optional<DWORD> StoredNumber(const std::string& cameraName, const std::string& valueName) {
    const RegistryValue value = ReadCameraValue(cameraName, valueName);
    if (!value.found || value.type != REG_DWORD || value.data.size() != sizeof(DWORD))
        return std::nullopt;
    return value.Dword();
}

bool WriteCameraValue(const std::string& cameraName, const std::string& valueName, DWORD type,
                      const void* data, DWORD size) {
    HKEY key = nullptr;
    if (::RegCreateKeyExA(HKEY_CURRENT_USER, KeyPath(cameraName).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                          nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    const LONG result =
        ::RegSetValueExA(key, valueName.c_str(), 0, type, static_cast<const BYTE*>(data), size);
    ::RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

ScopedCameraKey::ScopedCameraKey(const std::string& purpose) {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    name_ = std::string("Test ") + (info ? info->name() : "none") + " " + purpose + " " +
            std::to_string(::GetCurrentProcessId());
    DeleteCameraKey(name_);
}

ScopedCameraKey::~ScopedCameraKey() {
    DeleteCameraKey(name_);
}

bool ScopedCameraKey::WriteText(const std::string& value, const std::string& text) const {
    return Write(value, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

bool ScopedCameraKey::WriteDword(const std::string& value, DWORD number) const {
    return Write(value, REG_DWORD, &number, sizeof number);
}

} // namespace lumetra::test
