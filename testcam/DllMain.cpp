// COM server entry points of the test-pattern camera.

#include "TestCamCommon.h"
#include "TestCamFilter.h"

namespace lumetra::testcam {

std::atomic<long> liveObjectCount{0};
std::atomic<long> serverLockCount{0};
HMODULE moduleHandle = nullptr;

namespace {

// One static factory; it does not keep the DLL loaded (LockServer does).
class ClassFactory : public IClassFactory {
  public:
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (!object)
            return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *object = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        return TestCamFilter::Create(iid, object);
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock)
            ++serverLockCount;
        else
            --serverLockCount;
        return S_OK;
    }
};

ClassFactory classFactory;

} // namespace

} // namespace lumetra::testcam

using namespace lumetra::testcam;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH) {
        moduleHandle = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID classId, REFIID iid, void** object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (classId != kClsidTestCamera)
        return CLASS_E_CLASSNOTAVAILABLE;
    return classFactory.QueryInterface(iid, object);
}

extern "C" HRESULT WINAPI DllCanUnloadNow() {
    return liveObjectCount == 0 && serverLockCount == 0 ? S_OK : S_FALSE;
}
