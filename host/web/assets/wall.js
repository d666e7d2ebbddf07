// The wall page: follows the host over a WebSocket. The first message holds
// the whole state; later ones the displays that changed, the wall order when
// displays came or went, the router links when one changed, and new events.
// Every text from the host goes in through textContent or an attribute value:
// never parsed as markup.
//
// A wall may have thousands of tiles changing many times a second, so a
// message touches only the tiles it names: a tile's filter match is decided
// when its own state changes, and its text is fitted by CSS from its length
// (no layout is read back).
'use strict';

const tiles = new Map();  // display name -> its elements
const routerNames = new Map();  // device number -> its link's name, lower case
let filterText = '';  // lower case; empty shows every tile
let onAirOnly = false;  // shows only the tiles in program
let maxEvents = 50;
let retryDelay = 250;

const wall = document.getElementById('wall');
const linksList = document.getElementById('links');
const receiversList = document.getElementById('receivers');
const tallyInputsList = document.getElementById('tally-inputs');
const eventsList = document.getElementById('events');
const statusLabel = document.getElementById('status');
const roleLabel = document.getElementById('role');
const counts = document.getElementById('counts');
const filterBox = document.getElementById('filter');
const detailsBox = document.getElementById('details');
const onAirBox = document.getElementById('onair');
const noMatch = document.getElementById('nomatch');

function element(tag, className) {
  const made = document.createElement(tag);
  if (className) made.className = className;
  return made;
}

// A steady colour per state sheet name, since the host knows names only.
function sheetHue(name) {
  let hash = 0;
  for (let i = 0; i < name.length; i++) hash = (hash * 31 + name.charCodeAt(i)) >>> 0;
  return hash % 360;
}

function makeTile(name) {
  const root = element('article', 'tile');
  root.dataset.name = name;
  const lamps = element('div', 'lamps');
  const left = element('span', 'lamp');
  const centre = element('span', 'lamp');
  const right = element('span', 'lamp');
  lamps.append(left, centre, right);
  const title = element('h2', 'name');
  const text = element('div', 'text');
  const meta = element('div', 'meta');
  const sheet = element('span', 'sheet');
  const notified = element('span', 'notified');
  const mark = element('span', 'mark');
  const tally = element('span', 'tally');
  meta.append(tally, sheet, notified, mark);
  const where = element('div', 'where');
  root.append(lamps, title, text, meta, where, makeControls(name));
  const tile = { root, left, centre, right, title, text, sheet, notified, mark, tally, where, search: null, router: 0,
    onAir: false };
  tiles.set(name, tile);
  return tile;
}

// The control API, when the wall file turns it on ([control]): the
// operator gives the token once in a tab (it is kept for that tab only);
// each tile then gets a press button (a button event on its mimic, as a
// panel's press) and a line for a parent command, and shows the host's
// answer. A wrong token ends control and says so.
const tokenKey = 'quon-control-token';
let controlOn = false;
let token = sessionStorage.getItem(tokenKey) || '';
const unlockForm = document.getElementById('unlock');
const tokenBox = document.getElementById('token');
const lockButton = document.getElementById('lock');
const controlNote = document.getElementById('control-note');
const lineupForm = document.getElementById('lineup');

function showControl(on) {
  controlOn = on;
  unlockForm.hidden = !on || token !== '';
  lockButton.hidden = !on || token === '';
  lineupForm.hidden = !on || token === '';
  document.body.classList.toggle('controlling', on && token !== '');
  if (!on) controlNote.textContent = '';
}

function endControl(note) {
  token = '';
  sessionStorage.removeItem(tokenKey);
  showControl(controlOn);
  controlNote.textContent = note;
}

unlockForm.addEventListener('submit', (submitted) => {
  submitted.preventDefault();
  token = tokenBox.value.trim();
  tokenBox.value = '';
  if (token !== '') sessionStorage.setItem(tokenKey, token);
  controlNote.textContent = '';
  showControl(controlOn);
});
lockButton.addEventListener('click', () => endControl(''));

// A line-up of the tiles shown: every display while nothing filters them
// (the host lines up all when it is given none).
lineupForm.addEventListener('submit', async (submitted) => {
  submitted.preventDefault();
  const mode = document.getElementById('lineup-mode').value;
  const lasting = document.getElementById('lineup-for').value.trim();
  const filtered = filterText !== '' || onAirOnly;
  const names = filtered ? [...tiles.entries()].filter(([, tile]) => !tile.root.hidden).map(([name]) => name) : [];
  if (filtered && names.length === 0) {
    controlNote.textContent = 'line-up: no display shown';
    return;
  }
  const body = mode === 'off' ? 'off' : [mode, lasting, ...names].join(' ');
  try {
    const response = await fetch('/api/lineup', {
      method: 'POST',
      headers: { Authorization: 'Bearer ' + token, 'Content-Type': 'text/plain; charset=utf-8' },
      body,
      cache: 'no-store',
    });
    const answer = (await response.text()).trim();
    controlNote.textContent = response.ok ? '' : 'line-up: ' + response.status + ': ' + answer;
    if (response.status === 401) endControl('wrong token: control ended');
  } catch (error) {
    controlNote.textContent = 'line-up not sent: ' + error.message;
  }
});

async function act(name, action, body, reply) {
  reply.dataset.status = 'sending';
  reply.textContent = '…';
  try {
    const response = await fetch('/api/displays/' + encodeURIComponent(name) + '/' + action, {
      method: 'POST',
      headers: { Authorization: 'Bearer ' + token, 'Content-Type': 'text/plain; charset=utf-8' },
      body,
      cache: 'no-store',
    });
    const answer = (await response.text()).trim();
    reply.dataset.status = response.ok ? 'ok' : 'failed';
    if (response.ok) reply.textContent = answer === '' ? action + ': done' : '← ' + answer;
    else reply.textContent = response.status + ': ' + answer;
    if (response.status === 401) endControl('wrong token: control ended');
  } catch (error) {
    reply.dataset.status = 'failed';
    reply.textContent = 'not sent: ' + error.message;
  }
}

function makeControls(name) {
  const controls = element('form', 'controls');
  const press = element('button', 'press');
  press.type = 'button';
  press.textContent = 'press';
  press.title = 'a press on the display, as on its panel';
  const command = element('input', 'command');
  command.placeholder = 'parent command';
  command.setAttribute('aria-label', 'parent command for ' + name);
  command.autocomplete = 'off';
  command.spellcheck = false;
  const send = element('button', 'send');
  send.type = 'submit';
  send.textContent = 'send';
  const reply = element('output', 'reply');
  controls.append(press, command, send, reply);
  press.addEventListener('click', () => act(name, 'button', 'myMimic', reply));
  controls.addEventListener('submit', (submitted) => {
    submitted.preventDefault();
    if (command.value !== '') act(name, 'parent', command.value, reply);
  });
  return controls;
}

// True when the text changed.
function setText(target, value) {
  if (target.textContent === value) return false;
  target.textContent = value;
  return true;
}

function matches(tile) {
  if (onAirOnly && !tile.onAir) return false;
  if (filterText === '') return true;
  if (tile.search.some((field) => field.includes(filterText))) return true;
  const routerName = routerNames.get(tile.router);
  return routerName !== undefined && routerName.includes(filterText);
}

function applyFilterTo(tile) {
  const hidden = !matches(tile);
  if (tile.root.hidden !== hidden) tile.root.hidden = hidden;
}

// "router 2 · dst 14 · TSL 13", leaving out what the display has not.
function whereText(state) {
  const parts = [];
  if (state.router > 0) parts.push('router ' + state.router);
  if (state.destination > 0) parts.push('dst ' + state.destination);
  if (state.tslIndex >= 0) parts.push('TSL ' + state.tslIndex);
  return parts.join(' \u00b7 ');
}

const screenNotes = {
  mark: 'screen marked: router lost',
  blank: 'screen blanked: router lost',
  text: 'screen shows the lost text',
};

function showTile(state) {
  const tile = tiles.get(state.name) || makeTile(state.name);
  tile.left.dataset.colour = state.left;
  tile.centre.dataset.colour = state.centre;
  tile.right.dataset.colour = state.right;
  setText(tile.title, state.name);
  tile.title.title = state.name;
  // The CSS sizes the text from its length: nothing is measured.
  if (setText(tile.text, state.text)) tile.text.style.setProperty('--chars', String(Math.max(state.text.length, 1)));
  tile.text.title = state.text;
  tile.text.style.opacity = String(Math.max(0.25, Math.min(100, state.brightness) / 100));
  setText(tile.sheet, state.statesheet);
  tile.root.classList.toggle('sheeted', state.statesheet !== '');
  tile.root.style.setProperty('--sheet-hue', String(sheetHue(state.statesheet)));
  setText(tile.notified, state.notified === '' ? '' : '\u2192 ' + state.notified);
  tile.notified.title = 'last told to the parent panel';
  const silent = state.routerSilent;
  tile.root.classList.toggle('silent', silent);
  // What the screens show while the router is lost (on_router_lost).
  if (state.marked) tile.root.dataset.marked = state.marked;
  else delete tile.root.dataset.marked;
  const notes = [];
  if (silent) notes.push('router ' + state.router + ' does not answer');
  if (state.watchProblem) notes.push(state.watchProblem);
  if (state.marked) notes.push(screenNotes[state.marked] || 'screen: ' + state.marked);
  setText(tile.mark, notes.join(' \u00b7 '));
  setText(tile.where, whereText(state));
  // Program and preview: a coloured edge, and a word for those who cannot
  // tell red from green.
  if (state.tally) tile.root.dataset.tally = state.tally;
  else delete tile.root.dataset.tally;
  const words = { program: 'PROGRAM', hot: 'HOT', preview: 'PREVIEW' };
  setText(tile.tally, [words[state.tally], state.iso ? 'ISO' : ''].filter(Boolean).join(' '));
  tile.tally.title = state.tallyWhy || '';
  tile.onAir = state.tally === 'program';
  tile.router = state.router;
  tile.search = [state.name.toLowerCase(), state.text.toLowerCase(), state.router > 0 ? String(state.router) : ''];
  applyFilterTo(tile);
  return tile;
}

// Puts the tiles in this order and removes those not named.
function applyOrder(names) {
  const keep = new Set(names);
  for (const [name, tile] of tiles) {
    if (!keep.has(name)) {
      tile.root.remove();
      tiles.delete(name);
    }
  }
  let previous = null;
  for (const name of names) {
    const tile = tiles.get(name);
    if (!tile) continue;
    const expected = previous ? previous.nextSibling : wall.firstChild;
    if (expected !== tile.root) wall.insertBefore(tile.root, expected);
    previous = tile.root;
  }
}

function showLinks(links) {
  let renamed = links.length !== routerNames.size;
  for (const link of links) {
    const name = link.name.toLowerCase();
    if (routerNames.get(link.device) !== name) renamed = true;
  }
  if (renamed) {
    routerNames.clear();
    for (const link of links) routerNames.set(link.device, link.name.toLowerCase());
    if (filterText !== '') for (const tile of tiles.values()) applyFilterTo(tile);
  }
  const items = links.map((link) => {
    const item = element('li', 'link');
    item.dataset.state = link.state;
    item.dataset.device = String(link.device);
    const name = element('span', 'name-of-link');
    name.textContent = (link.name || 'router') + ' #' + link.device + (link.protocol ? ' ' + link.protocol : '') + ': ';
    const state = element('span', 'state');
    state.textContent = link.state;
    const size = element('span', 'size');
    size.textContent = link.size > 0 ? ' \u00b7 ' + link.size + ' destinations' : '';
    const detail = element('span', 'detail');
    detail.textContent = [link.detail, ...(link.missing || [])].filter(Boolean).map((t) => ' \u00b7 ' + t).join('');
    item.append(name, state, size, detail);
    item.title = item.textContent;
    return item;
  });
  linksList.replaceChildren(...items);
}

function showReceivers(receivers) {
  receiversList.replaceChildren(...receivers.map((receiver) => {
    const item = element('li', 'link receiver');
    item.dataset.state = receiver.down ? 'lost' : receiver.state;
    item.dataset.to = receiver.to;
    const name = element('span', 'name-of-link');
    name.textContent = receiver.to + ': ';
    const state = element('span', 'state');
    state.textContent = receiver.state;
    const detail = element('span', 'detail');
    const parts = [];
    if (receiver.detail) parts.push(receiver.detail);
    if (receiver.lastSent) parts.push('last sent ' + receiver.lastSent, receiver.packets + ' packets');
    else parts.push('nothing sent');
    if (receiver.errors > 0) parts.push(receiver.errors + ' errors');
    detail.textContent = ' \u00b7 ' + parts.join(' \u00b7 ');
    item.append(name, state, detail);
    item.title = item.textContent;
    return item;
  }));
}

function counted(count, noun) {
  return count + ' ' + noun + (count === 1 ? '' : 's');
}

// Each mixer's tally input: up, down (nothing read for its timeout) or not
// listening (why), when it last read a packet and what it counted.
function showTallyInputs(inputs) {
  tallyInputsList.replaceChildren(...inputs.map((input) => {
    const item = element('li', 'link tally-input');
    const state = input.problem ? 'not listening' : input.up ? 'up' : 'down';
    item.dataset.state = input.up ? 'connected' : 'lost';
    item.dataset.name = input.name;
    const name = element('span', 'name-of-link');
    name.textContent = 'tally ' + input.name + ' ' + input.listen + ': ';
    const label = element('span', 'state');
    label.textContent = state;
    const detail = element('span', 'detail');
    const parts = [];
    if (input.problem) parts.push(input.problem);
    parts.push(input.lastPacket ? 'last packet ' + input.lastPacket : 'no packet yet');
    parts.push(counted(input.packets, 'packet'), counted(input.changes, 'change'));
    if (input.unmapped > 0) parts.push(input.unmapped + ' unmapped');
    if (input.unreadable > 0) parts.push(input.unreadable + ' unreadable');
    detail.textContent = ' \u00b7 ' + parts.join(' \u00b7 ');
    item.append(name, label, detail);
    item.title = item.textContent;
    return item;
  }));
}

// Each event with the host's number for it, whole, and its time (UTC). An
// event said again (count above 1) takes the place of the one before it.
function addEvents(events) {
  for (const event of events) {
    if (event.count > 1) {
      for (const said of eventsList.children) {
        if (said.dataset.text === event.text) {
          said.remove();
          break;
        }
      }
    }
    const item = element('li');
    item.dataset.text = event.text;
    const number = element('span', 'sequence');
    number.textContent = String(event.sequence);
    const time = element('time');
    time.dateTime = event.time;
    time.textContent = event.time;
    const text = element('span', 'event-text');
    text.textContent = event.text + (event.count > 1 ? ' (said ' + event.count + ' times)' : '');
    item.append(number, ' ', time, ' ', text);
    eventsList.append(item);
  }
  while (eventsList.childElementCount > maxEvents) eventsList.firstElementChild.remove();
  eventsList.scrollTop = eventsList.scrollHeight;
}

function showCounts() {
  const all = tiles.size + (tiles.size === 1 ? ' display' : ' displays');
  if (filterText === '' && !onAirOnly) {
    counts.textContent = all;
    noMatch.hidden = true;
    return;
  }
  let shown = 0;
  for (const tile of tiles.values()) if (!tile.root.hidden) shown++;
  counts.textContent = shown + ' of ' + all;
  noMatch.hidden = shown > 0 || tiles.size === 0;
}

// The filter and the details toggle live in the address's fragment
// (#filter=cam&details=1), so that a reload or a bookmark keeps them.
function setFilter(value) {
  const wanted = value.toLowerCase();
  if (filterBox.value !== value) filterBox.value = value;
  if (wanted === filterText) return;
  filterText = wanted;
  for (const tile of tiles.values()) applyFilterTo(tile);
  showCounts();
}

function setOnAir(only) {
  onAirBox.checked = only;
  if (only === onAirOnly) return;
  onAirOnly = only;
  for (const tile of tiles.values()) applyFilterTo(tile);
  showCounts();
}

function setDetails(shown) {
  detailsBox.checked = shown;
  document.body.classList.toggle('details', shown);
}

function readLocation() {
  const params = new URLSearchParams(location.hash.slice(1));
  setFilter(params.get('filter') || '');
  setDetails(params.get('details') === '1');
  setOnAir(params.get('onair') === '1');
}

function writeLocation() {
  const params = new URLSearchParams();
  if (filterBox.value !== '') params.set('filter', filterBox.value);
  if (detailsBox.checked) params.set('details', '1');
  if (onAirBox.checked) params.set('onair', '1');
  const fragment = params.toString();
  history.replaceState(null, '', location.pathname + location.search + (fragment ? '#' + fragment : ''));
}

filterBox.addEventListener('input', () => {
  setFilter(filterBox.value);
  writeLocation();
});
onAirBox.addEventListener('change', () => {
  setOnAir(onAirBox.checked);
  writeLocation();
});
detailsBox.addEventListener('change', () => {
  setDetails(detailsBox.checked);
  writeLocation();
});
window.addEventListener('hashchange', readLocation);
readLocation();

function applyFull(message) {
  maxEvents = message.maxEvents;
  tiles.clear();
  wall.replaceChildren();
  for (const state of message.displays) showTile(state);
  applyOrder(message.displays.map((state) => state.name));
  showLinks(message.routers);
  showReceivers(message.receivers);
  showTallyInputs(message.tallyInputs);
  showRole(message.role);
  showControl(message.control === true);
  eventsList.replaceChildren();
  addEvents(message.events);
  showCounts();
}

function applyUpdate(message) {
  for (const state of message.displays) showTile(state);
  if (message.order) applyOrder(message.order);
  if (message.routers) showLinks(message.routers);
  if (message.receivers) showReceivers(message.receivers);
  if (message.tallyInputs) showTallyInputs(message.tallyInputs);
  if (message.role) showRole(message.role);
  if (message.control !== undefined) showControl(message.control === true);
  if (message.events) addEvents(message.events);
  showCounts();
}

// A standby host of a pair says so; an active one (or a host alone) shows
// nothing more.
function showRole(role) {
  roleLabel.hidden = role !== 'standby';
  document.body.dataset.role = role === 'standby' ? 'standby' : 'active';
}

function setConnected(connected) {
  document.body.dataset.connection = connected ? 'connected' : 'disconnected';
  statusLabel.textContent = connected ? 'connected' : 'disconnected';
}

function connect() {
  const scheme = location.protocol === 'https:' ? 'wss://' : 'ws://';
  const socket = new WebSocket(scheme + location.host + '/ws');
  socket.onmessage = (received) => {
    const message = JSON.parse(received.data);
    if (message.type === 'full') {
      applyFull(message);
      setConnected(true);
      retryDelay = 250;
    } else if (message.type === 'update') {
      applyUpdate(message);
    }
  };
  socket.onclose = async () => {
    setConnected(false);
    // A WebSocket does not say why it was refused: a page whose view token
    // is no longer the wall's (a reload changed it) asks, and goes to the
    // form that asks for the new one.
    try {
      const probe = await fetch('/api/events', { method: 'HEAD', cache: 'no-store' });
      if (probe.status === 401) {
        location.reload();
        return;
      }
    } catch (unreachable) {
      // The host is down: try again as usual.
    }
    setTimeout(connect, retryDelay);
    retryDelay = Math.min(retryDelay * 2, 4000);
  };
}

connect();
