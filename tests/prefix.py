"""Wine prefixes for the suites and the demo: copies of one pristine prefix (tools/wine-prefix: no crash
debugger), each with its own server, the robot in C:\\t; seed() applies machine.py's lines, export() lists."""
import hashlib
import os
import shutil
import subprocess

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WINE = os.environ.get("WINE", "wine")
WINESERVER = os.path.join(os.path.dirname(WINE), "wineserver")
ROBOT = r"C:\t\robot.exe"


class Prefix:
    def __init__(self, build, name):
        self.build = os.path.abspath(build)
        self.path = os.path.join(self.build, "prefixes", name)
        self.drive_c = os.path.join(self.path, "drive_c")
        self.env = dict(os.environ, WINEPREFIX=self.path)

    def start(self, tools=("robot.exe", "launcher.exe")):
        pristine = os.path.join(self.build, "prefixes", "pristine")
        if not os.path.exists(os.path.join(pristine, ".quellin-ready")):
            subprocess.run([os.path.join(ROOT, "tools", "wine-prefix")], env=dict(os.environ, WINEPREFIX=pristine),
                           check=True, stdout=subprocess.DEVNULL)
        shutil.rmtree(self.path, ignore_errors=True)
        subprocess.run(["cp", "-a", pristine, self.path], check=True)
        subprocess.run([WINESERVER, "-p"], env=self.env, check=True)
        # The first process after a server start hands its output to services.
        self.wine("wineboot", check=False, quiet=True)
        self.install(os.path.join(self.build, "tests"), "t", *tools)
        return self

    def stop(self, remove=False):
        subprocess.run([WINESERVER, "-k"], env=self.env, stderr=subprocess.DEVNULL)
        if remove:
            shutil.rmtree(self.path, ignore_errors=True)

    def popen(self, *args):
        return subprocess.Popen([WINE] + list(args), env=self.env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def install(self, source, folder, *names):
        os.makedirs(self.windows_path("C:\\" + folder), exist_ok=True)
        for n in names:
            shutil.copy(os.path.join(source, n), self.windows_path("C:\\%s\\%s" % (folder, n)))

    def windows_path(self, path):
        return os.path.join(self.drive_c, *path[3:].split("\\"))

    def wine(self, *args, check=True, quiet=False, cwd=None, timeout=180):
        out = subprocess.DEVNULL if quiet else subprocess.PIPE
        result = subprocess.run([WINE] + list(args), env=self.env, cwd=cwd, stdout=out, stderr=out,
                                stdin=subprocess.DEVNULL, timeout=timeout)
        text = (result.stdout or b"").decode("utf-8", "replace") + (result.stderr or b"").decode("utf-8", "replace")
        if check and result.returncode != 0:
            raise AssertionError("%s failed (%d): %s" % (" ".join(args), result.returncode, text[-2000:]))
        return result.returncode, text

    def version(self, program, version):
        self.wine("reg", "add", r"HKCU\Software\Wine\AppDefaults" + "\\" + program, "/v", "Version", "/d",
                  version, "/f", quiet=True)

    def seed(self, lines):
        with open(self.windows_path(r"C:\t\seed.txt"), "w", encoding="utf-8", newline="\n") as f:
            f.write("\n".join(lines) + "\n")
        self.wine(ROBOT, "seed", r"C:\t\seed.txt")

    def export(self, paths, folders=()):
        """Registry lines below the HKLM paths and "F <file> <sha256> <mode>"
        lines for the files below the Windows folders named."""
        self.wine(ROBOT, "export", r"C:\t\export.txt", *paths)
        with open(self.windows_path(r"C:\t\export.txt"), encoding="latin-1") as f:
            lines = {line for line in f.read().splitlines() if line}
        for folder in folders:
            for base, _, names in os.walk(self.windows_path("C:\\windows\\" + folder)):
                for full in (os.path.join(base, n) for n in names):
                    with open(full, "rb") as f:
                        digest = hashlib.sha256(f.read()).hexdigest()[:16]
                    rel = os.path.relpath(full, self.drive_c).replace(os.sep, "\\").lower()
                    lines.add("F %s %s %o" % (rel, digest, os.stat(full).st_mode & 0o222))
        return lines


def diff(label, expected, actual):
    """Lines of one set missing from the other, each said once."""
    return (["%s: missing: %s" % (label, line) for line in sorted(set(expected) - set(actual))] +
            ["%s: unexpected: %s" % (label, line) for line in sorted(set(actual) - set(expected))])
