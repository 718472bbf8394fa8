// A minimal OLE container, run under Wine with Xvfb: it embeds Kestova.ocx as a form does and
// checks in-place activation, the fixed extent, drawing, frozen events and the About box.


#include "com_objects.h"
#include "server/kestova_h.h"

namespace {

using namespace kestova::wintest;

Checks checks;
constexpr RECT kControlPosition = {20, 20, 200, 200};
constexpr UINT_PTR kAboutTimer = 7;
constexpr int kAboutVersionId = 101;

class Site : public SimpleObject<IOleClientSite, IOleInPlaceSite> {
 public:
  explicit Site(HWND window) : window_(window) {}
  void SetWindow(HWND window) { window_ = window; }
  int activations = 0;
  int deactivations = 0;

  HRESULT STDMETHODCALLTYPE SaveObject() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** out) override {
    *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE ShowObject() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override { *window = window_; return S_OK; }
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override { ++activations; return S_OK; }
  HRESULT STDMETHODCALLTYPE OnUIActivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame,
                                             IOleInPlaceUIWindow** document, LPRECT position,
                                             LPRECT clip, LPOLEINPLACEFRAMEINFO info) override {
    *frame = nullptr;
    *document = nullptr;
    *position = kControlPosition;
    GetClientRect(window_, clip);
    *info = {sizeof *info, FALSE, window_, nullptr, 0};
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override { ++deactivations; return S_OK; }
  HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT) override { return S_OK; }

 protected:
  void* Find(REFIID iid) override {
    if (IsEqualIID(iid, IID_IOleClientSite)) return static_cast<IOleClientSite*>(this);
    if (IsEqualIID(iid, IID_IOleInPlaceSite) || IsEqualIID(iid, IID_IOleWindow)) {
      return static_cast<IOleInPlaceSite*>(this);
    }
    return nullptr;
  }

 private:
  HWND window_;
};

struct AboutBoxSeen {
  HWND dialog = nullptr;
  HWND owner = nullptr;
  std::wstring version;
};
AboutBoxSeen about_seen;

BOOL CALLBACK FindDialog(HWND window, LPARAM found) {
  wchar_t name[16] = {};
  GetClassNameW(window, name, 16);
  if (std::wstring(name) == L"#32770" && IsWindowVisible(window)) {
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
  }
  return TRUE;
}

LRESULT CALLBACK ContainerProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_TIMER && wparam == kAboutTimer) {
    // Runs inside the About box's modal loop, on this thread: read it, then press OK.
    HWND dialog = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindDialog, reinterpret_cast<LPARAM>(&dialog));
    if (dialog) {
      KillTimer(window, kAboutTimer);
      wchar_t text[64] = {};
      GetDlgItemTextW(dialog, kAboutVersionId, text, 64);
      about_seen = {dialog, GetWindow(dialog, GW_OWNER), text};
      PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    }
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

// How many pixels of a device context differ from the white background.
int Painted(HDC source, int width, int height) {
  int painted = 0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const COLORREF pixel = GetPixel(source, x, y);
      if (pixel != CLR_INVALID && pixel != RGB(255, 255, 255)) ++painted;
    }
  }
  return painted;
}

// A fixed-size object refuses any other size with E_FAIL and keeps its own: 880 x 850
// twips, 1552 x 1499 in HIMETRIC.
void CheckExtent(IOleObject* object, IViewObject2* view) {
  const std::pair<SIZEL, HRESULT> asked[] = {
      {{100, 100}, E_FAIL}, {{5000, 5000}, E_FAIL}, {{1552, 1499}, S_OK}};
  for (auto [size, wanted] : asked) {
    const std::string what = "SetExtent " + std::to_string(size.cx) + " x " + std::to_string(size.cy);
    checks.That(object->SetExtent(DVASPECT_CONTENT, &size) == wanted, what + " answers " + Hex(wanted));
    SIZEL got{}, view_size{};
    object->GetExtent(DVASPECT_CONTENT, &got);
    view->GetExtent(DVASPECT_CONTENT, -1, nullptr, &view_size);
    checks.That(got.cx == 1552 && got.cy == 1499 && view_size.cx == 1552 && view_size.cy == 1499,
                "after " + what + " the extent is 1552 x 1499, got " + std::to_string(got.cx) +
                    " x " + std::to_string(got.cy));
  }
}

void CheckDrawing(IViewObject2* view) {
  constexpr int kSize = 64;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, kSize, kSize);
  ReleaseDC(nullptr, screen);
  HGDIOBJ previous = SelectObject(memory, bitmap);
  RECT all{0, 0, kSize, kSize};
  FillRect(memory, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  const RECTL bounds{0, 0, kSize, kSize};
  const auto draw = [&](DWORD aspect) {
    return view->Draw(aspect, -1, nullptr, nullptr, nullptr, memory, &bounds, nullptr, nullptr, 0);
  };
  checks.That(draw(DVASPECT_CONTENT) == S_OK, "IViewObject2::Draw succeeds");
  const int painted = Painted(memory, kSize, kSize);
  checks.That(painted > kSize * kSize / 2,
              "Draw painted the logo (" + std::to_string(painted) + " pixels)");
  checks.That(draw(DVASPECT_ICON) == DV_E_DVASPECT, "Draw refuses an aspect it does not have");
  SelectObject(memory, previous);
  DeleteObject(bitmap);
  DeleteDC(memory);
}

void CheckFrozenEvents(IDispatch* control) {
  const Held<EventSink> events(new EventSink(DIID___Tarvane, false));
  Connect(control, DIID___Tarvane, events.get());
  const auto ole_control = Hold<IOleControl>(control, IID_IOleControl);
  ole_control->FreezeEvents(TRUE);
  Outcome frozen;
  Call(control, frozen, L"ReadD", Args().I2(0).I2(1), DISPATCH_METHOD);
  checks.That(frozen.result.vt == VT_I2 && frozen.result.iVal == 1 && events->received.empty(),
              "ReadD on a closed port is 1 while frozen, and no MelsecOut is raised");
  ole_control->FreezeEvents(FALSE);
  Outcome thawed;
  Call(control, thawed, L"ReadD", Args().I2(0).I2(1), DISPATCH_METHOD);
  checks.That(events->received.size() == 1 && events->received[0] == L"Port not Open",
              "MelsecOut arrives again after thawing");
}

void CheckAboutBox(IDispatch* control, HWND container, Site* site) {
  for (int round = 1; round <= 2; ++round) {
    about_seen = {};
    SetTimer(container, kAboutTimer, 50, nullptr);
    Outcome out;
    Call(control, out, L"ShowAboutBox", Args(), DISPATCH_METHOD);
    const std::string what = "About box, round " + std::to_string(round);
    checks.That(out.hr == S_OK && about_seen.version == L"Version " KESTOVA_VERSION_TEXT_W,
                what + ": returns after showing \"" + Narrow(about_seen.version) + "\"");
    checks.That(about_seen.owner == container && about_seen.dialog && !IsWindow(about_seen.dialog),
                what + ": owned by the container's window, destroyed when closed");
  }
  // An owner window that is gone: the box cannot be shown, and the call says so. (The
  // timer would close a box that showed all the same.)
  HWND gone = CreateWindowExW(0, L"Static", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr,
                              nullptr);
  DestroyWindow(gone);
  site->SetWindow(gone);
  SetTimer(container, kAboutTimer, 50, nullptr);
  Outcome out;
  Call(control, out, L"ShowAboutBox", Args(), DISPATCH_METHOD);
  KillTimer(container, kAboutTimer);
  site->SetWindow(container);
  checks.That(FAILED(out.hr), "About box without its owner window fails: " + Hex(out.hr));
}

}  // namespace

int wmain() {
  if (FAILED(OleInitialize(nullptr))) return 2;

  const WNDCLASSW window_class{0, ContainerProc, 0, 0, GetModuleHandleW(nullptr), nullptr, nullptr,
                               static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)), nullptr,
                               L"KestovaTestContainer"};
  RegisterClassW(&window_class);
  HWND container = CreateWindowExW(0, window_class.lpszClassName, L"Kestova container test",
                                   WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 320, 240, nullptr,
                                   nullptr, window_class.hInstance, nullptr);

  IOleObject* object = nullptr;
  if (!checks.That(SUCCEEDED(CoCreateInstance(CLSID_Tarvane, nullptr, CLSCTX_INPROC_SERVER,
                                              IID_IOleObject, Out(&object))),
                   "the control is created as an OLE object")) {
    return checks.Finish("");
  }
  DWORD status = 0;
  object->GetMiscStatus(DVASPECT_CONTENT, &status);
  const DWORD wanted = OLEMISC_SETCLIENTSITEFIRST | OLEMISC_ACTIVATEWHENVISIBLE |
                       OLEMISC_INSIDEOUT | OLEMISC_CANTLINKINSIDE | OLEMISC_RECOMPOSEONRESIZE;
  checks.That((status & wanted) == wanted, "misc status of a small control");

  Site* site = new Site(container);
  checks.That(object->SetClientSite(site) == S_OK, "SetClientSite");
  checks.That(Hold<IPersistStreamInit>(object, IID_IPersistStreamInit)->InitNew() == S_OK,
              "InitNew");

  RECT position = kControlPosition;
  checks.That(object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site, 0, container, &position) ==
                      S_OK && site->activations == 1,
              "in-place activation, and the site heard OnInPlaceActivate");
  IOleInPlaceObject* in_place = Query<IOleInPlaceObject>(object, IID_IOleInPlaceObject);
  HWND control_window = nullptr;
  checks.That(in_place && in_place->GetWindow(&control_window) == S_OK && control_window &&
                  GetParent(control_window) == container,
              "the control has a child window in the container");
  checks.That(object->DoVerb(OLEIVERB_PROPERTIES, nullptr, site, 0, container, &position) ==
                  OLEOBJ_S_CANNOT_DOVERB_NOW,
              "the properties verb is declined politely");

  IViewObject2* view = Query<IViewObject2>(object, IID_IViewObject2);
  CheckExtent(object, view);
  CheckDrawing(view);

  UpdateWindow(container);
  UpdateWindow(control_window);
  HDC control_dc = GetDC(control_window);
  RECT control_rect{};
  GetClientRect(control_window, &control_rect);
  const int painted = Painted(control_dc, control_rect.right, control_rect.bottom);
  ReleaseDC(control_window, control_dc);
  checks.That(painted > 0, "the control's window shows the logo");

  IDispatch* control = Query<IDispatch>(object, IID_IDispatch);
  CheckFrozenEvents(control);
  CheckAboutBox(control, container, site);

  checks.That(object->Close(OLECLOSE_NOSAVE) == S_OK && site->deactivations == 1,
              "Close, and the site heard OnInPlaceDeactivate");
  object->SetClientSite(nullptr);
  control->Release();
  view->Release();
  if (in_place) in_place->Release();
  object->Release();
  site->Release();
  DestroyWindow(container);
  OleUninitialize();
  return checks.Finish("KESTOVA CONTAINER OK");
}
