#include "server/about_box.h"

#include "server/com_error.h"
#include "server/module.h"
#include "server/resource_ids.h"

namespace kestova::server {
namespace {

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      SetDlgItemTextW(dialog, IDC_ABOUT_VERSION, reinterpret_cast<const wchar_t*>(lparam));
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) {
        EndDialog(dialog, LOWORD(wparam));
        return TRUE;
      }
      break;
    default:
      break;
  }
  return FALSE;
}

}  // namespace

void ShowAboutDialog(HWND owner, const std::wstring& version_line) {
  const INT_PTR ended = DialogBoxParamW(Module::Instance(), MAKEINTRESOURCEW(IDD_ABOUT), owner,
                                        AboutProc, reinterpret_cast<LPARAM>(version_line.c_str()));
  // The dialog ends only through OK or Cancel; any other answer means it was never shown.
  if (ended != IDOK && ended != IDCANCEL) {
    const DWORD error = GetLastError();
    throw ComFailure(error != ERROR_SUCCESS ? HRESULT_FROM_WIN32(error) : E_FAIL);
  }
}

}  // namespace kestova::server
