// The viewer page in headless Chromium: textures made by orbilune-cli from the sample map,
// loaded through the page's own file picker, and views compared with `orbilune-cli globe`.
// Needs ORBILUNE_CLI (the orbilune-cli binary); CHROMIUM defaults to /usr/bin/chromium.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';
import puppeteer from 'puppeteer-core';
import { PNG } from 'pngjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const root = path.resolve(here, '../..');
const cli = process.env.ORBILUNE_CLI;
const SIZE = 512; // side of the compared views, in pixels
// Centres (longitude, latitude): the equator, both poles with a meridian that is not 0,
// the date line.
const CENTRES = [[30, 0], [0, 90], [-60, -90], [180, 25]];
const TEXTURES = Array.from({ length: 10 }, (_, k) => `new${k + 1}.tga`);

let work;
let browser;
let page;
const pageErrors = [];

function decodePng(buffer) {
  const png = PNG.sync.read(buffer);
  return { width: png.width, height: png.height, data: png.data };
}

// PSNR over RGB of the pixels whose centres lie inside the disc that touches the four edges.
function psnrInsideDisc(a, b) {
  assert.equal(a.width, b.width);
  assert.equal(a.height, b.height);
  const s = a.width;
  let sum = 0;
  let count = 0;
  for (let j = 0; j < s; j++) {
    for (let i = 0; i < s; i++) {
      const x = (i + 0.5 - s / 2) / (s / 2);
      const y = (s / 2 - (j + 0.5)) / (s / 2);
      if (x * x + y * y > 1) continue;
      const o = (j * s + i) * 4;
      for (let c = 0; c < 3; c++) {
        const d = a.data[o + c] - b.data[o + c];
        sum += d * d;
      }
      count += 3;
    }
  }
  const mse = sum / count;
  return mse === 0 ? Infinity : 10 * Math.log10((255 * 255) / mse);
}

before(async () => {
  assert.ok(cli && fs.existsSync(cli), 'set ORBILUNE_CLI to the orbilune-cli binary');
  work = fs.mkdtempSync(path.join(os.tmpdir(), 'orbilune-viewer-'));
  const texdir = path.join(work, 'textures');
  fs.mkdirSync(texdir);
  execFileSync(cli, ['--size', '256', '--bilinear', path.join(root, 'assets/earth-2048x1024.jpg'), texdir],
    { stdio: ['ignore', 'inherit', 'ignore'] });
  for (const [lon, lat] of CENTRES) {
    execFileSync(cli, ['globe', texdir, path.join(work, `globe_${lon}_${lat}.png`),
      '--size', String(SIZE), '--center', `${lon},${lat}`], { stdio: ['ignore', 'inherit', 'inherit'] });
  }

  browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    userDataDir: path.join(work, 'profile'),
    args: [
      '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
      // WebGL without a GPU: ANGLE over SwiftShader.
      '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
    ],
  });
  page = await browser.newPage();
  page.on('pageerror', (e) => pageErrors.push(e.message));
  await page.setViewport({ width: SIZE, height: SIZE, deviceScaleFactor: 1 });
  // Opened from disk, as a user double-clicking the page would.
  await page.goto(pathToFileURL(path.join(root, 'viewer/index.html')).href);
}, { timeout: 120000 });

after(async () => {
  if (browser) await browser.close();
  if (work) fs.rmSync(work, { recursive: true, force: true });
});

test('textures picked with the file picker show the globe', { timeout: 30000 }, async () => {
  const picker = await page.$('#picker');
  await picker.uploadFile(...TEXTURES.map((name) => path.join(work, 'textures', name)));
  await page.waitForFunction(() => document.body.classList.contains('loaded'), { timeout: 20000 });
  const status = await page.$eval('#status', (e) => e.textContent);
  assert.match(status, /new1\.tga … new10\.tga, 256 × 256 texels/);

  // What the user sees, overlays and all: the middle of the window is the lit globe.
  const shot = decodePng(await page.screenshot({ type: 'png' }));
  let dark = 0;
  let total = 0;
  for (let j = SIZE / 4; j < (3 * SIZE) / 4; j++) {
    for (let i = SIZE / 4; i < (3 * SIZE) / 4; i++) {
      const o = (j * SIZE + i) * 4;
      if (shot.data[o] + shot.data[o + 1] + shot.data[o + 2] < 24) dark++;
      total++;
    }
  }
  assert.ok(dark / total < 0.02, `${((100 * dark) / total).toFixed(1)}% of the middle is black`);
  assert.deepEqual(pageErrors, []);
});

test('views match orbilune-cli globe inside the disc', { timeout: 30000 }, async () => {
  for (const [lon, lat] of CENTRES) {
    const url = await page.evaluate((lon, lat) => {
      window.orbiluneView.setSmooth(false);
      window.orbiluneView.setView(lon, lat, 1);
      return window.orbiluneView.capture();
    }, lon, lat);
    const shown = decodePng(Buffer.from(url.slice(url.indexOf(',') + 1), 'base64'));
    const globe = decodePng(fs.readFileSync(path.join(work, `globe_${lon}_${lat}.png`)));
    const psnr = psnrInsideDisc(shown, globe);
    console.log(`centre ${lon},${lat}: PSNR ${psnr.toFixed(2)} dB`);
    assert.ok(psnr >= 30, `centre ${lon},${lat}: PSNR ${psnr.toFixed(2)} dB < 30 dB`);
  }
  assert.deepEqual(pageErrors, []);
});

test('a drop without all ten textures names the missing one and keeps the globe', { timeout: 30000 }, async () => {
  const status = await page.evaluate(async () => {
    const dt = new DataTransfer();
    for (let k = 1; k <= 9; k++) dt.items.add(new File([new Uint8Array(18)], `new${k}.tga`));
    document.dispatchEvent(new DragEvent('drop', { dataTransfer: dt, bubbles: true, cancelable: true }));
    const el = document.getElementById('status');
    while (!el.classList.contains('error')) await new Promise((r) => setTimeout(r, 20));
    return el.textContent;
  });
  assert.match(status, /Missing: new10\.tga\b/);
  assert.ok(await page.evaluate(() => document.body.classList.contains('loaded')));
});
