#!/usr/bin/env python3
"""iniedit's stacks against the programs that own them, on generated stacks.

For each owner (skipped, with the reason, when it is not installed): stacks
of several files and directories are generated (the same names at several
levels, masks, resets, includes nested and missing, names that sort
differently by byte and by locale), and iniedit's files and values are
compared with what the owner reads:

- php: PHP_INI_SCAN_DIR=... php -c MAIN, get_cfg_var() and php_ini_scanned_files();
- mysql: my_print_defaults --defaults-file=MAIN GROUP, every value in order;
- python: configparser.RawConfigParser(strict=False).read([...]);
- systemd: systemd-analyze --root=DIR cat-config for a *.conf's files, and
  security --offline=true for a unit's boolean settings.

Then edits: a set on the stack must be what the owner reads afterwards,
every other key as before, one file changed; a set into a file that a later
one overrides (--to) must be refused with status 3 and change nothing.
"""
import argparse
import configparser
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile

FAILURES = []
TALLY = {}


def check(owner, ok, what):
    counts = TALLY.setdefault(owner, [0, 0])
    counts[0] += 1
    counts[1] += 1 if ok else 0
    if not ok:
        FAILURES.append(owner + ": " + what)
        print("DISAGREE", owner, what)


def describe(work):
    """Every file under work with its text, for a message."""
    out = []
    for path, data in sorted(snapshot(work).items()):
        out.append(f"== {path}\n{data.decode('utf-8', 'replace') if isinstance(data, bytes) else data}")
    return "\n".join(out)


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def snapshot(root):
    """Every file under root with its bytes (links as their target)."""
    out = {}
    for base, _, names in os.walk(root):
        for name in names:
            path = os.path.join(base, name)
            if os.path.islink(path):
                out[path] = "-> " + os.readlink(path)
            else:
                with open(path, "rb") as f:
                    out[path] = f.read()
    return out


class IniEdit:
    def __init__(self, path, env=None):
        self.path = path
        self.env = env

    def __call__(self, *words, env=None):
        return subprocess.run([self.path, *words], capture_output=True, env=env or self.env)

    def get(self, stack, section, key, env=None):
        r = self(*stack, "get", section, key, env=env)
        return r.stdout.decode("utf-8", "surrogateescape")[:-1] if r.returncode == 0 else None


# ---- php

# Not the keys the command-line SAPI sets itself (max_execution_time, display_errors ...).
PHP_KEYS = ["memory_limit", "session.name", "date.timezone", "upload_max_filesize", "foo.bar", "a_b"]


def php_stack(rng, work):
    main = os.path.join(work, "etc", "php.ini")
    lines = []
    # A section once per file: the php preset rejects a repeated one on purpose.
    headers = rng.sample(["[PHP]", "[Date]", "[x]", "[PATH=/tmp]", "[HOST=example]", "[pathology]", "[PATH]"], 3)
    for _ in range(rng.randint(0, 5)):
        if rng.random() < 0.3 and headers:
            lines.append(headers.pop())
        lines.append(f"{rng.choice(PHP_KEYS)} = v{rng.randint(0, 99)}")
    write(main, "\n".join(lines) + "\n")
    dirs = []
    for d in range(rng.randint(0, 3)):
        directory = os.path.join(work, f"scan{d}")
        os.makedirs(directory, exist_ok=True)
        dirs.append(directory)
        for _ in range(rng.randint(0, 4)):
            name = rng.choice(["10-a.ini", "B.ini", "b.ini", ".hidden.ini", "_x.ini", "z.ini", "20-c.ini",
                               "skip.ini.bak", "skip.conf", "Ä.ini"])
            body = []
            if rng.random() < 0.3:
                body.append(rng.choice(["[PHP]", "[PATH=/srv]", "[y]"]))
            for _ in range(rng.randint(1, 3)):
                body.append(f"{rng.choice(PHP_KEYS)} = {rng.choice(['v', 'w'])}{rng.randint(0, 99)}")
            write(os.path.join(directory, name), "\n".join(body) + "\n")
    if rng.random() < 0.2 and dirs:
        dirs.append(os.path.join(work, "not-there"))
    return main, ":".join(dirs)


PHP_READ = r"""
$out = ["files" => php_ini_scanned_files(), "keys" => []];
foreach (array_slice($argv, 1) as $k) { $out["keys"][$k] = get_cfg_var($k); }
echo json_encode($out);
"""


def php_read(main, env):
    """What PHP reads: the last line of its output (warnings go before it)."""
    r = subprocess.run(["php", "-c", main, "-r", PHP_READ, *PHP_KEYS], capture_output=True, env=env, check=True)
    return json.loads(r.stdout.splitlines()[-1])


def php(args, rng, work, iniedit):
    main, dirs = php_stack(rng, work)
    env = dict(os.environ, PHP_INI_SCAN_DIR=dirs, LC_ALL="C.UTF-8")
    stack = ["--stack=php:" + main]
    owner = php_read(main, env)
    scanned = [f.strip() for f in (owner["files"] or "").split(",") if f.strip()]
    ours = [line.split("\t")[0] for line in iniedit(*stack, "files", env=env).stdout.decode().splitlines()
            if line.endswith("\tread")][1:]
    check("php", scanned == ours, f"scanned files {scanned} != {ours} ({dirs})")
    for key in PHP_KEYS:
        want = owner["keys"][key] if owner["keys"][key] is not False else None
        got = iniedit.get(stack, "PHP", key, env=env)
        check("php", got == want, f"{key}: owner {want!r}, ours {got!r} (PHP_INI_SCAN_DIR={dirs})\n" +
              (describe(work) if got != want else ""))
    edit(args, "php", rng, work, iniedit, stack, env, lambda: php_read(main, env)["keys"],
         lambda keys, key: keys[key] if keys[key] is not False else None, "PHP", PHP_KEYS)


# ---- mysql

MYSQL_KEYS = ["port", "user", "datadir", "bind-address", "skip-name-resolve"]


def mysql_lines(rng, groups=("mysqld", "client", "MYSQLD")):
    body = [f"[{rng.choice(groups)}]"]
    for _ in range(rng.randint(1, 4)):
        key = rng.choice(MYSQL_KEYS)
        body.append(key if key == "skip-name-resolve" else f"{key} = v{rng.randint(0, 99)}")
    return body


def mysql_stack(rng, work, depth=0):
    name = os.path.join(work, f"f{depth}-{rng.randint(0, 10**6)}.cnf")
    body = mysql_lines(rng)
    for _ in range(rng.randint(0, 2) if depth < 3 else 0):
        if rng.random() < 0.5:
            target = mysql_stack(rng, work, depth + 1) if rng.random() < 0.8 else os.path.join(work, "missing.cnf")
            body.append("!include " + target)
        else:
            directory = os.path.join(work, f"d{depth}-{rng.randint(0, 10**6)}")
            os.makedirs(directory)
            for n in rng.sample(["a.cnf", "B.cnf", "b.cnf", "c.ini", "_d.cnf", "e.cnf.bak"], rng.randint(0, 3)):
                write(os.path.join(directory, n), "\n".join(mysql_lines(rng)) + "\n")
            body.append("!includedir " + directory)
        body += mysql_lines(rng)[1:]
    write(name, "\n".join(body) + "\n")
    return name


def my_print_defaults(main, group):
    r = subprocess.run(["my_print_defaults", "--defaults-file=" + main, group], capture_output=True)
    if r.returncode != 0:
        return None
    out = {}
    for line in r.stdout.decode().splitlines():
        key, equals, value = line[2:].partition("=")
        out.setdefault(key, []).append(value if equals else "")
    return out


def mysql(args, rng, work, iniedit):
    main = mysql_stack(rng, work)
    if rng.random() < 0.1:  # deeper than the owner follows
        chain = [os.path.join(work, f"chain{i}.cnf") for i in range(13)]
        for i, path in enumerate(chain):
            write(path, f"[mysqld]\nuser = chain{i}\n" + (f"!include {chain[i + 1]}\n" if i + 1 < len(chain) else ""))
        with open(main, "a") as f:
            f.write(f"!include {chain[0]}\n")
    stack = ["--stack=mysql:" + main]
    for group in ("mysqld", "client"):
        owner = my_print_defaults(main, group)
        for key in MYSQL_KEYS:
            r = iniedit(*stack, "--all", "--origin", "get", group, key)
            ours = [line.split("\t")[1] for line in r.stdout.decode().splitlines()] if r.returncode == 0 else []
            want = (owner or {}).get(key, [])
            check("mysql", ours == want, f"[{group}] {key}: owner {want}, ours {ours} ({main})")
    edit(args, "mysql", rng, work, iniedit, stack, None, lambda: my_print_defaults(main, "mysqld") or {},
         lambda keys, key: keys[key][-1] if key in keys else None, "mysqld", ["port", "user", "datadir"])


# ---- python

def python(args, rng, work, iniedit):
    layers = []
    for i in range(rng.randint(1, 4)):
        path = os.path.join(work, f"layer{i}.cfg")
        if rng.random() < 0.15:
            layers.append(path + ".missing")
            continue
        body = []
        for _ in range(rng.randint(1, 3)):
            body.append(f"[{rng.choice(['s', 't', 'DEFAULT', 'S'])}]")
            for _ in range(rng.randint(0, 3)):
                body.append(f"{rng.choice(['k', 'K', 'name', 'x.y'])} = v{rng.randint(0, 99)}")
        write(path, "\n".join(body) + "\n")
        layers.append(path)
    stack = ["--dialect=python"] + ["--layer=" + p for p in layers]

    def owner():
        parser = configparser.RawConfigParser(strict=False)
        parser.read(layers)
        return parser

    parser = owner()
    for section in ("s", "t", "S"):
        for key in ("k", "name", "x.y", "absent"):
            want = parser.get(section, key, fallback=None) if parser.has_section(section) else None
            got = iniedit.get(stack, section, key)
            check("python", got == want, f"[{section}] {key}: owner {want!r}, ours {got!r} ({layers})")
    if parser.has_section("s"):
        edit(args, "python", rng, work, iniedit, stack, None, owner,
             lambda p, key: p.get("s", key, fallback=None), "s", ["k", "name"])


# ---- systemd

SYSTEMD_DIRS = ["/etc/systemd", "/run/systemd", "/usr/local/lib/systemd", "/usr/lib/systemd"]


def systemd_conf(args, rng, work, iniedit):
    root = os.path.join(work, "root")
    for directory in rng.sample(SYSTEMD_DIRS, rng.randint(1, 3)):
        write(root + directory + "/test.conf", f"[Test]\nA=main{directory}\n")
    names = ["10-a.conf", "20-b.conf", "10-A.conf", "50-c.conf", "x.conf.bak"]
    for directory in SYSTEMD_DIRS:
        for name in rng.sample(names, rng.randint(0, 3)):
            path = root + directory + "/test.conf.d/" + name
            os.makedirs(os.path.dirname(path), exist_ok=True)
            if rng.random() < 0.15:
                os.symlink("/dev/null", path)
            else:
                write(path, f"[Test]\nA={name}\n")
    r = subprocess.run(["systemd-analyze", "--root=" + root, "cat-config", "systemd/test.conf"], capture_output=True)
    owner = [line[2:] for line in r.stdout.decode().splitlines() if line.startswith("# /")]
    ours = [line.split("\t")[0] for line in
            iniedit("--root=" + root, "--stack=systemd-conf:test.conf", "files").stdout.decode().splitlines()
            if line.endswith("\tread")]
    check("systemd", owner == ours, f"cat-config {owner} != files {ours}")
    shutil.rmtree(root)


UNIT_DIRS = ["/etc/systemd/system", "/run/systemd/system", "/usr/local/lib/systemd/system", "/lib/systemd/system",
             "/usr/lib/systemd/system"]
BOOLEANS = ["PrivateTmp", "PrivateNetwork", "ProtectHostname", "LockPersonality", "RestrictRealtime",
            "ProtectKernelTunables"]


def security(root, unit):
    r = subprocess.run(["systemd-analyze", "--offline=true", "--root=" + root, "security", "--json=short", unit],
                       capture_output=True)
    if r.returncode not in (0, 1) or not r.stdout:
        return None
    return {e["json_field"]: e["set"] for e in json.loads(r.stdout) if e["json_field"] in BOOLEANS}


def systemd_unit(args, rng, work, iniedit):
    root = os.path.join(work, "root")
    unit = "app-web-1.service"
    write(root + rng.choice(UNIT_DIRS) + "/" + unit,
          "[Service]\nExecStart=/bin/true\n" + "".join(f"{b}={rng.choice(['yes', 'no'])}\n"
                                                       for b in rng.sample(BOOLEANS, 3)))
    drop_ins = [unit + ".d", "app-web-.service.d", "app-.service.d", "service.d"]
    for directory in UNIT_DIRS:
        for drop_in in rng.sample(drop_ins, rng.randint(0, 2)):
            for name in rng.sample(["10-a.conf", "20-b.conf", "30-c.conf"], rng.randint(1, 2)):
                path = root + directory + "/" + drop_in + "/" + name
                os.makedirs(os.path.dirname(path), exist_ok=True)
                if os.path.exists(path) or os.path.islink(path):
                    continue
                if rng.random() < 0.1:
                    os.symlink("/dev/null", path)
                    continue
                # No empty assignments: a boolean setting ignores them (with
                # a warning), where a list setting is reset by one.
                body = "[Service]\n"
                for b in rng.sample(BOOLEANS, rng.randint(1, 2)):
                    body += f"{b}={rng.choice(['yes', 'no'])}\n"
                if rng.random() < 0.3:
                    body = "" if rng.random() < 0.5 else body  # an empty drop-in masks as /dev/null does
                write(path, body)
    stack = ["--root=" + root, "--stack=systemd-unit:" + unit]
    owner = security(root, unit)
    if owner is None:
        check("systemd", False, "systemd-analyze security failed")
        return
    for b in BOOLEANS:
        got = iniedit.get(stack, "Service", b)
        check("systemd", owner[b] == (got == "yes"), f"{b}: owner {owner[b]}, ours {got!r} ({root})")
    edit(args, "systemd", rng, work, iniedit, stack, None, lambda: security(root, unit),
         lambda keys, key: "yes" if keys[key] else "no", "Service", BOOLEANS, values=["yes", "no"])
    shutil.rmtree(root)


# ---- edits

def edit(args, owner_name, rng, work, iniedit, stack, env, read_owner, owner_value, section, keys, values=None):
    """A set on the stack takes effect, changes one file and no other key; a
    set into a file that a later one overrides is refused."""
    key = rng.choice(keys)
    value = rng.choice(values) if values else f"edited{rng.randint(0, 99)}"
    before_files = snapshot(work)
    before_owner = read_owner()
    r = iniedit(*stack, "set", section, key, value, env=env)
    after_files = snapshot(work)
    changed = [p for p in set(before_files) | set(after_files) if before_files.get(p) != after_files.get(p)]
    edits = owner_name + " edits"
    if r.returncode == 3:
        check(edits, not changed, f"a refused set changed {changed}")
        return
    after_owner = read_owner()
    ok = r.returncode == 0 and owner_value(after_owner, key) == value and len(changed) <= 1
    for other in keys:
        if other != key:
            ok = ok and owner_value(after_owner, other) == owner_value(before_owner, other)
    check(edits, ok, f"set {key}={value}: status {r.returncode} {r.stderr!r}, changed {changed}")
    # Into the first file read, where a later one overrides it: refused.
    origins = iniedit(*stack, "--all", "--origin", "get", section, key, env=env).stdout.decode().splitlines()
    if len(origins) >= 2:
        first = origins[0].split("\t")[0].rsplit(":", 1)[0]
        last = origins[-1].split("\t")[0].rsplit(":", 1)[0]
        if first != last and "reset" not in origins[-1]:
            before_files = snapshot(work)
            r = iniedit(*stack, "--to=" + first, "set", section, key, value + "x", env=env)
            check(edits, r.returncode == 3 and snapshot(work) == before_files,
                  f"a set that {last} overrides: status {r.returncode} {r.stderr!r}")


OWNERS = {
    "php": (lambda: shutil.which("php"), php),
    "mysql": (lambda: shutil.which("my_print_defaults"), mysql),
    "python": (lambda: True, python),
    "systemd": (lambda: shutil.which("systemd-analyze"), lambda *a: (systemd_conf(*a), systemd_unit(*a))),
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--iniedit", required=True)
    parser.add_argument("--owner", choices=sorted(OWNERS), required=True)
    parser.add_argument("--stacks", type=int,
                        default=150 if os.environ.get("INI_OWNER_SAMPLE") == "full" else 30)
    args = parser.parse_args()
    installed, run = OWNERS[args.owner]
    if not installed():
        print(f"skipped: the owner of {args.owner} stacks is not installed")
        return 77
    rng = random.Random(2026 + len(args.owner))
    iniedit = IniEdit(args.iniedit)
    for _ in range(args.stacks):
        with tempfile.TemporaryDirectory() as work:
            run(args, rng, work, iniedit)
    for owner, (compared, agreed) in TALLY.items():
        print(f"{owner}: {args.stacks} stacks, {compared} compared, {agreed} agreed")
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())
