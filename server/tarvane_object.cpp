#include "server/tarvane_object.h"

#include <array>
#include <climits>
#include <new>
#include <vector>

#include "link/platform_port.h"
#include "server/com_error.h"
#include "server/connection_point_enum.h"
#include "server/module.h"
#include "server/property_bag_adapter.h"
#include "server/stream_layout.h"

namespace kestova::server {
namespace {

// Reads exactly bytes.size() bytes; a stream that ends early is a damaged save.
void ReadExactly(IStream& stream, std::span<std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ULONG got = 0;
    const HRESULT hr =
        stream.Read(bytes.data() + done, static_cast<ULONG>(bytes.size() - done), &got);
    if (FAILED(hr)) throw ComFailure(hr);
    if (got == 0) throw ComFailure(STG_E_READFAULT);
    done += got;
  }
}

void WriteExactly(IStream& stream, std::span<const std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ULONG put = 0;
    const HRESULT hr =
        stream.Write(bytes.data() + done, static_cast<ULONG>(bytes.size() - done), &put);
    if (FAILED(hr)) throw ComFailure(hr);
    if (put == 0) throw ComFailure(STG_E_WRITEFAULT);
    done += put;
  }
}

// The one stream of a control saved into a storage.
constexpr const wchar_t* kContentsStream = L"Contents";

}  // namespace

// ---- the record ----------------------------------------------------------------------

TarvaneObject::TarvaneObject()
    : events_(*static_cast<IUnknown*>(static_cast<_Tarvane*>(&dispatch_)), container_,
              DIID___Tarvane, true),
      property_notify_(*static_cast<IUnknown*>(static_cast<_Tarvane*>(&dispatch_)), container_,
                       IID_IPropertyNotifySink, false),
      host_(events_, property_notify_, dirty_),
      control_(std::make_unique<Tarvane>(host_, MakePlatformSerialPort())) {
  host_.SetOwnerWindowSource([this] { return embedding_.OwnerWindow(); });
  host_.SetEventsHeldSource([this] { return embedding_.EventsFrozen(); });
  Module::ObjectCreated();
}

TarvaneObject::~TarvaneObject() {
  // Sinks go first, while everything they might call back into is still whole.
  events_.DisconnectAll();
  property_notify_.DisconnectAll();
  Module::ObjectDestroyed();
}

HRESULT TarvaneObject::Create(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  TarvaneObject* object = nullptr;
  try {
    object = new TarvaneObject();
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  const HRESULT hr = object->QueryInterface(iid, out);
  object->Release();
  return hr;
}

HRESULT TarvaneObject::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
      IsEqualIID(iid, IID__Tarvane)) {
    *out = static_cast<_Tarvane*>(&dispatch_);
  } else if (IsEqualIID(iid, IID_ISupportErrorInfo)) {
    *out = static_cast<ISupportErrorInfo*>(&error_info_);
  } else if (IsEqualIID(iid, IID_IProvideClassInfo) || IsEqualIID(iid, IID_IProvideClassInfo2)) {
    *out = static_cast<IProvideClassInfo2*>(&class_info_);
  } else if (IsEqualIID(iid, IID_IConnectionPointContainer)) {
    *out = static_cast<IConnectionPointContainer*>(&container_);
  } else if (IsEqualIID(iid, IID_IPersistPropertyBag)) {
    *out = static_cast<IPersistPropertyBag*>(&property_bag_);
  } else if (IsEqualIID(iid, IID_IPersistStreamInit) || IsEqualIID(iid, IID_IPersist)) {
    *out = static_cast<IPersistStreamInit*>(&stream_);
  } else if (IsEqualIID(iid, IID_IPersistStorage)) {
    *out = static_cast<IPersistStorage*>(&storage_);
  } else if (IsEqualIID(iid, IID_IOleObject)) {
    *out = static_cast<IOleObject*>(&ole_object_);
  } else if (IsEqualIID(iid, IID_IOleInPlaceObject) || IsEqualIID(iid, IID_IOleWindow)) {
    *out = static_cast<IOleInPlaceObject*>(&in_place_object_);
  } else if (IsEqualIID(iid, IID_IOleInPlaceActiveObject)) {
    *out = static_cast<IOleInPlaceActiveObject*>(&in_place_active_);
  } else if (IsEqualIID(iid, IID_IOleControl)) {
    *out = static_cast<IOleControl*>(&ole_control_);
  } else if (IsEqualIID(iid, IID_IViewObject) || IsEqualIID(iid, IID_IViewObject2)) {
    *out = static_cast<IViewObject2*>(&view_object_);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG TarvaneObject::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&references_)); }

ULONG TarvaneObject::Release() {
  const LONG remaining = InterlockedDecrement(&references_);
  if (remaining == 0) {
    // A sink released during destruction may reach back through AddRef and Release; from
    // this count they never bring it to zero a second time.
    references_ = LONG_MAX / 2;
    delete this;
  }
  return static_cast<ULONG>(remaining);
}

Tarvane& TarvaneObject::Control() {
  if (!initialized_) {
    initialized_ = true;
    control_->InitProperties();
  }
  return *control_;
}

void TarvaneObject::InitNew(HRESULT refusal) {
  if (host_initialized_) throw ComFailure(refusal);
  host_initialized_ = initialized_ = true;
  control_->InitProperties();
  dirty_ = false;
}

void TarvaneObject::Load(PropertyBag& bag, HRESULT refusal) {
  if (host_initialized_) throw ComFailure(refusal);
  // A load that fails part-way leaves the keys before the failure applied; the control
  // counts as initialised either way, so it is never reset behind the host's back.
  host_initialized_ = initialized_ = true;
  control_->ReadProperties(bag);
  dirty_ = false;
}

std::vector<std::uint8_t> TarvaneObject::SavedBytes() {
  SavedPropertyBag bag({});
  Save(bag);
  return EncodeSavedProperties(bag.entries());
}

void TarvaneObject::LoadSaved(IStream& stream, HRESULT refusal) {
  // Refused before a byte is read, so the host's stream stays where it was.
  if (host_initialized_) throw ComFailure(refusal);
  std::array<std::uint8_t, kStreamHeaderSize> header{};
  ReadExactly(stream, header);
  SavedEntries entries;
  try {
    std::vector<std::uint8_t> payload(PayloadLength(header));
    ReadExactly(stream, payload);
    entries = DecodeSavedProperties(payload);
  } catch (const StreamFormatError&) {
    throw ComFailure(STG_E_INVALIDHEADER);
  }
  SavedPropertyBag bag(std::move(entries));
  Load(bag, refusal);
}

ITypeLib& TarvaneObject::TypeLibrary() {
  if (!type_library_) {
    const HRESULT hr = LoadTypeLibEx(Module::File().c_str(), REGKIND_NONE, type_library_.Receive());
    if (FAILED(hr)) throw ComFailure(hr);
  }
  return *type_library_.get();
}

ITypeInfo& TarvaneObject::DispatchTypeInfo() {
  if (!dispatch_type_info_) {
    // A dual interface is found as its dispatch face; that is the one IDispatch describes.
    const HRESULT hr = TypeLibrary().GetTypeInfoOfGuid(IID__Tarvane, dispatch_type_info_.Receive());
    if (FAILED(hr)) throw ComFailure(hr);
  }
  return *dispatch_type_info_.get();
}

IConnectionPoint* TarvaneObject::FindConnectionPoint(REFIID iid) {
  if (IsEqualIID(iid, DIID___Tarvane)) return &events_;
  if (IsEqualIID(iid, IID_IPropertyNotifySink)) return &property_notify_;
  return nullptr;
}

// ---- ISupportErrorInfo, IProvideClassInfo2, IConnectionPointContainer ------------------

HRESULT STDMETHODCALLTYPE ErrorInfoFace::InterfaceSupportsErrorInfo(REFIID iid) {
  const bool supported = IsEqualIID(iid, IID__Tarvane) || IsEqualIID(iid, IID_IDispatch) ||
                         IsEqualIID(iid, IID_IPersistPropertyBag) ||
                         IsEqualIID(iid, IID_IPersistStreamInit) ||
                         IsEqualIID(iid, IID_IPersistStorage);
  return supported ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE ClassInfoFace::GetClassInfo(ITypeInfo** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return Guard([&] {
    const HRESULT hr = owner_.TypeLibrary().GetTypeInfoOfGuid(CLSID_Tarvane, out);
    if (FAILED(hr)) throw ComFailure(hr);
  });
}

HRESULT STDMETHODCALLTYPE ClassInfoFace::GetGUID(DWORD kind, GUID* out) {
  if (!out) return E_POINTER;
  if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
    *out = GUID_NULL;
    return E_INVALIDARG;
  }
  *out = DIID___Tarvane;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ContainerFace::EnumConnectionPoints(IEnumConnectionPoints** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  try {
    return ConnectionPointEnumerator::Create({owner_.FindConnectionPoint(DIID___Tarvane),
                                              owner_.FindConnectionPoint(IID_IPropertyNotifySink)},
                                             0, out);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT STDMETHODCALLTYPE ContainerFace::FindConnectionPoint(REFIID iid, IConnectionPoint** out) {
  if (!out) return E_POINTER;
  *out = owner_.FindConnectionPoint(iid);
  if (!*out) return CONNECT_E_NOCONNECTION;
  (*out)->AddRef();
  return S_OK;
}

// ---- IPersistPropertyBag --------------------------------------------------------------

HRESULT STDMETHODCALLTYPE PropertyBagFace::InitNew() {
  return Guard([&] { owner_.InitNew(E_UNEXPECTED); });
}

HRESULT STDMETHODCALLTYPE PropertyBagFace::Load(IPropertyBag* bag, IErrorLog* error_log) {
  if (!bag) return E_POINTER;
  return Guard([&] {
    ComPropertyBag adapter(*bag, error_log);
    owner_.Load(adapter, E_UNEXPECTED);
  });
}

HRESULT STDMETHODCALLTYPE PropertyBagFace::Save(IPropertyBag* bag, BOOL clear_dirty,
                                                BOOL /*save_all*/) {
  if (!bag) return E_POINTER;
  return Guard([&] {
    ComPropertyBag adapter(*bag, nullptr);
    owner_.Save(adapter);
    if (clear_dirty) owner_.MarkClean();
  });
}

// ---- IPersistStreamInit ---------------------------------------------------------------

HRESULT STDMETHODCALLTYPE StreamFace::IsDirty() { return owner_.dirty() ? S_OK : S_FALSE; }

HRESULT STDMETHODCALLTYPE StreamFace::Load(IStream* stream) {
  if (!stream) return E_POINTER;
  return Guard([&] { owner_.LoadSaved(*stream, E_UNEXPECTED); });
}

HRESULT STDMETHODCALLTYPE StreamFace::Save(IStream* stream, BOOL clear_dirty) {
  if (!stream) return E_POINTER;
  return Guard([&] {
    WriteExactly(*stream, owner_.SavedBytes());
    // Only now: a write that failed part-way leaves the changes unsaved.
    if (clear_dirty) owner_.MarkClean();
  });
}

HRESULT STDMETHODCALLTYPE StreamFace::GetSizeMax(ULARGE_INTEGER* size) {
  if (!size) return E_POINTER;
  size->QuadPart = 0;
  return Guard([&] { size->QuadPart = owner_.SavedBytes().size(); });
}

HRESULT STDMETHODCALLTYPE StreamFace::InitNew() {
  return Guard([&] { owner_.InitNew(E_UNEXPECTED); });
}

// ---- IPersistStorage ------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE StorageFace::IsDirty() { return owner_.dirty() ? S_OK : S_FALSE; }

HRESULT STDMETHODCALLTYPE StorageFace::InitNew(IStorage* storage) {
  if (!storage) return E_POINTER;
  return Guard([&] {
    owner_.InitNew(CO_E_ALREADYINITIALIZED);
    state_ = State::Normal;
  });
}

HRESULT STDMETHODCALLTYPE StorageFace::Load(IStorage* storage) {
  if (!storage) return E_POINTER;
  if (owner_.host_initialized()) return CO_E_ALREADYINITIALIZED;
  return Guard([&] {
    ComPtr<IStream> contents;
    const HRESULT hr = storage->OpenStream(kContentsStream, nullptr,
                                           STGM_READ | STGM_SHARE_EXCLUSIVE, 0, contents.Receive());
    if (FAILED(hr)) throw ComFailure(hr);
    owner_.LoadSaved(*contents.get(), CO_E_ALREADYINITIALIZED);
    state_ = State::Normal;
  });
}

HRESULT STDMETHODCALLTYPE StorageFace::Save(IStorage* storage, BOOL same_as_load) {
  if (!storage) return E_POINTER;
  if (state_ != State::Uninitialized && state_ != State::Normal) return E_UNEXPECTED;
  return Guard([&] {
    ComPtr<IStream> contents;
    const HRESULT hr = storage->CreateStream(
        kContentsStream, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0,
        contents.Receive());
    if (FAILED(hr)) throw ComFailure(hr);
    WriteExactly(*contents.get(), owner_.SavedBytes());
    dirty_unless_adopted_ = !same_as_load && owner_.dirty();
    owner_.MarkClean();
    state_ = State::NoScribble;
  });
}

HRESULT STDMETHODCALLTYPE StorageFace::SaveCompleted(IStorage* new_storage) {
  switch (state_) {
    case State::NoScribble:
      break;
    case State::HandsOffAfterSave:
    case State::HandsOffFromNormal:
      if (!new_storage) return E_INVALIDARG;
      break;
    default:
      return E_UNEXPECTED;
  }
  if (dirty_unless_adopted_ && !new_storage) owner_.MarkDirty();
  dirty_unless_adopted_ = false;
  state_ = State::Normal;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE StorageFace::HandsOffStorage() {
  if (state_ == State::Normal) {
    state_ = State::HandsOffFromNormal;
  } else if (state_ == State::NoScribble) {
    state_ = State::HandsOffAfterSave;
  } else {
    return E_UNEXPECTED;
  }
  return S_OK;
}

}  // namespace kestova::server
