#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Checks the installation and the Debian package of a built tree.

    package_test.py install --build-dir BUILD   cmake --install into a temporary prefix
    package_test.py deb --build-dir BUILD       cpack -G DEB; the package's contents, control
                                                fields and lintian; then (as root) an install
                                                into a throwaway root and its removal

The package never reaches the machine's own package database: the test checks that
/var/lib/dpkg/status is byte for byte the same after it.

Exit status 0 on success, 1 on failure, 77 when the check cannot run here (the reason is
printed); the last line is "N passed, N failed" or "0 passed, 0 failed, 1 skipped".
"""

import argparse
import gzip
import hashlib
import os
import pwd
import re
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

sys.dont_write_bytecode = True  # keep the source tree free of __pycache__
sys.path.insert(0, str(Path(__file__).resolve().parent))

import harness as h  # noqa: E402
from harness import check  # noqa: E402

SKIP = 77
ICON_SIZES = sorted(int(p.stem.split("-")[1])
                    for p in (h.REPO / "res/icons").glob("flowbright-*.png"))
APP_ID = "org.flowbright.flowbright"
DESKTOP = f"share/applications/{APP_ID}.desktop"
METAINFO = f"share/metainfo/{APP_ID}.metainfo.xml"
DOC = "share/doc/flowbright"
HOST_DPKG_STATUS = Path("/var/lib/dpkg/status")


def expected_files():
    files = ["bin/flowbright", "lib/flowbright/Flowbright.lnk", DESKTOP, METAINFO,
             f"{DOC}/help.html", f"{DOC}/copyright", f"{DOC}/changelog.gz",
             "share/man/man1/flowbright.1.gz", "share/icons/hicolor/scalable/apps/flowbright.svg"]
    files += [f"share/icons/hicolor/{n}x{n}/apps/flowbright.png" for n in ICON_SIZES]
    return files


def check_desktop_entry(root, prefix):
    entry = h.parse_desktop_entry(root / DESKTOP)
    check(entry.get("Type") == "Application" and entry.get("Name") == "Flowbright",
          f"desktop entry {entry}")
    check(entry.get("Icon") == "flowbright", f"Icon={entry.get('Icon')}")
    check(h.split_exec(entry.get("Exec", "")) == [str(prefix / "bin/flowbright")],
          f"Exec={entry.get('Exec')}")
    check(entry.get("TryExec") == str(prefix / "bin/flowbright"), f"TryExec={entry.get('TryExec')}")
    check(entry.get("Path") == str(prefix / "lib/flowbright"), f"Path={entry.get('Path')}")
    check("@" not in "".join(entry.values()), "an unreplaced placeholder in the desktop entry")


def check_validators(root):
    validators = []
    if shutil.which("desktop-file-validate"):
        validators.append(["desktop-file-validate", str(root / DESKTOP)])
    if shutil.which("appstreamcli"):
        validators.append(["appstreamcli", "validate", "--pedantic", "--no-net",
                           str(root / METAINFO)])
    for argv in validators:
        result = h.run(argv, check_rc=False, timeout=60)
        # appstreamcli prints its verdict even when all is well; a remark ("P: ...", "I: ...")
        # is a finding even when the validation passes.
        remarks = [line for line in result.stdout.splitlines() if re.match(r"[EWIP]: ", line)]
        check(result.returncode == 0 and not remarks, f"{argv[0]}: {result.stdout}{result.stderr}")


def check_layout(root, prefix):
    """`root` is where the files are; `prefix` the prefix the installation was made for."""
    root, prefix = Path(root), Path(prefix)
    check(ICON_SIZES, "no icons in res/icons")
    for rel in expected_files():
        check(os.path.lexists(root / rel), f"{rel} not installed")
    program = root / "bin/flowbright"
    check(os.access(program, os.X_OK) and program.is_file(), "bin/flowbright is not executable")
    link = root / "lib/flowbright/Flowbright.lnk"
    check(link.is_symlink(), "Flowbright.lnk is not a symbolic link")
    check(os.readlink(link) == "../../bin/flowbright", f"Flowbright.lnk -> {os.readlink(link)}")
    check(link.resolve() == program.resolve(), "Flowbright.lnk does not reach the program")
    same = ((METAINFO, f"res/{APP_ID}.metainfo.xml"), (f"{DOC}/help.html", "docs/help.html"),
            (f"{DOC}/copyright", "res/copyright"))
    same += tuple((f"share/icons/hicolor/{n}x{n}/apps/flowbright.png",
                   f"res/icons/flowbright-{n}.png") for n in ICON_SIZES)
    for rel, source in same:
        check((root / rel).read_bytes() == (h.REPO / source).read_bytes(),
              f"{rel} differs from {source}")
    for rel, source in ((f"{DOC}/changelog.gz", "res/changelog"),
                        ("share/man/man1/flowbright.1.gz", "res/flowbright.1")):
        check(gzip.decompress((root / rel).read_bytes()) == (h.REPO / source).read_bytes(),
              f"{rel} is not {source} compressed")
    check_desktop_entry(root, prefix)
    check_validators(root)


def test_install(build):
    prefix = Path(tempfile.mkdtemp(prefix="fb-install-")) / "opt dir" / "flowbright"
    try:
        h.run(["cmake", "--install", str(build), "--prefix", str(prefix)], timeout=120)
        check_layout(prefix, prefix)
        # The install manifest lists every file, the link included, so that it can be undone.
        manifest = (build / "install_manifest.txt").read_text().split("\n")
        for rel in expected_files():
            check(str(prefix / rel) in manifest, f"{rel} missing from install_manifest.txt")
    finally:
        shutil.rmtree(prefix.parent.parent, ignore_errors=True)


def control_fields(deb):
    fields = {}
    for line in h.run(["dpkg-deb", "-f", str(deb)]).stdout.splitlines():
        if ":" in line and not line.startswith(" "):
            key, value = line.split(":", 1)
            fields[key] = value.strip()
    return fields


def check_control(deb):
    fields = control_fields(deb)
    check(fields.get("Package") == "flowbright", f"Package: {fields.get('Package')}")
    check(fields.get("Version") == "4.3.0", f"Version: {fields.get('Version')}")
    check("@" in fields.get("Maintainer", ""), f"Maintainer: {fields.get('Maintainer')}")
    check(fields.get("Description"), "no Description")
    depends = fields.get("Depends", "")
    for runtime in ("libqt6core6", "libqt6gui6", "libqt6widgets6"):
        check(runtime in depends, f"Depends lacks {runtime}: {depends}")


def check_contents(deb):
    """Every file under /usr, owned by root, none writable by others, none set-id."""
    entries = {}
    for line in h.run(["dpkg-deb", "-c", str(deb)]).stdout.splitlines():
        mode, owner, _size, _date, _time, path = line.split(None, 5)
        path = path.split(" -> ")[0]
        entries[path] = (mode, owner)
        check(path == "./usr/" or path.startswith("./usr/"), f"{path} outside /usr")
        check(owner == "root/root", f"{path} owned by {owner}")
        check(mode[8] != "w" or mode[0] == "l", f"{path} is writable by everyone ({mode})")
        check(not set(mode[1:]) & set("sStT"), f"{path} has a set-id or sticky bit ({mode})")
    for rel in expected_files():
        check(f"./usr/{rel}" in entries, f"/usr/{rel} not in the package")
    check(entries["./usr/bin/flowbright"][0] == "-rwxr-xr-x",
          f"/usr/bin/flowbright is {entries['./usr/bin/flowbright'][0]}")


def check_lintian(deb):
    """Debian's package checker finds no error and no warning."""
    if not shutil.which("lintian"):
        print("note: lintian is not installed; the package is not linted")
        return
    result = h.run(["lintian", "--display-info", "--tag-display-limit", "0", str(deb)],
                   check_rc=False, timeout=300)
    findings = [line for line in result.stdout.splitlines() if line[:2] in ("E:", "W:")]
    for line in result.stdout.splitlines():
        if line.startswith("I:"):
            print(f"lintian {line}")
    check(not findings, "lintian: " + "; ".join(findings))


def dpkg_in(root, *args):
    """dpkg acting on the package database under `root` only, with its log kept there too."""
    return h.run(["dpkg", f"--root={root}", f"--log={root}/dpkg.log", "--force-depends",
                  "--force-script-chrootless", *args], timeout=300)


def run_installed_as(user, program, home, env_extra=None):
    """Starts the installed program as `user` on no display at all (Qt's offscreen platform),
    lets it start, and ends it the way a logout does."""
    env = {"HOME": str(home), "PATH": "/usr/bin:/bin", "LANG": "C.UTF-8",
           "QT_QPA_PLATFORM": "offscreen", "XDG_RUNTIME_DIR": str(home / "runtime"),
           "WINEPREFIX": str(home / ".wine")}
    env.update(env_extra or {})
    proc = subprocess.Popen(["setpriv", f"--reuid={user.pw_uid}", f"--regid={user.pw_gid}",
                             "--clear-groups",
                             "--", str(program)], env=env, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, start_new_session=True)
    try:
        try:
            proc.wait(3)
            raise h.TestFailure(f"the installed program ended by itself: {proc.stderr.read()}")
        except subprocess.TimeoutExpired:
            pass
        proc.terminate()
        check(proc.wait(15) == 0, "exit status after SIGTERM")
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()


def check_run_by_a_user(root, work):
    """The installed program, run as an ordinary user, keeps its settings in the user's
    ~/.config (the program's folder is not the user's to write) and reads them back."""
    if not shutil.which("setpriv"):
        raise h.TestSkipped("setpriv is not installed")
    user = pwd.getpwnam("nobody")
    home = work / "home"
    (home / "runtime").mkdir(parents=True, mode=0o700)
    for path in (home, home / "runtime"):
        os.chown(path, user.pw_uid, user.pw_gid)
    work.chmod(0o755)
    program = root / "usr/bin/flowbright"
    run_installed_as(user, program, home)
    ini = home / ".config/flowbright/flowbright.ini"
    check(ini.is_file(), f"no settings file in {ini.parent} after a run as {user.pw_name}")
    check(not (program.parent / "flowbright.ini").exists(), "a settings file beside /usr/bin")
    # A value edited by hand is read back, and written back as it was.
    text = ini.read_text()
    check("srcaddr=120" in text, f"srcaddr default missing: {text}")
    ini.write_text(text.replace("srcaddr=120", "srcaddr=150"))
    run_installed_as(user, program, home)
    check("srcaddr=150" in ini.read_text(), "a hand-edited value did not survive a restart")


def check_throwaway_install(deb, work):
    """Installs into an empty root with a package database of its own, then purges it."""
    root = work / "root"
    admin = root / "var/lib/dpkg"
    for sub in ("updates", "info"):
        (admin / sub).mkdir(parents=True)
    (admin / "status").touch()
    before = sorted(p.relative_to(root) for p in root.rglob("*"))

    dpkg_in(root, "--install", str(deb))
    status = dpkg_in(root, "--status", "flowbright").stdout
    check("Status: install ok installed" in status, f"not installed in {root}: {status}")
    check_layout(root / "usr", Path("/usr"))
    listed = dpkg_in(root, "--listfiles", "flowbright").stdout.splitlines()
    for rel in expected_files():
        check(f"/usr/{rel}" in listed, f"dpkg -L lacks /usr/{rel}")
    check_run_by_a_user(root, work)

    dpkg_in(root, "--purge", "flowbright")
    status = h.run(["dpkg-query", f"--admindir={admin}", "-W", "-f=${Status}", "flowbright"],
                   check_rc=False)
    check("installed" not in status.stdout.split(), f"still listed after --purge: {status.stdout}")
    ignored = {Path("dpkg.log")}
    after = sorted(p.relative_to(root) for p in root.rglob("*")
                   if p.relative_to(root) not in ignored and admin not in p.parents)
    left = [str(p) for p in after if p not in before and p != Path("var/lib/dpkg")]
    check(not left, f"left behind by --purge: {left}")
    check(not list((admin / "info").glob("flowbright*")), "dpkg info files left behind")


def test_deb(build):
    for tool in ("cpack", "dpkg", "dpkg-deb"):
        if not shutil.which(tool):
            raise h.TestSkipped(f"{tool} is not installed")
    host_status = hashlib.sha256(HOST_DPKG_STATUS.read_bytes()).hexdigest() \
        if HOST_DPKG_STATUS.exists() else None
    work = Path(tempfile.mkdtemp(prefix="fb-deb-"))
    try:
        h.run(["cpack", "-G", "DEB", "--config", str(build / "CPackConfig.cmake"), "-B",
               str(work / "out")], timeout=300)
        debs = list((work / "out").glob("*.deb"))
        check(len(debs) == 1, f"cpack made {debs}")
        check_control(debs[0])
        check_contents(debs[0])
        check_lintian(debs[0])
        if not h.is_root():
            raise h.TestSkipped("contents, control fields and lintian checked; installing into "
                                "a throwaway root needs root")
        check_throwaway_install(debs[0], work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
        if host_status is not None:
            now = hashlib.sha256(HOST_DPKG_STATUS.read_bytes()).hexdigest()
            check(now == host_status, f"{HOST_DPKG_STATUS} changed during the test")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("mode", choices=("install", "deb"))
    parser.add_argument("--build-dir", required=True)
    args = parser.parse_args()
    build = Path(args.build_dir).resolve()
    if not (build / "flowbright").is_file():
        print(f"{args.mode}: the program is not built in {build}")
        print("0 passed, 1 failed")
        return 1
    try:
        (test_install if args.mode == "install" else test_deb)(build)
    except h.TestSkipped as reason:
        print(f"[SKIP] {args.mode}: {reason}")
        print("0 passed, 0 failed, 1 skipped")
        return SKIP
    except (h.TestFailure, subprocess.SubprocessError) as error:
        print(f"[FAIL] {args.mode}: {error}")
        print("0 passed, 1 failed")
        return 1
    print(f"[PASS] {args.mode}")
    print("1 passed, 0 failed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
