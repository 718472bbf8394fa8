#pragma once
// The one place where C++ exceptions become COM errors. Every interface method runs its
// body inside Guard (or, for IDispatch::Invoke, InvokeGuard), so no exception crosses the
// COM boundary. An AutomationError n becomes the HRESULT 0x800A0000 + n with its English
// description published as error info (and in EXCEPINFO for Invoke).

#include <windows.h>
#include <oleauto.h>

#include <exception>
#include <optional>
#include <string>

namespace kestova::server {

// A COM call that failed with an HRESULT of its own (a bag that refused a write, a
// stream that ran dry): it reaches the caller with that HRESULT.
class ComFailure : public std::exception {
 public:
  explicit ComFailure(HRESULT hr) : hr_(hr) {}
  HRESULT hr() const noexcept { return hr_; }
  const char* what() const noexcept override { return "COM call failed"; }

 private:
  HRESULT hr_;
};

// A fault of the dispatch call itself (unknown member, wrong argument count, a named
// argument the member does not have): Invoke returns the HRESULT directly, not as an
// exception, and names the argument at fault (its index in rgvarg) when there is one.
class DispatchFailure : public ComFailure {
 public:
  explicit DispatchFailure(HRESULT hr, std::optional<UINT> argument = std::nullopt)
      : ComFailure(hr), argument_(argument) {}
  std::optional<UINT> argument() const noexcept { return argument_; }

 private:
  std::optional<UINT> argument_;
};

HRESULT AutomationHresult(int error_number);

struct ErrorDetails {
  HRESULT scode = E_FAIL;
  std::wstring description;
};

// Describes the exception being handled; call only from inside a catch block.
ErrorDetails DescribeCurrentException() noexcept;

// Sets the thread's error info (ISupportErrorInfo clients read it after a failed call).
void PublishErrorInfo(const ErrorDetails& details) noexcept;

// Fills EXCEPINFO the way automation clients expect for a run-time error.
void FillExcepInfo(EXCEPINFO* info, const ErrorDetails& details) noexcept;

template <class Body>
HRESULT Guard(Body&& body) noexcept {
  try {
    body();
    return S_OK;
  } catch (...) {
    const ErrorDetails details = DescribeCurrentException();
    PublishErrorInfo(details);
    return details.scode;
  }
}

template <class Body>
HRESULT InvokeGuard(EXCEPINFO* excep_info, UINT* argument_error, Body&& body) noexcept {
  try {
    body();
    return S_OK;
  } catch (const DispatchFailure& failure) {
    if (argument_error && failure.argument()) *argument_error = *failure.argument();
    return failure.hr();
  } catch (...) {
    const ErrorDetails details = DescribeCurrentException();
    PublishErrorInfo(details);
    FillExcepInfo(excep_info, details);
    return DISP_E_EXCEPTION;
  }
}

}  // namespace kestova::server
