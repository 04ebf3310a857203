"""voridez beside the tools users have today, on the same generated inputs.

Five comparisons, each on one input both sides read or compute from, with the
same kind of output, best of a few runs:

  LAS 2.0 reading           against lasio.read
  IRAP classic read, write  against xtgeo (irap_ascii)
  Delaunay triangulation    against scipy.spatial.Delaunay
  iso-lines                 against contourpy
  scattered-data gridding   against scipy.interpolate.griddata

Each line says what the two sides do; a ratio is the peer's time over
voridez's (above 1: voridez is faster). voridez's multi-threaded kernels
(iso-lines, inverse distance, minimum curvature) are timed with every core and
on one thread, as the peers measured here run on one. A peer that is not installed or fails
is reported and skipped. `make bench` installs the peers from
bench/requirements.txt; nothing else in the project needs them. The machine's
load average is printed before and after, as the figures depend on it.
"""

import importlib
import math
import os
import tempfile

import numpy as np

import voridez as vz
from _timing import best

LAS_STEPS, LAS_CURVES = 50_000, 8
IRAP_SIDE = 1500  # nodes per side of the IRAP classic grid
TRI_SIDE = 500  # nodes per side of the triangulated lattice
ISO_SIDE, ISO_LEVELS = 1000, 50
GRID_POINTS, GRID_SIDE = 100_000, 500
UNDEFINED = 9999900.0


def peer(module):
    """The peer module and its version, or None with the reason printed."""
    try:
        mod = importlib.import_module(module)
    except Exception as e:  # not installed, or broken on this machine
        print(f"  {module}: not available ({type(e).__name__}: {e}); skipped")
        return None
    return mod


def version(module):
    return getattr(importlib.import_module(module.split(".")[0]), "__version__", "?")


def line(side, what, seconds, note=""):
    print(f"  {side:<10} {what:<58} {seconds * 1e3:9.1f} ms  {note}")


def ratio(peer_name, ours, theirs, what=""):
    """Prints the peer's time over voridez's; `ours` is one time, or a dict of
    times by thread setting (see `by_threads`)."""
    times = ours if isinstance(ours, dict) else {"": ours}
    parts = []
    for setting, t in times.items():
        verdict = "voridez faster" if theirs > t else "peer faster"
        parts.append(f"{theirs / t:.2f} ({setting + ', ' if setting else ''}{verdict})")
    label = f"{what} " if what else ""
    print(f"  {label}ratio {peer_name} / voridez: {', '.join(parts)}")


def by_threads(fn, runs):
    """Times a call of a multi-threaded kernel twice: with the threads the
    environment gives it (every core unless VORIDEZ_NUM_THREADS says), and on
    one thread, which compares like with like against a single-threaded peer.
    Returns {setting: (time, result)}."""
    preset = os.environ.get("VORIDEZ_NUM_THREADS")
    default = f"{preset} threads" if preset else "all cores"
    out = {default: best(fn, runs)}
    os.environ["VORIDEZ_NUM_THREADS"] = "1"
    try:
        out["1 thread"] = best(fn, runs)
    finally:
        if preset is None:
            del os.environ["VORIDEZ_NUM_THREADS"]
        else:
            os.environ["VORIDEZ_NUM_THREADS"] = preset
    return out


def times(measured):
    return {setting: t for setting, (t, _) in measured.items()}


def run_peer(name, fn):
    """Runs one peer measurement; a failure is reported, never raised."""
    try:
        return fn()
    except Exception as e:
        print(f"  {name}: failed ({type(e).__name__}: {e}); skipped")
        return None


def versus(module, what, t_ours, fn, describe, runs=3, label=""):
    """The peer's side of one comparison: imports `module`, times fn(module),
    prints its line and, given voridez's time, the ratio. Returns (time,
    result), or None when the peer is missing or fails."""
    mod = peer(module)
    if mod is None:
        return None
    name = module.split(".")[0]
    result = run_peer(name, lambda: best(lambda: fn(mod), runs))
    if result is None:
        return None
    line(f"{name} {version(module)}", what, result[0], describe(result[1]))
    if t_ours is not None:
        ratio(name, t_ours, result[0], label)
    return result


def load_line():
    one, five, _ = os.getloadavg()
    return f"load average {one:.1f} (1 min), {five:.1f} (5 min) on {os.cpu_count()} cores"


# ---- inputs ---------------------------------------------------------------------


def dome(x, y):
    """A smooth structure without faults, depth in metres."""
    return 2000.0 + 120.0 * np.sin(x / 1700.0) * np.cos(y / 2300.0) + 0.004 * (x - y)


def write_las(path, steps, curves):
    rng = np.random.default_rng(3)
    md = 500.0 + 0.1524 * np.arange(steps)
    data = np.column_stack([md] + [rng.normal(50.0 * (k + 1), 5.0, steps) for k in range(curves)])
    data[steps // 3: steps // 3 + 40, 1] = -999.25
    names = ["DEPT"] + [f"C{k:02d}" for k in range(curves)]
    header = [
        "~Version information",
        " VERS.   2.0 : CWLS LOG ASCII STANDARD - VERSION 2.0",
        " WRAP.    NO : ONE LINE PER DEPTH STEP",
        "~Well information",
        f" STRT.M  {md[0]:.4f} : START DEPTH",
        f" STOP.M  {md[-1]:.4f} : STOP DEPTH",
        " STEP.M  0.1524 : STEP",
        " NULL.   -999.25 : NULL VALUE",
        " WELL.   BENCH-1 : WELL",
        "~Curve information",
    ] + [f" {n:<6}.{'M' if n == 'DEPT' else 'UNIT'} : curve {n}" for n in names] + ["~A " + " ".join(names)]
    with open(path, "w") as f:
        f.write("\n".join(header) + "\n")
        np.savetxt(f, data, fmt="%.4f")


def write_irap(path, side, inc, xori=450_000.0, yori=6_700_000.0):
    """An IRAP classic grid of side x side nodes with an undefined patch;
    returns the values as a (nrow, ncol) array with NaN for undefined."""
    i = np.arange(side, dtype=float)
    x, y = np.meshgrid(xori + i * inc, yori + i * inc)
    z = -dome(x - xori, y - yori)
    z[side // 3: side // 3 + side // 10, side // 2: side // 2 + side // 10] = np.nan
    xmax, ymax = xori + (side - 1) * inc, yori + (side - 1) * inc
    flat = np.where(np.isnan(z), UNDEFINED, z).ravel()
    head = [f"-996 {side} {inc} {inc}", f"{xori} {xmax} {yori} {ymax}", f"{side} 0 {xori} {yori}", "0 0 0 0 0 0 0"]
    whole = len(flat) // 6 * 6
    with open(path, "w") as f:
        f.write("\n".join(head) + "\n")
        np.savetxt(f, flat[:whole].reshape(-1, 6), fmt="%.4f")
        if whole < len(flat):
            f.write(" ".join(f"{v:.4f}" for v in flat[whole:]) + "\n")
    return x, y, z


# ---- comparisons ----------------------------------------------------------------


def las(folder):
    path = os.path.join(folder, "bench.las")
    write_las(path, LAS_STEPS, LAS_CURVES)
    size = os.path.getsize(path) / 1e6
    print(f"\nLAS 2.0 reading: {LAS_STEPS:,} depth steps x {LAS_CURVES} curves ({size:.1f} MB)")

    def ours():
        geo = vz.GeoData("m")  # a fresh project each run: a loader never replaces
        return geo, geo.load_well("BENCH-1", files=path)

    t_ours, (geo, well) = best(ours)
    n = len(well.log("C00").values())
    line("voridez", "GeoData.load_well: file -> curves of a well in a project", t_ours,
         f"{len(well.sidetrack('').mnemonics())} curves x {n:,} samples")
    versus("lasio", "lasio.read: file -> LASFile of numpy curves", t_ours, lambda m: m.read(path),
           lambda f: f"{len(f.curves) - 1} curves x {len(f.index):,} samples")


def irap(folder):
    path = os.path.join(folder, "grid.irap")
    write_irap(path, IRAP_SIDE, 25.0)
    size = os.path.getsize(path) / 1e6
    print(f"\nIRAP classic: {IRAP_SIDE} x {IRAP_SIDE} nodes ({size:.0f} MB of text)")
    t_read, surface = best(lambda: vz.Surface.load_irap_classic(path))
    out_ours = os.path.join(folder, "ours.irap")
    t_write, _ = best(lambda: surface.save_irap_classic(out_ours))
    st = surface.stats()
    line("voridez", "Surface.load_irap_classic: file -> grid (NaN undefined)", t_read,
         f"{st.count:,} defined, mean {st.mean:.3f}")
    line("voridez", "Surface.save_irap_classic: grid -> file", t_write,
         f"{os.path.getsize(out_ours) / 1e6:.0f} MB")
    read = versus("xtgeo", "surface_from_file irap_ascii: file -> masked grid", t_read,
                  lambda m: m.surface_from_file(path, fformat="irap_ascii"),
                  lambda surf: f"{surf.values.count():,} defined, mean {float(surf.values.mean()):.3f}", label="read")
    if read:
        out_peer = os.path.join(folder, "peer.irap")
        versus("xtgeo", "RegularSurface.to_file irap_ascii: grid -> file", t_write,
               lambda m: read[1].to_file(out_peer, fformat="irap_ascii"),
               lambda _: f"{os.path.getsize(out_peer) / 1e6:.0f} MB", label="write")


def delaunay():
    side, cell, turn = TRI_SIDE, 25.0, math.radians(20.0)
    i, j = np.meshgrid(np.arange(side, dtype=float), np.arange(side, dtype=float))
    u, v = i.ravel() * cell, j.ravel() * cell
    x = 450_000.0 + u * math.cos(turn) - v * math.sin(turn)
    y = 6_700_000.0 + u * math.sin(turn) + v * math.cos(turn)
    z = 1500.0 + 0.01 * u + 0.02 * v
    print(f"\nDelaunay triangulation: {side * side:,} points of a rotated {side} x {side} lattice")
    points = vz.PointSet.from_xyz(x, y, z)
    t_ours, tri = best(lambda: points.to_tri_surface(), runs=2)
    line("voridez", "PointSet.to_tri_surface: lattice detection + Delaunay", t_ours,
         f"{tri.n_triangles:,} triangles")
    print("  (voridez also detects the lattice and drops edges longer than 1.8 cells, so no")
    print("   triangle bridges a fault; scipy's Qhull gives the plain Delaunay triangulation)")
    xy = np.column_stack([x, y])
    versus("scipy.spatial", "scipy.spatial.Delaunay: points -> simplices", t_ours, lambda m: m.Delaunay(xy),
           lambda d: f"{len(d.simplices):,} triangles", runs=2)


def isolines(folder):
    path = os.path.join(folder, "iso.irap")
    x, y, z = write_irap(path, ISO_SIDE, 10.0)
    surface = vz.Surface.load_irap_classic(path)
    st = surface.stats()
    levels = [st.min + (st.max - st.min) * (k + 0.5) / ISO_LEVELS for k in range(ISO_LEVELS)]
    print(f"\nIso-lines: {ISO_SIDE} x {ISO_SIDE} nodes with an undefined patch, {ISO_LEVELS} levels")
    measured = by_threads(lambda: surface.iso_lines(levels=levels), runs=3)
    for setting, (t, lines) in measured.items():
        n_lines = sum(len(p) for _, p in lines)
        n_points = sum(len(pl) for _, p in lines for pl in p)
        line("voridez", f"Surface.iso_lines ({setting}): triangles -> lists", t,
             f"{n_lines:,} polylines, {n_points:,} points")
    print("  (voridez traces each cell split in two triangles and returns Python lists of")
    print("   tuples; contourpy runs marching squares on the cells and returns numpy arrays)")
    zm = np.ma.masked_invalid(z)

    def contour(m):
        return m.contour_generator(x[0], y[:, 0], zm, name="serial", line_type="Separate").multi_lines(levels)

    versus("contourpy", "multi_lines serial: marching squares -> numpy arrays", times(measured), contour,
           lambda out: f"{sum(len(lv) for lv in out):,} polylines, {sum(len(pl) for lv in out for pl in lv):,} points")


def gridding():
    rng = np.random.default_rng(7)
    x = rng.uniform(0.0, 10_000.0, GRID_POINTS)
    y = rng.uniform(0.0, 10_000.0, GRID_POINTS)
    z = dome(x, y) + rng.normal(0.0, 1.0, GRID_POINTS)
    step = 10_000.0 / (GRID_SIDE - 1)
    geom = vz.GridGeometry(0.0, 0.0, step, step, GRID_SIDE, GRID_SIDE)
    print(f"\nGridding: {GRID_POINTS:,} scattered points -> {GRID_SIDE} x {GRID_SIDE} nodes")
    points = vz.PointSet.from_xyz(x, y, z)
    t_near, s_near = best(lambda: points.to_surface(geom, "nearest"))
    line("voridez", "PointSet.to_surface nearest", t_near, f"{s_near.stats().count:,} nodes defined")
    ours = {}
    for method in ("idw", "min_curvature"):
        ours[method] = by_threads(lambda: points.to_surface(geom, method), runs=1)
        for setting, (t, s) in ours[method].items():
            line("voridez", f"PointSet.to_surface {method} ({setting})", t, f"{s.stats().count:,} nodes defined")
    axis = np.arange(GRID_SIDE) * step
    gx, gy = np.meshgrid(axis, axis)
    xy = np.column_stack([x, y])

    def griddata(method, t_ours=None, label="", runs=1):
        return versus("scipy.interpolate", f"interpolate.griddata {method}", t_ours,
                      lambda m: m.griddata(xy, z, (gx, gy), method=method),
                      lambda out: f"{int(np.isfinite(out).sum()):,} nodes defined", runs=runs, label=label)

    nearest = griddata("nearest", t_near, "nearest:", runs=3)
    if nearest:
        # Same method, same answer: compare a sample of interior nodes.
        picks = np.random.default_rng(11).integers(1, GRID_SIDE - 1, size=(2000, 2))
        same = sum(s_near.sample(i * step, j * step) == nearest[1][j, i] for i, j in picks)
        print(f"  nearest: the grids agree on {same} of {len(picks)} sampled nodes")
    linear = griddata("linear")
    cubic = griddata("cubic")
    print("  (griddata interpolates inside its Delaunay triangles, barycentric for linear and")
    print("   Clough-Tocher for cubic, and leaves nodes outside the hull undefined; voridez's")
    print("   inverse distance weighs every sample at every node, with no search radius, and its")
    print("   minimum curvature solves for a smooth surface; both fill every node. No method is")
    print("   shared: the pairs below are the nearest in kind)")
    if linear:
        ratio("scipy", times(ours["idw"]), linear[0], "idw vs linear:")
    if cubic:
        ratio("scipy", times(ours["min_curvature"]), cubic[0], "min_curvature vs cubic:")


def main():
    print(f"peers: voridez {vz.__version__}; {load_line()}")
    with tempfile.TemporaryDirectory() as folder:
        las(folder)
        irap(folder)
        delaunay()
        isolines(folder)
        gridding()
    print(f"\npeers: done; {load_line()}")


if __name__ == "__main__":
    main()
