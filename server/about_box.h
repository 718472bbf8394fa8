#pragma once
// The About box: a modal dialog built afresh from the module's dialog resource on every
// call and destroyed when closed. A dialog that cannot be shown (no display, an owner window
// that is gone) raises ComFailure, so the caller learns of it.

#include <windows.h>

#include <string>

namespace kestova::server {

void ShowAboutDialog(HWND owner, const std::wstring& version_line);

}  // namespace kestova::server
