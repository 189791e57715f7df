"""Python call time against the same C++ call (python/benchmarks/HandCalls.cpp).

    PYTHONPATH=build/default/python /usr/bin/python3 python/benchmarks/bench_calls.py \
        build/default/python/velmora_python_benchmarks

Prints microseconds per call from Python, from C++ (when the C++ benchmark program is given)
and their difference and ratio.
"""

import json
import subprocess
import sys
import tempfile
import time
from typing import Callable, Dict, List, Tuple

import numpy as np

import velmora
from velmora.sim import SimulatedHand


def per_call_us(call: Callable[[], object], seconds: float) -> float:
    """Best of five runs of about `seconds` / 5 each: microseconds per call."""
    n = 1
    while True:
        start = time.perf_counter()
        for _ in range(n):
            call()
        if time.perf_counter() - start > seconds / 20:
            break
        n *= 2
    best = float("inf")
    for _ in range(5):
        start = time.perf_counter()
        for _ in range(n):
            call()
        best = min(best, (time.perf_counter() - start) / n)
    return best * 1e6


def cpp_figures(program: str) -> Dict[str, float]:
    # The library writes to standard output too: the figures go to a file of their own.
    with tempfile.NamedTemporaryFile(suffix=".json") as out:
        subprocess.run([program, f"--benchmark_out={out.name}", "--benchmark_out_format=json"],
                       capture_output=True, check=True)
        with open(out.name) as figures_file:
            report = json.load(figures_file)
    figures: Dict[str, float] = {}
    for run in report["benchmarks"]:
        key = "real_time" if run["name"].endswith("real_time") else "cpu_time"
        figures[run["name"].split("/")[0]] = float(run[key])
    return figures


def main(argv: List[str]) -> None:
    bytes_list = [128] * 10
    bytes_array = np.full(10, 128, dtype=np.uint8)
    angles_list = [0.3] * 10
    angles_array = np.full(10, 0.3)
    with SimulatedHand(velmora.TOVIN, velmora.RIGHT, "virtual:can-bench-py"):
        hand = velmora.VelmoraApi(velmora.TOVIN, velmora.RIGHT, "virtual:can-bench-py")
        rows: List[Tuple[str, str, float]] = [
            ("GetState", "get_state()", per_call_us(hand.get_state, 2.0)),
            ("Health", "health()", per_call_us(hand.health, 0.5)),
            ("RangeToArc10", "range_to_arc(list)",
             per_call_us(lambda: velmora.range_to_arc(10, "right", bytes_list), 0.5)),
            ("RangeToArc10", "range_to_arc(uint8 array)",
             per_call_us(lambda: velmora.range_to_arc(10, "right", bytes_array), 0.5)),
            ("ArcToRange10", "arc_to_range(list)",
             per_call_us(lambda: velmora.arc_to_range(10, "right", angles_list), 0.5)),
            ("ArcToRange10", "arc_to_range(float64 array)",
             per_call_us(lambda: velmora.arc_to_range(10, "right", angles_array), 0.5)),
        ]
    cpp = cpp_figures(argv[1]) if len(argv) > 1 else {}
    print(f"{'call':30} {'Python us':>10} {'C++ us':>10} {'extra us':>10} {'ratio':>7}")
    for name, label, python_us in rows:
        if name in cpp:
            c = cpp[name]
            print(f"{label:30} {python_us:10.2f} {c:10.2f} {python_us - c:10.2f} "
                  f"{python_us / c:7.2f}")
        else:
            print(f"{label:30} {python_us:10.2f}")


if __name__ == "__main__":
    main(sys.argv)
