"""python3 -m velmora.plot: a trace of `velmora state --follow --csv` as a picture."""

import re
import subprocess
import sys
from pathlib import Path
from types import ModuleType
from typing import List, Optional, cast

import pytest

import velmora
from velmora import models, plot

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
TOVIN = models.info(velmora.TOVIN)


def trace_csv(labels: List[str], readings: int = 20) -> str:
    """Lines as `velmora state --follow --csv` prints them, closing the hand."""
    lines = ["time," + ",".join(labels)]
    for n in range(readings):
        lines.append(f"{1700000000 + n / 10:.6f}," +
                     ",".join(str(min(255, 20 + 10 * n + j)) for j in range(len(labels))))
    return "\n".join(lines) + "\n"


def test_draws_a_png_from_the_command_line(tmp_path: Path) -> None:
    pytest.importorskip("matplotlib", reason="matplotlib missing (python3-matplotlib)")
    trace, picture = tmp_path / "trace.csv", tmp_path / "trace.png"
    trace.write_text(trace_csv(TOVIN.joint_labels))
    done = subprocess.run([sys.executable, "-m", "velmora.plot", str(trace), "-o", str(picture)],
                          capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    assert "20 readings of tovin" in done.stdout
    assert picture.read_bytes().startswith(PNG_SIGNATURE)


def test_the_models_come_from_the_columns_or_from_model() -> None:
    trace = plot.Trace(TOVIN.joint_labels, [0.0], [[0] * TOVIN.joints])
    assert [m.model for m in plot.models_of(trace, None)] == [velmora.TOVIN]
    assert [m.model for m in plot.models_of(trace, "TOVIN")] == [velmora.TOVIN]
    assert plot.title_of(plot.models_of(trace, None)) == f"tovin, {TOVIN.description}"
    with pytest.raises(plot.TraceError, match="are not the joints of marlo"):
        plot.models_of(trace, "marlo")
    with pytest.raises(plot.TraceError, match="unknown model 'wave'"):
        plot.models_of(trace, "wave")
    # Models whose joints carry the same labels: every one of them, or the one named.
    kesta = models.info(velmora.KESTA)
    shared = plot.Trace(kesta.joint_labels, [0.0], [[0] * kesta.joints])
    sharing = [m.name for m in models.MODELS if m.joint_labels == kesta.joint_labels]
    assert len(sharing) > 1
    assert [m.name for m in plot.models_of(shared, None)] == sharing
    assert plot.title_of(plot.models_of(shared, None)) == " or ".join(sharing)
    assert [m.model for m in plot.models_of(shared, "kesta")] == [velmora.KESTA]


@pytest.mark.parametrize("name,text,message", [
    ("missing.csv", None, "cannot read .*missing.csv: No such file or directory"),
    ("empty.csv", "", "is empty: expected a header time,<joint labels>"),
    ("no-time.csv", "when,T1\n1,2\n", ":1: expected a header time,<joint labels>"),
    ("no-rows.csv", "time," + ",".join(TOVIN.joint_labels) + "\n", "a header but no readings"),
    ("short-row.csv", "time," + ",".join(TOVIN.joint_labels) + "\n1.5,1,2\n",
     ":2: 3 values, the header has 11"),
    ("not-numbers.csv", "time," + ",".join(TOVIN.joint_labels) + "\n1.5" + ",x" * 10 + "\n",
     ":2: expected a time and whole numbers"),
    ("past-255.csv", "time," + ",".join(TOVIN.joint_labels) + "\n1.5" + ",300" * 10 + "\n",
     ":2: positions go from 0 to 255"),
    ("no-model.csv", "time,A,B\n1.5,1,2\n", "the columns A,B are not the joints of any model"),
])
def test_a_file_it_cannot_draw_is_a_message_and_exit_1(
        tmp_path: Path, capsys: pytest.CaptureFixture[str], name: str, text: Optional[str],
        message: str) -> None:
    trace = tmp_path / name
    if text is not None:
        trace.write_text(text)
    assert plot.main([str(trace), "-o", str(tmp_path / "out.png")]) == 1
    err = capsys.readouterr().err
    assert err.startswith("velmora.plot: ")
    assert re.search(message, err), err
    assert not (tmp_path / "out.png").exists()


def test_without_matplotlib_it_says_so(tmp_path: Path, capsys: pytest.CaptureFixture[str],
                                       monkeypatch: pytest.MonkeyPatch) -> None:
    # None in sys.modules makes `import matplotlib` fail.
    monkeypatch.setitem(sys.modules, "matplotlib", cast(ModuleType, None))
    trace = tmp_path / "trace.csv"
    trace.write_text(trace_csv(TOVIN.joint_labels))
    assert plot.main([str(trace), "-o", str(tmp_path / "trace.png")]) == 1
    assert "matplotlib is missing (Debian: python3-matplotlib)" in capsys.readouterr().err
