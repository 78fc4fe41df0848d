// The few verbs a page test needs, the same in the three browser engines people reach the page
// with: Blink (Debian's Chromium), Gecko (Debian's Firefox ESR) and WebKit (WebKitGTK's
// MiniBrowser). Chromium and Firefox are driven by puppeteer-core (Firefox over WebDriver BiDi),
// WebKit by selenium-webdriver through WebKitWebDriver, on an Xvfb display of its own.
//
//   const { launch } = require('./engines');
//   const browser = await launch('chromium' | 'firefox' | 'webkit', workDir);
//   browser.engine, browser.version        'webkit', '2.50.6' ...
//   browser.lacks.touch                    why press() cannot put a finger down, or undefined
//   browser.lacks.touchScreen              why a page opened with touch is not told so (its
//                                          (pointer: coarse) rules do not apply), or undefined
//   const page = await browser.open(url, { width, height, touch, init });
//       width x height is the page's viewport in CSS pixels. touch: the page is on a touch
//       screen (see lacks.touchScreen) and press() puts a finger down (see lacks.touch). init: a
//       function run in the page's window before the page's own scripts; what it sets up goes
//       on window, not on document (WebKit runs it in the window before the page is loaded).
//   await page.click(selector)             waits for the element, scrolls to it, clicks it
//   await page.press(selector)             mouse button (or finger) down on it, and held
//   await page.release()                   ... and up again
//   await page.key(name)                   a key pressed and let go where the focus is
//                                          ('ArrowDown', 'Enter', 'a' ...)
//   await page.type(selector, text)        text typed into the element, key by key
//   await page.text(selector)              its textContent
//   await page.attribute(selector, name)   an attribute, or null
//   await page.evaluate(fn, ...args)       fn (or a script's source) in the page; a promise
//                                          it returns is awaited, args and result are JSON
//   await page.waitFor(fn, ...args)        until fn gives something truthy (10 s), returns it
//   await page.screenshot(file)            a PNG of the viewport
//   await page.close()
//   page.dialogs                           alert/confirm texts, each dismissed (WebKit: an
//                                          open dialog fails the next command, naming it)
//   await browser.close()
//
// One page is worked at a time: each verb brings its page to the front first (a page behind
// another draws no frames, and a click waits for one), but a page behind keeps its scripts
// and socket running. Selectors are CSS.
'use strict';

const { spawn } = require('node:child_process');
const fs = require('node:fs');
const net = require('node:net');
const path = require('node:path');

const binaries = {
  chromium: '/usr/bin/chromium',
  firefox: '/usr/bin/firefox-esr',
  webkitDriver: '/usr/bin/WebKitWebDriver',
  miniBrowser: '/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser',
};

const pause = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

async function poll(what, look, timeoutMs = 10000) {
  const deadline = Date.now() + timeoutMs;
  for (;;) {
    const value = await look();
    if (value) return value;
    if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}`);
    await pause(10);
  }
}

// The verbs every engine shares, written on top of evaluate().
class Page {
  constructor() {
    this.dialogs = [];
  }

  text(selector) {
    return this.evaluate((s) => { const n = document.querySelector(s); return n && n.textContent; }, selector);
  }

  attribute(selector, name) {
    return this.evaluate((s, a) => { const n = document.querySelector(s); return n && n.getAttribute(a); },
      selector, name);
  }

  waitFor(fn, ...args) {
    return poll(`${fn}`, () => this.evaluate(fn, ...args));
  }

  // The element's centre in the viewport, once it exists and has been scrolled into view.
  async centre(selector) {
    await this.waitFor((s) => document.querySelector(s) !== null, selector);
    return this.evaluate((s) => {
      const node = document.querySelector(s);
      node.scrollIntoView({ block: 'center', inline: 'center' });
      const box = node.getBoundingClientRect();
      return { x: Math.round(box.x + box.width / 2), y: Math.round(box.y + box.height / 2) };
    }, selector);
  }
}

// --- Chromium and Firefox: puppeteer-core --------------------------------------------------

class PuppeteerPage extends Page {
  constructor(page, touch) {
    super();
    this.page = page;
    this.touch = touch;
    page.on('dialog', (dialog) => {
      this.dialogs.push(dialog.message());
      dialog.dismiss().catch(() => {});
    });
  }

  evaluate(fn, ...args) {
    return this.page.evaluate(fn, ...args);
  }

  async click(selector) {
    await this.page.bringToFront();
    await (await this.page.waitForSelector(selector)).click();
  }

  async press(selector) {
    await this.page.bringToFront();
    const { x, y } = await this.centre(selector);
    if (this.touch) {
      this.finger = await this.page.touchscreen.touchStart(x, y);
    } else {
      await this.page.mouse.move(x, y);
      await this.page.mouse.down();
    }
  }

  async release() {
    if (this.finger) {
      await this.finger.end();
      this.finger = null;
    } else {
      await this.page.mouse.up();
    }
  }

  async key(name) {
    await this.page.bringToFront();
    await this.page.keyboard.press(name);
  }

  async type(selector, text) {
    await this.page.bringToFront();
    await this.page.type(selector, text);
  }

  async screenshot(file) {
    await this.page.bringToFront();
    await this.page.screenshot({ path: file });
  }

  close() {
    return this.page.close();
  }
}

async function launchPuppeteer(engine, workDir) {
  const puppeteer = require('puppeteer-core');
  const common = { headless: true, protocolTimeout: 30000, userDataDir: path.join(workDir, `${engine}-profile`) };
  const browser = engine === 'chromium'
    ? await puppeteer.launch({
      ...common,
      executablePath: binaries.chromium,
      // No name is looked up: Chromium would still ask for its account and update servers.
      args: ['--no-sandbox', '--headless', '--disable-gpu', '--no-first-run', '--disable-background-networking',
        '--disable-component-update', '--disable-sync', '--disable-quic', '--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1, EXCLUDE ::1'],
    })
    : await puppeteer.launch({
      ...common,
      browser: 'firefox',
      executablePath: binaries.firefox,
      // Firefox looks up its settings server whatever the profile says; through a proxy that is
      // not there, and no way round it, it neither looks up nor reaches any name (loopback
      // never goes through the proxy).
      extraPrefsFirefox: {
        'network.proxy.type': 1,
        'network.proxy.http': '127.0.0.1',
        'network.proxy.http_port': await freePort(),
        'network.proxy.ssl': '127.0.0.1',
        'network.proxy.ssl_port': await freePort(),
        'network.proxy.failover_direct': false,
        'network.proxy.allow_bypass': false,
        'network.dns.disablePrefetch': true,
      },
    });
  const version = (await browser.version()).replace(/^[^/]*\//, '');
  return {
    engine,
    version,
    lacks: engine === 'chromium' ? {} : {
      touchScreen: 'Firefox cannot be told a page is on a touch screen over WebDriver BiDi: ' +
        '(pointer: coarse) does not match and navigator.maxTouchPoints stays 0 (its touch input works)',
    },
    async open(url, { width = 1280, height = 900, touch = false, init } = {}) {
      const page = await browser.newPage();
      const wrapped = new PuppeteerPage(page, touch);
      if (init) await page.evaluateOnNewDocument(init);
      await page.setViewport({ width, height, hasTouch: touch, isMobile: touch && engine === 'chromium' });
      await page.goto(url, { waitUntil: 'load' });
      return wrapped;
    },
    close: () => browser.close(),
  };
}

// --- WebKit: WebKitGTK's MiniBrowser through WebKitWebDriver --------------------------------

function freePort() {
  return new Promise((resolve, reject) => {
    const probe = net.createServer();
    probe.once('error', reject);
    probe.listen(0, '127.0.0.1', () => {
      const { port } = probe.address();
      probe.close(() => resolve(port));
    });
  });
}

// Whatever this process started goes with it, however the test ends.
const children = new Set();
process.on('exit', () => children.forEach((child) => child.kill('SIGKILL')));

// Starts a program and resolves once `ready` (given the output so far) is true.
function startProgram(file, args, env, ready) {
  const child = spawn(file, args, { stdio: ['ignore', 'pipe', 'pipe'], env });
  children.add(child);
  child.on('exit', () => children.delete(child));
  let output = '';
  const started = new Promise((resolve, reject) => {
    const look = (chunk) => {
      output += chunk;
      const found = ready(output);
      if (found) resolve(found);
    };
    child.stdout.on('data', look);
    child.stderr.on('data', look);
    child.on('exit', (code) => reject(new Error(`${path.basename(file)} ended (${code}): ${output}`)));
  });
  started.catch(() => {}); // an end after the start is no failure of the start
  return { child, started };
}

function stopProgram(child) {
  return new Promise((resolve) => {
    if (!child || child.exitCode !== null || child.signalCode !== null) return resolve();
    child.once('exit', resolve);
    child.kill('SIGTERM');
  });
}

class WebDriverPage extends Page {
  constructor(browser, handle, touch) {
    super();
    this.browser = browser;
    this.driver = browser.driver;
    this.handle = handle;
    this.touch = touch;
  }

  // The window in front, as every WebDriver command works on the current one.
  async front() {
    if (this.browser.current !== this.handle) {
      await this.driver.switchTo().window(this.handle);
      this.browser.current = this.handle;
    }
  }

  async evaluate(fn, ...args) {
    await this.front();
    const body = typeof fn === 'function' ? `return (${fn}).apply(null, arguments);` : fn;
    return this.driver.executeScript(body, ...args);
  }

  async click(selector) {
    await this.front();
    await this.waitFor((s) => document.querySelector(s) !== null, selector);
    const { By } = require('selenium-webdriver');
    await this.driver.findElement(By.css(selector)).click();
  }

  // The mouse, on a touch page too (see lacks.touch).
  async press(selector) {
    await this.front();
    const { x, y } = await this.centre(selector);
    const { Origin, Button } = require('selenium-webdriver/lib/input');
    await this.driver.actions({ async: true }).move({ x, y, origin: Origin.VIEWPORT }).press(Button.LEFT).perform();
  }

  async release() {
    await this.front();
    const { Button } = require('selenium-webdriver/lib/input');
    await this.driver.actions({ async: true }).release(Button.LEFT).perform();
  }

  async key(name) {
    await this.front();
    const { Key } = require('selenium-webdriver');
    const named = { ArrowDown: Key.ARROW_DOWN, ArrowUp: Key.ARROW_UP, Enter: Key.ENTER, Home: Key.HOME, End: Key.END };
    await this.driver.actions({ async: true }).sendKeys(named[name] || name).perform();
  }

  async type(selector, text) {
    await this.front();
    const { By } = require('selenium-webdriver');
    await this.driver.findElement(By.css(selector)).sendKeys(text);
  }

  async screenshot(file) {
    await this.front();
    fs.writeFileSync(file, Buffer.from(await this.driver.takeScreenshot(), 'base64'));
  }

  async close() {
    await this.front();
    await this.driver.close();
    this.browser.current = this.browser.opener;
    await this.driver.switchTo().window(this.browser.opener);
  }
}

async function launchWebKit(workDir) {
  const { Builder } = require('selenium-webdriver');
  const xvfb = startProgram('/usr/bin/Xvfb', ['-displayfd', '1', '-screen', '0', '1600x1200x24', '-nolisten', 'tcp'],
    process.env, (output) => output.match(/^(\d+)\n/m));
  const [, display] = await xvfb.started;
  // MiniBrowser's toolbar, shrunk to nothing by a GTK style sheet of the test's own, so that
  // its window can be as narrow as a phone (the toolbar keeps it 447 px wide at least).
  const config = path.join(workDir, 'webkit-config');
  fs.mkdirSync(path.join(config, 'gtk-3.0'), { recursive: true });
  fs.writeFileSync(path.join(config, 'gtk-3.0', 'gtk.css'),
    '* { font-size: 1px; min-width: 0; min-height: 0; padding: 0; margin: 0; border-width: 0; ' +
    '-gtk-icon-transform: scale(0.1); }\n');
  // Drawn without accelerated compositing: on Xvfb that is GL in software, which costs the
  // page's own timers hundreds of milliseconds on a busy machine. Layout and events are the same.
  const env = {
    ...process.env, DISPLAY: `:${display}`, XDG_RUNTIME_DIR: workDir, XDG_CONFIG_HOME: config,
    WEBKIT_DISABLE_COMPOSITING_MODE: '1',
  };
  let driverProgram;
  try {
    const port = await freePort();
    driverProgram = startProgram(binaries.webkitDriver, [`--port=${port}`], env, () => false).child;
    const server = `http://127.0.0.1:${port}`;
    await poll('WebKitWebDriver', () => fetch(`${server}/status`).then((r) => r.ok, () => false));
    const driver = await new Builder().usingServer(server).withCapabilities({
      browserName: 'MiniBrowser',
      unhandledPromptBehavior: 'dismiss and notify',
      'webkitgtk:browserOptions': { binary: binaries.miniBrowser, args: ['--automation', '--javascript-can-open-windows-automatically=true'] },
    }).build();
    const capabilities = await driver.getCapabilities();
    const browser = {
      engine: 'webkit',
      version: capabilities.get('browserVersion'),
      lacks: {
        touch: "WebKitWebDriver on Linux delivers touch actions as mouse events, so press() holds the mouse; " +
          "iOS Safari's touch is not tested",
        touchScreen: 'WebKitGTK cannot be told it is on a touch screen: (pointer: coarse) never matches ' +
          'under WebDriver on Linux, unlike on an iPhone',
      },
      driver,
      opener: await driver.getWindowHandle(),
      current: null,
      // Each page is a window opened by the session's first one, which stays on an address of
      // the page's origin (a 404 there, which has no CSP). init goes into the new window before
      // it loads the page: a window that goes from its first blank document to a page of the
      // same origin keeps its Window object, so what init puts on window is there for the
      // page's scripts (what it puts on the blank document is not).
      async open(url, { width = 1280, height = 900, touch = false, init } = {}) {
        await driver.switchTo().window(this.opener);
        this.current = this.opener;
        const origin = new URL(url).origin;
        if ((await driver.getCurrentUrl()).indexOf(`${origin}/`) !== 0) await driver.get(`${origin}/.engines-opener`);
        const before = await driver.getAllWindowHandles();
        const opened = await driver.executeScript(`
          const page = window.open(arguments[0], '_blank', arguments[1]);
          if (!page) return 'the window was not opened';
          try { if (arguments[2]) page.eval('(' + arguments[2] + ')()'); } catch (error) { return String(error); }
          return 'opened';`, url, `popup,width=${width},height=${height}`, init ? `${init}` : '');
        if (opened !== 'opened') throw new Error(`WebKit: ${opened}`);
        const handle = await poll('the new window', async () =>
          (await driver.getAllWindowHandles()).find((each) => !before.includes(each)));
        const page = new WebDriverPage(this, handle, touch);
        await page.front();
        // The window's size is the viewport's plus whatever the browser draws around it.
        const window = driver.manage().window();
        for (let i = 0; i < 3; i += 1) {
          const inner = await page.evaluate(() => [window.innerWidth, window.innerHeight]);
          if (inner[0] === width && inner[1] === height) break;
          const rect = await window.getRect();
          await window.setRect({ width: rect.width + width - inner[0], height: rect.height + height - inner[1] });
        }
        await page.waitFor((address) => location.href === address && document.readyState === 'complete', url);
        return page;
      },
      async close() {
        await driver.quit().catch(() => {});
      },
    };
    const close = browser.close;
    browser.close = async () => {
      await close();
      await stopProgram(driverProgram);
      await stopProgram(xvfb.child);
    };
    return browser;
  } catch (error) {
    await stopProgram(driverProgram);
    await stopProgram(xvfb.child);
    throw error;
  }
}

async function launch(engine, workDir) {
  if (engine === 'chromium' || engine === 'firefox') return launchPuppeteer(engine, workDir);
  if (engine === 'webkit') return launchWebKit(workDir);
  throw new Error(`no such engine: ${engine}`);
}

module.exports = { launch };
