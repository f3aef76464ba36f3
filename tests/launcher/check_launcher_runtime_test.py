#!/usr/bin/env python3
"""The launcher's link-map check (scripts/check-launcher-runtime.py) on small
maps written as GNU ld writes them: each runtime it keeps out is found when
kept, in whatever shape the map lists it; what is not in the file is not
counted; a map it cannot read fails the check instead of passing it."""
import importlib.util
import os
import subprocess
import sys
import tempfile
import unittest

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts",
                      "check-launcher-runtime.py")
loader_spec = importlib.util.spec_from_file_location("check_launcher_runtime", SCRIPT)
check = importlib.util.module_from_spec(loader_spec)
loader_spec.loader.exec_module(check)

GCC = "/usr/lib/gcc/x86_64-w64-mingw32/12-posix"
MINGW = GCC + "/../../../../x86_64-w64-mingw32/lib"

HEAD = f"""Archive member included to satisfy reference by file (symbol)

{GCC}/libstdc++.a(del_ops.o)
                              ../liblauncher_core.a(main_flow.cpp.obj) (operator delete(void*, unsigned long long))

Memory Configuration

Name             Origin             Length             Attributes
*default*        0x0000000000000000 0xffffffffffffffff

Linker script and memory map

LOAD CMakeFiles/launcher.dir/launcher/winmain.cpp.obj
                0x0000000140000000                __image_base__ = 0x140000000
"""

# The launcher's own code: 0x3000 bytes of .text, 0x800 of .rdata.
OWN = """
.text           0x0000000140001000     0x3800
 *(.text)
 .text          0x0000000140001000     0x3000 CMakeFiles/launcher.dir/launcher/winmain.cpp.obj
                0x0000000140001000                WinMain
 .text$_Z10AppendPathPcyPKc
                0x0000000140004000      0x800 ../liblauncher_core.a(paths.cpp.obj)
                0x0000000140004000                AppendPath(char*, unsigned long long, char const*)

.rdata          0x0000000140005000      0x800
 .rdata         0x0000000140005000      0x800 ../liblauncher_core.a(message_table.cpp.obj)
"""


def kept_text(section, size, source, symbols=()):
    """An input section kept in .text, as ld lists it (a long name puts its
    address, size and file on the next line), with the symbols it defines."""
    line = f" {section:<14} 0x0000000140009000 {size:#10x} {source}"
    if len(section) > 14:
        line = f" {section}\n                0x0000000140009000 {size:#10x} {source}"
    return "\n.text           0x0000000140009000     0x1000\n" + line + "\n" + "".join(
        f"                0x0000000140009000                {s}\n" for s in symbols)


def faults(*extra):
    return check.faults_of(*check.read_map(HEAD + OWN + "".join(extra)))


class FindsWhatIsKeptOut(unittest.TestCase):
    def test_a_clean_map_has_no_fault(self):
        kept, symbols = check.read_map(HEAD + OWN)
        self.assertEqual(sum(n for _, _, n in kept), 0x4000)
        self.assertIn(("winmain.cpp.obj", "WinMain"), symbols)
        self.assertEqual(check.faults_of(kept, symbols), [])

    def test_each_member_of_the_runtime_it_does_without(self):
        for member, what in [
            (f"{GCC}/libstdc++.a(del_ops.o)", "libstdc++ with its exception runtime is linked: libstdc++.a(del_ops.o)"),
            (f"{GCC}/libgcc_eh.a(unwind-seh.o)", "libstdc++ with its exception runtime is linked: libgcc_eh.a(unwind-seh.o)"),
            (f"{GCC}/libstdc++.a(cp-demangle.o)", "the demangler is linked: libstdc++.a(cp-demangle.o)"),
            (f"{MINGW}/libwinpthread.a(libwinpthread_la-thread.o)",
             "winpthread is linked: libwinpthread.a(libwinpthread_la-thread.o)"),
            (f"{MINGW}/libmingwex.a(lib64_libmingwex_a-mingw_pformat.o)",
             "mingw's C99 printf is linked: libmingwex.a(lib64_libmingwex_a-mingw_pformat.o)"),
            (f"{MINGW}/libmingwex.a(lib64_libmingwex_a-gdtoa.o)",
             "mingw's C99 printf is linked: libmingwex.a(lib64_libmingwex_a-gdtoa.o)"),
        ]:
            with self.subTest(member=member):
                self.assertEqual(faults(kept_text(".text", 0x40, member)), [what])

    def test_a_member_behind_a_long_section_name(self):
        found = faults(kept_text(".text$_ZNSt9exceptionD2Ev", 0x10, f"{GCC}/libstdc++.a(eh_exception.o)",
                                 ["std::exception::~exception()"]))
        self.assertEqual(found, ["libstdc++ with its exception runtime is linked: libstdc++.a(eh_exception.o)"])

    def test_the_symbols_that_bring_it_in_own_objects(self):
        for symbol, what in [("__gxx_personality_seh0", "libstdc++ with its exception runtime"),
                             ("_Unwind_Resume", "libstdc++ with its exception runtime"),
                             ("__cxa_throw", "libstdc++ with its exception runtime"),
                             ("__cxa_demangle", "the demangler"),
                             ("pthread_mutex_lock", "winpthread"),
                             ("__mingw_vsnprintf", "mingw's C99 printf")]:
            with self.subTest(symbol=symbol):
                self.assertEqual(faults(kept_text(".text", 0x40, "own.obj", [symbol])),
                                 [f"{what} is linked: {symbol} (in own.obj)"])

    def test_one_fault_a_member(self):
        # The demangler is named once, not again as libstdc++; every other
        # member of libstdc++ beside it still is.
        found = faults(kept_text(".text", 0x40, f"{GCC}/libstdc++.a(cp-demangle.o)", ["__cxa_demangle"]),
                       kept_text(".text", 0x40, f"{GCC}/libstdc++.a(vterminate.o)"))
        self.assertEqual(found, ["the demangler is linked: libstdc++.a(cp-demangle.o)",
                                 "libstdc++ with its exception runtime is linked: libstdc++.a(vterminate.o)"])

    def test_what_is_not_in_the_file_does_not_count(self):
        member = f"{GCC}/libstdc++.a(del_ops.o)"
        self.assertEqual(faults("\n.bss            0x000000014000a000      0x100\n"
                                f" .bss           0x000000014000a000       0x10 {member}\n",
                                "\n.debug_info     0x000000014000b000      0x100\n"
                                f" .debug_info    0x000000014000b000       0x80 {member}\n",
                                kept_text(".text", 0, member)), [])


class Verdict(unittest.TestCase):
    """The script as the suite runs it: the launcher's size against the map."""

    def run_check(self, size, map_text, kind="amd64"):
        with tempfile.TemporaryDirectory() as folder:
            launcher = os.path.join(folder, "launcher.exe")
            with open(launcher, "wb") as f:
                f.write(b"\0" * size)
            if map_text is not None:
                with open(os.path.join(folder, "launcher.map"), "w") as f:
                    f.write(map_text)
            done = subprocess.run([sys.executable, "-B", SCRIPT, launcher, kind], capture_output=True, text=True)
            return done.returncode, done.stdout.replace(folder + os.sep, "")

    def test_a_clean_launcher_passes(self):
        code, out = self.run_check(0x5000, HEAD + OWN)
        self.assertEqual(code, 0, out)
        self.assertIn("20,480 bytes (budget 98,304)", out)

    def test_a_kept_member_fails_it(self):
        code, out = self.run_check(0x5000, HEAD + OWN + kept_text(".text", 0x40, f"{GCC}/libstdc++.a(del_ops.o)"))
        self.assertEqual(code, 1)
        self.assertIn("libstdc++ with its exception runtime is linked: libstdc++.a(del_ops.o)", out)

    def test_over_its_budget(self):
        code, out = self.run_check(73729, HEAD + OWN.replace("0x3000", "0x9000"), "i386")
        self.assertEqual(code, 1)
        self.assertIn("73,729 bytes, over its budget of 73,728", out)

    def test_a_map_that_is_not_read_fails_it(self):
        # Read wrongly, a map shows nothing linked and so nothing wrong.
        code, out = self.run_check(0x20000, HEAD + OWN)
        self.assertEqual(code, 1)
        self.assertIn("accounts for less than half of the file", out)
        code, out = self.run_check(0x5000, OWN)
        self.assertEqual((code, out.strip()), (1, "launcher.exe: cannot be checked: no memory map in it"))
        code, out = self.run_check(0x5000, None)
        self.assertEqual(code, 1)
        self.assertIn("cannot be checked", out)


if __name__ == "__main__":
    unittest.main()
