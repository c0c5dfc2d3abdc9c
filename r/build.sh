#!/usr/bin/env bash
# Builds the R source package: a staging copy of r/ with the calculators' sources copied in
# (calc/src and foundation/src -> src/calc, calc/include and foundation/include -> src/include),
# the version taken from the project's top CMakeLists.txt, the validation table for the tests;
# then `R CMD build` makes pelmora_<version>.tar.gz in the output folder (default build/r), which
# installs with only R and a C++20 compiler.
#   r/build.sh [output folder]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(mkdir -p "${1:-$root/build/r}" && cd "${1:-$root/build/r}" && pwd)
version=$(sed -n 's/^project(pelmora VERSION \([0-9][0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
[ -n "$version" ] || { echo "r/build.sh: no project version in CMakeLists.txt" >&2; exit 1; }

stage=$out/stage/pelmora
rm -rf "$out/stage"
mkdir -p "$stage"
(cd "$root/r" && tar cf - --exclude=build.sh --exclude=DESCRIPTION.in --exclude=Makevars.in .) |
  (cd "$stage" && tar xf -)
sed "s/@VERSION@/$version/" "$root/r/DESCRIPTION.in" >"$stage/DESCRIPTION"

mkdir -p "$stage/src/calc" "$stage/inst" "$stage/tests/testthat"
cp "$root"/calc/src/*.cpp "$root"/calc/src/*.hpp "$root"/foundation/src/*.cpp "$stage/src/calc/"
cp -r "$root/calc/include" "$stage/src/include"
cp -r "$root"/foundation/include/. "$stage/src/include/"
cp "$root/NOTICE" "$stage/inst/NOTICE"
cp "$root/validation/centiles.csv" "$stage/tests/testthat/centiles.csv"

# One rule per calculator object, its exact floating-point flags last.
objects=() rules=""
for f in "$stage"/src/calc/*.cpp; do
  o=calc/$(basename "${f%.cpp}").o
  objects+=("$o")
  rules+="$o: ${o%.o}.cpp"$'\n\t$(CXX) $(ALL_CPPFLAGS) $(ALL_CXXFLAGS) $(PELMORA_EXACT_FP) -c '"${o%.o}.cpp -o $o"$'\n'
done
rules+="pelmora.o: pelmora.cpp"$'\n\t$(CXX) $(ALL_CPPFLAGS) $(ALL_CXXFLAGS) $(PELMORA_EXACT_FP) -c pelmora.cpp -o pelmora.o\n'
awk -v objects="${objects[*]}" -v rules="$rules" '
  { gsub(/@CALC_OBJECTS@/, objects) }
  /^@CALC_RULES@$/ { printf "%s", rules; next }
  { print }' "$root/r/src/Makevars.in" >"$stage/src/Makevars"

cd "$out"
rm -f pelmora_*.tar.gz
R CMD build --no-manual "$stage" >&2
ls "$out/pelmora_$version.tar.gz"
