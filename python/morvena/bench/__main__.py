"""The benchmark tour: every structure against its nearest stdlib or peer
equivalent, as ratios measured in one interleaved run, then each class's memory
per element against its peer. --plot draws how the headline operations scale."""

import argparse

from morvena.bench import Progress, run


def sizes(text: str) -> list[int]:
    return [int(float(part)) for part in text.split(",") if part]


def main() -> None:
    parser = argparse.ArgumentParser(prog="python -m morvena.bench", description=__doc__)
    parser.add_argument("--quick", action="store_true", help="smaller sizes and fewer rounds")
    parser.add_argument("--rounds", type=int, default=None, help="rounds per workload (best is kept)")
    parser.add_argument("-k", "--match", default="", help="only workloads whose names contain this text")
    parser.add_argument("--no-memory", action="store_true", help="skip the memory-per-element table")
    parser.add_argument("--plot", metavar="FILE.png", help="measure time per operation against size and draw it")
    parser.add_argument("--sizes", type=sizes, default=None,
                        help="comma-separated sizes for --plot (default 1e3,1e4,1e5,1e6)")
    args = parser.parse_args()
    progress = Progress()
    if args.plot:
        from morvena.bench import _plot

        _plot.plot(args.plot, sizes=args.sizes, rounds=args.rounds or 3, match=args.match, progress=progress)
        return
    rounds = args.rounds or (2 if args.quick else 5)
    run(rounds=rounds, quick=args.quick, match=args.match, progress=progress)
    if not args.no_memory:
        from morvena.bench import _memory

        print()
        _memory.run(quick=args.quick, match=args.match, progress=progress)


if __name__ == "__main__":
    main()
