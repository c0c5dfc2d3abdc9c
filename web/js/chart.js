// <pelmora-chart>: one pregnancy's customised growth chart on a page, drawn by the chart writer
// itself in the WebAssembly module (the same SVG bytes as pelmora-centile chart writes), redrawn
// when an attribute changes, or after every pick of the <pelmora-centile> it is given `for`.
//
//   <script type="module" src="node_modules/pelmora/chart.js"></script>
//   <pelmora-chart base="uk" wt="64" ht="163" sex="Male" eth="European" par="0"
//                  points="231:1900:EFW; 280:3500:birth" edd="2027-03-01"></pelmora-chart>
//   <pelmora-centile id="form"></pelmora-centile> <pelmora-chart for="form"></pelmora-chart>

import { load } from './pelmora.js';

const pelmora = await load();

const MOTHER = ['base', 'wt', 'ht', 'sex', 'eth', 'par'];
const ATTRIBUTES = [...MOTHER, 'points', 'centiles', 'from', 'to', 'edd', 'for'];
const SEX = new Map(pelmora.sexes.map((s) => [s.text, s.code]));

const sheet = `:host { display: block; }
svg { display: block; width: 100%; height: auto; }
.none { margin: 0; padding: 1em; border: 1px dashed GrayText; color: GrayText; }
`;

// A code by one of its texts, or a number in text as the calculators read one.
function code(attribute, value, texts) {
  const known = texts.get(value);
  if (known !== undefined) return known;
  const n = pelmora.numberInText(value);
  if (!Number.isNaN(n)) return n;
  const some = [...texts.keys()];
  throw new RangeError(`${attribute}="${value}" is neither a number nor one of ${some.map((t) => JSON.stringify(t)).join(', ')}`);
}

export class PelmoraChartElement extends HTMLElement {
  static get observedAttributes() { return ATTRIBUTES; }

  constructor() {
    super();
    this._root = this.attachShadow({ mode: 'open' });
    const style = document.createElement('style');
    style.textContent = sheet;
    this._view = document.createElement('div');
    this._view.setAttribute('part', 'chart');
    this._root.append(style, this._view);
    this._svg = '';
    this._error = null;
    this._pending = false;
    this._follow = (e) => {
      if (this.htmlFor && e.target?.id === this.htmlFor && e.detail && 'inputs' in e.detail) this._schedule();
    };
  }

  connectedCallback() {
    this._listening = this.getRootNode();
    this._listening.addEventListener('change', this._follow);
    this._schedule();
  }

  disconnectedCallback() {
    this._listening?.removeEventListener('change', this._follow);
    this._listening = null;
  }

  attributeChangedCallback() {
    if (this.isConnected) this._schedule();
  }

  /** The id of the <pelmora-centile> whose inputs the chart shows (the `for` attribute). */
  get htmlFor() { return this.getAttribute('for') ?? ''; }
  set htmlFor(id) { this.setAttribute('for', id); }

  /** The chart's SVG text as shown; "" while there is no chart. */
  get svg() {
    this._flush();
    return this._svg;
  }

  /** Why there is no chart, or null. */
  get error() {
    this._flush();
    return this._error;
  }

  // Changes that come together (attributes set one after another, a form's pick) draw once, before
  // the page is next painted.
  _schedule() {
    if (this._pending) return;
    this._pending = true;
    queueMicrotask(() => this._flush());
  }

  _flush() {
    if (!this._pending) return;
    this._pending = false;
    let request;
    let svg;
    try {
      request = this._request();
      if (!request) return;
      svg = pelmora.chartSvg(...request.mother, request.options);
    } catch (e) {
      this._show('', `pelmora-chart: ${e.message.replace(/^pelmora(-chart)?: /, '')}`);
      return;
    }
    this._show(svg, null);
    this.dispatchEvent(new CustomEvent('render', { detail: { mother: request.mother, ...request.options } }));
  }

  // The chart's request from the attributes, or from the form it is given `for`.
  _request() {
    const options = {};
    const points = this.getAttribute('points');
    options.points = points === null ? [] : points.split(';').map((p) => p.trim()).filter((p) => p !== '');
    const centiles = this.getAttribute('centiles');
    if (centiles !== null) {
      options.centiles = centiles.split(',').map((c) => {
        const n = pelmora.numberInText(c);
        if (Number.isNaN(n)) throw new RangeError(`centiles="${centiles}": "${c.trim()}" is not a number`);
        return n;
      });
    }
    for (const [attribute, key] of [['from', 'first'], ['to', 'last'], ['edd', 'edd']]) {
      const v = this.getAttribute(attribute);
      if (v !== null) options[key] = v.trim();
    }
    if (this.htmlFor) {
      const form = this.getRootNode().getElementById?.(this.htmlFor);
      if (form?.localName === 'pelmora-centile' && !customElements.get('pelmora-centile')) {
        // The form's element is not defined yet (element.js loads this module first): its chart
        // comes once it is.
        customElements.whenDefined('pelmora-centile').then(() => this._schedule());
        return null;
      }
      if (!form || !('inputs' in form)) throw new Error(`no <pelmora-centile id="${this.htmlFor}"> on the page`);
      if (form.error) throw new Error(`the form's calculation failed: run-time error ${form.error.number}: ${form.error.message}`);
      const i = form.inputs;
      if (!i) throw new Error('the form has not calculated yet');
      // The birth weight at its gestation, as the native demo host's chart pane shows it.
      options.points.push(`${i.gest}:${i.bwt}:birth`);
      return { mother: [i.base, i.wt, i.ht, i.sex, i.eth, i.par], options };
    }
    const text = {};
    for (const a of MOTHER) {
      const v = this.getAttribute(a);
      if (v === null) throw new Error(`no chart without the attribute ${a} (${MOTHER.join(', ')} are needed)`);
      text[a] = v.trim();
    }
    const bases = new Map();
    for (const b of pelmora.bases) bases.set(b.name, b.code).set(b.tag, b.code);
    const base = code('base', text.base, bases);
    if (!pelmora.bases.some((b) => b.code === base)) throw new RangeError(`base="${text.base}" is no base's code`);
    return {
      mother: [
        base,
        code('wt', text.wt, new Map()),
        code('ht', text.ht, new Map()),
        code('sex', text.sex, SEX),
        code('eth', text.eth, new Map(pelmora.ethnicGroups(base).map((g) => [g.text, g.code]))),
        code('par', text.par, new Map(pelmora.parities.map((t, c) => [t, c]))),
      ],
      options,
    };
  }

  _show(svg, error) {
    const changed = svg !== this._svg || error !== this._error;
    this._svg = svg;
    this._error = error;
    if (!changed) return;
    if (error !== null) {
      const p = document.createElement('p');
      p.className = 'none';
      p.setAttribute('role', 'status');
      p.textContent = error;
      this._view.replaceChildren(p);
      console.warn(error);
      this.dispatchEvent(new CustomEvent('pelmora-error', { detail: { message: error } }));
      return;
    }
    const doc = new DOMParser().parseFromString(svg, 'image/svg+xml');
    const chart = document.importNode(doc.documentElement, true);
    // One image to a screen reader, read as what the chart says: its heading, the mother and
    // baby, and the table of measurements.
    const text = (selector) => chart.querySelector(selector)?.textContent.replace(/\s+/g, ' ').trim() ?? '';
    const rows = Array.from(chart.querySelectorAll('.table .row'),
      (r) => Array.from(r.querySelectorAll('text'), (t) => t.textContent).filter((t) => t).join(' '));
    chart.setAttribute('role', 'img');
    chart.setAttribute('aria-label', `${text('.title')}. ${text('.inputs')} ${text('.edd')} ${
      rows.length ? `Measurements: ${rows.join('; ')}.` : 'No measurements.'}`.replace(/ {2,}/g, ' '));
    this._view.replaceChildren(chart);
  }
}

if (!customElements.get('pelmora-chart')) customElements.define('pelmora-chart', PelmoraChartElement);
