#!/usr/bin/python3
"""The same work as workbook_probe, done by xlwt and xlrd; one measurement
per process. Prints key=value pairs like the probe.

  peers.py save-image W H FILE     xlwt: a W x H image of random floats
  peers.py save-profile N C FILE   xlwt: a profile of N points and C curves
  peers.py save-sparse R C FILE    xlwt: three cells, the last at (R, C)
  peers.py save-texts N K FILE     xlwt: N short text cells drawn from K texts
  peers.py load FILE               xlrd: open_workbook with its defaults
"""
import random
import struct
import sys
import time

FIRST_DATA_ROW = 2


def as_float(x):
    # The values of a float image, as the export stores them.
    return struct.unpack("f", struct.pack("f", x))[0]


def header(sheet, words):
    sheet.write(0, 0, "benchmark")
    for k in range(words):
        sheet.write(1, k, "w%d" % k)


def save(path, fill):
    import xlwt
    start = time.perf_counter()
    book = xlwt.Workbook()
    sheet = book.add_sheet("Data")
    cells = fill(sheet)
    book.save(path)
    print("seconds=%.6f cells=%d" % (time.perf_counter() - start, cells))


def image(width, height):
    rng = random.Random(1)

    def fill(sheet):
        header(sheet, 1)
        for x in range(width):
            for y in range(height):
                sheet.write(FIRST_DATA_ROW + y, x, as_float(rng.random()))
        return width * height + 2
    return fill


def profile(points, curves):
    rng = random.Random(2)

    def fill(sheet):
        header(sheet, curves + 1)
        for i in range(points):
            row = sheet.row(FIRST_DATA_ROW + i)
            row.write(0, as_float(i * 0.01))
            for j in range(curves):
                row.write(1 + j, as_float(rng.random()))
        return points * (curves + 1) + curves + 2
    return fill


def sparse(row, col):
    def fill(sheet):
        sheet.write(0, 0, 1.5)
        sheet.write(1, 1, "two")
        sheet.write(row, col, 3)
        return 3
    return fill


def texts(cells, distinct):
    # Row by row, as many columns as keep the rows within the sheet.
    columns = max(1, -(-cells // 60000))

    def fill(sheet):
        for i in range(cells):
            r, c = divmod(i, columns)
            sheet.write(r, c, "t%d" % (i % distinct))
        return cells
    return fill


def load(path):
    import xlrd
    start = time.perf_counter()
    book = xlrd.open_workbook(path)
    seconds = time.perf_counter() - start
    cells = 0
    for sheet in book.sheets():
        for r in range(sheet.nrows):
            cells += sum(1 for t in sheet.row_types(r) if t not in (xlrd.XL_CELL_EMPTY, xlrd.XL_CELL_BLANK))
    print("seconds=%.6f cells=%d" % (seconds, cells))


def main(argv):
    command = argv[1] if len(argv) > 1 else ""
    if command == "save-image" and len(argv) == 5:
        save(argv[4], image(int(argv[2]), int(argv[3])))
    elif command == "save-profile" and len(argv) == 5:
        save(argv[4], profile(int(argv[2]), int(argv[3])))
    elif command == "save-sparse" and len(argv) == 5:
        save(argv[4], sparse(int(argv[2]), int(argv[3])))
    elif command == "save-texts" and len(argv) == 5:
        save(argv[4], texts(int(argv[2]), int(argv[3])))
    elif command == "load" and len(argv) == 3:
        load(argv[2])
    else:
        sys.stderr.write(__doc__)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
