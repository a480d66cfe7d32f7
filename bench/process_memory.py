"""Memory figures of a running Wine process, from /proc (Linux only)."""
import os


def status_kib(name, field):
    """The given /proc status field ("VmRSS", "VmHWM", ...) in KiB, the
    largest among the processes whose command line names name (the shell
    and loader that start a Windows program name it too), or None."""
    found = None
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                if name.encode() not in f.read():
                    continue
            with open("/proc/%s/status" % pid) as f:
                for line in f:
                    if line.startswith(field + ":"):
                        found = max(found or 0, int(line.split()[1]))
        except OSError:
            continue
    return found
