#!/usr/bin/env node
// Draws the program's mark a second time, apart from the C++ drawing, with every operation
// rounded to single precision (Math.fround), and compares the pixels window_document_samples
// wrote at 32, 64 and 128 pixels byte for byte. A change of the geometry, the sampling, the test
// order or the arithmetic in either drawing shows here.
//
// Usage: node check_mark.js <window_document_samples program>
'use strict';
const assert = require('assert');
const childProcess = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');

const f = Math.fround;

function segments() {
  const list = [[9, 25, 9, 12], [27, 25, 27, 12], [9, 21, 27, 21]];
  const curves = [[[12, 21], [13, 16], [16, 13], [18, 13]], [[18, 13], [20, 13], [23, 16], [24, 21]]];
  for (const p of curves) {
    let previous = p[0];
    for (let k = 1; k <= 12; k++) {
      const t = f(k / 12);
      const u = f(1 - t);
      const w = [f(f(u * u) * u), f(f(f(3 * u) * u) * t), f(f(f(3 * u) * t) * t), f(f(t * t) * t)];
      const at = (axis) => f(f(f(f(w[0] * p[0][axis]) + f(w[1] * p[1][axis])) + f(w[2] * p[2][axis])) +
                             f(w[3] * p[3][axis]));
      const next = [at(0), at(1)];
      list.push([previous[0], previous[1], next[0], next[1]]);
      previous = next;
    }
  }
  return list;
}

function length(x, y) {
  return f(Math.sqrt(f(f(x * x) + f(y * y))));
}

function distance(x, y, s) {
  const dx = f(s[2] - s[0]);
  const dy = f(s[3] - s[1]);
  const squared = f(f(dx * dx) + f(dy * dy));
  let t = 0;
  if (squared > 0) t = Math.min(Math.max(f(f(f(f(x - s[0]) * dx) + f(f(y - s[1]) * dy)) / squared), 0), 1);
  return length(f(x - f(s[0] + f(t * dx))), f(y - f(s[1] + f(t * dy))));
}

function draw(n) {
  const list = segments();
  const pixels = Buffer.alloc(n * n * 4);
  const step = f(36 / f(4 * n));
  for (let i = 0; i < n; i++) {
    for (let j = 0; j < n; j++) {
      let k = 0;
      const sum = [0, 0, 0];
      for (let l = 0; l < 4; l++) {
        const y = f(f(4 * i + l + 0.5) * step);
        for (let m = 0; m < 4; m++) {
          const x = f(f(4 * j + m + 0.5) * step);
          const outX = Math.max(f(Math.abs(f(x - 18)) - 7.5), 0);
          const outY = Math.max(f(Math.abs(f(y - 18)) - 7.5), 0);
          if (length(outX, outY) > 9) continue;
          let colour = [237, 241, 235];
          if (length(f(x - 18), f(y - 11)) <= 2.25) {
            colour = [148, 170, 144];
          } else if (list.some((s) => distance(x, y, s) <= 1.125)) {
            colour = [23, 28, 24];
          }
          k++;
          for (let c = 0; c < 3; c++) sum[c] += colour[c];
        }
      }
      const at = (i * n + j) * 4;
      for (let c = 0; c < 3; c++) pixels[at + c] = k ? Math.floor(sum[c] / k) : 0;
      pixels[at + 3] = (k * 255) >> 4;
    }
  }
  return pixels;
}

const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'zelk-mark-'));
try {
  childProcess.execFileSync(process.argv[2], [folder], {stdio: 'inherit'});
  for (const n of [32, 64, 128]) {
    const drawn = fs.readFileSync(path.join(folder, 'mark-' + n + '.rgba'));
    const expected = draw(n);
    assert.strictEqual(drawn.length, expected.length, n + ': length');
    const first = expected.findIndex((byte, index) => drawn[index] !== byte);
    assert.strictEqual(first, -1, n + ': first difference at pixel ' + Math.floor(first / 4));
  }
  console.log('the mark is the same at 32, 64 and 128 pixels');
} finally {
  fs.rmSync(folder, {recursive: true, force: true});
}
