"""A small SVG writer for the sleep benchmark, so it needs no plotting library: one row per
sleep length, one strip of overshoot points per function on a log scale, and beside it
each function's CPU per call, so what the precision costs shows next to it."""

import math
from xml.sax.saxutils import escape

COLORS = ["#1b7837", "#c51b7d", "#2166ac", "#e08214"]


def _x(value_us, lo, hi, left, width):
    value = min(max(value_us, lo), hi)
    return left + (math.log10(value) - math.log10(lo)) / (math.log10(hi) - math.log10(lo)) * width


def _decades(values, floor):
    values = [v for v in values if v > 0]
    lo = 10 ** math.floor(math.log10(max(min(values, default=floor), floor)))
    hi = 10 ** math.ceil(math.log10(max(values, default=1000)))
    return lo, max(hi, lo * 10)


def _axis(out, lo, hi, left, width, top, bottom, caption):
    decade = lo
    while decade <= hi * 1.0001:
        x = _x(decade, lo, hi, left, width)
        out.append(f'<line x1="{x:.1f}" y1="{top - 8}" x2="{x:.1f}" y2="{bottom}" stroke="#ddd"/>')
        out.append(f'<text x="{x:.1f}" y="{bottom + 16}" text-anchor="middle">{decade:g}</text>')
        decade *= 10
    out.append(f'<text x="{left + width / 2}" y="{bottom + 36}" text-anchor="middle">'
               f'{escape(caption)}</text>')


def overshoot_svg(rows, title):
    """rows: list of (label, t in µs, {function: [overshoot in µs, ...]},
    {function: CPU per call in µs})."""
    functions = sorted({name for _, _, series, _ in rows for name in series})
    lo, hi = _decades([v for _, _, series, _ in rows for vs in series.values() for v in vs], 0.01)
    cpu_lo, cpu_hi = _decades([v for _, t, _, cpu in rows for v in [t, *cpu.values()]], 1)
    left, top, row_h = 110, 60, 24 * max(len(functions), 1) + 16
    plot_w, gap, cpu_w, right = 560, 90, 300, 30
    cpu_left = left + plot_w + gap
    width = cpu_left + cpu_w + right
    bottom = top + row_h * len(rows)
    height = bottom + 70
    out = [
        f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{height}" '
        'font-family="sans-serif" font-size="12">',
        f'<rect width="{width}" height="{height}" fill="white"/>',
        f'<text x="{width / 2}" y="24" text-anchor="middle" font-size="15">{escape(title)}</text>',
    ]
    _axis(out, lo, hi, left, plot_w, top, bottom,
          "overshoot (µs, log scale; a bar marks the median)")
    _axis(out, cpu_lo, cpu_hi, cpu_left, cpu_w, top, bottom,
          "CPU per call (µs, log scale; ┆ = t, a whole core)")
    for r, (label, t_us, series, cpu) in enumerate(rows):
        y0 = top + r * row_h
        if r:
            out.append(f'<line x1="{left - 100}" y1="{y0}" x2="{cpu_left + cpu_w}" y2="{y0}" '
                       'stroke="#eee"/>')
        out.append(f'<text x="{left - 10}" y="{y0 + row_h / 2 + 4}" text-anchor="end">'
                   f'{escape(label)}</text>')
        x = _x(t_us, cpu_lo, cpu_hi, cpu_left, cpu_w)
        out.append(f'<line x1="{x:.1f}" y1="{y0 + 4}" x2="{x:.1f}" y2="{y0 + row_h - 4}" '
                   'stroke="#444" stroke-dasharray="3,3"/>')
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
            if name in cpu:
                x = _x(max(cpu[name], cpu_lo), cpu_lo, cpu_hi, cpu_left, cpu_w)
                out.append(f'<rect x="{cpu_left}" y="{y - 6}" width="{x - cpu_left:.1f}" '
                           f'height="12" fill="{color}" fill-opacity="0.8"/>')
                out.append(f'<text x="{x + 4:.1f}" y="{y + 4}" font-size="10">'
                           f'{cpu[name]:.0f}</text>')
    for f, name in enumerate(functions):
        x = left + f * 180
        out.append(f'<circle cx="{x}" cy="42" r="5" fill="{COLORS[f % len(COLORS)]}"/>')
        out.append(f'<text x="{x + 10}" y="46">{escape(name)}</text>')
    out.append("</svg>")
    return "\n".join(out)
