#!/usr/bin/env python3
"""Gathers the project's shaders as fuzzing seeds into the folder given:
examples/main.fx, the kept inputs of tests/robust/inputs, and every raw
string literal in the tests' C++ sources that defines an entry point."""
import pathlib
import re
import sys

root = pathlib.Path(__file__).resolve().parent.parent
out = pathlib.Path(sys.argv[1])
out.mkdir(parents=True, exist_ok=True)

seeds = [root / "examples" / "main.fx"] + sorted((root / "tests" / "robust" / "inputs").glob("*"))
count = 0
for path in seeds:
    (out / f"{path.parent.name}-{path.name}").write_bytes(path.read_bytes())
    count += 1

raw = re.compile(r'R"\((.*?)\)"', re.S)
for source in sorted((root / "tests").rglob("*.cpp")):
    for i, match in enumerate(raw.finditer(source.read_text(errors="replace"))):
        text = match.group(1)
        if re.search(r"\b(vs|gs|ps)_main\b", text):
            (out / f"{source.stem}-{i}.fx").write_text(text)
            count += 1
print(f"seeds.py: {count} seeds in {out}")
