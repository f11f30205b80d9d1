"""A small SVG writer for overshoot distributions, so the benchmark needs no plotting
library: one row per sleep length, one strip of points per function, log scale."""

import math
from xml.sax.saxutils import escape

COLORS = ["#1b7837", "#c51b7d", "#2166ac", "#e08214"]


def _x(value_us, lo, hi, left, width):
    value = min(max(value_us, lo), hi)
    return left + (math.log10(value) - math.log10(lo)) / (math.log10(hi) - math.log10(lo)) * width


def overshoot_svg(rows, title):
    """rows: list of (label, {function: [overshoot in µs, ...]})."""
    functions = sorted({name for _, series in rows for name in series})
    values = [v for _, series in rows for vs in series.values() for v in vs if v > 0]
    lo = 10 ** math.floor(math.log10(max(min(values, default=0.1), 0.01)))
    hi = 10 ** math.ceil(math.log10(max(values, default=1000)))
    left, right, top, row_h = 110, 30, 60, 24 * max(len(functions), 1) + 16
    width = 900
    height = top + row_h * len(rows) + 70
    plot_w = width - left - right
    out = [
        f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{height}" '
        'font-family="sans-serif" font-size="12">',
        f'<rect width="{width}" height="{height}" fill="white"/>',
        f'<text x="{width / 2}" y="24" text-anchor="middle" font-size="15">{escape(title)}</text>',
    ]
    decade = lo
    while decade <= hi * 1.0001:
        x = _x(decade, lo, hi, left, plot_w)
        out.append(f'<line x1="{x:.1f}" y1="{top - 8}" x2="{x:.1f}" '
                   f'y2="{top + row_h * len(rows)}" stroke="#ddd"/>')
        out.append(f'<text x="{x:.1f}" y="{top + row_h * len(rows) + 16}" '
                   f'text-anchor="middle">{decade:g}</text>')
        decade *= 10
    out.append(f'<text x="{left + plot_w / 2}" y="{top + row_h * len(rows) + 36}" '
               'text-anchor="middle">overshoot (µs, log scale; a bar marks the median)</text>')
    for r, (label, series) in enumerate(rows):
        y0 = top + r * row_h
        out.append(f'<text x="{left - 10}" y="{y0 + row_h / 2 + 4}" text-anchor="end">'
                   f'{escape(label)}</text>')
        for f, name in enumerate(functions):
            vs = sorted(series.get(name, []))
            if not vs:
                continue
            y = y0 + 12 + f * 24
            color = COLORS[f % len(COLORS)]
            for v in vs:
                x = _x(max(v, lo), lo, hi, left, plot_w)
                out.append(f'<circle cx="{x:.1f}" cy="{y}" r="2" fill="{color}" '
                           'fill-opacity="0.35"/>')
            median = vs[len(vs) // 2]
            x = _x(max(median, lo), lo, hi, left, plot_w)
            out.append(f'<line x1="{x:.1f}" y1="{y - 8}" x2="{x:.1f}" y2="{y + 8}" '
                       f'stroke="{color}" stroke-width="3"/>')
    for f, name in enumerate(functions):
        x = left + f * 180
        out.append(f'<circle cx="{x}" cy="42" r="5" fill="{COLORS[f % len(COLORS)]}"/>')
        out.append(f'<text x="{x + 10}" y="46">{escape(name)}</text>')
    out.append("</svg>")
    return "\n".join(out)
