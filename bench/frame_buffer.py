"""Passing a million float64 values into a binding call: as a numpy array
(read from the array's memory) and as a list (one Python float per element
already exists). The array path must not build a Python object per element,
so it should be far faster than the list path and than iterating the array."""


import numpy as np

from voridez import Stats
from _timing import best

N = 1_000_000
REPEAT = 5


def main():
    arr = np.random.default_rng(1).uniform(1.0, 2.0, size=N)
    as_list = arr.tolist()
    t_array = best(lambda: Stats.geomean(arr), REPEAT)[0]
    t_list = best(lambda: Stats.geomean(as_list), REPEAT)[0]
    t_strided = best(lambda: Stats.geomean(arr[::2]), REPEAT)[0]
    # What the sequence path costs on an array: one numpy scalar per element.
    t_objects = best(lambda: Stats.geomean(arr.astype(object)), REPEAT)[0]
    print(f"frame buffer: {N:,} float64 into a binding call (Stats.geomean: one pass over the values)")
    print(f"  numpy array (buffer)   {t_array * 1e3:8.1f} ms")
    print(f"  numpy array, strided   {t_strided * 1e3:8.1f} ms  ({N // 2:,} values)")
    print(f"  list of floats         {t_list * 1e3:8.1f} ms  ({t_list / t_array:.1f}x the array)")
    print(f"  object array (per item){t_objects * 1e3:8.1f} ms  ({t_objects / t_array:.1f}x the array)")


if __name__ == "__main__":
    main()
