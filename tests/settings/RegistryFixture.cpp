#include "RegistryFixture.h"

#include <gtest/gtest.h>

#include <cstring>

namespace lumetra::test {

namespace {
std::string KeyPath(const std::string& camera) {
    return std::string(LumetraKey) + "\\" + camera;
}
} // namespace

ScopedCameraKey::ScopedCameraKey(const std::string& purpose) {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    name_ = std::string("Test ") + (info ? info->name() : "none") + " " + purpose + " " +
            std::to_string(::GetCurrentProcessId());
    ::RegDeleteTreeA(HKEY_CURRENT_USER, KeyPath(name_).c_str());
}

ScopedCameraKey::~ScopedCameraKey() {
    ::RegDeleteTreeA(HKEY_CURRENT_USER, KeyPath(name_).c_str());
}

bool ScopedCameraKey::Exists() const {
    return ValueCount() >= 0;
}

int ScopedCameraKey::ValueCount() const {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, KeyPath(name_).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return -1;
    DWORD values = 0;
    ::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                       nullptr, nullptr);
    ::RegCloseKey(key);
    return static_cast<int>(values);
}

bool ScopedCameraKey::Write(const std::string& value, DWORD type, const void* data, DWORD size) const {
    HKEY key = nullptr;
    if (::RegCreateKeyExA(HKEY_CURRENT_USER, KeyPath(name_).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                          &key, nullptr) != ERROR_SUCCESS)
        return false;
    const LONG result = ::RegSetValueExA(key, value.c_str(), 0, type, static_cast<const BYTE*>(data), size);
    ::RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

bool ScopedCameraKey::WriteText(const std::string& value, const std::string& text) const {
    return Write(value, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

bool ScopedCameraKey::WriteDword(const std::string& value, DWORD number) const {
    return Write(value, REG_DWORD, &number, sizeof number);
}

DWORD ScopedCameraKey::Value::Dword() const {
    DWORD number = 0;
    if (data.size() == sizeof number)
        std::memcpy(&number, data.data(), sizeof number);
    return number;
}

ScopedCameraKey::Value ScopedCameraKey::Read(const std::string& value) const {
    Value result;
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, KeyPath(name_).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return result;
    DWORD size = 0;
    if (::RegQueryValueExA(key, value.c_str(), nullptr, &result.type, nullptr, &size) == ERROR_SUCCESS) {
        result.data.resize(size);
        result.found = ::RegQueryValueExA(key, value.c_str(), nullptr, &result.type, result.data.data(),
                                          &size) == ERROR_SUCCESS;
        result.data.resize(size);
    }
    ::RegCloseKey(key);
    return result;
}

} // namespace lumetra::test
