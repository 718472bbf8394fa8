// The late-bound face of _Tarvane. Invoke does its own argument conversion instead of
// handing the call to ITypeInfo::Invoke: script clients pass every ByRef argument as a
// reference to a VARIANT and arrays as arrays of VARIANT, which the standard type-info
// Invoke refuses for a short* parameter. Names and type information still come from the
// type library in the module's own file.

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "server/com_error.h"
#include "server/dispatch_arguments.h"
#include "server/member_ids.h"
#include "server/tarvane_object.h"
#include "server/text.h"
#include "server/variant_bridge.h"

namespace kestova::server {
namespace {

using BooleanGetter = bool (Tarvane::*)(std::int32_t) const;
using IntegerGetter = std::int16_t (Tarvane::*)(std::int32_t) const;
using BatchRead = std::int16_t (Tarvane::*)(std::int32_t, std::int16_t);
using BitWrite = std::int16_t (Tarvane::*)(std::int32_t);
using WordWrite = std::int16_t (Tarvane::*)(std::int32_t, std::int16_t);

template <class Operation>
struct Member {
  DISPID id;
  Operation operation;
};

constexpr std::array<Member<BooleanGetter>, 9> kBooleanGetters = {{
    {PropertyId(0x10), &Tarvane::PLCX},
    {PropertyId(0x0F), &Tarvane::PLCY},
    {PropertyId(0x0E), &Tarvane::PLCM},
    {PropertyId(0x0D), &Tarvane::PLCB},
    {PropertyId(0x06), &Tarvane::PLCSM},
    {PropertyId(0x04), &Tarvane::PLCSB},
    {PropertyId(0x02), &Tarvane::PLCL},
    {PropertyId(0x01), &Tarvane::PLCF},
    {PropertyId(0x00), &Tarvane::PLCS},
}};

constexpr std::array<Member<IntegerGetter>, 5> kIntegerGetters = {{
    {PropertyId(0x0C), &Tarvane::PLCD},
    {PropertyId(0x0B), &Tarvane::PLCW},
    {PropertyId(0x0A), &Tarvane::PLCZR},
    {PropertyId(0x05), &Tarvane::PLCSD},
    {PropertyId(0x03), &Tarvane::PLCSW},
}};

constexpr std::array<Member<BatchRead>, 13> kBatchReads = {{
    {MethodId(0x1B), &Tarvane::ReadX},
    {MethodId(0x1C), &Tarvane::ReadY},
    {MethodId(0x1D), &Tarvane::ReadB},
    {MethodId(0x1E), &Tarvane::ReadSB},
    {MethodId(0x1F), &Tarvane::ReadSM},
    {MethodId(0x20), &Tarvane::ReadL},
    {MethodId(0x21), &Tarvane::ReadF},
    {MethodId(0x22), &Tarvane::ReadS},
    {MethodId(0x23), &Tarvane::ReadD},
    {MethodId(0x24), &Tarvane::ReadSD},
    {MethodId(0x25), &Tarvane::ReadW},
    {MethodId(0x26), &Tarvane::ReadSW},
    {MethodId(0x27), &Tarvane::ReadZR},
}};

constexpr std::array<Member<BitWrite>, 12> kBitWrites = {{
    {MethodId(0x28), &Tarvane::SetM},
    {MethodId(0x29), &Tarvane::SetY},
    {MethodId(0x2A), &Tarvane::SetB},
    {MethodId(0x2B), &Tarvane::SetL},
    {MethodId(0x2C), &Tarvane::SetF},
    {MethodId(0x2D), &Tarvane::SetS},
    {MethodId(0x2E), &Tarvane::ResetY},
    {MethodId(0x2F), &Tarvane::ResetM},
    {MethodId(0x30), &Tarvane::ResetB},
    {MethodId(0x31), &Tarvane::ResetL},
    {MethodId(0x32), &Tarvane::ResetF},
    {MethodId(0x33), &Tarvane::ResetS},
}};

constexpr std::array<Member<WordWrite>, 3> kWordWrites = {{
    {MethodId(0x34), &Tarvane::WriteD},
    {MethodId(0x35), &Tarvane::WriteW},
    {MethodId(0x36), &Tarvane::WriteZR},
}};

template <class Operation, std::size_t N>
const Operation* Find(const std::array<Member<Operation>, N>& members, DISPID id) {
  for (const Member<Operation>& member : members) {
    if (member.id == id) return &member.operation;
  }
  return nullptr;
}

// Where the result goes; a caller that passes no result VARIANT does not want it.
class Result {
 public:
  explicit Result(VARIANT* out) : out_(out) {
    if (out_) VariantInit(out_);
  }
  void Boolean(bool value) {
    if (!out_) return;
    out_->vt = VT_BOOL;
    out_->boolVal = ToVariantBool(value);
  }
  void Integer(std::int16_t value) {
    if (!out_) return;
    out_->vt = VT_I2;
    out_->iVal = value;
  }
  void Long(std::int32_t value) {
    if (!out_) return;
    out_->vt = VT_I4;
    out_->lVal = value;
  }
  void String(const std::string& value) {
    if (!out_) return;
    out_->bstrVal = AllocBstr(value);
    out_->vt = VT_BSTR;
  }
  void Core(const Variant& value) {
    if (out_) CoreToComVariant(value, out_);
  }

 private:
  VARIANT* out_;
};

enum class Access { Get, Put, Call };

Access AccessOf(WORD flags) {
  if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) return Access::Put;
  if (flags & DISPATCH_PROPERTYGET) return Access::Get;
  return Access::Call;
}

// A configuration property: get with no arguments, put with its value.
bool InvokeProperty(Tarvane& control, DISPID id, Access access, const DispatchArguments& args,
                    Result& result) {
  const bool put = access == Access::Put;
  args.ExpectCount(0, 0);
  const VARIANT* value = put ? &args.PutValue() : nullptr;
  switch (id) {
    case dispid::kEnabled:
      put ? control.SetEnabled(ComToBoolean(*value)) : result.Boolean(control.Enabled());
      return true;
    case dispid::kCommPort:
      put ? control.SetCommPort(ComToInteger(*value)) : result.Integer(control.CommPort());
      return true;
    case dispid::kSettings:
      put ? control.SetSettings(ComToString(*value)) : result.String(control.Settings());
      return true;
    case dispid::kHandshaking:
      put ? control.SetHandshaking(ComToLong(*value)) : result.Long(control.Handshaking());
      return true;
    case dispid::kTimeout:
      put ? control.SetTimeout(ComToInteger(*value)) : result.Integer(control.Timeout());
      return true;
    case dispid::kStationNo:
      put ? control.SetStationNo(ComToInteger(*value)) : result.Integer(control.StationNo());
      return true;
    case dispid::kNetworkNo:
      put ? control.SetNetworkNo(ComToInteger(*value)) : result.Integer(control.NetworkNo());
      return true;
    case dispid::kPCNumber:
      put ? control.SetPCNumber(ComToInteger(*value)) : result.Integer(control.PCNumber());
      return true;
    case dispid::kRqstDestMdIO:
      put ? control.SetRqstDestMdIO(ComToLong(*value)) : result.Long(control.RqstDestMdIO());
      return true;
    case dispid::kRqstDestMdSta:
      put ? control.SetRqstDestMdSta(ComToInteger(*value))
          : result.Integer(control.RqstDestMdSta());
      return true;
    case dispid::kPLCType:
      put ? control.SetPLCType(static_cast<MELSECPLCType>(ComToLong(*value)))
          : result.Long(control.PLCType());
      return true;
    case dispid::kSumCheck:
      put ? control.SetSumCheck(ComToBoolean(*value)) : result.Boolean(control.SumCheck());
      return true;
    case dispid::kPortOpen:
      put ? control.SetPortOpen(ComToBoolean(*value)) : result.Boolean(control.PortOpen());
      return true;
    default:
      return false;
  }
}

void InvokeMember(TarvaneObject& object, DISPID id, WORD flags, const DISPPARAMS* parameters,
                  VARIANT* result_out) {
  const Access access = AccessOf(flags);
  const DispatchArguments args(parameters, access == Access::Put);
  Result result(result_out);

  // Indexed getters and methods take no put.
  auto no_put = [&] {
    if (access == Access::Put) throw DispatchFailure(DISP_E_MEMBERNOTFOUND);
  };
  if (const BooleanGetter* getter = Find(kBooleanGetters, id)) {
    no_put();
    args.ExpectCount(1, 1);
    result.Boolean((object.Control().*(*getter))(args.Integer(0)));
    return;
  }
  if (const IntegerGetter* getter = Find(kIntegerGetters, id)) {
    no_put();
    args.ExpectCount(1, 1);
    result.Integer((object.Control().*(*getter))(args.Integer(0)));
    return;
  }
  if (const BatchRead* read = Find(kBatchReads, id)) {
    no_put();
    args.ExpectCount(2, 2);
    result.Integer((object.Control().*(*read))(args.Long(0), args.Integer(1)));
    return;
  }
  if (const BitWrite* write = Find(kBitWrites, id)) {
    no_put();
    args.ExpectCount(1, 1);
    result.Integer((object.Control().*(*write))(args.Long(0)));
    return;
  }
  if (const WordWrite* write = Find(kWordWrites, id)) {
    no_put();
    args.ExpectCount(2, 2);
    result.Integer((object.Control().*(*write))(args.Long(0), args.Integer(1)));
    return;
  }
  switch (id) {
    case dispid::kReadM:
      no_put();
      args.ExpectCount(2, 2);
      result.Core(object.Control().ReadM(args.Long(0), args.Integer(1)));
      return;
    case dispid::kShowAboutBox:
      no_put();
      args.ExpectCount(0, 0);
      object.Control().ShowAboutBox();
      return;
    case dispid::kRemoteStop:
      no_put();
      args.ExpectCount(0, 1);
      result.Integer(object.Control().RemoteStop(args.OptionalInteger(0, 1)));
      return;
    case dispid::kRemoteReset:
      no_put();
      args.ExpectCount(0, 1);
      result.Integer(object.Control().RemoteReset(args.OptionalInteger(0, 1)));
      return;
    case dispid::kRemoteRun:
      no_put();
      args.ExpectCount(0, 2);
      result.Integer(
          object.Control().RemoteRun(args.OptionalInteger(0, 1), args.OptionalInteger(1, 1)));
      return;
    case dispid::kWriteBlock: {
      no_put();
      args.ExpectCount(3, 3);
      const std::string device = args.String(0);
      const std::int16_t points = args.Integer(1);
      const IntegerArrayArgument data = args.IntegerArray(2);
      result.Integer(object.Control().WriteBlock(device, points, data.View()));
      return;
    }
    default:
      break;
  }
  if (access == Access::Call && !(flags & DISPATCH_METHOD)) {
    throw DispatchFailure(DISP_E_MEMBERNOTFOUND);
  }
  if (!InvokeProperty(object.Control(), id, access, args, result)) {
    throw DispatchFailure(DISP_E_MEMBERNOTFOUND);
  }
}

// The names of a member's arguments in order, from the library's vtable face: it lists
// every parameter with its flags alike on every platform, and the [retval] one is no
// argument a caller can name.
std::vector<std::wstring> ArgumentNames(ITypeInfo& dispatch, MEMBERID member) {
  ComPtr<ITypeInfo> vtable;
  HREFTYPE reference = 0;
  if (FAILED(dispatch.GetRefTypeOfImplType(static_cast<UINT>(-1), &reference)) ||
      FAILED(dispatch.GetRefTypeInfo(reference, vtable.Receive()))) {
    return {};
  }
  TYPEATTR* attributes = nullptr;
  if (FAILED(vtable->GetTypeAttr(&attributes))) return {};
  const UINT functions = attributes->cFuncs;
  vtable->ReleaseTypeAttr(attributes);
  UINT arguments = 0;
  for (UINT k = 0; k < functions; ++k) {
    FUNCDESC* function = nullptr;
    if (FAILED(vtable->GetFuncDesc(k, &function))) continue;
    if (function->memid == member && function->invkind != INVOKE_PROPERTYPUT) {
      while (arguments < static_cast<UINT>(function->cParams) &&
             !(function->lprgelemdescParam[arguments].paramdesc.wParamFlags & PARAMFLAG_FRETVAL)) {
        ++arguments;
      }
    }
    vtable->ReleaseFuncDesc(function);
  }
  std::vector<BSTR> names(arguments + 1, nullptr);
  UINT found = 0;
  vtable->GetNames(member, names.data(), arguments + 1, &found);
  std::vector<std::wstring> result;
  for (UINT k = 0; k < found; ++k) {
    if (k > 0) result.emplace_back(names[k] ? names[k] : L"");
    SysFreeString(names[k]);
  }
  return result;
}

// The member's DISPID, then each argument name's position among its arguments; a name
// that is not known stays DISPID_UNKNOWN and the answer is DISP_E_UNKNOWNNAME.
HRESULT MapNames(ITypeInfo& dispatch, LPOLESTR* names, UINT count, DISPID* ids) {
  std::fill(ids, ids + count, DISPID_UNKNOWN);
  if (FAILED(DispGetIDsOfNames(&dispatch, names, 1, ids))) {
    ids[0] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
  }
  const std::vector<std::wstring> arguments = count > 1 ? ArgumentNames(dispatch, ids[0])
                                                        : std::vector<std::wstring>();
  HRESULT hr = S_OK;
  for (UINT k = 1; k < count; ++k) {
    for (std::size_t position = 0; position < arguments.size(); ++position) {
      if (names[k] && _wcsicmp(names[k], arguments[position].c_str()) == 0) {
        ids[k] = static_cast<DISPID>(position);
      }
    }
    if (ids[k] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

}  // namespace

HRESULT STDMETHODCALLTYPE DispatchFace::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 1;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE DispatchFace::GetTypeInfo(UINT index, LCID /*lcid*/, ITypeInfo** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  return Guard([&] {
    *out = &owner_.DispatchTypeInfo();
    (*out)->AddRef();
  });
}

HRESULT STDMETHODCALLTYPE DispatchFace::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count,
                                                      LCID /*lcid*/, DISPID* ids) {
  if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (count == 0) return S_OK;
  if (!names || !ids) return E_POINTER;
  HRESULT hr = S_OK;
  const HRESULT guarded = Guard([&] { hr = MapNames(owner_.DispatchTypeInfo(), names, count, ids); });
  return FAILED(guarded) ? guarded : hr;
}

HRESULT STDMETHODCALLTYPE DispatchFace::Invoke(DISPID id, REFIID iid, LCID /*lcid*/, WORD flags,
                                               DISPPARAMS* parameters, VARIANT* result,
                                               EXCEPINFO* excep_info, UINT* argument_error) {
  if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  const KeepAlive alive(owner_);
  return InvokeGuard(excep_info, argument_error,
                     [&] { InvokeMember(owner_, id, flags, parameters, result); });
}

}  // namespace kestova::server
