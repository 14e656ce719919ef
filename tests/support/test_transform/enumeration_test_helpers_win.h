#pragma once
// Finding registered encoder transforms the way an encoder does, for tests.
#include <string>
#include <vector>

#include "support/test_transform/test_transform.h"
#include "support/test_transform/transform_object.h"

namespace Sorvane::test {

// ASCII text of a wide string (the test transforms' names are ASCII).
std::string Narrow(const wchar_t* text);

// The names MFTEnumEx lists for H.264 encoders with these flags. Wine leaves the name off the
// activation objects, so it comes from MFTGetInfo.
std::vector<std::string> EnumeratedNames(UINT32 flags, std::vector<CLSID>* clsids = nullptr);

// Activates a registered transform through MFTEnumEx's activation object for its class.
HRESULT ActivateThroughEnumeration(const CLSID& clsid, UINT32 flags, IMFTransform** out);

}  // namespace Sorvane::test
