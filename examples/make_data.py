"""Writes the demo's synthetic field into examples/data/ (plain Python,
deterministic: the same bytes on every run).

The field: a dome-shaped reservoir under a North-Sea-style column
(Draupne shale over the Tarbert, Ness and Etive sands, on the Dunlin shale),
five wells, one of them with a sidetrack. Every file is written in the format
the tools of the trade exchange:

  wells/<id>/<id>.wellpath       deviation surveys (minimum-curvature positions)
  wells/<id>/<id>.las            logs, LAS 2.0 (NF-2 in LAS 3.0)
  wells/NF-3/NF-3_main.*, NF-3_st1.*   a well with a sidetrack
  tops/field_tops.txt            formation tops of every well, Petrel export
  maps/top_tarbert.irap          the Top Tarbert depth surface, IRAP classic
  maps/top_tarbert_picks.poi     scattered picks of the same horizon, X Y Z
  maps/field_outline.pol         the licence outline, IRAP polygon

Depths in the maps are elevations (metres, negative below sea level), as
depth maps are exchanged; the wells' kelly bushing is 25 m above sea level.

    python3 examples/make_data.py
"""

import math
import os
import random

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "data")

KB = 25.0
CREST = (461500.0, 5932000.0)  # easting, northing of the dome's crest
UNDEFINED = 9999900

# Formations top-down: name and thickness (m) below the previous top; the
# reservoir top follows the dome, the others stack on it.
COLUMN = [("Draupne", -60.0), ("Tarbert", 0.0), ("Ness", 45.0), ("Etive", 40.0), ("Dunlin", 35.0)]
OWC = 1905.0  # oil-water contact, m subsea


def fmt(x, decimals=2):
    text = f"{x:.{decimals}f}"
    return "0" if float(text) == 0 else text.rstrip("0").rstrip(".") if "." in text else text


def top_tarbert(x, y):
    """Subsea depth (m, positive down) of the Top Tarbert dome at (x, y)."""
    dx, dy = (x - CREST[0]) / 1000.0, (y - CREST[1]) / 1000.0
    return 1830.0 + 22.0 * (dx * dx + 1.6 * dy * dy) + 6.0 * math.sin(1.3 * dx + 0.4) * math.cos(0.9 * dy)


def formation_tops(x, y):
    """(name, subsea depth) of every formation top at (x, y)."""
    base = top_tarbert(x, y)
    out, depth = [], base
    for name, dz in COLUMN:
        depth = base + dz if name in ("Draupne", "Tarbert") else depth + dz
        out.append((name, depth))
    return out


# ---- trajectories ------------------------------------------------------------


def min_curvature(stations, head):
    """Positions (md, inc, azi, x, y, tvd below KB) along survey stations
    (md, inclination, azimuth in degrees) by the minimum-curvature method."""
    out = [(stations[0][0], stations[0][1], stations[0][2], head[0], head[1], stations[0][0])]
    for (md0, i0, a0), (md1, i1, a1) in zip(stations, stations[1:]):
        i0r, a0r, i1r, a1r = map(math.radians, (i0, a0, i1, a1))
        cos_dl = math.cos(i1r - i0r) - math.sin(i0r) * math.sin(i1r) * (1.0 - math.cos(a1r - a0r))
        dl = math.acos(max(-1.0, min(1.0, cos_dl)))
        rf = 1.0 if dl < 1e-9 else 2.0 / dl * math.tan(dl / 2.0)
        dmd = md1 - md0
        north = dmd / 2.0 * (math.sin(i0r) * math.cos(a0r) + math.sin(i1r) * math.cos(a1r)) * rf
        east = dmd / 2.0 * (math.sin(i0r) * math.sin(a0r) + math.sin(i1r) * math.sin(a1r)) * rf
        down = dmd / 2.0 * (math.cos(i0r) + math.cos(i1r)) * rf
        _, _, _, x, y, tvd = out[-1]
        out.append((md1, i1, a1, x + east, y + north, tvd + down))
    return out


def survey(kickoff, build_rate, hold_inc, azimuth, td, start_md=0.0, start_inc=0.0):
    """Survey stations every 30 m: vertical (or the given start) to the
    kickoff, building at build_rate degrees per 30 m to hold_inc, then held."""
    stations, md, inc = [], start_md, start_inc
    while md <= td + 1e-9:
        if md > kickoff:
            inc = min(hold_inc, start_inc + (md - kickoff) / 30.0 * build_rate)
        stations.append((md, inc, azimuth if inc > 0 else 0.0))
        md += 30.0
    if stations[-1][0] < td:
        stations.append((td, inc, azimuth))
    return stations


def at_md(path, md):
    """Interpolated (x, y, tvd below KB) at md along positioned stations."""
    for a, b in zip(path, path[1:]):
        if a[0] <= md <= b[0]:
            t = (md - a[0]) / (b[0] - a[0])
            return tuple(a[k] + t * (b[k] - a[k]) for k in (3, 4, 5))
    last = path[-1]
    return last[3], last[4], last[5]


def md_at_subsea(path, depth):
    """First md at which the path reaches the subsea depth, or None."""
    for a, b in zip(path, path[1:]):
        za, zb = a[5] - KB, b[5] - KB
        if za <= depth <= zb and zb > za:
            return a[0] + (depth - za) / (zb - za) * (b[0] - a[0])
    return None


def write_wellpath(path, name, head, positioned):
    lines = [
        f"# WELL NAME: {name}",
        f"# WELL HEAD X-COORDINATE: {head[0]:.2f} (m)",
        f"# WELL HEAD Y-COORDINATE: {head[1]:.2f} (m)",
        f"# WELL DATUM (KB, Kelly bushing, from MSL): {KB:.2f} (m)",
        "# ED50 / UTM zone 31N",
        "#=" + "=" * 118,
        "#      MD          X            Y           Z         TVD         DX         DY"
        "       AZIM        INCL       DLS        AZIM_GN",
        "#=" + "=" * 118,
    ]
    for md, inc, azi, x, y, tvd in positioned:
        z = KB - tvd
        cols = [md, x, y, z, tvd, x - head[0], y - head[1], azi, inc, 0.0, azi]
        lines.append(" ".join(f"{c:12.4f}" for c in cols))
    with open(path, "w", newline="\n") as f:
        f.write("\n".join(lines) + "\n")


# ---- logs -------------------------------------------------------------------


def log_rows(path, rng, md_from, md_to, step=0.5):
    """(md, GR, PHIE, SW, VSH) samples whose character follows the formation at
    each depth: shales are hot and tight, sands porous, water below the OWC."""
    rows = []
    md = md_from
    while md <= md_to + 1e-9:
        x, y, tvd = at_md(path, md)
        depth = tvd - KB
        tops = formation_tops(x, y)
        zone = None
        for name, d in tops:
            if depth >= d:
                zone = name
        noise = rng.gauss(0.0, 1.0)
        if zone in (None, "Draupne", "Dunlin"):
            vsh = min(1.0, max(0.55, 0.8 + 0.08 * noise))
            phie = max(0.0, 0.04 + 0.015 * rng.gauss(0, 1))
        elif zone == "Ness":  # heterolithic: coals and shales among thin sands
            vsh = min(0.9, max(0.05, 0.42 + 0.2 * noise))
            phie = max(0.0, 0.24 - 0.25 * vsh + 0.02 * rng.gauss(0, 1))
        else:  # Tarbert, Etive: clean sands
            vsh = min(0.6, max(0.02, 0.12 + 0.06 * noise))
            phie = max(0.02, 0.27 - 0.2 * vsh + 0.015 * rng.gauss(0, 1))
        gr = 20.0 + 120.0 * vsh + 3.0 * rng.gauss(0, 1)
        if depth > OWC:
            sw = 1.0
        else:
            sw = min(1.0, max(0.08, 0.15 + 0.6 * vsh + 0.004 * max(0.0, depth - (OWC - 60.0))))
        rows.append((md, gr, phie, sw, vsh))
        md = round(md + step, 6)
    # A gap in the gamma ray where the tool stuck, written as NULL.
    for k in range(len(rows) // 3, len(rows) // 3 + 6):
        md, _, phie, sw, vsh = rows[k]
        rows[k] = (md, None, phie, sw, vsh)
    return rows


CURVES = [("DEPT", "M", "Measured depth"), ("GR", "GAPI", "Gamma ray"), ("PHIE", "V/V", "Effective porosity"),
          ("SW", "V/V", "Water saturation"), ("VSH", "V/V", "Shale volume")]


def value_text(v):
    return "-999.25" if v is None else f"{v:.4f}"


def write_las2(path, name, rows):
    lines = [
        "~Version information",
        " VERS.                 2.0 : CWLS log ASCII standard - version 2.0",
        " WRAP.                  NO : one line per depth step",
        "~Well information",
        f" STRT.M          {rows[0][0]:.4f} : START DEPTH",
        f" STOP.M          {rows[-1][0]:.4f} : STOP DEPTH",
        " STEP.M              0.5000 : STEP",
        " NULL.             -999.25 : NULL VALUE",
        " COMP.      North Field Partners : COMPANY",
        f" WELL.      {name} : WELL",
        " FLD .      North Field : FIELD",
        " SRVC.      Synthetic Logging Ltd : SERVICE COMPANY",
        "~Curve information",
    ]
    lines += [f" {m:<5}.{u:<5} : {d}" for m, u, d in CURVES]
    lines.append("~A  " + "  ".join(f"{m:>10}" for m, _, _ in CURVES))
    for row in rows:
        lines.append(" ".join(f"{value_text(v):>10}" if k else f"{v:>10.2f}" for k, v in enumerate(row)))
    with open(path, "w", newline="\n") as f:
        f.write("\n".join(lines) + "\n")


def write_las3(path, name, rows):
    lines = [
        "~Version",
        "VERS.   3.0 : CWLS LOG ASCII STANDARD - VERSION 3.0",
        "WRAP.    NO : ONE LINE PER DEPTH STEP",
        "DLM . COMMA : DELIMITING CHARACTER BETWEEN DATA COLUMNS",
        "~Well",
        f"STRT .M {rows[0][0]:.4f} : First Index Value",
        f"STOP .M {rows[-1][0]:.4f} : Last Index Value",
        "STEP .M 0.5000 : STEP",
        "NULL .   -999.25 : NULL VALUE",
        "COMP .   North Field Partners : COMPANY",
        f"WELL .   {name} : WELL",
        "~Log_Parameter",
        "BHT .DEGC   78.0 : Bottom hole temperature",
        "~Log_Definition",
    ]
    lines += [f"{m:<5}.{u:<5} : {d}" for m, u, d in CURVES]
    lines.append("~Log_Data | Log_Definition")
    for row in rows:
        lines.append(",".join(value_text(v) if k else f"{v:.2f}" for k, v in enumerate(row)))
    with open(path, "w", newline="\n") as f:
        f.write("\n".join(lines) + "\n")


# ---- maps -------------------------------------------------------------------

GRID = dict(xori=458000.0, yori=5929000.0, xinc=50.0, yinc=50.0, ncol=141, nrow=121)


def number_text(v):
    """Shortest round-trip text without exponent; integral values without a
    fraction (the writing convention of IRAP classic grids)."""
    if v == int(v):
        return str(int(v))
    return repr(v)


def write_irap_grid(path):
    g = GRID
    values = []
    for j in range(g["nrow"]):
        for i in range(g["ncol"]):
            x, y = g["xori"] + i * g["xinc"], g["yori"] + j * g["yinc"]
            # The survey stopped short of the south-east corner: no data there.
            if x - g["xori"] > 6000 and y - g["yori"] < 800:
                values.append(None)
            else:
                values.append(round(-top_tarbert(x, y), 2))
    xmax = g["xori"] + (g["ncol"] - 1) * g["xinc"]
    ymax = g["yori"] + (g["nrow"] - 1) * g["yinc"]
    lines = [
        f"-996 {g['nrow']} {number_text(g['xinc'])} {number_text(g['yinc'])}",
        f"{number_text(g['xori'])} {number_text(xmax)} {number_text(g['yori'])} {number_text(ymax)}",
        f"{g['ncol']} 0 {number_text(g['xori'])} {number_text(g['yori'])}",
        "0  0  0  0  0  0  0",
    ]
    texts = [str(UNDEFINED) if v is None else number_text(v) for v in values]
    lines += [" ".join(texts[k : k + 6]) for k in range(0, len(texts), 6)]
    with open(path, "w", newline="\n") as f:
        f.write("\n".join(lines) + "\n")


def write_points(path, rng, n=400):
    lines = []
    for _ in range(n):
        # Picks cover the whole map area, so a grid made from them needs no
        # extrapolation anywhere inside the licence outline.
        x = rng.uniform(GRID["xori"], GRID["xori"] + (GRID["ncol"] - 1) * GRID["xinc"])
        y = rng.uniform(GRID["yori"], GRID["yori"] + (GRID["nrow"] - 1) * GRID["yinc"])
        z = -(top_tarbert(x, y) + rng.gauss(0.0, 1.5))
        lines.append(f"{x:.2f} {y:.2f} {z:.2f}")
    with open(path, "w", newline="\n") as f:
        f.write("\n".join(lines) + "\n")


def write_outline(path):
    # A licence block with one corner cut, closed, then the 999 separator.
    corners = [(458400.0, 5929300.0), (464600.0, 5929300.0), (464600.0, 5933200.0), (463400.0, 5934600.0),
               (458400.0, 5934600.0), (458400.0, 5929300.0)]
    lines = [f"{x:.2f} {y:.2f} 0.00" for x, y in corners] + ["999.00 999.00 999.00"]
    with open(path, "w", newline="\n") as f:
        f.write("\n".join(lines) + "\n")


# ---- tops -------------------------------------------------------------------

PETREL_HEADER = """# Petrel well tops
VERSION 2
BEGIN HEADER
X
Y
Z
TWT picked
TWT auto
Geological age
MD
PVD auto
Type
Surface
Well
END HEADER"""


def tops_rows(well_label, path, rng, skip=()):
    rows = []
    x0, y0, _ = at_md(path, path[-1][0])
    for name, _ in formation_tops(x0, y0):
        if name in skip:
            continue
        # Find where this path meets the formation top.
        md = None
        for a, b in zip(path, path[1:]):
            xa, ya, ta = a[3], a[4], a[5]
            da = dict(formation_tops(xa, ya))[name]
            db = dict(formation_tops(b[3], b[4]))[name]
            za, zb = ta - KB, b[5] - KB
            if (za - da) <= 0 <= (zb - db):
                t = (da - za) / ((zb - za) - (db - da)) if (zb - za) != (db - da) else 0.0
                md = a[0] + t * (b[0] - a[0])
                break
        if md is None:
            continue
        md += rng.gauss(0.0, 0.3)  # picking noise
        x, y, tvd = at_md(path, md)
        rows.append((x, y, -(tvd - KB), md, name, well_label))
    return rows


def write_tops(path, rows, contacts):
    lines = [PETREL_HEADER]
    for x, y, z, md, name, well in rows:
        lines.append(f'{x:.2f} {y:.2f} {z:.2f} -999 -999 "Jurassic" {md:.2f} -999 Horizon "{name}" "{well}"')
    lines += [f'{x:.2f} {y:.2f} {z:.2f} -999 -999 "Jurassic" {md:.2f} -999 Other "{name}" "{well}"'
              for x, y, z, md, name, well in contacts]
    with open(path, "w", newline="\n") as f:
        f.write("\n".join(lines) + "\n")


# ---- the field ----------------------------------------------------------------

WELLS = [
    # id, wellhead, kickoff md, build (deg/30 m), hold inclination, azimuth, TD md, LAS version
    ("NF-1", (461450.0, 5931900.0), 0.0, 0.0, 0.0, 0.0, 2100.0, 2),
    ("NF-2", (460300.0, 5931000.0), 900.0, 2.0, 24.0, 35.0, 2350.0, 3),
    ("NF-4", (462900.0, 5932700.0), 1100.0, 2.5, 32.0, 250.0, 2500.0, 2),
    ("NF-5", (459800.0, 5933300.0), 1200.0, 1.5, 15.0, 120.0, 2300.0, 2),
]


def main():
    rng = random.Random(20261211)
    for sub in ("wells", "tops", "maps"):
        os.makedirs(os.path.join(OUT, sub), exist_ok=True)
    tops = []
    for well_id, head, kickoff, build, hold, azi, td, las_version in WELLS:
        folder = os.path.join(OUT, "wells", well_id)
        os.makedirs(folder, exist_ok=True)
        path = min_curvature(survey(kickoff, build, hold, azi, td), head)
        write_wellpath(os.path.join(folder, f"{well_id}.wellpath"), well_id, head, path)
        rows = log_rows(path, rng, 1600.0, td - 20.0)
        writer = write_las3 if las_version == 3 else write_las2
        writer(os.path.join(folder, f"{well_id}.las"), well_id, rows)
        # NF-5's Tarbert was never picked (its logs show the sand all the
        # same): the stratigraphic order must survive the gap, and the demo
        # fills it from the Top Tarbert map.
        tops += tops_rows(well_id, path, rng, skip=("Tarbert",) if well_id == "NF-5" else ())

    # NF-3: a main bore and a sidetrack kicked off from it at 1500 m.
    folder = os.path.join(OUT, "wells", "NF-3")
    os.makedirs(folder, exist_ok=True)
    head = (462100.0, 5931200.0)
    main_stations = survey(800.0, 2.0, 20.0, 300.0, 2300.0)
    main_path = min_curvature(main_stations, head)
    kick = [s for s in main_stations if s[0] <= 1500.0]
    st_stations = kick + [s for s in survey(1500.0, 3.0, 45.0, 320.0, 2450.0, start_md=1530.0,
                                           start_inc=kick[-1][1]) if s[0] > 1500.0]
    st_path = min_curvature(st_stations, head)
    for label, path in (("main", main_path), ("st1", st_path)):
        write_wellpath(os.path.join(folder, f"NF-3_{label}.wellpath"), f"NF-3 {label}", head, path)
        write_las2(os.path.join(folder, f"NF-3_{label}.las"), f"NF-3 {label}",
                   log_rows(path, rng, 1600.0, path[-1][0] - 20.0))
        # The tops file names a bore after its well: "NF-3 main", "NF-3 st1".
        tops += tops_rows(f"NF-3 {label}", path, rng)

    # The oil-water contact seen in NF-1, a pick of its own kind.
    nf1 = min_curvature(survey(0.0, 0.0, 0.0, 0.0, 2100.0), WELLS[0][1])
    owc_md = md_at_subsea(nf1, OWC)
    x, y, _ = at_md(nf1, owc_md)
    contacts = [(x, y, -OWC, owc_md, "OWC", "NF-1")]
    write_tops(os.path.join(OUT, "tops", "field_tops.txt"), tops, contacts)
    write_irap_grid(os.path.join(OUT, "maps", "top_tarbert.irap"))
    write_points(os.path.join(OUT, "maps", "top_tarbert_picks.poi"), rng)
    write_outline(os.path.join(OUT, "maps", "field_outline.pol"))


if __name__ == "__main__":
    main()
