// The index in the browser: the flights table sorted by any column and
// filtered by text, aircraft, year and month (without a script it stays as
// written); and each aircraft's trends drawn again at their width, with a
// cursor on the flight nearest the pointer, a tap or the arrow keys.
(function () {
  'use strict';
  var months = ['January', 'February', 'March', 'April', 'May', 'June', 'July', 'August', 'September', 'October',
    'November', 'December'];

  function option(select, value, label) {
    var o = document.createElement('option');
    o.value = value;
    o.textContent = label;
    select.appendChild(o);
  }
  function choices(select, values, label) {
    option(select, '*', 'All');
    values.filter(function (v, k) { return values.indexOf(v) === k; }).sort().forEach(function (v) { option(select, v, label(v)); });
  }
  // What a cell sorts by: a number, a duration as seconds, or its text; empty cells go last.
  function sortKey(text) {
    text = text.trim();
    if (/^-?\d+(\.\d+)?$/.test(text))
      return { n: Number(text) };
    var d = /^(\d+):(\d\d):(\d\d)$/.exec(text);
    return d ? { n: d[1] * 3600 + d[2] * 60 + Number(d[3]) } : { s: text };
  }
  function compare(a, b) {
    if ((a.s === '') !== (b.s === ''))
      return a.s === '' ? 1 : -1;
    if (a.n !== undefined && b.n !== undefined)
      return a.n - b.n;
    return String(a.s !== undefined ? a.s : a.n).localeCompare(String(b.s !== undefined ? b.s : b.n), undefined, { numeric: true });
  }

  function flights(table) {
    var body = table.tBodies[0], rows = Array.prototype.slice.call(body.rows);
    var form = document.createElement('form');
    form.className = 'filter';
    form.setAttribute('role', 'search');
    form.setAttribute('aria-label', 'Flights');
    form.innerHTML = '<label>Find <input type="search" name="text"></label> <label>Aircraft <select name="aircraft">' +
      '</select></label> <label>Year <select name="year"></select></label> <label>Month <select name="month"></select>' +
      '</label><p role="status"></p>';
    var f = form.elements, status = form.querySelector('p');
    choices(f.aircraft, rows.map(function (r) { return r.getAttribute('data-aircraft'); }), function (v) { return v || '(none)'; });
    choices(f.year, rows.map(function (r) { return r.getAttribute('data-date').slice(0, 4); }), String);
    choices(f.month, rows.map(function (r) { return r.getAttribute('data-date').slice(5, 7); }),
      function (v) { return months[Number(v) - 1]; });
    function filter() {
      var words = f.text.value.toLowerCase().split(/\s+/).filter(Boolean), shown = 0;
      rows.forEach(function (r) {
        var date = r.getAttribute('data-date'), text = r.textContent.toLowerCase();
        var ok = words.every(function (w) { return text.indexOf(w) >= 0; }) &&
          (f.aircraft.value === '*' || r.getAttribute('data-aircraft') === f.aircraft.value) &&
          (f.year.value === '*' || date.slice(0, 4) === f.year.value) &&
          (f.month.value === '*' || date.slice(5, 7) === f.month.value);
        r.hidden = !ok;
        shown += ok;
      });
      status.textContent = shown + ' of ' + rows.length + ' flights shown (year and month of the local date).';
    }
    form.addEventListener('input', filter);
    form.addEventListener('submit', function (e) { e.preventDefault(); });
    table.parentNode.parentNode.insertBefore(form, table.parentNode);
    filter();

    // Each heading but the files' a button that sorts by its column, again in reverse.
    var heads = Array.prototype.slice.call(table.tHead.rows[0].cells, 0, -1);
    heads.forEach(function (th, k) {
      var button = document.createElement('button');
      button.type = 'button';
      button.className = 'sort';
      while (th.firstChild)
        button.appendChild(th.firstChild);
      th.appendChild(button);
      button.addEventListener('click', function () {
        var down = th.getAttribute('aria-sort') === 'ascending';
        heads.forEach(function (h) { h.removeAttribute('aria-sort'); });
        th.setAttribute('aria-sort', down ? 'descending' : 'ascending');
        var keyed = rows.map(function (r, i) { return { r: r, i: i, key: sortKey(r.cells[k].textContent) }; });
        keyed.sort(function (a, b) {
          var c = compare(a.key, b.key);
          if (c && (a.key.s === '') === (b.key.s === ''))
            return down ? -c : c;
          return c || a.i - b.i;
        });
        keyed.forEach(function (x) { body.appendChild(x.r); });
      });
    });
  }

  function trends(section) {
    var source = section.querySelector('script.trend-data');
    if (!source)
      return;
    var d = JSON.parse(source.textContent), fl = d.flights, n = fl.t.length, at = -1, cells = {}, charts = [];
    section.querySelectorAll('.trend-readout dd[data-field]').forEach(function (c) { cells[c.getAttribute('data-field')] = c; });
    function nearest(t) {
      var best = 0;
      for (var i = 1; i < n; i++)
        if (Math.abs(fl.t[i] - t) < Math.abs(fl.t[best] - t))
          best = i;
      return best;
    }
    function show(i) {
      at = i;
      charts.forEach(function (c) { c.place(fl.t[i]); });
      section.setAttribute('data-flight', fl.name[i]);
      var link = document.createElement('a');
      link.href = fl.name[i] + '.html';
      link.textContent = fl.name[i];
      cells.name.replaceChildren(link);
      cells.date.textContent = fl.date[i];
      Object.keys(cells).forEach(function (k) {
        if (k !== 'name' && k !== 'date')
          cells[k].textContent = fl[k][i] === null ? '\u2013' : String(fl[k][i]);
      });
    }
    function draw(c) {
      var low = Infinity, high = -Infinity;
      c.info.keys.forEach(function (key) {
        fl[key[0]].forEach(function (v) { if (v !== null) low = Math.min(low, v), high = Math.max(high, v); });
      });
      c.info.bars.forEach(function (b) { low = 0, high = Math.max(high, b[2]); });
      var f = kxchart.frame(c.svg, { height: 170, from: d.t0, to: d.t1, low: low, high: high, title: c.info.title,
        ticks: kxchart.dateTicks });
      c.info.bars.forEach(function (b) {
        var x0 = Math.max(f.left, f.x(b[0])), x1 = Math.min(f.left + f.width, f.x(b[1]));
        kxchart.add(c.svg, 'rect', { 'class': 'bar', x: x0.toFixed(1), y: f.y(b[2]).toFixed(1),
          width: Math.max(x1 - x0 - 2, 2).toFixed(1), height: (f.y(0) - f.y(b[2])).toFixed(1), 'data-hours': b[2] });
      });
      c.info.keys.forEach(function (key) {
        kxchart.line(c.svg, f, { key: key[0], colour: key[1], T: fl.t, V: fl[key[0]], i0: 0, i1: n - 1, dots: true,
          ok: function (i) { return fl[key[0]][i] !== null; } });
      });
      c.frame = f;
      c.place = kxchart.cursor(c.svg, f);
      c.place(at < 0 ? null : fl.t[at]);
    }
    d.charts.forEach(function (info) {
      var svg = document.getElementById(info.id);
      if (!svg)
        return;
      var c = { info: info, svg: svg };
      charts.push(c);
      svg.setAttribute('tabindex', '0');
      svg.addEventListener('pointermove', function (e) { show(nearest(kxchart.timeAt(svg, c.frame, e.clientX))); });
      svg.addEventListener('pointerdown', function (e) { show(nearest(kxchart.timeAt(svg, c.frame, e.clientX))); });
      svg.addEventListener('keydown', function (e) {
        var to = { ArrowLeft: Math.max(at - 1, 0), ArrowRight: Math.min(at + 1, n - 1), Home: 0, End: n - 1 }[e.key];
        if (to === undefined)
          return;
        e.preventDefault();
        show(at < 0 ? 0 : to);
      });
    });
    charts.forEach(draw);
    kxchart.whenWidthChanges(charts.map(function (c) { return c.svg; }), function () { charts.forEach(draw); });
  }

  var table = document.querySelector('table.flights');
  if (table)
    flights(table);
  document.querySelectorAll('section.aircraft').forEach(trends);
})();
