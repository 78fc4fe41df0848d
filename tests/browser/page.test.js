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

async function startServer(device, address, extra = []) {
  const started = startProgram(
    process.env.TAVO_SERVER,
    ['-p', device, '--http', address, '--pjlink', 'off', '--poll', '0', '--max-age', '0', ...extra],
    /listening on (127\.0\.0\.1:\d+) for HTTP/,
  );
  if (!extra.length) server = started.child;
  const [, at] = await started.found;
  return extra.length ? { child: started.child, at } : at;
}

function stopServer() {
  return new Promise((resolve) => {
    if (!server || server.exitCode !== null) return resolve();
    server.once('exit', resolve);
    server.kill('SIGTERM');
  });
}

// A page of its own at the given size, once its socket is up; it notes every CSP violation
// and every event its socket brings (window.events).
async function openPage({ width = 1280, height = 900, touch = false, at = base, linked = 'Connected' } = {}) {
  const page = await browser.open(`${at}/`, {
    width,
    height,
    touch,
    init: () => {
      window.cspReports = [];
      window.addEventListener('securitypolicyviolation', (event) =>
        window.cspReports.push(`${event.violatedDirective} ${event.blockedURI}`));
      window.events = [];
      const Socket = window.WebSocket;
      window.WebSocket = class extends Socket {
        constructor(...args) {
          super(...args);
          this.addEventListener('message', (message) => window.events.push(JSON.parse(message.data)));
        }
      };
    },
  });
  await page.waitFor((text) => document.getElementById('link').textContent === text, linked);
  return page;
}

// The commands the simulator heard after the last `marker` in its log.
const heardSince = (marker) => {
  const all = heard().map((h) => h.command);
  return all.slice(all.lastIndexOf(marker) + 1);
};
const metric = async (name) => {
  const text = await (await fetch(`${base}/metrics`)).text();
  return Number((text.match(new RegExp(`^${name.replace(/[{}"]/g, '\\$&')} (\\S+)$`, 'm')) || [])[1]);
};

const button = (name) => `button[aria-label="${name}"]`;
const shows = (page, id, expected) =>
  page.waitFor((i, e) => document.getElementById(i).textContent === e, id, expected);

before(async () => {
  const sim = startProgram(
    process.env.TAVO_PROJECTOR_SIM,
    ['--pty', '--log', lineLog, '--log-times', '--wire-log', wireLog, '--answer', `CR LAMPSTS=${hostile}`,
      '--answer', 'C43=?', '--warmup', '600000'],
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

test('Unlock, then a first hold: the password goes to /api/session, the hold and the changes ride on its cookie', async () => {
  const log = path.join(work, 'locked.log');
  const passwordFile = path.join(work, 'password');
  fs.writeFileSync(passwordFile, 'letmein\n', { mode: 0o600 });
  const sim = startProgram(process.env.TAVO_PROJECTOR_SIM, ['--pty', '--log', log, '--log-times'], /PTY (\S+)/);
  const [, device] = await sim.found;
  const locked = await startServer(device, '127.0.0.1:0', ['--http-password-file', passwordFile]);
  const commands = () => (fs.existsSync(log) ? fs.readFileSync(log, 'latin1') : '').split('\n').filter(Boolean)
    .map((line) => line.slice(line.indexOf(' ') + 1));
  const after = (marker) => commands().slice(commands().lastIndexOf(marker) + 1);
  try {
    const page = await openPage({ at: `http://${locked.at}` });
    await page.click(button('Status'));
    await page.waitFor(() => !document.getElementById('unlock').hidden);
    const hellos = () => page.evaluate(() => window.events.filter((event) => event.type === 'status').length);
    const socketsBefore = await hellos();
    await page.click('#unlock-open');
    await page.type('#password', 'letmein');
    await page.click('#unlock button[type="submit"]');
    await shows(page, 'said', 'Unlocked');
    await until('the socket open again, with the session', async () => await hellos() > socketsBefore);
    assert.equal(await page.evaluate(() => document.cookie), '', 'the session is out of scripts\' reach');
    assert.equal(await page.evaluate(() => document.getElementById('password').value), '');

    // Judged by order, as the held arrow's case below: nothing of it after the server has ended it.
    await page.press(button('Volume up'));
    await until('two repeats', () => commands().filter((command) => command === 'C09').length >= 2);
    await page.release();
    await page.waitFor(() => window.events.some((event) => event.type === 'hold_ended'));
    await page.click(button('Status'));
    await until('the status after the release', () => after('C09').includes('CR0'));
    assert.deepEqual(after('CR0').filter((command) => command === 'C09'), []);
    assert.equal(await page.evaluate(() => document.querySelectorAll('.refused').length), 0);
    await page.close();
  } finally {
    locked.child.kill('SIGTERM');
    sim.child.kill('SIGTERM');
  }
});

test('a held arrow repeats until the release, and nothing of it goes out after the server ends it', async (t) => {
  // Judged by order, not by time: once the server has said the hold ended (or the page's
  // socket is gone), a command sent after that must be the last thing on the line.
  const page = await openPage();
  const start = heard().length;
  await page.press(button('Volume up'));
  await until('two repeats', () => heard().slice(start).filter((h) => h.command === 'C09').length >= 2);
  await page.release();
  await page.waitFor(() => window.events.some((event) => event.type === 'hold_ended'));
  await page.click(button('Status'));
  await until('the status after the release', () => heardSince('C09').includes('CR0'));
  assert.deepEqual(heardSince('CR0').filter((command) => command === 'C09'), []);

  // A finger on a phone holds the same way; the page then goes away with the finger down.
  if (browser.lacks.touch) t.diagnostic(`the mouse holds in place of a finger: ${browser.lacks.touch}`);
  const phone = await openPage({ width: 360, height: 640, touch: true });
  const sockets = await metric('tavo_clients{front_end="events"}');
  const from = heard().length;
  await phone.press(button('Volume down'));
  await until('three repeats', () => heard().slice(from).filter((h) => h.command === 'C0A').length >= 3);
  await phone.close();
  await until('the page\'s socket to close', async () => await metric('tavo_clients{front_end="events"}') < sockets);
  await page.click(button('Status'));
  await until('the status after the close', () => heardSince('C0A').includes('CR0'));
  assert.deepEqual(heardSince('CR0').filter((command) => command === 'C0A'), []);
  await page.close();
});

test('each width has its layout: phones the tasks first, tablets a grid of targets that do not touch; axe finds nothing', async (t) => {
  const axe = fs.readFileSync(require.resolve('axe-core/axe.min.js'), 'utf8');
  const audit = async (page, where) => {
    await page.evaluate(axe); // the test's own copy: the server never serves it
    const violations = await page.evaluate(async () => (await window.axe.run(document)).violations
      .map((v) => `${v.id} (${v.impact}): ${v.nodes.map((n) => n.target.join(' ')).join(', ')}`));
    assert.deepEqual(violations, [], where);
  };
  // Every control in view, with its box; none may be smaller than `least` or overlap another.
  const crowded = (page, least) => page.evaluate((smallest) => {
    const boxes = [...document.querySelectorAll('button, input, summary, [role="listbox"]')]
      .map((node) => [node.getAttribute('aria-label') || node.id || node.textContent.trim(), node.getBoundingClientRect()])
      .filter(([, box]) => box.width > 0);
    const faults = boxes.filter(([, box]) => box.height < smallest || box.width < smallest)
      .map(([name, box]) => `${name} ${Math.round(box.width)}x${Math.round(box.height)}`);
    boxes.forEach(([name, a], i) => boxes.slice(i + 1).forEach(([other, b]) => {
      if (a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom) faults.push(`${name} on ${other}`);
    }));
    return faults;
  }, least);

  // A finger's targets where the engine can be told it is on a touch screen (Chromium here);
  // elsewhere the page sizes them for a mouse, and they must still fit without overlapping.
  if (browser.lacks.touchScreen) t.diagnostic(`targets for a mouse at phone width: ${browser.lacks.touchScreen}`);
  const finger = browser.lacks.touchScreen ? 24 : 44;
  const phone = await openPage({ width: 360, height: 640, touch: true });
  assert.ok(await phone.evaluate(() => document.documentElement.scrollWidth <= window.innerWidth), 'sideways scroll');
  assert.deepEqual(await crowded(phone, finger), []);
  const firstScreen = await phone.evaluate(() => [...document.querySelectorAll('.card')]
    .filter((card) => card.getBoundingClientRect().bottom <= window.innerHeight)
    .map((card) => card.querySelector('h2').firstChild.textContent));
  assert.deepEqual(firstScreen, ['Power', 'Input', 'Volume']);
  assert.equal(await phone.evaluate(() => document.querySelector('#details').open), false);
  // One live region, for the user's own results: nothing else reads out what the poll brings.
  assert.deepEqual(await phone.evaluate(() => [...document.querySelectorAll(
    '[aria-live], [role="status"], [role="log"], [role="alert"], output')].map((node) => node.id)), ['said']);
  // No group says again what its card or its one button says.
  assert.deepEqual(await phone.evaluate(() => [...document.querySelectorAll('.group .title')]
    .filter((title) => title.closest('.card').querySelector('h2').firstChild.textContent === title.textContent ||
      [...title.parentNode.querySelectorAll('button')].map((b) => b.textContent).join() === title.textContent)
    .map((title) => title.textContent)), []);
  await audit(phone, 'at 360 px');
  await phone.close();

  const tablet = await openPage({ width: 768, height: 1024, touch: true });
  assert.deepEqual(await crowded(tablet, finger), []);
  await audit(tablet, 'at 768 px');
  await tablet.close();

  const wide = await openPage({ width: 1366, height: 768 });
  assert.deepEqual(await crowded(wide, 24), []);
  const [cards, details] = await wide.evaluate(() => ['#cards', '#details']
    .map((id) => document.querySelector(id).getBoundingClientRect()).map((box) => [box.left, box.right, box.top]));
  assert.ok(details[0] >= cards[1] && details[2] < 100, `the details beside the cards: ${cards} ${details}`);
  await audit(wide, 'at 1366 px');
  // The dark theme: its rules applied as the browser would in a dark room, then the contrast.
  await wide.evaluate(() => {
    const sheet = [...document.styleSheets].find((each) => each.href && each.href.endsWith('/panel.css'));
    const dark = [...sheet.cssRules].filter((rule) => rule.media && rule.media.mediaText.includes('dark'));
    for (const rule of dark) for (const inner of rule.cssRules) sheet.insertRule(inner.cssText, sheet.cssRules.length);
  });
  assert.equal(await wide.evaluate(() => getComputedStyle(document.documentElement).backgroundColor), 'rgb(18, 18, 18)');
  await audit(wide, 'dark, at 1366 px');
  await wide.close();
});

test('the controls show the projector\'s state and what became of each press, at phone width without scrolling', async () => {
  const page = await openPage({ width: 360, height: 640, touch: !browser.lacks.touch });
  await page.click(button('Power On'));
  // The server reads the power state again once the command is acknowledged.
  await shows(page, 'phase', 'Warming up');
  assert.equal(await page.attribute(button('Power On'), 'aria-pressed'), 'true');
  assert.equal(await page.attribute(button('Power Off'), 'aria-pressed'), 'false');
  assert.ok(await page.evaluate(() => window.scrollY === 0 &&
    document.getElementById('phase').getBoundingClientRect().bottom <= window.innerHeight), 'the phase out of view');

  // Refused: on the button and in the bar, in words, until a success clears it.
  await page.click(button('Freeze On'));
  await page.waitFor((b) => document.querySelector(b).classList.contains('refused'), button('Freeze On'));
  assert.match(await page.text('#message'), /freeze-on: .*refused/);
  assert.match(await page.text('#said'), /freeze-on/);
  await page.click(button('Status'));
  await page.waitFor(() => document.getElementById('message').hidden);
  await page.close();
});

test('a projector that does not answer shows in the bar, with how long', async () => {
  const sim = startProgram(process.env.TAVO_PROJECTOR_SIM, ['--pty', '--silent'], /PTY (\S+)/);
  const [, device] = await sim.found;
  const silent = await startServer(device, '127.0.0.1:0', ['--name', 'Room <b>9</b>']);
  try {
    const page = await openPage({ at: `http://${silent.at}` });
    assert.equal(await page.evaluate(() => document.title), 'Room <b>9</b> \u2013 control');
    assert.equal(await page.text('#name'), 'Room <b>9</b>');
    await page.click(button('Status'));
    await page.waitFor(() => /^The projector is not answering \(for \d+ s\)$/.test(document.getElementById('link').textContent));
    await page.close();
  } finally {
    silent.child.kill('SIGTERM');
    sim.child.kill('SIGTERM');
  }
});

test('the console: the arrows walk the list, and what cannot go is refused on the page', async () => {
  const page = await openPage({ width: 800, height: 900 });
  const focusList = () => page.evaluate(() => document.getElementById('items').focus());
  await focusList();
  for (let i = 0; i < 3; i += 1) await page.key('ArrowDown');
  assert.equal(await page.evaluate(() => document.activeElement.id), 'items');
  assert.equal(await page.text('#items [aria-selected="true"]'), await page.evaluate(() =>
    document.querySelectorAll('#items li')[3].textContent));
  await page.click('#lists button:nth-child(2)'); // the expanded list: its items have "%"
  await focusList();
  const sent = heard().length;
  while (!(await page.evaluate(() => document.getElementById('entry').value.includes('%')))) await page.key('ArrowDown');
  assert.equal(await page.evaluate(() => document.activeElement.id), 'items');
  await page.click('#send');
  assert.match(await page.text('#note'), /"%"/);
  await page.evaluate(() => { document.getElementById('entry').value = ''; });
  await page.type('#entry', 'cr0');
  await page.click('#send');
  assert.match(await page.text('#note'), /capitals/);
  assert.equal(heard().length, sent, 'nothing went to the projector');
  await page.type('#filter', 'no such command');
  await page.waitFor(() => !document.getElementById('none').hidden);
  await page.close();
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

  // The files and tables go deflated to a client that takes it, and a client that has them
  // already is told so (304) rather than sent them again.
  for (const file of ['/page/panel.js', '/api/catalogues']) {
    const first = await fetch(`${base}${file}`, { headers: { 'Accept-Encoding': 'deflate' } });
    assert.equal(first.headers.get('content-encoding'), 'deflate', file);
    assert.ok((await first.text()).length > 1000, file); // undone by fetch itself
    const again = await fetch(`${base}${file}`,
      { headers: { 'Accept-Encoding': 'identity', 'If-None-Match': first.headers.get('etag') } });
    assert.equal(again.status, 200, 'another encoding is another file');
    const same = await fetch(`${base}${file}`,
      { headers: { 'Accept-Encoding': 'deflate', 'If-None-Match': first.headers.get('etag') } });
    assert.equal(same.status, 304, file);
  }

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
