#pragma once
// TPropertyFrame: the modal property frame (caption "Свойства"), the
// stand-in of the platform's frame. It drives page objects only through
// IPropertyPage: one tab per page, "OK" applies every dirty page and closes,
// "Отмена" closes, "Применить" (enabled once a page reports a change)
// applies and stays. A page whose Apply fails keeps the frame open, shows
// the failure and stays dirty.
#include <QDialogButtonBox>
#include <QPushButton>
#include <QTabWidget>
#include <functional>
#include <span>
#include <vector>

#include "forms/my_form.h"
#include "platform/com/property_page.h"

namespace mirelo {

class TPropertyFrame : public TMyForm {
  Q_OBJECT
 public:
  // Makes the pages (createPage for each class; a class that fails is
  // skipped) and gives each the site and the objects.
  using PageCreator = std::function<ComPtr<IPropertyPage>(const CLSID&)>;
  TPropertyFrame(QWidget* owner, std::span<IUnknown* const> objects, std::span<const CLSID> pages,
                 const PageCreator& createPage);
  ~TPropertyFrame() override;

  int PageCount() const { return static_cast<int>(pages_.size()); }
  IPropertyPage* Page(int index) const { return pages_.at(static_cast<size_t>(index)).page.get(); }
  // The window each page is placed in (its parent window).
  QWidget* PageHost(int index) const { return pages_.at(static_cast<size_t>(index)).host; }

  QTabWidget* Tabs;
  QPushButton* btnOK;
  QPushButton* btnCancel;
  QPushButton* btnApply;

  // Applies every dirty page; false (with the failure shown) when one failed.
  bool ApplyPages();
  void OnStatusChange(DWORD flags);

 protected:
  void done(int result) override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct PageEntry {
    ComPtr<IPropertyPage> page;
    ComPtr<IPropertyPageSite> site;
    QWidget* host = nullptr;
    SIZE size{};
    bool active = false;
  };
  void activate(int index);
  void deactivateAll();
  RECT pageRect(int index) const;

  std::vector<PageEntry> pages_;
  int current_ = -1;
  bool closed_ = false;
};

}  // namespace mirelo
