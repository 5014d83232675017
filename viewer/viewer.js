// Shows Orbilune's ten diamond textures, new1.tga .. new10.tga, on the icosahedral sphere.
// A plain script over the global THREE (vendor/three.js) so that the page also works when
// opened straight from disk, where browsers refuse ES modules.
(function () {
  'use strict';

  const statusEl = document.getElementById('status');
  const viewEl = document.getElementById('view');
  const canvas = document.getElementById('globe');
  const picker = document.getElementById('picker');

  if (typeof THREE === 'undefined') {
    showStatus('three.js is missing: run "npm ci" in the viewer folder, then reload this page.', true);
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
  const NAMES = DIAMONDS.map((_, i) => 'new' + (i + 1) + '.tga');

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

  function applySampling(texture) {
    texture.generateMipmaps = smooth;
    texture.minFilter = smooth ? THREE.LinearMipmapLinearFilter : THREE.LinearFilter;
    texture.magFilter = THREE.LinearFilter;
    texture.anisotropy = smooth ? renderer.capabilities.getMaxAnisotropy() : 1;
    texture.needsUpdate = true;
  }

  function makeTexture(picture) {
    const texture = new THREE.DataTexture(picture.rgba, picture.width, picture.height,
      THREE.RGBAFormat, THREE.UnsignedByteType);
    // Row 0 (the pole row) at texture coordinate 0, as the mesh's v counts from the pole.
    texture.flipY = false;
    texture.colorSpace = THREE.NoColorSpace;
    texture.wrapS = texture.wrapT = THREE.ClampToEdgeWrapping;
    // Texel centres sit half a texel inside the points they were sampled at.
    texture.offset.set(0.5 / picture.width, 0.5 / picture.height);
    applySampling(texture);
    return texture;
  }

  // Picks new1.tga .. new10.tga out of the given files (by name, any case; other files
  // are ignored), decodes them and shows them if all ten are there and of one square size.
  // Resolves to { ok, message }; on failure the globe shown before stays.
  let latestLoad = 0;
  async function loadFiles(fileList) {
    // A slow load overtaken by a newer one must not replace what the newer one shows.
    const ticket = ++latestLoad;
    const files = Array.from(fileList || []);
    const byIndex = new Array(10).fill(null);
    const twice = [];
    for (const file of files) {
      const m = /^new(10|[1-9])\.tga$/i.exec(file.name);
      if (!m) continue;
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
      return fail('None of these files is one of the textures new1.tga … new10.tga.');
    }
    if (missing.length) {
      return fail('Missing: ' + missing.join(', ') + '. All ten textures new1.tga … new10.tga are needed.');
    }

    showStatus('Reading the ten textures…', false);
    const pictures = [];
    for (let k = 0; k < 10; k++) {
      try {
        pictures.push(window.OrbiluneTga.decodeTga(await byIndex[k].arrayBuffer()));
      } catch (e) {
        return fail(NAMES[k] + ': ' + e.message + '.');
      }
    }
    if (ticket !== latestLoad) return { ok: false, message: 'Replaced by a later load.' };
    const notSquare = pictures.findIndex((p) => p.width !== p.height);
    if (notSquare >= 0) {
      const p = pictures[notSquare];
      return fail(NAMES[notSquare] + ' is ' + p.width + ' × ' + p.height + ' texels; the textures are square.');
    }
    const n = pictures[0].width;
    const odd = pictures.map((p, k) => [p, k]).filter(([p]) => p.width !== n);
    if (odd.length) {
      return fail('The textures differ in size: new1.tga is ' + n + ' × ' + n + ', ' +
        odd.map(([p, k]) => NAMES[k] + ' is ' + p.width + ' × ' + p.width).join(', ') +
        '. All ten must be the same size.');
    }

    meshes.forEach((mesh, k) => {
      if (mesh.material.map) mesh.material.map.dispose();
      mesh.material.map = makeTexture(pictures[k]);
      mesh.material.needsUpdate = true;
      mesh.visible = true;
    });
    texturesShown = { size: n, names: NAMES.map((name, k) => byIndex[k].name) };
    const message = 'Showing ' + texturesShown.names[0] + ' … ' + texturesShown.names[9] +
      ', ' + n + ' × ' + n + ' texels each.';
    showStatus(message, false);
    document.body.classList.add('loaded');
    requestRender();
    return { ok: true, message };
  }

  // Files from a drop: loose files, or the files directly inside a dropped folder.
  async function droppedFiles(dataTransfer) {
    const entries = Array.from(dataTransfer.items || [])
      .map((item) => (item.webkitGetAsEntry ? item.webkitGetAsEntry() : null))
      .filter(Boolean);
    if (!entries.some((e) => e.isDirectory)) return Array.from(dataTransfer.files);
    const files = [];
    const asFile = (entry) => new Promise((resolve, reject) => entry.file(resolve, reject));
    for (const entry of entries) {
      if (entry.isFile) {
        files.push(await asFile(entry));
      } else if (entry.isDirectory) {
        const reader = entry.createReader();
        for (;;) {
          const batch = await new Promise((resolve, reject) => reader.readEntries(resolve, reject));
          if (!batch.length) break;
          for (const e of batch) if (e.isFile) files.push(await asFile(e));
        }
      }
    }
    return files;
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
  document.addEventListener('drop', async (e) => {
    e.preventDefault();
    document.body.classList.remove('dragging');
    loadFiles(await droppedFiles(e.dataTransfer));
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
  canvas.addEventListener('wheel', (e) => {
    e.preventDefault();
    view.zoom = Math.max(0.5, Math.min(64, view.zoom * Math.exp(-e.deltaY * 0.001)));
    requestRender();
  }, { passive: false });
  window.addEventListener('resize', requestRender);

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
