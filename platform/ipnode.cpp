#include "platform/ipnode.h"

#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

int ipnode_by_name(const char *name, unsigned char addr[16])
{
    addrinfo hints{};
    hints.ai_family = AF_INET6;
    hints.ai_socktype = SOCK_STREAM;
    // No flags. Not AI_V4MAPPED: an IPv4-mapped address would take IPv4
    // clients and pass "on IPv6". Not AI_ADDRCONFIG: glibc does not count ::1
    // as a configured address, so "::1" would fail on a host without another
    // IPv6 address.
    addrinfo *res = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &res) != 0 || res == nullptr) return -1;
    // ai_addrlen is the whole socket address; the address part is 16 bytes.
    memcpy(addr, &reinterpret_cast<sockaddr_in6 *>(res->ai_addr)->sin6_addr, 16);
    freeaddrinfo(res);
    return 0;
}
