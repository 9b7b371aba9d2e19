#!/usr/bin/env python3
"""The set-up's failure paths, with stand-in commands first on PATH:
scripts/install-deps against an apt whose i386 index is in mid-sync, and the
Wine tests' decision to skip where Wine cannot start a 32-bit program."""

import contextlib
import io
import json
import os
import stat
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "windows"))
import wine_test  # noqa: E402

# Stand-ins for the commands install-deps calls. They keep the machine's
# state in $FAKE: installed packages, foreign architectures, and a log.
STAND_INS = {
    "dpkg-query": r"""#!/bin/sh
# dpkg-query -W -f=... PACKAGE
for p; do :; done
grep -qx "$p" "$FAKE/installed" && { echo 'install ok installed'; exit 0; }
exit 1
""",
    "dpkg": r"""#!/bin/sh
echo "dpkg $*" >>"$FAKE/log"
case "$1" in
  --print-foreign-architectures) cat "$FAKE/archs" ;;
  --add-architecture) echo "$2" >>"$FAKE/archs" ;;
  --remove-architecture) grep -vx "$2" "$FAKE/archs" >"$FAKE/archs.new"; mv "$FAKE/archs.new" "$FAKE/archs" ;;
esac
""",
    "apt-get": r"""#!/bin/sh
echo "apt-get $*" >>"$FAKE/log"
i386=0; grep -qx i386 "$FAKE/archs" && i386=1
case "$1" in
  update)
    if [ "$i386" = 1 ] && [ -e "$FAKE/i386-index-fails" ]; then
      echo "E: Failed to fetch http://deb.example/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 192.0.2.1 80]" >&2
      echo "E: Some index files failed to download. They have been ignored, or old ones used instead." >&2
      exit 100
    fi ;;
  install)
    shift
    for p; do
      case "$p" in
        -*) ;;
        *:i386) [ "$i386" = 1 ] && [ ! -e "$FAKE/i386-index-fails" ] || {
                  echo "E: Unable to correct problems, you have held broken packages." >&2; exit 100; } ;;
        *) [ -e "$FAKE/install-fails" ] && { echo "E: Unable to locate package $p" >&2; exit 100; } ;;
      esac
    done
    for p; do case "$p" in -*) ;; *) echo "$p" >>"$FAKE/installed" ;; esac; done ;;
esac
""",
    "sudo": '#!/bin/sh\nexec "$@"\n',
}


class InstallDeps(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.fake = self.dir.name
        bin_dir = os.path.join(self.fake, "bin")
        os.makedirs(bin_dir)
        for name, text in STAND_INS.items():
            path = os.path.join(bin_dir, name)
            with open(path, "w") as f:
                f.write(text)
            os.chmod(path, stat.S_IRWXU)
        for name in ["installed", "archs", "log"]:
            open(os.path.join(self.fake, name), "w").close()
        self.env = dict(os.environ, FAKE=self.fake, PATH=bin_dir + ":" + os.environ["PATH"],
                        HOTFX_APT_PAUSE="0", HOTFX_APT_TRIES="3",
                        HOTFX_DEPS_STATE=os.path.join(self.fake, "state"))

    def tearDown(self):
        self.dir.cleanup()

    def touch(self, name):
        open(os.path.join(self.fake, name), "w").close()

    def read(self, name):
        with open(os.path.join(self.fake, name)) as f:
            return f.read()

    def install(self, *args):
        run = subprocess.run([os.path.join(ROOT, "scripts", "install-deps"), "--test", *args],
                             env=self.env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                             timeout=60)
        self.read_log = self.read("log")
        open(os.path.join(self.fake, "log"), "w").close()
        return run.returncode, run.stdout.decode()

    def test_i386_index_in_mid_sync(self):
        self.touch("i386-index-fails")
        code, out = self.install()
        self.assertEqual(code, 0, out)
        # The required set installed; the 32-bit part did not.
        self.assertIn("wine64\n", self.read("installed"))
        self.assertNotIn(":i386", self.read("installed"))
        # One line names the failing index, after the retries.
        failing = [line for line in out.splitlines() if "apt-get update still fails" in line]
        self.assertEqual(len(failing), 1, out)
        self.assertIn("binary-i386/Packages.xz", failing[0])
        self.assertEqual(self.read_log.count("apt-get update"), 1 + 3, self.read_log)
        # The architecture this run added is gone again.
        self.assertIn("dpkg --add-architecture i386", self.read_log)
        self.assertEqual(self.read("archs"), "")
        left_out = [line for line in out.splitlines() if "left out the 32-bit part" in line]
        self.assertEqual(len(left_out), 1, out)
        self.assertIn("held broken packages", left_out[0])

        # A later run remembers the outcome and pays no retries.
        code, out = self.install()
        self.assertEqual(code, 0, out)
        self.assertNotIn("apt-get", self.read_log)
        self.assertNotIn("dpkg --add-architecture", self.read_log)
        self.assertIn("left out the 32-bit part", out)

        # Asked to, it tries again, and once the index is back it installs.
        os.remove(os.path.join(self.fake, "i386-index-fails"))
        code, out = self.install("--retry-32bit")
        self.assertEqual(code, 0, out)
        self.assertIn("wine32:i386\n", self.read("installed"))
        self.assertEqual(self.read("archs"), "i386\n")
        self.assertFalse(os.path.exists(os.path.join(self.fake, "state", "install-deps-32bit")))
        code, out = self.install()
        self.assertEqual((code, self.read_log), (0, ""), out)
        self.assertIn("everything is installed", out)

    def test_an_i386_architecture_the_user_had_stays(self):
        with open(os.path.join(self.fake, "archs"), "w") as f:
            f.write("i386\n")
        self.touch("i386-index-fails")
        code, out = self.install()
        self.assertEqual(code, 0, out)
        self.assertNotIn("remove-architecture", self.read_log)
        self.assertEqual(self.read("archs"), "i386\n")

    def test_no_32bit_leaves_it_alone(self):
        code, out = self.install("--no-32bit")
        self.assertEqual(code, 0, out)
        self.assertNotIn("i386", self.read_log + self.read("installed"))

    def test_a_required_package_that_cannot_install_fails(self):
        self.touch("install-fails")
        code, out = self.install()
        self.assertNotEqual(code, 0, out)
        self.assertIn("E: Unable to locate package", out)
        self.assertNotIn("32-bit part:", out)


class WineSkip(unittest.TestCase):
    """A 64-bit-only Wine: `wine --version` works, a 32-bit program does not
    start. The 32-bit cases skip with the reason; a Wine that starts it runs
    them."""

    def run_case(self, wine_script):
        with tempfile.TemporaryDirectory() as tmp:
            bin_dir = os.path.join(tmp, "bin")
            build = os.path.join(tmp, "build")
            os.makedirs(bin_dir)
            os.makedirs(os.path.join(build, "tests", "unit"))
            for name in wine_test.UNIT_TESTS + ["../../hotfx.exe"]:
                open(os.path.join(build, "tests", "unit", name), "w").close()
            wine = os.path.join(bin_dir, "wine")
            with open(wine, "w") as f:
                f.write(wine_script)
            os.chmod(wine, stat.S_IRWXU)
            with open(os.path.join(tmp, "state.json"), "w") as f:
                json.dump({"prefix": os.path.join(tmp, "prefix"), "display": ":99", "skip": ""}, f)
            old_path = os.environ["PATH"]
            os.environ["PATH"] = bin_dir + ":" + old_path
            out = io.StringIO()
            try:
                with contextlib.redirect_stdout(out):
                    reason = wine_test.cannot_start({"prefix": tmp, "display": ":99"},
                                                    wine_test.find_wine("x86"), "x86", build)
                    code = (wine_test.run(tmp, "x86", build, "load") if reason else None)
            finally:
                os.environ["PATH"] = old_path
            return reason, code, out.getvalue()

    def test_64bit_only_wine_skips(self):
        reason, code, out = self.run_case(
            '#!/bin/sh\n[ "$1" = --version ] && { echo wine-8.0; exit 0; }\n'
            'echo "it looks like wine32 is missing, you should install it." >&2\n'
            'echo "err:module:load_wow64_ntdll failed to load ntdll.dll error c0000135" >&2\n'
            'exit 0\n')  # as Debian's 64-bit loader does: it exits 0
        self.assertEqual(code, wine_test.SKIP)
        self.assertIn("32-bit Wine is not installed: wine32:i386", out)
        self.assertIn("wine32 is missing", out)

    def test_working_32bit_wine_runs(self):
        reason, code, out = self.run_case('#!/bin/sh\necho "Particles."\necho "  Step"\n')
        self.assertIsNone(reason, out)


if __name__ == "__main__":
    unittest.main()
