#include "export_functions.h"

#include "excel_file.h"
#include "kelpotools.h"

#include <cstdint>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

using YCompoundFiles::YExcel::ExcelCell;
using YCompoundFiles::YExcel::ExcelFile;
using YCompoundFiles::YExcel::ExcelSheet;

namespace {

// Rows 0 and 1 hold the title and the header; the data start below them.
constexpr uint32_t first_data_row = 2;
constexpr uint64_t max_rows = ExcelSheet::kMaxRows;
constexpr uint64_t max_cols = ExcelSheet::kMaxCols;

enum class Layout { profile, image };

struct Request {
    const char *function;
    Layout layout;
    std::string file, header, title, sheet;
    float scale = 1.0f;
};

std::string text_of(DM_StringToken token) { return DM_string_to_std(dm_string::share(token), 0); }

[[noreturn]] void refuse(const Request &r, const std::string &reason)
{
    throw std::runtime_error(std::string(r.function) + ": " + reason);
}

std::vector<std::string> words_of(const std::string &header)
{
    std::istringstream in(header);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

// Sheet rows and columns the data need.
void data_extent(const Request &r, uint64_t width, uint64_t height, uint64_t &rows, uint64_t &cols)
{
    if (r.layout == Layout::profile) {
        rows = width;
        cols = height + 1;
    } else {
        rows = height;
        cols = width;
    }
}

// Checked before the file is read, so that a refused call leaves it alone
// and no cell is ever asked for beyond the sheet.
void check_limits(const Request &r, uint64_t width, uint64_t height, size_t words)
{
    uint64_t rows = 0, cols = 0;
    data_extent(r, width, height, rows, cols);
    if (first_data_row + rows > max_rows || cols > max_cols) {
        refuse(r, r.layout == Layout::profile
                      ? "the profile does not fit into a sheet (at most 65534 points and 255 rows)"
                      : "the image does not fit into a sheet (at most 256 columns and 65534 rows)");
    }
    if (words > max_cols) refuse(r, "the header has more than 256 words");
    if (r.sheet.size() > ExcelFile::kMaxNameLength)
        refuse(r, "the sheet name is longer than 255 characters");
}

ExcelCell &cell(ExcelSheet &sheet, uint64_t row, uint64_t col)
{
    // Within the limits checked above, a cell always exists.
    ExcelCell *c = sheet.Cell(row, col);
    if (!c) throw std::logic_error("cell outside the sheet");
    return *c;
}

void write_cells(const Request &r, ExcelSheet &sheet, const std::vector<std::string> &words,
                 const float *pixels, uint64_t width, uint64_t height)
{
    uint64_t rows = 0, cols = 0;
    data_extent(r, width, height, rows, cols);
    // Growing the table to its final size once spares a regrowth per
    // column.
    if (rows && cols) cell(sheet, first_data_row + rows - 1, cols - 1);

    cell(sheet, 0, 0).SetString(r.title.c_str());
    for (size_t k = 0; k < words.size(); ++k) cell(sheet, 1, k).SetString(words[k].c_str());

    if (r.layout == Layout::profile) {
        for (uint64_t i = 0; i < width; ++i) {
            const float abscissa = static_cast<float>(i) * r.scale;
            cell(sheet, first_data_row + i, 0).SetDouble(abscissa);
            for (uint64_t j = 0; j < height; ++j)
                cell(sheet, first_data_row + i, 1 + j).SetDouble(pixels[i + j * width]);
        }
    } else {
        for (uint64_t x = 0; x < width; ++x)
            for (uint64_t y = 0; y < height; ++y)
                cell(sheet, first_data_row + y, x).SetDouble(pixels[x + y * width]);
    }
}

void save_to_workbook(const Request &r, DM_RealImageToken token)
{
    RealImagePtr image(token);
    const uint64_t width = DM::ImageGetDimensionSize(image, 0);
    const uint64_t height = DM::ImageGetDimensionSize(image, 1);
    const std::vector<std::string> words = words_of(r.header);
    check_limits(r, width, height, words.size());
    PixelLock lock(image);

    ExcelFile book;
    if (!book.Load(r.file.c_str())) book.New(1);
    ExcelSheet *sheet = book.GetWorksheet(r.sheet.c_str());
    if (!sheet) sheet = book.AddWorksheet(r.sheet.c_str(), 0);
    if (!sheet) refuse(r, "cannot add the sheet \"" + r.sheet + "\"");
    write_cells(r, *sheet, words, lock.data(), width, height);
    if (!book.SaveAs(r.file.c_str())) refuse(r, "cannot write the workbook \"" + r.file + "\"");
}

}  // namespace

void saveprofileasxlslong(DM_RealImageToken image, DM_StringToken file, DM_StringToken header,
                          float scale, DM_StringToken title, DM_StringToken sheet)
{
    Request r{"saveprofileasxlslong", Layout::profile, text_of(file), text_of(header),
              text_of(title), text_of(sheet), scale};
    save_to_workbook(r, image);
}

void saveprofileasxls(DM_RealImageToken image, DM_StringToken file, DM_StringToken header,
                      float scale)
{
    Request r{"saveprofileasxls", Layout::profile, text_of(file), text_of(header), "Profile",
              "Profile", scale};
    save_to_workbook(r, image);
}

void saveimageasxls(DM_RealImageToken image, DM_StringToken file, DM_StringToken header,
                    DM_StringToken title, DM_StringToken sheet)
{
    Request r{"saveimageasxls", Layout::image, text_of(file), text_of(header), text_of(title),
              text_of(sheet)};
    save_to_workbook(r, image);
}
