#!/usr/bin/env python3
"""Checks Kaldrome as a user and a packager meet it: the installed tree, the
Debian package, and the package installed on this system.

    check_install.py tree    --build DIR --app-id ID --version V --icon-sizes 16,32,...
    check_install.py deb     --build DIR --app-id ID --version V --icon-sizes ...
                             --contact C --out DIR
    check_install.py install --deb-dir DIR --app-id ID --version V --icon-sizes ...

tree    installs the build into a staging folder (DESTDIR) and checks what lands
        there: exactly the files a user needs, the launcher, the metainfo and the
        manual page through their own validators, the icons, --version and --help
        without a display, that the staged program starts offscreen and that it
        opens its help.
deb     builds the .deb with CPack into --out and checks its fields, its
        dependencies against the libraries the program loads, its contents, and
        that lintian reports no error (and no warning that is not explained below).
install installs that .deb with apt-get, runs the installed program and opens its
        help, and removes the package again. It changes the system, so it runs only
        as root where CI=true; otherwise it says so and reports itself skipped.

Every step prints what it checked; the first failure ends the run with status 1.
"""

from __future__ import annotations

import argparse
import contextlib
import fcntl
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ET

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))

import xdriver  # noqa: E402

SKIPPED = 77

# Sizes the desktop needs at the least; more may be installed.
REQUIRED_ICON_SIZES = {16, 32, 48, 256}

# lintian warnings that may remain, each with the reason it is acceptable.
# None at present: any warning fails the check until it is fixed or explained.
EXPLAINED_WARNINGS: dict[str, str] = {}


class CheckError(Exception):
    pass


def step(text: str) -> None:
    print(f"-- {text}", flush=True)


def run(args, timeout=120, env=None, check=True, cwd=None) -> subprocess.CompletedProcess:
    try:
        result = subprocess.run(args, capture_output=True, timeout=timeout, env=env, cwd=cwd)
    except subprocess.TimeoutExpired as exc:
        raise CheckError(f"{args[0]} did not finish within {timeout} s") from exc
    if check and result.returncode != 0:
        raise CheckError(f"{' '.join(map(str, args))} failed ({result.returncode}):\n"
                         + (result.stdout + result.stderr).decode(errors="replace"))
    return result


def require(condition: bool, message: str) -> None:
    if not condition:
        raise CheckError(message)


def tool_env(**extra) -> dict:
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LANG": "C.UTF-8",
           "LC_ALL": "C.UTF-8", "HOME": os.environ.get("HOME", "/tmp")}
    env.update(extra)
    return env


# ---------------------------------------------------------------- what a user gets

def expected_files(app_id: str, sizes: list[int]) -> set[str]:
    files = {
        "usr/bin/kaldrome",
        "usr/share/kaldrome/kaldrome.hlp",
        f"usr/share/applications/{app_id}.desktop",
        f"usr/share/metainfo/{app_id}.metainfo.xml",
        "usr/share/man/man1/kaldrome.1.gz",
        "usr/share/doc/kaldrome/copyright",
        "usr/share/doc/kaldrome/changelog.gz",
    }
    files |= {f"usr/share/icons/hicolor/{s}x{s}/apps/{app_id}.png" for s in sizes}
    return files


def files_under(root: str) -> set[str]:
    found = set()
    for folder, _, names in os.walk(root):
        for name in names:
            found.add(os.path.relpath(os.path.join(folder, name), root))
    return found


def compare_files(actual: set[str], expected: set[str], where: str) -> None:
    extra, missing = sorted(actual - expected), sorted(expected - actual)
    require(not extra and not missing,
            f"{where}: unexpected files {extra}, missing files {missing}")


def desktop_entry(path: str) -> dict[str, str]:
    entry, group = {}, None
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\n")
            if line.startswith("["):
                group = line
            elif group == "[Desktop Entry]" and "=" in line and not line.startswith("#"):
                key, value = line.split("=", 1)
                entry[key] = value
    return entry


def check_desktop_file(path: str, app_id: str) -> dict[str, str]:
    step(f"desktop-file-validate {os.path.basename(path)}")
    result = run(["desktop-file-validate", path], check=False)
    report = (result.stdout + result.stderr).decode(errors="replace").strip()
    for line in report.splitlines():
        print(f"   {line}")
    # Hints are advice; errors and warnings are faults.
    require(result.returncode == 0 and not re.search(r"\b(error|warning):", report),
            f"desktop-file-validate reports problems in {path}")
    entry = desktop_entry(path)
    require(entry.get("Name") == "Kaldrome", f"Name is {entry.get('Name')!r}")
    require(entry.get("Exec") == "kaldrome", f"Exec is {entry.get('Exec')!r}")
    require(entry.get("Icon") == app_id, f"Icon {entry.get('Icon')!r} is not the application id")
    categories = set(entry.get("Categories", "").strip(";").split(";"))
    require({"Education", "Math", "Utility"} <= categories, f"Categories {categories}")
    require(entry.get("Comment", "") != "", "the launcher has no comment")
    return entry


def check_metainfo(path: str, app_id: str, version: str) -> None:
    step(f"appstreamcli validate --no-net {os.path.basename(path)}")
    result = run(["appstreamcli", "validate", "--no-net", "--no-color", path], check=False)
    report = (result.stdout + result.stderr).decode(errors="replace").strip()
    for line in report.splitlines():
        print(f"   {line}")
    require(result.returncode == 0, f"appstreamcli rejects {path}")
    component = ET.parse(path).getroot()
    require(component.findtext("id") == app_id, "the metainfo id is not the application id")
    launchable = component.find("launchable[@type='desktop-id']")
    require(launchable is not None and launchable.text == f"{app_id}.desktop",
            "the metainfo does not launch the desktop file")
    releases = [r.get("version") for r in component.findall("releases/release")]
    require(releases[:1] == [version], f"newest release {releases[:1]}, not {version}")
    require(component.find("screenshots/screenshot/image") is not None, "no screenshot")
    require(component.find("content_rating") is not None, "no content rating")


def check_manual(path: str, version: str) -> None:
    step(f"man --warnings -l {os.path.basename(path)}")
    env = tool_env(MANWIDTH="80", MAN_KEEP_FORMATTING="0")
    result = run(["man", "--warnings", "-E", "UTF-8", "-l", path], env=env, check=False)
    warnings = result.stderr.decode(errors="replace").strip()
    require(result.returncode == 0 and not warnings, f"man reports: {warnings}")
    text = re.sub(r".\x08", "", result.stdout.decode(errors="replace"))
    for heading in ("NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "KEYS", "FILES", "ENVIRONMENT",
                    "EXIT STATUS"):
        require(re.search(rf"^{heading}$", text, re.M) is not None, f"the manual lacks {heading}")
    for needed in (f"Kaldrome {version}", "--version", "LC_NUMERIC", "Ctrl+C", "Create File",
                   # where the package keeps the help file
                   "/usr/share/kaldrome/kaldrome.hlp"):
        require(needed in text, f"the manual does not mention {needed!r}")


def check_icons(root: str, app_id: str, sizes: list[int]) -> None:
    step(f"icons at {', '.join(map(str, sizes))} px")
    require(REQUIRED_ICON_SIZES <= set(sizes), f"icon sizes {sizes} lack some of "
            f"{sorted(REQUIRED_ICON_SIZES)}")
    reference = None
    for size in sizes:
        path = os.path.join(root, f"usr/share/icons/hicolor/{size}x{size}/apps/{app_id}.png")
        kind, width, height = run(["identify", "-format", "%m %w %h", path]).stdout.decode().split()
        require((kind, int(width), int(height)) == ("PNG", size, size),
                f"{path} is a {width}x{height} {kind}")
        listing = run(["convert", path, "-unique-colors", "-depth", "8", "txt:-"]).stdout.decode()
        colours = set(re.findall(r"#[0-9A-F]{6}", listing))
        # Sharp at every size: the two colours of the drawing and no blend of them.
        require(len(colours) == 2, f"{size} px icon has {len(colours)} colours, not 2: blurred")
        reference = reference or colours
        require(colours == reference, f"{size} px icon has other colours than the others")


def check_answers(binary: str, version: str) -> None:
    step(f"{binary} --version / --help without a display")
    env = tool_env()  # no DISPLAY, no WAYLAND_DISPLAY, no QT_QPA_PLATFORM
    result = run([binary, "--version"], env=env, timeout=30, check=False)
    require(result.returncode == 0, f"--version exits with {result.returncode}: {result.stderr!r}")
    require(result.stdout == f"Kaldrome {version}\n".encode(),
            f"--version prints {result.stdout!r}")
    result = run([binary, "--help"], env=env, timeout=30, check=False)
    require(result.returncode == 0 and result.stdout.startswith(b"Usage: kaldrome"),
            f"--help exits with {result.returncode} and prints {result.stdout[:80]!r}")
    require(result.stderr == b"", f"--help writes to stderr: {result.stderr!r}")


def check_starts_offscreen(binary: str) -> None:
    """The program starts with Qt's offscreen platform, without any display,
    and is still running a moment later."""
    step(f"{binary} starts offscreen")
    with tempfile.TemporaryDirectory(prefix="kaldrome-offscreen-") as home:
        runtime = os.path.join(home, "runtime")
        os.mkdir(runtime, 0o700)
        env = tool_env(QT_QPA_PLATFORM="offscreen", HOME=home, XDG_RUNTIME_DIR=runtime)
        proc = subprocess.Popen([binary], env=env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            exited = proc.wait(timeout=3)
        except subprocess.TimeoutExpired:
            exited = None
        finally:
            proc.kill()
            _, err = proc.communicate(timeout=10)
        require(exited is None, f"the program ended with status {exited}: {err[-500:]!r}")
        require(b"Could not" not in err and b"failed" not in err,
                f"the program complains: {err[-500:]!r}")


def check_no_build_paths(binary: str, build: str | None) -> None:
    step("no run path into the build folder")
    dynamic = run(["readelf", "-d", binary]).stdout.decode(errors="replace")
    paths = re.findall(r"\((?:RUNPATH|RPATH)\).*\[(.*)\]", dynamic)
    require(not paths or (build and not any(build in p for p in paths)),
            f"the installed program searches libraries in {paths}")


def check_program_opens_help(binary: str, desktop: dict[str, str]) -> None:
    """Starts the program on its own X display (no screen), opens its help with
    F1, and reads the text the help window shows through the clipboard."""
    step(f"{binary} opens its help")
    missing = xdriver.missing_tools()
    require(not missing, "missing tools: " + ", ".join(missing))
    work = tempfile.mkdtemp(prefix="kaldrome-installed-")
    server = xdriver.XServer(work)
    try:
        server.start()
        program = xdriver.Program(server, binary, work)
        program.start()
        # The running window names the class that its launcher declares.
        wm_class = server.tool("xprop", "-id", program.window, "WM_CLASS")
        require(f'"{desktop["StartupWMClass"]}"' in wm_class,
                f"window class {wm_class.strip()} does not match the launcher's "
                f"StartupWMClass={desktop['StartupWMClass']}")
        require("_NET_WM_ICON(CARDINAL)" in server.tool("xprop", "-id", program.window,
                                                         "_NET_WM_ICON"),
                "the window shows no icon")
        program.key("F1")
        viewer = program.wait_for_window("Kaldrome Help", 15)
        program.focus(viewer)
        geometry = program.geometry(viewer)
        server.tool("xdotool", "mousemove", "--window", viewer, str(geometry.width // 2),
                    str(geometry.height - 20), "click", "1")
        program.set_clipboard_sentinel("sentinel")
        program.key("ctrl+a", "ctrl+c")
        text = program.wait_clipboard_change(b"sentinel", 10).decode(errors="replace")
        require("could not be" not in text and "not a Kaldrome help file" not in text,
                f"the help window reports: {text[:300]}")
        require("Keyboard summary" in text and "Entering a number" in text,
                f"the help window shows something else: {text[:300]}")
        require(program.alive(), "the program ended")
    except xdriver.DriverError as exc:
        raise CheckError(f"driving {binary}: {exc} (work folder {work})") from exc
    finally:
        server.stop()
        xdriver.cleanup()
    shutil.rmtree(work, ignore_errors=True)


# ---------------------------------------------------------------- the checks

def check_tree(args) -> None:
    stage = tempfile.mkdtemp(prefix="kaldrome-stage-")
    try:
        step(f"cmake --install {args.build} --prefix /usr into {stage}")
        run(["cmake", "--install", args.build, "--prefix", "/usr"],
            env=dict(os.environ, DESTDIR=stage))
        compare_files(files_under(stage), expected_files(args.app_id, args.sizes),
                      "installed tree")
        usr = os.path.join(stage, "usr")
        binary = os.path.join(usr, "bin/kaldrome")
        require(os.access(binary, os.X_OK), "the installed program is not executable")
        desktop = check_desktop_file(
            os.path.join(usr, f"share/applications/{args.app_id}.desktop"), args.app_id)
        check_metainfo(os.path.join(usr, f"share/metainfo/{args.app_id}.metainfo.xml"),
                       args.app_id, args.version)
        check_manual(os.path.join(usr, "share/man/man1/kaldrome.1.gz"), args.version)
        check_icons(stage, args.app_id, args.sizes)
        check_answers(binary, args.version)
        check_starts_offscreen(binary)
        check_no_build_paths(binary, os.path.abspath(args.build))
        check_program_opens_help(binary, desktop)
    finally:
        shutil.rmtree(stage, ignore_errors=True)


def deb_path(folder: str, version: str) -> str:
    arch = run(["dpkg", "--print-architecture"]).stdout.decode().strip()
    return os.path.join(folder, f"kaldrome_{version}_{arch}.deb")


def owning_packages(binary: str) -> dict[str, str]:
    """Each shared library the program needs, with the package that holds it."""
    needed = re.findall(r"\(NEEDED\).*\[(.*)\]", run(["readelf", "-d", binary]).stdout.decode())
    cache = run(["ldconfig", "-p"]).stdout.decode()
    owners = {}
    for soname in needed:
        match = re.search(rf"^\s*{re.escape(soname)} \(.*x86-64.*\) => (\S+)", cache, re.M) \
            or re.search(rf"^\s*{re.escape(soname)} .* => (\S+)", cache, re.M)
        require(match is not None, f"{soname} is not on this system")
        path = match.group(1)
        result = run(["dpkg", "-S", path], check=False)
        if result.returncode != 0:  # the cache may name a path through a symbolic link
            result = run(["dpkg", "-S", os.path.realpath(path)])
        owners[soname] = result.stdout.decode().split(":")[0].strip()
    return owners


def check_deb(args) -> None:
    os.makedirs(args.out, exist_ok=True)
    for old in glob.glob(os.path.join(args.out, "*.deb")):
        os.remove(old)
    step(f"cpack -G DEB into {args.out}")
    run(["cpack", "-G", "DEB", "--config", os.path.join(args.build, "CPackConfig.cmake"),
         "-B", args.out], timeout=600)
    deb = deb_path(args.out, args.version)
    require(os.path.exists(deb), f"cpack made no {os.path.basename(deb)}: "
            f"{os.listdir(args.out)}")
    shutil.rmtree(os.path.join(args.out, "_CPack_Packages"), ignore_errors=True)

    step("control fields")
    fields = {}
    for name in ("Package", "Version", "Architecture", "Maintainer", "Section", "Priority",
                 "Homepage", "Depends", "Description", "Installed-Size"):
        fields[name] = run(["dpkg-deb", "-f", deb, name]).stdout.decode().strip()
        print(f"   {name}: {fields[name].splitlines()[0] if fields[name] else ''}")
    arch = run(["dpkg", "--print-architecture"]).stdout.decode().strip()
    wanted = {"Package": "kaldrome", "Version": args.version, "Architecture": arch,
              "Maintainer": args.contact, "Section": "math", "Priority": "optional"}
    for name, value in wanted.items():
        require(fields[name] == value, f"{name} is {fields[name]!r}, not {value!r}")
    synopsis, _, long_description = fields["Description"].partition("\n")
    require(synopsis and not synopsis.endswith(".") and "kaldrome" not in synopsis.lower(),
            f"synopsis {synopsis!r}")
    require(len(long_description.split()) > 20, "the long description is missing")
    depends = {d.split("(")[0].strip() for group in fields["Depends"].split(",")
               for d in group.split("|")}
    for package in ("qt6-qpa-plugins", "fonts-liberation"):
        require(package in depends, f"Depends lacks {package}: {fields['Depends']}")

    unpacked = tempfile.mkdtemp(prefix="kaldrome-deb-")
    try:
        run(["dpkg-deb", "-x", deb, unpacked])
        binary = os.path.join(unpacked, "usr/bin/kaldrome")
        step("dependencies cover every library the program loads")
        for soname, package in owning_packages(binary).items():
            require(package in depends, f"{soname} comes from {package}, which Depends lacks")
            print(f"   {soname}: {package}")
        step("contents, owners and modes")
        listing = run(["dpkg-deb", "-c", deb]).stdout.decode().splitlines()
        files = set()
        for line in listing:
            mode, owner, _, _, _, path = line.split(None, 5)
            require(owner == "root/root", f"{path} belongs to {owner}")
            if mode.startswith("-"):
                path = path[2:] if path.startswith("./") else path
                files.add(path)
                want = "-rwxr-xr-x" if path.startswith("usr/bin/") else "-rw-r--r--"
                require(mode == want, f"{path} has mode {mode}, not {want}")
            else:
                require(mode in ("drwxr-xr-x",), f"{path} has mode {mode}")
        compare_files(files, expected_files(args.app_id, args.sizes), "package")
        sections = run(["readelf", "-S", binary]).stdout.decode()
        require(".symtab" not in sections, "the packaged program is not stripped")
    finally:
        shutil.rmtree(unpacked, ignore_errors=True)

    step("lintian")
    result = run(["lintian", "--display-info", "--tag-display-limit", "0", deb], timeout=600,
                 check=False, env=tool_env())
    report = (result.stdout + result.stderr).decode(errors="replace").strip()
    tags = re.findall(r"^([EWIXPO]): kaldrome[^:]*: (\S+)(.*)$", report, re.M)
    for kind, tag, rest in tags:
        note = EXPLAINED_WARNINGS.get(tag, "")
        print(f"   {kind}: {tag}{rest}" + (f"   [{note}]" if note and kind == "W" else ""))
    errors = [t for k, t, _ in tags if k == "E"]
    unexplained = [t for k, t, _ in tags if k == "W" and t not in EXPLAINED_WARNINGS]
    require(result.returncode in (0, 2) or tags, f"lintian did not run: {report}")
    require(not errors, f"lintian reports errors: {errors}")
    require(not unexplained, f"lintian warnings without an explanation here: {unexplained}")
    print(f"   {os.path.basename(deb)}: no errors, {len(tags)} tags in all")


@contextlib.contextmanager
def machine_lock():
    """One package test at a time on this machine (others may run their own)."""
    with open(os.path.join(tempfile.gettempdir(), "kaldrome-package-test.lock"), "w") as lock:
        deadline = time.monotonic() + 600
        while True:
            try:
                fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
                break
            except BlockingIOError:
                if time.monotonic() > deadline:
                    raise CheckError("another package test held the lock for 10 minutes")
                time.sleep(1)
        try:
            yield
        finally:
            fcntl.flock(lock, fcntl.LOCK_UN)


def installed_version() -> str | None:
    result = run(["dpkg-query", "-W", "-f", "${Status} ${Version}", "kaldrome"], check=False)
    text = result.stdout.decode()
    return text.split()[-1] if result.returncode == 0 and " installed " in text else None


def apt_get(*args: str) -> None:
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    run(["apt-get", "-y", "-q", "-o", "DPkg::Lock::Timeout=300", *args], timeout=900, env=env)


def check_install(args) -> int:
    if os.environ.get("CI") != "true" or os.geteuid() != 0:
        print("check_install: SKIPPED: installing the .deb system-wide runs only where "
              "CI=true, as root (it changes the machine); run it so to include it", flush=True)
        return SKIPPED
    deb = deb_path(args.deb_dir, args.version)
    require(os.path.exists(deb), f"no package at {deb}: the deb check makes it")
    with machine_lock():
        before = installed_version()
        if before is not None:
            print(f"check_install: SKIPPED: kaldrome {before} is already installed on this "
                  "machine; the test leaves that copy alone", flush=True)
            return SKIPPED
        # apt's download user must be able to read the file.
        share = tempfile.mkdtemp(prefix="kaldrome-apt-")
        os.chmod(share, 0o755)
        local = os.path.join(share, os.path.basename(deb))
        shutil.copyfile(deb, local)
        os.chmod(local, 0o644)
        try:
            step(f"apt-get install {local}")
            apt_get("install", "--no-install-recommends", local)
            require(installed_version() == args.version, "the package is not installed")
            step("kaldrome --version from the PATH")
            result = run(["kaldrome", "--version"], env=tool_env(), timeout=30)
            require(result.stdout == f"Kaldrome {args.version}\n".encode(),
                    f"installed kaldrome --version prints {result.stdout!r}")
            listing = run(["dpkg", "-L", "kaldrome"]).stdout.decode().split()
            listed = {path.lstrip("/") for path in listing}
            expected = expected_files(args.app_id, args.sizes)
            require(expected <= listed, f"dpkg lists no {sorted(expected - listed)}")
            # Slim systems tell dpkg to leave out manuals and documents; all else must be there.
            docs = ("usr/share/man/", "usr/share/doc/")
            absent = [f for f in expected if not os.path.isfile("/" + f)]
            require(all(f.startswith(docs) for f in absent), f"not installed: {sorted(absent)}")
            desktop = check_desktop_file(f"/usr/share/applications/{args.app_id}.desktop",
                                         args.app_id)
            if "usr/share/man/man1/kaldrome.1.gz" in absent:
                print("   this system keeps no manual pages (dpkg path-exclude)")
            else:
                found = run(["man", "-w", "kaldrome"], check=False).stdout.decode().strip()
                require(found == "/usr/share/man/man1/kaldrome.1.gz",
                        f"man -w kaldrome finds {found!r}")
            check_starts_offscreen("/usr/bin/kaldrome")
            check_program_opens_help("/usr/bin/kaldrome", desktop)
        finally:
            step("apt-get purge kaldrome")
            apt_get("purge", "kaldrome")
            shutil.rmtree(share, ignore_errors=True)
        require(installed_version() is None and not os.path.exists("/usr/bin/kaldrome"),
                "the package was not removed")
        require(not os.path.exists("/usr/share/kaldrome"), "/usr/share/kaldrome was left behind")
    return 0


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("what", choices=("tree", "deb", "install"))
    parser.add_argument("--build")
    parser.add_argument("--app-id", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--icon-sizes", required=True, help="sizes separated by commas")
    parser.add_argument("--contact")
    parser.add_argument("--out")
    parser.add_argument("--deb-dir")
    args = parser.parse_args(argv)
    args.sizes = sorted(int(s) for s in args.icon_sizes.split(","))
    started = time.monotonic()
    try:
        if args.what == "tree":
            check_tree(args)
        elif args.what == "deb":
            check_deb(args)
        else:
            status = check_install(args)
            if status:
                return status
    except CheckError as exc:
        print(f"check_install {args.what}: FAILED: {exc}", flush=True)
        return 1
    print(f"check_install {args.what}: passed in {time.monotonic() - started:.0f} s", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
