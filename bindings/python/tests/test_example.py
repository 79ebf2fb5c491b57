"""The README's example, as the README quotes it, and the recorder of `python3 -m zavn record`."""

import csv
import re
import subprocess
import sys

from conftest import ROOT

EXAMPLE = ROOT / "bindings/python/examples/stream.py"


def test_the_readme_quotes_the_example():
    quoted = "```python\n" + EXAMPLE.read_text() + "```\n"
    readme = (ROOT / "README.md").read_text()
    assert quoted in readme, "README.md must quote examples/stream.py as it is"


def test_the_example_runs():
    run = subprocess.run([sys.executable, str(EXAMPLE)], capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    line = r"^player (\d): (\d+) samples, channel 1 from \d+ to \d+, serial "
    players = re.findall(line, run.stdout, re.M)
    assert [p for p, _ in players] == ["1", "2"] and all(int(n) > 50 for _, n in players)
    records = int(re.search(r"^(\d+) records through the callback$", run.stdout, re.M).group(1))
    assert records >= sum(int(n) for _, n in players)


def test_record_writes_every_players_samples_in_time_order(tmp_path):
    out = tmp_path / "out.csv"
    run = subprocess.run([sys.executable, "-m", "zavn", "record", "--virtual", "3", "--seconds",
                          "1.5", str(out)], capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    with out.open(newline="") as file:
        rows = list(csv.reader(file))
    assert rows[0] == (["time", "player"] + [f"motion{c}" for c in range(1, 7)]
                       + [f"extension{c}" for c in range(1, 4)])
    times = [float(row[0]) for row in rows[1:]]
    assert times == sorted(times) and 0 < times[0] and times[-1] < 2.0
    by_player = {}
    for row in rows[1:]:
        by_player.setdefault(row[1], []).append(tuple(int(v) for v in row[2:8]))
    assert sorted(by_player) == ["1", "2", "3"]
    summary = re.search(r"player 1: (\d+), player 2: (\d+), player 3: (\d+)\)", run.stderr)
    for player, samples in by_player.items():
        # 100 a second, each once (twice would pass 160), as many as the summary says.
        assert 50 < len(samples) <= 160 and len(samples) == int(summary.group(int(player)))
