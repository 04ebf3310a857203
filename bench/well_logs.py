"""A calculated log of 1,000,000 samples assigned from numpy arrays onto a
bore, then summarised over 50 zones: plain zone statistics, net-conditioned
statistics (porosity and water saturation resampled at every sample) and the
whole-curve statistics. Assigning reads the arrays' memory (no Python float
per sample); the statistics run on the stored samples without copying them.
"""

import pathlib
import tempfile

import numpy as np

from voridez import GeoData
from _timing import best

N = 1_000_000
ZONES = 50
REPEAT = 5
TD = 10_000.0


def vertical_well(geo, folder):
    survey = (
        "# WELL HEAD X-COORDINATE: 0 (m)\n# WELL HEAD Y-COORDINATE: 0 (m)\n"
        "# WELL DATUM (KB, Kelly bushing, from MSL): 0 (m)\n# MD X Y Z TVD DX DY TWT INCL DLS AZIM\n"
        f"0 0 0 0 0 0 0 0 0 0 0\n{TD!r} 0 0 {-TD!r} {TD!r} 0 0 0 0 0 0\n"
    )
    (folder / "w.wellpath").write_text(survey)
    return geo.load_well("W", files=str(folder))


def main():
    rng = np.random.default_rng(3)
    md = np.linspace(0.0, TD, N, endpoint=False)
    perm = rng.lognormal(3.0, 1.0, N)
    phi = rng.uniform(0.0, 0.35, N)
    sw = rng.uniform(0.1, 1.0, N)

    with tempfile.TemporaryDirectory() as tmp:
        geo = GeoData()
        well = vertical_well(geo, pathlib.Path(tmp))
        bore = well.sidetrack("")
        for k in range(ZONES):
            bore.add_top(f"Z{k:02d}", k * TD / ZONES)

        t_assign, _ = best(lambda: bore.assign_log("PERM", md, perm, unit="mD", overwrite=True), REPEAT)
        t_assign_list, _ = best(lambda: bore.assign_log("PERM", md.tolist(), perm.tolist(), overwrite=True), REPEAT)
        bore.assign_log("PHIE", md, phi)
        bore.assign_log("SW", md, sw)

        rows = bore.zone_stats("PERM")
        assert len(rows) == ZONES and sum(s.count for _, s in rows) == N
        t_zone, _ = best(lambda: bore.zone_stats("PERM"), REPEAT)
        t_net, _ = best(lambda: bore.net_zone_stats("PERM"), REPEAT)
        t_net_geo, _ = best(lambda: bore.net_zone_stats("PERM", geomean=True), REPEAT)
        t_whole, _ = best(lambda: bore.log_stats("PERM"), REPEAT)
        t_view, _ = best(lambda: well.Z07.log("PERM").values_md(), REPEAT)
        net = sum(s.count for _, s in bore.net_zone_stats("PERM"))

    print(f"well logs: a {N:,}-sample curve on one bore, {ZONES} zones")
    print(f"  assign_log (numpy arrays)    {t_assign * 1e3:8.1f} ms")
    print(f"  assign_log (lists)           {t_assign_list * 1e3:8.1f} ms  ({t_assign_list / t_assign:.1f}x)")
    print(f"  zone_stats                   {t_zone * 1e3:8.1f} ms  ({N / t_zone / 1e6:.1f} M samples/s)")
    print(f"  net_zone_stats               {t_net * 1e3:8.1f} ms  ({net:,} net samples)")
    print(f"  net_zone_stats(geomean)      {t_net_geo * 1e3:8.1f} ms")
    print(f"  log_stats (whole curve)      {t_whole * 1e3:8.1f} ms")
    print(f"  one zone's values_md         {t_view * 1e3:8.1f} ms  ({N // ZONES:,} samples)")


if __name__ == "__main__":
    main()
