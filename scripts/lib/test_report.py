#!/usr/bin/env python3
"""The closing table of scripts/test: per stage the test programs passed, failed and skipped
(ctest's JUnit files), then every skip a program reported with its reason (skips.tsv, written by
the test main and the end-to-end library). Exits 1 when CI is set and a skip is unexplained."""
import collections
import os
import sys
import xml.etree.ElementTree as ElementTree


def stage_counts(path):
    counts = collections.Counter()
    skipped = []
    for case in ElementTree.parse(path).getroot().iter("testcase"):
        if case.find("failure") is not None or case.find("error") is not None:
            counts["failed"] += 1
        elif case.find("skipped") is not None or case.get("status") == "notrun":
            counts["skipped"] += 1
            skipped.append(case.get("name"))
        else:
            counts["passed"] += 1
    return counts, skipped


def read_skips(path):
    skips = []
    if os.path.exists(path):
        with open(path, encoding="utf-8", errors="replace") as f:
            for line in f:
                parts = line.rstrip("\n").split("\t")
                if len(parts) == 4:
                    skips.append(parts)
    return skips


def main():
    folder = sys.argv[1]
    print("\n== test programs per stage")
    print(f"{'stage':<16}{'passed':>8}{'failed':>8}{'skipped':>9}")
    whole_skips = []
    for name in sorted(os.listdir(folder)):
        if not name.endswith(".xml"):
            continue
        try:
            counts, skipped = stage_counts(os.path.join(folder, name))
        except ElementTree.ParseError as error:
            print(f"{name[:-4]:<16} unreadable results: {error}")
            continue
        print(f"{name[:-4]:<16}{counts['passed']:>8}{counts['failed']:>8}{counts['skipped']:>9}")
        whole_skips += [(name[:-4], program) for program in skipped]

    skips = read_skips(os.path.join(folder, "skips.tsv"))
    reported = {program for program, _, _, _ in skips}
    # A whole program that ctest skipped (exit 77) without saying why through the library.
    for stage, program in whole_skips:
        if program not in reported:
            skips.append([program, "-", "unexplained", f"skipped in {stage} without a reason"])

    by_reason = collections.defaultdict(list)
    for program, test, allowed, reason in skips:
        by_reason[(allowed, reason)].append(f"{program} {test}" if test != "-" else program)
    unexplained = sum(len(v) for (allowed, _), v in by_reason.items() if allowed != "allowed")
    print(f"\n== skips by reason ({len(skips)} in all, {unexplained} unexplained)")
    for (allowed, reason), where in sorted(by_reason.items()):
        print(f"{len(where):>3}  [{allowed}] {reason}")
        for place in sorted(set(where)):
            print(f"       {place}")
    ci = os.environ.get("CI", "")
    if unexplained and ci not in ("", "0", "false"):
        print("CI is set: unexplained skips fail the run")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
