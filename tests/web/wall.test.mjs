// The wall page in Chromium, against web_fixture_server on loopback.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { createInterface } from 'node:readline';
import { chromium } from 'playwright-core';

const fixturePath = process.env.QUON_WEB_FIXTURE;
const chromiumPath = process.env.QUON_CHROMIUM || '/usr/bin/chromium';
const guard = { timeout: 120000 };  // against hangs only

// One web_fixture_server: its port, and a command channel that waits for
// each "ok".
class Fixture {
  static async start(port) {
    const fixture = new Fixture();
    fixture.process = spawn(fixturePath, port ? ['--port', String(port)] : [], { stdio: ['pipe', 'pipe', 'inherit'] });
    fixture.exited = new Promise((resolve) => fixture.process.on('exit', resolve));
    fixture.lines = [];
    fixture.waiting = [];
    createInterface({ input: fixture.process.stdout }).on('line', (line) => {
      const waiter = fixture.waiting.shift();
      if (waiter) waiter(line);
      else fixture.lines.push(line);
    });
    fixture.port = Number(await fixture.nextLine());
    assert.ok(fixture.port > 0, 'the fixture prints its port');
    return fixture;
  }

  nextLine() {
    if (this.lines.length) return Promise.resolve(this.lines.shift());
    return new Promise((resolve) => this.waiting.push(resolve));
  }

  async send(...commands) {
    for (const command of commands) {
      this.process.stdin.write(JSON.stringify(command) + '\n');
      assert.equal(await this.nextLine(), 'ok', JSON.stringify(command));
    }
  }

  get url() { return `http://127.0.0.1:${this.port}/`; }

  async stop() {
    this.process.stdin.end();
    await this.exited;
  }
}

let browser;
let profile;
const fixtures = [];

before(async () => {
  profile = mkdtempSync(join(tmpdir(), 'quon-web-chromium-'));
  browser = await chromium.launchPersistentContext(profile, {
    executablePath: chromiumPath,
    headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
    viewport: { width: 1280, height: 800 },
  });
});

after(async () => {
  await browser?.close();
  for (const fixture of fixtures) if (fixture.process.exitCode === null) fixture.process.kill();
  if (profile) rmSync(profile, { recursive: true, force: true });
});

async function startFixture(port) {
  const fixture = await Fixture.start(port);
  fixtures.push(fixture);
  return fixture;
}

// A page that records its script errors and console complaints (a blocked
// script or style shows there).
async function openWall(fixture) {
  const page = await browser.newPage();
  page.problems = [];
  page.dialogs = [];
  page.on('pageerror', (error) => page.problems.push(String(error)));
  page.on('console', (message) => { if (message.type() === 'error') page.problems.push(message.text()); });
  page.on('dialog', async (dialog) => { page.dialogs.push(dialog.message()); await dialog.dismiss(); });
  page.response = await page.goto(fixture.url);
  await waitForStatus(page, 'connected');
  return page;
}

function waitForStatus(page, status) {
  return page.waitForFunction((expected) => document.getElementById('status').textContent === expected, status,
    { timeout: 20000 });
}

// The text of the named display's tile once it shows `text`.
function waitForTile(page, name, text) {
  return page.waitForFunction(([wanted, expected]) => {
    const tile = [...document.querySelectorAll('.tile')].find((candidate) => candidate.dataset.name === wanted);
    return tile !== undefined && tile.querySelector('.text').textContent === expected;
  }, [name, text], { timeout: 20000 });
}

function tileNames(page) {
  return page.evaluate(() => [...document.querySelectorAll('.tile')].map((tile) => tile.dataset.name));
}

test('an update appears in the right tile', guard, async () => {
  const fixture = await startFixture();
  await fixture.send({ op: 'many', count: 3, prefix: 'MON ', text: 'CAM ' });
  const page = await openWall(fixture);
  await fixture.send({ op: 'tile', name: 'MON 2', text: 'VT 42', left: 'red', notified: 'sourceid=42' });
  await waitForTile(page, 'MON 2', 'VT 42');
  const tiles = await page.evaluate(() => [...document.querySelectorAll('.tile')].map((tile) => ({
    name: tile.querySelector('.name').textContent,
    text: tile.querySelector('.text').textContent,
    left: tile.querySelector('.lamp').dataset.colour,
    notified: tile.querySelector('.notified').textContent,
  })));
  assert.deepEqual(tiles, [
    { name: 'MON 1', text: 'CAM 1', left: 'off', notified: '' },
    { name: 'MON 2', text: 'VT 42', left: 'red', notified: '\u2192 sourceid=42' },
    { name: 'MON 3', text: 'CAM 3', left: 'off', notified: '' },
  ]);
  assert.deepEqual(page.problems, []);
  await page.close();
  await fixture.stop();
});

test('a renamed display keeps its place under its new name', guard, async () => {
  const fixture = await startFixture();
  await fixture.send({ op: 'many', count: 3, prefix: 'MON ', text: 'CAM ' });
  const page = await openWall(fixture);
  await fixture.send({ op: 'remove', name: 'MON 2' }, { op: 'tile', name: 'Studio B', text: 'CAM 2' },
    { op: 'order', names: ['MON 1', 'Studio B', 'MON 3'] });
  await page.waitForFunction(() => document.querySelectorAll('.tile')[1]?.dataset.name === 'Studio B');
  assert.deepEqual(await tileNames(page), ['MON 1', 'Studio B', 'MON 3']);
  assert.equal(await page.locator('.tile .name').nth(1).textContent(), 'Studio B');
  assert.equal(await page.textContent('#counts'), '3 displays');
  await page.close();
  await fixture.stop();
});

test('a name or text with markup shows literally and runs nothing', guard, async () => {
  const fixture = await startFixture();
  const name = '<img src=x onerror=alert(1)>';
  const text = '<script>alert(2)</script> &amp; <b>bold</b>';
  await fixture.send({ op: 'tile', name, text, statesheet: '<i>sheet</i>', notified: '"><svg onload=alert(3)>' },
    { op: 'link', device: 1, name: '<u>router</u>', state: 'lost', detail: '<img src=y onerror=alert(4)>' },
    { op: 'event', text: '<img src=z onerror=alert(5)>' });
  const page = await openWall(fixture);
  await waitForTile(page, name, text);
  const shown = await page.evaluate(() => ({
    name: document.querySelector('.tile .name').textContent,
    sheet: document.querySelector('.tile .sheet').textContent,
    elements: document.querySelectorAll('main img, main script, main b, main i, main svg, #links u, #links img, #events img').length,
    link: document.querySelector('#links li').textContent,
    event: document.querySelector('#events li .event-text').textContent,
  }));
  assert.equal(shown.name, name);
  assert.equal(shown.sheet, '<i>sheet</i>');
  assert.equal(shown.elements, 0);
  assert.match(shown.link, /<u>router<\/u>.*<img src=y onerror=alert\(4\)>/);
  assert.equal(shown.event, '<img src=z onerror=alert(5)>');
  assert.deepEqual(page.dialogs, []);
  const policy = page.response.headers()['content-security-policy'];
  assert.match(policy, /script-src 'self'/);
  assert.doesNotMatch(policy, /unsafe-inline/);
  assert.deepEqual(page.problems, []);
  await page.close();
  await fixture.stop();
});

test('a display whose router does not answer is marked', guard, async () => {
  const fixture = await startFixture();
  await fixture.send({ op: 'tile', name: 'MON 1', text: 'CAM 1', router: 3 },
    { op: 'link', device: 3, name: 'Studio router', protocol: 'SW-P-08', state: 'connected', size: 64 });
  const page = await openWall(fixture);
  await fixture.send({ op: 'tile', name: 'MON 1', text: 'CAM 1', router: 3, routerSilent: true },
    { op: 'link', device: 3, name: 'Studio router', protocol: 'SW-P-08', state: 'does not answer', size: 64,
      detail: 'retry in 5 s' });
  await page.waitForFunction(() => document.querySelector('.tile').classList.contains('silent'));
  assert.equal(await page.textContent('.tile .mark'), 'router 3 does not answer');
  await page.waitForFunction(() => document.querySelector('#links li').dataset.state === 'does not answer');
  assert.match(await page.textContent('#links li'), /Studio router #3 SW-P-08: does not answer · 64 destinations · retry in 5 s/);

  await fixture.send({ op: 'tile', name: 'MON 1', text: 'CAM 1', router: 3, routerSilent: false });
  await page.waitForFunction(() => !document.querySelector('.tile').classList.contains('silent'));
  assert.equal(await page.textContent('.tile .mark'), '');
  await page.close();
  await fixture.stop();
});

test('a router up without part of its state shows what did not come', guard, async () => {
  const fixture = await startFixture();
  await fixture.send({ op: 'link', device: 1, name: 'Provider', protocol: 'Ember+', state: 'connected', size: 16,
    detail: '127.0.0.1:9000', missing: ["the sources' labels (path 0.2.2) did not come; showing numbers"] });
  const page = await openWall(fixture);
  await page.waitForFunction(() => document.querySelector('#links li') !== null);
  assert.match(await page.textContent('#links li'),
    /connected · 16 destinations · 127\.0\.0\.1:9000 · the sources' labels \(path 0\.2\.2\) did not come; showing numbers/);
  await page.close();
  await fixture.stop();
});

test('every TSL receiver and tally input shows with its state, and one that is down is marked', guard, async () => {
  const fixture = await startFixture();
  await fixture.send({ op: 'receivers', list: [
    { to: 'tsl5+udp://127.0.0.1:9000', state: 'sending', lastSent: '2026-12-08T15:04:05Z', packets: 232 }] });
  await fixture.send({ op: 'tallyInputs', list: [
    { name: 'mixer1', listen: 'tsl5+udp://127.0.0.1:8910', up: true, lastPacket: '2026-12-08T15:04:05.250Z',
      packets: 40, changes: 6, unmapped: 2 }] });
  const page = await openWall(fixture);
  await page.waitForSelector('#tally-inputs li');
  assert.equal(await page.textContent('#tally-inputs li'), 'tally mixer1 tsl5+udp://127.0.0.1:8910: up · ' +
    'last packet 2026-12-08T15:04:05.250Z · 40 packets · 6 changes · 2 unmapped');
  await fixture.send({ op: 'tallyInputs', list: [
    { name: 'mixer1', listen: 'tsl5+udp://127.0.0.1:8910', up: false, lastPacket: '2026-12-08T15:04:05.250Z',
      packets: 41, changes: 6, unmapped: 2, unreadable: 1 }] });
  await page.waitForFunction(() => document.querySelector('#tally-inputs li').dataset.state === 'lost');
  assert.equal(await page.textContent('#tally-inputs li .state'), 'down');
  await page.waitForSelector('#receivers li');
  assert.equal(await page.textContent('#receivers li'),
    'tsl5+udp://127.0.0.1:9000: sending · last sent 2026-12-08T15:04:05Z · 232 packets');
  await fixture.send({ op: 'receivers', list: [
    { to: 'tsl5+udp://127.0.0.1:9000', state: 'sending', lastSent: '2026-12-08T15:04:05Z', packets: 232 },
    { to: 'tsl5+tcp://127.0.0.1:9001', state: 'refused', detail: 'connection refused; retrying in 2 s', errors: 3,
      down: true }] });
  await page.waitForFunction(() => document.querySelectorAll('#receivers li').length === 2);
  assert.equal(await page.getAttribute('#receivers li:nth-child(2)', 'data-state'), 'lost');
  assert.equal(await page.textContent('#receivers li:nth-child(2)'),
    'tsl5+tcp://127.0.0.1:9001: refused · connection refused; retrying in 2 s · nothing sent · 3 errors');
  await page.close();
  await fixture.stop();
});

test('a standby host says so, at once and when its role changes', guard, async () => {
  const fixture = await startFixture();
  await fixture.send({ op: 'role', role: 'standby' });
  await fixture.send({ op: 'receivers', list: [
    { to: 'tsl5+tcp://127.0.0.1:9001', state: 'standby', detail: 'sends nothing while this host is standby' }] });
  const page = await openWall(fixture);
  assert.equal(await page.isVisible('#role'), true);
  assert.equal(await page.textContent('#role'), 'standby');
  await page.waitForSelector('#receivers li');
  assert.equal(await page.getAttribute('#receivers li', 'data-state'), 'standby');
  await fixture.send({ op: 'role', role: 'active' });
  await page.waitForFunction(() => document.getElementById('role').hidden);
  await fixture.send({ op: 'role', role: 'standby' });
  await page.waitForFunction(() => !document.getElementById('role').hidden);
  assert.deepEqual(page.problems, []);
  await page.close();
  await fixture.stop();
});

test('the page shows disconnected, reconnects after a restart and shows the new state', guard, async () => {
  const first = await startFixture();
  await first.send({ op: 'tile', name: 'MON 1', text: 'before restart' });
  const page = await openWall(first);
  await waitForTile(page, 'MON 1', 'before restart');
  await first.stop();
  await waitForStatus(page, 'disconnected');

  const second = await startFixture(first.port);
  await second.send({ op: 'tile', name: 'MON 9', text: 'after restart' }, { op: 'event', text: 'host restarted' });
  await waitForStatus(page, 'connected');
  await waitForTile(page, 'MON 9', 'after restart');
  assert.deepEqual(await tileNames(page), ['MON 9']);
  // The event may come in an update of its own, after the tile's.
  await page.waitForFunction(() => document.querySelector('#events li .event-text')?.textContent === 'host restarted', null,
                             { timeout: 20000 });
  await page.close();
  await second.stop();
});

test('a tally page follows its display in colour and word, and says when it lost the host', guard, async () => {
  const first = await startFixture();
  await first.send({ op: 'tile', name: 'CAM 1', text: 'STUDIO A' }, { op: 'tile', name: 'CAM 2', text: 'STUDIO B' });
  const page = await browser.newPage();
  page.problems = [];
  page.on('pageerror', (error) => page.problems.push(String(error)));
  const missing = await page.goto(first.url + 'tally/CAM%209');
  assert.equal(missing.status(), 404);
  assert.equal(await page.textContent('.state'), 'not on this wall');
  await page.goto(first.url + 'tally/CAM%201');
  const shows = (tally, word) => page.waitForFunction(([t, w]) => document.body.dataset.tally === t &&
    document.getElementById('state').textContent === w, [tally, word], { timeout: 20000 });
  await shows('off', 'off');
  assert.equal(await page.textContent('#who'), 'CAM 1');
  await first.send({ op: 'tile', name: 'CAM 1', text: 'STUDIO A', tally: 'program' });
  await shows('program', 'program');
  await first.send({ op: 'tile', name: 'CAM 1', text: 'STUDIO A', tally: 'flash' });
  await shows('unknown', 'flash');
  await first.stop();
  await page.waitForFunction(() => document.body.dataset.connection === 'lost' &&
    document.getElementById('link').textContent.startsWith('lost the host'), null, { timeout: 20000 });
  assert.equal(await page.getAttribute('body', 'data-tally'), 'unknown', 'no colour it cannot vouch for');

  const second = await startFixture(first.port);
  await second.send({ op: 'tile', name: 'CAM 1', text: 'STUDIO A', tally: 'preview' });
  await shows('preview', 'preview');
  assert.equal(await page.textContent('#link'), '');
  assert.deepEqual(page.problems, []);
  await page.close();
  await second.stop();
});

test('a thousand tiles render, update, and cut a text too long for two lines', guard, async () => {
  const fixture = await startFixture();
  await fixture.send({ op: 'many', count: 1000, prefix: 'MON ', text: 'SRC ' });
  const page = await openWall(fixture);
  assert.equal(await page.locator('.tile').count(), 1000);
  await fixture.send({ op: 'many', count: 1000, prefix: 'MON ', text: 'NEXT ' });
  await waitForTile(page, 'MON 1000', 'NEXT 1000');
  await waitForTile(page, 'MON 1', 'NEXT 1');
  const long = 'A VERY LONG SOURCE NAME THAT CANNOT FIT IN ONE TILE';
  await fixture.send({ op: 'tile', name: 'MON 500', text: long });
  await waitForTile(page, 'MON 500', long);
  // Too long for two lines at the smallest size: cut after the second line,
  // whole in the tooltip.
  const cut = await page.evaluate(() => {
    const text = document.querySelectorAll('.tile')[499].querySelector('.text');
    return { overflows: text.scrollHeight > text.clientHeight, lines: getComputedStyle(text).webkitLineClamp,
      title: text.title };
  });
  assert.deepEqual(cut, { overflows: true, lines: '2', title: long });
  assert.equal(await page.textContent('#counts'), '1000 displays');
  await page.close();
  await fixture.stop();
});

test('the wall fits a narrow window', guard, async () => {
  const fixture = await startFixture();
  await fixture.send({ op: 'many', count: 20, prefix: 'Monitor ', text: 'Camera ' },
    { op: 'link', device: 1, name: 'Router with a rather long name', protocol: 'SW-P-08', state: 'connecting',
      size: 1024, detail: 'connection refused, retry in 30 s' });
  const page = await openWall(fixture);
  await page.setViewportSize({ width: 360, height: 740 });
  const widths = await page.evaluate(() => ({ page: document.documentElement.scrollWidth, window: window.innerWidth }));
  assert.ok(widths.page <= widths.window, `page ${widths.page} px in a ${widths.window} px window`);
  await page.close();
  await fixture.stop();
});

test('a sample wall', guard, async () => {
  const fixture = await startFixture();
  const sources = ['CAM 1', 'CAM 2', 'CAM 3', 'CAM 4 JIB', 'VT 1', 'VT 2', 'GFX 1', 'REMOTE BBC', 'SAT 2',
    'STUDIO B PGM', 'BLACK', 'BARS', 'CAM 5 RF', 'SERVER A1', 'MULTIVIEW', 'NEWS 24 CLEAN FEED'];
  const commands = sources.map((text, i) => ({
    op: 'tile',
    name: `MON ${i + 1}`,
    text,
    statesheet: ['', 'onair', 'preview', 'alarm'][i % 4],
    left: i === 1 ? 'red' : 'off',
    centre: i === 5 ? 'green' : 'off',
    right: i === 9 ? 'amber' : 'off',
    notified: `sourceid=${i + 1}`,
    router: i < 12 ? 1 : 2,
    routerSilent: i >= 12,
  }));
  commands.push(
    { op: 'link', device: 1, name: 'Studio router', protocol: 'SW-P-08', state: 'connected', size: 256 },
    { op: 'link', device: 2, name: 'MCR router', protocol: 'Videohub', state: 'does not answer', size: 72,
      detail: 'retry in 5 s' },
    { op: 'event', text: '00:41:02 MON 2 source CAM 2 (sourceid=2)' },
    { op: 'event', text: '00:41:03 router 2 does not answer, retry in 5 s' },
    { op: 'event', text: '00:41:07 MON 10 tally right amber' });
  await fixture.send(...commands);
  const page = await openWall(fixture);
  await waitForTile(page, 'MON 16', 'NEWS 24 CLEAN FEED');
  assert.equal(await page.locator('.tile.silent').count(), 4);
  assert.equal(await page.locator('.lamp[data-colour="red"]').count(), 1);
  assert.deepEqual(page.problems, []);
  await page.close();
  await fixture.stop();
});

test('a warning said again shows once with its count and pushes no event out', guard, async () => {
  const fixture = await startFixture();
  await fixture.send({ op: 'event', text: 'router 1: connected' },
    { op: 'event', text: 'warning: mon1: no router 3', counted: true }, { op: 'event', text: 'mon2 created' });
  const page = await openWall(fixture);
  await page.waitForFunction(() => document.querySelectorAll('#events li').length === 3, null, { timeout: 20000 });
  const again = [];
  for (let i = 0; i < 60; i++) again.push({ op: 'event', text: 'warning: mon1: no router 3', counted: true });
  await fixture.send(...again);
  await page.waitForFunction(() => document.getElementById('events').textContent.includes('(said 61 times)'), null,
    { timeout: 20000 });
  const texts = await page.locator('#events .event-text').allTextContents();
  assert.deepEqual(texts, ['router 1: connected', 'mon2 created', 'warning: mon1: no router 3 (said 61 times)']);
  await page.close();
  await fixture.stop();
});

test('each event shows its number whole and its time', guard, async () => {
  const fixture = await startFixture();
  const events = [];
  for (let i = 1; i <= 12; i++) events.push({ op: 'event', text: `event ${i}` });
  await fixture.send(...events);
  const page = await openWall(fixture);
  await page.waitForFunction(() => document.querySelectorAll('#events li').length === 12, null, { timeout: 20000 });
  const shown = await page.evaluate(() => {
    const list = document.getElementById('events').getBoundingClientRect();
    return [...document.querySelectorAll('#events li')].map((item) => {
      const number = item.querySelector('.sequence');
      const box = number.getBoundingClientRect();
      return {
        number: number.textContent,
        // The whole number lies inside the list, its first digit too.
        inside: box.left >= list.left && box.right <= list.right && number.scrollWidth <= number.clientWidth,
        time: item.querySelector('time').dateTime,
        text: item.querySelector('.event-text').textContent,
      };
    });
  });
  assert.deepEqual(shown.map((e) => [e.number, e.text]), events.map((e, i) => [String(i + 1), e.text]));
  assert.ok(shown.every((e) => e.inside), JSON.stringify(shown));
  assert.ok(shown.every((e) => /^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$/.test(e.time)), JSON.stringify(shown));
  await page.close();
  await fixture.stop();
});

test('a display whose screen shows its router lost says how', guard, async () => {
  const fixture = await startFixture();
  await fixture.send({ op: 'tile', name: 'MON 1', text: 'CAM 1', router: 2, marked: 'mark' });
  const page = await openWall(fixture);
  await waitForTile(page, 'MON 1', 'CAM 1');
  const tile = page.locator('.tile[data-name="MON 1"]');
  assert.equal(await tile.getAttribute('data-marked'), 'mark');
  assert.equal(await tile.locator('.mark').textContent(), 'screen marked: router lost');
  await fixture.send({ op: 'tile', name: 'MON 1', text: 'CAM 1', router: 2 });
  await page.waitForFunction(() => !document.querySelector('.tile[data-name="MON 1"]').dataset.marked, null,
    { timeout: 20000 });
  assert.equal(await tile.locator('.mark').textContent(), '');
  await page.close();
  await fixture.stop();
});

test('a display its router cannot show says why, beside its mark', guard, async () => {
  const fixture = await startFixture();
  await fixture.send({ op: 'tile', name: 'MON 13', text: 'CAM 13', router: 1, destination: 13, marked: 'mark',
    watchProblem: 'watches destination 13; router 1 reports 12' });
  const page = await openWall(fixture);
  await waitForTile(page, 'MON 13', 'CAM 13');
  const tile = page.locator('.tile[data-name="MON 13"]');
  assert.equal(await tile.locator('.mark').textContent(),
    'watches destination 13; router 1 reports 12 \u00b7 screen marked: router lost');
  await fixture.send({ op: 'tile', name: 'MON 13', text: 'CAM 13', router: 1, destination: 13 });
  await page.waitForFunction(() => document.querySelector('.tile[data-name="MON 13"] .mark').textContent === '', null,
    { timeout: 20000 });
  await page.close();
  await fixture.stop();
});

test('a lit tile shows program by its edge and a word, and the on-air filter keeps it alone', guard, async () => {
  const fixture = await startFixture();
  await fixture.send({ op: 'tile', name: 'MON 1', text: 'CAM 1', tally: 'program', tallyWhy: 'mixer1 index 1' },
    { op: 'tile', name: 'MON 2', text: 'CAM 2', tally: 'preview' }, { op: 'tile', name: 'MON 3', text: 'CAM 3' });
  const page = await openWall(fixture);
  await waitForTile(page, 'MON 3', 'CAM 3');
  const tile = page.locator('.tile[data-name="MON 1"]');
  assert.equal(await tile.locator('.tally').textContent(), 'PROGRAM');
  assert.equal(await tile.locator('.tally').getAttribute('title'), 'mixer1 index 1');
  assert.equal(await tile.evaluate((t) => getComputedStyle(t).borderLeftWidth), '6px');
  assert.equal(await page.locator('.tile[data-name="MON 2"] .tally').textContent(), 'PREVIEW');
  await page.locator('#onair').check();
  await page.waitForFunction(() => document.querySelectorAll('.tile:not([hidden])').length === 1, null,
    { timeout: 20000 });
  assert.deepEqual(await shownNames(page), ['MON 1']);
  assert.match(page.url(), /onair=1/);
  await page.close();
  await fixture.stop();
});

// The names of the tiles the page shows, in wall order.
function shownNames(page) {
  return page.evaluate(() => [...document.querySelectorAll('.tile')].filter((tile) => tile.checkVisibility())
    .map((tile) => tile.dataset.name));
}

function waitForShown(page, names) {
  return page.waitForFunction((expected) => JSON.stringify([...document.querySelectorAll('.tile')]
    .filter((tile) => tile.checkVisibility()).map((tile) => tile.dataset.name)) === expected,
  JSON.stringify(names), { timeout: 20000 });
}

test('the filter narrows by name, text and router, follows live changes and survives a reload', guard, async () => {
  const fixture = await startFixture();
  await fixture.send(
    { op: 'tile', name: 'MON 1', text: 'CAM 1', router: 1 },
    { op: 'tile', name: 'MON 2', text: 'VT 42', router: 2 },
    { op: 'tile', name: 'PGM A', text: 'BARS' },
    { op: 'tile', name: 'MON 12', text: 'BLACK', router: 3 },
    { op: 'link', device: 1, name: 'Studio router', state: 'connected' },
    { op: 'link', device: 2, name: 'Gallery router', state: 'connected' },
    { op: 'link', device: 3, name: 'MCR', state: 'connected' });
  const page = await openWall(fixture);
  await waitForTile(page, 'MON 12', 'BLACK');
  assert.equal(await page.textContent('#counts'), '4 displays');

  const cases = [
    ['pgm', ['PGM A']],              // a name, in another case
    ['vt 4', ['MON 2']],             // a text
    ['GALLERY', ['MON 2']],          // a router's name
    ['3', ['MON 12']],               // a router's device number (no name or text holds a 3)
    ['', ['MON 1', 'MON 2', 'PGM A', 'MON 12']],
  ];
  for (const [typed, names] of cases) {
    await page.fill('#filter', typed);
    await waitForShown(page, names);
    assert.equal(await page.textContent('#counts'), typed === '' ? '4 displays' : `${names.length} of 4 displays`,
      typed);
  }

  await page.fill('#filter', 'cam');
  await waitForShown(page, ['MON 1']);
  assert.match(page.url(), /#filter=cam$/);
  // Live: a tile that stops matching goes, one that starts matching comes,
  // a new display is filtered as it appears, and so is a renamed router.
  await fixture.send({ op: 'tile', name: 'MON 1', text: 'VT 1', router: 1 },
    { op: 'tile', name: 'MON 2', text: 'CAM 9', router: 2 },
    { op: 'tile', name: 'MON 5', text: 'CAM 5' }, { op: 'tile', name: 'MON 6', text: 'BLACK' });
  await waitForShown(page, ['MON 2', 'MON 5']);
  assert.equal(await page.textContent('#counts'), '2 of 6 displays');
  await fixture.send({ op: 'link', device: 3, name: 'Camera router', state: 'connected' });
  await waitForShown(page, ['MON 2', 'MON 12', 'MON 5']);
  assert.equal(await page.textContent('#counts'), '3 of 6 displays');

  await page.reload();
  await waitForStatus(page, 'connected');
  await waitForShown(page, ['MON 2', 'MON 12', 'MON 5']);
  assert.equal(await page.inputValue('#filter'), 'cam');
  assert.equal(await page.textContent('#counts'), '3 of 6 displays');

  await page.fill('#filter', 'nothing like it');
  await waitForShown(page, []);
  assert.equal(await page.isVisible('#nomatch'), true);
  assert.deepEqual(page.problems, []);
  await page.close();
  await fixture.stop();
});

test('the filter in the address is applied when the page opens', guard, async () => {
  const fixture = await startFixture();
  await fixture.send({ op: 'many', count: 12, prefix: 'MON ', text: 'SRC ' });
  const page = await browser.newPage();
  await page.goto(fixture.url + '#filter=mon+1');
  await waitForStatus(page, 'connected');
  await waitForShown(page, ['MON 1', 'MON 10', 'MON 11', 'MON 12']);
  assert.equal(await page.inputValue('#filter'), 'mon 1');
  assert.equal(await page.textContent('#counts'), '4 of 12 displays');
  await page.close();
  await fixture.stop();
});

test('details show the router, destination and TSL index of every tile', guard, async () => {
  const fixture = await startFixture();
  await fixture.send({ op: 'tile', name: 'MON 1', text: 'CAM 1', router: 2, destination: 14, tslIndex: 13 },
    { op: 'tile', name: 'MON 2', text: 'CAM 2', router: 1, destination: 3 },
    { op: 'tile', name: 'MON 3', text: 'CAM 3', tslIndex: 0 });
  const page = await openWall(fixture);
  await waitForTile(page, 'MON 3', 'CAM 3');
  const details = () => page.evaluate(() => [...document.querySelectorAll('.tile .where')]
    .map((line) => (line.checkVisibility() ? line.textContent : null)));
  assert.deepEqual(await details(), [null, null, null]);

  await page.check('#details');
  assert.deepEqual(await details(), ['router 2 \u00b7 dst 14 \u00b7 TSL 13', 'router 1 \u00b7 dst 3', 'TSL 0']);
  await fixture.send({ op: 'tile', name: 'MON 2', text: 'CAM 2', router: 1, destination: 4, tslIndex: 7 });
  await page.waitForFunction(() => document.querySelectorAll('.tile .where')[1].textContent ===
    'router 1 \u00b7 dst 4 \u00b7 TSL 7', null, { timeout: 20000 });

  await page.reload();
  await waitForStatus(page, 'connected');
  await waitForTile(page, 'MON 3', 'CAM 3');
  assert.equal(await page.isChecked('#details'), true);
  assert.deepEqual(await details(), ['router 2 \u00b7 dst 14 \u00b7 TSL 13', 'router 1 \u00b7 dst 4 \u00b7 TSL 7', 'TSL 0']);
  await page.uncheck('#details');
  assert.deepEqual(await details(), [null, null, null]);
  assert.doesNotMatch(page.url(), /details/);
  await page.close();
  await fixture.stop();
});

test('names and texts of 16 characters show whole at 1280 x 800 with 64 tiles', guard, async () => {
  const fixture = await startFixture();
  await fixture.send({ op: 'many', count: 64, prefix: 'MON ', text: 'SRC ' });
  const whole = ['STUDIO B PGM OUT', 'VT 3 SLOMO REPLY', 'NEWS 24 CLEAN FD', 'QRSTUVWXYZ012345', 'WWWWWWWWWWWWWWWW'];
  const texts = ['CAM 1', 'STUDIO B PGM', ...whole];
  await fixture.send(...texts.map((text, i) => ({ op: 'tile', name: `STUDIO A MON ${10 + i}B`, text })));
  const page = await openWall(fixture);
  assert.deepEqual(page.viewportSize(), { width: 1280, height: 800 });
  await waitForTile(page, `STUDIO A MON ${9 + texts.length}B`, 'WWWWWWWWWWWWWWWW');
  assert.equal(await page.locator('.tile').count(), 64 + texts.length);
  const shown = await page.evaluate(() => [...document.querySelectorAll('.tile')].slice(64).map((tile) => {
    const look = (element) => {
      const range = document.createRange();
      range.selectNodeContents(element);
      const style = getComputedStyle(element);
      return {
        content: element.textContent,
        whole: element.scrollWidth <= element.clientWidth && element.scrollHeight <= element.clientHeight,
        ellipsis: style.textOverflow === 'ellipsis',
        lines: range.getClientRects().length,
        size: parseFloat(style.fontSize),
      };
    };
    return { name: look(tile.querySelector('.name')), text: look(tile.querySelector('.text')) };
  }));
  texts.forEach((text, i) => {
    const name = `STUDIO A MON ${10 + i}B`;
    assert.deepEqual({ ...shown[i].name, lines: undefined, size: undefined },
      { content: name, whole: true, ellipsis: false, lines: undefined, size: undefined }, name);
    const { content, whole: fits, ellipsis, lines, size } = shown[i].text;
    assert.deepEqual({ content, fits, ellipsis }, { content: text, fits: true, ellipsis: false }, text);
    assert.ok(size >= 14, `${text}: ${size} px is below the readable minimum`);
    assert.ok(lines <= 2, `${text}: ${lines} lines`);
  });
  const [short, twelve] = shown.map((tile) => tile.text);
  // A short text keeps the large type; a longer one gets smaller before it
  // takes a second line.
  assert.equal(short.lines, 1);
  assert.equal(twelve.lines, 1);
  assert.ok(twelve.size < short.size, `${twelve.size} px, not smaller than ${short.size} px`);
  assert.deepEqual(page.problems, []);
  await page.close();
  await fixture.stop();
});
