#!/usr/bin/env bash
# The tool's commands other than perf, one group each: the version and the
# identity as JSON, the registry store's keys and values, result codes, and a
# module that cannot be loaded. The registry store is a private one.
# usage: tool_test.sh TQBS
set -euo pipefail
tqbs=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TQ_REGISTRY_ROOT="$work/registry"
fail() { echo "tool_test: $*" >&2; exit 1; }

expect() {  # expect CODE ARGS...: runs the tool; $out and $err hold what it wrote
    local code=$1
    shift
    local rc=0
    out=$("$tqbs" "$@" 2>"$work/err") || rc=$?
    err=$(cat "$work/err")
    [ "$rc" -eq "$code" ] || fail "tqbs $*: exit code $rc, not $code; $err"
}
holds() {  # holds TEXT PATTERN: TEXT has a line matching the extended regular expression
    grep -Eq -- "$2" <<<"$1" || fail "no match for '$2' in: $1"
}

# --version and -V: the tool's numbers and the library's identity, which info
# --json shows as one object.
expect 0 info
module=$(sed -n 's/^module: *//p' <<<"$out")
description=$(sed -n 's/^description: *//p' <<<"$out")
version=$(sed -n 's/^version: *//p' <<<"$out")
for option in --version -V; do
    expect 0 "$option"
    holds "$out" "^tqbs [0-9]+(\.[0-9]+){4}$"
    holds "$out" "^library $module $version \($description, built "
done
expect 2 --version extra
expect 0 info --json
[ "$(wc -l <<<"$out")" -eq 1 ] || fail "info --json: not one line: $out"
holds "$out" "^\{\"module\":\"$module\",\"description\":\"$description\",\"version\":\[${version//./,}\],\"built\":\"[^\"]+\",\"compiler\":\"[^\"]+\",\"compiler_version\":[0-9]+,\"sources\":\"[^\"]+\"\}$"

# registry: one KEY argument, typed values, subkeys and values of one name,
# default values, whole keys deleted, and every failure with its reason.
product="SOFTWARE\\\\Wow6432Node\\\\Quelmar\\\\Tessaloquin"
expect 2 registry set Server Port
holds "$err" "missing arguments"
[ ! -e "$TQ_REGISTRY_ROOT" ] || fail "registry set without VALUE wrote to the store"
expect 2 registry set Server Net Port 5432  # the old form, subkeys as arguments
holds "$err" "too many arguments"
expect 2 registry set Server Port 5432x --type dword
holds "$err" "'5432x' is not a number for a dword"
expect 2 registry set Server Port 1 --type qword
holds "$err" "unknown type 'qword'"
expect 2 registry list --recursive
holds "$err" "unknown option '--recursive'"
expect 0 registry set Server Port 0x1538 --type=dword
expect 0 registry set 'Server\Net' Host db1
expect 0 registry set Server Net "beside the subkey"
expect 0 registry set Server "" "the de	fault"
expect 0 registry set -- Server Opt --text
expect 0 registry get Server Port
[ "$out" = 5432 ] || fail "dword read as '$out'"
expect 0 registry get Server ""
[ "$out" = "the de	fault" ] || fail "default value read as '$out'"
expect 0 registry list Server
[ "$out" = "$(printf 'key\tNet\nstring\t\tthe de\\tfault\nstring\tNet\tbeside the subkey\nstring\tOpt\t--text\ndword\tPort\t5432')" ] ||
    fail "registry list Server: $out"
expect 1 registry get Server Missing
holds "$err" "the value 'Missing' of $product\\\\Server: not found"
expect 1 registry get Nowhere Port
holds "$err" "the key $product\\\\Nowhere: not found"
expect 2 registry set 'a/b' Port 1
holds "$err" "the name 'a/b' is refused"
expect 2 registry get Server ..
holds "$err" "the name '..' is refused"
expect 2 registry set Server "$(printf 'n%.0s' {1..300})" 1
holds "$err" "refused: a name is longer than the file system allows"
expect 1 registry delete 'Server\Port'
holds "$err" "'Port' is a value; tqbs registry delete 'Server' 'Port' deletes it"
# Values of the other types, as other programs write them into the store (a
# file "\x01NAME": "TQRV", the type, the bytes), and control characters, are
# listed one line each.
expect 0 registry set Typed Ctl "$(printf 'a\001b')"
typed="$TQ_REGISTRY_ROOT/SOFTWARE/Wow6432Node/Quelmar/Tessaloquin/Typed/"$'\x01'
printf 'TQRV\003\0\0\0\001\253' >"${typed}Blob"
printf 'TQRV\002\0\0\0%%HOME%%/x\0' >"${typed}Path"
expect 0 registry list Typed
[ "$out" = "$(printf 'binary\tBlob\t01ab\nstring\tCtl\ta\\x01b\nexpand\tPath\t%%HOME%%/x')" ] ||
    fail "registry list Typed: $out"
expect 0 registry delete Typed
expect 0 registry delete Server Net
expect 0 registry get 'Server\Net' Host  # the subkey stays
expect 2 registry delete ""
expect 0 registry delete Server
expect 0 registry list
[ -z "$out" ] || fail "registry delete Server left: $out"
expect 1 registry delete Server
holds "$err" "the key $product\\\\Server: not found"
if [ "$(id -u)" -ne 0 ]; then  # permissions do not bind root
    expect 0 registry set Locked V old
    chmod 555 "$TQ_REGISTRY_ROOT/SOFTWARE/Wow6432Node/Quelmar/Tessaloquin/Locked"
    expect 1 registry set Locked V new
    holds "$err" "the value 'V' of $product\\\\Locked: permission denied"
    chmod 755 "$TQ_REGISTRY_ROOT/SOFTWARE/Wow6432Node/Quelmar/Tessaloquin/Locked"
fi

# error: -- ends the options, numbers beyond 32 bits are out of range, a
# search holds all its words, --all lists the catalogue.
expect 0 error -- -2002
holds "$out" "^ -2002  One of the parameters passed to this function is not valid\.$"
expect 2 error 2147483648
holds "$err" "'2147483648' is out of range"
expect 2 error -- -99999999999999999999
holds "$err" "out of range"
expect 2 error --frobnicate
holds "$err" "unknown option '--frobnicate'"
expect 2 error 7 12x
holds "$err" "'12x' is not a decimal result code"
[ -z "$out" ] || fail "error with a bad code printed: $out"
expect 2 error --all --search disk
holds "$err" "give --search or --all, once"
expect 2 error --all 2034
holds "$err" "--all takes no arguments"
expect 1 error 2034 123456
holds "$out" "^  2034  The disk is nearly full\.$"
holds "$out" "^123456  \(no entry in the catalogue; shown as \"[^\"]+\"\)$"
expect 0 error --search DISK nearly
[ "$out" = "  2034  The disk is nearly full." ] || fail "search of two words: $out"
expect 1 error --search DISK nosuchword  # no entry holds both words
[ -z "$out" ] || fail "a search without a match printed: $out"
expect 0 error --all
holds "$out" "^ -2030  "
holds "$out" "^ -3099\.\.-3001  To get the OQL-Errors"
[ "$(wc -l <<<"$out")" -gt 300 ] || fail "error --all lists $(wc -l <<<"$out") entries"

# module: the library itself, found beside the tool's library, describes
# itself as info does; a module that cannot be loaded names each place
# searched and why; a module without a description says so.
expect 0 module path "$module"
holds "$out" "^/.*/$module\.so$"
library=$out
expect 0 module describe "$module"
holds "$out" "^path: +$library$"
holds "$out" "^module: +$module$"
holds "$out" "^version: +$version$"
mkdir "$work/modules" "$work/bin"
printf 'defaultModulePath = %s\n' "$work/modules" >"$work/config"
expect 1 module describe --config "$work/config" tq_nosuch
holds "$err" "^  1\. defaultModulePath: $work/modules/tq_nosuch\.so: .*No such file"
holds "$err" "^  2\. the basics library's directory: /.*/tq_nosuch\.so: .*No such file"
holds "$err" "^  3\. the dynamic linker's search: tq_nosuch\.so: .*No such file"
holds "$err" "^  4\. PATH: no tq_nosuch\.so in its directories$"
echo "not a library" >"$work/bin/tq_junk.so"
PATH="$work/bin:$PATH" expect 1 module path tq_junk
holds "$err" "^  1\. defaultModulePath: not set$"
holds "$err" "^  4\. PATH: $work/bin/tq_junk\.so: .*(too short|invalid ELF)"
libc=$(ldd "$tqbs" | awk '$1 ~ /^libc\.so/ { print $3 }')
ln -s "$libc" "$work/modules/tq_plain.so"
expect 1 module describe --config "$work/config" tq_plain
holds "$err" "does not describe itself \(no KvDescribeDll\)"
expect 2 module describe --config
holds "$err" "--config needs a file"
expect 2 module describe --config "$work/nothing" "$module"
holds "$err" "cannot read the key file"
expect 2 module path "$module" tq_other
holds "$err" "give one module name"
echo "tool_test: all groups pass"
