#include "support/test_transform/transform_object.h"

namespace Sorvane::test {
namespace {

// Forwards to a plain attribute store; only the unlock can be refused, so a test can make an
// asynchronous candidate fail at that step.
class TransformAttributes final : public SingleInterfaceObject<IMFAttributes> {
 public:
  TransformAttributes(std::shared_ptr<TransformSlot> slot, IMFAttributes* store)
      : SingleInterfaceObject(IID_IMFAttributes), slot_(std::move(slot)) {
    store_.Assign(store);
  }

  STDMETHODIMP GetItem(REFGUID key, PROPVARIANT* value) override {
    return store_->GetItem(key, value);
  }
  STDMETHODIMP GetItemType(REFGUID key, MF_ATTRIBUTE_TYPE* type) override {
    return store_->GetItemType(key, type);
  }
  STDMETHODIMP CompareItem(REFGUID key, REFPROPVARIANT value, WINBOOL* result) override {
    return store_->CompareItem(key, value, result);
  }
  STDMETHODIMP Compare(IMFAttributes* theirs, MF_ATTRIBUTES_MATCH_TYPE type,
                       WINBOOL* result) override {
    return store_->Compare(theirs, type, result);
  }
  STDMETHODIMP GetUINT32(REFGUID key, UINT32* value) override {
    return store_->GetUINT32(key, value);
  }
  STDMETHODIMP GetUINT64(REFGUID key, UINT64* value) override {
    return store_->GetUINT64(key, value);
  }
  STDMETHODIMP GetDouble(REFGUID key, double* value) override {
    return store_->GetDouble(key, value);
  }
  STDMETHODIMP GetGUID(REFGUID key, GUID* value) override { return store_->GetGUID(key, value); }
  STDMETHODIMP GetStringLength(REFGUID key, UINT32* length) override {
    return store_->GetStringLength(key, length);
  }
  STDMETHODIMP GetString(REFGUID key, LPWSTR value, UINT32 size, UINT32* length) override {
    return store_->GetString(key, value, size, length);
  }
  STDMETHODIMP GetAllocatedString(REFGUID key, LPWSTR* value, UINT32* length) override {
    return store_->GetAllocatedString(key, value, length);
  }
  STDMETHODIMP GetBlobSize(REFGUID key, UINT32* size) override {
    return store_->GetBlobSize(key, size);
  }
  STDMETHODIMP GetBlob(REFGUID key, UINT8* buffer, UINT32 size, UINT32* written) override {
    return store_->GetBlob(key, buffer, size, written);
  }
  STDMETHODIMP GetAllocatedBlob(REFGUID key, UINT8** buffer, UINT32* size) override {
    return store_->GetAllocatedBlob(key, buffer, size);
  }
  STDMETHODIMP GetUnknown(REFGUID key, REFIID riid, LPVOID* out) override {
    return store_->GetUnknown(key, riid, out);
  }
  STDMETHODIMP SetItem(REFGUID key, REFPROPVARIANT value) override {
    const HRESULT refused = Refusal(key);
    return FAILED(refused) ? refused : store_->SetItem(key, value);
  }
  STDMETHODIMP DeleteItem(REFGUID key) override { return store_->DeleteItem(key); }
  STDMETHODIMP DeleteAllItems() override { return store_->DeleteAllItems(); }
  STDMETHODIMP SetUINT32(REFGUID key, UINT32 value) override {
    const HRESULT refused = Refusal(key);
    return FAILED(refused) ? refused : store_->SetUINT32(key, value);
  }
  STDMETHODIMP SetUINT64(REFGUID key, UINT64 value) override {
    return store_->SetUINT64(key, value);
  }
  STDMETHODIMP SetDouble(REFGUID key, double value) override {
    return store_->SetDouble(key, value);
  }
  STDMETHODIMP SetGUID(REFGUID key, REFGUID value) override { return store_->SetGUID(key, value); }
  STDMETHODIMP SetString(REFGUID key, LPCWSTR value) override {
    return store_->SetString(key, value);
  }
  STDMETHODIMP SetBlob(REFGUID key, const UINT8* buffer, UINT32 size) override {
    return store_->SetBlob(key, buffer, size);
  }
  STDMETHODIMP SetUnknown(REFGUID key, IUnknown* value) override {
    return store_->SetUnknown(key, value);
  }
  STDMETHODIMP LockStore() override { return store_->LockStore(); }
  STDMETHODIMP UnlockStore() override { return store_->UnlockStore(); }
  STDMETHODIMP GetCount(UINT32* count) override { return store_->GetCount(count); }
  STDMETHODIMP GetItemByIndex(UINT32 index, GUID* key, PROPVARIANT* value) override {
    return store_->GetItemByIndex(index, key, value);
  }
  STDMETHODIMP CopyAllItems(IMFAttributes* destination) override {
    return store_->CopyAllItems(destination);
  }

 private:
  ~TransformAttributes() override = default;

  HRESULT Refusal(REFGUID key) const {
    if (key != MF_TRANSFORM_ASYNC_UNLOCK)
      return S_OK;
    return slot_->Options().failures.asyncUnlock;
  }

  const std::shared_ptr<TransformSlot> slot_;
  ComRef<IMFAttributes> store_;
};

}  // namespace

HRESULT CreateTransformAttributes(std::shared_ptr<TransformSlot> slot, IMFAttributes** out) {
  *out = nullptr;
  ComRef<IMFAttributes> store;
  const HRESULT hr = MFCreateAttributes(store.Put(), 8);
  if (FAILED(hr))
    return hr;
  *out = new TransformAttributes(std::move(slot), store.Get());
  return S_OK;
}

}  // namespace Sorvane::test
