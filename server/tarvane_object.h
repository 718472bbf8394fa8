#pragma once
// The Tarvane control as a COM object: one record holding the core control, its host,
// its two connection points and one member per implemented interface. Every interface's
// IUnknown forwards to the record, which owns the one reference count.

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "kestova/tarvane.h"
#include "server/com_host.h"
#include "server/com_ptr.h"
#include "server/connection_point.h"
#include "server/face.h"
#include "server/ole_embedding.h"
#include "server/kestova_h.h"

namespace kestova::server {

class TarvaneObject;

// _Tarvane: the dual interface. Early-bound calls land in the vtable methods; late-bound
// ones in Invoke, which converts script arguments itself (see tarvane_invoke.cpp).
class DispatchFace : public Face<_Tarvane> {
 public:
  using Face::Face;
  // IDispatch
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** out) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid,
                                          DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags,
                                   DISPPARAMS* parameters, VARIANT* result, EXCEPINFO* excep_info,
                                   UINT* argument_error) override;
  // Configuration properties
  HRESULT STDMETHODCALLTYPE get_Enabled(VARIANT_BOOL* value) override;
  HRESULT STDMETHODCALLTYPE put_Enabled(VARIANT_BOOL value) override;
  HRESULT STDMETHODCALLTYPE get_CommPort(short* value) override;
  HRESULT STDMETHODCALLTYPE put_CommPort(short value) override;
  HRESULT STDMETHODCALLTYPE get_Settings(BSTR* value) override;
  HRESULT STDMETHODCALLTYPE put_Settings(BSTR value) override;
  HRESULT STDMETHODCALLTYPE get_Handshaking(KestovaHandshaking* value) override;
  HRESULT STDMETHODCALLTYPE put_Handshaking(KestovaHandshaking value) override;
  HRESULT STDMETHODCALLTYPE get_Timeout(short* value) override;
  HRESULT STDMETHODCALLTYPE put_Timeout(short value) override;
  HRESULT STDMETHODCALLTYPE get_StationNo(short* value) override;
  HRESULT STDMETHODCALLTYPE put_StationNo(short value) override;
  HRESULT STDMETHODCALLTYPE get_NetworkNo(short* value) override;
  HRESULT STDMETHODCALLTYPE put_NetworkNo(short value) override;
  HRESULT STDMETHODCALLTYPE get_PCNumber(short* value) override;
  HRESULT STDMETHODCALLTYPE put_PCNumber(short value) override;
  HRESULT STDMETHODCALLTYPE get_RqstDestMdIO(LONG* value) override;
  HRESULT STDMETHODCALLTYPE put_RqstDestMdIO(LONG value) override;
  HRESULT STDMETHODCALLTYPE get_RqstDestMdSta(short* value) override;
  HRESULT STDMETHODCALLTYPE put_RqstDestMdSta(short value) override;
  HRESULT STDMETHODCALLTYPE get_PLCType(::MELSECPLCType* value) override;
  HRESULT STDMETHODCALLTYPE put_PLCType(::MELSECPLCType value) override;
  HRESULT STDMETHODCALLTYPE get_SumCheck(VARIANT_BOOL* value) override;
  HRESULT STDMETHODCALLTYPE put_SumCheck(VARIANT_BOOL value) override;
  HRESULT STDMETHODCALLTYPE get_PortOpen(VARIANT_BOOL* value) override;
  HRESULT STDMETHODCALLTYPE put_PortOpen(VARIANT_BOOL value) override;
  // Device image
  HRESULT STDMETHODCALLTYPE get_PLCX(short* index, VARIANT_BOOL* value) override;
  HRESULT STDMETHODCALLTYPE get_PLCY(short* index, VARIANT_BOOL* value) override;
  HRESULT STDMETHODCALLTYPE get_PLCM(short* index, VARIANT_BOOL* value) override;
  HRESULT STDMETHODCALLTYPE get_PLCB(short* index, VARIANT_BOOL* value) override;
  HRESULT STDMETHODCALLTYPE get_PLCD(short* index, short* value) override;
  HRESULT STDMETHODCALLTYPE get_PLCW(short* index, short* value) override;
  HRESULT STDMETHODCALLTYPE get_PLCZR(short* index, short* value) override;
  HRESULT STDMETHODCALLTYPE get_PLCSM(short* index, VARIANT_BOOL* value) override;
  HRESULT STDMETHODCALLTYPE get_PLCSD(short* index, short* value) override;
  HRESULT STDMETHODCALLTYPE get_PLCSB(short* index, VARIANT_BOOL* value) override;
  HRESULT STDMETHODCALLTYPE get_PLCSW(short* index, short* value) override;
  HRESULT STDMETHODCALLTYPE get_PLCL(short* index, VARIANT_BOOL* value) override;
  HRESULT STDMETHODCALLTYPE get_PLCF(short* index, VARIANT_BOOL* value) override;
  HRESULT STDMETHODCALLTYPE get_PLCS(short* index, VARIANT_BOOL* value) override;
  // Batch reads
  HRESULT STDMETHODCALLTYPE ReadX(LONG* start, short* points, short* result) override;
  HRESULT STDMETHODCALLTYPE ReadY(LONG* start, short* points, short* result) override;
  HRESULT STDMETHODCALLTYPE ReadB(LONG* start, short* points, short* result) override;
  HRESULT STDMETHODCALLTYPE ReadSB(LONG* start, short* points, short* result) override;
  HRESULT STDMETHODCALLTYPE ReadSM(LONG* start, short* points, short* result) override;
  HRESULT STDMETHODCALLTYPE ReadL(LONG* start, short* points, short* result) override;
  HRESULT STDMETHODCALLTYPE ReadF(LONG* start, short* points, short* result) override;
  HRESULT STDMETHODCALLTYPE ReadS(LONG* start, short* points, short* result) override;
  HRESULT STDMETHODCALLTYPE ReadD(LONG* start, short* points, short* result) override;
  HRESULT STDMETHODCALLTYPE ReadSD(LONG* start, short* points, short* result) override;
  HRESULT STDMETHODCALLTYPE ReadW(LONG* start, short* points, short* result) override;
  HRESULT STDMETHODCALLTYPE ReadSW(LONG* start, short* points, short* result) override;
  HRESULT STDMETHODCALLTYPE ReadZR(LONG* start, short* points, short* result) override;
  HRESULT STDMETHODCALLTYPE ReadM(LONG* start, short* points, VARIANT* result) override;
  // Bit set and reset
  HRESULT STDMETHODCALLTYPE SetM(LONG* address, short* result) override;
  HRESULT STDMETHODCALLTYPE SetY(LONG* address, short* result) override;
  HRESULT STDMETHODCALLTYPE SetB(LONG* address, short* result) override;
  HRESULT STDMETHODCALLTYPE SetL(LONG* address, short* result) override;
  HRESULT STDMETHODCALLTYPE SetF(LONG* address, short* result) override;
  HRESULT STDMETHODCALLTYPE SetS(LONG* address, short* result) override;
  HRESULT STDMETHODCALLTYPE ResetY(LONG* address, short* result) override;
  HRESULT STDMETHODCALLTYPE ResetM(LONG* address, short* result) override;
  HRESULT STDMETHODCALLTYPE ResetB(LONG* address, short* result) override;
  HRESULT STDMETHODCALLTYPE ResetL(LONG* address, short* result) override;
  HRESULT STDMETHODCALLTYPE ResetF(LONG* address, short* result) override;
  HRESULT STDMETHODCALLTYPE ResetS(LONG* address, short* result) override;
  // Word writes, block write, remote operations, About box
  HRESULT STDMETHODCALLTYPE WriteD(LONG* address, short* value, short* result) override;
  HRESULT STDMETHODCALLTYPE WriteW(LONG* address, short* value, short* result) override;
  HRESULT STDMETHODCALLTYPE WriteZR(LONG* address, short* value, short* result) override;
  HRESULT STDMETHODCALLTYPE WriteBlock(BSTR* device, short* points, SAFEARRAY** data,
                                       short* result) override;
  HRESULT STDMETHODCALLTYPE RemoteStop(short* mode, short* result) override;
  HRESULT STDMETHODCALLTYPE RemoteReset(short* mode, short* result) override;
  HRESULT STDMETHODCALLTYPE RemoteRun(short* mode, short* clear_mode, short* result) override;
  HRESULT STDMETHODCALLTYPE ShowAboutBox() override;
};

class ErrorInfoFace : public Face<ISupportErrorInfo> {
 public:
  using Face::Face;
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override;
};

class ClassInfoFace : public Face<IProvideClassInfo2> {
 public:
  using Face::Face;
  HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** out) override;
  HRESULT STDMETHODCALLTYPE GetGUID(DWORD kind, GUID* out) override;
};

class ContainerFace : public Face<IConnectionPointContainer> {
 public:
  using Face::Face;
  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** out) override;
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** out) override;
};

// IPersist's one method, shared by the three persistence interfaces.
template <class Interface>
class PersistFace : public Face<Interface> {
 public:
  using Face<Interface>::Face;
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* out) override {
    if (!out) return E_POINTER;
    *out = CLSID_Tarvane;
    return S_OK;
  }
};

class PropertyBagFace : public PersistFace<IPersistPropertyBag> {
 public:
  using PersistFace::PersistFace;
  HRESULT STDMETHODCALLTYPE InitNew() override;
  HRESULT STDMETHODCALLTYPE Load(IPropertyBag* bag, IErrorLog* error_log) override;
  HRESULT STDMETHODCALLTYPE Save(IPropertyBag* bag, BOOL clear_dirty, BOOL save_all) override;
};

class StreamFace : public PersistFace<IPersistStreamInit> {
 public:
  using PersistFace::PersistFace;
  HRESULT STDMETHODCALLTYPE IsDirty() override;
  HRESULT STDMETHODCALLTYPE Load(IStream* stream) override;
  HRESULT STDMETHODCALLTYPE Save(IStream* stream, BOOL clear_dirty) override;
  HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER* size) override;
  HRESULT STDMETHODCALLTYPE InitNew() override;
};

// IPersistStorage, for document hosts and OleCreate: the stream save's bytes in the
// storage's "Contents" stream. The control writes its storage only inside Save and so holds
// none between calls; the states still follow the interface's rules, so a container that
// calls out of turn is told so.
class StorageFace : public PersistFace<IPersistStorage> {
 public:
  using PersistFace::PersistFace;
  HRESULT STDMETHODCALLTYPE IsDirty() override;
  HRESULT STDMETHODCALLTYPE InitNew(IStorage* storage) override;
  HRESULT STDMETHODCALLTYPE Load(IStorage* storage) override;
  HRESULT STDMETHODCALLTYPE Save(IStorage* storage, BOOL same_as_load) override;
  HRESULT STDMETHODCALLTYPE SaveCompleted(IStorage* new_storage) override;
  HRESULT STDMETHODCALLTYPE HandsOffStorage() override;

 private:
  enum class State { Uninitialized, Normal, NoScribble, HandsOffAfterSave, HandsOffFromNormal };
  State state_ = State::Uninitialized;
  // A copy saved elsewhere (not same-as-load) leaves the changes unsaved here unless the
  // container then adopts that storage.
  bool dirty_unless_adopted_ = false;
};

class TarvaneObject {
 public:
  // Creates an object and hands out the interface asked for (the class factory's work).
  static HRESULT Create(REFIID iid, void** out);

  HRESULT QueryInterface(REFIID iid, void** out);
  ULONG AddRef();
  ULONG Release();

  // The control, after InitProperties when the host has neither called InitNew nor Load:
  // script hosts call neither, and must still see the defaults.
  Tarvane& Control();

  // InitNew and Load of the persistence interfaces: once the host did either, each
  // interface refuses another with its own HRESULT (refusal).
  bool host_initialized() const { return host_initialized_; }
  void InitNew(HRESULT refusal);
  void Load(PropertyBag& bag, HRESULT refusal);
  void Save(PropertyBag& bag) { Control().WriteProperties(bag); }
  // What IPersistStreamInit and IPersistStorage store.
  std::vector<std::uint8_t> SavedBytes();
  // Reads what SavedBytes wrote; a stream that is not such a save is STG_E_INVALIDHEADER.
  void LoadSaved(IStream& stream, HRESULT refusal);

  // Dirty from a property change until a save that reached its medium.
  bool dirty() const { return dirty_; }
  void MarkClean() { dirty_ = false; }
  void MarkDirty() { dirty_ = true; }

  Embedding& embedding() { return embedding_; }

  ITypeLib& TypeLibrary();
  ITypeInfo& DispatchTypeInfo();
  IConnectionPoint* FindConnectionPoint(REFIID iid);

 private:
  TarvaneObject();
  ~TarvaneObject();

  LONG references_ = 1;
  DispatchFace dispatch_{*this};
  ErrorInfoFace error_info_{*this};
  ClassInfoFace class_info_{*this};
  ContainerFace container_{*this};
  PropertyBagFace property_bag_{*this};
  StreamFace stream_{*this};
  StorageFace storage_{*this};
  OleObjectFace ole_object_{*this};
  InPlaceObjectFace in_place_object_{*this};
  InPlaceActiveFace in_place_active_{*this};
  OleControlFace ole_control_{*this};
  ViewObjectFace view_object_{*this};
  Embedding embedding_;
  ConnectionPoint events_;
  ConnectionPoint property_notify_;
  bool dirty_ = false;
  bool initialized_ = false;       // InitProperties or ReadProperties has run
  bool host_initialized_ = false;  // ... because the host asked for it
  ComHost host_;
  std::unique_ptr<Tarvane> control_;
  ComPtr<ITypeLib> type_library_;
  ComPtr<ITypeInfo> dispatch_type_info_;
};

// Holds a reference for the length of a call: an event handler that drops the host's last
// reference to the control must not delete it under the running operation.
class KeepAlive {
 public:
  explicit KeepAlive(TarvaneObject& object) : object_(object) { object_.AddRef(); }
  ~KeepAlive() { object_.Release(); }
  KeepAlive(const KeepAlive&) = delete;
  KeepAlive& operator=(const KeepAlive&) = delete;

 private:
  TarvaneObject& object_;
};

template <class Interface>
HRESULT STDMETHODCALLTYPE Face<Interface>::QueryInterface(REFIID iid, void** out) {
  return owner_.QueryInterface(iid, out);
}
template <class Interface>
ULONG STDMETHODCALLTYPE Face<Interface>::AddRef() {
  return owner_.AddRef();
}
template <class Interface>
ULONG STDMETHODCALLTYPE Face<Interface>::Release() {
  return owner_.Release();
}

}  // namespace kestova::server
