#!/usr/bin/python3
"""Checks the identity carried by the built quillmore.exe: machine type,
subsystem, imports, size, version record and icon.

Usage: win32_identity_test.py QUILLMORE_EXE MAKE_ICON_SCRIPT VERSION_HEADER

Reads the executable with pefile (Debian's python3-pefile), independently of
the tool chain that made it.
"""

import os
import re
import struct
import subprocess
import sys
import tempfile
import unittest

import pefile

EXE = None
MAKE_ICON = None
VERSION_HEADER = None

RT_ICON = 3
RT_GROUP_ICON = 14
RT_VERSION = 16


def resources(pe, type_id):
    """{resource id: bytes} for every resource of one type (any language)."""
    found = {}
    for type_entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if type_entry.id != type_id:
            continue
        for name_entry in type_entry.directory.entries:
            for lang_entry in name_entry.directory.entries:
                data = lang_entry.data.struct
                key = name_entry.id if name_entry.id is not None else str(
                    name_entry.name)
                found[key] = pe.get_data(data.OffsetToData, data.Size)
    return found


class IdentityTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(EXE)

    def test_is_a_32_bit_x86_graphical_program(self):
        header = self.pe.FILE_HEADER
        self.assertEqual(header.Machine, pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"])
        self.assertEqual(self.pe.OPTIONAL_HEADER.Magic, pefile.OPTIONAL_HEADER_MAGIC_PE)
        self.assertEqual(self.pe.OPTIONAL_HEADER.Subsystem,
                         pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"])
        self.assertTrue(header.Characteristics & 0x0002)  # executable image
        self.assertFalse(header.Characteristics & 0x2000)  # not a DLL

    def test_needs_only_system_libraries(self):
        dlls = {entry.dll.decode().lower()
                for entry in self.pe.DIRECTORY_ENTRY_IMPORT}
        self.assertTrue(dlls, "no imports found")
        self.assertLessEqual(dlls, {"kernel32.dll", "user32.dll", "msvcrt.dll"})
        for dll in dlls:
            self.assertFalse(dll.startswith("lib"), dll)  # no MinGW DLLs

    def test_makes_no_window_of_its_own(self):
        # The only window the program may show is the failure report's
        # message box, which the system makes.
        functions = {imp.name.decode()
                     for entry in self.pe.DIRECTORY_ENTRY_IMPORT
                     for imp in entry.imports if imp.name}
        self.assertIn("MessageBoxW", functions)
        for name in ("CreateWindowExW", "CreateWindowExA", "RegisterClassW",
                     "RegisterClassA", "RegisterClassExW", "RegisterClassExA",
                     "CreateDialogParamW", "DialogBoxParamW", "AllocConsole"):
            self.assertNotIn(name, functions)

    def test_is_smaller_than_one_megabyte(self):
        self.assertLess(os.path.getsize(EXE), 1 << 20)

    def test_fixed_version(self):
        self.assertEqual(len(self.pe.VS_FIXEDFILEINFO), 1)
        fixed = self.pe.VS_FIXEDFILEINFO[0]
        self.assertEqual(fixed.Signature, 0xFEEF04BD)
        self.assertEqual((fixed.FileVersionMS, fixed.FileVersionLS),
                         (0x00010000, 0))  # 1.0.0.0
        self.assertEqual((fixed.ProductVersionMS, fixed.ProductVersionLS),
                         (0x00010000, 0))
        self.assertEqual(fixed.FileType, 1)  # VFT_APP
        self.assertEqual(fixed.FileFlags & fixed.FileFlagsMask, 0)

    def test_version_strings(self):
        tables = [table
                  for info in self.pe.FileInfo[0]
                  if info.Key == b"StringFileInfo"
                  for table in info.StringTable]
        self.assertEqual(len(tables), 1)
        table = tables[0]
        self.assertEqual(table.LangID, b"040904B0")
        strings = {k.decode(): v.decode() for k, v in table.entries.items()}
        self.assertEqual(strings["FileVersion"], "1.00")
        self.assertEqual(strings["ProductVersion"], "1.00")
        self.assertEqual(strings["ProductName"], "quillmore")
        self.assertEqual(strings["InternalName"], "quillmore")
        self.assertEqual(strings["OriginalFilename"], "quillmore.exe")
        self.assertEqual(strings["CompanyName"], "Quillmore Developers")
        self.assertEqual(strings["FileDescription"],
                         "Lays out the SQL on the clipboard")
        self.assertEqual(set(strings), {
            "CompanyName", "FileDescription", "FileVersion", "InternalName",
            "OriginalFilename", "ProductName", "ProductVersion"})
        # The same version text as the one the layout filter prints.
        with open(VERSION_HEADER, encoding="utf-8") as f:
            shown = re.search(r'kVersionText\[\] = "([^"]*)"', f.read())
        self.assertIsNotNone(shown)
        self.assertEqual(strings["FileVersion"], shown.group(1))

    def test_translation_is_us_english_unicode(self):
        translations = [var.entry
                        for info in self.pe.FileInfo[0]
                        if info.Key == b"VarFileInfo"
                        for var in info.Var]
        self.assertEqual(translations, [{b"Translation": "0x0409 0x04b0"}])

    def test_one_icon_group_of_three_images(self):
        groups = resources(self.pe, RT_GROUP_ICON)
        self.assertEqual(len(groups), 1)
        group = next(iter(groups.values()))
        reserved, kind, count = struct.unpack_from("<HHH", group)
        self.assertEqual((reserved, kind, count), (0, 1, 3))
        icons = resources(self.pe, RT_ICON)
        self.assertEqual(len(icons), 3)

        seen = []
        for n in range(count):
            (width, height, colours, _, planes, bits, size,
             icon_id) = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * n)
            image = icons[icon_id]
            self.assertEqual(len(image), size)
            # The image itself: a bitmap of the stated size (its height
            # counts the colour bitmap and the mask) and depth, uncompressed.
            (header_size, bmp_width, bmp_height, bmp_planes, bmp_bits,
             compression) = struct.unpack_from("<IiiHHI", image)
            self.assertEqual(header_size, 40)
            self.assertEqual((bmp_width, bmp_height), (width, 2 * height))
            self.assertEqual((bmp_planes, bmp_bits), (1, bits))
            self.assertEqual(compression, 0)
            self.assertEqual(planes, 1)
            seen.append((width, height, colours, bits))
        self.assertEqual(sorted(seen), sorted([
            (32, 32, 2, 1), (32, 32, 16, 4), (16, 16, 16, 4)]))

    def test_icon_is_the_one_the_script_draws(self):
        with tempfile.TemporaryDirectory() as temp:
            ico = os.path.join(temp, "drawn.ico")
            subprocess.run([sys.executable, MAKE_ICON, ico], check=True)
            with open(ico, "rb") as f:
                drawn = f.read()
        count = struct.unpack_from("<H", drawn, 4)[0]
        drawn_images = []
        for n in range(count):
            size, offset = struct.unpack_from("<II", drawn, 6 + 16 * n + 8)
            drawn_images.append(drawn[offset:offset + size])
        built = list(resources(self.pe, RT_ICON).values())
        self.assertEqual(sorted(built), sorted(drawn_images))


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    EXE, MAKE_ICON, VERSION_HEADER = sys.argv[1:4]
    unittest.main(argv=sys.argv[:1], verbosity=2)
