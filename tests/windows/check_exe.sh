#!/bin/sh
# check_exe.sh VESK_EXE OBJDUMP VERSION: vesk.exe is a 64-bit GUI program that
# needs only DLLs every Windows has, and carries its icon and a version
# record of VERSION, and a manifest that declares per-monitor DPI awareness (v2).
set -eu
exe=$1 objdump=$2 version=$3
system_dlls="kernel32.dll user32.dll gdi32.dll winmm.dll msvcrt.dll"
fail() { echo "check_exe: $*" >&2; exit 1; }

headers=$("$objdump" -p "$exe")
echo "$headers" | grep -q '^Magic.*020b' || fail "not a 64-bit (PE32+) program"
echo "$headers" | grep -q 'Subsystem.*(Windows GUI)' || fail "not the GUI subsystem"
for dll in $(echo "$headers" | sed -n 's/.*DLL Name: //p' | tr 'A-Z' 'a-z'); do
    case " $system_dlls " in *" $dll "*) ;; *) fail "needs $dll, not a system DLL" ;; esac
done
resources=$(wrestool -l "$exe")
echo "$resources" | grep -q 'type=group_icon' || fail "no icon"
echo "$resources" | grep -q 'type=version' || fail "no version record"
wrestool -x --raw --type=16 "$exe" | iconv -f UTF-16LE -t UTF-8 2>/dev/null |
    tr -c '[:print:]' ' ' | grep -q "ProductVersion *$version" ||
    fail "the version record does not say $version"
manifest=$(wrestool -x --raw --type=24 "$exe" | tr -d '\r\n')
echo "$manifest" | grep -q '<dpiAwareness[^>]*>PerMonitorV2</dpiAwareness>' &&
    echo "$manifest" | grep -q '<dpiAware[^>]*>true/pm</dpiAware>' ||
    fail "the manifest does not declare per-monitor DPI awareness (v2)"
echo "check_exe: $exe is fine"
