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


class Install(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.destdir = tempfile.mkdtemp(prefix="kovra-install-")
        cls.addClassCleanup(shutil.rmtree, cls.destdir, True)
        cls.root = os.path.join(cls.destdir, "usr")
        subprocess.run(["cmake", "--install", BUILD_DIR, "--prefix", "/usr"], check=True, capture_output=True,
                       env=dict(os.environ, DESTDIR=cls.destdir), timeout=120)

    def check_tool(self, *cmd):
        result = subprocess.run(cmd, capture_output=True, text=True, timeout=60)
        self.assertEqual(result.returncode, 0, f"{' '.join(cmd)}:\n{result.stdout}{result.stderr}")
        return result.stdout.strip()

    def test_everything_lands_under_the_prefix_and_is_valid(self):
        for relative in ("share/icons/hicolor/scalable/apps/kovra-radio.svg", "share/man/man1/kovra-radio.1.gz",
                         "share/doc/kovra-radio/copyright", "share/doc/kovra-radio/changelog.gz"):
            self.assertTrue(os.path.isfile(os.path.join(self.root, relative)), f"{relative} not installed")
        desktop = os.path.join(self.root, "share/applications/kovra-radio.desktop")
        metainfo = os.path.join(self.root, "share/metainfo/org.kovra.Radio.metainfo.xml")
        self.check_tool("desktop-file-validate", desktop)
        self.check_tool("appstreamcli", "validate", "--no-net", metainfo)
        with open(metainfo) as f:
            self.assertIn('<launchable type="desktop-id">kovra-radio.desktop</launchable>', f.read())
        for size in (16, 22, 24, 32, 48, 64, 128, 256):
            with open(os.path.join(self.root, f"share/icons/hicolor/{size}x{size}/apps/kovra-radio.png"), "rb") as f:
                head = f.read(24)
            self.assertEqual((head[:8], struct.unpack(">II", head[16:24])), (b"\x89PNG\r\n\x1a\n", (size, size)))

    def test_installed_binary_answers_its_command_line(self):
        binary = os.path.join(self.root, "bin/kovra-radio")
        self.assertRegex(self.check_tool(binary, "--version"), r"^kovra-radio \d+\.\d+\.\d+$")
        bogus = subprocess.run([binary, "--bogus"], capture_output=True, text=True, timeout=15)
        self.assertEqual((bogus.returncode, "--bogus" in bogus.stderr), (2, True))


if __name__ == "__main__":
    unittest.main(verbosity=2)
