"""The typical road through voridez, on the bundled synthetic North Field.

    make demo                               # set-up, build, then this script
    python3 examples/demo.py [--data DIR] [--out DIR]

Loads five wells (one with a sidetrack) and their Petrel tops, shows the
stratigraphic order inferred from the picks, tabulates the zones with net
cutoffs, crosses every bore with the Top Tarbert depth map and conforms the
Tarbert tops to it, grids the scattered picks of the same horizon and contours
the grid, then saves the project, opens it again and looks inside. Without
--out the project file goes to a temporary folder.

The steps are functions returning what they made; `road` runs them in order
and `report` prints the results (the test suite runs the same road).
"""

import argparse
import os
import tempfile
from types import SimpleNamespace

import pandas as pd

import voridez as vz

DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data")

MAP = "Top Tarbert"  # the depth map, as stored in the project
HORIZON = "Tarbert"  # the formation top that map is a surface of
PICKS = "Top Tarbert picks"
GRIDDED = "Top Tarbert from picks"
OUTLINE = "Licence outline"
CONTOUR_INTERVAL = 25.0  # m

# Net pay: porous, hydrocarbon-bearing, clean. Shale volume only counts when
# the zone tables name its curve (vsh="VSH").
CUTOFFS = vz.NetSettings(phi_min=0.10, sw_max=0.6, vsh_max=0.4)


def bore_label(well, bore):
    """How the zone tables label a bore: the well alone for the main bore."""
    return well if bore == "" else f"{well} {bore}"


# ---- the steps -----------------------------------------------------------------


def load_field(data):
    """A project in metres with the wells, their tops and the maps."""
    geo = vz.GeoData("m")
    wells_dir = os.path.join(data, "wells")
    for well_id in sorted(os.listdir(wells_dir)):
        geo.load_well(well_id, files=os.path.join(wells_dir, well_id))
    assigned = geo.load_well_tops(os.path.join(data, "tops", "field_tops.txt"))
    geo.load_surface(MAP, os.path.join(data, "maps", "top_tarbert.irap"))
    geo.load_points(PICKS, os.path.join(data, "maps", "top_tarbert_picks.poi"))
    geo.load_polygons(OUTLINE, os.path.join(data, "maps", "field_outline.pol"))
    return geo, assigned


def well_summary(geo):
    """One row per positioned bore: where it is, how deep, what was logged."""
    rows = []
    for well in geo.wells.iter():
        x, y = well.head
        for bore in well.sidetracks():
            span = bore.md_range()
            if span is None:  # a bore without a survey (NF-3's empty main entry)
                continue
            rows.append({"bore": bore_label(well.id, bore.label), "x": x, "y": y, "kb": well.kb,
                         "td_md": span[1], "curves": " ".join(bore.mnemonics())})
    return pd.DataFrame(rows).set_index("bore")


def picks_table(geo):
    """The tops as loaded: measured depth of each pick, bores by tops in
    stratigraphic order (a missing pick shows as NaN)."""
    rows = [{"bore": bore_label(well, bore), "top": name, "md": md}
            for name in geo.strat_order for well, bore, md, _ in geo.well_top_set(name)]
    table = pd.DataFrame(rows).pivot(index="bore", columns="top", values="md")
    return table[geo.strat_order]


def zone_tables(geo, cut):
    """Net porosity per zone and bore (pivoted), and the field summary per zone
    (aggregated: thickness, net-to-gross, net porosity and saturation)."""
    wells = geo.wells
    net = dict(cut=cut, vsh="VSH")
    net_phie = wells.zone_table("PHIE", pivot=True, decimals=3, include_empty=True, **net)
    gross = wells.zone_table("PHIE", stats=["gross", "samples"], aggregate=True)
    net_phi = wells.zone_table("PHIE", stats=["samples", "mean"], aggregate=True, **net)
    net_sw = wells.zone_table("SW", stats=["mean"], aggregate=True, **net)
    cells = gross.join(net_phi.rename(columns={"samples": "net_samples", "mean": "phie_net"}))
    cells = cells.join(net_sw.rename(columns={"mean": "sw_net"}))
    # Every log is sampled every 0.5 m, so net-to-gross is the share of samples
    # that pass the cutoffs; a zone without a net sample has none.
    cells["ntg"] = (cells["net_samples"] / cells["samples"]).fillna(0.0)
    field = cells.xs("all", level="bore")[["gross", "ntg", "phie_net", "sw_net"]]
    field = field.rename(columns={"gross": "gross_m"}).reindex(geo.strat_order)
    return net_phie, field.round(3)


def crossings(geo, surface_name):
    """Every bore of every well crossed with the map, in one call."""
    return geo.wells.intersection(geo.surface(surface_name))


def tie_tops(geo, hits, horizon):
    """Conform the horizon's tops to the map: each crossing replaces the bore's
    pick, or adds one where the interpreter has none. Returns the mis-ties."""
    rows = []
    for hit in hits:
        bore = geo.well(hit.well).sidetrack(hit.bore)
        pick = next((md for name, md in bore.tops() if name.lower() == horizon.lower()), None)
        if pick is None:
            bore.add_top(horizon, hit)
        else:
            bore.replace_top(horizon, hit)
        rows.append({"bore": bore_label(hit.well, hit.bore), "pick_md": pick, "map_md": hit.md,
                     "shift_m": None if pick is None else hit.md - pick, "tvdss": -hit.xyz[2],
                     "action": "added" if pick is None else "moved"})
    return pd.DataFrame(rows).set_index("bore")


def horizon_zone(geo, horizon):
    """Thickness and mean porosity of one zone in every bore that has it."""
    table = geo.wells.zone_table("PHIE", stats=["gross", "mean"], zones=[horizon], decimals=3)
    return table.set_index("bore")[["gross", "mean"]].rename(columns={"gross": "gross_m", "mean": "phie"})


def owc_elevation(geo):
    """The oil-water contact seen in NF-1, as an elevation (m, negative down)."""
    well = geo.well("NF-1")
    _, md = well.contact("OWC")
    return -well.tvd(md)


def grid_picks(geo, out, owc):
    """Grid the scattered picks on the map's lattice by minimum curvature,
    compare with the map inside the licence, contour the grid and store it in
    the project through an IRAP classic file."""
    depth_map = geo.surface(MAP)
    outline = geo.polygons(OUTLINE)
    gridded = geo.points(PICKS).to_surface(depth_map.geometry, "min_curvature")
    licence = outline.clip(gridded)
    difference = outline.clip(gridded.minus(depth_map)).stats()
    contours = licence.iso_lines(interval=CONTOUR_INTERVAL, simplify=1.0)
    owc_contour = licence.iso_lines(levels=[owc])[0][1]
    path = os.path.join(out, "top_tarbert_from_picks.irap")
    gridded.save_irap_classic(path)
    geo.load_surface(GRIDDED, path)
    return SimpleNamespace(surface=licence, difference=difference, contours=contours,
                           owc_contour=owc_contour, area_above_owc=licence.area_above(owc), irap=path)


def save_and_reopen(geo, out):
    """Save the whole project, read its manifest, and open it again."""
    geo.display_name = "North Field demo"
    geo.crs = geo.well("NF-1").crs
    path = os.path.join(out, "north_field.zedod")
    geo.save(path)
    return path, vz.GeoData.inspect(path), vz.GeoData.open(path)


def road(data, out):
    """Walk the whole road on the field in `data`, writing files into `out`;
    returns everything a user would look at."""
    geo, assigned = load_field(data)
    r = SimpleNamespace(geo=geo, tops_assigned=assigned, strat_order=geo.strat_order)
    r.wells = well_summary(geo)
    r.picks = picks_table(geo)
    r.net_phie, r.field = zone_tables(geo, CUTOFFS)
    r.hits = crossings(geo, MAP)
    r.ties = tie_tops(geo, r.hits, HORIZON)
    r.tarbert_after = horizon_zone(geo, HORIZON)
    r.owc = owc_elevation(geo)
    r.grid = grid_picks(geo, out, r.owc)
    r.project_file, r.manifest, r.reopened = save_and_reopen(geo, out)
    return r


# ---- what the user sees ----------------------------------------------------------


def section(title):
    print(f"\n== {title} ==")


def report(r):
    print(f"voridez {vz.__version__}")
    section("Wells")
    print(r.wells.to_string(float_format=lambda v: f"{v:.1f}"))
    section("Tops")
    print(f"{r.tops_assigned} picks assigned; stratigraphic order inferred from them (shallow to deep):")
    print("  " + ", ".join(r.strat_order))
    print(r.picks.to_string(float_format=lambda v: f"{v:.1f}", na_rep="-"))

    section(f"Zones, net cutoffs PHIE >= {CUTOFFS.phi_min}, SW <= {CUTOFFS.sw_max}, VSH <= {CUTOFFS.vsh_max}")
    print("Net porosity (thickness-weighted mean of net samples):")
    print(r.net_phie.to_string(na_rep="-"))
    print("\nField summary per zone (gross = mean zone thickness along hole, m):")
    print(r.field.to_string(na_rep="-"))

    section(f"Crossings with the {MAP} map")
    summary = r.hits.summary()
    print(f"{summary['hits']} crossings, {summary['skipped']} bores skipped, {summary['failed']} failed")
    print(f"{HORIZON} tops conformed to the map (shift = map - pick, m MD):")
    print(r.ties.to_string(float_format=lambda v: f"{v:.2f}", na_rep="-"))
    print(f"\n{HORIZON} zone after the tie (all samples; NF-5 lies below the OWC):")
    print(r.tarbert_after.to_string(na_rep="-"))

    section("Gridding the scattered picks")
    g, d = r.grid, r.grid.difference
    print(f"{r.geo.points(PICKS).z_stats().count} picks -> {g.surface.ncol} x {g.surface.nrow} nodes "
          f"(minimum curvature, the map's lattice), clipped to the licence")
    print(f"grid - map inside the licence: mean {d.mean:+.2f} m, std {d.std:.2f} m, "
          f"P10 {d.p10:+.2f} m, P90 {d.p90:+.2f} m")
    levels = [level for level, lines in g.contours if lines]
    print(f"iso-lines every {CONTOUR_INTERVAL:g} m: {len(levels)} levels from {levels[0]:g} to {levels[-1]:g} m, "
          f"{sum(len(lines) for _, lines in g.contours)} polylines")
    closed = sum(1 for line in g.owc_contour if line[0] == line[-1])
    print(f"OWC contour at {r.owc:g} m: {len(g.owc_contour)} polyline(s), {closed} closed; "
          f"area above the contact {g.area_above_owc / 1e6:.2f} km2")
    print(f"grid written to {g.irap} and loaded as '{GRIDDED}'")

    section("Project file")
    size = os.path.getsize(r.project_file)
    print(f"saved {r.project_file} ({size / 1024:.0f} KiB)")
    m = r.manifest
    print(f"manifest: '{m['display_name']}', unit {m['unit']}, CRS {m['crs']}")
    kinds = {}
    for kind, name in m["elements"]:
        kinds.setdefault(kind, []).append(name)
    for kind, names in kinds.items():
        print(f"  {kind:<9} {', '.join(names)}")
    again = r.reopened
    nf5 = again.well("NF-5")
    print(f"reopened: {len(again.wells)} wells, unit {again.unit}, order {', '.join(again.strat_order)}")
    print(f"  NF-5 tops: {', '.join(f'{n} {md:.1f}' for n, md in nf5.tops())}")
    print(f"  surfaces: {', '.join(s.name for s in again.surfaces())}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--data", default=DATA, help="the field's folder (default: examples/data)")
    parser.add_argument("--out", help="folder for the project file and the grid (default: a temporary one)")
    args = parser.parse_args()
    pd.set_option("display.width", 120)
    if args.out:
        os.makedirs(args.out, exist_ok=True)
        report(road(args.data, args.out))
    else:
        with tempfile.TemporaryDirectory() as out:
            report(road(args.data, out))
        print("\n(the files above were written to a temporary folder; --out DIR keeps them)")


if __name__ == "__main__":
    main()
