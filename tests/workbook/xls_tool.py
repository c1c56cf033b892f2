"""Bridge between the workbook tests and independent .xls readers and writers.

Commands (exit 0 on success, 2 on a usage or tool error):
  probe              print "<module> yes|no" for xlrd and xlwt
  dump FILE          read FILE with xlrd and list every sheet and cell
  make-xlwt FILE     write a workbook with xlwt (the cells below), then
                     list it as dump does, from what was written

Listing, one line each, fields separated by tabs:
  sheet NAME ROWS COLS
  cell ROW COL KIND VALUE
KIND is "number" (VALUE is Python's repr of the float, which reads back
exactly), "text" (VALUE with backslash, tab and line feed escaped as \\, \t
and \n) or "bool"; empty and blank cells are not listed. Text is UTF-8.
"""
import sys


def have(module):
    try:
        __import__(module)
        return True
    except ImportError:
        return False


def escape(text):
    return text.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n")


def listing(sheets):
    """sheets: [(name, rows, cols, [(r, c, kind, value)])]"""
    out = []
    for name, rows, cols, cells in sheets:
        out.append("sheet\t%s\t%d\t%d" % (escape(name), rows, cols))
        for r, c, kind, value in cells:
            if kind == "number":
                text = repr(float(value))
            elif kind == "bool":
                text = "1" if value else "0"
            else:
                text = escape(value)
            out.append("cell\t%d\t%d\t%s\t%s" % (r, c, kind, text))
    return "\n".join(out) + "\n"


def dump(path):
    import xlrd
    book = xlrd.open_workbook(path)
    sheets = []
    for sheet in book.sheets():
        cells = []
        for r in range(sheet.nrows):
            for c in range(sheet.ncols):
                cell = sheet.cell(r, c)
                if cell.ctype == xlrd.XL_CELL_NUMBER:
                    cells.append((r, c, "number", cell.value))
                elif cell.ctype == xlrd.XL_CELL_TEXT:
                    cells.append((r, c, "text", cell.value))
                elif cell.ctype == xlrd.XL_CELL_BOOLEAN:
                    cells.append((r, c, "bool", cell.value))
                elif cell.ctype not in (xlrd.XL_CELL_EMPTY, xlrd.XL_CELL_BLANK):
                    raise ValueError("unexpected cell type %d at %d,%d" % (cell.ctype, r, c))
        sheets.append((sheet.name, sheet.nrows, sheet.ncols, cells))
    return listing(sheets)


# Numbers that xlwt stores in each of its forms: RK integers, RK hundredths,
# and full doubles; texts narrow and beyond Latin-1.
def xlwt_content():
    data = [(0, 0, "text", "Measured"), (1, 0, "text", "q"), (1, 1, "text", "I(q)")]
    for i in range(40):
        data.append((2 + i, 0, "number", float(i)))
        data.append((2 + i, 1, "number", i * 0.25 + 0.01))
        data.append((2 + i, 2, "number", 1.0 / (i + 3)))
    notes = [(0, 0, "text", u"Gr\u00f6\u00dfe \u03bcm"), (0, 2, "text", "tab\there"),
             (2, 1, "number", -123456.75), (3, 0, "number", 17.0),
             (4, 3, "number", 1e300)]
    return [("Data", data), (u"Notizen \u00e4", notes)]


def make_xlwt(path):
    import xlwt
    book = xlwt.Workbook(encoding="utf-8")
    written = []
    for name, cells in xlwt_content():
        sheet = book.add_sheet(name)
        for r, c, kind, value in cells:
            sheet.write(r, c, value)
        rows = max(r for r, _, _, _ in cells) + 1
        cols = max(c for _, c, _, _ in cells) + 1
        written.append((name, rows, cols, sorted(cells)))
    book.save(path)
    return listing(written)


def main(argv):
    sys.stdout.reconfigure(encoding="utf-8")
    if len(argv) >= 2 and argv[1] == "probe":
        for module in ("xlrd", "xlwt"):
            print("%s %s" % (module, "yes" if have(module) else "no"))
        return 0
    if len(argv) == 3 and argv[1] == "dump":
        sys.stdout.write(dump(argv[2]))
        return 0
    if len(argv) == 3 and argv[1] == "make-xlwt":
        sys.stdout.write(make_xlwt(argv[2]))
        return 0
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv))
    except Exception as e:  # a tool error, reported to the test
        sys.stderr.write("%s: %s\n" % (type(e).__name__, e))
        sys.exit(2)
