"""The command line of scripts/random-databases.py."""
import argparse
import json
import pathlib
import shutil
import sys
import tempfile
import time

from . import __doc__ as USAGE
from .bench import LIMIT_BYTES, BenchFile, TooBig
from .given import build_given, read_rows
from .jet import PAGE, TABLES, Template
from .randomdata import build_file
from .readback import check_indexes, json_dump, verify_with_mdbtools, verify_with_program
from .sparse import expand, write_pages


def default_template():
    return pathlib.Path(__file__).resolve().parent / "impuest-empty.mdb"


def main():
    parser = argparse.ArgumentParser(description=USAGE.split("\n\n")[0])
    parser.add_argument("--seed", type=int, help="required for random and bench files; with --rows, the layout's (0)")
    parser.add_argument("--count", type=int, help="how many random files")
    parser.add_argument("--rows", type=pathlib.Path,
                        help="a JSON file of the rows to write, into the one file --out names, instead of random ones")
    parser.add_argument("--out", required=True, type=pathlib.Path,
                        help="the folder of the random files, or with --rows or --bench the file")
    parser.add_argument("--first", type=int, help="number of the first file (0)")
    parser.add_argument("--template", type=pathlib.Path, default=default_template())
    parser.add_argument("--password", help="with --rows, the database password the file holds (\"\": none; the "
                                           "program's if not given)")
    parser.add_argument("--json", action="store_true", help="write the rows of each file beside it")
    parser.add_argument("--verify", action="store_true", help="read every file back with mdb-export")
    parser.add_argument("--export", help="a velmora-export executable to export every file with (implies --verify)")
    parser.add_argument("--bench", action="store_true",
                        help="write one big file shaped like years of use, of --movements N, into --out FILE.mdb")
    parser.add_argument("--movements", type=int, help="with --bench, how many movements")
    parser.add_argument("--taxpayers", type=int,
                        help="with --bench, how many taxpayers, the heavy one included (about one for each 725 "
                             "movements)")
    args = parser.parse_args()
    if args.bench:
        return bench(parser, args)
    if args.movements is not None or args.taxpayers is not None:
        parser.error("--movements and --taxpayers are for --bench")
    if args.rows:
        if args.count is not None or args.first is not None:
            parser.error("--count and --first make random files: not with --rows")
        if args.seed is None:
            args.seed = 0
        if args.json and args.out.with_suffix(".json").resolve() == args.rows.resolve():
            parser.error("--json would write over the --rows file")
    elif args.password is not None:
        parser.error("--password is for --rows")
    elif args.seed is None or args.count is None:
        parser.error("the following arguments are required: --seed, --count (or --rows)")
    if args.first is None:
        args.first = 0
    args.verify = args.verify or bool(args.export)
    if args.verify and not (shutil.which("mdb-export") and shutil.which("mdb-schema")):
        sys.exit("--verify needs mdbtools' mdb-export and mdb-schema")
    if args.export and not shutil.which(args.export):
        sys.exit(f"{args.export}: not an executable")

    template = Template(args.template)
    if args.rows:
        given = read_rows(args.rows, template)
        if args.password is not None:
            if len(args.password) > 20:
                parser.error("--password: a database password has 20 characters at most")
            given.layout["password"] = args.password
        count = 1
        args.out.parent.mkdir(parents=True, exist_ok=True)
    else:
        count = args.count
        args.out.mkdir(parents=True, exist_ok=True)
    failed = exported = compared = 0
    started = time.monotonic()
    build_time = 0.0
    with tempfile.TemporaryDirectory(prefix="random-databases-") as tmp:
        for number in range(args.first, args.first + count):
            t0 = time.monotonic()
            if args.rows:
                try:
                    built = build_given(template, given, args.seed)
                except ValueError as e:
                    sys.exit(f"{args.rows}: {e}")
                path = args.out
            else:
                built = build_file(template, args.seed, number)
                path = args.out / f"random-{args.seed}-{number:04d}.mdb"
            if path.suffix == ".pages":
                write_pages(path, built.data, PAGE)
            else:
                path.write_bytes(built.data)
            if args.json:
                path.with_suffix(".json").write_text(json.dumps(json_dump(built), ensure_ascii=False) + "\n")
            build_time += time.monotonic() - t0
            if not args.verify:
                continue
            readable = path
            if path.suffix == ".pages":
                # The whole file, its empty pages holes, for the readers.
                readable = pathlib.Path(tmp) / path.with_suffix(".mdb").name
                expand(path, readable)
            tails = {}
            problems = verify_with_mdbtools(readable, built) + check_indexes(readable, built.unusual_keys, tails)
            moved = files = 0
            if args.export:
                more, moved, files, same = verify_with_program(args.export, readable, built, pathlib.Path(tmp))
                problems += more
                exported += moved
                compared += same
            rows = " ".join(f"{n}={built.stats[n][0]}" for n in TABLES)
            print(f"{path.name}: {built.stats['pages']} pages, {rows}, {built.stats['deleted']} deleted, "
                  f"{built.stats['moved']} moved, {built.stats['node pages']} index node pages"
                  + (f"; exported {moved} movements in {files} files" if args.export else "")
                  + ("" if not problems else ": FAILED"))
            if args.rows:
                for index, keys in tails.items():
                    shown = " ".join(f"{k}" if n == 1 else f"{k} ({n} tail pages)" for k, n in keys)
                    print(f"  {index}: keys found through a tail page: {shown}")
            for p in problems:
                print("  " + p)
            failed += bool(problems)
    elapsed = time.monotonic() - started
    if args.verify:
        print(f"{count} files, {failed} failed"
              + (f", {exported} movements exported, {compared} files exported both searching and scanning"
                 if args.export else "")
              + f"; {build_time / max(count, 1):.3f} s a file to write, {elapsed:.1f} s in all")
    return 1 if failed else 0


# --verify keeps every row of a bench file in memory, as dicts, and reads the file back whole: about 3 KB a
# movement, 1.5 GB at this many.
BENCH_VERIFY_LIMIT = 500_000


def bench(parser, args):
    """--bench: one big file, written as its rows are drawn, then read back with --verify."""
    if args.count is not None or args.first is not None or args.rows or args.json:
        parser.error("--bench writes one file: not with --count, --first, --rows or --json")
    if args.seed is None or args.movements is None:
        parser.error("--bench needs --seed and --movements")
    if args.out.suffix != ".mdb":
        parser.error("--bench writes a database: --out FILE.mdb")
    if args.movements < 1:
        parser.error("--movements takes 1 or more")
    if args.taxpayers is None:
        args.taxpayers = max(2, round(args.movements / 725))
    if args.taxpayers < 2:
        parser.error("--taxpayers takes 2 or more: the heavy taxpayer and one to hold the other movements")
    args.verify = args.verify or bool(args.export)
    if args.verify and args.movements > BENCH_VERIFY_LIMIT:
        parser.error(f"--verify keeps every row in memory: {BENCH_VERIFY_LIMIT:,} movements at most")
    if args.verify and not (shutil.which("mdb-export") and shutil.which("mdb-schema")):
        sys.exit("--verify needs mdbtools' mdb-export and mdb-schema")
    if args.export and not shutil.which(args.export):
        sys.exit(f"{args.export}: not an executable")

    started = time.monotonic()
    writer = BenchFile(Template(args.template), args.movements, args.taxpayers, args.seed, keep=args.verify)
    fits = f"with {args.taxpayers:,} taxpayers about {writer.fits():,} movements fit"
    if writer.estimate() > LIMIT_BYTES:
        sys.exit(f"{args.movements:,} movements would make a file of about {writer.estimate() / 1e9:.2f} GB, past "
                 f"the {LIMIT_BYTES:,} bytes a Jet 4 file may hold: {fits}")
    args.out.parent.mkdir(parents=True, exist_ok=True)

    def progress(y, m, written, pages):
        if m == 12:
            print(f"  {y}: {written:,} movements, {pages * PAGE / 1e6:,.0f} MB, "
                  f"{time.monotonic() - started:.0f} s", file=sys.stderr, flush=True)

    try:
        built = writer.write(args.out, progress)
    except TooBig:
        sys.exit(f"{args.out}: the file reached the {LIMIT_BYTES:,} bytes a Jet 4 file may hold after "
                 f"{writer.written:,} movements, fewer than the estimate said: ask for fewer (nothing was kept)")
    elapsed = time.monotonic() - started
    rows = " ".join(f"{n}={built.stats[n][0]}" for n in TABLES)
    print(f"{args.out.name}: {built.stats['pages']} pages ({built.stats['pages'] * PAGE:,} bytes), {rows}, "
          f"{built.stats['node pages']} index node pages; {elapsed:.1f} s")
    if not args.verify:
        return 0
    problems = writer.check_rows() + verify_with_mdbtools(args.out, built, numref_chars=13) + \
        check_indexes(args.out)
    exported = ""
    if args.export:
        with tempfile.TemporaryDirectory(prefix="random-databases-") as tmp:
            more, moved, files, _ = verify_with_program(args.export, args.out, built, pathlib.Path(tmp))
        problems += more
        exported = f"; exported {moved} movements in {files} files, searching the indexes and scanning"
    print(f"{args.out.name}: read back by mdbtools, indexes checked{exported}" + (": FAILED" if problems else ""))
    for p in problems:
        print("  " + p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
