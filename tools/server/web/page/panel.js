// The control page: drawn from the server's own tables (/api/panel, /api/catalogues), sending
// action names through the HTTP API, kept live by the events socket. Whatever the projector
// or the server says is put on screen as text (textContent), never as markup.
'use strict';

(() => {
  // The server ends a hold 300 ms after its last renewal; renewing well inside 100 ms keeps
  // a hold alive through a late timer or two.
  const renewMs = 80;
  const retryMs = [250, 500, 1000, 2000];
  const sendTimeoutMs = 5000;
  const markMs = 1500; // how long a button shows what became of its press
  // Exchanges the server makes on its own: they update the readings, but the transcript and
  // the status box show what people asked for.
  const serversOwn = new Set(['poll', 'follow-up']);
  const powerWords = {
    on: 'On',
    standby: 'Standby',
    countdown: 'Warming up',
    cooling: 'Cooling down',
  };

  const $ = (id) => document.getElementById(id);
  const make = (tag, className, text) => {
    const node = document.createElement(tag);
    if (className) node.className = className;
    if (text !== undefined) node.textContent = text;
    return node;
  };

  let socket = null;
  let failures = 0;
  let reopening = false; // the socket is closed on purpose, to open again with a session
  let silentSince = null; // when the projector last answered, while it does not
  let silentTimer = null;
  const inputGroups = new Map(); // a group's title -> its node, for the input groups
  let powerOn = null;
  let powerOff = null;

  // --- what the user hears and sees --------------------------------------------------------

  // The one live region: the user's own results, politely.
  const say = (text) => { $('said').textContent = text; };
  const note = (text) => { $('note').textContent = text; };
  // A refusal or failure stays in the bar until the next success or reconnection.
  const complain = (text) => {
    $('message').textContent = text;
    $('message').hidden = false;
  };
  const clearComplaint = () => {
    $('message').hidden = true;
    $('message').textContent = '';
  };
  const setLink = (text, down) => {
    $('link').textContent = text;
    document.body.classList.toggle('down', down);
  };

  function mark(node, state) {
    if (!node) return;
    clearTimeout(node.markTimer);
    node.classList.remove('pending', 'done', 'refused');
    if (state) node.classList.add(state);
    if (state && state !== 'pending') node.markTimer = setTimeout(() => node.classList.remove(state), markMs);
  }

  // --- sending ------------------------------------------------------------------------------

  // A password is asked for: the Unlock control comes up, and the refusal says why.
  function needsPassword(why) {
    $('unlock').hidden = false;
    complain(`${why}: unlock with the password to change anything`);
  }

  async function send(command, node) {
    mark(node, 'pending');
    const abort = new AbortController();
    const timer = setTimeout(() => abort.abort(), sendTimeoutMs);
    let failure = '';
    try {
      const response = await fetch('/api/commands', {
        method: 'POST',
        headers: { 'Content-Type': 'application/json' },
        body: JSON.stringify({ command }),
        credentials: 'same-origin',
        signal: abort.signal,
      });
      const answer = await response.json().catch(() => ({}));
      if (response.status === 401) {
        mark(node, 'refused');
        needsPassword(`${command}: refused`);
        say(`${command}: refused, a password is needed`);
        return false;
      }
      if (!response.ok) failure = answer.error || `refused (${response.status})`;
      else if (!answer.ok) failure = answer.error || 'no good answer';
    } catch (error) {
      failure = abort.signal.aborted
        ? `no answer from the server within ${sendTimeoutMs / 1000} s`
        : 'the server cannot be reached';
    } finally {
      clearTimeout(timer);
    }
    if (failure) {
      mark(node, 'refused');
      complain(`${command}: ${failure}`);
      say(`${command}: ${failure}`);
      return false;
    }
    mark(node, 'done');
    clearComplaint();
    say(`${command}: done`);
    return true;
  }

  // --- held arrows --------------------------------------------------------------------------

  // Every pointer (or the keyboard) holding an arrow, in the order they came down. The server
  // holds one arrow per page: the last one pressed, and the one before when it is let go.
  const pressing = new Map(); // 'pointer 3' or 'keys' -> action
  let holding = null; // the action the server is told about
  let renewal = null;

  function sendHold() {
    if (!holding) return;
    if (socket && socket.readyState === WebSocket.OPEN) {
      socket.send(JSON.stringify({ type: 'hold', action: holding }));
    } else {
      note('Not connected: the arrows repeat only while the page is connected');
    }
  }

  function holdLatest() {
    const actions = [...pressing.values()];
    const latest = actions.length ? actions[actions.length - 1] : null;
    if (latest === holding) return;
    holding = latest;
    if (holding) {
      if (!renewal) renewal = setInterval(sendHold, renewMs);
      sendHold();
      return;
    }
    clearInterval(renewal);
    renewal = null;
    if (socket && socket.readyState === WebSocket.OPEN) socket.send(JSON.stringify({ type: 'release' }));
  }

  function press(who, action) {
    pressing.delete(who);
    pressing.set(who, action);
    holdLatest();
  }

  function letGo(who) {
    if (!pressing.delete(who)) return;
    holdLatest();
  }

  function letGoAll() {
    pressing.clear();
    for (const node of document.querySelectorAll('.key.pressed')) node.classList.remove('pressed');
    holdLatest();
  }

  function arrowButton(button, node) {
    node.append(arrow(button.arrow), make('span', 'mark'));
    node.addEventListener('pointerdown', (event) => {
      if (event.button !== 0) return; // the primary button, a finger or a pen only
      event.preventDefault(); // no text selection, no focus steal mid-hold
      node.setPointerCapture(event.pointerId);
      node.classList.add('pressed');
      press(`pointer ${event.pointerId}`, button.action);
    });
    const up = (event) => {
      letGo(`pointer ${event.pointerId}`);
      if (![...pressing.values()].includes(button.action)) node.classList.remove('pressed');
    };
    node.addEventListener('pointerup', up);
    node.addEventListener('pointercancel', up);
    node.addEventListener('lostpointercapture', up);
    node.addEventListener('contextmenu', (event) => event.preventDefault());
    // From the keyboard: the space bar or Enter holds the arrow as long as it is down.
    node.addEventListener('keydown', (event) => {
      if ((event.key === ' ' || event.key === 'Enter') && !event.repeat) {
        event.preventDefault();
        node.classList.add('pressed');
        press('keys', button.action);
      }
    });
    const keyUp = () => {
      letGo('keys');
      if (![...pressing.values()].includes(button.action)) node.classList.remove('pressed');
    };
    node.addEventListener('keyup', (event) => {
      if (event.key === ' ' || event.key === 'Enter') keyUp();
    });
    node.addEventListener('blur', keyUp);
  }

  // The arrows are drawn, not made of borders, so that forced colours keep them apart.
  const arrowPoints = { up: '0,10 8,0 16,10', down: '0,0 16,0 8,10', left: '0,5 16,0 16,10', right: '0,0 16,5 0,10' };
  function arrow(direction) {
    const svg = document.createElementNS('http://www.w3.org/2000/svg', 'svg');
    svg.setAttribute('viewBox', '0 0 16 10');
    svg.setAttribute('aria-hidden', 'true');
    svg.setAttribute('focusable', 'false');
    const shape = document.createElementNS('http://www.w3.org/2000/svg', 'polygon');
    shape.setAttribute('points', arrowPoints[direction] || arrowPoints.up);
    svg.append(shape);
    return svg;
  }

  // --- the cards ------------------------------------------------------------------------------

  function buttonFor(button) {
    const node = make('button', `key ${button.kind}`);
    node.type = 'button';
    node.setAttribute('aria-label', button.name);
    node.dataset.action = button.action || button.kind;
    if (button.colour) node.style.setProperty('--face', button.colour);
    else node.classList.add('faceless');
    if (button.kind === 'hold') {
      arrowButton(button, node);
    } else {
      node.append(make('span', 'caption', button.caption), make('span', 'mark'));
      // Press feedback under the finger, where :active shows none (iOS).
      node.addEventListener('pointerdown', (event) => { if (event.button === 0) node.classList.add('pressed'); });
      for (const type of ['pointerup', 'pointercancel', 'pointerleave']) {
        node.addEventListener(type, () => node.classList.remove('pressed'));
      }
      if (button.kind === 'console') {
        node.addEventListener('click', () => {
          $('details').open = true;
          $('console').scrollIntoView({ block: 'start' });
          $('items').focus();
        });
      } else {
        node.addEventListener('click', () => send(button.action, node));
      }
    }
    return node;
  }

  function drawPanel(panel) {
    document.title = `${panel.name} \u2013 control`;
    $('name').textContent = panel.name;
    // The panel's window and transcript colours, for the light theme.
    document.documentElement.style.setProperty('--panel-window', panel.colours.window);
    document.documentElement.style.setProperty('--panel-paper', panel.colours.transcript);
    const groups = new Map(panel.groups.map((group) => [group.title, group]));
    const cards = new Map();
    const rows = new Map(); // a group title (or a card's loose run) -> the row its buttons go in
    const members = new Map(); // a group title -> how many buttons it has, and the first caption
    for (const button of panel.buttons) {
      if (!button.group) continue;
      const seen = members.get(button.group) || { count: 0, caption: button.caption };
      seen.count += 1;
      members.set(button.group, seen);
    }
    const cardFor = (name) => {
      let card = cards.get(name);
      if (!card) {
        card = make('section', `card card-${name.toLowerCase()}`);
        const heading = make('h2', '', name);
        heading.id = `card-${cards.size}`;
        card.setAttribute('aria-labelledby', heading.id);
        card.append(heading);
        $('cards').append(card);
        cards.set(name, card);
        card.hidden = true; // until a button comes in
      }
      return card;
    };
    for (const name of panel.cards || []) cardFor(name);
    for (const button of panel.buttons) {
      const card = cardFor(button.card);
      const key = button.group ? `group ${button.group}` : `loose ${button.card}`;
      let row = rows.get(key);
      if (!row) {
        row = make('div', 'row');
        if (!button.group) {
          card.append(row);
        } else {
          const group = groups.get(button.group);
          const frame = make('div', 'group');
          frame.setAttribute('role', 'group');
          // A title that only repeats the card's or its one button's words is left out.
          const only = members.get(button.group);
          const repeats = group.title === button.card || (only.count === 1 && only.caption === group.title);
          if (repeats) {
            frame.classList.add('untitled');
            frame.setAttribute('aria-label', group.title);
          } else {
            const title = make('span', 'title', group.title);
            title.id = `group-${rows.size}`;
            frame.setAttribute('aria-labelledby', title.id);
            frame.append(title);
          }
          if (button.group === 'Menu') row.classList.add('cross');
          frame.append(row);
          if (button.card === 'Input') {
            let set = card.querySelector('.input-set');
            if (!set) {
              set = make('div', 'input-set');
              card.append(set);
            }
            if (only.count > 1) frame.classList.add('wide');
            set.append(frame);
            inputGroups.set(group.title, frame);
          } else {
            card.append(frame);
          }
        }
        rows.set(key, row);
      }
      const node = buttonFor(button);
      row.append(node);
      card.hidden = false;
      if (button.action === 'power-on') powerOn = node;
      if (button.action === 'power-off') powerOff = node;
    }
    // The phases in words beside the power buttons, the lamp mode in the lamp's card.
    const reading = (card, id, label, unread = 'not read yet') => {
      if (!card) return;
      const shown = make('span', 'reading', label ? `${label}: ` : '');
      const value = make('strong', '', unread);
      value.id = id;
      shown.append(value);
      card.querySelector('h2').append(shown);
    };
    reading(cards.get('Power'), 'phase', 'Now');
    reading(cards.get('Lamp'), 'lamp-mode', '', 'mode not read yet'); // the words say what they are: "Lamp Mode is Normal"
    reading(cards.get('Input'), 'input', 'Now');
  }

  // --- what the server tells -----------------------------------------------------------------

  let power = { value: null, stale: false };

  function showPower() {
    const words = power.value ? powerWords[power.value] || power.status || power.value : null;
    const shown = !words ? 'not read yet' : power.stale ? `${words} (checking\u2026)` : words;
    $('power').textContent = shown;
    if ($('phase')) $('phase').textContent = shown;
    const on = power.value === 'on' || power.value === 'countdown';
    const off = power.value === 'standby' || power.value === 'cooling';
    if (powerOn) powerOn.setAttribute('aria-pressed', String(Boolean(power.value) && on));
    if (powerOff) powerOff.setAttribute('aria-pressed', String(Boolean(power.value) && off));
  }

  function showInput(reading) {
    const value = reading && typeof reading.value === 'string' ? reading.value.trim() : '';
    for (const [title, frame] of inputGroups) {
      if (title === value) frame.setAttribute('aria-current', 'true');
      else frame.removeAttribute('aria-current');
    }
    if ($('input')) $('input').textContent = value && inputGroups.has(value) ? value : value || 'not read yet';
  }

  function showLampMode(words) {
    if ($('lamp-mode') && words) $('lamp-mode').textContent = String(words).trim();
  }

  function showReading(name, reading) {
    if (!reading) return;
    if (name === 'power') {
      power = { value: reading.value, status: reading.status, stale: Boolean(reading.stale) };
      showPower();
    } else if (name === 'input') {
      showInput(reading);
    } else if (name === 'lamp_mode') {
      showLampMode(reading.status || reading.value);
    }
  }

  // Whether the projector answers: from the first status message on, the bar says when it
  // does not, and for how long.
  function showAnswers(line) {
    if (!line || line.answers !== false) {
      silentSince = null;
      clearInterval(silentTimer);
      silentTimer = null;
      $('link').textContent = 'Connected';
      return;
    }
    if (silentSince === null) {
      const age = typeof line.last_answer_age === 'number' ? line.last_answer_age * 1000 : 0;
      silentSince = Date.now() - age;
    }
    const tell = () => {
      const seconds = Math.round((Date.now() - silentSince) / 1000);
      $('link').textContent = seconds < 2
        ? 'The projector is not answering'
        : `The projector is not answering (for ${seconds < 120 ? `${seconds} s` : `${Math.round(seconds / 60)} min`})`;
    };
    tell();
    if (!silentTimer) silentTimer = setInterval(tell, 1000);
  }

  function showExchange(event) {
    const result = event.result || {};
    const transcript = event.transcript || {};
    const command = result.command || '';
    if (command === 'CR LAMPMODE' && transcript.status_box) showLampMode(transcript.status_box);
    if (serversOwn.has(event.front_end)) return;
    $('tx').textContent = transcript.tx || '';
    $('rx').textContent = transcript.rx || '';
    $('cr-legend').hidden = !transcript.cr_legend;
    $('space-legend').hidden = !transcript.space_legend;
    if (typeof transcript.status_box === 'string') $('status').textContent = transcript.status_box;
    $('who').textContent = `${command} from ${event.front_end} ${event.client}`;
  }

  function take(event) {
    switch (event.type) {
      case 'status':
        for (const name of ['power', 'input', 'lamp_mode']) showReading(name, event[name]);
        showAnswers(event.line);
        break;
      case 'reading':
        showReading(event.name, event);
        break;
      case 'exchange':
        showExchange(event);
        break;
      case 'line':
        showAnswers(event);
        break;
      case 'hold_refused':
        pressing.clear();
        holdLatest();
        for (const node of document.querySelectorAll('.key.pressed')) node.classList.remove('pressed');
        mark(document.querySelector(`.key[data-action="${CSS.escape(String(event.action))}"]`), 'refused');
        if (/password/i.test(event.error)) needsPassword(`${event.action}: refused`);
        else complain(`${event.action}: ${event.error}`);
        say(`${event.action}: ${event.error}`);
        break;
      case 'error':
        complain(event.error);
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
      reopening = false;
      clearComplaint();
      setLink('Connected', false);
      if (holding) sendHold();
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
      if (reopening) {
        connect();
        return;
      }
      letGoAll();
      const wait = retryMs[Math.min(failures, retryMs.length - 1)];
      failures += 1;
      setLink('Connection lost: trying again\u2026', true);
      setTimeout(connect, wait);
    });
  }

  // --- unlocking ------------------------------------------------------------------------------

  function drawUnlock() {
    const open = $('unlock-open');
    open.addEventListener('click', () => {
      const shown = $('unlock-ask').hidden;
      $('unlock-ask').hidden = !shown;
      open.setAttribute('aria-expanded', String(shown));
      if (shown) $('password').focus();
    });
    $('unlock').addEventListener('submit', async (event) => {
      event.preventDefault();
      let response;
      try {
        response = await fetch('/api/session', {
          method: 'POST',
          headers: { 'Content-Type': 'application/json' },
          body: JSON.stringify({ password: $('password').value }),
          credentials: 'same-origin',
        });
      } catch (error) {
        complain('Unlock: the server cannot be reached');
        return;
      }
      $('password').value = '';
      if (!response.ok) {
        const answer = await response.json().catch(() => ({}));
        complain(`Unlock: ${answer.error || `refused (${response.status})`}`);
        say('Unlock refused');
        return;
      }
      $('unlock').hidden = true;
      $('unlock-ask').hidden = true;
      open.setAttribute('aria-expanded', 'false');
      clearComplaint();
      say('Unlocked');
      // The socket carries what its handshake carried: opened again, it brings the session.
      if (socket) {
        reopening = true;
        socket.close();
      }
    });
  }

  // --- the console --------------------------------------------------------------------------

  let lists = [];
  let shown = 0;
  let active = -1; // the option walked to in the list

  const commandOf = (text) => {
    const bracket = text.indexOf('[');
    return bracket < 0 ? text : text.slice(0, bracket);
  };

  function choose(item, focusEntry) {
    const list = lists[shown];
    const entry = $('entry');
    entry.value = `${commandOf(item)}[CR]`;
    $('console-cr').hidden = false;
    const percent = list.placeholders ? entry.value.indexOf('%') : -1;
    $('console-param').hidden = percent < 0;
    if (percent >= 0 && focusEntry) {
      entry.focus();
      entry.setSelectionRange(percent, percent + 1);
    }
  }

  function walkTo(index, focusEntry) {
    const options = $('items').children;
    if (!options.length) return;
    active = Math.max(0, Math.min(options.length - 1, index));
    for (const [i, option] of [...options].entries()) option.setAttribute('aria-selected', String(i === active));
    const option = options[active];
    $('items').setAttribute('aria-activedescendant', option.id);
    // Into view within the list only: the page itself stays where it is.
    const list = $('items');
    if (option.offsetTop < list.scrollTop) list.scrollTop = option.offsetTop;
    else if (option.offsetTop + option.offsetHeight > list.scrollTop + list.clientHeight) {
      list.scrollTop = option.offsetTop + option.offsetHeight - list.clientHeight;
    }
    choose(lists[shown].items[Number(option.dataset.index)], focusEntry);
  }

  function fill() {
    const filter = $('filter').value.trim().toLowerCase();
    const items = $('items');
    items.replaceChildren();
    items.removeAttribute('aria-activedescendant');
    active = -1;
    lists[shown].items.forEach((item, index) => {
      if (filter && !item.toLowerCase().includes(filter)) return;
      const option = make('li', '', item);
      option.id = `item-${index}`;
      option.setAttribute('role', 'option');
      option.setAttribute('aria-selected', 'false');
      option.dataset.index = String(index);
      items.append(option);
    });
    $('none').hidden = items.children.length > 0;
  }

  function showList(index) {
    shown = index;
    for (const [i, node] of [...$('lists').children].entries()) node.setAttribute('aria-pressed', String(i === index));
    fill();
    walkTo(0, false);
  }

  // Why the entry cannot go as it stands; empty when it can.
  function entryProblem(command) {
    if (!command.trim()) return 'Type a command, or choose one from the list.';
    if (command.includes('%')) return 'Replace each "%" with a digit (0-9) before sending.';
    if (/[a-z]/.test(command)) return `The codes are in capitals: send ${command.toUpperCase()}.`;
    return '';
  }

  function drawConsole(catalogues) {
    lists = catalogues.lists;
    lists.forEach((list, index) => {
      const node = make('button', 'list', list.title);
      node.type = 'button';
      node.addEventListener('click', () => showList(index));
      $('lists').append(node);
    });
    $('filter').addEventListener('input', () => {
      fill();
      walkTo(0, false);
    });
    const items = $('items');
    items.addEventListener('click', (event) => {
      const option = event.target.closest('li');
      if (option) walkTo([...items.children].indexOf(option), true);
    });
    // The arrow keys walk the list and the focus stays there; Enter takes the command to
    // the entry box.
    items.addEventListener('keydown', (event) => {
      const page = 8;
      const moves = { ArrowDown: 1, ArrowUp: -1, PageDown: page, PageUp: -page };
      if (event.key in moves) walkTo(active + moves[event.key], false);
      else if (event.key === 'Home') walkTo(0, false);
      else if (event.key === 'End') walkTo(items.children.length - 1, false);
      else if (event.key === 'Enter') walkTo(active, true);
      else return;
      event.preventDefault();
    });
    // The "%" digits are typed over, not in front of.
    $('entry').addEventListener('beforeinput', (event) => {
      const entry = event.target;
      if (event.inputType !== 'insertText' || !/^[0-9]$/.test(event.data || '')) return;
      const at = entry.selectionStart;
      if (at !== entry.selectionEnd || entry.value[at] !== '%') return;
      event.preventDefault();
      entry.value = entry.value.slice(0, at) + event.data + entry.value.slice(at + 1);
      const next = entry.value.indexOf('%', at + 1);
      if (next >= 0) entry.setSelectionRange(next, next + 1);
      else entry.setSelectionRange(at + 1, at + 1);
    });
    const sendEntry = async () => {
      const command = commandOf($('entry').value);
      const problem = entryProblem(command);
      note(problem);
      if (problem) {
        say(problem);
        return;
      }
      $('console-cr').hidden = true;
      $('console-param').hidden = true;
      await send(command, $('send'));
    };
    $('send').addEventListener('click', sendEntry);
    $('entry').addEventListener('keydown', (event) => {
      if (event.key === 'Enter') sendEntry();
    });
    showList(0);
  }

  // --- start --------------------------------------------------------------------------------

  async function fetchJson(path) {
    const response = await fetch(path, { credentials: 'same-origin', cache: 'no-cache' });
    if (!response.ok) throw new Error(`${path}: ${response.status}`);
    return response.json();
  }

  // The tables, tried again and again until they come.
  async function load(attempt = 0) {
    try {
      return await Promise.all([fetchJson('/api/panel'), fetchJson('/api/catalogues')]);
    } catch (error) {
      setLink(`The page could not load its tables (${error.message}): trying again\u2026`, true);
      await new Promise((resolve) => setTimeout(resolve, retryMs[Math.min(attempt, retryMs.length - 1)]));
      return load(attempt + 1);
    }
  }

  document.addEventListener('visibilitychange', () => {
    if (document.hidden) letGoAll();
  });
  window.addEventListener('pagehide', letGoAll);

  // The details fold on phones only.
  const wide = window.matchMedia('(min-width: 600px)');
  const unfold = () => { if (wide.matches) $('details').open = true; };
  wide.addEventListener('change', unfold);
  unfold();

  drawUnlock();
  load().then(([panel, catalogues]) => {
    drawPanel(panel);
    drawConsole(catalogues);
    connect();
  });
})();
