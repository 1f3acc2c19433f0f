// The index's trends: the pointer over any trend chart of an aircraft picks
// the flight nearest its time; a line marks it on every chart of that
// aircraft, and the read-out shows the flight's values.
(function () {
  'use strict';
  document.querySelectorAll('section.aircraft').forEach(function (section) {
    var source = section.querySelector('script.trend-data');
    if (!source)
      return;
    var d = JSON.parse(source.textContent), f = d.flights, n = f.t.length, cells = {};
    section.querySelectorAll('.trend-readout td[data-field]').forEach(function (c) {
      cells[c.getAttribute('data-field')] = c;
    });
    function nearest(t) {
      var best = 0;
      for (var i = 1; i < n; i++)
        if (Math.abs(f.t[i] - t) < Math.abs(f.t[best] - t))
          best = i;
      return best;
    }
    function show(i) {
      var x = d.x0 + (f.t[i] - d.t0) / (d.t1 - d.t0) * d.width;
      section.querySelectorAll('svg.trend line.cursor').forEach(function (l) {
        l.setAttribute('x1', x); l.setAttribute('x2', x); l.style.visibility = 'visible';
      });
      section.setAttribute('data-flight', f.name[i]);
      var link = document.createElement('a');
      link.href = f.name[i] + '.html';
      link.textContent = f.name[i];
      cells.name.replaceChildren(link);
      cells.date.textContent = f.date[i];
      Object.keys(cells).forEach(function (k) {
        if (k !== 'name' && k !== 'date')
          cells[k].textContent = f[k][i] === null ? '\u2013' : String(f[k][i]);
      });
    }
    section.querySelectorAll('svg.trend').forEach(function (svg) {
      svg.addEventListener('pointermove', function (e) {
        var p = svg.createSVGPoint();
        p.x = e.clientX; p.y = e.clientY;
        var q = p.matrixTransform(svg.getScreenCTM().inverse());
        show(nearest(d.t0 + (q.x - d.x0) / d.width * (d.t1 - d.t0)));
      });
    });
  });
})();
