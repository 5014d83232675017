// Shows Orbilune's ten diamond textures, new1.tga .. new10.tga (or .dds, .ktx2), on the
// icosahedral sphere. A plain script over the globals THREE (vendor/three.js) and
// THREE_ADDONS (vendor/three-addons.js: three.js's DDSLoader and KTX2Loader) so that the page
// also works when opened straight from disk, where browsers refuse ES modules.
(function () {
  'use strict';

  const statusEl = document.getElementById('status');
  const viewEl = document.getElementById('view');
  const canvas = document.getElementById('globe');
  const picker = document.getElementById('picker');

  if (typeof THREE === 'undefined') {
    showStatus('three.js is missing: run "npm ci --omit=dev" (or "npm ci") in the viewer folder, ' +
      'then reload this page.', true);
    return;
  }

  // The icosahedron of the generator, +y north. Its numbers are kept exactly so that the
  // mesh puts every texel where the generator took it from.
  const NP = [0, 100, 0];
  const U0 = [89.442703, 44.721401, 0];
  const U72 = [27.639299, 44.721401, 85.065102];
  const U144 = [-72.360703, 44.721401, 52.573101];
  const U216 = [-72.360703, 44.721401, -52.573101];
  const U288 = [27.639299, 44.721401, -85.065102];
  const L36 = [72.360703, -44.721401, 52.573101];
  const L108 = [-27.639299, -44.721401, 85.065102];
  const L180 = [-89.442703, -44.721401, 0];
  const L252 = [-27.639299, -44.721401, -85.065102];
  const L324 = [72.360703, -44.721401, -52.573101];
  const SP = [0, -100, 0];

  // Diamond k (texture new{k}.tga): the pole, the two side corners, the far corner.
  const DIAMONDS = [
    [NP, U0, U72, L36], [NP, U72, U144, L108], [NP, U144, U216, L180],
    [NP, U216, U288, L252], [NP, U288, U0, L324],
    [SP, L108, L36, U72], [SP, L180, L108, U144], [SP, L252, L180, U216],
    [SP, L324, L252, U288], [SP, L36, L324, U0],
  ];
  // The formats of a set, in the order the checking tools take them: a set is in the first
  // whose new1 is among the files. DDS and KTX2 files bring their own mip levels.
  const FORMATS = ['tga', 'dds', 'ktx2'];
  const TEXTURE_NAME = /^new(10|[1-9])\.(tga|dds|ktx2)$/i;
  const namesOf = (format) => DIAMONDS.map((_, i) => 'new' + (i + 1) + '.' + format);

  // Cells per diamond side. Flat cells of about a degree keep the picture within a small
  // fraction of a pixel of the true sphere, even near the limb where flattening shows most.
  const GRID = 64;

  // A point (u, v) of a diamond: the pole triangle for u + v <= 1, the far triangle beyond.
  function diamondPoint(c, u, v) {
    const q = [0, 0, 0];
    for (let k = 0; k < 3; k++) {
      q[k] = u + v <= 1
        ? c[0][k] + u * (c[1][k] - c[0][k]) + v * (c[2][k] - c[0][k])
        : c[3][k] + (1 - u) * (c[2][k] - c[3][k]) + (1 - v) * (c[1][k] - c[3][k]);
    }
    const n = Math.hypot(q[0], q[1], q[2]);
    return [q[0] / n, q[1] / n, q[2] / n];
  }

  function diamondGeometry(corners) {
    const side = GRID + 1;
    const positions = new Float32Array(side * side * 3);
    const uvs = new Float32Array(side * side * 2);
    for (let j = 0; j <= GRID; j++) {
      for (let i = 0; i <= GRID; i++) {
        const u = i / GRID;
        const v = j / GRID;
        const p = diamondPoint(corners, u, v);
        const n = j * side + i;
        positions.set(p, n * 3);
        // Texel (r, c) holds the point (c/N, r/N); texture.offset adds the half texel once N is known.
        uvs[n * 2] = u;
        uvs[n * 2 + 1] = v;
      }
    }
    const index = [];
    const outward = (a, b, c) => {
      const pa = positions.subarray(a * 3, a * 3 + 3);
      const pb = positions.subarray(b * 3, b * 3 + 3);
      const pc = positions.subarray(c * 3, c * 3 + 3);
      const e1 = [pb[0] - pa[0], pb[1] - pa[1], pb[2] - pa[2]];
      const e2 = [pc[0] - pa[0], pc[1] - pa[1], pc[2] - pa[2]];
      const nx = e1[1] * e2[2] - e1[2] * e2[1];
      const ny = e1[2] * e2[0] - e1[0] * e2[2];
      const nz = e1[0] * e2[1] - e1[1] * e2[0];
      if (nx * pa[0] + ny * pa[1] + nz * pa[2] >= 0) index.push(a, b, c);
      else index.push(a, c, b);
    };
    for (let j = 0; j < GRID; j++) {
      for (let i = 0; i < GRID; i++) {
        const a = j * side + i;
        const b = a + 1;
        const c = a + side;
        const d = c + 1;
        // Split along the anti-diagonal, so that no triangle crosses the fold u + v = 1.
        outward(a, b, c);
        outward(b, d, c);
      }
    }
    const g = new THREE.BufferGeometry();
    g.setAttribute('position', new THREE.BufferAttribute(positions, 3));
    g.setAttribute('uv', new THREE.BufferAttribute(uvs, 2));
    g.setIndex(index);
    return g;
  }

  const renderer = new THREE.WebGLRenderer({ canvas, antialias: false });
  // Texels go to the screen unchanged: no colour-space conversion, no tone mapping.
  renderer.outputColorSpace = THREE.LinearSRGBColorSpace;
  renderer.setClearColor(0x000000, 1);
  const scene = new THREE.Scene();
  const camera = new THREE.OrthographicCamera(-1, 1, 1, -1, 1, 10);

  const meshes = DIAMONDS.map((corners) => {
    const mesh = new THREE.Mesh(diamondGeometry(corners), new THREE.MeshBasicMaterial());
    mesh.visible = false;
    scene.add(mesh);
    return mesh;
  });

  // The view: the geographic point at the centre (degrees, east and north positive), north
  // up, and a zoom where 1 fits the whole disc into the canvas.
  const view = { lon: 0, lat: 0, zoom: 1 };
  let smooth = true; // mipmaps and anisotropy; off for a single bilinear read per pixel
  let texturesShown = null;

  function wrapLon(lon) {
    const l = ((lon + 180) % 360 + 360) % 360 - 180;
    return l === -180 ? 180 : l;
  }

  function placeCamera() {
    const lam = view.lon * Math.PI / 180;
    const phi = view.lat * Math.PI / 180;
    // Geographic longitude grows towards -z: the direction of (lambda, phi) is
    // (cos phi cos lambda, sin phi, -cos phi sin lambda).
    const dir = new THREE.Vector3(Math.cos(phi) * Math.cos(lam), Math.sin(phi), -Math.cos(phi) * Math.sin(lam));
    // North along the centre's meridian; at a pole it is still defined, so the meridian
    // of view.lon runs straight down from the north pole (up from the south pole).
    const north = new THREE.Vector3(-Math.sin(phi) * Math.cos(lam), Math.cos(phi), Math.sin(phi) * Math.sin(lam));
    camera.position.copy(dir).multiplyScalar(5);
    camera.up.copy(north);
    camera.lookAt(0, 0, 0);

    const w = canvas.clientWidth || 1;
    const h = canvas.clientHeight || 1;
    const half = 1 / view.zoom;
    camera.left = -half * Math.max(1, w / h);
    camera.right = -camera.left;
    camera.top = half * Math.max(1, h / w);
    camera.bottom = -camera.top;
    camera.updateProjectionMatrix();
  }

  function describeView() {
    const lon = wrapLon(view.lon);
    const ew = lon < 0 ? 'W' : 'E';
    const ns = view.lat < 0 ? 'S' : 'N';
    viewEl.textContent = 'Centre ' + Math.abs(lon).toFixed(1) + '° ' + ew + ', ' +
      Math.abs(view.lat).toFixed(1) + '° ' + ns + ' · zoom ' + view.zoom.toFixed(2) + '×';
  }

  function render() {
    const w = canvas.clientWidth;
    const h = canvas.clientHeight;
    const ratio = window.devicePixelRatio || 1;
    if (canvas.width !== Math.round(w * ratio) || canvas.height !== Math.round(h * ratio)) {
      renderer.setPixelRatio(ratio);
      renderer.setSize(w, h, false);
    }
    placeCamera();
    renderer.render(scene, camera);
    describeView();
  }

  let frameQueued = false;
  function requestRender() {
    if (frameQueued) return;
    frameQueued = true;
    requestAnimationFrame(() => {
      frameQueued = false;
      render();
    });
  }

  function showStatus(text, isError) {
    statusEl.textContent = text;
    statusEl.classList.toggle('error', !!isError);
  }

  // Smooth: the mip levels of the file, or levels made here from a texture that has none
  // (which a block-compressed one cannot have made).
  function applySampling(texture) {
    const fileLevels = texture.mipmaps ? texture.mipmaps.length : 0;
    const made = fileLevels === 0 && !texture.isCompressedTexture;
    texture.generateMipmaps = smooth && made;
    texture.minFilter = smooth && (made || fileLevels > 1) ? THREE.LinearMipmapLinearFilter : THREE.LinearFilter;
    texture.magFilter = THREE.LinearFilter;
    texture.anisotropy = smooth ? renderer.capabilities.getMaxAnisotropy() : 1;
    texture.needsUpdate = true;
  }

  // A texture `width` texels a side holds a diamond `side` texels a side, `border` texels in:
  // textures with border rings are N + 2K a side, N a power of two.
  function diamondIn(width) {
    let side = 1;
    while (side * 2 <= width) side *= 2;
    const border = (width - side) / 2;
    return Number.isInteger(border) ? { side, border } : { side: width, border: 0 };
  }

  // A TGA picture's texture, or the texture three.js's loader made of a DDS or KTX2 file.
  function makeTexture(picture) {
    let texture = picture.texture;
    if (!texture) {
      texture = new THREE.DataTexture(picture.rgba, picture.width, picture.height,
        THREE.RGBAFormat, THREE.UnsignedByteType);
    } else if (!texture.isCompressedTexture && texture.mipmaps.length === 1) {
      texture.mipmaps = []; // one level: levels are made here, as for TGA
    }
    // Row 0 (the pole row) at texture coordinate 0, as the mesh's v counts from the pole.
    texture.flipY = false;
    // The texels as they are, as for TGA, also where the file says sRGB: no decoding.
    texture.colorSpace = THREE.NoColorSpace;
    texture.wrapS = texture.wrapT = THREE.ClampToEdgeWrapping;
    // Texel centres sit half a texel inside the points they were sampled at; a texture with
    // border rings (N + 2K a side, N a power of two) holds its diamond K texels in.
    const { side, border } = diamondIn(picture.width);
    texture.repeat.set(side / picture.width, side / picture.height);
    texture.offset.set((border + 0.5) / picture.width, (border + 0.5) / picture.height);
    applySampling(texture);
    return texture;
  }

  // Reads one DDS or KTX2 file through three.js's loader into a texture with the file's
  // mip levels. Resolves to { width, height, levels, texture }.
  let ktx2Loader = null;
  async function decodeContainer(format, buffer) {
    if (typeof THREE_ADDONS === 'undefined') {
      throw new Error('three.js\'s loaders are missing: run "npm ci --omit=dev" in the viewer folder');
    }
    if (format === 'dds') {
      const dds = new THREE_ADDONS.DDSLoader().parse(buffer, true);
      if (!dds.mipmaps.length || dds.format === null || dds.isCubemap) {
        throw new Error('a DDS texture three.js does not read (it reads BC1, BC3 and 8-bit RGB and RGBA: ' +
          'write them with --compress bc1, bc3 or none)');
      }
      const texture = new THREE.CompressedTexture(dds.mipmaps, dds.width, dds.height, dds.format);
      return { width: dds.width, height: dds.height, levels: dds.mipmaps.length, texture };
    }
    if (!ktx2Loader) ktx2Loader = new THREE_ADDONS.KTX2Loader().detectSupport(renderer);
    const texture = await new Promise((resolve, reject) => {
      ktx2Loader.parse(buffer, resolve, (e) => reject(new Error('not a KTX2 texture three.js reads (' +
        (e && e.message ? e.message : e) + ')')));
    });
    const { width, height } = texture.image;
    return { width, height, levels: Math.max(1, texture.mipmaps.length), texture };
  }

  // Picks new1.tga .. new10.tga (or .dds, or .ktx2) out of the given files (by name, any
  // case; other files are ignored), decodes them and shows them if all ten are there and of
  // one square size. Resolves to { ok, message }; on failure the globe shown before stays.
  let latestLoad = 0;
  async function loadFiles(fileList) {
    // A slow load overtaken by a newer one must not replace what the newer one shows.
    const ticket = ++latestLoad;
    const files = Array.from(fileList || []);
    const named = files.map((file) => [file, TEXTURE_NAME.exec(file.name)]).filter(([, m]) => m);
    const formatOf = (m) => m[2].toLowerCase();
    const format = FORMATS.find((f) => named.some(([, m]) => m[1] === '1' && formatOf(m) === f)) ||
      FORMATS.find((f) => named.some(([, m]) => formatOf(m) === f)) || 'tga';
    const NAMES = namesOf(format);
    const byIndex = new Array(10).fill(null);
    const twice = [];
    for (const [file, m] of named) {
      if (formatOf(m) !== format) continue;
      const k = Number(m[1]) - 1;
      if (byIndex[k]) twice.push(NAMES[k]);
      byIndex[k] = file;
    }
    const fail = (message) => {
      if (ticket === latestLoad) showStatus(message, true);
      return { ok: false, message };
    };
    if (twice.length) return fail('Given twice: ' + twice.join(', ') + '. Pick the ten textures of one set.');
    const missing = NAMES.filter((_, k) => !byIndex[k]);
    if (missing.length === 10) {
      return fail('None of these files is one of the textures new1 … new10 (.tga, .dds or .ktx2).');
    }
    if (missing.length) {
      return fail('Missing: ' + missing.join(', ') + '. All ten textures ' + NAMES[0] + ' … ' + NAMES[9] +
        ' are needed.');
    }

    showStatus('Reading the ten textures…', false);
    const pictures = [];
    const drop = (message) => {
      pictures.forEach((p) => p.texture && p.texture.dispose());
      return fail(message);
    };
    for (let k = 0; k < 10; k++) {
      try {
        const buffer = await byIndex[k].arrayBuffer();
        pictures.push(format === 'tga' ? window.OrbiluneTga.decodeTga(buffer) : await decodeContainer(format, buffer));
      } catch (e) {
        return drop(NAMES[k] + ': ' + e.message + '.');
      }
    }
    if (ticket !== latestLoad) return drop('Replaced by a later load.');
    const notSquare = pictures.findIndex((p) => p.width !== p.height);
    if (notSquare >= 0) {
      const p = pictures[notSquare];
      return drop(NAMES[notSquare] + ' is ' + p.width + ' × ' + p.height + ' texels; the textures are square.');
    }
    const n = pictures[0].width;
    const odd = pictures.map((p, k) => [p, k]).filter(([p]) => p.width !== n);
    if (odd.length) {
      return drop('The textures differ in size: ' + NAMES[0] + ' is ' + n + ' × ' + n + ', ' +
        odd.map(([p, k]) => NAMES[k] + ' is ' + p.width + ' × ' + p.width).join(', ') +
        '. All ten must be the same size.');
    }

    meshes.forEach((mesh, k) => {
      if (mesh.material.map) mesh.material.map.dispose();
      mesh.material.map = makeTexture(pictures[k]);
      mesh.material.needsUpdate = true;
      mesh.visible = true;
    });
    const levels = pictures[0].levels || 1;
    texturesShown = { size: n, levels, names: NAMES.map((name, k) => byIndex[k].name) };
    const { side, border } = diamondIn(n);
    const message = 'Showing ' + texturesShown.names[0] + ' … ' + texturesShown.names[9] +
      ', ' + side + ' × ' + side + ' texels each' + (border > 0 ? ' within border rings of ' + border : '') +
      (levels > 1 ? ', with ' + levels + ' mip levels' : '') + '.';
    showStatus(message, false);
    document.body.classList.add('loaded');
    requestRender();
    return { ok: true, message };
  }

  // Files from a drop: loose files, and the files directly inside each dropped folder.
  // Resolves to { files, unread }, unread naming the folders that could not be listed.
  //
  // A folder is read through its file system handle where the browser has them: on a page
  // opened from file://, Chromium refuses to list a folder entry (readEntries fails with an
  // EncodingError: the entries API names files by URLs made from the page's origin, which
  // is "null" there), while the handle of the same folder can be read. Browsers
  // without handles list the folder entry. Everything must be asked of the drop before the
  // first await: the items are emptied once the drop event returns.
  function droppedFiles(dataTransfer) {
    const items = Array.from(dataTransfer.items || []).filter((item) => item.kind === 'file');
    if (!items.length) return Promise.resolve({ files: Array.from(dataTransfer.files || []), unread: [] });
    const sources = items.map((item) => {
      let handle = null;
      try {
        handle = item.getAsFileSystemHandle ? item.getAsFileSystemHandle() : null;
      } catch (e) {
        handle = null;
      }
      // Keep a refused handle from being reported as unhandled before it is awaited.
      if (handle) handle.catch(() => {});
      return {
        handle,
        entry: item.webkitGetAsEntry ? item.webkitGetAsEntry() : null,
        file: item.getAsFile(),
      };
    });
    return (async () => {
      const files = [];
      const unread = [];
      for (const { handle, entry, file } of sources) {
        const h = handle ? await handle.catch(() => null) : null;
        if (h && h.kind === 'file') {
          files.push(await h.getFile());
          continue;
        }
        if (h && h.kind === 'directory') {
          try {
            const inside = [];
            for await (const child of h.values()) {
              if (child.kind === 'file') inside.push(await child.getFile());
            }
            files.push(...inside);
            continue;
          } catch (e) {
            // Fall back to the folder's entry below.
          }
        }
        if (entry && entry.isDirectory) {
          try {
            files.push(...await folderEntryFiles(entry));
          } catch (e) {
            unread.push(entry.name);
          }
        } else if (file) {
          files.push(file);
        }
      }
      return { files, unread };
    })();
  }

  async function folderEntryFiles(folder) {
    const asFile = (entry) => new Promise((resolve, reject) => entry.file(resolve, reject));
    const reader = folder.createReader();
    const files = [];
    for (;;) {
      const batch = await new Promise((resolve, reject) => reader.readEntries(resolve, reject));
      if (!batch.length) break;
      for (const e of batch) if (e.isFile) files.push(await asFile(e));
    }
    return files;
  }

  // Loads a drop, or says what went wrong and what to do instead; the globe shown stays.
  async function loadDrop(dataTransfer) {
    const fail = (message) => {
      ++latestLoad; // a slower earlier load must not hide this message
      showStatus(message, true);
      return { ok: false, message };
    };
    const instead = 'drop the ten files new1.tga … new10.tga themselves (or their .dds or .ktx2), or pick them ' +
      'with “Open textures…”.';
    let dropped;
    try {
      dropped = await droppedFiles(dataTransfer);
    } catch (e) {
      return fail('The drop could not be read (' + e.message + '): ' + instead);
    }
    const { files, unread } = dropped;
    const found = files.filter((f) => TEXTURE_NAME.test(f.name)).length;
    if (unread.length && found < 10) {
      const which = unread.map((n) => '“' + n + '”').join(', ');
      const why = location.protocol === 'file:'
        ? 'this browser does not let a page opened from disk read a dropped folder'
        : 'this browser did not let the page list it';
      return fail('The folder ' + which + ' could not be read: ' + why + '. Open the folder and ' + instead);
    }
    return loadFiles(files);
  }

  picker.addEventListener('change', () => {
    loadFiles(picker.files);
    picker.value = '';
  });

  document.addEventListener('dragover', (e) => {
    e.preventDefault();
    e.dataTransfer.dropEffect = 'copy';
    document.body.classList.add('dragging');
  });
  document.addEventListener('dragleave', (e) => {
    if (!e.relatedTarget) document.body.classList.remove('dragging');
  });
  document.addEventListener('drop', (e) => {
    e.preventDefault();
    document.body.classList.remove('dragging');
    loadDrop(e.dataTransfer);
  });

  // Dragging turns the globe under the pointer, north kept up; the wheel zooms.
  let drag = null;
  canvas.addEventListener('pointerdown', (e) => {
    drag = { x: e.clientX, y: e.clientY };
    canvas.setPointerCapture(e.pointerId);
  });
  canvas.addEventListener('pointermove', (e) => {
    if (!drag) return;
    const radiusPx = view.zoom * Math.min(canvas.clientWidth, canvas.clientHeight) / 2;
    const degPerPx = 180 / Math.PI / radiusPx;
    view.lon = wrapLon(view.lon - (e.clientX - drag.x) * degPerPx);
    view.lat = Math.max(-90, Math.min(90, view.lat + (e.clientY - drag.y) * degPerPx));
    drag = { x: e.clientX, y: e.clientY };
    requestRender();
  });
  const endDrag = () => { drag = null; };
  canvas.addEventListener('pointerup', endDrag);
  canvas.addEventListener('pointercancel', endDrag);
  // The wheel zooms about the pointer: the place under it stays under it, the view turning
  // as it must with north kept up. Off the disc it zooms about the centre; where a pole
  // stops the turn, as near the pointer as the pole allows.
  canvas.addEventListener('wheel', (e) => {
    e.preventDefault();
    const zoom = Math.max(0.5, Math.min(64, view.zoom * Math.exp(-e.deltaY * 0.001)));
    const rect = canvas.getBoundingClientRect();
    const at = discPoint(e.clientX - rect.left, e.clientY - rect.top);
    const k = view.zoom / zoom;
    // Zooming out, the place may have to leave the disc; then the centre stays.
    if (at && (at.x * at.x + at.y * at.y) * k * k < 1) {
      const place = geographic(at.x, at.y);
      const centre = centreShowing(place, at.x * k, at.y * k);
      view.lon = centre.lon;
      view.lat = centre.lat;
    }
    view.zoom = zoom;
    requestRender();
  }, { passive: false });
  // The canvas is what the header and footer leave of the window; it changes size with the
  // window, and with the header when a long message makes it wrap.
  window.addEventListener('resize', requestRender);
  if (typeof ResizeObserver !== 'undefined') new ResizeObserver(requestRender).observe(canvas);

  const RAD = Math.PI / 180;

  // Canvas pixel (px, py), CSS pixels from its top left, in the view's plane: x east, y north,
  // in sphere radii from the centre of the disc. Null off the disc.
  function discPoint(px, py) {
    const w = canvas.clientWidth || 1;
    const h = canvas.clientHeight || 1;
    const half = 1 / view.zoom;
    const x = (2 * px / w - 1) * half * Math.max(1, w / h);
    const y = (1 - 2 * py / h) * half * Math.max(1, h / w);
    return x * x + y * y < 1 ? { x, y } : null;
  }

  // The place (radians) seen at (x, y) of the view's plane: the inverse orthographic projection.
  function geographic(x, y) {
    const lam0 = view.lon * RAD;
    const phi0 = view.lat * RAD;
    const rho = Math.hypot(x, y);
    if (rho === 0) return { lam: lam0, phi: phi0 };
    const c = Math.asin(Math.min(1, rho));
    const phi = Math.asin(Math.max(-1, Math.min(1,
      Math.cos(c) * Math.sin(phi0) + y * Math.sin(c) * Math.cos(phi0) / rho)));
    const lam = lam0 + Math.atan2(x * Math.sin(c),
      rho * Math.cos(c) * Math.cos(phi0) - y * Math.sin(c) * Math.sin(phi0));
    return { lam, phi };
  }

  // The centre (degrees) of a north-up view that shows the place p at (x, y). The projection
  // there is x = cos(phi) sin(dlam), y = sin(phi) cos(phi0) - cos(phi) cos(dlam) sin(phi0),
  // with dlam = lam - lam0. x gives dlam, up to dlam or pi - dlam; writing y as
  // R cos(phi0 + a) then gives phi0, on the branch that keeps p on the near side. Of the two,
  // the one nearest the current centre continues the view (the other is a jump across the
  // globe). Where that one lies past a pole (p beyond the pole, seen from near it), the view
  // stops at the pole, turned about it so that p keeps its bearing from the centre.
  function centreShowing(p, x, y) {
    const here = direction(view.lon * RAD, view.lat * RAD);
    const cosPhi = Math.cos(p.phi);
    const A = Math.sin(p.phi);
    const s = Math.max(-1, Math.min(1, x / Math.max(cosPhi, 1e-12)));
    let best = null;
    for (const dlam of [Math.asin(s), Math.PI - Math.asin(s)]) {
      const B = cosPhi * Math.cos(dlam);
      const R = Math.hypot(A, B);
      let phi0 = Math.acos(Math.max(-1, Math.min(1, y / R))) - Math.atan2(B, A);
      if (phi0 > Math.PI) phi0 -= 2 * Math.PI;
      const lam0 = p.lam - dlam;
      const c = direction(lam0, phi0);
      const near = c[0] * here[0] + c[1] * here[1] + c[2] * here[2];
      if (!best || near > best.near) best = { near, lam0, phi0 };
    }
    if (Math.abs(best.phi0) <= Math.PI / 2) return { lon: wrapLon(best.lam0 / RAD), lat: best.phi0 / RAD };
    const pole = Math.sign(best.phi0);
    return { lon: wrapLon((p.lam - Math.atan2(x, -pole * y)) / RAD), lat: pole * 90 };
  }

  function direction(lam, phi) {
    return [Math.cos(phi) * Math.cos(lam), Math.cos(phi) * Math.sin(lam), Math.sin(phi)];
  }

  // For scripts and tests: load files, set an exact view, read the picture back.
  window.orbiluneView = {
    load: loadFiles,
    // Centre (degrees, east and north positive) and zoom (1: the disc just fills the canvas).
    setView(lon, lat, zoom) {
      view.lon = wrapLon(lon);
      view.lat = Math.max(-90, Math.min(90, lat));
      if (zoom !== undefined) view.zoom = zoom;
      render();
    },
    view: () => ({ lon: view.lon, lat: view.lat, zoom: view.zoom }),
    // true: mipmaps and anisotropic filtering (the default, for looking at large textures);
    // false: one bilinear read of the nearest level, as `orbilune-cli globe` does.
    setSmooth(on) {
      smooth = !!on;
      meshes.forEach((mesh) => { if (mesh.material.map) applySampling(mesh.material.map); });
      render();
    },
    shown: () => texturesShown,
    // The canvas as a PNG data URL, rendered now so that the drawing buffer is current.
    capture() {
      render();
      return canvas.toDataURL('image/png');
    },
  };

  requestRender();
})();
