"""Bridge between the compound-document tests and independent tools.

Commands (exit 0 on success, 1 on a mismatch, 2 on a usage or tool error):
  probe                      print "<tool> yes|no" for olefile, gsf, xlwt
  check FILE MANIFEST        FILE must hold exactly the streams and storages
                             the manifest lists, with the same bytes, as seen
                             by olefile and by gsf
  make-xlwt FILE MANIFEST    write an .xls workbook with xlwt and list its
                             streams (bytes as olefile reads them)
  make-gsf FILE MANIFEST     write a compound file with 'gsf createole' from
                             files of several sizes, and list them

Manifest lines: "S<TAB>path<TAB>bytes-file" for a stream, "D<TAB>path" for a
storage; paths use backslashes and start with one.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

GSF = shutil.which("gsf")
# "f  2024-01-01 10:00:00      5000 dir/name" (the time stamp is optional)
LIST_LINE = re.compile(r"^([fd])\s+(?:\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\s+)?(\d+) (.*)$")


def have_olefile():
    try:
        import olefile  # noqa: F401
        return True
    except ImportError:
        return False


def have_xlwt():
    try:
        import xlwt  # noqa: F401
        return True
    except ImportError:
        return False


def read_manifest(path):
    streams, storages = {}, set()
    base = os.path.dirname(path)
    with open(path, encoding="utf-8") as f:
        for line in f:
            parts = line.rstrip("\n").split("\t")
            if parts[0] == "S":
                with open(os.path.join(base, parts[2]), "rb") as data:
                    streams[parts[1]] = data.read()
            elif parts[0] == "D":
                storages.add(parts[1])
    return streams, storages


def write_manifest(path, streams, storages):
    base = os.path.dirname(path)
    with open(path, "w", encoding="utf-8") as f:
        for i, (name, data) in enumerate(sorted(streams.items())):
            blob = "expected_%d.bin" % i
            with open(os.path.join(base, blob), "wb") as out:
                out.write(data)
            f.write("S\t%s\t%s\n" % (name, blob))
        for name in sorted(storages):
            f.write("D\t%s\n" % name)


def olefile_view(path):
    import olefile
    ole = olefile.OleFileIO(path)
    streams, storages = {}, set()
    for parts in ole.listdir(streams=True, storages=False):
        streams["\\" + "\\".join(parts)] = ole.openstream(parts).read()
    for parts in ole.listdir(streams=False, storages=True):
        storages.add("\\" + "\\".join(parts))
    ole.close()
    return streams, storages


def gsf_view(path):
    out = subprocess.run([GSF, "list", path], capture_output=True, check=True).stdout.decode()
    streams, storages = {}, set()
    for line in out.splitlines()[1:]:
        match = LIST_LINE.match(line)
        if not match:
            continue
        kind, size, name = match.group(1), int(match.group(2)), match.group(3)
        if kind == "d":
            if name != "*root*":
                storages.add("\\" + name.replace("/", "\\"))
        elif kind == "f":
            data = subprocess.run([GSF, "cat", path, name], capture_output=True, check=True).stdout
            if len(data) != size:
                raise RuntimeError("gsf size mismatch for " + name)
            streams["\\" + name.replace("/", "\\")] = data
    return streams, storages


def compare(tool, got, expected):
    gs, gd = got
    es, ed = expected
    problems = []
    if set(gs) != set(es):
        problems.append("%s streams differ: extra %s missing %s" % (tool, sorted(set(gs) - set(es)), sorted(set(es) - set(gs))))
    for name in set(gs) & set(es):
        if gs[name] != es[name]:
            problems.append("%s: bytes of %s differ (%d vs %d bytes)" % (tool, name, len(gs[name]), len(es[name])))
    if gd != ed:
        problems.append("%s storages differ: %s vs %s" % (tool, sorted(gd), sorted(ed)))
    return problems


def main(argv):
    if len(argv) >= 1 and argv[0] == "probe":
        print("olefile", "yes" if have_olefile() else "no")
        print("gsf", "yes" if GSF else "no")
        print("xlwt", "yes" if have_xlwt() else "no")
        return 0
    if len(argv) == 3 and argv[0] == "check":
        expected = read_manifest(argv[2])
        problems = compare("olefile", olefile_view(argv[1]), expected)
        streams, storages = gsf_view(argv[1])
        # gsf lists a storage without children like an empty stream.
        for name in [n for n in streams if n in expected[1] and streams[n] == b""]:
            del streams[name]
            storages.add(name)
        problems += compare("gsf", (streams, storages), expected)
        for p in problems:
            print(p)
        return 1 if problems else 0
    if len(argv) == 3 and argv[0] == "make-xlwt":
        import xlwt
        book = xlwt.Workbook()
        for s in range(3):
            sheet = book.add_sheet("Sheet%d" % s)
            for r in range(400):
                sheet.write(r, 0, r * 0.5 + s)
                sheet.write(r, 1, "text %d" % r)
        book.save(argv[1])
        write_manifest(argv[2], *olefile_view(argv[1]))
        return 0
    if len(argv) == 3 and argv[0] == "make-gsf":
        work = tempfile.mkdtemp()
        try:
            sizes = {"Tiny": 1, "Small": 100, "Edge": 4095, "Cut": 4096, "Large": 70000}
            files = []
            for name, size in sizes.items():
                p = os.path.join(work, name)
                with open(p, "wb") as f:
                    f.write(bytes((i * 7 + size) % 251 for i in range(size)))
                files.append(p)
            os.mkdir(os.path.join(work, "Folder"))
            with open(os.path.join(work, "Folder", "Inner"), "wb") as f:
                f.write(b"inner stream" * 50)
            files.append(os.path.join(work, "Folder"))
            subprocess.run([GSF, "createole", argv[1]] + files, capture_output=True, check=True)
        finally:
            shutil.rmtree(work)
        write_manifest(argv[2], *olefile_view(argv[1]))
        return 0
    print(__doc__)
    return 2


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv[1:]))
    except Exception as error:  # a tool that fails is a finding, not a crash
        print("error:", error)
        sys.exit(2)
