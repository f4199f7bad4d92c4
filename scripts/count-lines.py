#!/usr/bin/env python3
"""Counts the non-blank, non-comment lines of the C++ sources under the given folders.

    scripts/count-lines.py [--ratio] SOURCE_DIR [TEST_DIR...]

Without --ratio: one line per folder and a total. With --ratio: the lines of the first folder
against the sum of the others (the project's test/source ratio: src/ against tests/ plus fuzz/).
"""
import pathlib
import sys

EXTENSIONS = {".cpp", ".cc", ".c", ".h", ".hpp"}


def code_lines(text):
    """Lines that hold code once // and /* */ comments and blank lines are taken out.

    String and character literals are skipped, so "*/*" or "http://" in them is code."""
    count = 0
    in_block = False
    for line in text.splitlines():
        has_code = False
        i = 0
        while i < len(line):
            if in_block:
                end = line.find("*/", i)
                if end < 0:
                    break
                i = end + 2
                in_block = False
            elif line.startswith("//", i):
                break
            elif line.startswith("/*", i):
                in_block = True
                i += 2
            elif line[i] in "\"'":
                quote = line[i]
                i += 1
                while i < len(line) and line[i] != quote:
                    i += 2 if line[i] == "\\" else 1
                i += 1
                has_code = True
            else:
                has_code = has_code or not line[i].isspace()
                i += 1
        if has_code:
            count += 1
    return count


def folder_lines(folder):
    root = pathlib.Path(folder)
    return sum(code_lines(path.read_text(errors="replace"))
               for path in sorted(root.rglob("*"))
               if path.suffix in EXTENSIONS and path.is_file())


def main(argv):
    ratio = "--ratio" in argv
    folders = [arg for arg in argv if arg != "--ratio"]
    if not folders:
        sys.exit(__doc__)
    counts = [(folder, folder_lines(folder)) for folder in folders]
    if ratio:
        source = counts[0][1]
        tests = sum(count for _, count in counts[1:])
        names = " + ".join(folder for folder, _ in counts[1:])
        print(f"source lines ({counts[0][0]}): {source}")
        print(f"test lines ({names}): {tests}")
        print(f"test/source ratio: {100.0 * tests / source:.1f} %")
    else:
        for folder, count in counts:
            print(f"{count:8d}  {folder}")
        print(f"{sum(count for _, count in counts):8d}  total")


if __name__ == "__main__":
    main(sys.argv[1:])
