#!/usr/bin/env bash
# The main job: sets up, builds, and runs the quorvant tool end to end through
# the library's flat exports, on a per-user store of its own (QUORVANT_HOME,
# under the build directory unless you set it).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build
export QUORVANT_HOME=${QUORVANT_HOME:-$PWD/build/demo-home}
q=build/bin/quorvant

step() {
  local shown="" a
  for a in "$@"; do
    case "$a" in
      "" | *" "* | *\\*) shown+=" '$a'" ;;
      *) shown+=" $a" ;;
    esac
  done
  printf '\n$ quorvant%s\n' "$shown"
  "$q" "$@" || true
}

echo "QuorvantATL demo (data under $QUORVANT_HOME)"
echo "Every command calls the library's flat exports and ends with the result code."

echo; echo "== The component"
step version
step call GetOSName
step call GetMacAddress
step call GetUserHomePath
step call PresetPasswdLengthRange 12 4

echo; echo "== Digests of text (UTF-16 by default, the code page with --ansi) and of files"
step hash --md5 --ansi abc
step hash --sha256 "中文"
step hash-file --sha256 README.md
step hash ""

echo; echo "== A dialog answered by a script (no display needed)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf 'dialog open-file\npick "%s"\n' "$PWD/README.md" > "$work/pick-readme.script"
echo "script: $(tr '\n' ';' < "$work/pick-readme.script")"
QUORVANT_DIALOGS=scripted QUORVANT_DIALOG_SCRIPT="$work/pick-readme.script" step hash-file --sha256 ''
QUORVANT_DIALOGS=none step hash-file --sha256 ''

echo; echo "== Values in the per-user registry store"
step call RegWriteHKCUStr 'Software\QuorvantDemo\greeting' '你好'
step call RegWriteHKCUInt 'Software\QuorvantDemo\count' 0x2A
step call RegReadHKCU 'Software\QuorvantDemo\greeting'
step call RegReadHKCU 'Software\QuorvantDemo\count'
step reg query 'HKCU\Software\QuorvantDemo'
step call RegReadHKCU 'no-backslash'

echo; echo "== The personal certificate store"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" \
  -days 365 -subj "/C=TW/O=測試銀行/OU=營業部/CN=王小明" -utf8 \
  -addext "keyUsage=critical,digitalSignature,nonRepudiation" 2>/dev/null
step cert "$work/cert.pem"
step store add MY "$work/cert.pem"
step call GetIECertCount --then GetIECertSubject 1 --then GetIECertFinger 1 \
  --then GetIECertNotAfter 1
step store list MY
step store delete MY 1

echo; echo "== PKCS #12 files and the certificate filter"
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -name demo \
  -out "$work/demo.pfx" -passout pass:demo-secret
step pfx info "$work/demo.pfx" demo-secret
step pfx info "$work/demo.pfx" wrong-password
bash tests/pfx/data/make_filter_certs.sh "$work/leaves" >/dev/null
for leaf in alice bob wang; do "$q" store add MY "$work/leaves/$leaf.der" >/dev/null; done
step filter 'S_O=%Bank' --flags 0x08
step filter 'S_CN=Alice,S_O=Bank//S_CN=Bob'
step filter '' --key-usage 0x20
step filter '' --flags 0x42
for _ in alice bob wang; do "$q" store delete MY 1 >/dev/null; done

echo; echo "== PFX files in and out of the personal store"
# Files of openssl, Python's cryptography, keytool and pk12util, with a CA
# and a holder it issued; passwords go through standard input, never on the
# command line.
bash tests/pfx/data/make_interop_pfx.sh "$work/interop" >/dev/null 2>&1
echo 中文密碼測試 | step pfx import "$work/interop/chain.pfx" --flags 1 --password-stdin
step call GetIECertCount --then GetIECertSubject 1
"$q" store add ROOT "$work/interop/ca.pem" >/dev/null
printf 'dialog 206\ntype confirmation "export-pw"\npress ok\n' > "$work/export.script"
echo "script: $(tr '\n' ';' < "$work/export.script")"
echo export-pw | QUORVANT_DIALOGS=scripted QUORVANT_DIALOG_SCRIPT="$work/export.script" \
  step pfx export '' "$work/exported" --flags 0x200 --password-stdin
printf '\n$ openssl pkcs12 -info -nokeys -in "exported/互通測試 Holder.pfx" | grep subject=\n'
openssl pkcs12 -info -nokeys -in "$work/exported/互通測試 Holder.pfx" -passin pass:export-pw \
  2>&1 | grep -e subject= -e MAC: -e PBES2 || true
echo mobile-pw | step pfx mobile --store '' --password-stdin | cut -c1-76
cp "$work/interop/openssl.pfx" "$work/change.pfx"
printf '中文密碼測試\nnew-secret\n' | step pfx passwd "$work/change.pfx" --password-stdin
step pfx info "$work/change.pfx" new-secret
step pfx info "$work/change.pfx" 中文密碼測試
"$q" store delete MY 1 >/dev/null
"$q" store delete ROOT 1 >/dev/null

echo; echo "== Result codes"
printf '\n$ quorvant errors | head -5\n'
"$q" errors | sed -n 1,5p
