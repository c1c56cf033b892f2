"""Bridge between the workbook tests and independent .xls readers and writers.

Commands (exit 0 on success, 2 on a usage or tool error):
  probe              print "<module> yes|no" for xlrd and xlwt
  dump FILE          read FILE with xlrd and list every sheet and cell
  make-xlwt FILE     write a workbook with xlwt (the cells below), then
                     list it as dump does, from what was written
  probe-readers      print "<program> yes|no" for soffice and ssconvert
  probe-poi          print "poi yes|no": whether java, javac and the Java
                     spreadsheet library (libapache-poi-java) are installed
  check-poi DIR SPEC...
                     compile PoiCompare.java into DIR and run it once for
                     every SPEC (EXTENDED=ORIGINAL): every sheet of the
                     original must read the same in the extended file
                     through the Java library; prints its faults
  phonetic FILE      list the phonetic readings of the shared strings, read
                     from the record bytes: one line per string that has
                     one, its text (escaped as below), a tab, the reading's
                     bytes in hexadecimal
  check DIR SPEC...  open each file with xlrd, LibreOffice (headless, one
                     run for all files) and gnumeric's ssconvert, working in
                     DIR; SPEC is FILE, FILE@SHEET or FILE=ORIGINAL. Every program must
                     read FILE without a warning, with the sheet names and
                     every value xlrd reads; with an ORIGINAL, every sheet of
                     it must be in FILE with every value and its number
                     format (as xlrd reads it, and as LibreOffice writes it
                     again) and every value's kind as gnumeric reads it
                     unchanged, and so must be what every program
                     sees of its rows and columns. Every program must also open FILE on
                     one sheet, the one the ORIGINAL opens on (else SHEET,
                     else the first), with that sheet alone selected. Prints
                     one line per fault and exits 1 when there is any.

Listing, one line each, fields separated by tabs:
  sheet NAME ROWS COLS
  cell ROW COL KIND VALUE
KIND is "number" (VALUE is Python's repr of the float, which reads back
exactly), "text" (VALUE with backslash, tab and line feed escaped as \\, \t
and \n), "bool" or "error" (VALUE the error's text, such as #NUM!); empty
and blank cells are not listed. Text is UTF-8.
"""
import os
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
                elif cell.ctype == xlrd.XL_CELL_DATE:
                    cells.append((r, c, "number", cell.value))
                elif cell.ctype == xlrd.XL_CELL_TEXT:
                    cells.append((r, c, "text", cell.value))
                elif cell.ctype == xlrd.XL_CELL_BOOLEAN:
                    cells.append((r, c, "bool", cell.value))
                elif cell.ctype == xlrd.XL_CELL_ERROR:
                    cells.append((r, c, "error", xlrd.error_text_from_code[cell.value]))
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


# --- Other spreadsheet programs as readers -------------------------------
# A reading: [(sheet name, {(row, col): (kind, value)})], numbers as floats,
# plus the warnings the program gave.

def read_xlrd(path):
    """Values with their kinds: "text", or "number" and its number format."""
    import xlrd
    book = xlrd.open_workbook(path, formatting_info=True)
    sheets = []
    for sheet in book.sheets():
        cells = {}
        for r in range(sheet.nrows):
            for c in range(sheet.ncols):
                cell = sheet.cell(r, c)
                if cell.ctype in (xlrd.XL_CELL_NUMBER, xlrd.XL_CELL_DATE):
                    key = book.xf_list[cell.xf_index].format_key
                    form = book.format_map[key].format_str if key in book.format_map else "?"
                    cells[(r, c)] = ("number " + form, float(cell.value))
                elif cell.ctype == xlrd.XL_CELL_TEXT:
                    cells[(r, c)] = ("text", cell.value)
                elif cell.ctype == xlrd.XL_CELL_BOOLEAN:
                    cells[(r, c)] = ("bool", bool(cell.value))
                elif cell.ctype == xlrd.XL_CELL_ERROR:
                    cells[(r, c)] = ("error", xlrd.error_text_from_code[cell.value])
                elif cell.ctype not in (xlrd.XL_CELL_EMPTY, xlrd.XL_CELL_BLANK):
                    cells[(r, c)] = ("other", cell.value)
        sheets.append((sheet.name, cells))
    return sheets


def layout_xlrd(path):
    """{sheet name: {("col"|"row", index): what a user sees of it}}: widths,
    heights set by hand, hidden, outline levels and default formats (their
    number format and font weight) of the columns and rows that have any."""
    import xlrd
    book = xlrd.open_workbook(path, formatting_info=True)

    def form(xf_index):
        xf = book.xf_list[xf_index]
        key = xf.format_key
        return (book.format_map[key].format_str if key in book.format_map else "?",
                book.font_list[xf.font_index].weight)

    out = {}
    for sheet in book.sheets():
        seen = {}
        for c, info in sheet.colinfo_map.items():
            seen[("col", c)] = (info.width, info.hidden, info.outline_level, form(info.xf_index))
        for r, info in sheet.rowinfo_map.items():
            if info.height_mismatch or info.hidden or info.outline_level or info.has_default_xf_index:
                seen[("row", r)] = (info.height if info.height_mismatch else None, info.hidden,
                                    info.outline_level,
                                    form(info.xf_index) if info.has_default_xf_index else None)
        out[sheet.name] = seen
    return out


def layout_gnumeric(root):
    g = "{http://www.gnumeric.org/v10.dtd}"
    out = {}
    for sheet in root.iter(g + "Sheet"):
        seen = {}
        for kind in ("Col", "Row"):
            for info in sheet.iter(g + kind + "Info"):
                first = int(info.get("No"))
                attributes = tuple(sorted((k, v) for k, v in info.attrib.items()
                                          if k not in ("No", "Count")))
                for i in range(first, first + int(info.get("Count", "1"))):
                    seen[(kind, i)] = attributes
        out[sheet.find(g + "Name").text] = seen
    return out


def view_xlrd(path):
    """(the sheet shown when the file opens, the number of selected sheets)"""
    import xlrd
    book = xlrd.open_workbook(path, on_demand=True)
    shown = [book.sheet_by_index(i) for i in range(book.nsheets)]
    active = [s.name for s in shown if s.sheet_visible]
    selected = sum(1 for s in shown if s.sheet_selected)
    return (active[0] if len(active) == 1 else None, selected)


def active_in_window1(path):
    """The sheet Window1 names active, as a spreadsheet program opens it."""
    import struct
    import olefile
    import xlrd
    book = xlrd.open_workbook(path, on_demand=True)
    with olefile.OleFileIO(path) as ole:
        data = ole.openstream("Workbook").read()
    p = 0
    while p + 4 <= len(data):
        code, length = struct.unpack_from("<HH", data, p)
        if code == 0x003D and length >= 12:
            index = struct.unpack_from("<H", data, p + 14)[0]
            return book.sheet_names()[index] if index < book.nsheets else None
        if code == 0x000A:
            break
        p += 4 + length
    return book.sheet_names()[0] if book.nsheets else None


def chart_sheets(path):
    """Names of the sheets that are not worksheets (xlrd leaves them out)."""
    import struct
    import olefile
    with olefile.OleFileIO(path) as ole:
        data = ole.openstream("Workbook").read()
    names, p = set(), 0
    while p + 4 <= len(data):
        code, length = struct.unpack_from("<HH", data, p)
        if code == 0x0085 and length >= 8 and data[p + 9] != 0:
            count, wide = data[p + 10], data[p + 11] & 1
            raw = data[p + 12:p + 12 + count * (2 if wide else 1)]
            names.add(raw.decode("utf-16-le" if wide else "latin-1"))
        if code == 0x000A:
            break
        p += 4 + length
    return names


POI_JARS = ["/usr/share/java/" + jar for jar in
            ("poi.jar", "commons-collections4.jar", "commons-math3.jar", "commons-codec.jar")]


def poi_present():
    import shutil
    return bool(shutil.which("java") and shutil.which("javac") and
                all(os.path.exists(jar) for jar in POI_JARS))


def check_poi(folder, specs):
    here = os.path.dirname(os.path.abspath(__file__))
    classes = os.path.join(folder, "poi-classes")
    os.makedirs(classes, exist_ok=True)
    classpath = ":".join(POI_JARS)
    import subprocess
    made = subprocess.run(["javac", "-cp", classpath, "-d", classes,
                           os.path.join(here, "PoiCompare.java")],
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if made.returncode != 0:
        sys.stdout.write(made.stdout)
        return 2
    done = subprocess.run(["java", "-cp", classpath + ":" + classes, "PoiCompare"] + specs,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    sys.stdout.write(done.stdout)
    return done.returncode


def view_gnumeric(path):
    import gzip
    import xml.etree.ElementTree as ET
    g = "{http://www.gnumeric.org/v10.dtd}"
    with gzip.open(path) as f:
        root = ET.parse(f).getroot()
    names = [sheet.find(g + "Name").text for sheet in root.iter(g + "Sheet")]
    tab = root.find(g + "UIData")
    index = int(tab.get("SelectedTab")) if tab is not None else 0
    # The file format holds only the active tab, which is selected.
    return (names[index] if index < len(names) else None, 1)


def gnumeric_root(path):
    import gzip
    import xml.etree.ElementTree as ET
    with gzip.open(path) as f:
        return ET.parse(f).getroot()


def constant_gnumeric(text):
    """A formula that is one constant as its value, any other as "formula"."""
    if text in ("#NULL!", "#DIV/0!", "#VALUE!", "#REF!", "#NAME?", "#NUM!", "#N/A"):
        return ("error", text)
    if text.upper() in ("TRUE", "FALSE"):
        return ("bool", text.upper() == "TRUE")
    if len(text) >= 2 and text[0] == text[-1] == '"':
        return ("text", text[1:-1].replace('""', '"'))
    try:
        return ("number", float(text))
    except ValueError:
        return ("formula", text)


def read_gnumeric(path):
    g = "{http://www.gnumeric.org/v10.dtd}"
    root = gnumeric_root(path)
    sheets = []
    for sheet in root.iter(g + "Sheet"):
        cells = {}
        # A formula's text stands in its first cell; the others name it.
        shared = {}
        for cell in sheet.iter(g + "Cell"):
            kind = cell.get("ValueType")
            at = (int(cell.get("Row")), int(cell.get("Col")))
            expression = cell.text if cell.text and cell.text.startswith("=") else None
            if cell.get("ExprID") is not None:
                expression = shared.setdefault(cell.get("ExprID"), expression)
            if kind is None and expression is not None:
                cells[at] = constant_gnumeric(expression[1:])
            elif kind == "60":
                cells[at] = ("text", cell.text or "")
            elif kind in ("30", "40"):
                cells[at] = ("number", float(cell.text))
            elif kind == "20":
                cells[at] = ("bool", cell.text.upper() == "TRUE")
            elif kind == "50":
                cells[at] = ("error", cell.text)
            elif kind is not None:
                cells[at] = ("other", cell.text)
        # The cells of an array formula other than its first hold no
        # expression of their own.
        for cell in sheet.iter(g + "Cell"):
            if cell.get("Rows") and cell.get("Cols"):
                row, col = int(cell.get("Row")), int(cell.get("Col"))
                for r in range(row, row + int(cell.get("Rows"))):
                    for c in range(col, col + int(cell.get("Cols"))):
                        cells[(r, c)] = ("formula", cell.text)
        sheets.append((sheet.find(g + "Name").text, cells))
    return sheets


def run(command):
    import subprocess
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    # LibreOffice's note that it runs without Java is no warning about the file.
    errors = [l for l in done.stderr.splitlines() if l.strip() and "javaldx" not in l]
    return done.returncode, errors


def read_with_programs(folder, paths):
    """{path: {"xlrd"|"libreoffice"|"gnumeric": (sheets, warnings)}}"""
    import os
    out = {p: {} for p in paths}
    # LibreOffice writes numbers as decimal text of 15 digits into its other
    # formats; written as .xls they keep every bit, and xlrd reads them.
    written = os.path.join(folder, "libreoffice")
    os.makedirs(written, exist_ok=True)
    profile = "file://" + os.path.abspath(os.path.join(folder, "profile"))
    rc, errors = run(["soffice", "-env:UserInstallation=" + profile, "--headless",
                      "--convert-to", "xls", "--outdir", written] + list(paths))
    for i, p in enumerate(paths):
        try:
            out[p]["xlrd"] = (read_xlrd(p), [], view_xlrd(p), layout_xlrd(p))
        except Exception as e:
            out[p]["xlrd"] = ([], ["xlrd: %s" % e], None, {})
        converted = os.path.join(written, os.path.basename(p))
        if os.path.exists(converted):
            out[p]["libreoffice"] = (read_xlrd(converted), errors, view_xlrd(converted),
                                     layout_xlrd(converted))
        else:
            out[p]["libreoffice"] = ([], errors + ["LibreOffice did not convert it"], None, {})
        gnumeric = os.path.join(folder, "%d.gnumeric" % i)
        rc, warnings = run(["ssconvert", "--export-type=Gnumeric_XmlIO:sax", p, gnumeric])
        if rc == 0:
            out[p]["gnumeric"] = (read_gnumeric(gnumeric), warnings, view_gnumeric(gnumeric),
                                  layout_gnumeric(gnumeric_root(gnumeric)))
        else:
            out[p]["gnumeric"] = ([], warnings, None, {})
    return out


def check(folder, specs):
    opens = {}
    for s in specs:
        if "@" in s:
            s, sheet = s.split("@", 1)
            opens[s.split("=", 1)[0]] = sheet
    specs = [s.split("@", 1)[0] for s in specs]
    pairs = [s.split("=", 1) if "=" in s else [s, None] for s in specs]
    paths = []
    for f, original in pairs:
        paths += [f] + ([original] if original else [])
    readings = read_with_programs(folder, list(dict.fromkeys(paths)))
    faults = []
    for f, original in pairs:
        reference, warnings, _, _ = readings[f]["xlrd"]
        faults += ["%s: %s" % (f, w) for w in warnings]
        names = [n for n, _ in reference]
        # The sheet the file should open on, alone selected.
        opens_on = opens.get(f, names[0] if names else None)
        if original:
            opens_on = active_in_window1(original)
        for program in ("xlrd", "libreoffice", "gnumeric"):
            view = readings[f][program][2]
            if view and view != (opens_on, 1):
                faults.append("%s: %s opens it on %r with %d sheets selected, not on %r alone" %
                              (f, program, view[0], view[1], opens_on))
        # Cells a formula computes: xlrd shows the result the file holds,
        # LibreOffice its own, gnumeric the formula; they are compared by
        # each program with the original below.
        formulas = {(name, at) for name, cells in readings[f]["gnumeric"][0]
                    for at, value in cells.items() if value[0] == "formula"}
        charts = chart_sheets(f)
        for program in ("libreoffice", "gnumeric"):
            sheets, warnings, _, _ = readings[f][program]
            sheets = [(n, cells) for n, cells in sheets if n not in charts]
            faults += ["%s: %s warns: %s" % (f, program, w) for w in warnings]
            if [n for n, _ in sheets] != names:
                faults.append("%s: %s reads the sheets %r, xlrd %r" % (f, program, [n for n, _ in sheets], names))
                continue
            for (name, cells), (_, want) in zip(sheets, reference):
                for at in sorted(set(cells) | set(want)):
                    if (name, at) in formulas:
                        continue
                    got = cells.get(at)
                    # LibreOffice takes a text cell holding the empty
                    # string for an empty cell, in the original as well.
                    if program == "libreoffice" and got is None and want.get(at) == ("text", ""):
                        continue
                    # The kind too, not its number format.
                    if (got is None or at not in want or got[1] != want[at][1] or
                            got[0].split()[0] != want[at][0].split()[0]):
                        faults.append("%s: %s reads %r at %s of %r where xlrd reads %r" %
                                      (f, program, got, at, name, want.get(at)))
        if original:
            # Widths, heights, hidden rows and columns, outline levels and
            # default formats as every program sees them.
            for program in ("xlrd", "libreoffice", "gnumeric"):
                now = readings[f][program][3]
                for name, was in readings[original][program][3].items():
                    if name in now and now[name] != was:
                        faults.append("%s: %s reads the rows and columns of %r as %r, the "
                                      "original as %r" % (f, program, name, now[name], was))
            by_xlrd = dict(readings[original]["xlrd"][0])
            for program in ("xlrd", "libreoffice", "gnumeric"):
                now = dict(readings[f][program][0])
                for name, cells in readings[original][program][0]:
                    if name not in now:
                        faults.append("%s: %s lost the sheet %r" % (f, program, name))
                        continue
                    for at, value in sorted(cells.items()):
                        got = now[name].get(at)
                        # LibreOffice does not read back the error of a
                        # formula of one constant that it wrote itself: it
                        # shows an error of its own (written as #N/A).
                        if (program == "libreoffice" and value == ("error", "#N/A") and
                                got is not None and got[0] == "error" and
                                by_xlrd.get(name, {}).get(at, ("",))[0] == "error"):
                            continue
                        if got != value:
                            faults.append("%s: %s reads %r at %s of %r, the original %r" %
                                          (f, program, now[name].get(at), at, name, value))
    for fault in faults:
        print(fault)
    return 1 if faults else 0


def phonetic(path):
    import struct
    import olefile
    with olefile.OleFileIO(path) as ole:
        stream = ole.openstream("Workbook").read()
    # The shared string table, its CONTINUE records joined: a part that
    # continues a string's characters starts with a flags byte.
    parts, p = [], 0
    while p + 4 <= len(stream):
        code, length = struct.unpack_from("<HH", stream, p)
        if code == 0x00FC or (parts and code == 0x003C):
            parts.append(stream[p + 4:p + 4 + length])
        elif parts:
            break
        p += 4 + length
    out = []
    part, at = 0, 8

    def take(n, characters=False, wide=False):
        nonlocal part, at
        got = b""
        while n > 0:
            if at == len(parts[part]):
                part, at = part + 1, 0
                if characters:
                    wide = parts[part][0] & 1
                    at = 1
            unit = 2 if (characters and wide) else 1
            here = min(n * unit, len(parts[part]) - at)
            piece = parts[part][at:at + here]
            got += piece.decode("latin-1").encode("utf-16-le") if characters and not wide else piece
            at += here
            n -= here // unit
        return got

    for _ in range(struct.unpack_from("<I", parts[0], 4)[0]):
        count, flags = struct.unpack("<HB", take(3))
        runs = struct.unpack("<H", take(2))[0] if flags & 8 else 0
        size = struct.unpack("<I", take(4))[0] if flags & 4 else 0
        text = take(count, True, flags & 1).decode("utf-16-le")
        take(4 * runs)
        reading = take(size)
        if size:
            out.append("%s\t%s" % (escape(text), reading.hex()))
    return "".join(line + "\n" for line in out)


def recalculated(folder, path, program):
    """The workbook as the program computes it on opening, saved as .xls
    by it and read by xlrd (dump's listing)."""
    import os
    out = os.path.join(folder, program)
    os.makedirs(out, exist_ok=True)
    converted = os.path.join(out, os.path.basename(path))
    if program == "libreoffice":
        profile = "file://" + os.path.abspath(os.path.join(folder, "profile"))
        run(["soffice", "-env:UserInstallation=" + profile, "--headless", "--convert-to", "xls",
             "--outdir", out, path])
    else:
        run(["ssconvert", path, converted])
    return dump(converted)


def main(argv):
    sys.stdout.reconfigure(encoding="utf-8")
    if len(argv) >= 2 and argv[1] == "probe":
        for module in ("xlrd", "xlwt"):
            print("%s %s" % (module, "yes" if have(module) else "no"))
        return 0
    if len(argv) == 3 and argv[1] == "phonetic":
        sys.stdout.write(phonetic(argv[2]))
        return 0
    if len(argv) == 3 and argv[1] == "dump":
        sys.stdout.write(dump(argv[2]))
        return 0
    if len(argv) >= 2 and argv[1] == "probe-readers":
        import shutil
        for program in ("soffice", "ssconvert"):
            print("%s %s" % (program, "yes" if shutil.which(program) else "no"))
        return 0
    if len(argv) == 2 and argv[1] == "probe-poi":
        print("poi %s" % ("yes" if poi_present() else "no"))
        return 0
    if len(argv) >= 4 and argv[1] == "check-poi":
        return check_poi(argv[2], argv[3:])
    if len(argv) >= 4 and argv[1] == "check":
        return check(argv[2], argv[3:])
    if len(argv) == 5 and argv[1] == "recalculated":
        sys.stdout.write(recalculated(argv[2], argv[3], argv[4]))
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
