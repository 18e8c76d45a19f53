// The price-list model: the file rules, the lookup rule and the index kept in
// step with every edit.
#include "responder/price_list.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>

#include "outcome.h"
#include "platform/exception.h"

namespace mirelo {
namespace {

namespace fs = std::filesystem;

class TempFolder {
 public:
  TempFolder() {
    char pattern[] = "/tmp/kavrin-prices-XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~TempFolder() { fs::remove_all(path_); }
  std::string path(const std::string& name) const { return path_ + "/" + name; }
  std::string write(const std::string& name, const std::string& bytes) const {
    std::ofstream(path(name), std::ios::binary) << bytes;
    return path(name);
  }
  std::string read(const std::string& name) const {
    std::ifstream file(path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
  }
  size_t entries() const {
    return static_cast<size_t>(std::distance(fs::directory_iterator(path_), {}));
  }

 private:
  std::string path_;
};

TPriceRow row(std::string code, std::string line1 = "", std::string line2 = "") {
  return {std::move(code), std::move(line1), std::move(line2)};
}

// ---- reading ----

struct ParseCase {
  const char* name;
  std::string text;
  std::vector<TPriceRow> rows;
};

class ParseText : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseText, FollowsTheFileRules) {
  EXPECT_EQ(TPriceList::ParseText(GetParam().text), GetParam().rows) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ParseText,
    testing::Values(ParseCase{"written form", "123;Хлеб;12.50;\r\n", {row("123", "Хлеб", "12.50")}},
                    ParseCase{"code only", "123", {row("123")}},
                    ParseCase{"fourth field ignored", "123;A;B;C;", {row("123", "A", "B")}},
                    ParseCase{"empty row", ";;;\r\n", {row("")}},
                    ParseCase{"empty fields stay empty", "x;;y", {row("x", "", "y")}},
                    ParseCase{"two fields", "x;y", {row("x", "y", "")}},
                    ParseCase{"empty file", "", {}},
                    ParseCase{"lone CR LF is one empty row", "\r\n", {row("")}},
                    ParseCase{"LF only", "a\nb\n", {row("a"), row("b")}},
                    ParseCase{"CR only", "a\rb\r", {row("a"), row("b")}},
                    ParseCase{
                        "mixed ends", "a\r\nb\nc\rd", {row("a"), row("b"), row("c"), row("d")}},
                    ParseCase{"LF CR is two ends", "a\n\rb", {row("a"), row(""), row("b")}},
                    ParseCase{"no line end at all", "1;2;3;4;5;6", {row("1", "2", "3")}},
                    ParseCase{"blanks kept", " 1 ; a ;b ;", {row(" 1 ", " a ", "b ")}},
                    ParseCase{"control and high bytes kept",
                              std::string("\x00\x01\xFF;\x98\x7F;\t\x1F;", 10),
                              {row(std::string("\x00\x01\xFF", 3), "\x98\x7F", "\t\x1F")}}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(PriceFile, WritesEveryCellWithASemicolonAndCrLf) {
  std::vector<TPriceRow> rows = {row("123", "Хлеб", "12.50"), row(""), row("4", "", "x")};
  EXPECT_EQ(TPriceList::FormatText(rows), "123;Хлеб;12.50;\r\n;;;\r\n4;;x;\r\n");
  EXPECT_EQ(TPriceList::FormatText({}), "");
}

TEST(PriceFile, ASemicolonInACellShiftsTheRowWhenReadBack) {
  std::string text = TPriceList::FormatText({row("1", "Сыр; твёрдый", "99.00")});
  EXPECT_EQ(TPriceList::ParseText(text), std::vector<TPriceRow>{row("1", "Сыр", " твёрдый")});
}

TEST(PriceFile, EveryByteButTheSeparatorsRoundTrips) {
  std::string cell;
  for (int byte = 0; byte < 256; ++byte)
    if (byte != ';' && byte != '\r' && byte != '\n') cell += static_cast<char>(byte);
  std::vector<TPriceRow> rows = {row(cell, cell, cell)};
  EXPECT_EQ(TPriceList::ParseText(TPriceList::FormatText(rows)), rows);
}

TEST(PriceFile, TooManyLinesAreRefusedWithAClearMessage) {
  ResultOf result = test::outcome([] { TPriceList::ParseText("1\n2\n3\n4\n", 3); });
  EXPECT_EQ(result.code, -199);
  EXPECT_EQ(result.text, "В списке больше 3 строк: такой файл не загружается");
  EXPECT_EQ(TPriceList::ParseText("1\n2\n3\n", 3).size(), 3u);
}

TEST(PriceFile, LoadsAndSavesTheSameBytes) {
  TempFolder folder;
  std::string text = "4607001234562;Молоко 3,2% 1 л;Цена: 89.90 руб.;\r\n;;;\r\nA;B;C;\r\n";
  TPriceList list;
  list.LoadFromFile(folder.write("in.txt", text));
  ASSERT_EQ(list.Count(), 3u);
  EXPECT_EQ(list.Rows(0).Line1, "Молоко 3,2% 1 л");
  list.SaveToFile(folder.path("out.txt"));
  EXPECT_EQ(folder.read("out.txt"), text);
}

TEST(PriceFile, AFileThatCannotBeReadLeavesTheListAsItWas) {
  TempFolder folder;
  TPriceList list({row("1", "a", "b")});
  fs::create_directory(folder.path("dir"));
  mkfifo(folder.path("fifo").c_str(), 0600);
  for (const std::string& name :
       {folder.path("missing.txt"), folder.path("dir"), folder.path("fifo")}) {
    ResultOf result = test::outcome([&] { list.LoadFromFile(name); });
    EXPECT_EQ(result.code, -199) << name;
    EXPECT_NE(result.text.find(name), std::string::npos) << result.text;
    ASSERT_EQ(list.Count(), 1u);
    EXPECT_EQ(list.Find("1"), 0u);
  }
  EXPECT_NE(test::outcome([&] {
              list.LoadFromFile(folder.path("fifo"));
            }).text.find("не является обычным файлом"),
            std::string::npos);
}

TEST(PriceFile, AFileAboveTheSizeLimitIsRefusedWithoutReadingIt) {
  TempFolder folder;
  std::string path = folder.path("huge.txt");
  int fd = ::open(path.c_str(), O_CREAT | O_WRONLY, 0600);
  ASSERT_EQ(ftruncate(fd, TPriceList::kMaxFileSize + 1), 0);  // sparse: no disk used
  ::close(fd);
  TPriceList list({row("1")});
  ResultOf result = test::outcome([&] { list.LoadFromFile(path); });
  EXPECT_NE(result.text.find("слишком велик"), std::string::npos) << result.text;
  EXPECT_EQ(list.Count(), 1u);
}

TEST(PriceFile, AMillionLinesAndAVeryLongLineLoad) {
  TempFolder folder;
  std::string text;
  for (int i = 0; i < 1'000'000; ++i)
    text += std::to_string(4600000000000LL + i) + ";Товар;Цена;\n";
  std::string longLine(8 * 1024 * 1024, 'x');
  text += "LONG;" + longLine + "\r";  // and a CR-only end
  TPriceList list;
  auto started = std::chrono::steady_clock::now();
  list.LoadFromFile(folder.write("big.txt", text));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
  ASSERT_EQ(list.Count(), 1'000'001u);
  EXPECT_EQ(list.Find("4600000999999"), 999'999u);
  EXPECT_EQ(list.Find("4600000000000"), 0u);
  EXPECT_EQ(list.Rows(1'000'000).Line1.size(), longLine.size());
}

// ---- writing safely ----

TEST(PriceFile, ASaveThatFailsHalfwayLeavesTheOldFileIntact) {
  TempFolder folder;
  std::string old = "1;old;list;\r\n";
  std::string path = folder.write("prices.txt", old);
  std::vector<TPriceRow> rows;
  for (int i = 0; i < 1000; ++i) rows.push_back(row(std::to_string(i), "новый товар", "1.00"));
  TPriceList list(rows);

  // The write stops at 4096 bytes with EFBIG, as on a full disk.
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  auto previous = signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  ResultOf result = test::outcome([&] { list.SaveToFile(path); });
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, previous);

  EXPECT_EQ(result.code, -199);
  EXPECT_NE(result.text.find("Не удалось записать файл"), std::string::npos) << result.text;
  EXPECT_EQ(folder.read("prices.txt"), old);
  EXPECT_EQ(folder.entries(), 1u) << "no temporary file is left";
  list.SaveToFile(path);
  EXPECT_EQ(TPriceList::ParseText(folder.read("prices.txt")).size(), 1000u);
}

TEST(PriceFile, SavingKeepsTheFilesModeAndFollowsALink) {
  TempFolder folder;
  std::string path = folder.write("real.txt", "x;\r\n");
  chmod(path.c_str(), 0640);
  fs::create_symlink(path, folder.path("link.txt"));
  TPriceList list({row("1", "2", "3")});
  list.SaveToFile(folder.path("link.txt"));
  EXPECT_TRUE(fs::is_symlink(folder.path("link.txt")));
  EXPECT_EQ(folder.read("real.txt"), "1;2;3;\r\n");
  struct stat info {};
  stat(path.c_str(), &info);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
}

TEST(PriceFile, ANewFileIsItsOwnersAlone) {
  TempFolder folder;
  TPriceList({row("1")}).SaveToFile(folder.path("new.txt"));
  struct stat info {};
  ASSERT_EQ(stat(folder.path("new.txt").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST(PriceFile, SavingIntoAMissingFolderFailsClearly) {
  TempFolder folder;
  TPriceList list({row("1")});
  ResultOf result =
      test::outcome([&] { list.SaveToFile(folder.path("no/such/folder/prices.txt")); });
  EXPECT_EQ(result.code, -199);
  EXPECT_NE(result.text.find("no/such/folder/prices.txt"), std::string::npos) << result.text;
}

// ---- the lookup rule ----

struct CutCase {
  std::string data;
  std::string barcode;
};

TEST(Barcode, IsCutBeforeItsFirstControlByte) {
  const CutCase cases[] = {
      {"123\r\n", "123"},
      {"123", "123"},
      {std::string("\x01"
                   "123",
                   4),
       ""},
      {std::string("12\x1F"
                   "3",
                   4),
       "12"},
      {std::string("12\x00"
                   "3",
                   4),
       "12"},
      {" 12 ", " 12 "},
      {"12\x7F\x80\xFF", "12\x7F\x80\xFF"},
      {"", ""},
      {"\t", ""},
  };
  for (const CutCase& c : cases)
    EXPECT_EQ(cutBarcode(c.data), c.barcode) << testing::PrintToString(c.data);
}

TEST(Answer, TheFirstExactMatchWinsElseTheNotFoundLines) {
  TPriceList list({row("ABC", "upper", "1"), row("abc ", "trailing blank", "2"),
                   row("123", "first", "3"), row("123", "second", "4"),
                   row("", "empty code", "5")});
  TNotFoundLines notFound{"Нет товара", "Обратитесь к продавцу"};
  struct Case {
    std::string data;
    bool found;
    std::string line1;
  } cases[] = {
      {"123\r\n", true, "first"},
      {"abc", false, "Нет товара"},  // lower case does not match upper case
      {"abc ", true, "trailing blank"},
      {"ABC ", false, "Нет товара"},
      {"\x02"
       "123",
       true, "empty code"},  // cut to empty: the row with the empty code
      {"", true, "empty code"},
      {"999", false, "Нет товара"},
  };
  for (const Case& c : cases) {
    TPriceAnswer answer = answerFor(list, notFound, c.data);
    EXPECT_EQ(answer.Found, c.found) << c.data;
    EXPECT_EQ(answer.Line1, c.line1) << c.data;
  }
  EXPECT_EQ(answerFor(list, notFound, "999").Line2, "Обратитесь к продавцу");
}

TEST(Answer, AtStartEveryEmptyRowAnswersAnEmptyBarcodeWithEmptyLines) {
  TPriceList list;
  list.Reset(11);
  TPriceAnswer answer = answerFor(list, {}, "\r");
  EXPECT_TRUE(answer.Found);
  EXPECT_EQ(answer.Row, 0u);
  EXPECT_EQ(answer.Line1, "");
  EXPECT_EQ(answerFor(list, {}, "1").Line1, "Not found");
}

TEST(Answer, AnEmptyListAnswersEverythingWithTheNotFoundLines) {
  TPriceList list;
  list.Assign(TPriceList::ParseText(""));
  EXPECT_EQ(list.Count(), 0u);
  for (const char* data : {"", "1", "\r\n"}) {
    TPriceAnswer answer = answerFor(list, {}, data);
    EXPECT_FALSE(answer.Found);
    EXPECT_EQ(answer.Line1, "Not found");
    EXPECT_EQ(answer.Line2, "Not found");
  }
}

TEST(Answer, LongBarcodesWithControlBytesAnywhere) {
  std::string code(2046, '7');
  TPriceList list({row(code, "long", "")});
  EXPECT_TRUE(answerFor(list, {}, code).Found);
  EXPECT_TRUE(answerFor(list, {}, code + "\r\n").Found);
  std::string broken = code;
  broken[1000] = '\x05';
  EXPECT_FALSE(answerFor(list, {}, broken).Found);
  EXPECT_EQ(answerFor(list, {}, broken).Barcode.size(), 1000u);
}

TEST(Answer, CopiesOnlyWhatATerminalShowsAndKeepsTheRowWhole) {
  std::string longLine(100'000, 'L');
  TPriceList list({row("1", longLine, "short")});
  TNotFoundLines notFound{std::string(40, 'N'), ""};
  TPriceAnswer answer = answerFor(list, notFound, "1");
  EXPECT_EQ(answer.Line1, std::string(30, 'L'));
  EXPECT_EQ(answer.Line2, "short");
  EXPECT_EQ(answerFor(list, notFound, "2").Line1, std::string(30, 'N'));
  EXPECT_EQ(list.Rows(0).Line1.size(), longLine.size());
  EXPECT_EQ(TPriceList::ParseText(list.FormatText())[0].Line1, longLine);
}

// ---- the index follows every edit ----

TEST(Index, FollowsInsertDeleteCodeChangesClearAndLoad) {
  TPriceList list({row("a"), row("b"), row("a")});
  EXPECT_EQ(list.Find("a"), 0u);
  EXPECT_EQ(list.CountOf("a"), 2u);
  list.Insert(0, row("a", "new first"));
  EXPECT_EQ(list.Find("a"), 0u);
  EXPECT_EQ(list.Rows(*list.Find("a")).Line1, "new first");
  list.Delete(0);
  EXPECT_EQ(list.Find("a"), 0u);
  list.Delete(0);  // the upper "a" goes: the lower one answers
  EXPECT_EQ(list.Find("a"), 1u);
  EXPECT_EQ(list.Find("b"), 0u);
  list.SetCell(0, pcCode, "a");  // "b" becomes the upper "a"
  EXPECT_EQ(list.Find("a"), 0u);
  EXPECT_FALSE(list.Find("b"));
  list.SetCell(0, pcLine1, "not a code");
  EXPECT_EQ(list.Find("a"), 0u);
  list.SetRow(1, row("c"));
  EXPECT_EQ(list.Find("c"), 1u);
  EXPECT_EQ(list.CountOf("a"), 1u);
  list.Append(row("c"));
  EXPECT_EQ(list.Find("c"), 1u);
  list.Reset(1);
  EXPECT_FALSE(list.Find("a"));
  EXPECT_EQ(list.Find(""), 0u);
  list.Assign(TPriceList::ParseText("x\ny\nx\n"));
  EXPECT_EQ(list.Find("x"), 0u);
  EXPECT_EQ(list.Find("y"), 1u);
  EXPECT_FALSE(list.Find(""));
}

TEST(Index, InsertingAgainAndAgainAtOnePlaceRenumbersCorrectly) {
  TPriceList list({row("first"), row("last")});
  // Each insert halves the gap below "last" until none is left.
  for (int i = 0; i < 100; ++i) list.Insert(1, row("k" + std::to_string(i)));
  ASSERT_EQ(list.Count(), 102u);
  EXPECT_EQ(list.Find("last"), 101u);
  EXPECT_EQ(list.Find("k99"), 1u);
  EXPECT_EQ(list.Find("k0"), 100u);
  EXPECT_EQ(list.Find("first"), 0u);
}

TEST(Index, AgreesWithALinearSearchThroughRandomEdits) {
  std::mt19937 random(20240601);
  auto randomCode = [&] { return std::string(1, static_cast<char>('a' + random() % 6)); };
  TPriceList list;
  std::vector<TPriceRow> reference;
  for (int step = 0; step < 3000; ++step) {
    size_t size = reference.size();
    switch (random() % 6) {
      case 0:
        reference.push_back(row(randomCode(), "", std::to_string(step)));
        list.Append(reference.back());
        break;
      case 1: {
        size_t at = random() % (size + 1);
        TPriceRow added = row(randomCode(), std::to_string(step));
        reference.insert(reference.begin() + static_cast<long>(at), added);
        list.Insert(at, added);
        break;
      }
      case 2:
        if (size) {
          size_t at = random() % size;
          reference.erase(reference.begin() + static_cast<long>(at));
          list.Delete(at);
        }
        break;
      case 3:
      case 4:
        if (size) {
          size_t at = random() % size;
          reference[at].Code = randomCode();
          list.SetCell(at, pcCode, reference[at].Code);
        }
        break;
      case 5:
        if (step % 500 == 0) {
          reference.assign(3, TPriceRow{});
          list.Reset(3);
        }
        break;
    }
    for (char c = 'a'; c <= 'f'; ++c) {
      std::string code(1, c);
      auto it = std::find_if(reference.begin(), reference.end(),
                             [&](const TPriceRow& r) { return r.Code == code; });
      std::optional<size_t> expected;
      if (it != reference.end()) expected = static_cast<size_t>(it - reference.begin());
      ASSERT_EQ(list.Find(code), expected) << "step " << step << " code " << code;
      // The answer's lines come through the table alone.
      if (expected) {
        TPriceAnswer answer = answerFor(list, {}, code);
        ASSERT_EQ(answer.Line1 + "|" + answer.Line2, it->Line1 + "|" + it->Line2) << step;
      }
    }
  }
}

TEST(Index, ALoadedListKeepsItsRowsAndAnswersThroughEditsThatMoveItsBytes) {
  TempFolder folder;
  std::string text;
  for (int i = 0; i < 3000; ++i)
    text += std::to_string(i % 1000) + ";line " + std::to_string(i) + ";x;y\n";
  TPriceList list;
  list.LoadFromFile(folder.write("in.txt", text));
  std::vector<TPriceRow> reference = TPriceList::ParseText(text);
  // Enough replaced bytes that the store is rebuilt more than once.
  std::string wide(2000, 'w');
  for (int i = 0; i < 9000; ++i) {
    size_t at = static_cast<size_t>(i * 7 % 3000);
    reference[at].Line1 = wide + std::to_string(i);
    list.SetCell(at, pcLine1, reference[at].Line1);
  }
  list.Delete(0);  // "0": its next row answers
  reference.erase(reference.begin());
  list.SetCell(4, pcCode, "new");
  reference[4].Code = "new";
  // Cells too long for the table's sizes: the row's record has them.
  reference[10] = row(std::string(70'000, 'c'), std::string(70'000, 'l'), "price");
  list.SetRow(10, reference[10]);
  reference[11].Line1 = std::string(70'000, 'm');
  list.SetCell(11, pcLine1, reference[11].Line1);
  for (size_t i = 0; i < reference.size(); i += 97) EXPECT_EQ(list.Rows(i), reference[i]) << i;
  for (size_t i : {size_t{10}, size_t{11}, size_t{12}, size_t{999}, size_t{1500}}) {
    auto first = std::find_if(reference.begin(), reference.end(),
                              [&](const TPriceRow& r) { return r.Code == reference[i].Code; });
    TPriceAnswer answer = answerFor(list, {}, reference[i].Code);
    EXPECT_EQ(answer.Row, static_cast<size_t>(first - reference.begin())) << i;
    EXPECT_EQ(answer.Line1, first->Line1.substr(0, kTerminalLineWidth)) << i;
    EXPECT_EQ(answer.Line2, first->Line2.substr(0, kTerminalLineWidth)) << i;
  }
  EXPECT_EQ(list.Find("0"), 999u);
  EXPECT_EQ(list.Find("5"), 1004u) << "row 4 took another code";
  EXPECT_EQ(list.Find("new"), 4u);
  EXPECT_EQ(answerFor(list, {}, "7").Line1, reference[6].Line1.substr(0, kTerminalLineWidth));
  EXPECT_EQ(list.FormatText(), TPriceList::FormatText(reference));
}

TEST(Index, EditsOutsideTheListAreRefused) {
  TPriceList list({row("1")});
  EXPECT_THROW(list.Delete(1), std::out_of_range);
  EXPECT_THROW(list.SetCell(1, pcCode, "x"), std::out_of_range);
  EXPECT_THROW(list.SetCell(0, 3, "x"), std::out_of_range);
  EXPECT_THROW(list.Insert(2, row("x")), std::out_of_range);
  EXPECT_EQ(list.Find("1"), 0u);
}

}  // namespace
}  // namespace mirelo
