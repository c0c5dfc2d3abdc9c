#!/usr/bin/env bash
# A signed release, with a certificate authority and a code-signing certificate made here:
#   tests/release/signing.sh OUTDIR [RELEASE OPTIONS...]
# scripts/release.sh --windows-only --sign (a PKCS#12 file with a password, and the options given,
# e.g. --arch x64) writes the release to OUTDIR; then, for each architecture it has:
# - each signed file (both DLLs and pelmora-host.exe from the zip, both MSIs) verifies with
#   osslsigncode against the test authority, and names the test signer;
# - a byte changed after signing (in a DLL's and an executable's code, a row of an MSI's table)
#   fails the verification;
# - under Wine, both signed MSIs install, the example VBScript works under the script host of each
#   architecture, the signed pelmora-host.exe of each architecture creates the control and calls
#   a method; both removed again.
# Prints one PASS/FAIL line per check and exits non-zero when any check fails.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
# shellcheck source=../wine/wine-env.sh
. "$root/tests/wine/wine-env.sh"

[ $# -ge 1 ] || { echo "usage: $0 OUTDIR [RELEASE OPTIONS...]" >&2; exit 2; }
out=$(realpath -m "$1")
shift
options=("$@")
started=$SECONDS
echo "=== wine: a signed release ===" >&2
work=$(realpath -m "$out/../$(basename "$out")-signing")
logs=$work/logs
rm -rf "$work"
mkdir -p "$logs" "$work/pki"
failures=0

# The test authority and its code-signing certificate, as a PKCS#12 file with a password.
pki=$work/pki
make_certificates() {
    openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=Pelmora Test Root CA" \
        -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
        -keyout "$pki/ca.key" -out "$pki/ca.pem" &&
    openssl req -newkey rsa:2048 -nodes -subj "/CN=Pelmora Test Signer" -keyout "$pki/signer.key" -out "$pki/signer.csr" &&
    printf '%s\n' basicConstraints=CA:FALSE keyUsage=critical,digitalSignature extendedKeyUsage=codeSigning >"$pki/ext" &&
    openssl x509 -req -in "$pki/signer.csr" -CA "$pki/ca.pem" -CAkey "$pki/ca.key" -CAcreateserial -days 30 \
        -extfile "$pki/ext" -out "$pki/signer.pem" &&
    echo "not a real secret" >"$pki/pass" &&
    openssl pkcs12 -export -inkey "$pki/signer.key" -in "$pki/signer.pem" -certfile "$pki/ca.pem" \
        -passout "file:$pki/pass" -out "$pki/signer.p12"
}
check "a test certificate authority and a code-signing certificate (PKCS#12, with a password)" make_certificates

signed_release() {
    "$root/scripts/release.sh" --windows-only ${options[@]+"${options[@]}"} --sign "$pki/signer.p12" --pass-file "$pki/pass" "$out"
}
check "scripts/release.sh --sign signer.p12 --pass-file pass" signed_release
. "$root/build/mingw64/packaging/release-info.sh"
release=pelmora-$release_version
[ -f "$out/$release-windows.zip" ] || { echo "signing checks: no signed release"; exit 1; }
unz=$work/zip
unzip -q "$out/$release-windows.zip" -d "$unz"
archs=() signed=()
for a in x64 x86; do
    [ -f "$out/$release-$a.msi" ] || continue
    archs+=("$a")
    signed+=("$unz/$a/pelmora.dll" "$unz/$a/pelmora-host.exe" "$out/$release-$a.msi")
done

verifies() {
    osslsigncode verify -CAfile "$pki/ca.pem" -in "$1" >"$logs/verify.out" 2>&1
    local rc=$?
    cat "$logs/verify.out"
    [ $rc -eq 0 ] && grep -q 'Signature verification: ok' "$logs/verify.out" && grep -q 'CN=Pelmora Test Signer' "$logs/verify.out"
}
all_verify() {
    local f bad=0
    for f in "${signed[@]}"; do
        if verifies "$f" >"$logs/verify-$(basename "$f").log"; then echo "ok: $f"; else echo "FAILED: $f"; bad=1; fi
    done
    return $bad
}
check "the signatures of the DLLs, pelmora-host.exe and MSIs (${archs[*]}) verify against the test authority" all_verify

# tampered <file>: a copy with one byte changed half-way into the file (code, for a DLL or an
# executable) or, for an MSI, one table row changed; the copy must no longer verify.
tampered() {
    local f=$1 copy
    copy=$work/tampered-$(basename "$(dirname "$f")")-$(basename "$f")
    cp "$f" "$copy"
    case $f in
        *.msi) msibuild "$copy" -q "UPDATE Property SET Value='Someone Else' WHERE Property='Manufacturer'" ;;
        *) local at=$(($(stat -c %s "$copy") / 2))
           printf "$(printf '\\%03o' $((($(od -An -tu1 -j $at -N1 "$copy") + 1) % 256)))" |
               dd of="$copy" bs=1 seek=$at conv=notrunc status=none ;;
    esac
    cmp -s "$f" "$copy" && { echo "the copy was not changed"; return 1; }
    if verifies "$copy"; then echo "a changed $(basename "$f") still verifies"; return 1; fi
    return 0
}
for f in "$unz/${archs[0]}/pelmora.dll" "$unz/${archs[-1]}/pelmora-host.exe" "$out/$release-${archs[0]}.msi"; do
    check "a byte changed after signing fails the verification: ${f#"$work"/}" tampered "$f"
done

# --- the signed files at work under Wine ------------------------------------------------------------

trap wine_stop EXIT
wine_start "$work/wine" && wine_headless || { echo "FAIL: Wine prefix could not be created"; exit 1; }
declare -A cscript=([x64]=cscript [x86]='C:\windows\syswow64\cscript.exe')
works() {
    local log=$logs/vbscript-$1.out
    wine_run 60 "${cscript[$1]}" //nologo "$(wine_path "$root/examples/vbscript/pelmora.vbs")" | tr -d '\r' >"$log"
    cat "$log"
    grep -q '^custcentukn 48\.4398$' "$log" && grep -q '^custcentau 46\.6843$' "$log"
}
host_calls() {
    local log=$logs/host-$1.out
    printf 'call custcentukn 3500 280 64 163 1 1 0\n' |
        wine_run 120 "$(wine_path "$unz/$1/pelmora-host.exe")" --script | tr -d '\r' >"$log"
    cat "$log"
    grep -q '^48\.4398[0-9]* 3500 40 64 163 1 1 0$' "$log"
}
for a in "${archs[@]}"; do
    check "$a: the signed MSI installs" wine_run 300 msiexec /i "$(wine_path "$out/$release-$a.msi")" /qn
    check "$a: the signed DLL, registered by the MSI: the example VBScript" works $a
    check "$a: the signed pelmora-host.exe creates the control and calls custcentukn" host_calls $a
done
for a in "${archs[@]}"; do
    check "$a: the signed MSI is removed" wine_run 300 msiexec /x "$(wine_path "$out/$release-$a.msi")" /qn
done
wine_stop
trap - EXIT
echo "signing checks: $failures failed, $((SECONDS - started)) s"
[ "$failures" -eq 0 ]
