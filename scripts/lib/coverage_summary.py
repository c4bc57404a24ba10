#!/usr/bin/env python3
"""Line and branch coverage per file from a gcovr JSON report.

Branches: the edges that only an exception takes are left out. gcov counts, for every
call that may throw, an edge to the exception path, and marks it "(throw)" -- but only in
the copy of a function that ran. A template member or inline function is compiled into
every object that uses it and the linker keeps one copy; the unused copies report the same
edges as "never executed" without the mark, so gcovr's --exclude-throw-branches, which
works copy by copy, keeps them. Read without that option, gcovr merges the copies line by
line and keeps the mark, and the marked edges are left out here.

Usage: coverage_summary.py REPORT.json
"""
import json
import sys


def percent(part, whole):
    return 100.0 * part / whole if whole else 100.0


def main(path):
    with open(path, encoding="utf-8") as report:
        files = json.load(report)["files"]
    totals = [0, 0, 0, 0]  # lines run, lines, branches taken, branches
    print(f"{'file':<34} {'lines':>10} {'branches':>10}")
    for entry in sorted(files, key=lambda f: f["file"]):
        lines = [line for line in entry["lines"]
                 if not line.get("gcovr/noncode") and not line.get("gcovr/excluded")]
        run = sum(1 for line in lines if line["count"] > 0)
        branches = [b for line in lines for b in line["branches"] if not b["throw"]]
        taken = sum(1 for b in branches if b["count"] > 0)
        for i, value in enumerate((run, len(lines), taken, len(branches))):
            totals[i] += value
        print(f"{entry['file']:<34} {f'{run}/{len(lines)}':>10} {f'{taken}/{len(branches)}':>10}")
    print(f"lines: {percent(totals[0], totals[1]):.1f}% ({totals[0]} out of {totals[1]})")
    print(f"branches: {percent(totals[2], totals[3]):.1f}% ({totals[2]} out of {totals[3]}),"
          " exception-only edges left out")


if __name__ == "__main__":
    main(sys.argv[1])
