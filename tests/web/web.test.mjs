// tests/web/web.test.mjs: the show's page in headless Chromium (Debian's
// chromium-headless-shell, WebGL 2 on SwiftShader), driven by puppeteer-core.
// Builds the page (scripts/web.sh --build), serves its site folder on
// 127.0.0.1 on a free port and checks: the page loads without a console
// error and its music clock runs in step with the audio context; frames of
// scenes 1, 3, 5, 7, 9 and 10 match the native vortalune-capture's frames of
// the same fraction; ?scene=7 starts scene 7; each fault a viewer meets is
// one line that leaves the page usable; the canvas fits the window at 4:3;
// Space pauses, a digit seeks to the capture's frame, the end replays; the
// site folder plays from a plain static server; a browser without WebGL 2
// is told so.
//
//   node --test tests/web/          (from the project root, with DISPLAY set
//                                     for the native capture; scripts/test.sh does it)
// VORTALUNE_NATIVE_BUILD names the native build holding vortalune-capture and
// imagediff (default build/).
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import puppeteer from 'puppeteer-core';
import { serve } from '../../web/serve.mjs';

const ROOT = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const WEB = path.join(ROOT, 'build-web', 'site');
const NATIVE = path.resolve(ROOT, process.env.VORTALUNE_NATIVE_BUILD || 'build');
const BROWSER = process.env.VORTALUNE_BROWSER || '/usr/bin/chromium-headless-shell';

// The most a browser frame may differ from the native one, channel by
// channel (0..255): SwiftShader rasterizes and filters a little differently
// from Mesa's llvmpipe, and the glow adds such differences up ten times.
const TOLERANCE = { mean: 1.0, p99: 6 };

// The scenes' lengths in the track, as the show starts them (base/Show.h).
const DURATIONS = [0.0, 0.064, 0.0779, 0.09090909, 0.09090909, 0.09090909, 0.09090909, 0.09090909, 0.09090909,
                   0.09090909, 0.09090909];
const sceneStart = (n) => DURATIONS.slice(0, n).reduce((a, b) => a + b, 0);

let browser;
let server;
let origin;

before(async () => {
  execFileSync('bash', [path.join(ROOT, 'scripts/web.sh'), '--build'], { stdio: 'inherit' });
  server = await serve(WEB, 0);
  origin = `http://127.0.0.1:${server.address().port}`;
  browser = await puppeteer.launch({
    executablePath: BROWSER,
    args: ['--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
           '--autoplay-policy=no-user-gesture-required', '--disable-background-networking',
           '--disable-component-update', '--no-first-run', '--disable-sync'],
  });
});

after(async () => {
  await browser?.close();
  server?.close();
});

// A page of 1024 x 768 that keeps what it says on the console.
async function openPage(url, beforeLoad) {
  const page = await browser.newPage();
  await page.setViewport({ width: 1024, height: 768 });
  const errors = [];
  page.on('console', (message) => { if (message.type() === 'error') errors.push(message.text()); });
  page.on('pageerror', (error) => errors.push(String(error)));
  if (beforeLoad)
    await beforeLoad(page);
  await page.goto(url);
  return { page, errors };
}

const clickOffered = () => getComputedStyle(document.getElementById('start')).display === 'flex';

test('the page loads, asks for the click, and its music clock runs in step with the audio context', async () => {
  const { page, errors } = await openPage(`${origin}/`);
  await page.waitForFunction(clickOffered, { timeout: 120000 });
  await page.click('#play');
  await page.waitForFunction(() => Module._webMusicSeconds() > 0.2, { timeout: 20000 });
  const samples = [];
  for (let i = 0; i < 10; ++i) {
    await new Promise((resolve) => setTimeout(resolve, 400));
    // Both clocks in one turn of the page's event loop.
    samples.push(await page.evaluate(() => [Module._webMusicSeconds(), Module.audioContext.currentTime]));
  }
  const offsets = samples.map(([music, audio]) => music - audio);
  const spread = Math.max(...offsets) - Math.min(...offsets);
  console.log(`music clock minus audio context: ${offsets[0].toFixed(4)} s, spread ${(spread * 1000).toFixed(1)} ms`);
  assert.ok(samples.at(-1)[0] - samples[0][0] > 3.0, 'the music clock advances');
  assert.ok(spread < 0.040, `the music clock follows the audio context within 40 ms (spread ${spread * 1000} ms)`);
  assert.deepEqual(errors, [], 'no console error');
  await page.close();
});

// The frame the page handed over last (Module.vortaluneFrame), as base64 in
// slices small enough for apply().
const frameOfPage = (page) => page.evaluate(() => {
  const { frame: number, rgb } = Module.vortaluneFrame;
  let text = '';
  for (let i = 0; i < rgb.length; i += 32768)
    text += String.fromCharCode.apply(null, rgb.subarray(i, i + 32768));
  return { number, rgb: btoa(text) };
});

// Holds a 1024 x 768 frame of the page to the native capture's frame of the
// same number, the capture run with `captureArgs`.
function matchesCapture(frame, captureArgs, label) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'vortalune-web-'));
  try {
    const raw = path.join(dir, 'page.rgb');
    fs.writeFileSync(raw, Buffer.from(frame.rgb, 'base64'));
    execFileSync(path.join(NATIVE, 'vortalune-capture'), [...captureArgs, '--size', '1024x768', '--out', dir],
                 { cwd: ROOT, stdio: ['ignore', 'ignore', 'inherit'], env: { ...process.env, SDL_AUDIODRIVER: 'dummy' } });
    const native = path.join(dir, `frame_${String(frame.number).padStart(6, '0')}.png`);
    assert.ok(fs.existsSync(native), `the native capture wrote frame ${frame.number}`);
    const line = execFileSync(path.join(NATIVE, 'imagediff'), [native, raw], { encoding: 'utf8' }).trim();
    console.log(`${label}, frame ${frame.number}: ${line}`);
    const [, mean, p99] = line.match(/mean ([\d.]+) p99 (\d+)/);
    assert.ok(Number(mean) <= TOLERANCE.mean, `mean channel difference ${mean} <= ${TOLERANCE.mean}`);
    assert.ok(Number(p99) <= TOLERANCE.p99, `99th percentile ${p99} <= ${TOLERANCE.p99}`);
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
}

for (const scene of [1, 3, 5, 7, 9, 10]) {
  test(`a frame of scene ${scene} matches the native capture's`, async () => {
    const duration = scene === 10 ? 1 - sceneStart(10) : DURATIONS[scene];
    const fraction = sceneStart(scene) + 0.5 * duration;
    const { page, errors } = await openPage(`${origin}/?frame=${fraction}`);
    await page.waitForFunction(() => document.title === 'frame ready', { timeout: 240000 });
    const frame = await frameOfPage(page);
    await page.close();
    assert.deepEqual(errors, [], 'no console error');
    matchesCapture(frame, ['--from', String(fraction), '--to', String(fraction + 0.001)],
                   `scene ${scene} (fraction ${fraction.toFixed(4)})`);
  });
}

test('?scene=7 starts scene 7 with the music moved to its start', async () => {
  const { page, errors } = await openPage(`${origin}/?scene=7`);
  await page.waitForFunction(clickOffered, { timeout: 120000 });
  await page.click('#play');
  await page.waitForFunction(() => Module._webScene() !== 0, { timeout: 20000 });
  const [scene, seconds] = await page.evaluate(() => [Module._webScene(), Module._webMusicSeconds()]);
  const start = sceneStart(7) * 120.686;
  assert.equal(scene, 7);
  assert.ok(seconds >= start - 0.05 && seconds < start + 5, `the music is at ${seconds} s, scene 7 starts at ${start} s`);
  assert.deepEqual(errors, [], 'no console error');
  await page.close();
});

// A copy of the site (links to its files) that `change` alters, served on
// its own port while `use` runs with the copy's address.
async function withSiteCopy(change, use) {
  const copy = fs.mkdtempSync(path.join(os.tmpdir(), 'vortalune-web-'));
  try {
    fs.mkdirSync(path.join(copy, 'data'));
    for (const name of [...fs.readdirSync(WEB), ...fs.readdirSync(path.join(WEB, 'data')).map((n) => `data/${n}`)])
      if (name !== 'data')
        fs.symlinkSync(path.join(WEB, name), path.join(copy, name));
    change(copy);
    const other = await serve(copy, 0);
    try {
      await use(`http://127.0.0.1:${other.address().port}`);
    } finally {
      other.close();
    }
  } finally {
    fs.rmSync(copy, { recursive: true, force: true });
  }
}

const FAULTS = [
  { what: 'an asset answering 404', remove: 'data/credits.png', line: /^data\/credits\.png could not be loaded \(404/,
    playable: true },
  { what: 'no assets.json', remove: 'assets.json', line: /^assets\.json could not be loaded \(404.*scripts\/web\.sh --build/ },
  { what: 'no track', remove: 'data/vortalune.ogg',
    line: /^The show cannot play: its music track data\/vortalune\.ogg could not be loaded \(404/ },
  { what: 'a track that is not Ogg Vorbis', garbage: 'data/vortalune.ogg',
    line: /^The show cannot play: the music track data\/vortalune\.ogg could not be loaded \(/ },
  { what: 'a cut program', cut: 'vortalune.wasm', line: /^vortalune\.wasm is damaged or cut .*scripts\/web\.sh --build$/ },
];

for (const fault of FAULTS) {
  test(`${fault.what} is one line on the page and the console, and the page stays usable`, async () => {
    await withSiteCopy((copy) => {
      const name = fault.remove || fault.cut || fault.garbage;
      fs.unlinkSync(path.join(copy, name));
      if (fault.cut)
        fs.writeFileSync(path.join(copy, name), fs.readFileSync(path.join(WEB, name)).subarray(0, 100000));
      if (fault.garbage)
        fs.writeFileSync(path.join(copy, name), Buffer.alloc(100000, 'x'));
    }, async (site) => {
      const { page, errors } = await openPage(`${site}/`);
      await page.waitForFunction((source) => new RegExp(source).test(document.getElementById('messages').textContent),
                                 { timeout: 120000 }, fault.line.source);
      await new Promise((resolve) => setTimeout(resolve, 1500));   // nothing more follows
      const lines = (await page.$eval('#messages', (m) => m.textContent)).split('\n');
      assert.match(lines[0], fault.line);
      assert.equal(lines.length, 1, `the lines: ${lines.join(' | ')}`);
      assert.ok(errors.some((e) => fault.line.test(e)), 'the console has the line too');
      assert.equal(await page.evaluate(clickOffered), !!fault.playable, 'the click is offered only when the show can play');
      if (fault.playable) {
        await page.click('#play');   // the failure area takes no click
        await page.waitForFunction(() => Module._webMusicSeconds() > 0.2, { timeout: 20000 });
      }
      await page.close();
    });
  });
}

// A page playing the show at a fixed 1024 x 768 drawing (the capture's size)
// in a window of `width` x `height`.
async function startedPage(query = '?size=1024x768', width = 1024, height = 768) {
  const opened = await openPage(`${origin}/${query}`);
  await opened.page.setViewport({ width, height });
  await opened.page.waitForFunction(clickOffered, { timeout: 120000 });
  await opened.page.click('#play');
  await opened.page.waitForFunction(() => Module._webMusicSeconds() > 0.2, { timeout: 20000 });
  return opened;
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// The canvas's box in the window and its drawing's size.
const canvasBox = (page) => page.$eval('#canvas', (c) => {
  const r = c.getBoundingClientRect();
  return { x: r.x, y: r.y, width: r.width, height: r.height, drawing: [c.width, c.height],
           window: [window.innerWidth, window.innerHeight] };
});

function assertFitted(box, label) {
  const [W, H] = box.window;
  assert.ok(Math.abs(box.width / box.height - 4 / 3) < 0.01, `${label}: 4:3 (${box.width} x ${box.height})`);
  assert.ok(Math.abs(box.width - W) <= 1 || Math.abs(box.height - H) <= 1, `${label}: as large as the window allows`);
  assert.ok(box.width <= W && box.height <= H, `${label}: inside the window`);
  assert.ok(Math.abs(box.x - (W - box.width) / 2) <= 1 && Math.abs(box.y - (H - box.height) / 2) <= 1,
            `${label}: centred (${box.x}, ${box.y})`);
}

test('the canvas fills the window at 4:3, centred, before and after the click and as the window changes', async () => {
  const { page, errors } = await openPage(`${origin}/`);
  await page.setViewport({ width: 1920, height: 1080 });
  await page.waitForFunction(clickOffered, { timeout: 120000 });
  const before = await canvasBox(page);
  assertFitted(before, "before the click");
  await page.click('#play');
  await page.waitForFunction(() => Module._webMusicSeconds() > 0.2, { timeout: 20000 });
  for (const [width, height] of [[1920, 1080], [800, 1200], [1024, 768]]) {
    await page.setViewport({ width, height });
    await sleep(300);
    const box = await canvasBox(page);
    assertFitted(box, `${width} x ${height}`);
    // The drawing follows the displayed size (at a pixel density of 1 here).
    assert.deepEqual(box.drawing, [Math.round(box.width), Math.round(box.height)], `${width} x ${height}: drawing size`);
  }
  await page.keyboard.press('s');   // a lower resolution: three quarters
  await sleep(300);
  assert.deepEqual((await canvasBox(page)).drawing, [768, 576]);
  assert.deepEqual(errors, [], 'no console error');
  await page.close();

  const half = await startedPage('?scale=0.5');
  const box = await canvasBox(half.page);
  assert.deepEqual(box.drawing, [512, 384], '?scale=0.5 draws half the pixels each way');
  assertFitted(box, '?scale=0.5');
  await half.page.close();
});

test('Space pauses picture and music and resumes them; a digit seeks to its scene\'s start, the capture\'s frame', async () => {
  const { page, errors } = await startedPage();
  await page.keyboard.press('Space');
  await sleep(200);
  const [first, music] = [await page.screenshot(), await page.evaluate(() => Module._webMusicSeconds())];
  await sleep(1000);
  assert.ok(first.equals(await page.screenshot()), 'the picture holds while paused');
  assert.equal(await page.evaluate(() => Module._webMusicSeconds()), music, 'the music holds while paused');
  assert.match(await page.$eval('#where', (w) => w.textContent), /^0:0\d\.\d of 2:00\.7 · scene 1/);

  // The seek, timed in the page around the key's own handler.
  const seek = await page.evaluate(() => {
    const t = performance.now();
    document.dispatchEvent(new KeyboardEvent('keydown', { key: '7' }));
    return performance.now() - t;
  });
  console.log(`seek to scene 7: ${seek.toFixed(1)} ms`);
  assert.ok(seek < 500, `the seek took ${seek} ms`);
  await page.evaluate(() => Module._webReadFrame());
  const frame = await frameOfPage(page);
  assert.match(await page.$eval('#where', (w) => w.textContent), /^1:01\.0 of 2:00\.7 · scene 7 · bar \d+$/);
  matchesCapture(frame, ['--scene', '7', '--every', '1000000'], 'the start of scene 7 after a seek');

  await page.keyboard.press('Space');
  await sleep(1000);
  assert.ok(await page.evaluate(() => Module._webMusicSeconds()) > 61.5, 'the music plays on from the seek');
  assert.ok(!first.equals(await page.screenshot()), 'the picture moves again');
  await page.keyboard.press('b');   // the beat line: the quiet panel, never the failure area
  await page.waitForFunction(() => document.getElementById('panel').textContent.includes('Beat at: 0.5'));
  assert.equal(await page.$eval('#messages', (m) => m.textContent), '');
  assert.deepEqual(errors, [], 'no console error');
  await page.close();
});

test('the end offers a replay, which plays the show again from its start', async () => {
  const { page, errors } = await startedPage();
  await page.evaluate(() => Module._webSeek(Module._webTrackSeconds() - 0.5));
  await page.waitForFunction(() => getComputedStyle(document.getElementById('ended')).display === 'block',
                             { timeout: 30000 });
  assert.equal(await page.evaluate(() => Module._webPhase()), 4);
  await page.click('#again');
  await sleep(1000);
  const [phase, seconds, scene] = await page.evaluate(() => [Module._webPhase(), Module._webMusicSeconds(), Module._webScene()]);
  assert.equal(phase, 2);
  assert.ok(seconds > 0.2 && seconds < 5, `the music at ${seconds} s`);
  assert.equal(scene, 1);
  assert.deepEqual(errors, [], 'no console error');
  await page.close();
});

test('the site folder plays from a plain static server and holds nothing else; the server refuses bad paths', async () => {
  const python = spawn('python3', ['-u', '-m', 'http.server', '--bind', '127.0.0.1', '0'], { cwd: WEB });
  try {
    const port = await new Promise((resolve, reject) => {
      python.stdout.on('data', (d) => { const m = /port (\d+)/.exec(String(d)); if (m) resolve(m[1]); });
      python.on('exit', reject);
    });
    const { page, errors } = await openPage(`http://127.0.0.1:${port}/`);
    await page.waitForFunction(clickOffered, { timeout: 120000 });
    await page.click('#play');
    await page.waitForFunction(() => Module._webMusicSeconds() > 0.2, { timeout: 20000 });
    assert.deepEqual(errors, [], 'no console error');
    await page.close();
  } finally {
    python.kill();
  }
  assert.deepEqual(fs.readdirSync(WEB).sort(),
                   ['README.txt', 'assets.json', 'data', 'index.html', 'settings.ini', 'vortalune.js', 'vortalune.wasm']);
  for (const [asked, status] of [['/CMakeCache.txt', 404], ['/%E0%A4%A', 400], ['/index.html', 200]])
    assert.equal((await fetch(origin + asked)).status, status, asked);
});

test('a browser without WebGL 2 is told so on the page', async () => {
  const { page } = await openPage(`${origin}/`, (p) => p.evaluateOnNewDocument(() => {
    const getContext = HTMLCanvasElement.prototype.getContext;
    HTMLCanvasElement.prototype.getContext = function (kind, ...rest) {
      return kind === 'webgl2' ? null : getContext.call(this, kind, ...rest);
    };
  }));
  await page.waitForFunction(() => document.getElementById('messages').textContent.length > 0, { timeout: 20000 });
  assert.match(await page.$eval('#messages', (m) => m.textContent), /needs WebGL 2/);
  await page.close();
});
