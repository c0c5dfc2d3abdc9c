// Rewrites a module's relaxed multiply-adds from the encoding Debian's LLVM 14 writes, the relaxed
// SIMD proposal's early 0xfd 0xcf 0x01, into the standard's f64x2.relaxed_madd, 0xfd 0x87 0x02:
// the same length, the same three operands in the same order (a * b + c).
//   node web/relaxed-madd.mjs IN.wasm COUNT OUT.wasm
// COUNT is how many binaryen's disassembler finds (f64x2.relaxed_fma). The bytes are looked for in
// the code section alone, and must occur exactly COUNT times there: bytes that merely look the
// same inside another instruction's immediate would make the counts differ, and stop the build.

import { readFileSync, writeFileSync } from 'node:fs';

const [input, count, output] = process.argv.slice(2);
const want = Number(count);
const fail = (why) => { console.error(`relaxed-madd: ${input}: ${why}`); process.exit(1); };
if (!input || !output || !Number.isInteger(want) || want <= 0) fail('usage: IN.wasm COUNT OUT.wasm, COUNT > 0');

const bytes = new Uint8Array(readFileSync(input));
const leb = (at) => {
  let value = 0, shift = 0, b;
  do {
    if (at >= bytes.length) fail('a section runs past the end');
    b = bytes[at++];
    value += (b & 0x7f) * 2 ** shift;
    shift += 7;
  } while (b & 0x80);
  return [value, at];
};

if (bytes.length < 8 || bytes[0] !== 0 || bytes[1] !== 0x61 || bytes[2] !== 0x73 || bytes[3] !== 0x6d) fail('not a module');
let code = null;
for (let at = 8; at < bytes.length;) {
  const id = bytes[at];
  const [size, start] = leb(at + 1);
  if (id === 10) code = [start, start + size];
  at = start + size;
}
if (!code) fail('no code section');

const found = [];
for (let i = code[0]; i + 2 < code[1]; ++i) {
  if (bytes[i] === 0xfd && bytes[i + 1] === 0xcf && bytes[i + 2] === 0x01) found.push(i);
}
if (found.length !== want) fail(`${found.length} early multiply-adds in the code, the disassembler counts ${want}`);
for (const i of found) {
  bytes[i + 1] = 0x87;
  bytes[i + 2] = 0x02;
}
writeFileSync(output, bytes);
