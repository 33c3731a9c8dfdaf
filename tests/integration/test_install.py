#!/usr/bin/python3
# What `cmake --install` puts on a system: the program and everything a desktop needs to list, show
# and describe it (desktop entry, icons at every size, AppStream metadata, manual page), all valid.
import os
import shutil
import struct
import subprocess
import tempfile
import unittest

BUILD_DIR = os.environ.get("KOVRA_BUILD_DIR", "")
ICON_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)


def png_size(path):
    """(width, height) from a PNG's IHDR chunk; fails when the file is no PNG."""
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        raise AssertionError(f"{path} is not a PNG")
    return struct.unpack(">II", head[16:24])


class Install(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not os.path.isfile(os.path.join(BUILD_DIR, "cmake_install.cmake")):
            raise AssertionError(f"KOVRA_BUILD_DIR={BUILD_DIR!r} is not a configured build directory")
        cls.destdir = tempfile.mkdtemp(prefix="kovra-install-")
        result = subprocess.run(["cmake", "--install", BUILD_DIR, "--prefix", "/usr"], capture_output=True,
                                text=True, env=dict(os.environ, DESTDIR=cls.destdir), timeout=120)
        if result.returncode != 0:
            shutil.rmtree(cls.destdir, ignore_errors=True)
            raise AssertionError("cmake --install failed:\n" + result.stdout + result.stderr)
        cls.root = os.path.join(cls.destdir, "usr")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.destdir, ignore_errors=True)

    def path(self, relative):
        return os.path.join(self.root, relative)

    def check_tool(self, cmd):
        result = subprocess.run(cmd, capture_output=True, text=True, timeout=60)
        self.assertEqual(result.returncode, 0, f"{' '.join(cmd)}:\n{result.stdout}{result.stderr}")

    def test_everything_lands_under_the_prefix(self):
        for relative in ("bin/kovra-radio", "share/applications/org.kovra.Radio.desktop",
                         "share/metainfo/org.kovra.Radio.metainfo.xml",
                         "share/icons/hicolor/scalable/apps/kovra-radio.svg",
                         "share/man/man1/kovra-radio.1.gz", "share/doc/kovra-radio/copyright",
                         "share/doc/kovra-radio/changelog.gz"):
            with self.subTest(file=relative):
                self.assertTrue(os.path.isfile(self.path(relative)), f"{relative} not installed")
        self.assertTrue(os.access(self.path("bin/kovra-radio"), os.X_OK))

    def test_desktop_entry_and_metadata_are_valid_and_agree(self):
        desktop = self.path("share/applications/org.kovra.Radio.desktop")
        metainfo = self.path("share/metainfo/org.kovra.Radio.metainfo.xml")
        self.check_tool(["desktop-file-validate", desktop])
        self.check_tool(["appstreamcli", "validate", "--no-net", metainfo])
        with open(desktop) as f:
            entry = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)
        self.assertEqual(entry["Exec"].split()[0], "kovra-radio")
        self.assertEqual(entry["Icon"], "kovra-radio")
        with open(metainfo) as f:
            text = f.read()
        self.assertIn('<launchable type="desktop-id">org.kovra.Radio.desktop</launchable>', text)
        self.assertIn("<binary>kovra-radio</binary>", text)

    def test_icons_are_pngs_of_their_size(self):
        for size in ICON_SIZES:
            with self.subTest(size=size):
                png = self.path(f"share/icons/hicolor/{size}x{size}/apps/kovra-radio.png")
                self.assertTrue(os.path.isfile(png), f"no {size}px icon")
                self.assertEqual(png_size(png), (size, size))

    def test_installed_binary_answers_its_command_line(self):
        binary = self.path("bin/kovra-radio")
        env = {"PATH": "/usr/bin:/bin", "LANG": "C.UTF-8"}  # no display and no bus: options need neither
        version = subprocess.run([binary, "--version"], capture_output=True, text=True, env=env, timeout=15)
        self.assertEqual(version.returncode, 0, version.stderr)
        self.assertRegex(version.stdout.strip(), r"^kovra-radio \d+\.\d+\.\d+$")
        bogus = subprocess.run([binary, "--bogus"], capture_output=True, text=True, env=env, timeout=15)
        self.assertEqual(bogus.returncode, 2)
        self.assertIn("--bogus", bogus.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
