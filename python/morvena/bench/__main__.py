import argparse

from morvena.bench import run


def main() -> None:
    parser = argparse.ArgumentParser(prog="python -m morvena.bench", description=__doc__)
    parser.add_argument("--quick", action="store_true", help="smaller sizes and fewer rounds")
    parser.add_argument("--rounds", type=int, default=None, help="rounds per workload (best is kept)")
    parser.add_argument("-k", "--match", default="", help="only workloads whose names contain this text")
    args = parser.parse_args()
    rounds = args.rounds or (2 if args.quick else 5)
    run(rounds=rounds, quick=args.quick, match=args.match)


if __name__ == "__main__":
    main()
