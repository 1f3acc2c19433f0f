// The library's pages in a real browser: Debian's chromium, driven headless by
// puppeteer-core, each page opened from file:// as a double-click opens it.
// check_pages.py writes the library and what the pages must show into a
// JSON file; this script checks each page against it, runs axe-core on it,
// keeps a screenshot, and prints one line per failure.
//   node check_pages.js PLAN.json SCREENSHOT_FOLDER
'use strict';
const fs = require('fs');
const path = require('path');
const os = require('os');
const puppeteer = require('puppeteer-core');
const { execFileSync } = require('child_process');
const { AxePuppeteer } = require('@axe-core/puppeteer');

const plan = JSON.parse(fs.readFileSync(process.argv[2], 'utf8'));
const shots = process.argv[3];
const failures = [];
// JSON with the keys of every object in order, so that objects compare by content.
const canon = (v) => JSON.stringify(v, (k, x) => (x && typeof x === 'object' && !Array.isArray(x)
  ? Object.fromEntries(Object.keys(x).sort().map((key) => [key, x[key]])) : x));
const expect = (what, got, wanted) => {
  if (canon(got) !== canon(wanted))
    failures.push(`${what}: got ${canon(got).slice(0, 300)}, wanted ${canon(wanted).slice(0, 300)}`);
};

// Opens `file` and reports every console error, page error and request to anything but the file itself.
async function open(browser, file, viewport) {
  const page = await browser.newPage();
  await page.emulateTimezone(plan.timezone);
  await page.setViewport(viewport || { width: 1000, height: 900 });
  const url = 'file://' + file;
  const noise = [];
  page.on('console', (m) => { if (m.type() === 'error') noise.push('console: ' + m.text()); });
  page.on('pageerror', (e) => noise.push('page error: ' + e.message));
  page.on('request', (r) => { if (r.url() !== url) noise.push('request: ' + r.url()); });
  await page.goto(url, { waitUntil: 'load' });
  return { page, noise };
}

async function accessible(page, name) {
  const result = await new AxePuppeteer(page).analyze();
  const bad = result.violations.filter((v) => v.impact === 'serious' || v.impact === 'critical');
  expect(`${name}: serious or critical accessibility violations`, bad.map((v) => v.id), []);
}

// What the page shows now: the read-out's record and cells, each chart's
// stretch of time and cursor.
const state = (page) => page.evaluate(() => {
  const cells = {};
  document.querySelectorAll('#readout dd[data-field]').forEach((c) => { cells[c.dataset.field] = c.textContent; });
  const charts = [...document.querySelectorAll('svg.chart')];
  return {
    t: Number(document.getElementById('readout').dataset.t), cells,
    views: [...new Set(charts.map((s) => s.dataset.from + '-' + s.dataset.to))],
    cursors: [...new Set(charts.map((s) => s.querySelector('line.cursor')).map((l) => l.getAttribute('x1') + l.style.visibility))],
    said: document.querySelector('[aria-live]').textContent,
    stretch: (document.querySelector('path.stretch') || { getAttribute: () => '' }).getAttribute('d'),
  };
});
// The screen point of time `t` on a chart, from the plot's place that the chart carries.
const at = async (chart, t) => {
  const [box, v] = [await chart.boundingBox(), await chart.evaluate((s) => ({ ...s.dataset }))];
  return { x: box.x + Number(v.left) + (t - v.from) / (v.to - v.from) * Number(v.width), y: box.y + box.height / 2 };
};
const chartsOf = async (page) => {
  const charts = await page.$$('svg.chart');
  await charts[0].evaluate((e) => e.scrollIntoView({ block: 'center' }));
  return charts;
};
// The record of the flight at time `t`, and that its cells are what the read-out shows.
function isRecord(flight, shown, what) {
  const k = flight.times.indexOf(shown.t);
  expect(`${flight.name}: ${what}: the read-out names a record of the flight`, k >= 0, true);
  if (k >= 0)
    expect(`${flight.name}: ${what}: the record's values`, shown.cells, flight.records[k]);
  expect(`${flight.name}: ${what}: one cursor on every chart`, shown.cursors.length, 1);
  return k;
}

// The pointer over each chart at a few places: the record nearest its time.
async function cursor(page, flight) {
  for (const [k, chart] of (await chartsOf(page)).entries()) {
    await chart.evaluate((e) => e.scrollIntoView({ block: 'center' }));
    for (const f of [0.02, 0.37, 0.81]) {
      const want = flight.first + f * (flight.last - flight.first), p = await at(chart, want);
      await page.mouse.move(p.x, p.y);
      const shown = await state(page);
      isRecord(flight, shown, `chart ${k} at ${f}`);
      expect(`${flight.name}: chart ${k} at ${f}: the record is near the pointer's time`,
        Math.abs(shown.t - want) <= flight.step, true);
    }
  }
}

// Tab reaches every chart; the keys move the cursor by a record, a minute and to the ends.
async function keyboard(page, flight) {
  await page.evaluate(() => { document.activeElement.blur(); window.scrollTo(0, 0); });
  const reached = [];
  for (let k = 0; k < 40; ++k) {
    await page.keyboard.press('Tab');
    reached.push(await page.evaluate(() => document.activeElement.id));
  }
  const ids = await page.$$eval('svg.chart', (s) => s.map((e) => e.id));
  expect(`${flight.name}: Tab reaches every chart`, ids.filter((id) => !reached.includes(id)), []);
  await page.$eval('svg.chart', (s) => s.focus());
  const T = flight.times, n = T.length;
  const before = (t) => T.filter((x) => x <= t).length - 1, after = (t) => Math.min(T.findIndex((x) => x >= t), n - 1);
  let i = 0;
  for (const [key, to] of [['Home', () => 0], ['ArrowRight', () => 1], ['ArrowRight', () => 2], ['End', () => n - 1],
    ['PageUp', () => Math.max(before(T[i] - 60), 0)], ['ArrowLeft', () => Math.max(i - 1, 0)],
    ['PageDown', () => after(T[i] + 60)]]) {
    i = to();
    await page.keyboard.press(key);
    const shown = await state(page);
    expect(`${flight.name}: ${key} puts the cursor on record ${i}`, flight.times.indexOf(shown.t), i);
    isRecord(flight, shown, key);
    expect(`${flight.name}: ${key}: a screen reader hears the record`, shown.said.startsWith(flight.records[i].utc.slice(11)), true);
  }
}

// A drag across a chart zooms every chart to its stretch, drawn from all of
// its records with the peaks kept; the button and Escape go back; the track
// shows the stretch.
async function zoom(page, flight) {
  await page.keyboard.press('Escape');
  const charts = await chartsOf(page);
  const T = flight.times, whole = `${flight.first}-${flight.last}`;
  const drag = async (from, to) => {
    const [a, b] = [await at(charts[0], from), await at(charts[0], to)];
    await page.mouse.move(a.x, a.y);
    await page.mouse.down();
    await page.mouse.move(b.x, b.y, { steps: 4 });
    await page.mouse.up();
    return state(page);
  };
  const span = flight.last - flight.first, from = flight.first + 0.3 * span, to = flight.first + 0.34 * span;
  let shown = await drag(from, to);
  expect(`${flight.name}: a drag zooms every chart to one stretch`, shown.views.length, 1);
  const [a, b] = shown.views[0].split('-').map(Number);
  expect(`${flight.name}: the stretch ${a} to ${b} is the drag's`, Math.abs(a - from) <= flight.step && Math.abs(b - to) <= flight.step, true);
  expect(`${flight.name}: the track shows the stretch`, shown.stretch.length > 0, flight.hasTrack);
  const peak = await charts[0].evaluate((svg) => {
    const ticks = [...svg.querySelectorAll('text.tick[text-anchor="end"]')].map((t) => [Number(t.textContent), Number(t.getAttribute('y')) - 4]);
    const [[v0, y0], [v1, y1]] = [ticks[0], ticks[ticks.length - 1]];
    const ys = svg.querySelector('path[data-series="baro"]').getAttribute('d').split(/[ML]/).filter(Boolean).map((p) => Number(p.split(' ')[1]));
    return { top: v0 + (Math.min(...ys) - y0) * (v1 - v0) / (y1 - y0), perPixel: Math.abs((v1 - v0) / (y1 - y0)) };
  });
  const inView = flight.records.filter((r, k) => T[k] >= a && T[k] <= b).map((r) => Number(r.baro));
  expect(`${flight.name}: the zoomed barogram keeps its peak, ${Math.max(...inView)} m`,
    Math.abs(peak.top - Math.max(...inView)) <= peak.perPixel / 5, true);
  // In a stretch of seconds per pixel, the pointer at a record's time gives exactly that record.
  shown = await drag(flight.first + 0.5 * span, flight.first + 0.5 * span + 120);
  const [c, d] = shown.views[0].split('-').map(Number);
  for (const k of [T.findIndex((t) => t >= c) + 3, T.findIndex((t) => t >= (c + d) / 2) + 1]) {
    const p = await at(charts[2], T[k]);
    await page.mouse.move(p.x, p.y);
    expect(`${flight.name}: the pointer at record ${k}'s time shows record ${k}`, isRecord(flight, await state(page), 'zoomed'), k);
  }
  await page.click('#readout button');
  shown = await state(page);
  expect(`${flight.name}: the button goes back to the whole flight`, [shown.views, shown.stretch], [[whole], '']);
  await drag(from, to);
  await page.keyboard.press('Escape');
  expect(`${flight.name}: Escape goes back to the whole flight`, (await state(page)).views, [whole]);
}

// Each limit's line lies at its value on the chart's own scale, a shaded
// stretch begins at each stretch over it, and each link of the list puts
// the cursor at the stretch's start.
async function limits(page, flight) {
  const drawn = await page.evaluate(() => {
    const scale = (svg) => {
      const ticks = [...svg.querySelectorAll('text.tick[text-anchor="end"]')].map((t) => [Number(t.textContent),
        Number(t.getAttribute('y')) - 4]);
      const [[v0, y0], [v1, y1]] = [ticks[0], ticks[ticks.length - 1]];
      return (y) => v0 + (y - y0) * (v1 - v0) / (y1 - y0);
    };
    const time = (svg, x) => Number(svg.dataset.from) + (x - svg.dataset.left) / svg.dataset.width * (svg.dataset.to - svg.dataset.from);
    return {
      lines: Object.fromEntries([...document.querySelectorAll('svg.chart line.limit')].map((l) => [l.dataset.limit,
        Math.round(scale(l.closest('svg'))(Number(l.getAttribute('y1'))))])),
      shaded: [...document.querySelectorAll('svg.chart rect.over')].map((r) => [r.dataset.limit,
        Math.round(time(r.closest('svg'), Number(r.getAttribute('x'))))]),
      links: [...document.querySelectorAll('a.exceedance')].map((a) => [a.dataset.limit, Number(a.dataset.t)]),
    };
  });
  expect(`${flight.name}: the limits' lines at their values`, drawn.lines, flight.limits);
  expect(`${flight.name}: a link for each stretch over a limit`, drawn.links, flight.stretches);
  const near = (a, b) => a.length === b.length && a.every(([k, t], i) => k === b[i][0] && Math.abs(t - b[i][1]) <= flight.step + 1);
  const sorted = (list) => [...list].sort((a, b) => a[1] - b[1]);
  expect(`${flight.name}: a shaded stretch where each begins`, near(sorted(drawn.shaded), flight.stretches), true);
  for (const [k, link] of (await page.$$('a.exceedance')).entries()) {
    await link.click();
    expect(`${flight.name}: link ${k} puts the cursor at its stretch`, (await state(page)).t, flight.stretches[k][1]);
  }
}

// On a phone: nothing wider than the screen, chart text 10 px high or more
// as drawn, charts tall enough to read; a tap sets the cursor, a pinch zooms.
async function phone(browser, file, name, flight) {
  const { page, noise } = await open(browser, file, { width: 375, height: 740, isMobile: true, hasTouch: true, deviceScaleFactor: 2 });
  const laid = await page.evaluate(() => ({
    width: document.documentElement.scrollWidth,
    smallest: Math.min(...[...document.querySelectorAll('svg text')].filter((t) => t.getBBox().width > 0).map((t) =>
      parseFloat(getComputedStyle(t).fontSize) * t.closest('svg').getScreenCTM().a)),
    lowest: Math.min(...[...document.querySelectorAll('svg.chart, svg.trend')].map((s) => s.getBoundingClientRect().height)),
  }));
  expect(`${name} on a phone: as wide as the screen`, laid.width, 375);
  expect(`${name} on a phone: chart text at least 10 px (${laid.smallest.toFixed(1)})`, laid.smallest >= 10, true);
  expect(`${name} on a phone: charts at least 100 px high`, laid.lowest >= 100, true);
  if (flight) {
    const charts = await chartsOf(page);
    await charts[1].evaluate((e) => e.scrollIntoView({ block: 'center' }));
    const p = await at(charts[1], flight.first + 0.6 * (flight.last - flight.first));
    await page.touchscreen.tap(p.x, p.y);
    const shown = await state(page);
    isRecord(flight, shown, 'a tap');
    expect(`${name} on a phone: the read-out in sight after a tap`, await page.$eval('#readout', (r) => {
      const box = r.getBoundingClientRect();
      return box.bottom > 0 && box.top < innerHeight && !r.querySelector('dl').hidden;
    }), true);
    expect(`${name} on a phone: still as wide as the screen with the read-out`,
      await page.evaluate(() => document.documentElement.scrollWidth), 375);
    const session = await page.createCDPSession();
    const touch = (type, xs) => session.send('Input.dispatchTouchEvent', { type, touchPoints: xs.map((x, id) => ({ x, y: p.y, id })) });
    await touch('touchStart', [p.x - 20, p.x + 20]);
    for (const spread of [40, 60, 80, 100])
      await touch('touchMove', [p.x - spread, p.x + spread]);
    await touch('touchEnd', []);
    const [a, b] = (await state(page)).views[0].split('-').map(Number);
    expect(`${name} on a phone: a pinch zooms in about fivefold`, Math.abs((flight.last - flight.first) / (b - a) - 5) < 1, true);
  }
  await page.screenshot({ path: path.join(shots, name + '-phone.png'), fullPage: true });
  expect(`${name} on a phone: no error`, noise, []);
  await page.close();
}

// As printed on A4 by chromium, read back with pdftotext: no read-out
// without a cursor, each heading on the page of what it heads, each chart
// whole on one page with its caption, the figures, the charts and the track.
// Space of several heights above it moves the page breaks through the page.
async function printed(browser, flight) {
  const { page } = await open(browser, flight.page);
  // Each chart's title over it and the end of its caption under it ("GPS altitude (m, time in UTC)").
  const charts = await page.$$eval('svg.chart', (s) => s.map((svg) => {
    const caption = svg.closest('figure').querySelector('figcaption');
    return [svg.querySelector('.chart-title').textContent,
      (caption.lastChild.previousSibling.textContent + caption.lastChild.textContent).replace(/\s+/g, ' ').trim()];
  }));
  const pdf = path.join(os.tmpdir(), `kxprint-${process.pid}.pdf`);
  for (const top of [0, 20, 40, 60, 80, 100, 120, 140]) {
    await page.evaluate((mm) => {
      const space = document.getElementById('space') || document.body.insertBefore(document.createElement('div'), document.body.firstChild);
      space.id = 'space';
      space.style.height = mm + 'mm';
    }, top);
    await page.pdf({ path: pdf, format: 'A4' });
    const pages = execFileSync('pdftotext', [pdf, '-']).toString().split('\f').map((p) => p.replace(/\s+/g, ' ').trim())
      .filter(Boolean);
    const pageOf = (text) => pages.findIndex((p) => p.includes(text));
    const what = `${flight.name} printed with ${top} mm more above`;
    expect(`${what}: each chart on one page with its caption`, charts.filter(([title, caption]) =>
      pageOf(title) < 0 || pageOf(title) !== pageOf(caption)), []);
    expect(`${what}: no page ends with a heading`, pages.filter((p) =>
      ['Figures', 'Limits', 'Charts', 'Track'].some((h) => p.endsWith(h))).length, 0);
    expect(`${what}: the figures, the charts, the track, and no empty read-out`,
      ['Flight (UTC start)', 'Barogram', 'Takeoff: green circle', 'Time (UTC)'].map((t) => pageOf(t) >= 0), [true, true, true, false]);
    if (top === 0)
      expect(`${what}: on a few pages (${pages.length})`, pages.length <= 4, true);
  }
  fs.rmSync(pdf);
  await page.close();
}

async function flightPage(browser, flight) {
  const { page, noise } = await open(browser, flight.page);
  const series = await page.$$eval('svg.chart path.series', (ps) => ps.map((p) => ({
    name: p.dataset.series, first: Number(p.dataset.first), last: Number(p.dataset.last), drawn: p.getAttribute('d').length > 0,
  })));
  expect(`${flight.name}: the charts' series with their first and last times`, series, flight.series);
  const figures = await page.$$eval('table.figures tr', (rows) => Object.fromEntries(rows.map((r) =>
    [r.querySelector('th').textContent, r.querySelector('td').textContent])));
  expect(`${flight.name}: the figures are the logbook row`, figures, flight.figures);
  const track = await page.$$eval('svg.track path.series', (ps) => ps.map((p) => p.getAttribute('d')));
  expect(`${flight.name}: a track only with positions, never to 0/0`, track.length, flight.hasTrack ? 1 : 0);
  await cursor(page, flight);
  await keyboard(page, flight);
  await limits(page, flight);
  await accessible(page, flight.name);
  await zoom(page, flight);
  await page.screenshot({ path: path.join(shots, flight.name + '.png'), fullPage: true });
  expect(`${flight.name}: nothing but the page itself, no error`, noise, []);
  await page.close();
}

// The flights sorted by a column both ways, and filtered, as Python's csv module read them.
async function sortAndFilter(page) {
  const names = () => page.$$eval('table.flights tbody tr', (rows) => rows.filter((r) => !r.hidden).map((r) => r.querySelector('th').textContent));
  for (const [column, wanted] of Object.entries(plan.sorted.sorting))
    for (const way of ['ascending', 'descending']) {
      await page.evaluate((c) => [...document.querySelectorAll('table.flights thead th')].find((h) => h.textContent === c)
        .querySelector('button').click(), column);
      const sort = await page.$$eval('table.flights thead th[aria-sort]', (hs) => hs.map((h) => [h.textContent, h.getAttribute('aria-sort')]));
      expect(`index: sorted by ${column}, ${way}`, [await names(), sort], [wanted[way], [[column, way]]]);
    }
  for (const filter of plan.sorted.filters) {
    for (const field of ['aircraft', 'year', 'month'])
      await page.select(`.filter select[name=${field}]`, filter[field] || '*');
    await page.$eval('.filter input', (i) => { i.value = ''; });
    await page.type('.filter input', filter.text || '');
    expect(`index: filtered by ${JSON.stringify(filter)}`, await names(), filter.names);
  }
}

async function indexPage(browser) {
  const { page, noise } = await open(browser, plan.index);
  const links = await page.$$eval('a[href]', (as) => as.map((a) => a.getAttribute('href')));
  const folder = path.dirname(plan.index);
  expect('index: links only to files that are there', links.filter((l) => !fs.existsSync(path.join(folder, l))), []);
  expect('index: a link to every page', links.filter((l) => l.endsWith('.html')).length, plan.pages);
  const totals = await page.$$eval('table.totals tbody tr', (rows) => Object.fromEntries(rows.map((r) =>
    [r.dataset.period, [...r.querySelectorAll('td')].map((c) => c.textContent)])));
  expect('index: totals by month, year and in all are the logbook\'s sums by local date', totals, plan.totals);
  await sortAndFilter(page);
  for (const [aircraft, names] of Object.entries(plan.trends)) {
    const section = await page.$(`section.aircraft[data-aircraft="${aircraft}"]`);
    const dots = await section.$$eval('svg.trend', (svgs) => svgs.map((s) => {
      const first = s.querySelector('g.dots');
      return first ? first.querySelectorAll('circle').length : 0;
    }));
    expect(`index: ${aircraft}'s trends, a point for each flight`, dots.slice(0, 3), [names.length, names.length, names.length]);
    const chart = await section.$('svg.trend');
    await chart.evaluate((e) => e.scrollIntoView({ block: 'center' }));
    const box = await chart.boundingBox();
    await page.mouse.move(box.x + box.width * 0.9, box.y + box.height / 2);
    const shown = await section.evaluate((s) => s.getAttribute('data-flight'));
    expect(`index: ${aircraft}'s trend cursor names one of its flights`, names.includes(shown), true);
  }
  await accessible(page, 'index');
  await page.screenshot({ path: path.join(shots, 'index.png'), fullPage: true });
  expect('index: nothing but the page itself, no error', noise, []);
  await page.close();
}

(async () => {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'kxchromium-'));
  const browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    userDataDir: profile,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync'],
  });
  try {
    for (const flight of plan.flights)
      await flightPage(browser, flight);
    for (const flight of plan.flights.filter((f, k) => k === 0 || f.name === plan.nine)) {
      await phone(browser, flight.page, flight.name, flight);
      await printed(browser, flight);
    }
    await indexPage(browser);
    await phone(browser, plan.index, 'index');
  } finally {
    await browser.close();
    fs.rmSync(profile, { recursive: true, force: true });
  }
  for (const f of failures)
    console.log('FAILED: ' + f);
  console.log(`${failures.length ? 'not all' : 'all'} checks of the pages in chromium held`);
  process.exit(failures.length ? 1 : 0);
})().catch((e) => { console.log('FAILED: ' + (e.stack || e)); process.exit(1); });
