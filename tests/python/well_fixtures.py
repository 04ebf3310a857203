"""Small wells written as files and loaded into a project, the way a user's
data arrives: one `.wellpath` survey per bore, LAS curves, a tops CSV for the
main bore, and Petrel well-tops files for contacts."""

import math


def wellpath_text(stations, head=(0.0, 0.0), kb=0.0):
    """A survey: `stations` are (md, tvd) for a vertical hole under `head`, or
    (md, x, y, tvd)."""
    lines = [
        "# WELL TRACE FROM PETREL",
        f"# WELL HEAD X-COORDINATE: {head[0]!r} (m)",
        f"# WELL HEAD Y-COORDINATE: {head[1]!r} (m)",
        f"# WELL DATUM (KB, Kelly bushing, from MSL): {kb!r} (m)",
        "# MD X Y Z TVD DX DY TWT INCL DLS AZIM",
        "# ======================================",
    ]
    for s in stations:
        md, x, y, tvd = (s[0], head[0], head[1], s[1]) if len(s) == 2 else s
        lines.append(f"{md!r} {x!r} {y!r} {-tvd!r} {tvd!r} 0 0 0 0 0 0")
    return "\n".join(lines) + "\n"


def las_text(depths, curves):
    """A LAS 2.0 file: `curves` maps mnemonic -> values (NaN written as the
    null value)."""
    names = list(curves)
    out = ["~Version", " VERS. 2.0 : v", " WRAP. NO : w", "~Well", " NULL. -999.25 : n", "~Curve", "DEPT.M : depth"]
    out += [f"{n}.U : c" for n in names]
    out.append("~A")
    for k, d in enumerate(depths):
        row = [repr(float(d))]
        for n in names:
            v = float(curves[n][k])
            row.append("-999.25" if math.isnan(v) else repr(v))
        out.append(" ".join(row))
    return "\n".join(out) + "\n"


def write_well(folder, bores=None, logs=None, tops=None, head=(0.0, 0.0), kb=0.0):
    """Writes the files of one well into `folder`.

    bores: label -> stations (see `wellpath_text`); "" is the main bore. One
        bore gives one survey; several are told apart by their file names.
    logs: file stem -> (depths, {mnemonic: values}); a stem naming a bore
        label (e.g. "w_A") puts its curves on that bore.
    tops: (name, md) rows for the main bore.
    head, kb: the wellhead and datum every survey's header gives.
    """
    folder.mkdir(parents=True, exist_ok=True)
    bores = bores or {}
    for label, stations in bores.items():
        stem = "w" if len(bores) == 1 else f"w_{label}"
        (folder / f"{stem}.wellpath").write_text(wellpath_text(stations, head, kb))
    for stem, (depths, curves) in (logs or {}).items():
        (folder / f"{stem}.las").write_text(las_text(depths, curves))
    if tops:
        (folder / "w_tops.csv").write_text("name,md\n" + "".join(f"{n},{md!r}\n" for n, md in tops))
    return folder


def load_well(geo, well_id, folder):
    """Loads `folder` into `geo` under `well_id`."""
    return geo.load_well(well_id, files=str(folder))


def load_contacts(geo, path, picks):
    """Writes a Petrel well-tops file of (well, name, md) fluid-contact picks
    and loads it into `geo`."""
    lines = ["# Petrel well tops", "VERSION 2", "BEGIN HEADER", "X", "Y", "END HEADER"]
    lines += [f'1 2 3 4 5 6 {md!r} 7 Other "{name}" "{well}"' for well, name, md in picks]
    path.write_text("\n".join(lines) + "\n")
    return geo.load_well_tops(str(path))


def make_well(geo, tmp_path, well_id="W", **files):
    """Writes a well (see `write_well`) under its own folder and loads it."""
    folder = write_well(tmp_path / f"well_{len(list(tmp_path.glob('well_*')))}", **files)
    return load_well(geo, well_id, folder)


# Curves sampled every 0.5 from 95 to 120 (51 samples).
DEPTHS = [95 + 0.5 * k for k in range(51)]

# A vertical main bore under (1000, 2000) from md 0 to 200, datum 25: the
# subsea depth at md m is m - 25.
HEAD = (1000.0, 2000.0)
KB = 25.0
MAIN_PATH = [(0.0, 0.0), (200.0, 200.0)]


def standard_well(geo, tmp_path, well_id="W"):
    """One bore on the path above, the curves GR (= md / 10) and PHIE,
    and the tops A at 100 and B at 110."""
    return make_well(
        geo,
        tmp_path,
        well_id,
        bores={"": MAIN_PATH},
        head=HEAD,
        kb=KB,
        logs={"w": (DEPTHS, {"GR": [d / 10 for d in DEPTHS], "PHIE": [0.2] * len(DEPTHS)})},
        tops=[("A", 100.0), ("B", 110.0)],
    )


def multibore_well(geo, tmp_path, well_id="W", labels=("", "A"), tops=(("A", 100.0),)):
    """Bores `labels`, each vertical from 0 to 1000 and carrying GR = md +
    its position in `labels` (so the bore a read came from shows); the main
    bore also carries the tops."""
    depths = [90.0 + k for k in range(40)]
    logs = {}
    for k, label in enumerate(labels):
        stem = f"w_{label}" if label else "w"
        logs[stem] = (depths, {"GR": [d + k for d in depths]})
    return make_well(
        geo,
        tmp_path,
        well_id,
        bores={label: [(0.0, 0.0), (1000.0, 1000.0)] for label in labels},
        logs=logs,
        tops=list(tops),
    )
