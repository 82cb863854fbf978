#!/usr/bin/env python3
"""The Debian package from end to end: cpack builds it, its contents and fields are checked, lintian
reads it, dpkg installs it, headless Ardour finds both plug-in formats in the system folders with
their parameters, dpkg purges it, and nothing of it is left.

    package_test.py --build-dir BUILD --version X.Y.Z --ardour-harness tests/ardour/ardour_host.py

Installing needs root (CI runs as root). Exit status 0 = pass, 1 = fail, 77 = skipped: not root,
the package is already installed here (the test would remove it), or Ardour is missing.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

PACKAGE = "kestrune"
PRODUCT = "Zarnith Quorle Kestrune"
VST3 = f"/usr/lib/vst3/{PRODUCT}.vst3"
LV2 = f"/usr/lib/lv2/{PRODUCT}.lv2"
LV2_URI = "urn:zarnithquorlebrefton:kestrune"
DOC = f"/usr/share/doc/{PACKAGE}"
# Files the package must hold, with their modes: programs run, everything else is only read.
EXPECTED = {
    f"{VST3}/Contents/x86_64-linux/{PRODUCT}.so": 0o644,
    f"{VST3}/Contents/Resources/moduleinfo.json": 0o644,
    f"{LV2}/lib{PRODUCT}.so": 0o644,
    f"{LV2}/manifest.ttl": 0o644,
    f"{LV2}/dsp.ttl": 0o644,
    "/usr/bin/kestrune": 0o755,
    "/usr/bin/kestrune-host": 0o755,
    "/usr/share/man/man1/kestrune.1.gz": 0o644,
    "/usr/share/man/man1/kestrune-host.1.gz": 0o644,
    "/usr/share/applications/kestrune.desktop": 0o644,
    "/usr/share/icons/hicolor/64x64/apps/kestrune.png": 0o644,
    f"{DOC}/copyright": 0o644,
    f"{DOC}/LICENSE-samples.md": 0o644,
    f"{DOC}/changelog.gz": 0o644,
}
# Every scale of the repository's tunings/ folder, where the README tells users to find them.
EXPECTED.update({f"/usr/share/{PACKAGE}/tunings/{p.name}": 0o644
                 for p in (Path(__file__).resolve().parents[2] / "tunings").iterdir() if p.suffix in (".scl", ".kbm")})
# Lintian findings that are not ours to fix, with the reason; any other error or warning fails.
LINTIAN_ACCEPTED = {
}
SKIP = 77


class Failure(Exception):
    pass


def run(*command, check=True, **kwargs):
    result = subprocess.run([str(c) for c in command], capture_output=True, text=True, **kwargs)
    if check and result.returncode != 0:
        raise Failure(f"{' '.join(map(str, command))} exited with {result.returncode}:\n"
                      f"{result.stdout[-3000:]}{result.stderr[-3000:]}")
    return result


def installed_version():
    result = run("dpkg-query", "-W", "-f=${Status} ${Version}", PACKAGE, check=False)
    return result.stdout.split()[-1] if result.stdout.startswith("install ok installed") else None


def build_package(build_dir, out_dir, version):
    run("cpack", "-G", "DEB", "-B", out_dir, cwd=build_dir, timeout=900)
    arch = run("dpkg", "--print-architecture").stdout.strip()
    deb = Path(out_dir) / f"{PACKAGE}_{version}_{arch}.deb"
    if not deb.is_file():
        raise Failure(f"cpack made {sorted(p.name for p in Path(out_dir).glob('*.deb'))}, expected {deb.name}")
    print(f"{deb.name}: {deb.stat().st_size / 1e6:.1f} MB")
    return deb, arch


def check_fields(deb, version, arch):
    fields = {k: run("dpkg-deb", "-f", deb, k).stdout.strip() for k in ("Package", "Version", "Architecture", "Depends")}
    expected = {"Package": PACKAGE, "Version": version, "Architecture": arch}
    wrong = {k: fields[k] for k, v in expected.items() if fields[k] != v}
    if wrong:
        raise Failure(f"control fields {wrong}, expected {expected}")
    print(f"Depends: {fields['Depends']}")
    return {d.split()[0] for d in re.split(r"\s*[,|]\s*", fields["Depends"]) if d}


def list_contents(deb):
    """Path -> (mode, owner) of every entry in the package's data archive."""
    entries = {}
    for line in run("dpkg-deb", "-c", deb).stdout.splitlines():
        m = re.match(r"(\S+) (\S+)\s+\d+ \S+ \S+ \./(.*?)(?: -> .*)?$", line)
        if not m:
            raise Failure(f"unreadable listing line: {line!r}")
        perms, owner, path = m.groups()
        entries["/" + path.rstrip("/")] = (perms, owner)
    return entries


def mode_of(perms):
    bits = 0
    for i, c in enumerate(perms[1:10]):
        if c != "-":
            bits |= 1 << (8 - i)
    return bits


def check_contents(entries):
    for path, (perms, _) in sorted(entries.items()):
        print(f"  {perms} {path}")
    missing = [p for p in EXPECTED if p not in entries]
    if missing:
        raise Failure(f"the package lacks {missing}")
    wrong = [f"{p} {oct(mode_of(entries[p][0]))} (expected {oct(m)})" for p, m in EXPECTED.items()
             if mode_of(entries[p][0]) != m]
    if wrong:
        raise Failure("wrong modes: " + ", ".join(wrong))
    outside = [p for p in entries if p not in ("/", "/usr") and not p.startswith("/usr/")]
    if outside:
        raise Failure(f"files outside /usr: {outside}")
    not_root = [p for p, (_, owner) in entries.items() if owner != "root/root"]
    if not_root:
        raise Failure(f"not owned by root: {not_root}")


def check_dependencies(deb, depends, work):
    """Every library an ELF file of the package needs comes from a package it depends on."""
    root = Path(work) / "extract"
    run("dpkg-deb", "-x", deb, root)
    libraries = {}
    for line in run("ldconfig", "-p").stdout.splitlines()[1:]:
        m = re.match(r"\s*(\S+) \(([^)]*)\) => (\S+)", line)
        if m and "x86-64" in m.group(2):
            libraries.setdefault(m.group(1), m.group(3))
    checked = 0
    for path in root.rglob("*"):
        if not path.is_file() or path.read_bytes()[:4] != b"\x7fELF":
            continue
        needed = re.findall(r"\(NEEDED\)\s+Shared library: \[([^\]]+)\]", run("readelf", "-d", path).stdout)
        for soname in needed:
            if soname not in libraries:
                raise Failure(f"{path.relative_to(root)} needs {soname}, which this system does not have")
            owner = run("dpkg", "-S", libraries[soname], check=False).stdout.split(":")[0]
            if not owner:
                owner = run("dpkg", "-S", os.path.realpath(libraries[soname])).stdout.split(":")[0]
            if owner not in depends:
                raise Failure(f"{path.relative_to(root)} needs {soname} from {owner}, which Depends lacks")
            checked += 1
    print(f"Depends covers all {checked} libraries the package's programs and plug-ins link")


def check_lintian(deb):
    if shutil.which("lintian") is None:
        print("lintian is not installed: not checked")
        return
    result = run("lintian", "--tag-display-limit", "0", deb, check=False)
    print(result.stdout + result.stderr)
    found = re.findall(r"^([EW]): \S+: (\S+)(.*)$", result.stdout, re.M)
    unexpected = [f"{level}: {tag}{rest}" for level, tag, rest in found if tag not in LINTIAN_ACCEPTED]
    if unexpected:
        raise Failure("lintian finds:\n" + "\n".join(unexpected))
    for tag, reason in LINTIAN_ACCEPTED.items():
        if any(t == tag for _, t, _ in found):
            print(f"accepted: {tag}: {reason}")


def system_only_env(work):
    """The environment of a user with no plug-ins of their own: a fresh HOME and XDG folders and no
    plug-in paths, so a host can find only what the package installed, never a copy in the caller's
    ~/.lv2 or ~/.vst3."""
    home = Path(work) / "home"
    env = {k: v for k, v in os.environ.items() if k not in ("LV2_PATH", "VST3_PATH")}
    env.update(HOME=str(home), XDG_CONFIG_HOME=str(home / ".config"), XDG_CACHE_HOME=str(home / ".cache"),
               XDG_DATA_HOME=str(home / ".local/share"))
    return env


def check_lv2info(work):
    """lilv, which LV2 hosts read bundles with, finds the installed LV2 on its default path, and the
    maintainer's details point nowhere they should not (an empty IRI resolves to the .ttl file)."""
    if shutil.which("lv2info") is None:
        print("lv2info (lilv-utils) is not installed: not checked")
        return
    text = run("lv2info", LV2_URI, env=system_only_env(work)).stdout
    bundle = re.search(r"^\s*Bundle:\s+(\S+)", text, re.M)
    expected = "file://" + LV2.replace(" ", "%20") + "/"
    if not bundle or bundle.group(1) != expected:
        raise Failure(f"lv2info finds the LV2 at {bundle.group(1) if bundle else 'no bundle'}, expected {expected}")
    bad = re.findall(r"^\s*Author (?:Email|Homepage):.*file:.*$", text, re.M)
    if bad:
        raise Failure(f"lv2info shows the .ttl file as the author's address: {bad}")
    print(f"lv2info reads {LV2_URI} from {bundle.group(1)}")


def check_in_ardour(harness):
    for fmt in ("vst3", "lv2"):
        result = run(sys.executable, harness, "--format", fmt, "--installed", "--host", "/usr/bin/kestrune-host",
                     "--vst3", VST3, "parameters", check=False, timeout=600)
        print(result.stdout + result.stderr)
        if result.returncode != 0:
            raise Failure(f"Ardour does not find the installed {fmt.upper()} with its parameters")


def check_removed(entries, existed_before):
    run("dpkg", "--purge", PACKAGE)
    if installed_version() is not None or run("dpkg-query", "-W", PACKAGE, check=False).returncode == 0:
        raise Failure("dpkg still knows the package after purging it")
    left = [p for p in entries if p not in existed_before and os.path.lexists(p)]
    left += [str(p) for p in Path("/var/lib/dpkg/info").glob(f"{PACKAGE}.*")]
    if left:
        raise Failure(f"left behind after purging: {left}")
    print(f"purged: none of the {len(set(entries) - existed_before)} entries the package added is left")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--ardour-harness", required=True)
    args = parser.parse_args()

    if installed_version() is not None:
        print(f"SKIP: {PACKAGE} {installed_version()} is installed on this machine; this test would remove it")
        return SKIP
    work = tempfile.mkdtemp(prefix="kestrune-package-")
    installed = False
    status = 1
    try:
        deb, arch = build_package(args.build_dir, work, args.version)
        depends = check_fields(deb, args.version, arch)
        entries = list_contents(deb)
        check_contents(entries)
        check_dependencies(deb, depends, work)
        check_lintian(deb)
        if os.geteuid() != 0:
            print("SKIP: installing the package needs root")
            return SKIP
        existed_before = {p for p in entries if os.path.lexists(p)}
        run("dpkg", "-i", deb)
        installed = True
        run("/usr/bin/kestrune-host", "--help")
        check_lv2info(work)
        if shutil.which("ardour7-lua") is None:
            print("SKIP: Ardour (ardour7-lua) is not installed: the installed plug-ins were not loaded")
            status = SKIP
        else:
            check_in_ardour(args.ardour_harness)
            status = 0
        installed = False
        check_removed(entries, existed_before)
    except (Failure, subprocess.TimeoutExpired) as e:
        print(f"FAIL: {e}")
        status = 1
    finally:
        if installed:
            run("dpkg", "--purge", PACKAGE, check=False)
        shutil.rmtree(work, ignore_errors=True)
    print("PASS" if status == 0 else "SKIP" if status == SKIP else "FAIL")
    return status


if __name__ == "__main__":
    sys.exit(main())
