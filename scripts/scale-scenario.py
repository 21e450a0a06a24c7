#!/usr/bin/env python3
"""Writes a simulator scenario with N clients for measuring how cjsim scales (docs/simulator.md).

Usage: scripts/scale-scenario.py N [--ydb] [--types-grow] > big.scn
  clients over 4 cycle times (10..100 ms) and 4 types, 2 ranges each, starts spread over the
  first second, a third cancelling, 2 s of virtual time, one thread;
  --ydb         the clients of type 4 use the YDB service
  --types-grow  one more type per 250 clients, so collection jobs keep their size
"""
import sys

args = [a for a in sys.argv[1:] if not a.startswith("--")]
if len(args) != 1 or not args[0].isdigit():
    sys.exit(__doc__)
n = int(args[0])
ydb = "--ydb" in sys.argv
types = max(4, n // 250) if "--types-grow" in sys.argv else 4

print("duration 2000\nthreads 1\nlimit 8")
cycles = [10, 20, 50, 100]
for i in range(n):
    typ = 1 + (i // 4) % types
    start = (i * 997) % 1000
    cancel = f" cancel={start + 300 + (i * 13) % 600}" if i % 3 == 0 else ""
    service = " service=ydb" if ydb and typ == 4 else ""
    unit, first = 1 + i % 7, (i * 5) % 200
    print(f"client c{i} cycle={cycles[i % 4]} type={typ} start={start}{cancel}{service} "
          f"read={unit}/10/5:{first}+4,{unit}/11/5:{first + 10}+2")
