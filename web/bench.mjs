// The web face's figures (a benchmark, not a test): the package's files gzipped, and the array
// API's rows per second over 1 000 000 rows on one core (wall clock and this process's CPU time,
// which a loaded machine disturbs less), in this Node and, where puppeteer-core (web/'s
// npm ci) and Debian's Chromium are there, in a page of headless Chromium. The element's time to
// its first caption is printed by web/tests/browser.test.mjs.
//   node web/bench.mjs [PACKAGE_DIR] [ROWS]     (PACKAGE_DIR's ../demo is the page's folder)

import { existsSync, readdirSync, readFileSync } from 'node:fs';
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
// How a module forms its exps, as the lines below say it.
const how = (file, fused) => `${file}, ${fused ? 'fused by relaxed SIMD' : 'unfused steps checked'}`;
console.log(`module: ${how(wasmFile, p._core._pelmora_web_fused())}, ${p._core._pelmora_web_lanes()} lanes`);
// Rows as a clinic would have them: birth weights and gestations that vary, every base. The
// same function runs in the page.
function clinicRows(rows) {
  const bwt = new Float64Array(rows);
  const gest = new Float64Array(rows);
  const base = new Array(rows);
  let s = 12345;
  const random = () => { s = (s * 1103515245 + 12345) % 2147483648; return s / 2147483648; };
  for (let i = 0; i < rows; ++i) {
    bwt[i] = 1500 + Math.round(3000 * random());
    gest[i] = 245 + Math.round(50 * random());
    base[i] = i % 4;
  }
  return { base, bwt, gest };
}
const { base, bwt, gest } = clinicRows(rows);
const t0 = performance.now();
const c0 = process.cpuUsage();
const out = p.centile(base, bwt, gest, 65, 165, 1, 1, 0);
const wall = (performance.now() - t0) / 1000;
const cu = process.cpuUsage(c0);
const cpu = (cu.user + cu.system) / 1e6;
console.log(`array API: ${rows} rows in ${wall.toFixed(2)} s wall (${Math.round(rows / wall)} rows/s), ` +
  `${cpu.toFixed(2)} s CPU (${Math.round(rows / cpu)} rows per CPU second); first ${out[0]}`);

const chromium = process.env.PELMORA_CHROMIUM ?? '/usr/bin/chromium';
let puppeteer = null;
try {
  puppeteer = (await import('puppeteer-core')).default;
} catch {
  console.log('Chromium: skipped (no puppeteer-core: npm ci in web/)');
}
if (puppeteer && existsSync(chromium)) {
  const { spawn } = await import('node:child_process');
  const server = spawn(process.execPath, [fileURLToPath(new URL('serve.mjs', import.meta.url)), join(pkg, '..', 'demo'), '0'],
    { stdio: ['ignore', 'pipe', 'inherit'] });
  const address = await new Promise((done) => server.stdout.once('data', (d) => done(String(d).trim())));
  const browser = await puppeteer.launch({ executablePath: chromium, headless: true, args: ['--no-sandbox'] });
  try {
    const page = await browser.newPage();
    await page.goto(address);
    const r = await page.evaluate(async (rows, makeRows) => {
      const { load, wasmFile } = await import('./pelmora/pelmora.js');
      const p = await load();
      const { base, bwt, gest } = (0, eval)(`(${makeRows})`)(rows);
      const t0 = performance.now();
      const out = p.centile(base, bwt, gest, 65, 165, 1, 1, 0);
      return { wasmFile, fused: p._core._pelmora_web_fused(), seconds: (performance.now() - t0) / 1000, first: out[0] };
    }, rows, clinicRows.toString());
    console.log(`Chromium ${(await browser.version()).replace(/^(Headless)?Chrome\//, '')}: ${how(r.wasmFile, r.fused)}; ` +
      `array API: ${rows} rows in ` +
      `${r.seconds.toFixed(2)} s (${Math.round(rows / r.seconds)} rows/s); first ${r.first}`);
  } finally {
    await browser.close();
    server.kill();
  }
}
