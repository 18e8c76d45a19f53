// Price-list files of the responder: any text parses, and the rows survive
// being written and parsed again (cells that hold no separator or line end).
#include "fuzz/fuzz_support.h"
#include "responder/price_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace mirelo;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<TPriceRow> rows = TPriceList::ParseText(text, 10000);
  TPriceList list(rows);
  FUZZ_REQUIRE(TPriceList::ParseText(TPriceList::FormatText(rows), 10000) == rows);
  for (size_t i = 0; i < rows.size(); ++i) {
    std::optional<size_t> first = list.Find(rows[i].Code);
    FUZZ_REQUIRE(first && *first <= i && list.Rows(*first).Code == rows[i].Code);
    std::optional<TPriceList::THit> hit = list.Lookup(rows[i].Code);
    FUZZ_REQUIRE(hit && hit->Row == *first && hit->Line1 == rows[*first].Line1 &&
                 hit->Line2 == rows[*first].Line2);
  }
  return 0;
}
