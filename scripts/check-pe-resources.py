#!/usr/bin/python3
"""Checks the resources of the shipped Windows programs (scripts/windows.sh):
the tool's icon in the sizes Windows shows, version information carrying the
project's version and the company, and an application manifest Windows can
read that asks for no elevation, names Windows 10/11, per-monitor DPI
awareness and common controls 6.

usage: check-pe-resources.py VERSION PROGRAM.exe...
Prints what it found; exit code 1 when anything is missing.
"""

import struct
import sys
import xml.etree.ElementTree as ElementTree

import pefile

RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 14, 16, 24
WINDOWS_10 = "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"
ICON_SIZES = {16, 24, 32, 48, 64, 256}


def resources(pe, type_id):
    """The data of every resource of the type, by name or number."""
    found = {}
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return found
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if kind.id != type_id:
            continue
        for entry in kind.directory.entries:
            name = str(entry.name) if entry.name else entry.id
            for language in entry.directory.entries:
                data = language.data.struct
                found[name] = pe.get_data(data.OffsetToData, data.Size)
    return found


def icon_sizes(group):
    """The sizes in an icon group (GRPICONDIR): a width of 0 means 256."""
    _, _, count = struct.unpack_from("<HHH", group)
    return {group[6 + 14 * i] or 256 for i in range(count)}


def version_strings(pe):
    strings = {}
    for info in getattr(pe, "FileInfo", [[]])[0]:
        if getattr(info, "Key", b"") == b"StringFileInfo":
            for table in info.StringTable:
                strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    return strings


def manifest_problems(text):
    try:
        root = ElementTree.fromstring(text)
    except ElementTree.ParseError as error:
        return [f"the manifest is not well-formed XML: {error}"]
    every = {element.tag.split("}")[-1]: element for element in root.iter()}
    texts = {element.tag.split("}")[-1]: (element.text or "").strip() for element in root.iter()}
    problems = []
    level = every.get("requestedExecutionLevel")
    if level is None or level.get("level") != "asInvoker":
        problems.append("the manifest does not run the program as the user (asInvoker)")
    if WINDOWS_10 not in {e.get("Id") for e in root.iter() if e.tag.endswith("supportedOS")}:
        problems.append("the manifest does not name Windows 10/11 as supported")
    if texts.get("dpiAwareness") != "PerMonitorV2" or texts.get("dpiAware") != "true/pm":
        problems.append("the manifest does not ask for per-monitor DPI awareness")
    controls = [e for e in root.iter() if e.tag.endswith("assemblyIdentity")
                and e.get("name") == "Microsoft.Windows.Common-Controls"]
    if not controls or controls[0].get("version") != "6.0.0.0":
        problems.append("the manifest does not ask for common controls 6")
    return problems


def check(path, version):
    pe = pefile.PE(path)
    problems = []
    group = resources(pe, RT_GROUP_ICON).get("IDI_ICON1")
    sizes = icon_sizes(group) if group else set()
    if not group:
        problems.append("no icon IDI_ICON1")
    elif not ICON_SIZES <= sizes:
        problems.append(f"icon sizes {sorted(sizes)}, not all of {sorted(ICON_SIZES)}")
    strings = version_strings(pe)
    expected = {"CompanyName": "Kavrion", "FileVersion": version, "ProductVersion": version}
    for key, value in expected.items():
        if strings.get(key) != value:
            problems.append(f"{key} is {strings.get(key)!r}, not {value!r}")
    if not strings.get("FileDescription"):
        problems.append("no FileDescription")
    fixed = getattr(pe, "VS_FIXEDFILEINFO", None)
    numbers = [int(part) for part in version.split(".")] + [0]
    if not fixed or (fixed[0].FileVersionMS, fixed[0].FileVersionLS) != (
            numbers[0] << 16 | numbers[1], numbers[2] << 16 | numbers[3]):
        problems.append("the fixed file version is not the project's")
    manifests = resources(pe, RT_MANIFEST)
    if 1 not in manifests:
        problems.append("no application manifest (resource 1)")
    else:
        problems += manifest_problems(manifests[1])
    print(f"{path}: {strings.get('FileDescription')!r} {strings.get('FileVersion')}, "
          f"{strings.get('CompanyName')}, icon {sorted(sizes)}")
    for problem in problems:
        print(f"  {problem}")
    return not problems


def main():
    version, programs = sys.argv[1], sys.argv[2:]
    results = [check(program, version) for program in programs]
    return 0 if programs and all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
