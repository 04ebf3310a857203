"""Small files for the project tests, written the way other tools export them,
and a reader of container files that looks at their raw sections."""

import json
import os
import struct
import warnings
from pathlib import Path

import pytest

SHARED = os.environ.get("VZ_SHARED_DATA_DIR")
FIXTURES = Path(__file__).resolve().parent.parent / "data"


def shared(rel):
    """A real file from the shared data folder (skips when it is absent)."""
    if not SHARED or not os.path.isdir(SHARED):
        pytest.skip("shared data folder not available")
    path = os.path.join(SHARED, rel)
    if not os.path.exists(path):
        pytest.skip(f"{rel} not available")
    return path


def fixture(rel):
    """A fixture committed under tests/data."""
    return str(FIXTURES / rel)


def write(path, text):
    path = Path(path)
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text(text)
    return str(path)


def load_well(geo, well_id, folder, **kwargs):
    """`geo.load_well` on a folder the test wrote. Fixtures often make wells
    with nothing but a head on purpose (a folder without any file of the
    well), which the loader reports as a UserWarning; that warning is the
    point of other tests, not of the ones building such a well."""
    with warnings.catch_warnings():
        warnings.filterwarnings("ignore", r"load_well: .* holds no LAS", UserWarning)
        return geo.load_well(well_id, files=str(folder), **kwargs)


def irap_grid(path, ncol, nrow, values, xori=1000.0, yori=2000.0, xinc=25.0, yinc=25.0, rot=0.0):
    """An IRAP classic ASCII grid; `values` row by row (columns fastest),
    None for an undefined node."""
    head = (
        f"-996 {nrow} {xinc} {yinc}\n"
        f"{xori} {xori + (ncol - 1) * xinc} {yori} {yori + (nrow - 1) * yinc}\n"
        f"{ncol} {rot} {xori} {yori}\n"
        "0  0  0  0  0  0  0\n"
    )
    body = " ".join("9999900.0" if v is None else repr(float(v)) for v in values)
    return write(path, head + body + "\n")


def wellpath(path, hx, hy, datum, rows, crs_line=""):
    """A deviation survey: wellhead and datum headers, optional CRS line, one
    row per (md, tvd) with the columns md x y z tvd dx dy twt incl dls azim
    (a vertical hole)."""
    text = "# WELL TRACE FROM PETREL\n"
    text += f"# WELL HEAD X-COORDINATE: {hx} (m)\n"
    text += f"# WELL HEAD Y-COORDINATE: {hy} (m)\n"
    text += f"# WELL DATUM (KB, Kelly bushing, from MSL): {datum} (m)\n"
    if crs_line:
        text += f"# {crs_line}\n"
    text += "# MD X Y Z TVD DX DY TWT INCL DLS AZIM\n"
    text += "# ======================================\n"
    for md, tvd in rows:
        text += f"{md} {hx} {hy} {-tvd} {tvd} 0 0 0 0 0 0\n"
    return write(path, text)


def las(path, curves, depths, offset=0.0):
    """A LAS 2.0 file with a depth curve and the named curves; the value of
    curve k at depth d is d / 10 + k + offset."""
    text = "~Version\n VERS. 2.0 : v\n WRAP. NO : w\n~Well\n NULL. -999.25 : n\n~Curve\nDEPT.M : depth\n"
    text += "".join(f"{c}.U : c\n" for c in curves)
    text += "~A\n"
    for d in depths:
        text += f"{d} " + " ".join(f"{d / 10 + k + offset}" for k in range(len(curves))) + "\n"
    return write(path, text)


def petrel_tops(path, picks):
    """A Petrel well-tops export; `picks` are (kind, surface, well, md)."""
    text = (
        "# Petrel well tops\nVERSION 2\nBEGIN HEADER\nX\nY\nZ\nTWT picked\nTWT auto\nDip angle\nMD\n"
        "Geological age\nType\nSurface\nWell\nEND HEADER\n"
    )
    for kind, surface, well, md in picks:
        text += f'0 0 0 -999 -999 0 {md} -999 {kind} "{surface}" "{well}"\n'
    return write(path, text)


# ---- shapefiles --------------------------------------------------------------


def write_shapefile(path, shape_type, records):
    """A .shp and its .shx: one record per entry of `records`, each a list of
    rings of (x, y), written as the parts of a polygon or polyline record, or
    bytes: the content of a record of another shape type as it stands."""
    contents = []
    for rings in records:
        if isinstance(rings, bytes):
            contents.append(rings)
            continue
        points = [p for ring in rings for p in ring]
        xs, ys = [p[0] for p in points], [p[1] for p in points]
        starts, at = [], 0
        for ring in rings:
            starts.append(at)
            at += len(ring)
        body = struct.pack("<i4d2i", shape_type, min(xs), min(ys), max(xs), max(ys), len(rings), len(points))
        body += struct.pack(f"<{len(starts)}i", *starts)
        body += b"".join(struct.pack("<2d", x, y) for x, y in points)
        contents.append(body)

    def header(length_bytes):
        return struct.pack(">7i", 9994, 0, 0, 0, 0, 0, length_bytes // 2) + struct.pack(
            "<2i8d", 1000, shape_type, 0, 0, 40, 40, 0, 0, 0, 0)

    shp, shx, offset = b"", b"", 100
    for number, body in enumerate(contents, start=1):
        shp += struct.pack(">2i", number, len(body) // 2) + body
        shx += struct.pack(">2i", offset // 2, len(body) // 2)
        offset += 8 + len(body)
    path.write_bytes(header(100 + len(shp)) + shp)
    path.with_suffix(".shx").write_bytes(header(100 + len(shx)) + shx)
    return str(path)


# ---- container files --------------------------------------------------------


def read_container(path):
    """(element schema version, manifest dict, {(kind, name): compressed
    payload bytes}) of a container file."""
    data = Path(path).read_bytes()
    assert data[:3] == b"KIO"
    schema, length = struct.unpack_from("<II", data, 4)
    manifest = json.loads(data[12 : 12 + length])
    start = 12 + length
    payloads = {}
    for e in manifest["sections"]:
        payloads[(e["kind"], e["name"])] = data[start + e["offset"] : start + e["offset"] + e["size"]]
    return schema, manifest, payloads


def write_empty_container(path, app, schema=2, version=1):
    """A container without sections whose manifest carries `app` as given."""
    manifest = json.dumps({"format_version": 1, "app": app, "sections": []}, separators=(",", ":")).encode()
    Path(path).write_bytes(b"KIO" + bytes([version]) + struct.pack("<II", schema, len(manifest)) + manifest)
    return str(path)
