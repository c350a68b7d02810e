#!/usr/bin/python3
"""Differential test of one dialect preset against the program that owns its files.

Each corpus file of the owner's family and N generated files (biased to the
preset's edge cases) are read by the owner's own parser and by
`iniedit --dialect=PRESET dump`: the sets of sections and keys and every
value must be the same, and a file the owner rejects must be rejected.
Then, for sampled keys, `set`, `add` and `del KEY VALUE` are applied with
iniedit and the owner must read the edited value (or the key as gone), every
other value as before, and the file must differ only in the edited lines.

Rules where the preset deliberately departs from its owner are listed in
DELIBERATE: a file iniedit rejects for one of those reasons while the owner
reads it is counted apart, not as a failure.

Exit status: 0 all agree, 1 a disagreement (each printed), 77 the owner is
not installed (the test is skipped).
"""
import argparse
import configparser
import difflib
import io
import json
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile

# Corpus files written for each owner.
FAMILIES = {
    "python": ["ansible-core/ansible-core.ini", "barman/barman.conf", "cinder-common/cinder.conf",
               "dput/dput.cf", "fail2ban/fail2ban.conf", "fail2ban/sshd.conf", "getmail6/getmailrc-examples",
               "git-buildpackage/gbp.conf", "idle-python3.11/config-keys.def", "keystone/keystone.conf",
               "libpython3.11-testsuite/cfgparser.3", "mercurial-common/hgrc", "mercurial-common/mergetools.rc",
               "supervisor/supervisord.conf", "supervisor/issue-1224.conf", "pgbouncer/pgbouncer.ini"],
    "php": ["php8.2-common/php.ini-development", "php8.2-common/calendar.ini", "php8.2-fpm/php-fpm.conf"],
    "mysql": ["mariadb-common/mariadb.cnf", "mariadb-server/wsrep.cnf"],
    "desktop": ["htop/htop.desktop", "pulseaudio/pulseaudio.desktop", "xfce4-terminal/xfce4-terminal.desktop",
                "xterm/debian-xterm.desktop", "network-manager/NetworkManager.conf", "lightdm/lightdm.conf",
                "plymouth-themes/spinner.plymouth"],
}

# Why iniedit may reject a file its owner reads, on purpose.
DELIBERATE = {
    # PHP drops the earlier one's keys, so an edit could land there; the other forms are read by PHP
    # in a way no key of iniedit's can name (a key or header after a header on the same line, a
    # name cut at a tab, brackets whose blanks or quotes PHP drops).
    "php": ["a repeated section", "a key or header after a header's ']'", "a tab inside a key",
            "a key whose brackets its owner reads otherwise", "a CR without"],
    "python": ["a CR without"],  # a line break to the owner, not to an edit of one line
    "mysql": ["a line longer than its owner reads at once"],  # the owner reads the rest as an option
    "desktop": ["a CR ending the text"],  # every other line's CR ends it: one reading for all
}

# ---- the owners


def python_owner(data, ours):
    parser = configparser.RawConfigParser(strict=False)
    try:
        # Read as a careful program reads a file that may start with a byte order mark.
        # As a file read by name: universal newlines, so a lone CR ends a line.
        parser.read_file(io.StringIO(data.decode("utf-8-sig", "surrogateescape"), newline=None))
    except configparser.Error:
        return None
    out = {name: dict(parser._sections[name]) for name in parser._sections}
    if parser._defaults or "DEFAULT" in (ours or {}):
        out["DEFAULT"] = dict(parser._defaults)
    return out


PHP_READER = r"""
while (($path = fgets(STDIN)) !== false) {
    $r = @parse_ini_string(file_get_contents(rtrim($path, "\n")), true, INI_SCANNER_RAW);
    if ($r === false) { echo "null\n"; continue; }
    $out = ["" => []];
    foreach ($r as $k => $v) {
        if (is_array($v)) { $out[(string)$k] = $v; } else { $out[""][(string)$k] = $v; }
    }
    if (!$out[""]) { unset($out[""]); }
    echo json_encode($out, JSON_FORCE_OBJECT | JSON_INVALID_UTF8_SUBSTITUTE), "\n";
}
"""


def php_owner_many(paths):
    run = subprocess.run(["php", "-r", PHP_READER], input="\n".join(paths) + "\n", capture_output=True,
                         text=True, check=True)
    return [json.loads(line) for line in run.stdout.splitlines()]


def mysql_owner(path, groups):
    out = {}
    for group in groups:
        run = subprocess.run(["my_print_defaults", "--defaults-file=" + path, group], capture_output=True)
        if run.returncode != 0:
            return None
        values = {}
        last = None
        for line in run.stdout.decode("utf-8", "surrogateescape").split("\n")[:-1]:
            if line.startswith("--"):
                # "--key" alone is a key without a value, which we show as null.
                key, equals, value = line[2:].partition("=")
                values.setdefault(key, []).append(value if equals else None)
                last = key
            elif last is not None and values[last][-1] is not None:  # a value holding a newline
                values[last][-1] += "\n" + line
        out[group] = values
    return out


def desktop_owner(data, ours):
    from gi.repository import GLib
    keyfile = GLib.KeyFile()
    try:
        keyfile.load_from_bytes(GLib.Bytes.new(data), GLib.KeyFileFlags.KEEP_TRANSLATIONS)
    except GLib.Error:
        return None
    out = {}
    for group in keyfile.get_groups()[0]:
        out[group] = {key: keyfile.get_value(group, key) for key in keyfile.get_keys(group)[0]}
        # Localised keys ("Name[de]") are not listed, but read when asked for.
        for key in (ours or {}).get(group, {}):
            if "[" in key:
                try:
                    out[group][key] = keyfile.get_value(group, key)
                except GLib.Error:
                    pass
    return out


def owner_installed(preset):
    if preset == "php":
        return shutil.which("php") is not None
    if preset == "mysql":
        return shutil.which("my_print_defaults") is not None
    if preset == "desktop":
        try:
            from gi.repository import GLib  # noqa: F401
        except ImportError:
            return False
    return True


# ---- iniedit


def iniedit(args, preset, path, *rest):
    return subprocess.run([args.iniedit, "--dialect=" + preset, *rest_split(rest, path)], capture_output=True)


def rest_split(rest, path):
    # Options before the verb, then "--" (a value may start with "--"), FILE, then the operands.
    options = [r for r in rest if r == "--all" or r.startswith("--format=")]
    words = [r for r in rest if r not in options]
    return options + ["--"] + words[:1] + [path] + words[1:]


def our_reading(args, preset, path, every):
    run = iniedit(args, preset, path, "--format=json", *(["--all"] if every else []), "dump")
    if run.returncode == 3:
        return None, run.stderr.decode("utf-8", "replace")
    if run.returncode != 0:
        raise RuntimeError("iniedit dump failed: " + run.stderr.decode("utf-8", "replace"))
    return json.loads(run.stdout), ""


def php_arrays(keys):
    """Every value of each key (in file order of first appearance) as PHP stores them: the last
    value of a plain key, and the keys "k[]" and "k[x]" as items of the array k."""
    out = {}
    for key, values in keys.items():
        match = re.fullmatch(r"(.+)\[(.*)\]", key, re.S)
        if not match:
            out[key] = values[-1]
            continue
        array = out.get(match.group(1))
        if not isinstance(array, dict):
            array = out[match.group(1)] = {}
        for value in values:
            if match.group(2) == "":
                numbers = [int(k) for k in array if re.fullmatch(r"-?[0-9]+", k)]
                array[str(max(numbers) + 1 if numbers else 0)] = value
            else:
                array[match.group(2)] = value
    return out


def canonical(preset, reading):
    """Both readings in the owner's terms: python folds key case; my_print_defaults cannot tell an
    empty group from a missing one; PHP makes arrays of bracketed keys."""
    if reading is None:
        return None
    if preset == "python":
        return {s: {k.lower(): v for k, v in keys.items()} for s, keys in reading.items()}
    if preset == "mysql":
        return {s: keys for s, keys in reading.items() if keys}
    if preset == "php":
        out = {s: php_arrays(keys) for s, keys in reading.items()}
        # Arrays above the first header come out of PHP beside the sections.
        for key, value in list(out.get("", {}).items()):
            if isinstance(value, dict):
                out[key] = value
                del out[""][key]
        if "" in out and not out[""]:
            del out[""]
        return out
    return reading


# Presets whose owner keeps one value per key: add of a key already there is refused.
ONE_VALUE = ("python", "desktop")


def owner_reading(preset, path, data, ours):
    if preset == "python":
        return python_owner(data, ours)
    if preset == "desktop":
        return desktop_owner(data, ours)
    if preset == "mysql":
        groups = list((ours or {}).keys()) or ["s"]
        return mysql_owner(path, [g for g in groups if g != ""])
    raise ValueError(preset)


# ---- generated files

NAMES = ["a", "b", "key", "Key", "KEY", "name", "x.y", "with space", "k-1", "k_2", "Path", "b"]
VALUES = ["1", "value", "two words", "", "a;b", "a#b", "a ; b", "a # b", "x=y", "C:\\dir", "50%", "true",
          "1.5", "ünï", "$x", "%(a)s", "a:b", "[x]", "{b}", "tail ", "  lead"]
SECTIONS = ["s", "S", "section", "Section Two", "t", "a.b", "DEFAULT", "s"]


# Lines each owner reads in its own way: PHP's arrays, reserved words and statements after a tab or
# a header; GLib's locale suffixes; indented continuation lines after a delimiter that ends its line;
# latin1's blanks and long lines for the mysql reader.
OWNER_FORMS = {
    "php": ["arr[]=1", "arr[]=two", "env[PATH]=/bin", "arr[x] = 3", "arr[x=a", "arr [x]=1", "arr[ x]=1",
            "arr[\"x\"]=1", "arr[x]y=1", "a!", "(x)", "true", "On", "x\tnull", "  off  ", "true x", "yes = 1",
            "\t[tabbed]", " [spaced]", "[s] x", "[s] k=1", "[a][b]", "foo\tbar = 1", "k]=1", "a = \"b",
            "c\"", "[t] ; c"],
    "desktop": ["Name[de]=x", "Name[sr@latin]=y", "Name[]=z", "key[=1", "k]=1", "foo [de] =1", "Name[de]x=1",
                "Name[d e]=1", "[]", "Icon=a\r", "a b=1"],
    "python": ["user:", "user:\n    a\n    b", "user =\n\tx", "k = a\n \n  b"],
    # (long lines rarely: a file holding one is rejected on purpose)
    "mysql": ["k = x\udca0", "k = \udca0y", "k = 'x\xa0'", "k = a\\nb", "k = 'a\\nb'"] * 3
             + ["k=" + "x" * 4092, "k=" + "x" * 4093],
}


def generate(preset, rng):
    lines = []
    sections = []
    if preset != "php" and rng.random() < 0.9 or rng.random() < 0.5:
        name = rng.choice(SECTIONS)
        lines.append("[" + name + "]")
        sections.append(name)
    for _ in range(rng.randint(1, 14)):
        roll = rng.random()
        key = rng.choice(NAMES)
        value = rng.choice(VALUES)
        indent = rng.choice(["", "", "", " ", "\t"])
        delimiter = rng.choice(["=", " = ", "= ", " =", "\t=\t"] + ([":", " : "] if preset == "python" else []))
        if roll < 0.08:
            name = rng.choice(SECTIONS + [" pad ", "s x"])
            lines.append(rng.choice(["", "", " "]) + "[" + name + "]" + rng.choice(["", "", " ", " ; c", " # c"]))
            sections.append(name)
        elif roll < 0.16:
            # GLib reads only '#' as a comment: fewer ';' lines keep more files readable.
            marks = ["#", "#", "#", ";"] if preset == "desktop" else ["#", ";"]
            lines.append(indent + rng.choice(marks) + rng.choice([" comment", "key = 1", ""]))
        elif roll < 0.22:
            lines.append(rng.choice(["", "  "]))
        elif roll < 0.27 and (preset != "desktop" or rng.random() < 0.3):
            lines.append(indent + key)  # no delimiter
        elif roll < 0.35 and preset in ("python", "systemd"):
            # continuation lines
            lines.append(indent + key + delimiter + value + (" \\" if preset == "systemd" else ""))
            lines.append(rng.choice(["  ", "\t", "    "]) + rng.choice(VALUES + ["# inside", ""]))
        elif roll < 0.45:
            quote = rng.choice(['"', "'"])
            inner = rng.choice(VALUES + ["a\\\"b", "a\\\\b", "a\\sb", "a\\tb", "a\\qb"])
            tail = rng.choice(["", "", " ; c", " # c", " x", quote])
            lines.append(indent + key + delimiter + quote + inner + quote + tail)
        elif roll < 0.52:
            # Backslashes and quotes inside a bare value decide whether what follows is a comment.
            bare = rng.choice([value, value, value, "a\\\"b", "a\\'b", "a\\\\\"b\"", "a\"b", "b\"c ; \"d",
                               "\"b\" x ; y \"z\""])
            lines.append(indent + key + delimiter + bare + rng.choice([" ; c", ";c", " # c", "#c", " ;", "\t# c"]))
        elif roll < 0.60:
            lines.append(indent + rng.choice(OWNER_FORMS.get(preset, ["k = 1"])))
        else:
            lines.append(indent + key + delimiter + value)
    eol = "\r\n" if rng.random() < 0.1 else "\n"
    text = eol.join(lines) + (eol if rng.random() < 0.8 else "")
    if rng.random() < 0.03:
        at = rng.randrange(len(text) + 1)
        text = text[:at] + "\r" + text[at:]  # a lone CR: a line break to some owners only
    if rng.random() < 0.05:
        text = "\ufeff" + text
    return text.encode("utf-8", "surrogateescape")  # U+DCA0 is the byte 0xA0 alone


# ---- the comparison


class Tally:
    def __init__(self):
        self.files = self.agreed = self.both_rejected = self.deliberate = 0
        self.edits = self.edits_agreed = self.default_lookups = 0
        self.corpus = {}  # corpus file -> "agreed", "rejected by both", ...
        self.failures = []


def compare_file(args, preset, path, label, tally, php_cache, rng, edit):
    with open(path, "rb") as f:
        data = f.read()
    every = preset in ("mysql", "php")
    ours_raw, why = our_reading(args, preset, path, every)
    owner = php_cache[path] if preset == "php" else owner_reading(preset, path, data, ours_raw)
    owner = canonical(preset, owner) if preset == "mysql" else owner
    ours = canonical(preset, ours_raw)
    tally.files += 1
    corpus = not label.startswith("generated")
    if ours is None and owner is None:
        tally.both_rejected += 1
        tally.corpus.update({label: "rejected by both"} if corpus else {})
        return
    if ours is None and any(reason in why for reason in DELIBERATE.get(preset, [])):
        tally.deliberate += 1
        tally.corpus.update({label: "rejected on purpose"} if corpus else {})
        return
    if ours != owner:
        tally.failures.append((label, data, owner, ours, why))
        return
    tally.agreed += 1
    tally.corpus.update({label: "agreed"} if corpus else {})
    if preset == "python" and ours.get("DEFAULT"):
        check_default_lookup(args, path, data, ours, tally, label)
    if edit and ours:
        check_edits(args, preset, path, label, data, ours_raw, tally, rng)


def check_default_lookup(args, path, data, ours, tally, label):
    """A key of [DEFAULT] read through another section: `get` gives what configparser's get gives."""
    parser = configparser.RawConfigParser(strict=False)
    parser.read_string(data.decode("utf-8-sig", "surrogateescape"))
    for section in parser.sections()[:1]:
        for key in list(ours["DEFAULT"])[:1]:
            run = iniedit(args, "python", path, "get", section, key)
            tally.default_lookups += 1
            got = run.stdout.decode("utf-8", "surrogateescape")[:-1] if run.returncode == 0 else None
            if got != parser.get(section, key.lower(), fallback=None):
                tally.failures.append((label + " DEFAULT lookup " + section + "/" + key, data,
                                       parser.get(section, key.lower(), fallback=None), got, ""))


def edited_expectation(preset, before_all, section, key, op, value):
    """What the owner must read after the edit, from the values before it."""
    values = list(before_all[section][key])
    if op == "set":
        values[-1 if preset != "classic" else 0] = value
    elif op == "add":
        values.append(value)
    else:
        # A key without a value (None) holds the empty value.
        values = [v for v in values if (v or "") != value]
    return values


def check_edits(args, preset, path, label, data, ours_raw, tally, rng):
    every, _ = our_reading(args, preset, path, True)
    pairs = [(s, k) for s, keys in every.items() for k in keys if s != "" and every[s][k]]
    for section, key in rng.sample(pairs, min(2, len(pairs))):
        for op in ("set", "add", "del"):
            value = (every[section][key][-1] or "") if op == "del" else "edited " + op
            if op != "del" and preset in ("python", "mysql") and rng.random() < 0.3:
                value = "edited\n" + op  # continuation lines, or mysql's \n
            with tempfile.NamedTemporaryFile(suffix=".ini", delete=False) as copy:
                copy.write(data)
            run = iniedit(args, preset, copy.name, op, section, key, value)
            tally.edits += 1
            if op == "add" and preset in ONE_VALUE:
                with open(copy.name, "rb") as f:
                    kept = f.read() == data
                os.unlink(copy.name)
                if run.returncode == 3 and kept:
                    tally.edits_agreed += 1
                else:
                    tally.failures.append((label + " add " + section + "/" + key, data, None, None,
                                           "add of a key the owner keeps once was not refused"))
                continue
            if run.returncode != 0:
                tally.failures.append((label + " " + op + " " + section + "/" + key, data, None, None,
                                       run.stderr.decode("utf-8", "replace")))
                os.unlink(copy.name)
                continue
            with open(copy.name, "rb") as f:
                after = f.read()
            owner_after = (php_owner_many([copy.name])[0] if preset == "php"
                           else owner_reading(preset, copy.name, after, every))
            expected = {s: dict(keys) for s, keys in every.items()}
            remaining = edited_expectation(preset, every, section, key, op, value)
            if remaining:
                expected[section][key] = remaining
            else:
                del expected[section][key]
            if preset == "php":
                expected = {s: {k: v for k, v in keys.items() if v} for s, keys in expected.items()}
            elif preset != "mysql":
                expected = {s: {k: v[-1] for k, v in keys.items() if v} for s, keys in expected.items()}
            owner_after = canonical(preset, owner_after) if preset == "mysql" else owner_after
            lines = 1 + (value.count("\n") if preset == "python" else 0)
            ok = canonical(preset, expected) == owner_after and only_edited_lines(data, after, op, lines)
            os.unlink(copy.name)
            if ok:
                tally.edits_agreed += 1
            else:
                tally.failures.append((label + " " + op + " " + section + "/" + key, after, owner_after,
                                       canonical(preset, expected), "edit of value %r" % value))


def only_edited_lines(before, after, op, lines=1):
    # A last line without a newline gets one when a line goes after it.
    eol = b"\r\n" if b"\r\n" in before else b"\n"
    before = before if before.endswith(b"\n") else before + eol
    after = after if after.endswith(b"\n") else after + eol
    a = re.findall(b"[^\n]*\n|[^\n]+$", before)
    b = re.findall(b"[^\n]*\n|[^\n]+$", after)
    ops = [o for o in difflib.SequenceMatcher(None, a, b, autojunk=False).get_opcodes() if o[0] != "equal"]
    if op == "set":
        return len(ops) == 1 and ops[0][0] == "replace" and ops[0][4] - ops[0][3] == lines
    if op == "add":
        return len(ops) == 1 and ops[0][0] == "insert" and ops[0][4] - ops[0][3] == lines
    return all(o[0] == "delete" for o in ops) and ops


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--preset", required=True)
    parser.add_argument("--iniedit", required=True)
    parser.add_argument("--corpus", required=True)
    # INI_OWNER_SAMPLE=full (as CI runs it) reads 2000 generated files and edits 300; the default is
    # a sample that answers in seconds.
    full = os.environ.get("INI_OWNER_SAMPLE") == "full"
    parser.add_argument("--generated", type=int, default=2000 if full else 200)
    parser.add_argument("--edits", type=int, default=300 if full else 50, help="files whose keys are edited")
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    preset = args.preset
    if not owner_installed(preset):
        print("skipped: the owner of the " + preset + " dialect is not installed")
        return 77
    rng = random.Random(args.seed)
    tally = Tally()
    work = tempfile.mkdtemp(prefix="dialect-" + preset + "-")
    try:
        files = [(os.path.join(args.corpus, name), name) for name in FAMILIES.get(preset, [])]
        for i in range(args.generated):
            path = os.path.join(work, "g%05d.ini" % i)
            with open(path, "wb") as f:
                f.write(generate(preset, rng))
            files.append((path, "generated %d" % i))
        php_cache = {}
        if preset == "php":
            php_cache = dict(zip([p for p, _ in files], php_owner_many([p for p, _ in files])))
        edited_files = 0
        for path, label in files:
            before_edits = tally.edits
            compare_file(args, preset, path, label, tally, php_cache, rng, edited_files < args.edits)
            edited_files += 1 if tally.edits > before_edits else 0
    finally:
        shutil.rmtree(work)
    print("%s: %d files (%d corpus), %d agreed, %d rejected by both, %d rejected on purpose; "
          "%d edits, %d proven by the owner; %d lookups through [DEFAULT]"
          % (preset, tally.files, len(FAMILIES.get(preset, [])), tally.agreed, tally.both_rejected,
             tally.deliberate, tally.edits, tally.edits_agreed, tally.default_lookups))
    for name, outcome in sorted(tally.corpus.items()):
        print("  corpus %s: %s" % (name, outcome))
    for label, data, owner, ours, why in tally.failures[:10]:
        print("DISAGREE", label, "\n  text: ", repr(data[:400]), "\n  owner:", owner, "\n  ours: ", ours,
              "\n  ", why.strip() if why else "")
    return 1 if tally.failures else 0


if __name__ == "__main__":
    sys.exit(main())
