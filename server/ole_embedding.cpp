#include "server/ole_embedding.h"

#include "kestova/tarvane.h"
#include "server/com_error.h"
#include "server/kestova_h.h"
#include "server/module.h"
#include "server/resource_ids.h"
#include "server/tarvane_object.h"

namespace kestova::server {
namespace {

constexpr LONG kHimetricPerInch = 2540;
constexpr LONG kTwipsPerInch = 1440;
constexpr const wchar_t* kWindowClass = L"KestovaTarvane";
constexpr const wchar_t* kUserType = L"Tarvane Control";
constexpr DWORD kMiscStatus = OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE |
                              OLEMISC_INSIDEOUT | OLEMISC_ACTIVATEWHENVISIBLE |
                              OLEMISC_SETCLIENTSITEFIRST;

LONG TwipsToHimetric(std::int32_t twips) { return MulDiv(twips, kHimetricPerInch, kTwipsPerInch); }

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_PAINT) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    DrawLogo(dc, client);
    EndPaint(window, &paint);
    return 0;
  }
  if (message == WM_ERASEBKGND) return 1;  // the logo covers the whole window
  return DefWindowProcW(window, message, wparam, lparam);
}

void RegisterWindowClass() {
  WNDCLASSW existing{};
  if (GetClassInfoW(Module::Instance(), kWindowClass, &existing)) return;
  WNDCLASSW window_class{};
  window_class.lpfnWndProc = WindowProc;
  window_class.hInstance = Module::Instance();
  window_class.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  window_class.lpszClassName = kWindowClass;
  RegisterClassW(&window_class);
}

}  // namespace

SIZEL FixedExtentHimetric() {
  return {TwipsToHimetric(kExtentWidthTwips), TwipsToHimetric(kExtentHeightTwips)};
}

std::int32_t HimetricToTwips(LONG himetric) {
  return MulDiv(himetric, kTwipsPerInch, kHimetricPerInch);
}

void DrawLogo(HDC dc, const RECT& bounds) {
  HBITMAP logo = static_cast<HBITMAP>(LoadImageW(Module::Instance(), MAKEINTRESOURCEW(IDB_LOGO),
                                                 IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  if (!logo) return;
  BITMAP info{};
  GetObjectW(logo, sizeof info, &info);
  HDC source = CreateCompatibleDC(dc);
  HGDIOBJ previous = SelectObject(source, logo);
  SetStretchBltMode(dc, COLORONCOLOR);
  StretchBlt(dc, bounds.left, bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top,
             source, 0, 0, info.bmWidth, info.bmHeight, SRCCOPY);
  SelectObject(source, previous);
  DeleteDC(source);
  DeleteObject(logo);
}

// ---- Embedding -------------------------------------------------------------------------

Embedding::~Embedding() {
  if (window_) DestroyWindow(window_);
}

HWND Embedding::OwnerWindow() const {
  HWND owner = nullptr;
  if (in_place_site_ && SUCCEEDED(in_place_site_->GetWindow(&owner)) && owner) return owner;
  if (client_site_) {
    ComPtr<IOleWindow> site_window;
    if (SUCCEEDED(client_site_->QueryInterface(IID_IOleWindow, site_window.ReceiveVoid())) &&
        SUCCEEDED(site_window->GetWindow(&owner))) {
      return owner;
    }
  }
  return nullptr;
}

void Embedding::SetClientSite(IOleClientSite* site) {
  if (!site) DeactivateInPlace();
  client_site_ = ComPtr<IOleClientSite>::Share(site);
}

HRESULT Embedding::ActivateInPlace(IOleClientSite* active_site) {
  if (window_) {
    ShowWindow(window_, SW_SHOWNA);
    return S_OK;
  }
  IOleClientSite* site = active_site ? active_site : client_site_.get();
  if (!site) return E_UNEXPECTED;
  ComPtr<IOleInPlaceSite> in_place;
  if (FAILED(site->QueryInterface(IID_IOleInPlaceSite, in_place.ReceiveVoid()))) return E_FAIL;
  if (in_place->CanInPlaceActivate() != S_OK) return E_FAIL;
  in_place->OnInPlaceActivate();

  HWND parent = nullptr;
  in_place->GetWindow(&parent);
  ComPtr<IOleInPlaceFrame> frame;
  ComPtr<IOleInPlaceUIWindow> document;
  RECT position{};
  RECT clip{};
  OLEINPLACEFRAMEINFO frame_info{};
  frame_info.cb = sizeof frame_info;
  in_place->GetWindowContext(frame.Receive(), document.Receive(), &position, &clip, &frame_info);

  // The window has the control's fixed size wherever the container puts it.
  RegisterWindowClass();
  HDC screen = GetDC(nullptr);
  const SIZEL extent = FixedExtentHimetric();
  const int width = MulDiv(extent.cx, GetDeviceCaps(screen, LOGPIXELSX), kHimetricPerInch);
  const int height = MulDiv(extent.cy, GetDeviceCaps(screen, LOGPIXELSY), kHimetricPerInch);
  ReleaseDC(nullptr, screen);
  window_ =
      CreateWindowExW(0, kWindowClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, position.left,
                      position.top, width, height, parent, nullptr, Module::Instance(), nullptr);
  if (!window_) {
    in_place->OnInPlaceDeactivate();
    return HRESULT_FROM_WIN32(GetLastError());
  }
  in_place_site_ = in_place;
  return S_OK;
}

HRESULT Embedding::DeactivateInPlace() {
  if (!window_) return S_OK;
  DestroyWindow(window_);
  window_ = nullptr;
  ComPtr<IOleInPlaceSite> site = in_place_site_;
  in_place_site_ = ComPtr<IOleInPlaceSite>();
  if (site) site->OnInPlaceDeactivate();
  return S_OK;
}

void Embedding::Hide() {
  if (window_) ShowWindow(window_, SW_HIDE);
}

void Embedding::MoveWindow(const RECT& position) {
  if (!window_) return;
  RECT current{};
  GetClientRect(window_, &current);
  SetWindowPos(window_, nullptr, position.left, position.top, current.right, current.bottom,
               SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOSIZE);
}

IOleAdviseHolder& Embedding::AdviseHolder() {
  if (!advise_holder_) {
    const HRESULT hr = CreateOleAdviseHolder(advise_holder_.Receive());
    if (FAILED(hr)) throw ComFailure(hr);
  }
  return *advise_holder_.get();
}

void Embedding::Freeze(bool freeze) {
  if (freeze) {
    ++freeze_count_;
  } else if (freeze_count_ > 0) {
    --freeze_count_;
  }
}

// ---- IOleObject ------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE OleObjectFace::SetClientSite(IOleClientSite* site) {
  owner_.embedding().SetClientSite(site);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE OleObjectFace::GetClientSite(IOleClientSite** site) {
  if (!site) return E_POINTER;
  *site = owner_.embedding().client_site();
  if (*site) (*site)->AddRef();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE OleObjectFace::SetHostNames(LPCOLESTR, LPCOLESTR) { return S_OK; }

HRESULT STDMETHODCALLTYPE OleObjectFace::Close(DWORD /*save_option*/) {
  return Guard([&] {
    owner_.embedding().DeactivateInPlace();
    owner_.embedding().AdviseHolder().SendOnClose();
  });
}

HRESULT STDMETHODCALLTYPE OleObjectFace::SetMoniker(DWORD, IMoniker*) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE OleObjectFace::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
  if (moniker) *moniker = nullptr;
  return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE OleObjectFace::InitFromData(IDataObject*, BOOL, DWORD) {
  return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE OleObjectFace::GetClipboardData(DWORD, IDataObject** data) {
  if (data) *data = nullptr;
  return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE OleObjectFace::DoVerb(LONG verb, LPMSG, IOleClientSite* active_site, LONG,
                                                HWND, LPCRECT) {
  switch (verb) {
    case OLEIVERB_PRIMARY:
    case OLEIVERB_SHOW:
    case OLEIVERB_INPLACEACTIVATE:
    case OLEIVERB_UIACTIVATE:
      return owner_.embedding().ActivateInPlace(active_site);
    case OLEIVERB_HIDE:
      owner_.embedding().Hide();
      return S_OK;
    case OLEIVERB_PROPERTIES:
      // The control has no property pages; the container's property browser does it all.
      return OLEOBJ_S_CANNOT_DOVERB_NOW;
    default:
      return OLEOBJ_S_INVALIDVERB;
  }
}

HRESULT STDMETHODCALLTYPE OleObjectFace::EnumVerbs(IEnumOLEVERB** verbs) {
  if (!verbs) return E_POINTER;
  *verbs = nullptr;
  return OLEOBJ_E_NOVERBS;
}

HRESULT STDMETHODCALLTYPE OleObjectFace::Update() { return S_OK; }
HRESULT STDMETHODCALLTYPE OleObjectFace::IsUpToDate() { return S_OK; }

HRESULT STDMETHODCALLTYPE OleObjectFace::GetUserClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = CLSID_Tarvane;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE OleObjectFace::GetUserType(DWORD, LPOLESTR* type) {
  if (!type) return E_POINTER;
  const std::size_t bytes = (wcslen(kUserType) + 1) * sizeof(wchar_t);
  *type = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
  if (!*type) return E_OUTOFMEMORY;
  memcpy(*type, kUserType, bytes);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE OleObjectFace::SetExtent(DWORD aspect, SIZEL* size) {
  if (!size) return E_POINTER;
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  // The control answers every resize by taking its fixed size again; a fixed-size object
  // says E_FAIL to any other size, and the container asks GetExtent for the real one.
  const HRESULT hr = Guard(
      [&] { owner_.Control().Resize(HimetricToTwips(size->cx), HimetricToTwips(size->cy)); });
  if (FAILED(hr)) return hr;
  const SIZEL fixed = FixedExtentHimetric();
  return size->cx == fixed.cx && size->cy == fixed.cy ? S_OK : E_FAIL;
}

HRESULT STDMETHODCALLTYPE OleObjectFace::GetExtent(DWORD aspect, SIZEL* size) {
  if (!size) return E_POINTER;
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  *size = {TwipsToHimetric(owner_.Control().ExtentWidth()),
           TwipsToHimetric(owner_.Control().ExtentHeight())};
  return S_OK;
}

HRESULT STDMETHODCALLTYPE OleObjectFace::Advise(IAdviseSink* sink, DWORD* connection) {
  if (!sink || !connection) return E_POINTER;
  HRESULT hr = S_OK;
  const HRESULT guarded =
      Guard([&] { hr = owner_.embedding().AdviseHolder().Advise(sink, connection); });
  return FAILED(guarded) ? guarded : hr;
}

HRESULT STDMETHODCALLTYPE OleObjectFace::Unadvise(DWORD connection) {
  HRESULT hr = S_OK;
  const HRESULT guarded =
      Guard([&] { hr = owner_.embedding().AdviseHolder().Unadvise(connection); });
  return FAILED(guarded) ? guarded : hr;
}

HRESULT STDMETHODCALLTYPE OleObjectFace::EnumAdvise(IEnumSTATDATA** advise) {
  if (!advise) return E_POINTER;
  *advise = nullptr;
  HRESULT hr = S_OK;
  const HRESULT guarded = Guard([&] { hr = owner_.embedding().AdviseHolder().EnumAdvise(advise); });
  return FAILED(guarded) ? guarded : hr;
}

HRESULT STDMETHODCALLTYPE OleObjectFace::GetMiscStatus(DWORD, DWORD* status) {
  if (!status) return E_POINTER;
  *status = kMiscStatus;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE OleObjectFace::SetColorScheme(LOGPALETTE*) { return E_NOTIMPL; }

// ---- IOleInPlaceObject, IOleInPlaceActiveObject ------------------------------------------

HRESULT STDMETHODCALLTYPE InPlaceObjectFace::GetWindow(HWND* window) {
  if (!window) return E_POINTER;
  *window = owner_.embedding().window();
  return *window ? S_OK : E_FAIL;
}

HRESULT STDMETHODCALLTYPE InPlaceObjectFace::ContextSensitiveHelp(BOOL) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE InPlaceObjectFace::InPlaceDeactivate() {
  return owner_.embedding().DeactivateInPlace();
}

HRESULT STDMETHODCALLTYPE InPlaceObjectFace::UIDeactivate() { return S_OK; }

HRESULT STDMETHODCALLTYPE InPlaceObjectFace::SetObjectRects(LPCRECT position, LPCRECT) {
  if (!position) return E_POINTER;
  owner_.embedding().MoveWindow(*position);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE InPlaceObjectFace::ReactivateAndUndo() { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE InPlaceActiveFace::GetWindow(HWND* window) {
  if (!window) return E_POINTER;
  *window = owner_.embedding().window();
  return *window ? S_OK : E_FAIL;
}

HRESULT STDMETHODCALLTYPE InPlaceActiveFace::ContextSensitiveHelp(BOOL) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE InPlaceActiveFace::TranslateAccelerator(LPMSG) { return S_FALSE; }
HRESULT STDMETHODCALLTYPE InPlaceActiveFace::OnFrameWindowActivate(BOOL) { return S_OK; }
HRESULT STDMETHODCALLTYPE InPlaceActiveFace::OnDocWindowActivate(BOOL) { return S_OK; }
HRESULT STDMETHODCALLTYPE InPlaceActiveFace::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) {
  return S_OK;
}
HRESULT STDMETHODCALLTYPE InPlaceActiveFace::EnableModeless(BOOL) { return S_OK; }

// ---- IOleControl -----------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE OleControlFace::GetControlInfo(CONTROLINFO* info) {
  if (!info) return E_POINTER;
  info->hAccel = nullptr;
  info->cAccel = 0;
  info->dwFlags = 0;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE OleControlFace::OnMnemonic(MSG*) { return S_OK; }
HRESULT STDMETHODCALLTYPE OleControlFace::OnAmbientPropertyChange(DISPID) { return S_OK; }

HRESULT STDMETHODCALLTYPE OleControlFace::FreezeEvents(BOOL freeze) {
  owner_.embedding().Freeze(freeze != FALSE);
  return S_OK;
}

// ---- IViewObject2 ----------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE ViewObjectFace::Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC,
                                               HDC draw_dc, LPCRECTL bounds, LPCRECTL,
                                               BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) {
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  if (!draw_dc || !bounds) return E_INVALIDARG;
  DrawLogo(draw_dc, RECT{bounds->left, bounds->top, bounds->right, bounds->bottom});
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ViewObjectFace::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC,
                                                      LOGPALETTE** colors) {
  if (colors) *colors = nullptr;
  return S_FALSE;  // the logo needs no palette of its own
}

HRESULT STDMETHODCALLTYPE ViewObjectFace::Freeze(DWORD, LONG, void*, DWORD*) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE ViewObjectFace::Unfreeze(DWORD) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE ViewObjectFace::SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) {
  Embedding& embedding = owner_.embedding();
  embedding.view_sink = ComPtr<IAdviseSink>::Share(sink);
  embedding.view_aspects = aspects;
  embedding.view_flags = flags;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ViewObjectFace::GetAdvise(DWORD* aspects, DWORD* flags,
                                                    IAdviseSink** sink) {
  const Embedding& embedding = owner_.embedding();
  if (aspects) *aspects = embedding.view_aspects;
  if (flags) *flags = embedding.view_flags;
  if (sink) {
    *sink = embedding.view_sink.get();
    if (*sink) (*sink)->AddRef();
  }
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ViewObjectFace::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*,
                                                    LPSIZEL size) {
  if (!size) return E_POINTER;
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  *size = {TwipsToHimetric(owner_.Control().ExtentWidth()),
           TwipsToHimetric(owner_.Control().ExtentHeight())};
  return S_OK;
}

}  // namespace kestova::server
