#pragma once
// Registry entries of the control: the class (in the Control category), its ProgIDs, the
// type library and its two interfaces. Machine-wide registration writes under
// HKLM\Software\Classes (needs administrator rights), per-user registration under
// HKCU\Software\Classes (needs none). The 32-bit and the 64-bit control can be registered
// side by side: unregistering one leaves the other working, and the keys both use go with
// the last one.
// Nothing marks the control safe for scripting or initialisation: it drives machinery
// and must not be scriptable from a web page.

#include <windows.h>

namespace kestova::server {

enum class RegistrationScope { Machine, User };

HRESULT RegisterServer(RegistrationScope scope);
HRESULT UnregisterServer(RegistrationScope scope);

}  // namespace kestova::server
