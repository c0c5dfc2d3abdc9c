// <pelmora-centile> and <pelmora-chart> in a real headless Chromium (Debian's, driven by
// puppeteer-core): the form's first result, random pick sessions answered as the native demo host
// answers the same script commands, the keyboard alone, input it must refuse; the chart as the
// native chart writer and the host's chart pane draw it.
//   PELMORA_HOST=build/release/apps/host/pelmora-host PELMORA_CENTILE=build/release/apps/centile/pelmora-centile \
//     node --test web/tests/browser.test.mjs

import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawn, execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';
import puppeteer from 'puppeteer-core';

const root = fileURLToPath(new URL('../..', import.meta.url));
const demo = process.env.PELMORA_DEMO ?? join(root, 'build/web/demo');
const host = process.env.PELMORA_HOST ?? join(root, 'build/release/apps/host/pelmora-host');
const centileTool = process.env.PELMORA_CENTILE ?? join(root, 'build/release/apps/centile/pelmora-centile');
const chromium = process.env.PELMORA_CHROMIUM ?? '/usr/bin/chromium';

let server;
let base;
let browser;
let page;

before(async () => {
  server = spawn(process.execPath, [join(root, 'web/serve.mjs'), demo, '0'], { stdio: ['ignore', 'pipe', 'inherit'] });
  base = await new Promise((resolve, reject) => {
    server.stdout.once('data', (d) => resolve(String(d).trim()));
    server.once('exit', (code) => reject(new Error(`the demo server ended (${code})`)));
  });
  browser = await puppeteer.launch({ executablePath: chromium, headless: true, args: ['--no-sandbox'] });
  page = await browser.newPage();
  page.on('pageerror', (e) => { throw e; });
  await page.goto(`${base}`);
  await page.waitForFunction(() => customElements.get('pelmora-centile') !== undefined);
});

after(async () => {
  await browser?.close();
  server?.kill();
});

test('the first result is on the element before it is first painted', async () => {
  // A fresh page of the same site, without the module yet.
  const cold = await browser.newPage();
  await cold.goto(`${base}nothing-here`);
  const r = await cold.evaluate(async () => {
    const t0 = performance.now();
    await import('./pelmora/element.js');
    const t1 = performance.now();
    const el = document.createElement('pelmora-centile');
    document.body.append(el);
    // The same task: nothing has been painted yet.
    const shown = el.shadowRoot.getElementById('output_label').textContent;
    const t2 = performance.now();
    el.remove();
    return { shown, caption: el.caption, centile: el.centile, load: t1 - t0, ready: t2 - t1 };
  });
  await cold.close();
  assert.equal(r.shown, '56');
  assert.equal(r.caption, '56');
  assert.equal(Math.floor(r.centile + 0.5), 56);
  console.log(`# element ready ${r.ready.toFixed(1)} ms after the module was loaded (loading it took ${r.load.toFixed(1)} ms)`);
});

test('the validation table through the module in the page, bit for bit', async () => {
  const number = (s) => (s === '' ? null : Number(s));
  const rows = readFileSync(join(root, 'validation/centiles.csv'), 'utf8').trim().split('\n').slice(1).map((l) => l.split(','));
  const got = await page.evaluate(async (table) => {
    const { load, wasmFile } = await import('./pelmora/pelmora.js');
    const p = await load();
    const hex = (v) => { const b = new DataView(new ArrayBuffer(8)); b.setFloat64(0, v); return b.getBigUint64(0).toString(16); };
    const cols = Array.from({ length: 7 }, (_, k) => Float64Array.from(table, (r) => (r[1][k] === null ? NaN : r[1][k])));
    const all = p.evaluate(table.map((r) => r[0]), ...cols, { errors: 'nan' });
    return { wasmFile, fused: p._core._pelmora_web_fused(),
      rows: table.map((_, i) => [hex(all.centile[i]), hex(all.z[i]), hex(all.optimalWeight[i]), all.error[i]]) };
  }, rows.map((f) => [f[2], f.slice(3, 10).map(number)]));
  // Chromium has relaxed SIMD, and its multiply-add fuses where the CPU has FMA.
  assert.equal(got.wasmFile, 'pelmora-core-relaxed.wasm');
  assert.equal(got.fused, /\bfma\b/.test(readFileSync('/proc/cpuinfo', 'utf8')) ? 1 : 0);
  const hex = (v) => { const b = new DataView(new ArrayBuffer(8)); b.setFloat64(0, v); return b.getBigUint64(0).toString(16); };
  assert.ok(rows.length > 4000);
  rows.forEach((f, i) => {
    const want = [10, 11, 12].map((k) => hex(f[k] === '' ? NaN : Number(f[k])));
    assert.deepEqual(got.rows[i], [...want, f[13] === '' ? 0 : Number(f[13])], f.join(','));
  });
});

// Every text any list can hold, so that a session picks items the list has now and items it has not.
async function vocabulary() {
  return page.evaluate(() => {
    const el = document.createElement('pelmora-centile');
    const words = {};
    for (const list of el.lists) words[list] = new Set(el.items(list));
    for (const b of el.items('Combobase')) {
      el.pick('Combobase', b);
      for (const t of el.items('Comboeth')) words.Comboeth.add(t);
    }
    return Object.fromEntries(Object.entries(words).map(([k, v]) => [k, [...v]]));
  });
}

function session(words, random, length) {
  const lists = Object.keys(words);
  const commands = [];
  for (let i = 0; i < length; ++i) {
    const list = lists[Math.floor(random() * lists.length)];
    const r = random();
    if (r < 0.75) {
      const items = words[list];
      commands.push(`pick ${list} ${items[Math.floor(random() * items.length)]}`);
    } else if (r < 0.8) {
      commands.push(`pick ${list} ${['', 'other', 'sweden', '5000.0', 'Mars'][Math.floor(random() * 5)]}`);
    } else if (r < 0.85) {
      commands.push(`items ${list}`);
    } else {
      commands.push(`text ${list}`);
    }
    commands.push('show');
  }
  return commands;
}

test('random pick sessions: the element answers as the native form does', async () => {
  const words = await vocabulary();
  let seed = 20;
  const random = () => { seed = (seed * 1103515245 + 12345) % 2147483648; return seed / 2147483648; };
  // 12 fresh forms on each side, each given 25 sessions of 1 to 12 picks one after the other.
  let sessions = 0;
  for (let form = 0; form < 12; ++form) {
    const commands = ['show'];
    for (let s = 0; s < 25; ++s, ++sessions) commands.push(...session(words, random, 1 + Math.floor(random() * 12)));
    const native = execFileSync(host, ['--script'], { input: `${commands.join('\n')}\n`, encoding: 'utf8', stdio: ['pipe', 'pipe', 'ignore'] })
      .split('\n').slice(0, commands.length);
    const web = await page.evaluate((lines) => {
      const el = document.createElement('pelmora-centile');
      return lines.map((line) => {
        const [command, list] = line.split(' ', 2);
        const rest = line.slice(command.length + list?.length + 2);
        if (command === 'show') return el.caption;
        if (command === 'text') return el.text(list);
        if (command === 'items') return el.items(list).join('|');
        try {
          el.pick(list, rest);
          return 'ok';
        } catch (e) {
          if (!(e instanceof RangeError)) throw e;
          return `error: no item "${rest}" in ${list}`;
        }
      });
    }, commands);
    for (let i = 0; i < commands.length; ++i) assert.equal(web[i], native[i], `form ${form}, command ${i}: ${commands[i]}`);
  }
  assert.equal(sessions, 300);
});

test('the keyboard alone reaches every list, in the form\'s order, and picks', async () => {
  const r = await page.evaluate(() => {
    const el = document.createElement('pelmora-centile');
    el.id = 'keyboard';
    document.body.prepend(el);
    const labels = el.lists.map((name) => {
      const select = el.shadowRoot.getElementById(name);
      return [name, Array.from(select.labels, (l) => l.textContent)];
    });
    document.activeElement?.blur();
    return { lists: el.lists, labels, live: el.shadowRoot.getElementById('output_label').getAttribute('aria-live') };
  });
  assert.equal(r.lists.length, 9);
  assert.equal(r.live, 'polite');
  for (const [name, labels] of r.labels) assert.equal(labels.length, 1, `${name} has one label`);
  const visited = [];
  for (let i = 0; i < 9; ++i) {
    await page.keyboard.press('Tab');
    visited.push(await page.evaluate(() => {
      const el = document.getElementById('keyboard');
      return document.activeElement === el ? el.shadowRoot.activeElement?.id : document.activeElement?.tagName;
    }));
  }
  assert.deepEqual(visited, r.lists);
  // On the weeks list, the arrow key picks the next item and the form recalculates.
  await page.evaluate(() => document.getElementById('keyboard').shadowRoot.getElementById('Combogw').focus());
  await page.keyboard.press('ArrowDown');
  const after = await page.evaluate(() => {
    const el = document.getElementById('keyboard');
    const check = document.createElement('pelmora-centile');
    check.pick('Combogw', el.text('Combogw'));
    return { text: el.text('Combogw'), caption: el.caption, want: check.caption, live: el.shadowRoot.getElementById('output_label').textContent };
  });
  assert.equal(after.text, '41');
  assert.equal(after.caption, after.want);
  assert.equal(after.live, after.caption);
  await page.evaluate(() => document.getElementById('keyboard').remove());
});

test('bad input: a clear message each, nothing changed', async () => {
  const r = await page.evaluate(() => {
    const el = document.createElement('pelmora-centile');
    const events = [];
    el.addEventListener('pelmora-error', (e) => events.push(e.detail.message));
    const before = [el.caption, el.text('Combobwt'), el.text('Combobase')];
    const thrown = [];
    for (const [list, text] of [['Combobwt', '9999'], ['Nolist', '3500'], ['Combobwt', 3500], ['Comboeth', 'Scandinavian']]) {
      try {
        el.pick(list, text);
        thrown.push(null);
      } catch (e) {
        thrown.push(`${e.constructor.name}: ${e.message}`);
      }
    }
    el.setAttribute('bwt', 'heavy');
    el.setAttribute('base', 'Atlantis');
    const afterwards = [el.caption, el.text('Combobwt'), el.text('Combobase')];
    el.setAttribute('bwt', '3000');
    // A group of another base waits for its base: no item now, picked once the base is.
    el.setAttribute('eth', 'Somali');
    el.setAttribute('base', 'Sweden');
    return { before, afterwards, thrown, events, preset: el.text('Combobwt'), caption: el.caption, eth: el.text('Comboeth') };
  });
  assert.deepEqual(r.afterwards, r.before);
  assert.match(r.thrown[0], /^RangeError: .*no item "9999" in Combobwt/);
  assert.match(r.thrown[1], /^RangeError: .*no list "Nolist"/);
  assert.match(r.thrown[2], /^TypeError: .*must be text/);
  assert.match(r.thrown[3], /^RangeError: .*no item "Scandinavian" in Comboeth/);
  assert.equal(r.events.length, 3);
  assert.equal(r.eth, 'Somali');
  assert.match(r.events[0], /bwt="heavy" is no item of Combobwt; it keeps "3500"/);
  assert.match(r.events[1], /base="Atlantis" is no item of Combobase/);
  assert.equal(r.preset, '3000');
  assert.notEqual(r.caption, r.before[0]);
});

test('<pelmora-chart>: the chart writer\'s SVG, redrawn when an attribute changes and after every pick of its form', async () => {
  const dir = mkdtempSync(join(tmpdir(), 'pelmora-chart-'));
  try {
    // The native chart writer's charts of the first mother, then with more centiles.
    const mother = ['--base', 'Sweden', '--wt', '70', '--ht', '170', '--sex', 'Female', '--eth', '1', '--par', '4 or more',
      '--point', '33+0:1900:EFW', '--point', '280:3650:birth', '--edd', '2027-05-01'];
    execFileSync(centileTool, ['chart', ...mother, '-o', join(dir, 'a.svg')]);
    execFileSync(centileTool, ['chart', ...mother, '--centiles', '3,10,50,90,97', '-o', join(dir, 'b.svg')]);

    // The form and the host each given the same picks, a chart after every one; the host writes its
    // chart pane's SVG, the page reads the chart that follows the form (placed before the form).
    const words = await vocabulary();
    let seed = 18;
    const random = () => { seed = (seed * 1103515245 + 12345) % 2147483648; return seed / 2147483648; };
    const lists = Object.keys(words);
    const picks = Array.from({ length: 40 }, () => {
      const list = lists[Math.floor(random() * lists.length)];
      return [list, words[list][Math.floor(random() * words[list].length)]];
    });
    const script = [`chart ${join(dir, 'host-0.svg')}`];
    picks.forEach(([list, text], k) => script.push(`pick ${list} ${text}`, `chart ${join(dir, `host-${k + 1}.svg`)}`));
    const answers = execFileSync(host, ['--script'], { input: `${script.join('\n')}\n`, encoding: 'utf8', stdio: ['pipe', 'pipe', 'ignore'] })
      .split('\n').filter((_, i) => i % 2 === 0).slice(0, picks.length + 1);

    const r = await page.evaluate(async (picks) => {
      // The demo page's chart of its form, though element.js defines <pelmora-chart> first.
      const demo = document.querySelector('pelmora-chart[for="centile"]').svg;
      document.body.replaceChildren();
      const chart = document.createElement('pelmora-chart');
      const events = [];
      chart.addEventListener('render', () => events.push('render'));
      chart.addEventListener('pelmora-error', (e) => events.push(e.detail.message));
      for (const [a, v] of [['base', 'swe'], ['wt', '70'], ['ht', '170'], ['sex', 'Female'], ['eth', '1'], ['par', '4 or more'],
        ['points', '33+0:1900:EFW; 280:3650:birth'], ['edd', '2027-05-01']]) chart.setAttribute(a, v);
      chart.style.width = '600px';
      document.body.append(chart);
      const first = chart.svg;
      const shown = chart.shadowRoot.querySelector('svg');
      const look = {
        curves: shown.querySelectorAll('.curve').length,
        role: shown.getAttribute('role'),
        label: shown.getAttribute('aria-label'),
        width: shown.getBoundingClientRect().width,
        height: shown.getBoundingClientRect().height,
      };
      chart.setAttribute('centiles', '3,10,50,90,97');
      await new Promise((resolve) => chart.addEventListener('render', resolve, { once: true }));
      const more = { svg: chart.svg, curves: chart.shadowRoot.querySelectorAll('svg .curve').length };
      chart.setAttribute('wt', 'heavy');
      const refused = { svg: chart.svg, error: chart.error, shown: chart.shadowRoot.textContent };

      const form = document.createElement('pelmora-centile');
      form.id = 'form';
      const follower = document.createElement('pelmora-chart');
      follower.htmlFor = 'form';
      document.body.append(follower, form);
      const followed = [follower.svg || follower.error];
      for (const [list, text] of picks) {
        try {
          form.pick(list, text);
        } catch (e) {
          if (!(e instanceof RangeError)) throw e;
        }
        followed.push(follower.svg || follower.error);
      }
      return { demo, first, look, more, refused, events, followed };
    }, picks);

    assert.match(r.demo, /<title>Customised growth chart<\/title>/);
    assert.equal(r.first, readFileSync(join(dir, 'a.svg'), 'utf8'));
    assert.equal(r.look.curves, 3);
    assert.equal(r.look.role, 'img');
    assert.match(r.look.label, /^Customised growth chart — Sweden base\. Mother: .* Measurements: EFW 33\+0 1900 g [0-9.]+ [SAL]GA; birth 40\+0 3650 g/);
    assert.equal(r.look.width, 600);
    assert.ok(Math.abs(r.look.height - 600 * 793.7 / 1122.52) < 1, `height ${r.look.height}`);
    assert.equal(r.more.svg, readFileSync(join(dir, 'b.svg'), 'utf8'));
    assert.equal(r.more.curves, 5);
    assert.equal(r.refused.svg, '');
    assert.match(r.refused.error, /wt="heavy" is neither a number/);
    assert.match(r.refused.shown, /wt="heavy"/);
    assert.deepEqual(r.events.slice(0, 2), ['render', 'render']);
    assert.match(r.events[2], /wt="heavy"/);
    let drawn = 0;
    answers.forEach((answer, k) => {
      if (answer === 'ok') {
        ++drawn;
        assert.equal(r.followed[k], readFileSync(join(dir, `host-${k}.svg`), 'utf8'), `after ${k} picks`);
      } else {
        assert.match(r.followed[k], /^pelmora-chart: /, `after ${k} picks the host says ${answer}`);
      }
    });
    assert.ok(drawn > 30, `${drawn} charts drawn`);
  } finally {
    rmSync(dir, { recursive: true, force: true });
  }
});

test('pictures of the elements', async () => {
  await page.setViewport({ width: 900, height: 700, deviceScaleFactor: 1 });
  await page.evaluate(() => {
    document.body.replaceChildren(document.createElement('pelmora-centile'));
    document.body.style.fontSize = '12px';
  });
  const el = await page.$('pelmora-centile');
  const file = join(demo, '..', 'pelmora-centile-chromium.png');
  await el.screenshot({ path: file });
  console.log(`# wrote ${file}`);
  // The form and, below it, the chart that follows it, after two picks.
  await page.evaluate(() => {
    const box = document.createElement('div');
    box.style.cssText = 'width: 860px; padding: 4px; background: #fff';
    const form = document.createElement('pelmora-centile');
    form.id = 'pictured';
    const chart = document.createElement('pelmora-chart');
    chart.htmlFor = 'pictured';
    chart.setAttribute('points', '28+0:1150:EFW; 33+0:1800:EFW');
    box.append(form, chart);
    document.body.replaceChildren(box);
    form.pick('Combogw', '39');
    form.pick('Combobwt', '2900');
  });
  const both = await page.$('div');
  const pair = join(demo, '..', 'pelmora-chart-chromium.png');
  await both.screenshot({ path: pair });
  console.log(`# wrote ${pair}`);
});
