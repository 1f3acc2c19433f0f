// The library's charts drawn in the browser at the width they are laid out
// at, a user unit of the SVG to a CSS pixel, so that their text keeps its
// size on a phone and on paper: a plot with its value and time axes, lines
// reduced to the plot's pixel columns with every peak kept, a cursor, and
// the time under a pointer. Both pages use it; each draws over the SVG that
// the page came with, which stays for a reader without scripts.
var kxchart = (function () {
  'use strict';
  var svgNS = 'http://www.w3.org/2000/svg';
  var margin = { left: 50, right: 12, top: 22, bottom: 22 };

  function add(parent, name, attributes, text) {
    var e = document.createElementNS(svgNS, name);
    Object.keys(attributes).forEach(function (a) { e.setAttribute(a, attributes[a]); });
    if (text !== undefined)
      e.textContent = text;
    parent.appendChild(e);
    return e;
  }
  function round(v) { return Math.round(v * 10) / 10; }
  // 1, 2 or 5 times a power of ten that cuts `range` into about `parts`.
  function niceStep(range, parts) {
    var rough = range / parts, power = Math.pow(10, Math.floor(Math.log10(rough)));
    return [1, 2, 5, 10].map(function (m) { return m * power; }).filter(function (s) { return s >= rough; })[0];
  }
  function decimalsOf(step) {
    var n = 0;
    for (var unit = 1; n < 9 && step < unit * 0.999; unit /= 10)
      n++;
    return n;
  }
  function two(v) { return (v < 10 ? '0' : '') + v; }
  function utcDate(t) { return new Date(t * 1000).toISOString().slice(0, 10); }
  function utcClock(t, seconds) { return new Date(t * 1000).toISOString().slice(11, seconds ? 19 : 16); }

  // The time axis of a flight: UTC times a whole step apart, HH:MM, or
  // HH:MM:SS below a minute, at most `count` of them.
  function clockTicks(from, to, count) {
    var steps = [1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600, 7200, 10800, 21600, 43200, 86400];
    var step = steps.filter(function (s) { return (to - from) / s <= count; })[0] || 86400, ticks = [];
    for (var t = Math.ceil(from / step) * step; t <= to; t += step)
      ticks.push({ t: t, label: utcClock(t, step < 60) });
    return ticks;
  }
  // The time axis of a season: UTC days, weeks or the first days of months.
  function dateTicks(from, to, count) {
    var day = 86400, ticks = [];
    var step = [day, 2 * day, 7 * day, 14 * day].filter(function (s) { return (to - from) / s <= count; })[0];
    if (step) {
      for (var t = Math.ceil(from / step) * step; t <= to; t += step)
        ticks.push({ t: t, label: utcDate(t).slice(5) });
      return ticks;
    }
    var months = Math.ceil((to - from) / (30 * day) / count), d = new Date(from * 1000);
    for (var m = new Date(Date.UTC(d.getUTCFullYear(), d.getUTCMonth() + 1, 1)); m.getTime() / 1000 <= to;
      m = new Date(Date.UTC(m.getUTCFullYear(), m.getUTCMonth() + months, 1)))
      ticks.push({ t: m.getTime() / 1000, label: utcDate(m.getTime() / 1000).slice(0, 7) });
    return ticks;
  }

  // Clears `svg` but for its title and description, and lays it out
  // `o.height` high at its width with a plot from `o.from` to `o.to` in time
  // and `o.low` to `o.high` in value (widened to whole steps), its grid, its
  // labels and `o.title` above it. Gives the plot's place and its mappings.
  function frame(svg, o) {
    var width = Math.round(svg.getBoundingClientRect().width) || 800;
    Array.prototype.slice.call(svg.childNodes).forEach(function (c) {
      if (c.nodeName !== 'title' && c.nodeName !== 'desc')
        svg.removeChild(c);
    });
    svg.setAttribute('viewBox', '0 0 ' + width + ' ' + o.height);
    // Its height fixed, so that drawing it again at another width (paper)
    // never moves what follows: a printout keeps the pages it counted.
    svg.style.height = o.height + 'px';
    var f = { left: margin.left, top: margin.top, width: Math.max(width - margin.left - margin.right, 10),
      height: o.height - margin.top - margin.bottom, from: o.from, to: Math.max(o.to, o.from + 1) };
    var low = o.low, high = o.high;
    if (!(low <= high))
      low = 0, high = 1;
    if (high - low < 1e-9)
      low -= 1, high += 1;
    var step = niceStep(high - low, 4), digits = decimalsOf(step);
    f.low = Math.floor(low / step) * step;
    f.high = Math.ceil(high / step) * step;
    f.x = function (t) { return f.left + (t - f.from) / (f.to - f.from) * f.width; };
    f.y = function (v) { return f.top + f.height - (v - f.low) / (f.high - f.low) * f.height; };
    f.t = function (x) { return f.from + (x - f.left) / f.width * (f.to - f.from); };
    ['from', 'to', 'left', 'width'].forEach(function (k) { svg.setAttribute('data-' + k, f[k]); });
    add(svg, 'rect', { 'class': 'plot', x: f.left, y: f.top, width: f.width, height: f.height });
    for (var k = 0; f.low + k * step <= f.high + step / 2; ++k) {
      var v = f.low + k * step, y = round(f.y(v));
      add(svg, 'line', { 'class': 'grid', x1: f.left, x2: f.left + f.width, y1: y, y2: y });
      add(svg, 'text', { 'class': 'tick', x: f.left - 5, y: y + 4, 'text-anchor': 'end' },
        (Math.abs(v) < step / 2 ? 0 : v).toFixed(digits));
    }
    o.ticks(f.from, f.to, Math.max(2, Math.floor(f.width / 72))).forEach(function (tick) {
      var x = round(f.x(tick.t));
      add(svg, 'line', { 'class': 'grid', x1: x, x2: x, y1: f.top, y2: f.top + f.height });
      add(svg, 'text', { 'class': 'tick', x: x, y: f.top + f.height + 15, 'text-anchor': 'middle' }, tick.label);
    });
    add(svg, 'text', { 'class': 'chart-title', x: 4, y: 14 }, o.title);
    return f;
  }

  // A series as a line over the records `i0` to `i1` of times `T` and values
  // `V`: of each pixel column the first, lowest, highest and last record, in
  // their order, so that no peak is lost; a record where `ok` is false
  // breaks the line. `dots` adds a circle at each record as well.
  function line(svg, f, s) {
    var path = [], col = -1, move = true, keep = [], dots = s.dots ? add(svg, 'g', { 'class': 'dots', fill: s.colour }) : null;
    var first = null, last = null;
    function flush() {
      if (col < 0)
        return;
      keep.sort(function (a, b) { return a - b; }).forEach(function (i, k) {
        if (k > 0 && i === keep[k - 1])
          return;
        var x = round(f.x(s.T[i])), y = round(f.y(s.V[i]));
        path.push((move ? 'M' : 'L') + x + ' ' + y);
        move = false;
        if (dots)
          add(dots, 'circle', { cx: x, cy: y, r: 2.5 });
        first = first === null ? s.T[i] : first;
        last = s.T[i];
      });
      col = -1;
    }
    for (var i = s.i0; i <= s.i1; ++i) {
      if (s.ok && !s.ok(i)) {
        flush();
        move = true;
        continue;
      }
      var c = Math.floor(f.x(s.T[i]) - f.left);
      if (c !== col) {
        flush();
        col = c;
        keep = [i, i, i, i];
      } else {
        if (s.V[i] < s.V[keep[1]]) keep[1] = i;
        if (s.V[i] > s.V[keep[2]]) keep[2] = i;
        keep[3] = i;
      }
    }
    flush();
    // Nothing of it in sight (a GPS altitude without a fix): no line at all.
    var p = first === null ? null : add(svg, 'path', { 'class': 'series', 'data-series': s.key, stroke: s.colour,
      d: path.join(''), 'data-first': first, 'data-last': last });
    if (dots)
      svg.appendChild(dots);  // over the line
    return p;
  }

  // The cursor's line on a chart, hidden until `place` puts it at a time.
  function cursor(svg, f) {
    var l = add(svg, 'line', { 'class': 'cursor', x1: 0, x2: 0, y1: f.top, y2: f.top + f.height });
    return function place(t) {
      var inside = t !== null && t >= f.from && t <= f.to, x = inside ? round(f.x(t)) : 0;
      l.setAttribute('x1', x);
      l.setAttribute('x2', x);
      l.style.visibility = inside ? 'visible' : 'hidden';
    };
  }

  // The time under a pointer at `clientX`, within the plot.
  function timeAt(svg, f, clientX) {
    var x = clientX - svg.getBoundingClientRect().left;
    return f.t(Math.min(Math.max(x, f.left), f.left + f.width));
  }

  // Calls `draw` again whenever the width of one of `svgs` changes: a turned
  // phone, a window, the paper when printing. The first drawing is the caller's.
  function whenWidthChanges(svgs, draw) {
    function widths() { return svgs.map(function (s) { return Math.round(s.getBoundingClientRect().width); }).join(); }
    var drawn = widths();
    function redraw() {
      var now = widths();
      if (now !== drawn)
        drawn = now, draw();
    }
    ['resize', 'beforeprint', 'afterprint'].forEach(function (e) { window.addEventListener(e, redraw); });
    if (window.matchMedia)
      window.matchMedia('print').addListener(redraw);
  }

  // A column of the page's data: each character a 5-bit digit, 32 and up
  // for "more follow", the lowest first; each number a difference to the
  // value before, zigzagged and doubled, odd when a count of further
  // repeats less one follows.
  var digit = {};
  'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_'.split('').forEach(function (c, k) { digit[c] = k; });
  function decode(text, n) {
    var out = new Float64Array(n), i = 0, p = 0, v = 0;
    function number() {
      var x = 0, scale = 1, c;
      do {
        c = digit[text.charAt(p++)];
        x += (c % 32) * scale;
        scale *= 32;
      } while (c >= 32);
      return x;
    }
    while (i < n && p < text.length) {
      var z = number(), times = z % 2 ? number() + 2 : 1;
      z = Math.floor(z / 2);
      var step = z % 2 ? -(z + 1) / 2 : z / 2;
      for (; times > 0 && i < n; --times)
        out[i++] = v += step;
    }
    return out;
  }

  return { add: add, frame: frame, line: line, cursor: cursor, timeAt: timeAt, decode: decode, whenWidthChanges: whenWidthChanges,
    clockTicks: clockTicks, dateTicks: dateTicks, utcClock: utcClock, two: two };
})();
