export interface PelmoraRenderDetail {
  /** base (code), wt, ht, sex, eth, par as drawn. */
  mother: [number | string, number, number, number, number, number];
  points: string[];
  centiles?: number[];
  first?: string;
  last?: string;
  edd?: string;
}

/**
 * <pelmora-chart>: one pregnancy's growth chart (SVG), from its attributes base, wt, ht, sex,
 * eth, par (codes or the lists' texts), points ("GEST:GRAMS[:LABEL]; ..."), centiles ("10,50,90"),
 * from, to (days or weeks+days) and edd ("YYYY-MM-DD"), or from the <pelmora-centile> whose id is
 * in `for`, redrawn after every pick there. Fires `render` after each new chart and
 * `pelmora-error` when there can be none.
 */
export class PelmoraChartElement extends HTMLElement {
  /** The `for` attribute. */
  htmlFor: string;
  /** The SVG text shown; "" while there is no chart. */
  readonly svg: string;
  /** Why there is no chart, or null. */
  readonly error: string | null;
}

declare global {
  interface HTMLElementTagNameMap { 'pelmora-chart': PelmoraChartElement }
}
