// The three .xls export functions through the host: sheet layout, new and
// extended workbooks, foreign and damaged files, refusals and host failures.
// Results are read back with the workbook layer and, where present, with
// xlrd as an independent reader.
#include "plugin_fixture.h"

#include "excel_file.h"
#include "record_bytes.h"
#include "workbook_update.h"
#include "xls_tool.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <map>
#include <thread>

using standin::float_arg;
using standin::real_image_arg;
using standin::string_arg;
using xls_tool::scratch_path;
using YCompoundFiles::YExcel::ExcelCell;
using YCompoundFiles::YExcel::ExcelFile;
using YCompoundFiles::YExcel::ExcelSheet;
using YCompoundFiles::YExcel::WorkbookUpdate;

namespace {

std::string file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_bytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Files other than the workbook in the workbook's folder whose names begin
// with the workbook's and a dot: what a save may leave behind.
size_t temporary_files(const std::string& path) {
  const std::filesystem::path p(path);
  size_t n = 0;
  for (const auto& e : std::filesystem::directory_iterator(p.parent_path()))
    if (e.path().filename().string().rfind("." + p.filename().string(), 0) == 0) ++n;
  return n;
}

std::vector<std::string> sheet_names(const ExcelFile& book) {
  std::vector<std::string> names;
  for (uint64_t i = 0; i < book.GetTotalSheets(); ++i)
    names.push_back(book.GetSheetName(i) ? book.GetSheetName(i) : "<wide>");
  return names;
}

std::string text_at(const ExcelSheet* sheet, uint64_t r, uint64_t c) {
  const ExcelCell* cell = sheet ? sheet->At(r, c) : nullptr;
  return cell && cell->GetString() ? cell->GetString() : "<none>";
}

bool defined_at(const ExcelSheet* sheet, uint64_t r, uint64_t c) {
  const ExcelCell* cell = sheet->At(r, c);
  return cell && cell->Type() != ExcelCell::kUndefined;
}

class Export : public PluginTest {
 protected:
  void TearDown() override {
    for (DM_StringToken s : strings_) host_.ReleaseString(s);
    strings_.clear();
    PluginTest::TearDown();
  }

  DM_StringToken Text(const std::string& bytes) {
    strings_.push_back(host_.NewString(bytes));
    return strings_.back();
  }

  standin::CallResult Profile(DM_ImageToken image, const std::string& file,
                              const std::string& header, float scale) {
    return host_.Call("saveprofileasxls", {real_image_arg(image), string_arg(Text(file)),
                                           string_arg(Text(header)), float_arg(scale)});
  }

  standin::CallResult ProfileLong(DM_ImageToken image, const std::string& file,
                                  const std::string& header, float scale, const std::string& title,
                                  const std::string& sheet) {
    return host_.Call("saveprofileasxlslong",
                      {real_image_arg(image), string_arg(Text(file)), string_arg(Text(header)),
                       float_arg(scale), string_arg(Text(title)), string_arg(Text(sheet))});
  }

  standin::CallResult Image(DM_ImageToken image, const std::string& file, const std::string& header,
                            const std::string& title, const std::string& sheet) {
    return host_.Call("saveimageasxls",
                      {real_image_arg(image), string_arg(Text(file)), string_arg(Text(header)),
                       string_arg(Text(title)), string_arg(Text(sheet))});
  }

  // Copies of the fixtures an export extends (all but skip), each extended
  // by a profile export, as "copy=original" specs.
  void ExtendFixtures(const std::string& prefix, std::vector<std::string>& specs,
                      const std::string& skip = "");

  // A width x height image whose pixel (x, y) is a distinct float.
  DM_ImageToken Numbered(uint32_t width, uint32_t height) {
    std::vector<double> v(static_cast<size_t>(width) * height);
    for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<float>(i * 1.37 - 20.0 / (i + 1));
    return RealImage(width, height, v);
  }

 private:
  std::vector<DM_StringToken> strings_;
};

}  // namespace

TEST_F(Export, ProfileIntoANewFile) {
  const std::string file = scratch_path("new-profile.xls");
  DM_ImageToken img = RealImage(3, 1, {10.5, -2.25, 7.0});
  standin::CallResult r = Profile(img, file, "x y", 0.5f);
  EXPECT_TRUE(r.called);
  EXPECT_TRUE(r.script_errors.empty());
  EXPECT_TRUE(host_.Results().empty());

  ExcelFile book;
  ASSERT_TRUE(book.Load(file.c_str()));
  EXPECT_EQ(sheet_names(book), (std::vector<std::string>{"Profile", "Sheet1"}));
  const ExcelSheet* sheet = book.GetWorksheet("Profile");
  EXPECT_EQ(text_at(sheet, 0, 0), "Profile");
  EXPECT_EQ(text_at(sheet, 1, 0), "x");
  EXPECT_EQ(text_at(sheet, 1, 1), "y");
  EXPECT_FALSE(defined_at(sheet, 1, 2));
  EXPECT_EQ(sheet->GetTotalRows(), 5u);
  EXPECT_EQ(sheet->GetTotalCols(), 2u);
  const double abscissa[] = {0.0, 0.5, 1.0}, pixels[] = {10.5, -2.25, 7.0};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(sheet->At(2 + i, 0)->GetDouble(), abscissa[i]);
    EXPECT_EQ(sheet->At(2 + i, 1)->GetDouble(), pixels[i]);
  }
  EXPECT_EQ(book.GetWorksheet("Sheet1")->GetTotalRows(), 0u);

  // The abscissa is the single-precision product, widened.
  ASSERT_TRUE(Profile(RealImage(5, 1, {}), file, "\tq  I\n", 0.1f).script_errors.empty());
  ASSERT_TRUE(book.Load(file.c_str()));
  sheet = book.GetWorksheet("Profile");
  EXPECT_EQ(sheet->At(5, 0)->GetDouble(), 0.30000001192092896);
  EXPECT_EQ(text_at(sheet, 1, 0), "q");
  EXPECT_EQ(text_at(sheet, 1, 1), "I");
}

TEST_F(Export, ImageKeepsItsOrientation) {
  const std::string file = scratch_path("image.xls");
  DM_ImageToken img = Numbered(2, 3);
  const std::vector<double> px = host_.Pixels(img);
  ASSERT_TRUE(Image(img, file, "left right", "Peaks", "Table").script_errors.empty());
  ExcelFile book(file.c_str());
  EXPECT_EQ(sheet_names(book), (std::vector<std::string>{"Table", "Sheet1"}));
  const ExcelSheet* sheet = book.GetWorksheet("Table");
  EXPECT_EQ(text_at(sheet, 0, 0), "Peaks");
  EXPECT_EQ(text_at(sheet, 1, 1), "right");
  EXPECT_EQ(sheet->GetTotalRows(), 5u);
  EXPECT_EQ(sheet->GetTotalCols(), 2u);
  for (uint32_t y = 0; y < 3; ++y)
    for (uint32_t x = 0; x < 2; ++x) EXPECT_EQ(sheet->At(2 + y, x)->GetDouble(), px[x + 2 * y]);
  EXPECT_EQ(sheet->At(4, 1)->GetDouble(), px[1 + 2 * 2]);
}

TEST_F(Export, LaterExportsAddSheetsInFrontAndReuseTheirOwn) {
  const std::string file = scratch_path("extended.xls");
  ASSERT_TRUE(
      ProfileLong(Numbered(10, 1), file, "a b c d", 1.0f, "First", "S").script_errors.empty());
  ASSERT_TRUE(Profile(Numbered(3, 1), file, "x y", 1.0f).script_errors.empty());
  EXPECT_EQ(sheet_names(ExcelFile(file.c_str())),
            (std::vector<std::string>{"Profile", "S", "Sheet1"}));
  {
    // A cell of someone else's in the reused sheet.
    ExcelFile book(file.c_str());
    *book.GetWorksheet("S")->Cell(0, 5) = "note";
    ASSERT_TRUE(book.Save());
  }
  DM_ImageToken shorter = RealImage(4, 2, {1, 2, 3, 4, 5, 6, 7, 8});
  ASSERT_TRUE(ProfileLong(shorter, file, "u v", 2.0f, "Second", "S").script_errors.empty());

  ExcelFile book(file.c_str());
  EXPECT_EQ(sheet_names(book), (std::vector<std::string>{"Profile", "S", "Sheet1"}));
  const ExcelSheet* s = book.GetWorksheet("S");
  EXPECT_EQ(text_at(s, 0, 0), "Second");
  EXPECT_EQ(text_at(s, 0, 5), "note");
  EXPECT_EQ(text_at(s, 1, 0), "u");
  EXPECT_EQ(text_at(s, 1, 1), "v");
  EXPECT_EQ(text_at(s, 1, 2), "c");  // header words beyond the new ones stay
  EXPECT_EQ(text_at(s, 1, 3), "d");
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(s->At(2 + i, 0)->GetDouble(), 2.0 * i);
    EXPECT_EQ(s->At(2 + i, 1)->GetDouble(), 1.0 + i);
    EXPECT_EQ(s->At(2 + i, 2)->GetDouble(), 5.0 + i);
  }
  // The tail of the longer profile stays.
  EXPECT_EQ(s->GetTotalRows(), 12u);
  EXPECT_EQ(s->At(11, 0)->GetDouble(), 9.0);
  EXPECT_EQ(text_at(book.GetWorksheet("Profile"), 1, 1), "y");
}

TEST_F(Export, FilesThatAreNoWorkbookAreRefusedAndLeftAsTheyWere) {
  const std::string good = scratch_path("good.xls");
  ASSERT_TRUE(Profile(Numbered(40, 3), good, "x a b c", 1.0f).script_errors.empty());
  const std::string bytes = file_bytes(good);
  ASSERT_GT(bytes.size(), 1536u);

  const std::string file = scratch_path("foreign.xls");
  const std::string not_compound = "it is not a compound document, as an .xls workbook is";
  struct Case {
    std::string what, bytes, reason;  // reason empty: any
  };
  std::vector<Case> cases = {
      {"text", "plain text, not a workbook\n", not_compound},
      {"empty", "", not_compound},
      {"zip", std::string("PK\x03\x04\x14\x00\x00\x00", 8) + std::string(200, 'z'),
       "it is a zip archive (a workbook of a newer format, perhaps), not a compound document"},
      {"header only", bytes.substr(0, 512), "its compound-document structure is damaged"},
      {"cut in half", bytes.substr(0, bytes.size() / 2), ""},
  };
  std::string garbled = bytes;
  for (size_t i = 1536; i < garbled.size(); i += 3) garbled[i] = static_cast<char>(0xA5);
  cases.push_back({"garbled", garbled, ""});
  {
    YCompoundFiles::CompoundDocument doc;  // a document without a workbook
    ASSERT_TRUE(doc.Create(file.c_str()));
    ASSERT_EQ(doc.MakeStream("Other"), YCompoundFiles::kSuccess);
  }
  cases.push_back({"other document", file_bytes(file),
                   "it is a compound document without a \"Workbook\" stream"});
  {
    YCompoundFiles::CompoundDocument doc;  // a workbook stream cut inside its first record
    ASSERT_TRUE(doc.Create(file.c_str()));
    ASSERT_EQ(doc.MakeStream("Workbook"), YCompoundFiles::kSuccess);
    ASSERT_EQ(doc.WriteStream("Workbook", std::vector<char>{0x09, 0x08, 0x10, 0x00, 0x00}, 5),
              YCompoundFiles::kSuccess);
  }
  cases.push_back({"damaged stream", file_bytes(file), "its \"Workbook\" stream is damaged"});

  const std::string prefix = "saveprofileasxls: cannot extend \"" + file + "\": ";
  const std::string suffix = "; the file was left as it was";
  for (const Case& c : cases) {
    write_bytes(file, c.bytes);
    standin::CallResult r = Profile(Numbered(2, 1), file, "x y", 1.0f);
    ASSERT_EQ(r.script_errors.size(), 1u) << c.what;
    const std::string& e = r.script_errors[0];
    EXPECT_EQ(e.substr(0, prefix.size()), prefix) << c.what;
    ASSERT_GT(e.size(), prefix.size() + suffix.size()) << c.what;
    EXPECT_EQ(e.substr(e.size() - suffix.size()), suffix) << c.what;
    if (!c.reason.empty()) {
      EXPECT_EQ(e, prefix + c.reason + suffix) << c.what;
    }
    EXPECT_EQ(file_bytes(file), c.bytes) << c.what;
    EXPECT_EQ(temporary_files(file), 0u) << c.what;
  }

  // Only an absent file is made fresh.
  std::remove(file.c_str());
  ASSERT_TRUE(Profile(Numbered(2, 1), file, "x y", 1.0f).script_errors.empty());
  EXPECT_EQ(sheet_names(ExcelFile(file.c_str())), (std::vector<std::string>{"Profile", "Sheet1"}));
}

TEST_F(Export, WhatDoesNotFitIsRefusedAndTheFileLeftAlone) {
  const std::string file = scratch_path("limits.xls");
  ASSERT_TRUE(Profile(Numbered(2, 1), file, "x y", 1.0f).script_errors.empty());
  const std::string before = file_bytes(file);
  const std::string too_long_profile =
      "the profile does not fit into a sheet (at most 65534 points and 255 rows)";
  const std::string too_large_image =
      "the image does not fit into a sheet (at most 256 columns and 65534 rows)";
  std::string many_words;
  for (int k = 0; k < 257; ++k) many_words += "w" + std::to_string(k) + " ";

  struct Case {
    std::function<standin::CallResult()> call;
    std::string error;
  };
  DM_ImageToken wide = RealImage(65535, 1, {});
  DM_ImageToken tall = RealImage(1, 65535, {});
  DM_ImageToken rows256 = RealImage(2, 256, {});
  DM_ImageToken cols257 = RealImage(257, 1, {});
  DM_ImageToken small = Numbered(2, 2);
  const std::vector<Case> cases = {
      {[&] { return Profile(wide, file, "", 1.0f); }, "saveprofileasxls: " + too_long_profile},
      {[&] { return ProfileLong(rows256, file, "", 1.0f, "t", "s"); },
       "saveprofileasxlslong: " + too_long_profile},
      {[&] { return Image(cols257, file, "", "t", "s"); }, "saveimageasxls: " + too_large_image},
      {[&] { return Image(tall, file, "", "t", "s"); }, "saveimageasxls: " + too_large_image},
      {[&] { return Profile(small, file, many_words, 1.0f); },
       "saveprofileasxls: the header has more than 256 words"},
      {[&] { return Profile(small, "/nonexistent-folder/out.xls", "", 1.0f); },
       "saveprofileasxls: cannot write the workbook \"/nonexistent-folder/out.xls\": cannot "
       "reach the folder \"/nonexistent-folder\": No such file or directory"},
      {[&] { return Profile(small, file, "", std::nanf("")); },
       "saveprofileasxls: the scale is not a finite number"},
      {[&] { return ProfileLong(small, file, "", -INFINITY, "t", "s"); },
       "saveprofileasxlslong: the scale is not a finite number"},
      {[&] { return Image(small, file, "", std::string(32768, 't'), "s"); },
       "saveimageasxls: the title is longer than 32767 characters"},
      {[&] { return Profile(small, file, "x " + std::string(32768, 'w'), 1.0f); },
       "saveprofileasxls: a header word is longer than 32767 characters"},
      {[&] { return ProfileLong(small, file, "", 1.0f, std::string("a\0b", 3), "s"); },
       "saveprofileasxlslong: the title contains a NUL character"},
      {[&] { return Profile(small, file, std::string("x a\0b", 5), 1.0f); },
       "saveprofileasxls: a header word contains a NUL character"},
  };
  for (const Case& c : cases) {
    standin::CallResult r = c.call();
    EXPECT_TRUE(r.called);
    ASSERT_EQ(r.script_errors.size(), 1u) << c.error;
    // Refusals of a file that is there say that it was left alone.
    const bool absent = c.error.find("nonexistent") != std::string::npos;
    EXPECT_EQ(r.script_errors[0], c.error + (absent ? "" : "; the file was left as it was"));
    EXPECT_EQ(file_bytes(file), before) << c.error;
    EXPECT_EQ(host_.LiveLocks(), 0u);
  }
  EXPECT_TRUE(host_.Results().empty());

  // The largest that fits: 255 image rows and 256 header words.
  std::string words256 = many_words.substr(0, many_words.rfind("w256"));
  ASSERT_TRUE(
      ProfileLong(RealImage(2, 255, {}), file, words256, 1.0f, "t", "Full").script_errors.empty());
  ExcelFile book(file.c_str());
  EXPECT_EQ(book.GetWorksheet("Full")->GetTotalCols(), 256u);
  EXPECT_EQ(text_at(book.GetWorksheet("Full"), 1, 255), "w255");

  // Texts of the longest a cell holds are written whole.
  const std::string longest(32767, '\xE9');
  ASSERT_TRUE(Image(small, file, "a " + longest, longest, "Long").script_errors.empty());
  ExcelFile again(file.c_str());
  EXPECT_EQ(text_at(again.GetWorksheet("Long"), 0, 0), longest);
  EXPECT_EQ(text_at(again.GetWorksheet("Long"), 1, 1), longest);
}

TEST_F(Export, SheetNamesAreOnesEveryReaderKeeps) {
  const std::string file = scratch_path("names.xls");
  ASSERT_TRUE(Image(Numbered(2, 2), file, "", "t", "Data").script_errors.empty());
  const std::string before = file_bytes(file);
  const std::pair<std::string, std::string> refused[] = {
      {"", "the sheet name is empty"},
      {std::string(32, 'n'),
       "the sheet name \"" + std::string(32, 'n') + "\" is longer than 31 characters"},
      {"a:b", "the sheet name \"a:b\" contains one of the characters : \\ / ? * [ ]"},
      {"a\\b", ""},
      {"a/b", ""},
      {"a?b", ""},
      {"a*b", ""},
      {"[a", ""},
      {"a]", ""},
      {"'a", "the sheet name \"'a\" begins or ends with an apostrophe"},
      {"a'", "the sheet name \"a'\" begins or ends with an apostrophe"},
      {std::string("a\0b", 3), "the sheet name contains a NUL character"},
      {"DATA", "the workbook \"" + file +
                   "\" holds a sheet \"Data\", which differs from \"DATA\" only "
                   "in case"},
  };
  for (const auto& [name, error] : refused) {
    standin::CallResult r = Image(Numbered(2, 2), file, "", "t", name);
    ASSERT_EQ(r.script_errors.size(), 1u) << name;
    if (!error.empty()) {
      EXPECT_EQ(r.script_errors[0], "saveimageasxls: " + error + "; the file was left as it was");
    }
    EXPECT_EQ(file_bytes(file), before) << name;
  }
  // Allowed: 31 characters, inner apostrophes, an exact match (reused).
  for (const std::string& name : {std::string(31, 'n'), std::string("it's"), std::string("Data")})
    EXPECT_TRUE(Image(Numbered(2, 2), file, "", "t", name).script_errors.empty()) << name;
  EXPECT_EQ(sheet_names(ExcelFile(file.c_str())),
            (std::vector<std::string>{"it's", std::string(31, 'n'), "Data", "Sheet1"}));
}

TEST_F(Export, WindowsTextsReadBackAsTheirCharacters) {
  REQUIRE_XLS_TOOL("xlrd");
  const std::string file = scratch_path("windows-1252.xls");
  // Sheet "Größe €", title "2θ in °", header words "€/m²" and "‰".
  const std::string sheet =
      "Gr\xF6\xDF"
      "e \x80";
  ASSERT_TRUE(ProfileLong(Numbered(2, 1), file, "\x80/m\xB2 \x89", 1.0f, "2\xE8 in \xB0", sheet)
                  .script_errors.empty());
  // Compared in Unicode: the same name reuses the sheet, one that differs
  // only in case (here in the letters beyond ASCII) is refused.
  ASSERT_TRUE(ProfileLong(Numbered(3, 1), file, "", 1.0f, "again", sheet).script_errors.empty());
  standin::CallResult r = ProfileLong(Numbered(3, 1), file, "", 1.0f, "t",
                                      "GR\xD6\xDF"
                                      "E \x80");
  ASSERT_EQ(r.script_errors.size(), 1u);
  EXPECT_NE(r.script_errors[0].find("holds a sheet \"" + sheet + "\", which differs"),
            std::string::npos);

  xls_tool::Book read;
  ASSERT_TRUE(xls_tool::dump_book(file, read));
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read[0].name,
            "Gr\xC3\xB6\xC3\x9F"
            "e \xE2\x82\xAC");
  EXPECT_EQ(read[0].At(0, 0)->text, "again");
  EXPECT_EQ(read[0].At(1, 0)->text, "\xE2\x82\xAC/m\xC2\xB2");
  EXPECT_EQ(read[0].At(1, 1)->text, "\xE2\x80\xB0");
  ASSERT_TRUE(
      ProfileLong(Numbered(3, 1), file, "", 1.0f, "2\xE8 in \xB0", "Latin").script_errors.empty());
  ASSERT_TRUE(xls_tool::dump_book(file, read));
  EXPECT_EQ(read[0].At(0, 0)->text, "2\xC3\xA8 in \xC2\xB0");
}

TEST_F(Export, HostFailuresLeaveNothingBehindAndTheFileAsItWas) {
  const std::string file = scratch_path("host-failures.xls");
  ASSERT_TRUE(Profile(Numbered(3, 2), file, "x a b", 1.0f).script_errors.empty());
  const std::string reference = file_bytes(file);
  for (const char* function : {"saveprofileasxlslong", "saveprofileasxls", "saveimageasxls"}) {
    const std::string name = function;
    long calls = check_host_failures(host_, function, [&] {
      PreparedCall c;
      write_bytes(file, reference);
      DM_ImageToken img = host_.NewImage("p", DM_TYPE_REAL4, 3, 2);
      std::vector<DM_StringToken> texts;
      auto add = [&](const std::string& s) {
        texts.push_back(host_.NewString(s));
        c.args.push_back(string_arg(texts.back()));
      };
      c.args.push_back(real_image_arg(img));
      add(file);
      add("h1 h2");
      if (name != "saveimageasxls") c.args.push_back(float_arg(0.5f));
      if (name != "saveprofileasxls") {
        add("title");
        add("sheet");
      }
      c.expect_untouched = [&, name] { EXPECT_EQ(file_bytes(file), reference) << name; };
      c.release = [this, img, texts] {
        host_.ReleaseImage(img);
        for (DM_StringToken t : texts) host_.ReleaseString(t);
      };
      return c;
    });
    // Texts, two sizes and the lock.
    EXPECT_GE(calls, 5) << function;
  }
}

TEST_F(Export, XlrdReadsTheNewWorkbook) {
  REQUIRE_XLS_TOOL("xlrd");
  const std::string file = scratch_path("xlrd-profile.xls");
  DM_ImageToken img = Numbered(300, 4);
  const std::vector<double> px = host_.Pixels(img);
  ASSERT_TRUE(
      Profile(img, file, "q profile background difference model", 0.1f).script_errors.empty());

  xls_tool::Book read;
  ASSERT_TRUE(xls_tool::dump_book(file, read));
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read[0].name, "Profile");
  EXPECT_EQ(read[1].name, "Sheet1");
  EXPECT_TRUE(read[1].cells.empty());
  const xls_tool::Sheet& s = read[0];
  EXPECT_EQ(s.rows, 302);
  EXPECT_EQ(s.cols, 5);
  EXPECT_EQ(s.At(0, 0)->text, "Profile");
  const char* words[] = {"q", "profile", "background", "difference", "model"};
  for (int k = 0; k < 5; ++k) EXPECT_EQ(s.At(1, k)->text, words[k]);
  for (int i = 0; i < 300; ++i) {
    ASSERT_NE(s.At(2 + i, 0), nullptr) << i;
    EXPECT_EQ(s.At(2 + i, 0)->number, static_cast<double>(static_cast<float>(i) * 0.1f)) << i;
    for (int j = 0; j < 4; ++j) EXPECT_EQ(s.At(2 + i, 1 + j)->number, px[i + j * 300]) << i;
  }
  EXPECT_EQ(s.At(5, 0)->number, 0.30000001192092896);
  EXPECT_EQ(s.cells.size(), 1u + 5u + 300u * 5u);
}

TEST_F(Export, XlwtWorkbookIsExtended) {
  REQUIRE_XLS_TOOL("xlwt");
  REQUIRE_XLS_TOOL("xlrd");
  const std::string file = scratch_path("xlwt-extended.xls");
  xls_tool::Book written;
  ASSERT_TRUE(xls_tool::make_with_xlwt(file, written));
  ASSERT_TRUE(Profile(Numbered(5, 2), file, "x a b", 1.0f).script_errors.empty());
  ASSERT_TRUE(Image(Numbered(2, 2), file, "c d", "Image", "Data").script_errors.empty());

  xls_tool::Book read;
  ASSERT_TRUE(xls_tool::dump_book(file, read));
  ASSERT_EQ(read.size(), written.size() + 1);
  EXPECT_EQ(read[0].name, "Profile");
  EXPECT_EQ(read[0].At(6, 2)->number, host_.Pixels(Numbered(5, 2))[4 + 5]);
  // The xlwt sheets keep their order and every cell not written over.
  for (size_t k = 0; k < written.size(); ++k) {
    const xls_tool::Sheet &was = written[k], &now = read[k + 1];
    EXPECT_EQ(now.name, was.name);
    for (const auto& [place, cell] : was.cells) {
      if (was.name == "Data" && place.first < 4 && place.second < 2) continue;
      const xls_tool::Cell* got = now.At(place.first, place.second);
      ASSERT_NE(got, nullptr) << was.name << " " << place.first << "," << place.second;
      EXPECT_EQ(got->number, cell.number);
      EXPECT_EQ(got->text, cell.text);
    }
  }
  EXPECT_EQ(read[1].At(0, 0)->text, "Image");
  EXPECT_EQ(read[1].At(1, 1)->text, "d");
}

namespace {

// Workbooks written by other programs, and what an export into each does:
// extend it (no refusal given) or refuse it with this reason.
struct Fixture {
  const char* name;
  const char* refusal;
};
const Fixture kFixtures[] = {
    {"xlwt-values.xls", nullptr},
    {"xlwt-formats.xls", nullptr},
    {"gnumeric-values.xls", nullptr},
    {"gnumeric-formats.xls", nullptr},
    {"libreoffice-values.xls", nullptr},
    {"libreoffice-formats.xls", nullptr},
    // Errors of NaN and infinite pixels, which LibreOffice saved as formulas
    // of one constant.
    {"libreoffice-errors.xls", nullptr},
    {"perl-active-third.xls", nullptr},
    {"perl-outline.xls", nullptr},
    {"poi-uncalced.xls", nullptr},
    {"poi-class-id.xls", nullptr},
    {"poi-empty-text.xls", nullptr},
    {"poi-bool-error.xls", nullptr},
    {"poi-phonetic.xls", nullptr},
    // Formulas, merged cells, names, notes, a chart, an autofilter, write
    // protection: carried.
    {"poi-autofilter.xls", nullptr},
    {"poi-write-protected.xls", nullptr},
    {"xlwt-rich.xls", nullptr},
    // Formulas across sheets, one to a later sheet; merged cells.
    {"xlwt-sheets.xls", nullptr},
    {"gnumeric-rich.xls", nullptr},
    {"libreoffice-rich.xls", nullptr},
    {"gnumeric-names-notes.xls", nullptr},
    {"libreoffice-names.xls", nullptr},
    {"gnumeric-chart.xls", nullptr},
    // Formulas of a name, of a text result, of an array and across sheets;
    // a global and a local name; merged cells.
    {"gnumeric-formulas.xls", nullptr},
    // Formulas of many kinds, names, notes, links, validation, conditional
    // formats, an autofilter, frozen panes, a protected sheet.
    {"poi-features.xls", nullptr},
    {"libreoffice-features.xls", nullptr},
    // Formulas, a merged title, a note, validation, a name, a picture, an
    // embedded chart and a chart sheet from the Perl writer; links.
    {"perl-features.xls", nullptr},
    {"perl-link.xls", nullptr},
    {"gnumeric-biff7.xls",
     "it holds a workbook of an older version of the format, which this export does not write"},
    {"xlwt-truncated.xls", "its compound-document structure is damaged"},
    {"gsf-createole.xls", "it is a compound document without a \"Workbook\" stream"},
    {"text.xls", "it is not a compound document, as an .xls workbook is"},
    {"zip.xls",
     "it is a zip archive (a workbook of a newer format, perhaps), not a compound document"},
};

void Export::ExtendFixtures(const std::string& prefix, std::vector<std::string>& specs,
                            const std::string& skip) {
  for (const Fixture& f : kFixtures) {
    if (f.refusal || f.name == skip) continue;
    const std::string original = xls_tool::fixture_path(f.name);
    const std::string file = scratch_path(prefix + f.name);
    write_bytes(file, file_bytes(original));
    ASSERT_TRUE(
        ProfileLong(Numbered(40, 2), file, "q a b", 0.1f, "Title", "Result").script_errors.empty());
    specs.push_back(file + "=" + original);
  }
}

// The streams of a compound document other than "Workbook", by path, and
// the class ids and state bits of its storages (the root, "\\", included).
std::map<std::string, std::vector<char>> other_streams(const std::string& path) {
  std::map<std::string, std::vector<char>> streams;
  YCompoundFiles::CompoundDocument doc;
  if (!doc.Open(path.c_str(), YCompoundFiles::CompoundDocument::kRead)) return streams;
  std::vector<std::string> names;
  doc.ListDirectory(names, "\\");
  names.push_back("\\");
  for (const std::string& name : names) {
    YCompoundFiles::CompoundDocument::StorageClass kind;
    if (doc.GetStorageClass(name.c_str(), kind) == YCompoundFiles::kSuccess)
      streams[name].assign(reinterpret_cast<const char*>(&kind),
                           reinterpret_cast<const char*>(&kind + 1));
    else if (name != "Workbook" &&
             doc.ReadStream(name.c_str(), streams[name]) != YCompoundFiles::kSuccess)
      streams[name] = {'?'};
  }
  return streams;
}

}  // namespace

TEST_F(Export, WorkbooksOfOtherProgramsAreExtendedWithNothingLostOrRefusedUntouched) {
  REQUIRE_XLS_TOOL("xlrd");
  DM_ImageToken img = Numbered(30, 3);
  const std::vector<double> px = host_.Pixels(img);
  for (const Fixture& f : kFixtures) {
    const std::string original = xls_tool::fixture_path(f.name);
    const std::string file = scratch_path(std::string("extended-") + f.name);
    write_bytes(file, file_bytes(original));
    standin::CallResult r = ProfileLong(img, file, "q a b c", 0.1f, "Title", "Result");
    if (f.refusal) {
      ASSERT_EQ(r.script_errors.size(), 1u) << f.name;
      EXPECT_EQ(r.script_errors[0], "saveprofileasxlslong: cannot extend \"" + file +
                                        "\": " + f.refusal + "; the file was left as it was");
      EXPECT_TRUE(file_bytes(file) == file_bytes(original)) << f.name;
      EXPECT_EQ(temporary_files(file), 0u) << f.name;
      continue;
    }
    ASSERT_TRUE(r.script_errors.empty()) << f.name << ": " << r.script_errors[0];
    xls_tool::Book was, now;
    ASSERT_TRUE(xls_tool::dump_book(original, was));
    ASSERT_TRUE(xls_tool::dump_book(file, now));
    ASSERT_EQ(now.size(), was.size() + 1) << f.name;
    EXPECT_EQ(now[0].name, "Result");
    EXPECT_EQ(now[0].At(0, 0)->text, "Title");
    EXPECT_EQ(now[0].At(5, 0)->number, 0.30000001192092896);
    EXPECT_EQ(now[0].At(31, 3)->number, px[29 + 2 * 30]);
    for (size_t k = 0; k < was.size(); ++k) {
      EXPECT_EQ(now[k + 1].name, was[k].name) << f.name;
      EXPECT_EQ(now[k + 1].cells.size(), was[k].cells.size()) << f.name;
      for (const auto& [place, cell] : was[k].cells) {
        const xls_tool::Cell* got = now[k + 1].At(place.first, place.second);
        ASSERT_NE(got, nullptr) << f.name << " " << place.first << "," << place.second;
        EXPECT_EQ(got->kind, cell.kind);
        EXPECT_EQ(got->number, cell.number);
        EXPECT_EQ(got->text, cell.text);
      }
    }
    // Phonetic readings of texts too.
    const std::string readings = xls_tool::phonetic_readings(original);
    EXPECT_EQ(xls_tool::phonetic_readings(file), readings) << f.name;
    EXPECT_EQ(readings.empty(), std::string(f.name) != "poi-phonetic.xls") << readings;
    // Every record of the original is still there, in its place.
    const auto before =
        workbook_test::substream_records(workbook_test::read_workbook_stream(original));
    const auto after = workbook_test::substream_records(workbook_test::read_workbook_stream(file));
    ASSERT_EQ(after.size(), before.size() + 1) << f.name;
    // LibreOffice writes error values as formulas of one constant, which
    // come back as values.
    const bool constants = std::string(f.name).rfind("libreoffice-", 0) == 0;
    workbook_test::expect_records_kept(before[0], after[0], constants, {}, f.name);
    for (size_t k = 1; k < before.size(); ++k)
      workbook_test::expect_records_kept(before[k], after[k + 1], constants, {}, f.name);
    // Summary information and the like come along unchanged.
    EXPECT_EQ(other_streams(file), other_streams(original)) << f.name;
    EXPECT_EQ(temporary_files(file), 0u) << f.name;
  }
}

// After an export, every sheet of the original reads the same in the Java
// library: cells, formula texts, merged regions, notes, links, validations,
// conditional formats, shapes, and the names with their formulas.
TEST_F(Export, TheJavaLibraryReadsEveryOriginalSheetAlikeAfterAnExport) {
  REQUIRE_POI();
  std::vector<std::string> specs;
  // The library cannot read the Perl writer's links, in the original
  // either.
  ASSERT_NO_FATAL_FAILURE(ExtendFixtures("poi-", specs, "perl-link.xls"));
  EXPECT_TRUE(xls_tool::poi_agrees(scratch_path("poi"), specs));
}

TEST_F(Export, SpreadsheetProgramsReadExportedAndExtendedFilesAlike) {
  REQUIRE_XLS_TOOL("xlrd");
  REQUIRE_READERS();
  std::vector<std::string> specs;
  // A fresh workbook with every kind of number the export writes, and
  // texts of the whole code page.
  const std::string fresh = scratch_path("readers-fresh.xls");
  std::string every_byte;
  for (int b = 0x21; b < 0x100; ++b)
    if (b != 0x7F) every_byte += static_cast<char>(b);
  ASSERT_TRUE(ProfileLong(Numbered(200, 4), fresh, every_byte, 0.1f, "T\x80tel",
                          "Gr\xF6\xDF"
                          "e \x80")
                  .script_errors.empty());
  ASSERT_TRUE(Image(Numbered(3, 70), fresh, "a b c", "Image", "Bild").script_errors.empty());
  // Numbers a file may not store are the error #NUM! in every reader.
  const double inf = std::numeric_limits<double>::infinity();
  ASSERT_TRUE(Image(RealImage(3, 1, {std::nan(""), inf, -inf}), fresh, "", "", "Odd")
                  .script_errors.empty());
  // It opens on the sheet the first export made, which the later ones moved
  // back.
  specs.push_back(fresh +
                  "@Gr\xC3\xB6\xC3\x9F"
                  "e \xE2\x82\xAC");
  ASSERT_NO_FATAL_FAILURE(ExtendFixtures("readers-", specs));
  EXPECT_TRUE(xls_tool::readers_agree(scratch_path("readers"), specs));
  // Names as written, in every reader (they agree with xlrd's).
  xls_tool::Book read;
  ASSERT_TRUE(xls_tool::dump_book(fresh, read));
  ASSERT_EQ(read.size(), 4u);
  for (int x = 0; x < 3; ++x) EXPECT_EQ(read[0].At(2, x)->text, "#NUM!") << x;
  EXPECT_EQ(read[1].name, "Bild");
  EXPECT_EQ(read[2].name,
            "Gr\xC3\xB6\xC3\x9F"
            "e \xE2\x82\xAC");
  EXPECT_EQ(read[3].name, "Sheet1");
}

// Two processes exporting into one file at once (existing, or not yet):
// each new sheet is there unless its export said that it failed.
TEST_F(Export, ExportsFromTwoProcessesAtOnceKeepBothSheets) {
  DM_ImageToken img = Numbered(400, 20);
  for (int round = 0; round < 24; ++round) {
    const std::string file = scratch_path("together" + std::to_string(round) + ".xls");
    if (round % 2) Profile(Numbered(2, 1), file, "", 1.0f);
    pid_t child[2];
    for (int k = 0; k < 2; ++k)
      if ((child[k] = fork()) == 0)
        _exit(ProfileLong(img, file, "", 1.0f, "t", std::to_string(k)).script_errors.size());
    for (int k = 0; k < 2; ++k) {
      int status = 1;
      waitpid(child[k], &status, 0);
      EXPECT_EQ(ExcelFile(file.c_str()).GetWorksheet(std::to_string(k).c_str()) != nullptr,
                status == 0)
          << round;
    }
    EXPECT_EQ(temporary_files(file), 0u);
  }
}

TEST_F(Export, PipesSocketsFoldersAndNamesWithNulAreRefusedAtOnce) {
  const std::string pipe = scratch_path("pipe.xls"), socket_file = scratch_path("socket.xls"),
                    folder = scratch_path("folder.xls");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0666), 0);
  ASSERT_EQ(mkdir(folder.c_str(), 0777), 0);
  const int s = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{AF_UNIX, {}};
  socket_file.copy(address.sun_path, sizeof address.sun_path - 1);
  ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  for (const auto& [path, what] : {std::pair(pipe, "a named pipe, not a regular file"),
                                   std::pair(socket_file, "a socket, not a regular file"),
                                   std::pair(folder, "a folder, not a file")})
    EXPECT_EQ(Profile(Numbered(2, 1), path, "", 1.0f).script_errors,
              std::vector<std::string>{"saveprofileasxls: cannot extend \"" + path + "\": it is " +
                                       what + "; the file was left as it was"});
  close(s);
  // Not a file named after what precedes the NUL.
  EXPECT_EQ(Profile(Numbered(2, 1), pipe + std::string("\0.xls", 5), "", 1.0f).script_errors,
            std::vector<std::string>{"saveprofileasxls: the file name contains a NUL character"});
}

TEST_F(Export, AFileOfTheLongestNameIsExtended) {
  const std::string longest = scratch_path(std::string(251, 'n') + ".xls");
  ASSERT_TRUE(Profile(Numbered(2, 1), longest, "", 1.0f).script_errors.empty());
  EXPECT_TRUE(ProfileLong(Numbered(2, 1), longest, "", 1.0f, "t", "Again").script_errors.empty());
  EXPECT_EQ(sheet_names(ExcelFile(longest.c_str())),
            (std::vector<std::string>{"Again", "Profile", "Sheet1"}));
}

// What sits at the lock file's name and cannot be a lock is answered at
// once with a script error naming it; the workbook is left as it was.
TEST_F(Export, APipeFolderOrLinkAtTheLockFilesNameIsRefusedAtOnce) {
  const std::string file = scratch_path("locked-out.xls");
  const std::string lock = scratch_path(".locked-out.xls.lock");
  ASSERT_TRUE(Profile(Numbered(2, 1), file, "", 1.0f).script_errors.empty());
  const std::string before = file_bytes(file);
  const std::string target = scratch_path("private-target");
  write_bytes(target, "private");
  ASSERT_EQ(chmod(target.c_str(), 0600), 0);
  const std::function<int()> make[] = {[&] { return mkfifo(lock.c_str(), 0666); },
                                       [&] { return mkdir(lock.c_str(), 0777); },
                                       [&] { return symlink(target.c_str(), lock.c_str()); }};
  const char* what[] = {"it is a named pipe, not a regular file", "it is a folder, not a file",
                        "it is a symbolic link, not a regular file"};
  for (int k = 0; k < 3; ++k) {
    ASSERT_EQ(make[k](), 0);
    EXPECT_EQ(ProfileLong(Numbered(2, 1), file, "", 1.0f, "t", "s").script_errors,
              std::vector<std::string>{"saveprofileasxlslong: cannot write the workbook \"" + file +
                                       "\": cannot use the lock file \"" + lock + "\": " + what[k] +
                                       "; the file was left as it was"});
    EXPECT_EQ(file_bytes(file), before);
    std::filesystem::remove(lock);
  }
  struct stat info;
  ASSERT_EQ(stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  EXPECT_EQ(file_bytes(target), "private");
}

// Two members of one group, each under umask 077, export into the group's
// workbook in a shared folder at the same time: each can use the lock file
// the other made, and no sheet is lost.
TEST_F(Export, TwoMembersOfAGroupUnderUmask077KeepEverySheet) {
  if (geteuid() != 0) GTEST_SKIP() << "needs the superuser to run exports as two users";
  constexpr gid_t kGroup = 47001;
  constexpr uid_t kMembers[2] = {47002, 47003};
  // Runs body as the member, in a process of its own; its exit code.
  auto as_member = [&](int member, const std::function<int()>& body) {
    const pid_t pid = fork();
    if (pid == 0) {
      if (setgroups(1, &kGroup) != 0 || setresgid(kGroup, kGroup, kGroup) != 0 ||
          setresuid(kMembers[member], kMembers[member], kMembers[member]) != 0)
        _exit(99);
      umask(077);
      _exit(body());
    }
    return pid;
  };
  auto exit_code = [](pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
  };
  if (exit_code(as_member(0, [] { return 0; })) != 0)
    GTEST_SKIP() << "cannot run as other users here (no such ids in this user namespace?)";
  char pattern[] = "/tmp/kelpo_group_XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string folder = pattern, file = folder + "/shared.xls";
  ASSERT_EQ(chown(folder.c_str(), 0, kGroup), 0);
  ASSERT_EQ(chmod(folder.c_str(), 02775), 0);
  ASSERT_TRUE(Profile(Numbered(2, 1), file, "", 1.0f).script_errors.empty());
  ASSERT_EQ(chown(file.c_str(), kMembers[0], kGroup), 0);
  ASSERT_EQ(chmod(file.c_str(), 0660), 0);

  DM_ImageToken img = Numbered(400, 20);
  auto exports = [&](int member) {
    int failed = 0;
    for (int i = 0; i < 6; ++i) {
      const auto errors = ProfileLong(img, file, "", 1.0f, "t",
                                      "m" + std::to_string(member) + "-" + std::to_string(i))
                              .script_errors;
      for (const std::string& e : errors) std::fprintf(stderr, "%s\n", e.c_str());
      failed += !errors.empty();
    }
    return failed;
  };
  const pid_t first = as_member(0, [&] { return exports(0); });
  const pid_t second = as_member(1, [&] { return exports(1); });
  EXPECT_EQ(exit_code(first), 0);
  EXPECT_EQ(exit_code(second), 0);
  // One holds the lock a while: the other waits for it.
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t holder = as_member(0, [&] {
    WorkbookUpdate update;
    const bool begun = update.Begin(file, std::chrono::seconds(5));
    const char byte = 1;
    if (write(ready[1], &byte, 1) != 1 || !begun) return 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return update.Load() && update.Book().AddWorksheet("held", 0) && update.Commit() ? 0 : 1;
  });
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  EXPECT_EQ(exit_code(as_member(1, [&] { return exports(1); })), 0);
  EXPECT_EQ(exit_code(holder), 0);
  close(ready[0]);
  close(ready[1]);
  ExcelFile book(file.c_str());
  EXPECT_EQ(book.GetTotalSheets(), 15u);
  EXPECT_NE(book.GetWorksheet("held"), nullptr);
  struct stat info;
  ASSERT_EQ(stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0660u);
  EXPECT_EQ(info.st_gid, kGroup);

  std::filesystem::remove_all(folder);
}

// Writing into a sheet that exists: formulas elsewhere that depend on its
// cells show the new values where the workbook is opened; a protected
// sheet, or a formula range cut in part, refuses the export.
TEST_F(Export, WritingIntoAnExistingSheetRecalculatesAndRefusesWhatItWouldBreak) {
  REQUIRE_XLS_TOOL("xlrd");
  REQUIRE_READERS();
  const std::string original = xls_tool::fixture_path("libreoffice-features.xls");
  const std::string file = scratch_path("into-data.xls");
  write_bytes(file, file_bytes(original));
  DM_ImageToken img = Numbered(6, 1);
  const std::vector<double> px = host_.Pixels(img);
  standin::CallResult r = ProfileLong(img, file, "x y", 1.0f, "Title", "Data");
  ASSERT_TRUE(r.script_errors.empty()) << r.script_errors[0];
  // Every worksheet asks for a recalculation on opening, before its Index.
  const auto substreams =
      workbook_test::substream_records(workbook_test::read_workbook_stream(file));
  ASSERT_EQ(substreams.size(), 4u);
  for (size_t s = 1; s < substreams.size(); ++s)
    EXPECT_EQ(workbook_test::get16(substreams[s][1], 0), 0x005E) << s;
  // Calc: A1 = SUM(Data!B2:B5), B1 = Data!B3*2.
  for (const char* program : {"libreoffice", "gnumeric"}) {
    xls_tool::Book book;
    ASSERT_TRUE(xls_tool::recalculated_book(scratch_path(std::string("recalc-") + program), file,
                                            program, book));
    ASSERT_EQ(book.size(), 3u) << program;
    ASSERT_NE(book[1].At(0, 1), nullptr) << program;
    EXPECT_NEAR(book[1].At(0, 1)->number, 2 * px[0], 1e-9) << program;
    EXPECT_NEAR(book[1].At(0, 0)->number, px[0] + px[1] + px[2], 1e-9) << program;
  }

  const std::string kept = file_bytes(file);
  r = ProfileLong(img, file, "x y", 1.0f, "Title", "Locked");
  ASSERT_EQ(r.script_errors.size(), 1u);
  EXPECT_EQ(r.script_errors[0], "saveprofileasxlslong: the sheet \"Locked\" of the workbook \"" +
                                    file +
                                    "\" is protected by its author; the file was left as it was");
  // The array formula of Calc!B3:C4 would keep its second column only.
  r = ProfileLong(Numbered(5, 1), file, "x y", 1.0f, "Title", "Calc");
  ASSERT_EQ(r.script_errors.size(), 1u);
  EXPECT_EQ(r.script_errors[0],
            "saveprofileasxlslong: writing into the sheet \"Calc\" would cut the array formula of "
            "B3:C4; the file was left as it was");
  EXPECT_TRUE(file_bytes(file) == kept);
  // Covering it whole replaces it.
  ASSERT_TRUE(
      ProfileLong(Numbered(5, 2), file, "x y", 1.0f, "Title", "Calc").script_errors.empty());
}

// Encryption and macros keep an export out; structure protection only a
// new sheet.
TEST_F(Export, EncryptedWorkbooksMacrosAndProtectedStructuresAreRefusedByName) {
  using YCompoundFiles::YExcel::CarriedRecord;
  auto made = [&](const std::string& name, const std::vector<char>& record) {
    const std::string path = scratch_path(name);
    ExcelFile book;
    book.New(1);
    CarriedRecord carried;
    carried.Read(record.data(), record.size());
    book.globals.pieces.insert(book.globals.pieces.begin(), carried);
    EXPECT_TRUE(book.SaveAs(path.c_str()));
    return path;
  };
  using workbook_test::bytes_of;
  using workbook_test::record_of;
  const std::string tail = "; the file was left as it was";
  const std::string encrypted = made("encrypted.xls", record_of(0x002F, bytes_of({0, 0, 1, 0})));
  standin::CallResult r = ProfileLong(Numbered(4, 1), encrypted, "a", 1.0f, "T", "New");
  ASSERT_EQ(r.script_errors.size(), 1u);
  EXPECT_EQ(r.script_errors[0], "saveprofileasxlslong: cannot extend \"" + encrypted +
                                    "\": it is encrypted with a password, which this export "
                                    "cannot open" +
                                    tail);
  const std::string macros = made("macros.xls", record_of(0x00D3, {}));
  r = ProfileLong(Numbered(4, 1), macros, "a", 1.0f, "T", "Sheet1");
  ASSERT_EQ(r.script_errors.size(), 1u);
  EXPECT_EQ(r.script_errors[0],
            "saveprofileasxlslong: cannot extend \"" + macros +
                "\": it holds macros, which a new sheet could break and this export does not "
                "check" +
                tail);
  const std::string locked = made("structure.xls", record_of(0x0012, bytes_of({1, 0})));
  r = ProfileLong(Numbered(4, 1), locked, "a", 1.0f, "T", "New");
  ASSERT_EQ(r.script_errors.size(), 1u);
  EXPECT_EQ(r.script_errors[0], "saveprofileasxlslong: cannot extend \"" + locked +
                                    "\": its author protected the workbook's structure, which "
                                    "forbids adding sheets" +
                                    tail);
  EXPECT_TRUE(ProfileLong(Numbered(4, 1), locked, "a", 1.0f, "T", "Sheet1").script_errors.empty());
}
