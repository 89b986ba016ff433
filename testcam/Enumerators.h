#pragma once
// IEnumPins and IEnumMediaTypes over fixed lists.

#include "TestCamCommon.h"
#include "framework/Handles.h"

#include <vector>

namespace lumetra::testcam {

class PinEnumerator final : public IEnumPins {
  public:
    // owner is kept alive by the enumerator; pins are the owner's.
    PinEnumerator(IUnknown* owner, std::vector<IPin*> pins, size_t position = 0);

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override { return ++referenceCount_; }
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP Next(ULONG count, IPin** pins, ULONG* fetched) override;
    STDMETHODIMP Skip(ULONG count) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumPins** clone) override;

  private:
    ModuleObject moduleObject_;
    std::atomic<ULONG> referenceCount_{1};
    ComPtr<IUnknown> owner_;
    std::vector<IPin*> pins_;
    size_t position_;
};

class MediaTypeEnumerator final : public IEnumMediaTypes {
  public:
    MediaTypeEnumerator(std::vector<MediaType> types, size_t position = 0);

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override { return ++referenceCount_; }
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override;
    STDMETHODIMP Skip(ULONG count) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumMediaTypes** clone) override;

  private:
    ModuleObject moduleObject_;
    std::atomic<ULONG> referenceCount_{1};
    std::vector<MediaType> types_;
    size_t position_;
};

} // namespace lumetra::testcam
