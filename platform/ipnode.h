// IPv6 address of a host name.
//
// netsink relies on: `ipnode_by_name` giving 0 and the 16 bytes of the first
// IPv6 address of the name (a numeric IPv6 text, a name from the hosts file or
// the resolver), or -1 when the name has none; a name with IPv4 addresses only
// has none. Loopback addresses count, also on a machine whose only IPv6
// address is ::1.
#pragma once

int ipnode_by_name(const char *name, unsigned char addr[16]);
