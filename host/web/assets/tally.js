// A tally page: one display or source of the wall, followed over a
// WebSocket of its own (/ws/tally/NAME) that sends its state whole at
// every change. The page is the colour of the state, with the state as a
// word; a state it does not know shows neutrally with its word. When the
// host is lost the page says so at once, drops the colour (it may no
// longer be true) and tries again, waiting longer each time.
'use strict';

const who = document.getElementById('who');
const stateLabel = document.getElementById('state');
const isoMark = document.getElementById('iso');
const note = document.getElementById('note');
const linkLabel = document.getElementById('link');

// The path after /tally/, as the browser sent it (percent-encoded).
const followed = location.pathname.slice('/tally/'.length);
const asked = decodeURIComponent(followed.replace(/^source\//, ''));
who.textContent = asked;
document.title = asked + ' tally';

const words = { program: 'program', preview: 'preview', hot: 'hot', off: 'off' };
let retryDelay = 250;
let lostSince = null;

function show(message) {
  who.textContent = message.name;
  document.title = message.name + ' tally';
  const tally = message.onWall ? (message.tally || 'off') : 'unknown';
  document.body.dataset.tally = Object.prototype.hasOwnProperty.call(words, tally) ? tally : 'unknown';
  if (!message.onWall) stateLabel.textContent = message.kind === 'source' ? 'not on any display' : 'not on the wall';
  else stateLabel.textContent = words[tally] || tally;
  isoMark.hidden = message.iso !== true;
  const parts = [];
  if (message.kind === 'source') parts.push('source');
  else if (message.text) parts.push(message.text);
  if (message.tallyWhy) parts.push(message.tallyWhy);
  note.textContent = parts.join(' \u00b7 ');
  note.title = message.tallyWhy || '';
}

function connected() {
  document.body.dataset.connection = 'connected';
  linkLabel.textContent = '';
  lostSince = null;
  retryDelay = 250;
}

function lost(why) {
  if (lostSince === null) lostSince = new Date();
  document.body.dataset.connection = 'lost';
  document.body.dataset.tally = 'unknown';
  stateLabel.textContent = 'no tally';
  isoMark.hidden = true;
  linkLabel.textContent = why + ' since ' + lostSince.toLocaleTimeString() + ': trying again';
}

function connect() {
  const scheme = location.protocol === 'https:' ? 'wss://' : 'ws://';
  const socket = new WebSocket(scheme + location.host + '/ws/tally/' + followed);
  socket.onmessage = (received) => {
    const message = JSON.parse(received.data);
    if (message.type !== 'tally') return;
    connected();
    show(message);
  };
  socket.onclose = async () => {
    // A WebSocket does not say why it was refused: the page asks, so that
    // a token changed on the host brings its form, and a name gone from
    // the wall says so.
    let why = 'lost the host';
    try {
      const probe = await fetch(location.pathname, { method: 'HEAD', cache: 'no-store' });
      if (probe.status === 401) {
        location.reload();
        return;
      }
      if (probe.status === 404) why = 'not on this wall any more';
    } catch (unreachable) {
      // The host is down: try again as usual.
    }
    lost(why);
    setTimeout(connect, retryDelay);
    retryDelay = Math.min(retryDelay * 2, 4000);
  };
}

connect();
