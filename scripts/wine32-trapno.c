/* Linked into Wine's 32-bit loader when it runs under user-mode emulation.
 *
 * qemu-user hands a signal handler a context whose trap number is -1, and
 * Wine's i386 handlers decide from that number what went wrong: every access
 * violation then looks like an illegal instruction, so an exception handler
 * that catches an access violation never sees one and the program dies.
 * This library wraps sigaction: a handler installed for a fault signal is
 * called through a stub that first writes the trap number the processor would
 * have given, from the signal and its code. Where the number is already set
 * (on a real processor) nothing changes.
 *
 * Built with gcc -m32 -nostdlib against the i386 C library that Wine runs
 * with; no i386 headers exist on the host, hence the declarations below
 * (glibc's i386 layouts). */

typedef void (*action_fn)(int, void *, void *);

struct sigaction_i386 {
    action_fn handler;           /* sa_handler / sa_sigaction */
    unsigned long mask[32];      /* sigset_t: 1024 bits */
    int flags;
    void (*restorer)(void);
};

struct siginfo_head {
    int signo;
    int error;
    int code;
};

extern void *dlsym(void *handle, const char *symbol);
#define RTLD_NEXT ((void *)-1L)

enum { SIG_ILL = 4, SIG_TRAP = 5, SIG_BUS = 7, SIG_FPE = 8, SIG_SEGV = 11, SIG_COUNT = 32 };
enum { FLAG_SIGINFO = 4 };

/* ucontext_t on i386: uc_flags, uc_link, uc_stack (12 bytes), then the
 * general registers, of which the trap number is the thirteenth. */
enum { GREGS_OFFSET = 20, REG_TRAPNO = 12 };

/* Trap numbers as the processor reports them. */
enum {
    TRAP_DIVIDE = 0, TRAP_SINGLE_STEP = 1, TRAP_BREAKPOINT = 3, TRAP_OVERFLOW = 4,
    TRAP_ILLEGAL = 6, TRAP_PROTECTION = 13, TRAP_PAGE_FAULT = 14, TRAP_FPU = 16, TRAP_ALIGNMENT = 17
};

static action_fn wine_handlers[SIG_COUNT];

static int trap_number(int signo, int code)
{
    switch (signo) {
    case SIG_SEGV: return code == 0x80 /* SI_KERNEL */ ? TRAP_PROTECTION : TRAP_PAGE_FAULT;
    case SIG_ILL: return TRAP_ILLEGAL;
    case SIG_BUS: return code == 1 /* BUS_ADRALN */ ? TRAP_ALIGNMENT : TRAP_PAGE_FAULT;
    case SIG_FPE:
        if (code == 1 /* FPE_INTDIV */) return TRAP_DIVIDE;
        if (code == 2 /* FPE_INTOVF */) return TRAP_OVERFLOW;
        return TRAP_FPU;
    case SIG_TRAP: return code == 2 /* TRAP_TRACE */ ? TRAP_SINGLE_STEP : TRAP_BREAKPOINT;
    default: return -1;
    }
}

static void with_trap_number(int signo, void *info, void *context)
{
    int *gregs = (int *)((char *)context + GREGS_OFFSET);
    if (gregs[REG_TRAPNO] == -1 && info)
        gregs[REG_TRAPNO] = trap_number(signo, ((struct siginfo_head *)info)->code);
    wine_handlers[signo](signo, info, context);
}

static int is_fault_signal(int signo)
{
    return signo == SIG_SEGV || signo == SIG_ILL || signo == SIG_BUS || signo == SIG_FPE || signo == SIG_TRAP;
}

int sigaction(int signo, const struct sigaction_i386 *act, struct sigaction_i386 *old)
{
    static int (*real)(int, const struct sigaction_i386 *, struct sigaction_i386 *);
    if (!real)
        real = (int (*)(int, const struct sigaction_i386 *, struct sigaction_i386 *))dlsym(RTLD_NEXT, "sigaction");

    int wrapped = signo > 0 && signo < SIG_COUNT && is_fault_signal(signo);
    action_fn previous = wrapped ? wine_handlers[signo] : 0;
    struct sigaction_i386 changed;
    if (wrapped && act && (act->flags & FLAG_SIGINFO)) {
        changed = *act;
        changed.handler = with_trap_number;
        wine_handlers[signo] = act->handler;
        act = &changed;
    }
    int status = real(signo, act, old);
    if (status == 0 && old && wrapped && old->handler == with_trap_number)
        old->handler = previous;
    return status;
}
