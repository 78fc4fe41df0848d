// The control page: drawn from the server's own tables (/api/panel, /api/catalogues), sending
// through the HTTP API, kept live by the events socket. Whatever the projector or the server
// says is put on screen as text (textContent), never as markup.
'use strict';

(() => {
  // The server ends a hold 300 ms after its last renewal; renewing well inside 100 ms keeps
  // a hold alive through a late timer or two.
  const renewMs = 80;
  const retryMs = [250, 500, 1000, 2000];

  const $ = (id) => document.getElementById(id);
  const make = (tag, className, text) => {
    const node = document.createElement(tag);
    if (className) node.className = className;
    if (text !== undefined) node.textContent = text;
    return node;
  };
  // A box of the panel's design, in twips; the wide layout places it, the narrow one ignores it.
  const place = (node, at) => {
    node.style.setProperty('--l', at.left);
    node.style.setProperty('--t', at.top);
    node.style.setProperty('--w', at.width);
    node.style.setProperty('--h', at.height);
  };

  let socket = null;
  let failures = 0;
  let held = null; // {action, timer}

  const note = (text) => { $('note').textContent = text; };
  const setLink = (text, down) => {
    $('link').textContent = text;
    document.body.classList.toggle('down', down);
  };

  // --- sending ------------------------------------------------------------------------------

  async function send(command) {
    try {
      const response = await fetch('/api/commands', {
        method: 'POST',
        headers: { 'Content-Type': 'application/json' },
        body: JSON.stringify({ command }),
        credentials: 'same-origin',
      });
      const answer = await response.json().catch(() => ({}));
      if (!response.ok) note(`${command}: ${answer.error || `refused (${response.status})`}`);
      else if (!answer.ok) note(`${command}: ${answer.error || 'no good answer'}`);
      else note('');
    } catch (error) {
      note(`${command}: the server cannot be reached`);
    }
  }

  function sendHold() {
    if (!held) return;
    if (socket && socket.readyState === WebSocket.OPEN) {
      socket.send(JSON.stringify({ type: 'hold', action: held.action }));
    } else {
      note('Not connected: the arrows repeat only while the page is connected');
    }
  }

  function startHold(action) {
    if (held && held.action === action) return;
    if (held) release();
    held = { action, timer: setInterval(sendHold, renewMs) };
    sendHold();
  }

  function release() {
    if (!held) return;
    clearInterval(held.timer);
    held = null;
    if (socket && socket.readyState === WebSocket.OPEN) socket.send(JSON.stringify({ type: 'release' }));
  }

  // --- the panel ----------------------------------------------------------------------------

  function arrowButton(button, node) {
    node.append(make('span', `arrow ${button.arrow}`));
    node.addEventListener('pointerdown', (event) => {
      event.preventDefault(); // no text selection, no focus steal mid-hold
      node.setPointerCapture(event.pointerId);
      node.classList.add('held');
      startHold(button.action);
    });
    const up = () => {
      node.classList.remove('held');
      release();
    };
    node.addEventListener('pointerup', up);
    node.addEventListener('pointercancel', up);
    node.addEventListener('lostpointercapture', up);
    node.addEventListener('contextmenu', (event) => event.preventDefault());
    // From the keyboard: the space bar or Enter holds the arrow as long as it is down.
    node.addEventListener('keydown', (event) => {
      if ((event.key === ' ' || event.key === 'Enter') && !event.repeat) {
        event.preventDefault();
        node.classList.add('held');
        startHold(button.action);
      }
    });
    node.addEventListener('keyup', (event) => {
      if (event.key === ' ' || event.key === 'Enter') up();
    });
    node.addEventListener('blur', up);
  }

  function buttonFor(button) {
    const node = make('button', `key ${button.kind}`);
    node.type = 'button';
    node.setAttribute('aria-label', button.name);
    node.dataset.action = button.action || button.kind;
    if (button.colour) node.style.setProperty('--face', button.colour);
    place(node, button.at);
    if (button.kind === 'hold') {
      arrowButton(button, node);
    } else {
      node.append(make('span', 'caption', button.caption));
      if (button.kind === 'console') {
        node.addEventListener('click', () => {
          $('console').scrollIntoView({ block: 'start' });
          $('items').focus();
        });
      } else {
        node.addEventListener('click', () => send(button.action));
      }
    }
    return node;
  }

  function drawPanel(panel) {
    document.title = panel.title;
    const root = document.documentElement.style;
    root.setProperty('--window', panel.colours.window);
    root.setProperty('--paper', panel.colours.transcript);
    const groups = new Map(panel.groups.map((group) => [group.title, group]));
    const sections = new Map();
    const buttons = $('buttons');
    let loose = null; // the run of buttons standing on the window that is being filled
    for (const button of panel.buttons) {
      let body;
      if (!button.group) {
        if (!loose) {
          loose = make('div', 'loose');
          buttons.append(loose);
        }
        body = loose;
      } else {
        loose = null;
        body = sections.get(button.group);
        if (!body) {
          const group = groups.get(button.group);
          const frame = make('div', 'group');
          frame.setAttribute('role', 'group');
          const title = make('span', group.centred ? 'title centred' : 'title', group.title);
          title.id = `group-${sections.size}`;
          frame.setAttribute('aria-labelledby', title.id);
          place(frame, group.at);
          place(title, group.title_at);
          if (group.background) frame.style.setProperty('--group', group.background);
          if (group.title_colour) frame.style.setProperty('--title', group.title_colour);
          if (button.group === 'Menu') frame.classList.add('cross');
          frame.append(title);
          buttons.append(frame);
          sections.set(button.group, frame);
          body = frame;
        }
      }
      body.append(buttonFor(button));
    }
  }

  // --- what the server tells -----------------------------------------------------------------

  function showPower(reading) {
    const words = reading && (reading.status || reading.value);
    $('power').textContent = words ? String(words).trim() : 'not read yet';
  }

  function showExchange(event) {
    const transcript = event.transcript || {};
    $('tx').textContent = transcript.tx || '';
    $('rx').textContent = transcript.rx || '';
    $('cr-legend').hidden = !transcript.cr_legend;
    $('space-legend').hidden = !transcript.space_legend;
    if (typeof transcript.status_box === 'string') $('status').textContent = transcript.status_box;
    const by = event.front_end === 'poll' ? 'the server\u2019s poll' : `${event.front_end} ${event.client}`;
    $('who').textContent = `${(event.result && event.result.command) || ''} from ${by}`;
  }

  function take(event) {
    switch (event.type) {
      case 'status':
        showPower(event.power);
        break;
      case 'reading':
        if (event.name === 'power') showPower(event);
        break;
      case 'exchange':
        showExchange(event);
        break;
      case 'line':
        setLink(event.answers ? 'Connected' : 'Connected; the projector does not answer', false);
        break;
      case 'hold_refused':
        release();
        note(`${event.action}: ${event.error}`);
        // The socket carries what its handshake carried: opened again, it brings the
        // password the browser has been given since (a click that asked for it).
        if (socket) socket.close();
        break;
      case 'error':
        note(event.error);
        break;
      default:
        break;
    }
  }

  function connect() {
    const scheme = location.protocol === 'https:' ? 'wss' : 'ws';
    socket = new WebSocket(`${scheme}://${location.host}/api/events`);
    socket.addEventListener('open', () => {
      failures = 0;
      setLink('Connected', false);
    });
    socket.addEventListener('message', (message) => {
      try {
        take(JSON.parse(message.data));
      } catch (error) {
        // Not JSON: nothing of ours.
      }
    });
    socket.addEventListener('close', () => {
      socket = null;
      if (held) {
        clearInterval(held.timer);
        held = null;
      }
      const wait = retryMs[Math.min(failures, retryMs.length - 1)];
      failures += 1;
      setLink('Connection lost: trying again…', true);
      setTimeout(connect, wait);
    });
  }

  // --- the console --------------------------------------------------------------------------

  let lists = [];
  let shown = 0;

  const commandOf = (text) => {
    const bracket = text.indexOf('[');
    return bracket < 0 ? text : text.slice(0, bracket);
  };

  function choose(item) {
    const list = lists[shown];
    $('entry').value = `${commandOf(item)}[CR]`;
    $('console-cr').hidden = false;
    if (!list.placeholders) return;
    const percent = item.indexOf('%');
    $('console-param').hidden = percent < 0;
    if (percent >= 0) {
      const entry = $('entry');
      entry.focus();
      const first = entry.value.indexOf('%');
      if (first >= 0) entry.setSelectionRange(first, first + 1);
    }
  }

  function fill() {
    const filter = $('filter').value.trim().toLowerCase();
    const select = $('items');
    select.replaceChildren();
    lists[shown].items.forEach((item, index) => {
      // Blanks as no-break spaces: a list box would run them together, and they line up the descriptions.
      if (!filter || item.toLowerCase().includes(filter)) select.append(new Option(item.replace(/ /g, '\u00a0'), String(index)));
    });
  }

  function showList(index) {
    shown = index;
    for (const [i, node] of [...$('lists').children].entries()) node.setAttribute('aria-pressed', String(i === index));
    fill();
    const select = $('items');
    if (select.options.length > 0) {
      select.selectedIndex = 0;
      choose(lists[shown].items[Number(select.value)]);
    }
  }

  function drawConsole(catalogues) {
    lists = catalogues.lists;
    lists.forEach((list, index) => {
      const node = make('button', 'list', list.title);
      node.type = 'button';
      node.addEventListener('click', () => showList(index));
      $('lists').append(node);
    });
    $('filter').addEventListener('input', fill);
    $('items').addEventListener('change', () => {
      const select = $('items');
      if (select.selectedIndex >= 0) choose(lists[shown].items[Number(select.value)]);
    });
    // The "%" digits are typed over, not in front of.
    $('entry').addEventListener('keydown', (event) => {
      const entry = event.target;
      if (!/^[0-9]$/.test(event.key) || event.ctrlKey || event.altKey || event.metaKey) return;
      const at = entry.selectionStart;
      if (at !== entry.selectionEnd || entry.value[at] !== '%') return;
      event.preventDefault();
      entry.value = entry.value.slice(0, at) + event.key + entry.value.slice(at + 1);
      entry.setSelectionRange(at + 1, at + 1);
    });
    const sendEntry = () => {
      $('console-cr').hidden = true;
      $('console-param').hidden = true;
      send(commandOf($('entry').value));
    };
    $('send').addEventListener('click', sendEntry);
    $('entry').addEventListener('keydown', (event) => {
      if (event.key === 'Enter') sendEntry();
    });
    showList(0);
  }

  // --- start --------------------------------------------------------------------------------

  async function fetchJson(path) {
    const response = await fetch(path, { credentials: 'same-origin', cache: 'no-store' });
    if (!response.ok) throw new Error(`${path}: ${response.status}`);
    return response.json();
  }

  document.addEventListener('visibilitychange', () => {
    if (document.hidden) release();
  });
  window.addEventListener('pagehide', release);

  Promise.all([fetchJson('/api/panel'), fetchJson('/api/catalogues')])
    .then(([panel, catalogues]) => {
      drawPanel(panel);
      drawConsole(catalogues);
      connect();
    })
    .catch((error) => setLink(`The page could not load its tables (${error.message})`, true));
})();
