// A flight's page in the browser. The charts are drawn again at the width of
// the screen or the paper from every record of the flight, which the page's
// data carries. A cursor stands on the record nearest the time that the
// pointer, a tap or the keyboard picks, on every chart at once, with its
// place on the track and every value of its record in the read-out; a
// screen reader hears it. A drag across a chart or a pinch zooms every chart
// to that stretch, drawn from all of its records, and marks it on the
// track; the button and Escape go back to the whole flight.
(function () {
  'use strict';
  var data = JSON.parse(document.getElementById('kx-data').textContent);
  var n = data.n, rec = {}, quantity = {};
  Object.keys(data.columns).forEach(function (k) { rec[k] = kxchart.decode(data.columns[k], n); });
  data.quantities.forEach(function (q) {
    quantity[q.key] = q;
    q.scale = Math.pow(10, q.places);
    q.values = q.places ? rec[q.key].map(function (v) { return v / q.scale; }) : rec[q.key];
  });
  var T = rec.t, whole = { from: data.t0, to: data.t1 }, view = whole, at = -1, minSpan = 10;
  var charts = data.charts.map(function (c) { return { info: c, svg: document.getElementById(c.id) }; })
    .filter(function (c) { return c.svg; });
  if (!n || !charts.length)
    return;

  // The first record at `t` or later, and the last at `t` or earlier.
  function from(t) {
    var lo = 0, hi = n;
    while (lo < hi) { var m = (lo + hi) >> 1; if (T[m] < t) lo = m + 1; else hi = m; }
    return lo;
  }
  function upTo(t) { return from(Math.floor(t) + 1) - 1; }
  function nearest(t) {
    var i = Math.min(from(t), n - 1);
    return i > 0 && t - T[i - 1] <= T[i] - t ? i - 1 : i;
  }
  function has(q, i) { return !q.needsFix || rec.fix[i] === 1; }
  function value(q, i) { return q.values[i]; }
  // A value as the read-out writes it: whole numbers as they are, the rest
  // with their own decimals, from the stored whole number.
  function text(q, i) {
    if (!has(q, i))
      return 'no fix';
    var v = rec[q.key][i];
    if (!q.places)
      return String(v);
    var a = Math.abs(v), units = Math.floor(a / q.scale), part = String(a - units * q.scale);
    return (v < 0 ? '-' : '') + units + '.' + ('000000000' + part).slice(-q.places);
  }
  function utc(t) { return new Date(t * 1000).toISOString().replace('T', ' ').slice(0, 19); }
  function local(t) {
    var x = new Date(t * 1000), o = -x.getTimezoneOffset(), a = Math.abs(o), two = kxchart.two;
    return x.getFullYear() + '-' + two(x.getMonth() + 1) + '-' + two(x.getDate()) + ' ' + two(x.getHours()) + ':' +
      two(x.getMinutes()) + ':' + two(x.getSeconds()) + ' ' + (o < 0 ? '-' : '+') + two(Math.floor(a / 60)) + ':' +
      two(a % 60);
  }
  function unitOf(q) { return q.unit ? ' [' + q.unit + ']' : ''; }

  // The read-out, above the charts: a hint until the cursor is placed, the
  // stretch shown with the button back to the whole flight, and a cell for
  // the time and for each value of the record.
  var readout = document.createElement('div'), cells = {};
  readout.id = 'readout';
  readout.innerHTML = '<p class="hint">Point at a chart or tap it to read every value of the record at that time. ' +
    'From the keyboard: Tab to a chart, then the arrow keys (a record), Page Up and Page Down (a minute), Home and End. ' +
    'Drag across a chart or pinch to zoom; + and - zoom at the cursor, Escape goes back to the whole flight.</p>' +
    '<p class="view"><span></span> <button type="button">Whole flight</button></p><dl hidden></dl>';
  var list = readout.querySelector('dl'), button = readout.querySelector('button');
  var cellsOf = [['utc', 'Time (UTC)'], ['local', 'Local time']].concat(data.quantities.map(function (q) {
    return [q.key, q.label + unitOf(q)];
  }));
  cellsOf.forEach(function (c) {
    var div = document.createElement('div'), dt = document.createElement('dt'), dd = document.createElement('dd');
    dt.textContent = c[1];
    dd.textContent = '\u2013';
    dd.setAttribute('data-field', c[0]);
    div.className = c[0] === 'utc' || c[0] === 'local' ? 'time' : '';
    div.appendChild(dt);
    div.appendChild(dd);
    list.appendChild(div);
    cells[c[0]] = dd;
  });
  var said = document.createElement('p');
  said.className = 'sr-only';
  said.setAttribute('aria-live', 'polite');
  var first = charts[0].svg.closest('figure');
  first.parentNode.insertBefore(readout, first);
  first.parentNode.insertBefore(said, first);

  // The track: the cursor's dot, the stretch zoomed to, labels kept readable.
  var track = document.querySelector('svg.track'), p = data.track, dot = track && track.querySelector('circle.cursor');
  var stretch = track && p ? kxchart.add(track, 'path', { 'class': 'stretch', 'data-series': 'stretch' }) : null;
  if (dot)
    track.appendChild(dot);
  function trackX(i) { return p.left + (rec.lon[i] / 1e6 - p.west) * p.kmLon * p.scale; }
  function trackY(i) { return p.bottom - (rec.lat[i] / 1e6 - p.south) * p.kmLat * p.scale; }
  function drawStretch(i0, i1) {
    if (!stretch)
      return;
    var d = [], move = true, x0 = 0, y0 = 0;
    for (var i = i0; i <= i1 && view !== whole; ++i) {
      if (rec.fix[i] !== 1) { move = true; continue; }
      var x = trackX(i), y = trackY(i);
      if (move || Math.abs(x - x0) + Math.abs(y - y0) >= 1 || i === i1) {
        d.push((move ? 'M' : 'L') + x.toFixed(1) + ' ' + y.toFixed(1));
        x0 = x, y0 = y, move = false;
      }
    }
    stretch.setAttribute('d', d.join(''));
  }
  function fitTrackText() {
    var width = track && track.getBoundingClientRect().width;
    if (width && p)
      track.querySelectorAll('text').forEach(function (t) { t.style.fontSize = (12 * p.width / width).toFixed(1) + 'px'; });
  }

  // Each chart over the records in view, its scale fitted to them and to its limits.
  function draw(c, i0, i1) {
    var s = c.info, low = Infinity, high = -Infinity;
    s.keys.forEach(function (k) {
      var q = quantity[k];
      for (var i = i0; i <= i1; ++i)
        if (has(q, i)) {
          var v = value(q, i);
          if (v < low) low = v;
          if (v > high) high = v;
        }
    });
    s.limits.forEach(function (l) { low = Math.min(low, l.value); high = Math.max(high, l.value); });
    var f = kxchart.frame(c.svg, { height: s.height, from: view.from, to: view.to, low: low, high: high,
      title: s.title + ' [' + s.unit + ']', ticks: kxchart.clockTicks });
    var right = f.left + f.width, add = kxchart.add;
    data.over.forEach(function (o) {
      var x0 = Math.max(f.left, f.x(o.from)), x1 = Math.min(right, f.x(o.to));
      if (s.keys.indexOf(o.key) >= 0 && o.to >= view.from && o.from <= view.to)
        add(c.svg, 'rect', { 'class': 'over', 'data-limit': o.key, x: x0.toFixed(1), y: f.top,
          width: Math.max(x1 - x0, 1).toFixed(1), height: f.height });
    });
    s.limits.forEach(function (l) {
      var y = f.y(l.value).toFixed(1);
      add(c.svg, 'line', { 'class': 'limit', 'data-limit': l.key, 'data-value': l.value, x1: f.left, x2: right, y1: y, y2: y });
      add(c.svg, 'text', { 'class': 'limit-label', x: right - 4, y: y - 3, 'text-anchor': 'end' }, l.label);
    });
    (s.events ? data.events : []).forEach(function (e, k) {
      if (e.t < view.from || e.t > view.to)
        return;
      var x = f.x(e.t);
      add(c.svg, 'line', { 'class': 'event', x1: x, x2: x, y1: f.top, y2: f.top + f.height });
      add(c.svg, 'text', { 'class': 'event-label', x: x + (k ? -3 : 3), y: f.top + 12, 'text-anchor': k ? 'end' : 'start' },
        e.label);
    });
    s.keys.forEach(function (k) {
      var q = quantity[k];
      kxchart.line(c.svg, f, { key: k, colour: q.colour, T: T, V: q.values,
        i0: i0, i1: i1, ok: q.needsFix ? function (i) { return rec.fix[i] === 1; } : null });
    });
    c.frame = f;
    c.place = kxchart.cursor(c.svg, f);
    c.selection = add(c.svg, 'rect', { 'class': 'selection', x: 0, y: f.top, width: 0, height: f.height });
  }
  function drawAll() {
    var i0 = from(view.from), i1 = Math.max(upTo(view.to), i0);
    charts.forEach(function (c) { draw(c, i0, Math.min(i1, n - 1)); });
    drawStretch(i0, Math.min(i1, n - 1));
    fitTrackText();
    place();
  }

  function place() {
    charts.forEach(function (c) { c.place(at < 0 ? null : T[at]); });
    if (dot && p && at >= 0 && rec.fix[at] === 1) {
      dot.setAttribute('cx', trackX(at).toFixed(1));
      dot.setAttribute('cy', trackY(at).toFixed(1));
      dot.style.visibility = 'visible';
    } else if (dot) {
      dot.style.visibility = 'hidden';
    }
  }
  // Puts the cursor on record `i`, bringing it into view when zoomed;
  // `speak`: a screen reader hears its values.
  function show(i, speak) {
    at = i;
    if (T[i] < view.from || T[i] > view.to) {
      var span = view.to - view.from;
      setView(T[i] - span / 2, T[i] + span / 2);
    }
    place();
    readout.setAttribute('data-t', T[i]);
    readout.classList.add('set');
    list.hidden = false;
    cells.utc.textContent = utc(T[i]);
    cells.local.textContent = local(T[i]);
    data.quantities.forEach(function (q) { cells[q.key].textContent = text(q, i); });
    if (speak)
      said.textContent = utc(T[i]).slice(11) + ' UTC: ' + data.quantities.map(function (q) {
        return q.label + ' ' + text(q, i) + (q.unit && has(q, i) ? ' ' + q.unit : '');
      }).join(', ') + '.';
  }

  // Shows the stretch from `a` to `b` (at least `minSpan` seconds, within the flight) on every chart.
  function setView(a, b, speak) {
    var span = Math.min(Math.max(Math.abs(b - a), minSpan), whole.to - whole.from);
    var start = Math.min(Math.max(Math.min(a, b) + (Math.abs(b - a) - span) / 2, whole.from), whole.to - span);
    view = span >= whole.to - whole.from ? whole : { from: Math.round(start), to: Math.round(start + span) };
    button.disabled = view === whole;
    readout.querySelector('.view span').textContent = view === whole ? 'Showing the whole flight.' :
      'Showing ' + kxchart.utcClock(view.from, true) + ' to ' + kxchart.utcClock(view.to, true) + ' UTC.';
    drawAll();
    if (speak)
      said.textContent = readout.querySelector('.view span').textContent;
  }
  function zoomAround(t, factor) {
    var span = (view.to - view.from) * factor;
    setView(t - span / 2, t + span / 2, true);
  }
  button.addEventListener('click', function () { setView(whole.from, whole.to, true); });
  document.addEventListener('keydown', function (e) {
    if (e.key === 'Escape' && view !== whole)
      setView(whole.from, whole.to, true);
  });

  // The keyboard on a chart: a record, a minute, the ends; zoom at the cursor.
  function key(e) {
    var i = at < 0 ? from(view.from) : at, moved = at < 0 ? 0 : 1;
    var to = {
      ArrowLeft: Math.max(i - moved, 0), ArrowRight: Math.min(i + moved, n - 1),
      PageUp: Math.max(upTo(T[i] - 60), 0), PageDown: Math.min(from(T[i] + 60), n - 1), Home: 0, End: n - 1,
    }[e.key];
    if (e.key === '+' || e.key === '=' || e.key === '-')
      zoomAround(T[i], e.key === '-' ? 2 : 0.5);
    else if (to !== undefined)
      show(to, true);
    else
      return;
    e.preventDefault();
  }

  // The pointer: a mouse's move sets the cursor, its drag zooms; a finger's
  // tap or drag sets the cursor, two fingers pinch.
  var touches = {}, drag = null, pinch = null;
  function pinchTo(c) {
    var xa = touches[pinch.a] - c.svg.getBoundingClientRect().left - c.frame.left;
    var xb = touches[pinch.b] - c.svg.getBoundingClientRect().left - c.frame.left;
    if (Math.abs(xb - xa) < 10)
      return;
    var span = (pinch.tb - pinch.ta) * c.frame.width / (xb - xa), start = pinch.ta - xa / c.frame.width * span;
    setView(start, start + span);
  }
  charts.forEach(function (c) {
    var svg = c.svg;
    svg.setAttribute('tabindex', '0');
    svg.addEventListener('keydown', key);
    svg.addEventListener('pointerdown', function (e) {
      if (e.pointerType === 'mouse' && e.button !== 0)
        return;
      svg.setPointerCapture(e.pointerId);
      var t = kxchart.timeAt(svg, c.frame, e.clientX);
      if (e.pointerType !== 'touch') {
        drag = { c: c, x: e.clientX, t: t, moved: false };
        return;
      }
      touches[e.pointerId] = e.clientX;
      var ids = Object.keys(touches);
      if (ids.length === 2) {
        pinch = { a: ids[0], b: ids[1], ta: kxchart.timeAt(svg, c.frame, touches[ids[0]]),
          tb: kxchart.timeAt(svg, c.frame, touches[ids[1]]) };
      } else if (!pinch) {
        show(nearest(t), true);
      }
    });
    svg.addEventListener('pointermove', function (e) {
      var t = kxchart.timeAt(svg, c.frame, e.clientX);
      if (e.pointerType === 'touch' && e.pointerId in touches) {
        touches[e.pointerId] = e.clientX;
        if (pinch)
          pinchTo(c);
        else
          show(nearest(t), false);
      } else if (drag && drag.c === c) {
        drag.moved = drag.moved || Math.abs(e.clientX - drag.x) > 4;
        var x0 = Math.min(c.frame.x(drag.t), c.frame.x(t)), x1 = Math.max(c.frame.x(drag.t), c.frame.x(t));
        c.selection.setAttribute('x', x0.toFixed(1));
        c.selection.setAttribute('width', drag.moved ? (x1 - x0).toFixed(1) : 0);
      } else if (e.pointerType !== 'touch') {
        show(nearest(t), false);
      }
    });
    function end(e, cancelled) {
      if (e.pointerId in touches) {
        delete touches[e.pointerId];
        if (pinch && Object.keys(touches).length < 2)
          pinch = null;
      } else if (drag && drag.c === c) {
        var t = kxchart.timeAt(svg, c.frame, e.clientX), d = drag;
        drag = null;
        c.selection.setAttribute('width', 0);
        if (cancelled)
          return;
        if (d.moved)
          setView(d.t, t, true);
        else
          show(nearest(t), true);
      }
    }
    svg.addEventListener('pointerup', function (e) { end(e, false); });
    svg.addEventListener('pointercancel', function (e) { end(e, true); });
  });

  // A stretch over a limit, from the list: zoomed to with some time around
  // it, the cursor at its start.
  document.querySelectorAll('a.exceedance').forEach(function (a) {
    a.addEventListener('click', function (e) {
      e.preventDefault();
      var t0 = Number(a.getAttribute('data-t')), t1 = Number(a.getAttribute('data-to')), pad = Math.max(30, (t1 - t0) / 2);
      setView(t0 - pad, t1 + pad);
      show(nearest(t0), true);
      charts[0].svg.focus({ preventScroll: true });
      document.getElementById('charts-h').scrollIntoView();
    });
  });

  setView(whole.from, whole.to);
  kxchart.whenWidthChanges(charts.map(function (c) { return c.svg; }), drawAll);
})();
