#include "driver/dialogs/dialog_support.h"

#include <QMessageBox>

#include "client/call_failure.h"
#include "client/table_transfer.h"
#include "driver/errors/driver_error.h"
#include "platform/cp1251.h"
#include "platform/format.h"

namespace mirelo {

std::string ansiText(const char16_t* text) {
  return wideToAnsi(std::u16string_view(text));
}

QString errorCaption() {
  return QString::fromUtf16(u"Драйвер Vistel");
}

namespace {

void messageBox(QWidget* parent, const QString& text) {
  QMessageBox::critical(parent, errorCaption(), text);
}

QString fileDialog(QWidget* parent, const TFileRequest& request) {
  QFileDialog dialog(parent);
  dialog.setAcceptMode(request.mode);
  dialog.setFileMode(request.mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile
                                                             : QFileDialog::AnyFile);
  dialog.setNameFilters(request.filters);
  dialog.setDefaultSuffix(request.defaultSuffix);
  QFileInfo start(request.start);
  if (start.isDir()) {
    dialog.setDirectory(request.start);
  } else if (!request.start.isEmpty()) {
    if (start.dir().exists()) dialog.setDirectory(start.dir());
    dialog.selectFile(start.fileName());
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().constFirst();
}

}  // namespace

TDialogHooks& dialogHooks() {
  static TDialogHooks hooks{messageBox, fileDialog};
  return hooks;
}

void showErrorBox(QWidget* parent, const QString& text) {
  dialogHooks().errorBox(parent, text);
}

QString currentExceptionText() {
  try {
    throw;
  } catch (const std::exception& error) {
    return fromAnsi(error.what());
  } catch (...) {
    return QString::fromUtf16(u"Неизвестная ошибка");
  }
}

QString currentExceptionLine() {
  try {
    throw;
  } catch (const EDriverError& error) {
    return fromAnsi(format("(%d) %s", error.Code(), error.what()));
  } catch (...) {
    return currentExceptionText();
  }
}

bool guardedBox(QWidget* parent, const std::function<void()>& action) {
  try {
    action();
    return true;
  } catch (...) {
    showErrorBox(parent, currentExceptionText());
    return false;
  }
}

// ---- calls ----

LONG TVistelAccess::call(Method method) const {
  LONG code = 0;
  checkCall((object_.*method)(&code));
  return code;
}

void TVistelAccess::run(Method method) const {
  CheckResult(object_, call(method));
}

LONG TVistelAccess::getInt(HRESULT (IVistel4::*getter)(LONG*)) const {
  return call(getter);
}

bool TVistelAccess::getBool(HRESULT (IVistel4::*getter)(VARIANT_BOOL*)) const {
  VARIANT_BOOL value = VARIANT_FALSE;
  checkCall((object_.*getter)(&value));
  return value != VARIANT_FALSE;
}

std::string TVistelAccess::getAnsi(HRESULT (IVistel4::*getter)(BSTR*)) const {
  BSTR value;
  checkCall((object_.*getter)(&value));
  return wideToAnsi(value);
}

QString TVistelAccess::getText(HRESULT (IVistel4::*getter)(BSTR*)) const {
  BSTR value;
  checkCall((object_.*getter)(&value));
  return fromWide(value);
}

void TVistelAccess::putInt(HRESULT (IVistel4::*setter)(LONG), LONG value) const {
  checkCall((object_.*setter)(value));
}

void TVistelAccess::putBool(HRESULT (IVistel4::*setter)(VARIANT_BOOL), bool value) const {
  checkCall((object_.*setter)(value ? VARIANT_TRUE : VARIANT_FALSE));
}

void TVistelAccess::putText(HRESULT (IVistel4::*setter)(const BSTR&), const QString& value) const {
  checkCall((object_.*setter)(toWide(value)));
}

QString TVistelAccess::resultLine() const {
  LONG code = getInt(&IVistel4::get_ResultCode);
  return fromAnsi(format("(%d) %s", code, getAnsi(&IVistel4::get_ResultCodeDescription).c_str()));
}

}  // namespace mirelo
