// The line's dashboard in a real browser: a private PostgreSQL server,
// three stations (the command-line program flashing virtual handsets, some
// with faults), kestrune-line, and Debian's Chromium driven headless.
// Checks the tiles, yields and failure kinds against the records, a station
// going away turning offline, and a station name with markup shown as text.
//
// node line-dashboard.test.mjs CLI HANDSET LINE SCREENSHOT_DIR
import { spawn, execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import puppeteer from 'puppeteer-core';

const [cli, handsetProgram, lineProgram, screenshotDir] = process.argv.slice(2);
const browserPath = '/usr/bin/chromium';
const asRoot = process.getuid() === 0;
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'kestrune-browser-'));
fs.chmodSync(work, 0o755); // the server's user reaches its folder inside
const children = [];
let failed = false;

function check(condition, what) {
  if (condition)
    return;
  failed = true;
  console.error('FAILED: ' + what);
}
const sleep = ms => new Promise(resolve => setTimeout(resolve, ms));
// Said when a wait runs out: what the stations and the records show then.
let onTimeout = () => '';
async function until(what, test, limitMs) {
  const began = Date.now();
  const end = began + limitMs;
  for (;;) {
    try {
      if (await test()) {
        console.log(`${what}: ${((Date.now() - began) / 1000).toFixed(1)} s`);
        return;
      }
    } catch (e) {
      if (Date.now() > end)
        throw new Error(what + ': ' + e.message + onTimeout());
    }
    if (Date.now() > end)
      throw new Error('timed out waiting for ' + what + ' (' + limitMs / 1000 + ' s)' + onTimeout());
    await sleep(200);
  }
}

// --- the line's server, run as nobody when the test runs as root
const pgBin = fs.readdirSync('/usr/lib/postgresql').sort().map(v => `/usr/lib/postgresql/${v}/bin`)
  .filter(d => fs.existsSync(d + '/initdb')).pop();
if (!pgBin) {
  console.log('SKIPPED: the PostgreSQL server programs are not installed');
  process.exit(0);
}
const pgDir = path.join(work, 'pg');
fs.mkdirSync(pgDir);
if (asRoot)
  execFileSync('chown', ['nobody', pgDir]);
function asServer(program, args) {
  const [file, all] = asRoot ? ['runuser', ['-u', 'nobody', '--', program, ...args]] : [program, args];
  execFileSync(file, all, { stdio: ['ignore', 'ignore', 'inherit'] });
}
const pgPort = 20000 + Math.floor(Math.random() * 20000);
asServer(pgBin + '/initdb', ['--no-sync', '--auth=trust', '--username=kestrune', '--encoding=UTF8', '--locale=C', '-D', pgDir + '/data']);
asServer(pgBin + '/pg_ctl', ['-w', '-D', pgDir + '/data', '-l', pgDir + '/log', '-o',
  `-p ${pgPort} -k ${pgDir} -c listen_addresses=127.0.0.1 -c fsync=off`, 'start']);
const url = `postgresql://kestrune@127.0.0.1:${pgPort}/postgres`;
function sql(query) {
  const out = execFileSync('psql', ['-X', '-At', '-F', '\t', url, '-c', query], { encoding: 'utf8' });
  return out.split('\n').filter(line => line.length).map(line => line.split('\t'));
}

function start(program, args, name, env) {
  const out = fs.openSync(path.join(work, name + '.out'), 'w');
  const child = spawn(program, args, { stdio: ['ignore', out, out], env: Object.assign({}, process.env, env || {}) });
  child.exitedPromise = new Promise(resolve => child.on('exit', resolve));
  children.push(child);
  return child;
}
async function firstLine(name) {
  const file = path.join(work, name + '.out');
  let line = '';
  await until(name + "'s first line", () => {
    line = fs.readFileSync(file, 'utf8').split('\n')[0];
    return fs.readFileSync(file, 'utf8').includes('\n');
  }, 10000);
  return line.trim();
}

// --- three stations: a fault on some channels
const image = path.join(work, 'image.bin');
fs.writeFileSync(image, Buffer.from(Array.from({ length: 8192 }, (_, i) => (i * 37) & 0xff)));
const scriptName = '<script>alert(1)</script>';
const stations = [
  { name: 'station-a', handsets: [[], ['--erase-fail', '1']] },
  { name: 'station-b', handsets: [['--program-error'], []] },
  { name: scriptName, handsets: [[]] },
];
let handsetCount = 0;
for (const station of stations) {
  const ports = [];
  for (const faults of station.handsets) {
    const name = 'handset-' + ++handsetCount;
    start(handsetProgram, ['--pty', '--model', 'host', '--swap-after-run', '200', ...faults], name);
    ports.push(await firstLine(name));
  }
  const home = path.join(work, 'station-' + handsetCount);
  fs.mkdirSync(home);
  station.process = start(cli, ['--image', image, '--repeat', '0', '--swap-silence', '0.1',
    '--records', url, '--station', station.name, ...ports], 'cli-' + handsetCount, { XDG_DATA_HOME: home });
}

onTimeout = () => {
  let told = '';
  try {
    const rows = sql("SELECT station, channel, outcome, unit, count(*) FROM kestrune_records GROUP BY 1, 2, 3, 4 ORDER BY 1, 2, 3, 4");
    told += '\nrecords (station, channel, outcome, unit, count):\n' + rows.map(r => '  ' + r.join(' ')).join('\n');
  } catch (e) {
    told += '\nrecords cannot be read: ' + e.message;
  }
  for (const file of fs.readdirSync(work).filter(f => f.endsWith('.out')).sort()) {
    const lines = fs.readFileSync(path.join(work, file), 'utf8').trim().split('\n');
    told += `\n--- ${file}, last lines:\n` + lines.slice(-6).join('\n');
  }
  return told;
};

// --- the dashboard
const line = start(lineProgram, ['--records', url, '--listen', '127.0.0.1:0', '--offline-after', '3'], 'line');
const served = (await firstLine('line')).match(/http:\/\/[0-9.:]+\//);
if (!served)
  throw new Error('kestrune-line did not say where it serves');

const browser = await puppeteer.launch({
  executablePath: browserPath, headless: true,
  args: [...(asRoot ? ['--no-sandbox'] : []), '--disable-gpu', '--disable-dev-shm-usage'],
});
let dialogs = 0;
try {
  const page = await browser.newPage();
  await page.setViewport({ width: 1280, height: 1100 });
  page.on('dialog', async dialog => { dialogs++; await dialog.dismiss(); });
  page.on('pageerror', error => check(false, 'the page threw: ' + error.message));
  await page.goto(served[0], { waitUntil: 'load' });

  const shown = () => page.evaluate(() => [...document.querySelectorAll('.station')].map(s => ({
    name: s.querySelector('.station-name').textContent,
    online: s.classList.contains('online'),
    tiles: [...s.querySelectorAll('.tile')].map(t => ({
      channel: Number(t.dataset.channel), phase: t.querySelector('.phase').textContent,
      outcome: t.querySelector('.outcome').textContent,
    })),
  })));

  // Every station online with a tile per channel, within the page's refresh.
  await until('three stations online on the page', async () => {
    const s = await shown();
    return s.length === 3 && s.every(x => x.online) &&
      stations.every(st => s.find(x => x.name === st.name)?.tiles.length === st.handsets.length);
  }, 30000);

  // A few units on every channel, then the picture for the docs.
  await until('two judged units on every channel', () => {
    const rows = sql("SELECT count(*) FROM (SELECT station, channel FROM kestrune_records WHERE unit AND outcome IN ('passed','failed') GROUP BY 1, 2 HAVING count(*) >= 2) c");
    return Number(rows[0][0]) === 5;
  }, 60000);
  await sleep(2500);
  fs.mkdirSync(screenshotDir, { recursive: true });
  await page.screenshot({ path: path.join(screenshotDir, 'line-dashboard.png'), fullPage: true });

  // A station going away turns offline; the others stay online.
  stations[0].process.kill('SIGINT');
  await stations[0].process.exitedPromise;
  await until('station-a offline', async () => {
    const s = await shown();
    return s.find(x => x.name === 'station-a')?.online === false &&
      s.find(x => x.name === 'station-b')?.online === true;
  }, 20000);

  // Everything still now: the page must show what the records hold.
  for (const station of stations.slice(1))
    station.process.kill('SIGINT');
  await Promise.all(stations.slice(1).map(s => s.process.exitedPromise));
  const settled = Date.now();
  // A refresh asked for after they ended (one under way meanwhile may show
  // the records of before).
  await until('a refresh after the stations ended', () =>
    page.evaluate(t => Number(document.body.dataset.refreshed || 0) > t, settled), 10000);

  // Yields per channel.
  const expected = sql("SELECT station, channel, count(*) FILTER (WHERE outcome = 'passed'), count(*) FILTER (WHERE outcome = 'failed') FROM kestrune_records WHERE unit AND outcome IN ('passed','failed') GROUP BY 1, 2 ORDER BY 1, 2");
  const yields = await page.evaluate(() => [...document.querySelectorAll('#yield tbody tr:not(.total)')].map(r =>
    [...r.children].map(c => c.textContent)));
  check(yields.length === expected.length, `yield rows: page ${yields.length}, records ${expected.length}`);
  for (const [station, channel, passed, failed] of expected) {
    const row = yields.find(r => r[0] === station && r[1] === channel);
    check(row, `no yield row for ${station} ${channel}`);
    if (!row)
      continue;
    const judged = Number(passed) + Number(failed);
    check(row[2] === passed && row[3] === failed, `${station} ${channel}: page ${row[2]}/${row[3]}, records ${passed}/${failed}`);
    // No serial values: every run is a unit's first run.
    const fpy = (100 * Number(passed) / judged).toFixed(1) + ' %';
    check(row[4] === fpy, `${station} ${channel}: first-pass yield ${row[4]}, records ${fpy}`);
  }
  check(expected.some(r => r[3] !== '0') && expected.some(r => r[2] !== '0'), 'both outcomes occurred');

  // Failure kinds: the first failure's text without its code.
  const kinds = new Map();
  for (const [text, count] of sql("SELECT final_status, count(*) FROM kestrune_records WHERE unit AND outcome = 'failed' GROUP BY 1")) {
    const kind = text.replace(/\s*\(\d+\)\s*$/, '');
    kinds.set(kind, (kinds.get(kind) || 0) + Number(count));
  }
  const listed = await page.evaluate(() => [...document.querySelectorAll('#failures tbody tr')].map(r =>
    [r.querySelector('.kind').textContent, Number(r.querySelector('.count').textContent)]));
  check(listed.length === kinds.size, `failure kinds: page ${listed.length}, records ${kinds.size}`);
  for (const [kind, count] of listed)
    check(kinds.get(kind) === count, `failure '${kind}': page ${count}, records ${kinds.get(kind)}`);
  for (let i = 1; i < listed.length; ++i)
    check(listed[i - 1][1] >= listed[i][1], 'failure kinds most frequent first');
  check(listed.length >= 2, 'the two faults give two failure kinds');

  // Tiles: the state each station wrote last.
  const state = sql('SELECT station, channel, phase, last_outcome FROM kestrune_station_state ORDER BY 1, 2');
  const tiles = (await shown()).flatMap(s => s.tiles.map(t => [s.name, String(t.channel), t.phase, t.outcome]));
  check(tiles.length === state.length, `tiles: page ${tiles.length}, state rows ${state.length}`);
  for (const [station, channel, phase, outcome] of state) {
    const tile = tiles.find(t => t[0] === station && t[1] === channel);
    check(tile && tile[2] === phase && tile[3] === (outcome || 'no run yet'),
      `tile ${station} ${channel}: page ${JSON.stringify(tile)}, state ${phase}/${outcome}`);
  }
  await until('every station offline', async () => (await shown()).every(x => !x.online), 10000);

  // Markup in a station's name is text: no dialog, no script of its own.
  const names = await page.evaluate(() => [...document.querySelectorAll('.station-name')].map(n => n.textContent));
  check(names.includes(scriptName), 'the station named with markup is shown by its name');
  check(await page.evaluate(() => document.querySelectorAll('script').length) === 1, 'no script element came from the records');
  check(dialogs === 0, `${dialogs} dialogs fired`);
} catch (e) {
  failed = true;
  console.error(e.stack || String(e));
} finally {
  await browser.close();
  for (const child of children)
    if (child.exitCode === null)
      child.kill('SIGTERM');
  await Promise.all(children.map(c => Promise.race([c.exitedPromise, sleep(5000)])));
  try { asServer(pgBin + '/pg_ctl', ['-w', '-m', 'fast', '-D', pgDir + '/data', 'stop']); } catch (e) { }
  if (!failed)
    fs.rmSync(work, { recursive: true, force: true });
  else
    console.error('kept for a look: ' + work);
}
console.log(failed ? 'line dashboard: FAILED' : 'line dashboard: passed');
process.exit(failed ? 1 : 0);
