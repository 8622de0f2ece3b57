#!/usr/bin/env bash
# `quorvant regsvr` end to end on a fresh per-user registry: the entries of
# the control under HKEY_CLASSES_ROOT as `reg query /s` lists them, another
# copy of the library registering its own path, machine-wide registration,
# and unregistration keeping HKCR\CLSID.
#
# usage: regsvr_test.sh QUORVANT_TOOL LIBRARY
set -uo pipefail
q=$1
lib=$2
source "$(dirname "$0")/../support/expect.sh"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export QUORVANT_HOME=$tmp/home
export QUORVANT_HKLM_DB=$tmp/machine-registry.db
clsid='{6E1C2A90-3D47-4B8E-9F15-7A2C51E08D34}'
# The tool loads the library by its SONAME from the library's directory.
module="$(cd "$(dirname "$lib")" && pwd -P)/libQuorvantATL.so.4"
ok=$'result: 0 成功(0)'
notFound="ERROR: The system was unable to find the specified registry key or value.
result: 5001 一般錯誤(5001)
system error: 0x00000002 The system cannot find the file specified."

classEntries() {  # the CLSID key as registered for module $1 under root $2
  cat <<END

$2\\CLSID\\$clsid
    (Default)    REG_SZ    QuorvantATL CAPI 4.2 Class

$2\\CLSID\\$clsid\\ProgID
    (Default)    REG_SZ    QuorvantATL.ZEBCapi.1

$2\\CLSID\\$clsid\\VersionIndependentProgID
    (Default)    REG_SZ    QuorvantATL.ZEBCapi

$2\\CLSID\\$clsid\\Programmable

$2\\CLSID\\$clsid\\InprocServer32
    (Default)    REG_SZ    $1
    ThreadingModel    REG_SZ    Apartment

$2\\CLSID\\$clsid\\Control

$2\\CLSID\\$clsid\\Insertable

$2\\CLSID\\$clsid\\ToolboxBitmap32
    (Default)    REG_SZ    $1, 102

$2\\CLSID\\$clsid\\MiscStatus
    (Default)    REG_SZ    0

$2\\CLSID\\$clsid\\MiscStatus\\1
    (Default)    REG_SZ    131473

$2\\CLSID\\$clsid\\TypeLib
    (Default)    REG_SZ    {A7D05B12-8C39-4E61-B2F4-1F6B93C0E725}

$2\\CLSID\\$clsid\\Version
    (Default)    REG_SZ    1.0

$2\\CLSID\\$clsid\\Implemented Categories

$2\\CLSID\\$clsid\\Implemented Categories\\{59FB2056-D625-48D0-A944-1A85B5AB2640}
$ok
END
}

expect "register" "DllRegisterServer (register) in libQuorvantATL.so: HKEY_CURRENT_USER\\Software\\Classes
$ok" 0 -- "$q" regsvr
expect "class entries" "$(classEntries "$module" HKEY_CLASSES_ROOT)" 0 -- \
  "$q" reg query "HKCR\\CLSID\\$clsid" /s
expect "written on the user's side" "$(classEntries "$module" HKEY_CURRENT_USER\\Software\\Classes)" 0 -- \
  "$q" reg query "HKCU\\Software\\Classes\\CLSID\\$clsid" /s
expect "versioned ProgID" "
HKEY_CLASSES_ROOT\\QuorvantATL.ZEBCapi.1
    (Default)    REG_SZ    QuorvantATL CAPI 4.2 Class

HKEY_CLASSES_ROOT\\QuorvantATL.ZEBCapi.1\\CLSID
    (Default)    REG_SZ    $clsid
$ok" 0 -- "$q" reg query 'HKCR\QuorvantATL.ZEBCapi.1' /s
expect "version-independent ProgID" "
HKEY_CLASSES_ROOT\\QuorvantATL.ZEBCapi
    (Default)    REG_SZ    QuorvantATL CAPI 4.2 Class

HKEY_CLASSES_ROOT\\QuorvantATL.ZEBCapi\\CLSID
    (Default)    REG_SZ    $clsid

HKEY_CLASSES_ROOT\\QuorvantATL.ZEBCapi\\CurVer
    (Default)    REG_SZ    QuorvantATL.ZEBCapi.1
$ok" 0 -- "$q" reg query 'HKCR\QuorvantATL.ZEBCapi' /s
expect "type library" "
HKEY_CLASSES_ROOT\\TypeLib\\{A7D05B12-8C39-4E61-B2F4-1F6B93C0E725}\\1.0\\409\\win64
    (Default)    REG_SZ    $module
$ok" 0 -- \
  "$q" reg query 'HKCR\TypeLib\{A7D05B12-8C39-4E61-B2F4-1F6B93C0E725}\1.0\409\win64' /s

# Another copy of the library registers itself, under its own path.
cp "$lib" "$tmp/copy.so"
expect "register a copy" "DllRegisterServer (register) in $tmp/copy.so: HKEY_CURRENT_USER\\Software\\Classes
$ok" 0 -- "$q" regsvr "$tmp/copy.so"
expect "the copy's path" "
HKEY_CLASSES_ROOT\\CLSID\\$clsid\\InprocServer32
    (Default)    REG_SZ    $(cd "$tmp" && pwd -P)/copy.so
    ThreadingModel    REG_SZ    Apartment
$ok" 0 -- "$q" reg query "HKCR\\CLSID\\$clsid\\InprocServer32" /s

"$q" reg add 'HKCR\CLSID\{00000000-1111-2222-3333-444444444444}' /ve /d "another class" >/dev/null
expect "unregister" "DllUnregisterServer (unregister) in libQuorvantATL.so: HKEY_CURRENT_USER\\Software\\Classes
$ok" 0 -- "$q" regsvr -u
expect "no versioned ProgID" "$notFound" 1 -- "$q" reg query 'HKCR\QuorvantATL.ZEBCapi.1'
expect "no version-independent ProgID" "$notFound" 1 -- "$q" reg query 'HKCR\QuorvantATL.ZEBCapi'
expect "no class key" "$notFound" 1 -- "$q" reg query "HKCR\\CLSID\\$clsid"
expect "HKCR\\CLSID stays, with the other class" "
HKEY_CLASSES_ROOT\\CLSID

HKEY_CLASSES_ROOT\\CLSID\\{00000000-1111-2222-3333-444444444444}
$ok" 0 -- "$q" reg query 'HKCR\CLSID'
expect "no interface key" "$notFound" 1 -- "$q" reg query 'HKCR\Interface\{9B7E3C14-2F68-4A01-8D5C-E4D20A7B5F19}'
expect "unregister again" "DllUnregisterServer (unregister) in libQuorvantATL.so: HKEY_CURRENT_USER\\Software\\Classes
$ok" 0 -- "$q" regsvr -u

if [ "$(id -u)" = 0 ]; then
  expect "machine-wide" "DllInstall (register) in libQuorvantATL.so: HKEY_LOCAL_MACHINE\\Software\\Classes
$ok" 0 -- "$q" regsvr --machine
  expect "machine class entries" "$(classEntries "$module" HKEY_LOCAL_MACHINE\\Software\\Classes)" 0 -- \
    "$q" reg query "HKLM\\Software\\Classes\\CLSID\\$clsid" /s
  expect "seen through HKCR" "
HKEY_CLASSES_ROOT\\QuorvantATL.ZEBCapi.1\\CLSID
    (Default)    REG_SZ    $clsid
$ok" 0 -- "$q" reg query 'HKCR\QuorvantATL.ZEBCapi.1\CLSID'
  expect "machine-wide unregister" "DllInstall (unregister) in libQuorvantATL.so: HKEY_LOCAL_MACHINE\\Software\\Classes
$ok" 0 -- "$q" regsvr -u --machine
  expect "machine class key gone" "$notFound" 1 -- "$q" reg query "HKLM\\Software\\Classes\\CLSID\\$clsid"
else
  expect "machine-wide needs root" "DllInstall (register) in libQuorvantATL.so: HKEY_LOCAL_MACHINE\\Software\\Classes
result: 0x80070005 Access is denied." 1 -- "$q" regsvr --machine
fi

expect "no such library" "result: 0x8007007E The specified module could not be found." 0 -- \
  sh -c "\"$q\" regsvr \"$tmp/none.so\" 2>/dev/null | tail -n 1"
expect "usage" "usage: quorvant regsvr [-u] [--machine] [LIBRARY]" 64 -- "$q" regsvr --bogus

printf '%d passed, %d failed\n' "$pass" "$fail"
[ "$fail" = 0 ]
