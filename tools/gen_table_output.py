"""The command line the table generators share: write the generated text to standard output or to
--output FILE, or --check FILE to exit non-zero when FILE is not what would be written."""
import argparse
import sys


def run(render):
    """Parses the command line and writes or checks the text render() returns; the exit code."""
    parser = argparse.ArgumentParser()
    group = parser.add_mutually_exclusive_group()
    group.add_argument("--output")
    group.add_argument("--check")
    args = parser.parse_args()
    text = render()
    if args.check:
        with open(args.check, encoding="utf-8") as existing:
            if existing.read() != text:
                sys.stderr.write("%s is not what the generator writes\n" % args.check)
                return 1
        return 0
    if args.output:
        with open(args.output, "w", encoding="utf-8") as out:
            out.write(text)
    else:
        sys.stdout.write(text)
    return 0
