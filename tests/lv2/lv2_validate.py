#!/usr/bin/env python3
"""The LV2 bundle's data against the LV2 vocabularies' own rules: lv2_validate (Debian's lv2-dev, with
sord_validate from sordi) on every .ttl file of the bundle reports no error.

    lv2_validate.py BUNDLE

Exit status 0 = pass, 1 = fail, 77 = lv2_validate or sord_validate is not installed (skipped).
"""

import re
import shutil
import subprocess
import sys
from pathlib import Path


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    missing = [tool for tool in ("lv2_validate", "sord_validate") if shutil.which(tool) is None]
    if missing:
        print(f"SKIP: {', '.join(missing)} not installed (Debian packages 'lv2-dev' and 'sordi')")
        return 77
    files = sorted(Path(sys.argv[1]).glob("*.ttl"))
    if {f.name for f in files} < {"manifest.ttl", "dsp.ttl"}:
        print(f"FAIL: no manifest.ttl and dsp.ttl in {sys.argv[1]}")
        return 1
    result = subprocess.run(["lv2_validate", *map(str, files)], capture_output=True, text=True, timeout=120)
    output = result.stdout + result.stderr
    errors = [line for line in output.splitlines() if line.startswith("error:")]
    found = re.search(r"Found (\d+) errors", output)
    print(found.group(0) if found else output[-2000:])
    if errors or not found or found.group(1) != "0" or result.returncode != 0:
        # Each error is followed by the triple it is about.
        print("\n".join(l for l in output.splitlines() if not l.startswith(("Skipping", "warning"))))
        print(f"FAIL: lv2_validate exited with {result.returncode}, {len(errors)} errors")
        return 1
    print(f"PASS: {', '.join(f.name for f in files)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
