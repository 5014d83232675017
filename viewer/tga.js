// Reads a TGA picture into RGBA bytes, rows from the top. Orbilune writes uncompressed 24-bit
// top-left-origin files, but a user may have re-saved them in an editor, so this also takes
// run-length encoding, 16- and 32-bit true colour, 8-bit grey and either origin.
(function () {
  'use strict';

  function decodeTga(arrayBuffer) {
    const b = new Uint8Array(arrayBuffer);
    if (b.length < 18) throw new Error('too short to be a TGA picture');
    const idLength = b[0];
    const colorMapType = b[1];
    const type = b[2];
    const colorMapLength = b[5] | (b[6] << 8);
    const colorMapDepth = b[7];
    const width = b[12] | (b[13] << 8);
    const height = b[14] | (b[15] << 8);
    const depth = b[16];
    const descriptor = b[17];

    const rle = type >= 9 && type <= 11;
    const kind = rle ? type - 8 : type;
    if (kind === 1) throw new Error('colour-mapped TGA pictures are not supported; save it as 24-bit true colour');
    if (kind !== 2 && kind !== 3) throw new Error('not a TGA picture (image type ' + type + ')');
    if (kind === 2 && depth !== 16 && depth !== 24 && depth !== 32) {
      throw new Error(depth + '-bit true-colour TGA pictures are not supported');
    }
    if (kind === 3 && depth !== 8 && depth !== 16) throw new Error(depth + '-bit grey TGA pictures are not supported');
    if (width === 0 || height === 0) throw new Error('the picture is empty');

    const bytesPerPixel = depth >> 3;
    const pixelCount = width * height;
    // Pixels in file order, as bytes of the file's own layout; placed into rows below.
    let stream;
    let pos = 18 + idLength + (colorMapType === 1 ? colorMapLength * ((colorMapDepth + 7) >> 3) : 0);
    const needed = pixelCount * bytesPerPixel;
    if (!rle) {
      if (pos + needed > b.length) throw new Error('the file is cut short');
      stream = b.subarray(pos, pos + needed);
    } else {
      stream = new Uint8Array(needed);
      let out = 0;
      while (out < needed) {
        if (pos >= b.length) throw new Error('the file is cut short');
        const header = b[pos++];
        const count = (header & 0x7f) + 1;
        const bytes = Math.min(count * bytesPerPixel, needed - out);
        if (header & 0x80) {
          if (pos + bytesPerPixel > b.length) throw new Error('the file is cut short');
          for (let i = 0; i < bytes; i++) stream[out + i] = b[pos + (i % bytesPerPixel)];
          pos += bytesPerPixel;
        } else {
          if (pos + count * bytesPerPixel > b.length) throw new Error('the file is cut short');
          stream.set(b.subarray(pos, pos + bytes), out);
          pos += count * bytesPerPixel;
        }
        out += bytes;
      }
    }

    // Bit 5 of the descriptor: rows stored from the top; bit 4: columns stored from the right.
    const fromTop = (descriptor & 0x20) !== 0;
    const fromRight = (descriptor & 0x10) !== 0;
    const rgba = new Uint8Array(pixelCount * 4);
    let s = 0;
    for (let fileRow = 0; fileRow < height; fileRow++) {
      const row = fromTop ? fileRow : height - 1 - fileRow;
      for (let fileCol = 0; fileCol < width; fileCol++) {
        const col = fromRight ? width - 1 - fileCol : fileCol;
        const o = (row * width + col) * 4;
        if (kind === 3) {
          rgba[o] = rgba[o + 1] = rgba[o + 2] = stream[s];
        } else if (depth === 16) {
          const v = stream[s] | (stream[s + 1] << 8); // 1-5-5-5, red in the high bits
          rgba[o] = (((v >> 10) & 31) * 255 + 15) / 31 | 0;
          rgba[o + 1] = (((v >> 5) & 31) * 255 + 15) / 31 | 0;
          rgba[o + 2] = ((v & 31) * 255 + 15) / 31 | 0;
        } else {
          rgba[o] = stream[s + 2];
          rgba[o + 1] = stream[s + 1];
          rgba[o + 2] = stream[s];
        }
        rgba[o + 3] = 255; // alpha is not part of the textures
        s += bytesPerPixel;
      }
    }
    return { width, height, rgba };
  }

  window.OrbiluneTga = { decodeTga };
})();
