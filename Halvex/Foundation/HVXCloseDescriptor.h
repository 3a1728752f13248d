#pragma once
// Closes a file descriptor.
//
// The web engine's library exports a close() of its own, and the linker binds a call to it
// rather than to the C library's, which is weak. A program that has the engine on its link line
// only as a dependency (the command-line `tavlo`, linked as needed) would then load the engine
// and some eighty libraries with it, for this one call: about 50 ms at every start.

#include <unistd.h>
#ifdef __linux__
#include <sys/syscall.h>
#endif

inline int hvxCloseDescriptor(int descriptor)
{
#ifdef __linux__
    return int(::syscall(SYS_close, descriptor));
#else
    return ::close(descriptor);
#endif
}
