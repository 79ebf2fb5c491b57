"""python3 -m zavn record [--seconds N] [--virtual N | --real] OUT.csv

Records every motion sample of every player into a CSV file (one row per sample: time, player,
the six motion channels and the extension triple), for spreadsheets, pandas, R and the like.
Uses a real receiver when one is found, else the virtual one, as zavn-monitor does."""

import argparse
import csv
import os
import sys
import time

from . import PLAYERS, Receiver

COLUMNS = (["time", "player"] + [f"motion{c}" for c in range(1, 7)]
           + [f"extension{c}" for c in range(1, 4)])
READ_EVERY = 0.02  # seconds between snapshots; the ring holds 1024 samples per player
VIRTUAL_TRANSMITTERS = 2


def _open(arguments):
    """The open receiver the arguments ask for, or None with the reason written."""
    if arguments.virtual is None:
        receiver = Receiver(virtual=0).open()
        if receiver.linked_players():
            return receiver
        receiver.close()
        if arguments.real:
            print("zavn record: found no receiver", file=sys.stderr)
            return None
        print("zavn record: found no receiver, recording the virtual one with "
              f"{VIRTUAL_TRANSMITTERS} transmitters", file=sys.stderr)
    return Receiver(virtual=arguments.virtual or VIRTUAL_TRANSMITTERS).open()


def record(receiver, writer, seconds):
    """Writes the samples of `seconds` seconds, in time order; returns {player: samples}.

    The library does not time samples: those handed over by one snapshot are spread evenly over
    the time since the previous one, so a time is at most READ_EVERY seconds early."""
    start = previous = time.monotonic()
    written = {}
    try:
        while True:
            time.sleep(READ_EVERY)
            receiver.keep()
            now = time.monotonic()
            rows = []
            for player in PLAYERS:  # a player that just dropped off may still have samples
                snap = receiver.snapshot(player, numpy=False)
                step = (now - previous) / max(snap.motion_count, 1)
                for k in range(snap.motion_count):
                    rows.append([f"{previous - start + (k + 1) * step:.4f}", player]
                                + [channel[k] for channel in snap.motion_history]
                                + [channel[k] for channel in snap.extension_history])
                if snap.motion_count:
                    written[player] = written.get(player, 0) + snap.motion_count
            rows.sort(key=lambda row: float(row[0]))
            writer.writerows(rows)
            previous = now
            if now - start >= seconds:
                return written
    except KeyboardInterrupt:
        return written


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python3 -m zavn", description=__doc__.split("\n\n")[1])
    commands = parser.add_subparsers(dest="command", required=True)
    rec = commands.add_parser("record", help="record every motion sample into a CSV file")
    rec.add_argument("--seconds", type=float, default=10.0,
                     help="how long (default 10; Ctrl-C ends early)")
    choice = rec.add_mutually_exclusive_group()
    choice.add_argument("--virtual", type=int, choices=range(1, 5), metavar="N",
                        help="the virtual receiver with N (1..4) transmitters")
    choice.add_argument("--real", action="store_true", help="a real receiver only")
    rec.add_argument("output", help="the CSV file to write, - for standard output")
    arguments = parser.parse_args(argv)

    receiver = _open(arguments)
    if receiver is None:
        return 1
    out = sys.stdout if arguments.output == "-" else open(arguments.output, "w", newline="")
    try:
        writer = csv.writer(out, lineterminator="\n")
        writer.writerow(COLUMNS)
        written = record(receiver, writer, arguments.seconds)
    except BrokenPipeError:  # the reader of standard output has gone (| head): a normal end
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 0
    finally:
        receiver.close()
        if out is not sys.stdout:
            out.close()
    summary = ", ".join(f"player {p}: {n}" for p, n in sorted(written.items())) or "no player"
    print(f"zavn record: samples written to {arguments.output} ({summary})", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
