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

echo; echo "== Web pages through the browser bridge (quorvant-bridge, web/extension)"
step bridge install --dir "$work/browser-profile/NativeMessagingHosts"
printf 'dialog 201\npress ok\ndialog 201\npress ok\n' > "$work/bridge.script"
printf '\n$ (a page of https://bank.example: approve the site, Hash, SignPkcs7, ExportMobileFromIE)\n'
QUORVANT_DIALOGS=scripted QUORVANT_DIALOG_SCRIPT="$work/bridge.script" \
QUORVANT_DIALOG_LOG="$work/bridge-dialogs.log" /usr/bin/python3 - build/bin/quorvant-bridge <<'PY' || true
import json, struct, subprocess, sys
messages = [{"connect": "https://bank.example"},
            {"id": 1, "method": "Hash", "args": ["abc", 3]},
            {"id": 2, "method": "SignPkcs7", "args": ["付款 1000 元給 Bob", 0]},
            {"id": 3, "method": "ExportMobileFromIE", "args": ["", "pw", 0, 0]}]
stdin = b"".join(struct.pack("=I", len(b)) + b
                 for b in (json.dumps(m, ensure_ascii=False).encode() for m in messages))
out = subprocess.run([sys.argv[1], "chrome-extension://dponbioakojdldlefcgeciogjipojfca/"],
                     input=stdin, capture_output=True).stdout
while out:
    (n,) = struct.unpack("=I", out[:4])
    print("host:", out[4:4 + n].decode())
    out = out[4 + n:]
PY
echo "dialogs the user saw:"; cat "$work/bridge-dialogs.log"
step reg query 'HKCU\Software\MORL\QuorvantATL\Bridge\Origins'
echo; echo "== The automation control, registered for this user"
step regsvr
step reg query 'HKCR\CLSID\{6E1C2A90-3D47-4B8E-9F15-7A2C51E08D34}' /s

echo; echo "== Result codes"
printf '\n$ quorvant errors | head -5\n'
"$q" errors | sed -n 1,5p
