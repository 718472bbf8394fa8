#include "server/com_error.h"

#include <new>

#include "link/automation_error.h"
#include "server/kestova_h.h"
#include "server/text.h"

namespace kestova::server {
namespace {

constexpr const wchar_t* kErrorSource = L"Kestova.Tarvane";
constexpr int kOutOfMemory = 7;

std::wstring SystemMessage(HRESULT hr) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text = length > 0 && buffer ? std::wstring(buffer, length) : L"Unexpected error";
  if (buffer) LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) text.pop_back();
  return text;
}

}  // namespace

HRESULT AutomationHresult(int error_number) {
  return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, static_cast<unsigned>(error_number));
}

ErrorDetails DescribeCurrentException() noexcept {
  try {
    try {
      throw;
    } catch (const AutomationError& error) {
      return {AutomationHresult(error.code()), Widen(error.description())};
    } catch (const ComFailure& failure) {
      return {failure.hr(), SystemMessage(failure.hr())};
    } catch (const std::bad_alloc&) {
      return {AutomationHresult(kOutOfMemory), L"Out of memory"};
    } catch (const std::exception& error) {
      return {E_FAIL, Widen(error.what())};
    } catch (...) {
      return {E_UNEXPECTED, L"Unexpected error"};
    }
  } catch (...) {
    // Describing the error itself ran out of memory.
    return {E_OUTOFMEMORY, {}};
  }
}

void PublishErrorInfo(const ErrorDetails& details) noexcept {
  ICreateErrorInfo* create = nullptr;
  if (FAILED(CreateErrorInfo(&create))) return;
  create->SetGUID(IID__Tarvane);
  create->SetSource(const_cast<wchar_t*>(kErrorSource));
  create->SetDescription(const_cast<wchar_t*>(details.description.c_str()));
  IErrorInfo* info = nullptr;
  if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
    SetErrorInfo(0, info);
    info->Release();
  }
  create->Release();
}

void FillExcepInfo(EXCEPINFO* info, const ErrorDetails& details) noexcept {
  if (!info) return;
  *info = EXCEPINFO{};
  info->scode = details.scode;
  info->bstrSource = SysAllocString(kErrorSource);
  info->bstrDescription = SysAllocString(details.description.c_str());
}

}  // namespace kestova::server
