// The cursor of a flight's page: the pointer's time on any chart picks the
// nearest record the page holds; a line marks that time on every chart, a dot
// its place on the track, and the read-out shows its values, with the time in
// UTC and in the viewer's local time. What the read-out shows comes with the
// data: its `readout` lists each cell and the record's columns it joins.
(function () {
  'use strict';
  var d = JSON.parse(document.getElementById('kx-data').textContent);
  var r = d.records, n = r.t.length;
  var out = document.getElementById('readout'), cells = {};
  out.querySelectorAll('td[data-field]').forEach(function (c) { cells[c.getAttribute('data-field')] = c; });

  function two(v) { return (v < 10 ? '0' : '') + v; }
  function utc(t) { return new Date(t * 1000).toISOString().replace('T', ' ').slice(0, 19); }
  function local(t) {
    var x = new Date(t * 1000), o = -x.getTimezoneOffset(), a = Math.abs(o);
    return x.getFullYear() + '-' + two(x.getMonth() + 1) + '-' + two(x.getDate()) + ' ' + two(x.getHours()) + ':' +
      two(x.getMinutes()) + ':' + two(x.getSeconds()) + ' ' + (o < 0 ? '-' : '+') + two(Math.floor(a / 60)) + ':' +
      two(a % 60);
  }
  function nearest(t) {
    var lo = 0, hi = n - 1;
    while (lo < hi) { var m = (lo + hi) >> 1; if (r.t[m] < t) lo = m + 1; else hi = m; }
    if (lo > 0 && t - r.t[lo - 1] <= r.t[lo] - t) lo--;
    return lo;
  }
  // A cell's text: the record's values of its columns, or 'no fix' where one has none.
  function text(cell, i) {
    var values = cell.keys.map(function (k) { return r[k][i]; });
    if (values.some(function (v) { return v === null; }))
      return 'no fix';
    return values.map(function (v) { return cell.fixed >= 0 ? v.toFixed(cell.fixed) : String(v); }).join(', ');
  }
  function show(i) {
    var x = d.x0 + (r.t[i] - d.t0) / (d.t1 - d.t0) * d.width;
    document.querySelectorAll('line.cursor').forEach(function (l) {
      l.setAttribute('x1', x); l.setAttribute('x2', x); l.style.visibility = 'visible';
    });
    out.setAttribute('data-t', r.t[i]);
    cells.utc.textContent = utc(r.t[i]);
    cells.local.textContent = local(r.t[i]);
    d.readout.forEach(function (cell) { cells[cell.cell].textContent = text(cell, i); });
    var m = document.querySelector('circle.cursor'), p = d.track;
    if (m && p && r.lat[i] !== null) {
      m.setAttribute('cx', p.left + (r.lon[i] - p.west) * p.kmLon * p.scale);
      m.setAttribute('cy', p.bottom - (r.lat[i] - p.south) * p.kmLat * p.scale);
      m.style.visibility = 'visible';
    }
  }
  // A stretch over a limit, from the list: the cursor at its start.
  document.querySelectorAll('a.exceedance').forEach(function (a) {
    a.addEventListener('click', function (e) {
      e.preventDefault();
      show(nearest(Number(a.getAttribute('data-t'))));
      document.getElementById('charts-h').scrollIntoView();
    });
  });
  document.querySelectorAll('svg.chart').forEach(function (svg) {
    svg.addEventListener('pointermove', function (e) {
      var p = svg.createSVGPoint();
      p.x = e.clientX; p.y = e.clientY;
      var q = p.matrixTransform(svg.getScreenCTM().inverse());
      show(nearest(d.t0 + (q.x - d.x0) / d.width * (d.t1 - d.t0)));
    });
  });
})();
