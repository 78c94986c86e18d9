// A stand-in for a name server that never answers, loaded into a program under test with
// LD_PRELOAD: every lookup of a name under "stalled.test" says so on standard error and then
// never returns; other names are looked up as usual.
#include <dlfcn.h>
#include <netdb.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

bool stalled(const char *node)
{
    static const char domain[] = ".stalled.test";
    const size_t length = node ? std::strlen(node) : 0;
    const size_t suffix = sizeof(domain) - 1;
    return length > suffix && std::strcmp(node + length - suffix, domain) == 0;
}

} // namespace

extern "C" int getaddrinfo(const char *node, const char *service, const struct addrinfo *hints,
                           struct addrinfo **result)
{
    if (stalled(node)) {
        std::fprintf(stderr, "stalledresolver: holding %s\n", node);
        std::fflush(stderr);
        for (;;)
            pause();
    }
    using Lookup = int (*)(const char *, const char *, const struct addrinfo *, struct addrinfo **);
    static const auto next = reinterpret_cast<Lookup>(dlsym(RTLD_NEXT, "getaddrinfo"));
    return next ? next(node, service, hints, result) : EAI_FAIL;
}
