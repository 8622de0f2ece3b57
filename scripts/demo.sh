#!/usr/bin/env bash
# The main job: sets up, builds, and runs the quorvant tool end to end through
# the library's flat exports, on a per-user store of its own (QUORVANT_HOME,
# under the build directory unless you set it).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build
# Its own home starts empty on every run, so each run shows the same; a home
# of your own (QUORVANT_HOME) is used as it is.
if [ -z "${QUORVANT_HOME:-}" ]; then
  export QUORVANT_HOME=$PWD/build/demo-home
  rm -rf "$QUORVANT_HOME"
fi
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
echo "The main job first: enrolment with openssl as the authority, selecting and signing"
echo "(verified by openssl), PFX files in and out, encryption; then the rest of the component."

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A self-signed certificate and its PFX, made by openssl, for the sections
# that need one of each.
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" \
  -days 365 -subj "/C=TW/O=測試銀行/OU=營業部/CN=王小明" -utf8 \
  -addext "keyUsage=critical,digitalSignature,nonRepudiation" 2>/dev/null
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -name demo \
  -out "$work/demo.pfx" -passout pass:demo-secret

echo; echo "== Enrolment: a key pair and its request, openssl as the authority, the reply installed"
ca="$work/ca"
mkdir -p "$ca"
printf '\n$ quorvant enrol request 王小明 --bits 2048\n'
"$q" enrol request "王小明" --bits 2048 | tee "$ca/request.out" | cut -c1-76
head -1 "$ca/request.out" | base64 -d > "$ca/request.der"
printf '\n$ openssl req -inform DER -in request.der -verify -noout -subject\n'
openssl req -inform DER -in "$ca/request.der" -verify -noout -subject -nameopt utf8 2>&1
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$ca/root.key" -out "$ca/root.pem" -days 365 \
  -subj "/C=TW/O=Demo Trust/CN=Demo Root CA" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout "$ca/issuing.key" -out "$ca/issuing.csr" \
  -subj "/C=TW/O=Demo Trust/CN=Demo Issuing CA" 2>/dev/null
printf 'basicConstraints=critical,CA:true\nkeyUsage=critical,keyCertSign,cRLSign\n' > "$ca/ca.ext"
printf 'keyUsage=critical,digitalSignature,nonRepudiation,keyEncipherment\n' > "$ca/user.ext"
openssl x509 -req -in "$ca/issuing.csr" -CA "$ca/root.pem" -CAkey "$ca/root.key" -set_serial 2 \
  -days 365 -extfile "$ca/ca.ext" -out "$ca/issuing.pem" 2>/dev/null
openssl x509 -req -inform DER -in "$ca/request.der" -CA "$ca/issuing.pem" -CAkey "$ca/issuing.key" \
  -set_serial 0x1001 -days 365 -extfile "$ca/user.ext" -out "$ca/user.pem" 2>/dev/null
openssl crl2pkcs7 -nocrl -certfile "$ca/root.pem" -certfile "$ca/issuing.pem" \
  -certfile "$ca/user.pem" -out "$ca/reply.p7b"
echo "openssl issued the certificate: a root, an issuing CA and the user's, as PKCS #7 (crl2pkcs7)"
step enrol pending
# No dialog can be shown here, so the root is not added to ROOT unasked.
QUORVANT_DIALOGS=none step enrol accept "$ca/reply.p7b"
step store list MY
step store list CA
step enrol pending

echo; echo "== Signing with the enrolled certificate from MY, verified by openssl"
printf 'enrolled and signed' | iconv -f UTF-8 -t UTF-16LE >"$ca/content.bin"
printf '\n$ quorvant sign --pkcs7 --flags 0x2000 --filter "I_CN=Demo Issuing CA" --select-flags 0x108 "enrolled and signed"\n'
"$q" sign --pkcs7 --flags 0x2000 --filter "I_CN=Demo Issuing CA" --select-flags 0x108 \
  "enrolled and signed" | tee "$ca/sign.out" | cut -c1-76
head -1 "$ca/sign.out" | base64 -d >"$ca/enrolled.p7s" 2>/dev/null || true
cat "$ca/root.pem" "$ca/issuing.pem" >"$ca/chain.pem"
printf '\n$ openssl cms -verify -binary -inform DER -in enrolled.p7s -content content.bin -CAfile root+issuing\n'
openssl cms -verify -binary -inform DER -in "$ca/enrolled.p7s" -content "$ca/content.bin" \
  -CAfile "$ca/chain.pem" -purpose any -out /dev/null 2>&1 || true
# The later sections start from an empty personal store again.
"$q" store delete MY 1 >/dev/null
"$q" store delete CA 1 >/dev/null

echo; echo "== Selecting the signer and signing"
# A CA made by openssl issues the signer; the signer's certificate and key
# come in a PFX file that SelectSignerEx opens without a dialog.
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/ca.key" -out "$work/ca.pem" \
  -days 365 -subj "/O=Demo CA/CN=Demo Root" \
  -addext "basicConstraints=critical,CA:TRUE" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout "$work/signer.key" -out "$work/signer.csr" \
  -subj "/C=TW/O=測試銀行/CN=王小明" -utf8 2>/dev/null
printf 'keyUsage=critical,digitalSignature,nonRepudiation\n' >"$work/signer.ext"
openssl x509 -req -in "$work/signer.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" \
  -set_serial 0x5A17 -days 365 -extfile "$work/signer.ext" -out "$work/signer.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$work/signer.key" -in "$work/signer.pem" \
  -out "$work/signer.pfx" -passout pass:sign-secret
# The PFX password comes on descriptor 3, never on the command line.
pick=(--filter 'S_CN=王小明' --select-flags 0x208 --pfx "$work" signer.pfx --password-fd 3)
step select 'S_CN=王小明' --select-flags 0x208 --pfx "$work" signer.pfx --password-fd 3 3<<<sign-secret
printf '簽章測試' | iconv -f UTF-8 -t UTF-16LE >"$work/content.bin"
step sign --flags 0x100 "${pick[@]}" 簽章測試 3<<<sign-secret
"$q" sign --flags 0x100 "${pick[@]}" 簽章測試 3<<<sign-secret | head -1 | base64 -d >"$work/pkcs1.sig"
openssl x509 -in "$work/signer.pem" -pubkey -noout >"$work/signer.pub"
printf '\n$ openssl dgst -sha1 -verify signer.pub -signature pkcs1.sig content.bin\n'
openssl dgst -sha1 -verify "$work/signer.pub" -signature "$work/pkcs1.sig" "$work/content.bin" || true
step store add ROOT "$work/ca.pem"
step sign --pkcs7 --flags 0x2600 "${pick[@]}" 簽章測試 3<<<sign-secret
"$q" sign --pkcs7 --flags 0x2600 "${pick[@]}" 簽章測試 3<<<sign-secret | head -1 | base64 -d >"$work/pkcs7.der"
printf '\n$ openssl cms -verify -binary -inform DER -in pkcs7.der -content content.bin -CAfile ca.pem\n'
openssl cms -verify -binary -inform DER -in "$work/pkcs7.der" -content "$work/content.bin" \
  -CAfile "$work/ca.pem" -out /dev/null || true
printf '\n$ openssl pkcs7 -inform DER -in pkcs7.der -print_certs -noout\n'
openssl pkcs7 -inform DER -in "$work/pkcs7.der" -print_certs -noout || true
step sign "${pick[@]}" 簽章測試 3<<<wrong
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
echo new-secret | step pfx info "$work/change.pfx" --password-stdin
echo 中文密碼測試 | step pfx info "$work/change.pfx" --password-stdin
"$q" store delete MY 1 >/dev/null
"$q" store delete ROOT 1 >/dev/null
echo; echo "== Encryption: Triple-DES with a caller's key, and PKCS #7 envelopes"
key=0123456789ABCDEFFEDCBA987654321089ABCDEF01234567
printf 'Pay 100 to 王小明' > "$work/plain.txt"
step encrypt --key $key --ansi --out "$work/sym.b64" "$work/plain.txt"
echo "ours:    $(cat "$work/sym.b64")"
echo "openssl: $(iconv -f UTF-8 -t CP950 < "$work/plain.txt" |
  openssl enc -des-ede3-cbc -K $key -iv 0000000000000000 | base64 -w0)"
step decrypt --key $key --ansi "$work/sym.b64"
step decrypt --key 1111111111111111FEDCBA987654321089ABCDEF01234567 --ansi "$work/sym.b64"
step encrypt --to "$work/cert.pem" --out "$work/envelope.b64" "$work/plain.txt"
openssl pkcs12 -in "$work/demo.pfx" -nocerts -nodes -passin pass:demo-secret \
  -out "$work/pfx-key.pem" 2>/dev/null
printf '\n$ base64 -d envelope.b64 | openssl cms -decrypt -inform DER -inkey <key from demo.pfx> | iconv -f UTF-16LE\n'
base64 -d "$work/envelope.b64" | openssl cms -decrypt -inform DER -inkey "$work/pfx-key.pem" |
  iconv -f UTF-16LE -t UTF-8; echo
iconv -f UTF-8 -t UTF-16LE < "$work/plain.txt" |
  openssl cms -encrypt -binary -aes256 -outform DER "$work/cert.pem" | base64 -w0 > "$work/foreign.b64"
printf 'dialog 202\nbrowse "%s"\ntype password demo-secret\npress ok\n' "$work/demo.pfx" \
  > "$work/pick-pfx.script"
echo "foreign.b64: openssl cms -encrypt -aes256 of the UTF-16 text; its key is only in demo.pfx,"
echo "so decryption asks for the file in dialog 202."
echo "script: $(tr '\n' ';' < "$work/pick-pfx.script")"
QUORVANT_DIALOGS=scripted QUORVANT_DIALOG_SCRIPT="$work/pick-pfx.script" \
  step decrypt "$work/foreign.b64"
QUORVANT_DIALOGS=none step decrypt "$work/foreign.b64"
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
step cert "$work/cert.pem"
step store add MY "$work/cert.pem"
step call GetIECertCount --then GetIECertSubject 1 --then GetIECertFinger 1 \
  --then GetIECertNotAfter 1
step store list MY
step store delete MY 1

echo; echo "== PKCS #12 files and the certificate filter"
echo demo-secret | step pfx info "$work/demo.pfx" --password-stdin
echo wrong-password | step pfx info "$work/demo.pfx" --password-stdin
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
# The page's user has a certificate with its key in MY: signer.pfx, imported.
echo sign-secret | "$q" pfx import "$work/signer.pfx" --password-stdin >/dev/null
printf '\n$ (a page of https://bank.example: approve the site, Hash, SelectSigner, SignPkcs7, ExportMobileFromIE)\n'
QUORVANT_DIALOGS=scripted QUORVANT_DIALOG_SCRIPT="$work/bridge.script" \
QUORVANT_DIALOG_LOG="$work/bridge-dialogs.log" /usr/bin/python3 - build/bin/quorvant-bridge <<'PY' || true
import json, struct, subprocess, sys
messages = [{"connect": "https://bank.example"},
            {"id": 1, "method": "Hash", "args": ["abc", 3]},
            {"id": 2, "method": "SelectSigner", "args": ["S_CN=王小明", 0x108, 0]},
            {"id": 3, "method": "SignPkcs7", "args": ["付款 1000 元給 Bob", 0]},
            {"id": 4, "method": "ExportMobileFromIE", "args": ["", "pw", 0, 0]}]
stdin = b"".join(struct.pack("=I", len(b)) + b
                 for b in (json.dumps(m, ensure_ascii=False).encode() for m in messages))
out = subprocess.run([sys.argv[1], "chrome-extension://dponbioakojdldlefcgeciogjipojfca/"],
                     input=stdin, capture_output=True).stdout
while out:
    (n,) = struct.unpack("=I", out[:4])
    reply = out[4:4 + n].decode()
    print("host:", reply if len(reply) <= 160 else reply[:160] + "...")
    out = out[4 + n:]
PY
echo "dialogs the user saw:"; cat "$work/bridge-dialogs.log"
"$q" store delete MY 1 >/dev/null
step reg query 'HKCU\Software\MORL\QuorvantATL\Bridge\Origins'
echo; echo "== The automation control, registered for this user"
step regsvr
step reg query 'HKCR\CLSID\{6E1C2A90-3D47-4B8E-9F15-7A2C51E08D34}' /s
echo; echo "== Result codes"
printf '\n$ quorvant errors | head -5\n'
"$q" errors | sed -n 1,5p
