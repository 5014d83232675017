// The viewer page in headless Chromium, opened from disk: textures made by orbilune-cli from
// the sample map (TGA, and DDS and KTX2 with their mip levels), loaded through the page's
// file picker and by dropping their folder, views compared with `orbilune-cli globe`, the
// layout and the wheel's zoom checked on the screen, and a production install
// (npm ci --omit=dev) of the page checked on its own.
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
// The sets the page shows, each made by orbilune-cli into a folder of its own and compared
// with `orbilune-cli globe` of that folder: the design's TGA (mip levels made by the page),
// KTX2 (RGBA8 sRGB) and DDS (BC1) with the file's mip levels, which three.js's loaders read,
// and TGA with border rings, whose diamonds lie K texels in.
const SETS = [
  { name: 'TGA', folder: 'textures', ext: 'tga', args: [], levels: 1 },
  { name: 'KTX2', folder: 'ktx2', ext: 'ktx2', args: ['--format', 'ktx2', '--mips'], levels: 9 },
  { name: 'DDS BC1', folder: 'dds-bc1', ext: 'dds', args: ['--format', 'dds', '--compress', 'bc1', '--mips'], levels: 9 },
  { name: 'TGA with border rings', folder: 'bordered', ext: 'tga', args: ['--border', '2'], levels: 1 },
];
const texturesOf = (set) => Array.from({ length: 10 }, (_, k) => path.join(work, set.folder, `new${k + 1}.${set.ext}`));

let work;
let browser;
let page;
const pageErrors = [];

function decodePng(buffer) {
  const png = PNG.sync.read(buffer);
  return { width: png.width, height: png.height, data: png.data };
}

// The canvas as drawn, from the page's capture().
async function captureCanvas() {
  const url = await page.evaluate(() => window.orbiluneView.capture());
  return decodePng(Buffer.from(url.slice(url.indexOf(',') + 1), 'base64'));
}

// The canvas's place in the window, in CSS pixels (the viewport's scale is 1).
function canvasRect() {
  return page.$eval('#globe', (c) => {
    const r = c.getBoundingClientRect();
    return { left: r.left, top: r.top, width: r.width, height: r.height };
  });
}

// Sizes the window so that the canvas, between the header and the footer, is side x side.
async function fitCanvas(side) {
  for (let tries = 0; tries < 3; tries++) {
    const gap = await page.evaluate(() => {
      const c = document.getElementById('globe');
      return { w: window.innerWidth - c.clientWidth, h: window.innerHeight - c.clientHeight };
    });
    await page.setViewport({ width: side + gap.w, height: side + gap.h, deviceScaleFactor: 1 });
    const r = await canvasRect();
    if (r.width === side && r.height === side) return;
  }
  assert.fail(`the canvas cannot be made ${side} x ${side}`);
}

// A real drop of files or folders from disk on the middle of the page, as the browser
// delivers it (with the entries and handles of the dropped paths).
async function dropPaths(paths) {
  const cdp = await page.createCDPSession();
  const vp = page.viewport();
  const at = { x: Math.round(vp.width / 2), y: Math.round(vp.height / 2) };
  const data = { items: [], files: paths, dragOperationsMask: 1 };
  for (const type of ['dragEnter', 'dragOver', 'drop']) {
    await cdp.send('Input.dispatchDragEvent', { type, ...at, data });
  }
  await cdp.detach();
}

// Waits until the status line no longer reads `before` (nor that the textures are being
// read), and returns it with its kind.
function statusAfter(before) {
  return page.evaluate(async (before) => {
    const el = document.getElementById('status');
    const waiting = () => el.textContent === before || el.textContent === 'Reading the ten textures…';
    for (let i = 0; i < 500 && waiting(); i++) await new Promise((r) => setTimeout(r, 20));
    return { text: el.textContent, error: el.classList.contains('error') };
  }, before);
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
  for (const set of SETS) {
    const dir = path.join(work, set.folder);
    fs.mkdirSync(dir);
    execFileSync(cli, ['--size', '256', '--bilinear', ...set.args, path.join(root, 'assets/earth-2048x1024.jpg'), dir],
      { stdio: ['ignore', 'inherit', 'ignore'] });
    for (const [lon, lat] of CENTRES) {
      execFileSync(cli, ['globe', dir, path.join(work, `globe_${set.folder}_${lon}_${lat}.png`),
        '--size', String(SIZE), '--center', `${lon},${lat}`], { stdio: ['ignore', 'inherit', 'inherit'] });
    }
  }
  const texdir = path.join(work, 'textures');
  // A folder to drop: a smaller set, so that its arrival shows, beside a file that is not a
  // texture and a folder holding an older texture, neither of which is taken.
  const folder = path.join(work, 'drop', 'textures-64');
  fs.mkdirSync(path.join(folder, 'older'), { recursive: true });
  execFileSync(cli, ['--size', '64', path.join(root, 'assets/earth-2048x1024.jpg'), folder],
    { stdio: ['ignore', 'inherit', 'ignore'] });
  fs.writeFileSync(path.join(folder, 'notes.txt'), 'not a texture\n');
  fs.copyFileSync(path.join(texdir, 'new1.tga'), path.join(folder, 'older', 'new1.tga'));

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

for (const set of SETS) {
  test(`${set.name} textures picked with the file picker show the globe`, { timeout: 30000 }, async () => {
    const before = await page.$eval('#status', (e) => e.textContent);
    const picker = await page.$('#picker');
    await picker.uploadFile(...texturesOf(set));
    const status = await statusAfter(before);
    await page.waitForFunction(() => document.body.classList.contains('loaded'), { timeout: 20000 });
    assert.equal(status.error, false, status.text);
    assert.match(status.text, new RegExp(`new1\\.${set.ext} … new10\\.${set.ext}, 256 × 256 texels`));
    const shown = await page.evaluate(() => window.orbiluneView.shown());
    assert.equal(shown.levels, set.levels, 'the mip levels of the files');

    // What the user sees, overlays and all, smooth (mipmapped) as the page starts: the middle
    // of the window is the lit globe, which levels missing or unreadable would leave black.
    await page.evaluate(() => window.orbiluneView.setSmooth(true));
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

  test(`${set.name}: views match orbilune-cli globe inside the disc`, { timeout: 30000 }, async () => {
    // The set the test before loaded.
    const shown = await page.evaluate(() => window.orbiluneView.shown());
    assert.equal(shown.names[0], `new1.${set.ext}`);
    await fitCanvas(SIZE);
    for (const [lon, lat] of CENTRES) {
      await page.evaluate((lon, lat) => {
        window.orbiluneView.setSmooth(false);
        window.orbiluneView.setView(lon, lat, 1);
      }, lon, lat);
      const shown = await captureCanvas();
      const globe = decodePng(fs.readFileSync(path.join(work, `globe_${set.folder}_${lon}_${lat}.png`)));
      const psnr = psnrInsideDisc(shown, globe);
      console.log(`${set.name}, centre ${lon},${lat}: PSNR ${psnr.toFixed(2)} dB`);
      assert.ok(psnr >= 30, `${set.name}, centre ${lon},${lat}: PSNR ${psnr.toFixed(2)} dB < 30 dB`);
    }
    assert.deepEqual(pageErrors, []);
  });
}

test('at zoom 1 the whole disc is on the screen, poles included, under neither bar', { timeout: 30000 }, async () => {
  // Centred on the equator, the poles are the top and bottom of the disc. Every pixel the
  // canvas draws must reach the screen as drawn; a bar over the canvas darkens or hides
  // some. The compositor itself changes a few colours by up to 16 levels.
  await page.evaluate(() => window.orbiluneView.setView(20, 0, 1));
  const drawn = await captureCanvas();
  const rect = await canvasRect();
  const shot = decodePng(await page.screenshot({ type: 'png' }));
  const w = drawn.width;
  const h = drawn.height;
  assert.equal(w, rect.width);
  let covered = 0;
  let poleRowsLit = 0;
  for (let j = 0; j < h; j++) {
    for (let i = 0; i < w; i++) {
      const o = (j * w + i) * 4;
      const so = ((rect.top + j) * shot.width + rect.left + i) * 4;
      let d = 0;
      for (let c = 0; c < 3; c++) d = Math.max(d, Math.abs(drawn.data[o + c] - shot.data[so + c]));
      if (d > 32) covered++;
    }
  }
  // The disc does reach the top and bottom rows: the poles are drawn, not cut away.
  for (const j of [1, h - 2]) {
    const o = (j * w + w / 2) * 4;
    if (drawn.data[o] + drawn.data[o + 1] + drawn.data[o + 2] > 60) poleRowsLit++;
  }
  assert.equal(poleRowsLit, 2, 'the disc does not reach the top and bottom of the canvas');
  assert.equal(covered, 0, `${covered} pixels of the canvas are covered on the screen`);
});

test('the wheel zooms about the pointer', { timeout: 30000 }, async () => {
  await page.evaluate(() => {
    window.orbiluneView.setSmooth(false);
    window.orbiluneView.setView(30, 0, 1);
  });
  const before = await captureCanvas();
  const rect = await canvasRect();
  // Off the centre, over the coasts of the Red Sea and the Gulf of Aden.
  const p = { x: Math.round(rect.width / 2 + 110), y: Math.round(rect.height / 2 - 70) };
  await page.mouse.move(rect.left + p.x, rect.top + p.y);
  await page.mouse.wheel({ deltaY: -700 });
  await page.evaluate(() => new Promise((r) => requestAnimationFrame(() => r())));
  const f = (await page.evaluate(() => window.orbiluneView.view())).zoom;
  assert.ok(f > 1.5, `the wheel zoomed to ${f}`);
  const after = await captureCanvas();

  // The picture after, around p, is the picture before enlarged f times about some point q;
  // find q. About the pointer, q is p; about the centre it would be 65 pixels away.
  const w = before.width;
  const at = (img, x, y, c) => img.data[(y * w + x) * 4 + c];
  const bilinear = (x, y, c) => {
    const x0 = Math.floor(x);
    const y0 = Math.floor(y);
    const fx = x - x0;
    const fy = y - y0;
    return (1 - fy) * ((1 - fx) * at(before, x0, y0, c) + fx * at(before, x0 + 1, y0, c)) +
      fy * ((1 - fx) * at(before, x0, y0 + 1, c) + fx * at(before, x0 + 1, y0 + 1, c));
  };
  let best = { err: Infinity };
  for (let qy = p.y - 80; qy <= p.y + 80; qy++) {
    for (let qx = p.x - 80; qx <= p.x + 80; qx++) {
      let err = 0;
      for (let dy = -24; dy <= 24; dy += 2) {
        for (let dx = -24; dx <= 24; dx += 2) {
          for (let c = 0; c < 3; c++) {
            err += Math.abs(at(after, p.x + dx, p.y + dy, c) - bilinear(qx + dx / f, qy + dy / f, c));
          }
        }
      }
      if (err < best.err) best = { err, qx, qy };
    }
  }
  const off = Math.hypot(best.qx - p.x, best.qy - p.y);
  console.log(`wheel at (${p.x}, ${p.y}), zoom ${f.toFixed(2)}: fixed point (${best.qx}, ${best.qy})`);
  assert.ok(off <= 2, `the place under the pointer moved: the zoom's fixed point is ${off.toFixed(1)} px from it`);
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

test('a folder dropped on the page opened from disk shows its textures', { timeout: 30000 }, async () => {
  const before = await page.$eval('#status', (e) => e.textContent);
  await dropPaths([path.join(work, 'drop', 'textures-64')]);
  const status = await statusAfter(before);
  assert.equal(status.error, false, status.text);
  assert.match(status.text, /new1\.tga … new10\.tga, 64 × 64 texels/);
  assert.deepEqual(pageErrors, []);
});

test('a folder the browser will not list is named, with what to do instead', { timeout: 30000 }, async () => {
  // As in a browser that lists dropped folders only through their entries, which Chromium
  // refuses on a page opened from disk.
  await page.evaluate(() => {
    window.savedGetAsHandle = DataTransferItem.prototype.getAsFileSystemHandle;
    delete DataTransferItem.prototype.getAsFileSystemHandle;
  });
  try {
    const before = await page.$eval('#status', (e) => e.textContent);
    await dropPaths([path.join(work, 'drop', 'textures-64')]);
    const status = await statusAfter(before);
    assert.equal(status.error, true, status.text);
    assert.match(status.text, /folder “textures-64” could not be read/);
    assert.match(status.text, /drop the ten files new1\.tga … new10\.tga themselves/);
  } finally {
    await page.evaluate(() => {
      DataTransferItem.prototype.getAsFileSystemHandle = window.savedGetAsHandle;
    });
  }
  assert.ok(await page.evaluate(() => document.body.classList.contains('loaded')));
  assert.deepEqual(pageErrors, []);
});

test('a production install (npm ci --omit=dev) gives a page that loads only its own files', { timeout: 60000 }, async () => {
  // The packages come from npm's cache (--offline), filled by the npm ci that installed
  // these tests.
  const copy = path.join(work, 'production');
  fs.mkdirSync(copy);
  for (const name of ['package.json', 'package-lock.json', 'build-vendor.mjs', 'index.html', 'viewer.js', 'tga.js']) {
    fs.copyFileSync(path.join(root, 'viewer', name), path.join(copy, name));
  }
  try {
    execFileSync('npm', ['ci', '--omit=dev', '--offline', '--no-audit', '--no-fund', '--loglevel=error'],
      { cwd: copy, stdio: ['ignore', 'pipe', 'pipe'] });
  } catch (e) {
    assert.fail(`npm ci --omit=dev --offline failed (is three.js in npm's cache? run npm ci in viewer/):\n${e.stderr}`);
  }
  const tab = await browser.newPage();
  const errors = [];
  const fetched = [];
  tab.on('pageerror', (e) => errors.push(e.message));
  tab.on('request', (r) => fetched.push(r.url()));
  try {
    await tab.goto(pathToFileURL(path.join(copy, 'index.html')).href);
    const state = await tab.evaluate(() => ({
      three: typeof THREE !== 'undefined' && typeof THREE.WebGLRenderer === 'function' &&
        typeof THREE_ADDONS !== 'undefined' && typeof THREE_ADDONS.KTX2Loader === 'function',
      api: typeof window.orbiluneView === 'object',
      status: document.getElementById('status').textContent,
    }));
    assert.deepEqual(state, { three: true, api: true, status: 'No textures loaded.' });
  } finally {
    await tab.close();
  }
  assert.deepEqual(errors, []);
  const copyUrl = pathToFileURL(copy).href + '/';
  assert.deepEqual(fetched.filter((u) => !u.startsWith(copyUrl)), []);
  assert.ok(fetched.some((u) => u.endsWith('/vendor/three.js')));
  assert.ok(fetched.some((u) => u.endsWith('/vendor/three-addons.js')));
});
