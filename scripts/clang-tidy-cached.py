#!/usr/bin/env python3
"""Runs clang-tidy on the sources of a compile database, skipping the ones
already found clean with exactly the same input.

    scripts/clang-tidy-cached.py -p BUILD_DIR [-j JOBS] REGEX

Checks every translation unit of BUILD_DIR/compile_commands.json whose file
matches REGEX (with .clang-tidy from the tree, as run-clang-tidy does). A
unit's key is the SHA-256 of its preprocessed text with its comments (so
every header it includes counts, and a NOLINT too), its compile command, .clang-tidy and the clang-tidy
version. A unit that clang-tidy finds clean leaves its key in the cache
folder (VELUMO_TIDY_CACHE, or ~/.cache/velumo/clang-tidy); the next run skips
it while the key is the same. Findings are never cached: a unit with any
warning is checked again every time. Prints every finding and exits 1 when
there is one.
"""

import argparse
import concurrent.futures
import hashlib
import json
import os
import re
import shlex
import subprocess
import sys
import time


def preprocess_command(entry):
    """The unit's compile command, turned into one that writes the
    preprocessed text to standard output."""
    if "arguments" in entry:
        args = list(entry["arguments"])
    else:
        args = shlex.split(entry["command"])
    out = []
    skip = False
    for arg in args:
        if skip:
            skip = False
            continue
        if arg in ("-o", "-MF", "-MT", "-MQ"):
            skip = True
            continue
        if arg in ("-c", "-MD", "-MMD"):
            continue
        out.append(arg)
    # A compiler launcher (ccache) is of no use here.
    if os.path.basename(out[0]) == "ccache":
        out = out[1:]
    # -C keeps the comments: NOLINT and a few checks read them.
    return out + ["-E", "-C", "-o", "-"]


def unit_key(entry, common, source):
    """The unit's key. The checkout's folder is taken out of it, so that a
    clone elsewhere (CI clones afresh each run) finds the same keys."""
    here = source.encode()

    def local(data):
        return data.replace(here, b"@SOURCE@")

    digest = hashlib.sha256(common)
    digest.update(local(entry["file"].encode()))
    digest.update(local(json.dumps(entry.get("arguments") or entry.get("command")).encode()))
    text = subprocess.run(preprocess_command(entry), cwd=entry["directory"],
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=False)
    if text.returncode != 0:
        return None  # not cacheable; clang-tidy will say what is wrong
    digest.update(local(text.stdout))
    return digest.hexdigest()


def run_tidy(clang_tidy, build, path):
    result = subprocess.run([clang_tidy, "-p", build, "--quiet", path],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, check=False)
    output = result.stdout.decode(errors="replace")
    findings = [line for line in output.splitlines()
                if re.search(r"(warning|error):", line)]
    clean = result.returncode == 0 and not findings
    return clean, output


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("-p", dest="build", required=True)
    parser.add_argument("-j", dest="jobs", type=int, default=os.cpu_count() or 1)
    parser.add_argument("--clang-tidy", default="clang-tidy")
    parser.add_argument("regex")
    options = parser.parse_args()

    build = os.path.realpath(options.build)
    with open(os.path.join(build, "compile_commands.json"), encoding="utf-8") as f:
        entries = [e for e in json.load(f) if re.search(options.regex, e["file"])]
    source = os.path.dirname(os.path.dirname(os.path.realpath(__file__)))
    with open(os.path.join(source, ".clang-tidy"), "rb") as f:
        config = f.read()
    version = subprocess.run([options.clang_tidy, "--version"], stdout=subprocess.PIPE,
                             check=True).stdout
    common = config + b"\0" + version + b"\0"
    cache = os.environ.get("VELUMO_TIDY_CACHE") or os.path.join(
        os.environ.get("XDG_CACHE_HOME") or os.path.expanduser("~/.cache"), "velumo", "clang-tidy")
    os.makedirs(cache, exist_ok=True)

    start = time.monotonic()
    counts = {"cached": 0, "checked": 0, "failed": 0}
    problems = []

    def check(entry):
        key = unit_key(entry, common, source)
        if key and os.path.exists(os.path.join(cache, key)):
            return "cached", ""
        clean, output = run_tidy(options.clang_tidy, build, entry["file"])
        if not clean:
            return "failed", output
        if key:
            with open(os.path.join(cache, key), "w", encoding="utf-8") as marker:
                marker.write(entry["file"] + "\n")
        return "checked", ""

    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, options.jobs)) as pool:
        for outcome, output in pool.map(check, entries):
            counts[outcome] += 1
            if output:
                problems.append(output)

    for output in problems:
        sys.stdout.write(output if output.endswith("\n") else output + "\n")
    print(f"clang-tidy: {len(entries)} units, {counts['cached']} unchanged since a clean "
          f"check, {counts['checked']} checked clean, {counts['failed']} with findings "
          f"({time.monotonic() - start:.0f} s)")
    return 1 if counts["failed"] else 0


if __name__ == "__main__":
    sys.exit(main())
