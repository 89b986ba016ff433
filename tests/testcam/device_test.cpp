// Registration of test cameras in the video input category and binding them by moniker.

#include "CameraTestHelpers.h"

#include <gtest/gtest.h>

#include <string>

using namespace lumetra;
using namespace lumetra::test;

namespace {

class TestCameraDevices : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        ASSERT_TRUE(cameras.loaded()) << "cannot load the camera DLL from LUMETRA_BUILD_DIR";
    }
    void TearDown() override { CoUninitialize(); }

    TestCameras cameras;
};

TEST_F(TestCameraDevices, RegisteredNameIsListedWithOurClassUntilUnregistered) {
    const std::wstring name = L"Registration Probe Cam";
    ASSERT_TRUE(cameras.Register(name)) << std::hex << cameras.lastResult();

    bool found = false;
    for (const ListedDevice& device : ListVideoInputDevices()) {
        if (device.friendlyName != name)
            continue;
        found = true;
        EXPECT_TRUE(device.classIdParsed);
        EXPECT_TRUE(IsEqualCLSID(device.classId, kClsidTestCamera));
    }
    EXPECT_TRUE(found);

    ASSERT_TRUE(cameras.Unregister(name)) << std::hex << cameras.lastResult();
    EXPECT_FALSE(IsListed(ListVideoInputDevices(), name));
    EXPECT_FALSE(BindCamera(name));
}

TEST_F(TestCameraDevices, EmptyOrMissingNamesAreRejected) {
    EXPECT_FALSE(cameras.Register(std::wstring()));
    EXPECT_EQ(E_INVALIDARG, cameras.lastResult());
    EXPECT_FALSE(cameras.Unregister(std::wstring()));
}

// A device of another class in the video input category, there while the object lives.
class ForeignDevice {
  public:
    explicit ForeignDevice(std::wstring name) : name_(std::move(name)) {
        if (FAILED(
                CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&mapper_))))
            return;
        REGFILTER2 foreign{};
        foreign.dwVersion = 2;
        foreign.dwMerit = MERIT_DO_NOT_USE;
        registered_ =
            SUCCEEDED(mapper_->RegisterFilter(kClsidNullRenderer, name_.c_str(), nullptr,
                                              &CLSID_VideoInputDeviceCategory, name_.c_str(), &foreign));
    }
    ~ForeignDevice() {
        if (registered_)
            mapper_->UnregisterFilter(&CLSID_VideoInputDeviceCategory, name_.c_str(), kClsidNullRenderer);
    }
    bool registered() const { return registered_; }

  private:
    std::wstring name_;
    ComPtr<IFilterMapper2> mapper_;
    bool registered_ = false;
};

TEST_F(TestCameraDevices, UnregisterAllRemovesOnlyOurCameras) {
    PreparedCamerasRestorer restorer(cameras);
    const std::wstring foreignName = L"Foreign Device Probe";
    {
        // A device of another class in the same category must survive.
        ForeignDevice foreign(foreignName);
        ASSERT_TRUE(foreign.registered());
        ASSERT_TRUE(cameras.Register(L"Sweep Cam 1"));
        ASSERT_TRUE(cameras.Register(L"Sweep Cam 2"));

        EXPECT_TRUE(cameras.UnregisterAll()) << std::hex << cameras.lastResult();
        const auto devices = ListVideoInputDevices();
        EXPECT_FALSE(IsListed(devices, L"Sweep Cam 1"));
        EXPECT_FALSE(IsListed(devices, L"Sweep Cam 2"));
        EXPECT_FALSE(IsListed(devices, L"Lumetra Test Camera"));
        EXPECT_TRUE(IsListed(devices, foreignName));
    }
    EXPECT_FALSE(IsListed(ListVideoInputDevices(), foreignName));
}

TEST_F(TestCameraDevices, DllRegisterServerAddsTheDefaultCameraAndUnregisterServerRemovesIt) {
    PreparedCamerasRestorer restorer(cameras);
    using ServerFunction = HRESULT(WINAPI*)();
    auto registerServer = reinterpret_cast<ServerFunction>(
        reinterpret_cast<void*>(GetProcAddress(cameras.module(), "DllRegisterServer")));
    auto unregisterServer = reinterpret_cast<ServerFunction>(
        reinterpret_cast<void*>(GetProcAddress(cameras.module(), "DllUnregisterServer")));
    ASSERT_TRUE(registerServer && unregisterServer);

    ASSERT_TRUE(SUCCEEDED(registerServer()));
    EXPECT_TRUE(IsListed(ListVideoInputDevices(), L"Lumetra Test Camera"));
    wchar_t classKey[80] = L"CLSID\\";
    StringFromGUID2(kClsidTestCamera, classKey + 6, 70);
    std::wstring serverKey = std::wstring(classKey) + L"\\InprocServer32";
    wchar_t threading[32] = {};
    DWORD size = sizeof(threading);
    EXPECT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_CLASSES_ROOT, serverKey.c_str(), L"ThreadingModel",
                                          RRF_RT_REG_SZ, nullptr, threading, &size));
    EXPECT_STREQ(L"Both", threading);

    ASSERT_TRUE(SUCCEEDED(unregisterServer()));
    EXPECT_FALSE(IsListed(ListVideoInputDevices(), L"Lumetra Test Camera"));
    UniqueRegKey key;
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CLASSES_ROOT, classKey, 0, KEY_READ, key.put()));

    ASSERT_TRUE(SUCCEEDED(registerServer()));
    EXPECT_TRUE(BindCamera(L"Lumetra Test Camera"));
}

TEST_F(TestCameraDevices, BoundFilterIsACaptureSourceThatKnowsItsName) {
    ScopedTestCamera first(cameras, "Bind Cam Alpha");
    ScopedTestCamera second(cameras, "Bind Cam Beta");
    ASSERT_TRUE(first.registered() && second.registered());

    ComPtr<IBaseFilter> alpha = BindCamera(L"Bind Cam Alpha");
    ComPtr<IBaseFilter> beta = BindCamera(L"Bind Cam Beta");
    ASSERT_TRUE(alpha && beta);
    EXPECT_EQ(L"Bind Cam Alpha", CameraNameOf(alpha.Get()));
    EXPECT_EQ(L"Bind Cam Beta", CameraNameOf(beta.Get()));

    CLSID classId{};
    ASSERT_TRUE(SUCCEEDED(alpha->GetClassID(&classId)));
    EXPECT_TRUE(IsEqualCLSID(classId, kClsidTestCamera));

    ComPtr<IPin> pin = FirstPin(alpha.Get(), PINDIR_OUTPUT);
    ASSERT_TRUE(pin);
    ComPtr<IKsPropertySet> properties;
    ASSERT_TRUE(SUCCEEDED(pin.As(&properties)));
    GUID category{};
    DWORD returned = 0;
    ASSERT_TRUE(SUCCEEDED(properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category,
                                          sizeof(category), &returned)));
    EXPECT_EQ(sizeof(GUID), returned);
    EXPECT_TRUE(IsEqualGUID(category, PIN_CATEGORY_CAPTURE));

    // The capture graph builder finds the pin by category, and no preview or video port pin.
    ComPtr<ICaptureGraphBuilder2> builder;
    ASSERT_TRUE(SUCCEEDED(
        CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&builder))));
    ComPtr<IPin> found;
    EXPECT_TRUE(SUCCEEDED(
        builder->FindPin(alpha.Get(), PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, nullptr, FALSE, 0, &found)));
    EXPECT_EQ(pin.Get(), found.Get());
    ComPtr<IPin> videoPort;
    EXPECT_TRUE(FAILED(builder->FindPin(alpha.Get(), PINDIR_OUTPUT, &PIN_CATEGORY_VIDEOPORT, nullptr, FALSE,
                                        0, &videoPort)));

    // Only one pin, and its enumeration ends.
    ComPtr<IEnumPins> pins;
    ASSERT_TRUE(SUCCEEDED(alpha->EnumPins(&pins)));
    ComPtr<IPin> pinsSeen[2];
    ULONG fetched = 0;
    EXPECT_EQ(S_FALSE, pins->Next(2, pinsSeen[0].GetAddressOf(), &fetched));
    EXPECT_EQ(1u, fetched);
    pinsSeen[0].Reset();
}

TEST_F(TestCameraDevices, DllStaysInUseWhileAFilterLives) {
    ScopedTestCamera camera(cameras, "Unload Probe Cam");
    ASSERT_TRUE(camera.registered());
    ComPtr<IBaseFilter> filter = BindCamera(L"Unload Probe Cam");
    ASSERT_TRUE(filter);
    ComPtr<IEnumPins> pins;
    ASSERT_TRUE(SUCCEEDED(filter->EnumPins(&pins)));
    EXPECT_EQ(S_FALSE, cameras.CanUnloadNow());
    filter.Reset();
    EXPECT_EQ(S_FALSE, cameras.CanUnloadNow()); // the enumerator still holds the filter
    pins.Reset();
    EXPECT_EQ(S_OK, cameras.CanUnloadNow());
}

TEST_F(TestCameraDevices, TwentyOneCamerasAreListedAndBindableAtOnce) {
    std::vector<std::unique_ptr<ScopedTestCamera>> registered;
    for (int index = 1; index <= 21; ++index) {
        registered.push_back(
            std::make_unique<ScopedTestCamera>(cameras, "Many Cam " + std::to_string(index)));
        ASSERT_TRUE(registered.back()->registered()) << index;
    }
    const auto devices = ListVideoInputDevices();
    std::vector<ComPtr<IBaseFilter>> bound;
    for (const auto& camera : registered) {
        const std::wstring name = Widen(camera->name());
        EXPECT_TRUE(IsListed(devices, name)) << camera->name();
        bound.push_back(BindCamera(name));
        ASSERT_TRUE(bound.back()) << camera->name();
        EXPECT_EQ(name, CameraNameOf(bound.back().Get()));
    }
}

} // namespace
