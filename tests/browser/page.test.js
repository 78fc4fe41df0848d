// tavo-server's control page in a real browser, against the server program and the projector
// simulator on a pseudo-terminal. The engine is TAVO_BROWSER's: chromium (the default), firefox
// or webkit, driven through ./engines.js; every case is written once for all three. What goes on
// the line is read from the simulator's log, timed by its monotonic clock, the clock
// process.hrtime reads.
//
// WebKit here is WebKitGTK's MiniBrowser, not Safari on an iPhone: it proves the engine's
// layout, script, events and socket, not iOS's touch handling or its native <select> popup.
'use strict';

const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { spawn } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { launch } = require('./engines');

const engine = process.env.TAVO_BROWSER || 'chromium';
const hostile = '<img src=x onerror=alert(1)>';

const now = () => Number(process.hrtime.bigint()) / 1e6; // ms, CLOCK_MONOTONIC

const work = fs.mkdtempSync(path.join(os.tmpdir(), 'tavo-page-'));
const lineLog = path.join(work, 'line.log');
const wireLog = path.join(work, 'wire.log');
let simulator;
let server;
let base;
let browser;

// Waits for `done()` to give something truthy, looking again every few milliseconds.
async function until(what, done, timeoutMs = 10000) {
  const deadline = now() + timeoutMs;
  for (;;) {
    const value = await done();
    if (value) return value;
    if (now() > deadline) throw new Error(`timed out waiting for ${what}`);
    await new Promise((resolve) => setTimeout(resolve, 5));
  }
}

// The commands the simulator heard, each with the time its CR arrived.
function heard() {
  const text = fs.existsSync(lineLog) ? fs.readFileSync(lineLog, 'latin1') : '';
  return text.split('\n').filter(Boolean).map((line) => {
    const space = line.indexOf(' ');
    return { at: Number(line.slice(0, space)), command: line.slice(space + 1) };
  });
}
const times = (command, from = 0) => heard().filter((h) => h.command === command && h.at >= from).map((h) => h.at);

function startProgram(file, args, announced) {
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

async function startServer(device, address) {
  const started = startProgram(
    process.env.TAVO_SERVER,
    ['-p', device, '--http', address, '--pjlink', 'off', '--poll', '0', '--max-age', '0'],
    /listening on (127\.0\.0\.1:\d+) for HTTP/,
  );
  server = started.child;
  const [, at] = await started.found;
  return at;
}

function stopServer() {
  return new Promise((resolve) => {
    if (!server || server.exitCode !== null) return resolve();
    server.once('exit', resolve);
    server.kill('SIGTERM');
  });
}

// A page of its own at the given size, once its socket is up; it notes every CSP violation.
async function openPage({ width = 1280, height = 900, touch = false } = {}) {
  const page = await browser.open(`${base}/`, {
    width,
    height,
    touch,
    init: () => {
      window.cspReports = [];
      document.addEventListener('securitypolicyviolation', (event) =>
        window.cspReports.push(`${event.violatedDirective} ${event.blockedURI}`));
    },
  });
  await page.waitFor(() => document.getElementById('link').textContent === 'Connected');
  return page;
}

const button = (name) => `button[aria-label="${name}"]`;
const shows = (page, id, expected) =>
  page.waitFor((i, e) => document.getElementById(i).textContent === e, id, expected);

before(async () => {
  const sim = startProgram(
    process.env.TAVO_PROJECTOR_SIM,
    ['--pty', '--log', lineLog, '--log-times', '--wire-log', wireLog, '--answer', `CR LAMPSTS=${hostile}`],
    /PTY (\S+)/,
  );
  simulator = sim.child;
  const [, device] = await sim.found;
  simulator.device = device;
  base = `http://${await startServer(device, '127.0.0.1:0')}`;
  browser = await launch(engine, work);
});

after(async () => {
  if (browser) await browser.close();
  await stopServer();
  if (simulator) simulator.kill('SIGTERM');
  fs.rmSync(work, { recursive: true, force: true });
});

test('"Status" sends CR0 and CR, shows " Stand by", and a second page sees the same exchange', async () => {
  const first = await openPage();
  const second = await openPage();
  await first.click(button('Status'));
  await until('CR0 on the line', () => fs.readFileSync(wireLog, 'latin1').includes('CR0\r'));
  await shows(first, 'status', ' Stand by');
  await shows(second, 'status', ' Stand by');
  assert.equal(await second.text('#tx'), ' C R 0  [CR] ');
  assert.equal(await second.text('#rx'), ' 8 0  [CR] ');
  await first.close();
  await second.close();
});

test('holding an arrow repeats every 100 ms until the release, and closing the page mid-hold stops it', async (t) => {
  const page = await openPage();
  const pressed = now();
  await page.press(button('Volume up'));
  await new Promise((resolve) => setTimeout(resolve, 1000)); // the hold itself
  await page.release();
  const released = now();
  // Watched for the whole lease after the release: nothing may follow it.
  await until('the lease to pass', () => now() > released + 600);
  const sends = times('C09', pressed - 50);
  assert.ok(sends.length >= 8 && sends.length <= 14, `about 11 sends in 1 s, got ${sends.length}`);
  assert.ok(sends.at(-1) <= released + 300, `a send ${Math.round(sends.at(-1) - released)} ms after the release`);

  // A finger on a phone holds the same way; the page then goes away with the finger down.
  if (browser.lacks.touch) t.diagnostic(`the mouse holds in place of a finger: ${browser.lacks.touch}`);
  const phone = await openPage({ width: 360, height: 640, touch: !browser.lacks.touch });
  const start = now();
  await phone.press(button('Volume down'));
  await until('three repeats', () => times('C0A', start).length >= 3);
  const closed = now();
  await phone.close();
  await until('the lease to pass', () => now() > closed + 700);
  const last = times('C0A', start).at(-1);
  assert.ok(last <= closed + 300, `a send ${Math.round(last - closed)} ms after the page closed`);
  await page.close();
});

test('at phone width nothing scrolls sideways, targets take a finger, and axe finds nothing serious', async () => {
  const axe = fs.readFileSync(require.resolve('axe-core/axe.min.js'), 'utf8');
  for (const [width, height] of [[360, 640], [1280, 900]]) {
    const page = await openPage({ width, height, touch: width < 760 });
    if (width < 760) {
      const overflow = await page.evaluate(() => document.documentElement.scrollWidth - window.innerWidth);
      assert.ok(overflow <= 0, `${overflow} px to scroll sideways at ${width} px`);
      const small = await page.evaluate(() => [...document.querySelectorAll('button, select, input')]
        .map((node) => [node.getAttribute('aria-label') || node.id || node.textContent, node.getBoundingClientRect()])
        .filter(([, box]) => box.width < 44 || box.height < 44)
        .map(([name, box]) => `${name} ${Math.round(box.width)}x${Math.round(box.height)}`));
      assert.deepEqual(small, [], 'targets smaller than a finger');
    }
    await page.evaluate(axe); // the test's own copy: the server never serves it
    const violations = await page.evaluate(async () => (await window.axe.run(document)).violations
      .filter((v) => v.impact === 'serious' || v.impact === 'critical')
      .map((v) => `${v.id}: ${v.nodes.map((n) => n.target.join(' ')).join(', ')}`));
    assert.deepEqual(violations, [], `at ${width} px`);
    await page.close();
  }
});

test('a hostile reply shows as text, and the page takes nothing from anywhere else', async (t) => {
  const page = await openPage();
  await page.click(button('Lamp Status'));
  await shows(page, 'rx', ' < i m g _ s r c = x _ o n e r r o r = a l e r t ( 1 ) >  [CR] ');
  assert.equal(await page.evaluate(() => document.querySelectorAll('img').length), 0);
  assert.deepEqual(page.dialogs, []);
  assert.deepEqual(await page.evaluate(() => window.cspReports), []);

  const policy = (await fetch(`${base}/`)).headers.get('content-security-policy');
  assert.match(policy, /script-src 'self'/);
  assert.doesNotMatch(policy, /unsafe-inline|unsafe-eval/);

  // Everything the first load fetched came from the server, and its bodies fit in 100 KiB.
  const fresh = await openPage();
  const loaded = await fresh.waitFor(() => document.readyState === 'complete' &&
    performance.getEntriesByType('navigation').concat(performance.getEntriesByType('resource'))
      .map((entry) => [entry.name, entry.encodedBodySize]));
  assert.deepEqual(loaded.map(([url]) => url).filter((url) => !url.startsWith(`${base}/`)), []);
  const bytes = loaded.reduce((sum, [, size]) => sum + size, 0);
  t.diagnostic(`first load: ${loaded.length} files, ${bytes} bytes`);
  assert.ok(bytes > 0 && bytes <= 100 * 1024, `first load ${bytes} bytes`);
  await fresh.close();
  await page.close();
});

test('a page whose server goes away says so and picks up again when it is back', async () => {
  const page = await openPage();
  const address = base.slice('http://'.length);
  await stopServer();
  await page.waitFor(() => document.body.classList.contains('down'));
  assert.match(await page.text('#link'), /lost/);
  await startServer(simulator.device, address);
  await shows(page, 'link', 'Connected');
  await page.click(button('Status'));
  await shows(page, 'tx', ' C R 0  [CR] ');
  await page.close();
});
