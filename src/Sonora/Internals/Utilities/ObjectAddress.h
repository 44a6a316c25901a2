// An object's address as text, the default name of objects created without one.
#pragma once

#include <string>

namespace sonora {

// objectAddressString(_:): "0x" and 16 zero-padded hex digits ("%018p" as the platform prints it).
std::string objectAddressString(const void* object);

}  // namespace sonora
