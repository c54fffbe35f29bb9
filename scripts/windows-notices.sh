#!/usr/bin/env bash
# Writes the licence texts and notices of what the Windows zip and installer
# ship into directory DIR (scripts/windows.sh: build-win/dist/licenses):
# the tool's own terms, Qt (LGPL-3.0, with where its source is and the kit's
# build script), the GCC runtime library exception for libstdc++ and libgcc,
# and mingw-w64's winpthreads. The texts come from the Debian packages the
# build used.
#
# usage: windows-notices.sh DIR QT_KIT_BUILD_SCRIPT
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$1 qt_build_script=$2
mkdir -p "$dir"

version_of() { dpkg-query -W -f='${Version}' "$1"; }

# The paragraphs (Debian copyright format) of file $1 for which awk pattern $2 holds.
paragraphs() { awk -v RS= -v ORS='\n\n' "$2" "$1"; }

cp "$root/LICENSE" "$dir/LICENSE.txt"
cp /usr/share/common-licenses/LGPL-3 "$dir/LGPL-3.0.txt"
cp /usr/share/common-licenses/GPL-3 "$dir/GPL-3.0.txt"
install -m 644 "$qt_build_script" "$dir/Qt-build-qt-mingw.sh"

# The kit's source: the version of Debian's qt6-base its build script fetches.
qt_version=$(grep -o 'qt6-base=[^ ]*' "$qt_build_script" | head -n1 | cut -d= -f2)
[ -n "$qt_version" ] || { echo "windows-notices.sh: $qt_build_script names no qt6-base source" >&2; exit 1; }
{
  cat <<EOF
Qt ${qt_version%%+*}: Qt6Core.dll, Qt6Gui.dll, Qt6Widgets.dll, platforms\\qwindows.dll,
styles\\qwindowsvistastyle.dll and translations\\qtbase_ru.qm

Copyright (C) The Qt Company Ltd. and other contributors.
Used under the GNU Lesser General Public License version 3 (LGPL-3.0-only):
LGPL-3.0.txt and GPL-3.0.txt in this folder. The programs load these
libraries at run time; you may replace them with your own build of the same
Qt version.

Source: Debian's source package qt6-base, version $qt_version
(https://snapshot.debian.org/package/qt6-base/$qt_version/, or
"apt-get source qt6-base=$qt_version" on Debian 12). The libraries were
built from it with Debian's mingw-w64 compilers by Qt-build-qt-mingw.sh in
this folder; qtbase_ru.qm is the file of Debian's qt6-translations-l10n
package, version $(version_of qt6-translations-l10n).

The copyright holders and licences of every file of that source, including
the third-party code built into the libraries (src/3rdparty), as Debian
lists them (its qt6-base-dev package, version $(version_of qt6-base-dev)):

EOF
  cat /usr/share/doc/qt6-base-dev/copyright
} >"$dir/Qt.txt"

{
  cat <<EOF
libstdc++-6.dll and libgcc_s_seh-1.dll: the runtime libraries of GCC
(Debian's g++-mingw-w64-x86-64-posix, version $(version_of g++-mingw-w64-x86-64-posix))

Copyright (C) Free Software Foundation, Inc.
Licensed under the GNU General Public License version 3 or later
(GPL-3.0.txt in this folder) with version 3.1 of the GCC Runtime Library
Exception, which follows. Source: Debian's source package gcc-mingw-w64.

EOF
  awk '/^GCC RUNTIME LIBRARY EXCEPTION/, /^(copyleft )?requ.*license of GCC\.$/' \
    /usr/share/doc/gcc-mingw-w64-base/copyright
} >"$dir/GCC-runtime-library-exception.txt"

{
  cat <<EOF
libwinpthread-1.dll: mingw-w64's winpthreads
(Debian's mingw-w64, version $(version_of mingw-w64-common))

The copyright holders and licences of its source, as Debian lists them:

EOF
  paragraphs /usr/share/doc/mingw-w64-common/copyright \
    '/^Files: mingw-w64-libraries\/winpthreads\// && !/tests_pthread/ ||
     /^License: (expat|BSD-3-clause)\n/'
} >"$dir/winpthreads.txt"

# Nothing may come out empty: a package's file that moved would leave a gap.
for file in "$dir"/*; do
  [ "$(wc -l <"$file")" -gt 10 ] || { echo "windows-notices.sh: $file is nearly empty" >&2; exit 1; }
done
grep -q "GCC RUNTIME LIBRARY EXCEPTION" "$dir/GCC-runtime-library-exception.txt"
grep -q "Lockless Inc" "$dir/winpthreads.txt"
grep -q "^License: expat" "$dir/winpthreads.txt"
