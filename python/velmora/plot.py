"""A trace of joint positions as a picture: one line per joint over time.

    velmora state --model tovin --follow --csv > trace.csv
    python3 -m velmora.plot trace.csv -o trace.png

The CSV is what `velmora state --follow --csv` prints: a header `time,<joint labels...>`, then
one line per reading, the wall-clock time in seconds and one position (0..255) per joint. The
model is the one whose joint labels the header names (--model says which where several share
them); the legend names the joints as the model catalogue does. Needs matplotlib (Debian:
python3-matplotlib); draws without a display.
"""

import argparse as _argparse
import csv as _csv
import sys as _sys
from pathlib import Path as _Path
from typing import List as _List, Optional as _Optional, Tuple as _Tuple

from . import models as _models

PROG = "velmora.plot"


class TraceError(Exception):
    """A trace that cannot be drawn; its text says why."""


class Trace:
    """The readings of one CSV: seconds since the first one, and a row of positions each."""

    def __init__(self, labels: _List[str], times: _List[float], rows: _List[_List[int]]) -> None:
        self.labels = labels
        self.times = times
        self.rows = rows


def read_trace(path: _Path) -> Trace:
    """The trace in `path`; raises TraceError naming the file and line that is wrong."""
    try:
        with open(path, newline="") as file:
            lines = list(_csv.reader(file))
    except OSError as e:
        raise TraceError(f"cannot read {path}: {e.strerror or e}") from None
    except (UnicodeDecodeError, _csv.Error) as e:
        raise TraceError(f"{path} is not a CSV file: {e}") from None
    if not lines or not lines[0]:
        raise TraceError(f"{path} is empty: expected a header time,<joint labels>")
    header = [cell.strip() for cell in lines[0]]
    if header[0] != "time" or len(header) < 2:
        raise TraceError(f"{path}:1: expected a header time,<joint labels>, not "
                         f"{','.join(lines[0])!r}")
    times: _List[float] = []
    rows: _List[_List[int]] = []
    for number, line in enumerate(lines[1:], start=2):
        if not line:
            continue
        if len(line) != len(header):
            raise TraceError(f"{path}:{number}: {len(line)} values, the header has "
                             f"{len(header)}")
        try:
            at = float(line[0])
            values = [int(cell) for cell in line[1:]]
        except ValueError:
            raise TraceError(f"{path}:{number}: expected a time and whole numbers, not "
                             f"{','.join(line)!r}") from None
        if any(not 0 <= v <= 255 for v in values):
            raise TraceError(f"{path}:{number}: positions go from 0 to 255")
        times.append(at)
        rows.append(values)
    if not rows:
        raise TraceError(f"{path} has a header but no readings")
    start = times[0]
    return Trace(header[1:], [t - start for t in times], rows)


def models_of(trace: Trace, name: _Optional[str]) -> _List[_models.ModelInfo]:
    """The models whose joints the trace's columns are: the one named, or every one that fits
    when they name the joints alike."""
    fits = [m for m in _models.MODELS if m.joint_labels == trace.labels]
    if name is not None:
        chosen = _models.from_name(name)
        if chosen is None:
            raise TraceError(f"unknown model '{name}': choose {_models.choices()}")
        if chosen.model not in [m.model for m in fits]:
            raise TraceError(f"the columns {','.join(trace.labels)} are not the joints of "
                             f"{chosen.name} ({','.join(chosen.joint_labels)})")
        return [chosen]
    if not fits:
        raise TraceError(f"the columns {','.join(trace.labels)} are not the joints of any "
                         f"model ({_models.choices()})")
    if any(m.joint_names != fits[0].joint_names for m in fits):
        raise TraceError(f"the columns fit {' and '.join(m.name for m in fits)}: name one "
                         f"with --model")
    return fits


def title_of(fits: _List[_models.ModelInfo]) -> str:
    if len(fits) == 1:
        return f"{fits[0].name}, {fits[0].description}"
    return " or ".join(m.name for m in fits)


def draw(trace: Trace, fits: _List[_models.ModelInfo], output: _Path) -> None:
    """Writes the picture (its format from the file name's suffix, PNG by default)."""
    try:
        import matplotlib  # type: ignore[import]

        matplotlib.use("Agg")  # no display needed
        from matplotlib.figure import Figure  # type: ignore[import]
    except ImportError:
        raise TraceError("matplotlib is missing (Debian: python3-matplotlib)") from None
    names = fits[0].joint_names
    figure = Figure(figsize=(10, 4.5))
    axes = figure.add_subplot()
    for j, name in enumerate(names):
        axes.plot(trace.times, [row[j] for row in trace.rows], label=name, linewidth=1.2)
    axes.set_xlabel("time (s)")
    axes.set_ylabel("position (0..255)")
    axes.set_ylim(-5, 260)  # a joint at 0 or 255 stays in sight
    seconds = trace.times[-1]
    axes.set_title(f"{title_of(fits)}: {len(trace.rows)} readings in {seconds:.1f} s")
    axes.grid(True, alpha=0.3)
    axes.legend(ncol=1 + len(names) // 12, fontsize="small",
                loc="upper left", bbox_to_anchor=(1.0, 1.0))
    figure.tight_layout()
    try:
        figure.savefig(str(output), format=None if output.suffix else "png")
    except (OSError, ValueError) as e:
        raise TraceError(f"cannot write {output}: {e}") from None


def parse(argv: _Optional[_List[str]]) -> _Tuple[_Path, _Path, _Optional[str]]:
    parser = _argparse.ArgumentParser(
        prog=PROG, description="Draw the joint positions of `velmora state --follow --csv`.")
    parser.add_argument("trace", type=_Path, help="the CSV")
    parser.add_argument("-o", "--output", type=_Path,
                        help="the picture to write (default: the CSV's name, .png)")
    parser.add_argument("--model", help="the model, where the columns fit several")
    args = parser.parse_args(argv)
    trace: _Path = args.trace
    output: _Path = args.output or trace.with_suffix(".png")
    return trace, output, args.model


def main(argv: _Optional[_List[str]] = None) -> int:
    """Draws the trace; 0 when written, 1 (with a line on standard error) when not."""
    path, output, name = parse(argv)
    try:
        trace = read_trace(path)
        fits = models_of(trace, name)
        draw(trace, fits, output)
    except TraceError as e:
        print(f"{PROG}: {e}", file=_sys.stderr)
        return 1
    print(f"{PROG}: {output}: {len(trace.rows)} readings of "
          f"{' or '.join(m.name for m in fits)}")
    return 0


if __name__ == "__main__":
    _sys.exit(main())
