// How long headless chromium takes to load a flight's page from file:// and
// draw it: from the navigation's start to the second animation frame after
// the load event, best of several rounds in one browser.
//   NODE_PATH=tests/readers/node_modules node bench/pageload.js PAGE.html
'use strict';
const path = require('path');
const puppeteer = require('puppeteer-core');

(async () => {
  const page = path.resolve(process.argv[2]);
  const browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync'],
  });
  const times = [];
  for (let round = 0; round < 7; ++round) {
    const tab = await browser.newPage();
    await tab.setViewport({ width: 1100, height: 900 });
    await tab.goto('file://' + page, { waitUntil: 'load' });
    times.push(await tab.evaluate(() => new Promise((done) => requestAnimationFrame(() => requestAnimationFrame(() =>
      done(performance.now() - performance.getEntriesByType('navigation')[0].startTime))))));
    await tab.close();
  }
  await browser.close();
  times.sort((a, b) => a - b);
  console.log(`| loading and drawing ${path.basename(page)} in headless chromium | best ${times[0].toFixed(0)} ms, ` +
              `median ${times[3].toFixed(0)} ms |`);
})();
