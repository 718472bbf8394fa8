#pragma once
// Registry entries of the control: the class, its ProgIDs, the type library and its two
// interfaces. Machine-wide registration writes under HKLM\Software\Classes (needs
// administrator rights), per-user registration under HKCU\Software\Classes (needs none).
// Nothing marks the control safe for scripting or initialisation: it drives machinery
// and must not be scriptable from a web page.

#include <windows.h>

namespace kestova::server {

enum class RegistrationScope { Machine, User };

HRESULT RegisterServer(RegistrationScope scope);
HRESULT UnregisterServer(RegistrationScope scope);

}  // namespace kestova::server
