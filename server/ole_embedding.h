#pragma once
// What a form or dialog container needs to embed the control: IOleObject (site, verbs,
// the fixed extent), in-place activation with a small child window showing the logo,
// IOleControl (frozen events), and IViewObject2 (drawing into the container's DC).

#include <windows.h>
#include <ocidl.h>
#include <oleidl.h>
#include <olectl.h>

#include <cstdint>

#include "server/com_ptr.h"
#include "server/face.h"

namespace kestova::server {

// The fixed extent in HIMETRIC (0.01 mm), from 880 x 850 twips (1 twip = 1/1440 inch).
SIZEL FixedExtentHimetric();
std::int32_t HimetricToTwips(LONG himetric);

// Paints the logo bitmap scaled into bounds.
void DrawLogo(HDC dc, const RECT& bounds);

// The container side of one control: its site, its in-place window, its view sink.
class Embedding {
 public:
  Embedding() = default;
  ~Embedding();
  Embedding(const Embedding&) = delete;
  Embedding& operator=(const Embedding&) = delete;

  // The container's window for dialogs the control shows; null without a container.
  HWND OwnerWindow() const;
  bool EventsFrozen() const { return freeze_count_ > 0; }

  void SetClientSite(IOleClientSite* site);
  IOleClientSite* client_site() const { return client_site_.get(); }
  HRESULT ActivateInPlace(IOleClientSite* active_site);
  HRESULT DeactivateInPlace();
  void Hide();
  void MoveWindow(const RECT& position);
  HWND window() const { return window_; }
  IOleAdviseHolder& AdviseHolder();
  void Freeze(bool freeze);

  ComPtr<IAdviseSink> view_sink;
  DWORD view_aspects = 0;
  DWORD view_flags = 0;

 private:
  ComPtr<IOleClientSite> client_site_;
  ComPtr<IOleInPlaceSite> in_place_site_;
  ComPtr<IOleAdviseHolder> advise_holder_;
  HWND window_ = nullptr;
  int freeze_count_ = 0;
};

class OleObjectFace : public Face<IOleObject> {
 public:
  using Face::Face;
  HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite* site) override;
  HRESULT STDMETHODCALLTYPE GetClientSite(IOleClientSite** site) override;
  HRESULT STDMETHODCALLTYPE SetHostNames(LPCOLESTR app, LPCOLESTR object) override;
  HRESULT STDMETHODCALLTYPE Close(DWORD save_option) override;
  HRESULT STDMETHODCALLTYPE SetMoniker(DWORD which, IMoniker* moniker) override;
  HRESULT STDMETHODCALLTYPE GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) override;
  HRESULT STDMETHODCALLTYPE InitFromData(IDataObject* data, BOOL creation, DWORD reserved) override;
  HRESULT STDMETHODCALLTYPE GetClipboardData(DWORD reserved, IDataObject** data) override;
  HRESULT STDMETHODCALLTYPE DoVerb(LONG verb, LPMSG message, IOleClientSite* active_site,
                                   LONG index, HWND parent, LPCRECT position) override;
  HRESULT STDMETHODCALLTYPE EnumVerbs(IEnumOLEVERB** verbs) override;
  HRESULT STDMETHODCALLTYPE Update() override;
  HRESULT STDMETHODCALLTYPE IsUpToDate() override;
  HRESULT STDMETHODCALLTYPE GetUserClassID(CLSID* clsid) override;
  HRESULT STDMETHODCALLTYPE GetUserType(DWORD form, LPOLESTR* type) override;
  HRESULT STDMETHODCALLTYPE SetExtent(DWORD aspect, SIZEL* size) override;
  HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, SIZEL* size) override;
  HRESULT STDMETHODCALLTYPE Advise(IAdviseSink* sink, DWORD* connection) override;
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD connection) override;
  HRESULT STDMETHODCALLTYPE EnumAdvise(IEnumSTATDATA** advise) override;
  HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD aspect, DWORD* status) override;
  HRESULT STDMETHODCALLTYPE SetColorScheme(LOGPALETTE* palette) override;
};

class InPlaceObjectFace : public Face<IOleInPlaceObject> {
 public:
  using Face::Face;
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override;
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL enter) override;
  HRESULT STDMETHODCALLTYPE InPlaceDeactivate() override;
  HRESULT STDMETHODCALLTYPE UIDeactivate() override;
  HRESULT STDMETHODCALLTYPE SetObjectRects(LPCRECT position, LPCRECT clip) override;
  HRESULT STDMETHODCALLTYPE ReactivateAndUndo() override;
};

class InPlaceActiveFace : public Face<IOleInPlaceActiveObject> {
 public:
  using Face::Face;
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override;
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL enter) override;
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG message) override;
  HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(BOOL activate) override;
  HRESULT STDMETHODCALLTYPE OnDocWindowActivate(BOOL activate) override;
  HRESULT STDMETHODCALLTYPE ResizeBorder(LPCRECT border, IOleInPlaceUIWindow* window,
                                         BOOL frame) override;
  HRESULT STDMETHODCALLTYPE EnableModeless(BOOL enable) override;
};

class OleControlFace : public Face<IOleControl> {
 public:
  using Face::Face;
  HRESULT STDMETHODCALLTYPE GetControlInfo(CONTROLINFO* info) override;
  HRESULT STDMETHODCALLTYPE OnMnemonic(MSG* message) override;
  HRESULT STDMETHODCALLTYPE OnAmbientPropertyChange(DISPID id) override;
  HRESULT STDMETHODCALLTYPE FreezeEvents(BOOL freeze) override;
};

class ViewObjectFace : public Face<IViewObject2> {
 public:
  using Face::Face;
  HRESULT STDMETHODCALLTYPE Draw(DWORD aspect, LONG index, void* aspect_info,
                                 DVTARGETDEVICE* target, HDC target_dc, HDC draw_dc,
                                 LPCRECTL bounds, LPCRECTL window_bounds,
                                 BOOL(STDMETHODCALLTYPE* keep_going)(ULONG_PTR),
                                 ULONG_PTR keep_going_argument) override;
  HRESULT STDMETHODCALLTYPE GetColorSet(DWORD aspect, LONG index, void* aspect_info,
                                        DVTARGETDEVICE* target, HDC target_dc,
                                        LOGPALETTE** colors) override;
  HRESULT STDMETHODCALLTYPE Freeze(DWORD aspect, LONG index, void* aspect_info,
                                   DWORD* freeze) override;
  HRESULT STDMETHODCALLTYPE Unfreeze(DWORD freeze) override;
  HRESULT STDMETHODCALLTYPE SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) override;
  HRESULT STDMETHODCALLTYPE GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) override;
  HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, LONG index, DVTARGETDEVICE* target,
                                      LPSIZEL size) override;
};

}  // namespace kestova::server
