"""How sharply a line one design pixel tall is drawn: the editor's tests read a column of pixels across
the header's divider (design row 52, bright over dark) from a screenshot at some scale."""

# The divider's row in the editor, in design pixels.
DIVIDER_ROW = 52


def luminance(pixel):
    r, g, b = pixel[:3]
    return 0.2126 * r + 0.7152 * g + 0.0722 * b


def column_across_divider(top_of_editor, scale):
    """(first, last + 1) physical rows of a window to read: the divider with two design pixels around it."""
    centre = top_of_editor + (DIVIDER_ROW + 0.5) * scale
    return int(centre - 2 * scale) - 1, int(centre + 2 * scale) + 2


def sharpness(profile, scale):
    """(True, what was seen) when the line in the profile is as sharp as drawing at this scale allows.
    Drawn at scale, the line covers `scale` rows: whole rows at full brightness, and where its edge
    falls inside a row (at 1.5) one row part way. Stretched from a smaller picture, its edges smear
    over rows part way even at 2, and its core dims."""
    peak, floor = max(profile), min(profile)
    span = peak - floor
    full = sum(1 for v in profile if v >= floor + 0.75 * span)
    partial = sum(1 for v in profile if floor + 0.2 * span < v < floor + 0.75 * span)
    allowed = 0 if scale == int(scale) else 1
    seen = (f"{full} full and {partial} partly lit rows (at most {allowed} allowed at {scale}):"
            f" {' '.join(str(round(v)) for v in profile)}")
    return span >= 40 and partial <= allowed and full >= int(scale), seen
