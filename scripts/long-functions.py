#!/usr/bin/env python3
"""Lists the function definitions longer than LIMIT lines (signature to closing brace) in the
given folders, longest first: scripts/long-functions.py 60 base co h component onl"""
import pathlib
import re
import sys

HEAD = re.compile(r'^(?:[A-Za-z_][\w:<>,*&\s]*?\s)?[*&]?([~\w:]+)\s*\([^;]*$')


def definitions(path):
    lines = path.read_text(errors='replace').splitlines()
    i = 0
    while i < len(lines):
        m = HEAD.match(lines[i])
        if m and not lines[i].startswith((' ', '#', '/')):
            j = i
            while j < len(lines) and '{' not in lines[j] and ';' not in lines[j]:
                j += 1
            if j < len(lines) and '{' in lines[j]:
                depth, k = 0, j
                while k < len(lines):
                    depth += lines[k].count('{') - lines[k].count('}')
                    if depth <= 0:
                        break
                    k += 1
                yield k - i + 1, i + 1, m.group(1)
                i = k
        i += 1


def main():
    limit = int(sys.argv[1])
    found = []
    for root in sys.argv[2:]:
        for path in sorted(pathlib.Path(root).rglob('*')):
            if path.suffix in ('.cpp', '.h'):
                found += [(n, f'{path}:{line}', name) for n, line, name in definitions(path)
                          if n > limit]
    for n, where, name in sorted(found, reverse=True):
        print(f'{n:5d}  {where}  {name}')
    return 1 if found else 0


if __name__ == '__main__':
    sys.exit(main())
