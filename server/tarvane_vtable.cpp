// The early-bound face of _Tarvane: compiled clients (VB6, C++, .NET interop) call these
// vtable methods with exactly the declared types. Each runs inside Guard, so errors come
// back as 0x800A0000 + the automation error number with error info set.

#include "server/com_error.h"
#include "server/tarvane_object.h"
#include "server/text.h"
#include "server/variant_bridge.h"

namespace kestova::server {
namespace {

// Out-parameters are checked and cleared before anything runs.
template <class Out, class Body>
HRESULT Produce(TarvaneObject& object, Out* out, Body&& body) {
  if (!out) return E_POINTER;
  *out = Out{};
  const KeepAlive alive(object);
  return Guard([&] { *out = body(); });
}

template <class Body>
HRESULT Run(TarvaneObject& object, Body&& body) {
  const KeepAlive alive(object);
  return Guard(std::forward<Body>(body));
}

std::int16_t OptionalMode(const short* mode) { return mode ? *mode : std::int16_t{1}; }

}  // namespace

// ---- configuration properties ----------------------------------------------------------
HRESULT STDMETHODCALLTYPE DispatchFace::get_Enabled(VARIANT_BOOL* value) {
  return Produce(owner_, value, [&] {
    Tarvane& c = owner_.Control();
    return ToVariantBool(c.Enabled());
  });
}
HRESULT STDMETHODCALLTYPE DispatchFace::put_Enabled(VARIANT_BOOL value) {
  return Run(owner_, [&] {
    Tarvane& c = owner_.Control();
    c.SetEnabled(value != VARIANT_FALSE);
  });
}
HRESULT STDMETHODCALLTYPE DispatchFace::get_CommPort(short* value) {
  return Produce(owner_, value, [&] {
    Tarvane& c = owner_.Control();
    return c.CommPort();
  });
}
HRESULT STDMETHODCALLTYPE DispatchFace::put_CommPort(short value) {
  return Run(owner_, [&] {
    Tarvane& c = owner_.Control();
    c.SetCommPort(value);
  });
}
HRESULT STDMETHODCALLTYPE DispatchFace::get_Settings(BSTR* value) {
  return Produce(owner_, value, [&] {
    Tarvane& c = owner_.Control();
    return AllocBstr(c.Settings());
  });
}
HRESULT STDMETHODCALLTYPE DispatchFace::put_Settings(BSTR value) {
  return Run(owner_, [&] {
    Tarvane& c = owner_.Control();
    c.SetSettings(NarrowBstr(value));
  });
}
HRESULT STDMETHODCALLTYPE DispatchFace::get_Handshaking(KestovaHandshaking* value) {
  return Produce(owner_, value, [&] {
    Tarvane& c = owner_.Control();
    return static_cast<KestovaHandshaking>(c.Handshaking());
  });
}
HRESULT STDMETHODCALLTYPE DispatchFace::put_Handshaking(KestovaHandshaking value) {
  return Run(owner_, [&] {
    Tarvane& c = owner_.Control();
    c.SetHandshaking(static_cast<std::int32_t>(value));
  });
}
HRESULT STDMETHODCALLTYPE DispatchFace::get_Timeout(short* value) {
  return Produce(owner_, value, [&] {
    Tarvane& c = owner_.Control();
    return c.Timeout();
  });
}
HRESULT STDMETHODCALLTYPE DispatchFace::put_Timeout(short value) {
  return Run(owner_, [&] {
    Tarvane& c = owner_.Control();
    c.SetTimeout(value);
  });
}
HRESULT STDMETHODCALLTYPE DispatchFace::get_StationNo(short* value) {
  return Produce(owner_, value, [&] {
    Tarvane& c = owner_.Control();
    return c.StationNo();
  });
}
HRESULT STDMETHODCALLTYPE DispatchFace::put_StationNo(short value) {
  return Run(owner_, [&] {
    Tarvane& c = owner_.Control();
    c.SetStationNo(value);
  });
}
HRESULT STDMETHODCALLTYPE DispatchFace::get_NetworkNo(short* value) {
  return Produce(owner_, value, [&] {
    Tarvane& c = owner_.Control();
    return c.NetworkNo();
  });
}
HRESULT STDMETHODCALLTYPE DispatchFace::put_NetworkNo(short value) {
  return Run(owner_, [&] {
    Tarvane& c = owner_.Control();
    c.SetNetworkNo(value);
  });
}
HRESULT STDMETHODCALLTYPE DispatchFace::get_PCNumber(short* value) {
  return Produce(owner_, value, [&] {
    Tarvane& c = owner_.Control();
    return c.PCNumber();
  });
}
HRESULT STDMETHODCALLTYPE DispatchFace::put_PCNumber(short value) {
  return Run(owner_, [&] {
    Tarvane& c = owner_.Control();
    c.SetPCNumber(value);
  });
}
HRESULT STDMETHODCALLTYPE DispatchFace::get_RqstDestMdIO(LONG* value) {
  return Produce(owner_, value, [&] {
    Tarvane& c = owner_.Control();
    return static_cast<LONG>(c.RqstDestMdIO());
  });
}
HRESULT STDMETHODCALLTYPE DispatchFace::put_RqstDestMdIO(LONG value) {
  return Run(owner_, [&] {
    Tarvane& c = owner_.Control();
    c.SetRqstDestMdIO(static_cast<std::int32_t>(value));
  });
}
HRESULT STDMETHODCALLTYPE DispatchFace::get_RqstDestMdSta(short* value) {
  return Produce(owner_, value, [&] {
    Tarvane& c = owner_.Control();
    return c.RqstDestMdSta();
  });
}
HRESULT STDMETHODCALLTYPE DispatchFace::put_RqstDestMdSta(short value) {
  return Run(owner_, [&] {
    Tarvane& c = owner_.Control();
    c.SetRqstDestMdSta(value);
  });
}
HRESULT STDMETHODCALLTYPE DispatchFace::get_PLCType(::MELSECPLCType* value) {
  return Produce(owner_, value, [&] {
    Tarvane& c = owner_.Control();
    return static_cast<::MELSECPLCType>(c.PLCType());
  });
}
HRESULT STDMETHODCALLTYPE DispatchFace::put_PLCType(::MELSECPLCType value) {
  return Run(owner_, [&] {
    Tarvane& c = owner_.Control();
    c.SetPLCType(static_cast<kestova::MELSECPLCType>(value));
  });
}
HRESULT STDMETHODCALLTYPE DispatchFace::get_SumCheck(VARIANT_BOOL* value) {
  return Produce(owner_, value, [&] {
    Tarvane& c = owner_.Control();
    return ToVariantBool(c.SumCheck());
  });
}
HRESULT STDMETHODCALLTYPE DispatchFace::put_SumCheck(VARIANT_BOOL value) {
  return Run(owner_, [&] {
    Tarvane& c = owner_.Control();
    c.SetSumCheck(value != VARIANT_FALSE);
  });
}
HRESULT STDMETHODCALLTYPE DispatchFace::get_PortOpen(VARIANT_BOOL* value) {
  return Produce(owner_, value, [&] {
    Tarvane& c = owner_.Control();
    return ToVariantBool(c.PortOpen());
  });
}
HRESULT STDMETHODCALLTYPE DispatchFace::put_PortOpen(VARIANT_BOOL value) {
  return Run(owner_, [&] {
    Tarvane& c = owner_.Control();
    c.SetPortOpen(value != VARIANT_FALSE);
  });
}
// ---- device image ---------------------------------------------------------------------
HRESULT STDMETHODCALLTYPE DispatchFace::get_PLCX(short* index, VARIANT_BOOL* value) {
  if (!index) return E_POINTER;
  return Produce(owner_, value, [&] { return ToVariantBool(owner_.Control().PLCX(*index)); });
}
HRESULT STDMETHODCALLTYPE DispatchFace::get_PLCY(short* index, VARIANT_BOOL* value) {
  if (!index) return E_POINTER;
  return Produce(owner_, value, [&] { return ToVariantBool(owner_.Control().PLCY(*index)); });
}
HRESULT STDMETHODCALLTYPE DispatchFace::get_PLCM(short* index, VARIANT_BOOL* value) {
  if (!index) return E_POINTER;
  return Produce(owner_, value, [&] { return ToVariantBool(owner_.Control().PLCM(*index)); });
}
HRESULT STDMETHODCALLTYPE DispatchFace::get_PLCB(short* index, VARIANT_BOOL* value) {
  if (!index) return E_POINTER;
  return Produce(owner_, value, [&] { return ToVariantBool(owner_.Control().PLCB(*index)); });
}
HRESULT STDMETHODCALLTYPE DispatchFace::get_PLCD(short* index, short* value) {
  if (!index) return E_POINTER;
  return Produce(owner_, value, [&] { return owner_.Control().PLCD(*index); });
}
HRESULT STDMETHODCALLTYPE DispatchFace::get_PLCW(short* index, short* value) {
  if (!index) return E_POINTER;
  return Produce(owner_, value, [&] { return owner_.Control().PLCW(*index); });
}
HRESULT STDMETHODCALLTYPE DispatchFace::get_PLCZR(short* index, short* value) {
  if (!index) return E_POINTER;
  return Produce(owner_, value, [&] { return owner_.Control().PLCZR(*index); });
}
HRESULT STDMETHODCALLTYPE DispatchFace::get_PLCSM(short* index, VARIANT_BOOL* value) {
  if (!index) return E_POINTER;
  return Produce(owner_, value, [&] { return ToVariantBool(owner_.Control().PLCSM(*index)); });
}
HRESULT STDMETHODCALLTYPE DispatchFace::get_PLCSD(short* index, short* value) {
  if (!index) return E_POINTER;
  return Produce(owner_, value, [&] { return owner_.Control().PLCSD(*index); });
}
HRESULT STDMETHODCALLTYPE DispatchFace::get_PLCSB(short* index, VARIANT_BOOL* value) {
  if (!index) return E_POINTER;
  return Produce(owner_, value, [&] { return ToVariantBool(owner_.Control().PLCSB(*index)); });
}
HRESULT STDMETHODCALLTYPE DispatchFace::get_PLCSW(short* index, short* value) {
  if (!index) return E_POINTER;
  return Produce(owner_, value, [&] { return owner_.Control().PLCSW(*index); });
}
HRESULT STDMETHODCALLTYPE DispatchFace::get_PLCL(short* index, VARIANT_BOOL* value) {
  if (!index) return E_POINTER;
  return Produce(owner_, value, [&] { return ToVariantBool(owner_.Control().PLCL(*index)); });
}
HRESULT STDMETHODCALLTYPE DispatchFace::get_PLCF(short* index, VARIANT_BOOL* value) {
  if (!index) return E_POINTER;
  return Produce(owner_, value, [&] { return ToVariantBool(owner_.Control().PLCF(*index)); });
}
HRESULT STDMETHODCALLTYPE DispatchFace::get_PLCS(short* index, VARIANT_BOOL* value) {
  if (!index) return E_POINTER;
  return Produce(owner_, value, [&] { return ToVariantBool(owner_.Control().PLCS(*index)); });
}
// ---- operations -----------------------------------------------------------------------
HRESULT STDMETHODCALLTYPE DispatchFace::ReadX(LONG* start, short* points, short* result) {
  if (!start || !points) return E_POINTER;
  return Produce(owner_, result, [&] { return owner_.Control().ReadX(*start, *points); });
}
HRESULT STDMETHODCALLTYPE DispatchFace::ReadY(LONG* start, short* points, short* result) {
  if (!start || !points) return E_POINTER;
  return Produce(owner_, result, [&] { return owner_.Control().ReadY(*start, *points); });
}
HRESULT STDMETHODCALLTYPE DispatchFace::ReadB(LONG* start, short* points, short* result) {
  if (!start || !points) return E_POINTER;
  return Produce(owner_, result, [&] { return owner_.Control().ReadB(*start, *points); });
}
HRESULT STDMETHODCALLTYPE DispatchFace::ReadSB(LONG* start, short* points, short* result) {
  if (!start || !points) return E_POINTER;
  return Produce(owner_, result, [&] { return owner_.Control().ReadSB(*start, *points); });
}
HRESULT STDMETHODCALLTYPE DispatchFace::ReadSM(LONG* start, short* points, short* result) {
  if (!start || !points) return E_POINTER;
  return Produce(owner_, result, [&] { return owner_.Control().ReadSM(*start, *points); });
}
HRESULT STDMETHODCALLTYPE DispatchFace::ReadL(LONG* start, short* points, short* result) {
  if (!start || !points) return E_POINTER;
  return Produce(owner_, result, [&] { return owner_.Control().ReadL(*start, *points); });
}
HRESULT STDMETHODCALLTYPE DispatchFace::ReadF(LONG* start, short* points, short* result) {
  if (!start || !points) return E_POINTER;
  return Produce(owner_, result, [&] { return owner_.Control().ReadF(*start, *points); });
}
HRESULT STDMETHODCALLTYPE DispatchFace::ReadS(LONG* start, short* points, short* result) {
  if (!start || !points) return E_POINTER;
  return Produce(owner_, result, [&] { return owner_.Control().ReadS(*start, *points); });
}
HRESULT STDMETHODCALLTYPE DispatchFace::ReadD(LONG* start, short* points, short* result) {
  if (!start || !points) return E_POINTER;
  return Produce(owner_, result, [&] { return owner_.Control().ReadD(*start, *points); });
}
HRESULT STDMETHODCALLTYPE DispatchFace::ReadSD(LONG* start, short* points, short* result) {
  if (!start || !points) return E_POINTER;
  return Produce(owner_, result, [&] { return owner_.Control().ReadSD(*start, *points); });
}
HRESULT STDMETHODCALLTYPE DispatchFace::ReadW(LONG* start, short* points, short* result) {
  if (!start || !points) return E_POINTER;
  return Produce(owner_, result, [&] { return owner_.Control().ReadW(*start, *points); });
}
HRESULT STDMETHODCALLTYPE DispatchFace::ReadSW(LONG* start, short* points, short* result) {
  if (!start || !points) return E_POINTER;
  return Produce(owner_, result, [&] { return owner_.Control().ReadSW(*start, *points); });
}
HRESULT STDMETHODCALLTYPE DispatchFace::ReadZR(LONG* start, short* points, short* result) {
  if (!start || !points) return E_POINTER;
  return Produce(owner_, result, [&] { return owner_.Control().ReadZR(*start, *points); });
}
HRESULT STDMETHODCALLTYPE DispatchFace::ReadM(LONG* start, short* points, VARIANT* result) {
  if (!start || !points || !result) return E_POINTER;
  VariantInit(result);
  return Run(owner_, [&] { CoreToComVariant(owner_.Control().ReadM(*start, *points), result); });
}
HRESULT STDMETHODCALLTYPE DispatchFace::SetM(LONG* address, short* result) {
  if (!address) return E_POINTER;
  return Produce(owner_, result, [&] { return owner_.Control().SetM(*address); });
}
HRESULT STDMETHODCALLTYPE DispatchFace::SetY(LONG* address, short* result) {
  if (!address) return E_POINTER;
  return Produce(owner_, result, [&] { return owner_.Control().SetY(*address); });
}
HRESULT STDMETHODCALLTYPE DispatchFace::SetB(LONG* address, short* result) {
  if (!address) return E_POINTER;
  return Produce(owner_, result, [&] { return owner_.Control().SetB(*address); });
}
HRESULT STDMETHODCALLTYPE DispatchFace::SetL(LONG* address, short* result) {
  if (!address) return E_POINTER;
  return Produce(owner_, result, [&] { return owner_.Control().SetL(*address); });
}
HRESULT STDMETHODCALLTYPE DispatchFace::SetF(LONG* address, short* result) {
  if (!address) return E_POINTER;
  return Produce(owner_, result, [&] { return owner_.Control().SetF(*address); });
}
HRESULT STDMETHODCALLTYPE DispatchFace::SetS(LONG* address, short* result) {
  if (!address) return E_POINTER;
  return Produce(owner_, result, [&] { return owner_.Control().SetS(*address); });
}
HRESULT STDMETHODCALLTYPE DispatchFace::ResetY(LONG* address, short* result) {
  if (!address) return E_POINTER;
  return Produce(owner_, result, [&] { return owner_.Control().ResetY(*address); });
}
HRESULT STDMETHODCALLTYPE DispatchFace::ResetM(LONG* address, short* result) {
  if (!address) return E_POINTER;
  return Produce(owner_, result, [&] { return owner_.Control().ResetM(*address); });
}
HRESULT STDMETHODCALLTYPE DispatchFace::ResetB(LONG* address, short* result) {
  if (!address) return E_POINTER;
  return Produce(owner_, result, [&] { return owner_.Control().ResetB(*address); });
}
HRESULT STDMETHODCALLTYPE DispatchFace::ResetL(LONG* address, short* result) {
  if (!address) return E_POINTER;
  return Produce(owner_, result, [&] { return owner_.Control().ResetL(*address); });
}
HRESULT STDMETHODCALLTYPE DispatchFace::ResetF(LONG* address, short* result) {
  if (!address) return E_POINTER;
  return Produce(owner_, result, [&] { return owner_.Control().ResetF(*address); });
}
HRESULT STDMETHODCALLTYPE DispatchFace::ResetS(LONG* address, short* result) {
  if (!address) return E_POINTER;
  return Produce(owner_, result, [&] { return owner_.Control().ResetS(*address); });
}
HRESULT STDMETHODCALLTYPE DispatchFace::WriteD(LONG* address, short* value, short* result) {
  if (!address || !value) return E_POINTER;
  return Produce(owner_, result, [&] { return owner_.Control().WriteD(*address, *value); });
}
HRESULT STDMETHODCALLTYPE DispatchFace::WriteW(LONG* address, short* value, short* result) {
  if (!address || !value) return E_POINTER;
  return Produce(owner_, result, [&] { return owner_.Control().WriteW(*address, *value); });
}
HRESULT STDMETHODCALLTYPE DispatchFace::WriteZR(LONG* address, short* value, short* result) {
  if (!address || !value) return E_POINTER;
  return Produce(owner_, result, [&] { return owner_.Control().WriteZR(*address, *value); });
}
HRESULT STDMETHODCALLTYPE DispatchFace::WriteBlock(BSTR* device, short* points, SAFEARRAY** data,
                                                   short* result) {
  if (!device || !points || !data) return E_POINTER;
  return Produce(owner_, result, [&] {
    const IntegerArrayArgument array(*data);
    return owner_.Control().WriteBlock(NarrowBstr(*device), *points, array.View());
  });
}

// An omitted optional argument arrives as a null pointer from some callers: it is 1.
HRESULT STDMETHODCALLTYPE DispatchFace::RemoteStop(short* mode, short* result) {
  return Produce(owner_, result, [&] { return owner_.Control().RemoteStop(OptionalMode(mode)); });
}

HRESULT STDMETHODCALLTYPE DispatchFace::RemoteReset(short* mode, short* result) {
  return Produce(owner_, result, [&] { return owner_.Control().RemoteReset(OptionalMode(mode)); });
}

HRESULT STDMETHODCALLTYPE DispatchFace::RemoteRun(short* mode, short* clear_mode, short* result) {
  return Produce(owner_, result, [&] {
    return owner_.Control().RemoteRun(OptionalMode(mode), OptionalMode(clear_mode));
  });
}

HRESULT STDMETHODCALLTYPE DispatchFace::ShowAboutBox() {
  return Run(owner_, [&] { owner_.Control().ShowAboutBox(); });
}

}  // namespace kestova::server
