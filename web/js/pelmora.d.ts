/** A base: its code 0..3, its name ("United Kingdom") or its tag ("uk"). */
export type Base = number | string;
/** One value, or one per row (a plain or typed array; an array of one repeats). */
export type Input = number | null | undefined | ArrayLike<number | null | undefined>;
export type BaseInput = Base | ArrayLike<Base>;

export interface Options {
  /** 'throw' (the default): a failing row throws a PelmoraError; 'nan': NaN and the error numbers. */
  errors?: 'throw' | 'nan';
  /** classify: a centile below this is "SGA" (10). */
  sga?: number;
  /** classify: a centile above this is "LGA" (90). */
  lga?: number;
}

export interface Quantities<T> {
  centile: T; z: T; optimalWeight: T; weight: T; weightTerm: T; heightTerm: T; sexTerm: T;
  ethnicTerm: T; parityTerm: T; termWeight: T; weeks: T; proportion: T; spread: T; htAfter: T;
}

/** A failed calculation: the run-time error's number and text, and the row in a batch. */
export class PelmoraError extends Error {
  readonly number: number;
  readonly description: string;
  readonly row?: number;
}

export interface Curves {
  first: number;
  last: number;
  centiles: number[];
  weights: Float64Array[];
  /** With { errors: 'nan' }: the run-time error number (0 when none), the weights then NaN. */
  error?: number;
}

/** A measured weight: "GEST:GRAMS[:LABEL]" (gest in days or weeks+days), [gest, grams, label] or an object. */
export type ChartPoint = string | [number | string, number, string?] |
  { gest: number | string; weight: number; label?: string };

export interface BaseInfo { code: number; name: string; tag: string }

export class Pelmora {
  readonly bases: readonly BaseInfo[];
  readonly quantities: readonly (keyof Quantities<number>)[];

  centile(base: Base, bwt: number | null | undefined, gest: number | null | undefined, wt: number | null | undefined,
          ht: number | null | undefined, sex: number | null | undefined, eth: number | null | undefined,
          par: number | null | undefined, options?: Options & { errors?: 'throw' }): number;
  centile(base: BaseInput, bwt: Input, gest: Input, wt: Input, ht: Input, sex: Input, eth: Input, par: Input,
          options?: Options & { errors?: 'throw' }): number | Float64Array;
  centile(base: BaseInput, bwt: Input, gest: Input, wt: Input, ht: Input, sex: Input, eth: Input, par: Input,
          options: Options & { errors: 'nan' }): { centile: number | Float64Array; error: number | Int32Array };

  evaluate(base: BaseInput, bwt: Input, gest: Input, wt: Input, ht: Input, sex: Input, eth: Input, par: Input,
           options?: Options): Quantities<number | Float64Array> & { error?: number | Int32Array };

  /** The birth weight in grams at a centile (0 < centile < 100) for a baby of `gest` days. */
  weightAtCentile(base: Base, centile: number | null | undefined, gest: number | null | undefined,
                  wt: number | null | undefined, ht: number | null | undefined, sex: number | null | undefined,
                  eth: number | null | undefined, par: number | null | undefined,
                  options?: { errors?: 'throw' }): number;
  weightAtCentile(base: BaseInput, centile: Input, gest: Input, wt: Input, ht: Input, sex: Input, eth: Input,
                  par: Input, options?: { errors?: 'throw' }): number | Float64Array;
  weightAtCentile(base: BaseInput, centile: Input, gest: Input, wt: Input, ht: Input, sex: Input, eth: Input,
                  par: Input, options: { errors: 'nan' }): { weight: number | Float64Array; error: number | Int32Array };

  /**
   * One mother's centile curves: weights[c][d] is the weight at centiles[c] on day first + d
   * (centiles [10, 50, 90] and days 168 to 294 unless given).
   */
  curves(base: Base, wt: number | null | undefined, ht: number | null | undefined, sex: number | null | undefined,
         eth: number | null | undefined, par: number | null | undefined,
         options?: { centiles?: ArrayLike<number>; first?: number; last?: number; errors?: 'throw' | 'nan' }): Curves;

  /**
   * One mother's growth chart as SVG text (A4 landscape), the native chart writer's bytes: the
   * curves (centiles [10, 50, 90] and gestations 168 to 294 days, or "24+0" to "42+0", unless
   * given) and the measured points, the label "birth" marking the birth weight; edd
   * ("YYYY-MM-DD") adds a row of dates. Throws a PelmoraError for a bad request or a failed
   * calculation.
   */
  chartSvg(base: Base, wt: number, ht: number, sex: number, eth: number, par: number,
           options?: { points?: ChartPoint[]; centiles?: ArrayLike<number>; first?: number | string;
                       last?: number | string; edd?: string }): string;

  /** The base's ethnic groups in its list's order. */
  ethnicGroups(base: Base): { code: number; text: string }[];
  /** The parity list's texts, index = code. */
  readonly parities: string[];
  /** The sex list's texts and the codes they stand for, in the list's order. */
  readonly sexes: { text: string; code: number }[];
  /** A number in text as the calculators read a text argument, or NaN for other text. */
  numberInText(text: string): number;

  classify(base: BaseInput, bwt: Input, gest: Input, wt: Input, ht: Input, sex: Input, eth: Input, par: Input,
           options?: Options): string | string[] | { class: string | string[]; error: number | Int32Array };
}

/**
 * The module's file load() reads: 'pelmora-core-relaxed.wasm' where the engine has relaxed SIMD
 * (its fused multiply-add makes it faster), 'pelmora-core.wasm' elsewhere; both give the same bits.
 */
export const wasmFile: 'pelmora-core.wasm' | 'pelmora-core-relaxed.wasm';

/** Loads the WebAssembly module (found beside this file) once; later calls share it. */
export function load(options?: { wasm?: URL | string | ArrayBuffer | Uint8Array }): Promise<Pelmora>;
