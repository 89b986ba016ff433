#include "PlatformShare.h"
#include "StartProcess.h"

#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

namespace lumetra::test {

namespace {
// Makes and releases a filter graph manager, as a camera open has its graph made.
void DirectShowGraphMade() {
    Microsoft::WRL::ComPtr<IGraphBuilder> graph;
    ::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                       reinterpret_cast<void**>(graph.GetAddressOf()));
}
} // namespace

void DirectShowDeviceListRead() {
    using Microsoft::WRL::ComPtr;
    ComPtr<ICreateDevEnum> devices;
    ::CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                       reinterpret_cast<void**>(devices.GetAddressOf()));
    ComPtr<IEnumMoniker> monikers;
    if (devices)
        devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.GetAddressOf(), 0);
    ComPtr<IMoniker> moniker;
    while (monikers && monikers->Next(1, moniker.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        ComPtr<IPropertyBag> properties;
        moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                               reinterpret_cast<void**>(properties.GetAddressOf()));
        VARIANT name;
        ::VariantInit(&name);
        name.vt = VT_BSTR;
        if (properties)
            properties->Read(L"FriendlyName", &name, nullptr);
        ::VariantClear(&name);
    }
}

void DirectShowPlatformCycle() {
    DirectShowDeviceListRead();
    DirectShowGraphMade();
}

void HostProgramRun() {
    ChildProcess program;
    if (program.Start("Z:\\usr\\bin\\python3 -c pass"))
        program.WaitForExit(10000);
}

} // namespace lumetra::test
