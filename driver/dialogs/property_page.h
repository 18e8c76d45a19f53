#pragma once
// The property-page frame: what turns a form into a property page that a
// property frame (ours, property_frame.h, or a container's) drives through
// IPropertyPage2.
//
//   TPropertyPage2        the form base of a page: LoadPage (object to
//                         page), ApplyPage (page to object), Modified()
//   TPropertyPageImpl2    the page interfaces over one form
//   TActiveXPropertyPage2 the page object a factory makes (counted by the
//                         library's server)
//   AddPropertyPageFactory  registers a page class with the server
//   TParamPages / TParamPage  sub-pages sharing one object
#include <QPointer>
#include <QWidget>
#include <functional>
#include <vector>

#include "driver/automation/com_server.h"
#include "platform/com/dispatch.h"
#include "platform/com/property_page.h"

namespace mirelo {

class TPropertyPageImpl2;

class TPropertyPage2 : public QWidget {
  Q_OBJECT
 public:
  explicit TPropertyPage2(QWidget* parent = nullptr);

  // Object to page; runs on activation when there is an object.
  virtual void LoadPage() {}
  // Page to object; runs on apply. A failure keeps the page dirty.
  virtual void ApplyPage() {}

  // The object being edited (its dispatch interface), or null.
  IDispatch* OleObject() const { return oleObject_.get(); }
  const std::vector<ComPtr<IUnknown>>& Objects() const { return objects_; }

  // A control reported a change of its content: while the page is active it
  // becomes modified and tells its site (dirty and validate).
  void Modified();

 private:
  friend class TPropertyPageImpl2;
  TPropertyPageImpl2* impl_ = nullptr;
  ComPtr<IDispatch> oleObject_;
  std::vector<ComPtr<IUnknown>> objects_;
};

// A failure inside an operation answers the status of a platform error
// (EOleSysError) when it is negative and E_UNEXPECTED otherwise, with the
// failure's text in the thread's error information.
class TPropertyPageImpl2 : public ComObject<IPropertyPage2> {
 public:
  // Takes the form (created without an owner): removes its border and keeps
  // its designed position.
  explicit TPropertyPageImpl2(TPropertyPage2* form);

  HRESULT SetPageSite(IPropertyPageSite* pPageSite) override;
  HRESULT Activate(HWND hWndParent, const RECT* pRect, BOOL bModal) override;
  HRESULT Deactivate() override;
  HRESULT GetPageInfo(PROPPAGEINFO* pPageInfo) override;
  HRESULT SetObjects(ULONG cObjects, IUnknown** ppUnk) override;
  HRESULT Show(UINT nCmdShow) override;
  HRESULT Move(const RECT* pRect) override;
  HRESULT IsPageDirty() override;
  HRESULT Apply() override;
  HRESULT Help(LPCOLESTR pszHelpDir) override;
  HRESULT TranslateAccelerator(MSG* pMsg) override;
  HRESULT EditProperty(DISPID dispID) override;

  TPropertyPage2* Form() const { return form_; }
  bool Active() const { return active_; }
  bool IsModified() const { return modified_; }
  void MarkModified();

 protected:
  // Destroys the form.
  ~TPropertyPageImpl2() override;

 private:
  template <class Body>
  HRESULT guarded(Body body);
  // Tells the edited object's property-change sinks that properties changed.
  void notifyPropertyChanges();

  QPointer<TPropertyPage2> form_;
  ComPtr<IPropertyPageSite> site_;
  bool active_ = false;
  bool modified_ = false;
};

// The page object that a page class's factory makes.
class TActiveXPropertyPage2 final : public TComServerObject, public TPropertyPageImpl2 {
 public:
  explicit TActiveXPropertyPage2(TPropertyPage2* form) : TPropertyPageImpl2(form) {}
};

// Registers a page class: class name "%s property page" with the form
// class's name, no description, a new object for each request, threading
// model single. createForm makes the page's form; without a QApplication the
// factory answers E_FAIL instead.
TComObjectFactory& AddPropertyPageFactory(TComServer& server, const CLSID& clsid,
                                          const char* formClassName,
                                          std::function<TPropertyPage2*()> createForm);

class TParamPages;

// A sub-page of a dialog: a form without a frame working on its list's object.
class TParamPage : public QWidget {
  Q_OBJECT
 public:
  explicit TParamPage(QWidget* parent = nullptr) : QWidget(parent) {}
  ~TParamPage() override;

  virtual void LoadPage() {}
  virtual void ApplyPage() {}

  TParamPages* Owner() const { return owner_; }
  // Leaves the old list first; null leaves it only.
  void SetOwner(TParamPages* owner);

 private:
  TParamPages* owner_ = nullptr;
};

class TParamPages {
 public:
  explicit TParamPages(ComPtr<IUnknown> object) : object_(std::move(object)) {}
  // Destroys its pages, always the first one first.
  ~TParamPages();
  TParamPages(const TParamPages&) = delete;
  TParamPages& operator=(const TParamPages&) = delete;

  int Count() const { return static_cast<int>(pages_.size()); }
  TParamPage* Items(int index) const { return pages_.at(static_cast<size_t>(index)); }
  IUnknown* Object() const { return object_.get(); }
  void LoadAll();
  void ApplyAll();

 private:
  friend class TParamPage;
  std::vector<TParamPage*> pages_;
  ComPtr<IUnknown> object_;
};

}  // namespace mirelo
