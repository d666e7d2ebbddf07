// The wall page in Chromium, against quon-host itself on loopback: the
// shell fed scenario lines on its standard input, and serve with a wall
// file. Every host runs on the bundled sample system (VX_ROOT and VX_SYSTEM
// unset) with --http 127.0.0.1:0 and prints where the page is.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawn } from 'node:child_process';
import { X509Certificate, createHash } from 'node:crypto';
import { createSocket } from 'node:dgram';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import http from 'node:http';
import https from 'node:https';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { createInterface } from 'node:readline';
import { chromium } from 'playwright-core';

const hostPath = process.env.QUON_HOST;
const sourceDir = process.env.QUON_SOURCE_DIR;
const chromiumPath = process.env.QUON_CHROMIUM || '/usr/bin/chromium';
const guard = { timeout: 120000 };  // against hangs only
const wait = { timeout: 20000 };   // likewise

// One quon-host process: the page's address (from its "the wall is at"
// line on standard error), its output kept for failure messages, and its
// standard input for the shell's scenario lines. With `secure`, the address
// is the https one, said once the wall file's certificate is taken, with the
// certificate's subject and expiry.
class Host {
  static async start(args, { secure = false } = {}) {
    const host = new Host();
    const environment = { ...process.env };
    delete environment.VX_ROOT;
    delete environment.VX_SYSTEM;
    host.process = spawn(hostPath, args, { stdio: ['pipe', 'pipe', 'pipe'], env: environment });
    host.exited = new Promise((resolve) => host.process.on('exit', (code, signal) => resolve({ code, signal })));
    host.output = [];
    createInterface({ input: host.process.stdout }).on('line', (line) => host.output.push(line));
    host.url = await new Promise((resolve, reject) => {
      createInterface({ input: host.process.stderr }).on('line', (line) => {
        host.output.push(line);
        const found = /^(?:\S+Z )?quon-host: the wall is at (https?:\/\/\S+)(?: \((.+)\))?$/.exec(line);
        if (found && found[1].startsWith(secure ? 'https:' : 'http:')) {
          host.certificate = found[2];
          resolve(found[1]);
        }
      });
      host.exited.then(({ code, signal }) =>
        reject(new Error(`quon-host ended (${code ?? signal}) before serving:\n${host.output.join('\n')}`)));
    });
    host.port = Number(new URL(host.url).port);
    return host;
  }

  send(...lines) {
    for (const line of lines) this.process.stdin.write(line + '\n');
  }

  // The shell ends at the end of its input.
  async endInput() {
    this.process.stdin.end();
    return this.exited;
  }

  async terminate() {
    this.process.kill('SIGTERM');
    return this.exited;
  }

  // Until a line of its output matches `pattern`: serve sends its standard
  // output in batches, so a line may come after what the page shows.
  async waitForLine(pattern) {
    const until = Date.now() + wait.timeout;
    while (!this.output.some((line) => pattern.test(line))) {
      assert.ok(Date.now() < until, `no line matches ${pattern}:\n${this.transcript}`);
      await new Promise((resolve) => setTimeout(resolve, 50));
    }
  }

  get transcript() { return this.output.join('\n'); }
}

let browser;
let scratch;
let umdReceiver;
let umdPort;
const hosts = [];

// A Chromium of its own profile in the scratch folder, with `args` besides.
function launchChromium(profile, args = []) {
  return chromium.launchPersistentContext(join(scratch, profile), {
    executablePath: chromiumPath,
    headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync', ...args],
    viewport: { width: 1280, height: 800 },
  });
}

before(async () => {
  scratch = mkdtempSync(join(tmpdir(), 'quon-web-host-'));
  // The wall file's UMD output goes to this socket, which drops it.
  umdReceiver = createSocket('udp4');
  umdReceiver.on('message', () => {});
  await new Promise((resolve) => umdReceiver.bind(0, '127.0.0.1', resolve));
  umdPort = umdReceiver.address().port;
  browser = await launchChromium('chromium');
});

after(async () => {
  await browser?.close();
  for (const host of hosts) if (host.process.exitCode === null && host.process.signalCode === null) host.process.kill();
  umdReceiver?.close();
  if (scratch) rmSync(scratch, { recursive: true, force: true });
});

async function startHost(args, options) {
  const host = await Host.start(args, options);
  hosts.push(host);
  return host;
}

function startShell() {
  return startHost(['shell', '--http', '127.0.0.1:0']);
}

// A copy of examples/walls/studio.toml whose UMD output goes to the test's
// socket, with `edit` applied to its text.
function wallFile(name, edit = (text) => text) {
  const sample = readFileSync(join(sourceDir, 'examples', 'walls', 'studio.toml'), 'utf8');
  const ours = sample.replace(/^to = .*$/m, `to = "tsl5+udp://127.0.0.1:${umdPort}"`);
  assert.notEqual(ours, sample, 'the sample wall names a UMD destination');
  const path = join(scratch, name);
  writeFileSync(path, edit(ours));
  return path;
}

// A page that records its script errors, console complaints and dialogs.
async function newPage(context = browser) {
  const page = await context.newPage();
  page.problems = [];
  page.dialogs = [];
  page.on('pageerror', (error) => page.problems.push(String(error)));
  page.on('console', (message) => { if (message.type() === 'error') page.problems.push(message.text()); });
  page.on('dialog', async (dialog) => { page.dialogs.push(dialog.message()); await dialog.dismiss(); });
  return page;
}

async function openWall(host) {
  const page = await newPage();
  await page.goto(host.url);
  await waitForStatus(page, 'connected');
  return page;
}

function waitForStatus(page, status) {
  return page.waitForFunction((expected) => document.getElementById('status').textContent === expected, status,
    wait);
}

// Until the named display's tile shows `text`.
function waitForTile(page, name, text) {
  return page.waitForFunction(([wanted, expected]) => {
    const tile = [...document.querySelectorAll('.tile')].find((candidate) => candidate.dataset.name === wanted);
    return tile !== undefined && tile.querySelector('.text').textContent === expected;
  }, [name, text], wait);
}

// Every tile as the page shows it, in wall order.
function tiles(page) {
  return page.evaluate(() => [...document.querySelectorAll('.tile')].map((tile) => ({
    name: tile.querySelector('.name').textContent,
    text: tile.querySelector('.text').textContent,
    notified: tile.querySelector('.notified').textContent,
    mark: tile.querySelector('.mark').textContent,
    silent: tile.classList.contains('silent'),
  })));
}

// The router strip: device number -> state.
function linkStates(page) {
  return page.evaluate(() => Object.fromEntries(
    [...document.querySelectorAll('#links li')].map((link) => [link.dataset.device, link.dataset.state])));
}

test('the shell: a route change shows in the tile of its display only', guard, async () => {
  const host = await startShell();
  host.send('create mon1', 'send mon1 instance=studio_a_mon_1', 'create mon2', 'send mon2 instance=studio_a_mon_2');
  const page = await openWall(host);
  await waitForTile(page, 'mon1', 'CAM 1');
  await waitForTile(page, 'mon2', 'CAM 2');

  host.send('route 1 1 5');
  await waitForTile(page, 'mon1', 'CAM 5');
  await page.waitForFunction(() => document.querySelector('.tile .notified').textContent === '\u2192 sourceid=5',
    null, wait);
  assert.deepEqual(await tiles(page), [
    { name: 'mon1', text: 'CAM 5', notified: '\u2192 sourceid=5', mark: '', silent: false },
    { name: 'mon2', text: 'CAM 2', notified: '\u2192 sourceid=2', mark: '', silent: false },
  ]);
  assert.deepEqual(page.problems, []);
  await page.close();
  assert.deepEqual(await host.endInput(), { code: 0, signal: null }, host.transcript);
});

test('the shell: a renamed source shows on the displays showing it', guard, async () => {
  const host = await startShell();
  host.send('create mon1', 'send mon1 instance=studio_a_mon_1', 'create mon2', 'send mon2 instance=studio_a_mon_2');
  const page = await openWall(host);
  await waitForTile(page, 'mon2', 'CAM 2');

  host.send('route 1 2 1', 'rename 1 0 1 MAIN CAM');
  await waitForTile(page, 'mon1', 'MAIN CAM');
  await waitForTile(page, 'mon2', 'MAIN CAM');
  host.send('rename 1 0 1 CAM 1 WIDE');
  await waitForTile(page, 'mon1', 'CAM 1 WIDE');
  await waitForTile(page, 'mon2', 'CAM 1 WIDE');
  assert.deepEqual(page.problems, []);
  await page.close();
  assert.deepEqual(await host.endInput(), { code: 0, signal: null }, host.transcript);
});

test('the shell: names with markup show literally and run nothing', guard, async () => {
  const host = await startShell();
  const display = '<svg/onload=alert(1)>';
  const source = '<img src=x onerror=alert(2)>';
  const page = await openWall(host);
  host.send(`create ${display}`, `send ${display} instance=studio_a_mon_1`);
  await waitForTile(page, display, 'CAM 1');

  host.send(`rename 1 0 1 ${source}`);
  await waitForTile(page, display, source);
  const shown = await page.evaluate(() => ({
    name: document.querySelector('.tile .name').textContent,
    text: document.querySelector('.tile .text').textContent,
    elements: document.querySelectorAll('main img, main svg, main script').length,
  }));
  assert.deepEqual(shown, { name: display, text: source, elements: 0 });
  // A dialog would open within a turn or two of the page's loop; give it
  // a round trip to the host and back.
  host.send('route 1 1 2');
  await waitForTile(page, display, 'CAM 2');
  assert.deepEqual(page.dialogs, []);
  assert.deepEqual(page.problems, []);
  await page.close();
  assert.deepEqual(await host.endInput(), { code: 0, signal: null }, host.transcript);
});

test('the shell: a router that does not answer is marked on its tiles and in the router strip', guard, async () => {
  const host = await startShell();
  host.send('create mon1', 'send mon1 instance=studio_a_mon_1', 'create mon2', 'send mon2 instance=studio_a_mon_2',
    'create mcr1', 'send mcr1 instance=mcr_out_1');
  const page = await openWall(host);
  await waitForTile(page, 'mcr1', 'STUDIO A PGM');
  assert.deepEqual(await linkStates(page), { 1: 'answers', 2: 'answers' });

  host.send('answer 1 no');
  await page.waitForFunction(() => document.querySelectorAll('.tile.silent').length === 2, null, wait);
  assert.deepEqual((await tiles(page)).map(({ name, mark, silent }) => ({ name, mark, silent })), [
    { name: 'mon1', mark: 'router 1 does not answer', silent: true },
    { name: 'mon2', mark: 'router 1 does not answer', silent: true },
    { name: 'mcr1', mark: '', silent: false },
  ]);
  assert.deepEqual(await linkStates(page), { 1: 'does not answer', 2: 'answers' });

  host.send('answer 1 yes');
  await page.waitForFunction(() => document.querySelectorAll('.tile.silent').length === 0, null, wait);
  assert.deepEqual((await tiles(page)).map(({ mark }) => mark), ['', '', '']);
  assert.deepEqual(await linkStates(page), { 1: 'answers', 2: 'answers' });
  assert.deepEqual(page.problems, []);
  await page.close();
  assert.deepEqual(await host.endInput(), { code: 0, signal: null }, host.transcript);
});

test('serve: the page shows disconnected while the host is down and the whole wall once it is back', guard,
  async () => {
    const first = await startHost(['serve', '--quiet', wallFile('before.toml'), '--http', '127.0.0.1:0']);
    const page = await openWall(first);
    await waitForTile(page, 'mon1', 'CAM 1');
    await waitForTile(page, 'mcr2', 'STUDIO B PGM');
    assert.deepEqual((await tiles(page)).map(({ name }) => name), ['mon1', 'mon2', 'mcr2']);

    assert.deepEqual(await first.terminate(), { code: 0, signal: null }, first.transcript);
    await waitForStatus(page, 'disconnected');

    // The host comes back on the same port with another wall: the page
    // shows that one whole, and nothing of the one before.
    const after = wallFile('after.toml', (text) => text.replace(/\[\[display\]\]\nname = "mcr2"[^[]*/, '') +
      '\n[[display]]\nname = "mv1"\ninstance = "studio_a_mv_in_1"\numd = { index = 4 }\n');
    const second = await startHost(['serve', '--quiet', after, '--http', `127.0.0.1:${first.port}`]);
    await waitForStatus(page, 'connected');
    await waitForTile(page, 'mv1', 'CLEAN FEED');
    assert.deepEqual(await tiles(page), [
      { name: 'mon1', text: 'CAM 1', notified: '\u2192 sourceid=1', mark: '', silent: false },
      { name: 'mon2', text: 'CAM 2', notified: '\u2192 sourceid=2', mark: '', silent: false },
      { name: 'mv1', text: 'CLEAN FEED', notified: '\u2192 sourceid=25', mark: '', silent: false },
    ]);
    assert.deepEqual(await linkStates(page), { 1: 'answers', 2: 'answers' });
    assert.equal(await page.textContent('#counts'), '3 displays');
    // While the host was down the page kept trying, and Chromium logs each
    // refused attempt: those are expected, nothing else is.
    assert.deepEqual(page.problems.filter((problem) => !problem.includes('net::ERR_CONNECTION_REFUSED')), []);
    await page.close();
    assert.deepEqual(await second.terminate(), { code: 0, signal: null }, second.transcript);
  });

test('serve: the sample wall', guard, async () => {
  const host = await startHost(['serve', '--quiet', wallFile('studio.toml'), '--http', '127.0.0.1:0']);
  const page = await openWall(host);
  await waitForTile(page, 'mon1', 'CAM 1');
  await waitForTile(page, 'mon2', 'CAM 2');
  await waitForTile(page, 'mcr2', 'STUDIO B PGM');
  const mcr2 = await page.evaluate(() => {
    const tile = document.querySelectorAll('.tile')[2];
    return { sheet: tile.querySelector('.sheet').textContent, lamps: [...tile.querySelectorAll('.lamp')].map((lamp) => lamp.dataset.colour) };
  });
  assert.deepEqual(mcr2, { sheet: 'umd_alarm', lamps: ['red', 'red', 'off'] });
  assert.deepEqual(await linkStates(page), { 1: 'answers', 2: 'answers' });
  assert.deepEqual(page.problems, []);
  if (process.env.QUON_WEB_SCREENSHOT) {
    await page.setViewportSize({ width: 1000, height: 300 });
    await page.screenshot({ path: process.env.QUON_WEB_SCREENSHOT, fullPage: true });
  }
  await page.close();
  assert.deepEqual(await host.terminate(), { code: 0, signal: null }, host.transcript);
});

// The packets the receiver strip shows for its first receiver; -1 while it
// shows none.
function shownPackets(page) {
  return page.evaluate(() => {
    const found = /(\d+) packets/.exec(document.querySelector('#receivers li')?.textContent ?? '');
    return found ? Number(found[1]) : -1;
  });
}

test('serve: the receiver strip and /api/receivers count every packet as it goes, the link\'s state unchanged', guard,
  async () => {
    // A refresh every 200 ms sends the three displays again and again
    // while the receiver stays "sending".
    const path = wallFile('live.toml', (text) => text.replace(/^refresh = .*$/m, 'refresh = "200ms"'));
    const host = await startHost(['serve', '--quiet', path, '--http', '127.0.0.1:0']);
    const page = await openWall(host);
    await page.waitForFunction(() => /\d+ packets/.test(document.querySelector('#receivers li')?.textContent ?? ''),
      null, wait);
    const first = await shownPackets(page);
    await page.waitForFunction((before) => {
      const found = /(\d+) packets/.exec(document.querySelector('#receivers li').textContent);
      return found !== null && Number(found[1]) >= before + 9;
    }, first, wait);
    assert.equal(await page.textContent('#receivers li .state'), 'sending');
    const shown = await shownPackets(page);
    const api = await (await fetch(new URL('/api/receivers', host.url))).json();
    assert.ok(api[0].packets >= shown, `the API says ${api[0].packets}, the page ${shown}`);
    assert.match(api[0].lastSent, /^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$/);
    // Events carry their time.
    const events = await (await fetch(new URL('/api/events', host.url))).json();
    assert.ok(events.length > 0);
    for (const event of events) assert.match(event.time, /^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$/);
    assert.deepEqual(page.problems, []);
    await page.close();
    assert.deepEqual(await host.terminate(), { code: 0, signal: null }, host.transcript);
  });

// Until the tiles' details lines, in wall order, are `expected`
// ([name, line]...).
async function waitForDetails(page, expected) {
  await page.waitForFunction((wanted) => JSON.stringify([...document.querySelectorAll('.tile')]
    .map((tile) => [tile.dataset.name, tile.querySelector('.where').textContent])) === wanted,
  JSON.stringify(expected), wait);
}

test('serve: details show each display\'s router, destination and TSL index, also after a reload', guard,
  async () => {
    const path = wallFile('details.toml');
    const host = await startHost(['serve', '--quiet', path, '--http', '127.0.0.1:0']);
    const page = await openWall(host);
    await page.check('#details');
    await waitForDetails(page, [['mon1', 'router 1 \u00b7 dst 1 \u00b7 TSL 1'], ['mon2', 'router 1 \u00b7 dst 2 \u00b7 TSL 2'],
      ['mcr2', 'router 2 \u00b7 dst 2 \u00b7 TSL 3']]);
    assert.equal(await page.locator('.tile .where').first().isVisible(), true);

    // mon1 moves to index 9, mon2 is no longer sent, mcr2 watches another
    // destination: SIGHUP applies the difference, and the page follows.
    wallFile('details.toml', (text) => text.replace('umd = { index = 1 }', 'umd = { index = 9 }')
      .replace('umd = { index = 2 }\n', '').replace('destination = 2', 'destination = 5'));
    host.process.kill('SIGHUP');
    await waitForDetails(page, [['mon1', 'router 1 \u00b7 dst 1 \u00b7 TSL 9'], ['mon2', 'router 1 \u00b7 dst 2'],
      ['mcr2', 'router 2 \u00b7 dst 5 \u00b7 TSL 3']]);
    assert.deepEqual(page.problems, []);
    await page.close();
    assert.deepEqual(await host.terminate(), { code: 0, signal: null }, host.transcript);
  });

// The control API on a wall of the Tally template (examples/components/tally):
// two lamps that watch no router, and a [control] token.
const tallyModule = process.env.QUON_TALLY;
const tallyPanels = process.env.QUON_TALLY_PANELS;
const firstToken = 'first-token-of-the-wall';
const secondToken = 'second-token-of-the-wall';

function tallyWall(name, token, more = []) {
  const path = join(scratch, name);
  writeFileSync(path, [
    '[[display]]', 'name = "cam#1"', `module = ${JSON.stringify(tallyModule)}`, 'parent = ["camera=1,1"]', '',
    '[[display]]', 'name = "cam2"', `module = ${JSON.stringify(tallyModule)}`, 'parent = ["camera=1,2"]', '',
    '[tally.tally_on]', 'left = "red"', '', '[tally.tally_off]', 'left = "off"', '',
    ...(token ? ['[control]', `token = "${token}"`] : []), '', ...more, ''].join('\n'));
  return path;
}

function startTallyHost(path, options) {
  return startHost(['--panels', tallyPanels, 'serve', '--quiet', path, '--http', '127.0.0.1:0'], options);
}

// POST /api/displays/NAME/ACTION with `token`: [status, body].
async function control(host, name, action, body, token) {
  const response = await fetch(new URL(`/api/displays/${encodeURIComponent(name)}/${action}`, host.url), {
    method: 'POST', headers: { Authorization: `Bearer ${token}` }, body,
  });
  return [response.status, await response.text()];
}

const withTally = { ...guard, skip: tallyModule && tallyPanels ? false : 'QUON_TALLY and QUON_TALLY_PANELS not set' };

test('serve: with the token, the page presses a display\'s button and sends a parent command', withTally,
  async () => {
    const host = await startTallyHost(tallyWall('control.toml', firstToken));
    const page = await openWall(host);
    await waitForTile(page, 'cam#1', 'CAM 1');
    // Read-only until the operator gives the token.
    assert.equal(await page.locator('.tile .press').first().isVisible(), false);
    await page.fill('#token', firstToken);
    await page.click('#unlock button');
    const cam1 = page.locator('.tile[data-name="cam#1"]');
    await cam1.locator('.press').click();
    await page.waitForFunction(() => {
      const tile = document.querySelector('.tile[data-name="cam#1"]');
      return tile.querySelector('.sheet').textContent === 'tally_on' && tile.querySelector('.lamp').dataset.colour === 'red';
    }, null, wait);
    assert.equal(await cam1.locator('.notified').textContent(), '\u2192 tally=1');
    assert.equal(await page.locator('.tile[data-name="cam2"] .sheet').textContent(), 'tally_off');

    // A parent command, and the component's reply.
    await cam1.locator('.command').fill('return=tally');
    await cam1.locator('.send').click();
    await page.waitForFunction(() => document.querySelector('.tile[data-name="cam#1"] .reply').textContent ===
      '\u2190 tally=1', null, wait);
    await cam1.locator('.command').fill('tally=0');
    await cam1.locator('.command').press('Enter');
    await page.waitForFunction(() => document.querySelector('.tile[data-name="cam#1"] .sheet').textContent ===
      'tally_off', null, wait);
    await host.waitForLine(/control: 127\.0\.0\.1:\d+ POST \/api\/displays\/cam%231\/button "myMimic": 200 \(control\)$/);

    // A line-up of the displays the filter shows: cam2 alone, every lamp,
    // then its own name; ended, it shows what it did.
    const lamps = (name) => page.evaluate((n) => [...document.querySelectorAll(`.tile[data-name="${n}"] .lamp`)]
      .map((lamp) => lamp.dataset.colour).join(' '), name);
    await page.fill('#filter', 'cam2');
    await page.selectOption('#lineup-mode', 'lamps');
    await page.fill('#lineup-for', '1m');
    await page.click('#lineup button');
    await page.waitForFunction(() => [...document.querySelectorAll('.tile[data-name="cam2"] .lamp')]
      .map((lamp) => lamp.dataset.colour).join(' ') === 'red amber green', null, wait);
    assert.equal(await lamps('cam#1'), 'off off off');
    await page.selectOption('#lineup-mode', 'name');
    await page.click('#lineup button');
    await page.waitForFunction(() => document.querySelector('.tile[data-name="cam2"] .text').textContent === 'cam2',
      null, wait);
    await page.selectOption('#lineup-mode', 'off');
    await page.click('#lineup button');
    await page.waitForFunction(() => document.querySelector('.tile[data-name="cam2"] .text').textContent === 'CAM 2',
      null, wait);
    assert.equal(await page.locator('#control-note').textContent(), '');
    assert.deepEqual(page.problems, []);
    await page.close();
    assert.deepEqual(await host.terminate(), { code: 0, signal: null }, host.transcript);
  });

test('serve: a token changed by a reload takes effect, and the page holding the old one ends control', withTally,
  async () => {
    const path = tallyWall('reload.toml', firstToken);
    const host = await startTallyHost(path);
    const page = await openWall(host);
    await waitForTile(page, 'cam2', 'CAM 2');
    assert.deepEqual(await control(host, 'cam2', 'parent', 'return=tally', firstToken), [200, 'tally=0']);
    await page.fill('#token', firstToken);
    await page.click('#unlock button');

    tallyWall('reload.toml', secondToken);
    host.process.kill('SIGHUP');
    const until = Date.now() + wait.timeout;
    while ((await control(host, 'cam2', 'parent', 'return=tally', secondToken))[0] !== 200) {
      assert.ok(Date.now() < until, `the new token was never taken:\n${host.transcript}`);
      await new Promise((resolve) => setTimeout(resolve, 50));
    }
    assert.equal((await control(host, 'cam2', 'parent', 'return=tally', firstToken))[0], 401);
    await page.locator('.tile[data-name="cam2"] .press').click();
    await page.waitForFunction(() => document.getElementById('control-note').textContent ===
      'wrong token: control ended', null, wait);
    assert.equal(await page.locator('.tile .press').first().isVisible(), false);
    assert.equal(await page.locator('#unlock').isVisible(), true);

    // Without [control], control is off, and the page offers none.
    tallyWall('reload.toml', '');
    host.process.kill('SIGHUP');
    await page.waitForFunction(() => document.getElementById('unlock').hidden, null, wait);
    assert.deepEqual(await control(host, 'cam2', 'parent', 'return=tally', secondToken),
      [403, 'control is off (the wall file\'s [control])\n']);
    await page.close();
    assert.deepEqual(await host.terminate(), { code: 0, signal: null }, host.transcript);
  });

test('serve: the standby of a pair refuses control, saying so, on the API and on the page', withTally, async () => {
  // 192.0.2.50 (TEST-NET-1) is assigned to no interface here: the host stays standby.
  const host = await startTallyHost(tallyWall('standby.toml', firstToken, ['[pair]', 'active_address = "192.0.2.50"']));
  const page = await openWall(host);
  await waitForTile(page, 'cam2', 'CAM 2');
  await page.waitForFunction(() => !document.getElementById('role').hidden, null, wait);
  const refusal = 'this host is the standby of a pair: send control to the active host\n';
  assert.deepEqual(await control(host, 'cam2', 'parent', 'tally=1', firstToken), [503, refusal]);
  await page.fill('#token', firstToken);
  await page.click('#unlock button');
  await page.locator('.tile[data-name="cam2"] .press').click();
  await page.waitForFunction((expected) => document.querySelector('.tile[data-name="cam2"] .reply').textContent ===
    expected, `503: ${refusal.trim()}`, wait);
  assert.equal(await page.locator('.tile[data-name="cam2"] .sheet').textContent(), 'tally_off');
  await page.close();
  assert.deepEqual(await host.terminate(), { code: 0, signal: null }, host.transcript);
});

// One GET through node's `module` (http or https) on a connection of its
// own, no redirect followed: [status, headers].
function getOnce(module, url, options = {}) {
  return new Promise((resolve, reject) => {
    module.get(url, { agent: false, ...options }, (response) => {
      response.resume();
      resolve([response.statusCode, response.headers]);
    }).on('error', reject);
  });
}

test('serve over HTTPS: the page live over wss with a test CA, control with the token, plain HTTP redirected',
  withTally, async (t) => {
    // A CA of the test's own, and the wall's certificate from it for the
    // loopback address and localhost.
    const openssl = (...args) => execFileSync('openssl', args, { cwd: scratch, stdio: 'pipe' });
    const newKey = ['-newkey', 'ec', '-pkeyopt', 'ec_paramgen_curve:P-256', '-nodes', '-days', '1'];
    openssl('req', '-x509', ...newKey, '-keyout', 'ca.key', '-out', 'ca.pem', '-subj', '/CN=quon-host test CA');
    openssl('req', '-x509', ...newKey, '-CA', 'ca.pem', '-CAkey', 'ca.key', '-keyout', 'wall.key', '-out', 'wall.pem',
      '-subj', '/CN=quon-host test wall', '-addext', 'subjectAltName=IP:127.0.0.1,DNS:localhost',
      '-addext', 'basicConstraints=critical,CA:FALSE');
    const viewToken = 'view-token-of-the-wall';
    const host = await startTallyHost(tallyWall('https.toml', firstToken,
      ['[page]', 'certificate = "wall.pem"', 'key = "wall.key"', `view_token = "${viewToken}"`]), { secure: true });
    assert.equal(host.url, `https://127.0.0.1:${host.port}/`);
    assert.match(host.certificate, /^\/CN=quon-host test wall, until \d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$/);

    // Node trusts the test CA alone.
    const ca = readFileSync(join(scratch, 'ca.pem'));
    const [status, headers] = await getOnce(https, host.url, { ca });
    assert.equal(status, 401);
    assert.equal(headers['strict-transport-security'], 'max-age=31536000');
    const [plainStatus, plainHeaders] = await getOnce(http, `http://127.0.0.1:${host.port}/`);
    assert.equal(plainStatus, 308);
    assert.equal(plainHeaders.location, host.url);

    // Chromium is told to accept the wall's key alone (its flag matches the
    // keys of the certificates served, which do not include the CA's), so
    // that any other certificate fails the page.
    const spki = new X509Certificate(readFileSync(join(scratch, 'wall.pem'))).publicKey
      .export({ type: 'spki', format: 'der' });
    const pinned = await launchChromium('chromium-https',
      [`--ignore-certificate-errors-spki-list=${createHash('sha256').update(spki).digest('base64')}`]);
    t.after(() => pinned.close());
    const page = await newPage(pinned);
    const sockets = [];
    page.on('websocket', (socket) => sockets.push(socket.url()));
    await page.goto(host.url);
    await page.fill('input[name="token"]', viewToken);
    await page.click('form button');
    await waitForStatus(page, 'connected');
    await waitForTile(page, 'cam#1', 'CAM 1');
    assert.deepEqual(sockets, [`wss://127.0.0.1:${host.port}/ws`]);

    await page.fill('#token', firstToken);
    await page.click('#unlock button');
    await page.locator('.tile[data-name="cam#1"] .press').click();
    await page.waitForFunction(() => document.querySelector('.tile[data-name="cam#1"] .sheet').textContent ===
      'tally_on', null, wait);
    await host.waitForLine(/control: 127\.0\.0\.1:\d+ POST \/api\/displays\/cam%231\/button "myMimic": 200 \(control\)$/);

    // A reload that changes the view token closes the page, which asks for
    // the new one.
    tallyWall('https.toml', firstToken,
      ['[page]', 'certificate = "wall.pem"', 'key = "wall.key"', 'view_token = "another-view-token-of-it"']);
    host.process.kill('SIGHUP');
    await page.waitForSelector('input[name="token"]', wait);
    // The form's own answers, each a 401, are the one thing Chromium
    // complains of.
    assert.ok(page.problems.length >= 2 && page.problems.every((problem) =>
      problem === 'Failed to load resource: the server responded with a status of 401 (Unauthorized)'),
    page.problems.join('\n'));
    await page.close();
    assert.deepEqual(await host.terminate(), { code: 0, signal: null }, host.transcript);
  });
