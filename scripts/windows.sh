#!/usr/bin/env bash
# The Windows programs, cross-built here with mingw-w64 and the Qt kit for
# Windows, assembled as build-win/dist/ and build-win/tl8-windows-x86_64.zip,
# then tested under Wine (headless), the serial component against the Linux
# simulator on COM5. Safe to run again.
#
# The Qt kit: TL8_QT_MINGW (an unpacked kit or its tarball), else the tarball
# in ../shared/toolchains/ beside the repository.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-win
started=$SECONDS

packages=(
  g++-mingw-w64-x86-64-posix        # the cross compilers, POSIX thread model as the Qt kit
  wine wine64                       # the tests run under Wine
  cmake ninja-build                 # the build
  qt6-base-dev qt6-base-dev-tools   # the host Qt: moc, uic and rcc for the cross build, and the Linux simulator
  g++ googletest                    # the simulator's Linux build; GoogleTest's source for the Windows tests
  zip
)
source "$root/scripts/packages.sh"
install_packages "${packages[@]}"

# --- The Qt kit ------------------------------------------------------------------

kit_source=${TL8_QT_MINGW:-$root/../shared/toolchains}
if [ -d "$kit_source" ] && [ ! -f "$kit_source/lib/cmake/Qt6/qt.toolchain.cmake" ]; then
  kit_source=$(ls "$kit_source"/qt6*-mingw-w64-x86_64.tar.xz 2>/dev/null | head -n1 || true)
fi
if [ -z "$kit_source" ] || [ ! -e "$kit_source" ]; then
  echo "windows.sh: no Qt kit for Windows: set TL8_QT_MINGW or put the tarball in ../shared/toolchains/" >&2
  exit 1
fi
if [ -d "$kit_source" ]; then
  kit=$kit_source
else
  # Unpacked once per tarball; a changed tarball is unpacked afresh.
  kit_root=$build/qt-kit
  stamp=$(stat -c '%s %Y' "$kit_source")
  if [ "$(cat "$kit_root/.unpacked" 2>/dev/null)" != "$stamp" ]; then
    rm -rf "$kit_root"
    mkdir -p "$kit_root"
    tar -xJf "$kit_source" -C "$kit_root"
    echo "$stamp" >"$kit_root/.unpacked"
  fi
  kit=$(dirname "$(dirname "$(dirname "$(dirname "$(ls "$kit_root"/*/lib/cmake/Qt6/qt.toolchain.cmake)")")")")
fi

# --- The cross build ---------------------------------------------------------------

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$kit/lib/cmake/Qt6/qt.toolchain.cmake" -DQT_HOST_PATH=/usr \
  -DTL8_GTEST_SOURCE=/usr/src/googletest -DCMAKE_CROSSCOMPILING_EMULATOR=wine "${launcher[@]}"
cmake --build "$build" -j"$(nproc)"

# --- What a Windows PC needs beside the programs ---------------------------------------

mingw_dlls=(
  /usr/lib/gcc/x86_64-w64-mingw32/12-posix/libstdc++-6.dll
  /usr/lib/gcc/x86_64-w64-mingw32/12-posix/libgcc_s_seh-1.dll
  /usr/x86_64-w64-mingw32/lib/libwinpthread-1.dll
)

# Copies the runtime of the Windows programs into directory $1; the plugins
# after it are put into their plugin folders.
copy_runtime() {
  local dir=$1
  shift
  mkdir -p "$dir"
  cp -u "$kit"/bin/Qt6{Core,Gui,Widgets}.dll "${mingw_dlls[@]}" "$dir/"
  local plugin
  for plugin in "$@"; do
    mkdir -p "$dir/$(dirname "$plugin")"
    cp -u "$kit/plugins/$plugin" "$dir/$plugin"
  done
}

dist=$build/dist
rm -rf "$dist"
copy_runtime "$dist" platforms/qwindows.dll styles/qwindowsvistastyle.dll
for program in Tl8v05 tl8ctl; do
  [ -f "$build/bin/$program.exe" ] || continue
  x86_64-w64-mingw32-strip -o "$dist/$program.exe" "$build/bin/$program.exe"
done

# Every DLL a file in dist/ imports is either beside it or part of Windows.
system_dll='^(kernel32|user32|gdi32|gdiplus|advapi32|shell32|shlwapi|ole32|oleaut32|comdlg32|comctl32|uxtheme|dwmapi|imm32|winmm|ws2_32|mpr|netapi32|userenv|version|setupapi|wtsapi32|d3d9|d3d11|d3d12|dxgi|dwrite|d2d1|authz|shcore|msvcrt|ucrtbase|ntdll|bcrypt|crypt32|secur32|api-ms-win-.*)\.dll$'
unresolved=$(find "$dist" -name '*.exe' -o -name '*.dll' | while read -r file; do
  x86_64-w64-mingw32-objdump -p "$file" | sed -n 's/^\s*DLL Name: //p' | while read -r dll; do
    lower=${dll,,}
    [[ $lower =~ $system_dll ]] || [ -n "$(find "$dist" -maxdepth 1 -iname "$dll")" ] || echo "$file needs $dll"
  done
done)
if [ -n "$unresolved" ]; then
  echo "windows.sh: dist/ is incomplete:" >&2
  echo "$unresolved" >&2
  exit 1
fi

rm -rf "$build/zip" "$build/tl8-windows-x86_64.zip"
mkdir -p "$build/zip"
cp -r "$dist" "$build/zip/tl8-windows-x86_64"
(cd "$build/zip" && zip -qr -X "$build/tl8-windows-x86_64.zip" tl8-windows-x86_64)
rm -rf "$build/zip"
echo "windows.sh: $build/tl8-windows-x86_64.zip"

# --- Tests under Wine -------------------------------------------------------------------

# The tests run from build-win/bin: the runtime beside them, the offscreen
# platform for the window tests.
copy_runtime "$build/bin" platforms/qoffscreen.dll platforms/qwindows.dll styles/qwindowsvistastyle.dll

export QT_QPA_PLATFORM=offscreen
source "$root/scripts/wine-line.sh"
trap stop_wine_line EXIT
start_wine_line "$build/sim-state.bin" "$build/sim.log"

export TL8_SIM_PORT=COM5
# The Linux simulator served over TCP too, for the network line's tests.
"$root/build/bin/tl8sim" --tcp 0 --state "$build/sim-tcp-state.bin" >"$build/sim-tcp.out" 2>&1 &
tcp_sim=$!
trap 'kill $tcp_sim 2>/dev/null; stop_wine_line' EXIT
for _ in $(seq 50); do [ -s "$build/sim-tcp.out" ] && break; sleep 0.1; done
TL8_SIM_TCP=$(head -n1 "$build/sim-tcp.out")
export TL8_SIM_TCP
ctest --test-dir "$build" --output-on-failure
# The Windows command line reads what the Linux one reads from the same adapter.
windows_read=$(wine "$build/bin/tl8ctl.exe" --port COM5 --address 1 read --json | tr -d '\r')
linux_read=$("$root/build/bin/tl8ctl" --port "$WINE_LINK" --address 1 read --json)
echo "tl8ctl.exe: $windows_read"
if [ "$windows_read" != "$linux_read" ]; then
  echo "windows.sh: tl8ctl.exe and the Linux tl8ctl read different values:" >&2
  echo "$linux_read" >&2
  exit 1
fi

echo "windows.sh: done in $((SECONDS - started)) s"
