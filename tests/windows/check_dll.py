#!/usr/bin/env python3
"""check_dll.py - checks the built zelto.dll from the outside: its export
table as objdump reads it (exactly the plain and decorated name of every
function in include/zelto_exports.h, ordinals in byte-wise order of the plain
names, plain odd and decorated even, both at one address), the DLLs it
imports (system DLLs only), and every value of its version resource.

    check_dll.py --dll zelto.dll --objdump i686-w64-mingw32-objdump \
                 --export-table include/zelto_exports.h
"""
import argparse
import re
import subprocess
import sys

EXPECTED_STRINGS = {
    "CompanyName": "The zelto developers",
    "FileDescription": "Guitar Pro & MIDI utilities",
    "FileVersion": "0.0.0.2",
    "InternalName": "zelto",
    "LegalCopyright": "Copyright (C) The zelto developers",
    "LegalTrademarks": "",
    "OriginalFilename": "zelto.dll",
    "ProductName": "zelto",
    "ProductVersion": "0.0.0.2",
}
US_ENGLISH = 0x0409
CODE_PAGE_1252 = 1252
VFT_DLL = 2
RT_VERSION = 16
# What Windows itself provides; the compiler's runtimes must be inside the DLL.
SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "user32.dll", "advapi32.dll", "ntdll.dll"}


class Checks:
    def __init__(self):
        self.passed = 0
        self.failed = 0

    def check(self, condition, what):
        if condition:
            self.passed += 1
        else:
            self.failed += 1
            print(f"FAILED: {what}")
        return condition


def read_export_table(path):
    """The (plain name, argument bytes) of every entry, in table order."""
    with open(path, encoding="ascii") as table:
        text = table.read()
    text = re.sub(r"/\*.*?\*/", "", text, flags=re.S)
    text = re.sub(r"//[^\n]*", "", text)
    entries = re.findall(
        r"ZELTO_EXPORT\(\s*[A-Za-z]+\s*,[^,]+,\s*(ZELTO_\w+)\s*,\s*\([^)]*\)\s*,\s*(\d+)\s*\)", text)
    return [(name, int(argument_bytes)) for name, argument_bytes in entries]


def expected_ordinals(entries):
    """Plain name -> odd ordinal and decorated name -> the next even one, by
    byte-wise rank of the plain names."""
    ordinals = {}
    plain_names = sorted((name.encode("ascii"), argument_bytes) for name, argument_bytes in entries)
    for rank, (name, argument_bytes) in enumerate(plain_names):
        plain = name.decode("ascii")
        ordinals[plain] = 2 * rank + 1
        ordinals[f"{plain}@{argument_bytes}"] = 2 * rank + 2
    return ordinals


def parse_objdump(listing):
    """Export name, ordinal base, ordinal -> RVA, name -> ordinal and the
    imported DLLs from `objdump -p`."""
    name = re.search(r"^Name\s+[0-9a-fA-F]+\s+(\S+)", listing, re.M)
    base = re.search(r"^Ordinal Base\s+(\d+)", listing, re.M)
    ordinal_base = int(base.group(1)) if base else None
    addresses = {}
    section = re.search(r"Export Address Table -- Ordinal Base \d+\n(.*?)\n\s*\n", listing, re.S)
    if section:
        for index, biased, rva in re.findall(r"\[\s*(\d+)\]\s+\+base\[\s*(\d+)\]\s+([0-9a-fA-F]+)",
                                             section.group(1)):
            addresses[int(biased)] = int(rva, 16)
    names = {}
    section = re.search(r"\[Ordinal/Name Pointer\] Table\n(.*?)(?:\n\s*\n|\Z)", listing, re.S)
    if section and ordinal_base is not None:
        for line in section.group(1).splitlines():
            # Older objdumps print "[ 1] +base[ 2] name", newer ones "[ 1] name"
            # with the index counted from the ordinal base.
            biased = re.match(r"\s*\[\s*\d+\]\s+\+base\[\s*(\d+)\]\s+(\S+)", line)
            plain = re.match(r"\s*\[\s*(\d+)\]\s+(\S+)", line)
            if biased:
                names[biased.group(2)] = int(biased.group(1))
            elif plain:
                names[plain.group(2)] = int(plain.group(1)) + ordinal_base
    imports = re.findall(r"^\s*DLL Name:\s*(\S+)", listing, re.M)
    return (name.group(1) if name else None), ordinal_base, addresses, names, imports


def check_exports(checks, listing, entries):
    export_name, ordinal_base, addresses, names, imports = parse_objdump(listing)
    expected = expected_ordinals(entries)
    checks.check(len(entries) == 48, f"the export table lists {len(entries)} functions, not 48")
    checks.check(export_name == "zelto.dll", f"export name is {export_name!r}, not 'zelto.dll'")
    checks.check(ordinal_base == 1, f"ordinal base is {ordinal_base}, not 1")
    checks.check(len(names) == 2 * len(entries), f"{len(names)} export names, not {2 * len(entries)}")
    checks.check(sorted(addresses) == list(range(1, 2 * len(entries) + 1)),
                 f"the export address table holds ordinals {sorted(addresses)[:3]}... "
                 f"({len(addresses)} of them), not exactly 1 to {2 * len(entries)}")
    for export, ordinal in sorted(expected.items(), key=lambda item: item[1]):
        checks.check(names.get(export) == ordinal,
                     f"{export}: ordinal {names.get(export)}, expected {ordinal}")
    for export in sorted(set(names) - set(expected)):
        checks.check(False, f"{export} is exported but is not in the export table")
    for plain, argument_bytes in entries:
        decorated = f"{plain}@{argument_bytes}"
        plain_address = addresses.get(names.get(plain))
        checks.check(plain_address is not None and plain_address == addresses.get(names.get(decorated)),
                     f"{plain} and {decorated} lead to different code")
    for imported in imports:
        checks.check(imported.lower() in SYSTEM_DLLS or imported.lower().startswith("api-ms-win-"),
                     f"imports {imported}, which is not a system DLL")


def check_version_resource(checks, dll_path):
    try:
        import pefile
    except ImportError:
        checks.check(False, "python3-pefile is not installed: cannot read the version resource")
        return
    image = pefile.PE(dll_path)
    checks.check(image.FILE_HEADER.Machine == pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"],
                 "the DLL is not 32-bit x86 code")
    checks.check(image.is_dll(), "the file is not marked as a DLL")
    fixed = getattr(image, "VS_FIXEDFILEINFO", None)
    if not checks.check(bool(fixed), "no fixed version information"):
        return
    fixed = fixed[0]
    checks.check((fixed.FileVersionMS, fixed.FileVersionLS) == (0, 2),
                 f"FILEVERSION is {fixed.FileVersionMS:#x},{fixed.FileVersionLS:#x}, not 0,0,0,2")
    checks.check((fixed.ProductVersionMS, fixed.ProductVersionLS) == (0, 2),
                 f"PRODUCTVERSION is {fixed.ProductVersionMS:#x},{fixed.ProductVersionLS:#x}, not 0,0,0,2")
    checks.check(fixed.FileType == VFT_DLL, f"file type {fixed.FileType}, not VFT_DLL")

    languages = []
    for resource_type in image.DIRECTORY_ENTRY_RESOURCE.entries:
        if resource_type.id == RT_VERSION:
            for resource in resource_type.directory.entries:
                languages += [language.id for language in resource.directory.entries]
    checks.check(languages == [US_ENGLISH], f"version resource languages {languages}, not [0x0409]")

    tables, translations = [], []
    for file_info in image.FileInfo:
        for entry in file_info:
            if entry.Key == b"StringFileInfo":
                tables += entry.StringTable
            elif entry.Key == b"VarFileInfo":
                translations += [var.entry.get(b"Translation") for var in entry.Var]
    checks.check([table.LangID.upper() for table in tables] == [b"040904E4"],
                 f"string tables {[table.LangID for table in tables]}, not one for 040904E4")
    checks.check(translations == [f"{US_ENGLISH:#06x} {CODE_PAGE_1252:#06x}"],
                 f"translations {translations}, not US English in code page 1252")
    strings = {key.decode(): value.decode() for table in tables for key, value in table.entries.items()}
    for key, value in EXPECTED_STRINGS.items():
        checks.check(strings.get(key) == value, f"{key} is {strings.get(key)!r}, not {value!r}")
    for key in sorted(set(strings) - set(EXPECTED_STRINGS)):
        checks.check(False, f"unexpected version string {key}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--dll", required=True)
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--export-table", required=True)
    arguments = parser.parse_args()

    checks = Checks()
    entries = read_export_table(arguments.export_table)
    listing = subprocess.run([arguments.objdump, "-p", arguments.dll], check=True,
                             capture_output=True, text=True).stdout
    check_exports(checks, listing, entries)
    check_version_resource(checks, arguments.dll)
    print(f"check_dll: {checks.passed} checks passed, {checks.failed} failed")
    return 0 if checks.failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
