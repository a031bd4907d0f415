#!/usr/bin/env python3
"""Writes the generated data files of the benchmarks into each directory
named on the command line, beside copies of the real ones of bench/data
(words.txt, page.html).

  table.tsv  100 lines of six tab-separated fields: number, name, town,
             quantity, price, date (the same every time)
"""
import os
import shutil
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
NAMES = ["apple", "pear", "plum", "cherry", "grape", "melon", "lemon", "peach", "fig", "kiwi"]
TOWNS = ["Kyoto", "Osaka", "Nara", "Kobe", "Sendai", "Sapporo", "Fukuoka"]


def table():
    rows = []
    x = 7
    for i in range(100):
        x = x * 48271 % 2147483647
        rows.append("\t".join([
            str(i + 1), NAMES[x % len(NAMES)], TOWNS[(x // 10) % len(TOWNS)], str(x % 1000),
            f"{x % 10000 / 100:.2f}", f"2024-{x % 12 + 1:02d}-{x % 28 + 1:02d}"]))
    return "\n".join(rows) + "\n"


def main():
    for target in sys.argv[1:]:
        os.makedirs(target, exist_ok=True)
        with open(os.path.join(target, "table.tsv"), "w", encoding="utf-8", newline="") as f:
            f.write(table())
        for name in ("words.txt", "page.html"):
            shutil.copyfile(os.path.join(HERE, name), os.path.join(target, name))


if __name__ == "__main__":
    main()
