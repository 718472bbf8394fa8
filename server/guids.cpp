// Defines the GUIDs of the type library (declared by the generated header).
#include <initguid.h>

#include "server/kestova_h.h"
