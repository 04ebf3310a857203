"""Small wells written as files and loaded into a project, the way a user's
data arrives: one `.wellpath` survey per bore, LAS curves, a tops CSV for the
main bore, and Petrel well-tops files for contacts."""

from project_files import las, petrel_tops, wellpath, write
from project_files import load_well as _load_well


def write_well(folder, bores=None, logs=None, tops=None, head=(0.0, 0.0), kb=0.0):
    """Writes the files of one well into `folder`.

    bores: label -> (md, tvd) stations of a vertical hole; "" is the main
        bore. One bore gives one survey; several are told apart by their
        file names.
    logs: file stem -> (mnemonics, depths, offset): curve k at depth d holds
        d / 10 + k + offset; a stem naming a bore label (e.g. "w_A") puts its
        curves on that bore.
    tops: (name, md) rows for the main bore.
    head, kb: the wellhead and datum every survey's header gives.
    """
    folder.mkdir(parents=True, exist_ok=True)
    bores = bores or {}
    for label, stations in bores.items():
        stem = "w" if len(bores) == 1 else f"w_{label}"
        wellpath(folder / f"{stem}.wellpath", head[0], head[1], kb, stations)
    for stem, (curves, depths, offset) in (logs or {}).items():
        las(folder / f"{stem}.las", curves, depths, offset)
    if tops:
        write(folder / "w_tops.csv", "name,md\n" + "".join(f"{n},{md!r}\n" for n, md in tops))
    return folder


def load_well(geo, well_id, folder):
    """Loads `folder` into `geo` under `well_id`."""
    return _load_well(geo, well_id, folder)


def load_contacts(geo, path, picks):
    """Writes a Petrel well-tops file of (well, name, md) fluid-contact picks
    and loads it into `geo`."""
    return geo.load_well_tops(petrel_tops(path, [("Other", name, well, md) for well, name, md in picks]))


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
    """One bore on the path above, the curves GR (= md / 10) and PHIE
    (= md / 10 + 1), and the tops A at 100 and B at 110."""
    return make_well(
        geo,
        tmp_path,
        well_id,
        bores={"": MAIN_PATH},
        head=HEAD,
        kb=KB,
        logs={"w": (["GR", "PHIE"], DEPTHS, 0.0)},
        tops=[("A", 100.0), ("B", 110.0)],
    )


def multibore_well(geo, tmp_path, well_id="W", labels=("", "A"), tops=(("A", 100.0),)):
    """Bores `labels`, each vertical from 0 to 1000 and carrying GR = md / 10
    + its position in `labels` from md 90 to 129 (so the bore a read came
    from shows); the main bore also carries the tops."""
    depths = [90.0 + k for k in range(40)]
    logs = {}
    for k, label in enumerate(labels):
        stem = f"w_{label}" if label else "w"
        logs[stem] = (["GR"], depths, float(k))
    return make_well(
        geo,
        tmp_path,
        well_id,
        bores={label: [(0.0, 0.0), (1000.0, 1000.0)] for label in labels},
        logs=logs,
        tops=list(tops),
    )
