"""The list of recordings the sample bank embeds (assets/recordings.txt), as the build reads it."""
import pathlib
from collections import namedtuple

ROOT = pathlib.Path(__file__).resolve().parents[3]
ASSETS = ROOT / "assets"

Recording = namedtuple("Recording", "file set root pitch held")


def recordings(manifest=ASSETS / "recordings.txt"):
    """Every row, in the list's order: file name, set (or droneLow / droneHigh), root note, the note it
    sounds at, and whether it is a held tone."""
    rows = []
    for line in pathlib.Path(manifest).read_text().splitlines():
        fields = line.split()
        if not fields or fields[0].startswith("#"):
            continue
        file, set_name, root, pitch, kind = fields
        rows.append(Recording(file, set_name, int(root), int(pitch), kind == "held"))
    return rows
