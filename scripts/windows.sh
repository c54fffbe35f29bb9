#!/usr/bin/env bash
# The Windows programs, cross-built here with mingw-w64 and the Qt kit for
# Windows, assembled as build-win/dist/ and build-win/tl8-windows-x86_64.zip,
# then tested under Wine (headless), the serial component against the Linux
# simulator on COM5. Safe to run again.
#
# The Qt kit: TL8_QT_MINGW (an unpacked kit or its tarball), else the tarball
# in ../shared/toolchains/ beside the repository.
#
# --build-only stops after the build (CI runs it beside the Linux steps).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-win
started=$SECONDS
build_only=false
case "${1:-}" in
  --build-only) build_only=true ;;
  "") ;;
  *)
    echo "usage: windows.sh [--build-only]" >&2
    exit 2
    ;;
esac

packages=(
  g++-mingw-w64-x86-64-posix        # the cross compilers, POSIX thread model as the Qt kit
  wine wine64                       # the tests run under Wine
  cmake ninja-build                 # the build
  qt6-base-dev qt6-base-dev-tools   # the host Qt: moc, uic and rcc for the cross build, and the Linux simulator
  qt6-translations-l10n             # Qt's Russian texts (qtbase_ru.qm), shipped beside the programs
  g++ googletest                    # the simulator's Linux build; GoogleTest's source for the Windows tests
  zip
  python3-pefile                    # reads the programs' resources back
  nsis                              # makensis: the installer
  xvfb xdotool x11-utils            # the installed tool started on a virtual display
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

# Release at -O2, as the Linux package (CMake's -O3 costs the compiler more for
# nothing the tool needs).
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
  -DTL8_WERROR=ON -DTL8_UNITY=ON \
  -DCMAKE_TOOLCHAIN_FILE="$kit/lib/cmake/Qt6/qt.toolchain.cmake" -DQT_HOST_PATH=/usr \
  -DTL8_GTEST_SOURCE=/usr/src/googletest -DCMAKE_CROSSCOMPILING_EMULATOR=wine $(compiler_cache)
cmake --build "$build" -j"$(nproc)"
echo "windows.sh: set-up and build done in $((SECONDS - started)) s"
if $build_only; then
  exit 0
fi

# --- What a Windows PC needs beside the programs ---------------------------------------

mingw_dlls=(
  /usr/lib/gcc/x86_64-w64-mingw32/12-posix/libstdc++-6.dll
  /usr/lib/gcc/x86_64-w64-mingw32/12-posix/libgcc_s_seh-1.dll
  /usr/x86_64-w64-mingw32/lib/libwinpthread-1.dll
)

# Copies the runtime of the Windows programs into directory $1; the plugins
# after it are put into their plugin folders. Qt's Russian translation is
# Debian's (the same Qt version), in translations/ where the tool looks.
copy_runtime() {
  local dir=$1
  shift
  mkdir -p "$dir/translations"
  cp -u "$kit"/bin/Qt6{Core,Gui,Widgets}.dll "${mingw_dlls[@]}" "$dir/"
  cp -u /usr/share/qt6/translations/qtbase_ru.qm "$dir/translations/"
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
  cp "$build/bin/$program.exe" "$dist/"
done
# What is shipped carries no debugging information (the kit's DLLs come with
# it): the programs and libraries keep only what loading them needs.
find "$dist" \( -name '*.exe' -o -name '*.dll' \) -exec x86_64-w64-mingw32-strip --strip-unneeded {} +
debug_left=$(find "$dist" \( -name '*.exe' -o -name '*.dll' \) -exec sh -c \
  'x86_64-w64-mingw32-objdump -h "$1" | grep -q "\.debug_" && echo "$1"' _ {} \;)
if [ -n "$debug_left" ]; then
  echo "windows.sh: debugging information left in:" >&2
  echo "$debug_left" >&2
  exit 1
fi

# The licence texts and notices of what dist/ holds. The Qt kit's build script
# (TL8_QT_BUILD_SCRIPT, by default the build-qt-mingw.sh beside the kit or its
# tarball) goes with them: it says how the Qt libraries were made.
kit_home=$kit_source
[ -d "$kit_home" ] || kit_home=$(dirname "$kit_home")
qt_build_script=${TL8_QT_BUILD_SCRIPT:-}
for candidate in "$kit_home/build-qt-mingw.sh" "$(dirname "$kit_home")/build-qt-mingw.sh"; do
  [ -n "$qt_build_script" ] || [ ! -f "$candidate" ] || qt_build_script=$candidate
done
if [ ! -f "$qt_build_script" ]; then
  echo "windows.sh: no build script of the Qt kit (build-qt-mingw.sh beside it, or TL8_QT_BUILD_SCRIPT):" >&2
  echo "the notices must say how its libraries were made" >&2
  exit 1
fi
bash "$root/scripts/windows-notices.sh" "$dist/licenses" "$qt_build_script"

# Both programs carry the icon, their version information and the manifest.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
/usr/bin/python3 "$root/scripts/check-pe-resources.py" "$version" "$dist/Tl8v05.exe" "$dist/tl8ctl.exe"

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

# --- The installer -------------------------------------------------------------------

# What the uninstaller removes: each installed file, then each folder, deepest first.
nsis_paths() { sed 's|^\./||; s|/|\\|g'; }
{
  (cd "$dist" && find . -type f | sort | nsis_paths | sed 's|.*|  Delete "$INSTDIR\\&"|')
  (cd "$dist" && find . -mindepth 1 -type d | sort -r | nsis_paths | sed 's|.*|  RMDir "$INSTDIR\\&"|')
} >"$build/installer-uninstall.nsh"
installer=$build/tl8tool-$version-setup.exe
rm -f "$installer"
makensis -V2 -DVERSION="$version" -DDIST="$dist" -DUNINSTALL="$build/installer-uninstall.nsh" \
  -DSIZE_KB="$(du -sk "$dist" | cut -f1)" -DICON="$root/dist/tl8v05.ico" -DLICENSE="$root/LICENSE" \
  -DOUTFILE="$installer" "$root/dist/windows/installer.nsi"
echo "windows.sh: $installer"

# --- Tests under Wine -------------------------------------------------------------------

# The tests run from build-win/bin: the runtime beside them, the offscreen
# platform for the window tests (CTest gives them WINEQT_QPA_PLATFORM, which
# Wine hands them as QT_QPA_PLATFORM).
copy_runtime "$build/bin" platforms/qoffscreen.dll platforms/qwindows.dll styles/qwindowsvistastyle.dll

source "$root/scripts/wine-line.sh"
trap stop_wine_line EXIT
start_wine_line "$build/sim-state.bin" "$build/sim.log"
# The converter pulled out during a read: the 20th request takes COM6's line
# away, and 1.5 s later a new one comes up under the same name.
rm -f "$build/replug-state.bin"
start_wine_sim com6 "$build/replug-state.bin" "$build/replug-sim.log" --unplug 20:1500

export TL8_SIM_PORT=COM5 TL8_REPLUG_PORT=COM6
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


# tl8ctl.exe in a console (Wine makes one of a terminal, and draws it there
# with escape sequences of its own): the Russian message whole in code page
# 866, the progress line and the result, what the console holds after the
# report wrote in code pages 437, 866 and 65001, and the help naming Windows'
# ports.
in_console() {
  (cd "$build/bin" && script -qc "wine cmd /c '$1'" /dev/null) | sed 's/\x1b\[?25[lh]//g'
}
shown=$(in_console "chcp 866 >nul & tl8ctl.exe --port COM77 read")
if [[ $shown != *"Неудача при открытии порта: "* ]]; then
  echo "windows.sh: tl8ctl.exe in a console with code page 866 garbles its message:" >&2
  echo "$shown" >&2
  exit 1
fi
shown=$(in_console "tl8ctl.exe --port COM5 read")
if [[ $shown != *"reading parameter 16/16"* || $shown != *"values "* ]]; then
  echo "windows.sh: tl8ctl.exe's read in a console:" >&2
  echo "$shown" >&2
  exit 1
fi
# What the console holds after tl8ctl's report wrote (its screen buffer).
# (Wine draws runs of blanks as cursor moves: the log's words stand alone.)
if ! (cd "$build/bin" && script -qec "wine cli_win_console_test.exe --gtest_color=no" /dev/null) \
  >"$build/console-test.log" || grep -aq SKIPPED "$build/console-test.log"; then
  echo "windows.sh: cli_win_console_test.exe in a console failed:" >&2
  sed 's/\x1b\[[0-9;?]*[A-Za-z]//g' "$build/console-test.log" >&2
  exit 1
fi
help=$(wine "$build/bin/tl8ctl.exe" --help)
if [[ $help != *"serial port as Windows names it"* || $help == *"/dev/"* || $help == *"tty"* ]]; then
  echo "windows.sh: tl8ctl.exe --help does not describe Windows' ports:" >&2
  echo "$help" >&2
  exit 1
fi

# --- On a display: the window system's order, and the installer ------------------------

stop_wine_line  # the Wine programs below start a server of their own, on the display

# Runs a command with DISPLAY on a virtual display of its own, which ends with it.
on_virtual_display() {
  local display_file xvfb status=0
  display_file=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
  xvfb=$!
  for _ in $(seq 100); do
    [ -s "$display_file" ] && break
    sleep 0.1
  done
  DISPLAY=:$(cat "$display_file") "$@" || status=$?
  wineserver -k >/dev/null 2>&1 || true
  kill "$xvfb" 2>/dev/null || true
  rm -f "$display_file"
  return "$status"
}

# The tests that need Qt's windows platform (Qt's default there) and a
# display, in Wine's own desktop window (which hides windows at once; its exit
# code says nothing, the test's output does): which window is in front after
# the password dialog and Windows' own file dialog, and the fonts the tool
# takes where Wine lacks Windows'.
windows_platform_tests=(
  "app_win_window_order_test.exe"
  "windows_fonts_test.exe"
  "windows_linemonitor_test.exe --gtest_filter=LineMonitor.ShowsTheLinesInAFixedPitchFont"
)
run_windows_platform_tests() {
  local test log
  for test in "${windows_platform_tests[@]}"; do
    log=$build/windows-platform-${test%%.exe*}.log
    # shellcheck disable=SC2086  # the program and its arguments
    (cd "$build/bin" && wine explorer /desktop=tl8,1024x768 $test --gtest_color=no) >"$log" 2>&1
    if ! grep -q '^\[  PASSED  \]' "$log" || grep -q 'FAILED\|SKIPPED' "$log"; then
      echo "windows.sh: $test on Qt's windows platform failed:" >&2
      cat "$log" >&2
      return 1
    fi
  done
}
on_virtual_display run_windows_platform_tests

# In a prefix of its own where the tool was never installed (a copy of the
# tests' prefix, which no installer touched): a silent install puts every file
# of dist/, the Start-menu shortcut and the uninstall entry in place; the
# installed Tl8v05.exe starts (its first box) and shows the tool's icon; a
# silent uninstall removes all of it and keeps the user's settings.
install_test() {
  export WINEPREFIX=$build/install-test
  rm -rf "$WINEPREFIX"
  cp -a "$build/wineprefix" "$WINEPREFIX"
  local uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tl8v05'
  local settings_key='HKCU\Software\Kavrion\ZELK\Comport Settings\ComPort'
  local local_appdata appdata program_dir shortcut window blue
  wine "$installer" /S || { echo "install: the installer failed" >&2; return 1; }
  local_appdata=$(wine cmd /c echo %LOCALAPPDATA% | tr -d '\r')
  appdata=$(wine cmd /c echo %APPDATA% | tr -d '\r')
  program_dir=$(winepath -u "$local_appdata\\Programs\\Tl8v05")
  shortcut=$(winepath -u "$appdata\\Microsoft\\Windows\\Start Menu\\Programs\\Tl8v05.lnk")
  diff -r -x Uninstall.exe "$dist" "$program_dir" || { echo "install: not all of dist/ installed" >&2; return 1; }
  [ -f "$program_dir/Uninstall.exe" ] || { echo "install: no uninstaller" >&2; return 1; }
  [ -f "$shortcut" ] || { echo "install: no Start-menu shortcut" >&2; return 1; }
  wine reg query "$uninstall_key" /v QuietUninstallString | grep -q 'Uninstall.exe" /S' ||
    { echo "install: no uninstall entry under HKCU" >&2; return 1; }

  (cd "$program_dir" && exec wine ./Tl8v05.exe) >/dev/null 2>&1 &
  local tool=$!
  window=$(timeout 120 xdotool search --sync --onlyvisible --name '^Tl8v05$' | head -n1 || true)
  [ -n "$window" ] || { echo "install: the installed Tl8v05.exe showed no window" >&2; return 1; }
  # The tool's blue (#1f5f8b, opaque) in the window's icon, as the window system has it.
  blue=$(xprop -id "$window" -notype -f _NET_WM_ICON 32c ' $0+' _NET_WM_ICON | tr ',' '\n' |
    grep -c '^ *4280246155$' || true)
  [ "$blue" -gt 100 ] || { echo "install: the window's icon is not the tool's" >&2; return 1; }
  kill "$tool"
  wait "$tool" || true

  wine reg add "$settings_key" /v Port /t REG_SZ /d COM3 /f >/dev/null
  wine "$program_dir/Uninstall.exe" /S || { echo "uninstall: the uninstaller failed" >&2; return 1; }
  # The uninstaller goes on from a copy of itself, and removes the entry last.
  for _ in $(seq 300); do
    wine reg query "$uninstall_key" >/dev/null 2>&1 || break
    sleep 0.1
  done
  [ ! -e "$program_dir" ] || { echo "uninstall: $program_dir is still there" >&2; return 1; }
  [ ! -e "$shortcut" ] || { echo "uninstall: the shortcut is still there" >&2; return 1; }
  ! wine reg query "$uninstall_key" >/dev/null 2>&1 || { echo "uninstall: the entry is still there" >&2; return 1; }
  wine reg query "$settings_key" /v Port | grep -q COM3 || { echo "uninstall: took the user's settings" >&2; return 1; }
  wineserver -k
  wineserver -w
  rm -rf "$WINEPREFIX"
}
if ! (on_virtual_display install_test); then
  echo "windows.sh: the installer under Wine failed (prefix kept in $build/install-test)" >&2
  exit 1
fi
echo "windows.sh: installer: installed, started and uninstalled under Wine"

echo "windows.sh: done in $((SECONDS - started)) s"
