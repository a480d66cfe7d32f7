"""The shipped executables import only DLLs that every Windows 7 to 11 has,
and are built for the machine their build says."""
import re
import subprocess
import sys

ALLOWED = {"kernel32.dll", "user32.dll", "gdi32.dll", "gdiplus.dll", "ole32.dll", "oleaut32.dll",
           "shell32.dll", "shlwapi.dll", "comctl32.dll", "urlmon.dll", "wininet.dll", "msvcrt.dll",
           "bcrypt.dll", "crypt32.dll", "advapi32.dll"}
# The Universal CRT's forwarders ship with Windows 10 and with every updated Windows 7.
UCRT = re.compile(r"^api-ms-win-crt-[a-z0-9-]+\.dll$")


def main():
    objdump, machine, *exes = sys.argv[1:]
    failures = []
    for exe in exes:
        header = subprocess.run([objdump, "-f", exe], check=True, capture_output=True, text=True).stdout
        expected = "pei-i386" if machine == "i686" else "pei-x86-64"
        if expected not in header:
            failures.append("%s: not %s:\n%s" % (exe, expected, header))
        dump = subprocess.run([objdump, "-p", exe], check=True, capture_output=True, text=True).stdout
        dlls = sorted({m.lower() for m in re.findall(r"DLL Name: (\S+)", dump)})
        print("%s imports: %s" % (exe, ", ".join(dlls)))
        bad = [d for d in dlls if d not in ALLOWED and not UCRT.match(d)]
        if bad:
            failures.append("%s imports %s" % (exe, ", ".join(bad)))
        if "libstdc++-6.dll" in dlls or "libgcc_s_dw2-1.dll" in dlls or "libwinpthread-1.dll" in dlls:
            failures.append("%s needs MinGW runtime DLLs" % exe)
    if failures:
        print("\n".join(failures))
        return 1
    print("imports ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
