#ifndef BENCH_CPUTIME_H
#define BENCH_CPUTIME_H

// CPU time this process has used so far, user and system, in milliseconds
// (cputime_unix.cpp, cputime_win.cpp).
double processCpuMs();

#endif // BENCH_CPUTIME_H
