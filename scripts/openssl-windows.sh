#!/bin/sh
# Builds the OpenSSL DLLs that the Windows client loads at run time, from Debian's own source
# package, with the MinGW cross compilers, and prints the folder that holds the two DLLs.
#
#   scripts/openssl-windows.sh <win32|win64> [3|1.1]
#
# Series 3 (default) comes from bookworm, 1.1 from bullseye. The DLLs are cached outside the
# repository, keyed by the Debian version (revisions matter: builds from different revisions report
# the same version text), the target and the compiler version, so a second run takes seconds.
# The system's apt setup is never touched: a private source list and lists folder are used.
#
# Environment: TOVI_OPENSSL_CACHE (default /var/cache/tovipos-openssl), TOVI_OPENSSL_REFRESH=1 to
# refresh the private package lists (otherwise they are refreshed when older than a day).
set -eu

target=${1:-}
series=${2:-3}
case $target in
    win32) host=i686-w64-mingw32; configure_target=mingw; extra=no-asm ;;
    win64) host=x86_64-w64-mingw32; configure_target=mingw64; extra= ;;
    *) echo "usage: $0 <win32|win64> [3|1.1]" >&2; exit 2 ;;
esac
case $series in
    3) suite=bookworm; pattern='^3\.0\.' ;;
    1.1) suite=bullseye; pattern='^1\.1\.1' ;;
    *) echo "series must be 3 or 1.1" >&2; exit 2 ;;
esac

log() { echo "openssl-windows: $*" >&2; }

cache=${TOVI_OPENSSL_CACHE:-/var/cache/tovipos-openssl}
apt_dir=$cache/apt
mkdir -p "$apt_dir/lists/partial" "$apt_dir/archives/partial"

# Private deb-src list reusing the mirror of the system's own list (its first URIs line). Only the
# release suites: the security archive's lists can name sources that its pool does not hold.
system_list=/etc/apt/sources.list.d/debian.sources
main_uri=$(sed -n 's/^URIs: *//p' "$system_list" 2>/dev/null | sed -n 1p)
: "${main_uri:=http://deb.debian.org/debian}"
printf 'Types: deb-src\nURIs: %s\nSuites: bookworm bullseye\nComponents: main\nSigned-By: %s\n' \
    "$main_uri" /usr/share/keyrings/debian-archive-keyring.gpg >"$apt_dir/src.sources.new"
if ! cmp -s "$apt_dir/src.sources.new" "$apt_dir/src.sources" 2>/dev/null; then
    mv "$apt_dir/src.sources.new" "$apt_dir/src.sources"
    rm -rf "$apt_dir/stamp" "$apt_dir/lists"
    mkdir -p "$apt_dir/lists/partial"
else
    rm -f "$apt_dir/src.sources.new"
fi

set -- -o "Dir::Etc::SourceList=$apt_dir/src.sources" -o Dir::Etc::SourceParts=/dev/null \
    -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache::Archives=$apt_dir/archives" \
    -o APT::Sandbox::User=root

if [ "${TOVI_OPENSSL_REFRESH:-0}" = 1 ] || [ -z "$(find "$apt_dir/stamp" -mtime -1 2>/dev/null)" ]; then
    log "refreshing private source lists"
    apt-get "$@" -qq update >&2
    touch "$apt_dir/stamp"
fi

# Highest version of the series offered.
version=$(apt-cache "$@" showsrc openssl 2>/dev/null | sed -n 's/^Version: *//p' | grep -E "$pattern" | {
        best=
        while read -r v; do
            if [ -z "$best" ] || dpkg --compare-versions "$v" gt "$best"; then best=$v; fi
        done
        echo "$best"
    })
[ -n "$version" ] || { log "no openssl $series source offered by $suite"; exit 1; }

# What the client never calls, left out: it binds TLS as a client, X.509 verification, SHA-1 and
# Ed25519 through EVP. Every algorithm a public server's certificate chain or a TLS 1.2/1.3
# handshake may need stays (RSA, EC, DH, DSA, AES, ChaCha20, the SHA families, DES for PKCS#12 kept
# by the build itself). Fewer sources: the build takes about half as long.
options="no-tests no-legacy no-engine no-module no-comp no-srp no-psk no-ct no-cms no-cmp no-ts no-ocsp
 no-dtls no-sctp no-srtp no-ssl3 no-weak-ssl-ciphers no-nextprotoneg no-idea no-seed no-camellia no-aria
 no-sm2 no-sm3 no-sm4 no-whirlpool no-rc2 no-rc4 no-rc5 no-md4 no-mdc2 no-bf no-cast no-gost no-siphash
 no-scrypt no-ec2m no-ui-console"
[ "$series" = 1.1 ] && options=$(echo "$options" | sed 's/ no-legacy//; s/ no-module//; s/ no-cmp//')
options=$(echo $options)
compiler_version=$($host-gcc -dumpfullversion 2>/dev/null || $host-gcc -dumpversion)
options_key=$(printf '%s' "$options" | sha1sum | cut -c1-8)
out=$cache/$version-$target-gcc$compiler_version-$options_key
if [ -f "$out/.complete" ]; then
    echo "$out"
    exit 0
fi

started=$(date +%s)
log "building openssl $version for $target with $host-gcc $compiler_version"
work=$(mktemp -d "$cache/work.XXXXXX")
trap 'rm -rf "$work"' EXIT
(
    cd "$work"
    apt-get "$@" -qq source --download-only "openssl=$version" >&2
    dpkg-source --no-check -x openssl_*.dsc src >/dev/null
    cd src
    ./Configure "$configure_target" shared $options $extra --cross-compile-prefix="$host-" >"$work/configure.log" 2>&1 ||
        { cat "$work/configure.log" >&2; exit 1; }
    # Only the two libraries: apps and tests are not needed. The .dll.a targets (not the .dll files)
    # avoid a race of 1.1.1's makefile under parallel make.
    make build_generated >"$work/make.log" 2>&1 && make -j"$(nproc)" libcrypto.dll.a libssl.dll.a >>"$work/make.log" 2>&1 ||
        { tail -n 40 "$work/make.log" >&2; exit 1; }
)
mkdir -p "$work/out"
for dll in "$work"/src/libcrypto-*.dll "$work"/src/libssl-*.dll; do
    [ -f "$dll" ] || { log "missing built library: $dll"; exit 1; }
    # Keep the built names: libssl imports libcrypto by its build-time name.
    $host-strip -o "$work/out/$(basename "$dll")" "$dll"
done
touch "$work/out/.complete"
rm -rf "$out"
mv "$work/out" "$out"
log "built in $(($(date +%s) - started)) s"
echo "$out"
