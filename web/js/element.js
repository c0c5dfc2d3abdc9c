// <pelmora-centile>: the control's form on a page (and, from chart.js, <pelmora-chart>). The form itself (its control table, its lists and
// their first choices, the ethnic list of each base, the recalculation after every pick and the
// rounded result) runs in the WebAssembly module, the same code as the native control's; this file
// only draws what the form holds and hands it a person's picks.
//
//   <script type="module" src="node_modules/pelmora/element.js"></script>
//   <pelmora-centile base="Sweden" bwt="3200"></pelmora-centile>

import { load } from './pelmora.js';
import './chart.js';

const pelmora = await load();
const core = pelmora._core;

// The form's face: its control table, surface and keyboard order, as the module describes them.
const layout = (() => {
  const face = core._pelmora_face_create();
  if (!face) throw new Error('pelmora-centile: the form could not be built');
  try {
    return JSON.parse(core.UTF8ToString(core._pelmora_face_layout(face)));
  } finally {
    core._pelmora_face_destroy(face);
  }
})();
const LISTS = layout.controls.filter((c) => c.kind === 'list').map((c) => c.name);
const RESULT = 'output_label';

// Attributes that preset a list, in the order they are applied (the base first: picking a base
// resets the ethnic group).
const ATTRIBUTES = [
  ['base', 'Combobase'], ['bwt', 'Combobwt'], ['gest-weeks', 'Combogw'], ['gest-days', 'Combogd'],
  ['wt', 'Combowt'], ['ht', 'Comboht'], ['sex', 'Combosex'], ['eth', 'Comboeth'], ['par', 'Combopar'],
];

// A caption label belongs to the list on its right: its right edge 105 twips left of the list's
// left edge, its top 45 twips below the list's top.
function labelOf(list) {
  return layout.controls.find((c) => c.kind === 'label' && c.container === list.container &&
    c.rect[0] + c.rect[2] + 105 === list.rect[0] && c.rect[1] - 45 === list.rect[1]);
}

function colour(c, fallback) {
  if (c === null) return fallback;
  if (c === 'window') return 'Canvas';
  if (c === 'window-text') return 'CanvasText';
  return `rgb(${c[0]}, ${c[1]}, ${c[2]})`;
}

// Twips in the page's font: 180 twips to the page's em draws the form at its native size where the
// page's font is 12 px, and larger or smaller with it. The form's text is three quarters of the
// page's font, as the control's 8-point text is to its 15 twips a pixel; lengths are given in that
// text's em (135 twips).
const em = (twips) => `${+(twips / 135).toFixed(4)}em`;

function styles() {
  const s = layout.surface;
  let css = `:host { display: inline-block; font: inherit; line-height: normal; }
.surface { position: relative; font-size: 0.75em; width: ${em(s.rect[2])}; height: ${em(s.rect[3])};
  background: ${colour(s.background, 'Canvas')}; color: CanvasText; }
.c { position: absolute; box-sizing: border-box; margin: 0; white-space: pre; }
label.c, .result { overflow: hidden; display: flex; align-items: center; }
select.c { font: inherit; padding: 0 0.2em; border: 1px solid #7a7a7a; border-radius: 0; }
select.c:focus-visible { outline: 2px solid Highlight; outline-offset: 1px; }
.frame { border: 1px solid #a0a0a0; box-shadow: inset 1px 1px 0 #fff; }
`;
  for (const c of layout.controls) {
    const text = c.kind === 'list' ? 'black' : 'CanvasText';
    css += `#${c.name} { left: ${em(c.rect[0])}; top: ${em(c.rect[1])}; width: ${em(c.rect[2])}; ` +
      `min-height: ${em(c.rect[3])}; background: ${colour(c.background, 'transparent')}; ` +
      `color: ${colour(c.text, text)}; justify-content: ${c.alignment === 'right' ? 'flex-end' : c.alignment};` +
      ` text-align: ${c.alignment}; }\n`;
  }
  return css;
}
const sheet = styles();

const faces = new FinalizationRegistry((face) => core._pelmora_face_destroy(face));

function withText(s, fn) {
  const n = core.lengthBytesUTF8(s) + 1;
  const p = core._malloc(n);
  if (!p) throw new Error('pelmora-centile: out of memory');
  try {
    core.stringToUTF8(s, p, n);
    return fn(p);
  } finally {
    core._free(p);
  }
}

export class PelmoraCentileElement extends HTMLElement {
  static get observedAttributes() { return ATTRIBUTES.map(([a]) => a); }

  constructor() {
    super();
    this._face = core._pelmora_face_create();
    if (!this._face) throw new Error('pelmora-centile: the form could not be built');
    faces.register(this, this._face);
    this._root = this.attachShadow({ mode: 'open' });
    this._build();
    for (const [attribute] of ATTRIBUTES) {
      const v = this.getAttribute(attribute);
      if (v !== null) this._preset(attribute, v);
    }
    this._refresh();
  }

  attributeChangedCallback(attribute, before, after) {
    if (after === null || after === before || !this._shown) return;
    if (!this._preset(attribute, after)) return;
    // Picking a base resets the ethnic group: an eth attribute holds again afterwards.
    const eth = this.getAttribute('eth');
    if (attribute === 'base' && eth !== null) this._preset('eth', eth);
    this._after();
  }

  /** The names of the nine lists, in the form's keyboard order. */
  get lists() { return this._order.slice(); }

  /** The result label's caption ("56"). */
  get caption() { return this._call(core._pelmora_face_caption, RESULT); }

  /** The unrounded centile of the last calculation; NaN when there is none. */
  get centile() { return core._pelmora_face_last(this._face, 7); }

  /**
   * The calculator's inputs of the form's last calculation as the form passed them ({ base, bwt,
   * gest, wt, ht, sex, eth, par }, the base by its tag, gest in days); null before any.
   */
  get inputs() {
    const base = core._pelmora_face_last(this._face, -1);
    if (Number.isNaN(base)) return null;
    const inputs = { base: pelmora.bases[base].tag };
    ['bwt', 'gest', 'wt', 'ht', 'sex', 'eth', 'par'].forEach((k, i) => { inputs[k] = core._pelmora_face_last(this._face, i); });
    return inputs;
  }

  /** The run-time error of the last recalculation ({ number, message }), or null. */
  get error() { return this._error ?? null; }

  /** The list's text (its picked item's). */
  text(list) { return this._call(core._pelmora_face_text, this._listName(list)); }

  /** The list's items, in order. */
  items(list) {
    const joined = this._call(core._pelmora_face_items, this._listName(list));
    return joined === '' ? [] : joined.slice(0, -1).split('\n');
  }

  /**
   * Picks the item `text` of `list` as a person does, and the form recalculates. Throws a
   * RangeError, and changes nothing, when the list has no such item.
   */
  pick(list, text) {
    const name = this._listName(list);
    if (typeof text !== 'string') throw new TypeError(`pelmora-centile: the item to pick must be text, not ${typeof text}`);
    const number = withText(name, (n) => withText(text, (t) => core._pelmora_face_pick(this._face, n, t)));
    if (number !== 0) {
      const message = core.UTF8ToString(core._pelmora_face_failure(this._face));
      if (!this.items(name).includes(text)) {
        throw new RangeError(`pelmora-centile: no item ${JSON.stringify(text)} in ${name} (run-time error ${number}: ${message})`);
      }
      this._error = { number, message };
    } else {
      this._error = null;
    }
    this._after();
  }

  _call(fn, name) {
    const p = withText(name, (n) => fn(this._face, n));
    return p ? core.UTF8ToString(p) : '';
  }

  _listName(list) {
    if (!LISTS.includes(list)) {
      throw new RangeError(`pelmora-centile: no list ${JSON.stringify(list)}; the lists are ${LISTS.join(', ')}`);
    }
    return list;
  }

  // An attribute's preset: a pick of its text; a text the list does not hold changes nothing.
  _preset(attribute, value) {
    const list = ATTRIBUTES.find(([a]) => a === attribute)[1];
    if (!this.items(list).includes(value)) {
      const message = `pelmora-centile: ${attribute}="${value}" is no item of ${list}; it keeps ${JSON.stringify(this.text(list))}`;
      console.warn(message);
      this.dispatchEvent(new CustomEvent('pelmora-error', { detail: { attribute, value, list, message } }));
      return false;
    }
    withText(list, (n) => withText(value, (t) => core._pelmora_face_pick(this._face, n, t)));
    return true;
  }

  _build() {
    const style = document.createElement('style');
    style.textContent = sheet;
    const surface = document.createElement('div');
    surface.className = 'surface';
    surface.setAttribute('role', 'group');
    surface.setAttribute('aria-label', 'Customised birth-weight centile');
    const containers = { '': surface };
    this._selects = {};
    // Frames first (containers come before what they hold), then labels, then the lists in the
    // form's keyboard order, so that the Tab key visits them as the control's tab order does.
    for (const c of layout.controls.filter((x) => x.kind === 'frame')) {
      const frame = document.createElement('div');
      frame.id = c.name;
      frame.className = 'c frame';
      frame.style.height = em(c.rect[3]);
      containers[c.name] = frame;
    }
    for (const c of layout.controls.filter((x) => x.kind === 'label')) {
      const el = document.createElement(c.name === RESULT ? 'output' : 'label');
      el.id = c.name;
      el.className = c.name === RESULT ? 'c result' : 'c';
      el.textContent = c.caption;
      if (c.name === RESULT) {
        el.setAttribute('role', 'status');
        el.setAttribute('aria-live', 'polite');
        el.setAttribute('aria-atomic', 'true');
        this._result = el;
      }
      containers[c.container].append(el);
    }
    for (const c of layout.controls.filter((x) => x.kind === 'frame')) containers[c.container].append(containers[c.name]);
    this._order = layout.focusChain.filter((n) => LISTS.includes(n));
    for (const name of this._order) {
      const c = layout.controls.find((x) => x.name === name);
      const select = document.createElement('select');
      select.id = name;
      select.className = 'c';
      select.name = name;
      const label = labelOf(c);
      if (label) {
        const caption = containers[label.container].querySelector(`#${label.name}`);
        caption.htmlFor = name;
      } else {
        select.setAttribute('aria-label', name);
      }
      select.addEventListener('change', () => {
        const number = withText(name, (n) => withText(select.value, (t) => core._pelmora_face_pick(this._face, n, t)));
        this._error = number === 0 ? null : { number, message: core.UTF8ToString(core._pelmora_face_failure(this._face)) };
        this._after();
      });
      this._selects[name] = select;
      containers[c.container].append(select);
    }
    // The result reads as what Label8 says it is.
    this._result.setAttribute('aria-labelledby', 'Label8 output_label');
    this._root.append(style, surface);
  }

  // Shows the form's lists and result as they now stand.
  _refresh() {
    for (const name of this._order) {
      const select = this._selects[name];
      const items = this.items(name);
      const current = Array.from(select.options, (o) => o.value);
      if (current.length !== items.length || current.some((v, i) => v !== items[i])) {
        select.replaceChildren(...items.map((text) => new Option(text, text)));
      }
      select.value = this.text(name);
    }
    this._result.textContent = this.caption;
    this._shown = true;
  }

  _after() {
    this._refresh();
    const { base = null, ...inputs } = this.inputs ?? {};
    const texts = {};
    for (const name of LISTS) texts[name] = this.text(name);
    this.dispatchEvent(new CustomEvent('change', {
      bubbles: true,
      detail: { centile: this.centile, caption: this.caption, base, inputs, texts, error: this.error },
    }));
  }
}

if (!customElements.get('pelmora-centile')) customElements.define('pelmora-centile', PelmoraCentileElement);
