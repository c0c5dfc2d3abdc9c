// The WebAssembly module through the package's API, in Node: the validation table bit for bit,
// arrays and broadcasting, failures, and inputs it must refuse.
//   node --test web/tests/module.test.mjs   (PELMORA_PACKAGE: the built package folder)

import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { fileURLToPath } from 'node:url';
import { join } from 'node:path';

const root = fileURLToPath(new URL('../..', import.meta.url));
const pkg = process.env.PELMORA_PACKAGE ?? join(root, 'build/web/package');
const { load, PelmoraError, wasmFile } = await import(join(pkg, 'pelmora.js'));
// PELMORA_WASM: one of the package's two modules, in place of the one load() picks for this Node.
const file = process.env.PELMORA_WASM ?? wasmFile;
const p = await load({ wasm: join(pkg, file) });
// The relaxed module fuses where the engine's multiply-add is a fused one, as on x86-64 with FMA.
const fuses = file === 'pelmora-core-relaxed.wasm' && /\bfma\b/.test(readFileSync('/proc/cpuinfo', 'utf8'));

const number = (s) => (s === '' ? NaN : Number(s));
const table = readFileSync(join(root, 'validation/centiles.csv'), 'utf8').trim().split('\n').slice(1).map((line) => {
  const f = line.split(',');
  return { line, base: f[2], in: f.slice(3, 10).map(number), centile: number(f[10]), z: number(f[11]),
    optimalWeight: number(f[12]), error: f[13] === '' ? 0 : Number(f[13]) };
});
const bits = (v) => { const b = new DataView(new ArrayBuffer(8)); b.setFloat64(0, v); return b.getBigUint64(0).toString(16); };

test('the validation table, row by row and as columns, bit for bit', () => {
  assert.ok(table.length > 4000);
  const columns = Array.from({ length: 7 }, (_, k) => Float64Array.from(table, (r) => r.in[k]));
  const all = p.evaluate(table.map((r) => r.base), ...columns, { errors: 'nan' });
  table.forEach((r, i) => {
    const one = p.evaluate(r.base, ...r.in, { errors: 'nan' });
    for (const [q, want] of [['centile', r.centile], ['z', r.z], ['optimalWeight', r.optimalWeight]]) {
      assert.equal(bits(one[q]), bits(want), `${r.line}: ${q}`);
      assert.equal(bits(all[q][i]), bits(want), `${r.line}: ${q} in the columns`);
    }
    assert.equal(one.error, r.error, r.line);
    assert.equal(all.error[i], r.error, r.line);
  });
});

test("the module's exp gives the native exp's bits", { skip: !process.env.PELMORA_EXP_REFERENCE }, () => {
  const lines = readFileSync(process.env.PELMORA_EXP_REFERENCE, 'utf8').trim().split('\n');
  assert.ok(lines.length > 1000);
  let differ = 0;
  for (const line of lines) {
    const [hex, want] = line.split(' ');
    const x = parseHexDouble(hex);
    if (bits(p._core._pelmora_web_exp(x)).padStart(16, '0') !== want) ++differ;
  }
  assert.equal(differ, 0, `${differ} of ${lines.length} arguments differ`);
  // The engine's two-lane copy (WebAssembly SIMD) on the same arguments, each beside the next.
  assert.equal(p._core._pelmora_web_lanes(), 2);
  assert.equal(p._core._pelmora_web_fused(), fuses ? 1 : 0, `${file}: fused`);
  const core = p._core;
  const io = core._malloc(32);
  let differ2 = 0;
  for (let k = 0; k + 1 < lines.length; k += 2) {
    const pair = [lines[k], lines[k + 1]].map((line) => line.split(' '));
    core.HEAPF64[io >> 3] = parseHexDouble(pair[0][0]);
    core.HEAPF64[(io >> 3) + 1] = parseHexDouble(pair[1][0]);
    core._pelmora_web_exp2(io, io + 16);
    for (let j = 0; j < 2; ++j) if (bits(core.HEAPF64[(io >> 3) + 2 + j]).padStart(16, '0') !== pair[j][1]) ++differ2;
  }
  core._free(io);
  assert.equal(differ2, 0, `${differ2} arguments differ in the two-lane exp`);
});

function parseHexDouble(s) {
  const m = /^(-?)0x([01])\.?([0-9a-f]*)p([+-]\d+)$/.exec(s);
  if (!m) throw new Error(`not a hex double: ${s}`);
  const mantissa = BigInt(`0x${m[2]}${m[3]}`);
  const shift = 4 * m[3].length;
  let v = Number(mantissa) * 2 ** (Number(m[4]) - shift);
  if (mantissa >= 2n ** 53n) throw new Error(`too many digits: ${s}`);
  return m[1] ? -v : v;
}

test('arrays and single values broadcast against each other', () => {
  const uk = table.filter((r) => r.base === 'uk' && r.error === 0 && !r.in.some(Number.isNaN)).slice(0, 50);
  const bwt = uk.map((r) => r.in[0]);
  // One varying column, the rest single values, plain arrays of one, or typed arrays.
  const [, gest, wt, ht, sex, eth, par] = uk[0].in;
  const want = bwt.map((b) => p.centile('uk', b, gest, wt, ht, sex, eth, par));
  const cases = [
    ['numbers', ['uk', bwt, gest, wt, ht, sex, eth, par]],
    ['arrays of one', [['uk'], Float64Array.from(bwt), [gest], [wt], [ht], [sex], [eth], [par]]],
    ['integer typed arrays', [0, bwt, Int32Array.of(gest), wt, ht, Int8Array.of(sex), Int16Array.of(eth), Uint8Array.of(par)]],
    ['a base per row by name', [bwt.map(() => 'United Kingdom'), bwt, gest, wt, ht, sex, eth, par]],
  ];
  for (const [what, args] of cases) {
    const got = p.centile(...args);
    assert.ok(got instanceof Float64Array, what);
    assert.deepEqual(Array.from(got, bits), want.map(bits), what);
  }
  assert.deepEqual(p.centile('uk', [], gest, wt, ht, sex, eth, par), new Float64Array(0));
  // Longer than one chunk of the module's buffers, with a missing input in the middle.
  const many = new Float64Array(40000).fill(3500);
  many[30000] = NaN;
  const c = p.centile('uk', many, 280, 64, 163, 1, 1, 0);
  assert.equal(c.length, 40000);
  assert.ok(Number.isNaN(c[30000]));
  assert.equal(c[39999], p.centile('uk', 3500, 280, 64, 163, 1, 1, 0));
  assert.deepEqual(p.classify('uk', [2500, 3500, 4500, NaN], 280, 64, 163, 1, 1, 0), ['SGA', 'AGA', 'LGA', '']);
  assert.equal(p.classify('uk', 3500, 280, 64, 163, 1, 1, 0, { sga: 50, lga: 90 }), 'SGA');
  assert.ok(Number.isNaN(p.centile('uk', null, 280, 64, 163, 1, 1, 0)));
});

test('a failing row throws its run-time error, or gives NaN and the number', () => {
  const failing = table.filter((r) => r.error !== 0);
  assert.ok(failing.length > 0);
  for (const r of failing) {
    assert.throws(() => p.centile(r.base, ...r.in), (e) => e instanceof PelmoraError && e.number === r.error &&
      e.message.startsWith(`run-time error ${r.error}: ${e.description}`) && e.row === undefined, r.line);
    const got = p.centile(r.base, ...r.in, { errors: 'nan' });
    assert.ok(Number.isNaN(got.centile));
    assert.equal(got.error, r.error);
  }
  // In a batch the first failing row is named.
  const r = failing[0];
  const bwt = [3500, 3500, r.in[0], r.in[0]];
  const rest = r.in.slice(1).map((v) => [v, v, v, v]);
  rest[0] = [280, 280, r.in[1], r.in[1]];
  const ok = table[0].in;
  const cols = [bwt, rest[0], [ok[2], ok[2], r.in[2], r.in[2]], [ok[3], ok[3], r.in[3], r.in[3]],
    [ok[4], ok[4], r.in[4], r.in[4]], [ok[5], ok[5], r.in[5], r.in[5]], [ok[6], ok[6], r.in[6], r.in[6]]];
  assert.throws(() => p.centile([table[0].base, table[0].base, r.base, r.base], ...cols),
    (e) => e instanceof PelmoraError && e.row === 2 && e.number === r.error && /\(row 2\)$/.test(e.message));
});

test('inputs it refuses, each with a message that names it', () => {
  const ok = [3500, 280, 64, 163, 1, 1, 0];
  const cases = [
    [['mars', ...ok], RangeError, /base "mars" is none of/],
    [[4, ...ok], TypeError, /base must be 0\.\.3/],
    [[1.5, ...ok], TypeError, /base must be 0\.\.3/],
    [[{}, ...ok], TypeError, /base must be/],
    [['uk', '3500', 280, 64, 163, 1, 1, 0], TypeError, /bwt must be a number.*not "3500"/],
    [['uk', 3500, true, 64, 163, 1, 1, 0], TypeError, /gest must be a number/],
    [['uk', 3500, 280, { kg: 64 }, 163, 1, 1, 0], TypeError, /wt must be a number/],
    [['uk', [3500, 3400], 280, 64, [163, 160, 150], 1, 1, 0], RangeError, /ht has 3 values but bwt has 2/],
    [['uk', [3500, 'x'], 280, 64, 163, 1, 1, 0], TypeError, /bwt\[1\] must be a number/],
    [[['uk', 'xx'], [3500, 3400], 280, 64, 163, 1, 1, 0], RangeError, /base\[1\] "xx"/],
    [['uk', BigInt64Array.of(3500n), 280, 64, 163, 1, 1, 0], TypeError, /bwt holds BigInts/],
    [['uk', ...ok, { errors: 'ignore' }], RangeError, /options.errors must be/],
    [['uk', ...ok, 'nan'], TypeError, /options must be an object/],
  ];
  for (const [args, type, message] of cases) {
    assert.throws(() => p.centile(...args), (e) => e instanceof type && message.test(e.message), String(args[0]));
  }
});

test('centile curves and weights at centiles: the native pelmora-centile curves, bit for bit', { skip: !process.env.PELMORA_CENTILE }, async () => {
  const { execFileSync } = await import('node:child_process');
  const centiles = [3, 10, 50, 90, 97.5];
  const csv = execFileSync(process.env.PELMORA_CENTILE, ['curves', '--base', 'nz', '--wt', '58', '--ht', '161', '--sex', 'Female',
    '--eth', 'Maori', '--par', '1', '--centiles', centiles.join(','), '--from', '167', '--to', '300'], { encoding: 'utf8' });
  const rows = csv.trim().split('\n').slice(1).map((line) => line.split(','));
  const c = p.curves('nz', 58, 161, 0, 3, 1, { centiles, first: 167, last: 300 });
  assert.equal(rows.length, 134);
  assert.deepEqual(c.centiles, centiles);
  rows.forEach((f, d) => {
    assert.equal(Number(f[0]), 167 + d);
    centiles.forEach((_, k) => assert.equal(bits(c.weights[k][d]), bits(Number(f[2 + k])), `day ${f[0]}, p${centiles[k]}`));
  });
  // The same weights one by one, and as columns broadcast against one mother.
  const days = Float64Array.from(rows, (f) => Number(f[0]));
  centiles.forEach((centile, k) => {
    const w = p.weightAtCentile('nz', centile, days, 58, 161, 0, 3, 1);
    days.forEach((day, d) => {
      assert.equal(bits(w[d]), bits(c.weights[k][d]));
      if (d % 40 === 0) assert.equal(bits(p.weightAtCentile(2, centile, day, 58, 161, 0, 3, 1)), bits(c.weights[k][d]));
    });
  });
  // Refused: a centile out of range throws naming the row, or gives NaN and its error number.
  assert.throws(() => p.weightAtCentile('nz', [50, 100], 280, 58, 161, 0, 3, 1), (e) => e instanceof PelmoraError && e.row === 1);
  const r = p.weightAtCentile('nz', [50, 0], [280, NaN], 58, 161, 0, 3, 1, { errors: 'nan' });
  assert.ok(r.weight[0] > 0 && Number.isNaN(r.weight[1]) && r.error[0] === 0 && r.error[1] > 0);
  assert.throws(() => p.curves('nz', 58, 161, 0, 3, 1, { first: 300, last: 200 }), PelmoraError);
  assert.throws(() => p.curves('nz', [58, 60], 161, 0, 3, 1), /wt must be one value/);
  assert.throws(() => p.weightAtCentile('nz', '50', 280, 58, 161, 0, 3, 1), /centile must be a number/);
});

test('the packed tarball installs offline and runs in Node as the README shows', { skip: !process.env.PELMORA_TARBALL }, async () => {
  const { mkdtempSync, writeFileSync, rmSync } = await import('node:fs');
  const { tmpdir } = await import('node:os');
  const { execFileSync } = await import('node:child_process');
  const dir = mkdtempSync(join(tmpdir(), 'pelmora-npm-'));
  try {
    writeFileSync(join(dir, 'package.json'), '{ "name": "client", "private": true, "type": "module" }\n');
    execFileSync('npm', ['install', '--offline', '--no-audit', '--no-fund', '--loglevel=error', process.env.PELMORA_TARBALL], { cwd: dir });
    writeFileSync(join(dir, 'client.js'), [
      "import { load } from 'pelmora';",
      'const p = await load();',
      "console.log(p.centile('uk', 3500, 280, 64, 163, 1, 1, 0));",
      "console.log(Array.from(p.centile('nz', [3000, 3500], 280, 70, 165, 1, 1, 0)).join(' '));",
    ].join('\n'));
    const out = execFileSync('node', ['client.js'], { cwd: dir, encoding: 'utf8' }).trim().split('\n');
    assert.equal(out[0], String(p.centile('uk', 3500, 280, 64, 163, 1, 1, 0)));
    assert.equal(out[1], Array.from(p.centile('nz', [3000, 3500], 280, 70, 165, 1, 1, 0)).join(' '));
    const manifest = JSON.parse(readFileSync(join(dir, 'node_modules/pelmora/package.json'), 'utf8'));
    const version = /project\(pelmora VERSION ([0-9.]+)/.exec(readFileSync(join(root, 'CMakeLists.txt'), 'utf8'))[1];
    assert.equal(manifest.version, version);
    for (const entry of Object.values(manifest.exports)) {
      if (typeof entry === 'object') assert.equal(Object.keys(entry)[0], 'types', 'types come first');
    }
  } finally {
    rmSync(dir, { recursive: true, force: true });
  }
});

test('growth charts: the native pelmora-centile chart, byte for byte', { skip: !process.env.PELMORA_CENTILE }, async () => {
  const { execFileSync } = await import('node:child_process');
  const { mkdtempSync, rmSync } = await import('node:fs');
  const { tmpdir } = await import('node:os');
  const dir = mkdtempSync(join(tmpdir(), 'pelmora-chart-'));
  // Each: the command's options, then chartSvg's arguments for the same chart.
  const cases = [
    [['--base', 'uk', '--wt', '64', '--ht', '163', '--sex', 'Male', '--eth', 'European', '--par', '0'],
      ['uk', 64, 163, 1, 1, 0]],
    [['--base', 'New Zealand', '--wt', '58.5', '--ht', '161', '--sex', 'Female', '--eth', 'Maori', '--par', '4 or more',
      '--centiles', '2.5,10,50,90,97', '--from', '22+3', '--to', '301', '--edd', '2027-02-28',
      '--point', '160:410.25:scan <1> & "2"', '--point', '33+0:1900:EFW', '--point', '231:2000', '--point', '40+1:3500:BIRTH',
      '--point', '301:5100.5:a label too long for its cell \u00e9\u00e9'],
      [2, 58.5, 161, 0, 3, 4, { centiles: [2.5, 10, 50, 90, 97], first: '22+3', last: 301, edd: '2027-02-28',
        points: ['160:410.25:scan <1> & "2"', [231, 1900, 'EFW'], { gest: 231, weight: 2000 }, { gest: '40+1', weight: 3500, label: 'BIRTH' },
          '301:5100.5:a label too long for its cell \u00e9\u00e9'] }]],
    [['--base', 'au', '--wt', '1e2', '--ht', '149.9', '--sex', '7', '--eth', '-1', '--par', '9', '--from', '280', '--to', '280',
      '--point', '280:9999.999:birth'],
      ['Australia', 100, 149.9, 7, -1, 9, { first: 280, last: 280, points: ['280:9999.999:birth'] }]],
  ];
  try {
    cases.forEach(([options, args], i) => {
      const file = join(dir, `${i}.svg`);
      execFileSync(process.env.PELMORA_CENTILE, ['chart', ...options, '-o', file]);
      assert.equal(p.chartSvg(...args), readFileSync(file, 'utf8'), options.join(' '));
    });
  } finally {
    rmSync(dir, { recursive: true, force: true });
  }
  // Refused, with what the command says of the same request.
  const mother = ['swe', 70, 170, 1, 1, 1];
  for (const [options, pattern] of [
    [{ points: ['231:0:EFW'] }, /point '231:0:EFW': the weight '0' is not a number of grams above 0 and up to 10000/],
    [{ points: [' 231:1900'] }, /the gestation ' 231' is not days/],
    [{ points: ['231:+1900'] }, /the weight '\+1900' is not a number/],
    [{ points: ['231:0x10'] }, /the weight '0x10' is not a number/],
    [{ first: '300', last: '24+0' }, PelmoraError],
    [{ first: '24+7' }, /first: '24\+7' is not days/],
    [{ edd: '2027-02-29' }, /edd: not a date YYYY-MM-DD: '2027-02-29'/],
    [{ centiles: [50, 100] }, PelmoraError],
  ]) {
    assert.throws(() => p.chartSvg(...mother, options), (e) => e instanceof PelmoraError && (pattern === PelmoraError || pattern.test(e.message)), JSON.stringify(options));
  }
  assert.throws(() => p.chartSvg('swe', 70, NaN, 1, 1, 1), /an input of the mother is missing/);
  assert.throws(() => p.chartSvg('swe', 70, 170, 1, 1, 1, { points: [{ gest: 231, weight: '1900' }] }), /weight must be a number/);
});
