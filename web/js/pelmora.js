// pelmora: customised birth-weight centiles in WebAssembly, bit for bit the native calculators'.
//
//   import { load } from 'pelmora';
//   const p = await load();
//   p.centile('uk', 3500, 280, 64, 163, 1, 1, 0);           // 48.43984325029622
//   p.centile(0, bwts, 280, 64, 163, 1, 1, 0);               // Float64Array, one per birth weight
//
// Every input is a number (codes too: sex 1 = male; eth numbered per base; par 0..4); NaN, null
// and undefined are a missing input, which gives NaN. A failing row throws a PelmoraError naming
// the run-time error's number and text, unless { errors: 'nan' } asks for NaN and error numbers.

import createPelmoraCore from './pelmora-core.js';

const CHUNK = 16384;  // rows per call into the module
const PARAMS = ['bwt', 'gest', 'wt', 'ht', 'sex', 'eth', 'par'];
const WEIGHTS = ['centile', 'gest', 'wt', 'ht', 'sex', 'eth', 'par'];  // weightAtCentile's
const CURVE_PARAMS = ['base', 'wt', 'ht', 'sex', 'eth', 'par'];

/** A failed calculation: `number` and `description` are the run-time error's, `row` the row. */
export class PelmoraError extends Error {
  constructor(number, description, message, row) {
    const where = row === undefined ? '' : ` (row ${row})`;
    super(`run-time error ${number}: ${message}${where}`);
    this.name = 'PelmoraError';
    this.number = number;
    this.description = description;
    if (row !== undefined) this.row = row;
  }
}

async function wasmBytes(url) {
  if (typeof process === 'object' && process.versions && process.versions.node && url.protocol === 'file:') {
    const { readFile } = await import('node:fs/promises');
    return readFile(url);
  }
  const response = await fetch(url);
  if (!response.ok) throw new Error(`pelmora: cannot fetch ${url} (${response.status})`);
  return new Uint8Array(await response.arrayBuffer());
}

// A module of one function that ends in f64x2.relaxed_madd: valid where the engine has relaxed
// SIMD (current browsers, Node 22 and later).
function hasRelaxedSimd() {
  const zero = [0xfd, 0x0c, ...new Array(16).fill(0)];  // v128.const 0
  const body = [0, ...zero, ...zero, ...zero, 0xfd, 0x87, 0x02, 0x0b];
  return WebAssembly.validate(Uint8Array.from([0, 0x61, 0x73, 0x6d, 1, 0, 0, 0, 1, 5, 1, 0x60, 0, 1, 0x7b,
    3, 2, 1, 0, 10, body.length + 2, 1, body.length, ...body]));
}

/**
 * The module's file that this engine runs fastest: with relaxed SIMD's fused multiply-add where
 * it has it (the module confirms at first use that it fuses), and plain WebAssembly SIMD
 * elsewhere. Both give the same bits.
 */
export const wasmFile = hasRelaxedSimd() ? 'pelmora-core-relaxed.wasm' : 'pelmora-core.wasm';

let loading = null;

/**
 * Loads the WebAssembly module (once; later calls share it).
 * @param {{ wasm?: URL | string | ArrayBuffer | Uint8Array }} [options] where the .wasm is, or its bytes
 */
export function load(options = {}) {
  if (options.wasm === undefined && loading) return loading;
  const source = options.wasm ?? new URL(`./${wasmFile}`, import.meta.url);
  const promise = (async () => {
    const bytes = source instanceof ArrayBuffer || ArrayBuffer.isView(source)
      ? source : await wasmBytes(new URL(source, import.meta.url));
    const core = await createPelmoraCore({ wasmBinary: bytes });
    return new Pelmora(core);
  })();
  if (options.wasm === undefined) loading = promise;
  return promise;
}

// A list the module gives item by item: item(text, i) for each text textAt(i) points to, from 0
// until it points to none.
function listed(core, textAt, item) {
  const items = [];
  for (let i = 0; ; ++i) {
    const text = textAt(i);
    if (!text) return items;
    items.push(item(core.UTF8ToString(text), i));
  }
}

function camel(name) {
  return name.replace(/_([a-z])/g, (_, c) => c.toUpperCase());
}

function isArrayLike(v) {
  return Array.isArray(v) || (ArrayBuffer.isView(v) && !(v instanceof DataView));
}

export class Pelmora {
  constructor(core) {
    this._core = core;
    this.quantities = [];
    for (let q = 0; ; ++q) {
      const p = core._pelmora_web_quantity_name(q);
      if (!p) break;
      this.quantities.push(camel(core.UTF8ToString(p)));
    }
    this.bases = [];
    for (let b = 0; ; ++b) {
      const name = core._pelmora_web_base_name(b);
      if (!name) break;
      this.bases.push({ code: b, name: core.UTF8ToString(name), tag: core.UTF8ToString(core._pelmora_web_base_tag(b)) });
    }
    this._classText = [0, 1, 2, 3].map((c) => core.UTF8ToString(core._pelmora_web_class_text(c)));
    this._baseCodes = new Map();
    for (const b of this.bases) {
      this._baseCodes.set(b.name, b.code);
      this._baseCodes.set(b.tag, b.code);
    }
  }

  /** The centile in percent: a number, or a Float64Array when any input is an array. */
  centile(base, bwt, gest, wt, ht, sex, eth, par, options) {
    const r = this._run([base, bwt, gest, wt, ht, sex, eth, par], options, ['centile'], false);
    return r.errors ? { centile: r.values.centile, error: r.error } : r.values.centile;
  }

  /** Every quantity of the calculation ({ centile, z, optimalWeight, ... }). */
  evaluate(base, bwt, gest, wt, ht, sex, eth, par, options) {
    const r = this._run([base, bwt, gest, wt, ht, sex, eth, par], options, this.quantities, false);
    return r.errors ? { ...r.values, error: r.error } : r.values;
  }

  /**
   * The birth weight in grams at a centile (0 < centile < 100) for a baby of `gest` days: a
   * number, or a Float64Array when any input is an array.
   */
  weightAtCentile(base, centile, gest, wt, ht, sex, eth, par, options) {
    const r = this._run([base, centile, gest, wt, ht, sex, eth, par], options, ['weight'], false, WEIGHTS);
    return r.errors ? { weight: r.values.weight, error: r.error } : r.values.weight;
  }

  /**
   * One mother's centile curves: for each of options.centiles ([10, 50, 90]) the weight on each
   * day from options.first (168, 24+0 weeks) to options.last (294, 42+0 weeks).
   * @returns {{ first: number, last: number, centiles: number[], weights: Float64Array[] }}
   */
  curves(base, wt, ht, sex, eth, par, options = {}) {
    if (options === null || typeof options !== 'object') throw new TypeError('pelmora: options must be an object');
    const errorMode = options.errors ?? 'throw';
    if (errorMode !== 'throw' && errorMode !== 'nan') throw new RangeError(`pelmora: options.errors must be 'throw' or 'nan', not ${describe(errorMode)}`);
    const list = centileList(options.centiles);
    const first = options.first ?? 168;
    const last = options.last ?? 294;
    for (const [key, v] of [['first', first], ['last', last]]) {
      if (!Number.isInteger(v)) throw new TypeError(`pelmora: options.${key} must be a whole number of days, not ${describe(v)}`);
    }
    const mother = [base, wt, ht, sex, eth, par];
    mother.forEach((v, i) => {
      if (isArrayLike(v)) throw new TypeError(`pelmora: ${CURVE_PARAMS[i]} must be one value: curves are one mother's`);
    });
    const days = last >= first ? last - first + 1 : 0;
    const core = this._core;
    return withBlock(core, 8 * 8 + 4 * 8 + 4 * 8 + 8 * list.length + 8 * Math.max(1, list.length * days) + 8, (take) => {
      const inPtrs = take(4 * 8);
      const strides = take(4 * 8);
      const values = take(8 * 8);
      const basePtr = take(8);
      const centilePtr = take(8 * list.length);
      const weightPtr = take(8 * Math.max(1, list.length * days));
      core.HEAPU8[basePtr] = this._baseCode(base, '');
      core.HEAP32[inPtrs >> 2] = basePtr;
      const inputs = [NaN, NaN, ...mother.slice(1).map((v, i) => number(v, i + 3))];  // bwt and gest unused
      inputs.forEach((v, i) => {
        core.HEAPF64[(values >> 3) + i] = v;
        core.HEAP32[(inPtrs >> 2) + i + 1] = values + 8 * i;
      });
      for (let c = 0; c < 8; ++c) core.HEAP32[(strides >> 2) + c] = 0;
      core.HEAPF64.set(list, centilePtr >> 3);
      const failed = core._pelmora_web_curves(inPtrs, strides, centilePtr, list.length, first, last, weightPtr);
      if (failed < 0) throw new Error('pelmora: out of memory');
      let error = 0;
      if (failed > 0) {
        error = core._pelmora_web_failure_number();
        if (errorMode === 'throw') {
          throw new PelmoraError(error, core.UTF8ToString(core._pelmora_web_error_text(error)),
            core.UTF8ToString(core._pelmora_web_failure_message()));
        }
      }
      const weights = list.map((_, c) => (failed > 0
        ? new Float64Array(days).fill(NaN)
        : core.HEAPF64.slice((weightPtr >> 3) + c * days, (weightPtr >> 3) + (c + 1) * days)));
      const result = { first, last, centiles: list, weights };
      return errorMode === 'nan' ? { ...result, error } : result;
    });
  }

  /**
   * One mother's growth chart as SVG text (A4 landscape), the same bytes as the native chart
   * writer's: the curves of `curves` (options.centiles, options.first, options.last; gestations in
   * days or as "24+0") and the measured options.points, each "GEST:GRAMS[:LABEL]", [gest, grams,
   * label] or { gest, weight, label } (the label "birth" marks the birth weight); options.edd
   * ("YYYY-MM-DD") adds a row of dates. Throws a PelmoraError for a bad request or where the
   * calculators fail for this mother.
   */
  chartSvg(base, wt, ht, sex, eth, par, options = {}) {
    if (options === null || typeof options !== 'object') throw new TypeError('pelmora: options must be an object');
    const centiles = centileList(options.centiles);
    const gestation = (v, key) => {
      if (typeof v === 'string' || typeof v === 'number') return String(v);
      throw new TypeError(`pelmora: ${key} must be days or "weeks+days" text, not ${describe(v)}`);
    };
    const first = gestation(options.first ?? 168, 'options.first');
    const last = gestation(options.last ?? 294, 'options.last');
    const edd = options.edd ?? '';
    if (typeof edd !== 'string') throw new TypeError(`pelmora: options.edd must be "YYYY-MM-DD" text, not ${describe(edd)}`);
    const points = options.points ?? [];
    if (!Array.isArray(points)) throw new TypeError('pelmora: options.points must be an array');
    const texts = points.map((p, i) => pointText(p, `options.points[${i}]`));
    const mother = [base, wt, ht, sex, eth, par];
    mother.forEach((v, i) => {
      if (isArrayLike(v)) throw new TypeError(`pelmora: ${CURVE_PARAMS[i]} must be one value: a chart is one mother's`);
    });
    const core = this._core;
    const strings = [first, last, edd, ...texts];
    const sizes = strings.map((t) => core.lengthBytesUTF8(t) + 1);
    const bytes = 8 * 8 + 4 * 8 + 4 * 8 + 8 * centiles.length + 4 * texts.length + sizes.reduce((a, b) => a + b, 0) + 8;
    return withBlock(core, bytes, (take) => {
      const inPtrs = take(4 * 8);
      const strides = take(4 * 8);
      const values = take(8 * 8);
      const centilePtr = take(8 * centiles.length);
      const pointPtrs = take(4 * texts.length);
      const textPtrs = strings.map((t, i) => {
        const ptr = take(sizes[i]);
        core.stringToUTF8(t, ptr, sizes[i]);
        return ptr;
      });
      const basePtr = take(1);
      core.HEAPU8[basePtr] = this._baseCode(base, '');
      core.HEAP32[inPtrs >> 2] = basePtr;
      [NaN, NaN, ...mother.slice(1).map((v, i) => number(v, i + 3))].forEach((v, i) => {
        core.HEAPF64[(values >> 3) + i] = v;
        core.HEAP32[(inPtrs >> 2) + i + 1] = values + 8 * i;
      });
      for (let c = 0; c < 8; ++c) core.HEAP32[(strides >> 2) + c] = 0;
      core.HEAPF64.set(centiles, centilePtr >> 3);
      textPtrs.slice(3).forEach((ptr, i) => { core.HEAP32[(pointPtrs >> 2) + i] = ptr; });
      const svg = core._pelmora_web_chart(inPtrs, strides, centilePtr, centiles.length, textPtrs[0], textPtrs[1],
        pointPtrs, texts.length, textPtrs[2]);
      if (!svg) {
        const error = core._pelmora_web_failure_number();
        throw new PelmoraError(error, core.UTF8ToString(core._pelmora_web_error_text(error)),
          core.UTF8ToString(core._pelmora_web_failure_message()));
      }
      return core.UTF8ToString(svg);
    });
  }

  /** The base's ethnic groups in its list's order: [{ code, text }]. */
  ethnicGroups(base) {
    const code = this._baseCode(base, '');
    const core = this._core;
    return listed(core, (i) => core._pelmora_web_ethnic_text(code, i),
      (text, i) => ({ code: core._pelmora_web_ethnic_code(code, i), text }));
  }

  /** The parity list's texts, index = code ("0" .. "4 or more"). */
  get parities() {
    const core = this._core;
    return listed(core, (i) => core._pelmora_web_parity_text(i), (text) => text);
  }

  /** The sex list's texts and the codes they stand for, in the list's order: [{ text, code }]. */
  get sexes() {
    const core = this._core;
    return listed(core, (i) => core._pelmora_web_sex_text(i), (text, i) => ({ text, code: core._pelmora_web_sex_code(i) }));
  }

  /** A number in text as the calculators read a text argument ("64", " 1.5e2 "), or NaN for other text. */
  numberInText(text) {
    if (typeof text !== 'string') throw new TypeError(`pelmora: the text must be a string, not ${describe(text)}`);
    const core = this._core;
    const n = core.lengthBytesUTF8(text) + 1;
    return withBlock(core, n + 8, (take) => {
      const out = take(8);
      const ptr = take(n);
      core.stringToUTF8(text, ptr, n);
      return core._pelmora_web_number(ptr, out) ? core.HEAPF64[out >> 3] : NaN;
    });
  }

  /** "SGA" (below options.sga, 10), "LGA" (above options.lga, 90), "AGA", or "" without a centile. */
  classify(base, bwt, gest, wt, ht, sex, eth, par, options) {
    const r = this._run([base, bwt, gest, wt, ht, sex, eth, par], options, [], true);
    return r.errors ? { class: r.classes, error: r.error } : r.classes;
  }

  _baseCode(v, where) {
    if (typeof v === 'string') {
      const code = this._baseCodes.get(v);
      if (code === undefined) {
        throw new RangeError(`pelmora: base${where} ${JSON.stringify(v)} is none of ${this.bases.map((b) => `"${b.name}"/"${b.tag}"`).join(', ')}`);
      }
      return code;
    }
    if (typeof v === 'number' && Number.isInteger(v) && v >= 0 && v < this.bases.length) return v;
    throw new TypeError(`pelmora: base${where} must be 0..${this.bases.length - 1}, a base's name or its tag, not ${describe(v)}`);
  }

  _run(args, options = {}, wanted, classes, params = PARAMS) {
    const name = (i) => (i === 0 ? 'base' : params[i - 1]);
    const number = (v, i, row) => inputNumber(v, name(i), row);
    if (options === null || typeof options !== 'object') throw new TypeError('pelmora: options must be an object');
    const errorMode = options.errors ?? 'throw';
    if (errorMode !== 'throw' && errorMode !== 'nan') throw new RangeError(`pelmora: options.errors must be 'throw' or 'nan', not ${describe(errorMode)}`);
    const sga = options.sga ?? 10;
    const lga = options.lga ?? 90;
    if (typeof sga !== 'number' || typeof lga !== 'number') throw new TypeError('pelmora: options.sga and options.lga must be numbers');

    // The rows: the arrays' common length; single values (and arrays of one) repeat.
    let count = 1;
    let anyArray = false;
    let longest = null;
    args.forEach((a, i) => {
      if (!isArrayLike(a)) return;
      if (typeof a[0] === 'bigint') throw new TypeError(`pelmora: ${name(i)} holds BigInts; give numbers`);
      anyArray = true;
      if (a.length === 1) return;
      if (longest !== null && a.length !== count) {
        throw new RangeError(`pelmora: ${name(i)} has ${a.length} values but ${name(longest)} has ${count}; arrays must be as long as each other (or hold one value)`);
      }
      longest = i;
      count = a.length;
    });
    if (anyArray && longest === null) count = args.some((a) => isArrayLike(a) && a.length === 0) ? 0 : 1;

    const core = this._core;
    const rows = Math.min(count, CHUNK);
    const bytes = 8 * rows * (7 + wanted.length) + rows * (1 + 4 + 1) + 64 + 4 * 8 + 4 * 8 + 4 * 14;
    return withBlock(core, bytes, (take) => {
      const inPtrs = take(4 * 8);
      const strides = take(4 * 8);
      const outPtrs = take(4 * 14);
      const colPtr = args.map((_, i) => (i === 0 ? 0 : take(8 * rows)));
      const outCols = wanted.map(() => take(8 * rows));
      const errPtr = take(4 * rows);
      const basePtr = take(rows);
      const classPtr = take(rows);

      const values = {};
      for (const w of wanted) values[w] = anyArray ? new Float64Array(count) : NaN;
      const classOut = classes ? (anyArray ? new Array(count) : '') : null;
      const errorOut = anyArray ? new Int32Array(count) : 0;
      let scalarClass = '';
      let scalarError = 0;
      const wantedIndex = wanted.map((w) => this.quantities.indexOf(w));

      for (let start = 0; start < count; start += CHUNK) {
        const n = Math.min(CHUNK, count - start);
        const heap32 = core.HEAP32;
        const heapF64 = core.HEAPF64;
        const heapU8 = core.HEAPU8;
        // Inputs: a single value (or an array of one) is one slot with stride 0.
        args.forEach((a, i) => {
          const single = !isArrayLike(a) || a.length === 1;
          heap32[(strides >> 2) + i] = single ? 0 : 1;
          if (i === 0) {
            heap32[(inPtrs >> 2)] = basePtr;
            if (single) heapU8[basePtr] = this._baseCode(isArrayLike(a) ? a[0] : a, isArrayLike(a) ? '[0]' : '');
            else for (let r = 0; r < n; ++r) heapU8[basePtr + r] = this._baseCode(a[start + r], `[${start + r}]`);
            return;
          }
          heap32[(inPtrs >> 2) + i] = colPtr[i];
          const f = colPtr[i] >> 3;
          if (single) heapF64[f] = number(isArrayLike(a) ? a[0] : a, i, isArrayLike(a) ? 0 : undefined);
          else if (a instanceof Float64Array) heapF64.set(a.subarray(start, start + n), f);
          else if (ArrayBuffer.isView(a)) for (let r = 0; r < n; ++r) heapF64[f + r] = a[start + r];
          else for (let r = 0; r < n; ++r) heapF64[f + r] = number(a[start + r], i, start + r);
        });
        for (let q = 0; q < 14; ++q) heap32[(outPtrs >> 2) + q] = 0;
        wantedIndex.forEach((q, k) => { heap32[(outPtrs >> 2) + q] = outCols[k]; });

        const failed = params === WEIGHTS
          ? core._pelmora_web_weights(n, inPtrs, strides, outCols[0], errPtr)
          : core._pelmora_web_rows(n, inPtrs, strides, outPtrs, errPtr, classes ? classPtr : 0, sga, lga);
        if (failed < 0) throw new Error('pelmora: out of memory');
        if (failed > 0 && errorMode === 'throw') {
          const row = start + core._pelmora_web_failure_row();
          const num = core._pelmora_web_failure_number();
          throw new PelmoraError(num, core.UTF8ToString(core._pelmora_web_error_text(num)),
            core.UTF8ToString(core._pelmora_web_failure_message()), anyArray ? row : undefined);
        }
        const f64 = core.HEAPF64;
        const i32 = core.HEAP32;
        wanted.forEach((w, k) => {
          const col = f64.subarray(outCols[k] >> 3, (outCols[k] >> 3) + n);
          if (anyArray) values[w].set(col, start);
          else values[w] = col[0];
        });
        const errs = i32.subarray(errPtr >> 2, (errPtr >> 2) + n);
        if (anyArray) errorOut.set(errs, start);
        else scalarError = errs[0];
        if (classes) {
          const u8 = core.HEAPU8;
          for (let r = 0; r < n; ++r) {
            const text = this._classText[u8[classPtr + r]] ?? '';
            if (anyArray) classOut[start + r] = text;
            else scalarClass = text;
          }
        }
      }
      return {
        values,
        classes: classes ? (anyArray ? classOut : scalarClass) : null,
        errors: errorMode === 'nan',
        error: anyArray ? errorOut : scalarError,
      };
    });
  }
}

// Runs fn(take) on a block of the module's memory, 8-byte aligned, freed afterwards; take(n)
// hands out the next n bytes.
function withBlock(core, bytes, fn) {
  const block = core._malloc(bytes + 8);
  if (!block) throw new Error('pelmora: out of memory');
  try {
    let at = (block + 7) & ~7;
    return fn((n) => { const p = at; at += n; return p; });
  } finally {
    core._free(block);
  }
}

// options.centiles ([10, 50, 90] when absent) as a checked array of numbers.
function centileList(centiles) {
  centiles ??= [10, 50, 90];
  if (!isArrayLike(centiles) || centiles.length === 0) throw new TypeError('pelmora: options.centiles must be a non-empty array of numbers');
  return Array.from(centiles, (c, i) => {
    if (typeof c !== 'number') throw new TypeError(`pelmora: options.centiles[${i}] must be a number, not ${describe(c)}`);
    return c;
  });
}

// A measured point as the chart writer reads it: "GEST:GRAMS[:LABEL]".
function pointText(p, where) {
  if (typeof p === 'string') return p;
  const [gest, weight, label] = Array.isArray(p) ? p : p !== null && typeof p === 'object' ? [p.gest, p.weight, p.label] : [];
  if (typeof gest !== 'number' && typeof gest !== 'string') {
    throw new TypeError(`pelmora: ${where} must be "GEST:GRAMS[:LABEL]", [gest, grams, label] or { gest, weight, label }, not ${describe(p)}`);
  }
  if (typeof weight !== 'number') throw new TypeError(`pelmora: ${where}'s weight must be a number of grams, not ${describe(weight)}`);
  if (label !== undefined && typeof label !== 'string') throw new TypeError(`pelmora: ${where}'s label must be text, not ${describe(label)}`);
  return `${gest}:${weight}${label ? `:${label}` : ''}`;
}

function describe(v) {
  if (v === null) return 'null';
  if (Array.isArray(v)) return 'an array';
  if (typeof v === 'string') return JSON.stringify(v.length > 40 ? `${v.slice(0, 40)}…` : v);
  if (typeof v === 'object') return `a ${v.constructor ? v.constructor.name : 'object'}`;
  return `${typeof v} ${String(v)}`;
}

// An input value: a number; NaN, null and undefined are a missing input.
function inputNumber(v, name, row) {
  if (typeof v === 'number') return v;
  if (v === null || v === undefined) return NaN;
  const where = row === undefined ? '' : `[${row}]`;
  throw new TypeError(`pelmora: ${name}${where} must be a number (NaN, null or undefined for a missing input), not ${describe(v)}`);
}

function number(v, i) {
  return inputNumber(v, i === 0 ? 'base' : PARAMS[i - 1]);
}
