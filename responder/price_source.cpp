#include "responder/price_source.h"

#include "platform/cp1251.h"
#include "platform/format.h"
#include "responder/price_source_db.h"

namespace mirelo {

namespace {

// The file is read again on the service's thread: a list is loaded whole or
// not at all (LoadFromFile leaves the list as it was when it fails).
class TPriceFileSource : public TPriceSource {
 public:
  TPriceFileSource(const std::string& path, TPriceList& list)
      : path_(path), name_(format("'%s'", utf8ToAnsi(path).c_str())), list_(list) {
    list_.LoadFromFile(path_);
  }
  std::string Name() const override { return name_; }
  void Reload() override {
    try {
      list_.LoadFromFile(path_);
      report(TPriceSourceEvent::Loaded,
             format("reloaded %zu rows from %s", list_.Count(), name_.c_str()), list_.Count());
    } catch (const std::exception& e) {
      report(
          TPriceSourceEvent::LoadFailed,
          format("reload failed, keeping the %zu rows loaded before: %s", list_.Count(), e.what()),
          list_.Count());
    }
  }

 private:
  std::string path_;
  std::string name_;
  TPriceList& list_;
};

}  // namespace

void TPriceSource::report(TPriceSourceEvent::TKind kind, std::string text, size_t rows) {
  if (!OnEvent) return;
  TPriceSourceEvent event;
  event.Kind = kind;
  event.Text = std::move(text);
  event.Rows = rows;
  event.Time = std::chrono::system_clock::now();
  OnEvent(event);
}

std::unique_ptr<TPriceSource> openPriceSource(const TPriceSourceOptions& options,
                                              TPriceList& list) {
  if (!options.Conninfo.empty()) {
    TDbSourceOptions db;
    db.Conninfo = options.Conninfo;
    if (!options.Query.empty()) db.Query = options.Query;
    return std::make_unique<TPriceSourceDb>(list, db);
  }
  return std::make_unique<TPriceFileSource>(options.PricesFile, list);
}

}  // namespace mirelo
