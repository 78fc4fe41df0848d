#!/usr/bin/env node
// Pictures of tavo-server's control page for the README: at phone, tablet and desktop width,
// in the light and the dark theme, against the projector simulator on a pseudo-terminal.
//
//   node scripts/page-screenshots.js [BUILD_DIR]
//
// BUILD_DIR  where tavo-server and tavo-projector-sim were built (default: build); nothing is
//            built here. Uses Debian's Chromium and the npm packages of tests/browser
//            (scripts/bootstrap.sh installs both). Writes docs/page-<width>-<theme>.png.
'use strict';

const { spawn } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const root = path.resolve(__dirname, '..');
const puppeteer = require(path.join(root, 'tests/browser/node_modules/puppeteer-core'));
const build = path.resolve(process.argv[2] || path.join(root, 'build'));

const shots = [
  { name: 'phone', width: 360, height: 740, touch: true },
  { name: 'tablet', width: 768, height: 1024, touch: true },
  { name: 'desktop', width: 1366, height: 768, touch: false },
];

function start(file, args, announced) {
  const child = spawn(file, args, { stdio: ['ignore', 'pipe', 'pipe'] });
  let output = '';
  const found = new Promise((resolve, reject) => {
    const look = (chunk) => {
      output += chunk;
      const match = output.match(announced);
      if (match) resolve(match);
    };
    child.stdout.on('data', look);
    child.stderr.on('data', look);
    child.on('exit', (code) => reject(new Error(`${path.basename(file)} ended (${code}): ${output}`)));
  });
  return { child, found };
}

(async () => {
  const work = fs.mkdtempSync(path.join(os.tmpdir(), 'tavo-shots-'));
  const children = [];
  let browser;
  try {
    const sim = start(path.join(build, 'tools/projector_sim/tavo-projector-sim'), ['--pty', '--warmup', '0'], /PTY (\S+)/);
    children.push(sim.child);
    const [, device] = await sim.found;
    const server = start(path.join(build, 'tools/server/tavo-server'),
      ['-p', device, '--http', '127.0.0.1:0', '--pjlink', 'off', '--poll', '0', '--name', 'Room 101'],
      /listening on (127\.0\.0\.1:\d+) for HTTP/);
    children.push(server.child);
    const [, at] = await server.found;
    browser = await puppeteer.launch({
      executablePath: '/usr/bin/chromium',
      headless: true,
      userDataDir: path.join(work, 'profile'),
      args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking', '--hide-scrollbars'],
    });
    const page = await browser.newPage();
    for (const shot of shots) {
      for (const theme of ['light', 'dark']) {
        await page.emulateMediaFeatures([{ name: 'prefers-color-scheme', value: theme }]);
        await page.setViewport({ width: shot.width, height: shot.height, hasTouch: shot.touch, isMobile: shot.touch });
        await page.goto(`http://${at}/`, { waitUntil: 'load' });
        await page.waitForFunction(() => document.getElementById('link').textContent === 'Connected');
        // Something to show: the projector switched on, HDMI chosen, the lamp mode read.
        for (const name of ['Power On', 'HDMI', 'Lamp Mode', 'Status']) {
          await page.evaluate((label) => document.querySelector(`button[aria-label="${label}"]`).click(), name);
          await page.waitForFunction((label) => !document.querySelector(`button[aria-label="${label}"]`)
            .classList.contains('pending'), {}, name);
        }
        await page.waitForFunction(() => document.getElementById('input').textContent !== 'not read yet', { timeout: 3000 })
          .catch(() => {});
        // The buttons' own marks fade; the picture shows the page at rest.
        await page.evaluate(() => document.querySelectorAll('.key').forEach((node) => node.classList.remove('done')));
        const file = path.join(root, 'docs', `page-${shot.name}-${theme}.png`);
        await page.screenshot({ path: file });
        console.log(file);
      }
    }
  } finally {
    if (browser) await browser.close();
    for (const child of children.reverse()) child.kill('SIGTERM');
    fs.rmSync(work, { recursive: true, force: true });
  }
})().catch((error) => {
  console.error(`page-screenshots: ${error.message}`);
  process.exit(1);
});
