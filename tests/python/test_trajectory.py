"""Free-standing trajectories: building from a survey, the depth questions
(z positive down, unlike a bore's elevation), and their arguments."""

import inspect
import math

import pytest

from voridez import Trajectory

NAN = float("nan")


@pytest.fixture
def vertical():
    # md 0 to 900, head (5, 7), kb 25: subsea depth md - 25.
    return Trajectory.from_stations([(0, 0, 0), (900, 0, 0)], (5, 7), 25)


def test_vertical_survey_answers_positive_down(vertical):
    assert vertical.tvd(500) == 475.0
    # xyz is in the trajectory's own frame: z is TVD below the datum's zero,
    # positive down (a bore's xyz would say -475.0).
    assert vertical.xyz(500) == (5.0, 7.0, 475.0)
    assert vertical.md_at_tvd(475) == 500.0
    assert vertical.md_range() == (0.0, 900.0)
    assert repr(vertical) == "Trajectory(md 0.0..900.0)"


@pytest.mark.parametrize("md", [-1, 900.5, NAN])
def test_outside_the_path_is_none(vertical, md):
    assert vertical.tvd(md) is None
    assert vertical.xyz(md) is None


def test_single_station_answers_only_at_its_depth():
    t = Trajectory.from_stations([(500, 10, 45)], (1, 2), 30)
    assert t.xyz(500) == (1.0, 2.0, 470.0)
    assert t.xyz(500.1) is None
    assert t.md_at_tvd(470) == 500.0
    assert t.md_at_tvd(470.5) is None
    assert t.md_range() == (500.0, 500.0)
    assert repr(t) == "Trajectory(md 500.0..500.0)"


def test_deviated_path_keeps_tvd_and_xyz_in_one_frame():
    t = Trajectory.from_stations([(0, 0, 0), (1000, 60, 90)], (0, 0), 10)
    for md in (100, 500, 999):
        x, y, z = t.xyz(md)
        assert z == t.tvd(md)
        assert x > 0 and abs(y) < 1e-9  # azimuth 90: east
    # md_at_tvd interpolates linearly in z between stations: exact at a station
    assert t.md_at_tvd(t.tvd(1000)) == 1000.0


def test_down_and_up_again_gives_the_shallower_crossing():
    # Vertical to md 1000, horizontal at 1500, climbing at 2000: the station
    # depths run 0, 1000, ~1318, ~1080, so TVD 1200 is passed going down and
    # again going up; the answer lies in the first interval that brackets it.
    t = Trajectory.from_stations([(0, 0, 0), (1000, 0, 0), (1500, 90, 0), (2000, 150, 0)], (0, 0), 0)
    z1000, z1500, z2000 = t.tvd(1000), t.tvd(1500), t.tvd(2000)
    assert z1000 < 1200 < z1500 and z2000 < 1200
    assert t.md_at_tvd(1200) == pytest.approx(1000 + 500 * (1200 - z1000) / (z1500 - z1000))


@pytest.mark.parametrize(
    "stations, message",
    [
        ([], "out of range: trajectory needs at least one station"),
        ([(100, 0, 0), (100, 0, 0)], "out of range: station measured depth must strictly increase"),
        ([(200, 0, 0), (150, 0, 0)], "out of range: station measured depth must strictly increase"),
    ],
)
def test_construction_errors(stations, message):
    with pytest.raises(ValueError) as info:
        Trajectory.from_stations(stations, (0, 0), 0)
    assert str(info.value) == message


@pytest.mark.parametrize(
    "kwargs, name",
    [
        ({"stations": [(0, 0, 0)], "head": [0, 0], "kb": 0}, "head"),
        ({"stations": [(0, 0, 0)], "head": (0, 0, 0), "kb": 0}, "head"),
        ({"stations": [[0, 0, 0]], "head": (0, 0), "kb": 0}, "stations"),
        ({"stations": [(0, 0)], "head": (0, 0), "kb": 0}, "stations"),
        ({"stations": [(0, "x", 0)], "head": (0, 0), "kb": 0}, "stations"),
        ({"stations": [(0, 0, 0)], "head": (0, 0), "kb": "25"}, "kb"),
        # stations are converted first: both wrong reports stations
        ({"stations": [[0, 0, 0]], "head": [0, 0], "kb": 0}, "stations"),
    ],
)
def test_argument_errors_name_the_argument(kwargs, name):
    with pytest.raises(TypeError) as info:
        Trajectory.from_stations(**kwargs)
    assert f"while processing '{name}'" in info.value.__notes__


def test_a_str_is_not_a_station_list():
    with pytest.raises(TypeError) as info:
        Trajectory.from_stations("abc", (0, 0), 0)
    assert str(info.value) == "Can't extract `str` to `Vec`"


@pytest.mark.parametrize("method, arg", [("tvd", "md"), ("xyz", "md"), ("md_at_tvd", "tvd")])
def test_depth_arguments(vertical, method, arg):
    with pytest.raises(TypeError) as info:
        getattr(vertical, method)("500")
    assert f"while processing '{arg}'" in info.value.__notes__
    # int and objects with __float__ are depths too
    assert getattr(vertical, method)(500) == getattr(vertical, method)(500.0)


def test_signatures_and_no_constructor():
    assert str(inspect.signature(Trajectory.from_stations)) == "(stations, head, kb)"
    assert str(inspect.signature(Trajectory.intersections)) == "(self, /, surface, tolerance=0.001)"
    with pytest.raises(TypeError):
        Trajectory()
    assert Trajectory.__doc__ == "A minimum-curvature well path positioned from a wellhead + KB datum."
    assert math.isclose(Trajectory.from_stations([(0, 0, 0)], (0, 0), 0).md_range()[0], 0.0)
