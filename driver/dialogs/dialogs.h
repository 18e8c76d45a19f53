#pragma once
// The dialogs module's registration: the dialog host of the automation
// object (ShowProperties, ShowTables, AboutBox), the control's picture and
// window, the main property page's class with the library's server, and the
// dialog font. libmirelo.so registers on loading; a program that links the
// module calls RegisterDialogs itself (it may be called again).
//
// A host without a QApplication (a command-line program, a 1C host) gets
// one for as long as a dialog is up, when a display is there (DISPLAY,
// WAYLAND_DISPLAY, or a platform named by QT_QPA_PLATFORM); without one the
// member fails with NoDisplayText. While a dialog is up the thread's
// message loop keeps running, so events and socket notifications go on.
#include <QString>
#include <string>

#include "platform/com/property_page.h"

namespace mirelo {

void RegisterDialogs();

// A page object of a class of the library's server (the main property page),
// or empty when it cannot be made.
ComPtr<IPropertyPage> CreatePropertyPage(const CLSID& clsid);

// Whether this process can show windows: a Qt platform named, or a Wayland
// or X display that accepts connections.
bool displayAvailable();

// The message of a dialog member that cannot show its window (Windows-1251).
std::string noDisplayText();

// For the time a dialog is up: the application (made when there is none)
// and the thread's message loop driven from Qt's. Raises with
// noDisplayText() when no window can be shown.
class TModalSession {
 public:
  TModalSession();
  ~TModalSession();
  TModalSession(const TModalSession&) = delete;
  TModalSession& operator=(const TModalSession&) = delete;
};

}  // namespace mirelo
