#!/usr/bin/env python3
"""iniedit as provisioning scripts use it, run as a black box.

- Every verb that edits, run twice on the same file: the first run does
  what --dry-run and --diff said it would, the second changes nothing (same
  bytes, inode and modification time), says "unchanged" and exits 0.
- The owners read the results: my_print_defaults after --no-value and
  --all sets, php after an add of a loaded extension, each dialect's owner
  after a merge (skipped, with the reason, where an owner is missing).
- --format=sh dump, evaluated by sh and bash, gives back every value.
- A batch still reading its operations holds no lock, and --wait gives up.
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import dialect_differential as owners  # noqa: E402

FAILURES = []


def check(ok, what):
    if not ok:
        FAILURES.append(what)
        print("FAILED:", what)


def run(args, *words, stdin=b""):
    return subprocess.run([args.iniedit, *words], input=stdin, capture_output=True)


# (name, file name, text before, arguments with FILE for the file, standard input)
TWICE = [
    ("set", "a.ini", b"[s]\nk = 1\n", ["set", "FILE", "s", "k", "2"], b""),
    ("set of a new key in a new section", "a.ini", b"[s]\nk = 1\n", ["set", "FILE", "t", "k", "2"], b""),
    ("set of a section alone", "a.ini", b"[s]\nk = 1\n", ["set", "FILE", "empty"], b""),
    ("set of a unit's key, written Key=value", "a.service", b"[Unit]\nDescription=x\n",
     ["set", "FILE", "Service", "ExecStart", "/bin/true"], b""),
    ("add of a new value", "php.ini", b"[PHP]\nextension=calendar\n", ["add", "FILE", "PHP", "extension", "ctype"],
     b""),
    ("add of a value the key holds", "php.ini", b"[PHP]\nextension=calendar\n",
     ["add", "FILE", "PHP", "extension", "calendar"], b""),
    ("del of a key", "a.ini", b"[s]\nk = 1\nj = 2\n", ["del", "FILE", "s", "k"], b""),
    ("del of a value", "a.cnf", b"[mysqld]\nk = 1\nk = 2\n", ["del", "FILE", "mysqld", "k", "1"], b""),
    ("del of a section", "a.ini", b"[s]\nk = 1\n[t]\nj = 2\n", ["del", "FILE", "t"], b""),
    ("comment", "a.ini", b"[s]\nk = 1\n", ["comment", "FILE", "s", "k"], b""),
    ("uncomment", "php.ini", b"[PHP]\n;memory_limit = 128M\n", ["uncomment", "FILE", "PHP", "memory_limit"], b""),
    ("uncomment with an active line", "php.ini", b"[PHP]\n;memory_limit = 128M\nmemory_limit = 256M\n",
     ["uncomment", "FILE", "PHP", "memory_limit"], b""),
    ("uncomment of another value: the active line goes", "php.ini",
     b"[PHP]\n;memory_limit = 128M\nmemory_limit = 256M\n", ["uncomment", "FILE", "PHP", "memory_limit", "128M"],
     b""),
    ("uncomment of a list item", "php.ini", b"[PHP]\nextension=calendar\n;extension=ctype\n",
     ["uncomment", "FILE", "PHP", "extension", "ctype"], b""),
    ("--no-value set", "my.cnf", b"[mysqld]\nport = 3306\n",
     ["--no-value", "set", "FILE", "mysqld", "skip-name-resolve"], b""),
    ("--no-value set of a key with a value", "my.cnf", b"[mysqld]\nskip-name-resolve = 1\n",
     ["--no-value", "set", "FILE", "mysqld", "skip-name-resolve"], b""),
    ("--all set", "my.cnf", b"[mysqld]\nplugin-load-add = a.so\n",
     ["--all", "set", "FILE", "mysqld", "plugin-load-add", "a.so", "b.so"], b""),
    ("merge", "a.ini", b"[s]\nk = 1\n", ["merge", "FILE", "-"], b"[s]\nk = 2\nj = 3\n[new]\n"),
    ("batch", "my.cnf", b"[mysqld]\nport = 3306\n# bind-address = 127.0.0.1\nk = 1\n", ["batch", "FILE"],
     b"set\tmysqld\tport\t3307\nsetnovalue\tmysqld\tskip-name-resolve\nuncomment\tmysqld\tbind-address\n"
     b"set\tclient\nadd\tclient\tuser\tme\ncomment\tmysqld\tk\n"),
]


def diff_hunks(text):
    """A unified diff without its two name lines."""
    return text.split(b"\n", 2)[2] if text.count(b"\n") >= 2 else text


def twice(args, work):
    for name, filename, before, words, stdin in TWICE:
        path = os.path.join(work, filename)
        run_words = [path if w == "FILE" else w for w in words]
        with open(path, "wb") as f:
            f.write(before)
        dry = run(args, "--dry-run", "--diff", *run_words, stdin=stdin)
        first = run(args, "--diff", *run_words, stdin=stdin)
        with open(path, "rb") as f:
            after = f.read()
        check(first.returncode == 0, f"{name}: first run exits 0 ({first.stderr!r})")
        changed = after != before
        check(dry.stderr == (b"changed\n" if changed else b"unchanged\n"), f"{name}: --dry-run says {dry.stderr!r}")
        check(dry.stdout == first.stdout, f"{name}: --dry-run --diff printed what the run printed")
        check(bool(first.stdout) == changed, f"{name}: --diff prints exactly when the file changed")
        if changed and shutil.which("diff"):
            old = os.path.join(work, "old")
            with open(old, "wb") as f:
                f.write(before)
            reference = subprocess.run(["diff", "-u", old, path], capture_output=True).stdout
            check(diff_hunks(first.stdout) == diff_hunks(reference),
                  f"{name}: --diff prints what diff -u prints:\n{first.stdout!r}\n{reference!r}")
        stat = os.stat(path)
        time.sleep(0.01)
        second = run(args, "--diff", *run_words, stdin=stdin)
        dry_again = run(args, "--dry-run", *run_words, stdin=stdin)
        with open(path, "rb") as f:
            again = f.read()
        restat = os.stat(path)
        check(second.returncode == 0 and second.stdout == b"" and second.stderr == b"",
              f"{name}: second run exits 0 quietly ({second.returncode}, {second.stdout!r}, {second.stderr!r})")
        check(dry_again.stderr == b"unchanged\n", f"{name}: second --dry-run says {dry_again.stderr!r}")
        check(again == after and restat.st_ino == stat.st_ino and restat.st_mtime_ns == stat.st_mtime_ns,
              f"{name}: second run leaves the file alone")
    # --all set in another order counts as done.
    path = os.path.join(work, "order.cnf")
    with open(path, "wb") as f:
        f.write(b"[mysqld]\nplugin-load-add = a.so\nplugin-load-add = b.so\n")
    r = run(args, "--dry-run", "--all", "set", path, "mysqld", "plugin-load-add", "b.so", "a.so")
    check(r.stderr == b"unchanged\n", "--all set of the same values in another order is unchanged")


def mysql_owner_reads(args, work):
    if not shutil.which("my_print_defaults"):
        print("skipped: my_print_defaults is not installed (mysql checks)")
        return
    path = os.path.join(work, "owner.cnf")
    with open(path, "wb") as f:
        f.write(b"[mysqld]\nskip-name-resolve = 1\nplugin-load-add = x.so\nport = 3306\n")
    for words in (["--no-value", "set", path, "mysqld", "skip-name-resolve"],
                  ["--all", "set", path, "mysqld", "plugin-load-add", "a.so", "b.so"],
                  ["--no-value", "set", path, "mysqld", "log-bin"]):
        check(run(args, *words).returncode == 0, f"mysql: {words}")
    printed = subprocess.run(["my_print_defaults", "--defaults-file=" + path, "mysqld"], capture_output=True).stdout
    check(printed == b"--skip-name-resolve\n--plugin-load-add=a.so\n--plugin-load-add=b.so\n--port=3306\n--log-bin\n",
          f"my_print_defaults reads the options set: {printed!r}")


def php_owner_reads(args, work):
    if not shutil.which("php"):
        print("skipped: php is not installed (php checks)")
        return
    path = os.path.join(work, "php.ini")
    with open(path, "wb") as f:
        f.write(b"[PHP]\nextension=calendar\n")
    for _ in range(2):
        check(run(args, "add", path, "PHP", "extension", "calendar").returncode == 0, "php: add of calendar")
    loaded = subprocess.run(["php", "-n", "-c", path, "-m"], capture_output=True)
    modules = loaded.stdout.decode().split("\n")
    check(modules.count("calendar") == 1 and b"already loaded" not in loaded.stdout + loaded.stderr,
          f"php loads calendar once without a warning: {loaded.stdout!r} {loaded.stderr!r}")


# A snippet per dialect: the file merged into, the snippet, and the owner's reading of the snippet's keys.
MERGES = {
    "python": ("setup.cfg", b"[metadata]\nname = x\n\n[options]\nzip_safe = 0\n",
               b"[metadata]\nname = y\nversion = 2\n[tool:pytest]\naddopts = -q\n"),
    "php": ("php.ini", b"[PHP]\nmemory_limit = 128M\n", b"[PHP]\nmemory_limit = 256M\ndisplay_errors = Off\n"),
    "mysql": ("my.cnf", b"[mysqld]\nport = 3306\n", b"[mysqld]\nport = 3307\nskip-name-resolve\n[client]\nuser = me\n"),
    "desktop": ("a.desktop", b"[Desktop Entry]\nType=Application\nName=A\n",
                b"[Desktop Entry]\nName=B\nName[de]=Be\nExec=b %U\n"),
}


def merges_read_by_owners(args, work):
    for preset, (filename, before, snippet) in MERGES.items():
        if not owners.owner_installed(preset):
            print(f"skipped: the owner of {preset} files is not installed (merge check)")
            continue
        path = os.path.join(work, filename)
        with open(path, "wb") as f:
            f.write(before)
        r = run(args, "merge", path, "-", stdin=snippet)
        check(r.returncode == 0, f"merge under {preset}: {r.stderr!r}")
        with open(path, "rb") as f:
            data = f.read()
        snippet_path = os.path.join(work, "snippet")
        with open(snippet_path, "wb") as f:
            f.write(snippet)
        ours = json.loads(run(args, "--dialect=" + preset, "--format=json", "dump", snippet_path).stdout)
        groups = list(ours)
        reading = {
            "python": lambda: owners.python_owner(data, ours),
            "php": lambda: owners.php_owner_many([path])[0],
            "mysql": lambda: owners.mysql_owner(path, groups),
            "desktop": lambda: owners.desktop_owner(data, ours),
        }[preset]()
        for section, keys in ours.items():
            for key, value in keys.items():
                got = reading.get(section, {}).get(key.lower() if preset == "python" else key)
                got = got[-1] if isinstance(got, list) else got
                check(got == value, f"merge under {preset}: the owner reads [{section}] {key} as {got!r}, not {value!r}")


def shell_dump(args, work):
    path = os.path.join(work, "bytes.ini")
    with open(path, "wb") as f:
        f.write(b"")
    values = {}
    # Every byte but NUL, newline, CR and the double quote (which a quoted
    # value cannot hold), sixteen to a value, each with a single quote.
    for i, chunk in enumerate(range(1, 256, 16)):
        value = bytes(b for b in range(chunk, min(chunk + 16, 256)) if b not in (10, 13, 0x22))
        value = b"'" + value.strip(b" \t") + b"'x"
        r = subprocess.run([args.iniedit, "--dialect=classic", "set", path, "all bytes", f"key {i}-\u00e9", value],
                           capture_output=True)
        check(r.returncode == 0, f"value {i} is written: {r.stderr!r}")
        values[f"all_bytes_key_{i}___"] = value
    names = " ".join(values)
    script = ('eval "$(' + "'" + args.iniedit + "' --dialect=classic --format=sh dump '" + path + "'" + ')"; '
              + "for n in " + names + '; do eval "printf \'%s\\\\0\' \\"\\$$n\\""; done')
    for shell in ("sh", "bash"):
        if not shutil.which(shell):
            print(f"skipped: {shell} is not installed (--format=sh check)")
            continue
        out = subprocess.run([shell, "-c", script], capture_output=True)
        got = out.stdout.split(b"\0")[:-1]
        check(got == list(values.values()), f"{shell} evaluates --format=sh dump back to the values: {out.stderr!r}")


def locks(args, work):
    path = os.path.join(work, "locked.ini")
    other = os.path.join(work, "other.ini")
    for p in (path, other):
        with open(p, "wb") as f:
            f.write(b"[s]\nk = 1\n")
    # A batch whose operations are still being written holds no lock.
    batch = subprocess.Popen([args.iniedit, "batch", path], stdin=subprocess.PIPE, stderr=subprocess.PIPE)
    time.sleep(0.2)
    for p in (path, other):
        start = time.monotonic()
        r = subprocess.run([args.iniedit, "set", p, "s", "j", "2"], capture_output=True, timeout=30)
        check(r.returncode == 0 and time.monotonic() - start < 5, "a set beside a batch still reading is not held up")
        check(run(args, "get", p, "s", "j").stdout == b"2\n", "that set landed")
    batch.communicate(b"set\ts\tb\t3\n", timeout=30)
    check(batch.returncode == 0, "the batch then lands")
    # Another process holding the lock: --wait gives up after that long.
    holder = subprocess.Popen([sys.executable, "-c", "import fcntl, os, sys, time\n"
                               "fd = os.open(sys.argv[1], os.O_RDONLY)\nfcntl.flock(fd, fcntl.LOCK_EX)\n"
                               "print('locked', flush=True)\ntime.sleep(30)\n", path], stdout=subprocess.PIPE)
    holder.stdout.readline()
    start = time.monotonic()
    r = run(args, "--wait=1", "set", path, "s", "k", "9")
    took = time.monotonic() - start
    check(r.returncode == 4 and b"edit lock" in r.stderr and 0.9 <= took < 5,
          f"--wait=1 gives up with status 4 after about a second ({r.returncode}, {took:.2f} s, {r.stderr!r})")
    start = time.monotonic()
    r = run(args, "--wait=3", "set", path, "s", "k", "9")
    check(r.returncode == 4 and b"waiting for the edit lock" in r.stderr,
          f"a wait longer than a second is reported ({r.stderr!r})")
    holder.kill()
    holder.wait()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--iniedit", required=True)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as work:
        for step in (twice, mysql_owner_reads, php_owner_reads, merges_read_by_owners, shell_dump, locks):
            step(args, work)
    print(f"{len(FAILURES)} failures")
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())
