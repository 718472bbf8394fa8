#pragma once
// The IUnknown part shared by every interface member of the control's record: each
// forwards to the record (defined with TarvaneObject, in tarvane_object.h).

#include <unknwn.h>

namespace kestova::server {

class TarvaneObject;

// The IUnknown part shared by every interface member of the record.
template <class Interface>
class Face : public Interface {
 public:
  explicit Face(TarvaneObject& owner) : owner_(owner) {}
  Face(const Face&) = delete;
  Face& operator=(const Face&) = delete;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

 protected:
  TarvaneObject& owner_;
};

}  // namespace kestova::server
