#!/usr/bin/python3
"""Reads every workbook of the public corpus with xlsdump and compares it with the oracle.

  check_corpus.py --xlsdump BIN --archive public-xls.tar.xz --work DIR --accepted FILE
                  [--jobs N] [--timeout S] [NAME ...]

Every file must end cleanly within the time limit: no sanitizer report, no signal. A file with an
oracle must read and match it cell for cell (sheet names and visibility included) unless the
accepted-differences file lists it; a listed file that matches fails the check, so the list stays
short. A file without an oracle may end with a clear error. Files with a known password read with
it and fail with "Invalid password" with another. Without the archive the check is skipped (exit
77), unless XE_REQUIRE_CORPUS=1.
"""
import argparse, contextlib, io, json, os, subprocess, sys, tarfile, time
from concurrent.futures import ThreadPoolExecutor

SKIP = 77


def unpack(archive, work):
    # Unpacked once per archive: the stamp holds the archive's size and time.
    stamp = os.path.join(work, "unpacked.stamp")
    st = os.stat(archive)
    key = f"{st.st_size} {st.st_mtime_ns}"
    root = os.path.join(work, "public-xls")
    if os.path.exists(stamp) and open(stamp).read() == key and os.path.isdir(root):
        return root
    os.makedirs(work, exist_ok=True)
    with tarfile.open(archive) as tar:
        tar.extractall(work, filter="data") if hasattr(tarfile, "data_filter") else tar.extractall(work)
    open(stamp, "w").write(key)
    return root


def load_accepted(path):
    accepted = {}
    for line in open(path, encoding="utf-8"):
        line = line.strip()
        if not line or line.startswith("#"):
            continue
        name, _, reason = line.partition(" ")
        accepted[name] = reason.strip()
    return accepted


def run_dump(xlsdump, path, password, timeout, out_path=None):
    cmd = [xlsdump] + (["--password", password] if password else []) + [path]
    env = dict(os.environ)
    # A huge allocation is a fault too: the sanitizer ends the run when memory use passes 2 GB.
    env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "detect_leaks=1") + ":hard_rss_limit_mb=2048"
    start = time.monotonic()
    try:
        with open(out_path or os.devnull, "wb") as out:
            p = subprocess.run(cmd, stdout=out, stderr=subprocess.PIPE, timeout=timeout, env=env)
    except subprocess.TimeoutExpired:
        return "hang", f"no end within {timeout} s", timeout
    elapsed = time.monotonic() - start
    err = p.stderr.decode("utf-8", "replace")
    if p.returncode < 0 or "Sanitizer" in err or "runtime error" in err:
        return "crash", f"exit {p.returncode}: {err.strip()[-2000:]}", elapsed
    if p.returncode != 0:
        return "error", err.strip(), elapsed
    return "ok", "", elapsed


def compare(root, dump_path, oracle_path):
    # The archive's comparison, run in this process with its output captured.
    if root not in sys.path:
        sys.path.insert(0, root)
    import compare_xlsdump
    saved = sys.argv
    sys.argv = ["compare_xlsdump.py", dump_path, oracle_path]
    text = io.StringIO()
    try:
        with contextlib.redirect_stdout(text):
            status = compare_xlsdump.main()
    finally:
        sys.argv = saved
    return status == 0, text.getvalue().strip()


def check_file(args, root, entry):
    name, password, has_oracle = entry
    path = os.path.join(root, "files", name + ".xls")
    dump_path = os.path.join(args.work, "dumps", name + ".json")
    status, message, elapsed = run_dump(args.xlsdump, path, password, args.timeout, dump_path)
    result = {"name": name, "status": status, "message": message, "time": elapsed, "wrong_password": None}
    if password:
        # Another password must be refused as such.
        s, m, _ = run_dump(args.xlsdump, path, "not-" + password, args.timeout)
        result["wrong_password"] = s == "error" and "Invalid password" in m
        if not result["wrong_password"]:
            result["wrong_password_message"] = f"{s}: {m}"
    return result


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--xlsdump", required=True)
    ap.add_argument("--archive", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--accepted", required=True)
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--timeout", type=float, default=10)
    ap.add_argument("names", nargs="*")
    args = ap.parse_args()

    if not os.path.exists(args.archive):
        if os.environ.get("XE_REQUIRE_CORPUS") == "1":
            print(f"FAIL: corpus archive {args.archive} not found and XE_REQUIRE_CORPUS=1")
            return 1
        print(f"SKIP: corpus archive {args.archive} not found (set XE_REQUIRE_CORPUS=1 to fail instead)")
        return SKIP
    start = time.monotonic()
    root = unpack(args.archive, args.work)
    os.makedirs(os.path.join(args.work, "dumps"), exist_ok=True)
    accepted = load_accepted(args.accepted)
    entries = []
    for line in open(os.path.join(root, "manifest.tsv"), encoding="utf-8"):
        fields = line.rstrip("\n").split("\t")
        if len(fields) == 3 and (not args.names or fields[0] in args.names):
            entries.append((fields[0], fields[1], fields[2] == "1"))

    with ThreadPoolExecutor(max_workers=max(1, args.jobs)) as pool:
        results = list(pool.map(lambda e: check_file(args, root, e), entries))
    # Compared on this thread: the comparison prints, and its output is captured.
    for (name, _, has_oracle), r in zip(entries, results):
        if r["status"] == "ok" and has_oracle:
            r["match"], r["compare"] = compare(root, os.path.join(args.work, "dumps", name + ".json"),
                                               os.path.join(root, "oracle", name + ".json"))

    failures, differing, matched, with_oracle = [], [], 0, 0
    for (name, password, has_oracle), r in zip(entries, results):
        if r["status"] in ("crash", "hang"):
            failures.append(f"{name}: {r['status']}: {r['message']}")
        elif r["status"] == "error" and has_oracle:
            differing.append((name, f"read failed: {r['message']}"))
        if r["wrong_password"] is False:
            failures.append(f"{name}: a wrong password is not refused with \"Invalid password\": "
                            f"{r.get('wrong_password_message')}")
        if has_oracle:
            with_oracle += 1
            if r.get("match"):
                matched += 1
                if name in accepted:
                    failures.append(f"{name}: matches now; take it off the accepted differences")
            elif r["status"] == "ok":
                differing.append((name, r.get("compare", "")))
    for name, text in differing:
        if name in accepted:
            print(f"accepted: {name}: {accepted[name]}")
        else:
            failures.append(f"{name}: differs from the oracle:\n    " + text.replace("\n", "\n    "))
    for name in accepted:
        if name not in {e[0] for e in entries} and not args.names:
            failures.append(f"{name}: listed as accepted but not in the corpus")
    errors = [r for (n, _, o), r in zip(entries, results) if r["status"] == "error" and not o]
    slowest = max(results, key=lambda r: r["time"]) if results else None
    print(f"{len(entries)} files read; {matched} of {with_oracle} with an oracle match it; "
          f"{len(accepted)} accepted differences; {len(errors)} files without an oracle end with an error")
    if slowest:
        print(f"slowest: {slowest['name']} {slowest['time']:.1f} s; whole check {time.monotonic() - start:.0f} s")
    for f in failures:
        print("FAIL: " + f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
