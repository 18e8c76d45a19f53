#pragma once
// The seam through which the automation object reaches the driver's dialogs.
// The dialogs module registers an implementation when it is linked in;
// without one, the dialog members fail with DialogsUnavailableText.
namespace mirelo {

class TVistel;

class IDialogHost {
 public:
  virtual ~IDialogHost() = default;
  // The main property page in the property frame, modal.
  virtual void ShowProperties(TVistel& object) = 0;
  // The tables dialog, modal, working through the object's own interface.
  virtual void ShowTables(TVistel& object) = 0;
  virtual void AboutBox(const char* name, const char* versionLine) = 0;
};

inline constexpr const char* DialogsUnavailableText =
    "Диалоги драйвера недоступны: библиотека собрана без графического интерфейса.";

// The registered host, or null. Registering null removes it.
IDialogHost* dialogHost();
void registerDialogHost(IDialogHost* host);

}  // namespace mirelo
