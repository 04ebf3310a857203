"""The one timing rule of the Python benchmarks: the shortest wall time of
several runs (the least disturbed by whatever else the machine is doing)."""

import gc
import time


def best(fn, runs=3):
    """(shortest wall time in seconds of `runs` calls of `fn`, the last call's
    result). Garbage is collected before each run, outside the timing."""
    times, out = [], None
    for _ in range(runs):
        gc.collect()
        t0 = time.perf_counter()
        out = fn()
        times.append(time.perf_counter() - t0)
    return min(times), out
