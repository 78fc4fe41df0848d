// The control page's rows: a click in headless Chromium to its command on the line, one
// exchange fanned out to 50 events sockets, and the first load's bytes. tavo-server and the
// simulator on a pseudo-terminal, everything on loopback; the simulator's --log-times stamps
// each command's arrival on CLOCK_MONOTONIC, the clock process.hrtime reads here.
//
//   node bench/page.js SERVER SIMULATOR [CLICKS] [FANOUTS]
//
// Prints "key value" lines (times in microseconds).
'use strict';

const { spawn } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const modules = path.join(__dirname, '..', 'tests', 'browser', 'node_modules');
const puppeteer = require(path.join(modules, 'puppeteer-core'));
const WebSocket = require(path.join(modules, 'ws'));

const [serverProgram, simulatorProgram, clicksArg, fanoutsArg] = process.argv.slice(2);
const clicks = Number(clicksArg || 200);
const fanouts = Number(fanoutsArg || 50);
const streams = 50;

const now = () => Number(process.hrtime.bigint()) / 1e6;
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'tavo-page-bench-'));
const lineLog = path.join(work, 'line.log');
const children = [];

function start(file, args, announced) {
  const child = spawn(file, args, { stdio: ['ignore', 'pipe', 'pipe'] });
  children.push(child);
  let output = '';
  return new Promise((resolve, reject) => {
    const look = (chunk) => {
      output += chunk;
      const match = output.match(announced);
      if (match) resolve(match[1]);
    };
    child.stdout.on('data', look);
    child.stderr.on('data', look);
    child.on('exit', (code) => reject(new Error(`${file} ended (${code}): ${output}`)));
  });
}

function arrivals() {
  return fs.readFileSync(lineLog, 'latin1').split('\n').filter(Boolean).map((line) => Number(line.split(' ')[0]));
}

async function until(done, timeoutMs = 5000) {
  const deadline = now() + timeoutMs;
  while (!done()) {
    if (now() > deadline) throw new Error('timed out');
    await sleep(0.2);
  }
}

const percentile = (values, p) => {
  const sorted = [...values].sort((a, b) => a - b);
  return sorted[Math.min(sorted.length - 1, Math.ceil((p / 100) * sorted.length) - 1)];
};
const put = (key, value) => console.log(`${key} ${Math.round(value)}`);

(async () => {
  const device = await start(simulatorProgram, ['--pty', '--log', lineLog, '--log-times'], /PTY (\S+)/);
  const address = await start(
    serverProgram,
    ['-p', device, '--http', '127.0.0.1:0', '--pjlink', 'off', '--poll', '0', '--max-age', '0'],
    /listening on (127\.0\.0\.1:\d+) for HTTP/,
  );
  const base = `http://${address}`;
  const browser = await puppeteer.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    userDataDir: path.join(work, 'profile'),
    args: ['--no-sandbox', '--headless', '--disable-gpu', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', '--disable-quic'],
  });
  try {
    // The first load, every file and table the page fetches.
    const page = await browser.newPage();
    const client = await page.createCDPSession();
    await client.send('Network.enable');
    let bytes = 0;
    let requests = 0;
    client.on('Network.loadingFinished', (event) => {
      bytes += event.encodedDataLength;
      requests += 1;
    });
    await page.setViewport({ width: 1280, height: 900 });
    await page.goto(`${base}/`, { waitUntil: 'networkidle0' });
    await page.waitForFunction(() => document.getElementById('link').textContent === 'Connected');
    put('first_load_bytes', bytes);
    put('first_load_requests', requests);

    // A click on "Status" to CR0 on the line: from the mouse event sent to the browser to
    // the simulator's stamp. Each click waits for its exchange to end before the next.
    const status = await page.$('button[aria-label="Status"]');
    await status.scrollIntoView(); // its card may start below the first screen
    const box = await status.boundingBox();
    const x = box.x + box.width / 2;
    const y = box.y + box.height / 2;
    await page.mouse.move(x, y);
    const latencies = [];
    for (let i = 0; i <= clicks; i++) {
      const before = arrivals().length;
      await page.evaluate(() => { document.getElementById('tx').textContent = ''; });
      const clicked = now();
      await page.mouse.click(x, y);
      await until(() => arrivals().length > before);
      await page.waitForFunction(() => document.getElementById('tx').textContent !== '');
      if (i > 0) latencies.push((arrivals()[before] - clicked) * 1000); // the first warms up
    }
    put('click_to_line_median_us', percentile(latencies, 50));
    put('click_to_line_p99_us', percentile(latencies, 99));
    put('clicks', latencies.length);
    await page.close();

    // One exchange, 50 events sockets: from the command's arrival at the projector to the
    // moment the last socket has the exchange.
    const sockets = await Promise.all(Array.from({ length: streams }, () => new Promise((resolve, reject) => {
      const socket = new WebSocket(`ws://${address}/api/events`, { origin: base });
      socket.on('message', () => {
        if (!socket.ready) {
          socket.ready = true; // the status hello
          resolve(socket);
        }
      });
      socket.on('error', reject);
    })));
    const spreads = [];
    for (let i = 0; i <= fanouts; i++) {
      let received = 0;
      let last = 0;
      const got = new Promise((resolve) => {
        for (const socket of sockets) {
          socket.removeAllListeners('message');
          socket.on('message', (data) => {
            if (!String(data).includes('"type":"exchange"')) return;
            last = now();
            if (++received === streams) resolve();
          });
        }
      });
      const before = arrivals().length;
      await fetch(`${base}/api/commands`, {
        method: 'POST',
        headers: { 'Content-Type': 'application/json', Origin: base },
        body: JSON.stringify({ command: 'status' }),
      });
      await got;
      if (i > 0) spreads.push((last - arrivals()[before]) * 1000);
    }
    put('fanout_last_median_us', percentile(spreads, 50));
    put('fanout_last_p99_us', percentile(spreads, 99));
    put('fanout_streams', streams);
    put('fanouts', spreads.length);
    for (const socket of sockets) socket.close();
  } finally {
    await browser.close();
    for (const child of children) child.kill('SIGTERM');
    fs.rmSync(work, { recursive: true, force: true });
  }
})().catch((error) => {
  console.error(error);
  for (const child of children) child.kill('SIGTERM');
  process.exit(1);
});
