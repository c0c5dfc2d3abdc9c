#!/usr/bin/env bash
# Builds the WebAssembly module and the npm package `pelmora` with Debian's emscripten:
#   web/build.sh [OUT]      (OUT defaults to build/web)
# OUT/package/ is the package's folder, OUT/pelmora-<version>.tgz what `npm pack` makes of it.
#
# The module holds the calculators and the batch engine (calc/), the growth chart's SVG writer
# (chart/) and the control's form (form/:
# its control table, lists, UserControl_Initialize, Combobase_Click and Recalculate) on the
# headless forms toolkit with the COM layer's variants and error information, so that a page shows
# what the control shows. calc is compiled with -ffp-contract=off, as everywhere.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
out=$(mkdir -p "${1:-$root/build/web}" && cd "${1:-$root/build/web}" && pwd)
pkg="$out/package"
obj="$out/obj"
mkdir -p "$pkg" "$obj" "$out/gen"

# Debian's emscripten runs its JavaScript tools with node, which finds Debian's acorn here.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
EMXX=${EMXX:-em++}
WIDL=$(command -v x86_64-w64-mingw32-widl || command -v i686-w64-mingw32-widl || command -v widl)

version=$(sed -n 's/^project(pelmora VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
[ -n "$version" ] || { echo "web/build.sh: no version in CMakeLists.txt" >&2; exit 1; }

# The interface's declarations (_Pelmora and its identifiers), as the native build makes them.
"$WIDL" --win32 -I /usr/include/wine/wine/windows -h -H "$out/gen/pelmora_idl.h" "$root/interface/pelmora.idl"

common=(-std=c++20 -O3 -fexceptions -Wall -Wextra -Werror
        -include "$here/src/from_chars_double.hpp" -include "$here/src/to_chars_double.hpp"
        -I"$root/foundation/include" -I"$root/calc/include" -I"$root/chart/include" -I"$root/form/include"
        -I"$root/platform/forms/include" -I"$root/platform/text/include" -isystem "$root/platform/com/include" -isystem "$out/gen")
# The foundation's and calc's sources as their CMakeLists name them.
mapfile -t foundation_sources < <(sed -n '/^add_library(pelmora_foundation /,/)/s|.*src/\([a-z_0-9]*\)\.cpp.*|\1|p' "$root/foundation/CMakeLists.txt")
[ "${#foundation_sources[@]}" -gt 0 ] || { echo "web/build.sh: no sources of the foundation found" >&2; exit 1; }
mapfile -t calc_sources < <(sed -n '/^add_library(pelmora_calc /,/)/s|.*src/\([a-z_0-9]*\)\.cpp.*|\1|p' "$root/calc/CMakeLists.txt")
[ "${#calc_sources[@]}" -gt 0 ] || { echo "web/build.sh: no sources of calc found" >&2; exit 1; }
# The form's too: a source added there is compiled here without anyone retyping it.
mapfile -t form_sources < <(sed -n '/^add_library(pelmora_form /,/)/s|.*src/\([a-z_0-9]*\)\.cpp.*|\1|p' "$root/form/CMakeLists.txt")
[ "${#form_sources[@]}" -gt 0 ] || { echo "web/build.sh: no sources of the form found" >&2; exit 1; }

# The chart's too, but for its file writer: a page writes no files.
mapfile -t chart_sources < <(sed -n '/^add_library(pelmora_chart /,/)/{s/^add_library(pelmora_chart STATIC//;s/)$//;p}' "$root/chart/CMakeLists.txt" |
                             tr ' ' '\n' | sed -n 's|^src/\([a-z_0-9]*\)\.cpp$|\1|p' | grep -vx file)
[ "${#chart_sources[@]}" -gt 0 ] || { echo "web/build.sh: no sources of the chart found" >&2; exit 1; }

objects=()
# An object is made again when it is missing or older than its source or any header the compiler
# read for it (its own list, written beside the object by -MMD).
stale() {
    local o=$1 dep
    [ -e "$o" ] && [ -e "$o.d" ] || return 0
    for dep in $(sed -e 's/^[^:]*://' -e 's/\\$//' "$o.d"); do
        [ "$dep" -nt "$o" ] && return 0
    done
    return 1
}
compile() {  # source, object name, extra flags...
    local src=$1 name=$2
    shift 2
    local o="$obj/$name.o"
    if stale "$o"; then
        "$EMXX" "${common[@]}" "$@" -MMD -MF "$o.d" -c "$src" -o "$o"
    fi
    objects+=("$o")
}
for s in "${foundation_sources[@]}"; do
    compile "$root/foundation/src/$s.cpp" "foundation_$s" -ffp-contract=off
done
# WebAssembly SIMD only where the code asks for it (the slices' two lanes): Debian's binaryen
# cannot read some of the SIMD instructions the compiler's own vectorising would write elsewhere.
# The slices are compiled twice: for every engine, and with relaxed SIMD's fused multiply-add for
# engines that have it (a second module, pelmora-core-relaxed.wasm, that pelmora.js picks there).
for s in "${calc_sources[@]}"; do
    simd=()
    [ "$s" = slices ] && simd=(-msimd128)
    compile "$root/calc/src/$s.cpp" "calc_$s" -ffp-contract=off -I"$root/calc/src" "${simd[@]}"
done
compile "$root/calc/src/slices.cpp" calc_slices_relaxed -ffp-contract=off -I"$root/calc/src" -msimd128 -mrelaxed-simd
unset 'objects[-1]'  # linked into the relaxed module alone, in place of calc_slices.o
for s in "${chart_sources[@]}"; do
    compile "$root/chart/src/$s.cpp" "chart_$s" -ffp-contract=off
done
for s in "${form_sources[@]}"; do
    compile "$root/form/src/$s.cpp" "form_$s"
done
compile "$root/platform/forms/src/toolkit.cpp" forms_toolkit
compile "$root/platform/forms/src/headless.cpp" forms_headless
for s in bstr errorinfo guid text variant; do
    compile "$root/platform/com/src/$s.cpp" "com_$s" -DPELMORA_COM_BUILDING -Wno-unused-parameter
done
compile "$root/component/guids.cpp" component_guids
compile "$here/src/glibc_exp.cpp" web_glibc_exp -ffp-contract=off
compile "$here/src/module.cpp" web_module -I"$root/calc/src" -msimd128
compile "$here/src/face.cpp" web_face

exports=_malloc,_free
for f in rows weights curves lanes fused exp2 failure_row failure_number failure_message error_text quantity_name base_name base_tag \
         base_from_text class_text exp chart number ethnic_text ethnic_code parity_text sex_text sex_code; do
    exports+=",_pelmora_web_$f"
done
for f in create destroy pick failure text items caption last layout; do exports+=",_pelmora_face_$f"; done

# An ES module that is given the .wasm's bytes by pelmora.js (which finds the file beside itself),
# so it needs neither Node's require nor a bundler.
link() {  # output .js, objects...
    local js=$1
    shift
    "$EMXX" "$@" -O3 -fexceptions -sDISABLE_EXCEPTION_CATCHING=0 \
        -sMODULARIZE=1 -sEXPORT_ES6=1 -sENVIRONMENT=web -sEXPORT_NAME=createPelmoraCore \
        -sALLOW_MEMORY_GROWTH=1 -sINITIAL_MEMORY=16777216 -sFILESYSTEM=0 \
        -sEXPORTED_FUNCTIONS="$exports" -sEXPORTED_RUNTIME_METHODS=UTF8ToString,stringToUTF8,lengthBytesUTF8 \
        -o "$js"
}
link "$pkg/pelmora-core.js" "${objects[@]}"
# The relaxed module: its loader must be the same file, since the package has one.
mkdir -p "$out/relaxed"
link "$out/relaxed/pelmora-core.js" "${objects[@]/%\/calc_slices.o/\/calc_slices_relaxed.o}"
cmp -s "$pkg/pelmora-core.js" "$out/relaxed/pelmora-core.js" ||
    { echo "web/build.sh: the relaxed module's loader differs from the other's" >&2; exit 1; }
# Its multiply-adds as binaryen reads them (the early encoding), rewritten into the standard's.
madds=$(wasm-dis "$out/relaxed/pelmora-core.wasm" 2>/dev/null | grep -c 'f64x2\.relaxed_fma' || true)
node "$here/relaxed-madd.mjs" "$out/relaxed/pelmora-core.wasm" "$madds" "$pkg/pelmora-core-relaxed.wasm"

cp "$here/js/pelmora.js" "$here/js/element.js" "$here/js/chart.js" "$here/js/pelmora.d.ts" "$here/js/element.d.ts" \
   "$here/js/chart.d.ts" "$here/js/custom-elements.json" "$pkg/"
cp "$here/README.md" "$pkg/README.md"
cp "$root/LICENSE" "$pkg/LICENSE"
sed "s/@VERSION@/$version/" "$here/js/package.json.in" > "$pkg/package.json"
# The demo page beside a copy of the package, as a page that installed it would have it.
rm -rf "$out/demo" && mkdir -p "$out/demo/pelmora"
cp "$here/demo/index.html" "$out/demo/"
cp "$pkg"/*.js "$pkg"/*.wasm "$out/demo/pelmora/"
(cd "$out" && rm -f "pelmora-$version.tgz" && npm pack --silent "$pkg" >/dev/null)
echo "$out/pelmora-$version.tgz"
