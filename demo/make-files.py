#!/usr/bin/env python3
"""Writes the files the demo update server serves into demo/www/halvorne/.

The outputs are committed; run this again only to change them. Everything is
deterministic, so a second run gives the same bytes.
"""
import os
import random
import zipfile
import io

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "www", "halvorne")
VERSION = "5.30"


def pdf(pages):
    """A small valid PDF: one page per list of text lines, Helvetica."""
    objs = []

    def add(body):
        objs.append(body)
        return len(objs)

    catalog = add(None)
    pages_id = add(None)
    font = add(b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>")
    kids = []
    for lines in pages:
        ops = ["BT", "/F1 20 Tf", "60 770 Td", "24 TL"]
        for i, line in enumerate(lines):
            if i == 1:
                ops.append("/F1 12 Tf")
                ops.append("16 TL")
            esc = line.replace("\\", "\\\\").replace("(", "\\(").replace(")", "\\)")
            ops.append("(%s) Tj T*" % esc)
        ops.append("ET")
        stream = "\n".join(ops).encode("cp1252")
        content = add(b"<< /Length %d >>\nstream\n" % len(stream) + stream + b"\nendstream")
        page = add(("<< /Type /Page /Parent %d 0 R /MediaBox [0 0 595 842] "
                    "/Resources << /Font << /F1 %d 0 R >> >> /Contents %d 0 R >>"
                    % (pages_id, font, content)).encode())
        kids.append(page)
    objs[catalog - 1] = b"<< /Type /Catalog /Pages %d 0 R >>" % pages_id
    objs[pages_id - 1] = ("<< /Type /Pages /Kids [%s] /Count %d >>"
                          % (" ".join("%d 0 R" % k for k in kids), len(kids))).encode()
    out = bytearray(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
    offsets = []
    for n, body in enumerate(objs, start=1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % n + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objs) + 1)
    for off in offsets:
        out += b"%010d 00000 n \n" % off
    out += b"trailer\n<< /Size %d /Root %d 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objs) + 1, catalog, xref)
    return bytes(out)


CHANGES = [
    "Nova evidence vyrazenych predmetu.",
    "Tisk inventurnich soupisu podle mistnosti.",
    "Rychlejsi vyhledavani v kartach majetku.",
    "Opravy chyb pri vypoctu odpisu.",
]


def main():
    os.makedirs(OUT, exist_ok=True)

    def write(name, data):
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)

    # Only the first five bytes carry the version; the rest is for people.
    write("verze.txt", ("%s\r\nEvidence majetku - nejnovější verze programu\r\n" % VERSION).encode("cp1250"))

    write("zmeny.html", ("""<!DOCTYPE html>
<html lang="cs">
<head><meta charset="utf-8"><title>Změny ve verzi %s</title></head>
<body>
<h1>Evidence majetku – změny ve verzi %s</h1>
<ul>
<li>Nová evidence vyřazených předmětů.</li>
<li>Tisk inventurních soupisů podle místností.</li>
<li>Rychlejší vyhledávání v kartách majetku.</li>
<li>Opravy chyb při výpočtu odpisů.</li>
</ul>
<p>Ukázkový server pro Halvorne.</p>
</body>
</html>
""" % (VERSION, VERSION)).encode("utf-8"))

    write("zmeny.pdf", pdf([["Evidence majetku - zmeny ve verzi %s" % VERSION] + CHANGES]))

    write("DOKUMENTACE.PDF", pdf([
        ["Evidence majetku - dokumentace", "Ukazkova dokumentace pro demo server Halvorne.",
         "Kapitola 1: Zalozeni karty majetku.", "Kapitola 2: Inventura."],
        ["Kapitola 3: Odpisy", "Odpisy se pocitaji mesicne nebo rocne."],
    ]))

    # The new version: a real ZIP archive. The padding member is stored, not
    # compressed, so the download is big enough to watch the gauge move.
    rnd = random.Random(530)
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w") as z:
        info = zipfile.ZipInfo("EVMAJ/README.TXT", date_time=(2011, 1, 1, 0, 0, 0))
        z.writestr(info, ("Evidence majetku %s - ukázkový instalační balík.\r\n" % VERSION).encode("cp1250"),
                   compress_type=zipfile.ZIP_DEFLATED)
        info = zipfile.ZipInfo("EVMAJ/DATA.BIN", date_time=(2011, 1, 1, 0, 0, 0))
        z.writestr(info, bytes(rnd.getrandbits(8) for _ in range(160 * 1024)), compress_type=zipfile.ZIP_STORED)
    write("EVMAJ_SETUP.ZIP", buf.getvalue())


if __name__ == "__main__":
    main()
