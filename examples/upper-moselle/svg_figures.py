"""Figures as SVG text: a hydrograph, maps of grids and grouped bars.

Python 3 standard library only. Every figure is one self-contained SVG file
that a browser opens. The hydrograph's panels state their axis transform
in data attributes, so that the plotted values can be read back from the
pixel coordinates of its lines.
"""

import datetime
import math
from xml.sax.saxutils import escape

FONT = "font-family:DejaVu Sans,Arial,Helvetica,sans-serif"
# A perceptually uniform sequential scale, dark (low) to light (high).
VIRIDIS = ("#440154", "#482878", "#3e4989", "#31688e", "#26828e", "#1f9e89", "#35b779",
           "#6ece58", "#b5de2b", "#fde725")


class Svg:
    """The elements of one figure, written out as an SVG document."""

    def __init__(self, width, height, title, background="white"):
        self.width, self.height = width, height
        self.parts = ["<title>%s</title>" % escape(title)]
        if background:
            self.add('<rect width="%d" height="%d" fill="%s"/>' % (width, height, background))

    def add(self, element):
        self.parts.append(element)

    def text(self, x, y, content, size=12, anchor="start", extra=""):
        self.add('<text x="%.1f" y="%.1f" font-size="%g" text-anchor="%s"%s>%s</text>'
                 % (x, y, size, anchor, extra, escape(content)))

    def line(self, x1, y1, x2, y2, stroke="#000", width=1.0, extra=""):
        self.add('<line x1="%.1f" y1="%.1f" x2="%.1f" y2="%.1f" stroke="%s" stroke-width="%g"%s/>'
                 % (x1, y1, x2, y2, stroke, width, extra))

    def rect(self, x, y, w, h, fill, extra=""):
        self.add('<rect x="%.1f" y="%.1f" width="%.1f" height="%.1f" fill="%s"%s/>'
                 % (x, y, w, h, fill, extra))

    def save(self, path):
        with open(path, "w", encoding="utf-8") as f:
            f.write('<?xml version="1.0" encoding="UTF-8"?>\n'
                    '<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" '
                    'viewBox="0 0 %d %d" style="%s">\n' % (self.width, self.height, self.width,
                                                          self.height, FONT))
            f.write("\n".join(self.parts))
            f.write("\n</svg>\n")


def number(v):
    """A tick label: six significant digits, a thousands separator from 10,000."""
    if v == 0:
        return "0"
    if abs(v) >= 10000:
        return "{:,.0f}".format(v)
    return "%.6g" % v


def nice_step(span, count):
    """A step of 1, 2 or 5 times a power of ten giving about count intervals."""
    if span <= 0:
        return 1.0
    raw = span / count
    power = 10.0 ** math.floor(math.log10(raw))
    for m in (1.0, 2.0, 5.0, 10.0):
        if raw <= m * power:
            return m * power
    return 10.0 * power


def linear_ticks(lo, hi, count=5):
    step = nice_step(hi - lo, count)
    first = math.ceil(lo / step - 1e-9)
    return [k * step for k in range(int(first), int(math.floor(hi / step + 1e-9)) + 1)]


def log_ticks(lo, hi):
    """Ticks of a logarithmic axis from lo to hi (> 0): 1, 2 and 5 of every
    decade over up to three decades, the decades alone beyond."""
    marks = (1.0, 2.0, 5.0) if math.log10(hi / lo) <= 3.0 else (1.0,)
    ticks = []
    for e in range(int(math.floor(math.log10(lo))), int(math.ceil(math.log10(hi))) + 1):
        ticks.extend(m * 10.0 ** e for m in marks if lo <= m * 10.0 ** e <= hi)
    return ticks


def date_ticks(first, days):
    """Major ticks (index, label) and minor tick indices of a daily axis."""
    dates = [first + datetime.timedelta(days=i) for i in range(days)]
    if days > 400:
        major = [(i, str(d.year)) for i, d in enumerate(dates) if d.month == 1 and d.day == 1]
        minor = [i for i, d in enumerate(dates) if d.day == 1]
    elif days > 60:
        major = [(i, d.strftime("%Y-%m")) for i, d in enumerate(dates) if d.day == 1]
        minor = []
    else:
        every = max(1, int(math.ceil(days / 8.0)))
        major = [(i, d.isoformat()) for i, d in enumerate(dates) if i % every == 0]
        minor = list(range(days))
    return major, minor


def runs_of(values):
    """Runs of consecutive plottable values: lists of (index, value)."""
    runs, current = [], []
    for i, v in enumerate(values):
        if v is None:
            if current:
                runs.append(current)
            current = []
        else:
            current.append((i, v))
    if current:
        runs.append(current)
    return runs


def panel_frame(svg, x0, y0, w, h, label, yticks, ymap, xticks, minor, xmap, show_dates):
    """Grid lines, frame and labels of one panel."""
    for v in yticks:
        y = ymap(v)
        svg.line(x0, y, x0 + w, y, "#ddd", 0.8)
        svg.text(x0 - 6, y + 4, number(v), 11, "end")
    for i in minor:
        svg.line(xmap(i), y0 + h, xmap(i), y0 + h + 3, "#888", 0.6)
    for i, text in xticks:
        svg.line(xmap(i), y0, xmap(i), y0 + h + 6, "#ccc", 0.8)
        if show_dates:
            svg.text(xmap(i) + (3 if len(text) == 4 else 0), y0 + h + 19, text, 11,
                     "start" if len(text) == 4 else "middle")
    svg.add('<rect x="%.1f" y="%.1f" width="%.1f" height="%.1f" fill="none" stroke="#444" '
            'stroke-width="1"/>' % (x0, y0, w, h))
    svg.text(x0 - 52, y0 + h / 2, label, 12, "middle",
             ' transform="rotate(-90 %.1f %.1f)"' % (x0 - 52, y0 + h / 2))


def tenths(t):
    """A length in tenths of a pixel as the shortest decimal text."""
    text = "%.1f" % (t / 10.0)
    text = text[:-2] if text.endswith(".0") else text
    return text.replace("0.", ".", 1) if text.lstrip("-").startswith("0.") else text


def series_lines(svg, series, days, x0, w, ymin, ymax, y0, h, value_of):
    """The lines of every series in a panel, a path per run of days with
    values: the first point absolute, each next one relative to the one
    before, in tenths of a pixel (the positions are rounded, not the steps,
    so that nothing drifts). A point of day i and axis value a (value_of of
    the data value) lies at x = x0 + i * sx, y = y0 + h - (a - ymin) * sy."""
    sx = w / max(days - 1, 1)
    sy = h / (ymax - ymin)
    for name, values, colour, width in series:
        plotted = [value_of(v) if v is not None else None for v in values]
        for run in runs_of(plotted):
            points = [(round(10.0 * (x0 + i * sx)), round(10.0 * (y0 + h - (a - ymin) * sy)))
                      for i, a in run]
            steps = " ".join("%s %s" % (tenths(x - px), tenths(y - py))
                             for (px, py), (x, y) in zip(points, points[1:]))
            d = "M%s %s" % (tenths(points[0][0]), tenths(points[0][1]))
            svg.add('<path class="%s" fill="none" stroke="%s" stroke-width="%g" '
                    'stroke-linejoin="round" d="%s%s"/>'
                    % (name, colour, width, d, "l" + steps if steps else "h0"))


def panel_group(first, x0, sx, bottom, ymin, sy, axis):
    """The opening tag of a panel's group, with its axis transform: day
    (first + round((x - x0) / sx)), axis value ymin + (bottom - y) / sy, the
    value itself on a linear axis, its decimal logarithm on a logarithmic one."""
    return ('<g data-panel="%s" data-first-day="%s" data-x="%.6g %.9g" data-y="%.6g %.9g %.9g">'
            % (axis, first.isoformat(), x0, sx, bottom, ymin, sy))


def hydrograph(path, title, subtitle, first, series, unit):
    """Daily series against each other: a linear panel above, a logarithmic
    one for low flows below. series: (name, values with None for missing
    days, colour, width) on the days from first (a date)."""
    days = max(len(s[1]) for s in series)
    width, height = 1000, 640
    x0, w = 80, 890
    svg = Svg(width, height, "%s. %s" % (title, subtitle))
    svg.text(width / 2, 24, title, 15, "middle", ' font-weight="bold"')
    svg.text(width / 2, 44, subtitle, 13, "middle")
    positive = [v for s in series for v in s[1] if v is not None and v > 0]
    if not positive:
        positive = [1.0]
    top = max(positive)
    yticks = linear_ticks(0.0, top * 1.05)
    ymax = max(top * 1.05, yticks[-1])
    xticks, minor = date_ticks(first, days)
    xmap = lambda i: x0 + w * i / max(days - 1, 1)

    # Linear panel: the floods.
    y0, h = 80, 300
    svg.add(panel_group(first, x0, w / max(days - 1, 1), y0 + h, 0.0, h / ymax, "linear"))
    panel_frame(svg, x0, y0, w, h, "discharge (%s)" % unit, yticks,
                lambda v: y0 + h - h * v / ymax, xticks, minor, xmap, False)
    series_lines(svg, series, days, x0, w, 0.0, ymax, y0, h, lambda v: v)
    svg.add("</g>")

    # Logarithmic panel: the low flows.
    low = 10.0 ** (math.floor(math.log10(min(positive)) * 4.0) / 4.0)
    high = 10.0 ** (math.ceil(math.log10(top) * 4.0) / 4.0)
    if high <= low:
        high = low * 10.0
    y1, h1 = 420, 170
    lo, hi = math.log10(low), math.log10(high)
    svg.add(panel_group(first, x0, w / max(days - 1, 1), y1 + h1, lo, h1 / (hi - lo), "log10"))
    panel_frame(svg, x0, y1, w, h1, "%s, log scale" % unit, log_ticks(low, high),
                lambda v: y1 + h1 - h1 * (math.log10(v) - lo) / (hi - lo), xticks, minor, xmap,
                True)
    series_lines(svg, series, days, x0, w, lo, hi, y1, h1,
                 lambda v: math.log10(v) if v > 0 else None)
    svg.add("</g>")

    # Legend.
    lx = x0 + 10
    for name, _, colour, line_width in series:
        svg.line(lx, 64, lx + 26, 64, colour, line_width + 1)
        svg.text(lx + 32, 68, name, 12)
        lx += 130
    svg.save(path)


def quantile(sorted_values, q):
    return sorted_values[min(len(sorted_values) - 1, int(q * (len(sorted_values) - 1) + 0.5))]


def class_breaks(values, classes=9):
    """Breaks of a classed sequential scale over values: equal nice steps over
    the 2nd to the 98th percentile, the classes at both ends open when values
    lie beyond. Returns the breaks (classes + 1 values) and whether the first
    and the last class are open."""
    ordered = sorted(values)
    if not ordered:
        return [0.0, 1.0], False, False
    lo, hi = quantile(ordered, 0.02), quantile(ordered, 0.98)
    step = nice_step(hi - lo, classes) if hi > lo else (nice_step(abs(hi), 1) if hi else 1.0)
    start = math.floor(lo / step + 1e-9) * step
    count = max(1, int(math.ceil((hi - start) / step - 1e-9)))
    if start + count * step <= hi:
        count += 1
    breaks = [start + k * step for k in range(count + 1)]
    return breaks, ordered[0] < breaks[0], ordered[-1] > breaks[-1]


def colours(count):
    """count colours evenly spaced along the sequential scale."""
    if count == 1:
        return [VIRIDIS[len(VIRIDIS) // 2]]
    return [VIRIDIS[int(round(k * (len(VIRIDIS) - 1) / (count - 1)))] for k in range(count)]


def grid_map(path, title, rows, nodata, scale, unit, note="", cellsize=None):
    """A map of a grid: every cell with data coloured by its class of the
    scale (breaks, open_low, open_high from class_breaks), no-data cells left
    out and the figure without background, so that they are transparent. One
    path per class, of runs of cells along the rows. With the cell size (m),
    a scale bar."""
    breaks, open_low, open_high = scale
    n = len(breaks) - 1
    fills = colours(n)
    nrows, ncols = len(rows), len(rows[0]) if rows else 0
    # The catchment's extent in cells.
    used = [(r, c) for r, row in enumerate(rows) for c, v in enumerate(row) if v != nodata]
    r0 = min(r for r, _ in used) if used else 0
    r1 = max(r for r, _ in used) + 1 if used else nrows
    c0 = min(c for _, c in used) if used else 0
    c1 = max(c for _, c in used) + 1 if used else ncols
    cell = min(560.0 / max(c1 - c0, 1), 600.0 / max(r1 - r0, 1))
    mw, mh = cell * (c1 - c0), cell * (r1 - r0)
    width, height = int(mw + 230), int(max(mh, 330) + 80)
    svg = Svg(width, height, "%s (%s)" % (title, unit), None)
    svg.text(20, 26, title, 15, "start", ' font-weight="bold"')
    if note:
        svg.text(20, 46, note, 11)

    def class_of(v):
        for k in range(n):
            if v < breaks[k + 1]:
                return k
        return n - 1

    paths = [[] for _ in range(n)]
    for r in range(r0, r1):
        row = rows[r]
        c = c0
        while c < c1:
            v = row[c]
            if v == nodata:
                c += 1
                continue
            k = class_of(v)
            start = c
            while c < c1 and row[c] != nodata and class_of(row[c]) == k:
                c += 1
            paths[k].append("M%d %dh%dv1h-%dz" % (start - c0, r - r0, c - start, c - start))
    svg.add('<g data-map="cells" transform="translate(20 60) scale(%.6g)" '
            'shape-rendering="crispEdges">' % cell)
    for k, parts in enumerate(paths):
        if parts:
            svg.add('<path fill="%s" d="%s"/>' % (fills[k], "".join(parts)))
    svg.add("</g>")

    # Legend: a box per class, lowest at the bottom, with its bounds.
    lx, ly, box = mw + 50, 70, min(26.0, 260.0 / n)
    svg.text(lx, ly - 8, unit, 12, "start", ' font-weight="bold"')
    for k in range(n):
        y = ly + (n - 1 - k) * box
        svg.rect(lx, y, 22, box, fills[k], ' stroke="#fff" stroke-width="0.5"')
        if k == n - 1 and open_high:
            label = "> %s" % number(breaks[k])
        elif k == 0 and open_low:
            label = "< %s" % number(breaks[1])
        else:
            label = "%s to %s" % (number(breaks[k]), number(breaks[k + 1]))
        svg.text(lx + 30, y + box / 2 + 4, label, 11)
    svg.text(lx, ly + n * box + 20, "no data: transparent", 11, "start", ' fill="#666"')
    if cellsize:
        km = nice_step(cellsize * (c1 - c0) / 1000.0, 4)
        bar = km * 1000.0 / cellsize * cell
        svg.line(lx, ly + n * box + 50, lx + bar, ly + n * box + 50, "#000", 2.0)
        svg.text(lx + bar / 2, ly + n * box + 44, "%s km" % number(km), 11, "middle")
    svg.save(path)


def bar_chart(path, title, subtitle, groups, names, fills, unit):
    """Grouped bars: groups is a list of (label, values in the order of
    names), with a zero line and the value over each bar."""
    width, height = 820, 460
    x0, y0, w, h = 80, 80, 560, 320
    values = [v for _, vs in groups for v in vs] + [0.0]
    ticks = linear_ticks(min(values), max(values), 8)
    lo = min(min(values), ticks[0])
    hi = max(max(values), ticks[-1])
    ymap = lambda v: y0 + h - h * (v - lo) / (hi - lo)
    svg = Svg(width, height, "%s. %s" % (title, subtitle))
    svg.text(width / 2, 24, title, 15, "middle", ' font-weight="bold"')
    svg.text(width / 2, 44, subtitle, 12, "middle")
    for v in ticks:
        svg.line(x0, ymap(v), x0 + w, ymap(v), "#ddd", 0.8)
        svg.text(x0 - 6, ymap(v) + 4, number(v), 11, "end")
    label_format = "%.0f" if max(abs(v) for v in values) >= 100.0 else "%.1f"
    group_w = w / max(len(groups), 1)
    bar_w = group_w * 0.8 / len(names)
    for g, (label, vs) in enumerate(groups):
        gx = x0 + g * group_w + group_w * 0.1
        for k, v in enumerate(vs):
            top, bottom = sorted((ymap(v), ymap(0.0)))
            svg.rect(gx + k * bar_w, top, bar_w * 0.92, max(bottom - top, 0.5), fills[k],
                     ' data-name="%s" data-value="%.3f"' % (names[k], v))
            svg.text(gx + (k + 0.46) * bar_w, (top - 4) if v >= 0 else (bottom + 12),
                     label_format % v, 10, "middle")
        svg.text(x0 + (g + 0.5) * group_w, y0 + h + 20, label, 12, "middle")
    svg.line(x0, ymap(0.0), x0 + w, ymap(0.0), "#000", 1.0)
    svg.add('<rect x="%d" y="%d" width="%d" height="%d" fill="none" stroke="#444"/>'
            % (x0, y0, w, h))
    svg.text(x0 - 52, y0 + h / 2, unit, 12, "middle",
             ' transform="rotate(-90 %.1f %.1f)"' % (x0 - 52, y0 + h / 2))
    for k, name in enumerate(names):
        svg.rect(x0 + w + 20, y0 + 10 + 24 * k, 16, 16, fills[k])
        svg.text(x0 + w + 42, y0 + 23 + 24 * k, name, 12)
    svg.save(path)

