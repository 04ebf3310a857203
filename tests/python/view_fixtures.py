"""Small wells for the zone-table, view, crossing and viewer tests, written as
files the way other tools export them and loaded through the project.

Every bore is a vertical hole from md 0 to its total depth: its subsea depth
is md - kb and its elevation kb - md. Logs are given as explicit values per
depth."""

import itertools
import math
from pathlib import Path

from project_files import irap_grid, load_well, petrel_tops, write

_dirs = itertools.count()

NULL = -999.25


def las_table(path, depths, curves, unit="V/V"):
    """A LAS 2.0 file with a depth curve and the given curves (name -> one
    value per depth; None or NaN is written as the null value)."""
    text = f"~Version\n VERS. 2.0 : v\n WRAP. NO : w\n~Well\n NULL. {NULL} : n\n~Curve\nDEPT.M : depth\n"
    text += "".join(f"{name}.{unit} : c\n" for name in curves)
    text += "~A\n"
    for k, d in enumerate(depths):
        row = [d] + [
            NULL if v is None or (isinstance(v, float) and math.isnan(v)) else v
            for v in (values[k] for values in curves.values())
        ]
        text += " ".join(repr(float(x)) for x in row) + "\n"
    return write(path, text)


def wellpath_text(head, kb, stations):
    """A deviation survey: wellhead and datum headers, then one row per
    (md, x, y, depth below the datum, inclination, azimuth)."""
    hx, hy = head
    text = "# WELL TRACE FROM PETREL\n"
    text += f"# WELL HEAD X-COORDINATE: {hx} (m)\n"
    text += f"# WELL HEAD Y-COORDINATE: {hy} (m)\n"
    text += f"# WELL DATUM (KB, Kelly bushing, from MSL): {kb} (m)\n"
    text += "# MD X Y Z TVD DX DY TWT INCL DLS AZIM\n"
    text += "# ======================================\n"
    for md, x, y, tvd, inc, azi in stations:
        text += f"{md} {x} {y} {kb - tvd} {tvd} {x - hx} {y - hy} 0 {inc} 0 {azi}\n"
    return text


def survey(path, head, kb, td):
    """A vertical deviation survey from md 0 to `td`."""
    return write(path, wellpath_text(head, kb, [(md, head[0], head[1], md, 0, 0) for md in (0.0, td / 2, td)]))


def add_well(geo, root, well_id, bores=None, logs=None, tops=None, head=(1000.0, 2000.0), kb=25.0):
    """Loads a well into `geo`.

    bores: label -> total depth of the bore's survey. Only the main bore
      ({"": td}), or named bores only (their surveys are told apart by
      name). None: no survey at all.
    logs: label -> (depths, {mnemonic: values}) for the bore of that label.
    tops: (name, md) rows on the main bore (a tops CSV file).
    """
    d = Path(root) / f"well{next(_dirs)}"
    d.mkdir(parents=True)
    bores = bores or {}
    for label, td in bores.items():
        survey(d / (f"trace_{label}.wellpath" if label else "trace.wellpath"), head, kb, td)
    for label, (depths, curves) in (logs or {}).items():
        las_table(d / (f"trace_{label}.las" if label else "logs.las"), depths, curves)
    if tops:
        write(d / "tops.csv", "name,md\n" + "".join(f"{n},{md}\n" for n, md in tops))
    # without a survey the wellhead and datum given here stand
    return load_well(geo, well_id, d, head=head, kb=kb)


def load_tops(geo, root, picks):
    """Formation tops from a Petrel export; `picks` are (well text, top, md),
    the well text naming a bore as "<well> <label>"."""
    path = Path(root) / f"tops{next(_dirs)}.txt"
    petrel_tops(path, [("Horizon", name, well, md) for well, name, md in picks])
    return geo.load_well_tops(str(path))


def flat_surface(geo, root, name, elevation, origin=(900.0, 1900.0), size=3, step=200.0):
    """A horizontal regular surface at `elevation` (positive up) covering the
    default wellhead, stored under `name`."""
    path = Path(root) / f"grid{next(_dirs)}.irap"
    irap_grid(path, size, size, [elevation] * (size * size), xori=origin[0], yori=origin[1], xinc=step, yinc=step)
    return geo.load_surface(name, str(path))


def add_path_well(geo, root, well_id, stations, kb=0.0):
    """Loads a well whose main bore follows the given survey rows (md, x, y,
    tvd below the datum, inclination, azimuth), positions taken as given."""
    d = Path(root) / f"well{next(_dirs)}"
    text = wellpath_text((stations[0][1], stations[0][2]), kb, stations)
    write(d / "trace.wellpath", text)
    return load_well(geo, well_id, d)


def slanted_stations(head=(1000.0, 2000.0), td=2000.0, step=50.0, inc=45.0):
    """A straight hole east at `inc` from the vertical: x grows and the depth
    below the datum grows with md."""
    s, c = math.sin(math.radians(inc)), math.cos(math.radians(inc))
    rows = []
    md = 0.0
    while md <= td:
        rows.append((md, head[0] + md * s, head[1], md * c, inc, 90.0))
        md += step
    return rows


def structured_surface(geo, root, name, elevation, origin=(900.0, 1900.0), size=3, step=200.0):
    """A horizontal structured mesh surface (an EarthVision grid export) at
    `elevation`, stored under `name`."""
    path = Path(root) / f"mesh{next(_dirs)}.ptl"
    text = "#Type: scattered data\n#Version: 6\n#Format: free\n#Field: 1 x\n#Field: 2 y\n#Field: 3 z meters\n"
    text += "#Field: 4 column\n#Field: 5 row\n#Projection: Local Rectangular\n#Units: meters\n#End:\n"
    for j in range(size):
        for i in range(size):
            text += f"{origin[0] + i * step} {origin[1] + j * step} {elevation} {i + 1} {j + 1}\n"
    write(path, text)
    return geo.load_structured_surface(name, str(path))
