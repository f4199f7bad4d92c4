#!/usr/bin/env python3
"""Doxygen input filter for the library's headers (scripts/docs.sh).

A property is written as a getter and its setter on consecutive lines under one comment:

    /// Server name or address.
    const std::string& GetServer() const noexcept { return FServer; }
    void SetServer(const std::string& AValue);

The comment documents both; this filter repeats it after the setter as a trailing ///< comment
on the same line, so that the reference shows it there too. Line numbers are kept.
"""
import re
import sys

GETTER = re.compile(r"\b(?:Get|Is|Has)(\w+)\s*\(")
SETTER = re.compile(r"^\s*(?:virtual\s+)?void\s+Set(\w+)\s*\(")


def main(path):
    with open(path, encoding="utf-8", errors="surrogateescape") as source:
        lines = source.read().split("\n")
    comment = []
    for i, line in enumerate(lines):
        stripped = line.strip()
        if stripped.startswith("///") and not stripped.startswith("///<"):
            comment.append(stripped[3:].strip())
            continue
        getter = GETTER.search(line) if comment else None
        if getter and i + 1 < len(lines) and "///" not in lines[i + 1]:
            setter = SETTER.match(lines[i + 1])
            if setter and setter.group(1) == getter.group(1):
                lines[i + 1] += " ///< " + " ".join(comment)
        comment = []
    sys.stdout.buffer.write("\n".join(lines).encode("utf-8", errors="surrogateescape"))


if __name__ == "__main__":
    main(sys.argv[1])
