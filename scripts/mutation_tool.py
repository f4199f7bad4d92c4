#!/usr/bin/env python3
"""Reads, checks and applies the mutation list of scripts/mutate.sh.

The list holds records separated by blank lines; lines starting with # are comments:
    file: src/net/ixSocks.cpp
    find: if (APort < 0 || APort > 0xFFFF)
    replace: if (APort < 0 || APort > 0x10000)
    why: port bound off by one
The text after "find: " must occur exactly once in the file. An optional "tests: " line names
more folders whose tests run, for code of one folder that users meet through another's (the
platform's security interface through the TLS stream of src/tls).

    mutation_tool.py check ROOT LIST        every record complete, its text found once
    mutation_tool.py list LIST [ID...]      id, file, test folders, why (tab-separated)
    mutation_tool.py apply ROOT LIST ID     applies one mutation in place
    mutation_tool.py summary RESULTS        counts of the result table
"""
import collections
import pathlib
import sys

FIELDS = ("file", "find", "replace", "why")
OPTIONAL = ("tests",)


def read_list(path):
    records, current = [], {}
    for number, line in enumerate(pathlib.Path(path).read_text().splitlines(), 1):
        if line.startswith("#"):
            continue
        if not line.strip():
            if current:
                records.append(current)
                current = {}
            continue
        key, sep, value = line.partition(": ")
        if not sep or key not in FIELDS + OPTIONAL or key in current:
            sys.exit(f"{path}:{number}: expected one of {', '.join(FIELDS)} as 'key: value'")
        current[key] = value
    if current:
        records.append(current)
    for index, record in enumerate(records, 1):
        missing = [field for field in FIELDS if field not in record]
        if missing:
            sys.exit(f"{path}: mutation {index} lacks {', '.join(missing)}")
    return records


def folder_of(file):
    parts = pathlib.PurePosixPath(file).parts
    return parts[1] if len(parts) > 2 and parts[0] == "src" else ""


def check(root, records):
    problems = []
    for index, record in enumerate(records, 1):
        path = pathlib.Path(root) / record["file"]
        if not folder_of(record["file"]):
            problems.append(f"{index}: {record['file']} is not in a folder of src/")
            continue
        if not path.is_file():
            problems.append(f"{index}: {record['file']} does not exist")
            continue
        found = path.read_text().count(record["find"])
        if found != 1:
            problems.append(f"{index}: {record['file']}: text found {found} times: {record['find']}")
        if record["find"] == record["replace"]:
            problems.append(f"{index}: replacement equals the original")
    folders = collections.Counter(folder_of(record["file"]) for record in records)
    missing = sorted(path.name for path in (pathlib.Path(root) / "src").iterdir()
                     if path.is_dir() and path.name not in folders)
    print(f"{len(records)} mutations over {len(folders)} folders of src/"
          + (f"; no mutation in: {', '.join(missing)}" if missing else ""))
    if problems:
        sys.exit("\n".join(problems))


def main(argv):
    command = argv[0] if argv else ""
    if command == "check" and len(argv) == 3:
        check(argv[1], read_list(argv[2]))
    elif command == "list" and len(argv) >= 2:
        records = read_list(argv[1])
        wanted = {int(value) for value in argv[2:]}
        for index, record in enumerate(records, 1):
            if not wanted or index in wanted:
                folders = " ".join([folder_of(record["file"])] + record.get("tests", "").split())
                print(f"{index}\t{record['file']}\t{folders}\t{record['why']}")
    elif command == "apply" and len(argv) == 4:
        record = read_list(argv[2])[int(argv[3]) - 1]
        path = pathlib.Path(argv[1]) / record["file"]
        text = path.read_text()
        if text.count(record["find"]) != 1:
            sys.exit(f"{record['file']}: text not found exactly once: {record['find']}")
        path.write_text(text.replace(record["find"], record["replace"]))
    elif command == "summary" and len(argv) == 2:
        results = collections.Counter(line.split()[1] for line in
                                      pathlib.Path(argv[1]).read_text().splitlines()[1:] if line.strip())
        total = sum(results.values())
        print(f"{results['caught']} of {total} caught, {results['survived']} survived"
              + "".join(f", {count} {name}" for name, count in sorted(results.items())
                        if name not in ("caught", "survived")))
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv[1:])
