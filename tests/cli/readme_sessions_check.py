#!/usr/bin/python3
"""Replays every session that the README's tool section shows and compares what the built program
prints (stdout and stderr) and its exit status. Serial numbers that the emulated devices derive
from their names are masked. Usage: readme_sessions_check.py README TOOL_DIR [--update]
(--update writes the program's output back into the README)."""
import os
import re
import subprocess
import sys
import tempfile

MASKS = [(re.compile(r"QX[0-9A-F]{8}-[0-9]+"), "QX<serial>"),
         (re.compile(r"(binary: )[0-9a-f]{16}"), r"\1<naa>"),
         (re.compile(r", [0-9]+\.[0-9]{3} ms$", re.M), ", <time> ms"),
         (re.compile(r" in [0-9]+\.[0-9]{3} s, [0-9]+\.[0-9] MiB/s$", re.M), " in <time> s, <rate> MiB/s")]


def mask(text):
    for pattern, replacement in MASKS:
        text = pattern.sub(replacement, text)
    return text


def sessions(lines, start, end):
    """(index of the "$ " line, command, index after its output, expected output, expected exit)."""
    i = start
    while i < end:
        if not lines[i].startswith("$ "):
            i += 1
            continue
        command, j, output, status = lines[i][2:], i + 1, [], None
        while j < end and not lines[j].startswith("$ ") and not lines[j].startswith("```"):
            m = re.fullmatch(r"\[exit (\d+)\]", lines[j])
            if m:
                status = int(m.group(1))
                j += 1
                break
            output.append(lines[j])
            j += 1
        yield i, command, j, output, status
        i = j


def main():
    readme, tool_dir = sys.argv[1], os.path.abspath(sys.argv[2])
    update = "--update" in sys.argv[3:]
    with open(readme) as f:
        lines = f.read().split("\n")
    start = lines.index("## The qxscsi tool")
    end = next(i for i in range(start + 1, len(lines)) if lines[i].startswith("## "))
    repo = os.path.dirname(os.path.abspath(readme))
    env = dict(os.environ, PATH=tool_dir + os.pathsep + os.environ.get("PATH", ""))
    failures, replaced, count = 0, [], 0
    with tempfile.TemporaryDirectory(prefix="qxscsi-readme-") as work:
        os.symlink(os.path.join(repo, "examples"), os.path.join(work, "examples"))
        for at, command, after, expected, status in sessions(lines, start, end):
            count += 1
            run = subprocess.run(["sh", "-c", command + " 2>&1"], cwd=work, env=env, stdout=subprocess.PIPE,
                                 timeout=60)
            actual = run.stdout.decode("utf-8", "replace").split("\n")
            if actual and actual[-1] == "":
                actual.pop()
            wanted_status = 0 if status is None else status
            if mask("\n".join(actual)) != mask("\n".join(expected)) or run.returncode != wanted_status:
                failures += 1
                print("FAIL $ %s\n--- README (exit %d)\n%s\n--- program (exit %d)\n%s\n" %
                      (command, wanted_status, "\n".join(expected), run.returncode, "\n".join(actual)))
            tail = [] if status is None else ["[exit %d]" % run.returncode]
            replaced.append((at + 1, after, actual + tail))
    if update:
        for first, after, new in reversed(replaced):
            lines[first:after] = new
        with open(readme, "w") as f:
            f.write("\n".join(lines))
        print("README updated")
        return 0
    print("%d of %d sessions differ" % (failures, count))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
