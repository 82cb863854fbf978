"""What the host program tells of a plug-in bundle.

    python3 -m kestrune_tools.host instruments HOST BUNDLE   prints the instruments, one a line
"""
import json
import subprocess
import sys


def info(host, bundle):
    """The bundle's `info --json`."""
    return json.loads(subprocess.run([host, "info", "--json", bundle], check=True, capture_output=True, text=True).stdout)


def instruments(host, bundle):
    """The instrument parameter's choices, as the bundle lists them."""
    return next(p["choices"] for p in info(host, bundle)["parameters"] if p["id"] == "instrument")


if __name__ == "__main__":
    if len(sys.argv) != 4 or sys.argv[1] != "instruments":
        sys.exit(__doc__)
    print("\n".join(instruments(sys.argv[2], sys.argv[3])))
