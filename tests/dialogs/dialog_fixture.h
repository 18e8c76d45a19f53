#pragma once
// A driver object aimed at a simulated terminal on 127.0.0.1, with the
// dialogs' message boxes and file choosers answered by the test.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <functional>
#include <vector>

#include "driver/addin/ole_1c.h"
#include "driver/dialogs/dialog_support.h"
#include "tests/automation/vistel_fixture.h"
#include "tools/termsim/simulator.h"

namespace mirelo::test {

inline QString q(const char16_t* text) {
  return QString::fromUtf16(text);
}

// Calls answer with the modal window once one is up (not shown yet: retried).
inline void whenModal(std::function<void(QWidget*)> answer, QWidget* notThis = nullptr) {
  QTimer::singleShot(10, [answer, notThis] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || modal == notThis) return whenModal(answer, notThis);
    answer(modal);
  });
}

class DialogTest : public testing::Test {
 protected:
  DialogTest() {
    terminal.start();
    object = ComPtr<IUnknown>((new Tole1C())->identity()).as<IVistel4>();
    aim(ptUDP);
    savedHooks_ = dialogHooks();
    dialogHooks().errorBox = [this](QWidget*, const QString& text) { errors.push_back(text); };
    dialogHooks().chooseFile = [this](QWidget*, const TFileRequest&) { return fileAnswer; };
  }
  ~DialogTest() override {
    dialogHooks() = savedHooks_;
    object = nullptr;
  }

  TVistelAccess driver() { return TVistelAccess(*object.get()); }
  void aim(TProtocol protocol) {
    TVistelAccess d = driver();
    d.putText(&IVistel4::put_ClientIP, QStringLiteral("127.0.0.1"));
    d.putInt(&IVistel4::put_ClientPort, terminal.port());
    d.putInt(&IVistel4::put_ClientProtocol, protocol);
    d.putInt(&IVistel4::put_ClientTimeout, 500);
    d.putInt(&IVistel4::put_RepeatCount, 1);
    d.putInt(&IVistel4::put_LDIndex, d.getInt(&IVistel4::get_LDIndex));
  }
  // Frames of one command byte that reached the terminal.
  size_t sent(uint8_t command) const {
    size_t count = 0;
    for (const auto& entry : terminal.journal())
      if (!entry.bytes.empty() && static_cast<uint8_t>(entry.bytes[0]) == command) ++count;
    return count;
  }

  ScratchRegistry registry;
  termsim::Simulator terminal;
  ComPtr<IVistel4> object;
  std::vector<QString> errors;
  QString fileAnswer;

 private:
  TDialogHooks savedHooks_;
};

}  // namespace mirelo::test
