// Table files (INI sections "Таблица<n>", keys "Поле<nn>", "#hex:" values):
// any file loads into a catalogue, and what was loaded survives being saved
// and loaded again.
#include "driver/tables/tables.h"
#include "fuzz/fuzz_support.h"
#include "platform/exception.h"

namespace mirelo {
namespace {

// Two tables: numbers, a string and an address; and a 6-byte number.
void catalogue(TTables& tables) {
  auto add = [](TTable& table, uint8_t number, uint8_t type, uint8_t size) {
    TFieldRec rec;
    rec.Number = number;
    rec.FieldType = type;
    rec.Size = size;
    rec.MaxValue = type == ftNumber ? 100000 : 0;
    new TField(&table.Fields(), rec);
  };
  auto* first = new TTable(&tables, {0, "first", 1, 3});
  add(*first, 0, ftNumber, 2);
  add(*first, 1, ftString, 16);
  add(*first, 2, ftIPAddress, 4);
  auto* second = new TTable(&tables, {1, "second", 1, 1});
  add(*second, 0, ftNumber, 6);
}

}  // namespace
}  // namespace mirelo

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace mirelo;
  std::string path = fuzz::writeScratch("tables.ini", {reinterpret_cast<const char*>(data), size});
  TTables loaded;
  catalogue(loaded);
  loaded.LoadFromFile(path);
  for (TTable* table : loaded)
    for (TField* field : table->Fields()) {
      try {
        field->EncodeValue();
      } catch (const Exception&) {
      }
    }
  std::string saved = fuzz::scratchFolder() + "/saved.ini";
  loaded.SaveToFile(saved);
  TTables again;
  catalogue(again);
  again.LoadFromFile(saved);
  for (int t = 0; t < loaded.Count(); ++t)
    for (int f = 0; f < loaded.Items(t)->Fields().Count(); ++f) {
      const std::string& before = loaded.Items(t)->Fields().Items(f)->Value();
      const std::string& after = again.Items(t)->Fields().Items(f)->Value();
      // A string's trailing zeros are padding and are not written.
      std::string_view trimmed(before);
      if (loaded.Items(t)->Fields().Items(f)->FieldType() == ftString)
        while (!trimmed.empty() && trimmed.back() == '\0') trimmed.remove_suffix(1);
      FUZZ_REQUIRE(after == trimmed);
    }
  return 0;
}
