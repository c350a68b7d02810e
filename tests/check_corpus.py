#!/usr/bin/python3
"""`iniedit check` over the corpus, each finding verified without the scanner.

Every corpus file is checked under every dialect with `--format=json`. Each
finding must point at bytes that have the property it reports, as found by
plain text inspection here (a repeated key has an earlier line setting the
same key, a byte order mark is EF BB BF at offset 0, ...), and its line and
column must be those of its first byte. Then every file that MANIFEST.tsv
marks with a feature must get the matching finding under the dialect named
in EXPECTED.

Prints the counts per dialect and kind. Exit status: 0 all hold, 1 a finding
that does not hold or a missing one (each printed).
"""
import argparse
import collections
import json
import os
import re
import subprocess
import sys

DIALECTS = ["classic", "python", "php", "mysql", "desktop", "systemd"]
# What each dialect takes as delimiters, comment characters and quotes.
DELIMITERS = {"python": "=:"}
COMMENTS = {"classic": ";", "python": "#;", "php": ";", "mysql": "#;", "desktop": "#", "systemd": "#;"}
QUOTES = {"classic": '"', "php": '"', "mysql": "\"'"}
FOLDS_KEYS = {"python", "mysql"}
# Inline comments that these owners cut before they look for the delimiter.
CUT_FIRST = {"php": b";", "mysql": b"#"}

# Manifest feature (or line ending, or byte order mark) -> the dialect and
# the kinds, any of which a file marked with it gets (or alternatives).
EXPECTED = {
    "duplicate_sections": ("classic", {"repeated-section"}),
    "duplicate_keys": ("python", {"repeated-key"}),
    "keys_before_first_section": ("classic", {"key-above-first-header"}),
    "no_final_newline": ("classic", {"no-final-newline"}),
    # Text after a header, a comment under most dialects, is one GLib rejects.
    "text_after_header": ("desktop", {"rejected"}),
    "line_without_equals": ("classic", {"stores-nothing"}),
    "empty_value": ("classic", {"stores-nothing"}),
    # A ';' inside a value: classic cuts the value there when no blank is
    # before it, python keeps it in the value when one is. ('#' in a value,
    # as in a colour, is text everywhere: nothing to report.)
    "semicolon_in_value": [("classic", {"comment-char-in-value"}), ("python", {"comment-char-in-value"})],
    "mixed": ("classic", {"mixed-line-endings"}),
    "bom": ("classic", {"byte-order-mark"}),
}


def lines_of(data):
    """(start offset, content without '\\n', ends with '\\n') of each physical line."""
    out, start = [], 0
    while start < len(data):
        end = data.find(b"\n", start)
        if end < 0:
            out.append((start, data[start:], False))
            break
        out.append((start, data[start:end], True))
        start = end + 1
    return out


def key_of(content, delimiters, comments, cut=b""):
    """The key a plain reading sees on a line: the text before its first delimiter."""
    stripped = content.strip(b" \t\r")
    if cut and stripped[:1] not in (b"[", cut) and cut in stripped:
        stripped = stripped[:stripped.index(cut)].rstrip(b" \t")
    if not stripped or stripped[:1] == b"[" or stripped[:1] in [bytes([c]) for c in comments]:
        return None
    cut = min([i for i in (stripped.find(bytes([d])) for d in delimiters) if i >= 0], default=-1)
    return stripped[:cut].strip(b" \t") if cut >= 0 else stripped


def verify(f, data, dialect):
    """Why finding `f` does not hold for `data`, or None."""
    kind, begin, end = f["kind"], f["begin"], f["end"]
    if not 0 <= begin <= end <= len(data):
        return "range outside the text"
    if f["line"] != data.count(b"\n", 0, begin) + 1:
        return "line number"
    if f["column"] != begin - (data.rfind(b"\n", 0, begin) + 1) + 1:
        return "column"
    lines = lines_of(data)
    number = f["line"] - 1
    start, content, _ = lines[number] if number < len(lines) else (len(data), b"", False)
    column = begin - start
    delimiters = DELIMITERS.get(dialect, "=").encode()
    comments = COMMENTS[dialect].encode()
    fold = (lambda b: b.lower()) if dialect in FOLDS_KEYS else (lambda b: b)
    span = data[begin:end]
    if kind == "byte-order-mark":
        return None if begin == 0 and span and span == b"\xef\xbb\xbf" * (len(span) // 3) else "no BOM there"
    if kind == "no-final-newline":
        return None if begin == len(data) and not data.endswith(b"\n") else "the text ends in a newline"
    if kind == "mixed-line-endings":
        ending = lambda line: line[2] and line[1].endswith(b"\r")
        return None if ending(lines[number]) != ending(lines[0]) else "same ending as the first line"
    if kind == "repeated-section":
        name = content.strip(b" \t\r")
        earlier = [l[1].strip(b" \t\r").lower() for l in lines[:number]]
        return None if name.startswith(b"[") and name.lower() in earlier else "no earlier identical header"
    if kind in ("repeated-key", "key-above-first-header"):
        cut = CUT_FIRST.get(dialect, b"")
        key = key_of(content, delimiters, comments, cut)
        if key is None or span != key or content[column:column + len(key)] != key:
            return "the range is not the line's key"
        if kind == "repeated-key":
            earlier = [key_of(l[1], delimiters, comments, cut) for l in lines[:number]]
            return None if fold(key) in [fold(k) for k in earlier if k is not None] else "no earlier line sets it"
        headers = [l[1].lstrip(b" \t").startswith(b"[") for l in lines]
        return None if not any(headers[:number]) and any(headers[number:]) else "not above a header"
    if kind == "stores-nothing":
        stripped = content.strip(b" \t\r")
        if "closing ']'" in f["message"]:
            return None if stripped.startswith(b"[") and b"]" not in stripped else "has a ']'"
        before_comment = stripped
        for c in (comments if dialect == "php" else b""):
            before_comment = before_comment.split(bytes([c]))[0]
        at = min([i for i in (before_comment.find(bytes([d])) for d in delimiters) if i >= 0], default=-1)
        if "on this line" in f["message"]:
            return None if at < 0 and stripped and stripped[:1] not in b"#;" else "the line has a delimiter"
        if at < 0:
            return "no delimiter"
        value = stripped[at + 1:].strip(b" \t")
        if "no value" in f["message"]:
            return None if value in (b"", b'""') or value[:1] in comments else "the line has a value"
        if value[:1] != b'"':
            return "not a quoted value"
        close = value.find(b'"', 1)
        rest = value[close + 1:].strip(b" \t") if close > 0 else b"x"
        return None if rest and rest[:1] not in comments else "nothing after the quote"
    if kind == "ignored-text":
        close = content.find(b"]")
        return None if content.lstrip(b" \t").startswith(b"[") and 0 <= close < column and span.strip() \
            else "not after a header's ']'"
    if kind == "comment-char-in-value":
        at = min([i for i in (content.find(bytes([d])) for d in delimiters) if i >= 0], default=-1)
        if span[:1] not in [bytes([c]) for c in comments] or not 0 <= at < column:
            return "no comment character after a delimiter"
        blank = content[column - 1:column] in (b" ", b"\t")
        return None if blank == ("after a blank" in f["message"]) else "the blank before it"
    if kind == "blanks-inside-quotes":
        quote = data[end:end + 1]
        return None if span and not span.strip(b" \t") and quote and quote in QUOTES.get(dialect, "").encode() \
            and quote in content[:column] else "no blanks before a closing quote"
    if kind == "rejected":
        return None if not content[:column].strip(b" \t") else "not at the start of a line"
    if kind == "commented-key":
        # The line's first byte after its indentation is '#' or ';', which
        # this dialect does not read as a comment.
        return None if span in (b"#", b";") and not content[:column].strip(b" \t") \
            and span[0] not in comments else "not a key starting with a comment character"
    return "unknown kind " + kind


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--iniedit", required=True)
    parser.add_argument("--corpus", required=True)
    args = parser.parse_args()
    manifest = {}
    with open(os.path.join(args.corpus, "MANIFEST.tsv"), encoding="utf-8") as table:
        header = table.readline().rstrip("\n").split("\t")
        for row in table:
            fields = dict(zip(header, row.rstrip("\n").split("\t")))
            marks = set(fields["features"].split(",")) - {"-"}
            marks |= {"mixed"} if fields["line_ending"] == "mixed" else set()
            marks |= {"bom"} if fields["bom"] == "yes" else set()
            manifest[fields["path"]] = marks
    failures = 0
    counts = {dialect: collections.Counter() for dialect in DIALECTS}
    found = collections.defaultdict(set)  # (path, dialect) -> kinds
    texts = {}
    for path in sorted(manifest):
        with open(os.path.join(args.corpus, path), "rb") as source:
            data = texts[path] = source.read()
        for dialect in DIALECTS:
            run = subprocess.run([args.iniedit, "--dialect=" + dialect, "--format=json", "check",
                                  os.path.join(args.corpus, path)], capture_output=True, check=False)
            findings = json.loads(run.stdout) if run.returncode in (0, 1) else None
            if findings is None or run.returncode != (1 if findings else 0):
                print(f"{path} ({dialect}): exit {run.returncode}: {run.stderr.decode()}")
                failures += 1
                continue
            for f in findings:
                counts[dialect][f["kind"]] += 1
                found[(path, dialect)].add(f["kind"])
                why = verify(f, data, dialect)
                if why is not None:
                    print(f"{path}:{f['line']}:{f['column']} ({dialect}): {f['kind']} does not hold: {why}: "
                          f"{f['message']}")
                    failures += 1
    for path, marks in sorted(manifest.items()):
        for mark in sorted(marks & EXPECTED.keys()):
            ways = EXPECTED[mark] if isinstance(EXPECTED[mark], list) else [EXPECTED[mark]]
            # Keys above the first header need a header in the file.
            if mark == "keys_before_first_section" and not re.search(rb"(?m)^[ \t]*\[", texts[path]):
                continue
            if not any(kinds & found[(path, dialect)] for dialect, kinds in ways):
                print(f"{path}: marked {mark}, but no finding of {ways}")
                failures += 1
    for dialect in DIALECTS:
        print(f"{dialect}: " + ", ".join(f"{kind} {n}" for kind, n in sorted(counts[dialect].items())))
    print(f"{len(manifest)} files, {failures} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
