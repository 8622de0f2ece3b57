#!/usr/bin/env bash
# The quorvant tool end to end: calls through the exports by name, integer
# parsing (decimal and hex), result and code lines, usage errors.
set -uo pipefail
q=$1
source "$(dirname "$0")/../support/expect.sh"

expect version $'4.2.0.0\nresult: 0 成功(0)' 0 -- "$q" version
expect "call GetDllVersion" $'4.2.0.0\nresult: 0 成功(0)' 0 -- "$q" call GetDllVersion
expect "GetPortEx" $'65537\nresult: 0 成功(0)' 0 -- "$q" call GetPortEx
expect "password range" $'0\nresult: 0 成功(0)' 0 -- "$q" call PresetPasswdLengthRange 0xC -4
expect "unknown export" "quorvant: no export named NoSuchExport" 64 -- "$q" call NoSuchExport
expect "wrong arity" "quorvant: Hash expects 2 argument(s): text (text, int)" 64 -- "$q" call Hash abc
expect "bad integer" "quorvant: Hash an integer argument is not a 32-bit number: text (text, int)" 64 -- "$q" call Hash abc 0x1FFFFFFFF
expect "default message" $'0\nresult: 0 成功(0)' 0 -- "$q" call SetDefaultPfxFileName ""

expect "hash ansi md5" $'900150983CD24FB0D6963F7D28E17F72\nresult: 0 成功(0)' 0 -- "$q" hash --md5 --ansi abc
expect "hash utf-16 md5" $'CE1473CF80C6B3FDA8E3DFC006ADC315\nresult: 0 成功(0)' 0 -- "$q" hash --md5 abc
expect "hash empty" $'\nresult: 5005 錯誤的參數(5005)' 1 -- "$q" hash ""
tmp=$(mktemp -d)
printf 'abc' > "$tmp/abc.txt"
: > "$tmp/empty.txt"
expect "hash-file" $'BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD\nresult: 0 成功(0)' 0 -- "$q" hash-file --sha256 "$tmp/abc.txt"
expect "hash-file empty" $'\nresult: 1002 檔案無法讀取(1002)' 1 -- "$q" hash-file "$tmp/empty.txt"
expect "hash-file missing" $'\nresult: 5902 File Not Found(5902)' 1 -- "$q" hash-file "$tmp/none"
rm -rf "$tmp"

# The registry store through `reg`, and the same values through the exports.
expect "reg add dword" $'The operation completed successfully.\nresult: 0 成功(0)' 0 -- "$q" reg add 'HKCU\Software\CliTest' /v n /t REG_DWORD /d 0x10
expect "reg add string" $'The operation completed successfully.\nresult: 0 成功(0)' 0 -- "$q" reg add 'HKCU\Software\CliTest' /v s /d 中文
expect "reg query" $'\nHKEY_CURRENT_USER\\Software\\CliTest\n    n    REG_DWORD    0x10\n    s    REG_SZ    中文\nresult: 0 成功(0)' 0 -- "$q" reg query 'HKCU\Software\CliTest'
expect "read through the export" $'16\nresult: 0 成功(0)' 0 -- "$q" call RegReadHKCU 'Software\CliTest\n'
expect "string through the export" $'中文\nresult: 0 成功(0)' 0 -- "$q" call RegReadHKCU 'Software\CliTest\s'
expect "reg delete" $'The operation completed successfully.\nresult: 0 成功(0)' 0 -- "$q" reg delete 'HKCU\Software\CliTest' /f
expect "reg query deleted" $'ERROR: The system was unable to find the specified registry key or value.\nresult: 5001 一般錯誤(5001)\nsystem error: 0x00000002 The system cannot find the file specified.' 1 -- "$q" reg query 'HKCU\Software\CliTest'

# The certificate stores through `store` and the engine's view of MY.
data=$(cd "$(dirname "$0")/../certs/data" && pwd)
expect "store list empty" $'MY: 0 certificates\nresult: 0 成功(0)' 0 -- "$q" store list
expect "store add" $'MY: added as 1\n[1] C=TW, O=測試銀行, OU=營業部, CN=王小明\n    Issuer:      C=TW, O=測試憑證中心, CN=測試憑證中心 Root CA\n    Serial:      008F12\n    Valid:       2013/06/24 11:31:15 - 2016/01/01 00:00:00\n    Thumbprint:  4B73E67ABC1F73F894EF3CC3182B7BC67A742E37\nresult: 0 成功(0)' 0 -- env TZ=Asia/Taipei "$q" store add MY "$data/chinese_bmp.der"
expect "count through the export" $'1\nresult: 0 成功(0)' 0 -- "$q" call GetIECertCount
expect "cert" "Subject CN:  王小明" 0 -- sh -c "\"$q\" cert \"$data/chinese_bmp.der\" | grep 'Subject CN'"
expect "store delete" $'MY: deleted 1 C=TW, O=測試銀行, OU=營業部, CN=王小明\nresult: 0 成功(0)' 0 -- "$q" store delete 1
expect "store delete beyond" $'quorvant: MY holds 0 certificates\nresult: 5005 錯誤的參數(5005)' 1 -- "$q" store delete MY 1

expect "calls share one engine" $'\nresult: 5005 錯誤的參數(5005)\n\n5005\nresult: 5005 錯誤的參數(5005)' 1 -- "$q" call Hash "" 0 --then GetErrorCode
expect "a failing last call sets the status" $'0\nresult: 0 成功(0)\n\n\nresult: 5005 錯誤的參數(5005)' 1 -- "$q" call GetErrorCode --then Hash "" 0

# PFX files and the certificate filter.
pfx=$(mktemp -d)
bash "$(dirname "$0")/../pfx/data/make_pfx_files.sh" "$pfx" >/dev/null
expect "pfx info" "    Private key: yes" 0 -- sh -c "echo secret | \"$q\" pfx info \"$pfx/default.pfx\" --password-stdin | grep 'Private key'"
expect "pfx info from a descriptor" "    Private key: yes" 0 -- sh -c "\"$q\" pfx info \"$pfx/default.pfx\" --password-fd 3 3<<EOF | grep 'Private key'
secret
EOF"
expect "pfx info warns of a password on the command line" "quorvant: warning: a password on the command line is visible to other users; use --password-stdin or --password-fd" 0 -- sh -c "\"$q\" pfx info \"$pfx/default.pfx\" secret 2>&1 >/dev/null"
expect "pfx info result" "result: 0 成功(0)" 0 -- sh -c "\"$q\" pfx info \"$pfx/nopass.pfx\" | tail -n 1"
expect "pfx wrong password" $'result: 5208 PKCS12 密碼錯誤(5208)\nsystem error: 0x00000056 The specified network password is not correct.' 1 -- sh -c "echo wrong | \"$q\" pfx info \"$pfx/default.pfx\" --password-stdin"
expect "pfx not a pfx" "result: 5207 PKCS12檔案格式錯誤(5207)" 0 -- sh -c "\"$q\" pfx info \"$pfx/notes.pfx\" | head -n 1"
expect "pfx empty file" "result: 5401 憑證交換檔讀取失敗(5401)" 0 -- sh -c "\"$q\" pfx info \"$pfx/zero.pfx\" | head -n 1"
cp "$pfx/default.pfx" "$pfx/changed.pfx"
expect "pfx passwd" "result: 0 成功(0)" 0 -- sh -c "printf 'secret\\nrenewed\\n' | \"$q\" pfx passwd \"$pfx/changed.pfx\" --password-stdin"
expect "pfx passwd wrong old" "result: 5208 PKCS12 密碼錯誤(5208)" 0 -- sh -c "printf 'secret\\nx\\n' | \"$q\" pfx passwd \"$pfx/changed.pfx\" --password-stdin | head -n 1"
expect "pfx query" $'certificate: O=Bank, CN=Pfx Holder\nresult: 0 成功(0)' 0 -- sh -c "echo renewed | \"$q\" pfx query \"$pfx/changed.pfx\" --password-stdin"
"$q" store add MY "$pfx/cert.pem" >/dev/null
expect "filter finds nothing in MY" "result: 5010 無法在憑證區(或憑證檔)中,找到指定憑證(5010)" 0 -- sh -c "\"$q\" filter 'S_CN=Nobody' | head -n 1"
expect "filter skips a self-signed (authority) certificate" "result: 5010 無法在憑證區(或憑證檔)中,找到指定憑證(5010)" 0 -- sh -c "\"$q\" filter '' | head -n 1"
expect "filter usage" $'quorvant: --flags needs a value\nusage: quorvant pfx info FILE [--password-stdin | --password-fd N]' 0 -- sh -c "\"$q\" filter x --flags 2>&1 | head -n 2"
expect "unknown store" $'quorvant: no store named \'nope\': the stores are MY, CA and ROOT\nresult: 5005 錯誤的參數(5005)' 1 -- "$q" store list nope
expect "unreadable file" $'quorvant: cannot read /nonexistent/c.der: The system cannot find the file specified.\nresult: 1002 檔案無法讀取(1002)\nsystem error: 0x00000002 The system cannot find the file specified.' 1 -- "$q" cert /nonexistent/c.der
bash "$(dirname "$0")/../pfx/data/make_filter_certs.sh" "$pfx/leaves" >/dev/null
"$q" store add MY "$pfx/leaves/alice.der" >/dev/null
"$q" store add MY "$pfx/leaves/wang.der" >/dev/null
expect "filter selects" $'O=Bank, CN=Alice\nC=TW, O=Example Bank, OU=Retail, CN=Alice Wang\nresult: 0 成功(0)' 0 -- sh -c "\"$q\" filter 'S_CN=lic' --flags 8 | sed 's/^[0-9A-F]\{40\} //'"
expect "filter by usage" "result: 5017 憑證用途(加解密,簽驗章)不合適(5017)" 0 -- sh -c "\"$q\" filter '' --key-usage 0x20 | tail -n 2 | head -n 1"
for _ in 1 2 3; do "$q" store delete MY 1 >/dev/null; done
rm -rf "$pfx"

# encrypt and decrypt: the text from a file or standard input, the result
# to standard output or --out as it is.
key=0123456789ABCDEFFEDCBA9876543210
ctmp=$(mktemp -d)
printf 'abc' > "$ctmp/abc.txt"
expect "encrypt --key" $'mms+aMMkXGI=\nresult: 0 成功(0)' 0 -- "$q" encrypt --key $key --ansi "$ctmp/abc.txt"
expect "encrypt --out that cannot be written" $'quorvant: cannot write /nonexistent/env.b64: No such file or directory\nresult: 1003 檔案無法寫入(1003)' 1 -- "$q" encrypt --key $key --ansi --out /nonexistent/env.b64 "$ctmp/abc.txt"
expect "decrypt --key stdin" $'abc\nresult: 0 成功(0)' 0 -- sh -c "printf mms+aMMkXGI= | \"$q\" decrypt --key $key --ansi"
expect "decrypt wrong key" $'\nresult: 9005 解密錯誤(9005)\nsystem error: 0x80090005 Bad Data.\r\n(0x80090005)' 1 -- sh -c "printf mms+aMMkXGI= | \"$q\" decrypt --key ${key/0/1} --ansi"
expect "encrypt needs one of --key and --to" "$(printf 'usage: quorvant encrypt --key HEX|--to CERT [--alg N] [--ansi] [--out FILE] [INPUT]\n       quorvant decrypt [--key HEX] [--alg N] [--ansi] [--out FILE] [INPUT]')" 64 -- "$q" encrypt "$ctmp/abc.txt"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$ctmp/k.pem" -out "$ctmp/c.pem" -subj /CN=cli -days 2 2>/dev/null
openssl x509 -in "$ctmp/c.pem" -outform DER -out "$ctmp/c.der"
for cert in c.pem c.der; do
  "$q" encrypt --to "$ctmp/$cert" --alg 1 --ansi --out "$ctmp/env.b64" "$ctmp/abc.txt" >/dev/null
  expect "envelope to $cert" "abc" 0 -- sh -c "base64 -d '$ctmp/env.b64' | openssl cms -decrypt -provider legacy -provider default -inform DER -inkey '$ctmp/k.pem'"
done
expect "envelope without a key, no dialog" $'\nresult: 5002 配置記憶體發生錯誤(5002)' 1 -- env QUORVANT_DIALOGS=none "$q" decrypt "$ctmp/env.b64"
rm -rf "$ctmp"
# Signer selection and signing: refusals that need no signer.
expect "select finds nothing" "result: 5010 無法在憑證區(或憑證檔)中,找到指定憑證(5010)" 0 -- sh -c "\"$q\" select 'S_CN=Nobody' --select-flags 0x108 | head -n 1"
expect "sign without a signer" "result: 5010 無法在憑證區(或憑證檔)中,找到指定憑證(5010)" 0 -- sh -c "\"$q\" sign --filter 'S_CN=Nobody' --select-flags 0x108 abc | head -n 1"
expect "sign asks for a PFX file it cannot show" "result: 5002 配置記憶體發生錯誤(5002)" 1 -- "$q" sign --select-flags 0x200 abc
expect "sign usage" "usage: quorvant select [FILTER] [--select-flags N] [--key-usage N] [--date D]" 0 -- sh -c "\"$q\" sign --pkcs7 2>&1 | head -n 1"

# A PFX signer picked in the scripted file dialog (202); the signature
# verifies with openssl.
sg=$(mktemp -d)
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$sg/ca.key" -out "$sg/ca.pem" -days 30 \
  -subj "/CN=CLI CA" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout "$sg/k.pem" -out "$sg/r.csr" -subj "/CN=CLI Signer" 2>/dev/null
openssl x509 -req -in "$sg/r.csr" -CA "$sg/ca.pem" -CAkey "$sg/ca.key" -set_serial 9 -days 30 \
  -out "$sg/c.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$sg/k.pem" -in "$sg/c.pem" -out "$sg/s.pfx" -passout pass:cli-secret
printf 'dialog 202\nbrowse "%s"\ntype password "cli-secret"\npress ok\n' "$sg/s.pfx" >"$sg/script"
QUORVANT_DIALOGS=scripted QUORVANT_DIALOG_SCRIPT="$sg/script" "$q" sign --flags 0x100 \
  --select-flags 0x200 abc >"$sg/out"
head -n 1 "$sg/out" | base64 -d >"$sg/sig"
printf 'a\0b\0c\0' >"$sg/content"
openssl x509 -in "$sg/c.pem" -pubkey -noout >"$sg/pub.pem"
expect "sign with a scripted PFX dialog" $'subject: CN=CLI Signer\nresult: 0 成功(0)' 0 -- sh -c "grep -v '^signer\\|^pfx\\|^[A-Za-z0-9+/=]*$' \"$sg/out\""
expect "that signature verifies" "Verified OK" 0 -- openssl dgst -sha1 -verify "$sg/pub.pem" -signature "$sg/sig" "$sg/content"
rm -rf "$sg"
# Enrolment's gates and the reply reader through `enrol`.
expect "enrol key size" $'\nresult: 5301 金鑰長度錯誤(5301)' 1 -- "$q" enrol request Alice --bits 3072
enrol=$(mktemp -d)
printf -- '-----BEGIN PKCS7-----\nMIIB\n' > "$enrol/unclosed.p7b"
expect "enrol accept unclosed armour" $'5008\nresult: 5008 Base64 編碼錯誤(5008)' 1 -- "$q" enrol accept "$enrol/unclosed.p7b"
rm -rf "$enrol"
# The component's own settings below the records' key (the bridge's approved
# sites) are not listed as pending keys; a damaged record is.
"$q" reg add 'HKCU\Software\MORL\QuorvantATL\Bridge\Origins' /v https://bank.example /t REG_DWORD /d 1 >/dev/null
"$q" reg add 'HKCU\Software\MORL\QuorvantATL\DAMAGED-RECORD' /v x /d y >/dev/null
expect "enrol pending skips settings" $'DAMAGED-RECORD  ?  key spec 0  CN=?' 0 -- sh -c "\"$q\" enrol pending | grep -e Bridge -e DAMAGED"
"$q" reg delete 'HKCU\Software\MORL\QuorvantATL\DAMAGED-RECORD' /f >/dev/null 2>&1
expect "enrol usage" "usage: quorvant enrol request CN [--bits N] [--flags N] [--pair]" 0 -- sh -c "\"$q\" enrol 2>&1 | head -n 1"

# Every command that reads a file, over paths that are not small regular
# files: each call runs under a timeout, so a read that blocks fails instead
# of hanging the test, and under an address-space limit far below the sparse
# file's size, so a read that allocates what the file claims fails too. The
# status and the result line; the good files are made by openssl.
reads=$(mktemp -d)
mkdir "$reads/dir"
mkfifo "$reads/fifo"  # never a writer
: > "$reads/empty"
truncate -s 600M "$reads/sparse"  # over every limit, on no disk
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$reads/k.pem" -out "$reads/c.pem" -subj /CN=reads \
  -days 2 2>/dev/null
openssl pkcs12 -export -inkey "$reads/k.pem" -in "$reads/c.pem" -out "$reads/good.pfx" -passout pass:secret
printf 'abc' > "$reads/plain.txt"
printf 'mms+aMMkXGI=' > "$reads/cipher.b64"  # abc under $key, as in the encrypt test above
cap=400000  # KiB: the tool needs about a quarter of it
if ldd "$q" | grep -qE 'lib(a|t)san'; then cap=unlimited; fi  # their shadow memory
read_check() {  # read_check NAME WANT_CODE STDIN -- COMMAND...
  local name=$1 want=$2 input=$3
  shift 4
  local out status line want_status=1
  out=$(ulimit -v "$cap"; env QUORVANT_HOME="$reads/home" timeout 20 "$@" <"$input" 2>/dev/null)
  status=$?
  line=$(printf '%s\n' "$out" | grep '^result: ' | tail -n 1)
  [ "$want" == 0 ] && want_status=0
  if [ "$(echo "$line" | cut -d' ' -f1-2)" == "result: $want" ] && [ "$status" == "$want_status" ]; then
    pass=$((pass + 1))
  else
    fail=$((fail + 1))
    printf 'FAILED: %s\n--- want result %s (status %s)\n--- got (status %s)\n%s\n' \
      "$name" "$want" "$want_status" "$status" "$(printf '%s\n' "$out" | tail -n 3)"
  fi
}
kinds=(dir zero fifo sparse empty good)
path_of() {  # path_of KIND GOOD_FILE
  case $1 in
    dir) echo "$reads/dir" ;; zero) echo /dev/zero ;; fifo) echo "$reads/fifo" ;;
    sparse) echo "$reads/sparse" ;; empty) echo "$reads/empty" ;; good) echo "$2" ;;
  esac
}
# COMMAND (FILE stands for the path) | GOOD FILE | codes for dir zero fifo sparse empty good.
# An empty certificate is no certificate (5040), empty text no argument (5005);
# a PFX over its limit is not one the component opens (5207); HashFile
# streams a regular file of any size; a reply whose request was never made
# here finds no pending record (5906).
while IFS='|' read -r command good codes; do
  read -r -a want <<<"$codes"
  for i in "${!kinds[@]}"; do
    file=$(path_of "${kinds[$i]}" "$reads/$good")
    read -r -a argv <<<"${command//FILE/$file}"
    read_check "$command on ${kinds[$i]}" "${want[$i]}" /dev/null -- "$q" "${argv[@]}"
  done
done <<TABLE
cert FILE|c.pem|1002 1002 1002 1002 5040 0
store add MY FILE|c.pem|1002 1002 1002 1002 5040 0
encrypt --key $key --ansi FILE|plain.txt|1002 1002 1002 1002 5005 0
decrypt --key $key --ansi FILE|cipher.b64|1002 1002 1002 1002 5005 0
encrypt --to FILE $reads/plain.txt|c.pem|1002 1002 1002 1002 5005 0
enrol accept FILE|c.pem|1002 1002 1002 1002 5005 5906
pfx info FILE secret|good.pfx|5401 5401 5401 5207 5401 0
hash-file FILE|plain.txt|1002 1002 1002 0 1002 0
TABLE
# The PFX operations of the engine, the password on standard input; then
# standard input itself, a pipe or a device, read up to the same limits.
printf 'secret\n' > "$reads/password"
for kind in "${kinds[@]}"; do
  want=$(case $kind in sparse) echo 5207 ;; good) echo 0 ;; *) echo 5401 ;; esac)
  read_check "pfx query on $kind" "$want" "$reads/password" -- \
    "$q" pfx query "$(path_of "$kind" "$reads/good.pfx")" --password-stdin
done
read_check "encrypt of endless standard input" 1002 /dev/zero -- "$q" encrypt --key $key --ansi
read_check "a password line without end" 1002 /dev/zero -- "$q" pfx query "$reads/good.pfx" --password-stdin
read_check "standard input from a file over the limit" 1002 "$reads/sparse" -- "$q" decrypt --key $key --ansi
read_check "standard input from a directory" 1002 "$reads/dir" -- "$q" decrypt --key $key --ansi
rm -rf "$reads"

errors=$("$q" errors)
lines=$(printf '%s\n' "$errors" | wc -l)
if [ "$lines" == 149 ] && printf '%s\n' "$errors" | grep -qx $'5005\t錯誤的參數(%d)' &&
   printf '%s\n' "$errors" | tail -n 2 | head -n 1 | grep -qx $'default\t錯誤碼未定義(%d) ' &&
   printf '%s\n' "$errors" | tail -n 1 | grep -qx 'result: 0 成功(0)'; then
  pass=$((pass + 1))
else
  fail=$((fail + 1))
  echo "FAILED: errors table ($lines lines)"
fi

# Help: to standard output with status 0, for the tool and every command,
# asked for either way; an unknown command's help is a usage error.
for command in call exports version errors hash hash-file reg store cert pfx filter help; do
  expect "help $command" "0 quorvant $command" 0 -- sh -c "out=\$(\"$q\" help $command 2>/dev/null); echo \$? \$(printf '%s' \"\$out\" | head -n 1 | cut -d' ' -f1-2)"
  expect "$command --help" "0 quorvant $command" 0 -- sh -c "out=\$(\"$q\" $command --help 2>/dev/null); echo \$? \$(printf '%s' \"\$out\" | head -n 1 | cut -d' ' -f1-2)"
done
expect "--help" "0 usage: quorvant" 0 -- sh -c "out=\$(\"$q\" --help 2>/dev/null); echo \$? \$(printf '%s' \"\$out\" | head -n 1 | cut -d' ' -f1-2)"
expect "help lists pfx and filter" "2" 0 -- sh -c "\"$q\" help | grep -cE '^  (pfx|filter) '"
expect "help explains the flag bits" "1" 0 -- sh -c "\"$q\" help filter | grep -c '0x08  match'"
expect "help of no such command" "quorvant: no command named nothing" 0 -- sh -c "\"$q\" help nothing 2>&1 >/dev/null | head -n 1"

echo "$pass passed, $fail failed"
[ "$fail" == 0 ]
