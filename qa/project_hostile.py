#!/usr/bin/env python3
"""Crafted support entries against meshinfo --open.

Usage: project_hostile.py MESHINFO BASE.vpf WORKDIR
BASE is a project saved by this version with cones, links, bars and deleted
bars (meshinfo --project BASE.vpf --delete 3 part.stl). Each variant edits
Support/0.xml; every open must end by itself (no signal, no abort) within
TIME_LIMIT seconds and MEM_LIMIT_KB of peak memory, and either open or fail
with a reason (meshinfo --open prints none: run the window for the words). Prints a line per variant; exit 1 when any variant breaks a bound.
"""
import os
import re
import subprocess
import sys
import zipfile

MESHINFO, BASE, WORK = sys.argv[1:4]
TIME_LIMIT = 5.0
MEM_LIMIT_KB = 400 * 1024
os.makedirs(WORK, exist_ok=True)
base = zipfile.ZipFile(BASE)
xml = base.read("Support/0.xml").decode()
cones = [m.start() for m in re.finditer(r"<ConeSupport ", xml)]


def write(name, text):
    path = os.path.join(WORK, name + ".vpf")
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as out:
        for info in base.infolist():
            if info.filename == "Support/0.xml":
                out.writestr("Support/0.xml", text)
            else:
                out.writestr(info.filename, base.read(info.filename))
    return path


def cone_span(i):
    s = cones[i]
    return s, xml.index("/>", s) + 2


def edit_cone(i, fn, text=None):
    text = text if text is not None else xml
    s = [m.start() for m in re.finditer(r"<ConeSupport ", text)][i]
    e = text.index("/>", s) + 2
    return text[:s] + fn(text[s:e]) + text[e:]


def set_attr(rec, name, value):
    if f' {name}="' in rec:
        return re.sub(rf' {name}="[^"]*"', f' {name}="{value}"', rec)
    return rec.replace("/>", f' {name}="{value}"/>')


def drop_attr(rec, name):
    return re.sub(rf' {name}="[^"]*"', "", rec)


def all_cones(fn):
    return re.sub(r"<ConeSupport [^>]*/>", lambda m: fn(m.group(0)), xml)


# the first cone with bars and one with deleted bars
with_bars = next(i for i in range(len(cones)) if "Bars=" in xml[cone_span(i)[0]:cone_span(i)[1]].replace("BarCounts", ""))
with_del = next(i for i in range(len(cones)) if "DeletedBars=" in xml[cone_span(i)[0]:cone_span(i)[1]])

variants = {
    "as_saved": xml,
    "links_absurd": edit_cone(0, lambda r: set_attr(r, "Links", "4294967295;1;2;3")),
    "links_huge": edit_cone(0, lambda r: set_attr(r, "Links", "99999999999999999999;1;2;3")),
    "links_negative": edit_cone(0, lambda r: set_attr(r, "Links", "-1;-2;2;3")),
    "links_self": edit_cone(5, lambda r: set_attr(set_attr(set_attr(r, "Links", "5"), "LinkCarriers", "1"), "BarCounts", "0")),
    "links_count_mismatch": edit_cone(0, lambda r: set_attr(r, "LinkCarriers", "1")),
    "links_garbage": edit_cone(0, lambda r: set_attr(r, "Links", "a;b;;;")),
    "links_many": edit_cone(0, lambda r: set_attr(set_attr(set_attr(r, "Links", ";".join(["1"] * 200000)),
                                                           "LinkCarriers", ";".join(["1"] * 200000)),
                                                  "BarCounts", ";".join(["0"] * 200000))),
    "barcounts_huge": edit_cone(with_bars, lambda r: set_attr(r, "BarCounts", "2000000000;4;3;3")),
    "barcounts_negative": edit_cone(with_bars, lambda r: set_attr(r, "BarCounts", "-4;4;3;3")),
    "bars_short": edit_cone(with_bars, lambda r: set_attr(r, "Bars", "1;2;3")),
    "bars_many": edit_cone(with_bars, lambda r: set_attr(set_attr(r, "BarCounts", "1000000;0;0;0"),
                                                         "Bars", ";".join(["20.1;60;25;24;60;27"] * 1000000))),
    "bars_everywhere": all_cones(lambda r: set_attr(set_attr(r, "BarCounts", ";".join(["500"] * r.split('Links="')[1].split('"')[0].count(";") + ["500"]) if 'Links=""' not in r else ""),
                                                    "Bars", ";".join(["20.1;60;25;24;60;27"] * 500 * (r.split('Links="')[1].split('"')[0].count(";") + 1)))),
    "deleted_absurd": edit_cone(with_del, lambda r: set_attr(r, "DeletedBars", "4294967295")),
    "deleted_negative": edit_cone(with_del, lambda r: set_attr(r, "DeletedBars", "-5")),
    "deleted_many": edit_cone(with_del, lambda r: set_attr(r, "DeletedBars", ";".join(str(k) for k in range(2000000)))),
    "deleted_dup": edit_cone(with_del, lambda r: set_attr(r, "DeletedBars", "0;0;0;0;1;1")),
    "deleted_desc": edit_cone(with_del, lambda r: set_attr(r, "DeletedBars", "3;2;1;0")),
    "deleted_on_barless": edit_cone(0, lambda r: set_attr(r, "DeletedBars", "0;1;2")),
    "deleted_garbage": edit_cone(with_del, lambda r: set_attr(r, "DeletedBars", "x;;1e9;nan")),
}
for attr in ("TipCentre", "HeadEnd", "TrunkFoot", "FootTipCentre", "FootPoint", "FootNormal", "ContactPoint"):
    for bad in ("nan;0;0", "inf;0;0", "-inf;1;1", "1e400;0;0", "1e30;1e30;1e30", "1;2", ""):
        variants[f"{attr}_{bad or 'empty'}"] = edit_cone(with_bars, lambda r, a=attr, b=bad: set_attr(r, a, b))
    variants[f"{attr}_missing"] = edit_cone(with_bars, lambda r, a=attr: drop_attr(r, a))
for bad in ("nan", "inf", "-inf", "1e400", "-1e30", "x"):
    variants[f"FootZ_{bad}"] = edit_cone(with_bars, lambda r, b=bad: set_attr(r, "FootZ", b))
    variants[f"Bars_{bad}"] = edit_cone(with_bars, lambda r, b=bad: set_attr(r, "Bars", re.sub(r"^[^;]*", b, r.split(' Bars="')[1].split('"')[0])))
variants["new_attrs_missing_one_cone"] = edit_cone(with_bars, lambda r: re.sub(
    r' (TipCentre|HeadEnd|TrunkFoot|FootTipCentre|FootPoint|FootNormal|FootZ|Links|LinkCarriers|BarCounts|Bars|DeletedBars)="[^"]*"', "", r))
variants["new_attrs_missing_all"] = all_cones(lambda r: re.sub(
    r' (TipCentre|HeadEnd|TrunkFoot|FootTipCentre|FootPoint|FootNormal|FootZ|Links|LinkCarriers|BarCounts|Bars|DeletedBars)="[^"]*"', "", r))
variants["links_missing_only"] = all_cones(lambda r: drop_attr(drop_attr(drop_attr(r, "Links"), "LinkCarriers"), "BarCounts"))

bad = 0
print(f"{'variant':34} {'rc':>3} {'wall':>6} {'peakMB':>7} result")
for name, text in variants.items():
    path = write(name, text)
    tf = os.path.join(WORK, name + ".time")
    try:
        r = subprocess.run(["/usr/bin/time", "-f", "%e %M", "-o", tf, MESHINFO, "--open", path],
                           capture_output=True, timeout=60)
        wall, peak = open(tf).read().split()[-2:]
        wall, peak = float(wall), int(peak)
        out = r.stdout.decode(errors="replace").strip().replace("\n", " ")
        err = r.stderr.decode(errors="replace").strip().replace("\n", " ")
        rc = r.returncode
    except subprocess.TimeoutExpired:
        rc, wall, peak, out, err = "T", 60.0, 0, "timeout", ""
    flag = ""
    if rc not in (0, 1) or "terminate" in err or wall > TIME_LIMIT or peak > MEM_LIMIT_KB:
        flag = "  <-- BOUND"
        bad += 1
    m = re.search(r"code=\d+ objects=\d+ triangles=\d+ cones=\d+", out)
    print(f"{name:34} {rc!s:>3} {wall:6.2f} {peak // 1024:7d} {m.group(0) if m else out[:60]} {err[:160]}{flag}")
sys.exit(1 if bad else 0)
