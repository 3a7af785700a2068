#!/usr/bin/env bash
# check-install.sh BUILD PREFIX BINDIR DATADIR MANDIR DOCDIR gui|nogui
# Installs BUILD into PREFIX (emptied first) and checks the installed files: the programs run,
# the desktop entry, metainfo and MIME type pass their validators, a network file is recognised
# by its first bytes, and an installed program keeps its settings in the user's folder.
set -euo pipefail
build=$1 prefix=$2 bindir=$3 datadir=$4 mandir=$5 docdir=$6 gui=$7

fail() { echo "check-install: $*" >&2; exit 1; }
for tool in desktop-file-validate appstreamcli xmllint update-mime-database gio; do
  command -v "$tool" >/dev/null || { echo "check-install: $tool is missing; skipped" >&2; exit 77; }
done

rm -rf "$prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
installed=$(find "$prefix" -type f | wc -l)
bin=$prefix/$bindir share=$prefix/$datadir

expected=(
  "$bin/busweave-cli"
  "$prefix/$docdir/Busweave.html" "$prefix/$docdir/examples/two-nodes.bwn" "$prefix/$docdir/copyright"
  "$share/mime/packages/busweave.xml"
  "$share/icons/hicolor/scalable/mimetypes/application-x-busweave-network.svg"
  "$share/bash-completion/completions/busweave-cli"
  "$prefix/$mandir/man1/busweave-cli.1.gz"
  "$share/busweave/transceivers/iso11898-2-typ.transceiver" "$share/busweave/transceivers/sic-cia601-4.transceiver"
)
if [ "$gui" = gui ]; then
  expected+=(
    "$bin/busweave" "$prefix/$mandir/man1/busweave.1.gz"
    "$share/applications/org.busweave.Busweave.desktop" "$share/metainfo/org.busweave.Busweave.metainfo.xml"
    "$share/icons/hicolor/scalable/apps/busweave.svg"
  )
  for size in 16 22 24 32 48 64 128 256; do
    expected+=("$share/icons/hicolor/${size}x$size/apps/busweave.png")
  done
fi
for size in 16 22 24 32 48 64 128 256; do
  expected+=("$share/icons/hicolor/${size}x$size/mimetypes/application-x-busweave-network.png")
done
for file in "${expected[@]}"; do
  [ -s "$file" ] || fail "not installed: $file"
done
[ -x "$bin/busweave-cli" ] || fail "busweave-cli is not executable"

# The installed tool runs from its new place and reads the installed example.
"$bin/busweave-cli" --help | grep -q '^Usage: busweave-cli' || fail "busweave-cli --help printed no usage"
"$bin/busweave-cli" info "$prefix/$docdir/examples/two-nodes.bwn" >/dev/null || fail "busweave-cli info failed"
bash -n "$share/bash-completion/completions/busweave-cli" || fail "the bash completion does not parse"
for page in "$prefix/$mandir"/man1/busweave*.1.gz; do
  gzip -t "$page" || fail "damaged man page $page"
  zcat "$page" | grep -q '^\.TH ' || fail "no title line in $page"
done

if [ "$gui" = gui ]; then
  desktop-file-validate "$share/applications/org.busweave.Busweave.desktop" || fail "desktop entry rejected"
  appstreamcli validate --no-net --no-color "$share/metainfo/org.busweave.Busweave.metainfo.xml" >/dev/null ||
    fail "metainfo rejected: $(appstreamcli validate --no-net --no-color "$share/metainfo/org.busweave.Busweave.metainfo.xml")"
  grep -q '^MimeType=application/x-busweave-network;$' "$share/applications/org.busweave.Busweave.desktop" ||
    fail "the desktop entry does not open network files"
fi

# The MIME type compiles without complaint and recognises a network file by name and, without
# its extension, by its first bytes; an unrelated file is not taken for one.
xmllint --noout "$share/mime/packages/busweave.xml" || fail "MIME type is not well-formed XML"
mime=$prefix/check-mime
rm -rf "$mime"
mkdir -p "$mime/mime/packages"
cp /usr/share/mime/packages/freedesktop.org.xml "$share/mime/packages/busweave.xml" "$mime/mime/packages/"
complaints=$(XDG_DATA_HOME="$mime" XDG_DATA_DIRS="$mime" update-mime-database "$mime/mime" 2>&1 >/dev/null)
[ -z "$complaints" ] || fail "update-mime-database: $complaints"
cp "$prefix/$docdir/examples/two-nodes.bwn" "$mime/named.bwn"
cp "$prefix/$docdir/examples/six-stations.bwn" "$mime/no-extension"
printf '\001\006\005TNodf plain bytes\n' >"$mime/lookalike"
type_of() { XDG_DATA_HOME="$mime" XDG_DATA_DIRS="$mime" gio info -a standard::content-type "$1" | sed -n 's/.*content-type: //p'; }
[ "$(type_of "$mime/named.bwn")" = application/x-busweave-network ] || fail "a .bwn file is $(type_of "$mime/named.bwn")"
[ "$(type_of "$mime/no-extension")" = application/x-busweave-network ] ||
  fail "a network file without extension is $(type_of "$mime/no-extension")"
[ "$(type_of "$mime/lookalike")" != application/x-busweave-network ] || fail "a look-alike file is taken for a network"

# An installed program cannot write beside itself, so its settings folder is the user's. Only
# root can start it as another user here; the folder is made at start, the file at exit.
if [ "$gui" = gui ] && [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null; then
  home=$prefix/check-home
  mkdir -p "$home"
  chmod 755 "$prefix" "$home"
  chown 65534:65534 "$home"
  env -i HOME="$home" XDG_RUNTIME_DIR="$home/run" QT_QPA_PLATFORM=offscreen PATH=/usr/bin:/bin \
    setpriv --reuid=65534 --regid=65534 --clear-groups "$bin/busweave" >/dev/null 2>&1 &
  program=$!
  for _ in $(seq 100); do
    [ -d "$home/.config/Busweave-V2" ] && break
    sleep 0.1
  done
  kill "$program" 2>/dev/null || true
  wait "$program" 2>/dev/null || true
  [ -d "$home/.config/Busweave-V2" ] || fail "the installed program did not choose the user's settings folder"
  [ ! -e "$bin/busweave.INI" ] || fail "the installed program wrote its settings beside itself"
fi
echo "check-install: $installed files installed and checked"
