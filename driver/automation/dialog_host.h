#pragma once
// The seam through which the automation object reaches the driver's dialogs.
// The dialogs module registers an implementation when it is linked in;
// without one, the dialog members fail with DialogsUnavailableText.
//
// The dialogs get the object's own newest interface and nothing else: they
// work through the members a host uses.
#include <span>

#include "mirelo/vistel.h"

namespace mirelo {

class IDialogHost {
 public:
  virtual ~IDialogHost() = default;
  // The property frame, modal, for the object with the given pages. Raises
  // when the frame cannot be shown.
  virtual void ShowProperties(IVistel4& object, std::span<const CLSID> pages) = 0;
  // The tables dialog, modal, working through the object's own interface.
  virtual void ShowTables(IVistel4& object) = 0;
  // Texts in Windows-1251.
  virtual void AboutBox(const char* name, const char* versionLine) = 0;
};

inline constexpr const char* DialogsUnavailableText =
    "Диалоги драйвера недоступны: библиотека собрана без графического интерфейса.";

// The registered host, or null. Registering null removes it.
IDialogHost* dialogHost();
void registerDialogHost(IDialogHost* host);

}  // namespace mirelo
