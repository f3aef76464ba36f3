#!/usr/bin/env python3
"""walk-docs.py PAYLOAD WORK ARCHIVE... [--wine-run WINE_RUN] [--substitute NAME=FILE...]

Walks through the documents the release archives ship, as a publisher would,
from each archive alone: for each shipped document with commands for the
archive's system (fenced blocks marked `sh` in the Linux archive, `bat` in the
Windows one), the archive is unpacked into an empty folder, the trial's ten
files are copied in as `PAYLOAD`, a throw-away certificate is made, and the
document's blocks run there in order, as written. The blocks are read from the
shipped copies, so the documents and this walk cannot drift apart. Every
shipped document must also name only what the archives hold: every `.md` and
every path (a name with a slash) written as code in its text must be a file
or folder of one of them, by its path from the archive's top or beside the
document; and no `<build>`.

Linux: the blocks run as one bash script (`set -e`: a failing line fails the
walk). Windows: the blocks run as real .bat files under Wine (`cmd /c`), each
command followed by an errorlevel check. signtool does not exist under Wine,
so each signtool line is run as an `echo` of itself: cmd expands it (the
`for %%p` loop included) and this script signs what it asked for with
osslsigncode and the same certificate (`/f` a .pfx, `/p` its password), then
runs the .bat's next part. (Wine's cmd runs what follows `||` whatever the
exit status, so the documents' .bat lines check with `if errorlevel 1`, as
Windows runs them too.) --substitute replaces a file of the unpacked
Windows archive (an x86-64 bundletool.exe where the host cannot run i686
programs).
"""
import argparse
import os
import re
import shlex
import shutil
import subprocess
import sys
import tarfile
import zipfile

PASSWORD = "PASSWORD"  # the guide's placeholder, made the .pfx's password


def fail(message):
    sys.exit(f"walk-docs: {message}")


def blocks(text, language):
    """The lines of every fenced block whose info string is `language`."""
    lines, inside = [], None
    for line in text.splitlines():
        fence = re.match(r"^```\s*(\S*)", line)
        if fence and inside is None:
            inside = fence.group(1)
        elif fence:
            inside = None
        elif inside == language:
            lines.append(line)
    return lines


def unpack(archive, into):
    os.makedirs(into)
    if archive.endswith(".zip"):
        with zipfile.ZipFile(archive) as z:
            z.extractall(into)
    else:
        with tarfile.open(archive) as t:
            t.extractall(into)
    tops = os.listdir(into)
    if len(tops) != 1:
        fail(f"{archive}: unpacks into {len(tops)} folders, not one")
    return os.path.join(into, tops[0])


def documents(top):
    found = []
    for here, _, files in os.walk(top):
        found += [os.path.join(here, f) for f in sorted(files) if f.endswith(".md")]
    return sorted(found)


def check_references(doc, tops):
    """A shipped document names only what the archives hold (beside it, or by
    a path from an archive's top), and no build tree."""
    text = open(doc, encoding="utf-8").read()
    prose = re.sub(r"^```.*?^```", "", text, flags=re.S | re.M)
    named = set(re.findall(r"[\w./-]+\.md\b", prose))
    named |= {span for span in re.findall(r"`([^`\s]+)`", prose) if re.fullmatch(r"[\w.-]+(/[\w.-]*)+", span)}
    folder, name = os.path.dirname(doc), os.path.basename(doc)
    faults = [f"names {ref}, which no archive holds" for ref in sorted(named)
              if not any(os.path.exists(os.path.join(base, ref)) for base in [folder] + tops)]
    if "<build>" in text:
        faults.append("names a build folder (<build>)")
    return [f"{name}: {fault}" for fault in faults]


def run(command, cwd, what):
    print("walk-docs: $ " + " ".join(shlex.quote(c) for c in command), flush=True)
    result = subprocess.run(command, cwd=cwd)
    if result.returncode != 0:
        fail(f"{what}: exit status {result.returncode}")


def make_certificate(into):
    quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "key.pem",
                    "-out", "cert.pem", "-days", "2", "-subj", "/CN=walk-docs"], cwd=into, **quiet)
    subprocess.run(["openssl", "pkcs12", "-export", "-inkey", "key.pem", "-in", "cert.pem",
                    "-out", "publisher.pfx", "-passout", "pass:" + PASSWORD], cwd=into, **quiet)


def walk_linux(doc, lines, folder):
    script = os.path.join(folder, "..", "walk.sh")
    with open(script, "w") as f:
        f.write("set -e\n" + "\n".join(lines) + "\n")
    run(["bash", "-x", os.path.abspath(script)], folder, f"{doc}: the sh lines")


def bat_commands(lines):
    """The lines as commands: a line ending in ^ continues on the next."""
    commands, current = [], []
    for line in lines:
        current.append(line)
        if not line.rstrip().endswith("^"):
            commands.append(current)
            current = []
    if current:
        commands.append(current)
    return commands


def sign_as_asked(folder, requests):
    """Signs with osslsigncode what cmd's echo of a signtool line asked for."""
    with open(requests, encoding="utf-8", errors="replace") as f:
        asked = [line.strip() for line in f if line.strip()]
    os.remove(requests)
    for request in asked:
        words = shlex.split(request.replace("\\", "/"))
        if words[:2] != ["signtool", "sign"]:
            fail(f"a signtool line this walk cannot stand in for: {request}")
        options, rest = {}, words[2:]
        while len(rest) > 1 and rest[0] in ("/fd", "/f", "/p"):
            options[rest[0]] = rest[1]
            rest = rest[2:]
        if len(rest) != 1 or "/f" not in options:
            fail(f"a signtool line this walk cannot stand in for: {request}")
        target = rest[0]
        command = ["osslsigncode", "sign", "-pkcs12", options["/f"], "-in", target, "-out", target + ".signed"]
        if "/p" in options:
            command[4:4] = ["-pass", options["/p"]]
        if options.get("/fd", "SHA256").upper() != "SHA256":
            fail(f"a digest this walk does not stand in for: {request}")
        run(command, folder, f"signing {target} in signtool's place")
        os.replace(os.path.join(folder, target + ".signed"), os.path.join(folder, target))
    return len(asked)


def walk_windows(doc, lines, folder, wine_run):
    part, commands = [], bat_commands(lines)
    parts = 0
    for number, command in enumerate(commands):
        text = "\r\n".join(command)
        signing = re.search(r"\bsigntool\b", text) is not None
        if signing:
            text = re.sub(r"\bsigntool\b", "echo signtool", text, count=1) + ">>signtool-calls.txt"
        part += [text, "@if errorlevel 1 exit /b 1"]
        if signing or number == len(commands) - 1:
            parts += 1
            name = f"walk-{parts}.bat"
            with open(os.path.join(folder, name), "w", newline="") as f:
                f.write("\r\n".join(part) + "\r\n")
            run([wine_run, "cmd", "/c", name], folder, f"{doc}: the bat lines in {name}")
            if signing:
                requests = os.path.join(folder, "signtool-calls.txt")
                if not os.path.exists(requests) or sign_as_asked(folder, requests) == 0:
                    fail(f"{doc}: {name}: its signtool line asked for no signature")
            part = []


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("payload")
    parser.add_argument("work")
    parser.add_argument("archives", nargs="+")
    parser.add_argument("--wine-run")
    parser.add_argument("--substitute", action="append", default=[])
    args = parser.parse_args()
    archives = [os.path.abspath(archive) for archive in args.archives]
    wine_run = args.wine_run and os.path.abspath(args.wine_run)

    shipped = [unpack(archive, os.path.join(args.work, "docs", str(n))) for n, archive in enumerate(archives)]
    faults = [f"{os.path.basename(archive)}: {fault}" for archive, top in zip(archives, shipped)
              for doc in documents(top) for fault in check_references(doc, shipped)]
    if faults:
        fail("; ".join(faults))

    for number, (archive, top) in enumerate(zip(archives, shipped)):
        windows = archive.endswith(".zip")
        language = "bat" if windows else "sh"
        if windows and not args.wine_run:
            fail(f"{archive}: a Windows archive needs --wine-run")
        walked = 0
        for doc in documents(top):
            name = os.path.basename(doc)
            lines = blocks(open(doc, encoding="utf-8").read(), language)
            if not lines:
                continue
            folder = unpack(archive, os.path.join(args.work, f"{number}-{name}"))
            shutil.copytree(args.payload, os.path.join(folder, "PAYLOAD"))
            if windows:
                for substitute in args.substitute:
                    target, source = substitute.split("=", 1)
                    shutil.copyfile(source, os.path.join(folder, target))
            make_certificate(folder)
            print(f"walk-docs: {name} ({language}, {len(lines)} lines) in an empty folder holding "
                  f"{os.path.basename(archive)} unpacked, PAYLOAD and a throw-away certificate", flush=True)
            if windows:
                walk_windows(name, lines, folder, wine_run)
            else:
                walk_linux(name, lines, folder)
            walked += 1
        if walked == 0:
            fail(f"{os.path.basename(archive)}: no shipped document has {language} lines to walk")
        print(f"walk-docs: {os.path.basename(archive)}: {walked} documents walked through as written", flush=True)


if __name__ == "__main__":
    main()
