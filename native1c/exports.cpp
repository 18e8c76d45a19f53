// The five entry points of the Native component, with C linkage; the
// version script (exports.map) keeps every other symbol inside the library.
#include "native1c/vistel_component.h"

using namespace mirelo::native;

namespace {
constexpr WCHAR_T kClassNames[] = {u'V', u'i', u's', u't', u'e', u'l', 0};
}  // namespace

extern "C" {

const WCHAR_T* GetClassNames() {
  return kClassNames;
}

// The component object for "Vistel": the object's address, or 0 (and *out
// untouched) for another name, a null output or a thread that cannot start.
long GetClassObject(const WCHAR_T* name, IComponentBase** out) {
  try {
    if (!name || !out || fromPlatform(name) != u"Vistel") return 0;
    *out = new VistelComponent();
    return reinterpret_cast<long>(*out);
  } catch (...) {
    return 0;
  }
}

long DestroyObject(IComponentBase** object) {
  if (!object || !*object) return -1;
  delete *object;
  *object = nullptr;
  return 0;
}

// Nothing the component does depends on the platform's level.
AppCapabilities SetPlatformCapabilities(AppCapabilities) {
  return eAppCapabilities3;
}

// The component runs in the platform's process or in an isolated one alike.
AttachType GetAttachType() {
  return eCanAttachAny;
}
}
