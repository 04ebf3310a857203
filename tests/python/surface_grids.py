"""Small regular surfaces with chosen node values, for the surface tests.

A surface with arbitrary values is made the way a user gets one: by loading
an IRAP classic file. `rows[j][i]` is the value of node (i, j) (column i, row
j); NaN is written as the format's undefined value. Values go out in their
round-trip text form, so they come back bit for bit.
"""

import itertools
import math
from pathlib import Path

import pytest

import voridez as vz

_counter = itertools.count()

DATA_DIR = Path(__file__).resolve().parents[1] / "data"


def _num(v):
    return "9999900" if math.isnan(v) else repr(float(v))


def irap_text(rows, xori=0.0, yori=0.0, xinc=1.0, yinc=1.0, rotation=0.0, yflip=False):
    nrow, ncol = len(rows), len(rows[0])
    written_yinc = -yinc if yflip else yinc
    head = [
        f"-996 {nrow} {_num(xinc)} {_num(written_yinc)}",
        f"{_num(xori)} {_num(xori + (ncol - 1) * xinc)} {_num(yori)} {_num(yori + (nrow - 1) * yinc)}",
        f"{ncol} {_num(rotation)} {_num(xori)} {_num(yori)}",
        "0 0 0 0 0 0 0",
    ]
    body = [" ".join(_num(v) for v in row) for row in rows]
    return "\n".join(head + body) + "\n"


@pytest.fixture
def make_grid(tmp_path):
    """make_grid(rows, **geometry) -> Surface loaded from an IRAP classic file."""

    def make(rows, **geometry):
        path = tmp_path / f"grid{next(_counter)}.irap"
        path.write_text(irap_text(rows, **geometry))
        return vz.Surface.load_irap_classic(str(path))

    return make


def values_of(surface):
    """The primary values as rows (row j lists nodes (0, j) … (ncol-1, j))."""
    return surface.to_structured_mesh().values()


def same_values(a, b):
    """Equal node by node, NaN matching NaN."""
    assert len(a) == len(b)
    for ra, rb in zip(a, b):
        assert len(ra) == len(rb)
        for x, y in zip(ra, rb):
            assert (math.isnan(x) and math.isnan(y)) or x == y, (ra, rb)
