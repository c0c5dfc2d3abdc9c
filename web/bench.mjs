// The web face's figures (a benchmark, not a test): the package's files gzipped, and the array
// API's rows per second over 1 000 000 rows on one core (wall clock and this process's CPU time,
// which a loaded machine disturbs less). The element's time to its first caption is printed by
// web/tests/browser.test.mjs.
//   node web/bench.mjs [PACKAGE_DIR] [ROWS]

import { readdirSync, readFileSync } from 'node:fs';
import { gzipSync } from 'node:zlib';
import { join, resolve } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

const pkg = resolve(process.argv[2] ?? fileURLToPath(new URL('../build/web/package', import.meta.url)));
const rows = Number(process.argv[3] ?? 1000000);

let gz = 0;
for (const f of readdirSync(pkg)) gz += gzipSync(readFileSync(join(pkg, f)), { level: 9 }).length;
console.log(`package: ${(gz / 1024).toFixed(1)} KB gzipped, file by file`);

const { load, wasmFile } = await import(pathToFileURL(join(pkg, 'pelmora.js')));
const p = await load();
console.log(`module: ${wasmFile}, ${p._core._pelmora_web_lanes()} lanes, ` +
  (p._core._pelmora_web_fused() ? 'fused by relaxed SIMD' : 'unfused steps checked'));
// Rows as a clinic would have them: birth weights and gestations that vary, every base.
const bwt = new Float64Array(rows);
const gest = new Float64Array(rows);
const base = new Uint8Array(rows);
let s = 12345;
const random = () => { s = (s * 1103515245 + 12345) % 2147483648; return s / 2147483648; };
for (let i = 0; i < rows; ++i) {
  bwt[i] = 1500 + Math.round(3000 * random());
  gest[i] = 245 + Math.round(50 * random());
  base[i] = i % 4;
}
const t0 = performance.now();
const c0 = process.cpuUsage();
const out = p.centile(Array.from(base), bwt, gest, 65, 165, 1, 1, 0);
const wall = (performance.now() - t0) / 1000;
const cu = process.cpuUsage(c0);
const cpu = (cu.user + cu.system) / 1e6;
console.log(`array API: ${rows} rows in ${wall.toFixed(2)} s wall (${Math.round(rows / wall)} rows/s), ` +
  `${cpu.toFixed(2)} s CPU (${Math.round(rows / cpu)} rows per CPU second); first ${out[0]}`);
