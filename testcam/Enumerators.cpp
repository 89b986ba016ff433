#include "Enumerators.h"

#include <new>

namespace lumetra::testcam {

PinEnumerator::PinEnumerator(IUnknown* owner, std::vector<IPin*> pins, size_t position)
    : owner_(owner), pins_(std::move(pins)), position_(position) {}

STDMETHODIMP PinEnumerator::QueryInterface(REFIID iid, void** object) {
    if (!object)
        return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IEnumPins) {
        *object = static_cast<IEnumPins*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) PinEnumerator::Release() {
    const ULONG count = --referenceCount_;
    if (count == 0)
        delete this;
    return count;
}

STDMETHODIMP PinEnumerator::Next(ULONG count, IPin** pins, ULONG* fetched) {
    if (!pins || (count > 1 && !fetched))
        return E_POINTER;
    ULONG copied = 0;
    while (copied < count && position_ < pins_.size()) {
        pins[copied] = pins_[position_++];
        pins[copied]->AddRef();
        ++copied;
    }
    if (fetched)
        *fetched = copied;
    return copied == count ? S_OK : S_FALSE;
}

STDMETHODIMP PinEnumerator::Skip(ULONG count) {
    if (position_ + count > pins_.size()) {
        position_ = pins_.size();
        return S_FALSE;
    }
    position_ += count;
    return S_OK;
}

STDMETHODIMP PinEnumerator::Reset() {
    position_ = 0;
    return S_OK;
}

STDMETHODIMP PinEnumerator::Clone(IEnumPins** clone) {
    if (!clone)
        return E_POINTER;
    *clone = new (std::nothrow) PinEnumerator(owner_.Get(), pins_, position_);
    return *clone ? S_OK : E_OUTOFMEMORY;
}

MediaTypeEnumerator::MediaTypeEnumerator(std::vector<MediaType> types, size_t position)
    : types_(std::move(types)), position_(position) {}

STDMETHODIMP MediaTypeEnumerator::QueryInterface(REFIID iid, void** object) {
    if (!object)
        return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IEnumMediaTypes) {
        *object = static_cast<IEnumMediaTypes*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) MediaTypeEnumerator::Release() {
    const ULONG count = --referenceCount_;
    if (count == 0)
        delete this;
    return count;
}

STDMETHODIMP MediaTypeEnumerator::Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) {
    if (!types || (count > 1 && !fetched))
        return E_POINTER;
    ULONG copied = 0;
    while (copied < count && position_ < types_.size()) {
        types[copied] = CreateMediaTypeCopy(types_[position_].get());
        if (!types[copied])
            break;
        ++position_;
        ++copied;
    }
    if (fetched)
        *fetched = copied;
    return copied == count ? S_OK : S_FALSE;
}

STDMETHODIMP MediaTypeEnumerator::Skip(ULONG count) {
    if (position_ + count > types_.size()) {
        position_ = types_.size();
        return S_FALSE;
    }
    position_ += count;
    return S_OK;
}

STDMETHODIMP MediaTypeEnumerator::Reset() {
    position_ = 0;
    return S_OK;
}

STDMETHODIMP MediaTypeEnumerator::Clone(IEnumMediaTypes** clone) {
    if (!clone)
        return E_POINTER;
    *clone = new (std::nothrow) MediaTypeEnumerator(types_, position_);
    return *clone ? S_OK : E_OUTOFMEMORY;
}

} // namespace lumetra::testcam
