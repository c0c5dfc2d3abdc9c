"""pelmora-centile chart: the SVG is XML whose drawn curves map back through its axes to the
curves within half a pixel; the PNG has the curves' colour where the curves are; the same input
gives the same bytes; bad input is refused with status 2 and nothing written."""

import csv
import os
import struct
import subprocess
import xml.etree.ElementTree as ET
import zlib

import pytest

CLI = os.environ["PELMORA_CENTILE"]
HAVE_PNG = os.environ.get("PELMORA_CHART_PNG") == "1"
SVG = "{http://www.w3.org/2000/svg}"
MOTHER = ["--base", "nz", "--wt", "58", "--ht", "161", "--sex", "Female", "--eth", "Maori", "--par", "1"]
POINTS = ["--point", "224:1650:EFW", "--point", "32+0:1500:EFW", "--point", "36+2:2350:EFW",
          "--point", "280:3050:birth"]
CENTILES = ["--centiles", "3,10,50,90,97"]
CURVE_COLOUR = (0x1F, 0x4E, 0x9A)


def run(*args):
    return subprocess.run([CLI, *args], capture_output=True, text=True)


def chart(tmp_path, name, *extra):
    out = tmp_path / name
    r = run("chart", *MOTHER, *CENTILES, *POINTS, "--edd", "2027-03-14", *extra, "-o", str(out))
    assert r.returncode == 0, r.stderr
    return out


def curves():
    r = run("curves", *MOTHER, *CENTILES)
    assert r.returncode == 0, r.stderr
    return list(csv.DictReader(r.stdout.splitlines()))


def axes(root):
    """Maps from user units to days and grams, from the axes' own grid lines."""
    xs = sorted((float(e.get("data-day")), float(e.get("x1"))) for e in root.iter(SVG + "line")
                if e.get("class") == "x-grid")
    ys = sorted((float(e.get("data-grams")), float(e.get("y1"))) for e in root.iter(SVG + "line")
                if e.get("class") == "y-grid")
    assert len(xs) == 19 and len(ys) >= 5  # 24 to 42 weeks, every week

    def linear(pairs):
        (a0, p0), (a1, p1) = pairs[0], pairs[-1]
        return lambda value: p0 + (value - a0) * (p1 - p0) / (a1 - a0)

    return linear(xs), linear(ys)


def test_the_drawn_curves_are_the_curves_within_half_a_pixel(tmp_path):
    root = ET.parse(chart(tmp_path, "a.svg")).getroot()
    x_of, y_of = axes(root)
    rows = curves()
    drawn = {e.get("data-centile"): e.get("points") for e in root.iter(SVG + "polyline") if e.get("class") == "curve"}
    assert sorted(drawn, key=float) == ["3", "10", "50", "90", "97"]
    for centile, points in drawn.items():
        vertices = [tuple(map(float, p.split(","))) for p in points.split()]
        assert len(vertices) == len(rows) == 127
        for (x, y), row in zip(vertices, rows):
            assert abs(x - x_of(int(row["gest"]))) <= 0.5
            assert abs(y - y_of(float(row["p" + centile]))) <= 0.5, (centile, row["gest"])
    # The points in gestational order, labelled with their centiles, the birth marked apart.
    table = [[t.text for t in g.iter(SVG + "text")] for g in root.iter(SVG + "g") if g.get("class") == "row"]
    assert [r[:2] for r in table] == [["EFW", "32+0"], ["EFW", "32+0"], ["EFW", "36+2"], ["birth", "40+0"]]
    assert all(r[4] in ("SGA", "AGA", "LGA") for r in table)
    assert len([e for e in root.iter(SVG + "path") if e.get("class") == "birth"]) == 1
    assert len([e for e in root.iter(SVG + "circle") if e.get("class") == "point"]) == 3
    texts = "".join(root.itertext())
    assert "New Zealand" in texts and "Maori" in texts and "14 Mar 2027" in texts


def test_same_input_same_bytes_and_nothing_external(tmp_path):
    a = chart(tmp_path, "a.svg").read_bytes()
    assert chart(tmp_path, "b.svg").read_bytes() == a
    text = a.decode()
    for outside in ("<script", "<image", "href", "@import", "url(http", ".ttf", ".woff"):
        assert outside not in text


def read_png(path):
    """(width, height, rows of RGBA tuples) of an 8-bit RGBA, non-interlaced PNG."""
    data = path.read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    pos, idat = 8, b""
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            assert (depth, colour, interlace) in ((8, 6, 0), (8, 2, 0))
            channels = 4 if colour == 6 else 3
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, prev = [], bytearray(stride)
    for r in range(height):
        kind, line = raw[r * (stride + 1)], bytearray(raw[r * (stride + 1) + 1:(r + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b, c = prev[i], prev[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append([tuple(line[i:i + 3]) for i in range(0, stride, channels)])
        prev = line
    return width, height, rows


@pytest.mark.skipif(not HAVE_PNG, reason="pelmora-centile built without an SVG renderer")
def test_the_png_has_the_line_colour_where_the_curves_are(tmp_path):
    root = ET.parse(chart(tmp_path, "a.svg")).getroot()
    width, height, pixels = read_png(chart(tmp_path, "a.png"))
    scale = width / float(root.get("viewBox").split()[2])
    assert abs(height - scale * float(root.get("viewBox").split()[3])) <= 1

    def near(colour, want, tolerance=60):
        return sum(abs(a - b) for a, b in zip(colour, want)) <= tolerance

    for e in root.iter(SVG + "polyline"):
        if e.get("class") != "curve" or e.get("data-centile") not in ("10", "90"):
            continue
        vertices = [tuple(map(float, p.split(","))) for p in e.get("points").split()]
        hits = sum(near(pixels[round(y * scale)][round(x * scale)], CURVE_COLOUR) for x, y in vertices)
        # Nearly every day: a point, its label or the frame may lie over a few.
        assert hits >= 0.9 * len(vertices), (e.get("data-centile"), hits)
        # Ten pixels above the 90th line (outside the band) and below the 10th: no curve there.
        off = -10 if e.get("data-centile") == "90" else 10
        x, y = vertices[60]
        assert not near(pixels[round((y + off) * scale)][round(x * scale)], CURVE_COLOUR)


BAD = [
    (["--from", "300", "--to", "200"], "inverted"),
    (["--centiles", "10,100"], "between 0 and 100"),
    (["--point", "abc"], "GEST:GRAMS"),
    (["--point", "231:heavy:EFW"], "is not a number of grams"),
    (["--point", "40+9:2000"], "weeks+days"),
    (["--point", "231:-5"], "is not a number of grams"),
    (["--edd", "2027-02-30"], "not a date"),
]


@pytest.mark.parametrize("extra,says", BAD)
def test_bad_input_is_refused_and_nothing_written(tmp_path, extra, says):
    for name in ("new.svg", "kept.svg"):
        out = tmp_path / name
        if name == "kept.svg":
            out.write_text("old")
        r = run("chart", *MOTHER, *extra, "-o", str(out))
        assert r.returncode == 2 and says in r.stderr, r.stderr
        assert (out.read_text() == "old") if name == "kept.svg" else not out.exists()
    assert [p.name for p in tmp_path.iterdir()] == ["kept.svg"]


@pytest.mark.parametrize("mother,says", [
    (["--base", "Mars"] + MOTHER[2:], "unknown base"),
    (MOTHER[:8] + ["--eth", "Martian", "--par", "1"], "unknown value 'Martian'"),
])
def test_unknown_base_or_group(tmp_path, mother, says):
    r = run("chart", *mother, "-o", str(tmp_path / "c.svg"))
    assert r.returncode == 2 and says in r.stderr and not (tmp_path / "c.svg").exists()


# A label is whatever bytes the caller gives: the chart must stay XML that any reader accepts.
@pytest.mark.parametrize("label,shown", [
    (b"EF\xffW", "EF\ufffdW"),                       # a stray byte
    (b"\xc0\xafx", "\ufffd\ufffdx"),                  # an overlong "/"
    (b"\xed\xa0\x80y", "\ufffd\ufffd\ufffdy"),        # a surrogate
    (b"\xef\xbf\xbez", "\ufffd\ufffd\ufffdz"),        # U+FFFE
    (b"<b>&\"'", "<b>&\"'"),                          # markup
    (b"a\x01\x1fb", "a  b"),                          # control characters
    ("Größe ✓".encode(), "Größe ✓"),
])
def test_any_label_bytes_give_xml_with_the_label_shown(tmp_path, label, shown):
    out = tmp_path / "c.svg"
    r = subprocess.run([CLI.encode(), b"chart", *(a.encode() for a in MOTHER), b"--point", b"224:1650:" + label,
                        b"-o", bytes(out)], capture_output=True)
    assert r.returncode == 0, r.stderr
    texts = [e.text for e in ET.parse(out).getroot().iter(SVG + "text")]
    assert shown in texts
