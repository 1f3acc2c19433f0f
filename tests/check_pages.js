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
async function open(browser, file) {
  const page = await browser.newPage();
  await page.emulateTimezone(plan.timezone);
  await page.setViewport({ width: 1000, height: 900 });
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

// Moves the pointer over each chart at a few places and compares the
// read-out with the record it names; the cursor stands on every chart.
async function cursor(page, flight) {
  const charts = await page.$$('svg.chart');
  for (const [k, chart] of charts.entries()) {
    await chart.evaluate((e) => e.scrollIntoView({ block: 'center' }));
    const box = await chart.boundingBox();
    for (const f of [0.02, 0.37, 0.81]) {
      // the plot spans 64..864 of the chart's 880 units
      await page.mouse.move(box.x + box.width * (64 + 800 * f) / 880, box.y + box.height / 2);
      const shown = await page.evaluate(() => {
        const cells = {};
        document.querySelectorAll('#readout td[data-field]').forEach((c) => { cells[c.dataset.field] = c.textContent; });
        const xs = [...document.querySelectorAll('line.cursor')].map((l) => [l.getAttribute('x1'), l.style.visibility]);
        return { t: document.getElementById('readout').getAttribute('data-t'), cells, xs };
      });
      const record = flight.records[shown.t];
      expect(`${flight.name}: chart ${k} at ${f}: the read-out names a record of the flight`, record !== undefined, true);
      if (!record)
        continue;
      const want = Math.round(flight.first + f * (flight.last - flight.first));
      expect(`${flight.name}: chart ${k} at ${f}: the record is near the pointer's time`,
        Math.abs(Number(shown.t) - want) <= flight.step, true);
      expect(`${flight.name}: chart ${k} at ${f}: the record's values`, shown.cells, record);
      expect(`${flight.name}: chart ${k} at ${f}: one cursor on every chart`,
        new Set(shown.xs.map((x) => x.join())).size, 1);
    }
  }
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
    const d = JSON.parse(document.getElementById('kx-data').textContent);
    const time = (x) => d.t0 + (x - d.x0) / d.width * (d.t1 - d.t0);
    return {
      lines: Object.fromEntries([...document.querySelectorAll('line.limit')].map((l) => [l.dataset.limit,
        Math.round(scale(l.closest('svg'))(Number(l.getAttribute('y1'))))])),
      shaded: [...document.querySelectorAll('rect.over')].map((r) => [r.dataset.limit,
        Math.round(time(Number(r.getAttribute('x'))))]),
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
    const t = Number(await page.$eval('#readout', (r) => r.getAttribute('data-t')));
    expect(`${flight.name}: link ${k} puts the cursor at its stretch`, Math.abs(t - flight.stretches[k][1]) <= flight.step, true);
  }
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
  await limits(page, flight);
  await accessible(page, flight.name);
  await page.screenshot({ path: path.join(shots, flight.name + '.png'), fullPage: true });
  expect(`${flight.name}: nothing but the page itself, no error`, noise, []);
  await page.close();
}

async function indexPage(browser) {
  const { page, noise } = await open(browser, plan.index);
  const links = await page.$$eval('a[href]', (as) => as.map((a) => a.getAttribute('href')));
  const folder = path.dirname(plan.index);
  expect('index: links only to files that are there', links.filter((l) => !fs.existsSync(path.join(folder, l))), []);
  expect('index: a link to every page', links.filter((l) => l.endsWith('.html')).length, plan.pages);
  const totals = await page.$$eval('table.totals tbody tr', (rows) => Object.fromEntries(rows.map((r) =>
    [r.dataset.period, [...r.querySelectorAll('td')].map((c) => c.textContent)])));
  expect('index: totals by month, year and in all are the logbook\'s sums', totals, plan.totals);
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
    await page.mouse.move(box.x + box.width * (64 + 800 * 0.9) / 880, box.y + box.height / 2);
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
    await indexPage(browser);
  } finally {
    await browser.close();
    fs.rmSync(profile, { recursive: true, force: true });
  }
  for (const f of failures)
    console.log('FAILED: ' + f);
  console.log(`${failures.length ? 'not all' : 'all'} checks of the pages in chromium held`);
  process.exit(failures.length ? 1 : 0);
})().catch((e) => { console.log('FAILED: ' + (e.stack || e)); process.exit(1); });
