// tests/web/web.test.mjs: the show's page in headless Chromium (Debian's
// chromium-headless-shell, WebGL 2 on SwiftShader), driven by puppeteer-core.
// Builds the page (scripts/web.sh --build), serves it on 127.0.0.1 on a free
// port and checks: the page loads without a console error and its music
// clock runs in step with the audio context; frames of scenes 1, 3, 5, 7, 9
// and 10 match the native vortalune-capture's frames of the same fraction;
// ?scene=7 starts scene 7; a missing asset and a browser without WebGL 2 are
// said on the page.
//
//   node --test tests/web/          (from the project root, with DISPLAY set
//                                     for the native capture; scripts/test.sh does it)
// VORTALUNE_NATIVE_BUILD names the native build holding vortalune-capture and
// imagediff (default build/).
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import puppeteer from 'puppeteer-core';
import { serve } from '../../web/serve.mjs';

const ROOT = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const WEB = path.join(ROOT, 'build-web');
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

const clickOffered = () => getComputedStyle(document.getElementById('overlay')).display === 'flex';

test('the page loads, asks for the click, and its music clock runs in step with the audio context', async () => {
  const { page, errors } = await openPage(`${origin}/`);
  await page.waitForFunction(clickOffered, { timeout: 120000 });
  await page.click('#overlay');
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

for (const scene of [1, 3, 5, 7, 9, 10]) {
  test(`a frame of scene ${scene} matches the native capture's`, async () => {
    const duration = scene === 10 ? 1 - sceneStart(10) : DURATIONS[scene];
    const fraction = sceneStart(scene) + 0.5 * duration;
    const { page, errors } = await openPage(`${origin}/?frame=${fraction}`);
    await page.waitForFunction(() => document.title === 'frame ready', { timeout: 240000 });
    // The frame's bytes as base64, built in slices small enough for apply().
    const frame = await page.evaluate(() => {
      const { frame: number, rgb } = Module.vortaluneFrame;
      let text = '';
      for (let i = 0; i < rgb.length; i += 32768)
        text += String.fromCharCode.apply(null, rgb.subarray(i, i + 32768));
      return { number, rgb: btoa(text) };
    });
    await page.close();
    assert.deepEqual(errors, [], 'no console error');

    const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'vortalune-web-'));
    try {
      const raw = path.join(dir, 'page.rgb');
      fs.writeFileSync(raw, Buffer.from(frame.rgb, 'base64'));
      execFileSync(path.join(NATIVE, 'vortalune-capture'),
                   ['--from', String(fraction), '--to', String(fraction + 0.001), '--size', '1024x768', '--out', dir],
                   { cwd: ROOT, stdio: ['ignore', 'ignore', 'inherit'], env: { ...process.env, SDL_AUDIODRIVER: 'dummy' } });
      const native = path.join(dir, `frame_${String(frame.number).padStart(6, '0')}.png`);
      assert.ok(fs.existsSync(native), `the native capture wrote frame ${frame.number}`);
      const line = execFileSync(path.join(NATIVE, 'imagediff'), [native, raw], { encoding: 'utf8' }).trim();
      console.log(`scene ${scene}, frame ${frame.number} (fraction ${fraction.toFixed(4)}): ${line}`);
      const [, mean, p99] = line.match(/mean ([\d.]+) p99 (\d+)/);
      assert.ok(Number(mean) <= TOLERANCE.mean, `mean channel difference ${mean} <= ${TOLERANCE.mean}`);
      assert.ok(Number(p99) <= TOLERANCE.p99, `99th percentile ${p99} <= ${TOLERANCE.p99}`);
    } finally {
      fs.rmSync(dir, { recursive: true, force: true });
    }
  });
}

test('?scene=7 starts scene 7 with the music moved to its start', async () => {
  const { page, errors } = await openPage(`${origin}/?scene=7`);
  await page.waitForFunction(clickOffered, { timeout: 120000 });
  await page.click('#overlay');
  await page.waitForFunction(() => Module._webScene() !== 0, { timeout: 20000 });
  const [scene, seconds] = await page.evaluate(() => [Module._webScene(), Module._webMusicSeconds()]);
  const start = sceneStart(7) * 120.686;
  assert.equal(scene, 7);
  assert.ok(seconds >= start - 0.05 && seconds < start + 5, `the music is at ${seconds} s, scene 7 starts at ${start} s`);
  assert.deepEqual(errors, [], 'no console error');
  await page.close();
});

test('a missing asset is said on the page and on the console', async () => {
  const copy = fs.mkdtempSync(path.join(os.tmpdir(), 'vortalune-web-'));
  try {
    for (const name of fs.readdirSync(WEB)) {
      if (name === 'data') continue;
      fs.symlinkSync(path.join(WEB, name), path.join(copy, name));
    }
    fs.mkdirSync(path.join(copy, 'data'));
    for (const name of fs.readdirSync(path.join(WEB, 'data')))
      if (name !== 'credits.png')
        fs.symlinkSync(path.join(WEB, 'data', name), path.join(copy, 'data', name));
    const other = await serve(copy, 0);
    try {
      const { page, errors } = await openPage(`http://127.0.0.1:${other.address().port}/`);
      await page.waitForFunction(() => document.getElementById('messages').textContent.includes('credits.png'),
                                 { timeout: 60000 });
      const line = await page.$eval('#messages', (m) => m.textContent);
      assert.match(line, /data\/credits\.png could not be loaded \(404/);
      assert.ok(errors.some((e) => e.includes('data/credits.png')), 'the console has the line too');
      await page.close();
    } finally {
      other.close();
    }
  } finally {
    fs.rmSync(copy, { recursive: true, force: true });
  }
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
