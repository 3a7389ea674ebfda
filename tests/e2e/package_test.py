#!/usr/bin/python3
"""Checks the installation and the Debian package of a built tree.

    package_test.py install --build-dir BUILD   cmake --install into a temporary prefix
    package_test.py deb --build-dir BUILD       cpack -G DEB, dpkg -i, checks, dpkg -r (root)

Exit status 0 on success, 1 on failure, 77 when the check cannot run here (the reason is
printed); the last line is "N passed, N failed" or "0 passed, 0 failed, 1 skipped".
"""

import argparse
import os
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
ICON_SIZES = sorted(int(p.stem.split("-")[1]) for p in (h.REPO / "res/icons").glob("flowbright-*.png"))
METAINFO = "share/metainfo/org.flowbright.Flowbright.metainfo.xml"


def expected_files():
    files = ["bin/flowbright", "lib/flowbright/Flowbright.lnk",
             "share/applications/flowbright.desktop", METAINFO,
             "share/doc/flowbright/help.html", "share/icons/hicolor/scalable/apps/flowbright.svg"]
    files += [f"share/icons/hicolor/{n}x{n}/apps/flowbright.png" for n in ICON_SIZES]
    return files


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
    for rel, source in ((METAINFO, "res/flowbright.metainfo.xml"),
                        ("share/doc/flowbright/help.html", "docs/help.html")):
        check((root / rel).read_bytes() == (h.REPO / source).read_bytes(), f"{rel} differs")
    for n in ICON_SIZES:
        installed = root / f"share/icons/hicolor/{n}x{n}/apps/flowbright.png"
        check(installed.read_bytes() == (h.REPO / f"res/icons/flowbright-{n}.png").read_bytes(),
              f"icon {n}x{n} differs from res/icons/flowbright-{n}.png")

    entry = h.parse_desktop_entry(root / "share/applications/flowbright.desktop")
    check(entry.get("Type") == "Application" and entry.get("Name") == "Flowbright",
          f"desktop entry {entry}")
    check(entry.get("Icon") == "flowbright", f"Icon={entry.get('Icon')}")
    check(h.split_exec(entry.get("Exec", "")) == [str(prefix / "bin/flowbright")],
          f"Exec={entry.get('Exec')}")
    check(entry.get("TryExec") == str(prefix / "bin/flowbright"), f"TryExec={entry.get('TryExec')}")
    check(entry.get("Path") == str(prefix / "lib/flowbright"), f"Path={entry.get('Path')}")
    check("@" not in "".join(entry.values()), "an unreplaced placeholder in the desktop entry")

    validators = []
    if shutil.which("desktop-file-validate"):
        validators.append(["desktop-file-validate",
                           str(root / "share/applications/flowbright.desktop")])
    if shutil.which("appstreamcli"):
        validators.append(["appstreamcli", "validate", "--no-net", str(root / METAINFO)])
    for argv in validators:
        result = h.run(argv, check_rc=False, timeout=60)
        check(result.returncode == 0, f"{argv[0]}: {result.stdout}{result.stderr}")


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


def package_state(name):
    result = h.run(["dpkg-query", "-W", "-f=${Status}", name], check_rc=False)
    return result.stdout.strip() if result.returncode == 0 else ""


def test_deb(build):
    if not h.is_root():
        raise h.TestSkipped("installing a package needs root")
    for tool in ("cpack", "dpkg", "dpkg-deb"):
        if not shutil.which(tool):
            raise h.TestSkipped(f"{tool} is not installed")
    if "installed" in package_state("flowbright").split():
        raise h.TestSkipped("a flowbright package is installed already; it is left alone")
    work = Path(tempfile.mkdtemp(prefix="fb-deb-"))
    installed = False
    try:
        h.run(["cpack", "-G", "DEB", "--config", str(build / "CPackConfig.cmake"), "-B",
               str(work)], timeout=300)
        debs = list(work.glob("*.deb"))
        check(len(debs) == 1, f"cpack made {debs}")
        deb = debs[0]
        fields = {}
        for line in h.run(["dpkg-deb", "-f", str(deb)]).stdout.splitlines():
            if ":" in line and not line.startswith(" "):
                key, value = line.split(":", 1)
                fields[key] = value.strip()
        check(fields.get("Package") == "flowbright", f"Package: {fields.get('Package')}")
        check(fields.get("Version") == "4.3.0", f"Version: {fields.get('Version')}")
        check("@" in fields.get("Maintainer", ""), f"Maintainer: {fields.get('Maintainer')}")
        check(fields.get("Description"), "no Description")
        depends = fields.get("Depends", "")
        for runtime in ("libqt6core6", "libqt6gui6", "libqt6widgets6"):
            check(runtime in depends, f"Depends lacks {runtime}: {depends}")
        contents = h.run(["dpkg-deb", "-c", str(deb)]).stdout
        for rel in expected_files():
            check(f"./usr/{rel}" in contents, f"/usr/{rel} not in the package")

        h.run(["dpkg", "-i", str(deb)], timeout=300)
        installed = True
        check("installed" in package_state("flowbright").split(), "dpkg does not list it")
        check_layout("/usr", "/usr")
        listed = [p for p in h.run(["dpkg", "-L", "flowbright"]).stdout.splitlines()
                  if p.startswith("/usr/")]

        h.run(["dpkg", "-r", "flowbright"], timeout=300)
        installed = False
        state = package_state("flowbright")
        check("installed" not in state.split(), f"still installed after dpkg -r: {state}")
        owned_dirs = ("/usr/lib/flowbright", "/usr/share/doc/flowbright")
        for path in listed:
            if path in owned_dirs or not os.path.isdir(path) or os.path.islink(path):
                check(not os.path.lexists(path), f"{path} left behind by dpkg -r")
    finally:
        if installed:
            h.run(["dpkg", "-r", "flowbright"], check_rc=False, timeout=300)
        shutil.rmtree(work, ignore_errors=True)


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
