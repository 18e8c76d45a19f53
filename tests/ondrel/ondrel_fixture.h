#pragma once
// A scratch registry per test, a simulated terminal on 127.0.0.1 that every
// logical device points at before any exchange, and the window with its
// error boxes recorded instead of shown.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "forms/qt_text.h"
#include "mirelo/vistel.h"
#include "testbench/fm_main.h"
#include "tools/termsim/termsim.h"

namespace mirelo::test {

inline QString q(const char16_t* text) {
  return QString::fromUtf16(text);
}

class Ondrel : public testing::Test {
 protected:
  Ondrel() {
    char pattern[] = "/tmp/ondrel-test-XXXXXX";
    folder_ = mkdtemp(pattern);
    setenv("MIRELO_REGISTRY", path("registry.db").c_str(), 1);
    terminal.start();
  }
  ~Ondrel() override {
    window.reset();
    terminal.stop();
    std::filesystem::remove_all(folder_);
  }

  std::string path(const std::string& name) const { return folder_ + "/" + name; }
  QString qpath(const std::string& name) const { return QString::fromStdString(path(name)); }
  std::string readFile(const std::string& name) const {
    std::ifstream file(path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
  }
  void writeFile(const std::string& name, const std::string& bytes) const {
    std::ofstream(path(name), std::ios::binary) << bytes;
  }

  // The stored device: the simulated terminal (protocol 0 UDP, 1 TCP); the
  // server on serverPort. Saved before the window's object reads it.
  void pointDevice(int32_t protocol = 0, uint16_t serverPort = 0) {
    ComPtr<IVistel4> object = createVistelObject<IVistel4>();
    LONG result = 0;
    ASSERT_EQ(object->put_ClientIP(u"127.0.0.1"), S_OK);
    ASSERT_EQ(object->put_ClientPort(terminal.port()), S_OK);
    ASSERT_EQ(object->put_ClientProtocol(protocol), S_OK);
    ASSERT_EQ(object->put_ClientTimeout(2000), S_OK);
    if (serverPort) {
      ASSERT_EQ(object->put_ServerPort(serverPort), S_OK);
    }
    ASSERT_EQ(object->SaveParams(&result), S_OK);
    ASSERT_EQ(result, 0);
  }
  TfmMain& makeWindow() {
    window.reset();
    window = std::make_unique<TfmMain>();
    window->Pages().showError = [this](const QString& text) { errors.push_back(text); };
    return *window;
  }
  // The terminal answers command with an error byte.
  void refuse(uint8_t command, uint8_t error) {
    termsim::Faults faults;
    faults.errorFor[command] = error;
    terminal.setFaults(faults);
  }
  template <class Page>
  Page& page(int index) {
    window->ShowPage(index);
    auto* shown = dynamic_cast<Page*>(window->Page(index));
    EXPECT_NE(shown, nullptr);
    return *shown;
  }
  std::string result() const { return toAnsi(window->edtResult->text()); }
  // Until done() holds, handling the window's and the driver's events.
  static bool waitFor(const std::function<bool()>& done) { return QTest::qWaitFor(done, 10000); }

  termsim::Simulator terminal;
  std::unique_ptr<TfmMain> window;
  std::vector<QString> errors;

 private:
  std::string folder_;
};

}  // namespace mirelo::test
