/** The names of the form's nine lists. */
export type ListName = 'Combobase' | 'Combobwt' | 'Combogd' | 'Combogw' | 'Combowt' | 'Comboht' | 'Combopar' |
  'Comboeth' | 'Combosex';

export { PelmoraChartElement } from './chart.js';

export interface PelmoraChangeDetail {
  /** The unrounded centile; NaN when the last calculation had none. */
  centile: number;
  /** The result label's caption. */
  caption: string;
  /** The base's tag ("uk", "swe", "nz", "au"). */
  base: string | null;
  /** The calculator's inputs as the form passed them (gest in days). */
  inputs: { bwt: number; gest: number; wt: number; ht: number; sex: number; eth: number; par: number };
  /** Every list's text. */
  texts: Record<ListName, string>;
  /** A run-time error of the recalculation, or null. */
  error: { number: number; message: string } | null;
}

export class PelmoraCentileElement extends HTMLElement {
  /** The lists in the form's keyboard order. */
  readonly lists: ListName[];
  /** The result label's caption, e.g. "56". */
  readonly caption: string;
  /** The unrounded centile; NaN when there is none. */
  readonly centile: number;
  /** The inputs of the form's last calculation (base by its tag, gest in days); null before any. */
  readonly inputs: ({ base: string } & PelmoraChangeDetail['inputs']) | null;
  /** The run-time error of the last recalculation, or null. */
  readonly error: { number: number; message: string } | null;
  text(list: ListName): string;
  items(list: ListName): string[];
  /** A person's pick of the item `text`; throws a RangeError, changing nothing, when there is no such item. */
  pick(list: ListName, text: string): void;
}

declare global {
  interface HTMLElementTagNameMap { 'pelmora-centile': PelmoraCentileElement }
  interface HTMLElementEventMap { change: Event }
}
