#!/usr/bin/env bash
# Puts the Windows release together: the zip and the NSIS installer, from a
# Windows build (its release-files.txt: the DLL and the tools) and the sample
# bitmaps of a native build. The version comes from the Windows build's CMake.
#   packaging/windows.sh WINDOWS_BUILD_DIR SAMPLES_DIR OUTPUT_DIR [NSIS_TARGET]
# NSIS_TARGET (default x86-unicode) amd64-unicode makes a 64-bit installer of
# the same files, which the tests run where 32-bit programs cannot run.
set -euo pipefail

build=$(realpath "${1:?usage: packaging/windows.sh WINDOWS_BUILD_DIR SAMPLES_DIR OUTPUT_DIR}")
samples=$(realpath "${2:?missing SAMPLES_DIR}")
mkdir -p "${3:?missing OUTPUT_DIR}"
out=$(realpath "$3")
nsis_target=${4:-x86-unicode}
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")

cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
version=$(cache_value CMAKE_PROJECT_VERSION)
strip=$(cache_value CMAKE_STRIP)
[[ -n $version ]] || { echo "windows.sh: no project version in $build/CMakeCache.txt" >&2; exit 1; }
[[ -f $build/release-files.txt ]] || { echo "windows.sh: $build/release-files.txt is missing" >&2; exit 1; }

name=lxdravik-$version-windows-x86
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
root=$stage/$name
mkdir -p "$root/tools" "$root/bitmaps"

# The driver at the top, the tools below it; NSIS lines for the tools beside.
{
  echo '!macro LXD_INSTALL_TOOLS'
  while read -r file; do
    [[ -n $file ]] || continue
    base=$(basename "$file")
    if [[ $base == lxdravik.dll ]]; then
      cp "$file" "$root/"
    else
      cp "$file" "$root/tools/"
      echo "  File \"$root/tools/$base\""
    fi
  done <"$build/release-files.txt"
  echo '!macroend'
  echo '!macro LXD_REMOVE_TOOLS'
  for tool in "$root"/tools/*.exe; do
    echo "  Delete \"\$INSTDIR\\$(basename "$tool")\""
  done
  echo '!macroend'
} >"$stage/tools.nsh"
[[ -f $root/lxdravik.dll ]] || { echo "windows.sh: no lxdravik.dll in the release files" >&2; exit 1; }
"$strip" --strip-unneeded "$root/lxdravik.dll" "$root"/tools/*.exe

# The bridge's default configuration (Windows line ends for Notepad); the
# installer makes the bridge a service with it.
bridge=()
if [[ -f $root/tools/lxdravik-bridge.exe ]]; then
  sed -e 's/$/\r/' "$build/packaging/bridge.toml" >"$root/tools/bridge.toml"
  bridge=(-DBRIDGE)
fi
cp "$source_dir/driver/lxdravik.h" "$root/"
cp "$samples/welcome.bmp" "$samples/modebar.bmp" "$root/bitmaps/"
# Windows line ends for Notepad.
sed -e "s/@VERSION@/$version/g" -e 's/$/\r/' "$here/README.txt" >"$root/README.txt"

zip_file=$out/$name.zip
setup_file=$out/lxdravik-$version-setup.exe
rm -f "$zip_file" "$setup_file"
(cd "$stage" && zip -q -r -X "$zip_file" "$name")
makensis -V2 "-XTarget $nsis_target" -DVERSION="$version" -DSTAGE="$root" -DFILES="$stage/tools.nsh" "${bridge[@]}" \
  -DOUTFILE="$setup_file" "$here/installer.nsi"
echo "$zip_file"
echo "$setup_file"
