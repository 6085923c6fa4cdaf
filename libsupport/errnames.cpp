// Symbolic errno names for the error lines. The table is built from the names
// at this platform's values; where two names share a value (EDEADLOCK and
// EDEADLK, ENOTSUP and EOPNOTSUPP on Linux) only the canonical one is listed.
#include "libsupport/support.h"

#include <array>
#include <cerrno>

namespace
{
struct ename {
    int value;
    const char *name;
};
#define E(x)                                                                                       \
    {                                                                                              \
        x, #x                                                                                      \
    }
constexpr ename names[] = {
    E(EPERM),
    E(ENOENT),
    E(ESRCH),
    E(EINTR),
    E(EIO),
    E(ENXIO),
    E(E2BIG),
    E(ENOEXEC),
    E(EBADF),
    E(ECHILD),
    E(EAGAIN),
    E(ENOMEM),
    E(EACCES),
    E(EFAULT),
    E(ENOTBLK),
    E(EBUSY),
    E(EEXIST),
    E(EXDEV),
    E(ENODEV),
    E(ENOTDIR),
    E(EISDIR),
    E(EINVAL),
    E(ENFILE),
    E(EMFILE),
    E(ENOTTY),
    E(ETXTBSY),
    E(EFBIG),
    E(ENOSPC),
    E(ESPIPE),
    E(EROFS),
    E(EMLINK),
    E(EPIPE),
    E(EDOM),
    E(ERANGE),
    E(ENOMSG),
    E(EIDRM),
    E(ECHRNG),
    E(EL2NSYNC),
    E(EL3HLT),
    E(EL3RST),
    E(ELNRNG),
    E(EUNATCH),
    E(ENOCSI),
    E(EL2HLT),
    E(EDEADLK),
    E(ENOLCK),
    E(ECANCELED),
    E(EDQUOT),
    E(EBADE),
    E(EBADR),
    E(EXFULL),
    E(ENOANO),
    E(EBADRQC),
    E(EBADSLT),
    E(EBFONT),
    E(ENOSTR),
    E(ENODATA),
    E(ETIME),
    E(ENOSR),
    E(ENONET),
    E(ENOPKG),
    E(EREMOTE),
    E(ENOLINK),
    E(EADV),
    E(ESRMNT),
    E(ECOMM),
    E(EPROTO),
    E(EMULTIHOP),
    E(EBADMSG),
    E(ENAMETOOLONG),
    E(EOVERFLOW),
    E(ENOTUNIQ),
    E(EBADFD),
    E(EREMCHG),
    E(ELIBACC),
    E(ELIBBAD),
    E(ELIBSCN),
    E(ELIBMAX),
    E(ELIBEXEC),
    E(EILSEQ),
    E(ENOSYS),
    E(ELOOP),
    E(ERESTART),
    E(ESTRPIPE),
    E(ENOTEMPTY),
    E(EUSERS),
    E(ENOTSOCK),
    E(EDESTADDRREQ),
    E(EMSGSIZE),
    E(EPROTOTYPE),
    E(ENOPROTOOPT),
    E(EPROTONOSUPPORT),
    E(ESOCKTNOSUPPORT),
    E(EOPNOTSUPP),
    E(EPFNOSUPPORT),
    E(EAFNOSUPPORT),
    E(EADDRINUSE),
    E(EADDRNOTAVAIL),
    E(ENETDOWN),
    E(ENETUNREACH),
    E(ENETRESET),
    E(ECONNABORTED),
    E(ECONNRESET),
    E(ENOBUFS),
    E(EISCONN),
    E(ENOTCONN),
    E(ESHUTDOWN),
    E(ETOOMANYREFS),
    E(ETIMEDOUT),
    E(ECONNREFUSED),
    E(EHOSTDOWN),
    E(EHOSTUNREACH),
    E(EALREADY),
    E(EINPROGRESS),
    E(ESTALE),
};
#undef E

constexpr int largest()
{
    int m = 0;
    for (auto &e : names) m = e.value > m ? e.value : m;
    return m;
}

// The table of names by value: ETable[0..Emax], none where no name has the value.
constexpr int Emax = largest();

constexpr std::array<const char *, Emax + 1> build()
{
    std::array<const char *, Emax + 1> t{};
    for (auto &e : names) t[e.value] = e.name;
    return t;
}

constexpr std::array<const char *, Emax + 1> ETable = build();
constexpr const char *Eundef = "<undef>";
} // namespace

const char *errno_id(int value)
{
    if (value < 0 || value > Emax || !ETable[value]) return Eundef;
    return ETable[value];
}
