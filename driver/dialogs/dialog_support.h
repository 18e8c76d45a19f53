#pragma once
// What every dialog of the driver shares: text conversion, the calls on the
// object's own interface, the error boxes and file choosers (replaceable, so
// that tests answer them), and the guard that keeps a failure inside a
// handler from reaching the host.
#include <QFileDialog>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <string>
#include <string_view>

#include "forms/qt_text.h"
#include "mirelo/vistel.h"

namespace mirelo {

// A driver text (Windows-1251) from a UTF-16 literal of this module.
std::string ansiText(const char16_t* text);

// The caption of the driver's message boxes.
QString errorCaption();

struct TFileRequest {
  QFileDialog::AcceptMode mode = QFileDialog::AcceptOpen;
  QString start;          // a file or folder to start in
  QStringList filters;    // "Name (*.ext)"
  QString defaultSuffix;  // without the dot
};

struct TDialogHooks {
  // A message box with the error icon and the driver's caption.
  std::function<void(QWidget* parent, const QString& text)> errorBox;
  // The chosen file, or empty when the operator cancelled.
  std::function<QString(QWidget* parent, const TFileRequest& request)> chooseFile;
};
TDialogHooks& dialogHooks();

void showErrorBox(QWidget* parent, const QString& text);

// The text of the exception in flight, for a message box.
QString currentExceptionText();
// "(%d) %s" for an EDriverError, the bare message for any other failure.
QString currentExceptionLine();

// Runs action; a failure is shown in a message box. Returns whether it
// succeeded.
bool guardedBox(QWidget* parent, const std::function<void()>& action);

// Typed calls on the object's own interface. A call that fails at the
// platform level raises EDriverError with the object's code and text.
class TVistelAccess {
 public:
  using Method = HRESULT (IVistel4::*)(LONG*);
  explicit TVistelAccess(IVistel4& object) : object_(object) {}

  IVistel4& object() const { return object_; }
  // A method's result code.
  LONG call(Method method) const;
  // A method whose result code must be 0; raises with ResultCodeDescription.
  void run(Method method) const;
  LONG getInt(HRESULT (IVistel4::*getter)(LONG*)) const;
  bool getBool(HRESULT (IVistel4::*getter)(VARIANT_BOOL*)) const;
  std::string getAnsi(HRESULT (IVistel4::*getter)(BSTR*)) const;
  QString getText(HRESULT (IVistel4::*getter)(BSTR*)) const;
  void putInt(HRESULT (IVistel4::*setter)(LONG), LONG value) const;
  void putBool(HRESULT (IVistel4::*setter)(VARIANT_BOOL), bool value) const;
  void putText(HRESULT (IVistel4::*setter)(const BSTR&), const QString& value) const;
  // "(%d) %s" of ResultCode and ResultCodeDescription.
  QString resultLine() const;

 private:
  IVistel4& object_;
};

}  // namespace mirelo
